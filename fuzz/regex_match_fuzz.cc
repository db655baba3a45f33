// Perl-to-POSIX conversion, compilation and matching on arbitrary bytes.  A pattern
// either converts and compiles or is refused; a refused one never matches; every
// reported offset lies inside the subject and each match list has one item per group
// plus the whole match.  The raw bytes are also compiled as a POSIX expression, which
// exercises the word-bracket rewrite and NUL bytes in patterns.
//
// Input: byte 0 = flags (bit 0: ignore case, bits 1-3: start offset), then the
// pattern up to the first 0xff byte, then the subject.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "SRegex.h"

namespace {

constexpr size_t kMaxPattern = 64;
constexpr size_t kMaxSubject = 256;

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckMatch(SRegex& rx, const SString& subject, int start) {
    SStringList m = rx.Match(subject, start);
    if (!rx.OK()) {
        Check(m.Count() == 0 && !rx.HasMatch(subject, start));
        return;
    }
    if (m.Count() == 0) return;
    Check(m.Count() == rx.Groups() + 1);
    std::pair<int, int> whole = rx.MatchInfo(0);
    Check(whole.first >= start && whole.first <= whole.second && whole.second <= subject.Length());
    Check(rx.MatchPos() == whole.first && rx.MatchLen() == whole.second - whole.first);
    for (int k = 1; k <= rx.Groups(); ++k) {
        std::pair<int, int> g = rx.MatchInfo(k);
        Check(g.first == -1 ||
              (g.first >= 0 && g.first <= g.second && g.second <= subject.Length()));
    }
    Check(rx.HasMatch(subject, start));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::cerr.setstate(std::ios::badbit);  // the reports are expected; keep runs quiet
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const char* options = (data[0] & 1) ? "i" : nullptr;
    int start = (data[0] >> 1) & 7;
    const char* rest = reinterpret_cast<const char*>(data + 1);
    size_t n = size - 1;
    const void* cut = std::memchr(rest, 0xff, n);
    size_t plen = cut ? static_cast<const char*>(cut) - rest : n;
    size_t slen = cut ? n - plen - 1 : 0;
    if (plen > kMaxPattern || slen > kMaxSubject) return 0;
    SString pattern(rest, static_cast<int>(plen));
    SString subject(rest + plen + 1, static_cast<int>(slen));

    int error = -1;
    SString converted = PerlRegexConv(pattern, &error);
    Check(error >= 0 && error <= 8 && error != 1);
    Check(error == 0 || converted.Length() == 0);

    SPerlRegex perl(pattern, options);
    Check(error == 0 || !perl.OK());
    CheckMatch(perl, subject, start);
    CheckMatch(perl, subject, 0);
    Check(perl.HasMatch(subject, 0) == subject.HasMatch(pattern, options));

    SRegex posix(pattern, options);
    CheckMatch(posix, subject, start);
    return 0;
}
