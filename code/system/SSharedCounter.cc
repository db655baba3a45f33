// SSharedCounter: a counter in a tiny shared file, its life bounded by its users.
//
// Presence is a shared open-file-description lock on the object, held from Map to
// Unmap, so the kernel keeps the count of users even for processes that die.  A process
// that gets the exclusive lock knows it is alone and may remove the name.  A mapper
// checks, once it holds its shared lock, that the name still leads to the object it
// opened: otherwise it found one just being removed, and it looks again.  No object is
// ever resized after it is linked into place, so a mapping never faults (SIGBUS).
#include "SSharedCounter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Sfiledir.h"
#include "SystemPath.h"

namespace {

constexpr int Size = 64;  // the count, two notes, room to spare
constexpr int Again = -1;   // lost a race with a creator or a remover: look again
constexpr int Absent = -2;  // nothing under the name

// Made by someone who may write the file the counter is for, with its group and bits:
// anyone else could only have put a look-alike there.
bool Trusted(const struct stat& st, const SSharedCounterSpec& spec) {
    return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_size >= Size &&
           st.st_gid == spec.gid && (st.st_mode & 07777) == (spec.mode & 0666) &&
           (st.st_uid == spec.uid || (spec.mode & 020));
}

// Whether this process can make an object that others will trust.
bool MayCreate(const SSharedCounterSpec& spec) {
    uid_t self = ::geteuid();
    return spec.create && (self == 0 || self == spec.uid || (spec.mode & 020));
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void Close(int fd) {
    int saved = errno;
    ::close(fd);
    errno = saved;
}

uint64_t* MapWords(int fd, bool canWrite) {
    void* p = ::mmap(nullptr, Size, PROT_READ | (canWrite ? PROT_WRITE : 0), MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<uint64_t*>(p);
}

}  // namespace

SSharedCounter::Result SSharedCounter::Map(const SSharedCounterSpec& spec) {
    Unmap(false);
    std::string name(SystemPath(spec.name).c_str());
    if (name.empty() || name.find('/') != std::string::npos) {
        errno = EINVAL;
        return Refused;
    }
    std::string dir(SystemPath(spec.dir).c_str());
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? NoDirectory : Refused;
    if (!S_ISDIR(st.st_mode)) return NoDirectory;
    path = dir + "/" + name;
    for (int attempt = 0; attempt < 16; ++attempt) {
        int result = _OpenExisting(spec);
        if (result == Absent) result = MayCreate(spec) ? _Create(spec) : Missing;
        if (result != Again) return static_cast<Result>(result);
    }
    errno = EAGAIN;
    return Refused;
}

// An object that is there but cannot be opened may well be in use by others.
int SSharedCounter::_OpenExisting(const SSharedCounterSpec& spec) {
    int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int openFd = ::open(path.c_str(), O_RDWR | flags);
    bool canWrite = openFd >= 0;
    if (openFd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        openFd = ::open(path.c_str(), O_RDONLY | flags);
    if (openFd < 0) return errno == ENOENT ? Absent : Refused;
    struct stat st;
    if (::fstat(openFd, &st) != 0) {
        Close(openFd);
        return Refused;
    }
    if (!Trusted(st, spec)) {
        Close(openFd);
        return Missing;
    }
    return _Attach(openFd, canWrite);
}

int SSharedCounter::_Attach(int openFd, bool canWrite) {
    if (LockFile_ofd(openFd, LockWait | LockShared) < 0) {
        Close(openFd);
        return Refused;
    }
    fd = openFd;
    if (!_StillNamed()) {
        Unmap(false);
        return Again;
    }
    words = MapWords(fd, canWrite);
    if (!words) {
        Unmap(false);
        return Refused;
    }
    writable = canWrite;
    return Mapped;
}

bool SSharedCounter::_StillNamed() const {
    struct stat mine, named;
    return ::fstat(fd, &mine) == 0 && ::stat(path.c_str(), &named) == 0 && SameFile(mine, named);
}

// Built complete under a private name, locked, then linked: whoever finds it under its
// real name finds its notes and its bits in place.
int SSharedCounter::_Create(const SSharedCounterSpec& spec) {
    static unsigned serial = 0;
    std::string temporary = path + ".new-" + std::to_string(::getpid()) + "-" +
                            std::to_string(serial++);
    int newFd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (newFd < 0) return errno == EEXIST ? Again : Missing;
    uint64_t initial[Size / 8] = {};
    std::memcpy(&initial[1], spec.note, sizeof spec.note);
    uid_t owner = ::geteuid() == 0 ? spec.uid : static_cast<uid_t>(-1);
    bool ready = ::fchown(newFd, owner, spec.gid) == 0 &&
                 ::pwrite(newFd, initial, Size, 0) == Size &&
                 ::fchmod(newFd, spec.mode & 0666) == 0 &&
                 LockFile_ofd(newFd, LockWait | LockShared) >= 0;
    uint64_t* mapped = ready ? MapWords(newFd, true) : nullptr;
    bool linked = mapped && ::link(temporary.c_str(), path.c_str()) == 0;
    int linkError = errno;
    ::unlink(temporary.c_str());
    if (!linked) {
        if (mapped) ::munmap(mapped, Size);
        Close(newFd);
        return mapped && linkError == EEXIST ? Again : Missing;
    }
    fd = newFd;
    words = mapped;
    writable = true;
    return Mapped;
}

uint64_t SSharedCounter::Load() const { return words ? __atomic_load_n(words, __ATOMIC_ACQUIRE) : 0; }

uint64_t SSharedCounter::Bump() {
    if (!words || !writable) return Load();
    return __atomic_fetch_add(words, 1, __ATOMIC_ACQ_REL);
}

int64_t SSharedCounter::Note(int i) const {
    if (!words || i < 0 || i > 1) return 0;
    return static_cast<int64_t>(__atomic_load_n(&words[1 + i], __ATOMIC_RELAXED));
}

bool SSharedCounter::TakeLast() {
    if (!last && words && fd >= 0) last = LockFile_ofd(fd, 0) >= 0;
    return last;
}

void SSharedCounter::Unmap(bool remove) {
    if (words) ::munmap(words, Size);
    words = nullptr;
    if (fd >= 0) {
        // Only under our exclusive lock, and only the object we hold.
        if (remove && last && _StillNamed()) ::unlink(path.c_str());
        Close(fd);
    }
    fd = -1;
    writable = last = false;
}

// Closing our copy of the descriptor leaves the lock with the parent's copy.
void SSharedCounter::Abandon() {
    if (words) ::munmap(words, Size);
    if (fd >= 0) Close(fd);
    words = nullptr;
    fd = -1;
    writable = last = false;
}
