#pragma once
// Key map (keys.map) and character translation maps (pctonet.map, nettopc.map).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr int key_slot_count = 111;
inline constexpr int key_sequence_max = 64;  // a key-map line is at most 60 characters

// Slots: 0-3 Up Down Right Left; 4-23 F1-F20; 24-43 Shift+F1-F20; 44-63 Ctrl+F1-F20; 64-83 Ctrl+Shift+F1-F20;
// 84 Home 85 End 86 PgUp 87 PgDn 88 Insert 89 Delete 90 Backspace 91 ScrollLock 92 Print 93 Pause;
// 94-103 keypad 0-9; 104 keypad Enter 105 keypad point 106 + 107 - 108 * 109 /; 110 NumLock.
struct key_sequence {
    std::uint8_t bytes[key_sequence_max] = {};
    int length = 0;  // 0: empty slot
    std::string_view view() const { return {reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length)}; }
};
using key_table_t = std::array<key_sequence, key_slot_count>;

// 256 entries indexed by byte value; 0 means no translation, otherwise the low 8 bits replace the byte.
using translation_table_t = std::array<std::int32_t, 256>;

namespace key_slot {
inline constexpr int up = 0, down = 1, right = 2, left = 3;
inline constexpr int f1 = 4, shift_f1 = 24, ctrl_f1 = 44, ctrl_shift_f1 = 64;
inline constexpr int home = 84, end = 85, page_up = 86, page_down = 87;
inline constexpr int insert = 88, del = 89, backspace = 90, scroll_lock = 91, print = 92, pause = 93;
inline constexpr int keypad0 = 94, keypad_enter = 104, keypad_point = 105;
inline constexpr int keypad_plus = 106, keypad_minus = 107, keypad_star = 108, keypad_slash = 109, num_lock = 110;
}  // namespace key_slot

// Fills table from the file; false if it cannot be opened (table untouched then).
bool read_key_map(const std::string& path, key_table_t& table);
// Same from text already in memory (split into 79-character reads like the file).
void parse_key_map(std::string_view text, key_table_t& table);
// One read of at most 79 characters, end-of-line included. Returns the slot set, or -1 when the line was ignored.
int parse_key_map_line(std::string_view line, key_table_t& table);
// The slot a key name selects, -1 for none.
int key_slot_of(std::string_view line);
// Decodes a key-map sequence text (backslash + up to three octal digits) into out; returns the byte count.
int decode_key_sequence(std::string_view text, std::uint8_t* out, int cap);

// Fills entries from the file; a file that cannot be opened leaves the table unchanged (returns false).
bool read_translation_map(const std::string& path, translation_table_t& table);
void parse_translation_map(std::string_view text, translation_table_t& table);
bool parse_translation_line(std::string_view line, translation_table_t& table);

// The process-wide tables the view fills at its first connection.
key_table_t& key_table();
translation_table_t& pctonet_table();
translation_table_t& nettopc_table();

// Applies a translation table to one byte.
inline std::uint8_t translate_byte(const translation_table_t& t, std::uint8_t b) {
    return t[b] != 0 ? static_cast<std::uint8_t>(t[b] & 0xFF) : b;
}
