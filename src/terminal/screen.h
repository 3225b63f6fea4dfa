#pragma once
// The screen ring: the live rows (24 on the classic 24x80 screen) plus scroll-back history in a ring 256 lines
// longer than the screen (280 lines for 24 rows), the pen, the repaint marks and the screen operations. The emulator
// changes the grid only through these operations. Rows and columns are 1-based everywhere. A history longer than
// the ring holds goes on in a compact archive (history.h) that the ring feeds as its rotation reuses lines.
//
// A cell is its 32-bit word (character and the attribute bits below) plus, in arrays of their own, a foreground
// and a background colour and a word of further attributes: 4 + 4 + 4 + 2 = 14 bytes. Whatever writes, moves or
// blanks cells carries all four together.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <vector>

#include "terminal/history.h"

constexpr int screen_rows = 24;  // the classic 24x80 screen; a resized one has rows() rows
constexpr int ring_lines = 280;  // the ring of the classic 24x80 screen: rows() + ring_spare lines in general
constexpr int ring_spare = ring_lines - screen_rows;
constexpr int line_cells = 132;     // cells every line holds at least; a wider screen widens every line
constexpr int history_lines = 199;  // the history by default, and the ring lines history_line reaches
constexpr int scroll_live = 200;    // the live screen's scroll-back position with the default history
constexpr int max_history_lines = 1000000;
// The sizes a resized screen may take.
constexpr int min_rows = 2, max_rows = 500, min_columns = 10, max_columns = 1000;

// Cell bits (32-bit cell).
constexpr uint32_t cell_char_mask = 0xFF;
constexpr uint32_t cell_bold = 0x100;
constexpr uint32_t cell_underline = 0x200;
constexpr uint32_t cell_blink = 0x400;
constexpr uint32_t cell_reverse = 0x800;
constexpr uint32_t cell_cursor = 0x1000;  // display side only; the emulator never sets it
constexpr uint32_t cell_graphics = 0x2000;
constexpr uint32_t cell_protected = 0x4000;
constexpr uint32_t cell_blank = 0x20;
static_assert(line_view::blank == cell_blank);
constexpr uint32_t cell_attr_bits = 0x7F00;  // cell_bold..cell_protected
// With utf8 on, a cell holds a code point: its low byte where a byte goes, the rest (cp >> 8) in bits 16..28, so the
// attribute bits stay where they are. A wide character's left cell has cell_wide, its right cell cell_wide_right
// and a blank.
constexpr uint32_t cell_code_high_mask = 0x1FFF0000;
constexpr uint32_t cell_wide = 0x20000000;
constexpr uint32_t cell_wide_right = 0x40000000;
constexpr uint32_t cell_code(uint32_t cell) { return (cell & cell_char_mask) | ((cell & cell_code_high_mask) >> 8); }
constexpr uint32_t cell_of_code(uint32_t cp) { return (cp & cell_char_mask) | ((cp << 8) & cell_code_high_mask); }
// True for the right half of a wide character whose left half (before) is still there; a half left alone by a shift
// or an erase counts as the blank it holds.
constexpr bool wide_tail(uint32_t cell, uint32_t before) { return (cell & cell_wide_right) && (before & cell_wide); }

// Colours (one uint32): 0 the default colour, 1..256 palette index + 1, colour_direct | 0xRRGGBB a direct colour.
constexpr uint32_t colour_direct = 0x1000000;
constexpr uint32_t colour_default() { return 0; }
constexpr uint32_t colour_index(int n) { return uint32_t(n & 0xFF) + 1; }
constexpr uint32_t colour_rgb(int r, int g, int b) {
    return colour_direct | uint32_t(r & 0xFF) << 16 | uint32_t(g & 0xFF) << 8 | uint32_t(b & 0xFF);
}
enum class colour_kind { default_colour, indexed, direct };
constexpr colour_kind kind_of_colour(uint32_t c) {
    return c == 0 ? colour_kind::default_colour : c < colour_direct ? colour_kind::indexed : colour_kind::direct;
}
constexpr int index_of_colour(uint32_t c) { return int(c) - 1; }       // indexed colours only
constexpr uint32_t rgb_of_colour(uint32_t c) { return c & 0xFFFFFF; }  // direct colours only
// The dumps' form: -1 default, 0..255 palette index, 16777216 + 0xRRGGBB direct.
constexpr long dump_colour(uint32_t c) { return c == 0 ? -1 : c < colour_direct ? long(c) - 1 : long(c); }

