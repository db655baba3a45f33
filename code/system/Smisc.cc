// Smisc: Base64, hexadecimal, MD5 as hex text, word filling and RandomInt.
//
// Whole message bodies and attachments pass through the encoders, so they size
// their result once and fill it through a small stack buffer.  MD5 hands the
// string's own bytes to libmd without copying them.  The pseudo-random generator is
// seeded by a static object when the program loads.
#include "Smisc.h"

#include <unistd.h>

#include <md5.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789abcdef";

// 76 encoded characters per line come from 57 input bytes (19 groups of three).
constexpr int kLineGroups = 19;
constexpr int kLineInput = kLineGroups * 3;
constexpr int kLineChars = kLineGroups * 4;

// Strings hold int lengths and buffers are sized to the next power of two; results
// beyond this are refused (undefined) rather than overflowing.
constexpr long kLargestResult = 1L << 29;

// Decoding table values besides 0..63.
constexpr unsigned char kPad = 64;     // "=": 0 as a value; fourth in a group, the end
constexpr unsigned char kSkip = 0xFF;  // outside the alphabet: dropped

// Built at compile time, so decoding works even from other static initialisers.
struct DecodeTable {
    unsigned char value[256];
};
constexpr DecodeTable MakeDecodeTable() {
    DecodeTable table{};
    for (unsigned char& v : table.value) v = kSkip;
    for (int i = 0; i < 64; ++i)
        table.value[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<unsigned char>(i);
    table.value[static_cast<unsigned char>('=')] = kPad;
    return table;
}
constexpr DecodeTable kDecode = MakeDecodeTable();

// Output goes through a stack buffer of this size and is appended to the result in
// pieces; the result is reserved at its final size first, so each byte is copied once
// more, from cache, and the string type's own buffer management is never bypassed.
constexpr int kChunk = 8192;

class ChunkedOutput {
public:
    ChunkedOutput(SString& target, long capacity) : target(target) {
        target = "";
        target.Reserve(static_cast<int>(capacity));
    }
    char* Begin() { return buffer; }
    // Appends buffer[0, end) to the result; the buffer is free again afterwards.
    void Flush(const char* end) {
        int used = static_cast<int>(end - buffer);
        if (used <= 0) return;
        SFixedString view(buffer, used);
        target += SString(view);
    }

private:
    char buffer[kChunk];
    SString& target;
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
// else goes one character at a time through the collecting group, which carries
// over from one slice of input to the next.
struct Base64Decoder {
    unsigned char group[4];
    int have = 0;
    bool finished = false;

    char* Feed(const unsigned char* p, const unsigned char* end, char* out) {
        const unsigned char* table = kDecode.value;
        while (p < end && !finished) {
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
            finished = group[3] == kPad;
            out = DecodeGroup(group, !finished ? 3 : group[2] == kPad ? 1 : 2, out);
        }
        return out;
    }
};

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

    SString result;
    ChunkedOutput output(result, total);
    const unsigned char* in = Bytes(text);
    const unsigned char* end = in + n;
    // Whole lines, as many as fit the buffer, then the last (possibly short) line.
    constexpr int kLinesPerChunk = kChunk / (kLineChars + 2);
    while (end - in >= kLineInput) {
        char* out = output.Begin();
        for (int line = 0; line < kLinesPerChunk && end - in >= kLineInput; ++line) {
            for (int g = 0; g < kLineGroups; ++g, in += 3) out = EncodeGroup(in, out);
            out = EndLine(out);
        }
        output.Flush(out);
    }
    if (in < end) {
        char* out = output.Begin();
        for (; end - in >= 3; in += 3) out = EncodeGroup(in, out);
        if (in < end) out = EncodeTail(in, static_cast<int>(end - in), out);
        output.Flush(EndLine(out));
    }
    return result;
}

SString DecodeBase64(const SString& text) {
    if (!text.Defined()) return SString();
    SString result;
    ChunkedOutput output(result, text.Length() / 4 * 3);
    Base64Decoder decoder;
    // Each slice of input decodes to at most three quarters of its length.
    constexpr int kSlice = kChunk / 3 * 4;
    const unsigned char* in = Bytes(text);
    const unsigned char* end = in + text.Length();
    while (in < end && !decoder.finished) {
        const unsigned char* stop = end - in > kSlice ? in + kSlice : end;
        output.Flush(decoder.Feed(in, stop, output.Begin()));
        in = stop;
    }
    return result;
}

SString Hex(const SString& bytes) {
    if (!bytes.Defined()) return SString();
    if (2L * bytes.Length() > kLargestResult) return SString();
    SString result;
    ChunkedOutput output(result, 2L * bytes.Length());
    const unsigned char* in = Bytes(bytes);
    for (int done = 0; done < bytes.Length(); done += kChunk / 2) {
        int n = bytes.Length() - done < kChunk / 2 ? bytes.Length() - done : kChunk / 2;
        output.Flush(HexInto(in + done, n, output.Begin()));
    }
    return result;
}

SString MD5(const SString& bytes) {
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, Bytes(bytes), static_cast<size_t>(bytes.Length()));
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &context);
    char hex[2 * MD5_DIGEST_LENGTH];
    HexInto(digest, MD5_DIGEST_LENGTH, hex);
    return SString(hex, 2 * MD5_DIGEST_LENGTH);
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
