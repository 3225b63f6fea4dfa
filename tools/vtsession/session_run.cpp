// vtsession's run: the settings store with --set on top, one connection on the shared runtime, the steps after
// --expect, the SFTP jobs on the transfer queue, and the screen printed at the end.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <unistd.h>

#include "adapters/connection_runtime.h"
#include "adapters/event_pump.h"
#include "adapters/qsettings_backend.h"
#include "adapters/qt_socket.h"
#include "config/escape.h"
#include "config/maps.h"
#include "config/memory_backend.h"
#include "config/mycli.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "config/ui_services.h"
#include "session/connection.h"
#include "session/session.h"
#include "sftp/client.h"
#include "sftp/transfer_queue.h"
#include "ssh/known_hosts.h"
#include "ssh/services.h"
#include "ssh/ssh_client.h"
#include "terminal/screen_dump.h"
#include "terminal/vt.h"
#include "options.h"

namespace {

constexpr int quiet_ms = 500;

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

// Runs the --get and --put jobs one after another on the connection's SFTP client, a progress line on stderr
// every half second. Each job's failure is told and counted, and the next one goes on.
class sftp_runner {
public:
    sftp_runner(const std::vector<sftp_job>& wanted, bool resume, bool keep_times) : queue_(1) {
        sftp::transfer_queue::hooks h;
        h.check = [this](sftp::transfer_job& j) { resolve(static_cast<job&>(j)); };
        h.options = [keep_times](const sftp::transfer_job&) {
            sftp::transfer_options o;
            o.keep_times = keep_times;
            return o;
        };
        h.progressed = [this](sftp::transfer_job& j, const sftp::progress& p) { progressed(static_cast<job&>(j), p); };
        h.skipped = [](sftp::transfer_job& j, const std::string& remote, const std::string& why) {
            std::fprintf(stderr, "vtsession: get %s: skipped %s: %s\n",
                         sftp::visible_name(static_cast<job&>(j).asked.from).c_str(),
                         sftp::visible_name(remote).c_str(), why.c_str());
        };
        h.ended = [this](sftp::transfer_job& j, const sftp::outcome& o) { finish(static_cast<job&>(j), o); };
        queue_.set_hooks(std::move(h));
        for (const sftp_job& s : wanted) {
            job& j = jobs_.emplace_back();
            j.asked = s;
            j.upload = !s.get;
            j.remote = s.get ? s.from : s.to;
            j.local = s.get ? s.to : s.from;
            j.resume_next = resume;
            queue_.add(j);
        }
    }
    bool done() const { return ended_ || queue_.idle(); }
    bool all_ok() const { return done() && failures_ == 0; }
    void ready(sftp::client& c) { queue_.set_client(&c); }
    void ended(std::string_view why) {
        if (done()) return;
        std::fprintf(stderr, "vtsession: SFTP: %.*s\n", static_cast<int>(why.size()), why.data());
        ++failures_;
        ended_ = true;
        queue_.set_client(nullptr);  // the client goes with its channel
    }

private:
    struct job : sftp::transfer_job {
        sftp_job asked;  // as the command line gave it
        QElapsedTimer clock;
        qint64 last_line = -1000;
        sftp::progress last;
    };
    static std::string mib(std::uint64_t n) {
        char b[32];
        std::snprintf(b, sizeof b, "%.1f MiB", double(n) / 1048576.0);
        return b;
    }
    // The target first: a folder as LOCAL takes the remote name, made safe, and a remote folder comes down whole;
    // a remote folder as REMOTE takes the local name.
    void resolve(job& j) {
        if (ended_) return;  // the channel is gone: nothing more starts
        j.clock.start();
        sftp::client& c = *queue_.current_client();
        if (j.asked.get) {
            if (files_.is_directory(j.local))
                j.local = sftp::join_path(j.local, sftp::safe_local_name(sftp::remote_basename(j.remote)));
            c.stat(j.remote, true, [this, &j](const sftp::outcome& o, const sftp::attrs& a) {
                if (!o.ok) {
                    failed(j, o);
                    return queue_.end_unstarted(j, sftp::transfer_state::failed, o.message);
                }
                j.folder = a.is_dir();
                queue_.start(j);
            });
        } else {
            c.stat(j.remote, true, [this, &j](const sftp::outcome& o, const sftp::attrs& a) {
                if (o.ok && a.is_dir()) j.remote = sftp::join_path(j.remote, sftp::remote_basename(j.local));
                queue_.start(j);
            });
        }
    }
    void progressed(job& j, const sftp::progress& p) {
        j.last = p;
        if (j.clock.elapsed() - j.last_line < 500) return;
        j.last_line = j.clock.elapsed();
        line(j, "", p);
    }
    static void line(const job& j, const char* tail, const sftp::progress& p) {
        std::fprintf(stderr, "vtsession: %s %s -> %s: %s%s%s, %.1f MiB/s%s\n", j.asked.get ? "get" : "put",
                     sftp::visible_name(j.asked.from).c_str(), sftp::visible_name(j.asked.to).c_str(),
                     mib(p.done).c_str(), p.total ? " of " : "", p.total ? mib(*p.total).c_str() : "",
                     p.rate / 1048576.0, tail);
    }
    void failed(const job& j, const sftp::outcome& o) {
        ++failures_;
        std::fprintf(stderr, "vtsession: %s %s failed: %s\n", j.asked.get ? "get" : "put",
                     sftp::visible_name(j.asked.from).c_str(), o.message.c_str());
    }
    void finish(job& j, const sftp::outcome& o) {
        if (o.ok)
            line(j, " (done, size checked)", j.last);
        else
            failed(j, o);
    }

