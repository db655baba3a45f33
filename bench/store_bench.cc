// Directory store: the keyed store's Get and Set against the same record read or
// written straight through the database library with the same per-operation
// whole-file lock (and, for writes, the same sync); object-database lookups as the
// database grows from 1,000 to 100,000 objects; and bulk creation of 100,000 objects.
//
// Argument 0 of the store pairs runs on disk (/tmp), argument 1 on /dev/shm, where a
// sync costs nothing.  The raw side is measured with the lock alone (the target's
// baseline) and, for comparison, with the lock plus an fstat freshness check, which is
// what a handle kept open needs to stay current without a shared counter (see
// RawStore).  The store's Set is also measured alternating between two names, where
// each call looks up the value names and the chunk head (a Set repeating the object's
// last one skips both).  Lookups compare the
// cost per lookup at each size with the cost at 1,000 objects (a B-tree should make it
// grow with the logarithm of the size, not with the size).
#include <db_185.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "BenchRatio.h"
#include "SObjectDB.h"
#include "Sdbfile.h"
#include "Sfiledir.h"

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

struct ScratchDirs {
    std::string root[2];
    ScratchDirs() {
        char disk[] = "/tmp/qb-store-bench-XXXXXX";
        char shm[] = "/dev/shm/qb-store-bench-XXXXXX";
        root[0] = mkdtemp(disk) ? disk : "";
        root[1] = IsDirectory("/dev/shm") && mkdtemp(shm) ? shm : root[0];
    }
    ~ScratchDirs() {
        for (const std::string& r : root)
            if (!r.empty()) nftw(r.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
};

const ScratchDirs& Dirs() {
    static ScratchDirs dirs;
    return dirs;
}

SString S(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }

// ---- keyed store ---------------------------------------------------------------------

const char* const StoreName = "Bench";
const std::string Value = "a small configuration value";

// A store with a hundred values under the root, one of them "v".
std::string MakeStore(int where) {
    std::string dir = Dirs().root[where];
    static bool made[2] = {false, false};
    if (!made[where]) {
        made[where] = true;
        Sdbfile store(S(dir), StoreName, 1);
        for (int i = 0; i < 100; ++i)
            store.Set(S("value" + std::to_string(i)), SStringList(S(Value)));
        store.Set("v", SStringList(S(Value)));
    }
    return dir + "/" + StoreName;
}

// The raw side: the library's handle plus a whole-file lock taken on our own
// descriptor of the file around each operation, as the store does.  With `check`, it
// also does what a long-open handle needs, without a shared change counter, to keep
// from reading stale cached pages: compare the file's modification time and size with
// the last ones seen (one fstat after locking, and one after its own sync).  The store
// did this before it had its counter and still does when none can be had.
struct RawStore {
    DB* db = nullptr;
    int lockFd = -1;
    struct timespec seenTime = {0, 0};
    off_t seenSize = -1;
    explicit RawStore(const std::string& file, bool write) {
        lockFd = open(file.c_str(), O_RDWR | O_CLOEXEC);
        db = dbopen(file.c_str(), write ? O_RDWR : O_RDONLY, 0660, DB_HASH, nullptr);
    }
    ~RawStore() {
        if (db) db->close(db);
        if (lockFd >= 0) close(lockFd);
    }
    // True when the file is as last seen (a real reader would reopen otherwise).
    bool Unchanged() {
        struct stat st;
        if (fstat(lockFd, &st) != 0) return false;
        bool same = st.st_mtim.tv_sec == seenTime.tv_sec &&
                    st.st_mtim.tv_nsec == seenTime.tv_nsec && st.st_size == seenSize;
        seenTime = st.st_mtim;
        seenSize = st.st_size;
        return same;
    }
    bool Lock(short type) {
        struct flock range;
        std::memset(&range, 0, sizeof range);
        range.l_type = type;
        range.l_whence = SEEK_SET;
        return fcntl(lockFd, type == F_UNLCK ? F_OFD_SETLK : F_OFD_SETLKW, &range) == 0;
    }
};

void BM_SdbfileGet(benchmark::State& state) {
    int where = static_cast<int>(state.range(0));
    MakeStore(where);
    Sdbfile store(S(Dirs().root[where]), StoreName, 0);
    for (auto _ : state) {
        SStringList v = store.Get("v");
        if (v.Count() != 1) state.SkipWithError("get failed");
        benchmark::DoNotOptimize(v);
    }
}

void RawGet(benchmark::State& state, bool check) {
    int where = static_cast<int>(state.range(0));
    RawStore raw(MakeStore(where), false);
    std::string key = "/v";
    raw.Unchanged();
    for (auto _ : state) {
        DBT k{(void*)key.data(), key.size()}, d{};
        raw.Lock(F_RDLCK);
        if (check && !raw.Unchanged()) state.SkipWithError("file changed");
        int r = raw.db->get(raw.db, &k, &d, 0);
        std::string copy(static_cast<const char*>(d.data), r == 0 ? d.size : 0);
        raw.Lock(F_UNLCK);
        if (r != 0) state.SkipWithError("get failed");
        benchmark::DoNotOptimize(copy);
    }
}

void BM_RawGet(benchmark::State& state) { RawGet(state, false); }
void BM_RawGetChecked(benchmark::State& state) { RawGet(state, true); }

void BM_SdbfileSet(benchmark::State& state) {
    int where = static_cast<int>(state.range(0));
    MakeStore(where);
    Sdbfile store(S(Dirs().root[where]), StoreName, 1);
    SStringList value(S(Value));
    for (auto _ : state) {
        if (!store.Set("v", value)) state.SkipWithError("set failed");
    }
}

// Each Set names another value than the last: the full path of a Set.
void BM_SdbfileSetAlternating(benchmark::State& state) {
    int where = static_cast<int>(state.range(0));
    MakeStore(where);
    Sdbfile store(S(Dirs().root[where]), StoreName, 1);
    SStringList value(S(Value));
    const SString names[2] = {"v", "value1"};
    int next = 0;
    for (auto _ : state) {
        if (!store.Set(names[next], value)) state.SkipWithError("set failed");
        next ^= 1;
    }
}

void RawSet(benchmark::State& state, bool check) {
    int where = static_cast<int>(state.range(0));
    RawStore raw(MakeStore(where), true);
    std::string key = "/v", data = std::string(1, '\0') + Value;
    raw.Unchanged();
    for (auto _ : state) {
        DBT k{(void*)key.data(), key.size()}, d{(void*)data.data(), data.size()};
        raw.Lock(F_WRLCK);
        if (check && !raw.Unchanged()) state.SkipWithError("file changed");
        bool ok = raw.db->put(raw.db, &k, &d, 0) == 0 && raw.db->sync(raw.db, 0) == 0;
        if (check) raw.Unchanged();  // remember our own change
        raw.Lock(F_UNLCK);
        if (!ok) state.SkipWithError("put failed");
    }
}

void BM_RawSet(benchmark::State& state) { RawSet(state, false); }
void BM_RawSetChecked(benchmark::State& state) { RawSet(state, true); }

BENCHMARK(BM_SdbfileGet)->Arg(0)->Arg(1);
BENCHMARK(BM_RawGet)->Arg(0)->Arg(1);
BENCHMARK(BM_RawGetChecked)->Arg(0)->Arg(1);
BENCHMARK(BM_SdbfileSet)->Arg(0)->Arg(1);
BENCHMARK(BM_SdbfileSetAlternating)->Arg(0)->Arg(1);
BENCHMARK(BM_RawSet)->Arg(0)->Arg(1);
BENCHMARK(BM_RawSetChecked)->Arg(0)->Arg(1);

// ---- object database -----------------------------------------------------------------

// The account database's flags for the attributes used here.
struct Flags {
    int table[64] = {};
    Flags() {
        table[0] = 2;    // type
        table[13] = 3;   // name: lower-case
        table[17] = 21;  // address: lower-case, mailbox form, unique
        table[53] = 33;  // domain: lower-case, domain order
    }
};
const Flags flags;

std::string ObjectName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "user%06d", i);
    return name;
}

