#pragma once
// The process-wide settings record. Every field that is a stored key carries the key's exact name; the loader and
// saver (settings_store.h) read and write them under those names. Dialogs and menu toggles change the record in
// memory; it is written back once, when the main window closes.
#include <array>
#include <string>

// Fixed buffers of 40 characters including the terminator: the two font face names and the toolbar captions.
inline constexpr int face_name_size = 40;
inline constexpr int toolbar_text_size = 40;
inline constexpr int host_history_count = 8;
// Rows 0..29 are the original table; row 30 (File Transfer) came later and is read with its default from older
// layouts, which keeps their positions a permutation.
inline constexpr int toolbar_row_count = 31;
// Bounds of `scrollback_lines`; the store keeps a value inside them.
inline constexpr int scrollback_lines_min = 24;
inline constexpr int scrollback_lines_max = 100000;
// The scroll-back of today's defaults.
inline constexpr int todays_scrollback_lines = 10000;
constexpr int clamp_scrollback(int lines) {
    return lines < scrollback_lines_min   ? scrollback_lines_min
           : lines > scrollback_lines_max ? scrollback_lines_max
                                          : lines;
}

// One stored toolbar row (`newtoolbarused_N`, `newtoolbarpos_N`, `newtoolbartext_N`). The full table with commands
// and validation lives with the main window (app/toolbar_table.h); the store only moves these values.
struct toolbar_row_setting {
    int used = 0;
    int pos = 0;
    char text[toolbar_text_size] = {};
};

// Defaults of the toolbar rows: used flag, position, caption.
struct toolbar_row_default {
    int used;
    int pos;
    const char* text;
};
const std::array<toolbar_row_default, toolbar_row_count>& toolbar_row_defaults();

// The connection values a command-line launch (ssh://..., user@host) sets for the run, and what they replaced.
// At save each field goes back to its stored value unless the user changed it during the run.
// An SSH launch also brings today's defaults (apply_todays_defaults), which go back the same way.
struct launch_values {
    std::string host_name;
    int port = 23, autoconnect = 0, ssh = 0, ssh_type_1_2 = 0;
    std::string ssh_user, ssh_key_file;
    std::string termtype;
    int utf8 = 0, color_fg = 0, color_bg = 0, color_bold = 0, color_cursor = 0, bold_bright = 0;
    int scrollback_lines = 0, alt_meta = 0, ssh_send_locale = 0, screen_size = 0;
    int ssh_keepalive = 0, ssh_keepalive_max = 0;
    std::string ssh_proxy_jump;
};

struct Settings {
    Settings();  // every field at its load default

    // The plain stored keys, their types and defaults.
#define STORED(name, type, def) type name = def;
#include "config/setting_keys.def"

    // Keys the store reads in their own way.
    char font_name[face_name_size] = "Courier New";
    char pfont_name[face_name_size] = "Courier New";
    std::string keyname;  // defaults to <current directory>/keys.map at load time
    std::string pctonet;  // <current directory>/pctonet.map
    std::string nettopc;  // <current directory>/nettopc.map
    std::string ssh_user;
    std::string ssh_password;

    // Connect-dialog host history, entry 0 most recent. Entry i is stored under host_hist_key(i).
    std::array<std::string, host_history_count> host_hist;

    // Toolbar rows N = 0..toolbar_row_count-1, stored as newtoolbarused_N / newtoolbarpos_N / newtoolbartext_N.
    std::array<toolbar_row_setting, toolbar_row_count> newtoolbar;

    // Main window placement as last read or written; -1 means not stored.
    int flags = -1;
    int showCmd = -1;
    int x1 = -1;
    int y1 = -1;
    int x2 = -1;
    int y2 = -1;

    // Not keys: where the record came from.
    std::string config_name = "1";  // configuration whose section is written at save
    std::string dir;                // program directory (where keys.map was found)
    bool dir_was_absent = true;     // the stored `dir` value was missing at load; save writes it then
    bool launched = false;          // a launch set launch_set over launch_stored for this run
    launch_values launch_set, launch_stored;
};

// Today's defaults, for what lies beyond the classic program (an SSH launch, a new saved session): xterm-256color
// with UTF-8, light grey on black with bold in bright white, 10,000 lines of scroll-back, Alt as Meta, the locale
// passed to SSH hosts, the grid following the window (where the zoom keys work) and a keep-alive every 30 s
// whose third unanswered one ends the session. Each group replaces only values still at their classic defaults,
// so a choice the user made stays. keep_termtype: the terminal type was chosen (the Connect dialog's field); UTF-8
// then follows only an xterm type.
void apply_todays_defaults(Settings& s, bool keep_termtype = false);

// The one record of the process.
Settings& settings();
// Puts the process-wide record back to its load defaults (tests, and before a fresh load).
void reset_settings();

// "host_hist" with its first i characters dropped: "host_hist", "ost_hist", ... "st".
std::string host_hist_key(int i);

// Copies text into a fixed buffer, cutting it to size - 1 bytes. A cut never splits a UTF-8 character: half a
// character would come back from the store as a replacement character.
template <std::size_t N>
void copy_fixed(char (&dst)[N], const std::string& text) {
    std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (int back = 0; n < text.size() && n > 0 && back < 3 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80;
         ++back)
        --n;
    text.copy(dst, n);
    dst[n] = '\0';
}
