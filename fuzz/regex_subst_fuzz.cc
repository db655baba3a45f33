// Substitution and replacement expansion on arbitrary bytes.  Every substitution
// terminates (also global ones whose pattern matches the empty string), a string
// that does not match is left as it was, and the expansion appends nothing when the
// replacement is invalid.
//
// Input: byte 0 = flags (bit 0: global, bit 1: ignore case), then the pattern, the
// replacement and the subject separated by 0xff bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "SRegex.h"

namespace {

constexpr int kMaxPattern = 64;
constexpr int kMaxPiece = 128;

void Check(bool ok) {
    if (!ok) std::abort();
}

// Cuts the next 0xff-terminated piece off [p, end).
SString Piece(const char*& p, const char* end) {
    const void* cut = std::memchr(p, 0xff, end - p);
    const char* stop = cut ? static_cast<const char*>(cut) : end;
    SString piece(p, static_cast<int>(stop - p));
    p = cut ? stop + 1 : end;
    return piece;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::cerr.setstate(std::ios::badbit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const char* options = (data[0] & 1) ? ((data[0] & 2) ? "gi" : "g") : ((data[0] & 2) ? "i" : "");
    const char* p = reinterpret_cast<const char*>(data + 1);
    const char* end = reinterpret_cast<const char*>(data + size);
    SString pattern = Piece(p, end), replacement = Piece(p, end), subject = Piece(p, end);
    if (pattern.Length() > kMaxPattern || replacement.Length() > kMaxPiece ||
        subject.Length() > kMaxPiece)
        return 0;

    // The expansion against the subject's own split as groups.
    SStringList groups(subject);
    groups.Push(pattern);
    SString out("x");
    bool ok = AppendPasteBuffer(out, replacement, groups);
    Check(ok || out == "x");
    Check(out.Length() >= 1);

    SString changed = subject;
    SStringList last = changed.S(pattern, replacement, options);
    if (last.Count() == 0 && pattern.Length() > 0) Check(changed == subject);

    SPerlRegex rx(pattern, options);
    SString again = subject;
    SStringList viaRegex = rx.Subst(again, replacement, options);
    if (pattern.Length() > 0) Check(again == changed && viaRegex.Count() == last.Count());
    return 0;
}
