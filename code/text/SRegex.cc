// SRegex: a POSIX extended expression compiled by glibc's regex engine, searched
// with explicit start and end offsets, and the substitution built on it.
//
// The compiled regex_t and the last successful search's offsets live in a private
// Engine block allocated by Set and freed by the destructor or the next Set.  How
// the engine's gaps are filled (patterns with NUL bytes, word brackets) is described
// in SRegex.h; the helpers below do it.
#include "SRegex.h"

#include <regex.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

namespace {

// The bits regcomp(REG_EXTENDED) uses, minus "dot does not match NUL": subjects may
// hold NUL bytes and '.' is meant to match any byte.
constexpr reg_syntax_t kSyntax = RE_SYNTAX_POSIX_EXTENDED & ~RE_DOT_NOT_NULL;

// The engine fills this many offset pairs (whole match and nine groups).
constexpr int kEnginePairs = 10;

const char kWordStart[] = "[:<:]]";
const char kWordEnd[] = "[:>:]]";
constexpr int kWordBracketLen = 6;

bool At(const SString& s, int i, const char* text, int n) {
    return s.Length() - i >= n && std::memcmp(s.Chars() + i, text, n) == 0;
}

// Copies a bracket expression that starts at `i` (just after its '['), up to and
// including its closing ']'.  Returns the index after it (the length when the
// bracket is unterminated; the engine then reports the error).
int CopyBracket(const SString& pattern, int i, std::string& out) {
    const char* p = pattern.Chars();
    int n = pattern.Length();
    if (i < n && p[i] == '^') out += p[i++];
    if (i < n && p[i] == ']') out += p[i++];
    while (i < n) {
        char c = p[i++];
        out += c;
        if (c == ']') return i;
        if (c == '[' && i < n && (p[i] == ':' || p[i] == '.' || p[i] == '=')) {
            // A class, collating symbol or equivalence class: the ']' of its closing
            // ":]" (".]", "=]") does not end the bracket.
            char kind = p[i];
            int j = i + 1;
            while (j + 1 < n && !(p[j] == kind && p[j + 1] == ']')) ++j;
            int stop = j + 1 < n ? j + 2 : n;
            out.append(p + i, stop - i);
            i = stop;
        }
    }
    return i;
}

// Rewrites the word brackets "[[:<:]]" / "[[:>:]]" into glibc's "\<" / "\>"; every
// other byte (NULs included) is passed on unchanged.
std::string TranslateForEngine(const SString& pattern) {
    const char* p = pattern.Chars();
    int n = pattern.Length();
    std::string out;
    out.reserve(n + 8);
    int i = 0;
    while (i < n) {
        char c = p[i++];
        if (c == '\\') {
            out += c;
            if (i < n) out += p[i++];
        } else if (c == '[' && At(pattern, i, kWordStart, kWordBracketLen)) {
            out += "\\<";
            i += kWordBracketLen;
        } else if (c == '[' && At(pattern, i, kWordEnd, kWordBracketLen)) {
            out += "\\>";
            i += kWordBracketLen;
        } else if (c == '[') {
            out += c;
            i = CopyBracket(pattern, i, out);
        } else {
            out += c;
        }
    }
    return out;
}

// re_compile_pattern reports failure as the engine's message; find its code.
int ErrorCodeOf(const char* message) {
    char text[128];
    for (int code = REG_BADPAT; code <= REG_ERPAREN; ++code) {
        regerror(code, nullptr, text, sizeof text);
        if (std::strcmp(text, message) == 0) return code;
    }
    return REG_BADPAT;
}

// Compiles `text` (length-delimited, may hold NULs) into `rx`; returns 0 or the
// engine's error code.  On failure `rx` holds nothing that needs freeing.
int CompileEngine(regex_t* rx, const std::string& text, bool icase) {
    std::memset(rx, 0, sizeof *rx);
    rx->fastmap = static_cast<char*>(std::malloc(256));
    if (!rx->fastmap) return REG_ESPACE;
    reg_syntax_t saved = re_syntax_options;
    re_syntax_options = kSyntax | (icase ? RE_ICASE : 0);
    const char* failure = re_compile_pattern(text.data(), text.size(), rx);
    re_syntax_options = saved;
    if (failure) {
        regfree(rx);
        return ErrorCodeOf(failure);
    }
    rx->newline_anchor = 0;  // '^' and '$' only at the ends of the text
    re_compile_fastmap(rx);
    return 0;
}

void ClearPairs(regmatch_t* pairs) {
    for (int k = 0; k < SREGEX_PAIRS; ++k) pairs[k].rm_so = pairs[k].rm_eo = -1;
}

}  // namespace

