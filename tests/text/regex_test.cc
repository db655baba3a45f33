// Regular expressions: the Perl-to-POSIX conversion and its error reports, the three
// engine features supplied around glibc (patterns with NUL bytes, search start/end
// offsets, word brackets), matching, substitution and replacement expansion.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "QbTest.h"
#include "RegexTestSupport.h"
#include "SRegex.h"

namespace {

using namespace std::string_literals;
using qbtest::Bracketed;
using qbtest::S;
using qbtest::Str;
using testing::HasSubstr;

// ---- conversion -------------------------------------------------------------------

TEST(PerlRegexConv, RewritesPerlEscapesIntoPosix) {
    const std::string ws = " \f\n\r\t\v", tenGroups = "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)";
    const std::pair<std::string, std::string> cases[] = {
        {"\\.", "\\."}, {"\\d+", "[0-9]+"}, {"[\\d\\s]", "[0-9" + ws + "]"},
        {"\\s", "[" + ws + "]"}, {"\\S", "[^" + ws + "]"}, {"\\D", "[^0-9]"}, {"\\N", "[^\n]"},
        {"\\w\\W", "[A-Za-z_0-9][^A-Za-z_0-9]"}, {"[\\w-]", "[A-Za-z_0-9-]"},
        {"\\f\\n\\r\\t\\v", "\f\n\r\t\v"}, {"[\\f\\n\\r\\t\\v]", "[\f\n\r\t\v]"},
        {"\\(\\)\\\\\\1\\$\\b", "\\(\\)\\\\\\1\\$\\b"}, {"[^]a]", "[^]a]"}, {"[]a]", "[]a]"},
        {"[\\]]", "[\\]]"}, {"[\\.x]", "[\\.x]"}, {"[[:<:]]cat[[:>:]]", "[[:<:]]cat[[:>:]]"},
        {"^(.*)@([^@]*)$", "^(.*)@([^@]*)$"}, {"a\0b"s, "a\0b"s}, {tenGroups, tenGroups}, {"", ""},
    };
    for (const auto& c : cases) {
        const std::string &perl = c.first, &posix = c.second;
        int error = -1;
        std::string report =
            ErrorsOf([&] { EXPECT_EQ(Str(PerlRegexConv(S(perl), &error)), posix) << perl; });
        EXPECT_EQ(error, 0) << perl;
        EXPECT_EQ(report, "") << perl;
    }
}

TEST(PerlRegexConv, RefusesMalformedPatternsWithCodeAndReport) {
    const std::string reasons[] = {  // by error code
        "", "", "Too many parenthesized elements in regular expression (maximum 10).",
        "Unmatched opening parenthesis in regular expression.",
        "Unterminated range [...] in regular expression.",
        "Unmatched closing parenthesis in regular expression.",
        "Unmatched closing bracket in regular expression.",
        "Special characters not allowed in a range (\\D, \\S, or \\W)",
        "Regular expression terminated prematurely."};
    const std::pair<const char*, int> cases[] = {
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", 2}, {"(((((((((((a)))))))))))", 2}, {"(a", 3},
        {"(\\", 3}, {"[a", 4}, {"[a\\", 4}, {"x[^", 4}, {"(a))", 5}, {")(", 5}, {"a]", 6},
        {"[[:alpha:]]", 6}, {"[\\S]", 7}, {"[a\\D]", 7}, {"[\\W]", 7}, {"[\\N]", 7}, {"a\\", 8},
        {"\\", 8}};
    for (const auto& c : cases) {
        const char* pattern = c.first;
        const int code = c.second;
        int error = 0;
        SString converted;
        std::string report = ErrorsOf([&] { converted = PerlRegexConv(SString(pattern), &error); });
        EXPECT_EQ(error, code) << pattern;
        EXPECT_EQ(converted.Length(), 0) << pattern;
        EXPECT_THAT(report, testing::StartsWith("Regular expression error -- compile aborted.  "
                                                "Reason:\n\t" + reasons[code] +
                                                "\n\tThe erroneous expression is '"));
        EXPECT_THAT(report, HasSubstr("'."));

        // The refused expression never matches and changes nothing.
        std::string again = ErrorsOf([&] {
            SPerlRegex rx{SString(pattern)};
            SString subject(pattern);
            EXPECT_FALSE(rx.OK() || rx.HasMatch(subject)) << pattern;
            EXPECT_EQ(rx.Match(subject).Count() + rx.Subst(subject, SString("x"), "g").Count() +
                          subject.Split(rx).Count(), 0);
            EXPECT_EQ(Str(subject), pattern);
        });
        EXPECT_THAT(again, HasSubstr(reasons[code])) << pattern;
    }
    EXPECT_THAT(ErrorsOf([] { PerlRegexConv(SString("a\tb]")); }), HasSubstr("a\\tb]"))
        << "the report shows the pattern escaped";
}

// ---- the engine: the three features supplied around glibc, and its limits ----------

// Where a POSIX `pattern` first matches `subject` searched from `start`; -1 for none.
int FoundAt(const std::string& pattern, const std::string& subject, int start = 0) {
    SRegex rx(S(pattern));
    return rx.HasMatch(S(subject), start) ? rx.MatchPos() : -1;
}

TEST(SRegexEngine, NulBytesStartAndEndOffsetsAndWordBrackets) {
    const struct { std::string pattern, subject; int start, at; } cases[] = {
        // The pattern ends at its length, not at a NUL; '.' matches a NUL byte.
        {"a\0b"s, "xa\0b"s, 0, 1}, {"a\0b"s, "ab", 0, -1}, {"a\0b"s, "a", 0, -1},
        {"a.c", "a\0c"s, 0, 0},
        // Offsets are absolute; '^' cannot match at a resume point, '$' matches at the end.
        {"^b", "abc", 1, -1}, {"^b", "bc", 0, 0}, {"c$", "abc", 2, 2}, {"$", "abc", 3, 3},
        // '^' and '$' anchor at the ends of the text only, never at line feeds.
        {"^b", "a\nb", 0, -1}, {"a$", "a\nb", 0, -1},
        // Word assertions, also at a start offset, which sees the real preceding byte;
        // '_' is a word character.
        {"[[:<:]]b", "ab", 1, -1}, {"[[:<:]]b", "a b", 2, 2}, {"a[[:<:]]", "a b", 0, -1},
        {"[[:>:]]b", "a b", 0, -1}, {"a[[:>:]]", "ab a", 0, 3},
        {"[[:<:]]cat[[:>:]]", "the cat sat", 0, 4}, {"[[:<:]]cat[[:>:]]", "concatenate", 0, -1},
        {"[[:<:]]cat[[:>:]]", "cats", 0, -1}, {"[[:<:]]cat[[:>:]]", "cat", 0, 0},
        {"[[:<:]]cat[[:>:]]", "(cat_)cat.", 0, 6},
        // Only a bracket that is exactly the word bracket is rewritten.
        {"\\[[:<:]]", "[<]", 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FoundAt(c.pattern, c.subject, c.start), c.at) << c.pattern << " in " << c.subject;

    SRegex rx(S("a\0b"s)), bracket(S("x[\0y]+"s)), b(SString("b(c)?"));
    ASSERT_TRUE(rx.HasMatch(S("xa\0b"s)));
    EXPECT_EQ(rx.MatchLen(), 3);
    EXPECT_EQ(Bracketed(bracket.Match(S("x\0y\0z"s))), "[x\0y\0]"s);
    ASSERT_TRUE(b.HasMatch(SString("abcabc"), 2));
    EXPECT_EQ(b.MatchInfo(1), std::make_pair(5, 6));
    // Nothing from offset 2 of "abc", nor from beyond the end or before the start.
    for (int start : {2, 4, -1}) EXPECT_FALSE(b.HasMatch(SString("abc"), start)) << start;
    EXPECT_EQ(b.MatchPos(), 4) << "a failed search keeps the last match";

    // A NUL separator reaches the engine through the character split.
    EXPECT_EQ(Bracketed(S("a\0b\0c"s).Split('\0')), "[a][b][c]");
    EXPECT_EQ(Bracketed(S("a\0b"s).M(S("\0(b)"s))), "[\0b][b]"s);
    EXPECT_EQ(Bracketed(SString("A Cat!").M(SString("[[:<:]](c[a-z]+)[[:>:]]"), "i")),
              "[Cat][Cat]");
    SRegex classes(SString("[[:alpha:]]+[]x]"));
    EXPECT_EQ(Bracketed(SString("12ab]").M(classes)), "[ab]]");
    EXPECT_FALSE(SRegex(SString("[a[:<:]]")).OK()) << "not a word bracket inside another";

    // The end is the string's length: a string over a caller's buffer is not
    // terminated, and the bytes after it must not be seen.
    const char buffer[] = "abcXYZ";
    SFixedString fixed(buffer, 3);
    {
        SString view(fixed);
        SRegex end(SString("c$")), beyond(SString("cX")), all(SString("^.*$"));
        EXPECT_TRUE(end.HasMatch(view));
        EXPECT_FALSE(beyond.HasMatch(view));
        EXPECT_EQ(Bracketed(view.M(all)), "[abc]");
    }
}

TEST(SRegexEngine, RefusesExpressionsThatWouldExplode) {
    // Stacked repetition operators would double the compiled program at each one;
    // nested counted repetitions multiply.
    const std::string refused[] = {"a++", "a*?", "a+?", "a??", "(ab)*+", "a{2}{3}", "a{2}*",
                                   "x*{1,2}", "a" + std::string(60, '+'), "((a{100}){100}){100}",
                                   "(a{200}){200}", "(((((x{9}){9}){9}){9}){9})"};
    for (const std::string& p : refused) {
        SRegex rx{S(p)};
        EXPECT_GT(rx.Status(), 0) << p;
        EXPECT_FALSE(rx.HasMatch(SString("aaaa"))) << p;
    }
    EXPECT_FALSE(SString("aaa").HasMatch(SString("a*?"))) << "a lazy quantifier is refused too";

    // Ordinary repetitions, nested ones and counts stay usable.
    const char* fine[][3] = {
        {"(a+)+b", "xaab", "[aab][aa]"}, {"a{1,3}", "aaaa", "[aaa]"}, {"x{,2}y", "xxxy", "[xxy]"},
        {"[0-9]{1,3}(\\.[0-9]{1,3}){3}", "ip 10.0.0.1", "[10.0.0.1][.1]"},
        {"(a|b)*c?d{2,}", "abcdd", "[abcdd][b]"}, {"a\\+\\+", "a++", "[a++]"},
        {"[+*?]+", "x+*?", "[+*?]"}, {"(a{100}){10}", "a", "undef:"},
    };
    for (const auto& c : fine) {
        SRegex rx{SString(c[0])};
        ASSERT_TRUE(rx.OK()) << c[0];
        EXPECT_EQ(Bracketed(rx.Match(SString(c[1]))), c[2]) << c[0];
    }
    EXPECT_EQ(FoundAt("^(a{100}){10}$", std::string(1000, 'a')), 0);
    EXPECT_EQ(FoundAt("^(a{100}){10}$", std::string(999, 'a')), -1);
}

// ---- SRegex and SPerlRegex life cycle and matching -----------------------------------

TEST(SRegex, StatusCopiesAndDebug) {
    SRegex never, ok(SString("a+")), bad(SString("a{2")), empty(SString("")), undef{SString()};
    EXPECT_EQ(never.Status(), -1);
    EXPECT_FALSE(never.HasMatch(SString("x")));
    EXPECT_EQ(never.MatchInfo(0), std::make_pair(-1, -1));
    EXPECT_EQ(ErrorsOf([&] { never.Debug(); }), "SRegex was never compiled\n");
    EXPECT_EQ(ok.Status(), 0);
    EXPECT_EQ(ErrorsOf([&] { ok.Debug(); }), "SRegex is OK\n");
    EXPECT_GT(bad.Status(), 0);
    std::string text = ErrorsOf([&] { bad.Debug(); });
    const std::string head = "SRegex didn't compile because of the following reason:\n";
    ASSERT_THAT(text, HasSubstr(head));
    EXPECT_GT(text.size(), head.size() + 1);
    EXPECT_LE(text.size(), head.size() + 101) << "the engine's text is cut at 100 bytes";
    EXPECT_GT(empty.Status(), 0) << "the empty pattern is refused";
    EXPECT_FALSE(empty.HasMatch(SString("abc")));
    EXPECT_GT(undef.Status(), 0);

    SRegex copy(ok), target(SString("b"));
    EXPECT_EQ(copy.Status(), -1) << "a copy takes nothing of the compiled state";
    target = ok;
    EXPECT_TRUE(target.HasMatch(SString("b")));
    EXPECT_FALSE(target.HasMatch(SString("a"))) << "assignment leaves the target alone";

    EXPECT_NE(ok.Set(SString("(")), 0);
    EXPECT_FALSE(ok.HasMatch(SString("a"))) << "a failed Set frees the old expression";
    EXPECT_EQ(ok.Set(SString("A"), "i"), 0);
    EXPECT_TRUE(ok.HasMatch(SString("a")));
    EXPECT_EQ(ok.Set(SString("A"), nullptr), 0);
    EXPECT_FALSE(ok.HasMatch(SString("a")));
}

TEST(SRegex, MatchListsGroupsAndOffsets) {
    SRegex rx(SString("^(.*)@([^@]*)$")), optional(SString("(x)?(y)"));
    EXPECT_EQ(Bracketed(rx.Match(SString("john@example.org"))),
              "[john@example.org][john][example.org]");
    EXPECT_EQ(rx.Groups(), 2);
    EXPECT_EQ(rx.MatchInfo(2), std::make_pair(5, 16));
    EXPECT_EQ(rx.MatchInfo(3), std::make_pair(-1, -1));
    EXPECT_EQ(rx.MatchInfo(-1), std::make_pair(-1, -1));
    EXPECT_EQ(Bracketed(rx.Match(SString("no at sign"))), "undef:");
    EXPECT_EQ(Bracketed(optional.Match(SString("y"))), "[y][][y]");
    EXPECT_EQ(optional.MatchInfo(1), std::make_pair(-1, -1));

    // Ten groups: the engine fills nine, the tenth reads as empty.
    SRegex ten(SString("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)")), longest(SString("a|ab|abc"));
    EXPECT_EQ(Bracketed(ten.Match(SString("abcdefghij"))),
              "[abcdefghij][a][b][c][d][e][f][g][h][i][]");
    EXPECT_EQ(ten.MatchInfo(9), std::make_pair(8, 9));
    EXPECT_EQ(ten.MatchInfo(10), std::make_pair(-1, -1));
    EXPECT_EQ(Bracketed(longest.Match(SString("abcd"))), "[abc]") << "POSIX takes the longest";
}

TEST(SPerlRegex, ConvertsOnSetAndKeepsTheOldExpressionOnFailure) {
    SPerlRegex digits(SString("\\d+")), empty(SString(""));
    EXPECT_EQ(Str(digits.PosixPattern()), "[0-9]+");
    EXPECT_EQ(Bracketed(SString("ab123c").M(digits)), "[123]");
    EXPECT_FALSE(empty.OK()) << "an empty conversion is compiled and fails";

    EXPECT_EQ(digits.Set(SString("x+")), 0);
    EXPECT_TRUE(digits.HasMatch(SString("axx")));
    std::string report = ErrorsOf([&] { EXPECT_EQ(digits.Set(SString("(x")), 0); });
    EXPECT_THAT(report, HasSubstr("Unmatched opening parenthesis"));
    EXPECT_EQ(Str(digits.PerlPattern()), "(x");
    EXPECT_TRUE(digits.HasMatch(SString("x"))) << "the old expression stays";

    SPerlRegex copy(digits), target(SString("q")), shown(SString("\\s"));
    EXPECT_EQ(copy.Status(), -1);
    EXPECT_FALSE(copy.PerlPattern().Defined() || copy.PosixPattern().Defined());
    target = digits;
    EXPECT_EQ(Str(target.PerlPattern()), "q") << "assignment leaves the target alone";
    EXPECT_EQ(ErrorsOf([&] { shown.Debug(); }),
              "Perl Regex:    '\\s'\nRegular Regex: '[ \f\n\r\t\v]'\n");
}

// ---- substitution and replacement expansion ---------------------------------------
// (Ordinary substitutions are compared with perl in regex_perl_test.cc.)

TEST(RegexSubst, EmptyMatchesTerminateAndTheEmptyPatternInserts) {
    const std::string big(20000, 'a');
    // `groups`: what the call returns, the groups of the last match.
    const struct { std::string subject, pattern, replacement; const char* options;
                   std::string expected, groups; } cases[] = {
        {"a.b", "\\.", "-", "g", "a-b", "[.]"}, {"", "^", "x", nullptr, "x", "[]"},
        {"abc", "$", "!", "g", "abc!", "[]"},   {"abc", "x", "y", "g", "abc", "undef:"},
        // A global substitution of a pattern matching the empty string terminates.
        {"abc", "x*", "-", "g", "-a-b-c", "[]"}, {"abc", "b*", "-", "g", "-a--c", "[]"},
        {"", "x*", "-", "g", "-", "[]"},         {"ab", "[[:<:]]", "|", "g", "|ab", "[]"},
        {big, "b*", "", "g", big, "[]"},
        // The empty pattern inserts before the first or every character.
        {"abc", "", "-", nullptr, "-abc", "[]"}, {"abc", "", "-", "g", "-a-b-c-", "[]"},
        {"", "", "-", "g", "", "[]"},            {"", "", "-", nullptr, "-", "[]"},
        {"ab", "", "\\t", "g", "\ta\tb\t", "[]"},
    };
    for (const auto& c : cases) {
        SString s = S(c.subject);
        EXPECT_EQ(Bracketed(s.S(S(c.pattern), S(c.replacement), c.options)), c.groups) << c.pattern;
        EXPECT_EQ(Str(s), c.expected) << c.subject.substr(0, 9) << " / " << c.pattern;
    }
}

TEST(RegexSubst, ReplacementExpansion) {
    const char* unescaped = "Unescaped '$' in regular expression replacement string";
    const char* invalid = "Invalid replacement string in regular expression";
    const struct { const char* replacement; std::string expected; const char* report; } cases[] = {
        {"<$1|$2|$3>", "x<b|c|>y", ""}, {"<\\1\\2>", "x<bc>y", ""}, {"<$&>", "x<bc>y", ""},
        {"<$9\\9>", "x<>y", ""}, {"\\n\\t\\r\\f\\v", "x\n\t\r\f\vy", ""},
        {"<\\0>", "x<\0>y"s, ""}, {"\\q\\$\\\\", "xq$\\y", ""}, {"", "xy", ""},
        {"$x", "x$y", unescaped}, {"$0", "x$y", unescaped}, {"abc$", "xy", invalid},
        {"abc\\", "xy", invalid},
    };
    for (const auto& c : cases) {
        SString s("xbcy");
        std::string report = ErrorsOf([&] { s.S(SString("(b)(c)"), SString(c.replacement)); });
        EXPECT_EQ(Str(s), c.expected) << c.replacement;
        EXPECT_THAT(report, Reports(c.report)) << c.replacement;
    }
    SString a("a");
    std::string both = ErrorsOf([&] { a.S(SString("a"), SString("abc$")); });
    EXPECT_THAT(both, testing::AllOf(HasSubstr(unescaped), HasSubstr(invalid)));

    SString out("keep:");
    SStringList groups = qbtest::ListOf({"whole", "one"});
    EXPECT_TRUE(AppendPasteBuffer(out, SString("$1-$&-$2"), groups));
    EXPECT_EQ(Str(out), "keep:one-whole-");
    ErrorsOf([&] { EXPECT_FALSE(AppendPasteBuffer(out, SString("zz\\"), groups)); });
    EXPECT_EQ(Str(out), "keep:one-whole-") << "an invalid replacement appends nothing";
}

}  // namespace
