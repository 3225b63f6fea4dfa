#pragma once
// Small scanners shared by the config.txt import, the map files and the backends.
#include <cstdio>
#include <string>
#include <string_view>

// Reads a file in pieces the way a 80-byte line buffer does: up to and including the next end-of-line, at most
// 79 characters per read.
class chunk_reader {
public:
    static constexpr std::size_t max_chunk = 79;
    explicit chunk_reader(std::FILE* f) : f_(f) {}
    // False at end of file.
    bool next(std::string& chunk);

private:
    std::FILE* f_;
};

// Opens a regular file (or a link to one) for reading. Null for anything else: a FIFO would block the start-up,
// a directory opens but reads nothing and must not count as a present file.
std::FILE* open_regular_file(const std::string& path);

// The same splitting over text in memory.
class chunk_splitter {
public:
    explicit chunk_splitter(std::string_view text) : text_(text) {}
    bool next(std::string_view& chunk);

private:
    std::string_view text_;
};

inline bool is_blank(char c) { return c == ' ' || c == '\t'; }
inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// An integer in C notation: optional sign, then decimal, 0x hexadecimal or 0-prefixed octal. Starts at pos (after
// optional white space), advances pos past it. False when no digits; the value saturates far beyond 32 bits so
// callers can range-check it.
bool scan_c_integer(std::string_view text, std::size_t& pos, long long& value);

// The whole text is an optional sign and decimal digits, within 32-bit range.
bool parse_decimal_all(std::string_view text, long long& value);
