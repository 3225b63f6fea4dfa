#pragma once
// Name lookups off the user-interface thread: getaddrinfo runs in a worker thread of its own and the answer is
// posted back to the thread that asked. Dropping the lookup cancels it: the worker may still be blocked in the
// resolver, but its answer is then thrown away and the callback never runs.
#include <sys/socket.h>

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct net_address {
    sockaddr_storage sa{};
    socklen_t len = 0;
};

struct lookup_answer {
    std::vector<net_address> addresses;  // in the resolver's order; empty on failure
    std::string why;                     // the resolver's reason when there is no address
};

// Runs in the worker thread; replaces the system resolver in tests (no query leaves the machine).
using resolve_fn = std::function<lookup_answer(const std::string& name, std::uint16_t port)>;

// getaddrinfo for TCP; blocking.
lookup_answer system_resolve(const std::string& name, std::uint16_t port);
// A numeric IPv4 or IPv6 address as an answer, without any query; a name gives no address.
lookup_answer literal_address(const std::string& text, std::uint16_t port);

class name_lookup {
public:
    using done_fn = std::function<void(lookup_answer)>;
    // done runs later on the calling thread's event loop, unless this object is destroyed first.
    name_lookup(std::string name, std::uint16_t port, const resolve_fn& resolve, done_fn done);
    ~name_lookup();
    name_lookup(const name_lookup&) = delete;
    name_lookup& operator=(const name_lookup&) = delete;

private:
    struct shared;
    std::shared_ptr<shared> state_;
    std::unique_ptr<QObject> receiver_;  // where the answer is posted
    done_fn done_;
};
