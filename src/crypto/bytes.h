#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace crypto {

// 32-bit words in and out of byte buffers; inline so the block ciphers keep them in their inner loops.
inline uint32_t load_be(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void store_be(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline uint32_t load_le(const uint8_t* p) {
    return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[0]);
}
inline void store_le(uint8_t* p, uint32_t v) {
    p[3] = uint8_t(v >> 24);
    p[2] = uint8_t(v >> 16);
    p[1] = uint8_t(v >> 8);
    p[0] = uint8_t(v);
}

// The buffering of a 64-byte-block hash: tops up a partly filled block first, hands whole blocks to
// compress(blocks_start, count) straight from the input, and keeps the tail for the next call.
template <class Compress>
inline void absorb_blocks(uint8_t (&block)[64], uint32_t& used, const uint8_t* p, std::size_t n, Compress compress) {
    if (n == 0) return;  // an empty piece may come with a null pointer, which memcpy must not see
    if (used) {
        std::size_t take = 64 - used < n ? 64 - used : n;
        std::memcpy(block + used, p, take);
        used += uint32_t(take);
        p += take;
        n -= take;
        if (used < 64) return;
        compress(block, std::size_t(1));
        used = 0;
    }
    if (n >= 64) {
        compress(p, n / 64);
        p += n & ~std::size_t(63);
        n &= 63;
    }
    if (n) {
        std::memcpy(block, p, n);
        used = uint32_t(n);
    }
}

}  // namespace crypto
