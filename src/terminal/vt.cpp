#include "terminal/vt.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <iterator>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "terminal/osc.h"

namespace {

constexpr uint8_t ESC = 0x1B;

vt_host null_host;

enum : int {
    st_ground = 0,
    st_escape = 1,
    st_csi = 2,
    st_hash = 3,
    st_g0 = 4,
    st_g1 = 5,
    st_vt52_address = 6,
    st_skip_one = 7,  // ESC % and the like: the next byte ends the sequence
    st_string = 8,    // DCS, OSC, SOS, PM or APC
};

// Bytes that the ground state prints: 0x20..0xFF except the five C1 introducers it acts on. With utf8 on, the fast
// path takes only ASCII; the rest goes through the decoder.
struct printable_table {
    bool v[256];
    constexpr explicit printable_table(int end) : v() {
        for (int i = 0x20; i < end; ++i) v[i] = true;
        v[0x84] = v[0x8D] = v[0x8F] = v[0x90] = v[0x9B] = false;
    }
};
constexpr printable_table printable(256);
constexpr printable_table printable_ascii(0x80);

int clamp_int(long long v, int lo, int hi) { return int(std::clamp<long long>(v, lo, hi)); }

// Length of the leading run of bytes `table` prints in p[0..n). Where SSE2 is, sixteen at a time: `stops` gives
// the mask of the sixteen bytes that end it.
template <class Stops>
size_t run_of(const uint8_t* p, size_t n, const bool* table, [[maybe_unused]] Stops stops) {
    size_t k = 0;
#ifdef __SSE2__
    for (; k + 16 <= n; k += 16)
        if (const unsigned m = stops(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k))))
            return k + size_t(std::countr_zero(m));
#endif
    while (k < n && table[p[k]]) ++k;
    return k;
}

#ifdef __SSE2__
// As signed bytes, 0x20..0x7F are exactly those above 0x1F.
unsigned ascii_stops(__m128i x) {
    return ~unsigned(_mm_movemask_epi8(_mm_cmpgt_epi8(x, _mm_set1_epi8(0x1F)))) & 0xFFFFu;
}
// Below 0x20, or one of the five C1 introducers.
unsigned byte_stops(__m128i x) {
    __m128i stop = _mm_cmpeq_epi8(x, _mm_set1_epi8(char(0x84)));
    for (const uint8_t c1 : {0x8D, 0x8F, 0x90, 0x9B})
        stop = _mm_or_si128(stop, _mm_cmpeq_epi8(x, _mm_set1_epi8(char(c1))));
    const __m128i at_least_space = _mm_cmpeq_epi8(_mm_max_epu8(x, _mm_set1_epi8(0x20)), x);
    return unsigned(_mm_movemask_epi8(_mm_or_si128(stop, _mm_andnot_si128(at_least_space, _mm_set1_epi8(-1)))));
}
#else
constexpr int ascii_stops = 0, byte_stops = 0;
#endif

// The runs print_run takes: ASCII with utf8 on, printable bytes without.
size_t ascii_run(const uint8_t* p, size_t n) { return run_of(p, n, printable_ascii.v, ascii_stops); }
size_t byte_run(const uint8_t* p, size_t n) { return run_of(p, n, printable.v, byte_stops); }

// One whole, well-formed multi-byte UTF-8 sequence at p, under utf8_decoder's rules (no overlong forms, surrogates
// or values above U+10FFFF): its length and code point. 0 when the block ends inside it or it is malformed; the
// decoder then takes it byte by byte.
size_t whole_utf8(const uint8_t* p, size_t n, uint32_t& cp) {
    const uint8_t b = p[0];
    auto follows = [&](size_t i, uint8_t lo, uint8_t hi) { return i < n && p[i] >= lo && p[i] <= hi; };
    auto low6 = [&](size_t i) { return uint32_t(p[i] & 0x3F); };
    if (b >= 0xC2 && b <= 0xDF) {
        if (!follows(1, 0x80, 0xBF)) return 0;
        cp = uint32_t(b & 0x1F) << 6 | low6(1);
        return 2;
    }
    if (b >= 0xE0 && b <= 0xEF) {
        if (!follows(1, b == 0xE0 ? 0xA0 : 0x80, b == 0xED ? 0x9F : 0xBF) || !follows(2, 0x80, 0xBF)) return 0;
        cp = uint32_t(b & 0x0F) << 12 | low6(1) << 6 | low6(2);
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        if (!follows(1, b == 0xF0 ? 0x90 : 0x80, b == 0xF4 ? 0x8F : 0xBF) || !follows(2, 0x80, 0xBF) ||
            !follows(3, 0x80, 0xBF))
            return 0;
        cp = uint32_t(b & 0x07) << 18 | low6(1) << 12 | low6(2) << 6 | low6(3);
        return 4;
    }
    return 0;
}

}  // namespace

bool null_printer_sink::controller_byte(uint8_t c, const vt&) {
    if (c == ESC) {
        state_ = 1;
    } else if ((c == '[' && state_ == 1) || c == 0x9B) {
        state_ = 2;
    } else if (c == '4' && state_ == 2) {
        state_ = 3;
    } else if (c == 'i' && state_ == 3) {
        state_ = 0;
        return true;
    } else {
        state_ = 0;
    }
    return false;
}

vt::vt(screen_ring& ring, vt_host* host, printer_sink* printer)
    : ring_(ring), host_(host ? host : &null_host), printer_(printer ? printer : &null_printer_) {
    osc_.reserve(vt_osc_limit + 8);  // an OSC's text is kept without allocating per byte
    for (int i = 0; i < 256; ++i) palette_[size_t(i)] = xterm_colour(i);
    reset_terminal(true);
}

emulation emulation_for_termtype(std::string_view termtype) {
    return termtype.substr(0, 5) == "xterm" ? emulation::xterm : emulation::vt220;
}

void vt::set_emulation(emulation e) {
    if (e == options_.emul) return;
    options_.emul = e;
    options_.sgr = e == emulation::xterm ? sgr_profile::xterm : sgr_profile::vt220;
    ring_.set_background_colour_erase(e == emulation::xterm);
    reset_xterm_state();
    ring_.set_alternate(false);
    reset_parser();  // a sequence half-read under the other rules (a long parameter string, an OSC) is dropped
}

cursor_shape vt::cursor_style() const {
    return cursor_style_ <= 2 ? cursor_shape::block : cursor_style_ <= 4 ? cursor_shape::underline : cursor_shape::bar;
}

bool vt::cursor_blinking() const { return cursor_style_ <= 1 || cursor_style_ % 2 == 1; }

void vt::set_host(vt_host* host) { host_ = host ? host : &null_host; }
void vt::set_printer(printer_sink* printer) { printer_ = printer ? printer : &null_printer_; }

void vt::set_tab_defaults() {
    std::memset(tabs_, 1, sizeof tabs_);
    for (int c = 9; c <= max_columns; c += 8) tabs_[c] = 0;
}

void vt::reset_terminal(bool keep_screen) {
    ring_.set_alternate(false);  // the normal screen is the one a reset clears
    if (!keep_screen)
        for (int r = 1; r <= ring_.rows(); ++r) ring_.fill_line(r, ' ', true);
    modes_ = modes{.new_line = modes_.new_line};
    row_ = col_ = 1;
    top_ = 1;
    bottom_ = ring_.rows();
    reset_windows();
    if (!keep_screen) ring_.attr_clear();
    pending_wrap_ = 0;
    reset_xterm_state();
    last_printed_ = 0;
    g0_ = 0;
    g1_ = 1;
    invoked_ = 0;
    active_set_ = 0;
    set_tab_defaults();
    utf8_.reset();
    if (!keep_screen) clamp_column();
}

// Palette entry i back to xterm's colour; true when that changed it.
bool vt::reset_palette_entry(int i) {
    const bool changed = palette_[size_t(i)] != xterm_colour(i);
    palette_[size_t(i)] = xterm_colour(i);
    return changed;
}

// The modes and colours only the xterm emulation sets.
void vt::reset_xterm_state() {
    cursor_style_ = 0;
    title_count_ = 0;
    saved_mode_count_ = 0;
    modes_.left_right = false;
    reset_column_margins();
    modes_.bracketed_paste = false;
    mouse_tracking_ = mouse_tracking::off;
    mouse_encoding_ = mouse_encoding::x10;
    modes_.focus_events = false;
    link_bits_ = 0;
    cell_pen pen = ring_.pen();
    pen.extra &= uint16_t(~extra_link_mask);
    ring_.set_pen(pen);
    bool changed = false;
    for (int i = 0; i < 256; ++i) changed |= reset_palette_entry(i);
    for (uint32_t& c : special_) {
        changed = changed || c != colour_unset;
        c = colour_unset;
    }
    if (changed) host_->colours_changed();
}

void vt::reset_parser() {
    p_ = parser{};
    osc_.clear();
    utf8_.reset();
    folder_.clear();
    folder_host_.clear();
    title_.clear();  // a new connection's window shows its own title
    has_title_ = false;
    title_count_ = 0;
}

void vt::set_columns(int w) {
    if (w != 80 && w != 132) return;
    ring_.set_columns(w);
    reset_column_margins();
    clamp_column();  // the cursor never stays beyond the new right edge, whoever switched the width
    host_->columns_changed(w);
}

// One window over the whole screen; window 2 waits at the bottom row.
void vt::reset_windows() {
    window1_active_ = 1;
    win_[0] = split_window{};
    win_[1] = split_window{};
    win_[0].bottom = ring_.rows();
    win_[1].top = win_[1].bottom = ring_.rows();
}

void vt::resize(int rows, int columns) {
    sized_by_window_ = true;
    rows = std::clamp(rows, min_rows, max_rows);
    columns = std::clamp(columns, min_columns, max_columns);
    if (rows == ring_.rows() && columns == ring_.columns()) return;
    const int push = std::max(0, row_ - rows);
    ring_.resize(rows, columns, push);
    row_ = std::clamp(row_ - push, 1, rows);
    col_ = std::clamp(col_, 1, columns);
    saved_.row = std::clamp(saved_.row - push, 1, rows);
    saved_.col = std::clamp(saved_.col, 1, columns);
    pending_wrap_ = 0;
    top_ = 1;
    bottom_ = rows;
    reset_column_margins();
    reset_windows();
    host_->columns_changed(columns);
}

