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
//    handle opened before the fork reopens itself when first used in the child.  It
//    drops its copy of each counter's descriptor too, which shares the parent's lock.
//
// Freshness: every handle caches pages privately, so a handle kept open across
// another handle's write would read stale pages (or a mix of old and new ones).
//  - Each file has a change counter in shared memory (SSharedCounter in /dev/shm, named
//    after the file's device and inode), mapped once per process in its lock entry.  A
//    writer bumps it under the exclusive lock before its first change, so that even a
//    writer that dies half-way has announced it, and again after its sync or close, for
//    handles of its own process that looked in between.  A handle keeps the count at
//    which its cache matched the file: on each new lock an equal count means current,
//    with no system call; any other count means reopen.
//  - Without a counter (no /dev/shm, a process that may only read the file and finds
//    none yet, an object that cannot be trusted) a handle compares the file's identity,
//    size and modification time instead, and writers move the time past the one they
//    started from even when the clock has not ticked.
//  - Counting writers leave the time alone, which stays safe for every reader.  A
//    reader without a counter looks for one again under each lock and reopens when one
//    has appeared; it trusts the time only while none exists, and the last process to
//    let go of a counter that saw changes first moves the time past the one the counter
//    was made at (read under a lock, so no earlier than any time such a reader relied
//    on).  A reader that finds a trusted counter it cannot map reopens on every lock,
//    and a writer in that position refuses to change the file (EACCES).
//  - So every process that shares a file must share one /dev/shm: containers sharing a
//    database directory must share it too, no file may be shared between hosts over a
//    network file system, the objects must not be removed by hand while in use, and a
//    file's owner, group or mode must not change while it is in use (newcomers would
//    no longer trust the counter the others follow).
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

#include "SSharedCounter.h"
#include "Sfiledir.h"
#include "Sprocess.h"

// Whether a file's change counter is in use (see above).  Absent and Refused look for
// it again under every lock; Off means this system has no place for one.
enum class SdbCounting { Absent, On, Refused, Off };

// One locked open file description per file per process, and the file's counter.
struct SdbSharedLock {
    dev_t dev = 0;
    ino_t ino = 0;
    int fd = -1;
    bool canWrite = false;  // fd is open for writing: the process may make the counter
    int readers = 0;
    int writers = 0;
    short held = F_UNLCK;  // F_UNLCK, F_RDLCK or F_WRLCK: what the kernel holds for us
    int users = 0;         // handles attached
    unsigned generation = 0;
    unsigned long writes = 0;  // writes made visible by this process's handles
    SdbCounting counting = SdbCounting::Absent;
    SSharedCounter counter;
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
        entry->counter.Abandon();
        entry->counting = SdbCounting::Off;
    }
}

std::vector<SdbSharedLock*>& LockTable() {
    if (!lockTable) {
        lockTable = new std::vector<SdbSharedLock*>();
        ::pthread_atfork(nullptr, nullptr, ForgetLocksAfterFork);
    }
    return *lockTable;
}

void EndCounterLife(SdbSharedLock& entry);

void DropEntry(SdbSharedLock* entry) {
    std::vector<SdbSharedLock*>& table = LockTable();
    table.erase(std::remove(table.begin(), table.end(), entry), table.end());
    EndCounterLife(*entry);
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
bool MoveTimePast(int fd, const SdbStamp& after) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = after.mtimeSec;
    times[1].tv_nsec = after.mtimeNsec + 1;
    if (times[1].tv_nsec >= 1000000000L) {
        times[1].tv_sec += 1;
        times[1].tv_nsec = 0;
    }
    if (::futimens(fd, times) == 0) return true;
    for (int attempt = 0; attempt < 200; ++attempt) {
        struct timespec pause = {0, 1000000L};
        if (attempt > 0) ::nanosleep(&pause, nullptr);
        struct stat st;
        if (::futimens(fd, nullptr) != 0 || ::fstat(fd, &st) != 0) return false;
        if (LaterTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec, after.mtimeSec, after.mtimeNsec))
            return true;
    }
    return false;
}

