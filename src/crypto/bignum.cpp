#include "crypto/bignum.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "crypto/wipe.h"

namespace crypto {
namespace {

// Scratch digit buffer for intermediate values; wiped on release.
struct scratch {
    std::vector<uint16_t> v;
    explicit scratch(std::size_t n) : v(n, 0) {}
    ~scratch() { wipe(v.data(), v.size() * sizeof(uint16_t)); }
    uint16_t* data() { return v.data(); }
    scratch(const scratch&) = delete;
    scratch& operator=(const scratch&) = delete;
};

std::size_t used_digits(const uint16_t* a, std::size_t n) {
    while (n > 1 && a[n - 1] == 0) --n;
    return n;
}

// r[0 .. na + nb) = a * b; r must not overlap a or b.
void mul_raw(uint16_t* r, const uint16_t* a, std::size_t na, const uint16_t* b, std::size_t nb) {
    std::memset(r, 0, (na + nb) * sizeof(uint16_t));
    for (std::size_t i = 0; i < na; ++i) {
        uint32_t ai = a[i];
        if (ai == 0) continue;
        uint32_t carry = 0;
        uint16_t* ri = r + i;
        for (std::size_t j = 0; j < nb; ++j) {
            // 0xFFFF * 0xFFFF + 0xFFFF + 0xFFFF fits 32 bits exactly
            uint32_t t = ai * b[j] + ri[j] + carry;
            ri[j] = uint16_t(t);
            carry = t >> 16;
        }
        ri[nb] = uint16_t(carry);
    }
}

// Column-sum multiplication: each 16 x 16 -> 32-bit partial product is split into its halves, which are added to
// 32-bit column sums (lo for column i + j, hi for column i + j + 1). No carry runs along the inner loop, so it
// vectorises; one pass at the end turns the sums into digits. Sums stay below 2^32 for up to max_column_digits.
constexpr std::size_t max_column_digits = 16384;

struct column_sums {
    std::vector<uint32_t> lo, hi;
    explicit column_sums(std::size_t n) : lo(n, 0), hi(n, 0) {}
    ~column_sums() {
        wipe(lo.data(), lo.size() * sizeof(uint32_t));
        wipe(hi.data(), hi.size() * sizeof(uint32_t));
    }
    column_sums(const column_sums&) = delete;
    column_sums& operator=(const column_sums&) = delete;

