// SdbHandle: a Berkeley DB 1.85 handle with the whole-file lock supplied by us.
//
// Why open-file-description locks in a process-wide table:
//  - The stock library ignores the whole-file lock flag, and while dbopen runs (and
//    again in close) it opens and closes descriptors of its own on the file.  A classic
//    fcntl lock belongs to the process and is dropped when *any* descriptor of the file
//    is closed, so a lock taken before dbopen would silently vanish inside it.  An OFD
//    lock belongs to one open file description: we open the file ourselves, lock that
//    description (F_OFD_SETLKW), and only closing our own descriptor drops the lock.
//  - Two handles of one process on one file must neither drop each other's lock (the
//    classic-lock problem) nor block each other (two OFD descriptions would conflict).
//    So each file has one entry per process holding one locked description, with
//    counts of the readers and writers among its handles; the kernel lock is exclusive
//    while any writer holds it, shared while only readers do, and released at zero.
//  - A fork copies descriptors, and with them the OFD lock's owner.  The child forgets
//    the inherited entries (closing its copies leaves the parent's lock alone), and a
//    handle opened before the fork reopens itself when first used in the child.
//
// Freshness: every handle caches pages privately, so a handle kept open across
// another handle's write would read stale pages (or a mix of old and new ones).  Each
// handle remembers the file's identity, size and modification time when its cache was
// last known to match the file, and reopens when a granted lock shows a change.
// Writers make the change visible: after their sync the modification time is moved
// past the one they started from even when the clock has not ticked.
#include "SdbHandle.h"

#include <db_185.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "Sfiledir.h"
#include "Sprocess.h"

// One locked open file description per file per process.
struct SdbSharedLock {
    dev_t dev;
    ino_t ino;
    int fd;
    int readers;
    int writers;
    short held;  // F_UNLCK, F_RDLCK or F_WRLCK: what the kernel holds for us
    int users;   // handles attached
    unsigned generation;
    unsigned long writes;  // writes made visible by this process's handles
};

unsigned sdbForkGeneration = 0;

namespace {

std::vector<SdbSharedLock*>* lockTable = nullptr;

// In a forked child the inherited descriptions are the parent's: forget them.
void ForgetLocksAfterFork() {
    ++sdbForkGeneration;
    if (!lockTable) return;
    for (SdbSharedLock* entry : *lockTable) {
        if (entry->fd >= 0) ::close(entry->fd);
        entry->fd = -1;
        entry->held = F_UNLCK;
    }
}

std::vector<SdbSharedLock*>& LockTable() {
    if (!lockTable) {
        lockTable = new std::vector<SdbSharedLock*>();
        ::pthread_atfork(nullptr, nullptr, ForgetLocksAfterFork);
    }
    return *lockTable;
}

void DropEntry(SdbSharedLock* entry) {
    std::vector<SdbSharedLock*>& table = LockTable();
    table.erase(std::remove(table.begin(), table.end(), entry), table.end());
    if (entry->fd >= 0) ::close(entry->fd);
    delete entry;
}

// ---- the store layer's own system calls -------------------------------------------

// Start 0, length 0: the whole file, however it grows.
bool SetOfdLock(int fd, short type, bool wait) {
    if (type == F_UNLCK) return UnlockFile_ofd(fd);
    int mode = (type == F_RDLCK ? LockShared : 0) | (wait ? LockWait : 0);
    return LockFile_ofd(fd, mode) >= 0;
}

// Prefers a read-write descriptor (an exclusive lock needs one); a file the process
// may only read still gets a shared lock.
int OpenLockDescriptor(const SString& path) {
    std::string name(path.Chars(), path.Length());
    if (name.empty() || name.find('\0') != std::string::npos) {
        errno = ENOENT;
        return -1;
    }
    int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS))
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    return fd;
}

bool SameTime(int64_t s1, long n1, int64_t s2, long n2) { return s1 == s2 && n1 == n2; }
bool LaterTime(int64_t s1, long n1, int64_t s2, long n2) {
    return s1 > s2 || (s1 == s2 && n1 > n2);
}

void* OpenInfo(SdbType type, BTREEINFO& info) {
    if (type == SdbType::Hash) return nullptr;
    std::memset(&info, 0, sizeof info);
    info.cachesize = 2097152;
    info.psize = 16384;
    return &info;
}

