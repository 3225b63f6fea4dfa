#include "config/settings_store.h"

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "config/sessions.h"
#include "config/text_scan.h"

namespace {
struct text_key {
    const char* name;
    std::string Settings::*field;
};

// The plain keys (setting_keys.def), read and written alike; defaults come from a default-constructed record.
struct plain_key {
    const char* name;
    int Settings::*number;
    std::string Settings::*text;
};
constexpr plain_key key_of(const char* name, int Settings::*f) { return {name, f, nullptr}; }
constexpr plain_key key_of(const char* name, std::string Settings::*f) { return {name, nullptr, f}; }
constexpr plain_key plain_keys[] = {
#define STORED(name, type, def) key_of(#name, &Settings::name),
#include "config/setting_keys.def"
};

constexpr text_key map_keys[] = {
    {"keyname", &Settings::keyname},
    {"nettopc", &Settings::nettopc},
    {"pctonet", &Settings::pctonet},
};
constexpr const char* map_files[] = {"keys.map", "nettopc.map", "pctonet.map"};

constexpr const char* placement_keys[] = {"flags", "showCmd", "x1", "y1", "x2", "y2"};

struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

std::string join(const std::string& dir, const char* name) {
    std::string p = dir;
    if (p.empty() || p.back() != '/') p += '/';
    p += name;
    return p;
}

bool can_open(const std::string& path) {
    file_ptr f(open_regular_file(path));
    return f != nullptr;
}

bool begins_with_1(const std::string& s) { return !s.empty() && s[0] == '1'; }

bool has_overwrite_line(const std::string& path) {
    file_ptr f(open_regular_file(path));
    if (!f) return false;
    chunk_reader reader(f.get());
    std::string chunk;
    while (reader.next(chunk)) {
        if (chunk.compare(0, 9, "OVERWRITE") == 0) return true;
    }
    return false;
}

std::string num_key(const char* base, int n) { return base + std::to_string(n); }

bool same_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Every key name the loader reads, spelled as it reads them.
const std::vector<std::string>& known_keys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> k;
        for (const plain_key& p : plain_keys) k.emplace_back(p.name);
        for (const text_key& t : map_keys) k.emplace_back(t.name);
        for (const char* n : {"font_name", "pfont_name", "ssh_user", "ssh_password"}) k.emplace_back(n);
        for (const char* n : placement_keys) k.emplace_back(n);
        for (int i = 0; i < host_history_count; ++i) k.push_back(host_hist_key(i));
        for (int n = 0; n < toolbar_row_count; ++n) {
            k.push_back(num_key("newtoolbarused_", n));
            k.push_back(num_key("newtoolbarpos_", n));
            k.push_back(num_key("newtoolbartext_", n));
        }
        return k;
    }();
    return keys;
}

// The store's key names are case-sensitive, unlike the registry's: "Port" in config.txt must still set `port`.
// Keys nobody reads keep their spelling.
std::string_view stored_key_name(std::string_view key) {
    for (const std::string& k : known_keys()) {
        if (same_ignoring_case(k, key)) return k;
    }
    return key;
}


void place_window(Settings& s, settings_window* w) {
    if (!w) return;
    bool stored = s.flags != -1 && s.showCmd != -1 && s.x1 != -1 && s.y1 != -1 && s.x2 != -1 && s.y2 != -1;
    if (!stored) {
        w->show_normal();
    } else {
        int max_x = w->screen_width() - w->icon_width();
        int max_y = w->screen_height() - w->icon_height();
        if (s.x1 >= max_x) s.x1 = max_x;
        if (s.y1 >= max_y) s.y1 = max_y;
        // Never come back minimised.
        if (s.showCmd == 2) s.showCmd = 1;
        w->apply_placement({s.flags, s.showCmd, s.x1, s.y1, s.x2, s.y2});
    }
    w->fit_font();
}

