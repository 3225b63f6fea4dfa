#pragma once
// The OpenSSH client configuration (~/.ssh/config, then /etc/ssh/ssh_config) read as `ssh` reads it, for the
// SSH launches and the Connect dialog's host list. Files come through `ssh_config_io`, so tests and the fuzzer
// need no disk.
//
// Syntax: a keyword (any case) and its arguments, separated by blanks or one '='; '#' starts a comment where a
// word starts; arguments may be quoted ("..." or '...') and take the backslash escapes \" \' \\ and "\ ".
// `Host` patterns (*, ?, !negation, several a line) and `Match all` start blocks; a `Match` with any other
// criterion never matches here. `Include` takes globs and ~ (relative to ~/.ssh in the user's file, /etc/ssh in
// the system's), at most 16 deep. The first value obtained wins; the list keywords accumulate. Keywords this
// reader does not return are ignored, whether OpenSSH knows them or not.
//
// A connection takes what the files say under what it names itself: session/host_config.h.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class strict_host_key : std::uint8_t { yes, no, ask, accept_new };

struct ssh_host_config {
    std::string alias;                     // the name resolved (the launch's host name)
    std::optional<std::string> host_name;  // HostName, %h expanded, lower-cased as ssh does
    std::optional<std::string> user;
    std::optional<int> port;
    // IdentityFile and CertificateFile: ~ and the tokens %% %d %h %k %L %l %n %p %r %u expanded; %h is the host
    // connected to. A token not in that list drops the entry with a diagnostic.
    std::vector<std::string> identity_files;
    std::vector<std::string> certificate_files;
    std::optional<bool> identities_only;
    std::optional<std::string> proxy_jump;  // the raw list; empty when the first value was `none`
    std::optional<bool> forward_agent;
    std::optional<std::string> forward_agent_socket;  // ForwardAgent given a socket path or $VARIABLE
    // Forwards as the file gives them, their arguments joined by one space ("8080 localhost:80").
    std::vector<std::string> local_forwards, remote_forwards, dynamic_forwards;
    std::optional<int> server_alive_interval;  // seconds
    std::optional<int> server_alive_count_max;
    std::optional<int> connect_timeout;  // seconds
    std::optional<std::string> host_key_alias;
    std::vector<std::string> user_known_hosts_files;  // expanded as IdentityFile
    std::optional<strict_host_key> strict_host_key_checking;
    std::vector<std::string> send_env;  // patterns, after any "-pattern" removals

    // "~/.ssh/config line 12: ..." for each line that stopped a file; what came before it still counts.
    std::vector<std::string> diagnostics;

    // The name to connect to: HostName, else the alias, lower-cased.
    std::string host() const;
};

// The reader's view of the file system. read_file: the file's text, nullopt when it is absent or unreadable; a
// reader may stop after max_file_bytes + 1 bytes (more is refused anyway). glob: the paths a pattern matches,
// sorted; none when nothing matches.
struct ssh_config_io {
    std::function<std::optional<std::string>(const std::string& path)> read_file;
    std::function<std::vector<std::string>(const std::string& pattern)> glob;
};

// Files, directories and names the reading depends on.
struct ssh_config_sources {
    std::string user_file;    // usually HOME/.ssh/config; empty for none
    std::string system_file;  // usually /etc/ssh/ssh_config; empty for none
    std::string home;         // for ~, %d and the user's relative Include paths
    std::string local_host;   // %l (and %L, up to its first dot)
    ssh_config_io io;
};

namespace ssh_config_limits {
inline constexpr std::size_t max_file_bytes = 1u << 20;
inline constexpr std::size_t max_line_bytes = 8u << 10;
inline constexpr int max_include_depth = 16;
// Files opened for one top-level file with its includes: includes that fan out cannot multiply without end.
inline constexpr int max_files = 256;
inline constexpr std::size_t max_key_files = 100;      // IdentityFile and CertificateFile each, as ssh
inline constexpr std::size_t max_list_entries = 1024;  // forwards and SendEnv patterns each
}  // namespace ssh_config_limits

// The real file system (POSIX glob), HOME (or the password entry's home), the local host name.
ssh_config_io real_ssh_config_io();
ssh_config_sources default_ssh_config_sources();

// What the files say for `alias`, as the user `local_user` (%u, and %r when no User is set).
ssh_host_config resolve(std::string_view alias, std::string_view local_user, const ssh_config_sources& src);

// The Host patterns that name one host (no *, ? or !), in the order the files give them, each once. Read only;
// malformed lines end their file as in resolve.
std::vector<std::string> concrete_hosts(const ssh_config_sources& src);

// OpenSSH's pattern match: * any run, ? one character, case-sensitive.
bool ssh_pattern_match(std::string_view text, std::string_view pattern);

// OpenSSH's time value: digits with an optional unit s, m, h, d or w (any case), summed ("1h30m"). nullopt when
// malformed or beyond 32 bits.
std::optional<int> ssh_time_value(std::string_view text);