void vt::restore_classic_size() {
    if (!sized_by_window_) return;
    resize(screen_rows, ring_.columns() > 80 ? 132 : 80);
    sized_by_window_ = false;
}

int vt::tab_column(int column) const {
    const int cols = ring_.columns();
    column = std::clamp(column, 1, cols);
    if (column < cols) ++column;
    while (column < cols && tabs_[column] != 0) ++column;
    if (tabs_[column] != 0) --column;
    return std::max(column, 1);
}

void vt::reply(const char* text, bool introducer) {
    reply_.clear();
    if (introducer) reply_ += modes_.c1_8bit ? "\x9b" : "\x1b[";
    reply_ += text;
    reply_pending_ = true;
}

const char* vt::take_reply() {
    if (!reply_pending_) return nullptr;
    reply_pending_ = false;
    return reply_.c_str();
}

void vt::feed_text(const char* text) {
    for (; *text; ++text) feed_byte(uint8_t(*text));
    host_->update_changed();
}

int vt::feed_byte(uint8_t c) {
    if (modes_.printer_controller) {
        if (printer_->controller_byte(c, *this)) modes_.printer_controller = false;
        return reply_pending_;
    }
    switch (p_.state) {
    case st_ground: ground(c); break;
    case st_escape: escape(c); break;
    case st_csi: csi(c); break;
    case st_hash: esc_hash(c); break;
    case st_g0: designate(c, 0); break;
    case st_g1: designate(c, 1); break;
    case st_vt52_address: vt52_address(c); break;
    case st_skip_one: p_.state = c == ESC ? st_escape : st_ground; break;
    default: control_string(c); break;
    }
    return reply_pending_;
}

size_t vt::feed(const uint8_t* data, size_t n) {
    size_t i = 0;
    while (i < n) {
        // A reply left pending by local input must be taken after the next byte, as feed_byte reports it. A UTF-8
        // sequence left open when utf8 was switched off does not hold byte mode back.
        if (p_.state == st_ground && !modes_.printer_controller && !reply_pending_ &&
            !(options_.utf8 && utf8_.pending())) {
            i += options_.utf8 ? ground_run<true>(data + i, n - i) : ground_run<false>(data + i, n - i);
            if (i == n || reply_pending_) break;
        }
        if (feed_byte(data[i++])) break;
    }
    return i;
}

// The ground state's commonest input taken in one loop: printable runs, CR and LF, a whole CSI or designation, a
// whole UTF-8 character. Returns at the first byte that needs the byte path (other controls, a sequence the block
// cuts, any other escape sequence), or after a sequence that left a reply pending or started printer controller mode.
template <bool utf8>
size_t vt::ground_run(const uint8_t* data, size_t n) {
    const bool* table = utf8 ? printable_ascii.v : printable.v;
    size_t i = 0;
    while (i < n) {
        const uint8_t c = data[i];
        if (table[c]) {
            i += print_run<utf8>(data + i, n - i);
        } else if (c == ESC) {
            if (const size_t k = whole_csi(data + i, n - i)) {
                i += k;
                if (reply_pending_ || modes_.printer_controller) break;
            } else if (whole_designate(data + i, n - i)) {
                i += 3;
            } else {
                break;
            }
        } else if (c == '\n' || c == '\r') {
            last_printed_ = 0;
            if (c == '\n')
                line_feed();
            else
                carriage_return();
            ++i;
        } else {
            uint32_t cp = 0;
            const size_t k = utf8 && c >= 0xC2 ? whole_utf8(data + i, n - i, cp) : 0;
            if (k == 0) break;
            print_code(cp);
            i += k;
        }
    }
    return i;
}

// ESC [ with an optional '?' or '>', digits and separators and a final, all in the block: read in one loop and
// acted on as the byte path would. Anything else (intermediates, controls inside, a string at the length limit,
// the end of the block) returns 0 and goes the byte path.
inline size_t vt::whole_csi(const uint8_t* p, size_t n) {
    if (n < 3 || p[1] != '[' || modes_.vt52) return 0;
    const uint16_t markers = p[2] == '?' ? csi_question : p[2] == '>' ? csi_greater : 0;
    const size_t start = markers ? 3 : 2;
    // The final must come before the parameter string reaches the length limit.
    const size_t stop = std::min(n, start + size_t(xterm() ? csi_limit_xterm : csi_limit));
    const bool colon = options_.sgr == sgr_profile::xterm;
    // The parameters are parsed on the way, as parse_csi_params would parse the same characters.
    csi_params& q = p_.params;
    int count = 0;
    uint32_t sub = 0, empty = 0;
    long long v = 0;
    size_t field = start;  // where the current parameter's digits begin
    size_t i = start;
    for (;; ++i) {
        if (i == stop) return 0;
        const uint8_t c = p[i];
        if (uint8_t(c - '0') < 10) {
            // Saturated instead of overflowing: the actions clamp anyway.
            v = std::min<long long>(v * 10 + (c - '0'), INT32_MAX);
        } else if (c == ';' || (c == ':' && colon)) {
            if (count < csi_max_params) {
                q.value[count] = int(v);
                empty |= uint32_t(i == field) << count;
                ++count;
                if (c == ':' && count < csi_max_params) sub |= 1u << count;
            }
            v = 0;
            field = i + 1;
        } else if (c >= 0x40 && c <= 0x7E) {
            break;
        } else {
            return 0;
        }
    }
    if (count < csi_max_params) {
        q.value[count] = int(v);
        empty |= uint32_t(i == field) << count;
        ++count;
    }
    q.count = count;
    q.sub = sub;
    q.empty = empty;
    p_.markers = markers;
    p_.len = 0;
    p_.state = st_ground;
    if (p[i] == 'm' && !markers) {
        // SGR, most sequences curses programs send: csi_dispatch's row without the lookup.
        last_printed_ = 0;
        csi_sgr('m');
        clamp_column();
        return i + 1;
    }
    csi_dispatch(p[i], markers);
    return i + 1;
}

