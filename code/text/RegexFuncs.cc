// The pattern operations of SString (M, HasMatch, S, Split) and SStringList (Grep),
// the replacement expansion they share, and the cache of compiled patterns.
// Text patterns (Perl syntax) arrive as literals on every message, so compiled ones
// are kept in a small per-process cache keyed by pattern bytes and case option; a
// pattern that fails is never cached, so its report comes on every call.  Processes
// are single-threaded; the cache is not locked.
#include <cstring>
#include <iostream>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "SRegex.h"
#include "SString.h"
#include "SStringList.h"
#include "Sfiledir.h"

namespace {

// ---- replacement expansion ------------------------------------------------------

void AppendGroup(std::string& out, const SStringList& groups, int k) {
    if (k >= groups.Count()) return;
    SString text = groups.Get(k);
    out.append(text.Chars(), text.Length());
}

void ReportUnescapedDollar() {
    std::cerr << "Unescaped '$' in regular expression replacement string\n";
}

void ReportInvalidReplacement() {
    std::cerr << "Invalid replacement string in regular expression\n";
}

char EscapedByte(char c) {
    switch (c) {
        case 'n': return '\n';
        case 't': return '\t';
        case 'r': return '\r';
        case 'f': return '\f';
        case 'v': return '\v';
        case '0': return '\0';
        default: return c;
    }
}

// Expands `replacement` into `out`; false when it ends in a lone '$' or '\', whose
// escape would reach past the end.
bool ExpandReplacement(std::string& out, const SString& replacement, const SStringList& groups) {
    const char* r = replacement.Chars();
    int n = replacement.Length();
    int i = 0;
    while (i < n) {
        char c = r[i++];
        if (c != '$' && c != '\\') {
            out += c;
            continue;
        }
        if (i >= n) {
            if (c == '$') ReportUnescapedDollar();
            ReportInvalidReplacement();
            return false;
        }
        char next = r[i++];
        if (next >= '1' && next <= '9') {
            AppendGroup(out, groups, next - '0');
        } else if (c == '\\') {
            out += EscapedByte(next);
        } else if (next == '&') {
            AppendGroup(out, groups, 0);
        } else {
            ReportUnescapedDollar();  // the byte after the '$' is dropped
            out += '$';
        }
    }
    return true;
}

// ---- compiled-pattern cache ------------------------------------------------------

constexpr size_t kCacheEntries = 64;

class PatternCache {
public:
    // A usable compiled form of `pattern`, or null (conversion and compilation have
    // then been tried afresh, with their reports, and the result was unusable).
    SPerlRegex* Find(const SString& pattern, bool icase) {
        std::string key(pattern.Chars(), pattern.Length());
        key += '\0';
        key += icase ? 'i' : '-';
        auto hit = index.find(key);
        if (hit != index.end()) {
            order.splice(order.begin(), order, hit->second);
            return hit->second->second.get();
        }
        auto rx = std::make_unique<SPerlRegex>(pattern, icase ? "i" : "");
        if (!rx->OK()) return nullptr;
        if (order.size() >= kCacheEntries) {
            index.erase(order.back().first);
            order.pop_back();
        }
        order.emplace_front(key, std::move(rx));
        index[key] = order.begin();
        return order.front().second.get();
    }

private:
    using Entry = std::pair<std::string, std::unique_ptr<SPerlRegex>>;
    std::list<Entry> order;  // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> index;
};

PatternCache& Cache() {
    static PatternCache* cache = new PatternCache;  // outlives every static destructor
    return *cache;
}

bool HasOption(const char* options, char letter) { return options && std::strchr(options, letter); }

// Compiled form of a Perl pattern for one call: from the cache when it compiles,
// otherwise an unusable expression that never matches.
class CompiledPattern {
public:
    CompiledPattern(const SString& pattern, const char* options)
        : rx(Cache().Find(pattern, HasOption(options, 'i'))) {}

