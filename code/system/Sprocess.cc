// Sprocess: environment variables, the process id and the installation's cut table.
//
// PutEnv's buffer is deliberately never freed: the environment keeps pointing at it.
// GetCutInfo reads "$ProgramDir/.cut" on its first call and keeps the text for the
// life of the process; a missing file is remembered as missing.
#include "Sprocess.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "SLineBreaker.h"
#include "Sfiledir.h"
#include "SystemPath.h"

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\f' || c == '\n' || c == '\r' || c == '\t' || c == '\v';
}

// The cut table's text, read once.
const SString& CutTable() {
    static const SString table = MapFileRead(GetEnv("ProgramDir") + "/.cut");
    return table;
}

// Splits a line at its first white-space byte: the first field, and the rest
// (undefined when the line holds no white space).
void SplitAtSpace(const SString& line, SString& first, SString& rest) {
    const char* p = line.Chars();
    int n = line.Length();
    int i = 0;
    while (i < n && !IsSpace(p[i])) ++i;
    first = SString(p, i);
    rest = i < n ? SString(p + i + 1, n - i - 1) : SString();
}

// Every buffer handed to putenv stays reachable from here, so that leak checkers do
// not count an entry that a later PutEnv of the same name displaced.  Never freed.
void KeepForever(char* entry) {
    static std::vector<char*>* kept = new std::vector<char*>;
    kept->push_back(entry);
}

}  // namespace

SString GetEnv(const char* name) {
    const char* value = name ? std::getenv(name) : nullptr;
    return SString(value ? value : "");
}

SString GetEnv(const SString& name) { return GetEnv(SystemPath(name).c_str()); }

bool PutEnv(const SString& name, const SString& value) {
    if (name.Length() == 0) {
        errno = EINVAL;
        return false;
    }
    int n = name.Length(), v = value.Length();
    char* entry = new char[n + 1 + v + 1];  // owned by the environment from now on
    std::memcpy(entry, name.Chars(), n);
    entry[n] = '=';
    std::memcpy(entry + n + 1, value.Chars(), v);
    entry[n + 1 + v] = 0;
    KeepForever(entry);
    return ::putenv(entry) == 0;
}

SString ProcessIdString() {
    char text[32];
    int n = std::snprintf(text, sizeof text, "%ld", static_cast<long>(::getpid()));
    return SString(text, n);
}

SString GetCutInfo(const SString& key) {
    const SString& table = CutTable();
    if (!table.Defined()) return SString("Undefined");
    SLineBreaker lines(table, 1);
    SString line, first, rest;
    while (lines.ReadLine(line)) {
        SplitAtSpace(line, first, rest);
        if (first == key) {
            line = SString();  // release the breaker's window before it goes
            return rest;
        }
    }
    return SString("Undefined");
}
