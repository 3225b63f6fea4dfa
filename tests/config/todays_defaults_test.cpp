// Today's defaults: what an SSH launch or a new saved session runs with, against the classic configuration, and
// whether its palette can be read.
#include <gtest/gtest.h>

#include <cmath>

#include "config/locale_env.h"
#include "config/memory_backend.h"
#include "config/mycli.h"
#include "config/sessions.h"
#include "config/settings_store.h"
#include "fakes.h"
#include "terminal/sgr.h"

namespace {

// WCAG's relative luminance and contrast ratio (1 to 21) of 0xRRGGBB colours.
double luminance(std::uint32_t rgb) {
    double sum = 0;
    const double weight[3] = {0.2126, 0.7152, 0.0722};
    for (int i = 0; i < 3; ++i) {
        const double c = ((rgb >> (16 - 8 * i)) & 0xFF) / 255.0;
        sum += weight[i] * (c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
    }
    return sum;
}
double contrast(std::uint32_t a, std::uint32_t b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
std::uint32_t rgb_of_setting(int bgr) {
    const auto v = static_cast<std::uint32_t>(bgr);
    return (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF);
}

// Text that cannot be read on the default paper: the default and bold inks below 4.5:1 (WCAG's body text), or a
// system colour as drawn (bright for bold when bold_bright) below 2:1. The colour of the paper's own kind is left
// out (black on a dark paper, bright white on a light one): programs put it there only to hide text. Empty when
// readable.
std::string unreadable(const Settings& s) {
    const std::uint32_t paper = rgb_of_setting(s.color_bg);
    const bool dark = luminance(paper) < 0.18;
    std::string why;
    const auto check = [&](const char* what, std::uint32_t ink, double least) {
        if (contrast(ink, paper) < least) why += std::string(what) + " " + std::to_string(contrast(ink, paper)) + "; ";
    };
    check("default", rgb_of_setting(s.color_fg), 4.5);
    check("bold", rgb_of_setting(s.color_bold), 4.5);
    for (int i = 0; i < 16; ++i) {
        if (i == (dark ? 0 : 15)) continue;
        const std::string name = "colour " + std::to_string(i);
        check(name.c_str(), xterm_colour(i), 2.0);
        if (s.bold_bright && i < 8) check(("bold " + name).c_str(), xterm_colour(i + 8), 2.0);
    }
    return why;
}

// An SSH host that stops answering ends the session about a minute and a half after the first keep-alive it left
// unanswered, rather than never.
bool hung_host_noticed(const Settings& s) {
    return s.ssh_keepalive > 0 && s.ssh_keepalive_max > 0 && s.ssh_keepalive * s.ssh_keepalive_max <= 90;
}

struct TodaysDefaults : ::testing::Test {
    scratch_dir cwd;
    memory_backend backend;
    recording_ui ui;

    TodaysDefaults() { cwd.write("keys.map", "UP \\033[A\n"); }

    Settings start(const std::vector<std::string>& args, StartupValues& sv) {
        mycli cli(sv);
        EXPECT_TRUE(cli.parse(args)) << cli.error();
        Settings s;
        load_options opt;
        opt.current_dir = cwd.str();
        opt.install_dirs = {cwd.str()};
        load_settings(s, backend, sv, ui, nullptr, opt);
        return s;
    }
    Settings start(const std::vector<std::string>& args) {
        StartupValues sv;
        return start(args, sv);
    }
    int stored_int(const std::string& key) {
        const auto* v = backend.find(config_section("1"), key);
        return v && std::holds_alternative<int>(*v) ? std::get<int>(*v) : -999999;
    }
};

// The effective settings of each way in: the SSH launches run with today's defaults, the rest as the classic
// configuration (xterm-256color, UTF-8, 10,000 lines, Alt as Meta, the locale sent and the window-sized grid,
// against vt220, bytes, 199 lines and none of them).
TEST_F(TodaysDefaults, EachWayInRunsWithItsDefaults) {
    const struct row {
        std::vector<std::string> args;
        bool todays;
    } rows[] = {
        {{}, false},
        {{"/H", "host.example"}, false},
        {{"telnet://host.example"}, false},
        {{"-telnet", "host.example"}, false},
        {{"-telnet", "alice@host.example"}, false},
        {{"/C", "other"}, false},
        {{"ssh://host.example"}, true},
        {{"ssh://bob@host.example:2222/"}, true},
        {{"alice@host.example"}, true},
        {{"-ssh", "host.example"}, true},
        {{"-l", "carol", "host.example"}, true},
        {{"/C", "other", "ssh://host.example"}, true},
    };
    for (const row& r : rows) {
        std::string line;
        for (const auto& a : r.args) line += a + " ";
        SCOPED_TRACE(line);
        const Settings s = start(r.args);
        EXPECT_EQ(s.termtype, r.todays ? "xterm-256color" : "vt220");
        EXPECT_EQ(s.utf8, r.todays ? 1 : 0);
        EXPECT_EQ(s.scrollback_lines, r.todays ? todays_scrollback_lines : Settings().scrollback_lines);
        EXPECT_EQ(s.alt_meta, r.todays ? 1 : 0);
        EXPECT_EQ(s.ssh_send_locale, r.todays ? 1 : 0);
        EXPECT_EQ(s.screen_size, r.todays ? 1 : 0);
        EXPECT_EQ(unreadable(s).empty(), r.todays) << unreadable(s);
        EXPECT_EQ(s.ssh == 1 && s.ssh_type_1_2 == 1, r.todays);
        EXPECT_EQ(hung_host_noticed(s), r.todays);
    }
}

// The light-cyan paper is what the check is for: cyan text and white bold vanish on it.
TEST(TodaysPalette, TheClassicPaperFailsWhereTheTesterSawIt) {
    Settings classic;
    const std::string why = unreadable(classic);
    EXPECT_NE(why.find("colour 6 "), std::string::npos) << why;
    EXPECT_NE(why.find("colour 14 "), std::string::npos) << why;
    EXPECT_NE(why.find("bold colour 7 "), std::string::npos) << why;  // bright white
    Settings today;
    apply_todays_defaults(today);
    EXPECT_EQ(unreadable(today), "");
}

// The launch's values are for the run: at exit the configuration gets its own back, but for what the user changed.
TEST_F(TodaysDefaults, ALaunchLeavesTheClassicConfigurationAsItWas) {
    StartupValues sv;
    Settings s = start({"ssh://alice@host.example"}, sv);
    ASSERT_EQ(s.termtype, "xterm-256color");
    s.scrollback_lines = 5000;  // changed during the run: kept
    save_settings(s, backend, sv, nullptr);
    const Settings again = start({});
    EXPECT_EQ(again.termtype, "vt220");
    EXPECT_EQ(again.utf8, 0);
    EXPECT_EQ(again.color_bg, Settings().color_bg);
    EXPECT_EQ(again.color_fg, Settings().color_fg);
    EXPECT_EQ(again.color_bold, Settings().color_bold);
    EXPECT_EQ(again.alt_meta, 0);
    EXPECT_EQ(again.ssh_send_locale, 0);
    EXPECT_EQ(again.screen_size, 0);
    EXPECT_FALSE(hung_host_noticed(again));
    EXPECT_EQ(again.scrollback_lines, 5000);
}

// Today's defaults fill in what the user never chose; what they chose stays, group by group.
TEST_F(TodaysDefaults, ChoicesInTheConfigurationStay) {
    const struct row {
        const char* what;
        void (*choose)(Settings&);
        void (*expect)(const Settings&);
    } rows[] = {
        {"terminal type", [](Settings& s) { s.termtype = "vt100"; },
         [](const Settings& s) {
             EXPECT_EQ(s.termtype, "vt100");
             EXPECT_EQ(s.utf8, 0);
             EXPECT_EQ(s.scrollback_lines, todays_scrollback_lines);
         }},
        {"xterm without UTF-8", [](Settings& s) { s.termtype = "xterm"; },
         [](const Settings& s) {
             EXPECT_EQ(s.termtype, "xterm");
             EXPECT_EQ(s.utf8, 1);
         }},
        {"paper", [](Settings& s) { s.color_bg = 0xFFFFFF; },
         [](const Settings& s) {
             EXPECT_EQ(s.color_bg, 0xFFFFFF);
             EXPECT_EQ(s.color_fg, Settings().color_fg);
             EXPECT_EQ(s.color_bold, Settings().color_bold);
             EXPECT_EQ(s.termtype, "xterm-256color");
         }},
        {"keep-alive", [](Settings& s) { s.ssh_keepalive = 5; },
         [](const Settings& s) {
             EXPECT_EQ(s.ssh_keepalive, 5);
             EXPECT_TRUE(hung_host_noticed(s));
         }},
        {"scroll-back", [](Settings& s) { s.scrollback_lines = 500; },
         [](const Settings& s) {
             EXPECT_EQ(s.scrollback_lines, 500);
             EXPECT_EQ(s.color_bg, 0);
         }},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        Settings chosen;
        r.choose(chosen);
        write_configuration(chosen, backend, "1");
        const Settings s = start({"ssh://host.example"});
        r.expect(s);
        EXPECT_EQ(s.alt_meta, 1);
    }
}

// A saved session made new is beyond the classic program; the terminal type is the Connect dialog's.
TEST_F(TodaysDefaults, ANewSavedSessionTakesThem) {
    Settings running;  // the classic configuration in use
    sessions::apply(sessions::new_connection(sessions::protocol::ssh2), running);
    running.host_name = "new.example";
    ASSERT_EQ(sessions::save_as(backend, running, "new"), sessions::outcome::done);
    const Settings s = start({"/C", "new"});
    EXPECT_EQ(s.termtype, "xterm-256color");
    EXPECT_EQ(s.utf8, 1);
    EXPECT_EQ(s.scrollback_lines, todays_scrollback_lines);
    EXPECT_EQ(s.ssh_send_locale, 1);
    EXPECT_TRUE(hung_host_noticed(s));
    EXPECT_EQ(unreadable(s), "");
    EXPECT_EQ(running.termtype, "xterm-256color");  // the record in use is left alone but for the dialog's fields
    EXPECT_EQ(running.color_bg, Settings().color_bg);

    Settings vt = running;
    vt.termtype = "vt220";  // picked in the dialog
    ASSERT_EQ(sessions::save_as(backend, vt, "old-host"), sessions::outcome::done);
    const Settings o = start({"/C", "old-host"});
    EXPECT_EQ(o.termtype, "vt220");
    EXPECT_EQ(o.utf8, 0);
}

// LANG and LC_* as OpenSSH's stock client picks them (SendEnv LANG LC_*), bounded.
TEST(LocaleEnvironment, PicksLangAndLcVariables) {
    const std::string long_value(locale_env_max_value + 1, 'x');
    const std::string longest_value(locale_env_max_value, 'y');
    const std::string long_name = "LC_" + std::string(locale_env_max_name, 'N') + "=C";
    const std::string long_entry = "LC_LONG=" + long_value;
    const std::string longest_entry = "LC_MAX=" + longest_value;
    const char* env[] = {"PATH=/bin",
                         "LANG=de_DE.UTF-8",
                         "LANGUAGE=de",
                         "LC_TIME=en_GB.UTF-8",
                         "LC_=x",
                         "LC_ALL=",
                         "XLC_ALL=C",
                         "lc_all=C",
                         "LC_CTYPE=a\tb",
                         "NOEQUALS",
                         long_name.c_str(),
                         long_entry.c_str(),
                         longest_entry.c_str(),
                         "LC_ALL=C.UTF-8",
                         nullptr};
    const std::vector<env_variable> got = locale_environment(env);
    std::vector<std::string> seen;
    for (const env_variable& v : got) seen.push_back(v.name + "=" + v.value);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"LANG=de_DE.UTF-8", "LC_TIME=en_GB.UTF-8", longest_entry, "LC_ALL=C.UTF-8"}));
    EXPECT_TRUE(locale_environment(nullptr).empty());

    std::vector<std::string> many;
    for (std::size_t i = 0; i < locale_env_max_count + 5; ++i) many.push_back("LC_V" + std::to_string(i) + "=C");
    std::vector<const char*> ptrs;
    for (const auto& m : many) ptrs.push_back(m.c_str());
    ptrs.push_back(nullptr);
    const auto bounded = locale_environment(ptrs.data());
    ASSERT_EQ(bounded.size(), locale_env_max_count);
    EXPECT_EQ(bounded.back().name, "LC_V" + std::to_string(locale_env_max_count - 1));
}

}  // namespace
