#include "terminal/screen.h"

#include <algorithm>
#include <utility>
#include <iterator>

namespace {

// n entries of one of a line's arrays from index from to index to (the ranges may overlap).
template <class T>
void shift(T* cells, int to, int from, int n) {
    if (n > 0) std::memmove(cells + to, cells + from, sizeof(T) * size_t(n));
}

// n cells of a line, with their colours, from index from to index to. The colour arrays of a line that is not
// coloured are all zero, so they need no shift.
void shift_cells(ring_line& l, int to, int from, int n) {
    shift(l.cells, to, from, n);
    if (!l.coloured) return;
    shift(l.fg, to, from, n);
    shift(l.bg, to, from, n);
    shift(l.extra, to, from, n);
}

}  // namespace

screen_ring::screen_ring() {
    const auto clear = [this](ring_line& l) {
        l.attr = 0;
        l.coloured = 1;  // not known plain yet: the blanking below clears every array
        blank_line(l, cell_blank);
    };
    std::for_each(std::begin(pool_), std::end(pool_), clear);
    for (int i = 0; i < ring_lines; ++i) slot_[i] = uint16_t(i);
    for (int i = 0; i < screen_rows; ++i) other_slot_[i] = uint16_t(ring_lines + i);
    std::memset(row_marks_, 1, sizeof row_marks_);
    std::memset(cell_marks_, 0, sizeof cell_marks_);
}

void screen_ring::blank_cells(ring_line& l, int first, int end, uint32_t c) const {
    if (first == 0 && end == line_cells)
        fill_words(l.cells, c);  // vectorised; std::fill over a variable range is not
    else
        std::fill(l.cells + first, l.cells + end, c);
    const cell_pen e = erase_pen();
    if (e.plain()) {
        if (!l.coloured) return;
        if (first == 0 && end == line_cells) {
            std::memset(l.fg, 0, sizeof l.fg);
            std::memset(l.bg, 0, sizeof l.bg);
            std::memset(l.extra, 0, sizeof l.extra);
            l.coloured = 0;
            return;
        }
    } else {
        l.coloured = 1;
    }
    std::fill(l.fg + first, l.fg + end, e.fg);
    std::fill(l.bg + first, l.bg + end, e.bg);
    std::fill(l.extra + first, l.extra + end, e.extra);
}

void screen_ring::put_run_coloured(int row, int column, const uint8_t* bytes, int n, uint32_t attr_bits) {
    ring_line& l = line(row);
    if (!pen_.plain()) l.coloured = 1;
    const int at = column - 1;
    uint32_t* cells = l.cells + at;
    uint32_t* fg = l.fg + at;
    uint32_t* bg = l.bg + at;
    uint16_t* extra = l.extra + at;
    uint8_t* marks = cell_marks_[row - 1] + at;
    const uint32_t f = pen_.fg, b = pen_.bg;
    const uint16_t e = pen_.extra;
    bool changed = false;
    for (int i = 0; i < n; ++i) {
        const uint32_t v = attr_bits | bytes[i];
        if (cells[i] != v || fg[i] != f || bg[i] != b || extra[i] != e) {
            cells[i] = v;
            fg[i] = f;
            bg[i] = b;
            extra[i] = e;
            marks[i] = mark_repaint;
            changed = true;
        }
    }
    if (changed) row_marks_[row - 1] = 1;
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
    ring_line& l = line(row);
    const int i = column - 1;
    if (!(l.cells[i] & cell_protected)) {
        if (!pen_.plain()) l.coloured = 1;
        l.cells[i] = pen_.attr | c;
        l.fg[i] = pen_.fg;
        l.bg[i] = pen_.bg;
        l.extra[i] = pen_.extra;
    }
    cell_marks_[row - 1][column - 1] = mark_repaint;
    row_marks_[row - 1] = 1;
}

void screen_ring::insert_blank(int row, int column) {
    if (column < 1 || column > columns_) return;  // past a narrowed width there is nothing to shift
    ring_line& l = line(row);
    const int at = column - 1, n = columns_ - column;
    shift_cells(l, at + 1, at, n);
    mark_cells(row, column, columns_);
}

void screen_ring::delete_char(int row, int column) {
    if (column < 1 || column > columns_) return;
    ring_line& l = line(row);
    const int at = column - 1, n = columns_ - column;
    shift_cells(l, at, at + 1, n);
    blank_cells(l, columns_ - 1, columns_, cell_blank);
    mark_cells(row, column, columns_);
}

void screen_ring::insert_cells(int row, int column, int n, uint32_t value) {
    if (n <= 0 || column < 1 || column > columns_) return;
    int room = columns_ - column + 1;
    n = std::min(n, room);
    ring_line& l = line(row);
    const int at = column - 1;
    shift_cells(l, at + n, at, room - n);
    blank_cells(l, at, at + n, value);
    mark_cells(row, column, columns_);
}

