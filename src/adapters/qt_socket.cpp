#include "adapters/qt_socket.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

#ifdef __linux__
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
constexpr int close_flush_ms = 100;     // bounded wait for the last bytes before closing
constexpr int close_give_up_ms = 2000;  // a peer that never acknowledges the close
}  // namespace

socket_failure qt_socket_failure(QAbstractSocket::SocketError error, const QString& text) {
    const std::string words = text.toStdString();
    switch (error) {
    case QAbstractSocket::HostNotFoundError: return {socket_cause::resolve_failed, words};
    case QAbstractSocket::ConnectionRefusedError: return {socket_cause::refused, words};
    case QAbstractSocket::SocketTimeoutError: return {socket_cause::timed_out, words};
    case QAbstractSocket::RemoteHostClosedError: return {socket_cause::reset, words};
    case QAbstractSocket::NetworkError:
        // Qt files ENETUNREACH, EHOSTUNREACH and ETIMEDOUT under this one code; only its words tell them apart.
        if (text.contains(QLatin1String("network unreachable"), Qt::CaseInsensitive))
            return {socket_cause::unreachable, {}};
        if (text.contains(QLatin1String("unreachable"), Qt::CaseInsensitive)) return {socket_cause::unreachable, words};
        if (text.contains(QLatin1String("timed out"), Qt::CaseInsensitive)) return {socket_cause::timed_out, words};
        return {socket_cause::other, words};
    default: return {socket_cause::other, words};
    }
}

qt_socket::qt_socket(socket_events& events, const qt_resolver* resolver)
    : events_(events), guard_(std::make_unique<QObject>()), sock_(new QTcpSocket), resolver_(resolver) {
    QTcpSocket* s = sock_.data();
    // The client has proxy settings of its own; the desktop's (http_proxy, libproxy) would tunnel every session
    // through an HTTP proxy unasked, and merely asking for them starts libproxy's look-up thread.
    s->setProxy(QNetworkProxy::NoProxy);
    // Qt's buffer would otherwise take everything the host sends, whatever the session manages to show.
    s->setReadBufferSize(static_cast<qint64>(socket_read_buffer_limit));
    QObject::connect(s, &QTcpSocket::bytesWritten, s, [this] {
        // Queued: bytesWritten may come from inside write(), while the session is filling its queue.
        if (write_ready_queued_) return;
        write_ready_queued_ = true;
        QTimer::singleShot(0, guard_.get(), [this] {
            write_ready_queued_ = false;
            if (sock_ && static_cast<std::size_t>(sock_->bytesToWrite()) < socket_write_buffer_limit)
                events_.on_write_ready();
        });
    });
    QObject::connect(s, &QTcpSocket::connected, s, [this] {
        connected_ = true;
        // Only a connected socket has a descriptor to take the option: set before connectToHost it is lost, and
        // each small write after the first then waits for the peer's delayed acknowledgement.
        if (sock_) sock_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (sock_ && keep_alive_) sock_->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef __linux__
        if (sock_ && watch_fd_ < 0 && sock_->socketDescriptor() >= 0)
            watch_fd_ = ::fcntl(static_cast<int>(sock_->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
#endif
        if (!in_connect_) events_.on_connect_complete(0);
    });
    QObject::connect(s, &QTcpSocket::readyRead, s, [this] { notify_read(); });
    // Keep what the peer sent last: the device may be closed by the time the close is handled.
    QObject::connect(s, &QTcpSocket::readChannelFinished, s, [this] {
        if (sock_) tail_.append(sock_->readAll());
    });
    QObject::connect(s, &QTcpSocket::disconnected, s, [this] {
        if (!connected_ || close_sent_) return;
        close_sent_ = true;
        if (sock_) tail_.append(sock_->readAll());
        peer_gone();
        events_.on_close();
    });
    QObject::connect(s, &QTcpSocket::errorOccurred, s, [this](QAbstractSocket::SocketError err) {
        if (!connected_) {
            // Refused, unreachable, host not found: the attempt ends here.
            failure_ = qt_socket_failure(err, sock_ ? sock_->errorString() : QString());
            if (!in_connect_) events_.on_connect_complete(static_cast<int>(err) + 1);
            return;
        }
        if (!error_) error_ = err;
        if (sock_ && sock_->state() != QAbstractSocket::ConnectedState && !close_sent_) {
            close_sent_ = true;
            tail_.append(sock_->readAll());
            peer_gone();
            events_.on_close();
        }
    });
}

qt_socket::~qt_socket() { close(); }

void qt_socket::set_keep_alive(bool on) {
    keep_alive_ = on;
    if (sock_ && connected_) sock_->setSocketOption(QAbstractSocket::KeepAliveOption, on ? 1 : 0);
}

session_socket::connect_result qt_socket::connect(std::string_view host, std::uint16_t port) {
    if (!sock_) return connect_result::failed;
    const QString name = QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size()));
    const QHostAddress literal(name);
    if (literal.isNull()) {
        // Looked up here rather than inside connectToHost, which words every failure "Host not found": the
        // resolver's own reason (no such name, no answer from the name server) is kept.
        if (resolver_ && *resolver_) {
            in_connect_ = true;
            looked_up((*resolver_)(name), name, port, true);
            in_connect_ = false;
        } else {
            lookup_id_ = QHostInfo::lookupHost(name, guard_.get(), [this, name, port](const QHostInfo& info) {
                lookup_id_ = -1;
                looked_up(info, name, port, false);
            });
            return connect_result::in_progress;
        }
    } else {
        in_connect_ = true;
        sock_->connectToHost(literal, port);
        in_connect_ = false;
    }
    // Qt may finish (or fail) a loopback connect before connectToHost returns.
    if (!sock_ || failure_.cause != socket_cause::none || sock_->state() == QAbstractSocket::UnconnectedState)
        return connect_result::failed;
    if (connected_) return connect_result::connected;
    return connect_result::in_progress;
}

