#include "adapters/qt_tunnel_network.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

namespace {

// Unsent bytes a stream holds before write takes no more (the link then keeps the rest within its window).
constexpr std::size_t write_limit = 256 * 1024;
// A closed stream's last bytes and the program's end of file are awaited this long before the socket goes.
constexpr int close_give_up_ms = 5000;

std::string error_text(int err) { return std::strerror(err); }

// Notifiers are never deleted inside their own signal: a stream may be dropped by the handler it calls.
struct notifier_deleter {
    void operator()(QSocketNotifier* n) const {
        n->setEnabled(false);
        QObject::disconnect(n, nullptr, nullptr, nullptr);
        n->deleteLater();
    }
};
using notifier_ptr = std::unique_ptr<QSocketNotifier, notifier_deleter>;

notifier_ptr watch(int fd, QSocketNotifier::Type type, bool enabled) {
    notifier_ptr n(new QSocketNotifier(static_cast<qintptr>(fd), type));
    n->setEnabled(enabled);
    return n;
}

void set_low_delay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // fails harmlessly on the agent's local socket
}

std::string address_text(const sockaddr_storage& sa) {
    char text[INET6_ADDRSTRLEN] = {};
    if (sa.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(sa).sin_addr, text, sizeof text);
    } else if (sa.ss_family == AF_INET6) {
        const in6_addr& a = reinterpret_cast<const sockaddr_in6&>(sa).sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a))  // ::ffff:127.0.0.1 as 127.0.0.1
            ::inet_ntop(AF_INET, a.s6_addr + 12, text, sizeof text);
        else
            ::inet_ntop(AF_INET6, &a, text, sizeof text);
    }
    return text;
}

std::uint16_t port_of(const sockaddr_storage& sa) {
    if (sa.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(sa).sin_port);
    if (sa.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(sa).sin6_port);
    return 0;
}

// A closed stream's socket, kept until its last bytes are sent and the program has ended its side (or the limit
// passed): closing with the program's bytes unread would reset the connection, and a reset can discard what the
// program had not read yet of ours.
class lingering_socket : public QObject {
public:
    lingering_socket(int fd, std::unique_ptr<std::uint8_t[]> buf, std::size_t at, std::size_t end, bool shut)
        : QObject(QCoreApplication::instance()), fd_(fd), buf_(std::move(buf)), at_(at), end_(end), shut_(shut) {
        rn_ = watch(fd_, QSocketNotifier::Read, true);
        wn_ = watch(fd_, QSocketNotifier::Write, at_ < end_);
        QObject::connect(rn_.get(), &QSocketNotifier::activated, this, [this] { drain(); });
        QObject::connect(wn_.get(), &QSocketNotifier::activated, this, [this] { flush(); });
        QTimer::singleShot(close_give_up_ms, this, [this] { finish(); });
        if (at_ == end_) shut_down();
    }
    ~lingering_socket() override {
        rn_.reset();
        wn_.reset();
        ::close(fd_);
    }

private:
    void flush() {
        while (at_ < end_) {
            const ssize_t n = ::send(fd_, buf_.get() + at_, end_ - at_, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            if (n <= 0) return finish();
            at_ += std::size_t(n);
        }
        wn_->setEnabled(false);
        shut_down();
        if (peer_done_) finish();
    }
    void shut_down() {
        if (!shut_) ::shutdown(fd_, SHUT_WR);
        shut_ = true;
    }
    void drain() {
        std::uint8_t sink[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, sink, sizeof sink, 0);
            if (n > 0) continue;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            // The program's end of file (or a reset): once ours is out, nothing is left to wait for.
            if (at_ == end_ || n < 0) return finish();
            peer_done_ = true;
            rn_->setEnabled(false);
            return;
        }
    }
    void finish() {
        rn_->setEnabled(false);
        wn_->setEnabled(false);
        deleteLater();
    }

    int fd_;
    std::unique_ptr<std::uint8_t[]> buf_;
    std::size_t at_, end_;
    bool shut_;
    bool peer_done_ = false;  // the program's end of file came while ours waited
    notifier_ptr rn_, wn_;
};

