// CreateSpecialAccounts on a scratch installation: the accounts and their attributes,
// locks, templates kept out of the indexes, a second run that changes nothing, the
// "Error-Handler" address repair, and an address already held by another account.
#include "AccountTestTools.h"
#include "Ssetup.h"

using namespace accttest;

namespace {

// Every attribute of every account, raw (stored password forms included).
std::map<std::string, std::map<std::string, Strings>> Snapshot() {
    std::map<std::string, std::map<std::string, Strings>> all;
    SAccountDB db;
    for (const std::string& uid : Items(db.AccountUIDList())) {
        SAccount account;
        db.GetAccountInfo(S(uid), &account);
        for (const std::string& name : Items(account.Values())) all[uid][name] = Items(account.Get(S(name)));
    }
    return all;
}

}  // namespace

// A second run, even with other domains, changes nothing that exists.
TEST(SpecialAccounts, CreatedOnceWithTheirAttributes) {
    TestRoot root;
    EXPECT_EQ(CreateSpecialAccounts(S("example.org"), S("example.net")), 1);
    auto all = Snapshot();
    Strings uids;
    for (const auto& entry : all) uids.push_back(entry.first);
    EXPECT_EQ(uids, (Strings{"Account-Manager", "Configuration-Manager", "Default", "Default-List",
                             "Error-Handler", "List-Manager"}));
    const std::map<std::string, std::map<std::string, Strings>> expected = {
        {"Configuration-Manager",
         {{"Name", {"Configuration Manager"}}, {"Manager-Delivery", {"Configuration-Manager"}},
          {"SMTP-Address", {"Configuration@example.net", "Configuration@example.org"}}}},
        {"Account-Manager",
         {{"SMTP-Address", {"Accounts@example.net", "Accounts@example.org", "Account@example.org"}},
          {"Manager-Delivery", {"Account-Manager"}}}},
        {"Error-Handler",
         {{"Name", {"Error Handler"}},
          {"SMTP-Address", {"Error-Handler@example.net", "Error-Handler@example.org"}}}},
        {"List-Manager",
         {{"Handler-Delivery", {"List-Manager"}}, {"Name", {"List Manager"}},
          {"SMTP-Address", {"List.Manager@example.org", "Majordomo@example.org"}},
          {"SMTP-RewriteStyle", {"comment"}}, {"Finger-Access", {"none"}}, {"Access-Domains", {"none"}}}},
        {"Default", {{"SMTP-RewriteStyle", {"comment"}}}},
        {"Default-List",
         {{"List-Moderation-Method", {"queue-notify"}}, {"List-Address-Expansion-Style", {"none"}},
          {"List-Priority", {"3"}}, {"List-Digest-Schedule", {"daily"}},
          {"List-Verify-Subscriptions", {"yes"}}, {"List-Moderate-Unsubscriptions", {"no"}},
          {"List-Max-Subscribers", {"100"}},
          {"List-Max-Kbytes-Per-Day", {"1000"}}, {"List-Max-Message-Kbytes", {"500"}}}}};
    for (const auto& [uid, attributes] : expected)
        for (const auto& [name, values] : attributes) EXPECT_EQ(all[uid][name], values) << uid << " " << name;
    EXPECT_EQ(all["Default-List"].size(), 19u);  // 21 settings, two of them repeated
    // The service accounts are locked and open to no password; the templates are not.
    for (const std::string& uid : uids) {
        SAccount account;
        ASSERT_TRUE(SAccountDB().GetAccountInfo(S(uid), &account));
        bool service = uid.rfind("Default", 0) != 0;
        EXPECT_EQ(account.IsLocked(), service) << uid;
        EXPECT_EQ(all[uid]["Password"].size(), service ? 1u : 0u) << uid;
        for (const std::string& guess : {std::string(), std::string("void"), std::string("password"), uid})
            EXPECT_FALSE(account.VerifyPassword(S(guess))) << uid;
    }
    EXPECT_EQ(OwnerOf("majordomo@EXAMPLE.org"), "List-Manager");
    EXPECT_EQ(OwnerOf("error-handler@example.net"), "Error-Handler");
    EXPECT_EQ(SAccountDB().IndexLookupCount(S("Name"), S("list manager")), 1);

    all = Snapshot();  // afresh: the lookups above added empty entries
    EXPECT_EQ(CreateSpecialAccounts(S("example.org"), S("example.net")), 1);
    EXPECT_EQ(Snapshot(), all);
    CreateSpecialAccounts(S("other.example"), S(""));
    EXPECT_EQ(Snapshot(), all);
}

TEST(SpecialAccounts, ErrorHandlerAddressRepair) {
    TestRoot root;
    CreateSpecialAccounts(S("example.org"), S("example.net"));
    const Strings standard{"Error-Handler@example.net", "Error-Handler@example.org"};
    const std::pair<Strings, Strings> rows[] = {
        {{"Error-Handler@[10.0.0.1]"}, standard}, {{"e@[10.0.0.1]", "f@[192.168.1.1]"}, standard},
        {{"errors@example.org", "e@[10.0.0.1]"}, {"errors@example.org", "e@[10.0.0.1]"}}, {{}, standard}};
    for (const auto& [before, after] : rows) {
        Make("Error-Handler", {{"SMTP-Address", before}});
        CreateSpecialAccounts(S("example.org"), S("example.net"));
        EXPECT_EQ(Attr("Error-Handler", "SMTP-Address"), after);
    }
}

TEST(SpecialAccounts, RefusedAddressIsSkipped) {
    TestRoot root;
    Make("squatter", {{"SMTP-Address", {"majordomo@example.org"}}});
    EXPECT_EQ(CreateSpecialAccounts(S("example.org"), S("example.org")), 1);
    // The list manager exists with everything else; the address stays with its holder.
    EXPECT_EQ(Attr("List-Manager", "SMTP-Address"), Strings{});
    EXPECT_EQ(Attr("List-Manager", "Name"), Strings{"List Manager"});
    EXPECT_EQ(Attr("List-Manager", "Locked"), Strings{"yes"});
    EXPECT_EQ(OwnerOf("majordomo@example.org"), "squatter");
    // One domain given twice gives each address once.
    EXPECT_EQ(Attr("Configuration-Manager", "SMTP-Address"), Strings{"Configuration@example.org"});
}
