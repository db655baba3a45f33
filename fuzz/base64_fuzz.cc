// Fuzzes DecodeBase64 on arbitrary text, and EncodeBase64 through a round trip: the
// decoded length is bounded by the input, decoding our own encoding gives the bytes
// back, and decoding is stable once the text has been normalised.
#include <cstdint>
#include <cstdlib>

#include "Smisc.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SString input(reinterpret_cast<const char*>(data), static_cast<int>(size));
    SString decoded = DecodeBase64(input);
    Check(decoded.Defined());
    Check(decoded.Length() <= input.Length() / 4 * 3);
    SString encoded = EncodeBase64(input);
    int groups = (input.Length() + 2) / 3 * 4;
    Check(encoded.Length() == (input.Length() == 0 ? 2 : groups + 2 * ((groups + 75) / 76)));
    Check(DecodeBase64(encoded) == input);
    Check(DecodeBase64(EncodeBase64(decoded)) == decoded);
    return 0;
}
