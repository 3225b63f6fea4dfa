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

    // Colours are 0x00BBGGRR values.
    int color_fg = 0;
    int color_bg = 0xFFFF80;
    int color_cursor = 0x808080;
    int color_bold = 0x000080;
    int fontsize = 12;
    int font_weight = 0;
    int font_italic = 0;
    char font_name[face_name_size] = "Courier New";
    int font_charset = 0;
    int term_size = 80;  // only 132 starts in 132-column mode
    int pfontsize = -17;
    int pfont_weight = 0;
    int pfont_italic = 0;
    char pfont_name[face_name_size] = "Courier New";
    int font_pcharset = 0;  // low byte only
    int askprint = 1;
    int x_margin = 10;
    int y_margin = 10;
    int rawprint = 0;
    int use_cv = 0;
    int numlock = 0;
    int ignore_app = 0;
    int bell = 1;
    std::string myid = "QUILL_TELNET";
    std::string termtype = "vt220";
    int port = 23;
    int autoconnect = 0;
    std::string host_name;
    int exit = 0;
    int confirm = 1;
    std::string proxy_host = "myproxy";
    int proxy_port = 1080;
    int proxy_enable = 0;
    int proxy_socks_enable = 1;
    std::string proxy_syntax = "$1 $2\\n\\r";  // literal backslash pairs, 9 characters
    std::string proxy_return = "\\015\\012";   // literal backslash-octal escapes, 8 characters
    std::string auto_search1;
    std::string auto_response1;
    std::string auto_search2;
    std::string auto_response2;
    std::string keyname;  // defaults to <current directory>/keys.map at load time
    std::string pctonet;  // <current directory>/pctonet.map
    std::string nettopc;  // <current directory>/nettopc.map
    int cursortype = 0;   // 0 full block, 1 half block, 2 underline
    int blink_cursor = 0;
    int local_echo = 0;
    int host_echo = 0;
    int auto_wrap = 1;
    int new_line = 0;
    int wheel = 1;
    int wheel_lines = 1;         // scroll-back lines a wheel notch moves
    int alt_meta = 0;            // 1: Alt+key sends ESC and the key (the menus give up Alt+letter)
    int confirm_disconnect = 0;  // 1: Disconnect, and closing while connected, ask first
    int auto_reconnect = 0;      // 1: an unexpected ending is followed by new attempts, 2 s doubling up to 60 s
    int telnet_keepalive = 0;    // 1: TCP keep-alive on Telnet connections
    int ssh_keepalive_max = 0;   // SSH-2 keep-alives unanswered after which the session ends; 0 = never
    int scroll_bar = 1;
    int status_bar = 1;
    int knap_bar = 1;
    int ssh = 0;
    int ssh_type_1_2 = 0;    // 0 SSH-1, 1 SSH-2
    int ssh_encryption = 0;  // SSH-1: 0 DES, 1 3-DES, 2 Blowfish
    int ssh_default = 0;
    int ssh_algorithms = 1;      // SSH-2: 0 the fixed legacy suite, 1 negotiated (modern first)
    int ssh_check_host_key = 1;  // host keys checked against known_hosts, new ones asked about
    int ssh_keepalive = 0;       // seconds between keep-alive requests to an SSH-2 host; 0 = none
    int connect_timeout = 30;    // seconds from a connect attempt until the session is set up; 0 = no limit
    int utf8 = 0;                // 1: the host sends UTF-8 (keyboard, paste, clipboard and printing follow)
    int bold_bright = 1;         // bold text in palette colours 0-7 shows in the bright colours 8-15
    int clipboard_write = 0;     // 1: an xterm host may write the clipboard (OSC 52); it can never read it
    int visual_bell = 0;         // 1: the bell flashes the view instead of sounding
    // 1: only the key file signs on, never the agent's keys (OpenSSH's IdentitiesOnly)
    int ssh_identities_only = 0;
    // 0: the classic 24x80 screen (24 rows of 80 or 132 columns, nothing more told to the host); 1: the grid
    // follows the window and the host hears every change (Telnet NAWS, SSH window-change / window size)
    int screen_size = 0;
    int scrollback_lines = 199;  // lines kept above the screen; stored clamped to 24..100000
    int ssh_agent_forward = 0;   // 1: the host may use the local agent's keys while connected (SSH-2)
    int ssh_send_locale = 0;     // 1: SSH-2 sessions pass LANG and the LC_* variables that are set (env requests)
    // Port forwards, "L8080:127.0.0.1:80,R9000:127.0.0.1:22,D1080" (see forward/forward_rule.h)
    std::string ssh_forwards;
    std::string ssh_user;
    std::string ssh_password;
    std::string ssh_key_file;    // SSH-2 private key; empty: ~/.ssh/id_ed25519, id_ecdsa, id_rsa
    std::string ssh_proxy_jump;  // SSH-2 jump hosts, "user@host:port,..." (ssh's -J); empty: straight to the host

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
