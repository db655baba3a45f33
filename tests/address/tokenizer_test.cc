// Tokenizers and the small validity tests: token kinds and texts from both
// tokenizers (specials, quoted strings, comments, literals, folds, control bytes),
// token classification, token joining, literals, labels and domains.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "QbTest.h"
#include "SParser.h"

namespace {

using namespace qbtest;

// One token as "kind:text"; a special whose text is its own character prints as
// that character, a token with empty text as its kind alone ("$" is the end).
// Expected streams ending in "E*" accept an error token with any text.
std::string Render(int32_t kind, const std::string& text) {
    // Names of the kinds in bit order, TK_ERROR (0x1) first.
    static const char* const names[] = {"E", "$", "w", "q", "c", "l", "i", "<",
                                        ">", "@", ".", ",", ";", ":", "nl", "%"};
    bool single = kind > 0 && kind <= TK_PERCENT && (kind & (kind - 1)) == 0;
    std::string name = single ? names[__builtin_ctz(kind)] : "?" + std::to_string(kind);
    if (text.empty() || (text == name && !std::isalpha(static_cast<unsigned char>(name[0]))))
        return name;
    return name + ":" + text;
}

// All tokens up to and including the first end or error token, space-separated.
std::string Tokens(SParser&& parser) {
    std::string out;
    for (int guard = 0; guard < 100; ++guard) {
        SToken t = parser.NextToken();
        out += (out.empty() ? "" : " ") + Render(t.Type(), Str(t));
        if (t.Type() & (TK_END | TK_ERROR)) break;
    }
    return out;
}

bool Matches(const std::string& actual, const std::string& expected) {
    if (expected.empty() || expected.back() != '*') return actual == expected;
    std::string head = expected.substr(0, expected.size() - 1);
    return actual.compare(0, head.size(), head) == 0 &&
           (actual.size() == head.size() || actual[head.size()] == ':');
}

TEST(Tokenizer, EnvelopeAndHeaderTokens) {
    const std::pair<std::string, const char*> cases[] = {
        {"MAIL FROM:<a.b@c> ", "w:MAIL w:FROM : < w:a . w:b @ w:c > $"},
        {"u%v,w;x", "w:u % w:v , w:w ; w:x $"},
        // A quote or bracket ends a pending word without being consumed.
        {"ab\"c d\"[1. 2.3.4]", "w:ab q:\"c d\" l:[1.2.3.4] $"},
        // Backslash pairs stay in the word, an escaped space included; a backslash
        // at the very end keeps what is there.
        {"a\\ b\\\"c", "w:a\\ b\\\"c $"}, {"\"a\\\"b\"", "q:\"a\\\"b\" $"}, {"a\\", "w:a\\ $"},
        // 8-bit letters are word characters; tab, DEL and the C1 bytes 0x80..0x9F
        // are control characters.
        {"j\xe9r\xf4me", "w:j\xe9r\xf4me $"}, {"a\tb", "w:a i:\t w:b $"},
        {"\x7f\x85\xa0", "i:\x7f i:\x85 w:\xa0 $"}, {"(a)", "i:( w:a i:) $"}, {"]", "i:] $"},
        {"\"open", "E*"}, {"\"a\r\nb\"", "E*"}, {"[1.2.3", "E*"}, {"[1.2.3]", "E*"},
        {"[a.b.c.d]", "E*"}, {"", "$"}, {"   ", "$"},
    };
    for (auto& c : cases)
        EXPECT_PRED2(Matches, Tokens(S821Parser(S(c.first), 1)), c.second) << c.first;
    const std::pair<std::string, const char*> header[] = {
        {"Aa\t(c (nested) x) \"q\\\"s\" [lit x];u%v",
         "w:Aa c:(c (nested) x) q:\"q\\\"s\" l:[lit x] ; w:u%v $"},
        {"(a\\)b)", "c:(a\\)b) $"},
        // Inside constructs control bytes are kept.
        {"\"a\nb\"", "q:\"a\nb\" $"}, {"(unclosed (x)", "E*"}, {"[a[b]", "E*"}, {"a)", "E:a"},
        {"\\a", "E*"}, {"]", "E*"}, {"\x01", "E:\x01"}, {"ab\x01", "w:ab E:\x01"},
        // A fold ends a word; inside a construct it becomes one space.  A bare line
        // break is a token of its own, a bare CR an error.
        {"a\r\n \t b", "w:a w:b $"}, {"\"a\r\n\t b\" (c\r\n d)", "q:\"a b\" c:(c d) $"},
        {"a\r\nb", "w:a nl w:b $"}, {"a\r\n", "w:a $"}, {"\"a\r\nb\"", "E*"}, {"a\rb", "E*"},
        {"\r", "E*"},
    };
    for (auto& c : header)
        EXPECT_PRED2(Matches, Tokens(S822Parser(S(c.first))), c.second) << c.first;
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
        {"", TK_END}, {"\"q\"", TK_QUOTED}, {"\"", TK_INVALID}, {"(c)", TK_COMMENT},
        {"(", TK_INVALID}, {"[1.2.3.4]", TK_LITERAL}, {"[", TK_INVALID}, {"\\x", TK_WORD},
        {"\\", TK_INVALID}, {")", TK_INVALID}, {"]", TK_INVALID}, {"<", TK_LANGLE},
        {">", TK_RANGLE}, {"@", TK_AT}, {"%", TK_PERCENT}, {".", TK_DOT}, {",", TK_COMMA},
        {";", TK_SEMICOLON}, {":", TK_COLON}, {"\r\n", TK_LINEBREAK}, {"\r", TK_INVALID},
        {"\x7f", TK_INVALID}, {"word", TK_WORD}, {"\xc3\xa9", TK_WORD},
    };
    for (auto& c : cases) EXPECT_EQ(parser._TokenType(c.first), c.second) << c.first;
}

