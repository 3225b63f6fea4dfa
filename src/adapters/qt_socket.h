#pragma once
// The session's TCP socket on Qt: a QTcpSocket whose signals become the session's read, connect-complete and close
// notifications on the user-interface thread. Connecting (name lookup included) never blocks the event loop. Qt's
// errors become the core's failure causes; whether a peer's close was orderly (FIN) or a reset is read from the
// system socket, since Qt reports both as RemoteHostClosedError.
// No proxy of Qt's (QNetworkProxy::NoProxy): the client's own proxy settings apply, never the desktop's http_proxy.
// TCP_NODELAY and keep-alive are set on the connected signal (before it there is no socket to take them), and Qt's
// read buffer is capped at socket_read_buffer_limit so TCP flow control holds a flooding host back.
#include <QAbstractSocket>
#include <QByteArray>
#include <QHostInfo>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

#include "session/interfaces.h"

class QTcpSocket;

// Answers name lookups in place of the system resolver (tests: no query leaves the machine). Synchronous.
using qt_resolver = std::function<QHostInfo(const QString& name)>;

// The cause for a Qt socket error; text is Qt's errorString().
socket_failure qt_socket_failure(QAbstractSocket::SocketError error, const QString& text);

class qt_socket final : public session_socket {
public:
    // resolver: looks names up instead of QHostInfo when set; it must outlive the socket.
    explicit qt_socket(socket_events& events, const qt_resolver* resolver = nullptr);
    ~qt_socket() override;

    connect_result connect(std::string_view host, std::uint16_t port) override;
    long read(std::uint8_t* buf, std::size_t n) override;
    long write(const std::uint8_t* buf, std::size_t n) override;
    void close() override;
    std::size_t pending_output() const override;
    socket_failure failure() const override { return failure_; }
    // Set once connected, like TCP_NODELAY: before that Qt has no descriptor to put it on.
    void set_keep_alive(bool on) override;
    // What has arrived and not been read yet (the read limit bounds it, apart from the peer's last bytes).
    std::size_t buffered_input() const;
    // The system's socket, -1 while there is none (tests read its options).
    qintptr descriptor() const;

private:
    void renotify_if_data_left();
    // The session's read handler; what it leaves unread is noticed once it returns, not after every read.
    void notify_read();
    void looked_up(const QHostInfo& info, const QString& name, std::uint16_t port, bool by_hook);
    void peer_gone();
    void release_watch();

    socket_events& events_;
    std::unique_ptr<QObject> guard_;  // context of queued calls: they die with this object, not with the socket
    QPointer<QTcpSocket> sock_;
    QByteArray tail_;  // data saved when the peer finished sending, served before the socket's own buffer
    bool connected_ = false;
    bool keep_alive_ = false;  // SO_KEEPALIVE wanted
    bool in_connect_ = false;  // inside connectToHost: outcomes are returned, not notified
    bool close_sent_ = false;
    bool renotify_queued_ = false;
    int notifying_ = 0;  // depth of notify_read calls running
    bool write_ready_queued_ = false;
    const qt_resolver* resolver_ = nullptr;
    int lookup_id_ = -1;  // a running QHostInfo lookup
    socket_failure failure_;
    std::optional<QAbstractSocket::SocketError> error_;  // Qt's error on the connected socket, if any
    int watch_fd_ = -1;  // a duplicate of the connected socket: its TCP state outlives Qt's descriptor
};

class qt_socket_factory final : public socket_factory {
public:
    std::unique_ptr<session_socket> create(socket_events& events) override;
    std::optional<std::uint32_t> lookup_ipv4(std::string_view name) override;
    // Every later lookup (connects and SOCKS 4 names) goes to resolver instead of the system.
    void set_resolver(qt_resolver resolver) { resolver_ = std::move(resolver); }

private:
    qt_resolver resolver_;
};
