#include "adapters/qt_tunnel_network.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QLocalSocket>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <type_traits>

#include <sys/socket.h>

namespace {

// Unsent bytes a stream holds before write takes no more (the link then keeps the rest within its window).
constexpr qint64 write_limit = 256 * 1024;
// What a stream reads ahead of the link (Qt's buffer).
constexpr qint64 read_limit = 64 * 1024;
constexpr int close_give_up_ms = 5000;

// A TCP connection, or the local socket of the SSH agent.
template <class Socket>
class qt_tunnel_stream : public fwd::tunnel_stream {
    static constexpr bool tcp = std::is_same_v<Socket, QTcpSocket>;

public:
    // sock: connected (accepted) or connecting; the stream owns it from here.
    qt_tunnel_stream(Socket* sock, fwd::stream_events* events) : sock_(sock), events_(events) {
        if constexpr (tcp) sock->setProxy(QNetworkProxy::NoProxy);
        // Qt would otherwise read whatever the program sends while its tunnel waits for the host's window, without
        // bound; this way the program's own TCP window closes.
        sock->setReadBufferSize(read_limit);
        QObject::connect(sock, &Socket::connected, &guard_, [this] {
            if constexpr (tcp) sock_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            if (events_) events_->stream_connected();
        });
        QObject::connect(sock, &Socket::readyRead, &guard_, [this] {
            if (events_) events_->stream_readable();
        });
        QObject::connect(sock, &Socket::bytesWritten, &guard_, [this] {
            if (shut_pending_ && sock_->bytesToWrite() == 0) shut_now();
            if (events_) events_->stream_writable();
        });
        QObject::connect(sock, &Socket::disconnected, &guard_, [this] { gone(QStringLiteral("closed")); });
        QObject::connect(sock, &Socket::errorOccurred, &guard_, [this] { gone(sock_->errorString()); });
    }
    ~qt_tunnel_stream() override {
        *alive_ = false;
        QObject::disconnect(sock_, nullptr, &guard_, nullptr);
        // What was written still goes out; the socket then frees itself (never inside its own signal).
        if (sock_->state() == Socket::UnconnectedState) {
            sock_->deleteLater();
            return;
        }
        QObject::connect(sock_, &Socket::disconnected, sock_, &QObject::deleteLater);
        QTimer::singleShot(close_give_up_ms, sock_, [s = sock_] {
            s->abort();
            s->deleteLater();
        });
        if constexpr (tcp)
            sock_->disconnectFromHost();
        else
            sock_->disconnectFromServer();
    }

    void set_events(fwd::stream_events* e) override { events_ = e; }

    long read(std::uint8_t* buf, std::size_t n) override {
        const qint64 r = sock_->read(reinterpret_cast<char*>(buf), static_cast<qint64>(n));
        if (r > 0) return static_cast<long>(r);
        if (r < 0 || (closed_ && sock_->bytesAvailable() == 0)) return -1;
        return 0;
    }

    std::size_t write(std::span<const std::uint8_t> bytes) override {
        if (closed_ || shut_pending_) return 0;
        const qint64 room = write_limit - sock_->bytesToWrite();
        if (room <= 0) return 0;
        const qint64 n = std::min<qint64>(room, static_cast<qint64>(bytes.size()));
        const qint64 w = sock_->write(reinterpret_cast<const char*>(bytes.data()), n);
        return w > 0 ? static_cast<std::size_t>(w) : 0;
    }

    void shutdown_write() override {
        if (closed_ || shut_pending_) return;
        shut_pending_ = true;
        if (sock_->bytesToWrite() == 0) shut_now();
    }

