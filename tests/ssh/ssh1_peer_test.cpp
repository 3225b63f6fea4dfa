// SSH-1 sessions through vtsession against peers/ssh1_peer.py, a server built on pycryptodome whose ciphers are
// checked against published vectors, so client and peer cannot share a mistake. Each peer is started here and
// stopped at the end; every run is bounded in time.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../support/peer_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using peer_test::child;
using peer_test::slurp;

namespace {

constexpr const char* python = "/usr/bin/python3";
const std::string peer_script = std::string(SOURCE_DIR) + "/tests/ssh/peers/ssh1_peer.py";

struct run_result {
    int status = -1;
    std::string out, err;
    bool screen_has(const std::string& s) const { return out.find(s) != std::string::npos; }
    bool said(const std::string& s) const { return err.find("vtsession: " + s) != std::string::npos; }
};

struct Ssh1Peer : ::testing::Test {
    fs::path dir;
    std::unique_ptr<child> peer;

    void SetUp() override {
        if (::system("/usr/bin/python3 -c 'import Cryptodome' >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "python3-pycryptodome missing (scripts/deps.sh)";
        char tmpl[] = "/tmp/ssh1_peer_XXXXXX";
        dir = ::mkdtemp(tmpl);
    }
    void TearDown() override {
        peer.reset();
        if (!dir.empty()) fs::remove_all(dir);
    }

    int start(std::vector<std::string> args) {
        peer.reset();
        for (const char* f : {"peer.log", "peer.out", "peer.err"}) fs::remove(dir / f);
        std::vector<std::string> argv{python,      peer_script, "--account", "alice:wonder",
                                      "--account", "guest:",    "--log",     (dir / "peer.log").string(),
                                      "--timeout", "60"};
        argv.insert(argv.end(), args.begin(), args.end());
        peer = std::make_unique<child>(argv, dir / "peer.out", dir / "peer.err", true);
        return peer_test::wait_port_line(dir / "peer.out", 20s);
    }

    run_result vtsession(int port, const std::string& enc, std::vector<std::string> args,
                         const std::string& user = "alice") {
        std::vector<std::string> argv{VTSESSION_BIN,        "--host",    "127.0.0.1", "--port",
                                      std::to_string(port), "--timeout", "10"};
        const std::string settings[] = {"ssh=1",
                                        "ssh_type_1_2=0",
                                        "ssh_encryption=" + enc,
                                        "ssh_default=1",
                                        "ssh_user=" + user,
                                        "ssh_password=wonder",
                                        "ssh_check_host_key=0"};
        for (const std::string& setting : settings) argv.insert(argv.end(), {"--set", setting});
        argv.insert(argv.end(), args.begin(), args.end());
        run_result r;
        {
            child c(argv, dir / "vt.out", dir / "vt.err");
            r.status = c.wait(20s);
        }
        r.out = slurp(dir / "vt.out");
        r.err = slurp(dir / "vt.err");
        return r;
    }
    std::string log() const { return slurp(dir / "peer.log"); }
    bool logged(const std::string& s) const { return log().find(s) != std::string::npos; }
};

TEST_F(Ssh1Peer, EachCipherSignsOnAndTalks) {
    const int port = start({});
    ASSERT_GT(port, 0) << slurp(dir / "peer.err");
    const char* numbers[] = {"cipher 2", "cipher 3", "cipher 6"};
    for (int enc : {0, 1, 2}) {
        SCOPED_TRACE(enc);
        const run_result r = vtsession(port, std::to_string(enc),
                                       {"--expect", "$ ", "--send", "hello\\015err on stderr\\015noise\\015"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.screen_has("TERM=vt220 ROWS=24 COLS=80")) << r.out;
        EXPECT_TRUE(r.screen_has("you said: hello")) << r.out;
        EXPECT_TRUE(r.screen_has("\non stderr")) << r.out;
        EXPECT_TRUE(r.screen_has("quiet")) << r.out;  // after IGNORE and DEBUG
        EXPECT_TRUE(logged(numbers[enc])) << log();
        // 30000 bytes in many packets: the last partial pattern line and the end mark arrive in order.
        const run_result bulk = vtsession(port, std::to_string(enc), {"--expect", "$ ", "--send", "bytes 30000\\015"});
        EXPECT_TRUE(bulk.screen_has("\n0123456789abcdefgh \n") || bulk.screen_has("\n0123456789abcdefgh  "))
            << bulk.out;
        EXPECT_TRUE(bulk.screen_has("\nEND ")) << bulk.out;
    }
    EXPECT_TRUE(logged("pty vt220 24 80 0 0 modes 00")) << log();
}

TEST_F(Ssh1Peer, KeySizesEitherWayRoundAndUserWithoutPassword) {
    const int port = start({"--server-bits", "1024", "--host-bits", "768"});
    ASSERT_GT(port, 0) << slurp(dir / "peer.err");
    const run_result r = vtsession(port, "1", {"--expect", "$ ", "--send", "exit 3\\015"}, "guest");
    EXPECT_TRUE(r.screen_has("Welcome to ssh1peer")) << r.err << r.out;
    EXPECT_TRUE(logged("exit confirmed")) << log();
    EXPECT_FALSE(logged("password")) << log();
}

TEST_F(Ssh1Peer, HostileServersGetTheirMessage) {
    struct row {
        std::vector<std::string> peer_args;
        std::string enc, want_said, want_screen;
    } rows[] = {
        {{"--mode", "bad-crc"}, "0", "SSH message with illegal CRC checksum. Session must close!!!", ""},
        {{"--mode", "huge"}, "1", "Illegal SSH message. Out of memory", ""},
        {{"--mode", "wrong-first"}, "0", "SSH protocol violation. Session must close!!!", ""},
        {{"--mode", "disconnect"},
         "2",
         "Disconnect request from SSH Server. Session must be terminated\nThe host said: go away",
         ""},
        {{"--mode", "refuse-password"}, "0", "Login incorrect", ""},
        {{"--mask", "0x0c"},
         "2",
         "Server does not support selected encryption (BLOWFISH). Try another encryption\nServer supports: DES 3-DES ",
         ""},
        {{"--banner", "SSH-2.0-OpenSSH_9.2"}, "0", "The host speaks SSH-2 only.", ""},
        {{"--server-bits", "1024"}, "0", "SSH server keys are unusable", ""},
        {{"--mode", "bad-stdout"}, "1", "", "after the bad one"},
        {{"--mode", "pty-refused"}, "2", "", "$ "},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.peer_args.back());
        const int port = start(r.peer_args);
        ASSERT_GT(port, 0) << slurp(dir / "peer.err");
        const run_result got = vtsession(port, r.enc, {});
        if (!r.want_said.empty()) {
            EXPECT_TRUE(got.said(r.want_said)) << got.err;
        }
        if (!r.want_screen.empty()) {
            EXPECT_TRUE(got.screen_has(r.want_screen)) << got.out;
        }
        EXPECT_FALSE(got.screen_has("HIDDEN")) << got.out;
        EXPECT_NE(got.status, -1) << "vtsession had to be killed";
    }
}

}  // namespace
