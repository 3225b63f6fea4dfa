#include "session/session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "config/ui_services.h"
#include "config/escape.h"
#include "session/proxy.h"
#include "terminal/vt.h"

namespace {

constexpr std::uint8_t ESC = 27;
constexpr int proxy_timer_ms = 2000;
constexpr int max_connect_timeout_s = 24 * 3600;  // keeps the milliseconds within int
constexpr std::size_t socks_reply_size = 8;       // SOCKS 4
constexpr std::uint8_t socks_granted = 90;

class system_clock_impl final : public session_clock {
public:
    local_time now() override {
        const auto tp = std::chrono::system_clock::now();
        const std::time_t t = std::chrono::system_clock::to_time_t(tp);
        std::tm tm{};
        localtime_r(&t, &tm);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()).count() % 1000;
        return {tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms)};
    }
};

}  // namespace

std::string socket_failure_text(const socket_failure& f, std::string_view host) {
    switch (f.cause) {
    case socket_cause::none: return {};
    case socket_cause::resolve_failed: {
        std::string s = "The name could not be resolved: ";
        s += host;
        if (!f.text.empty()) s += " (" + f.text + ")";
        return s;
    }
    case socket_cause::refused: return "The connection was refused.";
    case socket_cause::timed_out: return "No answer: timed out.";
    case socket_cause::unreachable:
        return f.text.empty() ? "The network is unreachable." : "The network is unreachable (" + f.text + ").";
    case socket_cause::reset: return "The connection was reset.";
    case socket_cause::other:
        if (f.text.empty() || f.text.back() == '.') return f.text;
        return f.text + ".";
    }
    return {};
}

namespace {
// How messages name whom they are about: "user@host:port" for SSH once a user name is known, IPv6 bracketed.
std::string named(const connection_profile& p, std::string_view host, int port, bool with_user) {
    connection_profile t;
    t.host = host;
    t.port = port;
    t.protocol = with_user ? p.protocol : TransportKind::Telnet;
    t.ssh.ssh_user = p.ssh.ssh_user;
    return t.target_text();
}

// The socket's cause with who it concerns: at connect "Cannot connect to T: the connection was refused.", on an
// established session "The connection to T was reset."; a name that did not resolve is named already.
std::string named_cause(const socket_failure& f, std::string_view looked_up, const std::string& who, bool connecting) {
    std::string why = socket_failure_text(f, looked_up);
    if (why.empty() || f.cause == socket_cause::resolve_failed) return why;
    if (f.cause == socket_cause::timed_out) return "No answer from " + who + ": timed out.";
    if (!connecting && f.cause == socket_cause::reset) return "The connection to " + who + " was reset.";
    // An operating system's sentence goes on after the colon; an acronym keeps its capitals.
    if (why.size() > 1 && why[0] >= 'A' && why[0] <= 'Z' && !(why[1] >= 'A' && why[1] <= 'Z')) why[0] += 'a' - 'A';
    return (connecting ? "Cannot connect to " + who : "The connection to " + who + " failed") + ": " + why;
}

std::string with_cause(std::string_view first, std::string_view cause) {
    std::string msg(first);
    if (!cause.empty()) {
        msg += '\n';
        msg += cause;
    }
    return msg;
}
}  // namespace

session_clock& system_session_clock() {
    static system_clock_impl clock;
    return clock;
}

session::session(vt& terminal, connection_profile& profile, const translation_table_t& nettopc,
                 const translation_table_t& pctonet, socket_factory& sockets, session_timer& proxy_timer,
                 ui_services& ui, session_view& view, session_clock& clock)
    : vt_(terminal),
      p_(profile),
      sockets_(sockets),
      timer_(proxy_timer),
      ui_(ui),
      view_(view),
      nettopc_(nettopc),
      pctonet_(pctonet),
      clock_(clock),
      a_(std::make_unique<attempt>(*this, static_cast<netop_host&>(*this), false)) {}

session::~session() = default;

session::entered::~entered() {
    if (--s.depth_ == 0) s.retired_.clear();
}

