// SSH-2 sign-on. The fixed suite keeps the password-only rules (sign_on); the negotiated mode signs on as OpenSSH
// does: the user name it has (given, remembered, or the local account's) is fixed before anything is sent, "none"
// asks which methods the host takes, and they go in this order: agent keys (the named key file's own first; none
// with ssh_identities_only), key files (the named one, then ~/.ssh/id_ed25519, id_ecdsa, id_rsa),
// keyboard-interactive, password (RFC 4252, 4256). Nothing is asked before the password is the only way left.
// Public keys are offered first without a signature; only keys the host accepts are signed (and only then is a key
// file's passphrase asked, once per run). Nothing secret reaches the debug log.
#include "ssh/ssh2_auth.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "session/profile.h"
#include "config/ui_services.h"
#include "crypto/wipe.h"
#include "session/session.h"
#include "ssh/agent.h"
#include "ssh/certificate.h"
#include "ssh/keys.h"
#include "ssh/services.h"
#include "ssh/ssh2.h"

namespace ssh {

namespace {

// The signature algorithm for a key: RSA keys sign with SHA-2 when the host lists it (server-sig-algs).
std::string signature_algorithm(const std::string& type, std::string_view server_sig_algs) {
    if (type != "ssh-rsa") return type;
    if (name_list_has(server_sig_algs, "rsa-sha2-512")) return "rsa-sha2-512";
    if (name_list_has(server_sig_algs, "rsa-sha2-256")) return "rsa-sha2-256";
    return type;
}

// A user certificate read from a public key file, or why there is none.
struct user_certificate {
    std::vector<std::uint8_t> blob;
    std::optional<certificate> cert;
    std::string why;
};
user_certificate read_user_certificate(const std::string& path) {
    user_certificate u;
    u.blob = read_public_key_file(path);
    if (u.blob.empty()) {
        u.why = "missing or not a public key file";
        return u;
    }
    u.cert = parse_certificate(u.blob);
    if (!u.cert)
        u.why = "not an OpenSSH certificate of a key type this program signs with";
    else if (u.cert->kind != certificate_kind::user)
        u.why = "a host certificate";
    if (!u.why.empty()) u.cert.reset();
    return u;
}

std::string certificate_origin(const std::string& path, const certificate& c) {
    return " (certificate " + path + ", ID \"" + c.key_id + "\", serial " + std::to_string(c.serial) + ")";
}

// A USERAUTH_REQUEST's fields up to the method name (also what a public-key signature covers).
void put_auth_head(wire_writer& w, const std::string& user, std::string_view method) {
    w.string(user);
    w.string("ssh-connection");
    w.string(method);
}

// Keys unlocked with a passphrase in this run, by file and public key: a later connection (Reconnect, another
// window) signs with them without asking again. A changed file has another public key and is asked for anew.
struct unlocked_key {
    std::string file;
    std::vector<std::uint8_t> blob;
    std::shared_ptr<const private_key> key;
};
constexpr std::size_t max_unlocked_keys = 16;
std::mutex unlocked_mutex;
std::vector<unlocked_key>& unlocked_keys() {
    static std::vector<unlocked_key> keys;
    return keys;
}

std::shared_ptr<const private_key> find_unlocked(const std::string& file, const std::vector<std::uint8_t>& blob) {
    const std::lock_guard lock(unlocked_mutex);
    for (const unlocked_key& k : unlocked_keys())
        if (k.file == file && k.blob == blob) return k.key;
    return nullptr;
}

void keep_unlocked(const std::string& file, const std::vector<std::uint8_t>& blob,
                   std::shared_ptr<const private_key> key) {
    const std::lock_guard lock(unlocked_mutex);
    auto& keys = unlocked_keys();
    std::erase_if(keys, [&](const unlocked_key& k) { return k.file == file; });
    if (keys.size() >= max_unlocked_keys) keys.erase(keys.begin());
    keys.push_back({file, blob, std::move(key)});
}

}  // namespace

std::string local_user_name() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name && *pw->pw_name) return pw->pw_name;
    for (const char* var : {"USER", "LOGNAME"})
        if (const char* v = std::getenv(var); v && *v) return v;
    return {};
}

