#include "session/jump.h"

#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <span>
#include <utility>

#include "config/ui_services.h"
#include "crypto/wipe.h"
#include "forward/tunnel_ports.h"
#include "session/session.h"
#include "ssh/ssh2.h"

// ---------------------------------------------------------------------------------------------------------------
// The -J syntax

std::string jump_hop::text() const {
    std::string t = user.empty() ? std::string() : user + "@";
    t += host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return t + ":" + std::to_string(port);
}

namespace {

bool set_why(std::string* why, std::string text) {
    if (why) *why = std::move(text);
    return false;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A URL's user part is percent-encoded (RFC 3986); a NUL or a lone '%' makes it unusable.
std::optional<std::string> percent_decoded(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size()) return std::nullopt;
        const int hi = hex_digit(s[i + 1]), lo = hex_digit(s[i + 2]);
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

// Printable ASCII without the characters that separate the parts or would reach a shell or a log oddly.
bool plain_name(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return c > ' ' && c < 0x7F && c != '@' && c != ',' && c != '/' && c != '[' && c != ']' && c != '\'' &&
               c != '"' && c != '\\';
    });
}

bool ipv6_literal(std::string_view s) {
    // Hex digits, colons, dots for an embedded IPv4 part and a zone after '%'.
    const std::size_t zone = s.find('%');
    const std::string_view addr = s.substr(0, zone);
    if (addr.find(':') == std::string_view::npos) return false;
    const bool digits =
        std::all_of(addr.begin(), addr.end(), [](char c) { return hex_digit(c) >= 0 || c == ':' || c == '.'; });
    return digits && (zone == std::string_view::npos || plain_name(s.substr(zone + 1)));
}

bool parse_port(std::string_view s, int& port) {
    if (s.empty() || s.size() > 5) return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < 1 || v > 65535) return false;
    port = v;
    return true;
}

bool parse_hop(std::string_view entry, jump_hop& hop, std::string* why) {
    const std::string quoted = "\"" + std::string(entry) + "\"";
    bool url = false;
    if (entry.size() >= 6 && entry.substr(0, 6) == "ssh://") {
        url = true;
        entry.remove_prefix(6);
        // ssh://host/ names no path; anything after the slash is refused as OpenSSH does.
        if (!entry.empty() && entry.back() == '/') entry.remove_suffix(1);
    }
    if (entry.empty()) return set_why(why, "an empty jump host in the list");
    if (const std::size_t at = entry.rfind('@'); at != std::string_view::npos) {
        std::string_view user = entry.substr(0, at);
        entry.remove_prefix(at + 1);
        if (url) {
            // Connection parameters after ';' (a host key fingerprint) are not used.
            user = user.substr(0, user.find(';'));
            const std::optional<std::string> decoded = percent_decoded(user);
            if (!decoded) return set_why(why, "the user name in " + quoted + " is not a valid URL part");
            hop.user = *decoded;
        } else {
            hop.user = std::string(user);
        }
        if (hop.user.empty() || std::any_of(hop.user.begin(), hop.user.end(),
                                            [](char c) { return static_cast<unsigned char>(c) < ' ' || c == 0x7F; }))
            return set_why(why, "no usable user name before '@' in " + quoted);
    }
    std::string_view port_text;
    if (!entry.empty() && entry.front() == '[') {
        const std::size_t close = entry.find(']');
        if (close == std::string_view::npos) return set_why(why, "a '[' without its ']' in " + quoted);
        const std::string_view addr = entry.substr(1, close - 1);
        if (!ipv6_literal(addr)) return set_why(why, "no IPv6 address within the brackets of " + quoted);
        hop.host = std::string(addr);
        const std::string_view rest = entry.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return set_why(why, "unexpected text after ']' in " + quoted);
            port_text = rest.substr(1);
            if (port_text.empty()) return set_why(why, "no port after ':' in " + quoted);
        }
    } else {
        const std::size_t colon = entry.find(':');
        if (colon != std::string_view::npos && entry.find(':', colon + 1) != std::string_view::npos)
            return set_why(why, "an IPv6 address needs brackets: " + quoted);
        const std::string_view host = entry.substr(0, colon);
        if (!plain_name(host)) return set_why(why, "no usable host name in " + quoted);
        hop.host = std::string(host);
        if (colon != std::string_view::npos) {
            port_text = entry.substr(colon + 1);
            if (port_text.empty()) return set_why(why, "no port after ':' in " + quoted);
        }
    }
    if (!port_text.empty() && !parse_port(port_text, hop.port))
        return set_why(why, "the port in " + quoted + " is not a number from 1 to 65535");
    return true;
}

}  // namespace

