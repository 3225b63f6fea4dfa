#pragma once
// Where settings live between runs: integer and text values by section and key. Implementations: the in-memory one
// (memory_backend.h, for tests) and the QSettings one (adapters/qsettings_backend.h). A missing or unreadable value
// reads as the given default; a store that cannot be used or written says so through load_problem/save_problem.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct settings_backend {
    virtual ~settings_backend() = default;

    virtual int read_int(std::string_view section, std::string_view key, int def) = 0;
    virtual std::string read_text(std::string_view section, std::string_view key, std::string_view def) = 0;
    virtual void write_int(std::string_view section, std::string_view key, int value) = 0;
    virtual void write_text(std::string_view section, std::string_view key, std::string_view value) = 0;
    // Removes a whole section with every key below it. False when there was nothing to remove.
    virtual bool remove_section(std::string_view section) = 0;

    // Every section that holds a key of its own, once each, in no set order: "a" and "a/b" are two sections.
    // Stores that cannot tell list nothing.
    virtual std::vector<std::string> sections() { return {}; }
    // Copies the keys of `from` itself (not those of the sections below it) into `to`, keeping their types.
    // False when `from` holds none or the store cannot copy.
    virtual bool copy_section(std::string_view /*from*/, std::string_view /*to*/) { return false; }

    // The program directory value `dir`, kept outside the configuration sections. nullopt when absent.
    virtual std::optional<std::string> read_program_dir() = 0;
    virtual void write_program_dir(std::string_view dir) = 0;

    // Pushes buffered writes to permanent storage (called once at the end of a save).
    virtual void flush() {}
    // Removes one key; stores that cannot tell "empty" from "absent" may keep it as an empty text.
    virtual void remove_key(std::string_view section, std::string_view key) { write_text(section, key, ""); }

    // For the user, naming the place and the reason; empty when all went well. load_problem: stored values could
    // not be used (told at start); save_problem: the last flush did not reach permanent storage.
    virtual std::string load_problem() const { return {}; }
    virtual std::string save_problem() const { return {}; }
};

// "Version 1.0/<configuration name>": the section of one configuration.
std::string config_section(std::string_view config_name);
