// Saved sessions over the named configurations of the settings store.
#include <gtest/gtest.h>

#include "config/memory_backend.h"
#include "config/mycli.h"
#include "config/sessions.h"
#include "config/settings_store.h"
#include "fakes.h"

namespace {

using sessions::connection;
using sessions::outcome;
using sessions::protocol;

struct SessionsTest : ::testing::Test {
    scratch_dir cwd;
    memory_backend backend;
    recording_ui ui;

    // A configuration as an exit would leave it.
    void saved(const std::string& name, const connection& c, int ssh_default = 1) {
        Settings s;
        sessions::apply(c, s);
        s.ssh_default = ssh_default;
        write_configuration(s, backend, name);
    }
    Settings start(const std::vector<std::string>& args) {
        StartupValues sv;
        mycli cli(sv);
        EXPECT_TRUE(cli.parse(args)) << cli.error();
        Settings s;
        load_options opt;
        opt.current_dir = cwd.str();
        opt.install_dirs = {cwd.str()};
        load_settings(s, backend, sv, ui, nullptr, opt);
        return s;
    }
    std::string text(const std::string& name, const char* key) {
        const auto* v = backend.find(config_section(name), key);
        if (!v) return "<missing>";
        if (const auto* i = std::get_if<int>(v)) return "int " + std::to_string(*i);
        return std::get<std::string>(*v);
    }
};

TEST(SessionProtocol, StoredValuesMapToThreeChoicesAndBack) {
    const struct {
        int ssh, type;
        protocol p;
        int port;
    } rows[] = {
        {0, 0, protocol::telnet, 23}, {0, 1, protocol::telnet, 23}, {1, 1, protocol::ssh2, 22},
        {1, 0, protocol::ssh1, 22},   {5, 2, protocol::ssh1, 22},  // out of range: what the engine makes of them
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.ssh) + "/" + std::to_string(r.type));
        EXPECT_EQ(sessions::protocol_of(r.ssh, r.type), r.p);
        EXPECT_EQ(sessions::default_port(r.p), r.port);
        Settings s;
        s.ssh_type_1_2 = 7;
        sessions::apply({"h", 1, r.p, "", "", "vt100"}, s);
        EXPECT_EQ(sessions::protocol_of(s.ssh, s.ssh_type_1_2), r.p);
        // Telnet keeps the SSH version the user chose before.
        if (r.p == protocol::telnet) {
            EXPECT_EQ(s.ssh_type_1_2, 7);
        }
    }
    Settings odd;
    odd.ssh = 5;
    odd.ssh_type_1_2 = 2;
    sessions::set_protocol(odd, protocol::ssh1);  // already SSH-1 as far as the engine goes: left as stored
    EXPECT_EQ(odd.ssh, 5);
    EXPECT_EQ(odd.ssh_type_1_2, 2);
    EXPECT_EQ(sessions::new_connection(protocol::ssh1), (connection{"", 22, protocol::ssh2, "", "", "xterm-256color"}));
    EXPECT_EQ(sessions::new_connection(protocol::telnet),
              (connection{"", 23, protocol::telnet, "", "", "xterm-256color"}));
}

TEST_F(SessionsTest, NamesAreTheConfigurationSectionsSorted) {
    EXPECT_TRUE(sessions::names(backend).empty());
    saved("work", {});
    saved("1", {});
    saved("my work/2", {});  // `/C "my work/2"` nests a section
    backend.write_text("Version 1.0", "stray", "x");
    backend.write_text("Version 1.00/x", "stray", "x");
    backend.write_text("other", "stray", "x");
    // The default configuration is the program's own, not one of the user's sessions.
    EXPECT_EQ(sessions::names(backend), (std::vector<std::string>{"my work/2", "work"}));
}

