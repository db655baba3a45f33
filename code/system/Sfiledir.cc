// Sfiledir: files, directories and record locks for the whole mail core.
//
// Thin wrappers over POSIX calls that take SString paths and report failure as false,
// -1 or an undefined result, leaving errno for the caller.  Whole files are read with
// one read() and written with one write() and a data sync; MapFileWrite and CopyFile
// remove what they could not complete.  The only output is RemoveFileLogged's line on std::clog.
#include "Sfiledir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <new>
#include <string>

#include "Sdatetime.h"
#include "Sprocess.h"
#include "SystemPath.h"

namespace {

bool StatPath(const SString& path, struct stat& st) {
    return ::stat(SystemPath(path).c_str(), &st) == 0;
}

// IsDirectory that leaves ENOTDIR (or stat's own error) behind when it fails.
bool RequireDirectory(const SString& path) {
    struct stat st;
    if (!StatPath(path, st)) return false;
    if (S_ISDIR(st.st_mode)) return true;
    errno = ENOTDIR;
    return false;
}

bool Access(const SString& path, int mode) {
    return ::access(SystemPath(path).c_str(), mode) == 0;
}

// Closes fd without disturbing the errno of the failure being reported.
void CloseKeepingErrno(int fd) {
    int saved = errno;
    ::close(fd);
    errno = saved;
}

void UnlinkKeepingErrno(const char* path) {
    int saved = errno;
    ::unlink(path);
    errno = saved;
}

// The system's text for an error number.  The queue layer's error reports have their
// own GetErrorString; this layer sits beneath it and so keeps its own.
const char* ErrorText(int err) { return std::strerror(err); }

// Index of the last '/' in the string, or -1.
int LastSlash(const SString& s) {
    for (int i = s.Length() - 1; i >= 0; --i)
        if (s.Chars()[i] == '/') return i;
    return -1;
}

// Every run of two or more slashes becomes one.
std::string CollapseSlashes(const char* p, int n) {
    std::string out;
    out.reserve(n);
    for (int i = 0; i < n; ++i)
        if (p[i] != '/' || out.empty() || out.back() != '/') out.push_back(p[i]);
    return out;
}

// Reads the next entry, trying again when a signal interrupted the read.
struct dirent* NextEntry(DIR* dir) {
    for (;;) {
        errno = 0;
        struct dirent* entry = ::readdir(dir);
        if (entry || errno != EINTR) return entry;
    }
}

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Writes all n bytes, retrying short writes and interruptions.
bool WriteAll(int fd, const char* p, long n) {
    while (n > 0) {
        ssize_t done = ::write(fd, p, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        p += done;
        n -= done;
    }
    return true;
}

// Copies from `in` to `out` in 20480-byte reads; the number of bytes copied, or -1.
long CopyContent(int in, int out) {
    char buf[20480];
    long total = 0;
    for (;;) {
        ssize_t got = ::read(in, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) return total;
        if (!WriteAll(out, buf, got)) return -1;
        total += got;
    }
}

// Opens a file for reading and returns its descriptor and status; -1 when it cannot
// be opened or is not a regular file whose size fits a string.
int OpenRegularForRead(const SString& path, struct stat& st) {
    SystemPath p(path);
    if (p.empty()) {
        errno = ENOENT;
        return -1;
    }
    // Non-blocking, so that a FIFO left under a spool name cannot hang the open; it is
    // then refused as not regular.  Reads of a regular file are unaffected.
    int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0) {
        CloseKeepingErrno(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode) || st.st_size >= INT32_MAX) {
        ::close(fd);
        errno = S_ISDIR(st.st_mode) ? EISDIR : S_ISREG(st.st_mode) ? EFBIG : EINVAL;
        return -1;
    }
    return fd;
}

// Reads the `size` bytes fstat reported into a new string: one read() into a buffer of
// exactly that size, repeated only if the system returns less.  Setting up and tearing
// down a mapping costs several times more than this for files of any size we handle
// (see bench/mapfile_bench.cc), so whole-file reads do not map.  A file that shrank
// meanwhile gives what it still holds; a read error gives an undefined string.
SString ReadWhole(int fd, int size) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
    if (!buffer) {
        errno = ENOMEM;
        return SString();
    }
    int got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, buffer.get() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return SString();
        if (n == 0) break;
        got += static_cast<int>(n);
    }
    return SString(buffer.get(), got);
}

// Sets the file to exactly `n` bytes from `p` and syncs its data to disk.  One write()
// plus fdatasync gives the same durability as filling a shared mapping and msync'ing
// it, at a fraction of the cost for the small files of the spool (setting up and
// tearing down a mapping dominates there); a full disk fails the write cleanly.
bool FillFile(int fd, const char* p, int n) {
    if (::ftruncate(fd, n) != 0) return false;
    for (int done = 0; done < n;) {
        ssize_t wrote = ::write(fd, p + done, n - done);
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<int>(wrote);
    }
    return n == 0 || ::fdatasync(fd) == 0;
}

