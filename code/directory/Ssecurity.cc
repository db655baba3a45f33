// Ssecurity: salted password digests, Unix crypt() checks, value scrambling.
//
// The salted form is MD5(salt, 'Q', password, 0xB7, salt) as hex followed by the
// salt, itself the MD5 of random bytes, the pid and the date.  The separator bytes
// and the scrambling key are part of the stored format: changing them makes every
// stored password and scrambled value unreadable.
#include "Ssecurity.h"

#include <crypt.h>

#include <string>

#include "Sdatetime.h"
#include "Smisc.h"
#include "Sprocess.h"

namespace {

constexpr int kStoredLength = 64;
constexpr int kDigestLength = 32;
constexpr int kCryptLength = 13;  // 2 salt characters and 11 of hash
const char kFirstSeparator = 'Q';
const char kSecondSeparator = static_cast<char>(0xB7);
const char kUnixMarker[] = "UNIX-PASSWORD";

// Scrambling key.  It has the high bit set so that ASCII text never scrambles to a
// NUL, CR or LF byte (stored values are NUL-separated); only bytes that cannot occur
// in UTF-8 text (0xFE) become NUL.
constexpr unsigned char kScrambleKey = 0xFE;

SString SaltedDigest(const SString& salt, const SString& password) {
    SString text(salt);
    text += kFirstSeparator;
    text += password;
    text += kSecondSeparator;
    text += salt;
    return MD5(text);
}

SString NewSalt() {
    SString seed("");
    for (int i = 0; i < 10; ++i) seed += static_cast<char>(RandomInt(256));
    seed += ProcessIdString();
    seed += RFC822Date();
    return MD5(seed);
}

// Compares without stopping at the first difference, so the time taken tells an
// attacker nothing about how much of a guessed digest was right.
bool SameBytes(const SString& a, const SString& b) {
    if (a.Length() != b.Length()) return false;
    unsigned char differ = 0;
    for (int i = 0; i < a.Length(); ++i)
        differ |= static_cast<unsigned char>(a.Chars()[i] ^ b.Chars()[i]);
    return differ == 0;
}

bool UnixCryptMatches(const SString& password, const SString& stored) {
    std::string salt(stored.Chars(), 2);
    std::string phrase(password.Chars(), password.Length());
    const char* hashed = crypt(phrase.c_str(), salt.c_str());
    if (!hashed) return false;
    return SameBytes(SString(hashed), stored.Segment(0, kCryptLength));
}

}  // namespace

SString StringCopy(const SString& password) {
    SString salt = NewSalt();
    return SaltedDigest(salt, password) + salt;
}

bool StringComp(const SString& password, const SString& stored) {
    if (stored.Length() != kStoredLength) return false;
    if (stored.Index(kUnixMarker) >= 0) return UnixCryptMatches(password, stored);
    SString digest = stored.Segment(0, kDigestLength);
    SString salt = stored.Segment(kDigestLength, kStoredLength - kDigestLength);
    return SameBytes(SaltedDigest(salt, password), digest);
}

SString Scramble(const SString& value, unsigned mode) {
    if (value.Length() == 0) return value;
    if (mode != 0 && (value[0] ^ kScrambleKey) < 32) return value;
    std::string bytes(value.Chars(), value.Length());
    for (char& c : bytes) c = static_cast<char>(static_cast<unsigned char>(c) ^ kScrambleKey);
    return SString(bytes.data(), static_cast<int>(bytes.size()));
}
