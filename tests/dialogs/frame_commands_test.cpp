// The dialog and Edit commands on the real main window, with a real TCP peer on loopback.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest/QTest>
#include <functional>

#include "adapters/qt_socket.h"
#include "app/mainframe.h"
#include "config/memory_backend.h"
#include "config/mycli.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "dialogs/connect_dialogs.h"
#include "dialogs/tunnels_dialog.h"
#include "../support/qt_test_support.h"
#include "view/document.h"
#include "view/view.h"
#include "terminal/screen.h"
#include "terminal/vt.h"
#include "view/view_mouse.h"

namespace {

using qt_test_support::recording_ui;
using qt_test_support::test_app;

bool wait_for(const std::function<bool()>& done, int ms = 5000) { return qt_test_support::pump_until(done, ms); }

struct FrameTest : ::testing::Test {
    CVellumDoc doc;
    StartupValues start;
    recording_ui ui;
    memory_backend store;
    qt_socket_factory sockets;
    std::unique_ptr<CMainFrame> frame;

    void SetUp() override {
        test_app();
        reset_settings();
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override {
        if (frame && frame->connected()) frame->view().disconnect();
        frame.reset();
    }
    void make(const char* save_switch, const char* direct = "0") {
        start.save_switch = save_switch;
        start.direct_connect = direct;
        frame = std::make_unique<CMainFrame>(doc, start, ui, store, sockets);
        ui.messages.clear();
    }
    // Straight into the emulator, as if it had arrived before.
    void show(const char* text) {
        for (const char* p = text; *p; ++p) frame->terminal().feed_byte(static_cast<std::uint8_t>(*p));
    }
};

}  // namespace

TEST_F(FrameTest, SettingsItemsFollowTheSaveSwitch) {
    make("1");
    for (int c : {cmd::proxy, cmd::auto_login, cmd::termtype, cmd::mapping_files, cmd::ssh_tunnels})
        EXPECT_FALSE(frame->command_enabled(c)) << c;
    EXPECT_TRUE(frame->command_enabled(cmd::cursor));
    EXPECT_TRUE(frame->command_enabled(cmd::screen_font));
    frame.reset();
    make("0");
    for (int c : {cmd::proxy, cmd::auto_login, cmd::termtype, cmd::mapping_files})
        EXPECT_TRUE(frame->command_enabled(c)) << c;
}

// SSH Tunnels... edits the stored forwards and lists the running ones (none without a connection).
TEST_F(FrameTest, TunnelsCommandEditsTheForwards) {
    make("0");
    settings().ssh_forwards = "D1080";
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<gethost_tunnels*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        auto* active = d->control<QListWidget>(1057);
        ASSERT_NE(active, nullptr);
        EXPECT_EQ(active->item(0)->text(), "(none)");
        d->control<QListWidget>(1050)->setCurrentRow(0);
        d->control<QPushButton>(1055)->click();
        d->accept();
    });
    ASSERT_TRUE(frame->run_command(cmd::ssh_tunnels));
    EXPECT_EQ(settings().ssh_forwards, "");
}

TEST_F(FrameTest, EditCommandsUseTheRealClipboard) {
    make("0");
    show("first line\r\nsecond");
    EXPECT_FALSE(frame->command_enabled(cmd::copy));
    EXPECT_FALSE(frame->command_enabled(cmd::paste));
    ASSERT_TRUE(frame->run_command(cmd::select_all));
    EXPECT_TRUE(frame->command_enabled(cmd::copy));
    ASSERT_TRUE(frame->run_command(cmd::copy));
    const QString text = QGuiApplication::clipboard()->text();
    const int cols = frame->view().columns();
    EXPECT_TRUE(text.startsWith("first line" + QString(cols - 10, ' ') + "\nsecond"));
    EXPECT_EQ(text.size(), 24 * cols + 23);
    EXPECT_FALSE(frame->view().mouse().has_selection());
    EXPECT_TRUE(frame->command_enabled(cmd::paste));
    // Append adds the block to what the clipboard holds.
    QGuiApplication::clipboard()->setText("abc");
    frame->view().mouse().select_all();
    ASSERT_TRUE(frame->run_command(cmd::append));
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("abc\nfirst line"));

    // With Ctrl+C and Ctrl+V on, Ctrl+C copies a shown selection.
    settings().use_cv = 1;
    QGuiApplication::clipboard()->clear();
    frame->view().mouse().select_all();
    QTest::keyClick(&frame->view(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("first line"));
    EXPECT_FALSE(frame->view().mouse().has_selection());
}

