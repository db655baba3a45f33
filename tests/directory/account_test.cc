// Accounts on a real object database in a scratch installation: the vocabulary and
// flag table, lookups by address, POP name and name, unique values, passwords and
// locks, templates, remote subscribers, reference cleaning on delete, the free helpers,
// concurrent writers in two processes, and damaged database files.
#include "AccountTestTools.h"

#include <gtest/gtest.h>

#include <map>

#include "SIdentifier.h"

using namespace accttest;

namespace {

// Exposes the protected helpers of the base class.
class Base : public SAccountBase {
public:
    using SAccountBase::_MapAddress;
    using SAccountBase::_MapAttrib;
};

// Creates (or rebinds) an account and sets attributes, each list in one Set.
void Make(const std::string& uid, const std::map<std::string, std::vector<std::string>>& attrs) {
    SAccountDBMod db;
    SAccountMod account;
    ASSERT_TRUE(db.ModifyAccount(S(uid), &account));
    for (const auto& [name, values] : attrs) ASSERT_TRUE(account.Set(S(name), List(values))) << name;
}

std::vector<std::string> Attr(const std::string& uid, const std::string& name) {
    SAccount account;
    SAccountDB().GetAccountInfo(S(uid), &account);
    return Items(account.Get(S(name)));
}

bool Exists(const std::string& uid) { return SAccountDB().GetAccountInfo(S(uid)); }

using Strings = std::vector<std::string>;

}  // namespace

TEST(AccountVocabulary, NamesCodesAndFlags) {
    struct Row {
        int code;
        const char* name;
        int flags;
    };
    // Every indexed attribute with its flags, and a sample of the others.
    const Row rows[] = {
        {0, "Type", 2},
        {1, "Access-Domains", 0},
        {2, "Account-Delivery", 2},
        {5, "Channel-Delivery", 13},
        {13, "Name", 3},
        {14, "POP-Address", 19},
        {15, "Password", 0},
        {17, "SMTP-Address", 21},
        {21, "Locked", 0},
        {23, "Subscribed-Lists", 2},
        {24, "Subscribed-Lists-Immediate", 2},
        {25, "Subscribed-Lists-Digest", 2},
        {26, "List-Owners", 2},
        {38, "List-Name", 19},
        {43, "Remote-SMTP-Address", 21},
        {45, "Raw-Password", 0},
        {53, "Parent-Domains", 33},
        {55, "Managed-Domains", 0},
        {56, "Linked-Manager-Account", 2},
        {57, "Linked-Owner-Account", 2},
        {62, "ProgDel-Password", 0},
        {72, "List-Stats-Mode", 0},
    };
    for (const Row& row : rows) {
        EXPECT_STREQ(apsz_Attribs[row.code], row.name);
        EXPECT_EQ(ai_AttribFlags[row.code], row.flags) << row.name;
        EXPECT_EQ(Base::_MapAttrib(S(row.name)), row.code);
        EXPECT_EQ(Str(Base::_MapAttrib(row.code)), row.name);
    }
    int indexed = 0;
    for (int code = 0; code < AccountAttribCount; ++code) indexed += ai_AttribFlags[code] != 0;
    EXPECT_EQ(indexed, 15);  // exactly the table above with non-zero flags
    EXPECT_EQ(Base::_MapAttrib(S("type")), -1);
    EXPECT_EQ(Base::_MapAttrib(S("SMTP-address")), -1);
    EXPECT_EQ(Base::_MapAttrib(S("")), -1);
    EXPECT_EQ(Str(Base::_MapAttrib(73)), "Invalid-Attribute");
    EXPECT_EQ(Str(Base::_MapAttrib(-1)), "Invalid-Attribute");
    EXPECT_EQ(Str(Base::_MapAddress(S821Address(S("<Alice@Example.ORG>")))), "Alice@Example.ORG");
}

