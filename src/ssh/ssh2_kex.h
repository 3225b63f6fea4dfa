#pragma once
// The SSH-2 key exchange of one connection (ssh2_kex.cpp): KEXINIT (negotiated lists, or the fixed suite's one name
// each), our share and the shared secret by the method's kind, the exchange hash, the host key's signature and
// trust, the derived keys and NEWKEYS, ext-info; and re-exchanges the host starts later. It reaches the transport
// only through kex_link.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/bignum.h"
#include "crypto/evp.h"
#include "crypto/pubkey.h"
#include "crypto/sha1.h"
#include "ssh/algorithms.h"
#include "ssh/ssh2_link.h"
#include "ssh/wire.h"

struct ssh_profile;
struct session_services;
struct ui_services;

namespace ssh {

struct ssh_prompts;
struct host_trust;

// Group exchange messages (RFC 4419); GROUP shares its number with KEXDH_REPLY.
enum : std::uint8_t {
    SSH_MSG_KEX_DH_GEX_GROUP = 31,
    SSH_MSG_KEX_DH_GEX_INIT = 32,
    SSH_MSG_KEX_DH_GEX_REPLY = 33,
    SSH_MSG_KEX_DH_GEX_REQUEST = 34,
};
// The bounds of our group exchange request: below 2048 bits a group is refused, as OpenSSH does.
inline constexpr std::uint32_t gex_min_bits = 2048, gex_max_bits = 8192;
// The ending for a group the host offered that is refused.
std::string group_refused_text(crypto::evp::group_fault fault, int bits);

// The running hash of a key exchange (H, and the derived keys): the project's own SHA-1 for the fixed suite,
// libcrypto's hash of the negotiated method otherwise.
class exchange_hash {
public:
    void start(bool own_sha1, crypto::evp::hash_kind kind);
    void update(const void* p, std::size_t n);
    void absorb_string(const void* p, std::size_t n);
    std::size_t final(std::uint8_t* out);  // the digest's length

private:
    bool own_ = true;
    crypto::sha1_context sha1_;
    std::optional<crypto::evp::hash_context> evp_;
};

class kex_link : public transport_link {
public:
    enum class direction { to_host, from_host };
    // Keys, IV and MAC key for one direction in the lengths the rows name; `restart` sets its sequence number to 0
    // (strict key exchange). False when a library context could not be made.
    virtual bool install_keys(direction d, const cipher_method& c, const mac_method* m, const std::uint8_t* iv,
                              const std::uint8_t* key, const std::uint8_t* mac_key, bool restart) = 0;
    // The sequence number the next packet from the host will carry.
    virtual std::uint32_t incoming_seq() const = 0;

protected:
    ~kex_link() = default;
};

class ssh2_kex {
public:
    ssh2_kex(kex_link& link, ssh_profile& s, session_services& io, ui_services& ui, ssh_prompts& prompts);
    ~ssh2_kex();
    ssh2_kex(const ssh2_kex&) = delete;
    ssh2_kex& operator=(const ssh2_kex&) = delete;

    // The host and port of the coming connection (for known_hosts), and the host's identification line.
    void set_target(std::string_view host, int port);
    void set_host_identification(std::string_view v_s) { v_s_.assign(v_s); }
    // Asked before any message is handled: false drops it (a wrongly guessed exchange packet) or has ended the
    // session (anything but the exchange during a strict first exchange).
    bool admit(std::uint8_t type);
    // The session has ended: the secrets go now.
    void forget();
    // Keys were installed from outside (tests): the first exchange and the service request count as done.
    void assume_done_for_test();

    bool service_requested() const { return service_requested_; }
    // The method of the last finished exchange (null before the first): for the status bar.
    const kex_method* agreed_kex() const { return agreed_; }
    std::span<const std::uint8_t> session_id() const { return {session_id_.data(), sid_len_}; }
    // The host's server-sig-algs (ext-info), empty when it sent none.
    const std::string& server_sig_algs() const { return server_sig_algs_; }

