// Pattern operations on strings and lists: Split in its three forms, the two Grep
// filters (with real files for the file tests), the compiled-pattern cache, and
// hostile patterns, replacements and test texts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "SRegex.h"
#include "SString.h"
#include "SStringList.h"

namespace {

std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }
SString Bytes(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }

std::string Items(const SStringList& l) {
    std::string out;
    l.ForEach([&out](const SString& s) { out += "[" + Str(s) + "]"; });
    return (l.Defined() ? "" : "undef:") + out;
}

template <typename F>
std::string ErrorsOf(F&& f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

SStringList ListOf(std::initializer_list<const char*> items) {
    SStringList l;
    for (const char* s : items) l.Push(s);
    return l;
}

// ---- Split ------------------------------------------------------------------------

TEST(RegexSplit, ByPattern) {
    const struct {
        const char* subject;
        const char* pattern;
        int limit;
        const char* expected;
    } cases[] = {
        {",a,,b,", ",", 0, "[][a][][b]"},
        {",a,,b,", ",", 2, "[][a][,b,]"},
        {"a, b,c ,d", "\\s*,\\s*", 0, "[a][b][c][d]"},
        {"a1b22c", "\\d+", 0, "[a][b][c]"},
        {"a1b22c", "\\d+", 2, "[a][b22c]"},
        {"abc", "x*", 0, "[a][b][c]"},
        {"a,b", ",*", 0, "[a][b]"},
        {"abc", "x*", 2, "[a][bc]"},
        {"a:b:c", ":", 1, "[a:b:c]"},
        {"a:b:c", ":", 3, "[a][b][c]"},
        {"a:b:c", ":", 9, "[a][b][c]"},
        {"no separator", ",", 0, "[no separator]"},
        {"ab", "^", 0, "[ab]"},
        {"a b", "[[:<:]]", 0, "[a ][b]"},
        {"", ",", 0, "undef:"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Items(SString(c.subject).Split(SString(c.pattern), c.limit)), c.expected)
            << c.subject << " / " << c.pattern << " / " << c.limit;

    SRegex unusable(SString("("));
    EXPECT_EQ(Items(SString("a(b").Split(unusable)), "undef:");
    SRegex posix(SString("[.]"));
    EXPECT_EQ(Items(SString("a.b").Split(posix)), "[a][b]");
}

TEST(RegexSplit, EmptyPatternSplitsIntoBytes) {
    EXPECT_EQ(Items(SString("abc").Split(SString(""))), "[a][b][c]");
    EXPECT_EQ(Items(SString("abc").Split(SString(""), 2)), "[a][bc]");
    EXPECT_EQ(Items(SString("abc").Split(SString(""), 3)), "[a][b][c]");
    EXPECT_EQ(Items(SString("abc").Split(SString(""), 7)), "[a][b][c]");
    EXPECT_EQ(Items(SString("abc").Split(SString(""), 1)), "[abc]");
    EXPECT_EQ(Items(SString("").Split(SString(""))), "") << "a defined empty list";
    EXPECT_EQ(Items(SString().Split(SString(""))), "undef:");
}

TEST(RegexSplit, ByCharacter) {
    EXPECT_EQ(Items(SString("  a b").Split(' ')), "[a][b]");
    EXPECT_EQ(Items(SString("a \t\r\nb  ").Split(' ')), "[a][b]");
    EXPECT_EQ(Items(SString("  a b c").Split(' ', 2)), "[a][b c]");
    EXPECT_EQ(Items(SString("   ").Split(' ')), "[]");
    const struct {
        char c;
        const char* subject;
        const char* expected;
    } cases[] = {
        {'.', "a.b", "[a][b]"},   {'|', "a|b", "[a][b]"},   {'*', "a*b", "[a][b]"},
        {'\\', "a\\b", "[a][b]"}, {'[', "a[b", "[a][b]"},   {']', "a]b", "[a][b]"},
        {'(', "a(b", "[a][b]"},   {')', "a)b", "[a][b]"},   {'^', "a^b", "[a][b]"},
        {'$', "a$b", "[a][b]"},   {'+', "a+b", "[a][b]"},   {'?', "a?b", "[a][b]"},
        {'{', "a{b", "[a][b]"},   {'}', "a}b", "[a][b]"},   {':', "a:b::c", "[a][b][][c]"},
        {'d', "adbd", "[a][b]"},  {'\n', "a\nb", "[a][b]"},
    };
    for (const auto& c : cases) EXPECT_EQ(Items(SString(c.subject).Split(c.c)), c.expected) << c.c;
}

// ---- Grep -------------------------------------------------------------------------

TEST(RegexGrep, WithCompiledExpression) {
    SStringList l = ListOf({"apple", "berry", "apricot"});
    SRegex ap(SString("^ap"));
    EXPECT_EQ(Items(l.Grep(ap)), "[apple][apricot]");
    EXPECT_EQ(Items(l.Grep(ap, 7)), "[apple][apricot]");
    EXPECT_EQ(Items(l.Grep(ap, 0)), "[berry]");
    SRegex unusable;
    EXPECT_EQ(Items(l.Grep(unusable)), "undef:");
    EXPECT_EQ(Items(SStringList().Grep(ap)), "undef:");
}

TEST(RegexGrep, MatchAndNegation) {
    SStringList l = ListOf({"# comment", "line", "#", "other"});
    SStringList rejects = ListOf({"stale"});
    EXPECT_EQ(Items(l.Grep(SString("!/^#/"), &rejects)), "[line][other]");
    EXPECT_EQ(Items(rejects), "[# comment][#]");
    EXPECT_EQ(Items(l.Grep(SString("/^#/"), &rejects)), "[# comment][#]");
    EXPECT_EQ(Items(rejects), "[line][other]");
    EXPECT_EQ(Items(l.Grep(SString(" \t! !/^#/"))), "[# comment][#]");
    EXPECT_EQ(Items(l.Grep(SString("m#^l#"))), "[line]");
    EXPECT_EQ(Items(l.Grep(SString("m/LINE/i"))), "[line]");
    EXPECT_EQ(Items(l.Grep(SString("/LINE/"))), "undef:");
    EXPECT_EQ(Items(l.Grep(SString("/^li"))), "[line]") << "an unclosed pattern runs to the end";

    SStringList paths = ListOf({"a/b", "ab"});
    EXPECT_EQ(Items(paths.Grep(SString("/a\\/b/"))), "[a/b]");
    EXPECT_EQ(Items(paths.Grep(SString("m!a/b!"))), "[a/b]");

    rejects = ListOf({"stale"});
    EXPECT_EQ(Items(SStringList().Grep(SString("/x/"), &rejects)), "undef:");
    EXPECT_EQ(Items(rejects), "undef:") << "rejects are emptied first";
}

TEST(RegexGrep, SubstitutionChangesTheListItself) {
    SStringList l = ListOf({"banana", "kiwi", "papaya"});
    SStringList before = l;
    SStringList rejects;
    EXPECT_EQ(Items(l.Grep(SString("s/a/b/g"), &rejects)), "[bbnbnb][pbpbyb]");
    EXPECT_EQ(Items(rejects), "[kiwi]");
    EXPECT_EQ(Items(l), "[bbnbnb][kiwi][pbpbyb]");
    EXPECT_EQ(Items(before), "[banana][kiwi][papaya]") << "a shared copy is not changed";

    SStringList m = ListOf({"x=1", "y=2"});
    EXPECT_EQ(Items(m.Grep(SString("s#(\\w)=(\\d)#$2\\/$1#"))), "[1/x][2/y]");
    SStringList n = ListOf({"Aa", "b"});
    EXPECT_EQ(Items(n.Grep(SString("!s/a/-/i"))), "[b]");
    EXPECT_EQ(Items(n), "[-a][b]") << "non-global: the first match only";
}

TEST(RegexGrep, FileTests) {
    char dir_template[] = QB_TEST_TMP "/regex-grep-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    const std::string plain = dir + "/plain", script = dir + "/script", missing = dir + "/missing";
    std::ofstream(plain) << "x";
    std::ofstream(script) << "#!/bin/sh\n";
    ASSERT_EQ(chmod(plain.c_str(), 0644), 0);
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);

    SStringList l;
    for (const std::string& p : {dir, plain, script, missing}) l.Push(Bytes(p));
    auto names = [&](const SStringList& got) {
        std::string out;
        got.ForEach([&](const SString& s) { out += "[" + Str(s).substr(dir.size()) + "]"; });
        return out;
    };
    SStringList rejects;
    EXPECT_EQ(names(l.Grep(SString("-d"), &rejects)), "[]");
    EXPECT_EQ(names(rejects), "[/plain][/script][/missing]");
    EXPECT_EQ(names(l.Grep(SString("-e"))), "[][/plain][/script]");
    EXPECT_EQ(names(l.Grep(SString("-f"))), "[/plain][/script]");
    EXPECT_EQ(names(l.Grep(SString("-r"))), "[][/plain][/script]");
    EXPECT_EQ(names(l.Grep(SString("-w"))), "[][/plain][/script]");
    EXPECT_EQ(names(l.Grep(SString("-x"))), "[][/script]");
    EXPECT_EQ(names(l.Grep(SString("!-e"))), "[/missing]");

    std::string report =
        ErrorsOf([&] { EXPECT_EQ(Items(l.Grep(SString("-q"), &rejects)), "undef:"); });
    EXPECT_TRUE(Contains(report, "Grep: invalid file test")) << report;
    EXPECT_EQ(Items(rejects), "undef:");

    unlink(plain.c_str());
    unlink(script.c_str());
    rmdir(dir.c_str());
}

TEST(RegexGrep, MalformedTestsAreReported) {
    SStringList l = ListOf({"a", "b"});
    const struct {
        const char* test;
        const char* report;
        const char* result;
    } cases[] = {
        {"", "Grep called without a valid test field.", "undef:"},
        {"  !! ", "Grep called without a valid test field.", "undef:"},
        {"x", "Unknown test type for Grep function", "undef:"},
        {"x/a/", "Unknown test type for Grep function", "[a]"},
        {"m", "Incomplete expression in Grep function call", "undef:"},
        {"s", "Incomplete expression in Grep function call", "undef:"},
        {"/a\\", "Incomplete expression in Grep function call", "undef:"},
        {"s/a/b\\", "Incomplete expression in Grep function call", "undef:"},
        {"/(/", "Unmatched opening parenthesis", "undef:"},
        {"//", "", "undef:"},
    };
    for (const auto& c : cases) {
        SStringList copy = l;
        std::string got;
        std::string report = ErrorsOf([&] { got = Items(copy.Grep(SString(c.test))); });
        EXPECT_EQ(got, c.result) << c.test;
        if (*c.report) {
            EXPECT_TRUE(Contains(report, c.report)) << c.test << ": " << report;
        } else {
            EXPECT_EQ(report, "") << c.test;
        }
        if (Contains(report, "Grep")) {
            EXPECT_TRUE(
                Contains(report, std::string("The test field for Grep was '") + c.test + "'"))
                << report;
        }
    }
}

// ---- the compiled-pattern cache ---------------------------------------------------

TEST(RegexCache, ResultsAndReportsAreThoseOfAFreshCompile) {
    // Every call with a malformed pattern reports again.
    for (int i = 0; i < 3; ++i) {
        std::string report = ErrorsOf([] { EXPECT_EQ(SString("(a").M(SString("(a")).Count(), 0); });
        EXPECT_TRUE(Contains(report, "Unmatched opening parenthesis")) << i;
    }
    // The case option is part of the key.
    EXPECT_TRUE(SString("abc").HasMatch(SString("B"), "i"));
    EXPECT_FALSE(SString("abc").HasMatch(SString("B")));
    EXPECT_TRUE(SString("abc").HasMatch(SString("B"), "gi"));
    // Patterns differing only after a NUL byte are different keys.
    EXPECT_TRUE(SString("x").HasMatch(Bytes(std::string("x", 1))));
    EXPECT_FALSE(SString("x").HasMatch(Bytes(std::string("x\0y", 3))));

    // A cached pattern gives what a freshly compiled one gives, call after call.
    const char* patterns[] = {"^(.*)@([^@]*)$", "(a)|(b)", "\\s+", "[[:<:]]x", "b*", "A(b)"};
    const char* subjects[] = {"a@b@c", "xb", "a \t b", "y xx", "abbc", "xaBc"};
    for (int round = 0; round < 3; ++round) {
        for (const char* p : patterns) {
            for (const char* s : subjects) {
                SPerlRegex fresh(SString(p), "i");
                SString subject(s), viaText(s), viaFresh(s);
                ASSERT_EQ(Items(subject.M(SString(p), "i")), Items(subject.M(fresh)))
                    << p << " " << s;
                ASSERT_EQ(Items(viaText.S(SString(p), SString("<$1>"), "gi")),
                          Items(viaFresh.S(fresh, SString("<$1>"), "gi")));
                ASSERT_EQ(Str(viaText), Str(viaFresh)) << p << " " << s;
                SPerlRegex plain{SString(p)};
                ASSERT_EQ(Items(subject.Split(SString(p), round)),
                          Items(subject.Split(plain, round)));
            }
        }
    }

    // Many distinct patterns, more than the cache holds, then the early ones again.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 200; ++i) {
            SString subject = Bytes("key" + std::to_string(i) + "=v");
            SStringList m = subject.M(Bytes("^key" + std::to_string(i) + "=(.)$"));
            ASSERT_EQ(Items(m), "[" + Str(subject) + "][v]") << i;
            ASSERT_FALSE(subject.HasMatch(Bytes("^key" + std::to_string(i + 1) + "=")));
        }
    }
}