std::string Address(int i) { return "<User" + std::to_string(i) + "@Example.ORG>"; }

std::string BaseName(int objects) {
    return Dirs().root[0] + "/BTObjects" + std::to_string(objects) + ".";
}

// Creates `objects` accounts with three indexed attributes in one write lock.
bool Populate(int objects) {
    std::string base = BaseName(objects);
    RemoveFile(S(base + "a"));
    RemoveFile(S(base + "i"));
    SObjectDB db(S(base), 0, flags.table, 64);
    db.LockWrite();
    bool ok = true;
    for (int i = 0; ok && i < objects; ++i) {
        SString name = S(ObjectName(i));
        ok = db.Create(name, 1) && db.SetAttrib(17, name, SStringList(S(Address(i)))) &&
             db.SetAttrib(13, name, SStringList(S("User Name " + std::to_string(i % 977)))) &&
             db.SetAttrib(53, name, SStringList(S("dept" + std::to_string(i % 50) + ".example.org")));
    }
    db.UnlockWrite();
    return ok;
}

void EnsurePopulated(int objects) {
    static std::map<int, bool> built;
    if (!built[objects]) built[objects] = Populate(objects);
}

void BM_BulkCreate(benchmark::State& state) {
    int objects = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (!Populate(objects)) state.SkipWithError("populate failed");
    }
    state.SetItemsProcessed(state.iterations() * objects);
    std::string base = BaseName(objects);
    BenchNote("bulk creation of " + std::to_string(objects) +
              " objects (type + 3 indexed attributes, one LockWrite): attribute file " +
              std::to_string(FileSize(S(base + "a")) / 1024) + " KB, index file " +
              std::to_string(FileSize(S(base + "i")) / 1024) + " KB");
}

