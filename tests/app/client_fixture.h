// What the tests of the whole client share: the application, the screen as text, waiting on the event loop, and
// real peers on loopback (telnetd behind socat; the SSH peers of tests/ssh/peers) with the real main window.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../support/peer_process.h"
#include "../support/scoped_home.h"
#include "../view/fakes.h"
#include "adapters/qt_socket.h"
#include "app/mainframe.h"
#include "config/memory_backend.h"
#include "config/mycli.h"
#include "config/settings.h"
#include "terminal/screen.h"
#include "view/document.h"
#include "view/view.h"

namespace client_test {

inline QApplication* app() {
    static int argc = 1;
    static char name[] = "client_integration_test";
    static char* argv[] = {name, nullptr};
    static QApplication* a = new QApplication(argc, argv);
    return a;
}

inline int free_port() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// The screen's rows, each ending in a newline.
inline std::string screen_text(CVellumView& v) {
    std::string out;
    for (int r = 1; r <= v.ring().rows(); ++r) {
        for (int c = 1; c <= v.columns(); ++c) out += static_cast<char>(v.ring().line(r).cell(c) & cell_char_mask);
        out += '\n';
    }
    return out;
}

template <class F>
inline bool wait_for(F done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(20);
    }
    return true;
}

struct telnet_peer {
    QProcess socat;
    QTemporaryDir dir;
    int port = 0;
    bool start() {
        if (QStandardPaths::findExecutable("socat").isEmpty() || !QFile::exists("/usr/sbin/telnetd")) return false;
        QString shell = dir.filePath("shell.sh");
        QFile f(shell);
        if (!f.open(QIODevice::WriteOnly)) return false;
        f.write("#!/bin/sh\nPS1='peer$ ' exec /bin/sh -i\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        port = free_port();
        socat.start("socat", {QString("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(port),
                              QString("EXEC:/usr/sbin/telnetd -h -E %1").arg(shell)});
        if (!socat.waitForStarted(3000)) return false;
        QTest::qWait(300);
        return true;
    }
    ~telnet_peer() {
        if (socat.state() != QProcess::NotRunning) {
            socat.kill();
            socat.waitForFinished(3000);
        }
    }
};

// A peer from tests/ssh/peers in a folder of its own and the real main window.
struct peer_window {
    QTemporaryDir dir;
    peer_test::fs::path d = dir.path().toStdString();
    std::unique_ptr<peer_test::child> peer;
    memory_backend store;
    recording_ui ui;
    StartupValues start;
    qt_socket_factory sockets;
    CVellumDoc doc;
    std::unique_ptr<CMainFrame> frame;

    // The peer's port, or -1 when it did not start.
    int start_peer(const std::string& script, std::vector<std::string> args) {
        args.insert(args.begin(), {"/usr/bin/python3", std::string(SOURCE_DIR) + "/tests/ssh/peers/" + script});
        peer = std::make_unique<peer_test::child>(args, d / "peer.out", d / "peer.err", true);
        return peer_test::wait_port_line(d / "peer.out", std::chrono::seconds(20));
    }
    // A stock sshd (ed25519, qtpeer / Peer-pass-42) whose host key is in a known_hosts file under a HOME of its own,
    // which stays in force until `home_guard` is reset: its port, or -1 with `why` when it cannot run here (a failed
    // scan also fails the test).
    std::optional<test_support::scoped_home> home_guard;
    int start_known_sshd(std::string& why, std::vector<std::string> extra = {}) {
        if (!QFile::exists("/usr/sbin/sshd") || !QFile::exists("/usr/bin/ssh-keyscan")) {
            why = "sshd missing";
            return -1;
        }
        std::vector<std::string> args{"--key",      "ed25519",      "--user",    "qtpeer",
                                      "--password", "Peer-pass-42", "--timeout", "60"};
        args.insert(args.end(), extra.begin(), extra.end());
        const int port = start_peer("sshd_fixture.py", args);
        if (port < 0) {
            why = "sshd did not start: " + peer_test::slurp(d / "peer.err");
            return -1;
        }
        const peer_test::fs::path home = d / "home";
        peer_test::fs::create_directories(home / ".ssh");
        int scanned = -1;
        peer_test::run("ssh-keyscan -p " + std::to_string(port) + " 127.0.0.1 2>/dev/null > " +
                           (home / ".ssh" / "known_hosts").string(),
                       &scanned, 30);
        if (scanned != 0) {
            ADD_FAILURE() << "ssh-keyscan failed";
            why = "no host key";
            return -1;
        }
        home_guard.emplace(home.string());
        return port;
    }
    Settings& open_window() {
        app();
        reset_settings();
        frame = std::make_unique<CMainFrame>(doc, start, ui, store, sockets);
        frame->view().setFocus();
        return settings();
    }
    // Remembered credentials for the stock sshd of start_known_sshd (SSH-2) and for ssh1_peer.py's "alice:wonder".
    static void sign_on_to_sshd(Settings& s) {
        s.ssh = 1;
        s.ssh_type_1_2 = 1;
        s.ssh_default = 1;
        s.ssh_user = "qtpeer";
        s.ssh_password = "Peer-pass-42";
    }
    static void sign_on_to_ssh1_peer(Settings& s) {
        s.ssh = 1;
        s.ssh_type_1_2 = 0;
        s.ssh_default = 1;
        s.ssh_user = "alice";
        s.ssh_password = "wonder";
        s.ssh_check_host_key = 0;
    }
    CVellumView& view() { return frame->view(); }
    std::string last_message() const { return ui.messages.empty() ? "" : ui.messages.back(); }
    void type_line(const QString& text) {
        QTest::keyClicks(&view(), text);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
        QApplication::sendEvent(&view(), &enter);
    }
    bool screen_shows(const std::string& text, int ms = 10000) {
        return wait_for([&] { return screen_text(view()).find(text) != std::string::npos; }, ms);
    }
    // Reconnect (Ctrl+Shift+R) until the divider shows with a prompt after it.
    bool reconnects_to_prompt(int ms = 15000) {
        QTest::keyClick(&view(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        return wait_for(
            [&] {
                const std::string text = screen_text(view());
                const auto divider = text.find("---- reconnected ");
                return divider != std::string::npos && text.find("$ ", divider) != std::string::npos;
            },
            ms);
    }
    ~peer_window() {
        if (!frame) return;
        settings().confirm = 0;
        frame->close();
    }
};

}  // namespace client_test
