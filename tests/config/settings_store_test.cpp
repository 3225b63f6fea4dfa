#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <type_traits>
#include <unistd.h>

#include "config/memory_backend.h"
#include "config/settings_store.h"
#include "fakes.h"

namespace {

// A start in a scratch folder that holds keys.map unless told otherwise.
struct store_fixture : ::testing::Test {
    scratch_dir cwd;
    memory_backend backend;
    recording_ui ui;
    fake_window window;
    StartupValues sv;
    Settings s;

    store_fixture() { cwd.write("keys.map", "UP \\033[A\n"); }

    load_report load() {
        s = Settings();
        load_options opt;
        opt.current_dir = cwd.str();
        opt.install_dirs = {cwd.file("no-such-install")};
        return load_settings(s, backend, sv, ui, &window, opt);
    }
    const memory_backend::value* stored(const std::string& key, const std::string& config = "1") {
        return backend.find(config_section(config), key);
    }
    int stored_int(const std::string& key, const std::string& config = "1") {
        auto* v = stored(key, config);
        return v && std::holds_alternative<int>(*v) ? std::get<int>(*v) : -999999;
    }
    std::string stored_text(const std::string& key, const std::string& config = "1") {
        auto* v = stored(key, config);
        return v && std::holds_alternative<std::string>(*v) ? std::get<std::string>(*v) : "<missing>";
    }
};

TEST_F(store_fixture, FreshUserWithoutConfigTxtTakesTableDefaults) {
    load_report r = load();
    EXPECT_TRUE(r.first_start);
    EXPECT_FALSE(r.imported);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(s.color_bg, 16777088);
    EXPECT_EQ(s.color_cursor, 8421504);
    EXPECT_EQ(s.color_bold, 128);
    EXPECT_EQ(s.pfontsize, -17);
    EXPECT_STREQ(s.font_name, "Courier New");
    EXPECT_EQ(s.myid, "QUILL_TELNET");
    EXPECT_EQ(s.proxy_syntax.size(), 9u);
    EXPECT_EQ(s.proxy_return, "\\015\\012");
    EXPECT_EQ(s.proxy_port, 1080);
    EXPECT_EQ(s.proxy_socks_enable, 1);
    EXPECT_EQ(s.keyname, cwd.file("keys.map"));
    EXPECT_EQ(s.nettopc, cwd.file("nettopc.map"));
    EXPECT_EQ(s.pctonet, cwd.file("pctonet.map"));
    EXPECT_EQ(s.dir, cwd.str());  // keys.map was found here
    EXPECT_EQ(s.newtoolbar[2].used, 0);
    EXPECT_EQ(s.newtoolbar[2].pos, 26);
    EXPECT_STREQ(s.newtoolbar[29].text, "Toolbar");
    // Nothing stored: the window opens normally, then the font is fitted.
    EXPECT_EQ(window.normal_shows, 1);
    EXPECT_EQ(window.placements, 0);
    EXPECT_EQ(window.fits, 1);
    EXPECT_EQ(backend.writes, 0);
}

TEST_F(store_fixture, ConfigTxtImportOnFirstStart) {
    cwd.write("config.old", "previous");
    cwd.write("config.txt", "# a comment = 5\n"
                            "color_bg = 0xFFFFFF\n"
                            "color_fg= 5\n"
                            "myid = \"HELLO WORLD\"\n"
                            "termtype = \"\"\n"
                            "proxy_host = \"unterminated\n"
                            "fontsize = -010\n"
                            "port = +2323\n"
                            "x_margin = abc\n"
                            "y_margin = 12abc\n"
                            "bell =\n"
                            "Custom_Key = 7\n"
                            "   confirm   =   0   trailing words\n"
                            "color_bold = 0xFFFFFFFF\n"
                            "font_italic = 0x1FFFFFFFF\n");
    load_report r = load();
    EXPECT_TRUE(r.imported);
    EXPECT_FALSE(r.rename_failed);
    EXPECT_EQ(stored_int("color_bg"), 16777215);
    EXPECT_FALSE(stored("color_fg"));  // no blank before "="
    EXPECT_EQ(stored_text("myid"), "HELLO WORLD");
    EXPECT_FALSE(stored("termtype"));    // empty quotes write nothing
    EXPECT_FALSE(stored("proxy_host"));  // no closing quote
    EXPECT_EQ(stored_int("fontsize"), -8);
    EXPECT_EQ(stored_int("port"), 2323);
    EXPECT_FALSE(stored("x_margin"));
    EXPECT_FALSE(stored("y_margin"));
    EXPECT_FALSE(stored("bell"));
    EXPECT_FALSE(stored("a"));
    EXPECT_EQ(stored_int("Custom_Key"), 7);
    EXPECT_EQ(stored_int("confirm"), 0);
    EXPECT_EQ(stored_int("color_bold"), -1);
    EXPECT_FALSE(stored("font_italic"));  // beyond 32 bits
    // The record reflects the import.
    EXPECT_EQ(s.color_bg, 16777215);
    EXPECT_EQ(s.myid, "HELLO WORLD");
    EXPECT_EQ(s.port, 2323);
    EXPECT_EQ(s.termtype, "vt220");
    // The file moved to config.old, replacing the old one.
    EXPECT_FALSE(cwd.exists("config.txt"));
    std::ifstream old(cwd.file("config.old"));
    std::string first;
    std::getline(old, first);
    EXPECT_EQ(first, "# a comment = 5");
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(store_fixture, KnownKeysMatchWhateverTheirCase) {
    cwd.write("config.txt", "PORT = 2323\n"
                            "ShowCmd = 3\n"
                            "NewToolbarUsed_20 = 1\n"
                            "Host_Hist = \"h0\"\n"
                            "ST = \"h7\"\n"
                            "Font_Name = \"Mono\"\n"
                            "Custom_Key = 7\n");
    load();
    EXPECT_EQ(stored_int("port"), 2323);
    EXPECT_EQ(stored_int("showCmd"), 3);
    EXPECT_EQ(stored_int("newtoolbarused_20"), 1);
    EXPECT_EQ(stored_text("host_hist"), "h0");
    EXPECT_EQ(stored_text("st"), "h7");
    EXPECT_FALSE(stored("PORT"));
    EXPECT_EQ(stored_int("Custom_Key"), 7);  // nobody reads it: kept as spelled
    EXPECT_EQ(s.port, 2323);
    EXPECT_EQ(s.newtoolbar[20].used, 1);
    EXPECT_EQ(s.host_hist[0], "h0");
    EXPECT_EQ(s.host_hist[7], "h7");
    EXPECT_STREQ(s.font_name, "Mono");
}

// Records, at each flush, whether config.txt was still in place and what had been stored.
struct flush_watching_backend : memory_backend {
    std::string config_txt;
    std::vector<std::pair<bool, std::size_t>> flushes;
    void flush() override { flushes.emplace_back(std::filesystem::exists(config_txt), size()); }
};

TEST_F(store_fixture, ImportIsFlushedBeforeConfigTxtMoves) {
    cwd.write("config.txt", "port = 2323\nmyid = \"X\"\n");
    flush_watching_backend b;
    b.config_txt = cwd.file("config.txt");
    load_options opt;
    opt.current_dir = cwd.str();
    opt.install_dirs = {cwd.file("none")};
    load_settings(s, b, sv, ui, &window, opt);
    ASSERT_FALSE(b.flushes.empty());
    EXPECT_TRUE(b.flushes[0].first);
    EXPECT_EQ(b.flushes[0].second, 2u);
    EXPECT_FALSE(cwd.exists("config.txt"));
}

TEST_F(store_fixture, OnlyRegularFilesCount) {
    // A FIFO named config.txt must not block the start; a folder named keys.map is not a key map.
    ASSERT_EQ(::mkfifo(cwd.file("config.txt").c_str(), 0600), 0);
    std::filesystem::remove(cwd.path / "keys.map");
    std::filesystem::create_directory(cwd.path / "keys.map");
    auto run = std::async(std::launch::async, [this] { return load(); });
    if (run.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Unblock the reader so the test ends, then fail.
        int fd = ::open(cwd.file("config.txt").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        run.wait();
        FAIL() << "load blocked on a FIFO";
    }
    load_report r = run.get();
    EXPECT_FALSE(r.imported);
    EXPECT_TRUE(r.files_missing);
    EXPECT_TRUE(cwd.exists("config.txt"));  // not renamed
    EXPECT_EQ(backend.writes, 0);
}

TEST_F(store_fixture, LongLinesArriveInPiecesOf79) {
    // 79 characters fill one read; the rest of the line is scanned as a line of its own.
    std::string pad(79 - std::strlen("port = 1 "), 'x');
    cwd.write("config.txt", "port = 1 " + pad + "bell = 0\n");
    load();
    EXPECT_EQ(stored_int("port"), 1);
    EXPECT_EQ(stored_int("bell"), 0);
}

TEST_F(store_fixture, LaterStartsImportOnlyWithOverwrite) {
    load();
    save_settings(s, backend, sv, &window);
    cwd.write("config.txt", "port = 99\n");
    load_report r = load();
    EXPECT_FALSE(r.first_start);
    EXPECT_FALSE(r.imported);
    EXPECT_EQ(s.port, 23);
    EXPECT_TRUE(cwd.exists("config.txt"));

    cwd.write("config.txt", "# OVERWRITE in a comment does not count\nport = 99\n");
    EXPECT_FALSE(load().imported);

    cwd.write("config.txt", "OVERWRITE\nport = 99\n");
    r = load();
    EXPECT_TRUE(r.imported);
    EXPECT_EQ(s.port, 99);
    EXPECT_FALSE(cwd.exists("config.txt"));
}

TEST_F(store_fixture, FailedRenameWarnsAndImportsAgain) {
    // A non-empty folder named config.old can be neither removed as a file nor replaced by a rename.
    std::filesystem::create_directory(cwd.path / "config.old");
    cwd.write("config.old/keep", "x");
    cwd.write("config.txt", "OVERWRITE\nport = 77\n");
    load_report r = load();
    EXPECT_TRUE(r.rename_failed);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], msg_rename_failed);
    EXPECT_TRUE(cwd.exists("config.txt"));
    save_settings(s, backend, sv, &window);
    backend.write_int(config_section("1"), "port", 1);

    r = load();
    EXPECT_FALSE(r.first_start);
    EXPECT_TRUE(r.imported);
    EXPECT_EQ(s.port, 77);

    // Only configurations whose name begins with "1" are told.
    ui.messages.clear();
    sv.config_name = "work";
    load();
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(store_fixture, NewConfigurationStartsFromConfigurationOne) {
    backend.write_int(config_section("1"), "color_bg", 42);
    backend.write_text(config_section("1"), "host_name", "one.example");
    backend.write_int(config_section("1"), "port", 2424);
    cwd.write("config.txt", "myid = \"WORK\"\n");
    sv.config_name = "work";
    load_report r = load();
    EXPECT_TRUE(r.first_start);
    // Values come from "1", except what config.txt imported into the new section.
    EXPECT_EQ(s.host_name, "one.example");
    EXPECT_EQ(s.port, 2424);
    EXPECT_EQ(s.myid, "WORK");
    EXPECT_EQ(stored_text("myid", "work"), "WORK");
    EXPECT_FALSE(stored("myid", "1"));

    save_settings(s, backend, sv, &window);
    EXPECT_EQ(stored_text("host_name", "work"), "one.example");
    EXPECT_EQ(stored_int("color_bg", "work"), 42);
    // The second start reads its own section.
    backend.write_int(config_section("1"), "port", 1);
    r = load();
    EXPECT_FALSE(r.first_start);
    EXPECT_EQ(s.port, 2424);
    EXPECT_EQ(s.myid, "WORK");

    // A name beginning with "1" never borrows.
    sv.config_name = "1b";
    load();
    EXPECT_EQ(s.host_name, "");
}

TEST_F(store_fixture, SaveSwitchNotBeginningWithZeroWritesNothing) {
    load();
    s.port = 4000;
    for (const char* sw : {"1", "", "x0"}) {
        sv.save_switch = sw;
        save_settings(s, backend, sv, &window);
        EXPECT_EQ(backend.writes, 0) << "switch '" << sw << "'";
        EXPECT_FALSE(backend.program_dir.has_value());
    }
    sv.save_switch = "0junk";
    save_settings(s, backend, sv, &window);
    EXPECT_EQ(stored_int("port"), 4000);
}

TEST_F(store_fixture, EveryKeyIsWrittenUnderItsOwnName) {
    load();
    save_settings(s, backend, sv, &window);
    const char* ints[] = {"color_fg",
                          "color_bg",
                          "color_cursor",
                          "color_bold",
                          "fontsize",
                          "font_weight",
                          "font_italic",
                          "font_charset",
                          "term_size",
                          "pfontsize",
                          "pfont_weight",
                          "pfont_italic",
                          "font_pcharset",
                          "askprint",
                          "x_margin",
                          "y_margin",
                          "rawprint",
                          "use_cv",
                          "numlock",
                          "ignore_app",
                          "bell",
                          "port",
                          "autoconnect",
                          "exit",
                          "confirm",
                          "proxy_port",
                          "proxy_enable",
                          "proxy_socks_enable",
                          "cursortype",
                          "blink_cursor",
                          "local_echo",
                          "host_echo",
                          "auto_wrap",
                          "new_line",
                          "wheel",
                          "wheel_lines",
                          "alt_meta",
                          "confirm_disconnect",
                          "auto_reconnect",
                          "telnet_keepalive",
                          "ssh_keepalive_max",
                          "scroll_bar",
                          "status_bar",
                          "knap_bar",
                          "ssh",
                          "ssh_type_1_2",
                          "ssh_encryption",
                          "ssh_default",
                          "ssh_algorithms",
                          "ssh_check_host_key",
                          "ssh_keepalive",
                          "ssh_identities_only",
                          "connect_timeout",
                          "utf8",
                          "bold_bright",
                          "clipboard_write",
                          "screen_size",
                          "scrollback_lines",
                          "ssh_agent_forward",
                          "ssh_send_locale",
                          "visual_bell",
                          "flags",
                          "showCmd",
                          "x1",
                          "y1",
                          "x2",
                          "y2"};
    const char* texts[] = {"font_name",
                           "pfont_name",
                           "myid",
                           "termtype",
                           "host_name",
                           "proxy_host",
                           "proxy_syntax",
                           "proxy_return",
                           "auto_search1",
                           "auto_response1",
                           "auto_search2",
                           "auto_response2",
                           "ssh_key_file",
                           "ssh_forwards",
                           "ssh_proxy_jump",
                           "keyname",
                           "pctonet",
                           "nettopc",
                           "ssh_user",
                           "ssh_password",
                           "host_hist",
                           "ost_hist",
                           "st_hist",
                           "t_hist",
                           "_hist",
                           "hist",
                           "ist",
                           "st"};
    std::size_t expected = std::size(ints) + std::size(texts) + 3 * toolbar_row_count;
    for (const char* k : ints) EXPECT_NE(stored_int(k), -999999) << k;
    for (const char* k : texts) EXPECT_NE(stored_text(k), "<missing>") << k;
    for (int n = 0; n < toolbar_row_count; ++n) {
        EXPECT_NE(stored_int("newtoolbarused_" + std::to_string(n)), -999999);
        EXPECT_NE(stored_int("newtoolbarpos_" + std::to_string(n)), -999999);
        EXPECT_NE(stored_text("newtoolbartext_" + std::to_string(n)), "<missing>");
    }
    EXPECT_EQ(backend.size(), expected);  // nothing under a misspelt extra name
    EXPECT_EQ(stored_text("proxy_syntax"), "$1 $2\\n\\r");
    EXPECT_EQ(stored_int("x2"), 810);
}

TEST_F(store_fixture, ChangedValuesSurviveSaveAndLoad) {
    load();
    s.color_fg = 0x123456;
    s.fontsize = 20;
    copy_fixed(s.font_name, "DejaVu Sans Mono");
    copy_fixed(s.pfont_name, "Printer Face");
    s.term_size = 132;
    s.termtype = "vt100";
    s.proxy_syntax = "CONNECT $1 $2\\015";
    s.auto_response2 = "secret\\015";
    s.ssh_type_1_2 = 1;
    s.keyname = "/tmp/other.map";
    for (int i = 0; i < host_history_count; ++i) s.host_hist[i] = "host" + std::to_string(i);
    save_settings(s, backend, sv, &window);
    load();
    EXPECT_EQ(s.color_fg, 0x123456);
    EXPECT_EQ(s.fontsize, 20);
    EXPECT_STREQ(s.font_name, "DejaVu Sans Mono");
    EXPECT_STREQ(s.pfont_name, "Printer Face");
    EXPECT_EQ(s.term_size, 132);
    EXPECT_EQ(s.termtype, "vt100");
    EXPECT_EQ(s.proxy_syntax, "CONNECT $1 $2\\015");
    EXPECT_EQ(s.auto_response2, "secret\\015");
    EXPECT_EQ(s.ssh_type_1_2, 1);
    EXPECT_EQ(s.keyname, "/tmp/other.map");
    EXPECT_EQ(stored_text("st"), "host7");
    EXPECT_EQ(stored_text("_hist"), "host4");
    for (int i = 0; i < host_history_count; ++i) EXPECT_EQ(s.host_hist[i], "host" + std::to_string(i));
}

TEST_F(store_fixture, SshCredentialsKeptOnlyWhenRemembered) {
    load();
    s.ssh_user = "alice";
    s.ssh_password = "pw";
    save_settings(s, backend, sv, &window);
    EXPECT_EQ(stored_text("ssh_user"), "");
    EXPECT_EQ(stored_text("ssh_password"), "");
    EXPECT_EQ(s.ssh_user, "alice");  // the running session keeps them
    s.ssh_default = 1;
    save_settings(s, backend, sv, &window);
    EXPECT_EQ(stored_text("ssh_user"), "alice");
    EXPECT_EQ(stored_text("ssh_password"), "pw");
}

// The default configuration forgets the user with the password; a saved session keeps its user name, the password
// only when remembered.
TEST_F(store_fixture, ASavedSessionKeepsItsUserNameAtExit) {
    load();
    s.ssh_user = "alice";
    s.ssh_password = "pw";
    s.config_name = "work";
    save_settings(s, backend, sv, &window);
    EXPECT_EQ(stored_text("ssh_user", "work"), "alice");
    EXPECT_EQ(stored_text("ssh_password", "work"), "");
    EXPECT_EQ(stored_text("ssh_user"), "<missing>");
}

TEST_F(store_fixture, StoredPlacementIsSanitised) {
    const char* keys[] = {"flags", "showCmd", "x1", "y1", "x2", "y2"};
    int values[] = {0, 2, 5000, 3000, 5800, 3600};
    for (int i = 0; i < 6; ++i) backend.write_int(config_section("1"), keys[i], values[i]);
    load();
    ASSERT_EQ(window.placements, 1);
    EXPECT_EQ(window.normal_shows, 0);
    EXPECT_EQ(window.applied.showCmd, 1);  // minimised comes back normal
    EXPECT_EQ(window.applied.x1, 1920 - 32);
    EXPECT_EQ(window.applied.y1, 1080 - 32);
    EXPECT_EQ(window.applied.x2, 5800);
    EXPECT_EQ(window.fits, 1);

    // One missing value: normal window, stored rectangle ignored.
    backend.values.erase({config_section("1"), "y2"});
    window.placements = 0;
    load();
    EXPECT_EQ(window.placements, 0);
    EXPECT_EQ(window.normal_shows, 1);
}

TEST_F(store_fixture, SaveTakesPlacementAndToolbarFromWindow) {
    load();
    window.collect = true;
    for (int n = 0; n < 30; ++n) {
        window.live[n].used = n < 3;
        window.live[n].pos = 29 - n;
        copy_fixed(window.live[n].text, "T" + std::to_string(n));
    }
    window.current = {2, 3, 1, 2, 3, 4};
    save_settings(s, backend, sv, &window);
    EXPECT_EQ(stored_int("showCmd"), 3);
    EXPECT_EQ(stored_int("y2"), 4);
    EXPECT_EQ(stored_int("newtoolbarused_2"), 1);
    EXPECT_EQ(stored_int("newtoolbarused_3"), 0);
    EXPECT_EQ(stored_int("newtoolbarpos_0"), 29);
    EXPECT_EQ(stored_text("newtoolbartext_20"), "T20");
}

TEST_F(store_fixture, ToolbarCaptionsAndFaceNamesAreBounded) {
    backend.write_int(config_section("1"), "color_bg", 0);
    backend.write_text(config_section("1"), "newtoolbartext_3", "Mine");
    backend.write_text(config_section("1"), "newtoolbartext_15", "Ten");
    backend.write_text(config_section("1"), "newtoolbartext_16", "");
    backend.write_text(config_section("1"), "newtoolbartext_17", std::string(60, 'y'));
    backend.write_text(config_section("1"), "font_name", std::string(45, 'f'));
    backend.write_text(config_section("1"), "pfont_name", std::string(38, 'p') + "\xc3\xa9");  // 38 + é = 40 bytes
    backend.write_int(config_section("1"), "newtoolbarused_5", 0);
    backend.write_int(config_section("1"), "font_pcharset", 0x1234);
    load();
    EXPECT_STREQ(s.newtoolbar[3].text, "Copy");  // the first 15 captions are fixed
    EXPECT_STREQ(s.newtoolbar[15].text, "Ten");
    EXPECT_STREQ(s.newtoolbar[16].text, "F10");  // an empty caption keeps the default
    EXPECT_EQ(std::string(s.newtoolbar[17].text), std::string(39, 'y'));
    EXPECT_EQ(std::string(s.font_name), std::string(39, 'f'));
    EXPECT_EQ(std::string(s.pfont_name), std::string(38, 'p'));  // never half a character
    EXPECT_EQ(s.newtoolbar[5].used, 0);
    EXPECT_EQ(s.font_pcharset, 0x34);
}

// The scroll-back length is kept inside its bounds both ways: a hand-edited file cannot ask for a million lines,
// and a value set in memory is written clamped.
TEST_F(store_fixture, ScrollbackLinesStayInsideTheirBounds) {
    load();
    EXPECT_EQ(s.scrollback_lines, 199);
    EXPECT_EQ(s.screen_size, 0);
    const struct {
        int stored, loaded;
    } cases[] = {{-5, 24},     {0, 24},          {23, 24},         {24, 24},
                 {5000, 5000}, {100000, 100000}, {100001, 100000}, {2000000000, 100000}};
    for (const auto& c : cases) {
        backend.write_int(config_section("1"), "scrollback_lines", c.stored);
        load();
        EXPECT_EQ(s.scrollback_lines, c.loaded) << "stored " << c.stored;
    }
    s.scrollback_lines = 7;
    s.screen_size = 1;
    save_settings(s, backend, sv, &window);
    EXPECT_EQ(stored_int("scrollback_lines"), 24);
    EXPECT_EQ(stored_int("screen_size"), 1);
    s.scrollback_lines = 1 << 30;
    save_settings(s, backend, sv, &window);
    EXPECT_EQ(stored_int("scrollback_lines"), 100000);
}

TEST_F(store_fixture, CommandLineOverridesAreSaved) {
    sv.host = "myhost";
    sv.port = "2323/";
    sv.no_toolbar = true;
    load();
    EXPECT_EQ(s.host_name, "myhost");
    EXPECT_EQ(s.autoconnect, 1);
    EXPECT_EQ(s.port, 2323);
    EXPECT_EQ(s.knap_bar, 0);
    save_settings(s, backend, sv, &window);
    EXPECT_EQ(stored_text("host_name"), "myhost");
    EXPECT_EQ(stored_int("autoconnect"), 1);
    EXPECT_EQ(stored_int("port"), 2323);

    // A port text without a leading number, or out of range, changes nothing.
    sv = StartupValues();
    backend.write_int(config_section("1"), "port", 23);
    for (const char* p : {"abc", "99999", "-5"}) {
        sv.port = p;
        load();
        EXPECT_EQ(s.port, 23) << p;
    }
}

TEST_F(store_fixture, DirectorySearchOrder) {
    scratch_dir remembered, install;
    std::filesystem::remove(cwd.path / "keys.map");
    load_options opt;
    opt.current_dir = cwd.str();
    opt.install_dirs = {install.str()};

    // Nowhere: the message, start-up goes on.
    load_report r = load_settings(s, backend, sv, ui, &window, opt);
    EXPECT_TRUE(r.files_missing);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], msg_files_missing);

