#pragma once
// Saved sessions: the named configurations of the settings store ("Version 1.0/<name>"), as the Connect dialog
// lists them. A session is a whole configuration; the dialog shows and edits only its connection fields.
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "config/settings_backend.h"

namespace sessions {

// The three ways to connect, over the stored `ssh` and `ssh_type_1_2` values.
enum class protocol { telnet, ssh2, ssh1 };

protocol protocol_of(int ssh, int ssh_type_1_2);
// Telnet leaves ssh_type_1_2 as it was; a record already on the protocol is left alone (an out-of-range stored
// value stays as it is).
void set_protocol(Settings& s, protocol p);
// The port a protocol's service listens on: 23 for Telnet, 22 for both SSH versions.
int default_port(protocol p);

// What the Connect dialog shows of a session.
struct connection {
    std::string host;
    int port = 23;
    protocol proto = protocol::telnet;
    std::string user;  // a running configuration stores it only with ssh_default; a saved session always
    std::string key_file;
    std::string termtype = "vt220";
    bool operator==(const connection&) const = default;
};

connection connection_of(const Settings& s);
void apply(const connection& c, Settings& s);
// A session begun with New: no host, user or key file, xterm-256color, and the protocol's own port.
// SSH of either version starts as SSH-2.
connection new_connection(protocol current);

// The configuration every new one starts from; the program's own, not a session of the user's.
inline constexpr std::string_view default_name = "1";

// The configurations that exist, sorted, but for the default one.
std::vector<std::string> names(settings_backend& b);
// One configuration's connection fields, read as a start with `/C name` would read them.
connection load(settings_backend& b, const std::string& name, const std::string& current_dir = {});

enum class outcome { done, bad_name, exists, missing, in_use, has_nested };
// The reason shown to the user for an outcome other than done.
std::string explain(outcome o, std::string_view name);

// Names are trimmed of blanks. A slash or backslash would nest the section inside another.
inline constexpr std::size_t name_limit = 64;
std::string clean_name(std::string_view name);

// Writes the whole record s under a new name (the configuration in use stays as it is), with today's defaults
// where s holds classic ones (its terminal type stays). The user name is kept even without ssh_default; the
// password only with it. The default configuration's name counts as taken.
outcome save_as(settings_backend& b, const Settings& s, std::string_view name);
// Renaming the configuration in use makes the new name the one saved at exit. Neither renames nor deletes the
// default configuration.
outcome rename(settings_backend& b, Settings& running, std::string_view from, std::string_view to);
// The configuration in use cannot be deleted: the exit would write it again.
outcome remove(settings_backend& b, const Settings& running, std::string_view name);

}  // namespace sessions
