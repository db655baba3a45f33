// The envelope parser: SMTP command arguments in strict and lenient mode, source
// routes, the null path, ESMTP parameters after the address, quoting of local parts
// and the malformed forms real clients send.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SParser.h"

namespace {

std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

std::string Items(const SStringList& l) {
    if (!l.Defined()) return "undef";
    std::string out;
    l.ForEach([&out](const SString& s) { out += "[" + Str(s) + "]"; });
    return out;
}

constexpr const char* kBad = "BAD";

// The printed form, or "BAD" when the address is bad.
std::string Parse(const std::string& text, unsigned lenient) {
    S821Parser parser(SString(text.data(), static_cast<int>(text.size())), lenient);
    S821Address a = parser.ExtractAddress();
    return a.IsBad() ? kBad : Str(a.Address());
}

struct Case {
    const char* text;
    const char* strict;
    const char* lenient;
};

TEST(EnvelopeParser, StrictAndLenientForms) {
    const Case cases[] = {
        {"<>", "<>", "<>"},
        {"<<>>", "<>", "<>"},
        {"<u@h.d>", "<u@h.d>", "<u@h.d>"},
        {"user@host", "<user@host>", "<user@host>"},
        {"user@host.", "<user@host>", "<user@host>"},
        {"user@", kBad, kBad},
        {"user@.host", kBad, kBad},
        {"user@host..com", kBad, kBad},
        {"<u@h@i>", kBad, kBad},
        {"<u@h.d", "<u@h.d>", "<u@h.d>"},  // missing '>' at the end
        {"<<<u@h.d>>>", "<u@h.d>", "<u@h.d>"},
        {"a.b.c@h", "<a.b.c@h>", "<a.b.c@h>"},
        {"\"a b\"@h", "<\"a b\"@h>", "<\"a b\"@h>"},
        {"u%v@h", "<u%v@h>", "<u%v@h>"},
        {"u%v%w@h", "<u%v%w@h>", "<u%v%w@h>"},
        {"u%[1.2.3.4]@h", "<u%[1.2.3.4]@h>", "<u%[1.2.3.4]@h>"},
        {"\"a\"%b@h", "<\"a\"%b@h>", "<\"a\"%b@h>"},
        {"\"a\".\"b\"@h", kBad, kBad},
        {".a@h", kBad, "<.a@h>"},
        {"a..b@h", kBad, "<a..b@h>"},
        {"a.@h", kBad, "<a.@h>"},
        {"a%@h", kBad, "<a%@h>"},
        {"[1.2.3.4]@h", kBad, "<[1.2.3.4]@h>"},
        {"<postmaster>", "<postmaster>", "<postmaster>"},
        {"postmaster", "<postmaster>", "<postmaster>"},
        {"", kBad, "<>"},
        {"   ", kBad, "<>"},
        {"<u@[1.2.3.4]>", "<u@[1.2.3.4]>", "<u@[1.2.3.4]>"},
        {"<u@[ 1.2.3.4 ]>", "<u@[1.2.3.4]>", "<u@[1.2.3.4]>"},
        {"<u@[1.2.3]>", kBad, kBad},
        {"<u@[256.1.1.1]>", kBad, kBad},
        {"<u@a.123>", kBad, kBad},
        {"<u@10.1.2.3>", kBad, kBad},
        {"<u@h.[1.2.3.4]>", kBad, kBad},
        {"<u@h [1.2.3.4]>", kBad, kBad},
        {"<u@h_x.d>", "<u@h_x.d>", "<u@h_x.d>"},
        {"<u@-h.d>", kBad, kBad},
        {"<u@h\"q\">", kBad, kBad},
        {"<u @ h . d>", "<u@h.d>", "<u@h.d>"},
        // Tabs, parentheses and other invalid characters inside the brackets are
        // fatal; before the '<' they are skipped with the command word.
        {"<a\tb@h>", kBad, kBad},
        {"<a(b)@h>", kBad, kBad},
        {"\t(x) <a@h>", "<a@h>", "<a@h>"},
        {"<a@h\t>", kBad, kBad},
        // An error token before the '<' (an unterminated quote) is fatal.
        {"\"x <a@h>", kBad, kBad},
        {"<\"unterminated@h>", kBad, kBad},
        // Bytes 0xA0..0xFF are letters to the tokenizer, 0x80..0x9F are not.
        {"<j\xe9r\xf4me@h.d>", "<j\xe9r\xf4me@h.d>", "<j\xe9r\xf4me@h.d>"},
        {"<a\x85" "b@h.d>", kBad, kBad},
        {"<u@h\xe9.d>", kBad, kBad},
        {"<a,b@h>", kBad, kBad},
        {"<a:b@h>", kBad, kBad},
        {"<@h>", kBad, kBad},
        {">", "<>", "<>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(c.text, 0), c.strict) << "strict: " << c.text;
        EXPECT_EQ(Parse(c.text, 1), c.lenient) << "lenient: " << c.text;
    }
}

TEST(EnvelopeParser, SourceRoutes) {
    S821Parser two("<@r1.x,@r2.y:u@h>", 0);
    S821Address a = two.ExtractAddress();
    EXPECT_FALSE(a.IsBad());
    EXPECT_EQ(Items(a.Route()), "[r1.x][r2.y]");
    EXPECT_EQ(Str(a.LocalPart()), "u");
    EXPECT_EQ(Str(a.Domain()), "h");
    EXPECT_EQ(Str(a.Address()), "<@r1.x,@r2.y:u@h>");

    EXPECT_EQ(Items(S821Parser("<@r1:u@h>", 1).ExtractAddress().Route()), "[r1]");
    EXPECT_EQ(Items(S821Parser("<@[1.2.3.4],@r.:u@h>", 1).ExtractAddress().Route()),
              "[[1.2.3.4]][r]");
    const char* bad[] = {"<@:u@h>", "<@r1,:u@h>", "<@r1,r2:u@h>", "<@r1..x:u@h>",
                         "<@.r1:u@h>", "<@r1 r2:u@h>", "<@r1>", "<@r1;u@h>",
                         "<@r1,@:u@h>"};
    for (const char* text : bad) EXPECT_EQ(Parse(text, 1), kBad) << text;
    // A route without a domain is bad even though the parser accepted its pieces.
    S821Address routeOnly = S821Parser("<@r1:u>", 1).ExtractAddress();
    EXPECT_TRUE(routeOnly.IsBad());
    EXPECT_FALSE(routeOnly.Address().Defined());
}

TEST(EnvelopeParser, ExtractRouteOnItsOwn) {
    S821Parser parser("@a,@b.c:rest", 1);
    EXPECT_EQ(Items(parser._ExtractRoute()), "[a][b.c]");
    EXPECT_EQ(Str(parser.NextToken()), "rest");
    // Without a leading '@' nothing is consumed.
    S821Parser none("u@h", 1);
    EXPECT_FALSE(none._ExtractRoute().Defined());
    EXPECT_EQ(Str(none.NextToken()), "u");
}

TEST(EnvelopeParser, ExtensionsFollowTheAddress) {
    struct {
        const char* text;
        const char* address;
        const char* extensions;
    } cases[] = {
        {"MAIL FROM:<a@b.c> SIZE=100 BODY=8BITMIME", "<a@b.c>", "[SIZE=100][BODY=8BITMIME]"},
        {"<> SIZE=10", "<>", "[SIZE=10]"},
        {"<a@b.c>", "<a@b.c>", ""},
        {"<a@b.c>   ", "<a@b.c>", ""},
        {"<a@b.c>>>  X=1   Y=2 ", "<a@b.c>", "[X=1][Y=2]"},
        {"<postmaster> X", "<postmaster>", "[X]"},
        {"<a@b.c> SIZE=1\r\n", "<a@b.c>", "undef"},
        {"<a@b.c> \tX", "<a@b.c>", "undef"},
        {"<a@b.c> X=\x7f", "<a@b.c>", "undef"},
        {"<a@b.c> caf\xe9", "<a@b.c>", "[caf\xe9]"},
    };
    for (auto& c : cases) {
        S821Parser parser(c.text, 1);
        EXPECT_EQ(Str(parser.ExtractAddress().Address()), c.address) << c.text;
        SStringList ext = parser.Extensions();
        EXPECT_EQ(Items(ext), c.extensions) << c.text;
    }
}

TEST(EnvelopeParser, LocalPartQuotingIsNormalised) {
    const std::pair<const char*, const char*> cases[] = {
        {"<\"abc\"@h.d>", "abc"},
        {"<\"abc def\"@h.d>", "\"abc def\""},
        {"<abc\\ def@h.d>", "\"abc def\""},
        {"<\"a.b\"@h.d>", "a.b"},          // a dot alone never forces quotes
        {"<\"a@b\"@h.d>", "\"a@b\""},
        {"<\"a\\\"b\"@h.d>", "\"a\\\"b\""},  // the quote stays escaped
        {"<\"a\\\\b\"@h.d>", "\"a\\\\b\""},  // and so does the backslash
        {"<\"a\\b\"@h.d>", "ab"},          // a needless escape goes
        {"<\\a\\b@h.d>", "ab"},
        {"<\"\"@h.d>", "\"\""},
        {"<\"a\"%b@h.d>", "\"a\"%b"},      // partly quoted: left alone
        {"<\"caf\xe9\"@h.d>", "caf\xe9"},
        {"<\"a\x01" "b\"@h.d>", "\"a\x01" "b\""},
        {"<plain@h.d>", "plain"},
    };
    for (auto& c : cases) {
        S821Address a = S821Parser(c.first, 1).ExtractAddress();
        EXPECT_FALSE(a.IsBad()) << c.first;
        EXPECT_EQ(Str(a.LocalPart()), c.second) << c.first;
    }
    S821Parser parser("", 1);
    SString local("abc\\\ndef");
    parser._FixLocalPart(local);
    EXPECT_EQ(Str(local), "\"abc\\\ndef\"");
}

TEST(EnvelopeParser, HostileInputsNeverCrashOrRecurseDeeply) {
    // A source route with twenty thousand hops parses without deep recursion.
    std::string route = "<";
    for (int i = 0; i < 20000; ++i) route += "@r,";
    route += "@r:u@h>";
    S821Address a = S821Parser(SString(route.data(), static_cast<int>(route.size())), 1)
                        .ExtractAddress();
    EXPECT_FALSE(a.IsBad());
    EXPECT_EQ(a.Route().Count(), 20001);

    std::string junk(50000, '<');
    junk += std::string(50000, '>');
    EXPECT_EQ(Parse(junk, 1), "<>");
    std::string zeros("<a\0b@h>", 7);
    EXPECT_EQ(Parse(zeros, 1), kBad);
}

}  // namespace
