// Accounts on a real object database in a scratch installation: the stored vocabulary,
// lookups, refused changes, passwords and locks, templates, remote subscribers, reference
// cleaning on delete, the free helpers, two creating processes and damaged files.
#include <algorithm>

#include "AccountTestTools.h"
#include "Ssecurity.h"

using namespace accttest;

namespace {

// Reaches the protected address form and the raw stored values.
class Base : public SAccountBase {
public:
    using SAccountBase::_MapAddress;
    static SStringList Raw(int code, const std::string& uid) { return _odb.GetAttrib(code, S(uid)); }
};

}  // namespace

// The codes and flags are what the files hold: a change here breaks existing databases.
TEST(AccountVocabulary, NamesCodesAndFlags) {
    struct Row { int code; const char* name; int flags; };
    const Row rows[] = {  // every indexed attribute, and a sample of the others
        {0, "Type", 2}, {1, "Access-Domains", 0}, {2, "Account-Delivery", 2}, {5, "Channel-Delivery", 13},
        {13, "Name", 3}, {14, "POP-Address", 19}, {15, "Password", 0}, {17, "SMTP-Address", 21},
        {21, "Locked", 0}, {23, "Subscribed-Lists", 2}, {24, "Subscribed-Lists-Immediate", 2},
        {25, "Subscribed-Lists-Digest", 2}, {26, "List-Owners", 2}, {38, "List-Name", 19},
        {43, "Remote-SMTP-Address", 21}, {45, "Raw-Password", 0}, {53, "Parent-Domains", 33},
        {55, "Managed-Domains", 0}, {56, "Linked-Manager-Account", 2}, {57, "Linked-Owner-Account", 2},
        {62, "ProgDel-Password", 0}, {72, "List-Stats-Mode", 0}};
    for (const Row& row : rows) {
        EXPECT_STREQ(apsz_Attribs[row.code], row.name);
        EXPECT_EQ(ai_AttribFlags[row.code], row.flags) << row.name;
        EXPECT_EQ(SAccountBase::AttribCode(S(row.name)), row.code);
        EXPECT_EQ(Str(SAccountBase::AttribName(row.code)), row.name);
    }
    int indexed = 0;
    for (int code = 0; code < AccountAttribCount; ++code) indexed += ai_AttribFlags[code] != 0;
    EXPECT_EQ(indexed, 15);  // exactly the rows above with non-zero flags
    for (const char* unknown : {"type", "SMTP-address", ""})
        EXPECT_EQ(SAccountBase::AttribCode(S(unknown)), -1) << unknown;
    for (int code : {73, -1}) EXPECT_EQ(Str(SAccountBase::AttribName(code)), "Invalid-Attribute");
    EXPECT_EQ(Str(Base::_MapAddress(S821Address(S("<Alice@Example.ORG>")))), "Alice@Example.ORG");
}

TEST(AccountLookup, AddressesNamesAndDeliveries) {
    TestRoot root;
    Make("alice", {{"SMTP-Address", {"<Alice@Example.ORG>", "a.liddell@example.org"}},
                   {"POP-Address", {"Alice"}}, {"Name", {"Alice Liddell"}}});
    Make("bob", {{"SMTP-Address", {"bob@example.org"}}, {"Name", {"alice liddell"}},
                 {"Account-Delivery", {"alice"}}, {"Channel-Delivery", {"SMTP <Fwd@Remote.example>"}}});
    for (const auto& [address, uid] : std::map<std::string, std::string>{
             {"alice@example.org", "alice"}, {"<ALICE@example.org>", "alice"},
             {"A.Liddell@Example.Org", "alice"}, {"carol@example.org", ""}})
        EXPECT_EQ(OwnerOf(address), uid) << address;
    SAccountDB db;
    EXPECT_EQ(Str(db.GetAccountUID("SMTP", S("Bob@Example.org"))), "bob");
    EXPECT_EQ(Str(db.GetAccountUID("POP", S("bob@example.org"))), "");
    EXPECT_EQ(Str(db.GetAccountUID(SPopName(S("ALICE")))), "alice");
    EXPECT_EQ(Items(db.GetAccountUID(SAccountName(S("ALICE LIDDELL")))), (Strings{"alice", "bob"}));
    EXPECT_EQ(Items(db.GetAccountUID(S("alice"))), Strings{"bob"});
    EXPECT_EQ(Items(db.GetAccountDelUID(S821Address(S("fwd@remote.example")))), Strings{"bob"});
    EXPECT_FALSE(db.GetAccountUID(SGroupName(S("staff"))).Defined());
    EXPECT_EQ(Items(db.AccountUIDList()), (Strings{"alice", "bob"}));
    EXPECT_EQ(db.AccountUIDCount(), 2);
    EXPECT_EQ(Items(db.GetNameList()), Strings{"alice liddell"});
    EXPECT_EQ(db.IndexLookupCount(S("Name"), S("Alice Liddell")), 2);
    EXPECT_EQ(db.IndexListCount(S("SMTP-Address")), 3);
    EXPECT_FALSE(db.IndexLookup(S("No-Such-Attribute"), S("x")).Defined());
    EXPECT_EQ(db.IndexLookupCount(S("No-Such-Attribute"), S("x")), 0);
    SAccount account;
    EXPECT_FALSE(db.GetAccountInfo(S(""), &account) || db.GetAccountInfo(S("carol"), &account));
    ASSERT_TRUE(db.GetAccountInfo(S("alice"), &account));
    EXPECT_EQ(Items(account.Values()), (Strings{"Name", "POP-Address", "SMTP-Address"}));
    EXPECT_EQ(Str(account.GetPrimaryAddress()), "<Alice@Example.ORG>");
    EXPECT_FALSE(account.Get(S("No-Such-Attribute")).Defined() || account.Get(-1).Defined());
}

