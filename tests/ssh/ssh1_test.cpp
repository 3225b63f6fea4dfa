// The SSH-1 engine against a server written here on the crypto primitives: it unwraps the session key with the
// private halves of two fixture keys, so a wrong session identifier, key order or cipher shows up as garbage.
// Failures a real peer can stage (bad CRC, server disconnect, SSH-2 banner, equal moduli) are in ssh1_peer_test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <utility>
#include <map>

#include "../support/scoped_home.h"
#include "crypto/bytes.h"
#include "crypto/crc32.h"
#include "crypto/md5.h"
#include "ssh/ssh1.h"
#include "ssh/ssh_client.h"
#include "ssh2_server.h"

using namespace ssh_test;
namespace msg = ssh::ssh1_msg;

namespace {

struct rsa_pair {
    crypto::bignum n, e, d;
    std::size_t len() const { return (n.bit_length() + 7) / 8; }
};

// The 768- and 1024-bit pairs of the crypto fixtures.
const std::vector<rsa_pair>& fixture_keys() {
    static const std::vector<rsa_pair> keys = [] {
        std::ifstream in(std::string(SOURCE_DIR) + "/tests/crypto/data/rsa_keys.txt");
        std::map<std::string, std::string> f;
        std::vector<rsa_pair> out;
        for (std::string line; std::getline(in, line);) {
            if (line.size() < 4 || line[1] != ' ') continue;
            f[line.substr(0, 1)] = line.substr(4);
            if (line[0] == 'd') out.push_back({from_hex(f["n"]), from_hex(f["e"]), from_hex(f["d"])});
        }
        return out;
    }();
    return keys;
}

bytes ssh1_mpint(const crypto::bignum& v) {
    bytes b(crypto::ssh1_mpint_size(v));
    crypto::to_ssh1_mpint(v, b.data());
    return b;
}

// RSA with the private exponent, then the PKCS#1 type 2 block taken apart.
bytes unwrap(const bytes& c, const rsa_pair& k) {
    bytes block(k.len());
    crypto::to_bytes(crypto::modexp(crypto::from_bytes(c.data(), c.size()), k.d, k.n), block.data(), block.size());
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[1], 2);
    std::size_t z = 2;
    while (z < block.size() && block[z]) ++z;
    EXPECT_GE(z, 10u);
    return bytes(block.begin() + std::ptrdiff_t(z) + 1, block.end());
}

struct ssh1_session : recorder {
    ssh::ssh1_engine* e1 = nullptr;
    ssh::ssh_client* client = nullptr;  // as the session does: the client ends the connection's engine
    void session_disconnect() override {
        ++disconnects;
        if (client)
            client->ssh_reset();
        else if (e1)
            e1->close();
    }
};

constexpr std::uint32_t all_three = 1u << 2 | 1u << 3 | 1u << 6;

class Ssh1 : public ::testing::Test {
public:
    connection_profile s;
    ssh1_session io;
    ui_recorder ui;
    prompt_recorder prompts;
    std::unique_ptr<ssh::ssh1_engine> own = std::make_unique<ssh::ssh1_engine>(s, io, ui, prompts);
    ssh::ssh1_engine* eng = own.get();
    std::unique_ptr<ssh::ssh_client> client;  // when set, the host's bytes go through it
    rsa_pair server_key = fixture_keys().at(0), host_key = fixture_keys().at(1);
    bytes cookie{1, 2, 3, 4, 5, 6, 7, 8};
    const crypto::ssh1_cipher* cipher = nullptr;
    crypto::cipher_context to_client, from_client;
    std::size_t read_pos = 0;  // into io.wire
    std::size_t split = 4096;  // largest piece handed to receive()

    void SetUp() override {
        io.e1 = eng;
        io.shown = &ui;
        s.ssh.ssh_default = 1;
        s.ssh.ssh_user = "alice";
        s.ssh.ssh_password = "secret";
        s.terminal.termtype = "vt220";
        s.ssh.ssh_check_host_key = 0;  // never the test runner's own known_hosts (one test below uses a scratch HOME)
    }

