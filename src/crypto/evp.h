#pragma once
// The SSH-2 algorithms beyond the fixed suite, all computed by OpenSSL's libcrypto 3: SHA-2 and HMAC, AES-CTR,
// AES-GCM and chacha20-poly1305 as OpenSSH frames them, X25519/ECDH/MODP key exchange and host-key signatures.
// No exception leaves this interface; every object wipes its secrets when it goes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Opaque OpenSSL types, so that including this header does not pull in OpenSSL's.
typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct evp_mac_ctx_st EVP_MAC_CTX;
typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace crypto::evp {

enum class hash_kind { sha1, sha256, sha384, sha512 };
std::size_t digest_length(hash_kind);
constexpr std::size_t max_digest_length = 64;

// A running hash; copying forks it. absorb_string writes the SSH string form (u32 length, bytes).
class hash_context {
public:
    explicit hash_context(hash_kind);
    hash_context(const hash_context&);
    hash_context& operator=(const hash_context&);
    ~hash_context();
    void update(const void* p, std::size_t n);
    void absorb_string(const void* p, std::size_t n);
    // Writes digest_length bytes; the context is spent. Returns 0 (and writes zeros) when OpenSSL failed.
    std::size_t final(std::uint8_t* out);
    hash_kind kind() const { return kind_; }

private:
    hash_kind kind_;
    EVP_MD_CTX* ctx_ = nullptr;
    bool ok_ = false;
};

// One-shot digest of a buffer; returns the digest length, 0 on failure.
std::size_t digest(hash_kind, const void* p, std::size_t n, std::uint8_t* out);

// HMAC keyed once; compute() MACs (u32 big-endian seq || data) into out (length() bytes).
class hmac {
public:
    hmac(hash_kind, const std::uint8_t* key, std::size_t key_len);
    ~hmac();
    hmac(const hmac&) = delete;
    hmac& operator=(const hmac&) = delete;
    bool ok() const { return ctx_ != nullptr; }
    std::size_t length() const;
    // On an unusable object (or an OpenSSL failure) out is filled with zeros, which verify() never accepts.
    void compute(std::uint32_t seq, const std::uint8_t* data, std::size_t n, std::uint8_t* out) const;
    bool verify(std::uint32_t seq, const std::uint8_t* data, std::size_t n, const std::uint8_t* mac) const;

private:
    bool run(std::uint32_t seq, const std::uint8_t* data, std::size_t n, std::uint8_t* out) const;
    hash_kind kind_;
    EVP_MAC_CTX* ctx_ = nullptr;  // keyed; re-initialised with the same key for every packet
};

// AES-CTR (128/192/256 by key length 16/24/32), the 128-bit counter carried across calls, in place.
class aes_ctr {
public:
    aes_ctr(const std::uint8_t* key, std::size_t key_len, const std::uint8_t iv[16]);
    ~aes_ctr();
    aes_ctr(const aes_ctr&) = delete;
    aes_ctr& operator=(const aes_ctr&) = delete;
    bool ok() const { return ctx_ != nullptr; }
    // An unusable object zeroes the buffer instead: plaintext must never leave looking encrypted.
    void apply(std::uint8_t* buf, std::size_t n);

private:
    EVP_CIPHER_CTX* ctx_ = nullptr;
};

// aes128-gcm@openssh.com / aes256-gcm@openssh.com (RFC 5647): 12-byte IV whose last 8 bytes are a counter that
// increases by one after every packet (seal or open). The 4-byte length is additional data (not encrypted).
class aes_gcm {
public:
    aes_gcm(const std::uint8_t* key, std::size_t key_len, const std::uint8_t iv[12]);
    ~aes_gcm();
    aes_gcm(const aes_gcm&) = delete;
    aes_gcm& operator=(const aes_gcm&) = delete;
    bool ok() const { return ctx_ != nullptr; }
    void seal(const std::uint8_t aad[4], std::uint8_t* buf, std::size_t n, std::uint8_t tag[16]);
    bool open(const std::uint8_t aad[4], std::uint8_t* buf, std::size_t n, const std::uint8_t tag[16]);
    // The same with additional data of any length (up to max_aad bytes).
    static constexpr std::size_t max_aad = 1024;
    void seal(std::span<const std::uint8_t> aad, std::uint8_t* buf, std::size_t n, std::uint8_t tag[16]);
    bool open(std::span<const std::uint8_t> aad, std::uint8_t* buf, std::size_t n, const std::uint8_t tag[16]);

private:
    bool crypt(bool enc, std::span<const std::uint8_t> aad, std::uint8_t* buf, std::size_t n, std::uint8_t* tag);
    EVP_CIPHER_CTX* ctx_ = nullptr;
    std::uint8_t iv_[12] = {};
};

// chacha20-poly1305@openssh.com: 64-byte key = K_2 (first 32, payload) and K_1 (last 32, length); nonce = the
// sequence number as 8 bytes big-endian; poly1305 key from the first block of the payload stream (counter 0),
// payload from counter 1; tag over the encrypted length and payload.
class chacha20_poly1305 {
public:
    explicit chacha20_poly1305(const std::uint8_t key[64]);
    ~chacha20_poly1305();
    chacha20_poly1305(const chacha20_poly1305&) = delete;
    chacha20_poly1305& operator=(const chacha20_poly1305&) = delete;
    bool ok() const { return main_ && header_; }
    std::uint32_t decrypt_length(std::uint32_t seq, const std::uint8_t enc_len[4]) const;
    // pkt holds 4 length bytes then n bytes; seal encrypts both in place and writes the tag (an unusable object
    // zeroes pkt and tag); open checks the tag over the still-encrypted bytes first, then decrypts the n bytes
    // after the length in place (pkt untouched when it returns false).
    void seal(std::uint32_t seq, std::uint8_t* pkt, std::size_t n, std::uint8_t tag[16]);
    bool open(std::uint32_t seq, std::uint8_t* pkt, std::size_t n, const std::uint8_t tag[16]);

private:
    bool poly_key(std::uint32_t seq, std::uint8_t out[32]);
    bool tag_of(const std::uint8_t key[32], const std::uint8_t* p, std::size_t n, std::uint8_t out[16]);
    EVP_CIPHER_CTX* main_ = nullptr;
    EVP_CIPHER_CTX* header_ = nullptr;
    EVP_MAC_CTX* poly_ = nullptr;
};

// Key exchange shares. public_value() is what goes on the wire (X25519: 32 bytes; ECDH: the uncompressed point
// 0x04||X||Y; MODP: the big-endian value of g^x mod p without a sign byte). shared() checks the peer's value
// (length, point on curve, 1 < f < p-1, not the all-zero X25519 output) and returns the shared secret as an
// unsigned big-endian number without leading zero bytes (X25519: the 32 bytes read big-endian, as OpenSSH
// uses them for the mpint K); empty on any failure.
class kex_share {
public:
    virtual ~kex_share() = default;
    virtual std::span<const std::uint8_t> public_value() const = 0;
    virtual std::optional<std::vector<std::uint8_t>> shared(std::span<const std::uint8_t> peer) = 0;
};
// nullptr when OpenSSL cannot make the key or the size is not one listed.
std::unique_ptr<kex_share> make_x25519();
std::unique_ptr<kex_share> make_ecdh(int bits /* 256, 384, 521 */);
std::unique_ptr<kex_share> make_modp(int group /* 14: RFC 3526 2048-bit, 16: 4096-bit, 18: 8192-bit */);
// The same from a given private value (known-answer checks): the X25519 scalar (32 bytes), the ECDH scalar or
// the MODP exponent, big-endian. nullptr when the value is out of range.
std::unique_ptr<kex_share> make_x25519(std::span<const std::uint8_t> priv);
std::unique_ptr<kex_share> make_ecdh(int bits, std::span<const std::uint8_t> priv);
std::unique_ptr<kex_share> make_modp(int group, std::span<const std::uint8_t> priv);

// Group exchange (RFC 4419): the host picks p and g (unsigned big-endian), so they are judged before any use: p's
// length in [min_bits, max_bits], p odd, 1 < g < p-1. Primality is not tested (OpenSSH's client does not either).
enum class group_fault { none, too_small, too_large, even_modulus, bad_generator };
group_fault check_group(std::span<const std::uint8_t> p, std::span<const std::uint8_t> g, int min_bits, int max_bits);
// p's length in bits, leading zero bytes ignored.
int bit_length(std::span<const std::uint8_t> p);
// A share in that group with a random exponent of priv_bits (at most p's length less one); nullptr when the group
// fails check_group with the widest bounds (1024..16384) or OpenSSL fails. shared() checks 1 < f < p-1.
std::unique_ptr<kex_share> make_group_share(std::span<const std::uint8_t> p, std::span<const std::uint8_t> g,
                                            int priv_bits);

// Host-key signatures over `data` (the exchange hash H). alg: "ssh-ed25519", "ecdsa-sha2-nistp256/384/521",
// "rsa-sha2-256", "rsa-sha2-512", "ssh-rsa". key_blob: the SSH public key blob; sig_blob: the SSH signature blob.
// The name in the signature must be alg, and the key's type must fit it (an "ssh-rsa" key for every RSA name).
// RSA moduli outside 1024..16384 bits and public exponents over 64 bits are refused.
bool verify_host_signature(std::string_view alg, std::span<const std::uint8_t> key_blob,
                           std::span<const std::uint8_t> sig_blob, std::span<const std::uint8_t> data);
// The key blob's type name ("ssh-rsa", "ssh-ed25519", "ecdsa-sha2-nistp256", "ssh-dss"), empty when unreadable:
// known types must be complete and well-formed, other names printable ASCII of at most 64 characters.
std::string key_type(std::span<const std::uint8_t> key_blob);

}  // namespace crypto::evp
