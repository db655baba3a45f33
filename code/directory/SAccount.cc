// Accounts on the object database: the attribute vocabulary and flag table, address
// and name lookups, the read and write views of one account, reference cleaning on
// delete, and the two free helpers GenerateAccountUID and IsPostmasterForwardee.
//
// Template accounts ("Default", "Default-...") are written without touching the
// indexes, so lookups never find them; only their type record is indexed (at creation).
#include "SAccount.h"

#include "SIdentifier.h"
#include "Sdbfile.h"
#include "Ssecurity.h"

// ---- the vocabulary ---------------------------------------------------------------------

const char* const apsz_Attribs[AccountAttribCount] = {
    "Type", "Access-Domains", "Account-Delivery", "AutoReply-Info", "AutoReply-Mode",
    "Channel-Delivery", "Finger-Access", "Finger-Info", "HTML-Info", "Handler-Delivery",
    "Local-Delivery", "Logon-Id", "Manager-Delivery", "Name", "POP-Address", "Password",
    "Program-Deliver-Info", "SMTP-Address", "SMTP-RewriteStyle", "UNIX-UserName",
    "Use-Logon-PW", "Locked", "Mailbox-Quota", "Subscribed-Lists",
    "Subscribed-Lists-Immediate", "Subscribed-Lists-Digest", "List-Owners",
    "List-Headers-To-Add", "List-Headers-To-Remove", "List-Remove-X-Headers",
    "List-Posting-Policy", "List-Subscription-Policy", "List-Prologue", "List-Epilogue",
    "List-Digest-Schedule", "List-Max-Messages-Per-Day", "List-Max-Kbytes-Per-Day",
    "List-Limit-Policy", "List-Name", "List-Short-Info", "List-Long-Info",
    "List-Max-Message-Kbytes", "List-Priority", "Remote-SMTP-Address",
    "List-Max-Subscribers", "Raw-Password", "MailboxDir", "Forward-Delivery",
    "List-Digest-Restriction", "Manager-List-Name", "List-Unsubscription-Policy",
    "List-Unsubscribe-Info", "Expanded-Delivery", "Parent-Domains",
    "List-Moderation-Method", "Managed-Domains", "Linked-Manager-Account",
    "Linked-Owner-Account", "List-Address-Expansion-Style", "ListMgr-SMTP-Address",
    "ListOwner-SMTP-Address", "ProgDel-Account", "ProgDel-Password",
    "List-Local-Subscriber-Policy", "List-Remote-Subscriber-Policy",
    "List-Verify-Subscriptions", "List-Verify-Unsubscriptions",
    "List-Moderate-Unsubscriptions", "List-Subscriber-Posting-Policy",
    "List-Nonsubscriber-Posting-Policy", "List-Welcome-Info", "List-Request-Detection",
    "List-Stats-Mode",
};

namespace {

constexpr int Indexed = AttribIndexed;
constexpr int Lower = AttribLowerCase | AttribIndexed;
constexpr int UniqueMailbox = AttribLowerCase | AttribMailbox | AttribUnique;
constexpr int UniqueName = AttribLowerCase | AttribIndexed | AttribUnique;

constexpr int AccountType = 1;

// The attributes whose values are UIDs of other accounts, in the order DeleteAccount
// cleans them.
constexpr int ReferenceAttribs[] = {AC_Account_Delivery, AC_Subscribed_Lists,
                                    AC_Subscribed_Lists_Immediate,
                                    AC_Subscribed_Lists_Digest, AC_List_Owners};

// What Lock stores as the password of an account that has none; StringCopy makes a
// digest of it, so the word itself never appears in the database.
const char LockPlaceholder[] = "void";

bool IsTemplateUID(const SString& uid) {
    return uid == "Default" || uid.HasPrefix("Default-");
}

SString FirstValue(const SStringList& values) {
    return values.Count() > 0 ? values.Get(0) : SString("");
}

constexpr int Flag(int code) {
    switch (code) {
    case AC_Type: return Indexed;
    case AC_Account_Delivery: return Indexed;
    case AC_Channel_Delivery:
        return AttribLowerCase | AttribMailbox | AttribSecondWord;  // 13
    case AC_Name: return Lower;
    case AC_POP_Address: return UniqueName;
    case AC_SMTP_Address: return UniqueMailbox;  // 21
    case AC_Subscribed_Lists:
    case AC_Subscribed_Lists_Immediate:
    case AC_Subscribed_Lists_Digest:
    case AC_List_Owners: return Indexed;
    case AC_List_Name: return UniqueName;
    case AC_Remote_SMTP_Address: return UniqueMailbox;
    case AC_Parent_Domains: return AttribLowerCase | AttribDomain;  // 33
    case AC_Linked_Manager_Account:
    case AC_Linked_Owner_Account: return Indexed;
    default: return 0;
    }
}

}  // namespace