// Further attributes (16-bit word beside the cell). The VT220 never sets them.
constexpr uint16_t extra_dim = 0x1;
constexpr uint16_t extra_italic = 0x2;
constexpr uint16_t extra_strike = 0x4;
constexpr uint16_t extra_invisible = 0x8;
constexpr uint16_t extra_double_underline = 0x10;
constexpr uint16_t extra_overline = 0x20;

// What a cell holds besides its word.
struct cell_colours {
    uint32_t fg = colour_default();
    uint32_t bg = colour_default();
    uint16_t extra = 0;
    bool operator==(const cell_colours&) const = default;
    // Default colours, no further attribute: what every VT220 cell holds.
    bool plain() const { return (fg | bg | extra) == 0; }
};

// The pen: attribute bits (cell_bold..cell_protected) for the cell word, and the colours and further attributes.
struct cell_pen : cell_colours {
    uint16_t attr = 0;
    bool operator==(const cell_pen&) const = default;
};

// n cell words (a multiple of 4) set to c, 64 bytes and then four words at a time so that the compiler vectorises it
// (std::fill here was not, inlined) and a whole line takes few turns of the loop.
template <class T>
inline void fill_words(T* cells, int n, std::type_identity_t<T> c) {
    constexpr int block = 64 / int(sizeof(T));
    int i = 0;
    for (; i + block <= n; i += block)
        for (int k = 0; k < block; ++k) cells[i + k] = c;
    for (; i < n; i += 4)
        for (int k = 0; k < 4; ++k) cells[i + k] = c;
}

// Line attribute word (low three bits).
constexpr uint32_t line_double_width = 0x1;
constexpr uint32_t line_double_top = 0x2;
constexpr uint32_t line_double_bottom = 0x4;

// Cell mark values.
constexpr uint8_t mark_clean = 0;
constexpr uint8_t mark_repaint = 1;
constexpr uint8_t mark_selected = 8;

// A line's arrays live in its ring's storage, width() entries each; copying a ring_line copies where they are, not
// what they hold.
struct ring_line {
    uint32_t attr = 0;
    // 0: every fg, bg and extra entry is 0, so blanking or writing plain cells leaves those arrays alone (plain text
    // then costs what it did before colours). Any non-plain write sets it.
    uint32_t coloured = 0;
    // Cells from index `used` on are plain blanks (0x20, colours 0): every write raises it, an erase to the end
    // lowers it, so the archive and blanking need not scan a line's blank end. Only a bound: blanks written
    // below it are allowed.
    int used = 0;
    uint32_t* cells = nullptr;  // cells[c - 1] is column c
    uint32_t* fg = nullptr;
    uint32_t* bg = nullptr;
    uint16_t* extra = nullptr;

    uint32_t cell(int column) const { return cells[column - 1]; }
    cell_colours colours(int column) const { return {fg[column - 1], bg[column - 1], extra[column - 1]}; }
};

// The lines of a ring and their arrays, width entries each. A copy points its lines into its own arrays.
struct line_store {
    int width = 0;
    std::vector<uint32_t> words;  // cells, fg and bg of line i at (3i, 3i + 1, 3i + 2) * width
    std::vector<uint16_t> extras;
    std::vector<ring_line> lines;

    line_store(int count, int line_width);
    line_store(const line_store& o) : width(o.width), words(o.words), extras(o.extras), lines(o.lines) { relink(); }
    line_store& operator=(const line_store& o);
    line_store(line_store&&) = default;  // moved arrays keep their addresses
    line_store& operator=(line_store&&) = default;
    ring_line& operator[](int i) { return lines[size_t(i)]; }
    const ring_line& operator[](int i) const { return lines[size_t(i)]; }

private:
    void relink();
};

// n bytes with the same attribute bits into plain cells; a cell whose value changes gets mark_repaint. True when
// any changed. Sixteen cells at a time where SSE2 is (the plain-text path spends most of its time here).
bool store_plain_run(uint32_t* cells, uint8_t* marks, const uint8_t* bytes, int n, uint32_t attr_bits);

class screen_ring {
public:
    screen_ring();

