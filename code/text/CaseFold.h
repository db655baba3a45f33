// Case folding for table keys and case-blind comparisons.  A 256-entry table built
// once from the C library's tolower (the process stays in the "C" locale), so that
// hashing and comparing keys does not pay a library call per byte.
#ifndef QUILLBOX_TEXT_CASEFOLD_H
#define QUILLBOX_TEXT_CASEFOLD_H

#include <cctype>

namespace quillbox_text {

struct CaseFoldTable {
    unsigned char lower[256];
    CaseFoldTable() {
        for (int c = 0; c < 256; ++c) lower[c] = static_cast<unsigned char>(std::tolower(c));
    }
};

inline const unsigned char* LowerTable() {
    static const CaseFoldTable table;
    return table.lower;
}

}  // namespace quillbox_text

#endif
