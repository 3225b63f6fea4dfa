#include "terminal/screen.h"

#include <algorithm>
#include <utility>
#include <iterator>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// n entries of one of a line's arrays from index from to index to (the ranges may overlap).
template <class T>
void shift(T* cells, int to, int from, int n) {
    if (n > 0) std::memmove(cells + to, cells + from, sizeof(T) * size_t(n));
}

// n cells of a line, with their colours, from index from to index to. The colour arrays of a line that is not
// coloured are all zero, so they need no shift.
void shift_cells(ring_line& l, int to, int from, int n) {
    if (n <= 0) return;
    // What lay below `used` in the source may now lie further right.
    if (l.used > from) l.used = std::max(l.used, to + std::min(n, l.used - from));
    shift(l.cells, to, from, n);
    if (!l.coloured) return;
    shift(l.fg, to, from, n);
    shift(l.bg, to, from, n);
    shift(l.extra, to, from, n);
}

#ifdef __SSE2__
// Four cells at a time: the cells (and with colours, their colour arrays) get their values, and each cell that held
// something else is marked. A run of four or more ends with a block that overlaps the one before: its cells there
// already hold their values, so they compare equal and keep their marks.
// A line's array pointers, copied out of the line: stores through __m128i may alias anything, so pointers read
// from the line itself were read again after every store.
struct line_arrays {
    uint32_t* cells;
    uint32_t* fg;
    uint32_t* bg;
    uint16_t* extra;
    explicit line_arrays(const ring_line& l) : cells(l.cells), fg(l.fg), bg(l.bg), extra(l.extra) {}
};

struct four_cells {
    __m128i cell_attr, fg, bg, extra;
    bool changed = false;

    // Marks of the four cells from the compare mask (bit j: cell j kept its value).
    static void mark(uint8_t* marks, int kept) {
        static constexpr uint32_t kept_bytes[16] = {
            0x00000000, 0x000000FF, 0x0000FF00, 0x0000FFFF, 0x00FF0000, 0x00FF00FF, 0x00FFFF00, 0x00FFFFFF,
            0xFF000000, 0xFF0000FF, 0xFF00FF00, 0xFF00FFFF, 0xFFFF0000, 0xFFFF00FF, 0xFFFFFF00, 0xFFFFFFFF};
        static_assert(mark_repaint == 1);
        uint32_t m;
        std::memcpy(&m, marks, 4);
        m = (m & kept_bytes[kept]) | (0x01010101u & ~kept_bytes[kept]);
        std::memcpy(marks, &m, 4);
    }
    // The cell words alone (a line without colours, given a plain pen).
    void store(uint32_t* cells, uint8_t* marks, int at, __m128i v) {
        auto* c4 = reinterpret_cast<__m128i*>(cells + at);
        const int kept = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_loadu_si128(c4), v)));
        if (kept == 0xF) return;
        _mm_storeu_si128(c4, v);
        mark(marks + at, kept);
        changed = true;
    }
    // The cell words and the colour arrays.
    void store(const line_arrays& l, uint8_t* marks, int at, __m128i v) {
        auto* c4 = reinterpret_cast<__m128i*>(l.cells + at);
        auto* f4 = reinterpret_cast<__m128i*>(l.fg + at);
        auto* b4 = reinterpret_cast<__m128i*>(l.bg + at);
        auto* e4 = reinterpret_cast<__m128i*>(l.extra + at);
        const __m128i same_extra = _mm_cmpeq_epi16(_mm_loadl_epi64(e4), extra);
        const __m128i same = _mm_and_si128(
            _mm_and_si128(_mm_cmpeq_epi32(_mm_loadu_si128(c4), v), _mm_cmpeq_epi32(_mm_loadu_si128(f4), fg)),
            _mm_and_si128(_mm_cmpeq_epi32(_mm_loadu_si128(b4), bg), _mm_unpacklo_epi16(same_extra, same_extra)));
        const int kept = _mm_movemask_ps(_mm_castsi128_ps(same));
        if (kept == 0xF) return;
        _mm_storeu_si128(c4, v);
        _mm_storeu_si128(f4, fg);
        _mm_storeu_si128(b4, bg);
        _mm_storel_epi64(e4, extra);
        mark(marks + at, kept);
        changed = true;
    }
    // As above with plain colours (the usual erase): a cell kept its value when its word matches and its fg, bg and
    // extra, or-ed together, are zero; one compare less than matching each array.
    void store_plain(const line_arrays& l, uint8_t* marks, int at, __m128i v) {
        auto* c4 = reinterpret_cast<__m128i*>(l.cells + at);
        auto* f4 = reinterpret_cast<__m128i*>(l.fg + at);
        auto* b4 = reinterpret_cast<__m128i*>(l.bg + at);
        auto* e4 = reinterpret_cast<__m128i*>(l.extra + at);
        const __m128i e = _mm_loadl_epi64(e4);
        const __m128i any =
            _mm_or_si128(_mm_or_si128(_mm_loadu_si128(f4), _mm_loadu_si128(b4)), _mm_unpacklo_epi16(e, e));
        const __m128i zero = _mm_setzero_si128();
        const __m128i same = _mm_and_si128(_mm_cmpeq_epi32(_mm_loadu_si128(c4), v), _mm_cmpeq_epi32(any, zero));
        const int kept = _mm_movemask_ps(_mm_castsi128_ps(same));
        if (kept == 0xF) return;
        _mm_storeu_si128(c4, v);
        _mm_storeu_si128(f4, zero);
        _mm_storeu_si128(b4, zero);
        _mm_storel_epi64(e4, zero);
        mark(marks + at, kept);
        changed = true;
    }
};

