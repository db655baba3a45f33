// SString: copy-on-write byte strings.
//
// Every handle points at a representation; handles share it until one of them
// changes the text, which first calls _Realloc to make its representation private.
// An SFixedString is a representation over a caller's buffer whose link count never
// drops below 2, so it is always copied before a change.  Comparisons and searches
// go by the explicit length and unsigned bytes; the text may hold zero bytes.
#include "SString.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

#include "BlockPool.h"
#include "CaseFold.h"
#include "SStringList.h"

namespace {

// A representation and its first buffer share one allocation: the buffer area
// follows the record.  Most strings never outgrow their first buffer, so this halves
// the allocations per string.  Every record we allocate has at least 8 bytes of such
// inline area.  A buffer that grows beyond it is allocated on its own; the inline
// area is then unused and holds its own size, so the block can be returned to the
// pool with the size it was taken with.
constexpr int kMinInline = 8;

char* InlineArea(SStringRep* r) { return reinterpret_cast<char*>(r + 1); }

void StoreInlineSize(SStringRep* r, int size) { std::memcpy(InlineArea(r), &size, sizeof size); }

int InlineSize(SStringRep* r) {
    if (r->buffer == InlineArea(r)) return r->allocated;
    int size;
    std::memcpy(&size, InlineArea(r), sizeof size);
    return size;
}

SStringRep* AllocRep(int inlineSize) {
    void* block = quillbox_text::PoolAlloc(sizeof(SStringRep) + inlineSize);
    auto* r = new (block) SStringRep{nullptr, 0, 1, 0};
    StoreInlineSize(r, inlineSize);
    return r;
}

// Leaves the record without a buffer; an external buffer is freed.
void FreeBuffer(SStringRep* r) {
    if (r->buffer == InlineArea(r))
        StoreInlineSize(r, r->allocated);
    else
        delete[] r->buffer;
    r->buffer = nullptr;
}

void FreeRep(SStringRep* r) {
    std::size_t size = sizeof(SStringRep) + InlineSize(r);
    FreeBuffer(r);
    quillbox_text::PoolFree(r, size);
}

// An undefined string's record (with the minimum inline area for its first value).
SStringRep* NewRep() { return AllocRep(kMinInline); }

int Compare(const char* a, int alen, const char* b, int blen) {
    int common = std::min(alen, blen);
    int c = common > 0 ? std::memcmp(a, b, common) : 0;
    if (c != 0) return c;
    return alen < blen ? -1 : (alen > blen ? 1 : 0);
}

// memmem over explicit lengths; returns the offset or -1.
int Find(const char* hay, int haylen, const char* needle, int nlen, int start) {
    if (start < 0 || nlen <= 0 || start > haylen - nlen) return -1;
    const void* hit = nlen == 1 ? std::memchr(hay + start, needle[0], haylen - start)
                                : memmem(hay + start, haylen - start, needle, nlen);
    return hit ? static_cast<int>(static_cast<const char*>(hit) - hay) : -1;
}

int SafeStrlen(const char* s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

SString Formatted(const char* fmt, long n) {
    char buf[32];
    int len = std::snprintf(buf, sizeof buf, fmt, n);
    return SString(buf, len);
}

SString FormattedDouble(double d) {
    char buf[40];
    int len = std::snprintf(buf, sizeof buf, "%.16g", d);
    return SString(buf, len);
}

}  // namespace

int BytesToAllocate(int n) {
    if (n < 8) return 8;
    unsigned v = static_cast<unsigned>(n);
    unsigned p = 1;
    while (p <= v) p <<= 1;
    return static_cast<int>(p);
}

// ---- SFixedString ------------------------------------------------------------

SFixedString::SFixedString() : SStringRep{const_cast<char*>(""), 0, 2, 0} {}

SFixedString::SFixedString(const char* buf, int len)
    : SStringRep{const_cast<char*>(buf), len, 2, len} {}

SFixedString::~SFixedString() {
    if (links != 2) {
        std::cerr << "SFixedString destroyed while still shared" << std::endl;
        std::_Exit(110);
    }
}

void SFixedString::SetBuffer(const char* buf, int len) {
    buffer = const_cast<char*>(buf);
    length = len;
    allocated = len;
}

// ---- representation management ----------------------------------------------

char* SString::_Malloc(int n) {
    int size = BytesToAllocate(n);
    rep = AllocRep(size);
    rep->buffer = InlineArea(rep);
    rep->allocated = size;
    rep->buffer[n] = 0;
    return rep->buffer + n;
}

void SString::_Realloc(int n) {
    if (rep->links != 1) {
        SStringRep* old = rep;
        old->links--;
        _Malloc(n);
        int keep = std::min(old->length, n);
        if (keep > 0) std::memcpy(rep->buffer, old->buffer, keep);
        rep->length = keep;
        rep->buffer[keep] = 0;
    } else if (rep->allocated <= n) {
        int size = BytesToAllocate(n);
        int inlineSize = rep->buffer ? 0 : InlineSize(rep);
        if (size <= inlineSize) {
            rep->buffer = InlineArea(rep);
            size = inlineSize;
        } else {
            char* fresh = new char[size];
            if (rep->buffer) std::memcpy(fresh, rep->buffer, rep->length);
            fresh[rep->length] = 0;
            FreeBuffer(rep);
            rep->buffer = fresh;
        }
        rep->allocated = size;
    }
    rep->buffer[n] = 0;
}

void SString::_Undef() {
    if (rep->links != 1) {
        rep->links--;
        rep = NewRep();
        return;
    }
    FreeBuffer(rep);
    rep->length = 0;
    rep->allocated = 0;
}

void SString::_Free() {
    if (--rep->links == 0) FreeRep(rep);
    rep = nullptr;
}

void SString::_Assign(const char* p, int n) {
    if (n < 0) n = 0;
    // The source may live inside our own buffer (assigning a piece of ourselves).
    if (rep->links == 1 && rep->buffer && p >= rep->buffer && p < rep->buffer + rep->allocated) {
        std::memmove(rep->buffer, p, n);
        rep->buffer[n] = 0;
        rep->length = n;
        return;
    }
    _Realloc(n);
    _Fill(p, n);
}

void SString::_Fill(const char* p, int n) {
    if (n > 0) {
        if (p)
            std::memcpy(rep->buffer, p, n);
        else
            std::memset(rep->buffer, 0, n);
    }
    rep->length = n;
    rep->buffer[n] = 0;
}

void SString::_Append(const char* p, int n) {
    if (n <= 0 || !p) return;
    int oldlen = rep->length;
    // Appending a piece of ourselves: remember it as an offset across the realloc.
    bool self = rep->buffer && p >= rep->buffer && p < rep->buffer + rep->allocated;
    long offset = self ? p - rep->buffer : 0;
    _Realloc(oldlen + n);
    const char* src = self ? rep->buffer + offset : p;
    std::memmove(rep->buffer + oldlen, src, n);
    rep->length = oldlen + n;
    rep->buffer[rep->length] = 0;
}

// ---- construction -------------------------------------------------------------

SString::SString() : rep(NewRep()) {}

SString::SString(const SString& other) : rep(other.rep) { rep->links++; }

SString::SString(SStringRep* r) : rep(r) { rep->links++; }

SString::SString(const SFixedString& fixed) : rep(const_cast<SFixedString*>(&fixed)) {
    rep->links++;
}

SString::SString(const char* s) : SString(s ? s : "", SafeStrlen(s)) {}

SString::SString(const char* p, int n) : rep(nullptr) {
    if (n < 0) n = 0;
    _Malloc(n);
    _Fill(p, n);
}

SString::SString(char c, int n) : rep(nullptr) {
    if (n < 0) n = 0;
    _Malloc(n);
    std::memset(rep->buffer, c, n);
    rep->length = n;
}

SString::SString(int n) : SString(Formatted("%d", n)) {}
SString::SString(long n) : SString(Formatted("%ld", n)) {}
SString::SString(double d) : SString(FormattedDouble(d)) {}
SString::SString(float f) : SString(FormattedDouble(static_cast<double>(f))) {}

SString::~SString() { _Free(); }

SString& SString::operator=(const SString& other) {
    if (rep == other.rep) return *this;
    other.rep->links++;
    _Free();
    rep = other.rep;
    return *this;
}

SString& SString::operator=(const char* s) {
    _Assign(s ? s : "", SafeStrlen(s));
    return *this;
}

SString& SString::operator=(char c) {
    _Assign(&c, 1);
    return *this;
}

SString& SString::operator=(int n) { return *this = SString(n); }
SString& SString::operator=(long n) { return *this = SString(n); }
SString& SString::operator=(float f) { return *this = SString(f); }
SString& SString::operator=(double d) { return *this = SString(d); }

SString MakeSString(int n) { return SString(n); }
SString MakeSString(long n) { return SString(n); }
SString MakeSString(float f) { return SString(f); }
SString MakeSString(double d) { return SString(d); }

SString::operator double() const {
    if (!Defined()) return 0.0;
    // Copy: the bytes of a string over a fixed buffer are not zero-terminated.
    std::string text(rep->buffer, rep->length);
    return std::strtod(text.c_str(), nullptr);
}

SString::operator float() const { return static_cast<float>(static_cast<double>(*this)); }

// ---- concatenation ---------------------------------------------------------------

SString& SString::_AppendString(const SString& s) {
    if (s.rep == rep) {
        SString keep(s);  // appending to ourselves: the realloc copies us away from it
        _Append(keep.rep->buffer, keep.rep->length);
    } else {
        _Append(s.rep->buffer, s.rep->length);
    }
    return *this;
}

SString& SString::operator+=(const char* s) {
    _Append(s, SafeStrlen(s));
    return *this;
}

SString& SString::_AppendChar(char c) {
    int n = rep->length;
    _Realloc(n + 1);
    rep->buffer[n] = c;
    rep->length = n + 1;
    rep->buffer[n + 1] = 0;
    return *this;
}

SString SString::operator+(const SString& s) const {
    SString r(*this);
    r += s;
    return r;
}

SString SString::operator+(const char* s) const {
    SString r(*this);
    r += s;
    return r;
}

SString SString::operator+(char c) const {
    SString r(*this);
    r += c;
    return r;
}

SString operator+(const char* s, const SString& t) {
    SString r(s);
    r += t;
    return r;
}

SString operator+(char c, const SString& t) {
    SString r(&c, 1);
    r += t;
    return r;
}

// ---- element access and comparison -----------------------------------------------

int SString::operator[](int i) const {
    if (i < 0) i += rep->length;
    if (i < 0 || i >= rep->length) return 0;
    return static_cast<unsigned char>(rep->buffer[i]);
}

bool SString::operator==(const SString& s) const {
    if (rep == s.rep) return true;
    if (rep->length != s.rep->length) return false;
    return rep->length == 0 || std::memcmp(rep->buffer, s.rep->buffer, rep->length) == 0;
}

bool SString::operator==(const char* s) const {
    if (!s) return rep->length == 0;
    int n = SafeStrlen(s);
    return n == rep->length && (n == 0 || std::memcmp(rep->buffer, s, n) == 0);
}

bool SString::operator==(char c) const { return rep->length == 1 && rep->buffer[0] == c; }

bool operator==(const char* s, const SString& t) { return t == s; }
bool operator!=(const char* s, const SString& t) { return !(t == s); }

bool SString::operator<(const SString& s) const {
    return Compare(Chars(), Length(), s.Chars(), s.Length()) < 0;
}

bool SString::operator<(const char* s) const {
    if (!s) return false;
    return Compare(Chars(), Length(), s, SafeStrlen(s)) < 0;
}

bool SString::operator<(char c) const {
    if (rep->length == 0) return true;
    return static_cast<unsigned char>(rep->buffer[0]) < static_cast<unsigned char>(c);
}

bool SString::operator>(const SString& s) const {
    return Compare(Chars(), Length(), s.Chars(), s.Length()) > 0;
}

bool SString::operator>(const char* s) const {
    if (rep->length == 0) return false;
    if (!s) return true;
    return Compare(Chars(), Length(), s, SafeStrlen(s)) > 0;
}

bool SString::operator>(char c) const {
    if (rep->length == 0) return false;
    unsigned char first = static_cast<unsigned char>(rep->buffer[0]);
    unsigned char uc = static_cast<unsigned char>(c);
    return rep->length == 1 ? first > uc : first >= uc;
}

bool SString::CompareNoCase(const SString& s) const {
    if (rep == s.rep) return true;
    if (rep->length != s.rep->length) return false;
    const unsigned char* lower = quillbox_text::LowerTable();
    const unsigned char* a = reinterpret_cast<const unsigned char*>(rep->buffer);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(s.rep->buffer);
    for (int i = 0; i < rep->length; ++i) {
        if (lower[a[i]] != lower[b[i]]) return false;
    }
    return true;
}

// ---- searching ----------------------------------------------------------------------

int SString::Count(const SString& t) const {
    int n = 0;
    for (int at = Find(Chars(), Length(), t.Chars(), t.Length(), 0); at >= 0;
         at = Find(Chars(), Length(), t.Chars(), t.Length(), at + 1))
        ++n;
    return n;
}

int SString::Count(const char* t) const { return Count(SString(t ? t : "")); }

int SString::Count(char c) const {
    return static_cast<int>(std::count(Chars(), Chars() + Length(), c));
}

int SString::Index(const SString& t, int start) const {
    return Find(Chars(), Length(), t.Chars(), t.Length(), start);
}

int SString::Index(const char* t, int start) const {
    return Find(Chars(), Length(), t, SafeStrlen(t), start);
}

int SString::Index(char c, int start) const {
    if (start < 0 || start >= Length()) return -1;
    const void* hit = std::memchr(Chars() + start, c, Length() - start);
    return hit ? static_cast<int>(static_cast<const char*>(hit) - Chars()) : -1;
}

int SString::RIndex(const SString& t, int start) const {
    int len = Length(), tlen = t.Length();
    if (start == 0) start = len - 1;
    if (start < 0) {
        start += len;
        if (start < 0) return -1;
    }
    if (tlen > len) return -1;
    if (tlen == 0) return start;
    for (int at = std::min(start, len - tlen); at >= 0; --at) {
        if (std::memcmp(Chars() + at, t.Chars(), tlen) == 0) return at;
    }
    return -1;
}

int SString::RIndex(const char* t, int start) const { return RIndex(SString(t ? t : ""), start); }

int SString::RIndex(char c, int end) const {
    if (end <= 0 || end > Length()) end = Length();
    for (int at = end - 1; at >= 0; --at) {
        if (rep->buffer[at] == c) return at;
    }
    return -1;
}

bool SString::HasPrefix(const SString& p) const {
    if (p.Length() > Length()) return false;
    SFixedString lead(Chars(), p.Length());
    bool same = SString(lead) == p;
    return same;
}

bool SString::HasPrefix(const char* p) const { return HasPrefix(SString(p ? p : "")); }

// ---- pieces -------------------------------------------------------------------------

SString SString::Segment(int start, int len) const {
    if (start < 0) {
        len += start;
        start = 0;
    }
    if (len <= 0 || start >= Length()) return SString("");
    len = std::min(len, Length() - start);
    return SString(Chars() + start, len);
}

SSubString SString::Segment(int start, int len) { return SSubString(*this, start, len); }

SStringList SString::SplitExact(const SString& sep, int max) const {
    SStringList out;
    if (!Defined()) return out;
    if (max == 1) {
        out.Push(*this);
        return out;
    }
    int len = Length();
    if (sep.Length() == 0) {
        // Single characters, as the pattern split does with an empty pattern.
        out.Reset();
        int k = (max == 0 || max > len) ? len : max;
        for (int i = 0; i + 1 < k; ++i) out.Push(SString(Chars() + i, 1));
        if (k > 0) out.Push(SString(Chars() + k - 1, len - (k - 1)));
        return out;
    }
    int pos = 0;
    while (max < 1 || out.Count() < max - 1) {
        int at = Find(Chars(), len, sep.Chars(), sep.Length(), pos);
        if (at < 0) break;
        out.Push(SString(Chars() + pos, at - pos));
        pos = at + sep.Length();
    }
    out.Push(SString(Chars() + pos, len - pos));
    return out;
}

SStringList SString::BreakToWords() const {
    SStringList words;
    const char* p = Chars();
    int len = Length(), i = 0;
    auto separator = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
    while (i < len) {
        while (i < len && separator(p[i])) ++i;
        if (i >= len) break;
        int begin = i;
        if (p[i] == '"') {
            // A quoted word keeps its opening quote and runs to the closing one.
            int close = Index('"', i + 1);
            int end = close < 0 ? len : close;
            words.Push(SString(p + begin, end - begin));
            i = close < 0 ? len : close + 1;
            continue;
        }
        while (i < len && !separator(p[i])) ++i;
        words.Push(SString(p + begin, i - begin));
    }
    return words;
}

// ---- in-place changes ---------------------------------------------------------------

void SString::Reserve(int n) {
    int len = Length();
    _Realloc(n > len ? n : len);
    rep->buffer[len] = 0;
}

int SString::Chop() {
    int n = Length();
    if (n == 0) return 0;
    _Realloc(n);
    int last = static_cast<unsigned char>(rep->buffer[n - 1]);
    rep->length = n - 1;
    rep->buffer[n - 1] = 0;
    return last;
}

SString& SString::LowerCase() {
    _Realloc(Length());
    for (int i = 0; i < rep->length; ++i)
        rep->buffer[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(rep->buffer[i])));
    return *this;
}