void qt_socket::looked_up(const QHostInfo& info, const QString& name, std::uint16_t port, bool by_hook) {
    if (!sock_) return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        const QString why = info.error() != QHostInfo::NoError ? info.errorString() : QStringLiteral("no address");
        failure_ = {socket_cause::resolve_failed, why.toStdString()};
        if (!in_connect_) events_.on_connect_complete(static_cast<int>(QAbstractSocket::HostNotFoundError) + 1);
        return;
    }
    // By name, Qt tries each address in turn (an IPv6 loopback that refuses, then IPv4) and finds this answer in
    // its cache; a hook's answer must not reach the system resolver, so its first address is used.
    if (by_hook)
        sock_->connectToHost(info.addresses().first(), port);
    else
        sock_->connectToHost(name, port);
}

// Qt has closed its descriptor by now; the duplicate still shows whether the peer's FIN (CLOSE_WAIT) or a reset
// (CLOSE) ended the connection.
void qt_socket::peer_gone() {
    const bool remote_close = !error_ || *error_ == QAbstractSocket::RemoteHostClosedError;
    if (!remote_close) {
        failure_ = qt_socket_failure(*error_, sock_ ? sock_->errorString() : QString());
    } else {
        failure_ = {};
#ifdef __linux__
        tcp_info ti{};
        socklen_t len = sizeof ti;
        if (watch_fd_ >= 0 && ::getsockopt(watch_fd_, IPPROTO_TCP, TCP_INFO, &ti, &len) == 0 &&
            ti.tcpi_state == TCP_CLOSE)
            failure_ = {socket_cause::reset, {}};
#endif
    }
    release_watch();
}

void qt_socket::release_watch() {
#ifdef __linux__
    // The duplicate holds the connection open: without this, closing Qt's descriptor would send no FIN.
    if (watch_fd_ >= 0) ::close(watch_fd_);
#endif
    watch_fd_ = -1;
}

