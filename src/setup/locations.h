#pragma once
// Where the installer reads from and writes to on a Linux desktop, per user.
#include <filesystem>
#include <string>

struct setup_locations {
    std::filesystem::path source_dir;      // the folder holding the install files
    std::filesystem::path self;            // the running program file, copied as client and uninstaller
    std::filesystem::path destination;     // default install folder
    std::filesystem::path bin_dir;         // where the uninstaller copy goes
    std::filesystem::path program_folder;  // applications menu folder (.desktop files)
    std::filesystem::path desktop;         // the user's desktop folder
    std::filesystem::path record;          // the uninstall record
};

// Built from HOME, XDG_DATA_HOME, XDG_CONFIG_HOME (user-dirs.dirs) and XDG_DESKTOP_DIR. argv0 names the running
// file; when it holds no directory (found through PATH) the running image is used and the source is the current
// directory.
setup_locations default_locations(const char* argv0);

// The desktop folder as xdg-user-dir reports it: user-dirs.dirs, then XDG_DESKTOP_DIR, then ~/Desktop.
std::filesystem::path desktop_folder();

// The user's home: HOME, or the password database when HOME is unset.
std::filesystem::path home_folder();
