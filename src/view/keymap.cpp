#include "view/keymap.h"

namespace {
constexpr std::uint8_t ESC = 0x1b;
constexpr char keypad_finals[11] = {'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'n'};
constexpr int point = 10;

bool app_mode(const key_modes& m) { return m.app_keys && !m.ignore_app; }

int modifier_offset(bool shift, bool ctrl) { return (shift ? 20 : 0) + (ctrl ? 40 : 0); }
}  // namespace

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

key_result keyboard::key_down(const key_down_event& e, const key_modes& m, bool selection_shown) {
    key_result r;
    if (m.use_cv && e.ctrl && e.key == vkey::letter && e.letter == 'C' && selection_shown) {
        r.action = key_action::copy;
        swallow_ = true;
        return r;
    }
    key_bytes& b = r.bytes;
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
        r.action = key_action::paste;
        return r;
    }
    if (swallow_) {
        swallow_ = false;
        return r;
    }
    key_bytes& b = r.bytes;
    if (e.ch == 8 && e.backspace_key) {
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
    table_entry(r.bytes, key_slot::f1 + n - 1 + modifier_offset(shift, ctrl), m);
    if (r.bytes.len) r.action = key_action::send;
    return r;
}
