#pragma once
// What the Qt test programs share: one QApplication per program, a bounded event-loop wait, and a ui_services
// fake that records the messages and answers every question with Yes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "config/ui_services.h"

namespace qt_test_support {

// The application is deleted when the last test has run, inside RUN_ALL_TESTS, so it never meets the static
// destructors at exit (that order once crashed at exit in the platform plugin). A binary started by hand without
// QT_QPA_PLATFORM runs offscreen too, instead of aborting without a display or touching the desktop's clipboard.
class qt_app_environment : public ::testing::Environment {
public:
    static QApplication& app() {
        if (!app_) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "qt_test";
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

// Runs the event loop until done() holds or ms milliseconds have passed; false on the timeout.
inline bool pump_until(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

struct recording_ui final : ui_services {
    std::vector<std::string> messages;
    void message_box(std::string_view text) override { messages.emplace_back(text); }
    bool ask_yes_no(std::string_view) override { return true; }
};

}  // namespace qt_test_support
