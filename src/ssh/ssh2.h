#pragma once
// The SSH-2 client engine, one object per connection, in four parts: the transport (this class, ssh2.cpp:
// identification, reassembly, packets under each direction's packet_cipher, the table of message handlers), the
// key exchange and re-exchange (ssh2_kex, ssh2_kex.h), sign-on (ssh2_auth, ssh2_auth.h) and the connection layer
// with its channel table and channel services (ssh2_connection, ssh2_connection.h). Each part holds its own state
// and reaches the transport only through its link (kex_link, auth_link, connection_link over ssh2_link.h), which
// the engine implements; the engine owns one of each and routes their messages to them.
//
// Two modes, fixed for a connection by `ssh_algorithms`: the fixed legacy suite (group 1, ssh-dss, 3des-cbc or
// blowfish-cbc, hmac-sha1; one name per list, the server's lists read only to name one that lacks its name) and
// negotiated mode (RFC 4253 section 7.1 over the tables of algorithms.h, modern algorithms first, strict key
// exchange, ext-info, known_hosts).
//
// The engine holds all of one connection's state; the client makes a fresh one for each connection. Bytes come in
// through receive() from the session's read path; everything leaves through session_services. No dialog runs under
// receive(): the session holds message boxes until the step has returned, and a question for the user (host key,
// sign-on, passphrase) goes to the session as a user_question, the engine taking no packet until the answer has
// come back (ask, resume). A step that may end the session (close() then runs from session_disconnect) checks
// closed() before going on, and the owner keeps a closed engine until none of its steps is running.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/bignum.h"
#include "crypto/cipher.h"
#include "crypto/evp.h"
#include "crypto/pubkey.h"
#include "crypto/sha1.h"
#include "forward/forwarder.h"
#include "session/interfaces.h"
#include "session/profile.h"
#include "sftp/client.h"
#include "ssh/algorithms.h"
#include "ssh/channels.h"
#include "ssh/framing.h"
#include "ssh/keys.h"
#include "ssh/packet_cipher.h"
#include "ssh/question_gate.h"
#include "ssh/ssh2_auth.h"
#include "ssh/ssh2_connection.h"
#include "ssh/ssh2_services.h"
#include "ssh/ssh2_kex.h"
#include "ssh/ssh2_link.h"
#include "ssh/wire.h"
struct session_services;
struct ui_services;