// Four bytes as four cell words with the attribute bits.
inline __m128i four_bytes(const uint8_t* bytes, __m128i attr) {
    uint32_t four;
    std::memcpy(&four, bytes, 4);
    const __m128i zero = _mm_setzero_si128();
    return _mm_or_si128(_mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(four)), zero), zero), attr);
}
#endif

}  // namespace

line_store::line_store(int count, int line_width)
    : width(line_width),
      words(size_t(count) * 3 * size_t(line_width)),
      extras(size_t(count) * size_t(line_width)),
      lines(size_t(count)) {
    relink();
}

line_store& line_store::operator=(const line_store& o) {
    if (this != &o) {
        width = o.width;
        words = o.words;
        extras = o.extras;
        lines = o.lines;
        relink();
    }
    return *this;
}

void line_store::relink() {
    const size_t w = size_t(width);
    for (size_t i = 0; i < lines.size(); ++i) {
        ring_line& l = lines[i];
        l.cells = words.data() + 3 * i * w;
        l.fg = l.cells + w;
        l.bg = l.fg + w;
        l.extra = extras.data() + i * w;
    }
}

bool store_plain_run(uint32_t* cells, uint8_t* marks, const uint8_t* bytes, int n, uint32_t attr_bits) {
    int i = 0;
    uint32_t changed = 0;
#ifdef __SSE2__
    const __m128i attr = _mm_set1_epi32(int(attr_bits)), zero = _mm_setzero_si128();
    const __m128i repaint = _mm_set1_epi8(char(mark_repaint));
    __m128i any = zero;
    for (; i + 16 <= n; i += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        // Each group of four cells is stored and compared as soon as it is made, and the comparisons packed in
        // pairs: with every value alive at once the sixteen registers run out and the loop goes through the stack.
        const auto store4 = [&](__m128i words, int k) {
            const __m128i v = _mm_or_si128(words, attr);
            auto* c = reinterpret_cast<__m128i*>(cells + i + 4 * k);
            const __m128i same = _mm_cmpeq_epi32(_mm_loadu_si128(c), v);
            _mm_storeu_si128(c, v);
            return same;
        };
        const __m128i lo = _mm_unpacklo_epi8(b, zero);
        const __m128i same01 =
            _mm_packs_epi32(store4(_mm_unpacklo_epi16(lo, zero), 0), store4(_mm_unpackhi_epi16(lo, zero), 1));
        const __m128i hi = _mm_unpackhi_epi8(b, zero);
        const __m128i same23 =
            _mm_packs_epi32(store4(_mm_unpacklo_epi16(hi, zero), 2), store4(_mm_unpackhi_epi16(hi, zero), 3));
        // 0xFF for each cell (in order) that already held its value: its mark stays.
        const __m128i kept = _mm_packs_epi16(same01, same23);
        auto* m = reinterpret_cast<__m128i*>(marks + i);
        const __m128i fresh = _mm_andnot_si128(kept, repaint);
        _mm_storeu_si128(m, _mm_or_si128(_mm_and_si128(kept, _mm_loadu_si128(m)), fresh));
        any = _mm_or_si128(any, fresh);
    }
    changed = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(any, zero))) ^ 0xFFFFu;
    if (n >= 4) {
        four_cells f{};
        for (; i + 4 <= n; i += 4) f.store(cells, marks, i, four_bytes(bytes + i, attr));
        if (i < n) f.store(cells, marks, n - 4, four_bytes(bytes + n - 4, attr));
        return changed != 0 || f.changed;
    }
