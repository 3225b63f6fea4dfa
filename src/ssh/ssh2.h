#pragma once
// The SSH-2 client engine: transport (identification, reassembly, packet framing with per-direction keys, the
// server-started key exchange and re-exchange), password sign-on and the one interactive session channel.
//
// The engine holds all of its state; the client makes exactly one. Bytes come in through receive() from the
// session's read path; everything leaves through session_services. Message boxes and the sign-on dialog run
// inside receive(), so any call out may end the session (reset() then runs from session_disconnect); every step
// after such a call checks for that before touching the connection again.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "crypto/bignum.h"
#include "crypto/cipher.h"
#include "crypto/pubkey.h"
#include "crypto/sha1.h"
#include "ssh/framing.h"
#include "ssh/wire.h"

struct Settings;
struct session_services;
struct ui_services;

namespace ssh {

struct ssh_prompts;

// Texts shown to the user by the SSH-2 engine.
namespace msg {
inline constexpr std::string_view out_of_memory = "SSH out of memory";
inline constexpr std::string_view illegal_message = "Illegal SSH message. Out of memory";
inline constexpr std::string_view bad_login = "User name and/or password is not valid.";
inline constexpr std::string_view password_expired = "Your password has expired. Contact the System administrator.";
inline constexpr std::string_view channel_refused = "UNIX host rejects a new session";
inline constexpr std::string_view no_user = "Cannot sign on to the host without a valid user name";
inline constexpr std::string_view bad_mac = "SSH message with illegal MAC. Session must close!!!";
inline constexpr std::string_view bad_host_signature =
    "Server's host key did not match the signature supplied. The host may be an impostor: do not trust this "
    "connection. Session must close!!!";
inline constexpr std::string_view protocol_violation = "SSH protocol violation. Session must close!!!";
inline constexpr std::string_view ssh1_only_host =
    "The host speaks only SSH protocol 1. Choose SSH-1 in the connection options. Session must close!!!";
inline constexpr std::string_view bad_identification =
    "The host did not identify itself as an SSH server. Session must close!!!";
inline constexpr std::string_view credentials_too_long =
    "The stored SSH user name or password is longer than 40 characters. Session must close!!!";
}  // namespace msg

// Debug-log texts.
namespace logtext {
inline constexpr std::string_view wrong_mac = "wrong mac ingoing";
inline constexpr std::string_view host_key_mismatch = "Server's host key did not match the signature supplied";
}  // namespace logtext

inline constexpr std::string_view client_identification = "SSH-2.0-1.0.00\n";
inline constexpr std::size_t max_credential = 40;

// Message numbers.
enum : std::uint8_t {
    SSH_MSG_DISCONNECT = 1,
    SSH_MSG_IGNORE = 2,
    SSH_MSG_SERVICE_REQUEST = 5,
    SSH_MSG_SERVICE_ACCEPT = 6,
    SSH_MSG_KEXINIT = 20,
    SSH_MSG_NEWKEYS = 21,
    SSH_MSG_KEXDH_INIT = 30,
    SSH_MSG_KEXDH_REPLY = 31,
    SSH_MSG_USERAUTH_REQUEST = 50,
    SSH_MSG_USERAUTH_FAILURE = 51,
    SSH_MSG_USERAUTH_SUCCESS = 52,
    SSH_MSG_USERAUTH_BANNER = 53,
    SSH_MSG_USERAUTH_PASSWD_CHANGEREQ = 60,
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

// Channel constants of the session channel.
inline constexpr std::uint32_t client_channel = 27;
inline constexpr std::uint32_t initial_window = 8000;
inline constexpr std::uint32_t window_threshold = 4000;
inline constexpr std::uint32_t announced_max_packet = 16384;
// Largest CHANNEL_DATA payload sent in one packet when the server has not said less.
inline constexpr std::uint32_t max_data_per_packet = 32768;

// Bytes of an outgoing message (counted after its type byte) that the debug log shows as '*'.
struct secret_range {
    std::size_t from = 0, len = 0;
};

// Keyed state of one direction of the connection.
struct packet_direction {
    const crypto::ssh2_cipher* cipher = nullptr;
    const crypto::ssh2_mac* mac = nullptr;
    crypto::cipher_context cipher_state;
    crypto::mac_context mac_state;
    std::uint32_t seq = 0;
};

class ssh2_engine {
public:
    ssh2_engine(Settings& s, session_services& io, ui_services& ui, ssh_prompts& prompts);
    ~ssh2_engine();
    ssh2_engine(const ssh2_engine&) = delete;
    ssh2_engine& operator=(const ssh2_engine&) = delete;

