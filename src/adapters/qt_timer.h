#pragma once
// A one-shot session timer on a QTimer; expiry calls the given function on the user-interface thread.
#include <QTimer>
#include <functional>

#include "session/interfaces.h"

class qt_timer final : public session_timer {
public:
    explicit qt_timer(std::function<void()> on_expiry = {});
    void set_callback(std::function<void()> on_expiry) { callback_ = std::move(on_expiry); }
    void start(int milliseconds) override;
    void stop() override;
    bool running() const { return timer_.isActive(); }

private:
    QTimer timer_;
    std::function<void()> callback_;
};