struct flock LockRange(short type, int start, int length) {
    struct flock range;
    std::memset(&range, 0, sizeof range);
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = start;
    range.l_len = length;
    return range;
}

}  // namespace

// ---- predicates ---------------------------------------------------------------------

bool FileExists(const SString& path) { return Access(path, F_OK); }
bool IsReadable(const SString& path) { return Access(path, R_OK); }
bool IsWriteable(const SString& path) { return Access(path, W_OK); }
bool IsExecutable(const SString& path) { return Access(path, X_OK); }

bool IsRegular(const SString& path) {
    struct stat st;
    return StatPath(path, st) && S_ISREG(st.st_mode);
}

bool IsDirectory(const SString& path) {
    struct stat st;
    return StatPath(path, st) && S_ISDIR(st.st_mode);
}

// ---- paths and directories ------------------------------------------------------------

SString RealPath(const SString& path) {
    char* resolved = ::realpath(SystemPath(path).c_str(), nullptr);
    if (!resolved) return path;
    SString result(resolved);
    std::free(resolved);
    return result;
}

bool CreateDirectory(const SString& path, unsigned long mode) {
    return ::mkdir(SystemPath(path).c_str(), static_cast<mode_t>(mode)) == 0;
}

// Walks the components from the root (absolute path) or from "." and creates each
// one that is missing.  Losing a race to another process creating the same directory
// is not a failure.
bool MakeDir(const SString& path, unsigned long mode) {
    if (path.Length() == 0) return false;
    if (IsDirectory(path)) return true;
    std::string whole(path.Chars(), path.Length());
    if (whole.back() == '/') whole.pop_back();  // a trailing empty component
    size_t pos = 0;
    std::string built;
    if (!whole.empty() && whole[0] == '/') pos = 1;  // absolute: build from the root
    else built = ".";
    for (;;) {
        size_t slash = whole.find('/', pos);
        std::string component = whole.substr(pos, slash == std::string::npos ? slash : slash - pos);
        built += '/';
        built += component;
        SString step(built.data(), static_cast<int>(built.size()));
        if (!FileExists(step) && !CreateDirectory(step, mode) && !IsDirectory(step))
            return false;
        if (slash == std::string::npos) break;
        pos = slash + 1;
    }
    return IsDirectory(path);
}

bool RemoveDir(const SString& path) {
    SString dir = path;
    if (dir.Length() > 0 && dir.Chars()[dir.Length() - 1] == '/')
        dir = SString(path.Chars(), path.Length() - 1);
    return RequireDirectory(dir) && ::rmdir(SystemPath(dir).c_str()) == 0;
}

bool Chdir(const SString& path) {
    return RequireDirectory(path) && ::chdir(SystemPath(path).c_str()) == 0;
}

SStringList ReadDir(const SString& dir) {
    SStringList entries;
    if (dir.Length() == 0) return entries;
    DIR* handle = ::opendir(SystemPath(dir).c_str());
    if (!handle) return entries;
    entries.Reset();  // defined, even when the directory holds nothing
    std::string prefix = CollapseSlashes(dir.Chars(), dir.Length());
    if (prefix.back() != '/') prefix += '/';
    while (struct dirent* entry = NextEntry(handle)) {
        if (IsDotOrDotDot(entry->d_name)) continue;
        std::string full = prefix + entry->d_name;
        entries.Push(SString(full.data(), static_cast<int>(full.size())));
    }
    ::closedir(handle);
    return entries;
}

SString PathFromFilename(SString path) {
    int slash = LastSlash(path);
    if (slash <= 0) return SString(".");
    return SString(path.Chars(), slash);
}

SString FileFromFilename(SString path) {
    int slash = LastSlash(path);
    if (slash < 0) return path;
    return SString(path.Chars() + slash + 1, path.Length() - slash - 1);
}

// ---- files ---------------------------------------------------------------------------

bool RemoveFile(const SString& path) {
    if (IsDirectory(path)) {
        errno = EISDIR;
        return false;
    }
    return ::unlink(SystemPath(path).c_str()) == 0;
}

bool RemoveFileLogged(const SString& path) {
    if (RemoveFile(path)) return true;
    int err = errno;
    if (!IsRegular(path)) {
        errno = err;
        return false;
    }
    SString line = LogFileDate() + ":" + GetEnv("ModuleName") + ":ERROR:" +
                   "Couldn't remove file " + path + ":" + ErrorText(err) + "\n";
    line.Write(std::clog);
    std::clog.flush();
    errno = err;
    return false;
}

bool CloseFile(int fd) { return ::close(fd) == 0; }

bool Rename(const SString& from, const SString& to) {
    return ::rename(SystemPath(from).c_str(), SystemPath(to).c_str()) == 0;
}

