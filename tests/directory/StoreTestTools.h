// Helpers for the directory-store tests: a raw view of a Berkeley DB file through the
// library's own 1.85 interface (to check and to damage records byte for byte), a probe
// of the store's whole-file lock from another process, and file permissions.
#ifndef QUILLBOX_TESTS_DIRECTORY_STORETESTTOOLS_H
#define QUILLBOX_TESTS_DIRECTORY_STORETESTTOOLS_H

#include <db_185.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <map>
#include <string>

#include "QbTest.h"

using qbtest::Bracketed;
using qbtest::Items;
using qbtest::ListOf;
using qbtest::S;
using qbtest::Spawn;
using qbtest::Str;
using qbtest::TempDir;
using qbtest::WaitStatus;

using Records = std::map<std::string, std::string>;

// Every record of a hash or B-tree file, read or changed with no locking at all: only
// for files no store object has open.
class RawDb {
public:
    RawDb(const std::string& file, bool btree, bool write = false) {
        BTREEINFO info{};
        info.psize = 16384;
        db = ::dbopen(file.c_str(), write ? O_RDWR : O_RDONLY, 0660, btree ? DB_BTREE : DB_HASH,
                      btree ? &info : nullptr);
    }
    ~RawDb() {
        if (db) db->close(db);
    }
    bool Ok() const { return db != nullptr; }
    Records All() {
        Records all;
        DBT k{}, d{};
        for (int r = db ? db->seq(db, &k, &d, R_FIRST) : 1; r == 0; r = db->seq(db, &k, &d, R_NEXT))
            all[std::string((char*)k.data, k.size)] = std::string((char*)d.data, d.size);
        return all;
    }
    bool Put(const std::string& key, const std::string& data) {
        DBT k{(void*)key.data(), key.size()}, d{(void*)data.data(), data.size()};
        return db && db->put(db, &k, &d, 0) == 0 && db->sync(db, 0) == 0;
    }

private:
    DB* db = nullptr;
};

// The lock this process's stores hold on the file, as another process finds it when it
// tries a classic fcntl lock (which conflicts with the store's open-file-description
// locks) without waiting: "none", "shared" (it could read-lock only) or "exclusive".
inline std::string HeldLock(const std::string& file) {
    auto freeFor = [&file](bool exclusive) {
        return WaitStatus(Spawn([&file, exclusive] {
                   int fd = ::open(file.c_str(), exclusive ? O_RDWR : O_RDONLY);
                   struct flock range{};
                   range.l_type = exclusive ? F_WRLCK : F_RDLCK;
                   range.l_whence = SEEK_SET;
                   return fd >= 0 && ::fcntl(fd, F_SETLK, &range) == 0 ? 0 : 1;
               })) == 0;
    };
    if (freeFor(true)) return "none";
    return freeFor(false) ? "shared" : "exclusive";
}

// The file's permission bits, and what a new file gets under the current umask.
inline mode_t ModeOf(const std::string& file) {
    struct stat st{};
    return ::stat(file.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000;
}
inline mode_t Masked(mode_t mode) {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mode & ~mask;
}

#endif