SString& SString::UpperCase() {
    _Realloc(Length());
    for (int i = 0; i < rep->length; ++i)
        rep->buffer[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(rep->buffer[i])));
    return *this;
}

SString& SString::Reverse() {
    _Realloc(Length());
    std::reverse(rep->buffer, rep->buffer + rep->length);
    return *this;
}

// ---- copies and streams ---------------------------------------------------------------

char* SString::GetBuf() const {
    char* buf = new (std::nothrow) char[Length() + 1];
    if (!buf) return nullptr;
    if (Length() > 0) std::memcpy(buf, Chars(), Length());
    buf[Length()] = 0;
    return buf;
}

bool SString::Write(std::ostream& out) const {
    if (out.fail()) return false;  // fail() includes bad()
    out.write(Chars(), Length());
    return !out.fail();
}

bool SString::ReadLine(std::istream& in) {
    *this = "";
    if (in.fail() || in.bad()) return false;
    char stage[1024];
    int staged = 0;
    std::streambuf* buf = in.rdbuf();
    for (;;) {
        int c = buf ? buf->sbumpc() : std::char_traits<char>::eof();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            if (staged == 0 && Length() == 0) in.setstate(std::ios::failbit);
            break;
        }
        stage[staged++] = static_cast<char>(c);
        if (staged == sizeof stage) {
            _Append(stage, staged);
            staged = 0;
        }
        if (c == '\n') break;
    }
    _Append(stage, staged);
    return Length() > 0 && !in.fail();
}