// ---- the file's change counter -------------------------------------------------------

SString CounterName(const struct stat& st) {
    return SString(("quillbox-db-" + std::to_string(static_cast<unsigned long long>(st.st_dev)) +
                    "-" + std::to_string(static_cast<unsigned long long>(st.st_ino))).c_str());
}

// Under a lock of this process: maps the counter if there is one to map now (or makes
// it, noting the file's time).  The time is read under the lock, so no reader without
// the counter can have relied on a later one.
void UpdateCounter(SdbSharedLock& entry) {
    if (entry.counting == SdbCounting::On || entry.counting == SdbCounting::Off) return;
    struct stat st;
    if (entry.fd < 0 || ::fstat(entry.fd, &st) != 0) return;
    SSharedCounterSpec spec;
    spec.name = CounterName(st);
    spec.uid = st.st_uid;
    spec.gid = st.st_gid;
    spec.mode = st.st_mode & 07777;
    spec.create = entry.canWrite;
    spec.note[0] = st.st_mtim.tv_sec;
    spec.note[1] = st.st_mtim.tv_nsec;
    switch (entry.counter.Map(spec)) {
        case SSharedCounter::Mapped: entry.counting = SdbCounting::On; break;
        case SSharedCounter::Missing: entry.counting = SdbCounting::Absent; break;
        case SSharedCounter::Refused: entry.counting = SdbCounting::Refused; break;
        case SSharedCounter::NoDirectory: entry.counting = SdbCounting::Off; break;
    }
}

// The last process to let go of a counter removes it.  Handles without one trust the
// modification time, which counting writers left alone, so after changes the time is
// first moved past both its present value and the one the counter was made at.  A
// process that may not move it leaves the counter for a later one to remove.
void EndCounterLife(SdbSharedLock& entry) {
    SSharedCounter& counter = entry.counter;
    bool remove = false;
    struct stat st;
    if (counter.IsMapped() && entry.fd >= 0 && counter.TakeLast()) {
        remove = counter.Load() == 0;
        if (!remove && ::fstat(entry.fd, &st) == 0) {
            SdbStamp after = StampOf(st);
            if (LaterTime(counter.Note(0), counter.Note(1), after.mtimeSec, after.mtimeNsec)) {
                after.mtimeSec = counter.Note(0);
                after.mtimeNsec = static_cast<long>(counter.Note(1));
            }
            remove = MoveTimePast(entry.fd, after);
        }
    }
    counter.Unmap(remove);
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
    UpdateCounter(*lock);
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
    ++opens;
    fresh = readHolds + writeHolds > 0;
    seenWrites = lock->writes;
    countSeen = lock->counting == SdbCounting::On;
    seenCount = lock->counter.Load();
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
    lock = new SdbSharedLock;
    lock->dev = st.st_dev;
    lock->ino = st.st_ino;
    lock->fd = lockFd;
    lock->canWrite = (::fcntl(lockFd, F_GETFL) & O_ACCMODE) == O_RDWR;
    lock->users = 1;
    lock->generation = sdbForkGeneration;
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
        if (--writeHolds == 0) announced = false;  // the next hold announces again
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
    fresh = countSeen = announced = stampedWrite = false;
    if (lock && --lock->users <= 0) DropEntry(lock);
    lock = nullptr;
    readHolds = writeHolds = 0;
    longLock = dirty = false;
    return true;
}

// ---- locks and freshness -------------------------------------------------------------

bool SdbHandle::LockShared() { return _LockFresh(false); }

bool SdbHandle::LockExclusive() { return _LockFresh(true); }

