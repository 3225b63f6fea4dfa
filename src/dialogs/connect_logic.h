#pragma once
// The parts of the Connect command that do not need a window: number scanning, the host history and the
// host:port split.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace connect_logic {

constexpr std::size_t history_size = 8;

// Decimal scan of a typed number: leading blanks, optional sign, digits. Empty when nothing converts or the value
// does not fit an int; callers then keep the previous number.
std::optional<int> decimal_scan(std::string_view text);

// Entries offered in the host combo, most recent first: non-empty and starting above the blank.
std::vector<std::string> history_choices(std::span<const std::string> history);

// Records a host as typed. A case-insensitive match leaves the history as it is; otherwise the entries move down
// one place, the oldest drops out and the host becomes entry 0. Returns true when the history changed.
bool remember_host(std::span<std::string> history, std::string_view host);

// "name:2323" -> host "name", port 2323. Without a colon nothing changes; a colon followed by no number cuts the
// host and keeps the port. IPv6: "[::1]:2323" -> "::1" and 2323; a bare address such as "::1" stays whole.
void split_host_port(std::string& host, int& port);

// Whether the SSH port warning is due: the user typed a port for an SSH connection and it is not 22. A port the
// protocol choice put there, or one that came with a session, is the user's earlier decision and is not warned
// about.
bool ssh_port_warning(bool ssh, std::string_view port_text, bool typed);

}  // namespace connect_logic
