// The header parser: address lists as real mail carries them (phrases with quoted
// commas, comments, groups, folded lines, routes, literals, stray brackets, 8-bit
// bytes, empty fields) and where a list stops at a bad address.
#include <gtest/gtest.h>

#include <string>

#include "SParser.h"

namespace {

std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

std::string Items(const SStringList& l) {
    if (!l.Defined()) return "undef";
    std::string out;
    l.ForEach([&out](const SString& s) { out += "[" + Str(s) + "]"; });
    return out;
}

std::string Addresses(const std::string& text) {
    S822Parser parser(SString(text.data(), static_cast<int>(text.size())));
    return Items(parser.Addresses());
}

TEST(HeaderParser, AddressLists) {
    const std::pair<const char*, const char*> cases[] = {
        {"Aa Bb <u1@h.d>, \"Bb, A.\" <u2@k.d> (work), u3", "[<u1@h.d>][<u2@k.d>][<u3>]"},
        {"\"Smith, John, Jr., Esq.\" <js@h.d>, x@y.z", "[<js@h.d>][<x@y.z>]"},
        {"a@h.d", "[<a@h.d>]"},
        {"a@h.d,,, ,b@k.d,", "[<a@h.d>][<b@k.d>]"},
        {"jd@h.d (work (home))", "[<jd@h.d>]"},
        {"(lead) jd@h.d", "[<jd@h.d>]"},
        {"<u@h.d>", "[<u@h.d>]"},
        {"<<u@h.d>>", "[<u@h.d>]"},
        {"<>", "[<>]"},
        {"Aa <>", "[<>]"},
        {"<u@h.d", "[<u@h.d>]"},
        {"<u@h.d, v@k.d", "[<u@h.d>][<v@k.d>]"},
        {"<postmaster>, postmaster", "[<postmaster>][<postmaster>]"},
        {"<@r1,@r2:u@h.d>", "[<@r1,@r2:u@h.d>]"},
        {"@r1:u@h.d", "[<@r1:u@h.d>]"},
        {"u%v@h.d", "[<u%v@h.d>]"},
        {"u@[1.2.3.4]", "[<u@[1.2.3.4]>]"},
        {"<u@[1.2.3.4]>", "[<u@[1.2.3.4]>]"},
        {"john.smith@h.d", "[<john.smith@h.d>]"},
        {"john smith@h.d", "[<john.smith@h.d>]"},
        {"u@h . d", "[<u@h.d>]"},
        {"u@h.d.", "[<u@h.d>]"},
        {"\"abc\"@h.d, \"abc def\"@h.d", "[<abc@h.d>][<\"abc def\"@h.d>]"},
        {"J\xc3\xa9r\xc3\xb4me <j@h.d>", "[<j@h.d>]"},
        // The angle form is not checked as a whole domain, the plain form is.
        {"<u@a.123>", "[<u@a.123>]"},
        {"u@a.123", "undef"},
        {"u@[10.0.0.256]", "undef"},
        // Empty and white-space-only fields hold no address: a defined empty list.
        {"", ""},
        {" \t ", ""},
        {" , ,", ""},
        {"(only a comment)", ""},
        {"\r\n", ""},
        // The list stops at the first bad address.
        {"a@h.d, b@@x, c@k.d", "[<a@h.d>]"},
        {"b@@x, c@k.d", "undef"},
        {"u@h.d>", "undef"},
        {"a@h.d, u@h.d>", "[<a@h.d>]"},
        {"Aa [1.2.3.4] <u@h.d>", "undef"},
        {"a@h d", "undef"},
        {"u@", "undef"},
        {"<u@>", "undef"},
        {"<@:u@h.d>", "undef"},
        {"a;b", "undef"},
        {"\\x@h.d", "undef"},
        {"x@h.d)", "undef"},
        {"\xc5\x81ukasz <l@h.d>", "undef"},  // 0x81 is a control byte
        {"\"open <u@h.d>", "undef"},
        {"(open u@h.d", "undef"},
    };
    for (auto& c : cases) EXPECT_EQ(Addresses(c.first), c.second) << c.first;
}

TEST(HeaderParser, PhrasesCommentsAndParts) {
    S822Parser parser("Aa Bb <u1@h.d>, \"Bb, A.\" <u2@k.d> (work), u3");
    S822Address a = parser.NextAddress();
    EXPECT_EQ(Str(a.Phrase()), "Aa Bb");
    EXPECT_EQ(Str(a.LocalPart()), "u1");
    EXPECT_EQ(Str(a.Domain()), "h.d");
    EXPECT_EQ(Str(a.Address()), "Aa Bb <u1@h.d>");
    S822Address b = parser.NextAddress();
    EXPECT_EQ(Str(b.Phrase()), "\"Bb, A.\"");
    EXPECT_EQ(Str(b.Address()), "\"Bb, A.\" <u2@k.d>");
    S822Address c = parser.NextAddress();
    EXPECT_EQ(Str(c.Phrase()), "");
    EXPECT_EQ(Str(c.LocalPart()), "u3");
    EXPECT_EQ(Str(c.Domain()), "");
    EXPECT_EQ(Str(c.Address()), "u3");
    S822Address end = parser.NextAddress();
    EXPECT_TRUE(end.IsEnd());
    EXPECT_TRUE(end.Address().Defined());
    EXPECT_EQ(Str(end.Address()), "");

    S822Parser commented("jd@h.d (work (home))");
    S822Address d = commented.NextAddress();
    EXPECT_EQ(Str(d.Comment()), "(work (home))");
    EXPECT_EQ(Str(d.Address()), "jd@h.d (work (home))");
    // Only a comment after the last word counts; a later word clears it.
    S822Parser early("jd (x) @ h.d");
    EXPECT_EQ(Str(early.NextAddress().Comment()), "");
    S822Parser cleared("jd@h (x) .d");
    EXPECT_EQ(Str(cleared.NextAddress().Comment()), "");
    S822Parser bare("postmaster (admin)");
    EXPECT_EQ(Str(bare.NextAddress().Address()), "postmaster (admin)");

    S822Parser initials("John Q. Public <jqp@h.d>");
    EXPECT_EQ(Str(initials.NextAddress().Phrase()), "John Q.Public");
    S822Parser routed("Aa <@r1:u@h.d>, <@r2:v@k.d>");
    EXPECT_EQ(Str(routed.NextAddress().Address()), "Aa <@r1:u@h.d>");
    EXPECT_EQ(Str(routed.NextAddress().Address()), "<@r2:v@k.d>");
}

TEST(HeaderParser, Groups) {
    const std::pair<const char*, const char*> cases[] = {
        {"Team: a@h.d, b@k.d;", "[<a@h.d>][<b@k.d>]"},
        {"Team:;", ""},
        {"undisclosed-recipients:;", ""},
        {"Team: ;, x@y.z", "[<x@y.z>]"},
        {"Team: a@h.d, b@k.d;, c@m.d", "[<a@h.d>][<b@k.d>][<c@m.d>]"},
        {"Team: Aa <a@h.d>;", "[<a@h.d>]"},
        {"Team: postmaster;", "[<postmaster>]"},
        {"A: x@y.z; B: v@w.x;", "[<x@y.z>][<v@w.x>]"},
        {"\"The Team\": a@h.d;", "[<a@h.d>]"},
        // Groups do not nest, and a ';' outside a group ends nothing.
        {"A: B: x@y.z;;", "undef"},
        {"x@y.z;", "undef"},
        {"x;", "undef"},
        {"[1.2.3.4]: x@y.z;", "undef"},
    };
    for (auto& c : cases) EXPECT_EQ(Addresses(c.first), c.second) << c.first;
}

TEST(HeaderParser, FoldedAndBrokenLines) {
    const std::pair<const char*, const char*> cases[] = {
        {"a@h.d,\r\n\tb@k.d", "[<a@h.d>][<b@k.d>]"},
        {"a@h.d,\r\n b@k.d,\r\n", "[<a@h.d>][<b@k.d>]"},
        {"\"Long\r\n Name\" <a@h.d>", "[<a@h.d>]"},
        {"a@h.d\r\nb@k.d", "[<a@h.d>][<b@k.d>]"},
        {"\r\nb@k.d", ""},
        {"a@h.d,\r\nb@k.d", "[<a@h.d>]"},
        {"a@h.d\rb", "undef"},
        {"\"a\r\nb\" <u@h.d>", "undef"},
    };
    for (auto& c : cases) EXPECT_EQ(Addresses(c.first), c.second) << c.first;
    // A fold after a word ends it: two words, joined by one space in the phrase.
    S822Parser folded("John\r\n Smith <j@h.d>");
    EXPECT_EQ(Str(folded.NextAddress().Phrase()), "John Smith");
    S822Parser quoted("\"Long\r\n Name\" <a@h.d>");
    EXPECT_EQ(Str(quoted.NextAddress().Phrase()), "\"Long Name\"");
}

TEST(HeaderParser, ResetAndReuse) {
    S822Parser parser("Team: a@h.d");
    EXPECT_EQ(Items(parser.Addresses()), "[<a@h.d>]");
    EXPECT_EQ(Items(parser.Get()), "[<a@h.d>]");
    parser.Set("b@k.d, c@m.d");
    EXPECT_EQ(Items(parser.Addresses()), "[<b@k.d>][<c@m.d>]");
    // Set and Reset leave no group open from the text before.
    parser.Set("Team: x@y.z");
    parser.NextAddress();
    parser.Set("p;");
    EXPECT_TRUE(parser.NextAddress().IsBad());
}

TEST(HeaderParser, HostileInputsStayBounded) {
    // Thousands of empty groups in a row: a loop, not a recursion per group.
    std::string groups;
    for (int i = 0; i < 100000; ++i) groups += "g:;";
    groups += "a@h.d";
    EXPECT_EQ(Addresses(groups), "[<a@h.d>]");
    std::string nested(100000, '(');
    nested += std::string(100000, ')') + " a@h.d";
    EXPECT_EQ(Addresses(nested), "[<a@h.d>]");
    std::string many;
    for (int i = 0; i < 20000; ++i) many += "u@h.d, ";
    S822Parser parser(SString(many.data(), static_cast<int>(many.size())));
    EXPECT_EQ(parser.Addresses().Count(), 20000);
}

}  // namespace
