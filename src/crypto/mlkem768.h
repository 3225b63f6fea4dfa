#pragma once
// ML-KEM-768 (FIPS 203, August 2024), the lattice half of the mlkem768x25519-sha256 key exchange. The hashes come
// from libcrypto; libcrypto failing to hash aborts, as a failing random source does: no key may come from it.
#include <cstddef>
#include <cstdint>

namespace crypto::mlkem768 {

// pk is FIPS 203's encapsulation key (t encoded in 12 bits per coefficient, then rho); sk its decapsulation key
// (the secret vector, pk, SHA3-256 of pk, z), so sk holds everything decaps needs.
inline constexpr std::size_t public_key_size = 1184, secret_key_size = 2400, ciphertext_size = 1088,
                             shared_secret_size = 32;

// Deterministic forms (FIPS 203 ML-KEM.KeyGen_internal / Encaps_internal) for known-answer tests.
void keypair_derand(const std::uint8_t d[32], const std::uint8_t z[32], std::uint8_t pk[public_key_size],
                    std::uint8_t sk[secret_key_size]);
// False when pk fails the encapsulation key check (FIPS 203 7.2: the modulus check).
bool encaps_derand(const std::uint8_t pk[public_key_size], const std::uint8_t m[32], std::uint8_t ct[ciphertext_size],
                   std::uint8_t ss[shared_secret_size]);
// Implicit rejection as FIPS 203 says; false only for a malformed secret key (hash check 7.3).
bool decaps(const std::uint8_t sk[secret_key_size], const std::uint8_t ct[ciphertext_size],
            std::uint8_t ss[shared_secret_size]);
// With randomness from crypto::random_fill (src/crypto/random.h).
void keypair(std::uint8_t pk[public_key_size], std::uint8_t sk[secret_key_size]);
bool encaps(const std::uint8_t pk[public_key_size], std::uint8_t ct[ciphertext_size],
            std::uint8_t ss[shared_secret_size]);

// The modulus check alone: every 12-bit coefficient of pk's vector t is below q = 3329.
bool public_key_valid(const std::uint8_t pk[public_key_size]);

}  // namespace crypto::mlkem768