TEST(AccountLookup, AddressesNamesAndDeliveries) {
    TestRoot root;
    Make("alice", {{"SMTP-Address", {"<Alice@Example.ORG>", "a.liddell@example.org"}},
                   {"POP-Address", {"Alice"}},
                   {"Name", {"Alice Liddell"}}});
    Make("bob", {{"SMTP-Address", {"bob@example.org"}},
                 {"Name", {"alice liddell"}},
                 {"Account-Delivery", {"alice"}},
                 {"Channel-Delivery", {"SMTP <Fwd@Remote.example>"}}});
    SAccountDB db;
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("alice@example.org")))), "alice");
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("<ALICE@example.org>")))), "alice");
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("A.Liddell@Example.Org")))), "alice");
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("carol@example.org")))), "");
    EXPECT_EQ(Str(db.GetAccountUID("SMTP", S("Bob@Example.org"))), "bob");
    EXPECT_EQ(Str(db.GetAccountUID("POP", S("bob@example.org"))), "");
    EXPECT_EQ(Str(db.GetAccountUID(SPopName(S("ALICE")))), "alice");
    EXPECT_EQ(Items(db.GetAccountUID(SAccountName(S("ALICE LIDDELL")))), (Strings{"alice", "bob"}));
    EXPECT_EQ(Items(db.GetAccountUID(S("alice"))), Strings{"bob"});
    EXPECT_EQ(Items(db.GetAccountDelUID(S821Address(S("fwd@remote.example")))), Strings{"bob"});
    EXPECT_FALSE(db.GetAccountUID(SGroupName(S("staff"))).Defined());
    EXPECT_EQ(db.AccountUIDCount(), 2);
    EXPECT_EQ(Items(db.AccountUIDList()), (Strings{"alice", "bob"}));
    EXPECT_EQ(Items(db.GetNameList()), Strings{"alice liddell"});
    EXPECT_EQ(db.IndexLookupCount(S("Name"), S("Alice Liddell")), 2);
    EXPECT_EQ(db.IndexListCount(S("SMTP-Address")), 3);
    EXPECT_FALSE(db.IndexLookup(S("No-Such-Attribute"), S("x")).Defined());
    EXPECT_EQ(db.IndexLookupCount(S("No-Such-Attribute"), S("x")), 0);

    SAccount account;
    EXPECT_FALSE(db.GetAccountInfo(S(""), &account));
    EXPECT_FALSE(db.GetAccountInfo(S("carol"), &account));
    EXPECT_TRUE(db.GetAccountInfo(S("alice"), &account));
    EXPECT_EQ(Str(account.GetUID()), "alice");
    EXPECT_EQ(Items(account.Values()), (Strings{"Name", "POP-Address", "SMTP-Address"}));
    EXPECT_EQ(Str(account.GetPrimaryAddress()), "<Alice@Example.ORG>");
    EXPECT_FALSE(account.Get(S("No-Such-Attribute")).Defined());
    EXPECT_FALSE(account.Get(-1).Defined());
    EXPECT_EQ(Items(account[S("Name")]), Strings{"Alice Liddell"});
}

TEST(AccountUnique, RefusedValueKeepsOldValueAndIndex) {
    TestRoot root;
    Make("alice", {{"SMTP-Address", {"alice@example.org"}}, {"POP-Address", {"alice"}},
                   {"List-Name", {"readers"}}, {"Remote-SMTP-Address", {"<a@far.example>"}}});
    Make("bob", {{"SMTP-Address", {"bob@example.org"}}, {"POP-Address", {"bob"}}});
    SAccountDBMod db;
    SAccountMod bob;
    ASSERT_TRUE(db.GetAccountInfo(S("bob"), &bob));
    const std::pair<const char*, const char*> taken[] = {
        {"SMTP-Address", "ALICE@example.org"},
        {"POP-Address", "Alice"},
        {"List-Name", "READERS"},
        {"Remote-SMTP-Address", "a@far.example"},
    };
    for (const auto& [name, value] : taken) {
        Strings before = Items(bob.Get(S(name)));
        EXPECT_FALSE(bob.Set(S(name), List({"bob-extra@example.org", value}))) << name;
        EXPECT_EQ(Items(bob.Get(S(name))), before) << name;
    }
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("bob@example.org")))), "bob");
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("alice@example.org")))), "alice");
    EXPECT_EQ(db.IndexLookupCount(S("SMTP-Address"), S("bob-extra@example.org")), 0);
    EXPECT_EQ(db.IndexLookupCount(S("POP-Address"), S("alice")), 1);
    // Its own current value, and a case variant of it, are accepted.
    EXPECT_TRUE(bob.Set(S("SMTP-Address"), List({"bob@example.org"})));
    EXPECT_TRUE(bob.Set(S("SMTP-Address"), List({"<Bob@Example.org>"})));
    EXPECT_EQ(Items(db.IndexLookup(S("SMTP-Address"), S("bob@example.org"))), Strings{"bob"});
    // A moved address is found at its new owner only.
    SAccountMod alice;
    ASSERT_TRUE(db.GetAccountInfo(S("alice"), &alice));
    ASSERT_TRUE(alice.Set(S("SMTP-Address"), List({"alice2@example.org"})));
    EXPECT_TRUE(bob.Set(S("SMTP-Address"), List({"alice@example.org"})));
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("alice@example.org")))), "bob");
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("bob@example.org")))), "");
}

