// Box drawing, block elements and the DEC graphics set painted as shapes: arms reach the cell's edges so that
// neighbours join, weights differ, every code point draws something. Glyphs are painted into images of a few
// cells and read back pixel by pixel.
#include <gtest/gtest.h>

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <string>
#include <vector>

#include "../support/qt_test_support.h"
#include "view/box_glyphs.h"

namespace {

// Cell sizes with odd and even widths and heights; the larger heights stand for a font cell plus a line gap.
const QSize sizes[] = {{7, 15}, {8, 16}, {9, 21}, {10, 20}, {11, 27}, {16, 40}};

// A glyph for each cell of a grid (rows of code points), black ink on white.
QImage paint_grid(const std::vector<std::u32string>& rows, QSize cell, bool dec = false) {
    qt_test_support::test_app();
    int cols = 0;
    for (const auto& r : rows) cols = std::max(cols, int(r.size()));
    QImage img(cols * cell.width(), int(rows.size()) * cell.height(), QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    const int light = light_thickness(cell.width(), cell.height());
    for (int r = 0; r < int(rows.size()); ++r) {
        for (int c = 0; c < int(rows[r].size()); ++c) {
            glyph_shapes g;
            const QRect box(c * cell.width(), r * cell.height(), cell.width(), cell.height());
            const bool ok =
                dec ? dec_glyph(std::uint8_t(rows[r][c]), box, light, g) : box_glyph(rows[r][c], box, light, g);
            if (ok) paint_glyph(p, g, Qt::black, QFont());
        }
    }
    return img;
}
QImage paint_one(char32_t cp, QSize cell) { return paint_grid({std::u32string(1, cp)}, cell); }

bool inked(const QImage& img, int x, int y) { return qGray(img.pixel(x, y)) < 128; }
// Ink along one row or column of the image as a string of '#' and '.'.
std::string row_of(const QImage& img, int y) {
    std::string s;
    for (int x = 0; x < img.width(); ++x) s += inked(img, x, y) ? '#' : '.';
    return s;
}
std::string column_of(const QImage& img, int x) {
    std::string s;
    for (int y = 0; y < img.height(); ++y) s += inked(img, x, y) ? '#' : '.';
    return s;
}
int count_ink(const QImage& img) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) n += inked(img, x, y);
    return n;
}
// Separate runs of ink in a row/column string.
int runs(const std::string& s) {
    int n = 0;
    for (size_t i = 0; i < s.size(); ++i) n += s[i] == '#' && (i == 0 || s[i - 1] != '#');
    return n;
}
int ink_in(const std::string& s) { return int(std::count(s.begin(), s.end(), '#')); }

TEST(BoxGlyphs, EveryCodePointDrawsInsideItsCell) {
    for (QSize sz : sizes) {
        const QRect cell(30, 50, sz.width(), sz.height());
        for (char32_t cp = 0x2500; cp <= 0x259F; ++cp) {
            glyph_shapes g;
            ASSERT_TRUE(box_glyph(cp, cell, light_thickness(sz.width(), sz.height()), g)) << std::hex << uint32_t(cp);
            EXPECT_FALSE(g.empty()) << std::hex << uint32_t(cp);
            for (const QRect& r : g.rects) EXPECT_TRUE(cell.contains(r)) << std::hex << uint32_t(cp);
            // And paints ink, wherever the cell is.
            EXPECT_GT(count_ink(paint_one(cp, sz)), 0)
                << std::hex << uint32_t(cp) << " " << sz.width() << "x" << sz.height();
        }
    }
    glyph_shapes g;
    EXPECT_FALSE(box_glyph(0x24FF, QRect(0, 0, 8, 16), 1, g));
    EXPECT_FALSE(box_glyph(0x25A0, QRect(0, 0, 8, 16), 1, g));
    EXPECT_FALSE(box_glyph(U'A', QRect(0, 0, 8, 16), 1, g));
    EXPECT_TRUE(g.empty());
}