// A refused change, for a taken unique value or an unknown name, leaves the account
// and the indexes as they were.
TEST(AccountChanges, RefusedValuesKeepOldValueAndIndex) {
    TestRoot root;
    Make("alice", {{"SMTP-Address", {"alice@example.org"}}, {"POP-Address", {"alice"}},
                   {"List-Name", {"readers"}}, {"Remote-SMTP-Address", {"<a@far.example>"}}});
    Make("bob", {{"SMTP-Address", {"bob@example.org"}}, {"POP-Address", {"bob"}}, {"Name", {"Bob"}}});
    SAccountDBMod db;
    SAccountMod alice, bob, unbound;
    ASSERT_TRUE(db.GetAccountInfo(S("bob"), &bob) && db.GetAccountInfo(S("alice"), &alice));
    for (const auto& [name, value] : std::map<std::string, std::string>{
             {"SMTP-Address", "ALICE@example.org"}, {"POP-Address", "Alice"},
             {"List-Name", "READERS"}, {"Remote-SMTP-Address", "a@far.example"}}) {
        Strings before = Items(bob.Get(S(name)));
        EXPECT_FALSE(bob.Set(S(name), ListOf({"bob-extra@example.org", value}))) << name;
        EXPECT_EQ(Items(bob.Get(S(name))), before) << name;
    }
    EXPECT_EQ(OwnerOf("bob@example.org"), "bob");
    EXPECT_EQ(OwnerOf("alice@example.org"), "alice");
    EXPECT_EQ(db.IndexLookupCount(S("SMTP-Address"), S("bob-extra@example.org")), 0);
    EXPECT_EQ(db.IndexLookupCount(S("POP-Address"), S("alice")), 1);
    for (const char* name : {"Nmae", "name"}) EXPECT_FALSE(bob.Set(S(name), ListOf({"x"}))) << name;
    EXPECT_FALSE(bob.Set(-1, ListOf({"x"})) || bob.Delete(S("Nmae")) || bob.Get(S("Nmae")).Defined());
    EXPECT_EQ(Items(bob.Values()), (Strings{"Name", "POP-Address", "SMTP-Address"}));
    EXPECT_EQ(Items(bob.Get(S("Name"))), Strings{"Bob"});
    EXPECT_FALSE(unbound.Set(S("Name"), ListOf({"x"})) || unbound.Lock());  // an unbound view changes nothing
    EXPECT_FALSE(db.ModifyAccount(S(""), &unbound));
    // Its own current value, and a case variant of it, are accepted.
    EXPECT_TRUE(bob.Set(S("SMTP-Address"), ListOf({"bob@example.org"})));
    EXPECT_TRUE(bob.Set(S("SMTP-Address"), ListOf({"<Bob@Example.org>"})));
    EXPECT_EQ(Items(db.IndexLookup(S("SMTP-Address"), S("bob@example.org"))), Strings{"bob"});
    // A moved address is found at its new owner only.
    ASSERT_TRUE(alice.Set(S("SMTP-Address"), ListOf({"alice2@example.org"})));
    EXPECT_TRUE(bob.Set(S("SMTP-Address"), ListOf({"alice@example.org"})));
    EXPECT_EQ(OwnerOf("alice@example.org"), "bob");
    EXPECT_EQ(OwnerOf("bob@example.org"), "");
}

