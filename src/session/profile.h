#pragma once
// The options one connection runs with, taken from its configuration when it starts and never read from the
// process-wide settings again: what is chosen for one session cannot reach another, and the window, the engines
// and the emulator all agree on the running connection's own values. Fields carry the names of their stored keys.
#include <string>
#include <vector>

struct Settings;

enum class TransportKind { Telnet, Ssh1, Ssh2 };

// Each record holds the stored keys config/setting_keys.def gives it, under their names and defaults.
struct terminal_profile {
#define TERMINAL(name, type, def, ptype) ptype name = def;
#include "config/setting_keys.def"
    bool screen_size = false;  // the grid follows the window and the host hears it
};

struct telnet_profile {
#define TELNET(name, type, def, ptype) ptype name = def;
#include "config/setting_keys.def"
};

struct proxy_profile {
#define PROXY(name, type, def, ptype) ptype name = def;
#include "config/setting_keys.def"
};

struct ssh_profile {
#define SSH(name, type, def, ptype) ptype name = def;
#include "config/setting_keys.def"
    std::string ssh_user;
    std::string ssh_password;
    // From ~/.ssh/config (host_config.h); a stored configuration has none of these.
    std::vector<std::string> send_env;  // SendEnv name patterns, beside the locale
    std::string proxy_jump;             // ProxyJump, or the stored ssh_proxy_jump: the hosts in between (jump.h)
    // CertificateFile: certificates offered with the key file or the agent key they certify.
    std::vector<std::string> certificate_files;
    std::string host_key_alias;                  // HostKeyAlias: the name of the host's key in known_hosts
    std::vector<std::string> known_hosts_files;  // UserKnownHostsFile; empty: ~/.ssh/known_hosts
    // StrictHostKeyChecking for a key no file holds: 0 ask, 1 refuse (yes), 2 remember it unasked (accept-new, no).
    int strict_host_key_checking = 0;
};

struct connection_profile {
    std::string host;
    int port = 23;
    TransportKind protocol = TransportKind::Telnet;
#define CONNECTION(name, type, def, ptype) ptype name = def;
#define LIVE(name, type, def, ptype) ptype name = def;
#include "config/setting_keys.def"
    terminal_profile terminal;
    telnet_profile telnet;
    proxy_profile proxy;
    ssh_profile ssh;

    // The profile of a connection to host:port with the configuration `s`.
    static connection_profile from(const Settings& s, std::string host, int port);
    // The options the user may change while connected (the terminal's and auto_reconnect), from `s`.
    void take_live_options(const Settings& s);
    // "user@host:port" for SSH, "host:port" for Telnet: how messages name the target.
    std::string target_text() const;
};
