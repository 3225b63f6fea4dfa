#include "crypto/sntrup761.h"

#include <array>
#include <cstring>

#include "crypto/evp.h"
#include "crypto/random.h"
#include "crypto/wipe.h"

namespace crypto::sntrup761 {

namespace {

// The ring is Z[x]/(x^p - x - 1); q and w as in the round-3 parameter set sntrup761.
constexpr int p = 761;
constexpr int q = 4591;
constexpr int w = 286;
constexpr int q12 = (q - 1) / 2;
constexpr std::uint16_t rounded_modulus = (q + 2) / 3;  // c/3 after rounding to a multiple of 3

constexpr std::size_t hash_bytes = 32;
constexpr std::size_t small_bytes = (p + 3) / 4;
constexpr std::size_t confirm_bytes = 32;

using small = std::int8_t;  // -1, 0, 1
using fq = std::int16_t;    // -(q-1)/2 .. (q-1)/2

// ---- constant-time helpers

// -1 when x < 0, else 0.
constexpr std::int32_t negative_mask(std::int32_t x) { return x >> 31; }
// -1 when x != 0, else 0 (for |x| < 2^31).
constexpr std::int32_t nonzero_mask(std::int32_t x) { return negative_mask(x | -x); }

// The centred residue of x mod m, for |x| < 2^30: shifted by a multiple of m into [0, 2^31), Barrett-reduced with
// floor(2^32/m) (one subtraction left at most), then moved to -(m-1)/2 .. (m-1)/2.
template <std::uint32_t m>
constexpr std::int32_t centred(std::int32_t x) {
    constexpr std::uint32_t offset = m * ((std::uint32_t(1) << 30) / m);
    constexpr std::uint64_t inverse = (std::uint64_t(1) << 32) / m;
    const std::uint32_t u = std::uint32_t(x) + offset;
    std::uint32_t r = u - std::uint32_t((u * inverse) >> 32) * m;
    r -= m;
    r += m & std::uint32_t(negative_mask(std::int32_t(r)));
    const std::int32_t s = std::int32_t(r);
    return s - std::int32_t(m & ~std::uint32_t(negative_mask(s - std::int32_t((m - 1) / 2) - 1)));
}

constexpr fq fq_freeze(std::int32_t x) { return fq(centred<q>(x)); }
constexpr small f3_freeze(std::int32_t x) { return small(centred<3>(x)); }

static_assert(fq_freeze(q12 + 1) == -q12 && fq_freeze(-q12 - 1) == q12 && fq_freeze(100000 * q + 7) == 7 &&
              fq_freeze(-100000 * q - 7) == -7);
static_assert(f3_freeze(2) == -1 && f3_freeze(-2) == 1 && f3_freeze(300000000 * 3 + 2) == -1 &&
              f3_freeze(-300000000 * 3 - 2) == 1);

// a^(q-2) = 1/a in Z/q, by a fixed chain of squarings and multiplications.
fq fq_recip(fq a) {
    std::int32_t result = 1, base = a;
    for (unsigned e = q - 2; e != 0; e >>= 1) {
        if (e & 1) result = fq_freeze(result * base);
        base = fq_freeze(base * base);
    }
    return fq(result);
}

// x = quot * m + rem for x < 2^32 and 1 <= m < 2^14, without a data-dependent division.
void divmod14(std::uint32_t x, std::uint16_t m, std::uint32_t& quot, std::uint16_t& rem) {
    const std::uint32_t v = 0x80000000u / m;  // m is public
    std::uint32_t part = std::uint32_t((std::uint64_t(x) * v) >> 31);
    x -= part * m;
    quot = part;
    part = std::uint32_t((std::uint64_t(x) * v) >> 31);
    x -= part * m;
    quot += part;
    // x < 2m now: subtract once more and add it back when that went below zero.
    x -= m;
    quot += 1;
    const std::uint32_t mask = std::uint32_t(negative_mask(std::int32_t(x)));
    x += mask & m;
    quot += mask;
    rem = std::uint16_t(x);
}

std::uint16_t mod14(std::uint32_t x, std::uint16_t m) {
    std::uint32_t quot;
    std::uint16_t rem;
    divmod14(x, m, quot, rem);
    return rem;
}

// Sorts with Batcher's merge-exchange network (Knuth 5.2.2 M): the comparisons made do not depend on the values.
void sort_uint32(std::uint32_t* x, int n) {
    int t = 0;
    while ((1 << t) < n) ++t;
    for (int pp = t ? 1 << (t - 1) : 0; pp > 0; pp >>= 1) {
        int qq = 1 << (t - 1), r = 0, d = pp;
        for (;;) {
            for (int i = 0; i + d < n; ++i) {
                if ((i & pp) != r) continue;
                const std::uint32_t a = x[i], b = x[i + d];
                const std::uint32_t swap = std::uint32_t(0) - std::uint32_t((std::uint64_t(b) - a) >> 63);
                const std::uint32_t diff = (a ^ b) & swap;
                x[i] = a ^ diff;
                x[i + d] = b ^ diff;
            }
            if (qq == pp) break;
            d = qq - pp;
            qq >>= 1;
            r = pp;
        }
    }
}

// ---- the mixed-radix encoding of a list of residues r[i] < m[i] (the moduli are public)

// Pairs are merged level by level until one value is left; every merged value that reaches 2^14 sheds low bytes.
// r and m are scratch.
std::size_t encode(std::uint8_t* out, std::uint16_t* r, std::uint16_t* m, std::size_t len) {
    std::uint8_t* const start = out;
    while (len > 1) {
        std::size_t i = 0;
        for (; i + 1 < len; i += 2) {
            std::uint32_t value = r[i] + std::uint32_t(r[i + 1]) * m[i];
            std::uint32_t range = std::uint32_t(m[i]) * m[i + 1];
            while (range >= 16384) {
                *out++ = std::uint8_t(value);
                value >>= 8;
                range = (range + 255) >> 8;
            }
            r[i / 2] = std::uint16_t(value);
            m[i / 2] = std::uint16_t(range);
        }
        if (i < len) {
            r[i / 2] = r[i];
            m[i / 2] = m[i];
        }
        len = (len + 1) / 2;
    }
    std::uint32_t value = r[0], range = m[0];
    while (range > 1) {
        *out++ = std::uint8_t(value);
        value >>= 8;
        range = (range + 255) >> 8;
    }
    return std::size_t(out - start);
}

// Length of encode()'s output for len residues all below m.
constexpr std::size_t encoded_size(std::uint16_t modulus, std::size_t len) {
    std::array<std::uint32_t, p> m{};
    for (std::size_t i = 0; i < len; ++i) m[i] = modulus;
    std::size_t bytes = 0;
    while (len > 1) {
        std::size_t i = 0;
        for (; i + 1 < len; i += 2) {
            std::uint32_t range = m[i] * m[i + 1];
            while (range >= 16384) ++bytes, range = (range + 255) >> 8;
            m[i / 2] = range;
        }
        if (i < len) m[i / 2] = m[i];
        len = (len + 1) / 2;
    }
    for (std::uint32_t range = m[0]; range > 1; range = (range + 255) >> 8) ++bytes;
    return bytes;
}

constexpr std::size_t rq_bytes = encoded_size(q, p);
constexpr std::size_t rounded_bytes = encoded_size(rounded_modulus, p);
static_assert(rq_bytes == public_key_size);
static_assert(rounded_bytes + confirm_bytes == ciphertext_size);
static_assert(2 * small_bytes + public_key_size + small_bytes + hash_bytes == secret_key_size);

// The inverse of encode() for len residues below modulus: reads exactly encoded_size(modulus, len) bytes and gives
// every value below its modulus whatever the bytes are.
void decode(std::uint16_t* out, const std::uint8_t* s, std::uint16_t modulus, std::size_t len) {
    constexpr int max_levels = 16;  // 761 halves to 1 in 10 steps
    // Every level's moduli, level after level: the rounded-up halves add up to less than 2p plus one per level.
    std::uint16_t moduli[2 * p + max_levels];
    std::size_t level_len[max_levels], level_at[max_levels], level_bytes[max_levels];
    for (std::size_t i = 0; i < len; ++i) moduli[i] = modulus;
    // Walk down: each level's moduli and where its bytes start.
    int top = 0;
    std::size_t at = 0, byte_at = 0;
    level_len[0] = len;
    while (level_len[top] > 1) {
        const std::size_t n = level_len[top];
        const std::uint16_t* m = moduli + at;
        std::uint16_t* next = moduli + at + n;
        level_at[top] = at;
        level_bytes[top] = byte_at;
        std::size_t i = 0;
        for (; i + 1 < n; i += 2) {
            const std::uint32_t range = std::uint32_t(m[i]) * m[i + 1];
            if (range > 256 * 16383) {
                byte_at += 2;
                next[i / 2] = std::uint16_t((((range + 255) >> 8) + 255) >> 8);
            } else if (range >= 16384) {
                byte_at += 1;
                next[i / 2] = std::uint16_t((range + 255) >> 8);
            } else {
                next[i / 2] = std::uint16_t(range);
            }
        }
        if (i < n) next[i / 2] = m[i];
        at += n;
        level_len[++top] = (n + 1) / 2;
    }
    std::uint16_t a[p], b[p];
    std::uint16_t* upper = a;  // the values of the level above the one being rebuilt
    std::uint16_t* lower = b;
    const std::uint16_t last = moduli[at];
    const std::uint8_t* tail = s + byte_at;
    upper[0] = last == 1     ? 0
               : last <= 256 ? mod14(tail[0], last)
                             : mod14(tail[0] + (std::uint32_t(tail[1]) << 8), last);
    // Walk up: split each merged value into its pair using the bytes its level shed.
    for (int level = top - 1; level >= 0; --level) {
        const std::size_t n = level_len[level];
        const std::uint16_t* m = moduli + level_at[level];
        const std::uint8_t* bytes = s + level_bytes[level];
        std::size_t i = 0;
        for (; i + 1 < n; i += 2) {
            const std::uint32_t range = std::uint32_t(m[i]) * m[i + 1];
            std::uint32_t value;
            if (range > 256 * 16383) {
                value = bytes[0] + 256 * std::uint32_t(bytes[1]) + 65536 * std::uint32_t(upper[i / 2]);
                bytes += 2;
            } else if (range >= 16384) {
                value = bytes[0] + 256 * std::uint32_t(upper[i / 2]);
                bytes += 1;
            } else {
                value = upper[i / 2];
            }
            std::uint32_t high;
            divmod14(value, m[i], high, lower[i]);
            lower[i + 1] = mod14(high, m[i + 1]);
        }
        if (i < n) lower[i] = upper[i / 2];
        std::uint16_t* t = upper;
        upper = lower;
        lower = t;
    }
    std::memcpy(out, upper, len * sizeof *out);
}

// ---- polynomials

// h = f * g in R3 = Z3[x]/(x^p - x - 1).
void r3_mult(small* h, const small* f, const small* g) {
    std::int32_t fg[2 * p - 1] = {};
    for (int i = 0; i < p; ++i)
        for (int j = 0; j < p; ++j) fg[i + j] += f[i] * g[j];
    for (int i = 2 * p - 2; i >= p; --i) {  // x^p = x + 1
        fg[i - p] += fg[i];
        fg[i - p + 1] += fg[i];
    }
    for (int i = 0; i < p; ++i) h[i] = f3_freeze(fg[i]);
}

// h = f * g in Rq with g small.
void rq_mult_small(fq* h, const fq* f, const small* g) {
    std::int32_t fg[2 * p - 1] = {};
    for (int i = 0; i < p; ++i)
        for (int j = 0; j < p; ++j) fg[i + j] += f[i] * g[j];
    for (int i = 2 * p - 2; i >= p; --i) {
        fg[i - p] += fg[i];
        fg[i - p + 1] += fg[i];
    }
    for (int i = 0; i < p; ++i) h[i] = fq_freeze(fg[i]);
    wipe(fg, sizeof fg);
}

// The reciprocals use the constant-time extended GCD of the submission (divsteps on x^p - x - 1 and the reversed
// input, 2p - 1 steps whatever the input): f, g are the pair being reduced, v, r the cofactors. Both rings share
// the steps; `eliminate` cancels g[0] against f[0] in its own ring. Returns delta, 0 when the input is invertible.
template <typename T, typename Eliminate>
std::int32_t divsteps(T (&f)[p + 1], T (&g)[p + 1], T (&v)[p + 1], T (&r)[p + 1], const small* in, T r0,
                      Eliminate eliminate) {
    r[0] = r0;
    f[0] = 1;
    f[p - 1] = f[p] = -1;
    for (int i = 0; i < p; ++i) g[p - 1 - i] = T(in[i]);
    g[p] = 0;
    std::int32_t delta = 1;
    for (int step = 0; step < 2 * p - 1; ++step) {
        for (int i = p; i > 0; --i) v[i] = v[i - 1];
        v[0] = 0;
        const std::int32_t swap = negative_mask(-delta) & nonzero_mask(g[0]);
        delta ^= swap & (delta ^ -delta);
        delta += 1;
        for (int i = 0; i < p + 1; ++i) {
            std::int32_t t = swap & (f[i] ^ g[i]);
            f[i] = T(f[i] ^ t);
            g[i] = T(g[i] ^ t);
            t = swap & (v[i] ^ r[i]);
            v[i] = T(v[i] ^ t);
            r[i] = T(r[i] ^ t);
        }
        eliminate();
        for (int i = 0; i < p; ++i) g[i] = g[i + 1];
        g[p] = 0;
    }
    return delta;
}

// out = 1/in in R3; returns false when in has no inverse.
bool r3_recip(small* out, const small* in) {
    small f[p + 1] = {}, g[p + 1], v[p + 1] = {}, r[p + 1] = {};
    const std::int32_t delta = divsteps(f, g, v, r, in, small(1), [&] {
        const std::int32_t sign = -g[0] * f[0];
        for (int i = 0; i < p + 1; ++i) g[i] = f3_freeze(g[i] + sign * f[i]);
        for (int i = 0; i < p + 1; ++i) r[i] = f3_freeze(r[i] + sign * v[i]);
    });
    const std::int32_t sign = f[0];
    for (int i = 0; i < p; ++i) out[i] = small(sign * v[p - 1 - i]);
    wipe(f, sizeof f);
    wipe(g, sizeof g);
    wipe(v, sizeof v);
    wipe(r, sizeof r);
    return delta == 0;
}

// out = 1/(3 in) in Rq. Every nonzero small polynomial has one: x^p - x - 1 is irreducible mod q.
void rq_recip3(fq* out, const small* in) {
    fq f[p + 1] = {}, g[p + 1], v[p + 1] = {}, r[p + 1] = {};
    divsteps(f, g, v, r, in, fq_recip(3), [&] {
        const std::int32_t f0 = f[0], g0 = g[0];
        for (int i = 0; i < p + 1; ++i) g[i] = fq_freeze(f0 * g[i] - g0 * f[i]);
        for (int i = 0; i < p + 1; ++i) r[i] = fq_freeze(f0 * r[i] - g0 * v[i]);
    });
    const std::int32_t scale = fq_recip(f[0]);
    for (int i = 0; i < p; ++i) out[i] = fq_freeze(scale * v[p - 1 - i]);
    wipe(f, sizeof f);
    wipe(g, sizeof g);
    wipe(v, sizeof v);
    wipe(r, sizeof r);
}

// ---- encodings of the KEM's objects

void small_encode(std::uint8_t* s, const small* f) {
    for (int i = 0; i < p / 4; ++i, f += 4)
        *s++ = std::uint8_t((f[0] + 1) | (f[1] + 1) << 2 | (f[2] + 1) << 4 | (f[3] + 1) << 6);
    *s = std::uint8_t(f[0] + 1);
}

void small_decode(small* f, const std::uint8_t* s) {
    for (int i = 0; i < p / 4; ++i, ++s)
        for (int j = 0; j < 4; ++j) *f++ = small(((*s >> (2 * j)) & 3) - 1);
    *f = small((*s & 3) - 1);
}

void rq_encode(std::uint8_t* s, const fq* r) {
    std::uint16_t values[p], moduli[p];
    for (int i = 0; i < p; ++i) values[i] = std::uint16_t(r[i] + q12), moduli[i] = q;
    encode(s, values, moduli, p);
}

void rq_decode(fq* r, const std::uint8_t* s) {
    std::uint16_t values[p];
    decode(values, s, q, p);
    for (int i = 0; i < p; ++i) r[i] = fq(values[i] - q12);
}

// Coefficients are multiples of 3 here, so each is sent as one of (q + 2) / 3 values.
void rounded_encode(std::uint8_t* s, const fq* r) {
    std::uint16_t values[p], moduli[p];
    for (int i = 0; i < p; ++i) values[i] = std::uint16_t((r[i] + q12) / 3), moduli[i] = rounded_modulus;
    encode(s, values, moduli, p);
}

void rounded_decode(fq* r, const std::uint8_t* s) {
    std::uint16_t values[p];
    decode(values, s, rounded_modulus, p);
    for (int i = 0; i < p; ++i) r[i] = fq(values[i] * 3 - q12);
}

// ---- randomness

std::uint32_t random_word(random_bytes rnd, void* context) {
    std::uint8_t b[4];
    rnd(context, b, sizeof b);
    const std::uint32_t v = b[0] | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
    wipe(b, sizeof b);
    return v;
}

// Coefficients in -1..1, nearly uniform.
void small_random(small* out, random_bytes rnd, void* context) {
    for (int i = 0; i < p; ++i) out[i] = small((((random_word(rnd, context) & 0x3fffffff) * 3) >> 30) - 1);
}

// Exactly w nonzero coefficients in random places: w words tagged +-1 and p - w tagged 0 in their low two bits are
// sorted by the random high bits, and the tags read back in sorted order.
void short_random(small* out, random_bytes rnd, void* context) {
    std::uint32_t list[p];
    for (int i = 0; i < p; ++i) list[i] = random_word(rnd, context);
    for (int i = 0; i < w; ++i) list[i] &= ~std::uint32_t(1);
    for (int i = w; i < p; ++i) list[i] = (list[i] & ~std::uint32_t(2)) | 1;
    sort_uint32(list, p);
    for (int i = 0; i < p; ++i) out[i] = small((list[i] & 3) - 1);
    wipe(list, sizeof list);
}

void system_random(void*, std::uint8_t* out, std::size_t n) { random_fill(out, n); }

// ---- hashes: the first 32 bytes of SHA-512 over a one-byte domain prefix and the input

void hash_prefix(std::uint8_t out[hash_bytes], std::uint8_t prefix, const std::uint8_t* in, std::size_t n,
                 const std::uint8_t* in2 = nullptr, std::size_t n2 = 0) {
    evp::hash_context h(evp::hash_kind::sha512);
    h.update(&prefix, 1);
    h.update(in, n);
    if (n2) h.update(in2, n2);
    std::uint8_t digest[evp::max_digest_length];
    h.final(digest);
    std::memcpy(out, digest, hash_bytes);
    wipe(digest, sizeof digest);
}

// The confirmation appended to the ciphertext binds r to the public key (through its hash, cache).
void hash_confirm(std::uint8_t out[hash_bytes], const std::uint8_t r_enc[small_bytes],
                  const std::uint8_t cache[hash_bytes]) {
    std::uint8_t inner[hash_bytes];
    hash_prefix(inner, 3, r_enc, small_bytes);
    hash_prefix(out, 2, inner, hash_bytes, cache, hash_bytes);
    wipe(inner, sizeof inner);
}

// Session key: prefix 1 for an accepted ciphertext, 0 (with rho in place of r) for a rejected one.
void hash_session(std::uint8_t out[hash_bytes], std::uint8_t prefix, const std::uint8_t r_enc[small_bytes],
                  const std::uint8_t ct[ciphertext_size]) {
    std::uint8_t inner[hash_bytes];
    hash_prefix(inner, 3, r_enc, small_bytes);
    hash_prefix(out, prefix, inner, hash_bytes, ct, ciphertext_size);
    wipe(inner, sizeof inner);
}

// Encrypts r under pk into ct (rounded c, then the confirmation); r_enc receives r's encoding.
void hide(std::uint8_t ct[ciphertext_size], std::uint8_t r_enc[small_bytes], const small* r,
          const std::uint8_t pk[public_key_size], const std::uint8_t cache[hash_bytes]) {
    small_encode(r_enc, r);
    fq h[p], c[p];
    rq_decode(h, pk);
    rq_mult_small(c, h, r);
    for (int i = 0; i < p; ++i) c[i] = fq(c[i] - f3_freeze(c[i]));  // round to the nearest multiple of 3
    rounded_encode(ct, c);
    hash_confirm(ct + rounded_bytes, r_enc, cache);
    wipe(c, sizeof c);
}

}  // namespace

void keypair(std::uint8_t pk[public_key_size], std::uint8_t sk[secret_key_size], random_bytes rnd, void* context) {
    small g[p], ginv[p], f[p];
    // Only the number of rejected g, which are thrown away, shows in the timing.
    for (;;) {
        small_random(g, rnd, context);
        if (r3_recip(ginv, g)) break;
    }
    short_random(f, rnd, context);
    fq finv[p], h[p];
    rq_recip3(finv, f);
    rq_mult_small(h, finv, g);  // h = g / (3f)
    rq_encode(pk, h);

    // sk = f, 1/g in R3, pk, rho (the key of rejected ciphertexts), the hash of pk
    std::uint8_t* const rho = sk + 2 * small_bytes + public_key_size;
    small_encode(sk, f);
    small_encode(sk + small_bytes, ginv);
    std::memcpy(sk + 2 * small_bytes, pk, public_key_size);
    rnd(context, rho, small_bytes);
    hash_prefix(rho + small_bytes, 4, pk, public_key_size);

    wipe(g, sizeof g);
    wipe(ginv, sizeof ginv);
    wipe(f, sizeof f);
    wipe(finv, sizeof finv);
}

void enc(std::uint8_t ct[ciphertext_size], std::uint8_t ss[shared_secret_size], const std::uint8_t pk[public_key_size],
         random_bytes rnd, void* context) {
    std::uint8_t cache[hash_bytes];
    hash_prefix(cache, 4, pk, public_key_size);
    small r[p];
    short_random(r, rnd, context);
    std::uint8_t r_enc[small_bytes];
    hide(ct, r_enc, r, pk, cache);
    hash_session(ss, 1, r_enc, ct);
    wipe(r, sizeof r);
    wipe(r_enc, sizeof r_enc);
}

void dec(std::uint8_t ss[shared_secret_size], const std::uint8_t ct[ciphertext_size],
         const std::uint8_t sk[secret_key_size]) {
    const std::uint8_t* pk = sk + 2 * small_bytes;
    const std::uint8_t* rho = pk + public_key_size;
    const std::uint8_t* cache = rho + small_bytes;

    small f[p], ginv[p], e[p], ev[p], r[p];
    fq c[p], cf[p];
    small_decode(f, sk);
    small_decode(ginv, sk + small_bytes);
    rounded_decode(c, ct);
    rq_mult_small(cf, c, f);
    // c = hr + m with m small and h = g/(3f), so 3fc = gr + 3fm, small enough to hold over Z: mod 3 it is gr.
    for (int i = 0; i < p; ++i) e[i] = f3_freeze(fq_freeze(3 * cf[i]));
    r3_mult(ev, e, ginv);

    // A result of the wrong weight is replaced by a fixed one of weight w; the confirmation below rejects it.
    std::int32_t weight = 0;
    for (int i = 0; i < p; ++i) weight += ev[i] & 1;
    const std::int32_t bad = nonzero_mask(weight - w);
    for (int i = 0; i < w; ++i) r[i] = small(((ev[i] ^ 1) & ~bad) ^ 1);
    for (int i = w; i < p; ++i) r[i] = small(ev[i] & ~bad);

    std::uint8_t r_enc[small_bytes], again[ciphertext_size];
    hide(again, r_enc, r, pk, cache);
    std::uint32_t diff = 0;
    for (std::size_t i = 0; i < ciphertext_size; ++i) diff |= std::uint32_t(ct[i] ^ again[i]);
    const std::uint8_t differs = std::uint8_t(nonzero_mask(std::int32_t(diff)));  // 0xff when ct was not ours
    for (std::size_t i = 0; i < small_bytes; ++i) r_enc[i] = std::uint8_t(r_enc[i] ^ (differs & (r_enc[i] ^ rho[i])));
    hash_session(ss, std::uint8_t(1 + std::int8_t(differs)), r_enc, ct);

    wipe(f, sizeof f);
    wipe(ginv, sizeof ginv);
    wipe(e, sizeof e);
    wipe(ev, sizeof ev);
    wipe(r, sizeof r);
    wipe(cf, sizeof cf);
    wipe(r_enc, sizeof r_enc);
}

void keypair(std::uint8_t pk[public_key_size], std::uint8_t sk[secret_key_size]) {
    keypair(pk, sk, system_random, nullptr);
}

void enc(std::uint8_t ct[ciphertext_size], std::uint8_t ss[shared_secret_size],
         const std::uint8_t pk[public_key_size]) {
    enc(ct, ss, pk, system_random, nullptr);
}

}  // namespace crypto::sntrup761
