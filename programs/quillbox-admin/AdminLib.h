// The operations of quillbox-admin, apart from its command line: set an installation
// up, and add, change, find and remove accounts, aliases and local mail domains.
//
// Every operation checks its input completely before it writes anything, so a refused
// request leaves the database as it was, and reports in an AdminResult: a status (0
// done, 1 refused, 2 the request itself is malformed), the reason, and the report both
// as text for a person and as one JSON value.  Account changes take an SAccountDBMod
// from the caller, so a batch of them (the benchmarks create 100,000) runs under one
// write lock.  The installation root is the environment variable "Quillbox".
#ifndef QUILLBOX_ADMIN_ADMINLIB_H
#define QUILLBOX_ADMIN_ADMINLIB_H

#include "SAccount.h"
#include "SString.h"
#include "SStringList.h"

enum AdminStatus { AdminDone = 0, AdminRefused = 1, AdminUsage = 2 };

struct AdminResult {
    int status = AdminDone;
    SString error;  // why it was refused (no trailing line feed)
    SString text;   // the report for a person, lines ending in line feeds
    SString json;   // the same report as one JSON value

    bool Ok() const { return status == AdminDone; }
    static AdminResult Refuse(const SString& why, int status = AdminRefused);
};

// What `init` is asked for.  An undefined password leaves "Postmaster" without one.
struct AdminInitSpec {
    SString root;
    SString domain;
    SString aliasDomain;
    SString host;
    SString mailboxDir;  // empty: root + "/mailboxes"
    SString password;
};

// What `account add` is asked for.  Undefined name, quota or password: not set.
struct AdminAccountSpec {
    SString uid;
    SStringList addresses;
    SString name;
    SString quota;
    SString password;
};

// Facts read once per run and reused by every operation of a batch.
class AdminContext {
public:
    // The local mail domains, lower-cased, as the database held them at first use.
    const SStringList& LocalDomains();
    void ForgetDomains() { loaded = false; }

private:
    bool loaded = false;
    SStringList domains;
};

// ---- checks shared by the commands ---------------------------------------------------
// A mailbox address "local@domain" (brackets optional, no route, nothing after it): the
// stored form "local@domain" in `stored`, or the reason in `why`.
bool AdminParseAddress(const SString& text, SString& stored, SString& why);
// A domain name or address literal.
bool AdminValidDomain(const SString& domain);
// Letters, digits, ".", "_" and "-", at most 64; templates ("Default...") refused.
bool AdminValidUID(const SString& uid, SString& why);
// "" when `root` holds a usable installation, else why not (missing tree, damaged or
// unreadable database files).
SString AdminCheckInstallation(const SString& root);

// ---- installation --------------------------------------------------------------------
AdminResult AdminInit(const AdminInitSpec& spec);

// ---- accounts ------------------------------------------------------------------------
AdminResult AdminAddAccount(SAccountDBMod& db, const AdminAccountSpec& spec,
                            AdminContext& context);
AdminResult AdminShowAccount(const SString& uid);
AdminResult AdminSetAttribute(SAccountDBMod& db, const SString& uid, const SString& name,
                              const SStringList& values, AdminContext& context);
AdminResult AdminUnsetAttribute(SAccountDBMod& db, const SString& uid, const SString& name);
AdminResult AdminSetPassword(SAccountDBMod& db, const SString& uid, const SString& password);
// The service accounts of the installation are kept unless `force`.
AdminResult AdminDeleteAccount(SAccountDBMod& db, const SString& uid, bool force);
AdminResult AdminLockAccount(SAccountDBMod& db, const SString& uid, bool lock);
AdminResult AdminListAccounts();
// Which account or alias receives mail for the address, as the router would see it.
AdminResult AdminFindAddress(const SString& address);

// ---- aliases and domains -------------------------------------------------------------
AdminResult AdminAddAlias(const SString& address, const SStringList& targets);
AdminResult AdminListAliases();
AdminResult AdminDeleteAlias(const SString& address);
AdminResult AdminAddDomain(const SString& domain);
AdminResult AdminDeleteDomain(const SString& domain);
AdminResult AdminListDomains();

#endif
