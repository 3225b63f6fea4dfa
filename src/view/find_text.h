#pragma once
// Find over the scroll-back: the history and the screen as the text a copy would give, searched a line at a time.
// Qt-free so that it can be tested on its own; the find bar and the view use it. A scan reads each line into one
// reused buffer, straight from the compact archived lines, so that a long history costs no allocation a line.
#include <string>
#include <string_view>
#include <vector>

struct ring_line;
struct line_view;
class screen_ring;

namespace find_text {

// A line's text and the 1-based column each character comes from (a cluster's marks share their base's column;
// the right half of a wide character adds nothing), and one more entry: the column after the text.
struct line_text {
    std::u32string text;
    std::vector<int> columns;  // text.size() + 1 entries
};
// Columns 1..columns of a line, trailing blanks dropped so that a search for blanks does not light up every line.
line_text text_of(const ring_line& l, int columns, bool utf8, int page);
// The same text without the columns, into out (cleared first).
void read_line(const line_view& v, int columns, bool utf8, int page, std::u32string& out);

// The lines a find goes through, read one at a time.
class line_source {
public:
    virtual ~line_source() = default;
    virtual int count() const = 0;
    virtual void read(int line, std::u32string& out) const = 0;
};

// A ring's history (oldest first) and then its screen rows, whatever the scroll position: line i is the ring's
// line_at(i + 1 - history_count()).
class ring_source final : public line_source {
public:
    ring_source(const screen_ring& ring, bool utf8, int page) : ring_(ring), utf8_(utf8), page_(page) {}
    int count() const override;
    void read(int line, std::u32string& out) const override;
    line_text text(int line) const;  // with the columns, for the lines that matched

private:
    const screen_ring& ring_;
    bool utf8_;
    int page_;
};

struct options {
    bool regex = false;  // ECMAScript syntax; else the pattern is plain text
    bool match_case = false;
};

// Characters [first, end) of line `line`.
struct match {
    int line = 0;
    int first = 0;
    int end = 0;
    bool operator==(const match&) const = default;
};

struct result {
    std::vector<match> matches;  // in reading order, none empty, none overlapping within a line
    bool bad_pattern = false;    // the regular expression does not compile
};

// Every match of pattern in every line; an empty pattern finds nothing.
result find_all(const line_source& lines, std::u32string_view pattern, const options& o);
result find_all(const std::vector<std::u32string>& lines, std::u32string_view pattern, const options& o);

// Index of the match to go to from position (line, first): the first one after it in reading order, or with
// `backward` the last one before it; past either end the search wraps. -1 when there are none.
int step_from(const std::vector<match>& ms, int line, int first, bool backward);

}  // namespace find_text
