// The envelope parser: SMTP command arguments in strict and lenient mode, source
// routes, the null path, ESMTP parameters after the address, quoting of local parts
// and the malformed forms real clients send.
#include <gtest/gtest.h>

#include <string>

#include "QbTest.h"
#include "SParser.h"

namespace {

using namespace qbtest;

constexpr const char* kBad = "BAD";

// The printed form, or "BAD" when the address is bad.
std::string Parse(const std::string& text, unsigned lenient) {
    S821Address a = S821Parser(S(text), lenient).ExtractAddress();
    return a.IsBad() ? kBad : Str(a.Address());
}

TEST(EnvelopeParser, StrictAndLenientForms) {
    // The lenient result is the strict one unless given.
    const struct {
        const char* text;
        const char* strict;
        const char* lenient = nullptr;
    } cases[] = {
        {"<>", "<>"}, {"<<>>", "<>"}, {">", "<>"}, {"<u@h.d>", "<u@h.d>"},
        {"user@host", "<user@host>"}, {"user@host.", "<user@host>"}, {"user@", kBad},
        {"user@.host", kBad}, {"user@host..com", kBad}, {"<u@h@i>", kBad}, {"<@h>", kBad},
        {"<u@h.d", "<u@h.d>"}, {"<<<u@h.d>>>", "<u@h.d>"}, {"<u @ h . d>", "<u@h.d>"},
        {"a.b.c@h", "<a.b.c@h>"}, {"\"a b\"@h", "<\"a b\"@h>"}, {"\"a\".\"b\"@h", kBad},
        {"u%v@h", "<u%v@h>"}, {"u%v%w@h", "<u%v%w@h>"}, {"\"a\"%b@h", "<\"a\"%b@h>"},
        {"u%[1.2.3.4]@h", "<u%[1.2.3.4]@h>"}, {"<a,b@h>", kBad}, {"<a:b@h>", kBad},
        {".a@h", kBad, "<.a@h>"}, {"a..b@h", kBad, "<a..b@h>"}, {"a.@h", kBad, "<a.@h>"},
        {"a%@h", kBad, "<a%@h>"}, {"[1.2.3.4]@h", kBad, "<[1.2.3.4]@h>"},
        {"<postmaster>", "<postmaster>"}, {"postmaster", "<postmaster>"}, {"", kBad, "<>"},
        {"   ", kBad, "<>"}, {"<u@[1.2.3.4]>", "<u@[1.2.3.4]>"}, {"<u@10.1.2.3>", kBad},
        {"<u@[ 1.2.3.4 ]>", "<u@[1.2.3.4]>"}, {"<u@[256.1.1.1]>", kBad}, {"<u@-h.d>", kBad},
        {"<u@h.[1.2.3.4]>", kBad}, {"<u@h [1.2.3.4]>", kBad}, {"<u@h_x.d>", "<u@h_x.d>"},
        {"<u@h\"q\">", kBad},
        // Source routes; one without a domain is bad although its pieces parsed.
        {"<@r1:u@h>", "<@r1:u@h>"}, {"<@[1.2.3.4],@r.:u@h>", "<@[1.2.3.4],@r:u@h>"},
        {"<@:u@h>", kBad}, {"<@r1,:u@h>", kBad}, {"<@r1,r2:u@h>", kBad}, {"<@r1..x:u@h>", kBad},
        {"<@.r1:u@h>", kBad}, {"<@r1 r2:u@h>", kBad}, {"<@r1>", kBad}, {"<@r1;u@h>", kBad},
        {"<@r1,@:u@h>", kBad}, {"<@r1:u>", kBad},
        // Tabs, parentheses and other invalid characters inside the brackets are
        // fatal; before the '<' they are skipped with the command word.  An error
        // token before the '<' (an unterminated quote) is fatal.
        {"<a\tb@h>", kBad}, {"<a(b)@h>", kBad}, {"<a@h\t>", kBad}, {"\t(x) <a@h>", "<a@h>"},
        {"\"x <a@h>", kBad}, {"<\"unterminated@h>", kBad},
        // Bytes 0xA0..0xFF are letters to the tokenizer, 0x80..0x9F are not.
        {"<j\xe9r\xf4me@h.d>", "<j\xe9r\xf4me@h.d>"}, {"<a\x85" "b@h.d>", kBad},
        {"<u@h\xe9.d>", kBad},
    };
    for (auto& c : cases) {
        EXPECT_EQ(Parse(c.text, 0), c.strict) << "strict: " << c.text;
        EXPECT_EQ(Parse(c.text, 1), c.lenient ? c.lenient : c.strict) << "lenient: " << c.text;
    }
}

TEST(EnvelopeParser, SourceRoutes) {
    S821Address a = S821Parser("<@r1.x,@r2.y:u@h>", 0).ExtractAddress();
    EXPECT_FALSE(a.IsBad());
    EXPECT_EQ(Bracketed(a.Route()), "[r1.x][r2.y]");
    EXPECT_EQ(Str(a.LocalPart()), "u");
    EXPECT_EQ(Str(a.Domain()), "h");
    EXPECT_EQ(Str(a.Address()), "<@r1.x,@r2.y:u@h>");
    EXPECT_FALSE(S821Parser("<@r1:u>", 1).ExtractAddress().Address().Defined());

    S821Parser parser("@a,@b.c:rest", 1);
    EXPECT_EQ(Bracketed(parser._ExtractRoute()), "[a][b.c]");
    EXPECT_EQ(Str(parser.NextToken()), "rest");
    // Without a leading '@' nothing is consumed.
    S821Parser none("u@h", 1);
    EXPECT_FALSE(none._ExtractRoute().Defined());
    EXPECT_EQ(Str(none.NextToken()), "u");
}

TEST(EnvelopeParser, ExtensionsFollowTheAddress) {
    // A control character after the address leaves the parameters undefined.
    const struct {
        const char* text;
        const char* address;
        const char* extensions;
    } cases[] = {
        {"MAIL FROM:<a@b.c> SIZE=100 BODY=8BITMIME", "<a@b.c>", "[SIZE=100][BODY=8BITMIME]"},
        {"<> SIZE=10", "<>", "[SIZE=10]"}, {"<a@b.c>", "<a@b.c>", ""},
        {"<a@b.c>   ", "<a@b.c>", ""}, {"<a@b.c>>>  X=1   Y=2 ", "<a@b.c>", "[X=1][Y=2]"},
        {"<postmaster> X", "<postmaster>", "[X]"}, {"<a@b.c> caf\xe9", "<a@b.c>", "[caf\xe9]"},
        {"<a@b.c> SIZE=1\r\n", "<a@b.c>", "undef:"}, {"<a@b.c> \tX", "<a@b.c>", "undef:"},
        {"<a@b.c> X=\x7f", "<a@b.c>", "undef:"},
    };
    for (auto& c : cases) {
        S821Parser parser(c.text, 1);
        EXPECT_EQ(Str(parser.ExtractAddress().Address()), c.address) << c.text;
        EXPECT_EQ(Bracketed(parser.Extensions()), c.extensions) << c.text;
    }
}

TEST(EnvelopeParser, LocalPartQuotingIsNormalised) {
    // A dot alone never forces quotes; an escaped quote or backslash stays escaped, a
    // needless escape goes; a partly quoted local part is left alone.
    const std::pair<const char*, const char*> cases[] = {
        {"<\"abc\"@h.d>", "abc"}, {"<\"abc def\"@h.d>", "\"abc def\""},
        {"<abc\\ def@h.d>", "\"abc def\""}, {"<\"a.b\"@h.d>", "a.b"}, {"<\"a@b\"@h.d>", "\"a@b\""},
        {"<\"a\\\"b\"@h.d>", "\"a\\\"b\""}, {"<\"a\\\\b\"@h.d>", "\"a\\\\b\""},
        {"<\"a\\b\"@h.d>", "ab"}, {"<\\a\\b@h.d>", "ab"}, {"<\"\"@h.d>", "\"\""},
        {"<\"a\"%b@h.d>", "\"a\"%b"}, {"<\"caf\xe9\"@h.d>", "caf\xe9"},
        {"<\"a\x01" "b\"@h.d>", "\"a\x01" "b\""}, {"<plain@h.d>", "plain"},
    };
    for (auto& c : cases) {
        S821Address a = S821Parser(c.first, 1).ExtractAddress();
        EXPECT_FALSE(a.IsBad()) << c.first;
        EXPECT_EQ(Str(a.LocalPart()), c.second) << c.first;
    }
    SString local("abc\\\ndef");
    S821Parser("", 1)._FixLocalPart(local);
    EXPECT_EQ(Str(local), "\"abc\\\ndef\"");
}

TEST(EnvelopeParser, HostileInputsNeverCrashOrRecurseDeeply) {
    // A source route with twenty thousand hops parses without deep recursion.
    std::string route = "<";
    for (int i = 0; i < 20000; ++i) route += "@r,";
    S821Address a = S821Parser(S(route + "@r:u@h>"), 1).ExtractAddress();
    EXPECT_FALSE(a.IsBad());
    EXPECT_EQ(a.Route().Count(), 20001);
    EXPECT_EQ(Parse(std::string(50000, '<') + std::string(50000, '>'), 1), "<>");
    EXPECT_EQ(Parse(std::string("<a\0b@h>", 7), 1), kBad);
}

}  // namespace
