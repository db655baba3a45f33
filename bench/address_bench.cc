// Address parsing speed: envelope addresses (a mixed corpus of SMTP arguments and a
// corpus of plain "<local@domain>" ones) and header field values, per address,
// against Python's standard email parsers run on the same corpus in the same run.
// The corpus comes from bench/gen-address-corpus.py (fixed seed) and the Python side
// from bench/address-baseline.py; both sides count CPU time, not wall time, because
// the machines we measure on are shared.
// links: quillbox_address
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "BenchRatio.h"
#include "SIdentifier.h"
#include "SParser.h"

namespace {

struct Corpus {
    std::vector<SString> values;
    int addresses = 0;
};

std::string Python() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

std::string CorpusDir() {
    static std::string dir;
    if (!dir.empty()) return dir;
    char scratch[] = "/tmp/qb-address-bench-XXXXXX";
    if (!mkdtemp(scratch)) return dir;
    dir = scratch;
    std::string command = Python() + " " QB_SOURCE_DIR "/bench/gen-address-corpus.py " + dir;
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "corpus generation failed\n");
    std::atexit([] { std::system(("rm -rf " + CorpusDir()).c_str()); });
    return dir;
}

std::string Unescape(const std::string& line) {
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            char c = line[++i];
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
            continue;
        }
        out += line[i];
    }
    return out;
}

Corpus Load(const char* name) {
    Corpus corpus;
    std::ifstream in(CorpusDir() + "/" + name, std::ios::binary);
    std::string line;
    if (std::getline(in, line)) corpus.addresses = std::atoi(line.c_str() + 12);  // "# addresses N"
    while (std::getline(in, line)) {
        std::string value = Unescape(line);
        corpus.values.emplace_back(value.data(), static_cast<int>(value.size()));
    }
    return corpus;
}

const Corpus& Envelopes() {
    static Corpus c = Load("address-envelope.txt");
    return c;
}
const Corpus& Simple() {
    static Corpus c = Load("address-simple.txt");
    return c;
}
const Corpus& Headers() {
    static Corpus c = Load("address-header.txt");
    return c;
}

// "name nanoseconds-per-address" lines from the Python baseline, run once.
const std::map<std::string, double>& PythonFigures() {
    static std::map<std::string, double> figures;
    static bool ran = false;
    if (ran) return figures;
    ran = true;
    std::string command = Python() + " " QB_SOURCE_DIR "/bench/address-baseline.py " + CorpusDir();
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return figures;
    char name[64];
    double ns;
    while (std::fscanf(pipe, "%63s %lf", name, &ns) == 2) figures[name] = ns;
    pclose(pipe);
    return figures;
}

double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// Runs `parse` over every value of the corpus per iteration and reports CPU time per
// corpus address; `parse` returns how many usable addresses it found, which must be
// all of them.
template <typename Parse>
void PerAddress(benchmark::State& state, const Corpus& corpus, Parse parse) {
    if (corpus.values.empty() || corpus.addresses <= 0) {
        state.SkipWithError("no corpus");
        return;
    }
    for (auto _ : state) {
        double start = CpuSeconds();
        long found = 0;
        for (const SString& value : corpus.values) found += parse(value);
        state.SetIterationTime((CpuSeconds() - start) / corpus.addresses);
        if (found != corpus.addresses) {
            state.SkipWithError("parser rejected corpus addresses");
            return;
        }
    }
}

void BM_SimpleEnvelope(benchmark::State& state) {
    PerAddress(state, Simple(), [](const SString& text) {
        S821Address address(text);
        return address.Address().Length() > 0 ? 1 : 0;
    });
}
BENCHMARK(BM_SimpleEnvelope)->UseManualTime()->Iterations(20);

void BM_EnvelopeCorpus(benchmark::State& state) {
    PerAddress(state, Envelopes(), [](const SString& text) {
        S821Parser parser(text, 1);
        S821Address address = parser.ExtractAddress();
        SStringList parameters = parser.Extensions();
        return !address.IsBad() && parameters.Defined() ? 1 : 0;
    });
}
BENCHMARK(BM_EnvelopeCorpus)->UseManualTime()->Iterations(20);

void BM_HeaderAddresses(benchmark::State& state) {
    PerAddress(state, Headers(), [](const SString& text) {
        S822Parser parser(text);
        return parser.Addresses().Count();
    });
}
BENCHMARK(BM_HeaderAddresses)->UseManualTime()->Iterations(10);

// The header forms with display names, as a mail reader would show them.
void BM_HeaderDisplayForms(benchmark::State& state) {
    PerAddress(state, Headers(), [](const SString& text) {
        S822Parser parser(text);
        int found = 0;
        for (;;) {
            S822Address address = parser.NextAddress();
            if (address.IsEnd() || address.IsBad()) break;
            found += address.Address().Length() > 0;
        }
        return found;
    });
}
BENCHMARK(BM_HeaderDisplayForms)->UseManualTime()->Iterations(10);

void PythonFigure(benchmark::State& state, const char* name) {
    auto it = PythonFigures().find(name);
    if (it == PythonFigures().end()) {
        state.SkipWithError("python baseline did not run");
        return;
    }
    for (auto _ : state) state.SetIterationTime(it->second * 1e-9);
}

void BM_PyGetaddresses(benchmark::State& state) { PythonFigure(state, "getaddresses"); }
BENCHMARK(BM_PyGetaddresses)->UseManualTime()->Iterations(1);
void BM_PyHeaderRegistry(benchmark::State& state) { PythonFigure(state, "headerregistry"); }
BENCHMARK(BM_PyHeaderRegistry)->UseManualTime()->Iterations(1);
void BM_PyParseaddr(benchmark::State& state) { PythonFigure(state, "parseaddr"); }
BENCHMARK(BM_PyParseaddr)->UseManualTime()->Iterations(1);

int Register() {
    RatioPair("header list Addresses() vs getaddresses", "BM_HeaderAddresses/iterations:10/manual_time",
              "BM_PyGetaddresses/iterations:1/manual_time", 0.05);
    RatioPair("header list Addresses() vs headerregistry", "BM_HeaderAddresses/iterations:10/manual_time",
              "BM_PyHeaderRegistry/iterations:1/manual_time", 0.05);
    RatioPair("header display forms vs headerregistry", "BM_HeaderDisplayForms/iterations:10/manual_time",
              "BM_PyHeaderRegistry/iterations:1/manual_time", 0.05);
    RatioPair("envelope corpus vs parseaddr", "BM_EnvelopeCorpus/iterations:20/manual_time",
              "BM_PyParseaddr/iterations:1/manual_time", 0.05);
    BenchNote("All figures are CPU ns per corpus address (10,000 envelope values, 10,000 "
              "header values).");
    BenchNote("Target: BM_SimpleEnvelope at most 1000 ns (one million envelope addresses "
              "per second on one core).");
    return 0;
}
const int registered = Register();

}  // namespace

QB_BENCH_MAIN()
