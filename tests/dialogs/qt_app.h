#pragma once
// One QApplication for the whole test program (offscreen platform).
#include <QApplication>

inline QApplication& test_app() {
    static int argc = 1;
    static char name[] = "dialogs_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}
