#pragma once
#include <cstdint>

#include "crypto/bignum.h"

namespace crypto {

// RFC 4253 section 7.2, 40 bytes: SHA-1(mpint K, H, letter, session id) followed by SHA-1(mpint K, H, first 20).
// Letters 'A'..'F': IV c->s, IV s->c, key c->s, key s->c, MAC key c->s, MAC key s->c.
void ssh2_derive_key(const bignum& k, const uint8_t h[20], char letter, const uint8_t session_id[20], uint8_t out[40]);

}  // namespace crypto
