#pragma once
// One connection attempt of a session, from connect_to until the next one: the socket, the Telnet options, the
// send queue, the proxy's reply, the auto-login pairs, the set-up limit's clock and what the attempt learnt on the
// way. The session makes a fresh one at every connect, so nothing of an earlier host is carried over by mistake,
// and keeps the ended one until then (the getters still read it).
//
// The socket reports to its attempt, which passes the events on to the session only while it is the current
// one: a late notification of a socket the session has let go of cannot reach the next connection. An attempt
// replaced from inside one of its own calls is kept until the session's outermost call has returned.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "session/interfaces.h"
#include "session/telnet.h"

inline constexpr std::size_t send_queue_size = 2000;

struct attempt final : socket_events {
    attempt(socket_events& owner, netop_host& telnet_host, bool quiet_failure)
        : owner(owner), telnet(telnet_host), quiet(quiet_failure) {}
    ~attempt() override {
        if (socket) socket->close();
    }
    attempt(const attempt&) = delete;
    attempt& operator=(const attempt&) = delete;

    void on_read(int error) override {
        if (!retired) owner.on_read(error);
    }
    void on_connect_complete(int error) override {
        if (!retired) owner.on_connect_complete(error);
    }
    void on_close() override {
        if (!retired) owner.on_close();
    }
    void on_write_ready() override {
        if (!retired) owner.on_write_ready();
    }

    socket_events& owner;
    bool retired = false;  // a newer attempt has taken over

    std::unique_ptr<session_socket> socket;
    bool connected = false;   // from the established connection until disconnect
    bool connecting = false;  // outstanding (kept until disconnect after a direct success)
    bool connect_aborted = true;
    bool close_pending = false;  // the peer closed while a read pass was running
    bool peer_closed = false;
    int receive_guard = 0;    // read notifications during a running read pass; 0 when none runs
    std::string target_host;  // what the socket connects to (the proxy's name through a proxy)
    std::string host;         // the host asked for, which messages name
    int port = 0;

    netop telnet;
    std::uint8_t previous_byte = 0;                          // the translation leaves the byte after ESC alone
    std::array<std::uint8_t, send_queue_size> send_queue{};  // Telnet bytes the socket has not taken yet
    std::size_t send_queue_count = 0;                        // 0..1998
    bool overflow_reported = false;  // the send-queue message was shown and the queue has not emptied since

    bool proxy_login_pending = false;
    bool socks_reply_pending = false;
    std::uint8_t socks_reply[262] = {};  // SOCKS 5: 4 + a name of up to 255 bytes with its length + port
    std::size_t socks_got = 0;           // bytes of the SOCKS reply taken so far
    bool socks5_greeted = false;         // the SOCKS 5 proxy chose "no authentication"; its CONNECT reply follows
    bool auto_pending[2] = {false, false};

    // The one timer serves two deadlines in ms after the connect attempt: the proxy log-in and the set-up limit.
    bool setting_up = false;
    bool proxy_tick_ahead = false;  // the proxy log-in's deadline has not come yet
    int limit_ms = 0;               // the set-up limit; 0: none
    int limit_at_ms = 0;            // when it runs out (moved on while the user answers a question)
    int timer_elapsed_ms = 0;       // time counted by expiries so far
    int timer_armed_ms = 0;         // what the running timer was started with; 0: stopped
    bool in_pump = false;           // inside the read pass's pump_pending_messages

    bool quiet = false;        // a set-up failure shows no message
    std::string engine_cause;  // what the SSH engine said before it gave up, until its disconnect
    bool output_seen = false;  // host data was shown (an SSH session got past its sign-on)
    bool answer_owed = false;  // send_to_host sent something after the host's latest data
};
