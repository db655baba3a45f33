// Strings: definedness, copy on write, fixed buffers, comparisons, searching,
// pieces, splitting and line reading.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "SString.h"
#include "SStringList.h"

namespace {

std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

std::string Items(const SStringList& l) {
    std::string out;
    l.ForEach([&out](const SString& s) { out += "[" + Str(s) + "]"; });
    return (l.Defined() ? "" : "undef:") + out;
}

TEST(SString, BytesToAllocateIsNextPowerOfTwoAboveLength) {
    const int cases[][2] = {{0, 8},    {7, 8},    {8, 16},      {15, 16},     {16, 32},
                            {1000, 1024}, {1024, 2048}, {1 << 20, 1 << 21}};
    for (auto& c : cases) EXPECT_EQ(BytesToAllocate(c[0]), c[1]) << c[0];
}

TEST(SString, UndefinedEmptyAndDefined) {
    SString undef;
    EXPECT_FALSE(undef.Defined());
    EXPECT_STREQ(undef.Chars(), "");
    SString empty("");
    EXPECT_TRUE(empty.Defined());
    EXPECT_EQ(empty.Allocated(), 8);
    EXPECT_TRUE(undef == empty);
    EXPECT_TRUE(undef == "");
    EXPECT_TRUE(undef == static_cast<const char*>(nullptr));

    SString grows;
    grows += "";
    EXPECT_FALSE(grows.Defined()) << "appending nothing keeps a string undefined";
    grows += static_cast<const char*>(nullptr);
    EXPECT_FALSE(grows.Defined());
    grows += SString();
    EXPECT_FALSE(grows.Defined());
    grows = "";
    EXPECT_TRUE(grows.Defined());

    SString c;
    c += 'x';
    EXPECT_TRUE(c.Defined());
    EXPECT_EQ(Str(c), "x");

    SString nulls(nullptr, 3);
    EXPECT_EQ(nulls.Length(), 3);
    EXPECT_EQ(nulls[0], 0);
    EXPECT_EQ(SString("ab", -4).Length(), 0);
    EXPECT_EQ(Str(SString('z', 3)), "zzz");
    EXPECT_EQ(SString('z', -1).Length(), 0);
    EXPECT_TRUE(SString(static_cast<const char*>(nullptr)).Defined());
}

TEST(SString, NumbersFormatAndConvert) {
    EXPECT_EQ(Str(SString(42)), "42");
    EXPECT_EQ(Str(SString(-7L)), "-7");
    EXPECT_EQ(Str(SString(0.5)), "0.5");
    EXPECT_EQ(Str(SString(1.0 / 3)), "0.3333333333333333");
    EXPECT_EQ(Str(SString(0.1)), "0.1");
    EXPECT_EQ(Str(MakeSString(3.0f)), "3");
    SString s;
    s = 12;
    EXPECT_EQ(Str(s), "12");
    EXPECT_DOUBLE_EQ(static_cast<double>(SString("2.5kb")), 2.5);
    EXPECT_DOUBLE_EQ(static_cast<double>(SString("kb")), 0.0);
    EXPECT_DOUBLE_EQ(static_cast<double>(SString()), 0.0);
    EXPECT_FLOAT_EQ(static_cast<float>(SString("1.25")), 1.25f);
}

TEST(SString, CopyOnWriteLeavesOtherHoldersAlone) {
    SString a("hello");
    SString b = a;
    EXPECT_EQ(a.Links(), 2);
    b += " world";
    EXPECT_EQ(Str(a), "hello");
    EXPECT_EQ(Str(b), "hello world");
    EXPECT_EQ(a.Links(), 1);

    SString c = a;
    c.UpperCase();
    EXPECT_EQ(Str(a), "hello");
    EXPECT_EQ(Str(c), "HELLO");
    SString d = a;
    EXPECT_EQ(d.Chop(), 'o');
    EXPECT_EQ(Str(a), "hello");

    // Assigning a shorter text keeps the larger buffer.
    SString big(std::string(100, 'x').c_str());
    int allocated = big.Allocated();
    big = "y";
    EXPECT_EQ(big.Allocated(), allocated);

    // Appending a string to itself.
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
        SString view(fixed);
        EXPECT_EQ(Str(view), "caller");
        view += "!";
        view.UpperCase();
        EXPECT_EQ(Str(view), "CALLER!");
        SString other(fixed);
        other.Reverse();
        EXPECT_EQ(Str(other), "rellac");
    }
    EXPECT_STREQ(buffer, "caller");

