// Regular expressions: the Perl-to-POSIX conversion and its error reports, the three
// engine features supplied around glibc (patterns with NUL bytes, search start/end
// offsets, word brackets), matching, substitution and replacement expansion.
#include <gtest/gtest.h>

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

// Runs `f` and returns what it wrote to the error stream.
template <typename F>
std::string ErrorsOf(F&& f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// ---- conversion -------------------------------------------------------------------

TEST(PerlRegexConv, RewritesPerlEscapesIntoPosix) {
    const std::string ws = " \f\n\r\t\v";
    const struct {
        std::string perl, posix;
    } cases[] = {
        {"\\.", "\\."},
        {"\\d+", "[0-9]+"},
        {"[\\d\\s]", "[0-9" + ws + "]"},
        {"\\s", "[" + ws + "]"},
        {"\\S", "[^" + ws + "]"},
        {"\\w\\W", "[A-Za-z_0-9][^A-Za-z_0-9]"},
        {"\\D", "[^0-9]"},
        {"\\N", "[^\n]"},
        {"\\f\\n\\r\\t\\v", "\f\n\r\t\v"},
        {"[\\f\\n\\r\\t\\v]", "[\f\n\r\t\v]"},
        {"\\(\\)\\\\\\1\\$\\b", "\\(\\)\\\\\\1\\$\\b"},
        {"[^]a]", "[^]a]"},
        {"[]a]", "[]a]"},
        {"[\\w-]", "[A-Za-z_0-9-]"},
        {"[\\]]", "[\\]]"},
        {"[\\.x]", "[\\.x]"},
        {"[[:<:]]cat[[:>:]]", "[[:<:]]cat[[:>:]]"},
        {"^(.*)@([^@]*)$", "^(.*)@([^@]*)$"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)"},
        {"", ""},
    };
    for (const auto& c : cases) {
        int error = -1;
        std::string report = ErrorsOf(
            [&] { EXPECT_EQ(Str(PerlRegexConv(Bytes(c.perl), &error)), c.posix) << c.perl; });
        EXPECT_EQ(error, 0) << c.perl;
        EXPECT_EQ(report, "") << c.perl;
    }
}

TEST(PerlRegexConv, RefusesMalformedPatternsWithCodeAndReport) {
    const struct {
        const char* pattern;
        int code;
        const char* reason;
    } cases[] = {
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", 2,
         "Too many parenthesized elements in regular expression (maximum 10)."},
        {"(((((((((((a)))))))))))", 2, "Too many parenthesized elements"},
        {"(a", 3, "Unmatched opening parenthesis in regular expression."},
        {"(\\", 3, "Unmatched opening parenthesis"},
        {"[a", 4, "Unterminated range [...] in regular expression."},
        {"[a\\", 4, "Unterminated range"},
        {"x[^", 4, "Unterminated range"},
        {"(a))", 5, "Unmatched closing parenthesis in regular expression."},
        {")(", 5, "Unmatched closing parenthesis"},
        {"a]", 6, "Unmatched closing bracket in regular expression."},
        {"[[:alpha:]]", 6, "Unmatched closing bracket"},
        {"[\\S]", 7, "Special characters not allowed in a range (\\D, \\S, or \\W)"},
        {"[a\\D]", 7, "Special characters"},
        {"[\\W]", 7, "Special characters"},
        {"[\\N]", 7, "Special characters"},
        {"a\\", 8, "Regular expression terminated prematurely."},
        {"\\", 8, "terminated prematurely"},
    };
    for (const auto& c : cases) {
        int error = 0;
        SString converted;
        std::string report =
            ErrorsOf([&] { converted = PerlRegexConv(SString(c.pattern), &error); });
        EXPECT_EQ(error, c.code) << c.pattern;
        EXPECT_EQ(converted.Length(), 0) << c.pattern;
        EXPECT_TRUE(Contains(report, "Regular expression error -- compile aborted.  Reason:\n\t"))
            << report;
        EXPECT_TRUE(Contains(report, c.reason)) << c.pattern << ": " << report;
        EXPECT_TRUE(Contains(report, "\n\tThe erroneous expression is '")) << report;
        EXPECT_TRUE(Contains(report, "'.")) << report;

        // The refused expression never matches and changes nothing.
        std::string again = ErrorsOf([&] {
            SPerlRegex rx{SString(c.pattern)};
            EXPECT_FALSE(rx.OK()) << c.pattern;
            SString subject(c.pattern);
            EXPECT_FALSE(rx.HasMatch(subject));
            EXPECT_EQ(rx.Match(subject).Count(), 0);
            EXPECT_EQ(rx.Subst(subject, SString("x"), "g").Count(), 0);
            EXPECT_EQ(Str(subject), c.pattern);
            EXPECT_EQ(subject.Split(rx).Count(), 0);
        });
        EXPECT_TRUE(Contains(again, c.reason)) << c.pattern;
    }
}

