#pragma once
// Streamlined NTRU Prime sntrup761, the post-quantum half of the sntrup761x25519-sha512 key exchange. Bit-compatible
// with the round-3 submission (and so with OpenSSH): the same key, ciphertext and session-key bytes for the same
// random bytes. Decapsulation never fails: a forged ciphertext yields a key derived from the secret rho (implicit
// rejection). No allocation; the secret-dependent steps take the same path for every key and ciphertext.
#include <cstddef>
#include <cstdint>

namespace crypto::sntrup761 {

inline constexpr std::size_t public_key_size = 1158, secret_key_size = 1763, ciphertext_size = 1039,
                             shared_secret_size = 32;

// The random source: fills n bytes. Tests pass a deterministic one (the KAT generator); the plain forms below use
// crypto::random_fill (src/crypto/random.h). It is asked for one 32-bit word (4 bytes, read little-endian) per
// coefficient and for rho in one piece, as the submission's reference code asks, so that a deterministic generator
// reproduces the published known answers.
using random_bytes = void (*)(void* context, std::uint8_t* out, std::size_t n);

void keypair(std::uint8_t pk[public_key_size], std::uint8_t sk[secret_key_size], random_bytes rnd, void* context);
void enc(std::uint8_t ct[ciphertext_size], std::uint8_t ss[shared_secret_size], const std::uint8_t pk[public_key_size],
         random_bytes rnd, void* context);
void dec(std::uint8_t ss[shared_secret_size], const std::uint8_t ct[ciphertext_size],
         const std::uint8_t sk[secret_key_size]);
void keypair(std::uint8_t pk[public_key_size], std::uint8_t sk[secret_key_size]);
void enc(std::uint8_t ct[ciphertext_size], std::uint8_t ss[shared_secret_size], const std::uint8_t pk[public_key_size]);

}  // namespace crypto::sntrup761