DB* OpenLibrary(const SString& path, int flags, int permissions, SdbType type) {
    std::string name(path.Chars(), path.Length());
    BTREEINFO info;
    void* openInfo = OpenInfo(type, info);
    return ::dbopen(name.c_str(), flags & ~DbLockFlag, permissions,
                    type == SdbType::Hash ? DB_HASH : DB_BTREE, openInfo);
}

// A new database file appears under its name complete: the library builds it under a
// temporary name and it is linked into place, so no process ever meets an empty or
// half-initialised file there.  Losing the race to another creator is fine.
bool CreateDatabaseFile(const SString& path, int permissions, SdbType type) {
    static unsigned counter = 0;
    SString temporary = path + ".new." + ProcessIdString() + "." + SString(int(counter++));
    RemoveFile(temporary);
    DB* db = OpenLibrary(temporary, O_RDWR | O_CREAT | O_EXCL, permissions, type);
    if (!db) return false;
    bool synced = db->sync(db, 0) == 0;
    bool closed = db->close(db) == 0;
    bool linked = synced && closed && LinkFile(temporary, path);
    RemoveFile(temporary);
    return linked || FileExists(path);
}

SdbStamp StampOf(const struct stat& st) {
    SdbStamp s;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeSec = st.st_mtim.tv_sec;
    s.mtimeNsec = st.st_mtim.tv_nsec;
    return s;
}

// Moves the modification time past `after`.  Setting it explicitly needs ownership;
// a writer that is not the owner waits for the clock to pass and touches the file.
void MoveTimePast(int fd, const SdbStamp& after) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = after.mtimeSec;
    times[1].tv_nsec = after.mtimeNsec + 1;
    if (times[1].tv_nsec >= 1000000000L) {
        times[1].tv_sec += 1;
        times[1].tv_nsec = 0;
    }
    if (::futimens(fd, times) == 0) return;
    for (int attempt = 0; attempt < 200; ++attempt) {
        struct timespec pause = {0, 1000000L};
        ::nanosleep(&pause, nullptr);
        struct stat st;
        if (::futimens(fd, nullptr) != 0 || ::fstat(fd, &st) != 0) return;
        if (LaterTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec, after.mtimeSec, after.mtimeNsec))
            return;
    }
}

int Found(int result) { return result == 0 ? 0 : result == 1 ? 1 : -1; }

bool FromDbt(const DBT& dbt, SString& into) {
    if (dbt.size > static_cast<size_t>(INT_MAX)) return false;
    into = SString(static_cast<const char*>(dbt.data), static_cast<int>(dbt.size));
    return true;
}

DBT ToDbt(const SString& s) {
    DBT dbt;
    dbt.data = const_cast<char*>(s.Chars());
    dbt.size = static_cast<size_t>(s.Length());
    return dbt;
}

}  // namespace

bool SdbStamp::operator==(const SdbStamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size &&
           SameTime(mtimeSec, mtimeNsec, o.mtimeSec, o.mtimeNsec);
}

SdbHandle::~SdbHandle() { Close(); }

// ---- opening and closing -------------------------------------------------------------

bool SdbHandle::Open(const SString& newPath, int newFlags, int newPermissions, SdbType newType) {
    Close();
    path = newPath;
    flags = newFlags;
    permissions = newPermissions;
    type = newType;
    generation = sdbForkGeneration;
    int fd = OpenLockDescriptor(path);
    for (int attempt = 0; fd < 0 && errno == ENOENT && (flags & O_CREAT) && attempt < 3;
         ++attempt) {
        if (!CreateDatabaseFile(path, permissions, type)) return false;
        fd = OpenLockDescriptor(path);
    }
    if (fd < 0 || !_Attach(fd)) return false;
    bool write = (flags & O_ACCMODE) != O_RDONLY;
    // Locked while the header is read, even when the lock is not to be kept.
    if (!_Acquire(write)) {
        _Detach();
        return false;
    }
    if (!_OpenLibrary()) {
        _Release(write);
        _Detach();
        return false;
    }
    longLock = (flags & DbLockFlag) != 0;
    longWrite = write;
    if (!longLock) _Release(write);
    return true;
}

void SdbHandle::Close() {
    if (_ForgetIfInherited()) return;
    if (db) _CloseLibrary();
    if (dirty && lock) _MarkWritten();
    dirty = false;
    while (writeHolds > 0) _Release(true);
    while (readHolds > 0) _Release(false);
    longLock = false;
    _Detach();
}

