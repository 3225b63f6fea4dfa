#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>

#include "config/maps.h"
#include "fakes.h"

namespace {

std::string seq(const key_table_t& t, int slot) { return std::string(t[slot].view()); }

int slot_of(const std::string& line) { return key_slot_of(line); }

TEST(key_map_names, SlotRules) {
    const std::pair<const char*, int> cases[] = {
        {"UP", 0},        {"DOWN", 1},      {"Down", 89},     {"DEL", 89},      {"RIGHT", 2},     {"LEFT", 3},
        {"f1", 4},        {"f20", 23},      {"F1", 24},       {"F10", 33},      {"F10abc", 33},   {"cx12", 55},
        {"c-1", 44},      {"Cs20", 83},     {"HOME", 84},     {"END", 85},      {"PGUP", 86},     {"PGDN", 87},
        {"INS", 88},      {"BS", 90},       {"SCROLL", 91},   {"PRINT", 92},    {"PAUSE", 93},    {"KEYPAD0", 94},
        {"Kxxxxx9", 103}, {"KEYPADE", 104}, {"KEYPADD", 105}, {"KEYPAD+", 106}, {"KEYPAD/", 109}, {"NUMLOCK", 110},
    };
    for (auto [name, slot] : cases) EXPECT_EQ(slot_of(std::string(name) + " x\n"), slot) << name;

    // Not key names.
    for (const char* bad : {"F0 x\n", "F21 x\n", "f1x x\n", "fx x\n", "F1", "c12", "C5x y\n", "PX x\n", "P",
                            "KEYPADX x\n", "KEY\n", "up x\n", "Z x\n", "f99 x\n"}) {
        EXPECT_EQ(slot_of(bad), -1) << bad;
    }
}

TEST(key_map_lines, SequencesAndSkippedLines) {
    key_table_t t;
    EXPECT_EQ(parse_key_map_line("f11 \\033[23~\n", t), 14);
    EXPECT_EQ(seq(t, 14), "\x1b[23~");
    parse_key_map_line("UP\t \t\\033[A trailing words\n", t);
    EXPECT_EQ(seq(t, 0), "\x1b[A");
    parse_key_map_line("HOME\n", t);  // no sequence
    EXPECT_EQ(seq(t, 84), "?");
    parse_key_map_line("END    \n", t);
    EXPECT_EQ(seq(t, 85), "?");
    parse_key_map_line("INS ab\x01zz\n", t);  // ends at a control character
    EXPECT_EQ(seq(t, 88), "ab");
    parse_key_map_line("BS a\xe9z\n", t);  // ends at a byte of 128 or more
    EXPECT_EQ(seq(t, 90), "a");

    // A later line for the same key wins.
    parse_key_map_line("UP x\n", t);
    EXPECT_EQ(seq(t, 0), "x");

    EXPECT_EQ(parse_key_map_line(" UP y\n", t), -1);
    EXPECT_EQ(parse_key_map_line("\tUP y\n", t), -1);
    EXPECT_EQ(parse_key_map_line("#UP y\n", t), -1);
    EXPECT_EQ(parse_key_map_line("\xc4UP y\n", t), -1);
    EXPECT_EQ(seq(t, 0), "x");

    // 60 characters with the end of line are read, 61 are not.
    std::string at60 = "DOWN " + std::string(54, 'a') + "\n";
    ASSERT_EQ(at60.size(), 60u);
    EXPECT_EQ(parse_key_map_line(at60, t), 1);
    EXPECT_EQ(t[1].length, 54);
    std::string at61 = "LEFT " + std::string(55, 'a') + "\n";
    EXPECT_EQ(parse_key_map_line(at61, t), -1);
    EXPECT_EQ(t[3].length, 0);
}

TEST(key_map_lines, EscapeDecoding) {
    auto dec = [](const std::string& s) {
        std::uint8_t out[key_sequence_max];
        int n = decode_key_sequence(s, out, key_sequence_max);
        return std::string(reinterpret_cast<char*>(out), static_cast<std::size_t>(n));
    };
    EXPECT_EQ(dec("\\033[11~"), "\x1b[11~");
    EXPECT_EQ(dec("\\0339"), std::string("\x1b") + "9");  // three digits end the escape
    EXPECT_EQ(dec("\\033\\133"), "\x1b[");
    EXPECT_EQ(dec("\\33x"), "\x1bx");
    EXPECT_EQ(dec("\\8"), std::string("\0", 1) + "8");
    EXPECT_EQ(dec("a\\"), std::string("a\0", 2));  // lone backslash at the end
    EXPECT_EQ(dec("\\\\"), std::string("\0\0", 2));
    EXPECT_EQ(dec("\\777"), "\xff");  // modulo 256
    EXPECT_EQ(dec("\\400"), std::string("\0", 1));
    EXPECT_EQ(dec("\\1"), "\x01");
    // Never more than the buffer holds.
    std::uint8_t small[3];
    EXPECT_EQ(decode_key_sequence("abcdef", small, 3), 3);
}

TEST(key_map_lines, PiecesOfLongLines) {
    // An over-long line arrives in 79-character reads; a piece that is itself a valid line counts.
    std::string text = std::string(79, 'x') + "UP \\033[A\nDOWN z";
    key_table_t t;
    parse_key_map(text, t);
    EXPECT_EQ(seq(t, 0), "\x1b[A");
    EXPECT_EQ(seq(t, 1), "z");  // last line without end of line
}

TEST(key_map_files, MissingFileIsReportedAndChangesNothing) {
    key_table_t t;
    parse_key_map_line("UP x\n", t);
    EXPECT_FALSE(read_key_map("/nonexistent/keys.map", t));
    EXPECT_EQ(seq(t, 0), "x");
    translation_table_t tr{};
    tr[5] = 6;
    EXPECT_FALSE(read_translation_map("/nonexistent/pctonet.map", tr));
    EXPECT_EQ(tr[5], 6);
}

TEST(translation_maps, LineRules) {
    translation_table_t t{};
    parse_translation_map("# 1 2\n65 97\n0x84 0x61\n010 011\n300 1\n-1 5\n7 256\n9\n10x 11\n12 xyz\n"
                          "  13\t14 comment\n15,16\n",
                          t);
    EXPECT_EQ(t[65], 97);
    EXPECT_EQ(t[0x84], 0x61);
    EXPECT_EQ(t[8], 9);  // octal
    EXPECT_EQ(t[1], 0);
    EXPECT_EQ(t[7], 0);
    EXPECT_EQ(t[9], 0);
    EXPECT_EQ(t[10], 0);
    EXPECT_EQ(t[12], 0);
    EXPECT_EQ(t[13], 14);
    EXPECT_EQ(t[15], 0);
    parse_translation_map("65 0\n", t);
    EXPECT_EQ(t[65], 0);
    EXPECT_EQ(translate_byte(t, 65), 65);
    EXPECT_EQ(translate_byte(t, 0x84), 0x61);
    EXPECT_EQ(translate_byte(t, 13), 14);
}

// The files that ship with the program.
TEST(shipped_maps, KeysMapGivesAVt220Keyboard) {
    key_table_t t;
    ASSERT_TRUE(read_key_map(std::string(SOURCE_DIR) + "/dist/keys.map", t));
    EXPECT_EQ(seq(t, key_slot::up), "\x1b[A");
    EXPECT_EQ(seq(t, key_slot::down), "\x1b[B");
    EXPECT_EQ(seq(t, key_slot::right), "\x1b[C");
    EXPECT_EQ(seq(t, key_slot::left), "\x1b[D");
    const char* vt220_f[] = {"\x1bOP",   "\x1bOQ",   "\x1bOR",   "\x1bOS",   "\x1b[15~", "\x1b[17~", "\x1b[18~",
                             "\x1b[19~", "\x1b[20~", "\x1b[21~", "\x1b[23~", "\x1b[24~", "\x1b[25~", "\x1b[26~",
                             "\x1b[28~", "\x1b[29~", "\x1b[31~", "\x1b[32~", "\x1b[33~", "\x1b[34~"};
    for (int n = 1; n <= 20; ++n) EXPECT_EQ(seq(t, key_slot::f1 + n - 1), vt220_f[n - 1]) << "F" << n;
    for (int n = 1; n <= 10; ++n) EXPECT_EQ(seq(t, key_slot::shift_f1 + n - 1), vt220_f[n + 9]) << "Shift+F" << n;
    EXPECT_EQ(seq(t, key_slot::home), "\x1b[1~");
    EXPECT_EQ(seq(t, key_slot::insert), "\x1b[2~");
    EXPECT_EQ(seq(t, key_slot::del), "\x1b[3~");
    EXPECT_EQ(seq(t, key_slot::end), "\x1b[4~");
    EXPECT_EQ(seq(t, key_slot::page_up), "\x1b[5~");
    EXPECT_EQ(seq(t, key_slot::page_down), "\x1b[6~");
    EXPECT_EQ(seq(t, key_slot::backspace), "\x7f");
    for (int d = 0; d <= 9; ++d) EXPECT_EQ(seq(t, key_slot::keypad0 + d), std::string(1, static_cast<char>('0' + d)));
    EXPECT_EQ(seq(t, key_slot::keypad_point), ".");
    EXPECT_EQ(seq(t, key_slot::keypad_minus), "-");
    EXPECT_EQ(seq(t, key_slot::num_lock), "\x1bOP");
    EXPECT_EQ(t[key_slot::keypad_enter].length, 0);
    EXPECT_EQ(t[key_slot::ctrl_f1].length, 0);
}

TEST(shipped_maps, EveryLineFitsOneRead) {
    // A longer line is read in pieces, and the tail of a comment would be parsed as a key or a translation.
    for (const char* name : {"/dist/keys.map", "/dist/pctonet.map", "/dist/nettopc.map"}) {
        std::ifstream in(std::string(SOURCE_DIR) + name);
        ASSERT_TRUE(in) << name;
        std::string line;
        for (int n = 1; std::getline(in, line); ++n) EXPECT_LT(line.size() + 1, 80u) << name << ":" << n;
    }
}

TEST(shipped_maps, TranslationMapsAreIdentity) {
    for (const char* name : {"/dist/pctonet.map", "/dist/nettopc.map"}) {
        translation_table_t t{};
        ASSERT_TRUE(read_translation_map(std::string(SOURCE_DIR) + name, t)) << name;
        for (int b = 0; b < 256; ++b) {
            EXPECT_EQ(translate_byte(t, static_cast<std::uint8_t>(b)), b) << name << " " << b;
            if (b) {
                EXPECT_EQ(t[b], b);  // every entry is written out, so the file shows the format
            }
        }
    }
}

TEST(map_files, OnlyRegularFilesAreRead) {
    scratch_dir d;
    std::filesystem::create_directory(d.path / "dir.map");
    ASSERT_EQ(::mkfifo(d.file("fifo.map").c_str(), 0600), 0);
    key_table_t t;
    translation_table_t tr{};
    // Both would otherwise "open": the folder reading nothing, the FIFO waiting for a writer forever.
    EXPECT_FALSE(read_key_map(d.file("dir.map"), t));
    EXPECT_FALSE(read_key_map(d.file("fifo.map"), t));
    EXPECT_FALSE(read_translation_map(d.file("fifo.map"), tr));
    // A link to a map file is fine.
    d.write("real.map", "UP x\n");
    std::filesystem::create_symlink(d.path / "real.map", d.path / "link.map");
    EXPECT_TRUE(read_key_map(d.file("link.map"), t));
    EXPECT_EQ(seq(t, 0), "x");
}

TEST(map_files, ReadThroughTheFileSystem) {
    scratch_dir d;
    d.write("k.map", std::string("UP \\033OA\r\n# c\n\nf1 \\033OP") + std::string(100, 'x') + "\nBS \\010\n");
    key_table_t t;
    ASSERT_TRUE(read_key_map(d.file("k.map"), t));
    EXPECT_EQ(seq(t, 0), "\x1bOA");  // the CR of a CRLF file ends the sequence
    EXPECT_EQ(t[4].length, 0);       // over 60 characters
    EXPECT_EQ(seq(t, 90), "\b");
}

}  // namespace
