#include "session/host_config.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "forward/forward_rule.h"

namespace {

// "8080 localhost:80" (ssh_config's two words) as a forward entry "L8080:localhost:80".
bool add_forward(fwd::forward_kind kind, const std::string& written, std::string& list,
                 std::vector<std::string>& notes) {
    std::string arg = written;
    if (const std::size_t space = arg.find(' '); space != std::string::npos) arg[space] = ':';
    std::string why;
    if (!fwd::parse_forward_argument(kind, arg, &why)) {
        notes.push_back("~/.ssh/config: the forward \"" + written + "\" is not used: " + why);
        return false;
    }
    const std::string entry = static_cast<char>(kind) + arg;
    // A forward the session already has stays once.
    std::size_t from = 0;
    while (from <= list.size()) {
        const std::size_t comma = list.find(',', from);
        const std::size_t end = comma == std::string::npos ? list.size() : comma;
        if (list.compare(from, end - from, entry) == 0) return true;
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    if (!list.empty()) list += ',';
    list += entry;
    return true;
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string local_user() {
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return pw->pw_name;
    const char* u = std::getenv("USER");
    return u ? u : "";
}

}  // namespace

void apply_host_config(const ssh_host_config& c, connection_profile& p, std::vector<std::string>& notes) {
    p.host = c.host();
    if (c.port && p.port == 22) p.port = *c.port;
    if (c.user && p.ssh.ssh_user.empty()) p.ssh.ssh_user = *c.user;
    if (p.ssh.ssh_key_file.empty()) {
        std::error_code ec;
        for (const std::string& f : c.identity_files)
            if (std::filesystem::exists(f, ec)) {
                p.ssh.ssh_key_file = f;
                break;
            }
    }
    if (c.identities_only) p.ssh.ssh_identities_only = *c.identities_only;
    if (c.forward_agent && *c.forward_agent) p.ssh.ssh_agent_forward = true;
    for (const std::string& f : c.local_forwards) add_forward(fwd::forward_kind::local, f, p.ssh.ssh_forwards, notes);
    for (const std::string& f : c.remote_forwards) add_forward(fwd::forward_kind::remote, f, p.ssh.ssh_forwards, notes);
    for (const std::string& f : c.dynamic_forwards)
        add_forward(fwd::forward_kind::dynamic, f, p.ssh.ssh_forwards, notes);
    if (c.server_alive_interval) {
        p.ssh.ssh_keepalive = *c.server_alive_interval;
        // ssh's count when only the interval is given.
        if (!c.server_alive_count_max) p.ssh.ssh_keepalive_max = 3;
    }
    if (c.server_alive_count_max) p.ssh.ssh_keepalive_max = *c.server_alive_count_max;
    if (c.connect_timeout) p.connect_timeout = *c.connect_timeout;
    for (const std::string& e : c.send_env) p.ssh.send_env.push_back(e);
    if (c.proxy_jump && p.ssh.proxy_jump.empty()) p.ssh.proxy_jump = *c.proxy_jump;
    p.ssh.certificate_files = c.certificate_files;
    if (c.host_key_alias) p.ssh.host_key_alias = *c.host_key_alias;
    p.ssh.known_hosts_files = c.user_known_hosts_files;
    if (c.strict_host_key_checking)
        // "no" lets ssh on past a changed key too; a changed key is refused here whatever the files say.
        p.ssh.strict_host_key_checking = *c.strict_host_key_checking == strict_host_key::yes   ? 1
                                         : *c.strict_host_key_checking == strict_host_key::ask ? 0
                                                                                               : 2;
}

std::vector<std::string> apply_ssh_config(connection_profile& p, const ssh_config_sources& sources) {
    if (p.protocol == TransportKind::Telnet || p.host.empty()) return {};
    const ssh_host_config c = resolve(p.host, local_user(), sources);
    std::vector<std::string> notes = c.diagnostics;
    // Only a host the files name: the defaults of `Host *` (Debian's SendEnv LANG LC_* among them) leave a plain
    // address to the configuration's own choices.
    bool named = false;
    for (const std::string& h : concrete_hosts(sources)) named = named || same_name(h, p.host);
    if (named) apply_host_config(c, p, notes);
    return notes;
}
