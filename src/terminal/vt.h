#pragma once
// The VT220 emulator: a byte-at-a-time parser that changes a screen_ring through its screen operations, answers
// host queries through the reply slot, and hands printer controller data to a printer sink.
// Two emulations (vt_options::emul): the classic VT220 mode, and the xterm emulation for a termtype beginning with
// "xterm" (xterm SGR profile, background colour erase, left/right margins, DECRQSS, XTGETTCAP, a title stack).
// DCS, OSC, SOS, PM and APC share one string state: CAN/SUB abort it, ST (ESC \, 0x9C in byte mode) or BEL (OSC)
// ends it, and any other C1 byte aborts it in byte mode as xterm does. Sequences are dispatched through csi_rows
// and esc_rows (vt.cpp); a control sequence with a marker its row does not list is dropped.
#include <cstddef>
#include <array>
#include <cstdint>
#include <string>
#include <vector>
#include <string_view>

#include "terminal/charset.h"
#include "terminal/mouse.h"
#include "terminal/screen.h"
#include "terminal/sgr.h"

class vt;

// OSC 10/11/12's colours: foreground, background, cursor.
enum special_colour { special_fg, special_bg, special_cursor };

// What the emulator asks of the window around it. Every method has a harmless default.
struct vt_host {
    virtual ~vt_host() = default;
    // BEL received while the bell setting is on.
    virtual void bell() {}
    // The column count changed (DECCOLM): recompute the layout and repaint everything.
    virtual void columns_changed(int columns) { (void)columns; }
    // DECSCNM.
    virtual void set_reverse_screen(bool on) { (void)on; }
    // SRM: the local_echo setting value becomes on (CSI 12 l) or off (CSI 12 h).
    virtual void set_local_echo(bool on) { (void)on; }
    // Repaint what is marked (after feed_text).
    virtual void update_changed() {}
    // OSC 0 or 2 (xterm only): the window title, controls dropped, at most vt_title_limit bytes as received (UTF-8
    // when utf8 is on). Nothing reads it back to the host.
    virtual void set_title(std::string_view title) { (void)title; }
    // A title pop (CSI 23 t, xterm) went back to before any OSC title: the window shows again what it showed
    // before the host set one (the view knows what that was). By default an empty title.
    virtual void restore_own_title() { set_title({}); }
    // OSC 4/10/11/12/104/110/111 changed a colour: repaint everything.
    virtual void colours_changed() {}
    // The user's colour (0xRRGGBB), asked only to answer a colour query while the host has set none of its own.
    virtual uint32_t user_colour(special_colour which) const { return which == special_bg ? 0xFFFFFF : 0x000000; }
    // OSC 52 (xterm, only when vt_options::clipboard_write is on): the host's text for the clipboard.
    virtual void set_clipboard(std::string_view text) { (void)text; }
    // CSI 14 t and 16 t: the text area and one cell in pixels; 0 when there is no window.
    virtual void pixel_size(int& area_w, int& area_h, int& cell_w, int& cell_h) const {
        area_w = area_h = cell_w = cell_h = 0;
    }
};

constexpr int vt_title_limit = 512;
// xterm's title stack depth (CSI 22 t pushes, CSI 23 t pops); a push beyond it drops the oldest.
constexpr int vt_title_stack = 10;
// The longest OSC kept (a hyperlink's URI and parameters); a clipboard write may be longer, up to
// vt_clipboard_limit bytes of decoded text.
constexpr size_t vt_osc_limit = 4096;
constexpr size_t vt_clipboard_limit = 1 << 20;
// Hyperlinks (OSC 8) live at most this many at a time; a cell holds the link's number in its extra word.
constexpr int vt_link_slots = 1023;
constexpr int extra_link_shift = 6;
constexpr uint16_t extra_link_mask = 0xFFC0;
constexpr uint32_t colour_unset = 0xFFFFFFFFu;

