// Tests of the keyed configuration store: the two packed encodings and their decoding
// rules, the exact records a store leaves in its hash file (read back raw through the
// database library and through the db5.3_dump tool), chunks, key chains, damaged
// records, closed stores, and the whole-file locks between processes.
#include "Sdbfile.h"

#include <poll.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "StoreTestTools.h"

namespace {

const std::string Z("\0", 1);

std::string KeysRec(const std::string& path) { return path + Z + "Keys"; }
std::string ValuesRec(const std::string& path) { return path + Z + "Values"; }

struct PackRow {
    std::vector<std::string> list;
    std::string stored;
    std::vector<std::string> back;
    bool definedBack;
};

TEST(SdbfileEncoding, PicksTextOrBinaryAndReadsBackByTheDecodingRules) {
    const PackRow rows[] = {
        {{"a", "bc"}, Z + "a" + Z + "bc", {"a", "bc"}, true},
        {{"a", "", "b"}, Z + "a" + Z + Z + "b", {"a", "", "b"}, true},
        {{"a", ""}, Z + "a" + Z, {"a"}, true},  // trailing empties are lost
        {{""}, Z, {}, true},                    // one empty element: defined, empty
        {{}, "", {}, false},                    // empty list: zero bytes, undefined
        {{"a" + Z + "b"}, "1" + Z + "3" + Z + "a" + Z + "b", {"a" + Z + "b"}, true},
        {{"x", "", "y" + Z}, "3" + Z + "1" + Z + "x0" + Z + "2" + Z + "y" + Z,
         {"x", "", "y" + Z}, true},
        {{Z, ""}, "2" + Z + "1" + Z + Z + "0" + Z, {Z, ""}, true},
    };
    for (const PackRow& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.stored));
        SString stored = Sdbfile::_Encode(ListOf(row.list));
        EXPECT_EQ(Str(stored), row.stored);
        SStringList back = Sdbfile::_Decode(stored);
        EXPECT_EQ(Items(back), row.back);
        EXPECT_EQ(back.Defined(), row.definedBack);
    }
    EXPECT_EQ(Str(Sdbfile::_Pack(ListOf({"a", "bc"}))),
              "2" + Z + "1" + Z + "a" + "2" + Z + "bc");
    EXPECT_EQ(Str(Sdbfile::_Pack(ListOf({}))), "0" + Z);
}

struct UnpackRow {
    std::string data;
    bool defined;
    std::vector<std::string> items;
};

TEST(SdbfileEncoding, BinaryDecoderStopsCleanlyOnHostileData) {
    const UnpackRow rows[] = {
        {"", false, {}},
        {"abc", false, {}},  // no count
        {"12", false, {}},   // count not followed by a zero byte
        {"3x", false, {}},
        {"0" + Z, true, {}},
        {"2" + Z + "1" + Z + "a" + "5" + Z + "bc", true, {"a"}},  // second runs past the end
        {"99999999999999999999999" + Z + "1" + Z + "a", true, {"a"}},
        {"1" + Z + "99999999999999" + Z + "abc", true, {}},
        {"3" + Z + "1" + Z + "a" + "1", true, {"a"}},  // length without its separator
        {"2" + Z + "1xa1yb", true, {"a", "b"}},         // any separator byte is skipped
        {"1" + Z + "0", true, {}},
        {"1" + Z + "0" + Z, true, {""}},
        {"1" + Z + Z + "ab", true, {""}},  // no length digits: an empty element
    };
    for (const UnpackRow& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.data));
        SStringList l = Sdbfile::_Unpack(StoreDir::Sv(row.data));
        EXPECT_EQ(l.Defined(), row.defined);
        EXPECT_EQ(Items(l), row.items);
    }
    EXPECT_EQ(Items(Sdbfile::_UnpackText(StoreDir::Sv(Z + Z + "a"))),
              (std::vector<std::string>{"", "a"}));
    SStringList zeros = Sdbfile::_UnpackText(StoreDir::Sv(Z + Z + Z));
    EXPECT_TRUE(zeros.Defined());
    EXPECT_EQ(zeros.Count(), 0);
}

