// quillbox-admin driven as an operator would: the real program run in a scratch
// installation, its output and exit status checked, and the database it leaves behind
// read back through the library.  Covers help and usage errors, a whole session, bad
// input of every kind (each refused without changing anything), a missing or damaged
// installation, two programs claiming one address at once, and deleting a list.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "AccountTestTools.h"
#include "SIdentifier.h"

using namespace accttest;

namespace {

using Strings = std::vector<std::string>;

// Runs the program with `args` and `input` on standard input, under the current
// "Quillbox" of this process.
RunResult Admin(const Strings& args, const std::string& input = "") {
    return RunChild(
        [&args]() {
            std::vector<const char*> argv{QB_ADMIN_PROGRAM};
            for (const std::string& a : args) argv.push_back(a.c_str());
            argv.push_back(nullptr);
            ::execv(QB_ADMIN_PROGRAM, const_cast<char* const*>(argv.data()));
            return 127;
        },
        input);
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A strict JSON reader that only says whether the text is one valid document (the
// grammar of RFC 8259: objects, arrays, strings with their escapes, numbers, literals).
class JsonChecker {
public:
    explicit JsonChecker(const std::string& text) : t(text) {}
    bool Valid() {
        bool ok = Value();
        Space();
        return ok && at == t.size();
    }

private:
    void Space() {
        while (at < t.size() && t[at] != 0 && std::strchr(" \t\r\n", t[at])) ++at;
    }
    bool Eat(char c) {
        Space();
        if (at < t.size() && t[at] == c) return ++at, true;
        return false;
    }
    bool Literal(const char* word) {
        size_t n = std::strlen(word);
        if (t.compare(at, n, word) != 0) return false;
        at += n;
        return true;
    }
    bool String() {
        if (!Eat('"')) return false;
        while (at < t.size() && t[at] != '"') {
            unsigned char c = static_cast<unsigned char>(t[at++]);
            if (c < 0x20) return false;
            if (c != '\\') continue;
            if (at >= t.size()) return false;
            char e = t[at++];
            if (e == 'u') {
                for (int i = 0; i < 4; ++i, ++at)
                    if (at >= t.size() || !std::isxdigit(static_cast<unsigned char>(t[at]))) return false;
            } else if (e == 0 || !std::strchr("\"\\/bfnrt", e)) {
                return false;
            }
        }
        return Eat('"');
    }
    bool Number() {
        size_t start = at;
        if (at < t.size() && t[at] == '-') ++at;
        while (at < t.size() && (std::isdigit(static_cast<unsigned char>(t[at])) || t[at] == '.' ||
                                 t[at] == 'e' || t[at] == 'E' || t[at] == '+' || t[at] == '-'))
            ++at;
        return at > start && std::isdigit(static_cast<unsigned char>(t[at - 1]));
    }
    template <typename Item>
    bool Sequence(char close, Item item) {
        if (Eat(close)) return true;
        do {
            if (!item()) return false;
        } while (Eat(','));
        return Eat(close);
    }
    bool Value() {
        Space();
        if (at >= t.size()) return false;
        switch (t[at]) {
        case '{': ++at; return Sequence('}', [this] { return String() && Eat(':') && Value(); });
        case '[': ++at; return Sequence(']', [this] { return Value(); });
        case '"': return String();
        case 't': return Literal("true");
        case 'f': return Literal("false");
        case 'n': return Literal("null");
        default: return Number();
        }
    }

    const std::string& t;
    size_t at = 0;
};

// True when `text` is one valid JSON document followed by a line feed.
bool IsJson(const std::string& text) {
    return !text.empty() && text.back() == '\n' && JsonChecker(text).Valid();
}

std::string AttrOf(const std::string& uid, const std::string& name) {
    SAccountBase::CloseDatabases();
    SAccount account;
    SAccountDB().GetAccountInfo(S(uid), &account);
    SStringList values = account.Get(S(name));
    return Str(values.Join(S(",")));
}

bool AccountExists(const std::string& uid) {
    SAccountBase::CloseDatabases();
    return SAccountDB().GetAccountInfo(S(uid));
}

// An installation with two domains, alice and bob.
void SetUpInstallation() {
    ASSERT_EQ(Admin({"init", "--domain", "example.org", "--alias-domain", "example.net"}).status, 0);
    ASSERT_EQ(Admin({"account", "add", "alice", "--address", "alice@example.org", "--name",
                     "Alice Liddell", "--password-stdin"},
                    "rabbit\n")
                  .status,
              0);
    ASSERT_EQ(Admin({"account", "add", "bob", "--address", "bob@example.org"}).status, 0);
}

}  // namespace

// The checker itself must be able to say no.
TEST(AdminCli, JsonCheckerRejectsBadDocuments) {
    EXPECT_TRUE(IsJson("{\"a\":[1,-2.5e3,\"x\\u00e9\\n\",true,null],\"b\":{}}\n"));
    for (const char* bad : {"{\"a\":}\n", "{\"a\" 1}\n", "[1,]\n", "{\"a\":\"\x01\"}\n",
                            "{\"a\":\"\\q\"}\n", "{} {}\n", "{}", "\"open\n", "tru\n"})
        EXPECT_FALSE(IsJson(bad)) << bad;
}

TEST(AdminCli, HelpAndUsageErrors) {
    TestRoot root;
    RunResult help = Admin({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"init --domain", "account add UID", "account show", "account set",
                                "account delete", "account lock", "account unlock", "account list",
                                "account find", "alias add", "alias list", "alias delete",
                                "domain add", "domain delete", "domain list"})
        EXPECT_TRUE(Has(help.out, command)) << command;
    for (const Strings& args : std::vector<Strings>{{"init", "--help"},
                                                    {"account", "add", "--help"},
                                                    {"account", "set", "-h"},
                                                    {"alias", "delete", "--help"},
                                                    {"domain", "list", "--help"}}) {
        RunResult r = Admin(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_TRUE(Has(r.out, "usage: quillbox-admin " + args[0])) << r.out;
    }
    struct Row {
        Strings args;
        const char* message;
    };
    const Row rows[] = {
        {{}, "usage"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"account"}, "'account' needs a command"},
        {{"account", "rename", "alice"}, "unknown command 'account rename'"},
        {{"account", "show"}, "missing arguments"},
        {{"account", "show", "a", "b"}, "too many arguments"},
        {{"account", "add", "alice", "--address"}, "--address needs a value"},
        {{"account", "add", "alice", "--password", "secret"}, "unknown option --password"},
        {{"account", "add", "alice", "--name", "A", "--name", "B"}, "--name given twice"},
        {{"account", "list", "--json=yes"}, "--json takes no value"},
        {{"init"}, "init needs --domain"},
    };
    for (const Row& row : rows) {
        RunResult r = Admin(row.args);
        EXPECT_EQ(r.status, 2) << row.message;
        EXPECT_TRUE(Has(r.err, row.message)) << r.err;
        EXPECT_TRUE(Has(r.err, "quillbox-admin")) << r.err;
    }
}

TEST(AdminCli, OperatorSession) {
    TestRoot root;
    std::string home = root.Path() + "/site";
    ::setenv("Quillbox", home.c_str(), 1);
    RunResult init = Admin({"init", "--domain", "example.org", "--alias-domain", "example.net",
                            "--host", "mail.example.org", "--password-stdin"},
                           "postmaster-secret\n");
    ASSERT_EQ(init.status, 0) << init.err;
    EXPECT_TRUE(Has(init.out, "Installation ready at " + home));
    for (const char* dir : {"config", "control", "messages", "deferred", "listdata", "mailboxes"})
        EXPECT_TRUE(std::filesystem::is_directory(home + "/" + dir)) << dir;
    EXPECT_TRUE(std::filesystem::is_regular_file(home + "/config/environment"));
    RunResult domains = Admin({"domain", "list"});
    EXPECT_EQ(domains.out, "example.org\nexample.net\nmail.example.org\n3 local mail domains\n");

    ASSERT_EQ(Admin({"account", "add", "alice", "--address", "<Alice@Example.org>", "--address",
                     "a.liddell@example.net", "--name", "Alice Liddell", "--quota", "10240",
                     "--password-stdin"},
                    "rabbit\r\n")
                  .status,
              0);
    ASSERT_EQ(Admin({"--root", home, "account", "add", "bob", "--address", "bob@example.org"}).status, 0);

    RunResult found = Admin({"account", "find", "ALICE@EXAMPLE.ORG"});
    EXPECT_EQ(found.status, 0);
    EXPECT_TRUE(Has(found.out, "-> account alice")) << found.out;
    EXPECT_TRUE(Has(found.out, "Alice Liddell"));
    RunResult show = Admin({"account", "show", "alice"});
    EXPECT_TRUE(Has(show.out, "Mailbox-Quota: 10240"));
    EXPECT_TRUE(Has(show.out, "Password: (set)"));
    EXPECT_FALSE(Has(show.out, "rabbit"));

    ASSERT_EQ(Admin({"account", "set", "bob", "Name", "Bob", "Builder"}).status, 0);
    EXPECT_EQ(AttrOf("bob", "Name"), "Bob,Builder");
    ASSERT_EQ(Admin({"alias", "add", "sales@example.org", "alice@example.org", "bob@example.org"}).status, 0);
    RunResult alias = Admin({"account", "find", "Sales@example.org"});
    EXPECT_TRUE(Has(alias.out, "-> alias")) << alias.out;
    EXPECT_TRUE(Has(alias.out, "bob@example.org"));
    EXPECT_EQ(Admin({"alias", "list"}).out,
              "sales@example.org -> alice@example.org, bob@example.org\n1 alias\n");

    // The password came from standard input and works; a lock stops it.
    SAccountBase::CloseDatabases();
    SAccount alice;
    ASSERT_TRUE(SAccountDB().GetAccountInfo(S("alice"), &alice));
    EXPECT_TRUE(alice.VerifyPassword(S("rabbit")));
    ASSERT_EQ(Admin({"account", "lock", "alice"}).status, 0);
    SAccountBase::CloseDatabases();
    EXPECT_FALSE(alice.VerifyPassword(S("rabbit")));
    EXPECT_TRUE(Has(Admin({"account", "lock", "alice"}).out, "already locked"));
    ASSERT_EQ(Admin({"account", "unlock", "alice"}).status, 0);
    ASSERT_EQ(Admin({"account", "password", "bob"}, "builder\n").status, 0);
    SAccountBase::CloseDatabases();
    EXPECT_TRUE(alice.VerifyPassword(S("rabbit")));
    SAccount postmaster;
    ASSERT_TRUE(SAccountDB().GetAccountInfo(S("Postmaster"), &postmaster));
    EXPECT_TRUE(postmaster.VerifyPassword(S("postmaster-secret")));

    RunResult list = Admin({"account", "list"});
    EXPECT_TRUE(Has(list.out, "alice "));
    EXPECT_TRUE(Has(list.out, "List-Manager "));
    EXPECT_TRUE(Has(list.out, "9 accounts"));
    ASSERT_EQ(Admin({"account", "delete", "bob"}).status, 0);
    EXPECT_EQ(Admin({"account", "find", "bob@example.org"}).status, 1);
    ASSERT_EQ(Admin({"alias", "delete", "sales@example.org"}).status, 0);
    ASSERT_EQ(Admin({"domain", "delete", "mail.example.org"}).status, 0);
    EXPECT_EQ(Admin({"domain", "list"}).out, "example.org\nexample.net\n2 local mail domains\n");
}

// Every report has a JSON form, refusals included.
TEST(AdminCli, JsonReports) {
    TestRoot root;
    SetUpInstallation();
    ASSERT_EQ(Admin({"alias", "add", "sales@example.org", "alice@example.org"}).status, 0);
    for (const Strings& args : std::vector<Strings>{{"account", "show", "alice"},
                                                    {"account", "list"},
                                                    {"account", "find", "alice@example.org"},
                                                    {"account", "find", "sales@example.org"},
                                                    {"alias", "list"},
                                                    {"domain", "list"},
                                                    {"account", "show", "nobody"}}) {
        Strings withJson = args;
        withJson.push_back("--json");
        RunResult r = Admin(withJson);
        EXPECT_TRUE(IsJson(r.out)) << r.out;
    }
    RunResult json = Admin({"--json", "account", "find", "ALICE@example.ORG"});
    EXPECT_TRUE(Has(json.out, "\"uid\":\"alice\"")) << json.out;
    EXPECT_TRUE(Has(Admin({"account", "show", "nobody", "--json"}).out, "\"ok\":false"));
}

namespace {

struct RefusalRow {
    Strings args;
    const char* message;
    std::string input;
};

// Each request is refused with status 1, its reason on standard error and nothing on
// standard output.
void ExpectRefusals(const std::vector<RefusalRow>& rows) {
    for (const RefusalRow& row : rows) {
        RunResult r = Admin(row.args, row.input);
        EXPECT_EQ(r.status, 1) << row.message << ": " << r.err;
        EXPECT_TRUE(Has(r.err, row.message)) << row.message << " / " << r.err;
        EXPECT_EQ(r.out, "") << row.message;
    }
}

// alice and bob as SetUpInstallation made them, with their index entries; no carol.
void ExpectUnchanged() {
    EXPECT_EQ(AttrOf("alice", "SMTP-Address"), "alice@example.org");
    EXPECT_EQ(AttrOf("alice", "Name"), "Alice Liddell");
    EXPECT_EQ(AttrOf("alice", "Mailbox-Quota"), "");
    EXPECT_EQ(AttrOf("alice", "Account-Delivery"), "");
    EXPECT_EQ(AttrOf("alice", "Parent-Domains"), "");
    EXPECT_FALSE(AccountExists("carol"));
    EXPECT_FALSE(AccountExists("Default-User"));
    SAccountDB db;
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("alice@example.org")))), "alice");
    EXPECT_EQ(Str(db.GetAccountUID(S821Address(S("bob@example.org")))), "bob");
    EXPECT_EQ(db.IndexLookupCount(S("SMTP-Address"), S("a2@example.org")), 0);
    EXPECT_EQ(Admin({"alias", "list"}).out, "0 aliases\n");
    SAccount alice;
    ASSERT_TRUE(db.GetAccountInfo(S("alice"), &alice));
    EXPECT_TRUE(alice.VerifyPassword(S("rabbit")));
}

}  // namespace