    // r[0 .. n) = the digits of the sums over the first n columns.
    void to_digits(uint16_t* r, std::size_t n) {
        uint32_t carry = 0, prev_hi = 0;
        for (std::size_t k = 0; k < n; ++k) {
            uint32_t t = lo[k] + prev_hi + carry;
            prev_hi = hi[k];
            r[k] = uint16_t(t);
            carry = t >> 16;
        }
    }
};

inline void mul_rows(uint32_t* __restrict lo, uint32_t* __restrict hi, const uint16_t* __restrict a, std::size_t na,
                     const uint16_t* __restrict b, std::size_t nb) {
    for (std::size_t i = 0; i < na; ++i) {
        const uint32_t ai = a[i];
        uint32_t* __restrict l = lo + i;
        uint32_t* __restrict h = hi + i;
        for (std::size_t j = 0; j < nb; ++j) {
            uint32_t p = ai * b[j];
            l[j] += p & 0xFFFF;
            h[j] += p >> 16;
        }
    }
}

// r[0 .. 2n) = a * a: the cross products once, doubled, then the squares on the diagonal.
void sqr_columns(uint16_t* r, const uint16_t* a, std::size_t n, column_sums& cs) {
    uint32_t* lo = cs.lo.data();
    uint32_t* hi = cs.hi.data();
    std::memset(lo, 0, 2 * n * sizeof(uint32_t));
    std::memset(hi, 0, 2 * n * sizeof(uint32_t));
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const uint32_t ai = a[i];
        uint32_t* __restrict l = lo + 2 * i + 1;
        uint32_t* __restrict h = hi + 2 * i + 1;
        const uint16_t* __restrict b = a + i + 1;
        const std::size_t m = n - i - 1;
        for (std::size_t j = 0; j < m; ++j) {
            uint32_t p = ai * b[j];
            l[j] += p & 0xFFFF;
            h[j] += p >> 16;
        }
    }
    for (std::size_t k = 0; k < 2 * n; ++k) {
        lo[k] <<= 1;
        hi[k] <<= 1;
    }
    for (std::size_t i = 0; i < n; ++i) {
        uint32_t p = uint32_t(a[i]) * a[i];
        lo[2 * i] += p & 0xFFFF;
        hi[2 * i] += p >> 16;
    }
    cs.to_digits(r, 2 * n);
}

void mul_columns(uint16_t* r, const uint16_t* a, std::size_t na, const uint16_t* b, std::size_t nb, column_sums& cs) {
    std::memset(cs.lo.data(), 0, (na + nb) * sizeof(uint32_t));
    std::memset(cs.hi.data(), 0, (na + nb) * sizeof(uint32_t));
    mul_rows(cs.lo.data(), cs.hi.data(), a, na, b, nb);
    cs.to_digits(r, na + nb);
}

// Knuth's Algorithm D. u has nu + 1 digits (u[nu] the extra top digit), nu >= nv; v has nv digits with the top
// bit of v[nv - 1] set. Leaves the remainder in u[0 .. nv) and, when q is given, nu - nv + 1 quotient digits.
void divrem_core(uint16_t* u, std::size_t nu, const uint16_t* v, std::size_t nv, uint16_t* q) {
    const uint32_t vt = v[nv - 1];
    const uint32_t vs = nv >= 2 ? v[nv - 2] : 0;
    for (std::size_t j = nu - nv + 1; j-- > 0;) {
        uint16_t* uj = u + j;
        uint32_t num = (uint32_t(uj[nv]) << 16) | uj[nv - 1];
        uint32_t qhat = num / vt;
        uint32_t rhat = num % vt;
        if (nv >= 2) {
            uint32_t next = uj[nv - 2];
            while (qhat >= 0x10000u || uint64_t(qhat) * vs > ((uint64_t(rhat) << 16) | next)) {
                --qhat;
                rhat += vt;
                if (rhat >= 0x10000u) break;
            }
        } else if (qhat >= 0x10000u) {
            qhat = 0xFFFF;  // cannot happen with a single-digit divisor, kept for safety
        }
        if (qhat) {
            // One signed carry (-3 .. 0) instead of a product carry and a borrow: the products stay off the
            // dependency chain, which is then one add and one shift per digit.
            int32_t c = 0;
            uint32_t hi_prev = 0;
            for (std::size_t i = 0; i < nv; ++i) {
                uint32_t p = qhat * v[i];
                int32_t t = int32_t(uj[i]) - int32_t(p & 0xFFFF) - int32_t(hi_prev) + c;
                hi_prev = p >> 16;
                uj[i] = uint16_t(t);
                c = t >> 16;
            }
            int32_t t = int32_t(uj[nv]) - int32_t(hi_prev) + c;
            uj[nv] = uint16_t(t);
            if (t < 0) {
                // estimate was one too high: add the divisor back
                --qhat;
                uint32_t c = 0;
                for (std::size_t i = 0; i < nv; ++i) {
                    uint32_t s = uint32_t(uj[i]) + v[i] + c;
                    uj[i] = uint16_t(s);
                    c = s >> 16;
                }
                uj[nv] = uint16_t(uj[nv] + c);
            }
        }
        if (q) q[j] = uint16_t(qhat);
    }
}

int leading_zero_bits(uint16_t top) {
    int s = 0;
    while (s < 16 && !(top & (0x8000 >> s))) ++s;
    return s;
}

// dst[0 .. n] = src[0 .. n) << s, 0 <= s < 16 (n + 1 digits written).
void shl_raw(uint16_t* dst, const uint16_t* src, std::size_t n, int s) {
    if (s == 0) {
        std::memmove(dst, src, n * sizeof(uint16_t));
        dst[n] = 0;
        return;
    }
    uint16_t carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
        uint16_t x = src[i];
        dst[i] = uint16_t((x << s) | carry);
        carry = uint16_t(x >> (16 - s));
    }
    dst[n] = carry;
}

