// Each connect starts a fresh attempt: a pass of the earlier connection still on the stack does not reach the next
// connection, and its attempt outlives it.
#include <gtest/gtest.h>

#include "fakes.h"

namespace {

// The user disconnects and connects again while the first connection's read pass lets the event loop run: that
// pass stops without reading, its attempt lives until the pass has returned, and the new connection reads on.
TEST(Attempt, AConnectInsideTheEarlierPassesEventLoopLeavesThatPassHarmless) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    fake_socket& first = rig.sock();
    first.incoming = {"old"};
    rig.view.during_pump = [&] {
        rig.s.disconnect(true);
        ASSERT_TRUE(rig.connect());
        rig.sock().incoming = {"new"};
    };
    rig.sockets.events[0]->on_read(0);
    EXPECT_EQ(first.reads, 0);
    EXPECT_EQ(rig.s.receive_guard(), 0);
    EXPECT_TRUE(rig.s.connected());
    rig.sockets.events[1]->on_read(0);
    EXPECT_EQ(rig.row(1), "new");
}

}  // namespace
