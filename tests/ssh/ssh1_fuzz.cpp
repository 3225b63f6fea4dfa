// The SSH-1 packet path. The first byte picks the way in: raw bytes after the server's identification (framing,
// CRC, the public-key message), or well-formed packets built from the input's records, encrypted under a known
// session key and given to the engine in any state, so the fuzzer reaches every state's handling.
// Input: flags, read size, then raw bytes or records of (type, 16-bit length, data).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "config/settings.h"
#include "config/ui_services.h"
#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "session/session.h"
#include "ssh/ssh1.h"
#include "ssh2_server.h"

namespace {

struct rig final : session_services, ui_services {
    connection_profile s;
    ssh_test::prompt_recorder prompts;  // accepts, with its own user name and password
    std::unique_ptr<ssh::ssh1_engine> engine;
    rig() { s.ssh.ssh_check_host_key = 0; }
    std::size_t written = 0;

    int session_write(const std::uint8_t*, std::size_t n) override {
        written += n;
        return int(n);
    }
    void session_deliver(const std::uint8_t*, std::size_t) override {}
    void session_log_hex(std::string_view, const std::uint8_t*, std::size_t) override {}
    void session_log_line(std::string_view) override {}
    void session_disconnect() override { engine->close(); }
    void session_fail(std::string_view) override { engine->close(); }
    // Put at once after each read, as the session does once the step has returned.
    std::vector<user_question> questions;
    void session_ask(user_question q) override { questions.push_back(std::move(q)); }
    void answer() {
        while (!questions.empty()) {
            const user_question q = std::move(questions.front());
            questions.erase(questions.begin());
            if (const std::function<void()> then = q()) then();
        }
    }
    void message_box(std::string_view) override {}
    bool ask_yes_no(std::string_view) override { return false; }
};

const std::uint8_t key[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                              17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const crypto::ssh1_cipher* const ciphers[] = {&crypto::ssh1_des, &crypto::ssh1_3des, &crypto::ssh1_blowfish};

void feed(rig& r, const std::uint8_t* p, std::size_t n, std::size_t chunk) {
    for (std::size_t i = 0; i < n; i += chunk) {
        r.engine->receive(p + i, std::min(chunk, n - i));
        r.answer();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static rig* r = new rig;
    static crypto::cipher_context* server = new crypto::cipher_context;
    r->engine = std::make_unique<ssh::ssh1_engine>(r->s, *r, *r, r->prompts);  // each input a new connection
    r->questions.clear();
    r->s.ssh.ssh_encryption = (data[0] >> 1) % 4;  // 3: the unknown setting
    r->s.ssh.ssh_default = data[0] >> 7;
    const std::size_t chunk = 1 + data[1];
    const std::uint8_t* p = data + 2;
    std::size_t n = size - 2;
    if (!(data[0] & 1)) {
        static const std::uint8_t banner[] = "SSH-1.5-fuzz\n";
        r->engine->receive(banner, sizeof banner - 1);
        feed(*r, p, n, chunk);
    } else {
        const int enc = (data[0] >> 1) % 4;
        r->engine->install_session_key(enc, key, 1 + (data[0] >> 3) % 5);
        if (enc < 3) ciphers[enc]->set_key(*server, key);
        std::vector<std::uint8_t> stream;
        while (n >= 3) {
            const std::size_t len = std::min<std::size_t>(n - 3, std::size_t(p[1]) << 8 | p[2]);
            const std::size_t length = len + 5, pad = 8 - length % 8;
            const std::size_t at = stream.size();
            stream.resize(at + 4 + pad + length);
            std::uint8_t* q = stream.data() + at;
            for (int i = 0; i < 4; ++i) q[i] = std::uint8_t(length >> (24 - 8 * i));
            q[4 + pad] = p[0];
            std::copy(p + 3, p + 3 + len, q + 5 + pad);
            const std::uint32_t crc = crypto::ssh1_crc32(q + 4, pad + length - 4);
            for (int i = 0; i < 4; ++i) q[pad + length + i] = std::uint8_t(crc >> (24 - 8 * i));
            if (enc < 3) ciphers[enc]->encrypt(*server, q + 4, pad + length);
            p += 3 + len;
            n -= 3 + len;
        }
        feed(*r, stream.data(), stream.size(), chunk);
    }
    if (r->engine->state() < 0 || r->engine->state() > 5) __builtin_trap();
    return 0;
}
