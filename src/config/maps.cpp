#include "config/maps.h"

#include <cstdio>
#include <memory>

#include "config/escape.h"
#include "config/text_scan.h"

namespace {
struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool ends_sequence(unsigned char c) { return c == ' ' || c == '\t' || c < 0x20 || c == 0x7F || c >= 0x80; }

// n of F1..F20 at line[at] (and line[at+1]): one digit followed by a blank, or two digits. -1 when malformed.
int function_number(std::string_view line, std::size_t at) {
    if (line.size() <= at + 1 || !is_digit(line[at])) return -1;
    int n;
    if (is_digit(line[at + 1])) {
        n = (line[at] - '0') * 10 + (line[at + 1] - '0');
    } else if (is_blank(line[at + 1])) {
        n = line[at] - '0';
    } else {
        return -1;
    }
    return n >= 1 && n <= 20 ? n : -1;
}

char at(std::string_view s, std::size_t i) { return i < s.size() ? s[i] : '\0'; }
}  // namespace

int key_slot_of(std::string_view line) {
    int n;
    switch (at(line, 0)) {
    case 'U': return key_slot::up;
    case 'D': return at(line, 1) == 'O' ? key_slot::down : key_slot::del;
    case 'R': return key_slot::right;
    case 'L': return key_slot::left;
    case 'f': return (n = function_number(line, 1)) < 0 ? -1 : 3 + n;
    case 'F': return (n = function_number(line, 1)) < 0 ? -1 : 23 + n;
    case 'c': return line.size() < 2 || (n = function_number(line, 2)) < 0 ? -1 : 43 + n;
    case 'C': return line.size() < 2 || (n = function_number(line, 2)) < 0 ? -1 : 63 + n;
    case 'H': return key_slot::home;
    case 'E': return key_slot::end;
    case 'I': return key_slot::insert;
    case 'B': return key_slot::backspace;
    case 'S': return key_slot::scroll_lock;
    case 'N': return key_slot::num_lock;
    case 'P':
        switch (at(line, 1)) {
        case 'G': return at(line, 2) == 'U' ? key_slot::page_up : key_slot::page_down;
        case 'R': return key_slot::print;
        case 'A': return key_slot::pause;
        default: return -1;
        }
    case 'K': {
        if (line.size() < 7) return -1;
        char c = line[6];
        if (is_digit(c)) return key_slot::keypad0 + (c - '0');
        switch (c) {
        case 'E': return key_slot::keypad_enter;
        case 'D': return key_slot::keypad_point;
        case '+': return key_slot::keypad_plus;
        case '-': return key_slot::keypad_minus;
        case '*': return key_slot::keypad_star;
        case '/': return key_slot::keypad_slash;
        default: return -1;
        }
    }
    default: return -1;
    }
}

int decode_key_sequence(std::string_view text, std::uint8_t* out, int cap) {
    // Same escape rule as settings texts; a sequence longer than its slot is cut.
    if (cap <= 0) return 0;
    return static_cast<int>(decode_escapes(text, out, static_cast<std::size_t>(cap)).count);
}

int parse_key_map_line(std::string_view line, key_table_t& table) {
    if (line.empty() || line.size() > 60) return -1;
    unsigned char first = static_cast<unsigned char>(line[0]);
    if (first == ' ' || first < 0x20 || first == 0x7F || first >= 0x80 || first == '#') return -1;
    int slot = key_slot_of(line);
    if (slot < 0) return -1;

    std::size_t p = 0;
    while (p < line.size() && !is_blank(line[p])) ++p;
    while (p < line.size() && is_blank(line[p])) ++p;
    std::size_t e = p;
    while (e < line.size() && !ends_sequence(static_cast<unsigned char>(line[e]))) ++e;

    key_sequence& k = table[static_cast<std::size_t>(slot)];
    k.length = decode_key_sequence(line.substr(p, e - p), k.bytes, key_sequence_max);
    if (k.length == 0) {
        k.bytes[0] = '?';
        k.length = 1;
    }
    return slot;
}

void parse_key_map(std::string_view text, key_table_t& table) {
    chunk_splitter split(text);
    std::string_view chunk;
    while (split.next(chunk)) parse_key_map_line(chunk, table);
}

bool read_key_map(const std::string& path, key_table_t& table) {
    file_ptr f(open_regular_file(path));
    if (!f) return false;
    chunk_reader reader(f.get());
    std::string chunk;
    while (reader.next(chunk)) parse_key_map_line(chunk, table);
    return true;
}

bool parse_translation_line(std::string_view line, translation_table_t& table) {
    if (!line.empty() && line[0] == '#') return false;
    std::size_t p = 0;
    long long from = 0, to = 0;
    if (!scan_c_integer(line, p, from)) return false;
    // The two numbers must be apart.
    if (p >= line.size() || !is_space(line[p])) return false;
    if (!scan_c_integer(line, p, to)) return false;
    if (from < 0 || from > 255 || to < 0 || to > 255) return false;
    table[static_cast<std::size_t>(from)] = static_cast<std::int32_t>(to);
    return true;
}

void parse_translation_map(std::string_view text, translation_table_t& table) {
    chunk_splitter split(text);
    std::string_view chunk;
    while (split.next(chunk)) parse_translation_line(chunk, table);
}

bool read_translation_map(const std::string& path, translation_table_t& table) {
    file_ptr f(open_regular_file(path));
    if (!f) return false;
    chunk_reader reader(f.get());
    std::string chunk;
    while (reader.next(chunk)) parse_translation_line(chunk, table);
    return true;
}

key_table_t& key_table() {
    static key_table_t t;
    return t;
}

translation_table_t& pctonet_table() {
    static translation_table_t t{};
    return t;
}

translation_table_t& nettopc_table() {
    static translation_table_t t{};
    return t;
}
