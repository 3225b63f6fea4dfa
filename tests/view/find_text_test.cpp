// Find over the scroll-back text: plain and regular-expression patterns, case, steps between matches, and the
// columns a line's characters come from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "terminal/charset.h"
#include "terminal/screen.h"
#include "view/find_text.h"

namespace {
using find_text::match;

struct find_case {
    const char32_t* pattern;
    bool regex, match_case;
    std::vector<match> want;
    bool bad = false;
};

const std::vector<std::u32string> lines = {
    U"make: *** [all] Error 1", U"error: x.c:12: expected ';'", U"",
    U"ERROR ERROR error",       U"Grüße aus Köln, GRÜSSE",      U"aaaa",
    U"Ärger mit ÄRGER",
};

const find_case find_cases[] = {
    {U"error", false, false, {{0, 16, 21}, {1, 0, 5}, {3, 0, 5}, {3, 6, 11}, {3, 12, 17}}},
    {U"error", false, true, {{1, 0, 5}, {3, 12, 17}}},
    {U"ERROR", false, true, {{3, 0, 5}, {3, 6, 11}}},
    {U"[all]", false, false, {{0, 10, 15}}},  // plain text: brackets are brackets
    {U"***", false, false, {{0, 6, 9}}},
    {U"';'", false, false, {{1, 24, 27}}},
    {U"aa", false, false, {{5, 0, 2}, {5, 2, 4}}},  // no overlaps
    {U"ärger", false, false, {{6, 0, 5}, {6, 10, 15}}},
    {U"ärger", false, true, {}},
    {U"köln", false, false, {{4, 10, 14}}},
    {U"grüße", false, false, {{4, 0, 5}}},
    {U"", false, false, {}},
    {U"nothing here", false, false, {}},
    {U"[0-9]+", true, false, {{0, 22, 23}, {1, 11, 13}}},
    {U"^error", true, false, {{1, 0, 5}, {3, 0, 5}}},
    {U"error$", true, true, {{3, 12, 17}}},
    {U"E\\w+ \\d", true, true, {{0, 16, 23}}},
    {U"a*", true, false, {{0, 1, 2}, {0, 11, 12}, {4, 6, 7}, {5, 0, 4}}},  // empty matches are skipped
    {U"x?", true, false, {{1, 7, 8}, {1, 16, 17}}},
    {U"(a*)*b", true, false, {}},  // must not hang
    {U"(aa)\\1", true, false, {{5, 0, 4}}},
    {U"[unclosed", true, false, {}, true},
    {U"(", true, false, {}, true},
    {U"*", true, false, {}, true},
};

TEST(FindText, PatternsOverLines) {
    for (const find_case& c : find_cases) {
        find_text::options o;
        o.regex = c.regex;
        o.match_case = c.match_case;
        const find_text::result r = find_text::find_all(lines, c.pattern, o);
        EXPECT_EQ(r.matches, c.want) << "pattern #" << (&c - find_cases) << " regex " << c.regex << " case "
                                     << c.match_case;
        EXPECT_EQ(r.bad_pattern, c.bad) << "pattern #" << (&c - find_cases);
    }
}

struct step_case {
    int line, first;
    bool backward;
    int want;
};

TEST(FindText, StepsWrapAroundFromAnyPosition) {
    const std::vector<match> ms = {{2, 0, 1}, {2, 5, 6}, {7, 3, 4}};
    const step_case cases[] = {
        {-1, 0, false, 0}, {1000, 0, true, 2},                    // from past either end
        {2, 0, false, 1},  {2, 5, false, 2},   {7, 3, false, 0},  // wraps to the first
        {2, 5, true, 0},   {2, 0, true, 2},                       // wraps to the last
        {2, 3, false, 1},  {2, 3, true, 0},    {5, 0, false, 2}, {5, 0, true, 1}, {1000, 0, false, 0}, {-1, 0, true, 2},
    };
    for (const step_case& c : cases)
        EXPECT_EQ(find_text::step_from(ms, c.line, c.first, c.backward), c.want)
            << "from " << c.line << ":" << c.first << (c.backward ? " back" : " on");
    EXPECT_EQ(find_text::step_from({}, 0, 0, false), -1);
    EXPECT_EQ(find_text::step_from({}, 0, 0, true), -1);
}

TEST(FindText, LineTextKeepsEachCharactersColumn) {
    screen_ring ring;
    ring_line& l = ring.line(1);
    auto put = [&](int col, std::uint32_t cell) { l.cells[col - 1] = cell; };
    for (int c = 1; c <= line_cells; ++c) put(c, cell_blank);
    put(1, 'a');
    put(2, cell_of_code(0x4E2D) | cell_wide);  // a wide character: one character for two columns
    put(3, cell_wide_right | cell_blank);
    put(4, 'b');
    put(6, 'c');
    put(100, 'z');  // beyond 80 columns: not part of the line
    const find_text::line_text t = find_text::text_of(l, 80, true, 0);
    EXPECT_EQ(t.text, U"a\u4E2Db c");
    EXPECT_EQ(t.columns, (std::vector<int>{1, 2, 4, 5, 6, 7})) << "trailing blanks dropped, the wide tail skipped";

    put(6, cell_blank);
    EXPECT_EQ(find_text::text_of(l, 132, true, 0).text, U"a\u4E2Db" + std::u32string(95, U' ') + U"z");
    put(79, cell_of_code(0x4E2D) | cell_wide);
    put(80, cell_wide_right | cell_blank);
    EXPECT_EQ(find_text::text_of(l, 80, true, 0).columns.back(), 81) << "after a wide character at the edge";
    for (int c = 1; c <= line_cells; ++c) put(c, cell_blank);
    EXPECT_EQ(find_text::text_of(l, 80, false, 0).text, U"");
    EXPECT_EQ(find_text::text_of(l, 80, false, 0).columns, std::vector<int>{1});
}

// The scan's reading of a line, straight from the ring or the archive, gives the text text_of gives.
TEST(FindText, ScanReadsLinesAsTextOfDoes) {
    struct line_case {
        const char* name;
        std::vector<std::pair<int, std::uint32_t>> cells;  // column, cell
        bool utf8;
        int columns;
    };
    const line_case cases[] = {
        {"blank", {}, true, 80},
        {"text", {{1, 'l'}, {2, 's'}, {5, 'x'}}, false, 80},
        {"wide",
         {{1, 'a'}, {2, cell_of_code(0x4E2D) | cell_wide}, {3, cell_wide_right | cell_blank}, {4, 'b'}},
         true,
         80},
        {"wide tail alone", {{3, cell_wide_right | cell_blank}, {4, 'q'}}, true, 80},
        {"code page", {{1, 0xE9}, {2, 0xFC}}, false, 80},
        {"beyond the columns", {{1, 'a'}, {90, 'z'}}, true, 80},
        {"wide screen", {{1, 'a'}, {130, 'z'}}, true, 132},
        {"nul at the end", {{1, 'a'}, {2, 0}}, true, 80},
    };
    for (const line_case& c : cases) {
        screen_ring ring;
        ring.set_history_limit(1000);
        for (const auto& [col, cell] : c.cells) ring.put_cell(cell, 24, col);
        const std::u32string want = find_text::text_of(ring.line(24), c.columns, c.utf8, 0).text;
        std::u32string got = U"left over";
        find_text::read_line(ring.view_at(24), c.columns, c.utf8, 0, got);
        EXPECT_EQ(got, want) << c.name << " in the ring";
        for (int i = 0; i < 400; ++i) ring.scroll_up(1, 1, 24);  // out to the archive
        const line_view archived = ring.view_at(24 - 400);
        EXPECT_LT(archived.length, line_cells) << c.name;
        find_text::read_line(archived, c.columns, c.utf8, 0, got);
        EXPECT_EQ(got, want) << c.name << " archived";
    }
}

// Find goes through the whole history: text 90,000 lines back is found at its line, plain and as an expression.
TEST(FindText, FindsTextFarBackInALongHistory) {
    screen_ring ring;
    ring.resize(24, 200, 0);
    ring.set_history_limit(100000);
    const int total = 100000;
    const int needle_at = total - 90000;  // emitted line number of the needle
    for (int i = 1; i <= total; ++i) {
        std::string t = "line " + std::to_string(i) + " of the build log, nothing to see";
        if (i == needle_at) t += " Segmentation FAULT here";
        ring.put_run(24, 1, reinterpret_cast<const uint8_t*>(t.data()), int(t.size()), 0);
        ring.scroll_up(1, 1, 24);
    }
    const find_text::ring_source source(ring, false, 0);
    ASSERT_EQ(source.count(), ring.history_count() + 24);
    // Emitted line i is line_at(i - total + 23) (row 23 holds the last), find line history_count() + that - 1.
    const int want_line = ring.history_count() + (needle_at - total + 23) - 1;
    struct far_case {
        const char32_t* pattern;
        bool regex, match_case;
        int first;
    };
    const std::string before = "line " + std::to_string(needle_at) + " of the build log, nothing to see ";
    const int at = int(before.size()) + std::string("Segmentation ").size();
    const far_case cases[] = {
        {U"fault", false, false, at},
        {U"FAULT", false, true, at},
        {U"Seg\\w+ F[A-Z]+", true, true, at - 13},
        {U"segmentation fault", false, false, at - 13},
    };
    for (const far_case& c : cases) {
        find_text::options o;
        o.regex = c.regex;
        o.match_case = c.match_case;
        const find_text::result r = find_text::find_all(source, c.pattern, o);
        ASSERT_EQ(r.matches.size(), 1u) << "pattern #" << (&c - cases);
        EXPECT_EQ(r.matches[0].line, want_line) << "pattern #" << (&c - cases);
        EXPECT_EQ(r.matches[0].first, c.first) << "pattern #" << (&c - cases);
        std::u32string text;
        source.read(r.matches[0].line, text);
        EXPECT_NE(text.find(U"Segmentation FAULT"), std::u32string::npos);
        EXPECT_EQ(source.text(r.matches[0].line).text, text) << "with its columns, the same line";
    }
    find_text::options o;
    EXPECT_TRUE(find_text::find_all(source, U"fault", {true, true}).matches.empty()) << "case kept";
    // 100,000 history lines and 23 on the screen: the oldest 23 are blank lines the ring started with.
    EXPECT_EQ(find_text::find_all(source, U"nothing to see", o).matches.size(), size_t(total))
        << "every line output is still there";
}
}  // namespace
