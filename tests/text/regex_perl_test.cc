// Differential test of the pattern operations against perl, the model they imitate:
// M, S (with and without g) and Split must give what perl's match, s/// and split
// give for the same pattern, replacement and limit.
//
// All cases go to one perl process (hex-encoded, one per line) whose answers are read
// back and compared line by line.  The cases are chosen where perl's leftmost-first
// and POSIX leftmost-longest matching agree; the places where these operations
// deliberately differ from perl are listed at the end of the table, excluded.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "QbTest.h"
#include "SRegex.h"

namespace {

using qbtest::Str;

// The letter is the operation's name in the exchange with perl.  A replacement holds
// no '/' (it is the s/// delimiter in perl); options are "i" for M, "", "g", "i", "gi" for S.
enum class Op : char { Match = 'M', Subst = 'S', Split = 'P', SplitChar = 'C' };
struct Case { Op op; std::string pattern, subject, replacement; int limit; std::string options; };

Case M(std::string p, std::string s, std::string opt = "") { return {Op::Match, p, s, "", 0, opt}; }
Case S(std::string p, std::string s, std::string r, std::string opt) {
    return {Op::Subst, p, s, r, 0, opt};
}
Case P(std::string p, std::string s, int limit = 0) { return {Op::Split, p, s, "", limit, ""}; }
Case C(char c, std::string s, int limit = 0) { return {Op::SplitChar, {c}, s, "", limit, ""}; }

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        // Matching: the whole match and every group.
        M("^(.*)@([^@]*)$", "john@example.org"), M("^(.*)@([^@]*)$", "a@b@c"),
        M("(\\d+)-(\\d+)", "tel 555-1234 x"), M("\\s+", "a \t b"),
        M("^\\s*(\\S+)\\s*$", "  word  "), M("(\\w+)@(\\w+)\\.com", "mail bob@example.com now"),
        M("[aeiou]+", "strength queue"), M("b+", "aaabbbccc"), M("^$", ""), M("x", ""),
        M("colou?r", "the colour red"), M("a{2,3}", "caaaaandy"), M("[^,]+", ",,abc,def"),
        M("(a|b)+", "xxababbay"), M("(foo|bar)baz", "foobarbaz"), M("\\.", "a.b"),
        M("\\$(\\d+)", "cost $42"), M("^From:\\s*(.*)$", "From: Someone <a@b>"),
        M("(\\d\\d):(\\d\\d)", "at 12:34:56"), M("([A-Z])\\w*", "hello World Foo"),
        M("\\W+", "abc, def"), M("\\D+", "123abc456"), M("[\\d.]+", "v1.2.3-beta"),
        M("[^\\s]+", "  word"), M("[\\w.-]+@[\\w.-]+", "to: x.y-z@mail.example.org;"),
        M("HELLO", "say hello", "i"), M("([a-z]+) ([a-z]+)", "ONE two Three", "i"),
        M("\\bcat\\b", "concat cat"), M("^(\\w+)\\s(\\w+)?", "one "), M("(a)|(b)", "b"),
        M("x(y)?z", "xz"), M("\\t", "a\tb"), M("a\\nb", "a\nb"), M("^ab*", "abbbc"),
        M("(ab)*c", "xababcx"), M("[0-9]{3}", "12 345 6789"), M("^[^@]+$", "local-part"),
        M("(\\d+)\\.(\\d+)\\.(\\d+)\\.(\\d+)", "ip 192.168.0.1 end"),
        M("<([^>]*)>", "Name <user@host> x"), M("\"([^\"]*)\"", "say \"hi there\" ok"),
        M("=\\?([^?]+)\\?([BQ])\\?", "=?iso-8859-1?Q?abc?="), M("^[Rr]e:\\s*", "Re: subject"),
        M("(\\w+)=(\\w*)", "key= value"), M("a.c", "abc"), M("a.c", "ac"), M("[]a]+", "x]a]b"),
        M("[^]a]+", "]]xyz"), M("\\(x\\)", "f(x)"), M("a\\\\b", "a\\b"), M("\\d{2,}", "1 22 333"),
        M("^(\\S+)\\s+(\\S+)\\s+(\\S+)$", "one two three"),
        M("(a)(b)(c)(d)(e)(f)(g)(h)(i)", "xabcdefghiy"), M("[A-Z]{2}\\d+", "ref AB1234 z"),
        M("(\\s)", "a\fb"), M("\\N+", "ab\ncd"),
        // Substitution, single and global.
        S("\\.", "a.b", "-", "g"), S("\\.", "a.b.c", "-", ""),
        S("(\\w+)@(\\w+)", "joe@host", "$2!$1", ""), S("(\\d)", "a1b2c3", "<$1>", "g"),
        S("([a-z])(\\d)", "a1b2", "$2$1", "g"), S("\\s+", "a  b \t c", " ", "g"),
        S("^\\s+", "   lead", "", ""), S("\\s+$", "trail   ", "", ""), S("o", "foo boo", "0", "g"),
        S("O", "foo boo", "0", "gi"), S("O", "foo boo", "0", "i"),
        S("(a)(b)?", "a ab", "[$1|$2]", "g"), S("x", "abc", "y", "g"), S("b", "abc", "$&$&", "g"),
        S("(\\w+)", "hello world", "\\1\\1", "g"), S("-", "a-b-c", "\\t", "g"),
        S("-", "a-b", "\\n", ""), S("^", "line", "> ", ""), S("$", "line", ";", ""),
        S("[aeiou]", "education", "", "g"), S("(\\d+)", "10 apples and 20 pears", "<$1>", "g"),
        S("\\bthe\\b", "the other the", "THE", "g"), S("a|b", "cabd", "x", "g"),
        S("(.)\\1", "aabbcd", "<$1>", "g"), S("@.*$", "user@host.domain", "\\@example", ""),
        S("(\\S+)\\s+(\\S+)", "first second third", "$2 $1", ""), S("a+", "baaac aa", "A", "g"),
        S("\\d{3}", "1234567", "#", "g"), S("x*y", "xxyzy", "-", "g"), S("^a", "aaa", "b", "g"),
        S("a$", "aaa", "b", "g"), S("\\.$", "end.", "!", ""), S("e", "eee", "ee", "g"),
        S("(a)|(b)", "ab", "<$1$2>", "g"), S("b", "abc", "[$&]", ""), S("c", "abc", "\\0", ""),
        S("x*", "abc", "-", ""), S("(\\w+) (\\w+)", "Hello World", "$2, $1", "i"),
        S("[^a-z]", "a1b2c", "_", "g"),
        // Split by pattern, with and without a limit.
        P(",", "a,b,c"), P(",", ",a,b"), P(",", "a,b,"), P(",", "a,,b"), P("\\s*,\\s*", "a , b,c"),
        P("\\d+", "a1b22c333"), P(":", "a:b:c:d", 2), P(":", "a:b:c:d", 3), P(":", "a:b", 5),
        P(":", "a:b", 1), P("", "abc"), P("", "abc", 2), P("x*", "abc"), P(",*", "a,b,,c"),
        P("\\s+", "  lead space"), P("[;,]", "a;b,c"), P("b", "abc"), P("-", "2024-01-02"),
        P("\\.", "www.example.org", 2), P("\\|", "a|b|c"), P(" ", "a b  c"), P("\\t", "f1\tf2\tf3"),
        P("=", "key=value=x", 2), P(",", ""),
        // Split by a character (a space splits on white space).
        C(' ', "  a b  c "), C(' ', "a\tb\nc"), C(' ', "one two three", 2), C('.', "a.b.c"),
        C('|', "a|b"), C('\\', "a\\b"), C('*', "a*b"), C('+', "1+2"), C('?', "a?b"), C('(', "f(x"),
        C('^', "a^b"), C('$', "a$b"), C('[', "a[b"), C('{', "a{b"), C(',', "a,b", 2),
        C('/', "a/b/c"),
    };
    // Deliberate differences, not in the table:
    //  - A global substitution whose pattern can match the empty string (x*, ^ with
    //    g, [[:<:]]): perl retries once more at the end of the string; here the loop
    //    stops as soon as the position reaches the end.
    //  - Split with several trailing separators ("a,,"): perl drops every trailing
    //    empty field, here only the last separator adds no field; with a limit perl
    //    keeps trailing empty fields, here a trailing separator never adds one.
    //  - Split where a separator sits at a field start with a limit (",a,,b,", 2):
    //    the empty field is not counted against the limit here.
    //  - Split with groups in the pattern: perl adds the groups to the fields.
    //  - A negative limit: perl means "no limit, keep trailing fields"; here it
    //    leaves the string whole.
    //  - Alternations whose first branch is a prefix of a later one (a|ab), and
    //    nested repetitions of groups: leftmost-first and leftmost-longest differ.
    //  - '$' before a final line feed, '.' against a line feed, \A \z \Z, lazy
    //    quantifiers, (?...) groups, [[:alpha:]] classes and bytes above 0x7f: perl
    //    syntax or semantics this engine does not share.
    //  - A bracket holding an escaped ']' ([\]]): inside POSIX brackets a backslash
    //    is an ordinary member.
    return cases;
}

