// Tests of the object database: attribute and index records as they lie in the two
// B-tree files, canonical forms for every flag bit, unique and domain-order
// attributes, listings and counts, deletion, and several writer processes whose
// result a checker walks record by record.
#include "SObjectDB.h"

#include <array>
#include <cstdlib>
#include <set>

#include <gtest/gtest.h>

#include "StoreTestTools.h"

namespace {

const std::string Z("\0", 1);

// The flag bits the account database gives the codes these tests use (1 lower-case,
// 2 indexed, 4 mailbox form, 8 second word, 16 unique, 32 domain order).
constexpr std::array<int, 73> kFlags = [] {
    std::array<int, 73> f{};
    f[0] = f[2] = f[23] = f[24] = 2;
    f[5] = 13, f[13] = 3, f[17] = 21, f[53] = 33;
    return f;
}();

class ObjectDBTest : public ::testing::Test {
protected:
    TempDir dir{"store"};
    SObjectDB db{dir.SPath("Obj."), 0, kFlags.data(), 73};

    void SetUp() override { db.LockWrite(); }
    void TearDown() override { db.UnlockWrite(); }
    Records Raw(const char* which) {
        db.UnlockWrite();  // flush before looking at the files directly
        Records all = RawDb(dir.Path("Obj.") + which, true).All();
        db.LockWrite();
        return all;
    }
    // The index records pointing at the object, as "[code:canonical]" in key order
    // ("=data" added should a record carry data).
    std::string IndexOf(const std::string& object) {
        std::string out;
        for (const auto& [key, data] : Raw("i")) {
            size_t zero = key.find('\0', 1);
            if (key.substr(zero + 1) != object) continue;
            out += "[" + std::to_string((unsigned char)key[0]) + ":" + key.substr(1, zero - 1);
            out += (data.empty() ? "" : "=" + data) + "]";
        }
        return out;
    }
};

TEST_F(ObjectDBTest, IndexFollowsChangedValues) {
    ASSERT_TRUE(db.Create("u1", 1));
    ASSERT_TRUE(db.SetAttrib(2, "u1", ListOf({"a", "b"})));
    EXPECT_EQ(IndexOf("u1"), "[0:\x01][2:a][2:b]");
    ASSERT_TRUE(db.SetAttrib(2, "u1", ListOf({"b", "c"})));
    EXPECT_EQ(IndexOf("u1"), "[0:\x01][2:b][2:c]");
    EXPECT_EQ(Raw("a")["u1" + Z + "\x02"], Z + "b" + Z + "c");
    EXPECT_EQ(Bracketed(db.GetAttrib(2, "u1")), "[b][c]");
    // Bit 0 of the flags: the index is left alone.
    ASSERT_TRUE(db.SetAttrib(2, "u1", ListOf({"z"}), 1));
    EXPECT_EQ(IndexOf("u1"), "[0:\x01][2:b][2:c]");

    // An empty list is a record of zero bytes, read back as an empty list.
    ASSERT_TRUE(db.SetAttrib(23, "u1", SStringList()));
    Records attribs = Raw("a");
    ASSERT_EQ(attribs.count("u1" + Z + "\x17"), 1u);
    EXPECT_EQ(attribs["u1" + Z + "\x17"], "");
    EXPECT_EQ(Bracketed(db.GetAttrib(23, "u1")), "");
    EXPECT_EQ(Bracketed(db.GetAttrib(24, "u1")), "undef:");

    // Empty values are stored but not indexed.
    ASSERT_TRUE(db.SetAttrib(5, "e", ListOf({"", "<>", "ok <o@k>"})));
    EXPECT_EQ(Bracketed(db.GetAttrib(5, "e")), "[][<>][ok <o@k>]");
    EXPECT_EQ(IndexOf("e"), "[5:o@k]");
    EXPECT_EQ(db.CountByAttrib(5, ""), 0);
}

TEST_F(ObjectDBTest, UniqueAttributeBelongsToOneObject) {
    ASSERT_TRUE(db.SetAttrib(17, "u1", ListOf({"<A@B.C>"})));
    EXPECT_FALSE(db.SetAttrib(17, "u2", ListOf({"x@y", "a@b.c"})));
    EXPECT_FALSE(db.GetAttrib(17, "u2").Defined());  // nothing changed
    EXPECT_EQ(db.CountByAttrib(17, "x@y"), 0);
    EXPECT_TRUE(db.SetAttrib(17, "u1", ListOf({"a@b.c"})));
    EXPECT_EQ(Bracketed(db.ListByAttrib(17, "A@b.C")), "[u1]");
    EXPECT_TRUE(db.SetAttrib(17, "u2", ListOf({"x@y"})));
    EXPECT_TRUE(db.SetAttrib(17, "u1", ListOf({"other@b.c"})));
    EXPECT_TRUE(db.SetAttrib(17, "u2", ListOf({"a@b.c"})));  // freed by u1
    EXPECT_EQ(Bracketed(db.ListByAttrib(17, "a@b.c")), "[u2]");
}

TEST_F(ObjectDBTest, CanonicalFormsAndLookupsForEveryFlagBit) {
    const struct { int code; std::string value, canonical; } rows[] = {
        {13, "Hello", "hello"},        // 1 | 2
        {5, "Name <A@B.C>", "a@b.c"},  // 1 | 4 | 8
        {5, "<A@B.C>", "a@b.c"}, {5, "A@B.C", "a@b.c"}, {5, "x  <y@z>", "y@z"},
        {5, " <y@z>", " <y@z>"},       // no blank after the first character
        {5, "<>", ""}, {5, "one ", ""},  // no second word
        {17, "Name <A@B>", "name <a@b>"},  // 1 | 4 | 16: no word step
        {17, "<A@B>", "a@b"},
        {53, "Ab.Cd", "dc.ba."}, {53, "", ""},  // 1 | 32
        {2, "Ab", "Ab"},                        // 2 only
        {1, "Ab", "Ab"}, {200, "Ab", "Ab"},     // not indexed, beyond the table: unchanged
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Str(db._CanonicalizeValue(row.code, S(row.value))), row.canonical)
            << row.code << " " << row.value;
    }
    ASSERT_TRUE(db.SetAttrib(13, "u1", ListOf({"hello"})));
    EXPECT_EQ(Bracketed(db.ListByAttrib(13, "HELLO")), "[u1]");
    ASSERT_TRUE(db.SetAttrib(5, "u3", ListOf({"Joe <J@X.Org>"})));
    EXPECT_EQ(Bracketed(db.ListByAttrib(5, "j@x.org")), "[u3]");
    EXPECT_EQ(Bracketed(db.ListByAttrib(5, "Jim <J@X.ORG>")), "[u3]");