TEST(AccountPasswords, StoredFormsLocksAndVerification) {
    TestRoot root;
    for (const char* uid : {"alice", "bob"}) Make(uid, {{"Name", {uid}}});
    Make("prog", {{"ProgDel-Password", {"s3cret"}}});
    SAccountDBMod db;
    SAccountMod alice, bob, prog;
    ASSERT_TRUE(db.GetAccountInfo(S("alice"), &alice) && db.GetAccountInfo(S("bob"), &bob) &&
                db.GetAccountInfo(S("prog"), &prog));
    // Raw-Password is stored verbatim as Password, never under its own code.
    SString digest = StringCopy(S("rabbit"));
    ASSERT_TRUE(alice.Set(S("Raw-Password"), SStringList(digest)));
    EXPECT_EQ(Items(alice.Get(S("Password"))), Strings{Str(digest)});
    EXPECT_FALSE(alice.Get(S("Raw-Password")).Defined());
    EXPECT_TRUE(alice.VerifyPassword(S("rabbit")));
    // Locking keeps the stored form but stops it working; Password replaces it and unlocks.
    ASSERT_TRUE(alice.Lock());
    EXPECT_TRUE(alice.IsLocked());
    EXPECT_EQ(Items(alice.Get(S("Locked"))), Strings{"yes"});
    EXPECT_EQ(Items(alice.Get(S("Password"))), Strings{Str(digest)});
    EXPECT_FALSE(alice.VerifyPassword(S("rabbit")));
    ASSERT_TRUE(alice.Set(S("Password"), ListOf({"hatter", "ignored"})));
    EXPECT_FALSE(alice.IsLocked());
    Strings stored = Items(alice.Get(S("Password")));
    EXPECT_TRUE(stored.size() == 1 && stored[0].size() == 64) << stored.size();
    EXPECT_TRUE(alice.VerifyPassword(S("hatter")));
    EXPECT_FALSE(alice.VerifyPassword(S("rabbit")) || alice.VerifyPassword(S("ignored")));
    // Locking an account without a password gives it a placeholder one nothing matches.
    EXPECT_FALSE(bob.VerifyPassword(S("")));
    ASSERT_TRUE(bob.Lock());
    stored = Items(bob.Get(S("Password")));
    EXPECT_TRUE(stored.size() == 1 && stored[0].size() == 64) << stored.size();
    for (const char* guess : {"", "void", "lock", "yes", "password"})
        EXPECT_FALSE(bob.VerifyPassword(S(guess))) << guess;
    ASSERT_TRUE(bob.Unlock());
    EXPECT_FALSE(bob.IsLocked() || bob.Unlock() || bob.VerifyPassword(S("")));  // nothing left to remove
    // A program password reads back clear but is held scrambled in the record.
    EXPECT_EQ(Items(prog.Get(S("ProgDel-Password"))), Strings{"s3cret"});
    EXPECT_EQ(Items(Base::Raw(AC_ProgDel_Password, "prog")), Strings{Str(Scramble(S("s3cret"), 0))});
    EXPECT_NE(Str(Scramble(S("s3cret"), 0)), "s3cret");
    ASSERT_TRUE(prog.Set(S("ProgDel-Password"), ListOf({""})));
    EXPECT_EQ(Items(prog.Get(S("ProgDel-Password"))), Strings{""});
}

