#pragma once
// The server side of SSH-2 for tests and fuzzers, in the same process as the client engine: frames, encrypts and
// MACs server packets, reads the client's packets back from what it wrote, and runs the group-1 exchange with a
// DSA host key it signs with itself; in negotiated mode also the group exchange and the curve and hybrid methods,
// computed with the project's primitives in the server's role.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/ui_services.h"
#include "crypto/bytes.h"
#include "crypto/evp.h"
#include "crypto/keyderive.h"
#include "crypto/pubkey.h"
#include "crypto/random.h"
#include "session/session.h"
#include "ssh/algorithms.h"
#include "ssh/services.h"
#include "ssh/ssh2.h"
#include "ssh/wire.h"

namespace ssh_test {

using bytes = std::vector<std::uint8_t>;

// Records what the engine does with the session; session_disconnect closes the engine, as the real session's client
// does.
struct recorder : session_services {
    ssh::ssh2_engine* engine = nullptr;
    bytes wire;  // everything written, client to server
    std::string delivered;
    std::vector<std::string> lines;
    std::vector<std::pair<std::string, bytes>> hex;
    int disconnects = 0;

    int session_write(const std::uint8_t* b, std::size_t n) override {
        wire.insert(wire.end(), b, b + n);
        return static_cast<int>(n);
    }
    void session_deliver(const std::uint8_t* b, std::size_t n) override { delivered.append(b, b + n); }
    void session_log_hex(std::string_view label, const std::uint8_t* b, std::size_t n) override {
        hex.emplace_back(std::string(label), bytes(b, b + n));
    }
    void session_log_line(std::string_view t) override { lines.emplace_back(t); }
    void session_disconnect() override {
        ++disconnects;
        if (engine) engine->close();
    }
    std::string cause;             // what the engine named as the ending's cause
    ui_services* shown = nullptr;  // where a failure's message goes, as the session shows it
    void session_fail(std::string_view c) override {
        cause = std::string(c);
        if (shown) shown->message_box(c);
        session_disconnect();
    }
    // Questions wait until the step that asked has returned, as the session keeps them; answer() puts them.
    std::deque<user_question> questions;
    void session_ask(user_question q) override { questions.push_back(std::move(q)); }
    void answer() {
        while (!questions.empty()) {
            user_question q = std::move(questions.front());
            questions.pop_front();
            const int before = disconnects;
            const std::function<void()> then = q();
            // An answer for a connection that ended while the dialog was open is dropped.
            if (then && disconnects == before) then();
        }
    }
};

struct ui_recorder : ui_services {
    std::vector<std::string> messages;
    void message_box(std::string_view t) override { messages.emplace_back(t); }
    bool ask_yes_no(std::string_view) override { return false; }
};

struct prompt_recorder : ssh::ssh_prompts {
    int calls = 0;
    bool accept = true;
    std::string user = "dialog-user", password = "dialog-pass";
    std::string seen_user, seen_password;  // what the dialog was filled with
    bool sign_on(ssh_profile& s) override {
        ++calls;
        seen_user = s.ssh_user;
        seen_password = s.ssh_password;
        if (!accept) return false;
        s.ssh_user = user;
        s.ssh_password = password;
        return true;
    }
    // The host-key question: each call recorded, answered with `host_key_reply`.
    struct host_key_question {
        std::string host;
        int port;
        std::string type, fingerprint;
    };
    std::vector<host_key_question> host_key_questions;
    ssh::host_key_answer host_key_reply = ssh::host_key_answer::accept_once;
    ssh::host_key_answer confirm_host_key(std::string_view host, int port, std::string_view type,
                                          std::string_view fingerprint) override {
        host_key_questions.push_back({std::string(host), port, std::string(type), std::string(fingerprint)});
        return host_key_reply;
    }
    // Keyboard-interactive rounds: the last round's prompts kept, answered with `kbd_answers` (nothing: cancel).
    int kbd_calls = 0;
    std::vector<ssh::kbd_prompt> kbd_prompts;
    std::optional<std::vector<std::string>> kbd_answers;
    std::optional<std::vector<std::string>> keyboard_interactive(std::string_view, std::string_view,
                                                                 const std::vector<ssh::kbd_prompt>& p) override {
        ++kbd_calls;
        kbd_prompts = p;
        return kbd_answers;
    }
    // Key passphrases: the files asked about, answered with `passphrase` (nothing: cancel).
    std::vector<std::string> passphrase_files;
    std::optional<std::string> passphrase;
    std::optional<std::string> key_passphrase(std::string_view file) override {
        passphrase_files.emplace_back(file);
        return passphrase;
    }
    // Key loads with a passphrase: file and passphrase of each, answered by `load_reply` when set, else read as
    // the default does.
    std::vector<std::pair<std::string, std::string>> loads;
    std::function<ssh::key_load()> load_reply;
    ssh::key_load load_key(std::string_view file, std::string_view pass) override {
        loads.emplace_back(file, pass);
        return load_reply ? load_reply() : ssh::ssh_prompts::load_key(file, pass);
    }
};

inline void put_u32(bytes& b, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(std::uint8_t(v >> (8 * i)));
}
inline void put_string(bytes& b, const void* p, std::size_t n) {
    put_u32(b, std::uint32_t(n));
    const auto* c = static_cast<const std::uint8_t*>(p);
    b.insert(b.end(), c, c + n);
}
inline void put_string(bytes& b, std::string_view s) { put_string(b, s.data(), s.size()); }
inline void put_mpint(bytes& b, const crypto::bignum& v) {
    const bytes m = crypto::to_ssh2_mpint_bytes(v);
    put_string(b, m.data(), m.size());
}

// An unsigned big-endian number in the SSH mpint string form.
inline bytes mpint_of(std::span<const std::uint8_t> v) {
    while (!v.empty() && v[0] == 0) v = v.subspan(1);
    bytes b;
    const bool sign = !v.empty() && (v[0] & 0x80);
    put_u32(b, std::uint32_t(v.size() + (sign ? 1 : 0)));
    if (sign) b.push_back(0);
    b.insert(b.end(), v.begin(), v.end());
    return b;
}
inline bytes string_of(std::span<const std::uint8_t> v) {
    bytes b;
    put_string(b, v.data(), v.size());
    return b;
}

inline crypto::bignum from_hex(const std::string& h) {
    std::string s = h.size() % 2 ? "0" + h : h;
    bytes b;
    for (std::size_t i = 0; i < s.size(); i += 2) b.push_back(std::uint8_t(std::stoul(s.substr(i, 2), nullptr, 16)));
    return crypto::from_bytes(b.data(), b.size());
}

struct dsa_key {
    crypto::bignum p, q, g, y, x;
    bytes blob() const {
        bytes b;
        put_string(b, "ssh-dss");
        put_mpint(b, p);
        put_mpint(b, q);
        put_mpint(b, g);
        put_mpint(b, y);
        return b;
    }
    // string "ssh-dss", string r || s (20 bytes each), over SHA-1 of the exchange hash of any length.
    bytes sign(const std::uint8_t h[20]) const { return sign(h, 20); }
    bytes sign(const std::uint8_t* h, std::size_t n) const {
        std::uint8_t digest[20];
        crypto::sha1(h, n, digest);
        const crypto::bignum m = crypto::from_bytes(digest, 20);
        for (;;) {
            std::uint8_t kb[20];
            crypto::random_fill(kb, sizeof kb);
            const crypto::bignum k = crypto::mod(crypto::from_bytes(kb, 20), q);
            if (k.is_zero()) continue;
            const crypto::bignum r = crypto::mod(crypto::modexp(g, k, p), q);
            const auto kinv = crypto::inverse(k, q);
            if (r.is_zero() || !kinv) continue;
            const crypto::bignum s = crypto::mulmod(*kinv, crypto::mod(crypto::multiply_add(x, r, &m), q), q);
            if (s.is_zero()) continue;
            std::uint8_t rs[40];
            crypto::to_bytes(r, rs, 20);
            crypto::to_bytes(s, rs + 20, 20);
            bytes b;
            put_string(b, "ssh-dss");
            put_string(b, rs, 40);
            return b;
        }
    }
};

inline const dsa_key& host_key() {
    static const dsa_key k = [] {
        std::ifstream in(std::string(TEST_DATA_DIR) + "/dsa_host_key.txt");
        std::map<std::string, std::string> v;
        std::string line;
        while (std::getline(in, line)) {
            const auto eq = line.find(" = ");
            if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
            v[line.substr(0, eq)] = line.substr(eq + 3);
        }
        return dsa_key{from_hex(v["p"]), from_hex(v["q"]), from_hex(v["g"]), from_hex(v["y"]), from_hex(v["x"])};
    }();
    return k;
}

class test_server {
public:
    explicit test_server(recorder& io) : io_(io) {}
    test_server(const test_server&) = delete;

