// Cost of giving a pattern as text.  The router and list code call SString::M,
// HasMatch and S with literal patterns for every message, so the pattern would be
// converted and compiled on every call.  Each pair compares an operation on a
// pattern given as text with the same operation through one precompiled expression:
//   - "uncached": converting and compiling an SPerlRegex for each call, which is what
//     a text pattern costs without the compiled-pattern cache;
//   - "cached": SString::M / HasMatch / S as they are, served by the cache.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "BenchRatio.h"
#include "SRegex.h"
#include "SString.h"
#include "SStringList.h"

namespace {

const SString kAddress("^(.*)@([^@]*)$");
const SString kReply("^\\s*(re|aw|fwd?):\\s*");

const std::vector<SString>& Addresses() {
    static const std::vector<SString> subjects = [] {
        std::vector<SString> v;
        for (int i = 0; i < 1000; ++i) {
            std::string local = "user" + std::to_string(i * 7919 % 100000);
            std::string domain =
                "host" + std::to_string(i % 37) + ".example" + std::to_string(i % 5) + ".org";
            v.push_back(SString((local + "@" + domain).c_str()));
        }
        return v;
    }();
    return subjects;
}

const std::vector<SString>& Subjects() {
    static const std::vector<SString> subjects = [] {
        const char* heads[] = {"Re: ", "AW: ", "Fwd: ", "", "  re:  "};
        std::vector<SString> v;
        for (int i = 0; i < 1000; ++i)
            v.push_back(SString(
                (std::string(heads[i % 5]) + "Meeting notes " + std::to_string(i)).c_str()));
        return v;
    }();
    return subjects;
}

void BM_MatchPrecompiled(benchmark::State& state) {
    SPerlRegex rx(kAddress);
    size_t i = 0;
    for (auto _ : state) {
        const SString& s = Addresses()[i++ % 1000];
        benchmark::DoNotOptimize(s.M(rx));
    }
}

void BM_MatchTextUncached(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        const SString& s = Addresses()[i++ % 1000];
        SPerlRegex rx(kAddress, nullptr);
        benchmark::DoNotOptimize(s.M(rx));
    }
}

void BM_MatchTextCached(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        const SString& s = Addresses()[i++ % 1000];
        benchmark::DoNotOptimize(s.M(kAddress));
    }
}

void BM_HasMatchPrecompiled(benchmark::State& state) {
    SPerlRegex rx(kReply, "i");
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(Subjects()[i++ % 1000].HasMatch(rx));
}

void BM_HasMatchTextUncached(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        SPerlRegex rx(kReply, "i");
        benchmark::DoNotOptimize(Subjects()[i++ % 1000].HasMatch(rx));
    }
}

void BM_HasMatchTextCached(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(Subjects()[i++ % 1000].HasMatch(kReply, "i"));
}

void BM_SubstPrecompiled(benchmark::State& state) {
    SPerlRegex rx(kReply, "i");
    const SString empty("");
    size_t i = 0;
    for (auto _ : state) {
        SString s = Subjects()[i++ % 1000];
        benchmark::DoNotOptimize(s.S(rx, empty, "i"));
    }
}

void BM_SubstTextCached(benchmark::State& state) {
    const SString empty("");
    size_t i = 0;
    for (auto _ : state) {
        SString s = Subjects()[i++ % 1000];
        benchmark::DoNotOptimize(s.S(kReply, empty, "i"));
    }
}

BENCHMARK(BM_MatchPrecompiled);
BENCHMARK(BM_MatchTextUncached);
BENCHMARK(BM_MatchTextCached);
BENCHMARK(BM_HasMatchPrecompiled);
BENCHMARK(BM_HasMatchTextUncached);
BENCHMARK(BM_HasMatchTextCached);
BENCHMARK(BM_SubstPrecompiled);
BENCHMARK(BM_SubstTextCached);

const bool registered = [] {
    RatioPair("M(text) uncached vs precompiled SRegex", "BM_MatchTextUncached",
              "BM_MatchPrecompiled");
    RatioPair("M(text) cached vs precompiled SRegex", "BM_MatchTextCached", "BM_MatchPrecompiled",
              3.0);
    RatioPair("HasMatch(text, i) uncached vs precompiled", "BM_HasMatchTextUncached",
              "BM_HasMatchPrecompiled");
    RatioPair("HasMatch(text, i) cached vs precompiled", "BM_HasMatchTextCached",
              "BM_HasMatchPrecompiled", 3.0);
    RatioPair("S(text, i) cached vs precompiled", "BM_SubstTextCached", "BM_SubstPrecompiled", 3.0);
    BenchNote(
        "patterns: '^(.*)@([^@]*)$' on 1000 addresses; '^\\s*(re|aw|fwd?):\\s*' /i on 1000 "
        "subjects");
    return true;
}();

}  // namespace

QB_BENCH_MAIN()