// The values of one configuration. `borrow`: keys it lacks come from configuration "1". `password`: whether the
// remembered password is looked for.
void read_values(Settings& s, settings_backend& backend, const std::string& config_name, const std::string& cur,
                 bool borrow, bool password) {
    const std::string section = config_section(config_name);
    const std::string one = config_section("1");
    auto read_int = [&](const std::string& key, int def) {
        if (borrow) def = backend.read_int(one, key, def);
        return backend.read_int(section, key, def);
    };
    auto read_text = [&](const std::string& key, const std::string& def) {
        if (!borrow) return backend.read_text(section, key, def);
        return backend.read_text(section, key, backend.read_text(one, key, def));
    };

    const Settings defaults;
    for (const plain_key& k : plain_keys) {
        if (k.number)
            s.*k.number = read_int(k.name, defaults.*k.number);
        else
            s.*k.text = read_text(k.name, defaults.*k.text);
    }
    s.font_pcharset &= 0xFF;
    s.scrollback_lines = clamp_scrollback(s.scrollback_lines);
    s.ssh_user = read_text("ssh_user", "");
    // Only a remembered password is looked for: asking the secret store wakes the desktop's keyring and loads its
    // client libraries, at every start, for a value that is kept only when ssh_default is set.
    s.ssh_password = s.ssh_default && password ? read_text("ssh_password", "") : std::string();
    copy_fixed(s.font_name, read_text("font_name", defaults.font_name));
    copy_fixed(s.pfont_name, read_text("pfont_name", defaults.pfont_name));
    for (int i = 0; i < 3; ++i) s.*map_keys[i].field = read_text(map_keys[i].name, join(cur, map_files[i]));

    const auto& rows = toolbar_row_defaults();
    for (int n = 0; n < toolbar_row_count; ++n) {
        toolbar_row_setting& row = s.newtoolbar[n];
        row.used = read_int(num_key("newtoolbarused_", n), rows[n].used);
        row.pos = read_int(num_key("newtoolbarpos_", n), rows[n].pos);
        copy_fixed(row.text, rows[n].text);
        // The first 15 captions are fixed; from F9 on a stored caption replaces the default one.
        if (n >= 15) {
            std::string t = read_text(num_key("newtoolbartext_", n), rows[n].text);
            if (!t.empty()) copy_fixed(row.text, t);
        }
    }
    for (int i = 0; i < host_history_count; ++i) s.host_hist[i] = read_text(host_hist_key(i), "");

    int* placement[] = {&s.flags, &s.showCmd, &s.x1, &s.y1, &s.x2, &s.y2};
    for (int i = 0; i < 6; ++i) *placement[i] = read_int(placement_keys[i], -1);
}
}  // namespace

bool import_config_chunk(std::string_view chunk, settings_backend& backend, const std::string& section) {
    if (chunk.empty() || chunk[0] == '#') return false;
    std::size_t p = 0;
    while (p < chunk.size() && is_space(chunk[p])) ++p;
    std::size_t k0 = p;
    while (p < chunk.size() && !is_space(chunk[p])) ++p;
    if (p == k0) return false;
    std::string_view key = stored_key_name(chunk.substr(k0, p - k0));
    while (p < chunk.size() && is_space(chunk[p])) ++p;
    if (p >= chunk.size() || chunk[p] != '=') return false;
    ++p;
    while (p < chunk.size() && is_space(chunk[p])) ++p;
    std::size_t v0 = p;
    while (p < chunk.size() && !is_space(chunk[p])) ++p;
    if (p == v0) return false;
    std::string_view token = chunk.substr(v0, p - v0);

    if (token[0] == '"') {
        std::size_t close = chunk.find('"', v0 + 1);
        if (close == std::string_view::npos || close == v0 + 1) return false;
        backend.write_text(section, key, chunk.substr(v0 + 1, close - v0 - 1));
        return true;
    }
    std::size_t q = 0;
    long long v = 0;
    // The whole token must be the number: "12abc" or "abc" is not written at all.
    if (token[0] == '+' || token[0] == '-' || (token[0] >= '0' && token[0] <= '9')) {
        if (!scan_c_integer(token, q, v) || q != token.size()) return false;
    } else {
        return false;
    }
    // 32-bit values; 0xFFFFFFFF and the like wrap to their signed form.
    if (v < -2147483648LL || v > 4294967295LL) return false;
    backend.write_int(section, key, static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int64_t>(v))));
    return true;
}

