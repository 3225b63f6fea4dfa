#pragma once
// Start-up values and the command-line parser `mycli`.
//   /C name   configuration        /H host   host or telnet://host[:port][/]   /P port
//   /N name   window name          /R x      direct-connect switch             /S x  save switch (and silent)
//   /M        no menu              /T        no toolbar
// Switches may also begin with "-"; the value may be joined (/Hmyhost) or the next parameter (/H myhost).
// Launching: a plain parameter ssh://[user@]host[:port], telnet://host[:port] or [user@]host, with -ssh or -telnet,
// -l user, -P port, -i keyfile and -J jump hosts, connects for this run only: what it names never reaches the stored
// settings.
#include <string>
#include <string_view>
#include <vector>

// What a launch names (this run only).
struct launch_target {
    bool given = false;
    enum class protocol { as_stored, telnet, ssh } proto = protocol::as_stored;
    std::string host, user, key_file;
    std::string jump;  // -J's text as given ([user@]host[:port],...), read by the session's parse_jump_chain
    int port = -1;     // -1: the protocol's own (22 or 23), or the stored port when the protocol is as stored
};

struct StartupValues {
    std::string config_name = "1";
    std::string host;                  // command-line host, empty when none
    std::string port;                  // command-line port text, empty when none
    std::string save_switch = "0";     // settings are saved only when this begins with "0"
    std::string direct_connect = "0";  // "1...": Connect goes straight to host_name:port
    std::string window_name;           // replaces the document title when 1 to 19 characters long
    bool no_menu = false;
    bool no_toolbar = false;
    bool silent = false;     // the installer runs without pages
    bool uninstall = false;  // set by the program-name dispatch
    launch_target launch;
    std::string launch_error;  // a launch that could not be used: told once the window is up

    bool saving_enabled() const { return !save_switch.empty() && save_switch[0] == '0'; }
    bool direct_connect_enabled() const { return !direct_connect.empty() && direct_connect[0] == '1'; }
};

// The process-wide start-up values.
StartupValues& startup_values();

class mycli {
public:
    explicit mycli(StartupValues& out) : out_(out) {}

    // One command-line parameter, in order. is_switch: it began with "/" or "-" (text passed without it).
    void parse_param(std::string_view text, bool is_switch, bool last);

    // Parses argv[1..argc-1]. False when a parameter could not be used (a plain parameter no option was waiting
    // for: there are no documents to open); error() then holds a message for the user.
    bool parse(int argc, const char* const* argv);
    bool parse(const std::vector<std::string>& args);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // True when the parameters ask for the usage text: "--help", "/?" or "-?" anywhere, or "-h" as the last
    // parameter ("-h name" gives the host, as /H does).
    static bool wants_usage(const std::vector<std::string>& args);
    static bool wants_usage(int argc, const char* const* argv);

private:
    void set_host(std::string_view text);
    // A plain parameter that names a launch target; false when it is not one (no scheme and no '@' does count:
    // a bare host name is one).
    void take_target(std::string_view text);

    StartupValues& out_;
    // Pending marks, one per option waiting for its value.
    bool pend_c_ = false, pend_h_ = false, pend_m_ = false, pend_n_ = false;
    bool pend_p_ = false, pend_r_ = false, pend_s_ = false, pend_t_ = false;
    bool pend_l_ = false, pend_i_ = false, pend_j_ = false;
    std::vector<std::string> unclaimed_;  // a plain parameter no option waited for
    std::string error_;
};

// What `qtelnet --help` prints: the switches, one a line.
std::string_view usage_text();

// The title the window shows when the session asks for `requested` (the host name, or empty).
std::string document_title(std::string_view requested, const StartupValues& sv);

// Parses ssh://[user@]host[:port][/] and telnet://[user@]host[:port][/] (IPv6 addresses in brackets; ";..."
// connection parameters after the user are ignored). False, with `why` set, when the text is malformed.
bool parse_launch_url(std::string_view text, launch_target& out, std::string& why);

// The port a command-line port text gives: the decimal number at its start. -1 when there is none or it is not a
// valid TCP port (0 to 65535).
int command_line_port(std::string_view text);
