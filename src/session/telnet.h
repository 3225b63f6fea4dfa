#pragma once
// Telnet option engine, one per connection. Passive: it never starts a negotiation, it only answers with a fixed
// policy, sends the terminal type on request and couples the ECHO option to the local echo setting. When the host
// may hear the window size (netop_host::tells_window_size), NAWS is accepted and the size sent (RFC 1073).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "session/interfaces.h"

inline constexpr std::uint8_t TN_TRANSBIT_BINARY = 0;
inline constexpr std::uint8_t TN_ECHO = 1;
inline constexpr std::uint8_t TN_SUPPRESS_GA = 3;
inline constexpr std::uint8_t TN_STATUS = 5;
inline constexpr std::uint8_t TN_TIMING_MARK = 6;
inline constexpr std::uint8_t TN_TERMTYPE = 24;
inline constexpr std::uint8_t TN_NAWS = 31;
inline constexpr int TELNET_NOPTIONS = 250;

namespace telnet {
inline constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, DM = 242, SE = 240;
inline constexpr std::uint8_t SB_SEND = 1, SB_IS = 0;
}  // namespace telnet

// What the option engine needs from the session.
struct netop_host {
    virtual ~netop_host() = default;
    // A Telnet command, sent as it is (no doubling of IAC) through the session's send queue.
    virtual void send_command(const std::uint8_t* bytes, std::size_t n) = 0;
    // The host takes over (false) or hands back (true) the echo; only effective with host echo control on.
    virtual void set_host_echo(bool on) = 0;
    virtual std::string_view terminal_type() const = 0;
    // True when the grid follows the window (screen_size 1): DO NAWS is then accepted; otherwise refused.
    virtual bool tells_window_size() const { return false; }
};

class netop {
public:
    explicit netop(netop_host& host) : host_(host) { reset(); }

    // Fresh option state, as at the start of a connection. The window size is kept: it belongs to the view.
    void reset();

    // The terminal's grid; sent at once while NAWS is on, otherwise kept for the host's DO NAWS.
    void set_window_size(int rows, int columns);

    // True when b belonged to a Telnet command and must not be shown. IAC IAC yields one data byte 255 (returns
    // false on the second IAC); the two-byte commands NOP, GA, AYT, ... are consumed. Any answer is sent as the
    // last action, so the caller may find the session gone after a call.
    bool process_byte(std::uint8_t b) {
        if (state_ == state::data && b != telnet::IAC) return false;  // the common case, kept inline
        return process_command_byte(b);
    }

    bool remote_enabled(std::uint8_t option) const { return option < TELNET_NOPTIONS && remote_[option]; }
    bool local_enabled(std::uint8_t option) const { return option < TELNET_NOPTIONS && local_[option]; }
    bool in_subnegotiation() const { return state_ == state::subneg; }

    static constexpr std::size_t subneg_capacity = 80;

private:
    enum class state : std::uint8_t { data, iac, option, subneg };
    bool process_command_byte(std::uint8_t b);
    void negotiate(std::uint8_t command, std::uint8_t option);
    void end_subnegotiation();
    void answer(std::uint8_t command, std::uint8_t option);
    void send_window_size();

    netop_host& host_;
    state state_ = state::data;
    std::uint8_t last_command_ = 0;
    bool remote_[TELNET_NOPTIONS];
    bool local_[TELNET_NOPTIONS];
    std::uint8_t subneg_[subneg_capacity];
    std::size_t subneg_len_ = 0;
    bool echo_answered_ = false;  // a DO ECHO has been answered on this connection
    grid_size size_;
};