    // A fresh connection: a new engine, as the client makes one for each.
    void restart() {
        own = std::make_unique<ssh::ssh1_engine>(s, io, ui, prompts);
        eng = own.get();
        io.e1 = eng;
        io.wire.clear();
        io.delivered.clear();
        io.lines.clear();
        io.hex.clear();
        io.disconnects = 0;
        ui.messages.clear();
        read_pos = 0;
        cipher = nullptr;
    }

    // The engine a client made for its next connection, as the session starts one: target, then bytes.
    void connect_client() {
        if (!client) {
            client = std::make_unique<ssh::ssh_client>(s, io, ui, prompts);
            io.client = client.get();
        }
        s.protocol = TransportKind::Ssh1;
        client->ssh_reset();
        client->ssh_target("ssh1.example", 22);
        eng = &client->v1();
        io.e1 = eng;
        io.wire.clear();
        read_pos = 0;
        cipher = nullptr;
    }

    void feed(const bytes& b) {
        for (std::size_t i = 0; i < b.size(); i += split) {
            if (client)
                client->ssh_receive(b.data() + i, std::min(split, b.size() - i));
            else
                eng->receive(b.data() + i, std::min(split, b.size() - i));
            io.answer();
        }
    }
    void feed(std::string_view t) { feed(bytes(t.begin(), t.end())); }

    bytes packet(std::uint8_t type, const bytes& data) {
        const std::size_t length = data.size() + 5, pad = 8 - length % 8;
        bytes body(pad, 0x5A);
        body.push_back(type);
        body.insert(body.end(), data.begin(), data.end());
        put_u32(body, crypto::ssh1_crc32(body.data(), body.size()));
        if (cipher) cipher->encrypt(to_client, body.data(), body.size());
        bytes out;
        put_u32(out, std::uint32_t(length));
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }
    void send(std::uint8_t type, const bytes& data = {}) { feed(packet(type, data)); }

    bytes public_key(std::uint32_t mask = all_three) {
        bytes m = cookie;
        for (const rsa_pair* k : {&server_key, &host_key}) {
            put_u32(m, std::uint32_t(k->n.bit_length()));
            for (const auto& v : {k->e, k->n}) {
                bytes mp = ssh1_mpint(v);
                m.insert(m.end(), mp.begin(), mp.end());
            }
        }
        put_u32(m, 0);
        put_u32(m, mask);
        put_u32(m, 1u << 3);
        return m;
    }

    // The next client packet, decrypted and CRC-checked; type 0 when none is there.
    std::pair<std::uint8_t, bytes> next() {
        if (read_pos == 0 && io.wire.size() >= 15) read_pos = 15;  // the identification line
        if (io.wire.size() < read_pos + 4) return {0, {}};
        const std::uint32_t length = crypto::load_be(io.wire.data() + read_pos);
        const std::size_t padded = length + 8 - length % 8;
        EXPECT_GE(io.wire.size(), read_pos + 4 + padded);
        bytes body(io.wire.begin() + std::ptrdiff_t(read_pos) + 4,
                   io.wire.begin() + std::ptrdiff_t(read_pos + 4 + padded));
        read_pos += 4 + padded;
        if (cipher) cipher->decrypt(from_client, body.data(), body.size());
        EXPECT_EQ(crypto::ssh1_crc32(body.data(), padded - 4), crypto::load_be(body.data() + padded - 4));
        const std::size_t pad = padded - length;
        return {body[pad], bytes(body.begin() + std::ptrdiff_t(pad) + 1, body.end() - 4)};
    }
    bytes expect(std::uint8_t type) {
        auto [t, data] = next();
        EXPECT_EQ(t, type);
        return data;
    }
    static std::string text(const bytes& string_field) {
        if (string_field.size() < 4) {
            ADD_FAILURE() << "no string field";
            return {};
        }
        EXPECT_EQ(crypto::load_be(string_field.data()), string_field.size() - 4);
        return std::string(string_field.begin() + 4, string_field.end());
    }

