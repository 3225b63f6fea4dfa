#include "ssh/ssh2.h"

#include <algorithm>
#include <cstring>

#include "session/profile.h"
#include "config/ui_services.h"
#include "crypto/bytes.h"
#include "crypto/random.h"
#include "crypto/wipe.h"
#include "session/session.h"
#include "ssh/agent.h"
#include "ssh/services.h"
#include "ssh/ssh2_services.h"

namespace ssh {

namespace {

constexpr std::string_view label_in = "FROM UNIX (decrypted ssh2)";
constexpr std::string_view label_out = "PC (not crypted)";
constexpr std::uint32_t max_packet_length = 65535;

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

ssh2_engine::ssh2_engine(connection_profile& p, session_services& io, ui_services& ui, ssh_prompts& prompts)
    : p_(p), io_(io), ui_(ui), prompts_(prompts) {
    arm_handlers();
}

ssh2_engine::~ssh2_engine() {
    close();
    crypto::wipe(in_buf_.data(), in_buf_.size());
    crypto::wipe(out_buf_.data(), out_buf_.size());
}

void ssh2_engine::close() {
    closed_ = true;
    gate_.close();
    // The keys go at once; the rest of the state goes with the object, which its owner keeps until no step of it
    // is still running.
    out_ = packet_direction();
    in_ = packet_direction();
    kex_.forget();
    conn_.stop();
}

void ssh2_engine::connected() {
    if (!closed_ && p_.ssh.ssh_algorithms != 0 && !id_sent_) start_connection();
}

void ssh2_engine::set_target(std::string_view host, int port) { kex_.set_target(host, port); }

fwd::ssh_tunnels* ssh2_engine::direct_channels() { return conn_.tunnels().direct_channels(); }

void ssh2_engine::goodbye() {
    if (!negotiated_ || !out_.keyed()) return;
    conn_.goodbye();
    if (closed_) return;
    wire_writer w = begin(SSH_MSG_DISCONNECT);
    w.u32(11);  // SSH_DISCONNECT_BY_APPLICATION
    w.string("the user closed the session");
    w.string("");
    send(w);
}

void ssh2_engine::fail(std::string_view text) { io_.session_fail(text); }

void ssh2_engine::ask(user_question q) {
    gate_.ask();
    // The session runs `put` only while this connection lasts, and its answer only if it still does, so the
    // engine is there when either starts; the hold keeps it until either has returned, should the session end
    // inside.
    io_.session_ask([this, q = std::move(q)]() -> std::function<void()> {
        std::function<void()> then;
        {
            const std::shared_ptr<void> kept = conn_.hold() ? conn_.hold()() : nullptr;
            then = q();
        }
        return [this, then = std::move(then)] {
            const std::shared_ptr<void> kept = conn_.hold() ? conn_.hold()() : nullptr;
            gate_.answered();
            if (then) then();
            resume();
        };
    });
}

void ssh2_engine::resume() {
    if (closed_ || gate_.asking()) return;
    reassemble();
    if (closed_ || gate_.asking() || gate_.empty()) return;
    const std::vector<std::uint8_t> more = gate_.take();
    take(more.data(), more.size());
}

bool ssh2_engine::install_keys(direction d, const cipher_method& c, const mac_method* m, const std::uint8_t* iv,
                               const std::uint8_t* key, const std::uint8_t* mac_key, bool restart) {
    packet_direction& p = d == direction::to_host ? out_ : in_;
    const bool ok = p.install(c, m, iv, key, mac_key);
    if (restart) p.seq = 0;
    return ok;
}

std::unique_ptr<agent_client> ssh2_engine::open_agent() { return agent_factory ? agent_factory() : connect_agent(); }

// ---------------------------------------------------------------------------------------------------------------
// Transport

void ssh2_engine::start_connection() {
    id_sent_ = true;
    negotiated_ = p_.ssh.ssh_algorithms != 0;
    const std::string_view id = negotiated_ ? client_identification_crlf : client_identification;
    io_.session_write(reinterpret_cast<const std::uint8_t*>(id.data()), id.size());
}

void ssh2_engine::receive(const std::uint8_t* bytes, std::size_t n) {
    if (n == 0 || closed_) return;
    if (!id_sent_) {
        start_connection();
        if (!id_sent_) return;
    }
    if (!id_done_) {
        std::size_t used = 0;
        const ident_reader::status st = ident_.feed(bytes, n, used);
        if (st == ident_reader::status::too_long || st == ident_reader::status::not_ssh)
            return fail(msg::bad_identification);
        if (st == ident_reader::status::need_more) return;
        const std::string_view v = ident_.line();
        if (v.rfind("SSH-1.", 0) == 0 && v.rfind("SSH-1.99-", 0) != 0) return fail(msg::ssh1_only_host);
        if (v.rfind("SSH-2.0-", 0) != 0 && v.rfind("SSH-1.99-", 0) != 0) return fail(msg::bad_identification);
        kex_.set_host_identification(v);
        id_done_ = true;
        bytes += used;
        n -= used;
        if (n == 0) return;
    }
    take(bytes, n);
}

void ssh2_engine::take(const std::uint8_t* bytes, std::size_t n) {
    // Whole packets are processed as soon as they are in, so a read that holds the end of one packet and the start
    // of the next is taken in pieces.
    while (n > 0 && !closed_) {
        if (gate_.asking()) {
            if (!gate_.hold(bytes, n)) fail(msg::out_of_memory);
            return;
        }
        const std::size_t k = rx_.take(bytes, n);
        if (k == 0) {  // every packet accepted fits, so this is a fault of ours: say so rather than spin
            ui_.message_box(msg::out_of_memory);
            rx_.clear();
            continue;
        }
        bytes += k;
        n -= k;
        reassemble();
    }
}

void ssh2_engine::reassemble() {
    while (rx_.size() >= 4 && !gate_.asking()) {
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
        if (closed_) return;
        rx_.consume(total);
    }
}

void ssh2_engine::process_packet(std::size_t total, std::uint32_t len) {
    std::uint8_t* p = in_buf_.data();
    std::memcpy(p, rx_.data(), total);
    const std::size_t a = std::size_t(len) + 4;
    // Where nothing is decrypted before it is authenticated the length must fill whole blocks.
    if (!in_.cipher->length_fits(len)) return fail(msg::protocol_violation);
    bool authentic = in_.cipher->open(in_.seq, p, len);
    if (authentic) {
        io_.session_log_hex(label_in, p, a);
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
    if (!kex_.admit(type)) return;
    in_type_ = type;
    wire_reader r(data, n);
    on_[type](r);
}

void ssh2_engine::arm_handlers() {
    on_.fill(own<&ssh2_engine::unexpected>());
    on_[SSH_MSG_DISCONNECT] = own<&ssh2_engine::on_disconnect>();
    on_[SSH_MSG_IGNORE] = own<&ssh2_engine::on_reply>();
    on_[SSH_MSG_UNIMPLEMENTED] = own<&ssh2_engine::on_reply>();
    on_[SSH_MSG_DEBUG] = own<&ssh2_engine::on_ignored>();
    // the key exchange
    on_[SSH_MSG_KEXINIT] = message_slot::to<&ssh2_kex::on_kexinit>(&kex_);
    on_[SSH_MSG_NEWKEYS] = message_slot::to<&ssh2_kex::newkeys_outside_exchange>(&kex_);
    on_[SSH_MSG_EXT_INFO] = message_slot::to<&ssh2_kex::on_ext_info>(&kex_);
    // sign-on
    on_[SSH_MSG_SERVICE_ACCEPT] = message_slot::to<&ssh2_auth::on_service_accept>(&auth_);
    on_[SSH_MSG_USERAUTH_FAILURE] = message_slot::to<&ssh2_auth::on_failure>(&auth_);
    on_[SSH_MSG_USERAUTH_SUCCESS] = message_slot::to<&ssh2_auth::on_success>(&auth_);
    on_[SSH_MSG_USERAUTH_BANNER] = message_slot::to<&ssh2_auth::on_banner>(&auth_);
    on_[SSH_MSG_USERAUTH_PASSWD_CHANGEREQ] = message_slot::to<&ssh2_auth::on_60>(&auth_);
    // the connection layer
    on_[SSH_MSG_GLOBAL_REQUEST] = message_slot::to<&ssh2_connection::on_global_request>(&conn_);
    on_[SSH_MSG_REQUEST_SUCCESS] = message_slot::to<&ssh2_connection::on_request_success>(&conn_);
    on_[SSH_MSG_REQUEST_FAILURE] = message_slot::to<&ssh2_connection::on_request_failure>(&conn_);
    on_[SSH_MSG_CHANNEL_OPEN] = message_slot::to<&ssh2_connection::on_channel_open>(&conn_);
    on_[SSH_MSG_CHANNEL_OPEN_CONFIRMATION] = message_slot::to<&ssh2_connection::on_open_confirmation>(&conn_);
    on_[SSH_MSG_CHANNEL_OPEN_FAILURE] = message_slot::to<&ssh2_connection::on_open_failure>(&conn_);
    on_[SSH_MSG_CHANNEL_WINDOW_ADJUST] = message_slot::to<&ssh2_connection::on_window_adjust>(&conn_);
    on_[SSH_MSG_CHANNEL_DATA] = message_slot::to<&ssh2_connection::on_data>(&conn_);
    on_[SSH_MSG_CHANNEL_EXTENDED_DATA] = message_slot::to<&ssh2_connection::on_extended_data>(&conn_);
    on_[SSH_MSG_CHANNEL_EOF] = message_slot::to<&ssh2_connection::on_eof>(&conn_);
    on_[SSH_MSG_CHANNEL_CLOSE] = message_slot::to<&ssh2_connection::on_close>(&conn_);
    on_[SSH_MSG_CHANNEL_REQUEST] = message_slot::to<&ssh2_connection::on_channel_request>(&conn_);
    on_[SSH_MSG_CHANNEL_SUCCESS] = message_slot::to<&ssh2_connection::on_channel_success>(&conn_);
    on_[SSH_MSG_CHANNEL_FAILURE] = message_slot::to<&ssh2_connection::on_channel_failure>(&conn_);
}

void ssh2_engine::unexpected(wire_reader&) {
    // RFC 4253 section 11.4 wants an answer to every message not understood or not awaited; the fixed legacy suite
    // stays silent.
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
void ssh2_engine::on_reply(wire_reader&) { conn_.host_alive(); }

void ssh2_engine::on_ignored(wire_reader&) {}

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
    negotiated_ = p_.ssh.ssh_algorithms != 0;
    kex_.assume_done_for_test();
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