TEST(AccountTemplates, ChangesNeverReachTheIndexes) {
    TestRoot root;
    Make("alice", {{"SMTP-Address", {"alice@example.org"}}});
    Make("Default-List", {{"SMTP-Address", {"alice@example.org"}},  // not unique for templates
                          {"List-Name", {"template"}}, {"Name", {"List Template"}}});
    Make("Default", {{"POP-Address", {"default"}}});
    Make("Defaulted", {{"Name", {"Indexed"}}});  // only starts with "Default": ordinary
    SAccountDB db;
    EXPECT_EQ(db.IndexLookupCount(S("List-Name"), S("template")), 0);
    EXPECT_EQ(Items(db.IndexLookup(S("SMTP-Address"), S("alice@example.org"))), Strings{"alice"});
    EXPECT_EQ(db.IndexLookupCount(S("Name"), S("list template")), 0);
    EXPECT_EQ(Str(db.GetAccountUID(SPopName(S("default")))), "");
    EXPECT_EQ(Items(db.AccountUIDList()), (Strings{"Default", "Default-List", "Defaulted", "alice"}));
    EXPECT_EQ(Attr("Default-List", "List-Name"), Strings{"template"});
    EXPECT_EQ(Items(db.IndexLookup(S("Name"), S("indexed"))), Strings{"Defaulted"});
}

TEST(AccountRemote, SubscriberWithoutListsDisappears) {
    TestRoot root;
    Make("list", {{"List-Name", {"readers"}}});
    Make("remote", {{"Remote-SMTP-Address", {"<r@far.example>"}}, {"Subscribed-Lists", {"list"}}});
    Make("local", {{"SMTP-Address", {"l@example.org"}}, {"Subscribed-Lists", {"list"}}});
    {
        SAccountDBMod db;
        SAccountMod local, remote;
        ASSERT_TRUE(db.GetAccountInfo(S("local"), &local) && db.GetAccountInfo(S("remote"), &remote));
        ASSERT_TRUE(local.Set(S("Subscribed-Lists"), SStringList()));
        EXPECT_EQ(local.GetDeleteFlag(), 0);
        ASSERT_TRUE(remote.Set(S("Subscribed-Lists"), SStringList()));
        EXPECT_EQ(remote.GetDeleteFlag(), 1);
        // Subscribing again before the view goes away keeps the subscriber.
        ASSERT_TRUE(remote.Set(S("Subscribed-Lists"), ListOf({"list"})));
        EXPECT_EQ(remote.GetDeleteFlag(), 0);
        ASSERT_TRUE(remote.Set(S("Subscribed-Lists"), SStringList()));
        EXPECT_TRUE(Exists("remote"));  // still there while the view lives
    }
    EXPECT_FALSE(Exists("remote"));
    EXPECT_TRUE(Exists("local"));
    EXPECT_EQ(SAccountDB().IndexLookupCount(S("Remote-SMTP-Address"), S("r@far.example")), 0);
}

TEST(AccountDelete, ListAccountLeavesNoReference) {
    TestRoot root;
    Make("list", {{"List-Name", {"readers"}}, {"SMTP-Address", {"readers@example.org"}},
                  {"Linked-Manager-Account", {"list-mgr"}}, {"Linked-Owner-Account", {"list-own"}}});
    Make("list-mgr");
    Make("list-own");
    Make("other", {{"List-Name", {"writers"}}});
    Make("alice", {{"Subscribed-Lists", {"list", "other"}}, {"Subscribed-Lists-Digest", {"list"}},
                   {"List-Owners", {"x", "list"}}});
    Make("bob", {{"Subscribed-Lists-Immediate", {"list"}}, {"Account-Delivery", {"list", "alice", "list"}}});
    Make("far", {{"Remote-SMTP-Address", {"far@remote.example"}}, {"Subscribed-Lists", {"list"}}});
    Make("far2", {{"Remote-SMTP-Address", {"far2@remote.example"}}, {"Subscribed-Lists", {"list", "other"}}});
    {
        SAccountDBMod db;
        ASSERT_TRUE(db.DeleteAccount(S("list")));
        EXPECT_FALSE(db.DeleteAccount(S("list")) || db.DeleteAccount(S("")));  // already gone; no UID
    }
    for (const char* gone : {"list", "list-mgr", "list-own", "far"}) EXPECT_FALSE(Exists(gone)) << gone;
    for (const char* kept : {"other", "alice", "bob", "far2"}) EXPECT_TRUE(Exists(kept)) << kept;
    const std::pair<const char*, const char*> left[] = {
        {"alice", "Subscribed-Lists"}, {"alice", "Subscribed-Lists-Digest"}, {"alice", "List-Owners"},
        {"bob", "Subscribed-Lists-Immediate"}, {"bob", "Account-Delivery"}, {"far2", "Subscribed-Lists"}};
    const Strings expected[] = {{"other"}, {}, {"x"}, {}, {"alice"}, {"other"}};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Attr(left[i].first, left[i].second), expected[i]) << left[i].second;
    SAccountDB db;
    for (const char* attribute : {"Account-Delivery", "Subscribed-Lists", "Subscribed-Lists-Immediate",
                                  "Subscribed-Lists-Digest", "List-Owners", "Linked-Manager-Account",
                                  "Linked-Owner-Account"})
        EXPECT_EQ(db.IndexLookupCount(S(attribute), S("list")), 0) << attribute;
    EXPECT_EQ(db.IndexLookupCount(S("List-Name"), S("readers")), 0);
    EXPECT_EQ(db.IndexLookupCount(S("Remote-SMTP-Address"), S("far@remote.example")), 0);
    EXPECT_EQ(OwnerOf("readers@example.org") + OwnerOf("far@remote.example"), "");
    EXPECT_EQ(Items(db.IndexLookup(S("Subscribed-Lists"), S("other"))), (Strings{"alice", "far2"}));
    EXPECT_EQ(db.AccountUIDCount(), 4);
}