#endif
    for (; i < n; ++i) {
        const uint32_t v = attr_bits | bytes[i];
        if (cells[i] != v) {
            cells[i] = v;
            marks[i] = mark_repaint;
            changed = 1;
        }
    }
    return changed != 0;
}

screen_ring::screen_ring()
    : slot_(size_t(ring_lines)),
      other_slot_(size_t(screen_rows)),
      row_marks_(size_t(screen_rows), 1),
      cell_marks_(size_t(screen_rows) * line_cells, mark_clean) {
    // The arrays start zeroed: plain lines of NULs until blanked here.
    for (ring_line& l : pool_.lines) fill_words(l.cells, width(), cell_blank);
    for (int i = 0; i < ring_lines; ++i) slot_[size_t(i)] = uint16_t(i);
    for (int i = 0; i < screen_rows; ++i) other_slot_[size_t(i)] = uint16_t(ring_lines + i);
}

void screen_ring::blank_cells(ring_line& l, int first, int end, uint32_t c) const {
    if (first == 0 && end == width())
        fill_words(l.cells, end, c);  // vectorised; std::fill over a variable range is not
    else
        std::fill(l.cells + first, l.cells + end, c);
    const cell_pen e = erase_pen();
    if (c != cell_blank || !e.plain())
        l.used = std::max(l.used, end);
    else if (end >= l.used)
        l.used = std::min(l.used, first);
    if (e.plain()) {
        if (!l.coloured) return;
        if (first == 0 && end == width()) {
            std::memset(l.fg, 0, sizeof *l.fg * size_t(end));
            std::memset(l.bg, 0, sizeof *l.bg * size_t(end));
            std::memset(l.extra, 0, sizeof *l.extra * size_t(end));
            l.coloured = 0;
            return;
        }
    } else {
        l.coloured = 1;
        if (first == 0 && end == width()) {
            // A whole line in the background colour (background colour erase): vectorised as the cells are.
            fill_words(l.fg, end, e.fg);
            fill_words(l.bg, end, e.bg);
            fill_words(l.extra, end, e.extra);
            return;
        }
    }
    std::fill(l.fg + first, l.fg + end, e.fg);
    std::fill(l.bg + first, l.bg + end, e.bg);
    std::fill(l.extra + first, l.extra + end, e.extra);
}

