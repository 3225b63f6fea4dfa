#include "ssh/framing.h"

#include <cstring>

namespace ssh {

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

bool reassembly_buffer::append(const std::uint8_t* p, std::size_t n) {
    bool fits = size() + n <= reassembly_limit;
    if (!fits) {
        clear();
        if (n > reassembly_limit) return false;
    }
    if (n > buf_.size() - fill_) {
        std::memmove(buf_.data(), buf_.data() + head_, fill_ - head_);
        fill_ -= head_;
        head_ = 0;
    }
    if (n) std::memcpy(buf_.data() + fill_, p, n);
    fill_ += n;
    return fits;
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
