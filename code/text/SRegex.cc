// SRegex: a POSIX extended expression compiled by glibc's regex engine, searched
// with explicit start and end offsets, and the substitution built on it.
//
// The compiled regex_t and the last successful search's offsets live in a private
// Engine block allocated by Set and freed by the destructor or the next Set.  How
// the engine's gaps are filled (patterns with NUL bytes, word brackets) is described
// in SRegex.h; the helpers below do it.
#include "SRegex.h"

#include <regex.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <vector>

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

// Finds the end of a bracket expression whose '[' is just before `i`: the index after
// its closing ']' (the length when it is unterminated; the engine then reports the
// error).  The bytes read are appended to `out` when it is given.
int BracketEnd(const char* p, int n, int i, std::string* out) {
    int start = i;
    if (i < n && p[i] == '^') ++i;
    if (i < n && p[i] == ']') ++i;
    while (i < n) {
        char c = p[i++];
        if (c == ']') break;
        if (c == '[' && i < n && (p[i] == ':' || p[i] == '.' || p[i] == '=')) {
            // A class, collating symbol or equivalence class: the ']' of its closing
            // ":]" (".]", "=]") does not end the bracket.
            char kind = p[i];
            int j = i + 1;
            while (j + 1 < n && !(p[j] == kind && p[j + 1] == ']')) ++j;
            i = j + 1 < n ? j + 2 : n;
        }
    }
    if (out) out->append(p + start, i - start);
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
            i = BracketEnd(p, n, i, &out);
        } else {
            out += c;
        }
    }
    return out;
}

// Refuses, before the engine sees them, the expressions that would make it build an
// enormous program.  glibc copies a repeated operand once per required repetition
// ("a{3}" is three copies, "a+" two), so nested repetitions multiply and a run of
// stacked operators ("a+++...") doubles the program at each one.  Stacked repetition
// operators are refused with REG_BADRPT, as the engine this layer was written for
// does; an estimated program above kMaxCopies operand copies with REG_ESIZE.
class ShapeCheck {
public:
    explicit ShapeCheck(const std::string& pattern) : p(pattern) {}

    int Run() {
        while (i < p.size()) {
            double factor = 0;
            if (_Repetition(factor)) {
                if (afterRepetition) return REG_BADRPT;
                afterRepetition = true;
                Frame& f = stack.back();
                f.branch += f.last * (factor - 1);
                f.last = 0;
                if (f.branch > kMaxCopies) return REG_ESIZE;
                continue;
            }
            afterRepetition = false;
            _Structure();
        }
        double total = 0;
        for (const Frame& f : stack) total += f.total + f.branch;
        return total > kMaxCopies ? REG_ESIZE : 0;
    }

private:
    static constexpr double kMaxCopies = 20000;

    struct Frame {
        double total = 0;   // completed alternatives
        double branch = 0;  // the alternative being read
        double last = 0;    // size of its last operand, which a repetition copies
    };

    // A repetition operator at i: consumes it and sets how many copies it makes.
    bool _Repetition(double& factor) {
        char c = p[i];
        if (c == '*' || c == '?')
            factor = 1;
        else if (c == '+')
            factor = 2;
        else if (c != '{' || !_Interval(factor))
            return false;
        if (c != '{') ++i;
        return true;
    }

    // "{m}", "{m,}", "{m,n}" or "{,n}" at i; consumed when well formed.
    bool _Interval(double& factor) {
        size_t j = i + 1;
        double low = _Number(j), high = low;
        bool comma = j < p.size() && p[j] == ',';
        if (comma) high = _Number(++j);
        if (j >= p.size() || p[j] != '}' || (low < 0 && high < 0)) return false;
        factor = std::max({1.0, low + (comma && high < 0 ? 1 : 0), high});
        i = j + 1;
        return true;
    }

    // Decimal digits at j (consumed), or -1 when there are none.
    double _Number(size_t& j) {
        if (j >= p.size() || !std::isdigit(static_cast<unsigned char>(p[j]))) return -1;
        double n = 0;
        while (j < p.size() && std::isdigit(static_cast<unsigned char>(p[j])))
            n = std::min(n * 10 + (p[j++] - '0'), 1e9);
        return n;
    }

    // Groups, alternatives and operands.
    void _Structure() {
        char c = p[i];
        if (c == '(') {
            stack.emplace_back();
            ++i;
        } else if (c == ')' && stack.size() > 1) {
            double inner = stack.back().total + stack.back().branch + 1;
            stack.pop_back();
            _Operand(inner);
            ++i;
        } else if (c == '|') {
            Frame& f = stack.back();
            f.total += f.branch;
            f.branch = f.last = 0;
            ++i;
        } else {
            _Operand(1);
            if (c == '\\')
                i += 2;
            else if (c == '[')
                i = _BracketEnd();
            else
                ++i;
        }
    }

    void _Operand(double size) {
        stack.back().branch += size;
        stack.back().last = size;
    }

    size_t _BracketEnd() {
        return BracketEnd(p.data(), static_cast<int>(p.size()), static_cast<int>(i) + 1, nullptr);
    }

    const std::string& p;
    size_t i = 0;
    bool afterRepetition = false;
    std::vector<Frame> stack = std::vector<Frame>(1);
};

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
    std::string text = TranslateForEngine(pattern);
    status = ShapeCheck(text).Run();
    if (status == 0) status = CompileEngine(&engine->rx, text, icase);
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
