#pragma once
// A CUPS scheduler of the test's own in a temporary folder, reached through its local socket, with one raw
// AppSocket queue whose "printer" is socat appending everything it receives to a file. Everything listens on
// 127.0.0.1 or a file socket only, and is stopped by PID when the sandbox goes away.
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace print_test {

// Starts a program in a process group of its own. The child only calls what is safe after fork in a threaded
// process, and dies with the test process even when that one crashes or is killed by a time limit.
inline pid_t spawn(const std::vector<std::string>& argv, const std::string& log = "/dev/null") {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);  // the test is gone already
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    if (out >= 0) ::close(out);
    return pid;
}

// Runs a program to completion, at most `seconds`; its exit status or -1.
inline int run(const std::vector<std::string>& argv, int seconds = 20, const std::string& log = "/dev/null") {
    pid_t pid = spawn(argv, log);
    if (pid < 0) return -1;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline void stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    pid = -1;
}

inline int free_port() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

inline std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// Waits until pred() holds, at most `seconds`.
template <class Pred>
bool wait_for(Pred pred, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

class cups_sandbox {
public:
    // Why the sandbox could not be made (empty when it runs).
    std::string problem;
    std::string dir, socket_path, out_file;

    cups_sandbox() {
        if (geteuid() != 0) {
            problem = "the private scheduler needs root (it runs its jobs as lp)";
            return;
        }
        for (const char* tool : {"/usr/sbin/cupsd", "/usr/sbin/lpadmin", "/usr/bin/socat"})
            if (access(tool, X_OK) != 0) {
                problem = std::string(tool) + " is missing";
                return;
            }
        struct passwd* lp = getpwnam("lp");
        if (!lp) {
            problem = "no lp user";
            return;
        }
        char tmpl[] = "/tmp/qtelnet-cups-XXXXXX";
        if (!mkdtemp(tmpl)) {
            problem = "mkdtemp failed";
            return;
        }
        dir = tmpl;
        chmod(dir.c_str(), 0755);
        for (const char* sub : {"spool", "cache", "state", "ppd"}) {
            std::string p = dir + "/" + sub;
            mkdir(p.c_str(), 0755);
            if (chown(p.c_str(), lp->pw_uid, lp->pw_gid) != 0) {
                problem = "chown failed";
                return;
            }
        }
        socket_path = dir + "/cups.sock";
        out_file = dir + "/out.bin";
        std::ofstream(dir + "/cupsd.conf") << "Listen " << socket_path << "\nLogLevel warn\nErrorLog " << dir
                                           << "/error_log\nDefaultAuthType None\n"
                                              "<Location />\nOrder allow,deny\nAllow all\n</Location>\n"
                                              "<Policy default>\n<Limit All>\nOrder deny,allow\nAllow all\n"
                                              "</Limit>\n</Policy>\n";
        std::ofstream(dir + "/cups-files.conf")
            << "ServerRoot " << dir << "\nRequestRoot " << dir << "/spool\nCacheDir " << dir << "/cache\nStateDir "
            << dir << "/state\nTempDir " << dir << "/spool\nErrorLog " << dir << "/error_log\nAccessLog " << dir
            << "/access_log\nPageLog " << dir << "/page_log\nUser lp\nGroup lp\nSystemGroup lpadmin\n";
        port_ = free_port();
        socat_ =
            spawn({"/usr/bin/socat", "-u", "TCP-LISTEN:" + std::to_string(port_) + ",bind=127.0.0.1,reuseaddr,fork",
                   "OPEN:" + out_file + ",creat,append"},
                  dir + "/socat.log");
        cupsd_ = spawn({"/usr/sbin/cupsd", "-f", "-c", dir + "/cupsd.conf", "-s", dir + "/cups-files.conf"},
                       dir + "/cupsd.log");
        if (!wait_for([&] { return access(socket_path.c_str(), F_OK) == 0; }, 10)) {
            problem = "cupsd did not start: " + slurp(dir + "/error_log");
            return;
        }
        const char* old = std::getenv("CUPS_SERVER");
        had_server_ = old != nullptr;
        if (old) old_server_ = old;
        setenv("CUPS_SERVER", socket_path.c_str(), 1);
        server_set_ = true;
    }

    // The raw socket queue, made the default destination when `make_default`.
    bool add_queue(const std::string& name, bool make_default) {
        if (run({"/usr/sbin/lpadmin", "-p", name, "-E", "-v", "socket://127.0.0.1:" + std::to_string(port_), "-m",
                 "raw"}) != 0)
            return false;
        return !make_default || run({"/usr/sbin/lpadmin", "-d", name}) == 0;
    }

    std::string received() const { return slurp(out_file); }

    // Stops the peers and points CUPS clients back where they were, so nothing after the sandbox talks to a
    // scheduler that is gone.
    ~cups_sandbox() {
        stop(cupsd_);
        stop(socat_);
        if (server_set_) {
            if (had_server_)
                setenv("CUPS_SERVER", old_server_.c_str(), 1);
            else
                unsetenv("CUPS_SERVER");
        }
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }

private:
    int port_ = 0;
    pid_t socat_ = -1;
    pid_t cupsd_ = -1;
    bool server_set_ = false, had_server_ = false;
    std::string old_server_;
};

}  // namespace print_test

namespace print_test {

// The text of a PDF file as pdftotext lays it out; empty when it cannot be read.
inline std::string pdf_text(const std::string& pdf, bool layout = true) {
    const std::string out = pdf + ".txt";
    std::vector<std::string> argv{"/usr/bin/pdftotext"};
    if (layout) argv.push_back("-layout");
    argv.push_back(pdf);
    argv.push_back(out);
    if (run(argv, 30) != 0) return {};
    return slurp(out);
}

}  // namespace print_test