// a[0 .. n) >>= s in place, 0 <= s < 16.
void shr_raw(uint16_t* a, std::size_t n, int s) {
    if (s == 0) return;
    for (std::size_t i = 0; i < n; ++i) {
        uint16_t hi = i + 1 < n ? a[i + 1] : 0;
        a[i] = uint16_t((a[i] >> s) | (hi << (16 - s)));
    }
}

bignum make(const uint16_t* p, std::size_t n) {
    bignum r(n);
    std::memcpy(r.data(), p, n * sizeof(uint16_t));
    r.normalise();
    return r;
}

}  // namespace

bignum bignum::from_u32(uint32_t v) {
    bignum r(2);
    r.d_[0] = uint16_t(v);
    r.d_[1] = uint16_t(v >> 16);
    r.normalise();
    return r;
}

bignum& bignum::operator=(const bignum& o) {
    if (this != &o) {
        wipe(d_.data(), d_.size() * sizeof(uint16_t));
        d_ = o.d_;
    }
    return *this;
}

bignum& bignum::operator=(bignum&& o) noexcept {
    if (this != &o) {
        wipe(d_.data(), d_.size() * sizeof(uint16_t));
        d_ = std::move(o.d_);
        o.d_.assign(1, 0);
    }
    return *this;
}

bignum::~bignum() { wipe(d_.data(), d_.size() * sizeof(uint16_t)); }

bool bignum::is_zero() const {
    for (uint16_t x : d_)
        if (x) return false;
    return true;
}

bool bignum::is_one() const {
    if (d_.empty() || d_[0] != 1) return false;
    for (std::size_t i = 1; i < d_.size(); ++i)
        if (d_[i]) return false;
    return true;
}

unsigned bignum::bit_length() const {
    std::size_t n = d_.size();
    while (n > 0 && d_[n - 1] == 0) --n;
    if (n == 0) return 0;
    return unsigned(16 * n - leading_zero_bits(d_[n - 1]));
}

void bignum::set_bit(std::size_t i, bool value) {
    std::size_t w = i / 16;
    if (w >= d_.size()) {
        if (!value) return;
        // grow into a fresh buffer so the old digits can be wiped rather than left behind by a reallocation
        std::vector<uint16_t> grown(w + 1, 0);
        std::memcpy(grown.data(), d_.data(), d_.size() * sizeof(uint16_t));
        wipe(d_.data(), d_.size() * sizeof(uint16_t));
        d_.swap(grown);
    }
    uint16_t m = uint16_t(1u << (i % 16));
    d_[w] = value ? uint16_t(d_[w] | m) : uint16_t(d_[w] & ~m);
}

void bignum::normalise() {
    std::size_t n = used_digits(d_.data(), d_.size());
    if (n < d_.size()) d_.resize(n);
    if (d_.empty()) d_.push_back(0);
}

