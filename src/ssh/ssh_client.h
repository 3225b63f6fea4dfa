#pragma once
// The session's SSH engine: one object for the whole program run, handing the session's calls to the protocol the
// settings select (`ssh_type_1_2` 1: SSH-2, otherwise SSH-1). The settings cannot change while connected, so the
// choice is stable for a connection. Either protocol gets a fresh engine for every connection; the client keeps
// what outlives one (the grid, the tunnels' note, SSH-1's run-wide ask-again flag).
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "forward/forwarder.h"
#include "sftp/client.h"
#include "session/interfaces.h"
#include "ssh/window_pacer.h"

struct connection_profile;
struct session_services;
struct ui_services;

namespace ssh {

struct ssh_prompts;
class ssh2_engine;
class ssh2_connection;
struct kex_method;
class ssh1_engine;
struct sftp_channel_events {
    std::function<void(sftp::client&)> ready;
    std::function<void(std::string_view)> ended;
};

class ssh_client final : public ssh_engine {
public:
    ssh_client(connection_profile& p, session_services& io, ui_services& ui, ssh_prompts& prompts);
    ~ssh_client() override;

    void ssh_receive(const std::uint8_t* bytes, std::size_t n) override;
    void ssh_send_user_data(const std::uint8_t* bytes, std::size_t n) override;
    void ssh_reset() override;
    void ssh_target(std::string_view host, int port) override;
    void ssh_connected() override;
    void ssh_goodbye() override;
    // SSH-2: the host's new keys are in use; SSH-1: the host accepted the session key.
    bool ssh_handshake_done() const override;
    // The host accepted the sign-on: the shell is being asked for (SSH-1 state 4 and on).
    bool signed_on() const;

    // The terminal's width (80 or 132) for the pty request, and its changes for window-change (screen_size 0).
    void set_columns(int columns);
    // The terminal's grid (screen_size 1): the pty request carries it, changes go to the host as SSH-2
    // window-change or SSH-1 window size, paced by window_pacer when a timer is set.
    void set_window_size(int rows, int columns);
    // A one-shot timer for the pacing; its owner routes the expiry to on_resize_timer.
    void set_resize_timer(session_timer* timer) { pacer_.set_timer(timer); }
    void on_resize_timer();
    // Keep-alive timer tick (every `ssh_keepalive` seconds while connected).
    void keepalive();

    // Status bar: identification sent, SSH-1 state (0..5), SSH-2 keys active.
    bool identification_sent() const;
    int ssh1_state() const;
    bool ssh2_keys_active() const;
    // The cipher the host's data arrives under (SSH-2 negotiated mode), empty otherwise.
    std::string_view ssh2_cipher_name() const;
    // The key exchange method the SSH-2 connection agreed (its name, and whether it is post-quantum); null before
    // the first exchange has finished and for SSH-1.
    const kex_method* ssh2_agreed_kex() const;
    // The interactive Connect command: SSH-1 asks for the password again on every sign-on from now on.
    void set_ask_again();

    // Port and agent forwarding for SSH-2 connections (negotiated mode): local listeners and connections come from
    // `net`; each failure goes to `note` with its cause. Null: no forwarding. `note` also gets what either protocol
    // tells the user without ending the session (a refused pty).
    void set_tunnels(fwd::local_network* net, std::function<void(std::string_view)> note);
    // The running connection's forwards with their state and byte counts.
    std::vector<fwd::forwarder::status> tunnels() const;
    // SFTP on the running SSH-2 connection (see sftp_service); SSH-1 has none and says so to `ended`.
    void open_sftp(sftp_channel_events ev);
    // Runs `f` on the running SSH-2 connection layer, its engine kept until `f` returns should the session end
    // inside: the way to its channel services (a new kind included) without a call of their own here. False, `f`
    // not run, for SSH-1.
    bool with_ssh2(const std::function<void(ssh2_connection&)>& f);

    ssh1_engine& v1() { return *v1_; }

private:
    bool version2() const;
    // A new SSH-2 engine for the next connection, told the target and the terminal's size.
    void fresh_v2();
    void fresh_v1();
    // Holds the engines it retired until released (for calls from outside the session's: tunnels, answers).
    std::shared_ptr<void> hold();
    void leave();
    void give_tunnels();
    // Every entry holds one: an engine the session ended from inside one of its own steps is destroyed only once
    // the outermost call has returned.
    struct entry {
        explicit entry(ssh_client& c) : c(c) { ++c.depth_; }
        ~entry();
        ssh_client& c;
    };
    connection_profile& p_;
    session_services& io_;
    ui_services& ui_;
    ssh_prompts& prompts_;
    std::unique_ptr<ssh2_engine> v2_;
    std::vector<std::unique_ptr<ssh2_engine>> retired_;
    std::vector<std::unique_ptr<ssh1_engine>> retired_v1_;
    int depth_ = 0;
    std::string host_;
    int port_ = 22;
    int columns_ = 0;                  // 0: never told
    int rows_ = 0, grid_columns_ = 0;  // the latest grid (rows_ 0: never told)
    fwd::local_network* tunnel_net_ = nullptr;
    std::function<void(std::string_view)> tunnel_note_;
    std::unique_ptr<ssh1_engine> v1_;
    bool ask_again_ = false;  // SSH-1: the sign-on dialog at every later sign-on of this run
    window_pacer pacer_;
};

}  // namespace ssh