TEST(AdminCli, RefusedAttributeChanges) {
    TestRoot root;
    SetUpInstallation();
    ExpectRefusals({
        {{"account", "set", "alice", "Nmae", "x"}, "unknown attribute 'Nmae'", ""},
        {{"account", "set", "alice", "name", "x"}, "unknown attribute 'name'", ""},
        {{"account", "set", "alice", "Password", "x"}, "never taken on the command line", ""},
        {{"account", "set", "alice", "Raw-Password", "x"}, "never taken on the command line", ""},
        {{"account", "set", "alice", "Type", "x"}, "kept by the database", ""},
        {{"account", "set", "alice", "SMTP-Address", "bob@example.org"}, "already belongs to account 'bob'", ""},
        {{"account", "set", "alice", "SMTP-Address", "alice@example.org", "not an address"},
         "is not a mail address", ""},
        {{"account", "set", "alice", "SMTP-Address", "a2@example.org", "A2@example.org"}, "given twice", ""},
        {{"account", "set", "alice", "SMTP-Address", "alice@elsewhere.example"}, "not a local mail domain", ""},
        {{"account", "set", "alice", "Mailbox-Quota", "lots"}, "not a whole number", ""},
        {{"account", "set", "alice", "Mailbox-Quota", "99999999"}, "at most 2097151", ""},
        {{"account", "set", "alice", "Account-Delivery", "ghost"}, "there is no account 'ghost'", ""},
        {{"account", "set", "alice", "Parent-Domains", "bad..domain"}, "not a valid domain", ""},
        {{"account", "set", "ghost", "Name", "x"}, "there is no account 'ghost'", ""},
        {{"account", "unset", "alice", "Finger-Info"}, "has no Finger-Info", ""},
    });
    ExpectUnchanged();
}

