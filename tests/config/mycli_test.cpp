#include <gtest/gtest.h>

#include "config/mycli.h"

namespace {

StartupValues parse(std::vector<std::string> args, std::string* error = nullptr) {
    StartupValues sv;
    mycli cli(sv);
    bool ok = cli.parse(args);
    if (error) *error = cli.error();
    EXPECT_EQ(ok, cli.error().empty());
    return sv;
}

TEST(mycli_test, Defaults) {
    StartupValues sv = parse({});
    EXPECT_EQ(sv.config_name, "1");
    EXPECT_EQ(sv.save_switch, "0");
    EXPECT_EQ(sv.direct_connect, "0");
    EXPECT_TRUE(sv.saving_enabled());
    EXPECT_FALSE(sv.direct_connect_enabled());
    EXPECT_FALSE(sv.no_menu || sv.no_toolbar || sv.silent);
}

TEST(mycli_test, JoinedAndSeparateValuesAgree) {
    for (auto args :
         {std::vector<std::string>{"/Hmyhost", "/P2323"}, std::vector<std::string>{"/H", "myhost", "/P", "2323"},
          std::vector<std::string>{"-h", "myhost", "-p2323"}}) {
        StartupValues sv = parse(args);
        EXPECT_EQ(sv.host, "myhost");
        EXPECT_EQ(sv.port, "2323");
        EXPECT_EQ(command_line_port(sv.port), 2323);
    }
    EXPECT_EQ(parse({"/Cwork"}).config_name, "work");
    EXPECT_EQ(parse({"/C", "work"}).config_name, "work");
    EXPECT_EQ(parse({"/R1"}).direct_connect, "1");
    EXPECT_TRUE(parse({"/R", "1"}).direct_connect_enabled());
    EXPECT_EQ(parse({"/NMy Window"}).window_name, "My Window");
}

TEST(mycli_test, TelnetUrls) {
    StartupValues sv = parse({"/Htelnet://myhost:2323/"});
    EXPECT_EQ(sv.host, "myhost");
    EXPECT_EQ(sv.port, "2323/");
    EXPECT_EQ(command_line_port(sv.port), 2323);

    sv = parse({"/Htelnet://myhost/"});
    EXPECT_EQ(sv.host, "myhost");
    EXPECT_EQ(sv.port, "");

    sv = parse({"/H", "telnet://otherhost"});
    EXPECT_EQ(sv.host, "otherhost");
    EXPECT_EQ(sv.port, "");

    // IPv6 addresses in brackets.
    sv = parse({"/Htelnet://[::1]:2323/"});
    EXPECT_EQ(sv.host, "::1");
    EXPECT_EQ(command_line_port(sv.port), 2323);
    sv = parse({"/Htelnet://[fe80::1]/"});
    EXPECT_EQ(sv.host, "fe80::1");
    EXPECT_EQ(sv.port, "");
    sv = parse({"/Htelnet://[::1]"});
    EXPECT_EQ(sv.host, "::1");
    EXPECT_EQ(sv.port, "");

    // A /P given earlier is replaced by the URL's port; one given later wins.
    sv = parse({"/P1", "/Htelnet://h:99"});
    EXPECT_EQ(sv.port, "99");
    sv = parse({"/Htelnet://h:99", "/P7"});
    EXPECT_EQ(sv.port, "7");
}

TEST(mycli_test, FlagsAndSaveSwitch) {
    StartupValues sv = parse({"/S1"});
    EXPECT_TRUE(sv.silent);
    EXPECT_FALSE(sv.saving_enabled());
    sv = parse({"/S0"});
    EXPECT_TRUE(sv.silent);
    EXPECT_TRUE(sv.saving_enabled());
    sv = parse({"/S", "1"});
    EXPECT_FALSE(sv.saving_enabled());

    EXPECT_FALSE(parse({"/M"}).no_menu);  // last parameter: nothing follows
    EXPECT_TRUE(parse({"/Mx"}).no_menu);
    EXPECT_TRUE(parse({"/M", "anything"}).no_menu);
    EXPECT_FALSE(parse({"/T"}).no_toolbar);
    EXPECT_TRUE(parse({"-t1"}).no_toolbar);
}

TEST(mycli_test, PendingMarksTakePlainParametersInFixedOrder) {
    // Order N, H, S, R, M, T, P, C regardless of the order of the switches.
    StartupValues sv =
        parse({"/C", "/P", "/T", "/M", "/R", "/S", "/H", "/N", "name", "host", "1", "1", "m", "t", "23", "cfg"});
    EXPECT_EQ(sv.window_name, "name");
    EXPECT_EQ(sv.host, "host");
    EXPECT_EQ(sv.save_switch, "1");
    EXPECT_EQ(sv.direct_connect, "1");
    EXPECT_TRUE(sv.no_menu);
    EXPECT_TRUE(sv.no_toolbar);
    EXPECT_EQ(sv.port, "23");
    EXPECT_EQ(sv.config_name, "cfg");

    sv = parse({"/P", "/H", "first", "second"});
    EXPECT_EQ(sv.host, "first");
    EXPECT_EQ(sv.port, "second");
}

TEST(mycli_test, StrayPlainParameterIsAnError) {
    std::string error;
    parse({"document.txt"}, &error);
    EXPECT_NE(error.find("document.txt"), std::string::npos);
    parse({"/H", "host", "extra"}, &error);
    EXPECT_NE(error.find("extra"), std::string::npos);
    // Unknown switches are ignored, not errors.
    parse({"/X", "/Hh"}, &error);
    EXPECT_TRUE(error.empty());
}

TEST(mycli_test, HelpSwitchesAskForUsageWithoutTakingAHostSwitch) {
    struct row {
        std::vector<std::string> args;
        bool usage;
    };
    const row rows[] = {
        {{"--help"}, true},
        {{"-h"}, true},
        {{"/?"}, true},
        {{"-?"}, true},
        {{"/Hhost", "--help"}, true},
        {{"/P", "23", "-h"}, true},
        {{}, false},
        {{"-h", "myhost"}, false},
        {{"/H"}, false},
        {{"-help"}, false},
        {{"/Hhost", "/P23"}, false},
    };
    for (const auto& r : rows) {
        std::string joined;
        for (const auto& a : r.args) joined += a + " ";
        EXPECT_EQ(mycli::wants_usage(r.args), r.usage) << joined;
    }
    // "-h name" still names the host.
    EXPECT_EQ(parse({"-h", "myhost"}).host, "myhost");
    // Every switch the parser knows is listed.
    const std::string text(usage_text());
    for (const char* sw : {"/H", "/P", "/C", "/N", "/R", "/S", "/M", "/T", "--help"})
        EXPECT_NE(text.find(sw), std::string::npos) << sw;
}

TEST(mycli_test, DocumentTitle) {
    StartupValues sv;
    EXPECT_EQ(document_title("host.example", sv), "host.example");
    sv.window_name = "W";
    EXPECT_EQ(document_title("host.example", sv), "W");
    EXPECT_EQ(document_title("", sv), "W");
    sv.window_name = std::string(19, 'n');
    EXPECT_EQ(document_title("h", sv), sv.window_name);
    sv.window_name = std::string(20, 'n');
    EXPECT_EQ(document_title("h", sv), "h");
    // Characters, not bytes: 19 two-byte characters still replace the title, 20 do not.
    std::string umlauts;
    for (int i = 0; i < 19; ++i) umlauts += "\xc3\xbc";
    sv.window_name = umlauts;
    EXPECT_EQ(document_title("h", sv), umlauts);
    sv.window_name = umlauts + "\xc3\xbc";
    EXPECT_EQ(document_title("h", sv), "h");
}

TEST(mycli_test, CommandLinePort) {
    EXPECT_EQ(command_line_port("65535x"), 65535);
    EXPECT_EQ(command_line_port("65536"), -1);
    EXPECT_EQ(command_line_port("99999999999999999999"), -1);
    EXPECT_EQ(command_line_port(""), -1);
}

}  // namespace

