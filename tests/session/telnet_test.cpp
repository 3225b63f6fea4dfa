// Telnet option engine, driven through the session's read path so answers travel the real send path.
#include <gtest/gtest.h>

#include "fakes.h"

namespace {

constexpr int IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240, DM = 242;

struct TelnetTest : ::testing::Test {
    session_rig rig;
    void SetUp() override { ASSERT_TRUE(rig.connect()); }
    std::vector<std::string>& writes() { return rig.sock().writes; }
};

TEST_F(TelnetTest, TerminalTypeIsOfferedAndSent) {
    rig.receive(bytes({IAC, DO, 24}));
    rig.receive(bytes({IAC, SB, 24, 1, IAC, SE}));
    ASSERT_EQ(writes().size(), 2u);
    EXPECT_EQ(writes()[0], bytes({IAC, WILL, 24}));
    EXPECT_EQ(writes()[1], bytes({IAC, SB, 24, 0}) + "vt220" + bytes({IAC, SE}));

    rig.profile.terminal.termtype = "xterm-color";
    rig.receive(bytes({IAC, SB, 24, 1, IAC, SE}));
    EXPECT_EQ(writes().back(), bytes({IAC, SB, 24, 0}) + "xterm-color" + bytes({IAC, SE}));
}

TEST_F(TelnetTest, EchoFollowsHostOnlyWithHostEchoControl) {
    rig.profile.terminal.host_echo = 1;
    rig.profile.terminal.local_echo = 1;
    rig.receive(bytes({IAC, WILL, 1}));
    EXPECT_FALSE(rig.profile.terminal.local_echo);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0], bytes({IAC, DO, 1}));
    rig.receive(bytes({IAC, WILL, 1}));
    EXPECT_EQ(writes().size(), 1u) << "a repeated WILL ECHO is not answered";

    rig.receive(bytes({IAC, WONT, 1}));
    EXPECT_TRUE(rig.profile.terminal.local_echo);
    EXPECT_EQ(writes().back(), bytes({IAC, DONT, 1}));
}

TEST_F(TelnetTest, EchoUntouchedWithoutHostEchoControl) {
    rig.profile.terminal.host_echo = 0;
    rig.profile.terminal.local_echo = 1;
    rig.receive(bytes({IAC, WILL, 1}));
    EXPECT_TRUE(rig.profile.terminal.local_echo);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0], bytes({IAC, DO, 1}));
}

TEST_F(TelnetTest, FirstDoEchoIsNotAnsweredButSwitchesEcho) {
    rig.profile.terminal.host_echo = 1;
    rig.receive(bytes({IAC, DO, 1}));
    EXPECT_TRUE(writes().empty());
    EXPECT_TRUE(rig.profile.terminal.local_echo);
    rig.receive(bytes({IAC, DONT, 1}));
    EXPECT_EQ(writes().back(), bytes({IAC, WONT, 1}));
    EXPECT_FALSE(rig.profile.terminal.local_echo);
}

TEST_F(TelnetTest, FixedPolicyForOtherOptions) {
    struct {
        std::string in, out;
    } cases[] = {
        {bytes({IAC, DO, 31}), bytes({IAC, WONT, 31})},     {bytes({IAC, WILL, 31}), bytes({IAC, DONT, 31})},
        {bytes({IAC, DO, 0}), bytes({IAC, WONT, 0})},       {bytes({IAC, WILL, 0}), bytes({IAC, DO, 0})},
        {bytes({IAC, WONT, 250}), bytes({IAC, DONT, 250})}, {bytes({IAC, DONT, 255}), bytes({IAC, WONT, 255})},
        {bytes({IAC, WILL, 3}), bytes({IAC, DO, 3})},       {bytes({IAC, DO, 3}), bytes({IAC, WILL, 3})},
    };
    for (const auto& c : cases) {
        writes().clear();
        rig.receive(c.in);
        ASSERT_EQ(writes().size(), 1u) << testing::PrintToString(c.in);
        EXPECT_EQ(writes()[0], c.out) << testing::PrintToString(c.in);
    }
    // Already agreed: no second answer; withdrawing is acknowledged once; withdrawing what never was: silence.
    writes().clear();
    rig.receive(bytes({IAC, WONT, 24, IAC, DONT, 31}));
    EXPECT_TRUE(writes().empty());
    rig.receive(bytes({IAC, WILL, 3, IAC, DO, 3, IAC, WONT, 3, IAC, WONT, 3}));
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0], bytes({IAC, DONT, 3}));
}

