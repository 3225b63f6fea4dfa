#include "session/profile.h"

#include <utility>

#include "config/settings.h"

connection_profile connection_profile::from(const Settings& s, std::string host, int port) {
    connection_profile p;
    p.host = std::move(host);
    p.port = port;
    p.protocol = s.ssh == 0 ? TransportKind::Telnet : s.ssh_type_1_2 == 1 ? TransportKind::Ssh2 : TransportKind::Ssh1;
    p.connect_timeout = s.connect_timeout;
    p.exit = s.exit != 0;
    p.take_live_options(s);
    p.telnet = {s.telnet_keepalive != 0, s.auto_search1, s.auto_response1, s.auto_search2, s.auto_response2};
    p.proxy = {s.proxy_enable, s.proxy_socks_enable, s.proxy_host, s.proxy_port, s.proxy_syntax};
    ssh_profile& h = p.ssh;
    h.ssh_encryption = s.ssh_encryption;
    h.ssh_default = s.ssh_default;
    h.ssh_algorithms = s.ssh_algorithms;
    h.ssh_check_host_key = s.ssh_check_host_key != 0;
    h.ssh_keepalive = s.ssh_keepalive;
    h.ssh_keepalive_max = s.ssh_keepalive_max;
    h.ssh_agent_forward = s.ssh_agent_forward != 0;
    h.ssh_send_locale = s.ssh_send_locale != 0;
    h.ssh_identities_only = s.ssh_identities_only != 0;
    h.ssh_forwards = s.ssh_forwards;
    h.ssh_user = s.ssh_user;
    h.ssh_password = s.ssh_password;
    h.ssh_key_file = s.ssh_key_file;
    h.proxy_jump = s.ssh_proxy_jump;
    return p;
}

void connection_profile::take_live_options(const Settings& s) {
    auto_reconnect = s.auto_reconnect != 0;
    terminal_profile& t = terminal;
    t.termtype = s.termtype;
    t.myid = s.myid;
    t.utf8 = s.utf8 != 0;
    t.font_charset = s.font_charset;
    t.bell = s.bell != 0;
    t.visual_bell = s.visual_bell != 0;
    t.clipboard_write = s.clipboard_write != 0;
    t.screen_size = s.screen_size == 1;
    t.host_echo = s.host_echo != 0;
    t.local_echo = s.local_echo != 0;
    t.auto_wrap = s.auto_wrap != 0;
    t.new_line = s.new_line != 0;
    t.alt_meta = s.alt_meta != 0;
    t.scrollback_lines = s.scrollback_lines;
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
