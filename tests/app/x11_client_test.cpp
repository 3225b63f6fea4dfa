// The whole client on a real X server (ctest runs it under xvfb-run): the main window, with the grid following the
// window, is resized from outside with xdotool as a window manager does for a user (maximised, then smaller), and
// each time the host's `stty size` says what the screen shows, over Telnet, SSH-2 and SSH-1.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <string>
#include <utility>

#include "client_fixture.h"

namespace {
using namespace client_test;

// A screen row whose text is exactly `text`.
bool row_reads(CVellumView& v, const std::string& text) {
    for (int r = 1; r <= v.ring().rows(); ++r) {
        std::string row;
        for (int c = 1; c <= v.columns(); ++c) row += static_cast<char>(v.ring().line(r).cell(c) & cell_char_mask);
        if (row.substr(0, row.find_last_not_of(' ') + 1) == text) return true;
    }
    return false;
}

struct x11_client : ::testing::Test {
    peer_window w;

    void SetUp() override {
        app();
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) GTEST_SKIP() << "no xdotool";
        if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "not on an X server";
    }
    // The main window, shown at 800x560, its grid following the window.
    Settings& open_window() {
        Settings& s = w.open_window();
        s.screen_size = 1;
        s.fontsize = 16;
        w.view().refit();
        w.frame->resize(800, 560);
        w.frame->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.frame.get()));
        return s;
    }
    // Connects and waits for the host's prompt (sshd's known_hosts HOME is needed only until then).
    ::testing::AssertionResult connect(int port, const std::string& prompt) {
        if (!w.view().connect_to("127.0.0.1", port)) return ::testing::AssertionFailure() << "no connection";
        const bool shown = w.screen_shows(prompt, 15000);
        w.home_guard.reset();
        if (shown) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << screen_text(w.view()) << w.last_message();
    }
    // Asks the X server for the new size ("100%" is the screen's) and waits until the view's grid has changed (the
    // window's layout reaches the view a moment after the window itself).
    bool resize_from_outside(const QString& width, const QString& height) {
        const std::pair<int, int> before{w.view().rows(), w.view().columns()};
        const int rc = QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowsize"),
                                                                     QString::number(w.frame->winId()), width, height});
        return rc == 0 && wait_for([&] { return std::pair(w.view().rows(), w.view().columns()) != before; }, 5000);
    }
    // `stty size` until the host's answer is the grid on the screen: the first may have gone before the new size
    // reached the host, which the client tells it at most ten times a second.
    void expect_host_sees_the_grid() {
        const std::string want = std::to_string(w.view().rows()) + " " + std::to_string(w.view().columns());
        SCOPED_TRACE("grid " + want);
        EXPECT_EQ(w.view().ring().rows(), w.view().rows());
        bool seen = false;
        for (int attempt = 0; attempt < 3 && !seen; ++attempt) {
            w.type_line(QStringLiteral("stty size"));
            seen = wait_for([&] { return row_reads(w.view(), want); }, 3000);
        }
        EXPECT_TRUE(seen) << screen_text(w.view()) << w.last_message();
    }
    // At the start, maximised, and at a third size.
    void resize_twice_and_ask() {
        expect_host_sees_the_grid();
        ASSERT_TRUE(resize_from_outside(QStringLiteral("100%"), QStringLiteral("100%")));
        EXPECT_GT(w.view().rows(), screen_rows);
        EXPECT_GT(w.view().columns(), 80);
        expect_host_sees_the_grid();
        ASSERT_TRUE(resize_from_outside(QStringLiteral("640"), QStringLiteral("420")));
        expect_host_sees_the_grid();
        EXPECT_TRUE(w.ui.messages.empty()) << w.last_message();
    }
};

TEST_F(x11_client, TelnetHostFollowsTheWindow) {
    telnet_peer peer;
    if (!peer.start()) GTEST_SKIP() << "socat or telnetd missing";
    open_window();
    ASSERT_TRUE(connect(peer.port, "peer$"));
    resize_twice_and_ask();
}

TEST_F(x11_client, Ssh2HostFollowsTheWindow) {
    std::string why;
    const int port = w.start_known_sshd(why);
    if (port < 0) GTEST_SKIP() << why;
    peer_window::sign_on_to_sshd(open_window());
    ASSERT_TRUE(connect(port, "$ "));
    resize_twice_and_ask();
}

TEST_F(x11_client, Ssh1HostFollowsTheWindow) {
    if (::system("/usr/bin/python3 -c 'import Cryptodome' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "pycryptodome missing";
    const int port = w.start_peer("ssh1_peer.py", {"--account", "alice:wonder", "--timeout", "60"});
    ASSERT_GT(port, 0) << peer_test::slurp(w.d / "peer.err");
    peer_window::sign_on_to_ssh1_peer(open_window());
    ASSERT_TRUE(connect(port, "$ "));
    resize_twice_and_ask();
}

}  // namespace
