#pragma once
// In-memory stand-ins for the socket, timer, clock, view and UI so the session runs without network or display.
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "config/maps.h"
#include "config/settings.h"
#include "config/ui_services.h"
#include "session/session.h"
#include "terminal/screen.h"
#include "terminal/screen_dump.h"
#include "terminal/vt.h"

struct fake_socket : session_socket {
    connect_result result = connect_result::connected;
    std::string host;
    std::uint16_t port = 0;
    std::deque<std::string> incoming;  // each entry is what one read returns
    std::vector<std::string> writes;
    long write_limit = -2;  // -2: take all; -1: error; k >= 0: take at most k bytes
    bool closed = false;
    int reads = 0;
    std::size_t pending = 0;  // output the socket still holds
    std::function<void(const std::string&)> on_write;
    socket_failure why;  // what failure() reports
    bool keep_alive = false;
    void set_keep_alive(bool on) override { keep_alive = on; }

    connect_result connect(std::string_view h, std::uint16_t p) override {
        host = std::string(h);
        port = p;
        return result;
    }
    long read(std::uint8_t* buf, std::size_t n) override {
        ++reads;
        if (incoming.empty()) return 0;
        std::string& front = incoming.front();
        const std::size_t k = front.size() < n ? front.size() : n;
        front.copy(reinterpret_cast<char*>(buf), k);
        front.erase(0, k);
        if (front.empty()) incoming.pop_front();
        return static_cast<long>(k);
    }
    long write(const std::uint8_t* buf, std::size_t n) override {
        if (write_limit == -1) return -1;
        std::size_t k = n;
        if (write_limit >= 0 && static_cast<std::size_t>(write_limit) < n) k = static_cast<std::size_t>(write_limit);
        std::string s(reinterpret_cast<const char*>(buf), k);
        writes.push_back(s);
        if (on_write) on_write(s);
        return static_cast<long>(k);
    }
    void close() override { closed = true; }
    std::size_t pending_output() const override { return pending; }
    socket_failure failure() const override { return why; }

    std::string all_written() const {
        std::string r;
        for (const auto& w : writes) r += w;
        return r;
    }
};

// What the session owns: a handle onto a fake the factory keeps, so tests can inspect it after disconnect.
struct fake_socket_handle : session_socket {
    fake_socket& f;
    explicit fake_socket_handle(fake_socket& s) : f(s) {}
    connect_result connect(std::string_view h, std::uint16_t p) override { return f.connect(h, p); }
    long read(std::uint8_t* buf, std::size_t n) override { return f.read(buf, n); }
    long write(const std::uint8_t* buf, std::size_t n) override { return f.write(buf, n); }
    void close() override { f.close(); }
    std::size_t pending_output() const override { return f.pending_output(); }
    socket_failure failure() const override { return f.failure(); }
    void set_keep_alive(bool on) override { f.set_keep_alive(on); }
};

struct fake_factory : socket_factory {
    bool fail_create = false;
    session_socket::connect_result result = session_socket::connect_result::connected;
    socket_failure why;  // given to each new socket
    std::vector<std::unique_ptr<fake_socket>> all;
    std::vector<socket_events*> events;  // whom each socket of `all` reports to
    fake_socket* last = nullptr;
    std::map<std::string, std::uint32_t> names;
    int created = 0;

    std::unique_ptr<session_socket> create(socket_events& sink) override {
        if (fail_create) return nullptr;
        all.push_back(std::make_unique<fake_socket>());
        events.push_back(&sink);
        last = all.back().get();
        last->result = result;
        last->why = why;
        ++created;
        return std::make_unique<fake_socket_handle>(*last);
    }
    std::optional<std::uint32_t> lookup_ipv4(std::string_view name) override {
        auto it = names.find(std::string(name));
        if (it == names.end()) return std::nullopt;
        return it->second;
    }
};

