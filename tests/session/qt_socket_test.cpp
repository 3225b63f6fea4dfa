// The Qt socket adapter against a QTcpServer on loopback: notifications, data left after a short read, the
// close after the peer's last bytes, refused connects and all-or-nothing writes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include "adapters/qt_socket.h"

namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "qt_socket_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

// Reads only `per_read` bytes per notification, like a session whose buffer is smaller than what arrived.
struct sink : socket_events {
    session_socket* sock = nullptr;
    std::size_t per_read = 7;
    std::string data;
    int connects = 0, connect_errors = 0, closes = 0, reads = 0;
    void on_read(int) override {
        ++reads;
        std::uint8_t buf[64];
        const long n = sock->read(buf, per_read);
        if (n > 0) data.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
    }
    void on_connect_complete(int error) override { error == 0 ? ++connects : ++connect_errors; }
    void on_close() override {
        ++closes;
        // Drain what is left, as the session does before it reports the loss.
        std::uint8_t buf[64];
        long n;
        while ((n = sock->read(buf, sizeof buf)) > 0) data.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
    }
};

template <class Pred>
bool spin(Pred done, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) app().processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(QtSocket, DeliversEverythingThenTheClose) {
    app();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    sink events;
    qt_socket sock(events);
    events.sock = &sock;
    // Either finished at once or reported exactly once later, never both.
    const bool at_once = sock.connect("127.0.0.1", server.serverPort()) == session_socket::connect_result::connected;
    ASSERT_TRUE(spin([&] { return events.connects == (at_once ? 0 : 1) && server.hasPendingConnections(); }));
    QTcpSocket* peer = server.nextPendingConnection();

    // The peer sends in one go far more than one read takes, then closes.
    QByteArray payload;
    for (int i = 0; i < 5000; ++i) payload.append(static_cast<char>('a' + i % 26));
    peer->write(payload);
    peer->flush();
    ASSERT_TRUE(spin([&] { return events.data.size() == static_cast<std::size_t>(payload.size()); }))
        << "stalled at " << events.data.size();
    EXPECT_EQ(events.data, payload.toStdString());

    const std::string big(300000, 'w');
    EXPECT_EQ(sock.write(reinterpret_cast<const std::uint8_t*>(big.data()), big.size()), static_cast<long>(big.size()));
    QByteArray got;
    ASSERT_TRUE(spin([&] {
        got += peer->readAll();
        return got.size() == static_cast<qsizetype>(big.size());
    }));

    events.data.clear();
    peer->write("last words");
    peer->disconnectFromHost();
    ASSERT_TRUE(spin([&] { return events.closes == 1; }));
    EXPECT_EQ(events.data, "last words");
    spin([] { return false; }, 100);
    EXPECT_EQ(events.closes, 1);
    EXPECT_LT(sock.write(reinterpret_cast<const std::uint8_t*>("x"), 1), 0) << "writes after the close fail visibly";
}

TEST(QtSocket, RefusedConnectReportsAnError) {
    app();
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    sink events;
    qt_socket sock(events);
    events.sock = &sock;
    if (sock.connect("127.0.0.1", port) != session_socket::connect_result::failed) {
        ASSERT_TRUE(spin([&] { return events.connect_errors == 1; }));
    }
    EXPECT_EQ(events.connects, 0);
}

TEST(QtSocket, ClosingStopsNotificationsAndFlushes) {
    app();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    sink events;
    auto sock = std::make_unique<qt_socket>(events);
    events.sock = sock.get();
    ASSERT_NE(sock->connect("127.0.0.1", server.serverPort()), session_socket::connect_result::failed);
    ASSERT_TRUE(spin([&] { return server.hasPendingConnections(); }));
    QTcpSocket* peer = server.nextPendingConnection();
    peer->write(QByteArray(3000, 'z'));  // more than one read: a re-notification gets queued
    ASSERT_TRUE(spin([&] { return !events.data.empty(); }));
    sock->write(reinterpret_cast<const std::uint8_t*>("bye"), 3);
    sock->close();
    sock.reset();
    const int reads = events.reads;
    QByteArray got;
    spin([&] {
        got += peer->readAll();
        return got == "bye" && peer->state() != QAbstractSocket::ConnectedState;
    });
    EXPECT_EQ(got, "bye");
    EXPECT_EQ(events.reads, reads) << "no notification after close";
    EXPECT_EQ(events.closes, 0);
}

}  // namespace