const int ai_AttribFlags[AccountAttribCount] = {
    Flag(0),  Flag(1),  Flag(2),  Flag(3),  Flag(4),  Flag(5),  Flag(6),  Flag(7),
    Flag(8),  Flag(9),  Flag(10), Flag(11), Flag(12), Flag(13), Flag(14), Flag(15),
    Flag(16), Flag(17), Flag(18), Flag(19), Flag(20), Flag(21), Flag(22), Flag(23),
    Flag(24), Flag(25), Flag(26), Flag(27), Flag(28), Flag(29), Flag(30), Flag(31),
    Flag(32), Flag(33), Flag(34), Flag(35), Flag(36), Flag(37), Flag(38), Flag(39),
    Flag(40), Flag(41), Flag(42), Flag(43), Flag(44), Flag(45), Flag(46), Flag(47),
    Flag(48), Flag(49), Flag(50), Flag(51), Flag(52), Flag(53), Flag(54), Flag(55),
    Flag(56), Flag(57), Flag(58), Flag(59), Flag(60), Flag(61), Flag(62), Flag(63),
    Flag(64), Flag(65), Flag(66), Flag(67), Flag(68), Flag(69), Flag(70), Flag(71),
    Flag(72),
};

// ---- SAccountBase ------------------------------------------------------------------------

SObjectDB SAccountBase::_odb("BTAccounts.", 0, ai_AttribFlags, AccountAttribCount);
Sdbfile* SAccountBase::_pdb_Accounts = nullptr;

void SAccountBase::CloseDatabases() {
    _odb.Init("BTAccounts.", 0, ai_AttribFlags, AccountAttribCount);
    delete _pdb_Accounts;
    _pdb_Accounts = nullptr;
}

int SAccountBase::_MapAttrib(const SString& name) {
    for (int code = 0; code < AccountAttribCount; ++code)
        if (name == apsz_Attribs[code]) return code;
    return -1;
}

SString SAccountBase::_MapAttrib(int code) {
    if (code < 0 || code >= AccountAttribCount) return SString("Invalid-Attribute");
    return SString(apsz_Attribs[code]);
}

SString SAccountBase::_MapAddress(const S821Address& address) {
    return address.LocalPart() + "@" + address.Domain();
}

SString SAccountBase::_IndexLookupSingle(int code, const SString& value) {
    SStringList found = _odb.ListByAttrib(code, value);
    return found.Count() > 0 ? found.Get(0) : SString("");
}

SStringList SAccountBase::_IndexLookupMultiple(int code, const SString& value) {
    return _odb.ListByAttrib(code, value);
}

namespace {

// The store stays open for the life of the process; this closes it as the process
// ends, after main, so its database handle is released like every other.
struct StoreCloser {
    ~StoreCloser() { SAccountBase::CloseDatabases(); }
};

}  // namespace

Sdbfile* SAccountBase::_GetMTAAccounts() {
    static StoreCloser closer;
    if (!_pdb_Accounts) _pdb_Accounts = new Sdbfile("MTA-Accounts", 0, "Quillbox");
    return _pdb_Accounts;
}

// ---- SAccountDB: lookups -----------------------------------------------------------------

SString SAccountDB::GetAccountUID(const S821Address& address) {
    return _IndexLookupSingle(AC_SMTP_Address, _MapAddress(address));
}

SStringList SAccountDB::GetAccountDelUID(const S821Address& address) {
    return _IndexLookupMultiple(AC_Channel_Delivery, _MapAddress(address));
}

SString SAccountDB::GetAccountUID(const SPopName& pop) {
    return _IndexLookupSingle(AC_POP_Address, pop.Get());
}

SStringList SAccountDB::GetAccountUID(const SAccountName& name) {
    return _IndexLookupMultiple(AC_Name, name.Get());
}

SStringList SAccountDB::GetAccountUID(const SString& uid) {
    return _IndexLookupMultiple(AC_Account_Delivery, uid);
}

SStringList SAccountDB::GetAccountUID(const SGroupName&) { return SStringList(); }

SString SAccountDB::GetAccountUID(const char* kind, const SString& text) {
    if (!kind || SString(kind) != "SMTP") return SString("");
    return GetAccountUID(S821Address(text));
}

