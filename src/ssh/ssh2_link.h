#pragma once
// What the parts of the SSH-2 engine (key exchange, sign-on) ask of its transport: building and sending a message,
// ending the session with a text, questions for the user, arming the slots of the message table, and telling
// whether the session has ended. Each part has its own interface over this one (kex_link, auth_link,
// connection_link).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "session/interfaces.h"
#include "ssh/wire.h"

namespace ssh {

// Bytes of an outgoing message (counted after its type byte) that the debug log shows as '*'.
struct secret_range {
    std::size_t from = 0, len = 0;
};

// One slot of the message table: the handler of one message type, bound to the part that owns it.
struct message_slot {
    void* self = nullptr;
    void (*call)(void*, wire_reader&) = nullptr;

    template <auto F, class T>
    static message_slot to(T* part) {
        return {part, [](void* p, wire_reader& r) { (static_cast<T*>(p)->*F)(r); }};
    }
    void operator()(wire_reader& r) const { call(self, r); }
};

class transport_link {
public:
    // The payload area after the type byte; send() frames it, the log showing `mask` starred.
    virtual wire_writer begin(std::uint8_t type) = 0;
    virtual void send(const wire_writer& w, secret_range mask) = 0;
    void send(const wire_writer& w) { send(w, {}); }
    // Tells the user and ends the session.
    virtual void fail(std::string_view text) = 0;
    // Puts a question to the user once the current step has returned (no dialog runs under a packet handler). No
    // packet is taken until its answer has been applied; a session that ended meanwhile never hears it.
    virtual void ask(user_question q) = 0;
    // The last check of a fixed-form message: bytes after its last field end the session, naming the message.
    virtual bool finished(wire_reader& r) = 0;
    virtual void arm(std::uint8_t type, message_slot slot) = 0;
    virtual void disarm(std::uint8_t type) = 0;  // back to the answer for a message not awaited
    virtual bool negotiated() const = 0;
    // The session has ended: a step that may have ended it (a failure it caused, a sent message) checks this
    // before touching the connection again.
    virtual bool closed() const = 0;

protected:
    ~transport_link() = default;
};

}  // namespace ssh
