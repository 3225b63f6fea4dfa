// vtsession: runs one session through the session core, emulator and settings store, headless, and prints the
// screen like vtreplay. Connects (directly or through the configured proxy, with auto-login), waits for --expect,
// sends each --send text (with --resize and --pause steps in command-line order), waits until the host is quiet
// for 500 ms, closes or the timeout passes.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <unistd.h>

#include "adapters/connection_runtime.h"
#include "adapters/event_pump.h"
#include "adapters/qsettings_backend.h"
#include "adapters/qt_socket.h"
#include "adapters/qt_timer.h"
#include "adapters/qt_tunnel_network.h"
#include "config/maps.h"
#include "config/memory_backend.h"
#include "config/mycli.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "config/ui_services.h"
#include "config/escape.h"
#include "forward/forward_rule.h"
#include "sftp/client.h"
#include "session/connection.h"
#include "session/host_config.h"
#include "session/jump.h"
#include "session/session.h"
#include "ssh/known_hosts.h"
#include "ssh/services.h"
#include "ssh/ssh_client.h"
#include "terminal/screen_dump.h"
#include "terminal/vt.h"

namespace {

constexpr int quiet_ms = 500;

int usage() {
    std::fputs(
        "usage: vtsession --host H --port P [--settings FILE] [--config NAME] [--set key=value]... [--send TEXT]...\n"
        "                 [--expect TEXT] [--timeout SECONDS] [--json] [--history] [--accept-new-host-key]\n"
        "                 [--capture FILE] [--log] [--resolve NAME=ADDRESS]... [--hold]\n"
        "  --hold                 after the sends (and the transfers), stay connected until the session ends or the\n"
        "                         timeout passes\n"
        "                         (keep-alives go on meanwhile) instead of leaving once the host is quiet\n"
        "  --resolve NAME=ADDRESS answer name lookups from these pairs alone; any other name is not found, and no\n"
        "                         query goes to the system resolver\n"
        "  --accept-new-host-key  trust and remember an SSH host key found in no known_hosts file\n"
        "  --capture FILE         append the terminal data as received to FILE\n"
        "  --log                  write the session debug log (SSH hex dumps) as the client's log command does\n"
        "                         (a changed key is always refused)\n"
        "  --size ROWSxCOLS       the grid told to the host (Telnet NAWS, SSH pty request and window-change);\n"
        "                         implies --set screen_size=1 unless screen_size is set; with screen_size=1 the\n"
        "                         emulator takes that size too, with 0 it stays 24 rows of 80 or 132 columns\n"
        "  --rows R, --cols C     the same as --size RxC (the other one 24 or 80 when not given)\n"
        "  --resize ROWSxCOLS     a step after --expect, in order with --send and --pause: the grid becomes this\n"
        "  --pause MS             a step: wait MS milliseconds, taking host data meanwhile\n"
        "  --type-stdin           after the steps, what arrives on standard input is typed as it comes\n"
        "  -L [ADDR:]PORT:HOST:HOSTPORT, -R [ADDR:]PORT:HOST:HOSTPORT, -D [ADDR:]PORT\n"
        "                         SSH-2 port forwards (local, remote, SOCKS), added to ssh_forwards; listeners\n"
        "                         bind to 127.0.0.1 unless an address is given; tunnel news go to stderr\n"
        "  --get REMOTE LOCAL     SSH-2: after sign-on, fetch a file (or a folder) over SFTP; LOCAL may be a folder\n"
        "  --put LOCAL REMOTE     SSH-2: after sign-on, send a file over SFTP; REMOTE may be a folder\n"
        "                         (both repeatable, run in order; progress on stderr; exit 0 only when each one\n"
        "                         completed and its size was checked; a folder's entries not fetched are named)\n"
        "  -J [USER@]HOST[:PORT][,...]\n"
        "                         SSH-2 through these jump hosts in order (ssh://USER@HOST:PORT too); each signs on\n"
        "                         with the session's key file and has its host key checked as the target's is\n"
        "  --resume               --get continues LOCAL.part, --put the remote file, from their sizes\n"
        "  --keep-times           --get and --put keep the modification times (the mode is always kept)\n"
        "  VTSESSION_PASSPHRASE   (environment) the passphrase of an encrypted SSH key file\n",
        stderr);
    return 2;
}

// Messages are collected: the last one explains a failure; after a run they are listed on stderr.
struct tool_ui : ui_services {
    std::string last;
    std::vector<std::string> all;
    void message_box(std::string_view text) override {
        last = std::string(text);
        all.push_back(last);
    }
    void print() const {
        for (const auto& m : all) std::fprintf(stderr, "vtsession: %s\n", m.c_str());
    }
    bool ask_yes_no(std::string_view) override { return false; }
};

// No dialog here: the stored user name and password serve one sign-on; a second request ends the session.
struct tool_prompts : ssh::ssh_prompts {
    tool_ui& ui;
    std::string user, password;
    bool used;
    bool accept_new_host_key = false;
    tool_prompts(tool_ui& u, const Settings& s)
        : ui(u), user(s.ssh_user), password(s.ssh_password), used(s.ssh_default != 0) {}
    bool sign_on(ssh_profile& s) override {
        if (used || user.empty()) {
            ui.message_box("sign-on dialog needed (the stored user name and password were refused or are missing; "
                           "vtsession shows no dialog)");
            return false;
        }
        used = true;
        s.ssh_user = user;
        s.ssh_password = password;
        return true;
    }
    // Like ssh's StrictHostKeyChecking=accept-new when asked to; otherwise nobody is there to compare fingerprints.
    ssh::host_key_answer confirm_host_key(std::string_view host, int port, std::string_view type,
                                          std::string_view fingerprint) override {
        if (accept_new_host_key) return ssh::host_key_answer::accept_and_remember;
        ui.message_box("host key of " + ssh::known_host_name(host, port) + " is unknown (" + std::string(type) + " " +
                       std::string(fingerprint) + "); vtsession refuses it without --accept-new-host-key");
        return ssh::host_key_answer::cancel;
    }
    // The stored password answers every hidden prompt of one round; a second round would mean it was refused, and
    // sending it again would only count against the account.
    bool kbd_used = false;
    std::optional<std::vector<std::string>> keyboard_interactive(std::string_view, std::string_view,
                                                                 const std::vector<ssh::kbd_prompt>& prompts) override {
        if (kbd_used || password.empty()) {
            ui.message_box(kbd_used ? "keyboard-interactive sign-on asked again after the stored password was sent; "
                                      "vtsession shows no dialog"
                                    : "keyboard-interactive sign-on needs the stored password, which is empty");
            return std::nullopt;
        }
        kbd_used = true;
        std::vector<std::string> answers;
        for (const auto& p : prompts) answers.push_back(p.echo ? std::string() : password);
        return answers;
    }
    std::optional<std::string> key_passphrase(std::string_view key_file) override {
        const char* p = std::getenv("VTSESSION_PASSPHRASE");
        if (!p) {
            ui.message_box("key file " + std::string(key_file) +
                           " needs a passphrase; vtsession takes it from VTSESSION_PASSPHRASE, which is unset");
            return std::nullopt;
        }
        return std::string(p);
    }
};

struct tool_term_host : vt_host {
    bool reverse_screen = false;
    void set_reverse_screen(bool on) override { reverse_screen = on; }
    std::function<void(int)> set_echo;  // the emulator's SRM: the connection's own local echo
    void set_local_echo(bool on) override {
        if (set_echo) set_echo(on);
    }
    std::function<void(int)> on_columns;
    void columns_changed(int columns) override {
        if (on_columns) on_columns(columns);
    }
};

struct tool_view : session_view {
    QElapsedTimer since_data;
    std::string replies;
    bool exit_posted = false;
    paced_event_pump pump;
    bool pump_pending_messages() override {
        pump.pump();
        return true;
    }
    void before_host_data() override { since_data.restart(); }
    void connection_starting() override {
        Settings& s = settings();
        read_translation_map(s.nettopc, nettopc_table());
        read_translation_map(s.pctonet, pctonet_table());
    }
    void host_reply(std::string_view r) override { replies.append(r); }
    void post_exit_command() override { exit_posted = true; }
};

// --set values win over whatever the settings file holds for the chosen configuration.
class overlay_backend final : public settings_backend {
public:
    overlay_backend(settings_backend& base, std::map<std::string, std::string> values)
        : base_(base), values_(std::move(values)) {}
    int read_int(std::string_view section, std::string_view key, int def) override {
        auto it = values_.find(std::string(key));
        if (it == values_.end()) return base_.read_int(section, key, def);
        used_.insert(it->first);
        char* end = nullptr;
        const long v = std::strtol(it->second.c_str(), &end, 0);
        return (end && *end == '\0' && !it->second.empty()) ? static_cast<int>(v) : def;
    }
    std::string read_text(std::string_view section, std::string_view key, std::string_view def) override {
        auto it = values_.find(std::string(key));
        if (it == values_.end()) return base_.read_text(section, key, def);
        used_.insert(it->first);
        return it->second;
    }
    // A --set key the store never asked for is not a setting (a typo, most likely).
    std::string first_unused() const {
        for (const auto& [k, v] : values_)
            if (!used_.count(k)) return k;
        return {};
    }
    void write_int(std::string_view, std::string_view, int) override {}
    void write_text(std::string_view, std::string_view, std::string_view) override {}
    bool remove_section(std::string_view) override { return false; }
    std::optional<std::string> read_program_dir() override { return base_.read_program_dir(); }
    void write_program_dir(std::string_view) override {}

private:
    settings_backend& base_;
    std::map<std::string, std::string> values_;
    std::set<std::string> used_;
};

// The product's INI file, or an empty store when none is given. Null when the file is not there.
std::unique_ptr<settings_backend> open_settings_file(const std::string& path) {
    if (path.empty()) return std::make_unique<memory_backend>();
    const QString p = QString::fromStdString(path);
    if (!QFileInfo(p).isFile()) return nullptr;
    return qsettings_backend::from_file(p);
}

// A grid's rows or columns as the host may be told them (16 bits in NAWS).
bool grid_extent(long n) { return n >= 1 && n <= 65535; }

// "ROWSxCOLS" with both grid extents.
std::optional<std::pair<int, int>> parse_grid(const std::string& text) {
    int rows = 0, columns = 0;
    char x = 0, extra = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%c", &rows, &x, &columns, &extra) != 3 || (x != 'x' && x != 'X'))
        return std::nullopt;
    if (!grid_extent(rows) || !grid_extent(columns)) return std::nullopt;
    return std::make_pair(rows, columns);
}

// One --get or --put: run over SFTP after sign-on, one after the other.
struct sftp_job {
    bool get = true;
    std::string from, to;
};

// Runs the --get and --put jobs on the connection's SFTP client, a progress line on stderr every half second.
class sftp_runner {
public:
    sftp_runner(std::vector<sftp_job> jobs, bool resume, bool keep_times)
        : jobs_(std::move(jobs)), resume_(resume), keep_times_(keep_times) {}
    bool done() const { return done_; }
    bool all_ok() const { return done_ && failures_ == 0; }
    void ready(sftp::client& c) {
        c_ = &c;
        next();
    }
    void ended(std::string_view why) {
        if (done_) return;
        std::fprintf(stderr, "vtsession: SFTP: %.*s\n", static_cast<int>(why.size()), why.data());
        ++failures_;
        done_ = true;
    }

private:
    static std::string mib(std::uint64_t n) {
        char b[32];
        std::snprintf(b, sizeof b, "%.1f MiB", double(n) / 1048576.0);
        return b;
    }
    void next() {
        if (done_) return;
        if (at_ >= jobs_.size()) {
            done_ = true;
            return;
        }
        const sftp_job& j = jobs_[at_];
        clock_.start();
        last_line_ = -1000;
        if (j.get) {
            // A folder as LOCAL takes the remote name, made safe; a remote folder comes down whole.
            std::string local = j.to;
            if (files_.is_directory(local))
                local = sftp::join_path(local, sftp::safe_local_name(sftp::remote_basename(j.from)));
            c_->stat(j.from, true, [this, local](const sftp::outcome& o, const sftp::attrs& a) {
                const sftp_job& jj = jobs_[at_];
                if (!o.ok) return finish(o, jj);
                if (a.is_dir())
                    c_->download_folder(
                        jj.from, local, opts(), progress(), [this](const sftp::outcome& r) { finish(r, jobs_[at_]); },
                        [this](const std::string& remote, const std::string& why) {
                            std::fprintf(stderr, "vtsession: get %s: skipped %s: %s\n",
                                         sftp::visible_name(jobs_[at_].from).c_str(),
                                         sftp::visible_name(remote).c_str(), why.c_str());
                        });
                else
                    c_->download(jj.from, local, opts(), progress(),
                                 [this](const sftp::outcome& r) { finish(r, jobs_[at_]); });
            });
        } else {
            c_->stat(j.to, true, [this](const sftp::outcome& o, const sftp::attrs& a) {
                const sftp_job& jj = jobs_[at_];
                std::string remote = jj.to;
                if (o.ok && a.is_dir()) remote = sftp::join_path(remote, sftp::remote_basename(jj.from));
                c_->upload(jj.from, remote, opts(), progress(),
                           [this](const sftp::outcome& r) { finish(r, jobs_[at_]); });
            });
        }
    }
    sftp::transfer_options opts() const {
        sftp::transfer_options o;
        o.resume = resume_;
        o.keep_times = keep_times_;
        return o;
    }
    sftp::client::progress_fn progress() {
        return [this](const sftp::progress& p) {
            last_ = p;
            if (clock_.elapsed() - last_line_ < 500) return;
            last_line_ = clock_.elapsed();
            line("", p);
        };
    }
    void line(const char* tail, const sftp::progress& p) {
        const sftp_job& j = jobs_[at_];
        std::fprintf(stderr, "vtsession: %s %s -> %s: %s%s%s, %.1f MiB/s%s\n", j.get ? "get" : "put",
                     sftp::visible_name(j.from).c_str(), sftp::visible_name(j.to).c_str(), mib(p.done).c_str(),
                     p.total ? " of " : "", p.total ? mib(*p.total).c_str() : "", p.rate / 1048576.0, tail);
    }
    void finish(const sftp::outcome& o, const sftp_job& j) {
        if (o.ok) {
            line(" (done, size checked)", last_);
        } else {
            ++failures_;
            std::fprintf(stderr, "vtsession: %s %s failed: %s\n", j.get ? "get" : "put",
                         sftp::visible_name(j.from).c_str(), o.message.c_str());
        }
        last_ = {};
        ++at_;
        next();
    }