TEST(PerlRegexConv, ReportShowsTheEscapedPattern) {
    std::string report = ErrorsOf([] { PerlRegexConv(SString("a\tb]")); });
    EXPECT_TRUE(Contains(report, "a\\tb]")) << report;
}

// ---- the three engine features ----------------------------------------------------

TEST(SRegexEngine, PatternsMayHoldNulBytes) {
    SRegex rx(Bytes(std::string("a\0b", 3)));
    ASSERT_TRUE(rx.OK());
    EXPECT_TRUE(rx.HasMatch(Bytes(std::string("xa\0b", 4))));
    EXPECT_EQ(rx.MatchPos(), 1);
    EXPECT_EQ(rx.MatchLen(), 3);
    EXPECT_FALSE(rx.HasMatch(SString("ab"))) << "the NUL must not end the pattern";
    EXPECT_FALSE(rx.HasMatch(SString("a")));

    SRegex bracket(Bytes(std::string("x[\0y]+", 6)));
    ASSERT_TRUE(bracket.OK());
    SStringList m = bracket.Match(Bytes(std::string("x\0y\0z", 5)));
    EXPECT_EQ(Items(m), std::string("[x\0y\0]", 6));

    SRegex dot(SString("a.c"));
    EXPECT_TRUE(dot.HasMatch(Bytes(std::string("a\0c", 3)))) << "'.' matches a NUL byte";

    // A NUL separator reaches the engine through the character split.
    EXPECT_EQ(Items(Bytes(std::string("a\0b\0c", 5)).Split('\0')), "[a][b][c]");
    EXPECT_EQ(Items(Bytes(std::string("a\0b", 3)).M(Bytes(std::string("\0(b)", 4)))),
              std::string("[\0b][b]", 7));
}

TEST(SRegexEngine, SearchHonoursStartAndEndOffsets) {
    SRegex caret(SString("^b"));
    EXPECT_FALSE(caret.HasMatch(SString("abc"), 1)) << "'^' cannot match at a resume point";
    EXPECT_TRUE(caret.HasMatch(SString("bc"), 0));

    SRegex b(SString("b(c)?"));
    EXPECT_TRUE(b.HasMatch(SString("abcabc"), 2));
    EXPECT_EQ(b.MatchPos(), 4) << "offsets are absolute";
    EXPECT_EQ(b.MatchInfo(1), std::make_pair(5, 6));
    EXPECT_FALSE(b.HasMatch(SString("abc"), 2));
    EXPECT_FALSE(b.HasMatch(SString("abc"), 4)) << "start beyond the end";
    EXPECT_FALSE(b.HasMatch(SString("abc"), -1));
    EXPECT_EQ(b.MatchPos(), 4) << "a failed search keeps the last match";

    SRegex end(SString("c$"));
    EXPECT_TRUE(end.HasMatch(SString("abc"), 2));
    SRegex empty_end(SString("$"));
    EXPECT_TRUE(empty_end.HasMatch(SString("abc"), 3));
    EXPECT_EQ(empty_end.MatchPos(), 3);

    // The end is the string's length: a string over a caller's buffer is not
    // terminated, and the bytes after it must not be seen.
    const char buffer[] = "abcXYZ";
    SFixedString fixed(buffer, 3);
    {
        SString view(fixed);
        EXPECT_TRUE(end.HasMatch(view));
        SRegex beyond(SString("cX"));
        EXPECT_FALSE(beyond.HasMatch(view));
        SRegex all(SString("^.*$"));
        EXPECT_EQ(Items(view.M(all)), "[abc]");
    }

    // '^' and '$' anchor at the ends of the text only, never at line feeds.
    EXPECT_FALSE(SString("a\nb").HasMatch(SString("^b")));
    EXPECT_FALSE(SString("a\nb").HasMatch(SString("a$")));

    // Word assertions at the start see the real preceding byte.
    SRegex word(SString("[[:<:]]b"));
    EXPECT_FALSE(word.HasMatch(SString("ab"), 1));
    EXPECT_TRUE(word.HasMatch(SString("a b"), 2));
}

