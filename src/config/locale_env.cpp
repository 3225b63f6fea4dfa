#include "config/locale_env.h"

#include <functional>
#include <string_view>

#include "config/ssh_config.h"

namespace {

std::vector<env_variable> select_environment(const char* const* env,
                                             const std::function<bool(std::string_view)>& wanted) {
    std::vector<env_variable> out;
    for (; env && *env && out.size() < locale_env_max_count; ++env) {
        const std::string_view entry(*env);
        const std::size_t eq = entry.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view name = entry.substr(0, eq), value = entry.substr(eq + 1);
        if (!wanted(name)) continue;
        if (name.size() > locale_env_max_name || value.empty() || value.size() > locale_env_max_value) continue;
        bool plain = true;
        for (const char c : value) plain = plain && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
        if (!plain) continue;
        out.push_back({std::string(name), std::string(value)});
    }
    return out;
}

}  // namespace

std::vector<env_variable> locale_environment(const char* const* env) {
    return select_environment(
        env, [](std::string_view name) { return name == "LANG" || (name.starts_with("LC_") && name.size() > 3); });
}

std::vector<env_variable> matching_environment(const char* const* env, const std::vector<std::string>& patterns) {
    if (patterns.empty()) return {};
    return select_environment(env, [&patterns](std::string_view name) {
        for (const std::string& p : patterns)
            if (ssh_pattern_match(name, p)) return true;
        return false;
    });
}
