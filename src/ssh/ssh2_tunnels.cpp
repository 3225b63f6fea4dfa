// Port and agent forwarding over the SSH-2 connection layer: the forwarder's channels (direct-tcpip ones we open,
// forwarded-tcpip and auth-agent ones the host opens) as rows of the channel table, tcpip-forward requests, and a
// window per channel that reopens only by what the local end took (RFC 4254 sections 5.2 and 7).
#include <map>

#include "session/profile.h"
#include "session/session.h"
#include "ssh/ssh2.h"

namespace ssh {
namespace {
constexpr std::uint32_t tunnel_window = 512 * 1024;
constexpr std::uint32_t tunnel_max_packet = 32 * 1024;
constexpr std::uint32_t open_prohibited = 1;  // SSH_OPEN_ADMINISTRATIVELY_PROHIBITED
}  // namespace

struct ssh2_engine::tunnel_port final : fwd::ssh_tunnels, channel_handler {
    explicit tunnel_port(ssh2_engine& engine)
        : e(engine), forwarder(*engine.tunnel_net_, *this, [this](std::string_view t) { note(t); }) {
        forwarder.set_hold(engine.hold_);
    }
    ~tunnel_port() override { forwarder.stop(); }

    struct row {
        fwd::channel_events* ev = nullptr;  // null until the forwarder accepts a channel the host opened
        bool close_when_open = false;       // closed by the forwarder before the host confirmed
        bool eof_after_data = false;        // EOF asked for while data still waited for window
    };

    void note(std::string_view t) {
        e.io_.session_log_line(std::string(t));
        if (e.tunnel_note_) e.tunnel_note_(t);
    }
    channel* open_row(fwd::channel_id ch) const {
        channel* c = e.channels_.find(ch);
        return c && c->state == channel_state::open ? c : nullptr;
    }
    // The row and its channel go; the link that was told about it, if any, is returned to be told the end.
    fwd::channel_events* drop_row(std::uint32_t id) {
        const auto it = rows.find(id);
        fwd::channel_events* ev = it == rows.end() ? nullptr : it->second.ev;
        if (it != rows.end()) rows.erase(it);
        e.channels_.remove(id);
        return ev;
    }
    // Disconnect: every tunnel's channel is closed before the session's, and nothing more is forwarded.
    void close_all() {
        for (const auto& [id, r] : rows) {
            channel* c = open_row(id);
            if (c) send_close(*c);
            if (e.closed_) return;
        }
        forwarder.stop();
    }
    void send_close(channel& c) {
        wire_writer w = e.begin(SSH_MSG_CHANNEL_CLOSE);
        w.u32(c.remote_id);
        c.state = channel_state::closing;
        e.send(w);
    }
    void send_eof_now(const channel& c) {
        wire_writer w = e.begin(SSH_MSG_CHANNEL_EOF);
        w.u32(c.remote_id);
        e.send(w);
    }

