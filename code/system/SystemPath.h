// SystemPath: an SString path made ready for a system call (system layer only).
//
// Strings that share a mapped file or a line window are not followed by a zero byte,
// so every path is copied into a zero-terminated buffer first.  An undefined path is
// the empty text; a path holding a zero byte is also given to the system as the empty
// text, so the call fails instead of acting on a shortened name.
#ifndef QUILLBOX_SYSTEM_PATH_H
#define QUILLBOX_SYSTEM_PATH_H

#include <cstring>
#include <string>

#include "SString.h"

class SystemPath {
public:
    explicit SystemPath(const SString& path) {
        const char* p = path.Chars();
        int n = path.Length();
        if (n > 0 && std::memchr(p, 0, n) == nullptr) text.assign(p, n);
    }

    const char* c_str() const { return text.c_str(); }
    bool empty() const { return text.empty(); }

private:
    std::string text;
};

#endif
