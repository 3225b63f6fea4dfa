#include "ssh/wire.h"

#include <cstring>

#include "crypto/bytes.h"

namespace ssh {

std::optional<std::uint8_t> wire_reader::u8() {
    if (!ok()) return std::nullopt;
    if (n_ < 1) return fail(wire_error::truncated);
    const std::uint8_t v = *p_;
    ++p_;
    --n_;
    return v;
}

std::optional<std::uint32_t> wire_reader::u32() {
    if (!ok()) return std::nullopt;
    if (n_ < 4) return fail(wire_error::truncated);
    const std::uint32_t v = crypto::load_be(p_);
    p_ += 4;
    n_ -= 4;
    return v;
}

std::optional<bool> wire_reader::boolean() {
    auto v = u8();
    if (!v) return std::nullopt;
    return *v != 0;
}

std::optional<std::span<const std::uint8_t>> wire_reader::string(std::size_t max) {
    if (!ok()) return std::nullopt;
    if (n_ < 4) return fail(wire_error::truncated);
    const std::uint32_t len = crypto::load_be(p_);
    if (len > max) return fail(wire_error::too_long);
    if (len > n_ - 4) return fail(wire_error::truncated);
    std::span<const std::uint8_t> s(p_ + 4, len);
    p_ += 4 + len;
    n_ -= 4 + len;
    return s;
}

std::optional<std::string_view> wire_reader::text(std::size_t max) {
    auto s = string(max);
    if (!s) return std::nullopt;
    if (std::memchr(s->data(), 0, s->size())) return fail(wire_error::bad_value);
    return std::string_view(reinterpret_cast<const char*>(s->data()), s->size());
}

std::optional<std::span<const std::uint8_t>> wire_reader::mpint_bytes() {
    auto s = string(crypto::max_mpint_bytes);
    if (!s) return std::nullopt;
    if (!s->empty() && ((*s)[0] & 0x80)) return fail(wire_error::bad_value);
    return s;
}

std::optional<crypto::bignum> wire_reader::mpint() {
    auto s = mpint_bytes();
    if (!s) return std::nullopt;
    return crypto::from_bytes(s->data(), s->size());
}

std::optional<std::span<const std::uint8_t>> wire_reader::bytes(std::size_t n) {
    if (!ok()) return std::nullopt;
    if (n > n_) return fail(wire_error::truncated);
    std::span<const std::uint8_t> s(p_, n);
    p_ += n;
    n_ -= n;
    return s;
}

bool wire_reader::at_end() {
    if (ok() && n_ != 0) fail(wire_error::trailing);
    return ok();
}

void wire_writer::u8(std::uint8_t v) {
    if (room(1)) buf_[n_++] = v;
}

void wire_writer::u32(std::uint32_t v) {
    if (!room(4)) return;
    crypto::store_be(buf_ + n_, v);
    n_ += 4;
}

void wire_writer::raw(const void* p, std::size_t n) {
    if (!room(n)) return;
    if (n) std::memcpy(buf_ + n_, p, n);
    n_ += n;
}

void wire_writer::string(const void* p, std::size_t n) {
    if (n > 0xFFFFFFFFu) {
        overflow_ = true;
        return;
    }
    u32(static_cast<std::uint32_t>(n));
    raw(p, n);
}

void wire_writer::mpint(const crypto::bignum& v) {
    const std::vector<std::uint8_t> b = crypto::to_ssh2_mpint_bytes(v);
    string(b.data(), b.size());
}

std::size_t wire_writer::begin_string() {
    const std::size_t mark = n_;
    u32(0);
    return mark;
}

void wire_writer::end_string(std::size_t mark) {
    if (overflow_ || mark + 4 > n_) return;
    crypto::store_be(buf_ + mark, static_cast<std::uint32_t>(n_ - mark - 4));
}

}  // namespace ssh
