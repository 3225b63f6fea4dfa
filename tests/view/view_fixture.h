#pragma once
// A terminal view on the offscreen platform with known colours, fed directly or as host data, and typed at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <memory>
#include <string>

#include "../support/qt_test_support.h"
#include "config/settings.h"
#include "fakes.h"
#include "view/document.h"
#include "view/render.h"
#include "view/view.h"

constexpr int FG = 0x000000;      // black
constexpr int BG = 0xFFFFFF;      // white
constexpr int BOLD = 0x0000FF;    // red
constexpr int CURSOR = 0x00FF00;  // green

struct view_fixture : ::testing::Test {
    recording_sockets sockets;
    recording_ui ui;
    std::unique_ptr<CVellumDoc> doc;
    std::unique_ptr<CVellumView> view;

    void SetUp() override {
        qt_test_support::test_app();
        reset_settings();
        Settings& s = settings();
        s.color_fg = FG;
        s.color_bg = BG;
        s.color_bold = BOLD;
        s.color_cursor = CURSOR;
        s.scroll_bar = 0;
        s.blink_cursor = 0;
        s.cursortype = 0;
        s.keyname = s.nettopc = s.pctonet = "/nonexistent";
        doc = std::make_unique<CVellumDoc>();
        view = std::make_unique<CVellumView>(*doc, ui, sockets);
        view->resize(800, 480);
        view->show();
        view->refit();
    }
    void TearDown() override {
        view.reset();
        doc.reset();
    }

    void feed(const std::string& bytes) {
        for (unsigned char c : bytes) {
            view->terminal().feed_byte(c);
            view->terminal().take_reply();
        }
    }
    // Bytes as the session receives them from the host.
    void host(const std::string& bytes) {
        view->display_from_host(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    QImage shot() { return view->render_image(); }
    QRect cell(int row, int col) const { return view->cell_rect(row, col); }
    // Pixels of one colour inside a rectangle.
    static int count(const QImage& img, const QRect& r, int bgr) {
        QRgb want = color_from_bgr(bgr).rgb();
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (img.pixel(x, y) == want) ++n;
        return n;
    }
    int area(const QRect& r) const { return r.width() * r.height(); }
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}, bool repeat = false) {
        QKeyEvent press(QEvent::KeyPress, k, mods, text, repeat);
        QApplication::sendEvent(view.get(), &press);
        QKeyEvent release(QEvent::KeyRelease, k, mods, text, repeat);
        QApplication::sendEvent(view.get(), &release);
    }
};
