#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "crypto/bignum.h"
#include "crypto/sha1.h"
#include "fixtures.h"

using namespace crypto;
using fixtures::bytes;
using fixtures::number;
using fixtures::to_hex;

TEST(Bignum, ArithmeticMatchesPythonIntegers) {
    int divs = 0, exps = 0, invs = 0, none = 0;
    for (auto& r : fixtures::load("bignum_ops.txt")) {
        const std::string op = r["op"];
        if (op == "divmod") {
            divmod_result d = divmod(number(r["a"]), number(r["m"]));
            ASSERT_EQ(to_hex(d.quotient), r["q"]) << r["a"] << " / " << r["m"];
            ASSERT_EQ(to_hex(d.remainder), r["r"]) << r["a"] << " % " << r["m"];
            ++divs;
        } else if (op == "modexp") {
            bignum m = number(r["m"]);
            bignum got = modexp(number(r["b"]), number(r["e"]), m);
            ASSERT_EQ(to_hex(got), r["r"]) << r["b"] << " ^ " << r["e"] << " mod " << r["m"];
            ++exps;
        } else if (op == "inverse") {
            auto inv = inverse(number(r["a"]), number(r["m"]));
            if (r["r"] == "none") {
                EXPECT_FALSE(inv.has_value()) << r["a"] << " mod " << r["m"];
                ++none;
            } else {
                ASSERT_TRUE(inv.has_value()) << r["a"] << " mod " << r["m"];
                EXPECT_EQ(to_hex(*inv), r["r"]) << r["a"] << " mod " << r["m"];
            }
            ++invs;
        }
    }
    EXPECT_EQ(divs, 340) << "300 random and 40 that need the add-back step";
    EXPECT_EQ(exps, 160);
    EXPECT_EQ(invs, 150);
    EXPECT_GT(none, 10);
}

TEST(Bignum, SmallInversesAndFailures) {
    EXPECT_EQ(to_hex(*inverse(bignum::from_u32(3), bignum::from_u32(7))), "5");
    EXPECT_EQ(to_hex(*inverse(bignum::from_u32(5), bignum::from_u32(7))), "3");
    EXPECT_EQ(to_hex(*inverse(bignum::from_u32(1), bignum::from_u32(7))), "1");
    EXPECT_EQ(to_hex(*inverse(bignum::from_u32(10), bignum::from_u32(7))), "5") << "a above m is reduced";
    EXPECT_FALSE(inverse(bignum::from_u32(0), bignum::from_u32(7)));
    EXPECT_FALSE(inverse(bignum::from_u32(14), bignum::from_u32(7)));
    EXPECT_FALSE(inverse(bignum::from_u32(6), bignum::from_u32(9)));
    EXPECT_FALSE(inverse(bignum::from_u32(3), bignum::from_u32(1)));
    EXPECT_FALSE(inverse(bignum::from_u32(3), bignum::from_u32(0)));
}

TEST(Bignum, ModexpShiftedAndUnshiftedModuliAgree) {
    // The same arithmetic through a modulus whose top digit is full (no shift) and through m * 2^k: the results
    // must agree modulo m.
    bignum m = number("f1234567890abcdef1234567890abcdf");  // top bit set
    bignum b = number("123456789abcdef0123456789");
    bignum e = number("10001");
    bignum direct = modexp(b, e, m);
    for (unsigned k : {1u, 7u, 15u, 16u, 17u}) {
        bignum m2 = multiply_add(m, with_bit(k));
        bignum wide = modexp(b, e, m2);
        EXPECT_EQ(to_hex(mod(wide, m)), to_hex(direct)) << "shift " << k;
    }
}

