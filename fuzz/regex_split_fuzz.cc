// Split by pattern, by the empty pattern and by a character on arbitrary bytes.  The
// fields never hold more bytes than the text; a split by a character other than
// space gives back the text when joined with it (less one trailing separator); the
// empty pattern's fields join to the text.
//
// Input: byte 0 = limit (0..7), byte 1 = separator character, then the pattern up
// to the first 0xff byte, then the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "SRegex.h"

namespace {

constexpr int kMaxPattern = 64;
constexpr int kMaxText = 256;

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckCharSplit(const SString& text, char c, int limit) {
    SStringList fields = text.Split(c, limit);
    Check(Length(fields) <= text.Length());
    if (c == ' ') return;
    SString joined = fields.Join(SString(&c, 1));
    Check(joined == text || joined + c == text);
}

void CheckByteSplit(const SString& text, int limit) {
    SStringList fields = text.Split(SString(""), limit);
    Check(fields.Join(SString("")) == text);
    Check(limit == 0 || fields.Count() <= limit);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::cerr.setstate(std::ios::badbit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    int limit = data[0] % 8;
    char c = static_cast<char>(data[1]);
    const char* rest = reinterpret_cast<const char*>(data + 2);
    size_t n = size - 2;
    const void* cut = std::memchr(rest, 0xff, n);
    int plen = static_cast<int>(cut ? static_cast<const char*>(cut) - rest : n);
    int tlen = static_cast<int>(cut ? n - plen - 1 : 0);
    if (plen > kMaxPattern || tlen > kMaxText) return 0;
    SString pattern(rest, plen);
    SString text(rest + plen + 1, tlen);

    SStringList fields = text.Split(pattern, limit);
    Check(Length(fields) <= text.Length());
    CheckCharSplit(text, c, limit);
    CheckByteSplit(text, limit);
    return 0;
}