TEST_F(TelnetTest, CommandsAreRemovedFromTheData) {
    rig.receive("a" + bytes({IAC, DM}) + "A" + bytes({IAC, 241, IAC, 249}) + "b" + bytes({IAC, IAC}) + "c");
    // NOP and GA vanish, DM keeps the data, IAC IAC is one data byte 255.
    const std::string row = rig.row(1);
    ASSERT_GE(row.size(), 4u);
    EXPECT_EQ(row.substr(0, 3), "aAb");
    EXPECT_EQ(rig.ring.line(1).cells[3] & 0xFF, 0xFF);
    EXPECT_EQ(rig.ring.line(1).cells[4] & 0xFF, 'c');
    EXPECT_TRUE(writes().empty());
}

TEST_F(TelnetTest, SplitAtEveryPositionGivesTheSameResult) {
    const std::string stream = "ab" + bytes({IAC, DO, 24, IAC, WILL, 3}) + "cd" + bytes({IAC, SB, 24, 1, IAC, SE}) +
                               "e" + bytes({IAC, IAC}) + "f" + bytes({IAC, DO, 31}) + "g";
    session_rig whole;
    ASSERT_TRUE(whole.connect());
    whole.receive(stream);
    const std::string expect_written = whole.sock().all_written();
    const std::string expect_row = whole.row(1);
    ASSERT_EQ(expect_row.substr(0, 5), "abcde");

    for (std::size_t chunk = 1; chunk < stream.size(); ++chunk) {
        session_rig r;
        ASSERT_TRUE(r.connect());
        r.receive_split(stream, chunk);
        EXPECT_EQ(r.sock().all_written(), expect_written) << "chunk " << chunk;
        EXPECT_EQ(r.row(1), expect_row) << "chunk " << chunk;
    }
}

TEST_F(TelnetTest, OverlongSubnegotiationIsCutAndIgnored) {
    std::string sb = bytes({IAC, SB, 24, 1});
    sb += std::string(500, 'x');
    sb += bytes({IAC, SE});
    rig.receive(sb + "ok");
    // Still a terminal-type request by its first two bytes; the junk never reaches the screen.
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0], bytes({IAC, SB, 24, 0}) + "vt220" + bytes({IAC, SE}));
    EXPECT_EQ(rig.row(1), "ok");
    rig.receive(bytes({IAC, SB, 31, 0, 80, 0, 24, IAC, SE}));
    EXPECT_EQ(writes().size(), 1u);
}

TEST_F(TelnetTest, EveryConnectionStartsWithFreshOptions) {
    rig.receive(bytes({IAC, WILL, 3}));
    rig.s.disconnect(true);
    ASSERT_TRUE(rig.connect());
    rig.receive(bytes({IAC, WILL, 3}));
    ASSERT_EQ(rig.sock().writes.size(), 1u);
    EXPECT_EQ(rig.sock().writes[0], bytes({IAC, DO, 3}));
}