std::vector<std::string> default_install_dirs() {
    std::string data;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/') {
        data = x;
    } else if (const char* h = std::getenv("HOME"); h && *h) {
        data = std::string(h) + "/.local/share";
    }
    std::vector<std::string> dirs;
    if (!data.empty()) dirs.push_back(data + "/QuillSoft/qtelnet");
    dirs.emplace_back("/usr/local/share/QuillSoft/qtelnet");
    return dirs;
}

load_report load_settings(Settings& s, settings_backend& backend, const StartupValues& sv, ui_services& ui,
                          settings_window* window, const load_options& opt) {
    load_report r;
    const std::string section = config_section(sv.config_name);
    s.config_name = sv.config_name;

    std::string cur = opt.current_dir;
    if (cur.empty()) {
        std::error_code ec;
        cur = std::filesystem::current_path(ec).string();
        if (ec) cur = ".";
    }
    auto change_dir = [&](const std::string& d) {
        cur = d;
        if (opt.change_process_dir) {
            std::error_code ec;
            std::filesystem::current_path(d, ec);
        }
    };

    r.first_start = backend.read_int(section, "color_bg", first_start_probe) == first_start_probe;
    std::optional<std::string> dir = backend.read_program_dir();
    s.dir = dir.value_or("");
    s.dir_was_absent = !dir.has_value();

    const std::string cfg = join(cur, "config.txt");
    if (r.first_start || has_overwrite_line(cfg)) {
        if (file_ptr f{open_regular_file(cfg)}) {
            r.imported = true;
            chunk_reader reader(f.get());
            std::string chunk;
            while (reader.next(chunk)) import_config_chunk(chunk, backend, section);
            f.reset();
            // The imported values must be on disk before config.txt goes away, or a crash loses both.
            backend.flush();
            const std::string old = join(cur, "config.old");
            std::remove(old.c_str());
            if (std::rename(cfg.c_str(), old.c_str()) != 0) {
                r.rename_failed = true;
                if (begins_with_1(sv.config_name)) ui.message_box(msg_rename_failed);
            }
        }
        // Directory search: where keys.map lives becomes the program directory.
        if (can_open(join(cur, "keys.map"))) {
            s.dir = cur;
        } else if (s.dir.size() > 2 && can_open(join(s.dir, "keys.map"))) {
            change_dir(s.dir);
        } else {
            bool found = false;
            for (const std::string& d : opt.install_dirs.empty() ? default_install_dirs() : opt.install_dirs) {
                if (can_open(join(d, "keys.map"))) {
                    s.dir = d;
                    change_dir(d);
                    found = true;
                    break;
                }
            }
            if (!found) {
                r.files_missing = true;
                ui.message_box(msg_files_missing);
            }
        }
    }

    // A new configuration starts from the values of configuration "1"; what config.txt just put into its own
    // section still counts (otherwise the import would be overwritten by configuration "1" at the first exit).
    read_values(s, backend, sv.config_name, cur, r.first_start && !begins_with_1(sv.config_name), true);

    if (sv.no_toolbar) s.knap_bar = 0;
    if (!sv.host.empty()) {
        s.host_name = sv.host;
        s.autoconnect = 1;
    }
    if (!sv.port.empty()) {
        int p = command_line_port(sv.port);
        if (p >= 0) s.port = p;
    }
    if (sv.launch.given) apply_launch(s, sv.launch);

    place_window(s, window);
    r.current_dir = cur;
    return r;
}

