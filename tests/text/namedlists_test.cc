// Tables, named maps and the field format: hashing and growth, insertion order,
// replacement, merging, and byte-exact reading and writing of field text.
#include <gtest/gtest.h>

#include <string>

#include "QbTest.h"
#include "SNamedLists.h"

namespace {

using qbtest::Bracketed;
using qbtest::Str;

class Counted : public STableItem {
public:
    explicit Counted(int* live) : live(live) { ++*live; }
    ~Counted() override { --*live; }
    int* live;
};

TEST(STable, GrowsAtTwoEntriesPerBucketAndKeepsOrder) {
    int live = 0;
    STable table;
    // Size after each add: 7 until an add finds more than 14 entries, then 17 until
    // one finds more than 34.
    for (int i = 0; i < 36; ++i) {
        table.Add(SString(i), new Counted(&live));
        ASSERT_EQ(table.Size(), i < 15 ? 7 : i < 35 ? 17 : 37) << i;
    }
    for (int i = 0; i < 36; ++i) ASSERT_NE(table.Lookup(SString(i)), nullptr) << i;
    SStringList keys = table.Keys();
    EXPECT_TRUE(keys.Get(0) == "0" && keys.Get(-1) == "35") << "growth keeps insertion order";

    table.Remove(SString(3));
    table.Remove(SString("absent"));
    EXPECT_EQ(table.Lookup(SString(3)), nullptr);
    EXPECT_EQ(live, 35);
    table.Reset();
    EXPECT_EQ(live, 0);
    EXPECT_EQ(table.Size(), 37);
    EXPECT_FALSE(table.Keys().Defined());
}

TEST(STable, HashIsCaseBlindAndWraps) {
    EXPECT_EQ(STable::_Hash(SString("")), 0u);
    EXPECT_EQ(STable::_Hash(SString("ab")), 97u * 33 + 98);
    EXPECT_EQ(STable::_Hash(SString("TRACE:")), STable::_Hash(SString("trace:")));
    uint32_t h = 0;
    for (int i = 0; i < 200; ++i) h = h * 33u + 'z';
    EXPECT_EQ(STable::_Hash(SString(std::string(200, 'Z').c_str())), h);
}

TEST(STable, ExactAndCaseBlindKeysAndReplacement) {
    int live = 0;
    STable blind(0, 0), exact(0, 1);
    for (STable* t : {&blind, &exact}) {
        t->Add(SString("Trace:"), new Counted(&live));
        t->Add(SString("TRACE:"), new Counted(&live));
    }
    EXPECT_EQ(blind.Count() * 10 + exact.Count(), 12);
    EXPECT_EQ(live, 3) << "the replaced entry was destroyed";
    EXPECT_EQ(Bracketed(blind.Keys()), "[TRACE:]");
    EXPECT_NE(blind.Lookup(SString("trace:")), nullptr);
    EXPECT_EQ(exact.Lookup(SString("trace:")), nullptr);

    STable table;
    for (const char* k : {"c", "a", "b", "a"}) table.Add(SString(k), new Counted(&live));
    EXPECT_EQ(Bracketed(table.Keys()), "[c][a][b]") << "a replaced key keeps its place";
    table.Remove(SString("c"));
    table.Add(SString("c"), new Counted(&live));
    EXPECT_EQ(Bracketed(table.Keys()), "[a][b][c]");
}

TEST(SNamedStringList, KeysCopyAssignAndMerge) {
    SNamedStringList fields;
    fields["Function:"] = "Mail";
    fields["Trace:"];
    fields["Empty:"].Reset();
    EXPECT_EQ(Bracketed(fields.Keys()), "[Function:][Empty:]") << "undefined lists are skipped";
    EXPECT_FALSE(fields.Get("Absent:").Defined());
    fields["Function:"].Undef();
    fields.Delete("Empty:");
    EXPECT_FALSE(fields.Keys().Defined());

    SNamedStringList a(0, 1);
    a["From:"] = "x";
    a["To:"] = qbtest::ListOf({"y", "z"});
    SNamedStringList copy(a);
    copy["To:"].Push("w");
    EXPECT_EQ(copy.LineEnd(), 1u);
    EXPECT_EQ(Bracketed(copy.Get("to:")) + Bracketed(a.Get("To:")), "[y][z][w][y][z]");

    SNamedStringList b;
    b["Old:"] = "gone";
    b = a;
    EXPECT_EQ(Bracketed(b.Keys()), "[From:][To:]");
    EXPECT_FALSE(b.Get("to:").Defined()) << "the target keeps its own exact lookups";

    SNamedStringList merged, other;
    merged["To:"] = qbtest::ListOf({"z", "q"});
    other["To:"] = qbtest::ListOf({"y", "z", "y"});
    other["Cc:"] = "c";
    merged += other;
    EXPECT_EQ(Bracketed(merged.Get("To:")) + Bracketed(merged.Get("Cc:")), "[z][q][y][c]");
}

TEST(FieldFormat, WritesOneLinePerValue) {
    SNamedStringList fields;
    fields["Function:"] = "Mail";
    fields["Trace:"] = qbtest::ListOf({"a", "b"});
    fields["Empty:"].Reset();
    fields["Unset:"];
    SString text("prefix|");
    text << fields;
    EXPECT_EQ(Str(text), "prefix|Function: Mail\nTrace: a\nTrace: b\nEmpty: \n");

    SNamedStringList crlf(1, 1);
    crlf["A:"] = qbtest::ListOf({"1", "2"});
    SString out;
    out << crlf;
    EXPECT_EQ(Str(out), "A: 1\r\nA: 2\r\n");
}

TEST(FieldFormat, ReadsNamesValuesAndContinuations) {
    struct {
        unsigned crlf;
        const char *text, *want;  // name=values; ...
    } cases[] = {
        {0, "Function: Mail\nTrace: a\nTrace: b\n", "Function:=[Mail];Trace:=[a][b];"},
        {0, "Function: Mail\nTrace: a\nTrace: b", "Function:=[Mail];Trace:=[a][b];"},
        {0, "Subject: one\n two\n\tthree\nX: y\n", "Subject:=[one\n two\n\tthree];X:=[y];"},
        {0, "Empty: \n", "Empty:=[];"},
        {0, "A: 1\nbareline\nnew name\n", "A:=[1][bareline];new=[name];"},
        {0, "A: 1\n\n", "A:=[1][];"},
        {0, "A: 1\n\n\n", "A:=[1][][];"},
        {0, "A: 1\n\nB: 2\n", "A:=[1][];B:=[2];"},
        {0, " leading\n", "=[leading];"},
        {0, "A: value with  spaces \n", "A:=[value with  spaces ];"},
        {0, "A: x\r\nB: y\r\n", "A:=[x\r];B:=[y\r];"},
        {1, "A: x\nstill x\r\nB: y\r\n", "A:=[x\nstill x];B:=[y];"},
        {0, "", ""},
    };
    for (auto& c : cases) {
        SNamedStringList fields(1, c.crlf);
        SString(c.text) >> fields;
        std::string got;
        fields.Keys().ForEach([&](const SString& name) {
            got += Str(name) + "=" + Bracketed(fields.Get(name)) + ";";
        });
        EXPECT_EQ(got, c.want) << c.text;
    }
}

TEST(FieldFormat, RoundTripPreservesValuesThatContinue) {
    SNamedStringList fields, broken;
    fields["Function:"] = "Mail";
    fields["Folded:"] = "first\n  second";
    fields["Trace:"] = qbtest::ListOf({"SMTP-Router", ""});
    broken["A:"] = "x\ny";  // a line feed followed by anything but blank does not survive
    SString text, text2;
    text << fields;
    text2 << broken;
    SNamedStringList back, back2;
    text >> back;
    text2 >> back2;
    EXPECT_EQ(Bracketed(back.Keys()), "[Function:][Folded:][Trace:]");
    EXPECT_EQ(Bracketed(back.Get("Folded:")) + Bracketed(back.Get("Trace:")),
              "[first\n  second][SMTP-Router][]");
    EXPECT_EQ(Bracketed(back2.Get("A:")), "[x][y]");
}

TEST(SNamedValueAndIndexString, AbsentValues) {
    SNamedValue counts;
    EXPECT_EQ(counts.Get("x"), -1);
    EXPECT_EQ(counts["x"], 0);
    counts["y"] = 5;
    counts["z"] = -1;
    EXPECT_EQ(Bracketed(counts.Keys()), "[x][y]");
    SNamedValue copy(counts);
    copy["y"] = 6;
    EXPECT_EQ(counts.Get("y") * 10 + copy.Get("y"), 56);

    SIndexString index;
    for (int k = 0; k < 12; ++k) index[k * 10] = SString(k % 3 == 0 ? "" : "v");
    index[500];
    int* keys = nullptr;
    EXPECT_EQ(index.Keys(&keys), 8) << "only keys with non-empty strings count";
    ASSERT_NE(keys, nullptr);
    EXPECT_EQ(keys[0] * 10000 + keys[1] * 100 + keys[7], 10 * 10000 + 20 * 100 + 110);
    delete[] keys;
    index.Delete(10);
    EXPECT_FALSE(index.Get(10).Defined() || index.Get(11).Defined());
    EXPECT_TRUE(index.Get(20) == "v");
    EXPECT_EQ(index.Keys(nullptr), 7);
    SIndexString copied(index);
    copied[20] = "changed";
    EXPECT_EQ(index.Get(20), "v");
}

}  // namespace
