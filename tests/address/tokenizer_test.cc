// Tokenizers and the small validity tests: token kinds and texts from both
// tokenizers (specials, quoted strings, comments, literals, folds, control bytes),
// token classification, token joining, literals, labels and domains.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SParser.h"

namespace {

std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

struct Tok {
    int32_t kind;
    std::string text;
    bool operator==(const Tok& o) const { return kind == o.kind && text == o.text; }
};

std::ostream& operator<<(std::ostream& out, const Tok& t) {
    return out << "{0x" << std::hex << t.kind << std::dec << ", '" << t.text << "'}";
}

// All tokens up to and including the first end or error token.
std::vector<Tok> Tokens(SParser& parser) {
    std::vector<Tok> out;
    for (int guard = 0; guard < 100; ++guard) {
        SToken t = parser.NextToken();
        out.push_back({t.Type(), Str(t)});
        if (t.Type() & (TK_END | TK_ERROR)) break;
    }
    return out;
}

std::vector<Tok> Envelope(const std::string& text) {
    S821Parser parser(SString(text.data(), static_cast<int>(text.size())), 1);
    return Tokens(parser);
}

std::vector<Tok> Header(const std::string& text) {
    S822Parser parser(SString(text.data(), static_cast<int>(text.size())));
    return Tokens(parser);
}

TEST(EnvelopeTokenizer, SpecialsWordsQuotedAndLiterals) {
    EXPECT_EQ(Envelope("MAIL FROM:<a.b@c> "),
              (std::vector<Tok>{{TK_WORD, "MAIL"}, {TK_WORD, "FROM"}, {TK_COLON, ":"},
                                {TK_LANGLE, "<"}, {TK_WORD, "a"}, {TK_DOT, "."},
                                {TK_WORD, "b"}, {TK_AT, "@"}, {TK_WORD, "c"},
                                {TK_RANGLE, ">"}, {TK_END, ""}}));
    EXPECT_EQ(Envelope("u%v,w;x"),
              (std::vector<Tok>{{TK_WORD, "u"}, {TK_PERCENT, "%"}, {TK_WORD, "v"},
                                {TK_COMMA, ","}, {TK_WORD, "w"}, {TK_SEMICOLON, ";"},
                                {TK_WORD, "x"}, {TK_END, ""}}));
    // A quote or bracket ends a pending word without being consumed.
    EXPECT_EQ(Envelope("ab\"c d\"[1. 2.3.4]"),
              (std::vector<Tok>{{TK_WORD, "ab"}, {TK_QUOTED, "\"c d\""},
                                {TK_LITERAL, "[1.2.3.4]"}, {TK_END, ""}}));
    // Backslash pairs stay in the word, an escaped space included.
    EXPECT_EQ(Envelope("a\\ b\\\"c"), (std::vector<Tok>{{TK_WORD, "a\\ b\\\"c"}, {TK_END, ""}}));
    EXPECT_EQ(Envelope("\"a\\\"b\""), (std::vector<Tok>{{TK_QUOTED, "\"a\\\"b\""}, {TK_END, ""}}));
    // 8-bit letters are word characters.
    EXPECT_EQ(Envelope("j\xe9r\xf4me"), (std::vector<Tok>{{TK_WORD, "j\xe9r\xf4me"}, {TK_END, ""}}));
}

TEST(EnvelopeTokenizer, InvalidCharactersAndErrors) {
    EXPECT_EQ(Envelope("(a)"), (std::vector<Tok>{{TK_INVALID, "("}, {TK_WORD, "a"},
                                                  {TK_INVALID, ")"}, {TK_END, ""}}));
    EXPECT_EQ(Envelope("]"), (std::vector<Tok>{{TK_INVALID, "]"}, {TK_END, ""}}));
    // Tab, DEL and the C1 bytes 0x80..0x9F are control characters; 0xA0 is not.
    EXPECT_EQ(Envelope("a\tb"), (std::vector<Tok>{{TK_WORD, "a"}, {TK_INVALID, "\t"},
                                                   {TK_WORD, "b"}, {TK_END, ""}}));
    EXPECT_EQ(Envelope("\x7f\x85\xa0"), (std::vector<Tok>{{TK_INVALID, "\x7f"},
                                                           {TK_INVALID, "\x85"},
                                                           {TK_WORD, "\xa0"}, {TK_END, ""}}));
    EXPECT_EQ(Envelope("\"open").back().kind, TK_ERROR);
    EXPECT_EQ(Envelope("\"a\r\nb\"").back().kind, TK_ERROR);
    EXPECT_EQ(Envelope("[1.2.3").back().kind, TK_ERROR);
    EXPECT_EQ(Envelope("[1.2.3]").back().kind, TK_ERROR);  // not four fields
    EXPECT_EQ(Envelope("[a.b.c.d]").back().kind, TK_ERROR);
    // A backslash at the very end keeps what is there.
    EXPECT_EQ(Envelope("a\\"), (std::vector<Tok>{{TK_WORD, "a\\"}, {TK_END, ""}}));
    EXPECT_EQ(Envelope(""), (std::vector<Tok>{{TK_END, ""}}));
    EXPECT_EQ(Envelope("   "), (std::vector<Tok>{{TK_END, ""}}));
}

TEST(HeaderTokenizer, CommentsQuotedLiteralsAndPercent) {
    EXPECT_EQ(Header("Aa\t(c (nested) x) \"q\\\"s\" [lit x];u%v"),
              (std::vector<Tok>{{TK_WORD, "Aa"}, {TK_COMMENT, "(c (nested) x)"},
                                {TK_QUOTED, "\"q\\\"s\""}, {TK_LITERAL, "[lit x]"},
                                {TK_SEMICOLON, ";"}, {TK_WORD, "u%v"}, {TK_END, ""}}));
    EXPECT_EQ(Header("(a\\)b)"), (std::vector<Tok>{{TK_COMMENT, "(a\\)b)"}, {TK_END, ""}}));
    // Inside constructs control bytes are kept.
    EXPECT_EQ(Header("\"a\nb\""), (std::vector<Tok>{{TK_QUOTED, "\"a\nb\""}, {TK_END, ""}}));
    EXPECT_EQ(Header("(unclosed (x)").back().kind, TK_ERROR);
    EXPECT_EQ(Header("[a[b]").back().kind, TK_ERROR);
    EXPECT_EQ(Header("a)").back(), (Tok{TK_ERROR, "a"}));
    EXPECT_EQ(Header("\\a").back().kind, TK_ERROR);
    EXPECT_EQ(Header("]").back().kind, TK_ERROR);
    EXPECT_EQ(Header("\x01").back(), (Tok{TK_ERROR, "\x01"}));
    EXPECT_EQ(Header("ab\x01"), (std::vector<Tok>{{TK_WORD, "ab"}, {TK_ERROR, "\x01"}}));
}

TEST(HeaderTokenizer, FoldsAndLineBreaks) {
    // A fold ends a word; inside a construct it becomes one space.
    EXPECT_EQ(Header("a\r\n \t b"), (std::vector<Tok>{{TK_WORD, "a"}, {TK_WORD, "b"}, {TK_END, ""}}));
    EXPECT_EQ(Header("\"a\r\n\t b\" (c\r\n d)"),
              (std::vector<Tok>{{TK_QUOTED, "\"a b\""}, {TK_COMMENT, "(c d)"}, {TK_END, ""}}));
    EXPECT_EQ(Header("a\r\nb"), (std::vector<Tok>{{TK_WORD, "a"}, {TK_LINEBREAK, ""},
                                                   {TK_WORD, "b"}, {TK_END, ""}}));
    EXPECT_EQ(Header("a\r\n"), (std::vector<Tok>{{TK_WORD, "a"}, {TK_END, ""}}));
    EXPECT_EQ(Header("\"a\r\nb\"").back().kind, TK_ERROR);
    EXPECT_EQ(Header("a\rb").back().kind, TK_ERROR);
    EXPECT_EQ(Header("\r").back().kind, TK_ERROR);
}

TEST(Tokenizer, UndoNextGivesBackOneToken) {
    S821Parser parser("a@b", 1);
    EXPECT_EQ(Str(parser.NextToken()), "a");
    EXPECT_EQ(Str(parser.NextToken()), "@");
    parser.UndoNext();
    EXPECT_EQ(Str(parser.NextToken()), "@");
    EXPECT_EQ(Str(parser.NextToken()), "b");
    parser.Reset();
    EXPECT_EQ(Str(parser.NextToken()), "a");
    parser.Init("x y");
    EXPECT_EQ(Str(parser.NextToken()), "x");
}

TEST(Tokenizer, TokenTypeClassifiesStoredTexts) {
    S821Parser parser("", 1);
    const std::pair<const char*, int32_t> cases[] = {
        {"", TK_END},          {"\"q\"", TK_QUOTED},   {"\"", TK_INVALID},
        {"(c)", TK_COMMENT},   {"(", TK_INVALID},      {"[1.2.3.4]", TK_LITERAL},
        {"[", TK_INVALID},     {"\\x", TK_WORD},       {"\\", TK_INVALID},
        {")", TK_INVALID},     {"]", TK_INVALID},      {"<", TK_LANGLE},
        {">", TK_RANGLE},      {"@", TK_AT},           {"%", TK_PERCENT},
        {".", TK_DOT},         {",", TK_COMMA},        {";", TK_SEMICOLON},
        {":", TK_COLON},       {"\r\n", TK_LINEBREAK}, {"\r", TK_INVALID},
        {"\x7f", TK_INVALID},  {"word", TK_WORD},      {"\xc3\xa9", TK_WORD},
    };
    for (auto& c : cases) EXPECT_EQ(parser._TokenType(c.first), c.second) << c.first;
}

SStringList List(std::initializer_list<const char*> items) {
    SStringList l;
    for (const char* s : items) l.Push(s);
    return l;
}

TEST(Tokenizer, JoinTokensNeighbourRules) {
    S821Parser parser("", 1);
    EXPECT_FALSE(parser._JoinTokens(SStringList(), '.').Defined());
    SStringList empty;
    empty.Reset();
    SString joined = parser._JoinTokens(empty, '.');
    EXPECT_TRUE(joined.Defined());
    EXPECT_EQ(Str(joined), "");
    struct Case {
        SStringList items;
        char sep;
        const char* expect;
    } cases[] = {
        {List({"x"}), ' ', "x"},
        {List({"Aa", "Bb"}), '.', "Aa.Bb"},
        {List({"Aa", "Bb"}), ' ', "Aa Bb"},
        {List({"a", ".", "b"}), '.', "a.b"},
        {List({"\"q s\"", "b"}), '.', "\"q s\".b"},
        {List({"\"q\"", "%h"}), '.', "\"q\"%h"},
        {List({"\"q\"", "%h"}), ' ', "\"q\"%h"},
        {List({"a", "<"}), ' ', "a <"},
        {List({"a", "<"}), '.', "a<"},
        {List({"a", "(c)"}), ' ', "a (c)"},
        {List({"a", "(c)", ".", "b"}), ' ', "a(c).b"},
        {List({"John", "Q", ".", "Public"}), ' ', "John Q.Public"},
        {List({"u%", "[1.2.3.4]"}), '.', "u%[1.2.3.4]"},
    };
    for (auto& c : cases) EXPECT_EQ(Str(parser._JoinTokens(c.items, c.sep)), c.expect);
}

TEST(Validity, Literals) {
    const std::pair<const char*, int> cases[] = {
        {"[1.2.3.4]", 1},     {"[0.0.0.0]", 1},    {"[255.255.255.255]", 1},
        {"[001.2.3.4]", 1},   {"[1.2.3]", 0},      {"[1.2.3.4.5]", 0},
        {"[256.1.1.1]", 0},   {"[a.b.c.d]", 0},    {"[1..3.4]", 0},
        {"[.1.2.3]", 0},      {"[1.2.3.]", 0},     {"1.2.3.4", 0},
        {"[1.2.3.4", 0},      {"[]", 0},           {"[", 0},
        {"", 0},              {"[1.2.3.99999999999]", 0}, {"[1 .2.3.4]", 0},
    };
    for (auto& c : cases) EXPECT_EQ(IsValidLiteral(c.first), c.second) << c.first;
}

TEST(Validity, Elements) {
    S821Parser parser("ignored", 1);
    const std::pair<const char*, int> cases[] = {
        {"a", 1},   {"9", 1},     {"#x", 1},  {"~x", 1},   {"?x", 1},     {"a-b_c", 1},
        {"a#~?", 1}, {"", 0},     {"-a", 0},  {"_a", 0},   {"a.b", 0},    {"a b", 0},
        {"a+b", 0}, {"\xe9", 0},  {"a%", 0},
    };
    for (auto& c : cases) EXPECT_EQ(parser.IsValidElement(c.first), c.second) << c.first;
}

TEST(Validity, Domains) {
    const std::pair<const char*, int> cases[] = {
        {"localhost", 1},    {"a.b-c.d", 1},     {"[10.0.0.1]", 1},  {"123", 1},
        {"a.123", 0},        {"1.2.3.4", 0},     {"123.a", 1},       {"a..b", 0},
        {"a.", 0},           {".a", 0},          {"", 0},            {"[10.0.0.256]", 0},
        {"[1.2.3.4].a", 0},  {"a.[1.2.3.4]", 0}, {"a b", 0},         {"a@b", 0},
        {"-a.b", 0},         {"a.b_c", 1},       {"h\tx", 0},        {"[ 1.2.3.4 ]", 1},
    };
    for (auto& c : cases) EXPECT_EQ(IsValidDomain(c.first), c.second) << c.first;
    // The member form parses the parser's whole text, from the start.
    S821Parser parser("a.b", 0);
    parser.NextToken();
    EXPECT_EQ(parser.IsValidDomain(), 1);
}

}  // namespace