    std::deque<job> jobs_;  // the queue points into it
    sftp::transfer_queue queue_;
    sftp::posix_files files_;
    int failures_ = 0;
    bool ended_ = false;
};

// Names from --resolve alone, for the session's sockets and the tunnels' connections.
void use_names_given(const std::map<QString, QHostAddress>& names, qt_socket_factory& sockets,
                     qt_tunnel_network& tunnels) {
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
    tunnels.set_resolver([names](const std::string& name, std::uint16_t port) {
        const auto it = names.find(QString::fromStdString(name));
        if (it == names.end()) return lookup_answer{{}, "Host not found"};
        return literal_address(it->second.toString().toStdString(), port);
    });
}

// Settings: the product's INI file (or nothing), --set on top, loaded by the same store as the client. Zero, or
// the exit status when they cannot be had.
int load_tool_settings(vtsession_options& o) {
    std::unique_ptr<settings_backend> file_backend = open_settings_file(o.settings_file);
    if (!file_backend) {
        std::fprintf(stderr, "vtsession: cannot read settings file %s\n", o.settings_file.c_str());
        return 1;
    }
    if (!o.forwards.empty()) {
        // After any ssh_forwards given with --set.
        std::string& all = o.sets["ssh_forwards"];
        if (!all.empty()) all += ',';
        all += fwd::format_forwards(o.forwards);
    }
    overlay_backend backend(*file_backend, o.sets);
    StartupValues sv;
    sv.config_name = o.config_name;
    sv.save_switch = "1";   // never write anything back
    QTemporaryDir scratch;  // stands for the current directory: no config.txt import from wherever we run
    load_options opt;
    opt.current_dir = scratch.path().toStdString();
    // Start-up notices of the store (missing map files and the like) are not this tool's business.
    struct quiet_ui : ui_services {
        void message_box(std::string_view) override {}
        bool ask_yes_no(std::string_view) override { return false; }
    } quiet;
    load_settings(settings(), backend, sv, quiet, nullptr, opt);
    if (const std::string unknown = backend.first_unused(); !unknown.empty()) {
        std::fprintf(stderr, "vtsession: unknown setting %s\n", unknown.c_str());
        return 2;
    }
    Settings& s = settings();
    s.host_name = o.host;
    s.port = o.port;
    if (o.size && !o.sets.count("screen_size")) s.screen_size = 1;
    return 0;
}

// One session from connect to the printed screen. Members in the order they must outlive each other: the
// transfers, the runtime and the prompts before the connection, which calls into them.
class session_run {
public:
    explicit session_run(const vtsession_options& o)
        : o_(o),
          s_(settings()),
          transfers_(o.sftp_jobs, o.sftp_resume, o.sftp_keep_times),
          prompts_(ui_, s_),
          link_(connection_parts{sockets_, runtime_.setup_timer(), ui_, view_, system_session_clock(), &term_host_,
                                 nettopc_table(), pctonet_table()}),
          net_(link_.net()) {
        if (o.stub_resolver) use_names_given(o.names, sockets_, runtime_.tunnel_network());
        runtime_.attach(link_);
        runtime_.apply(connection_profile::from(s_, {}, 0));  // as the window does: --set scrollback_lines=N
        link_.set_jump(o.jump);
        if (s_.term_size == 132) link_.terminal().set_columns(132);
        prompts_.accept_new_host_key = o.accept_new_host_key;
        runtime_.enable_ssh(prompts_, [](std::string_view t) {
            std::fprintf(stderr, "vtsession: %.*s\n", static_cast<int>(t.size()), t.data());
        });
        link_.set_columns(link_.ring().columns());
        term_host_.on_columns = [this](int columns) { link_.set_columns(columns); };
        term_host_.set_echo = [this](int on) { link_.set_local_echo(on != 0); };
        if (o.size) set_grid(o.size->first, o.size->second);
    }