TEST_F(FrameTest, SelectedCellsShowReversed) {
    make("0");
    frame->resize(900, 600);
    QCoreApplication::processEvents();
    CVellumView& v = frame->view();
    const Settings& s = settings();
    auto colour_at = [&](int row, int col) {
        const QImage img = v.render_image();
        const QRect r = v.cell_rect(row, col);
        return img.pixelColor(r.left() + 1, r.top() + 1);
    };
    const QColor paper(s.color_bg & 0xFF, (s.color_bg >> 8) & 0xFF, (s.color_bg >> 16) & 0xFF);
    const QColor ink(s.color_fg & 0xFF, (s.color_fg >> 8) & 0xFF, (s.color_fg >> 16) & 0xFF);
    ASSERT_NE(paper, ink);
    EXPECT_EQ(colour_at(10, 40), paper);
    v.mouse().select_all();
    EXPECT_EQ(colour_at(10, 40), ink);
    v.mouse().remove_selection();
    EXPECT_EQ(colour_at(10, 40), paper);
}

TEST_F(FrameTest, WheelScrollsTheHistoryOfTheRealView) {
    make("0");
    for (int i = 0; i < 30; ++i) show(("line " + std::to_string(i) + "\r\n").c_str());
    CVellumView& v = frame->view();
    auto wheel = [&](int dy) {
        QWheelEvent e(QPointF(5, 5), v.mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, dy), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&v, &e);
    };
    ASSERT_EQ(v.scroll_position(), 200);
    wheel(-120);
    EXPECT_EQ(v.scroll_position(), 200);
    wheel(120);
    wheel(120);
    EXPECT_EQ(v.scroll_position(), 198);
    // Row 1 now shows the line two above the live top row.
    const ring_line& top = v.ring().line(1);
    std::string text;
    for (int c = 1; c <= 7; ++c) text += static_cast<char>(top.cell(c) & cell_char_mask);
    EXPECT_EQ(text, "line 5 ");
    settings().wheel = 0;
    wheel(120);
    EXPECT_EQ(v.scroll_position(), 198);
}

TEST_F(FrameTest, ConnectThroughTheDialogAndPasteToThePeer) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    make("0");
    settings().port = 23;
    const QString typed = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
    QTimer::singleShot(0, [typed] {
        auto* d = qobject_cast<gethost*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        d->host_box()->setEditText(typed);
        d->control<QComboBox>(1041)->setCurrentText(QStringLiteral("Telnet"));  // the peer is a bare socket
        d->accept();
    });
    ASSERT_TRUE(frame->run_command(cmd::connect));
    ASSERT_TRUE(wait_for([&] { return server.hasPendingConnections() || server.waitForNewConnection(10); }));
    QTcpSocket* peer = server.nextPendingConnection();
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(wait_for([&] { return frame->connected(); }));
    EXPECT_EQ(settings().host_name, "127.0.0.1");
    EXPECT_EQ(settings().port, server.serverPort());
    EXPECT_EQ(settings().host_hist[0], typed.toStdString());

    // One connection at a time: a second Connect opens no dialog and leaves the session and settings alone.
    bool dialog_opened = false;
    QTimer::singleShot(0, [&dialog_opened] {
        if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog_opened = true;
            d->reject();
        }
    });
    frame->run_command(cmd::connect);
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog_opened);
    EXPECT_TRUE(ui.messages.empty() || ui.messages[0] == one_connection_text);
    EXPECT_TRUE(frame->connected());
    EXPECT_EQ(settings().host_hist[1], "");

    QGuiApplication::clipboard()->setText(QStringLiteral("ls -l\r\npwd\n"));
    ASSERT_TRUE(frame->run_command(cmd::paste));
    QByteArray got;
    const bool arrived = wait_for([&] {
        got += peer->readAll();
        return got.size() >= 10;
    });
    ASSERT_TRUE(arrived) << got.toHex().toStdString();
    EXPECT_EQ(got, QByteArray("ls -l\rpwd\r"));

    // Data from the host drops a selection.
    frame->run_command(cmd::select_all);
    ASSERT_TRUE(frame->view().mouse().has_selection());
    peer->write("hello");
    peer->flush();
    ASSERT_TRUE(wait_for([&] { return !frame->view().mouse().has_selection(); }));
}