    SRegex& Get() { return rx ? *rx : unusable; }

private:
    SPerlRegex* rx;
    SRegex unusable;
};

// ---- splitting ------------------------------------------------------------------

SString Piece(const SString& s, int start, int end) {
    return SString(s.Chars() + start, end - start);
}

// Split with the empty pattern: one field per byte, the last field taking the rest.
SStringList SplitBytes(const SString& s, int limit) {
    SStringList fields;
    if (s.Defined()) fields.Reset();
    int length = s.Length();
    if (length == 0) return fields;
    int k = (limit == 0 || length < limit) ? length : limit;
    if (k < 1) k = 1;
    for (int i = 0; i < k - 1; ++i) fields.Push(Piece(s, i, i + 1));
    fields.Push(Piece(s, k - 1, length));
    return fields;
}

SRegex& WhiteSpaceRegex() {
    static SRegex* rx = new SRegex(SString("[ \t\r\n]+"));
    return *rx;
}

const char kSplitSpecials[] = "$()*+.?[\\]^{|}";

// ---- the list filter's test text ------------------------------------------------

enum class GrepKind { None, Match, Subst, File };

struct GrepTest {
    GrepKind kind = GrepKind::None;
    bool negate = false;
    std::string pattern;
    std::string replacement;
    std::string options;
    char fileTest = '\0';
};

void ReportGrep(const char* message, const SString& test) {
    std::cerr << message << "\nThe test field for Grep was '";
    test.Write(std::cerr);
    std::cerr << "'\n";
}

// Reads up to the delimiter `d` (consumed) or the end; a backslash keeps the byte
// after it, both copied.  False when the text ends in a backslash.
bool ReadDelimited(const SString& test, int& i, char d, std::string& out) {
    const char* p = test.Chars();
    int n = test.Length();
    while (i < n) {
        char c = p[i++];
        if (c == d) return true;
        out += c;
        if (c == '\\') {
            if (i >= n) return false;
            out += p[i++];
        }
    }
    return true;
}

// Parses the pattern, replacement (for a substitution) and options after the first
// delimiter.
bool ParseDelimited(const SString& test, int i, char d, GrepTest& t) {
    if (!ReadDelimited(test, i, d, t.pattern)) return false;
    if (t.kind == GrepKind::Subst && !ReadDelimited(test, i, d, t.replacement)) return false;
    t.options.assign(test.Chars() + i, test.Length() - i);
    return true;
}

bool ParseGrepTest(const SString& test, GrepTest& t) {
    const char* p = test.Chars();
    int n = test.Length();
    int i = 0;
    while (i < n) {
        char c = p[i++];
        if (c == ' ' || c == '\t') continue;
        if (c == '!') {
            t.negate = !t.negate;
            continue;
        }
        if (c == '-') {
            t.kind = GrepKind::File;
            t.fileTest = i < n ? p[i] : '\0';
            return true;
        }
        if (c != '/' && c != 'm' && c != 's') {
            ReportGrep("Unknown test type for Grep function", test);
            continue;
        }
        t.kind = c == 's' ? GrepKind::Subst : GrepKind::Match;
        char d = '/';
        if (c != '/') {
            if (i >= n) break;
            d = p[i++];
        }
        if (ParseDelimited(test, i, d, t)) return true;
        break;
    }
    if (t.kind == GrepKind::None)
        ReportGrep("Grep called without a valid test field.", test);
    else
        ReportGrep("Incomplete expression in Grep function call", test);
    return false;
}

bool FileTestHolds(char test, const SString& path) {
    switch (test) {
        case 'd': return IsDirectory(path);
        case 'e': return FileExists(path);
        case 'f': return IsRegular(path);
        case 'r': return IsReadable(path);
        case 'w': return IsWriteable(path);
        default: return IsExecutable(path);
    }
}

bool ValidFileTest(char test) { return test != '\0' && std::strchr("defrwx", test); }

SString AsSString(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }

}  // namespace

bool AppendPasteBuffer(SString& output, const SString& replacement, const SStringList& groups) {
    std::string scratch;
    if (!ExpandReplacement(scratch, replacement, groups)) return false;
    output += AsSString(scratch);
    return true;
}

// ---- SString ---------------------------------------------------------------------

SStringList SString::M(SRegex& rx) const { return rx.Match(*this, 0); }

SStringList SString::M(const SString& pattern, const char* options) const {
    return CompiledPattern(pattern, options).Get().Match(*this, 0);
}

bool SString::HasMatch(SRegex& rx) const { return rx.HasMatch(*this, 0); }

bool SString::HasMatch(const SString& pattern, const char* options) const {
    return CompiledPattern(pattern, options).Get().HasMatch(*this, 0);
}

