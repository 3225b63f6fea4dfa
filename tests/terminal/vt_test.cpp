// Emulator behaviour beyond the characters on screen: attributes, character sets, modes, the host and printer
// interfaces, the reply slot, split screen and reset.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "term_fixture.h"

namespace {

const std::string E = "\x1b";
const std::string C = "\x1b[";

struct VtAttributes : ::testing::Test {
    term_fixture t;
};

TEST_F(VtAttributes, SgrSetsAndClearsEachAttribute) {
    t.feed(C + "1mA" + C + "4mB" + C + "5mC" + C + "7mD" + C + "22mE" + C + "24mF" + C + "25mG" + C + "27mH");
    EXPECT_EQ(t.attrs(1, 1), cell_bold);
    EXPECT_EQ(t.attrs(1, 2), cell_bold | cell_underline);
    EXPECT_EQ(t.attrs(1, 3), cell_bold | cell_underline | cell_blink);
    EXPECT_EQ(t.attrs(1, 4), cell_bold | cell_underline | cell_blink | cell_reverse);
    EXPECT_EQ(t.attrs(1, 5), cell_underline | cell_blink | cell_reverse);
    EXPECT_EQ(t.attrs(1, 6), cell_blink | cell_reverse);
    EXPECT_EQ(t.attrs(1, 7), cell_reverse);
    EXPECT_EQ(t.attrs(1, 8), 0u);
}

TEST_F(VtAttributes, SgrZeroAnd40ClearEverythingColoursAreIgnored) {
    t.feed(C + "1;4;31;44mA" + C + "0mB" + C + "1;7m" + C + "40mC" + C + "1\"q" + C + "7mD" + C + "mE");
    EXPECT_EQ(t.attrs(1, 1), cell_bold | cell_underline);
    EXPECT_EQ(t.attrs(1, 2), 0u);
    EXPECT_EQ(t.attrs(1, 3), 0u);
    EXPECT_EQ(t.attrs(1, 4), cell_protected | cell_reverse);
    EXPECT_EQ(t.attrs(1, 5), 0u);  // SGR 0 also drops protection
}

TEST_F(VtAttributes, ErasesUseNoAttributeAndRestoreIt) {
    t.feed("abcdef" + C + "7m" + C + "1;2H" + C + "2X" + C + "K" + C + "2;1H" + C + "J" + "z");
    for (int c = 2; c <= 80; ++c) EXPECT_EQ(t.cell(1, c), cell_blank) << c;
    EXPECT_EQ(t.cell(2, 1), cell_reverse | 'z');
}

TEST_F(VtAttributes, InsertedBlanksCarryTheCurrentAttribute) {
    t.feed("ab" + C + "1;1H" + C + "7m" + C + "@");  // no count: nothing
    EXPECT_EQ(t.text(1), "ab");
    t.feed(C + "1@");
    EXPECT_EQ(t.cell(1, 1), cell_reverse | ' ');
    EXPECT_EQ(t.text(1), " ab");
}

TEST_F(VtAttributes, SelectiveEraseSparesProtectedCells) {
    t.feed(C + "1\"qPP" + C + "0\"quu" + C + "2\"q" + C + "1q");  // CSI 1 q without '"' does nothing
    t.feed("vv" + C + "1;1H" + C + "?K");
    EXPECT_EQ(t.text(1), "PP");
    t.feed(C + "1;3Hxx" + C + "1;1H" + C + "2K");  // plain EL erases protected cells too
    EXPECT_EQ(t.text(1), "");

    term_fixture u;
    u.feed(C + "1\"qKEEP" + C + "0\"q" + C + "2;1Hgone" + C + "?2J");
    EXPECT_EQ(u.text(1), "KEEP");
    EXPECT_EQ(u.text(2), "");
    u.feed(C + "1;1H" + C + "?2K");
    EXPECT_EQ(u.text(1), "KEEP");
    u.feed(C + "1;1H" + C + "?1J" + C + "?0J");
    EXPECT_EQ(u.text(1), "KEEP");
}

TEST_F(VtAttributes, LineAttributesAndRowMarks) {
    t.ring->clear_marks();
    t.feed(E + "#3");
    EXPECT_EQ(t.ring->line_attr(1), line_double_width | line_double_top);
    EXPECT_TRUE(t.ring->row_marked(1));
    t.feed("\n" + E + "#4");
    EXPECT_EQ(t.ring->line_attr(2), line_double_width | line_double_bottom);
    t.feed("\n" + E + "#6");
    EXPECT_EQ(t.ring->line_attr(3), line_double_width);
    t.feed(E + "#5");
    EXPECT_EQ(t.ring->line_attr(3), 0u);
    t.ring->clear_marks();
    t.feed(E + "#9");  // unknown: still marks the cursor row
    EXPECT_TRUE(t.ring->row_marked(3));
    t.feed(E + "#8");  // DECALN keeps line attributes
    EXPECT_EQ(t.ring->line_attr(1), line_double_width | line_double_top);
    t.feed(C + "2J");  // ED resets them
    EXPECT_EQ(t.ring->line_attr(1), 0u);
}

TEST_F(VtAttributes, PutCharOfSameTextMarksNothing) {
    t.feed("hello");
    t.ring->clear_marks();
    t.feed("\rhello");
    EXPECT_FALSE(t.ring->row_marked(1));
    t.feed("\rhellO");
    EXPECT_TRUE(t.ring->row_marked(1));
    EXPECT_EQ(t.ring->cell_mark(1, 5), mark_repaint);
    EXPECT_EQ(t.ring->cell_mark(1, 4), mark_clean);
}

struct VtCharsets : ::testing::Test {
    term_fixture t;
};

TEST_F(VtCharsets, ShiftOutUsesGraphicsAfterReset) {
    t.feed("q\x0eq\x0fq");
    EXPECT_EQ(t.cell(1, 1), uint32_t('q'));
    EXPECT_EQ(t.cell(1, 2), cell_graphics | 'q');
    EXPECT_EQ(t.cell(1, 3), uint32_t('q'));
    EXPECT_EQ(t.ring->attr(), 0);  // graphics is per character, not left in the current attribute
}

TEST_F(VtCharsets, DesignationFollowsTheInvokedSet) {
    t.feed(E + "(0a" + E + "(Bb" + E + "(0" + E + "(Ac");
    EXPECT_EQ(t.cell(1, 1), cell_graphics | 'a');
    EXPECT_EQ(t.cell(1, 2), uint32_t('b'));
    EXPECT_EQ(t.cell(1, 3), uint32_t('c'));
    t.feed("\x0e" + E + ")Bd" + E + ")0e" + E +
           "(0\x0f"
           "f");
    EXPECT_EQ(t.cell(1, 4), uint32_t('d'));
    EXPECT_EQ(t.cell(1, 5), cell_graphics | 'e');
    EXPECT_EQ(t.cell(1, 6), cell_graphics | 'f');  // G0 was made graphics while G1 was invoked
    t.feed(E + ")" + E + "[5n");                   // ESC inside a designation starts a new sequence
    EXPECT_EQ(t.replies, "\x1b[0n");
}

// A designation read whole from a block must leave what the byte path leaves: the sets, the invoked one's effect
// on the next characters, and REP forgetting the character before it.
TEST(VtDesignation, OneWriteMatchesBytewise) {
    const std::string stream = "a" + E + "(B" + C + "3b" + E + "(0a" + E + "(Bb\x0e" + E + ")Bd" + E + ")0e" + E +
                               "(0\x0f"
                               "f" +
                               E + "(Kq" + E + ")Ar" + C + "2b";
    term_fixture bytewise, one_write;
    bytewise.term.set_emulation(emulation::xterm);  // the VT220 has no REP
    one_write.term.set_emulation(emulation::xterm);
    bytewise.feed(stream);
    one_write.feed(stream, true);
    EXPECT_EQ(bytewise.cell(1, 2), cell_graphics | 'a');  // the REP after ESC ( B repeated nothing
    for (int col = 1; col <= 12; ++col) EXPECT_EQ(one_write.cell(1, col), bytewise.cell(1, col)) << "column " << col;
    EXPECT_EQ(one_write.term.g0(), bytewise.term.g0());
    EXPECT_EQ(one_write.term.g1(), bytewise.term.g1());
    EXPECT_EQ(one_write.term.cursor_column(), bytewise.term.cursor_column());
}

TEST_F(VtCharsets, SaveRestoreCoversAttributeSetsAndWrap) {
    t.feed(C + "1m" + E + "(0\x0e" + C + "1;80Hx" + E + "7");
    ASSERT_EQ(t.term.pending_wrap(), 1);
    t.feed(C + "m" + E + "(B" + E + ")B\x0f" + C + "5;5Hy" + E + "8z");
    EXPECT_EQ(t.term.cursor_row(), 2);
    EXPECT_EQ(t.term.cursor_column(), 2);
    EXPECT_EQ(t.cell(2, 1), cell_bold | cell_graphics | 'z');  // the saved wrap was still pending
    EXPECT_EQ(t.term.g0(), 1);
    EXPECT_EQ(t.term.g1(), 1);
}

TEST_F(VtCharsets, RestoreWithoutSaveGoesHome) {
    t.feed(C + "7;7H" + C + "1m" + E + "8x");
    EXPECT_EQ(t.cell(1, 1), uint32_t('x'));
}

struct VtModes : ::testing::Test {
    term_fixture t;
};

TEST_F(VtModes, KeyboardFlags) {
    t.feed(E + "=");
    EXPECT_EQ(t.term.app_keys(), 1);
    t.feed(E + ">");
    EXPECT_EQ(t.term.app_keys(), 0);
    t.feed(C + "?1h");
    EXPECT_EQ(t.term.app_keys(), 1);
    t.feed(C + "?1;8;25l");
    EXPECT_EQ(t.term.app_keys(), 0);
    EXPECT_EQ(t.term.auto_repeat(), 0);
    EXPECT_EQ(t.term.cursor_visible(), 0);
    t.feed(C + "?8;25h" + C + "20h");
    EXPECT_EQ(t.term.auto_repeat(), 1);
    EXPECT_EQ(t.term.cursor_visible(), 1);
    EXPECT_EQ(t.term.new_line_mode(), 1);
    t.feed(C + "20l");
    EXPECT_EQ(t.term.new_line_mode(), 0);
    t.feed(C + "?2l");
    EXPECT_EQ(t.term.vt52_mode(), 1);
    t.feed(C + "?2h");  // only ESC < leaves VT52 mode
    EXPECT_EQ(t.term.vt52_mode(), 1);
    t.feed(E + "<");
    EXPECT_EQ(t.term.vt52_mode(), 0);
    EXPECT_EQ(t.term.vt100_level(), 1);
}

TEST_F(VtModes, HostHearsAboutEchoReverseScreenAndColumns) {
    t.feed(C + "12h");
    EXPECT_EQ(t.host.local_echo, 0);
    t.feed(C + "12l");
    EXPECT_EQ(t.host.local_echo, 1);
    t.feed(C + "?5h");
    EXPECT_EQ(t.host.reverse, 1);
    t.feed(C + "?5l");
    EXPECT_EQ(t.host.reverse, 0);
    t.feed(C + "?3h");
    EXPECT_EQ(t.host.last_columns, 132);
    EXPECT_EQ(t.ring->columns(), 132);
    t.feed(C + "1;132Hx");
    EXPECT_EQ(t.cell(1, 132), uint32_t('x'));
    EXPECT_EQ(t.term.pending_wrap(), 1);
    t.feed(C + "?3l");
    EXPECT_EQ(t.ring->columns(), 80);
    EXPECT_EQ(t.term.pending_wrap(), 0);
    EXPECT_EQ(t.host.columns_calls, 2);
}

TEST_F(VtModes, TabStopsReach132Columns) {
    t.term.set_columns(132);
    t.feed(C + "1;121H\tx\t");
    EXPECT_EQ(t.cell(1, 129), uint32_t('x'));
    EXPECT_EQ(t.term.cursor_column(), 131);
    EXPECT_EQ(t.term.tab_column(1), 9);
    EXPECT_EQ(t.term.tab_column(132), 131);
    EXPECT_EQ(t.term.tab_column(500), 131);  // callers counting past the edge stay on the screen
    EXPECT_EQ(t.term.tab_column(-3), 9);
}

TEST_F(VtModes, MenuWidthSwitchKeepsTheCursorOnScreen) {
    t.term.set_columns(132);
    t.feed(C + "3;120H" + C + "4h");
    t.term.set_columns(80);
    EXPECT_EQ(t.term.cursor_column(), 80);
    t.feed("x");  // insert mode at the new right edge
    EXPECT_EQ(t.cell(3, 80), uint32_t('x'));
    EXPECT_EQ(t.cell(3, 81), cell_blank);
    t.term.set_columns(100);  // not a width this terminal has
    EXPECT_EQ(t.ring->columns(), 80);
}

TEST_F(VtModes, BackspaceKeepsPendingWrapCupClearsIt) {
    t.feed(std::string(80, 'a'));
    ASSERT_EQ(t.term.pending_wrap(), 1);
    t.feed("\b");
    EXPECT_EQ(t.term.pending_wrap(), 1);
    EXPECT_EQ(t.term.cursor_column(), 79);
    t.feed("b");  // not at the last column, so no wrap happens
    EXPECT_EQ(t.text(1), std::string(78, 'a') + "ba");
    EXPECT_EQ(t.term.cursor_row(), 1);
    t.feed("c" + C + "1;80H");
    EXPECT_EQ(t.term.pending_wrap(), 0);
}

TEST_F(VtModes, BellFollowsTheSetting) {
    t.feed("\x07");
    EXPECT_EQ(t.host.bells, 1);
    t.term.options().bell = false;
    t.feed("\x07");
    EXPECT_EQ(t.host.bells, 1);
    t.term.options().bell = true;
    t.feed(C + "\x07"
               "A");  // inside a sequence it only ends the sequence
    EXPECT_EQ(t.host.bells, 1);
}

TEST_F(VtModes, HugeCountsOnTheWholeScreen) {
    t.feed("keep\r\n" + C + "H" + C + "4000000000L");
    for (int r = 1; r <= 24; ++r) EXPECT_EQ(t.text(r), "") << r;
    t.feed("x" + C + "2147483647M" + C + "9999999999B" + C + "9999999999C");
    EXPECT_EQ(t.text(1), "");
    EXPECT_EQ(t.term.cursor_row(), 24);
    EXPECT_EQ(t.term.cursor_column(), 80);
}

struct VtReset : ::testing::Test {
    term_fixture t;
};

TEST_F(VtReset, DecstrResetsModesButKeepsSaveLnmAndReply) {
    t.feed(C + "5;10H" + E + "7" + C + "20h" + C + "4h" + C + "?6h" + C + "?7l" + E + "=" + C + "?25l" + C + "3g" + E +
           "(0" + E + " G" + C + "1;4m" + "text" + C + "5n");
    t.feed(C + "!p");
    EXPECT_EQ(t.text(1), "");
    EXPECT_EQ(t.term.insert_mode(), 0);
    EXPECT_EQ(t.term.origin_mode(), 0);
    EXPECT_EQ(t.term.auto_wrap_mode(), 1);
    EXPECT_EQ(t.term.app_keys(), 0);
    EXPECT_EQ(t.term.cursor_visible(), 1);
    EXPECT_EQ(t.term.c1_8bit(), 0);
    EXPECT_EQ(t.term.g0(), 0);
    EXPECT_EQ(t.term.g1(), 1);
    EXPECT_EQ(t.ring->attr(), 0);
    EXPECT_TRUE(t.term.tab_stop(9));
    EXPECT_FALSE(t.term.tab_stop(10));
    EXPECT_EQ(t.term.new_line_mode(), 1);
    t.feed(E + "8");
    EXPECT_EQ(t.term.cursor_row(), 5);
    EXPECT_EQ(t.term.cursor_column(), 10);
    EXPECT_EQ(t.replies, "\x9b"
                         "0n");
}

TEST_F(VtReset, KeepScreenResetLeavesTextAndAttribute) {
    t.feed(C + "1mabc" + C + "3;4r");
    t.term.reset_terminal(true);
    EXPECT_EQ(t.text(1), "abc");
    EXPECT_EQ(t.ring->attr(), cell_bold);
    EXPECT_EQ(t.term.top_margin(), 1);
    EXPECT_EQ(t.term.bottom_margin(), 24);
}

TEST_F(VtReset, ResetInsideSequenceKeepsParserState) {
    t.feed(C + "5");
    t.term.reset_terminal(false);
    t.feed("A");
    EXPECT_EQ(t.term.cursor_row(), 1);
    EXPECT_EQ(t.text(1), "");  // the A finished the cut-off sequence
}

struct VtSplitScreen : ::testing::Test {
    term_fixture t;
};

TEST_F(VtSplitScreen, TwoWindowsKeepTheirOwnCursorAndRegion) {
    t.feed(C + "10p");
    EXPECT_EQ(t.term.top_margin(), 1);
    EXPECT_EQ(t.term.bottom_margin(), 10);
    t.feed("upper" + C + "1s");
    EXPECT_EQ(t.term.top_margin(), 11);
    EXPECT_EQ(t.term.bottom_margin(), 24);
    EXPECT_EQ(t.term.cursor_row(), 24);
    EXPECT_EQ(t.term.cursor_column(), 1);
    t.feed(C + "1mlow\n");  // scrolls rows 11..24 only
    EXPECT_EQ(t.text(23), "low");
    EXPECT_EQ(t.text(1), "upper");
    t.feed(C + "1s");  // already in window 2: nothing
    EXPECT_EQ(t.term.cursor_row(), 24);
    t.feed(C + "0s");
    EXPECT_EQ(t.term.cursor_row(), 1);
    EXPECT_EQ(t.term.cursor_column(), 6);
    EXPECT_EQ(t.term.bottom_margin(), 10);
    EXPECT_EQ(t.ring->attr(), 0);
    t.feed(C + "1s");
    EXPECT_EQ(t.term.cursor_row(), 24);
    EXPECT_EQ(t.term.cursor_column(), 4);
    EXPECT_EQ(t.ring->attr(), cell_bold);
    t.feed(C + "0;1s");  // needs exactly one parameter
    EXPECT_EQ(t.term.top_margin(), 11);
}

TEST_F(VtSplitScreen, FullHeightSplitAndZero) {
    t.feed(C + "5;5H" + C + "0p");
    EXPECT_EQ(t.term.cursor_row(), 5);
    t.feed(C + "99p" + C + "1s");
    EXPECT_EQ(t.term.top_margin(), 1);
    EXPECT_EQ(t.term.bottom_margin(), 24);
    EXPECT_EQ(t.term.cursor_row(), 1);
}

TEST_F(VtSplitScreen, RegionsStayOrderedAfterManySwitches) {
    // Window 2 saved with a short region, then a split below it.
    t.feed(C + "1s" + C + "1;5r" + C + "0s" + C + "20p" + C + "1s");
    EXPECT_LE(t.term.top_margin(), t.term.bottom_margin());
    t.feed("\n\n\nx" + C + "M" + C + "L");
    EXPECT_GE(t.term.cursor_row(), 1);
    EXPECT_LE(t.term.cursor_row(), 24);
    // Splitting again from window 2 must not leave window 2's top above the new bottom.
    t.feed(C + "10p" + C + "1s" + C + "10p");
    EXPECT_EQ(t.term.top_margin(), 1);
    EXPECT_EQ(t.term.bottom_margin(), 10);
    t.feed("\n\n\nx" + C + "M" + C + "L");
    EXPECT_GE(t.term.cursor_row(), 1);
    EXPECT_LE(t.term.cursor_row(), 24);
}

// A sink that records what the emulator hands it and ends controller mode on "END".
struct recording_sink : printer_sink {
    std::string data;
    int screens = 0, ends = 0;
    std::string first_row;
    bool controller_byte(uint8_t c, const vt&) override {
        data += char(c);
        return data.size() >= 3 && data.compare(data.size() - 3, 3, "END") == 0;
    }
    void print_screen(const screen_ring& ring) override {
        ++screens;
        first_row.clear();
        for (int c = 1; c <= ring.columns(); ++c) first_row += char(ring.line(1).cell(c));
    }
    void end_print_job() override { ++ends; }
};

struct VtPrinter : ::testing::Test {
    term_fixture t;
    recording_sink sink;
    void SetUp() override { t.term.set_printer(&sink); }
};

TEST_F(VtPrinter, ControllerModeHandsEveryByteToTheSink) {
    t.feed("a" + C + "5i" + "x\x1b[6n\x05yEND" + "b");
    EXPECT_EQ(sink.data, "x\x1b[6n\x05yEND");
    EXPECT_EQ(t.text(1), "ab");
    EXPECT_EQ(t.replies, "");
    EXPECT_EQ(t.term.printer_controller(), 0);
}

TEST_F(VtPrinter, PrintScreenAndEndRequests) {
    t.feed("row one" + C + "i" + C + "0i" + C + "?0i");
    EXPECT_EQ(sink.screens, 3);
    EXPECT_EQ(sink.first_row, "row one" + std::string(73, ' '));
    t.feed(C + "5;4i");  // controller on then off within one sequence
    EXPECT_EQ(t.term.printer_controller(), 0);
    EXPECT_EQ(sink.ends, 1);
    t.feed(C + "5i");
    EXPECT_EQ(t.term.printer_controller(), 1);
    t.term.reset_terminal(false);  // switches the mode off without ending the job
    EXPECT_EQ(t.term.printer_controller(), 0);
    EXPECT_EQ(sink.ends, 1);
}

TEST(VtNullPrinter, LeavesControllerModeOnEitherEndSequence) {
    term_fixture t;
    t.feed(C + "5ihidden" + C + "4xstill" + C + "4ivisible");
    EXPECT_EQ(t.text(1), "visible");
    t.feed(C + "5i" +
           "\x9b"
           "4iagain");
    EXPECT_EQ(t.text(1), "visibleagain");

    // A half-seen end sequence in one emulator does not leak into another.
    term_fixture u;
    t.feed(C + "5i" + C + "4");
    u.feed(C + "5iiok");
    EXPECT_EQ(u.text(1), "");
    EXPECT_EQ(u.term.printer_controller(), 1);
}

struct VtReplySlot : ::testing::Test {
    term_fixture t;
};

TEST_F(VtReplySlot, PendingUntilTaken) {
    EXPECT_EQ(t.term.take_reply(), nullptr);
    for (char ch : C + "5") EXPECT_EQ(t.term.feed_byte(uint8_t(ch)), 0);
    EXPECT_EQ(t.term.feed_byte('n'), 1);
    EXPECT_EQ(t.term.feed_byte('x'), 1);  // still pending: nobody took it
    const char* r = t.term.take_reply();
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r, "\x1b[0n");
    EXPECT_EQ(t.term.take_reply(), nullptr);
    EXPECT_EQ(t.term.feed_byte('y'), 0);
}

