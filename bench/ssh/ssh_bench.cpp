// SSH-2 receive path: host packets (CHANNEL_DATA of a text listing, 16 KiB each, as hosts send them) through the
// engine in socket-sized reads (decrypt, MAC check, dispatch) into the emulator, next to the raw cipher and MAC
// over the same bytes, for each cipher. End to end against a real sshd: bench/ssh/end_to_end.py.
//   bench_ssh [MiB]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ssh2_server.h"
#include "terminal/screen.h"
#include "terminal/vt.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Delivers channel data to an emulator, as the session does.
struct emulator_sink : ssh_test::recorder {
    screen_ring ring;
    vt term{ring};
    std::size_t bytes = 0;
    void session_deliver(const std::uint8_t* b, std::size_t n) override {
        bytes += n;
        while (n > 0) {
            const std::size_t k = term.feed(b, n);
            if (term.reply_pending()) term.take_reply();
            b += k;
            n -= k;
        }
    }
    int session_write(const std::uint8_t*, std::size_t n) override { return static_cast<int>(n); }
    void session_log_hex(std::string_view, const std::uint8_t*, std::size_t) override {}
};

std::string text_block(std::size_t size) {
    const std::string line = "-rw-r--r--  1 user group  48213 Dec  8 04:00 a-file-name-of-some-length.txt\r\n";
    std::string s;
    while (s.size() < size) s += line;
    s.resize(size);
    return s;
}

void run(bool blowfish, std::size_t mib) {
    std::uint8_t v[6][40];
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 40; ++j) v[i][j] = std::uint8_t(7 * i + j);
    connection_profile s;
    emulator_sink sink;
    ssh_test::ui_recorder ui;
    ssh_test::prompt_recorder prompts;
    ssh::ssh2_engine eng(s, sink, ui, prompts);
    sink.engine = &eng;
    eng.install_keys_for_test(v, blowfish);
    ssh_test::test_server srv(sink);
    srv.blowfish = blowfish;
    srv.install_fixed_keys(v);

    // Signed on and the session channel confirmed, so the data has its channel.
    std::vector<ssh_test::bytes> setup;
    for (const ssh_test::bytes& m : {ssh_test::msg(52), ssh_test::open_confirmation(7)}) {
        setup.push_back(srv.packet(m));
        eng.receive(setup.back().data(), setup.back().size());
    }

    const std::string block = text_block(16384);
    ssh_test::bytes stream;
    const std::size_t packets = mib * 64;
    stream.reserve(packets * (16384 + 64));
    for (std::size_t i = 0; i < packets; ++i) {
        const ssh_test::bytes p = srv.packet(ssh_test::channel_data(block));
        stream.insert(stream.end(), p.begin(), p.end());
    }

    auto t0 = std::chrono::steady_clock::now();
    for (std::size_t off = 0; off < stream.size(); off += 2000)
        eng.receive(stream.data() + off, std::min<std::size_t>(2000, stream.size() - off));
    const double engine_s = seconds_since(t0);
    if (sink.bytes != packets * block.size() || !ui.messages.empty()) {
        std::fprintf(stderr, "bench_ssh: the engine delivered %zu of %zu bytes\n", sink.bytes, packets * block.size());
        std::exit(1);
    }

    // The same bytes through the bare primitives: decrypt everything, then one MAC per packet.
    const crypto::ssh2_cipher* c = blowfish ? &crypto::ssh2_blowfish_cbc : &crypto::ssh2_3des_cbc;
    crypto::cipher_context ctx;
    crypto::mac_context mac;
    c->set_key(ctx, v[3]);
    c->set_iv(ctx, v[1]);
    crypto::ssh2_hmac_sha1.set_key(mac, v[5]);
    ssh_test::bytes copy = stream;
    const std::size_t per = copy.size() / packets;
    // The set-up packets bring the cipher's chain and the sequence number to where the data starts.
    for (ssh_test::bytes& p : setup) c->decrypt(ctx, p.data(), p.size() - 20);
    t0 = std::chrono::steady_clock::now();
    std::uint32_t seq = static_cast<std::uint32_t>(setup.size());
    bool all = true;
    for (std::size_t off = 0; off + per <= copy.size(); off += per) {
        c->decrypt(ctx, copy.data() + off, per - 20);
        all &= crypto::ssh2_hmac_sha1.verify(mac, copy.data() + off, per - 20, seq++);
    }
    const double raw_s = seconds_since(t0);
    const double mb = double(stream.size()) / 1e6;
    std::printf("%-13s engine+emulator %7.1f MB/s   cipher+MAC alone %7.1f MB/s   ratio %.2f%s\n", c->name,
                mb / engine_s, mb / raw_s, raw_s / engine_s, all ? "" : "   (reference MAC check failed)");
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 32;
    std::printf("SSH-2 receive path, %zu MiB of channel data in 2000-byte reads\n", mib);
    run(false, mib);
    run(true, mib);
    return 0;
}
