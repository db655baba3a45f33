// Helpers for the directory-store tests: a private scratch directory, a raw view of a
// Berkeley DB file through the library's own 1.85 interface (to check and to damage
// records byte for byte), and small fork helpers for the multi-process cases.
#ifndef QUILLBOX_TESTS_DIRECTORY_STORETESTTOOLS_H
#define QUILLBOX_TESTS_DIRECTORY_STORETESTTOOLS_H

#include <db_185.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "SString.h"
#include "SStringList.h"

class StoreDir {
public:
    StoreDir() {
        std::string pattern = std::string(QB_TEST_TMP) + "/store-XXXXXX";
        std::filesystem::create_directories(QB_TEST_TMP);
        char* made = ::mkdtemp(pattern.data());
        path = made ? made : "";
    }
    ~StoreDir() {
        std::error_code ignored;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path, ignored);
    }
    std::string Path(const std::string& name = "") const {
        return name.empty() ? path : path + "/" + name;
    }
    SString S(const std::string& name = "") const { return Sv(Path(name)); }
    static SString Sv(const std::string& s) { return SString(s.data(), int(s.size())); }

private:
    std::string path;
};

inline std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }
inline std::string Bytes(const char* p, size_t n) { return std::string(p, n); }

inline std::vector<std::string> Items(const SStringList& l) {
    std::vector<std::string> out;
    l.ForEach([&out](const SString& s) { out.push_back(Str(s)); });
    return out;
}

inline SStringList ListOf(const std::vector<std::string>& items) {
    SStringList l;
    l.Reset();
    for (const std::string& s : items) l.Push(StoreDir::Sv(s));
    return l;
}

// Every record of a hash or B-tree file, read (or changed) with no locking at all:
// only for files no store object has open.
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
    std::map<std::string, std::string> All() {
        std::map<std::string, std::string> all;
        DBT k{}, d{};
        for (int r = db->seq(db, &k, &d, R_FIRST); r == 0; r = db->seq(db, &k, &d, R_NEXT))
            all[Bytes((char*)k.data, k.size)] = Bytes((char*)d.data, d.size);
        return all;
    }
    bool Has(const std::string& key) {
        std::string ignored;
        return Get(key, ignored);
    }
    bool Get(const std::string& key, std::string& data) {
        DBT k{(void*)key.data(), key.size()}, d{};
        if (db->get(db, &k, &d, 0) != 0) return false;
        data = Bytes((char*)d.data, d.size);
        return true;
    }
    bool Put(const std::string& key, const std::string& data) {
        DBT k{(void*)key.data(), key.size()}, d{(void*)data.data(), data.size()};
        return db->put(db, &k, &d, 0) == 0 && db->sync(db, 0) == 0;
    }
    bool Del(const std::string& key) {
        DBT k{(void*)key.data(), key.size()};
        return db->del(db, &k, 0) == 0 && db->sync(db, 0) == 0;
    }

private:
    DB* db = nullptr;
};

// Runs `body` in a child process; the child's exit status is body's result.
inline pid_t Spawn(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

inline int WaitStatus(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Whether another process could lock the file right now (no wait), with a classic
// fcntl lock, which conflicts with the store's open-file-description locks.
inline bool LockFreeElsewhere(const std::string& file, bool exclusive) {
    pid_t pid = Spawn([&file, exclusive] {
        int fd = ::open(file.c_str(), exclusive ? O_RDWR : O_RDONLY);
        struct flock range{};
        range.l_type = exclusive ? F_WRLCK : F_RDLCK;
        range.l_whence = SEEK_SET;
        return fd >= 0 && ::fcntl(fd, F_SETLK, &range) == 0 ? 0 : 1;
    });
    return WaitStatus(pid) == 0;
}

#endif
