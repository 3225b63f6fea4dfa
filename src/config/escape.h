#pragma once
// The escape rule for texts typed in settings: a backslash followed by up to three octal digits gives one byte
// ("\015" is CR, "\33" is ESC, "\n" is a zero byte followed by 'n'). Used by the proxy log-in text, the auto-login
// responses, the keys.map sequences and the vtsession --send texts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct escape_result {
    std::size_t count = 0;  // bytes written to out
    bool overflow = false;  // the decoded text did not fit; out holds the first `cap` bytes
};

// Decodes text into out (at most cap bytes). When literal is given, literal[i] tells whether out[i] was copied
// unchanged from the text (true) or produced by an escape (false).
escape_result decode_escapes(std::string_view text, std::uint8_t* out, std::size_t cap, bool* literal = nullptr);

// Convenience form without a size limit, for tools and tests.
std::string decode_escapes(std::string_view text);
