#pragma once
#include <cstddef>
#include <cstdint>

namespace crypto {

// The random source of the SSH engines. Bytes come from the operating system's CSPRNG; random_seed() keeps its place
// in the protocol flow (public-key message, KEXINIT) but only discards buffered bytes, it never makes output
// predictable.
void random_seed();
// A random value whose low 8 bits are uniformly distributed (they may be zero).
unsigned random_byte();
void random_fill(uint8_t* out, std::size_t n);

// Called when the operating system cannot supply random bytes; the default prints the reason and aborts. A handler
// that returns is followed by abort() as well: no key material may be made without entropy.
using random_failure_handler = void (*)(const char* reason);
void set_random_failure_handler(random_failure_handler h);

}  // namespace crypto
