#include "crypto/mlkem768.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "crypto/openssl_ptr.h"
#include "crypto/random.h"
#include "crypto/wipe.h"

namespace crypto::mlkem768 {

namespace {

constexpr int n = 256, k = 3, du = 10, dv = 4;
constexpr std::uint32_t q = 3329;
constexpr std::size_t poly_bytes = 384, vector_bytes = k * poly_bytes, u_bytes = 32 * du * k;
constexpr std::size_t prf_bytes = 64 * 2;  // eta1 = eta2 = 2
static_assert(public_key_size == vector_bytes + 32 && ciphertext_size == u_bytes + 32 * dv &&
              secret_key_size == 2 * vector_bytes + 3 * 32);

// Coefficients are kept fully reduced, in [0, q).
struct poly {
    std::uint16_t c[n];
};

// ---- Arithmetic mod q, without branches or divisions on the values.

std::uint16_t csub(std::uint32_t x) {  // x < 2q
    x -= q;
    x += (0u - (x >> 31)) & q;
    return std::uint16_t(x);
}

// floor(2^32 / q): the quotient estimate is at most one short for any 32-bit x.
constexpr std::uint64_t barrett = (std::uint64_t(1) << 32) / q;

std::uint16_t reduce(std::uint32_t x) {
    const auto quot = std::uint32_t((x * barrett) >> 32);
    return csub(x - quot * q);
}

std::uint16_t add(std::uint32_t a, std::uint32_t b) { return csub(a + b); }
std::uint16_t sub(std::uint32_t a, std::uint32_t b) { return csub(a + q - b); }

constexpr unsigned bitrev7(unsigned i) {
    unsigned r = 0;
    for (int b = 0; b < 7; ++b) r |= ((i >> b) & 1) << (6 - b);
    return r;
}

constexpr std::uint32_t pow17(unsigned e) {
    std::uint32_t r = 1;
    while (e--) r = r * 17 % q;
    return r;
}

// zeta[i] = 17^BitRev7(i) for the butterflies, gamma[i] = 17^(2 BitRev7(i) + 1) for the base-case products.
struct ntt_tables {
    std::uint16_t zeta[128], gamma[128];
};

constexpr ntt_tables make_tables() {
    ntt_tables t{};
    for (unsigned i = 0; i < 128; ++i) {
        t.zeta[i] = std::uint16_t(pow17(bitrev7(i)));
        t.gamma[i] = std::uint16_t(pow17(2 * bitrev7(i) + 1));
    }
    return t;
}

constexpr ntt_tables tables = make_tables();
static_assert(tables.zeta[1] == 1729 && tables.gamma[0] == 17 && tables.gamma[1] == q - 17);

void ntt(poly& f) {
    unsigned i = 1;
    for (unsigned len = 128; len >= 2; len /= 2)
        for (unsigned start = 0; start < n; start += 2 * len) {
            const std::uint32_t z = tables.zeta[i++];
            for (unsigned j = start; j < start + len; ++j) {
                const std::uint16_t t = reduce(z * f.c[j + len]);
                f.c[j + len] = sub(f.c[j], t);
                f.c[j] = add(f.c[j], t);
            }
        }
}

void inverse_ntt(poly& f) {
    unsigned i = 127;
    for (unsigned len = 2; len <= 128; len *= 2)
        for (unsigned start = 0; start < n; start += 2 * len) {
            const std::uint32_t z = tables.zeta[i--];
            for (unsigned j = start; j < start + len; ++j) {
                const std::uint16_t t = f.c[j];
                f.c[j] = add(t, f.c[j + len]);
                f.c[j + len] = reduce(z * sub(f.c[j + len], t));
            }
        }
    for (auto& x : f.c) x = reduce(x * 3303u);  // 3303 = 128^-1 mod q
}

// acc += a * b, both in the NTT domain.
void multiply_add(poly& acc, const poly& a, const poly& b) {
    for (int i = 0; i < n / 2; ++i) {
        const std::uint32_t a0 = a.c[2 * i], a1 = a.c[2 * i + 1], b0 = b.c[2 * i], b1 = b.c[2 * i + 1];
        const std::uint16_t c0 = reduce(a0 * b0 + reduce(a1 * b1) * std::uint32_t(tables.gamma[i]));
        const std::uint16_t c1 = reduce(a0 * b1 + a1 * b0);
        acc.c[2 * i] = add(acc.c[2 * i], c0);
        acc.c[2 * i + 1] = add(acc.c[2 * i + 1], c1);
    }
}

// ---- Encodings.

void encode12(const poly& f, std::uint8_t* out) {
    for (int i = 0; i < n / 2; ++i) {
        const std::uint16_t a = f.c[2 * i], b = f.c[2 * i + 1];
        out[3 * i] = std::uint8_t(a);
        out[3 * i + 1] = std::uint8_t((a >> 8) | (b << 4));
        out[3 * i + 2] = std::uint8_t(b >> 4);
    }
}

// Reduces mod q as ByteDecode_12 does; returns nonzero when some coefficient was q or more (the modulus check),
// found without branching because secret keys pass through here too.
std::uint32_t decode12(const std::uint8_t* in, poly& f) {
    std::uint32_t over = 0;
    for (int i = 0; i < n / 2; ++i) {
        const std::uint32_t a = in[3 * i] | std::uint32_t(in[3 * i + 1] & 15) << 8;
        const std::uint32_t b = in[3 * i + 1] >> 4 | std::uint32_t(in[3 * i + 2]) << 4;
        over |= ((q - 1 - a) | (q - 1 - b)) >> 31;
        f.c[2 * i] = csub(a);
        f.c[2 * i + 1] = csub(b);
    }
    return over;
}

// ByteEncode_d / ByteDecode_d for d < 12, least significant bit first.
template <int d>
void encode(const poly& f, std::uint8_t* out) {
    std::uint32_t acc = 0;
    int bits = 0;
    for (int i = 0; i < n; ++i) {
        acc |= std::uint32_t(f.c[i]) << bits;
        for (bits += d; bits >= 8; bits -= 8) {
            *out++ = std::uint8_t(acc);
            acc >>= 8;
        }
    }
}

template <int d>
void decode(const std::uint8_t* in, poly& f) {
    std::uint32_t acc = 0;
    int bits = 0;
    for (int i = 0; i < n; ++i) {
        for (; bits < d; bits += 8) acc |= std::uint32_t(*in++) << bits;
        f.c[i] = std::uint16_t(acc & ((1u << d) - 1));
        acc >>= d;
        bits -= d;
    }
}

// round(2^d x / q) mod 2^d; the quotient of the Barrett estimate gets its one possible correction by mask.
template <int d>
std::uint16_t compress(std::uint16_t x) {
    const std::uint32_t num = (std::uint32_t(x) << d) + q / 2;
    std::uint32_t quot = std::uint32_t((num * barrett) >> 32);
    quot += (q - 1 - (num - quot * q)) >> 31;
    return std::uint16_t(quot & ((1u << d) - 1));
}

template <int d>
std::uint16_t decompress(std::uint16_t y) {
    return std::uint16_t((std::uint32_t(y) * q + (1u << (d - 1))) >> d);
}

template <int d>
void compress_encode(poly& f, std::uint8_t* out) {
    for (auto& x : f.c) x = compress<d>(x);
    encode<d>(f, out);
}

template <int d>
void decode_decompress(const std::uint8_t* in, poly& f) {
    decode<d>(in, f);
    for (auto& x : f.c) x = decompress<d>(x);
}

// ---- Hashes from libcrypto.

[[noreturn]] void fatal(const char* why) {
    std::fprintf(stderr, "fatal: ML-KEM: %s\n", why);
    std::abort();
}

[[noreturn]] void hash_failed() { fatal("libcrypto could not compute SHA-3"); }

const EVP_MD* sha3_256() {
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA3-256", nullptr);
    return md;
}
const EVP_MD* sha3_512() {
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA3-512", nullptr);
    return md;
}
const EVP_MD* shake128() {
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHAKE128", nullptr);
    return md;
}
const EVP_MD* shake256() {
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHAKE256", nullptr);
    return md;
}

struct part {
    const std::uint8_t* p;
    std::size_t n;
};

// One libcrypto context per operation, reused for every hash in it.
class hasher {
public:
    hasher() : ctx_(EVP_MD_CTX_new()) {
        if (!ctx_) hash_failed();
    }

