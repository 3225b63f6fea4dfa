#include "ssh/ssh2.h"

#include <algorithm>
#include <cstring>

#include "config/settings.h"
#include "config/ui_services.h"
#include "crypto/bytes.h"
#include "crypto/random.h"
#include "crypto/wipe.h"
#include "session/session.h"
#include "ssh/agent.h"
#include "ssh/known_hosts.h"
#include "ssh/services.h"

namespace ssh {

namespace {

constexpr std::string_view label_in = "FROM UNIX (decrypted ssh2)";
constexpr std::string_view label_out = "PC (not crypted)";
constexpr std::string_view label_hash = "exchange hash ";
constexpr std::uint32_t max_packet_length = 65535;

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

}  // namespace

std::string disconnect_message(std::uint32_t reason, std::span<const std::uint8_t> text) {
    // RFC 4253 section 11.1.
    static constexpr std::string_view names[] = {"",
                                                 "host not allowed to connect",
                                                 "protocol error",
                                                 "key exchange failed",
                                                 "reserved",
                                                 "MAC error",
                                                 "compression error",
                                                 "service not available",
                                                 "protocol version not supported",
                                                 "host key not verifiable",
                                                 "connection lost",
                                                 "by application",
                                                 "too many connections",
                                                 "authentication cancelled by user",
                                                 "no more authentication methods available",
                                                 "illegal user name"};
    const std::string shown = host_reason(text);
    std::string out = "The host closed the session: " + (shown.empty() ? std::string("no reason given") : shown) +
                      " (reason " + std::to_string(reason);
    if (reason > 0 && reason < std::size(names)) out += ", " + std::string(names[reason]);
    return out + ").";
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

// ---------------------------------------------------------------------------------------------------------------
// One direction's keys

bool packet_direction::install(const cipher_method& c, const mac_method* m, const std::uint8_t* iv,
                               const std::uint8_t* key, const std::uint8_t* mac_key) {
    auto made = make_packet_cipher(c, m, iv, key, mac_key);
    if (!made) return false;
    cipher = std::move(made);
    method = &c;
    return true;
}

// ---------------------------------------------------------------------------------------------------------------

ssh2_engine::ssh2_engine(Settings& s, session_services& io, ui_services& ui, ssh_prompts& prompts)
    : s_(s), io_(io), ui_(ui), prompts_(prompts) {
    arm_handlers();
}

ssh2_engine::~ssh2_engine() {
    close();
    for (auto& k : keys_) crypto::wipe(k.blob);
    crypto::wipe(in_buf_.data(), in_buf_.size());
    crypto::wipe(out_buf_.data(), out_buf_.size());
}

void ssh2_engine::close() {
    ++generation_;
    closed_ = true;
    // The keys go at once; the rest of the state goes with the object, which its owner keeps until no step of it
    // is still running.
    out_ = packet_direction();
    in_ = packet_direction();
    crypto::wipe(session_id_.data(), session_id_.size());
    crypto::wipe(h_.data(), h_.size());
    crypto::wipe(pending_in_, sizeof pending_in_);
    group_.reset();
    x_.reset();
    e_.reset();
    share_.reset();
}

void ssh2_engine::connected() {
    if (!closed_ && s_.ssh_algorithms != 0 && !id_sent_) start_connection();
}

void ssh2_engine::set_target(std::string_view host, int port) {
    host_.assign(host);
    port_ = port;
}

void ssh2_engine::fail(std::string_view text) {
    io_.session_cause(text);
    ui_.message_box(text);
    io_.session_disconnect();
}

const cipher_method* ssh2_engine::fixed_cipher() const {
    return find_cipher(s_.ssh_encryption == 2 ? "blowfish-cbc" : "3des-cbc");
}

// ---------------------------------------------------------------------------------------------------------------
// Transport

void ssh2_engine::start_connection() {
    id_sent_ = true;
    negotiated_ = s_.ssh_algorithms != 0;
    const unsigned now = generation_;
    const std::string_view id = negotiated_ ? client_identification_crlf : client_identification;
    io_.session_write(reinterpret_cast<const std::uint8_t*>(id.data()), id.size());
    if (!alive(now)) id_sent_ = false;
}

void ssh2_engine::receive(const std::uint8_t* bytes, std::size_t n) {
    if (n == 0 || closed_) return;
    if (!id_sent_) {
        start_connection();
        if (!id_sent_) return;
    }
    const unsigned gen = generation_;
    if (!id_done_) {
        std::size_t used = 0;
        const ident_reader::status st = ident_.feed(bytes, n, used);
        if (st == ident_reader::status::too_long || st == ident_reader::status::not_ssh)
            return fail(msg::bad_identification);
        if (st == ident_reader::status::need_more) return;
        const std::string_view v = ident_.line();
        if (v.rfind("SSH-1.", 0) == 0 && v.rfind("SSH-1.99-", 0) != 0) return fail(msg::ssh1_only_host);
        if (v.rfind("SSH-2.0-", 0) != 0 && v.rfind("SSH-1.99-", 0) != 0) return fail(msg::bad_identification);
        v_s_.assign(v);
        id_done_ = true;
        bytes += used;
        n -= used;
        if (n == 0) return;
    }
    // Whole packets are processed as soon as they are in, so a read that holds the end of one packet and the start
    // of the next is taken in pieces.
    while (n > 0) {
        const std::size_t k = rx_.take(bytes, n);
        if (k == 0) {  // every packet accepted fits, so this is a fault of ours: say so rather than spin
            ui_.message_box(msg::out_of_memory);
            if (!alive(gen)) return;
            rx_.clear();
            continue;
        }
        bytes += k;
        n -= k;
        reassemble();
        if (!alive(gen)) return;
    }
}

void ssh2_engine::reassemble() {
    const unsigned gen = generation_;
    while (rx_.size() >= 4) {
        if (!rx_.head_decrypted) {
            if (rx_.size() < in_.cipher->head()) return;
            head_len_ = in_.cipher->length(in_.seq, rx_.data());
            rx_.head_decrypted = true;
        }
        const std::uint32_t len = head_len_;
        if (len > max_packet_length) {
            rx_.clear();
            // The fixed suite drops the buffer and waits; in negotiated mode the stream cannot recover from this,
            // so the session ends with a word instead of going quiet.
            if (negotiated_) fail(msg::protocol_violation);
            return;
        }
        // Too large to process: said now rather than after waiting for all of it.
        if (std::size_t(len) + 4 >= max_packet_length) return fail(msg::illegal_message);
        const std::size_t total = std::size_t(len) + 4 + in_.cipher->trailer();
        if (rx_.size() < total) return;
        rx_.head_decrypted = false;
        process_packet(total, len);
        // A packet that ended the session leaves whatever followed it unread.
        if (!alive(gen)) return;
        rx_.consume(total);
    }
}

void ssh2_engine::process_packet(std::size_t total, std::uint32_t len) {
    const unsigned gen = generation_;
    std::uint8_t* p = in_buf_.data();
    std::memcpy(p, rx_.data(), total);
    const std::size_t a = std::size_t(len) + 4;
    // Where nothing is decrypted before it is authenticated the length must fill whole blocks.
    if (!in_.cipher->length_fits(len)) return fail(msg::protocol_violation);
    bool authentic = in_.cipher->open(in_.seq, p, len);
    if (authentic) {
        io_.session_log_hex(label_in, p, a);
        if (!alive(gen)) return;
        authentic = in_.cipher->verify_plain(in_.seq, p, len);
    }
    if (!authentic) {
        io_.session_log_line(logtext::wrong_mac);
        // Every later packet would fail too: the stream is lost, so say so and end the session.
        return fail(msg::bad_mac);
    }
    ++in_.seq;
    // Padding length and type must fit the packet; anything else is dropped.
    if (len < 2 || std::size_t(p[4]) + 1 >= len) return;
    const std::size_t payload_len = len - p[4] - 1;
    dispatch(p[5], p + 6, payload_len - 1);
}

wire_writer ssh2_engine::begin(std::uint8_t type) {
    out_buf_[5] = type;
    return wire_writer(out_buf_.data() + 6, payload_room);
}

void ssh2_engine::send(const wire_writer& w, secret_range mask) {
    if (closed_) return;                 // a step that went on after the session ended
    if (w.overflow()) return;            // the builders bound every field; this is the last line of defence
    const std::size_t l = w.size() + 1;  // type byte included
    const std::size_t block = out_.cipher->block();
    // The length field is outside the padded part when it travels in clear or under its own key.
    const std::size_t covered = out_.cipher->length_apart() ? 1 + l : 5 + l;
    std::size_t pad = block - (covered % block);
    if (pad < 4) pad += block;
    while (l + pad + 5 < 16) pad += block;
    std::uint8_t* p = out_buf_.data();
    crypto::random_fill(p + 5 + l, pad);
    crypto::store_be(p, static_cast<std::uint32_t>(l + pad + 1));
    p[4] = static_cast<std::uint8_t>(pad);
    const std::size_t n = l + pad + 5;
    const std::size_t trailer = out_.cipher->trailer();
    const std::size_t logged = n + out_.cipher->mac_plain(out_.seq, p, n);
    if (mask.len == 0) {
        io_.session_log_hex(label_out, p, logged);
    } else {
        // The log never sees a secret: the same bytes with the secret's place starred.
        std::memcpy(log_copy_.data(), p, logged);
        std::memset(log_copy_.data() + 6 + mask.from, '*', mask.len);
        io_.session_log_hex(label_out, log_copy_.data(), logged);
        crypto::wipe(log_copy_.data(), logged);
    }
    out_.cipher->seal(out_.seq, p, n);
    ++out_.seq;
    io_.session_write(p, n + trailer);
}

void ssh2_engine::dispatch(std::uint8_t type, const std::uint8_t* data, std::size_t n) {
    if (skip_guess_ && type >= 30 && type <= 49) {
        skip_guess_ = false;  // the host guessed our exchange method wrong: its first exchange packet is void
        return;
    }
    // Strict key exchange: nothing but the exchange itself until the host's first NEWKEYS (its KEXINIT being the
    // very first packet is checked once the lists are read).
    if (strict_ && initial_kex_ &&
        !(type == SSH_MSG_NEWKEYS || type == SSH_MSG_KEXDH_REPLY || type == SSH_MSG_DISCONNECT))
        return fail(msg::strict_kex_violation);
    in_type_ = type;
    wire_reader r(data, n);
    (this->*on_[type])(r);
}

void ssh2_engine::arm_handlers() {
    on_.fill(&ssh2_engine::unexpected);
    on_[SSH_MSG_DISCONNECT] = &ssh2_engine::on_disconnect;
    on_[SSH_MSG_IGNORE] = &ssh2_engine::on_reply;
    on_[SSH_MSG_UNIMPLEMENTED] = &ssh2_engine::on_reply;
    on_[SSH_MSG_DEBUG] = &ssh2_engine::on_ignored;
    on_[SSH_MSG_KEXINIT] = &ssh2_engine::on_kexinit;
    on_[SSH_MSG_NEWKEYS] = &ssh2_engine::newkeys_outside_exchange;
    on_[SSH_MSG_EXT_INFO] = &ssh2_engine::on_ext_info;
    on_[SSH_MSG_SERVICE_ACCEPT] = &ssh2_engine::on_service_accept;
    on_[SSH_MSG_USERAUTH_FAILURE] = &ssh2_engine::on_auth_failure;
    on_[SSH_MSG_USERAUTH_SUCCESS] = &ssh2_engine::on_auth_success;
    on_[SSH_MSG_USERAUTH_BANNER] = &ssh2_engine::on_banner;
    on_[SSH_MSG_USERAUTH_PASSWD_CHANGEREQ] = &ssh2_engine::on_auth_60;
    on_[SSH_MSG_GLOBAL_REQUEST] = &ssh2_engine::on_global_request;
    on_[SSH_MSG_REQUEST_SUCCESS] = &ssh2_engine::on_reply;
    on_[SSH_MSG_REQUEST_FAILURE] = &ssh2_engine::on_reply;
    on_[SSH_MSG_CHANNEL_OPEN] = &ssh2_engine::on_channel_open;
    on_[SSH_MSG_CHANNEL_OPEN_CONFIRMATION] = &ssh2_engine::on_open_confirmation;
    on_[SSH_MSG_CHANNEL_OPEN_FAILURE] = &ssh2_engine::on_open_failure;
    on_[SSH_MSG_CHANNEL_WINDOW_ADJUST] = &ssh2_engine::on_window_adjust;
    on_[SSH_MSG_CHANNEL_DATA] = &ssh2_engine::on_data;
    on_[SSH_MSG_CHANNEL_EXTENDED_DATA] = &ssh2_engine::on_extended_data;
    on_[SSH_MSG_CHANNEL_EOF] = &ssh2_engine::on_eof;
    on_[SSH_MSG_CHANNEL_CLOSE] = &ssh2_engine::on_close;
    on_[SSH_MSG_CHANNEL_REQUEST] = &ssh2_engine::on_channel_request;
    on_[SSH_MSG_CHANNEL_SUCCESS] = &ssh2_engine::on_channel_success;
    on_[SSH_MSG_CHANNEL_FAILURE] = &ssh2_engine::on_channel_failure;
}

void ssh2_engine::unexpected(wire_reader&) {
    // RFC 4253 section 11.4 wants an answer to every message not understood or not awaited; the fixed suite keeps
    // to its written silence.
    if (!negotiated_) return;
    wire_writer w = begin(SSH_MSG_UNIMPLEMENTED);
    w.u32(in_.seq - 1);
    send(w);
}

bool ssh2_engine::finished(wire_reader& r) {
    if (r.at_end()) return true;
    if (r.error() == wire_error::trailing) fail(trailing_message(in_type_));
    return false;
}

std::string trailing_message(std::uint8_t type) {
    return "SSH protocol violation: the host's message " + std::to_string(type) +
           " holds bytes after its last field. Session must close!!!";
}

void ssh2_engine::on_disconnect(wire_reader& r) {
    // The language tag after the text is not read: hosts differ in sending it.
    const auto reason = r.u32();
    const auto text = r.string();
    fail(disconnect_message(reason.value_or(0), text.value_or(std::span<const std::uint8_t>())));
}

// IGNORE, UNIMPLEMENTED and the global replies: any of them shows the host is there.
void ssh2_engine::on_reply(wire_reader&) { keepalives_unanswered_ = 0; }

void ssh2_engine::on_ignored(wire_reader&) {}

// ---------------------------------------------------------------------------------------------------------------
// Key exchange

bool ssh2_engine::choose_algorithms(const std::uint8_t* payload, std::size_t payload_len) {
    wire_reader r(payload + 1, payload_len - 1);
    r.bytes(16);
    std::string_view lists[10];
    for (auto& l : lists) l = r.text(16384).value_or("");
    const auto follows = r.boolean();
    if (!r.ok()) {
        fail(msg::protocol_violation);
        return false;
    }
    const std::string ours[] = {client_kex_methods(),
                                client_host_key_list(),
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
            fail(no_common_text(slot_names[i], ours[i], lists[i]));
            return false;
        }
        chosen[i] = aead ? std::string_view() : c.value_or("");
    }
    if (first_exchange_) {
        strict_ = name_list_has(lists[0], strict_kex_server);
        // Under strict key exchange the host's KEXINIT must be the first packet of the connection.
        if (strict_ && in_.seq != 1) {
            fail(msg::strict_kex_violation);
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
        fail(msg::protocol_violation);
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

void ssh2_engine::on_kexinit(wire_reader& r) {
    if (kex_running_) return fail(msg::second_kexinit);
    // The whole payload, type byte included, goes into the exchange hash. Its reserved field is not checked for
    // the end: hosts may add to it.
    start_exchange(r.rest().data() - 1, r.remaining() + 1);
}

void ssh2_engine::start_exchange(const std::uint8_t* payload, std::size_t payload_len) {
    // The pty-reply flag survives a re-exchange: clearing it would leave the shell never requested.
    const unsigned gen = generation_;
    if (negotiated_) {
        if (!choose_algorithms(payload, payload_len)) return;
    } else {
        static const kex_method& group1 = *find_kex("diffie-hellman-group1-sha1");
        kex_ = &group1;
        host_key_alg_ = "ssh-dss";
        cipher_out_ = cipher_in_ = fixed_cipher();
        mac_out_ = mac_in_ = find_mac("hmac-sha1");
    }
    kex_running_ = true;
    crypto::random_seed();
    wire_writer w = begin(SSH_MSG_KEXINIT);
    std::uint8_t cookie[16];
    crypto::random_fill(cookie, sizeof cookie);
    w.raw(cookie, sizeof cookie);
    if (negotiated_) {
        w.string(client_kex_list());
        w.string(client_host_key_list());
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

    on_[SSH_MSG_NEWKEYS] = &ssh2_engine::newkeys_outside_exchange;
    xhash_.start(!negotiated_, kex_->hash);
    const std::string_view vc = client_id_line();
    xhash_.absorb_string(vc.data(), vc.size());
    xhash_.absorb_string(v_s_.data(), v_s_.size());
    xhash_.absorb_string(w.data() - 1, w.size() + 1);
    xhash_.absorb_string(payload, payload_len);
    send(w);
    if (!alive(gen)) return;
    // Our KEXINIT has gone as it always did; only a host that cannot take it is stopped here.
    if (!negotiated_)
        if (const auto gap = fixed_suite_gap(payload, payload_len, fixed_cipher()->name)) return fail(*gap);

    wire_writer d = begin(SSH_MSG_KEXDH_INIT);
    switch (kex_->kind) {
    case kex_kind::group1:
        group_ = crypto::dh_group1();
        x_ = crypto::dh_choose_exponent(*group_);
        e_ = crypto::dh_public_value(*group_, *x_);
        d.mpint(*e_);
        break;
    case kex_kind::modp:
    case kex_kind::x25519:
    case kex_kind::ecdh: {
        share_ = kex_->kind == kex_kind::modp     ? crypto::evp::make_modp(kex_->param)
                 : kex_->kind == kex_kind::x25519 ? crypto::evp::make_x25519()
                                                  : crypto::evp::make_ecdh(kex_->param);
        if (!share_) return fail(msg::protocol_violation);
        const auto pub = share_->public_value();
        if (kex_->kind == kex_kind::modp) {
            const std::vector<std::uint8_t> m = mpint_string(pub);
            d.raw(m.data(), m.size());
        } else {
            d.string(pub);
        }
        break;
    }
    }
    send(d);
    if (alive(gen)) on_[SSH_MSG_KEXDH_REPLY] = &ssh2_engine::on_kex_reply;
}

void ssh2_engine::on_kex_reply(wire_reader& r) {
    on_[SSH_MSG_KEXDH_REPLY] = &ssh2_engine::unexpected;
    const unsigned gen = generation_;
    const auto ks = r.string();
    std::vector<std::uint8_t> k_mpint, e_str, f_str;
    // The shared secret goes however this step ends.
    struct wipe_on_exit {
        std::vector<std::uint8_t>& v;
        ~wipe_on_exit() { crypto::wipe(v); }
    } k_guard{k_mpint};
    std::optional<std::span<const std::uint8_t>> sig;
    bool ok = false;
    if (kex_->kind == kex_kind::group1) {
        const auto f = r.mpint();
        sig = r.string();
        r.at_end();
        std::optional<crypto::bignum> k;
        if (r.ok() && f) k = crypto::dh_shared_secret(*group_, *f, *x_);
        if (r.ok() && k) {
            k_mpint = mpint_string(*k);
            e_str = mpint_string(*e_);
            f_str = mpint_string(*f);
            ok = true;
        }
    } else {
        // MODP sends f as an mpint, the curves send Q_S as a string; both are the peer's share.
        std::optional<std::span<const std::uint8_t>> peer =
            kex_->kind == kex_kind::modp ? r.mpint_bytes() : r.string(1024);
        sig = r.string();
        r.at_end();
        if (r.ok() && peer) {
            auto k = share_->shared(*peer);
            if (k) {
                k_mpint = mpint_string(*k);
                crypto::wipe(k->data(), k->size());
                const auto pub = share_->public_value();
                if (kex_->kind == kex_kind::modp) {
                    e_str = mpint_string(pub);
                    f_str = mpint_string(*peer);
                } else {
                    e_str = ssh_string(pub);
                    f_str = ssh_string(*peer);
                }
                ok = true;
            }
        }
    }
    group_.reset();
    x_.reset();
    e_.reset();
    share_.reset();
    if (r.error() == wire_error::trailing) return fail(trailing_message(in_type_));
    if (!ok || !ks || !sig) return fail(msg::protocol_violation);
    // e, f and K already carry their length prefixes.
    xhash_.absorb_string(ks->data(), ks->size());
    xhash_.update(e_str.data(), e_str.size());
    xhash_.update(f_str.data(), f_str.size());
    xhash_.update(k_mpint.data(), k_mpint.size());
    h_len_ = xhash_.final(h_.data());
    io_.session_log_hex(label_hash, h_.data(), h_len_);
    if (!alive(gen)) return;

    if (!verify_host_key(*ks, *sig)) {
        io_.session_log_line(logtext::host_key_mismatch);
        if (!alive(gen)) return;
        return fail(msg::bad_host_signature);
    }
    if (!trust_host_key(*ks)) return;  // the session has ended
    if (first_exchange_) {
        session_id_ = h_;
        sid_len_ = h_len_;
        first_exchange_ = false;
    }
    // Key values: IV c->s (A), IV s->c (B), key c->s (C), key s->c (D), MAC c->s (E), MAC s->c (F).
    std::uint8_t v[6][64] = {};
    const std::size_t need[6] = {cipher_out_->iv_len,
                                 cipher_in_->iv_len,
                                 cipher_out_->key_len,
                                 cipher_in_->key_len,
                                 mac_out_ ? mac_out_->key_len : 0,
                                 mac_in_ ? mac_in_->key_len : 0};
    for (int i = 0; i < 6; ++i) derive(k_mpint, char('A' + i), v[i], need[i]);
    send(begin(SSH_MSG_NEWKEYS));
    if (alive(gen)) {
        // Our packets after NEWKEYS travel under the new keys (the host expects that); the host's switch when its
        // NEWKEYS arrives.
        const bool ok_out = out_.install(*cipher_out_, mac_out_, v[0], v[2], v[4]);
        if (strict_) out_.seq = 0;
        std::memcpy(pending_in_[0], v[1], 64);
        std::memcpy(pending_in_[1], v[3], 64);
        std::memcpy(pending_in_[2], v[5], 64);
        on_[SSH_MSG_NEWKEYS] = &ssh2_engine::on_newkeys;
        if (!ok_out) fail(msg::protocol_violation);
    }
    crypto::wipe(v, sizeof v);
}

bool ssh2_engine::verify_host_key(std::span<const std::uint8_t> ks, std::span<const std::uint8_t> sig) {
    if (host_key_alg_ == "ssh-dss") {
        const auto key = crypto::parse_dss_key(ks.data(), ks.size());
        return key && crypto::dss_verify(*key, sig.data(), sig.size(), h_.data(), h_len_);
    }
    return crypto::evp::verify_host_signature(host_key_alg_, ks, sig, std::span<const std::uint8_t>(h_.data(), h_len_));
}

bool ssh2_engine::trust_host_key(std::span<const std::uint8_t> ks) {
    if (!first_exchange_) {
        // A re-exchange must show the key the first one did.
        if (host_key_.size() == ks.size() && std::equal(ks.begin(), ks.end(), host_key_.begin())) return true;
        fail(msg::host_key_switched);
        return false;
    }
    host_key_.assign(ks.begin(), ks.end());
    if (s_.ssh_check_host_key == 0) return true;
    const std::string type = host_key_alg_ == "ssh-dss" ? std::string("ssh-dss") : crypto::evp::key_type(ks);
    const unsigned gen = generation_;
    std::vector<std::string> log;
    const host_trust t = decide_host_trust(host_, port_, type, ks, prompts_, log);
    if (!alive(gen)) return false;
    for (const std::string& line : log) io_.session_log_line(line);
    switch (t.result) {
    case host_trust::verdict::refused: fail(t.message); return false;
    case host_trust::verdict::cancelled: io_.session_disconnect(); return false;
    case host_trust::verdict::trusted: break;
    }
    if (!t.message.empty()) {
        ui_.message_box(t.message);
        if (!alive(gen)) return false;
    }
    return true;
}

void ssh2_engine::derive(std::span<const std::uint8_t> k_mpint, char letter, std::uint8_t* out, std::size_t len) {
    // RFC 4253 section 7.2: HASH(K || H || letter || session_id), extended by HASH(K || H || K1 || ...).
    std::uint8_t buf[2 * crypto::evp::max_digest_length + 64];
    const std::size_t dl = crypto::evp::digest_length(kex_->hash);
    exchange_hash h;
    h.start(!negotiated_, kex_->hash);
    h.update(k_mpint.data(), k_mpint.size());
    h.update(h_.data(), h_len_);
    h.update(&letter, 1);
    h.update(session_id_.data(), sid_len_);
    std::size_t have = h.final(buf);
    while (have < len && have + dl <= sizeof buf) {
        h.start(!negotiated_, kex_->hash);
        h.update(k_mpint.data(), k_mpint.size());
        h.update(h_.data(), h_len_);
        h.update(buf, have);
        have += h.final(buf + have);
    }
    std::memcpy(out, buf, std::min<std::size_t>(len, 64));
    crypto::wipe(buf, sizeof buf);
}

void ssh2_engine::newkeys_outside_exchange(wire_reader&) { fail(msg::newkeys_outside_exchange); }

void ssh2_engine::on_newkeys(wire_reader& r) {
    on_[SSH_MSG_NEWKEYS] = &ssh2_engine::newkeys_outside_exchange;
    if (!finished(r)) return;
    kex_running_ = false;
    initial_kex_ = false;
    // The exchange's choices stand until the next KEXINIT, which cannot come before this NEWKEYS.
    const bool ok = in_.install(*cipher_in_, mac_in_, pending_in_[0], pending_in_[1], pending_in_[2]);
    crypto::wipe(pending_in_, sizeof pending_in_);
    if (strict_) in_.seq = 0;
    if (!ok) return fail(msg::protocol_violation);
    // Only the first exchange asks for the sign-on service; a re-exchange, even one before the channel is open,
    // must not ask again.
    if (service_requested_) return;
    service_requested_ = true;
    wire_writer w = begin(SSH_MSG_SERVICE_REQUEST);
    w.string("ssh-userauth");
    send(w);
}

void ssh2_engine::on_ext_info(wire_reader& r) {
    const auto count = r.u32();
    std::optional<std::string_view> sig_algs;
    for (std::uint32_t i = 0; count && i < *count && r.ok(); ++i) {
        const auto name = r.text(256);
        const auto value = r.text(16384);
        if (name && value && *name == "server-sig-algs") sig_algs = value;
    }
    if (finished(r) && sig_algs) server_sig_algs_.assign(*sig_algs);
}

void ssh2_engine::install_keys_for_test(const std::uint8_t v[6][40], bool blowfish) {
    std::uint8_t w[6][64] = {};
    for (int i = 0; i < 6; ++i) std::memcpy(w[i], v[i], 40);
    install_keys_for_test(w, blowfish ? "blowfish-cbc" : "3des-cbc", "hmac-sha1", false);
}

bool ssh2_engine::install_keys_for_test(const std::uint8_t v[6][64], std::string_view cipher, std::string_view mac,
                                        bool as_server) {
    const cipher_method* c = find_cipher(cipher);
    const mac_method* m = find_mac(mac);
    if (!c || (!m && c->tag == 0)) return false;
    id_sent_ = id_done_ = true;
    negotiated_ = s_.ssh_algorithms != 0;
    first_exchange_ = false;
    service_requested_ = true;
    const int o = as_server ? 1 : 0, i = as_server ? 0 : 1;
    return out_.install(*c, m, v[0 + o], v[2 + o], v[4 + o]) && in_.install(*c, m, v[0 + i], v[2 + i], v[4 + i]);
}

void ssh2_engine::send_message_for_test(const std::uint8_t* payload, std::size_t n) {
    if (n == 0 || n > payload_room) return;
    wire_writer w = begin(payload[0]);
    w.raw(payload + 1, n - 1);
    send(w);
}

}  // namespace ssh
