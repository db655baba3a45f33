// Channel aliases: addresses with no account of their own whose mail goes on to other
// channel values ("SMTP <target@host>"), kept in the "MTA-Accounts" store under
// "/SMTP-Address/Aliases", one value per aliased address.  The SMTP router reads them
// (SAliasDB); the administration tool writes them (SAliasDBMod), as it does the list of
// local mail domains kept in the same store.
//
// A value is named by the lower-cased printed form of the address, angle brackets
// included ("<sales@example.org>").  SAliasDBMod holds the store's write lock for its
// lifetime, so a series of changes is atomic; without it every change locks alone.
#ifndef QUILLBOX_SALIASDB_H
#define QUILLBOX_SALIASDB_H

#include "SAccount.h"
#include "SString.h"
#include "SStringList.h"

class S821Address;

class SAliasDB : public SAccountBase {
public:
    // The channel values the address is an alias for; undefined when it is none.
    SStringList GetChannelAliases(const S821Address& address);
    // The names of every aliased address.
    SStringList GetAliases();

protected:
    static SString _AliasName(const S821Address& address);
};

class SAliasDBMod : public SAliasDB {
public:
    SAliasDBMod();
    ~SAliasDBMod();
    SAliasDBMod(const SAliasDBMod&) = delete;
    SAliasDBMod& operator=(const SAliasDBMod&) = delete;

    bool AddChannelAliases(const S821Address& address, const SStringList& aliases);
    bool DeleteChannelAliases(const S821Address& address);
    // Replaces the list of local mail domains (root key, value "LocalMailDomains").
    bool SetLocalMailDomains(const SStringList& domains);
};

#endif