std::ostream& operator<<(std::ostream& out, const SString& s) {
    s.Write(out);
    return out;
}

std::istream& operator>>(std::istream& in, SString& s) {
    s.ReadLine(in);
    return in;
}

void SString::Debug(int verbose) const {
    std::ostream& err = std::cerr;
    if (!Defined()) {
        err << "Number of links:      " << rep->links << "\n" << "SString is undefined\n";
        return;
    }
    if (verbose) {
        err << "SStringRep stored at: " << static_cast<const void*>(rep) << "\n";
        err << "Buffer located at:    " << static_cast<const void*>(rep->buffer) << "\n";
    }
    err << "Buffer contents:     '";
    for (int i = 0; i < Length(); ++i) {
        unsigned char c = static_cast<unsigned char>(rep->buffer[i]);
        switch (c) {
            case '\\': err << "\\\\"; break;
            case '\t': err << "\\t"; break;
            case '\n': err << "\\n"; break;
            case '\r': err << "\\r"; break;
            case '\v': err << "\\v"; break;
            case '\f': err << "\\f"; break;
            default:
                if (c >= ' ' && c <= '~')
                    err << static_cast<char>(c);
                else
                    err << '\\' << static_cast<int>(c);
        }
    }
    err << "'\n";
    if (verbose) {
        err << "SString length:       " << rep->length << "\n";
        err << "Bytes allocated:      " << rep->allocated << "\n";
        err << "Number of links:      " << rep->links << "\n";
    }
}