std::optional<std::vector<jump_hop>> parse_jump_chain(std::string_view text, std::string* why) {
    if (text.size() > max_jump_text) {
        set_why(why, "the jump host list is longer than " + std::to_string(max_jump_text) + " characters");
        return std::nullopt;
    }
    std::vector<jump_hop> hops;
    if (text == "none") return hops;
    if (text.empty()) {
        set_why(why, "no jump host given");
        return std::nullopt;
    }
    for (;;) {
        const std::size_t comma = text.find(',');
        if (hops.size() == max_jump_hops) {
            set_why(why, "more than " + std::to_string(max_jump_hops) + " jump hosts");
            return std::nullopt;
        }
        jump_hop hop;
        if (!parse_hop(text.substr(0, comma), hop, why)) return std::nullopt;
        hops.push_back(std::move(hop));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return hops;
}

// ---------------------------------------------------------------------------------------------------------------
// The chain of hops

namespace {

// Hops forward nothing of their own: the only channels are the ones to the next hop.
struct no_local_network final : fwd::local_network {
    std::unique_ptr<fwd::local_timer> start_timer(int, std::function<void()>) override { return nullptr; }
    std::unique_ptr<fwd::port_listener> listen(std::string_view, std::uint16_t, fwd::listener_events&,
                                               std::string& why) override {
        why = "not on a jump host";
        return nullptr;
    }
    std::unique_ptr<fwd::tunnel_stream> connect(std::string_view, std::uint16_t, fwd::stream_events&) override {
        return nullptr;
    }
    std::unique_ptr<fwd::tunnel_stream> connect_agent(fwd::stream_events&, std::string& why) override {
        why = "not on a jump host";
        return nullptr;
    }
};

// "The connection was refused." as "the connection was refused.", for use after "Jump host X: ".
std::string lower_first(std::string text) {
    if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && text[1] >= 'a' && text[1] <= 'z') text[0] += 'a' - 'A';
    return text;
}

std::string_view open_failure_name(std::uint32_t reason) {
    switch (reason) {
    case 1: return "administratively prohibited";
    case 2: return "connect failed";
    case 3: return "unknown channel type";
    case 4: return "resource shortage";
    default: return "refused";
    }
}

class jump_chain;

// One hop: an SSH-2 engine over the socket below (the real one for the first hop, the hop before's channel for the
// others), and the direct-tcpip channel it opens, which is the socket of the one above. Whatever the engine does
// happens inside its step; the hop tells the one above only once that step has returned (settle), so nothing above
// can end the chain under a running engine.
class jump_link final : public session_socket,
                        private socket_events,
                        private session_services,
                        private ui_services,
                        private fwd::channel_events {
public:
    jump_link(jump_chain& chain, jump_hop hop, connection_profile profile, ui_services& ui, ssh::ssh_prompts& prompts,
              std::weak_ptr<std::function<void(bool)>> hook);
    ~jump_link() override;

    void attach(session_socket& lower, bool lower_is_hop) {
        lower_ = &lower;
        lower_is_hop_ = lower_is_hop;
    }
    socket_events& lower_events() { return *this; }
    void set_upper(socket_events* up) { up_ = up; }

    // session_socket: the channel, as the hop above (or the session) sees it
    connect_result connect(std::string_view host, std::uint16_t port) override;
    long read(std::uint8_t* buf, std::size_t n) override;
    long write(const std::uint8_t* buf, std::size_t n) override;
    std::size_t pending_output() const override { return out_.size() - out_head_; }
    void close() override;
    socket_failure failure() const override { return failure_; }
    void set_keep_alive(bool on) override {
        if (lower_) lower_->set_keep_alive(on);
    }

private:
    enum class stage { idle, connecting, signing_on, opening, open, ended };

    // socket_events: the socket below
    void on_read(int error) override;
    void on_connect_complete(int error) override;
    void on_close() override;
    void on_write_ready() override { flush(); }

    // session_services: the engine
    int session_write(const std::uint8_t* bytes, std::size_t n) override;
    void session_deliver(const std::uint8_t*, std::size_t) override {}
    void session_log_hex(std::string_view, const std::uint8_t*, std::size_t) override {}
    void session_log_line(std::string_view) override {}
    void session_disconnect() override;
    void session_fail(std::string_view text) override;
    void session_ask(user_question q) override { questions_.push_back(std::move(q)); }

    // ui_services: the engine's messages wait for the end of its step like its questions
    void message_box(std::string_view text) override { notes_.push_back(named(text)); }
    bool ask_yes_no(std::string_view text) override { return ui_.ask_yes_no(named(text)); }

    // fwd::channel_events: the channel to the next host
    void channel_opened() override;
    void channel_failed(std::uint32_t reason, std::string_view text) override;
    void channel_data(std::span<const std::uint8_t> bytes) override;
    void channel_writable() override { flush(); }
    void channel_eof() override { peer_done_ = true; }
    void channel_closed() override {
        ch_ = 0;
        peer_done_ = true;
    }

    std::string named(std::string_view text) const { return "Jump host " + hop_.text() + ": " + std::string(text); }
    // The hop failed: the chain above hears it once the engine's step is over.
    void end_with(std::string text);
    void end_with(const socket_failure& f);
    void signed_on();
    void flush();
    // After each step of the engine: questions, messages, then what the hop above must hear.
    void settle();
    void take_from_below();
    void stop_engine();

    jump_chain& chain_;
    jump_hop hop_;
    connection_profile profile_;  // read by the engine: declared before it
    ui_services& ui_;
    ssh::ssh_prompts& prompts_;
    std::weak_ptr<std::function<void(bool)>> hook_;
    no_local_network no_net_;
    std::unique_ptr<ssh::ssh2_engine> engine_;
    session_socket* lower_ = nullptr;
    bool lower_is_hop_ = false;
    socket_events* up_ = nullptr;

    stage stage_ = stage::idle;
    std::string target_;
    std::uint16_t target_port_ = 0;
    fwd::ssh_tunnels* tunnels_ = nullptr;
    fwd::channel_id ch_ = 0;
    socket_failure failure_;
    bool told_ = false;        // the hop above heard the outcome of connect (or of the end)
    bool peer_done_ = false;   // the far end sent EOF or CLOSE: once what came is read, the hop above hears it
    bool ended_told_ = false;  // ... and it has
    bool write_blocked_ = false;
    std::deque<user_question> questions_;
    std::deque<std::string> notes_;

    // The channel's data for the reader above, at most the channel's window (the engine drops the rest).
    std::vector<std::uint8_t> in_;
    std::size_t in_head_ = 0;
    std::uint64_t taken_ = 0;  // bytes the reader above took, ever
    // What the writer above gave that the channel's window has not taken yet, at most jump_write_limit.
    std::vector<std::uint8_t> out_;
    std::size_t out_head_ = 0;
    std::array<std::uint8_t, 16 * 1024> rx_{};
};

// The hops of one socket, bottom first. Kept alive for as long as any of its hops is inside a call, so the session
// may drop the socket from inside a notification.
class jump_chain : public std::enable_shared_from_this<jump_chain> {
public:
    ~jump_chain() {
        shut = true;
        while (!links.empty()) links.pop_back();
        real.reset();
    }
    // Top first: each hop's goodbye still travels through the ones below.
    void close_all() {
        if (shut) return;
        shut = true;
        for (auto it = links.rbegin(); it != links.rend(); ++it) (*it)->close();
        if (real) real->close();
    }
    std::unique_ptr<session_socket> real;
    std::vector<std::unique_ptr<jump_link>> links;
    bool shut = false;
};

jump_link::jump_link(jump_chain& chain, jump_hop hop, connection_profile profile, ui_services& ui,
                     ssh::ssh_prompts& prompts, std::weak_ptr<std::function<void(bool)>> hook)
    : chain_(chain),
      hop_(std::move(hop)),
      profile_(std::move(profile)),
      ui_(ui),
      prompts_(prompts),
      hook_(std::move(hook)) {}

jump_link::~jump_link() {
    stop_engine();
    engine_.reset();
    crypto::wipe(profile_.ssh.ssh_password);
}

void jump_link::stop_engine() {
    if (engine_ && !engine_->closed()) engine_->close();
    tunnels_ = nullptr;
    ch_ = 0;
}

session_socket::connect_result jump_link::connect(std::string_view host, std::uint16_t port) {
    if (!lower_ || stage_ != stage::idle) return connect_result::failed;
    target_ = std::string(host);
    target_port_ = port;
    stage_ = stage::connecting;
    engine_ = std::make_unique<ssh::ssh2_engine>(profile_, static_cast<session_services&>(*this),
                                                 static_cast<ui_services&>(*this), prompts_);
    engine_->set_target(hop_.host, hop_.port);
    engine_->set_tunnels(&no_net_, [](std::string_view) {});
    engine_->set_jump([this] { signed_on(); });
    const connect_result r = lower_->connect(hop_.host, static_cast<std::uint16_t>(hop_.port));
    if (r == connect_result::failed) {
        end_with(lower_->failure());
        told_ = true;  // said by the return value
        return r;
    }
    if (r == connect_result::connected) {
        stage_ = stage::signing_on;
        engine_->connected();
    }
    return connect_result::in_progress;
}

void jump_link::end_with(std::string text) {
    if (stage_ == stage::ended) return;
    failure_ = {socket_cause::other, std::move(text)};
    stage_ = stage::ended;
}

void jump_link::end_with(const socket_failure& f) {
    // A hop below has named itself already; the first hop's own socket is named here.
    if (lower_is_hop_) {
        if (stage_ == stage::ended) return;
        failure_ = f.cause == socket_cause::none
                       ? socket_failure{socket_cause::other, named("the connection was closed.")}
                       : f;
        stage_ = stage::ended;
        return;
    }
    std::string why = socket_failure_text(f, hop_.host);
    end_with(named(why.empty() ? std::string("the connection was closed.") : lower_first(std::move(why))));
}

void jump_link::signed_on() {
    tunnels_ = engine_->direct_channels();
    if (!tunnels_) return end_with(named("no channel can be opened on this connection."));
    stage_ = stage::opening;
    ch_ = tunnels_->open_direct(target_, target_port_, "127.0.0.1", 0, *this);
    if (ch_ == 0) end_with(named("no channel can be opened on this connection."));
}

void jump_link::channel_opened() {
    if (stage_ == stage::opening) stage_ = stage::open;
}

void jump_link::channel_failed(std::uint32_t reason, std::string_view text) {
    ch_ = 0;
    std::string why = "the channel to " + jump_hop{{}, target_, target_port_, {}}.text() + " was refused (" +
                      std::string(open_failure_name(reason));
    if (!text.empty()) why += ": " + std::string(text);
    end_with(named(why + ")."));
}

void jump_link::channel_data(std::span<const std::uint8_t> bytes) {
    if (in_head_ == in_.size()) {
        in_.clear();
        in_head_ = 0;
    }
    in_.insert(in_.end(), bytes.begin(), bytes.end());
}

int jump_link::session_write(const std::uint8_t* bytes, std::size_t n) {
    if (!lower_ || stage_ == stage::ended) return -1;
    const long r = lower_->write(bytes, n);
    return r < 0 ? -1 : static_cast<int>(r);
}

void jump_link::session_disconnect() {
    if (stage_ == stage::open) return end_with(named("the connection was closed."));
    end_with(named("cancelled before the connection was set up."));
}

void jump_link::session_fail(std::string_view text) { end_with(named(text)); }

long jump_link::read(std::uint8_t* buf, std::size_t n) {
    const std::size_t k = std::min(n, in_.size() - in_head_);
    if (k == 0) return stage_ == stage::ended && !failure_.text.empty() ? -1 : 0;
    std::copy_n(in_.begin() + std::ptrdiff_t(in_head_), k, buf);
    in_head_ += k;
    taken_ += k;
    if (in_head_ == in_.size()) {
        in_.clear();
        in_head_ = 0;
    }
    if (tunnels_ && ch_ && !chain_.shut) tunnels_->consumed(ch_, k);
    return static_cast<long>(k);
}

long jump_link::write(const std::uint8_t* buf, std::size_t n) {
    if (stage_ != stage::open || !ch_ || chain_.shut) return -1;
    if (pending_output() + n > jump_write_limit) return -1;
    if (out_head_ > 0 && out_head_ == out_.size()) {
        out_.clear();
        out_head_ = 0;
    }
    out_.insert(out_.end(), buf, buf + n);
    flush();
    return static_cast<long>(n);
}

void jump_link::flush() {
    while (tunnels_ && ch_ && out_head_ < out_.size() && !chain_.shut) {
        const std::size_t room = std::min(tunnels_->send_room(ch_), out_.size() - out_head_);
        if (room == 0) break;
        tunnels_->send(ch_, std::span<const std::uint8_t>(out_.data() + out_head_, room));
        out_head_ += room;
    }
    if (out_head_ == out_.size()) {
        out_.clear();
        out_head_ = 0;
    } else if (out_head_ > out_.size() / 2) {
        out_.erase(out_.begin(), out_.begin() + std::ptrdiff_t(out_head_));
        out_head_ = 0;
    }
    if (pending_output() >= socket_write_buffer_limit) write_blocked_ = true;
}

void jump_link::close() {
    if (engine_ && !engine_->closed()) {
        if (tunnels_ && ch_) tunnels_->close(ch_);
        engine_->goodbye();
    }
    stop_engine();
    if (stage_ != stage::ended) stage_ = stage::ended;
    up_ = nullptr;
}

void jump_link::take_from_below() {
    for (;;) {
        if (!engine_ || engine_->closed() || stage_ == stage::ended || chain_.shut) return;
        const long r = lower_->read(rx_.data(), rx_.size());
        if (r < 0) return end_with(lower_->failure());
        if (r == 0) return;
        engine_->receive(rx_.data(), static_cast<std::size_t>(r));
    }
}

void jump_link::on_read(int error) {
    const std::shared_ptr<jump_chain> keep = chain_.shared_from_this();
    if (error != 0) {
        end_with(lower_->failure());
    } else {
        take_from_below();
    }
    settle();
}

void jump_link::on_connect_complete(int error) {
    const std::shared_ptr<jump_chain> keep = chain_.shared_from_this();
    if (stage_ != stage::connecting) return;
    if (error != 0) {
        end_with(lower_->failure());
    } else {
        stage_ = stage::signing_on;
        engine_->connected();
    }
    settle();
}

void jump_link::on_close() {
    const std::shared_ptr<jump_chain> keep = chain_.shared_from_this();
    // What came before the close is taken first; the host's own DISCONNECT says more than the close.
    take_from_below();
    end_with(lower_->failure());
    settle();
}

void jump_link::settle() {
    const std::shared_ptr<jump_chain> keep = chain_.shared_from_this();
    while (!chain_.shut) {
        if (!notes_.empty()) {
            const std::string text = std::move(notes_.front());
            notes_.pop_front();
            ui_.message_box(text);
            continue;
        }
        if (!questions_.empty() && stage_ != stage::ended) {
            const user_question q = std::move(questions_.front());
            questions_.pop_front();
            // The dialog's event loop runs: the chain may be shut meanwhile, and then the answer is dropped.
            const auto tell = [this](bool open) {
                if (const auto hook = hook_.lock(); hook && *hook) (*hook)(open);
            };
            tell(true);
            const std::function<void()> then = q();
            tell(false);
            if (chain_.shut) return;
            if (then) then();
            continue;
        }
        break;
    }
    if (chain_.shut || !up_) return;
    if (stage_ == stage::ended) {
        stop_engine();
        if (lower_) lower_->close();
        if (!told_) {
            told_ = true;
            up_->on_connect_complete(-1);
            return;
        }
        if (!ended_told_) {
            ended_told_ = true;
            up_->on_close();
        }
        return;
    }
    if (stage_ != stage::open) return;
    if (!told_) {
        told_ = true;
        up_->on_connect_complete(0);
        if (chain_.shut || !up_) return;
    }
    // Level triggered, as the real socket: the reader is told again while it takes something and data is left.
    // Progress is what it read: a nested event loop may bring more data meanwhile than it took.
    while (in_head_ < in_.size() && up_ && !chain_.shut) {
        const std::uint64_t before = taken_;
        up_->on_read(0);
        if (taken_ == before) break;
    }
    if (chain_.shut || !up_) return;
    if (write_blocked_ && pending_output() < socket_write_buffer_limit) {
        write_blocked_ = false;
        up_->on_write_ready();
        if (chain_.shut || !up_) return;
    }
    if (peer_done_ && in_head_ == in_.size() && !ended_told_) {
        ended_told_ = true;
        stage_ = stage::ended;
        up_->on_close();
    }
}

// What the session holds: the top hop's channel, and the chain kept alive while a hop is still inside a call.
class jump_socket final : public session_socket {
public:
    explicit jump_socket(std::shared_ptr<jump_chain> c) : c_(std::move(c)) {}
    ~jump_socket() override { c_->close_all(); }
    connect_result connect(std::string_view host, std::uint16_t port) override { return top().connect(host, port); }
    long read(std::uint8_t* buf, std::size_t n) override { return top().read(buf, n); }
    long write(const std::uint8_t* buf, std::size_t n) override { return top().write(buf, n); }
    std::size_t pending_output() const override { return c_->links.back()->pending_output(); }
    void close() override { c_->close_all(); }
    socket_failure failure() const override { return c_->links.back()->failure(); }
    void set_keep_alive(bool on) override {
        if (c_->real) c_->real->set_keep_alive(on);
    }

private:
    jump_link& top() { return *c_->links.back(); }
    std::shared_ptr<jump_chain> c_;
};

}  // namespace

