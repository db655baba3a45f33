// quillbox-admin's command line: a table of commands, each with its usage text, the
// options it accepts and the number of words it takes; one generic parser; and one
// small runner per command that calls AdminLib.  Options may come anywhere after the
// command words ("--name value" or "--name=value"); "--" ends them.
#include "AdminCommands.h"

#include <functional>
#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "AdminLib.h"
#include "SAccount.h"
#include "Sfiledir.h"
#include "Sprocess.h"

namespace {

const char Program[] = "quillbox-admin";

struct Option {
    const char* name;  // without the leading "--"
    bool takesValue;
    bool repeatable;
};

// A command line taken apart: the words after the command, and the options given.
struct Parsed {
    std::vector<SString> words;
    std::map<std::string, std::vector<SString>> options;
    bool Has(const char* name) const { return options.count(name) > 0; }
    SString Value(const char* name) const {
        auto it = options.find(name);
        return it == options.end() ? SString() : it->second.back();
    }
    SStringList Values(const char* name) const {
        SStringList list;
        auto it = options.find(name);
        if (it != options.end())
            for (const SString& v : it->second) list.Push(v);
        return list;
    }
};

struct Io {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool json;
};

struct Command;
using Runner = std::function<int(const Command&, const Parsed&, Io&)>;

struct Command {
    const char* group;  // "account", or the command itself for single-word commands
    const char* verb;   // "add", or null
    const char* usage;  // the words and options after the program name
    const char* summary;
    const char* details;
    std::vector<Option> options;
    int minWords;
    int maxWords;  // -1: no limit
    Runner run;

