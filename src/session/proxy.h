#pragma once
// Proxy log-in texts: the SOCKS 4 and SOCKS 5 CONNECT requests, the words for a SOCKS refusal and the free-form
// text with $1 (host) and $2 (port).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A strict dotted IPv4 address "a.b.c.d" (decimal, 0..255 each), in host byte order.
std::optional<std::uint32_t> parse_dotted_ipv4(std::string_view text);

// SOCKS 4 CONNECT: 4, 1, port (2 bytes, high first), address (network order), user id, 0. Returns the length
// (9 + user id length), or 0 when it does not fit in cap.
std::size_t build_socks4_request(std::uint32_t address, std::uint16_t port, std::string_view user_id, std::uint8_t* out,
                                 std::size_t cap);

// SOCKS 5 (RFC 1928) CONNECT without authentication: 5, 1, 0, then a dotted address as type 1 (4 bytes) or the
// name as type 3 (the proxy resolves it), port high byte first. 0 when the name is empty, longer than 255 bytes or
// the request does not fit in cap.
std::size_t build_socks5_request(std::string_view host, std::uint16_t port, std::uint8_t* out, std::size_t cap);

// The whole length of a SOCKS 5 reply from its first got bytes: 0 while it cannot be told yet (fewer than 5),
// SIZE_MAX for an address type that RFC 1928 does not have.
std::size_t socks5_reply_size(const std::uint8_t* reply, std::size_t got);

// "The SOCKS N proxy refused the connection: code C (meaning)." for SOCKS 4 codes 91..93 and SOCKS 5 codes 1..8.
std::string socks_refusal(int version, int code);

struct proxy_text_result {
    std::size_t count = 0;
    bool too_long = false;  // the template or its substituted result did not fit the buffer; send nothing
};

// Decodes the template with the escape rule (up to its first zero byte) and replaces every "$1" by host and
// every "$2" by the port in decimal. Both the decoded template and the result are bounded by cap.
proxy_text_result build_proxy_text(std::string_view syntax, std::string_view host, int port, std::uint8_t* out,
                                   std::size_t cap);
