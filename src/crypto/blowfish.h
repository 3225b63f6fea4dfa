#pragma once
#include <cstddef>
#include <cstdint>

namespace crypto {

struct blowfish_context {
    uint32_t s[4][256];
    uint32_t p[18];
    uint32_t chain[2];
};

// Key bytes are taken cyclically; any length from 1 on (Blowfish itself uses at most 72). The chain is untouched.
void blowfish_set_key(blowfish_context& c, const uint8_t* key, std::size_t n);
void blowfish_encrypt_block(const blowfish_context& c, uint32_t& l, uint32_t& r);
void blowfish_decrypt_block(const blowfish_context& c, uint32_t& l, uint32_t& r);

// CBC in place over the n / 8 whole blocks (a partial tail is left alone), the chain kept across calls. The
// big-endian forms read each 32-bit half most significant byte first (SSH-2); the little-endian forms least
// significant byte first (SSH-1).
void blowfish_cbc_encrypt_be(blowfish_context& c, uint8_t* buf, std::size_t n);
void blowfish_cbc_decrypt_be(blowfish_context& c, uint8_t* buf, std::size_t n);
void blowfish_cbc_encrypt_le(blowfish_context& c, uint8_t* buf, std::size_t n);
void blowfish_cbc_decrypt_le(blowfish_context& c, uint8_t* buf, std::size_t n);

}  // namespace crypto
