// Envelope parser on arbitrary bytes, both grammars, plus the ESMTP words after the
// address.  Beyond running clean under the sanitizers it checks what the grammar
// promises: the strict grammar accepts a subset of the lenient one (with the same
// result), a usable address always prints, and parameter words are never empty and
// hold neither spaces nor control bytes.
// links: quillbox_address
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "SParser.h"

namespace {

bool IsControl(int c) { return (c & 0x7F) < 0x20 || c == 0x7F; }

void CheckExtensions(const SStringList& words) {
    words.ForEach([](const SString& w) {
        if (w.Length() == 0) std::abort();
        for (int i = 0; i < w.Length(); ++i)
            if (w[i] == ' ' || IsControl(w[i])) std::abort();
    });
}

S821Address ParseChecked(const SString& text, unsigned lenient) {
    S821Parser parser(text, lenient);
    S821Address address = parser.ExtractAddress();
    if (!address.IsBad() && address.Address().Length() < 2) std::abort();
    if (address.IsBad() && address.Address().Defined()) std::abort();
    CheckExtensions(parser.Extensions());
    return address;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SString text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    S821Address strict = ParseChecked(text, 0);
    S821Address lenient = ParseChecked(text, 1);
    if (!strict.IsBad() && (lenient.IsBad() || !(lenient.Address() == strict.Address())))
        std::abort();
    return 0;
}
