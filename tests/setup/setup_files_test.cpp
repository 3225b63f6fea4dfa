#include "setup/setup_files.h"

#include <unistd.h>

#include "setup/wizard.h"
#include "setup_fixture.h"

namespace {

struct counting_question : overwrite_question {
    overwrite_answer answer = overwrite_answer::yes;
    int asked = 0;
    overwrite_answer ask_overwrite(const std::string&) override {
        ++asked;
        return answer;
    }
};

using CopyFile = temp_home;

TEST_F(CopyFile, CopiesExactlyAcrossBlockBoundaries) {
    counting_question q;
    copy_state st;
    for (size_t size : {0u, 1u, 1023u, 1024u, 1025u, 70000u}) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131) >> 3);
        spit(root / "src.bin", data);
        ASSERT_TRUE(copy_file(root / "dst.bin", root / "src.bin", overwrite_mode::plain, st, q)) << size;
        EXPECT_EQ(slurp(root / "dst.bin"), data) << size;
    }
    // Replacing a longer file leaves no stale tail.
    spit(root / "src.bin", "short");
    ASSERT_TRUE(copy_file(root / "dst.bin", root / "src.bin", overwrite_mode::plain, st, q));
    EXPECT_EQ(slurp(root / "dst.bin"), "short");
    EXPECT_EQ(q.asked, 0);
}

TEST_F(CopyFile, FailuresAreReported) {
    counting_question q;
    copy_state st;
    spit(root / "src", "data");
    EXPECT_FALSE(copy_file(root / "dst", root / "missing", overwrite_mode::plain, st, q));
    EXPECT_FALSE(fs::exists(root / "dst"));
    EXPECT_FALSE(copy_file(root / "no/such/dir/dst", root / "src", overwrite_mode::plain, st, q));
}

TEST_F(CopyFile, AskModeQuestionsOnlyExistingFiles) {
    counting_question q;
    copy_state st;
    spit(root / "src", "new");
    ASSERT_TRUE(copy_file(root / "dst", root / "src", overwrite_mode::ask, st, q));
    EXPECT_EQ(q.asked, 0);
    EXPECT_EQ(slurp(root / "dst"), "new");

    spit(root / "dst", "mine");
    q.answer = overwrite_answer::no;
    EXPECT_TRUE(copy_file(root / "dst", root / "src", overwrite_mode::ask, st, q));
    EXPECT_EQ(q.asked, 1);
    EXPECT_EQ(slurp(root / "dst"), "mine");

    q.answer = overwrite_answer::yes_to_all;
    EXPECT_TRUE(copy_file(root / "dst", root / "src", overwrite_mode::ask, st, q));
    EXPECT_TRUE(st.yes_to_all);
    EXPECT_EQ(slurp(root / "dst"), "new");
    spit(root / "dst", "mine again");
    EXPECT_TRUE(copy_file(root / "dst", root / "src", overwrite_mode::ask, st, q));
    EXPECT_EQ(q.asked, 2);
    EXPECT_EQ(slurp(root / "dst"), "new");
}

TEST_F(CopyFile, OntoItselfLeavesTheFileAlone) {
    counting_question q;
    copy_state st;
    spit(root / "same", "precious");
    fs::create_symlink(root / "same", root / "link");
    EXPECT_TRUE(copy_file(root / "same", root / "same", overwrite_mode::plain, st, q));
    EXPECT_TRUE(copy_file(root / "link", root / "same", overwrite_mode::plain, st, q));
    EXPECT_EQ(slurp(root / "same"), "precious");
}

TEST_F(CopyFile, PipesAndFoldersAreNoFiles) {
    // A FIFO where a file is expected must fail at once, not wait for a writer or reader.
    ::alarm(20);
    counting_question q;
    copy_state st;
    spit(root / "src", "data");
    ASSERT_EQ(::mkfifo((root / "fifo").c_str(), 0600), 0);
    fs::create_directories(root / "adir");
    EXPECT_FALSE(copy_file(root / "dst", root / "fifo", overwrite_mode::plain, st, q));
    EXPECT_FALSE(copy_file(root / "dst", root / "adir", overwrite_mode::plain, st, q));
    EXPECT_FALSE(copy_file(root / "fifo", root / "src", overwrite_mode::plain, st, q));
    EXPECT_FALSE(copy_file(root / "fifo", root / "src", overwrite_mode::ask, st, q));
    EXPECT_FALSE(write_text_file(root / "fifo", "text", false));

    EXPECT_EQ(read_shortcut_value(root / "fifo", "shortcut_desc"), std::nullopt);
    EXPECT_FALSE(read_uninstall_record(root / "fifo"));
    ASSERT_EQ(::mkfifo((root / "LICENSE.TXT").c_str(), 0600), 0);
    EXPECT_FALSE(read_licence(root));
    spit(root / "license.txt", "lower case name");
    EXPECT_EQ(read_licence(root), "lower case name");
    ::alarm(0);
}

