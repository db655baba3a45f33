// Ratio reporting for benchmarks.  The machines we measure on are noisy, so every
// figure we quote is a ratio of our operation against a baseline run in the same
// process.  A benchmark program registers pairs with RatioPair() and ends with
// QB_BENCH_MAIN(); after the normal Google Benchmark output it prints one table row
// per pair: both times, the ratio and, when a limit is given, whether it was met.
#ifndef QUILLBOX_BENCH_RATIO_H
#define QUILLBOX_BENCH_RATIO_H

#include <string>

// `ours` and `baseline` are benchmark names as registered (with their arguments,
// e.g. "BM_Copy/1024").  A `limit` of 0 reports the ratio without a verdict.
void RatioPair(const std::string& label, const std::string& ours,
               const std::string& baseline, double limit = 0);

// Adds free-form lines printed under the table (sizes, throughput notes).
void BenchNote(const std::string& line);

int BenchMain(int argc, char** argv);

#define QB_BENCH_MAIN() \
    int main(int argc, char** argv) { return BenchMain(argc, argv); }

#endif
