#pragma once
// One QApplication for the whole test program (offscreen platform). It is never destroyed: tearing it down among
// the other static objects at exit crashes in the platform plugin.
#include <QApplication>

inline QApplication& test_app() {
    static int argc = 1;
    static char name[] = "dialogs_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}
