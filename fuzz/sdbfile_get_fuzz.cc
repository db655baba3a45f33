// Fuzz target for reading a keyed store whose records hold hostile bytes.  The input
// is a list of records (key, data, key, data, ... separated by 0xFF bytes) written
// straight into a fresh hash file; the store then reads key and value names, every
// listed value and sub-key, and overwrites and deletes values on top of whatever
// heads and chunks the records claim.  Nothing may crash, hang or leak.
#include <db_185.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Sdbfile.h"

namespace {

// In memory when the system has a memory file system: every store write syncs.
const std::string& ScratchDir() {
    static std::string dir;
    if (dir.empty()) {
        char shm[] = "/dev/shm/sdbfile-fuzz-XXXXXX";
        char tmp[] = "/tmp/sdbfile-fuzz-XXXXXX";
        if (::mkdtemp(shm)) dir = shm;
        else dir = ::mkdtemp(tmp) ? tmp : "/tmp";
        std::atexit([] {
            ::unlink((dir + "/Fuzz").c_str());
            ::rmdir(dir.c_str());
        });
    }
    return dir;
}

std::vector<std::string> Pieces(const uint8_t* data, size_t size) {
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < size && pieces.size() < 64; ++i) {
        if (data[i] == 0xFF) pieces.emplace_back();
        else pieces.back() += char(data[i]);
    }
    return pieces;
}

bool WriteRecords(const std::string& file, const std::vector<std::string>& pieces) {
    ::unlink(file.c_str());
    DB* db = ::dbopen(file.c_str(), O_RDWR | O_CREAT, 0660, DB_HASH, nullptr);
    if (!db) return false;
    for (size_t i = 0; i + 1 < pieces.size(); i += 2) {
        DBT k{(void*)pieces[i].data(), pieces[i].size()};
        DBT d{(void*)pieces[i + 1].data(), pieces[i + 1].size()};
        db->put(db, &k, &d, 0);
    }
    db->close(db);
    return true;
}

SString S(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }

void ReadEverything(Sdbfile& store, int depth) {
    SStringList values = store.Values();
    int n = 0;
    values.ForEach([&](const SString& name) {
        if (n++ < 16) store.Get(name);
    });
    if (depth == 0) return;
    SString here = store.GetCurrentKey();
    SStringList keys = store.Keys();
    n = 0;
    keys.ForEach([&](const SString& key) {
        if (n++ >= 8 || key.Length() == 0) return;
        if (store.Open(here + key, 0)) ReadEverything(store, depth - 1);
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string file = ScratchDir() + "/Fuzz";
    std::vector<std::string> pieces = Pieces(data, size);
    if (!WriteRecords(file, pieces)) return 0;
    Sdbfile store(S(ScratchDir()), "Fuzz", 0);
    if (!store.IsOpen()) return 0;
    for (size_t i = 0; i < pieces.size(); i += 2) {
        const std::string& key = pieces[i];
        if (!key.empty() && key[0] == '/') store.Get(S(key.substr(1)));
    }
    ReadEverything(store, 3);
    if (!store.Open("/", 1)) return 0;
    SStringList names = store.Values();
    if (names.Count() > 0) {
        SString first = names.Get(0);
        store.Set(first, SStringList(SString('v', 1500)));
        store.Get(first);
        store.Set(first, SStringList(S("short")));
        store.DeleteValue(first);
    }
    SStringList keys = store.Keys();
    if (keys.Count() > 0 && keys.Get(0).Length() > 0) store.RecursiveDeleteKey("/", keys.Get(0));
    store.CloseDB();
    return 0;
}
