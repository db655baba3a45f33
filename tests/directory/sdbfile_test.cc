// Tests of the keyed configuration store: the two packed encodings and their decoding
// rules, the exact records a store leaves in its hash file (read back raw through the
// database library and through the db5.3_dump tool), chunks, key chains, damaged
// records, closed stores, where relative store names lead (for SBTree files too), and
// the whole-file locks between processes.
#include "Sdbfile.h"

#include <sched.h>
#include <sys/mount.h>

#include <chrono>
#include <memory>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "SBTree.h"
#include "StoreTestTools.h"

namespace {

const std::string Z("\0", 1);

std::string KeysRec(const std::string& path) { return path + Z + "Keys"; }
std::string ValuesRec(const std::string& path) { return path + Z + "Values"; }
Records ReadAll(const std::string& file) { return RawDb(file, false).All(); }

TEST(SdbfileEncoding, PicksTextOrBinaryAndReadsBackByTheDecodingRules) {
    // A list, the bytes stored for it, and what reads back.
    const struct { std::vector<std::string> list; std::string stored, back; } rows[] = {
        {{"a", "bc"}, Z + "a" + Z + "bc", "[a][bc]"},
        {{"a", "", "b"}, Z + "a" + Z + Z + "b", "[a][][b]"},
        {{"a", ""}, Z + "a" + Z, "[a]"},  // trailing empties are lost
        {{""}, Z, ""},                     // one empty element: defined, empty
        {{}, "", "undef:"},                // empty list: zero bytes, undefined
        {{"a" + Z + "b"}, "1" + Z + "3" + Z + "a" + Z + "b", "[a" + Z + "b]"},
        {{"x", "", "y" + Z}, "3" + Z + "1" + Z + "x0" + Z + "2" + Z + "y" + Z, "[x][][y" + Z + "]"},
        {{Z, ""}, "2" + Z + "1" + Z + Z + "0" + Z, "[" + Z + "][]"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.stored));
        SString stored = Sdbfile::_Encode(ListOf(row.list));
        EXPECT_EQ(Str(stored), row.stored);
        EXPECT_EQ(Bracketed(Sdbfile::_Decode(stored)), row.back);
    }
    EXPECT_EQ(Str(Sdbfile::_Pack(ListOf({"a", "bc"}))), "2" + Z + "1" + Z + "a" + "2" + Z + "bc");
    EXPECT_EQ(Str(Sdbfile::_Pack(ListOf({}))), "0" + Z);
}

TEST(SdbfileEncoding, BinaryDecoderStopsCleanlyOnHostileData) {
    const std::pair<std::string, std::string> rows[] = {
        {"", "undef:"}, {"abc", "undef:"},  // no count
        {"12", "undef:"}, {"3x", "undef:"},  // count not followed by a zero byte
        {"0" + Z, ""}, {"1" + Z + "0", ""}, {"1" + Z + "0" + Z, "[]"},
        {"2" + Z + "1" + Z + "a" + "5" + Z + "bc", "[a]"},  // second runs past the end
        {"99999999999999999999999" + Z + "1" + Z + "a", "[a]"},
        {"1" + Z + "99999999999999" + Z + "abc", ""},
        {"3" + Z + "1" + Z + "a" + "1", "[a]"},  // length without its separator
        {"2" + Z + "1xa1yb", "[a][b]"},          // any separator byte is skipped
        {"1" + Z + Z + "ab", "[]"},              // no length digits: an empty element
    };
    for (const auto& [data, back] : rows)
        EXPECT_EQ(Bracketed(Sdbfile::_Unpack(S(data))), back) << testing::PrintToString(data);
    EXPECT_EQ(Bracketed(Sdbfile::_UnpackText(S(Z + Z + "a"))), "[][a]");
    EXPECT_EQ(Bracketed(Sdbfile::_UnpackText(S(Z + Z + Z))), "");
}

// ---- the file ------------------------------------------------------------------------

const char* const kDumpTool = "/usr/bin/db5.3_dump";

// The tool prints each key and each value on a line of its own: a blank, then two hex
// digits a byte.
std::string Unhex(const std::string& line) {
    std::string out;
    for (size_t i = 1; i + 1 < line.size(); i += 2)
        out += char(std::stoi(line.substr(i, 2), nullptr, 16));
    return out;
}