bool LinkFile(const SString& from, const SString& to) {
    if (IsDirectory(from)) {
        errno = EPERM;  // what link itself reports for a directory
        return false;
    }
    return ::link(SystemPath(from).c_str(), SystemPath(to).c_str()) == 0;
}

long FileSize(const SString& path) {
    struct stat st;
    if (!StatPath(path, st) || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long>(st.st_size);
}

double FileAge(const SString& path) {
    struct stat st;
    if (!StatPath(path, st)) return -1.0;
    return static_cast<double>(std::time(nullptr) - st.st_mtime) / 86400.0;
}

double FreeDiskSpace(const SString& path) {
    struct statvfs fs;
    if (::statvfs(SystemPath(path).c_str(), &fs) != 0) return -1.0;
    return static_cast<double>(static_cast<unsigned long>(fs.f_frsize)) *
           static_cast<double>(static_cast<unsigned long>(fs.f_bavail));
}

// The copy is complete only when as many bytes arrived as stat reported; only then does
// it take the original's permissions (set-id bits cleared) and owner.  Giving away the
// owner needs privilege, so a refused chown leaves the copy with the caller's own.
bool CopyFile(const SString& from, const SString& to, unsigned /*flags: no effect*/) {
    struct stat st;
    SystemPath source(from), target(to);
    if (::stat(source.c_str(), &st) != 0) return false;
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
        CloseKeepingErrno(in);
        return false;
    }
    long copied = CopyContent(in, out);
    bool complete = copied == static_cast<long>(st.st_size);
    if (complete) {
        ::fchmod(out, st.st_mode & 07777 & ~(S_ISUID | S_ISGID));
        if (::fchown(out, st.st_uid, st.st_gid) != 0) { /* unprivileged: keep ours */ }
    } else if (copied >= 0) {
        errno = EIO;  // the file changed size while it was copied
    }
    CloseKeepingErrno(in);
    if (::close(out) != 0) complete = false;
    if (!complete) UnlinkKeepingErrno(target.c_str());
    return complete;
}

SString MapFileRead(const SString& path) {
    struct stat st;
    int fd = OpenRegularForRead(path, st);
    if (fd < 0) return SString();
    SString text = st.st_size == 0 ? SString("") : ReadWhole(fd, static_cast<int>(st.st_size));
    CloseKeepingErrno(fd);
    return text;
}

bool MapFileWrite(const SString& path, const SString& text) {
    SystemPath p(path);
    if (p.empty()) return false;
    int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0660);
    if (fd < 0) return false;
    bool done = FillFile(fd, text.Chars(), text.Length());
    if (!done) CloseKeepingErrno(fd);
    else if (::close(fd) != 0) done = false;
    if (!done) UnlinkKeepingErrno(p.c_str());
    return done;
}

// ---- record locks -------------------------------------------------------------------

int LockFile_fcntl(int fd, int mode, int start, int length) {
    struct flock range = LockRange((mode & LockShared) ? F_RDLCK : F_WRLCK, start, length);
    int command = (mode & LockWait) ? F_SETLKW : F_SETLK;
    for (;;) {
        if (::fcntl(fd, command, &range) == 0) return fd;
        // A waiting lock waits indefinitely, through interruptions by signals.
        if (errno != EINTR || command != F_SETLKW) return -1;
    }
}

int LockFile(int fd, int mode, int start, int length) {
    return LockFile_fcntl(fd, mode, start, length);
}

int LockFile(const SString& path, int mode, int start, int length) {
    int fd = ::open(SystemPath(path).c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0) return -1;
    if (LockFile(fd, mode, start, length) < 0) {
        CloseKeepingErrno(fd);
        return -1;
    }
    return fd;
}

bool UnlockFile_fcntl(int fd, int start, int length) {
    struct flock range = LockRange(F_UNLCK, start, length);
    return ::fcntl(fd, F_SETLK, &range) == 0;
}

bool UnlockFile(int fd, int start, int length) { return UnlockFile_fcntl(fd, start, length); }

int LockFile_ofd(int fd, int mode, int start, int length) {
    struct flock range = LockRange((mode & LockShared) ? F_RDLCK : F_WRLCK, start, length);
    int command = (mode & LockWait) ? F_OFD_SETLKW : F_OFD_SETLK;
    for (;;) {
        if (::fcntl(fd, command, &range) == 0) return fd;
        if (errno != EINTR || command != F_OFD_SETLKW) return -1;
    }
}

bool UnlockFile_ofd(int fd, int start, int length) {
    struct flock range = LockRange(F_UNLCK, start, length);
    return ::fcntl(fd, F_OFD_SETLK, &range) == 0;
}

bool db_lock_fd(int fd, int write) {
    int mode = write ? LockWait : (LockWait | LockShared);
    return LockFile(fd, mode, 0, 0) >= 0;
}