    std::string Name() const { return verb ? std::string(group) + " " + verb : group; }
};

// ---- output --------------------------------------------------------------------------

int Report(const AdminResult& result, Io& io) {
    if (result.Ok()) {
        if (io.json)
            io.out << result.json << "\n";
        else
            io.out << result.text;
        return 0;
    }
    io.err << Program << ": " << result.error << "\n";
    if (io.json) io.out << result.json << "\n";
    return result.status;
}

int UsageError(const std::string& what, const Command* command, Io& io) {
    io.err << Program << ": " << what << "\n";
    if (command)
        io.err << "usage: " << Program << " " << command->usage << "\nTry '" << Program << " "
               << command->Name() << " --help'.\n";
    else
        io.err << "Try '" << Program << " --help'.\n";
    return AdminUsage;
}

void PrintCommandHelp(const Command& command, std::ostream& out) {
    out << "usage: " << Program << " " << command.usage << "\n\n"
        << command.summary << "\n";
    if (command.details && *command.details) out << "\n" << command.details;
    out << "\nCommon options: --root DIR (default: $Quillbox), --json, --help\n";
}

// ---- reading a password ----------------------------------------------------------------

// The first line of standard input, without its line end; undefined when there is none.
SString ReadPassword(std::istream& in) {
    std::string line;
    if (!std::getline(in, line) && line.empty()) return SString();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return SString(line.data(), static_cast<int>(line.size()));
}

// ---- the installation root -------------------------------------------------------------

SString RootOf(const Parsed& parsed) {
    SString root = parsed.Value("root");
    return root.Defined() ? root : GetEnv("Quillbox");
}

// Points the process at an existing installation; "" or why not.
SString UseInstallation(const Parsed& parsed) {
    SString root = RootOf(parsed);
    if (root.Length() == 0)
        return "no installation root: set the environment variable Quillbox or give --root DIR";
    root = RealPath(root);
    SString why = AdminCheckInstallation(root);
    if (why.Length() > 0) return why;
    PutEnv("Quillbox", root);
    SAccountBase::CloseDatabases();
    return SString("");
}

// Runs `body` against the installation, refusing when there is none usable.
int WithInstallation(const Parsed& parsed, Io& io, const std::function<AdminResult()>& body) {
    SString why = UseInstallation(parsed);
    if (why.Length() > 0) return Report(AdminResult::Refuse(why), io);
    return Report(body(), io);
}

SStringList Words(const Parsed& parsed, size_t from) {
    SStringList list;
    list.Reset();
    for (size_t i = from; i < parsed.words.size(); ++i) list.Push(parsed.words[i]);
    return list;
}

// ---- the runners -----------------------------------------------------------------------

int RunInit(const Command& command, const Parsed& parsed, Io& io) {
    AdminInitSpec spec;
    spec.root = RootOf(parsed);
    if (spec.root.Length() == 0)
        return UsageError("no installation root: set Quillbox or give --root DIR", &command, io);
    if (!parsed.Has("domain")) return UsageError("init needs --domain", &command, io);
    spec.domain = parsed.Value("domain");
    spec.aliasDomain = parsed.Has("alias-domain") ? parsed.Value("alias-domain") : SString("");
    spec.host = parsed.Has("host") ? parsed.Value("host") : SString("");
    spec.mailboxDir = parsed.Has("mailbox-dir") ? parsed.Value("mailbox-dir") : SString("");
    if (parsed.Has("password-stdin")) {
        spec.password = ReadPassword(io.in);
        if (!spec.password.Defined())
            return Report(AdminResult::Refuse("no password on standard input"), io);
    }
    return Report(AdminInit(spec), io);
}

int RunAccountAdd(const Command&, const Parsed& parsed, Io& io) {
    AdminAccountSpec spec;
    spec.uid = parsed.words[0];
    spec.addresses = parsed.Values("address");
    spec.name = parsed.Value("name");
    spec.quota = parsed.Value("quota");
    if (parsed.Has("password-stdin")) {
        spec.password = ReadPassword(io.in);
        if (!spec.password.Defined())
            return Report(AdminResult::Refuse("no password on standard input"), io);
    }
    return WithInstallation(parsed, io, [&] {
        SAccountDBMod db;
        AdminContext context;
        return AdminAddAccount(db, spec, context);
    });
}

int RunAccountShow(const Command&, const Parsed& parsed, Io& io) {
    return WithInstallation(parsed, io, [&] { return AdminShowAccount(parsed.words[0]); });
}

int RunAccountSet(const Command&, const Parsed& parsed, Io& io) {
    return WithInstallation(parsed, io, [&] {
        SAccountDBMod db;
        AdminContext context;
        return AdminSetAttribute(db, parsed.words[0], parsed.words[1], Words(parsed, 2), context);
    });
}

int RunAccountUnset(const Command&, const Parsed& parsed, Io& io) {
    return WithInstallation(parsed, io, [&] {
        SAccountDBMod db;
        return AdminUnsetAttribute(db, parsed.words[0], parsed.words[1]);
    });
}

int RunAccountPassword(const Command&, const Parsed& parsed, Io& io) {
    SString password = ReadPassword(io.in);
    if (!password.Defined())
        return Report(AdminResult::Refuse("no password on standard input"), io);
    return WithInstallation(parsed, io, [&] {
        SAccountDBMod db;
        return AdminSetPassword(db, parsed.words[0], password);
    });
}

int RunAccountDelete(const Command&, const Parsed& parsed, Io& io) {
    return WithInstallation(parsed, io, [&] {
        SAccountDBMod db;
        return AdminDeleteAccount(db, parsed.words[0], parsed.Has("force"));
    });
}

int RunAccountLock(const Command& command, const Parsed& parsed, Io& io) {
    bool lock = std::string(command.verb) == "lock";
    return WithInstallation(parsed, io, [&] {
        SAccountDBMod db;
        return AdminLockAccount(db, parsed.words[0], lock);
    });
}

int RunAccountList(const Command&, const Parsed& parsed, Io& io) {
    return WithInstallation(parsed, io, [] { return AdminListAccounts(); });
}

int RunAccountFind(const Command&, const Parsed& parsed, Io& io) {
    return WithInstallation(parsed, io, [&] { return AdminFindAddress(parsed.words[0]); });
}

int RunAliasAdd(const Command&, const Parsed& parsed, Io& io) {
    return WithInstallation(parsed, io,
                            [&] { return AdminAddAlias(parsed.words[0], Words(parsed, 1)); });
}

int RunAliasList(const Command&, const Parsed& parsed, Io& io) {
    return WithInstallation(parsed, io, [] { return AdminListAliases(); });
}

int RunAliasDelete(const Command&, const Parsed& parsed, Io& io) {
    return WithInstallation(parsed, io, [&] { return AdminDeleteAlias(parsed.words[0]); });
}

int RunDomain(const Command& command, const Parsed& parsed, Io& io) {
    std::string verb = command.verb;
    return WithInstallation(parsed, io, [&] {
        if (verb == "add") return AdminAddDomain(parsed.words[0]);
        if (verb == "delete") return AdminDeleteDomain(parsed.words[0]);
        return AdminListDomains();
    });
}

// ---- the table ---------------------------------------------------------------------------

const std::vector<Command>& Commands() {
    static const std::vector<Command> table = {
        {"init", nullptr,
         "init --domain D1 [--alias-domain D2] [--host H] [--mailbox-dir DIR] [--password-stdin]",
         "Creates the installation tree under the root (config/, control/, messages/,\n"
         "deferred/, listdata/ and the mailbox directory), the service accounts and\n"
         "\"Postmaster\", and records D1, D2 and H as local mail domains.",
         "Running it again on an existing installation only adds what is missing.\n"
         "--password-stdin reads Postmaster's password from the first line of standard input.\n",
         {{"domain", true, false}, {"alias-domain", true, false}, {"host", true, false},
          {"mailbox-dir", true, false}, {"password-stdin", false, false}},
         0, 0, RunInit},
        {"account", "add",
         "account add UID --address A [--address A2...] [--name N] [--quota KB] [--password-stdin]",
         "Adds a mailbox account.  Each address must be unused and in a local mail domain.",
         "--quota is in kilobytes (0: the installation's default).  --password-stdin reads\n"
         "the password from the first line of standard input; without it the account has\n"
         "no password.\n",
         {{"address", true, true}, {"name", true, false}, {"quota", true, false},
          {"password-stdin", false, false}},
         1, 1, RunAccountAdd},
        {"account", "show", "account show UID", "Shows every attribute of an account.", "",
         {}, 1, 1, RunAccountShow},
        {"account", "set", "account set UID ATTRIBUTE VALUE...",
         "Replaces the values of one attribute (names as shown by 'account show').",
         "Addresses, numbers, account names and domains are checked before anything is\n"
         "stored; a refused value leaves the attribute as it was.  Passwords are set with\n"
         "'account password', locks with 'account lock' and 'account unlock'.\n",
         {}, 3, -1, RunAccountSet},
        {"account", "unset", "account unset UID ATTRIBUTE", "Removes one attribute of an account.",
         "", {}, 2, 2, RunAccountUnset},
        {"account", "password", "account password UID",
         "Sets the account's password from the first line of standard input.",
         "Setting a password also unlocks the account.\n", {}, 1, 1, RunAccountPassword},
        {"account", "delete", "account delete UID [--force]",
         "Deletes an account and removes it from every account that refers to it.",
         "The installation's service accounts are deleted only with --force.\n",
         {{"force", false, false}}, 1, 1, RunAccountDelete},
        {"account", "lock", "account lock UID", "Locks an account: its password no longer works.",
         "", {}, 1, 1, RunAccountLock},
        {"account", "unlock", "account unlock UID", "Unlocks an account.", "", {}, 1, 1,
         RunAccountLock},
        {"account", "list", "account list", "Lists every account with its primary address.", "",
         {}, 0, 0, RunAccountList},
        {"account", "find", "account find ADDRESS",
         "Shows which account or alias receives mail for an address.", "", {}, 1, 1,
         RunAccountFind},
        {"alias", "add", "alias add ADDRESS TARGET...",
         "Makes ADDRESS an alias: its mail goes to the target addresses.", "", {}, 2, -1,
         RunAliasAdd},
        {"alias", "list", "alias list", "Lists the aliases and their targets.", "", {}, 0, 0,
         RunAliasList},
        {"alias", "delete", "alias delete ADDRESS", "Deletes an alias.", "", {}, 1, 1,
         RunAliasDelete},
        {"domain", "add", "domain add DOMAIN", "Adds a local mail domain.", "", {}, 1, 1,
         RunDomain},
        {"domain", "delete", "domain delete DOMAIN", "Removes a local mail domain.", "", {}, 1,
         1, RunDomain},
        {"domain", "list", "domain list", "Lists the local mail domains.", "", {}, 0, 0,
         RunDomain},
    };
    return table;
}

void PrintHelp(std::ostream& out) {
    out << "usage: " << Program << " [--root DIR] [--json] COMMAND ...\n\n"
        << "Creates a Quillbox installation and looks after its accounts, aliases and local\n"
        << "mail domains.  The installation root is --root DIR or the environment variable\n"
        << "Quillbox.  Passwords are read only from standard input.\n\nCommands:\n";
    for (const Command& c : Commands()) {
        std::string usage = c.usage;
        out << "  " << usage << "\n      " << c.summary << "\n";
    }
    out << "\nEach command takes --help.  --json prints one JSON object instead of text.\n"
        << "Exit status: 0 done, 1 refused, 2 the command line was not understood.\n";
}

// ---- parsing -------------------------------------------------------------------------------

const Option* FindOption(const Command* command, const std::string& name) {
    static const std::vector<Option> common = {
        {"root", true, false}, {"json", false, false}, {"help", false, false}};
    for (const Option& o : common)
        if (name == o.name) return &o;
    if (command)
        for (const Option& o : command->options)
            if (name == o.name) return &o;
    return nullptr;
}

// Takes the options out of args[from..]; the rest are words.  "" or the problem.
std::string ParseArguments(const std::vector<std::string>& args, size_t from,
                           const Command* command, Parsed& parsed) {
    bool optionsEnded = false;
    for (size_t i = from; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 1, "-") != 0 || arg == "-") {
            parsed.words.push_back(SString(arg.data(), static_cast<int>(arg.size())));
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h") {
            parsed.options["help"].push_back(SString(""));
            continue;
        }
        if (arg.compare(0, 2, "--") != 0) return "unknown option " + arg;
        size_t eq = arg.find('=');
        std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const Option* option = FindOption(command, name);
        if (!option) return "unknown option --" + name;
        std::string value;
        if (option->takesValue) {
            if (eq != std::string::npos)
                value = arg.substr(eq + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else
                return "--" + name + " needs a value";
        } else if (eq != std::string::npos) {
            return "--" + name + " takes no value";
        }
        auto& slot = parsed.options[name];
        if (!slot.empty() && !option->repeatable) return "--" + name + " given twice";
        slot.push_back(SString(value.data(), static_cast<int>(value.size())));
    }
    return "";
}

