#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

#include "crypto/bignum.h"

namespace crypto {

// ---- RSA (SSH-1 session key) ----

struct rsa_public_key {
    uint32_t bits = 0;      // as announced in the message, not checked
    std::size_t bytes = 0;  // modulus length in bytes: (modulus bits + 7) / 8
    bignum modulus;
    bignum exponent;
};

struct rsa_parse_result {
    rsa_public_key key;
    std::size_t consumed;        // bytes of the message used
    std::size_t modulus_offset;  // where the modulus bytes (after their bit count) stand
    std::size_t modulus_length;
};

// uint32 bits, SSH-1 mpint exponent, SSH-1 mpint modulus.
std::optional<rsa_parse_result> parse_rsa_key(const uint8_t* p, std::size_t n);

// Moduli above this, and exponents above 64 bits on moduli over 3072 bits, are refused: they would only stall.
constexpr unsigned rsa_max_modulus_bits = 16384;

// PKCS#1 v1.5 block type 2, in place: buf holds n input bytes and has room for key.bytes; afterwards it holds the
// key.bytes-byte ciphertext. False (buffer untouched) when the modulus has no room for 11 bytes of padding or the
// key is unusable (even or oversized modulus, exponent below 3 or not below the modulus).
bool rsa_encrypt(uint8_t* buf, std::size_t n, const rsa_public_key& key);

// ---- Diffie-Hellman, group 1 (RFC 2409 section 6.2) ----

struct dh_group {
    bignum p, g, q, mask;  // q = p >> 1, mask = all ones as wide as q
};

dh_group dh_group1();
// 257 bits with bit 256 set, the rest from random_byte (eight bits per value, least significant first); drawn again
// while x <= 1 or x >= q.
bignum dh_choose_exponent(const dh_group& grp);
bignum dh_public_value(const dh_group& grp, const bignum& x);  // g^x mod p
// True when 1 < f < p - 1; anything else would give a trivial or out-of-group shared secret.
bool dh_valid_public(const dh_group& grp, const bignum& f);
// K = f^x mod p; empty when f is not a valid public value.
std::optional<bignum> dh_shared_secret(const dh_group& grp, const bignum& f, const bignum& x);

// ---- DSS (ssh-dss host keys) ----

struct dss_public_key {
    std::optional<bignum> p, q, g, y;
};

// string "ssh-dss", then mpints p, q, g, y. Empty when the type name is not exactly "ssh-dss" or p cannot be read;
// q, g or y that are missing, negative or over-long stay absent (and the key then verifies nothing).
std::optional<dss_public_key> parse_dss_key(const uint8_t* blob, std::size_t n);

// Signature blob: 40 bytes r || s, or string "ssh-dss", 4 bytes (the inner length, not compared), r, s. True only
// for a complete, well-formed key and 0 < r, s < q with the DSA equation holding over SHA-1(h).
bool dss_verify(const dss_public_key& key, const uint8_t* sig, std::size_t sig_len, const uint8_t h[20]);
// The same over data of any length (an exchange hash of SHA-2 size when ssh-dss meets a modern key exchange).
bool dss_verify(const dss_public_key& key, const uint8_t* sig, std::size_t sig_len, const uint8_t* data,
                std::size_t data_len);

constexpr unsigned dss_max_p_bits = 3072;  // the largest DSA size FIPS 186 defines
constexpr unsigned dss_max_q_bits = 256;

}  // namespace crypto
