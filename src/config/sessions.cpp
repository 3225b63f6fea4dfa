#include "config/sessions.h"

#include <algorithm>

#include "config/settings_store.h"

namespace sessions {

namespace {
constexpr std::string_view prefix = "Version 1.0/";

bool blank(char c) { return c == ' ' || c == '\t'; }

// Every stored configuration, the internal "1" too: no session may be saved over it.
std::vector<std::string> stored_names(settings_backend& b) {
    std::vector<std::string> out;
    for (const std::string& section : b.sections())
        if (section.size() > prefix.size() && section.compare(0, prefix.size(), prefix) == 0)
            out.push_back(section.substr(prefix.size()));
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

bool exists(settings_backend& b, std::string_view name) {
    const std::vector<std::string> all = stored_names(b);
    return std::find(all.begin(), all.end(), name) != all.end();
}

// Another configuration stored below this one ("a/b" under "a") would go with it.
bool has_nested(settings_backend& b, std::string_view name) {
    const std::string below = std::string(name) + "/";
    for (const std::string& n : stored_names(b))
        if (n.compare(0, below.size(), below) == 0) return true;
    return false;
}
}  // namespace

protocol protocol_of(int ssh, int ssh_type_1_2) {
    if (ssh == 0) return protocol::telnet;
    return ssh_type_1_2 == 1 ? protocol::ssh2 : protocol::ssh1;
}

void set_protocol(Settings& s, protocol p) {
    if (protocol_of(s.ssh, s.ssh_type_1_2) == p) return;
    s.ssh = p == protocol::telnet ? 0 : 1;
    if (p != protocol::telnet) s.ssh_type_1_2 = p == protocol::ssh2 ? 1 : 0;
}

int default_port(protocol p) { return p == protocol::telnet ? 23 : 22; }

connection connection_of(const Settings& s) {
    return {s.host_name, s.port, protocol_of(s.ssh, s.ssh_type_1_2), s.ssh_user, s.ssh_key_file, s.termtype};
}

void apply(const connection& c, Settings& s) {
    s.host_name = c.host;
    s.port = c.port;
    set_protocol(s, c.proto);
    s.ssh_user = c.user;
    s.ssh_key_file = c.key_file;
    s.termtype = c.termtype;
}

connection new_connection(protocol current) {
    connection c;
    c.proto = current == protocol::telnet ? protocol::telnet : protocol::ssh2;
    c.port = default_port(c.proto);
    c.termtype = "xterm-256color";
    return c;
}

std::vector<std::string> names(settings_backend& b) {
    std::vector<std::string> out = stored_names(b);
    std::erase(out, default_name);
    return out;
}

connection load(settings_backend& b, const std::string& name, const std::string& current_dir) {
    Settings s;
    // Picking a session in the list must not wake the desktop's keyring.
    read_configuration(s, b, name, current_dir, false);
    return connection_of(s);
}

std::string clean_name(std::string_view name) {
    while (!name.empty() && blank(name.front())) name.remove_prefix(1);
    while (!name.empty() && blank(name.back())) name.remove_suffix(1);
    return std::string(name);
}

namespace {
bool valid(std::string_view name) {
    return !name.empty() && name.size() <= name_limit && name.find_first_of("/\\") == std::string_view::npos &&
           std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < ' '; });
}
}  // namespace

std::string explain(outcome o, std::string_view name) {
    const std::string n(name);
    switch (o) {
    case outcome::done: return {};
    case outcome::bad_name:
        return "A session name has 1 to " + std::to_string(name_limit) + " characters and no slash or backslash.";
    case outcome::exists: return "A session named " + n + " already exists.";
    case outcome::missing: return "There is no session named " + n + ".";
    case outcome::in_use: return "The session " + n + " is in use; its settings are saved again when you exit.";
    case outcome::has_nested: return "Other sessions are stored below " + n + ": it is left as it is.";
    }
    return {};
}

outcome save_as(settings_backend& b, const Settings& s, std::string_view name) {
    const std::string n = clean_name(name);
    if (!valid(n)) return outcome::bad_name;
    if (exists(b, n)) return outcome::exists;
    // A new session is beyond the classic program: today's defaults, but the terminal type the dialog shows.
    Settings record = s;
    apply_todays_defaults(record, true);
    write_configuration(record, b, n);
    // The store keeps the user name only beside a remembered password; a session keeps it without the password.
    if (!record.ssh_default) b.write_text(config_section(n), "ssh_user", record.ssh_user);
    return outcome::done;
}

outcome rename(settings_backend& b, Settings& running, std::string_view from, std::string_view to) {
    const std::string n = clean_name(to);
    if (!valid(n)) return outcome::bad_name;
    if (from == default_name || !exists(b, from)) return outcome::missing;
    if (exists(b, n)) return outcome::exists;
    if (has_nested(b, from)) return outcome::has_nested;
    if (!b.copy_section(config_section(from), config_section(n))) return outcome::missing;
    b.remove_section(config_section(from));
    b.flush();
    if (running.config_name == from) running.config_name = n;
    return outcome::done;
}

outcome remove(settings_backend& b, const Settings& running, std::string_view name) {
    if (name == default_name || !exists(b, name)) return outcome::missing;
    if (running.config_name == name) return outcome::in_use;
    if (has_nested(b, name)) return outcome::has_nested;
    b.remove_section(config_section(name));
    b.flush();
    return outcome::done;
}

}  // namespace sessions