void screen_ring::put_run_coloured(ring_line& l, int row, int column, const uint8_t* bytes, int n, uint32_t attr_bits) {
    if (!pen_.plain()) l.coloured = 1;
    const int at = column - 1;
    uint8_t* marks = marks_of(row);
    const uint32_t f = pen_.fg, b = pen_.bg;
    const uint16_t e = pen_.extra;
    l.used = std::max(l.used, at + n);
    bool changed = false;
#ifdef __SSE2__
    if (n >= 4) {
        const __m128i attr = _mm_set1_epi32(int(attr_bits));
        four_cells k{attr, _mm_set1_epi32(int(f)), _mm_set1_epi32(int(b)), _mm_set1_epi16(short(e))};
        const line_arrays a(l);
        int i = 0;
        for (; i + 4 <= n; i += 4) k.store(a, marks, at + i, four_bytes(bytes + i, attr));
        if (i < n) k.store(a, marks, at + n - 4, four_bytes(bytes + n - 4, attr));
        if (k.changed) row_marks_[size_t(row - 1)] = 1;
        return;
    }
#endif
    for (int i = 0; i < n; ++i) {
        const int c = at + i;
        const uint32_t v = attr_bits | bytes[i];
        if (l.cells[c] != v || l.fg[c] != f || l.bg[c] != b || l.extra[c] != e) {
            l.cells[c] = v;
            l.fg[c] = f;
            l.bg[c] = b;
            l.extra[c] = e;
            marks[c] = mark_repaint;
            changed = true;
        }
    }
    if (changed) row_marks_[size_t(row - 1)] = 1;
}

void screen_ring::set_columns(int w) {
    if (w == 80 || w == 132) columns_ = w;
}

void screen_ring::resize(int rows, int columns, int push) {
    rows = std::clamp(rows, min_rows, max_rows);
    columns = std::clamp(columns, min_columns, max_columns);
    push = std::clamp(push, 0, rows_);
    scroll_to_live();
    // The oldest ring lines that the push leaves no room for, oldest first; archived lines keep their length.
    if (archiving() && !alternate_)
        for (int r = 1 - ring_spare; r < 1 - ring_spare + push; ++r) archive(pool_[slot_[size_t(ring_index(r))]]);
    // Lines hold at least the classic screen's 132 cells (DECCOLM keeps what lies beyond 80), in fours for fill_words.
    const int w = std::max(line_cells, (columns + 3) & ~3);
    const int ring = rows + ring_spare;
    line_store next(ring + rows, w);
    const int keep = std::min(w, width());
    auto copy = [&](const ring_line& from, ring_line& to) {
        to.attr = from.attr;
        to.coloured = from.coloured;
        to.used = std::min(from.used, keep);
        std::copy_n(from.cells, keep, to.cells);
        std::fill(to.cells + keep, to.cells + w, cell_blank);
        // A wide character cut by the new right edge would be drawn across it: its half left inside goes blank.
        if (uint32_t& edge = to.cells[columns - 1]; edge & cell_wide) edge = (edge & cell_attr_bits) | cell_blank;
        if (!from.coloured) return;
        std::copy_n(from.fg, keep, to.fg);
        std::copy_n(from.bg, keep, to.bg);
        std::copy_n(from.extra, keep, to.extra);
    };
    auto blank = [&](ring_line& to) {
        fill_words(to.cells, w, cell_blank);
        to.used = 0;
    };
    // New row r (1..rows on the screen, 0, -1, ... the history) takes old row r + push; the rows pushed off the
    // top join the history, except from the alternate screen, whose lines never do.
    const int oldest = 1 - ring_spare;  // the oldest line the ring holds
    for (int i = 0; i < ring; ++i) {
        const int r = i < rows ? i + 1 : i + 1 - ring;
        const int old = r >= 1 || !alternate_ ? r + push : r;
        ring_line& to = next[i];
        if (old >= oldest && old <= rows_)
            copy(pool_[slot_[size_t(ring_index(old))]], to);  // rows up to 0 are history lines
        else
            blank(to);
    }
    for (int k = 0; k < rows; ++k) {
        ring_line& to = next[ring + k];
        if (k < rows_)
            copy(pool_[other_slot_[size_t(k)]], to);
        else
            blank(to);
    }
    pool_ = std::move(next);
    rows_ = rows;
    columns_ = columns;
    origin_ = 0;
    depth_ = rotated_ = 0;
    scratch_ = line_store(1, w);
    slot_.resize(size_t(ring));
    other_slot_.resize(size_t(rows));
    for (int i = 0; i < ring; ++i) slot_[size_t(i)] = uint16_t(i);
    for (int k = 0; k < rows; ++k) other_slot_[size_t(k)] = uint16_t(ring + k);
    row_marks_.assign(size_t(rows), 1);
    cell_marks_.assign(size_t(rows) * size_t(w), mark_repaint);
    all_marked_ = true;
}

