// The tunnels' sockets against plain loopback programs whose every shutdown the test controls: each direction ends
// on its own, writes hold a bounded amount and resume, a closed stream still delivers what it took, and connects
// fail with the system's or the resolver's reason, the lookup running beside the event loop and cancellable.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "../qt_socket_support.h"
#include "adapters/qt_tunnel_network.h"

namespace {

using qt_socket_support::app;
using qt_socket_support::spin;

// A stream's events, reading whatever the stream has on each readable.
struct reader : fwd::listener_events, fwd::stream_events {
    std::unique_ptr<fwd::tunnel_stream> stream;
    std::string got;
    bool eof = false;
    int connected = 0, writable = 0;
    std::vector<std::string> closed;
    void accepted(std::unique_ptr<fwd::tunnel_stream> s) override {
        s->set_events(this);
        stream = std::move(s);
        stream_readable();  // bytes may have come with the connection
    }
    void stream_connected() override { ++connected; }
    void stream_readable() override {
        std::uint8_t buf[16384];
        for (long n; stream && !eof && (n = stream->read(buf, sizeof buf)) != 0;) {
            if (n < 0)
                eof = true;
            else
                got.append(reinterpret_cast<char*>(buf), std::size_t(n));
        }
    }
    void stream_writable() override { ++writable; }
    void stream_closed(std::string_view why) override { closed.emplace_back(why); }
};

// The program's end: a non-blocking socket connected to port on 127.0.0.1.
struct program {
    int fd = -1;
    explicit program(std::uint16_t port) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            fd = -1;
            return;
        }
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    ~program() {
        if (fd >= 0) ::close(fd);
    }
    // Everything that is there now; true once the stream's end of file was read.
    bool take(std::string& into) {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n > 0) {
                into.append(buf, std::size_t(n));
                continue;
            }
            return n == 0;
        }
    }
    std::size_t give(std::string_view bytes) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        return n > 0 ? std::size_t(n) : 0;
    }
};

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return s;
}

// Writes all of bytes into the stream as it takes them, the event loop running between tries.
bool write_all(fwd::tunnel_stream& s, std::string_view bytes, const std::function<void()>& meanwhile) {
    std::size_t at = 0;
    return spin(
        [&] {
            while (at < bytes.size()) {
                const std::size_t k =
                    s.write({reinterpret_cast<const std::uint8_t*>(bytes.data()) + at, bytes.size() - at});
                if (k == 0) break;
                at += k;
            }
            meanwhile();
            return at == bytes.size();
        },
        20000);
}

struct TunnelSocket : ::testing::Test {
    qt_tunnel_network net;
    reader r;
    std::unique_ptr<fwd::port_listener> listener;
    std::unique_ptr<program> prog;

    void SetUp() override {
        app();
        std::string why;
        listener = net.listen("127.0.0.1", 0, r, why);
        ASSERT_TRUE(listener) << why;
        prog = std::make_unique<program>(listener->port());
        ASSERT_GE(prog->fd, 0);
        ASSERT_TRUE(spin([&] { return r.stream != nullptr; }));
    }
};

// Each side ends its sending while the other goes on: the program's FIN is read as its end of file and 4 MB still
// reach it afterwards; our end of file reaches the program and what it sends after that still arrives.
TEST_F(TunnelSocket, EachDirectionEndsOnItsOwn) {
    const std::string reply = pattern(4 << 20);
    ASSERT_EQ(prog->give("request"), 7u);
    ::shutdown(prog->fd, SHUT_WR);
    ASSERT_TRUE(spin([&] { return r.eof; }));
    EXPECT_EQ(r.got, "request");
    std::string back;
    bool back_eof = false;
    ASSERT_TRUE(write_all(*r.stream, reply, [&] { back_eof = prog->take(back); }));
    r.stream->shutdown_write();
    ASSERT_TRUE(spin([&] { return (back_eof = back_eof || prog->take(back)); }, 20000)) << back.size();
    EXPECT_EQ(back.size(), reply.size());
    EXPECT_TRUE(back == reply);
    EXPECT_TRUE(r.closed.empty());
}

TEST_F(TunnelSocket, OurEndOfFileLeavesTheProgramSending) {
    r.stream->shutdown_write();
    std::string seen;
    ASSERT_TRUE(spin([&] { return prog->take(seen); }));
    EXPECT_TRUE(seen.empty());
    const std::string upload = pattern(1 << 20);
    std::size_t at = 0;
    ASSERT_TRUE(spin(
        [&] {
            at += prog->give(std::string_view(upload).substr(at));
            r.stream_readable();
            return at == upload.size();
        },
        20000));
    ::shutdown(prog->fd, SHUT_WR);
    ASSERT_TRUE(spin([&] { return r.eof; }));
    EXPECT_TRUE(r.got == upload) << r.got.size();
    EXPECT_TRUE(r.closed.empty());
}

