// The SSH-2 connection layer (RFC 4254): global requests, the channel table's messages dispatched by the recipient
// number, window accounting, and the one interactive session channel (pty, shell, window-change, typed data).
#include <unistd.h>

#include <algorithm>

#include "config/locale_env.h"
#include "session/profile.h"
#include "config/ui_services.h"
#include "crypto/wipe.h"
#include "session/session.h"
#include "ssh/ssh2.h"
#include "ssh/ssh2_services.h"

namespace ssh {
namespace {
constexpr std::uint32_t open_prohibited = 1;  // SSH_OPEN_ADMINISTRATIVELY_PROHIBITED
}  // namespace

ssh2_connection::ssh2_connection(connection_link& link, connection_profile& p, session_services& io, ui_services& ui)
    : link_(link), p_(p), io_(io), ui_(ui) {
    // The order is the one each turn walks: forwards close before SFTP at Disconnect, as the tunnels' channels
    // always went first.
    tunnels_ = &add_service<tunnel_service>(*this);
    add_service<agent_service>(*this, *tunnels_);
    sftp_ = &add_service<sftp_service>(*this);
}

ssh2_connection::~ssh2_connection() = default;

// ---------------------------------------------------------------------------------------------------------------
// Messages for any channel

channel* ssh2_connection::recipient(wire_reader& r) {
    const auto id = r.u32();
    if (!id) {
        fail(msg::protocol_violation);
        return nullptr;
    }
    channel* c = channels_.find(*id);
    if (!c) fail(unknown_channel_message(*id));
    return c;
}

std::string unknown_channel_message(std::uint32_t id) {
    return "SSH protocol violation: the host sent a message for channel " + std::to_string(id) +
           ", which is not open. Session must close!!!";
}

void ssh2_connection::on_open_confirmation(wire_reader& r) {
    channel* c = recipient(r);
    if (!c) return;
    const auto sender = r.u32();
    const auto window = r.u32();
    const auto max_packet = r.u32();
    if (!r.ok() || c->state != channel_state::opening) return fail(msg::protocol_violation);
    c->remote_id = *sender;
    c->remote_window = *window;
    c->remote_max_packet = *max_packet;
    c->state = channel_state::open;
    if (c->released) return send_close(*c);
    // Channel-type data may follow: the type's handler reads it, or not.
    c->handler->opened(*c, r);
}

void ssh2_connection::on_open_failure(wire_reader& r) {
    channel* c = recipient(r);
    if (!c) return;
    // A host that leaves out reason, text and language is still refused; one that sends more is a protocol error.
    const auto reason = r.u32();
    const auto text = r.string();
    r.string();
    if (r.ok() && !finished(r)) return;
    if (c->state != channel_state::opening) return fail(msg::protocol_violation);
    const std::uint32_t id = c->local_id;
    // Nothing more comes for a refused channel. Marked first, so a row its handler opens under the same number
    // meanwhile is not the one removed here.
    c->state = channel_state::closing;
    if (!c->released) c->handler->open_refused(*c, reason.value_or(0), text ? host_text(*text, 256) : std::string());
    if (closed()) return;
    if (const channel* still = channels_.find(id); still && still->state == channel_state::closing)
        channels_.remove(id);
}

// A row still opening hears what comes as before (a fixed-suite host may send before it confirms).
bool ssh2_connection::listening(const channel& c) { return !c.released && c.state != channel_state::closing; }

void ssh2_connection::on_data(wire_reader& r) {
    channel* c = recipient(r);
    if (!c) return;
    const auto payload = r.string();
    if (payload && finished(r) && listening(*c)) take_data(*c, *payload, std::nullopt);
}

void ssh2_connection::on_extended_data(wire_reader& r) {
    channel* c = recipient(r);
    if (!c) return;
    const auto code = r.u32();
    const auto payload = r.string();
    if (payload && finished(r) && listening(*c)) take_data(*c, *payload, code);
}

void ssh2_connection::take_data(channel& c, std::span<const std::uint8_t> payload, std::optional<std::uint32_t> code) {
    const std::uint32_t id = c.local_id;
    c.handler->data(c, payload, code);
    if (closed()) return;
    channel* still = channels_.find(id);
    if (!still || still->handler->own_window()) return;
    if (const std::uint32_t add = consume_window(*still, payload.size())) send_window_adjust(*still, add);
}

void ssh2_connection::send_window_adjust(const channel& c, std::uint32_t add) {
    wire_writer w = begin(SSH_MSG_CHANNEL_WINDOW_ADJUST);
    w.u32(c.remote_id);
    w.u32(add);
    send(w);
}

void ssh2_connection::on_window_adjust(wire_reader& r) {
    channel* c = recipient(r);
    if (!c) return;
    const auto add = r.u32();
    if (!add || !finished(r)) return;
    if (!c->window_limited || !listening(*c)) return;  // the fixed suite never limits what it sends
    grow_remote_window(*c, *add);
    const std::uint32_t id = c->local_id;
    flush_pending(*c);
    if (closed()) return;
    if (channel* still = channels_.find(id)) still->handler->writable(*still);
}

void ssh2_connection::on_eof(wire_reader& r) {
    channel* c = recipient(r);
    if (c && finished(r) && listening(*c)) c->handler->eof(*c);
}

void ssh2_connection::on_close(wire_reader& r) {
    channel* c = recipient(r);
    if (!c || !finished(r)) return;
    const std::uint32_t id = c->local_id;
    if (!c->released) c->handler->closed(*c);
    if (closed()) return;
    // CLOSE has now gone both ways for a row its handler let go.
    channel* still = channels_.find(id);
    if (!still || !still->released) return;
    if (still->state == channel_state::open) send_close(*still);
    if (!closed()) channels_.remove(id);
}

void ssh2_connection::on_channel_success(wire_reader& r) {
    channel* c = recipient(r);
    if (c && finished(r) && listening(*c)) c->handler->reply(*c, true);
}

void ssh2_connection::on_channel_failure(wire_reader& r) {
    channel* c = recipient(r);
    if (c && finished(r) && listening(*c)) c->handler->reply(*c, false);
}

void ssh2_connection::on_channel_request(wire_reader& r) {
    channel* c = recipient(r);
    if (!c || !listening(*c)) return;
    const auto type = r.string();
    const auto want_reply = r.boolean();
    if (!type || !want_reply) return;
    // Request-specific data may follow: the type's handler reads it, or not.
    c->handler->request(*c, std::string_view(reinterpret_cast<const char*>(type->data()), type->size()), *want_reply,
                        r);
}

void ssh2_connection::on_global_request(wire_reader& r) {
    // Request-specific data may follow: not checked for the end.
    r.string();
    const auto want_reply = r.boolean();
    if (!want_reply || !*want_reply) return;
    // Keep-alive probes want an answer; a refusal is the answer for every request we do not serve.
    send(begin(SSH_MSG_REQUEST_FAILURE));
}

wire_writer ssh2_connection::global_request(std::string_view name, channel_service& to) {
    global_pending_.push_back(&to);
    wire_writer w = begin(SSH_MSG_GLOBAL_REQUEST);
    w.string(name);
    w.boolean(true);
    return w;
}

void ssh2_connection::on_request_success(wire_reader&) { global_answer(true); }
void ssh2_connection::on_request_failure(wire_reader&) { global_answer(false); }

void ssh2_connection::global_answer(bool success) {
    // Any answer shows the host is alive; the oldest request still waiting is the one answered.
    keepalives_unanswered_ = 0;
    if (global_pending_.empty()) return;
    channel_service* to = global_pending_.front();
    global_pending_.pop_front();
    if (to) to->global_answer(success);
}

void ssh2_connection::on_channel_open(wire_reader& r) {
    if (!negotiated()) return;
    const auto type = r.text(64);
    const auto sender = r.u32();
    const auto window = r.u32();
    const auto max_packet = r.u32();
    if (!r.ok()) return fail(msg::protocol_violation);
    for (const auto& s : services_)
        if (s->accepts(*type)) return s->open_from_host(*type, {*sender, *window, *max_packet}, r);
    io_.session_log_line("refused a channel of type " + host_text(*type, 64) + " opened by the host");
    refuse_channel(*sender, open_prohibited, "no such channels are accepted from the host");
}

channel* ssh2_connection::host_channel(const host_open& o, channel_handler& h, std::uint32_t window,
                                       std::uint32_t max_packet, std::size_t pending_limit) {
    channel* c = channels_.add(h, window, max_packet, true, pending_limit);
    if (!c) {
        refuse_channel(o.sender, 4, "too many channels");  // SSH_OPEN_RESOURCE_SHORTAGE
        return nullptr;
    }
    c->remote_id = o.sender;
    c->remote_window = o.window;
    c->remote_max_packet = o.max_packet;
    return c;
}

void ssh2_connection::confirm_open(channel& c) {
    c.state = channel_state::open;
    wire_writer w = begin(SSH_MSG_CHANNEL_OPEN_CONFIRMATION);
    w.u32(c.remote_id);
    w.u32(c.local_id);
    w.u32(c.local_window);
    w.u32(c.max_packet);
    send(w);
}

void ssh2_connection::refuse_channel(std::uint32_t remote, std::uint32_t reason, std::string_view why) {
    wire_writer w = begin(SSH_MSG_CHANNEL_OPEN_FAILURE);
    w.u32(remote);
    w.u32(reason);
    w.string(why);
    w.string("");
    send(w);
}

void ssh2_connection::send_close(channel& c) {
    c.state = channel_state::closing;
    wire_writer w = begin(SSH_MSG_CHANNEL_CLOSE);
    w.u32(c.remote_id);
    send(w);
}

void ssh2_connection::send_eof(const channel& c) {
    wire_writer w = begin(SSH_MSG_CHANNEL_EOF);
    w.u32(c.remote_id);
    send(w);
}

void ssh2_connection::release_channel(std::uint32_t id) {
    channel* c = channels_.find(id);
    if (!c || c->released) return;
    c->released = true;
    // One still opening is closed once the host confirms it.
    if (c->state == channel_state::open && !closed()) send_close(*c);
}

void ssh2_connection::send_data_packet(std::uint32_t remote_id, const std::uint8_t* bytes, std::size_t n) {
    wire_writer w = begin(SSH_MSG_CHANNEL_DATA);
    w.u32(remote_id);
    w.string(bytes, n);
    send(w);
}

void ssh2_connection::flush_pending(channel& c) {
    std::size_t sent = 0;
    const std::size_t piece = data_piece(c, max_data_per_packet);
    while (sent < c.pending.size() && c.remote_window > 0) {
        const std::size_t k = std::min({c.pending.size() - sent, piece, std::size_t(c.remote_window)});
        send_data_packet(c.remote_id, c.pending.data() + sent, k);
        if (closed()) return;
        c.remote_window -= static_cast<std::uint32_t>(k);
        sent += k;
    }
    c.pending.erase(c.pending.begin(), c.pending.begin() + std::ptrdiff_t(sent));
}

wire_writer ssh2_connection::channel_open(std::string_view type, const channel& c) {
    wire_writer w = begin(SSH_MSG_CHANNEL_OPEN);
    w.string(type);
    w.u32(c.local_id);
    w.u32(c.local_window);
    w.u32(c.max_packet);
    return w;
}

void ssh2_connection::refuse_request(const channel& c, bool want_reply) {
    if (!want_reply) return;
    wire_writer w = begin(SSH_MSG_CHANNEL_FAILURE);
    w.u32(c.remote_id);
    send(w);
}

// ---------------------------------------------------------------------------------------------------------------
// The connection's life

void ssh2_connection::set_network(fwd::local_network* net, std::function<void(std::string_view)> note,
                                  fwd::forwarder::hold_fn hold) {
    net_ = net;
    note_ = std::move(note);
    hold_ = std::move(hold);
}

void ssh2_connection::signed_on() {
    if (jump_ready_) return jump_ready_();
    open_session();
}

void ssh2_connection::stop() {
    for (const auto& s : services_) s->stop();
}

void ssh2_connection::goodbye() {
    for (const auto& s : services_) {
        s->close();
        if (closed()) return;
    }
    if (channel* c = session_channel(); c && c->state == channel_state::open) {
        wire_writer w = begin(SSH_MSG_CHANNEL_CLOSE);
        w.u32(c->remote_id);
        const std::uint32_t id = c->local_id;
        send(w);
        if (closed()) return;
        channels_.remove(id);
        session_.reset();
    }
}

void ssh2_connection::notice(std::string_view text) {
    io_.session_log_line(text);
    if (note_) note_(text);
}

void ssh2_connection::keepalive() {
    if (closed() || !negotiated() || !link_.keyed() || !link_.service_requested()) return;
    if (p_.ssh.ssh_keepalive_max > 0 && keepalives_unanswered_ >= p_.ssh.ssh_keepalive_max)
        return fail(std::string(session_msg::lost) + "\n" + keepalive_timeout_message(keepalives_unanswered_));
    ++keepalives_unanswered_;
    global_pending_.push_back(nullptr);
    wire_writer w = begin(SSH_MSG_GLOBAL_REQUEST);
    w.string("keepalive@openssh.com");
    w.boolean(true);
    send(w);
}

std::string keepalive_timeout_message(int unanswered) {
    return "No answer from the host after " + std::to_string(unanswered) +
           (unanswered == 1 ? " keep-alive." : " keep-alives.");
}

// ---------------------------------------------------------------------------------------------------------------
// The session channel

void ssh2_connection::open_session() {
    const bool n = negotiated();
    const std::uint32_t window = n ? large_window : initial_window;
    const std::uint32_t max_packet = n ? large_max_packet : announced_max_packet;
    channel* c = channels_.add(session_type_, window, max_packet, n, n ? pending_send_limit : 0);
    if (!c) return fail(msg::out_of_memory);
    // Typed text may be a password: it never moves, so wiping the row leaves no copy.
    if (n) c->pending.reserve(pending_send_limit);
    session_ = c->local_id;
    send(channel_open("session", *c));
}

channel* ssh2_connection::session_channel() const { return session_ ? channels_.find(*session_) : nullptr; }

bool ssh2_connection::session_open() const {
    const channel* c = session_channel();
    return c && c->state == channel_state::open;
}

std::uint32_t ssh2_connection::local_window() const {
    const channel* c = session_channel();
    return c ? c->local_window : initial_window;
}

void ssh2_connection::session_handler::opened(channel& ch, wire_reader&) {
    for (const auto& s : c.services_) {
        s->session_opened(ch);
        if (c.closed()) return;
    }
    // The locale as OpenSSH's stock client configuration passes it (SendEnv LANG LC_*), and what the host's
    // SendEnv lines name; a host that accepts none ignores them.
    std::vector<env_variable> env;
    if (c.p_.ssh.ssh_send_locale) env = locale_environment(environ);
    for (env_variable& v : matching_environment(environ, c.p_.ssh.send_env)) {
        bool known = false;
        for (const env_variable& k : env) known = known || k.name == v.name;
        if (!known && env.size() < locale_env_max_count) env.push_back(std::move(v));
    }
    for (const env_variable& v : env) {
        wire_writer w = c.begin(SSH_MSG_CHANNEL_REQUEST);
        w.u32(ch.remote_id);
        w.string("env");
        w.boolean(false);
        w.string(v.name);
        w.string(v.value);
        c.send(w);
    }
    c.send_channel_request("pty-req", true);
}

void ssh2_connection::session_handler::open_refused(channel&, std::uint32_t, std::string_view) {
    c.fail(msg::channel_refused);
}

void ssh2_connection::session_handler::data(channel&, std::span<const std::uint8_t> d, std::optional<std::uint32_t>) {
    // Standard error goes to the terminal too.
    c.io_.session_deliver(d.data(), d.size());
}

void ssh2_connection::session_handler::eof(channel&) {}

void ssh2_connection::session_handler::closed(channel&) { c.io_.session_disconnect(); }

void ssh2_connection::session_handler::request(channel& ch, std::string_view, bool want_reply, wire_reader&) {
    // exit-status, exit-signal and the like need no answer; whatever wants one is refused.
    c.refuse_request(ch, want_reply);
}

void ssh2_connection::shell_step(bool success) {
    if (success) {
        if (pty_pending_) {
            pty_pending_ = false;
            send_channel_request("shell", false);
            shell_pending_ = true;
            for (const auto& s : services_) {
                if (closed()) return;
                s->start();
            }
        } else {
            shell_pending_ = false;
        }
        return;
    }
    // Only the pty and shell requests want a reply, so the refusal is theirs. A refused pty (sshd's PermitTTY no, a
    // key's no-pty) is said and the shell asked for without one, as OpenSSH's client does.
    if (pty_pending_) {
        no_pty_ = true;
        notice(msg::pty_refused);
        if (closed()) return;
        return shell_step(true);
    }
    if (shell_pending_) return fail(msg::shell_refused);
    io_.session_disconnect();
}

void ssh2_connection::send_channel_request(std::string_view type, bool pty) {
    const channel* c = session_channel();
    wire_writer w = begin(SSH_MSG_CHANNEL_REQUEST);
    w.u32(c ? c->remote_id : 0);
    w.string(type);
    w.boolean(true);
    if (pty) {
        w.string(p_.terminal.termtype);
        if (grid_follows_window()) {
            w.u32(static_cast<std::uint32_t>(grid_.columns));
            w.u32(static_cast<std::uint32_t>(grid_.rows));
        } else {
            w.u32(negotiated() ? static_cast<std::uint32_t>(columns_) : 80);
            w.u32(24);
        }
        w.u32(0);
        w.u32(0);
        w.string("");
        pty_pending_ = true;
    }
    send(w);
}

// The fixed suite keeps its written 80 x 24 whatever the mode.
bool ssh2_connection::grid_follows_window() const { return negotiated() && p_.terminal.screen_size; }

void ssh2_connection::set_columns(int columns) {
    if (columns == columns_) return;
    columns_ = columns;
    if (negotiated() && !grid_follows_window() && session_open() && link_.keyed() && !no_pty_)
        send_window_change(24, columns_);
}

void ssh2_connection::set_window_size(int rows, int columns) {
    if (!grid_.take(rows, columns)) return;
    if (grid_follows_window() && session_open() && link_.keyed() && !no_pty_)
        send_window_change(grid_.rows, grid_.columns);
}

void ssh2_connection::send_window_change(int rows, int columns) {
    wire_writer w = begin(SSH_MSG_CHANNEL_REQUEST);
    w.u32(session_channel()->remote_id);
    w.string("window-change");
    w.boolean(false);
    w.u32(static_cast<std::uint32_t>(columns));
    w.u32(static_cast<std::uint32_t>(rows));
    w.u32(0);
    w.u32(0);
    send(w);
}

void ssh2_connection::send_user_data(const std::uint8_t* bytes, std::size_t n) {
    if (closed()) return;
    channel* c = session_channel();
    if (negotiated()) {
        if (!c || c->state != channel_state::open) {
            // Before the channel there is no one to type to, and whatever the emulator answers to a banner must
            // never reach the host.
            io_.session_log_line("data before the session channel was open: not sent");
            return;
        }
        // Behind what already waits, and within the host's window.
        if (c->pending.size() + n > c->pending_limit) {
            ui_.message_box(msg::send_overflow);
            return;
        }
        c->pending.insert(c->pending.end(), bytes, bytes + n);
        return flush_pending(*c);
    }
    // The fixed suite sends at once, as it always did, to whatever channel number the host gave (0 before then).
    const std::uint32_t to = c ? c->remote_id : 0;
    const std::size_t piece = c ? data_piece(*c, max_data_per_packet) : max_data_per_packet;
    do {
        const std::size_t k = std::min(n, piece);
        send_data_packet(to, bytes, k);
        bytes += k;
        n -= k;
    } while (n > 0 && !closed());
}

}  // namespace ssh
