// Widget-free rendering rules: font fitting, run colours, graphics-set characters, the cursor look, status pane
// texts.
#include <gtest/gtest.h>

#include "terminal/screen.h"
#include "view/render.h"

namespace {
// A font whose cell grows by 3/5 of a pixel in width and 6/5 in height per height step.
cell_metrics fake(int h) { return {h * 3 / 5 < 1 ? 1 : h * 3 / 5, h * 6 / 5}; }

TEST(FitGrid, PicksLargestFittingHeightAndSpreadsSurplus) {
    // 80 x 6 = 480 <= 500 and 24 x 12 = 288 <= 300 for h = 10; h = 11 gives 24 x 13 = 312 > 300.
    fit_result r = fit_grid(500, 300, 0, 0, 80, fake);
    EXPECT_EQ(r.font_height, 10);
    EXPECT_EQ(r.char_extra, (500 - 480) / 80);
    EXPECT_EQ(r.line_gap, (300 - 288) / 24);
    EXPECT_EQ(r.cell_width, 6 + r.char_extra);
    EXPECT_EQ(r.cell_height, 12 + r.line_gap);
    // The grid never exceeds the client area.
    EXPECT_LE(80 * r.cell_width, 500);
    EXPECT_LE(24 * r.cell_height, 300);
}

TEST(FitGrid, ReservedSpaceAndColumnsShrinkTheFont) {
    fit_result wide = fit_grid(1000, 2000, 0, 0, 80, fake);
    fit_result narrow = fit_grid(1000, 2000, 0, 0, 132, fake);
    EXPECT_LT(narrow.font_height, wide.font_height);
    EXPECT_LE(132 * narrow.cell_width, 1000);
    fit_result reserved = fit_grid(500, 300, 20, 40, 80, fake);
    EXPECT_LT(reserved.font_height, 10);
    EXPECT_LE(80 * reserved.cell_width + 20, 500);
    EXPECT_LE(24 * reserved.cell_height + 40, 300);
}

TEST(FitGrid, BiggerWindowsNeverGiveSmallerFonts) {
    int last = 0;
    for (int w = 200; w <= 2000; w += 150) {
        fit_result r = fit_grid(w, w * 3 / 4, 0, 0, 80, fake);
        EXPECT_GE(r.font_height, last) << w;
        last = r.font_height;
    }
}

TEST(FitGrid, TinyWindowAndFailingFont) {
    fit_result r = fit_grid(10, 10, 0, 0, 80, fake);
    EXPECT_EQ(r.font_height, 1);
    EXPECT_GT(r.cell_width, 0);
    // A font that cannot be made past height 5 keeps the last fitting height.
    auto failing = [](int h) { return h > 5 ? cell_metrics{} : fake(h); };
    EXPECT_EQ(fit_grid(5000, 5000, 0, 0, 80, failing).font_height, 5);
}

TEST(RunColors, AttributesScreenModeAndBlink) {
    cell_palette p{0x000001, 0x000002, 0x000003, 0x000004};
    auto c = colors_for('A', false, false, false, p);
    EXPECT_EQ(c.ink, 1);
    EXPECT_EQ(c.paper, 2);
    c = colors_for(cell_reverse | 'A', false, false, false, p);
    EXPECT_EQ(c.ink, 2);
    EXPECT_EQ(c.paper, 1);
    // Bold on a reverse screen: bold colour on foreground-coloured paper.
    c = colors_for(cell_bold | 'A', false, true, false, p);
    EXPECT_EQ(c.ink, 3);
    EXPECT_EQ(c.paper, 1);
    // Blinking text (bold too) vanishes while the phase is on, shows while off.
    c = colors_for(cell_blink | cell_bold | 'A', false, false, true, p);
    EXPECT_EQ(c.ink, c.paper);
    c = colors_for(cell_blink | cell_bold | 'A', false, false, false, p);
    EXPECT_EQ(c.ink, 3);
    // A selected cell shows reversed; a selected reversed cell shows normal.
    c = colors_for('A', true, false, false, p);
    EXPECT_EQ(c.paper, 1);
    c = colors_for(cell_reverse | 'A', true, false, false, p);
    EXPECT_EQ(c.paper, 2);
}

TEST(RunColors, WindowsColourOrder) {
    QColor c = color_from_bgr(0x00332211);
    EXPECT_EQ(c.red(), 0x11);
    EXPECT_EQ(c.green(), 0x22);
    EXPECT_EQ(c.blue(), 0x33);
}

TEST(Palette, XtermDefaults) {
    const struct {
        int index;
        std::uint32_t rgb;
    } rows[] = {
        {0, 0x000000},   {1, 0xcd0000},   {2, 0x00cd00},   {3, 0xcdcd00},   {4, 0x0000ee},   {5, 0xcd00cd},
        {6, 0x00cdcd},   {7, 0xe5e5e5},   {8, 0x7f7f7f},   {9, 0xff0000},   {10, 0x00ff00},  {11, 0xffff00},
        {12, 0x5c5cff},  {13, 0xff00ff},  {14, 0x00ffff},  {15, 0xffffff},  {16, 0x000000},  {17, 0x00005f},
        {21, 0x0000ff},  {22, 0x005f00},  {52, 0x5f0000},  {59, 0x5f5f5f},  {145, 0xafafaf}, {160, 0xd70000},
        {196, 0xff0000}, {231, 0xffffff}, {232, 0x080808}, {243, 0x767676}, {255, 0xeeeeee},
    };
    for (const auto& r : rows) EXPECT_EQ(xterm_colour(r.index), r.rgb) << r.index;
    // The cube runs blue fastest, red slowest, and the greys climb in steps of 10.
    for (int i = 16; i < 231; ++i) EXPECT_NE(xterm_colour(i), xterm_colour(i + 1)) << i;
    for (int i = 232; i < 255; ++i) EXPECT_EQ(xterm_colour(i + 1) - xterm_colour(i), 0x0a0a0au) << i;
}

// A cell that holds only default colours and no further attribute looks exactly as it did before colours, for
// every attribute bit, selection, screen mode, blink phase and bold-as-bright setting.
TEST(CellColours, PlainCellsMatchTheDefaultRules) {
    const cell_palette p{0x102030, 0xF0E0D0, 0x0000FF, 0x00FF00};
    for (std::uint32_t attr = 0; attr <= cell_attr_bits; attr += 0x100)
        for (int flags = 0; flags < 16; ++flags) {
            const bool sel = flags & 1, rev = flags & 2, blink = flags & 4, bright = flags & 8;
            const run_colors old = colors_for(attr | 'A', sel, rev, blink, p);
            const run_colors now = colors_for(attr | 'A', 0, 0, 0, sel, rev, blink, p, bright);
            EXPECT_EQ(now.ink, old.ink) << std::hex << attr << " " << flags;
            EXPECT_EQ(now.paper, old.paper) << std::hex << attr << " " << flags;
        }
}

TEST(CellColours, Rules) {
    // User colours as stored (0x00BBGGRR); expected values are BGR too.
    const cell_palette p{0x000001, 0x000002, 0x000003, 0x000004};
    const std::uint32_t red = colour_index(1), blue = colour_index(4);
    const std::uint32_t orange = colour_rgb(200, 100, 50), violet = colour_rgb(100, 0, 250);
    const struct {
        const char* what;
        std::uint32_t attr, fg, bg;
        std::uint16_t extra;
        bool selected, reverse_screen, blink_phase, bold_bright;
        int ink, paper;
    } rows[] = {
        {"palette foreground", 0, red, 0, 0, false, false, false, true, 0x0000cd, 2},
        {"palette background", 0, 0, blue, 0, false, false, false, true, 1, 0xee0000},
        {"direct colour", 0, colour_rgb(0x12, 0x34, 0x56), 0, 0, false, false, false, true, 0x563412, 2},
        {"256-colour index", 0, colour_index(196), colour_index(21), 0, false, false, false, true, 0x0000ff, 0xff0000},
        {"bold 0-7 brightens", cell_bold, red, 0, 0, false, false, false, true, 0x0000ff, 2},
        {"bold without bright", cell_bold, red, 0, 0, false, false, false, false, 0x0000cd, 2},
        {"bold 7 to 15", cell_bold, colour_index(7), 0, 0, false, false, false, true, 0xffffff, 2},
        {"bold 9 stays", cell_bold, colour_index(9), 0, 0, false, false, false, true, 0x0000ff, 2},
        {"bold cube stays", cell_bold, colour_index(16), 0, 0, false, false, false, true, 0x000000, 2},
        {"bold direct stays", cell_bold, orange, 0, 0, false, false, false, true, 0x3264c8, 2},
        {"bold default: bold colour", cell_bold, 0, red, 0, false, false, false, true, 3, 0x0000cd},
        {"bold leaves background", cell_bold, red, red, 0, false, false, false, true, 0x0000ff, 0x0000cd},
        {"reverse swaps", cell_reverse, red, blue, 0, false, false, false, true, 0xee0000, 0x0000cd},
        {"selection swaps", 0, red, blue, 0, true, false, false, true, 0xee0000, 0x0000cd},
        {"reverse + selection", cell_reverse, red, blue, 0, true, false, false, true, 0x0000cd, 0xee0000},
        {"reverse screen keeps colours", 0, red, blue, 0, false, true, false, true, 0x0000cd, 0xee0000},
        {"reverse screen swaps defaults", 0, red, 0, 0, false, true, false, true, 0x0000cd, 1},
        {"reverse default fg on colour", cell_reverse, 0, blue, 0, false, false, false, true, 0xee0000, 1},
        {"dim halves toward paper", 0, orange, violet, extra_dim, false, false, false, true, 0x963296, 0xfa0064},
        {"dim on defaults", 0, colour_rgb(255, 255, 255), 0, extra_dim, false, false, false, true, 0x7f7f80, 2},
        {"dim reversed: text dim", cell_reverse, orange, violet, extra_dim, false, false, false, true, 0x963296,
         0x3264c8},
        {"invisible", 0, orange, violet, extra_invisible, false, false, false, true, 0xfa0064, 0xfa0064},
        {"invisible reversed: block", cell_reverse, orange, violet, extra_invisible, false, false, false, true,
         0x3264c8, 0x3264c8},
        {"blink phase on", cell_blink, orange, violet, 0, false, false, true, true, 0xfa0064, 0xfa0064},
        {"blink phase off", cell_blink, orange, violet, 0, false, false, false, true, 0x3264c8, 0xfa0064},
        {"italic, strike, overline: colours only", 0, orange, violet,
         extra_italic | extra_strike | extra_overline | extra_double_underline, false, false, false, true, 0x3264c8,
         0xfa0064},
    };
    for (const auto& r : rows) {
        const run_colors c = colors_for(r.attr | 'A', r.fg, r.bg, r.extra, r.selected, r.reverse_screen, r.blink_phase,
                                        p, r.bold_bright);
        EXPECT_EQ(c.ink, r.ink) << r.what << std::hex << " ink " << c.ink;
        EXPECT_EQ(c.paper, r.paper) << r.what << std::hex << " paper " << c.paper;
    }
}

TEST(GraphicsSet, BytesShownAsFontCharacters) {
    const std::pair<char, char16_t> text[] = {{'f', u'°'}, {'g', u'±'}, {'y', u'≤'}, {'z', u'≥'},
                                              {'{', u'π'}, {'|', u'≠'}, {'}', u'£'}, {'~', u'·'}};
    for (auto [c, u] : text) EXPECT_EQ(graphics_text_char(std::uint8_t(c)), u) << c;
    for (char c : {'_', '`', 'a', 'b', 'e', 'h', 'i', 'j', 'q', 'x', 'o', 's'})
        EXPECT_EQ(graphics_text_char(std::uint8_t(c)), 0) << c << " is drawn as a shape";
}

TEST(CursorLook, HostShapeReplacesTheUsersOnlyWhenSet) {
    struct row {
        int user_type;
        bool user_blink, host_set;
        cursor_shape shape;
        bool host_blink;
        int type;
        bool blink;
    } rows[] = {
        {1, true, false, cursor_shape::bar, false, 1, true},  // nothing set: the user's half block, blinking
        {2, false, false, cursor_shape::block, true, 2, false},
        {1, true, true, cursor_shape::block, false, 0, false},  // DECSCUSR 2: steady block
        {0, false, true, cursor_shape::underline, true, 2, true},
        {0, true, true, cursor_shape::bar, false, 3, false},  // DECSCUSR 6: steady bar
        {2, false, true, cursor_shape::bar, true, 3, true},
    };
    for (const row& r : rows) {
        const cursor_look c = cursor_look_for(r.user_type, r.user_blink, r.host_set, r.shape, r.host_blink);
        EXPECT_EQ(c.type, r.type) << r.user_type << " " << int(r.shape);
        EXPECT_EQ(c.blink, r.blink) << r.user_type << " " << int(r.shape);
    }
}

TEST(StatusPanes, Texts) {
    EXPECT_EQ(security_pane(false, true, 1, true), QString(9, ' '));
    EXPECT_EQ(security_pane(true, true, 1, false), "Secure (SSH-1)");
    EXPECT_EQ(security_pane(true, false, 1, false), QString(9, ' ')) << "SSH-1 needs the identification sent";
    EXPECT_EQ(security_pane(true, false, 0, true), "Secure (SSH-2)");
    EXPECT_EQ(security_pane(true, false, 0, false), QString(9, ' ')) << "during the first key exchange";
    EXPECT_EQ(security_pane(true, false, 0, true, "aes256-gcm@openssh.com", true),
              "Secure (SSH-2, aes256-gcm@openssh.com, post-quantum)");
    EXPECT_EQ(security_tip(true, true, "curve25519-sha256", false),
              "Key exchange: curve25519-sha256 (not post-quantum)");
    EXPECT_TRUE(security_tip(false, true, "curve25519-sha256", false).isEmpty()) << "nothing once disconnected";
    EXPECT_EQ(position_pane(3, 17), "Ln 3, Col 17");
    EXPECT_EQ(ctrl_pane(true), "CTRL");
    EXPECT_EQ(ctrl_pane(false), " ");
    EXPECT_EQ(shift_pane(true), "SHIFT");
}
}  // namespace
