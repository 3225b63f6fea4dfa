#include "dialogs/connect_logic.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

using namespace connect_logic;

TEST(DecimalScan, ConvertsLikeAScanfOfAnInt) {
    EXPECT_EQ(decimal_scan("23"), 23);
    EXPECT_EQ(decimal_scan("  2323xyz"), 2323);
    EXPECT_EQ(decimal_scan("-17"), -17);
    EXPECT_EQ(decimal_scan("+8"), 8);
    EXPECT_EQ(decimal_scan("2147483647"), 2147483647);
    EXPECT_EQ(decimal_scan("-2147483648"), -2147483647 - 1);
    EXPECT_FALSE(decimal_scan(""));
    EXPECT_FALSE(decimal_scan("abc"));
    EXPECT_FALSE(decimal_scan("-"));
    EXPECT_EQ(decimal_scan("0x10"), 0);
    EXPECT_FALSE(decimal_scan("99999999999999999999"));
    EXPECT_FALSE(decimal_scan("2147483648"));
}

TEST(HostHistory, KnownHostKeepsTheOrder) {
    std::array<std::string, 8> h{"alpha", "beta", "gamma", "", "", "", "", ""};
    EXPECT_FALSE(remember_host(h, "GAMMA"));
    EXPECT_EQ(h[0], "alpha");
    EXPECT_EQ(h[2], "gamma");
    EXPECT_TRUE(remember_host(h, "delta"));
    EXPECT_EQ(h[0], "delta");
    EXPECT_EQ(h[1], "alpha");
    EXPECT_EQ(h[3], "gamma");
}

TEST(HostHistory, NinthHostDropsTheOldest) {
    std::array<std::string, 8> h;
    for (int i = 1; i <= 8; ++i) remember_host(h, "host" + std::to_string(i));
    EXPECT_EQ(h[0], "host8");
    EXPECT_EQ(h[7], "host1");
    EXPECT_TRUE(remember_host(h, "host9"));
    EXPECT_EQ(h[0], "host9");
    EXPECT_EQ(h[1], "host8");
    EXPECT_EQ(h[7], "host2");
    for (const auto& e : h) EXPECT_NE(e, "host1");
}

TEST(HostHistory, ChoicesSkipEmptyAndBlankLedEntries) {
    std::array<std::string, 8> h{"one", "", " two", "\tthree", "four", "", "", "five"};
    auto c = history_choices(h);
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0], "one");
    EXPECT_EQ(c[1], "four");
    EXPECT_EQ(c[2], "five");
}

TEST(HostPort, ColonSplitsAndHistoryKeepsTheTypedText) {
    std::array<std::string, 8> h;
    std::string host = "unix1:2323";
    int port = 23;
    remember_host(h, host);
    split_host_port(host, port);
    EXPECT_EQ(host, "unix1");
    EXPECT_EQ(port, 2323);
    EXPECT_EQ(h[0], "unix1:2323");

    host = "plain";
    split_host_port(host, port);
    EXPECT_EQ(host, "plain");
    EXPECT_EQ(port, 2323);

    host = "box:";
    port = 22;
    split_host_port(host, port);
    EXPECT_EQ(host, "box");
    EXPECT_EQ(port, 22);
}

TEST(HostPort, Ipv6AddressesKeepTheirColons) {
    std::string host = "[::1]:2323";
    int port = 23;
    split_host_port(host, port);
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 2323);

    host = "[fe80::1]";
    split_host_port(host, port);
    EXPECT_EQ(host, "fe80::1");
    EXPECT_EQ(port, 2323);

    host = "::1";
    port = 23;
    split_host_port(host, port);
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 23);

    host = "2001:db8::7";
    split_host_port(host, port);
    EXPECT_EQ(host, "2001:db8::7");
    EXPECT_EQ(port, 23);
}

TEST(SshPortWarning, OnlyATypedPortOtherThan22ForSsh) {
    const struct {
        bool ssh;
        const char* port;
        bool typed, warn;
    } rows[] = {
        {true, "2222", true, true},   {true, "22", true, false},    {true, " 22", true, false},
        {true, "2222", false, false}, {false, "2222", true, false}, {false, "22", true, false},
        {true, "", true, true},       {true, "abc", true, true},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ssh_port_warning(r.ssh, r.port, r.typed), r.warn) << r.ssh << " '" << r.port << "' " << r.typed;
}