    // Domain-order lookups match sub-domains, and only at dots.
    ASSERT_TRUE(db.SetAttrib(53, "d1", ListOf({"ab.cd"})));
    ASSERT_TRUE(db.SetAttrib(53, "d2", ListOf({"CD"})));
    ASSERT_TRUE(db.SetAttrib(53, "d3", ListOf({"bcd"})));
    ASSERT_TRUE(db.SetAttrib(53, "d0", ListOf({"x.ab.cd", "y.cd"})));
    EXPECT_EQ(Bracketed(db.ListByAttrib(53, "cd")), "[d0][d1][d2]");
    EXPECT_EQ(db.CountByAttrib(53, "Cd"), 3);
    EXPECT_EQ(Bracketed(db.ListByAttrib(53, "ab.cd")), "[d0][d1]");
    EXPECT_EQ(Bracketed(db.ListByAttrib(53, "bcd")), "[d3]");
    EXPECT_EQ(db.ListByAttrib(53, "d").Count(), 0);
    EXPECT_EQ(db.ListByAttrib(53, "").Count(), 0);
}

TEST_F(ObjectDBTest, TypesListingsCountsAndDelete) {
    EXPECT_EQ(db.GetType("never"), 0);
    for (const char* object : {"u1", "u2"}) ASSERT_TRUE(db.Create(object, 1));
    ASSERT_TRUE(db.Create("u10", 2));
    EXPECT_EQ(db.GetType("u1"), 1);
    EXPECT_EQ(db.GetType("u10"), 2);
    ASSERT_TRUE(db.SetAttrib(17, "u1", ListOf({"u1@x"})));
    ASSERT_TRUE(db.SetAttrib(13, "u1", ListOf({"A", "b"})));
    ASSERT_TRUE(db.SetAttrib(2, "u1", ListOf({"u2"})));
    ASSERT_TRUE(db.SetAttrib(13, "u2", ListOf({"a"})));
    ASSERT_TRUE(db.SetAttrib(13, "u10", ListOf({"c"})));
    EXPECT_EQ(Bracketed(db.ListAttribs("u1")), "[\x02][\x0d][\x11]");
    EXPECT_EQ(db.ListAttribs("u").Count(), 0);
    EXPECT_EQ(Bracketed(db.ListByType(1)), "[u1][u2]");
    EXPECT_EQ(db.CountByType(1), 2);
    EXPECT_EQ(Bracketed(db.ListByAttrib(13, "a")), "[u1][u2]");
    EXPECT_EQ(db.CountByAttrib(13, "A"), 2);
    EXPECT_EQ(Bracketed(db.ListValues(13)), "[a][b][c]");
    EXPECT_EQ(db.CountValues(13), 3);
    EXPECT_EQ(Bracketed(db.ListValues(0)), "[\x01][\x02]");

    ASSERT_TRUE(db.Delete("u1"));
    EXPECT_EQ(db.GetType("u1"), 0);
    for (const auto& r : Raw("a")) EXPECT_NE(r.first.substr(0, 3), "u1" + Z) << r.first;
    EXPECT_EQ(IndexOf("u1"), "");
    EXPECT_EQ(Bracketed(db.ListByType(1)), "[u2]");
    EXPECT_EQ(Bracketed(db.ListValues(13)), "[a][c]");
    EXPECT_FALSE(db.Delete("u1"));
}

