// The screen ring on its own: mapping, history, marks and the grid operations.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "terminal/screen.h"

namespace {

std::string text_of(const ring_line& l, int cols = 80) {
    std::string s;
    for (int c = 1; c <= cols; ++c) s += char(l.cell(c) & 0xFF);
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

void write(screen_ring& r, int row, const std::string& s, int col = 1) {
    for (size_t i = 0; i < s.size(); ++i) r.put_char(uint8_t(s[i]), row, col + int(i));
}

int marked_cells(const screen_ring& r, int row) {
    int n = 0;
    for (int c = 1; c <= line_cells; ++c) n += r.cell_mark(row, c) == mark_repaint;
    return n;
}

struct ScreenRing : ::testing::Test {
    std::unique_ptr<screen_ring> ring = std::make_unique<screen_ring>();
};

TEST_F(ScreenRing, PutCharStoresAttributeAndMarksOnlyChanges) {
    ring->clear_marks();
    ring->attr_bold(true);
    ring->attr_underline(true);
    ring->put_char('x', 3, 7);
    EXPECT_EQ(ring->line(3).cell(7), cell_bold | cell_underline | 'x');
    EXPECT_TRUE(ring->row_marked(3));
    EXPECT_EQ(ring->cell_mark(3, 7), mark_repaint);

    ring->clear_marks();
    ring->put_char('x', 3, 7);  // same value: nothing to repaint
    EXPECT_FALSE(ring->row_marked(3));
    EXPECT_EQ(ring->cell_mark(3, 7), mark_clean);

    ring->attr_underline(false);
    ring->put_char('x', 3, 7);  // same byte, other attribute: a change
    EXPECT_TRUE(ring->row_marked(3));
    EXPECT_EQ(ring->line(3).cell(7), cell_bold | 'x');
}

TEST_F(ScreenRing, SelectiveOperationsSpareProtectedCells) {
    ring->attr_protected(true);
    write(*ring, 2, "AB");
    ring->attr_clear();
    write(*ring, 2, "cd", 3);
    ring->clear_marks();
    ring->put_char_selective('-', 2, 1);
    ring->put_char_selective('-', 2, 3);
    EXPECT_EQ(text_of(ring->line(2)), "AB-d");
    // Marked even when left unchanged.
    EXPECT_EQ(ring->cell_mark(2, 1), mark_repaint);

    ring->set_double_width(2);
    ring->fill_line_selective(2, ' ', true);
    EXPECT_EQ(text_of(ring->line(2)), "AB");
    EXPECT_EQ(ring->line(2).cell(1), cell_protected | 'A');
    EXPECT_EQ(ring->line_attr(2), 0u);
}

TEST_F(ScreenRing, InsertBlankThenPutShiftsRightAndDropsLastColumn) {
    for (int c = 1; c <= 80; ++c) ring->put_char(uint8_t('0' + c % 10), 1, c);
    ring->insert_blank(1, 5);
    ring->put_char('#', 1, 5);
    std::string t = text_of(ring->line(1));
    EXPECT_EQ(t.substr(0, 7), "1234#56");
    EXPECT_EQ(t.size(), 80u);
    EXPECT_EQ(t[79], '9');                          // old column 79 moved to 80, old column 80 ('0') is gone
    EXPECT_EQ(ring->line(1).cell(81), cell_blank);  // cells past the column count stay alone
}

TEST_F(ScreenRing, DeleteCharShiftsLeftAndBlanksTheLastColumn) {
    ring->attr_bold(true);
    write(*ring, 4, "abcdef");
    write(*ring, 4, "Z", 80);
    ring->delete_char(4, 2);
    EXPECT_EQ(text_of(ring->line(4)).substr(0, 5), "acdef");
    EXPECT_EQ(ring->line(4).cell(79), cell_bold | 'Z');
    EXPECT_EQ(ring->line(4).cell(80), cell_blank);

    write(*ring, 4, "Q", 80);
    ring->delete_char(4, 80);  // at the last column only that column is blanked
    EXPECT_EQ(ring->line(4).cell(79), cell_bold | 'Z');
    EXPECT_EQ(ring->line(4).cell(80), cell_blank);
}

TEST_F(ScreenRing, InsertAndDeletePastANarrowedWidthTouchNothing) {
    ring->set_columns(132);
    write(*ring, 2, "wide", 100);
    ring->set_columns(80);
    ring->clear_marks();
    ring->insert_blank(2, 101);
    ring->delete_char(2, 100);
    EXPECT_EQ(text_of(ring->line(2), 132), std::string(99, ' ') + "wide");
    EXPECT_FALSE(ring->row_marked(2));
}

TEST_F(ScreenRing, BulkInsertAndDeleteMatchRepeatedSingleSteps) {
    auto a = std::make_unique<screen_ring>();
    auto b = std::make_unique<screen_ring>();
    for (int c = 1; c <= 80; ++c) {
        a->put_char(uint8_t('A' + c % 26), 1, c);
        b->put_char(uint8_t('A' + c % 26), 1, c);
    }
    for (int n : {1, 3, 40, 76, 200}) {
        a->insert_cells(1, 5, n, 'x');
        for (int i = 0; i < std::min(n, 76); ++i) {
            b->insert_blank(1, 5);
            b->put_char('x', 1, 5);
        }
        EXPECT_EQ(text_of(a->line(1)), text_of(b->line(1))) << "insert " << n;
        a->delete_chars(1, 3, n);
        for (int i = 0; i < std::min(n, 78); ++i) b->delete_char(1, 3);
        EXPECT_EQ(text_of(a->line(1)), text_of(b->line(1))) << "delete " << n;
    }
}

TEST_F(ScreenRing, FullScreenScrollKeepsHistory) {
    for (int i = 1; i <= 30; ++i) {
        write(*ring, 24, "line " + std::to_string(i));
        ring->scroll_up(1, 1, 24);
    }
    // Rows 1..23 are lines 8..30, row 24 is blank; lines 1..7 are in the history.
    EXPECT_EQ(text_of(ring->line(1)), "line 8");
    EXPECT_EQ(text_of(ring->line(23)), "line 30");
    EXPECT_EQ(text_of(ring->line(24)), "");
    EXPECT_EQ(text_of(ring->history_line(history_lines)), "line 7");
    EXPECT_EQ(text_of(ring->history_line(history_lines - 6)), "line 1");

    // Scrolling the view back by 7 brings the lines that left the top onto the view's first rows.
    ASSERT_TRUE(ring->set_scroll_position(scroll_live - 7));
    for (int i = 1; i <= 24; ++i) EXPECT_EQ(text_of(ring->line(i)), "line " + std::to_string(i));
    ASSERT_TRUE(ring->scroll_to_live());
    EXPECT_EQ(ring->scroll_position(), scroll_live);
    EXPECT_EQ(text_of(ring->line(1)), "line 8");
    EXPECT_FALSE(ring->scroll_to_live());
}

TEST_F(ScreenRing, HistoryReachesAtMost199Lines) {
    for (int i = 1; i <= 300; ++i) {
        write(*ring, 24, "L" + std::to_string(i));
        ring->scroll_up(1, 1, 24);
    }
    EXPECT_EQ(text_of(ring->line(23)), "L300");
    // 23 lines on screen (row 24 blank) + 199 history lines: L79 is the oldest reachable one.
    EXPECT_EQ(text_of(ring->history_line(1)), "L79");
    EXPECT_EQ(text_of(ring->history_line(history_lines)), "L277");
    ring->set_scroll_position(-5);  // limited to 1
    EXPECT_EQ(ring->scroll_position(), 1);
    EXPECT_EQ(text_of(ring->line(1)), "L79");
    ring->scroll_to_live();
    EXPECT_EQ(ring->origin(), 300 % ring_lines);
}

TEST_F(ScreenRing, RegionScrollLosesTheLineThatLeaves) {
    for (int r = 1; r <= 24; ++r) write(*ring, r, "r" + std::to_string(r));
    ring->scroll_up(1, 5, 10);
    EXPECT_EQ(ring->origin(), 0);
    EXPECT_EQ(text_of(ring->line(4)), "r4");
    EXPECT_EQ(text_of(ring->line(5)), "r6");
    EXPECT_EQ(text_of(ring->line(9)), "r10");
    EXPECT_EQ(text_of(ring->line(10)), "");
    EXPECT_EQ(text_of(ring->line(11)), "r11");
    for (int k = 1; k <= history_lines; ++k) EXPECT_EQ(text_of(ring->history_line(k)), "") << k;

    ring->scroll_down(2, 5, 10);
    EXPECT_EQ(text_of(ring->line(5)), "");
    EXPECT_EQ(text_of(ring->line(6)), "");
    EXPECT_EQ(text_of(ring->line(7)), "r6");
    EXPECT_EQ(text_of(ring->line(10)), "r9");
    EXPECT_EQ(text_of(ring->line(11)), "r11");
}

TEST_F(ScreenRing, ScrollCarriesLineAttributes) {
    write(*ring, 3, "wide");
    ring->set_double_width(3);
    ring->scroll_up(1, 2, 6);
    EXPECT_EQ(ring->line_attr(2), line_double_width);
    EXPECT_EQ(ring->line_attr(3), 0u);
    EXPECT_EQ(ring->line_attr(6), 0u);  // the blank line entering the region is single width
}

TEST_F(ScreenRing, ScrollDownAfterScrollUpBringsNoOldText) {
    write(*ring, 1, "top");
    ring->scroll_up(1, 1, 24);
    ring->scroll_down(1, 1, 24);
    EXPECT_EQ(text_of(ring->line(1)), "");
    EXPECT_EQ(ring->origin(), 0);
}

TEST_F(ScreenRing, HugeCountsAreBoundedAndLeaveOnlyBlanks) {
    for (int r = 1; r <= 24; ++r) write(*ring, r, "x");
    ring->scroll_up(1000000000, 1, 24);
    EXPECT_EQ(ring->origin(), 0);  // 280 steps around a 280-line ring
    for (int r = 1; r <= 24; ++r) EXPECT_EQ(text_of(ring->line(r)), "");
    for (int k = 1; k <= history_lines; ++k) EXPECT_EQ(text_of(ring->history_line(k)), "");

    write(*ring, 7, "y");
    ring->scroll_down(2147483647, 3, 9);
    EXPECT_EQ(text_of(ring->line(7)), "");
    // Degenerate arguments do nothing rather than touch memory outside the screen.
    ring->scroll_up(1, 9, 3);
    ring->scroll_up(1, 0, 24);
    ring->scroll_down(-4, 1, 24);
    EXPECT_EQ(ring->origin(), 0);
}

TEST_F(ScreenRing, CopyLineAndMarks) {
    write(*ring, 2, "src");
    ring->set_double_width(2);
    ring->clear_marks();
    ring->copy_line(9, 2);
    EXPECT_EQ(text_of(ring->line(9)), "src");
    EXPECT_EQ(ring->line_attr(9), line_double_width);
    EXPECT_TRUE(ring->row_marked(9));
    EXPECT_FALSE(ring->row_marked(2));
    EXPECT_EQ(marked_cells(*ring, 9), line_cells);

    ring->cell_mark(9, 4) = mark_selected;
    ring->mark_row(9);  // row mark set, the row's cell marks cleared
    EXPECT_TRUE(ring->row_marked(9));
    EXPECT_EQ(marked_cells(*ring, 9), 0);
    EXPECT_EQ(ring->cell_mark(9, 4), mark_clean);

    ring->clear_marks();
    ring->scroll_up(1, 1, 24);
    for (int r = 1; r <= 24; ++r) EXPECT_TRUE(ring->row_marked(r)) << r;
}

}  // namespace

namespace {

// The plain run store against the one-cell rule it must match: every length around the 16-cell and four-cell steps
// (a run's last four cells overlap the step before), cells that already hold their value keep their marks (a
// selection's bit included), changed ones get mark_repaint. -1: every cell holds its value but the run's last.
TEST(PlainRun, MatchesTheCellByCellRule) {
    for (int n = 0; n <= 40; ++n)
        for (int same_every : {1, 2, 3, 0, -1}) {
            uint32_t cells[48], want_cells[48];
            uint8_t marks[48], want_marks[48], bytes[48];
            bool want_changed = false;
            for (int i = 0; i < 48; ++i) {
                bytes[i] = uint8_t('a' + i % 26);
                const bool same = same_every < 0 ? i != n - 1 : same_every && i % same_every == 0;
                cells[i] = want_cells[i] = same ? (cell_bold | bytes[i]) : cell_blank;
                marks[i] = want_marks[i] = uint8_t(i % 5 == 0 ? mark_selected : mark_clean);
            }
            for (int i = 0; i < n; ++i)
                if (want_cells[i] != (cell_bold | bytes[i])) {
                    want_cells[i] = cell_bold | bytes[i];
                    want_marks[i] = mark_repaint;
                    want_changed = true;
                }
            const bool changed = store_plain_run(cells, marks, bytes, n, cell_bold);
            EXPECT_EQ(changed, want_changed) << n << " " << same_every;
            EXPECT_EQ(0, std::memcmp(cells, want_cells, sizeof cells)) << n << " " << same_every;
            EXPECT_EQ(0, std::memcmp(marks, want_marks, sizeof marks)) << n << " " << same_every;
        }
}

}  // namespace

namespace {

// put_cells against put_cell on each cell of the span: every start and length around the four-cell steps, over
// lines plain or coloured where every, every other, all but every fifth or no cell already holds the value and
// colours; cells, colours, marks (a selection's bit on kept cells included) and the row mark must come out the same.
// Cells whose fg, bg or extra alone is set must not pass for plain ones under a plain erase.
TEST(PutCells, MatchesTheCellByCellRule) {
    auto span = std::make_unique<screen_ring>(), single = std::make_unique<screen_ring>();
    const cell_colours plain{0, 0, 0}, red_on_blue{0x1000001, 0x1000004, 0}, red_on_cyan{0x1000001, 0x1000006, 0},
        green_on_blue{0x1000002, 0x1000004, 0}, underlined{0, 0, 0x8}, red{0x1000001, 0, 0}, on_blue{0, 0x1000004, 0};
    const cell_colours all[] = {plain, red_on_blue, red_on_cyan, green_on_blue, underlined, red, on_blue};
    for (const cell_colours& k : all)
        for (const cell_colours& other : all)
            for (int same_every : {1, 2, 3, 0, -5})
                for (int first = 1; first <= 6; ++first)
                    for (int last = first - 1; last <= first + 13; ++last) {
                        for (screen_ring* r : {span.get(), single.get()}) {
                            r->fill_line(1, ' ', true);  // the line's colour arrays cleared too
                            for (int c = 1; c <= 24; ++c) {
                                // -5: all but every fifth cell.
                                const bool same = same_every > 0   ? c % same_every == 0
                                                  : same_every < 0 ? c % -same_every != 0
                                                                   : false;
                                // Cells that differ in their colours alone when other is not k.
                                const uint32_t v = same || !(other == k) ? cell_blank : uint32_t('a' + c);
                                r->put_cell(v, 1, c, same ? k : other);
                            }
                            r->clear_marks();
                            for (int c = 1; c <= 24; c += 5) r->cell_mark(1, c) = mark_selected;
                        }
                        span->put_cells(1, first, last, cell_blank, k);
                        for (int c = first; c <= last; ++c) single->put_cell(cell_blank, 1, c, k);
                        const auto where = ::testing::Message()
                                           << "first " << first << " last " << last << " every " << same_every << " fg "
                                           << k.fg << " bg " << k.bg << " extra " << k.extra << " other fg " << other.fg
                                           << " bg " << other.bg;
                        EXPECT_EQ(span->row_marked(1), single->row_marked(1)) << where;
                        for (int c = 1; c <= 24; ++c) {
                            EXPECT_EQ(span->line(1).cell(c), single->line(1).cell(c)) << where << " column " << c;
                            EXPECT_EQ(span->line(1).colours(c), single->line(1).colours(c)) << where << " column " << c;
                            EXPECT_EQ(span->cell_mark(1, c), single->cell_mark(1, c)) << where << " column " << c;
                        }
                    }
}

// An erase with plain blanks over a line written only partway (its `used` bound short of the span's end), plain or
// coloured: the same cells, colours and marks as put_cell on each cell, and `used` still bounds the cells put there.
TEST(PutCells, EraseBeyondTheWrittenEndMatchesTheCellRule) {
    auto span = std::make_unique<screen_ring>(), single = std::make_unique<screen_ring>();
    const cell_colours plain{0, 0, 0}, red_on_blue{0x1000001, 0x1000004, 0};
    for (const cell_colours& written : {plain, red_on_blue})
        for (int written_end : {0, 3, 8, 17})
            for (int first = 1; first <= 10; ++first)
                for (int last = first - 1; last <= 40; last += 3) {
                    for (screen_ring* r : {span.get(), single.get()}) {
                        r->fill_line(1, ' ', true);
                        for (int c = 1; c <= written_end; ++c) r->put_cell(cell_bold | 'x', 1, c, written);
                        r->clear_marks();
                    }
                    span->put_cells(1, first, last, cell_blank, plain);
                    for (int c = first; c <= last; ++c) single->put_cell(cell_blank, 1, c, plain);
                    const auto where = ::testing::Message() << "written to " << written_end << " first " << first
                                                            << " last " << last << " fg " << written.fg;
                    EXPECT_EQ(span->row_marked(1), single->row_marked(1)) << where;
                    const ring_line& l = span->line(1);
                    for (int c = 1; c <= span->width(); ++c) {
                        EXPECT_EQ(l.cell(c), single->line(1).cell(c)) << where << " column " << c;
                        EXPECT_EQ(l.colours(c), single->line(1).colours(c)) << where << " column " << c;
                        EXPECT_EQ(span->cell_mark(1, c), single->cell_mark(1, c)) << where << " column " << c;
                        if (c > l.used) {
                            EXPECT_TRUE(l.cell(c) == cell_blank && l.colours(c).plain()) << where << " " << c;
                        }
                    }
                }
}

// put_run with colours (a coloured pen, or plain text over a coloured line) against put_cell on each cell: every
// start and length around the four-cell steps, lines where every, every other, all but every fifth or no cell
// already holds the byte, attribute bits and colours.
TEST(PutRun, ColouredMatchesTheCellByCellRule) {
    auto run = std::make_unique<screen_ring>(), single = std::make_unique<screen_ring>();
    const cell_colours plain{0, 0, 0}, red_on_blue{0x1000001, 0x1000004, 0}, green_on_blue{0x1000002, 0x1000004, 0},
        red_on_cyan{0x1000001, 0x1000006, 0}, underlined{0, 0, 0x8};
    const cell_colours all[] = {plain, red_on_blue, green_on_blue, red_on_cyan, underlined};
    uint8_t bytes[32];
    for (int i = 0; i < 32; ++i) bytes[i] = uint8_t('A' + i);
    for (const cell_colours& k : all)
        for (const cell_colours& other : all)
            for (int same_every : {1, 2, 3, 0, -5})
                for (int first = 1; first <= 5; ++first)
                    for (int n = 0; n <= 13; ++n) {
                        cell_pen pen;
                        static_cast<cell_colours&>(pen) = k;
                        pen.attr = cell_bold;
                        for (screen_ring* r : {run.get(), single.get()}) {
                            r->fill_line(1, ' ', true);
                            for (int c = 1; c <= 24; ++c) {
                                const bool same = same_every > 0   ? c % same_every == 0
                                                  : same_every < 0 ? c % -same_every != 0
                                                                   : false;
                                const uint32_t byte = c >= first && c - first < 32 ? bytes[c - first] : 'z';
                                // Cells that differ in their colours alone when other is not k.
                                r->put_cell(same || !(other == k) ? (cell_bold | byte) : (cell_underline | byte), 1, c,
                                            same ? k : other);
                            }
                            r->clear_marks();
                            for (int c = 1; c <= 24; c += 5) r->cell_mark(1, c) = mark_selected;
                            r->set_pen(pen);
                        }
                        run->put_run(1, first, bytes, n, cell_bold);
                        for (int i = 0; i < n; ++i) single->put_cell(cell_bold | bytes[i], 1, first + i);
                        const auto where = ::testing::Message() << "first " << first << " n " << n << " every "
                                                                << same_every << " fg " << k.fg << " extra " << k.extra
                                                                << " other fg " << other.fg << " extra " << other.extra;
                        EXPECT_EQ(run->row_marked(1), single->row_marked(1)) << where;
                        if (n > 0) {
                            EXPECT_EQ(run->line(1).coloured, single->line(1).coloured) << where;
                        }
                        for (int c = 1; c <= 24; ++c) {
                            EXPECT_EQ(run->line(1).cell(c), single->line(1).cell(c)) << where << " column " << c;
                            EXPECT_EQ(run->line(1).colours(c), single->line(1).colours(c)) << where << " column " << c;
                            EXPECT_EQ(run->cell_mark(1, c), single->cell_mark(1, c)) << where << " column " << c;
                        }
                    }
}

// A whole line erased with background colour erase on takes the pen's background in every cell of its width, as
// put_cells over the width gives it; with it off the colours go.
TEST(FillLine, BackgroundEraseMatchesPutCells) {
    for (const bool bce : {true, false})
        for (const uint32_t bg : {0u, 0x5u, 0x1000004u}) {
            auto fill = std::make_unique<screen_ring>(), cells = std::make_unique<screen_ring>();
            for (screen_ring* r : {fill.get(), cells.get()}) {
                r->set_background_colour_erase(bce);
                cell_pen pen;
                pen.fg = 0x1000002;
                pen.extra = extra_italic;
                r->set_pen(pen);
                for (int c = 1; c <= r->width(); c += 3) r->put_char('x', 1, c);
                pen.bg = bg;
                r->set_pen(pen);
            }
            fill->fill_line(1, ' ', false);
            cells->put_cells(1, 1, cells->width(), cell_blank, cells->erase_pen());
            for (int c = 1; c <= fill->width(); ++c) {
                EXPECT_EQ(fill->line(1).cell(c), cells->line(1).cell(c)) << bce << " " << bg << " column " << c;
                EXPECT_EQ(fill->line(1).colours(c), cells->line(1).colours(c)) << bce << " " << bg << " column " << c;
            }
            EXPECT_EQ(fill->line(1).coloured != 0, bce && bg != 0) << bce << " " << bg;
        }
}

}  // namespace