TEST(AccountKinds, ListRemoteAndCounts) {
    TestRoot root;
    for (const char* uid : {"Postmaster", "Configuration-Manager", "Account-Manager", "Error-Handler",
                            "List-Manager", "Default", "Default-List", "m1", "o1"})
        Make(uid);
    Make("u1", {{"SMTP-Address", {"u1@example.org"}}});
    Make("u2", {{"SMTP-Address", {"u2@example.org"}}});
    Make("l1", {{"List-Name", {"one"}}, {"Linked-Manager-Account", {"m1"}},
                {"Linked-Owner-Account", {"o1"}}});
    Make("l2", {{"Expanded-Delivery", {"Accounts Subscribed-Lists"}}});
    Make("l3", {{"Manager-List-Name", {"three"}}});
    Make("r1", {{"Remote-SMTP-Address", {"r1@far.example"}}});
    SAccountDB db;
    EXPECT_EQ(db.ListCount(), 1);
    // 15 accounts - 7 special - 1 list name - 1 manager - 1 owner - 1 remote: u1, u2 and
    // the two lists without a "List-Name" (l2, l3) count as users.
    EXPECT_EQ(db.LocalUserCount(), 4);
    struct Row { const char* uid; bool list, remote; const char* primary; };
    for (const Row& row : {Row{"u1", false, false, "u1@example.org"}, Row{"l1", true, false, ""},
                           Row{"l2", true, false, ""}, Row{"l3", true, false, ""},
                           Row{"r1", false, true, "r1@far.example"}, Row{"m1", false, false, ""}}) {
        SAccount account;
        ASSERT_TRUE(db.GetAccountInfo(S(row.uid), &account));
        EXPECT_EQ(account.IsListAcct(), row.list) << row.uid;
        EXPECT_EQ(account.IsRemoteAcct(), row.remote) << row.uid;
        EXPECT_EQ(Str(account.GetPrimaryAddress()), row.primary) << row.uid;
    }
}

TEST(AccountHelpers, GenerateAccountUID) {
    TestRoot root;
    EXPECT_EQ(Str(GenerateAccountUID(S("Postmaster"))), "Postmaster1");  // taken even before it exists
    EXPECT_EQ(Str(GenerateAccountUID(S("John, Smith"))), "John_Smith");
    for (const char* uid : {"John_Smith", "John_Smith1", "John_Smith2", "Postmaster1"}) Make(uid);
    const std::pair<const char*, const char*> rows[] = {
        {"a--b  c.d", "a_b_c_d"}, {"John, Smith", "John_Smith3"}, {"John Smith", "John_Smith3"},
        {"Postmaster", "Postmaster2"}};
    for (const auto& [base, uid] : rows) EXPECT_EQ(Str(GenerateAccountUID(S(base))), uid) << base;
}

