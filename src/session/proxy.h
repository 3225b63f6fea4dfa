#pragma once
// Proxy log-in texts: the SOCKS 4 CONNECT request and the free-form text with $1 (host) and $2 (port).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// A strict dotted IPv4 address "a.b.c.d" (decimal, 0..255 each), in host byte order.
std::optional<std::uint32_t> parse_dotted_ipv4(std::string_view text);

// SOCKS 4 CONNECT: 4, 1, port (2 bytes, high first), address (network order), user id, 0. Returns the length
// (9 + user id length), or 0 when it does not fit in cap.
std::size_t build_socks4_request(std::uint32_t address, std::uint16_t port, std::string_view user_id, std::uint8_t* out,
                                 std::size_t cap);

struct proxy_text_result {
    std::size_t count = 0;
    bool too_long = false;  // the template or its substituted result did not fit the buffer; send nothing
};

// Decodes the template with the escape rule (up to its first zero byte) and replaces every "$1" by host and
// every "$2" by the port in decimal. Both the decoded template and the result are bounded by cap.
proxy_text_result build_proxy_text(std::string_view syntax, std::string_view host, int port, std::uint8_t* out,
                                   std::size_t cap);