enum class emulation { vt220, xterm };
// The termtype setting's emulation: a value that begins with "xterm" picks xterm, anything else the VT220.
emulation emulation_for_termtype(std::string_view termtype);

// DECSCUSR's shapes.
enum class cursor_shape { block, underline, bar };

// Printer controller mode and print screen go through this sink.
struct printer_sink {
    virtual ~printer_sink() = default;
    // Every byte received while printer controller mode is on. Returns true when the byte completed the end
    // sequence (ESC [ 4 i or 0x9B 4 i); the sink has then ended its job and the emulator leaves controller mode.
    virtual bool controller_byte(uint8_t c, const vt& term) = 0;
    // CSI i / CSI 0 i: print rows 1..24, columns 1..column count, then end the job.
    virtual void print_screen(const screen_ring& ring) = 0;
    virtual void end_print_job() = 0;
};

// Discards printer data but still recognises the end of controller mode, so the screen never stays dead.
class null_printer_sink : public printer_sink {
public:
    bool controller_byte(uint8_t c, const vt& term) override;
    void print_screen(const screen_ring&) override {}
    void end_print_job() override {}

private:
    int state_ = 0;  // 0 nothing, 1 after ESC, 2 after ESC [ or 0x9B, 3 after the 4
};

// Settings values the emulator reads.
struct vt_options {
    std::string answerback = "QUILL_TELNET";  // myid
    bool bell = true;
    bool utf8 = false;  // utf8: the ground state decodes UTF-8 and cells hold code points
    // Which SGR set applies (and whether a colon may appear in any parameter); the VT220 keeps vt220.
    sgr_profile sgr = sgr_profile::vt220;
    // Set through vt::set_emulation, which also picks the SGR profile and background colour erase.
    emulation emul = emulation::vt220;
    // OSC 52: a host may write the clipboard (never read it).
    bool clipboard_write = false;
};

class vt {
public:
    // The ring outlives the emulator. host and printer may be null (null objects are used).
    explicit vt(screen_ring& ring, vt_host* host = nullptr, printer_sink* printer = nullptr);
    vt(const vt&) = delete;
    vt& operator=(const vt&) = delete;

    // Feeds one received byte; returns 1 when a reply is pending (collect it with take_reply before the next byte).
    int feed_byte(uint8_t c);
    // Feeds bytes until all are consumed or a byte leaves a reply pending; returns how many were consumed.
    // Same effect as feed_byte on each byte, faster on runs of printable text.
    size_t feed(const uint8_t* data, size_t n);
    // The pending reply (owned by vt, valid until the next reply) or nullptr when none is pending.
    const char* take_reply();
    bool reply_pending() const { return reply_pending_; }
    // Feeds a local message; replies stay pending; then asks the host to repaint.
    void feed_text(const char* text);

    void reset_terminal(bool keep_screen);
    // Back to the ground state: a half-received sequence, control string or UTF-8 character is dropped. Screen,
    // modes and printer controller mode stay. The Reset Terminal command and every new connection call it, so a
    // stray DCS or string introducer from the last host cannot swallow what comes next.
    void reset_parser();
    void clamp_column() {
        if (col_ > ring_.columns() / 2) clamp_to_line();  // else it fits even a double-width line
    }
    // Column count 80 or 132 (DECCOLM and the menu's width toggle); the cursor column is limited to the new width.
    void set_columns(int w);
    // Any size (screen_ring::resize's limits), as a window gives: rows come and go at the bottom and the cursor's
    // line stays on the screen, lines leaving the top go to the history; margins and split windows are reset.
    // From the first call on, the window decides the width and DECCOLM changes nothing (xterm without its 132-column
    // permission).
    void resize(int rows, int columns);
    bool sized_by_window() const { return sized_by_window_; }
    // Back to the classic 24x80 screen after resize: 24 rows of 80 columns (132 when the window gave more), DECCOLM
    // obeyed again.
    void restore_classic_size();