Records DumpWithTool(const std::string& file) {
    std::istringstream out(qbtest::RunProgram({kDumpTool, file}).out);
    std::vector<std::string> lines;
    bool data = false;
    for (std::string line; std::getline(out, line);) {
        if (line == "HEADER=END" || line == "DATA=END") data = line[0] == 'H';
        else if (data) lines.push_back(Unhex(line));
    }
    Records records;
    for (size_t i = 0; i + 1 < lines.size(); i += 2) records[lines[i]] = lines[i + 1];
    return records;
}

// Opens `path` for writing and stores a one-element value there.
bool SetAt(Sdbfile& store, const std::string& path, const std::string& name,
           const std::string& value) {
    return store.Open(S(path), 1) && store.Set(S(name), ListOf({value}));
}

TEST(SdbfileLayout, KeyChainsValuesAndBothEncodingsAsRecords) {
    TempDir dir("store");
    {
        Sdbfile store(dir.SPath(), "Layout", 1);
        ASSERT_TRUE(store.IsOpen());
        ASSERT_TRUE(store.Open("Log/Day", 1));  // a write open makes the whole chain
        EXPECT_EQ(Str(store.GetCurrentKey()), "/Log/Day/");
        ASSERT_TRUE(store.Set("Subscriptions", ListOf({"yes"})));
        ASSERT_TRUE(store.Set("Bin", ListOf({"a" + Z + "b"})));
    }
    const std::string day = "/Log/Day/";
    const Records expected = {
        {KeysRec("/"), Z + "Log"}, {ValuesRec("/"), ""},
        {KeysRec("/Log/"), Z + "Day"}, {ValuesRec("/Log/"), ""},
        {KeysRec(day), Z}, {ValuesRec(day), Z + "Subscriptions" + Z + "Bin"},
        {day + "Subscriptions", Z + "yes"}, {day + "Bin", "1" + Z + "3" + Z + "a" + Z + "b"},
    };
    EXPECT_EQ(ReadAll(dir.Path("Layout")), expected);
    if (std::filesystem::exists(kDumpTool)) {
        EXPECT_EQ(DumpWithTool(dir.Path("Layout")), expected);
    }
    EXPECT_EQ(ModeOf(dir.Path("Layout")), Masked(0660));

    // A read open only finds keys; a failed one still moves the current key.
    Sdbfile store(dir.SPath(), "Layout", 0);
    ASSERT_TRUE(store.Open("/Log/Day", 0));
    EXPECT_EQ(Bracketed(store.Get("")), "undef:");
    EXPECT_EQ(Bracketed(store.Get("Missing")), "undef:");
    EXPECT_EQ(Bracketed(store.Keys()), "");
    EXPECT_FALSE(store.Open("/Log/Night", 0));
    EXPECT_EQ(Str(store.GetCurrentKey()), "/Log/Night/");
    EXPECT_TRUE(store.Open("/", 0));
    EXPECT_TRUE(store.Open("Log", 0));  // relative to the current key
    EXPECT_EQ(Str(store.GetCurrentKey()), "/Log/");
    EXPECT_FALSE(store.Open("", 0));
    // A second sub-key is appended to the parent's list.
    ASSERT_TRUE(store.Open("/Log/Night", 1));
    ASSERT_TRUE(store.Open("/Log", 1));
    EXPECT_EQ(Bracketed(store.Keys()), "[Day][Night]");
}