void screen_ring::mark_cells(int row, int first, int last) {
    if (all_marked_) return;  // a screen switch or a resize marked everything already
    std::memset(marks_of(row) + first - 1, mark_repaint, size_t(last - first + 1));
    row_marks_[size_t(row - 1)] = 1;
}

void screen_ring::mark_row(int row) {
    row_marks_[size_t(row - 1)] = 1;
    all_marked_ = false;
    std::memset(marks_of(row), mark_clean, size_t(width()));
}

void screen_ring::mark_all() {
    if (all_marked_) return;
    all_marked_ = true;
    std::fill(row_marks_.begin(), row_marks_.end(), 1);
    std::fill(cell_marks_.begin(), cell_marks_.end(), mark_repaint);
}

void screen_ring::clear_marks() {
    all_marked_ = false;
    std::fill(row_marks_.begin(), row_marks_.end(), 0);
    std::fill(cell_marks_.begin(), cell_marks_.end(), mark_clean);
}

void screen_ring::set_line_attr(int row, uint32_t a) {
    ring_line& l = line(row);
    if (l.attr != a) {
        l.attr = a;
        mark_cells(row, 1, width());
    }
}

void screen_ring::put_char_selective(uint8_t c, int row, int column) {
    ring_line& l = line(row);
    const int i = column - 1;
    if (!(l.cells[i] & cell_protected)) {
        if (!pen_.plain()) l.coloured = 1;
        l.used = std::max(l.used, column);
        l.cells[i] = pen_.attr | c;
        l.fg[i] = pen_.fg;
        l.bg[i] = pen_.bg;
        l.extra[i] = pen_.extra;
    }
    marks_of(row)[column - 1] = mark_repaint;
    row_marks_[size_t(row - 1)] = 1;
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
    const int at = column - 1, n = columns_ - column, was = l.used;
    shift_cells(l, at, at + 1, n);
    blank_cells(l, columns_ - 1, columns_, cell_blank);
    used_after_delete(l, was, at, 1);
    mark_cells(row, column, columns_);
}

void screen_ring::insert_cells(int row, int column, int n, uint32_t value, int right) {
    if (right <= 0 || right > columns_) right = columns_;
    if (n <= 0 || column < 1 || column > right) return;
    int room = right - column + 1;
    n = std::min(n, room);
    ring_line& l = line(row);
    const int at = column - 1;
    shift_cells(l, at + n, at, room - n);
    blank_cells(l, at, at + n, value);
    mark_cells(row, column, right);
}

void screen_ring::delete_chars(int row, int column, int n, int right) {
    if (right <= 0 || right > columns_) right = columns_;
    if (n <= 0 || column < 1 || column > right) return;
    int room = right - column + 1;
    n = std::min(n, room);
    ring_line& l = line(row);
    const int at = column - 1, was = l.used;
    shift_cells(l, at, at + n, room - n);
    blank_cells(l, right - n, right, cell_blank);
    if (right == columns_) used_after_delete(l, was, at, n);  // else cells past the margin keep the bound
    mark_cells(row, column, right);
}