    SFixedString moving;
    EXPECT_EQ(SString(moving).Length(), 0);
    moving.SetBuffer(buffer + 2, 3);
    EXPECT_EQ(Str(SString(moving)), "lle");
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

TEST(SString, ElementAccess) {
    SString s("abc");
    EXPECT_EQ(s[0], 'a');
    EXPECT_EQ(s[-1], 'c');
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(s[-4], 0);
    EXPECT_EQ(SString("\xff")[0], 255);
}

TEST(SString, Comparisons) {
    EXPECT_TRUE(SString("abc") < SString("abd"));
    EXPECT_TRUE(SString("ab") < SString("abc"));
    EXPECT_TRUE(SString("") < SString("a"));
    EXPECT_FALSE(SString("a") < SString(""));
    EXPECT_TRUE(SString("\xe9") > SString("z")) << "bytes compare unsigned";
    EXPECT_TRUE(SString("abc") > 'a');
    EXPECT_FALSE(SString("a") > 'a');
    EXPECT_TRUE(SString("b") > 'a');
    EXPECT_FALSE(SString("") > 'a');
    EXPECT_TRUE(SString("") < 'a');
    EXPECT_TRUE(SString("a") < 'b');
    EXPECT_FALSE(SString("a") < static_cast<const char*>(nullptr));
    EXPECT_TRUE(SString("a") > static_cast<const char*>(nullptr));
    EXPECT_FALSE(SString("") > "a");
    EXPECT_TRUE(SString("b") > "a");
    EXPECT_TRUE(SString("a") == 'a');
    EXPECT_FALSE(SString("ab") == 'a');
    EXPECT_TRUE(SString("a\0b", 3) == SString("a\0b", 3));
    EXPECT_FALSE(SString("a\0b", 3) == SString("a\0c", 3));
    EXPECT_FALSE(SString("a\0b", 3) == "a");
    EXPECT_TRUE(SString("Trace:").CompareNoCase(SString("TRACE:")));
    EXPECT_FALSE(SString("Trace").CompareNoCase(SString("Trace:")));
    EXPECT_TRUE("abc" == SString("abc"));
}

TEST(SString, Searching) {
    EXPECT_EQ(SString("aaa").Count("aa"), 2);
    EXPECT_EQ(SString("aaa").Count(""), 0);
    EXPECT_EQ(SString("aaa").Count(static_cast<const char*>(nullptr)), 0);
    EXPECT_EQ(SString("a.b.c").Count('.'), 2);

    SString s("a/b/c");
    EXPECT_EQ(s.Index("/"), 1);
    EXPECT_EQ(s.Index("/", 2), 3);
    EXPECT_EQ(s.Index("/", -1), -1);
    EXPECT_EQ(s.Index(""), -1);
    EXPECT_EQ(s.Index("c", 4), 4);
    EXPECT_EQ(s.Index("c", 5), -1);
    EXPECT_EQ(s.Index('/', 4), -1);
    EXPECT_EQ(s.Index('/', 5), -1);
    EXPECT_EQ(s.RIndex(SString("/")), 3);
    EXPECT_EQ(s.RIndex("/", 2), 1);
    EXPECT_EQ(s.RIndex("/", -3), 1);
    EXPECT_EQ(s.RIndex("/", -6), -1);
    EXPECT_EQ(s.RIndex("", 2), 2);
    EXPECT_EQ(s.RIndex("a/b/c/d"), -1);
    EXPECT_EQ(s.RIndex('/', 3), 1);
    EXPECT_EQ(s.RIndex('/', 0), 3);
    EXPECT_EQ(s.RIndex('/', 99), 3);
    EXPECT_EQ(s.RIndex('x'), -1);
    EXPECT_EQ(SString("abcabc").RIndex("abc"), 3);

    EXPECT_TRUE(s.HasPrefix("a/"));
    EXPECT_TRUE(s.HasPrefix(""));
    EXPECT_FALSE(s.HasPrefix("a/b/c/"));
    EXPECT_FALSE(s.HasPrefix("b"));
    EXPECT_TRUE(SString("x\0y", 3).HasPrefix(SString("x\0", 2)));
}

TEST(SString, SegmentsAndSubStrings) {
    SString s("abcdef");
    const SString& c = s;
    EXPECT_EQ(Str(c.Segment(-1, 3)), "ab");
    EXPECT_EQ(Str(c.Segment(2, 100)), "cdef");
    SString past = c.Segment(10, 2);
    EXPECT_TRUE(past.Defined());
    EXPECT_EQ(past.Length(), 0);
    EXPECT_EQ(c.Segment(2, 0).Length(), 0);

    s.Segment(1, 2) = SString("XY");
    EXPECT_EQ(Str(s), "aXYdef");
    SString t("abcdef");
    t.Segment(1, 2) = SString("");
    EXPECT_EQ(Str(t), "adef");
    SString u("abcdef");
    u.Segment(4, 10) = SString("!!!");
    EXPECT_EQ(Str(u), "abcd!!!");
    SString v("abc");
    SSubString clamp(v, -2, 3);
    EXPECT_EQ(clamp.Start(), 0);
    EXPECT_EQ(clamp.Length(), 1);
    SSubString beyond(v, 9, 2);
    EXPECT_EQ(beyond.Start(), 3);
    EXPECT_EQ(beyond.Length(), 0);
    beyond = "z";
    EXPECT_EQ(Str(v), "abcz");

    SString undef;
    EXPECT_FALSE(SString(undef.Segment(0, 3)).Defined());
    undef.Segment(0, 3) = SString("new");
    EXPECT_EQ(Str(undef), "new");

    EXPECT_EQ(Str(BaseName(SString("/a/b/c.txt"), SString(".txt"))), "c");
    EXPECT_EQ(Str(BaseName(SString("c.txt"), SString(""))), "c.txt");
    EXPECT_EQ(Str(BaseName(SString("/a/b/"), SString(""))), "");
    EXPECT_EQ(Str(BaseName(SString("/x/.txt"), SString(".txt"))), "");
}

TEST(SString, SplitExact) {
    struct Case {
        const char* text;
        const char* sep;
        int max;
        const char* want;
    } cases[] = {
        {"a,b,", ",", 0, "[a][b][]"},
        {",a", ",", 0, "[][a]"},
        {"", ",", 0, "[]"},
        {"a,b,c", ",", 2, "[a][b,c]"},
        {"a,b,c", ",", 1, "[a,b,c]"},
        {"a::b::::c", "::", 0, "[a][b][][c]"},
        {"abc", "", 0, "[a][b][c]"},
        {"abc", "", 2, "[a][bc]"},
        {"abc", "", 9, "[a][b][c]"},
        {"", "", 0, ""},
        {"no separator", ";", 0, "[no separator]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Items(SString(c.text).SplitExact(SString(c.sep), c.max)), c.want)
            << c.text << " / " << c.sep << " / " << c.max;
    EXPECT_EQ(Items(SString().SplitExact(SString(","))), "undef:");
}

TEST(SString, BreakToWords) {
    EXPECT_EQ(Items(SString("  one two\tthree\n x").BreakToWords()), "[one][two][three][x]");
    EXPECT_EQ(Items(SString("say \"hello world\" now").BreakToWords()),
              "[say][\"hello world][now]");
    EXPECT_EQ(Items(SString("\"open quote").BreakToWords()), "[\"open quote]");
    EXPECT_EQ(Items(SString(" \t\n").BreakToWords()), "undef:");
    EXPECT_EQ(Items(SString("").BreakToWords()), "undef:");
    EXPECT_EQ(Items(SString("a\rb").BreakToWords()), "[a\rb]");
}

TEST(SString, InPlaceChanges) {
    SString s("Hello");
    EXPECT_EQ(Str(s.LowerCase()), "hello");
    EXPECT_EQ(Str(s.Reverse()), "olleh");
    SString e("");
    EXPECT_EQ(e.Chop(), 0);
    EXPECT_EQ(e.Length(), 0);
    SString undef;
    undef.UpperCase();
    EXPECT_TRUE(undef.Defined()) << "a change in place defines the string";
}

TEST(SString, ConcatenationOperators) {
    SString a("ab");
    EXPECT_EQ(Str(a + SString("cd")), "abcd");
    EXPECT_EQ(Str(a + "cd"), "abcd");
    EXPECT_EQ(Str(a + 'c'), "abc");
    EXPECT_EQ(Str("x" + a), "xab");
    EXPECT_EQ(Str('x' + a), "xab");
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

    std::istringstream in("abc\r\nxyz");
    SString line;
    EXPECT_TRUE(line.ReadLine(in));
    EXPECT_EQ(Str(line), "abc\r\n");
    EXPECT_TRUE(line.ReadLine(in));
    EXPECT_EQ(Str(line), "xyz");
    EXPECT_FALSE(line.ReadLine(in));
    EXPECT_EQ(line.Length(), 0);
    EXPECT_TRUE(line.Defined());

    // Lines longer than the 1024-byte staging buffer come back whole.
    std::string longLine(5000, 'q');
    std::istringstream big(longLine + "\nnext\n");
    EXPECT_TRUE(line.ReadLine(big));
    EXPECT_EQ(Str(line), longLine + "\n");
    big >> line;
    EXPECT_EQ(Str(line), "next\n");
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
