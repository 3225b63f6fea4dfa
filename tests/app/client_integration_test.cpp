// The client as a whole: the real main window with the Qt socket against telnetd on loopback (typing reaches
// the host and its answer reaches the screen), and the executable's command-line error path.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QLineEdit>
#include <QAction>
#include <QLabel>
#include <QToolButton>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <csignal>
#include <fstream>
#include <map>
#include <sstream>
#include <random>
#include <memory>
#include <optional>

#include "client_fixture.h"
#include "../support/peer_process.h"
#include "../support/scoped_home.h"
#include "../view/fakes.h"
#include "adapters/qt_socket.h"
#include "app/commands.h"
#include "app/mainframe.h"
#include "config/memory_backend.h"
#include "config/mycli.h"
#include "config/settings.h"
#include "dialogs/file_transfer_window.h"
#include "dialogs/settings_dialogs.h"
#include "session/session.h"
#include "ssh/ssh2.h"
#include "terminal/screen.h"
#include "view/document.h"
#include "view/view.h"

namespace {
using namespace client_test;

TEST(Client, TypesToTelnetHostAndShowsTheAnswer) {
    app();
    telnet_peer peer;
    if (!peer.start()) GTEST_SKIP() << "socat or telnetd missing";

    memory_backend store;
    store.write_int(config_section("1"), "color_bg", 0xFFFFFF);
    recording_ui ui;
    StartupValues start;
    qt_socket_factory sockets;
    reset_settings();
    CVellumDoc doc;
    CMainFrame frame(doc, start, ui, store, sockets);
    frame.view().setFocus();
    ASSERT_TRUE(frame.view().connect_to("127.0.0.1", peer.port));
    ASSERT_TRUE(wait_for([&] { return screen_text(frame.view()).find("peer$") != std::string::npos; }, 10000))
        << screen_text(frame.view());
    QTest::keyClicks(&frame.view(), "echo $((6*7))");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(&frame.view(), &enter);
    EXPECT_TRUE(wait_for([&] { return screen_text(frame.view()).find("\n42 ") != std::string::npos; }, 10000))
        << screen_text(frame.view());
    EXPECT_TRUE(frame.windowTitle().startsWith("127.0.0.1")) << frame.windowTitle().toStdString();
    settings().confirm = 0;
    EXPECT_TRUE(frame.close());
    EXPECT_FALSE(frame.view().connected());
}

// The same over SSH-2 against a stock sshd: negotiated algorithms, the host key found in a known_hosts file (no
// question), credentials remembered, the security pane naming the cipher and the key exchange.
TEST(Client, SignsOnToSshHostAndShowsTheAnswer) {
    peer_window w;
    std::string why;
    const int port = w.start_known_sshd(why);
    if (port < 0) GTEST_SKIP() << why;

    Settings& s = w.open_window();
    peer_window::sign_on_to_sshd(s);
    ASSERT_TRUE(w.view().connect_to("127.0.0.1", port));
    const bool prompt = w.screen_shows("$ ", 15000);
    w.home_guard.reset();
    ASSERT_TRUE(prompt) << screen_text(w.view()) << w.last_message();
    // Stock sshd 9.2 agrees on sntrup761x25519: the pane says the exchange is post-quantum, the tooltip which one.
    EXPECT_EQ(w.view().security_text().toStdString(), "Secure (SSH-2, chacha20-poly1305@openssh.com, post-quantum)");
    EXPECT_EQ(w.view().security_tip().toStdString().rfind("Key exchange: sntrup761x25519-sha512", 0), 0u)
        << w.view().security_tip().toStdString();
    w.type_line("echo $((6*7))");
    EXPECT_TRUE(w.screen_shows("\n42 ")) << screen_text(w.view());
    EXPECT_TRUE(w.ui.messages.empty()) << w.last_message();
}

// SSH-1 from the main window against the Python SSH-1 peer, once per cipher.
TEST(Client, SignsOnToSsh1HostWithEachCipher) {
    if (::system("/usr/bin/python3 -c 'import Cryptodome' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "pycryptodome missing";
    peer_window w;
    const int port = w.start_peer("ssh1_peer.py", {"--account", "alice:wonder", "--timeout", "60"});
    ASSERT_GT(port, 0) << peer_test::slurp(w.d / "peer.err");
    Settings& s = w.open_window();
    peer_window::sign_on_to_ssh1_peer(s);
    for (int enc : {0, 1, 2}) {
        SCOPED_TRACE(enc);
        s.ssh_encryption = enc;
        ASSERT_TRUE(w.view().connect_to("127.0.0.1", port));
        // This session's prompt: the earlier sessions' text stays on the screen.
        const auto prompt_after_welcome = [&] {
            const std::string t = screen_text(w.view());
            std::size_t welcomes = 0, at = 0;
            for (; (at = t.find("Welcome to ssh1peer", at)) != std::string::npos; ++at) ++welcomes;
            return welcomes == std::size_t(enc) + 1 && t.find("$ ", t.rfind("Welcome")) != std::string::npos;
        };
        ASSERT_TRUE(wait_for(prompt_after_welcome, 15000)) << screen_text(w.view()) << w.last_message();
        EXPECT_EQ(w.view().security_text().toStdString(), "Secure (SSH-1)");
        w.type_line("cipher" + QString::number(enc));
        EXPECT_TRUE(w.screen_shows("you said: cipher" + std::to_string(enc))) << screen_text(w.view());
        w.view().disconnect();
        EXPECT_NE(w.view().security_text().toStdString(), "Secure (SSH-1)");
    }
    EXPECT_TRUE(w.ui.messages.empty()) << w.last_message();
}

TEST(Client, PlainParameterIsAnErrorWithMessage) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir cfg;
    env.insert("XDG_CONFIG_HOME", cfg.path());
    p.setProcessEnvironment(env);
    p.start(QTELNET_BINARY, {"/Hmyhost", "stray.txt"});
    ASSERT_TRUE(p.waitForFinished(15000));
    EXPECT_NE(p.exitCode(), 0);
    QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(err.contains("stray.txt")) << err.toStdString();
}

// The client offscreen with a home (and settings) of its own.
void start_offscreen(QProcess& p, const QTemporaryDir& home, const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
    p.setProcessEnvironment(env);
    p.start(QTELNET_BINARY, args);
}

// Each launch form reaches its own listener with its own protocol: SSH-2 sends its identification on connect,
// Telnet does not. A malformed address leaves the program running (a message and the Connect dialog).
TEST(Client, LaunchFormsReachTheirHosts) {
    struct form {
        QStringList args;  // "PORT" is replaced by the listener's port
        bool v6, ssh;
    };
    const form forms[] = {
        {{"ssh://tester@127.0.0.1:PORT"}, false, true},
        {{"ssh://[::1]:PORT"}, true, true},
        {{"telnet://127.0.0.1:PORT"}, false, false},
        {{"tester@127.0.0.1", "-P", "PORT"}, false, true},
        {{"-telnet", "127.0.0.1", "-P", "PORT"}, false, false},
    };
    for (const form& f : forms) {
        SCOPED_TRACE(f.args.join(' ').toStdString());
        QTcpServer server;
        if (!server.listen(f.v6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost, 0)) {
            if (f.v6) continue;  // no IPv6 loopback here
            FAIL() << "cannot listen";
        }
        QStringList args;
        for (QString a : f.args) args << a.replace("PORT", QString::number(server.serverPort()));
        QTemporaryDir home;
        QProcess p;
        start_offscreen(p, home, args);
        const bool came = server.waitForNewConnection(15000);
        QByteArray first;
        if (came) {
            QTcpSocket* c = server.nextPendingConnection();
            // SSH-2 speaks first in negotiated mode; Telnet stays quiet or negotiates options (IAC, 0xFF).
            QElapsedTimer t;
            t.start();
            while (first.size() < 8 && t.elapsed() < (f.ssh ? 10000 : 1500))
                if (c->waitForReadyRead(100)) first += c->readAll();
        }
        p.kill();
        p.waitForFinished(5000);
        ASSERT_TRUE(came);
        EXPECT_EQ(first.startsWith("SSH-2.0-"), f.ssh) << first.toStdString();
    }
    QTemporaryDir home;
    QProcess p;
    start_offscreen(p, home, {"ssh://host:99999"});
    EXPECT_FALSE(p.waitForFinished(3000)) << p.readAllStandardError().toStdString();
    p.kill();
    p.waitForFinished(5000);
}

TEST(Client, HelpPrintsUsageAndStartsNoWindow) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No display at all: the usage must not need one.
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(v);
    p.setProcessEnvironment(env);
    p.start(QTELNET_BINARY, {"--help"});
    const bool finished = p.waitForFinished(15000);
    if (!finished) p.kill();
    ASSERT_TRUE(finished);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardOutput()).startsWith("Usage: qtelnet"));
}
// ---------------------------------------------------------------------------------------------------------------
// Reconnect: tests/app/reconnect_peer.py on a fixed port, killed and started again, or resetting the connection
// when told to; the real main window with the Qt socket.

