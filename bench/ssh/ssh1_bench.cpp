// SSH-1 receive path: host packets (STDOUT_DATA of a text listing, 16 KiB each) through the engine in
// socket-sized reads (reassembly, decrypt, CRC, deliver), next to the bare cipher and CRC over the same bytes, for
// each cipher. Prints MB/s and the engine's share of the bare primitives' speed.
//   bench_ssh1 [MiB]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/ui_services.h"
#include "crypto/bytes.h"
#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "session/session.h"
#include "ssh/ssh1.h"
#include "ssh2_server.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct counting_rig final : session_services, ui_services {
    std::size_t delivered = 0, messages = 0;
    std::uint32_t sum = 0;  // touches every byte, as a consumer would
    int session_write(const std::uint8_t*, std::size_t n) override { return int(n); }
    void session_deliver(const std::uint8_t* b, std::size_t n) override {
        delivered += n;
        for (std::size_t i = 0; i < n; ++i) sum += b[i];
    }
    void session_log_hex(std::string_view, const std::uint8_t*, std::size_t) override {}
    void session_log_line(std::string_view) override {}
    void session_disconnect() override {}
    void session_fail(std::string_view) override { ++messages; }
    void session_ask(user_question) override {}  // nothing is asked once the shell runs
    void message_box(std::string_view) override { ++messages; }
    bool ask_yes_no(std::string_view) override { return false; }
};

void run(int encryption, const char* name, std::size_t mib) {
    static const std::uint8_t key[32] = {9,  8,  7,  6,  5,  4,  3,  2,  1,  0,  11, 12, 13, 14, 15, 16,
                                         17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
    const crypto::ssh1_cipher* ciphers[] = {&crypto::ssh1_des, &crypto::ssh1_3des, &crypto::ssh1_blowfish};
    const crypto::ssh1_cipher& c = *ciphers[encryption];

    const std::string line = "-rw-r--r--  1 user group  48213 Dec  8 04:00 a-file-name-of-some-length.txt\r\n";
    std::string block;
    while (block.size() < 16384) block += line;
    block.resize(16384);

    // Server side: length, padding, type 17, string, CRC, encrypted after the length.
    const std::size_t packets = mib * 64;
    const std::size_t length = 1 + 4 + block.size() + 4, pad = 8 - length % 8, each = 4 + pad + length;
    std::vector<std::uint8_t> stream(packets * each);
    crypto::cipher_context server;
    c.set_key(server, key);
    for (std::size_t i = 0; i < packets; ++i) {
        const std::size_t at = i * each;
        crypto::store_be(&stream[at], std::uint32_t(length));
        stream[at + 4 + pad] = 17;
        crypto::store_be(&stream[at + 5 + pad], std::uint32_t(block.size()));
        std::copy(block.begin(), block.end(), stream.begin() + std::ptrdiff_t(at + 9 + pad));
        crypto::store_be(&stream[at + 4 + pad + length - 4], crypto::ssh1_crc32(&stream[at + 4], pad + length - 4));
        c.encrypt(server, &stream[at + 4], pad + length);
    }

    connection_profile s;
    counting_rig rig;
    ssh_test::prompt_recorder prompts;
    ssh::ssh1_engine eng(s, rig, rig, prompts);
    eng.install_session_key(encryption, key, 5);
    auto t0 = std::chrono::steady_clock::now();
    for (std::size_t off = 0; off < stream.size(); off += 2000)
        eng.receive(stream.data() + off, std::min<std::size_t>(2000, stream.size() - off));
    const double engine_s = seconds_since(t0);
    if (rig.delivered != packets * block.size() || rig.messages) {
        std::fprintf(stderr, "bench_ssh1: the engine delivered %zu of %zu bytes\n", rig.delivered,
                     packets * block.size());
        std::exit(1);
    }

    // The bare primitives over the same bytes: decrypt each packet, then its CRC.
    crypto::cipher_context client;
    c.set_key(client, key);
    std::vector<std::uint8_t> copy(stream);
    t0 = std::chrono::steady_clock::now();
    std::uint32_t crcs = 0;
    for (std::size_t i = 0; i < packets; ++i) {
        std::uint8_t* p = &copy[i * each + 4];
        c.decrypt(client, p, pad + length);
        crcs += crypto::ssh1_crc32(p, pad + length - 4);
    }
    const double raw_s = seconds_since(t0);
    t0 = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < packets; ++i) crcs += crypto::ssh1_crc32(&copy[i * each + 4], pad + length - 4);
    const double crc_s = seconds_since(t0);

    const double mb = double(stream.size()) / 1e6;
    std::printf("%-9s engine %7.1f MB/s   cipher+crc %7.1f MB/s   crc alone %7.1f MB/s   engine/raw %.2f  (%08x)\n",
                name, mb / engine_s, mb / raw_s, mb / crc_s, raw_s / engine_s, unsigned(crcs));
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::size_t(std::atoi(argv[1])) : 16;
    std::printf("SSH-1 receive path, %zu MiB of 16 KiB STDOUT_DATA packets in 2000-byte reads\n", mib);
    run(0, "DES", mib);
    run(1, "3DES", mib);
    run(2, "Blowfish", mib);
    return 0;
}
