// Pattern operations on strings and lists: Split in its three forms, the two Grep
// filters (with real files for the file tests), the compiled-pattern cache, and
// hostile patterns, replacements and test texts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "QbTest.h"
#include "RegexTestSupport.h"
#include "SRegex.h"

namespace {

using namespace std::string_literals;
using qbtest::Bracketed;
using qbtest::ListOf;
using qbtest::S;
using qbtest::Str;
using testing::HasSubstr;

// ---- Split ------------------------------------------------------------------------

TEST(RegexSplit, ByPatternAndByEmptyPattern) {
    // (Ordinary splits are compared with perl in regex_perl_test.cc.)
    const struct { const char *subject, *pattern; int limit; const char* expected; } cases[] = {
        // The trailing separator adds no field; the leading empty field is not counted
        // against the limit.
        {",a,,b,", ",", 0, "[][a][][b]"}, {",a,,b,", ",", 2, "[][a][,b,]"},
        {"abc", "x*", 2, "[a][bc]"}, {"no separator", ",", 0, "[no separator]"},
        {"ab", "^", 0, "[ab]"}, {"a b", "[[:<:]]", 0, "[a ][b]"}, {"", ",", 0, "undef:"},
        // The empty pattern splits into bytes; an empty string gives a defined empty list.
        {"abc", "", 3, "[a][b][c]"}, {"abc", "", 7, "[a][b][c]"}, {"abc", "", 1, "[abc]"},
        {"", "", 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Bracketed(SString(c.subject).Split(SString(c.pattern), c.limit)), c.expected)
            << c.subject << " / " << c.pattern << " / " << c.limit;
    EXPECT_EQ(Bracketed(SString().Split(SString(""))), "undef:");

    SRegex unusable(SString("(")), posix(SString("[.]"));
    EXPECT_EQ(Bracketed(SString("a(b").Split(unusable)), "undef:");
    EXPECT_EQ(Bracketed(SString("a.b").Split(posix)), "[a][b]");
}

TEST(RegexSplit, ByCharacter) {
    // Every character the engine treats specially is taken literally.
    for (char c : "$()*+.?[\\]^{|}d\n"s)
        EXPECT_EQ(Bracketed(S("a"s + c + "b" + c).Split(c)), "[a][b]") << c;
    // A space splits on white space and leading white space gives no empty field.
    const struct { char c; const char* subject; int limit; const char* expected; } cases[] = {
        {' ', "  a b", 0, "[a][b]"}, {' ', "a \t\r\nb  ", 0, "[a][b]"},
        {' ', "  a b c", 2, "[a][b c]"}, {' ', "   ", 0, "[]"}, {':', "a:b::c", 0, "[a][b][][c]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Bracketed(SString(c.subject).Split(c.c, c.limit)), c.expected) << c.subject;
}

// ---- Grep -------------------------------------------------------------------------

TEST(RegexGrep, WithCompiledExpression) {
    SStringList l = ListOf({"apple", "berry", "apricot"});
    SRegex ap(SString("^ap")), unusable;
    EXPECT_EQ(Bracketed(l.Grep(ap)), "[apple][apricot]");
    EXPECT_EQ(Bracketed(l.Grep(ap, 7)), "[apple][apricot]");
    EXPECT_EQ(Bracketed(l.Grep(ap, 0)), "[berry]");
    EXPECT_EQ(Bracketed(l.Grep(unusable)), "undef:");
    EXPECT_EQ(Bracketed(SStringList().Grep(ap)), "undef:");
}

TEST(RegexGrep, MatchSubstitutionAndNegation) {
    const std::vector<std::string> lines = {"# comment", "line", "#", "other"};
    // `after`: the list itself afterwards (null: unchanged).
    const struct { std::vector<std::string> items; const char *test, *accepted, *rejects, *after; }
        cases[] = {
        {lines, "!/^#/", "[line][other]", "[# comment][#]", nullptr},
        {lines, "/^#/", "[# comment][#]", "[line][other]", nullptr},
        {lines, " \t! !/^#/", "[# comment][#]", "[line][other]", nullptr},
        {lines, "m#^l#", "[line]", "[# comment][#][other]", nullptr},
        {lines, "m/LINE/i", "[line]", "[# comment][#][other]", nullptr},
        {lines, "/LINE/", "undef:", "[# comment][line][#][other]", nullptr},
        // An unclosed pattern runs to the end of the test.
        {lines, "/^li", "[line]", "[# comment][#][other]", nullptr},
        {{"a/b", "ab"}, "/a\\/b/", "[a/b]", "[ab]", nullptr},
        {{"a/b", "ab"}, "m!a/b!", "[a/b]", "[ab]", nullptr},
        // A substitution changes the list's own items.
        {{"banana", "kiwi", "papaya"}, "s/a/b/g", "[bbnbnb][pbpbyb]", "[kiwi]",
         "[bbnbnb][kiwi][pbpbyb]"},
        {{"x=1", "y=2"}, "s#(\\w)=(\\d)#$2\\/$1#", "[1/x][2/y]", "undef:", "[1/x][2/y]"},
        // Without g only the first match changes.
        {{"Aa", "b"}, "!s/a/-/i", "[b]", "[-a]", "[-a][b]"},
    };
    for (const auto& c : cases) {
        SStringList l = ListOf(c.items), before = l, rejects = ListOf({"stale"});
        EXPECT_EQ(Bracketed(l.Grep(SString(c.test), &rejects)), c.accepted) << c.test;
        EXPECT_EQ(Bracketed(rejects), c.rejects) << c.test;
        EXPECT_EQ(Bracketed(l), c.after ? c.after : Bracketed(ListOf(c.items))) << c.test;
        EXPECT_EQ(Bracketed(before), Bracketed(ListOf(c.items))) << "a shared copy is unchanged";
    }
    SStringList rejects = ListOf({"stale"});
    EXPECT_EQ(Bracketed(SStringList().Grep(SString("/x/"), &rejects)), "undef:");
    EXPECT_EQ(Bracketed(rejects), "undef:") << "rejects are emptied first";
}

TEST(RegexGrep, FileTests) {
    qbtest::TempDir dir("regex-grep");
    dir.Write("plain", "x");
    dir.Write("script", "#!/bin/sh\n");
    ASSERT_EQ(chmod(dir.Path("plain").c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir.Path("script").c_str(), 0755), 0);
    SStringList l = ListOf({dir.Path(), dir.Path("plain"), dir.Path("script"), dir.Path("gone")});
    auto names = [&](const SStringList& got) {
        std::string out;
        got.ForEach([&](const SString& s) { out += "[" + Str(s).substr(dir.Path().size()) + "]"; });
        return out;
    };
    SStringList rejects;
    EXPECT_EQ(names(l.Grep(SString("-d"), &rejects)), "[]");
    EXPECT_EQ(names(rejects), "[/plain][/script][/gone]");
    const char* tests[][2] = {{"-e", "[][/plain][/script]"}, {"-f", "[/plain][/script]"},
                              {"-r", "[][/plain][/script]"}, {"-w", "[][/plain][/script]"},
                              {"-x", "[][/script]"},         {"!-e", "[/gone]"}};
    for (const auto& t : tests) EXPECT_EQ(names(l.Grep(SString(t[0]))), t[1]) << t[0];

    std::string report =
        ErrorsOf([&] { EXPECT_EQ(Bracketed(l.Grep(SString("-q"), &rejects)), "undef:"); });
    EXPECT_THAT(report, HasSubstr("Grep: invalid file test"));
    EXPECT_EQ(Bracketed(rejects), "undef:");
}

TEST(RegexGrep, MalformedTestsAreReported) {
    const char* invalid = "Grep called without a valid test field.";
    const char* unknown = "Unknown test type for Grep function";
    const char* incomplete = "Incomplete expression in Grep function call";
    const char* cases[][3] = {
        {"", invalid, "undef:"},       {"  !! ", invalid, "undef:"},
        {"x", unknown, "undef:"},      {"x/a/", unknown, "[a]"},
        {"m", incomplete, "undef:"},   {"s", incomplete, "undef:"},
        {"/a\\", incomplete, "undef:"}, {"s/a/b\\", incomplete, "undef:"},
        {"/(/", "Unmatched opening parenthesis", "undef:"}, {"//", "", "undef:"},
    };
    for (const auto& c : cases) {
        const char *test = c[0], *expectedReport = c[1], *result = c[2];
        SStringList l = ListOf({"a", "b"});
        std::string got;
        std::string report = ErrorsOf([&] { got = Bracketed(l.Grep(SString(test))); });
        EXPECT_EQ(got, result) << test;
        EXPECT_THAT(report, Reports(expectedReport)) << test;
        if (report.find("Grep") != std::string::npos) {
            EXPECT_THAT(report, HasSubstr("The test field for Grep was '"s + test + "'"));
        }
    }
}

// ---- the compiled-pattern cache ---------------------------------------------------

TEST(RegexCache, ResultsAndReportsAreThoseOfAFreshCompile) {
    // Every call with a malformed pattern reports again.
    for (int i = 0; i < 3; ++i) {
        std::string report = ErrorsOf([] { EXPECT_EQ(SString("(a").M(SString("(a")).Count(), 0); });
        EXPECT_THAT(report, HasSubstr("Unmatched opening parenthesis")) << i;
    }
    // The case option is part of the key, and so is everything after a NUL byte.
    EXPECT_TRUE(SString("abc").HasMatch(SString("B"), "i"));
    EXPECT_FALSE(SString("abc").HasMatch(SString("B")));
    EXPECT_TRUE(SString("abc").HasMatch(SString("B"), "gi"));
    EXPECT_TRUE(SString("x").HasMatch(S("x")));
    EXPECT_FALSE(SString("x").HasMatch(S("x\0y"s)));

    // A cached pattern gives what a freshly compiled one gives, call after call.
    const char* patterns[] = {"^(.*)@([^@]*)$", "(a)|(b)", "\\s+", "[[:<:]]x", "b*", "A(b)"};
    const char* subjects[] = {"a@b@c", "xb", "a \t b", "y xx", "abbc", "xaBc"};
    for (int round = 0; round < 3; ++round) {
        for (const char* p : patterns) {
            for (const char* s : subjects) {
                SPerlRegex fresh(SString(p), "i"), plain{SString(p)};
                SString subject(s), viaText(s), viaFresh(s);
                ASSERT_EQ(Bracketed(subject.M(SString(p), "i")), Bracketed(subject.M(fresh)))
                    << p << " " << s;
                ASSERT_EQ(Bracketed(viaText.S(SString(p), SString("<$1>"), "gi")),
                          Bracketed(viaFresh.S(fresh, SString("<$1>"), "gi")));
                ASSERT_EQ(Str(viaText), Str(viaFresh)) << p << " " << s;
                ASSERT_EQ(Bracketed(subject.Split(SString(p), round)),
                          Bracketed(subject.Split(plain, round)));
            }
        }
    }
    // Many distinct patterns, more than the cache holds, then the early ones again.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 200; ++i) {
            SString subject = S("key" + std::to_string(i) + "=v");
            SStringList m = subject.M(S("^key" + std::to_string(i) + "=(.)$"));
            ASSERT_EQ(Bracketed(m), "[" + Str(subject) + "][v]") << i;
            ASSERT_FALSE(subject.HasMatch(S("^key" + std::to_string(i + 1) + "=")));
        }
    }
}

// ---- hostile input ----------------------------------------------------------------

TEST(RegexBadInput, RandomPatternsReplacementsAndTestsNeverCrash) {
    // Bytes chosen to hit every branch of the conversion, the engine's syntax,
    // replacement escapes and the filter's test parser; the fuzz targets go deeper.
    const std::string alphabet = "ab()[]{}\\^$.*+?|,0129:<>=-!/ms&dDsSwWNntg \t\n";
    std::mt19937 random(12345);
    auto text = [&](int max) {
        std::string s;
        int n = static_cast<int>(random() % (max + 1));
        for (int i = 0; i < n; ++i)
            s += (random() % 20 == 0) ? char(random() % 256) : alphabet[random() % alphabet.size()];
        return S(s);
    };
    ErrorsOf([&] {
        for (int i = 0; i < 1000; ++i) {
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