// With screen_size 1 the host's DO NAWS is accepted and the size follows at once, width first, every byte 255
// doubled; each later change goes out while NAWS is on. With screen_size 0 (FixedPolicyForOtherOptions) DO NAWS
// keeps its WONT and no size ever leaves.
TEST_F(TelnetTest, WindowSizeIsToldOnlyWhenTheGridFollowsTheWindow) {
    struct {
        int rows, columns;
        std::string sb;
    } cases[] = {
        {24, 80, bytes({IAC, SB, 31, 0, 80, 0, 24, IAC, SE})},
        {50, 255, bytes({IAC, SB, 31, 0, IAC, IAC, 0, 50, IAC, SE})},
        {255, 300, bytes({IAC, SB, 31, 1, 44, 0, IAC, IAC, IAC, SE})},
        {65535, 65535, bytes({IAC, SB, 31, IAC, IAC, IAC, IAC, IAC, IAC, IAC, IAC, IAC, SE})},
        {511, 1, bytes({IAC, SB, 31, 0, 1, 1, IAC, IAC, IAC, SE})},
    };
    for (const auto& c : cases) {
        session_rig r;
        r.settings.screen_size = 1;
        r.s.set_window_size(c.rows, c.columns);  // before the connection: kept for the host's DO
        ASSERT_TRUE(r.connect());
        r.receive(bytes({IAC, DO, 31}));
        ASSERT_EQ(r.sock().writes.size(), 2u) << c.rows << "x" << c.columns;
        EXPECT_EQ(r.sock().writes[0], bytes({IAC, WILL, 31}));
        EXPECT_EQ(r.sock().writes[1], c.sb) << c.rows << "x" << c.columns;
    }

    rig.profile.terminal.screen_size = 1;
    rig.s.set_window_size(30, 100);
    EXPECT_TRUE(writes().empty()) << "nothing before the host asked";
    rig.receive(bytes({IAC, DO, 31}));
    ASSERT_EQ(writes().size(), 2u);
    EXPECT_EQ(writes()[1], bytes({IAC, SB, 31, 0, 100, 0, 30, IAC, SE}));
    rig.receive(bytes({IAC, DO, 31}));
    EXPECT_EQ(writes().size(), 2u) << "a repeated DO is not answered";
    rig.s.set_window_size(40, 120);
    rig.s.set_window_size(40, 120);  // no change: nothing sent
    ASSERT_EQ(writes().size(), 3u);
    EXPECT_EQ(writes()[2], bytes({IAC, SB, 31, 0, 120, 0, 40, IAC, SE}));
    rig.receive(bytes({IAC, DONT, 31}));
    ASSERT_EQ(writes().size(), 4u);
    EXPECT_EQ(writes()[3], bytes({IAC, WONT, 31}));
    rig.s.set_window_size(45, 90);
    EXPECT_EQ(writes().size(), 4u) << "NAWS is off again";

    // The same host under screen_size 0: refused, and changes stay local.
    session_rig fixed;
    fixed.s.set_window_size(30, 100);
    ASSERT_TRUE(fixed.connect());
    fixed.receive(bytes({IAC, DO, 31}));
    fixed.s.set_window_size(40, 120);
    ASSERT_EQ(fixed.sock().writes.size(), 1u);
    EXPECT_EQ(fixed.sock().writes[0], bytes({IAC, WONT, 31}));
}

// telnetd (BSD-derived) holds the session after WILL NAWS until its DO ECHO is answered, so with screen_size 1 the
// first DO ECHO gets its WILL (once per connection); screen_size 0 keeps the silence of
// FirstDoEchoIsNotAnsweredButSwitchesEcho.
TEST_F(TelnetTest, WithNawsTheFirstDoEchoIsAnswered) {
    rig.settings.screen_size = 1;
    rig.settings.host_echo = 1;
    rig.sync();
    rig.receive(bytes({IAC, DO, 31, IAC, DO, 1}));
    ASSERT_EQ(writes().size(), 3u);
    EXPECT_EQ(writes()[2], bytes({IAC, WILL, 1}));
    EXPECT_TRUE(rig.profile.terminal.local_echo);
    rig.receive(bytes({IAC, DO, 1}));
    EXPECT_EQ(writes().size(), 3u) << "answered once";
    // telnetd's next steps: DONT ECHO (acknowledged, local echo off), WILL ECHO (the host echoes).
    rig.receive(bytes({IAC, DONT, 1, IAC, WILL, 1}));
    ASSERT_EQ(writes().size(), 5u);
    EXPECT_EQ(writes()[3], bytes({IAC, WONT, 1}));
    EXPECT_EQ(writes()[4], bytes({IAC, DO, 1}));
    EXPECT_FALSE(rig.profile.terminal.local_echo);

    rig.s.disconnect(true);
    ASSERT_TRUE(rig.connect());
    rig.receive(bytes({IAC, DO, 1}));
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0], bytes({IAC, WILL, 1})) << "again on a new connection";
}

TEST_F(TelnetTest, ANewConnectionNegotiatesNawsAfreshWithTheLatestSize) {
    rig.settings.screen_size = 1;
    rig.sync();
    rig.receive(bytes({IAC, DO, 31}));
    rig.s.disconnect(true);
    rig.s.set_window_size(33, 99);  // while disconnected: nothing to send it to
    ASSERT_TRUE(rig.connect());
    EXPECT_TRUE(writes().empty());
    rig.receive(bytes({IAC, DO, 31}));
    ASSERT_EQ(writes().size(), 2u);
    EXPECT_EQ(writes()[0], bytes({IAC, WILL, 31}));
    EXPECT_EQ(writes()[1], bytes({IAC, SB, 31, 0, 99, 0, 33, IAC, SE}));
}

}  // namespace
