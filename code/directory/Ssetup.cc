// CreateSpecialAccounts: the service accounts and templates of a new installation,
// written under one SAccountDBMod with one SAccountMod rebound to each account.
// Individual stores are not checked: one the database refuses (an address another
// account already holds) stays unset and the rest goes on.
#include "Ssetup.h"

#include "SAccount.h"
#include "SRegex.h"

namespace {

// One attribute to set: name and its single value (several for the addresses).
struct Setting {
    const char* name;
    SStringList values;
};

// The addresses local@D2 then local@D1; when the two domains are the same the second
// would repeat the first and is left out.
SStringList TwoAddresses(const char* local, const SString& d1, const SString& d2) {
    SStringList list(SString(local) + "@" + d2);
    if (!d1.CompareNoCase(d2)) list.Push(SString(local) + "@" + d1);
    return list;
}

void Apply(SAccountMod& account, const std::initializer_list<Setting>& settings) {
    for (const Setting& s : settings) account.Set(s.name, s.values);
}

void ApplyServiceCommon(SAccountMod& account) {
    Apply(account, {{"SMTP-RewriteStyle", "comment"},
                    {"Finger-Access", "none"},
                    {"Access-Domains", "none"}});
}

// Creates the account with its settings when it does not exist yet.
template <typename Fill>
void CreateIfMissing(SAccountDBMod& db, const char* uid, Fill&& fill) {
    if (db.GetAccountInfo(uid)) return;
    SAccountMod account;
    if (!db.ModifyAccount(uid, &account)) return;
    fill(account);
}

void CreateManager(SAccountDBMod& db, const char* uid, const char* name,
                   const SStringList& addresses) {
    CreateIfMissing(db, uid, [&](SAccountMod& account) {
        Apply(account, {{"Name", name}, {"Manager-Delivery", uid}, {"SMTP-Address", addresses}});
        ApplyServiceCommon(account);
        account.Lock();
    });
}

void CreateListManager(SAccountDBMod& db, const SString& d1) {
    CreateIfMissing(db, "List-Manager", [&](SAccountMod& account) {
        SStringList addresses("List.Manager@" + d1);
        addresses.Push("Majordomo@" + d1);
        Apply(account, {{"Handler-Delivery", "List-Manager"},
                        {"Name", "List Manager"},
                        {"SMTP-Address", addresses}});
        ApplyServiceCommon(account);
        account.Lock();
    });
}

// An "Error-Handler" whose every address is an address literal ("x@[10.1.2.3]"), or
// which has none, gets its standard addresses back.
void RepairErrorHandler(SAccountDBMod& db, const SStringList& addresses) {
    SAccountMod account;
    if (!db.GetAccountInfo("Error-Handler", &account)) return;
    SRegex bracket("\\[");
    SStringList current = account.Get("SMTP-Address");
    if (current.Grep(bracket, 0).Count() == 0) account.Set("SMTP-Address", addresses);
}

void CreateTemplates(SAccountDBMod& db) {
    CreateIfMissing(db, "Default", [](SAccountMod& account) {
        account.Set("SMTP-RewriteStyle", "comment");
    });
    CreateIfMissing(db, "Default-List", [](SAccountMod& account) {
        Apply(account, {{"List-Address-Expansion-Style", "none"},
                        {"List-Moderation-Method", "queue-notify"},
                        {"List-Priority", "3"},
                        {"SMTP-RewriteStyle", "comment"},
                        {"List-Remove-X-Headers", "no"},
                        {"List-Digest-Schedule", "daily"},
                        {"List-Digest-Restriction", "none"},
                        {"List-Moderation-Method", "queue-notify"},
                        {"List-Address-Expansion-Style", "none"},
                        {"List-Local-Subscriber-Policy", "open"},
                        {"List-Remote-Subscriber-Policy", "open"},
                        {"List-Verify-Subscriptions", "yes"},
                        {"List-Verify-Unsubscriptions", "yes"},
                        {"List-Moderate-Unsubscriptions", "no"},
                        {"List-Subscriber-Posting-Policy", "open"},
                        {"List-Nonsubscriber-Posting-Policy", "open"},
                        {"List-Request-Detection", "yes"},
                        {"List-Max-Subscribers", "100"},
                        {"List-Max-Messages-Per-Day", "100"},
                        {"List-Max-Kbytes-Per-Day", "1000"},
                        {"List-Max-Message-Kbytes", "500"}});
    });
}

}  // namespace

int CreateSpecialAccounts(const SString& primary, const SString& alias) {
    const SString& d1 = primary;
    const SString d2 = alias.Length() > 0 ? alias : primary;
    SAccountDBMod db;
    CreateManager(db, "Configuration-Manager", "Configuration Manager",
                  TwoAddresses("Configuration", d1, d2));
    SStringList accounts = TwoAddresses("Accounts", d1, d2);
    accounts.Push("Account@" + d1);
    CreateManager(db, "Account-Manager", "Account Manager", accounts);
    SStringList errors = TwoAddresses("Error-Handler", d1, d2);
    if (db.GetAccountInfo("Error-Handler"))
        RepairErrorHandler(db, errors);
    else
        CreateManager(db, "Error-Handler", "Error Handler", errors);
    CreateListManager(db, d1);
    CreateTemplates(db);
    return 1;
}
