#include "terminal/screen.h"

#include <algorithm>
#include <iterator>

screen_ring::screen_ring() {
    for (auto& l : lines_) {
        l.attr = 0;
        std::fill(std::begin(l.cells), std::end(l.cells), cell_blank);
    }
    std::memset(row_marks_, 1, sizeof row_marks_);
    std::memset(cell_marks_, 0, sizeof cell_marks_);
}

void screen_ring::set_columns(int w) {
    if (w == 80 || w == 132) columns_ = w;
}

void screen_ring::mark_cells(int row, int first, int last) {
    std::memset(&cell_marks_[row - 1][first - 1], mark_repaint, size_t(last - first + 1));
    row_marks_[row - 1] = 1;
}

void screen_ring::mark_row(int row) {
    row_marks_[row - 1] = 1;
    all_marked_ = false;
    std::memset(cell_marks_[row - 1], mark_clean, line_cells);
}

void screen_ring::mark_all() {
    if (all_marked_) return;
    all_marked_ = true;
    std::memset(row_marks_, 1, sizeof row_marks_);
    std::memset(cell_marks_, mark_repaint, sizeof cell_marks_);
}

void screen_ring::clear_marks() {
    all_marked_ = false;
    std::memset(row_marks_, 0, sizeof row_marks_);
    std::memset(cell_marks_, mark_clean, sizeof cell_marks_);
}

void screen_ring::set_line_attr(int row, uint32_t a) {
    ring_line& l = line(row);
    if (l.attr != a) {
        l.attr = a;
        mark_cells(row, 1, line_cells);
    }
}

void screen_ring::put_char_selective(uint8_t c, int row, int column) {
    uint32_t& cell = line(row).cells[column - 1];
    if (!(cell & cell_protected)) cell = attr_ | c;
    cell_marks_[row - 1][column - 1] = mark_repaint;
    row_marks_[row - 1] = 1;
}

void screen_ring::insert_blank(int row, int column) {
    if (column < 1 || column > columns_) return;  // past a narrowed width there is nothing to shift
    uint32_t* cells = line(row).cells;
    for (int i = columns_; i > column; --i) cells[i - 1] = cells[i - 2];
    mark_cells(row, column, columns_);
}

void screen_ring::delete_char(int row, int column) {
    if (column < 1 || column > columns_) return;
    uint32_t* cells = line(row).cells;
    for (int i = column; i < columns_; ++i) cells[i - 1] = cells[i];
    cells[columns_ - 1] = cell_blank;
    mark_cells(row, column, columns_);
}

void screen_ring::insert_cells(int row, int column, int n, uint32_t value) {
    if (n <= 0 || column < 1 || column > columns_) return;
    int room = columns_ - column + 1;
    n = std::min(n, room);
    uint32_t* cells = line(row).cells;
    std::memmove(cells + column - 1 + n, cells + column - 1, sizeof(uint32_t) * size_t(room - n));
    std::fill(cells + column - 1, cells + column - 1 + n, value);
    mark_cells(row, column, columns_);
}

void screen_ring::delete_chars(int row, int column, int n) {
    if (n <= 0 || column < 1 || column > columns_) return;
    int room = columns_ - column + 1;
    n = std::min(n, room);
    uint32_t* cells = line(row).cells;
    std::memmove(cells + column - 1, cells + column - 1 + n, sizeof(uint32_t) * size_t(room - n));
    std::fill(cells + columns_ - n, cells + columns_, cell_blank);
    mark_cells(row, column, columns_);
}

void screen_ring::fill_line(int row, uint8_t c, bool reset_line_attr) {
    ring_line& l = line(row);
    std::fill(std::begin(l.cells), std::end(l.cells), uint32_t(c));
    if (reset_line_attr) l.attr = 0;
    mark_cells(row, 1, line_cells);
}

void screen_ring::fill_line_selective(int row, uint8_t c, bool reset_line_attr) {
    ring_line& l = line(row);
    for (int i = 0; i < columns_; ++i)
        if (!(l.cells[i] & cell_protected)) l.cells[i] = c;
    if (reset_line_attr) l.attr = 0;
    mark_cells(row, 1, line_cells);
}

void screen_ring::copy_line(int dst_row, int src_row) {
    if (dst_row == src_row) return;
    line(dst_row) = line(src_row);
    mark_cells(dst_row, 1, line_cells);
}

void screen_ring::rotate(int delta) {
    origin_ = (origin_ + delta) % ring_lines;
    if (origin_ < 0) origin_ += ring_lines;
}

void screen_ring::scroll_up(int n, int top, int bottom) {
    if (n <= 0 || top < 1 || bottom > screen_rows || top > bottom) return;
    if (top == 1 && bottom == screen_rows) {
        n = std::min(n, ring_lines);
        for (int i = 0; i < n; ++i) {
            rotate(1);
            ring_line& l = line(screen_rows);
            l.attr = 0;
            std::fill(std::begin(l.cells), std::end(l.cells), cell_blank);
        }
        mark_all();
        return;
    }
    int height = bottom - top + 1;
    n = std::min(n, height);
    for (int r = top; r + n <= bottom; ++r) copy_line(r, r + n);
    for (int r = bottom - n + 1; r <= bottom; ++r) fill_line(r, ' ', true);
}

void screen_ring::scroll_down(int n, int top, int bottom) {
    if (n <= 0 || top < 1 || bottom > screen_rows || top > bottom) return;
    if (top == 1 && bottom == screen_rows) {
        n = std::min(n, ring_lines);
        for (int i = 0; i < n; ++i) {
            rotate(-1);
            ring_line& l = line(1);
            l.attr = 0;
            std::fill(std::begin(l.cells), std::end(l.cells), cell_blank);
        }
        mark_all();
        return;
    }
    int height = bottom - top + 1;
    n = std::min(n, height);
    for (int r = bottom; r - n >= top; --r) copy_line(r, r - n);
    for (int r = top; r < top + n; ++r) fill_line(r, ' ', true);
}

bool screen_ring::set_scroll_position(int position) {
    position = std::clamp(position, 1, scroll_live);
    if (position == scroll_pos_) return false;
    rotate(position - scroll_pos_);
    scroll_pos_ = position;
    mark_all();
    return true;
}