    vt_options& options() { return options_; }
    const vt_options& options() const { return options_; }
    // xterm: the xterm SGR profile, background colour erase and the xterm-only controls; vt220: as before. Leaving
    // xterm turns its modes off.
    void set_emulation(emulation e);
    bool xterm() const { return options_.emul == emulation::xterm; }
    void set_host(vt_host* host);
    void set_printer(printer_sink* printer);
    screen_ring& ring() { return ring_; }
    const screen_ring& ring() const { return ring_; }

    // State read by the keyboard, the display and the tools.
    int cursor_row() const { return row_; }
    int cursor_column() const { return col_; }
    int cursor_visible() const { return modes_.cursor_visible; }
    int pending_wrap() const { return pending_wrap_; }
    int top_margin() const { return top_; }
    int bottom_margin() const { return bottom_; }
    // DECLRMM (xterm): whether DECSLRM's left and right margins apply; while off they are the screen's edges.
    bool left_right_mode() const { return modes_.left_right; }
    int left_margin() const { return left(); }
    int right_margin() const { return right(); }
    int origin_mode() const { return modes_.origin; }
    int auto_wrap_mode() const { return modes_.auto_wrap; }
    int insert_mode() const { return modes_.insert; }
    int app_keys() const { return modes_.app_keys; }
    int auto_repeat() const { return modes_.auto_repeat; }
    int vt52_mode() const { return modes_.vt52; }
    int vt100_level() const { return modes_.vt100_level; }
    int c1_8bit() const { return modes_.c1_8bit; }
    int new_line_mode() const { return modes_.new_line; }
    int printer_controller() const { return modes_.printer_controller; }
    // DECSCUSR (xterm): shape and blinking; block and blinking after a reset.
    cursor_shape cursor_style() const;
    // True once the host chose a shape (DECSCUSR 1..6); 0 hands the choice back to the user.
    bool cursor_style_set() const { return cursor_style_ != 0; }
    bool cursor_blinking() const;
    // DECSET 2004 (xterm): pasted text goes between ESC [ 200 ~ and ESC [ 201 ~.
    bool bracketed_paste() const { return modes_.bracketed_paste; }
    // DECSET 9/1000/1002/1003 and 1005/1006/1015, and 1004 (focus in and out), xterm only.
    mouse_tracking mouse_mode() const { return mouse_tracking_; }
    mouse_encoding mouse_coding() const { return mouse_encoding_; }
    bool focus_events() const { return modes_.focus_events; }
    // The 256 colours as 0xRRGGBB: xterm's, less what OSC 4 changed.
    const std::array<uint32_t, 256>& palette() const { return palette_; }
    // OSC 7 ("file://HOST/PATH", in either emulation): the shell's folder as last reported, percent-decoded; empty
    // until a report came, and again after reset_parser (each new connection).
    const std::string& current_folder() const { return folder_; }
    const std::string& current_folder_host() const { return folder_host_; }
    // OSC 10/11/12's colour, or colour_unset while the user's applies.
    uint32_t special(special_colour which) const { return special_[which]; }
    // The URI of the hyperlink a cell belongs to (its extra word), empty for none.
    std::string_view link_uri(uint16_t extra) const;
    int g0() const { return g0_; }
    int g1() const { return g1_; }
    int active_set() const { return active_set_; }
    int parser_state() const { return p_.state; }
    bool tab_stop(int column) const { return column >= 1 && column <= max_columns && tabs_[column] == 0; }
    // Where HT from the given column lands (also used by text-mode printing).
    int tab_column(int column) const;

    void set_new_line_mode(bool on) { modes_.new_line = on; }
    void set_auto_wrap_mode(bool on) { modes_.auto_wrap = on; }

private:
    struct saved_cursor {
        int col = 1, row = 1;
        cell_pen pen;
        int pending_wrap = 0;
        int g0 = 0, g1 = 1, active = 0;
    };
    struct split_window {
        int col = 1, row = 1, top = 1, bottom = screen_rows;
        cell_pen pen;
        int pending_wrap = 0;
    };

