#include "forward/forwarder.h"

#include <algorithm>
#include <array>

#include "forward/socks_request.h"

namespace fwd {
namespace {
constexpr std::size_t read_chunk = 16 * 1024;
constexpr std::uint32_t reason_connect_failed = 2;  // RFC 4254 5.1
}  // namespace

struct forwarder::entry : listener_events {
    entry(forwarder& f, forward_rule s) : owner(f), rule(std::move(s)), label("Tunnel " + describe_forward(rule)) {}
    entry(forwarder& f, std::string l) : owner(f), label(std::move(l)) {}
    void accepted(std::unique_ptr<tunnel_stream> s) override {
        const auto held = owner.hold();
        owner.accept_on(*this, std::move(s));
    }
    void note(std::string_view what) const { owner.note_(label + ": " + std::string(what)); }
    // Where a remote forward's (or the agent's) connections go, for a failure's message.
    std::string destination() const {
        return rule.host.empty() ? "the agent" : rule.host + ":" + std::to_string(rule.host_port);
    }

    forwarder& owner;
    forward_rule rule;
    std::string label;
    std::unique_ptr<port_listener> listener;
    std::string state;
    int open = 0;
    std::uint64_t sent = 0, received = 0;
};

struct forwarder::link : stream_events, channel_events {
    enum class phase { socks, opening, connecting, open, gone };

    link(forwarder& f, entry& e, phase p) : owner(f), e(e), ph(p) { ++e.open; }

    // ----- start -----
    void open_channel(std::string_view host, std::uint16_t port) {
        ph = phase::opening;
        ch = owner.ssh_.open_direct(host, port, stream->peer(), stream->peer_port(), *this);
        if (ch == 0) {
            e.note("the connection cannot open a channel now");
            drop_stream();
            return;
        }
        channel_live = true;
    }

    // ----- local stream -----
    void stream_connected() override {
        const auto held = owner.hold();
        if (ph != phase::connecting) return;
        ph = phase::open;
        channel_live = true;
        owner.ssh_.accept_open(ch, *this);
        pump_to_host();
    }
    void stream_readable() override {
        const auto held = owner.hold();
        if (ph == phase::socks)
            negotiate();
        else if (ph == phase::open)
            pump_to_host();
    }
    void stream_writable() override {
        const auto held = owner.hold();
        flush_to_local();
    }
    void stream_closed(std::string_view why) override {
        const auto held = owner.hold();
        if (ph == phase::connecting) {
            e.note("cannot reach " + e.destination() + ": " + std::string(why));
            owner.ssh_.refuse_open(ch, reason_connect_failed, why);
            stream.reset();
            done();
            return;
        }
        // The program went away: nothing more goes either way.
        drop_stream();
        close_channel();
    }

    // ----- channel -----
    void channel_opened() override {
        if (ph != phase::opening) return;
        ph = phase::open;
        if (socks && stream) write_reply(socks->granted());
        pump_to_host();
    }
    void channel_failed(std::uint32_t reason, std::string_view text) override {
        channel_live = false;
        e.note("the host could not open the channel: " + std::string(text) + " (reason " + std::to_string(reason) +
               ")");
        if (socks && stream) write_reply(socks->failed(reason));
        if (stream) stream->shutdown_write();
        drop_stream();
    }
    void channel_data(std::span<const std::uint8_t> bytes) override {
        e.received += bytes.size();
        if (!stream) {
            owner.ssh_.consumed(ch, bytes.size());  // nobody to hand it to: keep the window open for the close
            return;
        }
        to_local.insert(to_local.end(), bytes.begin(), bytes.end());
        flush_to_local();
    }
    void channel_writable() override { pump_to_host(); }
    void channel_eof() override {
        host_eof = true;
        flush_to_local();  // closes the channel once the program has it all and has ended its own side
    }
    void channel_closed() override {
        channel_live = false;
        host_eof = true;  // nothing more comes
        // The stream goes once the program has taken what the host sent before its CLOSE, which comes as soon as
        // both ends sent EOF, whatever the link still holds.
        if (stream)
            flush_to_local();
        else
            drop_stream();
    }

