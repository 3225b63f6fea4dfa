// Arbitrary host bytes through a SOCKS 4 or 5 reply, the Telnet layer, auto-login, the emulator and the send queue, split into reads
// at positions taken from the input itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fakes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static session_rig* rig = [] {
        auto* r = new session_rig;
        r->settings.host_echo = 1;
        r->settings.auto_search1 = "login:";
        r->settings.auto_response1 = "guest\\015";
        r->nettopc['['] = '{';
        r->settings.host_name = "10.1.2.3";
        r->settings.proxy_host = "proxy";
        r->settings.proxy_socks_enable = 1;
        return r;
    }();
    rig->s.disconnect(true);
    rig->sockets.all.clear();  // the session holds no socket after disconnect
    rig->ui.messages.clear();
    rig->settings.proxy_enable = (data[0] & 2) ? 1 : 0;        // sometimes the stream starts with a SOCKS reply
    rig->settings.proxy_socks_enable = (data[0] & 4) ? 5 : 1;  // SOCKS 5: a method choice, then a reply
    if (!rig->connect()) return 0;
    rig->sock().write_limit = (data[0] & 1) ? -1 : -2;  // sometimes the socket refuses, filling the queue
    rig->s.on_proxy_timer();
    const std::size_t chunk = 1 + data[1] % 64;
    const std::string stream(reinterpret_cast<const char*>(data + 2), size - 2);
    rig->receive_split(stream, chunk);
    if (rig->s.send_queue_count() >= send_queue_size - 1) __builtin_trap();
    return 0;
}
