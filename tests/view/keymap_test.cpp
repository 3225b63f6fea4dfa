// Keyboard mapping (VT220, and xterm's codes in the xterm emulation): key events plus emulator modes to the bytes
// sent.
#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <string>

#include "view/keymap.h"

namespace {
using namespace std::string_literals;

struct fixture : ::testing::Test {
    std::map<int, std::string> table;
    std::int32_t pctonet[256] = {};
    keyboard kb{[this](int i) -> std::string_view {
                    auto it = table.find(i);
                    return it == table.end() ? std::string_view{} : std::string_view{it->second};
                },
                pctonet};
    key_modes m;

    std::string down(vkey k, bool extended = true, bool shift = false, bool ctrl = false, int fnum = 0,
                     char letter = 0) {
        key_down_event e;
        e.key = k;
        e.extended = extended;
        e.shift = shift;
        e.ctrl = ctrl;
        e.fnum = fnum;
        e.letter = letter;
        return std::string(kb.key_down(e, m, false).bytes.view());
    }
    std::string chr(std::uint8_t c, bool backspace = false, bool kp_enter = false, bool repeat = false) {
        char_event e;
        e.ch = c;
        e.backspace_key = backspace;
        e.keypad_enter = kp_enter;
        e.auto_repeat = repeat;
        return std::string(kb.character(e, m, false).bytes.view());
    }
    // A whole key press as the view delivers it: key-down, then the character.
    std::string press(vkey k, std::uint8_t c, bool extended = true) {
        std::string out = down(k, extended);
        return out + chr(c);
    }
};

TEST_F(fixture, CursorKeysFollowModes) {
    table[key_slot::up] = "\x1b[A";
    EXPECT_EQ(down(vkey::up), "\x1b[A");
    m.app_keys = true;
    EXPECT_EQ(down(vkey::up), "\x1bOA");
    m.c1_8bit = true;
    EXPECT_EQ(down(vkey::up), "\x8f"
                              "A");
    m.ignore_app = true;
    EXPECT_EQ(down(vkey::up), "\x9b"
                              "A")
        << "the table entry, converted to 8-bit";
    m.vt52_mode = true;
    EXPECT_EQ(down(vkey::up), "\x1b"
                              "A");
    EXPECT_EQ(down(vkey::left), "\x1b"
                                "D");
}

TEST_F(fixture, KeypadWithNumLockOffAndApplicationKeypad) {
    // Keypad 5 (Clear) without a table entry sends the digit, with one the entry.
    EXPECT_EQ(down(vkey::clear, false), "5");
    table[key_slot::keypad0 + 5] = "<5>";
    EXPECT_EQ(down(vkey::clear, false), "<5>");
    // A keypad arrow (not extended) is keypad 8, not the cursor key.
    EXPECT_EQ(down(vkey::up, false), "8");
    EXPECT_EQ(down(vkey::del, false), ".");
    m.app_keys = true;
    EXPECT_EQ(down(vkey::clear, false), "\x1bOu");
    EXPECT_EQ(down(vkey::del, false), "\x1bOn");
    EXPECT_EQ(down(vkey::insert, false), "\x1bOp");
    m.vt52_mode = true;
    EXPECT_EQ(down(vkey::clear, false), "\x1b?u");
}

TEST_F(fixture, EightBitConversionOfTableEntries) {
    table[key_slot::f1 + 5] = "\x1b[17~";
    m.c1_8bit = true;
    EXPECT_EQ(down(vkey::f, true, false, false, 6), "\x9b"
                                                    "17~");
    m.vt100_level = true;
    EXPECT_EQ(down(vkey::f, true, false, false, 6), "\x1b[17~");
    // Short entries and entries not starting with CSI stay as stored.
    m.vt100_level = false;
    table[key_slot::f1] = "\x1b[";
    EXPECT_EQ(down(vkey::f, true, false, false, 1), "\x1b[");
    table[key_slot::f1 + 1] = "\x1bOQ";
    EXPECT_EQ(down(vkey::f, true, false, false, 2), "\x1bOQ");
}

TEST_F(fixture, FunctionKeyModifierSlots) {
    table[key_slot::f1 + 9] = "F10";
    table[key_slot::shift_f1 + 9] = "S-F10";
    table[key_slot::ctrl_f1 + 9] = "C-F10";
    table[key_slot::ctrl_shift_f1 + 9] = "CS-F10";
    EXPECT_EQ(down(vkey::f, true, false, false, 10), "F10");
    EXPECT_EQ(down(vkey::f, true, true, false, 10), "S-F10");
    EXPECT_EQ(down(vkey::f, true, false, true, 10), "C-F10");
    EXPECT_EQ(down(vkey::f, true, true, true, 10), "CS-F10");
    // The toolbar reaches F13..F20 and takes the same modifier slots.
    table[key_slot::f1 + 19] = "F20";
    table[key_slot::shift_f1 + 12] = "S-F13";
    EXPECT_EQ(kb.function_key(20, false, false, m).bytes.view(), "F20");
    EXPECT_EQ(kb.function_key(13, true, false, m).bytes.view(), "S-F13");
    EXPECT_EQ(kb.function_key(21, false, false, m).action, key_action::none);
}

TEST_F(fixture, KeypadOperatorsSendOnce) {
    EXPECT_EQ(press(vkey::kp_add, '+', false), "+");
    EXPECT_EQ(press(vkey::kp_add, '+', true), "+");
    EXPECT_EQ(press(vkey::kp_multiply, '*'), "*");
    EXPECT_EQ(press(vkey::kp_divide, '/'), "/");
    // The swallow flag is used up: the next typed character goes through.
    EXPECT_EQ(chr('a'), "a");
    m.app_keys = true;
    EXPECT_EQ(press(vkey::kp_add, '+'), "\x1bOl");
    EXPECT_EQ(press(vkey::kp_subtract, '-'), "\x1bOm");
    table[key_slot::keypad_star] = "STAR";
    EXPECT_EQ(press(vkey::kp_multiply, '*'), "STAR");
}

TEST_F(fixture, ReturnEnterAndNewLineMode) {
    EXPECT_EQ(chr(13), "\r");
    m.new_line_mode = true;
    EXPECT_EQ(chr(13), "\r\n");
    m.app_keys = true;
    EXPECT_EQ(chr(13, false, true), "\x1bOM") << "keypad Enter in application keypad mode";
    m.app_keys = false;
    table[key_slot::keypad_enter] = "\x1b[X";
    m.c1_8bit = true;
    EXPECT_EQ(chr(13, false, true), "\x1b[X") << "keypad Enter entry is sent as stored";
    EXPECT_EQ(chr(13, false, false), "\r\n");
}

TEST_F(fixture, BackspaceAndCtrlH) {
    EXPECT_EQ(chr(8, true), "\x7f");
    EXPECT_EQ(chr(8, false), "\x08");
    table[key_slot::backspace] = "\x1b[3~";
    m.c1_8bit = true;
    EXPECT_EQ(chr(8, true), "\x1b[3~") << "sent without 8-bit conversion";
}

TEST_F(fixture, CtrlCAndCtrlVMode) {
    EXPECT_EQ(chr(3), "\x03");
    m.use_cv = true;
    char_event c;
    c.ch = 3;
    auto r = kb.character(c, m, false);
    EXPECT_EQ(r.action, key_action::copy);
    EXPECT_EQ(r.bytes.len, 0u);
    c.ch = 22;
    EXPECT_EQ(kb.character(c, m, false).action, key_action::paste);
    // With a selection shown, key-down of Ctrl+C copies and the character is swallowed.
    key_down_event d;
    d.key = vkey::letter;
    d.letter = 'C';
    d.ctrl = true;
    EXPECT_EQ(kb.key_down(d, m, true).action, key_action::copy);
    EXPECT_TRUE(kb.swallow());
    // Its character 3 follows: no second copy, nothing sent, and the next typed key is not lost.
    c.ch = 3;
    r = kb.character(c, m, false);
    EXPECT_EQ(r.action, key_action::none);
    EXPECT_EQ(r.bytes.len, 0u);
    EXPECT_EQ(chr('a'), "a");
}

TEST_F(fixture, AutoRepeatTranslationAndEcho) {
    EXPECT_EQ(chr('x', false, false, true), "x");
    m.auto_repeat = false;
    EXPECT_EQ(chr('x', false, false, true), "") << "repeat dropped while the host switched it off";
    EXPECT_EQ(chr('x'), "x");
    pctonet[static_cast<unsigned char>('x')] = 'y';
    pctonet[0xe9] = 0x182;  // only the low byte counts
    EXPECT_EQ(chr('x'), "y");
    EXPECT_EQ(chr(0xe9), "\x82");
    m.local_echo = true;
    char_event c;
    c.ch = 'a';
    EXPECT_TRUE(kb.character(c, m, false).echo);
    c.ch = 27;
    auto r = kb.character(c, m, false);
    EXPECT_EQ(r.bytes.view(), "\x1b");
    EXPECT_FALSE(r.echo) << "Escape is never echoed";
}

TEST_F(fixture, SpecialKeysAndPrintRelease) {
    table[key_slot::home] = "H";
    table[key_slot::print] = "P";
    table[key_slot::num_lock] = "N";
    EXPECT_EQ(down(vkey::home), "H");
    EXPECT_EQ(down(vkey::num_lock), "") << "NumLock sends only with the numlock setting";
    m.numlock = true;
    EXPECT_EQ(down(vkey::num_lock), "N");
    EXPECT_EQ(kb.key_up(vkey::print, m).bytes.view(), "P");
    EXPECT_EQ(kb.key_up(vkey::home, m).action, key_action::none);
    EXPECT_EQ(down(vkey::page_down), "") << "unset entries send nothing";
}

// xterm emulation --------------------------------------------------------------------------------------------------

key_table_t shipped_key_map() {
    key_table_t t{};
    EXPECT_TRUE(read_key_map(std::string(SOURCE_DIR) + "/dist/keys.map", t));
    return t;
}

struct xterm_fixture : fixture {
    xterm_fixture() { m.xterm = true; }
    std::string key(vkey k, bool shift = false, bool ctrl = false, int fnum = 0) {
        return down(k, true, shift, ctrl, fnum);
    }
    void load(const key_table_t& t) {
        table.clear();
        for (int i = 0; i < key_slot_count; ++i)
            if (t[i].length) table[i] = std::string(t[i].view());
    }
};

struct xterm_case {
    vkey key;
    int fnum;
    bool shift, ctrl, app;
    std::string want;
};

const xterm_case xterm_cases[] = {
    {vkey::f, 1, false, false, false, "\x1bOP"},
    {vkey::f, 2, false, false, false, "\x1bOQ"},
    {vkey::f, 3, false, false, true, "\x1bOR"},
    {vkey::f, 4, false, false, false, "\x1bOS"},
    {vkey::f, 1, true, false, false, "\x1b[1;2P"},
    {vkey::f, 2, false, true, false, "\x1b[1;5Q"},
    {vkey::f, 4, true, true, false, "\x1b[1;6S"},
    {vkey::f, 5, false, false, false, "\x1b[15~"},
    {vkey::f, 6, false, false, false, "\x1b[17~"},
    {vkey::f, 7, false, false, false, "\x1b[18~"},
    {vkey::f, 8, false, false, false, "\x1b[19~"},
    {vkey::f, 9, false, false, false, "\x1b[20~"},
    {vkey::f, 10, false, false, false, "\x1b[21~"},
    {vkey::f, 11, false, false, false, "\x1b[23~"},
    {vkey::f, 12, false, false, false, "\x1b[24~"},
    {vkey::f, 5, true, false, false, "\x1b[15;2~"},
    {vkey::f, 10, true, false, false, "\x1b[21;2~"},
    {vkey::f, 12, false, true, false, "\x1b[24;5~"},
    {vkey::f, 11, true, true, false, "\x1b[23;6~"},
    {vkey::up, 0, false, false, false, "\x1b[A"},
    {vkey::down, 0, false, false, false, "\x1b[B"},
    {vkey::right, 0, false, false, false, "\x1b[C"},
    {vkey::left, 0, false, false, false, "\x1b[D"},
    {vkey::up, 0, false, false, true, "\x1bOA"},
    {vkey::left, 0, false, false, true, "\x1bOD"},
    {vkey::up, 0, true, false, false, "\x1b[1;2A"},
    {vkey::up, 0, true, false, true, "\x1b[1;2A"},
    {vkey::left, 0, false, true, false, "\x1b[1;5D"},
    {vkey::right, 0, true, true, true, "\x1b[1;6C"},
    {vkey::home, 0, false, false, false, "\x1b[H"},
    {vkey::end, 0, false, false, false, "\x1b[F"},
    {vkey::home, 0, false, false, true, "\x1bOH"},
    {vkey::end, 0, false, false, true, "\x1bOF"},
    {vkey::home, 0, true, false, false, "\x1b[1;2H"},
    {vkey::end, 0, false, true, true, "\x1b[1;5F"},
    {vkey::insert, 0, false, false, false, "\x1b[2~"},
    {vkey::del, 0, false, false, false, "\x1b[3~"},
    {vkey::page_up, 0, false, false, false, "\x1b[5~"},
    {vkey::page_down, 0, false, false, true, "\x1b[6~"},
    {vkey::page_up, 0, true, false, false, "\x1b[5;2~"},
    {vkey::page_down, 0, true, false, false, "\x1b[6;2~"},
    {vkey::del, 0, false, true, false, "\x1b[3;5~"},
    {vkey::insert, 0, true, true, false, "\x1b[2;6~"},
};

std::string printable(std::string_view s) {
    std::string out;
    for (char c : s) out += c == '\x1b' ? std::string("ESC") : std::string(1, c);
    return out;
}

TEST_F(xterm_fixture, KeysSendXtermCodesWithAnEmptyOrTheShippedKeyMap) {
    m.alternate_screen = true;  // where Shift+PageUp/PageDown go to the host
    for (bool shipped : {false, true}) {
        if (shipped) load(shipped_key_map());
        for (const xterm_case& c : xterm_cases) {
            m.app_keys = c.app;
            EXPECT_EQ(printable(key(c.key, c.shift, c.ctrl, c.fnum)), printable(c.want))
                << "key " << int(c.key) << " F" << c.fnum << " shift " << c.shift << " ctrl " << c.ctrl << " app "
                << c.app << (shipped ? " with the shipped map" : " with an empty map");
        }
    }
}

TEST_F(xterm_fixture, ToolbarFunctionKeysMatchTheKeyboard) {
    load(shipped_key_map());
    EXPECT_EQ(printable(kb.function_key(1, false, false, m).bytes.view()), "ESCOP");
    EXPECT_EQ(printable(kb.function_key(5, true, false, m).bytes.view()), "ESC[15;2~");
    EXPECT_EQ(printable(kb.function_key(12, true, true, m).bytes.view()), "ESC[24;6~");
    // Beyond F12 xterm has no PC-style code of its own: the key map's entry is sent.
    EXPECT_EQ(printable(kb.function_key(13, false, false, m).bytes.view()), "ESC[25~");
}

TEST_F(xterm_fixture, TheUsersOwnEntryWins) {
    load(shipped_key_map());
    table[key_slot::home] = "HOME";
    table[key_slot::shift_f1 + 4] = "S-F5";
    table[key_slot::page_down] = "\x1b[6;9~";
    table[key_slot::up] = "UP";
    EXPECT_EQ(key(vkey::home), "HOME");
    EXPECT_EQ(key(vkey::home, false, true), "HOME") << "one entry serves the key with any modifier";
    EXPECT_EQ(key(vkey::f, true, false, 5), "S-F5");
    EXPECT_EQ(printable(key(vkey::f, false, false, 5)), "ESC[15~") << "the unshifted key keeps xterm's code";
    EXPECT_EQ(printable(key(vkey::page_down)), "ESC[6;9~");
    EXPECT_EQ(key(vkey::up), "UP");
    m.app_keys = true;
    EXPECT_EQ(printable(key(vkey::up)), "ESCOA") << "application cursor mode is built in";
    EXPECT_EQ(key(vkey::up, true), "UP");
}

TEST_F(xterm_fixture, EightBitControlsVt52AndTheKeypad) {
    m.c1_8bit = true;
    EXPECT_EQ(key(vkey::f, false, false, 1), "\x8fP");
    EXPECT_EQ(key(vkey::f, false, false, 5), "\x9b"
                                             "15~");
    EXPECT_EQ(key(vkey::up, true), "\x9b"
                                   "1;2A");
    m.vt100_level = true;
    EXPECT_EQ(printable(key(vkey::f, false, false, 5)), "ESC[15~") << "a VT100-level host gets 7-bit codes";
    m.c1_8bit = m.vt100_level = false;
    m.vt52_mode = true;
    EXPECT_EQ(printable(key(vkey::up, true)), "ESCA") << "VT52 mode keeps its own cursor keys";
    m.vt52_mode = false;
    // The keypad's own keys with NumLock off stay keypad keys.
    EXPECT_EQ(down(vkey::up, false), "8");
    EXPECT_EQ(down(vkey::page_up, false, true), "9");
}

TEST_F(xterm_fixture, Vt220EmulationKeepsTheKeyMapCodes) {
    load(shipped_key_map());
    m.xterm = false;
    EXPECT_EQ(printable(key(vkey::home)), "ESC[1~");
    EXPECT_EQ(printable(key(vkey::end, false, true)), "ESC[4~");
    EXPECT_EQ(printable(key(vkey::f, true, false, 1)), "ESC[23~");
    EXPECT_EQ(printable(key(vkey::up, true)), "ESC[A");
    EXPECT_EQ(key(vkey::f, false, true, 1), "") << "Ctrl+F1 has no entry";
}

TEST(StockKeyEntries, MatchTheShippedKeyMap) {
    const key_table_t t = shipped_key_map();
    for (int i = 0; i < key_slot_count; ++i)
        EXPECT_EQ(printable(stock_key_entry(i)), printable(t[i].view())) << "slot " << i;
    EXPECT_EQ(stock_key_entry(-1), "");
    EXPECT_EQ(stock_key_entry(key_slot_count), "");
}

// Shift+Tab and Ctrl+Backspace: xterm's codes in the xterm emulation, the classic keys in the classic VT220 mode; a
// Backspace entry of the user's own is what Ctrl+Backspace sends too.
struct tab_backspace_case {
    const char* name;
    bool xterm, c1_8bit, vt52;
    const char* user_backspace;  // nullptr: the shipped map's entry; "": no entry
    std::uint8_t ch;
    bool backtab, backspace_key, ctrl, meta;
    std::string want;
};
const tab_backspace_case tab_backspace_cases[] = {
    {"VT220 Shift+Tab", false, false, false, nullptr, 9, true, false, false, false, "\t"},
    {"xterm Shift+Tab", true, false, false, nullptr, 9, true, false, false, false, "\x1b[Z"},
    {"xterm Shift+Tab 8-bit", true, true, false, nullptr, 9, true, false, false, false, "\x9bZ"},
    {"xterm VT52 Shift+Tab", true, false, true, nullptr, 9, true, false, false, false, "\t"},
    {"xterm Tab", true, false, false, nullptr, 9, false, false, false, false, "\t"},
    {"xterm Meta Shift+Tab", true, false, false, nullptr, 9, true, false, false, true, "\x1b\x1b[Z"},
    {"VT220 Ctrl+Backspace", false, false, false, nullptr, 8, false, true, true, false, "\x7f"},
    {"xterm Backspace", true, false, false, nullptr, 8, false, true, false, false, "\x7f"},
    {"xterm Ctrl+Backspace", true, false, false, nullptr, 8, false, true, true, false, "\x08"},
    {"xterm Ctrl+Backspace, no map", true, false, false, "", 8, false, true, true, false, "\x08"},
    {"xterm Ctrl+Backspace, user map", true, false, false, "\x1b[3~", 8, false, true, true, false, "\x1b[3~"},
    {"xterm Backspace, user map", true, false, false, "\x1b[3~", 8, false, true, false, false, "\x1b[3~"},
    {"xterm Meta Ctrl+Backspace", true, false, false, nullptr, 8, false, true, true, true, "\x1b\x08"},
    {"xterm Ctrl+H", true, false, false, nullptr, 8, false, false, true, false, "\x08"},
};

TEST_F(xterm_fixture, ShiftTabAndCtrlBackspace) {
    for (const tab_backspace_case& c : tab_backspace_cases) {
        SCOPED_TRACE(c.name);
        load(shipped_key_map());
        if (c.user_backspace) table[key_slot::backspace] = c.user_backspace;
        m.xterm = c.xterm;
        m.c1_8bit = c.c1_8bit;
        m.vt52_mode = c.vt52;
        m.alt_meta = c.meta;
        char_event e;
        e.ch = c.ch;
        e.backtab = c.backtab;
        e.backspace_key = c.backspace_key;
        e.ctrl = c.ctrl;
        e.alt = c.meta;
        EXPECT_EQ(std::string(kb.character(e, m, false).bytes.view()), c.want);
    }
}

// Keys the terminal keeps for itself, in both emulations, with the shipped map.
struct local_case {
    vkey key;
    char letter;
    bool shift, ctrl, alt_meta, alternate;
    key_action want;
};
const local_case local_cases[] = {
    {vkey::letter, 'C', true, true, false, false, key_action::copy},
    {vkey::letter, 'V', true, true, false, false, key_action::paste},
    {vkey::letter, 'F', true, true, false, false, key_action::find},
    {vkey::insert, 0, true, false, false, false, key_action::paste},
    {vkey::insert, 0, true, false, false, true, key_action::paste},
    {vkey::page_up, 0, true, false, false, false, key_action::page_back},
    {vkey::page_down, 0, true, false, false, false, key_action::page_forward},
    {vkey::page_up, 0, true, false, false, true, key_action::send},  // a full-screen program gets them
    {vkey::page_down, 0, true, false, false, true, key_action::send},
    {vkey::page_up, 0, false, false, false, false, key_action::send},
    {vkey::page_up, 0, true, true, false, false, key_action::send},
    {vkey::insert, 0, false, false, false, false, key_action::send},
    {vkey::insert, 0, true, true, false, false, key_action::send},
    {vkey::letter, 'C', false, true, false, false, key_action::none},  // Ctrl+C is the character step's
    {vkey::letter, 'B', true, true, false, false, key_action::none},
    // F10 is the host's with Alt as Meta too: htop and mc are left with it.
    {vkey::f, 0, false, false, true, false, key_action::send},
    {vkey::f, 0, false, false, false, false, key_action::send},
    {vkey::f, 0, true, false, true, false, key_action::send},
};

TEST_F(xterm_fixture, LocalKeysTakeNothingFromTheHostUnlessTheyMust) {
    load(shipped_key_map());
    for (bool xterm : {false, true}) {
        m.xterm = xterm;
        for (const local_case& c : local_cases) {
            m.alt_meta = c.alt_meta;
            m.alternate_screen = c.alternate;
            key_down_event e;
            e.key = c.key;
            e.letter = c.letter;
            e.fnum = c.key == vkey::f ? 10 : 0;
            e.shift = c.shift;
            e.ctrl = c.ctrl;
            const key_result r = kb.key_down(e, m, false);
            // The VT220 takes none of these keys locally.
            const bool local = c.want != key_action::send && c.want != key_action::none;
            if (!xterm && local) {
                EXPECT_NE(int(r.action), int(c.want)) << "key " << int(c.key) << " " << (c.letter ? c.letter : ' ');
                chr(0);
                continue;
            }
            EXPECT_EQ(int(r.action), int(c.want))
                << "key " << int(c.key) << " " << (c.letter ? c.letter : ' ') << " shift " << c.shift << " ctrl "
                << c.ctrl << " meta " << c.alt_meta << " alternate " << c.alternate << " xterm " << xterm;
            if (c.want != key_action::send) {
                EXPECT_EQ(r.bytes.len, 0u);
            }
            chr(0);  // uses up any swallow flag
        }
    }
}

TEST_F(xterm_fixture, CtrlShiftLettersSendNoCharacter) {
    for (bool use_cv : {false, true}) {
        m.use_cv = use_cv;
        for (auto [letter, ch] : {std::pair{'C', 3}, std::pair{'V', 22}, std::pair{'F', 6}}) {
            key_down_event e;
            e.key = vkey::letter;
            e.letter = letter;
            e.shift = e.ctrl = true;
            EXPECT_NE(kb.key_down(e, m, true).action, key_action::send);
            char_event ce;
            ce.ch = static_cast<std::uint8_t>(ch);
            EXPECT_EQ(kb.character(ce, m, true).action, key_action::none) << letter << " use_cv " << use_cv;
            EXPECT_EQ(chr('x'), "x") << "the next character is not swallowed";
        }
    }
}

TEST_F(xterm_fixture, UsersOwnPageEntryKeepsShiftPageForTheHost) {
    load(shipped_key_map());
    table[key_slot::page_up] = "PGUP";
    key_down_event e;
    e.key = vkey::page_up;
    e.shift = true;
    for (bool xterm : {false, true}) {
        m.xterm = xterm;
        EXPECT_EQ(kb.key_down(e, m, false).bytes.view(), "PGUP");
    }
    e.key = vkey::page_down;
    EXPECT_EQ(kb.key_down(e, m, false).action, key_action::page_forward);
}

// Alt with alt_meta: ESC and the key's bytes; xterm's modified codes where it has them.
struct meta_case {
    bool xterm;
    vkey key;
    int fnum;
    bool shift, ctrl, app;
    std::string want;
};
const meta_case meta_keys[] = {
    {true, vkey::up, 0, false, false, false, "ESC[1;3A"},
    {true, vkey::up, 0, false, false, true, "ESC[1;3A"},  // modified: no SS3 form
    {true, vkey::left, 0, true, false, false, "ESC[1;4D"},
    {true, vkey::right, 0, false, true, false, "ESC[1;7C"},
    {true, vkey::home, 0, false, false, false, "ESC[1;3H"},
    {true, vkey::del, 0, false, false, false, "ESC[3;3~"},
    {true, vkey::page_up, 0, false, false, false, "ESC[5;3~"},
    {true, vkey::f, 1, false, false, false, "ESC[1;3P"},
    {true, vkey::f, 5, true, false, false, "ESC[15;4~"},
    {false, vkey::up, 0, false, false, false, "ESCESC[A"},
    {false, vkey::up, 0, false, false, true, "ESCESCOA"},
    {false, vkey::home, 0, false, false, false, "ESCESC[1~"},
    {false, vkey::f, 1, false, false, false, "ESCESCOP"},
    {false, vkey::f, 2, false, true, false, ""},  // Ctrl+F2 has no entry: no lone ESC
};

TEST_F(xterm_fixture, AltSendsMetaWhenAsked) {
    load(shipped_key_map());
    m.alt_meta = true;
    for (const meta_case& c : meta_keys) {
        m.xterm = c.xterm;
        m.app_keys = c.app;
        key_down_event e;
        e.key = c.key;
        e.fnum = c.fnum;
        e.shift = c.shift;
        e.ctrl = c.ctrl;
        e.alt = true;
        EXPECT_EQ(printable(kb.key_down(e, m, false).bytes.view()), c.want)
            << "key " << int(c.key) << " F" << c.fnum << " xterm " << c.xterm << " app " << c.app;
    }
    m.xterm = true;
    m.app_keys = false;
    table[key_slot::end] = "END";
    key_down_event e;
    e.key = vkey::end;
    e.alt = true;
    EXPECT_EQ(printable(kb.key_down(e, m, false).bytes.view()), "ESCEND") << "the user's entry after ESC";
}

TEST_F(xterm_fixture, AltCharactersGoAfterAnEscape) {
    load(shipped_key_map());
    auto alt_chr = [&](std::uint8_t c, bool backspace = false) {
        char_event e;
        e.ch = c;
        e.backspace_key = backspace;
        e.alt = true;
        return printable(kb.character(e, m, false).bytes.view());
    };
    for (bool xterm : {false, true}) {
        m.xterm = xterm;
        m.alt_meta = true;
        EXPECT_EQ(alt_chr('b'), "ESCb");
        EXPECT_EQ(alt_chr('F'), "ESCF") << "Alt+Shift+f";
        EXPECT_EQ(alt_chr(8, true), "ESC\x7f") << "Alt+Backspace: ESC and what Backspace sends";
        EXPECT_EQ(alt_chr('\r'), "ESC\r");
        EXPECT_EQ(alt_chr(2), "ESC\x02") << "Alt+Ctrl+b";
        table[key_slot::backspace] = "\b";
        EXPECT_EQ(alt_chr(8, true), "ESC\b");
        table[key_slot::backspace] = "\x7f";
        m.alt_meta = false;
        EXPECT_EQ(alt_chr('b'), "b") << "without alt_meta Alt adds nothing";
    }
    // Alt reaches key_down only with alt_meta; without it the flag is ignored.
    m.xterm = true;
    key_down_event e;
    e.key = vkey::up;
    e.alt = true;
    EXPECT_EQ(printable(kb.key_down(e, m, false).bytes.view()), "ESC[A");
}
}  // namespace
