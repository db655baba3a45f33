// Channel aliases and the local mail domains in the "MTA-Accounts" store.  All of it
// goes through the process-wide store object of SAccountBase, which stays open
// read-only between changes; SAliasDBMod's lock makes the next open a locked write.
#include "SAliasDB.h"

#include "SIdentifier.h"
#include "Sdbfile.h"

namespace {

const char AliasKey[] = "/SMTP-Address/Aliases";

}  // namespace

SString SAliasDB::_AliasName(const S821Address& address) {
    SString name = address.Get();
    return name.LowerCase();
}

SStringList SAliasDB::GetChannelAliases(const S821Address& address) {
    Sdbfile* store = _GetMTAAccounts();
    if (!store->Open(AliasKey, 0)) return SStringList();
    return store->Get(_AliasName(address));
}

SStringList SAliasDB::GetAliases() {
    Sdbfile* store = _GetMTAAccounts();
    if (!store->Open(AliasKey, 0)) return SStringList();
    return store->Values();
}

SAliasDBMod::SAliasDBMod() { _GetMTAAccounts()->Lock(1); }

SAliasDBMod::~SAliasDBMod() { _GetMTAAccounts()->Unlock(); }

bool SAliasDBMod::AddChannelAliases(const S821Address& address, const SStringList& aliases) {
    Sdbfile* store = _GetMTAAccounts();
    if (!store->Open("/SMTP-Address", 1) || !store->Open("Aliases", 1)) return false;
    return store->Set(_AliasName(address), aliases);
}

bool SAliasDBMod::DeleteChannelAliases(const S821Address& address) {
    Sdbfile* store = _GetMTAAccounts();
    if (!store->Open(AliasKey, 1)) return false;
    return store->DeleteValue(_AliasName(address));
}

bool SAliasDBMod::SetLocalMailDomains(const SStringList& domains) {
    Sdbfile* store = _GetMTAAccounts();
    return store->Open("/", 1) && store->Set("LocalMailDomains", domains);
}