ssh2_auth::ssh2_auth(auth_link& link, connection_profile& p, session_services& io, ui_services& ui,
                     ssh_prompts& prompts)
    : link_(link), s_(p.ssh), utf8_(p.terminal.utf8), io_(io), ui_(ui), prompts_(prompts) {}

ssh2_auth::~ssh2_auth() {
    for (auto& k : keys_) crypto::wipe(k.blob);
}

void ssh2_auth::ask_sign_on(std::function<void()> then) {
    // The fixed suite's dialog opens with empty fields, as the classic program's did.
    s_.ssh_user.clear();
    crypto::wipe(s_.ssh_password);
    link_.ask([this, &prompts = prompts_, &s = s_, then = std::move(then)] {
        const bool ok = prompts.sign_on(s);
        return std::function<void()>([this, ok, then] {
            if (!ok) return io_.session_disconnect();
            if (s_.ssh_user.empty()) return link_.fail(msg::no_user);
            then();
        });
    });
}

void ssh2_auth::sign_on(bool repeat) {
    if (repeat || s_.ssh_default == 0) return ask_sign_on([this] { send_password_if_fits(); });
    send_password_if_fits();
}

void ssh2_auth::send_password_if_fits() {
    // The dialog cannot give more; a settings file can, and cutting a password silently would only fail later.
    if (s_.ssh_user.size() > max_credential || s_.ssh_password.size() > max_credential)
        return link_.fail(msg::credentials_too_long);
    send_password();
}

void ssh2_auth::on_service_accept(wire_reader& r) {
    // The service name may be missing (as OpenSSH allows for old hosts); nothing may follow it.
    if (r.remaining() > 0) r.string(256);
    if (!r.ok()) return link_.fail(msg::protocol_violation);
    if (!link_.finished(r)) return;
    if (!link_.negotiated()) return sign_on(false);
    start_methods();
}

void ssh2_auth::start_methods() {
    // The name is settled now: OpenSSH's sshd drops a connection whose later requests change it.
    if (s_.ssh_user.empty()) s_.ssh_user = local_user_name();
    if (s_.ssh_user.empty()) return link_.fail(msg::no_user);
    user_ = s_.ssh_user;
    if (s_.ssh_user.size() > max_credential || s_.ssh_password.size() > max_credential)
        return link_.fail(msg::credentials_too_long);
    // Only a remembered password is sent unasked; without one the dialog asks, should the host want a password.
    password_ready_ = s_.ssh_default != 0 && !s_.ssh_password.empty();
    stage_ = stage::none;
    send_request("none");
}

void ssh2_auth::ask_password() {
    crypto::wipe(s_.ssh_password);
    link_.ask([this, &prompts = prompts_, &s = s_] {
        const bool ok = prompts.password(s);
        return std::function<void()>([this, ok] {
            s_.ssh_user = user_;
            if (!ok) return io_.session_disconnect();
            if (s_.ssh_password.size() > max_credential) return link_.fail(msg::credentials_too_long);
            send_password();
        });
    });
}

wire_writer ssh2_auth::request(std::string_view method) {
    wire_writer w = link_.begin(SSH_MSG_USERAUTH_REQUEST);
    put_auth_head(w, link_.negotiated() ? user_ : s_.ssh_user, method);
    return w;
}

void ssh2_auth::send_request(std::string_view method) {
    wire_writer w = request(method);
    if (method == "keyboard-interactive") {
        w.string("");  // language
        w.string("");  // submethods
    }
    link_.send(w);
}

void ssh2_auth::on_failure(wire_reader& r) {
    if (!link_.negotiated() || stage_ == stage::idle) {
        ui_.message_box(msg::bad_login);
        return sign_on(true);
    }
    const auto list = r.text(4096);
    const auto partial = r.boolean();
    if (!list || !partial) return link_.fail(msg::protocol_violation);
    methods_.assign(*list);
    switch (stage_) {
    case stage::password: {
        if (*partial) break;  // the password counted; the host wants another method too
        if (!name_list_has(methods_, "password")) break;
        // Say so, then ask for the password again (the name stays).
        ui_.message_box(msg::bad_login);
        return ask_password();
    }
    case stage::pubkey_query:
    case stage::pubkey_sign:
        if (*partial) {
            key_index_ = keys_.size();  // that key counted: the other methods are next
        } else {
            ++key_index_;
        }
        break;
    default: break;
    }
    next_method();
}