// Which edges a glyph's arms reach, and with what weight: '.' none, 'l' light, 'h' heavy, 'd' double.
struct arms_case {
    char32_t cp;
    const char* lrud;
};
const arms_case arm_cases[] = {
    {0x2500, "ll.."}, {0x2501, "hh.."}, {0x2502, "..ll"}, {0x2503, "..hh"}, {0x250C, ".l.l"}, {0x250D, ".h.l"},
    {0x2512, "l..h"}, {0x2518, "l.l."}, {0x251C, ".lll"}, {0x2521, ".hhl"}, {0x252C, "ll.l"}, {0x2537, "hhl."},
    {0x253C, "llll"}, {0x2543, "hlhl"}, {0x254B, "hhhh"}, {0x2550, "dd.."}, {0x2551, "..dd"}, {0x2552, ".d.l"},
    {0x2553, ".l.d"}, {0x2554, ".d.d"}, {0x2557, "d..d"}, {0x255A, ".dd."}, {0x255D, "d.d."}, {0x255F, ".ldd"},
    {0x2561, "d.ll"}, {0x2563, "d.dd"}, {0x2564, "dd.l"}, {0x2566, "dd.d"}, {0x2569, "ddd."}, {0x256A, "ddll"},
    {0x256B, "lldd"}, {0x256C, "dddd"}, {0x256D, ".l.l"}, {0x256F, "l.l."}, {0x2574, "l..."}, {0x2579, "..h."},
    {0x257C, "lh.."}, {0x257D, "..lh"},
};

TEST(BoxGlyphs, ArmsReachTheirEdgesWithTheirWeight) {
    for (QSize sz : sizes) {
        // Edge rows/columns of the three reference lines: a light, heavy and double arm look like these there.
        const std::string light_h = column_of(paint_one(0x2500, sz), 0);
        const std::string heavy_h = column_of(paint_one(0x2501, sz), 0);
        const std::string double_h = column_of(paint_one(0x2550, sz), 0);
        const std::string light_v = row_of(paint_one(0x2502, sz), 0);
        const std::string heavy_v = row_of(paint_one(0x2503, sz), 0);
        const std::string double_v = row_of(paint_one(0x2551, sz), 0);
        const std::string none_h(sz.height(), '.'), none_v(sz.width(), '.');
        EXPECT_EQ(runs(light_h), 1);
        EXPECT_EQ(runs(heavy_h), 1);
        EXPECT_GT(ink_in(heavy_h), ink_in(light_h)) << "heavy is thicker";
        EXPECT_GT(ink_in(heavy_v), ink_in(light_v));
        EXPECT_EQ(runs(double_h), 2) << "double: two strokes";
        EXPECT_EQ(runs(double_v), 2);
        auto expect_h = [&](char w) { return w == 'l' ? light_h : w == 'h' ? heavy_h : w == 'd' ? double_h : none_h; };
        auto expect_v = [&](char w) { return w == 'l' ? light_v : w == 'h' ? heavy_v : w == 'd' ? double_v : none_v; };
        for (const arms_case& c : arm_cases) {
            const QImage img = paint_one(c.cp, sz);
            const std::string where = QString::number(uint32_t(c.cp), 16).toStdString() + " in " +
                                      std::to_string(sz.width()) + "x" + std::to_string(sz.height());
            EXPECT_EQ(column_of(img, 0), expect_h(c.lrud[0])) << where << " left";
            EXPECT_EQ(column_of(img, sz.width() - 1), expect_h(c.lrud[1])) << where << " right";
            EXPECT_EQ(row_of(img, 0), expect_v(c.lrud[2])) << where << " up";
            EXPECT_EQ(row_of(img, sz.height() - 1), expect_v(c.lrud[3])) << where << " down";
        }
    }
}