void session::fresh_attempt(std::string_view host, int port) {
    // The ended attempt may be on the stack (a connect from a nested event loop of its read pass): it stops
    // hearing its socket now and goes once the outermost call has returned.
    a_->retired = true;
    retired_.push_back(std::move(a_));
    a_ = std::make_unique<attempt>(*this, static_cast<netop_host&>(*this), std::exchange(quiet_next_, false));
    a_->telnet.set_window_size(grid_.rows, grid_.columns);
    a_->auto_pending[0] = !p_.telnet.auto_search1.empty();
    a_->auto_pending[1] = !p_.telnet.auto_search2.empty();
    // Through a proxy the socket connects to the proxy; messages still name the host.
    a_->proxy_login_pending = p_.proxy.proxy_enable == 1;
    a_->target_host = a_->proxy_login_pending ? p_.proxy.proxy_host : std::string(host);
    a_->host = std::string(host);
    a_->port = port;
}

ssh_engine* session::active_ssh() const { return transport() == TransportKind::Telnet ? nullptr : ssh_; }

int session::socks_version() const { return p_.proxy.proxy_socks_enable == 5 ? 5 : 4; }

TransportKind session::transport() const { return p_.protocol; }

// ---------------------------------------------------------------------------------------------------------------
// Connection

bool session::connect_to(std::string_view host, int port) {
    if (busy()) return false;  // the Connect command is disabled then; never two sockets at once
    const entered in(*this);
    const TransportKind kind = transport();
    if (kind != TransportKind::Telnet && !ssh_) {
        say(session_msg::no_ssh);
        return false;
    }
    fresh_attempt(host, port);
    if (log_enabled_ && !log_.open_truncated()) report_log_failure();
    if (kind != TransportKind::Telnet) {
        vt_.set_auto_wrap_mode(p_.terminal.auto_wrap);
        vt_.set_new_line_mode(p_.terminal.new_line);
    }
    if (ssh_) {
        ssh_->ssh_reset();
        ssh_->ssh_target(host, port);
    }
    view_.connection_starting();
    vt_.reset_parser();  // nothing half-received from the last host swallows the new one
    vt_.set_auto_wrap_mode(p_.terminal.auto_wrap);
    ++generation_;

    attempt& a = *a_;
    a.socket = sockets_.create(a);
    if (!a.socket) {
        attempt_failed(std::string(session_msg::no_socket));
        return false;
    }
    a.connect_aborted = false;
    a.socket->set_keep_alive(kind == TransportKind::Telnet && p_.telnet.telnet_keepalive);
    view_.show_host_in_title(host);

    const int target_port = a.proxy_login_pending ? p_.proxy.proxy_port : port;
    session_socket::connect_result r = session_socket::connect_result::failed;
    if (!a.target_host.empty() && target_port > 0 && target_port <= 65535)
        r = a.socket->connect(a.target_host, static_cast<std::uint16_t>(target_port));
    switch (r) {
    case session_socket::connect_result::connected:
        a.connect_aborted = true;
        a.connecting = true;
        a.connected = true;
        start_setup();
        host_reached();
        setup_progress();
        return true;
    case session_socket::connect_result::in_progress:
        a.connecting = true;
        start_setup();
        return true;
    case session_socket::connect_result::failed: break;
    }
    connect_failed();
    return false;
}

void session::host_reached() {
    // Through a proxy the proxy speaks first; the SSH identification waits for the host's as before.
    if (ssh_engine* e = active_ssh(); e && p_.proxy.proxy_enable != 1) e->ssh_connected();
}

void session::connect_failed() {
    const bool aborted = a_->connect_aborted;
    // Through a proxy it is the proxy that the socket did not reach.
    const bool via_proxy = p_.proxy.proxy_enable == 1;
    const std::string who = via_proxy ? "the proxy " + named(p_, a_->target_host, p_.proxy.proxy_port, false)
                                      : named(p_, a_->host, a_->port, true);
    const std::string cause =
        a_->socket ? named_cause(a_->socket->failure(), a_->target_host, who, true) : std::string();
    end_setup();
    discard_connection();
    a_->connecting = false;
    view_.clear_host_from_title();
    if (aborted) {
        set_ending(std::string(session_msg::aborted), false, true);
        say(session_msg::aborted);
        return;
    }
    attempt_failed(with_cause(session_msg::cannot_connect, cause));
}

void session::attempt_failed(std::string text) {
    set_ending(text, false);
    if (!std::exchange(a_->quiet, false)) say(text);
}

// Said, then the connection closed: a proxy step that cannot go on. Not a failure to retry.
void session::refuse_attempt(std::string_view text) {
    say(text);
    close_connection(true);
    set_ending(std::string(text), false);
}

void session::set_ending(std::string cause, bool unexpected, bool by_user) {
    ending_ = {std::move(cause), by_user, unexpected};
    // After the message that tells it: a listener that schedules the next attempt starts counting once it is read.
    if (holding())
        held_.push_back({held_item::kind::ending, {}, ending_, {}, 0});
    else if (ending_listener_)
        ending_listener_(ending_);
}