// The command named by the first one or two words that are not options.
const Command* FindCommand(const std::vector<std::string>& words, size_t& used) {
    if (words.empty()) return nullptr;
    for (const Command& c : Commands()) {
        if (words[0] != c.group) continue;
        if (!c.verb) {
            used = 1;
            return &c;
        }
        if (words.size() > 1 && words[1] == c.verb) {
            used = 2;
            return &c;
        }
    }
    return nullptr;
}

bool IsGroup(const std::string& word) {
    for (const Command& c : Commands())
        if (word == c.group) return true;
    return false;
}

// The leading words that are not options (the command's name is among them).
std::vector<std::string> LeadingWords(const std::vector<std::string>& args) {
    std::vector<std::string> words;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--root") {
            ++i;
            continue;
        }
        if (!a.empty() && a[0] == '-') continue;
        words.push_back(a);
        if (words.size() == 2) break;
    }
    return words;
}

// Drops the command's words from the argument list, keeping options in place.
std::vector<std::string> WithoutCommandWords(const std::vector<std::string>& args,
                                             const std::vector<std::string>& words,
                                             size_t used) {
    std::vector<std::string> rest;
    size_t dropped = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--root" && i + 1 < args.size()) {
            rest.push_back(args[i]);
            rest.push_back(args[++i]);
            continue;
        }
        if (dropped < used && args[i] == words[dropped]) {
            ++dropped;
            continue;
        }
        rest.push_back(args[i]);
    }
    return rest;
}

