#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "adapters/qsettings_backend.h"
#include "config/settings_store.h"

namespace {

// XDG_CONFIG_HOME must point into a scratch folder before QSettings looks for it.
QTemporaryDir* g_home = nullptr;

struct qt_environment : ::testing::Environment {
    QCoreApplication* app = nullptr;
    void SetUp() override {
        g_home = new QTemporaryDir();
        ASSERT_TRUE(g_home->isValid());
        setenv("XDG_CONFIG_HOME", g_home->path().toLocal8Bit().constData(), 1);
        static int argc = 1;
        static char name[] = "qsettings_backend_tests";
        static char* argv[] = {name, nullptr};
        app = new QCoreApplication(argc, argv);
    }
    void TearDown() override {
        delete app;
        delete g_home;
    }
};
[[maybe_unused]] auto* const g_env = ::testing::AddGlobalTestEnvironment(new qt_environment);

struct silent_ui : ui_services {
    std::vector<std::string> messages;
    void message_box(std::string_view t) override { messages.emplace_back(t); }
    bool ask_yes_no(std::string_view) override { return true; }
};

QString config_file(const QString& program) { return g_home->path() + "/QuillSoft/" + program + ".conf"; }

QString file_text(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

struct scratch_cwd {
    QTemporaryDir dir;
    std::string str() const { return dir.path().toStdString(); }
    void write(const char* name, const std::string& text) const {
        std::ofstream(str() + "/" + name, std::ios::binary) << text;
    }
};

TEST(qsettings_backend_test, PerUserFileUnderXdgConfig) {
    {
        qsettings_backend b(QStringLiteral("qt_a"));
        EXPECT_EQ(b.file_name(), config_file("qt_a"));
        b.write_int("Version 1.0/1", "port", 2323);
        b.write_text("Version 1.0/1", "host_name", "example.org");
        b.write_program_dir("/opt/prog");
        b.flush();
    }
    QString text = file_text(config_file("qt_a"));
    // Integers are plain numbers in the file, not quoted or wrapped.
    EXPECT_TRUE(text.contains(QStringLiteral("\n1\\port=2323\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\n1\\host_name=example.org\n"))) << text.toStdString();
    EXPECT_TRUE(file_text(config_file("telnet")).contains(QStringLiteral("dir=/opt/prog")));

    qsettings_backend again(QStringLiteral("qt_a"));
    EXPECT_EQ(again.read_int("Version 1.0/1", "port", 0), 2323);
    EXPECT_EQ(again.read_text("Version 1.0/1", "host_name", ""), "example.org");
    EXPECT_EQ(again.read_int("Version 1.0/1", "missing", -1), -1);
    EXPECT_EQ(again.read_text("Version 1.0/2", "host_name", "dflt"), "dflt");
    EXPECT_EQ(again.read_program_dir(), std::optional<std::string>("/opt/prog"));
}

TEST(qsettings_backend_test, AwkwardTextsAndTypeMismatches) {
    const std::string texts[] = {"$1 $2\\n\\r", "\\015\\012",      "a, b, c",     "  padded  ",  "#not a comment",
                                 ";semi",       "quote \" inside", "caf\xc3\xa9", "@Variant(x)", ""};
    {
        qsettings_backend b(QStringLiteral("qt_b"));
        for (std::size_t i = 0; i < std::size(texts); ++i)
            b.write_text("Version 1.0/1", "t" + std::to_string(i), texts[i]);
        b.write_text("Version 1.0/1", "numtext", "42");
        b.write_text("Version 1.0/1", "badnum", "42x");
        b.write_text("Version 1.0/1", "latin1", "B\xfcro");
        b.write_text("Version 1.0/1", "replacement", "a\xef\xbf\xbd");
        b.write_int("Version 1.0/1", "neg", -17);
    }
    qsettings_backend b(QStringLiteral("qt_b"));
    for (std::size_t i = 0; i < std::size(texts); ++i)
        EXPECT_EQ(b.read_text("Version 1.0/1", "t" + std::to_string(i), "?"), texts[i]) << i;
    EXPECT_EQ(b.read_int("Version 1.0/1", "numtext", 0), 42);
    // A Latin-1 text (config.txt from another editor) keeps its characters, read back as UTF-8.
    EXPECT_EQ(b.read_text("Version 1.0/1", "latin1", ""), "B\xc3\xbcro");
    EXPECT_EQ(b.read_text("Version 1.0/1", "replacement", ""), "a\xef\xbf\xbd");
    EXPECT_EQ(b.read_int("Version 1.0/1", "badnum", 5), 5);
    EXPECT_EQ(b.read_int("Version 1.0/1", "neg", 0), -17);
    EXPECT_EQ(b.read_text("Version 1.0/1", "neg", ""), "-17");
}

TEST(qsettings_backend_test, RemoveSectionKeepsOthers) {
    qsettings_backend b(QStringLiteral("qt_c"));
    b.write_int("Version 1.0/1", "port", 1);
    b.write_int("Version 1.0/10", "port", 10);
    b.write_int("Version 1.0/work", "port", 3);
    EXPECT_TRUE(b.remove_section("Version 1.0/1"));
    EXPECT_FALSE(b.remove_section("Version 1.0/1"));
    EXPECT_EQ(b.read_int("Version 1.0/1", "port", -1), -1);
    EXPECT_EQ(b.read_int("Version 1.0/10", "port", -1), 10);
    qsettings_backend reread(QStringLiteral("qt_c"));
    EXPECT_EQ(reread.read_int("Version 1.0/1", "port", -1), -1);
    EXPECT_EQ(reread.read_int("Version 1.0/work", "port", -1), 3);
}

// The sessions of the Connect dialog: every section with keys of its own, nested ones too, and a copy that keeps
// the values' types and leaves the sections below the copied one behind.
TEST(qsettings_backend_test, SectionsAreListedAndCopied) {
    QString path = g_home->path() + "/sections.ini";
    {
        auto b = qsettings_backend::from_file(path);
        b->write_program_dir("/x");
        b->write_int("Version 1.0/1", "port", 23);
        b->write_text("Version 1.0/my work", "host_name", "a, b");
        b->write_int("Version 1.0/my work", "port", 2222);
        b->write_int("Version 1.0/my work/2", "port", 7);
        b->flush();
    }
    auto b = qsettings_backend::from_file(path);
    std::vector<std::string> names = b->sections();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Version 1.0/1", "Version 1.0/my work", "Version 1.0/my work/2"}));
    EXPECT_FALSE(b->copy_section("Version 1.0/none", "Version 1.0/copy"));
    ASSERT_TRUE(b->copy_section("Version 1.0/my work", "Version 1.0/copy"));
    b->flush();
    auto reread = qsettings_backend::from_file(path);
    EXPECT_EQ(reread->read_int("Version 1.0/copy", "port", 0), 2222);
    EXPECT_EQ(reread->read_text("Version 1.0/copy", "host_name", ""), "a, b");
    EXPECT_EQ(reread->read_int("Version 1.0/copy/2", "port", -1), -1);
    EXPECT_EQ(reread->sections().size(), 4u);
    EXPECT_TRUE(file_text(path).contains(QStringLiteral("port=2222")));  // a number, not a quoted text
}

// The whole store through a real file: first start with config.txt, a saved run, the next start.
TEST(qsettings_backend_test, LoadSaveThroughTheFile) {
    scratch_cwd cwd;
    cwd.write("keys.map", "UP \\033[A\n");
    cwd.write("config.txt", "host_name = \"unix.example\"\ncolor_bg = 0xFFFFFF\nmyid = \"MY ID\"\nshortcut_desc = 1\n");
    silent_ui ui;
    StartupValues sv;
    load_options opt;
    opt.current_dir = cwd.str();
    opt.install_dirs = {cwd.str() + "/none"};
    QFile::remove(config_file("telnet"));
    {
        qsettings_backend b(QStringLiteral("qt_d"));
        Settings s;
        load_report r = load_settings(s, b, sv, ui, nullptr, opt);
        EXPECT_TRUE(r.first_start);
        EXPECT_TRUE(r.imported);
        EXPECT_EQ(s.host_name, "unix.example");
        EXPECT_EQ(s.color_bg, 0xFFFFFF);
        EXPECT_EQ(s.myid, "MY ID");
        s.port = 2323;
        s.host_hist[7] = "oldest";
        copy_fixed(s.font_name, "DejaVu Sans Mono");
        s.proxy_syntax = "CONNECT $1:$2 HTTP/1.0\\015\\012\\015\\012";
        save_settings(s, b, sv, nullptr);
    }
    QString text = file_text(config_file("qt_d"));
    EXPECT_TRUE(text.contains(QStringLiteral("\n1\\port=2323\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\n1\\st=oldest\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n1\\shortcut_desc=1\n")));  // stored as spelled, never used
    EXPECT_TRUE(text.contains(QStringLiteral("\n1\\newtoolbartext_29=Toolbar\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n1\\color_bg=16777215\n")));

    qsettings_backend b(QStringLiteral("qt_d"));
    Settings s;
    load_report r = load_settings(s, b, sv, ui, nullptr, opt);
    EXPECT_FALSE(r.first_start);
    EXPECT_EQ(s.port, 2323);
    EXPECT_EQ(s.host_hist[7], "oldest");
    EXPECT_STREQ(s.font_name, "DejaVu Sans Mono");
    EXPECT_EQ(s.proxy_syntax, "CONNECT $1:$2 HTTP/1.0\\015\\012\\015\\012");
    EXPECT_EQ(s.myid, "MY ID");
    EXPECT_EQ(s.keyname, cwd.str() + "/keys.map");
    // `dir` was absent, so the first save stored where keys.map was found.
    EXPECT_EQ(b.read_program_dir(), std::optional<std::string>(cwd.str()));
    EXPECT_TRUE(ui.messages.empty());
}

TEST(qsettings_backend_test, NewConfigurationStartsFromConfigurationOne) {
    scratch_cwd cwd;
    cwd.write("keys.map", "");
    silent_ui ui;
    load_options opt;
    opt.current_dir = cwd.str();
    opt.install_dirs = {cwd.str()};
    StartupValues one;
    {
        qsettings_backend b(QStringLiteral("qt_f"));
        Settings s;
        load_settings(s, b, one, ui, nullptr, opt);
        s.host_name = "one.example";
        s.port = 2424;
        save_settings(s, b, one, nullptr);
    }
    StartupValues work;
    work.config_name = "my work/2";  // a blank and a slash in the name
    {
        qsettings_backend b(QStringLiteral("qt_f"));
        Settings s;
        EXPECT_TRUE(load_settings(s, b, work, ui, nullptr, opt).first_start);
        EXPECT_EQ(s.host_name, "one.example");
        EXPECT_EQ(s.port, 2424);
        s.port = 2525;
        save_settings(s, b, work, nullptr);
    }
    qsettings_backend b(QStringLiteral("qt_f"));
    Settings s;
    EXPECT_FALSE(load_settings(s, b, work, ui, nullptr, opt).first_start);
    EXPECT_EQ(s.port, 2525);
    EXPECT_EQ(s.host_name, "one.example");
    load_settings(s, b, one, ui, nullptr, opt);
    EXPECT_EQ(s.port, 2424);  // configuration "1" untouched
    EXPECT_TRUE(b.remove_section(config_section("my work/2")));
    EXPECT_EQ(b.read_int(config_section("1"), "port", 0), 2424);
}

TEST(qsettings_backend_test, FreshUserDefaultsAndNoSaveSwitch) {
    scratch_cwd cwd;
    silent_ui ui;
    StartupValues sv;
    sv.save_switch = "1";
    load_options opt;
    opt.current_dir = cwd.str();
    opt.install_dirs = {cwd.str()};
    qsettings_backend b(QStringLiteral("qt_e"));
    Settings s;
    s.port = 1;
    load_report r = load_settings(s, b, sv, ui, nullptr, opt);
    EXPECT_TRUE(r.first_start);
    EXPECT_FALSE(r.imported);
    EXPECT_EQ(s.port, 23);
    EXPECT_EQ(s.color_bg, 0xFFFF80);
    EXPECT_EQ(s.flags, -1);
    EXPECT_EQ(s.proxy_return, "\\015\\012");
    s.port = 99;
    save_settings(s, b, sv, nullptr);
    b.flush();
    EXPECT_FALSE(QFile::exists(config_file("qt_e")));
}

TEST(qsettings_backend_test, ExplicitFileKeepsDirInside) {
    QString path = g_home->path() + "/explicit.ini";
    {
        auto b = qsettings_backend::from_file(path);
        b->write_program_dir("/x");
        b->write_int("Version 1.0/1", "port", 7);
    }
    auto b = qsettings_backend::from_file(path);
    EXPECT_EQ(b->read_program_dir(), std::optional<std::string>("/x"));
    EXPECT_EQ(b->read_int("Version 1.0/1", "port", 0), 7);
    EXPECT_TRUE(file_text(path).contains(QStringLiteral("dir=/x")));
}

// ---- files that are not what they should be -------------------------------------------------------------------

int mode_of(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

TEST(qsettings_backend_test, AFifoAtTheSettingsPathIsRefusedAndLeftAlone) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/qtelnet.conf";
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    ::alarm(20);  // a read of the FIFO would block for ever: fail instead of hanging
    auto b = qsettings_backend::from_file(path);
    EXPECT_EQ(b->read_int("Version 1.0/1", "port", 23), 23);
    b->write_int("Version 1.0/1", "port", 2323);
    b->flush();
    ::alarm(0);
    EXPECT_NE(b->load_problem().find(path.toStdString()), std::string::npos) << b->load_problem();
    EXPECT_NE(b->load_problem().find("FIFO"), std::string::npos);
    EXPECT_NE(b->save_problem().find(path.toStdString()), std::string::npos) << "the lost save is told too";
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO is untouched";
}

TEST(qsettings_backend_test, AFailedSaveIsToldWithThePlaceAndTheReason) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/qtelnet.conf";
    auto b = qsettings_backend::from_file(path);
    b->write_int("Version 1.0/1", "port", 1);
    b->flush();
    ASSERT_EQ(b->save_problem(), "");

    // Replaced by a link to something that is no file while the program runs (a device would swallow the writes;
    // a FIFO of our own stands in for it, so a faulty save cannot harm the machine's /dev).
    const QString fifo = dir.path() + "/fifo";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::link(fifo, path));
    ::alarm(20);
    b->write_int("Version 1.0/1", "port", 2);
    b->flush();
    ::alarm(0);
    EXPECT_NE(b->save_problem().find(path.toStdString()), std::string::npos) << b->save_problem();
    EXPECT_NE(b->save_problem().find("FIFO"), std::string::npos) << b->save_problem();
    EXPECT_EQ(QFileInfo(path).symLinkTarget(), fifo);

    // A folder that cannot be made (a file stands in its way).
    const QString blocker = dir.path() + "/blocker";
    ASSERT_TRUE(QFile(blocker).open(QIODevice::WriteOnly));
    auto c = qsettings_backend::from_file(blocker + "/sub/qtelnet.conf");
    c->write_int("Version 1.0/1", "port", 3);
    c->flush();
    EXPECT_NE(c->save_problem().find("cannot be created"), std::string::npos) << c->save_problem();
}

TEST(qsettings_backend_test, FileAndFolderAreCreatedOwnerOnly) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/QuillSoft";
    const QString path = folder + "/qtelnet.conf";
    const mode_t old = ::umask(022);
    auto b = qsettings_backend::from_file(path);
    b->write_text("Version 1.0/1", "host_name", "unix1");
    b->flush();
    ::umask(old);
    EXPECT_EQ(b->save_problem(), "");
    EXPECT_EQ(mode_of(folder), 0700);
    EXPECT_EQ(mode_of(path), 0600);
}

}  // namespace