    std::string ident = "SSH-2.0-TestServer";
    bytes server_kexinit_payload;
    bytes session_id, last_h;
    bool blowfish = false;
    bool corrupt_signature = false;
    // What the server's KEXINIT offers; an empty cipher list offers the one cipher `blowfish` picks.
    std::string kex_list = "diffie-hellman-group1-sha1";
    std::string host_key_list = "ssh-dss";
    std::string cipher_list;
    std::string mac_list = "hmac-sha1";
    bool strict = false;         // strict key exchange: sequence numbers restart at each NEWKEYS
    bool newkeys_apart = false;  // kex_reply leaves the server's NEWKEYS to newkeys()
    bytes reply_tail;            // appended to the KEXDH_REPLY after its last field
    // The group exchange: the group offered (any bytes, hostile ones included) and what follows g in GEX_GROUP.
    bytes gex_p, gex_g = {2};
    bytes group_tail;
    std::uint32_t gex_request[3] = {};  // min, n, max as the client asked
    // The hybrid methods' server side: encapsulates to the client's public key (pk_len bytes), writing the
    // ciphertext (ct_len bytes) and the 32-byte secret. Set by the test for the method it offers.
    struct kem {
        std::size_t pk_len = 0, ct_len = 0;
        std::function<void(const std::uint8_t* pk, std::uint8_t* ct, std::uint8_t* ss)> enc;
    } server_kem;
    int q_s_delta = 0;  // bytes added to (or, negative, cut from) the hybrid Q_S
    // The hybrid's X25519 key is drawn until the shared X25519 value starts with a zero byte (1 in 256 do).
    bool x25519_leading_zero = false;
    // ... or until K's first bit is set, where an mpint would differ from the string form.
    bool k_top_bit = false;