TEST(AccountNames, UnknownAttributesChangeNothing) {
    TestRoot root;
    Make("alice", {{"Name", {"Alice"}}});
    SAccountDBMod db;
    SAccountMod alice;
    ASSERT_TRUE(db.GetAccountInfo(S("alice"), &alice));
    EXPECT_FALSE(alice.Set(S("Nmae"), List({"x"})));
    EXPECT_FALSE(alice.Set(S("name"), List({"x"})));
    EXPECT_FALSE(alice.Set(-1, List({"x"})));
    EXPECT_FALSE(alice.Delete(S("Nmae")));
    EXPECT_FALSE(alice.Get(S("Nmae")).Defined());
    EXPECT_EQ(Items(alice.Values()), Strings{"Name"});
    EXPECT_EQ(Items(alice.Get(S("Name"))), Strings{"Alice"});
    // An unbound view refuses every change.
    SAccountMod unbound;
    EXPECT_FALSE(unbound.Set(S("Name"), List({"x"})));
    EXPECT_FALSE(unbound.Lock());
    EXPECT_FALSE(db.ModifyAccount(S(""), &unbound));
}

TEST(AccountPasswords, StoredFormsLocksAndVerification) {
    TestRoot root;
    Make("alice", {{"Name", {"Alice"}}});
    SAccountDBMod db;
    SAccountMod alice;
    ASSERT_TRUE(db.GetAccountInfo(S("alice"), &alice));

    // Raw-Password is stored verbatim as Password, never under its own code.
    SString digest = StringCopy(S("rabbit"));
    ASSERT_TRUE(alice.Set(S("Raw-Password"), SStringList(digest)));
    EXPECT_EQ(Items(alice.Get(S("Password"))), Strings{Str(digest)});
    EXPECT_FALSE(alice.Get(S("Raw-Password")).Defined());
    EXPECT_TRUE(alice.VerifyPassword(S("rabbit")));

    // Locking: the password stops working; Password replaces the stored form and unlocks.
    ASSERT_TRUE(alice.Lock());
    EXPECT_EQ(Items(alice.Get(S("Locked"))), Strings{"yes"});
    EXPECT_EQ(Items(alice.Get(S("Password"))), Strings{Str(digest)});  // kept
    EXPECT_TRUE(alice.IsLocked());
    EXPECT_FALSE(alice.VerifyPassword(S("rabbit")));
    ASSERT_TRUE(alice.Set(S("Password"), List({"hatter", "ignored"})));
    EXPECT_FALSE(alice.IsLocked());
    SStringList stored = alice.Get(S("Password"));
    ASSERT_EQ(stored.Count(), 1);
    EXPECT_EQ(stored.Get(0).Length(), 64);
    EXPECT_NE(Str(stored.Get(0)), "hatter");
    EXPECT_TRUE(alice.VerifyPassword(S("hatter")));
    EXPECT_FALSE(alice.VerifyPassword(S("rabbit")));
    EXPECT_FALSE(alice.VerifyPassword(S("ignored")));
    EXPECT_TRUE(alice.Unlock() || !alice.IsLocked());

    // Locking an account without a password gives it a placeholder one.
    Make("bob", {{"Name", {"Bob"}}});
    SAccountMod bob;
    ASSERT_TRUE(db.GetAccountInfo(S("bob"), &bob));
    EXPECT_FALSE(bob.VerifyPassword(S("")));
    ASSERT_TRUE(bob.Lock());
    ASSERT_EQ(bob.Get(S("Password")).Count(), 1);
    EXPECT_EQ(bob.Get(S("Password")).Get(0).Length(), 64);
    for (const char* guess : {"", "void", "lock", "yes", "password"})
        EXPECT_FALSE(bob.VerifyPassword(S(guess))) << guess;
    ASSERT_TRUE(bob.Unlock());
    EXPECT_FALSE(bob.IsLocked());
    EXPECT_FALSE(bob.Unlock());  // nothing left to remove
    EXPECT_FALSE(bob.VerifyPassword(S("")));
}