void session::say(std::string_view text) {
    if (holding())
        held_.push_back({held_item::kind::message, std::string(text), {}, {}, 0});
    else
        ui_.message_box(text);
}

bool session::message_sink::ask_yes_no(std::string_view text) { return s.ui_.ask_yes_no(text); }

void session::session_ask(user_question q) {
    // Engines ask from packets, which come inside a read pass: the pass's end puts it. Never run from here, where
    // the asking step is still on the stack.
    held_.push_back({held_item::kind::question, {}, {}, std::move(q), generation_});
}

void session::run_held() {
    if (running_held_) return;  // the outer run takes what came meanwhile
    running_held_ = true;
    while (!held_.empty()) {
        held_item item = std::move(held_.front());
        held_.pop_front();
        switch (item.what) {
        case held_item::kind::message: ui_.message_box(item.text); break;
        case held_item::kind::ending:
            if (ending_listener_) ending_listener_(item.ending);
            break;
        case held_item::kind::question: {
            // A question of a session that has ended meanwhile is not put; an answer that comes after the user
            // ended or replaced the session (the dialog's event loop runs) is dropped.
            if (item.generation != generation_) break;
            const std::function<void()> then = item.question();
            if (then && item.generation == generation_) then();
            break;
        }
        }
    }
    running_held_ = false;
}

void session::on_connect_complete(int error) {
    const entered in(*this);
    if (!a_->connecting || a_->connected || !a_->socket) return;
    const hold h(*this);
    a_->connecting = false;
    if (error == 0) {
        a_->connect_aborted = true;
        a_->connected = true;
        host_reached();
        setup_progress();
        return;
    }
    // The wait for the connection is asynchronous here, so a late failure is the ordinary "refused or not
    // found" case and gets its message.
    connect_failed();
}

bool session::abort_connect_by_click() {
    const entered in(*this);
    if (!a_->connecting || a_->connected || a_->connect_aborted || !a_->socket) return false;
    a_->connect_aborted = true;
    connect_failed();
    return true;
}

void session::start_setup() {
    a_->setting_up = true;
    a_->proxy_tick_ahead = a_->proxy_login_pending;
    a_->limit_ms = std::clamp(p_.connect_timeout, 0, max_connect_timeout_s) * 1000;
    a_->limit_at_ms = a_->limit_ms;
    a_->timer_elapsed_ms = 0;
    arm_timer();
}

// The one timer runs to whichever deadline comes first; an expiry adds what it was started with to the time
// counted, so no clock is needed.
void session::arm_timer() {
    int next = a_->proxy_tick_ahead ? proxy_timer_ms : 0;
    if (a_->setting_up && a_->limit_at_ms > 0 && (next == 0 || a_->limit_at_ms < next)) next = a_->limit_at_ms;
    if (next == 0) {
        a_->timer_armed_ms = 0;
        timer_.stop();
        return;
    }
    a_->timer_armed_ms = std::max(next - a_->timer_elapsed_ms, 1);
    timer_.start(a_->timer_armed_ms);
}

void session::setup_progress() {
    if (!a_->setting_up || !a_->connected || !a_->socket || a_->proxy_tick_ahead || a_->socks_reply_pending) return;
    if (ssh_engine* e = active_ssh(); e && !e->ssh_handshake_done()) return;
    // A Telnet host may rightly stay silent until the user types (a terminal server's port), so the set-up ends
    // with the connection, or with the proxy's part when there is one.
    a_->setting_up = false;
    arm_timer();
}

void session::setup_expired() {
    std::string msg(session_msg::cannot_connect);
    msg += '\n';
    const std::string seconds = std::to_string(a_->limit_ms / 1000) + " s.";
    const std::string host = named(p_, a_->host, a_->port, true);
    if (!a_->connected && !a_->proxy_login_pending)
        msg += "No answer from " + host + ": " + std::string(session_msg::no_answer) + " " + seconds;
    else if (!a_->connected)
        msg += "The proxy " + named(p_, a_->target_host, p_.proxy.proxy_port, false) + " " +
               std::string(session_msg::proxy_no_answer) + " within " + seconds;
    else if (a_->proxy_tick_ahead || a_->socks_reply_pending)
        msg += std::string(session_msg::proxy_incomplete) + " " + host + " within " + seconds;
    else
        msg += "The host " + host + " " + std::string(session_msg::key_exchange_incomplete) + " within " + seconds;
    if (ssh_engine* e = active_ssh()) e->ssh_reset();
    close_connection(true);
    attempt_failed(msg);
}

