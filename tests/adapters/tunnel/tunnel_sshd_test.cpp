// Tunnels through vtsession against a private stock OpenSSH sshd: a program sends 20 MB to a loopback echo service,
// shuts down its sending side, as HTTP/1.0 clients and `nc -N` do, and must still read all 20 MB back, through a
// local, a remote and a SOCKS forward; a service that ends its own sending side first still receives all 20 MB; and
// an idle SOCKS connection is closed once its time for a request is up.
// Every peer is started here and stopped at the end; every run is bounded.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../../support/peer_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using peer_test::child;
using peer_test::slurp;

namespace {

constexpr const char* python = "/usr/bin/python3";
constexpr const char* user = "qtpeer";
constexpr const char* password = "Peer-pass-42";
constexpr std::size_t total = 20u << 20;

// The same pseudo-random bytes on both sides, so the reader checks each byte without a copy of what was sent.
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

// receive_buffer: SO_RCVBUF when not 0, set before connecting so that it bounds what the kernel holds.
int loopback_socket(int port, int receive_buffer = 0) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receive_buffer) ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    timeval tv{30, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// Each connection either echoed until its end of file and then closed (the echo of the last bytes follows the
// program's FIN), or, as a sink, ended at once on its sending side and read to the end, checking every byte.
void echo_back(int c) {
    std::vector<char> buf(1 << 16);
    for (ssize_t n; (n = ::recv(c, buf.data(), buf.size(), 0)) > 0;)
        if (::send(c, buf.data(), std::size_t(n), MSG_NOSIGNAL) != n) break;
    ::close(c);
}

struct sink_service {
    std::atomic<std::size_t> sunk{0}, sunk_wrong{0};
    std::atomic<int> sinks_done{0};  // connections that sent something
    peer_test::loopback_service service{[this](int c) { take_all(c); }};
    const int port = service.port;
    void take_all(int c) {
        ::shutdown(c, SHUT_WR);
        byte_stream gen;
        std::vector<std::uint8_t> buf(1 << 16), want(1 << 16);
        std::size_t got = 0, wrong = 0;
        for (ssize_t n; (n = ::recv(c, buf.data(), buf.size(), 0)) > 0;) {
            gen.fill(want.data(), std::size_t(n));
            for (ssize_t i = 0; i < n; ++i) wrong += buf[std::size_t(i)] != want[std::size_t(i)];
            got += std::size_t(n);
        }
        ::close(c);
        if (got == 0) return;  // a probe of the port
        sunk = got;
        sunk_wrong = wrong;
        ++sinks_done;
    }
};

struct transfer {
    std::size_t sent = 0, received = 0, first_wrong = total;
    bool eof = false;
};

// Sends `hello` and reads `answer_len` bytes (a SOCKS exchange), then 20 MB from one thread, shutdown(SHUT_WR), while
// another reads until the end of file.
// With slow_tail the socket's receive buffer is small and the last 8 MB are read 64 KB at a time, 20 ms apart: the
// tunnel's buffers stay full as the host ends the channel.
transfer half_closing_round_trip(int port, const std::string& hello, std::size_t answer_len, bool slow_tail = false) {
    transfer t;
    const int s = loopback_socket(port, slow_tail ? 1 << 16 : 0);
    if (s < 0) return t;
    if (!hello.empty()) {
        ::send(s, hello.data(), hello.size(), MSG_NOSIGNAL);
        char buf[64];
        std::size_t got = 0;
        for (ssize_t k; got < answer_len && (k = ::recv(s, buf, std::min(sizeof buf, answer_len - got), 0)) > 0;)
            got += std::size_t(k);
        if (got != answer_len) {
            ::close(s);
            return t;
        }
    }
    std::thread writer([&] {
        byte_stream gen;
        std::vector<std::uint8_t> buf(1 << 16);
        while (t.sent < total) {
            const std::size_t k = std::min(buf.size(), total - t.sent);
            gen.fill(buf.data(), k);
            if (::send(s, buf.data(), k, MSG_NOSIGNAL) != ssize_t(k)) break;
            t.sent += k;
        }
        ::shutdown(s, SHUT_WR);
    });
    byte_stream gen;
    std::vector<std::uint8_t> buf(1 << 16), want(1 << 16);
    for (;;) {
        const bool slow = slow_tail && t.received + (8u << 20) >= total;
        if (slow) std::this_thread::sleep_for(20ms);
        const ssize_t k = ::recv(s, buf.data(), slow ? 1 << 16 : buf.size(), 0);
        if (k == 0) t.eof = true;
        if (k <= 0) break;
        gen.fill(want.data(), std::size_t(k));
        for (ssize_t i = 0; t.first_wrong == total && i < k; ++i)
            if (buf[std::size_t(i)] != want[std::size_t(i)]) t.first_wrong = t.received + std::size_t(i);
        t.received += std::size_t(k);
    }
    writer.join();
    ::close(s);
    return t;
}

struct TunnelHalfClose : ::testing::Test {
    fs::path dir;
    std::unique_ptr<child> sshd;

    void SetUp() override {
        if (!fs::exists("/usr/sbin/sshd") || !fs::exists(python)) GTEST_SKIP() << "sshd missing (scripts/deps.sh)";
        char tmpl[] = "/tmp/tunnel_sshd_XXXXXX";
        dir = ::mkdtemp(tmpl);
        fs::create_directories(dir / "home");
        ::setenv("HOME", (dir / "home").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    }
    void TearDown() override {
        sshd.reset();
        if (!dir.empty()) fs::remove_all(dir);
    }
    int start_sshd() {
        sshd = std::make_unique<child>(
            std::vector<std::string>{python, std::string(SOURCE_DIR) + "/tests/ssh/peers/sshd_fixture.py", "--key",
                                     "ed25519", "--user", user, "--password", password, "--timeout", "120"},
            dir / "sshd.out", dir / "sshd.err", true);
        return peer_test::wait_port_line(dir / "sshd.out", 20s);
    }
};

TEST_F(TunnelHalfClose, TwentyMegabytesGetThroughEachKindOfForwardAfterAHalfClose) {
    const int port = start_sshd();
    ASSERT_GT(port, 0) << slurp(dir / "sshd.err");
    peer_test::loopback_service echo(echo_back);
    sink_service sink;
    ASSERT_GT(echo.port, 0);
    ASSERT_GT(sink.port, 0);
    const int local = peer_test::free_port(), remote = peer_test::free_port(), socks = peer_test::free_port();
    const int local_sink = peer_test::free_port(), remote_sink = peer_test::free_port();
    const std::string to_echo = "127.0.0.1:" + std::to_string(echo.port);
    const std::string to_sink = "127.0.0.1:" + std::to_string(sink.port);
    child vt({VTSESSION_BIN,
              "--host",
              "127.0.0.1",
              "--port",
              std::to_string(port),
              "--timeout",
              "150",
              "--set",
              "ssh=1",
              "--set",
              "ssh_type_1_2=1",
              "--set",
              "ssh_encryption=1",
              "--set",
              "ssh_default=1",
              "--set",
              std::string("ssh_user=") + user,
              "--set",
              std::string("ssh_password=") + password,
              "--set",
              "ssh_algorithms=1",
              "--set",
              "ssh_check_host_key=0",
              "-L",
              std::to_string(local) + ":" + to_echo,
              "-R",
              std::to_string(remote) + ":" + to_echo,
              "-D",
              std::to_string(socks),
              "-L",
              std::to_string(local_sink) + ":" + to_sink,
              "-R",
              std::to_string(remote_sink) + ":" + to_sink,
              "--expect",
              "$ ",
              "--hold"},
             dir / "vt.out", dir / "vt.err");
    const auto until = std::chrono::steady_clock::now() + 30s;
    for (const int p : {local, remote, socks, local_sink, remote_sink})
        while (!peer_test::port_open(p) && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(100ms);
    for (const int p : {local, remote, socks, local_sink, remote_sink})
        ASSERT_TRUE(peer_test::port_open(p)) << p << " never opened\n"
                                             << slurp(dir / "vt.err") << slurp(dir / "sshd.err");

    // SOCKS 5 to the echo service's address: no authentication, then CONNECT 127.0.0.1:port.
    std::string socks_hello("\x05\x01\x00\x05\x01\x00\x01\x7f\x00\x00\x01", 11);
    socks_hello += char(echo.port >> 8);
    socks_hello += char(echo.port & 0xFF);
    struct row {
        const char* forward;
        int port;
        bool to_sink;
        std::string hello;
        std::size_t answer_len;
        bool slow_tail = false;
    };
    const row rows[] = {{"local", local, false, "", 0},
                        {"local, read slowly at the end", local, false, "", 0, true},
                        {"remote", remote, false, "", 0},
                        {"SOCKS", socks, false, socks_hello, 12},
                        {"local to a sink", local_sink, true, "", 0},
                        {"remote to a sink", remote_sink, true, "", 0}};
    // A program that connects to the SOCKS port and says nothing is closed once its time is up.
    const int idle = loopback_socket(socks);
    ASSERT_GE(idle, 0);
    int sinks = 0;
    for (const row& r : rows) {
        SCOPED_TRACE(r.forward);
        const transfer t = half_closing_round_trip(r.port, r.hello, r.answer_len, r.slow_tail);
        EXPECT_EQ(t.sent, total);
        EXPECT_TRUE(t.eof) << "the end of file follows the data";
        if (!r.to_sink) {
            EXPECT_EQ(t.received, total) << slurp(dir / "vt.err");
            EXPECT_EQ(t.first_wrong, total) << "the bytes came back changed";
            continue;
        }
        EXPECT_EQ(t.received, 0u);
        ++sinks;
        const auto by = std::chrono::steady_clock::now() + 20s;
        while (sink.sinks_done < sinks && std::chrono::steady_clock::now() < by) std::this_thread::sleep_for(20ms);
        ASSERT_EQ(sink.sinks_done, sinks);
        EXPECT_EQ(sink.sunk, total) << slurp(dir / "vt.err");
        EXPECT_EQ(sink.sunk_wrong, 0u);
    }
    char byte;
    EXPECT_EQ(::recv(idle, &byte, 1, 0), 0) << "the idle SOCKS connection should have been closed";
    ::close(idle);
    EXPECT_NE(slurp(dir / "vt.err").find("(SOCKS): no SOCKS request within"), std::string::npos)
        << slurp(dir / "vt.err");
}

}  // namespace
