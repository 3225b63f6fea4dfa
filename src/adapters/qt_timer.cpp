#include "adapters/qt_timer.h"

qt_timer::qt_timer(std::function<void()> on_expiry) : callback_(std::move(on_expiry)) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (callback_) callback_();
    });
}

void qt_timer::start(int milliseconds) { timer_.start(milliseconds); }

void qt_timer::stop() { timer_.stop(); }
