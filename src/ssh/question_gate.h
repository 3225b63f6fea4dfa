#pragma once
// The gate an SSH engine keeps shut while a question to the user is out (a host key, a sign-on dialog): the host's
// bytes wait here instead of being taken, and once the answer is in the engine takes them in the order they came.
// The session reads nothing while its question is out, so what waits is the rest of one read at most; more than
// `capacity` is refused (the engine ends the session) rather than kept without bound.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "session/interfaces.h"

namespace ssh {

class question_gate {
public:
    static constexpr std::size_t capacity = socket_read_buffer_limit;

    bool asking() const { return asking_; }
    // A question goes out: bytes wait from now on.
    void ask() { asking_ = true; }
    // The answer is in: bytes pass again; what waited stays for take().
    void answered() { asking_ = false; }
    // Keeps the bytes that came while asking; false, keeping none of them, when they would not fit.
    bool hold(const std::uint8_t* bytes, std::size_t n);
    bool empty() const { return waiting_.empty(); }
    // What waited, in order; the gate is empty afterwards.
    std::vector<std::uint8_t> take();
    // The connection ended: no answer is awaited and nothing waits.
    void close();

private:
    bool asking_ = false;
    std::vector<std::uint8_t> waiting_;
};

}  // namespace ssh