int RunCommand(const Command& command, const std::vector<std::string>& args, Io& io) {
    Parsed parsed;
    std::string problem = ParseArguments(args, 0, &command, parsed);
    if (parsed.Has("help")) {
        PrintCommandHelp(command, io.out);
        return 0;
    }
    if (!problem.empty()) return UsageError(problem, &command, io);
    io.json = parsed.Has("json");
    int count = static_cast<int>(parsed.words.size());
    if (count < command.minWords) return UsageError("missing arguments", &command, io);
    if (command.maxWords >= 0 && count > command.maxWords)
        return UsageError("too many arguments", &command, io);
    return command.run(command, parsed, io);
}

}  // namespace

int AdminMain(int argc, const char* const* argv, std::istream& in, std::ostream& out,
              std::ostream& err) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(argv[i] ? argv[i] : "");
    Io io{in, out, err, false};
    std::vector<std::string> words = LeadingWords(args);
    size_t used = 0;
    const Command* command = FindCommand(words, used);
    if (!command) {
        Parsed global;
        std::string problem = ParseArguments(args, 0, nullptr, global);
        if (words.empty() && (global.Has("help") || args.empty())) {
            PrintHelp(args.empty() ? err : out);
            return args.empty() ? AdminUsage : 0;
        }
        if (words.empty() && !problem.empty()) return UsageError(problem, nullptr, io);
        if (!words.empty() && words[0] == "help") {
            PrintHelp(out);
            return 0;
        }
        if (!words.empty() && IsGroup(words[0]))
            return UsageError(words.size() > 1 ? "unknown command '" + words[0] + " " +
                                                     words[1] + "'"
                                               : "'" + words[0] + "' needs a command",
                              nullptr, io);
        return UsageError(words.empty() ? "no command given"
                                         : "unknown command '" + words[0] + "'",
                          nullptr, io);
    }
    return RunCommand(*command, WithoutCommandWords(args, words, used), io);
}
