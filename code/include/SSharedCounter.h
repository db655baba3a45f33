// SSharedCounter: a 64-bit counter that every process mapping the same name sees at
// once, kept in a tiny file of a memory file system ("/dev/shm" by default) mapped shared.
//
// The directory store counts the changes of a database file in one, so that a handle
// can tell with one memory read whether its page cache is still current.  An object
// lives while some process has it mapped: each mapping holds a shared lock on it, and
// the last one to unmap (the only one that gets the exclusive lock) removes it.  A new
// object appears under its name complete (built under a temporary name, then linked),
// with the owner, group and permission bits of the file it counts for; an existing one
// that does not match them is not trusted (any local user can create names there).
#ifndef QUILLBOX_SSHAREDCOUNTER_H
#define QUILLBOX_SSHAREDCOUNTER_H

#include <cstdint>
#include <string>

#include "SString.h"

// What a counter is for and who may use it.
struct SSharedCounterSpec {
    SString dir = "/dev/shm";  // the memory file system's directory
    SString name;              // a file name in it, without a slash
    // The file the counter belongs to: a new object gets its group and permission bits
    // (less execute bits), and its owner when the process may give it one.
    unsigned uid = 0, gid = 0, mode = 0;
    bool create = false;  // make a missing object (the process may write that file)
    int64_t note[2] = {0, 0};  // kept with a new object, readable by every user
};

class SSharedCounter {
public:
    enum Result {
        Mapped,       // mapped; writable when the process may write the object
        Missing,      // no trusted object (and none made): nobody counts now
        Refused,      // a trusted object may exist, but this process cannot map it
        NoDirectory,  // the directory does not exist: nobody here can count
    };

    SSharedCounter() = default;
    ~SSharedCounter() { Unmap(false); }
    SSharedCounter(const SSharedCounter&) = delete;
    SSharedCounter& operator=(const SSharedCounter&) = delete;

    // Maps the object named by `spec`, creating it when allowed.  Waits only while the
    // last user of an old object removes it.
    Result Map(const SSharedCounterSpec& spec);
    bool IsMapped() const { return words != nullptr; }
    bool IsWritable() const { return writable; }

    // The count (0 for an unmapped counter).
    uint64_t Load() const;
    // Adds one and returns the count before; only on a writable mapping.
    uint64_t Bump();
    // The notes the object's creator left.
    int64_t Note(int i) const;

    // True when no other process has the object mapped; it then stays so until Unmap.
    bool TakeLast();
    // Unmaps; with `remove` (after TakeLast) the object's name is removed as well.
    void Unmap(bool remove);
    // In a forked child: drops the inherited mapping without touching the parent's
    // share of the object.  (A child's copy of the descriptor shares the parent's lock,
    // so until it is dropped the parent can never be the last user.)
    void Abandon();

private:
    int _OpenExisting(const SSharedCounterSpec& spec);
    int _Create(const SSharedCounterSpec& spec);
    int _Attach(int openFd, bool canWrite);
    bool _StillNamed() const;

    int fd = -1;
    uint64_t* words = nullptr;
    bool writable = false;
    bool last = false;
    std::string path;
};

#endif
