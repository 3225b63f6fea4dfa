#include "crypto/sha1.h"

#include <cstring>

#include "crypto/bytes.h"
#include "crypto/wipe.h"

namespace crypto {
namespace {

inline uint32_t rol(uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

// Fully unrolled rounds over a rolling 16-word schedule.
void compress(uint32_t h[5], const uint8_t* p, std::size_t blocks) {
    uint32_t a, b, c, d, e;
    uint32_t w[16];
    for (; blocks; --blocks, p += 64) {
        a = h[0];
        b = h[1];
        c = h[2];
        d = h[3];
        e = h[4];
// The eighty rounds laid out four to a line.
// clang-format off
#define W(i) (w[(i) & 15] = rol(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i) & 15], 1))
#define R0(v, x, y, z, u, i)                                                 \
    w[i] = load_be(p + 4 * (i));                                             \
    u += ((x & (y ^ z)) ^ z) + w[i] + 0x5A827999u + rol(v, 5);               \
    x = rol(x, 30);
#define R1(v, x, y, z, u, i)                                                 \
    u += ((x & (y ^ z)) ^ z) + W(i) + 0x5A827999u + rol(v, 5);               \
    x = rol(x, 30);
#define R2(v, x, y, z, u, i)                                                 \
    u += (x ^ y ^ z) + W(i) + 0x6ED9EBA1u + rol(v, 5);                       \
    x = rol(x, 30);
#define R3(v, x, y, z, u, i)                                                 \
    u += (((x | y) & z) | (x & y)) + W(i) + 0x8F1BBCDCu + rol(v, 5);         \
    x = rol(x, 30);
#define R4(v, x, y, z, u, i)                                                 \
    u += (x ^ y ^ z) + W(i) + 0xCA62C1D6u + rol(v, 5);                       \
    x = rol(x, 30);
        R0(a, b, c, d, e, 0) R0(e, a, b, c, d, 1) R0(d, e, a, b, c, 2) R0(c, d, e, a, b, 3)
        R0(b, c, d, e, a, 4) R0(a, b, c, d, e, 5) R0(e, a, b, c, d, 6) R0(d, e, a, b, c, 7)
        R0(c, d, e, a, b, 8) R0(b, c, d, e, a, 9) R0(a, b, c, d, e, 10) R0(e, a, b, c, d, 11)
        R0(d, e, a, b, c, 12) R0(c, d, e, a, b, 13) R0(b, c, d, e, a, 14) R0(a, b, c, d, e, 15)
        R1(e, a, b, c, d, 16) R1(d, e, a, b, c, 17) R1(c, d, e, a, b, 18) R1(b, c, d, e, a, 19)
        R2(a, b, c, d, e, 20) R2(e, a, b, c, d, 21) R2(d, e, a, b, c, 22) R2(c, d, e, a, b, 23)
        R2(b, c, d, e, a, 24) R2(a, b, c, d, e, 25) R2(e, a, b, c, d, 26) R2(d, e, a, b, c, 27)
        R2(c, d, e, a, b, 28) R2(b, c, d, e, a, 29) R2(a, b, c, d, e, 30) R2(e, a, b, c, d, 31)
        R2(d, e, a, b, c, 32) R2(c, d, e, a, b, 33) R2(b, c, d, e, a, 34) R2(a, b, c, d, e, 35)
        R2(e, a, b, c, d, 36) R2(d, e, a, b, c, 37) R2(c, d, e, a, b, 38) R2(b, c, d, e, a, 39)
        R3(a, b, c, d, e, 40) R3(e, a, b, c, d, 41) R3(d, e, a, b, c, 42) R3(c, d, e, a, b, 43)
        R3(b, c, d, e, a, 44) R3(a, b, c, d, e, 45) R3(e, a, b, c, d, 46) R3(d, e, a, b, c, 47)
        R3(c, d, e, a, b, 48) R3(b, c, d, e, a, 49) R3(a, b, c, d, e, 50) R3(e, a, b, c, d, 51)
        R3(d, e, a, b, c, 52) R3(c, d, e, a, b, 53) R3(b, c, d, e, a, 54) R3(a, b, c, d, e, 55)
        R3(e, a, b, c, d, 56) R3(d, e, a, b, c, 57) R3(c, d, e, a, b, 58) R3(b, c, d, e, a, 59)
        R4(a, b, c, d, e, 60) R4(e, a, b, c, d, 61) R4(d, e, a, b, c, 62) R4(c, d, e, a, b, 63)
        R4(b, c, d, e, a, 64) R4(a, b, c, d, e, 65) R4(e, a, b, c, d, 66) R4(d, e, a, b, c, 67)
        R4(c, d, e, a, b, 68) R4(b, c, d, e, a, 69) R4(a, b, c, d, e, 70) R4(e, a, b, c, d, 71)
        R4(d, e, a, b, c, 72) R4(c, d, e, a, b, 73) R4(b, c, d, e, a, 74) R4(a, b, c, d, e, 75)
        R4(e, a, b, c, d, 76) R4(d, e, a, b, c, 77) R4(c, d, e, a, b, 78) R4(b, c, d, e, a, 79)
#undef W
#undef R0
#undef R1
#undef R2
#undef R3
#undef R4
        // The round macros end without a semicolon, which clang-format would take to run on into this line.
        h[0] += a;
        // clang-format on
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    // The schedule holds message words; clear it once per call, not per block.
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
    absorb_blocks(block, used, p, n, [this](const uint8_t* b, std::size_t blocks) { compress(h, b, blocks); });
}

void sha1_context::final(uint8_t out[20]) {
    uint64_t bits = (uint64_t(len_high) << 32 | len_low) << 3;
    uint8_t pad[72] = {0x80};
    std::size_t padlen = (used < 56) ? 56 - used : 120 - used;
    for (int i = 0; i < 8; ++i) pad[padlen + i] = uint8_t(bits >> (56 - 8 * i));
    update(pad, padlen + 8);
    for (int i = 0; i < 5; ++i) store_be(out + 4 * i, h[i]);
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