void screen_ring::used_after_delete(ring_line& l, int was, int at, int n) const {
    // Within the margin, with plain blanks coming in, the cells up to `was` moved n to the left.
    if (was <= columns_ && erase_pen().plain()) l.used = was <= at ? was : std::max(at, was - n);
}

void screen_ring::put_cells(int row, int first, int last, uint32_t value, const cell_colours& k) {
    ring_line& l = line(row);
    uint8_t* marks = marks_of(row);
    if (value != cell_blank || !k.plain()) {
        l.used = std::max(l.used, last);
    } else {
        // The cells from `used` on hold plain blanks already.
        last = std::min(last, l.used);
        if (last >= l.used) l.used = std::min(l.used, first - 1);  // an erase to the line's end
        if (last < first) return;
    }
    const bool colours = l.coloured || !k.plain();
    if (!k.plain()) l.coloured = 1;
    const int from = first - 1, n = last - from;  // cells from..last - 1 (0-based)
    bool changed = false;
#ifdef __SSE2__
    if (n >= 4) {
        four_cells f{_mm_set1_epi32(int(value)), _mm_set1_epi32(int(k.fg)), _mm_set1_epi32(int(k.bg)),
                     _mm_set1_epi16(short(k.extra))};
        const line_arrays a(l);
        int i = from;
        if (colours && k.plain()) {
            for (; i + 4 <= last; i += 4) f.store_plain(a, marks, i, f.cell_attr);
            if (i < last) f.store_plain(a, marks, last - 4, f.cell_attr);
        } else if (colours) {
            for (; i + 4 <= last; i += 4) f.store(a, marks, i, f.cell_attr);
            if (i < last) f.store(a, marks, last - 4, f.cell_attr);
        } else {
            for (; i + 4 <= last; i += 4) f.store(a.cells, marks, i, f.cell_attr);
            if (i < last) f.store(a.cells, marks, last - 4, f.cell_attr);
        }
        if (f.changed) row_marks_[size_t(row - 1)] = 1;
        return;
    }
#endif
    for (int i = from; i < last; ++i) {
        if (l.cells[i] != value || (colours && (l.fg[i] != k.fg || l.bg[i] != k.bg || l.extra[i] != k.extra))) {
            l.cells[i] = value;
            if (colours) {
                l.fg[i] = k.fg;
                l.bg[i] = k.bg;
                l.extra[i] = k.extra;
            }
            marks[i] = mark_repaint;
            changed = true;
        }
    }
    if (changed) row_marks_[size_t(row - 1)] = 1;
}

void screen_ring::fill_line(int row, uint8_t c, bool reset_line_attr) {
    ring_line& l = line(row);
    blank_line(l, c);
    if (reset_line_attr) l.attr = 0;
    mark_cells(row, 1, width());
}

void screen_ring::fill_line_selective(int row, uint8_t c, bool reset_line_attr) {
    ring_line& l = line(row);
    for (int i = 0; i < columns_; ++i)
        if (!(l.cells[i] & cell_protected)) blank_cells(l, i, i + 1, c);
    if (reset_line_attr) l.attr = 0;
    mark_cells(row, 1, width());
}

void screen_ring::copy_line(int dst_row, int src_row) {
    if (dst_row == src_row) return;
    ring_line& dst = line(dst_row);
    const ring_line& src = line(src_row);
    const size_t w = size_t(width());
    dst.attr = src.attr;
    dst.used = src.used;
    std::memcpy(dst.cells, src.cells, sizeof *dst.cells * w);
    if (src.coloured || dst.coloured) {
        dst.coloured = src.coloured;
        std::memcpy(dst.fg, src.fg, sizeof *dst.fg * w);
        std::memcpy(dst.bg, src.bg, sizeof *dst.bg * w);
        std::memcpy(dst.extra, src.extra, sizeof *dst.extra * w);
    }
    mark_cells(dst_row, 1, width());
}

