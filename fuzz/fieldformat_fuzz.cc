// Field-format reader: any bytes parse without fault, and text written from the
// parsed object parses back to the same names and values in the same order.
//
// The first byte picks the list's flags (exact or case-blind names, LF or CR LF lines);
// the rest is the text.  Objects with a name that is empty (the values of leading
// lines before any name) or begins with a tab (possible only on the first line) are
// not compared: their written lines begin with blank space, which the reader takes
// as continuations, so such names cannot round-trip by construction.
// links: quillbox_text
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "SNamedLists.h"

namespace {

bool HasBlankLeadingName(const SNamedStringList& fields) {
    bool blank = false;
    fields.Keys().ForEach([&](const SString& name) { blank |= name.Length() == 0 || name[0] == '\t'; });
    return blank;
}

void ExpectSame(const SNamedStringList& a, const SNamedStringList& b) {
    SStringList keysA = a.Keys(), keysB = b.Keys();
    if (!(keysA == keysB)) std::abort();
    keysA.ForEach([&](const SString& name) {
        if (!(a.Get(name) == b.Get(name))) std::abort();
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    unsigned exact = data[0] & 1, crlf = (data[0] >> 1) & 1;
    SString text(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));

    SNamedStringList parsed(exact, crlf);
    text >> parsed;
    if (HasBlankLeadingName(parsed)) return 0;

    SString written;
    written << parsed;
    SNamedStringList again(exact, crlf);
    written >> again;
    ExpectSame(parsed, again);
    return 0;
}
