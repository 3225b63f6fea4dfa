#include <fnmatch.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "../support/scoped_home.h"
#include "config/ssh_config.h"

namespace {

constexpr const char* user_file = "/home/me/.ssh/config";
constexpr const char* system_file = "/etc/ssh/ssh_config";

using file_map = std::map<std::string, std::string>;

// Files in memory; glob matches the stored names as the shell would.
ssh_config_sources memory_sources(const file_map& files) {
    ssh_config_sources src;
    src.user_file = user_file;
    src.system_file = system_file;
    src.home = "/home/me";
    src.local_host = "box.example";
    src.io.read_file = [files](const std::string& path) -> std::optional<std::string> {
        auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return it->second;
    };
    src.io.glob = [files](const std::string& pattern) {
        std::vector<std::string> out;
        for (const auto& [name, text] : files)
            if (::fnmatch(pattern.c_str(), name.c_str(), FNM_PATHNAME) == 0) out.push_back(name);
        return out;
    };
    return src;
}

std::string_view strict_name(strict_host_key s) {
    switch (s) {
    case strict_host_key::yes: return "yes";
    case strict_host_key::no: return "no";
    case strict_host_key::ask: return "ask";
    case strict_host_key::accept_new: return "accept-new";
    }
    return "?";
}

// The fields that are set, one "name value" line each; diagnostics as "! text".
std::string dump(const ssh_host_config& c) {
    std::string s;
    auto line = [&](std::string_view k, std::string_view v) { ((s += k) += ' ') += std::string(v) + '\n'; };
    auto number = [&](std::string_view k, const std::optional<int>& v) {
        if (v) line(k, std::to_string(*v));
    };
    auto flag = [&](std::string_view k, const std::optional<bool>& v) {
        if (v) line(k, *v ? "yes" : "no");
    };
    if (c.host_name) line("hostname", *c.host_name);
    if (c.user) line("user", *c.user);
    number("port", c.port);
    for (const std::string& f : c.identity_files) line("identityfile", f);
    for (const std::string& f : c.certificate_files) line("certificatefile", f);
    flag("identitiesonly", c.identities_only);
    if (c.proxy_jump) line("proxyjump", c.proxy_jump->empty() ? "(none)" : *c.proxy_jump);
    flag("forwardagent", c.forward_agent);
    if (c.forward_agent_socket) line("forwardagentsocket", *c.forward_agent_socket);
    for (const std::string& f : c.local_forwards) line("localforward", f);
    for (const std::string& f : c.remote_forwards) line("remoteforward", f);
    for (const std::string& f : c.dynamic_forwards) line("dynamicforward", f);
    number("serveraliveinterval", c.server_alive_interval);
    number("serveralivecountmax", c.server_alive_count_max);
    number("connecttimeout", c.connect_timeout);
    if (c.host_key_alias) line("hostkeyalias", *c.host_key_alias);
    for (const std::string& f : c.user_known_hosts_files) line("userknownhostsfile", f);
    if (c.strict_host_key_checking) line("stricthostkeychecking", strict_name(*c.strict_host_key_checking));
    for (const std::string& f : c.send_env) line("sendenv", f);
    for (const std::string& d : c.diagnostics) line("!", d);
    return s;
}

struct resolve_row {
    const char* name;
    file_map files;
    const char* alias;
    const char* expected;
};

void run_rows(const std::vector<resolve_row>& rows) {
    for (const resolve_row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(dump(resolve(r.alias, "me", memory_sources(r.files))), r.expected);
    }
}

TEST(ssh_config_test, BlocksAndPatterns) {
    const std::string blocks =
        "Host web\n  User alice\n  Port 2200\nHost *\n  User bob\n  Port 22\n  HostName fallback\n";
    const std::string negated = "Host * !bastion\n  User jump\nHost bastion\n  User admin\n";
    run_rows({
        {"first value wins", {{user_file, blocks}}, "web", "hostname fallback\nuser alice\nport 2200\n"},
        {"only the catch-all", {{user_file, blocks}}, "db", "hostname fallback\nuser bob\nport 22\n"},
        {"negation excludes", {{user_file, negated}}, "bastion", "user admin\n"},
        {"negation elsewhere", {{user_file, negated}}, "web", "user jump\n"},
        {"? is one character", {{user_file, "Host db? web*.example\n  Port 5022\n"}}, "db1", "port 5022\n"},
        {"? is not two", {{user_file, "Host db? web*.example\n  Port 5022\n"}}, "db10", ""},
        {"* inside a pattern", {{user_file, "Host db? web*.example\n  Port 5022\n"}}, "web7.example", "port 5022\n"},
        {"patterns are case-sensitive", {{user_file, "Host Web\n  Port 1\n"}}, "web", ""},
        {"lines before any Host apply", {{user_file, "User top\nHost other\n  User o\n"}}, "web", "user top\n"},
        {"keyword case and =",
         {{user_file, "PORT=2022\nuser = carol\n\tHostName\t=  x.example\nHostKeyAlias =k\n"}},
         "a",
         "hostname x.example\nuser carol\nport 2022\nhostkeyalias k\n"},
        {"Match all", {{user_file, "Host nothing\n  User x\nMatch all\n  User y\n"}}, "a", "user y\n"},
        {"quoted keywords",
         {{user_file, "\"Port\" 2022\n\"User\"=x\nHost\"KeyAlias\" k\n"}},
         "a",
         "user =x\nport 2022\nhostkeyalias k\n"},
        {"other Match criteria skip their block",
         {{user_file, "Match host web\n  User m\nMatch exec \"true\" canonical\n  Port 1\nHost web\n  User h\n"}},
         "web",
         "user h\n"},
        {"Match !all", {{user_file, "Match !all\n  User x\nMatch all\n  Port 9\n"}}, "a", "port 9\n"},
        {"system file after the user's",
         {{user_file, "Port 1\n"}, {system_file, "Port 2\nUser sys\n"}},
         "a",
         "user sys\nport 1\n"},
        {"unknown keywords are ignored", {{user_file, "Frobnicate 1\nCiphers aes128-ctr\nPort 3\n"}}, "a", "port 3\n"},
        {"comments and blank lines",
         {{user_file, "# a comment\n\n   \n  # indented\nPort 22 # trailing\nUser a#b\n"}},
         "a",
         "user a#b\nport 22\n"},
    });
}

TEST(ssh_config_test, Includes) {
    const file_map conf_d = {
        {user_file, "Include conf.d/*.conf\nHost *\n  User late\n"},
        {"/home/me/.ssh/conf.d/a.conf", "Host web\n  User from_a\n"},
        {"/home/me/.ssh/conf.d/b.conf", "Host web\n  Port 2222\n  User from_b\n"},
        {"/home/me/.ssh/conf.d/c.txt", "Host web\n  HostKeyAlias never\n"},
    };
    run_rows({
        {"glob relative to ~/.ssh, in order", conf_d, "web", "user from_a\nport 2222\n"},
        {"the includer goes on after", conf_d, "db", "user late\n"},
        {"~ and absolute paths",
         {{user_file, "Include ~/x /etc/y"}, {"/home/me/x", "User x\n"}, {"/etc/y", "Port 4\n"}},
         "a",
         "user x\nport 4\n"},
        {"the system file's relative paths are in /etc/ssh",
         {{system_file, "Include ssh_config.d/*"}, {"/etc/ssh/ssh_config.d/1", "User s\n"}},
         "a",
         "user s\n"},
        {"an include in a skipped block never matches",
         {{user_file, "Host other\n  Include inc\nHost web\n  Port 1\n"},
          {"/home/me/.ssh/inc", "Host web\n  User never\n"}},
         "web",
         "port 1\n"},
        {"an included Host does not end the includer's block",
         {{user_file, "Host web\n  Include inc\n  Port 7\n"}, {"/home/me/.ssh/inc", "Host other\n  User x\n"}},
         "web",
         "port 7\n"},
        {"an include inherits the open block",
         {{user_file, "Host other\n  Include inc\n"}, {"/home/me/.ssh/inc", "User x\n"}},
         "web",
         ""},
        {"a missing include is no error", {{user_file, "Include nothing*\nPort 5\n"}}, "a", "port 5\n"},
    });
}

TEST(ssh_config_test, TokensAndLists) {
    run_rows({
        {"tokens",
         {{user_file, "Host web\n  HostName %h.Example.ORG\n  User u1\n  Port 2022\n"
                      "  IdentityFile ~/.ssh/%h_%r_%p_%n_%u_%d_%l_%L_%%\n"}},
         "web",
         "hostname web.example.org\nuser u1\nport 2022\n"
         "identityfile /home/me/.ssh/web.example.org_u1_2022_web_me_/home/me_box.example_box_%\n"},
        {"defaults behind %r %p %h %k",
         {{user_file, "IdentityFile /k/%r_%p_%h_%k\nCertificateFile ~/c_%k\nHostKeyAlias ali\n"}},
         "Web",
         "identityfile /k/me_22_web_ali\ncertificatefile /home/me/c_ali\nhostkeyalias ali\n"},
        {"~user is left unchanged", {{user_file, "IdentityFile ~other/k\n"}}, "a", "identityfile ~other/k\n"},
        {"lists accumulate, repeats dropped",
         {{user_file, "Host a\n  IdentityFile /k1\n  LocalForward 8080 localhost:80\n  SendEnv LANG LC_*\n"
                      "Host *\n  IdentityFile /k2\n  IdentityFile /k1\n  LocalForward 8081 [::1]:81\n"
                      "  RemoteForward 9000\n  RemoteForward 9001 h:22\n  DynamicForward 1080\n  SendEnv -LC_* TERM_X\n"
                      "  LocalForward 8080 [localhost]:80\n  RemoteForward 9000\n  DynamicForward 1080\n"}},
         "a",
         "identityfile /k1\nidentityfile /k2\nlocalforward 8080 localhost:80\nlocalforward 8081 [::1]:81\n"
         "remoteforward 9000\nremoteforward 9001 h:22\ndynamicforward 1080\nsendenv LANG\nsendenv TERM_X\n"},
        {"known hosts: the first line wins, all its files",
         {{user_file, "UserKnownHostsFile ~/a %n_b\nUserKnownHostsFile /c\n"}},
         "a",
         "userknownhostsfile /home/me/a\nuserknownhostsfile a_b\n"},
        {"quoting and escapes",
         {{user_file, "User \"two words\"\nIdentityFile \"/p/with space\"\nHostKeyAlias a\\ b\nProxyJump 'x y'z\n"
                      "SendEnv \"A\\\"B\"\n"}},
         "a",
         "user two words\nidentityfile /p/with space\nproxyjump 'x y'z\nhostkeyalias a b\nsendenv A\"B\n"},
        {"ProxyJump is the rest of the line",
         {{user_file, "ProxyJump a@b:2,\"c\" # note\n"}},
         "a",
         "proxyjump a@b:2,\"c\"\n"},
        {"none with a comment is a host", {{user_file, "ProxyJump none # note\n"}}, "a", "proxyjump none\n"},
        {"none",
         {{user_file, "ProxyJump none\nProxyJump j\nConnectTimeout none\nConnectTimeout 5\n"}},
         "a",
         "proxyjump (none)\nconnecttimeout 5\n"},
        {"times and flags",
         {{user_file, "ServerAliveInterval 1h30m\nServerAliveCountMax 0\nIdentitiesOnly YES\nForwardAgent false\n"
                      "StrictHostKeyChecking Off\n"}},
         "a",
         "identitiesonly yes\nforwardagent no\nserveraliveinterval 5400\nserveralivecountmax 0\n"
         "stricthostkeychecking no\n"},
        {"agent socket",
         {{user_file, "ForwardAgent $SSH_AUTH_SOCK\n"}},
         "a",
         "forwardagent yes\nforwardagentsocket $SSH_AUTH_SOCK\n"},
    });
    // Every value StrictHostKeyChecking takes.
    const std::pair<const char*, const char*> strict[] = {{"yes", "yes"},
                                                          {"true", "yes"},
                                                          {"no", "no"},
                                                          {"false", "no"},
                                                          {"off", "no"},
                                                          {"ask", "ask"},
                                                          {"accept-new", "accept-new"}};
    for (const auto& [value, shown] : strict) {
        const ssh_host_config c =
            resolve("a", "me", memory_sources({{user_file, std::string("StrictHostKeyChecking ") + value}}));
        ASSERT_TRUE(c.strict_host_key_checking) << value;
        EXPECT_EQ(strict_name(*c.strict_host_key_checking), shown) << value;
    }
}

TEST(ssh_config_test, ErrorsNameFileAndLineAndStopThatFile) {
    const std::string self = "Include config\nPort 1\n";
    run_rows({
        {"bad port",
         {{user_file, "User a\nPort 0\nHostName h\n"}},
         "a",
         "user a\n! ~/.ssh/config line 2: bad port '0'\n"},
        {"port beyond 65535", {{user_file, "Port 65536\n"}}, "a", "! ~/.ssh/config line 1: bad port '65536'\n"},
        {"unclosed quote",
         {{user_file, "User a\nPort 1\nHostName \"h\n"}},
         "a",
         "user a\nport 1\n! ~/.ssh/config line 3: invalid quotes\n"},
        {"no argument", {{user_file, "Port\n"}}, "a", "! ~/.ssh/config line 1: no argument after keyword \"port\"\n"},
        {"only a comment", {{user_file, "User # x\n"}}, "a", "! ~/.ssh/config line 1: missing argument to \"user\"\n"},
        {"extra arguments",
         {{user_file, "Port 22 23\n"}},
         "a",
         "! ~/.ssh/config line 1: keyword port extra arguments at end of line\n"},
        {"bad StrictHostKeyChecking",
         {{user_file, "StrictHostKeyChecking maybe\n"}},
         "a",
         "! ~/.ssh/config line 1: unsupported option \"maybe\"\n"},
        {"bad time", {{user_file, "ConnectTimeout 5x\n"}}, "a", "! ~/.ssh/config line 1: invalid time value '5x'\n"},
        {"bad count", {{user_file, "ServerAliveCountMax -1\n"}}, "a", "! ~/.ssh/config line 1: invalid number '-1'\n"},
        {"checked in a skipped block too",
         {{user_file, "Host other\n  Port x\nHost *\n  User u\n"}},
         "a",
         "! ~/.ssh/config line 2: bad port 'x'\n"},
        {"Match all with more",
         {{user_file, "Match all host x\n"}},
         "a",
         "! ~/.ssh/config line 1: 'all' cannot be combined with other Match attributes\n"},
        {"unknown Match attribute",
         {{user_file, "Match colour blue\n"}},
         "a",
         "! ~/.ssh/config line 1: unsupported Match attribute colour\n"},
        {"Match criterion without its argument",
         {{user_file, "Match host\n"}},
         "a",
         "! ~/.ssh/config line 1: missing Match criteria for host\n"},
        {"an error in an included file stops the includer, not the system file",
         {{user_file, "Include bad\nUser after\n"}, {"/home/me/.ssh/bad", "Port x\n"}, {system_file, "User sys\n"}},
         "a",
         "user sys\n! ~/.ssh/bad line 1: bad port 'x'\n"},
        {"include too deep",
         {{user_file, self}},
         "a",
         "! ~/.ssh/config line 1: too many recursive configuration includes\n"},
        {"~ in the system file",
         {{system_file, "Include ~/x\n"}},
         "a",
         "! /etc/ssh/ssh_config line 1: bad include path ~/x\n"},
        {"unknown token",
         {{user_file, "IdentityFile /k/%Z\nIdentityFile /k/%h\nIdentityFile /k/%\n"}},
         "a",
         "identityfile /k/a\n! ~/.ssh/config line 1: unknown token %Z in IdentityFile\n"
         "! ~/.ssh/config line 3: unknown token % in IdentityFile\n"},
        {"unknown token in HostName",
         {{user_file, "User a\nHostName %u.x\n"}},
         "a",
         "user a\n! ~/.ssh/config line 2: unknown token %u in HostName\n"},
    });
}

TEST(ssh_config_test, Limits) {
    const std::string long_line = "User a\nHostName " + std::string(ssh_config_limits::max_line_bytes, 'h') + "\n";
    const std::string edge_line = "HostName " + std::string(ssh_config_limits::max_line_bytes - 9, 'h') + "\nPort 2\n";
    std::string big = "Port 3\n";
    big.resize(ssh_config_limits::max_file_bytes + 1, '\n');
    std::string at_limit = "Port 3\n";
    at_limit.resize(ssh_config_limits::max_file_bytes, '\n');
    run_rows({
        {"a line over 8 KiB",
         {{user_file, long_line}},
         "a",
         "user a\n! ~/.ssh/config line 2: longer than 8192 bytes\n"},
        {"a file over 1 MiB", {{user_file, big}}, "a", "! ~/.ssh/config: larger than 1 MiB, not read\n"},
        {"a file of 1 MiB", {{user_file, at_limit}}, "a", "port 3\n"},
    });
    const ssh_host_config edge = resolve("a", "me", memory_sources({{user_file, edge_line}}));
    EXPECT_EQ(edge.port, 2);
    EXPECT_TRUE(edge.diagnostics.empty());

    std::string keys;
    for (std::size_t i = 0; i <= ssh_config_limits::max_key_files; ++i)
        keys += "IdentityFile /k" + std::to_string(i) + "\n";
    const ssh_host_config many = resolve("a", "me", memory_sources({{user_file, keys}}));
    EXPECT_EQ(many.identity_files.size(), ssh_config_limits::max_key_files);
    ASSERT_EQ(many.diagnostics.size(), 1u);
    EXPECT_EQ(many.diagnostics[0], "~/.ssh/config line 101: too many identity files specified (max 100)");

    // Two includes of itself on each line: without the file bound this would read 2^16 files.
    int reads = 0;
    ssh_config_sources src = memory_sources({{user_file, "Include config config\n"}, {"/home/me/.ssh/x", ""}});
    auto inner = src.io.read_file;
    src.io.read_file = [&](const std::string& p) {
        ++reads;
        return inner(p);
    };
    const ssh_host_config fan = resolve("a", "me", src);
    EXPECT_LE(reads, ssh_config_limits::max_files + 1);
    ASSERT_EQ(fan.diagnostics.size(), 1u);
    EXPECT_EQ(fan.diagnostics[0], "~/.ssh/config line 1: too many recursive configuration includes");
}

TEST(ssh_config_test, ConcreteHosts) {
    const ssh_config_sources src = memory_sources({
        {user_file, "Host a b* !c d\nHost a e\nMatch all\nInclude inc\nHost other\n  Include inc2\n"},
        {"/home/me/.ssh/inc", "Host f ?g\n"},
        {"/home/me/.ssh/inc2", "Host h\n"},
        {system_file, "Host *\nHost sys a\n"},
    });
    EXPECT_EQ(concrete_hosts(src), (std::vector<std::string>{"a", "d", "e", "f", "other", "h", "sys"}));
}

TEST(ssh_config_test, PatternsAndTimes) {
    const struct {
        const char* text;
        const char* pattern;
        bool match;
    } patterns[] = {
        {"", "", true},         {"", "*", true},
        {"a", "", false},       {"abc", "a*c", true},
        {"abc", "a?c", true},   {"ac", "a?c", false},
        {"abcbc", "*bc", true}, {"abcbd", "*bc", false},
        {"aaa", "a*a*a", true}, {"aa", "a*a*a", false},
        {"x.y.z", "*.z", true}, {"ABC", "abc", false},
        {"a*c", "a*c", true},   {"mississippi", "m*iss*ppi", true},
    };
    for (const auto& p : patterns)
        EXPECT_EQ(ssh_pattern_match(p.text, p.pattern), p.match) << p.text << " " << p.pattern;

    const struct {
        const char* text;
        std::optional<int> seconds;
    } times[] = {
        {"0", 0},
        {"90", 90},
        {"90s", 90},
        {"1m", 60},
        {"1h30m", 5400},
        {"2d", 172800},
        {"1W", 604800},
        {"1m1", 61},
        {"", std::nullopt},
        {"m", std::nullopt},
        {"5x", std::nullopt},
        {"-1", std::nullopt},
        {"2147483647", 2147483647},
        {"2147483648", std::nullopt},
        {"4000w", std::nullopt},
    };
    for (const auto& t : times) EXPECT_EQ(ssh_time_value(t.text), t.seconds) << t.text;
}

// The real file system: the same reader as the program's, on files in a temporary folder.
class temp_dir {
public:
    temp_dir() {
        char pattern[] = "/tmp/ssh_config_test.XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~temp_dir() { std::filesystem::remove_all(path_); }
    const std::string& path() const { return path_; }
    void write(const std::string& name, const std::string& text) const {
        std::filesystem::create_directories(std::filesystem::path(path_ + "/" + name).parent_path());
        std::ofstream(path_ + "/" + name, std::ios::binary) << text;
    }

private:
    std::string path_;
};

TEST(ssh_config_test, RealFilesAndGlob) {
    temp_dir dir;
    dir.write(".ssh/config", "Include conf.d/*.conf\nHost web\n  Port 2\n");
    dir.write(".ssh/conf.d/20.conf", "Host web\n  User twenty\n");
    dir.write(".ssh/conf.d/10.conf", "Host web\n  User ten\n  IdentityFile ~/.ssh/id_%h\n");
    dir.write(".ssh/conf.d/big.conf", std::string(ssh_config_limits::max_file_bytes + 100, '#'));
    ssh_config_sources src;
    src.home = dir.path();
    src.user_file = dir.path() + "/.ssh/config";
    src.io = real_ssh_config_io();
    const ssh_host_config c = resolve("web", "me", src);
    EXPECT_EQ(c.user, "ten");
    EXPECT_FALSE(c.port);  // big.conf stopped the reading before Port
    EXPECT_EQ(c.identity_files, (std::vector<std::string>{dir.path() + "/.ssh/id_web"}));
    EXPECT_EQ(c.diagnostics, (std::vector<std::string>{"~/.ssh/conf.d/big.conf: larger than 1 MiB, not read"}));
    std::filesystem::create_directory(dir.path() + "/.ssh/conf.d/dir.conf");
    std::filesystem::remove(dir.path() + "/.ssh/conf.d/big.conf");
    EXPECT_EQ(resolve("web", "me", src).port, 2);  // a directory matched by the glob is skipped
}

// Differential check against OpenSSH: `ssh -G -F file alias` prints the resolved configuration without
// connecting. The keywords returned here are compared with ssh's values; unset ones with ssh's defaults.
struct ssh_peer {
    std::string user, home, local_host;
};

std::optional<std::multimap<std::string, std::string>> ssh_g(const std::string& file, const std::string& alias) {
    const std::string cmd = "ssh -G -F '" + file + "' '" + alias + "' </dev/null 2>/dev/null";
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return std::nullopt;
    std::string out;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    const int status = ::pclose(p);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    std::multimap<std::string, std::string> values;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const std::size_t sp = line.find(' ');
        values.emplace(line.substr(0, sp), sp == std::string::npos ? "" : line.substr(sp + 1));
    }
    return values;
}

// Forwards as ssh prints them, brackets and the dynamic remote forward's target dropped, to compare with the
// raw text.
std::string plain_forward(std::string f) {
    std::erase(f, '[');
    std::erase(f, ']');
    if (f.ends_with(" socks:0")) f.resize(f.size() - 8);
    return f;
}

std::multimap<std::string, std::string> as_ssh_prints(const ssh_host_config& c, const ssh_peer& me) {
    std::multimap<std::string, std::string> v;
    v.emplace("hostname", c.host());
    v.emplace("user", c.user.value_or(me.user));
    v.emplace("port", std::to_string(c.port.value_or(22)));
    for (const std::string& f : c.identity_files) v.emplace("identityfile", f);
    for (const std::string& f : c.certificate_files) v.emplace("certificatefile", f);
    v.emplace("identitiesonly", c.identities_only.value_or(false) ? "yes" : "no");
    if (c.proxy_jump && !c.proxy_jump->empty()) v.emplace("proxyjump", *c.proxy_jump);
    v.emplace("forwardagent", c.forward_agent.value_or(false) ? "yes" : "no");
    for (const std::string& f : c.local_forwards) v.emplace("localforward", f);
    for (const std::string& f : c.remote_forwards) v.emplace("remoteforward", f);
    for (const std::string& f : c.dynamic_forwards) v.emplace("dynamicforward", f);
    v.emplace("serveraliveinterval", std::to_string(c.server_alive_interval.value_or(0)));
    v.emplace("serveralivecountmax", std::to_string(c.server_alive_count_max.value_or(3)));
    v.emplace("connecttimeout", c.connect_timeout ? std::to_string(*c.connect_timeout) : "none");
    if (c.host_key_alias) v.emplace("hostkeyalias", *c.host_key_alias);
    std::string known;
    for (const std::string& f : c.user_known_hosts_files) known += (known.empty() ? "" : " ") + f;
    v.emplace("userknownhostsfile",
              known.empty() ? me.home + "/.ssh/known_hosts " + me.home + "/.ssh/known_hosts2" : known);
    static const char* const strict[] = {"true", "false", "ask", "accept-new"};
    v.emplace("stricthostkeychecking",
              strict[static_cast<int>(c.strict_host_key_checking.value_or(strict_host_key::ask))]);
    for (const std::string& f : c.send_env) v.emplace("sendenv", f);
    return v;
}

const std::set<std::string> compared_keywords = {"hostname",
                                                 "user",
                                                 "port",
                                                 "identityfile",
                                                 "certificatefile",
                                                 "identitiesonly",
                                                 "proxyjump",
                                                 "forwardagent",
                                                 "localforward",
                                                 "remoteforward",
                                                 "dynamicforward",
                                                 "serveraliveinterval",
                                                 "serveralivecountmax",
                                                 "connecttimeout",
                                                 "hostkeyalias",
                                                 "userknownhostsfile",
                                                 "stricthostkeychecking",
                                                 "sendenv"};

std::optional<ssh_peer> local_peer() {
    if (std::system("ssh -V >/dev/null 2>&1") != 0) return std::nullopt;
    const passwd* pw = ::getpwuid(::getuid());
    if (!pw) return std::nullopt;
    ssh_peer me{pw->pw_name, pw->pw_dir, ""};
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    me.local_host = host;
    return me;
}

// ssh reads ~ from the password entry, as `me.home`; HOME points at the temporary folder meanwhile.
ssh_config_sources peer_sources(const std::string& file, const ssh_peer& me) {
    ssh_config_sources src;
    src.user_file = file;
    src.home = me.home;
    src.local_host = me.local_host;
    src.io = real_ssh_config_io();
    return src;
}

// Compares one resolution with ssh's; the number of values compared (0 when both refused the file).
int compare_with_ssh(const ssh_config_sources& src, const std::string& alias, const ssh_peer& me) {
    SCOPED_TRACE(alias);
    const ssh_host_config ours = resolve(alias, me.user, src);
    const auto theirs = ssh_g(src.user_file, alias);
    EXPECT_EQ(theirs.has_value(), ours.diagnostics.empty()) << dump(ours);
    if (!theirs || !ours.diagnostics.empty()) return 0;
    std::multimap<std::string, std::string> expected;
    for (const auto& [k, v] : *theirs) {
        if (!compared_keywords.count(k)) continue;
        if (k == "identityfile" && ours.identity_files.empty()) continue;  // ssh's default keys
        expected.emplace(k, k.ends_with("forward") ? plain_forward(v) : v);
    }
    std::multimap<std::string, std::string> got;
    for (const auto& [k, v] : as_ssh_prints(ours, me)) got.emplace(k, k.ends_with("forward") ? plain_forward(v) : v);
    EXPECT_EQ(got, expected);
    return static_cast<int>(expected.size());
}

struct differential_row {
    const char* name;
    file_map files;  // relative to the temporary folder; "config" is the one given to -F; @DIR@ is the folder
    std::vector<const char*> aliases;
};

TEST(ssh_config_test, AgreesWithOpenSsh) {
    const std::optional<ssh_peer> me = local_peer();
    if (!me) GTEST_SKIP() << "no ssh client";
    const std::vector<differential_row> rows = {
        {"blocks, first wins, negation",
         {{"config", "Host web db? !db9\n  User alice\n  Port 2200\n  HostName %h.Example.org\nHost db9\n  User nine\n"
                     "Host *\n  User bob\n  Port 22\n  ServerAliveInterval 1h1m\n  ServerAliveCountMax 7\n"}},
         {"web", "db1", "db9", "db10", "other", "WEB"}},
        {"includes with globs",
         {{"config", "Include @DIR@/conf.d/*.conf\nHost web\n  Port 2\n  Include @DIR@/inc\n  ServerAliveCountMax 9\n"},
          {"conf.d/10.conf", "Host web\n  User ten\nHost *\n  ConnectTimeout 30\n"},
          {"conf.d/20.conf", "Host web\n  User twenty\n  IdentitiesOnly yes\n"},
          {"inc", "Host other\n  User in_other\n  HostKeyAlias hk\n"},
          {"conf.d/ignored", "User never\n"}},
         {"web", "other", "x"}},
        {"Match",
         {{"config", "Match host nomatch\n  User m\nMatch originalhost nomatch user nobody\n  Port 1\n"
                     "Match all\n  ForwardAgent yes\nHost web\n  User w\n"}},
         {"web", "a"}},
        {"tokens and lists",
         {{"config", "Host web*\n  HostName real-%h\n  User u\n  Port 2022\n"
                     "  UserKnownHostsFile ~/kh_%h_%n %d/x_%u_%r_%p_%l_%%\n  IdentityFile /keys/one\n"
                     "  IdentityFile /keys/two\n  IdentityFile /keys/one\n  CertificateFile /certs/c\n"
                     "  LocalForward 8080 localhost:80\n  LocalForward 127.0.0.1:8081 [::1]:81\n"
                     "  RemoteForward 9000 localhost:90\n  RemoteForward 9001\n  DynamicForward 1080\n"
                     "  SendEnv LANG LC_*\n  SendEnv -LC_*\n  SendEnv TERM_X\n  ProxyJump a@b:2,c\n"
                     "Host *\n  UserKnownHostsFile /never\n  StrictHostKeyChecking accept-new\n  ProxyJump never\n"
                     "  IdentityFile /keys/three\n"}},
         {"web1", "x"}},
        {"syntax",
         {{"config", "PORT=2022\n\tuser = \"carol c\"\nHostKeyAlias =a\\ b\nStrictHostKeyChecking no\n"
                     "ConnectTimeout none\nConnectTimeout 2m\nProxyJump none\nProxyJump x\n# comment\n"
                     "IdentityFile \"/k with space\" # trailing\n"}},
         {"a"}},
        {"quoted keywords", {{"config", "\"Port\" 2022\n\"User\"=x\nHost\"KeyAlias\" k\n"}}, {"a"}},
        {"StrictHostKeyChecking yes", {{"config", "StrictHostKeyChecking yes\n"}}, {"a"}},
        {"StrictHostKeyChecking ask", {{"config", "StrictHostKeyChecking ask\n"}}, {"a"}},
        // Lines both refuse: ssh fails and a diagnostic is given.
        {"bad port", {{"config", "User a\nPort 0\n"}}, {"a"}},
        {"bad port in a skipped block", {{"config", "Host other\n  Port x\n"}}, {"a"}},
        {"no argument", {{"config", "Port\n"}}, {"a"}},
        {"bad quotes", {{"config", "User \"a\n"}}, {"a"}},
        {"extra arguments", {{"config", "User a b\n"}}, {"a"}},
        {"bad StrictHostKeyChecking", {{"config", "StrictHostKeyChecking maybe\n"}}, {"a"}},
        {"bad time", {{"config", "ServerAliveInterval 5x\n"}}, {"a"}},
        {"Match all and more", {{"config", "Match all host x\n"}}, {"a"}},
        {"self-inclusion", {{"config", "Include @DIR@/config\n"}}, {"a"}},
    };
    int compared_values = 0;
    for (const differential_row& row : rows) {
        SCOPED_TRACE(row.name);
        temp_dir dir;
        test_support::scoped_home home(dir.path());
        for (const auto& [name, text] : row.files) {
            std::string t = text;
            for (std::size_t at; (at = t.find("@DIR@")) != std::string::npos;) t.replace(at, 5, dir.path());
            dir.write(name, t);
        }
        for (const char* alias : row.aliases)
            compared_values += compare_with_ssh(peer_sources(dir.path() + "/config", *me), alias, *me);
    }
    EXPECT_GT(compared_values, 150);  // the rows above give 176
}

// Configurations drawn from a fixed seed: keyword spellings, separators, values good and bad, blocks and
// comments, each resolved for several aliases by both readers.
TEST(ssh_config_test, AgreesWithOpenSshOnGeneratedConfigs) {
    const std::optional<ssh_peer> me = local_peer();
    if (!me) GTEST_SKIP() << "no ssh client";
    const std::vector<std::pair<const char*, std::vector<const char*>>> lines = {
        {"Host", {"web", "db?", "*", "* !db1", "w*", "db1 web", "!web *", "\"web\""}},
        // Only criteria ssh finds false too: this reader skips every Match block but `all`.
        {"Match", {"all", "!all", "host nomatch", "originalhost nomatch"}},
        {"HostName", {"h1", "%h.x", "Real-%h", "%%h"}},
        {"User", {"u1", "\"a b\"", "u\\ 2", "'q'"}},
        {"Port", {"22", "2022", "65535", "022"}},
        {"IdentityFile", {"/k1", "/k2", "\"/k 3\""}},
        {"CertificateFile", {"/c1", "/c2"}},
        {"UserKnownHostsFile", {"~/kh_%h", "/a /b", "%d/x_%n_%p", "/k_%r_%u"}},
        {"ServerAliveInterval", {"10", "1m", "none", "1h2m3s"}},
        {"ServerAliveCountMax", {"0", "7", "2147483647"}},
        {"ConnectTimeout", {"none", "30", "1h", "0"}},
        {"StrictHostKeyChecking", {"yes", "no", "ask", "accept-new", "off", "TRUE"}},
        {"ProxyJump", {"none", "a@b", "j1,j2:2", "NONE", "'q'", "a#b"}},
        {"ForwardAgent", {"yes", "no", "No"}},
        {"IdentitiesOnly", {"yes", "no"}},
        {"HostKeyAlias", {"k1", "k2"}},
        {"LocalForward", {"8080 localhost:80", "127.0.0.1:8081 h:81"}},
        {"RemoteForward", {"9000", "9001 h:22"}},
        {"DynamicForward", {"1080", "127.0.0.1:1081"}},
        {"SendEnv", {"LANG LC_*", "-LC_*", "TERM_X", "-*"}},
    };
    const std::pair<const char*, const char*> refused_lines[] = {
        {"Port", "0"},
        {"Port", "x"},
        {"Port", "65536"},
        {"User", "\"open"},
        {"HostName", "a b"},
        {"ServerAliveInterval", "5x"},
        {"ServerAliveCountMax", "-1"},
        {"ServerAliveCountMax", "2147483648"},
        {"StrictHostKeyChecking", "maybe"},
        {"IdentitiesOnly", "maybe"},
        {"LocalForward", "8080"},
        {"SendEnv", "A=B"},
        {"Match", "all host x"},
        {"Match", "colour x"},
    };
    const char* const separators[] = {" ", "=", " = ", "\t", "  =\t"};
    const char* const aliases[] = {"web", "db1", "db2", "other"};
    std::mt19937 random(20261209);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    auto generate = [&](std::size_t count) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i) {
            const auto& [keyword, values] = lines[pick(lines.size())];
            std::string k = keyword;
            std::string value = values[pick(values.size())];
            if (pick(30) == 0) {
                const auto& [bad_keyword, bad_value] = refused_lines[pick(std::size(refused_lines))];
                k = bad_keyword;
                value = bad_value;
            }
            if (pick(4) == 0)
                for (char& c : k) c = static_cast<char>(pick(2) ? std::toupper(c) : std::tolower(c));
            text += std::string(pick(3) == 0 ? "  " : "") + k + separators[pick(std::size(separators))] + value +
                    (pick(6) == 0 ? " # note\n" : "\n");
        }
        return text;
    };
    int compared_values = 0, refused = 0;
    for (int round = 0; round < 80; ++round) {
        temp_dir dir;
        test_support::scoped_home home(dir.path());
        // Included files are the folder's "inc" (Host and Match inside it, an Include of itself at times) and
        // none at all.
        std::string text = generate(3 + pick(10)), inc = generate(1 + pick(4));
        const char* const includes[] = {"/inc", "/i?c /nothing*", "/*c"};
        for (std::string* t : {&text, &inc}) {
            if (t == &text ? pick(3) == 0 : pick(6) != 0) continue;
            std::size_t at = 0;  // the start of a line drawn at random
            for (std::size_t skip = pick(6); skip > 0 && t->find('\n', at) + 1 < t->size(); --skip)
                at = t->find('\n', at) + 1;
            t->insert(at, "Include " + dir.path() + includes[pick(std::size(includes))] + "\n");
        }
        SCOPED_TRACE(text + "-- inc:\n" + inc);
        dir.write("config", text);
        dir.write("inc", inc);
        for (const char* alias : aliases) {
            const int n = compare_with_ssh(peer_sources(dir.path() + "/config", *me), alias, *me);
            compared_values += n;
            refused += n == 0;
        }
    }
    RecordProperty("values_compared", compared_values);
    RecordProperty("resolutions_refused", refused);
    // Both kinds occur: configurations both readers take, and ones both refuse.
    EXPECT_GT(compared_values, 1000);
    EXPECT_GT(refused, 20);
}
}  // namespace
