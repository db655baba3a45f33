// Collects per-iteration times from Google Benchmark's runs and prints the ratio
// table registered with RatioPair().
#include "BenchRatio.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <malloc.h>
#include <map>
#include <vector>

namespace {

struct Pair {
    std::string label, ours, baseline;
    double limit;
};

std::vector<Pair>& Pairs() {
    static std::vector<Pair> pairs;
    return pairs;
}

std::vector<std::string>& Notes() {
    static std::vector<std::string> notes;
    return notes;
}

// Forwards to the console and remembers the adjusted real time (ns) of every run.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> nanos;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            double t = run.GetAdjustedRealTime();
            t *= 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            nanos[run.benchmark_name()] = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void PrintTable(const std::map<std::string, double>& nanos) {
    if (Pairs().empty()) return;
    std::printf("\n%-52s %14s %14s %8s %7s\n", "comparison", "ours ns/op", "baseline ns/op",
                "ratio", "limit");
    for (const Pair& p : Pairs()) {
        auto a = nanos.find(p.ours), b = nanos.find(p.baseline);
        if (a == nanos.end() || b == nanos.end() || b->second <= 0) {
            std::printf("%-52s %14s\n", p.label.c_str(), "(not run)");
            continue;
        }
        double ratio = a->second / b->second;
        std::printf("%-52s %14.1f %14.1f %8.3f", p.label.c_str(), a->second, b->second, ratio);
        if (p.limit > 0)
            std::printf(" %7.2f %s", p.limit, ratio <= p.limit ? "ok" : "OVER");
        std::printf("\n");
    }
    for (const std::string& n : Notes()) std::printf("%s\n", n.c_str());
}

}  // namespace

void RatioPair(const std::string& label, const std::string& ours, const std::string& baseline,
               double limit) {
    Pairs().push_back({label, ours, baseline, limit});
}

void BenchNote(const std::string& line) { Notes().push_back(line); }

int BenchMain(int argc, char** argv) {
    // Keep large blocks on the heap and never trim it: otherwise whether a buffer
    // comes from fresh (page-faulting) memory depends on which benchmark ran before,
    // and that swamps the operation being measured for both sides of a pair.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTable(reporter.nanos);
    benchmark::Shutdown();
    return 0;
}