TEST(AccountPasswords, ProgDelPasswordIsScrambledAtRest) {
    TestRoot root;
    Make("prog", {{"ProgDel-Password", {"s3cret"}}});
    SAccountDBMod db;
    SAccountMod prog;
    ASSERT_TRUE(db.GetAccountInfo(S("prog"), &prog));
    EXPECT_EQ(Items(prog.Get(S("ProgDel-Password"))), Strings{"s3cret"});
    // The record itself holds the scrambled text, as another reader of the raw
    // attribute would see it.
    class Raw : public SAccountBase {
    public:
        static SStringList Get(const SString& uid) { return _odb.GetAttrib(AC_ProgDel_Password, uid); }
    };
    SStringList raw = Raw::Get(S("prog"));
    ASSERT_EQ(raw.Count(), 1);
    EXPECT_EQ(Str(raw.Get(0)), Str(Scramble(S("s3cret"), 0)));
    EXPECT_NE(Str(raw.Get(0)), "s3cret");
    ASSERT_TRUE(prog.Set(S("ProgDel-Password"), List({""})));
    EXPECT_EQ(Items(prog.Get(S("ProgDel-Password"))), Strings{""});
}

TEST(AccountTemplates, ChangesNeverReachTheIndexes) {
    TestRoot root;
    Make("alice", {{"SMTP-Address", {"alice@example.org"}}});
    Make("Default-List", {{"SMTP-Address", {"alice@example.org"}},  // not unique for templates
                          {"List-Name", {"template"}},
                          {"Name", {"List Template"}}});
    Make("Default", {{"POP-Address", {"default"}}});
    SAccountDB db;
    EXPECT_TRUE(db.IndexLookup(S("List-Name"), S("template")).Count() == 0);
    EXPECT_EQ(Items(db.IndexLookup(S("SMTP-Address"), S("alice@example.org"))), Strings{"alice"});
    EXPECT_EQ(db.IndexLookupCount(S("Name"), S("list template")), 0);
    EXPECT_EQ(Str(db.GetAccountUID(SPopName(S("default")))), "");
    EXPECT_EQ(Items(db.AccountUIDList()), (Strings{"Default", "Default-List", "alice"}));
    EXPECT_EQ(Attr("Default-List", "List-Name"), Strings{"template"});
    // A UID that merely starts with "Default" is an ordinary account.
    Make("Defaulted", {{"Name", {"Indexed"}}});
    EXPECT_EQ(Items(db.IndexLookup(S("Name"), S("indexed"))), Strings{"Defaulted"});
}

TEST(AccountRemote, SubscriberWithoutListsDisappears) {
    TestRoot root;
    Make("list", {{"List-Name", {"readers"}}});
    Make("remote", {{"Remote-SMTP-Address", {"<r@far.example>"}}, {"Subscribed-Lists", {"list"}}});
    Make("local", {{"SMTP-Address", {"l@example.org"}}, {"Subscribed-Lists", {"list"}}});
    {
        SAccountDBMod db;
        {
            SAccountMod local;
            ASSERT_TRUE(db.GetAccountInfo(S("local"), &local));
            ASSERT_TRUE(local.Set(S("Subscribed-Lists"), SStringList()));
            EXPECT_EQ(local.GetDeleteFlag(), 0);
        }
        {
            SAccountMod remote;
            ASSERT_TRUE(db.GetAccountInfo(S("remote"), &remote));
            ASSERT_TRUE(remote.Set(S("Subscribed-Lists"), SStringList()));
            EXPECT_EQ(remote.GetDeleteFlag(), 1);
            // Subscribing again before the view goes away keeps the subscriber.
            ASSERT_TRUE(remote.Set(S("Subscribed-Lists"), List({"list"})));
            EXPECT_EQ(remote.GetDeleteFlag(), 0);
            ASSERT_TRUE(remote.Set(S("Subscribed-Lists"), SStringList()));
            EXPECT_TRUE(Exists("remote"));  // still there while the view lives
        }
    }
    EXPECT_FALSE(Exists("remote"));
    EXPECT_TRUE(Exists("local"));
    SAccountDB db;
    EXPECT_EQ(db.IndexLookupCount(S("Remote-SMTP-Address"), S("r@far.example")), 0);
    SAccount remote;
    EXPECT_FALSE(db.GetAccountInfo(S("remote"), &remote));
}

