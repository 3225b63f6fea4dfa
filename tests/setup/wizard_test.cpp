#include "setup/wizard.h"

#include "config/memory_backend.h"
#include "fakes.h"
#include "setup_fixture.h"

namespace {

class Install : public temp_home {
protected:
    setup_locations where;
    scripted_pages pages;
    recording_shell shell;

    void SetUp() override {
        temp_home::SetUp();
        where = make_source();
    }
    fs::path dest() const { return root / "home/.local/share/QuillSoft/qtelnet"; }
    fs::path apps() const { return root / "home/.local/share/applications"; }
    fs::path desktop() const { return root / "home/Desktop"; }
    fs::path record() const { return root / "home/.local/share/QuillSoft/uninstall/qtelnet"; }
};

TEST_F(Install, SilentInstallCopiesEverythingAndRegisters) {
    ASSERT_EQ(run_install(where, true, pages, shell), setup_outcome::done);
    EXPECT_TRUE(pages.shown.empty());
    EXPECT_TRUE(pages.errors.empty());

    for (const char* f :
         {"README.TXT", "config.txt", "keys.map", "pctonet.map", "nettopc.map", "LICENSE.TXT", "help/qtelnet.html"})
        EXPECT_EQ(slurp(dest() / f), slurp(where.source_dir / f)) << f;
    EXPECT_EQ(slurp(dest() / "qtelnet"), slurp(where.self));
    EXPECT_TRUE(is_executable(dest() / "qtelnet"));
    const fs::path uninst = root / "home/.local/bin/qtuninst";
    EXPECT_EQ(slurp(uninst), slurp(where.self));
    EXPECT_TRUE(is_executable(uninst));

    const std::string entry = slurp(apps() / "QuillSoft Telnet.desktop");
    EXPECT_NE(entry.find("Exec=\"" + (dest() / "qtelnet").string() + "\" /C 1\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Path=" + dest().string() + "\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(desktop() / "QuillSoft Telnet.desktop"));

    auto rec = read_uninstall_record(record());
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->display_name, "Quill W32 Telnet");
    EXPECT_EQ(rec->uninstall_string, uninst.string());
    EXPECT_EQ(rec->install_location, dest().string());
    EXPECT_EQ(rec->shortcuts.size(), 2u);

    ASSERT_EQ(shell.started.size(), 1u);
    EXPECT_EQ(shell.started[0], (dest() / "qtelnet").string());
    EXPECT_EQ(shell.started_in[0], dest().string());
    EXPECT_TRUE(shell.opened.empty());

    // Silent again over the user's map file: replaced, no question.
    spit(dest() / "keys.map", "user keys\n");
    ASSERT_EQ(run_install(where, true, pages, shell), setup_outcome::done);
    EXPECT_TRUE(pages.asked.empty());
    EXPECT_EQ(slurp(dest() / "keys.map"), "shipped keys\n");
}

TEST_F(Install, ReinstallAsksPerMapFileAndNoKeepsTheUsersFile) {
    ASSERT_EQ(run_install(where, true, pages, shell), setup_outcome::done);
    for (const char* f : {"keys.map", "pctonet.map", "nettopc.map"}) spit(dest() / f, std::string("user ") + f);
    spit(dest() / "README.TXT", "old readme");

    pages.overwrite_answers = {overwrite_answer::no, overwrite_answer::yes, overwrite_answer::no};
    ASSERT_EQ(run_install(where, false, pages, shell), setup_outcome::done);
    ASSERT_EQ(pages.asked.size(), 3u);
    EXPECT_EQ(pages.asked[0], (dest() / "keys.map").string());
    EXPECT_EQ(slurp(dest() / "keys.map"), "user keys.map");
    EXPECT_EQ(slurp(dest() / "pctonet.map"), "shipped pctonet\n");
    EXPECT_EQ(slurp(dest() / "nettopc.map"), "user nettopc.map");
    // Plain files are replaced without a question.
    EXPECT_EQ(slurp(dest() / "README.TXT"), "read me\n");
}

TEST_F(Install, NoIconsOpensFileManagerAndRegistersNothing) {
    pages.icons_program = false;
    pages.icons_desktop = false;
    ASSERT_EQ(run_install(where, false, pages, shell), setup_outcome::done);
    EXPECT_EQ(pages.shown, (std::vector<std::string>{"Welcome", "License Agreement", "Start Installation",
                                                     "Installation Completed"}));
    EXPECT_EQ(pages.licence_seen, "MIT licence text\n");
    EXPECT_EQ(shell.opened, std::vector<std::string>{dest().string()});
    EXPECT_FALSE(fs::exists(apps()));
    EXPECT_FALSE(fs::exists(desktop()));
    EXPECT_FALSE(fs::exists(record()));
    EXPECT_EQ(shell.started.size(), 1u);
}

TEST_F(Install, CancelOnAnyPageInstallsNothing) {
    for (int page = 0; page < 3; ++page) {
        scripted_pages p;
        (page == 0   ? p.welcome_answers
         : page == 1 ? p.agreement_answers
                     : p.start_answers)
            .push_back(page_result::cancel);
        EXPECT_EQ(run_install(where, false, p, shell), setup_outcome::cancelled);
        EXPECT_FALSE(fs::exists(dest())) << page;
    }
    EXPECT_TRUE(shell.started.empty());
}

TEST_F(Install, BackWalksToThePreviousPage) {
    pages.start_answers = {page_result::back, page_result::next};
    pages.agreement_answers = {page_result::back, page_result::next, page_result::next};
    ASSERT_EQ(run_install(where, false, pages, shell), setup_outcome::done);
    EXPECT_EQ(pages.shown, (std::vector<std::string>{"Welcome", "License Agreement", "Welcome", "License Agreement",
                                                     "Start Installation", "License Agreement", "Start Installation",
                                                     "Installation Completed"}));
}

TEST_F(Install, WithoutLicenceTheAgreementIsSkipped) {
    fs::remove(where.source_dir / "LICENSE.TXT");
    // Missing licence file is also a missing install file, so the install stops after the pages.
    pages.start_answers = {page_result::back, page_result::next};
    EXPECT_EQ(run_install(where, false, pages, shell), setup_outcome::failed);
    EXPECT_EQ(pages.shown,
              (std::vector<std::string>{"Welcome", "Start Installation", "Welcome", "Start Installation"}));
}

TEST_F(Install, MissingOptionalFilesAreSkipped) {
    fs::remove(where.source_dir / "keys.map");
    fs::remove_all(where.source_dir / "help");
    ASSERT_EQ(run_install(where, true, pages, shell), setup_outcome::done);
    EXPECT_FALSE(fs::exists(dest() / "keys.map"));
    EXPECT_TRUE(fs::exists(dest() / "pctonet.map"));
}

TEST_F(Install, FailuresStopWithTheirMessage) {
    fs::remove(where.source_dir / "README.TXT");
    EXPECT_EQ(run_install(where, true, pages, shell), setup_outcome::failed);
    ASSERT_EQ(pages.errors.size(), 1u);
    EXPECT_EQ(pages.errors[0], "Installation has failed. (file README.TXT). Maybe telnet is already running. See "
                               "readme.txt file for manual installation");
    EXPECT_TRUE(shell.started.empty());
    EXPECT_FALSE(fs::exists(record()));
}

TEST_F(Install, DestinationThatCannotBeCreated) {
    spit(root / "blocker", "a file where a folder should be");
    pages.destination_override = (root / "blocker/sub").string();
    EXPECT_EQ(run_install(where, false, pages, shell), setup_outcome::failed);
    EXPECT_EQ(pages.errors, std::vector<std::string>{
                                "Installation has failed. (mkdir). See readme.txt file for manual installation"});
}

TEST_F(Install, UninstallerCopyFailureHasItsOwnMessage) {
    spit(root / "home/.local/bin", "not a folder");
    EXPECT_EQ(run_install(where, true, pages, shell), setup_outcome::failed);
    EXPECT_EQ(pages.errors, std::vector<std::string>{
                                "Installation has failed. (file setup). See readme.txt file for manual installation"});
    EXPECT_TRUE(fs::exists(dest() / "qtelnet"));
}

TEST_F(Install, TypedFoldersAreMadeAbsolute) {
    pages.destination_override = "~/apps/../qt";
    pages.icons_desktop = false;
    ASSERT_EQ(run_install(where, false, pages, shell), setup_outcome::done);
    EXPECT_TRUE(fs::exists(root / "home/qt/qtelnet"));
    EXPECT_EQ(shell.started.back(), (root / "home/qt/qtelnet").string());
    EXPECT_EQ(user_path(""), fs::path());
    EXPECT_EQ(user_path("~"), root / "home");
}

TEST_F(Install, EmptyDestinationIsAnError) {
    struct empty_pages : scripted_pages {
        page_result start(install_choices& c) override {
            c.destination.clear();
            return page_result::next;
        }
    } p;
    EXPECT_EQ(run_install(where, false, p, shell), setup_outcome::failed);
    EXPECT_EQ(p.errors.size(), 1u);
    EXPECT_TRUE(shell.started.empty());
}

TEST_F(Install, FailedProgramStartIsReported) {
    shell.start_ok = false;
    EXPECT_EQ(run_install(where, true, pages, shell), setup_outcome::failed);
    EXPECT_EQ(pages.errors.size(), 1u);
}

TEST_F(Install, ExtraShortcutsFromConfigAndFolderDots) {
    spit(where.source_dir / "config.txt", "shortcut_desc = \"Work host\"\n"
                                          "shortcut_param2 = \"/C work\"\n"
                                          "shortcut_desc3 = \"Never made\"\n");
    fs::create_directories(root / "menu");
    pages.icons_desktop = false;
    pages.destination_override = "";
    struct dots_pages : scripted_pages {
        std::string folder;
        page_result start(install_choices& c) override {
            c.program_folder = folder;
            return scripted_pages::start(c);
        }
    } p;
    p.icons_desktop = false;
    p.folder = ".";
    const fs::path cwd = fs::current_path();
    fs::current_path(root / "menu");
    ASSERT_EQ(run_install(where, false, p, shell), setup_outcome::done);
    fs::current_path(cwd);
    EXPECT_TRUE(fs::is_empty(root / "menu"));
    EXPECT_EQ(p.warnings.size(), 1u);
    EXPECT_TRUE(fs::exists(record()));

    p.folder = (root / "menu").string() + "/.";
    ASSERT_EQ(run_install(where, false, p, shell), setup_outcome::done);
    EXPECT_TRUE(fs::exists(root / "menu/Work host.desktop"));
    EXPECT_TRUE(fs::exists(root / "menu/QuillSoft Telnet-2.desktop"));
    EXPECT_FALSE(fs::exists(root / "menu/Never made.desktop"));
    EXPECT_NE(slurp(root / "menu/QuillSoft Telnet-2.desktop").find("\" /C work\n"), std::string::npos);
}

class Uninstall : public Install {
protected:
    memory_backend settings;
    void SetUp() override {
        Install::SetUp();
        ASSERT_EQ(run_install(where, true, pages, shell), setup_outcome::done);
        spit(dest() / "config.old", "imported");
        for (const char* c : {"1", "5", "9", "work", "10"}) settings.write_text(config_section(c), "host_name", c);
    }
};

TEST_F(Uninstall, RemovesFilesShortcutsRecordAndNumberedConfigurations) {
    fs::remove(dest() / "config.txt");  // imported and renamed by the client: its absence is no error
    // Entries that are no launchers are not ours to remove.
    spit(root / "precious.txt", "keep");
    std::ofstream(record(), std::ios::app) << "Shortcut=" << (root / "precious.txt").string() << "\n";
    ASSERT_EQ(run_uninstall(where, pages, settings), setup_outcome::done);
    EXPECT_EQ(pages.uninstall_home_seen, dest().string());
    EXPECT_TRUE(pages.errors.empty()) << pages.errors[0];
    EXPECT_FALSE(fs::exists(dest()));
    EXPECT_FALSE(fs::exists(root / "home/.local/bin/qtuninst"));
    EXPECT_FALSE(fs::exists(apps() / "QuillSoft Telnet.desktop"));
    EXPECT_FALSE(fs::exists(desktop() / "QuillSoft Telnet.desktop"));
    EXPECT_FALSE(fs::exists(record()));
    EXPECT_FALSE(fs::exists(root / "home/.local/share/QuillSoft"));
    EXPECT_TRUE(fs::exists(root / "precious.txt"));
    EXPECT_FALSE(settings.has(config_section("1"), "host_name"));
    EXPECT_FALSE(settings.has(config_section("5"), "host_name"));
    EXPECT_FALSE(settings.has(config_section("9"), "host_name"));
    EXPECT_TRUE(settings.has(config_section("work"), "host_name"));
    EXPECT_TRUE(settings.has(config_section("10"), "host_name"));
    EXPECT_EQ(pages.shown.back(), "Farewell");
}

TEST_F(Uninstall, SilentRemovesTheRecordedInstallationWithoutPages) {
    // Installed elsewhere than the default, with a launcher renamed between two installs.
    scripted_pages p;
    p.destination_override = (root / "opt/qt").string();
    ASSERT_EQ(run_install(where, false, p, shell), setup_outcome::done);
    spit(where.source_dir / "config.txt", "shortcut_desc = \"Renamed\"\n");
    ASSERT_EQ(run_install(where, false, p, shell), setup_outcome::done);
    ASSERT_TRUE(fs::exists(desktop() / "QuillSoft Telnet.desktop"));

    scripted_pages quiet;
    ASSERT_EQ(run_uninstall(where, quiet, settings, true), setup_outcome::done);
    EXPECT_TRUE(quiet.shown.empty());
    EXPECT_TRUE(quiet.errors.empty()) << quiet.errors[0];
    EXPECT_FALSE(fs::exists(root / "opt/qt"));
    for (const char* name : {"QuillSoft Telnet.desktop", "Renamed.desktop"}) {
        EXPECT_FALSE(fs::exists(desktop() / name)) << name;
        EXPECT_FALSE(fs::exists(apps() / name)) << name;
    }
    EXPECT_FALSE(settings.has(config_section("1"), "host_name"));
    EXPECT_TRUE(settings.has(config_section("work"), "host_name"));
    // The default folder was not the one recorded: it is left alone.
    EXPECT_TRUE(fs::exists(dest() / "qtelnet"));
}

TEST_F(Uninstall, CancelRemovesNothing) {
    pages.uninstall_ok = false;
    EXPECT_EQ(run_uninstall(where, pages, settings), setup_outcome::cancelled);
    EXPECT_TRUE(fs::exists(dest() / "qtelnet"));
    EXPECT_TRUE(fs::exists(record()));
    EXPECT_TRUE(settings.has(config_section("1"), "host_name"));
    EXPECT_EQ(pages.shown.back(), "Uninstallation");
}

TEST_F(Uninstall, UserFilesAndTheirFolderStay) {
    spit(dest() / "mine.log", "keep");
    ASSERT_EQ(run_uninstall(where, pages, settings), setup_outcome::done);
    EXPECT_EQ(slurp(dest() / "mine.log"), "keep");
    EXPECT_FALSE(fs::exists(dest() / "qtelnet"));
}

TEST_F(Uninstall, FailedDeletionIsReportedAndTheRestGoes) {
    fs::remove(dest() / "README.TXT");
    fs::create_directories(dest() / "README.TXT/inner");
    EXPECT_EQ(run_uninstall(where, pages, settings), setup_outcome::failed);
    ASSERT_EQ(pages.errors.size(), 1u);
    EXPECT_EQ(pages.errors[0], "Cannot remove file " + (dest() / "README.TXT").string() + " Error Code 21");
    EXPECT_FALSE(fs::exists(dest() / "qtelnet"));
    EXPECT_FALSE(fs::exists(dest() / "LICENSE.TXT"));
    EXPECT_EQ(pages.shown.back(), "Farewell");
}

TEST_F(Uninstall, WrongFolderReportsEachMissingProgramFile) {
    fs::create_directories(root / "elsewhere");
    pages.uninstall_home_override = (root / "elsewhere").string();
    EXPECT_EQ(run_uninstall(where, pages, settings), setup_outcome::failed);
    EXPECT_EQ(pages.errors.size(), 3u);  // README.TXT, qtelnet, LICENSE.TXT
    EXPECT_NE(pages.errors[1].find("qtelnet Error Code 2"), std::string::npos);
    EXPECT_TRUE(fs::exists(dest() / "qtelnet"));
}

TEST_F(Uninstall, EmptyFolderAnswerRemovesNothing) {
    struct empty_home : scripted_pages {
        bool uninstall(std::string& home) override {
            home.clear();
            return true;
        }
    } p;
    // Run from inside the install folder: an empty answer must not mean "here".
    const fs::path cwd = fs::current_path();
    fs::current_path(dest());
    EXPECT_EQ(run_uninstall(where, p, settings), setup_outcome::cancelled);
    fs::current_path(cwd);
    EXPECT_TRUE(fs::exists(dest() / "README.TXT"));
    EXPECT_TRUE(settings.has(config_section("1"), "host_name"));
}

}  // namespace
