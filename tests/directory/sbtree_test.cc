// Tests of the B-tree file: records and the cursor, the file's page size and
// permissions, where relative names lead, and the read and write locks as another
// process sees them.
#include "SBTree.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "StoreTestTools.h"

namespace {

TEST(SBTree, RecordsAndCursorInKeyOrder) {
    StoreDir dir;
    SBTree tree(dir.S("T.b"));
    EXPECT_FALSE(tree.Get("x").Defined());  // no file yet
    EXPECT_FALSE(tree.Set("x", "1"));       // not write-locked: opened read-only
    EXPECT_EQ(tree.LockWrite(), 1);
    ASSERT_TRUE(tree.Set("b", "2"));
    ASSERT_TRUE(tree.Set("a", "1"));
    ASSERT_TRUE(tree.Set("c", ""));
    ASSERT_TRUE(tree.Set(StoreDir::Sv("b" + std::string("\0", 1) + "x"), "3"));
    EXPECT_TRUE(tree.Delete("a"));
    EXPECT_FALSE(tree.Delete("a"));
    EXPECT_EQ(tree.UnlockWrite(), 0);

    SString empty = tree.Get("c");
    EXPECT_TRUE(empty.Defined());
    EXPECT_EQ(empty.Length(), 0);
    EXPECT_FALSE(tree.Get("a").Defined());
    EXPECT_EQ(Str(tree.Get("b")), "2");

    SString key("");
    EXPECT_EQ(Str(tree.SeqFirst(key)), "2");  // an empty key finds the first record
    EXPECT_EQ(Str(key), "b");
    EXPECT_EQ(Str(tree.SeqNext(key)), "3");
    EXPECT_EQ(Str(key), "b" + std::string("\0", 1) + "x");
    SString last = tree.SeqNext(key);
    EXPECT_TRUE(last.Defined());
    EXPECT_EQ(Str(key), "c");
    EXPECT_FALSE(tree.SeqNext(key).Defined());  // the end: key left alone
    EXPECT_EQ(Str(key), "c");

    key = "bb";  // between records: the next greater key
    EXPECT_TRUE(tree.SeqFirst(key).Defined());
    EXPECT_EQ(Str(key), "c");
    key = "d";
    EXPECT_FALSE(tree.SeqFirst(key).Defined());
    EXPECT_EQ(Str(key), "d");
}

uint32_t Word(const std::string& bytes, size_t at) {
    uint32_t w;
    std::memcpy(&w, bytes.data() + at, 4);
    return w;
}

TEST(SBTree, FileHasSixteenKilobytePagesAndOpenPermissions) {
    StoreDir dir;
    SBTree tree(dir.S("Pages.b"));
    tree.LockWrite();
    ASSERT_TRUE(tree.Set("k", "v"));
    tree.UnlockWrite();
    std::ifstream in(dir.Path("Pages.b"), std::ios::binary);
    std::string meta(64, '\0');
    in.read(&meta[0], 64);
    EXPECT_EQ(Word(meta, 12), 0x053162u);  // B-tree magic in the meta page
    EXPECT_EQ(Word(meta, 20), 16384u);     // page size
    mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st;
    ASSERT_EQ(::stat(dir.Path("Pages.b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    // Nothing is left behind by the file's creation.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) entries += !!e.exists();
    EXPECT_EQ(entries, 1);
}

TEST(SBTree, RelativeNamesLieInTheConfigDirectory) {
    StoreDir dir;
    std::filesystem::create_directories(dir.Path("config"));
    std::string old = std::getenv("Quillbox") ? std::getenv("Quillbox") : "";
    ::setenv("Quillbox", dir.Path().c_str(), 1);
    {
        SBTree tree("Rel.b");
        tree.LockWrite();
        EXPECT_TRUE(tree.Set("k", "v"));
        tree.UnlockWrite();
        tree.SetFilename("Other.b");
        EXPECT_EQ(Str(tree.GetFilename()), "Other.b");
        EXPECT_FALSE(tree.Get("k").Defined());
    }
    EXPECT_TRUE(std::filesystem::exists(dir.Path("config/Rel.b")));
    SBTree empty;
    EXPECT_FALSE(empty.Open());
    EXPECT_EQ(empty.LockRead(), -1);
    if (old.empty()) ::unsetenv("Quillbox");
    else ::setenv("Quillbox", old.c_str(), 1);
}

TEST(SBTree, ReadLocksShareAndWriteLocksExclude) {
    StoreDir dir;
    std::string file = dir.Path("L.b");
    SBTree tree(dir.S("L.b"));
    tree.LockWrite();
    ASSERT_TRUE(tree.Set("k", "1"));  // opens: the exclusive lock is taken here
    EXPECT_FALSE(LockFreeElsewhere(file, false));
    EXPECT_EQ(tree.LockWrite(), 2);
    EXPECT_EQ(tree.LockRead(), 2);  // nothing to do under the write lock
    EXPECT_EQ(tree.UnlockWrite(), 1);
    EXPECT_FALSE(LockFreeElsewhere(file, false));
    EXPECT_EQ(tree.UnlockWrite(), 0);
    EXPECT_TRUE(LockFreeElsewhere(file, true));

    EXPECT_GE(tree.LockRead(), 0);
    EXPECT_TRUE(LockFreeElsewhere(file, false));
    EXPECT_FALSE(LockFreeElsewhere(file, true));
    {
        // Another tree of this process on the same file: its lock pair and its close
        // leave the first tree's shared lock in place.
        SBTree other(dir.S("L.b"));
        EXPECT_GE(other.LockRead(), 0);
        EXPECT_EQ(Str(other.Get("k")), "1");
        other.UnlockRead();
    }
    EXPECT_FALSE(LockFreeElsewhere(file, true));
    tree.UnlockRead();
    EXPECT_TRUE(LockFreeElsewhere(file, true));
}

TEST(SBTree, AnOpenReaderSeesAnotherProcessWrites) {
    StoreDir dir;
    SBTree reader(dir.S("F.b"));
    {
        SBTree writer(dir.S("F.b"));
        writer.LockWrite();
        ASSERT_TRUE(writer.Set("k", "1"));
        writer.UnlockWrite();
    }
    EXPECT_EQ(Str(reader.Get("k")), "1");
    for (int round = 2; round <= 4; ++round) {
        pid_t child = Spawn([&dir, round] {
            SBTree writer(dir.S("F.b"));
            writer.LockWrite();
            bool ok = writer.Set("k", StoreDir::Sv(std::to_string(round)));
            for (int i = 0; i < 300 * round; ++i)  // enough to split pages
                ok = ok && writer.Set(StoreDir::Sv("fill" + std::to_string(i)), "x");
            writer.UnlockWrite();
            return ok ? 0 : 1;
        });
        ASSERT_EQ(WaitStatus(child), 0);
        EXPECT_EQ(Str(reader.Get("k")), std::to_string(round));
        ASSERT_GE(reader.LockRead(), 0);
        SString key = StoreDir::Sv("fill" + std::to_string(300 * round - 1));
        EXPECT_TRUE(reader.SeqFirst(key).Defined());
        EXPECT_EQ(Str(key), "fill" + std::to_string(300 * round - 1));
        reader.UnlockRead();
    }
}

}  // namespace