TEST_F(VtReplySlot, LocalTextLeavesTheReplyForTheReceivePath) {
    t.term.feed_text("\x05hi");
    EXPECT_EQ(t.host.updates, 1);
    EXPECT_EQ(t.text(1), "hi");
    EXPECT_TRUE(t.term.reply_pending());
    EXPECT_STREQ(t.term.take_reply(), "QUILL_TELNET");
}

TEST_F(VtReplySlot, EmptyAnswerbackIsAnEmptyReply) {
    t.term.options().answerback.clear();
    EXPECT_EQ(t.term.feed_byte(0x05), 1);
    const char* r = t.term.take_reply();
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r, "");
    t.term.options().answerback = "me";
    t.feed("\x05");
    EXPECT_EQ(t.replies, "me");
}

TEST_F(VtReplySlot, BulkFeedStopsRightAfterAReply) {
    const std::string s = "ab" + C + "6ncd";
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    EXPECT_EQ(t.term.feed(p, s.size()), 6u);
    EXPECT_STREQ(t.term.take_reply(), "\x1b[1;3R");
    EXPECT_EQ(t.term.feed(p + 6, s.size() - 6), 2u);
    EXPECT_EQ(t.text(1), "abcd");
}

TEST_F(VtReplySlot, BulkFeedHandsOverALocallyLeftReplyAfterOneByte) {
    t.term.feed_text("\x05");  // ENQ echoed locally: the answerback waits for the next received byte
    const std::string s = "abc";
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    EXPECT_EQ(t.term.feed(p, s.size()), 1u);
    EXPECT_STREQ(t.term.take_reply(), "QUILL_TELNET");
    EXPECT_EQ(t.term.feed(p + 1, s.size() - 1), 2u);
    EXPECT_EQ(t.text(1), "abc");
}

