// The address parsers: the tokenizer base SParser, the envelope parser S821Parser
// (one SMTP command argument such as "<@r1:user@host> SIZE=10", strict or lenient)
// and the header parser S822Parser (a header field body: phrases, comments, quoted
// strings, groups, folded lines).  Both tokenizers are hand-written character state
// machines; token kinds are bit values so grammar states test sets of them at once.
// Nothing throws: a text that does not parse yields an address marked bad.
#ifndef QUILLBOX_SPARSER_H
#define QUILLBOX_SPARSER_H

#include <cstdint>

#include "SIdentifier.h"
#include "SString.h"
#include "SStringList.h"

// Token kinds.
enum : int32_t {
    TK_ERROR = 0x1,
    TK_END = 0x2,
    TK_WORD = 0x4,
    TK_QUOTED = 0x8,
    TK_COMMENT = 0x10,
    TK_LITERAL = 0x20,
    TK_INVALID = 0x40,
    TK_LANGLE = 0x80,
    TK_RANGLE = 0x100,
    TK_AT = 0x200,
    TK_DOT = 0x400,
    TK_COMMA = 0x800,
    TK_SEMICOLON = 0x1000,
    TK_COLON = 0x2000,
    TK_LINEBREAK = 0x4000,
    TK_PERCENT = 0x8000,
};

// A token: its text exactly as it stood in the input (quotes, brackets and
// backslashes included) and its kind.
class SToken : public SString {
public:
    SToken(const SString& text, int32_t kind);
    SToken(const SToken& other);
    SToken& operator=(const SToken& other);
    virtual ~SToken();
    virtual int32_t Type() const;

private:
    int32_t kind;
};

// A token as the parsers use it internally: a slice of the text being parsed, or
// its own copy when the tokenizer had to rewrite it (folded lines, dropped spaces).
struct SLexeme;

class SParser : public SString {
public:
    SParser();
    explicit SParser(const SString& text);
    virtual ~SParser();
    virtual void Reset();
    virtual SToken NextToken() = 0;

    void Init(const SString& text);
    // Gives back the last token taken (one level only).
    void UndoNext();

protected:
    int32_t position;          // next character to read
    int32_t previousPosition;  // position before the last token
    int32_t scanState;         // 0; 0x100 quoted string, 0x200 comment, 0x300 literal
};

class S821Parser : public SParser {
public:
    // lenient 0: the strict envelope grammar; any other value: lenient.
    S821Parser(const SString& text, unsigned lenient);
    ~S821Parser() override;
    SToken NextToken() override;

    S821Address ExtractAddress();
    // The words after the parsed address (ESMTP parameters); undefined when a
    // control character follows the address.
    SStringList Extensions() const;
    // 1 when the whole text is a valid domain.
    int IsValidDomain();
    // 1 when the text is a valid domain label.
    int IsValidElement(const SString& text) const;

    int32_t _TokenType(const SString& text) const;
    S821Address _ParseAddress();
    // The domains of a source route "@d1,@d2:"; undefined when there is no valid one.
    SStringList _ExtractRoute();
    SString _JoinTokens(SStringList tokens, char separator) const;
    void _FixLocalPart(SString& local) const;

protected:
    // The tokenizer in its internal form; every grammar step reads through it, so a
    // derived parser changes the character rules by overriding it.
    virtual void _Lex(SLexeme& token);
    void _LexEnvelope(SLexeme& token);
    bool _ReadDomain(SLexeme& token, SString& domain, bool header);

    uint32_t lenient;
};

class S822Parser : public S821Parser {
public:
    explicit S822Parser(const SString& text);
    ~S822Parser() override;
    void Reset() override;
    SToken NextToken() override;

    void Set(const SString& text);
    S822Address NextAddress();
    // The RFC 821 forms ("<u@h>") of the addresses in the text; stops at the first
    // bad address (undefined when that is the first), a defined empty list when the
    // text holds none.
    SStringList Addresses();
    SStringList Get() { return Addresses(); }

    S822Address _ParseNextAddress();

protected:
    void _Lex(SLexeme& token) override;
    void _LexHeader(SLexeme& token);
    S822Address _ParseWords(SLexeme& token, bool& restart);
    S822Address _ParseAngle(SLexeme& token, S822Address& address);
    S822Address _ParsePlainDomain(SLexeme& token, S822Address& address);

    int32_t spare;    // cleared by Reset, read by nothing
    int32_t inGroup;  // non-zero inside "name: ...;"
};

int IsValidDomain(const SString& domain);
int IsValidLiteral(const SString& literal);

#endif
