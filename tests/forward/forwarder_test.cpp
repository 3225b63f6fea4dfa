// The forwarder between fake local sockets and a fake SSH connection: each kind of forward end to end, per-link flow
// control, and every failure reported with its cause while the rest goes on.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "forward/forwarder.h"
#include "forward_fakes.h"

namespace {

using namespace fwd;
using namespace fwd_fakes;

bytes b(std::string_view s) { return bytes(s.begin(), s.end()); }
std::string str(const bytes& v) { return std::string(v.begin(), v.end()); }

struct ForwarderTest : ::testing::Test {
    fake_network net;
    fake_ssh ssh;
    std::vector<std::string> notes;
    forwarder f{net, ssh, [this](std::string_view t) { notes.emplace_back(t); }};

    void start(std::string_view text) {
        const auto l = parse_forwards(text);
        ASSERT_TRUE(l.errors.empty());
        f.start(l.rules);
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

// Both ends half-close, in either order, while the program still has host data to read: the channel stays open
// until the program has taken all of it (the host's CLOSE would otherwise drop what the link still holds).
TEST_F(ForwarderTest, HalfClosedLinkClosesOnlyAfterTheProgramTookEverything) {
    start("L8080:web:80");
    for (const bool program_first : {true, false}) {
        SCOPED_TRACE(program_first ? "program ends first" : "host ends first");
        fake_stream* s = net.arrive("127.0.0.1 8080");
        const stream_record& seen = s->rec;
        fake_channel& c = ssh.last();
        c.ev->channel_opened();
        s->room = 2;
        auto program_ends = [&] {
            s->program_closed = true;
            s->ev->stream_readable();
            EXPECT_TRUE(c.eof);
        };
        if (program_first) program_ends();
        c.ev->channel_data(b("abcdef"));
        c.ev->channel_eof();
        if (!program_first) program_ends();
        EXPECT_FALSE(c.closed) << "4 bytes still wait for the program";
        EXPECT_FALSE(seen.shut);
        s->drain(2);
        EXPECT_FALSE(c.closed);
        s->drain(10);
        EXPECT_EQ(str(seen.outbox), "abcdef");
        EXPECT_TRUE(seen.shut);
        EXPECT_TRUE(c.closed);
        c.ev->channel_closed();
        EXPECT_TRUE(seen.destroyed);
    }
    EXPECT_EQ(status(0).open, 0);
}

// The host's CLOSE follows its EOF at once, while the program may not have taken everything yet: the rest still
// reaches it, and only then does the stream go.
TEST_F(ForwarderTest, HostCloseLeavesWhatTheProgramHasNotTakenYet) {
    start("L8080:web:80");
    fake_stream* s = net.arrive("127.0.0.1 8080");
    const stream_record& seen = s->rec;
    fake_channel& c = ssh.last();
    c.ev->channel_opened();
    s->room = 2;
    c.ev->channel_data(b("abcdef"));
    c.ev->channel_eof();
    c.ev->channel_closed();
    EXPECT_FALSE(seen.destroyed);
    EXPECT_FALSE(seen.shut);
    EXPECT_EQ(status(0).open, 1);
    s->send("late");  // the program's bytes have no channel to go to now
    EXPECT_TRUE(c.sent.empty());
    s->drain(10);
    EXPECT_EQ(str(seen.outbox), "abcdef");
    EXPECT_TRUE(seen.shut);
    EXPECT_TRUE(seen.destroyed);
    EXPECT_EQ(c.consumed, 2u) << "a closed channel's window is not reopened";
    EXPECT_EQ(status(0).open, 0);
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

// A SOCKS program gets a time limit for its request: an idle one is closed when it passes, one whose request came
// in time is not, and a local forward's connections have no such limit.
TEST_F(ForwarderTest, IdleSocksConnectionsAreClosedAfterTheLimit) {
    start("D1080,L8080:web:80");
    fake_stream* idle = net.arrive("127.0.0.1 1080");
    const stream_record& idle_seen = idle->rec;
    fake_stream* prompt = net.arrive("127.0.0.1 1080");
    const stream_record& prompt_seen = prompt->rec;
    idle->send(std::string("\x05\x01", 2));  // a partial greeting keeps it waiting
    prompt->send(std::string("\x04\x01\x00\x50\x0a\x00\x00\x01\x00", 9));
    net.arrive("127.0.0.1 8080");
    ASSERT_EQ(ssh.ch.size(), 2u);
    EXPECT_EQ(status(0).open, 2);
    EXPECT_EQ(net.fire_timers(), 1) << "only the idle connection's limit is still running";
    EXPECT_TRUE(idle_seen.destroyed);
    EXPECT_FALSE(prompt_seen.destroyed);
    EXPECT_EQ(status(0).open, 1);
    EXPECT_EQ(status(1).open, 1);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0],
              "Tunnel 127.0.0.1:1080 (SOCKS): no SOCKS request within 10 s; closed the connection from 127.0.0.1");
}

// Connections still negotiating are capped: one more is closed at once, and room comes back as they end.
TEST_F(ForwarderTest, ConnectionsAwaitingASocksRequestAreCapped) {
    start("D1080");
    std::vector<const stream_record*> waiting;
    for (std::size_t i = 0; i < max_socks_waiting; ++i) waiting.push_back(&net.arrive("127.0.0.1 1080")->rec);
    net.arrive("127.0.0.1 1080");  // freed inside the call: only its record is left
    const stream_record& extra = net.records.back();
    EXPECT_TRUE(extra.destroyed);
    EXPECT_EQ(std::count_if(waiting.begin(), waiting.end(), [](auto* r) { return r->destroyed; }), 0);
    EXPECT_EQ(status(0).open, int(max_socks_waiting));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("awaiting a SOCKS request; refused one from 127.0.0.1"), std::string::npos) << notes[0];
    net.fire_timers();
    const stream_record& later = net.arrive("127.0.0.1 1080")->rec;
    EXPECT_FALSE(later.destroyed);
    EXPECT_EQ(status(0).open, 1);
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

// The connection may end inside a send (a write error): the link that sent goes on counting on its entry, which
// must outlive the stop that the ending brings.
TEST_F(ForwarderTest, ConnectionEndingInsideASendLeavesNothingDangling) {
    start("L8080:web:80");
    fake_stream* s = net.arrive("127.0.0.1 8080");
    fake_channel& c = ssh.last();
    c.ev->channel_opened();
    ssh.on_send = [this] { f.stop(); };
    s->send("data");
    EXPECT_EQ(str(c.sent), "data");
    EXPECT_TRUE(net.listening.empty());
    EXPECT_TRUE(f.tunnels().empty());
}

// The same inside the window's reopening, while the link still has host data to hand on.
TEST_F(ForwarderTest, ConnectionEndingInsideConsumedLeavesNothingDangling) {
    start("L8080:web:80");
    fake_stream* s = net.arrive("127.0.0.1 8080");
    fake_channel& c = ssh.last();
    c.ev->channel_opened();
    s->room = 3;
    c.ev->channel_data(b("0123456789"));
    ssh.on_consumed = [this] { f.stop(); };
    s->drain(2);  // takes "34", reports it, and the connection ends there
    EXPECT_EQ(c.consumed, 5u);
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