    // Message handlers the engine's table routes here (KEXDH_REPLY and NEWKEYS are armed by the exchange itself).
    void on_kexinit(wire_reader& r);
    void on_reply(wire_reader& r);
    void on_newkeys(wire_reader& r);
    void newkeys_outside_exchange(wire_reader& r);
    void on_ext_info(wire_reader& r);
    void on_gex_group(wire_reader& r);

private:
    void start_exchange(const std::uint8_t* payload, std::size_t payload_len);
    bool choose_algorithms(const std::uint8_t* payload, std::size_t payload_len);
    // One row per kind of exchange method: our share into KEXDH_INIT; the host's share read from its reply (after
    // K_S); e, f and K in the forms the exchange hash takes, from both shares.
    struct exchange_values {
        std::optional<crypto::bignum> f;                    // group 1
        std::optional<std::span<const std::uint8_t>> peer;  // the others
        std::vector<std::uint8_t> e_str, f_str, k_enc;      // K as an mpint, or as a string for the hybrids
        ~exchange_values();
    };
    struct step {
        kex_kind kind;
        bool shares_as_mpint;   // MODP groups send e and f as mpints, the curves Q_C and Q_S as strings
        bool secret_as_string;  // the hybrids' K, a digest, is a string in the hash and the derivation
        std::unique_ptr<crypto::evp::kex_share> (*make)(int param);  // null: the project's own group 1
        bool (ssh2_kex::*our_share)(const step& row, wire_writer& d);
        void (ssh2_kex::*their_share)(const step& row, wire_reader& r, exchange_values& v);
        bool (ssh2_kex::*secret)(const step& row, exchange_values& v);
    };
    static const step& step_of(kex_kind kind);
    // Our share in INIT, the host's reply awaited as `reply`.
    void send_share(const step& row, std::uint8_t init, std::uint8_t reply);
    void request_group();
    bool own_share(const step& row, wire_writer& d);
    bool library_share(const step& row, wire_writer& d);
    void read_own_share(const step& row, wire_reader& r, exchange_values& v);
    void read_library_share(const step& row, wire_reader& r, exchange_values& v);
    bool own_secret(const step& row, exchange_values& v);
    bool library_secret(const step& row, exchange_values& v);
    bool verify_host_key(std::span<const std::uint8_t> ks, std::span<const std::uint8_t> sig);
    // The key of a first exchange checked against known_hosts (a question for an unknown one), then finish_reply;
    // a re-exchange's key must be the first one's.
    void trust_host_key(std::span<const std::uint8_t> ks);
    void apply_trust(const host_trust& t, const std::vector<std::string>& log);
    void finish_reply();  // NEWKEYS under the derived keys
    void derive(std::span<const std::uint8_t> k_enc, char letter, std::uint8_t* out, std::size_t len);
    const cipher_method* fixed_cipher() const;
    // The host-key algorithms offered: certificate names first for a host an @cert-authority line vouches for.
    const std::string& host_key_offer();

    kex_link& link_;
    ssh_profile& s_;
    session_services& io_;
    ui_services& ui_;
    ssh_prompts& prompts_;

    std::string host_;
    int port_ = 22;
    std::string v_s_;  // the host's identification line
    exchange_hash xhash_;
    bool first_exchange_ = true;
    bool service_requested_ = false;
    bool strict_ = false;
    bool running_ = false;     // from the host's KEXINIT to its NEWKEYS
    bool initial_ = true;      // until the host's first NEWKEYS: strict key exchange allows nothing else
    bool skip_guess_ = false;  // the host's guessed first exchange packet is to be ignored
    std::array<std::uint8_t, crypto::evp::max_digest_length> session_id_{};
    std::array<std::uint8_t, crypto::evp::max_digest_length> h_{};
    std::size_t h_len_ = 20;
    std::size_t sid_len_ = 20;
    std::vector<std::uint8_t> host_key_;  // the first exchange's host key blob

    // negotiated choices of the running exchange
    const kex_method* kex_ = nullptr;
    const kex_method* agreed_ = nullptr;
    std::uint8_t awaited_ = 31;  // the exchange message the host owes next (KEXDH_REPLY first)
    std::uint32_t gex_n_ = 0;    // the group size we asked for
    int gex_priv_bits_ = 0;
    std::vector<std::uint8_t> gex_fields_;  // min, n, max, p, g as the exchange hash takes them
    std::string host_key_alg_;
    std::string host_key_offer_;  // this connection's host-key list, made at the first exchange
    const cipher_method* cipher_out_ = nullptr;
    const cipher_method* cipher_in_ = nullptr;
    const mac_method* mac_out_ = nullptr;
    const mac_method* mac_in_ = nullptr;
    // Server-to-client IV, key and MAC key of the running exchange, used from the server's NEWKEYS on.
    std::uint8_t pending_in_[3][64] = {};
    std::uint8_t derived_[6][64] = {};  // A..F of the exchange whose host key is being trusted
    std::optional<crypto::dh_group> group_;
    std::optional<crypto::bignum> x_, e_;
    std::unique_ptr<crypto::evp::kex_share> share_;
    std::string server_sig_algs_;
};

}  // namespace ssh