// ---- hostile input ----------------------------------------------------------------

TEST(RegexBadInput, RandomPatternsReplacementsAndTestsNeverCrash) {
    // Bytes chosen to hit every branch of the conversion, the engine's syntax,
    // replacement escapes and the filter's test parser.
    const std::string alphabet = "ab()[]{}\\^$.*+?|,0129:<>=-!/ms&dDsSwWNntg \t\n";
    std::mt19937 random(12345);
    auto text = [&](int max) {
        std::string s;
        int n = static_cast<int>(random() % (max + 1));
        for (int i = 0; i < n; ++i)
            s += (random() % 20 == 0) ? char(random() % 256) : alphabet[random() % alphabet.size()];
        return Bytes(s);
    };
    std::string ignored = ErrorsOf([&] {
        for (int i = 0; i < 3000; ++i) {
            SString pattern = text(12), subject = text(20), replacement = text(8);
            SPerlRegex rx(pattern, (i & 1) ? "i" : nullptr);
            SStringList m = subject.M(rx);
            if (rx.OK() && m.Count() > 0) {
                ASSERT_EQ(m.Count(), rx.Groups() + 1);
                std::pair<int, int> whole = rx.MatchInfo(0);
                ASSERT_TRUE(whole.first >= 0 && whole.first <= whole.second &&
                            whole.second <= subject.Length());
            }
            SString changed = subject;
            changed.S(pattern, replacement, "g");
            subject.Split(pattern, static_cast<int>(i % 4));
            SStringList l(subject);
            l.Push(pattern);
            l.Grep(text(16));
        }
    });
}

}  // namespace
