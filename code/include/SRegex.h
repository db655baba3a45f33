// SRegex, SPerlRegex: compiled regular expressions behind every pattern operation.
//
// SRegex holds a POSIX extended expression compiled by the system's regex engine;
// SPerlRegex takes a Perl-flavoured pattern, rewrites it into POSIX syntax
// (PerlRegexConv) and compiles that.  SString::M/HasMatch/S/Split and
// SStringList::Grep are built on them.  Nothing throws: a pattern that fails to
// convert or compile leaves an object whose status is not 0 and that never matches;
// conversion and replacement problems are reported on the error stream.
//
// The engine is glibc's.  The expressions here were written for an engine with three
// features glibc's regcomp/regexec lack or provide differently; this layer supplies
// them as follows:
//  * Pattern end given by length (patterns may contain NUL bytes): regcomp() takes a
//    C string, so compilation goes through the same engine's length-taking entry
//    point (re_compile_pattern) with the syntax bits regcomp(REG_EXTENDED) uses,
//    except that '.' also matches a NUL byte; the result is an ordinary regex_t used
//    with regexec/regerror/regfree.  '^' and '$' anchor only at the ends of the
//    searched text, never at line feeds.  The engine's error code is kept as status.
//    An empty pattern (or an undefined string) is refused with REG_BADPAT, because
//    glibc would accept it as matching everywhere.
//  * Search start and end in the first offset pair (REG_STARTEND): glibc supports
//    it.  Offsets are absolute positions in the string, the subject needs no
//    terminating NUL and may contain NUL bytes.  At a start offset above 0 the engine
//    sees the byte before the start, so '^' cannot match there (REG_NOTBOL is passed
//    as well) and word assertions look at the real preceding byte.
//  * Word-start / word-end brackets "[[:<:]]" and "[[:>:]]": glibc rejects them as
//    unknown classes, so before compiling they are rewritten into glibc's "\<" and
//    "\>" (word characters: letters, digits, '_').  Only a bracket that consists of
//    exactly that text is rewritten, wherever an expression may start a bracket
//    (not inside another bracket, not after a backslash).
// Two limits protect the engine from expressions that would make it build an
// enormous program (it copies a repeated operand once per required repetition):
// stacked repetition operators ("a+?", "a**", "a{2}{3}") are refused with
// REG_BADRPT, as the BSD engine refuses them, and an expression whose repetitions
// would multiply to more than 20000 operand copies with REG_ESIZE.  Matching time is
// the engine's own: back-references can make it exponential, and a failing search
// of a pattern like "(.*)(.*)x" is quadratic in the subject's length.
// Matching works on bytes; the library's programs run in the "C" locale.
//
// Two rules keep the operations from looping or losing text where an expression
// matches the empty string: a global Subst that finds an empty match copies the
// next byte unchanged and searches on from there (it stops once the position
// reaches the end, so "x*" -> "-" on "abc" gives "-a-b-c"); Split, after an empty
// match at the start of a field, searches again one byte further and, when that
// finds nothing, makes the rest of the text the last field.
#ifndef QUILLBOX_SREGEX_H
#define QUILLBOX_SREGEX_H

#include <utility>

#include "SString.h"
#include "SStringList.h"

// Character-class texts used by the Perl-to-POSIX conversion.  The whitespace set is
// the six bytes space, FF, LF, CR, TAB, VT in that order.
inline constexpr char RX_DIGIT[] = "0-9";
inline constexpr char RX_SPACE[] = " \f\n\r\t\v";
inline constexpr char RX_WORD[] = "A-Za-z_0-9";
inline constexpr char RX_BDIGIT[] = "[0-9]";
inline constexpr char RX_BSPACE[] = "[ \f\n\r\t\v]";
inline constexpr char RX_BWORD[] = "[A-Za-z_0-9]";
inline constexpr char RX_BXDIGIT[] = "[^0-9]";
inline constexpr char RX_BXSPACE[] = "[^ \f\n\r\t\v]";
inline constexpr char RX_BXWORD[] = "[^A-Za-z_0-9]";
inline constexpr char RX_BXNL[] = "[^\n]";

