#pragma once
// Box drawing (U+2500..U+257F), block elements (U+2580..U+259F) and the DEC special graphics set drawn as shapes
// over the whole cell, line gap and character extra included, so that neighbouring cells join without gaps
// whatever the font does.
#include <QPainterPath>
#include <QPolygonF>
#include <QRect>
#include <QString>
#include <cstdint>
#include <vector>

class QColor;
class QFont;
class QPainter;

// Filled shapes of one glyph in device pixels.
struct glyph_shapes {
    QRect cell;                    // nothing is drawn outside it
    std::vector<QRect> rects;      // solid ink: lines, blocks
    std::vector<QPolygonF> fills;  // antialiased ink: the diamond
    QPainterPath strokes;          // antialiased pen of stroke_width: arcs and diagonals
    qreal stroke_width = 0;
    struct shade {
        QRect area;
        int quarters;  // 1 light, 2 medium (checkerboard), 3 dark
    };
    std::vector<shade> shades;
    struct label {
        QRect box;
        QString text;
    };
    std::vector<label> labels;  // small letters: the control-code symbols of the DEC set

    bool empty() const {
        return rects.empty() && fills.empty() && strokes.isEmpty() && shades.empty() && labels.empty();
    }
};

// Thickness of a light line in a cell; heavy lines are twice that, double lines two light strokes with a light
// stroke's gap between them.
int light_thickness(int cell_w, int cell_h);

bool is_box_glyph(char32_t cp);
// The shapes of U+2500..U+259F in `cell`; false (and nothing added) for other code points.
bool box_glyph(char32_t cp, const QRect& cell, int light, glyph_shapes& out);
// The shapes of a graphics-set byte 0x5F..0x7E; false for bytes shown as text (graphics_text_char) and for the
// blank '_'.
bool dec_glyph(std::uint8_t c, const QRect& cell, int light, glyph_shapes& out);

// Paints the shapes in ink; labels take `font` at a fitting pixel size. Stipples are aligned to the device, so
// shaded cells side by side form one pattern.
void paint_glyph(QPainter& p, const glyph_shapes& g, const QColor& ink, const QFont& font);
