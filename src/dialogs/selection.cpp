#include "dialogs/selection.h"

#include <algorithm>

namespace selection {

bool row_span(const state& s, int row, int& first_col, int& last_col) {
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

bool contains(const state& s, int row, int col) {
    int first = 0, last = -1;
    return row_span(s, row, first, last) && col >= first && col <= last;
}

cell pointer_cell(int x, int y, int cell_w, int cell_h, int columns, int rows) {
    cell c{1, 1};
    if (cell_w > 0 && x > 0) c.col = x / cell_w + 1;
    if (cell_h > 0 && y > 0) c.row = y / cell_h + 1;
    c.col = std::clamp(c.col, 1, std::max(columns, 1));
    c.row = std::clamp(c.row, 1, std::max(rows, 1));
    return c;
}

bool click_allowed(bool focused, std::int64_t now_s, std::int64_t focus_gained_s) {
    return focused && now_s > focus_gained_s + 1;
}

namespace {
bool is_word(std::uint8_t ch) { return ch > 32; }
}  // namespace

void word_span(const char_at_fn& char_at, int row, int col, int columns, int& first_col, int& last_col) {
    col = std::clamp(col, 1, std::max(columns, 1));
    if (!is_word(char_at(row, col))) {
        first_col = last_col = col;
        return;
    }
    int n = col;
    while (n > 1 && is_word(char_at(row, n))) --n;
    first_col = is_word(char_at(row, n)) ? n : n + 1;
    int m = col;
    while (m < columns && is_word(char_at(row, m))) ++m;
    last_col = is_word(char_at(row, m)) ? m : m - 1;
}

std::string block_text(const state& s, const char_at_fn& char_at) {
    std::string out;
    const int top = std::min(s.start_row, s.end_row);
    const int bottom = std::max(s.start_row, s.end_row);
    for (int r = top; r <= bottom; ++r) {
        if (r != top) out += "\r\n";
        int first = 0, last = -1;
        if (!row_span(s, r, first, last)) continue;
        for (int c = first; c <= last; ++c) out += static_cast<char>(char_at(r, c));
    }
    return out;
}

std::string append_text(std::string_view existing, std::string_view block) {
    std::string out;
    out.reserve(existing.size() + 2 + block.size());
    out.append(existing);
    out += "\r\n";
    out.append(block);
    return out;
}

void for_each_paste_byte(std::string_view text, const std::function<void(std::uint8_t)>& send) {
    for (char ch : text) {
        if (ch == '\0') break;
        if (ch == '\n') continue;
        send(static_cast<std::uint8_t>(ch));
    }
}

int wheel_position(int position, int delta) {
    const int step = delta < 0 ? 1 : -1;
    return std::clamp(position + step, scroll_min, scroll_live);
}

}  // namespace selection