    // In the install folder: it becomes the program directory and the map defaults point there.
    install.write("keys.map", "");
    ui.messages.clear();
    s = Settings();
    r = load_settings(s, backend, sv, ui, &window, opt);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(s.dir, install.str());
    EXPECT_EQ(r.current_dir, install.str());
    EXPECT_EQ(s.keyname, install.file("keys.map"));

    // The remembered program directory comes before the install folders.
    remembered.write("keys.map", "");
    backend.program_dir = remembered.str();
    s = Settings();
    r = load_settings(s, backend, sv, ui, &window, opt);
    EXPECT_EQ(r.current_dir, remembered.str());
    EXPECT_EQ(s.pctonet, remembered.file("pctonet.map"));
}

TEST_F(store_fixture, ProgramDirWrittenOnlyWhenAbsent) {
    load();
    save_settings(s, backend, sv, &window);
    EXPECT_EQ(backend.program_dir, cwd.str());
    backend.program_dir = "/elsewhere";
    load();  // not a first start: no search, the remembered value stays
    EXPECT_EQ(s.dir, "/elsewhere");
    s.dir = "/changed";
    save_settings(s, backend, sv, &window);
    EXPECT_EQ(backend.program_dir, "/elsewhere");
}

TEST_F(store_fixture, ResetConfiguration) {
    load();
    // Every integer field away from both its default and its reset value, so any field reset wrongly or not at all
    // shows.
    struct int_field {
        const char* name;
        int Settings::*field;
        int reset;  // the value after a reset; unset_marker: untouched
    };
    constexpr int unset_marker = 0x7EADBEEF;
    const int_field ints[] = {
        {"color_fg", &Settings::color_fg, 0},
        {"color_bg", &Settings::color_bg, 0xFFFF80},
        {"color_cursor", &Settings::color_cursor, 0x505050},
        {"color_bold", &Settings::color_bold, 0x208020},
        {"fontsize", &Settings::fontsize, 12},
        {"font_weight", &Settings::font_weight, 0},
        {"font_italic", &Settings::font_italic, 0},
        {"font_charset", &Settings::font_charset, unset_marker},
        {"term_size", &Settings::term_size, 80},
        {"pfontsize", &Settings::pfontsize, unset_marker},
        {"askprint", &Settings::askprint, unset_marker},
        {"bell", &Settings::bell, unset_marker},
        {"port", &Settings::port, 23},
        {"autoconnect", &Settings::autoconnect, 0},
        {"exit", &Settings::exit, unset_marker},
        {"confirm", &Settings::confirm, unset_marker},
        {"proxy_port", &Settings::proxy_port, 1080},
        {"proxy_enable", &Settings::proxy_enable, 0},
        {"proxy_socks_enable", &Settings::proxy_socks_enable, unset_marker},
        {"cursortype", &Settings::cursortype, unset_marker},
        {"local_echo", &Settings::local_echo, 0},
        {"host_echo", &Settings::host_echo, 0},
        {"auto_wrap", &Settings::auto_wrap, 1},
        {"new_line", &Settings::new_line, 0},
        {"knap_bar", &Settings::knap_bar, unset_marker},
        {"ssh", &Settings::ssh, unset_marker},
        {"ssh_default", &Settings::ssh_default, unset_marker},
    };
    struct text_field {
        const char* name;
        std::string Settings::*field;
        const char* reset;  // null: untouched
    };
    const text_field texts[] = {
        {"termtype", &Settings::termtype, "vt220"},
        {"host_name", &Settings::host_name, ""},
        {"proxy_host", &Settings::proxy_host, "myproxy"},
        {"proxy_syntax", &Settings::proxy_syntax, "$1 $2\\n\\r"},
        {"auto_search1", &Settings::auto_search1, ""},
        {"auto_response1", &Settings::auto_response1, ""},
        {"auto_search2", &Settings::auto_search2, ""},
        {"auto_response2", &Settings::auto_response2, ""},
        {"myid", &Settings::myid, nullptr},
        {"proxy_return", &Settings::proxy_return, nullptr},
        {"keyname", &Settings::keyname, nullptr},
        {"ssh_user", &Settings::ssh_user, nullptr},
    };
    for (const auto& f : ints) s.*f.field = 777;
    for (const auto& f : texts) s.*f.field = "changed";
    copy_fixed(s.font_name, "Other");
    copy_fixed(s.pfont_name, "Other");
    s.host_hist[0] = "kept";

    ui.answer = false;
    EXPECT_FALSE(reset_configuration(s, ui, &window));
    EXPECT_EQ(s.color_cursor, 777);
    EXPECT_EQ(window.relayouts, 0);
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], msg_reset_question);

    ui.answer = true;
    int writes = backend.writes;
    EXPECT_TRUE(reset_configuration(s, ui, &window));
    for (const auto& f : ints) EXPECT_EQ(s.*f.field, f.reset == unset_marker ? 777 : f.reset) << f.name;
    for (const auto& f : texts) EXPECT_EQ(s.*f.field, f.reset ? f.reset : "changed") << f.name;
    EXPECT_STREQ(s.font_name, "Courier");
    EXPECT_STREQ(s.pfont_name, "Other");
    EXPECT_EQ(s.host_hist[0], "kept");
    EXPECT_EQ(window.relayouts, 1);
    EXPECT_EQ(backend.writes, writes);  // saved at exit like any other change
}