void screen_ring::copy_cells(int dst_row, int src_row, int left, int right) {
    ring_line& dst = line(dst_row);
    const ring_line& src = line(src_row);
    const size_t at = size_t(left - 1), n = size_t(right - left + 1);
    std::memcpy(dst.cells + at, src.cells + at, sizeof *dst.cells * n);
    if (src.coloured || dst.coloured) {
        dst.coloured |= src.coloured;
        std::memcpy(dst.fg + at, src.fg + at, sizeof *dst.fg * n);
        std::memcpy(dst.bg + at, src.bg + at, sizeof *dst.bg * n);
        std::memcpy(dst.extra + at, src.extra + at, sizeof *dst.extra * n);
    }
    dst.used = std::max(dst.used, std::min(right, src.used));
    mark_cells(dst_row, left, right);
}

void screen_ring::scroll_rect(int n, int top, int bottom, int left, int right) {
    if (n == 0 || top < 1 || bottom > rows_ || top > bottom || left < 1 || right > columns_ || left > right) return;
    const int k = std::min(n < 0 ? -n : n, bottom - top + 1);
    if (n > 0) {
        for (int r = top; r + k <= bottom; ++r) copy_cells(r, r + k, left, right);
        for (int r = bottom - k + 1; r <= bottom; ++r) put_cells(r, left, right, cell_blank, erase_pen());
    } else {
        for (int r = bottom; r - k >= top; --r) copy_cells(r, r - k, left, right);
        for (int r = top; r < top + k; ++r) put_cells(r, left, right, cell_blank, erase_pen());
    }
}

void screen_ring::rotate_region(int n, int top, int bottom) {
    const int height = bottom - top + 1;
    if (n == 0 || n == height || n == -height) return;  // every line is blanked by the caller
    uint16_t slots[max_rows];
    for (int r = top; r <= bottom; ++r) slots[r - top] = slot_[fast_index(r)];
    std::rotate(slots, slots + (n > 0 ? n : height + n), slots + height);
    for (int r = top; r <= bottom; ++r) slot_[fast_index(r)] = slots[r - top];
    // Every moved row is repainted whole; the rows' marks lie one after another, so one fill does them all.
    std::memset(marks_of(top), mark_repaint, size_t(height) * size_t(width()));
    std::memset(row_marks_.data() + top - 1, 1, size_t(height));
}

void screen_ring::rotate(int delta) {
    // |delta| is below the ring size (a scroll turns it by one): no division, which cost a scroll more than its
    // bookkeeping.
    origin_ += delta;
    if (origin_ >= ring_size())
        origin_ -= ring_size();
    else if (origin_ < 0)
        origin_ += ring_size();
}

void screen_ring::set_alternate(bool on) {
    if (on == alternate_) return;
    for (int r = 1; r <= rows_; ++r) std::swap(slot_[fast_index(r)], other_slot_[size_t(r - 1)]);
    alternate_ = on;
    mark_all();
}