    std::vector<sftp_job> jobs_;
    bool resume_, keep_times_;
    sftp::client* c_ = nullptr;
    sftp::posix_files files_;
    std::size_t at_ = 0;
    int failures_ = 0;
    bool done_ = false;
    QElapsedTimer clock_;
    qint64 last_line_ = 0;
    sftp::progress last_;
};

// What happens after --expect, in command-line order.
struct step {
    enum class kind { send, resize, pause } what = kind::send;
    std::string text;
    int rows = 0, columns = 0, ms = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string host, settings_file, config_name = "1", expect;
    int port = -1;
    double timeout_s = 10;
    bool json = false, history = false, accept_new_host_key = false, debug_log = false, hold = false;
    bool type_stdin = false;
    std::string capture;
    std::vector<step> steps;
    std::optional<std::pair<int, int>> size;
    std::map<std::string, std::string> sets;
    std::vector<fwd::forward_rule> forwards;
    std::vector<jump_hop> jump;
    std::vector<sftp_job> sftp_jobs;
    bool sftp_resume = false, sftp_keep_times = false;
    std::map<QString, QHostAddress> names;
    bool stub_resolver = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--host" && has_value) {
            host = argv[++i];
        } else if (a == "--port" && has_value) {
            char* end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (!end || *end || v <= 0 || v > 65535) return usage();
            port = static_cast<int>(v);
        } else if (a == "--settings" && has_value) {
            settings_file = argv[++i];
        } else if (a == "--config" && has_value) {
            config_name = argv[++i];
        } else if (a == "--set" && has_value) {
            const std::string kv = argv[++i];
            const auto eq = kv.find('=');
            if (eq == std::string::npos || eq == 0) return usage();
            sets[kv.substr(0, eq)] = kv.substr(eq + 1);
        } else if ((a == "-L" || a == "-R" || a == "-D") && has_value) {
            std::string why;
            const auto rule = fwd::parse_forward_argument(fwd::forward_kind(a[1]), argv[++i], &why);
            if (!rule) {
                std::fprintf(stderr, "vtsession: %s %s: %s\n", a.c_str(), argv[i], why.c_str());
                return usage();
            }
            forwards.push_back(*rule);
        } else if (a == "-J" && has_value) {
            std::string why;
            auto hops = parse_jump_chain(argv[++i], &why);
            if (!hops) {
                std::fprintf(stderr, "vtsession: -J %s: %s\n", argv[i], why.c_str());
                return usage();
            }
            jump = std::move(*hops);
        } else if ((a == "--get" || a == "--put") && i + 2 < argc) {
            sftp_jobs.push_back({a == "--get", argv[i + 1], argv[i + 2]});
            i += 2;
        } else if (a == "--resume") {
            sftp_resume = true;
        } else if (a == "--keep-times") {
            sftp_keep_times = true;
        } else if (a == "--send" && has_value) {
            steps.push_back({step::kind::send, argv[++i]});
        } else if ((a == "--size" || a == "--resize") && has_value) {
            const auto grid = parse_grid(argv[++i]);
            if (!grid) return usage();
            if (a == "--size")
                size = grid;
            else
                steps.push_back({step::kind::resize, {}, grid->first, grid->second});
        } else if ((a == "--rows" || a == "--cols") && has_value) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (!end || *end || !grid_extent(n)) return usage();
            if (!size) size = std::make_pair(24, 80);
            (a == "--rows" ? size->first : size->second) = static_cast<int>(n);
        } else if (a == "--pause" && has_value) {
            char* end = nullptr;
            const long ms = std::strtol(argv[++i], &end, 10);
            if (!end || *end || ms < 0 || ms > 600000) return usage();
            steps.push_back({step::kind::pause, {}, 0, 0, static_cast<int>(ms)});
        } else if (a == "--expect" && has_value) {
            expect = argv[++i];
        } else if (a == "--timeout" && has_value) {
            timeout_s = std::strtod(argv[++i], nullptr);
            if (!(timeout_s > 0)) return usage();
        } else if (a == "--json") {
            json = true;
        } else if (a == "--hold") {
            hold = true;
        } else if (a == "--type-stdin") {
            type_stdin = true;
        } else if (a == "--history") {
            history = true;
        } else if (a == "--accept-new-host-key") {
            accept_new_host_key = true;
        } else if (a == "--capture" && has_value) {
            capture = argv[++i];
        } else if (a == "--log") {
            debug_log = true;
        } else if (a == "--resolve" && has_value) {
            const QString kv = QString::fromUtf8(argv[++i]);
            const auto eq = kv.indexOf(QLatin1Char('='));
            const QHostAddress address(eq > 0 ? kv.mid(eq + 1) : QString());
            if (address.isNull()) return usage();
            names[kv.left(eq)] = address;
            stub_resolver = true;
        } else {
            return usage();
        }
    }
    if (host.empty() || port < 0) return usage();

    // Settings: the product's INI file (or nothing), --set on top, loaded by the same store as the client.
    tool_ui ui;
    std::unique_ptr<settings_backend> file_backend = open_settings_file(settings_file);
    if (!file_backend) {
        std::fprintf(stderr, "vtsession: cannot read settings file %s\n", settings_file.c_str());
        return 1;
    }
    if (!forwards.empty()) {
        // After any ssh_forwards given with --set.
        std::string& all = sets["ssh_forwards"];
        if (!all.empty()) all += ',';
        all += fwd::format_forwards(forwards);
    }
    overlay_backend backend(*file_backend, sets);
    StartupValues sv;
    sv.config_name = config_name;
    sv.save_switch = "1";   // never write anything back
    QTemporaryDir scratch;  // stands for the current directory: no config.txt import from wherever we run
    load_options opt;
    opt.current_dir = scratch.path().toStdString();
    {
        // Start-up notices of the store (missing map files and the like) are not this tool's business.
        struct quiet_ui : ui_services {
            void message_box(std::string_view) override {}
            bool ask_yes_no(std::string_view) override { return false; }
        } quiet;
        load_settings(settings(), backend, sv, quiet, nullptr, opt);
    }
    if (const std::string unknown = backend.first_unused(); !unknown.empty()) {
        std::fprintf(stderr, "vtsession: unknown setting %s\n", unknown.c_str());
        return 2;
    }
    Settings& s = settings();
    s.host_name = host;
    s.port = port;
    if (size && !sets.count("screen_size")) s.screen_size = 1;

    sftp_runner transfers(sftp_jobs, sftp_resume,
                          sftp_keep_times);  // the client's callbacks reach it until the connection is gone
    qt_socket_factory sockets;
    if (stub_resolver)
        sockets.set_resolver([names](const QString& name) {
            QHostInfo info;
            if (const auto it = names.find(name); it != names.end()) {
                info.setAddresses({it->second});
            } else {
                info.setError(QHostInfo::HostNotFound);
                info.setErrorString(QStringLiteral("Host not found"));
            }
            return info;
        });
    tool_view view;
    tool_term_host term_host;
    connection_runtime runtime;  // made first, gone last: the connection calls into it
    if (stub_resolver)
        runtime.tunnel_network().set_resolver([names](const std::string& name, std::uint16_t port) {
            const auto it = names.find(QString::fromStdString(name));
            if (it == names.end()) return lookup_answer{{}, "Host not found"};
            return literal_address(it->second.toString().toStdString(), port);
        });
    connection link(connection_parts{sockets, runtime.setup_timer(), ui, view, system_session_clock(), &term_host,
                                     nettopc_table(), pctonet_table()});
    runtime.attach(link);
    runtime.apply(connection_profile::from(s, {}, 0));  // as the window does: --set scrollback_lines=N
    link.set_jump(std::move(jump));
    session& net = link.net();
    vt& term = link.terminal();
    const screen_ring& ring = link.ring();
    if (s.term_size == 132) term.set_columns(132);
    tool_prompts prompts(ui, s);
    prompts.accept_new_host_key = accept_new_host_key;
    runtime.enable_ssh(prompts, [](std::string_view t) {
        std::fprintf(stderr, "vtsession: %.*s\n", static_cast<int>(t.size()), t.data());
    });
    link.set_columns(ring.columns());
    term_host.on_columns = [&](int columns) { link.set_columns(columns); };
    term_host.set_echo = [&](int on) { link.set_local_echo(on != 0); };
    // The grid told to the host, and the emulator's own when the screen follows the window.
    auto set_grid = [&](int rows, int columns) {
        if (s.screen_size == 1) term.resize(rows, columns);
        link.set_grid(rows, columns);
    };
    if (size) set_grid(size->first, size->second);

    QElapsedTimer clock;
    clock.start();
    view.since_data.start();
    const qint64 timeout_ms = static_cast<qint64>(timeout_s * 1000);
    QTimer heartbeat;
    heartbeat.start(20);

    if (!capture.empty()) net.set_capture_file(capture);
    if (debug_log) net.toggle_debug_log();
    connection_profile profile = connection_profile::from(s, host, port);
    const connection_runtime::ssh_config_outcome config = connection_runtime::take_ssh_config(profile);
    for (const std::string& note : config.notes) std::fprintf(stderr, "vtsession: %s\n", note.c_str());
    if (!config.refusal.empty()) {
        std::fprintf(stderr, "vtsession: connect failed: %s\n", config.refusal.c_str());
        return 1;
    }
    if (!link.connect(profile)) {
        std::fprintf(stderr, "vtsession: connect failed: %s\n", ui.last.c_str());
        return 1;
    }
    while (net.connecting() && !net.connected() && clock.elapsed() < timeout_ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!net.connected()) {
        std::fprintf(stderr, "vtsession: connect failed: %s\n", ui.last.empty() ? "timed out" : ui.last.c_str());
        return 1;
    }

    // The SFTP channel opens once the shell is asked for; its jobs then run while the rest goes on.
    if (!sftp_jobs.empty())
        link.ssh()->open_sftp(
            {[&](sftp::client& c) { transfers.ready(c); }, [&](std::string_view why) { transfers.ended(why); }});

    // Through a proxy, nothing of ours may reach it before the proxy log-in (and the SOCKS grant).
    while (net.connected() && (net.proxy_login_pending() || net.socks_reply_pending()) && clock.elapsed() < timeout_ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    auto screen_has = [&](const std::string& text) { return screen_dump_plain(ring).find(text) != std::string::npos; };
    if (!expect.empty()) {
        while (!screen_has(expect) && net.connected() && !view.exit_posted && clock.elapsed() < timeout_ms)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!screen_has(expect)) {
            std::fprintf(stderr, "vtsession: %s while waiting for \"%s\"\n",
                         net.connected() ? "timed out" : "connection closed", expect.c_str());
            if (net.connected()) net.disconnect(true);
            ui.print();
            return 1;
        }
    }
    for (const step& st : steps) {
        if (!net.connected()) break;
        if (st.what == step::kind::resize) {
            set_grid(st.rows, st.columns);
        } else if (st.what == step::kind::pause) {
            QElapsedTimer paused;
            paused.start();
            while (net.connected() && paused.elapsed() < st.ms && clock.elapsed() < timeout_ms)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        } else {
            const std::string bytes = decode_escapes(st.text);
            net.send_to_host(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        }
    }
    // Keystrokes from another program (its timing is the point: each read goes to the host at once).
    std::unique_ptr<QSocketNotifier> typing;
    if (type_stdin) {
        typing = std::make_unique<QSocketNotifier>(0, QSocketNotifier::Read);
        QObject::connect(typing.get(), &QSocketNotifier::activated, [&] {
            char buf[4096];
            const ssize_t n = ::read(0, buf, sizeof buf);
            if (n <= 0) {
                typing->setEnabled(false);
                return;
            }
            if (net.connected()) net.send_to_host(reinterpret_cast<const std::uint8_t*>(buf), std::size_t(n));
        });
    }
    while (!sftp_jobs.empty() && !transfers.done() && net.connected() && clock.elapsed() < timeout_ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!sftp_jobs.empty() && !transfers.done()) transfers.ended(net.connected() ? "timed out" : "connection closed");
    view.since_data.restart();
    // --hold keeps the session after the transfers too, so a test can see the shell outlive a failed channel.
    while ((sftp_jobs.empty() || hold) && net.connected() && !view.exit_posted && clock.elapsed() < timeout_ms &&
           (hold || view.since_data.elapsed() < quiet_ms))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (net.connected()) net.disconnect(true);

    std::string out;
    if (json) {
        dump_extras x;
        x.reverse_screen = term_host.reverse_screen;
        x.local_echo = link.profile().terminal.local_echo;
        x.history = history;
        x.replies = view.replies;
        out = screen_dump_json(term, x);
    } else {
        out = screen_dump_plain(ring);
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    ui.print();
    if (!sftp_jobs.empty() && !transfers.all_ok()) return 1;
    return std::fflush(stdout) == 0 ? 0 : 1;
}
