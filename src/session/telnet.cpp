#include "session/telnet.h"

#include <algorithm>
#include <cstring>

using namespace telnet;

void netop::reset() {
    state_ = state::data;
    last_command_ = 0;
    std::fill(std::begin(remote_), std::end(remote_), false);
    std::fill(std::begin(local_), std::end(local_), false);
    // The host echoes by default on most servers; starting "on" means a first DO ECHO is not answered.
    local_[TN_ECHO] = true;
    echo_answered_ = false;
    subneg_len_ = 0;
}

bool netop::process_command_byte(std::uint8_t b) {
    switch (state_) {
    case state::subneg:
        if (b == SE) {
            state_ = state::data;
            end_subnegotiation();
            return true;
        }
        if (subneg_len_ < subneg_capacity) subneg_[subneg_len_++] = b;
        return true;
    case state::data:
        if (b != IAC) return false;
        state_ = state::iac;
        return true;
    case state::iac:
        if (b >= SB && b <= DONT) {
            last_command_ = b;
            state_ = state::option;
            return true;
        }
        state_ = state::data;
        // An escaped 255 is data; DM, NOP, GA, AYT and the other two-byte commands are consumed.
        return b != IAC;
    case state::option:
        state_ = state::data;
        if (last_command_ == SB) {
            subneg_[0] = b;
            subneg_len_ = 1;
            state_ = state::subneg;
        } else {
            negotiate(last_command_, b);
        }
        return true;
    }
    return true;
}

void netop::answer(std::uint8_t command, std::uint8_t option) {
    const std::uint8_t msg[3] = {IAC, command, option};
    host_.send_command(msg, sizeof msg);
}

void netop::negotiate(std::uint8_t command, std::uint8_t o) {
    const bool known = o < TELNET_NOPTIONS;
    switch (command) {
    case WILL:
        if (o == TN_TRANSBIT_BINARY || o == TN_SUPPRESS_GA || o == TN_TERMTYPE) {
            const bool was = remote_[o];
            remote_[o] = true;
            if (!was) answer(DO, o);
        } else if (o == TN_ECHO) {
            host_.set_host_echo(false);
            const bool was = remote_[TN_ECHO];
            local_[TN_ECHO] = false;
            remote_[TN_ECHO] = true;
            if (!was) answer(DO, o);
        } else {
            answer(DONT, o);
        }
        break;
    case WONT:
        if (o == TN_ECHO) {
            host_.set_host_echo(true);
            const bool was = remote_[TN_ECHO];
            remote_[TN_ECHO] = false;
            if (was) answer(DONT, o);
        } else if (known) {
            const bool was = remote_[o];
            remote_[o] = false;
            if (was) answer(DONT, o);
        } else {
            answer(DONT, o);
        }
        break;
    case DO:
        if (o == TN_ECHO) {
            host_.set_host_echo(true);
            const bool was = local_[TN_ECHO];
            remote_[TN_ECHO] = false;
            local_[TN_ECHO] = true;
            // A client that may agree to NAWS answers the first DO ECHO too: BSD-derived telnetd, once told WILL
            // NAWS, holds the session until its DO ECHO is answered.
            if (!was || (!echo_answered_ && host_.tells_window_size())) {
                echo_answered_ = true;
                answer(WILL, o);
            }
        } else if (o == TN_SUPPRESS_GA || o == TN_TERMTYPE) {
            const bool was = local_[o];
            local_[o] = true;
            if (!was) answer(WILL, o);
        } else if (o == TN_NAWS && host_.tells_window_size()) {
            // The size follows the WILL at once (RFC 1073); a repeated DO asks for nothing new.
            if (!local_[o]) {
                local_[o] = true;
                answer(WILL, o);
                send_window_size();
            }
        } else {
            answer(WONT, o);
        }
        break;
    case DONT:
        if (o == TN_ECHO) {
            host_.set_host_echo(false);
            const bool was = local_[TN_ECHO];
            local_[TN_ECHO] = false;
            if (was) answer(WONT, o);
        } else if (known) {
            const bool was = local_[o];
            local_[o] = false;
            if (was) answer(WONT, o);
        } else {
            answer(WONT, o);
        }
        break;
    default: break;
    }
}

void netop::end_subnegotiation() {
    if (subneg_len_ < 2 || subneg_[0] != TN_TERMTYPE || subneg_[1] != SB_SEND) return;
    // Terminal type names are short (RFC 1091 allows 40 characters); anything longer is cut to the buffer.
    std::uint8_t msg[6 + 255];
    std::size_t n = 0;
    msg[n++] = IAC;
    msg[n++] = SB;
    msg[n++] = TN_TERMTYPE;
    msg[n++] = SB_IS;
    const std::string_view tt = host_.terminal_type();
    const std::size_t len = std::min<std::size_t>(tt.size(), 255);
    std::memcpy(msg + n, tt.data(), len);
    n += len;
    msg[n++] = IAC;
    msg[n++] = SE;
    host_.send_command(msg, n);
}

void netop::set_window_size(int rows, int columns) {
    if (!size_.take(rows, columns)) return;
    if (local_[TN_NAWS] && host_.tells_window_size()) send_window_size();
}

void netop::send_window_size() {
    // IAC SB NAWS width16 height16 IAC SE, a 255 among the four size bytes doubled.
    std::uint8_t msg[3 + 8 + 2];
    std::size_t n = 0;
    msg[n++] = IAC;
    msg[n++] = SB;
    msg[n++] = TN_NAWS;
    const int values[2] = {size_.columns, size_.rows};
    for (int v : values) {
        for (const std::uint8_t b : {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v & 0xFF)}) {
            msg[n++] = b;
            if (b == IAC) msg[n++] = IAC;
        }
    }
    msg[n++] = IAC;
    msg[n++] = SE;
    host_.send_command(msg, n);
}
