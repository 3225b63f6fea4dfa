#pragma once
// The SSH protocol 1.5 client engine: server identification, packets with CRC-32, the RSA-wrapped session key, one
// of DES, 3DES or Blowfish, password sign-on, a pseudo-terminal and a shell, then the interactive data stream.
//
// ssh::ssh_client makes one engine for each connection and forwards the session's ssh_engine calls to it while the
// profile selects SSH-1; nothing of it outlives the connection (the ask-again flag of the run is the client's). The
// engine writes, delivers and logs through session_services and tells the user through ui_services (the
// session holds those messages until the step has returned). A question (host key, sign-on) goes to the session
// as a user_question: no packet is taken until its answer has come back. A fatal failure goes to session_fail.
// Tests make engines of their own over in-memory services.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/cipher.h"
#include "session/interfaces.h"
#include "ssh/framing.h"
#include "ssh/question_gate.h"

struct connection_profile;
struct session_services;
struct ui_services;

namespace ssh {

struct ssh_prompts;

// Texts the SSH-1 engine shows; some are shared with the SSH-2 engine (framing.h).
namespace ssh1_msg {
inline constexpr std::string_view out_of_memory = msg::out_of_memory;
inline constexpr std::string_view illegal_size = msg::illegal_message;
inline constexpr std::string_view bad_crc = "SSH message with illegal CRC checksum. Session must close!!!";
inline constexpr std::string_view violation = msg::protocol_violation;
inline constexpr std::string_view no_memory = "SSH protocol. Out of memory. Session must close!!!";
inline constexpr std::string_view rejects_cipher = "SSH server rejects the encryption mode. Session must be terminated";
inline constexpr std::string_view no_user = msg::no_user;
inline constexpr std::string_view login_incorrect = "Login incorrect";
inline constexpr std::string_view no_tty = "SSH server has no TTY ressources. Session must be terminated";
inline constexpr std::string_view server_disconnect = "Disconnect request from SSH Server. Session must be terminated";
inline constexpr std::string_view unsupported_prefix = "Server does not support selected encryption ";
inline constexpr std::string_view unsupported_middle = ". Try another encryption\nServer supports: ";
// Cases the protocol leaves open; each ends the session.
inline constexpr std::string_view not_ssh = msg::bad_identification;
inline constexpr std::string_view ssh2_only =
    "The host speaks SSH-2 only. Choose SSH-2 under Connect - Advanced - SSH Options and connect again.";
inline constexpr std::string_view bad_public_key =
    "SSH server sent an unreadable public key message. Session must close!!!";
inline constexpr std::string_view bad_key_sizes =
    "SSH server keys are unusable: each needs a modulus of 512 to 8192 bits and a usable exponent, and the longer "
    "modulus must be at least 11 bytes longer than the other. Session must close!!!";
inline constexpr std::string_view pty_refused =
    "The host refused a terminal for this session; the shell runs without one.";
inline constexpr std::string_view unknown_cipher =
    "The selected SSH encryption is unknown. Choose DES, 3-DES or BlowFish Encryption under Connect - Advanced.";
}  // namespace ssh1_msg

class ssh1_engine {
public:
    static constexpr std::string_view identification = "SSH-1.5-1.0.00\n";
    static constexpr unsigned min_modulus_bits = 512;
    static constexpr unsigned max_modulus_bits = 8192;
    // Keystrokes typed before the shell runs wait here; a server takes no data before then.
    static constexpr std::size_t typeahead_size = 2000;
    // Larger user data goes out as several packets of this much.
    static constexpr std::size_t max_chunk = 16384;

    ssh1_engine(connection_profile& p, session_services& io, ui_services& ui, ssh_prompts& prompts);
    ~ssh1_engine();
    ssh1_engine(const ssh1_engine&) = delete;
    ssh1_engine& operator=(const ssh1_engine&) = delete;

    void receive(const std::uint8_t* bytes, std::size_t n);
    // A question is out: the host's packets wait in the buffer.
    bool asking() const { return gate_.asking(); }
    void send_user_data(const std::uint8_t* bytes, std::size_t n);
    // The connection has ended: nothing more is taken, and the keys go at once. The owner keeps the object until
    // no step of it is still running.
    void close();
    // Closed, or ended by a failure, the host's goodbye or a cancelled question.
    bool ended() const { return ended_; }
    int state() const { return state_; }
    bool identification_sent() const { return ident_done_; }
    // Once set (Connect command, failed password) the sign-on dialog is shown at every sign-on of this run.
    void set_ask_again() { ask_again_ = true; }
    // What the user should know without the session ending (a refused pty): beside the debug log, the message pane.
    std::function<void(std::string_view)> note;
    // The owner's keep-alive: while what it returns is held, no engine the owner retired is freed. An answer to a
    // question runs outside the owner's calls and may end the connection (a cancelled sign-on). Empty: none.
    std::function<std::shared_ptr<void>()> hold;
    // The host and port of the coming connection (for known_hosts).
    void set_target(std::string_view host, int port) {
        host_.assign(host);
        port_ = port;
    }
    bool ask_again() const { return ask_again_; }
    // The terminal's grid. With screen_size 1 the pty request carries it and, once the shell runs, each change goes
    // to the host as SSH_CMSG_WINDOW_SIZE; otherwise the pty keeps its written 24 x 80 and nothing is sent.
    void set_window_size(int rows, int columns);
    // Tests and fuzzers: as if the server's identification had been read and the session key agreed on with
    // this key and ssh_encryption value (0..2, anything else: no cipher), now in `state` (1..5).
    void install_session_key(int encryption, const std::uint8_t key[32], int state);

private:
    bool take_identification(const std::uint8_t*& p, std::size_t& n);
    void process(std::uint32_t length, std::size_t padded);
    void dispatch(std::uint8_t type, const std::uint8_t* data, std::size_t n);
    void public_key(const std::uint8_t* data, std::size_t n);
    void packets();
    void ask(user_question q);
    void user_step();
    void send_user();
    void send_password();
    void send_stdin(const std::uint8_t* bytes, std::size_t n);
    void tell_window_size();
    // Frames, logs, encrypts and writes one packet. The data bytes [secret_at, secret_at + secret_len) are shown
    // as '*' in the hex log.
    void send_packet(std::uint8_t type, const std::uint8_t* data, std::size_t n, std::size_t secret_at = 0,
                     std::size_t secret_len = 0);
    void fail(std::string_view text);

    connection_profile& p_;
    session_services& io_;
    ui_services& ui_;
    ssh_prompts& prompts_;

    int state_ = 0;
    std::string host_;
    int port_ = 22;
    bool ident_done_ = false;  // the server's line read and ours sent
    bool ask_again_ = false;
    grid_size size_;
    grid_size host_size_;  // what the host was last told, by the pty request or a size packet
    // A step that ended the connection (a failure, the host's DISCONNECT) stops its loop there.
    bool ended_ = false;
    bool host_trusted_ = false;  // the host-key answer is in; the key packet is read again
    question_gate gate_;
    const crypto::ssh1_cipher* cipher_ = nullptr;
    crypto::cipher_context enc_;
    crypto::cipher_context dec_;

    ident_reader ident_;
    reassembly_buffer rx_;
    std::array<std::uint8_t, packet_buffer_size> out_{};
    std::array<std::uint8_t, packet_buffer_size> msg_{};
    std::array<std::uint8_t, packet_buffer_size> log_{};
    std::array<std::uint8_t, typeahead_size> typeahead_{};
    std::size_t typeahead_n_ = 0;
};

}  // namespace ssh
