// Ssecurity: how account passwords are stored and checked, and the reversible
// scrambling of values that must be given back in clear.
//
// A stored password is always 64 characters: a salted MD5 digest plus its salt
// (what StringCopy writes), or a traditional crypt() value marked "UNIX-PASSWORD".
// A stored value that is malformed in any way simply never matches.
#ifndef QUILLBOX_SSECURITY_H
#define QUILLBOX_SSECURITY_H

#include "SString.h"

// The 64-character salted form of the password; a new salt on every call.
SString StringCopy(const SString& password);
// Whether the password matches a stored value of either form.
bool StringComp(const SString& password, const SString& stored);
// Mode 0 scrambles; any other mode unscrambles, returning a value whose first byte
// would unscramble to a control character unchanged, as never scrambled.
SString Scramble(const SString& value, unsigned mode);

#endif
