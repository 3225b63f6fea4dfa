#include "dialogs/connect_logic.h"

#include <cctype>
#include <limits>

namespace connect_logic {

std::optional<int> decimal_scan(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    if (negative) value = -value;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(value);
}

std::vector<std::string> history_choices(std::span<const std::string> history) {
    std::vector<std::string> out;
    for (const auto& h : history)
        if (!h.empty() && static_cast<unsigned char>(h[0]) > ' ') out.push_back(h);
    return out;
}

namespace {
bool equal_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
}  // namespace

bool remember_host(std::span<std::string> history, std::string_view host) {
    for (const auto& h : history)
        if (equal_nocase(h, host)) return false;
    if (history.empty()) return false;
    for (std::size_t i = history.size() - 1; i > 0; --i) history[i] = std::move(history[i - 1]);
    history[0] = std::string(host);
    return true;
}

void split_host_port(std::string& host, int& port) {
    if (!host.empty() && host[0] == '[') {
        // "[address]" or "[address]:port": the colons inside the brackets belong to the address.
        const auto close = host.find(']');
        if (close != std::string::npos) {
            if (close + 1 < host.size() && host[close + 1] == ':')
                if (auto p = decimal_scan(std::string_view(host).substr(close + 2))) port = *p;
            host = host.substr(1, close - 1);
            return;
        }
    }
    const auto colon = host.find(':');
    if (colon == std::string::npos) return;
    // A bare address with several colons is an IPv6 address, not a name and a port.
    if (host.find(':', colon + 1) != std::string::npos) return;
    if (auto p = decimal_scan(std::string_view(host).substr(colon + 1))) port = *p;
    host.resize(colon);
}

bool ssh_port_warning(bool ssh, std::string_view port_text, bool typed) {
    return ssh && typed && decimal_scan(port_text).value_or(-1) != 22;
}

}  // namespace connect_logic