TEST(BoxGlyphs, NeighboursJoinAcrossRowsAndColumns) {
    auto unbroken = [](const std::string& s, int from, int to) {
        return s.substr(size_t(from), size_t(to - from + 1)) == std::string(size_t(to - from + 1), '#');
    };
    for (QSize sz : sizes) {
        const int w = sz.width(), h = sz.height(), t = light_thickness(w, h);
        const int cx = w / 2, cy = h / 2;  // inside every light line
        const QImage light = paint_grid({U"┌─┬─┐", U"│ │ │", U"├─┼─┤", U"└─┴─┘"}, sz);
        for (int col : {0, 2, 4})
            EXPECT_TRUE(unbroken(column_of(light, col * w + cx), cy, 3 * h + cy)) << col << " in " << w << "x" << h;
        for (int row : {0, 2, 3})
            EXPECT_TRUE(unbroken(row_of(light, row * h + cy), cx, 4 * w + cx)) << row << " in " << w << "x" << h;
        // Double lines: the outer strokes run round the box unbroken.
        const QImage dbl = paint_grid({U"╔═╦═╗", U"║ ║ ║", U"╠═╬═╣", U"╚═╩═╝"}, sz);
        const int left = cx - t / 2 - t, right = cx - t / 2 + t, top = cy - t / 2 - t, bottom = cy - t / 2 + t;
        EXPECT_TRUE(unbroken(column_of(dbl, left), top, 3 * h + bottom + t - 1)) << w << "x" << h;
        EXPECT_TRUE(unbroken(column_of(dbl, 4 * w + right), top, 3 * h + bottom + t - 1)) << w << "x" << h;
        EXPECT_TRUE(unbroken(row_of(dbl, top), left, 4 * w + right + t - 1)) << w << "x" << h;
        EXPECT_TRUE(unbroken(row_of(dbl, 3 * h + bottom), left, 4 * w + right + t - 1)) << w << "x" << h;
        // Inside strokes turn at ╬: its middle stays clear.
        EXPECT_FALSE(inked(dbl, 2 * w + cx, 2 * h + cy)) << w << "x" << h;
        // A straight double line is two strokes across the whole cell: each pixel row is empty or full.
        const QImage straight = paint_grid({U"═══"}, sz);
        for (int y = 0; y < h; ++y) {
            const std::string r = row_of(straight, y);
            EXPECT_TRUE(r == std::string(3 * w, '.') || r == std::string(3 * w, '#')) << y << ": " << r;
        }
    }
}

TEST(BoxGlyphs, DoubleCornersHaveAnInnerAndAnOuterStroke) {
    for (QSize sz : sizes) {
        const QImage img = paint_one(0x2554, sz);  // ╔
        const int w = sz.width(), h = sz.height();
        // Two strokes leave to the right and two downwards, and the corner's inside (to the lower right of the
        // inner stroke) stays clear: the strokes do not cross.
        EXPECT_EQ(runs(column_of(img, w - 1)), 2);
        EXPECT_EQ(runs(row_of(img, h - 1)), 2);
        EXPECT_EQ(runs(row_of(img, h / 2 + 2 * light_thickness(w, h) + 1)), 2);
        const std::string above = row_of(img, 0);
        EXPECT_EQ(above, std::string(w, '.')) << "nothing goes up";
        // A single line meeting a double one ends at its near stroke (T joints) or crosses both (crossings).
        for (char32_t cp : {U'╟', U'╢', U'╤', U'╧', U'╬', U'╔', U'╝'})
            EXPECT_FALSE(inked(paint_one(cp, sz), w / 2, h / 2)) << std::hex << uint32_t(cp) << " " << w << "x" << h;
        for (char32_t cp : {U'╫', U'╪', U'╓', U'╕'})
            EXPECT_TRUE(inked(paint_one(cp, sz), w / 2, h / 2)) << std::hex << uint32_t(cp) << " " << w << "x" << h;
    }
}

TEST(BoxGlyphs, DashesAndDiagonals) {
    for (QSize sz : sizes) {
        const int w = sz.width(), h = sz.height();
        // Dashed lines sit where the solid line is, with breaks.
        const QImage solid = paint_one(0x2500, sz);
        for (char32_t cp : {0x2504, 0x2508, 0x254C}) {
            const QImage d = paint_one(cp, sz);
            const std::string mid = row_of(d, h / 2);
            EXPECT_GE(runs(mid), 2) << std::hex << uint32_t(cp);
            EXPECT_LT(ink_in(mid), w);
            EXPECT_EQ(row_of(d, 0), std::string(w, '.'));
        }
        // ╱ over ╱ and ╲ beside ╲ meet at the cell corners.
        const QImage up = paint_grid({U" ╱", U"╱ "}, sz);
        EXPECT_TRUE(inked(up, w - 1, h) || inked(up, w, h - 1) || inked(up, w, h)) << "touch at the shared corner";
        EXPECT_TRUE(inked(up, 2 * w - 1, 0));
        EXPECT_TRUE(inked(up, 0, 2 * h - 1));
        // Antialiased: a thin diagonal covers a corner pixel in part.
        const QImage cross = paint_one(0x2573, sz);
        auto touched = [&](int x, int y) { return qGray(cross.pixel(x, y)) < 224; };
        EXPECT_TRUE(touched(0, 0) && touched(w - 1, 0) && touched(0, h - 1) && touched(w - 1, h - 1));
        EXPECT_TRUE(inked(cross, w / 2, h / 2));
    }
}

