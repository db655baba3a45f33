// The envelope and header address parsers.
//
// The tokenizers work on SLexeme, a slice of the parsed text (copied only when a
// folded line or a dropped space makes the token differ from the input), so the
// grammar steps run without allocating; NextToken wraps the same tokenizer into an
// SToken for outside callers.  The grammar is recursive descent in spirit, but the
// repetitions that could nest as deep as the input is long (source routes, groups)
// are loops, so a hostile header cannot exhaust the stack.
#include "SParser.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "SRegex.h"

// ---- lexemes ---------------------------------------------------------------------

struct SLexeme {
    int32_t kind = TK_END;
    int32_t start = 0;   // slice of the parsed text, while !owned
    int32_t length = 0;
    bool owned = false;  // the text lives in `text`
    std::string text;

    const char* Data(const char* base) const { return owned ? text.data() : base + start; }
    int Size() const { return owned ? static_cast<int>(text.size()) : length; }
    bool Empty() const { return Size() == 0; }

    void Clear() {
        start = length = 0;
        owned = false;
        text.clear();
    }
    // Appends input byte i; stays a slice while the bytes are adjacent.
    void Take(const char* base, int i) {
        if (!owned) {
            if (length == 0) start = i;
            if (start + length == i) {
                ++length;
                return;
            }
            _Spill(base);
        }
        text.push_back(base[i]);
    }
    // Appends input bytes [from, to).
    void TakeRun(const char* base, int from, int to) {
        if (!owned) {
            if (length == 0) start = from;
            if (start + length == from) {
                length += to - from;
                return;
            }
            _Spill(base);
        }
        text.append(base + from, to - from);
    }
    // Appends a byte that is not in the input at this place.
    void Put(const char* base, char c) {
        if (!owned) _Spill(base);
        text.push_back(c);
    }
    void _Spill(const char* base) {
        text.assign(base + start, length);
        owned = true;
    }
};

