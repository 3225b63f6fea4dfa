#pragma once
// The read loop pumps the event loop before every socket read so the window stays alive during a flood. A Qt
// event-loop round polls every descriptor, and at one round per 2000-byte read it cost more than the decryption
// and the emulator together; a round every millisecond keeps input and painting as prompt to a person.
#include <QCoreApplication>
#include <QElapsedTimer>

class paced_event_pump {
public:
    static constexpr qint64 interval_ms = 1;

    // Dispatches pending events (for at most max_ms) unless a round ran less than interval_ms ago. False once the
    // application is closing down.
    bool pump(int max_ms = 5) {
        if (QCoreApplication::closingDown()) return false;
        if (last_.isValid() && last_.elapsed() < interval_ms) return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, max_ms);
        last_.start();
        return !QCoreApplication::closingDown();
    }

private:
    QElapsedTimer last_;
};
