// The header parser: address lists as real mail carries them (phrases with quoted
// commas, comments, groups, folded lines, routes, literals, stray brackets, 8-bit
// bytes, empty fields) and where a list stops at a bad address.
#include <gtest/gtest.h>

#include <string>

#include "QbTest.h"
#include "SParser.h"

namespace {

using namespace qbtest;

std::string Addresses(const std::string& text) {
    return Bracketed(S822Parser(S(text)).Addresses());
}

TEST(HeaderParser, AddressLists) {
    const std::pair<const char*, const char*> cases[] = {
        {"Aa Bb <u1@h.d>, \"Bb, A.\" <u2@k.d> (work), u3", "[<u1@h.d>][<u2@k.d>][<u3>]"},
        {"\"Smith, John, Jr., Esq.\" <js@h.d>, x@y.z", "[<js@h.d>][<x@y.z>]"},
        {"a@h.d,,, ,b@k.d,", "[<a@h.d>][<b@k.d>]"}, {"jd@h.d (work (home))", "[<jd@h.d>]"},
        {"(lead) jd@h.d", "[<jd@h.d>]"}, {"<<u@h.d>>", "[<u@h.d>]"}, {"<>", "[<>]"},
        {"Aa <>", "[<>]"}, {"<u@h.d", "[<u@h.d>]"}, {"<u@h.d, v@k.d", "[<u@h.d>][<v@k.d>]"},
        {"<postmaster>, postmaster", "[<postmaster>][<postmaster>]"},
        {"<@r1,@r2:u@h.d>", "[<@r1,@r2:u@h.d>]"}, {"@r1:u@h.d", "[<@r1:u@h.d>]"},
        {"u%v@h.d", "[<u%v@h.d>]"}, {"u@[1.2.3.4]", "[<u@[1.2.3.4]>]"},
        {"<u@[1.2.3.4]>", "[<u@[1.2.3.4]>]"}, {"john.smith@h.d", "[<john.smith@h.d>]"},
        {"john smith@h.d", "[<john.smith@h.d>]"}, {"u@h . d", "[<u@h.d>]"}, {"u@h.d.", "[<u@h.d>]"},
        {"\"abc\"@h.d, \"abc def\"@h.d", "[<abc@h.d>][<\"abc def\"@h.d>]"},
        {"J\xc3\xa9r\xc3\xb4me <j@h.d>", "[<j@h.d>]"},
        // The angle form is not checked as a whole domain, the plain form is.
        {"<u@a.123>", "[<u@a.123>]"}, {"u@a.123", "undef:"}, {"u@[10.0.0.256]", "undef:"},
        // Empty and white-space-only fields hold no address: a defined empty list.
        {"", ""}, {" \t ", ""}, {" , ,", ""}, {"(only a comment)", ""}, {"\r\n", ""},
        // The list stops at the first bad address (0x81 is a control byte).
        {"a@h.d, b@@x, c@k.d", "[<a@h.d>]"}, {"b@@x, c@k.d", "undef:"}, {"u@h.d>", "undef:"},
        {"a@h.d, u@h.d>", "[<a@h.d>]"}, {"Aa [1.2.3.4] <u@h.d>", "undef:"}, {"a@h d", "undef:"},
        {"u@", "undef:"}, {"<u@>", "undef:"}, {"<@:u@h.d>", "undef:"}, {"a;b", "undef:"},
        {"\\x@h.d", "undef:"}, {"x@h.d)", "undef:"}, {"\xc5\x81ukasz <l@h.d>", "undef:"},
        {"\"open <u@h.d>", "undef:"}, {"(open u@h.d", "undef:"},
        // Groups: they do not nest, and a ';' outside a group ends nothing.
        {"undisclosed-recipients:;", ""}, {"Team: ;, x@y.z", "[<x@y.z>]"},
        {"Team: a@h.d, b@k.d;, c@m.d", "[<a@h.d>][<b@k.d>][<c@m.d>]"},
        {"Team: Aa <a@h.d>;", "[<a@h.d>]"}, {"Team: postmaster;", "[<postmaster>]"},
        {"A: x@y.z; B: v@w.x;", "[<x@y.z>][<v@w.x>]"}, {"\"The Team\": a@h.d;", "[<a@h.d>]"},
        {"A: B: x@y.z;;", "undef:"}, {"x@y.z;", "undef:"}, {"x;", "undef:"},
        {"[1.2.3.4]: x@y.z;", "undef:"},
        // Folded lines continue the field.  A line break ends an address; where the
        // next address would start, it ends the list.
        {"a@h.d,\r\n b@k.d,\r\n", "[<a@h.d>][<b@k.d>]"}, {"a@h.d\r\nb@k.d", "[<a@h.d>][<b@k.d>]"},
        {"\r\nb@k.d", ""}, {"a@h.d,\r\nb@k.d", "[<a@h.d>]"}, {"a@h.d\rb", "undef:"},
        {"\"a\r\nb\" <u@h.d>", "undef:"},
    };
    for (auto& c : cases) EXPECT_EQ(Addresses(c.first), c.second) << c.first;
}

TEST(HeaderParser, PhrasesAndComments) {
    // "phrase|comment|local@domain|printed form" of the first address.  Only a comment
    // after the last word counts; a later word clears it.  A fold joins phrase words by
    // one space.
    const std::pair<const char*, const char*> cases[] = {
        {"Aa Bb <u1@h.d>, x", "Aa Bb||u1@h.d|Aa Bb <u1@h.d>"}, {"u3", "||u3@|u3"},
        {"\"Bb, A.\" <u2@k.d> (work)", "\"Bb, A.\"||u2@k.d|\"Bb, A.\" <u2@k.d>"},
        {"jd@h.d (work (home))", "|(work (home))|jd@h.d|jd@h.d (work (home))"},
        {"jd (x) @ h.d", "||jd@h.d|jd@h.d"}, {"jd@h (x) .d", "||jd@h.d|jd@h.d"},
        {"postmaster (admin)", "|(admin)|postmaster@|postmaster (admin)"},
        {"John Q. Public <jqp@h.d>", "John Q.Public||jqp@h.d|John Q.Public <jqp@h.d>"},
        {"Aa <@r1:u@h.d>", "Aa||u@h.d|Aa <@r1:u@h.d>"}, {"<@r2:v@k.d>", "||v@k.d|<@r2:v@k.d>"},
        {"John\r\n Smith <j@h.d>", "John Smith||j@h.d|John Smith <j@h.d>"},
        {"\"Long\r\n Name\" <a@h.d>", "\"Long Name\"||a@h.d|\"Long Name\" <a@h.d>"},
    };
    for (auto& c : cases) {
        S822Address a = S822Parser(c.first).NextAddress();
        EXPECT_EQ(Str(a.Phrase()) + "|" + Str(a.Comment()) + "|" + Str(a.LocalPart()) + "@" +
                      Str(a.Domain()) + "|" + Str(a.Address()),
                  c.second)
            << c.first;
    }
    // After the last address the list reports its end.
    S822Parser parser("Aa <u1@h.d>, u3");
    parser.NextAddress();
    parser.NextAddress();
    EXPECT_TRUE(parser.NextAddress().IsEnd());
}

TEST(HeaderParser, ResetAndReuse) {
    S822Parser parser("Team: a@h.d");
    EXPECT_EQ(Bracketed(parser.Addresses()), "[<a@h.d>]");
    EXPECT_EQ(Bracketed(parser.Get()), "[<a@h.d>]");  // starts again from the top
    parser.Set("b@k.d, c@m.d");
    EXPECT_EQ(Bracketed(parser.Addresses()), "[<b@k.d>][<c@m.d>]");
    // Set and Reset leave no group open from the text before.
    parser.Set("Team: x@y.z");
    parser.NextAddress();
    parser.Set("p;");
    EXPECT_TRUE(parser.NextAddress().IsBad());
}

TEST(HeaderParser, HostileInputsStayBounded) {
    // Thousands of empty groups or nested comments in a row: loops, not recursion.
    std::string groups, many;
    for (int i = 0; i < 100000; ++i) groups += "g:;";
    EXPECT_EQ(Addresses(groups + "a@h.d"), "[<a@h.d>]");
    EXPECT_EQ(Addresses(std::string(100000, '(') + std::string(100000, ')') + " a@h.d"),
              "[<a@h.d>]");
    for (int i = 0; i < 20000; ++i) many += "u@h.d, ";
    EXPECT_EQ(S822Parser(S(many)).Addresses().Count(), 20000);
}

}  // namespace
