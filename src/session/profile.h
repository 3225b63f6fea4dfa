#pragma once
// The options one connection runs with, taken from its configuration when it starts and never read from the
// process-wide settings again: what is chosen for one session cannot reach another, and the window, the engines
// and the emulator all agree on the running connection's own values. Fields carry the names of their stored keys.
#include <string>
#include <vector>

struct Settings;

enum class TransportKind { Telnet, Ssh1, Ssh2 };

struct terminal_profile {
    std::string termtype = "vt220";
    std::string myid = "QUILL_TELNET";  // the answerback
    bool utf8 = false;                  // keyboard, paste, titles and printing follow it
    int font_charset = 0;               // the script whose code page 8-bit text uses when utf8 is off
    bool bell = true;
    bool visual_bell = false;
    bool clipboard_write = false;
    bool screen_size = false;  // the grid follows the window and the host hears it
    bool host_echo = false;    // the host's Telnet ECHO option switches local echo
    bool local_echo = false;
    bool auto_wrap = true;
    bool new_line = false;
    bool alt_meta = false;
    int scrollback_lines = 199;
};

struct telnet_profile {
    bool telnet_keepalive = false;
    std::string auto_search1, auto_response1, auto_search2, auto_response2;
};

struct proxy_profile {
    int proxy_enable = 0;        // 1: through the proxy
    int proxy_socks_enable = 1;  // 0 a text log-in, 4 or 1 SOCKS 4, 5 SOCKS 5
    std::string proxy_host = "myproxy";
    int proxy_port = 1080;
    std::string proxy_syntax;
};

struct ssh_profile {
    int ssh_encryption = 0;  // SSH-1: 0 DES, 1 3-DES, 2 Blowfish
    int ssh_default = 0;     // remember the user name and password
    int ssh_algorithms = 1;  // SSH-2: 0 the fixed legacy suite, 1 negotiated
    bool ssh_check_host_key = true;
    int ssh_keepalive = 0;  // seconds; 0 none
    int ssh_keepalive_max = 0;
    bool ssh_agent_forward = false;
    bool ssh_send_locale = false;
    bool ssh_identities_only = false;
    std::string ssh_forwards;
    std::string ssh_user;
    std::string ssh_password;
    std::string ssh_key_file;
    // From ~/.ssh/config (host_config.h); a stored configuration has none of these.
    std::vector<std::string> send_env;  // SendEnv name patterns, beside the locale
    std::string proxy_jump;             // ProxyJump: the hosts in between (session/jump.h's syntax)
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
    int connect_timeout = 30;  // seconds until the session is set up; 0 no limit
    bool auto_reconnect = false;
    bool exit = false;  // the program ends with the session
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
