// Accounts: the attribute vocabulary of the directory and the views of the account
// database (SAccountDB to read, SAccountDBMod to write; SAccount and SAccountMod for
// one account), plus GenerateAccountUID and IsPostmasterForwardee.
//
// Every user, list, list manager and service is an object of type 1 in one process-wide
// object database ("BTAccounts.a"/".i" under "$Quillbox/config/"), named by its UID.
// Reading needs no set-up.  Writing needs an SAccountDBMod alive for the whole change:
// it holds the database's write lock, and an SAccountMod must be destroyed before it
// (its destructor may delete a remote subscriber).  Nothing throws; failures are false
// results and empty or undefined lists, and nothing is logged here.
#ifndef QUILLBOX_SACCOUNT_H
#define QUILLBOX_SACCOUNT_H

#include "SNamedLists.h"
#include "SObjectDB.h"
#include "SString.h"
#include "SStringList.h"

class S821Address;
class Sdbfile;

// The attribute codes.  A code is what the database files store, so the order is fixed
// for good; the names are in apsz_Attribs below.
enum AccountAttribCode : int {
    AC_Type = 0,
    AC_Access_Domains,
    AC_Account_Delivery,
    AC_AutoReply_Info,
    AC_AutoReply_Mode,
    AC_Channel_Delivery,
    AC_Finger_Access,
    AC_Finger_Info,
    AC_HTML_Info,
    AC_Handler_Delivery,
    AC_Local_Delivery,  // 10
    AC_Logon_Id,
    AC_Manager_Delivery,
    AC_Name,
    AC_POP_Address,
    AC_Password,
    AC_Program_Deliver_Info,
    AC_SMTP_Address,
    AC_SMTP_RewriteStyle,
    AC_UNIX_UserName,
    AC_Use_Logon_PW,  // 20
    AC_Locked,
    AC_Mailbox_Quota,
    AC_Subscribed_Lists,
    AC_Subscribed_Lists_Immediate,
    AC_Subscribed_Lists_Digest,
    AC_List_Owners,
    AC_List_Headers_To_Add,
    AC_List_Headers_To_Remove,
    AC_List_Remove_X_Headers,
    AC_List_Posting_Policy,  // 30
    AC_List_Subscription_Policy,
    AC_List_Prologue,
    AC_List_Epilogue,
    AC_List_Digest_Schedule,
    AC_List_Max_Messages_Per_Day,
    AC_List_Max_Kbytes_Per_Day,
    AC_List_Limit_Policy,
    AC_List_Name,
    AC_List_Short_Info,
    AC_List_Long_Info,  // 40
    AC_List_Max_Message_Kbytes,
    AC_List_Priority,
    AC_Remote_SMTP_Address,
    AC_List_Max_Subscribers,
    AC_Raw_Password,
    AC_MailboxDir,
    AC_Forward_Delivery,
    AC_List_Digest_Restriction,
    AC_Manager_List_Name,
    AC_List_Unsubscription_Policy,  // 50
    AC_List_Unsubscribe_Info,
    AC_Expanded_Delivery,
    AC_Parent_Domains,
    AC_List_Moderation_Method,
    AC_Managed_Domains,
    AC_Linked_Manager_Account,
    AC_Linked_Owner_Account,
    AC_List_Address_Expansion_Style,
    AC_ListMgr_SMTP_Address,
    AC_ListOwner_SMTP_Address,  // 60
    AC_ProgDel_Account,
    AC_ProgDel_Password,
    AC_List_Local_Subscriber_Policy,
    AC_List_Remote_Subscriber_Policy,
    AC_List_Verify_Subscriptions,
    AC_List_Verify_Unsubscriptions,
    AC_List_Moderate_Unsubscriptions,
    AC_List_Subscriber_Posting_Policy,
    AC_List_Nonsubscriber_Posting_Policy,
    AC_List_Welcome_Info,  // 70
    AC_List_Request_Detection,
    AC_List_Stats_Mode,
};

constexpr int AccountAttribCount = 73;

// The attribute names in code order, and the object-database flags of each code
// (SObjectDB.h: lower-case, indexed, mailbox form, second word, unique, domain order).
extern const char* const apsz_Attribs[AccountAttribCount];
extern const int ai_AttribFlags[AccountAttribCount];

// The number of service and template accounts an installation always has
// ("Postmaster" and the six made by CreateSpecialAccounts).
constexpr int SpecialAccountCount = 7;

// Holder of the process-wide database objects and the lookup helpers.
class SAccountBase {
public:
    // The attribute code of a name (exact comparison), -1 when the name is unknown;
    // the public face of _MapAttrib for tools that must tell an unknown name apart.
    static int AttribCode(const SString& name) { return _MapAttrib(name); }
    static SString AttribName(int code) { return _MapAttrib(code); }
    // Closes the process-wide files, so that the next use opens them below the
    // installation root that "Quillbox" names then.  For tools and tests that change
    // the root after start-up; no view may be alive while it runs.
    static void CloseDatabases();

protected:
    static int _MapAttrib(const SString& name);
    static SString _MapAttrib(int code);
    // "local@domain" of the address, without angle brackets.
    static SString _MapAddress(const S821Address& address);
    static SString _IndexLookupSingle(int code, const SString& value);
    static SStringList _IndexLookupMultiple(int code, const SString& value);
    // The "MTA-Accounts" store, opened read-only on first use and kept.
    static Sdbfile* _GetMTAAccounts();