    // Banner, public key, session key: the client's key is unwrapped and both ciphers keyed.
    void key_exchange(int encryption = 0) {
        s.ssh.ssh_encryption = encryption;
        feed("SSH-1.5-test\r\n");
        ASSERT_TRUE(eng->identification_sent());
        ASSERT_EQ(std::string(io.wire.begin(), io.wire.begin() + 15), ssh::ssh1_engine::identification);
        send(2, public_key());
        const bytes sk = expect(3);
        ASSERT_EQ(eng->state(), 1);
        const std::uint8_t numbers[] = {2, 3, 6};
        ASSERT_EQ(sk[0], numbers[encryption]);
        ASSERT_EQ(bytes(sk.begin() + 1, sk.begin() + 9), cookie);
        const std::size_t k = host_key.len();
        ASSERT_EQ(sk.size(), 1 + 8 + 2 + k + 4);
        ASSERT_EQ(std::size_t(sk[9] << 8 | sk[10]), 8 * k);
        // The longer host key was applied last, so it comes off first.
        const bytes inner = unwrap(bytes(sk.begin() + 11, sk.begin() + 11 + std::ptrdiff_t(k)), host_key);
        bytes key = unwrap(inner, server_key);
        ASSERT_EQ(key.size(), 32u);
        bytes id_input(host_key.len());
        crypto::to_bytes(host_key.n, id_input.data(), id_input.size());
        bytes sm(server_key.len());
        crypto::to_bytes(server_key.n, sm.data(), sm.size());
        id_input.insert(id_input.end(), sm.begin(), sm.end());
        id_input.insert(id_input.end(), cookie.begin(), cookie.end());
        std::uint8_t id[16];
        crypto::md5(id_input.data(), id_input.size(), id);
        for (int i = 0; i < 16; ++i) key[i] ^= id[i];
        const crypto::ssh1_cipher* ciphers[] = {&crypto::ssh1_des, &crypto::ssh1_3des, &crypto::ssh1_blowfish};
        cipher = ciphers[encryption];
        cipher->set_key(to_client, key.data());
        cipher->set_key(from_client, key.data());
    }

    // Up to the running shell, with the user and password of the settings.
    void sign_in(int encryption = 0) {
        key_exchange(encryption);
        send(14);
        EXPECT_EQ(text(expect(4)), s.ssh.ssh_user);
        send(15);
        expect(9);
        send(14);
        expect(10);
        send(14);
        expect(12);
        ASSERT_EQ(eng->state(), 5);
    }

    bytes str(std::string_view t) {
        bytes b;
        put_string(b, t);
        return b;
    }
    bool failed_with(std::string_view text) const {
        return !ui.messages.empty() && ui.messages.back() == text && io.disconnects > 0 && eng->state() == 0;
    }
};

TEST_F(Ssh1, WholeSessionEachCipherAndReadSize) {
    for (int encryption : {0, 1, 2}) {
        for (std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(2000)}) {
            SCOPED_TRACE(testing::Message() << "cipher " << encryption << " piece " << piece);
            restart();
            split = piece;
            sign_in(encryption);
            send(17, str("hello\r\n"));
            send(18, str("oops"));
            EXPECT_EQ(io.delivered, "hello\r\noops");
            const std::uint8_t typed[] = {'l', 's', '\r'};
            eng->send_user_data(typed, 3);
            EXPECT_EQ(text(expect(16)), "ls\r");
            send(20, bytes{0, 0, 0, 3});
            expect(33);
            EXPECT_TRUE(ui.messages.empty());
            ASSERT_GE(io.hex.size(), 2u);
            EXPECT_EQ(io.hex[0].first, "FROM UNIX (decrypted)");
            EXPECT_EQ(io.hex[1].first, "PC (not crypted)");
            bool plain_logged = false;  // host data is logged after decryption
            for (const auto& [label, b] : io.hex)
                plain_logged |= label == "FROM UNIX (decrypted)" &&
                                std::string(b.begin(), b.end()).find("hello\r\n") != std::string::npos;
            EXPECT_TRUE(plain_logged);
            const char* lines[] = {"DES encryption", "3DES encryption", "Blowfish"};
            EXPECT_EQ(io.lines, (std::vector<std::string>{lines[encryption], "encryption ok and online",
                                                          "Authentication successful"}));
        }
    }
}