// A program that does not read: the stream takes a bounded amount and then nothing, says when it may take more, and
// every byte arrives in order once the program reads.
TEST_F(TunnelSocket, LargeWritesMeetBackPressure) {
    const std::string data = pattern(32 << 20);
    std::size_t taken = 0;
    for (std::size_t k;
         taken < data.size() && (k = r.stream->write({reinterpret_cast<const std::uint8_t*>(data.data()) + taken,
                                                      std::min<std::size_t>(1 << 16, data.size() - taken)})) > 0;)
        taken += k;
    EXPECT_LT(taken, std::size_t(16 << 20)) << "a program that reads nothing held back nothing";
    EXPECT_EQ(r.writable, 0);
    std::string back;
    ASSERT_TRUE(spin([&] {
        prog->take(back);
        return r.writable > 0;
    }));
    ASSERT_TRUE(write_all(*r.stream, std::string_view(data).substr(taken), [&] { prog->take(back); }));
    ASSERT_TRUE(spin(
        [&] {
            prog->take(back);
            return back.size() >= data.size();
        },
        20000));
    EXPECT_TRUE(back == data);
}

// Dropped with bytes still unsent to a program that is not reading: they still go, then the end of file.
TEST_F(TunnelSocket, DroppedStreamStillDeliversWhatItTook) {
    const std::string data = pattern(6 << 20);
    std::size_t taken = 0;
    for (std::size_t k;
         taken < data.size() &&
         (k = r.stream->write({reinterpret_cast<const std::uint8_t*>(data.data()) + taken, data.size() - taken})) > 0;)
        taken += k;
    ASSERT_GT(taken, 0u);
    r.stream.reset();
    std::string back;
    ASSERT_TRUE(spin([&] { return prog->take(back); }, 20000)) << back.size();
    EXPECT_TRUE(back == data.substr(0, taken)) << back.size() << " of " << taken;
}

TEST_F(TunnelSocket, ResetIsAFailureWithItsReason) {
    const linger hard{1, 0};
    ::setsockopt(prog->fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    prog.reset();  // closes with a reset
    ASSERT_TRUE(spin([&] { return !r.closed.empty(); }));
    EXPECT_NE(r.closed[0].find("reset"), std::string::npos) << r.closed[0];
}

// A resolver that answers only when released, counting its calls; the test checks where it ran.
struct held_resolver {
    std::mutex m;
    std::condition_variable cv;
    bool released = false;
    std::atomic<int> calls{0};
    std::atomic<bool> on_main{false};
    lookup_answer answer;
    resolve_fn fn() {
        const auto main_thread = std::this_thread::get_id();
        return [this, main_thread](const std::string&, std::uint16_t) {
            ++calls;
            if (std::this_thread::get_id() == main_thread) on_main = true;
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [this] { return released; });
            return answer;
        };
    }
    void release() {
        const std::lock_guard<std::mutex> lock(m);
        released = true;
        cv.notify_all();
    }
};

struct Dialling : ::testing::Test {
    void SetUp() override { app(); }
    qt_tunnel_network net;
    reader r;
};

TEST_F(Dialling, RefusedPortSaysRefused) {
    std::string why;
    auto probe = net.listen("127.0.0.1", 0, r, why);
    ASSERT_TRUE(probe);
    const std::uint16_t port = probe->port();
    probe.reset();
    auto s = net.connect("127.0.0.1", port, r);
    ASSERT_TRUE(spin([&] { return !r.closed.empty(); }));
    EXPECT_NE(r.closed[0].find("refused"), std::string::npos) << r.closed[0];
    EXPECT_EQ(r.connected, 0);
}

