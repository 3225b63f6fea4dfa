// The terminal's size as real hosts see it: `stty size` on the host's pseudo-terminal after the start and after two
// resizes, through vtsession (--size, --rows, --cols, --resize), over telnetd behind socat (NAWS), a stock OpenSSH sshd
// (pty-req, window-change) and the SSH-1 test peer (pty request, SSH_CMSG_WINDOW_SIZE). screen_size 0 keeps the
// written 24 x 80 whatever the grid does. vim and htop redraw at each new size. Every peer is started here and
// stopped at the end; every run is bounded.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/peer_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using peer_test::child;
using peer_test::slurp;

namespace {

constexpr const char* python = "/usr/bin/python3";
const std::string peers_dir = std::string(SOURCE_DIR) + "/tests/ssh/peers/";
constexpr const char* sshd_user = "qtpeer";
constexpr const char* sshd_password = "Peer-pass-42";

// The three `stty size` answers on the screen, in order ("ROWS COLUMNS" lines).
std::vector<std::string> sizes_shown(const std::string& screen) {
    std::vector<std::string> out;
    static const std::regex line(R"((?:^|\n)(?:SIZE )?(\d+ \d+) *(?=\n|$))");
    for (auto it = std::sregex_iterator(screen.begin(), screen.end(), line); it != std::sregex_iterator(); ++it)
        out.push_back((*it)[1]);
    return out;
}

struct WindowSizePeers : ::testing::Test {
    fs::path dir;
    std::vector<std::unique_ptr<child>> peers;

    void SetUp() override {
        char tmpl[] = "/tmp/window_size_XXXXXX";
        dir = ::mkdtemp(tmpl);
    }
    void TearDown() override {
        peers.clear();
        if (!dir.empty()) fs::remove_all(dir);
    }

    // telnetd behind socat running `program` (a shell script's body) on its pseudo-terminal; by default a loop in
    // which each line asks for the size and "q" ends.
    int start_telnetd(const std::string& program = "printf 'ready> '\n"
                                                   "while read line; do\n"
                                                   "  case \"$line\" in q*) exit 0;; esac\n"
                                                   "  echo \"SIZE $(stty size)\"; printf 'ready> '\n"
                                                   "done\n") {
        if (!fs::exists("/usr/sbin/telnetd") || ::system("command -v socat >/dev/null 2>&1") != 0) return -1;
        const fs::path script = dir / "program.sh";
        std::ofstream(script) << "#!/bin/sh\n" << program;
        fs::permissions(script, fs::perms::owner_all);
        for (int attempt = 0; attempt < 5; ++attempt) {
            const int port = peer_test::free_port();
            auto c = std::make_unique<child>(
                std::vector<std::string>{"socat",
                                         "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork",
                                         "EXEC:/usr/sbin/telnetd -h -E " + script.string()},
                dir / "socat.out", dir / "socat.err");
            for (int i = 0; i < 100 && !peer_test::port_open(port); ++i) std::this_thread::sleep_for(20ms);
            if (peer_test::port_open(port)) {
                peers.push_back(std::move(c));
                return port;
            }
        }
        return -2;
    }

    int start_python_peer(const std::string& script, std::vector<std::string> args, const std::string& tag) {
        if (::system("/usr/bin/python3 -c 'import Cryptodome' >/dev/null 2>&1") != 0) return -1;
        std::vector<std::string> argv{python, peers_dir + script};
        argv.insert(argv.end(), args.begin(), args.end());
        peers.push_back(std::make_unique<child>(argv, dir / (tag + ".out"), dir / (tag + ".err"), true));
        return peer_test::wait_port_line(dir / (tag + ".out"), 20s);
    }

    int start_sshd() {
        if (!fs::exists("/usr/sbin/sshd")) return -1;
        return start_python_peer("sshd_fixture.py",
                                 {"--key", "ed25519", "--user", sshd_user, "--password", sshd_password, "--timeout",
                                  "90", "--keep-log", (dir / "sshd.log").string()},
                                 "sshd");
    }

    int start_ssh1_peer() {
        return start_python_peer("ssh1_peer.py",
                                 {"--account", "alice:wonder", "--log", (dir / "peer.log").string(), "--timeout", "60"},
                                 "peer");
    }

    // vtsession to the peer at port, bounded, with screen_size `mode`.
    static std::vector<std::string> vtsession(int port, const std::string& mode) {
        return {VTSESSION_BIN, "--host", "127.0.0.1",          "--port", std::to_string(port), "--timeout",
                "15",          "--set",  "screen_size=" + mode};
    }

