// Fuzz target for the object database's attribute records and canonical forms:
// arbitrary record data split into values, which must join back to the canonical
// record; and the first bytes read as a flag value to canonicalise every value,
// which must never grow a mailbox value or leave a domain form without its dot.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "SObjectDB.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SString bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    SStringList values = SObjectDB::_SplitValues(bytes);
    Check(SObjectDB::_SplitValues(SObjectDB::_JoinValues(values)) == values);

    static int flags[1];
    flags[0] = size > 0 ? data[0] & 63 : 0;
    SObjectDB db("/nonexistent/fuzz.", 0, flags, 1);
    values.ForEach([&](const SString& value) {
        SString canonical = db._CanonicalizeValue(0, value);
        if (canonical.Length() == 0) return;
        if (flags[0] & AttribDomain) Check(canonical[-1] == '.');
        else Check(canonical.Length() <= value.Length());
    });
    return 0;
}
