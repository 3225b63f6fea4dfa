// The toolbar table: validation of a stored layout and collecting the layout from the toolbar.
#include <gtest/gtest.h>

#include "app/commands.h"
#include "app/toolbar_table.h"

namespace {
std::vector<int> commands_of(const toolbar_table& t) {
    std::vector<int> out;
    for (int r : t.used_rows_in_order()) out.push_back(t[r].command);
    return out;
}

bool positions_are_permutation(const toolbar_table& t) {
    std::vector<bool> seen(toolbar_rows_count);
    for (int i = 0; i < toolbar_rows_count; ++i) {
        int p = t[i].position;
        if (p < 0 || p >= toolbar_rows_count || seen[p]) return false;
        seen[p] = true;
    }
    return true;
}

TEST(ToolbarTable, Defaults) {
    toolbar_table t;
    EXPECT_EQ(t.used_count(), 16);
    auto cmds = commands_of(t);
    ASSERT_GE(cmds.size(), 7u);
    EXPECT_EQ(cmds[0], cmd::connect);
    EXPECT_EQ(cmds[1], cmd::disconnect);
    EXPECT_EQ(cmds[2], cmd::copy);
    EXPECT_EQ(cmds[6], cmd::fkey(1));
    EXPECT_EQ(cmds.back(), cmd::fkey(10));
    EXPECT_STREQ(t[2].text, "Mail");
    EXPECT_EQ(t.row_of_command(cmd::customize_toolbar), 29);
    EXPECT_TRUE(positions_are_permutation(t));
    EXPECT_TRUE(t.validate());
}

TEST(ToolbarTable, DuplicatePositionFallsBackToDefaults) {
    toolbar_table t;
    t[0].used = false;
    t[5].position = t[6].position;  // two rows at one place, one place empty
    EXPECT_FALSE(t.validate());
    toolbar_table d;
    EXPECT_EQ(commands_of(t), commands_of(d));
    EXPECT_TRUE(t[0].used);
}

TEST(ToolbarTable, UnusedRowsMoveBehindUsedOnes) {
    toolbar_table t;
    // An unused row in the middle: Open not used but at position 0.
    t[0].used = false;
    ASSERT_TRUE(t.validate());
    EXPECT_TRUE(positions_are_permutation(t));
    int used = t.used_count();
    for (int i = 0; i < toolbar_rows_count; ++i) {
        if (t[i].used)
            EXPECT_LT(t[i].position, used) << i;
        else
            EXPECT_GE(t[i].position, used) << i;
    }
    // The order of the used rows is kept.
    auto cmds = commands_of(t);
    EXPECT_EQ(cmds[0], cmd::disconnect);
    EXPECT_EQ(cmds[1], cmd::copy);
}

TEST(ToolbarTable, CollectSkipsForeignButtonsAndNumbersTheRest) {
    toolbar_table t;
    t.collect({cmd::fkey(20), 99999, cmd::about, cmd::fkey(20), cmd::connect});
    EXPECT_EQ(t.used_count(), 3);
    EXPECT_EQ(commands_of(t), (std::vector<int>{cmd::fkey(20), cmd::about, cmd::connect}));
    EXPECT_TRUE(positions_are_permutation(t));
    // Unused rows follow in table order.
    EXPECT_EQ(t[1].position, 3);  // Close, the first unused row
    EXPECT_TRUE(t.validate());
    // Everything removed: an empty toolbar is valid.
    t.collect({});
    EXPECT_EQ(t.used_count(), 0);
    EXPECT_TRUE(t.validate());
    EXPECT_TRUE(t.used_rows_in_order().empty());
}

TEST(ToolbarTable, StoredCaptions) {
    toolbar_table t;
    t.set_text(14, "Mine");
    EXPECT_STREQ(t[14].text, "F8") << "captions of the first rows are fixed";
    t.set_text(15, "Login");
    EXPECT_STREQ(t[15].text, "Login");
    t.set_text(20, std::string(60, 'x'));
    EXPECT_EQ(std::string(t[20].text), std::string(39, 'x'));
}
}  // namespace