void screen_ring::scroll_up(int n, int top, int bottom) {
    if (n <= 0 || top < 1 || bottom > rows_ || top > bottom) return;
    if (top == 1 && bottom == rows_ && !alternate_) {
        n = std::min(n, ring_size());
        for (int i = 0; i < n; ++i) {
            rotate(1);
            ring_line& l = line(rows_);
            if (archiving() && !l.coloured && !background_erase_) {
                // The line the archive reads is blanked in the same pass.
                archive_.push_blanking(l.attr, l.cells, l.used, width());
                l.used = 0;
                l.attr = 0;
                continue;
            }
            if (archiving()) archive(l);
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
    if (n <= 0 || top < 1 || bottom > rows_ || top > bottom) return;
    if (top == 1 && bottom == rows_ && !alternate_) {
        n = std::min(n, ring_size());
        for (int i = 0; i < n; ++i) {
            rotate(-1);
            ring_line& l = line(1);
            l.attr = 0;
            blank_line(l, cell_blank);
            // The former bottom row is now the ring's oldest line, which an archived history shows.
            if (archiving()) unarchive(pool_[slot_[size_t(ring_index(1 - ring_spare))]]);
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
    const int live = live_position();
    const int depth = live - std::clamp(position, 1, live);
    if (depth == depth_) return false;
    const int turn = std::min(depth, ring_spare);
    rotate(rotated_ - turn);
    rotated_ = turn;
    depth_ = depth;
    mark_all();
    return true;
}

void screen_ring::archive(const ring_line& l) {
    archive_.push(l.attr, l.cells, l.fg, l.bg, l.extra, l.used, l.coloured != 0);
}

void screen_ring::unarchive(ring_line& to) {
    if (archive_.empty()) {
        blank_plain(to);
        return;
    }
    const line_view v = archive_.line(archive_.size() - 1);
    to.attr = v.attr;
    to.used = std::min(v.length, width());
    v.cells_into(to.cells, width());
    if (v.coloured()) {
        to.coloured = 1;
        v.colours_into(to.fg, to.bg, to.extra, width());
    } else if (to.coloured) {
        to.coloured = 0;
        std::fill(to.fg, to.fg + width(), 0u);
        std::fill(to.bg, to.bg + width(), 0u);
        std::fill(to.extra, to.extra + width(), uint16_t(0));
    }
    archive_.drop_newest();
}

void screen_ring::blank_plain(ring_line& l) const {
    l.attr = 0;
    fill_words(l.cells, width(), cell_blank);
    l.used = 0;
    if (!l.coloured) return;
    l.coloured = 0;
    std::memset(l.fg, 0, sizeof *l.fg * size_t(width()));
    std::memset(l.bg, 0, sizeof *l.bg * size_t(width()));
    std::memset(l.extra, 0, sizeof *l.extra * size_t(width()));
}

void screen_ring::set_history_limit(int lines) {
    lines = std::clamp(lines, 1, max_history_lines);
    if (lines == history_limit_) return;
    scroll_to_live();
    history_limit_ = lines;
    if (!archiving())
        archive_.clear();
    else
        archive_.keep(size_t(lines - ring_spare));
    mark_all();
}

line_view screen_ring::view_at(int l) const {
    if (l < 1 - ring_spare) {
        const int k = history_count() + l;
        if (k >= 1) return archive_.line(size_t(k) - 1);
    }
    const ring_line& r = line_at(l);
    line_view v;
    v.attr = r.attr;
    v.length = width();
    v.cells = r.cells;
    if (r.coloured) {
        v.fg = r.fg;
        v.bg = r.bg;
        v.extra = r.extra;
    }
    return v;
}

const ring_line& screen_ring::line_at(int l) const {
    if (l >= 1 - ring_spare) return pool_[slot_[size_t(ring_index(l + rotated_))]];
    const int k = history_count() + l;  // an archived line: k is at most the archive's size
    if (k < 1) return pool_[slot_[size_t(ring_index(1 - ring_spare + rotated_))]];
    const line_view v = archive_.line(size_t(k) - 1);
    ring_line& to = scratch_[0];
    to.attr = v.attr;
    to.used = std::min(v.length, width());
    v.cells_into(to.cells, width());
    if (v.coloured() || to.coloured) {
        to.coloured = v.coloured() ? 1 : 0;
        v.colours_into(to.fg, to.bg, to.extra, width());
    }
    return to;
}

void screen_ring::clear_history() {
    scroll_to_live();
    archive_.clear();
    for (int r = 1 - ring_spare; r <= 0; ++r) {
        blank_plain(pool_[slot_[size_t(ring_index(r))]]);
    }
    mark_all();
}
