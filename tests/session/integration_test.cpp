// End-to-end sessions through vtsession against real peers on loopback: telnetd behind socat, a SOCKS 4 proxy
// and a text log-in proxy. Every peer is started here and killed at the end, whatever happens.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "adapters/qsettings_backend.h"
#include "../support/peer_process.h"

namespace fs = std::filesystem;

namespace {

using peer_test::child;
using peer_test::free_port;
using peer_test::port_open;
using peer_test::slurp;

struct run_result {
    int status = -1;
    std::string out, err;
};

struct SessionPeers : ::testing::Test {
    fs::path dir;
    int telnet_port = -1;
    std::unique_ptr<child> telnetd;
    std::vector<std::unique_ptr<child>> proxies;

    static bool tools_present() {
        return fs::exists("/usr/sbin/telnetd") && ::system("command -v socat >/dev/null 2>&1") == 0 &&
               ::system("command -v python3 >/dev/null 2>&1") == 0;
    }

    void SetUp() override {
        if (!tools_present()) GTEST_SKIP() << "socat, telnetd or python3 missing (scripts/deps.sh installs them)";
        char tmpl[] = "/tmp/session_peers_XXXXXX";
        dir = ::mkdtemp(tmpl);
        write_script("peer.sh", "#!/bin/sh\n"
                                "echo \"TERM=$TERM\"\n"
                                "printf 'login: '\nread name\necho \"hello $name\"\n"
                                "printf 'cmd> '\nread cmd\necho \"got $cmd\"\nsleep 0.3\n");
        write_script("lines.sh", "#!/bin/sh\nseq 1 3000\nprintf 'done> '\nsleep 0.5\n");
    }
    void TearDown() override {
        proxies.clear();
        telnetd.reset();
        if (!dir.empty()) fs::remove_all(dir);
    }

    void write_script(const char* name, const std::string& text) {
        const fs::path p = dir / name;
        std::ofstream(p) << text;
        fs::permissions(p, fs::perms::owner_all);
    }