    static SObjectDB _odb;
    static Sdbfile* _pdb_Accounts;
};

class SAccount;
class SAccountMod;

// Read interface of the account database.
class SAccountDB : public SAccountBase {
public:
    // The account whose "SMTP-Address" is the address (case-blind, brackets ignored).
    SString GetAccountUID(const S821Address& address);
    // The accounts whose "Channel-Delivery" forwards to the address.
    SStringList GetAccountDelUID(const S821Address& address);
    SString GetAccountUID(const SPopName& pop);
    SStringList GetAccountUID(const SAccountName& name);
    // The accounts whose "Account-Delivery" names this UID.
    SStringList GetAccountUID(const SString& uid);
    SStringList GetAccountUID(const SGroupName& group);
    // kind "SMTP": the text parsed as an envelope address; any other kind: "".
    SString GetAccountUID(const char* kind, const SString& text);
    // True when the UID names an account (type 1); then binds `account` to it.
    bool GetAccountInfo(const SString& uid, SAccount* account = nullptr);

    SStringList AccountUIDList();
    int AccountUIDCount();
    SStringList IndexLookup(const SString& attribute, const SString& value);
    int IndexLookupCount(const SString& attribute, const SString& value);
    SStringList IndexList(const SString& attribute);
    int IndexListCount(const SString& attribute);
    SStringList GetNameList();
    int ListCount();
    int LocalUserCount();
    SStringList GetLocalMailDomains();
};

// Write interface: the database is write-locked while this object exists.
class SAccountDBMod : public SAccountDB {
public:
    SAccountDBMod();
    ~SAccountDBMod();
    SAccountDBMod(const SAccountDBMod&) = delete;
    SAccountDBMod& operator=(const SAccountDBMod&) = delete;

    // Creates the account when it does not exist; binds `account` to it.
    bool ModifyAccount(const SString& uid, SAccountMod* account = nullptr);
    // Removes the UID from every account that refers to it, deletes its linked
    // manager and owner accounts, then the account itself.
    bool DeleteAccount(const SString& uid);

private:
    void _RemoveReference(const SString& holder, int code, const SString& uid);
};

// Read view of one account, bound by SAccountDB::GetAccountInfo.
class SAccount : public SAccountBase {
public:
    SAccount() = default;
    virtual ~SAccount() = default;

    const SString& GetUID() const { return uid; }

    SStringList Get(int code);
    SStringList Get(const SString& name) { return Get(_MapAttrib(name)); }
    SStringList operator[](const SString& name) { return Get(name); }
    // The names of the attributes the account has, in code order, without "Type".
    SStringList Values();
    bool VerifyPassword(const SString& password);
    bool IsLocked();
    bool IsRemoteAcct();
    bool IsListAcct();
    SString GetPrimaryAddress();
    // True when one of the managers ("Postmaster", or an account whose
    // "Managed-Domains" contain all of this account's "Parent-Domains") manages it.
    bool IsManagedBy(const SStringList& managers);

protected:
    friend class SAccountDB;
    friend class SAccountDBMod;
    bool _HasValue(int code);
    bool _DomainsContainedIn(const SStringList& domains, const SStringList& managed);
    bool _DomainContainedIn(const SString& domain, const SStringList& managed);

    SString uid;
};

// Write view of one account, bound by SAccountDBMod::ModifyAccount.  Destroy it while
// the SAccountDBMod still exists.
class SAccountMod : public SAccount {
public:
    SAccountMod() = default;
    ~SAccountMod() override;
    SAccountMod(const SAccountMod&) = delete;
    SAccountMod& operator=(const SAccountMod&) = delete;

    bool Set(int code, const SStringList& values);
    bool Set(const SString& name, const SStringList& values) {
        return Set(_MapAttrib(name), values);
    }
    bool Delete(const SString& name);
    bool Lock();
    bool Unlock();
    // Non-zero when the account will be deleted as this object is destroyed.
    int GetDeleteFlag() const { return deleteOnDestroy; }

private:
    bool _IsTemplate() const;
    bool _Store(int code, const SStringList& values);

    int deleteOnDestroy = 0;
};

// A UID not yet in use made from `base` (runs of non-word characters become "_"; a
// taken name gets the smallest free decimal suffix).
SString GenerateAccountUID(const SString& base);
// True for "Postmaster" and the accounts its "Account-Delivery" lists; false when the
// "Postmaster" account does not exist.
bool IsPostmasterForwardee(const SString& uid);

#endif
