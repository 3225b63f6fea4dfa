#pragma once
// Every command of the main menu, the toolbar and the context menu. The numeric values are the command
// identifiers the toolbar table and the stored toolbar layout refer to; values >= 33000 are our own.
namespace cmd {
enum id : int {
    // File
    connect = 122,
    disconnect = 123,
    reconnect = 33020,  // "R&econnect": the latest connection of the run again
    print_screen = 32811,
    print_setup = 57606,
    send_mail = 57612,
    log_save = 32822,  // "&Save to File..."
    log_read = 32823,  // "&Read from File..."
    ssh_log = 32910,   // "SS&H log to a file"
    exit = 57665,
    // Edit
    select_all = 32906,
    copy = 124,
    paste = 125,
    append = 32907,
    reset_terminal = 32781,
    ctrl_cv = 32820,
    find = 33019,              // "&Find..."
    clear_scrollback = 33021,  // "C&lear Scroll-back"
    ssh_tunnels = 33022,       // "SS&H Tunnels..."
    file_transfer = 33023,     // "File &Transfer...": SFTP on the SSH-2 connection
    // View
    view_toolbar = 59392,
    view_status_bar = 59393,
    scroll_bar = 32808,
    screen_132 = 32826,
    // Settings
    screen_font = 32776,
    color_text = 33001,
    color_background = 33002,
    color_cursor = 33003,
    color_bold = 33004,
    proxy = 33005,
    auto_login = 33006,
    mapping_files = 33007,
    printer_font = 33008,
    printer_margins = 33009,
    termtype = 33010,
    cursor = 33011,
    local_echo = 33012,
    host_echo = 33013,
    autowrap = 33014,
    swap_lf = 33015,
    mouse_wheel = 33016,
    raw_aux_print = 33017,
    cursor_blink = 33018,
    visual_bell = 33024,  // "&Visual Bell"
    customize_toolbar = 121,
    reset_config = 32784,
    // Help
    help_topics = 32819,
    about = 57664,
    // Toolbar function keys F1..F20 are fkey_first + 0 .. fkey_first + 19
    fkey_first = 32785,
    fkey_last = 32804,
};
constexpr bool is_fkey(int c) { return c >= fkey_first && c <= fkey_last; }
constexpr int fkey(int n) { return fkey_first + n - 1; }  // n = 1..20
}  // namespace cmd