TEST(AccountDelete, ListAccountLeavesNoReference) {
    TestRoot root;
    Make("list-mgr", {{"Name", {"Manager of list"}}});
    Make("list-own", {{"Name", {"Owner of list"}}});
    Make("list", {{"List-Name", {"readers"}}, {"SMTP-Address", {"readers@example.org"}},
                  {"Linked-Manager-Account", {"list-mgr"}},
                  {"Linked-Owner-Account", {"list-own"}}});
    Make("other", {{"List-Name", {"writers"}}});
    Make("alice", {{"Subscribed-Lists", {"list", "other"}},
                   {"Subscribed-Lists-Digest", {"list"}},
                   {"List-Owners", {"x", "list"}}});
    Make("bob", {{"Subscribed-Lists-Immediate", {"list"}},
                 {"Account-Delivery", {"list", "alice", "list"}}});
    Make("far", {{"Remote-SMTP-Address", {"far@remote.example"}}, {"Subscribed-Lists", {"list"}}});
    Make("far2", {{"Remote-SMTP-Address", {"far2@remote.example"}},
                  {"Subscribed-Lists", {"list", "other"}}});
    {
        SAccountDBMod db;
        ASSERT_TRUE(db.DeleteAccount(S("list")));
        EXPECT_FALSE(db.DeleteAccount(S("list")));  // already gone
        EXPECT_FALSE(db.DeleteAccount(S("")));
    }
    for (const char* gone : {"list", "list-mgr", "list-own", "far"}) EXPECT_FALSE(Exists(gone)) << gone;
    for (const char* kept : {"other", "alice", "bob", "far2"}) EXPECT_TRUE(Exists(kept)) << kept;
    EXPECT_EQ(Attr("alice", "Subscribed-Lists"), Strings{"other"});
    EXPECT_EQ(Attr("alice", "Subscribed-Lists-Digest"), Strings{});
    EXPECT_EQ(Attr("alice", "List-Owners"), Strings{"x"});
    EXPECT_EQ(Attr("bob", "Subscribed-Lists-Immediate"), Strings{});
    EXPECT_EQ(Attr("bob", "Account-Delivery"), Strings{"alice"});
    EXPECT_EQ(Attr("far2", "Subscribed-Lists"), Strings{"other"});
    SAccountDB db;
    for (const char* attribute : {"Account-Delivery", "Subscribed-Lists", "Subscribed-Lists-Immediate",
                                  "Subscribed-Lists-Digest", "List-Owners", "Linked-Manager-Account",
                                  "Linked-Owner-Account"})
        EXPECT_EQ(db.IndexLookupCount(S(attribute), S("list")), 0) << attribute;
    EXPECT_EQ(db.IndexLookupCount(S("List-Name"), S("readers")), 0);
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("readers@example.org")))), "");
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("far@remote.example")))), "");
    EXPECT_EQ(db.IndexLookupCount(S("Remote-SMTP-Address"), S("far@remote.example")), 0);
    EXPECT_EQ(Items(db.IndexLookup(S("Subscribed-Lists"), S("other"))), (Strings{"alice", "far2"}));
    EXPECT_EQ(db.AccountUIDCount(), 4);
}

