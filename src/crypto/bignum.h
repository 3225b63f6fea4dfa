#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "crypto/sha1.h"

namespace crypto {

// Unsigned multi-precision number in base 65536, least significant digit first. Digits are wiped when the number
// is released or overwritten, because these numbers carry private exponents and shared secrets.
class bignum {
public:
    bignum() : d_(1, 0) {}
    // n zero digits (at least one).
    explicit bignum(std::size_t n) : d_(n ? n : 1, 0) {}
    static bignum from_u32(uint32_t v);

    bignum(const bignum& o) : d_(o.d_) {}
    bignum(bignum&& o) noexcept : d_(std::move(o.d_)) { o.d_.assign(1, 0); }
    bignum& operator=(const bignum& o);
    bignum& operator=(bignum&& o) noexcept;
    ~bignum();

    std::size_t size() const { return d_.size(); }
    uint16_t digit(std::size_t i) const { return i < d_.size() ? d_[i] : 0; }
    uint16_t* data() { return d_.data(); }
    const uint16_t* data() const { return d_.data(); }

    bool is_zero() const;
    bool is_one() const;
    // Index of the top set bit + 1; 0 for zero.
    unsigned bit_length() const;
    bool bit(std::size_t i) const { return (digit(i / 16) >> (i % 16)) & 1; }
    // Byte i counted from the least significant end; 0 beyond the digits.
    uint8_t byte(std::size_t i) const { return uint8_t(digit(i / 2) >> (8 * (i % 2))); }
    // In place; grows the number when i lies beyond its digits.
    void set_bit(std::size_t i, bool value);
    // Drops leading zero digits, keeping at least one.
    void normalise();

private:
    std::vector<uint16_t> d_;
};

int compare(const bignum& a, const bignum& b);
inline bool operator==(const bignum& a, const bignum& b) { return compare(a, b) == 0; }

bignum with_bit(unsigned k);  // only bit k set
bignum shift_right(const bignum& a, unsigned k);
bignum mask(const bignum& a);                                                      // all ones, as many bits as a has
bignum multiply_add(const bignum& a, const bignum& b, const bignum* c = nullptr);  // a * b + c

struct divmod_result {
    bignum remainder;
    bignum quotient;
};
// Knuth's Algorithm D. Throws std::domain_error when m is zero.
divmod_result divmod(const bignum& a, const bignum& m);
bignum mod(const bignum& a, const bignum& m);
bignum mulmod(const bignum& a, const bignum& b, const bignum& m);
// base^exponent mod m, left to right; a base not below m is reduced first. Throws std::domain_error when m is zero.
bignum modexp(const bignum& base, const bignum& exponent, const bignum& m);
// a^-1 mod m; empty when a and m share a factor (or m < 2).
std::optional<bignum> inverse(const bignum& a, const bignum& m);

// Wire forms.
bignum from_bytes(const uint8_t* p, std::size_t n);  // big-endian
// Writes exactly n big-endian bytes (higher bytes of a are dropped, missing ones are zero).
void to_bytes(const bignum& a, uint8_t* out, std::size_t n);
// SSH-1 mpint: 16-bit bit count, then (bits + 7) / 8 bytes. Returns the number and the bytes consumed, or nothing
// when the bytes available do not hold it.
std::optional<std::pair<bignum, std::size_t>> from_ssh1_mpint(const uint8_t* p, std::size_t available);
std::size_t ssh1_mpint_size(const bignum& a);
// Writes ssh1_mpint_size(a) bytes; a must have at most 65535 bits.
std::size_t to_ssh1_mpint(const bignum& a, uint8_t* out);
// Shortest positive two's-complement big-endian form; zero gives no bytes.
std::vector<uint8_t> to_ssh2_mpint_bytes(const bignum& a);
// The SSH-2 mpint absorbed as a string: used for e, f and K in the exchange hash and K in key derivation.
void absorb_mpint(sha1_context& c, const bignum& a);

// Largest mpint string accepted from the network: 16384 bits plus a sign byte.
constexpr std::size_t max_mpint_bytes = 2049;

// Reads SSH fields from a blob, never past its end. A failed read consumes nothing.
struct blob_reader {
    const uint8_t* p;
    std::size_t remaining;

    blob_reader(const uint8_t* data, std::size_t n) : p(data), remaining(n) {}
    std::optional<uint32_t> read_u32();
    std::optional<std::span<const uint8_t>> read_string();
    // Empty for a missing field, a negative value or one longer than max_mpint_bytes.
    std::optional<bignum> read_mpint();
    std::optional<bignum> read_20_bytes();
};

}  // namespace crypto
