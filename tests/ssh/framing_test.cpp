#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "ssh/algorithms.h"
#include "ssh/framing.h"
#include "ssh/wire.h"

namespace {

using ssh::ident_reader;

struct ident_case {
    const char* name;
    std::string input;
    ident_reader::status want;
    std::string line;  // when done
    std::size_t rest;  // packet bytes left after the identification
};

// Fed whole and byte by byte: the split must never matter.
TEST(IdentReader, Cases) {
    const std::string big(300, 'x');
    const ident_case cases[] = {
        {"crlf", "SSH-2.0-OpenSSH_9.2\r\nPKT", ident_reader::status::done, "SSH-2.0-OpenSSH_9.2", 3},
        {"bare lf keeps the next byte", "SSH-2.0-x\nABCD", ident_reader::status::done, "SSH-2.0-x", 4},
        {"lines before are skipped", "hello\r\nbusy\nSSH-1.99-y\r\n", ident_reader::status::done, "SSH-1.99-y", 0},
        {"incomplete", "SSH-2.0-partial", ident_reader::status::need_more, "", 0},
        {"overlong other line is skipped", big + "\nSSH-2.0-z\n!", ident_reader::status::done, "SSH-2.0-z", 1},
        {"overlong identification", "SSH-2.0-" + big + "\n", ident_reader::status::too_long, "", 0},
        {"endless preamble", std::string(9000, 'a'), ident_reader::status::too_long, "", 0},
        {"many short lines",
         [] {
             std::string s;
             for (int i = 0; i < 5000; ++i) s += "a\n";
             return s;
         }(),
         ident_reader::status::too_long, "", 0},
        {"a telnet server's negotiation", "\xff\xfd\x18", ident_reader::status::not_ssh, "", 0},
        {"a control byte in a banner", "Welcome\x01\r\nSSH-2.0-x\r\n", ident_reader::status::not_ssh, "", 0},
        {"UTF-8 banner text is fine", "Willkommen \xc3\xa4\r\nSSH-2.0-x\r\n", ident_reader::status::done, "SSH-2.0-x",
         0},
    };
    for (const auto& c : cases) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(c.input.data());
        for (bool bytewise : {false, true}) {
            ident_reader r;
            r.reset();
            ident_reader::status st = ident_reader::status::need_more;
            std::size_t off = 0;
            while (off < c.input.size() && st == ident_reader::status::need_more) {
                std::size_t used = 0;
                const std::size_t n = bytewise ? 1 : c.input.size() - off;
                st = r.feed(p + off, n, used);
                off += used;
            }
            EXPECT_EQ(st, c.want) << c.name << (bytewise ? " bytewise" : "");
            if (c.want == ident_reader::status::done) {
                EXPECT_EQ(r.line(), c.line) << c.name;
                EXPECT_EQ(c.input.size() - off, c.rest) << c.name;
            }
        }
    }
}

