// SdbHandle: one Berkeley DB file opened through the 1.85 interface, plus the
// whole-file lock and cache freshness that the stock library does not provide.
//
// Private to the directory layer: Sdbfile and SBTree each own one.  The lock lives in
// a process-wide table of open-file-description (OFD) locks, one per file, counted per
// holder; see SdbHandle.cc for why.  Keys and values cross this class as SString bytes
// and are copied out of the library's buffers at once.
#ifndef QUILLBOX_SDBHANDLE_H
#define QUILLBOX_SDBHANDLE_H

#include <sys/types.h>

#include <cstdint>

#include "SString.h"

struct __db;  // the library's handle (DB in its 1.85 header), kept out of our headers
struct SdbSharedLock;

// Counts the forks this process has gone through (see SdbHandle.cc).
extern unsigned sdbForkGeneration;

// The whole-file lock flag of the open flags: with it the file is locked as a whole
// before the library reads its header, and stays locked until Close.
constexpr int DbLockFlag = 1 << 29;

enum class SdbType { Hash, BTree };

// What a file looked like when a handle last knew its cache to match it.
struct SdbStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    int64_t mtimeSec = 0;
    long mtimeNsec = 0;
    bool operator==(const SdbStamp& o) const;
    bool operator!=(const SdbStamp& o) const { return !(*this == o); }
};

class SdbHandle {
public:
    SdbHandle() = default;
    ~SdbHandle();
    SdbHandle(const SdbHandle&) = delete;
    SdbHandle& operator=(const SdbHandle&) = delete;

    // flags: 0 (read-only) or O_RDWR|O_CREAT, optionally with DbLockFlag.  A missing
    // file is created (atomically, under a temporary name) only with O_CREAT.
    bool Open(const SString& path, int flags, int permissions, SdbType type);
    // Flushes and closes the library's handle and drops every lock this handle holds.
    void Close();
    bool IsOpen() const { return db != nullptr; }

    // Per-operation locks on the whole file, waiting.  They nest with the whole-file
    // lock of the open and with every other handle of this process on the same file.
    // A granted lock also brings the cache up to date (Refresh).
    bool LockShared();
    bool LockExclusive();
    // Drops the most recent per-operation lock of this handle (write before read).
    bool Unlock();
    bool Unlock(bool write);
    int ReadHolds() const { return readHolds; }
    // Counts the opens of the library's handle: unchanged while the cache was kept.
    unsigned long Opens() const { return opens; }

    // If another handle (in any process) changed the file since this handle last saw
    // it, or the process forked since the open, the library's handle is reopened so
    // that no stale cached page is read.  False when the reopen fails.  Usually one
    // read of the file's shared change counter, with no system call.
    bool Refresh();

    // Record operations.  Get/Seq: 0 found, 1 missing, -1 error.  Put/Del: 0 success;
    // they fail (EACCES) when the file has a change counter this process cannot bump.
    int Get(const SString& key, SString& value);
    // The record whose key is prefix + name, without building the key as a string.
    int Get(const SString& prefix, const SString& name, SString& value);
    // The same without a copy: the bytes stay valid until the next call of this handle.
    int GetView(const SString& prefix, const SString& name, const char*& data, int& size);
    int Put(const SString& key, const SString& value);
    int Del(const SString& key);
    // first: position at the smallest key not less than `key`; else the next record.
    int Seq(SString& key, SString& value, bool first);
    // The library's sync; after writes it also makes the change visible to other
    // handles' freshness checks.  0 on success.
    int Sync();
    // The library's descriptor of the file, -1 when none.
    int Fd();

private:
    bool _OpenLibrary();
    void _CloseLibrary();
    bool _Attach(int lockFd);
    void _Detach();
    bool _LockFresh(bool write);
    bool _Acquire(bool write);
    void _Release(bool write);
    bool _Revalidate();
    void _JoinCounter();
    bool _Announce();
    void _Count();
    bool _TakeStamp(SdbStamp& into) const;
    void _MarkWritten();
    bool _ForgetIfInherited();
    bool _Ready() {
        if (generation != sdbForkGeneration && _ForgetIfInherited())
            return Open(path, flags, permissions, type);
        return db != nullptr;
    }

    __db* db = nullptr;
    SdbSharedLock* lock = nullptr;
    SString path;
    int flags = 0;
    int permissions = 0;
    SdbType type = SdbType::Hash;
    int readHolds = 0;
    int writeHolds = 0;
    bool longLock = false;    // the open's whole-file lock is among the holds
    bool longWrite = false;
    bool dirty = false;       // written since the last sync
    bool fresh = false;       // checked while holding a lock held ever since
    unsigned long seenWrites = 0;  // the process's write count at that check
    uint64_t seenCount = 0;   // the file's shared change count when the cache matched it
    bool countSeen = false;   // seenCount belongs to the file's current counter
    bool announced = false;   // counted (or stamped) before this hold's first change
    bool stampedWrite = false;  // changed while the file had no counter: move the time
    int dbFd = -1;
    unsigned long opens = 0;
    unsigned generation = 0;  // fork generation of the open
    SdbStamp stamp;
};

#endif