TEST_F(Ssh1, PtyRequestFields) {
    s.terminal.termtype = "vt100";
    key_exchange();
    send(14);
    expect(4);
    send(14);  // user accepted without a password: no password packet, the pty request follows
    bytes want = str("vt100");
    for (std::uint32_t v : {24u, 80u, 0u, 0u}) put_u32(want, v);
    want.push_back(0);
    EXPECT_EQ(expect(10), want);
    std::vector<std::string> notes;
    eng->note = [&](std::string_view t) { notes.emplace_back(t); };
    send(15);  // a refused pty still gets the shell, and the user is told why it has no terminal
    expect(12);
    EXPECT_EQ(eng->state(), 5);
    EXPECT_EQ(notes, std::vector<std::string>{std::string(ssh::ssh1_msg::pty_refused)});
    EXPECT_TRUE(ui.messages.empty()) << "a notice, not a message box";
}

// screen_size 1: the pty request carries the grid, a change while it is answered goes when the shell starts, and
// then every change goes as SSH_CMSG_WINDOW_SIZE (11: rows, columns, 0, 0). screen_size 0 keeps 24 x 80 and never
// sends a size.
TEST_F(Ssh1, WindowSizeFollowsTheGridOnlyWhenAskedTo) {
    auto size_packet = [](std::uint32_t rows, std::uint32_t columns) {
        bytes b;
        for (std::uint32_t v : {rows, columns, 0u, 0u}) put_u32(b, v);
        return b;
    };
    for (int mode : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "screen_size " << mode);
        restart();
        s.terminal.screen_size = mode;
        eng->set_window_size(40, 300);  // before the connection: kept for the pty request
        key_exchange();
        send(14);
        expect(4);
        eng->set_window_size(41, 300);  // signing on: still only kept
        EXPECT_EQ(next().first, 0);
        send(14);
        bytes want = str("vt220");
        const std::uint32_t pty_rows = mode ? 41 : 24, pty_columns = mode ? 300 : 80;
        for (std::uint32_t v : {pty_rows, pty_columns, 0u, 0u}) put_u32(want, v);
        want.push_back(0);
        EXPECT_EQ(expect(10), want);
        eng->set_window_size(42, 300);  // waiting for the pty's answer: told once the shell starts
        EXPECT_EQ(next().first, 0);
        send(14);
        expect(12);
        ASSERT_EQ(eng->state(), 5);
        if (mode == 1) {
            EXPECT_EQ(expect(11), size_packet(42, 300));
        }
        eng->set_window_size(50, 132);
        eng->set_window_size(50, 132);  // unchanged: nothing more
        eng->set_window_size(255, 65535);
        if (mode == 1) {
            EXPECT_EQ(expect(11), size_packet(50, 132));
            EXPECT_EQ(expect(11), size_packet(255, 65535));
        }
        EXPECT_EQ(next().first, 0);
        const std::uint8_t typed[] = {'x'};
        eng->send_user_data(typed, 1);
        EXPECT_EQ(text(expect(16)), "x") << "the stream goes on after the size packets";
        EXPECT_TRUE(ui.messages.empty());
    }
}