// Answers come back as words: an "x" followed by the hex of each string.
std::string Hex(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "x";
    for (unsigned char c : s) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

std::string Words(const SStringList& l) {
    std::string out;
    l.ForEach([&out](const SString& s) { out += " " + Hex(Str(s)); });
    return out;
}

std::string OurAnswer(const Case& c) {
    SString subject = qbtest::S(c.subject);
    switch (c.op) {
        case Op::Match: {
            SStringList m = subject.M(qbtest::S(c.pattern), c.options.c_str());
            return m.Count() ? "Y" + Words(m) : "N";
        }
        case Op::Subst: {
            SStringList g = subject.S(qbtest::S(c.pattern), qbtest::S(c.replacement),
                                      c.options.c_str());
            return Hex(Str(subject)) + (g.Count() ? " Y" + Words(g) : " N");
        }
        case Op::Split: return "L" + Words(subject.Split(qbtest::S(c.pattern), c.limit));
        case Op::SplitChar: return "L" + Words(subject.Split(c.pattern[0], c.limit));
    }
    return "";
}

// Reads one case per line, answers one line per case in the form OurAnswer gives.
const char kPerlScript[] = R"PERL(
use strict; use warnings; no warnings qw(uninitialized syntax); binmode STDIN; binmode STDOUT;
sub hx { return 'x' . unpack('H*', defined $_[0] ? $_[0] : ''); }
sub words { return join('', map { ' ' . hx($_) } @_); }
sub groups { return map { ${^CAPTURE}[$_] } 0 .. $#+ - 1; }
while (my $line = <STDIN>) {
    chomp $line;
    my ($op, $p, $s, $r, $limit, $opt) = split / /, $line, -1;
    ($p, $s, $r, $opt) = map { pack('H*', substr($_, 1)) } ($p, $s, $r, $opt);
    my $re = $op eq 'C' ? undef : $opt =~ /i/ ? qr/$p/i : qr/$p/;
    if ($op eq 'M') { print $s =~ $re ? 'Y' . words($&, groups()) : 'N', "\n"; }
    elsif ($op eq 'S') {
        my $flags = $opt =~ /g/ ? 'g' : '';
        my $sub = eval "sub { if (\$_[0] =~ s/\$_[1]/$r/$flags) { return (1, \$&, groups()); }
                              return (0); }" or die "bad replacement: $@";
        my ($hit, @groups) = $sub->($s, $re);
        print hx($s), $hit ? ' Y' . words(@groups) : ' N', "\n";
    } elsif ($op eq 'P') { print 'L', words(split($re, $s, $limit)), "\n"; }
    else { my $d = $p eq ' ' ? ' ' : qr/\Q$p\E/; print 'L', words(split($d, $s, $limit)), "\n"; }
}
)PERL";

TEST(RegexPerlDifferential, OperationsAgreeWithPerl) {
    const std::vector<Case>& cases = Cases();
    ASSERT_GE(cases.size(), 100u);
    std::string input;
    for (const Case& c : cases)
        input += static_cast<char>(c.op) + (" " + Hex(c.pattern)) + " " + Hex(c.subject) + " " +
                 Hex(c.replacement) + " " + std::to_string(c.limit) + " " + Hex(c.options) + "\n";
    qbtest::RunResult perl = qbtest::RunProgram({"/usr/bin/env", "perl", "-e", kPerlScript}, input);
    ASSERT_EQ(perl.status, 0) << perl.err;
    std::istringstream answers(perl.out);
    std::string answer;
    size_t i = 0;
    for (; i < cases.size() && std::getline(answers, answer); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(OurAnswer(c), answer)
            << static_cast<char>(c.op) << " pattern '" << c.pattern << "' subject '" << c.subject
            << "' replacement '" << c.replacement << "' limit " << c.limit << " options '"
            << c.options << "'";
    }
    EXPECT_EQ(i, cases.size()) << "perl did not answer every case";
}

}  // namespace