TEST(Bignum, ModexpEdgeOperands) {
    bignum m = number("fffffffb");
    EXPECT_EQ(to_hex(modexp(number("1234"), bignum(), m)), "1") << "x^0";
    EXPECT_EQ(to_hex(modexp(number("1234"), bignum(), bignum::from_u32(1))), "0") << "anything mod 1";
    EXPECT_EQ(to_hex(modexp(bignum(), number("5"), m)), "0");
    // Base much longer than the modulus is reduced first.
    bignum big = number("123456789abcdef0123456789abcdef0123456789abcdef");
    EXPECT_EQ(to_hex(modexp(big, number("3"), m)), to_hex(modexp(mod(big, m), number("3"), m)));
    EXPECT_THROW(modexp(big, number("3"), bignum()), std::domain_error);
    EXPECT_THROW(divmod(big, bignum(4)), std::domain_error) << "zero with several digits";
}

TEST(Bignum, BitsAndShifts) {
    bignum a = number("1f0000000000000001");
    EXPECT_EQ(a.bit_length(), 69u);
    EXPECT_EQ(bignum().bit_length(), 0u);
    EXPECT_EQ(bignum(5).bit_length(), 0u) << "zero with padding digits";
    EXPECT_EQ(a.byte(0), 1);
    EXPECT_EQ(a.byte(8), 0x1f);
    EXPECT_EQ(a.byte(100), 0);
    EXPECT_EQ(to_hex(shift_right(a, 1)), "f8000000000000000");
    EXPECT_EQ(to_hex(shift_right(a, 64)), "1f");
    EXPECT_EQ(to_hex(shift_right(a, 69)), "0");
    EXPECT_EQ(to_hex(mask(a)), "1fffffffffffffffff");
    EXPECT_EQ(to_hex(with_bit(16)), "10000");
    EXPECT_EQ(with_bit(16).size(), 2u);
    bignum b(2);
    b.set_bit(40, true);
    EXPECT_EQ(to_hex(b), "10000000000");
    b.set_bit(40, false);
    EXPECT_TRUE(b.is_zero());
    EXPECT_EQ(compare(number("100"), bignum(9)), 1);
    EXPECT_EQ(compare(bignum(9), bignum()), 0) << "missing digits count as zero";
}

TEST(Bignum, MultiplyAdd) {
    bignum a = number("ffffffffffffffff"), b = number("ffffffff"), c = number("1");
    EXPECT_EQ(to_hex(multiply_add(a, b, &c)), "fffffffeffffffff00000002");
    EXPECT_EQ(to_hex(multiply_add(a, bignum())), "0");
    EXPECT_EQ(to_hex(mulmod(a, b, number("fffd"))), to_hex(mod(multiply_add(a, b), number("fffd"))));
}

// RFC 4251 section 5 examples, plus the boundaries of the sign byte.
TEST(Mpint, Ssh2Encoding) {
    EXPECT_EQ(fixtures::to_hex(to_ssh2_mpint_bytes(bignum())), "");
    EXPECT_EQ(fixtures::to_hex(to_ssh2_mpint_bytes(number("9a378f9b2e332a7"))), "09a378f9b2e332a7");
    EXPECT_EQ(fixtures::to_hex(to_ssh2_mpint_bytes(number("80"))), "0080");
    EXPECT_EQ(fixtures::to_hex(to_ssh2_mpint_bytes(number("7f"))), "7f");
    EXPECT_EQ(fixtures::to_hex(to_ssh2_mpint_bytes(number("100"))), "0100");
    EXPECT_EQ(fixtures::to_hex(to_ssh2_mpint_bytes(number("ff00"))), "00ff00");
    bignum padded(6);
    padded.data()[0] = 0x80;
    EXPECT_EQ(fixtures::to_hex(to_ssh2_mpint_bytes(padded)), "0080") << "unnormalised digits";
}

