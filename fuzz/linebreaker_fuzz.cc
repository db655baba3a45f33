// Fuzz target for SLineBreaker: arbitrary bytes broken into lines with both strip
// modes.  Unstripped lines joined again must give back the input exactly; each
// stripped line must be its unstripped twin without the CR LF or LF end; the
// remainder after every line must be exactly the unread tail of the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SLineBreaker.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

// The line without its end: CR LF or LF, when it has one.
std::string WithoutEnd(const std::string& line) {
    size_t n = line.size();
    if (n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n') return line.substr(0, n - 2);
    if (n >= 1 && line[n - 1] == '\n') return line.substr(0, n - 1);
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    SString text(input.data(), static_cast<int>(input.size()));
    SLineBreaker whole(text, 0), stripped(text, 1);
    SString line, bare;
    std::string joined;
    while (whole.ReadLine(line)) {
        Check(stripped.ReadLine(bare));
        std::string full = Str(line);
        Check(!full.empty() && line.Defined() && bare.Defined());
        // Only the last byte of a line may be a line feed.
        Check(full.find('\n') == std::string::npos || full.find('\n') == full.size() - 1);
        Check(Str(bare) == WithoutEnd(full));
        joined += full;
        SString rest = whole.GetRemainder();
        Check(rest.Length() == static_cast<int>(size - joined.size()));
        Check(std::memcmp(rest.Chars(), input.data() + joined.size(), rest.Length()) == 0);
    }
    Check(!line.Defined());
    Check(!stripped.ReadLine(bare) && !bare.Defined());
    Check(joined == input);
    return 0;
}