TEST(SRegexEngine, WordBrackets) {
    SRegex cat(SString("[[:<:]]cat[[:>:]]"));
    ASSERT_TRUE(cat.OK());
    EXPECT_TRUE(cat.HasMatch(SString("the cat sat")));
    EXPECT_EQ(cat.MatchPos(), 4);
    EXPECT_FALSE(cat.HasMatch(SString("concatenate")));
    EXPECT_FALSE(cat.HasMatch(SString("cats")));
    EXPECT_TRUE(cat.HasMatch(SString("cat")));
    EXPECT_TRUE(cat.HasMatch(SString("(cat_)cat.")));
    EXPECT_EQ(cat.MatchPos(), 6) << "'_' is a word character";

    // Through the Perl conversion, with the case option.
    EXPECT_EQ(Items(SString("A Cat!").M(SString("[[:<:]](c[a-z]+)[[:>:]]"), "i")), "[Cat][Cat]");

    // Only a bracket that is exactly the word bracket is rewritten.
    SRegex escaped(SString("\\[[:<:]]"));
    ASSERT_TRUE(escaped.OK());
    EXPECT_TRUE(escaped.HasMatch(SString("[<]")));
    SRegex classes(SString("[[:alpha:]]+[]x]"));
    ASSERT_TRUE(classes.OK());
    EXPECT_EQ(Items(SString("12ab]").M(classes)), "[ab]]");
    SRegex inside(SString("[a[:<:]]"));
    EXPECT_FALSE(inside.OK()) << "not a word bracket inside another bracket";
}

TEST(SRegexEngine, RefusesExpressionsThatWouldExplode) {
    // Stacked repetition operators would double the compiled program at each one.
    const char* stacked[] = {"a++", "a*?", "a+?", "a??", "(ab)*+", "a{2}{3}", "a{2}*", "x*{1,2}"};
    for (const char* p : stacked) {
        SRegex rx{SString(p)};
        EXPECT_GT(rx.Status(), 0) << p;
        EXPECT_FALSE(rx.HasMatch(SString("aaaa"))) << p;
    }
    SRegex many(Bytes("a" + std::string(60, '+')));
    EXPECT_GT(many.Status(), 0);
    EXPECT_FALSE(SString("aaa").HasMatch(SString("a*?"))) << "a lazy quantifier is refused too";

    // Nested counted repetitions multiply.
    const char* huge[] = {"((a{100}){100}){100}", "(a{200}){200}", "(((((x{9}){9}){9}){9}){9})"};
    for (const char* p : huge) EXPECT_GT(SRegex(SString(p)).Status(), 0) << p;

    // Ordinary repetitions, nested ones and counts stay usable.
    const struct {
        const char* pattern;
        const char* subject;
        const char* match;
    } fine[] = {
        {"(a+)+b", "xaab", "[aab][aa]"},
        {"a{1,3}", "aaaa", "[aaa]"},
        {"x{,2}y", "xxxy", "[xxy]"},
        {"[0-9]{1,3}(\\.[0-9]{1,3}){3}", "ip 10.0.0.1", "[10.0.0.1][.1]"},
        {"(a|b)*c?d{2,}", "abcdd", "[abcdd][b]"},
        {"a\\+\\+", "a++", "[a++]"},
        {"[+*?]+", "x+*?", "[+*?]"},
        {"(a{100}){10}", "a", ""},
    };
    for (const auto& c : fine) {
        SRegex rx{SString(c.pattern)};
        ASSERT_TRUE(rx.OK()) << c.pattern;
        if (*c.match) {
            EXPECT_EQ(Items(rx.Match(SString(c.subject))), c.match) << c.pattern;
        }
    }
    SRegex thousand(SString("^(a{100}){10}$"));
    EXPECT_TRUE(thousand.HasMatch(Bytes(std::string(1000, 'a'))));
    EXPECT_FALSE(thousand.HasMatch(Bytes(std::string(999, 'a'))));
}

// ---- SRegex life cycle and matching ------------------------------------------------