namespace {

using proto = launch_target::protocol;

struct launch_case {
    std::vector<std::string> args;
    proto p;
    std::string host, user, key;
    int port;
};

// Each launch form against what it names; none of them touches the stored-settings fields host and port.
TEST(mycli_launch, FormsAndSwitches) {
    const launch_case cases[] = {
        {{"ssh://example.org"}, proto::ssh, "example.org", "", "", -1},
        {{"ssh://alice@example.org:2222/"}, proto::ssh, "example.org", "alice", "", 2222},
        {{"SSH://a%40b@h"}, proto::ssh, "h", "a@b", "", -1},
        {{"ssh://bob;fingerprint=x@h"}, proto::ssh, "h", "bob", "", -1},
        {{"ssh://[::1]:2222"}, proto::ssh, "::1", "", "", 2222},
        {{"telnet://[fe80::1]"}, proto::telnet, "fe80::1", "", "", -1},
        {{"telnet://host:2323"}, proto::telnet, "host", "", "", 2323},
        {{"alice@host"}, proto::ssh, "host", "alice", "", -1},
        {{"alice@host", "-telnet"}, proto::telnet, "host", "alice", "", -1},
        {{"host", "-ssh"}, proto::ssh, "host", "", "", -1},
        {{"-telnet", "host", "-P", "2323"}, proto::telnet, "host", "", "", 2323},
        {{"-l", "carol", "host"}, proto::ssh, "host", "carol", "", -1},
        {{"-i", "/k/id_ed25519", "-Ldave", "host"}, proto::ssh, "host", "dave", "/k/id_ed25519", -1},
        {{"-l", "erin", "ssh://h"}, proto::ssh, "h", "erin", "", -1},
        {{"-P", "2200", "ssh://h:2222"}, proto::ssh, "h", "", "", 2222},
    };
    for (const auto& c : cases) {
        std::string error;
        const StartupValues sv = parse(c.args, &error);
        const std::string name = c.args.front();
        EXPECT_EQ(error, "") << name;
        EXPECT_EQ(sv.launch_error, "") << name;
        EXPECT_TRUE(sv.launch.given) << name;
        EXPECT_EQ(sv.launch.proto, c.p) << name;
        EXPECT_EQ(sv.launch.host, c.host) << name;
        EXPECT_EQ(sv.launch.user, c.user) << name;
        EXPECT_EQ(sv.launch.key_file, c.key) << name;
        EXPECT_EQ(sv.launch.port, c.port) << name;
        EXPECT_EQ(sv.host, "") << name;
        EXPECT_EQ(sv.port, "") << name;
    }
}

// -J goes with the launch as given, joined or apart, in any place, and makes it SSH unless -telnet says otherwise.
TEST(mycli_launch, JumpHosts) {
    struct jump_case {
        std::vector<std::string> args;
        proto p;
        std::string host, jump;
    };
    const jump_case cases[] = {
        {{"-J", "gw", "host"}, proto::ssh, "host", "gw"},
        {{"host", "-J", "a@gw:2202,[::1]:22"}, proto::ssh, "host", "a@gw:2202,[::1]:22"},
        {{"-Jgw", "host"}, proto::ssh, "host", "gw"},
        {{"/j", "gw", "host"}, proto::ssh, "host", "gw"},
        {{"-J", "gw", "ssh://u@h:2222"}, proto::ssh, "h", "gw"},
        {{"-J", "none", "host", "-telnet"}, proto::telnet, "host", "none"},
    };
    for (const auto& c : cases) {
        std::string error;
        const StartupValues sv = parse(c.args, &error);
        const std::string name = c.args.front() + " " + c.args[1];
        EXPECT_EQ(error, "") << name;
        EXPECT_TRUE(sv.launch.given) << name;
        EXPECT_EQ(sv.launch.proto, c.p) << name;
        EXPECT_EQ(sv.launch.host, c.host) << name;
        EXPECT_EQ(sv.launch.jump, c.jump) << name;
    }
}

// A malformed address is told (the window still opens); it never becomes a host.
TEST(mycli_launch, MalformedAddressesAreToldNotUsed) {
    for (const char* bad : {"ssh://", "ssh://host:0", "ssh://host:99999", "ssh://host:22x", "ssh://::1:22",
                            "ssh://[::1", "ssh://[::1]x", "ftp://host", "sftp://h", "@"}) {
        std::string error;
        const StartupValues sv = parse({bad}, &error);
        EXPECT_EQ(error, "") << bad;
        EXPECT_FALSE(sv.launch.given) << bad;
        EXPECT_NE(sv.launch_error.find(bad), std::string::npos) << bad;
    }
}

// Older command lines keep their meaning: /H keeps its stored-host meaning, a bare name is still no host, the old switches
// with the letters S and T are not taken by -ssh and -telnet.
TEST(mycli_launch, OlderFormsKeepTheirMeaning) {
    std::string error;
    StartupValues sv = parse({"/H", "telnet://old:2323"}, &error);
    EXPECT_EQ(sv.host, "old");
    EXPECT_EQ(sv.port, "2323");
    EXPECT_FALSE(sv.launch.given);
    sv = parse({"bare"}, &error);
    EXPECT_NE(error.find("bare"), std::string::npos);
    EXPECT_FALSE(sv.launch.given);
    sv = parse({"-ssh", "h"}, &error);
    EXPECT_TRUE(sv.saving_enabled());
    EXPECT_FALSE(sv.silent || sv.no_toolbar);
    sv = parse({"a@h", "b@h"}, &error);
    EXPECT_NE(error.find("b@h"), std::string::npos);
}

}  // namespace
