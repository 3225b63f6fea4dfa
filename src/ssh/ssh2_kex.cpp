// SSH-2 key exchange (RFC 4253 sections 7 and 8, RFC 5656, RFC 8731, RFC 4419's group exchange, and the
// sntrup761 and ML-KEM-768 hybrids with X25519 as OpenSSH defines them): the KEXINIT lists (negotiated, or the fixed
// suite's one name each), our share and the shared secret by the method's kind, the exchange hash, the host key's
// signature and trust, the derived keys and NEWKEYS, and ext-info.
#include "ssh/ssh2_kex.h"

#include <algorithm>
#include <cstring>

#include "session/profile.h"
#include "config/ui_services.h"
#include "crypto/bytes.h"
#include "crypto/mlkem768.h"
#include "crypto/random.h"
#include "crypto/sntrup761.h"
#include "crypto/wipe.h"
#include "session/session.h"
#include "ssh/certificate.h"
#include "ssh/known_hosts.h"
#include "ssh/services.h"
#include "ssh/ssh2.h"

namespace ssh {

namespace {

constexpr std::string_view label_hash = "exchange hash ";

std::string_view client_id_line() { return client_identification.substr(0, client_identification.size() - 1); }

// An SSH string: the 32-bit length, then the bytes (with a zero byte in front when sign_byte is set).
std::vector<std::uint8_t> ssh_string(std::span<const std::uint8_t> v, bool sign_byte = false) {
    const std::size_t len = v.size() + (sign_byte ? 1 : 0);
    std::vector<std::uint8_t> out(4 + len);
    crypto::store_be(out.data(), static_cast<std::uint32_t>(len));
    std::copy(v.begin(), v.end(), out.end() - std::ptrdiff_t(v.size()));
    return out;
}

// An unsigned big-endian number in the SSH mpint string form: leading zeros dropped, a zero byte in front when
// the top bit is set.
std::vector<std::uint8_t> mpint_string(std::span<const std::uint8_t> v) {
    std::size_t i = 0;
    while (i < v.size() && v[i] == 0) ++i;
    return ssh_string(v.subspan(i), i < v.size() && (v[i] & 0x80));
}

std::vector<std::uint8_t> mpint_string(const crypto::bignum& b) {
    std::vector<std::uint8_t> m = crypto::to_ssh2_mpint_bytes(b);
    std::vector<std::uint8_t> out = ssh_string(m);
    crypto::wipe(m);  // K passes through here
    return out;
}

// The eight negotiated lists of a KEXINIT, in order, named for the user.
constexpr std::string_view slot_names[] = {
    "key exchange method", "host key type",       "cipher (to the host)",      "cipher (from the host)",
    "MAC (to the host)",   "MAC (from the host)", "compression (to the host)", "compression (from the host)"};

std::string no_common_text(std::string_view slot, std::string_view ours, std::string_view theirs) {
    return "SSH: the host and this program have no " + std::string(slot) +
           " in common. Session must close!!!\nThis program offers: " + std::string(ours) +
           "\nThe host offers: " + std::string(theirs);
}

// The fixed suite never negotiates, but a host that lacks one of its names would only fail later with a vaguer
// error: the first list without it is named now. A KEXINIT too damaged to read is left to fail as it always has.
std::optional<std::string> fixed_suite_gap(const std::uint8_t* payload, std::size_t payload_len,
                                           std::string_view cipher) {
    wire_reader r(payload + 1, payload_len - 1);
    r.bytes(16);
    std::string_view lists[6];
    for (auto& l : lists) l = r.text(16384).value_or("");
    if (!r.ok()) return std::nullopt;
    const std::string_view ours[] = {"diffie-hellman-group1-sha1", "ssh-dss", cipher, cipher, "hmac-sha1", "hmac-sha1"};
    for (int i = 0; i < 6; ++i)
        if (!name_list_has(lists[i], ours[i])) return no_common_text(slot_names[i], ours[i], lists[i]);
    return std::nullopt;
}

// OpenSSH's choice of group size for the security the session's keys need (dh_estimate).
std::uint32_t group_bits_for(std::size_t need_bits) {
    return need_bits <= 112 ? 2048 : need_bits <= 128 ? 3072 : need_bits <= 192 ? 7680 : 8192;
}

std::vector<std::uint8_t> u32_bytes(std::uint32_t v) {
    std::vector<std::uint8_t> out(4);
    crypto::store_be(out.data(), v);
    return out;
}

// The post-quantum half of a hybrid method, sizes and the client's two steps.
struct kem {
    std::size_t pk_len, sk_len, ct_len;
    crypto::evp::hash_kind hash;
    void (*keypair)(std::uint8_t* pk, std::uint8_t* sk);
    void (*decaps)(std::uint8_t* ss, const std::uint8_t* ct, const std::uint8_t* sk);
};
namespace sntrup = crypto::sntrup761;
namespace mlkem = crypto::mlkem768;
constexpr kem sntrup761_kem = {
    sntrup::public_key_size,
    sntrup::secret_key_size,
    sntrup::ciphertext_size,
    crypto::evp::hash_kind::sha512,
    [](std::uint8_t* pk, std::uint8_t* sk) { sntrup::keypair(pk, sk); },
    [](std::uint8_t* ss, const std::uint8_t* ct, const std::uint8_t* sk) { sntrup::dec(ss, ct, sk); }};
constexpr kem mlkem768_kem = {mlkem::public_key_size,
                              mlkem::secret_key_size,
                              mlkem::ciphertext_size,
                              crypto::evp::hash_kind::sha256,
                              [](std::uint8_t* pk, std::uint8_t* sk) { mlkem::keypair(pk, sk); },
                              [](std::uint8_t* ss, const std::uint8_t* ct, const std::uint8_t* sk) {
                                  // Our own secret key always passes the hash check; should it not, the
                                  // secret is zeros and the host's signature over H fails.
                                  if (!mlkem::decaps(sk, ct, ss)) std::memset(ss, 0, mlkem::shared_secret_size);
                              }};
constexpr std::size_t max_pk = std::max(sntrup::public_key_size, mlkem::public_key_size);
constexpr std::size_t max_sk = std::max(sntrup::secret_key_size, mlkem::secret_key_size);
static_assert(sntrup::shared_secret_size == 32 && mlkem::shared_secret_size == 32);

// A KEM paired with X25519: Q_C = KEM public key || X25519 key, Q_S = ciphertext || X25519 key, and the secret
// the method's hash of the KEM secret and the 32 raw X25519 bytes (leading zeros kept).
class hybrid_share final : public crypto::evp::kex_share {
public:
    explicit hybrid_share(const kem& k) : kem_(k) {}
    ~hybrid_share() override { crypto::wipe(sk_.data(), sk_.size()); }
    bool init() {
        x_ = crypto::evp::make_x25519();
        if (!x_) return false;
        kem_.keypair(pub_.data(), sk_.data());
        const auto x = x_->public_value();
        std::copy(x.begin(), x.end(), pub_.begin() + std::ptrdiff_t(kem_.pk_len));
        return true;
    }
    std::span<const std::uint8_t> public_value() const override { return {pub_.data(), kem_.pk_len + 32}; }
    std::optional<std::vector<std::uint8_t>> shared(std::span<const std::uint8_t> peer) override {
        if (peer.size() != kem_.ct_len + 32) return std::nullopt;
        auto x = x_->shared(peer.subspan(kem_.ct_len));
        if (!x || x->size() > 32) return std::nullopt;
        std::uint8_t secrets[64] = {};
        kem_.decaps(secrets, peer.data(), sk_.data());
        std::copy(x->begin(), x->end(), secrets + 64 - x->size());
        crypto::wipe(*x);
        std::vector<std::uint8_t> k(crypto::evp::digest_length(kem_.hash));
        const bool ok = crypto::evp::digest(kem_.hash, secrets, sizeof secrets, k.data()) == k.size();
        crypto::wipe(secrets, sizeof secrets);
        if (!ok) return std::nullopt;
        return k;
    }

private:
    const kem& kem_;
    std::unique_ptr<crypto::evp::kex_share> x_;
    std::array<std::uint8_t, max_pk + 32> pub_{};
    std::array<std::uint8_t, max_sk> sk_{};
};

std::unique_ptr<crypto::evp::kex_share> make_hybrid(const kem& k) {
    auto s = std::make_unique<hybrid_share>(k);
    if (!s->init()) return nullptr;
    return s;
}

}  // namespace

std::string group_refused_text(crypto::evp::group_fault fault, int bits) {
    using crypto::evp::group_fault;
    if (fault == group_fault::too_small || fault == group_fault::too_large)
        return "SSH: the host offered a " + std::to_string(bits) + "-bit group for the key exchange; this program " +
               "accepts " + std::to_string(gex_min_bits) + " to " + std::to_string(gex_max_bits) +
               " bits. Session must close!!!";
    return std::string("SSH protocol violation: the host's group for the key exchange has ") +
           (fault == group_fault::even_modulus ? "an even modulus" : "a generator out of range") +
           ". Session must close!!!";
}

void exchange_hash::start(bool own_sha1, crypto::evp::hash_kind kind) {
    own_ = own_sha1;
    sha1_.init();
    if (own_)
        evp_.reset();
    else
        evp_.emplace(kind);
}

void exchange_hash::update(const void* p, std::size_t n) {
    if (own_)
        sha1_.update(p, n);
    else
        evp_->update(p, n);
}

void exchange_hash::absorb_string(const void* p, std::size_t n) {
    if (own_)
        sha1_.absorb_string(p, n);
    else
        evp_->absorb_string(p, n);
}

std::size_t exchange_hash::final(std::uint8_t* out) {
    if (!own_) return evp_->final(out);
    sha1_.final(out);
    return crypto::sha1_digest_size;
}

ssh2_kex::ssh2_kex(kex_link& link, ssh_profile& s, session_services& io, ui_services& ui, ssh_prompts& prompts)
    : link_(link), s_(s), io_(io), ui_(ui), prompts_(prompts) {}

ssh2_kex::~ssh2_kex() { forget(); }

void ssh2_kex::forget() {
    crypto::wipe(session_id_.data(), session_id_.size());
    crypto::wipe(h_.data(), h_.size());
    crypto::wipe(pending_in_, sizeof pending_in_);
    crypto::wipe(derived_, sizeof derived_);
    group_.reset();
    x_.reset();
    e_.reset();
    share_.reset();
}

void ssh2_kex::set_target(std::string_view host, int port) {
    host_.assign(host);
    port_ = port;
}

void ssh2_kex::assume_done_for_test() {
    first_exchange_ = false;
    service_requested_ = true;
}

bool ssh2_kex::admit(std::uint8_t type) {
    if (skip_guess_ && type >= 30 && type <= 49) {
        skip_guess_ = false;  // the host guessed our exchange method wrong: its first exchange packet is void
        return false;
    }
    // Strict key exchange: nothing but the exchange itself until the host's first NEWKEYS (its KEXINIT being the
    // very first packet is checked once the lists are read).
    if (strict_ && initial_ && !(type == SSH_MSG_NEWKEYS || type == awaited_ || type == SSH_MSG_DISCONNECT)) {
        link_.fail(msg::strict_kex_violation);
        return false;
    }
    return true;
}

const cipher_method* ssh2_kex::fixed_cipher() const {
    return find_cipher(s_.ssh_encryption == 2 ? "blowfish-cbc" : "3des-cbc");
}

bool ssh2_kex::choose_algorithms(const std::uint8_t* payload, std::size_t payload_len) {
    wire_reader r(payload + 1, payload_len - 1);
    r.bytes(16);
    std::string_view lists[10];
    for (auto& l : lists) l = r.text(16384).value_or("");
    const auto follows = r.boolean();
    if (!r.ok()) {
        link_.fail(msg::protocol_violation);
        return false;
    }
    const std::string ours[] = {client_kex_methods(),
                                host_key_offer(),
                                client_cipher_list(),
                                client_cipher_list(),
                                client_mac_list(),
                                client_mac_list(),
                                "none",
                                "none"};
    std::string_view chosen[8];
    for (int i = 0; i < 8; ++i) {
        auto c = negotiate(ours[i], lists[i]);
        const bool mac_slot = i == 4 || i == 5;
        const bool aead = mac_slot && chosen[i - 2].size() && find_cipher(chosen[i - 2])->tag != 0;
        if (!c && !aead) {
            link_.fail(no_common_text(slot_names[i], ours[i], lists[i]));
            return false;
        }
        chosen[i] = aead ? std::string_view() : c.value_or("");
    }
    if (first_exchange_) {
        strict_ = name_list_has(lists[0], strict_kex_server);
        // Under strict key exchange the host's KEXINIT must be the first packet of the connection.
        if (strict_ && link_.incoming_seq() != 1) {
            link_.fail(msg::strict_kex_violation);
            return false;
        }
    }
    io_.session_log_line("kex: " + std::string(chosen[0]) + ", host key " + std::string(chosen[1]) + ", ciphers " +
                         std::string(chosen[2]) + " / " + std::string(chosen[3]) + ", MACs " +
                         std::string(chosen[4].empty() ? "(implicit)" : chosen[4]) + " / " +
                         std::string(chosen[5].empty() ? "(implicit)" : chosen[5]) +
                         (strict_ ? ", strict key exchange" : ""));
    kex_ = find_kex(chosen[0]);
    host_key_alg_.assign(chosen[1]);
    cipher_out_ = find_cipher(chosen[2]);
    cipher_in_ = find_cipher(chosen[3]);
    mac_out_ = cipher_out_ && cipher_out_->tag ? nullptr : find_mac(chosen[4]);
    mac_in_ = cipher_in_ && cipher_in_->tag ? nullptr : find_mac(chosen[5]);
    // Our own lists come from the tables, so every choice has its row; this only guards against drift.
    if (!kex_ || !cipher_out_ || !cipher_in_ || (!cipher_out_->tag && !mac_out_) || (!cipher_in_->tag && !mac_in_)) {
        link_.fail(msg::protocol_violation);
        return false;
    }
    // A guessed first packet counts only when the guesses were right (RFC 4253 section 7).
    if (follows && *follows) {
        const std::string_view guess_kex = lists[0].substr(0, lists[0].find(','));
        const std::string_view guess_key = lists[1].substr(0, lists[1].find(','));
        skip_guess_ = guess_kex != kex_->name || guess_key != host_key_alg_;
    }
    return true;
}

void ssh2_kex::on_kexinit(wire_reader& r) {
    if (running_) return link_.fail(msg::second_kexinit);
    // The whole payload, type byte included, goes into the exchange hash. Its reserved field is not checked for
    // the end: hosts may add to it.
    start_exchange(r.rest().data() - 1, r.remaining() + 1);
}

void ssh2_kex::start_exchange(const std::uint8_t* payload, std::size_t payload_len) {
    // The pty-reply flag survives a re-exchange: clearing it would leave the shell never requested.
    if (link_.negotiated()) {
        if (!choose_algorithms(payload, payload_len)) return;
    } else {
        static const kex_method& group1 = *find_kex("diffie-hellman-group1-sha1");
        kex_ = &group1;
        host_key_alg_ = "ssh-dss";
        cipher_out_ = cipher_in_ = fixed_cipher();
        mac_out_ = mac_in_ = find_mac("hmac-sha1");
    }
    running_ = true;
    gex_fields_.clear();
    crypto::random_seed();
    wire_writer w = link_.begin(SSH_MSG_KEXINIT);
    std::uint8_t cookie[16];
    crypto::random_fill(cookie, sizeof cookie);
    w.raw(cookie, sizeof cookie);
    if (link_.negotiated()) {
        w.string(client_kex_list());
        w.string(host_key_offer());
        w.string(client_cipher_list());
        w.string(client_cipher_list());
        w.string(client_mac_list());
        w.string(client_mac_list());
    } else {
        w.string("diffie-hellman-group1-sha1");
        w.string("ssh-dss");
        w.string(fixed_cipher()->name);
        w.string(fixed_cipher()->name);
        w.string("hmac-sha1");
        w.string("hmac-sha1");
    }
    w.string("none");
    w.string("none");
    w.string("");
    w.string("");
    w.boolean(false);
    w.u32(0);

    link_.arm(SSH_MSG_NEWKEYS, message_slot::to<&ssh2_kex::newkeys_outside_exchange>(this));
    xhash_.start(!link_.negotiated(), kex_->hash);
    const std::string_view vc = client_id_line();
    xhash_.absorb_string(vc.data(), vc.size());
    xhash_.absorb_string(v_s_.data(), v_s_.size());
    xhash_.absorb_string(w.data() - 1, w.size() + 1);
    xhash_.absorb_string(payload, payload_len);
    link_.send(w);
    if (link_.closed()) return;
    // Our KEXINIT has gone as it always did; only a host that cannot take it is stopped here.
    if (!link_.negotiated())
        if (const auto gap = fixed_suite_gap(payload, payload_len, fixed_cipher()->name)) return link_.fail(*gap);

    if (kex_->kind == kex_kind::gex) return request_group();
    send_share(step_of(kex_->kind), SSH_MSG_KEXDH_INIT, SSH_MSG_KEXDH_REPLY);
}

void ssh2_kex::send_share(const step& row, std::uint8_t init, std::uint8_t reply) {
    wire_writer d = link_.begin(init);
    if (!(this->*row.our_share)(row, d)) return link_.fail(msg::protocol_violation);
    link_.send(d);
    awaited_ = reply;
    if (!link_.closed()) link_.arm(reply, message_slot::to<&ssh2_kex::on_reply>(this));
}

void ssh2_kex::request_group() {
    // The group must be as strong as the longest key, IV, block or MAC key either direction uses.
    std::size_t need = 0;
    for (const cipher_method* c : {cipher_out_, cipher_in_}) need = std::max({need, c->key_len, c->iv_len, c->block});
    for (const mac_method* m : {mac_out_, mac_in_})
        if (m) need = std::max(need, m->key_len);
    gex_n_ = std::clamp(group_bits_for(need * 8), gex_min_bits, gex_max_bits);
    gex_priv_bits_ = int(need * 16);
    wire_writer w = link_.begin(SSH_MSG_KEX_DH_GEX_REQUEST);
    w.u32(gex_min_bits);
    w.u32(gex_n_);
    w.u32(gex_max_bits);
    link_.send(w);
    awaited_ = SSH_MSG_KEX_DH_GEX_GROUP;
    if (!link_.closed()) link_.arm(SSH_MSG_KEX_DH_GEX_GROUP, message_slot::to<&ssh2_kex::on_gex_group>(this));
}

void ssh2_kex::on_gex_group(wire_reader& r) {
    link_.disarm(SSH_MSG_KEX_DH_GEX_GROUP);
    const auto p = r.mpint_bytes();
    const auto g = r.mpint_bytes();
    r.at_end();
    if (r.error() == wire_error::trailing) return link_.fail(trailing_message(SSH_MSG_KEX_DH_GEX_GROUP));
    if (!r.ok() || !p || !g) return link_.fail(msg::protocol_violation);
    const auto fault = crypto::evp::check_group(*p, *g, int(gex_min_bits), int(gex_max_bits));
    if (fault != crypto::evp::group_fault::none)
        return link_.fail(group_refused_text(fault, crypto::evp::bit_length(*p)));
    share_ = crypto::evp::make_group_share(*p, *g, std::min(gex_priv_bits_, crypto::evp::bit_length(*p) - 1));
    if (!share_) return link_.fail(msg::protocol_violation);
    for (const std::uint32_t v : {gex_min_bits, gex_n_, gex_max_bits}) {
        const auto b = u32_bytes(v);
        gex_fields_.insert(gex_fields_.end(), b.begin(), b.end());
    }
    for (const auto& v : {mpint_string(*p), mpint_string(*g)})
        gex_fields_.insert(gex_fields_.end(), v.begin(), v.end());
    send_share(step_of(kex_kind::gex), SSH_MSG_KEX_DH_GEX_INIT, SSH_MSG_KEX_DH_GEX_REPLY);
}

const ssh2_kex::step& ssh2_kex::step_of(kex_kind kind) {
    static const step rows[] = {
        {kex_kind::group1, true, false, nullptr, &ssh2_kex::own_share, &ssh2_kex::read_own_share,
         &ssh2_kex::own_secret},
        {kex_kind::modp, true, false, [](int group) { return crypto::evp::make_modp(group); }, &ssh2_kex::library_share,
         &ssh2_kex::read_library_share, &ssh2_kex::library_secret},
        {kex_kind::x25519, false, false, [](int) { return crypto::evp::make_x25519(); }, &ssh2_kex::library_share,
         &ssh2_kex::read_library_share, &ssh2_kex::library_secret},
        {kex_kind::ecdh, false, false, [](int bits) { return crypto::evp::make_ecdh(bits); }, &ssh2_kex::library_share,
         &ssh2_kex::read_library_share, &ssh2_kex::library_secret},
        // The group's share is made when the host's group arrives.
        {kex_kind::gex, true, false, nullptr, &ssh2_kex::library_share, &ssh2_kex::read_library_share,
         &ssh2_kex::library_secret},
        {kex_kind::sntrup761_x25519, false, true, [](int) { return make_hybrid(sntrup761_kem); },
         &ssh2_kex::library_share, &ssh2_kex::read_library_share, &ssh2_kex::library_secret},
        {kex_kind::mlkem768_x25519, false, true, [](int) { return make_hybrid(mlkem768_kem); },
         &ssh2_kex::library_share, &ssh2_kex::read_library_share, &ssh2_kex::library_secret},
    };
    for (const step& r : rows)
        if (r.kind == kind) return r;
    return rows[0];  // every kind has its row
}

ssh2_kex::exchange_values::~exchange_values() { crypto::wipe(k_enc); }

bool ssh2_kex::own_share(const step&, wire_writer& d) {
    group_ = crypto::dh_group1();
    x_ = crypto::dh_choose_exponent(*group_);
    e_ = crypto::dh_public_value(*group_, *x_);
    d.mpint(*e_);
    return true;
}

bool ssh2_kex::library_share(const step& row, wire_writer& d) {
    if (row.make) share_ = row.make(kex_->param);
    if (!share_) return false;
    const auto pub = share_->public_value();
    if (row.shares_as_mpint) {
        const std::vector<std::uint8_t> m = mpint_string(pub);
        d.raw(m.data(), m.size());
    } else {
        d.string(pub);
    }
    return true;
}

void ssh2_kex::read_own_share(const step&, wire_reader& r, exchange_values& v) { v.f = r.mpint(); }

void ssh2_kex::read_library_share(const step& row, wire_reader& r, exchange_values& v) {
    v.peer = row.shares_as_mpint ? r.mpint_bytes() : r.string(4096);
}

bool ssh2_kex::own_secret(const step&, exchange_values& v) {
    if (!v.f || !group_ || !x_ || !e_) return false;
    const std::optional<crypto::bignum> k = crypto::dh_shared_secret(*group_, *v.f, *x_);
    if (!k) return false;
    v.k_enc = mpint_string(*k);
    v.e_str = mpint_string(*e_);
    v.f_str = mpint_string(*v.f);
    return true;
}

bool ssh2_kex::library_secret(const step& row, exchange_values& v) {
    if (!v.peer || !share_) return false;
    auto k = share_->shared(*v.peer);
    if (!k) return false;
    v.k_enc = row.secret_as_string ? ssh_string(*k) : mpint_string(*k);
    crypto::wipe(k->data(), k->size());
    const auto pub = share_->public_value();
    v.e_str = row.shares_as_mpint ? mpint_string(pub) : ssh_string(pub);
    v.f_str = row.shares_as_mpint ? mpint_string(*v.peer) : ssh_string(*v.peer);
    return true;
}

void ssh2_kex::on_reply(wire_reader& r) {
    link_.disarm(awaited_);
    const auto ks = r.string();
    const step& row = step_of(kex_->kind);
    exchange_values shares;  // wipes the shared secret however this step ends
    (this->*row.their_share)(row, r, shares);
    const auto sig = r.string();
    r.at_end();
    const bool ok = r.ok() && (this->*row.secret)(row, shares);
    const std::vector<std::uint8_t>& k_enc = shares.k_enc;
    group_.reset();
    x_.reset();
    e_.reset();
    share_.reset();
    if (r.error() == wire_error::trailing) return link_.fail(trailing_message(awaited_));
    if (!ok || !ks || !sig) return link_.fail(msg::protocol_violation);
    // e, f and K already carry their length prefixes; so do a group exchange's fields.
    xhash_.absorb_string(ks->data(), ks->size());
    xhash_.update(gex_fields_.data(), gex_fields_.size());
    xhash_.update(shares.e_str.data(), shares.e_str.size());
    xhash_.update(shares.f_str.data(), shares.f_str.size());
    xhash_.update(k_enc.data(), k_enc.size());
    h_len_ = xhash_.final(h_.data());
    io_.session_log_hex(label_hash, h_.data(), h_len_);

    if (!verify_host_key(*ks, *sig)) {
        io_.session_log_line(logtext::host_key_mismatch);
        return link_.fail(msg::bad_host_signature);
    }
    if (first_exchange_) {
        session_id_ = h_;
        sid_len_ = h_len_;
    }
    // Derived now, while the shared secret is at hand; used once the host key is trusted.
    // Key values: IV c->s (A), IV s->c (B), key c->s (C), key s->c (D), MAC c->s (E), MAC s->c (F).
    const std::size_t need[6] = {cipher_out_->iv_len,
                                 cipher_in_->iv_len,
                                 cipher_out_->key_len,
                                 cipher_in_->key_len,
                                 mac_out_ ? mac_out_->key_len : 0,
                                 mac_in_ ? mac_in_->key_len : 0};
    for (int i = 0; i < 6; ++i) derive(k_enc, char('A' + i), derived_[i], need[i]);
    trust_host_key(*ks);
}

void ssh2_kex::finish_reply() {
    first_exchange_ = false;
    link_.send(link_.begin(SSH_MSG_NEWKEYS));
    if (!link_.closed()) {
        // Our packets after NEWKEYS travel under the new keys (the host expects that); the host's switch when its
        // NEWKEYS arrives.
        const bool ok_out = link_.install_keys(kex_link::direction::to_host, *cipher_out_, mac_out_, derived_[0],
                                               derived_[2], derived_[4], strict_);
        std::memcpy(pending_in_[0], derived_[1], 64);
        std::memcpy(pending_in_[1], derived_[3], 64);
        std::memcpy(pending_in_[2], derived_[5], 64);
        link_.arm(SSH_MSG_NEWKEYS, message_slot::to<&ssh2_kex::on_newkeys>(this));
        if (!ok_out) link_.fail(msg::protocol_violation);
    }
    crypto::wipe(derived_, sizeof derived_);
}

bool ssh2_kex::verify_host_key(std::span<const std::uint8_t> ks, std::span<const std::uint8_t> sig) {
    if (host_key_alg_ == "ssh-dss") {
        const auto key = crypto::parse_dss_key(ks.data(), ks.size());
        return key && crypto::dss_verify(*key, sig.data(), sig.size(), h_.data(), h_len_);
    }
    const std::span<const std::uint8_t> h(h_.data(), h_len_);
    if (const std::string plain = certificate_signature_algorithm(host_key_alg_); !plain.empty()) {
        // The certified key signs; whether the certificate stands is the trust step's question.
        const auto cert = parse_certificate(ks);
        return cert && crypto::evp::verify_host_signature(plain, cert->key, sig, h);
    }
    return crypto::evp::verify_host_signature(host_key_alg_, ks, sig, h);
}

const std::string& ssh2_kex::host_key_offer() {
    if (host_key_offer_.empty()) {
        host_key_offer_ = client_host_key_list();
        if (s_.ssh_check_host_key != 0 && has_cert_authority(default_known_hosts_files(), host_, port_))
            host_key_offer_ = certificate_host_key_algorithms() + "," + host_key_offer_;
    }
    return host_key_offer_;
}

void ssh2_kex::trust_host_key(std::span<const std::uint8_t> ks) {
    if (!first_exchange_) {
        // A re-exchange must show the key the first one did.
        if (host_key_.size() == ks.size() && std::equal(ks.begin(), ks.end(), host_key_.begin())) return finish_reply();
        return link_.fail(msg::host_key_switched);
    }
    host_key_.assign(ks.begin(), ks.end());
    if (s_.ssh_check_host_key == 0) return finish_reply();
    const std::string type = host_key_alg_ == "ssh-dss" ? std::string("ssh-dss") : crypto::evp::key_type(ks);
    // The files are read and the question put once this step has returned.
    link_.ask([this, &prompts = prompts_, host = host_, port = port_, type, blob = host_key_,
               policy = host_key_policy_of(s_)] {
        std::vector<std::string> log;
        const host_trust t = is_certificate_type(type)
                                 ? decide_host_certificate_trust(host, port, blob, prompts, log, policy)
                                 : decide_host_trust(host, port, type, blob, prompts, log, policy);
        return std::function<void()>([this, t, log] { apply_trust(t, log); });
    });
}

void ssh2_kex::apply_trust(const host_trust& t, const std::vector<std::string>& log) {
    for (const std::string& line : log) io_.session_log_line(line);
    switch (t.result) {
    case host_trust::verdict::refused: return link_.fail(t.message);
    case host_trust::verdict::cancelled: return io_.session_disconnect();
    case host_trust::verdict::trusted: break;
    }
    if (!t.message.empty()) ui_.message_box(t.message);
    finish_reply();
}

void ssh2_kex::derive(std::span<const std::uint8_t> k_enc, char letter, std::uint8_t* out, std::size_t len) {
    // RFC 4253 section 7.2: HASH(K || H || letter || session_id), extended by HASH(K || H || K1 || ...).
    std::uint8_t buf[2 * crypto::evp::max_digest_length + 64];
    const std::size_t dl = crypto::evp::digest_length(kex_->hash);
    exchange_hash h;
    h.start(!link_.negotiated(), kex_->hash);
    h.update(k_enc.data(), k_enc.size());
    h.update(h_.data(), h_len_);
    h.update(&letter, 1);
    h.update(session_id_.data(), sid_len_);
    std::size_t have = h.final(buf);
    while (have < len && have + dl <= sizeof buf) {
        h.start(!link_.negotiated(), kex_->hash);
        h.update(k_enc.data(), k_enc.size());
        h.update(h_.data(), h_len_);
        h.update(buf, have);
        have += h.final(buf + have);
    }
    std::memcpy(out, buf, std::min<std::size_t>(len, 64));
    crypto::wipe(buf, sizeof buf);
}

void ssh2_kex::newkeys_outside_exchange(wire_reader&) { link_.fail(msg::newkeys_outside_exchange); }

void ssh2_kex::on_newkeys(wire_reader& r) {
    link_.arm(SSH_MSG_NEWKEYS, message_slot::to<&ssh2_kex::newkeys_outside_exchange>(this));
    if (!link_.finished(r)) return;
    running_ = false;
    initial_ = false;
    agreed_ = kex_;
    // The exchange's choices stand until the next KEXINIT, which cannot come before this NEWKEYS.
    const bool ok = link_.install_keys(kex_link::direction::from_host, *cipher_in_, mac_in_, pending_in_[0],
                                       pending_in_[1], pending_in_[2], strict_);
    crypto::wipe(pending_in_, sizeof pending_in_);
    if (!ok) return link_.fail(msg::protocol_violation);
    // Only the first exchange asks for the sign-on service; a re-exchange, even one before the channel is open,
    // must not ask again.
    if (service_requested_) return;
    service_requested_ = true;
    wire_writer w = link_.begin(SSH_MSG_SERVICE_REQUEST);
    w.string("ssh-userauth");
    link_.send(w);
}

void ssh2_kex::on_ext_info(wire_reader& r) {
    const auto count = r.u32();
    std::optional<std::string_view> sig_algs;
    for (std::uint32_t i = 0; count && i < *count && r.ok(); ++i) {
        const auto name = r.text(256);
        const auto value = r.text(16384);
        if (name && value && *name == "server-sig-algs") sig_algs = value;
    }
    if (link_.finished(r) && sig_algs) server_sig_algs_.assign(*sig_algs);
}

}  // namespace ssh