struct fake_timer : session_timer {
    bool running = false;
    int last_ms = 0;
    void start(int ms) override {
        running = true;
        last_ms = ms;
    }
    void stop() override { running = false; }
};

struct fixed_clock : session_clock {
    local_time t{9, 5, 7, 42};
    local_time now() override { return t; }
};

struct fake_ui : ui_services {
    std::vector<std::string> messages;
    std::function<void()> during_message;
    void message_box(std::string_view text) override {
        messages.emplace_back(text);
        if (during_message) during_message();
    }
    bool ask_yes_no(std::string_view) override { return true; }
};

struct fake_view : session_view {
    std::function<void()> during_pump;
    int pumps = 0;
    int exits = 0;
    int updates = 0;
    int starting = 0;
    std::string title;
    bool pump_pending_messages() override {
        ++pumps;
        if (during_pump) {
            auto f = during_pump;
            during_pump = nullptr;  // once
            f();
        }
        return true;
    }
    void update_changed() override { ++updates; }
    void connection_starting() override { ++starting; }
    void show_host_in_title(std::string_view h) override { title = std::string(h); }
    void clear_host_from_title() override { title.clear(); }
    void post_exit_command() override { ++exits; }
};

struct fake_ssh : ssh_engine {
    std::string received;
    std::string user_data;
    int resets = 0;
    bool handshake_done = false;           // the key exchange finished
    std::function<void()> during_receive;  // a question to the user, say, while the host's data is handled
    void ssh_receive(const std::uint8_t* b, std::size_t n) override {
        received.append(reinterpret_cast<const char*>(b), n);
        if (during_receive) during_receive();
    }
    void ssh_send_user_data(const std::uint8_t* b, std::size_t n) override {
        user_data.append(reinterpret_cast<const char*>(b), n);
    }
    void ssh_reset() override { ++resets; }
    bool ssh_handshake_done() const override { return handshake_done; }
    int connects = 0, goodbyes = 0;
    void ssh_connected() override { ++connects; }
    void ssh_goodbye() override { ++goodbyes; }
};

// Everything a session needs, wired together.
struct session_rig {
    // Tests set `settings`; the session reads the profile taken from it at each connect (sync() takes it now).
    Settings settings;
    connection_profile profile;
    translation_table_t nettopc{};
    translation_table_t pctonet{};
    screen_ring ring;
    vt term{ring};
    fake_factory sockets;
    fake_timer timer;
    fake_ui ui;
    fake_view view;
    fixed_clock clock;
    session s{term, profile, nettopc, pctonet, sockets, timer, ui, view, clock};
    // Each ending as the listener heard it, and whether the session was still busy at that moment.
    struct heard_ending {
        session_ending end;
        bool busy;
    };
    std::vector<heard_ending> endings;

    session_rig() {
        s.set_ending_listener([this](const session_ending& e) { endings.push_back({e, s.busy()}); });
    }

    fake_socket& sock() { return *sockets.last; }

    void sync() { profile = connection_profile::from(settings, settings.host_name, settings.port); }
    bool connect(std::string_view host = "h", int port = 23) {
        sync();
        return s.connect_to(host, port);
    }

    // Delivers data as one read notification per chunk.
    void receive(const std::string& data) {
        sock().incoming.push_back(data);
        s.on_read(0);
    }
    // Delivers data split into chunks of the given size, one notification each.
    void receive_split(const std::string& data, std::size_t chunk) {
        for (std::size_t i = 0; i < data.size(); i += chunk) receive(data.substr(i, chunk));
    }
    std::string row(int r) const {
        const std::string dump = screen_dump_plain(ring);
        std::size_t start = 0;
        for (int i = 1; i < r; ++i) start = dump.find('\n', start) + 1;
        std::string line = dump.substr(start, dump.find('\n', start) - start);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        return line;
    }
};

inline std::string bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v) s.push_back(static_cast<char>(b));
    return s;
}
