// Umbrella header: everything a module program or tool needs from the core library.
// Headers are listed from the bottom layer up.
#ifndef QUILLBOX_H
#define QUILLBOX_H

// text
#include "SString.h"
#include "SStringList.h"
#include "STable.h"
#include "SNamedLists.h"
#include "SRegex.h"

// system
#include "Sfiledir.h"
#include "SMappedFile.h"
#include "SLineBreaker.h"
#include "Sprocess.h"
#include "Sdatetime.h"
#include "Smisc.h"
#include "Smime.h"
#include "SSharedCounter.h"

// queue
#include "SMessage.h"
#include "SModule.h"
#include "SMimeBody.h"

// address
#include "SIdentifier.h"
#include "SParser.h"

// directory
#include "Sdbfile.h"
#include "SBTree.h"
#include "SObjectDB.h"
#include "SAccount.h"
#include "SAliasDB.h"
#include "Ssecurity.h"
#include "Ssetup.h"

#endif
