#pragma once
// The Qt side of one `connection`, shared by the window and vtsession: the set-up timer (proxy log-in and the
// connect limit), the SSH window-size pacing timer, the tunnels' local network and the keep-alive schedule. Made
// before the connection (whose parts name its set-up timer) and gone after it.
//
//   connection_runtime rt;
//   connection link(connection_parts{sockets, rt.setup_timer(), ...});
//   rt.attach(link);                                   // timers and keep-alives go to it from now on
//   rt.apply(connection_profile::from(settings(), {}, 0));
//   rt.enable_ssh(prompts, tunnel_news);
//   if (auto c = connection_runtime::take_ssh_config(p); c.refusal.empty()) link.connect(p);
#include <QTimer>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "adapters/qt_timer.h"
#include "adapters/qt_tunnel_network.h"

class connection;
struct connection_profile;
namespace ssh {
struct ssh_prompts;
}

// Keep-alives every `every` seconds of being connected, the count read afresh each second so that a changed
// setting takes hold at once; an ended connection starts the count again.
class keepalive_schedule {
public:
    // One second passed: true when a keep-alive is due now.
    bool tick(bool connected, int every) {
        if (every <= 0 || !connected) {
            seconds_ = 0;
            return false;
        }
        if (++seconds_ < every) return false;
        seconds_ = 0;
        return true;
    }

private:
    int seconds_ = 0;
};

class connection_runtime {
public:
    connection_runtime();
    ~connection_runtime();
    connection_runtime(const connection_runtime&) = delete;
    connection_runtime& operator=(const connection_runtime&) = delete;

    session_timer& setup_timer() { return setup_; }
    qt_tunnel_network& tunnel_network() { return tunnels_; }

    // The connection the timers and the keep-alives serve; it must go before this runtime.
    void attach(connection& link);
    // Options the user changed: the connection takes them and its ring keeps what history the new limit allows.
    void apply(const connection_profile& options);
    // SSH through `prompts`, window-size changes paced, forwards on tunnel_network() with their news told.
    void enable_ssh(ssh::ssh_prompts& prompts, std::function<void(std::string_view)> tunnel_news);

    // ~/.ssh/config applied to an SSH profile before it connects. `notes` name what could not be read (the
    // connection goes on without it); a non-empty `refusal` means the jump hosts it names cannot be used, and
    // nothing may connect: never straight to a host that is to be reached through others.
    struct ssh_config_outcome {
        std::vector<std::string> notes;
        std::string refusal;
    };
    static ssh_config_outcome take_ssh_config(connection_profile& p);

private:
    void keepalive_second();

    connection* link_ = nullptr;
    qt_timer setup_;
    qt_timer pacing_;
    qt_tunnel_network tunnels_;
    QTimer keepalive_tick_;
    keepalive_schedule keepalive_;
};
