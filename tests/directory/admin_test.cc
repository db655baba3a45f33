// quillbox-admin driven as an operator would: the real program run in a scratch
// installation, its output and exit status checked, and the database it leaves behind
// read back through the library.  Covers help and usage errors, a whole session, JSON
// reports (judged by Python's strict reader), refusals that must change nothing, a
// missing or damaged installation, two programs claiming one address, deleting a list.
#include <algorithm>

#include "AccountTestTools.h"

using namespace accttest;

namespace {

// Splits a command line at blanks; 'single quotes' keep blanks inside an argument.
Strings Words(const std::string& line) {
    Strings words{""};
    bool quoted = false, started = false;
    for (char c : line) {
        if (c == ' ' && !quoted) {
            if (started) words.emplace_back();
            started = false;
            continue;
        }
        if (c == '\'') quoted = !quoted;
        else words.back() += c;
        started = true;
    }
    if (!started) words.pop_back();
    return words;
}

// Runs the program under this process's "Quillbox"; the account files are closed
// afterwards, so the next read here sees what the program wrote.
RunResult Admin(const std::string& line, const std::string& input = "") {
    Strings argv = Words(line);
    argv.insert(argv.begin(), QB_ADMIN_PROGRAM);
    RunResult result = RunProgram(argv, input);
    SAccountBase::CloseDatabases();
    return result;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// One JSON document and a line feed, as Python's strict reader sees it (NaN refused too).
bool IsJson(const std::string& text) {
    const char* check = "import json,sys\njson.loads(sys.stdin.read(), parse_constant=lambda c: 1/0)";
    return !text.empty() && text.back() == '\n' &&
           RunProgram({"/usr/bin/python3", "-I", "-S", "-c", check}, text).status == 0;
}

bool VerifyPassword(const std::string& uid, const std::string& password) {
    SAccount account;
    return SAccountDB().GetAccountInfo(S(uid), &account) && account.VerifyPassword(S(password));
}

// An installation with two domains, alice (with a password) and bob.
void SetUpInstallation() {
    ASSERT_EQ(Admin("init --domain example.org --alias-domain example.net").status, 0);
    ASSERT_EQ(Admin("account add alice --address alice@example.org --name 'Alice Liddell' --password-stdin",
                    "rabbit\n").status, 0);
    ASSERT_EQ(Admin("account add bob --address bob@example.org").status, 0);
}

}  // namespace

TEST(AdminCli, HelpAndUsageErrors) {
    TestRoot root;
    RunResult help = Admin("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"init --domain", "account add UID", "account show", "account set",
                                "account delete", "account lock", "account unlock", "account list",
                                "account find", "alias add", "alias list", "alias delete", "domain add",
                                "domain delete", "domain list"})
        EXPECT_TRUE(Has(help.out, command)) << command;
    for (const char* line : {"init --help", "account add --help", "account set -h", "alias delete --help",
                             "domain list --help"}) {
        RunResult r = Admin(line);
        EXPECT_EQ(r.status, 0) << line;
        EXPECT_TRUE(Has(r.out, "usage: quillbox-admin " + Words(line)[0])) << r.out;
    }
    const std::pair<const char*, const char*> rows[] = {
        {"", "usage"}, {"frobnicate", "unknown command 'frobnicate'"}, {"init", "init needs --domain"},
        {"account", "'account' needs a command"},
        {"account rename alice", "unknown command 'account rename'"},
        {"account show", "missing arguments"}, {"account show a b", "too many arguments"},
        {"account add alice --address", "--address needs a value"},
        {"account add alice --password secret", "unknown option --password"},
        {"account add alice --name A --name B", "--name given twice"},
        {"account list --json=yes", "--json takes no value"}};
    for (const auto& [line, message] : rows) {
        RunResult r = Admin(line);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_TRUE(Has(r.err, message) && Has(r.err, "quillbox-admin")) << r.err;
    }
}

