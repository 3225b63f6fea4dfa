#pragma once
// One QApplication for the whole test program. It is deleted when the last test has run, inside RUN_ALL_TESTS,
// so it never meets the static destructors at exit (that order once crashed at exit in the platform plugin). A
// binary started by hand without QT_QPA_PLATFORM runs offscreen too, instead of aborting without a display or
// touching the desktop's clipboard.
#include <gtest/gtest.h>

#include <QApplication>

class qt_app_environment : public ::testing::Environment {
public:
    static QApplication& app() {
        if (!app_) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "dialogs_test";
            static char* argv[] = {name, nullptr};
            app_ = new QApplication(argc, argv);
        }
        return *app_;
    }
    void SetUp() override { app(); }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    static inline QApplication* app_ = nullptr;
};

inline ::testing::Environment* const qt_app_env = ::testing::AddGlobalTestEnvironment(new qt_app_environment);

inline QApplication& test_app() { return qt_app_environment::app(); }
