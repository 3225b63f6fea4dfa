// The terminal view on the offscreen platform: what it draws for the emulator's screen, how it fits its font,
// and what key events send to the host.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTest>
#include <cstring>

#include "config/maps.h"
#include "config/settings.h"
#include "../support/qt_test_support.h"
#include "view_fixture.h"
#include "fakes.h"
#include "session/session.h"
#include "terminal/screen.h"
#include "terminal/vt.h"
#include "view/document.h"
#include "view/render.h"
#include "view/view.h"
#include "view/view_mouse.h"

namespace {
using qt_test_support::test_app;


TEST_F(view_fixture, PlainTextInkOnPaperAndBoldColour) {
    feed("\x1b[2;1HAB\x1b[1mCD\x1b[m");
    QImage img = shot();
    // Text cells hold both ink and paper; an empty cell is paper only.
    EXPECT_GT(count(img, cell(2, 1), FG), 0);
    EXPECT_GT(count(img, cell(2, 1), BG), 0);
    EXPECT_EQ(count(img, cell(5, 40), BG), area(cell(5, 40)));
    EXPECT_GT(count(img, cell(2, 3), BOLD), 0) << "bold text uses the bold colour";
    EXPECT_EQ(count(img, cell(2, 3), FG), 0);
}

TEST_F(view_fixture, ReverseAttributeAndReverseScreen) {
    feed("\x1b[3;1H\x1b[7m \x1b[m");
    QImage img = shot();
    EXPECT_EQ(count(img, cell(3, 1), FG), area(cell(3, 1))) << "a reversed blank is a block of foreground";
    feed("\x1b[?5h");  // reverse screen
    img = shot();
    EXPECT_EQ(count(img, cell(10, 10), FG), area(cell(10, 10)));
    EXPECT_EQ(count(img, cell(3, 1), BG), area(cell(3, 1))) << "reverse on a reverse screen";
    feed("\x1b[4;1H\x1b[1mX\x1b[m");
    img = shot();
    EXPECT_GT(count(img, cell(4, 1), BOLD), 0);
    EXPECT_GT(count(img, cell(4, 1), FG), 0) << "bold on foreground-coloured paper";
}

TEST_F(view_fixture, CursorShapes) {
    feed("\x1b[5;10H");
    QRect c = cell(5, 10);
    settings().cursortype = 0;
    QImage img = shot();
    EXPECT_EQ(count(img, c, CURSOR), area(c)) << "full block";
    settings().cursortype = 1;
    view->update_all();
    img = shot();
    int half = count(img, c, CURSOR);
    EXPECT_GT(half, area(c) / 3);
    EXPECT_LT(half, area(c) * 2 / 3) << "half block";
    // Only the lower half is filled.
    EXPECT_EQ(count(img, QRect(c.left(), c.top(), c.width(), c.height() / 4), CURSOR), 0);
    settings().cursortype = 2;
    view->update_all();
    img = shot();
    EXPECT_EQ(count(img, c, CURSOR), c.width()) << "underline: one pixel row";
    // The cursor is not drawn where it is not.
    EXPECT_EQ(count(img, cell(5, 11), CURSOR), 0);
}

TEST_F(view_fixture, HalfBlockCursorShowsOnFirstRow) {
    settings().cursortype = 1;
    feed("\x1b[1;1H");
    EXPECT_GT(count(shot(), cell(1, 1), CURSOR), 0);
}

TEST_F(view_fixture, CursorHiddenWithoutFocusOrWhenHostHidesIt) {
    feed("\x1b[5;10H\x1b[?25l");
    EXPECT_EQ(count(shot(), cell(5, 10), CURSOR), 0);
    feed("\x1b[?25h");
    view->update_all();
    EXPECT_GT(count(shot(), cell(5, 10), CURSOR), 0);
    // Blinking cursor: visible while the phase is on only.
    settings().blink_cursor = 1;
    view->set_blink_phase(false);
    view->update_all();
    EXPECT_EQ(count(shot(), cell(5, 10), CURSOR), 0);
    view->set_blink_phase(true);
    view->update_all();
    EXPECT_GT(count(shot(), cell(5, 10), CURSOR), 0);
}

TEST_F(view_fixture, BlinkingTextFollowsThePhase) {
    feed("\x1b[6;1H\x1b[5mWWW\x1b[1mWWW\x1b[m\x1b[20;1H");
    view->set_blink_phase(true);
    view->update_all();
    QImage on = shot();
    EXPECT_EQ(count(on, cell(6, 1), BG), area(cell(6, 1))) << "invisible while the phase is on";
    EXPECT_EQ(count(on, cell(6, 4), BG), area(cell(6, 4))) << "bold blinking text too";
    view->set_blink_phase(false);
    view->update_all();
    QImage off = shot();
    EXPECT_GT(count(off, cell(6, 1), FG), 0);
    EXPECT_GT(count(off, cell(6, 4), BOLD), 0);
    // The blink timer step flips the phase.
    bool before = view->blink_phase();
    view->blink_tick();
    EXPECT_NE(view->blink_phase(), before);
}

TEST_F(view_fixture, LineDrawingCharacters) {
    feed("\x1b[7;1H\x1b(0qx`a\x1b(B\x1b[20;1H");
    QImage img = shot();
    QRect q = cell(7, 1), x = cell(7, 2), blank = cell(7, 3), full = cell(7, 4);
    // q: one horizontal line across the middle.
    int mid = q.top() + q.height() / 2;
    EXPECT_EQ(count(img, QRect(q.left(), mid, q.width(), 1), FG), q.width());
    EXPECT_EQ(count(img, q, FG), q.width());
    // x: one vertical line down the centre.
    int cx = x.left() + x.width() / 2;
    EXPECT_EQ(count(img, QRect(cx, x.top(), 1, x.height()), FG), x.height());
    EXPECT_EQ(count(img, x, FG), x.height());
    // '`': a diamond in the middle of the cell, not a block; 'a': a checkerboard.
    const QRect diamond = blank;
    EXPECT_GT(count(img, diamond, FG), 0);
    EXPECT_LT(count(img, diamond, FG), area(diamond) / 2);
    EXPECT_EQ(count(img, QRect(diamond.topLeft(), QSize(2, 2)), FG), 0);
    EXPECT_NEAR(count(img, full, FG), area(full) / 2, 1) << "'a' is a checkerboard";
}

TEST_F(view_fixture, BoxDrawingJoinsAcrossLineGapAndCharacterExtra) {
    // A window that leaves spare pixels between the font's cells.
    for (int extra = 0; extra < 80 && (view->line_gap() == 0 || view->character_extra() == 0); extra += 3) {
        view->resize(800 + extra * 4, 480 + extra);
        view->refit();
    }
    ASSERT_GT(view->line_gap(), 0);
    ASSERT_GT(view->character_extra(), 0);
    settings().utf8 = 1;
    view->settings_changed();
    view->terminal().options().utf8 = true;
    // │ over │ over └── in UTF-8, and the same in the graphics set.
    feed("\x1b[3;2H\xe2\x94\x82\x1b[4;2H\xe2\x94\x82\x1b[5;2H\xe2\x94\x94\xe2\x94\x80\xe2\x94\x80");
    feed("\x1b[3;12H\x1b(0x\x1b[4;12Hx\x1b[5;12Hmqq\x1b(B\x1b[20;1H");
    const QImage img = shot();
    for (int col : {2, 12}) {
        const QRect a = cell(3, col), corner = cell(5, col), end = cell(5, col + 2);
        const int x = a.left() + a.width() / 2, y = corner.top() + corner.height() / 2;
        EXPECT_EQ(count(img, QRect(x, a.top(), 1, y - a.top() + 1), FG), y - a.top() + 1) << col << ": down";
        EXPECT_EQ(count(img, QRect(x, y, end.right() - x + 1, 1), FG), end.right() - x + 1) << col << ": across";
    }
    settings().utf8 = 0;
    view->settings_changed();
    view->terminal().options().utf8 = false;
}

TEST_F(view_fixture, HostCursorShapeInTheXtermEmulationOnly) {
    settings().cursortype = 1;
    const QRect c = cell(5, 10);
    view->terminal().set_emulation(emulation::xterm);
    feed("\x1b[5;10H\x1b[6 q");  // steady bar
    view->update_all();
    QImage img = shot();
    EXPECT_EQ(count(img, c, CURSOR), 2 * c.height()) << "bar";
    EXPECT_EQ(count(img, QRect(c.left(), c.top(), 2, c.height()), CURSOR), 2 * c.height()) << "at the left";
    feed("\x1b[4 q");  // steady underline
    view->update_all();
    EXPECT_EQ(count(shot(), c, CURSOR), c.width());
    feed("\x1b[2 q");  // steady block
    view->update_all();
    EXPECT_EQ(count(shot(), c, CURSOR), area(c));
    // A blinking shape blinks though the user's cursor does not.
    feed("\x1b[5 q");
    view->set_blink_phase(false);
    view->update_all();
    EXPECT_EQ(count(shot(), c, CURSOR), 0);
    view->set_blink_phase(true);
    view->update_all();
    EXPECT_EQ(count(shot(), c, CURSOR), 2 * c.height());
    // 0 gives the choice back: the user's half block.
    feed("\x1b[0 q");
    view->update_all();
    const int half = count(shot(), c, CURSOR);
    EXPECT_GT(half, area(c) / 3);
    EXPECT_LT(half, area(c) * 2 / 3);
    // The VT220 does not take the sequence (its space ends it and the 'q' is text).
    view->terminal().set_emulation(emulation::vt220);
    feed("\x1b[6 q\x1b[7;10H");
    view->update_all();
    EXPECT_EQ(count(shot(), cell(7, 10), CURSOR), half);
}

// xterm draws bold text in the bold face; the VT220 shows it by the bold colour alone.
TEST_F(view_fixture, BoldFaceInTheXtermEmulationOnly) {
    auto ink = [&](const QImage& img, int row, int col) {
        return area(cell(row, col)) - count(img, cell(row, col), BG);
    };
    for (const bool xterm : {true, false}) {
        SCOPED_TRACE(xterm ? "xterm" : "vt220");
        view->terminal().set_emulation(xterm ? emulation::xterm : emulation::vt220);
        feed("\x1b[2J\x1b[3;1H\x1b[1mMW\x1b[m MW\x1b[4;1H\x1b[1;3mM\x1b[m \x1b[3mM\x1b[m");
        const QImage img = shot();
        EXPECT_GT(count(img, cell(3, 1), BOLD), 0) << "the bold colour either way";
        for (int c : {1, 2}) {
            if (xterm)
                EXPECT_GT(ink(img, 3, c), ink(img, 3, c + 3) * 11 / 10) << c;
            else
                EXPECT_EQ(ink(img, 3, c), ink(img, 3, c + 3)) << c;
        }
        if (xterm)
            EXPECT_GT(ink(img, 4, 1), ink(img, 4, 3) * 11 / 10) << "bold italic";
        else
            EXPECT_EQ(ink(img, 4, 1), ink(img, 4, 3)) << "italic";
    }
}

// Rounded up, ascent and descent can be a pixel taller than the cell; the glyphs must keep their bottoms then (an
// underscore sits there and the next row's paper would hide it).
TEST_F(view_fixture, UnderscoreAndDescendersStayInTheirCellAtEverySize) {
    for (const char* face : {"DejaVu Sans Mono", "Courier New"}) {
        std::snprintf(settings().font_name, sizeof settings().font_name, "%s", face);
        for (int h = 8; h <= 40; ++h) {
            SCOPED_TRACE(std::string(face) + ", view " + std::to_string(h) + " px a row");
            view->resize(800, h * 24);
            view->refit();
            feed("\x1b[2J\x1b[5;1H_g\x1b[6;1H\x1b[7m  \x1b[m\x1b[H");
            const QImage img = shot();
            EXPECT_GT(area(cell(5, 1)) - count(img, cell(5, 1), BG), 0) << "underscore";
            // The reversed row below is all foreground: nothing of row 5 is painted over it.
            EXPECT_EQ(count(img, cell(6, 2), FG), area(cell(6, 2)));
        }
    }
}

TEST_F(view_fixture, LineDrawingJoinsWithoutGaps) {
    // A box's right side ('x' over 'j') and a T joint ('q' then 'u'): lines that run up or left still meet.
    feed("\x1b[10;1H\x1b(0x\x1b[11;1Hj\x1b[12;1Hqu\x1b(B\x1b[20;1H");
    QImage img = shot();
    QRect x = cell(10, 1), j = cell(11, 1), q = cell(12, 1), u = cell(12, 2);
    int cx = x.left() + x.width() / 2;
    int jy = j.top() + j.height() / 2;
    EXPECT_EQ(count(img, QRect(cx, x.top(), 1, jy - x.top() + 1), FG), jy - x.top() + 1);
    int my = q.top() + q.height() / 2;
    int ux = u.left() + u.width() / 2;
    EXPECT_EQ(count(img, QRect(q.left(), my, ux - q.left() + 1, 1), FG), ux - q.left() + 1);
    EXPECT_EQ(count(img, QRect(u.right(), my, 1, 1), FG), 0) << "'u' has no arm to the right";
}

TEST_F(view_fixture, DoubleWidthLineSpreadsCharacters) {
    feed("\x1b[8;1H\x1b#6\x1b(0qq\x1b(B\x1b[9;1H\x1b(0qq\x1b(B\x1b[20;1H");
    QImage img = shot();
    int w = view->cell_width();
    // The double-width row's two line characters span four normal cells.
    QRect dw(0, cell(8, 1).top(), 4 * w, view->cell_height());
    QRect sw(0, cell(9, 1).top(), 4 * w, view->cell_height());
    EXPECT_EQ(count(img, dw, FG), 4 * w);
    EXPECT_EQ(count(img, sw, FG), 2 * w);
}

TEST_F(view_fixture, DoubleHeightPairDrawsTallGlyph) {
    feed("\x1b[10;1H\x1b#3MM\x1b[11;1H\x1b#4MM\x1b[20;1H");
    QImage img = shot();
    // Ink appears in both rows of the pair: the top row carries the upper half of the glyph.
    EXPECT_GT(count(img, cell(10, 1).united(cell(10, 2)), FG), 0);
    EXPECT_GT(count(img, cell(11, 1).united(cell(11, 2)), FG), 0);
    // A lone top half shows only background.
    feed("\x1b[13;1H\x1b#3MM\x1b[20;1H");
    img = shot();
    EXPECT_EQ(count(img, cell(13, 1), FG), 0);
}

// Colours and further attributes put into the ring directly, as an emulator that sets them would leave them.
TEST_F(view_fixture, CellColoursAndFurtherAttributes) {
    const std::uint32_t red = colour_index(1), blue = colour_index(4);
    const int RED = bgr_of_rgb(0xcd0000), BRIGHT_RED = bgr_of_rgb(0xff0000), BLUE = bgr_of_rgb(0x0000ee);
    const int DIRECT = bgr_of_rgb(0x123456);
    screen_ring& rg = view->ring();
    rg.put_cell('X', 6, 2, {red, blue, 0});
    rg.put_cell(' ', 6, 4, {0, colour_rgb(0x12, 0x34, 0x56), 0});
    rg.put_cell(' ', 6, 5, {red, 0, extra_strike});
    rg.put_cell(' ', 6, 6, {red, 0, extra_overline});
    rg.put_cell(' ', 6, 7, {red, 0, extra_double_underline});
    rg.put_cell(cell_bold | 'X', 6, 8, {red, 0, 0});
    rg.put_cell('X', 6, 9, {red, blue, extra_italic});
    rg.put_cell('X', 6, 10, {red, blue, 0});
    rg.put_cell('X', 6, 11, {red, blue, extra_invisible});
    rg.put_cell(cell_reverse | ' ', 6, 12, {red, blue, 0});
    QImage img = shot();
    const QRect x = cell(6, 2);
    EXPECT_GT(count(img, x, RED), 0) << "red ink";
    EXPECT_GT(count(img, x, BLUE), area(x) / 2) << "on blue paper";
    EXPECT_EQ(count(img, x, FG) + count(img, x, BG), 0) << "none of the user's colours";
    EXPECT_EQ(count(img, cell(6, 3), BG), area(cell(6, 3))) << "the run ends where the colours do";
    EXPECT_EQ(count(img, cell(6, 4), DIRECT), area(cell(6, 4)));
    const int cw = view->cell_width();
    EXPECT_EQ(count(img, cell(6, 5), RED), cw) << "strike-through: one line across the cell";
    EXPECT_EQ(count(img, QRect(cell(6, 5).topLeft(), QSize(cw, 2)), RED), 0) << "not at the top";
    EXPECT_EQ(count(img, QRect(cell(6, 6).topLeft(), QSize(cw, 1)), RED), cw) << "overline on the top row";
    EXPECT_EQ(count(img, cell(6, 6), RED), cw);
    EXPECT_EQ(count(img, cell(6, 7), RED), 2 * cw) << "double underline";
    EXPECT_GT(count(img, cell(6, 8), BRIGHT_RED), 0) << "bold red shows bright red";
    EXPECT_EQ(count(img, cell(6, 8), RED), 0);
    EXPECT_NE(img.copy(cell(6, 9)), img.copy(cell(6, 10))) << "italic face";
    EXPECT_GT(count(img, cell(6, 9), RED), 0);
    EXPECT_EQ(count(img, cell(6, 11), BLUE), area(cell(6, 11))) << "invisible";
    EXPECT_EQ(count(img, cell(6, 12), RED), area(cell(6, 12))) << "reverse: a block of the foreground colour";

    settings().bold_bright = 0;
    img = shot();
    EXPECT_GT(count(img, cell(6, 8), RED), 0) << "bold without bright colours";
    EXPECT_EQ(count(img, cell(6, 8), BRIGHT_RED), 0);
}

TEST_F(view_fixture, UnderlineSkipsUnderscore) {
    feed("\x1b[12;1H\x1b[4m \x1b[m\x1b[12;3H\x1b[4m_\x1b[m \x1b[20;1H");
    QImage img = shot();
    EXPECT_EQ(count(img, cell(12, 1), FG), view->cell_width()) << "an underlined blank is a line";
    QImage plain = img;
    feed("\x1b[12;5H_");
    QImage ref = shot();
    EXPECT_EQ(count(img, cell(12, 3), FG), count(ref, cell(12, 5), FG)) << "no extra line under '_'";
}

TEST_F(view_fixture, PartlyExposedRowKeepsItsMarkUntilDrawnWhole) {
    view->render_image();
    feed("\x1b[5;70HZ\x1b[20;1H");
    ASSERT_TRUE(view->ring().row_marked(5));
    // An exposed corner that cuts through row 5: the right part of the row is not drawn yet.
    view->repaint(QRect(0, 0, 2 * view->cell_width(), 10 * view->cell_height()));
    EXPECT_TRUE(view->ring().row_marked(5));
    // The pending repaint draws the whole row and consumes the mark.
    QApplication::processEvents();
    QTest::qWait(60);
    QApplication::processEvents();
    EXPECT_FALSE(view->ring().row_marked(5));
    EXPECT_GT(count(view->grab().toImage(), cell(5, 70), FG), 0);
}

TEST_F(view_fixture, NoRepaintLoopWhenTheGridIsTallerThanTheView) {
    view->resize(60, 30);  // smaller than any grid
    view->refit();
    feed("\x1b[24;1Hbottom");
    view->render_image();
    QApplication::processEvents();
    QTest::qWait(60);
    QApplication::processEvents();
    EXPECT_FALSE(view->ring().row_marked(24));
}

TEST_F(view_fixture, FontFitsWindowAndShrinksFor132Columns) {
    for (QSize sz : {QSize(640, 400), QSize(1024, 700), QSize(1600, 1000)}) {
        view->resize(sz);
        view->refit();
        EXPECT_LE(80 * view->cell_width(), sz.width()) << sz.width();
        EXPECT_LE(24 * view->cell_height(), sz.height());
        EXPECT_GT(80 * view->cell_width(), sz.width() - 80) << "surplus is spread as character extra";
        EXPECT_GT(24 * view->cell_height(), sz.height() - 24) << "and as line gap";
    }
    view->resize(1024, 700);
    view->refit();
    int h80 = settings().fontsize;
    feed("\x1b[?3h");
    EXPECT_EQ(view->columns(), 132);
    EXPECT_LT(settings().fontsize, h80);
    EXPECT_LE(132 * view->cell_width(), 1024);
    int small = settings().fontsize;
    view->resize(1600, 1000);
    view->refit();
    EXPECT_GT(settings().fontsize, small);
}

TEST_F(view_fixture, ScrollBarTakesItsWidth) {
    view->resize(800, 480);
    view->show_scroll_bar(true);
    int with = 80 * view->cell_width();
    EXPECT_LE(with + view->scroll_bar_width(), 800);
    EXPECT_GT(view->scroll_bar_width(), 0);
    view->show_scroll_bar(false);
    EXPECT_EQ(view->scroll_bar_width(), 0);
}

TEST_F(view_fixture, ScrollBackShowsHistory) {
    settings().scroll_bar = 1;
    view->show_scroll_bar(true);
    for (int i = 0; i < 30; ++i) feed("line\r\n");
    view->set_scroll_position(190);
    EXPECT_EQ(view->scroll_position(), 190);
    view->set_scroll_position(500);
    EXPECT_EQ(view->scroll_position(), 200);
    view->set_scroll_position(-3);
    EXPECT_EQ(view->scroll_position(), 1);
}

TEST_F(view_fixture, CellGeometry) {
    QPoint c = view->cell_at(QPoint(view->cell_width() * 3 + 1, view->cell_height() * 2 + 1));
    EXPECT_EQ(c, QPoint(4, 3));
    EXPECT_EQ(view->cell_at(QPoint(-5, 99999)), QPoint(1, 24));
}

TEST_F(view_fixture, KeyEventsReachTheHost) {
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    sockets.sent.clear();
    key(Qt::Key_A, Qt::NoModifier, "a");
    key(Qt::Key_Return, Qt::NoModifier, "\r");
    key(Qt::Key_Backspace, Qt::NoModifier, "\b");
    key(Qt::Key_H, Qt::ControlModifier, "\x08");
    key(Qt::Key_C, Qt::ControlModifier, "\x03");
    key(Qt::Key_Escape, Qt::NoModifier, "\x1b");
    key(Qt::Key_Tab, Qt::NoModifier, "\t");
    EXPECT_EQ(sockets.sent, std::string("a\r\x7f\x08\x03\x1b\t"));
    sockets.sent.clear();
    // Keypad + with NumLock on sends once; Alt combinations never reach the host.
    key(Qt::Key_Plus, Qt::KeypadModifier, "+");
    key(Qt::Key_F, Qt::AltModifier, "f");
    key(Qt::Key_5, Qt::KeypadModifier, "5");
    EXPECT_EQ(sockets.sent, "+5");
    sockets.sent.clear();
    // Keypad 5 with NumLock off (Clear), in application keypad mode.
    feed("\x1b=");
    key(Qt::Key_Clear, Qt::KeypadModifier);
    key(Qt::Key_Enter, Qt::KeypadModifier, "\r");
    EXPECT_EQ(sockets.sent, "\x1bOu\x1bOM");
    sockets.sent.clear();
    // Characters go out as their byte in the script's code page (Windows-1252 here); others are not sent.
    key(Qt::Key_Eacute, Qt::NoModifier, QString(QChar(0xe9)));
    key(Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x20ac)));
    key(Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x416)));
    EXPECT_EQ(sockets.sent, "\xe9\x80");
}

