// The Qt socket adapter against a QTcpServer on loopback: notifications, data left after a short read, the
// close after the peer's last bytes, refused connects and all-or-nothing writes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include "../adapters/qt_socket_support.h"
#include "adapters/qt_socket.h"
#include "fakes.h"

namespace {

using qt_socket_support::app;
using qt_socket_support::spin;

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
        while ((n = sock->read(buf, sizeof buf)) > 0)
            data.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
    }
};

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

// Reads nothing until told to, then everything.
struct lazy_reader : socket_events {
    session_socket* sock = nullptr;
    bool reading = false;
    std::size_t got = 0;
    void on_read(int) override {
        if (!reading) return;
        std::uint8_t buf[4096];
        long n;
        while ((n = sock->read(buf, sizeof buf)) > 0) got += static_cast<std::size_t>(n);
    }
    void on_connect_complete(int) override {}
    void on_close() override {}
};

TEST(QtSocket, HoldsNoMoreThanTheReadLimitSoTheHostIsSlowedDown) {
    app();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    lazy_reader events;
    qt_socket sock(events);
    events.sock = &sock;
    ASSERT_NE(sock.connect("127.0.0.1", server.serverPort()), session_socket::connect_result::failed);
    ASSERT_TRUE(spin([&] { return server.hasPendingConnections(); }));
    QTcpSocket* peer = server.nextPendingConnection();
    const qint64 total = 32 << 20;  // far more than the system's socket buffers hold
    peer->write(QByteArray(total, 'f'));
    spin([] { return false; }, 1000);
    EXPECT_LE(sock.buffered_input(), socket_read_buffer_limit);
    EXPECT_GT(peer->bytesToWrite(), 0) << "the host must be held back by flow control";

    events.reading = true;
    events.on_read(0);
    ASSERT_TRUE(spin([&] { return events.got == static_cast<std::size_t>(total); }, 20000))
        << "stalled at " << events.got;
}

// A session on the real socket whose host never reads: typing or pasting ends in the send-queue message instead
// of memory growing.
TEST(QtSocket, AHostThatStopsReadingFillsTheSendQueueAndItsMessageComes) {
    app();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    connection_profile settings;
    translation_table_t nettopc{}, pctonet{};
    screen_ring ring;
    vt term{ring};
    qt_socket_factory sockets;
    fake_timer timer;
    fake_ui ui;
    fake_view view;
    fixed_clock clock;
    session s{term, settings, nettopc, pctonet, sockets, timer, ui, view, clock};
    ASSERT_TRUE(s.connect_to("127.0.0.1", server.serverPort()));
    ASSERT_TRUE(spin([&] { return s.connected() && server.hasPendingConnections(); }));
    QTcpSocket* peer = server.nextPendingConnection();
    peer->setReadBufferSize(1);  // the host takes (almost) nothing

    const std::string block(1000, 'p');
    std::size_t taken = 0;
    for (int i = 0; i < 100000 && ui.messages.empty(); ++i) {
        taken +=
            static_cast<std::size_t>(s.send_to_host(reinterpret_cast<const std::uint8_t*>(block.data()), block.size()));
        if (i % 64 == 0) app().processEvents();
    }
    ASSERT_EQ(ui.messages.size(), 1u) << "no overflow after " << taken << " bytes";
    EXPECT_EQ(ui.messages[0], session_msg::send_overflow);
    EXPECT_LT(taken, std::size_t{64} << 20) << "the system's buffers and the write limit, no more";

    // The host reads again: what the queue holds goes out without anything new being typed.
    const std::size_t queued = s.send_queue_count();
    EXPECT_GT(queued, 0u);
    peer->setReadBufferSize(0);
    std::size_t received = 0;
    ASSERT_TRUE(spin(
        [&] {
            received += static_cast<std::size_t>(peer->readAll().size());
            return received == taken + queued;
        },
        20000))
        << received << " of " << taken + queued;
    EXPECT_EQ(s.send_queue_count(), 0u);
    s.disconnect(true);
}

}  // namespace
