// Tests of the shared counter: counts from several processes add up, the creator's
// notes and bits are what later users find, the last user alone may remove it, and
// look-alikes, missing directories and read-only users get the documented results.
#include "SSharedCounter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "QbTest.h"

using qbtest::Spawn;
using qbtest::TempDir;
using qbtest::WaitStatus;

namespace {

SSharedCounterSpec Spec(const TempDir& dir, const std::string& name, bool create) {
    SSharedCounterSpec spec;
    spec.dir = dir.SPath();
    spec.name = qbtest::S(name);
    spec.uid = ::geteuid();
    spec.gid = ::getegid();
    spec.mode = 0640;
    spec.create = create;
    spec.note[0] = 7;
    spec.note[1] = 9;
    return spec;
}

mode_t ModeOf(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000;
}

TEST(SharedCounter, ProcessesCountTogetherAndTheLastUserRemovesIt) {
    TempDir dir("counter");
    SSharedCounter first;
    ASSERT_EQ(first.Map(Spec(dir, "c", true)), SSharedCounter::Mapped);
    EXPECT_TRUE(first.IsWritable());
    EXPECT_EQ(ModeOf(dir.Path("c")), 0640u);
    EXPECT_EQ(first.Load(), 0u);
    const int children = 3, bumps = 2000;
    std::vector<pid_t> pids;
    for (int c = 0; c < children; ++c) {
        pids.push_back(Spawn([&dir] {
            SSharedCounterSpec spec = Spec(dir, "c", false);
            spec.note[0] = 1;  // a user that did not create it finds the creator's notes
            SSharedCounter mine;
            if (mine.Map(spec) != SSharedCounter::Mapped || mine.Note(0) != 7) return 1;
            for (int i = 0; i < bumps; ++i) mine.Bump();
            return mine.TakeLast() ? 2 : 0;  // the parent still has it
        }));
    }
    for (pid_t pid : pids) EXPECT_EQ(WaitStatus(pid), 0);
    EXPECT_EQ(first.Load(), uint64_t(children * bumps));
    EXPECT_EQ(first.Note(1), 9);

    SSharedCounter second;
    ASSERT_EQ(second.Map(Spec(dir, "c", true)), SSharedCounter::Mapped);
    EXPECT_EQ(second.Bump(), uint64_t(children * bumps));
    second.Unmap(true);  // not the last: removing is not its to do
    EXPECT_TRUE(std::filesystem::exists(dir.Path("c")));
    ASSERT_TRUE(first.TakeLast());
    // Somebody arriving now waits until the last user is gone, then starts afresh.
    pid_t late = Spawn([&dir, &first] {
        first.Abandon();  // a forked copy of the descriptor would keep the old lock alive
        SSharedCounter mine;
        bool fresh = mine.Map(Spec(dir, "c", true)) == SSharedCounter::Mapped &&
                     mine.Load() == 0 && mine.TakeLast();
        mine.Unmap(true);
        return fresh ? 0 : 1;
    });
    ::usleep(50000);
    first.Unmap(true);
    EXPECT_EQ(WaitStatus(late), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("c")));
}

TEST(SharedCounter, LookAlikesMissingPlacesAndReadersMakeNothing) {
    TempDir dir("counter");
    dir.Write("loose", std::string(64, '\0'));  // bits other than the file's: anyone's
    ::chmod(dir.Path("loose").c_str(), 0666);
    dir.Write("short", "");
    ::chmod(dir.Path("short").c_str(), 0640);
    const struct {
        std::string dir, name;
        bool create;
        SSharedCounter::Result result;
    } rows[] = {
        {"missing", "c", true, SSharedCounter::NoDirectory},
        {"", "none", false, SSharedCounter::Missing},  // a reader finds none, makes none
        {"", "loose", true, SSharedCounter::Missing},
        {"", "short", true, SSharedCounter::Missing},
        {"", "a/b", true, SSharedCounter::Refused},
    };
    for (const auto& row : rows) {
        SSharedCounterSpec spec = Spec(dir, row.name, row.create);
        if (!row.dir.empty()) spec.dir = dir.SPath(row.dir);
        SSharedCounter counter;
        EXPECT_EQ(counter.Map(spec), row.result) << row.name;
        EXPECT_FALSE(counter.IsMapped()) << row.name;
        EXPECT_EQ(counter.Bump(), 0u) << row.name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.Path("none")));
    EXPECT_EQ(ModeOf(dir.Path("loose")), 0666u);  // left as it was
    auto entries = std::filesystem::directory_iterator(dir.Path());
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 2);  // no temporary left
}

}  // namespace