TEST_F(view_fixture, CtrlCCopiesASelectionWithoutLosingTheNextKey) {
    settings().use_cv = 1;
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    feed("some text");
    view->mouse().select_all();
    ASSERT_TRUE(view->mouse().has_selection());
    sockets.sent.clear();
    key(Qt::Key_C, Qt::ControlModifier, "\x03");
    key(Qt::Key_A, Qt::NoModifier, "a");
    EXPECT_EQ(sockets.sent, "a");
    settings().use_cv = 0;
}

TEST_F(view_fixture, ComposedTextFromTheInputMethodIsTyped) {
    // Dead keys and compose sequences: the committed text goes out like typed characters, in the code page.
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    EXPECT_TRUE(static_cast<QWidget*>(view.get())->inputMethodQuery(Qt::ImEnabled).toBool());
    EXPECT_TRUE(view->testAttribute(Qt::WA_InputMethodEnabled));
    sockets.sent.clear();
    QInputMethodEvent e;
    e.setCommitString(QString::fromUtf8("\xc3\xa9^\xe2\x82\xac~\xd0\x96"));
    QApplication::sendEvent(view.get(), &e);
    EXPECT_EQ(sockets.sent, "\xe9^\x80~");
    QInputMethodEvent preedit(QStringLiteral("\u00b4"), {});
    QApplication::sendEvent(view.get(), &preedit);
    EXPECT_EQ(sockets.sent, "\xe9^\x80~") << "text still being composed is not sent";
}

