#pragma once
#include <cstddef>
#include <cstdint>

#include "crypto/blowfish.h"
#include "crypto/des.h"
#include "crypto/hmac.h"

namespace crypto {

// Algorithm descriptors of the SSH engines. The keyed state lives in the caller's per-direction contexts (one
// connection holds one pair), so a client and a server can run side by side; the operations work on the caller's
// buffer in place, over the whole 8-byte blocks within the length given (never past it).

// Key schedules and CBC chains of one direction. Wiped when released.
struct cipher_context {
    des_key_context des[3];
    blowfish_context blowfish;

    cipher_context();
    ~cipher_context();
    cipher_context(const cipher_context&) = delete;
    cipher_context& operator=(const cipher_context&) = delete;
    void clear();
};

// The HMAC key blocks of one direction. Wiped when released.
struct mac_context {
    hmac_sha1_keys keys;

    mac_context() = default;
    ~mac_context();
    mac_context(const mac_context&) = delete;
    mac_context& operator=(const mac_context&) = delete;
    void clear();
};

struct ssh1_cipher {
    void (*set_key)(cipher_context& c, const uint8_t session_key[32]);  // one direction, chains zero
    void (*encrypt)(cipher_context& c, uint8_t* buf, std::size_t n);
    void (*decrypt)(cipher_context& c, uint8_t* buf, std::size_t n);
    int block_size;
};

extern const ssh1_cipher ssh1_des;       // SSH-1 cipher number 2, key bytes 0..7
extern const ssh1_cipher ssh1_3des;      // number 3, bytes 0..23, three CBC passes
extern const ssh1_cipher ssh1_blowfish;  // number 6, all 32 bytes, little-endian block halves

struct ssh2_cipher {
    void (*set_iv)(cipher_context& c, const uint8_t iv[8]);
    void (*set_key)(cipher_context& c, const uint8_t* key);
    void (*encrypt)(cipher_context& c, uint8_t* buf, std::size_t n);
    void (*decrypt)(cipher_context& c, uint8_t* buf, std::size_t n);
    const char* name;
    int block_size;
    int key_bits;
    int key_bytes;  // bytes taken from the derived key value
};

// Setting a key leaves the chain alone, so keys and IVs may be installed in any order.
extern const ssh2_cipher ssh2_3des_cbc;      // "3des-cbc", 24 key bytes, one EDE chain per direction
extern const ssh2_cipher ssh2_blowfish_cbc;  // "blowfish-cbc", 16 key bytes, big-endian block halves

struct ssh2_mac {
    void (*set_key)(mac_context& m, const uint8_t key[20]);
    // Appends the 20-byte MAC of (sequence number, buf[0..n)) at buf + n.
    void (*make)(const mac_context& m, uint8_t* buf, std::size_t n, uint32_t seq);
    // True when the 20 bytes at buf + n are the MAC of (seq, buf[0..n)); compared in constant time.
    bool (*verify)(const mac_context& m, const uint8_t* buf, std::size_t n, uint32_t seq);
    const char* name;
    int length;
};

extern const ssh2_mac ssh2_hmac_sha1;  // "hmac-sha1"

}  // namespace crypto
