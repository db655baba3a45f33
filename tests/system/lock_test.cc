// Record locks between real processes: the parent holds a lock, a forked child tries
// to take one and reports through its exit status (and a pipe where timing matters).
// fcntl locks belong to the process, so only another process can see a conflict.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <functional>

#include <gtest/gtest.h>

#include "QbTest.h"
#include "Sfiledir.h"

using qbtest::TempDir;

namespace {

// Runs `body` in a child and returns its exit status.  A child that blocks where it
// should not is ended by its alarm (status 128 + SIGALRM) instead of hanging the suite.
int InChild(const std::function<int()>& body) {
    return qbtest::WaitStatus(qbtest::Spawn([&body] {
        ::alarm(10);
        return body();
    }));
}

int OpenFile(const TempDir& dir) { return ::open(dir.Path("locked").c_str(), O_RDWR | O_CREAT, 0600); }

// Exit codes of a child's single attempt.
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

void IgnoreSignal(int) {}

}  // namespace

TEST(Locks, NonWaitingLockOnHeldRangeFailsAtOnceUntilReleased) {
    // The parent holds one lock; a child makes one attempt, then another after the
    // parent released the range, which must succeed.
    const int shared = LockWait | LockShared;  // mode 3
    const struct {
        int heldMode, heldStart, heldLength, mode, start, length, expect;
    } rows[] = {
        {0, 0, 10, 0, 0, 10, Refused}, {0, 0, 10, 0, 5, 1, Refused},         // the range, an overlap
        {0, 0, 10, LockShared, 0, 1, Refused}, {0, 0, 10, 0, 10, 5, Got},    // a reader; beyond it
        {0, 100, 0, 0, 1000000, 1, Refused}, {0, 100, 0, 0, 0, 100, Got},    // length 0: to any end
        {shared, 0, 0, LockShared, 0, 0, Got}, {shared, 0, 0, shared, 0, 0, Got},  // readers coexist
        {shared, 0, 0, 0, 0, 0, Refused},                                    // and exclude writers
    };
    for (const auto& row : rows) {
        TempDir dir("lock");
        int fd = OpenFile(dir);
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        ASSERT_EQ(LockFile(fd, row.heldMode, row.heldStart, row.heldLength), fd);
        EXPECT_EQ(InChild([&] { return TryLock(dir, row.mode, row.start, row.length); }), row.expect);
        ASSERT_TRUE(UnlockFile(fd, row.heldStart, row.heldLength));
        EXPECT_EQ(InChild([&] { return TryLock(dir, 0, row.start, row.length); }), Got);
        ::close(fd);
    }
}

TEST(Locks, WaitingLockWaitsUntilReleaseThroughSignals) {
    TempDir dir("lock");
    int fd = OpenFile(dir);
    ASSERT_EQ(LockFile(fd, 0, 0, 0), fd);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    pid_t pid = qbtest::Spawn([&] {
        ::alarm(20);
        // A handler without SA_RESTART makes the signal interrupt the wait.
        struct sigaction action = {};
        action.sa_handler = IgnoreSignal;
        ::sigaction(SIGUSR1, &action, nullptr);
        int mine = OpenFile(dir);
        if (::write(report[1], "r", 1) != 1) return 2;
        bool got = LockFile(mine, LockWait, 0, 0) == mine;
        return ::write(report[1], got ? "y" : "n", 1) == 1 && got ? 0 : 1;
    });
    ASSERT_GE(pid, 0);
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
    EXPECT_EQ(qbtest::WaitStatus(pid), 0);
    ::close(report[0]);
    ::close(fd);
}

TEST(Locks, DbLockFdSharesReadersAndExcludesWriters) {
    TempDir dir("lock");
    int fd = OpenFile(dir);
    ASSERT_TRUE(db_lock_fd(fd, 0));  // reader
    EXPECT_EQ(InChild([&] { return db_lock_fd(OpenFile(dir), 0) ? Got : Odd; }), Got);
    EXPECT_EQ(InChild([&] { return TryLock(dir, LockShared, 50, 1); }), Got);
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 50, 1); }), Refused);
    ASSERT_TRUE(db_lock_fd(fd, 1));  // the same process turns it into a writer's lock
    EXPECT_EQ(InChild([&] { return TryLock(dir, LockShared, 0, 1); }), Refused);
    EXPECT_FALSE(db_lock_fd(-1, 1));
    ::close(fd);
}

TEST(Locks, OpenFileDescriptionLocksConflictWithinOneProcess) {
    TempDir dir("lock");
    int first = OpenFile(dir), second = OpenFile(dir);
    ASSERT_EQ(LockFile_ofd(first, 0), first);
    EXPECT_EQ(LockFile_ofd(second, LockShared), -1);  // another open of the same file
    EXPECT_EQ(InChild([&] { return TryLock(dir, LockShared, 0, 0); }), Refused);
    ASSERT_TRUE(UnlockFile_ofd(first));
    EXPECT_EQ(LockFile_ofd(second, LockShared), second);
    ::close(first);
    ::close(second);
}

TEST(Locks, PathFormCreatesTheFileAndHoldsTheLock) {
    TempDir dir("lock");
    int fd = LockFile(dir.SPath("locked"), 0, 0, 0);
    ASSERT_GE(fd, 0);
    struct stat st;
    ASSERT_EQ(::stat(dir.Path("locked").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 0, 0); }), Refused);
    // A refused path form closes its descriptor: the lowest free one is the same after.
    EXPECT_EQ(InChild([&] {
                  int before = ::dup(0);
                  ::close(before);
                  int fdPath = LockFile(dir.SPath("locked"), 0, 0, 10);
                  return (fdPath == -1 && ::dup(0) == before) ? Got : Odd;
              }),
              Got);
    EXPECT_TRUE(CloseFile(fd));  // closing the descriptor releases the lock
    EXPECT_FALSE(CloseFile(fd));  // already closed
    EXPECT_EQ(InChild([&] { return TryLock(dir, 0, 0, 0); }), Got);

    EXPECT_EQ(LockFile(dir.SPath("no/such/dir/file"), 0, 0, 0), -1);
    EXPECT_EQ(LockFile(-1, 0, 0, 0), -1);
    EXPECT_EQ(errno, EBADF);
}