TEST(BlockElements, HalvesEighthsQuadrantsAndShades) {
    for (QSize sz : sizes) {
        const int w = sz.width(), h = sz.height(), area = w * h;
        EXPECT_EQ(count_ink(paint_one(0x2588, sz)), area) << "full block";
        const QImage upper = paint_one(0x2580, sz), lower = paint_one(0x2584, sz);
        EXPECT_EQ(count_ink(upper) + count_ink(lower), area) << "the halves tile the cell";
        EXPECT_EQ(row_of(upper, 0), std::string(w, '#'));
        EXPECT_EQ(row_of(upper, h - 1), std::string(w, '.'));
        const QImage left = paint_one(0x258C, sz), right = paint_one(0x2590, sz);
        EXPECT_EQ(count_ink(left) + count_ink(right), area);
        // Eighths grow from the bottom and from the left (a narrow cell has fewer than eight steps), the smallest
        // still one pixel, the largest short of the full block.
        int last = 0;
        for (char32_t cp = 0x2581; cp <= 0x2588; ++cp) {
            const int n = count_ink(paint_one(cp, sz));
            EXPECT_GE(n, std::max(last, 1)) << std::hex << uint32_t(cp);
            EXPECT_EQ(row_of(paint_one(cp, sz), h - 1), std::string(w, '#')) << std::hex << uint32_t(cp);
            last = n;
        }
        EXPECT_LT(count_ink(paint_one(0x2587, sz)), area);
        EXPECT_GT(count_ink(paint_one(0x2584, sz)), count_ink(paint_one(0x2581, sz)));
        last = 0;
        for (char32_t cp = 0x258F; cp >= 0x2589; --cp) {
            const int n = count_ink(paint_one(cp, sz));
            EXPECT_GE(n, std::max(last, 1)) << std::hex << uint32_t(cp);
            EXPECT_EQ(column_of(paint_one(cp, sz), 0), std::string(h, '#')) << std::hex << uint32_t(cp);
            last = n;
        }
        EXPECT_LT(count_ink(paint_one(0x2589, sz)), area);
        EXPECT_GT(count_ink(paint_one(0x258C, sz)), count_ink(paint_one(0x258F, sz)));
        // ▔ and ▕ sit on the other edges.
        EXPECT_EQ(row_of(paint_one(0x2594, sz), 0), std::string(w, '#'));
        EXPECT_EQ(column_of(paint_one(0x2595, sz), w - 1), std::string(h, '#'));
        // ▚: upper left and lower right only; with ▞ it fills the cell.
        const QImage diag = paint_one(0x259A, sz), anti = paint_one(0x259E, sz);
        EXPECT_TRUE(inked(diag, 0, 0) && inked(diag, w - 1, h - 1));
        EXPECT_FALSE(inked(diag, w - 1, 0) || inked(diag, 0, h - 1));
        EXPECT_EQ(count_ink(diag) + count_ink(anti), area);
        // Shades darken in order; ▒ side by side and stacked is one checkerboard.
        const int light = count_ink(paint_one(0x2591, sz)), medium = count_ink(paint_one(0x2592, sz)),
                  dark = count_ink(paint_one(0x2593, sz));
        EXPECT_LT(0, light);
        EXPECT_LT(light, medium);
        EXPECT_LT(medium, dark);
        EXPECT_LT(dark, area);
        const QImage checker = paint_grid({U"▒▒", U"▒▒"}, sz);
        for (int y = 0; y < checker.height(); ++y)
            for (int x = 0; x + 1 < checker.width(); ++x)
                ASSERT_NE(inked(checker, x, y), inked(checker, x + 1, y)) << x << "," << y;
        for (int x = 0; x < checker.width(); ++x)
            ASSERT_NE(inked(checker, x, h - 1), inked(checker, x, h)) << "across rows at " << x;
    }
}