TEST_F(SessionsTest, SaveAsWritesTheWholeRecordAndLoadGivesTheConnectionBack) {
    Settings s;
    s.color_bg = 0x123456;
    const connection c{"unix1.example", 2222, protocol::ssh2, "alice", "/home/a/.ssh/id_ed25519", "xterm"};
    sessions::apply(c, s);
    s.ssh_default = 1;
    s.config_name = "1";
    ASSERT_EQ(sessions::save_as(backend, s, "  unix1 "), outcome::done);
    EXPECT_EQ(text("unix1", "host_name"), "unix1.example");
    EXPECT_EQ(text("unix1", "port"), "int 2222");
    EXPECT_EQ(text("unix1", "ssh"), "int 1");
    EXPECT_EQ(text("unix1", "ssh_type_1_2"), "int 1");
    EXPECT_EQ(text("unix1", "ssh_user"), "alice");
    EXPECT_EQ(text("unix1", "ssh_key_file"), "/home/a/.ssh/id_ed25519");
    EXPECT_EQ(text("unix1", "termtype"), "xterm");
    EXPECT_EQ(text("unix1", "color_bg"), "int 1193046");  // the rest of the record too
    EXPECT_EQ(sessions::load(backend, "unix1", cwd.str()), c);
    EXPECT_EQ(s.config_name, "1");  // the configuration in use stays
}

