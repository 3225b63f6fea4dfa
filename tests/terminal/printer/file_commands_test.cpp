#include "terminal/printer/file_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "recording_printer.h"

using namespace printing;
using namespace printing::testing;

namespace {

class SendFileTest : public ::testing::Test {
protected:
    std::string dir;
    recording_ui ui;
    std::vector<std::size_t> blocks;
    std::string received;
    int accept_limit = 1 << 30;  // the host side takes at most this many bytes per call

    void SetUp() override {
        char tmpl[] = "/tmp/sendfileXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string make_file(std::size_t n) {
        std::string path = dir + "/f" + std::to_string(n);
        std::ofstream f(path, std::ios::binary);
        for (std::size_t i = 0; i < n; ++i) f.put(static_cast<char>('a' + i % 26));
        return path;
    }
    send_result send(const std::string& path) {
        return send_file(
            path,
            [this](const std::uint8_t* b, std::size_t n) {
                blocks.push_back(n);
                int taken = static_cast<int>(std::min<std::size_t>(n, static_cast<std::size_t>(accept_limit)));
                received.append(reinterpret_cast<const char*>(b), static_cast<std::size_t>(taken));
                return taken;
            },
            ui);
    }
};

TEST_F(SendFileTest, SmallFileGoesInBlocksOf200) {
    auto r = send(make_file(450));
    EXPECT_EQ(blocks, (std::vector<std::size_t>{200, 200, 50}));
    EXPECT_EQ(r.sent, 450u);
    EXPECT_FALSE(r.stopped);
    EXPECT_TRUE(ui.messages.empty());
    std::ifstream f(dir + "/f450", std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    EXPECT_EQ(received, ss.str());
}

TEST_F(SendFileTest, ExactMultipleEndsWithoutEmptyBlock) {
    send(make_file(400));
    EXPECT_EQ(blocks, (std::vector<std::size_t>{200, 200}));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SendFileTest, LargeFileStopsAfterLimitWithMessage) {
    auto r = send(make_file(20000));
    EXPECT_EQ(r.sent, 10200u);
    EXPECT_EQ(blocks.size(), 51u);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(ui.messages, std::vector<std::string>{kOutgoingFull});
}

TEST_F(SendFileTest, FileEndingRightAtLimitNeedsNoWarning) {
    auto r = send(make_file(10200));
    EXPECT_EQ(r.sent, 10200u);
    EXPECT_TRUE(ui.messages.empty());
    r = send(make_file(10001));
    EXPECT_EQ(r.sent, 10001u);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SendFileTest, PartialAcceptStops) {
    accept_limit = 120;
    auto r = send(make_file(1000));
    EXPECT_EQ(blocks.size(), 1u);
    EXPECT_EQ(r.sent, 120u);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(ui.messages, std::vector<std::string>{kOutgoingFull});
}

TEST_F(SendFileTest, MissingOrEmptyFile) {
    auto r = send(dir + "/nope");
    EXPECT_FALSE(r.opened);
    r = send(make_file(0));
    EXPECT_TRUE(r.opened);
    EXPECT_TRUE(blocks.empty());
    EXPECT_TRUE(ui.messages.empty());
}

TEST(ScreenText, RowsThenEmptyLine) {
    fake_screen s;
    s.cells[0][0] = 'A' | 0x800;
    s.cells[0][79] = 'Z';
    s.cells[5][3] = 'x' | 0x2000;
    std::string t = screen_text(s);
    ASSERT_EQ(t.size(), 24u * 81u + 1u);
    std::vector<std::string> lines;
    std::stringstream ss(t);
    for (std::string l; std::getline(ss, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[0], "A" + std::string(78, ' ') + "Z");
    EXPECT_EQ(lines[5], "   x" + std::string(76, ' '));
    EXPECT_EQ(lines[24], "");
    s.cols = 132;
    EXPECT_EQ(screen_text(s).size(), 24u * 133u + 1u);
}

TEST(ScreenText, WrittenToFileAndReplacesOld) {
    char tmpl[] = "/tmp/screentextXXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    ::write(fd, "old content that is longer than nothing", 39);
    ::close(fd);
    fake_screen s;
    s.cells[2][2] = 'k';
    ASSERT_TRUE(write_screen_text(tmpl, s));
    std::ifstream f(tmpl, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    EXPECT_EQ(ss.str(), screen_text(s));
    std::remove(tmpl);
    EXPECT_FALSE(write_screen_text("/nonexistent-dir/x.txt", s));
}

TEST(ScreenText, PrivateFileAndNoWritingThroughALink) {
    char tmpl[] = "/tmp/screenlinkXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    fake_screen s;
    const std::string own = dir + "/vt220090507.txt";
    ASSERT_TRUE(write_screen_text(own, s));
    struct stat st {};
    ASSERT_EQ(stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A link planted under the predictable name must not lead the screen into its target.
    const std::string victim = dir + "/victim";
    std::ofstream(victim) << "precious";
    const std::string planted = dir + "/vt220090508.txt";
    ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);
    EXPECT_FALSE(write_screen_text(planted, s));
    std::ifstream f(victim);
    std::string kept;
    std::getline(f, kept);
    EXPECT_EQ(kept, "precious");
    std::filesystem::remove_all(dir);
}

TEST(MailFileName, TimeDigits) {
    EXPECT_EQ(mail_file_name("/tmp/", 9, 5, 7), "/tmp/vt220090507.txt");
    EXPECT_EQ(mail_file_name("/var/tmp", 23, 59, 0), "/var/tmp/vt220235900.txt");
    EXPECT_EQ(mail_file_name("", 0, 0, 0), "/vt220000000.txt");
}

}  // namespace

TEST(ScreenText, Utf8CellsBecomeUtf8Text) {
    fake_screen s;
    s.cells[0][0] = cell_wide | cell_of_code(0x4E2D);
    s.cells[0][1] = cell_wide_right | cell_blank;
    s.cells[0][2] = cell_of_code(0x416);
    const std::string t = screen_text(s, true);
    EXPECT_EQ(t.substr(0, 6), "\xe4\xb8\xad\xd0\x96 ");
    EXPECT_EQ(t.find('\n'), 5u + 77u);  // the wide character once, then the 77 other cells
}
