// Receive-path throughput: host data through the session (reads of 2000 bytes, Telnet layer, translation,
// emulator) against the emulator alone, for a coloured listing and for plain text, and the send path through the
// queue.
#include <chrono>
#include <cstdio>
#include <string>

#include "fakes.h"

namespace {

std::string listing_stream(std::size_t size) {
    // Coloured directory-listing-like text with an occasional Telnet command and an escaped 255.
    const std::string line = "\033[1;34mdrwxr-xr-x\033[0m  2 user group  4096 Dec  8 04:00 some-directory-name\r\n";
    const std::string telnet = std::string("\xff\xf1", 2) + "x" + std::string("\xff\xff", 2);
    std::string s;
    while (s.size() < size) {
        s += line;
        if (s.size() % 7 == 0) s += telnet;
    }
    s.resize(size);
    return s;
}

std::string plain_stream(std::size_t size) {
    // A text file shown with cat: long printable lines, CR LF line ends, a device-attributes query now and then.
    const std::string line =
        "The quick brown fox jumps over the lazy dog while the session reads another block of text.\r\n";
    std::string s;
    int n = 0;
    while (s.size() < size) {
        s += line;
        if (++n % 500 == 0) s += "\033[c";
    }
    s.resize(size);
    return s;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double emulator_per_byte(const std::string& data) {
    screen_ring ring;
    vt term(ring);
    const auto t0 = std::chrono::steady_clock::now();
    for (unsigned char c : data)
        if (term.feed_byte(c)) term.take_reply();
    return seconds_since(t0);
}

double emulator_bulk(const std::string& data) {
    screen_ring ring;
    vt term(ring);
    const auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
    std::size_t left = data.size();
    const auto t0 = std::chrono::steady_clock::now();
    while (left > 0) {
        const std::size_t k = term.feed(p, left);
        if (term.reply_pending()) term.take_reply();
        p += k;
        left -= k;
    }
    return seconds_since(t0);
}

double session_receive(const std::string& data) {
    session_rig rig;
    rig.connect();
    rig.sock().on_write = nullptr;
    const auto t0 = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < data.size(); i += receive_buffer_size) {
        rig.sock().incoming.push_back(data.substr(i, receive_buffer_size));
        rig.s.on_read(0);
        if (rig.sock().writes.size() > 4096) rig.sock().writes.clear();
    }
    return seconds_since(t0);
}

}  // namespace

int main() {
    const std::size_t total = 32u << 20;
    const double mb = static_cast<double>(total) / (1 << 20);

    for (const auto& [name, data] :
         {std::pair{"listing", listing_stream(total)}, std::pair{"plain", plain_stream(total)}}) {
        const double per_byte = emulator_per_byte(data);
        const double bulk = emulator_bulk(data);
        const double pipe = session_receive(data);
        std::printf("%-8s emulator feed_byte:     %8.1f MB/s\n", name, mb / per_byte);
        std::printf("%-8s emulator bulk feed:     %8.1f MB/s\n", name, mb / bulk);
        std::printf("%-8s session receive path:   %8.1f MB/s\n", name, mb / pipe);
        std::printf("%-8s receive path / bulk emulator time ratio: %.2f\n", name, pipe / bulk);
    }

    // Send path: 3-byte key sequences through the queue.
    const int keys = 2000000;
    session_rig rig;
    rig.connect();
    rig.sock().on_write = nullptr;
    const std::uint8_t key[3] = {27, '[', 'A'};
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < keys; ++i) {
        rig.s.send_to_host(key, 3);
        if ((i & 4095) == 0) rig.sock().writes.clear();
    }
    const double send_s = seconds_since(t0);
    std::printf("send path:             %8.2f M key sequences/s\n", keys / send_s / 1e6);
    return 0;
}