    int run() {
        clock_.start();
        view_.since_data.start();
        heartbeat_.start(20);
        if (const int failed = connect()) return failed;
        // The SFTP channel opens once the shell is asked for; its jobs then run while the rest goes on.
        if (!o_.sftp_jobs.empty())
            link_.ssh()->open_sftp({[this](sftp::client& c) { transfers_.ready(c); },
                                    [this](std::string_view w) { transfers_.ended(w); }});
        // Through a proxy, nothing of ours may reach it before the proxy log-in (and the SOCKS grant).
        wait_while([this] { return net_.connected() && (net_.proxy_login_pending() || net_.socks_reply_pending()); });
        if (!expected()) return 1;
        run_steps();
        type_stdin();
        const bool transferring = !o_.sftp_jobs.empty();
        wait_while([&] { return transferring && !transfers_.done() && net_.connected(); });
        if (transferring && !transfers_.done()) transfers_.ended(net_.connected() ? "timed out" : "connection closed");
        view_.since_data.restart();
        // --hold keeps the session after the transfers too, so a test can see the shell outlive a failed channel.
        wait_while([&] {
            return (!transferring || o_.hold) && net_.connected() && !view_.exit_posted &&
                   (o_.hold || view_.since_data.elapsed() < quiet_ms);
        });
        if (net_.connected()) net_.disconnect(true);
        print_screen();
        if (transferring && !transfers_.all_ok()) return 1;
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

private:
    // The grid told to the host, and the emulator's own when the screen follows the window.
    void set_grid(int rows, int columns) {
        if (s_.screen_size == 1) link_.terminal().resize(rows, columns);
        link_.set_grid(rows, columns);
    }
    // Runs the event loop while `go_on` holds and the time is not up.
    template <class F>
    void wait_while(F go_on, int max_ms = -1) {
        const qint64 timeout_ms = static_cast<qint64>(o_.timeout_s * 1000);
        while (go_on() && clock_.elapsed() < timeout_ms) {
            if (max_ms < 0)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            else
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, max_ms);
        }
    }
    int connect() {
        if (!o_.capture.empty()) net_.set_capture_file(o_.capture);
        if (o_.debug_log) net_.toggle_debug_log();
        connection_profile profile = connection_profile::from(s_, o_.host, o_.port);
        const connection_runtime::ssh_config_outcome config = connection_runtime::take_ssh_config(profile);
        for (const std::string& note : config.notes) std::fprintf(stderr, "vtsession: %s\n", note.c_str());
        if (!config.refusal.empty()) {
            std::fprintf(stderr, "vtsession: connect failed: %s\n", config.refusal.c_str());
            return 1;
        }
        if (!link_.connect(profile)) {
            std::fprintf(stderr, "vtsession: connect failed: %s\n", ui_.last.c_str());
            return 1;
        }
        wait_while([this] { return net_.connecting() && !net_.connected(); });
        if (net_.connected()) return 0;
        std::fprintf(stderr, "vtsession: connect failed: %s\n", ui_.last.empty() ? "timed out" : ui_.last.c_str());
        return 1;
    }
    bool screen_has(const std::string& text) const {
        return screen_dump_plain(link_.ring()).find(text) != std::string::npos;
    }
    // --expect: false (told) when the text never came.
    bool expected() {
        if (o_.expect.empty()) return true;
        wait_while([this] { return !screen_has(o_.expect) && net_.connected() && !view_.exit_posted; });
        if (screen_has(o_.expect)) return true;
        std::fprintf(stderr, "vtsession: %s while waiting for \"%s\"\n",
                     net_.connected() ? "timed out" : "connection closed", o_.expect.c_str());
        if (net_.connected()) net_.disconnect(true);
        ui_.print();
        return false;
    }
    void run_steps() {
        for (const step& st : o_.steps) {
            if (!net_.connected()) break;
            if (st.what == step::kind::resize) {
                set_grid(st.rows, st.columns);
            } else if (st.what == step::kind::pause) {
                QElapsedTimer paused;
                paused.start();
                wait_while([&] { return net_.connected() && paused.elapsed() < st.ms; }, 20);
            } else {
                const std::string bytes = decode_escapes(st.text);
                net_.send_to_host(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            }
        }
    }
    // Keystrokes from another program (its timing is the point: each read goes to the host at once).
    void type_stdin() {
        if (!o_.type_stdin) return;
        typing_ = std::make_unique<QSocketNotifier>(0, QSocketNotifier::Read);
        QObject::connect(typing_.get(), &QSocketNotifier::activated, [this] {
            char buf[4096];
            const ssize_t n = ::read(0, buf, sizeof buf);
            if (n <= 0) {
                typing_->setEnabled(false);
                return;
            }
            if (net_.connected()) net_.send_to_host(reinterpret_cast<const std::uint8_t*>(buf), std::size_t(n));
        });
    }
    void print_screen() {
        std::string out;
        if (o_.json) {
            dump_extras x;
            x.reverse_screen = term_host_.reverse_screen;
            x.local_echo = link_.profile().terminal.local_echo;
            x.history = o_.history;
            x.replies = view_.replies;
            out = screen_dump_json(link_.terminal(), x);
        } else {
            out = screen_dump_plain(link_.ring());
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        ui_.print();
    }

    const vtsession_options& o_;
    Settings& s_;
    tool_ui ui_;
    sftp_runner transfers_;  // the client's callbacks reach it until the connection is gone
    qt_socket_factory sockets_;
    tool_view view_;
    tool_term_host term_host_;
    connection_runtime runtime_;
    tool_prompts prompts_;
    connection link_;
    session& net_;
    QElapsedTimer clock_;
    QTimer heartbeat_;
    std::unique_ptr<QSocketNotifier> typing_;
};

}  // namespace

int run_vtsession(vtsession_options o) {
    if (const int failed = load_tool_settings(o)) return failed;
    session_run run(o);
    return run.run();
}
