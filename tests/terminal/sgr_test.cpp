// The SGR unit in both profiles (parameters straight from the parameter string), and colours and further
// attributes travelling with their cells through the screen operations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "term_fixture.h"
#include "terminal/sgr.h"

namespace {

const std::string C = "\x1b[";

cell_pen pen_of(uint16_t attr, uint32_t fg = 0, uint32_t bg = 0, uint16_t extra = 0) {
    cell_pen p;
    p.attr = attr;
    p.fg = fg;
    p.bg = bg;
    p.extra = extra;
    return p;
}

csi_params parse(const std::string& text) {
    csi_params p;
    p.value[3] = 7;  // left from an earlier sequence
    parse_csi_params(text.data(), int(text.size()), p);
    return p;
}

cell_pen apply(const std::string& params, sgr_profile profile, cell_pen start = {}) {
    apply_sgr(parse(params), profile, start);
    return start;
}

std::string show(const cell_pen& p) {
    return "attr " + std::to_string(p.attr) + " fg " + std::to_string(dump_colour(p.fg)) + " bg " +
           std::to_string(dump_colour(p.bg)) + " extra " + std::to_string(p.extra);
}

TEST(CsiParams, SubParametersAndEmptyFieldsAreKept) {
    const csi_params p = parse("1;38:2::10:20:30;;4");
    ASSERT_EQ(p.count, 9);
    const int values[] = {1, 38, 2, 0, 10, 20, 30, 0, 4};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(p.value[i], values[i]) << i;
    EXPECT_EQ(p.sub, 0b1111100u);     // entries 2..6 follow a colon
    EXPECT_EQ(p.empty, 0b10001000u);  // the colour space and the field between ";;"
    EXPECT_EQ(p.group_end(0), 1);
    EXPECT_EQ(p.group_end(1), 7);
    EXPECT_TRUE(p.is_empty(9));  // past the end
    const csi_params none = parse("");
    EXPECT_EQ(none.count, 1);
    EXPECT_TRUE(none.is_empty(0));
    EXPECT_EQ(parse("99999999999").value[0], INT32_MAX);
}

struct sgr_case {
    const char* params;
    cell_pen start;
    cell_pen xterm;  // pen after the xterm profile
    cell_pen vt220;  // pen after the VT220 profile
};

void PrintTo(const sgr_case& c, std::ostream* os) { *os << '"' << c.params << '"'; }

const cell_pen none{};
const cell_pen all_on =
    pen_of(cell_bold | cell_underline | cell_blink | cell_reverse | cell_protected, colour_index(1),
           colour_rgb(1, 2, 3), extra_dim | extra_italic | extra_strike | extra_invisible | extra_overline);
constexpr uint16_t U = cell_underline;

const std::vector<sgr_case> sgr_cases = {
    // Resets. SGR 0 in the VT220 clears the protection too, as it always has; xterm keeps DECSCA apart.
    {"0", all_on, pen_of(cell_protected), none},
    {"", all_on, pen_of(cell_protected), none},
    {";", all_on, pen_of(cell_protected), none},
    // Attributes on.
    {"1", none, pen_of(cell_bold), pen_of(cell_bold)},
    {"2", none, pen_of(0, 0, 0, extra_dim), none},
    {"3", none, pen_of(0, 0, 0, extra_italic), none},
    {"4", none, pen_of(U), pen_of(U)},
    {"5", none, pen_of(cell_blink), pen_of(cell_blink)},
    {"7", none, pen_of(cell_reverse), pen_of(cell_reverse)},
    {"8", none, pen_of(0, 0, 0, extra_invisible), none},
    {"9", none, pen_of(0, 0, 0, extra_strike), none},
    {"21", pen_of(U), pen_of(0, 0, 0, extra_double_underline), pen_of(U)},
    {"53", none, pen_of(0, 0, 0, extra_overline), none},
    // Underline styles: 4:0 none, 4:1 single, 4:2 double, the rest single; an unknown style changes nothing.
    {"4:0", pen_of(U, 0, 0, extra_double_underline), none, pen_of(U, 0, 0, extra_double_underline)},
    {"4:1", pen_of(0, 0, 0, extra_double_underline), pen_of(U), pen_of(U, 0, 0, extra_double_underline)},
    {"4:2", pen_of(U), pen_of(0, 0, 0, extra_double_underline), pen_of(U)},
    {"4:3", none, pen_of(U), pen_of(U)},
    {"4:4", none, pen_of(U), pen_of(U)},
    {"4:5", none, pen_of(U), pen_of(U)},
    {"4:6", pen_of(0, 0, 0, extra_double_underline), pen_of(0, 0, 0, extra_double_underline),
     pen_of(U, 0, 0, extra_double_underline)},
    // Sub-parameters on other values: the parameter is ignored, the rest applies.
    {"1:2;5", none, pen_of(cell_blink), pen_of(cell_bold | cell_blink)},
    // Attributes off.
    {"22", all_on,
     pen_of(U | cell_blink | cell_reverse | cell_protected, colour_index(1), colour_rgb(1, 2, 3),
            extra_italic | extra_strike | extra_invisible | extra_overline),
     pen_of(U | cell_blink | cell_reverse | cell_protected, colour_index(1), colour_rgb(1, 2, 3), all_on.extra)},
    {"23", pen_of(0, 0, 0, extra_italic | extra_dim), pen_of(0, 0, 0, extra_dim),
     pen_of(0, 0, 0, extra_italic | extra_dim)},
    {"24", pen_of(U, 0, 0, extra_double_underline), none, pen_of(0, 0, 0, extra_double_underline)},
    {"25", pen_of(cell_blink | cell_bold), pen_of(cell_bold), pen_of(cell_bold)},
    {"27", pen_of(cell_reverse | cell_bold), pen_of(cell_bold), pen_of(cell_bold)},
    {"28", pen_of(0, 0, 0, extra_invisible | extra_strike), pen_of(0, 0, 0, extra_strike),
     pen_of(0, 0, 0, extra_invisible | extra_strike)},
    {"29", pen_of(0, 0, 0, extra_strike), none, pen_of(0, 0, 0, extra_strike)},
    {"55", pen_of(0, 0, 0, extra_overline), none, pen_of(0, 0, 0, extra_overline)},
    // Eight and sixteen colours; 40 is the VT220's old clear-everything.
    {"30", none, pen_of(0, colour_index(0)), none},
    {"37", none, pen_of(0, colour_index(7)), none},
    {"90", none, pen_of(0, colour_index(8)), none},
    {"97", none, pen_of(0, colour_index(15)), none},
    {"40", pen_of(cell_bold), pen_of(cell_bold, 0, colour_index(0)), none},
    {"47", none, pen_of(0, 0, colour_index(7)), none},
    {"100", none, pen_of(0, 0, colour_index(8)), none},
    {"107", none, pen_of(0, 0, colour_index(15)), none},
    {"39", pen_of(0, colour_index(3), colour_index(4)), pen_of(0, 0, colour_index(4)),
     pen_of(0, colour_index(3), colour_index(4))},
    {"49", pen_of(0, colour_index(3), colour_index(4)), pen_of(0, colour_index(3)),
     pen_of(0, colour_index(3), colour_index(4))},
    // 256 colours and direct colours in every form; the VT220 skips them and applies what follows.
    {"38;5;196", none, pen_of(0, colour_index(196)), none},
    {"48;5;0", none, pen_of(0, 0, colour_index(0)), none},
    {"38;2;10;20;30;1", none, pen_of(cell_bold, colour_rgb(10, 20, 30)), pen_of(cell_bold)},
    {"48;2;255;0;7;5", none, pen_of(cell_blink, 0, colour_rgb(255, 0, 7)), pen_of(cell_blink)},
    {"38:5:46;7", none, pen_of(cell_reverse, colour_index(46)), pen_of(cell_reverse)},
    {"38:2::10:20:30;4", none, pen_of(U, colour_rgb(10, 20, 30)), pen_of(U)},
    {"38:2:10:20:30", none, pen_of(0, colour_rgb(10, 20, 30)), none},
    {"48:2:1:10:20:30", none, pen_of(0, 0, colour_rgb(10, 20, 30)), none},  // colour space 1 is skipped
    {"38;5:46;1", none, pen_of(cell_bold, colour_index(46)), none},         // the VT220 skips two parameters
    {"38;2:10:20:30", none, pen_of(0, colour_rgb(10, 20, 30)), none},
    {"38;2:0:10:20:30", none, pen_of(0, colour_rgb(10, 20, 30)), none},
    {"1;38;5;46;4", none, pen_of(cell_bold | U, colour_index(46)), pen_of(cell_bold | U)},
    {"38;5;1;48;5;4;7", none, pen_of(cell_reverse, colour_index(1), colour_index(4)), pen_of(cell_reverse)},
    // Malformed colours: the form's parameters are taken, the colour stays, what follows still applies.
    {"38;5;256;1", pen_of(0, colour_index(3)), pen_of(cell_bold, colour_index(3)), pen_of(cell_bold, colour_index(3))},
    {"38;5;;1", pen_of(0, colour_index(3)), pen_of(cell_bold, colour_index(3)), pen_of(cell_bold, colour_index(3))},
    {"38;5", pen_of(0, colour_index(3)), pen_of(0, colour_index(3)), pen_of(0, colour_index(3))},
    {"38", pen_of(0, colour_index(3)), pen_of(0, colour_index(3)), pen_of(0, colour_index(3))},
    {"38;2;1;2", pen_of(0, colour_index(3)), pen_of(0, colour_index(3)), pen_of(0, colour_index(3))},
    {"38;2;1;2;300;4", pen_of(0, colour_index(3)), pen_of(U, colour_index(3)), pen_of(U, colour_index(3))},
    {"38;2;1;;3;5", none, pen_of(cell_blink), pen_of(cell_blink)},
    {"38;3;1", none, pen_of(cell_bold), pen_of(cell_bold)},  // unknown colour model: only its number is taken
    {"38:5:300;1", none, pen_of(cell_bold), pen_of(cell_bold)},
    {"38:5;1", none, pen_of(cell_bold), pen_of(cell_bold)},
    {"38:5:;1", none, pen_of(cell_bold), pen_of(cell_bold)},
    {"38:2:1:2;4", none, pen_of(U), pen_of(U)},
    {"48:2::1:2:256;4", pen_of(0, 0, colour_index(9)), pen_of(U, 0, colour_index(9)), pen_of(U, 0, colour_index(9))},
    {"38:7:1:2:3;5", none, pen_of(cell_blink), pen_of(cell_blink)},
};

class SgrProfiles : public ::testing::TestWithParam<sgr_case> {};

TEST_P(SgrProfiles, PenAfterParameters) {
    const sgr_case& c = GetParam();
    EXPECT_EQ(show(apply(c.params, sgr_profile::xterm, c.start)), show(c.xterm)) << "xterm: " << c.params;
    EXPECT_EQ(show(apply(c.params, sgr_profile::vt220, c.start)), show(c.vt220)) << "vt220: " << c.params;
}

INSTANTIATE_TEST_SUITE_P(Cases, SgrProfiles, ::testing::ValuesIn(sgr_cases));

// A sequence without sub-parameters goes by per-value steps; one with any goes through the profile's function
// whole. "99:0" is a parameter neither profile acts on, so putting it first must change nothing: every value alone
// and in pairs, and sequences with colours between plain values, from pens with and without attributes.
TEST(SgrSteps, AgreeWithTheProfilesFunction) {
    const cell_pen starts[] = {none, all_on, pen_of(cell_graphics | U, colour_rgb(9, 8, 7), colour_index(200))};
    std::vector<std::string> sequences;
    for (int v = 0; v < 300; ++v) sequences.push_back(std::to_string(v));
    for (int a = 0; a < 110; a += 3)
        for (int b = 0; b < 110; ++b) sequences.push_back(std::to_string(a) + ";" + std::to_string(b));
    for (const char* s : {"1;38;5;46;4;49", "0;31;48;2;1;2;3;7;22", "38;5;3;48;5;4", "1;2;38;5", "7;;1;300;4",
                          "38;2;1;2;300;4;39", "1;38;3;1;5", "45;38;5;;27"})
        sequences.push_back(s);
    for (const sgr_profile profile : {sgr_profile::xterm, sgr_profile::vt220})
        for (const cell_pen& start : starts)
            for (const std::string& s : sequences)
                ASSERT_EQ(show(apply(s, profile, start)), show(apply("99:0;" + s, profile, start)))
                    << s << (profile == sgr_profile::xterm ? " xterm" : " vt220") << " from " << show(start);
}

// ---------------------------------------------------------------------------------------------------------------
// The emulator with the xterm profile: colon sub-parameters reach the unit and the pen reaches the cells.

struct xterm_fixture : term_fixture {
    xterm_fixture() { term.options().sgr = sgr_profile::xterm; }
    cell_colours colours(int row, int col) const { return ring->line(row).colours(col); }
};

TEST(SgrStream, XtermProfileTakesColonsAndColoursTheCells) {
    for (bool one_write : {false, true}) {
        xterm_fixture t;
        t.feed(C + "4:3;38:2::10:20:30m" + C + "48;5;17;3mAB" + C + "0mC", one_write);
        EXPECT_EQ(t.text(1), "ABC");
        EXPECT_EQ(t.attrs(1, 1), cell_underline);
        EXPECT_EQ(t.colours(1, 2), (cell_colours{colour_rgb(10, 20, 30), colour_index(17), extra_italic}));
        EXPECT_EQ(t.colours(1, 3), cell_colours{});
        EXPECT_EQ(t.attrs(1, 3), 0u);
        // A sub-parameter still drops any other final.
        t.feed(C + "2:3Hx", one_write);
        EXPECT_EQ(t.term.cursor_row(), 1);
        EXPECT_EQ(t.text(1), "ABCx");
    }
}

TEST(SgrStream, VtProfileLeavesCellsPlain) {
    term_fixture t;
    t.feed(C + "31;42;3;9;38;5;200mA" + C + "38:2::1:2:3mB");
    EXPECT_EQ(t.text(1), "AB");
    for (int col = 1; col <= 2; ++col) EXPECT_TRUE(t.ring->line(1).colours(col).plain()) << col;
}

// Save/restore cursor and the split windows keep the whole pen.
TEST(SgrStream, SavedCursorKeepsColours) {
    xterm_fixture t;
    t.feed(C +
           "38;5;9;2m\x1b"
           "7" +
           C +
           "0m\x1b"
           "8X");
    EXPECT_EQ(t.colours(1, 1), (cell_colours{colour_index(9), 0, extra_dim}));
}

// ---------------------------------------------------------------------------------------------------------------
// Colours move with their cells.

const cell_colours red{colour_index(1), colour_rgb(9, 9, 9), extra_italic};
const cell_colours blue{colour_index(4), 0, extra_strike};

struct ring_fixture {
    std::unique_ptr<screen_ring> ring = std::make_unique<screen_ring>();

