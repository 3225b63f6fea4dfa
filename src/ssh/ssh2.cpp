#include "ssh/ssh2.h"

#include <algorithm>
#include <cstring>

#include "config/settings.h"
#include "config/ui_services.h"
#include "crypto/bytes.h"
#include "crypto/keyderive.h"
#include "crypto/random.h"
#include "crypto/wipe.h"
#include "session/session.h"
#include "ssh/services.h"
#include "ssh/wire.h"

namespace ssh {

namespace {

constexpr std::string_view label_in = "FROM UNIX (decrypted ssh2)";
constexpr std::string_view label_out = "PC (not crypted)";
constexpr std::string_view label_hash = "exchange hash ";
constexpr std::uint32_t max_packet_length = 65535;

std::string_view client_id_line() { return client_identification.substr(0, client_identification.size() - 1); }


}  // namespace

ssh2_engine::ssh2_engine(Settings& s, session_services& io, ui_services& ui, ssh_prompts& prompts)
    : s_(s), io_(io), ui_(ui), prompts_(prompts) {}

ssh2_engine::~ssh2_engine() { reset(); }

void ssh2_engine::reset() {
    ++generation_;
    id_sent_ = false;
    id_done_ = false;
    ident_.reset();
    rx_.clear();
    out_.cipher = in_.cipher = nullptr;
    out_.mac = in_.mac = nullptr;
    out_.cipher_state.clear();
    in_.cipher_state.clear();
    out_.mac_state.clear();
    in_.mac_state.clear();
    out_.seq = in_.seq = 0;
    newkeys_sent_ = false;
    first_exchange_ = true;
    service_requested_ = false;
    crypto::wipe(session_id_.data(), session_id_.size());
    crypto::wipe(h_.data(), h_.size());
    crypto::wipe(pending_in_, sizeof pending_in_);
    pending_cipher_ = nullptr;
    group_.reset();
    x_.reset();
    e_.reset();
    session_open_ = false;
    pty_pending_ = false;
    local_window_ = initial_window;
    crypto::wipe(in_buf_.data(), in_buf_.size());
    crypto::wipe(out_buf_.data(), out_buf_.size());
}

const crypto::ssh2_cipher* ssh2_engine::chosen_cipher() const {
    return s_.ssh_encryption == 2 ? &crypto::ssh2_blowfish_cbc : &crypto::ssh2_3des_cbc;
}

void ssh2_engine::fail(std::string_view text) {
    ui_.message_box(text);
    io_.session_disconnect();
}

// ---------------------------------------------------------------------------------------------------------------
// Transport

void ssh2_engine::start_connection() {
    reset();
    id_sent_ = true;
    out_.mac = in_.mac = &crypto::ssh2_hmac_sha1;
    const unsigned now = generation_;
    io_.session_write(reinterpret_cast<const std::uint8_t*>(client_identification.data()),
                      client_identification.size());
    if (!alive(now)) id_sent_ = false;
}

void ssh2_engine::receive(const std::uint8_t* bytes, std::size_t n) {
    if (n == 0) return;
    if (!id_sent_) {
        start_connection();
        if (!id_sent_) return;
    }
    const unsigned gen = generation_;
    if (!id_done_) {
        std::size_t used = 0;
        const ident_reader::status st = ident_.feed(bytes, n, used);
        if (st == ident_reader::status::too_long) return fail(msg::bad_identification);
        if (st == ident_reader::status::need_more) return;
        const std::string_view v = ident_.line();
        if (v.rfind("SSH-1.", 0) == 0 && v.rfind("SSH-1.99-", 0) != 0) return fail(msg::ssh1_only_host);
        if (v.rfind("SSH-2.0-", 0) != 0 && v.rfind("SSH-1.99-", 0) != 0) return fail(msg::bad_identification);
        version_hash_.init();
        const std::string_view vc = client_id_line();
        version_hash_.absorb_string(vc.data(), vc.size());
        version_hash_.absorb_string(v.data(), v.size());
        id_done_ = true;
        bytes += used;
        n -= used;
        if (n == 0) return;
    }
    if (!rx_.append(bytes, n)) {
        ui_.message_box(msg::out_of_memory);
        if (!alive(gen)) return;
    }
    reassemble();
}

void ssh2_engine::reassemble() {
    const unsigned gen = generation_;
    while (rx_.size() >= 4) {
        const std::size_t block = in_.cipher ? static_cast<std::size_t>(in_.cipher->block_size) : 0;
        if (in_.cipher && !rx_.head_decrypted) {
            if (rx_.size() < block) return;
            in_.cipher->decrypt(in_.cipher_state, rx_.data(), block);
            rx_.head_decrypted = true;
        }
        const std::uint32_t len = crypto::load_be(rx_.data());
        if (len > max_packet_length) {
            rx_.clear();
            return;
        }
        const std::size_t total = std::size_t(len) + 4 + (in_.cipher ? std::size_t(in_.mac->length) : 0);
        if (rx_.size() < total) return;
        rx_.head_decrypted = false;
        process_packet(total);
        // A packet that ended the session leaves whatever followed it unread.
        if (!alive(gen)) return;
        rx_.consume(total);
    }
}

void ssh2_engine::process_packet(std::size_t total) {
    const unsigned gen = generation_;
    std::uint8_t* p = in_buf_.data();
    std::memcpy(p, rx_.data(), total);
    const bool keys = in_.cipher != nullptr;
    const std::size_t mac_len = keys ? std::size_t(in_.mac->length) : 0;
    const std::size_t block = keys ? std::size_t(in_.cipher->block_size) : 0;
    if (keys && total > block + mac_len) in_.cipher->decrypt(in_.cipher_state, p + block, total - block - mac_len);

    const std::uint32_t len = crypto::load_be(p);
    const std::size_t a = std::size_t(len) + 4;
    if (a >= 65535) return fail(msg::illegal_message);
    io_.session_log_hex(label_in, p, a);
    if (!alive(gen)) return;
    if (keys && !in_.mac->verify(in_.mac_state, p, a, in_.seq)) {
        io_.session_log_line(logtext::wrong_mac);
        // Every later packet would fail too: the stream is lost, so say so and end the session.
        return fail(msg::bad_mac);
    }
    ++in_.seq;
    // Padding length and type must fit the packet; anything else is dropped.
    if (len < 2 || std::size_t(p[4]) + 1 >= len) return;
    const std::size_t payload_len = len - p[4] - 1;
    dispatch(p[5], p + 6, payload_len - 1, payload_len);
}

wire_writer ssh2_engine::begin(std::uint8_t type) {
    out_buf_[5] = type;
    return wire_writer(out_buf_.data() + 6, payload_room);
}

void ssh2_engine::send(const wire_writer& w, secret_range mask) {
    if (w.overflow()) return;  // the builders bound every field; this is the last line of defence
    const std::size_t l = w.size() + 1;  // type byte included
    const std::size_t block = out_.cipher ? std::max<std::size_t>(8, std::size_t(out_.cipher->block_size)) : 8;
    std::size_t pad = block - ((l + 5) % block);
    if (pad < 4) pad += block;
    if (l + pad + 5 < 16) pad += block;
    std::uint8_t* p = out_buf_.data();
    crypto::random_fill(p + 5 + l, pad);
    crypto::store_be(p, static_cast<std::uint32_t>(l + pad + 1));
    p[4] = static_cast<std::uint8_t>(pad);
    const std::size_t n = l + pad + 5;
    const bool keys = out_.cipher != nullptr;
    const std::size_t mac_len = keys ? std::size_t(out_.mac->length) : 0;
    if (keys) out_.mac->make(out_.mac_state, p, n, out_.seq);
    ++out_.seq;
    if (mask.len == 0) {
        io_.session_log_hex(label_out, p, n + mac_len);
    } else {
        // The log never sees a secret: the same bytes with the secret's place starred.
        std::memcpy(log_copy_.data(), p, n + mac_len);
        std::memset(log_copy_.data() + 6 + mask.from, '*', mask.len);
        io_.session_log_hex(label_out, log_copy_.data(), n + mac_len);
        crypto::wipe(log_copy_.data(), n + mac_len);
    }
    if (keys) out_.cipher->encrypt(out_.cipher_state, p, n);
    io_.session_write(p, n + mac_len);
}

void ssh2_engine::dispatch(std::uint8_t type, const std::uint8_t* data, std::size_t n, std::size_t payload_len) {
    switch (type) {
    case SSH_MSG_KEXINIT:
        return on_kexinit(data - 1, payload_len);
    case SSH_MSG_KEXDH_REPLY:
        return on_kexdh_reply(data, n);
    case SSH_MSG_NEWKEYS:
        return on_newkeys();
    case SSH_MSG_SERVICE_ACCEPT:
        return sign_on(false);
    case SSH_MSG_USERAUTH_FAILURE: {
        const unsigned gen = generation_;
        ui_.message_box(msg::bad_login);
        if (alive(gen)) sign_on(true);
        return;
    }
    case SSH_MSG_USERAUTH_SUCCESS: {
        local_window_ = initial_window;
        wire_writer w = begin(SSH_MSG_CHANNEL_OPEN);
        w.string("session");
        w.u32(client_channel);
        w.u32(initial_window);
        w.u32(announced_max_packet);
        return send(w);
    }
    case SSH_MSG_USERAUTH_PASSWD_CHANGEREQ:
        return fail(msg::password_expired);
    case SSH_MSG_CHANNEL_OPEN_CONFIRMATION:
        return on_open_confirmation(data, n);
    case SSH_MSG_CHANNEL_OPEN_FAILURE:
        return fail(msg::channel_refused);
    case SSH_MSG_CHANNEL_DATA:
        return on_data(data, n, false);
    case SSH_MSG_CHANNEL_EXTENDED_DATA:
        return on_data(data, n, true);
    case SSH_MSG_CHANNEL_CLOSE:
    case SSH_MSG_CHANNEL_FAILURE:
        return io_.session_disconnect();
    case SSH_MSG_CHANNEL_SUCCESS:
        if (pty_pending_) {
            pty_pending_ = false;
            send_channel_request("shell", false);
        }
        return;
    case SSH_MSG_GLOBAL_REQUEST:
        return on_global_request(data, n);
    case SSH_MSG_CHANNEL_REQUEST:
        return on_channel_request(data, n);
    default:
        return;  // DISCONNECT, IGNORE, DEBUG, BANNER, EOF, WINDOW_ADJUST and the rest: the socket sees the end
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Key exchange

void ssh2_engine::on_kexinit(const std::uint8_t* payload, std::size_t payload_len) {
    // The pty-reply flag survives a re-exchange: clearing it would leave the shell never requested.
    crypto::random_seed();
    wire_writer w = begin(SSH_MSG_KEXINIT);
    std::uint8_t cookie[16];
    crypto::random_fill(cookie, sizeof cookie);
    w.raw(cookie, sizeof cookie);
    w.string("diffie-hellman-group1-sha1");
    w.string("ssh-dss");
    w.string(chosen_cipher()->name);
    w.string(chosen_cipher()->name);
    w.string("hmac-sha1");
    w.string("hmac-sha1");
    w.string("none");
    w.string("none");
    w.string("");
    w.string("");
    w.boolean(false);
    w.u32(0);

    newkeys_sent_ = false;
    exchange_hash_ = version_hash_;
    exchange_hash_.absorb_string(w.data() - 1, w.size() + 1);
    exchange_hash_.absorb_string(payload, payload_len);
    const unsigned gen = generation_;
    send(w);
    if (!alive(gen)) return;

    group_ = crypto::dh_group1();
    x_ = crypto::dh_choose_exponent(*group_);
    e_ = crypto::dh_public_value(*group_, *x_);
    wire_writer d = begin(SSH_MSG_KEXDH_INIT);
    d.mpint(*e_);
    send(d);
}

void ssh2_engine::on_kexdh_reply(const std::uint8_t* data, std::size_t n) {
    if (!group_ || !x_ || !e_) return;  // no exchange of ours is running
    wire_reader r(data, n);
    const auto ks = r.string();
    const auto f = r.mpint();
    const auto sig = r.string();
    std::optional<crypto::bignum> k;
    if (r.ok() && f) k = crypto::dh_shared_secret(*group_, *f, *x_);
    if (!r.ok() || !k) {
        group_.reset();
        x_.reset();
        e_.reset();
        return fail(msg::protocol_violation);
    }
    exchange_hash_.absorb_string(ks->data(), ks->size());
    crypto::absorb_mpint(exchange_hash_, *e_);
    crypto::absorb_mpint(exchange_hash_, *f);
    crypto::absorb_mpint(exchange_hash_, *k);
    exchange_hash_.final(h_.data());
    group_.reset();
    x_.reset();
    e_.reset();
    const unsigned gen = generation_;
    io_.session_log_hex(label_hash, h_.data(), h_.size());
    if (!alive(gen)) return;

    const auto key = crypto::parse_dss_key(ks->data(), ks->size());
    if (!key || !crypto::dss_verify(*key, sig->data(), sig->size(), h_.data())) {
        io_.session_log_line(logtext::host_key_mismatch);
        if (!alive(gen)) return;
        return fail(msg::bad_host_signature);
    }
    if (first_exchange_) {
        session_id_ = h_;
        first_exchange_ = false;
    }
    std::uint8_t v[6][40];
    for (int i = 0; i < 6; ++i) crypto::ssh2_derive_key(*k, h_.data(), char('A' + i), session_id_.data(), v[i]);
    send(begin(SSH_MSG_NEWKEYS));
    if (alive(gen)) {
        // Our packets after NEWKEYS travel under the new keys (the host expects that); the host's switch when its
        // NEWKEYS arrives.
        const crypto::ssh2_cipher* c = chosen_cipher();
        install_out_keys(c, v[0], v[2], v[4]);
        std::memcpy(pending_in_[0], v[1], 40);
        std::memcpy(pending_in_[1], v[3], 40);
        std::memcpy(pending_in_[2], v[5], 40);
        pending_cipher_ = c;
        newkeys_sent_ = true;
    }
    crypto::wipe(v, sizeof v);
}

void ssh2_engine::install_out_keys(const crypto::ssh2_cipher* c, const std::uint8_t iv[40],
                                   const std::uint8_t key[40], const std::uint8_t mac[40]) {
    out_.cipher = c;
    out_.mac = &crypto::ssh2_hmac_sha1;
    c->set_key(out_.cipher_state, key);
    c->set_iv(out_.cipher_state, iv);
    out_.mac->set_key(out_.mac_state, mac);
}

void ssh2_engine::install_in_keys() {
    in_.cipher = pending_cipher_;
    in_.mac = &crypto::ssh2_hmac_sha1;
    in_.cipher->set_key(in_.cipher_state, pending_in_[1]);
    in_.cipher->set_iv(in_.cipher_state, pending_in_[0]);
    in_.mac->set_key(in_.mac_state, pending_in_[2]);
    crypto::wipe(pending_in_, sizeof pending_in_);
    pending_cipher_ = nullptr;
}

void ssh2_engine::on_newkeys() {
    if (!newkeys_sent_ || !pending_cipher_) return io_.session_disconnect();
    newkeys_sent_ = false;
    install_in_keys();
    // Only the first exchange asks for the sign-on service; a re-exchange, even one before the channel is open,
    // must not ask again.
    if (service_requested_) return;
    service_requested_ = true;
    wire_writer w = begin(SSH_MSG_SERVICE_REQUEST);
    w.string("ssh-userauth");
    send(w);
}

void ssh2_engine::install_keys_for_test(const std::uint8_t v[6][40], bool blowfish) {
    id_sent_ = id_done_ = true;
    first_exchange_ = false;
    service_requested_ = true;
    const crypto::ssh2_cipher* c = blowfish ? &crypto::ssh2_blowfish_cbc : &crypto::ssh2_3des_cbc;
    install_out_keys(c, v[0], v[2], v[4]);
    std::memcpy(pending_in_[0], v[1], 40);
    std::memcpy(pending_in_[1], v[3], 40);
    std::memcpy(pending_in_[2], v[5], 40);
    pending_cipher_ = c;
    install_in_keys();
}

// ---------------------------------------------------------------------------------------------------------------
// Sign-on and the session channel

void ssh2_engine::sign_on(bool repeat) {
    const unsigned gen = generation_;
    if (repeat || s_.ssh_default == 0) {
        s_.ssh_user.clear();
        s_.ssh_password.clear();
        const bool ok = prompts_.sign_on(s_);
        if (!alive(gen)) return;
        if (!ok) return io_.session_disconnect();
        if (s_.ssh_user.empty()) return fail(msg::no_user);
    }
    // The dialog cannot give more; a settings file can, and cutting a password silently would only fail later.
    if (s_.ssh_user.size() > max_credential || s_.ssh_password.size() > max_credential)
        return fail(msg::credentials_too_long);
    wire_writer w = begin(SSH_MSG_USERAUTH_REQUEST);
    w.string(s_.ssh_user);
    w.string("ssh-connection");
    w.string("password");
    w.boolean(false);
    w.u32(static_cast<std::uint32_t>(s_.ssh_password.size()));
    const std::size_t secret_at = w.size();
    w.raw(s_.ssh_password.data(), s_.ssh_password.size());
    send(w, {secret_at, s_.ssh_password.size()});
}

void ssh2_engine::on_open_confirmation(const std::uint8_t* data, std::size_t n) {
    wire_reader r(data, n);
    r.u32();  // recipient channel: ours
    const auto sender = r.u32();
    const auto window = r.u32();
    const auto max_packet = r.u32();
    if (!r.ok()) return fail(msg::protocol_violation);
    server_channel_ = *sender;
    server_window_ = *window;
    server_max_packet_ = *max_packet;
    session_open_ = true;
    send_channel_request("pty-req", true);
}

void ssh2_engine::send_channel_request(std::string_view type, bool pty) {
    wire_writer w = begin(SSH_MSG_CHANNEL_REQUEST);
    w.u32(server_channel_);
    w.string(type);
    w.boolean(true);
    if (pty) {
        w.string(s_.termtype);
        w.u32(80);
        w.u32(24);
        w.u32(0);
        w.u32(0);
        w.string("");
        pty_pending_ = true;
    }
    send(w);
}

void ssh2_engine::on_data(const std::uint8_t* data, std::size_t n, bool extended) {
    wire_reader r(data, n);
    r.u32();
    if (extended) r.u32();
    const auto payload = r.string();
    if (!payload) return;
    const unsigned gen = generation_;
    io_.session_deliver(payload->data(), payload->size());
    if (!alive(gen)) return;
    // More than the window allows (a misbehaving host) empties it instead of wrapping the unsigned count.
    const std::uint32_t len = static_cast<std::uint32_t>(payload->size());
    local_window_ = len > local_window_ ? 0 : local_window_ - len;
    if (local_window_ >= window_threshold) return;
    wire_writer w = begin(SSH_MSG_CHANNEL_WINDOW_ADJUST);
    w.u32(server_channel_);
    w.u32(initial_window - local_window_);
    local_window_ = initial_window;
    send(w);
}

void ssh2_engine::on_global_request(const std::uint8_t* data, std::size_t n) {
    wire_reader r(data, n);
    r.string();
    const auto want_reply = r.boolean();
    if (!want_reply || !*want_reply) return;
    // Keep-alive probes want an answer; a refusal is the answer for every request we do not serve.
    send(begin(SSH_MSG_REQUEST_FAILURE));
}

void ssh2_engine::on_channel_request(const std::uint8_t* data, std::size_t n) {
    wire_reader r(data, n);
    r.u32();
    r.string();
    const auto want_reply = r.boolean();
    if (!want_reply || !*want_reply) return;
    wire_writer w = begin(SSH_MSG_CHANNEL_FAILURE);
    w.u32(server_channel_);
    send(w);
}

void ssh2_engine::send_user_data(const std::uint8_t* bytes, std::size_t n) {
    // A host drops channel data larger than its maximum packet, so big pastes go in pieces.
    std::size_t piece = max_data_per_packet;
    if (server_max_packet_ != 0 && server_max_packet_ < piece) piece = server_max_packet_;
    const unsigned gen = generation_;
    do {
        const std::size_t k = std::min(n, piece);
        wire_writer w = begin(SSH_MSG_CHANNEL_DATA);
        w.u32(server_channel_);
        w.string(bytes, k);
        send(w);
        bytes += k;
        n -= k;
    } while (n > 0 && alive(gen));
}

}  // namespace ssh
