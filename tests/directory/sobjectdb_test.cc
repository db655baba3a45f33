// Tests of the object database: attribute and index records as they lie in the two
// B-tree files, canonical forms for every flag bit, unique and domain-order
// attributes, listings and counts, deletion, and several writer processes whose
// result a checker walks record by record.
#include "SObjectDB.h"

#include <cstdlib>
#include <set>

#include <gtest/gtest.h>

#include "StoreTestTools.h"

namespace {

const std::string Z("\0", 1);

// The account database's flag table (the codes it indexes).
struct FlagTable {
    int flags[73] = {};
    FlagTable() {
        flags[0] = 2;
        flags[2] = 2;
        flags[5] = 13;
        flags[13] = 3;
        flags[14] = 19;
        flags[17] = 21;
        flags[23] = flags[24] = flags[25] = flags[26] = 2;
        flags[38] = 19;
        flags[43] = 21;
        flags[53] = 33;
        flags[56] = flags[57] = 2;
    }
};
const FlagTable table;

std::string IndexKey(int code, const std::string& canonical, const std::string& object) {
    return std::string(1, char(code)) + canonical + Z + object;
}

std::string AttribKey(const std::string& object, int code) {
    return object + Z + std::string(1, char(code));
}

class ObjectDBTest : public ::testing::Test {
protected:
    StoreDir dir;
    SObjectDB db{StoreDir::Sv(dir.Path("Obj.")), 0, table.flags, 73};