// The same attribute and index records put straight into two B-trees under one
// exclusive lock each: what bulk creation costs without reading anything back.
struct RawTree {
    DB* db = nullptr;
    int lockFd = -1;
    explicit RawTree(const std::string& file) {
        RemoveFile(S(file));
        BTREEINFO info;
        std::memset(&info, 0, sizeof info);
        info.cachesize = 2097152;
        info.psize = 16384;
        db = dbopen(file.c_str(), O_RDWR | O_CREAT, 0666, DB_BTREE, &info);
        lockFd = open(file.c_str(), O_RDWR | O_CLOEXEC);
        struct flock range;
        std::memset(&range, 0, sizeof range);
        range.l_type = F_WRLCK;
        range.l_whence = SEEK_SET;
        fcntl(lockFd, F_OFD_SETLKW, &range);
    }
    ~RawTree() {
        if (db) db->close(db);
        if (lockFd >= 0) close(lockFd);
    }
    bool Put(const SString& key, const SString& data) {
        DBT k{(void*)key.Chars(), size_t(key.Length())}, d{(void*)data.Chars(), size_t(data.Length())};
        return db && db->put(db, &k, &d, 0) == 0;
    }
};

bool RawPopulate(int objects) {
    std::string base = Dirs().root[0] + "/RawObjects.";
    SObjectDB forms(S(base), 0, flags.table, 64);  // only for the canonical forms
    RawTree attribs(base + "a"), index(base + "i");
    SString zero("", 1), empty("");
    bool ok = true;
    for (int i = 0; ok && i < objects; ++i) {
        SString name = S(ObjectName(i));
        const std::pair<int, SString> values[] = {
            {0, SString('\x01', 1)},
            {17, S(Address(i))},
            {13, S("User Name " + std::to_string(i % 977))},
            {53, S("dept" + std::to_string(i % 50) + ".example.org")}};
        for (const auto& v : values) {
            SString code(static_cast<char>(v.first), 1);
            ok = ok && attribs.Put(name + zero + code, zero + v.second) &&
                 index.Put(code + forms._CanonicalizeValue(v.first, v.second) + zero + name, empty);
        }
    }
    return ok;
}

