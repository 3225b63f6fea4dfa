// The forwarder between fake local sockets and a fake SSH connection: each kind of forward end to end, per-link flow
// control, and every failure reported with its cause while the rest goes on.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "forward/forwarder.h"

namespace {

using namespace fwd;
using bytes = std::vector<std::uint8_t>;

bytes b(std::string_view s) { return bytes(s.begin(), s.end()); }
std::string str(const bytes& v) { return std::string(v.begin(), v.end()); }

// What the program saw; it outlives the stream, which the forwarder drops when a link ends.
struct stream_record {
    bytes outbox;  // what reached the program
    bool shut = false;
    bool destroyed = false;
};

struct fake_stream : tunnel_stream {
    explicit fake_stream(stream_record& r) : rec(r) {}
    ~fake_stream() override { rec.destroyed = true; }
    stream_record& rec;
    stream_events* ev = nullptr;
    bytes inbox;  // what the program sent, not read yet
    bool program_closed = false;
    std::size_t room = 1 << 20;  // what write takes before the program reads
    void set_events(stream_events* e) override { ev = e; }
    long read(std::uint8_t* buf, std::size_t n) override {
        if (inbox.empty()) return program_closed ? -1 : 0;
        n = std::min(n, inbox.size());
        std::copy_n(inbox.begin(), n, buf);
        inbox.erase(inbox.begin(), inbox.begin() + std::ptrdiff_t(n));
        return long(n);
    }
    std::size_t write(std::span<const std::uint8_t> in) override {
        const std::size_t n = std::min(room, in.size());
        rec.outbox.insert(rec.outbox.end(), in.begin(), in.begin() + std::ptrdiff_t(n));
        room -= n;
        return n;
    }
    void shutdown_write() override { rec.shut = true; }
    std::string peer() const override { return "127.0.0.1"; }
    std::uint16_t peer_port() const override { return 40000; }
    // The program sends, or reads some of what waits for it.
    void send(std::string_view s) {
        inbox.insert(inbox.end(), s.begin(), s.end());
        ev->stream_readable();
    }
    void drain(std::size_t n) {
        room += n;
        ev->stream_writable();
    }
};

struct fake_listener : port_listener {
    std::map<std::string, listener_events*>& table;
    std::string key;
    fake_listener(std::map<std::string, listener_events*>& t, std::string k) : table(t), key(std::move(k)) {}
    ~fake_listener() override { table.erase(key); }
    std::uint16_t port() const override { return 1; }
};

struct fake_network : local_network {
    std::deque<stream_record> records;
    std::map<std::string, listener_events*> listening;  // "address port"
    std::vector<std::string> busy;
    std::vector<std::pair<std::string, fake_stream*>> dialled;  // "host port", stream
    bool refuse_dial = false;

    std::unique_ptr<port_listener> listen(std::string_view address, std::uint16_t port, listener_events& events,
                                          std::string& why) override {
        const std::string key = std::string(address) + " " + std::to_string(port);
        if (std::find(busy.begin(), busy.end(), key) != busy.end()) {
            why = "Address already in use";
            return nullptr;
        }
        listening[key] = &events;
        return std::make_unique<fake_listener>(listening, key);
    }
    std::unique_ptr<tunnel_stream> connect(std::string_view host, std::uint16_t port, stream_events& events) override {
        if (refuse_dial) return nullptr;
        auto s = std::make_unique<fake_stream>(records.emplace_back());
        s->ev = &events;
        dialled.emplace_back(std::string(host) + " " + std::to_string(port), s.get());
        return s;
    }
    std::string agent_missing;  // non-empty: connect_agent fails with it
    std::vector<fake_stream*> agents;
    std::unique_ptr<tunnel_stream> connect_agent(stream_events& events, std::string& why) override {
        if (!agent_missing.empty()) {
            why = agent_missing;
            return nullptr;
        }
        auto s = std::make_unique<fake_stream>(records.emplace_back());
        s->ev = &events;
        agents.push_back(s.get());
        return s;
    }
    // A program connects to a listener.
    fake_stream* arrive(const std::string& key) {
        auto s = std::make_unique<fake_stream>(records.emplace_back());
        fake_stream* p = s.get();
        listening.at(key)->accepted(std::move(s));
        return p;
    }
};

struct fake_channel {
    channel_events* ev = nullptr;
    std::string target;  // "host port" (direct) or "forwarded"
    std::size_t room = 1 << 20;
    bytes sent;
    bool eof = false, closed = false, accepted = false, refused = false;
    std::size_t consumed = 0;
};

struct fake_ssh : ssh_tunnels {
    std::map<channel_id, fake_channel> ch;
    channel_id next = 100;
    bool can_open = true;
    std::vector<std::string> remote, cancelled;

