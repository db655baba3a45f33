// MapFileRead against the plain way of reading a whole file: a read() loop appending
// 64 KB chunks to a std::string.  Both read the same 4 KB and 1 MB files (page cache
// warm) in the same run; the ratio table compares them per size.  A third variant maps
// the file and copies the mapping into an SString, which is why MapFileRead reads
// instead (mapping set-up and tear-down dominate at these sizes).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "BenchRatio.h"
#include "Sfiledir.h"

namespace {

// A scratch directory holding one file per benchmarked size, removed at exit.
struct Files {
    std::string dir;
    Files() {
        char pattern[] = "/tmp/qb-mapfile-bench-XXXXXX";
        dir = ::mkdtemp(pattern) ? pattern : "/tmp";
        for (long size : {4096L, 1048576L}) {
            std::ofstream out(Path(size), std::ios::binary);
            std::string block(size, 0);
            for (long i = 0; i < size; ++i) block[i] = static_cast<char>('a' + i % 26);
            out << block;
        }
    }
    ~Files() {
        for (long size : {4096L, 1048576L}) ::unlink(Path(size).c_str());
        ::rmdir(dir.c_str());
    }
    std::string Path(long size) const { return dir + "/file-" + std::to_string(size); }
};

const Files& TheFiles() {
    static Files files;
    return files;
}

void BM_MapFileRead(benchmark::State& state) {
    SString path(TheFiles().Path(state.range(0)).c_str());
    for (auto _ : state) {
        SString text = MapFileRead(path);
        benchmark::DoNotOptimize(text.Chars());
        if (text.Length() != state.range(0)) state.SkipWithError("short read");
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_ReadLoop(benchmark::State& state) {
    std::string path = TheFiles().Path(state.range(0));
    for (auto _ : state) {
        std::string text;
        int fd = ::open(path.c_str(), O_RDONLY);
        char buf[65536];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, n);
        ::close(fd);
        benchmark::DoNotOptimize(text.data());
        if (static_cast<long>(text.size()) != state.range(0)) state.SkipWithError("short read");
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// open, fstat, mmap, copy into an SString, munmap, close.
void BM_MappedCopy(benchmark::State& state) {
    std::string path = TheFiles().Path(state.range(0));
    for (auto _ : state) {
        int fd = ::open(path.c_str(), O_RDONLY);
        struct stat st;
        ::fstat(fd, &st);
        void* map = ::mmap(nullptr, st.st_size, PROT_READ, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED) {
            state.SkipWithError("mmap failed");
            ::close(fd);
            break;
        }
        SString text(static_cast<const char*>(map), static_cast<int>(st.st_size));
        ::munmap(map, st.st_size);
        ::close(fd);
        benchmark::DoNotOptimize(text.Chars());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_MapFileRead)->Arg(4096)->Arg(1048576);
BENCHMARK(BM_ReadLoop)->Arg(4096)->Arg(1048576);
BENCHMARK(BM_MappedCopy)->Arg(4096)->Arg(1048576);

struct Register {
    Register() {
        RatioPair("MapFileRead 4 KB vs read() loop", "BM_MapFileRead/4096", "BM_ReadLoop/4096",
                  1.3);
        RatioPair("MapFileRead 1 MB vs read() loop", "BM_MapFileRead/1048576",
                  "BM_ReadLoop/1048576", 1.3);
        RatioPair("mmap+copy 4 KB vs read() loop (not used)", "BM_MappedCopy/4096",
                  "BM_ReadLoop/4096");
        RatioPair("mmap+copy 1 MB vs read() loop (not used)", "BM_MappedCopy/1048576",
                  "BM_ReadLoop/1048576");
    }
} registerPairs;

}  // namespace

QB_BENCH_MAIN()
