// quillbox-admin's operations on the directory database.  Each one validates all of
// its input first (addresses, domains, attribute names and values, who already holds a
// unique value), then writes; a store the database still refuses is undone, so a
// refused request never leaves a half-made account behind.
#include "AdminLib.h"

#include <cerrno>
#include <cstring>

#include "AdminOutput.h"
#include "SAliasDB.h"
#include "SBTree.h"
#include "SIdentifier.h"
#include "SParser.h"
#include "Sdbfile.h"
#include "Sfiledir.h"
#include "Sprocess.h"
#include "Ssetup.h"

namespace {

const char* const ServiceAccounts[] = {"Postmaster",   "Configuration-Manager",
                                       "Account-Manager", "Error-Handler",
                                       "List-Manager", "Default", "Default-List"};

// The largest quota in kilobytes whose byte count still fits the 32-bit arithmetic of
// mailbox delivery.
constexpr long MaxQuotaKbytes = 2097151;

bool IsServiceAccount(const SString& uid) {
    for (const char* name : ServiceAccounts)
        if (uid == name) return true;
    return false;
}

SString Quoted(const SString& text) { return "'" + text + "'"; }

bool HasControlCharacter(const SString& text) {
    for (int i = 0; i < text.Length(); ++i)
        if (text[i] < 0x20 || text[i] == 0x7f) return true;
    return false;
}

bool IsDecimal(const SString& text, long& value) {
    if (text.Length() == 0 || text.Length() > 9) return false;
    value = 0;
    for (int i = 0; i < text.Length(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool ContainsNoCase(const SStringList& list, const SString& item) {
    for (int i = 0; i < list.Count(); ++i)
        if (list.Get(i).CompareNoCase(item)) return true;
    return false;
}

SString DomainOf(const SString& stored) {
    int at = stored.RIndex('@');
    return stored.Segment(at + 1, stored.Length() - at - 1);
}

SString SystemError() { return SString(std::strerror(errno)); }

SString WithoutAngles(const SString& address) {
    if (address.Length() >= 2 && address[0] == '<' && address[-1] == '>')
        return address.Segment(1, address.Length() - 2);
    return address;
}

// Channel values travel as "SMTP <address>"; people read the address alone.
SString ChannelTarget(const SString& value) {
    return WithoutAngles(value.HasPrefix("SMTP ") ? value.Segment(5, value.Length() - 5) : value);
}

SStringList ChannelTargets(const SStringList& values) {
    SStringList targets;
    targets.Reset();
    values.ForEach([&targets](const SString& v) { targets.Push(ChannelTarget(v)); });
    return targets;
}

// "1 alias", "3 aliases".
SString Counted(int n, const char* one, const char* many) {
    return SString(n) + " " + (n == 1 ? one : many) + "\n";
}

AdminResult Done(const SString& text, const SString& json) {
    AdminResult result;
    result.text = text;
    result.json = json;
    return result;
}

}  // namespace

AdminResult AdminResult::Refuse(const SString& why, int status) {
    AdminResult result;
    result.status = status;
    result.error = why;
    result.json = JsonObject().Bool("ok", false).Str("error", why).Text();
    return result;
}

const SStringList& AdminContext::LocalDomains() {
    if (!loaded) {
        domains = LowerCase(SAccountDB().GetLocalMailDomains());
        loaded = true;
    }
    return domains;
}

// ---- checks ------------------------------------------------------------------------------

bool AdminParseAddress(const SString& text, SString& stored, SString& why) {
    S821Parser parser(text, 0);
    S821Address address = parser.ExtractAddress();
    SStringList rest = parser.Extensions();
    if (!address.IsValid() || address.Domain().Length() == 0 || address.Route().Count() > 0 ||
        rest.Count() > 0 || HasControlCharacter(text)) {
        why = Quoted(text) + " is not a mail address of the form local@domain";
        return false;
    }
    if (!AdminValidDomain(address.Domain())) {
        why = Quoted(text) + " has an invalid domain";
        return false;
    }
    stored = address.LocalPart() + "@" + address.Domain();
    return true;
}

bool AdminValidDomain(const SString& domain) {
    return domain.Length() > 0 && domain.Length() <= 255 && IsValidDomain(domain) != 0;
}

bool AdminValidUID(const SString& uid, SString& why) {
    bool ok = uid.Length() > 0 && uid.Length() <= 64;
    for (int i = 0; ok && i < uid.Length(); ++i) {
        int c = uid[i];
        ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
             c == '.' || c == '_' || c == '-';
    }
    if (!ok) {
        why = "account name " + Quoted(uid) +
              " must be 1 to 64 letters, digits, '.', '_' or '-'";
        return false;
    }
    if (uid == "Default" || uid.HasPrefix("Default-")) {
        why = "account names 'Default' and 'Default-...' are reserved for templates";
        return false;
    }
    return true;
}

namespace {

SString CheckTreeFile(const SString& path) {
    if (!FileExists(path)) return SString("");
    if (!IsReadable(path)) return "cannot read the account database file " + path;
    SBTree tree(path);
    if (!tree.Open()) return "the account database file " + path + " is damaged";
    return SString("");
}

SString CheckStoreFile(const SString& config) {
    SString path = config + "/MTA-Accounts";
    if (!FileExists(path)) return SString("");
    if (!IsReadable(path)) return "cannot read the alias and domain store " + path;
    if (!IsWriteable(config)) return SString("");  // the store opens only where it may write
    Sdbfile store(config, "MTA-Accounts", 0);
    if (!store.IsOpen()) return "the alias and domain store " + path + " is damaged";
    return SString("");
}

}  // namespace

SString AdminCheckInstallation(const SString& root) {
    SString config = root + "/config";
    if (!IsDirectory(config))
        return root + " is not a Quillbox installation (it has no config directory); "
                      "create one with 'quillbox-admin init'";
    SString why = CheckTreeFile(config + "/BTAccounts.a");
    if (why.Length() == 0) why = CheckTreeFile(config + "/BTAccounts.i");
    if (why.Length() == 0) why = CheckStoreFile(config);
    return why;
}

// ---- installation ------------------------------------------------------------------------

namespace {

const char* const TreeDirectories[] = {"config", "control", "messages", "deferred", "listdata"};

SString MakeTree(const SString& root, const SString& mailboxes) {
    for (const char* name : TreeDirectories) {
        SString dir = root + "/" + name;
        if (!MakeDir(dir, 0770)) return "cannot create " + dir + ": " + SystemError();
    }
    if (!MakeDir(mailboxes, 0770)) return "cannot create " + mailboxes + ": " + SystemError();
    return SString("");
}

SStringList PostmasterAddresses(const SString& d1, const SString& d2) {
    SStringList addresses("Postmaster@" + d1);
    if (d2.Length() > 0 && !d2.CompareNoCase(d1)) addresses.Push("Postmaster@" + d2);
    return addresses;
}

// "Postmaster" is not among the special accounts of the library: the installation
// makes it here, as a mailbox account, with the password given to init.
bool MakePostmaster(const AdminInitSpec& spec) {
    SAccountDBMod db;
    SAccountMod postmaster;
    bool existed = db.GetAccountInfo("Postmaster");
    if (!db.ModifyAccount("Postmaster", &postmaster)) return false;
    bool ok = true;
    if (!existed) {
        ok = postmaster.Set("Name", "Postmaster") &&
             postmaster.Set("SMTP-Address", PostmasterAddresses(spec.domain, spec.aliasDomain)) &&
             postmaster.Set("Local-Delivery", "Mailbox");
    }
    if (ok && spec.password.Defined()) ok = postmaster.Set("Password", spec.password);
    return ok;
}

bool RecordDomains(const AdminInitSpec& spec) {
    SAliasDBMod store;
    SStringList wanted(spec.domain);
    wanted.Push(spec.aliasDomain);
    wanted.Push(spec.host);
    SStringList current = SAccountDB().GetLocalMailDomains();
    if (!current.Defined()) current.Reset();
    SStringList all = current;
    wanted.ForEach([&all](const SString& d) {
        if (d.Length() > 0 && !ContainsNoCase(all, d)) all.Push(d);
    });
    return store.SetLocalMailDomains(all);
}

// The settings the installation's programs start with, one "name=value" line each;
// written under a temporary name and renamed, so a reader never sees half of it.
bool WriteEnvironment(const SString& root, const AdminInitSpec& spec, const SString& mailboxes) {
    SString text = "Quillbox=" + root + "\nDomainName=" + spec.domain + "\nMailboxDir=" +
                   mailboxes + "\n";
    if (spec.host.Length() > 0) text += "HostName=" + spec.host + "\n";
    SString path = root + "/config/environment";
    SString temporary = path + ".new." + ProcessIdString();
    if (MapFileWrite(temporary, text) && Rename(temporary, path)) return true;
    RemoveFile(temporary);
    return false;
}

SString CheckInitSpec(const AdminInitSpec& spec) {
    if (spec.root.Length() == 0) return "no installation root given";
    if (!AdminValidDomain(spec.domain))
        return "--domain " + Quoted(spec.domain) + " is not a valid domain";
    if (spec.aliasDomain.Length() > 0 && !AdminValidDomain(spec.aliasDomain))
        return "--alias-domain " + Quoted(spec.aliasDomain) + " is not a valid domain";
    if (spec.host.Length() > 0 && !AdminValidDomain(spec.host))
        return "--host " + Quoted(spec.host) + " is not a valid host name";
    if (spec.password.Defined() && spec.password.Length() == 0)
        return "the password read from standard input is empty";
    return SString("");
}

}  // namespace

AdminResult AdminInit(const AdminInitSpec& spec) {
    SString why = CheckInitSpec(spec);
    if (why.Length() > 0) return AdminResult::Refuse(why);
    if (!MakeDir(spec.root, 0770))
        return AdminResult::Refuse("cannot create " + spec.root + ": " + SystemError());
    SString root = RealPath(spec.root);
    SString mailboxes = spec.mailboxDir.Length() > 0 ? spec.mailboxDir : root + "/mailboxes";
    why = MakeTree(root, mailboxes);
    if (why.Length() > 0) return AdminResult::Refuse(why);
    PutEnv("Quillbox", root);
    SAccountBase::CloseDatabases();
    why = AdminCheckInstallation(root);
    if (why.Length() > 0) return AdminResult::Refuse(why);

    CreateSpecialAccounts(spec.domain, spec.aliasDomain);
    if (!MakePostmaster(spec)) return AdminResult::Refuse("the database refused the Postmaster account");
    if (!RecordDomains(spec)) return AdminResult::Refuse("cannot record the local mail domains");
    if (!WriteEnvironment(root, spec, mailboxes))
        return AdminResult::Refuse("cannot write " + root + "/config/environment: " + SystemError());

    SAccountDB db;
    SStringList domains = db.GetLocalMailDomains();
    SStringList accounts = db.AccountUIDList();
    SString text = "Installation ready at " + root + "\n" + TextField("Mail domains", domains) +
                   TextField("Mailboxes", SStringList(mailboxes)) +
                   TextField("Accounts", SStringList(accounts.Join(", ")));
    JsonObject json;
    json.Bool("ok", true).Str("root", root).List("domains", domains).Str("mailboxes", mailboxes)
        .List("accounts", accounts);
    return Done(text, json.Text());
}

// ---- account values ----------------------------------------------------------------------

namespace {

// How the values of an attribute are checked before they are stored.
enum class ValueKind { Text, LocalAddress, Address, Number, Account, Domain };

ValueKind KindOf(int code) {
    switch (code) {
    case AC_SMTP_Address: return ValueKind::LocalAddress;
    case AC_Remote_SMTP_Address:
    case AC_ListMgr_SMTP_Address:
    case AC_ListOwner_SMTP_Address: return ValueKind::Address;
    case AC_Mailbox_Quota:
    case AC_List_Priority:
    case AC_List_Max_Subscribers:
    case AC_List_Max_Messages_Per_Day:
    case AC_List_Max_Kbytes_Per_Day:
    case AC_List_Max_Message_Kbytes: return ValueKind::Number;
    case AC_Account_Delivery:
    case AC_Subscribed_Lists:
    case AC_Subscribed_Lists_Immediate:
    case AC_Subscribed_Lists_Digest:
    case AC_List_Owners:
    case AC_Linked_Manager_Account:
    case AC_Linked_Owner_Account: return ValueKind::Account;
    case AC_Parent_Domains:
    case AC_Managed_Domains: return ValueKind::Domain;
    default: return ValueKind::Text;
    }
}

bool IsUnique(int code) { return (ai_AttribFlags[code] & AttribUnique) != 0; }

// Attributes with commands of their own, or none at all.
SString ReservedAttribute(int code) {
    switch (code) {
    case AC_Type: return SString("'Type' is kept by the database itself");
    case AC_Password:
    case AC_Raw_Password:
    case AC_ProgDel_Password:
        return SString("passwords are never taken on the command line; use "
                       "'account password UID', which reads it from standard input");
    case AC_Locked: return SString("use 'account lock UID' or 'account unlock UID'");
    default: return SString();
    }
}

SString CheckAttributeName(const SString& name, int& code) {
    code = SAccountBase::AttribCode(name);
    if (code < 0) return "unknown attribute " + Quoted(name) + " (names are case-sensitive)";
    SString reserved = ReservedAttribute(code);
    return reserved.Defined() ? "cannot set " + Quoted(name) + ": " + reserved : SString("");
}

SString CheckLocalDomain(const SString& stored, AdminContext& context) {
    SString domain = DomainOf(stored);
    if (ContainsNoCase(context.LocalDomains(), domain)) return SString("");
    return "domain " + Quoted(domain) +
           " is not a local mail domain of this installation (see 'domain add')";
}

// One value checked, and brought into its stored form.
SString CheckValue(SAccountDB& db, ValueKind kind, const SString& value, SString& stored,
                   AdminContext& context) {
    SString why;
    long number = 0;
    stored = value;
    switch (kind) {
    case ValueKind::LocalAddress:
        if (!AdminParseAddress(value, stored, why)) return why;
        return CheckLocalDomain(stored, context);
    case ValueKind::Address:
        return AdminParseAddress(value, stored, why) ? SString("") : why;
    case ValueKind::Number:
        return IsDecimal(value, number) ? SString("") : Quoted(value) + " is not a whole number";
    case ValueKind::Account:
        return db.GetAccountInfo(value) ? SString("") : "there is no account " + Quoted(value);
    case ValueKind::Domain:
        return AdminValidDomain(value) ? SString("") : Quoted(value) + " is not a valid domain";
    case ValueKind::Text:
        return HasControlCharacter(value) ? Quoted(value) + " holds a control character"
                                          : SString("");
    }
    return SString("");
}

// A unique value must not belong to another account, and a local address must not
// already be a channel alias (the account would hide it).
SString CheckOwner(SAccountDB& db, int code, const SString& uid, const SString& stored) {
    if (!IsUnique(code)) return SString("");
    SStringList owners = db.IndexLookup(SAccountBase::AttribName(code), stored);
    for (int i = 0; i < owners.Count(); ++i)
        if (owners.Get(i) != uid)
            return Quoted(stored) + " already belongs to account " + Quoted(owners.Get(i));
    if (code == AC_SMTP_Address && SAliasDB().GetChannelAliases(S821Address(stored)).Count() > 0)
        return Quoted(stored) + " is a channel alias; delete the alias first";
    return SString("");
}

// All values of one attribute, checked together; `stored` receives their stored forms.
SString CheckValues(SAccountDB& db, int code, const SString& uid, const SStringList& values,
                    SStringList& stored, AdminContext& context) {
    ValueKind kind = KindOf(code);
    stored.Reset();
    SStringList seen;
    for (int i = 0; i < values.Count(); ++i) {
        SString form;
        SString why = CheckValue(db, kind, values.Get(i), form, context);
        if (why.Length() == 0) why = CheckOwner(db, code, uid, form);
        if (why.Length() > 0) return why;
        SString key = SString(form).LowerCase();
        if (IsUnique(code) && seen.Contains(key)) return Quoted(form) + " is given twice";
        seen.Push(key);
        stored.Push(form);
    }
    if (code == AC_Mailbox_Quota) {
        long kb = 0;
        if (stored.Count() != 1 || !IsDecimal(stored.Get(0), kb) || kb > MaxQuotaKbytes)
            return "Mailbox-Quota takes one number of kilobytes, at most " +
                   SString(MaxQuotaKbytes);
    }
    return SString("");
}

}  // namespace

// ---- accounts ----------------------------------------------------------------------------

namespace {

SString CheckAccountSpec(SAccountDB& db, const AdminAccountSpec& spec, SStringList& addresses,
                         AdminContext& context) {
    SString why;
    if (!AdminValidUID(spec.uid, why)) return why;
    if (db.GetAccountInfo(spec.uid)) return "account " + Quoted(spec.uid) + " already exists";
    if (spec.addresses.Count() == 0) return SString("an account needs at least one --address");
    why = CheckValues(db, AC_SMTP_Address, spec.uid, spec.addresses, addresses, context);
    if (why.Length() > 0) return why;
    SStringList ignored;
    if (spec.name.Defined()) {
        why = CheckValues(db, AC_Name, spec.uid, SStringList(spec.name), ignored, context);
        if (why.Length() > 0) return why;
    }
    if (spec.quota.Defined()) {
        why = CheckValues(db, AC_Mailbox_Quota, spec.uid, SStringList(spec.quota), ignored,
                          context);
        if (why.Length() > 0) return why;
    }
    if (spec.password.Defined() && spec.password.Length() == 0)
        return SString("the password read from standard input is empty");
    return SString("");
}

// Stores the checked account; false when the database refused any of it.
bool StoreAccount(SAccountDBMod& db, const AdminAccountSpec& spec, const SStringList& addresses) {
    SAccountMod account;
    if (!db.ModifyAccount(spec.uid, &account)) return false;
    bool ok = account.Set(AC_SMTP_Address, addresses) &&
              account.Set(AC_Local_Delivery, SStringList("Mailbox"));
    if (ok && spec.name.Defined()) ok = account.Set(AC_Name, SStringList(spec.name));
    if (ok && spec.quota.Defined()) ok = account.Set(AC_Mailbox_Quota, SStringList(spec.quota));
    if (ok && spec.password.Defined()) ok = account.Set(AC_Password, SStringList(spec.password));
    return ok;
}

SString AccountSummary(SAccount& account) {
    SString flags;
    if (account.IsLocked()) flags += " locked";
    if (account.IsListAcct()) flags += " list";
    if (account.IsRemoteAcct()) flags += " remote";
    return flags;
}

SString RefuseMissing(const SString& uid) { return "there is no account " + Quoted(uid); }

}  // namespace

AdminResult AdminAddAccount(SAccountDBMod& db, const AdminAccountSpec& spec,
                            AdminContext& context) {
    SStringList addresses;
    SString why = CheckAccountSpec(db, spec, addresses, context);
    if (why.Length() > 0) return AdminResult::Refuse(why);
    if (!StoreAccount(db, spec, addresses)) {
        db.DeleteAccount(spec.uid);
        return AdminResult::Refuse("the database refused account " + Quoted(spec.uid) +
                                   "; nothing was added");
    }
    return Done("Added account " + spec.uid + " <" + addresses.Join(">, <") + ">\n",
                JsonObject().Bool("ok", true).Str("uid", spec.uid).List("addresses", addresses)
                    .Text());
}

namespace {

// What `show` prints for an attribute: passwords only as "(set)".
SStringList ShownValues(SAccount& account, int code) {
    if (code == AC_Password || code == AC_ProgDel_Password)
        return SStringList(account.Get(code).Count() > 0 ? "(set)" : "(empty)");
    return account.Get(code);
}

}  // namespace

AdminResult AdminShowAccount(const SString& uid) {
    SAccountDB db;
    SAccount account;
    if (!db.GetAccountInfo(uid, &account)) return AdminResult::Refuse(RefuseMissing(uid));
    SString text = "Account " + uid + "\n";
    JsonObject attributes;
    account.Values().ForEach([&](const SString& name) {
        SStringList values = ShownValues(account, SAccountBase::AttribCode(name));
        text += TextField(name, values);
        attributes.List(name.Chars(), values);
    });
    SString status = account.IsLocked() ? "locked" : "active";
    if (account.IsListAcct()) status += ", list";
    if (account.IsRemoteAcct()) status += ", remote subscriber";
    text += TextField("Status", SStringList(status));
    JsonObject json;
    json.Bool("ok", true).Str("uid", uid).Bool("locked", account.IsLocked())
        .Bool("list", account.IsListAcct()).Bool("remote", account.IsRemoteAcct())
        .Raw("attributes", attributes.Text());
    return Done(text, json.Text());
}

AdminResult AdminSetAttribute(SAccountDBMod& db, const SString& uid, const SString& name,
                              const SStringList& values, AdminContext& context) {
    int code = -1;
    SString why = CheckAttributeName(name, code);
    if (why.Length() > 0) return AdminResult::Refuse(why);
    SAccountMod account;
    if (!db.GetAccountInfo(uid, &account)) return AdminResult::Refuse(RefuseMissing(uid));
    if (values.Count() == 0)
        return AdminResult::Refuse("no value given; 'account unset' removes an attribute",
                                   AdminUsage);
    SStringList stored;
    why = CheckValues(db, code, uid, values, stored, context);
    if (why.Length() > 0) return AdminResult::Refuse(why);
    if (!account.Set(code, stored))
        return AdminResult::Refuse("the database refused the change; " + name + " is unchanged");
    return Done("Set " + name + " of " + uid + "\n" + TextField(name, stored),
                JsonObject().Bool("ok", true).Str("uid", uid).List(name.Chars(), stored).Text());
}

AdminResult AdminUnsetAttribute(SAccountDBMod& db, const SString& uid, const SString& name) {
    int code = -1;
    SString why = CheckAttributeName(name, code);
    if (why.Length() > 0) return AdminResult::Refuse(why);
    SAccountMod account;
    if (!db.GetAccountInfo(uid, &account)) return AdminResult::Refuse(RefuseMissing(uid));
    if (!account.Values().Contains(name))
        return AdminResult::Refuse("account " + Quoted(uid) + " has no " + name);
    if (!account.Delete(name)) return AdminResult::Refuse("the database refused the change");
    return Done("Removed " + name + " from " + uid + "\n",
                JsonObject().Bool("ok", true).Str("uid", uid).Str("removed", name).Text());
}

AdminResult AdminSetPassword(SAccountDBMod& db, const SString& uid, const SString& password) {
    SAccountMod account;
    if (!db.GetAccountInfo(uid, &account)) return AdminResult::Refuse(RefuseMissing(uid));
    if (password.Length() == 0)
        return AdminResult::Refuse("the password read from standard input is empty");
    bool wasLocked = account.IsLocked();
    if (!account.Set(AC_Password, SStringList(password)))
        return AdminResult::Refuse("the database refused the new password");
    SString text = "Password of " + uid + " set" + (wasLocked ? "; the account is unlocked" : "");
    return Done(text + "\n", JsonObject().Bool("ok", true).Str("uid", uid)
                                 .Bool("unlocked", wasLocked).Text());
}

namespace {

// The accounts that refer to `uid`, and the linked accounts that go with it.
SStringList Referrers(SAccountDB& db, const SString& uid) {
    SStringList holders;
    holders.Reset();
    const char* const references[] = {"Account-Delivery", "Subscribed-Lists",
                                      "Subscribed-Lists-Immediate", "Subscribed-Lists-Digest",
                                      "List-Owners"};
    for (const char* name : references)
        db.IndexLookup(name, uid).ForEach([&holders, &uid](const SString& h) {
            if (h != uid && !holders.Contains(h)) holders.Push(h);
        });
    return holders;
}

}  // namespace

AdminResult AdminDeleteAccount(SAccountDBMod& db, const SString& uid, bool force) {
    SAccount account;
    if (!db.GetAccountInfo(uid, &account)) return AdminResult::Refuse(RefuseMissing(uid));
    if (IsServiceAccount(uid) && !force)
        return AdminResult::Refuse(Quoted(uid) + " is a service account of the installation; "
                                   "add --force to delete it anyway");
    SStringList cleaned = Referrers(db, uid);
    SStringList linked = account.Get(AC_Linked_Manager_Account);
    linked.Push(account.Get(AC_Linked_Owner_Account));
    if (!db.DeleteAccount(uid)) return AdminResult::Refuse("the database refused to delete " + uid);
    SString text = "Deleted account " + uid + "\n";
    if (cleaned.Count() > 0) text += TextField("References removed from", cleaned);
    if (linked.Count() > 0) text += TextField("Linked accounts deleted", linked);
    JsonObject json;
    json.Bool("ok", true).Str("uid", uid).List("cleaned", cleaned).List("linked", linked);
    return Done(text, json.Text());
}

AdminResult AdminLockAccount(SAccountDBMod& db, const SString& uid, bool lock) {
    SAccountMod account;
    if (!db.GetAccountInfo(uid, &account)) return AdminResult::Refuse(RefuseMissing(uid));
    bool was = account.IsLocked();
    bool ok = true;
    if (lock && !was) ok = account.Lock();
    if (!lock && was) ok = account.Unlock();
    if (!ok) return AdminResult::Refuse("the database refused the change");
    SString word = lock ? "locked" : "unlocked";
    SString text = (was == lock ? "Account " + uid + " was already " : "Account " + uid + " ") + word;
    return Done(text + "\n", JsonObject().Bool("ok", true).Str("uid", uid)
                                 .Bool("locked", lock).Bool("changed", was != lock).Text());
}

AdminResult AdminListAccounts() {
    SAccountDB db;
    SStringList uids = db.AccountUIDList();
    SString text;
    SStringList items;
    items.Reset();
    uids.ForEach([&](const SString& uid) {
        SAccount account;
        db.GetAccountInfo(uid, &account);
        SString primary = account.GetPrimaryAddress();
        SString flags = AccountSummary(account);
        SString padded = uid;
        while (padded.Length() < 24) padded += ' ';
        text += padded + " " + (primary.Length() > 0 ? primary : SString("-")) + flags + "\n";
        items.Push(JsonObject().Str("uid", uid).Str("address", primary)
                       .Bool("locked", account.IsLocked()).Bool("list", account.IsListAcct())
                       .Bool("remote", account.IsRemoteAcct()).Text());
    });
    text += Counted(uids.Count(), "account", "accounts");
    return Done(text, JsonObject().Bool("ok", true).Raw("accounts", JsonArray(items)).Text());
}

// ---- finding an address ------------------------------------------------------------------

namespace {

AdminResult FoundAccount(SAccountDB& db, const SString& address, const SString& uid,
                         const char* how) {
    SAccount account;
    db.GetAccountInfo(uid, &account);
    SStringList names = account.Get(AC_Name);
    SStringList addresses = account.Get(AC_SMTP_Address);
    SString text = address + " -> account " + uid + how + "\n" + TextField("Name", names) +
                   TextField("SMTP-Address", addresses) +
                   TextField("Status", SStringList(account.IsLocked() ? "locked" : "active"));
    JsonObject json;
    json.Bool("ok", true).Str("address", address).Str("kind", "account").Str("uid", uid)
        .Bool("catchAll", *how != 0).List("names", names).List("addresses", addresses)
        .Bool("locked", account.IsLocked());
    return Done(text, json.Text());
}

AdminResult FoundAlias(const SString& address, const SStringList& aliases) {
    SStringList targets = ChannelTargets(aliases);
    SString text = address + " -> alias\n" + TextField("Delivered to", targets);
    JsonObject json;
    json.Bool("ok", true).Str("address", address).Str("kind", "alias").List("targets", targets);
    return Done(text, json.Text());
}

}  // namespace

// The order the SMTP router follows: the account holding the address, then a channel
// alias, then the catch-all account ("*@domain") of a local domain.
AdminResult AdminFindAddress(const SString& text) {
    SString stored, why;
    if (!AdminParseAddress(text, stored, why)) return AdminResult::Refuse(why);
    SAccountDB db;
    S821Address address(stored);
    SString uid = db.GetAccountUID(address);
    if (uid.Length() > 0) return FoundAccount(db, stored, uid, "");
    SStringList aliases = SAliasDB().GetChannelAliases(address);
    if (aliases.Count() > 0) return FoundAlias(stored, aliases);
    S821Address catchAll("*@" + address.Domain());
    AdminContext context;
    if (ContainsNoCase(context.LocalDomains(), address.Domain())) {
        uid = db.GetAccountUID(catchAll);
        if (uid.Length() > 0) return FoundAccount(db, stored, uid, " (catch-all)");
    }
    return AdminResult::Refuse("no account or alias receives mail for " + stored);
}

// ---- aliases -----------------------------------------------------------------------------

namespace {

SString CheckAliasTargets(const SString& alias, const SStringList& targets, SStringList& values) {
    values.Reset();
    if (targets.Count() == 0) return SString("an alias needs at least one target address");
    for (int i = 0; i < targets.Count(); ++i) {
        SString stored, why;
        if (!AdminParseAddress(targets.Get(i), stored, why)) return why;
        if (stored.CompareNoCase(alias)) return "an alias cannot deliver to itself";
        SString value = "SMTP <" + stored + ">";
        if (ContainsNoCase(values, value)) return Quoted(stored) + " is given twice";
        values.Push(value);
    }
    return SString("");
}

}  // namespace

AdminResult AdminAddAlias(const SString& text, const SStringList& targets) {
    SString stored, why;
    if (!AdminParseAddress(text, stored, why)) return AdminResult::Refuse(why);
    SStringList values;
    why = CheckAliasTargets(stored, targets, values);
    if (why.Length() > 0) return AdminResult::Refuse(why);
    S821Address address(stored);
    SString owner = SAccountDB().GetAccountUID(address);
    if (owner.Length() > 0)
        return AdminResult::Refuse(Quoted(stored) + " belongs to account " + Quoted(owner) +
                                   "; mail for it would never reach an alias");
    SAliasDBMod aliases;
    if (aliases.GetChannelAliases(address).Count() > 0)
        return AdminResult::Refuse(Quoted(stored) + " is already an alias; delete it first");
    if (!aliases.AddChannelAliases(address, values))
        return AdminResult::Refuse("cannot write the alias store");
    SStringList shown = ChannelTargets(values);
    return Done("Added alias " + stored + " -> " + shown.Join(", ") + "\n",
                JsonObject().Bool("ok", true).Str("address", stored).List("targets", shown)
                    .Text());
}

AdminResult AdminListAliases() {
    SAliasDB aliases;
    SStringList names = aliases.GetAliases();
    SString text;
    SStringList items;
    items.Reset();
    names.ForEach([&](const SString& name) {
        SStringList targets = ChannelTargets(aliases.GetChannelAliases(S821Address(name)));
        SString shown = WithoutAngles(name);
        text += shown + " -> " + targets.Join(", ") + "\n";
        items.Push(JsonObject().Str("address", shown).List("targets", targets).Text());
    });
    text += Counted(names.Count(), "alias", "aliases");
    return Done(text, JsonObject().Bool("ok", true).Raw("aliases", JsonArray(items)).Text());
}

AdminResult AdminDeleteAlias(const SString& text) {
    SString stored, why;
    if (!AdminParseAddress(text, stored, why)) return AdminResult::Refuse(why);
    S821Address address(stored);
    SAliasDBMod aliases;
    if (!aliases.GetChannelAliases(address).Defined())
        return AdminResult::Refuse(Quoted(stored) + " is not an alias");
    if (!aliases.DeleteChannelAliases(address))
        return AdminResult::Refuse("cannot write the alias store");
    return Done("Deleted alias " + stored + "\n",
                JsonObject().Bool("ok", true).Str("address", stored).Text());
}

// ---- local mail domains ------------------------------------------------------------------

AdminResult AdminAddDomain(const SString& domain) {
    if (!AdminValidDomain(domain))
        return AdminResult::Refuse(Quoted(domain) + " is not a valid domain");
    SAliasDBMod store;
    SStringList domains = SAccountDB().GetLocalMailDomains();
    if (ContainsNoCase(domains, domain))
        return AdminResult::Refuse(Quoted(domain) + " is already a local mail domain");
    if (!domains.Defined()) domains.Reset();
    domains.Push(domain);
    if (!store.SetLocalMailDomains(domains))
        return AdminResult::Refuse("cannot write the domain list");
    return Done("Added local mail domain " + domain + "\n",
                JsonObject().Bool("ok", true).List("domains", domains).Text());
}

AdminResult AdminDeleteDomain(const SString& domain) {
    SAliasDBMod store;
    SStringList domains = SAccountDB().GetLocalMailDomains();
    SStringList kept;
    kept.Reset();
    domains.ForEach([&](const SString& d) {
        if (!d.CompareNoCase(domain)) kept.Push(d);
    });
    if (kept.Count() == domains.Count())
        return AdminResult::Refuse(Quoted(domain) + " is not a local mail domain");
    if (!store.SetLocalMailDomains(kept))
        return AdminResult::Refuse("cannot write the domain list");
    return Done("Deleted local mail domain " + domain + "\n",
                JsonObject().Bool("ok", true).List("domains", kept).Text());
}

AdminResult AdminListDomains() {
    SStringList domains = SAccountDB().GetLocalMailDomains();
    if (!domains.Defined()) domains.Reset();
    SString text = domains.Count() > 0 ? domains.Join("\n") + "\n" : SString("");
    text += Counted(domains.Count(), "local mail domain", "local mail domains");
    return Done(text, JsonObject().Bool("ok", true).List("domains", domains).Text());
}