    // Start, `stty size`, resize, `stty size`, resize, `stty size`. A pause lets each change reach the host before
    // the next command (the SSH engine sends at most ten a second).
    std::string run(int port, std::vector<std::string> args, const std::string& prompt, const std::string& command,
                    const std::string& mode) {
        std::vector<std::string> argv = vtsession(port, mode);
        argv.insert(argv.end(), {"--size", "30x100"});
        argv.insert(argv.end(), args.begin(), args.end());
        for (const char* step :
             {"--expect", prompt.c_str(), "--send", command.c_str(), "--pause", "400", "--resize", "40x120",
              "--pause",  "300",          "--send", command.c_str(), "--pause", "400", "--resize", "255x300",
              "--pause",  "300",          "--send", command.c_str(), "--pause", "400"})
            argv.emplace_back(step);
        return finish(argv);
    }

    // --rows and --cols, one `stty size`, and the emulator's own grid from --json.
    std::string run_rows_cols(int port, const std::vector<std::string>& args, const std::string& mode) {
        std::vector<std::string> argv = vtsession(port, mode);
        argv.insert(argv.end(), args.begin(), args.end());
        for (const char* a : {"--rows", "33", "--cols", "111", "--json", "--expect", "$ ", "--send", "stty size\\015",
                              "--pause", "400"})
            argv.emplace_back(a);
        return finish(argv);
    }

    // A full-screen program on telnetd's pseudo-terminal (xterm-256color), the grid 20x70 at the start and then
    // each size in turn: the final screen's rows.
    std::vector<std::string> full_screen(int port, const std::vector<std::string>& sizes, const std::string& ready) {
        std::vector<std::string> argv = vtsession(port, "1");
        argv.insert(argv.end(),
                    {"--set", "termtype=xterm-256color", "--size", "20x70", "--expect", ready, "--pause", "300"});
        for (const std::string& size : sizes) argv.insert(argv.end(), {"--resize", size, "--pause", "800"});
        std::vector<std::string> rows;
        std::istringstream screen(finish(argv));
        for (std::string row; std::getline(screen, row);) rows.push_back(row);
        return rows;
    }

