#include "view/box_glyphs.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <array>

namespace {

// Weight of one arm from the centre to an edge.
enum : std::uint8_t { N = 0, LT = 1, HV = 2, DB = 3 };
enum class kind : std::uint8_t { lines, dash, arc, diagonal };

struct box_desc {
    std::uint8_t left, right, up, down;
    kind k = kind::lines;
    std::uint8_t n = 0;  // dashes per cell; for diagonals 1 '/', 2 '\', 3 both
};

constexpr box_desc D(std::uint8_t n) { return {0, 0, 0, 0, kind::diagonal, n}; }

// U+2500..U+257F in order.
constexpr std::array<box_desc, 128> box_table{{
    {1, 1, 0, 0},
    {2, 2, 0, 0},
    {0, 0, 1, 1},
    {0, 0, 2, 2},  // ─━│┃
    {1, 1, 0, 0, kind::dash, 3},
    {2, 2, 0, 0, kind::dash, 3},  // ┄┅
    {0, 0, 1, 1, kind::dash, 3},
    {0, 0, 2, 2, kind::dash, 3},  // ┆┇
    {1, 1, 0, 0, kind::dash, 4},
    {2, 2, 0, 0, kind::dash, 4},  // ┈┉
    {0, 0, 1, 1, kind::dash, 4},
    {0, 0, 2, 2, kind::dash, 4},  // ┊┋
    {0, 1, 0, 1},
    {0, 2, 0, 1},
    {0, 1, 0, 2},
    {0, 2, 0, 2},  // ┌┍┎┏
    {1, 0, 0, 1},
    {2, 0, 0, 1},
    {1, 0, 0, 2},
    {2, 0, 0, 2},  // ┐┑┒┓
    {0, 1, 1, 0},
    {0, 2, 1, 0},
    {0, 1, 2, 0},
    {0, 2, 2, 0},  // └┕┖┗
    {1, 0, 1, 0},
    {2, 0, 1, 0},
    {1, 0, 2, 0},
    {2, 0, 2, 0},  // ┘┙┚┛
    {0, 1, 1, 1},
    {0, 2, 1, 1},
    {0, 1, 2, 1},
    {0, 1, 1, 2},  // ├┝┞┟
    {0, 1, 2, 2},
    {0, 2, 2, 1},
    {0, 2, 1, 2},
    {0, 2, 2, 2},  // ┠┡┢┣
    {1, 0, 1, 1},
    {2, 0, 1, 1},
    {1, 0, 2, 1},
    {1, 0, 1, 2},  // ┤┥┦┧
    {1, 0, 2, 2},
    {2, 0, 2, 1},
    {2, 0, 1, 2},
    {2, 0, 2, 2},  // ┨┩┪┫
    {1, 1, 0, 1},
    {2, 1, 0, 1},
    {1, 2, 0, 1},
    {2, 2, 0, 1},  // ┬┭┮┯
    {1, 1, 0, 2},
    {2, 1, 0, 2},
    {1, 2, 0, 2},
    {2, 2, 0, 2},  // ┰┱┲┳
    {1, 1, 1, 0},
    {2, 1, 1, 0},
    {1, 2, 1, 0},
    {2, 2, 1, 0},  // ┴┵┶┷
    {1, 1, 2, 0},
    {2, 1, 2, 0},
    {1, 2, 2, 0},
    {2, 2, 2, 0},  // ┸┹┺┻
    {1, 1, 1, 1},
    {2, 1, 1, 1},
    {1, 2, 1, 1},
    {2, 2, 1, 1},  // ┼┽┾┿
    {1, 1, 2, 1},
    {1, 1, 1, 2},
    {1, 1, 2, 2},
    {2, 1, 2, 1},  // ╀╁╂╃
    {1, 2, 2, 1},
    {2, 1, 1, 2},
    {1, 2, 1, 2},
    {2, 2, 2, 1},  // ╄╅╆╇
    {2, 2, 1, 2},
    {2, 1, 2, 2},
    {1, 2, 2, 2},
    {2, 2, 2, 2},  // ╈╉╊╋
    {1, 1, 0, 0, kind::dash, 2},
    {2, 2, 0, 0, kind::dash, 2},  // ╌╍
    {0, 0, 1, 1, kind::dash, 2},
    {0, 0, 2, 2, kind::dash, 2},  // ╎╏
    {3, 3, 0, 0},
    {0, 0, 3, 3},
    {0, 3, 0, 1},
    {0, 1, 0, 3},  // ═║╒╓
    {0, 3, 0, 3},
    {3, 0, 0, 1},
    {1, 0, 0, 3},
    {3, 0, 0, 3},  // ╔╕╖╗
    {0, 3, 1, 0},
    {0, 1, 3, 0},
    {0, 3, 3, 0},
    {3, 0, 1, 0},  // ╘╙╚╛
    {1, 0, 3, 0},
    {3, 0, 3, 0},
    {0, 3, 1, 1},
    {0, 1, 3, 3},  // ╜╝╞╟
    {0, 3, 3, 3},
    {3, 0, 1, 1},
    {1, 0, 3, 3},
    {3, 0, 3, 3},  // ╠╡╢╣
    {3, 3, 0, 1},
    {1, 1, 0, 3},
    {3, 3, 0, 3},
    {3, 3, 1, 0},  // ╤╥╦╧
    {1, 1, 3, 0},
    {3, 3, 3, 0},
    {3, 3, 1, 1},
    {1, 1, 3, 3},  // ╨╩╪╫
    {3, 3, 3, 3},  // ╬
    {0, 1, 0, 1, kind::arc},
    {1, 0, 0, 1, kind::arc},
    {1, 0, 1, 0, kind::arc},  // ╭╮╯
    {0, 1, 1, 0, kind::arc},  // ╰
    D(1),
    D(2),
    D(3),  // ╱╲╳
    {1, 0, 0, 0},
    {0, 0, 1, 0},
    {0, 1, 0, 0},
    {0, 0, 0, 1},  // ╴╵╶╷
    {2, 0, 0, 0},
    {0, 0, 2, 0},
    {0, 2, 0, 0},
    {0, 0, 0, 2},  // ╸╹╺╻
    {1, 2, 0, 0},
    {0, 0, 1, 2},
    {2, 1, 0, 0},
    {0, 0, 2, 1},  // ╼╽╾╿
}};

// U+2580..U+259F: a rectangle in eighths of the cell, quadrants (1 upper left, 2 upper right, 4 lower left,
// 8 lower right) or a shade in quarters.
struct block_desc {
    std::uint8_t x0, y0, x1, y1;
    std::uint8_t quadrants = 0, shade = 0;
};
constexpr block_desc Q(std::uint8_t q) { return {0, 0, 0, 0, q, 0}; }
constexpr block_desc S(std::uint8_t s) { return {0, 0, 0, 0, 0, s}; }

constexpr std::array<block_desc, 32> block_table{{
    {0, 0, 8, 4}, {0, 7, 8, 8}, {0, 6, 8, 8}, {0, 5, 8, 8},  // ▀▁▂▃
    {0, 4, 8, 8}, {0, 3, 8, 8}, {0, 2, 8, 8}, {0, 1, 8, 8},  // ▄▅▆▇
    {0, 0, 8, 8}, {0, 0, 7, 8}, {0, 0, 6, 8}, {0, 0, 5, 8},  // █▉▊▋
    {0, 0, 4, 8}, {0, 0, 3, 8}, {0, 0, 2, 8}, {0, 0, 1, 8},  // ▌▍▎▏
    {4, 0, 8, 8}, S(1),         S(2),         S(3),          // ▐░▒▓
    {0, 0, 8, 1}, {7, 0, 8, 8}, Q(4),         Q(8),          // ▔▕▖▗
    Q(1),         Q(13),        Q(9),         Q(7),          // ▘▙▚▛
    Q(11),        Q(2),         Q(6),         Q(14),         // ▜▝▞▟
}};

// Half-open pixel range.
struct span {
    int a = 0, b = 0;
    bool empty() const { return b <= a; }
};
span unite(span x, span y) {
    if (x.empty()) return y;
    if (y.empty()) return x;
    return {std::min(x.a, y.a), std::max(x.b, y.b)};
}

// Line positions across one axis: the light band is centred on c; a heavy one is twice as thick around it; a
// double line is the two light-wide strokes just outside the light band. Every cell of a size has the same bands,
// so lines of neighbours meet exactly.
struct bands {
    int c, t;
    int a() const { return c - t / 2; }
    span light() const { return {a(), a() + t}; }
    span first() const { return {a() - t, a()}; }
    span second() const { return {a() + t, a() + 2 * t}; }
    span of(std::uint8_t w) const {
        switch (w) {
        case LT: return light();
        case HV: return {c - t, c + t};
        case DB: return {a() - t, a() + 2 * t};
        default: return {};
        }
    }
    qreal centre() const { return a() + t / 2.0; }
};

// One axis of the cell.
struct axis {
    int lo, hi;
    bands b;
};

QRect rect_of(bool horizontal, span along, span across) {
    return horizontal ? QRect(along.a, across.a, along.b - along.a, across.b - across.a)
                      : QRect(across.a, along.a, across.b - across.a, along.b - along.a);
}

// One arm from an edge toward the centre. `perp1`/`perp2` are the perpendicular arms on the first/second side
// (up/down for a horizontal arm, left/right for a vertical one), `other` the arm opposite this one.
void add_arm(glyph_shapes& out, bool horizontal, const axis& along, const axis& across, bool toward_lo, std::uint8_t w,
             std::uint8_t other, std::uint8_t perp1, std::uint8_t perp2) {
    const span pext = unite(along.b.of(perp1), along.b.of(perp2));
    const span centre{along.b.c, along.b.c};
    // Without perpendicular lines the arm ends at the centre; with them it covers them so that corners are filled.
    const span reach = pext.empty() ? centre : pext;
    // The stroke of a double perpendicular line on this arm's side.
    const span near = toward_lo ? along.b.first() : along.b.second();
    auto piece = [&](span stop, span width) {
        const span s = toward_lo ? span{along.lo, stop.b} : span{stop.a, along.hi};
        if (!s.empty() && !width.empty()) out.rects.push_back(rect_of(horizontal, s, width));
    };
    if (w == DB) {
        // Each stroke stops at the double line on its own side (an inner corner) or runs through it.
        piece(perp1 == DB ? near : reach, across.b.first());
        piece(perp2 == DB ? near : reach, across.b.second());
    } else {
        // A T onto a double line meets its near stroke; crossings and corners run over both strokes.
        const bool t_joint = perp1 == DB && perp2 == DB && other == N;
        piece(t_joint ? near : reach, across.b.of(w));
    }
}

void add_lines(const box_desc& d, const axis& x, const axis& y, glyph_shapes& out) {
    if (d.left) add_arm(out, true, x, y, true, d.left, d.right, d.up, d.down);
    if (d.right) add_arm(out, true, x, y, false, d.right, d.left, d.up, d.down);
    if (d.up) add_arm(out, false, y, x, true, d.up, d.down, d.left, d.right);
    if (d.down) add_arm(out, false, y, x, false, d.down, d.up, d.left, d.right);
}

void add_dashes(const box_desc& d, const axis& x, const axis& y, glyph_shapes& out) {
    const bool horizontal = d.left != N;
    const axis& along = horizontal ? x : y;
    const span width = (horizontal ? y : x).b.of(horizontal ? d.left : d.up);
    const int len = along.hi - along.lo;
    for (int i = 0; i < d.n; ++i) {
        const int a = along.lo + len * i / d.n, b = along.lo + len * (i + 1) / d.n;
        const int gap = std::max(1, (b - a) / 3);
        const span s{a + gap / 2, b - (gap - gap / 2)};
        if (!s.empty()) out.rects.push_back(rect_of(horizontal, s, width));
    }
}

void add_arc(const box_desc& d, const axis& x, const axis& y, glyph_shapes& out) {
    const qreal cx = x.b.centre(), cy = y.b.centre();
    // One radius for all four arcs, the largest that stays inside the cell.
    const qreal r = std::max<qreal>(0, std::min({cx - x.lo, x.hi - cx, cy - y.lo, y.hi - cy}) - 0.5);
    const int sx = d.right ? 1 : -1, sy = d.down ? 1 : -1;
    const QPointF c(cx + sx * r, cy + sy * r);
    const qreal start = sy > 0 ? 90 : 270, end = sx > 0 ? 180 : 0;
    qreal sweep = end - start;
    if (sweep > 180) sweep -= 360;
    if (sweep < -180) sweep += 360;
    QPainterPath& path = out.strokes;
    path.moveTo(sx > 0 ? x.hi : x.lo, cy);
    path.lineTo(c.x(), cy);
    path.arcTo(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), start, sweep);
    path.lineTo(cx, sy > 0 ? y.hi : y.lo);
    out.stroke_width = x.b.t;
}

