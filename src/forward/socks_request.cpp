#include "forward/socks_request.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fwd {
namespace {

constexpr std::uint8_t socks4_granted = 0x5A, socks4_rejected = 0x5B;
// SOCKS 5 answers (RFC 1928 section 6).
constexpr std::uint8_t s5_ok = 0, s5_failure = 1, s5_not_allowed = 2, s5_refused = 5, s5_bad_command = 7,
                       s5_bad_address_type = 8;
constexpr std::uint8_t no_authentication = 0, no_acceptable_method = 0xFF;

// A name the host can take as a destination: printable, no spaces.
bool printable_name(const std::uint8_t* p, std::size_t n) {
    return n > 0 && std::all_of(p, p + n, [](std::uint8_t c) { return c > 0x20 && c < 0x7F; });
}

std::uint16_t port_at(const std::uint8_t* p) { return std::uint16_t(p[0] << 8 | p[1]); }

std::string ipv4_text(const std::uint8_t* p) {
    char t[16];
    std::snprintf(t, sizeof t, "%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
    return t;
}

std::string ipv6_text(const std::uint8_t* p) {
    std::string out;
    for (int i = 0; i < 8; ++i) {
        char t[6];
        std::snprintf(t, sizeof t, i ? ":%x" : "%x", unsigned(p[2 * i] << 8 | p[2 * i + 1]));
        out += t;
    }
    return out;
}

}  // namespace

socks_request::step socks_request::feed(std::span<const std::uint8_t> in, std::size_t& used) {
    used = 0;
    if (step_ != step::more) return step_;
    const std::size_t before = len_;
    const std::size_t take = std::min(in.size(), buf_.size() - len_);
    if (take) std::memcpy(buf_.data() + len_, in.data(), take);
    len_ += take;
    std::size_t end = 0;
    step_ = parse(end);
    if (step_ == step::connect) {
        used = end - before;  // the request was not whole before this call, so it ends inside it
        return step_;
    }
    used = take;
    if (step_ == step::more && len_ == buf_.size()) return refuse("the SOCKS request is too long", s5_failure);
    return step_;
}

socks_request::step socks_request::parse(std::size_t& end) {
    if (len_ == 0) return step::more;
    switch (buf_[0]) {
    case 4: version_ = 4; return parse4(end);
    case 5: version_ = 5; return parse5(end);
    default: return refuse("not a SOCKS 4 or 5 request", 0);
    }
}

socks_request::step socks_request::parse4(std::size_t& end) {
    if (len_ < 8) return step::more;
    if (buf_[1] != 1) return refuse("only CONNECT is offered", 0);
    const std::uint8_t* b = buf_.data();
    const auto* user_end = static_cast<const std::uint8_t*>(std::memchr(b + 8, 0, len_ - 8));
    if (!user_end) return step::more;
    std::size_t next = std::size_t(user_end - b) + 1;
    // 0.0.0.x with x not 0: SOCKS 4a, the name follows the user.
    if (b[4] == 0 && b[5] == 0 && b[6] == 0 && b[7] != 0) {
        const auto* name_end = static_cast<const std::uint8_t*>(std::memchr(b + next, 0, len_ - next));
        if (!name_end) return step::more;
        const std::size_t n = std::size_t(name_end - (b + next));
        if (n > 255 || !printable_name(b + next, n)) return refuse("the SOCKS 4a host name is not valid", 0);
        host_.assign(reinterpret_cast<const char*>(b + next), n);
        next += n + 1;
    } else {
        host_ = ipv4_text(b + 4);
    }
    port_ = port_at(b + 2);
    if (port_ == 0) return refuse("the SOCKS request names port 0", 0);
    end = next;
    return step::connect;
}

socks_request::step socks_request::parse5(std::size_t& end) {
    const std::uint8_t* b = buf_.data();
    if (len_ < 2) return step::more;
    const std::size_t methods = b[1];
    const std::size_t greeting = 2 + methods;
    if (len_ < greeting) return step::more;
    if (!method_sent_) {
        if (std::find(b + 2, b + greeting, no_authentication) == b + greeting) {
            reply_[reply_len_++] = 5;
            reply_[reply_len_++] = no_acceptable_method;
            why_ = "the program asks for SOCKS 5 authentication, which is not offered";
            step_ = step::refused;
            return step_;
        }
        reply_[reply_len_++] = 5;
        reply_[reply_len_++] = no_authentication;
        method_sent_ = true;
    }
    const std::uint8_t* r = b + greeting;
    const std::size_t have = len_ - greeting;
    if (have < 5) return step::more;
    if (r[0] != 5) return refuse("the SOCKS 5 request has a wrong version", s5_failure);
    if (r[1] != 1) return refuse("only CONNECT is offered", s5_bad_command);
    std::size_t address_end = 0;
    switch (r[3]) {
    case 1: address_end = 4 + 4; break;
    case 3: address_end = 4 + 1 + std::size_t(r[4]); break;
    case 4: address_end = 4 + 16; break;
    default: return refuse("the SOCKS 5 address type is unknown", s5_bad_address_type);
    }
    if (have < address_end + 2) return step::more;
    if (r[3] == 1) {
        host_ = ipv4_text(r + 4);
    } else if (r[3] == 4) {
        host_ = ipv6_text(r + 4);
    } else {
        if (!printable_name(r + 5, r[4])) return refuse("the SOCKS 5 host name is not valid", s5_failure);
        host_.assign(reinterpret_cast<const char*>(r + 5), r[4]);
    }
    port_ = port_at(r + address_end);
    if (port_ == 0) return refuse("the SOCKS request names port 0", s5_failure);
    end = greeting + address_end + 2;
    return step::connect;
}

socks_request::step socks_request::refuse(std::string_view why, std::uint8_t code) {
    why_ = std::string(why);
    step_ = step::refused;
    if (version_ == 4) answer(socks4_rejected);
    if (version_ == 5 && method_sent_) answer(code);
    return step_;
}

void socks_request::answer(std::uint8_t code) {
    // Both forms carry a zero address and port: the program learns nothing it needs from them.
    const std::size_t n = version_ == 4 ? 8 : 10;
    if (reply_len_ + n > reply_.size()) return;
    std::uint8_t* p = reply_.data() + reply_len_;
    std::memset(p, 0, n);
    if (version_ == 4) {
        p[1] = code;
    } else {
        p[0] = 5;
        p[1] = code;
        p[3] = 1;  // an IPv4 address
    }
    reply_len_ += n;
}

std::span<const std::uint8_t> socks_request::granted() {
    answer(version_ == 4 ? socks4_granted : s5_ok);
    return reply();
}

std::span<const std::uint8_t> socks_request::failed(std::uint32_t ssh_reason) {
    // The SSH reasons (RFC 4254 section 5.1): administratively prohibited, connect failed, unknown type, resource
    // shortage.
    std::uint8_t code = s5_failure;
    if (ssh_reason == 1) code = s5_not_allowed;
    if (ssh_reason == 2) code = s5_refused;
    if (version_ == 4) code = socks4_rejected;
    answer(code);
    return reply();
}

}  // namespace fwd
