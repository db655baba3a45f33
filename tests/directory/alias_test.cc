// Channel aliases and local mail domains in a real "MTA-Accounts" store: value names,
// round trips, deletion, a missing or damaged store, and two processes adding aliases
// under SAliasDBMod at once.
#include <gtest/gtest.h>

#include "AccountTestTools.h"
#include "SAliasDB.h"
#include "SIdentifier.h"

using namespace accttest;

namespace {

using Strings = std::vector<std::string>;

S821Address Address(const char* text) { return S821Address(S(text)); }

}  // namespace

TEST(AliasDB, AddFindListDelete) {
    TestRoot root;
    SAliasDB aliases;
    EXPECT_FALSE(aliases.GetChannelAliases(Address("sales@example.org")).Defined());
    EXPECT_FALSE(aliases.GetAliases().Defined());
    {
        SAliasDBMod mod;
        ASSERT_TRUE(mod.AddChannelAliases(Address("<Sales@Example.ORG>"),
                                          List({"SMTP <alice@example.org>", "SMTP <bob@example.org>"})));
        ASSERT_TRUE(mod.AddChannelAliases(Address("info@example.org"), List({"SMTP <carol@example.net>"})));
    }
    // Names are the lower-cased bracketed form; any spelling of the address finds them.
    EXPECT_EQ(Items(aliases.GetAliases()), (Strings{"<sales@example.org>", "<info@example.org>"}));
    EXPECT_EQ(Items(aliases.GetChannelAliases(Address("SALES@example.org"))),
              (Strings{"SMTP <alice@example.org>", "SMTP <bob@example.org>"}));
    EXPECT_FALSE(aliases.GetChannelAliases(Address("sales@example.net")).Defined());
    {
        SAliasDBMod mod;
        // Replacing keeps one entry.
        ASSERT_TRUE(mod.AddChannelAliases(Address("sales@example.org"), List({"SMTP <dave@example.org>"})));
        EXPECT_TRUE(mod.DeleteChannelAliases(Address("info@EXAMPLE.org")));
        EXPECT_FALSE(mod.DeleteChannelAliases(Address("info@example.org")));
        EXPECT_FALSE(mod.DeleteChannelAliases(Address("never@example.org")));
    }
    EXPECT_EQ(Items(aliases.GetAliases()), Strings{"<sales@example.org>"});
    EXPECT_EQ(Items(aliases.GetChannelAliases(Address("sales@example.org"))),
              Strings{"SMTP <dave@example.org>"});
    // Without SAliasDBMod each change locks alone and still lands.
    SAliasDBMod().AddChannelAliases(Address("x@example.org"), List({"SMTP <y@example.org>"}));
    EXPECT_EQ(Items(aliases.GetChannelAliases(Address("x@example.org"))), Strings{"SMTP <y@example.org>"});
}

TEST(AliasDB, LocalMailDomains) {
    TestRoot root;
    SAccountDB db;
    EXPECT_FALSE(db.GetLocalMailDomains().Defined());
    {
        SAliasDBMod mod;
        ASSERT_TRUE(mod.SetLocalMailDomains(List({"example.org", "example.net"})));
    }
    EXPECT_EQ(Items(db.GetLocalMailDomains()), (Strings{"example.org", "example.net"}));
    {
        SAliasDBMod mod;
        ASSERT_TRUE(mod.SetLocalMailDomains(List({"example.net"})));
    }
    EXPECT_EQ(Items(db.GetLocalMailDomains()), Strings{"example.net"});
}

TEST(AliasDB, DamagedStoreGivesNothing) {
    TestRoot root;
    root.Write(root.Config("MTA-Accounts"), std::string(5000, '\x7f'));
    SAliasDB aliases;
    EXPECT_FALSE(aliases.GetChannelAliases(Address("sales@example.org")).Defined());
    EXPECT_FALSE(aliases.GetAliases().Defined());
    EXPECT_FALSE(SAccountDB().GetLocalMailDomains().Defined());
    SAliasDBMod mod;
    EXPECT_FALSE(mod.AddChannelAliases(Address("sales@example.org"), List({"SMTP <a@b.example>"})));
    EXPECT_FALSE(mod.SetLocalMailDomains(List({"example.org"})));
}

// Two processes each add 30 aliases, re-reading the domain list and appending to it
// under the same lock: nothing either of them wrote is lost.
TEST(AliasDB, TwoWritersLoseNothing) {
    TestRoot root;
    std::vector<pid_t> children;
    for (int who = 0; who < 2; ++who) {
        pid_t pid = ::fork();
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < 30; ++i) {
                SAliasDBMod mod;
                std::string name = "a" + std::to_string(who) + "-" + std::to_string(i) + "@example.org";
                failures += !mod.AddChannelAliases(S821Address(S(name)), List({"SMTP <t@example.org>"}));
                SStringList domains = SAccountDB().GetLocalMailDomains();
                domains.Push(S("d" + std::to_string(who) + "-" + std::to_string(i) + ".example"));
                failures += !mod.SetLocalMailDomains(domains);
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    SAccountBase::CloseDatabases();
    EXPECT_EQ(SAliasDB().GetAliases().Count(), 60);
    EXPECT_EQ(SAccountDB().GetLocalMailDomains().Count(), 60);
}