void session::end_setup() {
    a_->setting_up = false;
    a_->proxy_tick_ahead = false;
    a_->timer_armed_ms = 0;
    timer_.stop();
}

void session::discard_connection() {
    if (a_->socket) {
        a_->socket->close();
        a_->socket.reset();
    }
    ++generation_;
}

void session::disconnect(bool suppress_exit) {
    const entered in(*this);
    const hold h(*this);
    const bool ends = busy();
    close_connection(suppress_exit);
    if (ends) set_ending("Disconnected.", false, true);
}

void session::close_connection(bool suppress_exit) {
    // A host that is still there hears the goodbye; after its close or an engine's failure nothing more is said.
    if (ssh_engine* e = active_ssh(); e && a_->connected && !a_->peer_closed && a_->socket) e->ssh_goodbye();
    const bool had_socket = a_->socket != nullptr;
    a_->connecting = false;
    end_setup();
    discard_connection();
    a_->send_queue_count = 0;
    a_->overflow_reported = false;
    a_->connected = false;
    a_->socks_reply_pending = false;
    a_->socks5_greeted = false;
    a_->close_pending = false;
    // The engine's channels (file transfers, tunnels) end with the connection, and their owners hear it now, not
    // when the next connection starts or the engine is destroyed under them.
    if (had_socket && ssh_) ssh_->ssh_reset();
    view_.clear_host_from_title();
    if (p_.exit && !suppress_exit) view_.post_exit_command();
}

void session::lost_connection(std::string_view cause) {
    if (!a_->connected) return;
    const hold h(*this);
    const std::string text = with_cause(session_msg::lost, cause);
    const bool unexpected = a_->output_seen;
    // With auto_reconnect the message pane tells it beside the countdown; a box would hold the countdown back
    // until someone came to read it.
    if (!p_.exit && !(unexpected && p_.auto_reconnect)) say(text);
    close_connection(false);
    set_ending(text, unexpected);
}

void session::host_closed() {
    if (!a_->connected) return;
    const socket_failure f = a_->socket ? a_->socket->failure() : socket_failure{};
    // An SSH host says why in its own DISCONNECT, which the engine shows; a bare close there stays "lost". So does
    // a proxy that closes before its part is done.
    if (f.cause != socket_cause::none || active_ssh() || a_->setting_up) {
        lost_connection(named_cause(f, a_->target_host, named(p_, a_->host, a_->port, true), false));
        return;
    }
    const hold h(*this);
    // The classic first line, which stored scripts wait for, and the cause under it as the other endings have.
    const std::string text = with_cause(session_msg::lost, "The host " + named(p_, a_->host, a_->port, false) + " " +
                                                               std::string(session_msg::host_closed));
    if (!p_.exit) say(text);
    close_connection(false);
    // An orderly close is how a Telnet host ends a session the user logged out of: not a failure to retry.
    set_ending(text, false);
}

void session::on_close() {
    const entered in(*this);
    if (!a_->connected) return;
    a_->peer_closed = true;
    a_->close_pending = true;
    // Whatever the host sent before closing is shown first; a running pass handles the close when it ends.
    if (a_->receive_guard == 0) on_read(0);
}

void session::session_disconnect() {
    if (ssh_) ssh_->ssh_reset();
    std::string cause = std::exchange(a_->engine_cause, {});
    if (!a_->socket || !a_->connected) return;
    // Without a message of its own the engine ended in order: the shell exited, or the user cancelled a question.
    const bool unexpected = !cause.empty() && a_->output_seen;
    close_connection(true);
    set_ending(cause.empty() ? std::string("The session has ended.") : std::move(cause), unexpected);
}

void session::session_fail(std::string_view text) {
    const hold h(*this);  // the message first, then the ending it tells of
    // A lost session the automatic reconnect takes over is told in the message pane (see lost_connection).
    if (!(a_->output_seen && a_->connected && p_.auto_reconnect)) say(text);
    a_->engine_cause.assign(text);
    session_disconnect();
}

// ---------------------------------------------------------------------------------------------------------------
// Proxy log-in

