// VT220 keyboard mapping: key events plus emulator modes to the bytes sent.
#include <gtest/gtest.h>

#include <map>
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
}  // namespace