// A session keeps its user name whether or not the password was remembered; the password only with "remember".
TEST_F(SessionsTest, SaveAsKeepsTheUserNameAndThePasswordOnlyWhenRemembered) {
    const struct {
        const char* name;
        int remember;
        const char* user;
        const char* password;
    } rows[] = {
        {"forget", 0, "sshtest", ""},
        {"remember", 1, "sshtest", "secret"},
        {"nobody", 0, "", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Settings s;
        sessions::apply({"h.example", 22, protocol::ssh2, "sshtest", "", "xterm"}, s);
        if (*r.user == 0) s.ssh_user.clear();
        s.ssh_password = "secret";
        s.ssh_default = r.remember;
        ASSERT_EQ(sessions::save_as(backend, s, r.name), outcome::done);
        EXPECT_EQ(sessions::load(backend, r.name, cwd.str()).user, r.user);
        EXPECT_EQ(text(r.name, "ssh_password"), r.password);
        Settings back;
        read_configuration(back, backend, r.name, cwd.str(), true);
        EXPECT_EQ(back.ssh_user, r.user);
        EXPECT_EQ(back.ssh_password, r.password);
    }
}

// Configuration "1" is where every new configuration starts from: no session is saved over it, renamed into it, or
// takes it away.
TEST_F(SessionsTest, TheDefaultConfigurationIsNeitherListedNorWrittenAsASession) {
    saved("1", {"one.example", 23, protocol::telnet, "", "", "vt220"});
    saved("work", {"w.example", 22, protocol::ssh2, "", "", "xterm"});
    const auto before = backend.values;
    Settings running;
    running.config_name = "work";
    Settings other;
    other.host_name = "other.example";
    const struct {
        const char* what;
        outcome got;
        outcome want;
    } rows[] = {
        {"save as 1", sessions::save_as(backend, other, "1"), outcome::exists},
        {"save as \" 1 \"", sessions::save_as(backend, other, " 1 "), outcome::exists},
        {"rename into 1", sessions::rename(backend, running, "work", "1"), outcome::exists},
        {"rename 1", sessions::rename(backend, running, "1", "x"), outcome::missing},
        {"delete 1", sessions::remove(backend, running, "1"), outcome::missing},
    };
    for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << r.what;
    EXPECT_EQ(backend.values, before);
    EXPECT_EQ(sessions::names(backend), (std::vector<std::string>{"work"}));
}

TEST_F(SessionsTest, NamesAreCheckedBeforeAnythingIsWritten) {
    saved("work", {});
    const struct {
        const char* name;
        outcome result;
    } rows[] = {
        {"", outcome::bad_name},     {"   ", outcome::bad_name},  {"a/b", outcome::bad_name},
        {"a\\b", outcome::bad_name}, {"a\tb", outcome::bad_name}, {"work", outcome::exists},
        {" work ", outcome::exists}, {"Work", outcome::done},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const int before = backend.writes;
        EXPECT_EQ(sessions::save_as(backend, Settings(), r.name), r.result);
        EXPECT_EQ(backend.writes > before, r.result == outcome::done);
        EXPECT_FALSE(sessions::explain(r.result, r.name).empty() && r.result != outcome::done);
    }
    EXPECT_EQ(sessions::save_as(backend, Settings(), std::string(sessions::name_limit, 'n')), outcome::done);
    EXPECT_EQ(sessions::save_as(backend, Settings(), std::string(sessions::name_limit + 1, 'n')), outcome::bad_name);
}

TEST_F(SessionsTest, RenameMovesEveryKeyAndFollowsTheConfigurationInUse) {
    saved("work", {"w.example", 2323, protocol::ssh1, "bob", "", "vt100"});
    backend.write_text(config_section("work"), "hand_edited", "kept");
    saved("home", {});
    Settings running;
    running.config_name = "home";

    EXPECT_EQ(sessions::rename(backend, running, "work", "home"), outcome::exists);
    EXPECT_EQ(sessions::rename(backend, running, "nothing", "x"), outcome::missing);
    EXPECT_EQ(sessions::rename(backend, running, "work", "a/b"), outcome::bad_name);
    ASSERT_EQ(sessions::rename(backend, running, "work", "office"), outcome::done);
    EXPECT_EQ(sessions::names(backend), (std::vector<std::string>{"home", "office"}));
    EXPECT_EQ(text("office", "port"), "int 2323");  // an integer stays one
    EXPECT_EQ(text("office", "hand_edited"), "kept");
    EXPECT_EQ(sessions::load(backend, "office", cwd.str()).host, "w.example");
    EXPECT_EQ(running.config_name, "home");

    ASSERT_EQ(sessions::rename(backend, running, "home", "house"), outcome::done);
    EXPECT_EQ(running.config_name, "house");  // the exit saves under the new name
}

TEST_F(SessionsTest, DeleteRefusesTheConfigurationInUseAndOnesWithOthersBelow) {
    saved("1", {});
    saved("a", {});
    saved("a/b", {});
    saved("c", {});
    Settings running;
    running.config_name = "c";
    EXPECT_EQ(sessions::remove(backend, running, "c"), outcome::in_use);
    EXPECT_EQ(sessions::remove(backend, running, "a"), outcome::has_nested);
    EXPECT_EQ(sessions::rename(backend, running, "a", "z"), outcome::has_nested);
    EXPECT_EQ(sessions::remove(backend, running, "zz"), outcome::missing);
    EXPECT_EQ(sessions::remove(backend, running, "a/b"), outcome::done);
    running.config_name = "1";
    EXPECT_EQ(sessions::remove(backend, running, "c"), outcome::done);
    EXPECT_EQ(sessions::names(backend), (std::vector<std::string>{"a"}));
}

// A configuration never saved reads as the start reads it: from configuration "1".
TEST_F(SessionsTest, LoadReadsAsTheStartWould) {
    saved("1", {"one.example", 2424, protocol::telnet, "", "", "vt100"});
    backend.write_text(config_section("fresh"), "host_name", "fresh.example");
    const connection c = sessions::load(backend, "fresh", cwd.str());
    EXPECT_EQ(c.host, "fresh.example");
    EXPECT_EQ(c.port, 2424);
    EXPECT_EQ(c.termtype, "vt100");
}

// `/C name` picks the configuration at the start, and a switch during the run does the same: the values are read
// from it and the exit writes them back there, not into the configuration of the start.
TEST_F(SessionsTest, SlashCAndASwitchBothMakeTheConfigurationTheOneInUse) {
    saved("1", {"one.example", 23, protocol::telnet, "", "", "vt220"});
    saved("work", {"work.example", 2222, protocol::ssh2, "bob", "/k", "xterm"});
    StartupValues sv;
    Settings s = start({"/C", "work"});
    EXPECT_EQ(s.config_name, "work");
    EXPECT_EQ(sessions::connection_of(s), (connection{"work.example", 2222, protocol::ssh2, "bob", "/k", "xterm"}));
    s.color_fg = 5;
    save_settings(s, backend, sv, nullptr);
    EXPECT_EQ(text("work", "color_fg"), "int 5");
    EXPECT_EQ(text("1", "color_fg"), "int 0");

    // Started with a host on the command line, then switched: the launch values belonged to the start.
    s = start({"ssh://carol@cmd.example:2200"});
    ASSERT_TRUE(s.launched);
    switch_configuration(s, backend, "work", cwd.str());
    EXPECT_EQ(s.config_name, "work");
    EXPECT_FALSE(s.launched);
    EXPECT_EQ(sessions::connection_of(s).host, "work.example");
    s.port = 2323;
    save_settings(s, backend, sv, nullptr);
    EXPECT_EQ(text("work", "port"), "int 2323");
    EXPECT_EQ(text("1", "host_name"), "one.example");
    EXPECT_EQ(sessions::load(backend, "1", cwd.str()).host, "one.example");
}

}  // namespace
