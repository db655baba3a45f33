// Base64, Hex, MD5, RandomInt, word filling and MIME boundaries: known answers,
// malformed Base64 text and views that are not zero-terminated.  The exact Base64 line
// layout for every length is compared with Python in encoding_python_test.cc.
#include <unistd.h>

#include <random>
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "QbTest.h"
#include "SStringList.h"
#include "Smime.h"
#include "Smisc.h"

using qbtest::S;
using qbtest::Str;

TEST(Base64, KnownAnswersEmptyAndUndefined) {
    // RFC 4648 test vectors; every encoded text ends its (only) line with CR LF.
    const struct {
        std::string plain, encoded;
    } rows[] = {
        {"f", "Zg==\r\n"}, {"fo", "Zm8=\r\n"}, {"foo", "Zm9v\r\n"}, {"foob", "Zm9vYg==\r\n"},
        {"fooba", "Zm9vYmE=\r\n"}, {"foobar", "Zm9vYmFy\r\n"}, {std::string("\0\xff\xfe", 3), "AP/+\r\n"},
        {"", "\r\n"},  // the empty text still gets its line end
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Str(EncodeBase64(S(row.plain))), row.encoded) << row.plain;
        EXPECT_EQ(Str(DecodeBase64(S(row.encoded))), row.plain) << row.encoded;
    }
    EXPECT_FALSE(EncodeBase64(SString()).Defined());
    EXPECT_FALSE(DecodeBase64(SString()).Defined());
    SString none = DecodeBase64(SString(""));
    EXPECT_TRUE(none.Defined() && none.Length() == 0);
}

TEST(Base64, DecodeSkipsForeignBytesAnywhere) {
    std::mt19937 rng(3);
    std::string plain(100000, '\0');
    for (char& c : plain) c = static_cast<char>(rng() & 0xFF);
    std::string text = Str(EncodeBase64(S(plain)));
    // The same text with LF-only lines and blanks, tabs, control and high bytes strewn
    // in, and all on one line.
    std::string noisy, oneLine;
    for (char c : text) {
        if (c != '\r' && c != '\n') oneLine += c;
        if (c == '\r') continue;
        noisy += c;
        if (rng() % 7 == 0) noisy += " \t\x01\x80\xff*"[rng() % 6];
    }
    EXPECT_EQ(Str(DecodeBase64(S(noisy))), plain);
    EXPECT_EQ(Str(DecodeBase64(S(oneLine))), plain);
    // The decoder works through long text in slices of some thousand characters; junk
    // shifts the groups so that they straddle the slice edges.
    for (int shift = 1; shift < 6; ++shift)
        ASSERT_EQ(Str(DecodeBase64(S(std::string(shift, '*') + text))), plain) << shift;
    // A padded group ending the text wherever it falls, also at a slice edge.
    for (int junk = 10900; junk < 10940; ++junk) {
        std::string padded = std::string(junk, '.') + "Zg==Zm9v";
        ASSERT_EQ(Str(DecodeBase64(S(padded))), "f") << junk;
        std::string split = std::string(junk, '.') + "Z" + std::string(junk, '\n') + "m9v";
        ASSERT_EQ(Str(DecodeBase64(S(split))), "foo") << junk;
    }
}

TEST(Base64, MalformedText) {
    const struct {
        std::string encoded, plain;
    } rows[] = {
        {"Zg", ""},                                          // fewer than four characters: no group
        {"Zm9vY", "foo"}, {"Zm9vYmE", "foo"},                // the incomplete last group is dropped
        {"Zg==Zm9v", "f"}, {"Zm8=Zm9v", "fo"}, {"Zg==\r\nZm9v", "f"},  // "=" ends decoding
        {"Zm9v====", std::string("foo\0", 4)},               // "===" then "=": one byte of zeros
        {"Z===", "d"},                                       // 'Z' = 25 -> 011001 00... -> 0x64
        {"Zm=v", "f\x60/"}, {"====", std::string("\0", 1)},  // "=" inside a group counts as zero
        {"!!!!", ""}, {"Zm9v!", "foo"}, {"Z m 9 v", "foo"},  // bytes outside the alphabet
    };
    for (const auto& row : rows)
        EXPECT_EQ(Str(DecodeBase64(S(row.encoded))), row.plain) << row.encoded;
}