void session::on_proxy_timer() {
    const entered in(*this);
    const hold h(*this);
    timer_.stop();
    a_->timer_elapsed_ms += a_->timer_armed_ms;
    a_->timer_armed_ms = 0;
    if (a_->proxy_tick_ahead && a_->timer_elapsed_ms >= proxy_timer_ms) {
        a_->proxy_tick_ahead = false;
        // A connection still waited for at this moment never gets its log-in.
        if (a_->connected && a_->proxy_login_pending) {
            a_->proxy_login_pending = false;
            if (p_.proxy.proxy_socks_enable != 0)
                send_socks_request();
            else
                send_proxy_text();
            if (!a_->connected) return;  // refused
        }
        setup_progress();
    }
    if (a_->setting_up && a_->limit_at_ms > 0 && a_->timer_elapsed_ms >= a_->limit_at_ms) {
        if ((a_->receive_guard == 0 || a_->in_pump) && user_questions_ == 0) {
            setup_expired();
            return;
        }
        // A read pass waits on the user (a host-key question, a sign-on dialog): that time is not the host's.
        a_->limit_at_ms = a_->timer_elapsed_ms + a_->limit_ms;
    }
    arm_timer();
}

void session::send_socks_request() {
    if (socks_version() == 5) {
        // No authentication is the one method offered; the CONNECT follows the proxy's choice.
        const std::uint8_t greeting[3] = {5, 1, 0};
        a_->socks_reply_pending = true;
        a_->socks_got = 0;
        a_->socks5_greeted = false;
        session_write(greeting, sizeof greeting);
        return;
    }
    const std::string& host = p_.host;
    std::optional<std::uint32_t> addr;
    if (!host.empty() && host.size() < socks_host_size) {
        // A dotted address is used as it is; anything else (names starting with a digit or a non-ASCII letter
        // included) is looked up.
        addr = parse_dotted_ipv4(host);
        if (!addr) addr = sockets_.lookup_ipv4(host);
    }
    if (!addr || *addr == 0 || *addr == 0xFFFFFFFFu) {
        refuse_attempt(session_msg::dns);
        return;
    }
    std::uint8_t req[9 + 255];
    const std::size_t len =
        build_socks4_request(*addr, static_cast<std::uint16_t>(p_.port), p_.proxy.proxy_syntax, req, sizeof req);
    if (len == 0) {
        refuse_attempt(session_msg::proxy_too_long);
        return;
    }
    a_->socks_reply_pending = true;
    a_->socks_got = 0;
    session_write(req, len);
}

void session::send_socks5_request() {
    std::uint8_t req[7 + 255];
    const std::size_t len = build_socks5_request(p_.host, static_cast<std::uint16_t>(p_.port), req, sizeof req);
    if (len == 0) {
        refuse_attempt(p_.host.empty() ? session_msg::dns : session_msg::proxy_too_long);
        return;
    }
    session_write(req, len);
}

// Takes SOCKS 5 reply bytes from rx_[off, n): the method choice, then the CONNECT reply. False when the session
// ended (a refusal or a reply that is no SOCKS 5).
bool session::read_socks5_reply(std::size_t n, std::size_t& off) {
    while (off < n && a_->socks_reply_pending) {
        a_->socks_reply[a_->socks_got++] = rx_[off++];
        if (!a_->socks5_greeted) {
            if (a_->socks_got < 2) continue;
            if (a_->socks_reply[0] != 5 || a_->socks_reply[1] != 0) {
                lost_connection(a_->socks_reply[0] == 5 && a_->socks_reply[1] == 0xFF ? session_msg::socks5_no_method
                                                                                      : session_msg::socks5_garbled);
                return false;
            }
            a_->socks5_greeted = true;
            a_->socks_got = 0;
            send_socks5_request();
            if (!a_->connected) return false;
            continue;
        }
        if (a_->socks_got == 2 && a_->socks_reply[0] != 5) {
            lost_connection(session_msg::socks5_garbled);
            return false;
        }
        if (a_->socks_got == 2 && a_->socks_reply[1] != 0) {
            lost_connection(socks_refusal(5, a_->socks_reply[1]));
            return false;
        }
        const std::size_t whole = socks5_reply_size(a_->socks_reply, a_->socks_got);
        if (whole == SIZE_MAX) {
            lost_connection(session_msg::socks5_garbled);
            return false;
        }
        if (whole != 0 && a_->socks_got == whole) {
            a_->socks_reply_pending = false;
            setup_progress();
        }
    }
    return a_->connected;
}