bool SdbHandle::_OpenLibrary() {
    db = OpenLibrary(path, flags, permissions, type);
    if (!db) return false;
    // The library must have opened the very file we locked.
    struct stat st;
    int fd = db->fd(db);
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_dev != lock->dev || st.st_ino != lock->ino ||
        !_TakeStamp(stamp)) {
        _CloseLibrary();
        return false;
    }
    dbFd = fd;
    fresh = readHolds + writeHolds > 0;
    seenWrites = lock->writes;
    return true;
}

void SdbHandle::_CloseLibrary() {
    db->close(db);
    db = nullptr;
    dbFd = -1;
}

// ---- the process-wide lock table -----------------------------------------------------

bool SdbHandle::_Attach(int lockFd) {
    struct stat st;
    if (::fstat(lockFd, &st) != 0) {
        ::close(lockFd);
        return false;
    }
    for (SdbSharedLock* entry : LockTable()) {
        if (entry->dev == st.st_dev && entry->ino == st.st_ino &&
            entry->generation == sdbForkGeneration && entry->fd >= 0) {
            ::close(lockFd);
            entry->users++;
            lock = entry;
            return true;
        }
    }
    lock = new SdbSharedLock{st.st_dev, st.st_ino, lockFd, 0, 0, F_UNLCK, 1, sdbForkGeneration, 0};
    LockTable().push_back(lock);
    return true;
}

void SdbHandle::_Detach() {
    if (!lock) return;
    if (--lock->users <= 0) DropEntry(lock);
    lock = nullptr;
}

bool SdbHandle::_Acquire(bool write) {
    if (!lock || lock->fd < 0) return false;
    SdbSharedLock& entry = *lock;
    if (write) {
        if (entry.writers == 0 && !SetOfdLock(entry.fd, F_WRLCK, true)) return false;
        entry.writers++;
        entry.held = F_WRLCK;
        writeHolds++;
    } else {
        if (entry.held == F_UNLCK && !SetOfdLock(entry.fd, F_RDLCK, true)) return false;
        entry.readers++;
        if (entry.held == F_UNLCK) entry.held = F_RDLCK;
        readHolds++;
    }
    return true;
}

void SdbHandle::_Release(bool write) {
    if (!lock) return;
    SdbSharedLock& entry = *lock;
    if (write) {
        if (writeHolds == 0) return;
        writeHolds--;
        entry.writers--;
    } else {
        if (readHolds == 0) return;
        readHolds--;
        entry.readers--;
    }
    if (readHolds + writeHolds == 0) fresh = false;
    short wanted = entry.writers > 0 ? F_WRLCK : entry.readers > 0 ? F_RDLCK : F_UNLCK;
    // Going down (exclusive to shared, or to nothing) never waits.
    if (wanted != entry.held && entry.fd >= 0 && SetOfdLock(entry.fd, wanted, false))
        entry.held = wanted;
}

bool SdbHandle::_ForgetIfInherited() {
    if (generation == sdbForkGeneration || (!db && !lock)) {
        generation = sdbForkGeneration;
        return false;
    }
    // The library's handle and the lock entry are the parent's; closing the handle
    // here would flush the parent's cache into the file.  The handle is abandoned.
    db = nullptr;
    dbFd = -1;
    fresh = false;
    if (lock && --lock->users <= 0) DropEntry(lock);
    lock = nullptr;
    readHolds = writeHolds = 0;
    longLock = dirty = false;
    return true;
}

// ---- locks and freshness -------------------------------------------------------------

bool SdbHandle::LockShared() {
    if (!_Ready()) return false;
    if (!_Acquire(false)) return false;
    if (!Refresh()) {
        _Release(false);
        return false;
    }
    return true;
}

bool SdbHandle::LockExclusive() {
    if (!_Ready()) return false;
    if (!_Acquire(true)) return false;
    if (!Refresh()) {
        _Release(true);
        return false;
    }
    return true;
}

bool SdbHandle::Unlock(bool write) {
    int& holds = write ? writeHolds : readHolds;
    int kept = (longLock && write == longWrite) ? 1 : 0;
    if (holds <= kept) return false;
    _Release(write);
    return true;
}

bool SdbHandle::Unlock() { return Unlock(true) || Unlock(false); }

