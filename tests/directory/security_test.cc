// Password storage: the salted digest form (pinned by known values), Unix crypt
// values, malformed stored values, and the scrambling of clear-text values.
#include <gtest/gtest.h>

#include <crypt.h>

#include <set>
#include <string>

#include "Ssecurity.h"

namespace {

SString Bytes(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }
std::string Std(const SString& s) { return std::string(s.Chars(), s.Length()); }

// A stored value laid out by hand: digest then salt.  The digests were computed
// independently with Python:
//   hashlib.md5(salt + b'Q' + password + b'\xb7' + salt).hexdigest()
const std::string kSalt = "0123456789abcdef0123456789abcdef";
const std::string kSecretStored = "6c9e7772941f93add5c1e8ef8daa8e9c" + kSalt;
const std::string kEmptyStored = "daf7ae4a33a98acc020b7be64c37d33e" + kSalt;

// Traditional DES crypt of "secret" with salt "ab", marked and padded to 64.
std::string UnixStored(const std::string& cryptText, const std::string& filler) {
    std::string stored = cryptText + filler;
    stored.resize(64, '.');
    return stored;
}

TEST(StringCopy, SaltedFormVerifiesAndDiffersEachTime) {
    std::set<std::string> seen;
    const std::string passwords[] = {"secret", "", "a much longer pass phrase with blanks",
                                     std::string("nul\0inside", 10), "\xc3\xa9t\xc3\xa9\xff"};
    for (const std::string& p : passwords) {
        std::string stored = Std(StringCopy(Bytes(p)));
        ASSERT_EQ(stored.size(), 64u);
        EXPECT_EQ(stored.find_first_not_of("0123456789abcdef"), std::string::npos) << stored;
        EXPECT_TRUE(StringComp(Bytes(p), Bytes(stored))) << p;
        EXPECT_TRUE(seen.insert(stored).second);
        std::string again = Std(StringCopy(Bytes(p)));
        EXPECT_NE(again, stored);
        EXPECT_NE(again.substr(32), stored.substr(32));  // a fresh salt each time
        EXPECT_TRUE(StringComp(Bytes(p), Bytes(again)));
    }
    SString stored = StringCopy("secret");
    for (const char* wrong : {"Secret", "secret ", "secre", "", "secretsecret"})
        EXPECT_FALSE(StringComp(wrong, stored)) << wrong;
    // The zero byte is part of the password, not its end.
    EXPECT_FALSE(StringComp("nul", StringCopy(Bytes(std::string("nul\0inside", 10)))));
}

TEST(StringComp, KnownSaltedValues) {
    EXPECT_TRUE(StringComp("secret", Bytes(kSecretStored)));
    EXPECT_FALSE(StringComp("Secret", Bytes(kSecretStored)));
    EXPECT_TRUE(StringComp("", Bytes(kEmptyStored)));
    EXPECT_TRUE(StringComp(SString(), Bytes(kEmptyStored)));
    EXPECT_FALSE(StringComp("secret", Bytes(kEmptyStored)));
}

TEST(StringComp, MalformedStoredValuesNeverMatch) {
    std::string good = kSecretStored;
    const std::string cases[] = {
        good.substr(0, 63),                    // one short
        good + "0",                            // one long
        "",                                    //
        good.substr(0, 31) + "X" + good.substr(32),   // digest changed
        good.substr(0, 40) + "f" + good.substr(41),   // salt changed
        std::string(64, '\0'),                 //
    };
    for (const std::string& stored : cases)
        EXPECT_FALSE(StringComp("secret", Bytes(stored))) << stored.size();
    EXPECT_FALSE(StringComp("secret", SString()));
    EXPECT_FALSE(StringComp("secret", StringCopy("secret").Segment(0, 63)));
}

TEST(StringComp, UnixCryptValues) {
    const char* result = crypt("secret", "ab");
    ASSERT_NE(result, nullptr);
    const std::string hashed = result;  // crypt() reuses its buffer on the next call
    ASSERT_EQ(hashed, "abNANd1rDfiNc");  // the well-known DES value
    // The marker may stand anywhere after the crypt text.
    for (const std::string& filler : {std::string("UNIX-PASSWORD"), std::string("xUNIX-PASSWORD"),
                                      std::string(51 - 13, '-') + "UNIX-PASSWORD"}) {
        std::string stored = UnixStored(hashed, filler);
        ASSERT_EQ(stored.size(), 64u);
        EXPECT_TRUE(StringComp("secret", Bytes(stored))) << stored;
        EXPECT_FALSE(StringComp("secreT", Bytes(stored))) << stored;
        EXPECT_FALSE(StringComp("", Bytes(stored))) << stored;
    }
    // Without the marker the same bytes are read as a salted digest: no match.
    EXPECT_FALSE(StringComp("secret", Bytes(UnixStored(hashed, "UNIX-PASSWOR"))));
    // The marker with a wrong length never matches.
    std::string stored = UnixStored(hashed, "UNIX-PASSWORD");
    EXPECT_FALSE(StringComp("secret", Bytes(stored + ".")));
    EXPECT_FALSE(StringComp("secret", Bytes(stored.substr(0, 63))));
    // Damaged crypt text or salt characters crypt() refuses: no match, no crash.
    EXPECT_FALSE(StringComp("secret", Bytes(UnixStored("abNANd1rDfiNd", "UNIX-PASSWORD"))));
    EXPECT_FALSE(StringComp("secret", Bytes(UnixStored("!!NANd1rDfiNc", "UNIX-PASSWORD"))));
    EXPECT_FALSE(StringComp("secret",
                            Bytes(UnixStored(std::string("\0\0NANd1rDfiNc", 13), "UNIX-PASSWORD"))));
}

TEST(Scramble, RoundTripAndUnscrambledValues) {
    const std::string values[] = {"program-password", "A", " leading blank", "~tilde",
                                  "\xc3\xa9t\xc3\xa9", std::string("a\0b", 3)};
    for (const std::string& v : values) {
        SString scrambled = Scramble(Bytes(v), 0);
        ASSERT_EQ(scrambled.Length(), static_cast<int>(v.size()));
        EXPECT_NE(Std(scrambled), v);
        EXPECT_EQ(Std(Scramble(scrambled, 1)), v);
        EXPECT_EQ(Std(Scramble(scrambled, 7)), v);  // any non-zero mode unscrambles
        EXPECT_EQ(Std(Scramble(scrambled, 0)), v);  // the same key both ways
    }
    // Printable text never scrambles to a byte that would break a stored record.
    std::string printable;
    for (int c = 32; c < 127; ++c) printable += static_cast<char>(c);
    std::string scrambled = Std(Scramble(Bytes(printable), 0));
    EXPECT_EQ(scrambled.find_first_of(std::string("\0\r\n", 3)), std::string::npos);

    EXPECT_EQ(Std(Scramble("", 0)), "");
    EXPECT_EQ(Std(Scramble("", 1)), "");
    // A value whose first byte would unscramble to a control character is handed
    // back as it is: it was never scrambled.
    for (int first = 0; first < 256; ++first) {
        std::string v = std::string(1, static_cast<char>(first)) + "rest";
        SString back = Scramble(Bytes(v), 1);
        int unscrambledFirst = static_cast<unsigned char>(Std(Scramble(Bytes(v), 0))[0]);
        if (unscrambledFirst < 32) {
            EXPECT_EQ(Std(back), v) << first;
        } else {
            EXPECT_EQ(Std(back), Std(Scramble(Bytes(v), 0))) << first;
        }
    }
    // So a value starting with a control character does not survive the round trip.
    std::string control = "\x01secret";
    EXPECT_EQ(Std(Scramble(Scramble(Bytes(control), 0), 1)), Std(Scramble(Bytes(control), 0)));
}

}  // namespace