struct reconnect_window : peer_window {
    int port = 0;

    bool start_peer() {
        if (!QFile::exists("/usr/bin/python3")) return false;
        peer_test::fs::remove(d / "peer.out");
        peer = std::make_unique<peer_test::child>(
            std::vector<std::string>{"/usr/bin/python3", std::string(SOURCE_DIR) + "/tests/app/reconnect_peer.py",
                                     std::to_string(port)},
            d / "peer.out", d / "peer.err");
        const int p = peer_test::wait_port_line(d / "peer.out", std::chrono::seconds(10));
        if (p > 0) port = p;
        return p > 0;
    }
    Settings& open_window() {
        store.write_int(config_section("1"), "color_bg", 0xFFFFFF);
        return peer_window::open_window();
    }
    std::string screen() { return screen_text(view()); }
    std::size_t count(const std::string& what) {
        const std::string s = screen();
        std::size_t n = 0;
        for (auto at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
        return n;
    }
    std::string note() const { return frame->status_note()->text().toStdString(); }
};

TEST(Client, ReconnectAfterTheHostCameBackKeepsTheScreen) {
    reconnect_window w;
    if (!w.start_peer()) GTEST_SKIP() << "the python peer did not start: " << peer_test::slurp(w.d / "peer.err");
    Settings& s = w.open_window();
    s.host_name = "other.example";  // not where the last connection went: Reconnect must not look here
    EXPECT_FALSE(w.frame->command_enabled(cmd::reconnect)) << "no connection yet in this run";
    ASSERT_TRUE(w.view().connect_to("127.0.0.1", w.port));
    ASSERT_TRUE(wait_for([&] { return w.count("peer$") == 1; }, 10000)) << w.screen();
    EXPECT_FALSE(w.frame->command_enabled(cmd::reconnect)) << "not while connected";
    w.type_line("first");
    ASSERT_TRUE(wait_for([&] { return w.count("you said: first") == 1; }, 10000)) << w.screen();

    w.peer.reset();  // killed: its connection closes
    ASSERT_TRUE(wait_for([&] { return !w.view().connected(); }, 10000));
    ASSERT_TRUE(wait_for([&] { return w.frame->reconnect_button()->isVisible(); }, 2000));
    w.frame->refresh_command_states();
    EXPECT_TRUE(w.frame->action(cmd::reconnect)->isEnabled());
    EXPECT_EQ(w.frame->action(cmd::reconnect)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+R")));
    EXPECT_EQ(w.note(), "Connection to host has been lost The host 127.0.0.1:" + std::to_string(w.port) +
                            " closed the connection.");
    EXPECT_EQ(w.frame->reconnect_button()->text().toStdString(), "Reconnect (Ctrl+Shift+R)");

    // Nobody listens yet: the refused attempt says so and claims nothing on the screen.
    w.ui.messages.clear();
    QTest::keyClick(&w.view(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(wait_for([&] { return !w.view().net().busy(); }, 10000));
    EXPECT_EQ(w.last_message().rfind("Sorry, cannot create a connection", 0), 0u) << w.last_message();
    EXPECT_EQ(w.count("reconnected"), 0u) << w.screen();

    ASSERT_TRUE(w.start_peer()) << peer_test::slurp(w.d / "peer.err");
    QTest::keyClick(&w.view(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(wait_for([&] { return w.count("peer$") == 3; }, 10000)) << w.screen();
    EXPECT_EQ(w.count("reconnected"), 1u) << w.screen();
    const std::string screen = w.screen();
    const auto divider = screen.find("---- reconnected 20");
    ASSERT_NE(divider, std::string::npos) << screen;
    EXPECT_LT(screen.find("you said: first"), divider) << "the earlier session stays above the divider";
    EXPECT_LT(divider, screen.rfind("peer$")) << "the new session's output comes after it";
    EXPECT_EQ(screen.find("\n---- reconnected ", divider - 1), divider - 1) << "the divider starts a line";
    EXPECT_EQ(settings().host_name, "other.example") << "the settings are not changed";
    w.type_line("second");
    EXPECT_TRUE(wait_for([&] { return w.count("you said: second") == 1; }, 10000)) << w.screen();
    EXPECT_TRUE(w.frame->reconnect_button()->isHidden());
}

// auto_reconnect: a reset counts down from 2 s and connects again by itself; a key during the countdown stops it.
// With a keep-alive interval a Telnet host that stops answering what was typed is told in the status bar.
TEST(Client, AutomaticReconnectAfterAResetAndNoAnswer) {
    reconnect_window w;
    if (!w.start_peer()) GTEST_SKIP() << "the python peer did not start: " << peer_test::slurp(w.d / "peer.err");
    Settings& s = w.open_window();
    s.auto_reconnect = 1;
    s.ssh_keepalive = 1;
    ASSERT_TRUE(w.view().connect_to("127.0.0.1", w.port));
    ASSERT_TRUE(wait_for([&] { return w.count("peer$") == 1; }, 10000)) << w.screen();

    w.type_line("reset");
    ASSERT_TRUE(wait_for([&] { return w.note().find("Reconnecting in") != std::string::npos; }, 5000)) << w.note();
    EXPECT_EQ(w.note().rfind("Connection to host has been lost The connection to 127.0.0.1:" + std::to_string(w.port) +
                                 " was reset.",
                             0),
              0u)
        << w.note();
    EXPECT_EQ(w.last_message(), "") << "a box would hold the countdown back until it was read";
    EXPECT_TRUE(w.frame->command_enabled(cmd::disconnect)) << "Disconnect stops the countdown";
    EXPECT_TRUE(wait_for([&] { return w.count("peer$") == 2; }, 6000)) << w.screen() << w.note();
    EXPECT_NE(w.screen().find("---- reconnected 20"), std::string::npos) << w.screen();
    EXPECT_EQ(w.frame->reconnect_countdown(), 0);

    // A key cancels the next countdown; no attempt follows.
    w.type_line("reset");
    ASSERT_TRUE(wait_for([&] { return w.frame->reconnect_countdown() > 0; }, 5000)) << w.note();
    QTest::keyClick(&w.view(), Qt::Key_X);
    EXPECT_EQ(w.frame->reconnect_countdown(), 0);
    QTest::qWait(3000);
    EXPECT_FALSE(w.view().net().busy());
    EXPECT_EQ(w.count("peer$"), 2u) << w.screen();

    // Typed text the host never answers: "No answer for N s" after the interval, cleared by the next data.
    ASSERT_TRUE(w.frame->run_command(cmd::reconnect));
    ASSERT_TRUE(wait_for([&] { return w.count("peer$") == 3; }, 10000)) << w.screen();
    w.type_line("mute");
    w.type_line("anyone");
    EXPECT_TRUE(wait_for([&] { return w.note().rfind("No answer for ", 0) == 0; }, 5000)) << w.note();
}

// This test program's descendants (the peer and what it started), stopped or let go on as one: a host that hangs
// with its connections open, as a frozen machine would.
struct frozen_peers {
    std::vector<pid_t> pids;
    frozen_peers() {
        std::map<pid_t, std::vector<pid_t>> children;
        for (const auto& e : peer_test::fs::directory_iterator("/proc")) {
            const std::string name = e.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::ifstream stat(e.path() / "stat");
            std::string line;
            if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
            std::istringstream rest(line.substr(line.rfind(')') + 1));
            char state = 0;
            pid_t parent = 0;
            if (rest >> state >> parent) children[parent].push_back(static_cast<pid_t>(std::stoi(name)));
        }
        std::vector<pid_t> todo{::getpid()};
        while (!todo.empty()) {
            const pid_t p = todo.back();
            todo.pop_back();
            for (const pid_t c : children[p]) {
                pids.push_back(c);
                todo.push_back(c);
            }
        }
        for (const pid_t p : pids) ::kill(p, SIGSTOP);
    }
    ~frozen_peers() {
        for (const pid_t p : pids) ::kill(p, SIGCONT);
    }
};

// An SSH host that hangs after sign-on is noticed with today's defaults: keep-alives go unanswered and the session
// ends with the cause. The interval is shortened through the setting; the count is today's.
TEST(Client, AHungHostEndsTheSessionWithTodaysDefaults) {
    peer_window w;
    std::string why;
    const int port = w.start_known_sshd(why);
    if (port < 0) GTEST_SKIP() << why;
    Settings& s = w.open_window();
    apply_todays_defaults(s);  // as an ssh:// launch runs
    peer_window::sign_on_to_sshd(s);
    s.ssh_keepalive = 1;
    ASSERT_TRUE(w.view().connect_to("127.0.0.1", port));
    const bool shell = w.screen_shows("$ ", 15000);
    bool ended = false;
    if (shell) {
        const frozen_peers frozen;
        ended = wait_for([&] { return !w.view().net().busy(); }, 30000);
    }
    w.home_guard.reset();
    ASSERT_TRUE(shell) << screen_text(w.view()) << w.last_message();
    ASSERT_TRUE(ended) << "still connected to a host that answers nothing";
    const std::string cause = w.view().net().last_ending().cause;
    EXPECT_EQ(cause, "Connection to host has been lost\n" + ssh::keepalive_timeout_message(s.ssh_keepalive_max));
    EXPECT_EQ(w.last_message(), cause);
}

// SSH-2 with nothing remembered, so the sign-on dialog asks: each time it is answered with the peer's user name and
// password, and counted.
struct dialog_sign_on {
    int asked = 0;
    QTimer timer;
    explicit dialog_sign_on(Settings& s) {
        s.ssh = 1;
        s.ssh_type_1_2 = 1;
        s.ssh_default = 0;
        s.ssh_user = "qtpeer";  // the session's: the dialog asks only for the password
        s.ssh_password.clear();
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* d = qobject_cast<getssh*>(QApplication::activeModalWidget());
            if (!d) return;
            ++asked;
            d->control<QLineEdit>(1000)->setText("qtpeer");
            d->control<QLineEdit>(1001)->setText("Peer-pass-42");
            d->accept();
        });
        timer.start(50);
    }
};

// SSH-2 with the credentials not remembered: the sign-on dialog asks at the first connection, and Reconnect signs on
// with what was typed there without asking again.
TEST(Client, ReconnectSignsOnWithTheCredentialsTypedInThisRun) {
    peer_window w;
    std::string why;
    const int port = w.start_known_sshd(why);
    if (port < 0) GTEST_SKIP() << why;

    Settings& s = w.open_window();
    dialog_sign_on answer(s);
    ASSERT_TRUE(w.view().connect_to("127.0.0.1", port));
    const bool first = w.screen_shows("$ ", 15000);
    EXPECT_EQ(answer.asked, 1);
    w.type_line("exit");
    const bool ended = wait_for([&] { return !w.view().net().busy(); }, 10000);
    const bool second = w.reconnects_to_prompt();
    w.home_guard.reset();
    ASSERT_TRUE(first) << screen_text(w.view()) << w.last_message();
    ASSERT_TRUE(ended) << screen_text(w.view());
    EXPECT_TRUE(second) << screen_text(w.view()) << w.last_message();
    EXPECT_EQ(answer.asked, 1) << "Reconnect asked again";
    EXPECT_TRUE(s.ssh_user == "qtpeer");
    EXPECT_EQ(s.ssh_default, 0) << "nothing became remembered";
}

// File Transfer over a stock sshd (internal-sftp), signed on once through the dialog: two files dropped on the
// terminal arrive in the folder the shell reported with OSC 7; a large download is cut off part way when the
// connection ends, and after Reconnect (no sign-on asked) Resume completes it byte for byte from what was kept.
TEST(Client, DroppedFilesUploadAndADownloadResumesAfterReconnect) {
    peer_window w;
    std::string why;
    const int port = w.start_known_sshd(why, {"--option", "Subsystem sftp internal-sftp"});
    if (port < 0) GTEST_SKIP() << why;
    const std::string folder = "/home/qtpeer/ftw_" + std::to_string(::getpid());
    struct remove_at_end {
        std::string path;
        ~remove_at_end() { peer_test::fs::remove_all(path); }
    } cleanup{folder};
    peer_test::fs::remove_all(folder);
    peer_test::fs::create_directories(folder);
    const auto random_file = [](const std::string& path, std::size_t n, unsigned seed) {
        std::mt19937 rng(seed);
        std::string bytes(n, '\0');
        for (char& c : bytes) c = char(rng());
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return bytes;
    };
    const std::string big = random_file(folder + "/big.log", 96 * 1024 * 1024, 7);
    int st = 0;
    peer_test::run("chown -R qtpeer " + folder, &st);
    const std::string one = random_file((w.d / "one.txt").string(), 1000, 8);
    const std::string two = random_file((w.d / "two.bin").string(), 3 * 1024 * 1024 + 1, 9);
    const auto slurp = [](const std::string& path) { return peer_test::slurp(path); };

    dialog_sign_on answer(w.open_window());
    ASSERT_TRUE(w.view().connect_to("127.0.0.1", port));
    // The known_hosts HOME stays until the end: Reconnect checks the host key again.
    ASSERT_TRUE(w.screen_shows("$ ", 15000)) << screen_text(w.view()) << w.last_message();
    w.type_line(QString::fromStdString("printf '\\033]7;file://box%s\\007' " + folder));
    ASSERT_TRUE(wait_for([&] { return w.frame->terminal().current_folder() == folder; }, 10000))
        << w.frame->terminal().current_folder();
    ASSERT_TRUE(wait_for([&] { return w.frame->command_enabled(cmd::file_transfer); }, 5000));

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString((w.d / "one.txt").string())),
                  QUrl::fromLocalFile(QString::fromStdString((w.d / "two.bin").string()))});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w.view(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w.view(), &drop);
    auto* win = w.frame->findChild<file_transfer_window*>();
    ASSERT_NE(win, nullptr);
    const bool uploaded = wait_for(
        [&] {
            return win->transfers().size() == 2 && win->transfers()[0]->st == file_transfer_window::state::done &&
                   win->transfers()[1]->st == file_transfer_window::state::done;
        },
        20000);
    ASSERT_TRUE(uploaded) << win->status_line()->text().toStdString();
    EXPECT_EQ(win->remote_folder(), folder);
    EXPECT_TRUE(slurp(folder + "/one.txt") == one);
    EXPECT_TRUE(slurp(folder + "/two.bin") == two);

    // Down, cut off part way.
    const QString down = QString::fromStdString((w.d / "down").string());
    ASSERT_TRUE(QDir().mkpath(down));
    win->set_local_folder(down);
    win->refresh();
    ASSERT_TRUE(wait_for([&] { return !win->remote_list()->findItems("big.log", Qt::MatchExactly).isEmpty(); }, 5000));
    win->select_names(file_transfer_window::pane::remote, {"big.log"});
    win->button("download")->click();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 && (win->transfers().size() < 3 || win->transfers()[2]->done < 8 * 1024 * 1024))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_EQ(win->transfers().size(), 3u);
    const auto& row = *win->transfers()[2];
    ASSERT_EQ(row.st, file_transfer_window::state::running);
    EXPECT_GT(row.bar->value(), 0);
    EXPECT_FALSE(row.item->text(3).isEmpty());  // the rate
    w.view().disconnect();
    ASSERT_TRUE(wait_for([&] { return !w.view().net().busy(); }, 10000));
    EXPECT_EQ(row.st, file_transfer_window::state::failed);
    const auto kept = QFileInfo(down + "/big.log.part").size();
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, qint64(big.size()));
    EXPECT_TRUE(win->connection_line()->text().startsWith("Not connected"));

    ASSERT_TRUE(w.frame->reconnect());
    ASSERT_TRUE(wait_for([&] { return row.resume->isEnabled(); }, 15000))
        << screen_text(w.view()) << win->connection_line()->text().toStdString();
    row.resume->click();
    const bool resumed = wait_for([&] { return row.st != file_transfer_window::state::running; }, 30000);
    EXPECT_TRUE(resumed);
    EXPECT_EQ(row.st, file_transfer_window::state::done) << row.message;
    EXPECT_TRUE(slurp((down + "/big.log").toStdString()) == big);
    EXPECT_EQ(answer.asked, 1) << "signed on again";
}

}  // namespace