TEST(AccountKinds, ListRemoteAndCounts) {
    TestRoot root;
    for (const char* uid : {"Postmaster", "Configuration-Manager", "Account-Manager", "Error-Handler",
                            "List-Manager", "Default", "Default-List"})
        Make(uid, {});
    Make("u1", {{"SMTP-Address", {"u1@example.org"}}});
    Make("u2", {{"SMTP-Address", {"u2@example.org"}}});
    Make("l1", {{"List-Name", {"one"}}, {"Linked-Manager-Account", {"m1"}},
                {"Linked-Owner-Account", {"o1"}}});
    Make("m1", {});
    Make("o1", {});
    Make("l2", {{"Expanded-Delivery", {"Accounts Subscribed-Lists"}}});
    Make("l3", {{"Manager-List-Name", {"three"}}});
    Make("r1", {{"Remote-SMTP-Address", {"r1@far.example"}}});
    SAccountDB db;
    EXPECT_EQ(db.ListCount(), 1);
    // 15 accounts - 7 special - 1 list name - 1 manager - 1 owner - 1 remote: u1, u2 and
    // the two lists without a "List-Name" (l2, l3) count as users.
    EXPECT_EQ(db.LocalUserCount(), 4);
    SAccount account;
    const std::pair<const char*, std::pair<bool, bool>> kinds[] = {
        {"u1", {false, false}}, {"l1", {true, false}}, {"l2", {true, false}},
        {"l3", {true, false}},  {"r1", {false, true}}};
    for (const auto& [uid, kind] : kinds) {
        ASSERT_TRUE(db.GetAccountInfo(S(uid), &account));
        EXPECT_EQ(account.IsListAcct(), kind.first) << uid;
        EXPECT_EQ(account.IsRemoteAcct(), kind.second) << uid;
    }
    ASSERT_TRUE(db.GetAccountInfo(S("r1"), &account));
    EXPECT_EQ(Str(account.GetPrimaryAddress()), "r1@far.example");
    ASSERT_TRUE(db.GetAccountInfo(S("m1"), &account));
    EXPECT_EQ(Str(account.GetPrimaryAddress()), "");
}

TEST(AccountHelpers, GenerateAccountUID) {
    TestRoot root;
    EXPECT_EQ(Str(GenerateAccountUID(S("John, Smith"))), "John_Smith");
    EXPECT_EQ(Str(GenerateAccountUID(S("a--b  c.d"))), "a_b_c_d");
    EXPECT_EQ(Str(GenerateAccountUID(S("Postmaster"))), "Postmaster1");
    Make("John_Smith", {});
    EXPECT_EQ(Str(GenerateAccountUID(S("John, Smith"))), "John_Smith1");
    Make("John_Smith1", {});
    Make("John_Smith2", {});
    EXPECT_EQ(Str(GenerateAccountUID(S("John Smith"))), "John_Smith3");
    Make("Postmaster1", {});
    EXPECT_EQ(Str(GenerateAccountUID(S("Postmaster"))), "Postmaster2");
}

TEST(AccountHelpers, IsManagedBy) {
    TestRoot root;
    Make("mgr", {{"Managed-Domains", {"example.org"}}});
    Make("idle", {});
    Make("inside", {{"Parent-Domains", {"example.org", "sub.example.org"}}});
    Make("outside", {{"Parent-Domains", {"example.org", "badexample.org"}}});
    Make("orphan", {});
    SAccountDB db;
    struct Row {
        const char* account;
        Strings managers;
        bool managed;
    };
    const Row rows[] = {
        {"inside", {"mgr"}, true},
        {"inside", {"idle"}, false},
        {"inside", {"idle", "mgr"}, true},
        {"inside", {"nobody"}, false},
        {"outside", {"mgr"}, false},
        {"outside", {"idle", "Postmaster"}, true},
        {"orphan", {"mgr"}, true},   // no parent domains: any manager of some domain
        {"orphan", {"idle"}, false},
        {"orphan", {}, false},
    };
    for (const Row& row : rows) {
        SAccount account;
        ASSERT_TRUE(db.GetAccountInfo(S(row.account), &account));
        EXPECT_EQ(account.IsManagedBy(List(row.managers)), row.managed) << row.account;
    }
}

TEST(AccountHelpers, IsPostmasterForwardee) {
    TestRoot root;
    EXPECT_FALSE(IsPostmasterForwardee(S("Postmaster")));  // no such account yet
    EXPECT_FALSE(IsPostmasterForwardee(S("alice")));
    Make("Postmaster", {{"Account-Delivery", {"alice", "root"}}});
    EXPECT_TRUE(IsPostmasterForwardee(S("Postmaster")));
    EXPECT_TRUE(IsPostmasterForwardee(S("alice")));
    EXPECT_TRUE(IsPostmasterForwardee(S("root")));
    EXPECT_FALSE(IsPostmasterForwardee(S("bob")));
    EXPECT_FALSE(IsPostmasterForwardee(S("Alice")));
}

