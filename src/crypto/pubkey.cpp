#include "crypto/pubkey.h"

#include <cstring>
#include <vector>

#include "crypto/random.h"
#include "crypto/sha1.h"
#include "crypto/wipe.h"

namespace crypto {

std::optional<rsa_parse_result> parse_rsa_key(const uint8_t* p, std::size_t n) {
    if (n < 4) return std::nullopt;
    rsa_parse_result r;
    r.key.bits = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    std::size_t pos = 4;
    auto e = from_ssh1_mpint(p + pos, n - pos);
    if (!e) return std::nullopt;
    pos += e->second;
    auto m = from_ssh1_mpint(p + pos, n - pos);
    if (!m) return std::nullopt;
    r.modulus_offset = pos + 2;
    r.modulus_length = m->second - 2;
    pos += m->second;
    r.key.exponent = std::move(e->first);
    r.key.modulus = std::move(m->first);
    r.key.bytes = (r.key.modulus.bit_length() + 7) / 8;
    r.consumed = pos;
    return r;
}

bool rsa_encrypt(uint8_t* buf, std::size_t n, const rsa_public_key& key) {
    const unsigned mbits = key.modulus.bit_length();
    const std::size_t k = (mbits + 7) / 8;
    if (k != key.bytes || k < 11 || n > k - 11) return false;
    if (mbits > rsa_max_modulus_bits || !key.modulus.bit(0)) return false;
    if (key.exponent.bit_length() < 2 || (key.exponent.bit_length() == 2 && !key.exponent.bit(0))) return false;
    if (compare(key.exponent, key.modulus) >= 0) return false;
    if (mbits > 3072 && key.exponent.bit_length() > 64) return false;

    std::memmove(buf + k - n, buf, n);
    buf[0] = 0;
    buf[1] = 2;
    for (std::size_t i = 2; i < k - n - 1; ++i) {
        unsigned b;
        do b = random_byte() & 0xFF;
        while (b == 0);
        buf[i] = uint8_t(b);
    }
    buf[k - n - 1] = 0;
    bignum m = from_bytes(buf, k);
    bignum c = modexp(m, key.exponent, key.modulus);
    to_bytes(c, buf, k);
    return true;
}

namespace {

// RFC 2409 section 6.2, Second Oakley Group.
const uint8_t group1_prime[128] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xC9, 0x0F, 0xDA, 0xA2, 0x21, 0x68, 0xC2, 0x34, 0xC4, 0xC6, 0x62,
    0x8B, 0x80, 0xDC, 0x1C, 0xD1, 0x29, 0x02, 0x4E, 0x08, 0x8A, 0x67, 0xCC, 0x74, 0x02, 0x0B, 0xBE, 0xA6, 0x3B, 0x13,
    0x9B, 0x22, 0x51, 0x4A, 0x08, 0x79, 0x8E, 0x34, 0x04, 0xDD, 0xEF, 0x95, 0x19, 0xB3, 0xCD, 0x3A, 0x43, 0x1B, 0x30,
    0x2B, 0x0A, 0x6D, 0xF2, 0x5F, 0x14, 0x37, 0x4F, 0xE1, 0x35, 0x6D, 0x6D, 0x51, 0xC2, 0x45, 0xE4, 0x85, 0xB5, 0x76,
    0x62, 0x5E, 0x7E, 0xC6, 0xF4, 0x4C, 0x42, 0xE9, 0xA6, 0x37, 0xED, 0x6B, 0x0B, 0xFF, 0x5C, 0xB6, 0xF4, 0x06, 0xB7,
    0xED, 0xEE, 0x38, 0x6B, 0xFB, 0x5A, 0x89, 0x9F, 0xA5, 0xAE, 0x9F, 0x24, 0x11, 0x7C, 0x4B, 0x1F, 0xE6, 0x49, 0x28,
    0x66, 0x51, 0xEC, 0xE6, 0x53, 0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

}  // namespace

dh_group dh_group1() {
    dh_group g;
    g.p = from_bytes(group1_prime, sizeof group1_prime);
    const uint8_t two = 2;
    g.g = from_bytes(&two, 1);
    g.q = shift_right(g.p, 1);
    g.mask = mask(g.q);
    return g;
}

bignum dh_choose_exponent(const dh_group& grp) {
    const bignum one = bignum::from_u32(1);
    for (;;) {
        bignum x(257 / 16 + 1);
        x.set_bit(256, true);
        for (unsigned i = 0; i < 256; i += 8) {
            unsigned b = random_byte();
            for (unsigned k = 0; k < 8; ++k) x.set_bit(i + k, (b >> k) & 1);
        }
        x.normalise();
        if (compare(x, one) > 0 && compare(x, grp.q) < 0) return x;
    }
}

bignum dh_public_value(const dh_group& grp, const bignum& x) { return modexp(grp.g, x, grp.p); }

bool dh_valid_public(const dh_group& grp, const bignum& f) {
    if (f.bit_length() < 2) return false;  // 0 and 1
    const bignum one = bignum::from_u32(1);
    bignum f_plus_1 = multiply_add(f, one, &one);
    return compare(f_plus_1, grp.p) < 0;
}

std::optional<bignum> dh_shared_secret(const dh_group& grp, const bignum& f, const bignum& x) {
    if (!dh_valid_public(grp, f)) return std::nullopt;
    return modexp(f, x, grp.p);
}

std::optional<dss_public_key> parse_dss_key(const uint8_t* blob, std::size_t n) {
    blob_reader rd(blob, n);
    auto name = rd.read_string();
    if (!name || name->size() != 7 || std::memcmp(name->data(), "ssh-dss", 7) != 0) return std::nullopt;
    dss_public_key k;
    k.p = rd.read_mpint();
    if (!k.p) return std::nullopt;
    k.q = rd.read_mpint();
    if (k.q) k.g = rd.read_mpint();
    if (k.g) k.y = rd.read_mpint();
    return k;
}

bool dss_verify(const dss_public_key& key, const uint8_t* sig, std::size_t sig_len, const uint8_t h[20]) {
    return dss_verify(key, sig, sig_len, h, 20);
}

bool dss_verify(const dss_public_key& key, const uint8_t* sig, std::size_t sig_len, const uint8_t* data,
                std::size_t data_len) {
    if (!key.p || !key.q || !key.g || !key.y) return false;
    const bignum& p = *key.p;
    const bignum& q = *key.q;
    const bignum& g = *key.g;
    const bignum& y = *key.y;
    // Bounded sizes keep the work bounded; an even p or q out of (1, p) cannot be a DSA group.
    const unsigned pbits = p.bit_length(), qbits = q.bit_length();
    if (pbits > dss_max_p_bits || pbits < 2 || !p.bit(0)) return false;
    if (qbits > dss_max_q_bits || qbits < 2 || compare(q, p) >= 0) return false;
    if (g.bit_length() < 2 || compare(g, p) >= 0) return false;
    if (y.is_zero() || compare(y, p) >= 0) return false;

    blob_reader rd(sig, sig_len);
    if (sig_len != 40) {
        auto name = rd.read_string();
        if (!name || name->size() != 7 || std::memcmp(name->data(), "ssh-dss", 7) != 0) return false;
        if (!rd.read_u32()) return false;
    }
    auto r = rd.read_20_bytes();
    auto s = rd.read_20_bytes();
    if (!r || !s) return false;
    if (r->is_zero() || s->is_zero() || compare(*r, q) >= 0 || compare(*s, q) >= 0) return false;

    auto w = inverse(*s, q);
    if (!w) return false;  // q not prime
    uint8_t digest[20];
    sha1(data, data_len, digest);
    bignum m = from_bytes(digest, 20);
    bignum u1 = mulmod(m, *w, q);
    bignum u2 = mulmod(*r, *w, q);
    bignum v = mulmod(modexp(g, u1, p), modexp(y, u2, p), p);
    v = mod(v, q);
    return compare(v, *r) == 0;
}

}  // namespace crypto
