// Sprocess: the process environment: variables, process id, the installation's cut
// table.
//
// Configuration reaches every module through environment variables read with GetEnv.
// PutEnv hands the system a buffer it never frees, since the environment keeps
// pointing at it.  GetCutInfo reads its table once per process and keeps the text.
#ifndef QUILLBOX_SPROCESS_H
#define QUILLBOX_SPROCESS_H

#include "SString.h"

// The variable's value, or a defined empty string when it is not set.
SString GetEnv(const char* name);
SString GetEnv(const SString& name);
// Sets name=value in the environment; false when the system refuses it.
bool PutEnv(const SString& name, const SString& value);
// The process id in decimal.
SString ProcessIdString();
// The second field of the first line of "$ProgramDir/.cut" whose first field (up to
// the first white space) equals `key`; undefined when that line has no white space;
// the text "Undefined" when no line matches or the file is missing.
SString GetCutInfo(const SString& key);

#endif
