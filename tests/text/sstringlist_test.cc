// String lists: definedness, sharing, list surgery, ordering and the C-array form.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "QbTest.h"
#include "SStringList.h"

namespace {

using qbtest::Bracketed;
using qbtest::ListOf;

TEST(SStringList, ConstructionAndDefinedness) {
    EXPECT_EQ(Bracketed(SStringList()), "undef:");
    EXPECT_EQ(Bracketed(SStringList(static_cast<const char*>(nullptr))), "[]");
    const char* argv[] = {"a", "b", nullptr};
    const char* none[] = {nullptr};
    EXPECT_EQ(Bracketed(SStringList(argv)), "[a][b]");
    EXPECT_EQ(Bracketed(SStringList(none)), "");
    EXPECT_EQ(Bracketed(SStringList(static_cast<const char**>(nullptr))), "undef:");

    SStringList l;
    l.Push(SStringList());
    EXPECT_EQ(Bracketed(l), "") << "any push defines the list";
    l.Undef();
    EXPECT_EQ(Bracketed(l), "undef:");
    l = "z";
    EXPECT_EQ(Bracketed(l), "[z]");
}

TEST(SStringList, SharingAndCopyOnWrite) {
    SStringList a = ListOf({"a", "b"});
    SStringList b = a, c = a, d = a;
    b.Push("c");
    c[0] = "changed";
    d.Reset();
    EXPECT_EQ(Bracketed(a), "[a][b]");
    EXPECT_EQ(Bracketed(b) + Bracketed(c) + Bracketed(d), "[a][b][c][changed][b]");
    const SStringList& alias = a;
    a = alias;
    a.Push(a);
    EXPECT_EQ(Bracketed(a), "[a][b][a][b]");
    EXPECT_EQ(b.Clone(), b);
    EXPECT_FALSE(SStringList().Clone().Defined());
}

TEST(SStringList, AccessByPosition) {
    SStringList l = ListOf({"a", "b", "c", "d", "e"});
    for (int i = 0; i < 5; ++i) EXPECT_EQ(l.Get(i), SString(std::string(1, 'a' + i).c_str()));
    EXPECT_TRUE(l.Get(-1) == "e" && l.Get(-5) == "a" && l[-2] == "d");
    EXPECT_FALSE(l.Get(-6).Defined() || l.Get(5).Defined());
    l[-9] = "scratch";
    EXPECT_EQ(l.Count(), 5) << "a position before the start is not part of the list";
    EXPECT_EQ(l.Index("c") * 10 + l.Index("zz"), 19);

    SStringList two = ListOf({"x", "y"});
    two[5] = "z";
    EXPECT_EQ(Bracketed(two), "[x][y][?][?][?][z]");
}

TEST(SStringList, PushPopShiftDelete) {
    SStringList l;
    EXPECT_EQ(l.Push("a") * 10 + l.Push(SString("b")), 12);
    EXPECT_TRUE(l.Pop() == "b" && l.Pop() == "a");
    EXPECT_FALSE(l.Pop().Defined() || l.Shift().Defined());

    SStringList m = ListOf({"a", "b", "c", "b"});
    EXPECT_EQ(m.Shift(), "a");
    EXPECT_FALSE(m.Delete(3) || m.Delete(-1) || m.Delete("zz"));
    EXPECT_TRUE(m.Delete("b"));
    EXPECT_EQ(Bracketed(m), "[c][b]");
    EXPECT_TRUE(m.Delete(1) && m.Delete(0));
    EXPECT_EQ(Bracketed(m), "");
}

TEST(SStringList, InsertSpliceSlice) {
    struct {
        std::vector<std::string> into;
        int pos;
        const char* want;
    } inserts[] = {{{}, 2, "[?][?][x][y]"},     {{}, 0, "[x][y]"},
                   {{"a", "b"}, 1, "[a][x][y][b]"}, {{"a", "b"}, 0, "[x][y][a][b]"},
                   {{"a", "b"}, 2, "[a][b][x][y]"}, {{"a", "b"}, 3, "[a][b]"},
                   {{"a", "b"}, -1, "[a][b]"}};
    SStringList xy = ListOf({"x", "y"});
    for (auto& c : inserts) {
        SStringList l = c.into.empty() ? SStringList() : ListOf(c.into);
        l.Insert(xy, c.pos);
        l.Push("z");  // the ring must still be closed and ordered after the insert
        EXPECT_EQ(Bracketed(l), std::string(c.want) + "[z]") << c.pos;
    }
    EXPECT_EQ(Bracketed(xy), "[x][y]") << "the inserted list is never changed";
    SStringList self = ListOf({"a", "b"});
    self.Insert(self, 1);
    EXPECT_EQ(Bracketed(self), "[a][a][b][b]");

    struct {
        int off, len;
        const char *removed, *left;
    } splices[] = {{1, 2, "[b][c]", "[a][d]"}, {0, 4, "[a][b][c][d]", ""},
                   {3, 2, "undef:", "[a][b][c][d]"}, {0, 0, "undef:", "[a][b][c][d]"},
                   {0, 1, "[a]", "[b][c][d]"}};
    for (auto& c : splices) {
        SStringList l = ListOf({"a", "b", "c", "d"});
        EXPECT_EQ(Bracketed(l.Splice(c.off, c.len)), c.removed) << c.off << "," << c.len;
        EXPECT_EQ(Bracketed(l), c.left) << c.off << "," << c.len;
    }
    SStringList tail = ListOf({"b", "c", "d"});
    EXPECT_EQ(Bracketed(tail.Splice(1)), "[c][d]");
    EXPECT_EQ(Bracketed(tail.Splice(5)), "undef:");
    SStringList rep = ListOf({"a", "b", "c"});
    EXPECT_EQ(Bracketed(rep.Splice(1, 1, xy)), "[b]");
    EXPECT_EQ(Bracketed(rep), "[a][x][y][c]");

    SStringList abc = ListOf({"a", "b", "c"});
    EXPECT_EQ(Bracketed(abc.Slice(1, 1)) + Bracketed(abc.Slice(0, 2)), "[b][a][b][c]");
    for (auto range : {std::pair{2, 1}, std::pair{1, 3}, std::pair{-1, 1}})
        EXPECT_EQ(Bracketed(abc.Slice(range.first, range.second)), "undef:");
}

TEST(SStringList, JoinChopReverseSortUnique) {
    EXPECT_EQ(ListOf({"a", "b", "c"}).Join(SString(", ")), "a, b, c");
    EXPECT_EQ(ListOf({"only"}).Join(SString("-")), "only");
    EXPECT_TRUE(ListOf({}).Join().Defined());
    EXPECT_FALSE(SStringList().Join().Defined());

    SStringList lines = ListOf({"ab\n", "cd\n"});
    EXPECT_EQ(lines.Chop(), '\n');
    EXPECT_EQ(Bracketed(lines), "[ab][cd]");

    SStringList r = ListOf({"1", "2", "3", "4", "5"});
    r.Reverse();
    EXPECT_EQ(Bracketed(r), "[5][4][3][2][1]");
    SStringList s = ListOf({"b", "a", "c", "a"});
    s.Sort();
    EXPECT_EQ(Bracketed(s), "[a][a][b][c]");
    SStringList u = ListOf({"a", "a", "b", "a", "x", "x", "x"});
    u.Unique();
    EXPECT_EQ(Bracketed(u), "[a][b][a][x]");
}

TEST(SStringList, SortAgreesWithOrderingOnManyLists) {
    std::srand(7);
    for (int round = 0; round < 50; ++round) {
        SStringList l;
        int n = round * 7 % 60;
        for (int i = 0; i < n; ++i) {
            char word[2] = {static_cast<char>('a' + std::rand() % 5),
                            static_cast<char>('a' + std::rand() % 3)};
            l.Push(SString(word, 1 + std::rand() % 2));
        }
        SStringList shared = l;
        l.Sort();
        ASSERT_EQ(l.Count(), n);
        for (int i = 1; i < n; ++i) ASSERT_FALSE(l.Get(i - 1) > l.Get(i)) << Bracketed(l);
        EXPECT_EQ(shared.Count(), n) << "the other holder keeps its list";
    }
}

TEST(SStringList, CArrayForm) {
    char** argv = static_cast<char**>(ListOf({"ab", "", "c"}));
    ASSERT_NE(argv, nullptr);
    EXPECT_STREQ(argv[0], "ab");
    EXPECT_STREQ(argv[2], "c");
    EXPECT_EQ(argv[3], nullptr);
    EXPECT_EQ(argv[1], argv[0] + 3) << "all items live in one block";
    delete[] argv[0];
    delete[] argv;

    EXPECT_EQ(static_cast<char**>(SStringList()), nullptr);
    char** none = static_cast<char**>(ListOf({}));
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none[0], nullptr);
    delete[] none;
}

TEST(SStringList, FreeFunctionsAndStreams) {
    SStringList paths = ListOf({"/a/b.txt", "c.txt", "d"});
    EXPECT_EQ(Length(paths), 14);
    EXPECT_EQ(Bracketed(BaseName(paths, SString(".txt"))), "[b][c][d]");
    EXPECT_EQ(Bracketed(LowerCase(ListOf({"AbC"}))) + Bracketed(UpperCase(ListOf({"AbC"}))),
              "[abc][ABC]");
    EXPECT_EQ(Bracketed(UpperCase(SStringList())), "undef:");
    EXPECT_EQ(Bracketed(LowerCase(ListOf({}))), "");

    std::ostringstream out;
    out << ListOf({"a\n", "b"});
    EXPECT_EQ(out.str(), "a\nb");
    std::istringstream in("one\ntwo\nthree");
    SStringList read = ListOf({"old"});
    in >> read;
    EXPECT_EQ(Bracketed(read), "[one\n][two\n][three]");
}

}  // namespace