bool SAccountDB::GetAccountInfo(const SString& uid, SAccount* account) {
    if (uid.Length() == 0 || _odb.GetType(uid) != AccountType) return false;
    if (account) account->uid = uid;
    return true;
}

SStringList SAccountDB::AccountUIDList() { return _odb.ListByType(AccountType); }

int SAccountDB::AccountUIDCount() { return _odb.CountByType(AccountType); }

SStringList SAccountDB::IndexLookup(const SString& attribute, const SString& value) {
    int code = _MapAttrib(attribute);
    return code < 0 ? SStringList() : _odb.ListByAttrib(code, value);
}

int SAccountDB::IndexLookupCount(const SString& attribute, const SString& value) {
    int code = _MapAttrib(attribute);
    return code < 0 ? 0 : _odb.CountByAttrib(code, value);
}

SStringList SAccountDB::IndexList(const SString& attribute) {
    int code = _MapAttrib(attribute);
    return code < 0 ? SStringList() : _odb.ListValues(code);
}

int SAccountDB::IndexListCount(const SString& attribute) {
    int code = _MapAttrib(attribute);
    return code < 0 ? 0 : _odb.CountValues(code);
}

SStringList SAccountDB::GetNameList() { return _odb.ListValues(AC_Name); }

int SAccountDB::ListCount() { return IndexListCount("List-Name"); }

// Users are the accounts that are none of: the installation's service and template
// accounts, lists, the manager and owner accounts linked to lists, remote subscribers.
int SAccountDB::LocalUserCount() {
    return AccountUIDCount() - SpecialAccountCount - ListCount() -
           _odb.CountValues(AC_Linked_Manager_Account) -
           _odb.CountValues(AC_Linked_Owner_Account) -
           _odb.CountValues(AC_Remote_SMTP_Address);
}

SStringList SAccountDB::GetLocalMailDomains() {
    Sdbfile* store = _GetMTAAccounts();
    if (!store->Open("/", 0)) return SStringList();
    return store->Get("LocalMailDomains");
}

// ---- SAccountDBMod -----------------------------------------------------------------------

SAccountDBMod::SAccountDBMod() { _odb.LockWrite(); }

SAccountDBMod::~SAccountDBMod() { _odb.UnlockWrite(); }

bool SAccountDBMod::ModifyAccount(const SString& uid, SAccountMod* account) {
    if (uid.Length() == 0) return false;
    if (_odb.GetType(uid) != AccountType && !_odb.Create(uid, AccountType)) return false;
    if (account) account->uid = uid;
    return true;
}

bool SAccountDBMod::DeleteAccount(const SString& uid) {
    if (uid.Length() == 0) return false;
    for (int code : ReferenceAttribs) {
        _IndexLookupMultiple(code, uid).ForEach(
            [&](const SString& holder) { _RemoveReference(holder, code, uid); });
    }
    SStringList linked = _odb.GetAttrib(AC_Linked_Manager_Account, uid);
    linked.Push(_odb.GetAttrib(AC_Linked_Owner_Account, uid));
    linked.ForEach([](const SString& other) { _odb.Delete(other); });
    return _odb.Delete(uid);
}

// The holder's SAccountMod is destroyed on return, so a remote subscriber left without
// lists disappears here.
void SAccountDBMod::_RemoveReference(const SString& holder, int code, const SString& uid) {
    SAccountMod account;
    if (!GetAccountInfo(holder, &account)) return;
    SStringList values = account.Get(code);
    bool found = false;
    while (values.Delete(uid)) found = true;
    if (found) account.Set(code, values);
}

// ---- SAccount ----------------------------------------------------------------------------

SStringList SAccount::Get(int code) {
    if (code < 0) return SStringList();
    SStringList values = _odb.GetAttrib(code, uid);
    if (code != AC_ProgDel_Password) return values;
    SString first = FirstValue(values);
    return SStringList(first.Length() > 0 ? Scramble(first, 1) : first);
}

SStringList SAccount::Values() {
    SStringList names;
    names.Reset();
    _odb.ListAttribs(uid).ForEach(
        [&names](const SString& code) { names.Push(_MapAttrib(code[0])); });
    return names;
}

bool SAccount::_HasValue(int code) { return _odb.GetAttrib(code, uid).Count() > 0; }

bool SAccount::VerifyPassword(const SString& password) {
    if (IsLocked()) return false;
    return StringComp(password, FirstValue(Get(AC_Password)));
}

bool SAccount::IsLocked() { return _HasValue(AC_Locked); }

