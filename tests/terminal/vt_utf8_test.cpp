// The emulator with utf8 on: decoding before the printing step, wide characters, combining marks.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "term_fixture.h"
#include "terminal/screen_dump.h"

namespace {

struct utf8_term : term_fixture {
    utf8_term() { term.options().utf8 = true; }
    // Row text as the dumps give it (UTF-8, a wide character once), trailing blanks removed.
    std::string row(int r) const {
        std::istringstream in(screen_dump_plain(*ring));
        std::string line;
        for (int i = 0; i < r; ++i) std::getline(in, line);
        line.erase(line.find_last_not_of(' ') + 1);
        return line;
    }
};

struct text_case {
    const char* name;
    std::string input;
    std::string row1;
    int col;  // cursor column afterwards
};

// Each case runs byte by byte (every split point between reads) and in one write.
TEST(Utf8Screen, TextCases) {
    const text_case cases[] = {
        {"Cyrillic", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", 7},
        {"CJK takes two cells each", "\xE4\xB8\xAD\xE6\x96\x87x", "\xE4\xB8\xAD\xE6\x96\x87x", 6},
        {"malformed keeps the next byte", "a\xE4\xB8z\xFFq", "a\xEF\xBF\xBDz\xEF\xBF\xBDq", 6},
        {"ESC ends a sequence and still acts", "\xE4\xB8\x1b[1mx", "\xEF\xBF\xBDx", 3},
        {"C1 inside UTF-8 is not a CSI",
         "\xC2\x9B"
         "2J",
         "2J", 3},
        {"a raw 0x9B is malformed, not a CSI",
         "\x9B"
         "2J",
         "\xEF\xBF\xBD"
         "2J",
         4},
        {"combining mark joins its base", "e\xCC\x81!", "\xC3\xA9!", 3},
        {"mark without a composed form stays with its base", "x\xCC\x81!", "x\xCC\x81!", 3},
        {"two marks on one base", "q\xCC\xA3\xCC\x87z", "q\xCC\xA3\xCC\x87z", 3},
        {"mark on a wide character", "\xE4\xB8\xAD\xCC\x81x", "\xE4\xB8\xAD\xCC\x81x", 4},
        {"mark at the start of a line has no base", "\xCC\x81x", "x", 2},
        {"controls keep working", "ab\x08\x08\xD0\x96\tz",
         "\xD0\x96"
         "b      z",
         10},
        {"line drawing keeps its flag", "\x1b(0q\xC3\xA9\x1b(Bq", "q\xC3\xA9q", 4},
        // Whole sequences in one write take a shorter way than the decoder: the same limits must hold there.
        {"four bytes, wide", "\xF0\x9F\x98\x80|\xF4\x8F\xBF\xBD|", "\xF0\x9F\x98\x80|\xF4\x8F\xBF\xBD|", 6},
        {"lowest and highest of each length", "\xC2\xA0\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBD",
         "\xC2\xA0\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBD", 5},
        {"overlong, surrogate and beyond U+10FFFF are malformed",
         "\xE0\x9F\xBF"
         "a"
         "\xED\xA0\x80"
         "b"
         "\xF4\x90\x80\x80"
         "c"
         "\xF0\x8F",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
         "a"
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
         "b"
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
         "c"
         "\xEF\xBF\xBD\xEF\xBF\xBD",
         16},
    };
    for (const auto& c : cases)
        for (bool one_write : {false, true}) {
            utf8_term t;
            t.feed(c.input, one_write);
            EXPECT_EQ(t.row(1), c.row1) << c.name << (one_write ? " (one write)" : "");
            EXPECT_EQ(t.term.cursor_column(), c.col) << c.name;
        }
}

TEST(Utf8Screen, CellsKeepAttributesAndCodePoints) {
    utf8_term t;
    t.feed("\x1b[1;7m\xE4\xB8\xAD\x1b[m\x1b(0q");
    EXPECT_EQ(t.cell(1, 1), cell_bold | cell_reverse | cell_wide | cell_of_code(0x4E2D));
    EXPECT_EQ(t.cell(1, 2), cell_bold | cell_reverse | cell_wide_right | cell_blank);
    EXPECT_EQ(t.cell(1, 3), cell_graphics | 'q');
    EXPECT_EQ((t.cell(1, 1) >> 8) & 0x6F, (cell_bold | cell_reverse) >> 8);  // the dumps' attribute view
    EXPECT_EQ(cell_code(t.cell(1, 1)), 0x4E2Du);
}

TEST(Utf8Screen, ClustersAreSharedBoundedAndCopiedWhole) {
    utf8_term t;
    t.feed("x\xCC\x81 x\xCC\x81");
    const uint32_t first = cell_code(t.cell(1, 1));
    EXPECT_TRUE(is_cluster(first));
    EXPECT_EQ(cell_code(t.cell(1, 3)), first);  // the same base and mark: the same number
    EXPECT_EQ(cluster_text(first), std::u32string(U"x\u0301"));
    std::u32string copied;
    append_cells_text(copied, t.ring->line(1), 1, 3, true, 0);
    EXPECT_EQ(copied, std::u32string(U"x\u0301 x\u0301"));
    // A base keeps at most cluster_marks marks; later ones are dropped and the cell keeps what it had.
    std::string many = "\r\nk";
    for (size_t i = 0; i < cluster_marks + 3; ++i) many += "\xCC\x88";
    t.feed(many);
    EXPECT_EQ(cluster_text(cell_code(t.cell(2, 1))).size(), cluster_marks + 1);
    EXPECT_EQ(t.term.cursor_column(), 2);
}

TEST(Utf8Screen, ByteModeLeavesBytesAsReceived) {
    term_fixture t;
    t.feed("\xE4\xB8\xAD\x9B"
           "1m");
    EXPECT_EQ(t.cell(1, 1), 0xE4u);
    EXPECT_EQ(t.cell(1, 3), 0xADu);
    EXPECT_EQ(t.ring->attr(), cell_bold);  // 0x9B is still the CSI introducer
}

TEST(Utf8Screen, WideAtTheRightMargin) {
    {  // one cell left: the character wraps whole to the next line
        utf8_term t;
        t.feed("\x1b[1;80H\xE4\xB8\xAD");
        EXPECT_EQ(t.cell(1, 80), cell_blank);
        EXPECT_EQ(t.row(2), "\xE4\xB8\xAD");
        EXPECT_EQ(t.term.cursor_row(), 2);
        EXPECT_EQ(t.term.cursor_column(), 3);
    }
    {  // two cells left: it fits, and the next character wraps
        utf8_term t;
        t.feed("\x1b[1;79H\xE4\xB8\xAD");
        EXPECT_TRUE(t.cell(1, 80) & cell_wide_right);
        EXPECT_EQ(t.term.pending_wrap(), 1);
        t.feed("x");
        EXPECT_EQ(t.row(2), "x");
    }
    {  // without auto wrap it stays inside the margin
        utf8_term t;
        t.feed("\x1b[?7l\x1b[1;80H\xE4\xB8\xAD");
        EXPECT_TRUE(t.cell(1, 79) & cell_wide);
        EXPECT_EQ(t.term.cursor_row(), 1);
        EXPECT_EQ(t.term.cursor_column(), 80);
    }
}

TEST(Utf8Screen, InsertDeleteEraseAndOverwrite) {
    const struct {
        const char* name;
        std::string input;
        std::string row1;
    } cases[] = {
        {"insert mode shifts by two", "abc\r\x1b[4h\xE4\xB8\xAD",
         "\xE4\xB8\xAD"
         "abc"},
        {"insert between the halves",
         "\xE4\xB8\xAD"
         "b\x1b[1;2H\x1b[4hx",
         " x b"},
        {"ICH before a wide character",
         "\xE4\xB8\xAD"
         "b\r\x1b[2@",
         "  \xE4\xB8\xAD"
         "b"},
        {"DCH of both halves",
         "\xE4\xB8\xAD"
         "bc\r\x1b[2P",
         "bc"},
        {"ECH of both halves",
         "\xE4\xB8\xAD"
         "b\r\x1b[2X",
         "  b"},
        {"EL from the start", "\xE4\xB8\xAD\xE6\x96\x87\r\x1b[K", ""},
        {"narrow over the left half blanks the right",
         "\xE4\xB8\xAD"
         "b\rx",
         "x b"},
        {"narrow over the right half blanks the left",
         "\xE4\xB8\xAD"
         "b\x1b[1;2Hx",
         " xb"},
        {"wide over half of another", "\xE4\xB8\xAD\xE6\x96\x87\x1b[1;2H\xE5\xAD\x97\x1b[1;6H!", " \xE5\xAD\x97  !"},
    };
    for (const auto& c : cases)
        for (bool one_write : {false, true}) {
            utf8_term t;
            t.feed(c.input, one_write);
            EXPECT_EQ(t.row(1), c.row1) << c.name;
        }
}

TEST(Utf8Screen, WideCharactersReachTheScrollBack) {
    utf8_term t;
    t.feed("\xE4\xB8\xAD\xE6\x96\x87 \xD0\x96\r\n");
    for (int i = 0; i < 30; ++i) t.feed("\r\n");
    dump_extras x;
    x.history = true;
    const std::string json = screen_dump_json(t.term, x);
    EXPECT_NE(json.find("\"\xE4\xB8\xAD\xE6\x96\x87 \xD0\x96  "), std::string::npos);
}

TEST(Utf8Screen, DecoderStateEndsWithAReset) {
    utf8_term t;
    t.feed("\xE4\xB8");
    t.term.reset_terminal(true);
    t.feed("A");
    EXPECT_EQ(t.row(1), "A");
}

}  // namespace
