#pragma once
// Mouse selection, clipboard text and wheel rules of the terminal view, free of any toolkit so they can be
// exercised without a display. Header-only so the view can use it without linking the dialogs library. Columns are
// 1-based; rows are lines of the whole text: 1..rows the live screen, 0, -1, ... the history above it, so that a
// selection stays on its text whatever the scroll position.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <algorithm>

namespace selection {

constexpr int scroll_min = 1;
constexpr int scroll_live = 200;  // the live position with the default history; a longer one moves it

struct state {
    bool shown = false;
    int start_col = 1, start_row = 1;  // where the button went down
    int end_col = 1, end_row = 1;      // pointer cell at the last move with the button held
};

// Columns of `row` inside the block. False when the row holds no selected cell: rows outside the block, and
// every row of a block dragged down and to the left (the upper point's column lies right of the lower one's).
bool row_span(const state& s, int row, int& first_col, int& last_col);
bool contains(const state& s, int row, int col);

// A press starts a selection only when the view has had the focus for at least two whole seconds.
bool click_allowed(bool focused, std::int64_t now_s, std::int64_t focus_gained_s);

// Byte of a cell (the character code, attributes stripped).
using char_at_fn = std::function<std::uint8_t(int row, int col)>;

// Word around `col` on one row: a word character has a code above 32. A click on a non-word character selects
// that cell alone.
void word_span(const char_at_fn& char_at, int row, int col, int columns, int& first_col, int& last_col);

// Line ending of clipboard text on this platform, as other programs expect it there.
#ifdef _WIN32
inline constexpr std::string_view clipboard_line_end = "\r\n";
#else
inline constexpr std::string_view clipboard_line_end = "\n";
#endif

// Each row of the block top to bottom: between() before every row but the first, then row(r, first, last) for a
// row that holds selected cells.
template <class Row, class Between>
void for_each_block_row(const state& s, Row&& row, Between&& between);

// Selected text, rows top to bottom joined by `line_end` (none after the last row), trailing blanks kept.
std::string block_text(const state& s, const char_at_fn& char_at, std::string_view line_end = clipboard_line_end);

// Bytes of a pasted text in sending order: each line ending (LF, CR LF or a lone CR) becomes the one CR the
// host expects for Return; stop at the first zero byte. bracketed (the xterm emulation's DECSET 2004): the bytes go
// between ESC [ 200 ~ and ESC [ 201 ~, and the text's own ESC bytes are dropped so that it cannot end the paste
// early and have the rest read as typed commands.
void for_each_paste_byte(std::string_view text, const std::function<void(std::uint8_t)>& send, bool bracketed = false);

// New scroll-back position after one wheel message: one line toward the live screen when the wheel turns toward
// the user (negative delta), one back otherwise, limited to 1..live.
int wheel_position(int position, int delta, int live = scroll_live);

// ---- definitions ----

inline bool row_span(const state& s, int row, int& first_col, int& last_col) {
    int top = s.start_row, bottom = s.end_row;
    int top_col = s.start_col, bottom_col = s.end_col;
    if (top > bottom) {
        std::swap(top, bottom);
        std::swap(top_col, bottom_col);
    }
    if (row < top || row > bottom) return false;
    if (top == bottom) {
        first_col = std::min(top_col, bottom_col);
        last_col = std::max(top_col, bottom_col);
        return true;
    }
    first_col = top_col;
    last_col = bottom_col;
    return first_col <= last_col;
}

inline bool contains(const state& s, int row, int col) {
    int first = 0, last = -1;
    return row_span(s, row, first, last) && col >= first && col <= last;
}

inline bool click_allowed(bool focused, std::int64_t now_s, std::int64_t focus_gained_s) {
    return focused && now_s > focus_gained_s + 1;
}

namespace detail {
inline bool is_word(std::uint8_t ch) { return ch > 32; }
}  // namespace detail

inline void word_span(const char_at_fn& char_at, int row, int col, int columns, int& first_col, int& last_col) {
    col = std::clamp(col, 1, std::max(columns, 1));
    if (!detail::is_word(char_at(row, col))) {
        first_col = last_col = col;
        return;
    }
    int n = col;
    while (n > 1 && detail::is_word(char_at(row, n))) --n;
    first_col = detail::is_word(char_at(row, n)) ? n : n + 1;
    int m = col;
    while (m < columns && detail::is_word(char_at(row, m))) ++m;
    last_col = detail::is_word(char_at(row, m)) ? m : m - 1;
}

template <class Row, class Between>
void for_each_block_row(const state& s, Row&& row, Between&& between) {
    const int top = std::min(s.start_row, s.end_row);
    const int bottom = std::max(s.start_row, s.end_row);
    for (int r = top; r <= bottom; ++r) {
        if (r != top) between();
        int first = 0, last = -1;
        if (row_span(s, r, first, last)) row(r, first, last);
    }
}

inline std::string block_text(const state& s, const char_at_fn& char_at, std::string_view line_end) {
    std::string out;
    for_each_block_row(
        s,
        [&](int r, int first, int last) {
            for (int c = first; c <= last; ++c) out += static_cast<char>(char_at(r, c));
        },
        [&] { out += line_end; });
    return out;
}

inline void for_each_paste_byte(std::string_view text, const std::function<void(std::uint8_t)>& send, bool bracketed) {
    auto marker = [&](std::string_view m) {
        for (const char ch : m) send(static_cast<std::uint8_t>(ch));
    };
    if (bracketed) marker("\x1b[200~");
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '\0') break;
        if (bracketed && ch == '\x1b') continue;
        if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        send(ch == '\n' ? std::uint8_t{'\r'} : static_cast<std::uint8_t>(ch));
    }
    if (bracketed) marker("\x1b[201~");
}

inline int wheel_position(int position, int delta, int live) {
    const int step = delta < 0 ? 1 : -1;
    return std::clamp(position + step, scroll_min, live);
}

}  // namespace selection