// One creator: the account with the address, or nothing (status 1).  The views are
// destroyed before the caller exits, so the changes are flushed and the lock dropped.
int Claim(const std::string& uid, const std::string& address) {
    SAccountDBMod db;
    {
        SAccountMod account;
        if (!db.ModifyAccount(S(uid), &account)) return 2;
        if (account.Set(S("SMTP-Address"), List({address}))) return 0;
    }
    db.DeleteAccount(S(uid));
    return 1;
}

// Two processes create accounts claiming one address at the same moment; the write
// lock lets exactly one of them have it, and the other backs out completely.
TEST(AccountConcurrency, TwoCreatorsOneAddress) {
    TestRoot root;
    for (int round = 0; round < 4; ++round) {
        std::string address = "shared" + std::to_string(round) + "@example.org";
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        std::vector<pid_t> children;
        for (int who = 0; who < 2; ++who) {
            pid_t pid = ::fork();
            if (pid == 0) {
                char byte;
                ::close(go[1]);
                if (::read(go[0], &byte, 1) < 0) ::_exit(3);
                ::_exit(Claim("claimant" + std::to_string(round) + "_" + std::to_string(who),
                              address));
            }
            children.push_back(pid);
        }
        ::close(go[0]);
        ::close(go[1]);  // both start now
        int winners = 0, losers = 0;
        for (pid_t pid : children) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            ASSERT_TRUE(WIFEXITED(status));
            winners += WEXITSTATUS(status) == 0;
            losers += WEXITSTATUS(status) == 1;
        }
        EXPECT_EQ(winners, 1);
        EXPECT_EQ(losers, 1);
        SAccountDB db;
        SString owner = db.GetAccountUID(S821Address(S(address)));
        EXPECT_EQ(db.IndexLookupCount(S("SMTP-Address"), S(address)), 1);
        EXPECT_TRUE(db.GetAccountInfo(owner));
        EXPECT_EQ(Attr(Str(owner), "SMTP-Address"), Strings{address});
        EXPECT_EQ(db.AccountUIDCount(), round + 1);  // the loser left nothing behind
    }
}

TEST(AccountDamage, GarbageFilesGiveEmptyAnswersAndRefusedWrites) {
    TestRoot root;
    Make("alice", {{"SMTP-Address", {"alice@example.org"}}});
    SAccountBase::CloseDatabases();
    std::string garbage(20000, '\x5a');
    for (size_t i = 0; i < garbage.size(); i += 7) garbage[i] = static_cast<char>(i);
    for (const char* file : {"BTAccounts.a", "BTAccounts.i"}) root.Write(root.Config(file), garbage);
    SAccountDB db;
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("alice@example.org")))), "");
    EXPECT_FALSE(db.GetAccountInfo(S("alice")));
    EXPECT_EQ(db.AccountUIDCount(), 0);
    EXPECT_EQ(db.LocalUserCount(), -SpecialAccountCount);
    SAccount alice;
    EXPECT_FALSE(alice.Get(S("SMTP-Address")).Defined());
    EXPECT_FALSE(alice.VerifyPassword(S("x")));
    {
        SAccountDBMod mod;
        SAccountMod account;
        EXPECT_FALSE(mod.ModifyAccount(S("bob"), &account));
        EXPECT_FALSE(account.Set(S("Name"), List({"Bob"})));
        EXPECT_FALSE(mod.DeleteAccount(S("alice")));
    }
    // The garbage is still there, unchanged: nothing was written over it.
    std::ifstream in(root.Config("BTAccounts.a"), std::ios::binary);
    std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(now, garbage);
}

TEST(AccountDamage, NoDatabaseAtAll) {
    TestRoot root;
    SAccountDB db;
    EXPECT_EQ(db.AccountUIDCount(), 0);
    EXPECT_FALSE(db.AccountUIDList().Count() > 0);
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("a@b.example")))), "");
    EXPECT_FALSE(db.GetLocalMailDomains().Defined());
    EXPECT_FALSE(IsPostmasterForwardee(S("Postmaster")));
}