    // Geometry. set_columns is DECCOLM's: only 80 and 132 are accepted, anything else is ignored. resize takes any
    // size within min_rows..max_rows and min_columns..max_columns (clamped): rows come and go at the bottom, after
    // the first `push` rows (the caller keeps its cursor on the screen with it) left the top for the history; the
    // alternate screen's never enter it. Everything is marked.
    int rows() const { return rows_; }
    int columns() const { return columns_; }
    int width() const { return pool_.width; }  // cells each line holds: at least columns() and line_cells
    void set_columns(int w);
    void resize(int rows, int columns, int push);

    // Ring mapping. origin is 0..ring size - 1.
    int origin() const { return origin_; }
    int ring_size() const { return rows_ + ring_spare; }
    // Ring index of a screen row; rows 0, -1, ... reach back into the history.
    int ring_index(int row) const {
        int i = row - 1 + origin_;
        i %= ring_size();
        return i < 0 ? i + ring_size() : i;
    }
    ring_line& line(int row) { return pool_[slot_[fast_index(row)]]; }
    const ring_line& line(int row) const { return pool_[slot_[fast_index(row)]]; }
    // Ring history line k (1..199): 199 is the line just above row 1, 1 the line 198 above it.
    const ring_line& history_line(int k) const { return pool_[slot_[ring_index(k - history_lines)]]; }

    // The history: history_count() lines (at most the limit; blank lines fill it until output has). The ring
    // holds the newest ring_spare of them; with a limit above that, older ones are archived.
    int history_limit() const { return history_limit_; }
    void set_history_limit(int lines);  // clamped to 1..max_history_lines; returns to the live screen
    int history_count() const { return std::min(history_limit_, ring_spare + static_cast<int>(archive_.size())); }
    // History line k, 1 the oldest, history_count() the line just above row 1.
    line_view history_view(int k) const { return view_at(k - history_count()); }
    // Line l as line_at numbers them, read where it lies (no copy).
    line_view view_at(int l) const;
    // Line l of the whole text: rows 1..rows() of the live screen, 0, -1, ... back to 1 - history_count() the
    // history, whatever the scroll position. An archived line is written out in full into a scratch line that the
    // next call reuses.
    const ring_line& line_at(int l) const;
    // Blanks the history and drops the archive.
    void clear_history();
    // Bytes the archive has allocated.
    size_t archive_bytes() const { return archive_.bytes(); }

    // The pen: attribute bits 0x0100..0x4000 for the cell word, colours and further attributes beside it.
    const cell_pen& pen() const { return pen_; }
    void set_pen(const cell_pen& p) { pen_ = p; }
    // The pen to change in place (SGR), without a copy out and back.
    cell_pen& pen_to_change() { return pen_; }
    uint16_t attr() const { return pen_.attr; }
    void set_attr(uint16_t a) { pen_.attr = a; }
    void attr_clear() { pen_ = cell_pen{}; }
    void attr_bold(bool on) { attr_bit(cell_bold, on); }
    void attr_underline(bool on) { attr_bit(cell_underline, on); }
    void attr_blink(bool on) { attr_bit(cell_blink, on); }
    void attr_reverse(bool on) { attr_bit(cell_reverse, on); }
    void attr_graphics(bool on) { attr_bit(cell_graphics, on); }
    void attr_protected(bool on) { attr_bit(cell_protected, on); }

    // What erased and scrolled-in cells get: default colours, no attributes; with background colour erase on, the
    // pen's background. The one place an emulation chooses; the VT220 leaves it off.
    cell_pen erase_pen() const {
        cell_pen p;
        if (background_erase_) p.bg = pen_.bg;
        return p;
    }
    void set_background_colour_erase(bool on) { background_erase_ = on; }