    std::string peer() const override {
        if constexpr (tcp) {
            QHostAddress a = sock_->peerAddress();
            bool v4 = false;
            const quint32 mapped = a.toIPv4Address(&v4);
            if (v4) a = QHostAddress(mapped);  // ::ffff:127.0.0.1 as 127.0.0.1
            return a.toString().toStdString();
        } else {
            return "agent";
        }
    }
    std::uint16_t peer_port() const override {
        if constexpr (tcp)
            return sock_->peerPort();
        else
            return 0;
    }

private:
    void shut_now() {
        shut_pending_ = false;
        if (sock_->socketDescriptor() >= 0) ::shutdown(static_cast<int>(sock_->socketDescriptor()), SHUT_WR);
    }
    // The program closed (or the connection failed): what is still buffered can be read first.
    void gone(const QString& why) {
        if (closed_) return;
        closed_ = true;
        if (!events_) return;
        const auto alive = alive_;  // the reader may drop this stream
        if (sock_->bytesAvailable() > 0) events_->stream_readable();
        if (*alive) events_->stream_closed(why.toStdString());
    }

    Socket* sock_;
    QObject guard_;  // receiver of the socket's signals, so that they stop when the stream goes
    fwd::stream_events* events_;
    bool closed_ = false;
    bool shut_pending_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class qt_port_listener : public fwd::port_listener {
public:
    explicit qt_port_listener(fwd::listener_events& events) : events_(events), server_(new QTcpServer) {
        QObject::connect(server_, &QTcpServer::newConnection, server_, [this, alive = alive_] {
            while (*alive) {
                QTcpSocket* s = server_->nextPendingConnection();
                if (!s) break;
                s->setParent(nullptr);
                s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                // The session may end under this call and take the listener with it.
                events_.accepted(std::make_unique<qt_tunnel_stream<QTcpSocket>>(s, nullptr));
            }
        });
    }
    ~qt_port_listener() override {
        *alive_ = false;
        server_->close();
        server_->deleteLater();  // never inside its own signal
    }
    bool listen(const QHostAddress& a, std::uint16_t port, std::string& why) {
        server_->setProxy(QNetworkProxy::NoProxy);
        if (server_->listen(a, port)) return true;
        why = server_->errorString().toStdString();
        return false;
    }
    std::uint16_t port() const override { return server_->serverPort(); }

private:
    fwd::listener_events& events_;
    QTcpServer* server_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

QHostAddress address_of(std::string_view text, std::string& why) {
    const QString name = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (name == QLatin1String("*")) return QHostAddress(QHostAddress::Any);
    if (name == QLatin1String("localhost")) return QHostAddress(QHostAddress::LocalHost);
    QHostAddress a(name);
    if (!a.isNull()) return a;
    const QHostInfo info = QHostInfo::fromName(name);  // a named listening address: rare, looked up once
    if (info.error() == QHostInfo::NoError && !info.addresses().isEmpty()) return info.addresses().first();
    why = "cannot find the address " + name.toStdString();
    return {};
}

}  // namespace

std::unique_ptr<fwd::port_listener> qt_tunnel_network::listen(std::string_view address, std::uint16_t port,
                                                              fwd::listener_events& events, std::string& why) {
    const QHostAddress a = address_of(address, why);
    if (a.isNull()) return nullptr;
    auto l = std::make_unique<qt_port_listener>(events);
    if (!l->listen(a, port, why)) return nullptr;
    return l;
}

std::unique_ptr<fwd::tunnel_stream> qt_tunnel_network::connect(std::string_view host, std::uint16_t port,
                                                               fwd::stream_events& events) {
    auto* s = new QTcpSocket;
    auto stream = std::make_unique<qt_tunnel_stream<QTcpSocket>>(s, &events);
    s->connectToHost(QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size())), port);
    return stream;
}

std::unique_ptr<fwd::tunnel_stream> qt_tunnel_network::connect_agent(fwd::stream_events& events, std::string& why) {
    const QString path = agent_socket_.isEmpty() ? qEnvironmentVariable("SSH_AUTH_SOCK") : agent_socket_;
    if (path.isEmpty()) {
        why = "no SSH agent here (SSH_AUTH_SOCK is not set)";
        return nullptr;
    }
    auto* s = new QLocalSocket;
    auto stream = std::make_unique<qt_tunnel_stream<QLocalSocket>>(s, &events);
    s->connectToServer(path);
    return stream;
}
