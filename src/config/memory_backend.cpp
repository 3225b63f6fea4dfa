#include "config/memory_backend.h"

#include "config/text_scan.h"

namespace {
std::pair<std::string, std::string> make_key(std::string_view section, std::string_view key) {
    return {std::string(section), std::string(key)};
}
}  // namespace

const memory_backend::value* memory_backend::find(std::string_view section, std::string_view key) const {
    auto it = values.find(make_key(section, key));
    return it == values.end() ? nullptr : &it->second;
}

int memory_backend::read_int(std::string_view section, std::string_view key, int def) {
    const value* v = find(section, key);
    if (!v) return def;
    if (auto* i = std::get_if<int>(v)) return *i;
    long long n = 0;
    if (parse_decimal_all(std::get<std::string>(*v), n)) return static_cast<int>(n);
    return def;
}

std::string memory_backend::read_text(std::string_view section, std::string_view key, std::string_view def) {
    const value* v = find(section, key);
    if (!v) return std::string(def);
    if (auto* i = std::get_if<int>(v)) return std::to_string(*i);
    return std::get<std::string>(*v);
}

void memory_backend::write_int(std::string_view section, std::string_view key, int v) {
    ++writes;
    values[make_key(section, key)] = v;
}

void memory_backend::write_text(std::string_view section, std::string_view key, std::string_view v) {
    ++writes;
    values[make_key(section, key)] = std::string(v);
}

bool memory_backend::remove_section(std::string_view section) {
    bool any = false;
    for (auto it = values.begin(); it != values.end();) {
        const std::string& s = it->first.first;
        // The section itself and every section nested below it.
        bool inside = s == section || (s.size() > section.size() && s.compare(0, section.size(), section) == 0 &&
                                       s[section.size()] == '/');
        if (inside) {
            it = values.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

std::vector<std::string> memory_backend::sections() {
    std::vector<std::string> out;
    for (const auto& [k, v] : values)
        if (out.empty() || out.back() != k.first) out.push_back(k.first);  // the map keeps a section's keys together
    return out;
}

bool memory_backend::copy_section(std::string_view from, std::string_view to) {
    std::vector<std::pair<std::string, value>> own;
    for (const auto& [k, v] : values)
        if (k.first == from) own.emplace_back(k.second, v);
    for (auto& [key, v] : own) {
        ++writes;
        values[make_key(to, key)] = std::move(v);
    }
    return !own.empty();
}