// The size the first host was told is not what the next host knows: after a connection whose pty kept 24 x 80
// (screen_size 0), the grid the first host had goes to the second once the user lets the grid follow the window.
TEST_F(Ssh1, TheNextHostHearsASizeTheLastHostWasAlreadyTold) {
    auto shell = [&] {
        key_exchange();
        send(14);
        expect(4);
        send(14);
        expect(10);
        send(14);
        expect(12);
        ASSERT_EQ(eng->state(), 5);
    };
    connect_client();
    s.terminal.screen_size = 1;
    client->set_window_size(40, 120);
    shell();  // the pty request told the host 40 x 120
    EXPECT_EQ(next().first, 0);

    connect_client();
    client->set_window_size(30, 100);  // the window changed between the connections
    s.terminal.screen_size = 0;
    shell();
    s.terminal.screen_size = 1;  // the user lets the grid follow the window while connected
    client->set_window_size(40, 120);
    bytes want;
    for (std::uint32_t v : {40u, 120u, 0u, 0u}) put_u32(want, v);
    EXPECT_EQ(expect(11), want);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Ssh1, AnyReplyButFailureToTheUserNameCountsAsAccepted) {
    for (std::uint8_t reply : {17, 14}) {
        SCOPED_TRACE(int(reply));
        restart();
        key_exchange();
        send(14);
        expect(4);
        send(reply);
        expect(10);
        EXPECT_EQ(eng->state(), 4);
    }
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Ssh1, UnsupportedCipherNamesTheServersOnes) {
    struct row {
        int encryption;
        std::uint32_t mask;
        std::string_view want;
    } rows[] = {
        {2, 0x0C,
         "Server does not support selected encryption (BLOWFISH). Try another encryption\n"
         "Server supports: DES 3-DES "},
        {0, 0x7A,
         "Server does not support selected encryption (DES). Try another encryption\n"
         "Server supports: IDEA 3-DES BLOWFISH TSS RC4 "},
        {1, 0, "Server does not support selected encryption (3-DES). Try another encryption\nServer supports: "},
    };
    for (const auto& r : rows) {
        restart();
        s.ssh.ssh_encryption = r.encryption;
        feed("SSH-1.5-x\n");
        send(2, public_key(r.mask));
        EXPECT_TRUE(failed_with(r.want)) << r.want;
    }
}

TEST_F(Ssh1, FailuresEndTheSessionWithTheirText) {
    struct row {
        const char* what;
        std::function<void(Ssh1&)> run;
        std::string_view want;
    } rows[] = {
        {"first message not the key",
         [](Ssh1& t) {
             t.feed("SSH-1.5-x\n");
             t.send(14);
         },
         msg::violation},
        {"short length",
         [](Ssh1& t) {
             t.feed("SSH-1.5-x\n");
             t.feed(bytes{0, 0, 0, 4});
         },
         msg::violation},
        {"cipher rejected",
         [](Ssh1& t) {
             t.key_exchange();
             t.send(15);
         },
         msg::rejects_cipher},
        {"no tty",
         [](Ssh1& t) {
             t.key_exchange();
             t.send(14), t.send(14), t.send(17, t.str("x"));
         },
         msg::no_tty},
        {"not ssh", [](Ssh1& t) { t.feed("SSH-3.0-what\n"); }, msg::not_ssh},
        {"unknown setting",
         [](Ssh1& t) {
             t.s.ssh.ssh_encryption = 3;
             t.feed("SSH-1.5-x\n");
             t.send(2, t.public_key());
         },
         msg::unknown_cipher},
        {"tiny modulus",
         [](Ssh1& t) {
             t.server_key.n = from_hex("c5");
             t.feed("SSH-1.5-x\n");
             t.send(2, t.public_key());
         },
         msg::bad_key_sizes},
        {"exponent of one",
         [](Ssh1& t) {
             t.host_key.e = from_hex("01");
             t.feed("SSH-1.5-x\n");
             t.send(2, t.public_key());
         },
         msg::bad_key_sizes},
        {"huge modulus",
         [](Ssh1& t) {
             t.host_key.n = crypto::from_bytes(bytes(1100, 0xFF).data(), 1100);
             t.feed("SSH-1.5-x\n");
             t.send(2, t.public_key());
         },
         msg::bad_key_sizes},
        {"user name empty",
         [](Ssh1& t) {
             t.s.ssh.ssh_user.clear();
             t.key_exchange();
             t.send(14);
         },
         msg::no_user},
    };
    for (auto& r : rows) {
        SCOPED_TRACE(r.what);
        restart();
        server_key = fixture_keys().at(0);
        host_key = fixture_keys().at(1);
        s.ssh.ssh_encryption = 0;
        s.ssh.ssh_user = "alice";
        r.run(*this);
        EXPECT_TRUE(failed_with(r.want)) << (ui.messages.empty() ? "no message" : ui.messages.back());
        EXPECT_EQ(io.disconnects, 1);
    }
}

