#pragma once
// The listening side of a dynamic forward: a local program's SOCKS 4, 4a or 5 CONNECT request, read from the bytes
// it sends, and the answers it gets. Only CONNECT without authentication is offered; the destination goes to the
// host as a direct-tcpip channel, so names are resolved there (4a and 5's name form).
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace fwd {

class socks_request {
public:
    enum class step { more, connect, refused };

    // Takes bytes from the local program. `used` is how many belong to the request; once it says connect, the rest
    // is the program's first data for the tunnel. After connect or refused, nothing more is taken.
    step feed(std::span<const std::uint8_t> in, std::size_t& used);
    step current() const { return step_; }

    // Bytes owed to the program now (SOCKS 5's method choice; a refusal's answer). The caller sends them and
    // calls clear_reply.
    std::span<const std::uint8_t> reply() const { return {reply_.data(), reply_len_}; }
    void clear_reply() { reply_len_ = 0; }

    // The destination once the step is connect. An IPv6 address is written in full, without brackets.
    int version() const { return version_; }
    const std::string& host() const { return host_; }
    std::uint16_t port() const { return port_; }
    // A refusal's cause, for the tunnel's log.
    std::string_view why() const { return why_; }

    // The answer once the tunnel opened, or once the host refused it (`ssh_reason`: the CHANNEL_OPEN_FAILURE code).
    std::span<const std::uint8_t> granted();
    std::span<const std::uint8_t> failed(std::uint32_t ssh_reason);

private:
    static constexpr std::size_t buffer_size = 600;  // SOCKS 4a's longest: 8 + 256 (user) + 256 (name)

    step parse(std::size_t& end);
    step parse4(std::size_t& end);
    step parse5(std::size_t& end);
    step refuse(std::string_view why, std::uint8_t code);
    void answer(std::uint8_t code);

    std::array<std::uint8_t, buffer_size> buf_{};
    std::size_t len_ = 0;
    std::array<std::uint8_t, 16> reply_{};
    std::size_t reply_len_ = 0;
    step step_ = step::more;
    bool method_sent_ = false;
    int version_ = 0;
    std::string host_;
    std::uint16_t port_ = 0;
    std::string why_;
};

}  // namespace fwd
