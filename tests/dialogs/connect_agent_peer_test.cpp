// Agent forwarding ticked in Connect's Tunnels for one saved session, against a stock sshd and a real ssh-agent:
// with Connect cancelled, a later connection in the configuration in use must not forward the agent (`ssh-add -l`
// on the host fails); connected with that session, it does (the host lists the agent's key).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <string>

#include "../app/client_fixture.h"
#include "app/commands.h"
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

// Runs File > Connect: picks `session`, ticks agent forwarding in Tunnels (OK there), then OK or Cancel.
void connect_dialog_run(CMainFrame& f, const QString& session, bool ok) {
    QTimer::singleShot(0, [session, ok] {
        auto* g = qobject_cast<gethost*>(QApplication::activeModalWidget());
        ASSERT_NE(g, nullptr);
        const auto found = g->session_list()->findItems(session, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        g->session_list()->setCurrentItem(found.front());
        QTimer::singleShot(0, [] {
            auto* t = qobject_cast<gethost_tunnels*>(QApplication::activeModalWidget());
            ASSERT_NE(t, nullptr);
            t->control<QCheckBox>(1056)->setChecked(true);
            t->accept();
        });
        g->control<QPushButton>(1019)->click();
        ok ? g->accept() : g->reject();
    });
    f.run_command(cmd::connect);
}

}  // namespace

TEST(ConnectAgentForwarding, OnlyTheSessionItWasTickedForForwardsTheAgent) {
    if (!QFile::exists("/usr/bin/ssh-keygen") || !QFile::exists("/usr/bin/ssh-agent") ||
        !QFile::exists("/usr/bin/ssh-add"))
        GTEST_SKIP() << "OpenSSH client tools missing";
    const struct {
        const char* what;
        bool ok;
        const char* answer;  // what the host's `ssh-add -l` ends with
    } rows[] = {
        {"Connect cancelled, then a plain connection", false, "rc=2"},
        {"connected with the session", true, "rc=0"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
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
        write_configuration(s, w.store, "1");
        write_configuration(s, w.store, "trusted");
        QStringList told;
        hooks().message = [&told](QWidget*, const QString& t) { told << t; };

        connect_dialog_run(*w.frame, QStringLiteral("trusted"), r.ok);
        // Cancelled: what a later `ssh://` run in the configuration in use would do.
        if (!r.ok) {
            ASSERT_TRUE(w.view().connect_to("127.0.0.1", port));
        }
        const bool signed_on = w.screen_shows("$ ", 15000);
        // The quotes keep the echoed command line from matching the answer.
        w.type_line("ssh-add -l; echo r''c=$?");
        const bool answered = w.screen_shows("rc=", 10000);
        const std::string screen = screen_text(w.view());
        w.type_line("exit");
        wait_for([&] { return !w.view().net().busy(); }, 10000);
        hooks().message = [](QWidget*, const QString&) {};
        w.home_guard.reset();
        ASSERT_TRUE(signed_on) << screen << w.last_message();
        ASSERT_TRUE(answered) << screen;
        EXPECT_NE(screen.find(r.answer), std::string::npos) << screen;
        EXPECT_EQ(screen.find("agent-leak-key") != std::string::npos, r.ok) << screen;
        EXPECT_EQ(told.size(), 1);  // the warning as agent forwarding was ticked
    }
}
