// ~/.ssh/config merged into a connection's profile: what the connection names itself wins, the files fill the rest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <type_traits>

#include "config/settings.h"
#include "session/host_config.h"
#include "session/profile.h"

namespace {

namespace fs = std::filesystem;

connection_profile ssh_profile_for(const std::string& host, int port = 22, const std::string& user = {}) {
    Settings s;
    s.ssh = 1;
    s.ssh_type_1_2 = 1;
    s.ssh_user = user;
    return connection_profile::from(s, host, port);
}

ssh_config_sources memory_files(std::map<std::string, std::string> files) {
    ssh_config_sources src;
    src.user_file = "/home/u/.ssh/config";
    src.home = "/home/u";
    src.local_host = "here";
    src.io.read_file = [files](const std::string& path) -> std::optional<std::string> {
        auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return it->second;
    };
    src.io.glob = [](const std::string&) { return std::vector<std::string>{}; };
    return src;
}

TEST(HostConfig, TheConnectionsOwnValuesWinAndTheFilesFillTheRest) {
    const auto src =
        memory_files({{"/home/u/.ssh/config", "Host h2\n  HostName 127.0.0.1\n  Port 2222\n  User cfguser\n"
                                              "  ServerAliveInterval 15\n  ConnectTimeout 7\n  SendEnv QT_* LANG\n"
                                              "  ForwardAgent yes\n  IdentitiesOnly yes\n"
                                              "Host *\n  SendEnv LANG LC_*\n  ForwardAgent yes\n"}});
    struct row {
        const char* what;
        int port;
        const char* user;
        int want_port;
        const char* want_user;
    } rows[] = {
        {"nothing named: the files say", 22, "", 2222, "cfguser"},
        {"a port named", 2022, "", 2022, "cfguser"},
        {"a user named", 22, "ann", 2222, "ann"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        connection_profile p = ssh_profile_for("h2", r.port, r.user);
        EXPECT_TRUE(apply_ssh_config(p, src).empty());
        EXPECT_EQ(p.host, "127.0.0.1");
        EXPECT_EQ(p.port, r.want_port);
        EXPECT_EQ(p.ssh.ssh_user, r.want_user);
        EXPECT_EQ(p.ssh.ssh_keepalive, 15);
        EXPECT_EQ(p.ssh.ssh_keepalive_max, 3) << "ssh's count when only the interval is set";
        EXPECT_EQ(p.connect_timeout, 7);
        EXPECT_EQ(p.ssh.send_env, (std::vector<std::string>{"QT_*", "LANG", "LANG", "LC_*"}));
        EXPECT_TRUE(p.ssh.ssh_agent_forward);
        EXPECT_TRUE(p.ssh.ssh_identities_only);
    }

    // Telnet is not SSH's business, and a host the files do not name keeps everything, also under `Host *`.
    connection_profile telnet = connection_profile::from(Settings(), "h2", 23);
    apply_ssh_config(telnet, src);
    EXPECT_EQ(telnet.host, "h2");
    connection_profile other = ssh_profile_for("elsewhere");
    apply_ssh_config(other, src);
    EXPECT_EQ(other.host, "elsewhere");
    EXPECT_EQ(other.port, 22);
    EXPECT_FALSE(other.ssh.ssh_agent_forward);
    EXPECT_TRUE(other.ssh.send_env.empty());
}

// The way to the host: the session's own jump hosts, else the files' ProxyJump.
TEST(HostConfig, TheSessionsJumpHostsWinOverProxyJump) {
    ssh_host_config c;
    c.alias = "h";
    c.proxy_jump = "bastion.example";
    std::vector<std::string> notes;
    Settings s;
    s.ssh = 1;
    s.ssh_type_1_2 = 1;
    s.ssh_proxy_jump = "own@127.0.0.1:2200";
    connection_profile own = connection_profile::from(s, "h", 22);
    apply_host_config(c, own, notes);
    EXPECT_EQ(own.ssh.proxy_jump, "own@127.0.0.1:2200");
    connection_profile plain = ssh_profile_for("h");
    apply_host_config(c, plain, notes);
    EXPECT_EQ(plain.ssh.proxy_jump, "bastion.example");
}

TEST(HostConfig, ForwardsAreAddedOnceAndABadOneIsTold) {
    ssh_host_config c;
    c.alias = "h";
    c.local_forwards = {"8080 localhost:80", "[::1]:2222 [fe80::1]:22", "8080 localhost:80"};
    c.remote_forwards = {"9000 127.0.0.1:22"};
    c.dynamic_forwards = {"1080"};
    c.local_forwards.push_back("notaport host:1");
    connection_profile p = ssh_profile_for("h");
    p.ssh.ssh_forwards = "L8080:localhost:80";  // the session's own
    std::vector<std::string> notes;
    apply_host_config(c, p, notes);
    EXPECT_EQ(p.ssh.ssh_forwards, "L8080:localhost:80,L[::1]:2222:[fe80::1]:22,R9000:127.0.0.1:22,D1080");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("notaport host:1"), std::string::npos) << notes[0];
}

TEST(HostConfig, TheFirstIdentityFileThatExistsIsTheKeyUnlessTheSessionNamesOne) {
    const fs::path dir = fs::temp_directory_path() / ("host_config_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "id_second") << "key";
    ssh_host_config c;
    c.alias = "h";
    c.identity_files = {(dir / "id_missing").string(), (dir / "id_second").string()};
    std::vector<std::string> notes;
    connection_profile p = ssh_profile_for("h");
    apply_host_config(c, p, notes);
    EXPECT_EQ(p.ssh.ssh_key_file, (dir / "id_second").string());
    connection_profile own = ssh_profile_for("h");
    own.ssh.ssh_key_file = "/keys/mine";
    apply_host_config(c, own, notes);
    EXPECT_EQ(own.ssh.ssh_key_file, "/keys/mine");
    fs::remove_all(dir);
}

TEST(HostConfig, AMalformedFileIsToldWithItsLineAndWhatCameBeforeStillCounts) {
    const auto src = memory_files({{"/home/u/.ssh/config", "Host h2\n  HostName 127.0.0.1\n  Port nonsense\n"}});
    connection_profile p = ssh_profile_for("h2");
    const std::vector<std::string> notes = apply_ssh_config(p, src);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("line 3"), std::string::npos) << notes[0];
    EXPECT_EQ(p.host, "127.0.0.1");
    EXPECT_EQ(p.port, 22);
}

}  // namespace

