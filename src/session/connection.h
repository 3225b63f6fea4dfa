#pragma once
// One connection of a terminal window: the screen ring, the emulator, the session and the SSH client, put together
// in one place from the outside world's parts (sockets, timer, UI, the window's hooks, clock). The window, the
// headless vtsession tool and the tests build one each; Qt-free.
//
//   connection link(parts);                       // ring and emulator exist from here on
//   link.enable_ssh(prompts, &resize_timer);      // without it SSH attempts are refused with a message
//   link.set_ending_listener(f);                  // each ending, pushed once the session has let go of its socket
//   link.connect(connection_profile::from(configuration, host, port));
//   link.apply(connection_profile::from(...))     // the user changed a terminal option while connected
//   link.reconnect(connection_profile::from(...)) // the latest target again with the configuration's options now
//   setup timer expiry -> link.net().on_proxy_timer(); resize timer expiry -> link.ssh()->on_resize_timer()
//
// The engines and the window read only the connection's profile, rewritten in place at each connect: what a
// running session reads cannot change under it, and nothing of it reaches the process-wide settings.
#include <functional>
#include <memory>
#include <string>

#include "config/maps.h"
#include "session/jump.h"
#include "session/profile.h"
#include "session/session.h"

class screen_ring;
class vt;
struct vt_host;
namespace ssh {
class ssh_client;
struct ssh_prompts;
}  // namespace ssh

// The outside world as a connection needs it; every part outlives the connection.
struct connection_parts {
    socket_factory& sockets;
    session_timer& setup_timer;  // its expiry goes to net().on_proxy_timer()
    ui_services& ui;
    session_view& view;
    session_clock& clock;
    vt_host* terminal_host = nullptr;  // null: the emulator's own null host
    const translation_table_t& nettopc;
    const translation_table_t& pctonet;
};

class connection {
public:
    explicit connection(const connection_parts& parts);
    ~connection();
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;

    screen_ring& ring() { return *ring_; }
    const screen_ring& ring() const { return *ring_; }
    vt& terminal() { return *vt_; }
    session& net() { return *session_; }
    const session& net() const { return *session_; }
    // The SSH client once enable_ssh has run; null before and after disable_ssh.
    ssh::ssh_client* ssh() { return ssh_.get(); }

    // SSH sessions sign on through `prompts`; window-size changes are paced by `resize_timer` (may be null).
    void enable_ssh(ssh::ssh_prompts& prompts, session_timer* resize_timer = nullptr);
    // Ends a running session first (its engine says goodbye), then drops the client.
    void disable_ssh();

    // Opens a session to profile.host:port with this profile; false when it failed at once (the message has
    // been shown and the ending pushed). Taken as the target of reconnect() whatever the outcome.
    bool connect(const connection_profile& profile);
    // The latest target (host, port, protocol, user, key file) with the rest of `now`: proxy, time limits and the
    // terminal options as they are set today. False when there was none or a session is still busy.
    bool reconnect(const connection_profile& now);
    bool has_target() const { return target_ != nullptr; }
    // The latest target as it was started, without its password.
    const connection_profile* last_target() const { return target_.get(); }
    // What the running (or latest) connection reads; before the first connect, the last apply()'s options.
    const connection_profile& profile() const { return profile_; }
    // Disconnect: ends the session or the attempt being set up. `suppress_exit` false lets `exit` close the program.
    void disconnect(bool suppress_exit = true);

    // Options the user may change while connected (the terminal's, whether the grid follows the window, host echo
    // control): the emulator and both engines take them now. The target stays.
    void apply(const connection_profile& options);
    // The host or the emulator switched local echo for this connection (Telnet ECHO, SRM).
    void set_local_echo(bool on) { profile_.terminal.local_echo = on; }

    // The terminal's grid for the host: Telnet NAWS and the SSH window messages (screen_size 1); the pty
    // request's width with screen_size 0.
    void set_grid(int rows, int columns);
    void set_columns(int columns);

    void set_ending_listener(std::function<void(const session_ending&)> listener);

    // Jump hosts for the next connections, Reconnect included: the session's socket is then the last hop's
    // channel (session/jump.h). Empty: straight to the host.
    void set_jump(std::vector<jump_hop> hops) { jump_ = std::move(hops); }
    const std::vector<jump_hop>& jump() const { return jump_; }

private:
    void apply_terminal(const terminal_profile& t);

    std::unique_ptr<screen_ring> ring_;
    std::unique_ptr<vt> vt_;
    connection_profile profile_;      // what the session, the SSH client and the window read; rewritten at each connect
    bool stored_local_echo_ = false;  // the configuration's local echo as last taken (connect or apply)
    std::vector<jump_hop> jump_;
    std::unique_ptr<jump_socket_factory> sockets_;  // the parts' sockets, through the jump hosts when there are any
    std::unique_ptr<session> session_;
    std::unique_ptr<ssh::ssh_client> ssh_;
    std::unique_ptr<connection_profile> target_;  // without the password
};