    // ---- framing ----
    bytes packet(const bytes& payload) {
        std::size_t pad = 8 - ((payload.size() + 5) % 8);
        if (pad < 4) pad += 8;
        bytes p;
        put_u32(p, std::uint32_t(payload.size() + pad + 1));
        p.push_back(std::uint8_t(pad));
        p.insert(p.end(), payload.begin(), payload.end());
        for (std::size_t i = 0; i < pad; ++i) p.push_back(std::uint8_t(i * 37));
        const std::size_t n = p.size();
        if (out_keys_) {
            p.resize(n + 20);
            crypto::ssh2_hmac_sha1.make(out_mac_, p.data(), n, out_seq_);
            cipher()->encrypt(*out_, p.data(), n);
        }
        ++out_seq_;
        return p;
    }

    // The identification line, then the next whole client packet's payload from what the client wrote.
    std::optional<std::string> client_ident() {
        auto& w = io_.wire;
        for (std::size_t i = read_; i < w.size(); ++i)
            if (w[i] == '\n') {
                std::string line(w.begin() + std::ptrdiff_t(read_), w.begin() + std::ptrdiff_t(i));
                read_ = i + 1;
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
        return std::nullopt;
    }
    std::optional<bytes> client_packet() {
        auto& w = io_.wire;
        if (w.size() - read_ < 8) return std::nullopt;
        bytes head(w.begin() + std::ptrdiff_t(read_), w.begin() + std::ptrdiff_t(read_ + 8));
        if (in_keys_) cipher()->decrypt(*in_, head.data(), 8);
        const std::uint32_t len = crypto::load_be(head.data());
        const std::size_t total = 4 + len + (in_keys_ ? 20 : 0);
        if (w.size() - read_ < total) return std::nullopt;
        bytes p(w.begin() + std::ptrdiff_t(read_), w.begin() + std::ptrdiff_t(read_ + total));
        std::memcpy(p.data(), head.data(), 8);
        if (in_keys_) {
            cipher()->decrypt(*in_, p.data() + 8, 4 + len - 8);
            if (!crypto::ssh2_hmac_sha1.verify(in_mac_, p.data(), 4 + len, in_seq_)) return std::nullopt;
        }
        ++in_seq_;
        read_ += total;
        last_padding = p[4];
        last_packet_size = total;
        return bytes(p.begin() + 5, p.begin() + 5 + std::ptrdiff_t(len - p[4] - 1));
    }
    std::size_t last_padding = 0, last_packet_size = 0;

    // ---- key exchange ----
    bytes kexinit() {
        bytes k{20};
        for (int i = 0; i < 16; ++i) k.push_back(std::uint8_t(i));
        const std::string_view ciphers = !cipher_list.empty() ? std::string_view(cipher_list)
                                         : blowfish           ? std::string_view("blowfish-cbc")
                                                              : std::string_view("3des-cbc");
        const std::string kex = kex_list + (strict ? ",kex-strict-s-v00@openssh.com" : "");
        for (std::string_view l : {std::string_view(kex), std::string_view(host_key_list), ciphers, ciphers,
                                   std::string_view(mac_list), std::string_view(mac_list), std::string_view("none"),
                                   std::string_view("none"), std::string_view(), std::string_view()})
            put_string(k, l);
        k.push_back(0);
        put_u32(k, 0);
        server_kexinit_payload = k;
        return packet(k);
    }

    // The group exchange's GEX_GROUP for the client's GEX_REQUEST.
    bytes gex_group(const bytes& request) {
        ssh::wire_reader r(request.data() + 1, request.size() - 1);
        for (auto& v : gex_request) v = r.u32().value_or(0);
        bytes b{31};
        for (const bytes& v : {mpint_of(gex_p), mpint_of(gex_g)}) b.insert(b.end(), v.begin(), v.end());
        b.insert(b.end(), group_tail.begin(), group_tail.end());
        return packet(b);
    }

    // Answers a KEXDH_INIT (given the client's KEXINIT payload and e): KEXDH_REPLY followed by NEWKEYS. The keys
    // of the server's outgoing side switch after its NEWKEYS; the incoming side when the client's NEWKEYS is read
    // (take_client_newkeys). Any method but group 1, as negotiated from both lists, goes to modern_reply.
    bytes kex_reply(const std::string& client_id, const bytes& client_kexinit, const bytes& kexdh_init) {
        ssh::wire_reader ck(client_kexinit.data() + 17, client_kexinit.size() - 17);
        const std::string_view method =
            ssh::negotiate(ck.text().value_or(""), kex_list).value_or("diffie-hellman-group1-sha1");
        if (method != "diffie-hellman-group1-sha1")
            return modern_reply(std::string(method), client_id, client_kexinit, kexdh_init);
        ssh::wire_reader r(kexdh_init.data() + 1, kexdh_init.size() - 1);
        const crypto::bignum e = *r.mpint();
        const crypto::dh_group grp = crypto::dh_group1();
        std::uint8_t yb[32];
        crypto::random_fill(yb, sizeof yb);
        const crypto::bignum y = crypto::from_bytes(yb, sizeof yb);
        const crypto::bignum f = crypto::modexp(grp.g, y, grp.p);
        const crypto::bignum k = crypto::modexp(e, y, grp.p);
        const bytes ks = host_key().blob();
        crypto::sha1_context h;
        h.absorb_string(client_id.data(), client_id.size());
        h.absorb_string(ident.data(), ident.size());
        h.absorb_string(client_kexinit.data(), client_kexinit.size());
        h.absorb_string(server_kexinit_payload.data(), server_kexinit_payload.size());
        h.absorb_string(ks.data(), ks.size());
        crypto::absorb_mpint(h, e);
        crypto::absorb_mpint(h, f);
        crypto::absorb_mpint(h, k);
        last_h.assign(20, 0);
        h.final(last_h.data());
        if (session_id.empty()) session_id = last_h;
        bytes sig = host_key().sign(last_h.data());
        if (corrupt_signature) sig[sig.size() - 1] ^= 1;
        bytes reply{31};
        put_string(reply, ks.data(), ks.size());
        put_mpint(reply, f);
        put_string(reply, sig.data(), sig.size());
        reply.insert(reply.end(), reply_tail.begin(), reply_tail.end());
        for (int i = 0; i < 6; ++i) crypto::ssh2_derive_key(k, last_h.data(), char('A' + i), session_id.data(), v_[i]);
        bytes out = packet(reply);
        if (newkeys_apart) return out;
        const bytes nk = newkeys();
        out.insert(out.end(), nk.begin(), nk.end());
        return out;
    }
    // The reply of a negotiated method (X25519, group exchange, hybrids), the exchange hash and the keys in its
    // hash, K an mpint or (hybrids) a string.
    bytes modern_reply(const std::string& name, const std::string& client_id, const bytes& client_kexinit,
                       const bytes& init) {
        const ssh::kex_method* m = ssh::find_kex(name);
        if (!m) return {};
        ssh::wire_reader r(init.data() + 1, init.size() - 1);
        bytes extra, e_enc, f_enc, k_enc;
        std::uint8_t reply_type = 31;
        std::unique_ptr<crypto::evp::kex_share> share;
        if (m->kind == ssh::kex_kind::gex) {
            reply_type = 33;
            const auto e = r.mpint_bytes();
            share = crypto::evp::make_group_share(gex_p, gex_g, 512);
            if (!e || !share) return {};
            const auto k = share->shared(*e);
            if (!k) return {};
            for (const std::uint32_t v : gex_request) put_u32(extra, v);
            for (const bytes& v : {mpint_of(gex_p), mpint_of(gex_g)}) extra.insert(extra.end(), v.begin(), v.end());
            e_enc = mpint_of(*e);
            f_enc = mpint_of(share->public_value());
            k_enc = mpint_of(*k);
        } else if (m->kind == ssh::kex_kind::x25519) {
            const auto q_c = r.string();
            share = crypto::evp::make_x25519();
            const auto k = q_c && share ? share->shared(*q_c) : std::nullopt;
            if (!k) return {};
            e_enc = string_of(*q_c);
            f_enc = string_of(share->public_value());
            k_enc = mpint_of(*k);
        } else {  // a hybrid: Q_C = KEM public key || X25519 key; Q_S = ciphertext || X25519 key
            const auto q_c = r.string();
            if (!q_c || q_c->size() != server_kem.pk_len + 32) return {};
            bytes q_s(server_kem.ct_len), secrets(64);
            server_kem.enc(q_c->data(), q_s.data(), secrets.data());
            std::optional<bytes> x;
            std::uint8_t digest[64];
            std::size_t dl = 0;
            for (;;) {
                share = crypto::evp::make_x25519();
                x = share ? share->shared(q_c->subspan(server_kem.pk_len)) : std::nullopt;
                if (!x) return {};
                std::fill(secrets.begin() + 32, secrets.end(), 0);
                std::copy(x->begin(), x->end(), secrets.end() - std::ptrdiff_t(x->size()));  // back to 32 bytes
                dl = crypto::evp::digest(m->hash, secrets.data(), secrets.size(), digest);
                if ((!x25519_leading_zero || x->size() < 32) && (!k_top_bit || (digest[0] & 0x80))) break;
            }
            const auto pub = share->public_value();
            q_s.insert(q_s.end(), pub.begin(), pub.end());
            if (q_s_delta < 0) q_s.resize(q_s.size() - std::size_t(-q_s_delta));
            if (q_s_delta > 0) q_s.resize(q_s.size() + std::size_t(q_s_delta), 0x5a);
            e_enc = string_of(*q_c);
            f_enc = string_of(q_s);
            k_enc = string_of({digest, dl});
        }
        const bytes ks = host_key().blob();
        crypto::evp::hash_context h(m->hash);
        h.absorb_string(client_id.data(), client_id.size());
        h.absorb_string(ident.data(), ident.size());
        h.absorb_string(client_kexinit.data(), client_kexinit.size());
        h.absorb_string(server_kexinit_payload.data(), server_kexinit_payload.size());
        h.absorb_string(ks.data(), ks.size());
        for (const bytes* b : {&extra, &e_enc, &f_enc, &k_enc}) h.update(b->data(), b->size());
        last_h.assign(crypto::evp::digest_length(m->hash), 0);
        h.final(last_h.data());
        if (session_id.empty()) session_id = last_h;
        bytes sig = host_key().sign(last_h.data(), last_h.size());
        if (corrupt_signature) sig[sig.size() - 1] ^= 1;
        bytes reply{reply_type};
        put_string(reply, ks.data(), ks.size());
        reply.insert(reply.end(), f_enc.begin(), f_enc.end());
        put_string(reply, sig.data(), sig.size());
        reply.insert(reply.end(), reply_tail.begin(), reply_tail.end());
        for (int i = 0; i < 6; ++i) derive(m->hash, k_enc, char('A' + i), v_[i]);
        bytes out = packet(reply);
        if (newkeys_apart) return out;
        const bytes nk = newkeys();
        out.insert(out.end(), nk.begin(), nk.end());
        return out;
    }
    // RFC 4253 section 7.2 in the method's hash, 40 bytes (enough for 3des-cbc and hmac-sha1).
    void derive(crypto::evp::hash_kind kind, const bytes& k_enc, char letter, std::uint8_t out[40]) {
        bytes got;
        while (got.size() < 40) {
            crypto::evp::hash_context h(kind);
            h.update(k_enc.data(), k_enc.size());
            h.update(last_h.data(), last_h.size());
            if (got.empty()) {
                h.update(&letter, 1);
                h.update(session_id.data(), session_id.size());
            } else {
                h.update(got.data(), got.size());
            }
            std::uint8_t d[64];
            const std::size_t n = h.final(d);
            got.insert(got.end(), d, d + n);
        }
        std::memcpy(out, got.data(), 40);
    }

    // The server's NEWKEYS; its outgoing side switches after it.
    bytes newkeys() {
        bytes out = packet(bytes{21});
        // Server to client: IV B, key D, MAC F.
        out_ = std::make_unique<crypto::cipher_context>();
        cipher()->set_key(*out_, v_[3]);
        cipher()->set_iv(*out_, v_[1]);
        crypto::ssh2_hmac_sha1.set_key(out_mac_, v_[5]);
        out_keys_ = true;
        if (strict) out_seq_ = 0;
        return out;
    }
    void take_client_newkeys() {
        in_ = std::make_unique<crypto::cipher_context>();
        cipher()->set_key(*in_, v_[2]);
        cipher()->set_iv(*in_, v_[0]);
        crypto::ssh2_hmac_sha1.set_key(in_mac_, v_[4]);
        in_keys_ = true;
        if (strict) in_seq_ = 0;
    }
    // Both directions keyed from fixed values, matching ssh2_engine::install_keys_for_test with the same values.
    void install_fixed_keys(const std::uint8_t v[6][40]) {
        std::memcpy(v_, v, sizeof v_);
        out_ = std::make_unique<crypto::cipher_context>();
        cipher()->set_key(*out_, v_[3]);
        cipher()->set_iv(*out_, v_[1]);
        crypto::ssh2_hmac_sha1.set_key(out_mac_, v_[5]);
        out_keys_ = true;
        take_client_newkeys();
    }
    bool keys() const { return out_keys_; }
    std::uint32_t out_seq() const { return out_seq_; }

private:
    const crypto::ssh2_cipher* cipher() const { return blowfish ? &crypto::ssh2_blowfish_cbc : &crypto::ssh2_3des_cbc; }
    recorder& io_;
    std::size_t read_ = 0;
    std::uint8_t v_[6][40] = {};
    std::unique_ptr<crypto::cipher_context> out_, in_;
    crypto::mac_context out_mac_, in_mac_;
    bool out_keys_ = false, in_keys_ = false;
    std::uint32_t out_seq_ = 0, in_seq_ = 0;
};

// Payload builders for server messages.
inline bytes msg(std::uint8_t type) { return bytes{type}; }
// A channel message whose only field is the recipient channel (EOF, CLOSE, SUCCESS, FAILURE), by default ours.
inline bytes channel_msg(std::uint8_t type, std::uint32_t recipient = 27) {
    bytes b{type};
    put_u32(b, recipient);
    return b;
}
inline bytes channel_data(std::string_view data, bool extended = false) {
    bytes b{std::uint8_t(extended ? 95 : 94)};
    put_u32(b, 27);
    if (extended) put_u32(b, 1);
    put_string(b, data);
    return b;
}
inline bytes open_confirmation(std::uint32_t server_channel, std::uint32_t window = 2097152,
                               std::uint32_t max_packet = 32768) {
    bytes b{91};
    put_u32(b, 27);
    put_u32(b, server_channel);
    put_u32(b, window);
    put_u32(b, max_packet);
    return b;
}

}  // namespace ssh_test
