#pragma once
// A settings backend held in memory, for tests and tools. Values keep their type; an integer read of a text value
// takes it only when the whole text is a decimal number, a text read of an integer gives its decimal form (the same
// answers the INI-file backend gives).
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "config/settings_backend.h"

class memory_backend : public settings_backend {
public:
    using value = std::variant<int, std::string>;

    int read_int(std::string_view section, std::string_view key, int def) override;
    std::string read_text(std::string_view section, std::string_view key, std::string_view def) override;
    void write_int(std::string_view section, std::string_view key, int v) override;
    void write_text(std::string_view section, std::string_view key, std::string_view v) override;
    bool remove_section(std::string_view section) override;
    std::vector<std::string> sections() override;
    bool copy_section(std::string_view from, std::string_view to) override;
    std::optional<std::string> read_program_dir() override { return program_dir; }
    void write_program_dir(std::string_view dir) override { program_dir = std::string(dir); }
    void remove_key(std::string_view section, std::string_view key) override {
        values.erase({std::string(section), std::string(key)});
    }

    // Direct access for tests.
    const value* find(std::string_view section, std::string_view key) const;
    bool has(std::string_view section, std::string_view key) const { return find(section, key) != nullptr; }
    std::size_t size() const { return values.size(); }
    int writes = 0;  // number of write calls

    std::map<std::pair<std::string, std::string>, value> values;
    std::optional<std::string> program_dir;
};