namespace {

launch_values launch_fields(const Settings& s) {
    return {s.host_name,
            s.port,
            s.autoconnect,
            s.ssh,
            s.ssh_type_1_2,
            s.ssh_user,
            s.ssh_key_file,
            s.termtype,
            s.utf8,
            s.color_fg,
            s.color_bg,
            s.color_bold,
            s.color_cursor,
            s.bold_bright,
            s.scrollback_lines,
            s.alt_meta,
            s.ssh_send_locale,
            s.screen_size,
            s.ssh_keepalive,
            s.ssh_keepalive_max,
            s.ssh_proxy_jump};
}

// Each launch field still at the launch's value goes back to the stored one.
Settings without_launch(const Settings& s) {
    Settings w = s;
    const launch_values& set = s.launch_set;
    const launch_values& kept = s.launch_stored;
    if (w.host_name == set.host_name) w.host_name = kept.host_name;
    if (w.port == set.port) w.port = kept.port;
    if (w.autoconnect == set.autoconnect) w.autoconnect = kept.autoconnect;
    if (w.ssh == set.ssh) w.ssh = kept.ssh;
    if (w.ssh_type_1_2 == set.ssh_type_1_2) w.ssh_type_1_2 = kept.ssh_type_1_2;
    if (w.ssh_user == set.ssh_user) w.ssh_user = kept.ssh_user;
    if (w.ssh_key_file == set.ssh_key_file) w.ssh_key_file = kept.ssh_key_file;
    if (w.termtype == set.termtype) w.termtype = kept.termtype;
    if (w.utf8 == set.utf8) w.utf8 = kept.utf8;
    if (w.color_fg == set.color_fg) w.color_fg = kept.color_fg;
    if (w.color_bg == set.color_bg) w.color_bg = kept.color_bg;
    if (w.color_bold == set.color_bold) w.color_bold = kept.color_bold;
    if (w.color_cursor == set.color_cursor) w.color_cursor = kept.color_cursor;
    if (w.bold_bright == set.bold_bright) w.bold_bright = kept.bold_bright;
    if (w.scrollback_lines == set.scrollback_lines) w.scrollback_lines = kept.scrollback_lines;
    if (w.alt_meta == set.alt_meta) w.alt_meta = kept.alt_meta;
    if (w.ssh_proxy_jump == set.ssh_proxy_jump) w.ssh_proxy_jump = kept.ssh_proxy_jump;
    if (w.ssh_send_locale == set.ssh_send_locale) w.ssh_send_locale = kept.ssh_send_locale;
    if (w.screen_size == set.screen_size) w.screen_size = kept.screen_size;
    if (w.ssh_keepalive == set.ssh_keepalive) w.ssh_keepalive = kept.ssh_keepalive;
    if (w.ssh_keepalive_max == set.ssh_keepalive_max) w.ssh_keepalive_max = kept.ssh_keepalive_max;
    return w;
}

void write_values(const Settings& s, settings_backend& b, const std::string& sec, bool saved_session) {
    for (int n = 0; n < toolbar_row_count; ++n) {
        b.write_int(sec, num_key("newtoolbarused_", n), s.newtoolbar[n].used);
        b.write_int(sec, num_key("newtoolbarpos_", n), s.newtoolbar[n].pos);
        b.write_text(sec, num_key("newtoolbartext_", n), s.newtoolbar[n].text);
    }

    for (const plain_key& k : plain_keys) {
        if (!k.number) continue;
        int v = s.*k.number;
        if (k.number == &Settings::font_pcharset) v &= 0xFF;
        if (k.number == &Settings::scrollback_lines) v = clamp_scrollback(v);
        b.write_int(sec, k.name, v);
    }
    for (const plain_key& k : plain_keys) {
        if (k.text) b.write_text(sec, k.name, s.*k.text);
    }
    for (const text_key& k : map_keys) b.write_text(sec, k.name, s.*k.field);
    b.write_text(sec, "font_name", s.font_name);
    b.write_text(sec, "pfont_name", s.pfont_name);
    // The password is kept only when the user asked for it; a saved session keeps its user name regardless (it
    // came back empty, leaving the next sign-on to the local account's name).
    b.write_text(sec, "ssh_user", s.ssh_default || saved_session ? s.ssh_user : std::string());
    b.write_text(sec, "ssh_password", s.ssh_default ? s.ssh_password : std::string());
    for (int i = 0; i < host_history_count; ++i) b.write_text(sec, host_hist_key(i), s.host_hist[i]);
    b.flush();
}

}  // namespace