    void run(const EVP_MD* md, std::initializer_list<part> in, std::uint8_t* out, std::size_t out_len) {
        if (!md || EVP_DigestInit_ex2(ctx_.get(), md, nullptr) != 1) hash_failed();
        for (const part& p : in)
            if (EVP_DigestUpdate(ctx_.get(), p.p, p.n) != 1) hash_failed();
        const bool xof = (EVP_MD_get_flags(md) & EVP_MD_FLAG_XOF) != 0;
        const int ok =
            xof ? EVP_DigestFinalXOF(ctx_.get(), out, out_len) : EVP_DigestFinal_ex(ctx_.get(), out, nullptr);
        if (ok != 1) hash_failed();
    }

    void H(const std::uint8_t* p, std::size_t len, std::uint8_t out[32]) { run(sha3_256(), {{p, len}}, out, 32); }
    void G(std::initializer_list<part> in, std::uint8_t out[64]) { run(sha3_512(), in, out, 64); }
    void prf(const std::uint8_t seed[32], std::uint8_t nonce, std::uint8_t out[prf_bytes]) {
        run(shake256(), {{seed, 32}, {&nonce, 1}}, out, prf_bytes);
    }

private:
    openssl::md_ctx_ptr ctx_;
};

// ---- Sampling.

// SampleNTT: rejection sampling from SHAKE128(rho || j || i) into fully reduced values. Returns false when the bytes
// ran out before 256 values were found.
bool parse_uniform(const std::uint8_t* buf, std::size_t len, poly& f) {
    int j = 0;
    for (std::size_t pos = 0; pos + 3 <= len && j < n; pos += 3) {
        const std::uint32_t d1 = buf[pos] | std::uint32_t(buf[pos + 1] & 15) << 8;
        const std::uint32_t d2 = buf[pos + 1] >> 4 | std::uint32_t(buf[pos + 2]) << 4;
        if (d1 < q) f.c[j++] = std::uint16_t(d1);
        if (d2 < q && j < n) f.c[j++] = std::uint16_t(d2);
    }
    return j == n;
}

// OpenSSL 3.0 squeezes an XOF only once, so a fixed length is read: three blocks give 336 candidates for the 256
// values, enough about 99 times in 100; the rest are read again with sixteen blocks (the same stream, longer), which
// falls short with a probability below 2^-1000.
constexpr std::size_t shake128_rate = 168, first_blocks = 3, retry_blocks = 16;

void sample_ntt(hasher& h, const std::uint8_t rho[32], std::uint8_t j, std::uint8_t i, poly& f) {
    const std::uint8_t ji[2] = {j, i};
    std::uint8_t buf[first_blocks * shake128_rate];
    h.run(shake128(), {{rho, 32}, {ji, 2}}, buf, sizeof buf);
    if (parse_uniform(buf, sizeof buf, f)) return;
    std::uint8_t more[retry_blocks * shake128_rate];
    h.run(shake128(), {{rho, 32}, {ji, 2}}, more, sizeof more);
    if (!parse_uniform(more, sizeof more, f)) fatal("too few samples below q in 16 blocks of SHAKE128");
}

// a[i][j] = SampleNTT(rho || j || i).
void expand_matrix(hasher& h, const std::uint8_t rho[32], poly (&a)[k][k]) {
    for (int i = 0; i < k; ++i)
        for (int j = 0; j < k; ++j) sample_ntt(h, rho, std::uint8_t(j), std::uint8_t(i), a[i][j]);
}

// SamplePolyCBD_2 of PRF(seed, nonce): each coefficient is (b0 + b1) - (b2 + b3) of four consecutive bits.
void sample_cbd(hasher& h, const std::uint8_t seed[32], std::uint8_t nonce, poly& f) {
    std::uint8_t buf[prf_bytes];
    h.prf(seed, nonce, buf);
    for (std::size_t i = 0; i < prf_bytes; ++i) {
        const std::uint32_t b = buf[i];
        const std::uint32_t s = (b & 0x55) + ((b >> 1) & 0x55);
        f.c[2 * i] = csub(q + (s & 3) - ((s >> 2) & 3));
        f.c[2 * i + 1] = csub(q + ((s >> 4) & 3) - ((s >> 6) & 3));
    }
    wipe(buf, sizeof buf);
}

// ---- K-PKE.

void pke_keygen(hasher& h, const std::uint8_t d[32], std::uint8_t ek[public_key_size], std::uint8_t dk[vector_bytes]) {
    const std::uint8_t kb = k;
    std::uint8_t g[64];  // rho || sigma
    h.G({{d, 32}, {&kb, 1}}, g);
    const std::uint8_t* rho = g;
    const std::uint8_t* sigma = g + 32;

    poly a[k][k], s[k], e[k];
    expand_matrix(h, rho, a);
    std::uint8_t nonce = 0;
    for (auto& p : s) sample_cbd(h, sigma, nonce++, p);
    for (auto& p : e) sample_cbd(h, sigma, nonce++, p);
    for (auto& p : s) ntt(p);
    for (auto& p : e) ntt(p);

    for (int i = 0; i < k; ++i) {
        poly t = e[i];
        for (int j = 0; j < k; ++j) multiply_add(t, a[i][j], s[j]);
        encode12(t, ek + i * poly_bytes);
        encode12(s[i], dk + i * poly_bytes);
    }
    std::memcpy(ek + vector_bytes, rho, 32);
    wipe(g, sizeof g);
    wipe(s, sizeof s);
    wipe(e, sizeof e);
}

// ek's coefficients are taken mod q here; the modulus check is the caller's.
void pke_encrypt(hasher& h, const std::uint8_t ek[public_key_size], const std::uint8_t m[32], const std::uint8_t r[32],
                 std::uint8_t ct[ciphertext_size]) {
    poly t[k], a[k][k], y[k], e1[k], e2;
    for (int i = 0; i < k; ++i) decode12(ek + i * poly_bytes, t[i]);
    expand_matrix(h, ek + vector_bytes, a);
    std::uint8_t nonce = 0;
    for (auto& p : y) sample_cbd(h, r, nonce++, p);
    for (auto& p : e1) sample_cbd(h, r, nonce++, p);
    sample_cbd(h, r, nonce, e2);
    for (auto& p : y) ntt(p);

    for (int i = 0; i < k; ++i) {
        poly u{};
        for (int j = 0; j < k; ++j) multiply_add(u, a[j][i], y[j]);
        inverse_ntt(u);
        for (int c = 0; c < n; ++c) u.c[c] = add(u.c[c], e1[i].c[c]);
        compress_encode<du>(u, ct + i * 32 * du);
    }

    poly v{}, mu;
    for (int j = 0; j < k; ++j) multiply_add(v, t[j], y[j]);
    inverse_ntt(v);
    decode_decompress<1>(m, mu);
    for (int c = 0; c < n; ++c) v.c[c] = add(add(v.c[c], e2.c[c]), mu.c[c]);
    compress_encode<dv>(v, ct + u_bytes);

    wipe(y, sizeof y);
    wipe(e1, sizeof e1);
    wipe(&e2, sizeof e2);
    wipe(&mu, sizeof mu);
    wipe(&v, sizeof v);
}

void pke_decrypt(const std::uint8_t dk[vector_bytes], const std::uint8_t ct[ciphertext_size], std::uint8_t m[32]) {
    poly w{}, s, u, v;
    for (int i = 0; i < k; ++i) {
        decode_decompress<du>(ct + i * 32 * du, u);
        ntt(u);
        decode12(dk + i * poly_bytes, s);
        multiply_add(w, s, u);
    }
    inverse_ntt(w);
    decode_decompress<dv>(ct + u_bytes, v);
    for (int c = 0; c < n; ++c) w.c[c] = sub(v.c[c], w.c[c]);
    compress_encode<1>(w, m);
    wipe(&w, sizeof w);
    wipe(&s, sizeof s);
}

// All ones when the buffers match, else zero, without a branch on where they differ.
std::uint8_t equal_mask(const std::uint8_t* a, const std::uint8_t* b, std::size_t len) {
    std::uint32_t diff = 0;
    for (std::size_t i = 0; i < len; ++i) diff |= std::uint32_t(a[i] ^ b[i]);
#if defined(__GNUC__)
    __asm__("" : "+r"(diff));  // keeps the compiler from turning the mask back into a branch
#endif
    return std::uint8_t((diff - 1) >> 8);
}

}  // namespace

bool public_key_valid(const std::uint8_t pk[public_key_size]) {
    std::uint32_t over = 0;
    poly t;
    for (int i = 0; i < k; ++i) over |= decode12(pk + i * poly_bytes, t);
    return over == 0;
}

void keypair_derand(const std::uint8_t d[32], const std::uint8_t z[32], std::uint8_t pk[public_key_size],
                    std::uint8_t sk[secret_key_size]) {
    hasher h;
    pke_keygen(h, d, pk, sk);
    std::memcpy(sk + vector_bytes, pk, public_key_size);
    h.H(pk, public_key_size, sk + vector_bytes + public_key_size);
    std::memcpy(sk + secret_key_size - 32, z, 32);
}

bool encaps_derand(const std::uint8_t pk[public_key_size], const std::uint8_t m[32], std::uint8_t ct[ciphertext_size],
                   std::uint8_t ss[shared_secret_size]) {
    if (!public_key_valid(pk)) {
        std::memset(ct, 0, ciphertext_size);
        std::memset(ss, 0, shared_secret_size);
        return false;
    }
    hasher h;
    std::uint8_t hpk[32], kr[64];  // K || r
    h.H(pk, public_key_size, hpk);
    h.G({{m, 32}, {hpk, 32}}, kr);
    pke_encrypt(h, pk, m, kr + 32, ct);
    std::memcpy(ss, kr, shared_secret_size);
    wipe(kr, sizeof kr);
    return true;
}

bool decaps(const std::uint8_t sk[secret_key_size], const std::uint8_t ct[ciphertext_size],
            std::uint8_t ss[shared_secret_size]) {
    const std::uint8_t* dk = sk;
    const std::uint8_t* ek = sk + vector_bytes;
    const std::uint8_t* hek = ek + public_key_size;
    const std::uint8_t* z = hek + 32;
    hasher h;
    std::uint8_t check[32];
    h.H(ek, public_key_size, check);
    if (!equal_const_time(check, hek, 32)) {
        std::memset(ss, 0, shared_secret_size);
        return false;
    }

    std::uint8_t m[32], kr[64], rejection[32], again[ciphertext_size];
    pke_decrypt(dk, ct, m);
    h.G({{m, 32}, {hek, 32}}, kr);
    h.run(shake256(), {{z, 32}, {ct, ciphertext_size}}, rejection, 32);
    pke_encrypt(h, ek, m, kr + 32, again);
    const std::uint8_t keep = equal_mask(ct, again, ciphertext_size);
    for (std::size_t i = 0; i < shared_secret_size; ++i)
        ss[i] = std::uint8_t(rejection[i] ^ (keep & (kr[i] ^ rejection[i])));
    wipe(m, sizeof m);
    wipe(kr, sizeof kr);
    wipe(rejection, sizeof rejection);
    wipe(again, sizeof again);
    return true;
}

void keypair(std::uint8_t pk[public_key_size], std::uint8_t sk[secret_key_size]) {
    std::uint8_t dz[64];
    random_fill(dz, sizeof dz);
    keypair_derand(dz, dz + 32, pk, sk);
    wipe(dz, sizeof dz);
}

bool encaps(const std::uint8_t pk[public_key_size], std::uint8_t ct[ciphertext_size],
            std::uint8_t ss[shared_secret_size]) {
    std::uint8_t m[32];
    random_fill(m, sizeof m);
    const bool ok = encaps_derand(pk, m, ct, ss);
    wipe(m, sizeof m);
    return ok;
}

}  // namespace crypto::mlkem768