bool SAccount::IsRemoteAcct() { return _HasValue(AC_Remote_SMTP_Address); }

bool SAccount::IsListAcct() {
    return _HasValue(AC_List_Name) || _HasValue(AC_Expanded_Delivery) ||
           _HasValue(AC_Manager_List_Name);
}

SString SAccount::GetPrimaryAddress() {
    SString address = FirstValue(Get(AC_SMTP_Address));
    if (address.Length() > 0) return address;
    return FirstValue(Get(AC_Remote_SMTP_Address));
}

bool SAccount::IsManagedBy(const SStringList& managers) {
    SStringList domains = Get(AC_Parent_Domains);
    for (int i = 0; i < managers.Count(); ++i) {
        SString manager = managers.Get(i);
        if (manager == "Postmaster") return true;
        SStringList managed = _odb.GetAttrib(AC_Managed_Domains, manager);
        if (managed.Count() > 0 && _DomainsContainedIn(domains, managed)) return true;
    }
    return false;
}

bool SAccount::_DomainsContainedIn(const SStringList& domains, const SStringList& managed) {
    for (int i = 0; i < domains.Count(); ++i)
        if (!_DomainContainedIn(domains.Get(i), managed)) return false;
    return true;
}

// d is within m when it is m or a sub-domain of it: "sub.d" is, "bad" is not.
bool SAccount::_DomainContainedIn(const SString& domain, const SStringList& managed) {
    for (int i = 0; i < managed.Count(); ++i) {
        SString m = managed.Get(i);
        SString suffix = "." + m;
        if (domain == m) return true;
        int at = domain.Length() - suffix.Length();
        if (at >= 0 && domain.Segment(at, suffix.Length()) == suffix) return true;
    }
    return false;
}

// ---- SAccountMod -------------------------------------------------------------------------

SAccountMod::~SAccountMod() {
    if (deleteOnDestroy && uid.Length() > 0) _odb.Delete(uid);
}

bool SAccountMod::_IsTemplate() const { return IsTemplateUID(uid); }

bool SAccountMod::_Store(int code, const SStringList& values) {
    return _odb.SetAttrib(code, uid, values, _IsTemplate() ? 1 : 0);
}

bool SAccountMod::Set(int code, const SStringList& values) {
    if (code < 0 || code >= AccountAttribCount || uid.Length() == 0) return false;
    switch (code) {
    case AC_Password:
        Unlock();
        return _Store(AC_Password, SStringList(StringCopy(FirstValue(values))));
    case AC_Raw_Password:
        return _Store(AC_Password, values);
    case AC_Subscribed_Lists:
        // A remote subscriber exists only for its subscriptions.
        if (IsRemoteAcct()) deleteOnDestroy = values.Count() == 0 ? 1 : 0;
        return _Store(code, values);
    case AC_ProgDel_Password: {
        SString first = FirstValue(values);
        if (first.Length() == 0) return _Store(code, values);
        return _Store(code, SStringList(Scramble(first, 0)));
    }
    default:
        return _Store(code, values);
    }
}

bool SAccountMod::Delete(const SString& name) {
    int code = _MapAttrib(name);
    if (code < 0 || uid.Length() == 0) return false;
    return _odb.DeleteAttrib(code, uid);
}

// A locked account always has a password, so unlocking never leaves one that any
// password opens.
bool SAccountMod::Lock() {
    if (uid.Length() == 0) return false;
    if (Get(AC_Password).Count() == 0) Set(AC_Password, SStringList(StringCopy(LockPlaceholder)));
    return _odb.SetAttrib(AC_Locked, uid, SStringList("yes"), 0);
}

bool SAccountMod::Unlock() {
    if (uid.Length() == 0) return false;
    return _odb.DeleteAttrib(AC_Locked, uid);
}

// ---- free functions ----------------------------------------------------------------------

SString GenerateAccountUID(const SString& base) {
    SString stem = base;
    stem.S("\\W+", "_", "g");
    SAccountDB db;
    auto taken = [&db](const SString& uid) {
        return uid == "Postmaster" || db.GetAccountInfo(uid);
    };
    if (!taken(stem)) return stem;
    for (long n = 1;; ++n) {
        SString candidate = stem + SString(n);
        if (!taken(candidate)) return candidate;
    }
}

bool IsPostmasterForwardee(const SString& uid) {
    SAccountDB db;
    SAccount postmaster;
    if (!db.GetAccountInfo("Postmaster", &postmaster)) return false;
    return uid == "Postmaster" || postmaster.Get(AC_Account_Delivery).Contains(uid);
}
