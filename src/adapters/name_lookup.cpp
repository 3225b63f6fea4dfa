#include "adapters/name_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <QMetaObject>
#include <cstring>
#include <mutex>
#include <thread>

struct name_lookup::shared {
    std::mutex m;
    QObject* receiver = nullptr;  // null once cancelled
};

namespace {
lookup_answer from_addrinfo(const addrinfo* list) {
    lookup_answer out;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage) || (a->ai_family != AF_INET && a->ai_family != AF_INET6)) continue;
        net_address n;
        std::memcpy(&n.sa, a->ai_addr, a->ai_addrlen);
        n.len = a->ai_addrlen;
        out.addresses.push_back(n);
    }
    return out;
}

lookup_answer resolve_with(const std::string& name, std::uint16_t port, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0) return {{}, ::gai_strerror(rc)};
    lookup_answer out = from_addrinfo(list);
    ::freeaddrinfo(list);
    if (out.addresses.empty()) out.why = "no address";
    return out;
}
}  // namespace

lookup_answer system_resolve(const std::string& name, std::uint16_t port) { return resolve_with(name, port, 0); }

lookup_answer literal_address(const std::string& text, std::uint16_t port) {
    return resolve_with(text, port, AI_NUMERICHOST);
}

name_lookup::name_lookup(std::string name, std::uint16_t port, const resolve_fn& resolve, done_fn done)
    : state_(std::make_shared<shared>()), receiver_(std::make_unique<QObject>()), done_(std::move(done)) {
    state_->receiver = receiver_.get();
    resolve_fn how = resolve ? resolve : resolve_fn(system_resolve);
    // Detached: a resolver that hangs must not hold up the socket's end or the program's exit.
    std::thread([state = state_, self = this, name = std::move(name), port, how = std::move(how)] {
        lookup_answer answer = how(name, port);
        const std::lock_guard<std::mutex> lock(state->m);
        if (!state->receiver) return;
        QMetaObject::invokeMethod(
            state->receiver,
            [state, self, answer = std::move(answer)]() mutable {
                {
                    const std::lock_guard<std::mutex> again(state->m);
                    if (!state->receiver) return;  // cancelled after the answer was posted
                }
                done_fn done = std::move(self->done_);  // done may destroy the lookup
                if (done) done(std::move(answer));
            },
            Qt::QueuedConnection);
    }).detach();
}

name_lookup::~name_lookup() {
    {
        const std::lock_guard<std::mutex> lock(state_->m);
        state_->receiver = nullptr;
    }
    // Never deleted inside its own posted call; an answer still queued for it finds the lookup cancelled.
    receiver_.release()->deleteLater();
}