    // ----- fwd::ssh_tunnels -----
    fwd::channel_id open_direct(std::string_view host, std::uint16_t port, std::string_view origin,
                                std::uint16_t origin_port, fwd::channel_events& ev) override {
        if (e.closed_) return 0;
        channel* c = e.channels_.add(*this, tunnel_window, tunnel_max_packet, true, tunnel_window);
        if (!c) return 0;
        rows[c->local_id].ev = &ev;
        const std::uint32_t id = c->local_id;
        wire_writer w = e.channel_open("direct-tcpip", *c);
        w.string(host);
        w.u32(port);
        w.string(origin);
        w.u32(origin_port);
        e.send(w);
        return id;
    }
    std::size_t send_room(fwd::channel_id ch) const override {
        const channel* c = open_row(ch);
        if (!c || c->pending.size() >= c->remote_window) return 0;
        return c->remote_window - c->pending.size();
    }
    void send(fwd::channel_id ch, std::span<const std::uint8_t> bytes) override {
        channel* c = open_row(ch);
        if (!c) return;
        // Within the room asked for, so nothing waits in practice; the bound holds whatever a caller does.
        const std::size_t k = std::min(bytes.size(), c->pending_limit - std::min(c->pending_limit, c->pending.size()));
        c->pending.insert(c->pending.end(), bytes.begin(), bytes.begin() + std::ptrdiff_t(k));
        e.flush_pending(*c);
    }
    void send_eof(fwd::channel_id ch) override {
        channel* c = open_row(ch);
        if (!c) return;
        if (!c->pending.empty()) {
            rows[ch].eof_after_data = true;
            return;
        }
        send_eof_now(*c);
    }
    void close(fwd::channel_id ch) override {
        channel* c = e.channels_.find(ch);
        if (!c) return;
        if (c->state == channel_state::opening) {
            rows[ch].close_when_open = true;
            return;
        }
        if (c->state == channel_state::open) send_close(*c);
    }
    void consumed(fwd::channel_id ch, std::size_t n) override {
        channel* c = open_row(ch);
        if (!c) return;
        if (const std::uint32_t add = reopen_window(*c, n)) e.send_window_adjust(*c, add);
    }
    bool request_remote(std::string_view address, std::uint16_t port) override {
        if (e.closed_) return false;
        wire_writer w = e.begin(SSH_MSG_GLOBAL_REQUEST);
        w.string("tcpip-forward");
        w.boolean(true);
        w.string(address);
        w.u32(port);
        e.global_pending_.push_back(global_kind::forward);
        e.send(w);
        return true;
    }
    void cancel_remote(std::string_view address, std::uint16_t port) override {
        if (e.closed_) return;
        wire_writer w = e.begin(SSH_MSG_GLOBAL_REQUEST);
        w.string("cancel-tcpip-forward");
        w.boolean(false);
        w.string(address);
        w.u32(port);
        e.send(w);
    }
    void accept_open(fwd::channel_id ch, fwd::channel_events& ev) override {
        channel* c = e.channels_.find(ch);
        if (!c || c->state != channel_state::opening) return;
        rows[ch].ev = &ev;
        c->state = channel_state::open;
        wire_writer w = e.begin(SSH_MSG_CHANNEL_OPEN_CONFIRMATION);
        w.u32(c->remote_id);
        w.u32(c->local_id);
        w.u32(c->local_window);
        w.u32(c->max_packet);
        e.send(w);
    }
    void refuse_open(fwd::channel_id ch, std::uint32_t reason, std::string_view why) override {
        channel* c = e.channels_.find(ch);
        if (!c || c->state != channel_state::opening) return;
        const std::uint32_t remote = c->remote_id;
        drop_row(ch);
        e.refuse_channel(remote, reason, why);
    }

    // ----- channel_handler -----
    bool own_window() const override { return true; }
    void opened(channel& c, wire_reader&) override {
        row& r = rows[c.local_id];
        if (r.close_when_open) return send_close(c);
        if (r.ev) r.ev->channel_opened();
    }
    void open_refused(channel& c, std::uint32_t reason, std::string_view text) override {
        if (fwd::channel_events* ev = drop_row(c.local_id)) ev->channel_failed(reason, text);
    }
    void data(channel& c, std::span<const std::uint8_t> d, std::optional<std::uint32_t> code) override {
        // The window counts what arrived; it reopens by what the local end takes (consumed). What a host sends
        // beyond it is dropped, as OpenSSH does: the link holds no more than the window it gave.
        if (d.size() > c.local_window) {
            e.io_.session_log_line("channel " + std::to_string(c.local_id) + ": the host sent more than its window");
            d = d.first(c.local_window);
        }
        c.local_window -= static_cast<std::uint32_t>(d.size());
        const auto it = rows.find(c.local_id);
        if (code || it == rows.end() || !it->second.ev || c.state != channel_state::open) {
            consumed(c.local_id, d.size());  // nobody takes it: keep the window from closing for good
            return;
        }
        it->second.ev->channel_data(d);
    }
    void eof(channel& c) override {
        const auto it = rows.find(c.local_id);
        if (it != rows.end() && it->second.ev) it->second.ev->channel_eof();
    }
    void closed(channel& c) override {
        // The host's CLOSE: ours answers it unless it went already; the row is gone either way.
        if (c.state == channel_state::open) send_close(c);
        if (fwd::channel_events* ev = drop_row(c.local_id)) ev->channel_closed();
    }
    void request(channel& c, std::string_view, bool want_reply, wire_reader&) override {
        e.refuse_request(c, want_reply);
    }
    void reply(channel&, bool) override {}
    void writable(channel& c) override {
        const auto it = rows.find(c.local_id);
        if (it == rows.end()) return;
        if (it->second.eof_after_data && c.pending.empty()) {
            it->second.eof_after_data = false;
            send_eof_now(c);
            return;
        }
        if (it->second.ev) it->second.ev->channel_writable();
    }

