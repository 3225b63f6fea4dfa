#include "crypto/blowfish.h"

#include <cstring>

#include "crypto/blowfish_tables.h"
#include "crypto/bytes.h"

namespace crypto {
namespace {

inline uint32_t F(const blowfish_context& c, uint32_t x) {
    return ((c.s[0][x >> 24] + c.s[1][(x >> 16) & 0xFF]) ^ c.s[2][(x >> 8) & 0xFF]) + c.s[3][x & 0xFF];
}

inline void encrypt(const blowfish_context& c, uint32_t& xl, uint32_t& xr) {
    uint32_t l = xl, r = xr;
    for (int i = 0; i < 16; i += 2) {
        l ^= c.p[i];
        r ^= F(c, l);
        r ^= c.p[i + 1];
        l ^= F(c, r);
    }
    l ^= c.p[16];
    r ^= c.p[17];
    xl = r;
    xr = l;
}

inline void decrypt(const blowfish_context& c, uint32_t& xl, uint32_t& xr) {
    uint32_t l = xl, r = xr;
    for (int i = 17; i > 1; i -= 2) {
        l ^= c.p[i];
        r ^= F(c, l);
        r ^= c.p[i - 1];
        l ^= F(c, r);
    }
    l ^= c.p[1];
    r ^= c.p[0];
    xl = r;
    xr = l;
}

struct big_endian {
    static uint32_t load(const uint8_t* p) { return load_be(p); }
    static void store(uint8_t* p, uint32_t v) { store_be(p, v); }
};
struct little_endian {
    static uint32_t load(const uint8_t* p) { return load_le(p); }
    static void store(uint8_t* p, uint32_t v) { store_le(p, v); }
};

// Only the whole blocks inside the n bytes: a length that is not a multiple of 8 (a caller's or a peer's error)
// must not make the cipher touch bytes beyond it.
inline std::size_t whole(std::size_t n) { return n & ~std::size_t(7); }

template <class Order>
void cbc_encrypt(blowfish_context& c, uint8_t* buf, std::size_t n) {
    n = whole(n);
    uint32_t cl = c.chain[0], cr = c.chain[1];
    for (std::size_t off = 0; off < n; off += 8) {
        cl ^= Order::load(buf + off);
        cr ^= Order::load(buf + off + 4);
        encrypt(c, cl, cr);
        Order::store(buf + off, cl);
        Order::store(buf + off + 4, cr);
    }
    c.chain[0] = cl;
    c.chain[1] = cr;
}

template <class Order>
void cbc_decrypt(blowfish_context& c, uint8_t* buf, std::size_t n) {
    n = whole(n);
    uint32_t cl = c.chain[0], cr = c.chain[1];
    for (std::size_t off = 0; off < n; off += 8) {
        uint32_t il = Order::load(buf + off), ir = Order::load(buf + off + 4);
        uint32_t l = il, r = ir;
        decrypt(c, l, r);
        Order::store(buf + off, l ^ cl);
        Order::store(buf + off + 4, r ^ cr);
        cl = il;
        cr = ir;
    }
    c.chain[0] = cl;
    c.chain[1] = cr;
}

}  // namespace

void blowfish_set_key(blowfish_context& c, const uint8_t* key, std::size_t n) {
    std::memcpy(c.s, blowfish_init_s, sizeof c.s);
    std::memcpy(c.p, blowfish_init_p, sizeof c.p);
    if (n > 0) {
        std::size_t j = 0;
        for (int i = 0; i < 18; ++i) {
            uint32_t w = 0;
            for (int k = 0; k < 4; ++k) {
                w = (w << 8) | key[j];
                j = (j + 1 == n) ? 0 : j + 1;
            }
            c.p[i] ^= w;
        }
    }
    uint32_t l = 0, r = 0;
    for (int i = 0; i < 18; i += 2) {
        encrypt(c, l, r);
        c.p[i] = l;
        c.p[i + 1] = r;
    }
    for (int b = 0; b < 4; ++b) {
        for (int i = 0; i < 256; i += 2) {
            encrypt(c, l, r);
            c.s[b][i] = l;
            c.s[b][i + 1] = r;
        }
    }
}

void blowfish_encrypt_block(const blowfish_context& c, uint32_t& l, uint32_t& r) { encrypt(c, l, r); }
void blowfish_decrypt_block(const blowfish_context& c, uint32_t& l, uint32_t& r) { decrypt(c, l, r); }

void blowfish_cbc_encrypt_be(blowfish_context& c, uint8_t* buf, std::size_t n) { cbc_encrypt<big_endian>(c, buf, n); }
void blowfish_cbc_decrypt_be(blowfish_context& c, uint8_t* buf, std::size_t n) { cbc_decrypt<big_endian>(c, buf, n); }
void blowfish_cbc_encrypt_le(blowfish_context& c, uint8_t* buf, std::size_t n) {
    cbc_encrypt<little_endian>(c, buf, n);
}
void blowfish_cbc_decrypt_le(blowfish_context& c, uint8_t* buf, std::size_t n) {
    cbc_decrypt<little_endian>(c, buf, n);
}

}  // namespace crypto
