// Sign-on from the real main window against a stock sshd, counting the dialogs it shows: a key file under HOME, an
// agent's key and a key behind a passphrase sign on before any password dialog, and a host that takes only the
// password gets one dialog, which asks for the password alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QTimer>
#include <cstdlib>
#include <string>
#include <vector>

#include "client_fixture.h"
#include "dialogs/settings_dialogs.h"
#include "dialogs/ssh_auth_dialogs.h"

using namespace client_test;

namespace {

constexpr const char* passphrase = "Key-phrase-7";

// Every modal dialog shown, answered as a user would: the passphrase, or the peer's password. Waiting for a key
// derivation is not a question and is not counted.
struct dialog_counter {
    std::vector<std::string> shown;
    bool user_editable = false;  // the sign-on dialog let the name be changed
    QTimer timer;
    dialog_counter() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!d || qobject_cast<QProgressDialog*>(d) || !d->isVisible()) return;
            if (auto* k = dynamic_cast<key_passphrase_dialog*>(d)) {
                shown.emplace_back("passphrase");
                k->findChild<QLineEdit*>()->setText(passphrase);
                k->accept();
            } else if (auto* g = qobject_cast<getssh*>(d)) {
                shown.emplace_back("password");
                user_editable = !g->control<QLineEdit>(1000)->isReadOnly();
                g->control<QLineEdit>(1001)->setText("Peer-pass-42");
                g->accept();
            } else {
                shown.emplace_back(d->metaObject()->className());
                d->reject();
            }
        });
        timer.start(50);
    }
};

// SSH_AUTH_SOCK for one test only: the runner's own agent must not sign anything here.
struct scoped_agent_socket {
    explicit scoped_agent_socket(const std::string& path) {
        if (path.empty())
            ::unsetenv("SSH_AUTH_SOCK");
        else
            ::setenv("SSH_AUTH_SOCK", path.c_str(), 1);
    }
    ~scoped_agent_socket() { ::unsetenv("SSH_AUTH_SOCK"); }
};

int run(const std::string& command) {
    int rc = -1;
    peer_test::run(command, &rc, 30);
    return rc;
}

}  // namespace

// One row per way in. `where` is where the key goes: HOME's id_ed25519 (with or without a passphrase), the agent
// alone, or nowhere (the host then takes the password). Reconnect signs on again with no dialog in every case
// (the passphrase is asked once per run, the password typed once is used again).
TEST(SignOn, KeysAndTheAgentBeforeAnyDialog) {
    if (!QFile::exists("/usr/bin/ssh-keygen") || !QFile::exists("/usr/bin/ssh-agent"))
        GTEST_SKIP() << "OpenSSH client tools missing";
    enum class where { home, home_passphrase, agent, none };
    const struct row {
        const char* what;
        where key;
        std::vector<std::string> dialogs;
    } rows[] = {
        {"key file", where::home, {}},
        {"agent", where::agent, {}},
        {"passphrase key", where::home_passphrase, {"passphrase"}},
        {"password only", where::none, {"password"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        peer_window w;
        // sshd reads the authorized keys as the test account: the folder must be open to it.
        ::chmod(w.d.c_str(), 0755);
        const peer_test::fs::path ssh_dir = w.d / "home" / ".ssh";
        peer_test::fs::create_directories(ssh_dir);
        const std::string key = (r.key == where::agent ? w.d / "agent_key" : ssh_dir / "id_ed25519").string();
        std::vector<std::string> options;
        if (r.key != where::none) {
            const std::string phrase = r.key == where::home_passphrase ? passphrase : "";
            ASSERT_EQ(run("ssh-keygen -q -t ed25519 -a 16 -N '" + phrase + "' -f " + key), 0);
            const std::string authorized = (w.d / "authorized_keys").string();
            ASSERT_EQ(run("cp " + key + ".pub " + authorized + " && chmod 644 " + authorized), 0);
            options = {"--option", "AuthorizedKeysFile " + authorized, "--option", "StrictModes no",
                       "--option", "AuthenticationMethods publickey"};
        }
        std::unique_ptr<peer_test::child> agent;
        std::string agent_socket;
        if (r.key == where::agent) {
            agent_socket = (w.d / "agent.sock").string();
            agent = std::make_unique<peer_test::child>(std::vector<std::string>{"ssh-agent", "-D", "-a", agent_socket},
                                                       w.d / "agent.out", w.d / "agent.err");
            ASSERT_TRUE(wait_for([&] { return peer_test::fs::exists(agent_socket); }, 5000));
            ASSERT_EQ(run("env SSH_AUTH_SOCK=" + agent_socket + " ssh-add -q " + key), 0);
        }
        const scoped_agent_socket agent_env(agent_socket);
        std::string why;
        const int port = w.start_known_sshd(why, options);
        if (port < 0) GTEST_SKIP() << why;

        Settings& s = w.open_window();
        s.ssh = 1;
        s.ssh_type_1_2 = 1;
        s.ssh_default = 0;
        s.ssh_user = "qtpeer";  // as the session or -l gives it
        s.ssh_password.clear();
        dialog_counter counter;
        ASSERT_TRUE(w.view().connect_to("127.0.0.1", port));
        const bool first = w.screen_shows("$ ", 15000);
        const std::vector<std::string> at_first = counter.shown;
        w.type_line("exit");
        const bool ended = wait_for([&] { return !w.view().net().busy(); }, 10000);
        const bool second = w.reconnects_to_prompt();
        w.home_guard.reset();
        ASSERT_TRUE(first) << screen_text(w.view()) << w.last_message();
        EXPECT_EQ(at_first, r.dialogs);
        EXPECT_FALSE(counter.user_editable) << "the name was asked although it was known";
        ASSERT_TRUE(ended) << screen_text(w.view());
        EXPECT_TRUE(second) << screen_text(w.view()) << w.last_message();
        EXPECT_EQ(counter.shown, r.dialogs) << "Reconnect asked again";
        EXPECT_TRUE(w.ui.messages.empty()) << w.last_message();
    }
}