TEST(AdminCli, OperatorSession) {
    TestRoot root;
    std::string home = root.Path("site");
    ::setenv("Quillbox", home.c_str(), 1);  // the root restores it
    RunResult init = Admin("init --domain example.org --alias-domain example.net --host mail.example.org "
                           "--password-stdin", "postmaster-secret\n");
    ASSERT_EQ(init.status, 0) << init.err;
    EXPECT_TRUE(Has(init.out, "Installation ready at " + home));
    for (const char* dir : {"config", "control", "messages", "deferred", "listdata", "mailboxes"})
        EXPECT_TRUE(std::filesystem::is_directory(home + "/" + dir)) << dir;
    EXPECT_TRUE(std::filesystem::is_regular_file(home + "/config/environment"));
    EXPECT_EQ(Admin("domain list").out, "example.org\nexample.net\nmail.example.org\n3 local mail domains\n");

    ASSERT_EQ(Admin("account add alice --address <Alice@Example.org> --address a.liddell@example.net "
                    "--name 'Alice Liddell' --quota 10240 --password-stdin", "rabbit\r\n").status, 0);
    ASSERT_EQ(Admin("--root " + home + " account add bob --address bob@example.org").status, 0);
    RunResult found = Admin("account find ALICE@EXAMPLE.ORG");
    EXPECT_EQ(found.status, 0);
    EXPECT_TRUE(Has(found.out, "-> account alice") && Has(found.out, "Alice Liddell")) << found.out;
    RunResult show = Admin("account show alice");
    EXPECT_TRUE(Has(show.out, "Mailbox-Quota: 10240") && Has(show.out, "Password: (set)")) << show.out;
    EXPECT_FALSE(Has(show.out, "rabbit"));

    ASSERT_EQ(Admin("account set bob Name Bob Builder").status, 0);
    EXPECT_EQ(Attr("bob", "Name"), (Strings{"Bob", "Builder"}));
    ASSERT_EQ(Admin("alias add sales@example.org alice@example.org bob@example.org").status, 0);
    RunResult alias = Admin("account find Sales@example.org");
    EXPECT_TRUE(Has(alias.out, "-> alias") && Has(alias.out, "bob@example.org")) << alias.out;
    EXPECT_EQ(Admin("alias list").out, "sales@example.org -> alice@example.org, bob@example.org\n1 alias\n");

    // The password came from standard input and works; a lock stops it.
    EXPECT_TRUE(VerifyPassword("alice", "rabbit"));
    ASSERT_EQ(Admin("account lock alice").status, 0);
    EXPECT_FALSE(VerifyPassword("alice", "rabbit"));
    EXPECT_TRUE(Has(Admin("account lock alice").out, "already locked"));
    ASSERT_EQ(Admin("account unlock alice").status, 0);
    ASSERT_EQ(Admin("account password bob", "builder\n").status, 0);
    EXPECT_TRUE(VerifyPassword("alice", "rabbit"));
    EXPECT_TRUE(VerifyPassword("bob", "builder"));
    EXPECT_TRUE(VerifyPassword("Postmaster", "postmaster-secret"));

    RunResult list = Admin("account list");
    for (const char* part : {"alice ", "List-Manager ", "9 accounts"})
        EXPECT_TRUE(Has(list.out, part)) << part;
    ASSERT_EQ(Admin("account delete bob").status, 0);
    EXPECT_EQ(Admin("account find bob@example.org").status, 1);
    ASSERT_EQ(Admin("alias delete sales@example.org").status, 0);
    ASSERT_EQ(Admin("domain delete mail.example.org").status, 0);
    EXPECT_EQ(Admin("domain list").out, "example.org\nexample.net\n2 local mail domains\n");
}

// Every report has a JSON form, refusals included.
TEST(AdminCli, JsonReports) {
    TestRoot root;
    EXPECT_FALSE(IsJson("{\"a\":}\n") || IsJson("{}"));  // the judge can say no
    SetUpInstallation();
    ASSERT_EQ(Admin("alias add sales@example.org alice@example.org").status, 0);
    for (const char* line : {"account show alice", "account list", "account find alice@example.org",
                             "account find sales@example.org", "alias list", "domain list",
                             "account show nobody"}) {
        RunResult r = Admin(std::string(line) + " --json");
        EXPECT_TRUE(IsJson(r.out)) << line << ": " << r.out;
    }
    EXPECT_TRUE(Has(Admin("--json account find ALICE@example.ORG").out, "\"uid\":\"alice\""));
    EXPECT_TRUE(Has(Admin("account show nobody --json").out, "\"ok\":false"));
}

