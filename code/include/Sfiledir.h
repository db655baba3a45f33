// Sfiledir: files, directories and record locks, expressed in SString and SStringList.
//
// This is the seam between the mail core and the operating system: modules call these
// functions instead of raw system calls.  Nothing throws; failures come back as false,
// -1, -1.0 or an undefined string/list, and errno is left for the caller to report.
// Paths are copied to a zero-terminated buffer before reaching the system; an
// undefined path is the empty text, and a path holding a zero byte is refused the
// same way (as the empty text), never silently shortened.
#ifndef QUILLBOX_SFILEDIR_H
#define QUILLBOX_SFILEDIR_H

#include "SString.h"
#include "SStringList.h"

// ---- predicates (also used by the list filter's "-e", "-r", "-d" ... tests) -------
bool FileExists(const SString& path);    // access(F_OK)
bool IsReadable(const SString& path);    // access(R_OK)
bool IsWriteable(const SString& path);   // access(W_OK)
bool IsExecutable(const SString& path);  // access(X_OK)
bool IsRegular(const SString& path);     // stat succeeds and it is a regular file
bool IsDirectory(const SString& path);   // stat succeeds and it is a directory

// ---- paths and directories -------------------------------------------------------
// The system's realpath, or the path itself when that fails.
SString RealPath(const SString& path);
// One mkdir with the given mode.
bool CreateDirectory(const SString& path, unsigned long mode);
// Creates the directory and any missing parents; true when the path ends up a
// directory (also when another process created part of it meanwhile).
bool MakeDir(const SString& path, unsigned long mode);
// One trailing '/' is ignored; false unless the path is a directory and rmdir works.
bool RemoveDir(const SString& path);
bool Chdir(const SString& path);
// Full paths ("dir/name") of the entries in directory order, without "." and "..".
// Runs of slashes in the prefix are collapsed.  Undefined when the directory cannot be
// opened or the path is empty.
SStringList ReadDir(const SString& dir);
// Without its last '/'-separated component; "." when nothing remains.
SString PathFromFilename(SString path);
// The last '/'-separated component (empty when the path ends in '/').
SString FileFromFilename(SString path);

// ---- files -----------------------------------------------------------------------
// False for a directory; otherwise unlink.
bool RemoveFile(const SString& path);
// RemoveFile; a failure on an existing regular file is logged to std::clog as
// "<LogFileDate>:<ModuleName>:ERROR:Couldn't remove file <path>:<error text>".
bool RemoveFileLogged(const SString& path);
bool CloseFile(int fd);
bool Rename(const SString& from, const SString& to);
// False when `from` is a directory; otherwise a hard link.
bool LinkFile(const SString& from, const SString& to);
// Size of a regular file in bytes; -1 when stat fails or it is not a regular file.
long FileSize(const SString& path);
// Days since the last modification, with fraction; -1.0 when stat fails.
double FileAge(const SString& path);
// Bytes available to ordinary users on the file system holding the path; -1.0 on
// failure.
double FreeDiskSpace(const SString& path);
// Copies `from` to a new `to` (created 0600, then given from's mode without set-id
// bits, and from's owner and group).  An incomplete copy is removed.  The third
// argument has no effect.
bool CopyFile(const SString& from, const SString& to, unsigned flags = 0);
// The whole content of a regular file.  Undefined when the file is missing,
// unreadable or not a regular file; a defined empty string for an empty file.
SString MapFileRead(const SString& path);
// Replaces the file's content with `text` (created 0660 when missing).  On failure the
// file is removed, so no half-written file is left under `path`; writers that must
// keep the old content on failure write to a temporary name and Rename it into place.
bool MapFileWrite(const SString& path, const SString& text);

// ---- record locks (POSIX fcntl locks) ---------------------------------------------
// Mode bits for LockFile.  A length of 0 means "to the end of the file, however far it
// grows"; the start is counted from the beginning of the file.  Locks belong to the
// process and are released when the descriptor is closed or the process ends.
constexpr int LockWait = 1;    // bit 0: wait for the lock (F_SETLKW), else fail at once
constexpr int LockShared = 2;  // bit 1: shared (read) lock, else exclusive (write)

// Locks the range; returns fd on success, -1 on failure.
int LockFile(int fd, int mode, int start = 0, int length = 0);
int LockFile_fcntl(int fd, int mode, int start = 0, int length = 0);
// Opens `path` read-write (created 0600 when missing) and locks it.  Returns the
// descriptor, which the caller closes to release the lock, or -1 (the descriptor is
// closed when the lock fails).
int LockFile(const SString& path, int mode, int start = 0, int length = 0);
// Removes the lock on the range (never waits); true on success.
bool UnlockFile(int fd, int start = 0, int length = 0);
bool UnlockFile_fcntl(int fd, int start = 0, int length = 0);
// Whole-file lock, waiting: exclusive when `write` is non-zero, shared otherwise.  The
// database layer uses it on files opened with the whole-file lock flag.
bool db_lock_fd(int fd, int write);

// The same range locks on the open file description instead of the process
// (F_OFD_SETLK/F_OFD_SETLKW): they belong to the descriptor they were taken through,
// so closing another descriptor of the same file does not drop them, and two
// descriptions in one process conflict like two processes.  The store layer needs
// this because the database library opens and closes descriptors of its own.
// `mode` as for LockFile; returns fd or -1.
int LockFile_ofd(int fd, int mode, int start = 0, int length = 0);
bool UnlockFile_ofd(int fd, int start = 0, int length = 0);

#endif
