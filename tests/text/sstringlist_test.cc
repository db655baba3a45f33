// String lists: definedness, sharing, list surgery, ordering and the C-array form.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "SString.h"
#include "SStringList.h"

namespace {

std::string Items(const SStringList& l) {
    std::string out;
    l.ForEach([&out](const SString& s) {
        out += s.Defined() ? "[" + std::string(s.Chars(), s.Length()) + "]" : "[?]";
    });
    return (l.Defined() ? "" : "undef:") + out;
}

SStringList Make(std::initializer_list<const char*> items) {
    SStringList l;
    for (const char* s : items) l.Push(s);
    return l;
}

TEST(SStringList, ConstructionAndDefinedness) {
    SStringList none;
    EXPECT_FALSE(none.Defined());
    EXPECT_EQ(none.Count(), 0);
    EXPECT_EQ(Items(SStringList(SString("x"))), "[x]");
    EXPECT_EQ(Items(SStringList(static_cast<const char*>(nullptr))), "[]");
    const char* argv[] = {"a", "b", nullptr};
    EXPECT_EQ(Items(SStringList(argv)), "[a][b]");
    const char* empty[] = {nullptr};
    EXPECT_EQ(Items(SStringList(empty)), "");
    EXPECT_EQ(Items(SStringList(static_cast<const char**>(nullptr))), "undef:");

    SStringList l;
    l.Push(SStringList());
    EXPECT_TRUE(l.Defined()) << "any push defines the list";
    EXPECT_EQ(l.Count(), 0);

    SStringList u = Make({"a"});
    u.Undef();
    EXPECT_EQ(Items(u), "undef:");
    u = "z";
    EXPECT_EQ(Items(u), "[z]");
}

TEST(SStringList, SharingAndCopyOnWrite) {
    SStringList a = Make({"a", "b"});
    SStringList b = a;
    b.Push("c");
    EXPECT_EQ(Items(a), "[a][b]");
    EXPECT_EQ(Items(b), "[a][b][c]");
    SStringList c = a;
    c[0] = "changed";
    EXPECT_EQ(Items(a), "[a][b]");
    SStringList d = a;
    d.Reset();
    EXPECT_EQ(Items(a), "[a][b]");
    EXPECT_EQ(Items(d), "");
    const SStringList& alias = a;
    a = alias;
    EXPECT_EQ(Items(a), "[a][b]");
    a.Push(a);
    EXPECT_EQ(Items(a), "[a][b][a][b]");

    SStringList clone = b.Clone();
    EXPECT_EQ(clone, b);
    SStringList undef;
    EXPECT_FALSE(undef.Clone().Defined());
}

TEST(SStringList, AccessByPosition) {
    SStringList l = Make({"a", "b", "c", "d", "e"});
    for (int i = 0; i < 5; ++i) EXPECT_EQ(l.Get(i), SString(std::string(1, 'a' + i).c_str()));
    EXPECT_EQ(l.Get(-1), "e");
    EXPECT_EQ(l.Get(-5), "a");
    EXPECT_FALSE(l.Get(-6).Defined());
    EXPECT_FALSE(l.Get(5).Defined());
    EXPECT_EQ(l[-2], "d");
    l[-9] = "scratch";
    EXPECT_EQ(l.Count(), 5) << "a position before the start is not part of the list";

    SStringList two = Make({"x", "y"});
    two[5] = "z";
    EXPECT_EQ(Items(two), "[x][y][?][?][?][z]");

    EXPECT_EQ(l.Index("c"), 2);
    EXPECT_EQ(l.Index("zz"), -1);
    EXPECT_TRUE(l.Contains(SString("e")));
}

TEST(SStringList, PushPopShiftDelete) {
    SStringList l;
    EXPECT_EQ(l.Push("a"), 1);
    EXPECT_EQ(l.Push(SString("b")), 2);
    EXPECT_EQ(l.Pop(), "b");
    EXPECT_EQ(l.Pop(), "a");
    EXPECT_FALSE(l.Pop().Defined());
    EXPECT_FALSE(l.Shift().Defined());
    EXPECT_TRUE(l.Defined());

    SStringList m = Make({"a", "b", "c", "b"});
    EXPECT_EQ(m.Shift(), "a");
    EXPECT_FALSE(m.Delete(3));
    EXPECT_FALSE(m.Delete(-1));
    EXPECT_TRUE(m.Delete("b"));
    EXPECT_EQ(Items(m), "[c][b]");
    EXPECT_FALSE(m.Delete("zz"));
    EXPECT_TRUE(m.Delete(1));
    EXPECT_TRUE(m.Delete(0));
    EXPECT_EQ(Items(m), "");
}

TEST(SStringList, InsertSpliceSlice) {
    SStringList empty;
    empty.Insert(Make({"x", "y"}), 2);
    EXPECT_EQ(Items(empty), "[?][?][x][y]");
    SStringList shared;
    SStringList source = Make({"x", "y"});
    shared.Insert(source, 0);
    EXPECT_EQ(Items(shared), "[x][y]");
    shared.Push("z");
    EXPECT_EQ(Items(source), "[x][y]") << "the inserted list is never changed";

    SStringList ab = Make({"a", "b"});
    ab.Insert(Make({"x", "y"}), 1);
    EXPECT_EQ(Items(ab), "[a][x][y][b]");
    SStringList front = Make({"a", "b"});
    front.Insert(Make({"x", "y"}), 0);
    EXPECT_EQ(Items(front), "[x][y][a][b]");
    EXPECT_EQ(front.Get(-1), "b");
    SStringList end = Make({"a", "b"});
    end.Insert(Make({"x"}), 2);
    EXPECT_EQ(Items(end), "[a][b][x]");
    SStringList none = Make({"a", "b"});
    none.Insert(Make({"x"}), 3);
    none.Insert(Make({"x"}), -1);
    EXPECT_EQ(Items(none), "[a][b]");
    SStringList self = Make({"a", "b"});
    self.Insert(self, 1);
    EXPECT_EQ(Items(self), "[a][a][b][b]");

    SStringList abcd = Make({"a", "b", "c", "d"});
    EXPECT_EQ(Items(abcd.Splice(1, 2)), "[b][c]");
    EXPECT_EQ(Items(abcd), "[a][d]");
    abcd.Push("e");
    EXPECT_EQ(Items(abcd), "[a][d][e]") << "the ring stays closed after a splice";
    SStringList all = Make({"a", "b", "c", "d"});
    EXPECT_EQ(Items(all.Splice(0, 4)), "[a][b][c][d]");
    EXPECT_EQ(Items(all), "");
    EXPECT_TRUE(all.Defined());
    SStringList keep = Make({"a", "b", "c", "d"});
    EXPECT_EQ(Items(keep.Splice(3, 2)), "undef:");
    EXPECT_EQ(Items(keep.Splice(0, 0)), "undef:");
    EXPECT_EQ(Items(keep.Splice(0, 1)), "[a]");
    EXPECT_EQ(Items(keep), "[b][c][d]");
    EXPECT_EQ(Items(keep.Splice(1)), "[c][d]");
    EXPECT_EQ(Items(keep.Splice(5)), "undef:");
    SStringList rep = Make({"a", "b", "c"});
    EXPECT_EQ(Items(rep.Splice(1, 1, Make({"x", "y"}))), "[b]");
    EXPECT_EQ(Items(rep), "[a][x][y][c]");

    SStringList abc = Make({"a", "b", "c"});
    EXPECT_EQ(Items(abc.Slice(1, 1)), "[b]");
    EXPECT_EQ(Items(abc.Slice(0, 2)), "[a][b][c]");
    EXPECT_EQ(Items(abc.Slice(2, 1)), "undef:");
    EXPECT_EQ(Items(abc.Slice(1, 3)), "undef:");
    EXPECT_EQ(Items(abc.Slice(-1, 1)), "undef:");
}

TEST(SStringList, JoinChopReverseSortUnique) {
    EXPECT_EQ(Make({"a", "b", "c"}).Join(SString(", ")), "a, b, c");
    EXPECT_EQ(Make({"only"}).Join(SString("-")), "only");
    SStringList defined;
    defined.Reset();
    EXPECT_TRUE(defined.Join().Defined());
    EXPECT_EQ(defined.Join().Length(), 0);
    EXPECT_FALSE(SStringList().Join().Defined());
    EXPECT_EQ(Make({"", ""}).Join(), "");

    SStringList lines = Make({"ab\n", "cd\n"});
    EXPECT_EQ(lines.Chop(), '\n');
    EXPECT_EQ(Items(lines), "[ab][cd]");
    EXPECT_EQ(SStringList().Chop(), 0);

    SStringList r = Make({"1", "2", "3", "4", "5"});
    r.Reverse();
    EXPECT_EQ(Items(r), "[5][4][3][2][1]");

    SStringList s = Make({"b", "a", "c", "a"});
    s.Sort();
    EXPECT_EQ(Items(s), "[a][a][b][c]");
    SStringList u = Make({"a", "a", "b", "a"});
    u.Unique();
    EXPECT_EQ(Items(u), "[a][b][a]");
    SStringList runs = Make({"x", "x", "x", "y", "y"});
    runs.Unique();
    EXPECT_EQ(Items(runs), "[x][y]");
}

TEST(SStringList, SortAgreesWithOrderingOnManyLists) {
    std::srand(7);
    for (int round = 0; round < 50; ++round) {
        SStringList l;
        int n = round * 7 % 60;
        for (int i = 0; i < n; ++i) {
            char word[4] = {static_cast<char>('a' + std::rand() % 5),
                            static_cast<char>('a' + std::rand() % 3), 0, 0};
            l.Push(SString(word, 1 + std::rand() % 2));
        }
        SStringList shared = l;
        l.Sort();
        ASSERT_EQ(l.Count(), n);
        for (int i = 1; i < n; ++i) ASSERT_FALSE(l.Get(i - 1) > l.Get(i)) << Items(l);
        EXPECT_EQ(shared.Count(), n) << "the other holder keeps its order";
    }
}

TEST(SStringList, CArrayForm) {
    SStringList l = Make({"ab", "", "c"});
    char** argv = static_cast<char**>(l);
    ASSERT_NE(argv, nullptr);
    EXPECT_STREQ(argv[0], "ab");
    EXPECT_STREQ(argv[1], "");
    EXPECT_STREQ(argv[2], "c");
    EXPECT_EQ(argv[3], nullptr);
    EXPECT_EQ(argv[1], argv[0] + 3) << "all items live in one block";
    delete[] argv[0];
    delete[] argv;

    EXPECT_EQ(static_cast<char**>(SStringList()), nullptr);
    SStringList empty;
    empty.Reset();
    char** none = static_cast<char**>(empty);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none[0], nullptr);
    delete[] none;
}

TEST(SStringList, FreeFunctionsAndStreams) {
    SStringList paths = Make({"/a/b.txt", "c.txt", "d"});
    EXPECT_EQ(Length(paths), 14);
    EXPECT_EQ(Items(BaseName(paths, SString(".txt"))), "[b][c][d]");
    EXPECT_EQ(Items(LowerCase(Make({"AbC"}))), "[abc]");
    EXPECT_EQ(Items(UpperCase(Make({"AbC"}))), "[ABC]");
    EXPECT_EQ(Items(UpperCase(SStringList())), "undef:");
    SStringList definedEmpty;
    definedEmpty.Reset();
    EXPECT_EQ(Items(LowerCase(definedEmpty)), "");

    std::ostringstream out;
    out << Make({"a\n", "b"});
    EXPECT_EQ(out.str(), "a\nb");
    std::istringstream in("one\ntwo\nthree");
    SStringList read = Make({"old"});
    in >> read;
    EXPECT_EQ(Items(read), "[one\n][two\n][three]");
}

}  // namespace