    std::string finish(const std::vector<std::string>& argv) {
        int status = -1;
        {
            child c(argv, dir / "vt.out", dir / "vt.err");
            status = c.wait(30s);
        }
        EXPECT_EQ(status, 0) << slurp(dir / "vt.err");
        return slurp(dir / "vt.out");
    }
};

const std::vector<std::string> followed{"30 100", "40 120", "255 300"};

TEST_F(WindowSizePeers, TelnetdHearsNawsOnlyWhenTheGridFollowsTheWindow) {
    const int port = start_telnetd();
    if (port == -1) GTEST_SKIP() << "telnetd or socat missing (scripts/deps.sh installs them)";
    ASSERT_GT(port, 0) << slurp(dir / "socat.err");
    std::string screen = run(port, {}, "ready>", "s\\015", "1");
    EXPECT_EQ(sizes_shown(screen), followed) << screen;
    // screen_size 0 refuses NAWS: the pty keeps telnetd's own unset size.
    screen = run(port, {}, "ready>", "s\\015", "0");
    EXPECT_EQ(sizes_shown(screen), std::vector<std::string>(3, "0 0")) << screen;
}

TEST_F(WindowSizePeers, StockSshdHearsPtyRequestAndWindowChange) {
    const int port = start_sshd();
    if (port == -1) GTEST_SKIP() << "sshd or python3-pycryptodome missing (scripts/deps.sh)";
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    const fs::path home = dir / "home";
    fs::create_directories(home);
    ::setenv("HOME", home.c_str(), 1);  // known_hosts of this test's own
    const std::vector<std::string> ssh{"--set", "ssh=1",
                                       "--set", "ssh_type_1_2=1",
                                       "--set", "ssh_algorithms=1",
                                       "--set", "ssh_default=1",
                                       "--set", std::string("ssh_user=") + sshd_user,
                                       "--set", std::string("ssh_password=") + sshd_password,
                                       "--set", "ssh_check_host_key=0"};
    std::string screen = run(port, ssh, "$ ", "stty size\\015", "1");
    EXPECT_EQ(sizes_shown(screen), followed) << screen;
    screen = run(port, ssh, "$ ", "stty size\\015", "0");
    EXPECT_EQ(sizes_shown(screen), std::vector<std::string>(3, "24 80")) << screen;

    // The emulator takes the grid too when the screen follows the window, and keeps the written one otherwise.
    const std::pair<const char*, const char*> grids[] = {{"1", "\"rows\":33,\"cols\":111,"},
                                                         {"0", "\"rows\":24,\"cols\":80,"}};
    for (const auto& [mode, grid] : grids) {
        const std::string json = run_rows_cols(port, ssh, mode);
        EXPECT_EQ(json.find(grid), 1u) << mode << ": " << json.substr(0, 200);
        const std::string asked = std::string(mode) == "1" ? "\"text\":\"33 111" : "\"text\":\"24 80";
        EXPECT_NE(json.find(asked), std::string::npos) << mode << ": " << json.substr(0, 2000);
    }
}

TEST_F(WindowSizePeers, Ssh1PeerHearsPtyRequestAndWindowSize) {
    const int port = start_ssh1_peer();
    if (port == -1) GTEST_SKIP() << "python3-pycryptodome missing (scripts/deps.sh)";
    ASSERT_GT(port, 0) << slurp(dir / "peer.err");
    const std::vector<std::string> ssh{
        "--set", "ssh=1",          "--set", "ssh_type_1_2=0",      "--set", "ssh_default=1",
        "--set", "ssh_user=alice", "--set", "ssh_password=wonder", "--set", "ssh_check_host_key=0"};
    std::string screen = run(port, ssh, "$ ", "stty size\\015", "1");
    EXPECT_EQ(sizes_shown(screen), followed) << screen;
    std::string log = slurp(dir / "peer.log");
    EXPECT_NE(log.find("pty vt220 30 100 0 0"), std::string::npos) << log;
    EXPECT_NE(log.find("window 40 120 0 0"), std::string::npos) << log;
    EXPECT_NE(log.find("window 255 300 0 0"), std::string::npos) << log;

    const std::size_t first_run = log.size();  // the peer keeps its log open: the second run's lines follow
    screen = run(port, ssh, "$ ", "stty size\\015", "0");
    EXPECT_EQ(sizes_shown(screen), std::vector<std::string>(3, "24 80")) << screen;
    log = slurp(dir / "peer.log").substr(first_run);
    EXPECT_NE(log.find("pty vt220 24 80 0 0"), std::string::npos) << log;
    EXPECT_EQ(log.find("window "), std::string::npos) << log;
}

// vim and htop redraw at each new size: growing, then shrinking. Each final screen is the grid asked for, with
// the program's last line (vim's ruler, htop's function keys) on its last row and nowhere else.
TEST_F(WindowSizePeers, VimAndHtopRedrawAtEachNewSize) {
    if (::system("command -v vim >/dev/null && command -v htop >/dev/null") != 0)
        GTEST_SKIP() << "vim or htop missing (scripts/deps.sh installs them)";
    const fs::path text = dir / "hello.txt";
    std::ofstream(text) << "hello\n";
    const std::string home = "export HOME=" + dir.string() + "\n";
    const std::vector<std::vector<std::string>> steps{{"30x100"}, {"30x100", "16x60"}};
    for (const bool vim : {true, false}) {
        SCOPED_TRACE(vim ? "vim" : "htop");
        const int port = start_telnetd(
            home + (vim ? "exec vim -u NONE -N -i NONE -n -c 'set ruler' " + text.string() : std::string("exec htop")));
        if (port == -1) GTEST_SKIP() << "telnetd or socat missing (scripts/deps.sh installs them)";
        ASSERT_GT(port, 0) << slurp(dir / "socat.err");
        for (const std::vector<std::string>& sizes : steps) {
            const std::string& last = sizes.back();
            SCOPED_TRACE(last);
            const int rows = std::stoi(last), cols = std::stoi(last.substr(last.find('x') + 1));
            const std::vector<std::string> screen = full_screen(port, sizes, vim ? "hello" : "F1");
            std::string shown;
            for (const std::string& r : screen) shown += r + "\n";
            ASSERT_EQ(int(screen.size()), rows) << shown;
            for (const std::string& r : screen) ASSERT_EQ(int(r.size()), cols) << shown;
            if (vim) {
                // The text, a "~" on every row down to the ruler, which ends eighteen columns from the right edge.
                EXPECT_EQ(screen.front().substr(0, 6), "hello ") << shown;
                for (int r = 1; r < rows - 1; ++r)
                    EXPECT_EQ(screen[size_t(r)], "~" + std::string(size_t(cols - 1), ' ')) << "row " << r + 1;
                EXPECT_EQ(screen.back().find("1,1"), size_t(cols - 18)) << shown;
            } else {
                int keys = 0;
                for (const std::string& r : screen) keys += r.rfind("F1Help", 0) == 0;
                EXPECT_EQ(keys, 1) << shown;
                EXPECT_EQ(screen.back().rfind("F1Help", 0), 0u) << shown;
            }
        }
        peers.clear();
    }
}

}  // namespace
