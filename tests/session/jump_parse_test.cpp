// The -J list: each row a text and the hops it gives, or the start of the reason it is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/jump.h"

namespace {

struct accepted_row {
    const char* text;
    std::vector<jump_hop> hops;
};

const accepted_row accepted[] = {
    {"bastion", {{"", "bastion", 22, ""}}},
    {"sshtest@127.0.0.1:22202", {{"sshtest", "127.0.0.1", 22202, ""}}},
    {"a@h1:2201,h2,b@h3:65535", {{"a", "h1", 2201, ""}, {"", "h2", 22, ""}, {"b", "h3", 65535, ""}}},
    {"[::1]:2222", {{"", "::1", 2222, ""}}},
    {"me@[::1]", {{"me", "::1", 22, ""}}},
    {"[fe80::1%eth0]:22", {{"", "fe80::1%eth0", 22, ""}}},
    {"[::ffff:127.0.0.1]:7", {{"", "::ffff:127.0.0.1", 7, ""}}},
    // The last '@' ends the user name, as OpenSSH reads it.
    {"a@b@host", {{"a@b", "host", 22, ""}}},
    {"ssh://user@host:2022", {{"user", "host", 2022, ""}}},
    {"ssh://host", {{"", "host", 22, ""}}},
    {"ssh://host/", {{"", "host", 22, ""}}},
    {"ssh://u%40x@[::1]:23", {{"u@x", "::1", 23, ""}}},
    {"ssh://u;fingerprint=SHA256-abc@h", {{"u", "h", 22, ""}}},
    {"x@h1,ssh://y@h2:99", {{"x", "h1", 22, ""}, {"y", "h2", 99, ""}}},
    {"none", {}},
    {"1,2,3,4,5,6,7,8",
     {{"", "1", 22, ""},
      {"", "2", 22, ""},
      {"", "3", 22, ""},
      {"", "4", 22, ""},
      {"", "5", 22, ""},
      {"", "6", 22, ""},
      {"", "7", 22, ""},
      {"", "8", 22, ""}}},
};

struct refused_row {
    const char* text;
    const char* why;  // the reason's beginning
};

const refused_row refused[] = {
    {"", "no jump host given"},
    {"h1,", "an empty jump host"},
    {",h1", "an empty jump host"},
    {"h1,,h2", "an empty jump host"},
    {"ssh://", "an empty jump host"},
    {"@host", "no usable user name"},
    {"user@", "no usable host name"},
    {"host:", "no port after ':'"},
    {"host:0", "the port in \"host:0\""},
    {"host:65536", "the port in"},
    {"host:22x", "the port in"},
    {"host:+22", "the port in"},
    {"host:000022", "the port in"},
    {"::1", "an IPv6 address needs brackets"},
    {"fe80::1:22", "an IPv6 address needs brackets"},
    {"[::1", "a '[' without its ']'"},
    {"[host]:22", "no IPv6 address within the brackets"},
    {"[::1]x", "unexpected text after ']'"},
    {"[::1]:", "no port after ':'"},
    {"ho st", "no usable host name"},
    {"host/path", "no usable host name"},
    {"ssh://host/path", "no usable host name"},
    {"ssh://u%4@h", "the user name in"},
    {"ssh://u%00@h", "the user name in"},
    {"u\x01@h", "no usable user name"},
    {"1,2,3,4,5,6,7,8,9", "more than 8 jump hosts"},
};

TEST(JumpChainText, AcceptedTexts) {
    for (const accepted_row& row : accepted) {
        SCOPED_TRACE(row.text);
        std::string why;
        const auto hops = parse_jump_chain(row.text, &why);
        ASSERT_TRUE(hops.has_value()) << why;
        EXPECT_EQ(*hops, row.hops);
    }
}

TEST(JumpChainText, RefusedTextsSayWhy) {
    for (const refused_row& row : refused) {
        SCOPED_TRACE(row.text);
        std::string why;
        EXPECT_FALSE(parse_jump_chain(row.text, &why).has_value());
        EXPECT_EQ(why.rfind(row.why, 0), 0u) << why;
    }
}

TEST(JumpChainText, LongTextIsRefusedWhole) {
    std::string text(max_jump_text, 'h');
    EXPECT_TRUE(parse_jump_chain(text).has_value());
    text += 'h';
    std::string why;
    EXPECT_FALSE(parse_jump_chain(text, &why).has_value());
    EXPECT_NE(why.find("longer than 1024"), std::string::npos);
}

TEST(JumpChainText, HopTextBracketsIPv6) {
    EXPECT_EQ((jump_hop{"u", "::1", 2222, ""}.text()), "u@[::1]:2222");
    EXPECT_EQ((jump_hop{"", "gate", 22, ""}.text()), "gate:22");
    // Parsed and written back, a list gives itself.
    const auto hops = parse_jump_chain("a@[fe80::2]:10,b:11");
    ASSERT_TRUE(hops);
    EXPECT_EQ((*hops)[0].text() + "," + (*hops)[1].text(), "a@[fe80::2]:10,b:11");
}

}  // namespace