TEST(SRegex, StatusCopiesAndDebug) {
    SRegex never;
    EXPECT_EQ(never.Status(), -1);
    EXPECT_FALSE(never.HasMatch(SString("x")));
    EXPECT_EQ(never.MatchInfo(0), std::make_pair(-1, -1));
    EXPECT_EQ(ErrorsOf([&] { never.Debug(); }), "SRegex was never compiled\n");

    SRegex ok(SString("a+"));
    EXPECT_EQ(ok.Status(), 0);
    EXPECT_EQ(ErrorsOf([&] { ok.Debug(); }), "SRegex is OK\n");

    SRegex bad(SString("a{2"));
    EXPECT_GT(bad.Status(), 0);
    std::string text = ErrorsOf([&] { bad.Debug(); });
    const std::string head = "SRegex didn't compile because of the following reason:\n";
    ASSERT_TRUE(Contains(text, head)) << text;
    EXPECT_GT(text.size(), head.size() + 1);
    EXPECT_LE(text.size(), head.size() + 101);

    SRegex empty(SString(""));
    EXPECT_GT(empty.Status(), 0) << "the empty pattern is refused";
    EXPECT_FALSE(empty.HasMatch(SString("abc")));
    SRegex undefined{SString()};
    EXPECT_GT(undefined.Status(), 0);

    SRegex copy(ok);
    EXPECT_EQ(copy.Status(), -1) << "a copy takes nothing of the compiled state";
    SRegex target(SString("b"));
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
    SRegex rx(SString("^(.*)@([^@]*)$"));
    EXPECT_EQ(Items(rx.Match(SString("john@example.org"))),
              "[john@example.org][john][example.org]");
    EXPECT_EQ(rx.Groups(), 2);
    EXPECT_EQ(rx.MatchInfo(2), std::make_pair(5, 16));
    EXPECT_EQ(rx.MatchInfo(3), std::make_pair(-1, -1));
    EXPECT_EQ(rx.MatchInfo(-1), std::make_pair(-1, -1));
    EXPECT_EQ(Items(rx.Match(SString("no at sign"))), "undef:");

    SRegex optional(SString("(x)?(y)"));
    EXPECT_EQ(Items(optional.Match(SString("y"))), "[y][][y]");
    EXPECT_EQ(optional.MatchInfo(1), std::make_pair(-1, -1));

    // Ten groups: the engine fills nine, the tenth reads as empty.
    SRegex ten(SString("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)"));
    EXPECT_EQ(Items(ten.Match(SString("abcdefghij"))), "[abcdefghij][a][b][c][d][e][f][g][h][i][]");
    EXPECT_EQ(ten.MatchInfo(9), std::make_pair(8, 9));
    EXPECT_EQ(ten.MatchInfo(10), std::make_pair(-1, -1));

    SRegex longest(SString("a|ab|abc"));
    EXPECT_EQ(Items(longest.Match(SString("abcd"))), "[abc]") << "POSIX takes the longest";
}

TEST(SPerlRegex, ConstructionSetCopiesAndDebug) {
    SPerlRegex none;
    EXPECT_EQ(none.Status(), -1);
    EXPECT_TRUE(none.PerlPattern().Defined());
    EXPECT_EQ(Str(none.PerlPattern()), "");

    SPerlRegex digits(SString("\\d+"));
    EXPECT_TRUE(digits.OK());
    EXPECT_EQ(Str(digits.PosixPattern()), "[0-9]+");
    EXPECT_EQ(Items(SString("ab123c").M(digits)), "[123]");

    SPerlRegex empty(SString(""));
    EXPECT_FALSE(empty.OK()) << "an empty conversion is compiled and fails";

    // Set keeps the old expression when the conversion gives nothing.
    EXPECT_EQ(digits.Set(SString("x+")), 0);
    EXPECT_TRUE(digits.HasMatch(SString("axx")));
    std::string report = ErrorsOf([&] { EXPECT_EQ(digits.Set(SString("(x")), 0); });
    EXPECT_TRUE(Contains(report, "Unmatched opening parenthesis")) << report;
    EXPECT_EQ(Str(digits.PerlPattern()), "(x");
    EXPECT_TRUE(digits.HasMatch(SString("x")));

    SPerlRegex copy(digits);
    EXPECT_EQ(copy.Status(), -1);
    EXPECT_FALSE(copy.PerlPattern().Defined());
    EXPECT_FALSE(copy.PosixPattern().Defined());
    SPerlRegex target(SString("q"));
    target = digits;
    EXPECT_EQ(Str(target.PerlPattern()), "q");

    SPerlRegex shown(SString("\\s"));
    EXPECT_EQ(ErrorsOf([&] { shown.Debug(); }),
              "Perl Regex:    '\\s'\nRegular Regex: '[ \f\n\r\t\v]'\n");
}

// ---- substitution and replacement expansion ---------------------------------------

std::string Sub(const std::string& subject, const std::string& pattern,
                const std::string& replacement, const char* options,
                std::string* groups = nullptr) {
    SString s = Bytes(subject);
    SStringList g = s.S(Bytes(pattern), Bytes(replacement), options);
    if (groups) *groups = Items(g);
    return Str(s);
}

