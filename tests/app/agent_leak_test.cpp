// Agent forwarding stays with the session it is stored for: one main window, one stock sshd and one ssh-agent, and
// two saved sessions connected one after the other in the same process. The host lists the agent's key only in
// the session that forwards it; the other finds no agent there (`ssh-add -l` exits 2), also when reconnected after
// a Connect dialog that ticked forwarding for it and was cancelled, or connected straight after one; ticked in
// Connect and confirmed, it forwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/commands.h"
#include "client_fixture.h"
#include "config/settings_store.h"
#include "dialogs/connect_dialogs.h"
#include "dialogs/tunnels_dialog.h"

using namespace client_test;

namespace {

struct scoped_agent_socket {
    explicit scoped_agent_socket(const std::string& path) { ::setenv("SSH_AUTH_SOCK", path.c_str(), 1); }
    ~scoped_agent_socket() { ::unsetenv("SSH_AUTH_SOCK"); }
};

int run(const std::string& command) {
    int rc = -1;
    peer_test::run(command, &rc, 30);
    return rc;
}

// File > Connect with `session` picked; `tick` ticks agent forwarding in its Tunnels first; then OK or Cancel.
void connect_dialog(CMainFrame& f, const QString& session, bool tick, bool ok) {
    QTimer::singleShot(0, [session, tick, ok] {
        auto* g = qobject_cast<gethost*>(QApplication::activeModalWidget());
        ASSERT_NE(g, nullptr);
        const auto found = g->session_list()->findItems(session, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        g->session_list()->setCurrentItem(found.front());
        if (tick) {
            QTimer::singleShot(0, [] {
                auto* t = qobject_cast<gethost_tunnels*>(QApplication::activeModalWidget());
                ASSERT_NE(t, nullptr);
                t->control<QCheckBox>(1056)->setChecked(true);
                t->accept();
            });
            g->control<QPushButton>(1019)->click();
        }
        ok ? g->accept() : g->reject();
    });
    f.run_command(cmd::connect);
}

// The screen after the last `mark` (all of it for an empty mark), or nothing when it is not shown.
std::string after(CVellumView& v, const std::string& mark) {
    const std::string text = screen_text(v);
    if (mark.empty()) return text;
    const auto at = text.rfind(mark);
    return at == std::string::npos ? std::string() : text.substr(at + mark.size());
}

}  // namespace

TEST(AgentLeak, OnlyTheForwardingSessionReachesTheAgent) {
    if (!QFile::exists("/usr/bin/ssh-keygen") || !QFile::exists("/usr/bin/ssh-agent") ||
        !QFile::exists("/usr/bin/ssh-add"))
        GTEST_SKIP() << "OpenSSH client tools missing";
    peer_window w;
    ::chmod(w.d.c_str(), 0755);
    const std::string key = (w.d / "agent_key").string();
    ASSERT_EQ(run("ssh-keygen -q -t ed25519 -N '' -C agent-leak-key -f " + key), 0);
    const std::string socket = (w.d / "agent.sock").string();
    peer_test::child agent({"ssh-agent", "-D", "-a", socket}, w.d / "agent.out", w.d / "agent.err");
    ASSERT_TRUE(wait_for([&] { return peer_test::fs::exists(socket); }, 5000));
    ASSERT_EQ(run("env SSH_AUTH_SOCK=" + socket + " ssh-add -q " + key), 0);
    const scoped_agent_socket agent_env(socket);
    std::string why;
    const int port = w.start_known_sshd(why);
    if (port < 0) GTEST_SKIP() << why;

    Settings& s = w.open_window();
    peer_window::sign_on_to_sshd(s);
    s.host_name = "127.0.0.1";
    s.port = port;
    s.config_name = "1";
    s.ssh_agent_forward = 0;
    write_configuration(s, w.store, "1");
    write_configuration(s, w.store, "plain");
    Settings forwarding = s;
    forwarding.ssh_agent_forward = 1;
    write_configuration(forwarding, w.store, "forwarding");
    QStringList told;
    hooks().message = [&told](QWidget*, const QString& t) { told << t; };

    // Each step starts a session its own way, then asks the host; `rc` names the step's answer line.
    const struct {
        const char* what;
        std::function<void()> start;
        bool listed;
    } steps[] = {
        {"the forwarding session", [&] { connect_dialog(*w.frame, QStringLiteral("forwarding"), false, true); }, true},
        {"the plain session next", [&] { connect_dialog(*w.frame, QStringLiteral("plain"), false, true); }, false},
        {"reconnected after a cancelled tick",
         [&] {
             connect_dialog(*w.frame, QStringLiteral("plain"), true, false);
             QTest::keyClick(&w.view(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
         },
         false},
        {"a plain connection after a cancelled tick (an ssh:// run in the configuration in use)",
         [&] {
             connect_dialog(*w.frame, QStringLiteral("plain"), true, false);
             EXPECT_TRUE(w.view().connect_to("127.0.0.1", port));
         },
         false},
        {"the forwarding session again", [&] { connect_dialog(*w.frame, QStringLiteral("forwarding"), false, true); },
         true},
        {"ticked in Connect for the plain session",
         [&] { connect_dialog(*w.frame, QStringLiteral("plain"), true, true); }, true},
    };
    int n = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        const std::string before = "ended" + std::to_string(n);
        const std::string rc = "rc" + std::to_string(++n) + "=";
        step.start();
        const bool signed_on = wait_for(
            [&] { return after(w.view(), n == 1 ? std::string() : before).find("$ ") != std::string::npos; }, 15000);
        // The quotes keep the echoed command line from matching the answer.
        w.type_line(QString::fromStdString("ssh-add -l; echo r''c" + std::to_string(n) + "=$?"));
        const bool answered = wait_for([&] { return !after(w.view(), rc).empty(); }, 10000);
        const std::string answer = after(w.view(), "echo r''c" + std::to_string(n) + "=$?");
        w.type_line(QString::fromStdString("echo e''nded" + std::to_string(n) + "; exit"));
        const bool ended = wait_for([&] { return !w.view().net().busy(); }, 10000);
        ASSERT_TRUE(signed_on) << screen_text(w.view()) << w.last_message();
        ASSERT_TRUE(answered) << screen_text(w.view());
        EXPECT_EQ(answer.find("agent-leak-key") != std::string::npos, step.listed) << answer;
        EXPECT_NE(answer.find(rc + (step.listed ? "0" : "2")), std::string::npos) << answer;
        if (!step.listed) {
            EXPECT_NE(answer.find("Could not open a connection to your authentication agent"), std::string::npos)
                << answer;
        }
        ASSERT_TRUE(ended) << screen_text(w.view());
    }
    hooks().message = [](QWidget*, const QString&) {};
    w.home_guard.reset();
    EXPECT_EQ(told.size(), 3) << "the warning each time forwarding was ticked";
}
