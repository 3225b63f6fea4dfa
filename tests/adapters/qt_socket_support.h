#pragma once
// What the qt_socket test programs share: their Qt application, a socket_events sink that counts connects and
// errors, and a bounded wait on the event loop.
#include <QCoreApplication>
#include <QElapsedTimer>

#include "session/interfaces.h"

namespace qt_socket_support {

inline QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "qt_socket_support";
    static char* argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

struct counting_events : socket_events {
    int connects = 0, errors = 0;
    void on_read(int) override {}
    void on_connect_complete(int error) override { error == 0 ? ++connects : ++errors; }
    void on_close() override {}
};

// Runs the event loop until done() holds or ms milliseconds have passed; done() at the end.
template <class Pred>
bool spin(Pred done, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) app().processEvents(QEventLoop::AllEvents, 20);
    return done();
}

}  // namespace qt_socket_support