// Number of (start, end) offset pairs kept; the engine fills the first ten.
inline constexpr int SREGEX_PAIRS = 11;

class SRegex {
public:
    SRegex();
    // Compiles at once; see Set.
    explicit SRegex(const SString& pattern, const char* options = nullptr);
    // A copy takes nothing of the compiled state: it is never compiled.
    SRegex(const SRegex& other);
    // Assignment between expressions leaves the target as it was.
    SRegex& operator=(const SRegex& other);
    virtual ~SRegex();

    // Frees any compiled state and compiles `pattern` as a POSIX extended expression;
    // an `i` in `options` (which may be null) ignores case.  Returns the status:
    // 0 when usable, otherwise the engine's error code.
    virtual int Set(const SString& pattern, const char* options = nullptr);
    // Writes the state to the error stream.
    virtual void Debug() const;

    bool OK() const { return status == 0; }
    // -1 never compiled, 0 usable, else the engine's error code.
    int Status() const { return status; }
    // Number of parenthesised groups of a usable expression, else 0.
    int Groups() const;

    // Searches `s` from byte offset `start` (0..length); true on a match.
    bool HasMatch(const SString& s, int start = 0);
    // The whole match and each group's text (empty for a group that took no part);
    // an empty list when nothing matches or the expression is unusable.
    SStringList Match(const SString& s, int start = 0);
    // (start, end) of group k of the last search; (-1, -1) when k is negative or
    // above the number of groups, or the group took no part.
    std::pair<int, int> MatchInfo(int k) const;
    int MatchPos() const;
    int MatchLen() const;
    // Substitutes in place (`g` in options: every match); returns the groups of the
    // last match, or an empty list (string unchanged) when nothing matched.
    SStringList Subst(SString& s, const SString& replacement, const char* options = nullptr);

private:
    struct Engine;
    void _Free();
    bool _Search(const char* text, int length, int start);

    Engine* engine;
    int status;
};

// An expression given in Perl syntax: \d \s \w \D \S \W \N, \f \n \r \t \v, and the
// same escapes inside brackets, rewritten into POSIX extended syntax.
class SPerlRegex : public SRegex {
public:
    SPerlRegex();
    // Stores, converts and compiles the converted text even when the conversion
    // produced nothing (the empty expression then never matches).
    explicit SPerlRegex(const SString& pattern, const char* options = nullptr);
    // A copy has both pattern strings undefined and is never compiled.
    SPerlRegex(const SPerlRegex& other);
    // Assignment leaves the target as it was.
    SPerlRegex& operator=(const SPerlRegex& other);
    ~SPerlRegex() override;

    // Stores and converts `pattern`; compiles only when the converted text is not
    // empty, otherwise the previous compiled state stays as it was.
    int Set(const SString& pattern, const char* options = nullptr) override;
    void Debug() const override;

    const SString& PerlPattern() const { return perlPattern; }
    const SString& PosixPattern() const { return posixPattern; }

private:
    SString perlPattern;
    SString posixPattern;
};

// Rewrites a Perl pattern into POSIX extended syntax.  On a malformed pattern it
// reports the error with RegexError and returns an empty string; `error` (if given)
// receives the error code (2..8) or 0.
SString PerlRegexConv(const SString& pattern, int* error = nullptr);

// Writes the report for conversion error `code` (2..8) about `pattern` to the error
// stream.
void RegexError(int code, const SString& pattern);

// Expands `replacement` ($1..$9, \1..\9, $&, \n \t \r \f \v \0, \x) against `groups`
// (whole match first) and appends the result to `output`.  A replacement ending in a
// lone '$' or '\' appends nothing and returns false.
bool AppendPasteBuffer(SString& output, const SString& replacement, const SStringList& groups);

#endif