TEST(Hex, BytesToLowercaseDigits) {
    EXPECT_EQ(Str(Hex("abc")), "616263");
    // Zero-padded nibbles, lowercase letters, bytes above 0x7f taken as unsigned.
    EXPECT_EQ(Str(Hex(S(std::string("\0\x01\x0a\x7f\x80\xab\xff", 7)))), "00010a7f80abff");
    EXPECT_EQ(Str(Hex(SString(""))), "");
    EXPECT_TRUE(Hex(SString("")).Defined());
}

TEST(MD5, Rfc1321TestSuite) {
    const struct {
        const char *input, *digest;
    } rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& row : rows) EXPECT_EQ(Str(MD5(row.input)), row.digest) << row.input;
    EXPECT_EQ(Str(MD5(SString())), "d41d8cd98f00b204e9800998ecf8427e");
    // Zero bytes inside the text are digested, not treated as its end.
    EXPECT_NE(Str(MD5(S(std::string("a\0b", 3)))), Str(MD5("a")));
}

TEST(Encoding, ViewWithoutTerminator) {
    // A string over a caller's buffer is not zero-terminated; only its length counts.
    const char buffer[] = "abcdef";
    SFixedString fixed(buffer, 3);
    SString view(fixed);
    EXPECT_EQ(Str(MD5(view)), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Str(Hex(view)), "616263");
    EXPECT_EQ(Str(EncodeBase64(view)), "YWJj\r\n");
}

TEST(RandomInt, RangeAndSpread) {
    for (int n : {1, 2, 3, 10, 256, 32768, 10000000}) {
        for (int i = 0; i < 2000; ++i) {
            int r = RandomInt(n);
            ASSERT_TRUE(r >= 0 && r < n) << n << ": " << r;
        }
    }
    std::set<int> seen;
    for (int i = 0; i < 5000; ++i) seen.insert(RandomInt(16));
    EXPECT_EQ(seen.size(), 16u);
    EXPECT_EQ(RandomInt(0), 0);
}

TEST(CreateMIMEBoundary, FixedPrefixRandomNumberAndPid) {
    // A number below 10000000, then the process id in parentheses.
    const std::regex form("={27}_ _= ([0-9]{1,7})\\(" + std::to_string(getpid()) + "\\)");
    std::set<std::string> numbers;
    for (int i = 0; i < 20; ++i) {
        std::string b = Str(CreateMIMEBoundary());
        std::smatch match;
        ASSERT_TRUE(std::regex_match(b, match, form)) << b;
        numbers.insert(match[1]);
    }
    EXPECT_GT(numbers.size(), 1u);
}

TEST(FormatList, FillsLinesBelowTheWidth) {
    const char* words[] = {"The", "quick", "brown", "fox.", "Jumps", "over", nullptr};
    // Width 20, no indent: a word is added while the line's length plus the word's
    // stays below 20 (the blank before it is not counted).
    EXPECT_EQ(Str(FormatList(SStringList(words), 20, 0, "\n")), "The quick brown fox.\nJumps over\n");
    // Indent 2: every line starts with two blanks and the room is width - indent, with
    // the indent counted in the line's length as well; "fox." is followed by two blanks.
    EXPECT_EQ(Str(FormatList(SStringList(words), 20, 2, "\r\n")), "  The quick brown\r\n  fox.  Jumps over\r\n");
    const char* longWord[] = {"a", "abcdefghijklmnopqrstuvwxyz", "b", nullptr};
    EXPECT_EQ(Str(FormatList(SStringList(longWord), 10, 0, "|")), "a|abcdefghijklmnopqrstuvwxyz|b|");
    const char* sentences[] = {"Yes!", "Why?", "Note:", "x", nullptr};
    EXPECT_EQ(Str(FormatList(SStringList(sentences), 80, 0, "\n")), "Yes!  Why?  Note:  x\n");
    EXPECT_EQ(Str(FormatList(SStringList(), 80, 0, "\n")), "");

    EXPECT_EQ(Str(Format("  The quick\tbrown \r\n fox.   Jumps over  ", 20, 0, "\n")),
              "The quick brown fox.\nJumps over\n");
    EXPECT_EQ(Str(Format("", 20, 0, "\n")), "");
    // Blanks alone split into one empty word (the leading empty field is dropped only
    // when more fields follow), which fills one empty line.
    EXPECT_EQ(Str(Format("   ", 20, 0, "\n")), "\n");
}