TEST(ObjectDB, AttributeRecordDecoding) {
    const std::pair<std::string, std::string> rows[] = {
        {"", ""}, {Z, ""}, {Z + "a" + Z + "b", "[a][b]"}, {Z + "a" + Z + Z + Z, "[a]"},
        {Z + Z + "a", "[][a]"}, {"junk", ""},
        {"junk" + Z + "a", "[a]"},  // the piece before the first zero is dropped
    };
    for (const auto& [data, back] : rows)
        EXPECT_EQ(Bracketed(SObjectDB::_SplitValues(S(data))), back) << testing::PrintToString(data);
    EXPECT_EQ(Str(SObjectDB::_JoinValues(ListOf({"a", "", "b"}))), Z + "a" + Z + Z + "b");
}

TEST(ObjectDB, WritesNeedTheWriteLockAndReadsWorkWithoutOne) {
    TempDir dir("store");
    SObjectDB db(dir.SPath("R."), 0, kFlags.data(), 73);
    EXPECT_FALSE(db.Create("u1", 1));  // files missing, no write lock
    EXPECT_EQ(db.ListByType(1).Count(), 0);
    db.LockWrite();
    ASSERT_TRUE(db.Create("u1", 1));
    db.UnlockWrite();
    EXPECT_FALSE(db.SetAttrib(13, "u1", ListOf({"x"})));
    EXPECT_EQ(Bracketed(db.ListByType(1)), "[u1]");
    SObjectDB noFlags(dir.SPath("R."), 0, nullptr);
    EXPECT_EQ(noFlags.GetType("u1"), 1);
    EXPECT_EQ(Str(noFlags._CanonicalizeValue(13, "AB")), "AB");
}

// ---- several writers ---------------------------------------------------------------------

// Every value of an indexed attribute has its index record, every index record belongs
// to a value of its object, and no unique value has two owners.
void CheckConsistency(const std::string& base) {
    SObjectDB db(S(base), 0, kFlags.data(), 73);
    std::set<std::string> expected, found;
    for (const auto& [key, data] : RawDb(base + "a", true).All()) {
        size_t zero = key.find('\0');
        ASSERT_EQ(zero + 2, key.size());
        int code = (unsigned char)key[zero + 1];
        for (const std::string& v : Items(SObjectDB::_SplitValues(S(data)))) {
            std::string canonical = kFlags[code] ? Str(db._CanonicalizeValue(code, S(v))) : "";
            if (!canonical.empty()) expected.insert(char(code) + canonical + Z + key.substr(0, zero));
        }
    }
    std::map<std::string, int> owners;
    for (const auto& record : RawDb(base + "i", true).All()) {
        found.insert(record.first);
        if (record.first[0] == 17) owners[record.first.substr(0, record.first.find('\0', 1))]++;
    }
    EXPECT_GT(found.size(), 8u);  // the writers did get work done
    EXPECT_EQ(found, expected);
    for (const auto& o : owners) EXPECT_EQ(o.second, 1) << o.first;
}

TEST(ObjectDB, WritersUnderLockWriteKeepEveryIndexRecordConsistent) {
    TempDir dir("store");
    std::string base = dir.Path("Multi.");
    const char* names[] = {"Ann", "bob", "Cy"};
    const char* addresses[] = {"a@x", "B@x", "<c@x>", "d@y", "Joe <e@y>", "f@z"};
    const char* domains[] = {"a.org", "B.a.org", "org", "x.net"};
    std::vector<pid_t> children;
    for (int w = 0; w < 3; ++w) {
        children.push_back(Spawn([&, w] {
            std::srand(1000 + w);
            auto pick = [](const auto& from) { return from[std::rand() % std::size(from)]; };
            SObjectDB db(S(base), 0, kFlags.data(), 73);
            for (int t = 0; t < 15; ++t) {
                db.LockWrite();
                for (int op = 0; op < 4; ++op) {
                    SString object = S("obj" + std::to_string(std::rand() % 8));
                    switch (std::rand() % 7) {
                    case 0: db.Create(object, 1); break;
                    case 1: db.SetAttrib(17, object, ListOf({pick(addresses)})); break;
                    case 2: db.SetAttrib(13, object, ListOf({pick(names), pick(names)})); break;
                    case 3: db.SetAttrib(53, object, ListOf({pick(domains)})); break;
                    case 4: db.DeleteAttrib(13, object); break;
                    case 5: db.Delete(object); break;
                    case 6: db.SetAttrib(5, object, ListOf({pick(addresses)})); break;
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