TEST(SdbfileLayout, LongValuesBecomeAHeadAndChunks) {
    TempDir dir("store");
    std::string file = dir.Path("Chunks");
    std::regex head("X([0-9]+)(\\x00Ovflw/" + std::to_string(::getpid()) + "\\.[0-9]+\\.[0-9]+)");
    Sdbfile store(dir.SPath(), "Chunks", 1);
    // One element of n-1 bytes packs to n bytes (a zero byte before it).
    const std::string a(1022, 'a'), b(1023, 'b'), c(2048, 'c'), d(1500, 'd');
    for (const std::string* v : {&a, &b, &c})
        ASSERT_TRUE(SetAt(store, "/", "v" + std::to_string(v->size() + 1), *v));
    store.CloseDB();
    Records all = ReadAll(file);
    std::smatch head1, head3;
    ASSERT_TRUE(std::regex_match(all["/v1024"], head1, head)) << all["/v1024"];
    ASSERT_TRUE(std::regex_match(all["/v2049"], head3, head)) << all["/v2049"];
    const std::string base1 = head1[2], base = head3[2];
    EXPECT_NE(base1, base);
    Records expected = {
        {KeysRec("/"), Z}, {ValuesRec("/"), Z + "v1023" + Z + "v1024" + Z + "v2049"},
        {"/v1023", Z + a}, {"/v1024", "X1" + base1}, {base1 + ".1", Z + b},
        {"/v2049", "X3" + base}, {base + ".1", (Z + c).substr(0, 1024)},
        {base + ".2", (Z + c).substr(1024, 1024)}, {base + ".3", (Z + c).substr(2048)},
    };
    EXPECT_EQ(all, expected);

    // Three chunks replaced by two: the head keeps its base name, chunk 3 goes.
    ASSERT_TRUE(SetAt(store, "/", "v2049", d));
    EXPECT_EQ(Bracketed(store.Get("v2049")), "[" + d + "]");
    store.CloseDB();
    expected["/v2049"] = "X2" + base;
    expected[base + ".1"] = (Z + d).substr(0, 1024);
    expected[base + ".2"] = (Z + d).substr(1024);
    expected.erase(base + ".3");
    EXPECT_EQ(ReadAll(file), expected);

    // A short value replaces the head and its chunks; a deleted value takes its chunks.
    ASSERT_TRUE(SetAt(store, "/", "v2049", "short"));
    ASSERT_TRUE(store.DeleteValue("v1024"));
    store.CloseDB();
    expected = {{KeysRec("/"), Z}, {ValuesRec("/"), Z + "v1023" + Z + "v2049"},
                {"/v1023", Z + a}, {"/v2049", Z + "short"}};
    EXPECT_EQ(ReadAll(file), expected);
}

TEST(SdbfileValues, NamesAreAppendedOnceAndAnExistingNameDoesNotRewriteTheList) {
    TempDir dir("store");
    std::string file = dir.Path("Names");
    Sdbfile store(dir.SPath(), "Names", 1);
    for (const char* name : {"a", "b", "a"}) ASSERT_TRUE(store.Set(name, ListOf({"1"})));
    EXPECT_EQ(Bracketed(store.Values()), "[a][b]");
    store.CloseDB();
    // Store the same name list in the other encoding: a Set of a listed name must
    // leave those bytes alone, a new name must rewrite them.
    const std::string binary = "2" + Z + "1" + Z + "a" + "1" + Z + "b";
    ASSERT_TRUE(RawDb(file, false, true).Put(ValuesRec("/"), binary));
    ASSERT_TRUE(SetAt(store, "/", "b", "4"));
    store.CloseDB();
    EXPECT_EQ(ReadAll(file)[ValuesRec("/")], binary);
    ASSERT_TRUE(SetAt(store, "/", "c", "5"));
    store.CloseDB();
    EXPECT_EQ(ReadAll(file)[ValuesRec("/")], Z + "a" + Z + "b" + Z + "c");
    ASSERT_TRUE(store.Open("/", 1));
    EXPECT_FALSE(store.DeleteValue("zz"));
    EXPECT_TRUE(store.DeleteValue("b"));
    EXPECT_EQ(Bracketed(store.Values()), "[a][c]");
    // Names that are prefixes or tails of listed names are names of their own.
    for (const char* name : {"xc", "x", "x", "c", "xc", "cx"})
        ASSERT_TRUE(store.Set(name, ListOf({"v"})));
    EXPECT_EQ(Bracketed(store.Values()), "[a][c][xc][x][cx]");
}

// ---- keys ----------------------------------------------------------------------------

