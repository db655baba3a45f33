// The list filter's test text on arbitrary bytes: parsing never fails hard, every
// item ends up either accepted or rejected (or, for a refused test, neither), and a
// copy of the list taken before filtering is not changed by substitutions.
//
// Input: the test text up to the first 0xff byte, then list items separated by 0xff.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "SRegex.h"

namespace {

constexpr size_t kMaxInput = 512;

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::cerr.setstate(std::ios::badbit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    const char* p = reinterpret_cast<const char*>(data);
    const char* end = p + size;
    const void* cut = std::memchr(p, 0xff, size);
    const char* stop = cut ? static_cast<const char*>(cut) : end;
    SString test(p, static_cast<int>(stop - p));
    SStringList items;
    items.Push(".");  // file tests see a directory that exists
    for (p = cut ? stop + 1 : end; p < end;) {
        const void* next = std::memchr(p, 0xff, end - p);
        const char* e = next ? static_cast<const char*>(next) : end;
        items.Push(SString(p, static_cast<int>(e - p)));
        p = next ? e + 1 : end;
    }
    SStringList before = items.Clone();
    SStringList shared = items;
    SStringList rejects;
    SStringList accepted = items.Grep(test, &rejects);
    int total = accepted.Count() + rejects.Count();
    Check(total == items.Count() || total == 0);
    Check(items.Count() == before.Count());
    Check(shared == before);
    return 0;
}
