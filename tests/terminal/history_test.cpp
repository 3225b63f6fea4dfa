// A history longer than the ring: the archive behind it, the scroll range, resize, the alternate screen, clearing.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "term_fixture.h"
#include "terminal/screen.h"

namespace {

std::string text_of(const line_view& v, int cols) {
    std::string s;
    for (int c = 1; c <= cols; ++c) s += char(v.cell(c) & 0xFF);
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

std::string text_of(const ring_line& l, int cols) {
    std::string s;
    for (int c = 1; c <= cols; ++c) s += char(l.cell(c) & 0xFF);
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

// Writes text on the bottom row with the ring's pen and scrolls the whole screen up, as a line feed there does.
void emit(screen_ring& r, const std::string& text) {
    r.put_run(r.rows(), 1, reinterpret_cast<const uint8_t*>(text.data()), int(text.size()), r.attr());
    r.scroll_up(1, 1, r.rows());
}

// "L<n>" lines 1..count; after them the screen shows L(count-22)..L(count) on rows 1..23.
void emit_numbered(screen_ring& r, int count, int from = 1) {
    for (int i = from; i < from + count; ++i) emit(r, "L" + std::to_string(i));
}

// A copy of a line's cells and colours, to compare with what comes back.
struct line_copy {
    uint32_t attr = 0;
    std::vector<uint32_t> cells, fg, bg;
    std::vector<uint16_t> extra;
};
line_copy copy_of(const ring_line& l, int width) {
    line_copy c;
    c.attr = l.attr;
    c.cells.assign(l.cells, l.cells + width);
    c.fg.assign(l.fg, l.fg + width);
    c.bg.assign(l.bg, l.bg + width);
    c.extra.assign(l.extra, l.extra + width);
    return c;
}

void expect_same(const line_copy& want, const line_view& got, int width, const std::string& what) {
    EXPECT_EQ(want.attr, got.attr) << what;
    for (int c = 1; c <= width; ++c) {
        const size_t i = size_t(c - 1);
        ASSERT_EQ(want.cells[i], got.cell(c)) << what << " column " << c;
        ASSERT_EQ(want.fg[i], got.fg_at(c)) << what << " column " << c;
        ASSERT_EQ(want.bg[i], got.bg_at(c)) << what << " column " << c;
        ASSERT_EQ(want.extra[i], got.extra_at(c)) << what << " column " << c;
    }
}

void expect_same(const line_copy& want, const ring_line& got, int width, const std::string& what) {
    EXPECT_EQ(want.attr, got.attr) << what;
    for (int c = 1; c <= width; ++c) {
        const size_t i = size_t(c - 1);
        ASSERT_EQ(want.cells[i], got.cells[i]) << what << " column " << c;
        ASSERT_EQ(want.fg[i], got.fg[i]) << what << " column " << c;
        ASSERT_EQ(want.bg[i], got.bg[i]) << what << " column " << c;
        ASSERT_EQ(want.extra[i], got.extra[i]) << what << " column " << c;
    }
}

TEST(History, DefaultLimitIsTheRingAlone) {
    screen_ring r;
    EXPECT_EQ(r.history_limit(), history_lines);
    EXPECT_EQ(r.history_count(), history_lines);
    EXPECT_EQ(r.live_position(), scroll_live);
    emit_numbered(r, 5000);
    EXPECT_EQ(r.archive_bytes(), 0u);
    EXPECT_EQ(r.live_position(), scroll_live);
    EXPECT_EQ(text_of(r.history_view(history_lines), 80), "L4977");
    EXPECT_EQ(text_of(r.history_view(1), 80), "L4779");
    r.set_scroll_position(1);
    EXPECT_EQ(text_of(r.shown_line(1), 80), "L4779");
    EXPECT_EQ(text_of(r.line(1), 80), "L4779") << "within the ring the origin turns as before";
}

struct limit_case {
    int limit;
    int lines;  // fed
};

// Order is kept, the oldest lines go past the limit, and every line is reached by history_view, line_at and the
// scroll position alike.
TEST(History, KeepsTheNewestLinesUpToTheLimit) {
    const limit_case cases[] = {{1000, 600}, {1000, 5000}, {100000, 100500}, {300, 20000}, {24, 400}};
    for (const limit_case& c : cases) {
        SCOPED_TRACE("limit " + std::to_string(c.limit) + ", " + std::to_string(c.lines) + " lines");
        screen_ring r;
        r.set_history_limit(c.limit);
        emit_numbered(r, c.lines);
        // Every line feed archives the ring line it reuses: the blank lines the ring started with come first.
        const int count = std::min(c.limit, ring_spare + c.lines);
        ASSERT_EQ(r.history_count(), count);
        ASSERT_EQ(r.live_position(), count + 1);
        ASSERT_EQ(r.scroll_position(), count + 1);
        const int newest = c.lines - 23;  // L(newest) is just above row 1
        for (int k = count; k >= 1; --k) {
            const int n = newest - (count - k);
            const std::string want = n >= 1 ? "L" + std::to_string(n) : "";
            ASSERT_EQ(text_of(r.history_view(k), 80), want) << "k " << k;
            ASSERT_EQ(text_of(r.line_at(k - count), 80), want) << "k " << k;
        }
        // Scrolled to the top, the view starts at the oldest line and goes on without a gap.
        ASSERT_TRUE(r.set_scroll_position(-7));
        EXPECT_EQ(r.scroll_position(), 1);
        for (int row = 1; row <= 24; ++row) {
            const int n = newest - count + row;
            const std::string want = n >= 1 && n <= c.lines ? "L" + std::to_string(n) : "";
            EXPECT_EQ(text_of(r.shown_line(row), 80), want) << "row " << row;
        }
        EXPECT_TRUE(r.scroll_to_live());
        EXPECT_EQ(text_of(r.line(23), 80), "L" + std::to_string(c.lines));
        EXPECT_EQ(text_of(r.shown_line(23), 80), "L" + std::to_string(c.lines));
    }
}

// Each scroll position shows the lines before and after it, across the ring's end and the archive's.
TEST(History, EveryPositionShowsConsecutiveLines) {
    screen_ring r;
    r.set_history_limit(2000);
    emit_numbered(r, 3000);
    const int live = r.live_position();
    ASSERT_EQ(live, 2001);
    for (int pos :
         {1, 2, 1000, live - ring_spare - 1, live - ring_spare, live - ring_spare + 1, live - 24, live - 1, live}) {
        r.set_scroll_position(pos);
        ASSERT_EQ(r.scroll_position(), pos);
        // Row 1 at position p shows history line p; the history starts at L(3000 - 23 - 2000 + 1) = L978.
        for (int row = 1; row <= 23; ++row)
            ASSERT_EQ(text_of(r.shown_line(row), 80), "L" + std::to_string(976 + pos + row)) << pos << " " << row;
    }
}

// Lines come back exactly as they left: cells, colours, further attributes, line attributes, wide characters.
TEST(History, LinesRoundTripExactly) {
    struct kind {
        const char* name;
        cell_pen pen;
        uint32_t line_attr;
        bool wide;
        int bce_tail;           // cells of coloured blanks at the end (background colour erase)
        bool per_cell = false;  // another colour every cell: as many runs as cells
    };
    const cell_colours red{colour_index(1), colour_default(), 0};
    const kind kinds[] = {
        {"plain", {}, 0, false, 0},
        {"indexed", {red, cell_bold}, 0, false, 0},
        {"direct", {{colour_rgb(1, 2, 3), colour_rgb(250, 128, 0), 0}, 0}, 0, false, 0},
        {"further attributes only", {{0, 0, extra_italic | extra_strike}, cell_underline}, 0, false, 0},
        {"double width", {}, line_double_width, false, 0},
        {"wide characters", {}, 0, true, 0},
        {"coloured blanks at the end", {{0, colour_index(4), 0}, 0}, 0, false, 20},
        {"a colour a cell", {}, 0, false, 0, true},
    };
    screen_ring r;
    r.resize(24, 200, 0);
    r.set_history_limit(5000);
    std::vector<line_copy> sent;
    for (int round = 0; round < 3; ++round) {
        for (const kind& k : kinds) {
            const int row = r.rows();
            r.set_pen(k.pen);
            const std::string text = std::string(k.name) + " " + std::to_string(round);
            for (size_t i = 0; i < text.size(); ++i) r.put_char(uint8_t(text[i]), row, int(i) + 1 + round);
            if (k.wide) {
                // U+4E2D and U+6587 at columns 40..43, and one at the right edge.
                for (int col : {40, 42, 199}) {
                    r.put_cell(cell_of_code(0x4E2D + uint32_t(col)) | cell_wide, row, col);
                    r.put_cell(cell_wide_right | cell_blank, row, col + 1);
                }
            }
            if (k.bce_tail) r.put_cells(row, 200 - k.bce_tail + 1, 200, cell_blank, k.pen);
            for (int col = 1; k.per_cell && col <= 150; ++col)
                r.put_cell(uint32_t('a' + col % 26), row, col,
                           {colour_index(col % 7), colour_rgb(col, 0, round), uint16_t(col % 3)});
            if (k.line_attr) r.set_double_width(row);
            r.set_pen({});
            sent.push_back(copy_of(r.line(row), r.width()));
            r.scroll_up(1, 1, r.rows());
        }
    }
    emit_numbered(r, 600);  // everything above is archived now
    const int count = r.history_count();
    const int first = count - (600 - 23) - int(sent.size()) + 1;  // history line of the first sent line
    for (size_t i = 0; i < sent.size(); ++i) {
        const int k = first + int(i);
        expect_same(sent[i], r.history_view(k), r.width(), "history_view " + std::to_string(i));
        expect_same(sent[i], r.line_at(k - count), r.width(), "line_at " + std::to_string(i));
    }
    // A plain line takes its text only; coloured ones take their colours.
    EXPECT_EQ(r.history_view(first).length, int(std::string("plain 0").size()));
    EXPECT_FALSE(r.history_view(first).coloured());
    EXPECT_TRUE(r.history_view(first + 1).coloured());
    EXPECT_EQ(r.history_view(first + 6).length, 200);

    // A reverse scroll of the whole screen takes the newest history line away and brings the newest archived line
    // back into the ring (its oldest line): after 400 the sent lines are ring lines again, intact.
    r.scroll_down(200, 1, r.rows());
    r.scroll_down(200, 1, r.rows());
    EXPECT_EQ(r.history_count(), count - 400);
    ASSERT_GT(first, r.history_count() - ring_spare) << "the sent lines are in the ring";
    for (size_t i = 0; i < sent.size(); ++i)
        expect_same(sent[i], r.history_view(first + int(i)), r.width(), "back in the ring " + std::to_string(i));
}

// The ring's rows() + 256 lines at the screen's width and the archive's own bytes: 100,000 lines of 200 busy
// columns of plain text take a byte a cell, and blank lines cost next to nothing.
TEST(History, ArchiveMemoryFollowsTheLinesHeld) {
    screen_ring r;
    r.resize(60, 200, 0);
    r.set_history_limit(100000);
    std::string full(200, 'x');
    for (int i = 0; i < 100000 + ring_spare + 60; ++i) {
        const std::string n = std::to_string(i);
        std::copy(n.begin(), n.end(), full.begin());
        emit(r, full);
    }
    EXPECT_EQ(r.history_count(), 100000);
    const size_t bytes = r.archive_bytes();
    const size_t line_bytes = 200 + sizeof(history_archive::header);
    EXPECT_GE(bytes, size_t(100000 - ring_spare) * line_bytes);
    EXPECT_LT(bytes, size_t(100000 - ring_spare) * line_bytes * 105 / 100) << "within 5% of the text and headers";
    EXPECT_LT(bytes, size_t(100) << 20);
    EXPECT_EQ(r.history_view(1).length, 200);

    screen_ring blank;
    blank.set_history_limit(100000);
    for (int i = 0; i < 50000; ++i) blank.scroll_up(1, 1, blank.rows());
    // Their headers alone: the small first block and one large one.
    EXPECT_LE(blank.archive_bytes(),
              (history_archive::first_block_words + history_archive::block_words) * sizeof(uint32_t) + 1024);

    // Coloured output keeps its colours as runs: three a line cost three runs, not three arrays of 200.
    screen_ring coloured;
    coloured.resize(24, 200, 0);
    coloured.set_history_limit(20000);
    const cell_colours red{colour_index(1), 0, 0}, blue{0, colour_index(4), extra_italic};
    for (int i = 0; i < 20000; ++i) {
        coloured.put_cells(24, 1, 50, 'r', red);
        coloured.put_cells(24, 51, 100, 'b', blue);
        coloured.put_cells(24, 101, 200, 'p', {});
        coloured.scroll_up(1, 1, coloured.rows());
    }
    const size_t archived = size_t(20000 - ring_spare);
    EXPECT_LT(coloured.archive_bytes(), archived * (200 + 1 + 9) * 4 * 105 / 100);
    const line_view v = coloured.history_view(100);  // (the oldest are the blank lines the screen started with)
    ASSERT_EQ(v.length, 200);
    EXPECT_EQ(v.run_count, 3);
    for (int c : {1, 50, 51, 100, 101, 200})
        EXPECT_EQ((cell_colours{v.fg_at(c), v.bg_at(c), v.extra_at(c)}), c <= 50    ? red
                                                                         : c <= 100 ? blue
                                                                                    : cell_colours{})
            << c;
}

TEST(History, LoweringTheLimitDropsTheOldest) {
    screen_ring r;
    r.set_history_limit(10000);
    emit_numbered(r, 12000);
    r.set_scroll_position(5);
    r.set_history_limit(500);
    EXPECT_EQ(r.scroll_position(), r.live_position()) << "back to the live screen";
    EXPECT_EQ(r.history_count(), 500);
    EXPECT_EQ(text_of(r.history_view(500), 80), "L11977");
    EXPECT_EQ(text_of(r.history_view(1), 80), "L11478");
    r.set_history_limit(100);
    EXPECT_EQ(r.archive_bytes(), 0u);
    EXPECT_EQ(text_of(r.history_view(1), 80), "L11878");
    emit_numbered(r, 10, 12001);
    EXPECT_EQ(r.archive_bytes(), 0u);
    EXPECT_EQ(text_of(r.history_view(100), 80), "L11987");
}

// Lines past the limit are gone for good: a reverse scroll, which takes lines back out of the archive, leaves the
// oldest line where it was and brings no older one back.
TEST(History, LinesPastTheLimitStayGoneAfterAReverseScroll) {
    screen_ring r;
    r.set_history_limit(300);
    emit_numbered(r, 2000);
    ASSERT_EQ(r.history_count(), 300);
    EXPECT_EQ(text_of(r.history_view(1), 80), "L1678");
    r.scroll_down(10, 1, r.rows());
    EXPECT_EQ(r.history_count(), 290);
    EXPECT_EQ(text_of(r.history_view(1), 80), "L1678");
    EXPECT_EQ(text_of(r.history_view(290), 80), "L1967");
    emit_numbered(r, 20, 2001);
    EXPECT_EQ(r.history_count(), 300);
    EXPECT_EQ(text_of(r.history_view(1), 80), "L1688");
}

TEST(History, ClearingBlanksEveryLine) {
    screen_ring r;
    r.set_history_limit(3000);
    emit_numbered(r, 4000);
    r.set_scroll_position(10);
    r.clear_history();
    EXPECT_EQ(r.archive_bytes(), 0u);
    EXPECT_EQ(r.history_count(), ring_spare);
    EXPECT_EQ(r.scroll_position(), r.live_position());
    for (int k = 1; k <= r.history_count(); ++k) ASSERT_EQ(text_of(r.history_view(k), 80), "") << k;
    EXPECT_EQ(text_of(r.line(23), 80), "L4000") << "the screen stays";
    emit_numbered(r, 300, 4001);
    EXPECT_EQ(r.history_count(), ring_spare + 300);
    EXPECT_EQ(text_of(r.history_view(r.history_count()), 80), "L4277");

    screen_ring d;  // the default history is blanked in the same way
    emit_numbered(d, 400);
    d.clear_history();
    for (int k = 1; k <= history_lines; ++k) ASSERT_EQ(text_of(d.history_line(k), 80), "") << k;
}

// Through the emulator: the alternate screen feeds nothing; a resize archives what the push leaves no room for
// and archived lines keep their own length.
struct HistoryTerm : ::testing::Test, term_fixture {
    std::string all_text() {
        std::string s;
        for (int k = 1; k <= ring->history_count(); ++k) s += text_of(ring->history_view(k), max_columns) + "|";
        for (int row = 1; row <= ring->rows(); ++row) s += text_of(ring->line(row), max_columns) + "|";
        return s;
    }
};

TEST_F(HistoryTerm, AlternateScreenFeedsNothing) {
    term.set_emulation(emulation::xterm);
    ring->set_history_limit(2000);
    for (int i = 1; i <= 1500; ++i) feed("N" + std::to_string(i) + "\r\n", true);
    const std::string before = all_text();
    const int count = ring->history_count();
    const size_t bytes = ring->archive_bytes();
    feed("\x1b[?1049h", true);
    for (int i = 1; i <= 3000; ++i) feed("A" + std::to_string(i) + "\r\n", true);
    feed("\x1b[50S\x1b[H\x1b[20T", true);
    EXPECT_EQ(ring->history_count(), count);
    EXPECT_EQ(ring->archive_bytes(), bytes);
    feed("\x1b[?1049l", true);
    EXPECT_EQ(all_text(), before);
}

TEST_F(HistoryTerm, ResizeKeepsALongHistoryInOrder) {
    ring->set_history_limit(5000);
    term.resize(24, 200);
    const std::string pad(180, '.');
    for (int i = 1; i <= 3000; ++i) feed("W" + std::to_string(i) + pad + "\r\n", true);
    // The cursor's line stays: 14 rows go up into the history. Ring lines narrow to 132 cells.
    term.resize(10, 60);
    ASSERT_EQ(ring->columns(), 60);
    ASSERT_EQ(ring->width(), line_cells);
    // Every line is there once, in order: the archived ones whole, the ring's cut at 132 cells.
    int n = 0;
    for (int k = 1; k <= ring->history_count(); ++k) {
        const std::string t = text_of(ring->history_view(k), max_columns);
        if (t.empty()) {
            ASSERT_EQ(n, 0) << "blank lines only before the output, k " << k;
            continue;
        }
        ++n;
        const std::string want = "W" + std::to_string(n) + pad;
        const bool archived = k <= ring->history_count() - ring_spare;
        ASSERT_EQ(t, archived ? want : want.substr(0, size_t(line_cells))) << k;
    }
    EXPECT_EQ(n, 2991);
    EXPECT_EQ(text_of(ring->line(1), 60), "W2992" + pad.substr(0, 55));
    // Wide again, the archived lines show all they kept.
    term.resize(30, 200);
    const int pos = ring->live_position() - 1000;
    ASSERT_TRUE(ring->set_scroll_position(pos));
    const std::string t = text_of(ring->shown_line(1), 200);
    EXPECT_EQ(t, text_of(ring->history_view(pos), 200));
    EXPECT_EQ(t.size(), t.find('.') + pad.size()) << "archived whole: " << t;
}

// After the last cell of a ring line that is not a plain blank.
int extent(const ring_line& l, int width) {
    int n = 0;
    for (int i = 0; i < width; ++i)
        if (l.cells[i] != cell_blank || (l.coloured && (l.fg[i] | l.bg[i] | l.extra[i]))) n = i + 1;
    return n;
}

// Cells from a line's `used` on must be plain blanks whatever edit came last, since the archive keeps nothing past
// it; for the usual edits it is the line's real extent, so that neither the archive nor blanking has blanks to
// scan. Every case's line then goes through the archive (plain ones blanked as they are read) and must come back
// whole, cut after its last cell that is not a plain blank.
TEST(History, UsedBoundsEveryEditAndTheArchiveKeepsTheLine) {
    const cell_colours red{colour_index(1), 0, 0}, blue_bg{0, colour_index(4), 0};
    auto text = [](screen_ring& r, int col, const std::string& t, uint32_t attr = 0) {
        r.put_run(r.rows(), col, reinterpret_cast<const uint8_t*>(t.data()), int(t.size()), attr);
    };
    struct edit_case {
        const char* name;
        std::function<void(screen_ring&, int row)> edit;
        int want_used;  // -1: a bound only (blanks below it)
    };
    const edit_case cases[] = {
        {"text", [&](screen_ring& r, int) { text(r, 3, "hello world"); }, 13},
        {"text ending in blanks", [&](screen_ring& r, int) { text(r, 1, "abc      "); }, -1},
        {"one cell far right", [&](screen_ring& r, int row) { r.put_cell('x', row, 120); }, 120},
        {"erase to the end",
         [&](screen_ring& r, int row) {
             text(r, 1, "hello world");
             r.put_cells(row, 6, 80, cell_blank, {});
         },
         5},
        {"erase from the start",
         [&](screen_ring& r, int row) {
             text(r, 1, "hello world");
             r.put_cells(row, 1, 5, cell_blank, {});
         },
         11},
        {"erase with attributes",
         [&](screen_ring& r, int row) {
             text(r, 1, "hello");
             r.put_cells(row, 3, 80, cell_reverse | cell_blank, {});
         },
         80},
        {"coloured blanks at the end",
         [&](screen_ring& r, int row) {
             text(r, 1, "bce");
             r.put_cells(row, 70, 80, cell_blank, blue_bg);
         },
         80},
        {"coloured text erased plain",
         [&](screen_ring& r, int row) {
             r.put_cells(row, 1, 10, 'r', red);
             r.put_cells(row, 1, 80, cell_blank, {});
         },
         0},
        {"line filled blank",
         [&](screen_ring& r, int row) {
             text(r, 1, "gone");
             r.fill_line(row, ' ', true);
         },
         0},
        {"line filled with E", [&](screen_ring& r, int row) { r.fill_line(row, 'E', false); }, line_cells},
        {"characters inserted",
         [&](screen_ring& r, int row) {
             text(r, 1, "abcdef");
             r.insert_cells(row, 2, 3, cell_blank);
         },
         9},
        {"inserted text pushed past the margin",
         [&](screen_ring& r, int row) {
             text(r, 75, "uvwxyz");
             r.insert_blank(row, 1);
         },
         80},
        {"characters deleted",
         [&](screen_ring& r, int row) {
             text(r, 1, "abcdef");
             r.delete_chars(row, 2, 3);
         },
         3},
        {"one character deleted",
         [&](screen_ring& r, int row) {
             text(r, 1, "abcdef");
             r.delete_char(row, 6);
         },
         5},
        {"deleting before text kept past the margin",
         [&](screen_ring& r, int row) {
             r.put_cell('k', row, 100);
             text(r, 1, "abc");
             r.delete_chars(row, 1, 2);
         },
         100},
        {"wide character",
         [&](screen_ring& r, int row) {
             r.put_cell(cell_of_code(0x4E2D) | cell_wide, row, 10);
             r.put_cell(cell_wide_right | cell_blank, row, 11);
         },
         11},
        {"selective write", [&](screen_ring& r, int row) { r.put_char_selective('s', row, 33); }, 33},
        {"selective erase keeps protected cells",
         [&](screen_ring& r, int row) {
             r.put_cell(cell_protected | 'p', row, 4);
             text(r, 5, "free");
             r.fill_line_selective(row, ' ', false);
         },
         -1},
        {"copied line",
         [&](screen_ring& r, int row) {
             r.put_cell('c', row - 1, 44);
             r.copy_line(row, row - 1);
         },
         44},
        // Shared high bits (a byte a cell with a word beside), none, and ones that change after 0 and after 32
        // cells, which the archive finds only once it has packed cells before them.
        {"bold throughout", [&](screen_ring& r, int) { text(r, 1, std::string(70, 'b'), cell_bold); }, 70},
        {"Cyrillic throughout",
         [&](screen_ring& r, int row) {
             for (int c = 1; c <= 40; ++c) r.put_cell(cell_of_code(0x430 + uint32_t(c % 32)), row, c);
         },
         40},
        {"bold word, then plain",
         [&](screen_ring& r, int) {
             text(r, 1, "bold", cell_bold);
             text(r, 5, " and then plain text past a sixteen");
         },
         39},
        {"plain, then bold after 32",
         [&](screen_ring& r, int) {
             text(r, 1, std::string(40, 'p'));
             text(r, 41, "BOLD", cell_bold);
         },
         44},
        {"the whole width",
         [&](screen_ring& r, int row) {
             text(r, 1, std::string(80, 'w'));
             for (int c = 81; c <= line_cells; ++c) r.put_cell('v', row, c);
         },
         line_cells},
    };
    for (const bool bce : {false, true}) {
        for (const edit_case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (bce ? ", background colour erase" : ""));
            screen_ring r;
            r.set_history_limit(1000);
            r.set_background_colour_erase(bce);  // plain lines then take the path that keeps colours
            const int row = r.rows();
            c.edit(r, row);
            const ring_line& l = r.line(row);
            const int real = extent(l, r.width());
            ASSERT_GE(l.used, real) << "cells past `used` must be plain blanks";
            ASSERT_LE(l.used, r.width());
            if (c.want_used >= 0) {
                EXPECT_EQ(l.used, c.want_used);
            }
            const line_copy sent = copy_of(l, r.width());
            for (int i = 0; i < r.rows() + ring_spare; ++i) r.scroll_up(1, 1, r.rows());
            const int k = r.history_count() - ring_spare;  // the newest archived line
            ASSERT_GE(k, 1);
            const line_view v = r.history_view(k);
            EXPECT_EQ(v.length, real);
            expect_same(sent, v, r.width(), "archived");
            expect_same(sent, r.line_at(k - r.history_count()), r.width(), "written out");
            // A reverse scroll brings it back into the ring, as it was.
            r.scroll_down(1, 1, r.rows());
            expect_same(sent, r.history_view(r.history_count() - ring_spare + 1), r.width(), "back in the ring");
            // The ring line it left was blanked as it was read: every ring line keeps to its bound.
            for (int n = 1 - ring_spare; n <= r.rows(); ++n) {
                const ring_line& x = r.line_at(n);
                ASSERT_LE(extent(x, r.width()), x.used) << "ring line " << n;
            }
        }
    }
}

// The archive reads a plain line as far as the longest of the lines before it (the same length line after line),
// and takes the line's length from what it packed. Short lines, lines ending in blanks below their bound, empty
// ones, a change of high bits past the first thirty-two and the full width (past which lie the colours) must each
// come back as they left, at widths that end a thirty-two early, late and exactly, also after a narrowing, and the
// ring lines must be blank past their bounds afterwards.
TEST(History, LinesAfterLongerOnesKeepTheirOwnLength) {
    auto text = [](screen_ring& r, int col, const std::string& t, uint32_t attr = 0) {
        r.put_run(r.rows(), col, reinterpret_cast<const uint8_t*>(t.data()), int(t.size()), attr);
    };
    const std::vector<std::function<void(screen_ring&, int width)>> lines = {
        [&](screen_ring& r, int) { text(r, 1, "short"); },
        [&](screen_ring& r, int) { text(r, 1, "abc      "); },
        [&](screen_ring&, int) {},
        [&](screen_ring& r, int) { text(r, 30, "x"); },
        [&](screen_ring& r, int) {
            text(r, 1, std::string(40, 'p'));
            text(r, 41, "BOLD", cell_bold);
        },
        [&](screen_ring& r, int width) { text(r, 1, std::string(size_t(width), 'w')); },
        [&](screen_ring& r, int width) { text(r, width, "e"); },
        [&](screen_ring& r, int) { text(r, 1, std::string(33, 'q')); },
    };
    // Screen widths: the long lines' and the others' (a narrower screen reads no further than its own lines).
    for (const auto& [long_columns, columns] : {std::pair{132, 132}, {200, 200}, {224, 224}, {224, 150}}) {
        SCOPED_TRACE(std::to_string(long_columns) + " then " + std::to_string(columns));
        screen_ring r;
        r.resize(24, long_columns, 0);
        r.set_history_limit(5000);
        // Long lines first, then the others.
        for (int i = 0; i < 300; ++i) {
            text(r, 1, std::string(size_t(long_columns - 1 - i % 3), 'L'));
            r.scroll_up(1, 1, r.rows());
        }
        r.resize(24, columns, 0);
        std::vector<line_copy> sent;
        std::vector<int> length;
        for (int round = 0; round < 40; ++round) {
            for (const auto& line : lines) {
                line(r, r.width());
                const ring_line& l = r.line(r.rows());
                sent.push_back(copy_of(l, r.width()));
                length.push_back(extent(l, r.width()));
                r.scroll_up(1, 1, r.rows());
            }
        }
        for (int i = 0; i < r.rows() + ring_spare; ++i) r.scroll_up(1, 1, r.rows());
        // The last one left row 23 and then went ring_spare + 1 lines further.
        const int first = r.history_count() - ring_spare - int(sent.size());
        for (size_t i = 0; i < sent.size(); ++i) {
            const line_view v = r.history_view(first + int(i));
            ASSERT_EQ(v.length, length[i]) << i;
            expect_same(sent[i], v, r.width(), "line " + std::to_string(i));
            if (HasFatalFailure()) return;
        }
        for (int n = 1 - ring_spare; n <= r.rows(); ++n) {
            const ring_line& x = r.line_at(n);
            ASSERT_LE(extent(x, r.width()), x.used) << "ring line " << n;
        }
    }
}

}  // namespace