void apply_launch(Settings& s, const launch_target& t) {
    s.launch_stored = launch_fields(s);
    s.host_name = t.host;
    s.autoconnect = 1;
    if (t.proto == launch_target::protocol::ssh) {
        s.ssh = 1;
        s.ssh_type_1_2 = 1;
    } else if (t.proto == launch_target::protocol::telnet) {
        s.ssh = 0;
    }
    if (t.port > 0)
        s.port = t.port;
    else if (t.proto != launch_target::protocol::as_stored)
        s.port = t.proto == launch_target::protocol::ssh ? 22 : 23;
    if (!t.user.empty()) s.ssh_user = t.user;
    if (!t.key_file.empty()) s.ssh_key_file = t.key_file;
    // The configuration's jump hosts are the way to its own host, never to another one a launch names.
    if (t.host != s.launch_stored.host_name) s.ssh_proxy_jump.clear();
    // Telnet and a bare host keep the configuration as it is: that is the classic program's way in.
    if (t.proto == launch_target::protocol::ssh) apply_todays_defaults(s);
    s.launch_set = launch_fields(s);
    s.launched = true;
}

void save_settings(Settings& s, settings_backend& b, const StartupValues& sv, settings_window* window) {
    if (!sv.saving_enabled()) return;
    if (s.dir_was_absent) {
        b.write_program_dir(s.dir);
        s.dir_was_absent = false;
    }
    if (window) {
        window_placement p = window->current_placement();
        s.flags = p.flags;
        s.showCmd = p.showCmd;
        s.x1 = p.x1;
        s.y1 = p.y1;
        s.x2 = p.x2;
        s.y2 = p.y2;
        window->collect_toolbar(s.newtoolbar);
    }
    write_configuration(s.launched ? without_launch(s) : s, b, s.config_name);
}

void write_configuration(const Settings& s, settings_backend& b, const std::string& config_name) {
    const std::string sec = config_section(config_name);
    const int placement[] = {s.flags, s.showCmd, s.x1, s.y1, s.x2, s.y2};
    for (int i = 0; i < 6; ++i) b.write_int(sec, placement_keys[i], placement[i]);
    write_values(s, b, sec, config_name != sessions::default_name);
}

void read_configuration(Settings& s, settings_backend& b, const std::string& config_name,
                        const std::string& current_dir, bool password) {
    std::string cur = current_dir;
    if (cur.empty()) {
        std::error_code ec;
        cur = std::filesystem::current_path(ec).string();
        if (ec) cur = ".";
    }
    const bool never_saved =
        b.read_int(config_section(config_name), "color_bg", first_start_probe) == first_start_probe;
    read_values(s, b, config_name, cur, never_saved && !begins_with_1(config_name), password);
}

void switch_configuration(Settings& s, settings_backend& b, const std::string& config_name,
                          const std::string& current_dir) {
    read_configuration(s, b, config_name, current_dir, true);
    s.config_name = config_name;
    // The command line's host and port belonged to the configuration of the start.
    s.launched = false;
}


bool reset_configuration(Settings& s, ui_services& ui, settings_window* window) {
    if (!ui.ask_yes_no(msg_reset_question)) return false;
    const Settings d;
    s.color_fg = 0;
    s.color_bg = 0xFFFF80;
    s.color_cursor = 0x505050;
    s.color_bold = 0x208020;
    s.fontsize = 12;
    s.font_weight = 0;
    s.font_italic = 0;
    copy_fixed(s.font_name, "Courier");
    s.term_size = 80;
    s.termtype = "vt220";
    s.port = 23;
    s.autoconnect = 0;
    s.host_name.clear();
    s.proxy_host = "myproxy";
    s.proxy_port = 1080;
    s.proxy_enable = 0;
    s.proxy_syntax = d.proxy_syntax;
    s.auto_search1.clear();
    s.auto_response1.clear();
    s.auto_search2.clear();
    s.auto_response2.clear();
    s.local_echo = 0;
    s.host_echo = 0;
    s.auto_wrap = 1;
    s.new_line = 0;
    if (window) window->relayout();
    return true;
}