// While this handle has held a lock ever since its last check, no other process can
// have written; a handle of this process that wrote has counted it in the entry.
bool SdbHandle::Refresh() {
    if (_ForgetIfInherited()) return Open(path, flags, permissions, type);
    if (!db) return false;
    bool held = readHolds + writeHolds > 0;
    if (held && fresh && seenWrites == lock->writes) return true;
    SdbStamp now;
    if (!_TakeStamp(now)) return false;
    if (now == stamp) {
        fresh = held;
        seenWrites = lock->writes;
        return true;
    }
    _CloseLibrary();
    bool unlocked = !held;
    if (unlocked && !_Acquire(false)) return false;
    bool reopened = _OpenLibrary();
    if (unlocked) _Release(false);
    return reopened;
}

bool SdbHandle::_TakeStamp(SdbStamp& into) const {
    struct stat st;
    if (!lock || lock->fd < 0 || ::fstat(lock->fd, &st) != 0) return false;
    into = StampOf(st);
    return true;
}

void SdbHandle::_MarkWritten() {
    SdbStamp now;
    if (!_TakeStamp(now)) return;
    if (!LaterTime(now.mtimeSec, now.mtimeNsec, stamp.mtimeSec, stamp.mtimeNsec)) {
        MoveTimePast(lock->fd, stamp);
        _TakeStamp(now);
    }
    stamp = now;
    seenWrites = ++lock->writes;  // our own write: our cache already holds it
}

// ---- records -------------------------------------------------------------------------

int SdbHandle::Get(const SString& key, SString& value) {
    if (!_Ready()) return -1;
    DBT k = ToDbt(key), d;
    std::memset(&d, 0, sizeof d);
    int result = Found(db->get(db, &k, &d, 0));
    if (result == 0 && !FromDbt(d, value)) return -1;
    return result;
}

int SdbHandle::Get(const SString& prefix, const SString& name, SString& value) {
    const char* data = nullptr;
    int size = 0;
    int result = GetView(prefix, name, data, size);
    if (result == 0) value = SString(data, size);
    return result;
}

int SdbHandle::GetView(const SString& prefix, const SString& name, const char*& data,
                       int& size) {
    if (!_Ready()) return -1;
    char small[256];
    std::string large;
    size_t n = static_cast<size_t>(prefix.Length()) + static_cast<size_t>(name.Length());
    char* key = small;
    if (n > sizeof small) {
        large.resize(n);
        key = &large[0];
    }
    std::memcpy(key, prefix.Chars(), prefix.Length());
    std::memcpy(key + prefix.Length(), name.Chars(), name.Length());
    DBT k, d;
    k.data = key;
    k.size = n;
    std::memset(&d, 0, sizeof d);
    int result = Found(db->get(db, &k, &d, 0));
    if (result != 0) return result;
    if (d.size > static_cast<size_t>(INT_MAX)) return -1;
    data = static_cast<const char*>(d.data);
    size = static_cast<int>(d.size);
    return 0;
}

int SdbHandle::Put(const SString& key, const SString& value) {
    if (!_Ready()) return -1;
    DBT k = ToDbt(key), d = ToDbt(value);
    dirty = true;
    return db->put(db, &k, &d, 0) == 0 ? 0 : -1;
}

int SdbHandle::Del(const SString& key) {
    if (!_Ready()) return -1;
    DBT k = ToDbt(key);
    int result = db->del(db, &k, 0);
    if (result == 0) dirty = true;
    return result == 0 ? 0 : -1;
}

int SdbHandle::Seq(SString& key, SString& value, bool first) {
    if (!_Ready()) return -1;
    SString wanted = key;  // the library may point the key at its own buffer
    DBT k = ToDbt(wanted), d;
    std::memset(&d, 0, sizeof d);
    int result = Found(db->seq(db, &k, &d, first ? R_CURSOR : R_NEXT));
    if (result != 0) return result;
    SString foundKey;
    if (!FromDbt(k, foundKey) || !FromDbt(d, value)) return -1;
    key = foundKey;
    return 0;
}

int SdbHandle::Sync() {
    if (!_Ready()) return -1;
    int result = db->sync(db, 0);
    if (result == 0 && dirty) {
        _MarkWritten();
        dirty = false;
    }
    return result == 0 ? 0 : -1;
}

int SdbHandle::Fd() { return _Ready() ? dbFd : -1; }