    void reset_windows();
    void ground(uint8_t c);
    void escape(uint8_t c);
    // One row of the escape sequence table (vt.cpp).
    struct esc_row {
        uint8_t final;
        void (vt::*handler)(uint8_t final);
        bool clamp_after;  // limit the cursor column to the line's width afterwards
    };
    static const esc_row esc_rows[];
    void esc_again(uint8_t c);
    void esc_space(uint8_t c);
    void esc_enter(uint8_t c);
    void esc_save_cursor(uint8_t c);
    void esc_restore_cursor(uint8_t c);
    void esc_leave_vt52(uint8_t c);
    void esc_keypad(uint8_t c);
    void esc_vt52_move(uint8_t c);
    void esc_index(uint8_t c);
    void esc_next_line(uint8_t c);
    void esc_c1_replies(uint8_t c);
    void esc_tab_set(uint8_t c);
    void esc_reverse_index(uint8_t c);
    void esc_vt52_erase(uint8_t c);
    void esc_string(uint8_t c);
    void esc_charset(uint8_t c);
    void esc_vt52_address(uint8_t c);
    void esc_identify(uint8_t c);
    void esc_csi(uint8_t c);
    void esc_reset(uint8_t c);
    void esc_hash(uint8_t c);
    void designate(uint8_t c, int which);
    void vt52_address(uint8_t c);
    enum : uint8_t { string_other, string_osc, string_dcs };
    void enter_string(uint8_t kind);
    void control_string(uint8_t c);
    void finish_string(bool bel);
    void finish_dcs();
    void csi(uint8_t c);
    uint16_t csi_marker(uint8_t c) const;
    void csi_final(uint8_t c);
    void csi_dispatch(uint8_t c, uint16_t present);  // present: the csi_question.. markers seen
    void clamp_to_line() {
        const int limit = ring_.is_double_width(row_) ? ring_.columns() / 2 : ring_.columns();
        if (col_ > limit) col_ = limit;
    }