// Every key the key list gives a profile record reaches that record at connect, converted to the record's type;
// the live ones also reach a running connection's profile when the user changes them.
TEST(Profile, EveryProfiledKeyIsTakenFromTheConfiguration) {
    Settings s;
    const connection_profile before = connection_profile::from(s, "h", 23);
    int n = 0;
    auto changed = [&n](auto& field) {
        ++n;
        if constexpr (std::is_same_v<std::remove_reference_t<decltype(field)>, int>)
            field = field == 0 ? 1 : 0;  // a flag flips; a number leaves its default
        else
            field = "value " + std::to_string(n);
    };
#define TERMINAL(name, type, def, ptype) changed(s.name);
#define LIVE(name, type, def, ptype) changed(s.name);
#define CONNECTION(name, type, def, ptype) changed(s.name);
#define TELNET(name, type, def, ptype) changed(s.name);
#define PROXY(name, type, def, ptype) changed(s.name);
#define SSH(name, type, def, ptype) changed(s.name);
#include "config/setting_keys.def"
    const connection_profile p = connection_profile::from(s, "h", 23);
#define TERMINAL(name, type, def, ptype) EXPECT_NE(p.terminal.name, before.terminal.name) << #name;
#define LIVE(name, type, def, ptype) EXPECT_NE(p.name, before.name) << #name;
#define CONNECTION(name, type, def, ptype) EXPECT_NE(p.name, before.name) << #name;
#define TELNET(name, type, def, ptype) EXPECT_NE(p.telnet.name, before.telnet.name) << #name;
#define PROXY(name, type, def, ptype) EXPECT_NE(p.proxy.name, before.proxy.name) << #name;
#define SSH(name, type, def, ptype) EXPECT_NE(p.ssh.name, before.ssh.name) << #name;
#include "config/setting_keys.def"

    connection_profile running = before;
    running.take_live_options(s);
#define TERMINAL(name, type, def, ptype) EXPECT_EQ(running.terminal.name, p.terminal.name) << #name;
#define LIVE(name, type, def, ptype) EXPECT_EQ(running.name, p.name) << #name;
#define CONNECTION(name, type, def, ptype) EXPECT_EQ(running.name, before.name) << #name << " is fixed at connect";
#define SSH(name, type, def, ptype) EXPECT_EQ(running.ssh.name, before.ssh.name) << #name << " is fixed at connect";
#include "config/setting_keys.def"
    EXPECT_EQ(running.host, "h");
}
