#pragma once
// Port forwards as the user writes them: OpenSSH's -L/-R/-D arguments, and the `ssh_forwards` setting that keeps a
// list of them as one text, each entry led by its letter and separated by commas:
//   L8080:127.0.0.1:80,R9000:127.0.0.1:22,D1080,L[::1]:2222:[fe80::1]:22
// An address holding colons (IPv6) goes in brackets. A listener the user does not place binds to the loopback
// address only, so a tunnel is never offered to the network unasked.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fwd {

enum class forward_kind : char { local = 'L', remote = 'R', dynamic = 'D' };

inline constexpr std::string_view default_bind_address = "127.0.0.1";
inline constexpr std::size_t max_forwards = 64;         // entries in one setting
inline constexpr std::size_t max_forward_text = 8192;   // the whole setting
inline constexpr std::size_t max_address_length = 255;  // a DNS name's limit

struct forward_rule {
    forward_kind kind = forward_kind::local;
    std::string bind_address;  // L, D: an address here; R: on the host. Empty: default_bind_address
    std::uint16_t bind_port = 0;
    std::string host;  // L, R: where connections go; empty for D
    std::uint16_t host_port = 0;

    bool operator==(const forward_rule&) const = default;
    // The address the listener binds to.
    std::string_view listen_address() const { return bind_address.empty() ? default_bind_address : bind_address; }
};

// One entry of the setting ("L8080:127.0.0.1:80"); why says what is wrong when there is no result.
std::optional<forward_rule> parse_forward(std::string_view entry, std::string* why = nullptr);
// The argument of -L, -R or -D ("8080:127.0.0.1:80", "1080").
std::optional<forward_rule> parse_forward_argument(forward_kind kind, std::string_view arg, std::string* why = nullptr);

struct forward_error {
    std::size_t index = 0;  // 0-based entry
    std::string entry;      // its text (cut to a sensible length)
    std::string why;
};

struct forward_list {
    std::vector<forward_rule> rules;
    std::vector<forward_error> errors;
};

// The whole setting. Empty entries (",,", a trailing comma) are skipped; a bad entry is reported and skipped so
// the good ones still open.
forward_list parse_forwards(std::string_view text);

// The setting's form of one entry and of a list; parse_forward(format_forward(s)) == s.
std::string format_forward(const forward_rule& s);
std::string format_forwards(std::span<const forward_rule> rules);

// For a list of tunnels: "127.0.0.1:8080 -> 127.0.0.1:80", "host 127.0.0.1:9000 -> 127.0.0.1:22",
// "127.0.0.1:1080 (SOCKS)".
std::string describe_forward(const forward_rule& s);

}  // namespace fwd