    std::map<std::string, std::string> Raw(const char* which) {
        db.UnlockWrite();  // flush before looking at the files directly
        std::map<std::string, std::string> all;
        {
            RawDb raw(dir.Path(std::string("Obj.") + which), true);
            if (raw.Ok()) all = raw.All();
        }
        db.LockWrite();
        return all;
    }
    void SetUp() override { db.LockWrite(); }
    void TearDown() override { db.UnlockWrite(); }
};

TEST_F(ObjectDBTest, IndexFollowsChangedValues) {
    ASSERT_TRUE(db.Create("u1", 1));
    ASSERT_TRUE(db.SetAttrib(2, "u1", ListOf({"a", "b"})));
    std::map<std::string, std::string> index = Raw("i");
    EXPECT_EQ(index.count(IndexKey(2, "a", "u1")), 1u);
    EXPECT_EQ(index[IndexKey(2, "b", "u1")], "");
    EXPECT_EQ(index.count(IndexKey(0, "\x01", "u1")), 1u);

    ASSERT_TRUE(db.SetAttrib(2, "u1", ListOf({"b", "c"})));
    index = Raw("i");
    EXPECT_EQ(index.count(IndexKey(2, "a", "u1")), 0u);
    EXPECT_EQ(index.count(IndexKey(2, "b", "u1")), 1u);
    EXPECT_EQ(index.count(IndexKey(2, "c", "u1")), 1u);
    EXPECT_EQ(Raw("a")[AttribKey("u1", 2)], Z + "b" + Z + "c");
    EXPECT_EQ(Items(db.GetAttrib(2, "u1")), (std::vector<std::string>{"b", "c"}));

    // Bit 0 of the flags: the index is left alone.
    ASSERT_TRUE(db.SetAttrib(2, "u1", ListOf({"z"}), 1));
    index = Raw("i");
    EXPECT_EQ(index.count(IndexKey(2, "z", "u1")), 0u);
    EXPECT_EQ(index.count(IndexKey(2, "b", "u1")), 1u);

    // An empty list is a record of zero bytes, read back as an empty list.
    ASSERT_TRUE(db.SetAttrib(23, "u1", SStringList()));
    EXPECT_EQ(Raw("a")[AttribKey("u1", 23)], "");
    SStringList none = db.GetAttrib(23, "u1");
    EXPECT_TRUE(none.Defined());
    EXPECT_EQ(none.Count(), 0);
    EXPECT_FALSE(db.GetAttrib(24, "u1").Defined());
}

TEST_F(ObjectDBTest, UniqueAttributeBelongsToOneObject) {
    ASSERT_TRUE(db.SetAttrib(17, "u1", ListOf({"<A@B.C>"})));
    EXPECT_FALSE(db.SetAttrib(17, "u2", ListOf({"x@y", "a@b.c"})));
    EXPECT_FALSE(db.GetAttrib(17, "u2").Defined());  // nothing changed
    EXPECT_EQ(db.CountByAttrib(17, "x@y"), 0);
    EXPECT_TRUE(db.SetAttrib(17, "u1", ListOf({"a@b.c"})));
    EXPECT_EQ(Items(db.ListByAttrib(17, "A@b.C")), std::vector<std::string>{"u1"});
    EXPECT_TRUE(db.SetAttrib(17, "u2", ListOf({"x@y"})));
    EXPECT_TRUE(db.SetAttrib(17, "u1", ListOf({"other@b.c"})));
    EXPECT_TRUE(db.SetAttrib(17, "u2", ListOf({"a@b.c"})));  // freed by u1
    EXPECT_EQ(Items(db.ListByAttrib(17, "a@b.c")), std::vector<std::string>{"u2"});
}

struct CanonRow {
    int code;
    std::string value, canonical;
};

TEST_F(ObjectDBTest, CanonicalFormsForEveryFlagBit) {
    const CanonRow rows[] = {
        {13, "Hello", "hello"},                 // 1 | 2
        {5, "Name <A@B.C>", "a@b.c"},           // 1 | 4 | 8
        {5, "<A@B.C>", "a@b.c"},
        {5, "A@B.C", "a@b.c"},
        {5, "x  <y@z>", "y@z"},
        {5, " <y@z>", " <y@z>"},                // no blank after the first character
        {5, "<>", ""},
        {5, "one ", ""},                        // no second word
        {17, "Name <A@B>", "name <a@b>"},       // 1 | 4 | 16: no word step
        {17, "<A@B>", "a@b"},
        {53, "Ab.Cd", "dc.ba."},                // 1 | 32
        {53, "", ""},
        {2, "Ab", "Ab"},                        // 2 only
        {1, "Ab", "Ab"},                        // not indexed: unchanged
        {200, "Ab", "Ab"},                      // beyond the table
    };
    for (const CanonRow& row : rows) {
        EXPECT_EQ(Str(db._CanonicalizeValue(row.code, StoreDir::Sv(row.value))), row.canonical)
            << row.code << " " << row.value;
    }
    ASSERT_TRUE(db.SetAttrib(13, "u1", ListOf({"hello"})));
    EXPECT_EQ(Items(db.ListByAttrib(13, "HELLO")), std::vector<std::string>{"u1"});
    ASSERT_TRUE(db.SetAttrib(5, "u3", ListOf({"Joe <J@X.Org>"})));
    EXPECT_EQ(Items(db.ListByAttrib(5, "j@x.org")), std::vector<std::string>{"u3"});
    EXPECT_EQ(Items(db.ListByAttrib(5, "Jim <J@X.ORG>")), std::vector<std::string>{"u3"});
}

TEST_F(ObjectDBTest, DomainLookupsMatchSubdomainsOnlyAtDots) {
    ASSERT_TRUE(db.SetAttrib(53, "d1", ListOf({"ab.cd"})));
    ASSERT_TRUE(db.SetAttrib(53, "d2", ListOf({"CD"})));
    ASSERT_TRUE(db.SetAttrib(53, "d3", ListOf({"bcd"})));
    ASSERT_TRUE(db.SetAttrib(53, "d0", ListOf({"x.ab.cd", "y.cd"})));
    EXPECT_EQ(Items(db.ListByAttrib(53, "cd")), (std::vector<std::string>{"d0", "d1", "d2"}));
    EXPECT_EQ(db.CountByAttrib(53, "Cd"), 3);
    EXPECT_EQ(Items(db.ListByAttrib(53, "ab.cd")), (std::vector<std::string>{"d0", "d1"}));
    EXPECT_EQ(Items(db.ListByAttrib(53, "bcd")), std::vector<std::string>{"d3"});
    EXPECT_EQ(db.ListByAttrib(53, "d").Count(), 0);
    EXPECT_EQ(db.ListByAttrib(53, "").Count(), 0);
}

TEST_F(ObjectDBTest, EmptyValuesAreStoredButNotIndexed) {
    ASSERT_TRUE(db.SetAttrib(5, "e", ListOf({"", "<>", "ok <o@k>"})));
    EXPECT_EQ(Items(db.GetAttrib(5, "e")), (std::vector<std::string>{"", "<>", "ok <o@k>"}));
    std::map<std::string, std::string> index = Raw("i");
    int records = 0;
    for (const auto& r : index) records += r.first[0] == 5;
    EXPECT_EQ(records, 1);
    EXPECT_EQ(index.count(IndexKey(5, "o@k", "e")), 1u);
    EXPECT_EQ(db.CountByAttrib(5, ""), 0);
}

TEST_F(ObjectDBTest, TypesListingsCountsAndDelete) {
    EXPECT_EQ(db.GetType("never"), 0);
    ASSERT_TRUE(db.Create("u1", 1));
    ASSERT_TRUE(db.Create("u2", 1));
    ASSERT_TRUE(db.Create("u10", 2));
    EXPECT_EQ(db.GetType("u1"), 1);
    EXPECT_EQ(db.GetType("u10"), 2);
    ASSERT_TRUE(db.SetAttrib(17, "u1", ListOf({"u1@x"})));
    ASSERT_TRUE(db.SetAttrib(13, "u1", ListOf({"A", "b"})));
    ASSERT_TRUE(db.SetAttrib(2, "u1", ListOf({"u2"})));
    ASSERT_TRUE(db.SetAttrib(13, "u2", ListOf({"a"})));
    ASSERT_TRUE(db.SetAttrib(13, "u10", ListOf({"c"})));
    EXPECT_EQ(Items(db.ListAttribs("u1")),
              (std::vector<std::string>{"\x02", "\x0d", "\x11"}));
    EXPECT_EQ(Items(db.ListAttribs("u")), std::vector<std::string>{});
    EXPECT_EQ(Items(db.ListByType(1)), (std::vector<std::string>{"u1", "u2"}));
    EXPECT_EQ(db.CountByType(1), 2);
    EXPECT_EQ(Items(db.ListByAttrib(13, "a")), (std::vector<std::string>{"u1", "u2"}));
    EXPECT_EQ(db.CountByAttrib(13, "A"), 2);
    EXPECT_EQ(Items(db.ListValues(13)), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(db.CountValues(13), 3);
    EXPECT_EQ(Items(db.ListValues(0)), (std::vector<std::string>{"\x01", "\x02"}));

    ASSERT_TRUE(db.Delete("u1"));
    EXPECT_EQ(db.GetType("u1"), 0);
    for (const auto& r : Raw("a")) EXPECT_NE(r.first.substr(0, 3), "u1" + Z) << r.first;
    for (const auto& r : Raw("i")) {
        size_t zero = r.first.find('\0', 1);
        EXPECT_NE(r.first.substr(zero + 1), "u1") << r.first;
    }
    EXPECT_EQ(Items(db.ListByType(1)), std::vector<std::string>{"u2"});
    EXPECT_EQ(Items(db.ListValues(13)), (std::vector<std::string>{"a", "c"}));
    EXPECT_FALSE(db.Delete("u1"));
}

TEST(ObjectDB, AttributeRecordDecoding) {
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {"", {}},
        {Z, {}},
        {Z + "a" + Z + "b", {"a", "b"}},
        {Z + "a" + Z + Z + Z, {"a"}},
        {Z + Z + "a", {"", "a"}},
        {"junk" + Z + "a", {"a"}},  // the piece before the first zero is dropped
        {"junk", {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Items(SObjectDB::_SplitValues(StoreDir::Sv(row.first))), row.second)
            << testing::PrintToString(row.first);
    }
    EXPECT_EQ(Str(SObjectDB::_JoinValues(ListOf({"a", "", "b"}))), Z + "a" + Z + Z + "b");
}

TEST(ObjectDB, WritesNeedTheWriteLockAndReadsWorkWithoutOne) {
    StoreDir dir;
    SObjectDB db(StoreDir::Sv(dir.Path("R.")), 0, table.flags, 73);
    EXPECT_FALSE(db.Create("u1", 1));  // files missing, no write lock
    EXPECT_EQ(db.ListByType(1).Count(), 0);
    db.LockWrite();
    ASSERT_TRUE(db.Create("u1", 1));
    db.UnlockWrite();
    EXPECT_FALSE(db.SetAttrib(13, "u1", ListOf({"x"})));
    EXPECT_EQ(Items(db.ListByType(1)), std::vector<std::string>{"u1"});
    SObjectDB noFlags(StoreDir::Sv(dir.Path("R.")), 0, nullptr);
    EXPECT_EQ(noFlags.GetType("u1"), 1);
    EXPECT_EQ(Str(noFlags._CanonicalizeValue(13, "AB")), "AB");
}

// ---- several writers ---------------------------------------------------------------------

// Every attribute value of an indexed attribute has its index record, every index
// record belongs to a value of its object, and no unique value has two owners.
void CheckConsistency(const std::string& base) {
    SObjectDB db(StoreDir::Sv(base), 0, table.flags, 73);
    RawDb attribs(base + "a", true), index(base + "i", true);
    ASSERT_TRUE(attribs.Ok());
    ASSERT_TRUE(index.Ok());
    std::map<std::string, std::string> a = attribs.All(), i = index.All();
    std::set<std::string> expected;
    for (const auto& r : a) {
        size_t zero = r.first.find('\0');
        ASSERT_EQ(zero + 2, r.first.size());
        std::string object = r.first.substr(0, zero);
        int code = (unsigned char)r.first[zero + 1];
        if (!table.flags[code]) continue;
        for (const std::string& v : Items(SObjectDB::_SplitValues(StoreDir::Sv(r.second)))) {
            std::string canonical = Str(db._CanonicalizeValue(code, StoreDir::Sv(v)));
            if (!canonical.empty()) expected.insert(IndexKey(code, canonical, object));
        }
    }
    std::set<std::string> found;
    std::map<std::string, int> owners;
    for (const auto& r : i) {
        found.insert(r.first);
        size_t zero = r.first.find('\0', 1);
        if (r.first[0] == 17) owners[r.first.substr(0, zero)]++;
    }
    EXPECT_GT(found.size(), 8u);  // the writers did get work done
    EXPECT_EQ(found, expected);
    for (const auto& o : owners) EXPECT_EQ(o.second, 1) << o.first;
}

TEST(ObjectDB, WritersUnderLockWriteKeepEveryIndexRecordConsistent) {
    StoreDir dir;
    std::string base = dir.Path("Multi.");
    const char* names[] = {"Ann", "bob", "Cy"};
    const char* addresses[] = {"a@x", "B@x", "<c@x>", "d@y", "Joe <e@y>", "f@z"};
    const char* domains[] = {"a.org", "B.a.org", "org", "x.net"};
    std::vector<pid_t> children;
    for (int w = 0; w < 3; ++w) {
        children.push_back(Spawn([&, w] {
            std::srand(1000 + w);
            SObjectDB db(StoreDir::Sv(base), 0, table.flags, 73);
            for (int t = 0; t < 15; ++t) {
                db.LockWrite();
                for (int op = 0; op < 4; ++op) {
                    SString object = StoreDir::Sv("obj" + std::to_string(std::rand() % 8));
                    switch (std::rand() % 7) {
                    case 0: db.Create(object, 1); break;
                    case 1: db.SetAttrib(17, object, ListOf({addresses[std::rand() % 6]})); break;
                    case 2:
                        db.SetAttrib(13, object, ListOf({names[std::rand() % 3],
                                                         names[std::rand() % 3]}));
                        break;
                    case 3: db.SetAttrib(53, object, ListOf({domains[std::rand() % 4]})); break;
                    case 4: db.DeleteAttrib(13, object); break;
                    case 5: db.Delete(object); break;
                    case 6: db.SetAttrib(5, object, ListOf({addresses[std::rand() % 6]})); break;
                    }
                }
                db.UnlockWrite();
            }
            return 0;
        }));
    }
    for (pid_t child : children) EXPECT_EQ(WaitStatus(child), 0);
    CheckConsistency(base);
}

}  // namespace
