// SSH-2 sessions through vtsession against peers that cannot share the client's mistakes: a private OpenSSH sshd
// with the legacy suite enabled, a paramiko server speaking blowfish-cbc, and peers/ssh2_peer.py, a small server of
// our own with hostile modes. Every peer is started here and stopped at the end; every run is bounded in time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "../support/peer_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using peer_test::child;
using peer_test::slurp;

namespace {

const std::string peers_dir = std::string(SOURCE_DIR) + "/tests/ssh/peers/";
constexpr const char* python = "/usr/bin/python3";
constexpr const char* sshd_user = "qtpeer";
constexpr const char* sshd_password = "Peer-pass-42";

struct run_result {
    int status = -1;
    std::chrono::milliseconds took{};
    std::string out, err;
    bool screen_has(const std::string& s) const { return out.find(s) != std::string::npos; }
    bool said(const std::string& s) const { return err.find(s) != std::string::npos; }
};

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct SshPeers : ::testing::Test {
    fs::path dir;
    std::vector<std::unique_ptr<child>> peers;
    std::string algorithms = "0";  // the fixed legacy suite; "1" negotiates (legacy names come last there)
    std::string check_host_key = "0";

    static bool python_modules_present() {
        return ::system("/usr/bin/python3 -c 'import paramiko, cryptography, Cryptodome' >/dev/null 2>&1") == 0;
    }

    void SetUp() override {
        if (!fs::exists(python) || !python_modules_present())
            GTEST_SKIP() << "python3 with paramiko, cryptography and pycryptodome missing (scripts/deps.sh)";
        char tmpl[] = "/tmp/ssh_peers_XXXXXX";
        dir = ::mkdtemp(tmpl);
        static const bool engine = has_ssh_engine();
        if (!engine) GTEST_SKIP() << "this vtsession has no SSH-2 engine yet";
    }

    // A vtsession without the engine says so as soon as it connects; a silent listener is enough to find out.
    bool has_ssh_engine() {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 1) != 0 ||
            ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            ::close(s);
            return true;
        }
        const run_result r = vtsession(ntohs(a.sin_port), "x", "y", "1", {}, 1);
        ::close(s);
        return !r.said("Secure Shell is not available");
    }
    void TearDown() override {
        peers.clear();
        if (!dir.empty()) fs::remove_all(dir);
    }

    // Starts a peer that prints "PORT <n>"; the fixture peer stops when its standard input closes.
    int start_peer(const std::string& script, std::vector<std::string> args, const std::string& tag) {
        std::vector<std::string> argv{python, peers_dir + script};
        argv.insert(argv.end(), args.begin(), args.end());
        fs::remove(dir / (tag + ".out"));  // an earlier peer's port line must not be read before the new one's
        peers.push_back(std::make_unique<child>(argv, dir / (tag + ".out"), dir / (tag + ".err"), true));
        return peer_test::wait_port_line(dir / (tag + ".out"), 20s);
    }

    // key "dsa" with the legacy suite added; any other key type: the stock configuration.
    int start_sshd(std::vector<std::string> options = {}, const std::string& key = "dsa") {
        if (!fs::exists("/usr/sbin/sshd")) return -1;
        std::vector<std::string> args{"--key",       key,         "--user", sshd_user,    "--password",
                                      sshd_password, "--timeout", "90",     "--keep-log", (dir / "sshd.log").string()};
        if (key == "dsa") args.push_back("--legacy");
        for (auto& o : options) args.insert(args.end(), {"--option", o});
        return start_peer("sshd_fixture.py", args, "sshd");
    }

    int start_ssh2_peer(const std::string& mode, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--mode",    mode, "--user", "alice:wonder", "--log", (dir / "peer.log").string(),
                                      "--timeout", "30"};
        args.insert(args.end(), extra.begin(), extra.end());
        return start_peer("ssh2_peer.py", args, "peer");
    }

    // vtsession signing on to 127.0.0.1:port as `user` with the fixture's algorithm and host-key choices.
    std::vector<std::string> vt_argv(int port, const std::string& user, const std::string& password,
                                     const std::string& enc, int timeout_s) const {
        return {VTSESSION_BIN,
                "--host",
                "127.0.0.1",
                "--port",
                std::to_string(port),
                "--timeout",
                std::to_string(timeout_s),
                "--set",
                "ssh=1",
                "--set",
                "ssh_type_1_2=1",
                "--set",
                "ssh_encryption=" + enc,
                "--set",
                "ssh_default=1",
                "--set",
                "ssh_user=" + user,
                "--set",
                "ssh_password=" + password,
                "--set",
                "ssh_algorithms=" + algorithms,
                "--set",
                "ssh_check_host_key=" + check_host_key};
    }
    run_result vtsession(int port, const std::string& user, const std::string& password, const std::string& enc,
                         std::vector<std::string> args, int timeout_s = 10) {
        std::vector<std::string> argv = vt_argv(port, user, password, enc, timeout_s);
        argv.insert(argv.end(), args.begin(), args.end());
        run_result r;
        const auto start = std::chrono::steady_clock::now();
        {
            child c(argv, dir / "vt.out", dir / "vt.err");
            r.status = c.wait(std::chrono::seconds(timeout_s + 10));
        }
        r.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        r.out = slurp(dir / "vt.out");
        r.err = slurp(dir / "vt.err");
        return r;
    }
    run_result to_sshd(int port, std::vector<std::string> args, const std::string& password = sshd_password,
                       int timeout_s = 10) {
        return vtsession(port, sshd_user, password, "1", std::move(args), timeout_s);
    }
    run_result to_peer(int port, std::vector<std::string> args, const std::string& enc = "1") {
        return vtsession(port, "alice", "wonder", enc, std::move(args));
    }
    std::string peer_log() const { return slurp(dir / "peer.log"); }
};

// The peers themselves, against clients that share no code with them or with us: OpenSSH's ssh for the fixture
// and for our server with 3des-cbc and its re-keys, paramiko's client (cryptography's Blowfish) for its
// blowfish-cbc, and the server's own known-answer check of both ciphers.
TEST_F(SshPeers, PeersAgreeWithIndependentClients) {
    if (::system("command -v sshpass >/dev/null 2>&1") != 0) GTEST_SKIP() << "sshpass missing (scripts/deps.sh)";
    const auto run = [&](std::vector<std::string> argv, const std::string& typed) {
        child c(argv, dir / "client.out", dir / "client.err", true);
        c.write_stdin(typed);
        c.close_stdin();  // the end of input ends a shell without a terminal
        const int status = c.wait(20s);
        return std::pair{status, slurp(dir / "client.out") + slurp(dir / "client.err")};
    };
    const std::vector<std::string> legacy{"-oKexAlgorithms=diffie-hellman-group1-sha1",
                                          "-oHostKeyAlgorithms=ssh-dss",
                                          "-oCiphers=3des-cbc",
                                          "-oMACs=hmac-sha1",
                                          "-oStrictHostKeyChecking=no",
                                          "-oUserKnownHostsFile=/dev/null",
                                          "-oLogLevel=ERROR"};
    const auto ssh = [&](int port, const std::string& password, const std::string& target, bool tty) {
        std::vector<std::string> argv{"sshpass", "-p", password, "ssh", "-p", std::to_string(port)};
        argv.insert(argv.end(), legacy.begin(), legacy.end());
        if (tty) argv.push_back("-tt");
        argv.push_back(target);
        return argv;
    };

    EXPECT_EQ(run({python, peers_dir + "ssh2_peer.py", "--self-test"}, "").first, 0);

    const int sshd = start_sshd();
    ASSERT_GT(sshd, 0) << slurp(dir / "sshd.err");
    auto [status, text] =
        run(ssh(sshd, sshd_password, std::string(sshd_user) + "@127.0.0.1", false), "echo $((6*7))\n");
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find("42"), std::string::npos) << text;

    const int port = start_ssh2_peer("normal", {"--rekey-bytes", "30000"});
    ASSERT_GT(port, 0) << slurp(dir / "peer.err");
    std::tie(status, text) = run(ssh(port, "wonder", "alice@127.0.0.1", true), "send 100000\rexit\r");
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find("sent 100000 bytes sha1 "), std::string::npos) << text.substr(0, 300);
    EXPECT_GE(count_of(peer_log(), "newkeys 3des-cbc rekey"), 3u) << peer_log();

    std::tie(status, text) = run({python, peers_dir + "paramiko_blowfish.py", "--client", std::to_string(port),
                                  "--user", "alice:wonder", "--type", "send 100000\\rexit\\r", "--timeout", "15"},
                                 "");
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find("sent 100000 bytes sha1 "), std::string::npos) << text.substr(0, 300);
    EXPECT_GE(count_of(peer_log(), "newkeys blowfish-cbc rekey"), 3u) << peer_log();
}