using ShortcutValue = temp_home;

TEST_F(ShortcutValue, ScanRules) {
    const fs::path cfg = root / "config.txt";
    spit(cfg, "# shortcut_desc = \"comment\"\n"
              "shortcut_desc=\"no blank\"\n"
              "shortcut_desc = unquoted\n"
              "shortcut_desc = \"\"\n"
              "  shortcut_desc\t=  \"It's 'quoted'\" trailing\n"
              "shortcut_desc = \"second\"\n"
              "shortcut_param = \"/C 1\n");
    EXPECT_EQ(read_shortcut_value(cfg, "shortcut_desc"), "It\"s \"quoted\"");
    // No closing quote in the piece: absent.
    EXPECT_EQ(read_shortcut_value(cfg, "shortcut_param"), std::nullopt);
    // The key must match exactly.
    EXPECT_EQ(read_shortcut_value(cfg, "shortcut_des"), std::nullopt);
    EXPECT_EQ(read_shortcut_value(root / "missing.txt", "shortcut_desc"), std::nullopt);
}

TEST_F(ShortcutValue, LongLinesAreReadIn79CharacterPieces) {
    const fs::path cfg = root / "config.txt";
    // The value's closing quote lies beyond the first 79 characters.
    std::string longline = "shortcut_desc = \"" + std::string(70, 'a') + "\"\n";
    // A continuation piece that happens to look like a line of its own.
    std::string carrier = "#" + std::string(78, '-') + "shortcut_param = \"/H tail\"\n";
    spit(cfg, longline + carrier);
    EXPECT_EQ(read_shortcut_value(cfg, "shortcut_desc"), std::nullopt);
    EXPECT_EQ(read_shortcut_value(cfg, "shortcut_param"), "/H tail");
    // The in-memory scan cuts the same pieces.
    EXPECT_EQ(find_shortcut_value(longline + carrier, "shortcut_param"), "/H tail");
    EXPECT_EQ(find_shortcut_value(longline + carrier, "shortcut_desc"), std::nullopt);
    // Text after a NUL in a piece is not seen.
    EXPECT_EQ(find_shortcut_value(std::string("shortcut_desc = \"a\0b\"\n", 21), "shortcut_desc"), std::nullopt);

    std::string fits = "shortcut_desc = \"" + std::string(60, 'b') + "\"\n";
    spit(cfg, longline + fits);
    EXPECT_EQ(read_shortcut_value(cfg, "shortcut_desc"), std::string(60, 'b'));
}

TEST_F(ShortcutValue, ShortcutSetFromConfig) {
    const fs::path cfg = root / "config.txt";
    auto none = shortcuts_from_config(cfg);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].description, "QuillSoft Telnet");
    EXPECT_EQ(none[0].arguments, "");

    spit(cfg, "shortcut_param3 = \"/C three\"\nshortcut_desc2 = \"unused\"\n");
    auto s = shortcuts_from_config(cfg);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].description, "QuillSoft Telnet");
    EXPECT_EQ(s[1].description, "QuillSoft Telnet-3");
    EXPECT_EQ(s[1].arguments, "/C three");
}

