#include "setup/locations.h"

#include <cstdlib>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

#include "setup/setup_files.h"

namespace fs = std::filesystem;

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// XDG base folders must be absolute; a relative value is to be ignored.
fs::path xdg(const char* name, const char* fallback_under_home) {
    fs::path p = env(name);
    if (!p.empty() && p.is_absolute()) return p;
    return home_folder() / fallback_under_home;
}

}  // namespace

fs::path home_folder() {
    std::string h = env("HOME");
    if (!h.empty()) return h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

fs::path desktop_folder() {
    const fs::path home = home_folder();
    const auto dirs = read_regular_file(xdg("XDG_CONFIG_HOME", ".config") / "user-dirs.dirs", 64 * 1024);
    std::istringstream in(dirs.value_or(""));
    std::string line;
    while (std::getline(in, line)) {
        // Format: XDG_DESKTOP_DIR="$HOME/Desktop" or an absolute path in quotes.
        const std::string key = "XDG_DESKTOP_DIR=\"";
        if (line.compare(0, key.size(), key) != 0) continue;
        auto end = line.find('"', key.size());
        if (end == std::string::npos) continue;
        std::string v = line.substr(key.size(), end - key.size());
        if (v.compare(0, 5, "$HOME") == 0) v = home.string() + v.substr(5);
        if (!v.empty() && v[0] == '/') return fs::path(v).lexically_normal();
    }
    std::string e = env("XDG_DESKTOP_DIR");
    if (!e.empty() && e[0] == '/') return e;
    return home / "Desktop";
}

setup_locations default_locations(const char* argv0) {
    setup_locations l;
    std::error_code ec;
    const std::string a = argv0 ? argv0 : "";
    if (a.find('/') != std::string::npos) {
        l.self = fs::absolute(a, ec);
        l.source_dir = l.self.parent_path();
    } else {
        l.self = fs::read_symlink("/proc/self/exe", ec);
        l.source_dir = fs::current_path(ec);
    }
    const fs::path data = xdg("XDG_DATA_HOME", ".local/share");
    l.destination = data / "QuillSoft" / "qtelnet";
    l.bin_dir = home_folder() / ".local" / "bin";
    l.program_folder = data / "applications";
    l.desktop = desktop_folder();
    l.record = data / "QuillSoft" / "uninstall" / "qtelnet";
    return l;
}
