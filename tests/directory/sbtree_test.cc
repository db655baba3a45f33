// Tests of the B-tree file: records and the cursor, the file's page size and
// permissions, and the read and write locks as another process sees them.  Where a
// relative name leads is tested beside the store's (sdbfile_test.cc).
#include "SBTree.h"

#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "StoreTestTools.h"

namespace {

TEST(SBTree, RecordsCursorAndFileFormat) {
    TempDir dir("store");
    const std::string bx = "b" + std::string("\0", 1) + "x";
    SBTree tree(dir.SPath("T.b"));
    EXPECT_FALSE(tree.Get("x").Defined());  // no file yet
    EXPECT_FALSE(tree.Set("x", "1"));       // not write-locked: opened read-only
    EXPECT_EQ(tree.LockWrite(), 1);
    for (const char* kv : {"b2", "a1", "c"}) ASSERT_TRUE(tree.Set(SString(kv, 1), kv + 1));
    ASSERT_TRUE(tree.Set(S(bx), "3"));
    EXPECT_TRUE(tree.Delete("a"));
    EXPECT_FALSE(tree.Delete("a"));
    EXPECT_EQ(tree.UnlockWrite(), 0);
    EXPECT_FALSE(tree.Get("a").Defined());
    EXPECT_EQ(Str(tree.Get("b")), "2");

    // An empty key finds the first record; at the end the key is left alone.  The
    // empty value of "c" still shows: it is defined.
    SString key("");
    std::string walk;
    for (SString v = tree.SeqFirst(key); v.Defined(); v = tree.SeqNext(key))
        walk += "[" + Str(key) + "=" + Str(v) + "]";
    EXPECT_EQ(walk, "[b=2][" + bx + "=3][c=]");
    EXPECT_EQ(Str(key), "c");
    key = "bb";  // between records: the next greater key
    EXPECT_TRUE(tree.SeqFirst(key).Defined());
    EXPECT_EQ(Str(key), "c");
    key = "d";
    EXPECT_FALSE(tree.SeqFirst(key).Defined());
    EXPECT_EQ(Str(key), "d");

    // The meta page holds the B-tree magic and 16 KiB pages; the file is open to all
    // (less the umask) and its creation leaves nothing else behind.
    uint32_t words[3] = {};
    std::memcpy(words, (dir.Read("T.b") + std::string(24, '\0')).data() + 12, 12);
    EXPECT_EQ(words[0], 0x053162u);
    EXPECT_EQ(words[2], 16384u);
    EXPECT_EQ(ModeOf(dir.Path("T.b")), Masked(0666));
    auto entries = std::filesystem::directory_iterator(dir.Path());
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);
}

TEST(SBTree, ReadLocksShareAndWriteLocksExclude) {
    TempDir dir("store");
    std::string file = dir.Path("L.b");
    SBTree tree(dir.SPath("L.b"));
    tree.LockWrite();
    ASSERT_TRUE(tree.Set("k", "1"));  // opens: the exclusive lock is taken here
    EXPECT_EQ(HeldLock(file), "exclusive");
    EXPECT_EQ(tree.LockWrite(), 2);
    EXPECT_EQ(tree.LockRead(), 2);  // nothing to do under the write lock
    EXPECT_EQ(tree.UnlockWrite(), 1);
    EXPECT_EQ(HeldLock(file), "exclusive");
    EXPECT_EQ(tree.UnlockWrite(), 0);
    EXPECT_EQ(HeldLock(file), "none");
    EXPECT_GE(tree.LockRead(), 0);
    EXPECT_EQ(HeldLock(file), "shared");
    {
        // Another tree of this process on the same file: its lock pair and its close
        // leave the first tree's shared lock in place.
        SBTree other(dir.SPath("L.b"));
        EXPECT_GE(other.LockRead(), 0);
        EXPECT_EQ(Str(other.Get("k")), "1");
        other.UnlockRead();
    }
    EXPECT_EQ(HeldLock(file), "shared");
    tree.UnlockRead();
    EXPECT_EQ(HeldLock(file), "none");
}

TEST(SBTree, AnOpenReaderSeesAnotherProcessWrites) {
    TempDir dir("store");
    SBTree reader(dir.SPath("F.b"));
    for (int round = 1; round <= 4; ++round) {
        pid_t child = Spawn([&dir, round] {
            SBTree writer(dir.SPath("F.b"));
            writer.LockWrite();
            bool ok = writer.Set("k", S(std::to_string(round)));
            for (int i = 0; i < 300 * round; ++i)  // enough to split pages
                ok = ok && writer.Set(S("fill" + std::to_string(i)), "x");
            writer.UnlockWrite();
            return ok ? 0 : 1;
        });
        ASSERT_EQ(WaitStatus(child), 0);
        EXPECT_EQ(Str(reader.Get("k")), std::to_string(round));
        ASSERT_GE(reader.LockRead(), 0);
        SString key = S("fill" + std::to_string(300 * round - 1));
        EXPECT_TRUE(reader.SeqFirst(key).Defined());
        EXPECT_EQ(Str(key), "fill" + std::to_string(300 * round - 1));
        reader.UnlockRead();
    }
}

}  // namespace
