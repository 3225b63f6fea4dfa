#include "ssh/framing.h"

#include <algorithm>
#include <cstring>

namespace ssh {

std::string host_text(std::string_view raw, std::size_t limit) {
    raw = raw.substr(0, limit);
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size();) {
        const auto c = static_cast<unsigned char>(raw[i]);
        if (c < 0x80) {
            if (c == '\n' || c == '\t' || (c >= 0x20 && c != 0x7F)) out += char(c);
            ++i;
            continue;
        }
        // The length of a well-formed sequence (no overlongs, no surrogates, nothing past U+10FFFF), or 0.
        std::size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        std::uint32_t cp = len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
        for (std::size_t k = 1; len && k < len; ++k) {
            const auto d = i + k < raw.size() ? static_cast<unsigned char>(raw[i + k]) : 0;
            if ((d & 0xC0) != 0x80) {
                len = 0;
                break;
            }
            cp = cp << 6 | (d & 0x3F);
        }
        const bool shortest = len != 3 || cp >= 0x800;
        const bool valid =
            len && shortest && !(cp >= 0xD800 && cp <= 0xDFFF) && cp <= 0x10FFFF && (len != 4 || cp >= 0x10000);
        if (!valid) {
            out += '?';
            ++i;
            continue;
        }
        if (cp >= 0xA0) out.append(raw.substr(i, len));  // C1 controls (U+0080..U+009F) dropped
        i += len;
    }
    return out;
}

void ident_reader::reset() {
    len_ = 0;
    preamble_ = 0;
    overlong_ = false;
}

ident_reader::status ident_reader::feed(const std::uint8_t* p, std::size_t n, std::size_t& used) {
    used = 0;
    while (used < n) {
        const std::uint8_t b = p[used++];
        if ((b < 0x20 && b != '\r' && b != '\n' && b != '\t') || b == 0x7F || b == 0xFF) return status::not_ssh;
        if (b == '\n') {
            if (len_ > 0 && line_[len_ - 1] == '\r') --len_;
            const bool is_ident = !overlong_ && len_ >= 4 && std::memcmp(line_.data(), "SSH-", 4) == 0;
            if (is_ident) return status::done;
            preamble_ += len_ + 1;
            len_ = 0;
            overlong_ = false;
            if (preamble_ > max_preamble) return status::too_long;
            continue;
        }
        if (len_ < max_line) {
            line_[len_++] = static_cast<char>(b);
        } else {
            // An identification line may not be this long; another line may, within the preamble bound.
            if (len_ >= 4 && std::memcmp(line_.data(), "SSH-", 4) == 0) return status::too_long;
            overlong_ = true;
            if (++preamble_ > max_preamble) return status::too_long;
        }
    }
    return status::need_more;
}

std::string host_reason(std::span<const std::uint8_t> raw) {
    std::string s = host_text(raw, 1024);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
    return s;
}

std::size_t reassembly_buffer::take(const std::uint8_t* p, std::size_t n) {
    if (n > buf_.size() - fill_ && head_ > 0) {
        std::memmove(buf_.data(), buf_.data() + head_, fill_ - head_);
        fill_ -= head_;
        head_ = 0;
    }
    n = std::min(n, buf_.size() - fill_);
    if (n) std::memcpy(buf_.data() + fill_, p, n);
    fill_ += n;
    return n;
}

void reassembly_buffer::consume(std::size_t n) {
    if (n >= size()) {
        head_ = fill_ = 0;
        return;
    }
    head_ += n;
}

void reassembly_buffer::clear() {
    head_ = fill_ = 0;
    head_decrypted = false;
}

}  // namespace ssh