// Takes the lock and makes sure the cache is current; a failed refresh gives it back.
bool SdbHandle::_LockFresh(bool write) {
    if (!_Ready() || !_Acquire(write)) return false;
    if (!Refresh()) {
        _Release(write);
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

// The common case is one read of the counter.  Anything else is decided under a lock,
// taken for the purpose when the caller holds none.
bool SdbHandle::Refresh() {
    if (_ForgetIfInherited()) return Open(path, flags, permissions, type);
    if (!db) return false;
    if (countSeen && lock->counter.Load() == seenCount) return true;
    bool held = readHolds + writeHolds > 0;
    if (!held && !_Acquire(false)) return false;
    bool current = _Revalidate();
    if (!held) _Release(false);
    return current;
}

// Under a lock.  While this handle has held a lock ever since its last check, no other
// process can have written; a handle of this process that wrote has counted it in the
// entry.  Otherwise: the counter if there is one now, else the file's stamp, which is
// only trusted while no counter exists; a counter that cannot be read trusts nothing.
bool SdbHandle::_Revalidate() {
    if (lock->counting != SdbCounting::On && fresh && seenWrites == lock->writes) return true;
    _JoinCounter();
    bool current = false;
    if (lock->counting == SdbCounting::On) {
        current = countSeen && lock->counter.Load() == seenCount;
    } else if (lock->counting != SdbCounting::Refused) {
        SdbStamp now;
        if (!_TakeStamp(now)) return false;
        current = now == stamp;
    }
    if (current) {
        fresh = true;
        seenWrites = lock->writes;
        return true;
    }
    _CloseLibrary();
    return _OpenLibrary();
}

// Under a lock: maps the file's counter if one can be had now.  A handle whose cache is
// known to match the file takes the present count as its own; the others reopen.
void SdbHandle::_JoinCounter() {
    if (lock->counting == SdbCounting::On) return;
    UpdateCounter(*lock);
    if (lock->counting == SdbCounting::On && fresh && seenWrites == lock->writes) {
        seenCount = lock->counter.Load();
        countSeen = true;
    }
}

// Before the first change under an exclusive hold: count it, so that no other handle
// trusts its cache past this point even if this process dies mid-write.
bool SdbHandle::_Announce() {
    if (announced) return true;
    if (writeHolds > 0) _JoinCounter();  // never made outside a lock
    bool counting = lock->counting == SdbCounting::On;
    if (lock->counting == SdbCounting::Refused || (counting && !lock->counter.IsWritable())) {
        errno = EACCES;
        return false;
    }
    if (counting) _Count();
    else stampedWrite = true;
    announced = true;
    return true;
}

void SdbHandle::_Count() {
    uint64_t before = lock->counter.Bump();
    if (countSeen && before == seenCount) seenCount = before + 1;
    else countSeen = false;
}

bool SdbHandle::_TakeStamp(SdbStamp& into) const {
    struct stat st;
    if (!lock || lock->fd < 0 || ::fstat(lock->fd, &st) != 0) return false;
    into = StampOf(st);
    return true;
}

// After a sync or close of changes: counted again for this process's other handles,
// or, for changes made without a counter, the modification time moved on.
void SdbHandle::_MarkWritten() {
    bool counting = lock->counting == SdbCounting::On;
    if (counting && lock->counter.IsWritable()) _Count();
    SdbStamp now;
    if ((stampedWrite || !counting) && _TakeStamp(now)) {
        if (!LaterTime(now.mtimeSec, now.mtimeNsec, stamp.mtimeSec, stamp.mtimeNsec)) {
            MoveTimePast(lock->fd, stamp);
            _TakeStamp(now);
        }
        stamp = now;
    }
    announced = stampedWrite = false;
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
    if (!_Ready() || !_Announce()) return -1;
    DBT k = ToDbt(key), d = ToDbt(value);
    dirty = true;
    return db->put(db, &k, &d, 0) == 0 ? 0 : -1;
}

int SdbHandle::Del(const SString& key) {
    if (!_Ready() || !_Announce()) return -1;
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