    // One row of the control sequence table (vt.cpp).
    enum : uint16_t {
        csi_question = 1,
        csi_greater = 2,
        csi_bang = 4,
        csi_quote = 8,
        csi_space = 16,
        csi_dollar = 32,
        csi_less = 64,  // '<' and '=' (private markers no row of ours takes)
        csi_equals = 128,
        csi_unknown = 256,   // any other intermediate byte
        escape_space = 512,  // ESC SP (S7C1T, S8C1T), no marker of a control sequence
    };
    struct csi_row {
        uint8_t final;
        uint16_t intermediates;  // csi_question.. that must all be present
        void (vt::*handler)(uint8_t final);
        bool clamp_after;       // limit the cursor column to the line's width afterwards
        uint16_t optional = 0;  // markers the handler looks at itself; any other present one skips the row
    };
    static const csi_row csi_rows[];
    static size_t csi_row_of(uint8_t c, uint16_t present);
    using csi_row_table = std::array<uint8_t, 128>;  // final -> row of csi_rows
    static csi_row_table rows_for(uint16_t markers);
    static const csi_row_table plain_rows, question_rows;
    void csi_insert_chars(uint8_t c);
    void csi_cursor_move(uint8_t c);
    void csi_cursor_position(uint8_t c);
    void csi_line_move(uint8_t c);
    void csi_absolute_move(uint8_t c);
    void csi_scroll(uint8_t c);
    void csi_back_tab(uint8_t c);
    void csi_erase(uint8_t c);
    void csi_insert_delete_lines(uint8_t c);
    void csi_delete_chars(uint8_t c);
    void csi_erase_chars(uint8_t c);
    void csi_secondary_attributes(uint8_t c);
    void csi_device_attributes(uint8_t c);
    void csi_clear_tabs(uint8_t c);
    void csi_dec_mode(uint8_t c);
    void csi_ansi_mode(uint8_t c);
    void csi_media_copy(uint8_t c);
    void csi_sgr(uint8_t c);
    void csi_status_report(uint8_t c);
    void csi_conformance_level(uint8_t c);
    void csi_soft_reset(uint8_t c);
    void csi_split_screen(uint8_t c);
    void csi_protection(uint8_t c);
    void csi_margins(uint8_t c);
    void csi_select_window(uint8_t c);
    void csi_save_or_margins(uint8_t c);
    void csi_restore_cursor(uint8_t c);
    void csi_save_modes(uint8_t c);
    void csi_restore_modes(uint8_t c);
    void csi_terminal_parameters(uint8_t c);
    void csi_confidence_test(uint8_t c);
    void csi_cursor_style(uint8_t c);
    void csi_version(uint8_t c);
    void csi_repeat(uint8_t c);
    void csi_request_mode(uint8_t c);
    void csi_window_report(uint8_t c);
    void title_stack(bool push);
    void answer_status_string(std::string_view request);
    void answer_termcap(std::string_view names);
    std::string sgr_report() const;
    int mode_status(int mode, bool dec) const;
    void finish_osc(bool bel);
    void osc_colours(int code, std::string_view args, std::string& answer, const char* end);
    void osc_reset_colours(int code, std::string_view args);
    void osc_link(std::string_view args);
    void osc_clipboard(std::string_view args);
    void osc_folder(std::string_view args);
    // Whether the string being received is kept: any OSC or DCS in xterm, only an OSC 7 in the VT220.
    bool keep_string() const;
    void reset_xterm_state();
    bool reset_palette_entry(int i);
    void alternate_screen(int mode, bool on);
    void print(uint8_t c);
    template <bool utf8>
    size_t print_run(const uint8_t* data, size_t n);
    template <bool utf8>
    size_t ground_run(const uint8_t* data, size_t n);
    void print_code(uint32_t cp);
    bool ground_utf8(uint8_t c);
    void join_mark(uint32_t cp);
    void split_wide_edges(int first, int last);
    void split_for_insert(int n, int right);
    void split_rect_edges(int top, int bottom);
    void widen_to_whole_chars(int& first, int& last) const;

    void enter_csi();
    [[gnu::always_inline]] size_t whole_csi(const uint8_t* p, size_t n);
    bool whole_designate(const uint8_t* p, size_t n);
    bool colon_allowed() const;
    void parse_params();
    // The first parameter as a count: 0 and missing mean 1.
    int count_param() const { return p_.params.value[0] == 0 ? 1 : p_.params.value[0]; }
    bool marked(uint16_t markers) const { return (p_.markers & markers) != 0; }
    void line_feed();
    void carriage_return() {
        col_ = line_start();
        clamp_column();
    }
    void reverse_index();
    int left() const { return modes_.left_right ? left_ : 1; }
    int right() const { return modes_.left_right ? right_ : ring_.columns(); }
    // The cursor lies between the left and right margins (always, while DECLRMM is off).
    bool in_columns() const { return col_ >= left() && col_ <= right(); }
    // Margins narrower than the screen: scrolls and shifts then move a rectangle, not whole lines.
    bool narrow() const { return modes_.left_right && (left_ > 1 || right_ < ring_.columns()); }
    // Where printing wraps from the cursor: the right margin, or the screen's edge for a cursor beyond it.
    int wrap_edge() const { return modes_.left_right && col_ <= right_ ? right_ : ring_.columns(); }
    // Where CR and a wrap take the cursor: the left margin, unless the cursor is left of it outside origin mode.
    int line_start() const { return modes_.left_right && (modes_.origin || col_ >= left_) ? left_ : 1; }
    // The scrolling region (top..bottom, left..right) n lines up (n > 0) or down.
    void scroll_region(int n);
    // Home for DECSTBM, DECSLRM and DECOM in the xterm emulation: the margins' corner in origin mode.
    void home_xterm();
    void reset_column_margins() {
        left_ = 1;
        right_ = ring_.columns();
    }
    void cursor_to(int row, int col);
    void erase_display(int mode, bool selective);
    void erase_line(int mode, bool selective);
    void set_mode(bool on);
    void set_dec_mode(bool on);
    void dec_mode(int mode, bool on);
    void xterm_dec_mode(int mode, bool on);
    void split_screen(int n);
    void switch_window(int to);
    void fill_all_rows();
    void reply(const char* text, bool introducer);
    void set_tab_defaults();