    // Screen operations. Every one marks what it changed.
    void put_char(uint8_t c, int row, int column) { put_cell(pen_.attr | c, row, column, pen_); }
    // Writes a whole cell value (attribute bits and character) with the pen's colours, or the given ones, with
    // put_char's mark-on-change rule.
    void put_cell(uint32_t value, int row, int column) { put_cell(value, row, column, pen_); }
    void put_cell(uint32_t value, int row, int column, const cell_colours& k) {
        ring_line& l = line(row);
        const int i = column - 1;
        if (!k.plain()) l.coloured = 1;
        if (l.cells[i] != value || l.fg[i] != k.fg || l.bg[i] != k.bg || l.extra[i] != k.extra) {
            l.cells[i] = value;
            l.fg[i] = k.fg;
            l.bg[i] = k.bg;
            l.extra[i] = k.extra;
            l.used = std::max(l.used, column);
            marks_of(row)[i] = mark_repaint;
            row_marks_[size_t(row - 1)] = 1;
        }
    }
    // Writes n bytes with the same attribute bits and the pen's colours into consecutive cells of one row
    // (put_cell for each).
    void put_run(int row, int column, const uint8_t* bytes, int n, uint32_t attr_bits) {
        put_run(line(row), row, column, bytes, n, attr_bits);
    }
    // The same with the row's line already at hand (l is line(row)).
    void put_run(ring_line& l, int row, int column, const uint8_t* bytes, int n, uint32_t attr_bits) {
        if (l.coloured || !pen_.plain()) {
            put_run_coloured(l, row, column, bytes, n, attr_bits);
            return;
        }
        l.used = std::max(l.used, column - 1 + n);
        if (store_plain_run(l.cells + column - 1, marks_of(row) + column - 1, bytes, n, attr_bits))
            row_marks_[size_t(row - 1)] = 1;
    }
    // put_cell(value, row, c, k) for c = first..last, in one pass.
    void put_cells(int row, int first, int last, uint32_t value, const cell_colours& k);
    void put_char_selective(uint8_t c, int row, int column);
    void insert_blank(int row, int column);
    void delete_char(int row, int column);
    // n repetitions of insert_blank + put_cell(value) at the same column, done in one pass; the new cells take the
    // erase pen's colours. Cells leave at `right` (a right margin; 0 is the screen's).
    void insert_cells(int row, int column, int n, uint32_t value, int right = 0);
    // n repetitions of delete_char at the same column, done in one pass; blanks come in at `right`.
    void delete_chars(int row, int column, int n, int right = 0);
    void fill_line(int row, uint8_t c, bool reset_line_attr);
    void fill_line_selective(int row, uint8_t c, bool reset_line_attr);
    // Whole screen (1..rows()): the ring rotates and lines leave into / come back from the history; a count above
    // the ring's size acts like it. Smaller regions: lines leaving the region are lost; a count above the height acts like it.
    void scroll_up(int n, int top, int bottom);
    void scroll_down(int n, int top, int bottom);
    void copy_line(int dst_row, int src_row);
    // The rectangle rows top..bottom, columns left..right (left and right margins): n > 0 moves its cells up n rows,
    // n < 0 down; the rows coming in are blanks with the erase pen. Cells outside it stay.
    void scroll_rect(int n, int top, int bottom, int left, int right);

    // Line attributes.
    void set_double_top(int row) { set_line_attr(row, (line(row).attr | 3) & ~4u); }
    void set_double_bottom(int row) { set_line_attr(row, (line(row).attr | 5) & ~2u); }
    void set_single(int row) { set_line_attr(row, line(row).attr & ~7u); }
    void set_double_width(int row) { set_line_attr(row, line(row).attr | 1); }
    uint32_t line_attr(int row) const { return line(row).attr; }
    bool is_double_width(int row) const { return line(row).attr & line_double_width; }
    bool is_double_top(int row) const { return line(row).attr & line_double_top; }
    bool is_double_bottom(int row) const { return line(row).attr & line_double_bottom; }

    // Repaint marks, indexed by screen row (and column).
    bool row_marked(int row) const { return row_marks_[size_t(row - 1)] != 0; }
    // Sets the row mark and clears that row's cell marks (the whole row is redrawn anyway).
    void mark_row(int row);
    void clear_row_mark(int row) {
        row_marks_[size_t(row - 1)] = 0;
        all_marked_ = false;
    }
    // Sets the row mark only (cell marks untouched).
    void set_row_mark(int row) { row_marks_[size_t(row - 1)] = 1; }
    uint8_t& cell_mark(int row, int column) {
        all_marked_ = false;  // the caller may change it
        return marks_of(row)[column - 1];
    }
    uint8_t cell_mark(int row, int column) const {
        return cell_marks_[size_t(row - 1) * size_t(width()) + size_t(column - 1)];
    }
    // Every row and every cell marked for repaint.
    void mark_all();
    void clear_marks();

    // The alternate screen (xterm): while it is shown, rows 1..rows() hold its lines and the normal screen's wait beside
    // the ring; whole-screen scrolls then stay inside the screen, so nothing it shows enters the history. Switching
    // marks everything.
    bool alternate() const { return alternate_; }
    void set_alternate(bool on);