TEST(Tokenizer, JoinTokensNeighbourRules) {
    S821Parser parser("", 1);
    EXPECT_FALSE(parser._JoinTokens(SStringList(), '.').Defined());
    SString joined = parser._JoinTokens(ListOf({}), '.');
    EXPECT_TRUE(joined.Defined());
    EXPECT_EQ(Str(joined), "");
    const struct {
        std::vector<std::string> items;
        char sep;
        const char* expect;
    } cases[] = {
        {{"x"}, ' ', "x"}, {{"Aa", "Bb"}, '.', "Aa.Bb"}, {{"Aa", "Bb"}, ' ', "Aa Bb"},
        {{"a", ".", "b"}, '.', "a.b"}, {{"\"q s\"", "b"}, '.', "\"q s\".b"},
        {{"\"q\"", "%h"}, '.', "\"q\"%h"}, {{"\"q\"", "%h"}, ' ', "\"q\"%h"},
        {{"a", "<"}, ' ', "a <"}, {{"a", "<"}, '.', "a<"}, {{"a", "(c)"}, ' ', "a (c)"},
        {{"a", "(c)", ".", "b"}, ' ', "a(c).b"}, {{"u%", "[1.2.3.4]"}, '.', "u%[1.2.3.4]"},
        {{"John", "Q", ".", "Public"}, ' ', "John Q.Public"},
    };
    for (auto& c : cases)
        EXPECT_EQ(Str(parser._JoinTokens(ListOf(c.items), c.sep)), c.expect);
}

// Each check accepts every text of `good` and rejects every text of `bad`.
template <typename Check>
void Accepts(Check check, std::initializer_list<const char*> good,
             std::initializer_list<const char*> bad) {
    for (const char* t : good) EXPECT_EQ(check(t), 1) << t;
    for (const char* t : bad) EXPECT_EQ(check(t), 0) << t;
}

TEST(Tokenizer, LiteralsLabelsAndDomains) {
    Accepts(IsValidLiteral, {"[1.2.3.4]", "[0.0.0.0]", "[255.255.255.255]", "[001.2.3.4]"},
            {"[1.2.3]", "[1.2.3.4.5]", "[256.1.1.1]", "[a.b.c.d]", "[1..3.4]", "[.1.2.3]",
             "[1.2.3.]", "1.2.3.4", "[1.2.3.4", "[]", "[", "", "[1.2.3.99999999999]",
             "[1 .2.3.4]"});
    S821Parser parser("a.b", 0);
    Accepts([&parser](const char* t) { return parser.IsValidElement(t); },
            {"a", "9", "#x", "~x", "?x", "a-b_c", "a#~?"},
            {"", "-a", "_a", "a.b", "a b", "a+b", "\xe9", "a%"});
    Accepts(static_cast<int (*)(const SString&)>(IsValidDomain),
            {"localhost", "a.b-c.d", "[10.0.0.1]", "123", "123.a", "a.b_c", "[ 1.2.3.4 ]"},
            {"a.123", "1.2.3.4", "a..b", "a.", ".a", "", "[10.0.0.256]", "[1.2.3.4].a",
             "a.[1.2.3.4]", "a b", "a@b", "-a.b", "h\tx"});
    // The member form parses the parser's whole text, from the start.
    parser.NextToken();
    EXPECT_EQ(parser.IsValidDomain(), 1);
}

}  // namespace