TEST_F(Ssh1, PublicKeyCutShortAnywhereOrLongerIsRefused) {
    const bytes full = public_key();
    for (std::size_t n = 0; n < full.size(); ++n) {
        restart();
        feed("SSH-1.5-x\n");
        send(2, bytes(full.begin(), full.begin() + std::ptrdiff_t(n)));
        ASSERT_TRUE(failed_with(msg::bad_public_key)) << n;
    }
    for (const bytes& tail : {bytes{0}, bytes{1, 2, 3, 4}}) {
        restart();
        feed("SSH-1.5-x\n");
        bytes longer = full;
        longer.insert(longer.end(), tail.begin(), tail.end());
        send(2, longer);
        EXPECT_TRUE(failed_with(msg::bad_public_key)) << tail.size();
        EXPECT_EQ(eng->state(), 0) << "no session key sent";
    }
    restart();
    feed("SSH-1.5-x\n");
    send(2, full);
    EXPECT_EQ(eng->state(), 1);
}

TEST_F(Ssh1, IdentificationAfterOtherLinesAndWithPacketBytesBehindIt) {
    bytes b;
    for (char c : std::string_view("hello there\r\nSSH-1.99-both\n")) b.push_back(std::uint8_t(c));
    bytes p = packet(32, str("ignored"));  // dropped before the state machine
    b.insert(b.end(), p.begin(), p.end());
    p = packet(2, public_key());
    b.insert(b.end(), p.begin(), p.end());
    feed(b);
    EXPECT_EQ(eng->state(), 1);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Ssh1, LoginIncorrectAsksOnEveryLaterSignOn) {
    connect_client();
    key_exchange();
    send(14);
    expect(4);
    EXPECT_EQ(prompts.calls, 0);  // remembered values, ask-again clear
    send(15);
    expect(9);
    send(15);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Login incorrect"});
    EXPECT_EQ(prompts.calls, 1);
    EXPECT_EQ(text(expect(4)), "dialog-user");
    EXPECT_EQ(eng->state(), 2);
    EXPECT_TRUE(eng->ask_again());
    // A new connection of the client, remember flag still set: the dialog comes again.
    connect_client();
    key_exchange();
    send(14);
    EXPECT_EQ(prompts.calls, 2);
}

TEST_F(Ssh1, ForgottenPasswordIsWipedAndNeverLogged) {
    s.ssh.ssh_default = 0;
    prompts.password = "hunter22";
    key_exchange(1);
    send(14);
    EXPECT_EQ(prompts.calls, 1);
    expect(4);
    send(15);
    EXPECT_EQ(text(expect(9)), "hunter22");
    EXPECT_TRUE(s.ssh.ssh_password.empty());
    const std::string pw = "hunter22";
    int masked = 0;
    for (const auto& [label, b] : io.hex) {
        const std::string dump(b.begin(), b.end());
        EXPECT_EQ(dump.find(pw), std::string::npos) << label;
        // Exactly the password's bytes are covered, right after its length.
        masked += dump.find(std::string("\0\0\0\x08********", 12)) != std::string::npos;
    }
    EXPECT_EQ(masked, 1);
}

// Through the client the session ends the connection from inside the answer: the engine that asked is freed only
// once the answer has returned.
TEST_F(Ssh1, CancelledSignOnDisconnectsQuietly) {
    s.ssh.ssh_default = 0;
    prompts.accept = false;
    for (bool through_client : {false, true}) {
        SCOPED_TRACE(through_client ? "through the client" : "the engine alone");
        if (through_client)
            connect_client();
        else
            restart();
        io.disconnects = 0;
        key_exchange();
        send(14);
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(io.disconnects, 1);
        EXPECT_EQ(through_client ? client->ssh1_state() : eng->state(), 0);
    }
}