SStringList SString::S(SRegex& rx, const SString& replacement, const char* options) {
    return rx.Subst(*this, replacement, options);
}

SStringList SString::S(const SString& pattern, const SString& replacement, const char* options) {
    if (pattern.Length() > 0)
        return CompiledPattern(pattern, options).Get().Subst(*this, replacement, options);
    // The empty pattern matches before every byte without compiling anything.
    SStringList groups(SString(""));
    std::string paste;
    if (!ExpandReplacement(paste, replacement, groups)) paste.clear();
    if (!HasOption(options, 'g')) {
        *this = AsSString(paste) + *this;
        return groups;
    }
    std::string out;
    for (int i = 0; i < Length(); ++i) {
        out += paste;
        out += Chars()[i];
    }
    if (Length() > 0) out += paste;
    if (Length() > 0) *this = AsSString(out);
    return groups;
}

SStringList SString::Split(SRegex& rx, int limit) const {
    SStringList fields;
    if (!rx.OK()) return fields;
    int length = Length();
    int pos = 0;
    for (int n = 1; limit == 0 || n < limit;) {
        if (pos >= length) return fields;  // a trailing separator adds no empty field
        if (!rx.HasMatch(*this, pos)) break;
        std::pair<int, int> match = rx.MatchInfo(0);
        if (match.first == pos && match.second > pos) {
            fields.Push(SString(""));  // a separator right at the start of a field
            pos = match.second;
            continue;
        }
        if (match.first == pos) {
            // An empty match where the field starts separates nothing; look one byte
            // further.  Nothing there: the rest of the text is the last field.
            if (!rx.HasMatch(*this, pos + 1)) break;
            match = rx.MatchInfo(0);
        }
        fields.Push(Piece(*this, pos, match.first));
        ++n;
        pos = match.second;
    }
    if (pos < length) fields.Push(Piece(*this, pos, length));
    return fields;
}

SStringList SString::Split(const SString& pattern, int limit) const {
    if (pattern.Length() == 0) return SplitBytes(*this, limit);
    return Split(CompiledPattern(pattern, nullptr).Get(), limit);
}

SStringList SString::Split(char c, int limit) const {
    if (c == ' ') {
        SStringList fields = Split(WhiteSpaceRegex(), limit);
        if (fields.Count() > 1 && fields.Get(0).Length() == 0) fields.Shift();
        return fields;
    }
    std::string pattern;
    if (c != '\0' && std::strchr(kSplitSpecials, c)) pattern += '\\';
    pattern += c;
    return Split(AsSString(pattern), limit);
}

// ---- SStringList -----------------------------------------------------------------

SStringList SStringList::Grep(SRegex& rx, int keep) const {
    SStringList kept;
    if (!Defined() || !rx.OK()) return kept;
    bool wanted = keep != 0;
    ForEach([&](const SString& item) {
        if (rx.HasMatch(item, 0) == wanted) kept.Push(item);
    });
    return kept;
}

SStringList SStringList::Grep(const SString& test, SStringList* rejects) {
    if (rejects) rejects->Undef();
    SStringList accepted, rejected;
    if (!Defined()) return accepted;
    _MakeUnique();
    GrepTest t;
    if (!ParseGrepTest(test, t)) return accepted;
    std::optional<CompiledPattern> compiled;
    if (t.kind == GrepKind::File) {
        if (rep->count > 0 && !ValidFileTest(t.fileTest)) {
            std::cerr << "Grep: invalid file test\n";
            return accepted;
        }
    } else {
        compiled.emplace(AsSString(t.pattern), t.options.c_str());
        if (!compiled->Get().OK()) return accepted;
    }
    SString replacement = AsSString(t.replacement);
    SStringItem* item = rep->head;
    for (int i = 0; i < rep->count; ++i, item = item->next) {
        bool pass;
        if (t.kind == GrepKind::File)
            pass = FileTestHolds(t.fileTest, item->str);
        else if (t.kind == GrepKind::Subst)
            pass = compiled->Get().Subst(item->str, replacement, t.options.c_str()).Count() > 0;
        else
            pass = compiled->Get().HasMatch(item->str, 0);
        (pass ? accepted : rejected).Push(item->str);
    }
    if (t.negate) std::swap(accepted, rejected);
    if (rejects) *rejects = rejected;
    return accepted;
}