TEST(AccountHelpers, IsManagedByAndPostmasterForwardee) {
    TestRoot root;
    // No "Postmaster" account yet: nobody forwards for it.
    EXPECT_FALSE(IsPostmasterForwardee(S("Postmaster")) || IsPostmasterForwardee(S("alice")));
    Make("Postmaster", {{"Account-Delivery", {"alice", "root"}}});
    for (const char* uid : {"Postmaster", "alice", "root"}) EXPECT_TRUE(IsPostmasterForwardee(S(uid))) << uid;
    for (const char* uid : {"bob", "Alice"}) EXPECT_FALSE(IsPostmasterForwardee(S(uid))) << uid;

    Make("mgr", {{"Managed-Domains", {"example.org"}}});
    Make("idle");
    Make("orphan");
    Make("inside", {{"Parent-Domains", {"example.org", "sub.example.org"}}});
    Make("outside", {{"Parent-Domains", {"example.org", "badexample.org"}}});
    struct Row { const char* account; Strings managers; bool managed; };
    const Row rows[] = {
        {"inside", {"mgr"}, true}, {"inside", {"idle"}, false}, {"inside", {"idle", "mgr"}, true},
        {"inside", {"nobody"}, false}, {"outside", {"mgr"}, false}, {"outside", {"idle", "Postmaster"}, true},
        {"orphan", {"mgr"}, true},  // no parent domains: any manager of some domain
        {"orphan", {"idle"}, false}, {"orphan", {}, false}};
    for (const Row& row : rows) {
        SAccount account;
        ASSERT_TRUE(SAccountDB().GetAccountInfo(S(row.account), &account));
        EXPECT_EQ(account.IsManagedBy(ListOf(row.managers)), row.managed) << row.account;
    }
}

// Two processes create accounts claiming one address at the same moment; the write
// lock lets exactly one of them have it, and the other backs out completely.
TEST(AccountConcurrency, TwoCreatorsOneAddress) {
    TestRoot root;
    for (int round = 0; round < 4; ++round) {
        std::string address = "shared" + std::to_string(round) + "@example.org";
        std::vector<int> statuses = RaceTwo([&](int who) {
            SString uid = S("claimant" + std::to_string(round) + "_" + std::to_string(who));
            SAccountDBMod db;
            {  // the view goes before the database: changes flushed, lock still held
                SAccountMod account;
                if (!db.ModifyAccount(uid, &account)) return 2;
                if (account.Set(S("SMTP-Address"), ListOf({address}))) return 0;
            }
            db.DeleteAccount(uid);
            return 1;
        });
        std::sort(statuses.begin(), statuses.end());
        EXPECT_EQ(statuses, (std::vector<int>{0, 1}));
        std::string owner = OwnerOf(address);
        EXPECT_EQ(SAccountDB().IndexLookupCount(S("SMTP-Address"), S(address)), 1);
        EXPECT_EQ(Attr(owner, "SMTP-Address"), Strings{address});
        EXPECT_EQ(SAccountDB().AccountUIDCount(), round + 1);  // the loser left nothing behind
    }
}

TEST(AccountDamage, MissingOrGarbageFilesGiveEmptyAnswersAndRefusedWrites) {
    TestRoot root;
    SAccountDB db;
    EXPECT_EQ(db.AccountUIDCount(), 0);  // no database at all yet
    EXPECT_FALSE(db.AccountUIDList().Count() > 0 || db.GetLocalMailDomains().Defined());
    EXPECT_EQ(OwnerOf("a@b.example"), "");
    EXPECT_FALSE(IsPostmasterForwardee(S("Postmaster")));

    Make("alice", {{"SMTP-Address", {"alice@example.org"}}});
    SAccountBase::CloseDatabases();
    std::string garbage(20000, '\x5a');
    for (size_t i = 0; i < garbage.size(); i += 7) garbage[i] = static_cast<char>(i);
    for (const char* file : {"BTAccounts.a", "BTAccounts.i"}) WriteFile(root.Config(file), garbage);
    EXPECT_EQ(OwnerOf("alice@example.org"), "");
    EXPECT_FALSE(Exists("alice"));
    EXPECT_EQ(db.AccountUIDCount(), 0);
    EXPECT_EQ(db.LocalUserCount(), -SpecialAccountCount);
    SAccount alice;
    EXPECT_FALSE(alice.Get(S("SMTP-Address")).Defined() || alice.VerifyPassword(S("x")));
    {
        SAccountDBMod mod;
        SAccountMod account;
        EXPECT_FALSE(mod.ModifyAccount(S("bob"), &account));
        EXPECT_FALSE(account.Set(S("Name"), ListOf({"Bob"})) || mod.DeleteAccount(S("alice")));
    }
    EXPECT_EQ(ReadFile(root.Config("BTAccounts.a")), garbage);  // nothing written over it
}
