// Forward entries as users write them, and the SOCKS requests a dynamic forward answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "forward/forward_rule.h"
#include "forward/socks_request.h"

namespace {

using fwd::forward_kind;
using fwd::forward_rule;
using bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------------------------------------------
struct entry_case {
    const char* entry;
    const char* stored;  // format_forward of the result; nullptr: refused
    const char* described;
    const char* why;  // part of the refusal's text
};

const entry_case entry_cases[] = {
    {"L8080:127.0.0.1:80", "L8080:127.0.0.1:80", "127.0.0.1:8080 -> 127.0.0.1:80", nullptr},
    {"l8080:db.example:5432", "L8080:db.example:5432", "127.0.0.1:8080 -> db.example:5432", nullptr},
    {"L0.0.0.0:8080:web:80", "L0.0.0.0:8080:web:80", "0.0.0.0:8080 -> web:80", nullptr},
    {"L[::1]:2222:[fe80::1%eth0]:22", "L[::1]:2222:[fe80::1%eth0]:22", "[::1]:2222 -> [fe80::1%eth0]:22", nullptr},
    {"R9000:127.0.0.1:22", "R9000:127.0.0.1:22", "host 127.0.0.1:9000 -> 127.0.0.1:22", nullptr},
    {"R*:9000:localhost:22", "R*:9000:localhost:22", "host *:9000 -> localhost:22", nullptr},
    {"D1080", "D1080", "127.0.0.1:1080 (SOCKS)", nullptr},
    {"d[::1]:65535", "D[::1]:65535", "[::1]:65535 (SOCKS)", nullptr},
    {"X8080:a:80", nullptr, nullptr, "starts with L"},
    {"L8080", nullptr, nullptr, "expected [address:]port:host:hostport"},
    {"D1080:a:80", nullptr, nullptr, "expected [address:]port"},
    {"L8080:a:80:1:2", nullptr, nullptr, "too many colons"},
    {"L70000:a:80", nullptr, nullptr, "listening port"},
    {"L0:a:80", nullptr, nullptr, "listening port"},
    {"L+80:a:80", nullptr, nullptr, "listening port"},
    {"L8080:a:http", nullptr, nullptr, "destination port"},
    {"L8080:*:80", nullptr, nullptr, "destination is not"},
    {"L8080::80", nullptr, nullptr, "destination is not"},
    {"L8080:a b:80", nullptr, nullptr, "destination is not"},
    {"L[1.2.3.4]:80:a:1", nullptr, nullptr, "listening address"},
    {"L[::1:80:a:1", nullptr, nullptr, "brackets"},
    {"L::1]:80:a:1", nullptr, nullptr, "brackets"},
    {"L8080:[::1]x:80", nullptr, nullptr, "brackets"},
    {"", nullptr, nullptr, "empty"},
};

TEST(ForwardRule, EntriesParseFormatAndDescribe) {
    for (const entry_case& c : entry_cases) {
        SCOPED_TRACE(c.entry);
        std::string why;
        const auto s = fwd::parse_forward(c.entry, &why);
        if (!c.stored) {
            EXPECT_FALSE(s);
            EXPECT_NE(why.find(c.why), std::string::npos) << why;
            continue;
        }
        ASSERT_TRUE(s) << why;
        EXPECT_EQ(fwd::format_forward(*s), c.stored);
        EXPECT_EQ(fwd::describe_forward(*s), c.described);
        EXPECT_EQ(fwd::parse_forward(fwd::format_forward(*s)), s);
    }
}

TEST(ForwardRule, ArgumentsOfTheSwitchesTakeNoLetter) {
    const auto l = fwd::parse_forward_argument(forward_kind::local, "8080:127.0.0.1:80");
    ASSERT_TRUE(l);
    EXPECT_EQ(*l, (forward_rule{forward_kind::local, "", 8080, "127.0.0.1", 80}));
    EXPECT_EQ(l->listen_address(), "127.0.0.1");
    const auto d = fwd::parse_forward_argument(forward_kind::dynamic, "0.0.0.0:1080");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->listen_address(), "0.0.0.0");
    EXPECT_FALSE(fwd::parse_forward_argument(forward_kind::remote, "L9000:a:22"));
}