    ssh2_engine& e;
    std::map<std::uint32_t, row> rows;
    fwd::forwarder forwarder;
};

void ssh2_engine::tunnel_port_deleter::operator()(tunnel_port* p) const { delete p; }

void ssh2_engine::stop_tunnels() {
    if (tunnels_) tunnels_->forwarder.stop();
}

void ssh2_engine::close_tunnels() {
    if (tunnels_) tunnels_->close_all();
}

void ssh2_engine::set_tunnels(fwd::local_network* net, std::function<void(std::string_view)> note,
                              fwd::forwarder::hold_fn hold) {
    tunnel_net_ = net;
    tunnel_note_ = std::move(note);
    hold_ = std::move(hold);
}

std::vector<fwd::forwarder::status> ssh2_engine::tunnels() const {
    return tunnels_ ? tunnels_->forwarder.tunnels() : std::vector<fwd::forwarder::status>{};
}

fwd::ssh_tunnels* ssh2_engine::direct_channels() {
    if (!negotiated_ || !tunnel_net_ || closed_) return nullptr;
    if (!tunnels_) tunnels_.reset(new tunnel_port(*this));
    return tunnels_.get();
}

void ssh2_engine::start_tunnels() {
    if (!negotiated_ || !tunnel_net_ || tunnels_) return;
    const fwd::forward_list list = fwd::parse_forwards(p_.ssh.ssh_forwards);
    if (list.rules.empty() && list.errors.empty() && !p_.ssh.ssh_agent_forward) return;
    tunnels_.reset(new tunnel_port(*this));
    for (const fwd::forward_error& err : list.errors)
        tunnels_->note("Forward \"" + err.entry + "\" is not used: " + err.why);
    tunnels_->forwarder.allow_agent(p_.ssh.ssh_agent_forward != 0);
    tunnels_->forwarder.start(list.rules);
}

void ssh2_engine::refuse_channel(std::uint32_t remote, std::uint32_t reason, std::string_view why) {
    wire_writer w = begin(SSH_MSG_CHANNEL_OPEN_FAILURE);
    w.u32(remote);
    w.u32(reason);
    w.string(why);
    w.string("");
    send(w);
}

void ssh2_engine::on_channel_open(wire_reader& r) {
    if (!negotiated_) return;
    const auto type = r.text(64);
    const auto sender = r.u32();
    const auto window = r.u32();
    const auto max_packet = r.u32();
    if (!r.ok()) return fail(msg::protocol_violation);
    const bool forwarded = *type == "forwarded-tcpip";
    const bool agent = *type == "auth-agent@openssh.com";
    if (!tunnels_ || (!forwarded && !agent)) {
        io_.session_log_line("refused a channel of type " + host_text(*type, 64) + " opened by the host");
        return refuse_channel(*sender, open_prohibited, "no such channels are accepted from the host");
    }
    std::optional<std::string_view> address, origin;
    std::optional<std::uint32_t> port, origin_port;
    if (forwarded) {
        address = r.text(256);
        port = r.u32();
        origin = r.text(256);
        origin_port = r.u32();
        if (!r.ok() || *port > 65535) return fail(msg::protocol_violation);
    }
    if (!finished(r)) return;
    channel* c = channels_.add(*tunnels_, tunnel_window, tunnel_max_packet, true, tunnel_window);
    if (!c) return refuse_channel(*sender, 4, "too many channels");  // SSH_OPEN_RESOURCE_SHORTAGE
    c->remote_id = *sender;
    c->remote_window = *window;
    c->remote_max_packet = *max_packet;
    tunnels_->rows[c->local_id];
    const std::uint32_t id = c->local_id;
    const bool taken = forwarded
                           ? tunnels_->forwarder.forwarded(*address, std::uint16_t(*port), id, host_text(*origin, 256))
                           : tunnels_->forwarder.agent_opened(id);
    if (!taken) tunnels_->refuse_open(id, open_prohibited, "no such forward was asked for");
}

void ssh2_engine::on_request_answer(wire_reader&) {
    // Any answer shows the host is alive; the oldest request still waiting is the one answered.
    keepalives_unanswered_ = 0;
    if (global_pending_.empty()) return;
    const global_kind kind = global_pending_.front();
    global_pending_.pop_front();
    if (kind == global_kind::forward && tunnels_)
        tunnels_->forwarder.remote_answer(in_type_ == SSH_MSG_REQUEST_SUCCESS);
}

}  // namespace ssh
