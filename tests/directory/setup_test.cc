// CreateSpecialAccounts on a scratch installation: the accounts and their attributes,
// locks, templates kept out of the indexes, a second run that changes nothing, the
// "Error-Handler" address repair, and an address already held by another account.
#include <gtest/gtest.h>

#include <map>

#include "AccountTestTools.h"
#include "SIdentifier.h"
#include "Ssetup.h"

using namespace accttest;

namespace {

using Strings = std::vector<std::string>;
using Snapshot = std::map<std::string, std::map<std::string, Strings>>;

// Every attribute of every account, raw (stored password forms included).
Snapshot TakeSnapshot() {
    Snapshot all;
    SAccountDB db;
    db.AccountUIDList().ForEach([&](const SString& uid) {
        SAccount account;
        db.GetAccountInfo(uid, &account);
        account.Values().ForEach([&](const SString& name) {
            all[Str(uid)][Str(name)] = Items(account.Get(name));
        });
    });
    return all;
}

Strings Attr(const char* uid, const char* name) {
    SAccount account;
    SAccountDB().GetAccountInfo(S(uid), &account);
    return Items(account.Get(S(name)));
}

}  // namespace

TEST(SpecialAccounts, CreatedWithTheirAttributes) {
    TestRoot root;
    EXPECT_EQ(CreateSpecialAccounts(S("example.org"), S("example.net")), 1);
    SAccountDB db;
    EXPECT_EQ(Items(db.AccountUIDList()),
              (Strings{"Account-Manager", "Configuration-Manager", "Default", "Default-List",
                       "Error-Handler", "List-Manager"}));
    struct Row {
        const char* uid;
        const char* attribute;
        Strings values;
    };
    const Row rows[] = {
        {"Configuration-Manager", "Name", {"Configuration Manager"}},
        {"Configuration-Manager", "Manager-Delivery", {"Configuration-Manager"}},
        {"Configuration-Manager", "SMTP-Address", {"Configuration@example.net", "Configuration@example.org"}},
        {"Account-Manager", "SMTP-Address",
         {"Accounts@example.net", "Accounts@example.org", "Account@example.org"}},
        {"Account-Manager", "Manager-Delivery", {"Account-Manager"}},
        {"Error-Handler", "Name", {"Error Handler"}},
        {"Error-Handler", "SMTP-Address", {"Error-Handler@example.net", "Error-Handler@example.org"}},
        {"List-Manager", "Handler-Delivery", {"List-Manager"}},
        {"List-Manager", "Name", {"List Manager"}},
        {"List-Manager", "SMTP-Address", {"List.Manager@example.org", "Majordomo@example.org"}},
        {"List-Manager", "SMTP-RewriteStyle", {"comment"}},
        {"List-Manager", "Finger-Access", {"none"}},
        {"List-Manager", "Access-Domains", {"none"}},
        {"Default", "SMTP-RewriteStyle", {"comment"}},
        {"Default-List", "List-Moderation-Method", {"queue-notify"}},
        {"Default-List", "List-Address-Expansion-Style", {"none"}},
        {"Default-List", "List-Priority", {"3"}},
        {"Default-List", "List-Digest-Schedule", {"daily"}},
        {"Default-List", "List-Verify-Subscriptions", {"yes"}},
        {"Default-List", "List-Moderate-Unsubscriptions", {"no"}},
        {"Default-List", "List-Max-Subscribers", {"100"}},
        {"Default-List", "List-Max-Kbytes-Per-Day", {"1000"}},
        {"Default-List", "List-Max-Message-Kbytes", {"500"}},
    };
    for (const Row& row : rows) EXPECT_EQ(Attr(row.uid, row.attribute), row.values) << row.uid << " " << row.attribute;
    SAccount defaults;
    ASSERT_TRUE(db.GetAccountInfo(S("Default-List"), &defaults));
    EXPECT_EQ(defaults.Values().Count(), 19);  // 21 settings, two of them repeated

    // The service accounts are locked and open to no password; the templates are not.
    for (const char* uid : {"Configuration-Manager", "Account-Manager", "Error-Handler", "List-Manager"}) {
        SAccount account;
        ASSERT_TRUE(db.GetAccountInfo(S(uid), &account));
        EXPECT_TRUE(account.IsLocked()) << uid;
        EXPECT_EQ(Attr(uid, "Password").size(), 1u) << uid;
        for (const char* guess : {"", "void", "password", uid}) EXPECT_FALSE(account.VerifyPassword(S(guess)));
    }
    for (const char* uid : {"Default", "Default-List"}) {
        SAccount account;
        ASSERT_TRUE(db.GetAccountInfo(S(uid), &account));
        EXPECT_FALSE(account.IsLocked()) << uid;
    }
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("majordomo@EXAMPLE.org")))), "List-Manager");
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("error-handler@example.net")))), "Error-Handler");
    EXPECT_EQ(db.IndexLookupCount(S("Name"), S("list manager")), 1);
}