void session::send_proxy_text() {
    std::uint8_t text[proxy_text_size];
    const proxy_text_result r = build_proxy_text(p_.proxy.proxy_syntax, p_.host, p_.port, text, sizeof text);
    if (r.too_long) {
        refuse_attempt(session_msg::proxy_too_long);
        return;
    }
    if (r.count == 0) return;  // an empty text sends nothing at all
    if (text[0] < 32 || text[0] > 127) {
        session_write(text, 1);
        if (r.count > 1) session_write(text + 1, r.count - 1);
    } else {
        session_write(text, r.count);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Receive

void session::on_read(int error) {
    attempt& a = *a_;
    if (a.receive_guard != 0) {
        ++a.receive_guard;
        return;
    }
    if (error != 0) return;
    const entered in(*this);
    a.receive_guard = 1;
    // Passes go on until the socket is empty: data that came in while a pass ran a nested event loop (a message
    // box, the pump) gets no notification of its own. After a budget of passes the session yields to the event
    // loop; the socket notifies again for what is left. After the peer closed, read on until nothing is left.
    std::size_t passes = 0;
    for (;;) {
        long got = 0;
        {
            const hold h(*this);  // what the pass raised is shown and asked here, before the next read
            got = read_pass();
        }
        ++passes;
        const bool again = a.receive_guard > 1 || got > 0;
        a.receive_guard = 1;
        if (!again || !a.connected || !a.socket) break;
        if (passes >= receive_passes_per_notification && !a.close_pending) break;
    }
    a.receive_guard = 0;
    if (&a == a_.get() && a.close_pending) {
        a.close_pending = false;
        host_closed();
    }
}

void session::on_write_ready() {
    const entered in(*this);
    if (a_->connected && a_->socket && a_->send_queue_count > 0 && transport() == TransportKind::Telnet) flush_queue();
}

long session::read_pass() {
    const unsigned gen = generation_;
    attempt& a = *a_;
    a.in_pump = true;
    const bool go_on = view_.pump_pending_messages();
    a.in_pump = false;
    // A disconnect (and a new connect) in the pump leaves this pass nothing to read.
    if (!go_on || gen != generation_ || !a.connected || !a.socket) return 0;
    long got = a_->socket->read(rx_.data(), rx_.size());
    if (got <= 0) return 0;
    bytes_received_ += static_cast<std::uint64_t>(got);
    a_->answer_owed = false;
    std::size_t n = static_cast<std::size_t>(got);
    std::size_t off = 0;

    if (p_.proxy.proxy_socks_enable != 0 && a_->socks_reply_pending && socks_version() == 5) {
        // The proxy's replies; the target's first bytes may follow in the same read and are kept.
        if (!read_socks5_reply(n, off)) {
            a_->close_pending = false;
            return got;
        }
        if (off == n) return got;
    } else if (p_.proxy.proxy_socks_enable != 0 && a_->socks_reply_pending && (a_->socks_got > 0 || rx_[0] == 0)) {
        // The proxy's 8-byte reply; the target's first bytes may follow in the same read and are kept.
        while (off < n && a_->socks_got < socks_reply_size) a_->socks_reply[a_->socks_got++] = rx_[off++];
        if (a_->socks_got >= 2 && a_->socks_reply[1] != socks_granted) {
            a_->socks_reply_pending = false;
            a_->close_pending = false;
            lost_connection(socks_refusal(4, a_->socks_reply[1]));
            return got;
        }
        if (a_->socks_got == socks_reply_size) {
            a_->socks_reply_pending = false;
            setup_progress();
        }
        if (off == n) return got;
    }

    const std::uint8_t* data = rx_.data() + off;
    n -= off;
    const TransportKind kind = transport();
    if (log_enabled_ && kind != TransportKind::Telnet) session_log_hex("FROM UNIX (RAW)", data, n);
    if (kind != TransportKind::Telnet) {
        if (ssh_) ssh_->ssh_receive(data, n);
        if (a_->connected) setup_progress();
        return got;
    }
    telnet_pass(data, n);
    return got;
}

void session::telnet_pass(const std::uint8_t* in, std::size_t n) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = in[i];
        const bool command = a_->telnet.process_byte(b);
        if (!command)
            out_[count++] = translate_incoming(b);
        else
            a_->previous_byte = b;
    }
    out_[count] = 0;
    auto_login_check(out_.data(), count);
    capture_append(out_.data(), count);
    display_from_host(out_.data(), count);
}