TEST(AdminCli, RefusedAccountRequests) {
    TestRoot root;
    SetUpInstallation();
    ExpectRefusals({
        {{"account", "show", "ghost"}, "there is no account 'ghost'", ""},
        {{"account", "delete", "ghost"}, "there is no account 'ghost'", ""},
        {{"account", "lock", "ghost"}, "there is no account 'ghost'", ""},
        {{"account", "delete", "Postmaster"}, "service account", ""},
        {{"account", "add", "carol", "--address", "bob@example.org"}, "already belongs to account 'bob'", ""},
        {{"account", "add", "carol", "--address", "carol@@example.org"}, "not a mail address", ""},
        {{"account", "add", "carol", "--address", "<@relay:carol@example.org>"}, "not a mail address", ""},
        {{"account", "add", "carol", "--address", "carol@example.org", "--quota", "-1"}, "not a whole number", ""},
        {{"account", "add", "carol"}, "at least one --address", ""},
        {{"account", "add", "alice", "--address", "x@example.org"}, "already exists", ""},
        {{"account", "add", "Default-User", "--address", "x@example.org"}, "reserved for templates", ""},
        {{"account", "add", "carol smith", "--address", "x@example.org"}, "must be 1 to 64", ""},
        {{"account", "add", "carol", "--address", "c@example.org", "--password-stdin"}, "no password", ""},
        {{"account", "add", "carol", "--address", "c@example.org", "--password-stdin"}, "is empty", "\n"},
        {{"account", "password", "alice"}, "no password", ""},
        {{"account", "find", "nobody@example.org"}, "no account or alias", ""},
        {{"account", "find", "nonsense"}, "not a mail address", ""},
    });
    ExpectUnchanged();
}