void ssh2_auth::next_method() {
    // The methods in the order they are tried; each says whether it took the turn (sent a request or ended the
    // session).
    static constexpr struct {
        std::string_view name;
        bool (ssh2_auth::*attempt)();
    } methods[] = {
        {"publickey", &ssh2_auth::try_next_key},
        {"keyboard-interactive", &ssh2_auth::try_keyboard_interactive},
        {"password", &ssh2_auth::try_password},
    };
    for (const auto& m : methods)
        if (name_list_has(methods_, m.name) && (this->*m.attempt)()) return;
    link_.fail("The host accepts none of this program's ways to sign on (it offers: " + methods_ +
               "). Session must close!!!");
}

bool ssh2_auth::try_next_key() {
    if (!keys_collected_) collect_keys();
    if (key_index_ >= keys_.size()) return false;
    query_key();
    return true;
}

bool ssh2_auth::try_keyboard_interactive() {
    if (kbd_tried_) return false;
    kbd_tried_ = true;
    stage_ = stage::kbd;
    send_request("keyboard-interactive");
    return true;
}

bool ssh2_auth::try_password() {
    if (password_ready_)
        send_password();
    else
        ask_password();
    return true;
}

void ssh2_auth::send_password() {
    stage_ = stage::password;
    password_ready_ = true;
    wire_writer w = request("password");
    w.boolean(false);
    w.u32(static_cast<std::uint32_t>(s_.ssh_password.size()));
    const std::size_t secret_at = w.size();
    w.raw(s_.ssh_password.data(), s_.ssh_password.size());
    link_.send(w, {secret_at, s_.ssh_password.size()});
}

void ssh2_auth::collect_keys() {
    keys_collected_ = true;
    // The files are read before the agent is asked, so that the agent's copy of the named key can go first.
    std::vector<key_candidate> from_files;
    std::vector<std::string> files;
    const bool named = !s_.ssh_key_file.empty();
    if (named) files.push_back(s_.ssh_key_file);
    for (std::string& f : default_key_files())
        if (f != s_.ssh_key_file) files.push_back(std::move(f));
    for (const std::string& f : files) {
        key_load k = load_private_key(f);
        std::vector<std::uint8_t> blob;
        std::shared_ptr<const private_key> key;
        if (k.key) {
            const auto pb = k.key->public_blob();
            blob.assign(pb.begin(), pb.end());
            key = std::make_shared<const private_key>(std::move(*k.key));
        } else if (k.status == key_status::needs_passphrase) {
            blob = std::move(k.public_blob);
            // Without FILE.pub an encrypted PEM key cannot be offered before its passphrase is known.
            if (blob.empty()) k.reason += " and its public key is unknown (no " + f + ".pub beside it)";
            key = find_unlocked(f, blob);
        }
        if (blob.empty()) {
            // A file the user named is always explained. Of the default files, absent ones are normal and only a
            // key others may read is told (as OpenSSH does); the rest goes to the log.
            if (f == s_.ssh_key_file || k.status == key_status::bad_permissions) {
                ui_.message_box(k.reason + ".\nThe key is not used to sign on.");
            } else if (k.status != key_status::missing) {
                io_.session_log_line("key file not used: " + k.reason);
            }
            continue;
        }
        from_files.push_back({std::move(blob), f, std::move(key), {}, {}});
    }
    std::vector<std::uint8_t> named_blob;
    if (named && !from_files.empty() && from_files.front().file == s_.ssh_key_file)
        named_blob = from_files.front().blob;
    std::vector<key_candidate> for_agent_keys = add_certificates(from_files);
    if (s_.ssh_identities_only == 0) {
        if (!agent_) agent_ = link_.open_agent();
        if (agent_)
            for (agent_identity& id : agent_->identities())
                keys_.push_back({std::move(id.blob), std::string(), {}, {}, {}});
        // A certificate goes before the plain keys, as its own key may be refused where the certificate is taken.
        std::stable_partition(keys_.begin(), keys_.end(), [](const key_candidate& c) {
            return is_certificate_type(crypto::evp::key_type(c.blob));
        });
        for (key_candidate& c : for_agent_keys) {
            const auto plain =
                std::find_if(keys_.begin(), keys_.end(), [&](const key_candidate& o) { return o.blob == c.plain; });
            if (plain == keys_.end()) {
                io_.session_log_line("certificate not used: the key it certifies is neither a key file nor in the "
                                     "agent" +
                                     c.origin);
                continue;
            }
            keys_.insert(plain, std::move(c));
        }
        // The key the user named is the one meant: tried first (its certificates before it), and through the
        // agent, which needs no passphrase.
        if (!named_blob.empty())
            std::stable_partition(keys_.begin(), keys_.end(), [&](const key_candidate& c) {
                if (c.blob == named_blob || c.plain == named_blob) return true;
                const auto cert =
                    is_certificate_type(crypto::evp::key_type(c.blob)) ? parse_certificate(c.blob) : std::nullopt;
                return cert && cert->key == named_blob;
            });
    }
    for (key_candidate& c : from_files) {
        // A key already offered through the agent is not offered twice.
        const bool dup =
            std::any_of(keys_.begin(), keys_.end(), [&](const key_candidate& o) { return o.blob == c.blob; });
        if (!dup) keys_.push_back(std::move(c));
    }
}