namespace {

enum : int32_t { SCAN_NONE = 0, SCAN_QUOTED = 0x100, SCAN_COMMENT = 0x200, SCAN_LITERAL = 0x300 };

bool IsControl(int c) { return (c & 0x7F) < 0x20 || c == 0x7F; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsLetterOrDigit(int c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The kind of a one-character special of the envelope tokenizer, 0 for others.
int32_t EnvelopeSpecial(int c) {
    switch (c) {
    case '<': return TK_LANGLE;
    case '>': return TK_RANGLE;
    case '@': return TK_AT;
    case '%': return TK_PERCENT;
    case '.': return TK_DOT;
    case ',': return TK_COMMA;
    case ';': return TK_SEMICOLON;
    case ':': return TK_COLON;
    case '(':
    case ')':
    case ']': return TK_INVALID;
    default: return 0;
    }
}

// The header tokenizer has no '%' special and handles brackets itself.
int32_t HeaderSpecial(int c) {
    if (c == '%' || c == '(' || c == ')' || c == ']') return 0;
    return EnvelopeSpecial(c);
}

// Bytes that only continue a word in each tokenizer: no white space, special,
// bracket, quote, backslash or control byte.  Words are scanned a run at a time.
struct WordTable {
    bool plain[256];
    explicit WordTable(bool header) {
        for (int c = 0; c < 256; ++c) {
            bool special = header ? HeaderSpecial(c) != 0 : EnvelopeSpecial(c) != 0;
            plain[c] = !special && !IsControl(c) && c != ' ' && c != '"' && c != '(' &&
                       c != ')' && c != '[' && c != ']' && c != '\\';
        }
    }
};

const WordTable& EnvelopeWords() {
    static const WordTable table(false);
    return table;
}

const WordTable& HeaderWords() {
    static const WordTable table(true);
    return table;
}

bool ElementOk(const char* p, int n) {
    if (n <= 0) return false;
    auto extra = [](int c) { return c == '#' || c == '~' || c == '?'; };
    int c = static_cast<unsigned char>(p[0]);
    if (!IsLetterOrDigit(c) && !extra(c)) return false;
    for (int i = 1; i < n; ++i) {
        c = static_cast<unsigned char>(p[i]);
        if (!IsLetterOrDigit(c) && !extra(c) && c != '-' && c != '_') return false;
    }
    return true;
}

bool AllDigits(const char* p, int n) {
    for (int i = 0; i < n; ++i)
        if (!IsDigit(static_cast<unsigned char>(p[i]))) return false;
    return true;
}

// "[a.b.c.d]": four dot-separated decimal fields, none empty, none above 255.
bool LiteralOk(const char* p, int n) {
    if (n < 2 || p[0] != '[' || p[n - 1] != ']') return false;
    int fields = 0, digits = 0, value = 0;
    for (int i = 1; i <= n - 1; ++i) {
        int c = static_cast<unsigned char>(p[i]);
        if (IsDigit(c)) {
            ++digits;
            if (value <= 255) value = value * 10 + (c - '0');
            continue;
        }
        if (c != '.' && i != n - 1) return false;
        if (digits == 0 || value > 255) return false;
        ++fields;
        digits = value = 0;
    }
    return fields == 4;
}

// The scanning position shared by the tokenizer helpers below.
struct Cursor {
    const char* base;
    int n;
    int32_t& pos;
    int32_t& state;
    int At(int i) const { return static_cast<unsigned char>(base[i]); }
    // Takes the word characters from pos on (at least the one at pos).
    void TakeWord(SLexeme& t, const WordTable& words) {
        int end = pos + 1;
        while (end < n && words.plain[At(end)]) ++end;
        t.TakeRun(base, pos, end);
        pos = end;
    }
};

void Finish(SLexeme& t, int32_t kind) { t.kind = kind; }

void Fail(SLexeme& t) {
    t.Clear();
    t.kind = TK_ERROR;
}

// Appends a backslash and the character it protects (if there is one).
void TakePair(Cursor& c, SLexeme& t) {
    t.Take(c.base, c.pos++);
    if (c.pos < c.n) t.Take(c.base, c.pos++);
}

void LexEnvelopeQuoted(Cursor& c, SLexeme& t) {
    c.state = SCAN_QUOTED;
    t.Take(c.base, c.pos++);
    while (c.pos < c.n) {
        int ch = c.At(c.pos);
        if (ch == '"') {
            t.Take(c.base, c.pos++);
            c.state = SCAN_NONE;
            return Finish(t, TK_QUOTED);
        }
        if (ch == '\r' || ch == '\n') return Fail(t);
        if (ch == '\\') {
            TakePair(c, t);
            continue;
        }
        t.Take(c.base, c.pos++);
    }
    Fail(t);
}

// Envelope literals hold digits and dots only; spaces inside are dropped.
void LexEnvelopeLiteral(Cursor& c, SLexeme& t) {
    c.state = SCAN_LITERAL;
    t.Take(c.base, c.pos++);
    while (c.pos < c.n) {
        int ch = c.At(c.pos);
        if (ch == ']') {
            t.Take(c.base, c.pos++);
            if (!LiteralOk(t.Data(c.base), t.Size())) return Finish(t, TK_ERROR);
            c.state = SCAN_NONE;
            return Finish(t, TK_LITERAL);
        }
        if (ch == ' ') {
            ++c.pos;
            continue;
        }
        if (!IsDigit(ch) && ch != '.') return Finish(t, TK_ERROR);
        t.Take(c.base, c.pos++);
    }
    Fail(t);
}

void LexEnvelope(Cursor& c, SLexeme& t) {
    const WordTable& words = EnvelopeWords();
    while (c.pos < c.n) {
        int ch = c.At(c.pos);
        if (words.plain[ch]) {
            c.TakeWord(t, words);
            continue;
        }
        if (ch == ' ') {
            ++c.pos;
            if (!t.Empty()) return Finish(t, TK_WORD);
            continue;
        }
        if (int32_t special = EnvelopeSpecial(ch)) {
            if (!t.Empty()) return Finish(t, TK_WORD);
            t.Take(c.base, c.pos++);
            return Finish(t, special);
        }
        if (ch == '"' || ch == '[') {
            if (!t.Empty()) return Finish(t, TK_WORD);
            return ch == '"' ? LexEnvelopeQuoted(c, t) : LexEnvelopeLiteral(c, t);
        }
        if (ch == '\\') {
            TakePair(c, t);
            continue;
        }
        if (IsControl(ch)) {
            if (!t.Empty()) return Finish(t, TK_WORD);
            t.Take(c.base, c.pos++);
            return Finish(t, TK_INVALID);
        }
        t.Take(c.base, c.pos++);
    }
    Finish(t, t.Empty() ? TK_END : TK_WORD);
}

// What a CR at c.pos introduces in a header.
enum class LineEnd { BadCR, Fold, AtEnd, Break };

LineEnd ExamineCR(const Cursor& c, int& after) {
    if (c.pos + 1 >= c.n || c.At(c.pos + 1) != '\n') return LineEnd::BadCR;
    after = c.pos + 2;
    if (after >= c.n) return LineEnd::AtEnd;
    if (c.At(after) != ' ' && c.At(after) != '\t') return LineEnd::Break;
    while (after < c.n && (c.At(after) == ' ' || c.At(after) == '\t')) ++after;
    return LineEnd::Fold;
}

// Quoted string, comment or literal in a header.  Folds become one space; any other
// line end inside the construct is an error.
void LexHeaderConstruct(Cursor& c, SLexeme& t) {
    int open = c.At(c.pos);
    c.state = open == '"' ? SCAN_QUOTED : open == '(' ? SCAN_COMMENT : SCAN_LITERAL;
    int depth = 1;
    t.Take(c.base, c.pos++);
    while (c.pos < c.n) {
        int ch = c.At(c.pos);
        if (ch == '\\') {
            TakePair(c, t);
            continue;
        }
        if (ch == '\r') {
            int after = 0;
            if (ExamineCR(c, after) != LineEnd::Fold) return Fail(t);
            c.pos = after;
            t.Put(c.base, ' ');
            continue;
        }
        int32_t done = 0;
        if (c.state == SCAN_QUOTED && ch == '"') done = TK_QUOTED;
        if (c.state == SCAN_COMMENT && ch == '(') ++depth;
        if (c.state == SCAN_COMMENT && ch == ')' && --depth == 0) done = TK_COMMENT;
        if (c.state == SCAN_LITERAL && ch == '[') return Fail(t);
        if (c.state == SCAN_LITERAL && ch == ']') done = TK_LITERAL;
        t.Take(c.base, c.pos++);
        if (done) {
            c.state = SCAN_NONE;
            return Finish(t, done);
        }
    }
    Fail(t);
}

// Returns true when the CR at c.pos produced a token (in t), false to go on scanning.
bool LexHeaderCR(Cursor& c, SLexeme& t) {
    int after = 0;
    switch (ExamineCR(c, after)) {
    case LineEnd::BadCR: Finish(t, TK_ERROR); return true;
    case LineEnd::AtEnd: c.pos = c.n; return false;
    case LineEnd::Fold:
        c.pos = after;
        if (t.Empty()) return false;
        Finish(t, TK_WORD);
        return true;
    case LineEnd::Break:
        if (!t.Empty()) {
            Finish(t, TK_WORD);
            return true;
        }
        c.pos = after;
        Finish(t, TK_LINEBREAK);
        return true;
    }
    return false;
}

void LexHeader(Cursor& c, SLexeme& t) {
    const WordTable& words = HeaderWords();
    while (c.pos < c.n) {
        int ch = c.At(c.pos);
        if (words.plain[ch]) {
            c.TakeWord(t, words);
            continue;
        }
        if (ch == ' ' || ch == '\t') {
            ++c.pos;
            if (!t.Empty()) return Finish(t, TK_WORD);
            continue;
        }
        if (ch == '\r') {
            if (LexHeaderCR(c, t)) return;
            continue;
        }
        if (ch == '"' || ch == '(' || ch == '[') {
            if (!t.Empty()) return Finish(t, TK_WORD);
            return LexHeaderConstruct(c, t);
        }
        if (ch == ')' || ch == '\\' || ch == ']') return Finish(t, TK_ERROR);
        if (int32_t special = HeaderSpecial(ch)) {
            if (!t.Empty()) return Finish(t, TK_WORD);
            t.Take(c.base, c.pos++);
            return Finish(t, special);
        }
        if (IsControl(ch)) {
            if (!t.Empty()) return Finish(t, TK_WORD);
            t.Take(c.base, c.pos++);
            return Finish(t, TK_ERROR);
        }
        t.Take(c.base, c.pos++);
    }
    Finish(t, t.Empty() ? TK_END : TK_WORD);
}

SString LexemeText(const SLexeme& t, const char* base) { return SString(t.Data(base), t.Size()); }

// An undefined string and list shared by every address that has no such part:
// copying them costs a link count, not an allocation (copy on write keeps them
// intact).
const SString& NoText() {
    static const SString none;
    return none;
}

const SStringList& NoList() {
    static const SStringList none;
    return none;
}

// Gathers token texts, which usually stand side by side in the input, as one slice;
// copies only when a skipped space or a rewritten token breaks the run.
class TextRun {
public:
    explicit TextRun(const char* base) : base(base) {}
    void Append(const SLexeme& t) {
        if (t.Empty()) return;
        if (!spilled && !t.owned) {
            if (length == 0) start = t.start;
            if (start + length == t.start) {
                length += t.length;
                return;
            }
        }
        _Spill();
        text.append(t.Data(base), t.Size());
    }
    int Size() const { return spilled ? static_cast<int>(text.size()) : length; }
    int Back() const { return Size() ? (spilled ? text.back() : base[start + length - 1]) : 0; }
    void PopBack() {
        if (spilled)
            text.pop_back();
        else
            --length;
    }
    SString Get() const {
        return spilled ? SString(text.data(), static_cast<int>(text.size()))
                       : SString(base + start, length);
    }

private:
    void _Spill() {
        if (spilled) return;
        text.assign(base + start, length);
        spilled = true;
    }
    const char* base;
    int start = 0, length = 0;
    bool spilled = false;
    std::string text;
};

// A short list of lexemes kept on the stack (phrases and local parts rarely have
// more than a few words).
class LexemeList {
public:
    void Push(const SLexeme& t) {
        if (count < kInline)
            inline_[count] = t;
        else
            more.push_back(t);
        ++count;
    }
    int Count() const { return count; }
    const SLexeme& operator[](int i) const { return i < kInline ? inline_[i] : more[i - kInline]; }

private:
    static constexpr int kInline = 8;
    SLexeme inline_[kInline];
    std::vector<SLexeme> more;
    int count = 0;
};

bool IsWordish(int32_t kind) { return (kind & (TK_WORD | TK_QUOTED)) != 0; }

// Joins n token texts with `separator` by the neighbour rules of _JoinTokens.
// kind(i) is the token's kind; text(i) its bytes as (pointer, length).
template <typename KindAt, typename TextAt>
void JoinCore(int n, KindAt kind, TextAt text, char separator, std::string& out) {
    for (int i = 0; i < n; ++i) {
        std::pair<const char*, int> piece = text(i);
        if (i > 0) {
            int32_t before = kind(i - 1), now = kind(i);
            bool added = false;
            if (separator == ' ') {
                added = IsWordish(before) && (IsWordish(now) || (now & (TK_LANGLE | TK_COMMENT)));
                // "word (comment).more": the comment hugs the word it annotates.
                if (added && before == TK_WORD && now == TK_COMMENT && i + 1 < n &&
                    kind(i + 1) == TK_DOT)
                    added = false;
            } else {
                added = IsWordish(before) && IsWordish(now);
            }
            // '"quoted"%host': the percent hack continues the quoted local part.
            if (added && before == TK_QUOTED && now == TK_WORD && piece.second > 0 &&
                piece.first[0] == '%')
                added = false;
            if (added) out.push_back(separator);
        }
        out.append(piece.first, piece.second);
    }
}

SString JoinLexemes(const LexemeList& list, char separator, const char* base) {
    if (list.Count() == 1) return LexemeText(list[0], base);
    std::string out;
    JoinCore(
        list.Count(), [&](int i) { return list[i].kind; },
        [&](int i) { return std::make_pair(list[i].Data(base), list[i].Size()); }, separator,
        out);
    return SString(out.data(), static_cast<int>(out.size()));
}

void DropTrailingDot(SString& s) {
    if (s.Length() > 0 && s[-1] == '.') s = SString(s.Chars(), s.Length() - 1);
}

// Does the local part need quotes once unescaped?
bool NeedsQuoting(const SString& local) {
    static const char kSpecials[] = "] <>()@%,;:\\\"[";
    for (int i = 0; i < local.Length(); ++i) {
        int c = local[i];
        if (IsControl(c) || std::memchr(kSpecials, c, sizeof kSpecials - 1)) return true;
    }
    return false;
}

}  // namespace

// ---- SToken ----------------------------------------------------------------------

SToken::SToken(const SString& text, int32_t kind) : SString(text), kind(kind) {}
SToken::SToken(const SToken& other) : SString(other), kind(other.kind) {}
SToken& SToken::operator=(const SToken& other) {
    SString::operator=(other);
    kind = other.kind;
    return *this;
}
SToken::~SToken() = default;
int32_t SToken::Type() const { return kind; }

// ---- SParser ---------------------------------------------------------------------

SParser::SParser() : position(0), previousPosition(0), scanState(0) {}

SParser::SParser(const SString& text) : SString(text), position(0), previousPosition(0),
                                         scanState(0) {}

SParser::~SParser() = default;

void SParser::Reset() {
    position = 0;
    previousPosition = 0;
    scanState = 0;
}

void SParser::Init(const SString& text) {
    Reset();
    SString::operator=(text);
}

void SParser::UndoNext() { position = previousPosition; }

// ---- S821Parser: tokenizer -------------------------------------------------------

S821Parser::S821Parser(const SString& text, unsigned lenient) : SParser(text), lenient(lenient) {}

S821Parser::~S821Parser() = default;

void S821Parser::_LexEnvelope(SLexeme& t) {
    previousPosition = position;
    scanState = SCAN_NONE;
    t.Clear();
    Cursor c{Chars(), Length(), position, scanState};
    LexEnvelope(c, t);
}

void S821Parser::_Lex(SLexeme& t) { _LexEnvelope(t); }

SToken S821Parser::NextToken() {
    SLexeme t;
    _LexEnvelope(t);
    return SToken(LexemeText(t, Chars()), t.kind);
}

int32_t S821Parser::_TokenType(const SString& text) const {
    int n = text.Length();
    if (n == 0) return TK_END;
    int c = text[0];
    switch (c) {
    case '"': return n > 1 ? TK_QUOTED : TK_INVALID;
    case '(': return n > 1 ? TK_COMMENT : TK_INVALID;
    case '[': return n > 1 ? TK_LITERAL : TK_INVALID;
    case '\\': return n > 1 ? TK_WORD : TK_INVALID;
    case ')':
    case ']': return TK_INVALID;
    default: break;
    }
    if (int32_t special = EnvelopeSpecial(c)) return special;
    if (text == "\r\n") return TK_LINEBREAK;
    if (c < 0x20 || c == 0x7F) return TK_INVALID;
    return TK_WORD;
}

// ---- S821Parser: validity tests --------------------------------------------------

int S821Parser::IsValidElement(const SString& text) const {
    return ElementOk(text.Chars(), text.Length()) ? 1 : 0;
}

int S821Parser::IsValidDomain() {
    Reset();
    SLexeme t;
    _Lex(t);
    if (t.kind == TK_LITERAL) {
        _Lex(t);
        return t.kind == TK_END ? 1 : 0;
    }
    const char* base = Chars();
    if (t.kind != TK_WORD || !ElementOk(t.Data(base), t.Size())) return 0;
    bool dotSeen = false;
    bool lastNumeric = AllDigits(t.Data(base), t.Size());
    for (;;) {
        _Lex(t);
        // A dotted name whose last label is a number is an IP address written
        // without brackets, which is no domain.
        if (t.kind == TK_END) return dotSeen && lastNumeric ? 0 : 1;
        if (t.kind != TK_DOT) return 0;
        dotSeen = true;
        _Lex(t);
        if (t.kind != TK_WORD || !ElementOk(t.Data(base), t.Size())) return 0;
        lastNumeric = AllDigits(t.Data(base), t.Size());
    }
}

int IsValidDomain(const SString& domain) {
    S821Parser parser(domain, 1);
    return parser.IsValidDomain();
}

int IsValidLiteral(const SString& literal) {
    return LiteralOk(literal.Chars(), literal.Length()) ? 1 : 0;
}

// ---- S821Parser: grammar ---------------------------------------------------------

SStringList S821Parser::_ExtractRoute() {
    SLexeme t;
    _Lex(t);
    if (t.kind != TK_AT) {
        UndoNext();
        return SStringList();
    }
    const char* base = Chars();
    SStringList route;
    for (;;) {
        TextRun domain(base);
        bool expectLabel = true;
        for (;;) {
            _Lex(t);
            if (t.kind == TK_COMMENT) continue;
            bool label = t.kind == TK_LITERAL ||
                         (t.kind == TK_WORD && ElementOk(t.Data(base), t.Size()));
            if (!(expectLabel ? label : t.kind == TK_DOT)) break;
            domain.Append(t);
            expectLabel = !expectLabel;
        }
        if (t.kind != TK_COLON && t.kind != TK_COMMA) return SStringList();
        if (domain.Back() == '.') domain.PopBack();
        if (domain.Size() == 0) return SStringList();
        route.Push(domain.Get());
        if (t.kind == TK_COLON) return route;
        // "@d1,@d2...": each further hop starts with its own '@'.
        _Lex(t);
        if (t.kind != TK_AT) {
            UndoNext();
            return SStringList();
        }
    }
}

// Reads "d1.d2" or "[literal]" after the '@'; `token` holds the token that ended it.
// In a header the domain may also end at ',' or a line break, and comments are skipped.
bool S821Parser::_ReadDomain(SLexeme& t, SString& domain, bool header) {
    const char* base = Chars();
    TextRun run(base);
    bool expectLabel = true;
    for (;;) {
        _Lex(t);
        if (header && t.kind == TK_COMMENT) continue;
        if (t.kind & (TK_WORD | TK_LITERAL)) {
            if (!expectLabel) return false;
            if (t.kind == TK_WORD && !ElementOk(t.Data(base), t.Size())) return false;
            run.Append(t);
            expectLabel = false;
            continue;
        }
        if (t.kind == TK_DOT) {
            if (expectLabel) return false;
            run.Append(t);
            expectLabel = true;
            continue;
        }
        if (t.kind & (TK_END | TK_RANGLE)) break;
        if (header && (t.kind & (TK_COMMA | TK_LINEBREAK))) break;
        return false;
    }
    if (run.Back() == '.') run.PopBack();
    if (run.Size() == 0) return false;
    domain = run.Get();
    if (t.kind == TK_RANGLE) {
        while (t.kind == TK_RANGLE) _Lex(t);
        if (!(t.kind & (TK_END | TK_ERROR))) UndoNext();
    }
    return true;
}

namespace {

enum LocalState { L_START, L_QUOTED, L_WORD, L_DOT, L_PERCENT, L_PERCENT_LITERAL };

// The next local-part state after a token, or -1 when the token is not allowed.
int LocalStep(int state, int32_t kind, bool lenient) {
    switch (kind) {
    case TK_QUOTED: return state == L_START ? L_QUOTED : -1;
    case TK_WORD:
        return lenient || state == L_START || state == L_DOT || state == L_PERCENT ? L_WORD : -1;
    case TK_DOT: return lenient || state == L_WORD ? L_DOT : -1;
    case TK_PERCENT:
        return lenient || state == L_QUOTED || state == L_WORD || state == L_PERCENT ||
                       state == L_PERCENT_LITERAL
                   ? L_PERCENT
                   : -1;
    case TK_LITERAL: return lenient || state == L_PERCENT ? L_PERCENT_LITERAL : -1;
    default: return -1;
    }
}

bool LocalMayEnd(int state, bool lenient) {
    return lenient || state == L_QUOTED || state == L_WORD || state == L_PERCENT_LITERAL;
}

}  // namespace

S821Address S821Parser::_ParseAddress() {
    const char* base = Chars();
    SLexeme t;
    // Whatever precedes the '<' ("MAIL FROM:") is skipped; without one the whole
    // text is the address.
    do {
        _Lex(t);
    } while (!(t.kind & (TK_LANGLE | TK_END | TK_ERROR)));
    if (t.kind == TK_ERROR) return S821Address(1, NoList(), NoText(), NoText());
    if (t.kind != TK_LANGLE) {
        Reset();
        _Lex(t);
    }
    while (t.kind == TK_LANGLE) _Lex(t);
    if (t.kind == TK_RANGLE) {  // the null path
        while (t.kind == TK_RANGLE) _Lex(t);
        if (!(t.kind & (TK_END | TK_ERROR))) UndoNext();
        return S821Address(0, NoList(), NoText(), NoText());
    }
    SStringList route = NoList();
    if (t.kind == TK_AT) {
        UndoNext();
        route = _ExtractRoute();
        if (!route.Defined()) return S821Address(1, route, NoText(), NoText());
        _Lex(t);
    }
    TextRun local(base);
    int state = L_START;
    while (!(t.kind & (TK_END | TK_AT | TK_RANGLE))) {
        state = LocalStep(state, t.kind, lenient != 0);
        if (state < 0) return S821Address(1, route, local.Get(), NoText());
        local.Append(t);
        _Lex(t);
    }
    if (!LocalMayEnd(state, lenient != 0)) return S821Address(1, route, local.Get(), NoText());
    if (t.kind != TK_AT) return S821Address(0, route, local.Get(), NoText());
    SString domain;
    bool ok = _ReadDomain(t, domain, false) && ::IsValidDomain(domain);
    return S821Address(ok ? 0 : 1, route, local.Get(), domain);
}

S821Address S821Parser::ExtractAddress() {
    S821Address address = _ParseAddress();
    _FixLocalPart(address.local);
    return address;
}

SStringList S821Parser::Extensions() const {
    SStringList words;
    words.Reset();
    const char* p = Chars();
    int n = Length();
    int start = -1;
    for (int i = position < 0 ? 0 : position; i <= n; ++i) {
        int c = i < n ? static_cast<unsigned char>(p[i]) : ' ';
        if (i < n && IsControl(c)) return SStringList();
        if (c != ' ') {
            if (start < 0) start = i;
            continue;
        }
        if (start >= 0) words.Push(SString(p + start, i - start));
        start = -1;
    }
    return words;
}

SString S821Parser::_JoinTokens(SStringList tokens, char separator) const {
    if (!tokens.Defined()) return SString();
    if (tokens.Count() == 0) return SString("");
    if (tokens.Count() == 1) return tokens.Get(0);
    std::vector<SString> items;
    std::vector<int32_t> kinds;
    tokens.ForEach([&](const SString& s) {
        items.push_back(s);
        kinds.push_back(_TokenType(s));
    });
    std::string out;
    JoinCore(
        static_cast<int>(items.size()), [&](int i) { return kinds[i]; },
        [&](int i) { return std::make_pair(items[i].Chars(), items[i].Length()); }, separator,
        out);
    return SString(out.data(), static_cast<int>(out.size()));
}

// Removes quoting that is not needed and adds it where the unescaped text needs it:
// '"abc"' becomes 'abc', 'abc\ def' becomes '"abc def"'.  A local part that is only
// partly quoted ('"a"%b') is left as it stands.
void S821Parser::_FixLocalPart(SString& local) const {
    const char* p = local.Chars();
    int n = local.Length();
    if (!std::memchr(p, '\\', n) && !std::memchr(p, '"', n)) return;
    // Compiled once: quoted local parts are common enough in real mail for the
    // compilation to dominate the parse.
    static SPerlRegex partlyQuoted("[^\\\\]\".");
    static SPerlRegex escapedChar("\\\\(.)");
    static SPerlRegex needsEscape("([\\r\\n\"\\\\])");
    if (local.HasMatch(partlyQuoted)) return;
    if (n >= 2 && local[0] == '"' && local[-1] == '"') local = SString(p + 1, n - 2);
    local.S(escapedChar, "\\1", "g");
    if (NeedsQuoting(local)) {
        local.S(needsEscape, "\\\\\\1", "g");
        local = "\"" + local + "\"";
    }
    if (local.Length() == 0) local = "\"\"";
}

// ---- S822Parser ------------------------------------------------------------------

S822Parser::S822Parser(const SString& text) : S821Parser(text, 1), spare(0), inGroup(0) {}

S822Parser::~S822Parser() = default;

void S822Parser::Reset() {
    SParser::Reset();
    spare = 0;
    inGroup = 0;
}

void S822Parser::Set(const SString& text) { Init(text); }

void S822Parser::_LexHeader(SLexeme& t) {
    previousPosition = position;
    scanState = SCAN_NONE;
    t.Clear();
    Cursor c{Chars(), Length(), position, scanState};
    LexHeader(c, t);
}

void S822Parser::_Lex(SLexeme& t) { _LexHeader(t); }

SToken S822Parser::NextToken() {
    SLexeme t;
    _LexHeader(t);
    return SToken(LexemeText(t, Chars()), t.kind);
}

S822Address S822Parser::_ParseNextAddress() {
    for (;;) {
        SLexeme t;
        do {
            _Lex(t);
            if (t.kind == TK_SEMICOLON) inGroup = 0;
        } while (t.kind & (TK_COMMA | TK_COMMENT | TK_SEMICOLON));
        S822Address address;
        if (t.kind & (TK_END | TK_LINEBREAK)) {
            address.endFlag = 1;
            return address;
        }
        if (t.kind & (TK_LANGLE | TK_AT)) return _ParseAngle(t, address);
        if (!(t.kind & (TK_WORD | TK_QUOTED | TK_DOT))) {
            address.bad = 1;
            return address;
        }
        // A group name ("Team:") is dropped and the search starts again inside it.
        bool restart = false;
        address = _ParseWords(t, restart);
        if (!restart) return address;
    }
}

S822Address S822Parser::_ParseWords(SLexeme& t, bool& restart) {
    const char* base = Chars();
    S822Address address;
    LexemeList words;
    bool literalSeen = false;
    for (;; _Lex(t)) {
        if (t.kind & (TK_WORD | TK_QUOTED | TK_DOT | TK_LITERAL)) {
            words.Push(t);
            literalSeen = literalSeen || t.kind == TK_LITERAL;
            address.comment = NoText();
        } else if (t.kind == TK_COMMENT) {
            address.comment = LexemeText(t, base);
        } else {
            break;
        }
    }
    switch (t.kind) {
    case TK_LANGLE:
        if (literalSeen) break;
        address.phrase = JoinLexemes(words, ' ', base);
        return _ParseAngle(t, address);
    case TK_AT:
        address.local = JoinLexemes(words, '.', base);
        return _ParsePlainDomain(t, address);
    case TK_COLON:
        if (inGroup || literalSeen) break;
        inGroup = 1;
        restart = true;
        return address;
    case TK_SEMICOLON:
        if (!inGroup) break;
        inGroup = 0;
        address.local = JoinLexemes(words, '.', base);
        return address;
    case TK_COMMA:
    case TK_LINEBREAK:
    case TK_END:
        address.local = JoinLexemes(words, '.', base);
        return address;
    default: break;
    }
    address.bad = 1;
    return address;
}

// After '<' (or a leading '@'): "<>", "<@r:u@h>", "<u@h>", "<postmaster>", "<u@h".
S822Address S822Parser::_ParseAngle(SLexeme& t, S822Address& address) {
    while (t.kind == TK_LANGLE) _Lex(t);
    if (t.kind == TK_RANGLE) {
        while (t.kind == TK_RANGLE) _Lex(t);
        if (!(t.kind & (TK_END | TK_ERROR))) UndoNext();
        return address;
    }
    if (t.kind == TK_AT) {
        UndoNext();
        address.route = _ExtractRoute();
        if (!address.route.Defined()) {
            address.bad = 1;
            return address;
        }
        _Lex(t);
    }
    const char* base = Chars();
    LexemeList parts;
    for (; t.kind & (TK_WORD | TK_QUOTED | TK_DOT | TK_LITERAL | TK_COMMENT); _Lex(t))
        if (t.kind != TK_COMMENT) parts.Push(t);
    if (!(t.kind & (TK_RANGLE | TK_AT | TK_COMMA | TK_LINEBREAK | TK_END))) {
        address.bad = 1;
        return address;
    }
    address.local = JoinLexemes(parts, '.', base);
    if (t.kind == TK_AT && !_ReadDomain(t, address.domain, true)) address.bad = 1;
    return address;
}

// After "local@" outside angle brackets: "h.d", "h.d (comment)", "h.d;" in a group.
S822Address S822Parser::_ParsePlainDomain(SLexeme& t, S822Address& address) {
    const char* base = Chars();
    LexemeList parts;
    for (;;) {
        _Lex(t);
        if (t.kind & (TK_WORD | TK_DOT | TK_LITERAL)) {
            parts.Push(t);
            address.comment = NoText();
            continue;
        }
        if (t.kind == TK_COMMENT) {
            address.comment = LexemeText(t, base);
            continue;
        }
        if (t.kind & (TK_COMMA | TK_LINEBREAK | TK_END)) break;
        if (t.kind == TK_SEMICOLON && inGroup) {
            inGroup = 0;
            break;
        }
        address.bad = 1;
        return address;
    }
    address.domain = JoinLexemes(parts, ' ', base);
    DropTrailingDot(address.domain);
    if (!::IsValidDomain(address.domain)) address.bad = 1;
    return address;
}

S822Address S822Parser::NextAddress() {
    S822Address address = _ParseNextAddress();
    _FixLocalPart(address.local);
    return address;
}

SStringList S822Parser::Addresses() {
    Reset();
    SStringList result;
    for (;;) {
        S822Address address = NextAddress();
        if (address.endFlag) {
            if (result.Count() == 0) result.Reset();
            return result;
        }
        if (address.IsBad()) return result;
        result.Push(address.S821Address::Address());
    }
}
