#pragma once
// The session's TCP socket on Qt: a QTcpSocket whose signals become the session's read, connect-complete and close
// notifications on the user-interface thread. Connecting (name lookup included) never blocks the event loop.
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <memory>

#include "session/interfaces.h"

class QTcpSocket;

class qt_socket final : public session_socket {
public:
    explicit qt_socket(socket_events& events);
    ~qt_socket() override;

    connect_result connect(std::string_view host, std::uint16_t port) override;
    long read(std::uint8_t* buf, std::size_t n) override;
    long write(const std::uint8_t* buf, std::size_t n) override;
    void close() override;
    std::size_t pending_output() const override;
    // What has arrived and not been read yet (the read limit bounds it, apart from the peer's last bytes).
    std::size_t buffered_input() const;
    // The system's socket, -1 while there is none (tests read its options).
    qintptr descriptor() const;

private:
    void renotify_if_data_left();

    socket_events& events_;
    std::unique_ptr<QObject> guard_;  // context of queued calls: they die with this object, not with the socket
    QPointer<QTcpSocket> sock_;
    QByteArray tail_;  // data saved when the peer finished sending, served before the socket's own buffer
    bool connected_ = false;
    bool in_connect_ = false;  // inside connectToHost: outcomes are returned, not notified
    bool close_sent_ = false;
    bool renotify_queued_ = false;
    bool write_ready_queued_ = false;
};

class qt_socket_factory final : public socket_factory {
public:
    std::unique_ptr<session_socket> create(socket_events& events) override;
    std::optional<std::uint32_t> lookup_ipv4(std::string_view name) override;
};