std::vector<ssh2_auth::key_candidate> ssh2_auth::add_certificates(std::vector<key_candidate>& from_files) {
    // The named files first, each once; then every key file's FILE-cert.pub, which may well be missing.
    std::vector<user_certificate> named(s_.certificate_files.size());
    std::vector<bool> placed(named.size());
    for (std::size_t i = 0; i < named.size(); ++i) {
        named[i] = read_user_certificate(s_.certificate_files[i]);
        if (!named[i].cert)
            io_.session_log_line("certificate file not used: " + s_.certificate_files[i] + ": " + named[i].why);
    }
    std::vector<key_candidate> out;
    for (key_candidate& k : from_files) {
        const auto add = [&](user_certificate& u, const std::string& path) {
            out.push_back({u.blob, k.file, k.key, k.blob, certificate_origin(path, *u.cert)});
        };
        for (std::size_t i = 0; i < named.size(); ++i)
            if (named[i].cert && named[i].cert->key == k.blob) {
                add(named[i], s_.certificate_files[i]);
                placed[i] = true;
            }
        const std::string own_path = k.file + "-cert.pub";
        user_certificate own = read_user_certificate(own_path);
        if (own.cert && own.cert->key == k.blob &&
            std::none_of(out.begin(), out.end(), [&](const key_candidate& o) { return o.blob == own.blob; }))
            add(own, own_path);
        else if (own.cert)
            io_.session_log_line("certificate not used: " + own_path + " certifies another key than " + k.file);
        out.push_back(std::move(k));
    }
    from_files = std::move(out);
    // The rest may certify a key only the agent holds.
    std::vector<key_candidate> rest;
    for (std::size_t i = 0; i < named.size(); ++i)
        if (named[i].cert && !placed[i])
            rest.push_back({std::move(named[i].blob),
                            std::string(),
                            {},
                            named[i].cert->key,
                            certificate_origin(s_.certificate_files[i], *named[i].cert)});
    return rest;
}

ssh2_auth::offer ssh2_auth::offer_for(const key_candidate& k) const {
    const std::string type = crypto::evp::key_type(k.blob);
    const std::string_view plain = certificate_plain_type(type);
    if (plain.empty()) {
        std::string alg = signature_algorithm(type, link_.server_sig_algs());
        return {alg, alg};
    }
    // A certificate is named by what its key signs with: rsa-sha2-512-cert-v01@openssh.com for an RSA key when
    // the host lists rsa-sha2-512.
    std::string alg = signature_algorithm(std::string(plain), link_.server_sig_algs());
    return {certificate_algorithm(alg), alg};
}

void ssh2_auth::query_key() {
    stage_ = stage::pubkey_query;
    const key_candidate& k = keys_[key_index_];
    const std::string alg = offer_for(k).request;
    io_.session_log_line("offering key " + alg + " from " + (k.file.empty() ? std::string("the agent") : k.file) +
                         k.origin);
    wire_writer w = request("publickey");
    w.boolean(false);
    w.string(alg);
    w.string(k.blob);
    link_.send(w);
}

