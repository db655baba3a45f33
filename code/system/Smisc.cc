// Smisc: Base64, hexadecimal, MD5 as hex text, word filling and RandomInt.
//
// The encoders build their result in place inside a fresh string representation
// (no intermediate buffer, no second copy), because whole message bodies and
// attachments pass through them.  MD5 hands the string's own bytes to libmd.  The
// pseudo-random generator is seeded by a static object when the program loads.
#include "Smisc.h"

#include <unistd.h>

#include <md5.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

const char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kHexDigits[] = "0123456789abcdef";

// 76 encoded characters per line come from 57 input bytes (19 groups of three).
constexpr int kLineGroups = 19;
constexpr int kLineInput = kLineGroups * 3;
constexpr int kLineChars = kLineGroups * 4;

// Strings hold int lengths and buffers are sized to the next power of two; results
// beyond this are refused (undefined) rather than overflowing.
constexpr long kLargestResult = 1L << 29;

// Decoding table values besides 0..63.
constexpr unsigned char kPad = 64;     // "=": value 0 inside a group, ends the text last
constexpr unsigned char kSkip = 0xFF;  // outside the alphabet: dropped

struct DecodeTable {
    unsigned char value[256];
    DecodeTable() {
        for (unsigned char& v : value) v = kSkip;
        for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kBase64Alphabet[i])] = i;
        value[static_cast<unsigned char>('=')] = kPad;
    }
};
const DecodeTable kDecode;

// Builds a string of known maximum length directly in its own buffer.  The
// representation is created here with no holder; `result` becomes its only one,
// so nothing else can see the bytes until Finish hands the string out.
class StringBuilder {
public:
    explicit StringBuilder(long capacity)
        : rep(NewRep(static_cast<int>(capacity))), result(rep) {}
    char* Data() { return rep->buffer; }
    SString Finish(const char* end) {
        rep->length = static_cast<int32_t>(end - rep->buffer);
        rep->buffer[rep->length] = 0;
        return result;
    }

private:
    static SStringRep* NewRep(int capacity) {
        int size = BytesToAllocate(capacity);
        return new SStringRep{new char[size], 0, 0, size};
    }
    SStringRep* rep;
    SString result;
};

inline const unsigned char* Bytes(const SString& s) {
    return reinterpret_cast<const unsigned char*>(s.Chars());
}

// Three input bytes become four alphabet characters.
inline char* EncodeGroup(const unsigned char* in, char* out) {
    unsigned v = (unsigned(in[0]) << 16) | (unsigned(in[1]) << 8) | in[2];
    out[0] = kBase64Alphabet[v >> 18];
    out[1] = kBase64Alphabet[(v >> 12) & 63];
    out[2] = kBase64Alphabet[(v >> 6) & 63];
    out[3] = kBase64Alphabet[v & 63];
    return out + 4;
}

// The final one or two bytes, filled with "=" to a group of four.
char* EncodeTail(const unsigned char* in, int n, char* out) {
    unsigned v = unsigned(in[0]) << 16;
    if (n == 2) v |= unsigned(in[1]) << 8;
    out[0] = kBase64Alphabet[v >> 18];
    out[1] = kBase64Alphabet[(v >> 12) & 63];
    out[2] = n == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
    out[3] = '=';
    return out + 4;
}

inline char* EndLine(char* out) {
    out[0] = '\r';
    out[1] = '\n';
    return out + 2;
}

// Four values (each 0..63, or kPad read as 0) become `count` bytes.
inline char* DecodeGroup(const unsigned char* q, int count, char* out) {
    unsigned v = (unsigned(q[0] & 63) << 18) | (unsigned(q[1] & 63) << 12) |
                 (unsigned(q[2] & 63) << 6) | unsigned(q[3] & 63);
    out[0] = static_cast<char>(v >> 16);
    if (count > 1) out[1] = static_cast<char>(v >> 8);
    if (count > 2) out[2] = static_cast<char>(v);
    return out + count;
}

