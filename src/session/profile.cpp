#include "session/profile.h"

#include <utility>

#include "config/settings.h"

namespace {
void take(bool& to, int from) { to = from != 0; }
void take(int& to, int from) { to = from; }
void take(std::string& to, const std::string& from) { to = from; }
}  // namespace

connection_profile connection_profile::from(const Settings& s, std::string host, int port) {
    connection_profile p;
    p.host = std::move(host);
    p.port = port;
    p.protocol = s.ssh == 0 ? TransportKind::Telnet : s.ssh_type_1_2 == 1 ? TransportKind::Ssh2 : TransportKind::Ssh1;
#define CONNECTION(name, type, def, ptype) take(p.name, s.name);
#define TELNET(name, type, def, ptype) take(p.telnet.name, s.name);
#define PROXY(name, type, def, ptype) take(p.proxy.name, s.name);
#define SSH(name, type, def, ptype) take(p.ssh.name, s.name);
#include "config/setting_keys.def"
    p.ssh.ssh_user = s.ssh_user;
    p.ssh.ssh_password = s.ssh_password;
    p.ssh.proxy_jump = s.ssh_proxy_jump;
    p.take_live_options(s);
    return p;
}

void connection_profile::take_live_options(const Settings& s) {
#define TERMINAL(name, type, def, ptype) take(terminal.name, s.name);
#define LIVE(name, type, def, ptype) take(name, s.name);
#include "config/setting_keys.def"
    terminal.screen_size = s.screen_size == 1;
}

std::string connection_profile::target_text() const {
    std::string t;
    if (protocol != TransportKind::Telnet && !ssh.ssh_user.empty()) t = ssh.ssh_user + "@";
    // An IPv6 literal is bracketed so the port stays readable.
    if (host.find(':') != std::string::npos)
        t += "[" + host + "]";
    else
        t += host;
    return t + ":" + std::to_string(port);
}
