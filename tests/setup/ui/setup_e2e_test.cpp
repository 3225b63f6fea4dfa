// The whole round trip through real processes: a program file named setup installs silently and starts the
// installed client; the installed qtuninst removes everything again.
#include <chrono>
#include <cstdlib>
#include <thread>

#include <QCoreApplication>

#include "../setup_fixture.h"
#include "adapters/qsettings_backend.h"

namespace {

int run(const fs::path& program, const std::string& args) {
    const std::string cmd = "timeout 30 '" + program.string() + "' " + args + " >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

using SetupRoundTrip = temp_home;

TEST_F(SetupRoundTrip, SetupInstallsAndQtuninstRemoves) {
    const setup_locations where = make_source();
    fs::copy_file(E2E_HOST, where.self, fs::copy_options::overwrite_existing);
    const fs::path dest = root / "home/.local/share/QuillSoft/qtelnet";
    const fs::path uninst = root / "home/.local/bin/qtuninst";

    ASSERT_EQ(run(where.self, "/S"), 0);
    for (const char* f : {"README.TXT", "LICENSE.TXT", "config.txt", "keys.map", "help/qtelnet.html", "qtelnet"})
        EXPECT_TRUE(fs::exists(dest / f)) << f;
    EXPECT_TRUE(is_executable(uninst));
    EXPECT_TRUE(fs::exists(root / "home/.local/share/applications/QuillSoft Telnet.desktop"));
    EXPECT_TRUE(fs::exists(root / "home/Desktop/QuillSoft Telnet.desktop"));

    // The installer started the installed copy, in the install folder.
    const fs::path mark = root / "home/client-started";
    for (int i = 0; i < 200 && !fs::exists(mark); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(slurp(mark), dest.string() + "\n");

    const QString conf = QString::fromStdString((root / "home/.config/QuillSoft/qtelnet.conf").string());
    {
        auto s = qsettings_backend::from_file(conf);
        for (const char* c : {"1", "3", "work"}) s->write_text(config_section(c), "host_name", c);
    }

    ASSERT_EQ(run(uninst, ""), 0);
    EXPECT_FALSE(fs::exists(dest));
    EXPECT_FALSE(fs::exists(uninst));
    EXPECT_FALSE(fs::exists(root / "home/.local/share/applications/QuillSoft Telnet.desktop"));
    EXPECT_FALSE(fs::exists(root / "home/Desktop/QuillSoft Telnet.desktop"));
    EXPECT_FALSE(fs::exists(root / "home/.local/share/QuillSoft"));

    auto s = qsettings_backend::from_file(conf);
    EXPECT_EQ(s->read_text(config_section("1"), "host_name", "gone"), "gone");
    EXPECT_EQ(s->read_text(config_section("3"), "host_name", "gone"), "gone");
    EXPECT_EQ(s->read_text(config_section("work"), "host_name", "gone"), "work");
}

TEST_F(SetupRoundTrip, ScriptedUninstallNeedsNoClicks) {
    const setup_locations where = make_source();
    fs::copy_file(E2E_HOST, where.self, fs::copy_options::overwrite_existing);
    ASSERT_EQ(run(where.self, "/S"), 0);
    const fs::path uninst = root / "home/.local/bin/qtuninst";
    ASSERT_TRUE(fs::exists(uninst));
    // No one answers the pages here: a page shown would hold the program until the time limit.
    ASSERT_EQ(run(uninst, "/S"), 0);
    EXPECT_FALSE(fs::exists(root / "home/.local/share/QuillSoft"));
    EXPECT_FALSE(fs::exists(uninst));
    EXPECT_FALSE(fs::exists(root / "home/Desktop/QuillSoft Telnet.desktop"));
}

TEST_F(SetupRoundTrip, OtherNamesRunTheClient) {
    const setup_locations where = make_source();
    fs::copy_file(E2E_HOST, root / "Setup");
    ASSERT_EQ(run(root / "Setup", "/S"), 0);
    EXPECT_TRUE(fs::exists(root / "home/client-started"));
    EXPECT_FALSE(fs::exists(root / "home/.local/share/QuillSoft"));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
