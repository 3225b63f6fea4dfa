#pragma once
// A throw-away home: HOME and the XDG folders point into a fresh temporary directory for each test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include "setup/locations.h"

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void spit(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

inline bool is_executable(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
}

class temp_home : public ::testing::Test {
protected:
    fs::path root;

    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "setup-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        ::setenv("HOME", (root / "home").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root / "home/.local/share").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root / "home/.config").c_str(), 1);
        ::unsetenv("XDG_DESKTOP_DIR");
        fs::create_directories(root / "home");
    }

    void TearDown() override {
        std::error_code ec;
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root, ec);
    }

    // A source folder as shipped: the program file named setup beside the install files.
    setup_locations make_source(bool with_maps = true, bool with_help = true) {
        const fs::path src = root / "dist";
        spit(src / "README.TXT", "read me\n");
        spit(src / "LICENSE.TXT", "MIT licence text\n");
        spit(src / "config.txt", "# settings\nshortcut_param = \"/C 1\"\n");
        if (with_maps) {
            spit(src / "keys.map", "shipped keys\n");
            spit(src / "pctonet.map", "shipped pctonet\n");
            spit(src / "nettopc.map", "shipped nettopc\n");
        }
        if (with_help) spit(src / "help/qtelnet.html", "<html>help</html>\n");
        std::string program(5000, 'x');  // not a multiple of the copy block
        for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<char>(i * 7);
        spit(src / "setup", program);
        fs::permissions(src / "setup", fs::perms::owner_all);
        return default_locations((src / "setup").c_str());
    }
};