TEST_F(view_fixture, PrintScreenSendsOnRelease) {
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    key_table()[key_slot::print].length = 1;
    key_table()[key_slot::print].bytes[0] = 'P';
    key_table()[key_slot::num_lock].length = 1;
    key_table()[key_slot::num_lock].bytes[0] = 'N';
    sockets.sent.clear();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Print, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &press);
    EXPECT_EQ(sockets.sent, "");
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Print, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &release);
    EXPECT_EQ(sockets.sent, "P");
    settings().numlock = 1;
    key(Qt::Key_Print);
    EXPECT_EQ(sockets.sent, "PNP");
    key_table()[key_slot::print].length = 0;
    key_table()[key_slot::num_lock].length = 0;
}

TEST_F(view_fixture, LocalEchoAndNewLineMode) {
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    settings().local_echo = 1;
    view->settings_changed();
    view->terminal().set_new_line_mode(true);
    sockets.sent.clear();
    feed("\x1b[1;1H");
    key(Qt::Key_Z, Qt::NoModifier, "z");
    key(Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_EQ(sockets.sent, "z\r\n");
    EXPECT_EQ(view->ring().line(1).cell(1) & cell_char_mask, 'z') << "echoed to the screen";
    EXPECT_EQ(view->terminal().cursor_row(), 2);
}

TEST_F(view_fixture, AutoRepeatDroppedWhenHostSwitchesItOff) {
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    sockets.sent.clear();
    feed("\x1b[?8l");
    key(Qt::Key_K, Qt::NoModifier, "k", true);
    key(Qt::Key_K, Qt::NoModifier, "k", false);
    EXPECT_EQ(sockets.sent, "k");
}

TEST_F(view_fixture, StatusTexts) {
    feed("\x1b[7;33H");
    EXPECT_EQ(view->position_text(), "Ln 7, Col 33");
    EXPECT_EQ(view->security_text(), QString(9, ' '));
    view->ssh_status = [] {
        CVellumView::ssh_state st;
        st.ssh2_keys_active = true;
        return st;
    };
    EXPECT_EQ(view->security_text(), QString(9, ' ')) << "not connected";
    ASSERT_TRUE(view->connect_to("127.0.0.1", 22));
    EXPECT_EQ(view->security_text(), "Secure (SSH-2)");
}

// A host that accepts slowly (or an SSH host that never finishes its key exchange) can be given up from the
// keyboard or with Disconnect, and the message pane says so while the attempt is set up.
TEST_F(view_fixture, AnAttemptBeingSetUpIsCancelledByEscOrDisconnect) {
    sockets.result = session_socket::connect_result::in_progress;
    for (const bool by_key : {true, false}) {
        SCOPED_TRACE(by_key ? "Esc" : "Disconnect");
        const int closed = sockets.closed;
        ASSERT_TRUE(view->connect_to("slow.example", 23));
        EXPECT_TRUE(view->net().setting_up());
        EXPECT_EQ(view->connection_text(), "Connecting to slow.example... (Esc or File > Disconnect cancels)");
        if (by_key)
            key(Qt::Key_Escape, Qt::NoModifier, "\x1b");
        else
            view->disconnect();
        EXPECT_FALSE(view->net().busy());
        EXPECT_EQ(sockets.closed, closed + 1);
        EXPECT_EQ(view->connection_text(), "Not connected");
    }
    EXPECT_TRUE(ui.messages.empty()) << "giving up is no failure to report";

    // Once the session stands, Esc is the host's key again.
    sockets.result = session_socket::connect_result::connected;
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    EXPECT_EQ(view->connection_text(), "");
    key(Qt::Key_Escape, Qt::NoModifier, "\x1b");
    EXPECT_TRUE(view->net().connected());
    EXPECT_EQ(sockets.sent, "\x1b");
}

TEST_F(view_fixture, AutomaticConnectionRunsOnce) {
    settings().autoconnect = 1;
    settings().host_name = "127.0.0.1";
    settings().port = 2323;
    EXPECT_TRUE(view->run_autoconnect());
    EXPECT_EQ(sockets.created, 1);
    view->disconnect();
    EXPECT_FALSE(view->run_autoconnect());
    EXPECT_EQ(sockets.created, 1);
}

TEST_F(view_fixture, NoAutomaticConnectionAfterManualOne) {
    settings().autoconnect = 1;
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    view->disconnect();
    EXPECT_FALSE(view->run_autoconnect());
    EXPECT_EQ(sockets.created, 1);
}
}  // namespace

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "view/help.h"

