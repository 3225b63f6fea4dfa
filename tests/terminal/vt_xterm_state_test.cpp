// The xterm emulation's cursor saves, title stack, origin homing, REP, DECRQSS and XTGETTCAP: streams and the screen,
// cursor, replies and titles they leave, byte by byte and in one write; some in the VT220 where they must not act.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "term_fixture.h"

namespace {

const std::string E = "\x1b";
const std::string C = "\x1b[";
const std::string ST = "\x1b\\";
const std::string DCS = "\x1bP";

std::string title(const std::string& t) { return E + "]2;" + t + "\x07"; }

struct state_case {
    const char* name;
    std::string input;
    bool xterm = true;
    std::vector<std::pair<int, std::string>> rows = {};
    int row = 0, col = 0;  // 0: not checked
    std::string replies = {};
    std::vector<std::string> titles = {};
    int own_title_restores = 0;
};

const std::vector<state_case> cases = {
    // Cursor saves
    {.name = "decset_1048",
     .input = C + "5;5H" + C + "?1048h" + C + "H" + C + "?1048lx",
     .rows = {{5, "    x"}},
     .row = 5,
     .col = 6},
    {.name = "scosc_scorc",
     .input = C + "5;5H" + C + "s" + C + "H" + C + "ux",
     .rows = {{5, "    x"}},
     .row = 5,
     .col = 6},
    {.name = "vt220_has_no_scorc",
     .input = C + "5;5H" + C + "s" + C + "H" + C + "ux",
     .xterm = false,
     .rows = {{1, "x"}},
     .row = 1,
     .col = 2},

    {.name = "leaving_1049_twice_restores_twice",
     .input = C + "5;5H" + C + "?1049h" + C + "?1049l" + C + "9;9H" + C + "?1049lx",
     .rows = {{5, "    x"}},
     .row = 5,
     .col = 6},

    // Title stack
    {.name = "push_and_pop",
     .input = title("shell") + C + "22;0t" + title("vim") + C + "23;0t",
     .titles = {"shell", "vim", "shell"}},
    {.name = "push_and_pop_title_only",
     .input = title("shell") + C + "22;2t" + title("vim") + C + "23;2t",
     .titles = {"shell", "vim", "shell"}},
    {.name = "pop_to_before_any_title",
     .input = C + "22;0t" + title("Thanks for flying Vim") + C + "23;0t",
     .titles = {"Thanks for flying Vim"},
     .own_title_restores = 1},
    {.name = "icon_name_stack_leaves_the_title",
     .input = title("a") + C + "22;1t" + title("b") + C + "23;1t",
     .titles = {"a", "b"}},
    {.name = "pop_of_an_empty_stack", .input = title("a") + C + "23;0t", .titles = {"a"}},
    {.name = "nested",
     .input = title("1") + C + "22t" + title("2") + C + "22t" + title("3") + C + "23t" + C + "23t" + C + "23t",
     .titles = {"1", "2", "3", "2", "1"}},
    {.name = "vt220_has_no_stack", .input = C + "22;0t" + title("x") + C + "23;0t", .xterm = false},

    // Origin mode homes to the margins' corner in xterm; the VT220 keeps its column.
    {.name = "decom_homes", .input = C + "5;10r" + C + "3;7H" + C + "?6hx", .rows = {{5, "x"}}, .row = 5, .col = 2},
    {.name = "vt220_decom_keeps_the_column",
     .input = C + "5;10r" + C + "3;7H" + C + "?6hx",
     .xterm = false,
     .rows = {{5, "      x"}},
     .row = 5,
     .col = 8},
    {.name = "decom_cup_clamped_to_the_region", .input = C + "5;10r" + C + "?6h" + C + "20;1Hx", .rows = {{10, "x"}}},

    // REP repeats only a character just printed.
    {.name = "rep_after_text", .input = "ab" + C + "3b", .rows = {{1, "abbbb"}}},
    {.name = "rep_after_rep", .input = "a" + C + "2b" + C + "b", .rows = {{1, "aaaa"}}},
    {.name = "rep_after_sgr", .input = "a" + C + "1m" + C + "3b", .rows = {{1, "a"}}},
    {.name = "rep_after_cr", .input = "a\r" + C + "3b", .rows = {{1, "a"}}},
    {.name = "rep_after_escape", .input = "a" + E + "7" + C + "3b", .rows = {{1, "a"}}},
    {.name = "rep_after_a_string", .input = "a" + title("t") + C + "3b", .rows = {{1, "a"}}, .titles = {"t"}},

    // DECRQSS
    {.name = "decrqss_sgr_plain", .input = DCS + "$qm" + ST, .replies = DCS + "1$r0m" + ST},
    {.name = "decrqss_sgr", .input = C + "1;4;31;103m" + DCS + "$qm" + ST, .replies = DCS + "1$r0;1;4;31;103m" + ST},
    {.name = "decrqss_sgr_extended",
     .input = C + "3;38;5;100;48;2;1;2;3m" + DCS + "$qm" + ST,
     .replies = DCS + "1$r0;3;38;5;100;48;2;1;2;3m" + ST},
    {.name = "decrqss_decstbm", .input = C + "2;20r" + DCS + "$qr" + ST, .replies = DCS + "1$r2;20r" + ST},
    {.name = "decrqss_decslrm", .input = C + "?69h" + C + "3;40s" + DCS + "$qs" + ST, .replies = DCS + "1$r3;40s" + ST},
    {.name = "decrqss_decscusr", .input = C + "4 q" + DCS + "$q q" + ST, .replies = DCS + "1$r4 q" + ST},
    {.name = "decrqss_unknown", .input = DCS + "$qx" + ST, .replies = DCS + "0$r" + ST},
    {.name = "decrqss_8bit_st", .input = DCS + "$qr\x9c", .replies = DCS + "1$r1;24r" + ST},
    {.name = "decrqss_cancelled", .input = DCS + "$qm\x18", .replies = ""},
    {.name = "vt220_no_decrqss", .input = DCS + "$qm" + ST, .xterm = false},

    // XTGETTCAP, names and values hex-encoded
    {.name = "tcap_tn", .input = DCS + "+q544E" + ST, .replies = DCS + "1+r544E=787465726D2D323536636F6C6F72" + ST},
    {.name = "tcap_co_lower_hex", .input = DCS + "+q436f" + ST, .replies = DCS + "1+r436f=323536" + ST},
    {.name = "tcap_rgb", .input = DCS + "+q524742" + ST, .replies = DCS + "1+r524742=38" + ST},
    {.name = "tcap_two",
     .input = DCS + "+q544E;436F" + ST,
     .replies = DCS + "1+r544E=787465726D2D323536636F6C6F72;436F=323536" + ST},
    {.name = "tcap_unknown", .input = DCS + "+q7878" + ST, .replies = DCS + "0+r7878" + ST},
    {.name = "tcap_not_hex", .input = DCS + "+qZZ" + ST, .replies = DCS + "0+rZZ" + ST},
    {.name = "vt220_no_tcap", .input = DCS + "+q544E" + ST, .xterm = false},
};

void PrintTo(const state_case& c, std::ostream* os) { *os << c.name; }

class VtXtermState : public ::testing::TestWithParam<std::tuple<state_case, bool>> {};

TEST_P(VtXtermState, Stream) {
    const auto& [c, one_write] = GetParam();
    term_fixture t;
    t.term.set_emulation(c.xterm ? emulation::xterm : emulation::vt220);
    t.feed(c.input, one_write);
    for (const auto& [row, text] : c.rows) EXPECT_EQ(t.text(row), text) << "row " << row;
    if (c.row) {
        EXPECT_EQ(t.term.cursor_row(), c.row);
        EXPECT_EQ(t.term.cursor_column(), c.col);
    }
    EXPECT_EQ(t.replies, c.replies);
    EXPECT_EQ(t.host.titles, c.titles);
    EXPECT_EQ(t.host.own_title_restores, c.own_title_restores);
}

INSTANTIATE_TEST_SUITE_P(Cases, VtXtermState, ::testing::Combine(::testing::ValuesIn(cases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_one_write" : "_bytewise");
                         });

// The stack keeps the newest ten: eleven pushes, then eleven pops restore ten titles, newest first.
TEST(VtXtermState, TitleStackIsBounded) {
    term_fixture t;
    t.term.set_emulation(emulation::xterm);
    for (int i = 0; i <= vt_title_stack; ++i) t.feed(title(std::to_string(i)) + C + "22t");
    t.host.titles.clear();
    for (int i = 0; i <= vt_title_stack; ++i) t.feed(C + "23t");
    std::vector<std::string> expected;
    for (int i = vt_title_stack; i >= 1; --i) expected.push_back(std::to_string(i));
    EXPECT_EQ(t.host.titles, expected);
}

}  // namespace