// ESC ( or ESC ) and a set the designation knows, all in the block (curses programs send ESC ( B around most
// writes): the effect of the three bytes through the byte path.
bool vt::whole_designate(const uint8_t* p, size_t n) {
    if (n < 3 || (p[1] != '(' && p[1] != ')') || (p[2] != '0' && p[2] != 'A' && p[2] != 'B')) return false;
    p_.markers = 0;
    last_printed_ = 0;
    p_.string_esc = false;
    designate(p[2], p[1] == ')' ? 1 : 0);
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// Ground state

void vt::print(uint8_t c) {
    int edge = wrap_edge();
    if (pending_wrap_ && col_ == edge) {
        col_ = line_start();
        line_feed();
        edge = wrap_edge();
    }
    pending_wrap_ = 0;
    // Cells may still hold wide characters written while utf8 was on: split ones lose both halves here as well.
    if (modes_.insert) {
        split_for_insert(1, edge);
        if (edge < ring_.columns())
            ring_.insert_cells(row_, col_, 1, cell_blank, edge);
        else
            ring_.insert_blank(row_, col_);
    }
    // A lone right half after a plain cell is a blank already, so only a wide cell needs the full check.
    if (ring_.line(row_).cell(col_) & (cell_wide | cell_wide_right)) split_wide_edges(col_, col_);
    ring_.put_cell(ring_.attr() | c | (active_set_ ? cell_graphics : 0), row_, col_);
    last_printed_ = c;
    if (col_ < edge) {
        ++col_;
    } else if (modes_.auto_wrap) {
        pending_wrap_ = 1;
    }
    clamp_column();
}

// A run of printable bytes in the ground state: the same steps as print(), with the cells before the last column
// written in one pass. With utf8 the run is ASCII only.
template <bool utf8>
size_t vt::print_run(const uint8_t* data, size_t n) {
    const bool* table = utf8 ? printable_ascii.v : printable.v;
    size_t i = 0;
    while (i < n && table[data[i]]) {
        ring_line& l = ring_.line(row_);
        const int edge = wrap_edge();
        if (modes_.insert || col_ >= edge || (l.attr & line_double_width)) {
            if (utf8)
                print_code(data[i++]);
            else
                print(data[i++]);
            continue;
        }
        pending_wrap_ = 0;
        size_t k = 0;
        const size_t room = size_t(edge - col_);
        if constexpr (utf8)
            k = ascii_run(data + i, std::min(room, n - i));
        else
            k = byte_run(data + i, std::min(room, n - i));
        const int last = col_ + int(k) - 1;
        if ((l.cell(col_) & cell_wide_right) || (l.cell(last) & cell_wide)) split_wide_edges(col_, last);
        ring_.put_run(l, row_, col_, data + i, int(k), ring_.attr() | (active_set_ ? cell_graphics : 0));
        col_ += int(k);
        i += k;
        last_printed_ = data[i - 1];
    }
    return i;
}

// At the bottom margin but outside the left and right ones, the cursor stays (xterm).
void vt::line_feed() {
    if (row_ == bottom_) {
        if (in_columns()) scroll_region(1);
    } else if (row_ < ring_.rows()) {
        ++row_;
    }
    clamp_column();
}

void vt::reverse_index() {
    if (row_ == top_) {
        if (in_columns()) scroll_region(-1);
    } else if (row_ > 1) {
        --row_;
    }
    clamp_column();
}

void vt::scroll_region(int n) {
    if (narrow()) {
        split_rect_edges(top_, bottom_);
        ring_.scroll_rect(n, top_, bottom_, left_, right_);
    } else if (n > 0) {
        ring_.scroll_up(n, top_, bottom_);
    } else {
        ring_.scroll_down(-n, top_, bottom_);
    }
}

// Before the rectangle inside the left and right margins moves: a wide character across either margin is erased
// whole, so that neither half travels without the other.
void vt::split_rect_edges(int top, int bottom) {
    auto blank = [&](int r, int c) {
        const ring_line& l = ring_.line(r);
        ring_.put_cell((l.cell(c) & cell_attr_bits) | cell_blank, r, c, l.colours(c));
    };
    for (int r = top; r <= bottom; ++r) {
        const ring_line& l = ring_.line(r);
        if (left_ > 1 && wide_tail(l.cell(left_), l.cell(left_ - 1))) {
            blank(r, left_ - 1);
            blank(r, left_);
        }
        if (right_ < ring_.columns() && wide_tail(l.cell(right_ + 1), l.cell(right_))) {
            blank(r, right_);
            blank(r, right_ + 1);
        }
    }
}

void vt::home_xterm() {
    cursor_to(modes_.origin ? top_ : 1, modes_.origin ? left() : 1);
    pending_wrap_ = 0;
}

// Overwriting cells first..last of the cursor row: a wide character cut in half there loses its other half too.
// last < first checks the left edge only.
void vt::split_wide_edges(int first, int last) {
    ring_line& l = ring_.line(row_);
    const uint32_t at_first = l.cell(first);
    if ((at_first & cell_wide_right) && first > 1) {
        const uint32_t left = l.cell(first - 1);
        if (left & cell_wide)
            ring_.put_cell((left & cell_attr_bits) | cell_blank, row_, first - 1, l.colours(first - 1));
    }
    if (last >= first && last < ring_.width()) {
        const uint32_t after = l.cell(last + 1);
        if (wide_tail(after, l.cell(last)))
            ring_.put_cell((after & cell_attr_bits) | cell_blank, row_, last + 1, l.colours(last + 1));
    }
}

// Shifting the cursor row right by n from the cursor: a wide character split at the cursor, or pushed half past the
// right margin, loses both halves.
void vt::split_for_insert(int n, int right) {
    split_wide_edges(col_, col_ - 1);
    if (n <= right - col_) split_wide_edges(right - n + 1, right - n);
}

// Erasing cells first..last of the cursor row: a wide character cut by either end is erased whole.
inline void vt::widen_to_whole_chars(int& first, int& last) const {
    const ring_line& l = ring_.line(row_);
    if (first > 1 && wide_tail(l.cell(first), l.cell(first - 1))) --first;
    if (last < ring_.columns() && wide_tail(l.cell(last + 1), l.cell(last))) ++last;
}

// A decoded character in the ground state (utf8 on): print()'s steps, with wide characters taking two cells.
void vt::print_code(uint32_t cp) {
    if (cp >= 0x80 && cp < 0xA0) return;  // C1 controls are not acted on inside UTF-8, nor drawn
    const int w = char_width(cp);
    if (w == 0) {
        join_mark(cp);
        return;
    }
    int cols = wrap_edge();
    auto wrap = [&] {
        col_ = line_start();
        line_feed();
        cols = wrap_edge();
    };
    if (pending_wrap_ && col_ == cols) wrap();
    pending_wrap_ = 0;
    const bool wide = w == 2 && !ring_.is_double_width(row_) && cols - line_start() >= 1;
    if (wide && col_ == cols) {
        // No room for both halves: wrap first like an ordinary character would, else stay inside the margin.
        if (modes_.auto_wrap)
            wrap();
        else
            col_ = cols - 1;
    }
    const uint32_t graphics = active_set_ && cp < 0x80 ? cell_graphics : 0;
    const uint32_t base = ring_.attr() | graphics;
    if (modes_.insert) {
        split_for_insert(wide ? 2 : 1, cols);
        if (cols < ring_.columns()) {
            ring_.insert_cells(row_, col_, wide ? 2 : 1, cell_blank, cols);
        } else {
            ring_.insert_blank(row_, col_);
            if (wide) ring_.insert_blank(row_, col_);
        }
    }
    // Only a wide character's half at either end needs splitting (as in print_run).
    const ring_line& l = ring_.line(row_);
    const int last = wide ? col_ + 1 : col_;
    if ((l.cell(col_) & cell_wide_right) || (last < ring_.width() && (l.cell(last + 1) & cell_wide_right)))
        split_wide_edges(col_, last);
    last_printed_ = cp;
    if (wide) {
        ring_.put_cell(base | cell_wide | cell_of_code(cp), row_, col_);
        ring_.put_cell(ring_.attr() | cell_wide_right | cell_blank, row_, col_ + 1);
        ++col_;
    } else {
        ring_.put_cell(base | cell_of_code(cp), row_, col_);
    }
    if (col_ < cols) {
        ++col_;
    } else if (modes_.auto_wrap) {
        pending_wrap_ = 1;
    }
    clamp_column();
}

// A combining mark joins the character before the cursor when Unicode has the composed form; other zero-width
// characters leave the screen as it is.
void vt::join_mark(uint32_t cp) {
    int c = pending_wrap_ ? col_ : col_ - 1;
    if (c < 1) return;
    uint32_t cell = ring_.line(row_).cell(c);
    if ((cell & cell_wide_right) && c > 1) cell = ring_.line(row_).cell(--c);
    const uint32_t base = cell_code(cell);
    uint32_t composed = is_cluster(base) ? 0 : compose(base, cp);
    if (composed == 0 || char_width(composed) != ((cell & cell_wide) ? 2 : 1)) composed = cluster_with(base, cp);
    if (composed == 0) return;
    ring_.put_cell((cell & ~(cell_char_mask | cell_code_high_mask)) | cell_of_code(composed), row_, c,
                   ring_.line(row_).colours(c));
}

// The ground state's printing with utf8 on; false leaves a C0 control to the ground state.
bool vt::ground_utf8(uint8_t c) {
    if (c >= 0x80 || utf8_.pending()) {
        uint32_t cp = 0;
        const auto r = utf8_.step(c, cp);
        if (r == utf8_decoder::more) return true;
        print_code(cp);
        if (r == utf8_decoder::done) return true;
        if (c >= 0x80) return ground_utf8(c);  // the byte that broke the sequence starts anew
    }
    if (!printable.v[c]) return false;
    print_code(c);
    return true;
}

void vt::ground(uint8_t c) {
    if (options_.utf8 && ground_utf8(c)) return;
    if (printable.v[c]) {
        print(c);
        return;
    }
    // REP repeats only a character that came right before it: any control but a sequence's introducer forgets it.
    if (c != ESC && c != 0x9B) last_printed_ = 0;
    switch (c) {
    case 0x9B:
        p_.markers = 0;
        enter_csi();
        break;
    case 0x90: enter_string(string_dcs); break;
    // Exactly ESC D and ESC M, so in VT52 mode 0x84 moves the cursor left.
    case 0x84: escape('D'); break;
    case 0x8D: escape('M'); break;
    case 0x8F: break;  // ESC O is unknown to the escape state
    case 0x05: reply(options_.answerback.c_str(), false); break;
    case 0x07:
        if (options_.bell) host_->bell();
        break;
    case 0x08:
        if (col_ > (modes_.left_right && col_ >= left_ ? left_ : 1)) --col_;
        clamp_column();
        break;
    case 0x09:
        col_ = tab_column(col_);
        clamp_column();
        break;
    case 0x0A: line_feed(); break;
    case 0x0D: carriage_return(); break;
    case 0x0E:
        invoked_ = 1;
        active_set_ = g1_;
        break;
    case 0x0F:
        invoked_ = 0;
        active_set_ = g0_;
        break;
    case ESC:
        p_.state = st_escape;
        p_.markers = 0;
        break;
    default: break;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Escape state

void vt::enter_csi() {
    p_.state = st_csi;
    p_.len = 0;
    p_.params.count = 0;
    p_.markers &= csi_question | csi_greater;  // an ESC inside a sequence does not clear them
}

void vt::enter_string(uint8_t kind) {
    p_.state = st_string;
    p_.string_kind = kind;
    osc_.clear();
}

// Escape sequence finals: handler, and whether the cursor column is limited to the line's width afterwards. A final
// with no row ends the sequence and is dropped. In VT52 mode the same finals mean the VT52's commands.
const vt::esc_row vt::esc_rows[] = {
    {ESC, &vt::esc_again, false},
    {' ', &vt::esc_space, false},
    {'#', &vt::esc_enter, false},
    {'(', &vt::esc_enter, false},
    {')', &vt::esc_enter, false},
    {'7', &vt::esc_save_cursor, false},
    {'8', &vt::esc_restore_cursor, false},
    {'<', &vt::esc_leave_vt52, false},
    {'=', &vt::esc_keypad, false},
    {'>', &vt::esc_keypad, false},
    {'A', &vt::esc_vt52_move, true},
    {'B', &vt::esc_vt52_move, true},
    {'C', &vt::esc_vt52_move, true},
    {'D', &vt::esc_index, true},
    {'E', &vt::esc_next_line, true},
    {'F', &vt::esc_c1_replies, false},
    {'G', &vt::esc_c1_replies, false},
    {'H', &vt::esc_tab_set, false},
    {'I', &vt::esc_reverse_index, true},
    {'M', &vt::esc_reverse_index, true},
    {'J', &vt::esc_vt52_erase, false},
    {'K', &vt::esc_vt52_erase, false},
    {'P', &vt::esc_string, false},
    {']', &vt::esc_string, false},
    {'^', &vt::esc_string, false},
    {'_', &vt::esc_string, false},
    {'X', &vt::esc_string, false},
    {'%', &vt::esc_charset, false},
    {'Y', &vt::esc_vt52_address, false},
    {'Z', &vt::esc_identify, false},
    {'[', &vt::esc_csi, false},
    {'c', &vt::esc_reset, false},
};

void vt::escape(uint8_t c) {
    // Each final's row, found once at start-up.
    static const std::array<uint8_t, 128> row_of = [] {
        std::array<uint8_t, 128> rows;
        rows.fill(uint8_t(std::size(esc_rows)));
        for (size_t i = 0; i < std::size(esc_rows); ++i) rows[esc_rows[i].final] = uint8_t(i);
        return rows;
    }();
    p_.state = st_ground;
    if (c != '[') last_printed_ = 0;
    const bool string_end = p_.string_esc;
    p_.string_esc = false;
    if (c == '\\') {
        if (string_end) finish_string(false);
        osc_.clear();
        return;
    }
    if (c >= row_of.size() || row_of[c] == std::size(esc_rows)) return;
    const esc_row& row = esc_rows[row_of[c]];
    (this->*row.handler)(c);
    if (row.clamp_after) clamp_column();
}

void vt::esc_again(uint8_t) { p_.state = st_escape; }

void vt::esc_space(uint8_t) {
    p_.markers |= escape_space;
    p_.state = st_escape;
}

void vt::esc_enter(uint8_t c) { p_.state = c == '#' ? st_hash : c == '(' ? st_g0 : st_g1; }

void vt::esc_save_cursor(uint8_t) { saved_ = {col_, row_, ring_.pen(), pending_wrap_, g0_, g1_, active_set_}; }

void vt::esc_restore_cursor(uint8_t) {
    col_ = saved_.col;
    row_ = saved_.row;
    ring_.set_pen(saved_.pen);
    pending_wrap_ = saved_.pending_wrap;
    g0_ = saved_.g0;
    g1_ = saved_.g1;
    active_set_ = saved_.active;
    clamp_column();
}

void vt::esc_leave_vt52(uint8_t) {
    modes_.vt52 = false;
    modes_.c1_8bit = false;
    modes_.vt100_level = true;
}

void vt::esc_keypad(uint8_t c) { modes_.app_keys = c == '='; }

void vt::esc_vt52_move(uint8_t c) {
    if (!modes_.vt52) return;
    if (c == 'A' && row_ > 1) --row_;
    if (c == 'B' && row_ < ring_.rows()) ++row_;
    if (c == 'C' && col_ < ring_.columns()) ++col_;
}

// IND; the VT52's cursor left.
void vt::esc_index(uint8_t) {
    if (!modes_.vt52)
        line_feed();
    else if (col_ > 1)
        --col_;
}

void vt::esc_next_line(uint8_t) {
    line_feed();
    col_ = line_start();
}

// S7C1T and S8C1T (ESC SP F, ESC SP G): not at conformance level 1.
void vt::esc_c1_replies(uint8_t c) {
    if (modes_.vt52 || !marked(escape_space)) return;
    p_.markers &= uint16_t(~escape_space);
    if (!modes_.vt100_level) modes_.c1_8bit = c == 'G';
}

// HTS; the VT52's cursor home.
void vt::esc_tab_set(uint8_t) {
    if (!modes_.vt52) {
        tabs_[col_] = 0;
        return;
    }
    row_ = col_ = 1;
    clamp_column();
}

// RI; ESC I is the VT52's reverse line feed, nothing outside VT52 mode.
void vt::esc_reverse_index(uint8_t c) {
    if (c == 'M' || modes_.vt52) reverse_index();
}

// The VT52's erase to the end of the line (K) or of the screen (J).
void vt::esc_vt52_erase(uint8_t c) {
    if (!modes_.vt52) return;
    int first = col_, last = ring_.columns();
    widen_to_whole_chars(first, last);
    for (int col = first; col <= last; ++col) ring_.put_char(' ', row_, col);
    if (c == 'J')
        for (int r = row_ + 1; r <= ring_.rows(); ++r) ring_.fill_line(r, ' ', true);
}

// DCS (also in VT52 mode), OSC, PM, APC and SOS.
void vt::esc_string(uint8_t c) {
    if (c == 'P')
        enter_string(string_dcs);
    else if (!modes_.vt52)
        enter_string(c == ']' ? string_osc : string_other);
}

// Character set selection (ESC % G, ESC % @): the setting decides UTF-8, so the final is only consumed.
void vt::esc_charset(uint8_t) {
    if (!modes_.vt52) p_.state = st_skip_one;
}

void vt::esc_vt52_address(uint8_t) {
    if (!modes_.vt52) return;
    p_.state = st_vt52_address;
    p_.len = 0;
}

// DECID: the VT52's identify, else as primary device attributes.
void vt::esc_identify(uint8_t) {
    if (modes_.vt52)
        reply("\x1b/Z", false);
    else
        csi_device_attributes('c');
}

void vt::esc_csi(uint8_t) { enter_csi(); }

void vt::esc_reset(uint8_t) { reset_terminal(false); }

void vt::esc_hash(uint8_t c) {
    p_.state = st_ground;
    const int half = ring_.columns() / 2;
    switch (c) {
    case '3':
        ring_.set_double_top(row_);
        col_ = std::min(col_, half);
        break;
    case '4':
        ring_.set_double_bottom(row_);
        col_ = std::min(col_, half);
        break;
    case '5': ring_.set_single(row_); break;
    case '6':
        ring_.set_single(row_);
        ring_.set_double_width(row_);
        col_ = std::min(col_, half);
        break;
    case '8':
        for (int r = 1; r <= ring_.rows(); ++r) ring_.fill_line(r, 'E', false);
        break;
    case ESC: p_.state = st_escape; break;
    default: break;
    }
    ring_.mark_row(row_);
}

void vt::designate(uint8_t c, int which) {
    p_.state = st_ground;
    int value;
    if (c == '0')
        value = 1;
    else if (c == 'A' || c == 'B')
        value = 0;
    else {
        if (c == ESC) p_.state = st_escape;
        return;
    }
    (which ? g1_ : g0_) = value;
    if (invoked_ == which) active_set_ = value;
}

void vt::vt52_address(uint8_t c) {
    p_.state = st_ground;
    if (c == ESC) {
        p_.len = 0;
        p_.state = st_escape;
        return;
    }
    if (p_.len == 0) {
        p_.buf[p_.len++] = char(c);
        p_.state = st_vt52_address;
        return;
    }
    row_ = std::clamp(int(uint8_t(p_.buf[0])) - 31, 1, ring_.rows());
    col_ = std::clamp(int(c) - 31, 1, ring_.columns());
    clamp_column();
    p_.len = 0;
}

// Inside a DCS, OSC, SOS, PM or APC string nothing is acted on or shown. ESC leaves it (ESC \ is the terminator;
// any other escape sequence still acts, so ESC c resets), CAN and SUB abort it, BEL ends an OSC (hosts end titles
// with it), and 0x9C ends it in byte mode only: in UTF-8 it is a continuation byte of the string's own text. Any
// other C1 byte aborts it in byte mode, as in xterm and every VT500-style parser, and then acts as it does in the
// ground state: IND, RI, CSI and DCS take effect, the C1 bytes the ground state prints are dropped with the string.
// The xterm emulation keeps an OSC's or DCS's text (bounded, controls dropped) and acts on it when it ends properly.
void vt::control_string(uint8_t c) {
    if (c >= 0x80 && c < 0xA0 && c != 0x9C && !options_.utf8) {
        p_.state = st_ground;
        osc_.clear();
        if (!printable.v[c]) ground(c);
        return;
    }
    const bool keep = keep_string();
    switch (c) {
    case ESC:
        p_.state = st_escape;
        p_.markers = 0;
        p_.string_esc = keep;
        break;
    case 0x18:
    case 0x1A:
        p_.state = st_ground;
        osc_.clear();
        break;
    case 0x07:
        if (p_.string_kind == string_osc) {
            p_.state = st_ground;
            if (keep) finish_string(true);
        }
        break;
    case 0x9C:
        if (!options_.utf8) {
            p_.state = st_ground;
            if (keep) finish_string(false);
        }
        break;
    default:
        // Text bytes only: C0 and DEL are dropped; in UTF-8 0x80..0xBF continue a character. A clipboard write may
        // be long when allowed; anything else stops at the OSC limit.
        if (keep && c >= 0x20 && c != 0x7F) {
            const bool clipboard = options_.clipboard_write && osc_.size() >= 3 && osc_.compare(0, 3, "52;") == 0;
            if (osc_.size() < (clipboard ? vt_clipboard_limit / 3 * 4 + 64 : vt_osc_limit + 8)) osc_ += char(c);
        }
        break;
    }
}

// Shells report their folder whatever the terminal type, so the VT220 keeps an OSC while it may still be an OSC 7.
// Only the xterm emulation answers a DCS.
bool vt::keep_string() const {
    if (p_.string_kind == string_dcs) return xterm();
    if (p_.string_kind != string_osc) return false;
    if (xterm()) return true;
    return osc_.size() < 2 ? std::string_view("7;").starts_with(osc_) : osc_.compare(0, 2, "7;") == 0;
}

namespace {

// The leading number of an OSC and what follows its ';'; -1 when there is no number.
int osc_code(std::string_view text, std::string_view& args) {
    int code = 0;
    size_t i = 0;
    for (; i < text.size() && i < 4 && text[i] >= '0' && text[i] <= '9'; ++i) code = code * 10 + (text[i] - '0');
    if (i == 0 || (i < text.size() && text[i] != ';')) return -1;
    args = i < text.size() ? text.substr(i + 1) : std::string_view{};
    return code;
}

// The next ';'-separated field of args, which loses it.
std::string_view next_field(std::string_view& args) {
    const size_t semi = args.find(';');
    const std::string_view field = args.substr(0, semi);
    args = semi == std::string_view::npos ? std::string_view{} : args.substr(semi + 1);
    return field;
}

bool parse_index(std::string_view field, int limit, int& out) {
    if (field.empty() || field.size() > 3) return false;
    int v = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v >= limit) return false;
    out = v;
    return true;
}

// A title cut to the title limit; a UTF-8 character cut by the limit is dropped whole.
std::string_view cut_title(std::string_view title, bool utf8) {
    if (title.size() <= size_t(vt_title_limit)) return title;
    title = title.substr(0, size_t(vt_title_limit));
    if (!utf8) return title;
    size_t end = title.size();
    size_t lead = end;
    while (lead > 0 && (uint8_t(title[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead > 0) {
        const uint8_t b = uint8_t(title[lead - 1]);
        const size_t need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        if (end - (lead - 1) < need) end = lead - 1;
    }
    return title.substr(0, end);
}

}  // namespace

void vt::finish_string(bool bel) {
    if (p_.string_kind == string_osc)
        finish_osc(bel);
    else if (p_.string_kind == string_dcs)
        finish_dcs();
    osc_.clear();
}

// DECRQSS (DCS $ q Pt ST) and XTGETTCAP (DCS + q Pt ST); any other DCS is dropped.
void vt::finish_dcs() {
    const std::string_view text = osc_;
    if (text.size() > vt_osc_limit) return;
    if (text.starts_with("$q"))
        answer_status_string(text.substr(2));
    else if (text.starts_with("+q"))
        answer_termcap(text.substr(2));
}

namespace {

constexpr char hex_digits[] = "0123456789ABCDEF";

std::string hex_encode(std::string_view s) {
    std::string out;
    for (const char c : s) {
        out += hex_digits[uint8_t(c) >> 4];
        out += hex_digits[uint8_t(c) & 15];
    }
    return out;
}

// Hex text (either case) to its bytes; false when malformed.
bool hex_decode(std::string_view hex, std::string& out) {
    if (hex.size() % 2) return false;
    auto nibble = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += char(hi << 4 | lo);
    }
    return true;
}

// The capabilities XTGETTCAP answers: what xterm-256color's description says, and the direct colour xterm has.
struct termcap_entry {
    std::string_view name, value;
};
constexpr termcap_entry termcaps[] = {
    {"TN", "xterm-256color"}, {"name", "xterm-256color"}, {"Co", "256"}, {"colors", "256"}, {"RGB", "8"},
};

void append_colour(std::string& out, uint32_t c, int base) {
    if (kind_of_colour(c) == colour_kind::indexed) {
        const int i = index_of_colour(c);
        if (i < 8)
            out += ";" + std::to_string(base + i);
        else if (i < 16)
            out += ";" + std::to_string(base + 60 + i - 8);
        else
            out += ";" + std::to_string(base + 8) + ";5;" + std::to_string(i);
    } else if (kind_of_colour(c) == colour_kind::direct) {
        const uint32_t rgb = rgb_of_colour(c);
        out += ";" + std::to_string(base + 8) + ";2;" + std::to_string(rgb >> 16) + ";" +
               std::to_string(rgb >> 8 & 0xFF) + ";" + std::to_string(rgb & 0xFF);
    }
}

}  // namespace

// The pen as the SGR that sets it from nothing, as xterm reports it ("0;1;4;31").
std::string vt::sgr_report() const {
    const cell_pen& p = ring_.pen();
    std::string out = "0";
    const std::pair<bool, const char*> flags[] = {
        {(p.attr & cell_bold) != 0, ";1"},
        {(p.extra & extra_dim) != 0, ";2"},
        {(p.extra & extra_italic) != 0, ";3"},
        {(p.attr & cell_underline) != 0, ";4"},
        {(p.attr & cell_blink) != 0, ";5"},
        {(p.attr & cell_reverse) != 0, ";7"},
        {(p.extra & extra_invisible) != 0, ";8"},
        {(p.extra & extra_strike) != 0, ";9"},
        {(p.extra & extra_double_underline) != 0, ";21"},
        {(p.extra & extra_overline) != 0, ";53"},
    };
    for (const auto& [on, text] : flags)
        if (on) out += text;
    append_colour(out, p.fg, 30);
    append_colour(out, p.bg, 40);
    return out;
}

// DECRQSS: DCS 1 $ r <the sequence's parameters and final> ST for a setting it knows, DCS 0 $ r ST otherwise.
void vt::answer_status_string(std::string_view request) {
    std::string value;
    if (request == "m") {
        value = sgr_report() + "m";
    } else if (request == "r") {
        value = std::to_string(top_) + ";" + std::to_string(bottom_) + "r";
    } else if (request == "s") {
        value = std::to_string(left()) + ";" + std::to_string(right()) + "s";
    } else if (request == " q") {
        value = std::to_string(cursor_style_ == 0 ? 1 : cursor_style_) + " q";
    } else if (request == "\"q") {
        value = std::string((ring_.attr() & cell_protected) ? "1" : "0") + "\"q";
    }
    const char* intro = modes_.c1_8bit ? "\x90" : "\x1bP";
    const char* end = modes_.c1_8bit ? "\x9c" : "\x1b\\";
    const std::string answer = std::string(intro) + (value.empty() ? "0$r" : "1$r" + value) + end;
    reply(answer.c_str(), false);
}

// XTGETTCAP: names hex-encoded and ';'-separated. All known: DCS 1 + r name=value;... ST (hex-encoded as asked);
// else DCS 0 + r with the first unknown name.
void vt::answer_termcap(std::string_view names) {
    std::string found, name;
    std::string_view rest = names;
    bool known = !names.empty();
    while (known && !rest.empty()) {
        const std::string_view hex = next_field(rest);
        known = hex_decode(hex, name);
        const termcap_entry* e = nullptr;
        for (const termcap_entry& t : termcaps)
            if (known && t.name == name) e = &t;
        if (!e) {
            found = std::string(hex);
            known = false;
            break;
        }
        if (!found.empty()) found += ';';
        ((found += hex) += '=') += hex_encode(e->value);
    }
    const char* intro = modes_.c1_8bit ? "\x90" : "\x1bP";
    const char* end = modes_.c1_8bit ? "\x9c" : "\x1b\\";
    const std::string answer = std::string(intro) + (known ? "1+r" : "0+r") + found + end;
    reply(answer.c_str(), false);
}

// OSC 0 (icon name and title) and 2 (title) set the window title; 1 (icon name alone) is ignored. Colour queries
// are answered with the terminator the host used.
void vt::finish_osc(bool bel) {
    std::string_view args;
    const int code = osc_code(osc_, args);
    std::string answer;
    const char* end = bel ? "\a" : modes_.c1_8bit ? "\x9c" : "\x1b\\";
    switch (code) {
    case 0:
    case 2:
        title_ = cut_title(args, options_.utf8);
        has_title_ = true;
        host_->set_title(title_);
        break;
    case 4:
    case 10:
    case 11:
    case 12: osc_colours(code, args, answer, end); break;
    case 104:
    case 110:
    case 111:
    case 112: osc_reset_colours(code, args); break;
    case 8: osc_link(args); break;
    case 52: osc_clipboard(args); break;
    case 7: osc_folder(args); break;
    default: break;
    }
    osc_.clear();
    if (!answer.empty()) reply(answer.c_str(), false);
}

// OSC 4 takes index;colour pairs; OSC 10 a colour for the foreground, then (xterm's rule) the next for 11 and 12.
// "?" asks for the colour.
void vt::osc_colours(int code, std::string_view args, std::string& answer, const char* end) {
    const char* intro = modes_.c1_8bit ? "\x9d" : "\x1b]";
    bool changed = false;
    while (!args.empty()) {
        int index = -1;
        if (code == 4 && !parse_index(next_field(args), 256, index)) break;
        const std::string_view colour = next_field(args);
        uint32_t& slot = code == 4 ? palette_[size_t(index)] : special_[code - 10];
        if (colour == "?") {
            const uint32_t rgb = slot != colour_unset ? slot : host_->user_colour(special_colour(code - 10));
            answer += intro;
            answer += std::to_string(code);
            if (code == 4) (answer += ';') += std::to_string(index);
            ((answer += ';') += colour_answer(rgb)) += end;
        } else if (const auto rgb = parse_colour_text(colour)) {
            changed = changed || slot != *rgb;
            slot = *rgb;
        }
        if (code != 4 && ++code > 12) break;
    }
    if (changed) host_->colours_changed();
}

// OSC 104 with no index resets every palette entry; 110..112 reset the foreground, background, cursor colour.
void vt::osc_reset_colours(int code, std::string_view args) {
    bool changed = false;
    if (code == 104) {
        if (args.empty())
            for (int i = 0; i < 256; ++i) changed |= reset_palette_entry(i);
        while (!args.empty()) {
            int index = 0;
            if (parse_index(next_field(args), 256, index)) changed |= reset_palette_entry(index);
        }
    } else {
        changed = special_[code - 110] != colour_unset;
        special_[code - 110] = colour_unset;
    }
    if (changed) host_->colours_changed();
}

// OSC 8 ; params ; URI opens a hyperlink that the following text belongs to; an empty URI closes it. Numbers are
// reused only once no cell on either screen holds them any more, so a click never reaches another link.
void vt::osc_link(std::string_view args) {
    next_field(args);  // parameters (id=...): cells of one link are found by their number anyway
    const std::string_view uri = args;
    uint16_t bits = 0;
    if (!uri.empty()) {
        int number = 0;
        if (link_bits_ && links_[size_t(link_bits_ >> extra_link_shift) - 1] == uri) {
            number = link_bits_ >> extra_link_shift;
        } else if (links_.size() < size_t(vt_link_slots)) {
            links_.emplace_back(uri);
            number = int(links_.size());
        } else {
            bool used[vt_link_slots + 1] = {};
            ring_.for_each_extra([&](uint16_t extra) { used[extra >> extra_link_shift] = true; });
            used[link_bits_ >> extra_link_shift] = true;
            for (int n = 1; n <= vt_link_slots && number == 0; ++n)
                if (!used[n]) number = n;
            if (number == 0) return;  // every number is on screen: the text goes without a link
            links_[size_t(number) - 1] = uri;
        }
        bits = uint16_t(number << extra_link_shift);
    }
    link_bits_ = bits;
    cell_pen pen = ring_.pen();
    pen.extra = uint16_t((pen.extra & ~extra_link_mask) | bits);
    ring_.set_pen(pen);
}

std::string_view vt::link_uri(uint16_t extra) const {
    const int number = extra >> extra_link_shift;
    return number >= 1 && size_t(number) <= links_.size() ? std::string_view(links_[size_t(number) - 1])
                                                          : std::string_view{};
}

// OSC 52 ; targets ; base64: written to the clipboard when the user allows it. A query ("?") is never answered.
void vt::osc_clipboard(std::string_view args) {
    if (!options_.clipboard_write) return;
    next_field(args);
    if (args == "?") return;
    if (const auto text = base64_decode(args, vt_clipboard_limit)) host_->set_clipboard(*text);
}

// A report cut at the OSC limit (which bounds the folder's length) or not a file URL leaves the folder as it was.
void vt::osc_folder(std::string_view args) {
    if (osc_.size() > vt_osc_limit) return;
    auto r = parse_folder_report(args);
    if (!r) return;
    folder_host_ = std::move(r->host);
    folder_ = std::move(r->path);
}

// ---------------------------------------------------------------------------------------------------------------
// Control sequences

// A colon is taken only inside an SGR colour parameter (38 or 48: 38:5:N, 38:2::R:G:B); anywhere else it ends
// the sequence as it always has. The xterm profile takes it in any parameter (4:3 too); a final other than SGR
// drops a sequence with sub-parameters.
bool vt::colon_allowed() const {
    if (options_.sgr == sgr_profile::xterm) return true;
    int start = p_.len;
    while (start > 0 && p_.buf[start - 1] != ';') --start;
    int v = 0;
    for (int i = start; i < p_.len; ++i) {
        if (p_.buf[i] == ':') return true;
        if (p_.buf[i] >= '0' && p_.buf[i] <= '9') v = std::min(v * 10 + (p_.buf[i] - '0'), 1000);
    }
    return v == 38 || v == 48;
}

void vt::parse_params() { parse_csi_params(p_.buf, p_.len, p_.params); }

// The marker a private marker or intermediate byte sets inside a control sequence; 0 for any other byte. Other
// intermediates (xterm's DECSACE, ...) are taken and the sequence dropped at its final; the VT220 ends the sequence
// at a space or '$', as it always has.
uint16_t vt::csi_marker(uint8_t c) const {
    switch (c) {
    case '?': return csi_question;
    case '>': return csi_greater;
    case '!': return csi_bang;
    case '"': return csi_quote;
    case '<': return csi_less;
    case '=': return csi_equals;
    case ' ': return xterm() ? csi_space : 0;
    case '$': return xterm() ? csi_dollar : 0;
    default: return c >= 0x20 && c <= 0x2F ? csi_unknown : 0;
    }
}

// A C0 control or a colon outside SGR ends the sequence as before.
void vt::csi(uint8_t c) {
    p_.state = st_ground;
    if ((c >= '0' && c <= '9') || c == ';' || c == '\'' || (c == ':' && colon_allowed())) {
        p_.markers &= uint16_t(~(csi_bang | csi_quote | csi_space | csi_dollar));
        if (c == '0' && p_.len > 0) {
            bool all_zero = true;
            for (int i = 0; i < p_.len; ++i) all_zero = all_zero && p_.buf[i] == '0';
            if (all_zero) {
                p_.state = st_csi;
                return;
            }
        }
        if (p_.len + 1 >= (xterm() ? csi_limit_xterm : csi_limit)) {
            p_.len = 0;  // too long: abandoned, what follows is text
            return;
        }
        p_.buf[p_.len++] = char(c);
        p_.state = st_csi;
        return;
    }
    if (const uint16_t m = csi_marker(c)) {
        p_.markers |= m;
        p_.state = st_csi;
        return;
    }
    if (c == 0x08) {
        if (p_.len > 0) {
            --p_.len;
            p_.state = st_csi;
        }
        return;
    }
    if (c == ESC) {
        p_.len = 0;
        p_.state = st_escape;
        return;
    }
    csi_final(c);
}

void vt::cursor_to(int row, int col) {
    row_ = row;
    col_ = col;
}

void vt::erase_display(int mode, bool selective) {
    const int cols = ring_.columns();
    auto span = [&](int r, int from, int to) {
        if (!selective) return ring_.put_cells(r, from, to, cell_blank, ring_.erase_pen());
        for (int col = from; col <= to; ++col) ring_.put_char_selective(' ', r, col);
    };
    auto whole = [&](int r) {
        if (selective)
            ring_.fill_line_selective(r, ' ', true);
        else
            ring_.fill_line(r, ' ', true);
    };
    int first = mode == 0 ? col_ : 1, last = mode == 0 ? cols : col_;
    widen_to_whole_chars(first, last);
    switch (mode) {
    case 0:
        span(row_, first, last);
        for (int r = row_ + 1; r <= ring_.rows(); ++r) whole(r);
        break;
    case 1:
        span(row_, first, last);
        for (int r = 1; r < row_; ++r) whole(r);
        break;
    case 2:
        for (int r = 1; r <= ring_.rows(); ++r) whole(r);
        break;
    default: break;
    }
}

void vt::erase_line(int mode, bool selective) {
    const int cols = ring_.columns();
    auto span = [&](int from, int to) {
        if (!selective) return ring_.put_cells(row_, from, to, cell_blank, ring_.erase_pen());
        for (int col = from; col <= to; ++col) ring_.put_char_selective(' ', row_, col);
    };
    int first = mode == 0 ? col_ : 1, last = mode == 0 ? cols : col_;
    widen_to_whole_chars(first, last);
    switch (mode) {
    case 0:
    case 1: span(first, last); break;
    case 2:
        if (selective)
            span(1, cols);
        else
            ring_.fill_line(row_, ' ', false);
        break;
    default: break;
    }
}

void vt::fill_all_rows() {
    for (int r = 1; r <= ring_.rows(); ++r) ring_.fill_line(r, ' ', false);
}

void vt::set_mode(bool on) {
    for (int i = 0; i < p_.params.count; ++i) {
        switch (p_.params.value[i]) {
        case 4: modes_.insert = on; break;
        case 12: host_->set_local_echo(!on); break;
        case 20: modes_.new_line = on; break;
        default: break;
        }
    }
}

void vt::set_dec_mode(bool on) {
    for (int i = 0; i < p_.params.count; ++i) dec_mode(p_.params.value[i], on);
}

void vt::dec_mode(int mode, bool on) {
    switch (mode) {
    case 1: modes_.app_keys = on; break;
    case 2:
        if (!on) modes_.vt52 = true;
        break;
    case 3:
        if (sized_by_window_) break;
        set_columns(on ? 132 : 80);
        pending_wrap_ = 0;
        fill_all_rows();
        cursor_to(1, 1);
        break;
    case 5: host_->set_reverse_screen(on); break;
    case 6:
        // The VT220 keeps the column on entering origin mode; xterm homes to the margins' corner.
        modes_.origin = on;
        if (on && !xterm())
            row_ = top_;
        else if (on)
            home_xterm();
        else
            cursor_to(1, 1);
        break;
    case 7: modes_.auto_wrap = on; break;
    case 8: modes_.auto_repeat = on; break;
    case 25: modes_.cursor_visible = on; break;
    default:
        if (xterm()) xterm_dec_mode(mode, on);
        break;
    }
}

// The private modes only the xterm emulation has.
void vt::xterm_dec_mode(int mode, bool on) {
    switch (mode) {
    case 2004: modes_.bracketed_paste = on; break;
    case 9:
    case 1000:
    case 1002:
    case 1003:
        // One tracking mode at a time; resetting another than the one in force changes nothing.
        if (on)
            mouse_tracking_ = mouse_tracking(mode);
        else if (mouse_tracking_ == mouse_tracking(mode))
            mouse_tracking_ = mouse_tracking::off;
        break;
    case 1005:
    case 1006:
    case 1015:
        if (on)
            mouse_encoding_ = mouse_encoding(mode);
        else if (mouse_encoding_ == mouse_encoding(mode))
            mouse_encoding_ = mouse_encoding::x10;
        break;
    case 1004: modes_.focus_events = on; break;
    case 69:
        modes_.left_right = on;
        if (!on) reset_column_margins();
        break;
    case 47:
    case 1047:
    case 1049: alternate_screen(mode, on); break;
    case 1048: escape(on ? '7' : '8'); break;
    default: break;
    }
}

void vt::split_screen(int n) {
    n = std::min(n, ring_.rows());
    window1_active_ = 1;
    bottom_ = n;
    // Split again while window 2 was active: its top margin lies below the new window 1.
    if (top_ > bottom_) top_ = 1;
    split_window& w2 = win_[1];
    w2.top = n == ring_.rows() ? 1 : n + 1;
    // Keep window 2's region non-empty even when its saved bottom lies above the new split.
    w2.bottom = std::max(w2.bottom, w2.top);
    win_[0].col = win_[0].row = 1;
    w2.col = 1;
    w2.row = n == ring_.rows() ? 1 : ring_.rows();
    cursor_to(1, 1);
}

void vt::switch_window(int to) {
    const int from = window1_active_ ? 0 : 1;
    if (from == to) return;
    split_window& s = win_[from];
    s = {col_, row_, top_, bottom_, ring_.pen(), pending_wrap_};
    const split_window& r = win_[to];
    col_ = r.col;
    row_ = r.row;
    top_ = r.top;
    bottom_ = r.bottom;
    ring_.set_pen(r.pen);
    pending_wrap_ = r.pending_wrap;
    window1_active_ = to == 0;
}

// Control sequence finals. Rows with the same final (kept together) are tried in order, the first whose
// intermediates (and private markers) are all present wins; a final with no matching row ends the sequence and is
// dropped. clamp_after: the cursor column is limited to the line's width once the handler is done.
const vt::csi_row vt::csi_rows[] = {
    {'@', 0, &vt::csi_insert_chars, false},
    {'A', 0, &vt::csi_cursor_move, true},
    {'B', 0, &vt::csi_cursor_move, true},
    {'C', 0, &vt::csi_cursor_move, true},
    {'D', 0, &vt::csi_cursor_move, true},
    {'E', 0, &vt::csi_line_move, false},
    {'F', 0, &vt::csi_line_move, false},
    {'G', 0, &vt::csi_absolute_move, false},
    {'`', 0, &vt::csi_absolute_move, false},
    {'d', 0, &vt::csi_absolute_move, false},
    {'S', 0, &vt::csi_scroll, false},
    {'T', 0, &vt::csi_scroll, false},
    {'Z', 0, &vt::csi_back_tab, false},
    {'H', 0, &vt::csi_cursor_position, true},
    {'f', 0, &vt::csi_cursor_position, true},
    {'J', 0, &vt::csi_erase, true, csi_question},  // with '?': selective
    {'K', 0, &vt::csi_erase, true, csi_question},
    {'L', 0, &vt::csi_insert_delete_lines, true},
    {'M', 0, &vt::csi_insert_delete_lines, true},
    {'P', 0, &vt::csi_delete_chars, false},
    {'X', 0, &vt::csi_erase_chars, false},
    {'b', 0, &vt::csi_repeat, false},
    {'c', csi_greater, &vt::csi_secondary_attributes, false},
    {'c', 0, &vt::csi_device_attributes, false},
    {'g', 0, &vt::csi_clear_tabs, false},
    {'h', csi_question, &vt::csi_dec_mode, true},
    {'h', 0, &vt::csi_ansi_mode, true},
    {'l', csi_question, &vt::csi_dec_mode, true},
    {'l', 0, &vt::csi_ansi_mode, true},
    {'i', 0, &vt::csi_media_copy, false, csi_question},
    {'m', 0, &vt::csi_sgr, true, csi_question | csi_greater},
    {'n', 0, &vt::csi_status_report, false, csi_question},
    {'p', csi_quote, &vt::csi_conformance_level, false},
    {'p', csi_bang, &vt::csi_soft_reset, false},
    {'p', csi_dollar, &vt::csi_request_mode, false, csi_question},
    {'p', 0, &vt::csi_split_screen, true},
    {'q', csi_quote, &vt::csi_protection, false},
    {'q', csi_space, &vt::csi_cursor_style, false},
    {'q', csi_greater, &vt::csi_version, false},
    {'r', csi_question, &vt::csi_restore_modes, true},
    {'r', 0, &vt::csi_margins, true},
    {'s', csi_question, &vt::csi_save_modes, false},
    {'s', 0, &vt::csi_save_or_margins, true},
    {'t', 0, &vt::csi_window_report, false},
    {'u', 0, &vt::csi_restore_cursor, true},
    {'x', 0, &vt::csi_terminal_parameters, false},
    {'y', 0, &vt::csi_confidence_test, true},
};

void vt::csi_final(uint8_t c) {
    parse_params();
    csi_dispatch(c, p_.markers);
}

// The row of csi_rows that takes final c with these markers present; std::size(csi_rows) for none.
size_t vt::csi_row_of(uint8_t c, uint16_t present) {
    constexpr size_t rows = std::size(csi_rows);
    // Where each final's rows start (rows of one final are adjacent).
    static const std::array<uint8_t, 128> first_row = [] {
        std::array<uint8_t, 128> first;
        first.fill(uint8_t(rows));
        for (size_t i = rows; i-- > 0;) first[csi_rows[i].final] = uint8_t(i);
        return first;
    }();
    if (c >= first_row.size()) return rows;
    for (size_t i = first_row[c]; i < rows && csi_rows[i].final == c; ++i) {
        const csi_row& row = csi_rows[i];
        if ((row.intermediates & ~present) || (present & ~(row.intermediates | row.optional))) continue;
        return i;
    }
    return rows;
}

// The rows for no marker and for '?' alone, the usual ones, looked up once at start-up (a function's static would
// test its guard on every sequence).
const vt::csi_row_table vt::plain_rows = rows_for(0);
const vt::csi_row_table vt::question_rows = rows_for(csi_question);

vt::csi_row_table vt::rows_for(uint16_t markers) {
    static_assert(std::size(csi_rows) < 256, "row numbers are kept in a byte");
    csi_row_table t;
    for (size_t f = 0; f < t.size(); ++f) t[f] = uint8_t(csi_row_of(uint8_t(f), markers));
    return t;
}

void vt::csi_dispatch(uint8_t c, uint16_t present) {
    if (p_.params.sub && c != 'm') {  // sub-parameters mean nothing to other finals
        last_printed_ = 0;
        return;
    }
    if (c != 'b') last_printed_ = 0;
    if (c >= plain_rows.size()) return;
    const size_t i = present == 0 ? plain_rows[c] : present == csi_question ? question_rows[c] : csi_row_of(c, present);
    if (i >= std::size(csi_rows)) return;
    const csi_row& row = csi_rows[i];
    (this->*row.handler)(c);
    if (row.clamp_after) clamp_column();
}

// ICH and DCH shift the cells up to the right margin, and only from a cursor between the margins.
void vt::csi_insert_chars(uint8_t) {
    const int n = p_.params.value[0];
    if (n > 0 && in_columns()) {
        split_for_insert(n, right());
        ring_.insert_cells(row_, col_, n, ring_.attr() | ' ', right());
    }
}

void vt::csi_cursor_move(uint8_t c) {
    if (p_.params.count != 1) return;
    const int n = count_param();
    const int cols = ring_.columns();
    switch (c) {
    case 'A': row_ = clamp_int((long long)row_ - n, row_ >= top_ ? top_ : 1, row_); break;
    case 'B': row_ = clamp_int((long long)row_ + n, row_, row_ <= bottom_ ? bottom_ : ring_.rows()); break;
    case 'C': col_ = clamp_int((long long)col_ + n, 1, col_ <= right() ? right() : cols); break;
    default: col_ = clamp_int((long long)col_ - n, col_ >= left() ? left() : 1, cols); break;
    }
}

// In origin mode xterm keeps the cursor inside the margins; the VT220 only offsets the row.
void vt::csi_cursor_position(uint8_t) {
    const int p1 = p_.params.value[0], p2 = p_.params.get(1);
    long long r = p1 == 0 ? 1 : p1, c = p2 == 0 ? 1 : p2;
    if (modes_.origin) r += top_ - 1;
    if (modes_.origin && xterm()) {
        c += left() - 1;
        cursor_to(clamp_int(r, top_, bottom_), clamp_int(c, left(), right()));
    } else {
        cursor_to(clamp_int(r, 1, ring_.rows()), clamp_int(c, 1, ring_.columns()));
    }
    pending_wrap_ = 0;
}

// A selective erase writes its blanks with the erase pen as the pen; the others pass it along.
void vt::csi_erase(uint8_t c) {
    const bool selective = marked(csi_question);
    const cell_pen saved = ring_.pen();
    if (selective) ring_.set_pen(ring_.erase_pen());
    for (int i = 0; i < p_.params.count; ++i) {
        if (c == 'J')
            erase_display(p_.params.value[i], selective);
        else
            erase_line(p_.params.value[i], selective);
    }
    if (selective) ring_.set_pen(saved);
}

void vt::csi_insert_delete_lines(uint8_t c) {
    const int n = count_param();
    if (modes_.left_right) {
        // xterm: only from inside the scrolling region, and only its columns move.
        if (row_ < top_ || row_ > bottom_ || !in_columns()) return;
        if (narrow()) {
            split_rect_edges(row_, bottom_);
            ring_.scroll_rect(c == 'L' ? -n : n, row_, bottom_, left_, right_);
        } else if (c == 'L') {
            ring_.scroll_down(n, row_, bottom_);
        } else {
            ring_.scroll_up(n, row_, bottom_);
        }
        col_ = left_;
        pending_wrap_ = 0;
        return;
    }
    int a, b;
    if (row_ < top_)
        a = row_, b = top_ - 1;
    else if (row_ <= bottom_)
        a = row_, b = bottom_;
    else
        a = bottom_ + 1, b = row_;
    if (c == 'L')
        ring_.scroll_down(n, a, b);
    else
        ring_.scroll_up(n, a, b);
    col_ = 1;
}

void vt::csi_delete_chars(uint8_t) {
    if (!in_columns()) return;
    const int n = count_param();
    const int cols = right();
    split_wide_edges(col_, clamp_int((long long)col_ + n - 1, col_, cols));
    // A pair across the margin (left from 132 columns, or a right margin) would come in without its right half.
    if (cols < ring_.width()) split_wide_edges(cols + 1, cols);
    ring_.delete_chars(row_, col_, n, cols);
}

void vt::csi_erase_chars(uint8_t) {
    const int n = p_.params.value[0];
    if (n <= 0) return;
    int first = col_, last = clamp_int((long long)col_ + n - 1, col_, ring_.columns());
    widen_to_whole_chars(first, last);
    ring_.put_cells(row_, first, last, ' ', ring_.erase_pen());
}

void vt::csi_secondary_attributes(uint8_t) { reply(xterm() ? ">41;390;0c" : ">1;1;0c", true); }

// xterm adds ANSI colour (22) to the VT220's answer.
void vt::csi_device_attributes(uint8_t) { reply(xterm() ? "?62;1;6;22c" : "?62;1;6c", true); }

void vt::csi_clear_tabs(uint8_t) {
    if (p_.params.value[0] == 0)
        tabs_[col_] = 1;
    else if (p_.params.value[0] == 3)
        std::memset(tabs_, 1, sizeof tabs_);
}

void vt::csi_dec_mode(uint8_t c) { set_dec_mode(c == 'h'); }

void vt::csi_ansi_mode(uint8_t c) { set_mode(c == 'h'); }

void vt::csi_media_copy(uint8_t) {
    for (int i = 0; i < p_.params.count; ++i) {
        switch (p_.params.value[i]) {
        case 0: printer_->print_screen(ring_); break;
        case 4:
            printer_->end_print_job();
            modes_.printer_controller = false;
            break;
        case 5: modes_.printer_controller = true; break;
        default: break;
        }
    }
}

void vt::csi_sgr(uint8_t) {
    // xterm's CSI > Ps m (key modifier options) and CSI ? Ps m (their query) are no attributes.
    if (xterm() && marked(csi_question | csi_greater)) return;
    cell_pen& pen = ring_.pen_to_change();
    apply_sgr(p_.params, options_.sgr, pen);
    pen.extra = uint16_t((pen.extra & ~extra_link_mask) | link_bits_);  // a hyperlink outlasts SGR 0
}

void vt::csi_status_report(uint8_t) {
    char text[48];
    switch (p_.params.value[0]) {
    case 5: reply("0n", true); break;
    case 6:
        std::snprintf(text, sizeof text, "%d;%dR", row_, col_);
        reply(text, true);
        break;
    case 15: reply("?10n", true); break;
    case 25: reply("?21n", true); break;
    case 26: reply("?27;1;0;1n", true); break;
    default: break;
    }
}

void vt::csi_conformance_level(uint8_t) {
    if (p_.params.value[0] == 61) {
        modes_.vt100_level = true;
        modes_.c1_8bit = false;  // level 1 has no 8-bit controls
    } else {
        modes_.vt100_level = false;
        modes_.c1_8bit = p_.params.get(1) != 1;
    }
}

void vt::csi_soft_reset(uint8_t) { reset_terminal(false); }

// The split-screen extension is the VT220's; xterm has no CSI Ps p.
void vt::csi_split_screen(uint8_t) {
    if (!xterm() && p_.params.value[0] != 0) split_screen(p_.params.value[0]);
}

void vt::csi_protection(uint8_t) {
    const int p1 = p_.params.value[0];
    if (p1 == 1)
        ring_.attr_protected(true);
    else if (p1 == 0 || p1 == 2)
        ring_.attr_protected(false);
}

void vt::csi_margins(uint8_t) {
    const bool both = p_.params.count >= 2;
    int t = both ? p_.params.value[0] : 1, b = both ? p_.params.value[1] : ring_.rows();
    if (t == 0) t = 1;
    if (b == 0) b = 1;
    if (t > ring_.rows() || b > ring_.rows() || b - t < 1) return;
    top_ = t;
    bottom_ = b;
    if (xterm())
        home_xterm();
    else
        cursor_to(top_, 1);
}

// SCORC (xterm): the cursor saved by SCOSC, as ESC 8 restores it.
void vt::csi_restore_cursor(uint8_t) {
    if (xterm()) escape('8');
}

// XTSAVE and XTRESTORE (xterm): private modes saved and restored by number; the VT220 has neither.
void vt::csi_save_modes(uint8_t) {
    if (!xterm()) return;
    for (int i = 0; i < p_.params.count; ++i) {
        const int mode = p_.params.value[i], status = mode_status(mode, true);
        if (status == 0) continue;
        int k = 0;
        while (k < saved_mode_count_ && saved_modes_[size_t(k)].mode != mode) ++k;
        if (k == saved_mode_count_) {
            if (k == int(saved_modes_.size())) continue;
            ++saved_mode_count_;
        }
        saved_modes_[size_t(k)] = {uint16_t(mode), uint8_t(status)};
    }
}

void vt::csi_restore_modes(uint8_t) {
    if (!xterm()) return;
    for (int i = 0; i < p_.params.count; ++i)
        for (int k = 0; k < saved_mode_count_; ++k)
            if (saved_modes_[size_t(k)].mode == p_.params.value[i])
                dec_mode(p_.params.value[i], saved_modes_[size_t(k)].status == 1);
}

// xterm: DECSLRM while DECLRMM is on, else SCOSC (the cursor saved as by ESC 7). The VT220: window selection.
void vt::csi_save_or_margins(uint8_t c) {
    if (!xterm()) {
        csi_select_window(c);
        return;
    }
    if (!modes_.left_right) {
        escape('7');
        return;
    }
    const int cols = ring_.columns();
    const int l = p_.params.value[0] == 0 ? 1 : p_.params.value[0];
    const int r = p_.params.count < 2 || p_.params.value[1] == 0 ? cols : p_.params.value[1];
    if (l >= r || r > cols) return;
    left_ = l;
    right_ = r;
    home_xterm();
}

void vt::csi_select_window(uint8_t) {
    if (p_.params.count != 1) return;
    const int p1 = p_.params.value[0];
    if (p1 == 0 && !window1_active_)
        switch_window(0);
    else if (p1 == 1 && window1_active_)
        switch_window(1);
}

void vt::csi_terminal_parameters(uint8_t) {
    reply(p_.params.value[0] ? "3;1;1;128;128;1;0x" : "2;1;1;128;128;1;0x", true);
}

void vt::csi_confidence_test(uint8_t) {
    if (p_.params.value[0] != 2) return;
    if (p_.params.get(1) == 1) {
        reset_terminal(false);
    } else {
        fill_all_rows();
        cursor_to(1, 1);
    }
}

// 47 switches; 1047 also clears the alternate screen on leaving it; 1049 saves the cursor (as ESC 7) and clears
// the alternate screen on entry and restores the cursor on leaving.
void vt::alternate_screen(int mode, bool on) {
    // 1049 saves and restores the cursor even when the screen asked for is already shown (xterm does; curses
    // programs leave with a second reset that brings the cursor back where they found it).
    if (mode == 1049 && on) escape('7');
    if (on != ring_.alternate()) {
        auto clear = [&] {
            for (int r = 1; r <= ring_.rows(); ++r) ring_.fill_line(r, ' ', true);
        };
        if (on) {
            ring_.set_alternate(true);
            if (mode == 1049) clear();
        } else {
            if (mode == 1047) clear();
            ring_.set_alternate(false);
        }
    }
    if (mode == 1049 && !on) escape('8');
    clamp_column();
}

void vt::csi_cursor_style(uint8_t) {
    if (xterm() && p_.params.count == 1 && p_.params.value[0] <= 6) cursor_style_ = p_.params.value[0];
}

// XTVERSION.
void vt::csi_version(uint8_t) {
    if (!xterm() || p_.params.value[0] != 0) return;
    reply(modes_.c1_8bit ? "\x90>|qtelnet(1.0)\x9c" : "\x1bP>|qtelnet(1.0)\x1b\\", false);
}

// REP: the last printed character again, as if received n times (bounded: more would only scroll the same rows).
void vt::csi_repeat(uint8_t) {
    if (!xterm() || last_printed_ == 0) return;
    const int n = std::min(count_param(), 65535);
    const uint32_t ch = last_printed_;
    for (int i = 0; i < n; ++i) {
        if (options_.utf8)
            print_code(ch);
        else
            print(uint8_t(ch));
    }
}

// DECRQM's status of a mode: 1 set, 2 reset, 0 not known.
int vt::mode_status(int mode, bool dec) const {
    auto st = [](bool on) { return on ? 1 : 2; };
    if (!dec) {
        switch (mode) {
        case 4: return st(modes_.insert);
        case 20: return st(modes_.new_line);
        default: return 0;
        }
    }
    switch (mode) {
    case 1: return st(modes_.app_keys);
    case 3: return st(ring_.columns() == 132);
    case 6: return st(modes_.origin);
    case 7: return st(modes_.auto_wrap);
    case 8: return st(modes_.auto_repeat);
    case 25: return st(modes_.cursor_visible);
    case 9:
    case 1000:
    case 1002:
    case 1003: return st(mouse_tracking_ == mouse_tracking(mode));
    case 1004: return st(modes_.focus_events);
    case 69: return st(modes_.left_right);
    case 1005:
    case 1006:
    case 1015: return st(mouse_encoding_ == mouse_encoding(mode));
    case 47:
    case 1047:
    case 1049: return st(ring_.alternate());
    case 2004: return st(modes_.bracketed_paste);
    default: return 0;
    }
}

// DECRQM (xterm): CSI [?] Pn $ p is answered CSI [?] Pn ; Ps $ y.
void vt::csi_request_mode(uint8_t) {
    const bool dec = marked(csi_question);
    if (!xterm() || p_.params.count > 1) return;
    char text[32];
    std::snprintf(text, sizeof text, "%s%d;%d$y", dec ? "?" : "", p_.params.value[0],
                  mode_status(p_.params.value[0], dec));
    reply(text, true);
}

// Window operations (xterm) only as reports: nothing a host sends moves, resizes or iconifies the window, and the
// title is never read back.
void vt::csi_window_report(uint8_t) {
    if (!xterm() || marked(csi_question | csi_greater)) return;
    int area_w = 0, area_h = 0, cell_w = 0, cell_h = 0;
    char text[48];
    switch (p_.params.value[0]) {
    case 22:
    case 23:
        // 0 and 2 are the window title (and icon name); 1, the icon name alone, has no stack of its own here.
        if (p_.params.get(1) != 1) title_stack(p_.params.value[0] == 22);
        return;
    case 11: reply("1t", true); return;
    case 13: reply("3;0;0t", true); return;
    case 14:
        host_->pixel_size(area_w, area_h, cell_w, cell_h);
        std::snprintf(text, sizeof text, "4;%d;%dt", area_h, area_w);
        break;
    case 16:
        host_->pixel_size(area_w, area_h, cell_w, cell_h);
        std::snprintf(text, sizeof text, "6;%d;%dt", cell_h, cell_w);
        break;
    case 18:
    case 19:
        std::snprintf(text, sizeof text, "%d;%d;%dt", p_.params.value[0] - 10, ring_.rows(), ring_.columns());
        break;
    default: return;
    }
    reply(text, true);
}

void vt::title_stack(bool push) {
    if (push) {
        if (title_count_ == vt_title_stack) {
            std::move(titles_.begin() + 1, titles_.end(), titles_.begin());
            --title_count_;
        }
        titles_[size_t(title_count_++)] = {title_, has_title_};
        return;
    }
    if (title_count_ == 0) return;
    pushed_title& t = titles_[size_t(--title_count_)];
    title_ = std::move(t.text);
    has_title_ = t.set;
    if (has_title_)
        host_->set_title(title_);
    else
        host_->restore_own_title();
}

// The moves and scrolls xterm-256color's description offers beside the VT220's (CNL, CPL, CHA, HPA, VPA, SU, SD,
// CBT); the VT220 has none of them.
void vt::csi_line_move(uint8_t c) {
    if (!xterm()) return;
    csi_cursor_move(c == 'E' ? 'B' : 'A');
    col_ = 1;
    pending_wrap_ = 0;
}

void vt::csi_absolute_move(uint8_t c) {
    if (!xterm() || p_.params.count > 1) return;
    const int n = count_param();
    if (c == 'd') {
        long long r = n;
        if (modes_.origin) r += top_ - 1;
        row_ = clamp_int(r, modes_.origin ? top_ : 1, modes_.origin ? bottom_ : ring_.rows());
    } else if (modes_.origin && modes_.left_right) {
        col_ = clamp_int((long long)n + left_ - 1, left_, right_);
    } else {
        col_ = clamp_int(n, 1, ring_.columns());
    }
    pending_wrap_ = 0;
    clamp_column();  // a double-width line has half the columns
}

void vt::csi_scroll(uint8_t c) {
    // CSI > Ps T (title modes) and the five-parameter CSI T (mouse highlighting) are not scrolls.
    if (!xterm() || marked(csi_greater) || p_.params.count > 1) return;
    const int n = std::min(count_param(), ring_.rows());
    scroll_region(c == 'S' ? n : -n);
}

void vt::csi_back_tab(uint8_t) {
    if (!xterm()) return;
    for (int n = std::min(count_param(), ring_.width()); n > 0 && col_ > 1; --n) {
        do --col_;
        while (col_ > 1 && tabs_[col_] != 0);
    }
    pending_wrap_ = 0;
}
