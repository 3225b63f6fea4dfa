#include "adapters/qt_socket.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

namespace {
constexpr int close_flush_ms = 100;     // bounded wait for the last bytes before closing
constexpr int close_give_up_ms = 2000;  // a peer that never acknowledges the close
}  // namespace

qt_socket::qt_socket(socket_events& events)
    : events_(events), guard_(std::make_unique<QObject>()), sock_(new QTcpSocket) {
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
        if (!in_connect_) events_.on_connect_complete(0);
    });
    QObject::connect(s, &QTcpSocket::readyRead, s, [this] { events_.on_read(0); });
    // Keep what the peer sent last: the device may be closed by the time the close is handled.
    QObject::connect(s, &QTcpSocket::readChannelFinished, s, [this] {
        if (sock_) tail_.append(sock_->readAll());
    });
    QObject::connect(s, &QTcpSocket::disconnected, s, [this] {
        if (!connected_ || close_sent_) return;
        close_sent_ = true;
        if (sock_) tail_.append(sock_->readAll());
        events_.on_close();
    });
    QObject::connect(s, &QTcpSocket::errorOccurred, s, [this](QAbstractSocket::SocketError err) {
        if (!connected_) {
            // Refused, unreachable, host not found: the attempt ends here.
            if (!in_connect_) events_.on_connect_complete(static_cast<int>(err) + 1);
            return;
        }
        if (sock_ && sock_->state() != QAbstractSocket::ConnectedState && !close_sent_) {
            close_sent_ = true;
            tail_.append(sock_->readAll());
            events_.on_close();
        }
    });
}

qt_socket::~qt_socket() { close(); }

session_socket::connect_result qt_socket::connect(std::string_view host, std::uint16_t port) {
    if (!sock_) return connect_result::failed;
    in_connect_ = true;
    sock_->connectToHost(QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size())), port);
    in_connect_ = false;
    // Qt may finish (or fail) a loopback connect before connectToHost returns.
    if (!sock_ || sock_->state() == QAbstractSocket::UnconnectedState) return connect_result::failed;
    if (connected_) return connect_result::connected;
    return connect_result::in_progress;
}

long qt_socket::read(std::uint8_t* buf, std::size_t n) {
    if (n == 0) return 0;
    if (!tail_.isEmpty()) {
        const qsizetype k = std::min<qsizetype>(tail_.size(), static_cast<qsizetype>(n));
        std::memcpy(buf, tail_.constData(), static_cast<std::size_t>(k));
        tail_.remove(0, k);
        renotify_if_data_left();
        return static_cast<long>(k);
    }
    if (!sock_ || !sock_->isOpen()) return 0;
    const qint64 r = sock_->read(reinterpret_cast<char*>(buf), static_cast<qint64>(n));
    if (r < 0) return -1;
    renotify_if_data_left();
    return static_cast<long>(r);
}

// Qt signals readyRead once per arrival, and not at all for data that arrives while its own readyRead handler runs
// a nested event loop. A reader may also stop early (the session yields after a budget), so another notification
// is queued while data is left, as a level-triggered socket would do.
void qt_socket::renotify_if_data_left() {
    if (renotify_queued_ || !sock_ || buffered_input() == 0) return;
    renotify_queued_ = true;
    QTimer::singleShot(0, guard_.get(), [this] {
        renotify_queued_ = false;
        if (buffered_input() > 0) events_.on_read(0);
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
    return std::make_unique<qt_socket>(events);
}

std::optional<std::uint32_t> qt_socket_factory::lookup_ipv4(std::string_view name) {
    const QHostInfo info = QHostInfo::fromName(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    if (info.error() != QHostInfo::NoError) return std::nullopt;
    for (const QHostAddress& a : info.addresses()) {
        bool ok = false;
        const quint32 v4 = a.toIPv4Address(&ok);
        if (ok) return v4;
    }
    return std::nullopt;
}