void add_diagonals(const box_desc& d, const QRect& cell, int light, glyph_shapes& out) {
    const qreal l = cell.left(), t = cell.top(), r = cell.left() + cell.width(), b = cell.top() + cell.height();
    if (d.n & 1) {
        out.strokes.moveTo(r, t);
        out.strokes.lineTo(l, b);
    }
    if (d.n & 2) {
        out.strokes.moveTo(l, t);
        out.strokes.lineTo(r, b);
    }
    out.stroke_width = light;
}

void add_block(const block_desc& d, const QRect& cell, glyph_shapes& out) {
    const int x0 = cell.left(), y0 = cell.top(), w = cell.width(), h = cell.height();
    auto at_x = [&](int e) { return x0 + w * e / 8; };
    auto at_y = [&](int e) { return y0 + h * e / 8; };
    if (d.shade) {
        out.shades.push_back({cell, d.shade});
    } else if (d.quadrants) {
        for (int q = 0; q < 4; ++q) {
            if (!(d.quadrants & (1 << q))) continue;
            const int ex = (q & 1) * 4, ey = (q & 2) * 2;
            out.rects.emplace_back(QPoint(at_x(ex), at_y(ey)), QPoint(at_x(ex + 4) - 1, at_y(ey + 4) - 1));
        }
    } else {
        // An eighth of a narrow cell is still one pixel.
        const int x0e = at_x(d.x0), y0e = at_y(d.y0);
        const int x1e = std::max(at_x(d.x1), x0e + 1), y1e = std::max(at_y(d.y1), y0e + 1);
        out.rects.emplace_back(x0e, y0e, x1e - x0e, y1e - y0e);
    }
}

