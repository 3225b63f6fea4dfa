#include "session/liveness.h"

void silence_watch::tick(bool connected, bool ssh, std::uint64_t received, bool owed, int interval) {
    if (!connected || !was_connected_ || interval <= 0 || received != received_) {
        // Data, or a new connection: the wait starts again from what the counter says now.
        was_connected_ = connected;
        received_ = received;
        seconds_ = shown_ = 0;
        return;
    }
    if (!ssh && !owed) {
        seconds_ = shown_ = 0;
        return;
    }
    ++seconds_;
    shown_ = seconds_ > interval ? seconds_ : 0;
}

int reconnect_delay(int attempt) {
    if (attempt <= 1) return 2;
    if (attempt >= 6) return 60;  // 2^6 = 64
    return 1 << attempt;
}
