// Record locks between real processes: the parent holds a lock, a forked child tries
// to take one and reports through its exit status (and a pipe where timing matters).
// fcntl locks belong to the process, so only another process can see a conflict.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <functional>

#include <gtest/gtest.h>

#include "Sfiledir.h"
#include "TempDir.h"

namespace {

// Runs `body` in a child process and returns its exit status (-1 if it did not exit).
// A child that blocks where it should not is killed by its alarm instead of hanging
// the suite.
int InChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(10);
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int OpenFile(const TempDir& dir) {
    return ::open(dir.Path("locked").c_str(), O_RDWR | O_CREAT, 0600);
}

// Exit codes of a child's single non-waiting attempt.
constexpr int Got = 0, Refused = 1, Odd = 2;

int TryLock(const TempDir& dir, int mode, int start, int length) {
    int fd = OpenFile(dir);
    if (LockFile(fd, mode, start, length) == fd) return Got;
    return (errno == EAGAIN || errno == EACCES) ? Refused : Odd;
}

// True when `fd` becomes readable within `ms` milliseconds.
bool ReadableWithin(int fd, int ms) {
    struct pollfd p = {fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

}  // namespace

TEST(Locks, NonWaitingLockOnHeldRangeFailsAtOnce) {
    TempDir dir;
    int fd = OpenFile(dir);
    ASSERT_EQ(LockFile(fd, 0, 0, 10), fd);  // exclusive, bytes 0..9

    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 0, 10); }), Refused);
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 5, 1); }), Refused);   // overlap
    EXPECT_EQ(InChild([&] { return TryLock(dir, LockShared, 0, 1); }), Refused);
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 10, 5); }), Got);     // beyond it

    // The path form closes its descriptor when the lock is refused: the lowest free
    // descriptor is the same before and after.
    EXPECT_EQ(InChild([&] {
                  int before = ::dup(0);
                  ::close(before);
                  int fdPath = LockFile(dir.S("locked"), 0, 0, 10);
                  int after = ::dup(0);
                  return (fdPath == -1 && after == before) ? Got : Odd;
              }),
              Got);

    ASSERT_TRUE(UnlockFile(fd, 0, 10));
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 0, 10); }), Got);
    ::close(fd);
}

TEST(Locks, ZeroLengthReachesPastTheEndOfTheFile) {
    TempDir dir;
    int fd = OpenFile(dir);
    ASSERT_EQ(LockFile_fcntl(fd, 0, 100, 0), fd);  // from byte 100 to any end
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 1000000, 1); }), Refused);
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 0, 100); }), Got);
    ASSERT_TRUE(UnlockFile_fcntl(fd, 100, 0));
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 1000000, 1); }), Got);
    ::close(fd);
}

void IgnoreSignal(int) {}

TEST(Locks, WaitingLockWaitsUntilReleaseThroughSignals) {
    TempDir dir;
    int fd = OpenFile(dir);
    ASSERT_EQ(LockFile(fd, 0, 0, 0), fd);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);

    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::alarm(20);
        ::close(report[0]);
        // A handler without SA_RESTART makes the signal interrupt the wait.
        struct sigaction action = {};
        action.sa_handler = IgnoreSignal;
        ::sigaction(SIGUSR1, &action, nullptr);
        int mine = OpenFile(dir);
        char ready = 'r';
        if (::write(report[1], &ready, 1) != 1) ::_exit(2);
        bool got = LockFile(mine, LockWait, 0, 0) == mine;
        char c = got ? 'y' : 'n';
        ::_exit(::write(report[1], &c, 1) == 1 && got ? 0 : 1);
    }
    ::close(report[1]);
    char c = 0;
    ASSERT_EQ(::read(report[0], &c, 1), 1);
    EXPECT_EQ(c, 'r');
    // While the parent holds the lock the child stays blocked, also after a signal.
    EXPECT_FALSE(ReadableWithin(report[0], 200));
    ::kill(pid, SIGUSR1);
    EXPECT_FALSE(ReadableWithin(report[0], 200));
    ASSERT_TRUE(UnlockFile(fd, 0, 0));
    ASSERT_TRUE(ReadableWithin(report[0], 10000));
    EXPECT_EQ(::read(report[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(report[0]);
    ::close(fd);
}

TEST(Locks, SharedLocksCoexistAndExcludeWriters) {
    TempDir dir;
    int fd = OpenFile(dir);
    ASSERT_EQ(LockFile(fd, LockWait | LockShared, 0, 0), fd);  // mode 3
    // Another holder of mode 3 gets it too (it would hang here if it waited).
    EXPECT_EQ(InChild([&] {
                  int mine = OpenFile(dir);
                  return LockFile(mine, 3, 0, 0) == mine ? Got : Odd;
              }),
              Got);
    EXPECT_EQ(InChild([&] { return TryLock(dir, LockShared, 0, 0); }), Got);
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 0, 0); }), Refused);
    ::close(fd);  // closing the descriptor releases the lock
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 0, 0); }), Got);
}

TEST(Locks, DbLockFdSharesReadersAndExcludesWriters) {
    TempDir dir;
    int fd = OpenFile(dir);
    ASSERT_TRUE(db_lock_fd(fd, 0));  // reader
    EXPECT_EQ(InChild([&] {
                  int mine = OpenFile(dir);
                  return db_lock_fd(mine, 0) ? Got : Odd;
              }),
              Got);
    EXPECT_EQ(InChild([&] { return TryLock(dir, LockShared, 50, 1); }), Got);
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 50, 1); }), Refused);

    ASSERT_TRUE(db_lock_fd(fd, 1));  // the same process turns it into a writer's lock
    EXPECT_EQ(InChild([&] { return TryLock(dir, LockShared, 0, 1); }), Refused);
    EXPECT_FALSE(db_lock_fd(-1, 1));
    ::close(fd);
}

TEST(Locks, PathFormCreatesTheFileAndHoldsTheLock) {
    TempDir dir;
    int fd = LockFile(dir.S("locked"), 0, 0, 0);
    ASSERT_GE(fd, 0);
    struct stat st;
    ASSERT_EQ(::stat(dir.Path("locked").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 0, 0); }), Refused);
    EXPECT_TRUE(CloseFile(fd));
    EXPECT_FALSE(CloseFile(fd));  // already closed
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 0, 0); }), Got);

    EXPECT_EQ(LockFile(dir.S("no/such/dir/file"), 0, 0, 0), -1);
    EXPECT_EQ(LockFile(-1, 0, 0, 0), -1);
    EXPECT_EQ(errno, EBADF);
}