TEST(Mpint, Ssh1EncodingRoundTrip) {
    const uint8_t in[] = {0x00, 0x09, 0x01, 0xFF, 0xAA};
    auto r = from_ssh1_mpint(in, sizeof in);
    ASSERT_TRUE(r);
    EXPECT_EQ(to_hex(r->first), "1ff");
    EXPECT_EQ(r->second, 4u);
    EXPECT_FALSE(from_ssh1_mpint(in, 3)) << "bit count promises two bytes";
    EXPECT_FALSE(from_ssh1_mpint(in, 1));
    const uint8_t huge[] = {0xFF, 0xFF, 1, 2, 3};
    EXPECT_FALSE(from_ssh1_mpint(huge, sizeof huge));

    bignum v = number("1ff");
    ASSERT_EQ(ssh1_mpint_size(v), 4u);
    uint8_t out[4];
    EXPECT_EQ(to_ssh1_mpint(v, out), 4u);
    EXPECT_EQ(fixtures::to_hex(out, 4), "000901ff");
    EXPECT_EQ(ssh1_mpint_size(bignum()), 2u);
}

TEST(Mpint, AbsorbUsesTheSsh2Form) {
    sha1_context a, b;
    absorb_mpint(a, number("80"));
    const uint8_t framed[] = {0, 0, 0, 2, 0x00, 0x80};
    b.update(framed, sizeof framed);
    uint8_t x[20], y[20];
    a.final(x);
    b.final(y);
    EXPECT_EQ(0, std::memcmp(x, y, 20));
}

TEST(BlobReader, StringsAndMpintsStayInBounds) {
    const uint8_t blob[] = {0, 0, 0, 2, 0x01, 0x02,  // string "\x01\x02"
                            0, 0, 0, 1, 0x80,        // negative mpint
                            0, 0, 0, 0,              // zero mpint
                            0, 0, 0, 9, 0x01};       // length runs past the end
    blob_reader rd(blob, sizeof blob);
    auto s = rd.read_string();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->size(), 2u);
    EXPECT_FALSE(rd.read_mpint()) << "negative";
    EXPECT_EQ(rd.remaining, sizeof blob - 6) << "a refused mpint consumes nothing";
    EXPECT_TRUE(rd.read_string());
    auto z = rd.read_mpint();
    ASSERT_TRUE(z);
    EXPECT_TRUE(z->is_zero());
    EXPECT_FALSE(rd.read_string());
    EXPECT_FALSE(rd.read_mpint());
    EXPECT_FALSE(rd.read_20_bytes());
    EXPECT_EQ(rd.remaining, 5u);

    const uint8_t lenmax[] = {0xFF, 0xFF, 0xFF, 0xFF, 0};
    blob_reader r2(lenmax, sizeof lenmax);
    EXPECT_FALSE(r2.read_string()) << "length near 2^32 must not wrap";
    blob_reader r3(lenmax, 3);
    EXPECT_FALSE(r3.read_u32());
}

TEST(BlobReader, OverlongMpintRefused) {
    bytes blob(4 + max_mpint_bytes + 1, 0x11);
    size_t n = max_mpint_bytes + 1;
    blob[0] = uint8_t(n >> 24);
    blob[1] = uint8_t(n >> 16);
    blob[2] = uint8_t(n >> 8);
    blob[3] = uint8_t(n);
    blob_reader rd(blob.data(), blob.size());
    EXPECT_FALSE(rd.read_mpint());
    // One byte shorter is the largest accepted.
    n = max_mpint_bytes;
    blob[3] = uint8_t(n);
    blob[2] = uint8_t(n >> 8);
    blob_reader ok(blob.data(), blob.size() - 1);
    auto v = ok.read_mpint();
    ASSERT_TRUE(v);
    EXPECT_EQ(v->bit_length(), 8 * max_mpint_bytes - 3);
}

TEST(BlobReader, Read20BytesIsBigEndian) {
    uint8_t b[20] = {};
    b[0] = 0x80;
    b[19] = 0x01;
    blob_reader rd(b, 20);
    auto v = rd.read_20_bytes();
    ASSERT_TRUE(v);
    EXPECT_EQ(v->bit_length(), 160u);
    EXPECT_EQ(v->byte(0), 1);
    EXPECT_EQ(rd.remaining, 0u);
}