TEST(memory_backend_test, TypesAndSections) {
    memory_backend b;
    b.write_text("Version 1.0/1", "port", "2323");
    b.write_text("Version 1.0/1", "bad", "23x");
    b.write_int("Version 1.0/1", "n", -5);
    b.write_int("Version 1.0/10", "n", 10);
    b.write_int("Version 1.0/1/sub", "n", 11);
    EXPECT_EQ(b.read_int("Version 1.0/1", "port", 0), 2323);
    EXPECT_EQ(b.read_int("Version 1.0/1", "bad", 7), 7);
    EXPECT_EQ(b.read_text("Version 1.0/1", "n", ""), "-5");
    EXPECT_EQ(b.read_int("Version 1.0/2", "n", 3), 3);
    EXPECT_TRUE(b.remove_section("Version 1.0/1"));
    EXPECT_EQ(b.size(), 1u);  // "1/sub" went with "1"; "10" is another section
    EXPECT_EQ(b.read_int("Version 1.0/10", "n", 0), 10);
    EXPECT_FALSE(b.remove_section("Version 1.0/1"));
}

// A launch connects for the run; at save every launch field the user left alone goes back to its stored value,
// and one the user changed during the run is kept.
TEST_F(store_fixture, ALaunchNeverReachesTheStoredSettings) {
    load();
    s.host_name = "stored.example";
    s.port = 2300;
    s.ssh_user = "kept";
    s.ssh_default = 1;
    s.ssh_proxy_jump = "gate.example";  // the way to stored.example
    save_settings(s, backend, sv, &window);
    std::string why;
    ASSERT_TRUE(parse_launch_url("ssh://alice@new.example:2222", sv.launch, why)) << why;
    load();
    EXPECT_EQ(s.host_name, "new.example");
    EXPECT_EQ(s.ssh_proxy_jump, "") << "another host is not reached through the stored host's jump hosts";
    EXPECT_EQ(s.port, 2222);
    EXPECT_EQ(s.ssh, 1);
    EXPECT_EQ(s.ssh_type_1_2, 1);
    EXPECT_EQ(s.ssh_user, "alice");
    EXPECT_EQ(s.autoconnect, 1);
    s.ssh_key_file = "/changed/during/run";
    save_settings(s, backend, sv, &window);
    EXPECT_EQ(stored_text("host_name"), "stored.example");
    EXPECT_EQ(stored_int("port"), 2300);
    EXPECT_EQ(stored_int("ssh"), 0);
    EXPECT_EQ(stored_int("autoconnect"), 0);
    EXPECT_EQ(stored_text("ssh_user"), "kept");
    EXPECT_EQ(stored_text("ssh_key_file"), "/changed/during/run");
    EXPECT_EQ(stored_text("ssh_proxy_jump"), "gate.example");
    // A protocol alone takes that protocol's port.
    sv.launch = {};
    sv.launch.given = true;
    sv.launch.proto = launch_target::protocol::telnet;
    sv.launch.host = "t.example";
    load();
    EXPECT_EQ(s.port, 23);
    EXPECT_EQ(s.ssh, 0);
}

}  // namespace

// Each plain key, at a value other than its default, comes back from the store into its own field: a new line in
// the key list needs nothing more to be kept.
TEST_F(store_fixture, EveryPlainKeySurvivesSaveAndLoad) {
    load();
    int n = 0;
    auto changed = [&n](auto& field) {
        ++n;
        if constexpr (std::is_same_v<std::remove_reference_t<decltype(field)>, int>)
            field = 24 + 7 * n;  // inside the scroll-back bounds, different for every key
        else
            field = "value " + std::to_string(n);
    };
#define STORED(name, type, def) changed(s.name);
#include "config/setting_keys.def"
    const Settings wanted = s;
    save_settings(s, backend, sv, &window);
    load();
#define STORED(name, type, def) EXPECT_EQ(s.name, wanted.name) << #name;
#include "config/setting_keys.def"
    EXPECT_GT(n, 70);
}
