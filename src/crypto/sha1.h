#pragma once
#include <cstddef>
#include <cstdint>

namespace crypto {

// A running SHA-1 hash. A plain value: copying it forks the hash (used for the version hash, the exchange hash and
// the precomputed HMAC blocks).
struct sha1_context {
    uint32_t h[5];
    uint8_t block[64];
    uint32_t used;      // bytes waiting in block
    uint32_t len_high;  // message length in bytes, high and low words
    uint32_t len_low;

    sha1_context() { init(); }
    void init();
    void update(const void* data, std::size_t n);
    // Writes the 20-byte digest; the context is spent afterwards (init again to reuse).
    void final(uint8_t out[20]);
    // SSH string: 32-bit big-endian length, then the bytes.
    void absorb_string(const void* data, std::size_t n);
};

constexpr std::size_t sha1_digest_size = 20;

void sha1(const void* data, std::size_t n, uint8_t out[20]);

}  // namespace crypto
