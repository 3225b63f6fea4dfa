// Receive-path throughput: host data through the session (reads of 2000 bytes, Telnet layer, translation,
// emulator) against the emulator alone, and the send path through the queue.
#include <chrono>
#include <cstdio>
#include <string>

#include "fakes.h"

namespace {

std::string sample_stream(std::size_t size) {
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

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
    const std::size_t total = 32u << 20;
    const std::string data = sample_stream(total);

    // Emulator alone.
    double raw_s;
    {
        screen_ring ring;
        vt term(ring);
        const auto t0 = std::chrono::steady_clock::now();
        for (unsigned char c : data)
            if (term.feed_byte(c)) term.take_reply();
        raw_s = seconds_since(t0);
    }

    // Whole receive path.
    double pipe_s;
    {
        session_rig rig;
        rig.connect();
        const auto t0 = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < data.size(); i += receive_buffer_size) {
            rig.sock().incoming.push_back(data.substr(i, receive_buffer_size));
            rig.s.on_read(0);
        }
        pipe_s = seconds_since(t0);
    }

    // Send path: 3-byte key sequences through the queue.
    double send_s;
    const int keys = 2000000;
    {
        session_rig rig;
        rig.connect();
        rig.sock().on_write = nullptr;
        const std::uint8_t key[3] = {27, '[', 'A'};
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < keys; ++i) {
            rig.s.send_to_host(key, 3);
            if ((i & 4095) == 0) rig.sock().writes.clear();
        }
        send_s = seconds_since(t0);
    }

    const double mb = static_cast<double>(total) / (1 << 20);
    std::printf("emulator alone:        %8.1f MB/s\n", mb / raw_s);
    std::printf("session receive path:  %8.1f MB/s\n", mb / pipe_s);
    std::printf("receive path / emulator time ratio: %.2f\n", pipe_s / raw_s);
    std::printf("send path:             %8.2f M key sequences/s\n", keys / send_s / 1e6);
    return 0;
}