TEST(DecGraphics, ShapesOfTheSet) {
    for (QSize sz : sizes) {
        const int w = sz.width(), h = sz.height();
        // The line pieces are the box-drawing ones.
        const std::pair<char, char32_t> same[] = {{'j', U'┘'}, {'k', U'┐'}, {'l', U'┌'}, {'m', U'└'},
                                                  {'n', U'┼'}, {'q', U'─'}, {'t', U'├'}, {'u', U'┤'},
                                                  {'v', U'┴'}, {'w', U'┬'}, {'x', U'│'}};
        for (auto [c, cp] : same)
            EXPECT_EQ(paint_grid({std::u32string(1, char32_t(c))}, sz, true), paint_one(cp, sz)) << c;
        // The diamond: ink around the centre, not a block.
        const QImage diamond = paint_grid({U"`"}, sz, true);
        EXPECT_TRUE(inked(diamond, w / 2, h / 2));
        EXPECT_LT(count_ink(diamond), w * h * 2 / 3);
        EXPECT_FALSE(inked(diamond, 0, h / 2 - h / 3) || inked(diamond, w - 1, h / 2 + h / 3));
        EXPECT_GT(ink_in(row_of(diamond, h / 2)), ink_in(row_of(diamond, h / 2 - h / 5))) << "widest in the middle";
        // The checkerboard.
        const QImage checker = paint_grid({U"aa"}, sz, true);
        EXPECT_EQ(count_ink(checker), w * h);
        // Scan lines 1, 3, 5, 7, 9 from top to bottom, each one line across the cell.
        int last = -1;
        for (char c : {'o', 'p', 'q', 'r', 's'}) {
            const QImage img = paint_grid({std::u32string(2, char32_t(c))}, sz, true);
            const std::string col = column_of(img, w);
            EXPECT_EQ(runs(col), 1) << c;
            EXPECT_EQ(ink_in(row_of(img, int(col.find('#')))), 2 * w) << c << ": reaches both edges";
            EXPECT_GT(int(col.find('#')), last) << c;
            last = int(col.find('#'));
        }
        EXPECT_LE(int(column_of(paint_grid({U"o"}, sz, true), 0).find('#')), h / 5);
        EXPECT_GE(int(column_of(paint_grid({U"s"}, sz, true), 0).find('#')), h * 4 / 5 - 1);
        // Control-code symbols: small letters, one high on the left, one low on the right.
        for (char c : {'b', 'c', 'd', 'e', 'h', 'i'}) {
            glyph_shapes g;
            ASSERT_TRUE(dec_glyph(std::uint8_t(c), QRect(0, 0, w, h), 1, g)) << c;
            ASSERT_EQ(g.labels.size(), 2u);
            EXPECT_LT(g.labels[0].box.top(), g.labels[1].box.top());
            EXPECT_LT(g.labels[0].box.left(), g.labels[1].box.left());
        }
    }
    // Bytes shown as text, the blank and bytes outside the set draw nothing here.
    for (char c : {'_', 'f', 'g', 'y', 'z', '{', '|', '}', '~', '^', '\x7f'}) {
        glyph_shapes g;
        EXPECT_FALSE(dec_glyph(std::uint8_t(c), QRect(0, 0, 8, 16), 1, g)) << c;
        EXPECT_TRUE(g.empty()) << c;
    }
}

TEST(BoxGlyphs, LineThicknessScalesWithTheCell) {
    EXPECT_EQ(light_thickness(8, 16), 1);
    EXPECT_EQ(light_thickness(4, 8), 1);
    EXPECT_EQ(light_thickness(16, 32), 2);
    EXPECT_EQ(light_thickness(20, 48), 3);
    EXPECT_EQ(light_thickness(8, 48), 2) << "a narrow cell keeps room for a double line";
}

}  // namespace
