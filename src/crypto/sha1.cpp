#include "crypto/sha1.h"

#include <cstring>

#include "crypto/wipe.h"

namespace crypto {
namespace {

inline uint32_t rol(uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

inline uint32_t load_be(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void compress(uint32_t h[5], const uint8_t* p) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) w[i] = load_be(p + 4 * i);
    for (int i = 16; i < 80; ++i) w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
#define SHA1_STEP(f, k, i)                                  \
    {                                                       \
        uint32_t t = rol(a, 5) + (f) + e + (k) + w[i];      \
        e = d;                                              \
        d = c;                                              \
        c = rol(b, 30);                                     \
        b = a;                                              \
        a = t;                                              \
    }
    for (int i = 0; i < 20; ++i) SHA1_STEP((b & c) | (~b & d), 0x5A827999u, i)
    for (int i = 20; i < 40; ++i) SHA1_STEP(b ^ c ^ d, 0x6ED9EBA1u, i)
    for (int i = 40; i < 60; ++i) SHA1_STEP((b & c) | (b & d) | (c & d), 0x8F1BBCDCu, i)
    for (int i = 60; i < 80; ++i) SHA1_STEP(b ^ c ^ d, 0xCA62C1D6u, i)
#undef SHA1_STEP
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    wipe(w, sizeof w);
}

}  // namespace

void sha1_context::init() {
    h[0] = 0x67452301u;
    h[1] = 0xEFCDAB89u;
    h[2] = 0x98BADCFEu;
    h[3] = 0x10325476u;
    h[4] = 0xC3D2E1F0u;
    std::memset(block, 0, sizeof block);
    used = 0;
    len_high = 0;
    len_low = 0;
}

void sha1_context::update(const void* data, std::size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint64_t total = (uint64_t(len_high) << 32 | len_low) + n;
    len_high = uint32_t(total >> 32);
    len_low = uint32_t(total);
    if (used) {
        std::size_t take = 64 - used < n ? 64 - used : n;
        std::memcpy(block + used, p, take);
        used += uint32_t(take);
        p += take;
        n -= take;
        if (used < 64) return;
        compress(h, block);
        used = 0;
    }
    while (n >= 64) {
        compress(h, p);
        p += 64;
        n -= 64;
    }
    if (n) {
        std::memcpy(block, p, n);
        used = uint32_t(n);
    }
}

void sha1_context::final(uint8_t out[20]) {
    uint64_t bits = (uint64_t(len_high) << 32 | len_low) << 3;
    uint8_t pad[72] = {0x80};
    std::size_t padlen = (used < 56) ? 56 - used : 120 - used;
    for (int i = 0; i < 8; ++i) pad[padlen + i] = uint8_t(bits >> (56 - 8 * i));
    update(pad, padlen + 8);
    for (int i = 0; i < 5; ++i) {
        out[4 * i] = uint8_t(h[i] >> 24);
        out[4 * i + 1] = uint8_t(h[i] >> 16);
        out[4 * i + 2] = uint8_t(h[i] >> 8);
        out[4 * i + 3] = uint8_t(h[i]);
    }
    wipe(this, sizeof *this);
}

void sha1_context::absorb_string(const void* data, std::size_t n) {
    uint8_t len[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    update(len, 4);
    update(data, n);
}

void sha1(const void* data, std::size_t n, uint8_t out[20]) {
    sha1_context c;
    c.update(data, n);
    c.final(out);
}

}  // namespace crypto