    void receive(const std::uint8_t* bytes, std::size_t n);
    // One CHANNEL_DATA per call, in whatever state the engine is; larger blocks go as several packets.
    void send_user_data(const std::uint8_t* bytes, std::size_t n);
    // Forgets the connection: identification, keys, exchange, channel.
    void reset();

    bool keys_active() const { return in_.cipher != nullptr; }
    bool identification_sent() const { return id_sent_; }
    bool session_open() const { return session_open_; }
    bool pty_reply_pending() const { return pty_pending_; }
    std::uint32_t local_window() const { return local_window_; }
    std::uint32_t incoming_sequence() const { return in_.seq; }
    std::uint32_t outgoing_sequence() const { return out_.seq; }
    const std::uint8_t* session_id() const { return session_id_.data(); }

    // Installs both directions' keys from the six 40-byte values A..F, as a finished exchange would (fuzzers and
    // tests that start mid-stream). The identification and the service request are taken as done.
    void install_keys_for_test(const std::uint8_t values[6][40], bool blowfish);

private:
    // transport
    void start_connection();
    void reassemble();
    void process_packet(std::size_t total);
    void dispatch(std::uint8_t type, const std::uint8_t* data, std::size_t n, std::size_t payload_len);
    // Message building: begin() hands out the payload area after the type byte; send() frames and writes it.
    // The writer's bytes follow the type byte; `mask` is a range of them the debug log must not show.
    wire_writer begin(std::uint8_t type);
    static constexpr std::size_t payload_room = packet_buffer_size - 5 - 1 - 11 - 32;
    void send(const wire_writer& w, secret_range mask = {});
    void fail(std::string_view text);
    bool alive(unsigned gen) const { return gen == generation_; }

    // key exchange
    void on_kexinit(const std::uint8_t* payload, std::size_t payload_len);
    void on_kexdh_reply(const std::uint8_t* data, std::size_t n);
    void on_newkeys();
    const crypto::ssh2_cipher* chosen_cipher() const;
    void install_out_keys(const crypto::ssh2_cipher* c, const std::uint8_t iv[40], const std::uint8_t key[40],
                          const std::uint8_t mac[40]);
    void install_in_keys();

    // sign-on and channel
    void sign_on(bool repeat);
    void on_open_confirmation(const std::uint8_t* data, std::size_t n);
    void on_data(const std::uint8_t* data, std::size_t n, bool extended);
    void on_global_request(const std::uint8_t* data, std::size_t n);
    void on_channel_request(const std::uint8_t* data, std::size_t n);
    void send_channel_request(std::string_view type, bool pty);

    Settings& s_;
    session_services& io_;
    ui_services& ui_;
    ssh_prompts& prompts_;

    unsigned generation_ = 0;  // bumped by reset(): a running step stops when it changes
    bool id_sent_ = false;
    bool id_done_ = false;
    ident_reader ident_;
    reassembly_buffer rx_;

    packet_direction out_;
    packet_direction in_;
    crypto::sha1_context version_hash_;
    crypto::sha1_context exchange_hash_;
    bool newkeys_sent_ = false;
    bool first_exchange_ = true;
    bool service_requested_ = false;
    std::array<std::uint8_t, 20> session_id_{};
    std::array<std::uint8_t, 20> h_{};
    // Server-to-client IV, key and MAC key of the running exchange, used from the server's NEWKEYS on.
    std::uint8_t pending_in_[3][40] = {};
    const crypto::ssh2_cipher* pending_cipher_ = nullptr;
    std::optional<crypto::dh_group> group_;
    std::optional<crypto::bignum> x_, e_;

    bool session_open_ = false;
    bool pty_pending_ = false;
    std::uint32_t server_channel_ = 0;
    std::uint32_t server_window_ = 0;
    std::uint32_t server_max_packet_ = 0;
    std::uint32_t local_window_ = initial_window;

    std::array<std::uint8_t, packet_buffer_size> out_buf_{};
    std::array<std::uint8_t, packet_buffer_size> in_buf_{};
    std::array<std::uint8_t, packet_buffer_size> log_copy_{};
};

}  // namespace ssh
