#include "ssh/ssh1.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "session/profile.h"
#include "config/ui_services.h"
#include "crypto/bytes.h"
#include "crypto/crc32.h"
#include "crypto/md5.h"
#include "crypto/pubkey.h"
#include "crypto/random.h"
#include "crypto/wipe.h"
#include "session/session.h"
#include "ssh/known_hosts.h"
#include "ssh/services.h"
#include "ssh/wire.h"

namespace ssh {

namespace {

enum : std::uint8_t {
    msg_disconnect = 1,
    smsg_public_key = 2,
    cmsg_session_key = 3,
    cmsg_user = 4,
    cmsg_auth_password = 9,
    cmsg_request_pty = 10,
    cmsg_window_size = 11,
    cmsg_exec_shell = 12,
    smsg_success = 14,
    smsg_failure = 15,
    cmsg_stdin_data = 16,
    smsg_stdout_data = 17,
    smsg_stderr_data = 18,
    smsg_exitstatus = 20,
    msg_ignore = 32,
    cmsg_exit_confirmation = 33,
    msg_debug = 36,
};

// Indexed by ssh_encryption.
struct cipher_choice {
    std::uint8_t number;
    std::string_view label;
    std::string_view log_line;
    const crypto::ssh1_cipher* cipher;
};
const cipher_choice cipher_choices[] = {
    {2, "(DES)", "DES encryption", &crypto::ssh1_des},
    {3, "(3-DES)", "3DES encryption", &crypto::ssh1_3des},
    {6, "(BLOWFISH)", "Blowfish", &crypto::ssh1_blowfish},
};

// The order in which the supported-ciphers message names the server's mask bits.
struct mask_word {
    int bit;
    std::string_view word;
};
constexpr mask_word mask_words[] = {{1, "IDEA "},     {2, "DES "}, {3, "3-DES "},
                                    {6, "BLOWFISH "}, {4, "TSS "}, {5, "RC4 "}};

constexpr std::size_t cookie_size = 8;
constexpr std::size_t session_key_size = 32;
constexpr std::size_t max_modulus_bytes = ssh1_engine::max_modulus_bits / 8;
// Length field, at most 8 bytes of padding, type, CRC.
constexpr std::size_t max_data = packet_buffer_size - 4 - 8 - 1 - 4;

// The fixed text, then the host's reason (string reason) when it gave one, made harmless and cut at 1024 bytes.
std::string disconnect_message(const std::uint8_t* data, std::size_t n) {
    std::string out(ssh1_msg::server_disconnect);
    wire_reader r(data, n);
    const auto reason = r.string(max_data);
    if (!reason) return out;
    const std::string said = host_reason(*reason);
    if (!said.empty()) out += "\nThe host said: " + said;
    return out;
}

bool sane_modulus(const crypto::rsa_public_key& k) {
    const unsigned bits = k.modulus.bit_length();
    return bits >= ssh1_engine::min_modulus_bits && bits <= ssh1_engine::max_modulus_bits;
}

}  // namespace

ssh1_engine::ssh1_engine(connection_profile& p, session_services& io, ui_services& ui, ssh_prompts& prompts)
    : p_(p), io_(io), ui_(ui), prompts_(prompts) {}

ssh1_engine::~ssh1_engine() {
    crypto::wipe(msg_.data(), msg_.size());
    crypto::wipe(typeahead_.data(), typeahead_.size());
}

void ssh1_engine::close() {
    ended_ = true;
    gate_.close();
    state_ = 0;
    cipher_ = nullptr;
    enc_.clear();
    dec_.clear();
    crypto::wipe(typeahead_.data(), typeahead_n_);
    typeahead_n_ = 0;
}

void ssh1_engine::set_window_size(int rows, int columns) {
    if (!size_.take(rows, columns)) return;
    // Before the shell runs the pty request still carries the size, or the shell's start tells a later one.
    if (state_ == 5) tell_window_size();
}

void ssh1_engine::tell_window_size() {
    if (!p_.terminal.screen_size || !host_size_.take(size_.rows, size_.columns)) return;
    std::uint8_t data[16];
    wire_writer w(data, sizeof data);
    w.u32(static_cast<std::uint32_t>(size_.rows));
    w.u32(static_cast<std::uint32_t>(size_.columns));
    w.u32(0);
    w.u32(0);
    send_packet(cmsg_window_size, data, w.size());
}

void ssh1_engine::install_session_key(int encryption, const std::uint8_t key[32], int state) {
    ident_done_ = true;
    if (encryption >= 0 && encryption <= 2) {
        cipher_ = cipher_choices[encryption].cipher;
        cipher_->set_key(enc_, key);
        cipher_->set_key(dec_, key);
    }
    state_ = std::clamp(state, 1, 5);
}

void ssh1_engine::fail(std::string_view text) {
    io_.session_fail(text);
    close();  // the session's disconnect path closes it too; this keeps the engine sound without it
}

void ssh1_engine::ask(user_question q) {
    gate_.ask();
    // The session puts the question and applies its answer only while this connection lasts, so the engine is there
    // when either starts; the hold keeps it until either has returned, should the connection end inside.
    io_.session_ask([this, q = std::move(q)]() -> std::function<void()> {
        std::function<void()> then;
        {
            const std::shared_ptr<void> kept = hold ? hold() : nullptr;
            then = q();
        }
        return [this, then = std::move(then)] {
            const std::shared_ptr<void> kept = hold ? hold() : nullptr;
            if (ended_) return;
            gate_.answered();
            if (then) then();
            if (ended_ || gate_.asking()) return;
            packets();
            if (ended_ || gate_.asking() || gate_.empty()) return;
            const std::vector<std::uint8_t> more = gate_.take();
            receive(more.data(), more.size());
        };
    });
}

bool ssh1_engine::take_identification(const std::uint8_t*& p, std::size_t& n) {
    std::size_t used = 0;
    const auto st = ident_.feed(p, n, used);
    p += used;
    n -= used;
    if (st == ident_reader::status::need_more) return false;
    if (st != ident_reader::status::done) {
        fail(ssh1_msg::not_ssh);
        return false;
    }
    // "SSH-1.99-" offers both versions; anything else that is not 1.x cannot take an SSH-1 client.
    const std::string_view line = ident_.line();
    if (line.rfind("SSH-1.", 0) != 0) {
        fail(line.rfind("SSH-2.", 0) == 0 ? ssh1_msg::ssh2_only : ssh1_msg::not_ssh);
        return false;
    }
    ident_done_ = true;
    io_.session_write(reinterpret_cast<const std::uint8_t*>(identification.data()), identification.size());
    return true;
}

void ssh1_engine::receive(const std::uint8_t* bytes, std::size_t n) {
    if (ended_) return;
    if (!ident_done_ && !take_identification(bytes, n)) return;
    // Whole packets are processed as soon as they are in, so a read that holds the end of one and the start of
    // the next is taken in pieces.
    while (n > 0 && !ended_) {
        if (gate_.asking()) {
            if (!gate_.hold(bytes, n)) fail(ssh1_msg::no_memory);
            return;
        }
        const std::size_t k = rx_.take(bytes, n);
        if (k == 0) {  // every packet accepted fits, so this is a fault of ours: say so rather than spin
            ui_.message_box(ssh1_msg::out_of_memory);
            rx_.clear();
            continue;
        }
        bytes += k;
        n -= k;
        packets();
    }
}

void ssh1_engine::packets() {
    while (!ended_ && !gate_.asking() && rx_.size() >= 4) {
        const std::uint32_t length = crypto::load_be(rx_.data());
        const std::uint64_t padded = std::uint64_t(length) + 8 - length % 8;
        // Refused before the whole packet is waited for: it could never fit the buffer.
        if (padded >= 65535) return fail(ssh1_msg::illegal_size);
        if (length < 5) return fail(ssh1_msg::violation);  // no room for the type and the CRC
        if (rx_.size() < 4 + padded) return;
        process(length, std::size_t(padded));
        if (ended_) return;
        rx_.consume(4 + std::size_t(padded));
    }
}

void ssh1_engine::process(std::uint32_t length, std::size_t padded) {
    // Decrypted where it lies: the packet leaves the buffer once handled.
    std::uint8_t* p = rx_.data() + 4;
    if (cipher_) cipher_->decrypt(dec_, p, padded);
    io_.session_log_hex("FROM UNIX (decrypted)", p, padded);
    if (crypto::ssh1_crc32(p, padded - 4) != crypto::load_be(p + padded - 4)) {
        fail(ssh1_msg::bad_crc);
        return;
    }
    const std::size_t pad = padded - length;
    const std::uint8_t type = p[pad];
    if (type == msg_ignore || type == msg_debug) return;
    dispatch(type, p + pad + 1, length - 5);
}

void ssh1_engine::dispatch(std::uint8_t type, const std::uint8_t* data, std::size_t n) {
    // The host's goodbye ends the session in every state with its reason; taken as a reply it read as a protocol
    // violation, a refused cipher, an accepted user name or a wrong password.
    if (type == msg_disconnect) {
        fail(disconnect_message(data, n));
        return;
    }
    switch (state_) {
    case 0:
        crypto::random_seed();
        if (type != smsg_public_key) {
            fail(ssh1_msg::violation);
            return;
        }
        public_key(data, n);
        return;
    case 1:
        if (type != smsg_success) {
            fail(ssh1_msg::rejects_cipher);
            return;
        }
        io_.session_log_line("encryption ok and online");
        user_step();
        return;
    case 2:
        if (type == smsg_failure) {
            send_password();
            state_ = 3;
            return;
        }
        // Anything else means the user name alone was enough.
        state_ = 3;
        type = smsg_success;
        [[fallthrough]];
    case 3:
        if (type != smsg_success) {
            ui_.message_box(ssh1_msg::login_incorrect);
            ask_again_ = true;
            user_step();
            return;
        }
        io_.session_log_line("Authentication successful");
        {
            wire_writer w(msg_.data(), max_data);
            w.string(p_.terminal.termtype);
            const bool grid = p_.terminal.screen_size;
            if (grid) host_size_ = size_;
            w.u32(grid ? static_cast<std::uint32_t>(size_.rows) : 24);
            w.u32(grid ? static_cast<std::uint32_t>(size_.columns) : 80);
            w.u32(0);
            w.u32(0);
            w.u8(0);  // no terminal modes
            if (w.overflow()) {
                fail(ssh1_msg::no_memory);
                return;
            }
            send_packet(cmsg_request_pty, msg_.data(), w.size());
        }
        state_ = 4;
        return;
    case 4:
        if (type != smsg_success && type != smsg_failure) {
            fail(ssh1_msg::no_tty);
            return;
        }
        // A refused pty still gets a shell, and the user hears why it has no terminal.
        if (type == smsg_failure) {
            io_.session_log_line(ssh1_msg::pty_refused);
            if (note) note(ssh1_msg::pty_refused);
            if (ended_) return;
        }
        send_packet(cmsg_exec_shell, nullptr, 0);
        state_ = 5;
        tell_window_size();  // the grid may have changed while the pty request was answered
        if (typeahead_n_) {
            send_stdin(typeahead_.data(), typeahead_n_);
            crypto::wipe(typeahead_.data(), typeahead_n_);
            typeahead_n_ = 0;
        }
        return;
    default:
        switch (type) {
        case smsg_stdout_data:
        case smsg_stderr_data:
            // A string length that disagrees with the packet is dropped without a word.
            if (n >= 4 && crypto::load_be(data) == n - 4) io_.session_deliver(data + 4, n - 4);
            return;
        case smsg_exitstatus: send_packet(cmsg_exit_confirmation, nullptr, 0); return;
        default: return;
        }
    }
}

void ssh1_engine::public_key(const std::uint8_t* data, std::size_t n) {
    // cookie, server key and host key (each bits, e, n), protocol flags, cipher mask, authentication mask.
    wire_reader r(data, n);
    const auto cookie_field = r.bytes(cookie_size);
    std::optional<crypto::rsa_parse_result> server, host;
    std::optional<std::span<const std::uint8_t>> server_blob, host_blob;
    if (r.ok() && (server = crypto::parse_rsa_key(r.rest().data(), r.remaining())))
        server_blob = r.bytes(server->consumed);
    if (server_blob && (host = crypto::parse_rsa_key(r.rest().data(), r.remaining())))
        host_blob = r.bytes(host->consumed);
    r.u32();
    const auto mask_field = r.u32();
    r.u32();
    if (!host_blob || !r.at_end()) {
        fail(ssh1_msg::bad_public_key);
        return;
    }
    const std::uint8_t* cookie = cookie_field->data();
    const std::uint8_t* server_mod = server_blob->data() + server->modulus_offset;
    const std::uint8_t* host_mod = host_blob->data() + host->modulus_offset;
    const std::uint32_t mask = *mask_field;

    const auto& sk = server->key;
    const auto& hk = host->key;
    // Each encryption's PKCS#1 block needs 11 bytes beyond what it wraps.
    const crypto::rsa_public_key& first = hk.bytes > sk.bytes ? sk : hk;
    const crypto::rsa_public_key& second = hk.bytes > sk.bytes ? hk : sk;
    if (!sane_modulus(sk) || !sane_modulus(hk) || second.bytes < first.bytes + 11) {
        fail(ssh1_msg::bad_key_sizes);
        return;
    }

    // The host key, as known_hosts keeps SSH-1 keys, checked before anything is sent under it. The files are read
    // and the question put once this step has returned; with the answer the packet is read again.
    if (p_.ssh.ssh_check_host_key && !host_trusted_) {
        std::vector<std::uint8_t> e((hk.exponent.bit_length() + 7) / 8);
        crypto::to_bytes(hk.exponent, e.data(), e.size());
        std::vector<std::uint8_t> blob =
            ssh1_rsa_host_key_blob(e, std::span<const std::uint8_t>(host_mod, host->modulus_length));
        ask([this, &prompts = prompts_, host = host_, port = port_, blob = std::move(blob),
             packet = std::vector<std::uint8_t>(data, data + n), policy = host_key_policy_of(p_.ssh)] {
            std::vector<std::string> log;
            const host_trust t = decide_host_trust(host, port, ssh1_rsa_key_type, blob, prompts, log, policy);
            return std::function<void()>([this, t, log, packet] {
                for (const std::string& line : log) io_.session_log_line(line);
                if (t.result == host_trust::verdict::refused) return fail(t.message);
                if (t.result == host_trust::verdict::cancelled) {
                    io_.session_disconnect();
                    close();
                    return;
                }
                if (!t.message.empty()) ui_.message_box(t.message);
                host_trusted_ = true;
                public_key(packet.data(), packet.size());
            });
        });
        return;
    }

    if (p_.ssh.ssh_encryption < 0 || p_.ssh.ssh_encryption > 2) {
        fail(ssh1_msg::unknown_cipher);
        return;
    }
    const cipher_choice& choice = cipher_choices[p_.ssh.ssh_encryption];
    if (!(mask & (1u << choice.number))) {
        std::string text(ssh1_msg::unsupported_prefix);
        text += choice.label;
        text += ssh1_msg::unsupported_middle;
        for (const auto& m : mask_words)
            if (mask & (1u << m.bit)) text += m.word;
        fail(text);
        return;
    }

    std::uint8_t session_id[16];
    crypto::md5_context md;
    md.update(host_mod, host->modulus_length);
    md.update(server_mod, server->modulus_length);
    md.update(cookie, cookie_size);
    md.final(session_id);

    std::uint8_t key[session_key_size];
    for (auto& b : key) b = std::uint8_t(crypto::random_byte());
    std::array<std::uint8_t, max_modulus_bytes> work{};
    std::memcpy(work.data(), key, session_key_size);
    for (std::size_t i = 0; i < sizeof session_id; ++i) work[i] ^= session_id[i];
    const bool wrapped = crypto::rsa_encrypt(work.data(), session_key_size, first) &&
                         crypto::rsa_encrypt(work.data(), first.bytes, second);
    if (!wrapped) {
        crypto::wipe(key, sizeof key);
        crypto::wipe(work.data(), work.size());
        fail(ssh1_msg::bad_key_sizes);
        return;
    }

    io_.session_log_line(choice.log_line);
    const std::size_t k = second.bytes;
    wire_writer w(msg_.data(), max_data);
    w.u8(choice.number);
    w.raw(cookie, cookie_size);
    w.u8(std::uint8_t((8 * k) >> 8));
    w.u8(std::uint8_t(8 * k));
    w.raw(work.data(), k);
    w.u32(0);
    send_packet(cmsg_session_key, msg_.data(), w.size());
    crypto::wipe(work.data(), work.size());

    cipher_ = choice.cipher;
    cipher_->set_key(enc_, key);
    cipher_->set_key(dec_, key);
    crypto::wipe(key, sizeof key);
    state_ = 1;
}

void ssh1_engine::user_step() {
    if (p_.ssh.ssh_default && !ask_again_) return send_user();
    ask([this, &prompts = prompts_, &s = p_.ssh] {
        const bool ok = prompts.sign_on(s);
        return std::function<void()>([this, ok] {
            if (ok) return send_user();
            io_.session_disconnect();
            close();
        });
    });
}

void ssh1_engine::send_user() {
    if (p_.ssh.ssh_user.empty()) {
        fail(ssh1_msg::no_user);
        return;
    }
    wire_writer w(msg_.data(), max_data);
    w.string(p_.ssh.ssh_user);
    if (w.overflow()) {
        fail(ssh1_msg::no_memory);
        return;
    }
    send_packet(cmsg_user, msg_.data(), w.size());
    state_ = 2;
}

void ssh1_engine::send_password() {
    std::string& pw = p_.ssh.ssh_password;
    wire_writer w(msg_.data(), max_data);
    w.string(pw);
    if (w.overflow()) {
        crypto::wipe(msg_.data(), msg_.size());
        fail(ssh1_msg::no_memory);
        return;
    }
    send_packet(cmsg_auth_password, msg_.data(), w.size(), 4, pw.size());
    crypto::wipe(msg_.data(), w.size());
    if (!p_.ssh.ssh_default) {
        crypto::wipe(pw);
    }
}

void ssh1_engine::send_user_data(const std::uint8_t* bytes, std::size_t n) {
    if (state_ != 5) {
        const std::size_t take = std::min(n, typeahead_.size() - typeahead_n_);
        if (take) std::memcpy(typeahead_.data() + typeahead_n_, bytes, take);
        typeahead_n_ += take;
        return;
    }
    send_stdin(bytes, n);
}

void ssh1_engine::send_stdin(const std::uint8_t* bytes, std::size_t n) {
    while (n > 0) {
        const std::size_t part = std::min(n, max_chunk);
        wire_writer w(msg_.data(), max_data);
        w.string(bytes, part);
        send_packet(cmsg_stdin_data, msg_.data(), w.size());
        bytes += part;
        n -= part;
    }
}

void ssh1_engine::send_packet(std::uint8_t type, const std::uint8_t* data, std::size_t n, std::size_t secret_at,
                              std::size_t secret_len) {
    if (ended_) return;  // without keys it would go out in the clear
    const std::size_t length = n + 5;
    const std::size_t pad = 8 - length % 8;
    std::uint8_t* p = out_.data();
    crypto::store_be(p, std::uint32_t(length));
    for (std::size_t i = 0; i < pad; ++i) p[4 + i] = std::uint8_t(crypto::random_byte());
    p[4 + pad] = type;
    if (n) std::memcpy(p + 5 + pad, data, n);
    const std::size_t body = pad + length;  // everything after the length field
    crypto::store_be(p + 4 + body - 4, crypto::ssh1_crc32(p + 4, body - 4));
    if (secret_len) {
        std::memcpy(log_.data(), p, 4 + body);
        std::memset(log_.data() + 5 + pad + secret_at, '*', secret_len);
        io_.session_log_hex("PC (not crypted)", log_.data(), 4 + body);
    } else {
        io_.session_log_hex("PC (not crypted)", p, 4 + body);
    }
    if (cipher_) cipher_->encrypt(enc_, p + 4, body);
    io_.session_write(p, 4 + body);
    if (secret_len) crypto::wipe(p + 4, body);
}

}  // namespace ssh