int compare(const bignum& a, const bignum& b) {
    std::size_t n = std::max(a.size(), b.size());
    for (std::size_t i = n; i-- > 0;) {
        uint16_t x = a.digit(i), y = b.digit(i);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

bignum with_bit(unsigned k) {
    bignum r(k / 16 + 1);
    r.set_bit(k, true);
    return r;
}

bignum shift_right(const bignum& a, unsigned k) {
    unsigned bits = a.bit_length();
    if (bits <= k) return bignum();
    std::size_t n = (bits - k + 15) / 16;
    bignum r(n);
    std::size_t dw = k / 16;
    int s = int(k % 16);
    for (std::size_t i = 0; i < n; ++i) {
        uint32_t lo = a.digit(i + dw), hi = a.digit(i + dw + 1);
        r.data()[i] = uint16_t(((hi << 16 | lo) >> s) & 0xFFFF);
    }
    r.normalise();
    return r;
}

bignum mask(const bignum& a) {
    unsigned bits = a.bit_length();
    bignum r((bits + 15) / 16);
    for (unsigned i = 0; i < bits; ++i) r.set_bit(i, true);
    return r;
}

bignum multiply_add(const bignum& a, const bignum& b, const bignum* c) {
    std::size_t na = used_digits(a.data(), a.size()), nb = used_digits(b.data(), b.size());
    std::size_t nc = c ? c->size() : 0;
    std::size_t n = std::max(na + nb, nc) + 1;
    bignum r(n);
    mul_raw(r.data(), a.data(), na, b.data(), nb);
    if (c) {
        uint32_t carry = 0;
        for (std::size_t i = 0; i < n; ++i) {
            uint32_t s = uint32_t(r.data()[i]) + c->digit(i) + carry;
            r.data()[i] = uint16_t(s);
            carry = s >> 16;
        }
    }
    r.normalise();
    return r;
}

divmod_result divmod(const bignum& a, const bignum& m) {
    std::size_t nm = used_digits(m.data(), m.size());
    if (nm == 1 && m.data()[0] == 0) throw std::domain_error("division by zero");
    std::size_t na = used_digits(a.data(), a.size());
    if (na < nm || compare(a, m) < 0) {
        bignum rem = make(a.data(), na);
        return {std::move(rem), bignum()};
    }
    int s = leading_zero_bits(m.data()[nm - 1]);
    scratch v(nm + 1), u(na + 1);
    shl_raw(v.data(), m.data(), nm, s);
    shl_raw(u.data(), a.data(), na, s);
    bignum q(na - nm + 1);
    divrem_core(u.data(), na, v.data(), nm, q.data());
    shr_raw(u.data(), nm, s);
    q.normalise();
    return {make(u.data(), nm), std::move(q)};
}

bignum mod(const bignum& a, const bignum& m) { return std::move(divmod(a, m).remainder); }

bignum mulmod(const bignum& a, const bignum& b, const bignum& m) {
    bignum p = multiply_add(a, b);
    return mod(p, m);
}

bignum modexp(const bignum& base, const bignum& exponent, const bignum& m) {
    const std::size_t nm = used_digits(m.data(), m.size());
    if (nm == 1 && m.data()[0] == 0) throw std::domain_error("modulus is zero");
    const int s = leading_zero_bits(m.data()[nm - 1]);

    // m' = m << s has its top bit set, so every reduction below runs without shifting.
    scratch mm(nm + 1);
    shl_raw(mm.data(), m.data(), nm, s);

    scratch b(nm);
    {
        bignum reduced = mod(base, m);
        std::memcpy(b.data(), reduced.data(), std::min(reduced.size(), nm) * sizeof(uint16_t));
    }
    scratch acc(nm);
    acc.data()[0] = 1;
    scratch t(2 * nm + 1);
    const bool columns = nm <= max_column_digits;
    column_sums cs(columns ? 2 * nm : 0);

    auto reduce_into_acc = [&] {
        t.data()[2 * nm] = 0;
        divrem_core(t.data(), 2 * nm, mm.data(), nm, nullptr);
        std::memcpy(acc.data(), t.data(), nm * sizeof(uint16_t));
    };

    for (unsigned i = exponent.bit_length(); i-- > 0;) {
        if (columns)
            sqr_columns(t.data(), acc.data(), nm, cs);
        else
            mul_raw(t.data(), acc.data(), nm, acc.data(), nm);
        reduce_into_acc();
        if (exponent.bit(i)) {
            if (columns)
                mul_columns(t.data(), acc.data(), nm, b.data(), nm, cs);
            else
                mul_raw(t.data(), acc.data(), nm, b.data(), nm);
            reduce_into_acc();
        }
    }

    // acc is the value modulo m'; (acc * 2^s mod m') >> s is the value modulo m (this also reduces 1 mod 1).
    shl_raw(t.data(), acc.data(), nm, s);
    divrem_core(t.data(), nm, mm.data(), nm, nullptr);
    shr_raw(t.data(), nm, s);
    bignum r(nm);
    std::memcpy(r.data(), t.data(), nm * sizeof(uint16_t));
    r.normalise();
    return r;
}

std::optional<bignum> inverse(const bignum& a, const bignum& m) {
    if (m.bit_length() < 2) return std::nullopt;
    bignum r0 = m;
    bignum r1 = mod(a, m);
    bignum t0;  // zero
    bignum t1 = bignum::from_u32(1);
    unsigned steps = 0;
    // Each step keeps r_i = (-1)^(i+1) t_i a (mod m), so the sign of the result follows the parity of the steps.
    while (!r1.is_one()) {
        if (r1.is_zero()) return std::nullopt;  // gcd(a, m) > 1: the remainder never reaches 1
        divmod_result qr = divmod(r0, r1);
        bignum t2 = multiply_add(qr.quotient, t1, &t0);
        r0 = std::move(r1);
        r1 = std::move(qr.remainder);
        t0 = std::move(t1);
        t1 = std::move(t2);
        ++steps;
    }
    if (steps % 2 == 0) return t1;
    // m - t1
    bignum r(m.size());
    uint32_t borrow = 0;
    for (std::size_t i = 0; i < m.size(); ++i) {
        uint32_t d = uint32_t(m.digit(i)) - t1.digit(i) - borrow;
        r.data()[i] = uint16_t(d);
        borrow = d >> 31;
    }
    r.normalise();
    return r;
}

bignum from_bytes(const uint8_t* p, std::size_t n) {
    bignum r((n + 1) / 2);
    uint16_t* d = r.data();
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t k = n - 1 - i;  // byte index from the least significant end
        d[k / 2] = uint16_t(d[k / 2] | (uint16_t(p[i]) << (8 * (k % 2))));
    }
    r.normalise();
    return r;
}

void to_bytes(const bignum& a, uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = a.byte(n - 1 - i);
}

std::optional<std::pair<bignum, std::size_t>> from_ssh1_mpint(const uint8_t* p, std::size_t available) {
    if (available < 2) return std::nullopt;
    std::size_t bits = std::size_t(p[0]) << 8 | p[1];
    std::size_t bytes = (bits + 7) / 8;
    if (available - 2 < bytes) return std::nullopt;
    return std::make_pair(from_bytes(p + 2, bytes), bytes + 2);
}

std::size_t ssh1_mpint_size(const bignum& a) { return (a.bit_length() + 7) / 8 + 2; }

std::size_t to_ssh1_mpint(const bignum& a, uint8_t* out) {
    unsigned bits = a.bit_length();
    std::size_t bytes = (bits + 7) / 8;
    out[0] = uint8_t(bits >> 8);
    out[1] = uint8_t(bits);
    to_bytes(a, out + 2, bytes);
    return bytes + 2;
}

std::vector<uint8_t> to_ssh2_mpint_bytes(const bignum& a) {
    std::size_t bytes = (a.bit_length() + 7) / 8;
    if (bytes == 0) return {};
    std::vector<uint8_t> out(bytes + 1);
    to_bytes(a, out.data() + 1, bytes);
    std::size_t skip = (out[1] & 0x80) ? 0 : 1;
    out.erase(out.begin(), out.begin() + std::ptrdiff_t(skip));
    return out;
}

void absorb_mpint(sha1_context& c, const bignum& a) {
    std::vector<uint8_t> b = to_ssh2_mpint_bytes(a);
    c.absorb_string(b.data(), b.size());
    wipe(b.data(), b.size());
}

std::optional<uint32_t> blob_reader::read_u32() {
    if (remaining < 4) return std::nullopt;
    uint32_t v = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    p += 4;
    remaining -= 4;
    return v;
}

std::optional<std::span<const uint8_t>> blob_reader::read_string() {
    if (remaining < 4) return std::nullopt;
    std::size_t len = std::size_t(p[0]) << 24 | std::size_t(p[1]) << 16 | std::size_t(p[2]) << 8 | p[3];
    if (len > remaining - 4) return std::nullopt;
    std::span<const uint8_t> s(p + 4, len);
    p += 4 + len;
    remaining -= 4 + len;
    return s;
}

std::optional<bignum> blob_reader::read_mpint() {
    const uint8_t* save_p = p;
    std::size_t save_n = remaining;
    auto s = read_string();
    if (!s || s->size() > max_mpint_bytes || (!s->empty() && ((*s)[0] & 0x80))) {
        p = save_p;
        remaining = save_n;
        return std::nullopt;
    }
    return from_bytes(s->data(), s->size());
}

std::optional<bignum> blob_reader::read_20_bytes() {
    if (remaining < 20) return std::nullopt;
    bignum r = from_bytes(p, 20);
    p += 20;
    remaining -= 20;
    return r;
}

}  // namespace crypto
