#include "config/settings.h"

#include "config/settings_backend.h"

namespace {
constexpr std::array<toolbar_row_default, toolbar_row_count> row_defaults = {{
    {1, 0, "Open"},      {1, 1, "Close"}, {0, 26, "Mail"}, {1, 2, "Copy"},  {1, 3, "Paste"}, {1, 4, "Print"},
    {1, 5, "About"},     {1, 6, "F1"},    {1, 7, "F2"},    {1, 8, "F3"},    {1, 9, "F4"},    {1, 10, "F5"},
    {1, 11, "F6"},       {1, 12, "F7"},   {1, 13, "F8"},   {1, 14, "F9"},   {1, 15, "F10"},  {0, 16, "F11"},
    {0, 17, "F12"},      {0, 18, "F13"},  {0, 19, "F14"},  {0, 20, "F15"},  {0, 21, "F16"},  {0, 22, "F17"},
    {0, 23, "F18"},      {0, 24, "F19"},  {0, 25, "F20"},  {0, 27, "Font"}, {0, 28, "Help"}, {0, 29, "Toolbar"},
    {0, 30, "Transfer"},
}};
}  // namespace

const std::array<toolbar_row_default, toolbar_row_count>& toolbar_row_defaults() { return row_defaults; }

Settings::Settings() {
    for (int i = 0; i < toolbar_row_count; ++i) {
        newtoolbar[i].used = row_defaults[i].used;
        newtoolbar[i].pos = row_defaults[i].pos;
        copy_fixed(newtoolbar[i].text, row_defaults[i].text);
    }
}

Settings& settings() {
    static Settings s;
    return s;
}

void reset_settings() { settings() = Settings(); }

void apply_todays_defaults(Settings& s, bool keep_termtype) {
    const Settings classic;
    if (!keep_termtype && s.termtype == classic.termtype) s.termtype = "xterm-256color";
    if (s.termtype.starts_with("xterm")) s.utf8 = 1;
    // The classic light-cyan paper hides cyan text and whitens bold; only the classic pair is replaced.
    if (s.color_fg == classic.color_fg && s.color_bg == classic.color_bg) {
        s.color_fg = 0xE5E5E5;
        s.color_bg = 0x000000;
        s.color_bold = 0xFFFFFF;
        s.color_cursor = 0xC0C0C0;
        s.bold_bright = 1;
    }
    if (s.scrollback_lines == classic.scrollback_lines) s.scrollback_lines = todays_scrollback_lines;
    // A host that hangs is noticed: a keep-alive every 30 s, and the third unanswered one ends the session.
    if (s.ssh_keepalive == classic.ssh_keepalive) s.ssh_keepalive = 30;
    if (s.ssh_keepalive_max == classic.ssh_keepalive_max) s.ssh_keepalive_max = 3;
    s.alt_meta = 1;
    s.ssh_send_locale = 1;
    s.screen_size = 1;
}

std::string host_hist_key(int i) {
    static constexpr std::string_view base = "host_hist";
    if (i < 0) i = 0;
    if (i > static_cast<int>(base.size())) i = static_cast<int>(base.size());
    return std::string(base.substr(static_cast<std::size_t>(i)));
}

std::string config_section(std::string_view config_name) {
    std::string s = "Version 1.0/";
    s.append(config_name);
    return s;
}
