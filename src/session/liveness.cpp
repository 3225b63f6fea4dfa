#include "session/liveness.h"

void silence_watch::tick(bool connected, bool ssh, std::uint64_t received, std::uint64_t sent, int interval) {
    if (!connected || !was_connected_ || interval <= 0) {
        // A new connection starts from what the counters say now; nothing counts from the time before it.
        was_connected_ = connected;
        received_ = received;
        sent_ = sent;
        owed_ = false;
        seconds_ = shown_ = 0;
        return;
    }
    if (received != received_) {
        received_ = received;
        sent_ = sent;
        owed_ = false;
        seconds_ = shown_ = 0;
        return;
    }
    if (sent != sent_) {
        sent_ = sent;
        if (!owed_) seconds_ = 0;  // the wait starts with the first unanswered byte
        owed_ = true;
    }
    if (!ssh && !owed_) return;
    ++seconds_;
    shown_ = seconds_ > interval ? seconds_ : 0;
}

int reconnect_delay(int attempt) {
    if (attempt <= 1) return 2;
    if (attempt >= 6) return 60;  // 2^6 = 64
    return 1 << attempt;
}
