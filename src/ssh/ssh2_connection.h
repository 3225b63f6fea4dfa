#pragma once
// The SSH-2 connection layer of one connection (RFC 4254, ssh2_connection.cpp): global requests, the channel table
// and its messages, the interactive session channel, and the channel services (port and agent forwarding, SFTP)
// registered with it. It reaches the transport only through connection_link, as the key exchange and sign-on do.
//
// A service is told each turn of the connection's life (the shell asked for, Disconnect, the end) and is asked
// about each channel type the host opens; the layer never names a service where it walks them.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "forward/forwarder.h"
#include "session/interfaces.h"
#include "sftp/client.h"
#include "ssh/channels.h"
#include "ssh/ssh2_link.h"
#include "ssh/wire.h"

struct connection_profile;
struct session_services;
struct ui_services;

namespace ssh {

class ssh2_connection;
class tunnel_service;
class sftp_service;

class connection_link : public transport_link {
public:
    // Keys are in use toward the host and the sign-on service was asked for: requests of the connection layer
    // (keep-alives, window-change) may go.
    virtual bool keyed() const = 0;
    virtual bool service_requested() const = 0;

protected:
    ~connection_link() = default;
};

// The fields every CHANNEL_OPEN of the host's carries before its type's own.
struct host_open {
    std::uint32_t sender = 0;
    std::uint32_t window = 0;
    std::uint32_t max_packet = 0;
};

class channel_service {
public:
    virtual ~channel_service() = default;
    // The shell was asked for: the service may open its channels.
    virtual void start() {}
    // The user ends the session (negotiated mode): the service closes its channels before the session channel.
    virtual void close() { stop(); }
    // The session ended: nothing more is sent, whatever runs on the service's channels fails.
    virtual void stop() {}
    // The session channel opened: requests that must reach the host before the shell starts.
    virtual void session_opened(const channel& session) { (void)session; }
    // Whether the service takes a channel of `type` the host opens now (asked in negotiated mode only).
    virtual bool accepts(std::string_view type) const {
        (void)type;
        return false;
    }
    // The host opened a channel of a type accepted; `r` holds the type's own fields. The service adds its row and
    // confirms, or refuses the channel.
    virtual void open_from_host(std::string_view type, const host_open& o, wire_reader& r) {
        (void)type, (void)o, (void)r;
    }
    // The host's answer to a global request of this service's (see ssh2_connection::global_request).
    virtual void global_answer(bool success) { (void)success; }
};

// The session channel's window and largest packet: the fixed suite's, then the negotiated mode's (its number is the
// channel table's first, 27, in both; each window is topped up once half of it is used).
inline constexpr std::uint32_t initial_window = 8000;
inline constexpr std::uint32_t announced_max_packet = 16384;
inline constexpr std::uint32_t large_window = 2 * 1024 * 1024;
inline constexpr std::uint32_t large_max_packet = 32 * 1024;
// Largest CHANNEL_DATA payload sent in one packet when the server has not said less.
inline constexpr std::uint32_t max_data_per_packet = 32768;
// Typed or pasted bytes held while the host's window is closed (negotiated mode).
inline constexpr std::size_t pending_send_limit = 256 * 1024;

// SFTP on the running connection: `ready` gets the client once the server's VERSION came; `ended` gets the cause
// when the channel is refused or goes.
struct sftp_events {
    std::function<void(sftp::client&)> ready;
    std::function<void(std::string_view)> ended;
};

class ssh2_connection {
public:
    ssh2_connection(connection_link& link, connection_profile& p, session_services& io, ui_services& ui);
    ~ssh2_connection();
    ssh2_connection(const ssh2_connection&) = delete;
    ssh2_connection& operator=(const ssh2_connection&) = delete;

    // Message handlers the engine's table routes here: channel messages go to the row their recipient number names.
    void on_global_request(wire_reader& r);
    void on_request_success(wire_reader& r);
    void on_request_failure(wire_reader& r);
    void on_channel_open(wire_reader& r);
    void on_open_confirmation(wire_reader& r);
    void on_open_failure(wire_reader& r);
    void on_window_adjust(wire_reader& r);
    void on_data(wire_reader& r);
    void on_extended_data(wire_reader& r);
    void on_eof(wire_reader& r);
    void on_close(wire_reader& r);
    void on_channel_request(wire_reader& r);
    void on_channel_success(wire_reader& r);
    void on_channel_failure(wire_reader& r);

    // The host took the sign-on: the session channel opens, or a jump host's `ready` runs instead.
    void signed_on();
    // Anything from the host shows it is there (keep-alive count).
    void host_alive() { keepalives_unanswered_ = 0; }
    // The session ended: the services stop.
    void stop();
    // The user ends the session: the services' channels, then the session channel, are closed.
    void goodbye();

    // CHANNEL_DATA on the session channel; larger blocks go as several packets. In negotiated mode the host's
    // window and maximum packet are respected: what does not fit waits for its WINDOW_ADJUST.
    void send_user_data(const std::uint8_t* bytes, std::size_t n);
    // The terminal's width changed (negotiated mode tells the host with window-change unless screen_size is 1).
    void set_columns(int columns);
    // The terminal's grid (screen_size 1): the pty request carries it and, in negotiated mode, each change goes to
    // the host at once as window-change (ssh_client paces the calls).
    void set_window_size(int rows, int columns);
    // Keep-alive tick: a keepalive@openssh.com request while keys are active (negotiated mode). With
    // `ssh_keepalive_max` N, the tick that finds N requests unanswered ends the session instead (OpenSSH's
    // ServerAliveCountMax: only a reply to a request counts, other traffic does not).
    void keepalive();
    int unanswered_keepalives() const { return keepalives_unanswered_; }
    bool pty_reply_pending() const { return pty_pending_; }
    // The session channel's window for the host's data (its starting size before the channel exists).
    std::uint32_t local_window() const;