// A name goes to the resolver in another thread while the event loop runs on; its failure is the stream's reason,
// and its address is dialled.
TEST_F(Dialling, NamesAreLookedUpBesideTheEventLoop) {
    reader service;
    std::string why;
    auto l = net.listen("127.0.0.1", 0, service, why);
    ASSERT_TRUE(l) << why;
    struct row {
        const char* name;
        bool found;
    };
    for (const row& w : {row{"no-such-host.test", false}, row{"service.test", true}}) {
        SCOPED_TRACE(w.name);
        held_resolver res;
        if (w.found) {
            res.answer = literal_address("127.0.0.1", l->port());
        } else {
            res.answer.why = "Name or service not known";
        }
        net.set_resolver(res.fn());
        reader here;
        auto s = net.connect(w.name, l->port(), here);
        bool ticked = false;
        QTimer::singleShot(10, [&] { ticked = true; });
        EXPECT_TRUE(spin([&] { return ticked; })) << "the event loop stood still during the lookup";
        EXPECT_TRUE(here.closed.empty());
        EXPECT_EQ(here.connected, 0);
        res.release();
        ASSERT_TRUE(spin([&] { return !here.closed.empty() || here.connected > 0; }));
        EXPECT_EQ(res.calls, 1);
        EXPECT_FALSE(res.on_main);
        if (w.found) {
            EXPECT_EQ(here.connected, 1);
            ASSERT_TRUE(spin([&] { return service.stream != nullptr; }));
        } else {
            ASSERT_EQ(here.closed.size(), 1u);
            EXPECT_EQ(here.closed[0], "Name or service not known");
        }
    }
}

// The stream goes while its lookup still runs: the answer that comes later reaches nobody.
TEST_F(Dialling, DroppedWhileTheLookupRuns) {
    reader service;
    std::string why;
    auto l = net.listen("127.0.0.1", 0, service, why);
    ASSERT_TRUE(l) << why;
    auto res = std::make_shared<held_resolver>();
    res->answer = literal_address("127.0.0.1", l->port());
    net.set_resolver(res->fn());
    auto s = net.connect("late.test", l->port(), r);
    ASSERT_TRUE(spin([&] { return res->calls == 1; }));
    s.reset();
    res->release();
    bool settled = false;
    QTimer::singleShot(300, [&] { settled = true; });
    ASSERT_TRUE(spin([&] { return settled; }));
    EXPECT_EQ(r.connected, 0);
    EXPECT_TRUE(r.closed.empty());
    EXPECT_FALSE(service.stream) << "nothing was dialled for the dropped stream";
}

}  // namespace

namespace {

// The agent's local socket ends each direction on its own too: the request, our end of file, then an answer of a
// megabyte that the agent sends and closes at once, all of it read before the end of file.
TEST(AgentSocket, AnswerAfterOurEndOfFileArrivesWhole) {
    app();
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("agent.sock")).toStdString();
    const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof a.sun_path);
    std::memcpy(a.sun_path, path.data(), path.size());
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(server, 1), 0);
    qt_tunnel_network net;
    net.set_agent_socket(QString::fromStdString(path));
    reader r;
    std::string why;
    r.stream = net.connect_agent(r, why);
    ASSERT_TRUE(r.stream) << why;
    ASSERT_TRUE(spin([&] { return r.connected == 1; }));
    const int agent = ::accept(server, nullptr, nullptr);
    ASSERT_GE(agent, 0);
    const std::uint8_t request[] = {0, 0, 0, 1, 11};
    EXPECT_EQ(r.stream->write(request), 5u);
    r.stream->shutdown_write();
    const std::string answer = pattern(1 << 20);
    std::thread agent_side([&] {
        std::string got;
        char buf[64];
        for (ssize_t n; (n = ::recv(agent, buf, sizeof buf, 0)) > 0;) got.append(buf, std::size_t(n));
        if (got.size() == sizeof request)
            for (std::size_t at = 0; at < answer.size();) {
                const ssize_t n = ::send(agent, answer.data() + at, answer.size() - at, MSG_NOSIGNAL);
                if (n <= 0) break;
                at += std::size_t(n);
            }
        ::close(agent);
    });
    const bool ended = spin([&] { return r.eof; }, 20000);
    agent_side.join();
    ::close(server);
    ASSERT_TRUE(ended) << r.got.size();
    EXPECT_TRUE(r.got == answer) << r.got.size();
    EXPECT_TRUE(r.closed.empty());
}

// The forwarder's timers: one fires once, one dropped first never does, and one may be dropped inside its own call.
TEST(TunnelTimer, FiresOnceUnlessDroppedEvenFromItsOwnCall) {
    app();
    qt_tunnel_network net;
    int fired = 0, dropped_fired = 0, self_fired = 0;
    auto once = net.start_timer(1, [&] { ++fired; });
    auto dropped = net.start_timer(1, [&] { ++dropped_fired; });
    std::unique_ptr<fwd::local_timer> self;
    self = net.start_timer(1, [&] {
        ++self_fired;
        self.reset();
    });
    dropped.reset();
    ASSERT_TRUE(spin([&] { return fired > 0 && self_fired > 0; }));
    bool settled = false;
    QTimer::singleShot(50, [&] { settled = true; });
    ASSERT_TRUE(spin([&] { return settled; }));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(self_fired, 1);
    EXPECT_EQ(dropped_fired, 0);
}

}  // namespace