std::vector<std::uint8_t> ssh2_auth::signed_data(std::string_view alg) const {
    const key_candidate& k = keys_[key_index_];
    // What is signed (RFC 4252 section 7): the session identifier, then the request itself.
    const std::span<const std::uint8_t> sid = link_.signed_session_id();
    std::vector<std::uint8_t> data(4 + sid.size() + 1 + 4 * 5 + user_.size() + 32 + alg.size() + k.blob.size());
    wire_writer d(data.data(), data.size());
    d.string(sid);
    d.u8(SSH_MSG_USERAUTH_REQUEST);
    put_auth_head(d, user_, "publickey");
    d.boolean(true);
    d.string(alg);
    d.string(k.blob);
    data.resize(d.size());
    return data;
}

void ssh2_auth::sign_with_key() {
    const key_candidate& k = keys_[key_index_];
    const offer o = offer_for(k);
    if (k.file.empty()) {
        const std::uint32_t flags = o.signature == "rsa-sha2-512"   ? agent_rsa_sha2_512
                                    : o.signature == "rsa-sha2-256" ? agent_rsa_sha2_256
                                                                    : 0;
        return send_signature(agent_ ? agent_->sign(k.signer(), signed_data(o.request), flags) : std::nullopt);
    }
    if (k.key) return send_signature(k.key->sign(o.signature, signed_data(o.request)));
    // Asked only now, for a key the host has said it would take. The key derivation runs inside the question too:
    // it may take a while and the prompts show its progress.
    link_.ask([this, &prompts = prompts_, file = k.file] {
        auto key = std::make_shared<key_load>();
        key->status = key_status::cancelled;
        if (std::optional<std::string> pass = prompts.key_passphrase(file)) {
            *key = prompts.load_key(file, *pass);
            crypto::wipe(*pass);
        }
        return std::function<void()>([this, key, file] { sign_with_loaded_key(file, std::move(*key)); });
    });
}

void ssh2_auth::sign_with_loaded_key(const std::string& file, key_load key) {
    if (key.status == key_status::wrong_passphrase)
        ui_.message_box("Wrong passphrase for the key " + file + "; it is not used.");
    else if (key.status == key_status::needs_passphrase || (key.status == key_status::cancelled && !key.reason.empty()))
        io_.session_log_line("key not used: " + key.reason);
    else if (key.status != key_status::ok && key.status != key_status::cancelled)
        ui_.message_box(key.reason + ".\nThe key is not used to sign on.");
    if (!key.key) return send_signature(std::nullopt);
    key_candidate& k = keys_[key_index_];
    k.key = std::make_shared<const private_key>(std::move(*key.key));
    const std::span<const std::uint8_t> signer = k.signer();
    keep_unlocked(file, {signer.begin(), signer.end()}, k.key);
    // The file's other offers (its plain key after its certificate) sign with it too, without asking again.
    for (key_candidate& other : keys_)
        if (other.file == file && !other.key) other.key = k.key;
    const offer o = offer_for(k);
    send_signature(k.key->sign(o.signature, signed_data(o.request)));
}

void ssh2_auth::send_signature(std::optional<std::vector<std::uint8_t>> sig) {
    const key_candidate& k = keys_[key_index_];
    if (!sig) {
        // This key cannot sign after all: on to the next one.
        io_.session_log_line("key not used for signing: " + (k.file.empty() ? std::string("agent key") : k.file));
        ++key_index_;
        return next_method();
    }
    const std::string alg = offer_for(k).request;
    stage_ = stage::pubkey_sign;
    wire_writer w = request("publickey");
    w.boolean(true);
    w.string(alg);
    w.string(k.blob);
    w.string(*sig);
    link_.send(w);
}

void ssh2_auth::on_success(wire_reader& r) {
    if (!link_.finished(r)) return;
    // Signed on: the sign-on messages are over, so a second SUCCESS cannot open a second session.
    for (const std::uint8_t t : {SSH_MSG_SERVICE_ACCEPT, SSH_MSG_USERAUTH_FAILURE, SSH_MSG_USERAUTH_SUCCESS,
                                 SSH_MSG_USERAUTH_BANNER, SSH_MSG_USERAUTH_PASSWD_CHANGEREQ})
        link_.disarm(t);
    link_.signed_on();
}

