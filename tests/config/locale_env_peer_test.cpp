// The locale reaching a real OpenSSH sshd through vtsession's SSH-2 engine: LANG and LC_* as env requests when
// ssh_send_locale is on and the host accepts them (AcceptEnv), nothing otherwise, and a host that accepts none
// still gives a shell.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../support/peer_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using peer_test::child;
using peer_test::slurp;

namespace {

constexpr const char* sshd_user = "qtpeer";
constexpr const char* sshd_password = "Peer-pass-42";

struct LocaleToSshd : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        if (!fs::exists("/usr/sbin/sshd") || !fs::exists("/usr/bin/python3"))
            GTEST_SKIP() << "no sshd (scripts/deps.sh)";
        char tmpl[] = "/tmp/locale_peer_XXXXXX";
        dir = ::mkdtemp(tmpl);
        ::setenv("HOME", dir.c_str(), 1);
        ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    }
    void TearDown() override {
        if (!dir.empty()) fs::remove_all(dir);
    }
    std::unique_ptr<child> start_sshd(const std::vector<std::string>& options, int& port) {
        std::vector<std::string> argv{"/usr/bin/python3",
                                      std::string(SOURCE_DIR) + "/tests/ssh/peers/sshd_fixture.py",
                                      "--key",
                                      "ed25519",
                                      "--user",
                                      sshd_user,
                                      "--password",
                                      sshd_password,
                                      "--timeout",
                                      "60"};
        for (const auto& o : options) argv.insert(argv.end(), {"--option", o});
        fs::remove(dir / "sshd.out");  // the last fixture's port line must not be read for this one's
        auto c = std::make_unique<child>(argv, dir / "sshd.out", dir / "sshd.err", true);
        port = peer_test::wait_port_line(dir / "sshd.out", 20s);
        return c;
    }
    // The screen after the shell has echoed the three variables between brackets.
    std::string shell_sees(int port, bool send_locale) {
        const std::vector<std::string> argv{VTSESSION_BIN,
                                            "--host",
                                            "127.0.0.1",
                                            "--port",
                                            std::to_string(port),
                                            "--timeout",
                                            "10",
                                            "--set",
                                            "ssh=1",
                                            "--set",
                                            "ssh_type_1_2=1",
                                            "--set",
                                            "ssh_default=1",
                                            "--set",
                                            std::string("ssh_user=") + sshd_user,
                                            "--set",
                                            std::string("ssh_password=") + sshd_password,
                                            "--set",
                                            "ssh_algorithms=1",
                                            "--set",
                                            "ssh_check_host_key=0",
                                            "--set",
                                            std::string("ssh_send_locale=") + (send_locale ? "1" : "0"),
                                            "--expect",
                                            "$ ",
                                            "--send",
                                            "echo \"L=[$LANG] M=[$LC_MONETARY] P=[$LC_PAPER] D$((6*7))\"\\015"};
        child c(argv, dir / "vt.out", dir / "vt.err");
        EXPECT_EQ(c.wait(20s), 0) << slurp(dir / "vt.err");
        return slurp(dir / "vt.out");
    }
};

TEST_F(LocaleToSshd, LangAndLcVariablesGoWhenAskedAndAccepted) {
    ::setenv("LANG", "C.UTF-8", 1);
    ::setenv("LC_MONETARY", "POSIX", 1);
    ::setenv("LC_PAPER", "C", 1);
    ::setenv("LANGUAGE", "xx", 1);  // not a locale variable OpenSSH sends by default
    const struct row {
        bool accept_env, send;
        const char* seen;
    } rows[] = {
        {true, true, "L=[C.UTF-8] M=[POSIX] P=[C] D42"},
        {true, false, "M=[] P=[] D42"},
        {false, true, "M=[] P=[] D42"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.accept_env ? "AcceptEnv" : "no AcceptEnv") + (r.send ? ", sent" : ", not sent"));
        int port = -1;
        const auto sshd = start_sshd(
            r.accept_env ? std::vector<std::string>{"AcceptEnv LANG LC_*"} : std::vector<std::string>{}, port);
        ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
        const std::string screen = shell_sees(port, r.send);
        EXPECT_NE(screen.find(r.seen), std::string::npos) << screen;
    }
}

// `vtsession --host h2` for a host named only in ~/.ssh/config: the files give the address, the port, the user and
// what SendEnv passes; a malformed line further on is told with its line and the connection goes on.
TEST_F(LocaleToSshd, AnAliasOfTheUsersSshConfigReachesItsHost) {
    int port = -1;
    const auto sshd = start_sshd({"AcceptEnv QT_ALIAS_*"}, port);
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    fs::create_directories(dir / ".ssh");
    std::ofstream(dir / ".ssh" / "config")
        << "Host h2\n  HostName 127.0.0.1\n  Port " << port << "\n  User " << sshd_user << "\n  SendEnv QT_ALIAS_*\n"
        << "Host elsewhere\n  Port many\n";
    ::setenv("QT_ALIAS_SEEN", "yes-42", 1);
    const std::vector<std::string> argv{VTSESSION_BIN,
                                        "--host",
                                        "h2",
                                        "--port",
                                        "22",
                                        "--timeout",
                                        "10",
                                        "--set",
                                        "ssh=1",
                                        "--set",
                                        "ssh_type_1_2=1",
                                        "--set",
                                        "ssh_default=1",
                                        "--set",
                                        std::string("ssh_password=") + sshd_password,
                                        "--set",
                                        "ssh_check_host_key=0",
                                        "--expect",
                                        "$ ",
                                        "--send",
                                        "echo \"A=[$QT_ALIAS_SEEN] U=[$(id -un)] D$((6*7))\"\\015"};
    child c(argv, dir / "vt.out", dir / "vt.err");
    EXPECT_EQ(c.wait(20s), 0) << slurp(dir / "vt.err");
    const std::string screen = slurp(dir / "vt.out");
    EXPECT_NE(screen.find(std::string("A=[yes-42] U=[") + sshd_user + "] D42"), std::string::npos) << screen;
    EXPECT_NE(slurp(dir / "vt.err").find("line 7"), std::string::npos) << slurp(dir / "vt.err");
}

}  // namespace