    // Listeners and local connections of the forwarding services come from `net`, their failures go to `note`
    // with their cause. `hold` is taken around every call from the local network (see fwd::forwarder::set_hold)
    // and around a question's dialog and answer, which the session runs from outside the client's own calls.
    void set_network(fwd::local_network* net, std::function<void(std::string_view)> note, fwd::forwarder::hold_fn hold);
    void set_jump(std::function<void()> ready) { jump_ready_ = std::move(ready); }
    // What the user should know without the session ending: the debug log and `note` of set_network.
    void notice(std::string_view text);

    tunnel_service& tunnels() const { return *tunnels_; }
    sftp_service& sftp() const { return *sftp_; }
    // A service joins the walk after those already registered and lives as long as the connection.
    template <class S, class... A>
    S& add_service(A&&... a) {
        services_.push_back(std::make_unique<S>(std::forward<A>(a)...));
        return static_cast<S&>(*services_.back());
    }

    // ----- for the channel services -----
    connection_link& link() const { return link_; }
    bool negotiated() const { return link_.negotiated(); }
    bool closed() const { return link_.closed(); }
    connection_profile& profile() const { return p_; }
    session_services& io() const { return io_; }
    fwd::local_network* network() const { return net_; }
    const fwd::forwarder::hold_fn& hold() const { return hold_; }
    channel_table& channels() { return channels_; }
    // CHANNEL_OPEN of `type` for the row `c` (added to channels() by the caller); the type's own fields follow.
    wire_writer channel_open(std::string_view type, const channel& c);
    // GLOBAL_REQUEST of `name` wanting a reply, which goes to `to` (the host answers in order); its fields follow.
    wire_writer global_request(std::string_view name, channel_service& to);
    // A row for a channel the host opened, still opening until confirm_open; null when the table is full (the
    // host is refused then).
    channel* host_channel(const host_open& o, channel_handler& h, std::uint32_t window, std::uint32_t max_packet,
                          std::size_t pending_limit);
    void confirm_open(channel& c);
    // The host's CHANNEL_OPEN refused.
    void refuse_channel(std::uint32_t remote, std::uint32_t reason, std::string_view why);
    // CHANNEL_FAILURE for a host's channel request that wants an answer.
    void refuse_request(const channel& c, bool want_reply);
    // CHANNEL_CLOSE for an open row, which stays (closing) until the host's CLOSE.
    void send_close(channel& c);
    void send_eof(const channel& c);
    void send_window_adjust(const channel& c, std::uint32_t add);
    // What waits in the row goes, within the host's window and maximum packet.
    void flush_pending(channel& c);
    // The handler lets go of its row (see channel::released): CLOSE goes now or once the host confirms the open.
    void release_channel(std::uint32_t id);

private:
    channel* recipient(wire_reader& r);  // null (and the session ended) when the number is not in the table
    // The row is not released and our CLOSE not sent: its messages reach its handler; others are dropped.
    static bool listening(const channel& c);
    void take_data(channel& c, std::span<const std::uint8_t> payload, std::optional<std::uint32_t> code);
    void global_answer(bool success);
    void send_data_packet(std::uint32_t remote_id, const std::uint8_t* bytes, std::size_t n);
    wire_writer begin(std::uint8_t type) { return link_.begin(type); }
    void send(const wire_writer& w) { link_.send(w); }
    void fail(std::string_view text) { link_.fail(text); }
    bool finished(wire_reader& r) { return link_.finished(r); }

    // the session channel
    void open_session();
    channel* session_channel() const;
    bool session_open() const;
    void send_channel_request(std::string_view type, bool pty);
    void send_window_change(int rows, int columns);
    bool grid_follows_window() const;
    void shell_step(bool success);
    struct session_handler final : channel_handler {
        explicit session_handler(ssh2_connection& connection) : c(connection) {}
        ssh2_connection& c;
        void opened(channel& ch, wire_reader& r) override;
        void open_refused(channel& ch, std::uint32_t reason, std::string_view text) override;
        void data(channel& ch, std::span<const std::uint8_t> d, std::optional<std::uint32_t> code) override;
        void eof(channel& ch) override;
        void closed(channel& ch) override;
        void request(channel& ch, std::string_view type, bool want_reply, wire_reader& r) override;
        void reply(channel&, bool success) override { c.shell_step(success); }
    };

    connection_link& link_;
    connection_profile& p_;
    session_services& io_;
    ui_services& ui_;

    fwd::local_network* net_ = nullptr;
    std::function<void(std::string_view)> note_;
    fwd::forwarder::hold_fn hold_;
    std::function<void()> jump_ready_;

    int keepalives_unanswered_ = 0;
    // Who waits for the answer to each global request we sent wanting one, oldest first (null: a keep-alive).
    std::deque<channel_service*> global_pending_;

    int columns_ = 80;
    grid_size grid_;
    session_handler session_type_{*this};
    std::optional<std::uint32_t> session_;  // the session channel's number once opened
    bool pty_pending_ = false;
    bool shell_pending_ = false;  // the shell request awaits its reply
    bool no_pty_ = false;         // the host refused the pty: no window-change for a shell without one

    channel_table channels_;
    // Destroyed before the table: a forwarder's links still name its rows.
    std::vector<std::unique_ptr<channel_service>> services_;
    tunnel_service* tunnels_ = nullptr;
    sftp_service* sftp_ = nullptr;
};

}  // namespace ssh