    // Calls f with every extra word of every coloured line: history, screen and the screen not shown.
    template <class F>
    void for_each_extra(F f) const {
        for (const ring_line& l : pool_.lines)
            if (l.coloured)
                for (int i = 0; i < width(); ++i) f(l.extra[i]);
        archive_.for_each_extra(f);
    }

    // Scroll-back viewing: position 1..live_position(), which is the live screen (200 with the default history).
    // Returns true when the position changed (the caller then repaints everything). Within the ring's reach the
    // origin turns with the position, so line(row) is what row shows; shown_line(row) is, always.
    int live_position() const { return history_count() + 1; }
    int scroll_position() const { return live_position() - depth_; }
    bool at_live() const { return depth_ == 0; }
    bool set_scroll_position(int position);
    bool scroll_to_live() { return set_scroll_position(live_position()); }
    // Screen row `row` as the scroll position shows it (line_at's scratch rule).
    const ring_line& shown_line(int row) const { return line_at(row - depth_); }

private:
    int fast_index(int row) const {
        int i = row - 1 + origin_;
        return i >= ring_size() ? i - ring_size() : i;
    }
    uint8_t* marks_of(int row) { return cell_marks_.data() + size_t(row - 1) * size_t(width()); }
    void attr_bit(uint32_t bit, bool on) { pen_.attr = on ? uint16_t(pen_.attr | bit) : uint16_t(pen_.attr & ~bit); }
    // Cells first..end - 1 (0-based) of a line become c with the erase pen's colours.
    void blank_cells(ring_line& l, int first, int end, uint32_t c) const;
    // The whole line: the common case (plain line, plain erase pen) touches the cell words only. All of them: a
    // fill to `used` varies in length line by line, and its mispredicted end cost more than the cells it spared.
    void blank_line(ring_line& l, uint32_t c) const {
        if (l.coloured || background_erase_) {
            blank_cells(l, 0, width(), c);
        } else {
            fill_words(l.cells, width(), c);
            l.used = c == cell_blank ? 0 : width();
        }
    }
    void put_run_coloured(ring_line& l, int row, int column, const uint8_t* bytes, int n, uint32_t attr_bits);
    // Cells left..right of src_row onto the same cells of dst_row.
    void copy_cells(int dst_row, int src_row, int left, int right);
    void set_line_attr(int row, uint32_t a);
    void mark_cells(int row, int first, int last);
    void rotate(int delta);
    bool archiving() const { return history_limit_ > ring_spare; }
    // The ring line about to be reused goes to the archive (which drops its oldest past the limit).
    void archive(const ring_line& l);
    // `used` after n cells at index `at` were deleted from a line whose bound was `was`.
    void used_after_delete(ring_line& l, int was, int at, int n) const;
    // The newest archived line back into ring line `to` (which it leaves the archive for), or a blank.
    void unarchive(ring_line& to);
    // Blank cells with default colours and no line attribute, whatever the erase pen.
    void blank_plain(ring_line& l) const;
    // Region scrolls move lines by their slots, not their contents: n > 0 moves the lines of rows top..bottom up.
    void rotate_region(int n, int top, int bottom);

    // Every line lives in the pool; slot_ maps a ring index to its line, other_slot_ a row of the screen not shown
    // (the alternate one, or the normal one while the alternate is shown). Scrolling a region or switching screens
    // moves slot numbers instead of 1.8 KB lines.
    int rows_ = screen_rows;
    line_store pool_{ring_lines + screen_rows, line_cells};
    std::vector<uint16_t> slot_;
    std::vector<uint16_t> other_slot_;
    int origin_ = 0;
    int columns_ = 80;
    int depth_ = 0;    // lines the view is scrolled back
    int rotated_ = 0;  // how far the origin turned with it: min(depth_, ring_spare)
    int history_limit_ = history_lines;
    history_archive archive_;
    mutable line_store scratch_{1, line_cells};
    cell_pen pen_;
    bool background_erase_ = false;
    bool alternate_ = false;
    bool all_marked_ = false;          // every row and cell mark is known to be mark_repaint (saves refilling them)
    std::vector<uint8_t> row_marks_;   // one a row
    std::vector<uint8_t> cell_marks_;  // width() a row
};