TEST(ReassemblyBuffer, KeepsOrderAndTakesWhatFits) {
    ssh::reassembly_buffer b;
    std::vector<std::uint8_t> chunk(2000);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = std::uint8_t(i);
    // Many takes and partial consumes wander the head across the buffer: contents stay in order.
    for (int round = 0; round < 200; ++round) {
        ASSERT_EQ(b.take(chunk.data(), chunk.size()), chunk.size());
        b.consume(1999);
        ASSERT_EQ(b.size(), std::size_t(round + 1));
        ASSERT_EQ(b.data()[0], chunk[std::size_t(1999 - round)]) << round;
        ASSERT_EQ(b.data()[round], chunk[1999]) << round;
    }
    // A packet's worth plus the start of the next: what fits is taken, kept bytes never move out of order, and
    // after the head is consumed the rest goes in too.
    b.clear();
    std::vector<std::uint8_t> big(ssh::reassembly_capacity + 3000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = std::uint8_t(i * 7);
    const std::size_t first = b.take(big.data(), big.size());
    EXPECT_EQ(first, ssh::reassembly_capacity);
    EXPECT_TRUE(b.full());
    EXPECT_EQ(b.take(big.data() + first, big.size() - first), 0u) << "nothing while full";
    b.consume(65528);
    EXPECT_EQ(b.take(big.data() + first, big.size() - first), big.size() - first);
    ASSERT_EQ(b.size(), big.size() - 65528);
    EXPECT_TRUE(std::equal(b.data(), b.data() + b.size(), big.begin() + 65528));
}

TEST(Wire, ReaderStopsAtTheFirstFailure) {
    const std::uint8_t msg[] = {0, 0, 0, 3, 'a', 'b', 'c', 0, 0, 0, 9, 'x', 1};
    ssh::wire_reader r(msg, sizeof msg);
    auto s = r.text();
    ASSERT_TRUE(s);
    EXPECT_EQ(*s, "abc");
    EXPECT_FALSE(r.string()) << "length 9 runs past the end";
    EXPECT_EQ(r.error(), ssh::wire_error::truncated);
    EXPECT_FALSE(r.u8()) << "nothing is read after a failure";
    EXPECT_FALSE(r.at_end());

    const std::uint8_t nul[] = {0, 0, 0, 2, 'a', 0};
    ssh::wire_reader t(nul, sizeof nul);
    EXPECT_FALSE(t.text());
    EXPECT_EQ(t.error(), ssh::wire_error::bad_value);

    const std::uint8_t neg[] = {0, 0, 0, 1, 0x80};
    ssh::wire_reader m(neg, sizeof neg);
    EXPECT_FALSE(m.mpint()) << "negative";

    const std::uint8_t extra[] = {1, 2};
    ssh::wire_reader e(extra, sizeof extra);
    EXPECT_TRUE(e.u8());
    EXPECT_FALSE(e.at_end());
    EXPECT_EQ(e.error(), ssh::wire_error::trailing);
}

TEST(Wire, WriterRoundTripsAndReportsOverflow) {
    std::uint8_t buf[64];
    ssh::wire_writer w(buf, sizeof buf);
    w.u8(20);
    w.string("ssh-userauth");
    const std::size_t mark = w.begin_string();
    w.u32(0xDEADBEEF);
    w.end_string(mark);
    w.mpint(crypto::from_bytes(reinterpret_cast<const std::uint8_t*>("\x80\x01"), 2));
    ASSERT_FALSE(w.overflow());
    ssh::wire_reader r(buf, w.size());
    EXPECT_EQ(*r.u8(), 20);
    EXPECT_EQ(*r.text(), "ssh-userauth");
    auto inner = r.string();
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->size(), 4u);
    auto mp = r.string();
    ASSERT_TRUE(mp);
    EXPECT_EQ(mp->size(), 3u) << "sign byte added";
    EXPECT_TRUE(r.at_end());

    std::uint8_t small[6];
    ssh::wire_writer o(small, sizeof small);
    o.string("abc");
    EXPECT_TRUE(o.overflow());
    EXPECT_EQ(o.size(), 4u) << "the length went in, the bytes did not";
}

}  // namespace

namespace {

TEST(Negotiation, FirstClientNameTheServerAlsoHas) {
    const struct {
        const char *client, *server;
        std::optional<std::string_view> want;
    } rows[] = {
        {"a,b,c", "c,b", "b"},
        {"a,b,c", "x,y", std::nullopt},
        {"a", "", std::nullopt},
        {"", "a", std::nullopt},
        {"aes128-ctr", "aes128-ctr-x,aes128-ct", std::nullopt},  // whole names only
        {"x,,y", "y,,", "y"},
    };
    for (const auto& r : rows) EXPECT_EQ(ssh::negotiate(r.client, r.server), r.want) << r.client << " / " << r.server;
}

TEST(Negotiation, ProposalsComeFromTheTablesInOrder) {
    const std::string kex = ssh::client_kex_list();
    EXPECT_EQ(kex.rfind("mlkem768x25519-sha256,", 0), 0u) << "modern first";
    EXPECT_NE(kex.find("diffie-hellman-group1-sha1,ext-info-c,kex-strict-c-v00@openssh.com"), std::string::npos);
    for (const auto& c : ssh::cipher_methods()) EXPECT_TRUE(ssh::name_list_has(ssh::client_cipher_list(), c.name));
    EXPECT_EQ(ssh::client_cipher_list().substr(ssh::client_cipher_list().rfind(',') + 1), "blowfish-cbc");
    EXPECT_EQ(ssh::client_host_key_list().substr(ssh::client_host_key_list().rfind(',') + 1), "ssh-dss");
    // An AEAD cipher carries its own tag; every other row needs a MAC.
    for (const auto& c : ssh::cipher_methods())
        EXPECT_EQ(c.tag != 0, c.kind == ssh::cipher_kind::aes_gcm || c.kind == ssh::cipher_kind::chacha) << c.name;
}

}  // namespace
