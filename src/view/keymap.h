#pragma once
// VT220 keyboard (xterm's PC-style codes in the xterm emulation): PC key events to the bytes sent to the host. Qt-free so that it can be tested on its own;
// the view turns QKeyEvents into the two events below.
//
// A key press is handled in two steps, as the PC keyboard reports it: key_down() for the key itself, then
// character() for the character it produced (if any). Keys whose bytes key_down() already produced set the
// swallow flag so that their character is not sent a second time.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "config/maps.h"  // key_slot indices

enum class vkey : std::uint8_t {
    none,
    up,
    down,
    right,
    left,
    f,  // function key, number in key_down_event::fnum (1..12)
    home,
    end,
    page_up,
    page_down,
    insert,
    del,
    clear,  // keypad 5 with NumLock off
    pause,
    print,
    scroll_lock,
    num_lock,
    kp_multiply,
    kp_add,
    kp_subtract,
    kp_divide,
    letter,  // a letter key; key_down_event::letter holds it in upper case
    other,
};

struct key_down_event {
    vkey key = vkey::none;
    int fnum = 0;
    bool extended = true;  // false for the keypad's own keys with NumLock off
    bool shift = false;
    bool ctrl = false;
    bool alt = false;  // reaches the keyboard only when the Alt key sends Meta (key_modes::alt_meta)
    char letter = 0;
};

struct char_event {
    std::uint8_t ch = 0;
    bool backspace_key = false;  // character 8 from the Backspace key (not Ctrl+H)
    bool backtab = false;        // character 9 from Shift+Tab
    bool ctrl = false;           // Ctrl held (Ctrl+Backspace)
    bool keypad_enter = false;   // character 13 from the keypad Enter key
    bool auto_repeat = false;
    bool alt = false;  // Alt held: with alt_meta the character goes as ESC and the character
};

// Emulator modes and settings the keyboard looks at.
struct key_modes {
    bool app_keys = false;
    bool vt52_mode = false;
    bool vt100_level = false;
    bool c1_8bit = false;
    bool auto_repeat = true;
    bool new_line_mode = false;
    bool ignore_app = false;
    bool numlock = false;  // NumLock key sends entry 110
    bool use_cv = false;
    bool local_echo = false;
    bool xterm = false;     // xterm emulation: function, cursor and editing keys send xterm's codes with modifiers
    bool alt_meta = false;  // Alt+key sends ESC and the key's bytes
    bool alternate_screen = false;  // a full-screen program's screen: Shift+PageUp/PageDown go to it
};

struct key_bytes {
    static constexpr std::size_t capacity = 256;
    std::uint8_t data[capacity];
    std::size_t len = 0;
    void push(std::uint8_t b) {
        if (len < capacity) data[len++] = b;
    }
    void append(std::string_view s) {
        for (char c : s) push(static_cast<std::uint8_t>(c));
    }
    std::string_view view() const { return {reinterpret_cast<const char*>(data), len}; }
};

// page_back / page_forward: the view scrolls the scroll-back a page; find opens the find bar.
enum class key_action { none, send, copy, paste, page_back, page_forward, find };

struct key_result {
    key_action action = key_action::none;
    key_bytes bytes;
    bool echo = false;  // also feed the bytes to the emulator (local echo)
};


// The VT220 code the shipped keys.map gives a slot (empty for slots it leaves unset). In the xterm emulation an
// entry equal to it is the stock map rather than the user's choice and gives way to xterm's code.
std::string_view stock_key_entry(int slot);

class keyboard {
public:
    // `entry(i)` gives key-table slot i (empty when unset); `pctonet` is the 256-entry outgoing translation
    // table (0 = no translation) or nullptr.
    using table_lookup = std::function<std::string_view(int)>;
    keyboard(table_lookup entry, const std::int32_t* pctonet) : entry_(std::move(entry)), pctonet_(pctonet) {}

    key_result key_down(const key_down_event& e, const key_modes& m, bool selection_shown);
    key_result character(const char_event& e, const key_modes& m, bool selection_shown);
    key_result key_up(vkey k, const key_modes& m);
    // Toolbar function-key command Fn (n = 1..20).
    key_result function_key(int n, bool shift, bool ctrl, const key_modes& m);

    bool swallow() const { return swallow_; }
    void set_pctonet(const std::int32_t* t) { pctonet_ = t; }

private:
    void table_entry(key_bytes& out, int slot, const key_modes& m) const;
    void app_keypad(key_bytes& out, char final, const key_modes& m) const;
    void cursor_key(key_bytes& out, char final, int slot, const key_modes& m) const;
    void keypad_key(key_bytes& out, int digit_or_point, const key_modes& m) const;
    // xterm's code for an extended key, or the user's own key-map entry for it; false when xterm has no code.
    bool xterm_key(key_bytes& out, const key_down_event& e, bool alt, const key_modes& m) const;
    bool xterm_function(key_bytes& out, int n, bool shift, bool ctrl, bool alt, const key_modes& m) const;
    // The terminal's own keys that never reach the host: copy, paste, find, paging the scroll-back.
    key_action local_action(const key_down_event& e, const key_modes& m) const;
    bool user_entry(int slot) const;
    std::string_view entry(int slot) const { return entry_ ? entry_(slot) : std::string_view{}; }

    table_lookup entry_;
    const std::int32_t* pctonet_;
    bool swallow_ = false;
};