// Each request is refused with status 1, its reason on standard error and nothing on
// standard output; afterwards alice and bob, their index entries and the (empty)
// aliases are as they were.
TEST(AdminCli, RefusalsChangeNothing) {
    TestRoot root;
    SetUpInstallation();
    auto refused = [](const std::string& line, const char* message) {
        RunResult r = Admin(line);
        EXPECT_EQ(r.status, 1) << line << ": " << r.err;
        EXPECT_TRUE(Has(r.err, message)) << message << " / " << r.err;
        EXPECT_EQ(r.out, "") << line;
    };
    const std::pair<const char*, const char*> changes[] = {  // to "account set alice"
        {"Nmae x", "unknown attribute 'Nmae'"}, {"name x", "unknown attribute 'name'"},
        {"Password x", "never taken on the command line"},
        {"Raw-Password x", "never taken on the command line"}, {"Type x", "kept by the database"},
        {"SMTP-Address bob@example.org", "already belongs to account 'bob'"},
        {"SMTP-Address alice@example.org 'not an address'", "is not a mail address"},
        {"SMTP-Address a2@example.org A2@example.org", "given twice"},
        {"SMTP-Address alice@elsewhere.example", "not a local mail domain"},
        {"Mailbox-Quota lots", "not a whole number"}, {"Mailbox-Quota 99999999", "at most 2097151"},
        {"Account-Delivery ghost", "there is no account 'ghost'"},
        {"Parent-Domains bad..domain", "not a valid domain"}};
    for (const auto& [change, message] : changes)
        refused("account set alice " + std::string(change), message);
    const std::pair<const char*, const char*> others[] = {
        {"account set ghost Name x", "there is no account 'ghost'"},
        {"account unset alice Finger-Info", "has no Finger-Info"},
        {"account show ghost", "there is no account 'ghost'"},
        {"account lock ghost", "there is no account 'ghost'"},
        {"account delete ghost", "there is no account 'ghost'"},
        {"account delete Postmaster", "service account"},
        {"account add carol --address bob@example.org", "already belongs to account 'bob'"},
        {"account add carol --address carol@@example.org", "not a mail address"},
        {"account add carol --address <@relay:carol@example.org>", "not a mail address"},
        {"account add carol --address carol@example.org --quota -1", "not a whole number"},
        {"account add carol", "at least one --address"},
        {"account add alice --address x@example.org", "already exists"},
        {"account add Default-User --address x@example.org", "reserved for templates"},
        {"account add 'carol smith' --address x@example.org", "must be 1 to 64"},
        {"account add carol --address c@example.org --password-stdin", "no password"},
        {"account password alice", "no password"}, {"account find nobody@example.org", "no account or alias"},
        {"account find nonsense", "not a mail address"},
        {"alias add alice@example.org bob@example.org", "belongs to account 'alice'"},
        {"alias add loop@example.org LOOP@example.org", "cannot deliver to itself"},
        {"alias add x@example.org 'bad target'", "not a mail address"},
        {"alias delete x@example.org", "is not an alias"},
        {"domain add example.org", "already a local mail domain"},
        {"domain add 'exa mple.org'", "not a valid domain"},
        {"domain delete example.com", "is not a local mail domain"}};
    for (const auto& [line, message] : others) refused(line, message);
    RunResult empty = Admin("account add carol --address c@example.org --password-stdin", "\n");
    EXPECT_TRUE(empty.status == 1 && Has(empty.err, "is empty") && empty.out.empty()) << empty.err;
    EXPECT_EQ(Attr("alice", "SMTP-Address"), Strings{"alice@example.org"});
    EXPECT_EQ(Attr("alice", "Name"), Strings{"Alice Liddell"});
    for (const char* unset : {"Mailbox-Quota", "Account-Delivery", "Parent-Domains"})
        EXPECT_EQ(Attr("alice", unset), Strings{}) << unset;
    EXPECT_FALSE(Exists("carol") || Exists("Default-User"));
    EXPECT_EQ(OwnerOf("alice@example.org"), "alice");
    EXPECT_EQ(OwnerOf("bob@example.org"), "bob");
    EXPECT_EQ(SAccountDB().IndexLookupCount(S("SMTP-Address"), S("a2@example.org")), 0);
    EXPECT_EQ(Admin("alias list").out, "0 aliases\n");
    EXPECT_TRUE(VerifyPassword("alice", "rabbit"));
}

