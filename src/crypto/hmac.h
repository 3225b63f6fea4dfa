#pragma once
#include <cstddef>
#include <cstdint>

#include "crypto/sha1.h"

namespace crypto {

// HMAC-SHA1 with the key blocks absorbed once, so a packet costs two context copies and two finals.
struct hmac_sha1_keys {
    sha1_context inner;
    sha1_context outer;
};

// Keys longer than the 64-byte block are hashed first, as RFC 2104 says.
void hmac_sha1_set_key(hmac_sha1_keys& k, const uint8_t* key, std::size_t n);
// MAC over the 4-byte big-endian sequence number followed by data.
void hmac_sha1_compute(const hmac_sha1_keys& k, uint32_t seq, const uint8_t* data, std::size_t n, uint8_t out[20]);
// Plain HMAC-SHA1(key, data), without a sequence number.
void hmac_sha1(const uint8_t* key, std::size_t key_len, const uint8_t* data, std::size_t n, uint8_t out[20]);

}  // namespace crypto