TEST(AdminCli, RefusedAliasAndDomainRequests) {
    TestRoot root;
    SetUpInstallation();
    ExpectRefusals({
        {{"alias", "add", "alice@example.org", "bob@example.org"}, "belongs to account 'alice'", ""},
        {{"alias", "add", "loop@example.org", "LOOP@example.org"}, "cannot deliver to itself", ""},
        {{"alias", "add", "x@example.org", "bad target"}, "not a mail address", ""},
        {{"alias", "delete", "x@example.org"}, "is not an alias", ""},
        {{"domain", "add", "example.org"}, "already a local mail domain", ""},
        {{"domain", "add", "exa mple.org"}, "not a valid domain", ""},
        {{"domain", "delete", "example.com"}, "is not a local mail domain", ""},
    });
    ExpectUnchanged();
}

TEST(AdminCli, MissingOrDamagedInstallation) {
    TestRoot root;
    std::string empty = root.Path() + "/nothing-here";
    std::filesystem::create_directories(empty);
    RunResult r = Admin({"--root", empty, "account", "list"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "is not a Quillbox installation")) << r.err;
    ::unsetenv("Quillbox");
    r = Admin({"account", "list"});
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(Has(r.err, "set the environment variable Quillbox or give --root")) << r.err;
    ::setenv("Quillbox", root.Path().c_str(), 1);

    SetUpInstallation();
    SAccountBase::CloseDatabases();
    for (const char* file : {"BTAccounts.a", "BTAccounts.i", "MTA-Accounts"}) {
        std::string path = root.Config(file);
        std::filesystem::copy_file(path, path + ".good");
        std::string garbage(9000, '\x33');
        root.Write(path, garbage);
        for (const Strings& args : std::vector<Strings>{{"account", "find", "alice@example.org"},
                                                        {"account", "add", "c", "--address", "c@example.org"},
                                                        {"alias", "add", "s@example.org", "a@example.org"}}) {
            RunResult damaged = Admin(args);
            EXPECT_EQ(damaged.status, 1) << file;
            EXPECT_TRUE(Has(damaged.err, "is damaged")) << file << ": " << damaged.err;
            EXPECT_TRUE(Has(damaged.err, file)) << damaged.err;
        }
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), garbage);
        std::filesystem::rename(path + ".good", path);
    }
    EXPECT_EQ(Admin({"account", "find", "alice@example.org"}).status, 0);
}