    channel_id open_direct(std::string_view host, std::uint16_t port, std::string_view origin, std::uint16_t oport,
                           channel_events& e) override {
        if (!can_open) return 0;
        EXPECT_EQ(origin, "127.0.0.1");
        EXPECT_EQ(oport, 40000);
        auto& c = ch[++next];
        c.ev = &e;
        c.target = std::string(host) + " " + std::to_string(port);
        return next;
    }
    std::size_t send_room(channel_id id) const override { return ch.at(id).room; }
    void send(channel_id id, std::span<const std::uint8_t> data) override {
        auto& c = ch.at(id);
        EXPECT_LE(data.size(), c.room) << "more than the window";
        EXPECT_FALSE(c.eof || c.closed);
        c.sent.insert(c.sent.end(), data.begin(), data.end());
        c.room -= data.size();
    }
    void send_eof(channel_id id) override { ch.at(id).eof = true; }
    void close(channel_id id) override { ch.at(id).closed = true; }
    void consumed(channel_id id, std::size_t n) override { ch.at(id).consumed += n; }
    bool request_remote(std::string_view a, std::uint16_t p) override {
        remote.push_back(std::string(a) + " " + std::to_string(p));
        return true;
    }
    void cancel_remote(std::string_view a, std::uint16_t p) override {
        cancelled.push_back(std::string(a) + " " + std::to_string(p));
    }
    void accept_open(channel_id id, channel_events& e) override {
        ch[id].ev = &e;
        ch[id].accepted = true;
    }
    void refuse_open(channel_id id, std::uint32_t, std::string_view) override { ch[id].refused = true; }
    fake_channel& last() { return ch.at(next); }
};

struct ForwarderTest : ::testing::Test {
    fake_network net;
    fake_ssh ssh;
    std::vector<std::string> notes;
    forwarder f{net, ssh, [this](std::string_view t) { notes.emplace_back(t); }};

    void start(std::string_view text) {
        const auto l = parse_forwards(text);
        ASSERT_TRUE(l.errors.empty());
        f.start(l.specs);
    }
    forwarder::status status(std::size_t i) { return f.tunnels().at(i); }
};

TEST_F(ForwarderTest, LocalForwardCarriesBothWaysAndEndsCleanly) {
    start("L8080:web:80");
    fake_stream* s = net.arrive("127.0.0.1 8080");
    fake_channel& c = ssh.last();
    EXPECT_EQ(c.target, "web 80");
    s->send("GET /");
    EXPECT_TRUE(c.sent.empty()) << "nothing goes before the host opened the channel";
    c.ev->channel_opened();
    EXPECT_EQ(str(c.sent), "GET /");
    c.ev->channel_data(b("reply"));
    EXPECT_EQ(str(s->rec.outbox), "reply");
    EXPECT_EQ(c.consumed, 5u);
    c.ev->channel_eof();
    EXPECT_TRUE(s->rec.shut);
    s->program_closed = true;
    s->ev->stream_readable();
    EXPECT_TRUE(c.eof);
    EXPECT_TRUE(c.closed);
    EXPECT_EQ(status(0).open, 1) << "open until the host confirms the close";
    c.ev->channel_closed();
    const auto st = status(0);
    EXPECT_EQ(st.state, "listening");
    EXPECT_EQ(st.open, 0);
    EXPECT_EQ(st.sent, 5u);
    EXPECT_EQ(st.received, 5u);
    EXPECT_TRUE(notes.empty());
}

// Each link waits on its own window: a stalled one holds back neither the other link nor anything else.
TEST_F(ForwarderTest, FlowControlIsPerLink) {
    start("L8080:web:80");
    fake_stream* slow = net.arrive("127.0.0.1 8080");
    fake_channel& a = ssh.last();
    fake_stream* fast = net.arrive("127.0.0.1 8080");
    fake_channel& c = ssh.last();
    a.ev->channel_opened();
    c.ev->channel_opened();

    slow->room = 3;
    a.ev->channel_data(b("0123456789"));
    EXPECT_EQ(str(slow->rec.outbox), "012");
    EXPECT_EQ(a.consumed, 3u) << "the window reopens only by what the program took";
    c.ev->channel_data(b("all of it"));
    EXPECT_EQ(str(fast->rec.outbox), "all of it");
    slow->drain(100);
    EXPECT_EQ(str(slow->rec.outbox), "0123456789");
    EXPECT_EQ(a.consumed, 10u);

    a.room = 4;
    slow->send("abcdefgh");
    EXPECT_EQ(str(a.sent), "abcd");
    EXPECT_EQ(slow->inbox.size(), 4u) << "the rest waits in the program's socket";
    a.room = 100;
    a.ev->channel_writable();
    EXPECT_EQ(str(a.sent), "abcdefgh");
}

TEST_F(ForwarderTest, ListenFailureIsNamedAndTheOthersOpen) {
    net.busy = {"127.0.0.1 8080"};
    start("L8080:web:80,D1080");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "Tunnel 127.0.0.1:8080 -> web:80: cannot listen: Address already in use");
    EXPECT_EQ(status(0).state, "failed: Address already in use");
    EXPECT_EQ(status(1).state, "listening");
    EXPECT_TRUE(net.listening.count("127.0.0.1 1080"));
}

