// Base64, Hex, MD5, RandomInt, word filling and MIME boundaries: known answers,
// exact line layout, round trips and malformed Base64 text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <set>
#include <string>

#include "SStringList.h"
#include "Smime.h"
#include "Smisc.h"

namespace {

SString Bytes(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }
std::string Std(const SString& s) { return std::string(s.Chars(), s.Length()); }

std::string RandomBytes(std::mt19937& rng, int n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

TEST(Base64, KnownAnswers) {
    // RFC 4648 test vectors; every encoded text ends its (only) line with CR LF.
    const struct {
        const char* plain;
        const char* encoded;
    } rows[] = {
        {"f", "Zg==\r\n"},         {"fo", "Zm8=\r\n"},       {"foo", "Zm9v\r\n"},
        {"foob", "Zm9vYg==\r\n"}, {"fooba", "Zm9vYmE=\r\n"}, {"foobar", "Zm9vYmFy\r\n"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Std(EncodeBase64(row.plain)), row.encoded) << row.plain;
        EXPECT_EQ(Std(DecodeBase64(row.encoded)), row.plain) << row.encoded;
    }
    EXPECT_EQ(Std(EncodeBase64(Bytes(std::string("\0\xff\xfe", 3)))), "AP/+\r\n");
}

TEST(Base64, EmptyAndUndefined) {
    SString empty("");
    EXPECT_EQ(Std(EncodeBase64(empty)), "\r\n");
    EXPECT_TRUE(EncodeBase64(empty).Defined());
    EXPECT_FALSE(EncodeBase64(SString()).Defined());
    EXPECT_FALSE(DecodeBase64(SString()).Defined());
    EXPECT_TRUE(DecodeBase64(empty).Defined());
    EXPECT_EQ(DecodeBase64(empty).Length(), 0);
}

TEST(Base64, LineLayoutForEveryLength) {
    std::mt19937 rng(1);
    for (int n = 1; n <= 400; ++n) {
        std::string plain = RandomBytes(rng, n);
        std::string text = Std(EncodeBase64(Bytes(plain)));
        int encoded = (n + 2) / 3 * 4;
        int lines = (encoded + 75) / 76;
        ASSERT_EQ(static_cast<int>(text.size()), encoded + 2 * lines) << n;
        // Every line but the last holds exactly 76 characters; all end in CR LF.
        size_t at = 0;
        for (int line = 0; line < lines; ++line) {
            size_t end = text.find("\r\n", at);
            ASSERT_NE(end, std::string::npos);
            size_t expected = line + 1 < lines ? 76 : encoded - 76 * (lines - 1);
            ASSERT_EQ(end - at, expected) << "length " << n << " line " << line;
            at = end + 2;
        }
        EXPECT_EQ(at, text.size());
        std::string last = text.substr(text.size() - 4, 2);
        // One trailing byte ends in "==", two in a single "=", three in none.
        const char* fill[] = {"", "==", "="};
        std::string want = fill[n % 3];
        EXPECT_EQ(last.substr(2 - want.size()), want) << n;
        EXPECT_EQ(last.find('='), want.empty() ? std::string::npos : 2 - want.size()) << n;
        ASSERT_EQ(Std(DecodeBase64(Bytes(text))), plain) << n;
    }
    std::string s57(57, 'x'), s58(58, 'x');
    EXPECT_EQ(EncodeBase64(Bytes(s57)).Length(), 78);
    std::string two = Std(EncodeBase64(Bytes(s58)));
    EXPECT_EQ(two.size(), 76u + 2 + 4 + 2);
    EXPECT_EQ(two.substr(76, 2), "\r\n");
}

TEST(Base64, DecodeIgnoresLineBreaksAndForeignBytes) {
    std::mt19937 rng(2);
    std::string plain = RandomBytes(rng, 1000);
    std::string text = Std(EncodeBase64(Bytes(plain)));
    // The same text with LF-only lines, blanks, tabs, control and high bytes strewn in.
    std::string noisy;
    for (char c : text) {
        if (c == '\r') continue;
        noisy += c;
        if (rng() % 7 == 0) noisy += " \t\x01\x80\xff*"[rng() % 6];
    }
    EXPECT_EQ(Std(DecodeBase64(Bytes(noisy))), plain);
    std::string oneLine;
    for (char c : text)
        if (c != '\r' && c != '\n') oneLine += c;
    EXPECT_EQ(Std(DecodeBase64(Bytes(oneLine))), plain);
}

TEST(Base64, LongTextWithGroupsAcrossInternalSlices) {
    // The decoder works through long text in slices of some thousand characters;
    // junk shifts the groups so that they straddle the slice edges.
    std::mt19937 rng(3);
    std::string plain = RandomBytes(rng, 100000);
    std::string text = Std(EncodeBase64(Bytes(plain)));
    for (int shift = 0; shift < 6; ++shift) {
        ASSERT_EQ(Std(DecodeBase64(Bytes(std::string(shift, '*') + text))), plain) << shift;
    }
    // A padded group ending the text wherever it falls, also at a slice edge.
    for (int junk = 10900; junk < 10940; ++junk) {
        std::string padded = std::string(junk, '.') + "Zg==Zm9v";
        ASSERT_EQ(Std(DecodeBase64(Bytes(padded))), "f") << junk;
        std::string split = std::string(junk, '.') + "Z" + std::string(junk, '\n') + "m9v";
        ASSERT_EQ(Std(DecodeBase64(Bytes(split))), "foo") << junk;
    }
}

TEST(Base64, MalformedText) {
    const struct {
        std::string encoded;
        std::string plain;
    } rows[] = {
        {"Zg", ""},                      // fewer than four characters: no group
        {"Zm9vY", "foo"},                // the incomplete last group is dropped
        {"Zm9vYmE", "foo"},              //
        {"Zg==Zm9v", "f"},               // a group ending in "=" ends decoding
        {"Zm8=Zm9v", "fo"},              //
        {"Zg==\r\nZm9v", "f"},           //
        {"Zm9v====", std::string("foo\0", 4)},  // "===" then "=": one byte of zeros
        {"Z===", std::string("d", 1)},   // 'Z' = 25 -> 011001 00... -> 0x64
        {"Zm=v", std::string("f\x60/", 3)},     // "=" inside a group counts as zero
        {"====", std::string("\0", 1)},  //
        {"!!!!", ""},                    // nothing from the alphabet
        {"Zm9v!", "foo"},                //
        {"Z m 9 v", "foo"},              //
    };
    for (const auto& row : rows)
        EXPECT_EQ(Std(DecodeBase64(Bytes(row.encoded))), row.plain) << row.encoded;
}

TEST(Hex, BytesToLowercaseDigits) {
    EXPECT_EQ(Std(Hex("abc")), "616263");
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    std::string hex = Std(Hex(Bytes(all)));
    ASSERT_EQ(hex.size(), 512u);
    EXPECT_EQ(hex.substr(0, 6), "000102");
    EXPECT_EQ(hex.substr(2 * 0x7f, 4), "7f80");
    EXPECT_EQ(hex.substr(510), "ff");
    EXPECT_EQ(Std(Hex(SString(""))), "");
    EXPECT_TRUE(Hex(SString("")).Defined());
}

TEST(MD5, Rfc1321TestSuite) {
    const struct {
        const char* input;
        const char* digest;
    } rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890"
         "1234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& row : rows) EXPECT_EQ(Std(MD5(row.input)), row.digest) << row.input;
    EXPECT_EQ(Std(MD5(SString())), "d41d8cd98f00b204e9800998ecf8427e");
    // Zero bytes inside the text are digested, not treated as its end.
    EXPECT_NE(Std(MD5(Bytes(std::string("a\0b", 3)))), Std(MD5("a")));
}

TEST(MD5, SharedViewWithoutTerminator) {
    // A string over a caller's buffer is not zero-terminated; only its length counts.
    const char buffer[] = "abcdef";
    SFixedString fixed(buffer, 3);
    {
        SString view(fixed);
        EXPECT_EQ(Std(MD5(view)), "900150983cd24fb0d6963f7d28e17f72");
        EXPECT_EQ(Std(Hex(view)), "616263");
        EXPECT_EQ(Std(EncodeBase64(view)), "YWJj\r\n");
    }
}

TEST(RandomInt, RangeAndSpread) {
    for (int n : {1, 2, 3, 10, 256, 32768, 10000000}) {
        for (int i = 0; i < 2000; ++i) {
            int r = RandomInt(n);
            ASSERT_GE(r, 0) << n;
            ASSERT_LT(r, n) << n;
        }
    }
    std::set<int> seen;
    for (int i = 0; i < 5000; ++i) seen.insert(RandomInt(16));
    EXPECT_EQ(seen.size(), 16u);
    EXPECT_EQ(RandomInt(0), 0);
}

TEST(CreateMIMEBoundary, FixedPrefixRandomNumberAndPid) {
    const std::string prefix = std::string(27, '=') + "_ _= ";
    const std::string suffix = "(" + std::to_string(getpid()) + ")";
    std::set<std::string> numbers;
    for (int i = 0; i < 20; ++i) {
        std::string b = Std(CreateMIMEBoundary());
        ASSERT_EQ(b.compare(0, prefix.size(), prefix), 0) << b;
        ASSERT_GE(b.size(), prefix.size() + suffix.size() + 1);
        ASSERT_EQ(b.compare(b.size() - suffix.size(), suffix.size(), suffix), 0) << b;
        std::string number = b.substr(prefix.size(), b.size() - prefix.size() - suffix.size());
        ASSERT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << b;
        ASSERT_LT(std::stol(number), 10000000L);
        numbers.insert(number);
    }
    EXPECT_GT(numbers.size(), 1u);
}

TEST(FormatList, FillsLinesBelowTheWidth) {
    const char* words[] = {"The", "quick", "brown", "fox.", "Jumps", "over", nullptr};
    // Width 20, no indent: a word is added while the line's length plus the word's
    // stays below 20 (the blank before it is not counted).
    EXPECT_EQ(Std(FormatList(SStringList(words), 20, 0, "\n")),
              "The quick brown fox.\nJumps over\n");
    // Indent 2: every line starts with two blanks and the room is width - indent,
    // with the indent counted in the line's length as well; "fox." is followed by
    // two blanks.
    EXPECT_EQ(Std(FormatList(SStringList(words), 20, 2, "\r\n")),
              "  The quick brown\r\n  fox.  Jumps over\r\n");
    const char* longWord[] = {"a", "abcdefghijklmnopqrstuvwxyz", "b", nullptr};
    EXPECT_EQ(Std(FormatList(SStringList(longWord), 10, 0, "|")),
              "a|abcdefghijklmnopqrstuvwxyz|b|");
    const char* sentences[] = {"Yes!", "Why?", "Note:", "x", nullptr};
    EXPECT_EQ(Std(FormatList(SStringList(sentences), 80, 0, "\n")), "Yes!  Why?  Note:  x\n");
    EXPECT_EQ(Std(FormatList(SStringList(), 80, 0, "\n")), "");
}

TEST(Format, SplitsAtRunsOfWhiteSpace) {
    EXPECT_EQ(Std(Format("  The quick\tbrown \r\n fox.   Jumps over  ", 20, 0, "\n")),
              "The quick brown fox.\nJumps over\n");
    EXPECT_EQ(Std(Format("", 20, 0, "\n")), "");
    // Blanks alone split into one empty word (the leading empty field is dropped only
    // when more fields follow), which fills one empty line.
    EXPECT_EQ(Std(Format("   ", 20, 0, "\n")), "\n");
}

}  // namespace