void session::session_deliver(const std::uint8_t* bytes, std::size_t n) {
    if (!a_->socket || !a_->connected) return;
    session_log_hex("FROM UNIX (descrypted)", bytes, n);
    // Without a translation map (the usual case) the bytes go on as they are, not copied one by one.
    const bool plain = std::all_of(nettopc_.begin(), nettopc_.end(), [](std::int32_t v) { return v == 0; });
    // SSH packets may be larger than the output buffer; they are shown in buffer-sized pieces.
    // A reply the emulator sends may end the session (the engine fails on it).
    while (n > 0 && a_->connected) {
        const std::size_t k = n < receive_buffer_size ? n : receive_buffer_size;
        const std::uint8_t* shown = bytes;
        if (plain) {
            a_->previous_byte = bytes[k - 1];
        } else {
            for (std::size_t i = 0; i < k; ++i) out_[i] = translate_incoming(bytes[i]);
            shown = out_.data();
        }
        capture_append(shown, k);
        display_from_host(shown, k);
        bytes += k;
        n -= k;
    }
}

std::uint8_t session::translate_incoming(std::uint8_t b) {
    // The byte after an ESC is never translated, so escape sequences survive the table.
    const std::uint8_t t = (nettopc_[b] != 0 && a_->previous_byte != ESC) ? nettopc_[b] & 0xFF : b;
    a_->previous_byte = b;
    return t;
}

void session::display_from_host(const std::uint8_t* bytes, std::size_t n) {
    if (!a_->connected) return;
    if (n > 0) a_->output_seen = true;
    view_.before_host_data();
    std::size_t i = 0;
    while (i < n) {
        // feed() stops right after a byte that leaves a reply (one left pending by local input included), so each
        // reply still leaves before the next byte.
        i += vt_.feed(bytes + i, n - i);
        if (!vt_.reply_pending()) continue;
        const char* reply = vt_.take_reply();
        if (reply && *reply) {
            const std::size_t len = std::strlen(reply);
            view_.host_reply(std::string_view(reply, len));
            send_to_host(reinterpret_cast<const std::uint8_t*>(reply), len);
            if (!a_->connected) return;
        }
    }
    view_.update_changed();
}

void session::auto_login_check(const std::uint8_t* text, std::size_t n) {
    const std::string_view data(reinterpret_cast<const char*>(text), ::strnlen(reinterpret_cast<const char*>(text), n));
    const std::string* pairs[2][2] = {{&p_.telnet.auto_search1, &p_.telnet.auto_response1},
                                      {&p_.telnet.auto_search2, &p_.telnet.auto_response2}};
    for (int k = 0; k < 2; ++k) {
        if (!a_->auto_pending[k] || pairs[k][0]->empty()) continue;
        if (data.find(*pairs[k][0]) == std::string_view::npos) continue;
        a_->auto_pending[k] = false;
        send_text_escaped(*pairs[k][1]);
    }
}

void session::set_capture_file(std::string path) {
    // A link the user picked is the user's choice: it is followed now, once. A link put at the path later (by
    // anyone) is refused by every append.
    struct stat st {};
    if (!path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            path = real;
            std::free(real);
        }
    }
    capture_path_ = std::move(path);
}

void session::capture_append(const std::uint8_t* data, std::size_t n) {
    if (capture_path_.empty() || n == 0) return;
    // Created with the user's umask like any file of theirs.
    int error = 0;
    const int fd = open_regular_for_writing(capture_path_, O_APPEND | O_CREAT, 0666, error);
    if (fd < 0) {
        capture_failed(open_failure_text(error).c_str());
        return;
    }
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd, data + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        done += static_cast<std::size_t>(w);
    }
    const int err = done < n ? (errno ? errno : ENOSPC) : 0;
    if (::close(fd) != 0 && done == n) {
        capture_failed(std::strerror(errno));
        return;
    }
    if (done < n) capture_failed(std::strerror(err));
}

void session::capture_failed(const char* why) {
    // Reported once: capture stops (its check mark goes off) instead of losing data silently block after block.
    std::string msg(session_msg::capture_failed);
    msg += capture_path_;
    msg += ": ";
    msg += why;
    msg += ". Capture has stopped.";
    capture_path_.clear();
    say(msg);
}

// ---------------------------------------------------------------------------------------------------------------
// Send

int session::send_to_host(const std::uint8_t* bytes, std::size_t n) {
    if (!a_->connected) return 0;
    if (n > 0) a_->answer_owed = true;
    if (transport() != TransportKind::Telnet) {
        if (!ssh_) return 0;
        // Encrypted packets cannot wait in the queue; user data is refused while the socket is full.
        if (a_->socket && a_->socket->pending_output() >= socket_write_buffer_limit) {
            report_overflow();
            return 0;
        }
        ssh_->ssh_send_user_data(bytes, n);
        return static_cast<int>(n);
    }
    return queue_and_write(bytes, n, true);
}

