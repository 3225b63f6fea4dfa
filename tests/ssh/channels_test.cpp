#include "ssh/channels.h"

#include <gtest/gtest.h>

namespace {

struct null_handler : ssh::channel_handler {
    void opened(ssh::channel&, ssh::wire_reader&) override {}
    void open_refused(ssh::channel&, std::uint32_t, std::string_view) override {}
    void data(ssh::channel&, std::span<const std::uint8_t>, std::optional<std::uint32_t>) override {}
    void eof(ssh::channel&) override {}
    void closed(ssh::channel&) override {}
    void request(ssh::channel&, std::string_view, bool, ssh::wire_reader&) override {}
    void reply(ssh::channel&, bool) override {}
};

TEST(ChannelTable, NumbersStartAtTheSessionsAndFreedOnesAreGivenAgain) {
    null_handler h;
    ssh::channel_table t;
    ssh::channel* a = t.add(h, 8000, 16384, false, 0);
    ssh::channel* b = t.add(h, 2097152, 32768, true, 1024);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->local_id, 27u);
    EXPECT_EQ(b->local_id, 28u);
    EXPECT_EQ(a->state, ssh::channel_state::opening);
    EXPECT_EQ(b->local_window, 2097152u);
    EXPECT_EQ(b->window_size, 2097152u);
    EXPECT_EQ(b->max_packet, 32768u);
    EXPECT_TRUE(b->window_limited);
    EXPECT_EQ(t.find(27), a);
    EXPECT_EQ(t.find(28), b);
    EXPECT_EQ(t.find(26), nullptr);
    EXPECT_EQ(t.find(0), nullptr);
    t.remove(27);
    EXPECT_EQ(t.find(27), nullptr);
    EXPECT_EQ(t.find(28), b) << "the other row stays where it was";
    EXPECT_EQ(t.add(h, 1, 1, false, 0)->local_id, 27u);
    while (t.size() < ssh::channel_table::max_channels) ASSERT_TRUE(t.add(h, 1, 1, false, 0));
    EXPECT_EQ(t.add(h, 1, 1, false, 0), nullptr);
    EXPECT_EQ(t.find(27 + ssh::channel_table::max_channels - 1)->local_id, 27 + ssh::channel_table::max_channels - 1);
}

TEST(ChannelWindow, TopUpOnceHalfIsUsedAndAnOverrunEmptiesIt) {
    struct step {
        std::size_t arrived;
        std::uint32_t adjust;  // WINDOW_ADJUST to send
        std::uint32_t left;    // window after it
    };
    const step steps[] = {
        {3000, 0, 5000},                      // 8000 - 3000: more than half left
        {1000, 0, 4000},                      // exactly half: not yet
        {1, 4001, 8000},                      // under half: restored to 8000
        {0, 0, 8000},    {9000, 8000, 8000},  // more than allowed: emptied, then restored in full
    };
    ssh::channel c;
    c.local_window = c.window_size = 8000;
    for (const step& s : steps) {
        EXPECT_EQ(ssh::consume_window(c, s.arrived), s.adjust) << s.arrived;
        EXPECT_EQ(c.local_window, s.left) << s.arrived;
    }
}

TEST(ChannelWindow, TheHostsWindowSaturatesAndItsMaximumPacketBoundsEachPiece) {
    ssh::channel c;
    ssh::grow_remote_window(c, 100);
    EXPECT_EQ(c.remote_window, 100u);
    ssh::grow_remote_window(c, 0xFFFFFFF0u);
    EXPECT_EQ(c.remote_window, 0xFFFFFFFFu);
    const struct {
        std::uint32_t host_max;
        std::size_t piece;
    } rows[] = {{0, 32768}, {16384, 16384}, {32768, 32768}, {65536, 32768}};
    for (const auto& r : rows) {
        c.remote_max_packet = r.host_max;
        EXPECT_EQ(ssh::data_piece(c, 32768), r.piece) << r.host_max;
    }
}

}  // namespace
