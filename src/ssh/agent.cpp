#include "ssh/agent.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "ssh/wire.h"

namespace ssh {

namespace {

enum : std::uint8_t {
    agent_failure = 5,
    request_identities = 11,
    identities_answer = 12,
    sign_request = 13,
    sign_response = 14,
};

// Far above any real key (a 16384-bit RSA blob is about 2 KiB) yet small enough to keep a lying agent cheap.
constexpr std::size_t max_key_blob = 16384;
constexpr std::size_t max_comment = 4096;
constexpr std::size_t max_signature = 16384;

using steady = std::chrono::steady_clock;

// Waits for `events` until `deadline`; false on timeout or error.
bool wait_for(int fd, short events, steady::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        // A hung-up peer may still have bytes to read; the read itself reports the end.
        return (p.revents & (events | POLLHUP)) != 0 && !(p.revents & POLLNVAL);
    }
}

class socket_agent final : public agent_client {
public:
    socket_agent(int fd, int timeout_ms) : fd_(fd), timeout_(timeout_ms) {}
    ~socket_agent() override { drop(); }
    socket_agent(const socket_agent&) = delete;
    socket_agent& operator=(const socket_agent&) = delete;

    std::vector<agent_identity> identities() override {
        const std::uint8_t req[] = {0, 0, 0, 1, request_identities};
        if (!send_all(req, sizeof req) || !receive()) return {};
        auto ids = parse_agent_identities(reply_);
        if (!ids) {
            // A FAILURE reply leaves the stream in step; anything malformed does not.
            if (reply_.empty() || reply_[0] != agent_failure) drop();
            return {};
        }
        return std::move(*ids);
    }

    std::optional<std::vector<std::uint8_t>> sign(std::span<const std::uint8_t> key_blob,
                                                  std::span<const std::uint8_t> data, std::uint32_t flags) override {
        if (key_blob.size() > max_key_blob || data.size() > agent_max_reply) return std::nullopt;
        std::vector<std::uint8_t> req(4 + 1 + 4 + key_blob.size() + 4 + data.size() + 4);
        wire_writer w(req.data(), req.size());
        w.u32(static_cast<std::uint32_t>(req.size() - 4));
        w.u8(sign_request);
        w.string(key_blob);
        w.string(data);
        w.u32(flags);
        if (w.overflow() || w.size() != req.size()) return std::nullopt;
        if (!send_all(req.data(), req.size()) || !receive()) return std::nullopt;
        auto sig = parse_agent_signature(reply_);
        if (!sig && (reply_.empty() || reply_[0] != agent_failure)) drop();
        return sig;
    }

private:
    void drop() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool send_all(const std::uint8_t* p, std::size_t n) {
        const auto deadline = steady::now() + std::chrono::milliseconds(timeout_);
        while (fd_ >= 0 && n > 0) {
            if (!wait_for(fd_, POLLOUT, deadline)) break;
            const ssize_t k = ::send(fd_, p, n, MSG_NOSIGNAL);
            if (k < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            if (k <= 0) break;
            p += k;
            n -= static_cast<std::size_t>(k);
        }
        if (n != 0) drop();
        return n == 0;
    }

    bool read_exact(std::uint8_t* p, std::size_t n, steady::time_point deadline) {
        while (fd_ >= 0 && n > 0) {
            if (!wait_for(fd_, POLLIN, deadline)) break;
            const ssize_t k = ::recv(fd_, p, n, 0);
            if (k < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            if (k <= 0) break;  // closed or failed mid-message
            p += k;
            n -= static_cast<std::size_t>(k);
        }
        if (n != 0) drop();
        return n == 0;
    }

    // One length-prefixed message into reply_; the length is checked before anything is allocated.
    bool receive() {
        reply_.clear();
        const auto deadline = steady::now() + std::chrono::milliseconds(timeout_);
        std::uint8_t len[4];
        if (!read_exact(len, sizeof len, deadline)) return false;
        wire_reader r(len, sizeof len);
        const std::uint32_t n = *r.u32();
        if (n == 0 || n > agent_max_reply) {
            drop();
            return false;
        }
        reply_.resize(n);
        if (read_exact(reply_.data(), n, deadline)) return true;
        reply_.clear();
        return false;
    }

    int fd_;
    int timeout_;
    std::vector<std::uint8_t> reply_;
};

}  // namespace

std::optional<std::vector<agent_identity>> parse_agent_identities(std::span<const std::uint8_t> reply) {
    wire_reader r(reply);
    const auto type = r.u8();
    const auto count = r.u32();
    if (!type || *type != identities_answer || !count) return std::nullopt;
    const std::size_t take = *count < agent_max_identities ? *count : agent_max_identities;
    // Each key needs at least its two lengths: a count the reply cannot hold is refused before reserving.
    if (take > r.remaining() / 8) return std::nullopt;
    std::vector<agent_identity> out;
    out.reserve(take);
    for (std::size_t i = 0; i < take; ++i) {
        const auto blob = r.string(max_key_blob);
        const auto comment = r.string(max_comment);
        if (!blob || !comment || blob->empty()) return std::nullopt;
        out.push_back({{blob->begin(), blob->end()}, {comment->begin(), comment->end()}});
    }
    // Keys past the limit are left unread; otherwise the reply must end with the last key.
    if (*count <= agent_max_identities && !r.at_end()) return std::nullopt;
    return out;
}

std::optional<std::vector<std::uint8_t>> parse_agent_signature(std::span<const std::uint8_t> reply) {
    wire_reader r(reply);
    const auto type = r.u8();
    if (!type || *type != sign_response) return std::nullopt;
    const auto sig = r.string(max_signature);
    if (!sig || !r.at_end()) return std::nullopt;
    wire_reader inner(*sig);
    const auto alg = inner.text(64);
    const auto body = inner.string(max_signature);
    if (!alg || alg->empty() || !body || body->empty() || !inner.at_end()) return std::nullopt;
    return std::vector<std::uint8_t>(sig->begin(), sig->end());
}

std::unique_ptr<agent_client> connect_agent(const std::string& socket_path, int timeout_ms) {
    sockaddr_un addr{};
    if (socket_path.empty() || socket_path.size() >= sizeof addr.sun_path) return nullptr;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, socket_path.data(), socket_path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return nullptr;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        // A full backlog makes a non-blocking unix connect fail with EAGAIN: nobody is answering in time.
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<socket_agent>(fd, timeout_ms);
}

std::unique_ptr<agent_client> connect_agent() {
    const char* path = std::getenv("SSH_AUTH_SOCK");
    if (!path || !*path) return nullptr;
    return connect_agent(path);
}

}  // namespace ssh