// A session double-clicked in the Connect dialog: the configuration of the start is saved as at exit, the
// session's becomes the one in use (its values read, the exit writes it) and the connection goes to its host.
TEST_F(FrameTest, ADoubleClickedSessionBecomesTheConfigurationInUse) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    Settings work;
    work.host_name = "127.0.0.1";
    work.port = server.serverPort();
    work.color_fg = 0xFF;
    write_configuration(work, store, "work");
    make("0");
    settings().host_name = "one.example";
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<gethost*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
        auto found = d->session_list()->findItems("work", Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        QWidget* port = d->session_list()->viewport();
        const QPoint at = d->session_list()->visualItemRect(found.front()).center();
        QTest::mouseClick(port, Qt::LeftButton, {}, at);
        QTest::mouseDClick(port, Qt::LeftButton, {}, at);
    });
    ASSERT_TRUE(frame->run_command(cmd::connect));
    ASSERT_TRUE(wait_for([&] { return server.hasPendingConnections() || server.waitForNewConnection(10); }));
    ASSERT_TRUE(wait_for([&] { return frame->connected(); }));
    EXPECT_EQ(settings().config_name, "work");
    EXPECT_EQ(settings().color_fg, 0xFF);
    EXPECT_EQ(store.read_text(config_section("1"), "host_name", ""), "one.example");
    settings().color_bg = 0x10;
    frame->save_settings();
    EXPECT_EQ(store.read_int(config_section("work"), "color_bg", -1), 0x10);
    EXPECT_NE(store.read_int(config_section("1"), "color_bg", -1), 0x10);
}

TEST_F(FrameTest, ConnectDialogReachesAnIpv6LoopbackPeer) {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHostIPv6, 0)) GTEST_SKIP() << "no IPv6 loopback here";
    make("0");
    const QString typed = QStringLiteral("[::1]:%1").arg(server.serverPort());
    QTimer::singleShot(0, [typed] {
        auto* d = qobject_cast<gethost*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        d->host_box()->setEditText(typed);
        d->control<QComboBox>(1041)->setCurrentText(QStringLiteral("Telnet"));  // the peer is a bare socket
        d->accept();
    });
    ASSERT_TRUE(frame->run_command(cmd::connect));
    ASSERT_TRUE(wait_for([&] { return server.hasPendingConnections() || server.waitForNewConnection(10); }));
    ASSERT_TRUE(wait_for([&] { return frame->connected(); }));
    EXPECT_EQ(settings().host_name, "::1");
    EXPECT_EQ(settings().port, server.serverPort());
    EXPECT_EQ(settings().host_hist[0], typed.toStdString());
}

TEST_F(FrameTest, DirectConnectSkipsTheDialog) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    make("0", "1");
    settings().host_name = "127.0.0.1";
    settings().port = server.serverPort();
    ASSERT_TRUE(frame->run_command(cmd::connect));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    ASSERT_TRUE(wait_for([&] { return frame->connected(); }));
    EXPECT_EQ(settings().host_hist[0], "");
}