TEST(SdbfileKeys, DeleteKeyRefusesParentsAndRecursiveDeleteRemovesEverything) {
    TempDir dir("store");
    Sdbfile store(dir.SPath(), "Tree", 1);
    ASSERT_TRUE(SetAt(store, "/top", "keep", "1"));
    ASSERT_TRUE(SetAt(store, "/a/b/c", "deep", std::string(3000, 'x')));  // chunked
    ASSERT_TRUE(SetAt(store, "/a", "mid", "m"));

    ASSERT_TRUE(store.Open("/", 1));
    EXPECT_FALSE(store.DeleteKey("a"));  // still has sub-key b
    EXPECT_EQ(Str(store.GetCurrentKey()), "/");
    EXPECT_FALSE(store.DeleteKey("nothere"));
    EXPECT_EQ(Bracketed(store.Keys()), "[top][a]");
    ASSERT_TRUE(store.RecursiveDeleteKey("/", "a"));
    EXPECT_EQ(Bracketed(store.Keys()), "[top]");
    EXPECT_FALSE(store.Open("/a", 0));
    store.CloseDB();
    for (const auto& record : ReadAll(dir.Path("Tree"))) {
        EXPECT_NE(record.first.substr(0, 3), "/a/") << record.first;
        EXPECT_EQ(record.first.find("Ovflw"), std::string::npos);
    }

    // Deleting the last sub-key leaves a defined, empty list: the parent still exists
    // and keeps its value names when a sub-key is made again.
    ASSERT_TRUE(store.Open("/top/x", 1));
    ASSERT_TRUE(store.Open("/top", 1));
    ASSERT_TRUE(store.DeleteKey("x"));
    EXPECT_EQ(Bracketed(store.Keys()), "");
    ASSERT_TRUE(store.Open("/top/y", 1));
    ASSERT_TRUE(store.Open("/top", 0));
    EXPECT_EQ(Bracketed(store.Values()), "[keep]");
    EXPECT_EQ(Bracketed(store.Get("keep")), "[1]");
    EXPECT_FALSE(store.RecursiveDeleteKey("/", ""));
}

// ---- closed stores and bad records -------------------------------------------------------

TEST(SdbfileFailures, AStoreWithoutItsDirectoryStaysClosedAndEveryCallFails) {
    TempDir dir("store");
    Sdbfile store(dir.SPath("missing"), "Store", 1);
    EXPECT_EQ(Bracketed(store.Get("a")) + Bracketed(store.Keys()) + Bracketed(store.Values()),
              "undef:undef:undef:");
    const bool results[] = {store.IsOpen(),       store.Set("a", ListOf({"1"})),
                            store.DeleteValue("a"), store.DeleteKey("a"),
                            store.Open("/a", 1),  store.RecursiveDeleteKey("/", "a")};
    for (size_t i = 0; i < std::size(results); ++i) EXPECT_FALSE(results[i]) << "call " << i;
    EXPECT_TRUE(store.Lock(1));
    EXPECT_FALSE(store.Open("/", 1));
    EXPECT_TRUE(store.Unlock());
    EXPECT_FALSE(std::filesystem::exists(dir.Path("missing")));

    for (const char* bad : {"a/b", "a\\b", ""}) {
        Sdbfile named(dir.SPath(), bad, 1);
        EXPECT_FALSE(named.IsOpen()) << bad;
        EXPECT_FALSE(named.Open("/", 1)) << bad;
    }
    EXPECT_FALSE(Sdbfile(SString(""), "Store", 1).IsOpen());
}

TEST(StoreNames, RelativeNamesLieInTheConfigDirectory) {
    TempDir dir("store");
    std::filesystem::create_directories(dir.Path("config"));
    qbtest::EnvGuard env;
    env.Set("Quillbox", dir.Path());
    env.Set("QuillboxStoreTest", dir.Path());
    SBTree tree("Rel.b");
    tree.LockWrite();
    EXPECT_TRUE(tree.Set("k", "v"));
    tree.UnlockWrite();
    tree.SetFilename("Other.b");  // closes: reads now look at the other file
    EXPECT_FALSE(tree.Get("k").Defined());
    EXPECT_FALSE(SBTree().Open());
    EXPECT_EQ(SBTree().LockRead(), -1);
    // A store's name keeps only its last component, under the named variable's root.
    ASSERT_TRUE(Sdbfile("/sub/Named", 1, "QuillboxStoreTest").Set("v", ListOf({"1"})));
    EXPECT_EQ(Bracketed(Sdbfile("Named", 0, "QuillboxStoreTest").Get("v")), "[1]");
    EXPECT_TRUE(std::filesystem::exists(dir.Path("config/Rel.b")));
    EXPECT_TRUE(std::filesystem::exists(dir.Path("config/Named")));
    for (const char* key : {"", "Quill/box", "Quill\\box"}) {
        Sdbfile bad("Named", 0, key);
        EXPECT_FALSE(bad.IsOpen()) << key;
        EXPECT_FALSE(bad.Get("v").Defined()) << key;
    }
}

