// vtsession: runs one session through the session core, emulator and settings store, headless, and prints the
// screen like vtreplay. Connects (directly or through the configured proxy, with auto-login), waits for --expect,
// sends each --send text (with --resize and --pause steps in command-line order), waits until the host is quiet
// for 500 ms, closes or the timeout passes. This file reads the command line; session_run.cpp runs the session.
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "options.h"

namespace {

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

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    vtsession_options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--host" && has_value) {
            o.host = argv[++i];
        } else if (a == "--port" && has_value) {
            char* end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (!end || *end || v <= 0 || v > 65535) return usage();
            o.port = static_cast<int>(v);
        } else if (a == "--settings" && has_value) {
            o.settings_file = argv[++i];
        } else if (a == "--config" && has_value) {
            o.config_name = argv[++i];
        } else if (a == "--set" && has_value) {
            const std::string kv = argv[++i];
            const auto eq = kv.find('=');
            if (eq == std::string::npos || eq == 0) return usage();
            o.sets[kv.substr(0, eq)] = kv.substr(eq + 1);
        } else if ((a == "-L" || a == "-R" || a == "-D") && has_value) {
            std::string why;
            const auto rule = fwd::parse_forward_argument(fwd::forward_kind(a[1]), argv[++i], &why);
            if (!rule) {
                std::fprintf(stderr, "vtsession: %s %s: %s\n", a.c_str(), argv[i], why.c_str());
                return usage();
            }
            o.forwards.push_back(*rule);
        } else if (a == "-J" && has_value) {
            std::string why;
            auto hops = parse_jump_chain(argv[++i], &why);
            if (!hops) {
                std::fprintf(stderr, "vtsession: -J %s: %s\n", argv[i], why.c_str());
                return usage();
            }
            o.jump = std::move(*hops);
        } else if ((a == "--get" || a == "--put") && i + 2 < argc) {
            o.sftp_jobs.push_back({a == "--get", argv[i + 1], argv[i + 2]});
            i += 2;
        } else if (a == "--resume") {
            o.sftp_resume = true;
        } else if (a == "--keep-times") {
            o.sftp_keep_times = true;
        } else if (a == "--send" && has_value) {
            o.steps.push_back({step::kind::send, argv[++i]});
        } else if ((a == "--size" || a == "--resize") && has_value) {
            const auto grid = parse_grid(argv[++i]);
            if (!grid) return usage();
            if (a == "--size")
                o.size = grid;
            else
                o.steps.push_back({step::kind::resize, {}, grid->first, grid->second});
        } else if ((a == "--rows" || a == "--cols") && has_value) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (!end || *end || !grid_extent(n)) return usage();
            if (!o.size) o.size = std::make_pair(24, 80);
            (a == "--rows" ? o.size->first : o.size->second) = static_cast<int>(n);
        } else if (a == "--pause" && has_value) {
            char* end = nullptr;
            const long ms = std::strtol(argv[++i], &end, 10);
            if (!end || *end || ms < 0 || ms > 600000) return usage();
            o.steps.push_back({step::kind::pause, {}, 0, 0, static_cast<int>(ms)});
        } else if (a == "--expect" && has_value) {
            o.expect = argv[++i];
        } else if (a == "--timeout" && has_value) {
            o.timeout_s = std::strtod(argv[++i], nullptr);
            if (!(o.timeout_s > 0)) return usage();
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--hold") {
            o.hold = true;
        } else if (a == "--type-stdin") {
            o.type_stdin = true;
        } else if (a == "--history") {
            o.history = true;
        } else if (a == "--accept-new-host-key") {
            o.accept_new_host_key = true;
        } else if (a == "--capture" && has_value) {
            o.capture = argv[++i];
        } else if (a == "--log") {
            o.debug_log = true;
        } else if (a == "--resolve" && has_value) {
            const QString kv = QString::fromUtf8(argv[++i]);
            const auto eq = kv.indexOf(QLatin1Char('='));
            const QHostAddress address(eq > 0 ? kv.mid(eq + 1) : QString());
            if (address.isNull()) return usage();
            o.names[kv.left(eq)] = address;
            o.stub_resolver = true;
        } else {
            return usage();
        }
    }
    if (o.host.empty() || o.port < 0) return usage();
    return run_vtsession(std::move(o));
}
