// Widget-free rendering rules: font fitting, run colours, line-drawing glyphs, status pane texts.
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

TEST(LineGlyphs, GeometryOfTheBoxCharacters) {
    glyph_geometry g{0, 0, 10, 20, 5, 10};
    std::vector<QLine> lines;
    ASSERT_TRUE(line_glyph('q', g, lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], QLine(0, 10, 10, 10));
    lines.clear();
    ASSERT_TRUE(line_glyph('x', g, lines));
    EXPECT_EQ(lines[0], QLine(5, 0, 5, 20));
    lines.clear();
    ASSERT_TRUE(line_glyph('l', g, lines));  // upper-left corner: right and down from the centre
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], QLine(5, 10, 10, 10));
    EXPECT_EQ(lines[1], QLine(5, 10, 5, 20));
    lines.clear();
    ASSERT_TRUE(line_glyph('a', g, lines));
    EXPECT_EQ(lines.size(), 10u) << "filled cell: one line per pixel column";
    lines.clear();
    EXPECT_FALSE(line_glyph('`', g, lines));
    EXPECT_FALSE(line_glyph('}', g, lines));
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(graphics_text_char('}'), 0xA3);
    EXPECT_EQ(graphics_text_char('~'), 0xB7);
    EXPECT_EQ(graphics_text_char('q'), 0);
}

TEST(StatusPanes, Texts) {
    EXPECT_EQ(security_pane(false, true, 1, true), QString(9, ' '));
    EXPECT_EQ(security_pane(true, true, 1, false), "Secure (SSH-1)");
    EXPECT_EQ(security_pane(true, false, 1, false), QString(9, ' ')) << "SSH-1 needs the identification sent";
    EXPECT_EQ(security_pane(true, false, 0, true), "Secure (SSH-2)");
    EXPECT_EQ(security_pane(true, false, 0, false), QString(9, ' ')) << "during the first key exchange";
    EXPECT_EQ(position_pane(3, 17), "Ln 3, Col 17");
    EXPECT_EQ(ctrl_pane(true), "CTRL");
    EXPECT_EQ(ctrl_pane(false), " ");
    EXPECT_EQ(shift_pane(true), "SHIFT");
}
}  // namespace