    // telnetd behind socat, running the given script instead of a log-in program.
    void start_telnetd(const char* script) {
        for (int attempt = 0; attempt < 5 && !telnetd; ++attempt) {
            const int port = free_port();
            ASSERT_GT(port, 0);
            auto c = std::make_unique<child>(
                std::vector<std::string>{"socat",
                                         "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork",
                                         "EXEC:/usr/sbin/telnetd -h -E " + (dir / script).string()},
                dir / "socat.out", dir / "socat.err");
            for (int i = 0; i < 100 && !port_open(port); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (port_open(port)) {
                telnet_port = port;
                telnetd = std::move(c);
            }
        }
        ASSERT_TRUE(telnetd) << "socat did not start: " << slurp(dir / "socat.err");
    }

    // A proxy_peer.py instance; returns its port.
    int start_proxy(const std::vector<std::string>& args, const std::string& tag) {
        std::vector<std::string> argv{"python3", std::string(TEST_DATA_DIR) + "/proxy_peer.py"};
        argv.insert(argv.end(), args.begin(), args.end());
        const fs::path out = dir / (tag + ".port");
        proxies.push_back(std::make_unique<child>(argv, out, dir / (tag + ".err")));
        for (int i = 0; i < 250; ++i) {
            const std::string text = slurp(out);
            if (!text.empty() && text.back() == '\n') return std::stoi(text);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    run_result vtsession(std::vector<std::string> args) {
        std::vector<std::string> argv{VTSESSION_BIN, "--host", "127.0.0.1", "--port", std::to_string(telnet_port),
                                      "--timeout",   "10"};
        argv.insert(argv.end(), args.begin(), args.end());
        run_result r;
        {
            child c(argv, dir / "vt.out", dir / "vt.err");
            r.status = c.wait(std::chrono::seconds(30));
        }
        r.out = slurp(dir / "vt.out");
        r.err = slurp(dir / "vt.err");
        return r;
    }
};

TEST_F(SessionPeers, TelnetSessionNegotiatesAndCarriesDataBothWays) {
    start_telnetd("peer.sh");
    run_result r =
        vtsession({"--set", "termtype=vt100", "--expect", "login:", "--send", "guest\\015", "--send", "status\\015"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("TERM=vt100"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("hello guest"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("got status"), std::string::npos) << r.out;
    // No Telnet command bytes leak onto the screen.
    EXPECT_EQ(r.out.find('\xff'), std::string::npos);

    // telnetd offers to echo: with host echo control the local echo goes off, without it stays as set.
    for (const char* host_echo : {"0", "1"}) {
        r = vtsession(
            {"--json", "--set", "local_echo=1", "--set", std::string("host_echo=") + host_echo, "--expect", "login:"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.rfind("{\"rows\":24,\"cols\":80", 0), 0u) << r.out.substr(0, 80);
        EXPECT_NE(r.out.find("TERM=vt220"), std::string::npos);
        EXPECT_NE(r.out.find(host_echo[0] == '1' ? "\"local_echo\":0" : "\"local_echo\":1"), std::string::npos)
            << "host_echo=" << host_echo;
    }
}

TEST_F(SessionPeers, AutoLoginAnswersThePrompt) {
    start_telnetd("peer.sh");
    const run_result r = vtsession({"--set", "auto_search1=login:", "--set", "auto_response1=robot\\015", "--set",
                                    "auto_search2=cmd>", "--set", "auto_response2=uptime\\015", "--expect", "got "});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("hello robot"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("got uptime"), std::string::npos) << r.out;
}

TEST_F(SessionPeers, LongOutputArrivesWhole) {
    start_telnetd("lines.sh");
    const run_result r = vtsession({"--expect", "done>"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("2999"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3000"), std::string::npos) << r.out;
}

TEST_F(SessionPeers, SessionThroughSocks4) {
    start_telnetd("peer.sh");
    const int proxy = start_proxy({"socks4", (dir / "socks.log").string()}, "socks");
    ASSERT_GT(proxy, 0) << slurp(dir / "socks.err");
    const run_result r = vtsession({"--set", "proxy_enable=1", "--set", "proxy_socks_enable=1", "--set",
                                    "proxy_host=127.0.0.1", "--set", "proxy_port=" + std::to_string(proxy), "--set",
                                    "proxy_syntax=alice", "--expect", "login:", "--send", "viaproxy\\015"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir / "socks.log"), "4 1 127.0.0.1 " + std::to_string(telnet_port) + " alice\n");
    EXPECT_NE(r.out.find("hello viaproxy"), std::string::npos) << r.out;
}

TEST_F(SessionPeers, RefusedSocksRequestEndsTheSession) {
    start_telnetd("peer.sh");
    const int proxy = start_proxy({"socks4", (dir / "socks.log").string(), "refuse"}, "socks");
    ASSERT_GT(proxy, 0);
    const run_result r = vtsession({"--set", "proxy_enable=1", "--set", "proxy_host=127.0.0.1", "--set",
                                    "proxy_port=" + std::to_string(proxy), "--expect", "login:"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("connection closed"), std::string::npos) << r.err;
}

TEST_F(SessionPeers, SessionThroughATextProxy) {
    start_telnetd("peer.sh");
    const int proxy = start_proxy({"text", (dir / "text.log").string()}, "text");
    ASSERT_GT(proxy, 0);
    const run_result r = vtsession({"--set", "proxy_enable=1", "--set", "proxy_socks_enable=0", "--set",
                                    "proxy_host=127.0.0.1", "--set", "proxy_port=" + std::to_string(proxy), "--set",
                                    "proxy_syntax=\\015$1 $2\\015\\012", "--expect", "login:", "--send", "t\\015"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir / "text.log"), "\r127.0.0.1 " + std::to_string(telnet_port) + "\r\n");
    EXPECT_NE(r.out.find("hello t"), std::string::npos) << r.out;
}

// What goes over the wire: the option answer as it is, a data byte 255 doubled.
TEST_F(SessionPeers, BytesOnTheWire) {
    telnet_port = start_proxy({"record", (dir / "wire.log").string()}, "record");
    ASSERT_GT(telnet_port, 0) << slurp(dir / "record.err");
    const run_result r = vtsession({"--expect", "send>", "--send", "a\\377b\\015"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir / "wire.log"), "ff fb 18 61 ff ff 62 0d\n");
    EXPECT_NE(r.out.find("ok"), std::string::npos) << r.out;
}

TEST_F(SessionPeers, FailuresExitWithAReason) {
    telnet_port = free_port();  // nothing listens there
    run_result r = vtsession({});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Sorry, cannot create a connection to the selected host."), std::string::npos) << r.err;

    start_telnetd("peer.sh");
    // A Telnet host's negotiation bytes are no SSH identification: said at once, not left to a timeout.
    for (const char* version : {"0", "1"}) {
        r = vtsession({"--set", "ssh=1", "--set", std::string("ssh_type_1_2=") + version, "--expect", "$"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("did not identify itself as an SSH server"), std::string::npos) << r.err;
    }

    r = vtsession({"--set", "termtpye=vt100"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown setting termtpye"), std::string::npos) << r.err;

    r = vtsession({"--expect", "never shown", "--timeout", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("never shown"), std::string::npos) << r.err;
}

TEST_F(SessionPeers, SettingsFileAndConfigurationAreUsed) {
    start_telnetd("peer.sh");
    const fs::path ini = dir / "qtelnet.conf";
    {
        auto store = qsettings_backend::from_file(QString::fromStdString(ini.string()));
        store->write_int(config_section("work"), "color_bg", 0);  // a saved configuration, not a first start
        store->write_text(config_section("work"), "termtype", "vt52");
        store->write_text(config_section("work"), "auto_search1", "login:");
        store->write_text(config_section("work"), "auto_response1", "fromfile\\015");
        store->flush();
    }
    const run_result r = vtsession({"--settings", ini.string(), "--config", "work", "--expect", "hello"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("TERM=vt52"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("hello fromfile"), std::string::npos) << r.out;
}

}  // namespace
