// SplitExact and BreakToWords on arbitrary bytes.  Splitting at a separator and
// joining the pieces with it gives back the text; the piece count respects the
// maximum; words are never empty and an unquoted word holds no separator.
//
// Input: byte 0 = maximum number of pieces (0..7), byte 1 = separator length (0..3),
// then the separator, then the text.
// links: quillbox_text
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "SStringList.h"

namespace {

void CheckSplit(const SString& text, const SString& sep, int max) {
    SStringList pieces = text.SplitExact(sep, max);
    if (!pieces.Defined()) std::abort();
    if (max > 0 && pieces.Count() > max) std::abort();
    if (!(pieces.Join(sep) == text)) std::abort();
}

void CheckWords(const SString& text) {
    SStringList words = text.BreakToWords();
    words.ForEach([](const SString& w) {
        if (w.Length() == 0) std::abort();
        if (w[0] == '"') return;
        for (int i = 0; i < w.Length(); ++i) {
            int c = w[i];
            if (c == ' ' || c == '\t' || c == '\n') std::abort();
        }
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    int max = data[0] % 8;
    size_t seplen = data[1] % 4;
    if (size < 2 + seplen) return 0;
    SString sep(reinterpret_cast<const char*>(data + 2), static_cast<int>(seplen));
    SString text(reinterpret_cast<const char*>(data + 2 + seplen),
                 static_cast<int>(size - 2 - seplen));
    CheckSplit(text, sep, max);
    CheckWords(text);
    return 0;
}
