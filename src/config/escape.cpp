#include "config/escape.h"

namespace {

struct sink {
    std::uint8_t* out;
    std::size_t cap;
    bool* literal;
    escape_result r;
    void put(std::uint8_t b, bool lit) {
        if (r.count >= cap) {
            r.overflow = true;
            return;
        }
        if (literal) literal[r.count] = lit;
        out[r.count++] = b;
    }
};

template <class Put>
void decode(std::string_view text, Put&& put) {
    bool escaped = false;
    unsigned value = 0;
    int digits = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            if (escaped) put(static_cast<std::uint8_t>(value & 0xFF), false);
            escaped = true;
            value = 0;
            digits = 0;
            continue;
        }
        if (escaped) {
            if (digits < 3 && c >= '0' && c <= '7') {
                value = value * 8 + static_cast<unsigned>(c - '0');
                ++digits;
                continue;
            }
            put(static_cast<std::uint8_t>(value & 0xFF), false);
            escaped = false;
            value = 0;
            digits = 0;
        }
        put(static_cast<std::uint8_t>(c), true);
    }
    if (escaped) put(static_cast<std::uint8_t>(value & 0xFF), false);
}

}  // namespace

escape_result decode_escapes(std::string_view text, std::uint8_t* out, std::size_t cap, bool* literal) {
    sink s{out, cap, literal, {}};
    decode(text, [&](std::uint8_t b, bool lit) { s.put(b, lit); });
    return s.r;
}

std::string decode_escapes(std::string_view text) {
    std::string r;
    decode(text, [&](std::uint8_t b, bool) { r.push_back(static_cast<char>(b)); });
    return r;
}
