// Strings: definedness, copy on write, fixed buffers, comparisons, searching,
// pieces, splitting and line reading.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "QbTest.h"
#include "SString.h"
#include "SStringList.h"

namespace {

using qbtest::Bracketed;
using qbtest::Str;

TEST(SString, BytesToAllocateIsNextPowerOfTwoAboveLength) {
    const int cases[][2] = {{0, 8}, {7, 8}, {8, 16}, {15, 16}, {16, 32}, {1000, 1024}, {1024, 2048}};
    for (auto& c : cases) EXPECT_EQ(BytesToAllocate(c[0]), c[1]) << c[0];
}

TEST(SString, UndefinedEmptyAndDefined) {
    SString undef, empty("");
    EXPECT_FALSE(undef.Defined());
    EXPECT_STREQ(undef.Chars(), "");
    EXPECT_TRUE(empty.Defined());
    EXPECT_EQ(empty.Allocated(), 8);
    EXPECT_TRUE(undef == empty && undef == "" && undef == static_cast<const char*>(nullptr));

    SString grows;
    grows += "";
    grows += static_cast<const char*>(nullptr);
    grows += SString();
    EXPECT_FALSE(grows.Defined()) << "appending nothing keeps a string undefined";
    grows = "";
    EXPECT_TRUE(grows.Defined());
    SString c;
    c += 'x';
    EXPECT_EQ(Str(c), "x");
    SString undefChanged;
    undefChanged.UpperCase();
    EXPECT_TRUE(undefChanged.Defined()) << "a change in place defines the string";

    EXPECT_EQ(Str(SString(nullptr, 3)), std::string(3, '\0'));
    EXPECT_EQ(SString("ab", -4).Length(), 0);
    EXPECT_EQ(Str(SString('z', 3)), "zzz");
    EXPECT_TRUE(SString(static_cast<const char*>(nullptr)).Defined());
}

TEST(SString, NumbersFormatAndConvert) {
    EXPECT_EQ(Str(SString(42)), "42");
    EXPECT_EQ(Str(SString(-7L)), "-7");
    EXPECT_EQ(Str(SString(1.0 / 3)), "0.3333333333333333");
    EXPECT_EQ(Str(MakeSString(3.0f)), "3");
    SString s;
    s = 12;
    EXPECT_EQ(Str(s), "12");
    EXPECT_DOUBLE_EQ(static_cast<double>(SString("2.5kb")), 2.5);
    EXPECT_DOUBLE_EQ(static_cast<double>(SString("kb")), 0.0);
    EXPECT_DOUBLE_EQ(static_cast<double>(SString()), 0.0);
}

TEST(SString, CopyOnWriteLeavesOtherHoldersAlone) {
    SString a("hello");
    SString b = a, c = a, d = a;
    EXPECT_EQ(a.Links(), 4);
    b += " world";
    c.UpperCase();
    EXPECT_EQ(d.Chop(), 'o');
    EXPECT_EQ(Str(a), "hello");
    EXPECT_EQ(Str(b) + Str(c) + Str(d), "hello worldHELLOhell");
    EXPECT_EQ(a.Links(), 1);

    SString big(std::string(100, 'x').c_str());
    int allocated = big.Allocated();
    big = "y";
    EXPECT_EQ(big.Allocated(), allocated) << "a buffer only grows";

    SString self("ab");
    self += self;
    EXPECT_EQ(Str(self), "abab");
    SString piece("abcdef");
    piece += piece.Chars() + 2;
    EXPECT_EQ(Str(piece), "abcdefcdef");
}

TEST(SString, FixedStringIsNeverWritten) {
    char buffer[] = "caller";
    {
        SFixedString fixed(buffer, 6);
        SString view(fixed), other(fixed);
        view += "!";
        view.UpperCase();
        other.Reverse();
        EXPECT_EQ(Str(view) + Str(other), "CALLER!rellac");
        SFixedString moving;
        EXPECT_EQ(SString(moving).Length(), 0);
        moving.SetBuffer(buffer + 2, 3);
        EXPECT_EQ(Str(SString(moving)), "lle");
    }
    EXPECT_STREQ(buffer, "caller");
}

TEST(SStringDeathTest, SharedFixedStringEndsTheProcess) {
    auto leak = [] {
        SString* holder;
        {
            SFixedString fixed("abc", 3);
            holder = new SString(fixed);
        }
        delete holder;
    };
    EXPECT_EXIT(leak(), ::testing::ExitedWithCode(110), "");
}

TEST(SString, ElementAccessAndComparisons) {
    SString s("abc");
    EXPECT_EQ(s[0] + s[-1] * 1000, 'a' + 'c' * 1000);
    EXPECT_EQ(s[3] + s[-4], 0);
    EXPECT_EQ(SString("\xff")[0], 255);

    struct {
        const char *a, *b;
        int cmp;  // sign of a against b
    } ordered[] = {{"abc", "abd", -1}, {"ab", "abc", -1}, {"", "a", -1}, {"\xe9", "z", 1},
                   {"same", "same", 0}};
    for (auto& o : ordered) {
        SString a(o.a), b(o.b);
        EXPECT_EQ(a < b, o.cmp < 0) << o.a << " " << o.b;
        EXPECT_EQ(a > b, o.cmp > 0) << o.a << " " << o.b;
        EXPECT_EQ(a == b, o.cmp == 0) << o.a << " " << o.b;
    }
    const char* null = nullptr;
    EXPECT_TRUE(SString("abc") > 'a' && SString("b") > 'a' && SString("a") > null);
    EXPECT_FALSE(SString("a") > 'a' || SString("") > 'a' || SString("") > "a");
    EXPECT_TRUE(SString("") < 'a' && SString("a") < 'b');
    EXPECT_FALSE(SString("a") < null);
    EXPECT_TRUE(SString("a") == 'a' && !(SString("ab") == 'a'));
    EXPECT_TRUE(SString("a\0b", 3) == SString("a\0b", 3));
    EXPECT_FALSE(SString("a\0b", 3) == SString("a\0c", 3) || SString("a\0b", 3) == "a");
    EXPECT_TRUE(SString("Trace:").CompareNoCase(SString("TRACE:")));
    EXPECT_FALSE(SString("Trace").CompareNoCase(SString("Trace:")));
}

TEST(SString, Searching) {
    EXPECT_EQ(SString("aaa").Count("aa"), 2);
    EXPECT_EQ(SString("aaa").Count("") + SString("aaa").Count(static_cast<const char*>(nullptr)), 0);
    EXPECT_EQ(SString("a.b.c").Count('.'), 2);

    SString s("a/b/c");
    struct {
        int got, want;
    } cases[] = {{s.Index("/"), 1},         {s.Index("/", 2), 3},     {s.Index("/", -1), -1},
                 {s.Index(""), -1},         {s.Index("c", 4), 4},     {s.Index("c", 5), -1},
                 {s.Index('/', 4), -1},     {s.Index('/', 5), -1},    {s.RIndex(SString("/")), 3},
                 {s.RIndex("/", 2), 1},     {s.RIndex("/", -3), 1},   {s.RIndex("/", -6), -1},
                 {s.RIndex("", 2), 2},      {s.RIndex("a/b/c/d"), -1}, {s.RIndex('/', 3), 1},
                 {s.RIndex('/', 0), 3},     {s.RIndex('/', 99), 3},   {s.RIndex('x'), -1},
                 {SString("abcabc").RIndex("abc"), 3}};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(cases[i].got, cases[i].want) << "case " << i;

    EXPECT_TRUE(s.HasPrefix("a/") && s.HasPrefix(""));
    EXPECT_FALSE(s.HasPrefix("a/b/c/") || s.HasPrefix("b"));
    EXPECT_TRUE(SString("x\0y", 3).HasPrefix(SString("x\0", 2)));
}

TEST(SString, SegmentsAndSubStrings) {
    const SString c("abcdef");
    EXPECT_EQ(Str(c.Segment(-1, 3)), "ab");
    EXPECT_EQ(Str(c.Segment(2, 100)), "cdef");
    EXPECT_TRUE(c.Segment(10, 2).Defined());
    EXPECT_EQ(c.Segment(10, 2).Length() + c.Segment(2, 0).Length(), 0);

    struct {
        int start, len;
        const char *text, *want;
    } replace[] = {{1, 2, "XY", "aXYdef"}, {1, 2, "", "adef"}, {4, 10, "!!!", "abcd!!!"},
                   {-2, 3, "Z", "Zbcdef"}, {9, 2, "z", "abcdefz"}};
    for (auto& r : replace) {
        SString s("abcdef");
        s.Segment(r.start, r.len) = SString(r.text);
        EXPECT_EQ(Str(s), r.want) << r.start << "," << r.len;
    }
    SString undef;
    EXPECT_FALSE(SString(undef.Segment(0, 3)).Defined());
    undef.Segment(0, 3) = SString("new");
    EXPECT_EQ(Str(undef), "new");

    EXPECT_EQ(Str(BaseName(SString("/a/b/c.txt"), SString(".txt"))), "c");
    EXPECT_EQ(Str(BaseName(SString("c.txt"), SString(""))), "c.txt");
    EXPECT_EQ(Str(BaseName(SString("/x/.txt"), SString(".txt"))), "");
}

TEST(SString, SplitExactAndWords) {
    struct {
        const char *text, *sep;
        int max;
        const char* want;
    } cases[] = {
        {"a,b,", ",", 0, "[a][b][]"}, {",a", ",", 0, "[][a]"},     {"", ",", 0, "[]"},
        {"a,b,c", ",", 2, "[a][b,c]"}, {"a,b,c", ",", 1, "[a,b,c]"}, {"a::b::::c", "::", 0, "[a][b][][c]"},
        {"abc", "", 0, "[a][b][c]"},  {"abc", "", 2, "[a][bc]"},   {"abc", "", 9, "[a][b][c]"},
        {"", "", 0, ""},
    };
    for (auto& c : cases)
        EXPECT_EQ(Bracketed(SString(c.text).SplitExact(SString(c.sep), c.max)), c.want)
            << c.text << " / " << c.sep << " / " << c.max;
    EXPECT_EQ(Bracketed(SString().SplitExact(SString(","))), "undef:");

    EXPECT_EQ(Bracketed(SString("  one two\tthree\n x").BreakToWords()), "[one][two][three][x]");
    EXPECT_EQ(Bracketed(SString("say \"hello world\" now").BreakToWords()),
              "[say][\"hello world][now]");
    EXPECT_EQ(Bracketed(SString("\"open quote").BreakToWords()), "[\"open quote]");
    EXPECT_EQ(Bracketed(SString(" \t\n").BreakToWords()), "undef:");
    EXPECT_EQ(Bracketed(SString("a\rb").BreakToWords()), "[a\rb]");
}

TEST(SString, ChangesAndConcatenation) {
    SString s("Hello");
    EXPECT_EQ(Str(s.LowerCase()), "hello");
    EXPECT_EQ(Str(s.Reverse()), "olleh");
    SString e("");
    EXPECT_EQ(e.Chop(), 0);

    SString a("ab");
    EXPECT_EQ(Str(a + SString("cd")) + Str(a + "cd") + Str(a + 'c'), "abcdabcdabc");
    EXPECT_EQ(Str("x" + a) + Str('x' + a), "xabxab");
    EXPECT_FALSE((SString() + SString("")).Defined());
    EXPECT_EQ(Str(a), "ab");
}

TEST(SString, GetBufAndStreams) {
    SString s("a\0b", 3);
    char* buf = s.GetBuf();
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(std::memcmp(buf, "a\0b\0", 4), 0);
    delete[] buf;

    std::ostringstream out;
    EXPECT_TRUE(s.Write(out));
    EXPECT_EQ(out.str(), std::string("a\0b", 3));
    out.setstate(std::ios::failbit);
    EXPECT_FALSE(s.Write(out));

    std::string longLine(5000, 'q');  // longer than the 1024-byte staging buffer
    std::istringstream in("abc\r\nxyz\n" + longLine + "\nlast");
    SString line;
    const std::string lines[] = {"abc\r\n", "xyz\n", longLine + "\n", "last"};
    for (const std::string& want : lines) {
        EXPECT_TRUE(line.ReadLine(in));
        EXPECT_EQ(Str(line), want);
    }
    EXPECT_FALSE(line.ReadLine(in));
    EXPECT_TRUE(line.Defined());
    EXPECT_EQ(line.Length(), 0);
}

TEST(SString, DebugDumpEscapesBytes) {
    ::testing::internal::CaptureStderr();
    SString("a\\b\t\x01").Debug(1);
    SString().Debug(1);
    std::string dump = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(dump.find("Buffer contents:     'a\\\\b\\t\\1'"), std::string::npos) << dump;
    EXPECT_NE(dump.find("SString length:       5"), std::string::npos) << dump;
    EXPECT_NE(dump.find("SString is undefined"), std::string::npos) << dump;
}

}  // namespace
