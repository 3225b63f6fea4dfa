// What the loopback integration tests share: child processes in their own process group (stopped whatever
// happens), free ports, reading a peer's files. Header-only; POSIX.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace peer_test {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// A child process in its own process group; the whole group is killed when this goes away. With a stdin pipe,
// closing it is the child's signal to stop by itself (peers that clean up after themselves get 5 s for that).
class child {
public:
    child(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err, bool stdin_pipe = false) {
        int in[2] = {-1, -1};
        if (stdin_pipe && ::pipe2(in, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (stdin_pipe) ::dup2(in[0], 0);
            ::dup2(o, 1);
            ::dup2(e, 2);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        if (pid_ > 0) ::setpgid(pid_, pid_);
        if (stdin_pipe) {
            ::close(in[0]);
            stdin_ = in[1];
            stdin_piped_ = true;
        }
    }
    ~child() {
        if (stdin_piped_) {
            close_stdin();
            wait(std::chrono::seconds(5));
        }
        stop();
    }
    child(const child&) = delete;
    child& operator=(const child&) = delete;

    bool write_stdin(const std::string& text) {
        ::signal(SIGPIPE, SIG_IGN);  // a peer that has gone is a failed check, not a dead test program
        return stdin_ >= 0 && ::write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    void close_stdin() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
    }

    // Exit status, or -1 when it had to be killed after the limit.
    int wait(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0) {
            int st = 0;
            const pid_t r = ::waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            if (std::chrono::steady_clock::now() > end) {
                stop();
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    bool stdin_piped_ = false;  // its end lets the peer clean up, even when closed early
};

// Runs a shell command under a time limit: its standard output as the result, its wait status in *status.
inline std::string run(const std::string& cmd, int* status = nullptr, int limit_s = 60) {
    std::string out;
    FILE* p = ::popen(("timeout " + std::to_string(limit_s) + " " + cmd).c_str(), "r");
    if (!p) return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int st = ::pclose(p);
    if (status) *status = st;
    return out;
}

inline int free_port() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(s);
        return -1;
    }
    ::close(s);
    return ntohs(a.sin_port);
}

inline bool port_open(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// Waits for a peer's "PORT <n>" line in its output file; -1 after the limit.
inline int wait_port_line(const fs::path& out, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        const std::string text = slurp(out);
        const auto at = text.find("PORT ");
        if (at != std::string::npos && text.find('\n', at) != std::string::npos) return std::stoi(text.substr(at + 5));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

// A TCP service on 127.0.0.1 for forwarding tests: one thread a connection runs `serve` on the accepted socket,
// whose reads and writes time out after 30 s so that a stuck peer ends its worker; `serve` closes it. `port` is -1
// when no listener could be made.
struct loopback_service {
    int fd = -1;
    int port = -1;
    std::thread acceptor;
    std::vector<std::thread> workers;
    explicit loopback_service(std::function<void(int)> serve) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port = ntohs(a.sin_port);
        acceptor = std::thread([this, serve = std::move(serve)] {
            for (int c; (c = ::accept(fd, nullptr, nullptr)) >= 0;) {
                timeval tv{30, 0};
                ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
                ::setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
                workers.emplace_back(serve, c);
            }
        });
    }
    loopback_service(const loopback_service&) = delete;
    loopback_service& operator=(const loopback_service&) = delete;
    ~loopback_service() {
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
        if (acceptor.joinable()) acceptor.join();
        for (auto& w : workers) w.join();
    }
};

}  // namespace peer_test
