#pragma once
// SSH-2 sign-on of one connection (ssh2_auth.cpp): the fixed suite's password rules, and the negotiated mode's
// methods tried in turn (agent and file keys, keyboard-interactive, password). It reaches the transport only
// through auth_link.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ssh/keys.h"
#include "ssh/ssh2_link.h"
#include "ssh/wire.h"

struct connection_profile;
struct ssh_profile;
struct session_services;
struct ui_services;

namespace ssh {

struct ssh_prompts;
struct agent_client;

class auth_link : public transport_link {
public:
    // What a public-key signature covers first, and the host's server-sig-algs (empty when it sent none).
    virtual std::span<const std::uint8_t> signed_session_id() const = 0;
    virtual std::string_view server_sig_algs() const = 0;
    // The agent whose keys are offered (null: none).
    virtual std::unique_ptr<agent_client> open_agent() = 0;
    // The host took us: the sign-on slots are disarmed already; the connection layer starts.
    virtual void signed_on() = 0;

protected:
    ~auth_link() = default;
};

// The local account's name, the negotiated mode's user name when none was given.
std::string local_user_name();

class ssh2_auth {
public:
    ssh2_auth(auth_link& link, connection_profile& p, session_services& io, ui_services& ui, ssh_prompts& prompts);
    ~ssh2_auth();
    ssh2_auth(const ssh2_auth&) = delete;
    ssh2_auth& operator=(const ssh2_auth&) = delete;

    // Message handlers the engine's table routes here; USERAUTH_SUCCESS disarms them all.
    void on_service_accept(wire_reader& r);
    void on_failure(wire_reader& r);
    void on_success(wire_reader& r);
    void on_60(wire_reader& r);  // PASSWD_CHANGEREQ, PK_OK or INFO_REQUEST, by the method asked
    void on_banner(wire_reader& r);

private:
    // The fixed suite's password rules.
    void sign_on(bool repeat);
    void send_password_if_fits();
    // The fixed suite's sign-on dialog, put once this step has returned; `then` runs when it gave a user name (a
    // cancel ends the session).
    void ask_sign_on(std::function<void()> then);
    void start_methods();
    // The password dialog for the name already in use; a cancel ends the session.
    void ask_password();
    // The negotiated mode's methods, in the order next_method tries them.
    void next_method();
    bool try_next_key();
    bool try_keyboard_interactive();
    bool try_password();
    void send_password();
    void collect_keys();
    void query_key();
    void sign_with_key();
    void sign_with_loaded_key(const std::string& file, key_load key);
    void send_signature(std::optional<std::vector<std::uint8_t>> sig);
    std::vector<std::uint8_t> signed_data(std::string_view alg) const;
    wire_writer request(std::string_view method);  // USERAUTH_REQUEST up to the method name
    void send_request(std::string_view method);
    void answer_info_request(wire_reader& r);
    void send_info_response(std::vector<std::string> answers);

    auth_link& link_;
    ssh_profile& s_;
    const bool& utf8_;  // the terminal's: a banner reaches it in its own encoding
    session_services& io_;
    ui_services& ui_;
    ssh_prompts& prompts_;

    enum class stage { idle, none, pubkey_query, pubkey_sign, kbd, password };
    struct key_candidate {
        std::vector<std::uint8_t> blob;          // what is offered: a plain key or a certificate
        std::string file;                        // empty: an agent key
        std::shared_ptr<const private_key> key;  // a file's key needing no passphrase, or unlocked in this run
        std::vector<std::uint8_t> plain;         // a certificate's own key (the agent signs with it); else empty
        std::string origin;                      // for the log: the certificate's file and ID
        std::span<const std::uint8_t> signer() const { return plain.empty() ? blob : plain; }
    };
    struct offer {
        std::string request;    // named in the request and the signed data
        std::string signature;  // what the signature is made with
    };
    offer offer_for(const key_candidate& k) const;
    // Puts each file key's certificates before it; gives back the named certificates of keys no file holds.
    std::vector<key_candidate> add_certificates(std::vector<key_candidate>& from_files);
    stage stage_ = stage::idle;
    std::string methods_;  // the host's last "can continue" list
    std::vector<key_candidate> keys_;
    std::size_t key_index_ = 0;
    bool keys_collected_ = false;
    bool kbd_tried_ = false;
    bool password_ready_ = false;  // a password was given (dialog) or remembered
    std::string user_;             // the negotiated mode's name, the same in every request
    std::unique_ptr<agent_client> agent_;
};

}  // namespace ssh