void ssh2_auth::on_60(wire_reader& r) {
    // Message 60 means what the method asked makes of it.
    switch (link_.negotiated() ? stage_ : stage::password) {
    case stage::pubkey_query: {
        // PK_OK: the host would take this key. It must name the key just offered, or the signature would go to
        // whatever the host pretends to accept.
        const auto alg = r.text(256);
        const auto blob = r.string();
        const key_candidate& k = keys_[key_index_];
        const bool same = r.ok() && r.at_end() && *alg == offer_for(k).request &&
                          std::equal(blob->begin(), blob->end(), k.blob.begin(), k.blob.end());
        if (!same) return link_.fail(msg::pk_ok_mismatch);
        return sign_with_key();
    }
    case stage::kbd: return answer_info_request(r);
    case stage::password: return link_.fail(msg::password_expired);
    default: return link_.fail(msg::protocol_violation);
    }
}

void ssh2_auth::answer_info_request(wire_reader& r) {
    const auto name = r.text(1024);
    const auto instruction = r.text(4096);
    r.string(256);  // language
    const auto count = r.u32();
    if (!r.ok() || !count || *count > 64) return link_.fail(msg::protocol_violation);
    std::vector<kbd_prompt> prompts(*count);
    for (auto& p : prompts) {
        const auto text = r.text(1024);
        const auto echo = r.boolean();
        if (!text || !echo) return link_.fail(msg::protocol_violation);
        p.text.assign(*text);
        p.echo = *echo;
    }
    if (!link_.finished(r)) return;
    if (*count == 0) return send_info_response({});
    link_.ask([this, &ask = prompts_, name = std::string(*name), instruction = std::string(*instruction),
               prompts = std::move(prompts)] {
        auto given = std::make_shared<std::optional<std::vector<std::string>>>(
            ask.keyboard_interactive(name, instruction, prompts));
        if (*given && (*given)->size() != prompts.size()) {
            for (auto& a : **given) crypto::wipe(a);
            given->reset();
        }
        return std::function<void()>([this, given] {
            if (!*given) return io_.session_disconnect();
            send_info_response(std::move(**given));
        });
    });
}

void ssh2_auth::send_info_response(std::vector<std::string> answers) {
    wire_writer w = link_.begin(SSH_MSG_USERAUTH_INFO_RESPONSE);
    w.u32(static_cast<std::uint32_t>(answers.size()));
    // The answers are secrets (passwords, codes): the log stars all of them.
    const std::size_t secret_at = w.size();
    for (const auto& a : answers) w.string(a);
    const std::size_t secret_len = w.size() - secret_at;
    for (auto& a : answers) crypto::wipe(a);
    link_.send(w, {secret_at, secret_len});
}

void ssh2_auth::on_banner(wire_reader& r) {
    if (!link_.negotiated()) return;  // the fixed suite ignores banners
    const auto text = r.string(16384);
    if (r.remaining() > 0) r.string(256);  // the language tag, which some hosts leave out
    if (!text || !link_.finished(r)) return;
    // Shown as text: line ends as the terminal needs them, and no control (escape sequences and the 8-bit C1 ones
    // included) from a host that has not even signed us on yet. A terminal that takes bytes gets the Latin-1 range
    // as bytes and '?' for the rest, never a UTF-8 byte it would read as C1.
    const std::string clean = host_text(*text, text->size());
    std::string out;
    out.reserve(clean.size() + 16);
    for (std::size_t i = 0; i < clean.size();) {
        const auto c = static_cast<unsigned char>(clean[i]);
        const std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (c == '\n') {
            out += "\r\n";
        } else if (c < 0x80 || utf8_) {
            out.append(clean, i, len);
        } else if (len == 2 && c <= 0xC3) {
            out += static_cast<char>((c & 0x03) << 6 | (static_cast<unsigned char>(clean[i + 1]) & 0x3F));
        } else {
            out += '?';
        }
        i += len;
    }
    io_.session_deliver(reinterpret_cast<const std::uint8_t*>(out.data()), out.size());
}

}  // namespace ssh
