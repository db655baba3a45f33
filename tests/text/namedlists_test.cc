// Tables, named maps and the field format: hashing and growth, insertion order,
// replacement, merging, and byte-exact reading and writing of field text.
#include <gtest/gtest.h>

#include <string>

#include "SNamedLists.h"

namespace {

std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

std::string Items(const SStringList& l) {
    std::string out;
    l.ForEach([&out](const SString& s) { out += "[" + Str(s) + "]"; });
    return (l.Defined() ? "" : "undef:") + out;
}

class Counted : public STableItem {
public:
    explicit Counted(int* live) : live(live) { ++*live; }
    ~Counted() override { --*live; }
    int* live;
};

TEST(STable, GrowsAtTwoEntriesPerBucket) {
    int live = 0;
    STable table;
    EXPECT_EQ(table.Size(), 7);
    for (int i = 0; i < 15; ++i) table.Add(SString(i), new Counted(&live));
    EXPECT_EQ(table.Size(), 7) << "an add grows the table only after it holds more than 14";
    table.Add(SString(15), new Counted(&live));
    EXPECT_EQ(table.Size(), 17);
    for (int i = 16; i < 35; ++i) table.Add(SString(i), new Counted(&live));
    EXPECT_EQ(table.Size(), 17);
    table.Add(SString(35), new Counted(&live));
    EXPECT_EQ(table.Size(), 37);
    for (int i = 0; i < 36; ++i) ASSERT_NE(table.Lookup(SString(i)), nullptr) << i;
    EXPECT_EQ(table.Count(), 36);

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
    EXPECT_EQ(STable::_Hash(SString("a")), 97u);
    EXPECT_EQ(STable::_Hash(SString("ab")), 97u * 33 + 98);
    EXPECT_EQ(STable::_Hash(SString("TRACE:")), STable::_Hash(SString("trace:")));
    uint32_t h = 0;
    std::string longKey(200, 'z');
    for (char c : longKey) h = h * 33u + static_cast<uint32_t>(c);
    EXPECT_EQ(STable::_Hash(SString(longKey.c_str())), h);
}

TEST(STable, ExactAndCaseBlindKeys) {
    int live = 0;
    STable blind(0, 0);
    blind.Add(SString("Trace:"), new Counted(&live));
    EXPECT_NE(blind.Lookup(SString("TRACE:")), nullptr);
    blind.Add(SString("TRACE:"), new Counted(&live));
    EXPECT_EQ(blind.Count(), 1);
    EXPECT_EQ(live, 1) << "the replaced entry was destroyed";
    EXPECT_EQ(Items(blind.Keys()), "[TRACE:]");

    STable exact(0, 1);
    exact.Add(SString("Trace:"), new Counted(&live));
    exact.Add(SString("TRACE:"), new Counted(&live));
    EXPECT_EQ(exact.Count(), 2);
    EXPECT_EQ(exact.Lookup(SString("trace:")), nullptr);
}

TEST(STable, ReplacementKeepsInsertionPlace) {
    int live = 0;
    STable table;
    for (const char* k : {"c", "a", "b"}) table.Add(SString(k), new Counted(&live));
    table.Add(SString("a"), new Counted(&live));
    EXPECT_EQ(Items(table.Keys()), "[c][a][b]");
    table.Remove(SString("c"));
    table.Add(SString("c"), new Counted(&live));
    EXPECT_EQ(Items(table.Keys()), "[a][b][c]");
    // Growth keeps the order too.
    for (int i = 0; i < 100; ++i) table.Add(SString(i), new Counted(&live));
    SStringList keys = table.Keys();
    EXPECT_EQ(keys.Get(0), "a");
    EXPECT_EQ(keys.Get(3), "0");
    EXPECT_EQ(keys.Get(-1), "99");
}

TEST(SNamedStringList, KeysSkipUndefinedLists) {
    SNamedStringList fields;
    fields["Function:"] = "Mail";
    fields["Trace:"];
    fields["Empty:"].Reset();
    EXPECT_EQ(Items(fields.Keys()), "[Function:][Empty:]");
    EXPECT_FALSE(fields.Get("Absent:").Defined());
    fields["Function:"].Undef();
    EXPECT_EQ(Items(fields.Keys()), "[Empty:]");
    fields.Delete("Empty:");
    EXPECT_FALSE(fields.Keys().Defined());
}

TEST(SNamedStringList, CopyAssignAndMerge) {
    SNamedStringList a(0, 1);
    a["From:"] = "x";
    a["To:"].Push("y");
    a["To:"].Push("z");
    SNamedStringList copy(a);
    EXPECT_EQ(copy.LineEnd(), 1u);
    EXPECT_EQ(Items(copy.Get("to:")), "[y][z]");
    copy["To:"].Push("w");
    EXPECT_EQ(Items(a.Get("To:")), "[y][z]");

    SNamedStringList b;
    b["Old:"] = "gone";
    b = a;
    EXPECT_EQ(Items(b.Keys()), "[From:][To:]");
    EXPECT_FALSE(b.Get("to:").Defined()) << "the target keeps its own exact lookups";
    const SNamedStringList& alias = b;
    b = alias;
    EXPECT_EQ(Items(b.Keys()), "[From:][To:]");

    SNamedStringList merged;
    merged["To:"].Push("z");
    merged["To:"].Push("q");
    SNamedStringList other;
    other["To:"].Push("y");
    other["To:"].Push("z");
    other["To:"].Push("y");
    other["Cc:"] = "c";
    merged += other;
    EXPECT_EQ(Items(merged.Get("To:")), "[z][q][y]")
        << "missing values are appended in their order, each once";
    EXPECT_EQ(Items(merged.Get("Cc:")), "[c]");
}

TEST(FieldFormat, WritesOneLinePerValue) {
    SNamedStringList fields;
    fields["Function:"] = "Mail";
    fields["Trace:"].Push("a");
    fields["Trace:"].Push("b");
    fields["Empty:"].Reset();
    fields["Unset:"];
    SString text("prefix|");
    text << fields;
    EXPECT_EQ(Str(text), "prefix|Function: Mail\nTrace: a\nTrace: b\nEmpty: \n");

    SNamedStringList crlf(1, 1);
    crlf["A:"].Push("1");
    crlf["A:"].Push("2");
    SString out;
    out << crlf;
    EXPECT_EQ(Str(out), "A: 1\r\nA: 2\r\n");
}

TEST(FieldFormat, ReadsNamesValuesAndContinuations) {
    struct Case {
        const char* text;
        const char* want;  // name=values; ...
    } cases[] = {
        {"Function: Mail\nTrace: a\nTrace: b\n", "Function:=[Mail];Trace:=[a][b];"},
        {"Function: Mail\nTrace: a\nTrace: b", "Function:=[Mail];Trace:=[a][b];"},
        {"Subject: one\n two\n\tthree\nX: y\n", "Subject:=[one\n two\n\tthree];X:=[y];"},
        {"Empty: \n", "Empty:=[];"},
        {"A: 1\nbareline\n", "A:=[1][bareline];"},
        {"A: 1\nnew name\n", "A:=[1];new=[name];"},
        {"A: 1\n\n", "A:=[1][];"},
        {"A: 1\n\n\n", "A:=[1][][];"},
        {"A: 1\n\nB: 2\n", "A:=[1][];B:=[2];"},
        {" leading\n", "=[leading];"},
        {"A: value with  spaces \n", "A:=[value with  spaces ];"},
        {"A: x\r\nB: y\r\n", "A:=[x\r];B:=[y\r];"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SNamedStringList fields;
        SString(c.text) >> fields;
        std::string got;
        fields.Keys().ForEach(
            [&](const SString& name) { got += Str(name) + "=" + Items(fields.Get(name)) + ";"; });
        EXPECT_EQ(got, c.want) << c.text;
    }

    SNamedStringList crlf(1, 1);
    SString("A: x\nstill x\r\nB: y\r\n") >> crlf;
    EXPECT_EQ(Items(crlf.Get("A:")), "[x\nstill x]");
}

TEST(FieldFormat, RoundTripPreservesValuesThatContinue) {
    SNamedStringList fields;
    fields["Function:"] = "Mail";
    fields["Folded:"] = "first\n  second";
    fields["Trace:"].Push("SMTP-Router");
    fields["Trace:"].Push("");
    SString text;
    text << fields;
    SNamedStringList back;
    text >> back;
    EXPECT_EQ(Items(back.Keys()), "[Function:][Folded:][Trace:]");
    EXPECT_EQ(Items(back.Get("Folded:")), "[first\n  second]");
    EXPECT_EQ(Items(back.Get("Trace:")), "[SMTP-Router][]");

    // A line feed followed by anything but blank space does not survive.
    SNamedStringList broken;
    broken["A:"] = "x\ny";
    SString t2;
    t2 << broken;
    SNamedStringList back2;
    t2 >> back2;
    EXPECT_EQ(Items(back2.Get("A:")), "[x][y]");
}

TEST(SNamedValue, AbsentIsMinusOne) {
    SNamedValue counts;
    EXPECT_EQ(counts.Get("x"), -1);
    EXPECT_EQ(counts["x"], 0);
    EXPECT_EQ(counts.Get("x"), 0);
    counts["y"] = 5;
    counts["z"] = -1;
    EXPECT_EQ(Items(counts.Keys()), "[x][y]");
    SNamedValue copy(counts);
    copy["y"] = 6;
    EXPECT_EQ(counts.Get("y"), 5);
    EXPECT_EQ(copy.Get("y"), 6);
    counts.Delete("x");
    EXPECT_EQ(counts.Get("x"), -1);
}

TEST(SIndexString, KeysCountNonEmptyStrings) {
    SIndexString index;
    for (int k = 0; k < 12; ++k) index[k * 10] = SString(k % 3 == 0 ? "" : "v");
    index[500];
    int* keys = nullptr;
    EXPECT_EQ(index.Keys(&keys), 8);
    ASSERT_NE(keys, nullptr);
    EXPECT_EQ(keys[0], 10);
    EXPECT_EQ(keys[1], 20);
    EXPECT_EQ(keys[7], 110);
    delete[] keys;
    EXPECT_EQ(index.Keys(nullptr), 8);

    EXPECT_EQ(index.Get(10), "v");
    EXPECT_FALSE(index.Get(11).Defined());
    index.Delete(10);
    EXPECT_FALSE(index.Get(10).Defined());
    EXPECT_EQ(index.Get(20), "v");
    EXPECT_EQ(index.Keys(nullptr), 7);
    index[999] = "new";
    EXPECT_EQ(index.Get(999), "new");
    SIndexString copy(index);
    copy[999] = "changed";
    EXPECT_EQ(index.Get(999), "new");
}

TEST(Identifiers, HoldOneName) {
    SAccountName account(SString("alice"));
    SPopName pop;
    SGroupName group;
    pop.Set("box");
    group.Set(account.Get());
    EXPECT_EQ(account.Get(), "alice");
    EXPECT_EQ(pop.Get(), "box");
    EXPECT_EQ(group.Get(), "alice");
}

}  // namespace
