// Address objects (validity rules, printed forms, copies between the envelope and
// header forms) and the repair of malformed address texts.
#include <gtest/gtest.h>

#include <string>

#include "QbTest.h"
#include "SIdentifier.h"
#include "SParser.h"

namespace {

using namespace qbtest;

std::string Printed(const SString& s) { return s.Defined() ? Str(s) : "undef"; }

// Flags b(ad), n(ull), v(alid) or '-', then the printed form (which Get must match).
std::string State(const S821Address& a) {
    EXPECT_EQ(Printed(a.Get()), Printed(a.Address()));
    return std::string(a.IsBad() ? "b" : "-") + (a.IsNull() ? "n" : "-") +
           (a.IsValid() ? "v" : "-") + " " + Printed(a.Address());
}

TEST(S821Address, ValidityAndPrintedForms) {
    EXPECT_EQ(State(S821Address()), "-n- <>");
    // The control-field form: "SMTP" before the angle address is skipped.
    const std::pair<const char*, const char*> cases[] = {
        {"<>", "-n- <>"}, {"postmaster", "--v <postmaster>"}, {"<u@h..d>", "b-- undef"},
        {"SMTP<a@h.d>", "--v <a@h.d>"}, {"SMTP<>", "-n- <>"},
    };
    for (auto& c : cases) EXPECT_EQ(State(S821Address(c.first)), c.second) << c.first;
    EXPECT_EQ(Str(S821Address("postmaster").Domain()), "");
    // Parts that do not form an address.  Route without a domain: bad although the
    // flag is clear.
    S821Address a("<u@h.d>");
    a.Domain() = "";
    EXPECT_EQ(State(a), "--v <u>");
    a.Route().Push("r1");
    EXPECT_EQ(State(a), "b-- undef");
    // Domain or route without a local part.
    S821Address b("<u@h.d>"), c;
    b.LocalPart() = "";
    c.Route().Push("r1");
    EXPECT_EQ(State(b), "b-- undef");
    EXPECT_EQ(State(c), "b-- undef");
    // A full route prints with its hops in order.
    S821Address d("<u@h.d>");
    d.Route().Push("r1");
    d.Route().Push("[1.2.3.4]");
    EXPECT_EQ(Str(d.Address()), "<@r1,@[1.2.3.4]:u@h.d>");
}

TEST(S821Address, CopiesAndSet) {
    S821Address a("<@r:u@h.d>"), b(a), c;
    c = a;
    b.LocalPart() = "v";
    EXPECT_EQ(Str(a.Address()) + " " + Str(b.Address()) + " " + Str(c.Address()),
              "<@r:u@h.d> <@r:v@h.d> <@r:u@h.d>");
    c.Set("bad@@");
    EXPECT_TRUE(c.IsBad());
    c.Set("x@y.z");
    EXPECT_EQ(State(c), "--v <x@y.z>");
    EXPECT_EQ(c.Route().Count(), 0);
}

TEST(S822Address, HeaderForms) {
    // A phrase wins over a comment; the null path and routes keep their angle form.
    const struct {
        const char* envelope;
        const char* phrase;
        const char* comment;
        const char* printed;
    } cases[] = {
        {"<u@h.d>", "", "", "u@h.d"}, {"<@r:u@h.d>", "", "", "<@r:u@h.d>"},
        {"<u@h.d>", "Aa Bb", "(c)", "Aa Bb <u@h.d>"}, {"<u@h.d>", "", "(c)", "u@h.d (c)"},
        {"<>", "Nobody", "", "<>"}, {"<u@>", "X", "", "undef"},
    };
    for (auto& c : cases) {
        S822Address a(S821Address(c.envelope)), b;
        EXPECT_TRUE(a.Phrase().Defined() && a.Comment().Defined()) << c.envelope;
        EXPECT_EQ(Str(a.Phrase()) + Str(a.Comment()), "") << c.envelope;
        a.Phrase() = c.phrase;
        a.Comment() = c.comment;
        b = S822Address(a);
        EXPECT_EQ(Printed(b.Address()), c.printed) << c.envelope;
        EXPECT_EQ(Printed(b.Get()), c.printed) << c.envelope;  // Get is virtual
    }
    // The end marker prints as the empty string; assigning an envelope address
    // clears it.
    S822Address end = S822Parser("").NextAddress();
    ASSERT_TRUE(end.IsEnd());
    EXPECT_EQ(Printed(end.Address()), "");
    end = S821Address("<a@b.c>");
    EXPECT_FALSE(end.IsEnd());
    EXPECT_EQ(Str(end.Address()), "a@b.c");
}

TEST(FixBogusAddress, RepairsWhatRealMailCarries) {
    // Whatever comes out is the null path or an address that parses again; rows
    // without an expected text check only that.
    const struct {
        const char* text;
        const char* fixed = nullptr;
    } cases[] = {
        {"", "<>"}, {"@", "<>"}, {"   ", "<>"}, {"<>", "<>"}, {"a@b@c", "<\"a@b\"@c>"},
        {"<<js@h.d>>", "<js@h.d>"}, {"<js@h.d> extra", "<js@h.d>"}, {"js@h.d> extra", "<>"},
        {"Aa Bb <u@h.d>", "<u@h.d>"}, {"\"Bb, A.\" <u@h.d> (work)", "<u@h.d>"},
        {"u @ h.d", "<u@h.d>"}, {"u@h,d", "<u@h.d>"}, {"u@ h. d ", "<u@h.d>"},
        {"u@.h.d.", "<u@h.d>"}, {"u@10.1.2.3", "<u@[10.1.2.3]>"}, {"@r1:u@h.d", "<u@h.d>"},
        {"@r1,@r2: u@h.d", "<u@h.d>"}, {"  <u@h.d>  ", "<u@h.d>"}, {"<u@h.d", "<u@h.d>"},
        {"postmaster", "<postmaster>"}, {"u@", "<u>"}, {"a b@h.d", "<ab@h.d>"},
        {"a(b)@h.d", "<\"a(b)\"@h.d>"}, {"u@h_d", "<u@h_d>"}, {"u@h!d", "<>"}, {"u@h@", "<>"},
        {"Name <u@h.d> <v@k.d>", "<v@k.d>"}, {"\t<u@h.d>\r\n", "<u@h.d>"},
        {"a@b@c@d"}, {"<<<>>>"}, {"x y z"}, {"@@@"}, {"\"@\"@h.d"}, {"u@[1.2.3.4]"},
        {"u@[1.2.3]"}, {"%@%"}, {"<@>"}, {"a\\@b@h.d"},
    };
    for (auto& c : cases) {
        SString fixed = FixBogusAddress(c.text);
        if (c.fixed) {
            EXPECT_EQ(Str(fixed), c.fixed) << c.text;
        }
        if (Str(fixed) == "<>") continue;
        EXPECT_FALSE(S821Address(fixed).IsBad()) << c.text << " -> " << Str(fixed);
        EXPECT_GE(fixed.Length(), 3) << c.text;
    }
}

}  // namespace
