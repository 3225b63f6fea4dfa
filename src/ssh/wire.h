#pragma once
// Bounded readers and writers for SSH fields. Every message parser and builder goes through these two: a read past
// the end fails cleanly and keeps the first reason, so a parser checks once per message instead of per field.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "crypto/bignum.h"

namespace ssh {

enum class wire_error : std::uint8_t { none, truncated, too_long, bad_value, trailing };

class wire_reader {
public:
    wire_reader(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
    explicit wire_reader(std::span<const std::uint8_t> s) : p_(s.data()), n_(s.size()) {}

    std::optional<std::uint8_t> u8();
    std::optional<std::uint32_t> u32();
    std::optional<bool> boolean();
    // A 32-bit length and that many bytes; longer than max is refused.
    std::optional<std::span<const std::uint8_t>> string(std::size_t max = 65536);
    // A string that holds no NUL byte.
    std::optional<std::string_view> text(std::size_t max = 65536);
    // SSH-2 mpint: refused when negative or longer than crypto::max_mpint_bytes.
    std::optional<crypto::bignum> mpint();
    // The mpint's bytes as they stand (sign byte included), checked like mpint(); for hashing without a bignum.
    std::optional<std::span<const std::uint8_t>> mpint_bytes();
    std::optional<std::span<const std::uint8_t>> bytes(std::size_t n);
    // Succeeds only when every byte has been read; otherwise records `trailing`.
    bool at_end();

    bool ok() const { return err_ == wire_error::none; }
    wire_error error() const { return err_; }
    std::size_t remaining() const { return n_; }
    std::span<const std::uint8_t> rest() const { return {p_, n_}; }

private:
    std::nullopt_t fail(wire_error e) {
        if (err_ == wire_error::none) err_ = e;
        return std::nullopt;
    }
    const std::uint8_t* p_;
    std::size_t n_;
    wire_error err_ = wire_error::none;
};

// Appends into a caller's fixed buffer. Past its capacity nothing more is written and overflow() turns true.
class wire_writer {
public:
    wire_writer(std::uint8_t* buf, std::size_t cap) : buf_(buf), cap_(cap) {}

    void u8(std::uint8_t v);
    void u32(std::uint32_t v);
    void boolean(bool v) { u8(v ? 1 : 0); }
    void raw(const void* p, std::size_t n);
    void string(const void* p, std::size_t n);
    void string(std::string_view s) { string(s.data(), s.size()); }
    void string(std::span<const std::uint8_t> s) { string(s.data(), s.size()); }
    void mpint(const crypto::bignum& v);
    // Reserves a 32-bit length to be filled by end_string() once the contents are written.
    std::size_t begin_string();
    void end_string(std::size_t mark);

    bool overflow() const { return overflow_; }
    std::size_t size() const { return n_; }
    std::uint8_t* data() { return buf_; }

private:
    bool room(std::size_t k) {
        if (overflow_ || k > cap_ - n_) overflow_ = true;
        return !overflow_;
    }
    std::uint8_t* buf_;
    std::size_t cap_;
    std::size_t n_ = 0;
    bool overflow_ = false;
};

}  // namespace ssh