// ---- the file ------------------------------------------------------------------------

std::map<std::string, std::string> ReadAll(const std::string& file) {
    RawDb raw(file, false);
    EXPECT_TRUE(raw.Ok());
    return raw.Ok() ? raw.All() : std::map<std::string, std::string>();
}

// db_dump -p prints printable bytes as they are, a backslash doubled and any other
// byte as a backslash and two hex digits.
std::string Unescape(const std::string& line) {
    std::string out;
    for (size_t i = 1; i < line.size(); ++i) {  // a leading blank starts each line
        if (line[i] != '\\') {
            out += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (i + 2 < line.size()) {
            out += char(std::stoi(line.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

std::map<std::string, std::string> DumpWithTool(const std::string& file) {
    std::map<std::string, std::string> records;
    std::string command = "db5.3_dump -p '" + file + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return records;
    std::vector<std::string> lines;
    char buffer[8192];
    bool data = false;
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (line == "HEADER=END") data = true;
        else if (line == "DATA=END") data = false;
        else if (data) lines.push_back(line);
    }
    ::pclose(pipe);
    for (size_t i = 0; i + 1 < lines.size(); i += 2)
        records[Unescape(lines[i])] = Unescape(lines[i + 1]);
    return records;
}

TEST(SdbfileLayout, RecordsOfKeysValuesAndBothEncodings) {
    StoreDir dir;
    {
        Sdbfile store(dir.S(), "Layout", 1);
        ASSERT_TRUE(store.IsOpen());
        ASSERT_TRUE(store.Open("/Log", 1));
        EXPECT_EQ(Str(store.GetCurrentKey()), "/Log/");
        ASSERT_TRUE(store.Set("Subscriptions", ListOf({"yes"})));
        ASSERT_TRUE(store.Set("Bin", ListOf({"a" + Z + "b"})));
        store.CloseDB();
    }
    const std::map<std::string, std::string> expected = {
        {KeysRec("/"), Z + "Log"},
        {ValuesRec("/"), ""},
        {KeysRec("/Log/"), Z},
        {ValuesRec("/Log/"), Z + "Subscriptions" + Z + "Bin"},
        {"/Log/Subscriptions", Z + "yes"},
        {"/Log/Bin", "1" + Z + "3" + Z + "a" + Z + "b"},
    };
    EXPECT_EQ(ReadAll(dir.Path("Layout")), expected);
    if (std::system("command -v db5.3_dump >/dev/null 2>&1") == 0) {
        EXPECT_EQ(DumpWithTool(dir.Path("Layout")), expected);
    }

    mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st;
    ASSERT_EQ(::stat(dir.Path("Layout").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660 & ~mask);

    Sdbfile again(dir.S(), "Layout", 0);
    ASSERT_TRUE(again.Open("/Log", 0));
    EXPECT_EQ(Items(again.Get("Subscriptions")), std::vector<std::string>{"yes"});
    EXPECT_EQ(Items(again.Values()), (std::vector<std::string>{"Subscriptions", "Bin"}));
    EXPECT_FALSE(again.Get("").Defined());
    EXPECT_FALSE(again.Get("Missing").Defined());
}

std::string Element(int bytes, char fill) { return std::string(bytes, fill); }

TEST(SdbfileLayout, LongValuesBecomeAHeadAndChunks) {
    StoreDir dir;
    std::string file = dir.Path("Chunks");
    std::regex base("X([0-9]+)(\\x00Ovflw/" + std::to_string(::getpid()) + "\\.[0-9]+\\.[0-9]+)");
    Sdbfile store(dir.S(), "Chunks", 1);
    ASSERT_TRUE(store.IsOpen());
    // One element of n-1 bytes packs to n bytes (a zero byte before it).
    ASSERT_TRUE(store.Set("v1023", ListOf({Element(1022, 'a')})));
    ASSERT_TRUE(store.Set("v1024", ListOf({Element(1023, 'b')})));
    ASSERT_TRUE(store.Set("v2049", ListOf({Element(2048, 'c')})));
    store.CloseDB();

    std::map<std::string, std::string> all = ReadAll(file);
    EXPECT_EQ(all["/v1023"], Z + Element(1022, 'a'));
    std::smatch head1, head3;
    ASSERT_TRUE(std::regex_match(all["/v1024"], head1, base));
    EXPECT_EQ(head1[1], "1");
    EXPECT_EQ(all[head1[2].str() + ".1"], Z + Element(1023, 'b'));
    EXPECT_EQ(all.count(head1[2].str() + ".2"), 0u);
    ASSERT_TRUE(std::regex_match(all["/v2049"], head3, base));
    EXPECT_EQ(head3[1], "3");
    EXPECT_NE(head1[2], head3[2]);
    std::string chunked = Z + Element(2048, 'c');
    EXPECT_EQ(all[head3[2].str() + ".1"], chunked.substr(0, 1024));
    EXPECT_EQ(all[head3[2].str() + ".2"], chunked.substr(1024, 1024));
    EXPECT_EQ(all[head3[2].str() + ".3"], chunked.substr(2048));
    std::string chunkBase = head3[2].str();

    // Three chunks replaced by two: the head keeps its base name, chunk 3 goes.
    ASSERT_TRUE(store.Open("/", 1));
    ASSERT_TRUE(store.Set("v2049", ListOf({Element(1500, 'd')})));
    EXPECT_EQ(Items(store.Get("v2049")), std::vector<std::string>{Element(1500, 'd')});
    store.CloseDB();
    all = ReadAll(file);
    EXPECT_EQ(all["/v2049"], "X2" + chunkBase);
    EXPECT_EQ(all.count(chunkBase + ".3"), 0u);
    EXPECT_EQ(all[chunkBase + ".2"], (Z + Element(1500, 'd')).substr(1024));

    // A short value replaces the head and its chunks; a deleted value takes its chunks.
    ASSERT_TRUE(store.Open("/", 1));
    ASSERT_TRUE(store.Set("v2049", ListOf({"short"})));
    ASSERT_TRUE(store.DeleteValue("v1024"));
    EXPECT_FALSE(store.Get("v1024").Defined());
    EXPECT_EQ(Items(store.Values()), (std::vector<std::string>{"v1023", "v2049"}));
    store.CloseDB();
    all = ReadAll(file);
    EXPECT_EQ(all["/v2049"], Z + "short");
    for (const auto& record : all)
        EXPECT_EQ(record.first.find("Ovflw"), std::string::npos) << record.first;
    EXPECT_EQ(all.count("/v1024"), 0u);
}

TEST(SdbfileValues, NamesAreAppendedOnceAndAnExistingNameDoesNotRewriteTheList) {
    StoreDir dir;
    std::string file = dir.Path("Names");
    {
        Sdbfile store(dir.S(), "Names", 1);
        ASSERT_TRUE(store.Set("a", ListOf({"1"})));
        ASSERT_TRUE(store.Set("b", ListOf({"2"})));
        ASSERT_TRUE(store.Set("a", ListOf({"3"})));
        EXPECT_EQ(Items(store.Values()), (std::vector<std::string>{"a", "b"}));
    }
    // Store the same name list in the other encoding: a Set of a listed name must
    // leave those bytes alone, a new name must rewrite them.
    std::string binary = "2" + Z + "1" + Z + "a" + "1" + Z + "b";
    {
        RawDb raw(file, false, true);
        ASSERT_TRUE(raw.Put(ValuesRec("/"), binary));
    }
    Sdbfile store(dir.S(), "Names", 1);
    ASSERT_TRUE(store.Set("b", ListOf({"4"})));
    store.CloseDB();
    EXPECT_EQ(ReadAll(file)[ValuesRec("/")], binary);
    ASSERT_TRUE(store.Open("/", 1));
    ASSERT_TRUE(store.Set("c", ListOf({"5"})));
    store.CloseDB();
    EXPECT_EQ(ReadAll(file)[ValuesRec("/")], Z + "a" + Z + "b" + Z + "c");
    ASSERT_TRUE(store.Open("/", 1));
    EXPECT_FALSE(store.DeleteValue("zz"));
    EXPECT_TRUE(store.DeleteValue("b"));
    EXPECT_EQ(Items(store.Values()), (std::vector<std::string>{"a", "c"}));
    // Names that are prefixes or tails of listed names are names of their own.
    for (const char* name : {"xc", "x", "x", "c", "xc", "cx"})
        ASSERT_TRUE(store.Set(name, ListOf({"v"})));
    EXPECT_EQ(Items(store.Values()), (std::vector<std::string>{"a", "c", "xc", "x", "cx"}));
}

// ---- keys ----------------------------------------------------------------------------

TEST(SdbfileKeys, WriteOpenCreatesTheChainAndReadOpenOnlyFindsIt) {
    StoreDir dir;
    std::string file = dir.Path("Chain");
    Sdbfile store(dir.S(), "Chain", 1);
    ASSERT_TRUE(store.Open("a/b", 1));
    EXPECT_EQ(Str(store.GetCurrentKey()), "/a/b/");
    store.CloseDB();
    const std::map<std::string, std::string> expected = {
        {KeysRec("/"), Z + "a"},    {ValuesRec("/"), ""},    {KeysRec("/a/"), Z + "b"},
        {ValuesRec("/a/"), ""},     {KeysRec("/a/b/"), Z},   {ValuesRec("/a/b/"), ""},
    };
    EXPECT_EQ(ReadAll(file), expected);

    ASSERT_TRUE(store.Open("/a/b", 0));
    SStringList keys = store.Keys();
    EXPECT_TRUE(keys.Defined());
    EXPECT_EQ(keys.Count(), 0);
    EXPECT_FALSE(store.Open("/a/c", 0));
    EXPECT_EQ(Str(store.GetCurrentKey()), "/a/c/");  // moved even though it failed
    EXPECT_TRUE(store.Open("/", 0));
    EXPECT_TRUE(store.Open("a", 0));  // relative to the current key
    EXPECT_EQ(Str(store.GetCurrentKey()), "/a/");
    EXPECT_FALSE(store.Open("", 0));

    // A second sub-key is appended to the parent's list.
    ASSERT_TRUE(store.Open("/a/c", 1));
    ASSERT_TRUE(store.Open("/a", 1));
    EXPECT_EQ(Items(store.Keys()), (std::vector<std::string>{"b", "c"}));
}

TEST(SdbfileKeys, DeleteKeyRefusesParentsAndRecursiveDeleteRemovesEverything) {
    StoreDir dir;
    std::string file = dir.Path("Tree");
    Sdbfile store(dir.S(), "Tree", 1);
    ASSERT_TRUE(store.Open("/top", 1));
    ASSERT_TRUE(store.Set("keep", ListOf({"1"})));
    ASSERT_TRUE(store.Open("/a/b/c", 1));
    ASSERT_TRUE(store.Set("deep", ListOf({Element(3000, 'x')})));  // chunked
    ASSERT_TRUE(store.Open("/a", 1));
    ASSERT_TRUE(store.Set("mid", ListOf({"m"})));

    ASSERT_TRUE(store.Open("/", 1));
    EXPECT_FALSE(store.DeleteKey("a"));  // still has sub-key b
    EXPECT_EQ(Str(store.GetCurrentKey()), "/");
    EXPECT_FALSE(store.DeleteKey("nothere"));
    EXPECT_EQ(Items(store.Keys()), (std::vector<std::string>{"top", "a"}));

    ASSERT_TRUE(store.RecursiveDeleteKey("/", "a"));
    EXPECT_EQ(Items(store.Keys()), std::vector<std::string>{"top"});
    EXPECT_FALSE(store.Open("/a", 0));
    store.CloseDB();
    for (const auto& record : ReadAll(file)) {
        EXPECT_NE(record.first.substr(0, 3), "/a/") << record.first;
        EXPECT_EQ(record.first.find("Ovflw"), std::string::npos);
    }

    // Deleting the last sub-key leaves a defined, empty list: the parent still exists
    // and keeps its value names when a sub-key is made again.
    ASSERT_TRUE(store.Open("/top/x", 1));
    ASSERT_TRUE(store.Open("/top", 1));
    ASSERT_TRUE(store.DeleteKey("x"));
    SStringList keys = store.Keys();
    EXPECT_TRUE(keys.Defined());
    EXPECT_EQ(keys.Count(), 0);
    ASSERT_TRUE(store.Open("/top/y", 1));
    ASSERT_TRUE(store.Open("/top", 0));
    EXPECT_EQ(Items(store.Values()), std::vector<std::string>{"keep"});
    EXPECT_EQ(Items(store.Get("keep")), std::vector<std::string>{"1"});
    EXPECT_FALSE(store.RecursiveDeleteKey("/", ""));
}

// ---- closed stores and bad records -------------------------------------------------------

TEST(SdbfileFailures, AStoreWithoutItsDirectoryStaysClosedAndEveryCallFails) {
    StoreDir dir;
    Sdbfile store(dir.S("missing"), "Store", 1);
    EXPECT_FALSE(store.IsOpen());
    EXPECT_FALSE(store.Get("a").Defined());
    EXPECT_FALSE(store.Set("a", ListOf({"1"})));
    EXPECT_FALSE(store.Keys().Defined());
    EXPECT_FALSE(store.Values().Defined());
    EXPECT_FALSE(store.DeleteValue("a"));
    EXPECT_FALSE(store.DeleteKey("a"));
    EXPECT_FALSE(store.Open("/a", 1));
    EXPECT_FALSE(store.RecursiveDeleteKey("/", "a"));
    EXPECT_TRUE(store.Lock(1));
    EXPECT_FALSE(store.Open("/", 1));
    EXPECT_TRUE(store.Unlock());
    EXPECT_FALSE(std::filesystem::exists(dir.Path("missing")));

    for (const char* bad : {"a/b", "a\\b", ""}) {
        Sdbfile named(dir.S(), bad, 1);
        EXPECT_FALSE(named.IsOpen()) << bad;
        EXPECT_FALSE(named.Open("/", 1)) << bad;
    }
    Sdbfile noDir(SString(""), "Store", 1);
    EXPECT_FALSE(noDir.IsOpen());
}

TEST(SdbfileFailures, EnvironmentConstructorFindsTheConfigDirectory) {
    StoreDir dir;
    std::filesystem::create_directories(dir.Path("config"));
    ::setenv("QuillboxStoreTest", dir.Path().c_str(), 1);
    {
        Sdbfile store("/sub/Named", 1, "QuillboxStoreTest");
        ASSERT_TRUE(store.IsOpen());
        ASSERT_TRUE(store.Set("v", ListOf({"1"})));
    }
    EXPECT_TRUE(std::filesystem::exists(dir.Path("config/Named")));
    Sdbfile reader("Named", 0, "QuillboxStoreTest");
    EXPECT_EQ(Items(reader.Get("v")), std::vector<std::string>{"1"});
    for (const char* key : {"", "Quill/box", "Quill\\box"}) {
        Sdbfile bad("Named", 0, key);
        EXPECT_FALSE(bad.IsOpen()) << key;
        EXPECT_FALSE(bad.Get("v").Defined()) << key;
    }
    ::unsetenv("QuillboxStoreTest");
}

TEST(SdbfileFailures, HostileRecordsGiveUndefinedOrShortenedLists) {
    StoreDir dir;
    std::string file = dir.Path("Hostile");
    {
        Sdbfile store(dir.S(), "Hostile", 1);
        ASSERT_TRUE(store.Set("seed", ListOf({"1"})));
    }
    std::string base = Z + "Ovflw/evil";
    {
        RawDb raw(file, false, true);
        ASSERT_TRUE(raw.Put("/absurd", "X99999999999999999999" + Z + "Ovflw/none"));
        ASSERT_TRUE(raw.Put("/gap", "X3" + base));
        ASSERT_TRUE(raw.Put(base + ".1", Z + "ab"));
        ASSERT_TRUE(raw.Put(base + ".3", Z + "zz"));
        ASSERT_TRUE(raw.Put("/count", "5" + Z + "1" + Z + "a"));
        ASSERT_TRUE(raw.Put("/bare", "X"));
        ASSERT_TRUE(raw.Put("/self", "X2" + Z + "s"));
        ASSERT_TRUE(raw.Put(Z + "s.1", "X2" + Z + "s"));
        ASSERT_TRUE(raw.Put("/digits", "12345"));
    }
    Sdbfile store(dir.S(), "Hostile", 1);
    EXPECT_FALSE(store.Get("absurd").Defined());
    EXPECT_EQ(Items(store.Get("gap")), std::vector<std::string>{"ab"});  // chunk 2 missing
    EXPECT_EQ(Items(store.Get("count")), std::vector<std::string>{"a"});
    EXPECT_FALSE(store.Get("bare").Defined());
    EXPECT_FALSE(store.Get("self").Defined());
    EXPECT_FALSE(store.Get("digits").Defined());
    // Overwriting or deleting under an absurd head ends at the first missing chunk.
    ASSERT_TRUE(store.Set("absurd", ListOf({"fine"})));
    EXPECT_EQ(Items(store.Get("absurd")), std::vector<std::string>{"fine"});
    ASSERT_TRUE(store.Set("gap", ListOf({"x"})));
    ASSERT_TRUE(store.DeleteValue("gap"));
    store.CloseDB();
    std::map<std::string, std::string> all = ReadAll(file);
    EXPECT_EQ(all.count(base + ".1"), 0u);
    EXPECT_EQ(all.count(base + ".3"), 1u);  // unreachable after the gap: left alone
}

// ---- locks between processes -------------------------------------------------------------

TEST(SdbfileLocks, WritersInsideLockLoseNoIncrement) {
    StoreDir dir;
    {
        Sdbfile store(dir.S(), "Counter", 1);
        ASSERT_TRUE(store.Set("n", ListOf({"0"})));
    }
    const int writers = 3, rounds = 20;
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
        children.push_back(Spawn([&dir] {
            Sdbfile store(dir.S(), "Counter", 0);
            for (int i = 0; i < rounds; ++i) {
                store.Lock(1);
                if (!store.Open("/", 1)) return 1;
                int n = std::atoi(store.Get("n").Get(0).Chars());
                if (!store.Set("n", ListOf({std::to_string(n + 1)}))) return 2;
                store.Unlock();
            }
            return 0;
        }));
    }
    for (pid_t child : children) EXPECT_EQ(WaitStatus(child), 0);
    Sdbfile store(dir.S(), "Counter", 0);
    EXPECT_EQ(Items(store.Get("n")), std::vector<std::string>{std::to_string(writers * rounds)});
}

// Value i is one element: "i:" then a fill letter repeated to a length that depends on
// i, so a reader can tell a whole value from a mix of two.
std::string TornValue(int i) {
    std::string prefix = std::to_string(i) + ":";
    return prefix + std::string(1200 + (i % 4) * 700, char('a' + i % 26));
}

bool WholeValue(const std::string& v) {
    size_t colon = v.find(':');
    if (colon == std::string::npos) return false;
    return v == TornValue(std::atoi(v.substr(0, colon).c_str()));
}

TEST(SdbfileLocks, ReadersNeverSeeATornChunkedValueAndSeeEveryLaterOne) {
    StoreDir dir;
    {
        Sdbfile store(dir.S(), "Torn", 1);
        ASSERT_TRUE(store.Set("big", ListOf({TornValue(0)})));
    }
    const int last = 120;
    auto reader = [&dir] {
        Sdbfile store(dir.S(), "Torn", 0);  // kept open: its cache must follow the writer
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::string seen;
        while (std::chrono::steady_clock::now() < deadline) {
            std::vector<std::string> items = Items(store.Get("big"));
            if (items.size() != 1 || !WholeValue(items[0])) return 1;
            if (items[0] == TornValue(last)) return 0;
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        return 2;
    };
    pid_t r1 = Spawn(reader), r2 = Spawn(reader);
    pid_t writer = Spawn([&dir] {
        Sdbfile store(dir.S(), "Torn", 1);
        for (int i = 1; i <= last; ++i)
            if (!store.Set("big", ListOf({TornValue(i)}))) return 1;
        return 0;
    });
    EXPECT_EQ(WaitStatus(writer), 0);
    EXPECT_EQ(WaitStatus(r1), 0);
    EXPECT_EQ(WaitStatus(r2), 0);
}

TEST(SdbfileLocks, TheWholeFileLockSurvivesOpensAndClosesOfOtherHandles) {
    StoreDir dir;
    std::string file = dir.Path("Two");
    Sdbfile a(dir.S(), "Two", 1);
    ASSERT_TRUE(a.Set("x", ListOf({"1"})));
    EXPECT_TRUE(LockFreeElsewhere(file, true));

    a.Lock(1);
    ASSERT_TRUE(a.Open("/", 1));  // the library opens and closes descriptors meanwhile
    EXPECT_FALSE(LockFreeElsewhere(file, false));
    {
        // A second handle in this process neither blocks on the lock nor drops it,
        // while it opens, reads and closes.
        Sdbfile b(dir.S(), "Two", 0);
        ASSERT_TRUE(b.IsOpen());
        EXPECT_EQ(Items(b.Get("x")), std::vector<std::string>{"1"});
        EXPECT_FALSE(LockFreeElsewhere(file, false));
    }
    EXPECT_FALSE(LockFreeElsewhere(file, false));
    ASSERT_TRUE(a.Set("x", ListOf({"2"})));
    a.Unlock();
    EXPECT_TRUE(LockFreeElsewhere(file, true));

    // A shared Lock lets other readers in and keeps writers out.
    a.Lock(0);
    ASSERT_TRUE(a.Open("/", 0));
    EXPECT_TRUE(LockFreeElsewhere(file, false));
    EXPECT_FALSE(LockFreeElsewhere(file, true));
    a.Unlock();
    EXPECT_TRUE(LockFreeElsewhere(file, true));
}

TEST(SdbfileLocks, AnOpenWaitsForTheWriterBeforeReadingTheFile) {
    StoreDir dir;
    Sdbfile a(dir.S(), "Wait", 1);
    ASSERT_TRUE(a.Set("v", ListOf({"1"})));
    a.Lock(1);
    ASSERT_TRUE(a.Open("/", 1));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = Spawn([&] {
        ::close(ready[0]);
        Sdbfile reader(dir.S(), "Wait", 0);  // blocks in the open until the unlock
        char done = 'x';
        if (::write(ready[1], &done, 1) != 1) return 3;
        return Items(reader.Get("v")) == std::vector<std::string>{"2"} ? 0 : 1;
    });
    ::close(ready[1]);
    struct pollfd wait = {ready[0], POLLIN, 0};
    EXPECT_EQ(::poll(&wait, 1, 300), 0);  // still waiting while we hold the lock
    ASSERT_TRUE(a.Set("v", ListOf({"2"})));
    a.Unlock();
    EXPECT_EQ(WaitStatus(child), 0);
    ::close(ready[0]);
}

TEST(SdbfileLocks, AForkedChildUsesAnInheritedStoreWithLocksOfItsOwn) {
    StoreDir dir;
    Sdbfile store(dir.S(), "Forked", 1);
    ASSERT_TRUE(store.Set("k", ListOf({"parent"})));
    pid_t child = Spawn([&store] {
        if (Items(store.Get("k")) != std::vector<std::string>{"parent"}) return 1;
        return store.Set("k", ListOf({"child"})) ? 0 : 2;
    });
    EXPECT_EQ(WaitStatus(child), 0);
    EXPECT_EQ(Items(store.Get("k")), std::vector<std::string>{"child"});
    // The parent's lock still works against other processes after the child is gone.
    store.Lock(1);
    ASSERT_TRUE(store.Open("/", 1));
    EXPECT_FALSE(LockFreeElsewhere(dir.Path("Forked"), false));
    store.Unlock();
}

}  // namespace
