#pragma once
// The outside world as the session core sees it: a TCP socket with notifications, a one-shot timer, the clock for
// log time stamps, the view's display hooks and the SSH engine seam. Qt implementations live in src/adapters
// (qt_socket, qt_timer); tests use in-memory ones.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// A terminal size as Telnet NAWS and the SSH window messages carry it (each within 1..65535).
struct grid_size {
    int rows = 24, columns = 80;
    // Takes a new size; false when it is the one already held (nothing to tell the host).
    bool take(int r, int c) {
        r = std::clamp(r, 1, 0xFFFF);
        c = std::clamp(c, 1, 0xFFFF);
        if (r == rows && c == columns) return false;
        rows = r;
        columns = c;
        return true;
    }
};

// A question an engine step cannot answer itself: `put` shows the dialog once the step has returned and gives back
// what to do with the answer (may be empty).
using user_question = std::function<std::function<void()>()>;

// Notifications from a socket, delivered on the user-interface thread.
struct socket_events {
    virtual ~socket_events() = default;
    virtual void on_read(int error) = 0;              // data (or an error) is waiting
    virtual void on_connect_complete(int error) = 0;  // an in-progress connect finished; 0 = connected
    virtual void on_close() = 0;                      // the peer closed the connection
    // Output the socket held back has gone out: there is room for more (see session_socket::pending_output).
    virtual void on_write_ready() {}
};

// What a transport may hold in memory per direction. Beyond the read limit the socket stops taking data from the
// system, so TCP flow control slows the host down; the session stops handing the socket more output once the
// write limit is reached, so a host that stops reading cannot make pasted data pile up.
inline constexpr std::size_t socket_read_buffer_limit = 64 * 1024;
inline constexpr std::size_t socket_write_buffer_limit = 16 * 1024;

// Why a connection attempt failed or an open connection ended; the session words the message.
enum class socket_cause { none, resolve_failed, refused, timed_out, unreachable, reset, other };

struct socket_failure {
    socket_cause cause = socket_cause::none;  // none after a close: the peer closed in order (FIN, no error)
    std::string text;                         // the resolver's or the system's own words; may be empty
};

struct session_socket {
    enum class connect_result { connected, in_progress, failed };
    virtual ~session_socket() = default;
    // Starts a TCP connection to host (dotted address or name, first address used) on port.
    virtual connect_result connect(std::string_view host, std::uint16_t port) = 0;
    // Up to n bytes of what has arrived; 0 when nothing is there, negative on error. Never blocks. The socket holds
    // at most socket_read_buffer_limit bytes, and while data is left when a notification's handler returns (or
    // after a read outside one) it notifies again (level triggered), so a reader that stops early loses nothing.
    virtual long read(std::uint8_t* buf, std::size_t n) = 0;
    // Takes all n bytes (returns n) or none (negative, socket error). Never takes part of them silently.
    virtual long write(const std::uint8_t* buf, std::size_t n) = 0;
    // Bytes taken by write that have not gone to the system yet; on_write_ready follows when they have.
    virtual std::size_t pending_output() const { return 0; }
    // Sends what is still pending (bounded wait) and closes. No notifications arrive afterwards.
    virtual void close() = 0;
    // After a failed connect or on_close: what went wrong.
    virtual socket_failure failure() const { return {}; }
    // TCP keep-alive probes on the connection (Telnet's `telnet_keepalive`); asked before connect.
    virtual void set_keep_alive(bool on) { (void)on; }
};

struct socket_factory {
    virtual ~socket_factory() = default;
    // A new unconnected TCP socket reporting to events, or nullptr when the socket interface is unusable.
    virtual std::unique_ptr<session_socket> create(socket_events& events) = 0;
    // Blocking name lookup: the first IPv4 address of name in host byte order, nullopt when it cannot be found.
    virtual std::optional<std::uint32_t> lookup_ipv4(std::string_view name) = 0;
};

// A one-shot timer; start() while running restarts it. The owner routes its expiry to the session.
struct session_timer {
    virtual ~session_timer() = default;
    virtual void start(int milliseconds) = 0;
    virtual void stop() = 0;
};

struct local_time {
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

struct session_clock {
    virtual ~session_clock() = default;
    virtual local_time now() = 0;
};

// What the session asks of the terminal view. Every hook has a harmless default so tools need not care.
struct session_view {
    virtual ~session_view() = default;
    // Lets queued UI events run. False when the application is quitting (the session then stops reading).
    virtual bool pump_pending_messages() { return true; }
    // Before host data is shown: drop a shown selection and return from the scroll-back to the live screen.
    virtual void before_host_data() {}
    virtual void update_all() {}
    virtual void update_changed() {}
    // A connection attempt starts: first-connection map loading, scroll bar, blink timer. Runs before the
    // socket is created, so tables loaded here are used by this connection.
    virtual void connection_starting() {}
    virtual void show_host_in_title(std::string_view host) { (void)host; }
    virtual void clear_host_from_title() {}
    // The session ended with `exit` on: close the program by the normal close path.
    virtual void post_exit_command() {}
    // An emulator reply (to a host query) was just passed to send_to_host.
    virtual void host_reply(std::string_view reply) { (void)reply; }
    // The host's Telnet ECHO option switched local echo (with `host_echo` on); the keyboard layer follows it.
    virtual void set_local_echo(bool on) { (void)on; }
};

// The SSH engine seam. The session calls these for Ssh1/Ssh2 transports; the engine calls back through
// session_services (session.h). Without an engine, SSH connections are refused with a message.
struct ssh_engine {
    virtual ~ssh_engine() = default;
    virtual void ssh_receive(const std::uint8_t* bytes, std::size_t n) = 0;
    virtual void ssh_send_user_data(const std::uint8_t* bytes, std::size_t n) = 0;
    // Forgets all connection state: identification sent, SSH-1 state 0, keys.
    virtual void ssh_reset() = 0;
    // The host and port a connection is being made to (the real target, also through a proxy).
    virtual void ssh_target(std::string_view host, int port) {
        (void)host;
        (void)port;
    }
    // The connection to the host itself is up (not through a proxy, which speaks first).
    virtual void ssh_connected() {}
    // The user ends a session whose host is still there: the engine may say goodbye before the socket closes.
    virtual void ssh_goodbye() {}
    // The key exchange has finished (keys in use): the connection is set up and its time limit ends. An engine
    // that cannot tell counts as set up once the TCP connection stands.
    virtual bool ssh_handshake_done() const { return true; }
};
