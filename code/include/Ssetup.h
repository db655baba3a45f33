// Installation set-up: the service and template accounts every installation has.
//
// CreateSpecialAccounts makes "Configuration-Manager", "Account-Manager",
// "Error-Handler", "List-Manager" (locked service accounts) and the templates
// "Default" and "Default-List" when they are missing, and leaves existing ones alone
// (except that an "Error-Handler" with only address-literal addresses gets its two
// standard addresses back).  Used by the set-up programs; nothing in the library calls
// it.  It takes the account database's write lock itself.
#ifndef QUILLBOX_SSETUP_H
#define QUILLBOX_SSETUP_H

#include "SString.h"

// `primary` is the installation's mail domain, `alias` its second domain (an empty one
// counts as the primary).  Always 1: changes the database refuses are skipped.
int CreateSpecialAccounts(const SString& primary, const SString& alias);

#endif
