// A host flooding the client over loopback, through the real Qt socket adapter, the session and the emulator with
// an event loop like vtsession's. Prints throughput, peak resident memory (VmHWM) and the worst lateness of a 10 ms
// timer during the flood, which is what a key press waits for.
//   bench_session_flood [MiB]   (default 1024)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "adapters/qt_socket.h"
#include "config/maps.h"
#include "config/settings.h"
#include "config/ui_services.h"
#include "session/session.h"
#include "terminal/vt.h"

namespace {

struct quiet_ui : ui_services {
    void message_box(std::string_view) override {}
    bool ask_yes_no(std::string_view) override { return false; }
};

struct pumping_view : session_view {
    bool pump_pending_messages() override {
        QCoreApplication::processEvents();
        return true;
    }
};

struct no_timer : session_timer {
    void start(int) override {}
    void stop() override {}
};

long peak_rss_kb() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1024;
    QCoreApplication app(argc, argv);

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("loopback listener");
        return 1;
    }
    std::thread host([listener, mib] {
        const int c = ::accept(listener, nullptr, nullptr);
        std::string block;
        while (block.size() < 65536) block += "The host floods the client with lines of plain text, 0123456789.\r\n";
        block.resize(65536);
        for (long sent = 0; c >= 0 && sent < mib * 16; ++sent)
            if (::send(c, block.data(), block.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(block.size())) break;
        if (c >= 0) ::close(c);
    });

    connection_profile s;
    translation_table_t nettopc{}, pctonet{};
    screen_ring ring;
    vt term(ring);
    qt_socket_factory sockets;
    no_timer timer;
    quiet_ui ui;
    pumping_view view;
    session net(term, s, nettopc, pctonet, sockets, timer, ui, view, system_session_clock());

    qint64 worst_late_ms = 0;
    QElapsedTimer since_tick;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { worst_late_ms = std::max(worst_late_ms, since_tick.restart() - 10); });

    QElapsedTimer clock;
    clock.start();
    if (!net.connect_to("127.0.0.1", ntohs(addr.sin_port))) return 1;
    since_tick.start();
    tick.start(10);
    while ((net.connecting() || net.connected()) && clock.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    host.join();
    ::close(listener);

    std::printf("loopback flood:        %ld MiB in %.2f s = %.1f MiB/s\n", mib, seconds,
                static_cast<double>(mib) / seconds);
    std::printf("peak resident memory:  %.1f MiB\n", static_cast<double>(peak_rss_kb()) / 1024.0);
    std::printf("worst 10 ms timer lateness during the flood: %lld ms\n", static_cast<long long>(worst_late_ms));
    return 0;
}