// Decodes groups until the input ends or a group closes with "=".  Runs of four
// plain alphabet characters (the body of every line) take the fast path; anything
// else goes one character at a time through the collecting group.
char* DecodeInto(const unsigned char* p, const unsigned char* end, char* out) {
    const unsigned char* table = kDecode.value;
    unsigned char group[4];
    int have = 0;
    while (p < end) {
        if (have == 0 && end - p >= 4) {
            unsigned char a = table[p[0]], b = table[p[1]], c = table[p[2]], d = table[p[3]];
            if ((a | b | c | d) < 64) {
                const unsigned char q[4] = {a, b, c, d};
                out = DecodeGroup(q, 3, out);
                p += 4;
                continue;
            }
        }
        unsigned char v = table[*p++];
        if (v == kSkip) continue;
        group[have++] = v;
        if (have < 4) continue;
        have = 0;
        if (group[3] == kPad) return DecodeGroup(group, group[2] == kPad ? 1 : 2, out);
        out = DecodeGroup(group, 3, out);
    }
    return out;
}

char* HexInto(const unsigned char* in, int n, char* out) {
    for (int i = 0; i < n; ++i) {
        *out++ = kHexDigits[in[i] >> 4];
        *out++ = kHexDigits[in[i] & 15];
    }
    return out;
}

// Seeds rand() once per process, before main, so that boundaries and salts made in
// two processes started in the same second still differ by process id.
struct RandomSeed {
    RandomSeed() { std::srand(static_cast<unsigned>(std::time(nullptr) + getpid())); }
};
const RandomSeed kSeedOnce;

constexpr int RandBits() {
    int bits = 0;
    for (long m = RAND_MAX; m > 0; m >>= 1) ++bits;
    return bits;
}

// rand() reduced to 15 bits; the high bits are kept since they are the better ones.
int Random15() {
    constexpr int shift = RandBits() > 15 ? RandBits() - 15 : 0;
    return (std::rand() >> shift) & 0x7FFF;
}

bool EndsSentence(const SString& line) {
    int last = line[-1];
    return last == '.' || last == ':' || last == '!' || last == '?';
}

}  // namespace

SString EncodeBase64(const SString& text) {
    if (!text.Defined()) return SString();
    int n = text.Length();
    if (n == 0) return SString("\r\n");
    long encoded = (n + 2L) / 3 * 4;
    long total = encoded + 2 * ((encoded + kLineChars - 1) / kLineChars);
    if (total > kLargestResult) return SString();

    StringBuilder builder(total);
    char* out = builder.Data();
    const unsigned char* in = Bytes(text);
    const unsigned char* end = in + n;
    while (end - in >= kLineInput) {
        for (int g = 0; g < kLineGroups; ++g, in += 3) out = EncodeGroup(in, out);
        out = EndLine(out);
    }
    if (in < end) {
        for (; end - in >= 3; in += 3) out = EncodeGroup(in, out);
        if (in < end) out = EncodeTail(in, static_cast<int>(end - in), out);
        out = EndLine(out);
    }
    return builder.Finish(out);
}

SString DecodeBase64(const SString& text) {
    if (!text.Defined()) return SString();
    StringBuilder builder(text.Length() / 4 * 3);
    const unsigned char* in = Bytes(text);
    return builder.Finish(DecodeInto(in, in + text.Length(), builder.Data()));
}

SString Hex(const SString& bytes) {
    if (!bytes.Defined()) return SString();
    if (2L * bytes.Length() > kLargestResult) return SString();
    StringBuilder builder(2L * bytes.Length());
    return builder.Finish(HexInto(Bytes(bytes), bytes.Length(), builder.Data()));
}

SString MD5(const SString& bytes) {
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, Bytes(bytes), static_cast<size_t>(bytes.Length()));
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &context);
    StringBuilder builder(2 * MD5_DIGEST_LENGTH);
    return builder.Finish(HexInto(digest, MD5_DIGEST_LENGTH, builder.Data()));
}

int RandomInt(int n) {
    return static_cast<int>(std::floor(Random15() * static_cast<double>(n) / 32768.0));
}

SString FormatList(SStringList words, int width, int indent, const SString& lineEnd) {
    SString result("");
    const SString margin(' ', indent);
    const int room = width - indent;
    while (words.Count() > 0) {
        SString line = margin + words.Shift();
        while (words.Count() > 0 && line.Length() + words.Get(0).Length() < room) {
            line += EndsSentence(line) ? "  " : " ";
            line += words.Shift();
        }
        result += line;
        result += lineEnd;
    }
    return result;
}

SString Format(const SString& text, int width, int indent, const SString& lineEnd) {
    return FormatList(text.Split(' '), width, indent, lineEnd);
}