struct SRegex::Engine {
    regex_t rx;
    regmatch_t pairs[SREGEX_PAIRS];
    bool compiled = false;
};

SRegex::SRegex() : engine(nullptr), status(-1) {}

SRegex::SRegex(const SString& pattern, const char* options) : engine(nullptr), status(-1) {
    SRegex::Set(pattern, options);
}

SRegex::SRegex(const SRegex&) : engine(nullptr), status(-1) {}

SRegex& SRegex::operator=(const SRegex&) { return *this; }

SRegex::~SRegex() { _Free(); }

void SRegex::_Free() {
    if (engine) {
        if (engine->compiled) regfree(&engine->rx);
        delete engine;
        engine = nullptr;
    }
    status = -1;
}

int SRegex::Set(const SString& pattern, const char* options) {
    _Free();
    engine = new (std::nothrow) Engine;
    if (!engine) return status = REG_ESPACE;
    ClearPairs(engine->pairs);
    if (pattern.Length() == 0) return status = REG_BADPAT;  // glibc would match everywhere
    bool icase = options && std::strchr(options, 'i');
    status = CompileEngine(&engine->rx, TranslateForEngine(pattern), icase);
    engine->compiled = status == 0;
    return status;
}

void SRegex::Debug() const {
    if (status == 0) {
        std::cerr << "SRegex is OK\n";
    } else if (status == -1) {
        std::cerr << "SRegex was never compiled\n";
    } else {
        char text[101];
        regerror(status, nullptr, text, sizeof text);
        std::cerr << "SRegex didn't compile because of the following reason:\n" << text << "\n";
    }
}

int SRegex::Groups() const { return status == 0 ? static_cast<int>(engine->rx.re_nsub) : 0; }

bool SRegex::_Search(const char* text, int length, int start) {
    if (status != 0 || start < 0 || start > length) return false;
    regmatch_t found[kEnginePairs];
    found[0].rm_so = start;
    found[0].rm_eo = length;
    int flags = REG_STARTEND | (start >= 1 ? REG_NOTBOL : 0);
    if (regexec(&engine->rx, text, kEnginePairs, found, flags) != 0) return false;
    ClearPairs(engine->pairs);
    std::memcpy(engine->pairs, found, sizeof found);
    return true;
}

bool SRegex::HasMatch(const SString& s, int start) { return _Search(s.Chars(), s.Length(), start); }

SStringList SRegex::Match(const SString& s, int start) {
    SStringList groups;
    if (!_Search(s.Chars(), s.Length(), start)) return groups;
    int n = Groups();
    for (int k = 0; k <= n; ++k) {
        const regmatch_t& pair = engine->pairs[k];
        if (pair.rm_so < 0)
            groups.Push(SString(""));
        else
            groups.Push(SString(s.Chars() + pair.rm_so, pair.rm_eo - pair.rm_so));
    }
    return groups;
}

std::pair<int, int> SRegex::MatchInfo(int k) const {
    if (!engine || k < 0 || k > Groups() || k >= SREGEX_PAIRS) return {-1, -1};
    return {engine->pairs[k].rm_so, engine->pairs[k].rm_eo};
}

int SRegex::MatchPos() const { return engine ? engine->pairs[0].rm_so : -1; }

int SRegex::MatchLen() const {
    return engine ? engine->pairs[0].rm_eo - engine->pairs[0].rm_so : 0;
}

SStringList SRegex::Subst(SString& s, const SString& replacement, const char* options) {
    SStringList result;
    if (status != 0) return result;
    bool global = options && std::strchr(options, 'g');
    const SString subject(s);  // keeps the text alive while `s` is replaced
    const char* text = subject.Chars();
    int length = subject.Length();
    std::string output;
    int pos = 0;
    bool matched = false;
    for (;;) {
        SStringList groups = Match(subject, pos);
        if (groups.Count() == 0) break;
        matched = true;
        result = groups;
        int start = engine->pairs[0].rm_so, end = engine->pairs[0].rm_eo;
        output.append(text + pos, start - pos);
        SString pasted;
        if (AppendPasteBuffer(pasted, replacement, groups))
            output.append(pasted.Chars(), pasted.Length());
        pos = end;
        if (!global) break;
        // An empty match would be found again at the same place: step over one byte.
        if (start == end && pos < length) output += text[pos++];
        if (pos >= length) break;
    }
    if (matched) {
        output.append(text + pos, length - pos);
        s = SString(output.data(), static_cast<int>(output.size()));
    }
    return result;
}
