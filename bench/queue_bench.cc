// Spool queue: writing and reading back a typical control file through SControl,
// against the file-system floor, a bare open/write/rename loop of the same bytes.
//
// SControl::Write syncs the data before the rename (the spool must survive a crash),
// so the floor that counts syncs too (fdatasync); the unsynced loop is reported beside
// it to show what the sync itself costs.  Argument 0 runs in a directory on disk under
// /tmp, argument 1 on /dev/shm (no device behind it: the ratio is the library's own
// overhead: mapping, parsing, the trace, the read back).
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>

#include "BenchRatio.h"
#include "SMessage.h"
#include "Sfiledir.h"

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

// Two scratch spools (disk and memory), each with a control directory; removed at exit.
struct Spools {
    std::string root[2];
    Spools() {
        char disk[] = "/tmp/qb-queue-bench-XXXXXX";
        char shm[] = "/dev/shm/qb-queue-bench-XXXXXX";
        root[0] = mkdtemp(disk) ? disk : "";
        root[1] = IsDirectory("/dev/shm") && mkdtemp(shm) ? shm : root[0];
        for (const std::string& r : root) mkdir((r + "/control").c_str(), 0770);
    }
    ~Spools() {
        for (const std::string& r : root)
            if (!r.empty()) nftw(r.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
};

const Spools& TheSpools() {
    static Spools spools;
    return spools;
}

// A control file as the account handler receives it from the SMTP router.
void FillTypical(SControl& c) {
    c["Function:"] = "Account-Handler";
    c["Control-Type:"] = "Mail";
    c["Priority:"] = "1";
    c["User-From:"] = "SMTP<alice@example.org>";
    c["Channel-To:"] = "SMTP <bob@example.net>";
    c["Channel-To:"].Push("SMTP <carol@example.net>");
    c["Channel-To!"] = "SMTP <dave@example.com>";
    c["Host-From:"] = "mail.example.org [192.0.2.7]";
    c["Submitted-Date:"] = "Mon, 5 May 1997 17:30:00 +0200";
    c["MTA-Hops:"] = "1";
    c["Message-Size:"] = "12";
    c["Account-To:"] = "bob";
    c["Account-To:"].Push("carol");
    c["Trace:"] = "Receiver";
}

SString ControlPath(int where, const char* name) {
    return SString((TheSpools().root[where] + "/control/" + name).c_str());
}

// The bytes SControl writes for the typical file (trace included).
std::string TypicalBytes() {
    SControl c;
    FillTypical(c);
    c.AddTrace();
    SString text("");
    text << c;
    return std::string(text.Chars(), text.Length());
}

void BM_ControlWriteRead(benchmark::State& state) {
    int where = static_cast<int>(state.range(0));
    SControl control(ControlPath(where, "typical-Control"));
    FillTypical(control);
    for (auto _ : state) {
        control["Trace:"] = "Receiver";  // Write appends this module's name each time
        if (!control.Write()) state.SkipWithError("write failed");
        SControl back(control.GetControlFilename());
        if (!back.Read() || back.Get("Channel-To:").Count() != 2)
            state.SkipWithError("read failed");
    }
    state.SetItemsProcessed(state.iterations());
}

// open, write, [fdatasync,] close, rename: the least a crash-safe replacement costs;
// with `readBack`, also open, read and close the file again, the least that reading the
// control file back costs.
void BareWriteRename(benchmark::State& state, bool sync, bool readBack = false) {
    int where = static_cast<int>(state.range(0));
    const std::string bytes = TypicalBytes();
    static bool noted = false;
    if (!noted) {
        noted = true;
        BenchNote("control file: " + std::to_string(bytes.size()) +
                  " bytes, 14 fields; items_per_second above is files per second");
    }
    const std::string path = TheSpools().root[where] + "/control/bare-Control";
    const std::string temp = path + ".temp";
    for (auto _ : state) {
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0660);
        bool ok = fd >= 0 && write(fd, bytes.data(), bytes.size()) ==
                                 static_cast<ssize_t>(bytes.size());
        if (sync && ok) ok = fdatasync(fd) == 0;
        if (fd >= 0) close(fd);
        if (!ok || rename(temp.c_str(), path.c_str()) != 0) state.SkipWithError("write failed");
        if (readBack) {
            char buf[4096];
            int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (in < 0 || read(in, buf, sizeof buf) != static_cast<ssize_t>(bytes.size()))
                state.SkipWithError("read failed");
            if (in >= 0) close(in);
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_BareWriteSyncRename(benchmark::State& state) { BareWriteRename(state, true); }
void BM_BareWriteRename(benchmark::State& state) { BareWriteRename(state, false); }
void BM_BareWriteSyncRenameRead(benchmark::State& state) { BareWriteRename(state, true, true); }

BENCHMARK(BM_ControlWriteRead)->Arg(0)->Arg(1);
BENCHMARK(BM_BareWriteSyncRename)->Arg(0)->Arg(1);
BENCHMARK(BM_BareWriteRename)->Arg(0)->Arg(1);
BENCHMARK(BM_BareWriteSyncRenameRead)->Arg(0)->Arg(1);

struct Registration {
    Registration() {
        RatioPair("SControl write+read vs open/write/fdatasync/rename, disk",
                  "BM_ControlWriteRead/0", "BM_BareWriteSyncRename/0", 2.0);
        RatioPair("SControl write+read vs open/write/fdatasync/rename, shm",
                  "BM_ControlWriteRead/1", "BM_BareWriteSyncRename/1", 2.0);
        RatioPair("SControl write+read vs synced write/rename + read back, disk",
                  "BM_ControlWriteRead/0", "BM_BareWriteSyncRenameRead/0", 2.0);
        RatioPair("SControl write+read vs synced write/rename + read back, shm",
                  "BM_ControlWriteRead/1", "BM_BareWriteSyncRenameRead/1", 2.0);
        RatioPair("SControl write+read vs unsynced open/write/rename, disk",
                  "BM_ControlWriteRead/0", "BM_BareWriteRename/0");
        RatioPair("SControl write+read vs unsynced open/write/rename, shm",
                  "BM_ControlWriteRead/1", "BM_BareWriteRename/1");
    }
} registration;

}  // namespace

QB_BENCH_MAIN()
