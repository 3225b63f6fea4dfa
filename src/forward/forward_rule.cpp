#include "forward/forward_rule.h"

#include <algorithm>

namespace fwd {
namespace {

constexpr std::size_t max_fields = 4;
constexpr std::size_t shown_entry_length = 60;

void say(std::string* why, std::string_view text) {
    if (why) *why = std::string(text);
}

// Splits at colons outside brackets. False on a bracket left open, a stray bracket or too many fields.
bool split_fields(std::string_view s, std::vector<std::string_view>& out) {
    std::size_t start = 0;
    bool inside = false;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        const char c = i < s.size() ? s[i] : ':';
        if (c == '[') {
            if (inside || i != start) return false;
            inside = true;
        } else if (c == ']') {
            if (!inside || (i + 1 < s.size() && s[i + 1] != ':')) return false;
            inside = false;
        } else if (c == ':' && !inside) {
            if (out.size() == max_fields) return false;
            out.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return !inside;
}

std::optional<std::uint16_t> port_of(std::string_view f) {
    if (f.empty() || f.size() > 5) return std::nullopt;
    unsigned v = 0;
    for (char c : f) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + unsigned(c - '0');
    }
    if (v == 0 || v > 65535) return std::nullopt;
    return std::uint16_t(v);
}

// A name, an IPv4 address, "*" or a bracketed IPv6 address (kept without its brackets).
std::optional<std::string> address_of(std::string_view f) {
    const bool bracketed = f.size() >= 2 && f.front() == '[' && f.back() == ']';
    if (bracketed) f = f.substr(1, f.size() - 2);
    if (f.empty() || f.size() > max_address_length) return std::nullopt;
    const bool ok = std::all_of(f.begin(), f.end(), [&](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
               c == '_' || c == '*' || (bracketed && (c == ':' || c == '%'));
    });
    if (!ok || (bracketed && f.find(':') == std::string_view::npos)) return std::nullopt;
    return std::string(f);
}

std::string with_brackets(std::string_view address) {
    if (address.find(':') == std::string_view::npos) return std::string(address);
    return "[" + std::string(address) + "]";
}

}  // namespace

std::optional<forward_rule> parse_forward_argument(forward_kind kind, std::string_view arg, std::string* why) {
    std::vector<std::string_view> f;
    if (!split_fields(arg, f)) {
        say(why, "misplaced brackets or too many colons");
        return std::nullopt;
    }
    const std::size_t need = kind == forward_kind::dynamic ? 1 : 3;
    if (f.size() != need && f.size() != need + 1) {
        say(why, kind == forward_kind::dynamic ? "expected [address:]port" : "expected [address:]port:host:hostport");
        return std::nullopt;
    }
    forward_rule s;
    s.kind = kind;
    std::size_t i = 0;
    if (f.size() == need + 1) {
        auto a = address_of(f[i++]);
        if (!a) {
            say(why, "the listening address is not a host name or address");
            return std::nullopt;
        }
        s.bind_address = std::move(*a);
    }
    const auto port = port_of(f[i++]);
    if (!port) {
        say(why, "the listening port is not a number from 1 to 65535");
        return std::nullopt;
    }
    s.bind_port = *port;
    if (kind == forward_kind::dynamic) return s;
    auto host = address_of(f[i++]);
    if (!host || *host == "*") {
        say(why, "the destination is not a host name or address");
        return std::nullopt;
    }
    s.host = std::move(*host);
    const auto host_port = port_of(f[i]);
    if (!host_port) {
        say(why, "the destination port is not a number from 1 to 65535");
        return std::nullopt;
    }
    s.host_port = *host_port;
    return s;
}

std::optional<forward_rule> parse_forward(std::string_view entry, std::string* why) {
    if (entry.empty()) {
        say(why, "empty entry");
        return std::nullopt;
    }
    const char letter = char(entry.front() & ~0x20);  // either case
    if (letter != 'L' && letter != 'R' && letter != 'D') {
        say(why, "an entry starts with L (local), R (remote) or D (dynamic)");
        return std::nullopt;
    }
    return parse_forward_argument(forward_kind(letter), entry.substr(1), why);
}

forward_list parse_forwards(std::string_view text) {
    forward_list out;
    if (text.size() > max_forward_text) {
        out.errors.push_back({0, {}, "the list is longer than " + std::to_string(max_forward_text) + " characters"});
        return out;
    }
    std::size_t index = 0;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string_view entry = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t')) entry.remove_prefix(1);
        while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) entry.remove_suffix(1);
        if (entry.empty()) continue;
        std::string why;
        if (out.rules.size() == max_forwards)
            why = "more than " + std::to_string(max_forwards) + " forwards";
        else if (auto s = parse_forward(entry, &why))
            out.rules.push_back(std::move(*s));
        if (!why.empty()) out.errors.push_back({index, std::string(entry.substr(0, shown_entry_length)), why});
        ++index;
    }
    return out;
}

std::string format_forward(const forward_rule& s) {
    std::string out(1, char(s.kind));
    if (!s.bind_address.empty()) out += with_brackets(s.bind_address) + ":";
    out += std::to_string(s.bind_port);
    if (s.kind != forward_kind::dynamic) out += ":" + with_brackets(s.host) + ":" + std::to_string(s.host_port);
    return out;
}

std::string format_forwards(std::span<const forward_rule> rules) {
    std::string out;
    for (const forward_rule& s : rules) {
        if (!out.empty()) out += ',';
        out += format_forward(s);
    }
    return out;
}

std::string describe_forward(const forward_rule& s) {
    const std::string listen = with_brackets(s.listen_address()) + ":" + std::to_string(s.bind_port);
    switch (s.kind) {
    case forward_kind::local: return listen + " -> " + with_brackets(s.host) + ":" + std::to_string(s.host_port);
    case forward_kind::remote:
        return "host " + listen + " -> " + with_brackets(s.host) + ":" + std::to_string(s.host_port);
    case forward_kind::dynamic: return listen + " (SOCKS)";
    }
    return listen;
}

}  // namespace fwd