void BM_RawBulk(benchmark::State& state) {
    int objects = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (!RawPopulate(objects)) state.SkipWithError("raw populate failed");
    }
    state.SetItemsProcessed(state.iterations() * objects);
}

void Lookups(benchmark::State& state, bool count) {
    int objects = static_cast<int>(state.range(0));
    EnsurePopulated(objects);
    SObjectDB db(S(BaseName(objects)), 0, flags.table, 64);
    unsigned next = 12345;
    for (auto _ : state) {
        next = next * 1103515245u + 12345u;
        int i = static_cast<int>((next >> 8) % static_cast<unsigned>(objects));
        SString address = S("user" + std::to_string(i) + "@example.org");
        int found = count ? db.CountByAttrib(17, address) : db.ListByAttrib(17, address).Count();
        if (found != 1) state.SkipWithError("lookup failed");
    }
}

void BM_ListByAttrib(benchmark::State& state) { Lookups(state, false); }
void BM_CountByAttrib(benchmark::State& state) { Lookups(state, true); }

BENCHMARK(BM_BulkCreate)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawBulk)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListByAttrib)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_CountByAttrib)->Arg(1000)->Arg(10000)->Arg(100000);

struct Registration {
    Registration() {
        RatioPair("Sdbfile Get vs raw get, lock only, disk", "BM_SdbfileGet/0", "BM_RawGet/0",
                  1.5);
        RatioPair("Sdbfile Get vs raw get, lock only, shm", "BM_SdbfileGet/1", "BM_RawGet/1",
                  1.5);
        RatioPair("Sdbfile Set vs raw put+sync, lock only, disk", "BM_SdbfileSet/0",
                  "BM_RawSet/0", 1.2);
        RatioPair("Sdbfile Set vs raw put+sync, lock only, shm", "BM_SdbfileSet/1",
                  "BM_RawSet/1", 1.2);
        RatioPair("Sdbfile Set, two names in turn, vs raw, lock only, disk",
                  "BM_SdbfileSetAlternating/0", "BM_RawSet/0", 1.2);
        RatioPair("Sdbfile Set, two names in turn, vs raw, lock only, shm",
                  "BM_SdbfileSetAlternating/1", "BM_RawSet/1", 1.2);
        RatioPair("Sdbfile Get vs raw get, lock + fstat check, disk", "BM_SdbfileGet/0",
                  "BM_RawGetChecked/0");
        RatioPair("Sdbfile Get vs raw get, lock + fstat check, shm", "BM_SdbfileGet/1",
                  "BM_RawGetChecked/1");
        RatioPair("Sdbfile Set vs raw put+sync, lock + fstat check, disk", "BM_SdbfileSet/0",
                  "BM_RawSetChecked/0");
        RatioPair("Sdbfile Set vs raw put+sync, lock + fstat check, shm", "BM_SdbfileSet/1",
                  "BM_RawSetChecked/1");
        RatioPair("bulk creation vs raw puts of the same records",
                  "BM_BulkCreate/100000/iterations:1", "BM_RawBulk/100000/iterations:1");
        RatioPair("ListByAttrib 10,000 vs 1,000 objects", "BM_ListByAttrib/10000",
                  "BM_ListByAttrib/1000", 2.0);
        RatioPair("ListByAttrib 100,000 vs 1,000 objects", "BM_ListByAttrib/100000",
                  "BM_ListByAttrib/1000", 2.0);
        RatioPair("CountByAttrib 10,000 vs 1,000 objects", "BM_CountByAttrib/10000",
                  "BM_CountByAttrib/1000", 2.0);
        RatioPair("CountByAttrib 100,000 vs 1,000 objects", "BM_CountByAttrib/100000",
                  "BM_CountByAttrib/1000", 2.0);
    }
} registration;

}  // namespace

QB_BENCH_MAIN()