axis x_axis(const QRect& cell, int light) {
    return {cell.left(), cell.left() + cell.width(), {cell.left() + cell.width() / 2, light}};
}
axis y_axis(const QRect& cell, int light) {
    return {cell.top(), cell.top() + cell.height(), {cell.top() + cell.height() / 2, light}};
}

// The graphics set 0x5F..0x7E.
enum class dec : std::uint8_t { blank, text, box, diamond, checker, symbol, scan };
struct dec_desc {
    dec k;
    char32_t box = 0;          // the box-drawing character it shares its shape with
    const char* letters = "";  // the two letters of a control-code symbol
    int scan = 0;              // scan line 1..9 of a ten-line glyph
};
constexpr std::array<dec_desc, 32> dec_table{{
    {dec::blank},
    {dec::diamond},
    {dec::checker},
    {dec::symbol, 0, "HT"},  // _`ab
    {dec::symbol, 0, "FF"},
    {dec::symbol, 0, "CR"},
    {dec::symbol, 0, "LF"},
    {dec::text},  // cdef
    {dec::text},
    {dec::symbol, 0, "NL"},
    {dec::symbol, 0, "VT"},
    {dec::box, 0x2518},  // ghij
    {dec::box, 0x2510},
    {dec::box, 0x250C},
    {dec::box, 0x2514},
    {dec::box, 0x253C},  // klmn
    {dec::scan, 0, "", 1},
    {dec::scan, 0, "", 3},
    {dec::box, 0x2500},
    {dec::scan, 0, "", 7},  // opqr
    {dec::scan, 0, "", 9},
    {dec::box, 0x251C},
    {dec::box, 0x2524},
    {dec::box, 0x2534},  // stuv
    {dec::box, 0x252C},
    {dec::box, 0x2502},
    {dec::text},
    {dec::text},  // wxyz
    {dec::text},
    {dec::text},
    {dec::text},
    {dec::text},  // {|}~
}};