TEST(SpecialAccounts, SecondRunChangesNothing) {
    TestRoot root;
    CreateSpecialAccounts(S("example.org"), S("example.net"));
    Snapshot first = TakeSnapshot();
    ASSERT_EQ(first.size(), 6u);
    EXPECT_EQ(CreateSpecialAccounts(S("example.org"), S("example.net")), 1);
    EXPECT_EQ(TakeSnapshot(), first);
    // Other domains on a later run do not touch existing accounts either.
    CreateSpecialAccounts(S("other.example"), S(""));
    EXPECT_EQ(TakeSnapshot(), first);
}

TEST(SpecialAccounts, ErrorHandlerAddressRepair) {
    TestRoot root;
    CreateSpecialAccounts(S("example.org"), S("example.net"));
    const Strings standard{"Error-Handler@example.net", "Error-Handler@example.org"};
    struct Row {
        Strings before;
        Strings after;
    };
    const Row rows[] = {
        {{"Error-Handler@[10.0.0.1]"}, standard},
        {{"e@[10.0.0.1]", "f@[192.168.1.1]"}, standard},
        {{"errors@example.org", "e@[10.0.0.1]"}, {"errors@example.org", "e@[10.0.0.1]"}},
        {{}, standard},
    };
    for (const Row& row : rows) {
        {
            SAccountDBMod db;
            SAccountMod handler;
            ASSERT_TRUE(db.GetAccountInfo(S("Error-Handler"), &handler));
            ASSERT_TRUE(handler.Set(S("SMTP-Address"), List(row.before)));
        }
        CreateSpecialAccounts(S("example.org"), S("example.net"));
        EXPECT_EQ(Attr("Error-Handler", "SMTP-Address"), row.after);
    }
}

TEST(SpecialAccounts, RefusedAddressIsSkipped) {
    TestRoot root;
    {
        SAccountDBMod db;
        SAccountMod squatter;
        ASSERT_TRUE(db.ModifyAccount(S("squatter"), &squatter));
        ASSERT_TRUE(squatter.Set(S("SMTP-Address"), List({"majordomo@example.org"})));
    }
    EXPECT_EQ(CreateSpecialAccounts(S("example.org"), S("example.org")), 1);
    // The list manager exists with everything else; the address stays with its holder.
    EXPECT_EQ(Attr("List-Manager", "SMTP-Address"), Strings{});
    EXPECT_EQ(Attr("List-Manager", "Name"), Strings{"List Manager"});
    EXPECT_EQ(Attr("List-Manager", "Locked"), Strings{"yes"});
    EXPECT_EQ(Str(SAccountDB().GetAccountUID(S821Address(S("majordomo@example.org")))), "squatter");
    // One domain given twice (or an empty second one) gives each address once.
    EXPECT_EQ(Attr("Configuration-Manager", "SMTP-Address"), Strings{"Configuration@example.org"});
}
