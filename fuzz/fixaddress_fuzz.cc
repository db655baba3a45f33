// Address repair on arbitrary bytes: the result is the null path "<>" or a text the
// envelope parser accepts as a usable address.
// links: quillbox_address
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "SIdentifier.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SString text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    SString fixed = FixBogusAddress(text);
    if (fixed == "<>") return 0;
    if (fixed.Length() < 3) std::abort();
    S821Address again(fixed);
    if (again.IsBad()) std::abort();
    return 0;
}