// While the sign-on dialog is up the host's bytes wait and are taken after the answer; a host that sends more than
// the gate holds ends the session rather than growing the buffer.
TEST_F(Ssh1, BytesWaitForTheAnswerWithinABound) {
    const struct {
        const char* name;
        std::size_t ignored;  // an IGNORE packet with this much data right behind the packet that brings the dialog
        std::size_t
            flood;  // then this many bytes of no packet: the reassembly buffer takes its fill, the gate the rest
    } rows[] = {
        {"the rest of a read", 1000, 0},
        {"beyond the bound", 0, 3 * ssh::question_gate::capacity},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        restart();
        s.ssh.ssh_default = 0;
        split = ~std::size_t(0);  // one receive: the dialog is put only after it
        key_exchange();
        bytes b = packet(14, {});
        if (r.ignored) {
            const bytes ignored = packet(32, str(std::string(r.ignored, 'i')));
            b.insert(b.end(), ignored.begin(), ignored.end());
        }
        b.insert(b.end(), r.flood, 0x78);
        feed(b);
        if (r.flood == 0) {
            EXPECT_EQ(text(expect(4)), "dialog-user");
            EXPECT_EQ(eng->state(), 2);
            EXPECT_TRUE(ui.messages.empty());
            EXPECT_EQ(io.disconnects, 0);
        } else {
            EXPECT_TRUE(failed_with(msg::no_memory));
            EXPECT_EQ(next().first, 0) << "nothing sent after the refusal";
        }
    }
}

// The host's reason follows the fixed text, with nothing in it that a terminal or a message box would act on.
TEST_F(Ssh1, DisconnectShowsTheHostsReasonMadeHarmless) {
    const std::string fixed(msg::server_disconnect), said = fixed + "\nThe host said: ";
    bytes past_end;
    put_u32(past_end, 100);
    past_end.push_back('x');
    struct row {
        const char* what;
        bytes data;
        std::string want;
    } rows[] = {
        {"plain", str("Idle timeout, bye"), said + "Idle timeout, bye"},
        {"C0, ESC, DEL, CR dropped; line feed and tab kept; trailing line ends cut",
         str("a\x1b[2Jb\x07\x01\x7f\tc\r\nnext\r\n\n"), said + "a[2Jb\tc\nnext"},
        {"C1 CSI dropped, UTF-8 kept, a stray byte shown as ?",
         str("\xc2\x9b"
             "31m caf\xc3\xa9 \xff\x9b end"),
         said + "31m caf\xc3\xa9 ?? end"},
        {"cut at 1024 bytes", str(std::string(5000, 'x')), said + std::string(1024, 'x')},
        {"empty reason", str(""), fixed},
        {"only controls", str("\x1b\x1b\r\n"), fixed},
        {"no reason at all", {}, fixed},
        {"length past the packet", past_end, fixed},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        restart();
        sign_in();
        send(1, r.data);
        EXPECT_TRUE(failed_with(r.want)) << (ui.messages.empty() ? "no message" : ui.messages.back());
        EXPECT_EQ(io.disconnects, 1);
    }
    // In every state before the shell too: the goodbye is never read as a reply (an accepted user name, a wrong
    // password, a refused cipher). State 0 waits for the public key; from the key exchange on, each reply takes the
    // engine one state further.
    const std::pair<std::uint8_t, std::uint8_t> replies[] = {{14, 4}, {15, 9}, {14, 10}};  // host's, then ours
    const auto to_state = [&](std::size_t state) {
        if (state == 0) return feed("SSH-1.5-test\r\n");
        key_exchange();
        for (std::size_t i = 0; i + 1 < state; ++i) {
            send(replies[i].first);
            expect(replies[i].second);
        }
    };
    for (std::size_t state = 0; state <= std::size(replies) + 1; ++state) {
        SCOPED_TRACE(state);
        restart();
        to_state(state);
        ASSERT_EQ(eng->state(), int(state));
        send(1, str("Too many authentication failures"));
        EXPECT_EQ(ui.messages, std::vector<std::string>{said + "Too many authentication failures"});
        EXPECT_EQ(io.disconnects, 1);
    }
}

