// SString: the byte string of the whole system, with its views SFixedString and SSubString.
//
// A string is a handle on a shared, reference-counted representation that is copied
// only when one holder changes it (copy on write), so copies and assignments cost a
// link-count change.  A string may be *undefined* (never given a value), which is
// distinct from the empty string but compares equal to it.  The bytes may contain
// zeros; every comparison and copy goes by the explicit length.  None of these types
// is safe to share between threads.
#ifndef QUILLBOX_SSTRING_H
#define QUILLBOX_SSTRING_H

#include <cstdint>
#include <cstring>
#include <iosfwd>

class SString;
class SStringList;
class SSubString;
class SRegex;

// Buffer size for n bytes of text: the smallest power of two strictly greater than n,
// and at least 8.
int BytesToAllocate(int n);

// The shared representation.  `buffer` is null while the string is undefined; an
// owned buffer always has a zero byte at `buffer[length]` and `length < allocated`.
struct SStringRep {
    char* buffer;
    int32_t length;
    int32_t links;
    int32_t allocated;
};

// A representation laid over a caller-owned buffer, so the caller's bytes can be read
// as an SString without copying.  Its link count never falls below 2, which forces any
// holder that changes the text to copy first: the caller's buffer is never written or
// freed.  Destroying it while an SString still shares it ends the process (status 110).
class SFixedString : public SStringRep {
public:
    SFixedString();
    SFixedString(const char* buffer, int length);
    ~SFixedString();
    SFixedString(const SFixedString&) = delete;
    SFixedString& operator=(const SFixedString&) = delete;

    void SetBuffer(const char* buffer, int length);
};

class SString {
public:
    SString();
    SString(const SString& other);
    // Shares `rep`, which must belong to another SString or be an SFixedString.
    explicit SString(SStringRep* rep);
    SString(const SFixedString& fixed);
    SString(const char* s);
    SString(const char* p, int n);
    SString(char c, int n);
    explicit SString(int n);
    explicit SString(long n);
    explicit SString(double d);
    explicit SString(float f);
    ~SString();

    SString& operator=(const SString& other);
    SString& operator=(const char* s);
    SString& operator=(char c);
    SString& operator=(int n);
    SString& operator=(long n);
    SString& operator=(float f);
    SString& operator=(double d);

    // Accessors.  Chars() is never null ("" for an undefined string).  For a string
    // that shares an SFixedString (a mapped file, a line window) the bytes are not
    // followed by a zero: use Length() alongside.
    int Length() const { return rep->length; }
    bool Defined() const { return rep->allocated > 0; }
    const char* Chars() const { return rep->buffer ? rep->buffer : ""; }
    int Links() const { return rep->links; }
    int Allocated() const { return rep->allocated; }

    // Exchanges the two handles' representations (no link-count change).
    void Swap(SString& other) noexcept {
        SStringRep* mine = rep;
        rep = other.rep;
        other.rep = mine;
    }

    explicit operator double() const;
    explicit operator float() const;

    SString& operator+=(const SString& s) {
        SStringRep* r = rep;
        const SStringRep* o = s.rep;
        int len = r->length, n = o->length;
        if (r->links == 1 && r != o && n > 0 && len + n < r->allocated) {
            char* b = r->buffer;
            r->length = len + n;
            std::memcpy(b + len, o->buffer, n);
            b[len + n] = 0;
            return *this;
        }
        return _AppendString(s);
    }
    SString& operator+=(const char* s);
    // Appending a byte is the inner loop of every parser that builds text byte by
    // byte, so the common case (private buffer with room) is inline.
    SString& operator+=(char c) {
        SStringRep* r = rep;
        int len = r->length;
        if (r->links == 1 && len + 1 < r->allocated) {
            char* b = r->buffer;
            r->length = len + 1;
            b[len] = c;
            b[len + 1] = 0;
            return *this;
        }
        return _AppendChar(c);
    }
    SString operator+(const SString& s) const;
    SString operator+(const char* s) const;
    SString operator+(char c) const;

