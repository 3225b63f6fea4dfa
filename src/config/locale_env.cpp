#include "config/locale_env.h"

#include <string_view>

std::vector<env_variable> locale_environment(const char* const* env) {
    std::vector<env_variable> out;
    for (; env && *env && out.size() < locale_env_max_count; ++env) {
        const std::string_view entry(*env);
        const std::size_t eq = entry.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view name = entry.substr(0, eq), value = entry.substr(eq + 1);
        if (name != "LANG" && !(name.starts_with("LC_") && name.size() > 3)) continue;
        if (name.size() > locale_env_max_name || value.empty() || value.size() > locale_env_max_value) continue;
        bool plain = true;
        for (const char c : value) plain = plain && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
        if (!plain) continue;
        out.push_back({std::string(name), std::string(value)});
    }
    return out;
}