QBrush stipple(const QColor& ink, int quarters) {
    // 2x2 patterns: one, two (a checkerboard) or three pixels of four.
    QImage img(2, 2, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    const QRgb c = ink.rgba();
    img.setPixel(0, 0, c);
    if (quarters >= 2) img.setPixel(1, 1, c);
    if (quarters >= 3) img.setPixel(1, 0, c);
    return QBrush(img);
}

}  // namespace

int light_thickness(int cell_w, int cell_h) { return std::max(1, std::min(cell_h / 16, cell_w / 4)); }

bool is_box_glyph(char32_t cp) { return cp >= 0x2500 && cp <= 0x259F; }

bool box_glyph(char32_t cp, const QRect& cell, int light, glyph_shapes& out) {
    if (!is_box_glyph(cp) || cell.isEmpty()) return false;
    out.cell = cell;
    if (cp >= 0x2580) {
        add_block(block_table[cp - 0x2580], cell, out);
        return true;
    }
    const box_desc& d = box_table[cp - 0x2500];
    const axis x = x_axis(cell, light), y = y_axis(cell, light);
    switch (d.k) {
    case kind::lines: add_lines(d, x, y, out); break;
    case kind::dash: add_dashes(d, x, y, out); break;
    case kind::arc: add_arc(d, x, y, out); break;
    case kind::diagonal: add_diagonals(d, cell, light, out); break;
    }
    return true;
}