// One connection of a tunnel: accepted, or connecting through the addresses of a name in turn.
class socket_stream final : public fwd::tunnel_stream {
public:
    // An accepted (connected) socket.
    socket_stream(int fd, fwd::stream_events* events) : events_(events) {
        adopt(fd);
        remember_peer();
    }
    // A connection to come: start_dial or start_lookup follows.
    explicit socket_stream(fwd::stream_events* events, bool agent = false) : events_(events), agent_(agent) {}

    ~socket_stream() override {
        *alive_ = false;
        lookup_.reset();
        rn_.reset();
        wn_.reset();
        if (fd_ < 0) return;
        if (connecting_ || failed_ || (read_eof_ && shut_done_)) {
            ::close(fd_);
            return;
        }
        new lingering_socket(fd_, std::move(out_), out_at_, out_end_, shut_done_);
    }

    void set_events(fwd::stream_events* e) override { events_ = e; }

    long read(std::uint8_t* buf, std::size_t n) override {
        if (read_eof_) return -1;
        if (fd_ < 0 || connecting_ || failed_ || n == 0) return 0;
        for (;;) {
            const ssize_t r = ::recv(fd_, buf, n, 0);
            if (r > 0) return static_cast<long>(r);
            if (r == 0) {
                // The program's end of file: what goes to it still flows.
                read_eof_ = true;
                rn_->setEnabled(false);
                return -1;
            }
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                rn_->setEnabled(true);  // read dry: the next arrival is announced
                return 0;
            }
            fail_later(error_text(errno));
            return 0;
        }
    }

    std::size_t write(std::span<const std::uint8_t> bytes) override {
        if (fd_ < 0 || failed_ || shut_pending_ || shut_done_) return 0;
        std::size_t taken = 0;
        if (out_at_ == out_end_ && !connecting_) {
            while (taken < bytes.size()) {
                const ssize_t n = ::send(fd_, bytes.data() + taken, bytes.size() - taken, MSG_NOSIGNAL);
                if (n > 0) {
                    taken += std::size_t(n);
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
                fail_later(error_text(n < 0 ? errno : EPIPE));
                return taken;
            }
        }
        if (taken == bytes.size()) return taken;
        if (!out_) out_ = std::make_unique<std::uint8_t[]>(write_limit);
        if (out_end_ == write_limit && out_at_ > 0) {
            std::memmove(out_.get(), out_.get() + out_at_, out_end_ - out_at_);
            out_end_ -= out_at_;
            out_at_ = 0;
        }
        const std::size_t k = std::min(write_limit - out_end_, bytes.size() - taken);
        std::memcpy(out_.get() + out_end_, bytes.data() + taken, k);
        out_end_ += k;
        if (!connecting_ && out_at_ < out_end_) wn_->setEnabled(true);
        return taken + k;
    }

    void shutdown_write() override {
        if (fd_ < 0 || failed_ || shut_done_) return;
        shut_pending_ = true;
        if (!connecting_ && out_at_ == out_end_) shut_now();
    }

    std::string peer() const override { return agent_ ? "agent" : peer_; }
    std::uint16_t peer_port() const override { return peer_port_; }

    void start_lookup(const std::string& name, std::uint16_t port, const resolve_fn& resolve) {
        lookup_ = std::make_unique<name_lookup>(name, port, resolve, [this](lookup_answer a) {
            lookup_.reset();
            if (a.addresses.empty()) return fail_now(a.why);
            start_dial(std::move(a.addresses));
        });
    }
    // Tries each address in turn; the outcome is always told later, never inside this call.
    void start_dial(std::vector<net_address> addresses) {
        addresses_ = std::move(addresses);
        next_ = 0;
        QTimer::singleShot(0, &guard_, [this] { dial_next(); });
    }

private:
    void adopt(int fd) {
        fd_ = fd;
        rn_ = watch(fd_, QSocketNotifier::Read, !connecting_);
        wn_ = watch(fd_, QSocketNotifier::Write, connecting_);
        QObject::connect(rn_.get(), &QSocketNotifier::activated, &guard_, [this] { readable(); });
        QObject::connect(wn_.get(), &QSocketNotifier::activated, &guard_, [this] { writable(); });
    }
    void remember_peer() {
        sockaddr_storage sa{};
        socklen_t len = sizeof sa;
        if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return;
        peer_ = address_text(sa);
        peer_port_ = port_of(sa);
    }

    void dial_next() {
        while (next_ < addresses_.size()) {
            const net_address& a = addresses_[next_++];
            const int fd = ::socket(a.sa.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0) {
                why_ = error_text(errno);
                continue;
            }
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.sa), a.len) == 0 || errno == EINPROGRESS ||
                errno == EAGAIN) {
                connecting_ = true;
                adopt(fd);
                return;
            }
            why_ = error_text(errno);
            ::close(fd);
        }
        fail_now(why_.empty() ? "no address" : why_);
    }
    void connect_finished() {
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        if (err == EINPROGRESS || err == EALREADY) return;
        if (err != 0) {
            why_ = error_text(err);
            rn_.reset();
            wn_.reset();
            ::close(fd_);
            fd_ = -1;
            connecting_ = false;
            return dial_next();
        }
        connecting_ = false;
        set_low_delay(fd_);
        remember_peer();
        rn_->setEnabled(true);
        wn_->setEnabled(out_at_ < out_end_ || shut_pending_);
        const auto alive = alive_;
        if (events_) events_->stream_connected();
        if (*alive && out_at_ == out_end_ && shut_pending_) shut_now();
    }

    void readable() {
        rn_->setEnabled(false);  // until a read finds nothing: the reader may stop while data waits
        if (events_) events_->stream_readable();
    }
    void writable() {
        if (connecting_) return connect_finished();
        while (out_at_ < out_end_) {
            const ssize_t n = ::send(fd_, out_.get() + out_at_, out_end_ - out_at_, MSG_NOSIGNAL);
            if (n > 0) {
                out_at_ += std::size_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            return fail_now(error_text(n < 0 ? errno : EPIPE));
        }
        if (out_at_ == out_end_) {
            out_at_ = out_end_ = 0;
            wn_->setEnabled(false);
            if (shut_pending_) shut_now();
        }
        if (events_) events_->stream_writable();
    }
    void shut_now() {
        shut_pending_ = false;
        shut_done_ = true;
        ::shutdown(fd_, SHUT_WR);
    }

    // A failure found inside a call from the link is told from the event loop, never within that call.
    void fail_later(const std::string& why) {
        if (failed_) return;
        failed_ = true;
        stop_watching();
        QTimer::singleShot(0, &guard_, [this, why] {
            if (events_) events_->stream_closed(why);
        });
    }
    void fail_now(const std::string& why) {
        if (failed_) return;
        failed_ = true;
        stop_watching();
        if (events_) events_->stream_closed(why);
    }
    void stop_watching() {
        if (rn_) rn_->setEnabled(false);
        if (wn_) wn_->setEnabled(false);
    }

    QObject guard_;  // context of queued calls and notifier slots: they stop when the stream goes
    fwd::stream_events* events_;
    bool agent_ = false;
    int fd_ = -1;
    notifier_ptr rn_, wn_;
    std::unique_ptr<name_lookup> lookup_;
    std::vector<net_address> addresses_;
    std::size_t next_ = 0;
    std::string why_;  // the last address's failure
    std::string peer_;
    std::uint16_t peer_port_ = 0;
    std::unique_ptr<std::uint8_t[]> out_;  // what the socket did not take at once, up to write_limit
    std::size_t out_at_ = 0, out_end_ = 0;
    bool connecting_ = false, failed_ = false;
    bool read_eof_ = false;
    bool shut_pending_ = false, shut_done_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class socket_listener : public fwd::port_listener {
public:
    socket_listener(int fd, fwd::listener_events& events) : fd_(fd), events_(events) {
        rn_ = watch(fd_, QSocketNotifier::Read, true);
        QObject::connect(rn_.get(), &QSocketNotifier::activated, &guard_, [this] { accept_all(); });
    }
    ~socket_listener() override {
        *alive_ = false;
        rn_.reset();
        ::close(fd_);
    }
    std::uint16_t port() const override {
        sockaddr_storage sa{};
        socklen_t len = sizeof sa;
        if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
        return port_of(sa);
    }

private:
    void accept_all() {
        const auto alive = alive_;  // the session may end under accepted() and take the listener with it
        while (*alive) {
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (c < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (errno == EMFILE || errno == ENFILE) {
                    // No descriptor to take it with: the notifier would fire at once again; wait a little.
                    rn_->setEnabled(false);
                    QTimer::singleShot(100, &guard_, [this] { rn_->setEnabled(true); });
                }
                return;
            }
            set_low_delay(c);
            events_.accepted(std::make_unique<socket_stream>(c, nullptr));
        }
    }

    QObject guard_;
    int fd_;
    fwd::listener_events& events_;
    notifier_ptr rn_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class qt_local_timer final : public fwd::local_timer {
public:
    qt_local_timer(int ms, std::function<void()> fire) : t_(new QTimer) {
        t_->setSingleShot(true);
        QObject::connect(t_, &QTimer::timeout, t_, std::move(fire));
        t_->start(ms);
    }
    // The forwarder may drop its timer inside the timer's own call.
    ~qt_local_timer() override {
        t_->stop();
        QObject::disconnect(t_, nullptr, nullptr, nullptr);
        t_->deleteLater();
    }

private:
    QTimer* t_;
};

// The words a listener's failure is shown with.
std::string listen_error(int err) {
    if (err == EADDRINUSE) return "The bound address is already in use";
    if (err == EACCES) return "The address is protected";
    if (err == EADDRNOTAVAIL) return "The address is not available";
    return error_text(err);
}

// "*" is every address (IPv6 and IPv4 on one socket where the system allows it), "localhost" the IPv4 loopback.
bool listen_address(std::string_view text, std::uint16_t port, net_address& out, std::string& why) {
    const std::string name(text);
    if (name == "*") {
        auto& a = reinterpret_cast<sockaddr_in6&>(out.sa);
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_any;
        a.sin6_port = htons(port);
        out.len = sizeof a;
        return true;
    }
    lookup_answer found = literal_address(name == "localhost" ? "127.0.0.1" : name, port);
    if (found.addresses.empty()) found = system_resolve(name, port);  // a named listening address: rare, once
    if (found.addresses.empty()) {
        why = "cannot find the address " + name;
        return false;
    }
    out = found.addresses.front();
    return true;
}

}  // namespace

std::unique_ptr<fwd::local_timer> qt_tunnel_network::start_timer(int ms, std::function<void()> fire) {
    return std::make_unique<qt_local_timer>(ms, std::move(fire));
}

std::unique_ptr<fwd::port_listener> qt_tunnel_network::listen(std::string_view address, std::uint16_t port,
                                                              fwd::listener_events& events, std::string& why) {
    net_address a;
    if (!listen_address(address, port, a, why)) return nullptr;
    int fd = ::socket(a.sa.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 && address == "*") {  // no IPv6 here: every IPv4 address
        auto& v4 = reinterpret_cast<sockaddr_in&>(a.sa);
        v4 = {};
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        a.len = sizeof v4;
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    }
    if (fd < 0) {
        why = error_text(errno);
        return nullptr;
    }
    const int on = 1, off = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // a port just freed is taken again at once
    if (a.sa.ss_family == AF_INET6 && address == "*") ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a.sa), a.len) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        why = listen_error(errno);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<socket_listener>(fd, events);
}

