#include "view/keymap.h"

#include <algorithm>

namespace {
constexpr std::uint8_t ESC = 0x1b;
constexpr char keypad_finals[11] = {'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'n'};
constexpr int point = 10;

bool app_mode(const key_modes& m) { return m.app_keys && !m.ignore_app; }

int modifier_offset(bool shift, bool ctrl) { return (shift ? 20 : 0) + (ctrl ? 40 : 0); }

// xterm's modifier parameter: 1 + shift 1 + alt 2 + ctrl 4 (Alt reaches the keyboard only when it sends Meta).
int xterm_modifier(bool shift, bool ctrl, bool alt = false) {
    return 1 + (shift ? 1 : 0) + (alt ? 2 : 0) + (ctrl ? 4 : 0);
}

// Meta as xterm's metaSendsEscape: the key's bytes after an ESC.
void prefix_esc(key_bytes& b) {
    if (b.len == 0) return;
    const std::size_t n = std::min(b.len, key_bytes::capacity - 1);
    for (std::size_t i = n; i > 0; --i) b.data[i] = b.data[i - 1];
    b.data[0] = ESC;
    b.len = n + 1;
}

void push_csi(key_bytes& out, const key_modes& m) {
    if (m.c1_8bit && !m.vt100_level) {
        out.push(0x9b);
    } else {
        out.push(ESC);
        out.push('[');
    }
}

void push_ss3(key_bytes& out, const key_modes& m) {
    if (m.c1_8bit && !m.vt100_level) {
        out.push(0x8f);
    } else {
        out.push(ESC);
        out.push('O');
    }
}

void push_number(key_bytes& out, int n) {
    if (n >= 10) push_number(out, n / 10);
    out.push(static_cast<std::uint8_t>('0' + n % 10));
}

// CSI 1 ; m final when modified, else SS3 final or CSI final.
void xterm_letter(key_bytes& out, char final, int mod, bool ss3, const key_modes& m) {
    if (mod > 1) {
        push_csi(out, m);
        out.append("1;");
        push_number(out, mod);
    } else if (ss3) {
        push_ss3(out, m);
    } else {
        push_csi(out, m);
    }
    out.push(static_cast<std::uint8_t>(final));
}

// CSI code ~ or CSI code ; m ~.
void xterm_tilde(key_bytes& out, int code, int mod, const key_modes& m) {
    push_csi(out, m);
    push_number(out, code);
    if (mod > 1) {
        out.push(';');
        push_number(out, mod);
    }
    out.push('~');
}

// F5..F12 (F11 and F12 skip 22 as on the VT220).
constexpr int xterm_f5_codes[8] = {15, 17, 18, 19, 20, 21, 23, 24};

struct stock_entry {
    int slot;
    std::string_view seq;
};
// Kept equal to dist/keys.map (a test compares them).
constexpr stock_entry stock_entries[] = {
    {key_slot::up, "\x1b[A"},
    {key_slot::down, "\x1b[B"},
    {key_slot::right, "\x1b[C"},
    {key_slot::left, "\x1b[D"},
    {key_slot::f1 + 0, "\x1bOP"},
    {key_slot::f1 + 1, "\x1bOQ"},
    {key_slot::f1 + 2, "\x1bOR"},
    {key_slot::f1 + 3, "\x1bOS"},
    {key_slot::f1 + 4, "\x1b[15~"},
    {key_slot::f1 + 5, "\x1b[17~"},
    {key_slot::f1 + 6, "\x1b[18~"},
    {key_slot::f1 + 7, "\x1b[19~"},
    {key_slot::f1 + 8, "\x1b[20~"},
    {key_slot::f1 + 9, "\x1b[21~"},
    {key_slot::f1 + 10, "\x1b[23~"},
    {key_slot::f1 + 11, "\x1b[24~"},
    {key_slot::f1 + 12, "\x1b[25~"},
    {key_slot::f1 + 13, "\x1b[26~"},
    {key_slot::f1 + 14, "\x1b[28~"},
    {key_slot::f1 + 15, "\x1b[29~"},
    {key_slot::f1 + 16, "\x1b[31~"},
    {key_slot::f1 + 17, "\x1b[32~"},
    {key_slot::f1 + 18, "\x1b[33~"},
    {key_slot::f1 + 19, "\x1b[34~"},
    {key_slot::shift_f1 + 0, "\x1b[23~"},
    {key_slot::shift_f1 + 1, "\x1b[24~"},
    {key_slot::shift_f1 + 2, "\x1b[25~"},
    {key_slot::shift_f1 + 3, "\x1b[26~"},
    {key_slot::shift_f1 + 4, "\x1b[28~"},
    {key_slot::shift_f1 + 5, "\x1b[29~"},
    {key_slot::shift_f1 + 6, "\x1b[31~"},
    {key_slot::shift_f1 + 7, "\x1b[32~"},
    {key_slot::shift_f1 + 8, "\x1b[33~"},
    {key_slot::shift_f1 + 9, "\x1b[34~"},
    {key_slot::home, "\x1b[1~"},
    {key_slot::insert, "\x1b[2~"},
    {key_slot::del, "\x1b[3~"},
    {key_slot::end, "\x1b[4~"},
    {key_slot::page_up, "\x1b[5~"},
    {key_slot::page_down, "\x1b[6~"},
    {key_slot::backspace, "\x7f"},
    {key_slot::keypad0 + 0, "0"},
    {key_slot::keypad0 + 1, "1"},
    {key_slot::keypad0 + 2, "2"},
    {key_slot::keypad0 + 3, "3"},
    {key_slot::keypad0 + 4, "4"},
    {key_slot::keypad0 + 5, "5"},
    {key_slot::keypad0 + 6, "6"},
    {key_slot::keypad0 + 7, "7"},
    {key_slot::keypad0 + 8, "8"},
    {key_slot::keypad0 + 9, "9"},
    {key_slot::keypad_point, "."},
    {key_slot::keypad_plus, "+"},
    {key_slot::keypad_minus, "-"},
    {key_slot::keypad_star, "*"},
    {key_slot::keypad_slash, "/"},
    {key_slot::num_lock, "\x1bOP"},
};
}  // namespace

std::string_view stock_key_entry(int slot) {
    for (const stock_entry& e : stock_entries)
        if (e.slot == slot) return e.seq;
    return {};
}

bool keyboard::user_entry(int slot) const {
    const std::string_view s = entry(slot);
    return !s.empty() && s != stock_key_entry(slot);
}

bool keyboard::xterm_function(key_bytes& out, int n, bool shift, bool ctrl, bool alt, const key_modes& m) const {
    if (n < 1 || n > 12) return false;
    if (const int slot = key_slot::f1 + n - 1 + modifier_offset(shift, ctrl); user_entry(slot)) {
        table_entry(out, slot, m);
        if (alt) prefix_esc(out);
        return true;
    }
    const int mod = xterm_modifier(shift, ctrl, alt);
    if (n <= 4)
        xterm_letter(out, static_cast<char>('P' + n - 1), mod, true, m);
    else
        xterm_tilde(out, xterm_f5_codes[n - 5], mod, m);
    return true;
}

bool keyboard::xterm_key(key_bytes& out, const key_down_event& e, bool alt, const key_modes& m) const {
    const int mod = xterm_modifier(e.shift, e.ctrl, alt);
    // The user's own entry is sent as it stands, Meta as its ESC prefix.
    auto user = [&](int slot) {
        table_entry(out, slot, m);
        if (alt) prefix_esc(out);
    };
    // An unmodified cursor key in application mode is built in, as in the VT220 emulation.
    auto cursor = [&](char final, int slot) {
        if (mod == 1 && app_mode(m)) {
            push_ss3(out, m);
            out.push(static_cast<std::uint8_t>(final));
            return true;
        }
        if (user_entry(slot))
            user(slot);
        else
            xterm_letter(out, final, mod, false, m);
        return true;
    };
    auto editing = [&](int code, int slot) {
        if (user_entry(slot))
            user(slot);
        else
            xterm_tilde(out, code, mod, m);
        return true;
    };
    switch (e.key) {
    case vkey::f: return xterm_function(out, e.fnum, e.shift, e.ctrl, alt, m);
    case vkey::up: return cursor('A', key_slot::up);
    case vkey::down: return cursor('B', key_slot::down);
    case vkey::right: return cursor('C', key_slot::right);
    case vkey::left: return cursor('D', key_slot::left);
    case vkey::home: return cursor('H', key_slot::home);
    case vkey::end: return cursor('F', key_slot::end);
    case vkey::insert: return editing(2, key_slot::insert);
    case vkey::del: return editing(3, key_slot::del);
    case vkey::page_up: return editing(5, key_slot::page_up);
    case vkey::page_down: return editing(6, key_slot::page_down);
    default: return false;
    }
}

void keyboard::table_entry(key_bytes& out, int slot, const key_modes& m) const {
    std::string_view s = entry(slot);
    if (!m.vt100_level && m.c1_8bit && s.size() > 2 && s[0] == '\x1b' && s[1] == '[') {
        out.push(0x9b);
        out.append(s.substr(2));
    } else {
        out.append(s);
    }
}

void keyboard::app_keypad(key_bytes& out, char final, const key_modes& m) const {
    if (m.vt52_mode) {
        out.push(ESC);
        out.push('?');
    } else if (m.c1_8bit) {
        out.push(0x8f);
    } else {
        out.push(ESC);
        out.push('O');
    }
    out.push(static_cast<std::uint8_t>(final));
}

void keyboard::cursor_key(key_bytes& out, char final, int slot, const key_modes& m) const {
    if (m.vt52_mode) {
        out.push(ESC);
        out.push(static_cast<std::uint8_t>(final));
    } else if (app_mode(m)) {
        if (m.c1_8bit) {
            out.push(0x8f);
        } else {
            out.push(ESC);
            out.push('O');
        }
        out.push(static_cast<std::uint8_t>(final));
    } else {
        table_entry(out, slot, m);
    }
}

void keyboard::keypad_key(key_bytes& out, int key, const key_modes& m) const {
    if (app_mode(m)) {
        app_keypad(out, keypad_finals[key], m);
        return;
    }
    int slot = key == point ? key_slot::keypad_point : key_slot::keypad0 + key;
    if (!entry(slot).empty())
        table_entry(out, slot, m);
    else
        out.push(key == point ? '.' : static_cast<std::uint8_t>('0' + key));
}

key_action keyboard::local_action(const key_down_event& e, const key_modes& m) const {
    if (e.alt) return key_action::none;
    // The VT220 keeps its written keys (Ctrl+Shift+letter is a control character there, Shift+Insert and
    // Shift+Page are the keys' own codes): the local uses come with the xterm emulation. F10 is never one: while
    // the keyboard is the host's (xterm, or Alt as Meta) full-screen programs need it, and the menus are left
    // to the mouse and to Alt+letter.
    if (!m.xterm) return key_action::none;
    if (e.ctrl && e.shift && e.key == vkey::letter) {
        switch (e.letter) {
        case 'C': return key_action::copy;
        case 'V': return key_action::paste;
        case 'F': return key_action::find;
        default: return key_action::none;
        }
    }
    if (!e.extended || e.ctrl) return key_action::none;
    if (e.shift && e.key == vkey::insert) return key_action::paste;
    // A full-screen program or the user's own Page key entry keeps Shift+Page for the host.
    if (e.shift && !m.alternate_screen) {
        if (e.key == vkey::page_up && !user_entry(key_slot::page_up)) return key_action::page_back;
        if (e.key == vkey::page_down && !user_entry(key_slot::page_down)) return key_action::page_forward;
    }
    return key_action::none;
}

key_result keyboard::key_down(const key_down_event& e, const key_modes& m, bool selection_shown) {
    key_result r;
    if (m.use_cv && e.ctrl && !e.shift && e.key == vkey::letter && e.letter == 'C' && selection_shown) {
        r.action = key_action::copy;
        swallow_ = true;
        return r;
    }
    if (const key_action local = local_action(e, m); local != key_action::none) {
        r.action = local;
        // Ctrl+Shift+letter also makes a character; it must not reach the host.
        swallow_ = e.key == vkey::letter;
        return r;
    }
    const bool alt = e.alt && m.alt_meta;
    key_bytes& b = r.bytes;
    if (m.xterm && !m.vt52_mode && e.extended && xterm_key(b, e, alt, m)) {
        r.action = key_action::send;
        return r;
    }
    switch (e.key) {
    case vkey::f:
        if (e.fnum >= 1 && e.fnum <= 12)
            table_entry(b, key_slot::f1 + e.fnum - 1 + modifier_offset(e.shift, e.ctrl), m);
        break;
    case vkey::up: e.extended ? cursor_key(b, 'A', key_slot::up, m) : keypad_key(b, 8, m); break;
    case vkey::down: e.extended ? cursor_key(b, 'B', key_slot::down, m) : keypad_key(b, 2, m); break;
    case vkey::right: e.extended ? cursor_key(b, 'C', key_slot::right, m) : keypad_key(b, 6, m); break;
    case vkey::left: e.extended ? cursor_key(b, 'D', key_slot::left, m) : keypad_key(b, 4, m); break;
    case vkey::home: e.extended ? table_entry(b, key_slot::home, m) : keypad_key(b, 7, m); break;
    case vkey::end: e.extended ? table_entry(b, key_slot::end, m) : keypad_key(b, 1, m); break;
    case vkey::page_up: e.extended ? table_entry(b, key_slot::page_up, m) : keypad_key(b, 9, m); break;
    case vkey::page_down: e.extended ? table_entry(b, key_slot::page_down, m) : keypad_key(b, 3, m); break;
    case vkey::insert: e.extended ? table_entry(b, key_slot::insert, m) : keypad_key(b, 0, m); break;
    case vkey::del: e.extended ? table_entry(b, key_slot::del, m) : keypad_key(b, point, m); break;
    case vkey::clear: keypad_key(b, 5, m); break;
    case vkey::pause: table_entry(b, key_slot::pause, m); break;
    case vkey::print: table_entry(b, key_slot::print, m); break;
    case vkey::scroll_lock: table_entry(b, key_slot::scroll_lock, m); break;
    case vkey::num_lock:
        if (m.numlock) table_entry(b, key_slot::num_lock, m);
        break;
    case vkey::kp_multiply:
        swallow_ = true;
        if (!entry(key_slot::keypad_star).empty())
            table_entry(b, key_slot::keypad_star, m);
        else
            b.push('*');
        break;
    case vkey::kp_add:
        swallow_ = true;
        if (app_mode(m))
            app_keypad(b, 'l', m);
        else if (!entry(key_slot::keypad_plus).empty())
            table_entry(b, key_slot::keypad_plus, m);
        else
            b.push('+');
        break;
    case vkey::kp_subtract:
        swallow_ = true;
        if (app_mode(m))
            app_keypad(b, 'm', m);
        else if (!entry(key_slot::keypad_minus).empty())
            table_entry(b, key_slot::keypad_minus, m);
        else
            b.push('-');
        break;
    case vkey::kp_divide:
        swallow_ = true;
        if (!entry(key_slot::keypad_slash).empty())
            table_entry(b, key_slot::keypad_slash, m);
        else
            b.push('/');
        break;
    default: break;
    }
    if (alt) prefix_esc(b);
    if (b.len) r.action = key_action::send;
    return r;
}

key_result keyboard::character(const char_event& e, const key_modes& m, bool) {
    key_result r;
    if (m.use_cv && e.ch == 3) {
        // A copy already made on key-down leaves the swallow flag for this character; using it up here keeps
        // the next typed character from being dropped and the selection from being copied twice.
        if (swallow_)
            swallow_ = false;
        else
            r.action = key_action::copy;
        return r;
    }
    if (m.use_cv && e.ch == 22) {
        if (swallow_)
            swallow_ = false;  // Ctrl+Shift+V pasted on key-down
        else
            r.action = key_action::paste;
        return r;
    }
    if (swallow_) {
        swallow_ = false;
        return r;
    }
    key_bytes& b = r.bytes;
    if (e.ch == 8 && e.backspace_key && e.ctrl && m.xterm && !user_entry(key_slot::backspace)) {
        b.push(8);  // xterm's Ctrl+Backspace is the other erase character; the user's own entry wins
    } else if (e.ch == 9 && e.backtab && m.xterm && !m.vt52_mode) {
        push_csi(b, m);  // xterm's back tab (CBT); the VT220 keyboard has only TAB
        b.push('Z');
    } else if (e.ch == 8 && e.backspace_key) {
        std::string_view s = entry(key_slot::backspace);
        if (!s.empty())
            b.append(s);  // sent as stored, never converted to 8-bit
        else
            b.push(0x7f);
    } else if (e.ch == 13) {
        if (e.keypad_enter && app_mode(m)) {
            app_keypad(b, 'M', m);
        } else if (e.keypad_enter && !entry(key_slot::keypad_enter).empty()) {
            b.append(entry(key_slot::keypad_enter));
        } else {
            b.push('\r');
            if (m.new_line_mode) b.push('\n');
            r.echo = m.local_echo;
        }
    } else if (e.ch == 27) {
        b.push(ESC);
    } else {
        if (e.auto_repeat && !m.auto_repeat) return r;
        std::uint8_t c = e.ch;
        if (pctonet_ && pctonet_[c]) c = static_cast<std::uint8_t>(pctonet_[c] & 0xff);
        b.push(c);
        r.echo = m.local_echo;
    }
    if (e.alt && m.alt_meta) prefix_esc(b);
    r.action = key_action::send;
    return r;
}

key_result keyboard::key_up(vkey k, const key_modes& m) {
    key_result r;
    if (k == vkey::print) {
        table_entry(r.bytes, key_slot::print, m);
        if (r.bytes.len) r.action = key_action::send;
    }
    return r;
}

key_result keyboard::function_key(int n, bool shift, bool ctrl, const key_modes& m) {
    key_result r;
    if (n < 1 || n > 20) return r;
    if (m.xterm && !m.vt52_mode && xterm_function(r.bytes, n, shift, ctrl, false, m)) {
        r.action = key_action::send;
        return r;
    }
    table_entry(r.bytes, key_slot::f1 + n - 1 + modifier_offset(shift, ctrl), m);
    if (r.bytes.len) r.action = key_action::send;
    return r;
}
