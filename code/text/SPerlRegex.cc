// SPerlRegex and PerlRegexConv: Perl-flavoured patterns rewritten into POSIX
// extended syntax for SRegex, and the report written when a pattern is malformed.
//
// The conversion is one left-to-right pass.  Perl's class escapes become bracket
// expressions, control escapes become the bytes themselves, everything else is
// copied; at most ten groups are allowed because the engine reports ten offset pairs.
#include "SRegex.h"

#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr int kMaxGroups = 10;

const char* ControlByte(char c) {
    switch (c) {
        case 'f': return "\f";
        case 'n': return "\n";
        case 'r': return "\r";
        case 't': return "\t";
        case 'v': return "\v";
        default: return nullptr;
    }
}

class PerlConverter {
public:
    PerlConverter(const char* pattern, int length) : p(pattern), n(length) {}

    // 0 on success, else the error code; the POSIX text is in `out`.
    int Run() {
        while (i < n) {
            int code = _Step();
            if (code != 0) return code;
        }
        if (opened > closed) return 3;
        if (loneBackslash) return 8;
        return 0;
    }

    std::string out;

private:
    int _Step() {
        char c = p[i++];
        switch (c) {
            case '(':
                if (++opened > kMaxGroups) return 2;
                out += c;
                return 0;
            case ')':
                if (++closed > opened) return 5;
                out += c;
                return 0;
            case ']': return 6;
            case '[': return _Bracket();
            case '\\': _Escape(); return 0;
            default: out += c; return 0;
        }
    }

    // Writes the replacement text of an escape, or the escape itself when it has none.
    void _Emit(const char* text, char c) {
        if (text) {
            out += text;
        } else {
            out += '\\';
            out += c;
        }
    }

    // A backslash outside brackets.
    void _Escape() {
        if (i >= n) {
            loneBackslash = true;
            return;
        }
        char c = p[i++];
        const char* text = nullptr;
        switch (c) {
            case 'd': text = RX_BDIGIT; break;
            case 's': text = RX_BSPACE; break;
            case 'w': text = RX_BWORD; break;
            case 'D': text = RX_BXDIGIT; break;
            case 'S': text = RX_BXSPACE; break;
            case 'W': text = RX_BXWORD; break;
            case 'N': text = RX_BXNL; break;
            default: text = ControlByte(c);
        }
        _Emit(text, c);
    }

    // A bracket expression; `i` is just past its '['.
    int _Bracket() {
        out += '[';
        if (_AtWordBracket()) {
            out.append(p + i, 6);
            i += 6;
            return 0;
        }
        if (i < n && p[i] == '^') out += p[i++];
        if (i < n && p[i] == ']') out += p[i++];
        while (i < n) {
            char c = p[i++];
            if (c == ']') {
                out += c;
                return 0;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i >= n) return 4;
            int code = _BracketEscape(p[i++]);
            if (code != 0) return code;
        }
        return 4;
    }

    bool _AtWordBracket() const {
        return n - i >= 6 &&
               (std::memcmp(p + i, "[:<:]]", 6) == 0 || std::memcmp(p + i, "[:>:]]", 6) == 0);
    }

    int _BracketEscape(char c) {
        const char* text = nullptr;
        switch (c) {
            case 'd': text = RX_DIGIT; break;
            case 's': text = RX_SPACE; break;
            case 'w': text = RX_WORD; break;
            case 'D':
            case 'N':
            case 'S':
            case 'W': return 7;
            default: text = ControlByte(c);
        }
        _Emit(text, c);
        return 0;
    }

    const char* p;
    int n;
    int i = 0;
    int opened = 0;
    int closed = 0;
    bool loneBackslash = false;
};

const char* ReasonText(int code) {
    switch (code) {
        case 2: return "Too many parenthesized elements in regular expression (maximum 10).";
        case 3: return "Unmatched opening parenthesis in regular expression.";
        case 4: return "Unterminated range [...] in regular expression.";
        case 5: return "Unmatched closing parenthesis in regular expression.";
        case 6: return "Unmatched closing bracket in regular expression.";
        case 7: return "Special characters not allowed in a range (\\D, \\S, or \\W)";
        case 8: return "Regular expression terminated prematurely.";
        default: return "Unknown error in regular expression.";
    }
}

void WriteQuoted(const char* label, const SString& s) {
    std::cerr << label;
    s.Write(std::cerr);
    std::cerr << "'\n";
}

}  // namespace

void RegexError(int code, const SString& pattern) {
    std::cerr << "Regular expression error -- compile aborted.  Reason:\n\t" << ReasonText(code)
              << "\n\tThe erroneous expression is '";
    pattern.Debug();
    std::cerr << "'.\n";
    std::cerr.flush();
}

SString PerlRegexConv(const SString& pattern, int* error) {
    PerlConverter conv(pattern.Chars(), pattern.Length());
    int code = conv.Run();
    if (error) *error = code;
    if (code != 0) {
        RegexError(code, pattern);
        return SString();
    }
    return SString(conv.out.data(), static_cast<int>(conv.out.size()));
}

SPerlRegex::SPerlRegex() : perlPattern(""), posixPattern("") {}

SPerlRegex::SPerlRegex(const SString& pattern, const char* options)
    : perlPattern(pattern), posixPattern(PerlRegexConv(pattern)) {
    SRegex::Set(posixPattern, options);
}

SPerlRegex::SPerlRegex(const SPerlRegex& other) : SRegex(other) {}

SPerlRegex& SPerlRegex::operator=(const SPerlRegex&) { return *this; }

SPerlRegex::~SPerlRegex() = default;

int SPerlRegex::Set(const SString& pattern, const char* options) {
    perlPattern = pattern;
    posixPattern = PerlRegexConv(pattern);
    if (posixPattern.Length() > 0) SRegex::Set(posixPattern, options);
    return Status();
}

void SPerlRegex::Debug() const {
    WriteQuoted("Perl Regex:    '", perlPattern);
    WriteQuoted("Regular Regex: '", posixPattern);
}
