#pragma once
// Fakes of both sides of a tunnel: local programs (streams that record what reached them), listeners, a network
// that hands them out, and an SSH connection that records its channels.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "forward/tunnel_ports.h"

namespace fwd_fakes {

using namespace fwd;
using bytes = std::vector<std::uint8_t>;

// What the program saw; it outlives the stream, which the forwarder drops when a link ends.
struct stream_record {
    bytes outbox;  // what reached the program
    bool shut = false;
    bool destroyed = false;
};

struct fake_stream : tunnel_stream {
    explicit fake_stream(stream_record& r) : rec(r) {}
    ~fake_stream() override { rec.destroyed = true; }
    stream_record& rec;
    stream_events* ev = nullptr;
    bytes inbox;  // what the program sent, not read yet
    bool program_closed = false;
    std::size_t room = 1 << 20;  // what write takes before the program reads
    void set_events(stream_events* e) override { ev = e; }
    long read(std::uint8_t* buf, std::size_t n) override {
        if (inbox.empty()) return program_closed ? -1 : 0;
        n = std::min(n, inbox.size());
        std::copy_n(inbox.begin(), n, buf);
        inbox.erase(inbox.begin(), inbox.begin() + std::ptrdiff_t(n));
        return long(n);
    }
    std::size_t write(std::span<const std::uint8_t> in) override {
        const std::size_t n = std::min(room, in.size());
        rec.outbox.insert(rec.outbox.end(), in.begin(), in.begin() + std::ptrdiff_t(n));
        room -= n;
        return n;
    }
    void shutdown_write() override { rec.shut = true; }
    std::string peer() const override { return "127.0.0.1"; }
    std::uint16_t peer_port() const override { return 40000; }
    // The program sends, or reads some of what waits for it.
    void send(std::string_view s) {
        inbox.insert(inbox.end(), s.begin(), s.end());
        ev->stream_readable();
    }
    void drain(std::size_t n) {
        room += n;
        ev->stream_writable();
    }
};

struct fake_listener : port_listener {
    std::map<std::string, listener_events*>& table;
    std::string key;
    fake_listener(std::map<std::string, listener_events*>& t, std::string k) : table(t), key(std::move(k)) {}
    ~fake_listener() override { table.erase(key); }
    std::uint16_t port() const override { return 1; }
};

// A timer the test fires by hand; the network sees whether it was dropped.
struct fake_timer : local_timer {
    std::shared_ptr<bool> live = std::make_shared<bool>(true);
    ~fake_timer() override { *live = false; }
};

struct fake_network : local_network {
    struct pending_timer {
        int ms;
        std::function<void()> fire;
        std::shared_ptr<bool> live;
    };
    std::vector<pending_timer> timers;
    std::unique_ptr<local_timer> start_timer(int ms, std::function<void()> fire) override {
        auto t = std::make_unique<fake_timer>();
        timers.push_back({ms, std::move(fire), t->live});
        return t;
    }
    // Fires every timer still held, as the event loop would once their time has come; how many fired.
    int fire_timers() {
        int n = 0;
        std::vector<pending_timer> due;
        due.swap(timers);
        for (auto& t : due)
            if (*t.live) {
                *t.live = false;
                t.fire();
                ++n;
            }
        return n;
    }
    std::deque<stream_record> records;
    std::map<std::string, listener_events*> listening;  // "address port"
    std::vector<std::string> busy;
    std::vector<std::pair<std::string, fake_stream*>> dialled;  // "host port", stream
    bool refuse_dial = false;

    std::unique_ptr<port_listener> listen(std::string_view address, std::uint16_t port, listener_events& events,
                                          std::string& why) override {
        const std::string key = std::string(address) + " " + std::to_string(port);
        if (std::find(busy.begin(), busy.end(), key) != busy.end()) {
            why = "Address already in use";
            return nullptr;
        }
        listening[key] = &events;
        return std::make_unique<fake_listener>(listening, key);
    }
    std::unique_ptr<tunnel_stream> connect(std::string_view host, std::uint16_t port, stream_events& events) override {
        if (refuse_dial) return nullptr;
        auto s = std::make_unique<fake_stream>(records.emplace_back());
        s->ev = &events;
        dialled.emplace_back(std::string(host) + " " + std::to_string(port), s.get());
        return s;
    }
    std::string agent_missing;  // non-empty: connect_agent fails with it
    std::vector<fake_stream*> agents;
    std::unique_ptr<tunnel_stream> connect_agent(stream_events& events, std::string& why) override {
        if (!agent_missing.empty()) {
            why = agent_missing;
            return nullptr;
        }
        auto s = std::make_unique<fake_stream>(records.emplace_back());
        s->ev = &events;
        agents.push_back(s.get());
        return s;
    }
    // A program connects to a listener.
    fake_stream* arrive(const std::string& key) {
        auto s = std::make_unique<fake_stream>(records.emplace_back());
        fake_stream* p = s.get();
        listening.at(key)->accepted(std::move(s));
        return p;
    }
};

struct fake_channel {
    channel_events* ev = nullptr;
    std::string target;  // "host port" (direct) or "forwarded"
    std::size_t room = 1 << 20;
    bytes sent;
    bool eof = false, closed = false, accepted = false, refused = false;
    std::size_t consumed = 0;
};

struct fake_ssh : ssh_tunnels {
    std::map<channel_id, fake_channel> ch;
    channel_id next = 100;
    bool can_open = true;
    std::vector<std::string> remote, cancelled;
    std::function<void()> on_send;  // e.g. the connection ending inside a send
    std::function<void()> on_consumed;

    channel_id open_direct(std::string_view host, std::uint16_t port, std::string_view origin, std::uint16_t oport,
                           channel_events& e) override {
        if (!can_open) return 0;
        EXPECT_EQ(origin, "127.0.0.1");
        EXPECT_EQ(oport, 40000);
        auto& c = ch[++next];
        c.ev = &e;
        c.target = std::string(host) + " " + std::to_string(port);
        return next;
    }
    std::size_t send_room(channel_id id) const override { return ch.at(id).room; }
    void send(channel_id id, std::span<const std::uint8_t> data) override {
        auto& c = ch.at(id);
        EXPECT_LE(data.size(), c.room) << "more than the window";
        EXPECT_FALSE(c.eof || c.closed);
        c.sent.insert(c.sent.end(), data.begin(), data.end());
        c.room -= data.size();
        if (on_send) on_send();
    }
    void send_eof(channel_id id) override { ch.at(id).eof = true; }
    void close(channel_id id) override { ch.at(id).closed = true; }
    void consumed(channel_id id, std::size_t n) override {
        ch.at(id).consumed += n;
        if (on_consumed) on_consumed();
    }
    bool request_remote(std::string_view a, std::uint16_t p) override {
        remote.push_back(std::string(a) + " " + std::to_string(p));
        return true;
    }
    void cancel_remote(std::string_view a, std::uint16_t p) override {
        cancelled.push_back(std::string(a) + " " + std::to_string(p));
    }
    void accept_open(channel_id id, channel_events& e) override {
        ch[id].ev = &e;
        ch[id].accepted = true;
    }
    void refuse_open(channel_id id, std::uint32_t, std::string_view) override { ch[id].refused = true; }
    fake_channel& last() { return ch.at(next); }
};


}  // namespace fwd_fakes
