#include "crypto/des.h"

#include <array>
#include <utility>

#include "crypto/bytes.h"
#include "crypto/wipe.h"

namespace crypto {
namespace {

constexpr uint8_t S[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8, 14, 6,  11, 3,  4, 9, 7, 2,  13, 12, 0, 5, 10, 3,  13, 4,  7, 15, 2,  8, 14, 12, 0, 1, 10, 6, 9, 11, 5,
     0,  14, 7, 11, 10, 4,  13, 1, 5, 8, 12, 6,  9,  3, 2, 15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6, 7, 12, 0, 5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0, 8, 13, 3,  12, 9, 7, 5, 10, 6, 1, 13, 0,  11, 7, 4, 9, 1,  10, 14, 3, 5, 12, 2,  15, 8, 6,
     1, 4,  11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5,  9, 2, 6,  11, 13, 8, 1, 4, 10, 7,  9,  5, 0, 15, 14, 2,  3, 12},
    {13, 2, 8, 4, 6,  15, 11, 1, 10, 9,  3,  14, 5, 0, 12, 7, 1, 15, 13, 8, 10, 3, 7,  4,  12, 5, 6, 11, 0, 14, 9, 2, 7,
     11, 4, 1, 9, 12, 14, 2,  0, 6,  10, 13, 15, 3, 5, 8,  2, 1, 14, 7,  4, 10, 8, 13, 15, 12, 9, 0, 3,  5, 6,  11}};

constexpr uint8_t P[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                           2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr uint8_t PC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                             35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                             46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr uint8_t PC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                             26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                             51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr uint8_t SHIFTS[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// SP[n][v]: S-box n on the six expanded bits v (first bit most significant), placed and run through P, then
// rotated left by one because the halves are kept rotated during the rounds.
using sp_tables = std::array<std::array<uint32_t, 64>, 8>;
constexpr sp_tables make_sp() {
    sp_tables t{};
    for (int n = 0; n < 8; ++n) {
        for (int v = 0; v < 64; ++v) {
            int row = ((v >> 4) & 2) | (v & 1);
            int col = (v >> 1) & 15;
            uint32_t s = uint32_t(S[n][row * 16 + col]) << (28 - 4 * n);
            uint32_t out = 0;
            for (int i = 0; i < 32; ++i)
                if (s & (0x80000000u >> (P[i] - 1))) out |= 0x80000000u >> i;
            t[n][v] = (out << 1) | (out >> 31);
        }
    }
    return t;
}
constexpr sp_tables SP = make_sp();

inline uint32_t rotr(uint32_t x, int k) { return (x >> k) | (x << (32 - k)); }
inline uint32_t rotl(uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

// Initial permutation, leaving both halves rotated left by one for the rounds.
inline void ip(uint32_t& l, uint32_t& r) {
    uint32_t w;
    w = ((l >> 4) ^ r) & 0x0f0f0f0fu;
    r ^= w;
    l ^= w << 4;
    w = ((l >> 16) ^ r) & 0x0000ffffu;
    r ^= w;
    l ^= w << 16;
    w = ((r >> 2) ^ l) & 0x33333333u;
    l ^= w;
    r ^= w << 2;
    w = ((r >> 8) ^ l) & 0x00ff00ffu;
    l ^= w;
    r ^= w << 8;
    r = rotl(r, 1);
    w = (l ^ r) & 0xaaaaaaaau;
    l ^= w;
    r ^= w;
    l = rotl(l, 1);
}

// Final permutation on the halves before the swap; the block comes out as (r, l).
inline void fp(uint32_t& l, uint32_t& r) {
    uint32_t w;
    r = rotr(r, 1);
    w = (l ^ r) & 0xaaaaaaaau;
    l ^= w;
    r ^= w;
    l = rotr(l, 1);
    w = ((l >> 8) ^ r) & 0x00ff00ffu;
    r ^= w;
    l ^= w << 8;
    w = ((l >> 2) ^ r) & 0x33333333u;
    r ^= w;
    l ^= w << 2;
    w = ((r >> 16) ^ l) & 0x0000ffffu;
    l ^= w;
    r ^= w << 16;
    w = ((r >> 4) ^ l) & 0x0f0f0f0fu;
    l ^= w;
    r ^= w << 4;
}

inline uint32_t f(uint32_t r, const uint32_t* k) {
    uint32_t w = rotr(r, 4) ^ k[0];
    uint32_t v = SP[6][w & 0x3f] | SP[4][(w >> 8) & 0x3f] | SP[2][(w >> 16) & 0x3f] | SP[0][(w >> 24) & 0x3f];
    w = r ^ k[1];
    return v | SP[7][w & 0x3f] | SP[5][(w >> 8) & 0x3f] | SP[3][(w >> 16) & 0x3f] | SP[1][(w >> 24) & 0x3f];
}

// One DES operation from permuted block to permuted block: sixteen rounds and the final swap of the halves.
template <bool Decrypt>
inline void rounds(const uint32_t* k, uint32_t& l, uint32_t& r) {
    if (!Decrypt) {
        for (int i = 0; i < 32; i += 4) {
            l ^= f(r, k + i);
            r ^= f(l, k + i + 2);
        }
    } else {
        for (int i = 30; i > 0; i -= 4) {
            l ^= f(r, k + i);
            r ^= f(l, k + i - 2);
        }
    }
    uint32_t t = l;
    l = r;
    r = t;
}

// Two independent blocks at once: CBC decryption has no chain between the block operations, and interleaving
// them keeps the table lookups of one block busy while the other waits.
template <bool Decrypt>
inline void rounds2(const uint32_t* k, uint32_t& l0, uint32_t& r0, uint32_t& l1, uint32_t& r1) {
    if (!Decrypt) {
        for (int i = 0; i < 32; i += 4) {
            l0 ^= f(r0, k + i);
            l1 ^= f(r1, k + i);
            r0 ^= f(l0, k + i + 2);
            r1 ^= f(l1, k + i + 2);
        }
    } else {
        for (int i = 30; i > 0; i -= 4) {
            l0 ^= f(r0, k + i);
            l1 ^= f(r1, k + i);
            r0 ^= f(l0, k + i - 2);
            r1 ^= f(l1, k + i - 2);
        }
    }
    std::swap(l0, r0);
    std::swap(l1, r1);
}

// Rounds and CBC chaining run in the permuted domain (the image under ip): XOR commutes with a permutation, so a
// block crosses ip and fp once however many DES operations and chains it meets.
inline void from_domain(uint32_t l, uint32_t r, uint32_t& x0, uint32_t& x1) {
    fp(r, l);
    x0 = l;
    x1 = r;
}

inline void load_domain(const uint8_t* p, uint32_t& l, uint32_t& r) {
    l = load_be(p);
    r = load_be(p + 4);
    ip(l, r);
}

inline void store_domain(uint8_t* p, uint32_t l, uint32_t r) {
    uint32_t x0, x1;
    from_domain(l, r, x0, x1);
    store_be(p, x0);
    store_be(p + 4, x1);
}

}  // namespace

void des_set_subkeys(des_key_context& c, const uint8_t key[8]) {
    uint8_t bits[64];
    for (int i = 0; i < 64; ++i) bits[i] = (key[i >> 3] >> (7 - (i & 7))) & 1;
    uint8_t cd[56];
    for (int i = 0; i < 56; ++i) cd[i] = bits[PC1[i] - 1];
    int shift = 0;
    for (int round = 0; round < 16; ++round) {
        shift += SHIFTS[round];
        uint8_t rot[56];
        for (int i = 0; i < 28; ++i) {
            rot[i] = cd[(i + shift) % 28];
            rot[28 + i] = cd[28 + (i + shift) % 28];
        }
        uint32_t g[8] = {};
        for (int i = 0; i < 48; ++i) g[i / 6] = (g[i / 6] << 1) | rot[PC2[i] - 1];
        c.subkeys[2 * round] = g[0] << 24 | g[2] << 16 | g[4] << 8 | g[6];
        c.subkeys[2 * round + 1] = g[1] << 24 | g[3] << 16 | g[5] << 8 | g[7];
        wipe(rot, sizeof rot);
        wipe(g, sizeof g);
    }
    wipe(bits, sizeof bits);
    wipe(cd, sizeof cd);
}

void des_set_key(des_key_context& c, const uint8_t key[8]) {
    des_set_subkeys(c, key);
    c.enc_chain[0] = c.enc_chain[1] = 0;
    c.dec_chain[0] = c.dec_chain[1] = 0;
}

void des_encrypt_block(const des_key_context& c, uint32_t block[2]) {
    uint32_t l = block[0], r = block[1];
    ip(l, r);
    rounds<false>(c.subkeys, l, r);
    from_domain(l, r, block[0], block[1]);
}

void des_decrypt_block(const des_key_context& c, uint32_t block[2]) {
    uint32_t l = block[0], r = block[1];
    ip(l, r);
    rounds<true>(c.subkeys, l, r);
    from_domain(l, r, block[0], block[1]);
}

namespace {

template <bool Decrypt>
inline void cbc_step(const uint32_t* k, uint32_t& l, uint32_t& r, uint32_t& cl, uint32_t& cr) {
    if (!Decrypt) {
        l ^= cl;
        r ^= cr;
        rounds<false>(k, l, r);
        cl = l;
        cr = r;
    } else {
        uint32_t il = l, ir = r;
        rounds<true>(k, l, r);
        l ^= cl;
        r ^= cr;
        cl = il;
        cr = ir;
    }
}

// A chaining value held in the permuted domain for the length of one call.
struct domain_chain {
    uint32_t l, r;
    explicit domain_chain(const uint32_t c[2]) : l(c[0]), r(c[1]) { ip(l, r); }
    void store(uint32_t c[2]) const { from_domain(l, r, c[0], c[1]); }
};

template <bool D1, bool D2, bool D3>
void three_pass(const uint32_t* k1, const uint32_t* k2, const uint32_t* k3, uint32_t c1[2], uint32_t c2[2],
                uint32_t c3[2], uint8_t* buf, std::size_t n) {
    // Pass k of block i needs only pass k-1 of block i and pass k's chain, so the three passes run block by block.
    domain_chain a(c1), b(c2), c(c3);
    for (std::size_t off = 0; off < n; off += 8) {
        uint32_t l, r;
        load_domain(buf + off, l, r);
        cbc_step<D1>(k1, l, r, a.l, a.r);
        cbc_step<D2>(k2, l, r, b.l, b.r);
        cbc_step<D3>(k3, l, r, c.l, c.r);
        store_domain(buf + off, l, r);
    }
    a.store(c1);
    b.store(c2);
    c.store(c3);
}

// Only the whole blocks inside the n bytes: a length that is not a multiple of 8 (a caller's or a peer's error)
// must not make the cipher touch bytes beyond it.
inline std::size_t whole(std::size_t n) { return n & ~std::size_t(7); }

template <bool Decrypt>
void one_pass(des_key_context& c, uint32_t chain[2], uint8_t* buf, std::size_t n) {
    n = whole(n);
    domain_chain ch(chain);
    for (std::size_t off = 0; off < n; off += 8) {
        uint32_t l, r;
        load_domain(buf + off, l, r);
        cbc_step<Decrypt>(c.subkeys, l, r, ch.l, ch.r);
        store_domain(buf + off, l, r);
    }
    ch.store(chain);
}

}  // namespace

void des_cbc_encrypt(des_key_context& c, uint8_t* buf, std::size_t n) { one_pass<false>(c, c.enc_chain, buf, n); }

void des_cbc_decrypt(des_key_context& c, uint8_t* buf, std::size_t n) { one_pass<true>(c, c.dec_chain, buf, n); }

void des3_ssh1_encrypt(des_key_context k[3], uint8_t* buf, std::size_t n) {
    three_pass<false, true, false>(k[0].subkeys, k[1].subkeys, k[2].subkeys, k[0].enc_chain, k[1].dec_chain,
                                   k[2].enc_chain, buf, whole(n));
}

void des3_ssh1_decrypt(des_key_context k[3], uint8_t* buf, std::size_t n) {
    three_pass<true, false, true>(k[2].subkeys, k[1].subkeys, k[0].subkeys, k[2].dec_chain, k[1].enc_chain,
                                  k[0].dec_chain, buf, whole(n));
}

void des3_ede_cbc_encrypt(des_key_context k[3], uint8_t* buf, std::size_t n) {
    n = whole(n);
    domain_chain ch(k[0].enc_chain);
    for (std::size_t off = 0; off < n; off += 8) {
        uint32_t l, r;
        load_domain(buf + off, l, r);
        l ^= ch.l;
        r ^= ch.r;
        rounds<false>(k[0].subkeys, l, r);
        rounds<true>(k[1].subkeys, l, r);
        rounds<false>(k[2].subkeys, l, r);
        ch.l = l;
        ch.r = r;
        store_domain(buf + off, l, r);
    }
    ch.store(k[0].enc_chain);
}

void des3_ede_cbc_decrypt(des_key_context k[3], uint8_t* buf, std::size_t n) {
    n = whole(n);
    domain_chain ch(k[0].dec_chain);
    std::size_t off = 0;
    for (; off + 16 <= n; off += 16) {
        uint32_t l0, r0, l1, r1;
        load_domain(buf + off, l0, r0);
        load_domain(buf + off + 8, l1, r1);
        const uint32_t il0 = l0, ir0 = r0, il1 = l1, ir1 = r1;
        rounds2<true>(k[2].subkeys, l0, r0, l1, r1);
        rounds2<false>(k[1].subkeys, l0, r0, l1, r1);
        rounds2<true>(k[0].subkeys, l0, r0, l1, r1);
        l0 ^= ch.l;
        r0 ^= ch.r;
        l1 ^= il0;
        r1 ^= ir0;
        ch.l = il1;
        ch.r = ir1;
        store_domain(buf + off, l0, r0);
        store_domain(buf + off + 8, l1, r1);
    }
    for (; off < n; off += 8) {
        uint32_t l, r;
        load_domain(buf + off, l, r);
        uint32_t il = l, ir = r;
        rounds<true>(k[2].subkeys, l, r);
        rounds<false>(k[1].subkeys, l, r);
        rounds<true>(k[0].subkeys, l, r);
        l ^= ch.l;
        r ^= ch.r;
        ch.l = il;
        ch.r = ir;
        store_domain(buf + off, l, r);
    }
    ch.store(k[0].dec_chain);
}

}  // namespace crypto