TEST_F(SshPeers, OpenSshLogInWithTripleDesGivesVt220And24x80) {
    const int port = start_sshd();
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    // ssh_encryption 0 means 3des-cbc as well; the typed command line itself shows neither result.
    for (const char* enc : {"1", "0"}) {
        const run_result r = vtsession(port, sshd_user, sshd_password, enc,
                                       {"--expect", "$ ", "--send", "echo T=$TERM; stty size; echo D$((6*7))\\015"});
        ASSERT_EQ(r.status, 0) << r.err << r.out;
        EXPECT_TRUE(r.screen_has("T=vt220")) << r.out;
        EXPECT_TRUE(r.screen_has("\n24 80")) << r.out;
        EXPECT_TRUE(r.screen_has("D42")) << r.out;
        EXPECT_FALSE(r.said("not valid")) << r.err;
    }
}

TEST_F(SshPeers, OpenSshWrongPasswordIsReported) {
    const int port = start_sshd();
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    const run_result r = to_sshd(port, {}, "not-the-password");
    EXPECT_TRUE(r.said("vtsession: User name and/or password is not valid.")) << r.err;
    EXPECT_FALSE(r.screen_has("$ ")) << r.out;
    EXPECT_LT(r.took, 10s) << "the session did not end after the refused log-in";
}

// 10 MB from the host across the server's re-keys: the remote side asks for the cursor position after every
// 64 KB block and counts the answers that only a terminal which saw every byte can give.
TEST_F(SshPeers, TenMegabytesArriveWholeAcrossServerRekeys) {
    const int port = start_sshd({"RekeyLimit 1M"});
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    const std::string bulk = "/usr/bin/python3 " + peers_dir + "cpr_bulk.py 161\\015";
    const run_result r = to_sshd(port, {"--expect", "$ ", "--send", bulk}, sshd_password, 45);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.screen_has("bulk 10548720 bytes blocks 161 cursor-ok 161")) << r.out;
    EXPECT_TRUE(r.screen_has("00167439.....")) << r.out;  // the last line
    peers.clear();                                        // the fixture leaves sshd's log behind when it stops
    const std::string log = slurp(dir / "sshd.log");
    const std::size_t exchanges = count_of(log, "SSH2_MSG_NEWKEYS received\n") - count_of(log, "received [preauth]");
    EXPECT_GE(exchanges, 5u) << "sshd did not re-key during the transfer";
}