long qt_socket::read(std::uint8_t* buf, std::size_t n) {
    if (n == 0) return 0;
    if (!tail_.isEmpty()) {
        const qsizetype k = std::min<qsizetype>(tail_.size(), static_cast<qsizetype>(n));
        std::memcpy(buf, tail_.constData(), static_cast<std::size_t>(k));
        tail_.remove(0, k);
        if (notifying_ == 0) renotify_if_data_left();
        return static_cast<long>(k);
    }
    if (!sock_ || !sock_->isOpen()) return 0;
    const qint64 r = sock_->read(reinterpret_cast<char*>(buf), static_cast<qint64>(n));
    if (r < 0) return -1;
    if (notifying_ == 0) renotify_if_data_left();
    return static_cast<long>(r);
}

void qt_socket::notify_read() {
    const QPointer<QObject> alive(guard_.get());
    ++notifying_;
    events_.on_read(0);
    if (!alive) return;  // the session closed and dropped this socket inside its handler
    --notifying_;
    renotify_if_data_left();
}

// Qt signals readyRead once per arrival, and not at all for data that arrives while its own readyRead handler runs
// a nested event loop. A reader may also stop early (the session yields after a budget), so another notification
// is queued while data is left, as a level-triggered socket would do.
void qt_socket::renotify_if_data_left() {
    if (renotify_queued_ || !sock_ || buffered_input() == 0) return;
    renotify_queued_ = true;
    QTimer::singleShot(0, guard_.get(), [this] {
        renotify_queued_ = false;
        if (buffered_input() > 0) notify_read();
    });
}

qintptr qt_socket::descriptor() const { return sock_ ? sock_->socketDescriptor() : -1; }

std::size_t qt_socket::pending_output() const { return sock_ ? static_cast<std::size_t>(sock_->bytesToWrite()) : 0; }

std::size_t qt_socket::buffered_input() const {
    const qint64 own = sock_ ? sock_->bytesAvailable() : 0;
    return static_cast<std::size_t>(tail_.size() + (own > 0 ? own : 0));
}

long qt_socket::write(const std::uint8_t* buf, std::size_t n) {
    if (!sock_ || sock_->state() != QAbstractSocket::ConnectedState) return -1;
    // QTcpSocket keeps everything it does not send at once in its own buffer: all bytes are taken or none.
    const qint64 w = sock_->write(reinterpret_cast<const char*>(buf), static_cast<qint64>(n));
    if (w != static_cast<qint64>(n)) return -1;
    sock_->flush();
    return static_cast<long>(w);
}

void qt_socket::close() {
    release_watch();
    if (lookup_id_ >= 0) {
        QHostInfo::abortHostLookup(lookup_id_);
        lookup_id_ = -1;
    }
    if (!sock_) return;
    QTcpSocket* s = sock_.data();
    sock_.clear();
    QObject::disconnect(s, nullptr, nullptr, nullptr);
    if (s->state() == QAbstractSocket::ConnectedState && s->bytesToWrite() > 0) s->waitForBytesWritten(close_flush_ms);
    if (s->state() == QAbstractSocket::ConnectedState) {
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        QTimer::singleShot(close_give_up_ms, s, &QObject::deleteLater);
        s->disconnectFromHost();
    } else {
        s->abort();
        s->deleteLater();
    }
}

std::unique_ptr<session_socket> qt_socket_factory::create(socket_events& events) {
    return std::make_unique<qt_socket>(events, &resolver_);
}

std::optional<std::uint32_t> qt_socket_factory::lookup_ipv4(std::string_view name) {
    const QString n = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    const QHostInfo info = resolver_ ? resolver_(n) : QHostInfo::fromName(n);
    if (info.error() != QHostInfo::NoError) return std::nullopt;
    for (const QHostAddress& a : info.addresses()) {
        bool ok = false;
        const quint32 v4 = a.toIPv4Address(&ok);
        if (ok) return v4;
    }
    return std::nullopt;
}
