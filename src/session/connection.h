#pragma once
// One connection of a terminal window: the screen ring, the emulator, the session and the SSH client, put together
// in one place from the outside world's parts (sockets, timer, UI, the window's hooks, clock). The window, the
// headless vtsession tool and the tests build one each; Qt-free.
//
//   connection link(parts);                       // ring and emulator exist from here on
//   link.enable_ssh(prompts, &resize_timer);      // without it SSH attempts are refused with a message
//   link.set_ending_listener(f);                  // each ending, pushed once the session has let go of its socket
//   link.connect(connection_options::from(settings(), host, port));
//   link.apply(connection_options::from(...))     // the user changed utf8, the terminal type or clipboard writes
//   link.reconnect(settings())                    // the latest target again; the settings are not touched
//   setup timer expiry -> link.net().on_proxy_timer(); resize timer expiry -> link.ssh()->on_resize_timer()
//
// The engines still read a whole settings record: the connection keeps its own, copied from the snapshot at each
// connect with the target written over it, so what a running session reads cannot change under it.
#include <functional>
#include <memory>
#include <string>

#include "config/maps.h"
#include "config/settings.h"
#include "session/session.h"

class screen_ring;
class vt;
struct vt_host;
namespace ssh {
class ssh_client;
struct ssh_prompts;
}  // namespace ssh

// What one connection is made of, taken when it is made: the target and the terminal's options typed, and the
// rest of the record for what the engines read (proxy, auto-login, time limits, SSH algorithms and credentials).
struct connection_options {
    std::string host;
    int port = 23;
    TransportKind protocol = TransportKind::Telnet;
    std::string user;      // SSH sign-on name
    std::string key_file;  // SSH-2 private key; empty: the usual files in ~/.ssh
    std::string termtype = "vt220";
    std::string answerback = "QUILL_TELNET";
    bool utf8 = false;
    bool bell = true;
    bool clipboard_write = false;
    bool window_sized = false;  // screen_size 1: the grid follows the window and the host hears it
    bool host_echo = false;     // the host's Telnet ECHO option switches local echo
    Settings record;

    // The snapshot of `s` for a connection to host:port.
    static connection_options from(const Settings& s, std::string host, int port);
    // The record the engines read: `record` with the typed fields written over it.
    Settings engine_record() const;
};

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

    // Opens a session to options.host:port with these options; false when it failed at once (the message has
    // been shown and the ending pushed). Taken as the target of reconnect() whatever the outcome.
    bool connect(const connection_options& options);
    // The latest target (host, port, protocol, user, key file) with the rest of `now`: proxy, time limits and the
    // terminal options as they are set today. False when there was none or a session is still busy.
    bool reconnect(const Settings& now);
    bool has_target() const { return target_ != nullptr; }
    const connection_options* last_options() const { return target_.get(); }
    // Disconnect: ends the session or the attempt being set up. `suppress_exit` false lets `exit` close the program.
    void disconnect(bool suppress_exit = true);

    // Options the user may change while connected (the terminal's, whether the grid follows the window, host echo
    // control): the emulator and both engines take them now. The target stays.
    void apply(const connection_options& options);

    // The terminal's grid for the host: Telnet NAWS and the SSH window messages (screen_size 1); the pty
    // request's width with screen_size 0.
    void set_grid(int rows, int columns);
    void set_columns(int columns);

    void set_ending_listener(std::function<void(const session_ending&)> listener);

private:
    void apply_terminal(const connection_options& o);

    std::unique_ptr<screen_ring> ring_;
    std::unique_ptr<vt> vt_;
    Settings record_;  // what the session and the SSH client read; rewritten at each connect
    std::unique_ptr<session> session_;
    std::unique_ptr<ssh::ssh_client> ssh_;
    std::unique_ptr<connection_options> target_;  // its record without the password
};
