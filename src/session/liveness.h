#pragma once
// Liveness of a connection as the status bar tells it, and the automatic reconnect's waits. Driven by a
// one-second tick of the window; no clock of its own.
#include <cstdint>

// "No answer for N s": how long a connected session has waited on its host. An SSH host answers every keep-alive,
// so any silence longer than the interval counts; a Telnet host owes an answer only to something sent (an echo),
// so an idle Telnet session is never silent, and its wait starts with the first unanswered send.
class silence_watch {
public:
    // One call a second. received: the session's byte count from the host; owed: something was sent after the
    // host's latest data; interval: the keep-alive interval in seconds, 0 turns the watch off.
    void tick(bool connected, bool ssh, std::uint64_t received, bool owed, int interval);
    // Seconds of silence once they exceed the interval; 0 otherwise.
    int silent_for() const { return shown_; }

private:
    bool was_connected_ = false;
    std::uint64_t received_ = 0;
    int seconds_ = 0;
    int shown_ = 0;
};

// Seconds before automatic attempt number `attempt` (1, 2, ...): 2, 4, 8, ... at most 60.
int reconnect_delay(int attempt);