void screen_ring::delete_chars(int row, int column, int n) {
    if (n <= 0 || column < 1 || column > columns_) return;
    int room = columns_ - column + 1;
    n = std::min(n, room);
    ring_line& l = line(row);
    const int at = column - 1;
    shift_cells(l, at, at + n, room - n);
    blank_cells(l, columns_ - n, columns_, cell_blank);
    mark_cells(row, column, columns_);
}

void screen_ring::put_cells(int row, int first, int last, uint32_t value, const cell_colours& k) {
    ring_line& l = line(row);
    uint8_t* marks = cell_marks_[row - 1];
    bool changed = false;
    if (!l.coloured && k.plain()) {
        for (int i = first - 1; i < last; ++i) {
            if (l.cells[i] != value) {
                l.cells[i] = value;
                marks[i] = mark_repaint;
                changed = true;
            }
        }
    } else {
        if (!k.plain()) l.coloured = 1;
        for (int i = first - 1; i < last; ++i) {
            if (l.cells[i] != value || l.fg[i] != k.fg || l.bg[i] != k.bg || l.extra[i] != k.extra) {
                l.cells[i] = value;
                l.fg[i] = k.fg;
                l.bg[i] = k.bg;
                l.extra[i] = k.extra;
                marks[i] = mark_repaint;
                changed = true;
            }
        }
    }
    if (changed) row_marks_[row - 1] = 1;
}

void screen_ring::fill_line(int row, uint8_t c, bool reset_line_attr) {
    ring_line& l = line(row);
    blank_line(l, c);
    if (reset_line_attr) l.attr = 0;
    mark_cells(row, 1, line_cells);
}

void screen_ring::fill_line_selective(int row, uint8_t c, bool reset_line_attr) {
    ring_line& l = line(row);
    for (int i = 0; i < columns_; ++i)
        if (!(l.cells[i] & cell_protected)) blank_cells(l, i, i + 1, c);
    if (reset_line_attr) l.attr = 0;
    mark_cells(row, 1, line_cells);
}

void screen_ring::copy_line(int dst_row, int src_row) {
    if (dst_row == src_row) return;
    ring_line& dst = line(dst_row);
    const ring_line& src = line(src_row);
    if (src.coloured || dst.coloured) {
        dst = src;
    } else {
        dst.attr = src.attr;
        std::memcpy(dst.cells, src.cells, sizeof dst.cells);
    }
    mark_cells(dst_row, 1, line_cells);
}

void screen_ring::rotate_region(int n, int top, int bottom) {
    const int height = bottom - top + 1;
    if (n == 0 || n == height || n == -height) return;  // every line is blanked by the caller
    uint16_t slots[screen_rows];
    for (int r = top; r <= bottom; ++r) slots[r - top] = slot_[fast_index(r)];
    std::rotate(slots, slots + (n > 0 ? n : height + n), slots + height);
    for (int r = top; r <= bottom; ++r) slot_[fast_index(r)] = slots[r - top];
    // Every moved row is repainted whole; the rows' marks lie one after another, so one fill does them all.
    std::memset(cell_marks_[top - 1], mark_repaint, size_t(height) * line_cells);
    std::memset(row_marks_ + top - 1, 1, size_t(height));
}

void screen_ring::rotate(int delta) {
    origin_ = (origin_ + delta) % ring_lines;
    if (origin_ < 0) origin_ += ring_lines;
}

void screen_ring::set_alternate(bool on) {
    if (on == alternate_) return;
    for (int r = 1; r <= screen_rows; ++r) std::swap(slot_[fast_index(r)], other_slot_[r - 1]);
    alternate_ = on;
    mark_all();
}

void screen_ring::scroll_up(int n, int top, int bottom) {
    if (n <= 0 || top < 1 || bottom > screen_rows || top > bottom) return;
    if (top == 1 && bottom == screen_rows && !alternate_) {
        n = std::min(n, ring_lines);
        for (int i = 0; i < n; ++i) {
            rotate(1);
            ring_line& l = line(screen_rows);
            l.attr = 0;
            blank_line(l, cell_blank);
        }
        mark_all();
        return;
    }
    int height = bottom - top + 1;
    n = std::min(n, height);
    rotate_region(n, top, bottom);
    for (int r = bottom - n + 1; r <= bottom; ++r) fill_line(r, ' ', true);
}

void screen_ring::scroll_down(int n, int top, int bottom) {
    if (n <= 0 || top < 1 || bottom > screen_rows || top > bottom) return;
    if (top == 1 && bottom == screen_rows && !alternate_) {
        n = std::min(n, ring_lines);
        for (int i = 0; i < n; ++i) {
            rotate(-1);
            ring_line& l = line(1);
            l.attr = 0;
            blank_line(l, cell_blank);
        }
        mark_all();
        return;
    }
    int height = bottom - top + 1;
    n = std::min(n, height);
    rotate_region(-n, top, bottom);
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