TEST_F(Ssh1, DataRules) {
    const std::uint8_t early[] = {'a', 'b'};
    eng->send_user_data(early, 2);  // before the shell: kept, sent once it runs
    sign_in();
    EXPECT_EQ(text(expect(16)), "ab");
    bytes bad = str("HIDDEN");
    bad[3] = 3;  // string length disagrees with the packet
    send(17, bad);
    send(36, str("debug"));
    send(17, str("shown"));
    EXPECT_EQ(io.delivered, "shown");
    bytes big(40000, 'x');
    eng->send_user_data(big.data(), big.size());
    std::string got;
    int packets = 0;
    for (auto p = next(); p.first == 16; p = next(), ++packets) got += text(p.second);
    EXPECT_EQ(packets, 3);
    EXPECT_EQ(got, std::string(40000, 'x'));
}

TEST_F(Ssh1, PacketSizeLimits) {
    sign_in();
    // A padded part of 65528 bytes is the largest that fits: it is taken whole.
    bytes data;
    put_u32(data, 65519 - 4 - 4);
    data.resize(65519 - 4, 'y');
    split = 1900;
    send(17, data);
    EXPECT_EQ(io.delivered.size(), 65519u - 8);
    EXPECT_TRUE(ui.messages.empty());
    // The next length would need more: refused as soon as its length is seen.
    feed(bytes{0, 0, 0xFF, 0xF8});
    EXPECT_TRUE(failed_with(msg::illegal_size));
}

TEST_F(Ssh1, TheLargestPacketArrivesWholeWhateverTheReadsHold) {
    sign_in();
    split = 2000;  // the session's read size
    bytes data;
    put_u32(data, 65511);
    data.resize(65515, 'z');
    bytes p = packet(17, data);
    // The largest packet but its last 10 bytes, then a read of those with the start of the next packet: the first
    // is taken whole and the second waits, whatever TCP did with the boundary.
    bytes more(p.end() - 10, p.end());
    p.resize(p.size() - 10);
    feed(p);
    more.resize(2000, 0);
    more[10 + 2] = 0x1F;
    feed(more);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(io.disconnects, 0);
    EXPECT_EQ(eng->state(), 5);
    EXPECT_EQ(io.delivered, std::string(65511, 'z'));
}

// The SSH-1 host key in known_hosts: asked about once and remembered, then known; another key for the host is
// refused before the session key is sent.
TEST_F(Ssh1, HostKeyIsRememberedAndAChangedOneRefused) {
    char tmpl[] = "/tmp/ssh1_home_XXXXXX";
    const std::string home = ::mkdtemp(tmpl);
    // The scratch folder goes also when an assertion ends the test early.
    struct remove_folder {
        std::string path;
        ~remove_folder() { std::filesystem::remove_all(path); }
    } cleanup{home};
    test_support::scoped_home guard(home);
    s.ssh.ssh_check_host_key = 1;
    eng->set_target("ssh1.example", 2222);
    prompts.host_key_reply = ssh::host_key_answer::accept_and_remember;
    key_exchange();
    ASSERT_EQ(prompts.host_key_questions.size(), 1u);
    EXPECT_EQ(prompts.host_key_questions[0].type, "rsa1");
    const std::string file = home + "/.ssh/known_hosts";
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line.rfind("[ssh1.example]:2222 rsa1 ", 0), 0u) << line;

    restart();
    eng->set_target("ssh1.example", 2222);
    key_exchange();
    EXPECT_EQ(prompts.host_key_questions.size(), 1u) << "known now: no second question";

    restart();
    eng->set_target("ssh1.example", 2222);
    std::swap(host_key, server_key);  // the host now shows another key
    feed("SSH-1.5-test\r\n");
    send(2, public_key());
    EXPECT_EQ(next().first, 0) << "no session key under a changed host key";
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_NE(ui.messages.back().find(file + " on line 1"), std::string::npos) << ui.messages.back();
    EXPECT_EQ(io.disconnects, 1);
}

}  // namespace
