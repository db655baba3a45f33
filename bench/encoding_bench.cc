// Encoders against plain baselines written here: Base64 encoding and decoding
// (MB/s) against a straightforward table-driven coder producing the same text (76
// characters and CR LF per line), and MD5 as hex text against calling libmd
// directly on the same bytes.
#include <benchmark/benchmark.h>
#include <md5.h>

#include <random>
#include <string>

#include "BenchRatio.h"
#include "Smisc.h"

namespace {

constexpr int kLarge = 1 << 20;
constexpr int kSmall = 1 << 10;
constexpr int kPassword = 64;

std::string RandomBytes(size_t n) {
    std::mt19937 rng(12345);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

SString AsSString(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }

// ---- the baselines -----------------------------------------------------------------

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// One table lookup per output character, written into a pre-sized buffer, a line
// break every 76 characters.
std::string TableEncode(const std::string& in) {
    size_t encoded = (in.size() + 2) / 3 * 4;
    std::string out(encoded + 2 * ((encoded + 75) / 76) + (in.empty() ? 2 : 0), '\0');
    char* o = &out[0];
    size_t column = 0;
    auto put = [&](char c) {
        *o++ = c;
        if (++column == 76) {
            *o++ = '\r';
            *o++ = '\n';
            column = 0;
        }
    };
    const unsigned char* p = reinterpret_cast<const unsigned char*>(in.data());
    size_t i = 0;
    for (; i + 3 <= in.size(); i += 3) {
        unsigned a = p[i], b = p[i + 1], c = p[i + 2];
        put(kAlphabet[a >> 2]);
        put(kAlphabet[((a & 3) << 4) | (b >> 4)]);
        put(kAlphabet[((b & 15) << 2) | (c >> 6)]);
        put(kAlphabet[c & 63]);
    }
    if (i < in.size()) {
        unsigned a = p[i], b = i + 1 < in.size() ? p[i + 1] : 0;
        put(kAlphabet[a >> 2]);
        put(kAlphabet[((a & 3) << 4) | (b >> 4)]);
        put(i + 1 < in.size() ? kAlphabet[(b & 15) << 2] : '=');
        put('=');
    }
    if (column > 0 || in.empty()) {
        *o++ = '\r';
        *o++ = '\n';
    }
    return out;
}

struct Table {
    int value[256];
    Table() {
        for (int& v : value) v = -1;
        for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kAlphabet[i])] = i;
    }
};
const Table kTable;

// Skips what is not in the alphabet, collects four values, emits three bytes into a
// pre-sized buffer.
std::string TableDecode(const std::string& in) {
    std::string out(in.size() / 4 * 3, '\0');
    char* o = &out[0];
    int quad[4], have = 0, pads = 0;
    for (unsigned char ch : in) {
        int v = ch == '=' ? 0 : kTable.value[ch];
        if (v < 0) continue;
        if (ch == '=') ++pads;
        quad[have++] = v;
        if (have < 4) continue;
        unsigned bits = (quad[0] << 18) | (quad[1] << 12) | (quad[2] << 6) | quad[3];
        *o++ = static_cast<char>(bits >> 16);
        if (pads < 2) *o++ = static_cast<char>(bits >> 8);
        if (pads < 1) *o++ = static_cast<char>(bits);
        if (pads > 0) break;
        have = 0;
    }
    out.resize(o - out.data());
    return out;
}

std::string LibmdHex(const std::string& in) {
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const uint8_t*>(in.data()), in.size());
    uint8_t digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &context);
    static const char hex[] = "0123456789abcdef";
    std::string out(2 * MD5_DIGEST_LENGTH, '0');
    for (int i = 0; i < MD5_DIGEST_LENGTH; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 15];
    }
    return out;
}

// ---- Base64 ------------------------------------------------------------------------

void BM_EncodeBase64(benchmark::State& state) {
    SString input = AsSString(RandomBytes(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(EncodeBase64(input));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EncodeBase64)->Arg(kSmall)->Arg(kLarge);

void BM_TableEncode(benchmark::State& state) {
    std::string input = RandomBytes(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(TableEncode(input));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TableEncode)->Arg(kSmall)->Arg(kLarge);

void BM_DecodeBase64(benchmark::State& state) {
    SString input = EncodeBase64(AsSString(RandomBytes(state.range(0))));
    for (auto _ : state) benchmark::DoNotOptimize(DecodeBase64(input));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DecodeBase64)->Arg(kSmall)->Arg(kLarge);

void BM_TableDecode(benchmark::State& state) {
    std::string input = TableEncode(RandomBytes(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(TableDecode(input));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TableDecode)->Arg(kSmall)->Arg(kLarge);

// ---- MD5 ---------------------------------------------------------------------------

void BM_MD5(benchmark::State& state) {
    SString input = AsSString(RandomBytes(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(MD5(input));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MD5)->Arg(kPassword)->Arg(kLarge);

void BM_LibmdDirect(benchmark::State& state) {
    std::string input = RandomBytes(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(LibmdHex(input));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LibmdDirect)->Arg(kPassword)->Arg(kLarge);

// The baselines must produce what ours produces, or the comparison means nothing.
struct SameOutput {
    SameOutput() {
        for (int n : {0, 1, 2, 3, 56, 57, 58, 1000}) {
            std::string data = RandomBytes(n);
            SString ours = EncodeBase64(AsSString(data));
            std::string table = TableEncode(data);
            if (std::string(ours.Chars(), ours.Length()) != table ||
                TableDecode(table) != data || LibmdHex(data) != MD5(AsSString(data)).Chars()) {
                BenchNote("WARNING: baseline output differs from ours for length " +
                          std::to_string(n));
            }
        }
    }
};

void Register() {
    static SameOutput check;
    RatioPair("EncodeBase64 1 MiB vs table encoder", "BM_EncodeBase64/1048576",
              "BM_TableEncode/1048576", 1.5);
    RatioPair("EncodeBase64 1 KiB vs table encoder", "BM_EncodeBase64/1024",
              "BM_TableEncode/1024", 1.5);
    RatioPair("DecodeBase64 1 MiB vs table decoder", "BM_DecodeBase64/1048576",
              "BM_TableDecode/1048576", 1.5);
    RatioPair("DecodeBase64 1 KiB vs table decoder", "BM_DecodeBase64/1024",
              "BM_TableDecode/1024", 1.5);
    RatioPair("MD5 1 MiB vs libmd direct", "BM_MD5/1048576", "BM_LibmdDirect/1048576", 1.1);
    RatioPair("MD5 64 B vs libmd direct", "BM_MD5/64", "BM_LibmdDirect/64");
}
const int kRegistered = (Register(), 0);

}  // namespace

QB_BENCH_MAIN()