    // Byte i as 0..255; a negative i counts from the end; outside the string: 0.
    int operator[](int i) const;

    bool operator==(const SString& s) const;
    bool operator==(const char* s) const;
    bool operator==(char c) const;
    bool operator!=(const SString& s) const { return !(*this == s); }
    bool operator!=(const char* s) const { return !(*this == s); }
    bool operator!=(char c) const { return !(*this == c); }
    bool operator<(const SString& s) const;
    bool operator<(const char* s) const;
    bool operator<(char c) const;
    bool operator>(const SString& s) const;
    bool operator>(const char* s) const;
    bool operator>(char c) const;
    bool CompareNoCase(const SString& s) const;

    int Count(const SString& t) const;
    int Count(const char* t) const;
    int Count(char c) const;
    int Index(const SString& t, int start = 0) const;
    int Index(const char* t, int start = 0) const;
    int Index(char c, int start = 0) const;
    int RIndex(const SString& t, int start = 0) const;
    int RIndex(const char* t, int start = 0) const;
    int RIndex(char c, int end = 0) const;
    bool HasPrefix(const SString& p) const;
    bool HasPrefix(const char* p) const;

    SString Segment(int start, int len) const;
    SSubString Segment(int start, int len);
    SStringList SplitExact(const SString& sep, int max = 0) const;
    SStringList BreakToWords() const;

    // Makes the text private and able to grow to n bytes without reallocating.
    void Reserve(int n);

    int Chop();
    SString& LowerCase();
    SString& UpperCase();
    SString& Reverse();

    char* GetBuf() const;
    bool Write(std::ostream& out) const;
    bool ReadLine(std::istream& in);
    void Debug(int verbose = 0) const;

    // Pattern operations (Perl-style patterns, see SRegex.h).  A pattern given as text
    // is converted and compiled for the call; an SRegex is used as compiled.
    SStringList M(SRegex& rx) const;
    SStringList M(const SString& pattern, const char* options = nullptr) const;
    bool HasMatch(SRegex& rx) const;
    bool HasMatch(const SString& pattern, const char* options = nullptr) const;
    SStringList S(SRegex& rx, const SString& replacement, const char* options = nullptr);
    SStringList S(const SString& pattern, const SString& replacement,
                  const char* options = nullptr);
    SStringList Split(SRegex& rx, int limit = 0) const;
    SStringList Split(const SString& pattern, int limit = 0) const;
    SStringList Split(char c, int limit = 0) const;

private:
    friend class SSubString;
    friend class SStringList;

    char* _Malloc(int n);
    void _Realloc(int n);
    void _Undef();
    void _Free();
    void _Append(const char* p, int n);
    void _Assign(const char* p, int n);
    void _Fill(const char* p, int n);
    SString& _AppendChar(char c);
    SString& _AppendString(const SString& s);

    SStringRep* rep;
};

SString operator+(const char* s, const SString& t);
SString operator+(char c, const SString& t);
bool operator==(const char* s, const SString& t);
bool operator!=(const char* s, const SString& t);

SString MakeSString(int n);
SString MakeSString(long n);
SString MakeSString(float f);
SString MakeSString(double d);

// The part of `path` after its last '/', without `suffix` when it ends with it.
SString BaseName(const SString& path, const SString& suffix);

std::ostream& operator<<(std::ostream& out, const SString& s);
std::istream& operator>>(std::istream& in, SString& s);

// A window onto part of a string through which that range can be replaced.
class SSubString {
public:
    SSubString(SString& target, int start, int len);

    operator SString() const;
    SSubString& operator=(const SString& text);
    SSubString& operator=(const SSubString& other);
    SSubString& operator=(const char* text);

    int Start() const { return start; }
    int Length() const { return len; }

private:
    SString& target;
    int32_t start;
    int32_t len;
};

#endif