    screen_ring& ring_;
    vt_host* host_;
    null_printer_sink null_printer_;  // own state, so that two emulators never share an end-sequence match
    printer_sink* printer_;
    vt_options options_;

    int row_ = 1, col_ = 1;
    int pending_wrap_ = 0;
    int top_ = 1, bottom_ = screen_rows;
    int left_ = 1, right_ = 80;
    bool sized_by_window_ = false;
    // The modes a reset sets (new_line excepted: the settings own it); the last four are the xterm emulation's.
    struct modes {
        bool origin = false;  // DECOM
        bool auto_wrap = true;
        bool insert = false;
        bool app_keys = false;
        bool auto_repeat = true;
        bool cursor_visible = true;
        bool vt52 = false;
        bool vt100_level = false;  // conformance level 1: no 8-bit replies
        bool c1_8bit = false;      // replies start with 8-bit introducers
        bool new_line = false;     // LNM
        bool printer_controller = false;
        bool left_right = false;  // DECLRMM
        bool bracketed_paste = false;
        bool focus_events = false;
    };
    modes modes_;
    int cursor_style_ = 0;  // DECSCUSR's parameter, 0..6
    mouse_tracking mouse_tracking_ = mouse_tracking::off;
    mouse_encoding mouse_encoding_ = mouse_encoding::x10;
    std::array<uint32_t, 256> palette_;
    uint32_t special_[3] = {colour_unset, colour_unset, colour_unset};
    std::vector<std::string> links_;  // index = link number - 1
    uint16_t link_bits_ = 0;          // the open hyperlink's number, shifted into the extra word
    uint32_t last_printed_ = 0;       // for REP: the character printed just before, 0 when anything else came since
    // The title the host set last (xterm), and the titles pushed by CSI 22 t; has_title_ false: none set since the
    // connection began, the window shows its own.
    std::string title_;
    bool has_title_ = false;
    struct pushed_title {
        std::string text;
        bool set = false;
    };
    std::array<pushed_title, vt_title_stack> titles_{};
    int title_count_ = 0;
    int g0_ = 0, g1_ = 1, invoked_ = 0, active_set_ = 0;
    saved_cursor saved_;
    uint8_t tabs_[max_columns + 1];  // 0 = stop, 1 = no stop; index = column
    int window1_active_ = 1;
    split_window win_[2];

    // What the parser holds between bytes: reset_parser starts it afresh with one assignment.
    struct parser {
        int state = 0;  // st_ground.. (vt.cpp)
        // The private markers and intermediates seen (csi_question..): csi_less, csi_equals and csi_unknown have
        // the sequence consumed and dropped. ESC clears them all; a new sequence keeps '?' and '>'.
        uint16_t markers = 0;
        int len = 0;  // parameter characters in buf
        char buf[csi_limit_xterm] = {};
        csi_params params;
        uint8_t string_kind = string_other;  // an OSC is also ended by BEL
        bool string_esc = false;             // a string being kept was left by ESC: ESC \ completes it
    };
    parser p_;
    // XTSAVE's private modes (xterm): mode number and DECRQM status, a bounded few.
    struct saved_mode {
        uint16_t mode;
        uint8_t status;
    };
    std::array<saved_mode, 32> saved_modes_{};
    int saved_mode_count_ = 0;
    std::string osc_;  // the OSC or DCS being kept (xterm, and OSC 7 in both), bounded
    std::string folder_, folder_host_;
    utf8_decoder utf8_;

    std::string reply_;
    bool reply_pending_ = false;
};
