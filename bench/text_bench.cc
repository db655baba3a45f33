// Text types against the standard library: copies, appends, searching, list building
// and joining, table lookups, and the field format of a control file.  Each pair
// runs the same work through our type and through the std baseline.
// links: quillbox_text
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "BenchRatio.h"
#include "SNamedLists.h"

namespace {

std::string Filler(size_t n) {
    std::string s(n, 'x');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 13) % 26);
    return s;
}

// ---- copies --------------------------------------------------------------------

void BM_SStringCopy(benchmark::State& state) {
    std::string text = Filler(state.range(0));
    SString s(text.data(), static_cast<int>(text.size()));
    for (auto _ : state) {
        SString copy(s);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_SStringCopy)->Arg(16)->Arg(1024)->Arg(1 << 20);

void BM_StdStringCopy(benchmark::State& state) {
    std::string s = Filler(state.range(0));
    for (auto _ : state) {
        std::string copy(s);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_StdStringCopy)->Arg(16)->Arg(1024)->Arg(1 << 20);

// ---- appends ---------------------------------------------------------------------

constexpr int kAppendTotal = 1 << 20;

void BM_SStringAppend(benchmark::State& state) {
    const int piece = static_cast<int>(state.range(0));
    std::string chunk = Filler(piece);
    for (auto _ : state) {
        SString s;
        if (piece == 1) {
            for (int i = 0; i < kAppendTotal; ++i) s += 'a';
        } else {
            for (int done = 0; done < kAppendTotal; done += piece) s += chunk.c_str();
        }
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_SStringAppend)->Arg(1)->Arg(100);

void BM_StdStringAppend(benchmark::State& state) {
    const int piece = static_cast<int>(state.range(0));
    std::string chunk = Filler(piece);
    for (auto _ : state) {
        std::string s;
        if (piece == 1) {
            for (int i = 0; i < kAppendTotal; ++i) s += 'a';
        } else {
            for (int done = 0; done < kAppendTotal; done += piece) s += chunk.c_str();
        }
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_StdStringAppend)->Arg(1)->Arg(100);

// ---- searching ---------------------------------------------------------------------

const char kNeedle[] = "needle-in-a-hay!";  // 16 bytes, placed at the very end

void BM_SStringIndex(benchmark::State& state) {
    std::string hay = Filler(1 << 20) + kNeedle;
    SString s(hay.data(), static_cast<int>(hay.size()));
    SString needle(kNeedle);
    for (auto _ : state) benchmark::DoNotOptimize(s.Index(needle));
}
BENCHMARK(BM_SStringIndex);

void BM_StdStringFind(benchmark::State& state) {
    std::string hay = Filler(1 << 20) + kNeedle;
    std::string needle(kNeedle);
    for (auto _ : state) benchmark::DoNotOptimize(hay.find(needle));
}
BENCHMARK(BM_StdStringFind);

// ---- lists ---------------------------------------------------------------------------

constexpr int kListItems = 100000;

std::vector<std::string> Words() {
    std::vector<std::string> words;
    for (int i = 0; i < kListItems; ++i) words.push_back("user" + std::to_string(i) + "@example.org");
    return words;
}

void BM_SStringListPushJoin(benchmark::State& state) {
    std::vector<SString> words;
    for (const std::string& w : Words()) words.emplace_back(w.c_str());
    SString sep(", ");
    for (auto _ : state) {
        SStringList l;
        for (const SString& w : words) l.Push(w);
        SString joined = l.Join(sep);
        benchmark::DoNotOptimize(joined);
    }
}
BENCHMARK(BM_SStringListPushJoin)->Unit(benchmark::kMillisecond);

void BM_StdVectorPushJoin(benchmark::State& state) {
    std::vector<std::string> words = Words();
    for (auto _ : state) {
        std::vector<std::string> l;
        for (const std::string& w : words) l.push_back(w);
        std::string joined;
        for (size_t i = 0; i < l.size(); ++i) {
            if (i) joined += ", ";
            joined += l[i];
        }
        benchmark::DoNotOptimize(joined);
    }
}
BENCHMARK(BM_StdVectorPushJoin)->Unit(benchmark::kMillisecond);

// ---- tables ----------------------------------------------------------------------------

constexpr int kTableKeys = 100000;

void BM_STableLookup(benchmark::State& state) {
    STable table;
    std::vector<SString> keys;
    for (const std::string& w : Words()) {
        keys.emplace_back(w.c_str());
        table.Add(keys.back(), new SStrItem);
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.Lookup(keys[i]));
        i = (i + 7919) % kTableKeys;
    }
}
BENCHMARK(BM_STableLookup);

void BM_StdUnorderedMapLookup(benchmark::State& state) {
    std::unordered_map<std::string, std::string> table;
    std::vector<std::string> keys = Words();
    for (const std::string& k : keys) table.emplace(k, std::string());
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.find(keys[i]));
        i = (i + 7919) % kTableKeys;
    }
}
BENCHMARK(BM_StdUnorderedMapLookup);

// ---- field format ------------------------------------------------------------------------

std::string ControlText() {
    std::string t =
        "Function: SMTP-Router\nControl-Type: Mail\nUser-From: SMTP<sender@example.org>\n"
        "Host-From: mail.example.org [192.0.2.17]\nMTA-Hops: 3\n"
        "Message-ID: <19970512153000.12345@relay.example.org>\n";
    for (int i = 0; t.size() < 1900; ++i)
        t += "Channel-To: SMTP <recipient" + std::to_string(i) + "@destination.example.com>\n";
    t += "Trace: SMTP-Receiver\nTrace: SMTP-Router\n";
    return t;
}

void BM_FieldFormatReadWrite(benchmark::State& state) {
    std::string text = ControlText();
    SString input(text.c_str());
    for (auto _ : state) {
        SNamedStringList fields;
        input >> fields;
        SString out;
        out << fields;
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_FieldFormatReadWrite);

void BM_StdSplitLines(benchmark::State& state) {
    std::string text = ControlText();
    for (auto _ : state) {
        std::vector<std::string> lines;
        size_t pos = 0;
        for (size_t nl; (nl = text.find('\n', pos)) != std::string::npos; pos = nl + 1)
            lines.push_back(text.substr(pos, nl - pos));
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_StdSplitLines);

const bool kRegistered = [] {
    RatioPair("copy 16 B SString / std::string", "BM_SStringCopy/16", "BM_StdStringCopy/16");
    RatioPair("copy 1 KB SString / std::string", "BM_SStringCopy/1024", "BM_StdStringCopy/1024",
              0.2);
    RatioPair("copy 1 MB SString / std::string", "BM_SStringCopy/1048576",
              "BM_StdStringCopy/1048576");
    RatioPair("copy 1 MB SString / copy 16 B SString (flat)", "BM_SStringCopy/1048576",
              "BM_SStringCopy/16", 1.5);
    RatioPair("append 1 MB by 1 byte", "BM_SStringAppend/1", "BM_StdStringAppend/1", 1.5);
    RatioPair("append 1 MB by 100 bytes", "BM_SStringAppend/100", "BM_StdStringAppend/100", 1.5);
    RatioPair("Index 16 B pattern in 1 MB / std::string::find", "BM_SStringIndex",
              "BM_StdStringFind", 1.5);
    RatioPair("SStringList push 100k + Join / vector + join", "BM_SStringListPushJoin",
              "BM_StdVectorPushJoin", 2.0);
    RatioPair("STable lookup, 100k keys / unordered_map", "BM_STableLookup",
              "BM_StdUnorderedMapLookup", 2.0);
    RatioPair("field format read+write 2 KB / std line split", "BM_FieldFormatReadWrite",
              "BM_StdSplitLines", 3.0);
    return true;
}();

}  // namespace

QB_BENCH_MAIN()