// The shell's end closes the channel, which ends the session without a message box (the host's CHANNEL_CLOSE is
// no lost connection): nothing the server sends after it reaches the screen, and the client closes the connection.
TEST_F(SshPeers, ShellExitEndsTheSession) {
    const int port = start_sshd();
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    run_result r = to_sshd(port, {"--expect", "$ ", "--send", "exit\\015"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.screen_has("$ exit")) << r.out;
    EXPECT_EQ(r.err, "");

    const int peer = start_ssh2_peer("normal");
    ASSERT_GT(peer, 0) << slurp(dir / "peer.err");
    r = to_peer(peer, {"--expect", "peer$ ", "--send", "exit\\015"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(r.screen_has("data after close")) << r.out;
    EXPECT_NE(peer_log().find("sent exit-status and close\nclient closed the connection"), std::string::npos)
        << peer_log();
}

TEST_F(SshPeers, BlowfishAgainstParamiko) {
    const int port = start_peer("paramiko_blowfish.py",
                                {"--user", "bob:fish", "--log", (dir / "bf.log").string(), "--timeout", "30"}, "bf");
    ASSERT_GT(port, 0) << slurp(dir / "bf.err");
    const run_result r = vtsession(port, "bob", "fish", "2", {"--expect", "bf$ ", "--send", "echo over blowfish\\015"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "over blowfish"), 2u) << r.out;  // typed, then printed
    const std::string log = slurp(dir / "bf.log");
    EXPECT_NE(log.find("cipher blowfish-cbc/blowfish-cbc mac hmac-sha1"), std::string::npos) << log;
    EXPECT_NE(log.find("pty-req term=vt220 cols=80 rows=24"), std::string::npos) << log;
}

// Our own server, well-behaved, with both ciphers: the channel the client opens, its window top-ups, standard
// error shown like output, data across re-keys started by the server every 40000 bytes.
TEST_F(SshPeers, ScriptedServerSessionWithBothCiphers) {
    for (const char* enc : {"1", "2"}) {
        SCOPED_TRACE(std::string("ssh_encryption=") + enc);
        fs::remove(dir / "peer.log");
        peers.clear();
        const int port = start_ssh2_peer("normal", {"--rekey-bytes", "40000"});
        ASSERT_GT(port, 0) << slurp(dir / "peer.err");
        const run_result r =
            to_peer(port, {"--expect", "peer$ ", "--send", "send 300000\\015", "--send", "stderr\\015"}, enc);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.screen_has("this line went to stderr")) << r.out;
        EXPECT_TRUE(r.screen_has("sent 300000 bytes sha1 ")) << r.out;
        const std::string log = peer_log();
        EXPECT_NE(log.find(std::string("newkeys ") + (enc[0] == '2' ? "blowfish-cbc" : "3des-cbc")), std::string::npos);
        EXPECT_NE(log.find("channel open session channel=27 window=8000 max=16384"), std::string::npos) << log;
        EXPECT_NE(log.find("term=vt220 cols=80 rows=24 px=0x0 modes=0"), std::string::npos) << log;
        EXPECT_GE(count_of(log, "newkeys 3des-cbc rekey") + count_of(log, "newkeys blowfish-cbc rekey"), 5u) << log;
        EXPECT_EQ(count_of(log, "service request"), 1u) << "a re-exchange asked for the service again";
        // Top-ups: each brings the window back to 8000 from below 4000.
        const std::regex adjust("window adjust (\\d+)");
        int adjusts = 0;
        for (auto it = std::sregex_iterator(log.begin(), log.end(), adjust); it != std::sregex_iterator(); ++it) {
            const int n = std::stoi((*it)[1]);
            EXPECT_GT(n, 4000);
            EXPECT_LE(n, 8000);
            ++adjusts;
        }
        EXPECT_GE(adjusts, 300000 / 8000);
    }
}

struct hostile_case {
    const char* mode;
    const char* expect;   // screen text to wait for, then "echo alive" is typed (surviving modes)
    const char* message;  // a message-box text that must be shown, or nullptr
    bool survives;
    bool negotiated = false;  // the client in negotiated mode instead of the fixed suite
};

// Each hostile server ends the session with the right message, or is survived, and never hangs the client.
TEST_F(SshPeers, HostileServers) {
    const hostile_case cases[] = {
        {"bad-mac", nullptr, "MAC", false},
        {"bad-sig", nullptr, "host key", false},
        {"oversize", nullptr, "Illegal SSH message. Out of memory", false},
        {"oversize-huge", nullptr, "vtsession: ", false},
        {"truncated-kexdh-reply", nullptr, "vtsession: ", false},
        {"channel-open-failure", nullptr, "UNIX host rejects a new session", false},
        {"passwd-changereq", nullptr, "Your password has expired. Contact the System administrator.", false},
        {"data-past-window", "window restored", nullptr, true},
        {"keepalive", "keepalive answered", nullptr, true},
        {"bare-lf", "peer$ ", nullptr, true},
        {"pre-banner", "peer$ ", nullptr, true},
        {"client-first", "peer$ ", nullptr, true, true},
        {"disconnect", nullptr,
         "The host closed the session: Too many authentication failures (reason 2, protocol error).", false},
        {"pty-refused", "peer$ ", "The host refused a terminal for this session (pty-req); the shell runs without one.",
         false},
        {"unknown-message", "both answered", nullptr, true, true},
    };
    for (const hostile_case& c : cases) {
        SCOPED_TRACE(c.mode);
        fs::remove(dir / "peer.log");
        peers.clear();
        const int port = start_ssh2_peer(c.mode);
        ASSERT_GT(port, 0) << slurp(dir / "peer.err");
        std::vector<std::string> args;
        if (c.expect) args = {"--expect", c.expect, "--send", "echo alive\\015"};
        if (c.negotiated) args.insert(args.end(), {"--set", "ssh_algorithms=1"});
        const run_result r = to_peer(port, args);
        EXPECT_LT(r.status, 128) << "crashed";
        EXPECT_LT(r.took, 9s) << "ran into the timeout";
        if (c.message) {
            const auto at = r.err.find(c.message);
            EXPECT_NE(at, std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("timed out"), std::string::npos) << r.err;
        }
        if (c.survives) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(r.screen_has("\nalive")) << r.out;
            EXPECT_EQ(r.err.find("vtsession: "), std::string::npos) << r.err;
        }
        // A refused key exchange must not be followed by anything from the client.
        EXPECT_EQ(peer_log().find("client went on"), std::string::npos) << peer_log();
    }
}

// The fixed suite against hosts that lack one of its names: our KEXINIT goes as always, then the session ends at
// once with the list the host lacks and both offers, and the host sees nothing more from us.
TEST_F(SshPeers, FixedSuiteNamesTheListTheHostLacks) {
    struct row {
        const char* what;
        const char* peer_mode;             // our peer in a limited mode; nullptr: sshd
        std::vector<std::string> options;  // sshd's own
        const char* key;                   // sshd's host key ("dsa" adds the legacy suite)
        const char* enc;
        const char* slot;
        const char* ours;
        const char* theirs;  // what the host's list holds
    };
    const row rows[] = {
        {"peer: aes128-ctr only", "aes-only", {}, "", "1", "cipher (to the host)", "3des-cbc", "aes128-ctr"},
        {"peer: modern only",
         "modern-only",
         {},
         "",
         "1",
         "key exchange method",
         "diffie-hellman-group1-sha1",
         "curve25519-sha256"},
        {"stock sshd",
         nullptr,
         {},
         "ed25519",
         "1",
         "key exchange method",
         "diffie-hellman-group1-sha1",
         "curve25519-sha256"},
        {"sshd without blowfish", nullptr, {}, "dsa", "2", "cipher (to the host)", "blowfish-cbc", "3des-cbc"},
        {"sshd with SHA-2 MACs only",
         nullptr,
         {"MACs hmac-sha2-256,hmac-sha2-512"},
         "dsa",
         "1",
         "MAC (to the host)",
         "hmac-sha1",
         "hmac-sha2-256"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        peers.clear();
        fs::remove(dir / "peer.log");
        const int port = r.peer_mode ? start_ssh2_peer(r.peer_mode) : start_sshd(r.options, r.key);
        if (port == -1) GTEST_SKIP() << "no /usr/sbin/sshd";
        ASSERT_GT(port, 0) << slurp(dir / "peer.err") << slurp(dir / "sshd.err");
        const run_result r2 = r.peer_mode ? to_peer(port, {"--expect", "$ "}, r.enc)
                                          : vtsession(port, sshd_user, sshd_password, r.enc, {"--expect", "$ "});
        EXPECT_LT(r2.status, 128) << "crashed";
        EXPECT_LT(r2.took, 9s) << "ran into the timeout";
        EXPECT_TRUE(r2.said("SSH: the host and this program have no " + std::string(r.slot) + " in common.")) << r2.err;
        EXPECT_TRUE(r2.said("This program offers: " + std::string(r.ours) + "\n")) << r2.err;
        const auto at = r2.err.find("The host offers: ");
        ASSERT_NE(at, std::string::npos) << r2.err;
        const std::string host_list = r2.err.substr(at + 17, r2.err.find('\n', at) - at - 17);
        EXPECT_NE(("," + host_list + ",").find("," + std::string(r.theirs) + ","), std::string::npos) << host_list;
        if (r.peer_mode) {
            // Our KEXINIT arrived as the fixed suite writes it, and nothing came after it.
            const std::string log = peer_log();
            EXPECT_NE(log.find(std::string("kexinit kex=diffie-hellman-group1-sha1 hostkey=ssh-dss enc=") +
                               (r.enc[0] == '2' ? "blowfish-cbc" : "3des-cbc") + " mac=hmac-sha1 comp=none follows=0"),
                      std::string::npos)
                << log;
            EXPECT_EQ(log.find("client went on"), std::string::npos) << log;
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Negotiated mode against a stock sshd: only the port, the host key and the test account are set, plus the one
// algorithm a row forces with the server's own options.

struct SshModern : SshPeers {
    fs::path home;
    void SetUp() override {
        SshPeers::SetUp();
        if (IsSkipped()) return;
        algorithms = "1";
        // known_hosts and the debug log go to this test's own folders, never the runner's.
        home = dir / "home";
        fs::create_directories(home);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    }
    std::string debug_log() const { return slurp(dir / "state" / "qtelnet" / "vtlog"); }
};

TEST_F(SshModern, EachAlgorithmForcedByTheServer) {
    struct row {
        const char* key;
        std::vector<std::string> options;
        std::vector<const char*> in_log;  // names the kex line must show
    };
    const row rows[] = {
        {"ed25519",
         {"KexAlgorithms curve25519-sha256", "Ciphers chacha20-poly1305@openssh.com"},
         {"curve25519-sha256,", "ssh-ed25519", "chacha20-poly1305@openssh.com", "strict key exchange"}},
        {"ed25519",
         {"KexAlgorithms curve25519-sha256@libssh.org", "Ciphers aes256-gcm@openssh.com"},
         {"curve25519-sha256@libssh.org", "aes256-gcm@openssh.com"}},
        {"ecdsa",
         {"KexAlgorithms ecdh-sha2-nistp256", "Ciphers aes128-gcm@openssh.com"},
         {"ecdh-sha2-nistp256", "ecdsa-sha2-nistp256", "aes128-gcm@openssh.com"}},
        {"rsa",
         {"KexAlgorithms ecdh-sha2-nistp384", "HostKeyAlgorithms rsa-sha2-512", "Ciphers aes256-ctr",
          "MACs hmac-sha2-256-etm@openssh.com"},
         {"ecdh-sha2-nistp384", "rsa-sha2-512", "aes256-ctr", "hmac-sha2-256-etm@openssh.com"}},
        {"rsa",
         {"KexAlgorithms ecdh-sha2-nistp521", "HostKeyAlgorithms rsa-sha2-256", "Ciphers aes192-ctr",
          "MACs hmac-sha2-512-etm@openssh.com"},
         {"ecdh-sha2-nistp521", "rsa-sha2-256", "aes192-ctr", "hmac-sha2-512-etm@openssh.com"}},
        {"rsa",
         {"KexAlgorithms diffie-hellman-group16-sha512", "HostKeyAlgorithms ssh-rsa", "Ciphers aes128-ctr",
          "MACs hmac-sha2-256"},
         {"diffie-hellman-group16-sha512", "host key ssh-rsa", "aes128-ctr", "MACs hmac-sha2-256 "}},
        {"ed25519",
         {"KexAlgorithms diffie-hellman-group14-sha256", "Ciphers aes128-ctr", "MACs hmac-sha2-512"},
         {"diffie-hellman-group14-sha256", "MACs hmac-sha2-512 "}},
        {"ed25519",
         {"KexAlgorithms diffie-hellman-group14-sha1", "Ciphers aes256-ctr", "MACs hmac-sha1-etm@openssh.com"},
         {"diffie-hellman-group14-sha1", "hmac-sha1-etm@openssh.com"}},
        {"ed25519", {"Ciphers aes128-ctr", "MACs hmac-sha1"}, {"MACs hmac-sha1 "}},
    };
    for (const row& r : rows) {
        std::string name = r.key;
        for (const auto& o : r.options) name += " / " + o;
        SCOPED_TRACE(name);
        peers.clear();
        fs::remove_all(dir / "state");
        const int port = start_sshd(r.options, r.key);
        ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
        const run_result res = to_sshd(port, {"--log", "--expect", "$ ", "--send", "echo got$((40+2))\\015"});
        EXPECT_EQ(res.status, 0) << res.err;
        EXPECT_TRUE(res.screen_has("\ngot42")) << res.out << res.err;
        const std::string log = debug_log();
        for (const char* want : r.in_log)
            EXPECT_NE(log.find(want), std::string::npos) << want << "\n" << log.substr(0, 400);
    }
}

// 64 MB through the terminal under chacha20-poly1305 with the server re-keying every megabyte: every byte arrives,
// in order, and the strict key exchange held across all the exchanges.
TEST_F(SshModern, BulkTransferArrivesWholeAcrossRekeys) {
    const fs::path data = dir / "data.txt";
    {
        std::string chunk;
        for (int i = 0; i < 1000; ++i)
            chunk += "line " + std::to_string(i) + " of some printable text for the bulk test\n";
        std::FILE* f = std::fopen(data.c_str(), "wb");
        ASSERT_TRUE(f);
        for (std::size_t written = 0; written < 64u * 1000 * 1000; written += chunk.size())
            std::fwrite(chunk.data(), 1, chunk.size(), f);
        std::fclose(f);
    }
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
    const int port = start_sshd({"RekeyLimit 1M"}, "ed25519");
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    const fs::path cap = dir / "capture.bin";
    const run_result r = to_sshd(port,
                                 {"--log", "--capture", cap.string(), "--expect", "$ ", "--send",
                                  "printf '%s\\134n' BE''GIN; cat " + data.string() + "; printf '%s\\134n' E''ND\\015"},
                                 sshd_password, 120);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string got = slurp(cap);
    const auto begin = got.find("\r\nBEGIN\r\n");
    const auto end = got.find("END\r\n", begin == std::string::npos ? 0 : begin);
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos) << "the end marker never came: " << got.size() << " bytes";
    std::string want;
    {
        const std::string raw = slurp(data);
        want.reserve(raw.size() + raw.size() / 40);
        for (char c : raw) {
            if (c == '\n') want += '\r';
            want += c;
        }
    }
    const std::string body = got.substr(begin + 9, end - begin - 9);
    EXPECT_EQ(body.size(), want.size());
    EXPECT_TRUE(body == want) << "the bytes differ";
    const std::string log = debug_log();
    EXPECT_GE(count_of(log, "kex: "), 10u) << "re-exchanges";
    EXPECT_EQ(count_of(log, "strict key exchange"), count_of(log, "kex: "));
}

TEST_F(SshModern, ColumnSwitchReachesTheHost) {
    const int port = start_sshd({}, "ed25519");
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    // Started at 132 columns, then the host itself switches to 80 (DECCOLM); stty reports what the pty was told.
    const run_result wide = to_sshd(port, {"--set", "term_size=132", "--expect", "$ ", "--send", "stty size\\015"});
    EXPECT_TRUE(wide.screen_has("\n24 132")) << wide.out;
    const run_result sw = to_sshd(port, {"--set", "term_size=132", "--expect", "$ ", "--send",
                                         "printf '\\134033[?3l'; sleep 0.3; stty size\\015"});
    EXPECT_TRUE(sw.screen_has("24 80")) << sw.out;
}

// An SFTP server that answers with a malformed reply and more replies behind it: the SFTP channel fails and closes,
// the replies already on their way are dropped, and the shell on the same connection goes on.
TEST_F(SshModern, AHostileSftpServerEndsOnlyItsOwnChannel) {
    // The subsystem runs as the test account, which cannot enter this test's private folder.
    char tmpl[] = "/tmp/qtelnet-hostile-sftp-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path shared = tmpl;
    fs::permissions(shared, fs::perms::all);
    const std::string marker = (shared / "sent").string();
    const int port = start_sshd(
        {std::string("Subsystem sftp ") + python + " " + peers_dir + "hostile_sftp.py " + marker}, "ed25519");
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    // The shell speaks only once the SFTP server has sent everything.
    const run_result r =
        to_sshd(port,
                {"--get", "remote.txt", (dir / "local.txt").string(), "--hold", "--expect", "$ ", "--send",
                 "while [ ! -e " + marker + " ]; do sleep 0.1; done; sleep 0.5; echo alive-$((6*7)); exit\\015"},
                sshd_password, 20);
    fs::remove_all(shared);
    EXPECT_EQ(r.status, 1) << "the transfer failed" << r.err;
    EXPECT_TRUE(r.said("vtsession: get remote.txt failed: ") || r.said("vtsession: SFTP: ")) << r.err;
    EXPECT_FALSE(r.said("which is not open")) << r.err;
    EXPECT_TRUE(r.screen_has("alive-42")) << r.out << r.err;
}

// sshd with PermitTTY no refuses the pty: the user is told, and the shell runs without one (typed lines still reach
// it; a bare LF ends the line, as no terminal turns CR into one).
TEST_F(SshModern, ARefusedPtyIsToldAndTheShellGoesOnWithoutOne) {
    const int port =
        start_sshd({"PermitTTY no", "ForceCommand echo ready; read line; echo got-$line; tty || true"}, "ed25519");
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    const run_result r = to_sshd(port, {"--expect", "ready", "--send", "hello\\012", "--hold"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.said("The host refused a terminal for this session (pty-req); the shell runs without one.")) << r.err;
    EXPECT_TRUE(r.screen_has("got-hello")) << r.out;
    EXPECT_TRUE(r.screen_has("not a tty")) << r.out;
}

TEST_F(SshModern, KnownHosts) {
    check_host_key = "1";
    const int port = start_sshd({}, "ed25519");
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    const std::vector<std::string> work = {"--expect", "$ ", "--send", "echo in$((1+1))\\015"};
    const fs::path kh = home / ".ssh" / "known_hosts";

    const run_result refused = to_sshd(port, work);
    EXPECT_FALSE(refused.screen_has("in2")) << "an unknown key without the switch";
    EXPECT_TRUE(refused.said("SHA256:")) << refused.err;
    EXPECT_FALSE(fs::exists(kh));

    std::vector<std::string> accept = work;
    accept.push_back("--accept-new-host-key");
    EXPECT_TRUE(to_sshd(port, accept).screen_has("in2"));
    ASSERT_TRUE(fs::exists(kh));
    EXPECT_EQ(fs::status(kh).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    const run_result again = to_sshd(port, work);
    EXPECT_TRUE(again.screen_has("in2")) << "remembered: no question " << again.err;

    // The host's own keys as ssh-keyscan prints them, then hashed by ssh-keygen -H: both trusted as they are.
    const std::string scan = "ssh-keyscan -p " + std::to_string(port) + " 127.0.0.1 2>/dev/null > " + kh.string();
    ASSERT_EQ(::system(scan.c_str()), 0);
    EXPECT_TRUE(to_sshd(port, work).screen_has("in2")) << slurp(kh);
    ASSERT_EQ(::system(("ssh-keygen -q -H -f " + kh.string() + " >/dev/null 2>&1").c_str()), 0);
    ASSERT_EQ(slurp(kh).rfind("|1|", 0), 0u) << slurp(kh);
    EXPECT_TRUE(to_sshd(port, work).screen_has("in2"));

    // Another key for the same host on line 2: refused, naming the file and the line.
    std::string other = "[127.0.0.1]:" + std::to_string(port) +
                        " ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIBz1B6ZQ8a4P8kqYh1v0Zf3qzV0i9VvGqT7sC2bRkQ0x\n";
    {
        std::FILE* f = std::fopen(kh.c_str(), "w");
        ASSERT_TRUE(f);
        std::fputs("# comment\n", f);
        std::fputs(other.c_str(), f);
        std::fclose(f);
    }
    const run_result changed = to_sshd(port, work);
    EXPECT_FALSE(changed.screen_has("in2"));
    EXPECT_TRUE(changed.said(kh.string() + " on line 2")) << changed.err;
}

TEST_F(SshModern, NoCommonAlgorithmNamesTheSlotAndBothLists) {
    const int port = start_sshd({"Ciphers aes128-cbc"}, "ed25519");
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    const run_result r = to_sshd(port, {"--expect", "$ "});
    EXPECT_TRUE(r.said("cipher (to the host)")) << r.err;
    EXPECT_TRUE(r.said("The host offers: aes128-cbc")) << r.err;
    EXPECT_TRUE(r.said("chacha20-poly1305@openssh.com,aes256-gcm@openssh.com")) << r.err;
    EXPECT_LT(r.took, 9s);
}

// The legacy peers, reached in negotiated mode: their suite is at the end of our lists.
TEST_F(SshModern, LegacyPeersStillWork) {
    for (const char* enc : {"1", "2"}) {
        peers.clear();
        const int port = start_ssh2_peer("normal");
        ASSERT_GT(port, 0) << slurp(dir / "peer.err");
        const run_result r = to_peer(port, {"--expect", "peer$ ", "--send", "echo legacy ok\\015"}, enc);
        EXPECT_EQ(count_of(r.out, "legacy ok"), 2u) << r.out << r.err;
    }
    peers.clear();
    const int port = start_sshd();
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    EXPECT_TRUE(to_sshd(port, {"--expect", "$ ", "--send", "echo dss$((2*3))\\015"}).screen_has("dss6"));
}

// ---------------------------------------------------------------------------------------------------------------
// Sign-on as people use it: keys from files and from ssh-agent, keyboard-interactive through PAM, banners, two
// methods in a row, a key the host refuses.

struct SshSignOn : SshModern {
    fs::path keys_dir, authorized;
    void SetUp() override {
        SshModern::SetUp();
        if (IsSkipped()) return;
        // sshd reads authorized keys as the test account: a folder and file it may read, modes not checked.
        keys_dir = dir / "keys";
        fs::create_directories(keys_dir);
        authorized = keys_dir / "authorized_keys";
        const auto open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
        fs::permissions(dir, open);
        fs::permissions(keys_dir, open);
        ::unsetenv("SSH_AUTH_SOCK");
        ::unsetenv("VTSESSION_PASSPHRASE");
    }
    // A new key pair (ssh-keygen), its public half authorised.
    fs::path make_key(const std::string& type, const std::string& passphrase = "", bool authorise = true) {
        const fs::path key = keys_dir / ("id_" + type + (passphrase.empty() ? "" : "_pp"));
        const std::string cmd = "ssh-keygen -q -t " + type + " -N '" + passphrase + "' -a 16 -f " + key.string() +
                                " -C test </dev/null >/dev/null 2>&1";
        EXPECT_EQ(::system(cmd.c_str()), 0) << cmd;
        if (authorise) {
            std::FILE* f = std::fopen(authorized.c_str(), "a");
            const std::string pub = slurp(key.string() + ".pub");
            std::fputs(pub.c_str(), f);
            std::fclose(f);
            fs::permissions(authorized, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                            fs::perms::others_read);
        }
        return key;
    }
    int start_keys_sshd(std::vector<std::string> options) {
        options.insert(options.begin(), {"AuthorizedKeysFile " + authorized.string(), "StrictModes no"});
        return start_sshd(options, "ed25519");
    }
    run_result sign_on(int port, std::vector<std::string> extra, const std::string& password = "") {
        std::vector<std::string> args = {"--log", "--expect", "$ ", "--send", "echo signed$((6*7))\\015"};
        args.insert(args.end(), extra.begin(), extra.end());
        return to_sshd(port, args, password);
    }
};

TEST_F(SshSignOn, KeyFilesOfEachTypeWithAndWithoutPassphrase) {
    const std::vector<std::pair<std::string, std::string>> keys = {{"ed25519", ""},
                                                                   {"ecdsa", ""},
                                                                   {"rsa", ""},
                                                                   {"ed25519", "Pass phrase 1"},
                                                                   {"rsa", "rsa pass"}};
    std::vector<fs::path> files;
    for (const auto& [type, pass] : keys) files.push_back(make_key(type, pass));
    const int port = start_keys_sshd({"AuthenticationMethods publickey"});
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    for (std::size_t i = 0; i < keys.size(); ++i) {
        SCOPED_TRACE(files[i].string());
        if (!keys[i].second.empty()) ::setenv("VTSESSION_PASSPHRASE", keys[i].second.c_str(), 1);
        const run_result r = sign_on(port, {"--set", "ssh_key_file=" + files[i].string()});
        ::unsetenv("VTSESSION_PASSPHRASE");
        EXPECT_TRUE(r.screen_has("signed42")) << r.out << r.err;
        if (keys[i].first == "rsa") {
            EXPECT_NE(debug_log().find("offering key rsa-sha2-512"), std::string::npos);
        }
    }
    // A key file others may read is refused, as OpenSSH refuses it.
    fs::permissions(files[0],
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    const run_result open_key = sign_on(port, {"--set", "ssh_key_file=" + files[0].string()});
    EXPECT_FALSE(open_key.screen_has("signed42"));
    EXPECT_TRUE(open_key.said(files[0].string())) << open_key.err;
}

TEST_F(SshSignOn, AgentKeysWithoutAPassword) {
    const fs::path key = make_key("rsa");
    const fs::path sock = dir / "agent.sock";
    child agent({"ssh-agent", "-D", "-a", sock.string()}, dir / "agent.out", dir / "agent.err");
    for (int i = 0; i < 100 && !fs::exists(sock); ++i) std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(fs::exists(sock)) << slurp(dir / "agent.err");
    ::setenv("SSH_AUTH_SOCK", sock.c_str(), 1);
    ASSERT_EQ(::system(("ssh-add -q " + key.string() + " >/dev/null 2>&1").c_str()), 0);
    fs::remove(key);  // only the agent holds it now
    const int port = start_keys_sshd({"AuthenticationMethods publickey"});
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    const run_result r = sign_on(port, {});  // no key files under the test's HOME: the agent alone
    ::unsetenv("SSH_AUTH_SOCK");
    EXPECT_TRUE(r.screen_has("signed42")) << r.out << r.err;
    EXPECT_NE(debug_log().find("offering key rsa-sha2-512 from the agent"), std::string::npos);
}

// Agent forwarding: with ssh_agent_forward the host's ssh-add lists the local agent's key; without it the host
// has no agent.
TEST_F(SshSignOn, ForwardedAgentIsSeenByTheHost) {
    const fs::path key = make_key("ed25519", "", false);
    const fs::path sock = dir / "agent.sock";
    child agent({"ssh-agent", "-D", "-a", sock.string()}, dir / "agent.out", dir / "agent.err");
    for (int i = 0; i < 100 && !fs::exists(sock); ++i) std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(fs::exists(sock)) << slurp(dir / "agent.err");
    ::setenv("SSH_AUTH_SOCK", sock.c_str(), 1);
    ASSERT_EQ(::system(("ssh-add -q " + key.string() + " >/dev/null 2>&1").c_str()), 0);
    const int port = start_keys_sshd({});
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    for (const bool forward : {true, false}) {
        SCOPED_TRACE(forward ? "forwarded" : "not forwarded");
        const run_result r =
            to_sshd(port, {"--set", std::string("ssh_agent_forward=") + (forward ? "1" : "0"), "--expect", "$ ",
                           "--send", "ssh-add -l; echo listed$((6*7))\\015", "--pause", "3000"});
        EXPECT_EQ(r.screen_has("(ED25519)"), forward) << r.out << r.err;
        EXPECT_TRUE(r.screen_has("listed42")) << r.out << r.err;
    }
    ::unsetenv("SSH_AUTH_SOCK");
}

// The agent holds an RSA key the host refuses and then an ed25519 key it takes. The named key file's copy in the
// agent is offered first; with ssh_identities_only only the file is offered and the agent's keys never are.
TEST_F(SshSignOn, TheNamedKeyFirstAndIdentitiesOnly) {
    const fs::path refused = make_key("rsa", "", false);
    const fs::path taken = make_key("ed25519");
    const fs::path sock = dir / "agent.sock";
    child agent({"ssh-agent", "-D", "-a", sock.string()}, dir / "agent.out", dir / "agent.err");
    for (int i = 0; i < 100 && !fs::exists(sock); ++i) std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(fs::exists(sock)) << slurp(dir / "agent.err");
    ::setenv("SSH_AUTH_SOCK", sock.c_str(), 1);
    for (const fs::path& k : {refused, taken})
        ASSERT_EQ(::system(("ssh-add -q " + k.string() + " >/dev/null 2>&1").c_str()), 0);
    const int port = start_keys_sshd({"AuthenticationMethods publickey"});
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    struct row {
        const fs::path& file;
        int identities_only;
        std::vector<std::string> offers;  // the "offering key" lines, in order
        bool signed_on;
    };
    const row rows[] = {
        {taken, 0, {"ssh-ed25519 from the agent"}, true},
        {refused, 0, {"rsa-sha2-512 from the agent", "ssh-ed25519 from the agent"}, true},
        {refused, 1, {"rsa-sha2-512 from " + refused.string()}, false},
        {taken, 1, {"ssh-ed25519 from " + taken.string()}, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.file.string() + " ssh_identities_only=" + std::to_string(r.identities_only));
        fs::remove(dir / "state" / "qtelnet" / "vtlog");
        const run_result res = sign_on(port, {"--set", "ssh_key_file=" + r.file.string(), "--set",
                                              "ssh_identities_only=" + std::to_string(r.identities_only)});
        EXPECT_EQ(res.screen_has("signed42"), r.signed_on) << res.out << res.err;
        std::vector<std::string> offers;
        const std::string log = debug_log();
        const std::regex offer("offering key ([^\r\n]*)");
        for (auto it = std::sregex_iterator(log.begin(), log.end(), offer); it != std::sregex_iterator(); ++it)
            offers.push_back((*it)[1]);
        EXPECT_EQ(offers, r.offers) << log;
    }
    ::unsetenv("SSH_AUTH_SOCK");
}

TEST_F(SshSignOn, KeyboardInteractiveBannerAndMethodsInARow) {
    const fs::path banner = dir / "banner.txt";
    {
        std::FILE* f = std::fopen(banner.c_str(), "w");
        std::fputs("Authorised use only.\nAll sessions are recorded.\n", f);
        std::fclose(f);
    }
    fs::permissions(banner, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    {
        const int port = start_keys_sshd({"KbdInteractiveAuthentication yes", "UsePAM yes", "PasswordAuthentication no",
                                          "Banner " + banner.string()});
        ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
        const run_result r = sign_on(port, {}, sshd_password);
        EXPECT_TRUE(r.screen_has("signed42")) << r.out << r.err;
        EXPECT_TRUE(r.screen_has("Authorised use only.")) << r.out;
        EXPECT_EQ(debug_log().find(sshd_password), std::string::npos) << "the answer is never logged";
    }
    // A key and then the password; and a key the host does not take falls back to the password.
    peers.clear();
    const fs::path key = make_key("ed25519");
    const fs::path stranger = make_key("ecdsa", "", false);
    const int port = start_keys_sshd({"AuthenticationMethods publickey,password"});
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    EXPECT_TRUE(sign_on(port, {"--set", "ssh_key_file=" + key.string()}, sshd_password).screen_has("signed42"));
    EXPECT_FALSE(sign_on(port, {"--set", "ssh_key_file=" + key.string()}, "wrong").screen_has("signed42"));
    peers.clear();
    const int port2 = start_keys_sshd({});
    const run_result r = sign_on(port2, {"--set", "ssh_key_file=" + stranger.string()}, sshd_password);
    EXPECT_TRUE(r.screen_has("signed42")) << r.out << r.err;
}

// ---------------------------------------------------------------------------------------------------------------
// Keep-alive timeout: a stock sshd stopped with SIGSTOP keeps the TCP connection open (the kernel still
// acknowledges) but answers nothing. With a request every second and at most two unanswered, the session must end
// by itself within a few seconds, naming the cause.

namespace {

// The processes under this test program whose command is sshd: the listener and each connection's processes
// (they start sessions of their own, so no process group holds them all).
std::vector<pid_t> sshd_descendants(std::string* cmdlines = nullptr) {
    std::map<pid_t, pid_t> parent;
    std::map<pid_t, std::string> comm;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = slurp(e.path() / "stat");
        const auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        const pid_t pid = std::stoi(name);
        comm[pid] = stat.substr(open + 1, close - open - 1);
        int ppid = 0;
        std::sscanf(stat.c_str() + close + 2, "%*c %d", &ppid);
        parent[pid] = ppid;
    }
    std::vector<pid_t> out;
    for (const auto& [pid, name] : comm) {
        if (name != "sshd") continue;
        for (pid_t p = parent[pid]; p > 1; p = parent[p])
            if (p == ::getpid()) {
                out.push_back(pid);
                if (cmdlines) *cmdlines += slurp("/proc/" + std::to_string(pid) + "/cmdline") + "\n";
                break;
            }
    }
    return out;
}

}  // namespace

TEST_F(SshModern, UnansweredKeepAlivesEndTheSessionWithTheirCause) {
    const int port = start_sshd({}, "ed25519");
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    std::vector<std::string> argv = vt_argv(port, sshd_user, sshd_password, "1", 40);
    argv.insert(argv.end(), {"--set", "ssh_keepalive=1", "--set", "ssh_keepalive_max=2", "--expect", "$ ", "--hold"});
    auto vt = std::make_unique<child>(argv, dir / "vt.out", dir / "vt.err");
    // Signed on with a terminal: sshd names the connection after the user and the pty.
    const auto until = std::chrono::steady_clock::now() + 20s;
    std::string names;
    while (names.find("qtpeer@") == std::string::npos && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(100ms);
        names.clear();
        sshd_descendants(&names);
    }
    ASSERT_NE(names.find("qtpeer@"), std::string::npos) << slurp(dir / "vt.err");
    std::this_thread::sleep_for(1500ms);  // a few keep-alives answered first
    const std::vector<pid_t> stopped = sshd_descendants();
    for (const pid_t p : stopped) ::kill(p, SIGSTOP);
    const auto start = std::chrono::steady_clock::now();
    const int status = vt->wait(20s);
    const auto took = std::chrono::steady_clock::now() - start;
    for (const pid_t p : stopped) ::kill(p, SIGCONT);
    vt.reset();
    std::printf("ended %lld ms after sshd stopped\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    const std::string err = slurp(dir / "vt.err");
    EXPECT_EQ(status, 0) << err;
    EXPECT_NE(err.find("vtsession: Connection to host has been lost\nNo answer from the host after 2 keep-alives."),
              std::string::npos)
        << err;
    // The tick after the second unanswered request: one to three seconds, never the 40 s limit.
    EXPECT_GE(took, 1s);
    EXPECT_LT(took, 8s);
    EXPECT_NE(slurp(dir / "vt.out").find("$ "), std::string::npos) << "the screen is printed as it was";
}

}  // namespace

// Port forwarding against stock OpenSSH: local, SOCKS and remote forwards carry bytes both ways to a loopback
// service, and a port already in use is named while the rest opens.
namespace {

// Answers every read with its bytes: in capitals (`upper`), or as they came.
void answer(int c, bool upper) {
    std::vector<char> buf(1 << 16);
    for (ssize_t n; (n = ::recv(c, buf.data(), buf.size(), 0)) > 0;) {
        if (upper)
            for (ssize_t i = 0; i < n; ++i)
                buf[std::size_t(i)] = char(std::toupper(static_cast<unsigned char>(buf[std::size_t(i)])));
        if (::send(c, buf.data(), std::size_t(n), MSG_NOSIGNAL) != n) break;
    }
    ::close(c);
}

// Connects to 127.0.0.1:port, sends `hello` (a SOCKS request, say) and reads what comes back within 5 s: exactly
// `expect_first` bytes, then sends `data` and reads its answer.
std::string through(int port, const std::string& hello, std::size_t expect_first, const std::string& data,
                    std::string* first = nullptr) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{5, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    std::string out;
    auto read_n = [&](std::size_t n) {
        std::string got;
        char buf[256];
        while (got.size() < n) {
            const ssize_t k = ::recv(s, buf, std::min(sizeof buf, n - got.size()), 0);
            if (k <= 0) break;
            got.append(buf, std::size_t(k));
        }
        return got;
    };
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        if (!hello.empty()) ::send(s, hello.data(), hello.size(), MSG_NOSIGNAL);
        const std::string f = read_n(expect_first);
        if (first) *first = f;
        ::send(s, data.data(), data.size(), MSG_NOSIGNAL);
        out = read_n(data.size());
    }
    ::close(s);
    return out;
}

}  // namespace

TEST_F(SshModern, ForwardsCarryBytesBothWaysAndABusyPortIsNamed) {
    const int port = start_sshd({}, "ed25519");
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    peer_test::loopback_service service([](int c) { answer(c, true); });
    ASSERT_GT(service.port, 0);
    const int local = peer_test::free_port(), socks = peer_test::free_port(), remote = peer_test::free_port();
    const std::string to_service = "127.0.0.1:" + std::to_string(service.port);
    // The shell is used after a pause, while one tunnel is stalled.
    std::vector<std::string> argv = vt_argv(port, sshd_user, sshd_password, "1", 12);
    argv.insert(argv.end(), {"-L", std::to_string(local) + ":" + to_service, "-D", std::to_string(socks), "-R",
                             std::to_string(remote) + ":" + to_service, "-L", std::to_string(port) + ":" + to_service,
                             "--expect", "$ ", "--pause", "4000", "--send", "echo alive$((6*7))\\015", "--hold"});
    auto vt = std::make_unique<child>(argv, dir / "vt.out", dir / "vt.err");
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (!(peer_test::port_open(local) && peer_test::port_open(remote)) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(100ms);

    // A program that sends and never reads the answers: its tunnel stalls (long before 64 MiB), and only its own.
    const int stalled = ::socket(AF_INET, SOCK_STREAM, 0);
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(local));
        timeval tv{0, 200000};
        ::setsockopt(stalled, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        ASSERT_EQ(::connect(stalled, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        const std::string chunk(64 << 10, 's');
        std::size_t sent = 0;
        for (int i = 0; i < 1024 && sent < (64u << 20); ++i) {
            const ssize_t k = ::send(stalled, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (k <= 0) break;
            sent += std::size_t(k);
        }
        EXPECT_LT(sent, 64u << 20) << "the stalled tunnel should have filled up";
    }

    EXPECT_EQ(through(local, "", 0, "local forward"), "LOCAL FORWARD") << slurp(dir / "vt.err");
    // SOCKS 5 by name: the method choice, then the granted answer, then the tunnel.
    std::string socks_request("\x05\x01\x00\x05\x01\x00\x03\x09"
                              "127.0.0.1",
                              17);
    socks_request += char(service.port >> 8);
    socks_request += char(service.port & 0xFF);
    std::string answer;
    EXPECT_EQ(through(socks, socks_request, 12, "by socks", &answer), "BY SOCKS");
    EXPECT_EQ(answer, std::string("\x05\x00\x05\x00\x00\x01\0\0\0\0\0\0", 12));
    // curl through the SOCKS forward, the name resolved by the host, to a web server on loopback.
    if (fs::exists("/usr/bin/curl")) {
        fs::create_directories(dir / "www");
        {
            std::FILE* f = std::fopen((dir / "www" / "page.txt").c_str(), "w");
            std::fputs("served through the tunnel\n", f);
            std::fclose(f);
        }
        const int web = peer_test::free_port();
        child http({python, "-m", "http.server", "--bind", "127.0.0.1", "--directory", (dir / "www").string(),
                    std::to_string(web)},
                   dir / "http.out", dir / "http.err");
        for (int i = 0; i < 100 && !peer_test::port_open(web); ++i) std::this_thread::sleep_for(50ms);
        const std::string page =
            peer_test::run("/usr/bin/curl -s --max-time 10 --socks5-hostname 127.0.0.1:" + std::to_string(socks) +
                           " http://localhost:" + std::to_string(web) + "/page.txt");
        EXPECT_EQ(page, "served through the tunnel\n") << slurp(dir / "http.err");
    }
    // The host listens on `remote` and its connections come back here.
    EXPECT_EQ(through(remote, "", 0, "remote forward"), "REMOTE FORWARD");
    // Many bytes through one tunnel, more than its window, beside the stalled one.
    const std::string big(1 << 20, 'q');
    EXPECT_EQ(through(local, "", 0, big), std::string(1 << 20, 'Q'));
    ::close(stalled);

    // The shell answered after the pause, while the tunnel was stalled.
    const int status = vt->wait(30s);
    vt.reset();
    const std::string err = slurp(dir / "vt.err");
    EXPECT_EQ(status, 0) << err;
    EXPECT_NE(slurp(dir / "vt.out").find("alive42"), std::string::npos) << slurp(dir / "vt.out") << err;
    EXPECT_NE(err.find("vtsession: Tunnel 127.0.0.1:" + std::to_string(port) + " -> " + to_service +
                       ": cannot listen: The bound address is already in use"),
              std::string::npos)
        << err;
}

namespace {

// The bytes of a transfer: a fixed pseudo-random stream, so that the receiving side checks each byte without
// keeping a copy of what was sent.
struct byte_stream {
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    void fill(std::uint8_t* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            p[i] = static_cast<std::uint8_t>(x >> 24);
        }
    }
};

// A growing file's bytes from `from` on.
std::string read_from(const fs::path& p, std::size_t from) {
    std::ifstream f(p, std::ios::binary);
    if (!f) return {};
    f.seekg(std::streamoff(from));
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

}  // namespace

// The interactive channel is not starved by a bulk one: 50 MB go through a local forward to an echo server and come
// back byte-exact while keystrokes typed into the shell at 20 a second are each echoed. The round trips are logged,
// not judged (bench/ssh/forward.py --keystrokes measures them).
TEST_F(SshModern, KeystrokesEchoWhileFiftyMegabytesCrossALocalForward) {
    const int port = start_sshd({}, "ed25519");
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    peer_test::loopback_service service([](int c) { answer(c, false); });
    ASSERT_GT(service.port, 0);
    const int local = peer_test::free_port();
    const fs::path capture = dir / "typed.cap";
    std::vector<std::string> argv = vt_argv(port, sshd_user, sshd_password, "1", 180);
    // The shell hands the terminal to cat, whose tty echoes each key; "ready" (typed split) says it is about to.
    argv.insert(argv.end(), {"-L", std::to_string(local) + ":127.0.0.1:" + std::to_string(service.port), "--capture",
                             capture.string(), "--expect", "$ ", "--send", "echo rea''dy; exec cat >/dev/null\\015",
                             "--type-stdin", "--hold"});
    auto vt = std::make_unique<child>(argv, dir / "vt.out", dir / "vt.err", true);
    const auto ready_by = std::chrono::steady_clock::now() + 30s;
    while (read_from(capture, 0).find("ready\r\n") == std::string::npos && std::chrono::steady_clock::now() < ready_by)
        std::this_thread::sleep_for(50ms);
    ASSERT_NE(read_from(capture, 0).find("ready\r\n"), std::string::npos) << slurp(dir / "vt.err");
    ASSERT_TRUE(peer_test::port_open(local)) << slurp(dir / "vt.err");
    std::this_thread::sleep_for(300ms);  // cat has the terminal

    // Types one key and waits for its echo; the round trip, or nothing when it never came.
    std::size_t seen = fs::file_size(capture);
    auto type_key = [&](char key) -> std::optional<std::chrono::microseconds> {
        const auto t0 = std::chrono::steady_clock::now();
        if (!vt->write_stdin(std::string(1, key))) return std::nullopt;
        while (std::chrono::steady_clock::now() - t0 < 20s) {
            std::error_code ec;
            const std::size_t size = fs::file_size(capture, ec);
            if (!ec && size > seen) {
                const std::string fresh = read_from(capture, seen);
                seen += fresh.size();
                if (fresh.find(key) != std::string::npos)
                    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
            }
            std::this_thread::sleep_for(500us);
        }
        return std::nullopt;
    };
    ASSERT_TRUE(type_key('0')) << "no echo before the transfer: " << slurp(dir / "vt.err");

    constexpr std::size_t total = 50u << 20;
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    {
        timeval tv{30, 0};
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(local));
        ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    std::atomic<bool> done{false};
    std::size_t sent = 0, received = 0, first_wrong = total;
    std::thread writer([&] {
        byte_stream gen;
        std::vector<std::uint8_t> buf(1 << 16);
        while (sent < total) {
            const std::size_t k = std::min(buf.size(), total - sent);
            gen.fill(buf.data(), k);
            if (::send(s, buf.data(), k, MSG_NOSIGNAL) != ssize_t(k)) break;
            sent += k;
        }
    });
    std::thread reader([&] {
        byte_stream gen;
        std::vector<std::uint8_t> buf(1 << 16), want(1 << 16);
        while (received < total) {
            const ssize_t k = ::recv(s, buf.data(), std::min(buf.size(), total - received), 0);
            if (k <= 0) break;
            gen.fill(want.data(), std::size_t(k));
            if (first_wrong == total)
                for (ssize_t i = 0; i < k; ++i)
                    if (buf[std::size_t(i)] != want[std::size_t(i)]) {
                        first_wrong = received + std::size_t(i);
                        break;
                    }
            received += std::size_t(k);
        }
        done = true;
    });

    // 20 keys a second for as long as the bytes flow, each waiting for the one before it.
    std::vector<std::chrono::microseconds> trips;
    int missing = 0;
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; !done && std::chrono::steady_clock::now() - started < 170s; ++i) {
        const auto next = started + i * 50ms;
        std::this_thread::sleep_until(next);
        if (const auto rtt = type_key(char('a' + i % 26)))
            trips.push_back(*rtt);
        else
            ++missing;
    }
    const auto took = std::chrono::steady_clock::now() - started;
    writer.join();
    reader.join();
    ::close(s);

    EXPECT_EQ(sent, total);
    EXPECT_EQ(received, total) << slurp(dir / "vt.err");
    EXPECT_EQ(first_wrong, total) << "first wrong byte at " << first_wrong;
    EXPECT_EQ(missing, 0) << "keystrokes without an echo";
    EXPECT_FALSE(trips.empty()) << "the transfer ended before a key was typed";
    if (!trips.empty()) {
        std::sort(trips.begin(), trips.end());
        std::printf("50 MiB echoed through -L in %.2f s; %zu keystrokes, round trip min %.1f ms, median %.1f ms, max "
                    "%.1f ms\n",
                    std::chrono::duration<double>(took).count(), trips.size(), trips.front().count() / 1000.0,
                    trips[trips.size() / 2].count() / 1000.0, trips.back().count() / 1000.0);
    }

    // The shell is still there: cat gets its end of input, the shell's exit ends the session.
    vt->write_stdin("\r\004");
    const int status = vt->wait(30s);
    EXPECT_EQ(status, 0) << slurp(dir / "vt.err");
}