TEST(SdbfileFailures, HostileRecordsGiveUndefinedOrShortenedLists) {
    TempDir dir("store");
    std::string file = dir.Path("Hostile");
    ASSERT_TRUE(Sdbfile(dir.SPath(), "Hostile", 1).Set("seed", ListOf({"1"})));
    const std::string base = Z + "Ovflw/evil";
    const Records damage = {
        {"/absurd", "X99999999999999999999" + Z + "Ovflw/none"},
        {"/gap", "X3" + base}, {base + ".1", Z + "ab"}, {base + ".3", Z + "zz"},  // no .2
        {"/count", "5" + Z + "1" + Z + "a"},  // five elements announced, one there
        {"/bare", "X"}, {"/self", "X2" + Z + "s"}, {Z + "s.1", "X2" + Z + "s"},
        {"/digits", "12345"},
    };
    {
        RawDb raw(file, false, true);
        for (const auto& [key, data] : damage) ASSERT_TRUE(raw.Put(key, data)) << key;
    }
    Sdbfile store(dir.SPath(), "Hostile", 1);
    const std::pair<const char*, const char*> reads[] = {
        {"absurd", "undef:"}, {"gap", "[ab]"}, {"count", "[a]"},
        {"bare", "undef:"},   {"self", "undef:"}, {"digits", "undef:"},
    };
    for (const auto& [name, back] : reads) EXPECT_EQ(Bracketed(store.Get(name)), back) << name;
    // Overwriting or deleting under an absurd head ends at the first missing chunk.
    ASSERT_TRUE(store.Set("absurd", ListOf({"fine"})));
    EXPECT_EQ(Bracketed(store.Get("absurd")), "[fine]");
    ASSERT_TRUE(store.Set("gap", ListOf({"x"})));
    ASSERT_TRUE(store.DeleteValue("gap"));
    store.CloseDB();
    Records all = ReadAll(file);
    EXPECT_EQ(all.count(base + ".1"), 0u);
    EXPECT_EQ(all.count(base + ".3"), 1u);  // unreachable after the gap: left alone
}

// ---- locks between processes -------------------------------------------------------------