    // ----- moving bytes -----
    void negotiate() {
        std::array<std::uint8_t, 1024> buf;
        while (stream && ph == phase::socks) {
            const long n = stream->read(buf.data(), buf.size());
            if (n == 0) return;
            if (n < 0) {
                drop_stream();
                return;
            }
            std::size_t used = 0;
            const auto st = socks->feed({buf.data(), std::size_t(n)}, used);
            write_reply(socks->reply());
            socks->clear_reply();
            if (st == socks_request::step::refused) {
                e.note("SOCKS request refused: " + std::string(socks->why()));
                stream->shutdown_write();
                drop_stream();
                return;
            }
            if (st == socks_request::step::connect) {
                socks_timer.reset();
                early.assign(buf.begin() + std::ptrdiff_t(used), buf.begin() + n);
                open_channel(socks->host(), socks->port());
            }
        }
    }
    void write_reply(std::span<const std::uint8_t> r) {
        // A few bytes into a fresh stream: they always fit.
        if (stream && !r.empty()) stream->write(r);
    }
    void pump_to_host() {
        if (ph != phase::open || !stream || local_eof || !channel_live) return;
        ssh_tunnels& ssh = owner.ssh_;
        if (!early.empty()) {
            const std::size_t k = std::min(ssh.send_room(ch), early.size());
            if (k) ssh.send(ch, {early.data(), k});
            e.sent += k;
            early.erase(early.begin(), early.begin() + std::ptrdiff_t(k));
            if (!early.empty()) return;
        }
        std::array<std::uint8_t, read_chunk> buf;
        while (stream && !local_eof) {
            const std::size_t room = ssh.send_room(ch);
            if (room == 0) return;  // channel_writable resumes
            const long n = stream->read(buf.data(), std::min(room, buf.size()));
            if (n == 0) return;
            if (n < 0) {
                local_eof = true;
                ssh.send_eof(ch);
                if (host_eof && to_local.empty()) close_channel();
                return;
            }
            ssh.send(ch, {buf.data(), std::size_t(n)});
            e.sent += std::size_t(n);
        }
    }
    void flush_to_local() {
        if (!stream) return;
        while (stream && to_local_at < to_local.size()) {  // the connection may end inside consumed()
            const std::size_t taken = stream->write({to_local.data() + to_local_at, to_local.size() - to_local_at});
            if (taken == 0) break;
            to_local_at += taken;
            if (channel_live) owner.ssh_.consumed(ch, taken);
        }
        if (to_local_at == to_local.size()) {
            to_local.clear();
            to_local_at = 0;
            if (host_eof && stream) {
                stream->shutdown_write();
                if (!channel_live)
                    drop_stream();
                else if (local_eof)
                    close_channel();  // only now: a CLOSE sent earlier would take what the link holds with it
            }
        }
    }

    // ----- ending -----
    void close_channel() {
        if (channel_live && !close_sent) {
            close_sent = true;
            owner.ssh_.close(ch);
        }
        done();
    }
    void socks_expired() {
        const auto held = owner.hold();
        if (ph != phase::socks || !stream) return;
        e.note("no SOCKS request within " + std::to_string(socks_time_limit_ms / 1000) +
               " s; closed the connection from " + stream->peer());
        drop_stream();
    }
    void drop_stream() {
        socks_timer.reset();
        stream.reset();
        if (channel_live) close_channel();
        done();
    }
    // Gone once neither side can call any more.
    void done() {
        if (ph == phase::gone || stream || channel_live) return;
        ph = phase::gone;
        --e.open;
        owner.finished(this);
    }

