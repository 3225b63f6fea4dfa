// Code pages against the system's iconv, the keyboard/clipboard direction, widths, composition and the UTF-8
// decoder against Markus Kuhn's decoder stress test.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "terminal/charset.h"

namespace {

// What iconv makes of one byte: its character, or U+FFFD when iconv refuses it.
uint32_t iconv_byte(const char* page, uint8_t b) {
    iconv_t cd = iconv_open("UTF-32LE", page);
    if (cd == iconv_t(-1)) return 0;
    char in[1] = {char(b)};
    unsigned char out[8] = {};
    char* ip = in;
    char* op = reinterpret_cast<char*>(out);
    size_t il = 1, ol = sizeof out;
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    if (r != size_t(-1)) r = iconv(cd, nullptr, nullptr, &op, &ol);  // flush what a stateful page holds back
    iconv_close(cd);
    if (r == size_t(-1) || sizeof out - ol != 4) return replacement_char;
    return uint32_t(out[0]) | uint32_t(out[1]) << 8 | uint32_t(out[2]) << 16 | uint32_t(out[3]) << 24;
}

const int scripts[] = {0, 238, 204, 161, 162, 177, 178, 186, 163, 222, 255, 2};

TEST(CodePages, EveryByteMatchesIconv) {
    for (int script : scripts) {
        const int page = code_page_of_script(script);
        const char* name = code_page_name(page);
        if (std::string(name) == "SYMBOL") continue;  // iconv has no Symbol font
        for (int b = 0; b < 256; ++b)
            ASSERT_EQ(byte_to_unicode(page, uint8_t(b)), iconv_byte(name, uint8_t(b))) << name << " byte " << b;
    }
}

TEST(CodePages, ScriptsChooseTheirPage) {
    const struct {
        int script;
        uint8_t byte;
        uint32_t cp;
    } cases[] = {
        {204, 0xC0, 0x0410},  // Cyrillic А
        {204, 0xFF, 0x044F},  // я
        {161, 0xC1, 0x0391},  // Greek Α
        {238, 0x8A, 0x0160},  // Central European Š
        {162, 0xFD, 0x0131},  // Turkish dotless i
        {177, 0xE0, 0x05D0},  // Hebrew alef
        {178, 0xC7, 0x0627},  // Arabic alef
        {186, 0xC0, 0x0104},  // Baltic Ą
        {163, 0xD2, 0x0309},  // Vietnamese hook above
        {222, 0xA1, 0x0E01},  // Thai ko kai
        {255, 0xC4, 0x2500},  // DOS box drawing ─
        {255, 0xDB, 0x2588},  // DOS full block
        {2, 0x61, 0x03B1},    // Symbol α
        {2, 0x44, 0x0394},    // Symbol Δ
        {2, 0xA5, 0x221E},    // Symbol ∞
        {2, 0x90, 0xFFFD},    // undefined in the Symbol font (iconv checks the others)
        {0, 0x80, 0x20AC},    // Western €
        {128, 0x80, 0x20AC},  // Japanese falls back to Western
        {136, 0xE9, 0x00E9},  // Traditional Chinese too
        {77, 0xE9, 0x00E9},   // an unknown number is Western
    };
    for (const auto& c : cases)
        EXPECT_EQ(byte_to_unicode(code_page_of_script(c.script), c.byte), c.cp) << c.script << " " << int(c.byte);
    for (int s : {128, 129, 134, 136}) EXPECT_TRUE(script_falls_back(s));
    for (int s : scripts) EXPECT_FALSE(script_falls_back(s));
}

// Typing or pasting a character the page shows gives back its byte; characters the page lacks give none.
TEST(CodePages, CharactersRoundTripToTheirBytes) {
    for (int script : scripts) {
        const int page = code_page_of_script(script);
        for (int b = 0x20; b < 256; ++b) {
            const uint32_t cp = byte_to_unicode(page, uint8_t(b));
            if (cp == replacement_char) continue;
            ASSERT_EQ(unicode_to_byte(page, cp), b) << code_page_name(page) << " byte " << b;
        }
    }
    EXPECT_EQ(unicode_to_byte(code_page_of_script(0), 0x0416), -1);      // Ж in Western
    EXPECT_EQ(unicode_to_byte(code_page_of_script(204), 0x0416), 0xC6);  // Ж in Cyrillic
    EXPECT_EQ(unicode_to_byte(code_page_of_script(204), 0x00E9), -1);    // é in Cyrillic
    EXPECT_EQ(unicode_to_byte(code_page_of_script(204), 0x0D), 0x0D);    // controls pass
    EXPECT_EQ(unicode_to_byte(code_page_of_script(0), replacement_char), -1);
}

TEST(Unicode, WidthsAndComposition) {
    const struct {
        uint32_t cp;
        int width;
    } widths[] = {
        {'A', 1},    {0xE9, 1},   {0x0301, 0}, {0x200B, 0},  {0x0E31, 0},  {0x4E2D, 2}, {0xAC00, 2},
        {0x3000, 2}, {0xFF21, 2}, {0xFF61, 1}, {0x1F600, 2}, {0x10000, 1}, {0x0416, 1}, {0x20000, 2},
    };
    for (const auto& w : widths) EXPECT_EQ(char_width(w.cp), w.width) << std::hex << w.cp;
    EXPECT_EQ(compose('e', 0x0301), 0xE9u);
    EXPECT_EQ(compose('A', 0x030A), 0xC5u);
    EXPECT_EQ(compose(0x0438, 0x0306), 0x0439u);  // и + breve = й
    EXPECT_EQ(compose('x', 0x0301), 0u);
}

TEST(Unicode, EncodesUtf8) {
    std::string s;
    for (uint32_t cp : {0x41u, 0xE9u, 0x20ACu, 0x1F600u, 0xD800u, 0x7FFFFFFFu}) append_utf8(s, cp);
    EXPECT_EQ(s, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD\xEF\xBF\xBD");
}

// Markus Kuhn's UTF-8 decoder capability and stress test, section by section; malformed input gives one U+FFFD per
// maximal ill-formed subpart.
constexpr uint32_t R = replacement_char;
struct kuhn_case {
    const char* name;
    std::string bytes;
    std::vector<uint32_t> cps;
};
const std::vector<kuhn_case>& kuhn_cases() {
    static const std::vector<kuhn_case> v{
        {"1 kosme", "\xCE\xBA\xE1\xBD\xB9\xCF\x83\xCE\xBC\xCE\xB5", {0x3BA, 0x1F79, 0x3C3, 0x3BC, 0x3B5}},
        {"2.1 first 2-byte", "\xC2\x80", {0x80}},
        {"2.1 first 3-byte", "\xE0\xA0\x80", {0x800}},
        {"2.1 first 4-byte", "\xF0\x90\x80\x80", {0x10000}},
        {"2.1 first 5-byte", "\xF8\x88\x80\x80\x80", {R, R, R, R, R}},
        {"2.1 first 6-byte", "\xFC\x84\x80\x80\x80\x80", {R, R, R, R, R, R}},
        {"2.2 last 1-byte", "\x7F", {0x7F}},
        {"2.2 last 2-byte", "\xDF\xBF", {0x7FF}},
        {"2.2 last 3-byte", "\xEF\xBF\xBF", {0xFFFF}},
        {"2.2 last 4-byte", "\xF7\xBF\xBF\xBF", {R, R, R, R}},
        {"2.3 before surrogates", "\xED\x9F\xBF", {0xD7FF}},
        {"2.3 after surrogates", "\xEE\x80\x80", {0xE000}},
        {"2.3 replacement", "\xEF\xBF\xBD", {0xFFFD}},
        {"2.3 last plane", "\xF4\x8F\xBF\xBF", {0x10FFFF}},
        {"2.3 above U+10FFFF", "\xF4\x90\x80\x80", {R, R, R, R}},
        {"3.1 lone continuations", "\x80\xBF\x80", {R, R, R}},
        {"3.2 lonely 2-byte start", "\xC0 \xDF ", {R, ' ', R, ' '}},
        {"3.2 lonely 3-byte start", "\xE0 \xEF ", {R, ' ', R, ' '}},
        {"3.2 lonely 4-byte start", "\xF0 \xF4 ", {R, ' ', R, ' '}},
        {"3.2 lonely 5/6-byte start", "\xF8 \xFC ", {R, ' ', R, ' '}},
        {"3.3 last byte missing", "\xC2 \xE1\x80 \xF1\x80\x80 ", {R, ' ', R, ' ', R, ' '}},
        {"3.4 concatenated incomplete", "\xC2\xE1\x80\xF1\x80\x80\xDF\xEF\xBF", {R, R, R, R, R}},
        {"3.5 impossible bytes", "\xFE\xFF\xFE\xFE\xFF\xFF", {R, R, R, R, R, R}},
        {"4.1 overlong slash 2", "\xC0\xAF", {R, R}},
        {"4.1 overlong slash 3", "\xE0\x80\xAF", {R, R, R}},
        {"4.1 overlong slash 4", "\xF0\x80\x80\xAF", {R, R, R, R}},
        {"4.2 maximum overlong 2", "\xC1\xBF", {R, R}},
        {"4.2 maximum overlong 3", "\xE0\x9F\xBF", {R, R, R}},
        {"4.2 maximum overlong 4", "\xF0\x8F\xBF\xBF", {R, R, R, R}},
        {"4.3 overlong NUL", std::string("\xC0\x80\xE0\x80\x80", 5), {R, R, R, R, R}},
        {"5.1 single high surrogate", "\xED\xA0\x80", {R, R, R}},
        {"5.1 single low surrogate", "\xED\xBF\xBF", {R, R, R}},
        {"5.2 paired surrogates", "\xED\xA0\x80\xED\xB0\x80", {R, R, R, R, R, R}},
        {"5.3 noncharacters", "\xEF\xBF\xBE\xEF\xBF\xBF", {0xFFFE, 0xFFFF}},
        {"truncated at the end", "a\xE2\x82", {'a', R}},
    };
    return v;
}

TEST(Utf8Decoder, KuhnStressTest) {
    for (const auto& k : kuhn_cases()) {
        std::vector<uint32_t> got;
        decode_utf8(k.bytes.data(), k.bytes.size(), [&](uint32_t cp) { got.push_back(cp); });
        EXPECT_EQ(got, k.cps) << k.name;
    }
}

}  // namespace
