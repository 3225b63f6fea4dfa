// libFuzzer target over the SSH-2 receive path. The first byte picks the mode: bit 0 keys active (fixed keys on
// both sides: the input's records are framed, MACed and encrypted like a real host's packets, so the message
// handlers see them), bit 1 blowfish-cbc, bit 2 remembered credentials, bit 3 the negotiated mode (its KEXINIT
// parsing and exchanges); with keys, bits 4..6 from 1 to 5 pick a negotiated framing instead (AEAD,
// encrypt-then-MAC, SHA-2 MACs), sealed by a second engine playing the host. Without keys the records go in as raw
// bytes after the identification line; with bit 7 set too, the host's KEXINIT comes first, its ten name-lists drawn
// from the client's own names and the pseudo-algorithms by the next ten bytes (one bit a name). Each record is a
// 16-bit big-endian length and that many bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ssh2_server.h"

namespace {

struct harness {
    connection_profile s;
    ssh_test::recorder io;
    ssh_test::ui_recorder ui;
    ssh_test::prompt_recorder prompts;
    std::unique_ptr<ssh::ssh2_engine> eng;
    harness() {
        s.ssh.ssh_user = "u";
        s.ssh.ssh_password = "p";
        s.ssh.ssh_check_host_key = 0;
    }
    // Each input is a connection of its own, on an engine of its own.
    ssh::ssh2_engine& fresh() {
        io.questions.clear();
        eng = std::make_unique<ssh::ssh2_engine>(s, io, ui, prompts);
        io.engine = eng.get();
        return *eng;
    }
};

// Names split from a list, with the pseudo-algorithms of both sides added.
std::vector<std::string> names_of(const std::string& list, bool pseudo) {
    std::vector<std::string> out;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        out.push_back(list.substr(at, comma - at));
        at = comma + 1;
    }
    if (pseudo)
        for (const char* p :
             {"ext-info-c", "ext-info-s", "kex-strict-c-v00@openssh.com", "kex-strict-s-v00@openssh.com"})
            out.push_back(p);
    return out;
}

// A KEXINIT payload whose lists take one name of the list's pool for each set bit of its selector byte (the pool
// spread over the eight bits, so long pools are reached too).
ssh_test::bytes drawn_kexinit(const std::uint8_t* sel) {
    static const std::vector<std::string> pools[10] = {names_of(ssh::client_kex_list(), true),
                                                       names_of(ssh::client_host_key_list(), true),
                                                       names_of(ssh::client_cipher_list(), true),
                                                       names_of(ssh::client_cipher_list(), false),
                                                       names_of(ssh::client_mac_list(), true),
                                                       names_of(ssh::client_mac_list(), false),
                                                       names_of("none,zlib@openssh.com", true),
                                                       names_of("none,zlib", false),
                                                       names_of("en,de", false),
                                                       names_of("", false)};
    ssh_test::bytes k{20};
    k.resize(17, 0x5A);
    for (int i = 0; i < 10; ++i) {
        std::string list;
        const auto& pool = pools[i];
        for (std::size_t b = 0; b < 8; ++b)
            if (sel[i] >> b & 1) list += (list.empty() ? "" : ",") + pool[(b * pool.size()) / 8];
        ssh_test::put_string(k, list);
    }
    k.push_back(sel[0] & 1);  // first_kex_packet_follows
    ssh_test::put_u32(k, 0);
    return k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static harness* h = new harness;
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    h->io.wire.clear();
    h->io.delivered.clear();
    h->io.hex.clear();
    h->io.lines.clear();
    h->ui.messages.clear();
    h->s.ssh.ssh_encryption = (mode & 2) ? 2 : 1;
    h->s.ssh.ssh_default = (mode & 4) ? 1 : 0;
    h->s.ssh.ssh_algorithms = (mode & 8) ? 1 : 0;
    ssh::ssh2_engine& eng = h->fresh();
    static const struct {
        const char *cipher, *mac;
    } framings[] = {{"chacha20-poly1305@openssh.com", ""},
                    {"aes128-gcm@openssh.com", ""},
                    {"aes256-ctr", "hmac-sha2-256-etm@openssh.com"},
                    {"aes128-ctr", "hmac-sha2-512"},
                    {"3des-cbc", "hmac-sha1-etm@openssh.com"}};
    const int framing = (mode >> 4) & 7;
    ssh_test::test_server srv(h->io);
    srv.blowfish = (mode & 2) != 0;
    static ssh_test::recorder peer_io;
    static connection_profile peer_settings;
    static ssh_test::ui_recorder peer_ui;
    static ssh_test::prompt_recorder peer_prompts;
    static std::unique_ptr<ssh::ssh2_engine> peer;
    const bool modern = (mode & 1) && framing >= 1 && framing <= 5;
    if (modern) {
        std::uint8_t v[6][64];
        for (int i = 0; i < 6; ++i)
            for (int j = 0; j < 64; ++j) v[i][j] = std::uint8_t(i * 64 + j);
        peer = std::make_unique<ssh::ssh2_engine>(peer_settings, peer_io, peer_ui, peer_prompts);
        if (!eng.install_keys_for_test(v, framings[framing - 1].cipher, framings[framing - 1].mac, false) ||
            !peer->install_keys_for_test(v, framings[framing - 1].cipher, framings[framing - 1].mac, true))
            return 0;
    } else if (mode & 1) {
        std::uint8_t v[6][40];
        for (int i = 0; i < 6; ++i)
            for (int j = 0; j < 40; ++j) v[i][j] = std::uint8_t(i * 40 + j);
        eng.install_keys_for_test(v, srv.blowfish);
        srv.install_fixed_keys(v);
    }
    std::size_t off = 1;
    if (!(mode & 1)) {
        static const char id[] = "SSH-2.0-fuzz\r\n";
        eng.receive(reinterpret_cast<const std::uint8_t*>(id), sizeof id - 1);
        h->io.answer();
        if ((mode & 0x80) && size >= off + 10) {
            const ssh_test::bytes pkt = srv.packet(drawn_kexinit(data + off));
            off += 10;
            eng.receive(pkt.data(), pkt.size());
            h->io.answer();
        }
    }
    while (off + 2 <= size) {
        std::size_t n = std::size_t(data[off]) << 8 | data[off + 1];
        off += 2;
        if (n > size - off) n = size - off;
        if (modern) {
            peer_io.wire.clear();
            peer->send_message_for_test(data + off, n);
            eng.receive(peer_io.wire.data(), peer_io.wire.size());
            h->io.answer();
        } else if (mode & 1) {
            const ssh_test::bytes pkt = srv.packet(ssh_test::bytes(data + off, data + off + n));
            eng.receive(pkt.data(), pkt.size());
            h->io.answer();
        } else if (n) {
            eng.receive(data + off, n);
            h->io.answer();
        }
        off += n;
    }
    return 0;
}
