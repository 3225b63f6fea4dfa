#pragma once
// Jump hosts: the connection to the target runs over SSH-2 connections to one or more hosts in between, each over
// a direct-tcpip channel of the one before (OpenSSH's -J / ProxyJump).
//
//   jump_socket_factory sockets(real_factory, ui);
//   sockets.set_prompts(&prompts);      // the hops' sign-on and host-key questions; without: no chain is made
//   sockets.set_chain(hops, profile);   // before each connect; an empty chain passes straight through
//   session(..., sockets, ...)          // the session's socket is the last hop's channel
//
// Each hop signs on with the SSH-2 engine in negotiated mode (no shell, no pty; its host key checked against
// known_hosts, asking through the same prompts when unknown), then opens a direct-tcpip channel to the next hop or
// the target, which the next engine (or the session) reads and writes as its socket. A hop that fails ends the
// attempt with a message naming it ("Jump host user@host:port: ...").
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/interfaces.h"
#include "session/profile.h"

struct ui_services;
namespace ssh {
struct ssh_prompts;
}

// One host in between.
struct jump_hop {
    std::string user;  // empty: the local account's name, as for any SSH sign-on without one
    std::string host;  // a name or an address (IPv6 without its brackets)
    int port = 22;
    std::string key_file;  // empty: the connection's own key file and the usual ones in ~/.ssh

    // "user@host:port" ("[addr]:port" for IPv6), as messages name the hop.
    std::string text() const;
    bool operator==(const jump_hop&) const = default;
};

inline constexpr std::size_t max_jump_hops = 8;
inline constexpr std::size_t max_jump_text = 1024;

// `[user@]host[:port][,[user@]host[:port]...]`, each entry also as ssh://[user@]host[:port]; IPv6 addresses in
// brackets; "none" alone is an empty chain. Nullopt with `why` set when the text cannot be used.
std::optional<std::vector<jump_hop>> parse_jump_chain(std::string_view text, std::string* why = nullptr);

// Bytes the channel socket holds for the next engine when its own hop's window is closed; a writer beyond it gets
// an error. The next engine sends within its host's channel windows (about 2 MiB each for sshd), so this is
// reached only by a peer that stops reading on all of them at once.
inline constexpr std::size_t jump_write_limit = 8 * 1024 * 1024;

class jump_socket_factory final : public socket_factory {
public:
    jump_socket_factory(socket_factory& real, ui_services& ui);
    ~jump_socket_factory() override;

    // The hops of the next connections and the connection's profile they take their SSH options from (key file,
    // host key checking); an empty chain: the real factory's sockets as they are.
    void set_chain(std::vector<jump_hop> hops, const connection_profile& base);
    const std::vector<jump_hop>& chain() const { return hops_; }
    void set_prompts(ssh::ssh_prompts* prompts) { prompts_ = prompts; }
    // Told true before a hop's question goes to the user and false once it is answered (the session's set-up
    // limit waits meanwhile).
    void set_question_hook(std::function<void(bool)> hook) { *hook_ = std::move(hook); }

    std::unique_ptr<session_socket> create(socket_events& events) override;
    std::optional<std::uint32_t> lookup_ipv4(std::string_view name) override { return real_.lookup_ipv4(name); }

private:
    socket_factory& real_;
    ui_services& ui_;
    ssh::ssh_prompts* prompts_ = nullptr;
    // Shared with the hops, which may outlive the factory inside a call of their own.
    std::shared_ptr<std::function<void(bool)>> hook_ = std::make_shared<std::function<void(bool)>>();
    std::vector<jump_hop> hops_;
    connection_profile base_;
};