namespace ssh {

struct ssh_prompts;
struct agent_client;

// Texts shown to the user by the SSH-2 engine (beside the shared ones of framing.h).
namespace msg {
inline constexpr std::string_view bad_login = "User name and/or password is not valid.";
inline constexpr std::string_view password_expired = "Your password has expired. Contact the System administrator.";
inline constexpr std::string_view channel_refused = "UNIX host rejects a new session";
inline constexpr std::string_view bad_mac = "SSH message with illegal MAC. Session must close!!!";
inline constexpr std::string_view bad_host_signature =
    "Server's host key did not match the signature supplied. The host may be an impostor: do not trust this "
    "connection. Session must close!!!";
inline constexpr std::string_view ssh1_only_host =
    "The host speaks only SSH protocol 1. Choose SSH-1 in the connection options. Session must close!!!";
inline constexpr std::string_view credentials_too_long =
    "The stored SSH user name or password is longer than 40 characters. Session must close!!!";
inline constexpr std::string_view host_key_switched =
    "The host presented a different host key in a new key exchange. The host may be an impostor. Session must "
    "close!!!";
inline constexpr std::string_view send_overflow = "Cannot send data to the host. Check TCP/IP protocol stack.";
inline constexpr std::string_view kbd_cancelled = "Sign-on cancelled.";
inline constexpr std::string_view newkeys_outside_exchange =
    "SSH protocol violation: the host sent NEWKEYS outside a key exchange. Session must close!!!";
inline constexpr std::string_view second_kexinit =
    "SSH protocol violation: the host started a key exchange while one was running. Session must close!!!";
inline constexpr std::string_view strict_kex_violation =
    "SSH protocol violation: the host sent another message during the first key exchange, which strict key "
    "exchange forbids. Session must close!!!";
inline constexpr std::string_view pk_ok_mismatch =
    "SSH protocol violation: the host accepted a key this program did not offer. Session must close!!!";
// A notice, not an ending: the shell runs without a terminal.
inline constexpr std::string_view pty_refused =
    "The host refused a terminal for this session (pty-req); the shell runs without one.";
inline constexpr std::string_view shell_refused = "The host refused to start a shell. Session must close!!!";
}  // namespace msg

// The second line when `ssh_keepalive_max` keep-alives in a row went unanswered.
std::string keepalive_timeout_message(int unanswered);

// "The host closed the session: TEXT (reason N, NAME)" for the host's DISCONNECT, its text made harmless.
std::string disconnect_message(std::uint32_t reason, std::span<const std::uint8_t> text);

// "SSH protocol violation: ..." for a message of the host's with bytes after its last field, and for a channel
// message whose recipient number is not in the channel table.
std::string trailing_message(std::uint8_t type);
std::string unknown_channel_message(std::uint32_t id);

// Debug-log texts.
namespace logtext {
inline constexpr std::string_view wrong_mac = "wrong mac ingoing";
inline constexpr std::string_view host_key_mismatch = "Server's host key did not match the signature supplied";
}  // namespace logtext

inline constexpr std::string_view client_identification = "SSH-2.0-1.0.00\n";
// Negotiated mode ends the line as RFC 4253 section 4.2 says; the fixed suite keeps the written single line feed.
inline constexpr std::string_view client_identification_crlf = "SSH-2.0-1.0.00\r\n";
inline constexpr std::size_t max_credential = 40;

// Message numbers.
enum : std::uint8_t {
    SSH_MSG_DISCONNECT = 1,
    SSH_MSG_IGNORE = 2,
    SSH_MSG_UNIMPLEMENTED = 3,
    SSH_MSG_DEBUG = 4,
    SSH_MSG_SERVICE_REQUEST = 5,
    SSH_MSG_SERVICE_ACCEPT = 6,
    SSH_MSG_EXT_INFO = 7,
    SSH_MSG_KEXINIT = 20,
    SSH_MSG_NEWKEYS = 21,
    SSH_MSG_KEXDH_INIT = 30,
    SSH_MSG_KEXDH_REPLY = 31,
    SSH_MSG_USERAUTH_REQUEST = 50,
    SSH_MSG_USERAUTH_FAILURE = 51,
    SSH_MSG_USERAUTH_SUCCESS = 52,
    SSH_MSG_USERAUTH_BANNER = 53,
    SSH_MSG_USERAUTH_PASSWD_CHANGEREQ = 60,  // also PK_OK and INFO_REQUEST, by the method asked
    SSH_MSG_USERAUTH_INFO_RESPONSE = 61,
    SSH_MSG_GLOBAL_REQUEST = 80,
    SSH_MSG_REQUEST_SUCCESS = 81,
    SSH_MSG_REQUEST_FAILURE = 82,
    SSH_MSG_CHANNEL_OPEN = 90,
    SSH_MSG_CHANNEL_OPEN_CONFIRMATION = 91,
    SSH_MSG_CHANNEL_OPEN_FAILURE = 92,
    SSH_MSG_CHANNEL_WINDOW_ADJUST = 93,
    SSH_MSG_CHANNEL_DATA = 94,
    SSH_MSG_CHANNEL_EXTENDED_DATA = 95,
    SSH_MSG_CHANNEL_EOF = 96,
    SSH_MSG_CHANNEL_CLOSE = 97,
    SSH_MSG_CHANNEL_REQUEST = 98,
    SSH_MSG_CHANNEL_SUCCESS = 99,
    SSH_MSG_CHANNEL_FAILURE = 100,
};

// One direction of the connection: its packet protection (the clear base object before keys) and sequence number.
struct packet_direction {
    std::unique_ptr<packet_cipher> cipher = std::make_unique<packet_cipher>();
    const cipher_method* method = nullptr;  // null: no keys yet
    std::uint32_t seq = 0;

    bool keyed() const { return method != nullptr; }
    // Keys, IV and MAC key in the lengths the rows name; false when a library context could not be made.
    bool install(const cipher_method& c, const mac_method* m, const std::uint8_t* iv, const std::uint8_t* key,
                 const std::uint8_t* mac_key);
};

class ssh2_engine final : private kex_link, private auth_link, private connection_link {
public:
    ssh2_engine(connection_profile& p, session_services& io, ui_services& ui, ssh_prompts& prompts);
    ~ssh2_engine();
    ssh2_engine(const ssh2_engine&) = delete;
    ssh2_engine& operator=(const ssh2_engine&) = delete;

    void receive(const std::uint8_t* bytes, std::size_t n);
    // The session has ended: running steps stop, the keys are forgotten, nothing more is sent or taken.
    void close();
    bool closed() const override { return closed_; }
    // A question is out: the host's packets wait in the buffer.
    bool asking() const { return gate_.asking(); }
    // The connection is up. Negotiated mode sends its identification now, without waiting for the host's (RFC 4253
    // section 4.2: a host may wait for ours); the fixed suite keeps its written order (the host speaks first).
    void connected();
    // The host and port of the coming connection (for known_hosts).
    void set_target(std::string_view host, int port);
    // The channels, the session channel and the channel services (ssh2_connection.h).
    ssh2_connection& connection() { return conn_; }
    const ssh2_connection& connection() const { return conn_; }
    // Port and agent forwarding (negotiated mode): see ssh2_connection::set_network. `hold` also covers a
    // question's dialog and answer.
    void set_tunnels(fwd::local_network* net, std::function<void(std::string_view)> note,
                     fwd::forwarder::hold_fn hold = {}) {
        conn_.set_network(net, std::move(note), std::move(hold));
    }
    // A jump host: once signed on, no session channel opens and `ready` runs instead; the channels to the next
    // host are direct-tcpip ones opened through direct_channels() (negotiated mode, after set_tunnels).
    void set_jump(std::function<void()> ready) { conn_.set_jump(std::move(ready)); }
    fwd::ssh_tunnels* direct_channels();
    // The user ends the session (Disconnect, exit): negotiated mode closes the channels and says goodbye with
    // DISCONNECT before the socket goes; the fixed legacy suite never closes from the client side.
    void goodbye();

