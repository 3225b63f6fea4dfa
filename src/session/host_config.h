#pragma once
// ~/.ssh/config for one connection: what the files say for the profile's host (taken as an alias, as ssh takes
// it), merged under what the connection names itself. A launch's or a session's own user, key file and port win;
// the files fill what is left and give the name to connect to. Qt-free.
#include <string>
#include <vector>

#include "config/ssh_config.h"
#include "session/profile.h"

// Merges `c` (resolved for p.host) into `p`: HostName, User, Port (when p still has the SSH port), the first
// IdentityFile that exists, IdentitiesOnly, ForwardAgent yes, the forwards (added), ServerAlive*, ConnectTimeout,
// SendEnv and ProxyJump (unless the connection has its own). What cannot be used is told in `notes` (a forward ssh would take but this program cannot).
void apply_host_config(const ssh_host_config& c, connection_profile& p, std::vector<std::string>& notes);

// Reads the user's and the system's files for an SSH profile and applies them when its host is one the files name
// (a Host line without wildcards); Telnet profiles and plain addresses are left alone.
// The files' own diagnostics and the notes come back for the user ("~/.ssh/config line 3: ...").
std::vector<std::string> apply_ssh_config(connection_profile& p, const ssh_config_sources& sources);
