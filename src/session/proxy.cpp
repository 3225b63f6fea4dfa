#include "session/proxy.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config/escape.h"

std::optional<std::uint32_t> parse_dotted_ipv4(std::string_view text) {
    std::uint32_t addr = 0;
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.') return std::nullopt;
            ++i;
        }
        unsigned v = 0;
        int digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            v = v * 10 + static_cast<unsigned>(text[i] - '0');
            if (++digits > 3 || v > 255) return std::nullopt;
            ++i;
        }
        if (digits == 0) return std::nullopt;
        addr = (addr << 8) | v;
    }
    if (i != text.size()) return std::nullopt;
    return addr;
}

std::size_t build_socks4_request(std::uint32_t address, std::uint16_t port, std::string_view user_id, std::uint8_t* out,
                                 std::size_t cap) {
    const std::size_t len = 9 + user_id.size();
    if (len > cap) return 0;
    out[0] = 4;
    out[1] = 1;
    out[2] = static_cast<std::uint8_t>(port >> 8);
    out[3] = static_cast<std::uint8_t>(port & 0xFF);
    out[4] = static_cast<std::uint8_t>(address >> 24);
    out[5] = static_cast<std::uint8_t>(address >> 16);
    out[6] = static_cast<std::uint8_t>(address >> 8);
    out[7] = static_cast<std::uint8_t>(address);
    std::memcpy(out + 8, user_id.data(), user_id.size());
    out[8 + user_id.size()] = 0;
    return len;
}

std::size_t build_socks5_request(std::string_view host, std::uint16_t port, std::uint8_t* out, std::size_t cap) {
    if (host.empty() || host.size() > 255) return 0;
    const std::optional<std::uint32_t> v4 = parse_dotted_ipv4(host);
    const std::size_t len = v4 ? 10 : 7 + host.size();
    if (len > cap) return 0;
    out[0] = 5;
    out[1] = 1;
    out[2] = 0;
    std::size_t i = 3;
    if (v4) {
        out[i++] = 1;
        for (int shift = 24; shift >= 0; shift -= 8) out[i++] = static_cast<std::uint8_t>(*v4 >> shift);
    } else {
        out[i++] = 3;
        out[i++] = static_cast<std::uint8_t>(host.size());
        std::memcpy(out + i, host.data(), host.size());
        i += host.size();
    }
    out[i++] = static_cast<std::uint8_t>(port >> 8);
    out[i++] = static_cast<std::uint8_t>(port & 0xFF);
    return i;
}

std::size_t socks5_reply_size(const std::uint8_t* reply, std::size_t got) {
    if (got < 5) return 0;
    switch (reply[3]) {
    case 1: return 10;
    case 3: return 7 + static_cast<std::size_t>(reply[4]);
    case 4: return 22;
    default: return SIZE_MAX;
    }
}

std::string socks_refusal(int version, int code) {
    const char* meaning = "unknown code";
    if (version == 4) {
        switch (code) {
        case 91: meaning = "request rejected or failed"; break;
        case 92: meaning = "the proxy cannot reach this computer's identd"; break;
        case 93: meaning = "identd reports a different user id"; break;
        default: break;
        }
    } else {
        static const char* const rep[] = {"",
                                          "general SOCKS server failure",
                                          "connection not allowed by ruleset",
                                          "network unreachable",
                                          "host unreachable",
                                          "connection refused",
                                          "TTL expired",
                                          "command not supported",
                                          "address type not supported"};
        if (code >= 1 && code <= 8) meaning = rep[code];
    }
    return "The SOCKS " + std::to_string(version) + " proxy refused the connection: code " + std::to_string(code) +
           " (" + meaning + ").";
}

proxy_text_result build_proxy_text(std::string_view syntax, std::string_view host, int port, std::uint8_t* out,
                                   std::size_t cap) {
    proxy_text_result r;
    std::uint8_t decoded[256];
    const std::size_t dcap = cap < sizeof decoded ? cap : sizeof decoded;
    const escape_result d = decode_escapes(syntax, decoded, dcap);
    const void* zero = std::memchr(decoded, 0, d.count);
    const std::size_t len = zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - decoded) : d.count;
    // An overflow only matters when the text still ran on at the cut.
    if (d.overflow && !zero) {
        r.too_long = true;
        return r;
    }
    char port_text[16];
    const int port_len = std::snprintf(port_text, sizeof port_text, "%d", port);
    auto put = [&](const void* p, std::size_t n) {
        if (r.count + n > cap) {
            r.too_long = true;
            return;
        }
        std::memcpy(out + r.count, p, n);
        r.count += n;
    };
    for (std::size_t i = 0; i < len && !r.too_long; ++i) {
        if (decoded[i] == '$' && i + 1 < len && (decoded[i + 1] == '1' || decoded[i + 1] == '2')) {
            if (decoded[i + 1] == '1')
                put(host.data(), host.size());
            else
                put(port_text, static_cast<std::size_t>(port_len));
            ++i;
        } else {
            put(&decoded[i], 1);
        }
    }
    if (r.too_long) r.count = 0;
    return r;
}