TEST(AdminCli, MissingOrDamagedInstallation) {
    TestRoot root;
    std::filesystem::create_directories(root.Path("nothing-here"));
    RunResult r = Admin("--root " + root.Path("nothing-here") + " account list");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "is not a Quillbox installation")) << r.err;
    ::unsetenv("Quillbox");
    r = Admin("account list");
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(Has(r.err, "set the environment variable Quillbox or give --root")) << r.err;
    ::setenv("Quillbox", root.Path().c_str(), 1);

    SetUpInstallation();
    for (const char* file : {"BTAccounts.a", "BTAccounts.i", "MTA-Accounts"}) {
        std::string path = root.Config(file), good = ReadFile(path), garbage(9000, '\x33');
        WriteFile(path, garbage);
        for (const char* line : {"account find alice@example.org", "account add c --address c@example.org",
                                 "alias add s@example.org a@example.org"}) {
            RunResult damaged = Admin(line);
            EXPECT_EQ(damaged.status, 1) << file;
            EXPECT_TRUE(Has(damaged.err, "is damaged") && Has(damaged.err, file)) << damaged.err;
        }
        EXPECT_EQ(ReadFile(path), garbage);
        WriteFile(path, good);
    }
    EXPECT_EQ(Admin("account find alice@example.org").status, 0);
}

// Two programs add accounts claiming one address at the same moment.
TEST(AdminCli, ConcurrentAddsClaimingOneAddress) {
    TestRoot root;
    SetUpInstallation();
    for (int round = 0; round < 3; ++round) {
        std::string address = "shared" + std::to_string(round) + "@example.org";
        auto uid = [round](int who) { return "c" + std::to_string(round) + "_" + std::to_string(who); };
        std::vector<int> statuses = RaceTwo([&](int who) {
            return RunProgram({QB_ADMIN_PROGRAM, "account", "add", uid(who), "--address", address}).status;
        });
        ASSERT_EQ(statuses.size(), 2u);
        EXPECT_EQ(std::min(statuses[0], statuses[1]), 0);
        EXPECT_EQ(std::max(statuses[0], statuses[1]), 1);
        std::string winner = uid(statuses[0] == 0 ? 0 : 1), loser = uid(statuses[0] == 0 ? 1 : 0);
        SAccountBase::CloseDatabases();
        EXPECT_TRUE(Exists(winner));
        EXPECT_FALSE(Exists(loser));
        EXPECT_EQ(OwnerOf(address), winner);
        EXPECT_EQ(SAccountDB().IndexLookupCount(S("SMTP-Address"), S(address)), 1);
    }
    EXPECT_TRUE(Has(Admin("account list").out, "12 accounts"));  // 7 + alice, bob + 3
}

TEST(AdminCli, DeletingAListCleansEveryReference) {
    TestRoot root;
    SetUpInstallation();
    for (const char* line : {"account add readers --address readers@example.org",
                             "account add readers-mgr --address readers-request@example.org",
                             "account set readers List-Name Readers",
                             "account set readers Linked-Manager-Account readers-mgr",
                             "account set alice Subscribed-Lists readers",
                             "account set alice List-Owners readers bob",
                             "account set bob Subscribed-Lists-Digest readers",
                             "account set bob Account-Delivery readers alice"})
        ASSERT_EQ(Admin(line).status, 0) << line;
    RunResult deleted = Admin("account delete readers");
    ASSERT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_TRUE(Has(deleted.out, "References removed from: bob\n")) << deleted.out;
    EXPECT_TRUE(Has(deleted.out, "  alice\n"));
    EXPECT_TRUE(Has(deleted.out, "Linked accounts deleted: readers-mgr"));
    EXPECT_FALSE(Exists("readers") || Exists("readers-mgr"));
    EXPECT_EQ(Attr("alice", "List-Owners"), Strings{"bob"});  // the other values stay
    EXPECT_EQ(Attr("bob", "Account-Delivery"), Strings{"alice"});
    for (const char* line : {"account show alice", "account show bob"})
        EXPECT_FALSE(Has(Admin(line).out, "readers")) << line;
    EXPECT_EQ(Admin("account find readers@example.org").status, 1);
}