// Two programs add accounts claiming one address at the same moment.
TEST(AdminCli, ConcurrentAddsClaimingOneAddress) {
    TestRoot root;
    SetUpInstallation();
    for (int round = 0; round < 3; ++round) {
        std::string address = "shared" + std::to_string(round) + "@example.org";
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        std::vector<pid_t> children;
        for (int who = 0; who < 2; ++who) {
            std::string uid = "c" + std::to_string(round) + "_" + std::to_string(who);
            pid_t pid = ::fork();
            if (pid == 0) {
                char byte;
                ::close(go[1]);
                if (::read(go[0], &byte, 1) < 0) ::_exit(3);
                int devnull = ::open("/dev/null", O_WRONLY);
                ::dup2(devnull, 1);
                ::dup2(devnull, 2);
                ::execl(QB_ADMIN_PROGRAM, QB_ADMIN_PROGRAM, "account", "add", uid.c_str(), "--address",
                        address.c_str(), static_cast<char*>(nullptr));
                ::_exit(127);
            }
            children.push_back(pid);
        }
        ::close(go[0]);
        ::close(go[1]);
        int statuses[2] = {-1, -1};
        for (int i = 0; i < 2; ++i) {
            int status = 0;
            ::waitpid(children[i], &status, 0);
            statuses[i] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        EXPECT_EQ(std::min(statuses[0], statuses[1]), 0);
        EXPECT_EQ(std::max(statuses[0], statuses[1]), 1);
        std::string winner = "c" + std::to_string(round) + "_" + (statuses[0] == 0 ? "0" : "1");
        std::string loser = "c" + std::to_string(round) + "_" + (statuses[0] == 0 ? "1" : "0");
        EXPECT_TRUE(AccountExists(winner));
        EXPECT_FALSE(AccountExists(loser));
        SAccountDB db;
        EXPECT_EQ(Str(db.GetAccountUID(S821Address(S(address)))), winner);
        EXPECT_EQ(db.IndexLookupCount(S("SMTP-Address"), S(address)), 1);
    }
    EXPECT_TRUE(Has(Admin({"account", "list"}).out, "12 accounts"));  // 7 + alice, bob + 3
}

TEST(AdminCli, DeletingAListCleansEveryReference) {
    TestRoot root;
    SetUpInstallation();
    ASSERT_EQ(Admin({"account", "add", "readers", "--address", "readers@example.org"}).status, 0);
    ASSERT_EQ(Admin({"account", "add", "readers-mgr", "--address", "readers-request@example.org"}).status, 0);
    const std::vector<Strings> settings = {
        {"readers", "List-Name", "Readers"},
        {"readers", "Linked-Manager-Account", "readers-mgr"},
        {"alice", "Subscribed-Lists", "readers"},
        {"alice", "List-Owners", "readers", "bob"},
        {"bob", "Subscribed-Lists-Digest", "readers"},
        {"bob", "Account-Delivery", "readers", "alice"},
    };
    for (const Strings& s : settings) {
        Strings args{"account", "set"};
        args.insert(args.end(), s.begin(), s.end());
        ASSERT_EQ(Admin(args).status, 0) << s[0] << " " << s[1];
    }
    RunResult deleted = Admin({"account", "delete", "readers"});
    ASSERT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_TRUE(Has(deleted.out, "References removed from: bob\n")) << deleted.out;
    EXPECT_TRUE(Has(deleted.out, "  alice\n"));
    EXPECT_TRUE(Has(deleted.out, "Linked accounts deleted: readers-mgr"));
    EXPECT_FALSE(AccountExists("readers"));
    EXPECT_FALSE(AccountExists("readers-mgr"));
    EXPECT_EQ(AttrOf("alice", "Subscribed-Lists"), "");
    EXPECT_EQ(AttrOf("alice", "List-Owners"), "bob");
    EXPECT_EQ(AttrOf("bob", "Subscribed-Lists-Digest"), "");
    EXPECT_EQ(AttrOf("bob", "Account-Delivery"), "alice");
    EXPECT_EQ(Admin({"account", "find", "readers@example.org"}).status, 1);
    EXPECT_FALSE(Has(Admin({"account", "show", "alice"}).out, "readers"));
}
