#pragma once
// Where settings live between runs: integer and text values by section and key. Implementations: the in-memory one
// (memory_backend.h, for tests) and the QSettings one (adapters/qsettings_backend.h). A missing or unreadable value
// reads as the given default; write failures are ignored.
#include <optional>
#include <string>
#include <string_view>

struct settings_backend {
    virtual ~settings_backend() = default;

    virtual int read_int(std::string_view section, std::string_view key, int def) = 0;
    virtual std::string read_text(std::string_view section, std::string_view key, std::string_view def) = 0;
    virtual void write_int(std::string_view section, std::string_view key, int value) = 0;
    virtual void write_text(std::string_view section, std::string_view key, std::string_view value) = 0;
    // Removes a whole section with every key below it. False when there was nothing to remove.
    virtual bool remove_section(std::string_view section) = 0;

    // The program directory value `dir`, kept outside the configuration sections. nullopt when absent.
    virtual std::optional<std::string> read_program_dir() = 0;
    virtual void write_program_dir(std::string_view dir) = 0;

    // Pushes buffered writes to permanent storage (called once at the end of a save).
    virtual void flush() {}
};

// "Version 1.0/<configuration name>": the section of one configuration.
std::string config_section(std::string_view config_name);