SString BaseName(const SString& path, const SString& suffix) {
    int slash = path.RIndex('/');
    SString base = slash < 0 ? path : path.Segment(slash + 1, path.Length());
    int cut = base.Length() - suffix.Length();
    if (suffix.Length() > 0 && cut >= 0 &&
        std::memcmp(base.Chars() + cut, suffix.Chars(), suffix.Length()) == 0)
        base = base.Segment(0, cut);
    return base;
}

// ---- SSubString -----------------------------------------------------------------------

SSubString::SSubString(SString& t, int s, int l) : target(t), start(s), len(l) {
    if (start < 0) {
        len += start;
        start = 0;
    }
    if (len < 0) len = 0;
    if (start > target.Length()) start = target.Length();
    if (len > target.Length() - start) len = target.Length() - start;
}

SSubString::operator SString() const {
    if (!target.Defined()) return SString();
    return SString(target.Chars() + start, len);
}

SSubString& SSubString::operator=(const SString& text) {
    if (!target.Defined()) {
        target = text;
        return *this;
    }
    SString result(target.Chars(), start);
    result += text;
    result += SString(target.Chars() + start + len, target.Length() - start - len);
    target = result;
    return *this;
}

SSubString& SSubString::operator=(const SSubString& other) { return *this = SString(other); }

SSubString& SSubString::operator=(const char* text) { return *this = SString(text ? text : ""); }
