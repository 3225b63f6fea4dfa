#pragma once
// Paces the terminal's size changes on their way to an SSH host: a drag of the window edge makes dozens a second,
// and each would be a window-change request and a SIGWINCH redraw on the host. The first change goes at once;
// changes within the next `interval_ms` wait, and when it ends only the last of them goes (then the interval
// starts again). So at most 1000 / interval_ms changes a second leave, and the host always ends on the last size.
#include <functional>
#include <optional>
#include <utility>

#include "session/interfaces.h"

namespace ssh {

class window_pacer {
public:
    static constexpr int interval_ms = 100;
    using sink = std::function<void(int rows, int columns)>;

    explicit window_pacer(sink out) : out_(std::move(out)) {}

    // Without a timer every change goes at once.
    void set_timer(session_timer* timer) { timer_ = timer; }

    void change(int rows, int columns) {
        if (timer_ && waiting_) {
            held_ = {rows, columns};
            return;
        }
        pass(rows, columns);
    }

    // The timer's expiry, routed here by its owner.
    void expired() {
        waiting_ = false;
        if (!held_) return;
        const auto [rows, columns] = *held_;
        held_.reset();
        pass(rows, columns);
    }

    bool holding() const { return held_.has_value(); }

private:
    void pass(int rows, int columns) {
        if (timer_) {
            waiting_ = true;
            timer_->start(interval_ms);
        }
        out_(rows, columns);
    }

    sink out_;
    session_timer* timer_ = nullptr;
    bool waiting_ = false;
    std::optional<std::pair<int, int>> held_;
};

}  // namespace ssh