std::unique_ptr<fwd::tunnel_stream> qt_tunnel_network::connect(std::string_view host, std::uint16_t port,
                                                               fwd::stream_events& events) {
    auto s = std::make_unique<socket_stream>(&events);
    const std::string name(host);
    lookup_answer literal = literal_address(name, port);
    if (!literal.addresses.empty())
        s->start_dial(std::move(literal.addresses));
    else
        s->start_lookup(name, port, resolve_);
    return s;
}

std::unique_ptr<fwd::tunnel_stream> qt_tunnel_network::connect_agent(fwd::stream_events& events, std::string& why) {
    const QString path = agent_socket_.isEmpty() ? qEnvironmentVariable("SSH_AUTH_SOCK") : agent_socket_;
    if (path.isEmpty()) {
        why = "no SSH agent here (SSH_AUTH_SOCK is not set)";
        return nullptr;
    }
    const QByteArray file = path.toLocal8Bit();
    net_address a;
    auto& un = reinterpret_cast<sockaddr_un&>(a.sa);
    if (static_cast<std::size_t>(file.size()) >= sizeof un.sun_path) {
        why = "the agent's socket path is too long";
        return nullptr;
    }
    un.sun_family = AF_UNIX;
    std::memcpy(un.sun_path, file.constData(), static_cast<std::size_t>(file.size()));
    a.len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + static_cast<std::size_t>(file.size()) + 1);
    auto s = std::make_unique<socket_stream>(&events, true);
    s->start_dial({a});
    return s;
}
