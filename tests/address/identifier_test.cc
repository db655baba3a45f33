// Address objects (validity rules, printed forms, copies between the envelope and
// header forms) and the repair of malformed address texts.
#include <gtest/gtest.h>

#include <string>

#include "SIdentifier.h"
#include "SParser.h"

namespace {

std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

TEST(S821Address, NullPostmasterAndValidity) {
    S821Address none;
    EXPECT_FALSE(none.IsBad());
    EXPECT_TRUE(none.IsNull());
    EXPECT_EQ(Str(none.Address()), "<>");

    S821Address null("<>");
    EXPECT_FALSE(null.IsBad());
    EXPECT_TRUE(null.IsNull());
    EXPECT_FALSE(null.IsValid());
    EXPECT_EQ(Str(null.Get()), "<>");

    S821Address pm("postmaster");
    EXPECT_TRUE(pm.IsValid());
    EXPECT_EQ(Str(pm.Domain()), "");
    EXPECT_EQ(Str(pm.Address()), "<postmaster>");

    S821Address bad("<u@h..d>");
    EXPECT_TRUE(bad.IsBad());
    EXPECT_FALSE(bad.IsValid());
    EXPECT_FALSE(bad.IsNull());
    EXPECT_FALSE(bad.Address().Defined());
    EXPECT_FALSE(bad.Get().Defined());

    // The control-field form: "SMTP" before the angle address is skipped.
    EXPECT_EQ(Str(S821Address("SMTP<a@h.d>").Address()), "<a@h.d>");
    EXPECT_TRUE(S821Address("SMTP<>").IsNull());
}

TEST(S821Address, PartsThatDoNotFormAnAddress) {
    // Route without a domain: bad although the flag is clear.
    S821Address a("<u@h.d>");
    a.Domain() = "";
    EXPECT_FALSE(a.IsBad());
    a.Route().Push("r1");
    EXPECT_TRUE(a.IsBad());
    EXPECT_FALSE(a.IsValid());
    EXPECT_FALSE(a.Address().Defined());
    // Domain or route without a local part.
    S821Address b("<u@h.d>");
    b.LocalPart() = "";
    EXPECT_TRUE(b.IsBad());
    EXPECT_FALSE(b.Address().Defined());
    S821Address c;
    c.Route().Push("r1");
    EXPECT_TRUE(c.IsBad());
    EXPECT_FALSE(c.Address().Defined());
    // A full route prints with its hops in order.
    S821Address d("<u@h.d>");
    d.Route().Push("r1");
    d.Route().Push("[1.2.3.4]");
    EXPECT_EQ(Str(d.Address()), "<@r1,@[1.2.3.4]:u@h.d>");
}

TEST(S821Address, CopiesAndSet) {
    S821Address a("<@r:u@h.d>");
    S821Address b(a);
    S821Address c;
    c = a;
    b.LocalPart() = "v";
    EXPECT_EQ(Str(a.Address()), "<@r:u@h.d>");
    EXPECT_EQ(Str(b.Address()), "<@r:v@h.d>");
    EXPECT_EQ(Str(c.Address()), "<@r:u@h.d>");
    c.Set("bad@@");
    EXPECT_TRUE(c.IsBad());
    c.Set("x@y.z");
    EXPECT_FALSE(c.IsBad());
    EXPECT_EQ(c.Route().Count(), 0);
    EXPECT_EQ(Str(c.Address()), "<x@y.z>");
    EXPECT_EQ(Str(S821Address::_Parse("<\"a b\"@h.d>").LocalPart()), "\"a b\"");
    // The const accessors hand out copies.
    const S821Address& k = a;
    SString local = k.LocalPart();
    local += "zz";
    EXPECT_EQ(Str(a.LocalPart()), "u");
}

TEST(S822Address, HeaderForms) {
    S822Address fromEnvelope(S821Address("<u@h.d>"));
    EXPECT_TRUE(fromEnvelope.Phrase().Defined());
    EXPECT_EQ(Str(fromEnvelope.Phrase()), "");
    EXPECT_EQ(Str(fromEnvelope.Comment()), "");
    EXPECT_EQ(Str(fromEnvelope.Address()), "u@h.d");
    EXPECT_EQ(Str(fromEnvelope.Get()), "u@h.d");  // Get is virtual

    S822Address routed;
    routed = S821Address("<@r:u@h.d>");
    EXPECT_EQ(Str(routed.Address()), "<@r:u@h.d>");

    S822Address named(fromEnvelope);
    named.Phrase() = "Aa Bb";
    named.Comment() = "(ignored with a phrase)";
    EXPECT_EQ(Str(named.Address()), "Aa Bb <u@h.d>");
    named.Phrase() = "";
    EXPECT_EQ(Str(named.Address()), "u@h.d (ignored with a phrase)");

    S822Address copy;
    copy = named;
    EXPECT_EQ(Str(copy.Comment()), "(ignored with a phrase)");
    S822Address null(S821Address("<>"));
    null.Phrase() = "Nobody";
    EXPECT_EQ(Str(null.Address()), "<>");

    S822Address bad(S821Address("<u@>"));
    bad.Phrase() = "X";
    EXPECT_FALSE(bad.Address().Defined());

    S822Parser parser("");
    S822Address end = parser.NextAddress();
    EXPECT_TRUE(end.IsEnd());
    EXPECT_EQ(Str(end.Address()), "");
    // Assigning an envelope address clears the end marker.
    end = S821Address("<a@b.c>");
    EXPECT_FALSE(end.IsEnd());
    EXPECT_EQ(Str(end.Address()), "a@b.c");
}

TEST(FixBogusAddress, RepairsWhatRealMailCarries) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "<>"},
        {"@", "<>"},
        {"   ", "<>"},
        {"<>", "<>"},
        {"a@b@c", "<\"a@b\"@c>"},
        {"<<js@h.d>>", "<js@h.d>"},
        {"<js@h.d> extra", "<js@h.d>"},
        {"js@h.d> extra", "<>"},
        {"Aa Bb <u@h.d>", "<u@h.d>"},
        {"\"Bb, A.\" <u@h.d> (work)", "<u@h.d>"},
        {"u @ h.d", "<u@h.d>"},
        {"u@h,d", "<u@h.d>"},
        {"u@ h. d ", "<u@h.d>"},
        {"u@.h.d.", "<u@h.d>"},
        {"u@10.1.2.3", "<u@[10.1.2.3]>"},
        {"@r1:u@h.d", "<u@h.d>"},
        {"@r1,@r2: u@h.d", "<u@h.d>"},
        {"  <u@h.d>  ", "<u@h.d>"},
        {"<u@h.d", "<u@h.d>"},
        {"postmaster", "<postmaster>"},
        {"u@", "<u>"},
        {"a b@h.d", "<ab@h.d>"},
        {"a(b)@h.d", "<\"a(b)\"@h.d>"},
        {"u@h_d", "<u@h_d>"},
        {"u@h!d", "<>"},
        {"u@h@", "<>"},
        {"Name <u@h.d> <v@k.d>", "<v@k.d>"},
        {"\t<u@h.d>\r\n", "<u@h.d>"},
    };
    for (auto& c : cases) EXPECT_EQ(Str(FixBogusAddress(c.first)), c.second) << c.first;
}

TEST(FixBogusAddress, ResultIsNullOrUsable) {
    const char* inputs[] = {"a@b@c@d", "<<<>>>", "x y z", "@@@", "\"@\"@h.d",
                            "u@[1.2.3.4]", "u@[1.2.3]", "%@%", "<@>", "a\\@b@h.d"};
    for (const char* text : inputs) {
        SString fixed = FixBogusAddress(text);
        if (Str(fixed) == "<>") continue;
        S821Address again(fixed);
        EXPECT_FALSE(again.IsBad()) << text << " -> " << Str(fixed);
        EXPECT_GE(fixed.Length(), 3) << text;
    }
}

}  // namespace