    forwarder& owner;
    entry& e;
    phase ph;
    std::unique_ptr<tunnel_stream> stream;
    channel_id ch = 0;
    bool channel_live = false;
    bool close_sent = false;
    bool local_eof = false, host_eof = false;
    std::unique_ptr<socks_request> socks;
    std::unique_ptr<local_timer> socks_timer;  // while the request is awaited
    std::vector<std::uint8_t> early;           // what a SOCKS program sent after its request
    std::vector<std::uint8_t> to_local;        // host data the local stream has not taken yet (within the window)
    std::size_t to_local_at = 0;
};

forwarder::forwarder(local_network& net, ssh_tunnels& ssh, note_fn note)
    : net_(net), ssh_(ssh), note_(std::move(note)), agent_(std::make_unique<entry>(*this, "SSH agent")) {}

forwarder::~forwarder() { stop(); }

void forwarder::start(std::span<const forward_rule> rules) {
    reap();
    for (const forward_rule& s : rules) {
        entry& e = entries_.emplace_back(*this, s);
        if (s.kind == forward_kind::remote) {
            if (ssh_.request_remote(s.listen_address(), s.bind_port)) {
                e.state = "asked";
                asked_.push_back(&e);
            } else {
                e.state = "failed: the connection cannot ask the host now";
                e.note("the connection cannot ask the host now");
            }
            continue;
        }
        std::string why;
        e.listener = net_.listen(s.listen_address(), s.bind_port, e, why);
        if (e.listener) {
            e.state = "listening";
        } else {
            e.state = "failed: " + why;
            e.note("cannot listen: " + why);
        }
    }
}

void forwarder::stop() {
    for (entry& e : entries_)
        if (e.rule.kind == forward_kind::remote && e.state == "listening")
            ssh_.cancel_remote(e.rule.listen_address(), e.rule.bind_port);
    // Links may be inside one of their own calls: they are freed by reap, not here.
    for (auto& l : links_) {
        l->stream.reset();
        l->ph = link::phase::gone;
        done_.push_back(std::move(l));
    }
    links_.clear();
    asked_.clear();
    // The listeners close now; the entries stay until reap, since a link inside a call may still count bytes on
    // its entry (the connection can end from inside that call).
    for (entry& e : entries_) e.listener.reset();
    ended_.splice(ended_.end(), entries_);
    agent_allowed_ = false;
}

bool forwarder::agent_opened(channel_id ch) {
    reap();
    if (!agent_allowed_) return false;
    link_here(*agent_, ch, "the host", [this](link& l, std::string& why) { return net_.connect_agent(l, why); });
    return true;
}

void forwarder::link_here(entry& e, channel_id ch, std::string_view origin, const dial_fn& dial) {
    if (links_.size() >= max_links) {
        e.note("more than " + std::to_string(max_links) + " connections; refused one from " + std::string(origin));
        ssh_.refuse_open(ch, reason_connect_failed, "too many connections");
        return;
    }
    link& l = add_link(std::make_unique<link>(*this, e, link::phase::connecting));
    l.ch = ch;
    std::string why = "no connection could be made";
    l.stream = dial(l, why);
    if (!l.stream) l.stream_closed(why);
}

forwarder::link& forwarder::add_link(std::unique_ptr<link> l) {
    links_.push_back(std::move(l));
    return *links_.back();
}

void forwarder::remote_answer(bool ok) {
    if (asked_.empty()) return;
    entry& e = *asked_.front();
    asked_.erase(asked_.begin());
    e.state = ok ? "listening" : "failed: the host refused to listen";
    if (!ok) e.note("the host refused to listen");
}

forwarder::entry* forwarder::remote_entry(std::string_view address, std::uint16_t port) {
    entry* by_port = nullptr;
    for (entry& e : entries_) {
        if (e.rule.kind != forward_kind::remote || e.rule.bind_port != port || e.state != "listening") continue;
        if (e.rule.listen_address() == address) return &e;
        if (!by_port) by_port = &e;
    }
    return by_port;  // hosts may write the address their own way
}

bool forwarder::forwarded(std::string_view address, std::uint16_t port, channel_id ch, std::string_view origin) {
    reap();
    entry* e = remote_entry(address, port);
    if (!e) return false;
    link_here(*e, ch, origin,
              [this, e](link& l, std::string&) { return net_.connect(e->rule.host, e->rule.host_port, l); });
    return true;
}

void forwarder::accept_on(entry& e, std::unique_ptr<tunnel_stream> s) {
    reap();
    if (links_.size() >= max_links) {
        e.note("more than " + std::to_string(max_links) + " connections; refused one from " + s->peer());
        return;  // s closes
    }
    const bool dynamic = e.rule.kind == forward_kind::dynamic;
    if (dynamic && std::count_if(links_.begin(), links_.end(), [](const auto& l) {
                       return l->ph == link::phase::socks;
                   }) >= std::ptrdiff_t(max_socks_waiting)) {
        e.note("more than " + std::to_string(max_socks_waiting) +
               " connections awaiting a SOCKS request; refused one from " + s->peer());
        return;  // s closes
    }
    link& ref = add_link(std::make_unique<link>(*this, e, dynamic ? link::phase::socks : link::phase::opening));
    ref.stream = std::move(s);
    ref.stream->set_events(&ref);
    if (dynamic) {
        ref.socks = std::make_unique<socks_request>();
        ref.socks_timer = net_.start_timer(socks_time_limit_ms, [l = &ref] { l->socks_expired(); });
        ref.negotiate();  // the request may be there already
    } else {
        ref.open_channel(e.rule.host, e.rule.host_port);
    }
}

void forwarder::finished(link* l) {
    const auto it = std::find_if(links_.begin(), links_.end(), [l](const auto& p) { return p.get() == l; });
    if (it == links_.end()) return;
    done_.push_back(std::move(*it));
    links_.erase(it);
}

void forwarder::reap() {
    done_.clear();
    ended_.clear();
}

std::vector<forwarder::status> forwarder::tunnels() const {
    std::vector<status> out;
    for (const entry& e : entries_) out.push_back({describe_forward(e.rule), e.state, e.open, e.sent, e.received});
    if (agent_allowed_) out.push_back({agent_->label, "forwarded", agent_->open, agent_->sent, agent_->received});
    return out;
}

}  // namespace fwd