TEST(ForwardRule, ListKeepsGoodEntriesAndNamesBadOnes) {
    const auto l = fwd::parse_forwards(" L8080:127.0.0.1:80, ,R9000:127.0.0.1:22,bad,D1080,");
    ASSERT_EQ(l.rules.size(), 3u);
    EXPECT_EQ(fwd::format_forwards(l.rules), "L8080:127.0.0.1:80,R9000:127.0.0.1:22,D1080");
    ASSERT_EQ(l.errors.size(), 1u);
    EXPECT_EQ(l.errors[0].index, 2u);
    EXPECT_EQ(l.errors[0].entry, "bad");

    std::string many;
    for (int i = 0; i < 70; ++i) many += "D" + std::to_string(10000 + i) + ",";
    const auto m = fwd::parse_forwards(many);
    EXPECT_EQ(m.rules.size(), fwd::max_forwards);
    EXPECT_EQ(m.errors.size(), 70 - fwd::max_forwards);

    const auto big = fwd::parse_forwards(std::string(fwd::max_forward_text + 1, 'D'));
    EXPECT_TRUE(big.rules.empty());
    ASSERT_EQ(big.errors.size(), 1u);
    EXPECT_TRUE(fwd::parse_forwards("").rules.empty());
}

// ---------------------------------------------------------------------------------------------------------------
bytes operator+(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
bytes text(std::string_view s, bool nul = true) {
    bytes b(s.begin(), s.end());
    if (nul) b.push_back(0);
    return b;
}

const bytes v5_hello = {5, 1, 0};
const bytes v5_choice = {5, 0};
using step = fwd::socks_request::step;

struct socks_case {
    const char* name;
    bytes request;
    step expect;
    const char* host;  // connect: the destination; refused: part of why()
    std::uint16_t port;
    bytes reply;  // everything answered before the tunnel opens
};

const socks_case socks_cases[] = {
    {"4 connect", bytes{4, 1, 0, 80, 10, 0, 0, 1} + text("bob"), step::connect, "10.0.0.1", 80, {}},
    {"4a by name",
     bytes{4, 1, 0x1F, 0x90, 0, 0, 0, 9} + text("") + text("example.org"),
     step::connect,
     "example.org",
     8080,
     {}},
    {"4 bind",
     bytes{4, 2, 0, 80, 10, 0, 0, 1} + text(""),
     step::refused,
     "only CONNECT",
     0,
     {0, 0x5B, 0, 0, 0, 0, 0, 0}},
    {"4a name with a space",
     bytes{4, 1, 0, 80, 0, 0, 0, 1} + text("") + text("a b"),
     step::refused,
     "not valid",
     0,
     {0, 0x5B, 0, 0, 0, 0, 0, 0}},
    {"4 port 0", bytes{4, 1, 0, 0, 10, 0, 0, 1} + text(""), step::refused, "port 0", 0, {0, 0x5B, 0, 0, 0, 0, 0, 0}},
    {"5 IPv4", v5_hello + bytes{5, 1, 0, 1, 192, 168, 1, 2, 0, 22}, step::connect, "192.168.1.2", 22, v5_choice},
    {"5 name", v5_hello + bytes{5, 1, 0, 3, 4} + text("host", false) + bytes{1, 0}, step::connect, "host", 256,
     v5_choice},
    {"5 IPv6", v5_hello + bytes{5, 1, 0, 4, 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 80},
     step::connect, "2001:db8:0:0:0:0:0:1", 80, v5_choice},
    {"5 among several methods", bytes{5, 3, 2, 1, 0} + bytes{5, 1, 0, 1, 1, 2, 3, 4, 0, 1}, step::connect, "1.2.3.4", 1,
     v5_choice},
    {"5 password only", bytes{5, 1, 2}, step::refused, "authentication", 0, {5, 0xFF}},
    {"5 no methods", bytes{5, 0}, step::refused, "authentication", 0, {5, 0xFF}},
    {"5 UDP associate", v5_hello + bytes{5, 3, 0, 1, 1, 2, 3, 4, 0, 1}, step::refused, "only CONNECT", 0,
     v5_choice + bytes{5, 7, 0, 1, 0, 0, 0, 0, 0, 0}},
    {"5 unknown address type", v5_hello + bytes{5, 1, 0, 9, 1, 2, 3, 4, 0, 1}, step::refused, "address type", 0,
     v5_choice + bytes{5, 8, 0, 1, 0, 0, 0, 0, 0, 0}},
    {"5 name with a control", v5_hello + bytes{5, 1, 0, 3, 3, 'a', '\n', 'b', 0, 80}, step::refused, "not valid", 0,
     v5_choice + bytes{5, 1, 0, 1, 0, 0, 0, 0, 0, 0}},
    {"5 empty name", v5_hello + bytes{5, 1, 0, 3, 0, 0, 80}, step::refused, "not valid", 0,
     v5_choice + bytes{5, 1, 0, 1, 0, 0, 0, 0, 0, 0}},
    {"5 request of version 4", v5_hello + bytes{4, 1, 0, 1, 1, 2, 3, 4, 0, 1}, step::refused, "wrong version", 0,
     v5_choice + bytes{5, 1, 0, 1, 0, 0, 0, 0, 0, 0}},
    {"an HTTP request", text("GET / HTTP/1.0\r\n", false), step::refused, "not a SOCKS", 0, {}},
    {"4 user name never ends",
     bytes{4, 1, 0, 80, 10, 0, 0, 1} + bytes(700, 'u'),
     step::refused,
     "too long",
     0,
     {0, 0x5B, 0, 0, 0, 0, 0, 0}},
};

// Feeds the request in pieces of `piece` bytes, then `early` as the program's first data; returns the bytes the
// request used and collects the replies.
struct fed {
    step last = step::more;
    std::size_t used = 0;
    bytes reply;
};
fed feed_in_pieces(fwd::socks_request& r, const bytes& all, std::size_t piece) {
    fed out;
    for (std::size_t at = 0; at < all.size() && out.last == step::more; at += piece) {
        std::size_t used = 0;
        const std::size_t n = std::min(piece, all.size() - at);
        out.last = r.feed({all.data() + at, n}, used);
        EXPECT_LE(used, n);
        out.used += used;
        out.reply.insert(out.reply.end(), r.reply().begin(), r.reply().end());
        r.clear_reply();
    }
    return out;
}

TEST(SocksRequest, RequestsWholeAndByteByByte) {
    const bytes early = text("early data", false);
    for (const socks_case& c : socks_cases) {
        for (std::size_t piece : {std::size_t(1), std::size_t(3), std::size_t(4096)}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            fwd::socks_request r;
            const fed f = feed_in_pieces(r, c.request + early, piece);
            EXPECT_EQ(f.last, c.expect);
            EXPECT_EQ(f.reply, c.reply);
            if (c.expect == step::connect) {
                // What follows the request is the program's, for the tunnel.
                EXPECT_EQ(f.used, c.request.size());
                EXPECT_EQ(r.host(), c.host);
                EXPECT_EQ(r.port(), c.port);
            } else {
                EXPECT_NE(r.why().find(c.host), std::string_view::npos) << r.why();
            }
            std::size_t used = 99;
            EXPECT_EQ(r.feed(early, used), c.expect);
            EXPECT_EQ(used, 0u);
        }
    }
}

TEST(SocksRequest, AnswersOnceTheHostDecides) {
    struct {
        bytes request;
        std::uint32_t ssh_reason;  // 0: the channel opened
        bytes answer;
    } cases[] = {
        {bytes{4, 1, 0, 80, 10, 0, 0, 1} + text(""), 0, {0, 0x5A, 0, 0, 0, 0, 0, 0}},
        {bytes{4, 1, 0, 80, 10, 0, 0, 1} + text(""), 2, {0, 0x5B, 0, 0, 0, 0, 0, 0}},
        {v5_hello + bytes{5, 1, 0, 1, 1, 2, 3, 4, 0, 1}, 0, {5, 0, 0, 1, 0, 0, 0, 0, 0, 0}},
        {v5_hello + bytes{5, 1, 0, 1, 1, 2, 3, 4, 0, 1}, 1, {5, 2, 0, 1, 0, 0, 0, 0, 0, 0}},
        {v5_hello + bytes{5, 1, 0, 1, 1, 2, 3, 4, 0, 1}, 2, {5, 5, 0, 1, 0, 0, 0, 0, 0, 0}},
        {v5_hello + bytes{5, 1, 0, 1, 1, 2, 3, 4, 0, 1}, 4, {5, 1, 0, 1, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        fwd::socks_request r;
        ASSERT_EQ(feed_in_pieces(r, c.request, 64).last, step::connect);
        const auto a = c.ssh_reason ? r.failed(c.ssh_reason) : r.granted();
        EXPECT_EQ(bytes(a.begin(), a.end()), c.answer) << "reason " << c.ssh_reason;
    }
}

}  // namespace
