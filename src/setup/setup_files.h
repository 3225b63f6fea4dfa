#pragma once
// File operations of the installer: guarded copy, shortcut values from config.txt, desktop entries and the
// uninstall record.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Opens a regular file for reading (a FIFO or device would block or never end): the descriptor, or -1.
int open_regular_file(const std::filesystem::path& path);
// Up to `limit` bytes of a regular file; nullopt when it cannot be opened or read.
std::optional<std::string> read_regular_file(const std::filesystem::path& path, std::size_t limit);

enum class overwrite_mode { plain, ask };
enum class overwrite_answer { yes, yes_to_all, no };

// Asked before an existing "ask" file is replaced.
struct overwrite_question {
    virtual ~overwrite_question() = default;
    virtual overwrite_answer ask_overwrite(const std::string& path) = 0;
};

struct copy_state {
    bool yes_to_all = false;
    bool silent = false;
};

// Copies src to dest in 1024-byte blocks. An existing dest in ask mode is only replaced after the question (unless
// yes-to-all or silent); "no" keeps it and still counts as success. Copying a file onto itself succeeds without
// touching it. Read, write and close errors are failures. `executable` gives the copy mode 0755, else 0644.
bool copy_file(const std::filesystem::path& dest, const std::filesystem::path& src, overwrite_mode mode,
               copy_state& state, overwrite_question& ask, bool executable = false);

// The value of `key` in a config.txt: read 79 characters at a time, each piece scanned as key, blanks, "=",
// blanks, a value starting with a double quote; the text between the piece's first two double quotes is taken when
// non-empty and shorter than 254 characters, single quotes turned into double quotes. First match wins.
std::optional<std::string> read_shortcut_value(const std::filesystem::path& config_txt, const std::string& key);
// The same scan over file contents held in memory.
std::optional<std::string> find_shortcut_value(std::string_view contents, const std::string& key);

struct shortcut {
    std::string description;
    std::string arguments;
};

// The up to three shortcuts named by shortcut_desc/shortcut_param (2, 3) in config.txt; the first always exists.
std::vector<shortcut> shortcuts_from_config(const std::filesystem::path& config_txt);

// The .desktop file name for a shortcut description ('/' cannot be part of a file name).
std::string desktop_file_name(const std::string& description);

// Text of a freedesktop launcher that starts `program` with `arguments` in `working_dir`.
std::string desktop_entry_text(const shortcut& s, const std::filesystem::path& program,
                               const std::filesystem::path& working_dir);

// Writes `text` to path (created or replaced, mode 0755 so desktops treat it as a launcher).
bool write_text_file(const std::filesystem::path& path, const std::string& text, bool executable);

// The per-user uninstall record: what the uninstaller needs to find and remove an installation.
struct uninstall_record {
    std::string display_name = "Quill W32 Telnet";
    std::string uninstall_string;        // the uninstaller program
    std::string install_location;        // the destination folder
    std::vector<std::string> shortcuts;  // every launcher file created
};

bool write_uninstall_record(const std::filesystem::path& path, const uninstall_record& r);
std::optional<uninstall_record> read_uninstall_record(const std::filesystem::path& path);
uninstall_record parse_uninstall_record(std::string_view text);
