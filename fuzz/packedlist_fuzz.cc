// Fuzz target for the keyed store's packed-list decoders: arbitrary record data read
// as either encoding.  Decoding must end without error whatever the bytes, a decoded
// list must survive the binary encoding exactly, and the encoding the store picks
// must read back as the same list minus the trailing empty elements text drops.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Sdbfile.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// The list as the text encoding returns it: trailing empty elements dropped.
SStringList WithoutTrailingEmpties(const SStringList& l) {
    SStringList out = l;
    while (out.Count() > 0 && out.Get(out.Count() - 1).Length() == 0) out.Pop();
    return out;
}

void CheckRoundTrips(const SStringList& list) {
    if (!list.Defined()) return;
    Check(Sdbfile::_Unpack(Sdbfile::_Pack(list)) == list);
    SString stored = Sdbfile::_Encode(list);
    SStringList back = Sdbfile::_Decode(stored);
    if (stored.Length() > 0 && stored[0] == 0)
        Check(back == WithoutTrailingEmpties(list));
    else
        Check(stored.Length() == 0 || back == list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SString bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    SStringList text = Sdbfile::_UnpackText(bytes);
    SStringList binary = Sdbfile::_Unpack(bytes);
    SStringList either = Sdbfile::_Decode(bytes);
    Check(either.Defined() == (size > 0 && (data[0] == 0 ? true : binary.Defined())));
    CheckRoundTrips(text);
    CheckRoundTrips(binary);
    return 0;
}