void session::send_command(const std::uint8_t* bytes, std::size_t n) {
    if (a_->connected) queue_and_write(bytes, n, false);
}

int session::queue_and_write(const std::uint8_t* bytes, std::size_t n, bool double_iac) {
    std::size_t wire = n;
    if (double_iac && n < send_queue_size)
        for (std::size_t i = 0; i < n; ++i) wire += bytes[i] == telnet::IAC;
    if (wire >= send_queue_size - 1 || a_->send_queue_count + wire >= send_queue_size - 1) {
        report_overflow();
        return 0;
    }
    std::uint8_t* q = a_->send_queue.data() + a_->send_queue_count;
    if (wire == n) {
        std::memcpy(q, bytes, n);
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            *q++ = bytes[i];
            if (bytes[i] == telnet::IAC) *q++ = telnet::IAC;
        }
    }
    a_->send_queue_count += wire;
    return flush_queue();
}

void session::report_overflow() {
    // A host that floods queries or negotiation and never reads would otherwise bring one box per reply; the
    // message comes again once the queue has emptied.
    if (a_->overflow_reported) return;
    a_->overflow_reported = true;
    say(session_msg::send_overflow);
}

int session::flush_queue() {
    // While the socket still holds its limit of earlier output, the bytes wait in the queue: it fills and
    // overflows with its message instead of memory growing without bound.
    if (a_->socket && a_->socket->pending_output() >= socket_write_buffer_limit) return 0;
    const int taken = session_write(a_->send_queue.data(), a_->send_queue_count);
    if (taken <= 0) return 0;  // socket error: everything stays queued for the next call
    const std::size_t t = static_cast<std::size_t>(taken);
    if (t < a_->send_queue_count) {
        std::memmove(a_->send_queue.data(), a_->send_queue.data() + t, a_->send_queue_count - t);
        a_->send_queue_count -= t;
    } else {
        a_->send_queue_count = 0;
        a_->overflow_reported = false;
    }
    return taken;
}

int session::send_text_escaped(std::string_view text) {
    std::uint8_t buf[autologin_response_size];
    bool literal[autologin_response_size];
    const escape_result r = decode_escapes(text, buf, sizeof buf, literal);
    if (r.overflow) {
        say(session_msg::response_too_long);
        return 0;
    }
    for (std::size_t i = 0; i < r.count; ++i)
        if (literal[i]) buf[i] = translate_byte(pctonet_, buf[i]);
    if (r.count == 0) return 0;
    return send_to_host(buf, r.count);
}

int session::session_write(const std::uint8_t* bytes, std::size_t n) {
    if (!a_->socket || !a_->connected) return 0;
    if (log_enabled_ && transport() != TransportKind::Telnet) session_log_hex("PC (RAW)", bytes, n);
    const long r = a_->socket->write(bytes, n);
    return r < 0 ? -1 : static_cast<int>(r);
}

// ---------------------------------------------------------------------------------------------------------------
// Logs and Telnet hooks

void session::session_log_hex(std::string_view label, const std::uint8_t* bytes, std::size_t n) {
    if (!a_->socket || !a_->connected || !log_.is_open()) return;
    log_.write_hex(label, clock_.now(), bytes, n);
}

void session::session_log_line(std::string_view text) {
    if (!a_->socket || !a_->connected || !log_.is_open()) return;
    log_.write_line(text);
}

void session::toggle_debug_log() {
    if (log_enabled_) {
        log_enabled_ = false;
        log_.close();
        return;
    }
    if (!log_.open_truncated()) {
        report_log_failure();
        return;
    }
    log_enabled_ = true;
    std::string msg(session_msg::log_prefix);
    msg += log_.path();
    say(msg);
}

void session::report_log_failure() {
    // Logging stays off (and its check mark with it) rather than on with nothing written.
    log_enabled_ = false;
    std::string msg(session_msg::log_failed);
    msg += log_.path().empty() ? std::string("(none)") : log_.path();
    msg += ": ";
    msg += log_.error_text();
    msg += ". Nothing will be logged.";
    say(msg);
}

void session::set_host_echo(bool on) {
    if (!p_.terminal.host_echo) return;
    p_.terminal.local_echo = on;
    view_.set_local_echo(on);
}

std::string_view session::terminal_type() const { return p_.terminal.termtype; }
bool session::tells_window_size() const { return p_.terminal.screen_size; }
