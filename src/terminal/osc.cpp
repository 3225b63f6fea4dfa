#include "terminal/osc.h"

#include <cstdio>

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to 4 hex digits as a fraction of their full scale, to 8 bits.
std::optional<uint32_t> scaled_component(std::string_view digits) {
    if (digits.empty() || digits.size() > 4) return std::nullopt;
    uint32_t v = 0;
    for (char c : digits) {
        const int h = hex_value(c);
        if (h < 0) return std::nullopt;
        v = v * 16 + uint32_t(h);
    }
    const uint32_t full = (1u << (4 * digits.size())) - 1;
    return (v * 255 + full / 2) / full;
}

}  // namespace

std::optional<uint32_t> parse_colour_text(std::string_view text) {
    if (text.substr(0, 4) == "rgb:") {
        text.remove_prefix(4);
        uint32_t rgb = 0;
        for (int i = 0; i < 3; ++i) {
            const size_t slash = text.find('/');
            if ((i < 2) != (slash != std::string_view::npos)) return std::nullopt;
            const auto c = scaled_component(text.substr(0, slash));
            if (!c) return std::nullopt;
            rgb = rgb << 8 | *c;
            text = i < 2 ? text.substr(slash + 1) : std::string_view{};
        }
        return rgb;
    }
    if (!text.empty() && text[0] == '#') {
        text.remove_prefix(1);
        if (text.empty() || text.size() % 3 != 0 || text.size() > 12) return std::nullopt;
        const size_t n = text.size() / 3;
        uint32_t rgb = 0;
        for (size_t i = 0; i < 3; ++i) {
            uint32_t v = 0;
            for (size_t k = 0; k < n; ++k) {
                const int h = hex_value(text[i * n + k]);
                if (h < 0) return std::nullopt;
                v = v * 16 + uint32_t(h);
            }
            // Left-aligned as xterm reads them: #RGB is #R0G0B0.
            rgb = rgb << 8 | (n == 1 ? v << 4 : v >> (4 * (n - 2)));
        }
        return rgb;
    }
    return std::nullopt;
}

std::string colour_answer(uint32_t rgb) {
    char text[24];
    std::snprintf(text, sizeof text, "rgb:%04x/%04x/%04x", ((rgb >> 16) & 0xFF) * 257, ((rgb >> 8) & 0xFF) * 257,
                  (rgb & 0xFF) * 257);
    return text;
}

std::optional<std::string> base64_decode(std::string_view text, size_t limit) {
    while (!text.empty() && text.back() == '=') text.remove_suffix(1);
    if (text.size() % 4 == 1 || text.size() / 4 * 3 > limit + 2) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else
            return std::nullopt;
        acc = (acc << 6) | uint32_t(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += char((acc >> bits) & 0xFF);
        }
    }
    if (out.size() > limit) return std::nullopt;
    return out;
}

std::optional<folder_report> parse_folder_report(std::string_view url) {
    constexpr std::string_view scheme = "file://";
    if (url.size() < scheme.size()) return std::nullopt;
    for (size_t i = 0; i < scheme.size(); ++i) {
        const char c = url[i] >= 'A' && url[i] <= 'Z' ? char(url[i] + 32) : url[i];
        if (c != scheme[i]) return std::nullopt;
    }
    url.remove_prefix(scheme.size());
    const size_t slash = url.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    folder_report r;
    r.host.assign(url.substr(0, slash));
    for (size_t i = slash; i < url.size(); ++i) {
        const int hi = url[i] == '%' && i + 2 < url.size() ? hex_value(url[i + 1]) : -1;
        const int lo = hi >= 0 ? hex_value(url[i + 2]) : -1;
        if (lo < 0) {
            r.path += url[i];
            continue;
        }
        const char decoded = char(hi * 16 + lo);
        if (decoded == '\0') return std::nullopt;
        r.path += decoded;
        i += 2;
    }
    return r;
}