bool dec_glyph(std::uint8_t c, const QRect& cell, int light, glyph_shapes& out) {
    if (c < 0x5F || c > 0x7E || cell.isEmpty()) return false;
    const dec_desc& d = dec_table[c - 0x5F];
    const int x0 = cell.left(), y0 = cell.top(), w = cell.width(), h = cell.height();
    out.cell = cell;
    switch (d.k) {
    case dec::blank:
    case dec::text: return false;
    case dec::box: return box_glyph(d.box, cell, light, out);
    case dec::diamond: {
        const axis x = x_axis(cell, light), y = y_axis(cell, light);
        const qreal cx = x.b.centre(), cy = y.b.centre();
        const qreal hw = std::max(1.5, w * 0.4), hh = std::min(h * 0.4, hw * 1.4);
        out.fills.push_back(
            QPolygonF({QPointF(cx, cy - hh), QPointF(cx + hw, cy), QPointF(cx, cy + hh), QPointF(cx - hw, cy)}));
        return true;
    }
    case dec::checker: out.shades.push_back({cell, 2}); return true;
    case dec::symbol: {
        // The first letter high on the left, the second low on the right, as the terminal's ROM draws them.
        const int lw = std::max(1, w * 3 / 5), lh = std::max(1, h / 2);
        out.labels.push_back({QRect(x0, y0 + h / 16, lw, lh), QString(QChar(d.letters[0]))});
        out.labels.push_back({QRect(x0 + w - lw, y0 + h - lh - h / 16, lw, lh), QString(QChar(d.letters[1]))});
        return true;
    }
    case dec::scan: {
        // Scan line 5 is the box-drawing line; the others are h/5 apart around it.
        const int t = light;
        const int c5 = y_axis(cell, light).b.a();
        const int top = std::clamp(c5 + (d.scan - 5) * h / 10, y0, y0 + h - t);
        out.rects.emplace_back(x0, top, w, t);
        return true;
    }
    }
    return false;
}

void paint_glyph(QPainter& p, const glyph_shapes& g, const QColor& ink, const QFont& font) {
    p.save();
    p.setClipRect(g.cell, Qt::IntersectClip);
    for (const QRect& r : g.rects) p.fillRect(r, ink);
    for (const glyph_shapes::shade& s : g.shades) p.fillRect(s.area, stipple(ink, s.quarters));
    if (!g.fills.empty() || !g.strokes.isEmpty()) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        for (const QPolygonF& f : g.fills) p.drawPolygon(f);
        // Square caps: the cell's clip cuts them at the edges, where the neighbour continues the line.
        if (!g.strokes.isEmpty()) p.strokePath(g.strokes, QPen(ink, g.stroke_width, Qt::SolidLine, Qt::SquareCap));
    }
    if (!g.labels.empty()) {
        QFont small(font);
        small.setPixelSize(std::max(4, g.labels.front().box.height() * 9 / 10));
        small.setBold(false);
        p.setFont(small);
        p.setPen(ink);
        for (const glyph_shapes::label& l : g.labels) p.drawText(l.box, Qt::AlignCenter, l.text);
    }
    p.restore();
}
