// Header address lists on arbitrary bytes.  Besides running clean under the
// sanitizers: every address taken ends the list, fails, or moves the parser on, so
// a text of n bytes yields at most n + 1 addresses before the end; Addresses() gives
// only angle forms.
// links: quillbox_address
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "SParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SString text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    S822Parser parser(text);
    SStringList list = parser.Addresses();
    list.ForEach([](const SString& a) {
        if (a.Length() < 2 || a[0] != '<' || a[-1] != '>') std::abort();
    });

    parser.Reset();
    for (size_t taken = 0;; ++taken) {
        if (taken > size + 1) std::abort();
        S822Address address = parser.NextAddress();
        if (address.IsEnd() || address.IsBad()) break;
        if (!address.Address().Defined()) std::abort();
    }
    return 0;
}