    bool keys_active() const { return in_.keyed(); }
    bool sign_on_accepted() const { return signed_on_; }
    bool identification_sent() const { return id_sent_; }
    bool negotiated() const override { return negotiated_; }
    const std::uint8_t* session_id() const { return kex_.session_id().data(); }
    // The negotiated server-to-client cipher (empty before keys).
    std::string_view cipher_name() const { return in_.method ? in_.method->name : std::string_view(); }
    // The key exchange method of the last finished exchange (null before the first).
    const kex_method* agreed_kex() const { return kex_.agreed_kex(); }

    // Installs both directions' keys from the six 40-byte values A..F, as a finished fixed-suite exchange would
    // (fuzzers and tests that start mid-stream). The identification and the service request are taken as done.
    void install_keys_for_test(const std::uint8_t values[6][40], bool blowfish);
    // The same for any cipher and MAC of the tables (values A..F of 64 bytes; as_server swaps the directions, so a
    // second engine can frame what this one reads), and a framed message from a raw payload (type byte first).
    bool install_keys_for_test(const std::uint8_t values[6][64], std::string_view cipher, std::string_view mac,
                               bool as_server);
    void send_message_for_test(const std::uint8_t* payload, std::size_t n);

    // Where agent keys come from (tests give their own); defaults to the agent at SSH_AUTH_SOCK.
    std::function<std::unique_ptr<agent_client>()> agent_factory;

private:
    // transport
    void start_connection();
    void take(const std::uint8_t* bytes, std::size_t n);
    void reassemble();
    void resume();  // the answer is in: the packets that waited are taken
    void process_packet(std::size_t total, std::uint32_t len);
    void dispatch(std::uint8_t type, const std::uint8_t* data, std::size_t n);
    // Each message's handler reads its fields from a reader over the payload after the type byte. A slot not armed
    // holds `unexpected`; the exchange and the sign-on re-arm the slots of the steps they wait for.
    void arm_handlers();
    template <auto F>
    message_slot own() {
        return message_slot::to<F>(this);
    }
    void unexpected(wire_reader& r);
    void on_disconnect(wire_reader& r);
    void on_reply(wire_reader& r);
    void on_ignored(wire_reader& r);
    static constexpr std::size_t payload_room = packet_buffer_size - 5 - 1 - 32 - 64;

    // what the key exchange, the sign-on and the connection layer ask of the transport (ssh2_link.h)
    wire_writer begin(std::uint8_t type) override;
    void send(const wire_writer& w, secret_range mask = {}) override;
    void fail(std::string_view text) override;
    void ask(user_question q) override;
    bool finished(wire_reader& r) override;
    void arm(std::uint8_t type, message_slot slot) override { on_[type] = slot; }
    void disarm(std::uint8_t type) override { on_[type] = own<&ssh2_engine::unexpected>(); }
    bool install_keys(direction d, const cipher_method& c, const mac_method* m, const std::uint8_t* iv,
                      const std::uint8_t* key, const std::uint8_t* mac_key, bool restart) override;
    std::uint32_t incoming_seq() const override { return in_.seq; }
    std::span<const std::uint8_t> signed_session_id() const override { return kex_.session_id(); }
    std::string_view server_sig_algs() const override { return kex_.server_sig_algs(); }
    std::unique_ptr<agent_client> open_agent() override;
    void signed_on() override {
        signed_on_ = true;
        conn_.signed_on();
    }
    bool keyed() const override { return out_.keyed(); }
    bool service_requested() const override { return kex_.service_requested(); }

    connection_profile& p_;
    session_services& io_;
    ui_services& ui_;
    ssh_prompts& prompts_;

    bool closed_ = false;
    question_gate gate_;      // the host's bytes while a question is out
    bool signed_on_ = false;  // the host accepted the sign-on (each connection has an engine of its own)
    bool id_sent_ = false;
    bool id_done_ = false;
    bool negotiated_ = false;
    ident_reader ident_;
    reassembly_buffer rx_;

    std::array<message_slot, 256> on_{};
    std::uint8_t in_type_ = 0;    // the message being handled
    std::uint32_t head_len_ = 0;  // the length of the packet at the head of rx_, once read
    packet_direction out_;
    packet_direction in_;

    ssh2_kex kex_{*this, p_.ssh, io_, ui_, prompts_};
    ssh2_auth auth_{*this, p_, io_, ui_, prompts_};
    ssh2_connection conn_{*this, p_, io_, ui_};

    std::array<std::uint8_t, packet_buffer_size> out_buf_{};
    std::array<std::uint8_t, reassembly_capacity> in_buf_{};
    std::array<std::uint8_t, packet_buffer_size> log_copy_{};
};

}  // namespace ssh
