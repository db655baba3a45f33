// Channel aliases and local mail domains in a real "MTA-Accounts" store: value names,
// round trips, deletion, a damaged store, and two processes writing under SAliasDBMod.
#include "AccountTestTools.h"
#include "SAliasDB.h"

using namespace accttest;

namespace {

S821Address Address(const char* text) { return S821Address(S(text)); }

}  // namespace

TEST(AliasDB, AliasesAndDomainsRoundTrip) {
    TestRoot root;
    SAliasDB aliases;
    EXPECT_FALSE(aliases.GetChannelAliases(Address("sales@example.org")).Defined());
    EXPECT_FALSE(aliases.GetAliases().Defined());
    EXPECT_FALSE(SAccountDB().GetLocalMailDomains().Defined());
    {
        SAliasDBMod mod;
        ASSERT_TRUE(mod.AddChannelAliases(Address("<Sales@Example.ORG>"),
                                          ListOf({"SMTP <alice@example.org>", "SMTP <bob@example.org>"})));
        ASSERT_TRUE(mod.AddChannelAliases(Address("info@example.org"), ListOf({"SMTP <carol@example.net>"})));
        ASSERT_TRUE(mod.SetLocalMailDomains(ListOf({"example.org", "example.net"})));
    }
    // Names are the lower-cased bracketed form; any spelling of the address finds them.
    EXPECT_EQ(Items(aliases.GetAliases()), (Strings{"<sales@example.org>", "<info@example.org>"}));
    EXPECT_EQ(Items(aliases.GetChannelAliases(Address("SALES@example.org"))),
              (Strings{"SMTP <alice@example.org>", "SMTP <bob@example.org>"}));
    EXPECT_FALSE(aliases.GetChannelAliases(Address("sales@example.net")).Defined());
    EXPECT_EQ(Items(SAccountDB().GetLocalMailDomains()), (Strings{"example.org", "example.net"}));
    {
        SAliasDBMod mod;
        // Replacing keeps one entry.
        ASSERT_TRUE(mod.AddChannelAliases(Address("sales@example.org"), ListOf({"SMTP <dave@example.org>"})));
        EXPECT_TRUE(mod.DeleteChannelAliases(Address("info@EXAMPLE.org")));
        EXPECT_FALSE(mod.DeleteChannelAliases(Address("info@example.org")));
        EXPECT_FALSE(mod.DeleteChannelAliases(Address("never@example.org")));
        ASSERT_TRUE(mod.SetLocalMailDomains(ListOf({"example.net"})));
    }
    EXPECT_EQ(Items(aliases.GetAliases()), Strings{"<sales@example.org>"});
    EXPECT_EQ(Items(aliases.GetChannelAliases(Address("sales@example.org"))),
              Strings{"SMTP <dave@example.org>"});
    EXPECT_EQ(Items(SAccountDB().GetLocalMailDomains()), Strings{"example.net"});
    // A change made by a passing SAliasDBMod still lands.
    SAliasDBMod().AddChannelAliases(Address("x@example.org"), ListOf({"SMTP <y@example.org>"}));
    EXPECT_EQ(Items(aliases.GetChannelAliases(Address("x@example.org"))), Strings{"SMTP <y@example.org>"});
}

TEST(AliasDB, DamagedStoreGivesNothing) {
    TestRoot root;
    WriteFile(root.Config("MTA-Accounts"), std::string(5000, '\x7f'));
    SAliasDB aliases;
    EXPECT_FALSE(aliases.GetChannelAliases(Address("sales@example.org")).Defined());
    EXPECT_FALSE(aliases.GetAliases().Defined());
    EXPECT_FALSE(SAccountDB().GetLocalMailDomains().Defined());
    SAliasDBMod mod;
    EXPECT_FALSE(mod.AddChannelAliases(Address("sales@example.org"), ListOf({"SMTP <a@b.example>"})));
    EXPECT_FALSE(mod.SetLocalMailDomains(ListOf({"example.org"})));
}

// Two processes each add 30 aliases, re-reading the domain list and appending to it
// under the same lock: nothing either of them wrote is lost.
TEST(AliasDB, TwoWritersLoseNothing) {
    TestRoot root;
    std::vector<int> statuses = RaceTwo([](int who) {
        int failures = 0;
        for (int i = 0; i < 30; ++i) {
            SAliasDBMod mod;
            std::string tag = std::to_string(who) + "-" + std::to_string(i);
            failures += !mod.AddChannelAliases(S821Address(S("a" + tag + "@example.org")),
                                               ListOf({"SMTP <t@example.org>"}));
            SStringList domains = SAccountDB().GetLocalMailDomains();
            domains.Push(S("d" + tag + ".example"));
            failures += !mod.SetLocalMailDomains(domains);
        }
        return failures == 0 ? 0 : 1;
    });
    EXPECT_EQ(statuses, (std::vector<int>{0, 0}));
    SAccountBase::CloseDatabases();
    EXPECT_EQ(SAliasDB().GetAliases().Count(), 60);
    EXPECT_EQ(SAccountDB().GetLocalMailDomains().Count(), 60);
}