// Reads an Exec line back as a desktop would: string-value escapes first, then quoting and field codes.
std::vector<std::string> exec_argv(const std::string& entry) {
    const size_t at = entry.find("\nExec=");
    if (at == std::string::npos) return {};
    std::string raw = entry.substr(at + 6, entry.find('\n', at + 6) - at - 6), line;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            line += raw[i];
            continue;
        }
        const char n = raw[++i];
        line += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
    }
    std::vector<std::string> argv;
    std::string cur;
    bool in_arg = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            else if ((c == '\\' || c == '%') && i + 1 < line.size())
                cur += line[++i];  // "%%" is a percent sign inside quotes too
            else
                cur += c;
        } else if (c == ' ') {
            if (in_arg) argv.push_back(cur);
            cur.clear();
            in_arg = false;
        } else if (c == '"') {
            quoted = in_arg = true;
        } else if (c == '%' && i + 1 < line.size()) {
            cur += line[++i];  // only %% is written
            in_arg = true;
        } else {
            cur += c;
            in_arg = true;
        }
    }
    if (in_arg) argv.push_back(cur);
    return argv;
}

TEST(DesktopEntry, ExecLineStartsTheProgramWithItsArguments) {
    const std::string odd_dir = "/opt/my \"q\" $dir\\x`y`100%";
    shortcut s{"100% host", "/N \"my name\" /H h%1"};
    const std::string t = desktop_entry_text(s, odd_dir + "/qtelnet", odd_dir);
    EXPECT_EQ(exec_argv(t), (std::vector<std::string>{odd_dir + "/qtelnet", "/N", "my name", "/H", "h%1"})) << t;
    EXPECT_NE(t.find("Path=/opt/my \"q\" $dir\\\\x`y`100%\n"), std::string::npos) << t;
    EXPECT_NE(t.find("Name=100% host\n"), std::string::npos);
    EXPECT_EQ(t.rfind("[Desktop Entry]\nType=Application\n", 0), 0u);
    EXPECT_EQ(exec_argv(desktop_entry_text({"plain", ""}, "/a/qtelnet", "/a")), std::vector<std::string>{"/a/qtelnet"});
    EXPECT_EQ(desktop_file_name("a/b"), "a_b.desktop");
}

TEST_F(CopyFile, UninstallRecordRoundTrip) {
    uninstall_record r;
    r.uninstall_string = "/home/u/.local/bin/qtuninst";
    r.install_location = "/home/u/odd\\dir\nname";
    r.shortcuts = {"/a/QuillSoft Telnet.desktop", "/b/x=y.desktop"};
    ASSERT_TRUE(write_uninstall_record(root / "rec/qtelnet", r));
    auto back = read_uninstall_record(root / "rec/qtelnet");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->display_name, "Quill W32 Telnet");
    EXPECT_EQ(back->uninstall_string, r.uninstall_string);
    EXPECT_EQ(back->install_location, r.install_location);
    EXPECT_EQ(back->shortcuts, r.shortcuts);
    EXPECT_FALSE(read_uninstall_record(root / "rec/none"));
}

using Licence = temp_home;

TEST_F(Licence, ReadLimitsAndByteOrderMark) {
    EXPECT_FALSE(read_licence(root));
    spit(root / "license.txt", "");
    EXPECT_EQ(read_licence(root), "");  // present but empty: the page is still shown
    spit(root / "LICENSE.TXT", "\xEF\xBB\xBFMIT");
    EXPECT_EQ(read_licence(root), "MIT");
    spit(root / "LICENSE.TXT", std::string(9000, 'L'));
    EXPECT_EQ(read_licence(root)->size(), licence_read_limit);
    // A character the limit cuts is left out whole; one that fits stays.
    const std::string base(licence_read_limit - 2, 'L');
    spit(root / "LICENSE.TXT", base + "\xE2\x82\xAC more");
    EXPECT_EQ(read_licence(root), base);
    spit(root / "LICENSE.TXT", base + "\xC3\xA9 more");
    EXPECT_EQ(read_licence(root), base + "\xC3\xA9");
    spit(root / "LICENSE.TXT", base + "\xF0\x9F");
    EXPECT_EQ(read_licence(root), base);
}

using Locations = temp_home;

TEST_F(Locations, DesktopFromUserDirs) {
    ::setenv("XDG_DESKTOP_DIR", (root / "envdesk").c_str(), 1);
    EXPECT_EQ(desktop_folder(), root / "envdesk");
    spit(root / "home/.config/user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                               "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
                                               "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EXPECT_EQ(desktop_folder(), root / "home/Schreibtisch");
    spit(root / "home/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/srv/desk\"\n");
    EXPECT_EQ(desktop_folder(), fs::path("/srv/desk"));
}

}  // namespace