    void write(int row, int col, const char* text, const cell_colours& k) {
        cell_pen p;
        static_cast<cell_colours&>(p) = k;
        ring->set_pen(p);
        ring->put_run(row, col, reinterpret_cast<const uint8_t*>(text), int(std::strlen(text)), 0);
        ring->set_pen({});
    }
    cell_colours at(int row, int col) const { return ring->line(row).colours(col); }
    char ch(int row, int col) const { return char(ring->line(row).cell(col) & 0xFF); }
};

TEST(ColoursMove, InsertAndDeleteCellsShiftThemAndBlankWithTheErasePen) {
    ring_fixture f;
    f.write(1, 1, "ab", red);
    f.write(1, 3, "cd", blue);
    f.ring->insert_cells(1, 2, 2, ' ');
    EXPECT_EQ(f.at(1, 1), red);
    EXPECT_EQ(f.at(1, 2), cell_colours{});
    EXPECT_EQ(f.at(1, 3), cell_colours{});
    EXPECT_EQ(f.ch(1, 4), 'b');
    EXPECT_EQ(f.at(1, 4), red);
    EXPECT_EQ(f.at(1, 5), blue);
    f.ring->delete_chars(1, 1, 3);
    EXPECT_EQ(f.ch(1, 1), 'b');
    EXPECT_EQ(f.at(1, 1), red);
    EXPECT_EQ(f.at(1, 2), blue);
    EXPECT_EQ(f.at(1, 80), cell_colours{});
    f.ring->insert_blank(1, 1);
    EXPECT_EQ(f.at(1, 2), red);
    f.ring->delete_char(1, 1);
    f.ring->delete_char(1, 1);
    EXPECT_EQ(f.at(1, 1), blue);
    EXPECT_EQ(f.at(1, 79), cell_colours{});
}

TEST(ColoursMove, ScrollingCarriesLinesAndBlanksNewOnes) {
    ring_fixture f;
    f.write(5, 1, "x", red);
    f.write(24, 1, "y", blue);
    f.ring->scroll_up(1, 3, 10);  // a region: line 5 moves to 4, line 10 comes in blank
    EXPECT_EQ(f.at(4, 1), red);
    EXPECT_EQ(f.at(5, 1), cell_colours{});
    f.ring->scroll_down(2, 3, 10);
    EXPECT_EQ(f.at(6, 1), red);
    EXPECT_EQ(f.at(4, 1), cell_colours{});
    f.ring->scroll_up(1, 1, screen_rows);  // the whole screen: line 24 moves up, a blank line comes in
    EXPECT_EQ(f.at(23, 1), blue);
    EXPECT_EQ(f.at(24, 1), cell_colours{});
    EXPECT_EQ(f.ring->history_line(history_lines).colours(1), cell_colours{});
    f.ring->scroll_up(5, 1, screen_rows);
    EXPECT_EQ(f.ring->history_line(history_lines).colours(1), red);  // old row 6, now just above row 1
    f.ring->copy_line(1, 18);                                        // old row 23 after five more lines
    EXPECT_EQ(f.at(1, 1), blue);
}

TEST(ColoursMove, PlainWritesAndErasesClearColoursLeftBefore) {
    ring_fixture f;
    f.write(2, 1, "abcdef", red);
    f.write(2, 2, "XY", cell_colours{});  // plain text over a coloured line
    EXPECT_EQ(f.at(2, 1), red);
    EXPECT_EQ(f.at(2, 2), cell_colours{});
    EXPECT_EQ(f.at(2, 3), cell_colours{});
    f.ring->put_char('Z', 2, 4);
    EXPECT_EQ(f.at(2, 4), cell_colours{});
    f.ring->fill_line(2, ' ', true);
    for (int c = 1; c <= line_cells; ++c) ASSERT_EQ(f.at(2, c), cell_colours{}) << c;
    // Erased lines become plain again: plain text on them is plain.
    f.write(2, 1, "q", cell_colours{});
    EXPECT_EQ(f.at(2, 1), cell_colours{});
    // Selective erase keeps protected cells with their colours.
    cell_pen p;
    static_cast<cell_colours&>(p) = blue;
    p.attr = cell_protected;
    f.ring->set_pen(p);
    f.ring->put_char('P', 3, 1);
    f.ring->put_char('Q', 3, 2);
    f.ring->set_pen({});
    f.ring->put_cell('R', 3, 2);  // unprotected now
    f.ring->fill_line_selective(3, ' ', false);
    EXPECT_EQ(f.ch(3, 1), 'P');
    EXPECT_EQ(f.at(3, 1), blue);
    EXPECT_EQ(f.ch(3, 2), ' ');
}

TEST(ColoursMove, BackgroundColourEraseIsTheOneSwitch) {
    ring_fixture f;
    cell_pen p;
    p.fg = colour_index(2);
    p.bg = colour_index(5);
    p.extra = extra_overline;
    f.ring->set_pen(p);
    EXPECT_EQ(f.ring->erase_pen(), cell_pen{});
    f.ring->fill_line(1, ' ', false);
    EXPECT_EQ(f.at(1, 1), cell_colours{});
    f.ring->set_background_colour_erase(true);
    cell_pen bce;
    bce.bg = colour_index(5);
    EXPECT_EQ(f.ring->erase_pen(), bce);
    f.ring->fill_line(1, ' ', false);
    f.ring->delete_chars(2, 1, 3);
    f.ring->scroll_up(1, 1, screen_rows);
    EXPECT_EQ(f.ring->history_line(history_lines).colours(10), static_cast<cell_colours>(bce));  // old row 1
    EXPECT_EQ(f.at(1, 78), static_cast<cell_colours>(bce));  // the deleted cells' blanks, now row 1
    EXPECT_EQ(f.at(1, 77), cell_colours{});
    EXPECT_EQ(f.at(24, 1), static_cast<cell_colours>(bce));
}

// Writing over half of a wide character blanks the other half, which keeps its colours like its attribute bits.
TEST(ColoursMove, SplitWideCharacterLeavesAColouredBlank) {
    for (bool one_write : {false, true}) {
        xterm_fixture t;
        t.term.options().utf8 = true;
        t.feed(C + "4;44m\xe4\xb8\xad\xe4\xb8\xad" + C + "0m", one_write);  // two wide characters, columns 1-4
        t.feed(C + "1;2Hx" + C + "1;3Hy", one_write);
        EXPECT_EQ(t.cell(1, 1), cell_underline | cell_blank);
        EXPECT_EQ(t.colours(1, 1).bg, colour_index(4));
        EXPECT_TRUE(t.colours(1, 2).plain());
        EXPECT_TRUE(t.colours(1, 3).plain());
        EXPECT_EQ(t.cell(1, 4), cell_underline | cell_blank);
        EXPECT_EQ(t.colours(1, 4).bg, colour_index(4));
    }
}

// Erases, insert and delete through the emulator (xterm profile, no background colour erase yet).
TEST(ColoursMove, EmulatorEditsKeepColoursWithTheirCharacters) {
    xterm_fixture t;
    t.feed(C + "31mabc" + C + "44mdef" + C + "0m\r\n" + C + "32mline2" + C + "0m");
    t.feed(C + "1;2H" + C + "2@");  // ICH: b moves to column 4
    EXPECT_EQ(t.text(1), "a  bcdef");
    EXPECT_EQ(t.colours(1, 4).fg, colour_index(1));
    EXPECT_TRUE(t.colours(1, 2).plain());
    t.feed(C + "1;1H" + C + "3P");  // DCH: b back to column 1
    EXPECT_EQ(t.text(1), "bcdef");
    EXPECT_EQ(t.colours(1, 1).fg, colour_index(1));
    EXPECT_EQ(t.colours(1, 3).bg, colour_index(4));
    t.feed(C + "1;1H" + C + "L");  // IL: both lines move down with their colours
    EXPECT_EQ(t.colours(2, 1).fg, colour_index(1));
    EXPECT_EQ(t.colours(3, 1).fg, colour_index(2));
    EXPECT_TRUE(t.colours(1, 1).plain());
    t.feed(C + "M");  // DL
    EXPECT_EQ(t.colours(2, 1).fg, colour_index(2));
    t.feed(C + "1;4H" + C + "41m" + C + "K");  // EL with a coloured pen: blanks are plain without BCE
    EXPECT_EQ(t.text(1), "bcd");
    EXPECT_TRUE(t.colours(1, 4).plain());
    EXPECT_EQ(t.colours(1, 3).bg, colour_index(4));
    t.feed(C + "1;2H" + C + "1X");  // ECH
    EXPECT_TRUE(t.colours(1, 2).plain());
    t.feed(C + "2J");
    EXPECT_TRUE(t.colours(1, 1).plain());
    EXPECT_TRUE(t.colours(2, 1).plain());
}

}  // namespace