TEST(SdbfileLocks, WritersInsideLockLoseNoIncrement) {
    TempDir dir("store");
    ASSERT_TRUE(Sdbfile(dir.SPath(), "Counter", 1).Set("n", ListOf({"0"})));
    const int writers = 3, rounds = 20;
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
        children.push_back(Spawn([&dir] {
            Sdbfile store(dir.SPath(), "Counter", 0);
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
    EXPECT_EQ(Bracketed(Sdbfile(dir.SPath(), "Counter", 0).Get("n")),
              "[" + std::to_string(writers * rounds) + "]");
}

// Value i is one element: "i:" then a fill letter repeated to a length that depends on
// i, so a reader can tell a whole value from a mix of two.
std::string TornValue(int i) {
    return std::to_string(i) + ":" + std::string(1200 + (i % 4) * 700, char('a' + i % 26));
}

TEST(SdbfileLocks, ReadersNeverSeeATornChunkedValueAndSeeEveryLaterOne) {
    TempDir dir("store");
    ASSERT_TRUE(Sdbfile(dir.SPath(), "Torn", 1).Set("big", ListOf({TornValue(0)})));
    const int last = 120;
    auto reader = [&dir] {
        Sdbfile store(dir.SPath(), "Torn", 0);  // kept open: its cache must follow the writer
        using Clock = std::chrono::steady_clock;
        for (auto deadline = Clock::now() + std::chrono::seconds(30); Clock::now() < deadline;) {
            std::vector<std::string> items = Items(store.Get("big"));
            if (items.size() != 1 || items[0] != TornValue(std::atoi(items[0].c_str()))) return 1;
            if (items[0] == TornValue(last)) return 0;
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        return 2;
    };
    pid_t r1 = Spawn(reader), r2 = Spawn(reader);
    pid_t writer = Spawn([&dir] {
        Sdbfile store(dir.SPath(), "Torn", 1);
        for (int i = 1; i <= last; ++i)
            if (!store.Set("big", ListOf({TornValue(i)}))) return 1;
        return 0;
    });
    EXPECT_EQ(WaitStatus(writer), 0);
    EXPECT_EQ(WaitStatus(r1), 0);
    EXPECT_EQ(WaitStatus(r2), 0);
}

TEST(SdbfileLocks, TheWholeFileLockSurvivesOpensAndClosesOfOtherHandles) {
    TempDir dir("store");
    std::string file = dir.Path("Two");
    Sdbfile a(dir.SPath(), "Two", 1);
    ASSERT_TRUE(a.Set("x", ListOf({"1"})));
    EXPECT_EQ(HeldLock(file), "none");
    a.Lock(1);
    ASSERT_TRUE(a.Open("/", 1));  // the library opens and closes descriptors meanwhile
    EXPECT_EQ(HeldLock(file), "exclusive");
    {
        // A second handle in this process neither blocks on the lock nor drops it,
        // while it opens, reads and closes.
        Sdbfile b(dir.SPath(), "Two", 0);
        ASSERT_TRUE(b.IsOpen());
        EXPECT_EQ(Bracketed(b.Get("x")), "[1]");
        EXPECT_EQ(HeldLock(file), "exclusive");
    }
    EXPECT_EQ(HeldLock(file), "exclusive");
    ASSERT_TRUE(a.Set("x", ListOf({"2"})));
    a.Unlock();
    EXPECT_EQ(HeldLock(file), "none");
    a.Lock(0);  // a shared Lock lets other readers in and keeps writers out
    ASSERT_TRUE(a.Open("/", 0));
    EXPECT_EQ(HeldLock(file), "shared");
    a.Unlock();
    EXPECT_EQ(HeldLock(file), "none");

    // A forked child uses the inherited open handle with locks of its own; afterwards
    // the parent's lock still works against other processes.
    ASSERT_TRUE(SetAt(a, "/", "x", "parent"));
    pid_t child = Spawn([&a] {
        if (Bracketed(a.Get("x")) != "[parent]") return 1;
        return a.Set("x", ListOf({"child"})) ? 0 : 2;
    });
    EXPECT_EQ(WaitStatus(child), 0);
    EXPECT_EQ(Bracketed(a.Get("x")), "[child]");
    a.Lock(1);
    ASSERT_TRUE(a.Open("/", 1));
    EXPECT_EQ(HeldLock(file), "exclusive");
    a.Unlock();
}

// ---- freshness of handles kept open ------------------------------------------------------

struct stat StatOf(const std::string& file) {
    struct stat st{};
    ::stat(file.c_str(), &st);
    return st;
}

// The file's change counter in shared memory.
std::string CounterOf(const std::string& file) {
    struct stat st = StatOf(file);
    return "/dev/shm/quillbox-db-" + std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino);
}

// Sets "v" of store "Hidden" to a value of the same length as before, then puts the
// file's modification time back while the store is still open (as a write within one
// clock tick would leave it): size and time then show nothing.
bool SetUnseen(Sdbfile& store, const std::string& file, const std::string& value) {
    struct stat before = StatOf(file);
    if (!store.Set("v", ListOf({value}))) return false;
    struct timespec times[2] = {before.st_atim, before.st_mtim};
    return ::utimensat(AT_FDCWD, file.c_str(), times, 0) == 0 &&
           StatOf(file).st_size == before.st_size;
}

bool SameTime(const struct stat& a, const struct stat& b) {
    return a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

TEST(SdbfileFreshness, AnOpenReaderSeesChangesThatSizeAndTimeDoNotShow) {
    TempDir dir("store");
    std::string file = dir.Path("Hidden");
    ASSERT_TRUE(Sdbfile(dir.SPath(), "Hidden", 1).Set("v", ListOf({"value-0"})));
    EXPECT_FALSE(std::filesystem::exists(CounterOf(file)));  // its last user removed it
    Sdbfile reader(dir.SPath(), "Hidden", 0);
    EXPECT_EQ(Bracketed(reader.Get("v")), "[value-0]");
    EXPECT_TRUE(std::filesystem::exists(CounterOf(file)));
    struct stat first = StatOf(file);
    for (int i = 1; i <= 3; ++i) {
        std::string value = "value-" + std::to_string(i);
        pid_t writer = Spawn([&] {
            Sdbfile store(dir.SPath(), "Hidden", 1);
            return SetUnseen(store, file, value) ? 0 : 1;
        });
        ASSERT_EQ(WaitStatus(writer), 0);
        EXPECT_TRUE(SameTime(StatOf(file), first));
        EXPECT_EQ(Bracketed(reader.Get("v")), "[" + value + "]");
    }
    // Its last user moves the time on before removing the counter, for readers that
    // had none and trust the time.
    reader.CloseDB();
    EXPECT_FALSE(std::filesystem::exists(CounterOf(file)));
    EXPECT_FALSE(SameTime(StatOf(file), first));
}

uint64_t CountOf(const std::string& file) {
    uint64_t count = ~0ull;
    int fd = ::open(CounterOf(file).c_str(), O_RDONLY);
    if (fd >= 0 && ::pread(fd, &count, sizeof count, 0) != sizeof count) count = ~0ull;
    if (fd >= 0) ::close(fd);
    return count;
}

// A writer counts its change before making it, so even one that dies half-way through
// (here: before anything reached the file) leaves no reader trusting its cache.
TEST(SdbfileFreshness, AWriterCountsItsChangeBeforeMakingIt) {
    TempDir dir("store");
    std::string file = dir.Path("Dying.b");
    SBTree tree(dir.SPath("Dying.b"));
    tree.LockWrite();
    ASSERT_TRUE(tree.Set("k", "1"));
    tree.UnlockWrite();
    ASSERT_EQ(Str(tree.Get("k")), "1");  // open: the counter stays
    uint64_t before = CountOf(file);
    pid_t dying = Spawn([&dir] {
        SBTree writer(dir.SPath("Dying.b"));
        writer.LockWrite();
        ::_exit(writer.Set("k", "2") ? 0 : 1);  // ends without closing: nothing flushed
        return 2;
    });
    ASSERT_EQ(WaitStatus(dying), 0);
    EXPECT_EQ(CountOf(file), before + 1);
    EXPECT_EQ(Str(tree.Get("k")), "1");
}

// A process that answers the test's one-letter requests with one line each, until 'q'.
class Peer {
public:
    explicit Peer(const std::function<std::string(char)>& answer) {
        int down[2], up[2];
        if (::pipe(down) != 0 || ::pipe(up) != 0) return;
        pid = Spawn([&] {
            ::close(down[1]);
            ::close(up[0]);
            char c;
            while (::read(down[0], &c, 1) == 1 && c != 'q') {
                std::string line = answer(c) + "\n";
                if (::write(up[1], line.data(), line.size()) != ssize_t(line.size())) return 1;
            }
            return 0;
        });
        ::close(down[0]);
        ::close(up[1]);
        to = down[1];
        from = up[0];
    }
    ~Peer() {
        Ask('q');
        ::close(to);
        ::close(from);
        WaitStatus(pid);
    }
    std::string Ask(char c) {
        std::string line;
        char ch;
        if (::write(to, &c, 1) != 1) return "?";
        while (::read(from, &ch, 1) == 1 && ch != '\n') line += ch;
        return line;
    }

private:
    pid_t pid = -1;
    int to = -1, from = -1;
};

// In a mount namespace of its own, /dev/shm stays visible but read-only: the process
// can neither make a counter nor bump one, like a process that may only read the
// database.  Needs the privilege to make namespaces.
bool ReadOnlySharedMemory() {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("/dev/shm", "/dev/shm", nullptr, MS_BIND, nullptr) == 0 &&
           ::mount(nullptr, "/dev/shm", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

TEST(SdbfileFreshness, AReaderThatCannotMakeTheCounterStillSeesEveryChange) {
    TempDir dir("store");
    std::string file = dir.Path("Hidden");
    ASSERT_TRUE(Sdbfile(dir.SPath(), "Hidden", 1).Set("v", ListOf({"value-0"})));
    // 'o' opens, 'g' reads, 'c' closes.
    auto reading = [&dir, store = std::shared_ptr<Sdbfile>()](char c) mutable -> std::string {
        if (c == 'o' && !ReadOnlySharedMemory()) return "no namespace";
        if (c == 'o') store = std::make_shared<Sdbfile>(dir.SPath(), "Hidden", 0);
        if (c == 'c') store.reset();
        return c == 'g' && store ? Bracketed(store->Get("v")) : "done";
    };
    Peer reader(reading);
    std::string opened = reader.Ask('o');
    if (opened != "done") GTEST_SKIP() << "cannot make a read-only /dev/shm: " << opened;
    EXPECT_EQ(reader.Ask('g'), "[value-0]");
    EXPECT_FALSE(std::filesystem::exists(CounterOf(file)));

    // A writer that is the counter's only user: its close moves the time on.
    pid_t writer = Spawn([&] {
        Sdbfile store(dir.SPath(), "Hidden", 1);
        return SetUnseen(store, file, "value-1") ? 0 : 1;
    });
    ASSERT_EQ(WaitStatus(writer), 0);
    EXPECT_EQ(reader.Ask('g'), "[value-1]");

    // A writer that stays open: the reader finds its counter, maps it to read, and
    // then follows it.  '2' and '3' set values, 'c' closes.
    auto writing = [&, store = std::shared_ptr<Sdbfile>()](char c) mutable -> std::string {
        if (!store) store = std::make_shared<Sdbfile>(dir.SPath(), "Hidden", 1);
        if (c == 'c') store.reset();
        return c == 'c' || SetUnseen(*store, file, std::string("value-") + c) ? "done" : "failed";
    };
    Peer open(writing);
    ASSERT_EQ(open.Ask('2'), "done");
    EXPECT_TRUE(std::filesystem::exists(CounterOf(file)));
    EXPECT_EQ(reader.Ask('g'), "[value-2]");
    ASSERT_EQ(open.Ask('3'), "done");
    EXPECT_EQ(reader.Ask('g'), "[value-3]");
    EXPECT_EQ(open.Ask('c'), "done");
    EXPECT_EQ(reader.Ask('c'), "done");
    // The reader could not remove the counter; the next user that may write does.
    EXPECT_TRUE(std::filesystem::exists(CounterOf(file)));
    EXPECT_EQ(Bracketed(Sdbfile(dir.SPath(), "Hidden", 0).Get("v")), "[value-3]");
    EXPECT_FALSE(std::filesystem::exists(CounterOf(file)));
}

// A writer kept open must not trust what it last wrote once somebody else, in this
// process or another, changed the key: the name may be unlisted, the value chunked.
TEST(SdbfileFreshness, AnOpenWriterSeesOthersChangesBeforeWriting) {
    TempDir dir("store");
    std::string file = dir.Path("Writer");
    Sdbfile writer(dir.SPath(), "Writer", 1);
    for (bool otherProcess : {false, true}) {
        SCOPED_TRACE(otherProcess ? "other process" : "same process");
        auto other = [&](const std::function<bool(Sdbfile&)>& change) {
            auto body = [&] {
                Sdbfile store(dir.SPath(), "Writer", 1);
                return change(store) ? 0 : 1;
            };
            return otherProcess ? WaitStatus(Spawn(body)) : body();
        };
        ASSERT_TRUE(writer.Set("v", ListOf({"1"})));
        ASSERT_EQ(other([](Sdbfile& s) { return s.DeleteValue("v"); }), 0);
        ASSERT_TRUE(writer.Set("v", ListOf({"2"})));
        EXPECT_EQ(Bracketed(writer.Values()), "[v]");
        ASSERT_EQ(other([](Sdbfile& s) { return s.Set("v", ListOf({std::string(3000, 'x')})); }), 0);
        ASSERT_TRUE(writer.Set("v", ListOf({"3"})));
        writer.CloseDB();
        const Records expected = {{ValuesRec("/"), Z + "v"}, {"/v", Z + "3"}};
        EXPECT_EQ(ReadAll(file), expected);  // no chunk left behind
        ASSERT_TRUE(writer.Open("/", 1));
    }
}

}  // namespace
