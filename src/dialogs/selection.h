#pragma once
// Mouse selection, clipboard text and wheel rules of the terminal view, free of any toolkit so they can be
// exercised without a display. Coordinates are 1-based screen cells.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace selection {

constexpr int screen_rows = 24;
constexpr int scroll_min = 1;
constexpr int scroll_live = 200;

struct state {
    bool shown = false;
    int start_col = 1, start_row = 1;  // where the button went down
    int end_col = 1, end_row = 1;      // pointer cell at the last move with the button held
};

// Columns of `row` inside the block. False when the row holds no selected cell: rows outside the block, and
// every row of a block dragged down and to the left (the upper point's column lies right of the lower one's).
bool row_span(const state& s, int row, int& first_col, int& last_col);
bool contains(const state& s, int row, int col);

// Pixel to cell with the cell size of the current font, clamped to the grid.
struct cell {
    int col, row;
};
cell pointer_cell(int x, int y, int cell_w, int cell_h, int columns, int rows = screen_rows);

// A press starts a selection only when the view has had the focus for at least two whole seconds.
bool click_allowed(bool focused, std::int64_t now_s, std::int64_t focus_gained_s);

// Byte of a cell (the character code, attributes stripped).
using char_at_fn = std::function<std::uint8_t(int row, int col)>;

// Word around `col` on one row: a word character has a code above 32. A click on a non-word character selects
// that cell alone.
void word_span(const char_at_fn& char_at, int row, int col, int columns, int& first_col, int& last_col);

// Selected text, rows top to bottom joined by CR LF (none after the last row), trailing blanks kept.
std::string block_text(const state& s, const char_at_fn& char_at);

// Text that Append puts on the clipboard: what it held, CR LF, then the block.
std::string append_text(std::string_view existing, std::string_view block);

// Bytes of a pasted text in sending order: LF bytes left out, stop at the first zero byte.
void for_each_paste_byte(std::string_view text, const std::function<void(std::uint8_t)>& send);

// New scroll-back position after one wheel message: one line toward the live screen when the wheel turns toward
// the user (negative delta), one back otherwise, limited to 1..200.
int wheel_position(int position, int delta);

}  // namespace selection