namespace {
TEST(HelpDocument, FoundBesideTheProgramOrInTheSourceTree) {
    test_app();
    QTemporaryDir empty;
    QString from_tree = help_file_path(empty.path());
    ASSERT_FALSE(from_tree.isEmpty()) << "the source tree's copy is found from a build tree";
    EXPECT_TRUE(from_tree.endsWith("dist/help/qtelnet.html"));
    // An installed copy next to the program wins.
    QTemporaryDir installed;
    QDir(installed.path()).mkpath("help");
    QFile f(installed.filePath("help/qtelnet.html"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<html></html>");
    f.close();
    EXPECT_EQ(help_file_path(installed.path()), QFileInfo(f.fileName()).canonicalFilePath());
    // Every dialog's section is there.
    QFile doc(from_tree);
    ASSERT_TRUE(doc.open(QIODevice::ReadOnly));
    QByteArray html = doc.readAll();
    for (const char* id : {"connect", "advanced", "proxy", "autologin", "terminal", "cursor", "margins", "keymaps",
                           "signon", "fonts", "colours"})
        EXPECT_TRUE(html.contains(QByteArray("id=\"") + id + "\"")) << id;
}
}  // namespace

TEST_F(view_fixture, ScriptCodePageAndUtf8DrawTheSameLetters) {
    // Byte 0xC6 is Ж in Windows-1251 and Æ in Windows-1252; the code point itself (utf8) draws the same Ж, also
    // after a wide character, which takes two cells.
    auto pixels = [&](int row, int col) { return shot().copy(cell(row, col)); };
    QApplication::processEvents();  // a pending re-fit must not change the font between the shots compared
    settings().font_charset = 204;
    view->settings_changed();
    feed("\x1b[3;1H\xc6");
    const QImage cyrillic = pixels(3, 1);
    settings().font_charset = 0;
    view->settings_changed();
    view->update_all();
    const QImage western = pixels(3, 1);
    EXPECT_NE(cyrillic, western);
    EXPECT_GT(count(cyrillic, cyrillic.rect(), FG), 0);

    settings().utf8 = 1;

    view->settings_changed();
    view->terminal().options().utf8 = true;
    feed("\x1b[5;1H\xd0\x96\xe4\xb8\xad\xd0\x96");
    EXPECT_EQ(pixels(5, 1), cyrillic);
    EXPECT_EQ(pixels(5, 4), cyrillic) << "the wide character took cells 2 and 3";
    settings().utf8 = 0;
    view->settings_changed();
}

TEST_F(view_fixture, TypedCharactersFollowTheScriptOrUtf8) {
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    const struct {
        int script;
        int utf8;
        char32_t typed;
        const char* sent;
    } cases[] = {
        {204, 0, U'\u0416', "\xc6"},
        {161, 0, U'\u03a9', "\xd9"},
        {255, 0, U'\u2502', "\xb3"},
        {2, 0, U'\u03b1', "a"},
        {2, 0, U'a', "a"},
        {204, 0, U'\u00e9', ""},
        {204, 1, U'\u0416', "\xd0\x96"},
        {0, 1, U'\u4e2d', "\xe4\xb8\xad"},
    };
    for (const auto& c : cases) {
        settings().font_charset = c.script;
        view->settings_changed();
        settings().utf8 = c.utf8;
        view->settings_changed();
        sockets.sent.clear();
        key(Qt::Key_unknown, Qt::NoModifier, QString::fromUcs4(&c.typed, 1));
        EXPECT_EQ(sockets.sent, c.sent) << c.script << " " << c.utf8 << " " << uint32_t(c.typed);
    }
    settings().utf8 = 0;
    view->settings_changed();
}

TEST_F(view_fixture, Utf8SwitchedOnTakesEffectOnceTheChangeIsPushed) {
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    settings().utf8 = 1;
    const std::string text = "\x1b[1;1H\xd0\x96";
    view->display_from_host(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    EXPECT_NE(cell_code(view->terminal().ring().line(1).cell(1)), 0x416u) << "not before the dialog's OK says so";
    view->settings_changed();
    view->display_from_host(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    EXPECT_EQ(cell_code(view->terminal().ring().line(1).cell(1)), 0x416u);
    settings().utf8 = 0;
    view->settings_changed();
}

// vim pushes the title, sets its own and pops it on exit: the window names the host again, not vim's farewell.
TEST_F(view_fixture, PoppedTitlesGiveTheWindowBackItsHostName) {
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    settings().termtype = "xterm-256color";
    view->settings_changed();
    QStringList titles;
    QObject::connect(view.get(), &CVellumView::title_changed, [&](const QString& t) { titles << t; });
    const std::string text = "\x1b[22;0t\x1b]2;vim: notes\x07\x1b]2;Thanks for flying Vim\x07\x1b[23;0t";
    view->display_from_host(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    ASSERT_FALSE(titles.isEmpty());
    EXPECT_EQ(titles.back(), QStringLiteral("127.0.0.1")) << titles.join('|').toStdString();
    settings().termtype = "vt220";
    view->settings_changed();
}

TEST_F(view_fixture, XtermTermtypeTakesEffectOnceThePushedChangeAndTitlesTheWindow) {
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    QStringList titles;
    QObject::connect(view.get(), &CVellumView::title_changed, [&](const QString& t) { titles << t; });
    auto host_data = [&](const std::string& text) {
        view->display_from_host(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    };
    host_data("\x1b]2;before\x07");
    EXPECT_TRUE(titles.isEmpty());
    settings().termtype = "xterm-256color";
    view->settings_changed();
    host_data("\x1b]2;caf\xe9\x07\x1b[?2004h");
    EXPECT_EQ(titles, QStringList{QStringLiteral("caf\u00e9")});
    EXPECT_TRUE(view->terminal().bracketed_paste());
    settings().termtype = "vt220";
    view->settings_changed();
    host_data("x");
    EXPECT_FALSE(view->terminal().bracketed_paste());
}

// -J of the command line is the way to the launched host only: another host connected later in the run goes
// straight, and the launched one keeps its hops.
TEST_F(view_fixture, LaunchJumpHostsLeadOnlyToTheLaunchedHost) {
    view->set_launch_jump("launched.example", "hop@127.0.0.1:2222");
    ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    EXPECT_TRUE(view->link().profile().ssh.proxy_jump.empty());
    view->disconnect();
    view->connect_to("launched.example", 23);
    EXPECT_EQ(view->link().profile().ssh.proxy_jump, "hop@127.0.0.1:2222");
    view->disconnect();
}
