#pragma once
// Test doubles for the view: a socket that connects (at once unless told otherwise) and records what is written,
// and message boxes that record their texts and answer with a preset reply.
#include <memory>
#include <string>
#include <vector>

#include "config/ui_services.h"
#include "session/interfaces.h"

struct recording_socket final : session_socket {
    recording_socket(std::string& sink, int& closes, connect_result r) : sent(sink), closed(closes), result(r) {}
    connect_result connect(std::string_view, std::uint16_t) override { return result; }
    long read(std::uint8_t*, std::size_t) override { return 0; }
    long write(const std::uint8_t* b, std::size_t n) override {
        sent.append(reinterpret_cast<const char*>(b), n);
        return static_cast<long>(n);
    }
    void close() override { ++closed; }
    std::string& sent;
    int& closed;
    connect_result result;
};

struct recording_sockets final : socket_factory {
    std::string sent;  // everything written by every socket
    int created = 0;
    int closed = 0;
    session_socket::connect_result result = session_socket::connect_result::connected;
    std::unique_ptr<session_socket> create(socket_events&) override {
        ++created;
        return std::make_unique<recording_socket>(sent, closed, result);
    }
    std::optional<std::uint32_t> lookup_ipv4(std::string_view) override { return 0x7f000001u; }
};

struct recording_ui final : ui_services {
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    bool answer = true;
    void message_box(std::string_view t) override { messages.emplace_back(t); }
    bool ask_yes_no(std::string_view t) override {
        questions.emplace_back(t);
        return answer;
    }
};
