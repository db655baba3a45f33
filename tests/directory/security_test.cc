// Password storage: the salted digest form (pinned by known values), Unix crypt
// values, malformed stored values, and the scrambling of clear-text values.
#include <crypt.h>
#include <gtest/gtest.h>

#include <set>

#include "QbTest.h"
#include "Ssecurity.h"

using qbtest::S;
using qbtest::Str;

namespace {

// Stored values laid out by hand: digest then salt.  The digests were computed
// independently with Python:
//   hashlib.md5(salt + b'Q' + password + b'\xb7' + salt).hexdigest()
const std::string kSalt = "0123456789abcdef0123456789abcdef";
const std::string kSecretStored = "6c9e7772941f93add5c1e8ef8daa8e9c" + kSalt;
const std::string kEmptyStored = "daf7ae4a33a98acc020b7be64c37d33e" + kSalt;

// A crypt() text followed by filler (holding the marker), padded to 64.
std::string UnixStored(const std::string& cryptText, const std::string& filler = "UNIX-PASSWORD") {
    std::string stored = cryptText + filler;
    stored.resize(64, '.');
    return stored;
}

TEST(StringCopy, SaltedFormVerifiesAndDiffersEachTime) {
    std::set<std::string> seen;
    using std::string;
    for (const string& p : {string("secret"), string(""), string("a much longer pass phrase"),
                            string("nul\0inside", 10), string("\xc3\xa9t\xc3\xa9\xff")}) {
        std::string stored = Str(StringCopy(S(p))), again = Str(StringCopy(S(p)));
        ASSERT_EQ(stored.size(), 64u);
        EXPECT_EQ(stored.find_first_not_of("0123456789abcdef"), std::string::npos) << stored;
        EXPECT_TRUE(seen.insert(stored).second);
        EXPECT_NE(again.substr(32), stored.substr(32));  // a fresh salt each time
        EXPECT_TRUE(StringComp(S(p), S(stored)) && StringComp(S(p), S(again))) << p;
    }
    SString stored = StringCopy("secret");
    for (const char* wrong : {"Secret", "secret ", "secre", "", "secretsecret"})
        EXPECT_FALSE(StringComp(wrong, stored)) << wrong;
    // The zero byte is part of the password, not its end.
    EXPECT_FALSE(StringComp("nul", StringCopy(S(std::string("nul\0inside", 10)))));
    EXPECT_FALSE(StringComp("secret", StringCopy("secret").Segment(0, 63)));
}

// Salted digests and Unix crypt values ("UNIX-PASSWORD" anywhere after the crypt
// text), well-formed and damaged.
TEST(StringComp, KnownAndMalformedStoredValues) {
    const char* des = crypt("secret", "ab");
    ASSERT_NE(des, nullptr);
    ASSERT_STREQ(des, "abNANd1rDfiNc");  // the well-known DES value
    const std::string& good = kSecretStored;
    const std::string marked = UnixStored("abNANd1rDfiNc");
    const std::string far = UnixStored("abNANd1rDfiNc", "xUNIX-PASSWORD");
    struct Row { SString password; std::string stored; bool match; };
    const Row rows[] = {
        {"secret", good, true}, {"Secret", good, false}, {"", kEmptyStored, true},
        {SString(), kEmptyStored, true}, {"secret", kEmptyStored, false},
        {"secret", good.substr(0, 63), false}, {"secret", good + "0", false},
        {"secret", "", false}, {"secret", std::string(64, '\0'), false},
        {"secret", good.substr(0, 31) + "X" + good.substr(32), false},  // digest changed
        {"secret", good.substr(0, 40) + "f" + good.substr(41), false},  // salt changed
        {"secret", marked, true}, {"secreT", marked, false}, {"", marked, false},
        {"secret", UnixStored("abNANd1rDfiNc", std::string(51 - 13, '-') + "UNIX-PASSWORD"), true},
        {"secret", far, true}, {"secreT", far, false}, {"", far, false},
        {"secret", UnixStored("abNANd1rDfiNc", "UNIX-PASSWOR"), false},  // no marker: a salted digest
        {"secret", marked + ".", false}, {"secret", marked.substr(0, 63), false},  // wrong length
        {"secret", UnixStored("abNANd1rDfiNd"), false},                        // damaged crypt text
        {"secret", UnixStored("!!NANd1rDfiNc"), false},                        // salts crypt() refuses
        {"secret", UnixStored(std::string("\0\0NANd1rDfiNc", 13)), false}};
    for (const Row& row : rows)
        EXPECT_EQ(StringComp(row.password, S(row.stored)), row.match) << row.stored;
    EXPECT_FALSE(StringComp("secret", SString()));
}

TEST(Scramble, RoundTripAndUnscrambledValues) {
    using std::string;
    for (const string& v : {string("program-password"), string("A"), string(" leading blank"),
                            string("~tilde"), string("\xc3\xa9t\xc3\xa9"), string("a\0b", 3)}) {
        SString scrambled = Scramble(S(v), 0);
        ASSERT_EQ(scrambled.Length(), static_cast<int>(v.size()));
        EXPECT_NE(Str(scrambled), v);
        for (int mode : {1, 7, 0}) EXPECT_EQ(Str(Scramble(scrambled, mode)), v) << mode;  // one key both ways
    }
    // Printable text never scrambles to a byte that would break a stored record.
    std::string printable;
    for (int c = 32; c < 127; ++c) printable += static_cast<char>(c);
    EXPECT_EQ(Str(Scramble(S(printable), 0)).find_first_of(std::string("\0\r\n", 3)), std::string::npos);
    EXPECT_EQ(Str(Scramble("", 0)), "");
    EXPECT_EQ(Str(Scramble("", 1)), "");
    // A value whose first byte would unscramble to a control character is handed
    // back as it is: it was never scrambled.
    for (int first = 0; first < 256; ++first) {
        std::string v = std::string(1, static_cast<char>(first)) + "rest", plain = Str(Scramble(S(v), 0));
        EXPECT_EQ(Str(Scramble(S(v), 1)), static_cast<unsigned char>(plain[0]) < 32 ? v : plain) << first;
    }
    // So a value starting with a control character does not survive the round trip.
    EXPECT_EQ(Str(Scramble(Scramble("\x01secret", 0), 1)), Str(Scramble("\x01secret", 0)));
}

}  // namespace