// Random streams built from pieces of real sequences must leave the same state whichever feed path is used.
TEST(VtFeedPaths, BulkAndBytewiseAgreeOnRandomStreams) {
    const std::vector<std::string> pieces = {"hello ",
                                             "\r\n",
                                             "\n",
                                             "\t",
                                             "\b",
                                             "\x0e",
                                             "\x0f",
                                             "\x05",
                                             std::string(90, 'w'),
                                             "\xe9\xff\x85",
                                             "\x84",
                                             "\x8d",
                                             C + "7m",
                                             C + "0m",
                                             C + "1;4m",
                                             C + "H",
                                             C + "24;80H",
                                             C + "12;40f",
                                             C + "2J",
                                             C + "K",
                                             C + "1K",
                                             C + "3L",
                                             C + "2M",
                                             C + "4P",
                                             C + "5@",
                                             C + "3X",
                                             C + "5;15r",
                                             C + "r",
                                             C + "?6h",
                                             C + "?6l",
                                             C + "?7l",
                                             C + "?7h",
                                             C + "4h",
                                             C + "4l",
                                             C + "6n",
                                             C + "c",
                                             E + "#6",
                                             E + "#3",
                                             E + "#5",
                                             E + "(0",
                                             E + "(B",
                                             E + "7",
                                             E + "8",
                                             E + "M",
                                             E + "D",
                                             E + "E",
                                             C + "10p",
                                             C + "1s",
                                             C + "0s",
                                             C + "?3h",
                                             C + "?3l",
                                             C + "5i",
                                             C + "4i",
                                             C + "?2l",
                                             E + "<",
                                             E + "Y",
                                             E + "P",
                                             E + "\\",
                                             "\x9b",
                                             "\x90",
                                             C + "1\"q",
                                             C + "?K",
                                             E + " G",
                                             E + " F",
                                             C + "99999999A",
                                             C + "3g",
                                             E + "H",
                                             C + "!p"};
    std::mt19937 rng(12345);
    for (int round = 0; round < 60; ++round) {
        std::string s;
        for (int i = 0; i < 150; ++i) s += pieces[rng() % pieces.size()];
        term_fixture a, b;
        a.feed(s, false);
        b.feed(s, true);
        ASSERT_EQ(a.replies, b.replies) << round;
        ASSERT_EQ(a.term.cursor_row(), b.term.cursor_row()) << round;
        ASSERT_EQ(a.term.cursor_column(), b.term.cursor_column()) << round;
        ASSERT_EQ(a.term.pending_wrap(), b.term.pending_wrap()) << round;
        ASSERT_EQ(a.ring->origin(), b.ring->origin()) << round;
        for (int r = 1; r <= 24; ++r) {
            ASSERT_EQ(a.ring->line_attr(r), b.ring->line_attr(r)) << round;
            ASSERT_EQ(a.ring->row_marked(r), b.ring->row_marked(r)) << round << " row " << r;
            for (int c = 1; c <= line_cells; ++c) {
                ASSERT_EQ(a.cell(r, c), b.cell(r, c)) << round << " at " << r << "," << c;
                ASSERT_EQ(a.ring->cell_mark(r, c), b.ring->cell_mark(r, c)) << round << " at " << r << "," << c;
            }
        }
    }
}

}  // namespace