TEST(RegexSubst, GlobalAndSingle) {
    std::string groups;
    EXPECT_EQ(Sub("a.b", "\\.", "-", "g", &groups), "a-b");
    EXPECT_EQ(groups, "[.]");
    EXPECT_EQ(Sub("a.b.c", "\\.", "-", nullptr), "a-b.c");
    EXPECT_EQ(Sub("a.b.c", "\\.", "-", "g"), "a-b-c");
    EXPECT_EQ(Sub("a1b2c3", "([a-z])(\\d)", "$2$1", "g", &groups), "1a2b3c");
    EXPECT_EQ(groups, "[c3][c][3]") << "the groups of the last match";
    EXPECT_EQ(Sub("abc", "x", "y", "g", &groups), "abc");
    EXPECT_EQ(groups, "undef:");
    EXPECT_EQ(Sub("ABC abc", "b", "-", "gi"), "A-C a-c");
    EXPECT_EQ(Sub("aaa", "^a", "x", "g"), "xaa") << "'^' only at the start";
    EXPECT_EQ(Sub("", "^", "x", nullptr), "x");
    EXPECT_EQ(Sub("abc", "$", "!", "g"), "abc!");
}

TEST(RegexSubst, EmptyMatchesTerminate) {
    EXPECT_EQ(Sub("abc", "x*", "-", "g"), "-a-b-c");
    EXPECT_EQ(Sub("abc", "b*", "-", "g"), "-a--c");
    EXPECT_EQ(Sub("", "x*", "-", "g"), "-");
    EXPECT_EQ(Sub("ab", "[[:<:]]", "|", "g"), "|ab");
    std::string big(20000, 'a');
    std::string out = Sub(big, "b*", "", "g");
    EXPECT_EQ(out, big);
}

TEST(RegexSubst, EmptyPattern) {
    std::string groups;
    EXPECT_EQ(Sub("abc", "", "-", nullptr, &groups), "-abc");
    EXPECT_EQ(groups, "[]");
    EXPECT_EQ(Sub("abc", "", "-", "g", &groups), "-a-b-c-");
    EXPECT_EQ(groups, "[]");
    EXPECT_EQ(Sub("", "", "-", "g"), "");
    EXPECT_EQ(Sub("", "", "-", nullptr), "-");
    EXPECT_EQ(Sub("ab", "", "\\t", "g"), "\ta\tb\t");
}

TEST(RegexSubst, ReplacementExpansion) {
    const struct {
        const char* replacement;
        std::string expected;
        const char* report;
    } cases[] = {
        {"<$1|$2|$3>", "x<b|c|>y", ""},
        {"<\\1\\2>", "x<bc>y", ""},
        {"<$&>", "x<bc>y", ""},
        {"<$9\\9>", "x<>y", ""},
        {"\\n\\t\\r\\f\\v", "x\n\t\r\f\vy", ""},
        {"<\\0>", std::string("x<\0>y", 5), ""},
        {"\\q\\$\\\\", "xq$\\y", ""},
        {"$x", "x$y", "Unescaped '$' in regular expression replacement string"},
        {"$0", "x$y", "Unescaped '$' in regular expression replacement string"},
        {"abc$", "xy", "Invalid replacement string in regular expression"},
        {"abc\\", "xy", "Invalid replacement string in regular expression"},
        {"", "xy", ""},
    };
    for (const auto& c : cases) {
        std::string out;
        std::string report = ErrorsOf([&] { out = Sub("xbcy", "(b)(c)", c.replacement, nullptr); });
        EXPECT_EQ(out, c.expected) << c.replacement;
        if (*c.report)
            EXPECT_TRUE(Contains(report, c.report)) << c.replacement << ": " << report;
        else
            EXPECT_EQ(report, "") << c.replacement;
    }
    std::string both = ErrorsOf([] { Sub("a", "a", "abc$", nullptr); });
    EXPECT_TRUE(Contains(both, "Unescaped '$' in regular expression replacement string")) << both;
    EXPECT_TRUE(Contains(both, "Invalid replacement string in regular expression")) << both;

    SString out("keep:");
    SStringList groups("whole");
    groups.Push("one");
    EXPECT_TRUE(AppendPasteBuffer(out, SString("$1-$&-$2"), groups));
    EXPECT_EQ(Str(out), "keep:one-whole-");
    std::string quiet =
        ErrorsOf([&] { EXPECT_FALSE(AppendPasteBuffer(out, SString("zz\\"), groups)); });
    EXPECT_EQ(Str(out), "keep:one-whole-") << "an invalid replacement appends nothing";
}

}  // namespace
