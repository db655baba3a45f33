// Accounts: finding an account by address (SAccountDB::GetAccountUID) in directories
// of 1,000 and 100,000 accounts, and creating 100,000 accounts through quillbox-admin's
// library path (AdminAddAccount, every check included) inside one SAccountDBMod.
//
// The lookup figure that matters is growth: the cost per lookup at 100,000 accounts
// against the cost at 1,000 (target at most 2x).  Creation is compared with the bare
// object-database writes of the same attributes (Create and SetAttrib under one write
// lock, no checks), which shows what the admin checks and the account layer add.  The
// 100,000-account directory made by the creation benchmark is reused by the lookups.
// links: quillbox_admin
#include <ftw.h>
#include <stdlib.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "AdminLib.h"
#include "BenchRatio.h"
#include "SAccount.h"
#include "SIdentifier.h"
#include "Sprocess.h"

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

// Scratch installations, one per purpose, removed at exit.
class Roots {
public:
    ~Roots() {
        for (auto& [name, path] : made) nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
    // A fresh installation (init through the admin library) under a new directory,
    // made the process's "Quillbox".
    std::string Fresh(const std::string& name) {
        char pattern[] = "/tmp/qb-accounts-bench-XXXXXX";
        std::string path = mkdtemp(pattern) ? pattern : "";
        made[name + std::to_string(made.size())] = path;
        AdminInitSpec spec;
        spec.root = SString(path.c_str());
        spec.domain = "example.org";
        AdminInit(spec);
        Use(path);
        return path;
    }
    static void Use(const std::string& path) {
        PutEnv("Quillbox", SString(path.c_str()));
        SAccountBase::CloseDatabases();
    }

private:
    std::map<std::string, std::string> made;
};

Roots& TheRoots() {
    static Roots roots;
    return roots;
}

std::string UserAddress(long i) { return "user" + std::to_string(i) + "@example.org"; }

// Adds accounts user0..user<n-1> through the admin library; false on the first refusal.
bool AddAccounts(long n) {
    SAccountDBMod db;
    AdminContext context;
    for (long i = 0; i < n; ++i) {
        AdminAccountSpec spec;
        spec.uid = SString(("user" + std::to_string(i)).c_str());
        spec.addresses = SStringList(SString(UserAddress(i).c_str()));
        spec.name = SString(("User Number " + std::to_string(i)).c_str());
        spec.quota = "10240";
        if (!AdminAddAccount(db, spec, context).Ok()) return false;
    }
    return true;
}

// Installations holding n accounts, by size; the creation benchmark leaves its own.
std::map<long, std::string>& Directories() {
    static std::map<long, std::string> directories;
    return directories;
}

void UseDirectory(long n) {
    auto it = Directories().find(n);
    if (it != Directories().end()) {
        Roots::Use(it->second);
        return;
    }
    std::string path = TheRoots().Fresh("lookup");
    AddAccounts(n);
    Directories()[n] = path;
}

void BM_CreateViaAdmin(benchmark::State& state) {
    long n = state.range(0);
    bool ok = true;
    std::string path;
    for (auto _ : state) {
        state.PauseTiming();
        path = TheRoots().Fresh("create");
        state.ResumeTiming();
        ok = AddAccounts(n) && ok;
    }
    if (!ok) state.SkipWithError("an account was refused");
    SAccountBase::CloseDatabases();
    if (SAccountDB().AccountUIDCount() != n + SpecialAccountCount)
        state.SkipWithError("wrong number of accounts");
    Directories()[n] = path;
    state.counters["accounts/s"] = benchmark::Counter(static_cast<double>(n) * state.iterations(),
                                                      benchmark::Counter::kIsRate);
}

// The same attributes written straight into an object database of the same layout.
void BM_CreateRawObjectDB(benchmark::State& state) {
    long n = state.range(0);
    for (auto _ : state) {
        state.PauseTiming();
        std::string path = TheRoots().Fresh("raw");
        SObjectDB odb(SString((path + "/config/Raw.").c_str()), 0, ai_AttribFlags,
                      AccountAttribCount);
        state.ResumeTiming();
        odb.LockWrite();
        for (long i = 0; i < n; ++i) {
            SString uid(("user" + std::to_string(i)).c_str());
            odb.Create(uid, 1);
            odb.SetAttrib(AC_SMTP_Address, uid, SStringList(SString(UserAddress(i).c_str())));
            odb.SetAttrib(AC_Local_Delivery, uid, SStringList("Mailbox"));
            odb.SetAttrib(AC_Name, uid, SStringList(SString(("User Number " + std::to_string(i)).c_str())));
            odb.SetAttrib(AC_Mailbox_Quota, uid, SStringList("10240"));
        }
        odb.UnlockWrite();
    }
    state.counters["accounts/s"] = benchmark::Counter(static_cast<double>(n) * state.iterations(),
                                                      benchmark::Counter::kIsRate);
}

void BM_GetAccountUID(benchmark::State& state) {
    long n = state.range(0);
    UseDirectory(n);
    // Addresses parsed beforehand, in a random order, in mixed case and brackets.
    std::mt19937 random(7);
    std::vector<S821Address> addresses;
    for (int i = 0; i < 4096; ++i) {
        long k = static_cast<long>(random() % n);
        addresses.emplace_back(SString(("<User" + std::to_string(k) + "@Example.ORG>").c_str()));
    }
    SAccountDB db;
    size_t next = 0;
    long misses = 0;
    for (auto _ : state) {
        SString uid = db.GetAccountUID(addresses[next]);
        misses += uid.Length() == 0;
        benchmark::DoNotOptimize(uid);
        next = (next + 1) % addresses.size();
    }
    if (misses > 0) state.SkipWithError("an address was not found");
    state.counters["lookups/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_CreateViaAdmin)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateRawObjectDB)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetAccountUID)->Arg(1000)->Arg(100000);

static const bool registered = [] {
    RatioPair("GetAccountUID, 100,000 vs 1,000 accounts", "BM_GetAccountUID/100000",
              "BM_GetAccountUID/1000", 2.0);
    RatioPair("create 100,000 via admin vs raw object DB", "BM_CreateViaAdmin/100000/iterations:1",
              "BM_CreateRawObjectDB/100000/iterations:1");
    BenchNote("GetAccountUID: pre-parsed mixed-case addresses of existing accounts, random order.");
    BenchNote("Creation: one SAccountDBMod, AdminAddAccount with address, name, quota, delivery.");
    return true;
}();

QB_BENCH_MAIN()