jump_socket_factory::jump_socket_factory(socket_factory& real, ui_services& ui) : real_(real), ui_(ui) {}

jump_socket_factory::~jump_socket_factory() { crypto::wipe(base_.ssh.ssh_password); }

void jump_socket_factory::set_chain(std::vector<jump_hop> hops, const connection_profile& base) {
    hops_ = std::move(hops);
    crypto::wipe(base_.ssh.ssh_password);
    base_ = base;
    // The target's password is never offered to a host in between.
    crypto::wipe(base_.ssh.ssh_password);
    base_.ssh.ssh_password.clear();
}

std::unique_ptr<session_socket> jump_socket_factory::create(socket_events& events) {
    if (hops_.empty()) return real_.create(events);
    if (!prompts_) return nullptr;
    auto chain = std::make_shared<jump_chain>();
    for (const jump_hop& hop : hops_) {
        connection_profile p;
        p.host = hop.host;
        p.port = hop.port;
        p.protocol = TransportKind::Ssh2;
        p.connect_timeout = base_.connect_timeout;
        p.ssh.ssh_algorithms = 1;  // direct-tcpip channels are negotiated mode's
        p.ssh.ssh_check_host_key = base_.ssh.ssh_check_host_key;
        p.ssh.ssh_identities_only = base_.ssh.ssh_identities_only;
        p.ssh.ssh_user = hop.user;
        p.ssh.ssh_key_file = hop.key_file.empty() ? base_.ssh.ssh_key_file : hop.key_file;
        chain->links.push_back(std::make_unique<jump_link>(*chain, hop, std::move(p), ui_, *prompts_, hook_));
    }
    chain->real = real_.create(chain->links.front()->lower_events());
    if (!chain->real) return nullptr;
    chain->links.front()->attach(*chain->real, false);
    for (std::size_t i = 1; i < chain->links.size(); ++i) {
        chain->links[i]->attach(*chain->links[i - 1], true);
        chain->links[i - 1]->set_upper(&chain->links[i]->lower_events());
    }
    chain->links.back()->set_upper(&events);
    return std::make_unique<jump_socket>(std::move(chain));
}