TEST_F(ForwarderTest, DynamicForwardAnswersSocksAndPassesEarlyData) {
    start("D[::1]:1080");
    fake_stream* s = net.arrive("::1 1080");
    const std::string request = std::string("\x05\x01\x00\x05\x01\x00\x03\x0b"
                                            "example.org\x01\xbb",
                                            21);
    s->send(request + "early");
    fake_channel& c = ssh.last();
    EXPECT_EQ(c.target, "example.org 443");
    EXPECT_EQ(s->rec.outbox, (bytes{5, 0}));
    c.ev->channel_opened();
    EXPECT_EQ(s->rec.outbox, (bytes{5, 0, 5, 0, 0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(str(c.sent), "early");

    fake_stream* t = net.arrive("::1 1080");
    const stream_record& seen = t->rec;
    t->send(std::string("\x04\x01\x00\x50\x0a\x00\x00\x01\x00", 9));
    fake_channel& d = ssh.last();
    EXPECT_EQ(d.target, "10.0.0.1 80");
    d.ev->channel_failed(2, "Connection refused");
    EXPECT_EQ(seen.outbox, (bytes{0, 0x5B, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(seen.shut);
    EXPECT_TRUE(seen.destroyed);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0],
              "Tunnel [::1]:1080 (SOCKS): the host could not open the channel: Connection refused (reason 2)");
    EXPECT_EQ(status(0).open, 1);
}

TEST_F(ForwarderTest, RefusedSocksRequestOpensNothing) {
    start("D1080");
    fake_stream* s = net.arrive("127.0.0.1 1080");
    const stream_record& seen = s->rec;
    s->send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(ssh.ch.empty());
    EXPECT_TRUE(seen.destroyed);
    EXPECT_TRUE(seen.outbox.empty());
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "Tunnel 127.0.0.1:1080 (SOCKS): SOCKS request refused: not a SOCKS 4 or 5 request");
    EXPECT_EQ(status(0).open, 0);
}

TEST_F(ForwarderTest, RemoteForwardConnectsHereWhenTheHostOpens) {
    start("R9000:127.0.0.1:22,R9001:127.0.0.1:23");
    EXPECT_EQ(ssh.remote, (std::vector<std::string>{"127.0.0.1 9000", "127.0.0.1 9001"}));
    EXPECT_FALSE(f.forwarded("127.0.0.1", 9000, 7, "1.2.3.4")) << "not before the host agreed";
    f.remote_answer(true);
    f.remote_answer(false);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "Tunnel host 127.0.0.1:9001 -> 127.0.0.1:23: the host refused to listen");
    EXPECT_FALSE(f.forwarded("127.0.0.1", 9001, 8, "1.2.3.4"));

    ASSERT_TRUE(f.forwarded("localhost", 9000, 7, "1.2.3.4"));  // the host's own spelling of the address
    ASSERT_EQ(net.dialled.size(), 1u);
    EXPECT_EQ(net.dialled[0].first, "127.0.0.1 22");
    fake_stream* s = net.dialled[0].second;
    EXPECT_FALSE(ssh.ch[7].accepted) << "answered once the local connection is up";
    s->ev->stream_connected();
    EXPECT_TRUE(ssh.ch[7].accepted);
    s->send("SSH-2.0-x\r\n");
    EXPECT_EQ(str(ssh.ch[7].sent), "SSH-2.0-x\r\n");
    ssh.ch[7].ev->channel_data(b("hi"));
    EXPECT_EQ(str(s->rec.outbox), "hi");

    ASSERT_TRUE(f.forwarded("127.0.0.1", 9000, 9, "1.2.3.4"));
    net.dialled[1].second->ev->stream_closed("Connection refused");
    EXPECT_TRUE(ssh.ch[9].refused);
    EXPECT_EQ(notes.back(),
              "Tunnel host 127.0.0.1:9000 -> 127.0.0.1:22: cannot reach 127.0.0.1:22: Connection refused");

    f.stop();
    EXPECT_EQ(ssh.cancelled, (std::vector<std::string>{"127.0.0.1 9000"}));
}

TEST_F(ForwarderTest, ProgramLeavingBeforeTheOpenClosesTheChannelOnce) {
    start("L8080:web:80");
    fake_stream* s = net.arrive("127.0.0.1 8080");
    fake_channel& c = ssh.last();
    s->ev->stream_closed("reset");
    EXPECT_TRUE(c.closed);
    EXPECT_EQ(status(0).open, 1);
    c.ev->channel_data(b("late"));  // still in flight
    EXPECT_EQ(c.consumed, 4u);
    c.ev->channel_closed();
    EXPECT_EQ(status(0).open, 0);
}

TEST_F(ForwarderTest, LimitsAndAConnectionThatCannotOpenChannels) {
    start("L8080:web:80");
    ssh.can_open = false;
    net.arrive("127.0.0.1 8080");
    EXPECT_EQ(notes.back(), "Tunnel 127.0.0.1:8080 -> web:80: the connection cannot open a channel now");
    EXPECT_EQ(status(0).open, 0);
    ssh.can_open = true;
    for (std::size_t i = 0; i < max_links; ++i) net.arrive("127.0.0.1 8080");
    EXPECT_EQ(status(0).open, int(max_links));
    net.arrive("127.0.0.1 8080");
    EXPECT_EQ(ssh.ch.size(), max_links);
    EXPECT_NE(notes.back().find("more than 256 connections"), std::string::npos);
    f.stop();
    EXPECT_TRUE(net.listening.empty());
}

// The host's auth-agent channels reach the local agent only once allowed; a missing agent is named.
TEST_F(ForwarderTest, AgentChannelsReachTheAgentOnlyWhenAllowed) {
    EXPECT_FALSE(f.agent_opened(5));
    f.allow_agent(true);
    ASSERT_TRUE(f.agent_opened(5));
    ASSERT_EQ(net.agents.size(), 1u);
    fake_stream* a = net.agents[0];
    a->ev->stream_connected();
    EXPECT_TRUE(ssh.ch[5].accepted);
    ssh.ch[5].ev->channel_data(bytes{0, 0, 0, 1, 11});  // a request for identities
    EXPECT_EQ(a->rec.outbox.size(), 5u);
    a->send("answer");
    EXPECT_EQ(str(ssh.ch[5].sent), "answer");
    const auto st = f.tunnels();
    ASSERT_EQ(st.size(), 1u);
    EXPECT_EQ(st[0].what, "SSH agent");
    EXPECT_EQ(st[0].open, 1);

    net.agent_missing = "no SSH agent here (SSH_AUTH_SOCK is not set)";
    ASSERT_TRUE(f.agent_opened(6));
    EXPECT_TRUE(ssh.ch[6].refused);
    EXPECT_EQ(notes.back(), "SSH agent: cannot reach the agent: no SSH agent here (SSH_AUTH_SOCK is not set)");
    f.stop();
    EXPECT_FALSE(f.agent_opened(7));
}

}  // namespace
