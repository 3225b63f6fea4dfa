#pragma once
#include <cstddef>
#include <cstdint>

namespace crypto {

// Algorithm descriptors of the SSH engines. Each keyed primitive keeps one process-wide context per direction
// (one session at a time); the operations work on the caller's buffer in place, over the whole 8-byte blocks
// within the length given (never past it).

struct ssh1_cipher {
    void (*set_key)(const uint8_t session_key[32]);  // both directions, chains zero
    void (*encrypt)(uint8_t* buf, std::size_t n);
    void (*decrypt)(uint8_t* buf, std::size_t n);
    int block_size;
};

extern const ssh1_cipher ssh1_des;       // SSH-1 cipher number 2, key bytes 0..7
extern const ssh1_cipher ssh1_3des;      // number 3, bytes 0..23, three CBC passes
extern const ssh1_cipher ssh1_blowfish;  // number 6, all 32 bytes, little-endian block halves

struct ssh2_cipher {
    void (*set_out_iv)(const uint8_t iv[8]);  // client to server
    void (*set_out_key)(const uint8_t* key);
    void (*set_in_iv)(const uint8_t iv[8]);  // server to client
    void (*set_in_key)(const uint8_t* key);
    void (*encrypt)(uint8_t* buf, std::size_t n);
    void (*decrypt)(uint8_t* buf, std::size_t n);
    const char* name;
    int block_size;
    int key_bits;
    int key_bytes;  // bytes taken from the derived key value
};

// Setting a key leaves that direction's chain alone, so keys and IVs may be installed in any order.
extern const ssh2_cipher ssh2_3des_cbc;      // "3des-cbc", 24 key bytes, one EDE chain per direction
extern const ssh2_cipher ssh2_blowfish_cbc;  // "blowfish-cbc", 16 key bytes, big-endian block halves

struct ssh2_mac {
    void (*set_out_key)(const uint8_t key[20]);
    void (*set_in_key)(const uint8_t key[20]);
    // Appends the 20-byte MAC of (sequence number, buf[0..n)) at buf + n.
    void (*make)(uint8_t* buf, std::size_t n, uint32_t seq);
    // True when the 20 bytes at buf + n are the MAC of (seq, buf[0..n)); compared in constant time.
    bool (*verify)(const uint8_t* buf, std::size_t n, uint32_t seq);
    const char* name;
    int length;
};

extern const ssh2_mac ssh2_hmac_sha1;  // "hmac-sha1"

// Zeroes every process-wide key schedule, chain and MAC key (for the end of a session).
void wipe_cipher_state();

}  // namespace crypto
