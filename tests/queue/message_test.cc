// Spool files: naming, the byte-exact control file format, trace, crash safety of
// writes (failed writes and a concurrent reader), deferral, removal and forking.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "QueueTestSupport.h"
#include "SMessage.h"

using namespace qbtest;
using namespace std::string_literals;

// A bare name lives in the spool's control directory; a path is used as it stands,
// the message name being its file name without "-Control".
TEST(ControlNames, NameOrPathDecideTheFile) {
    ScratchSpool spool;
    const std::string rows[][3] = {  // given, control file, message name
        {"abc", spool.Control("abc"), "abc"},
        {"/elsewhere/x/abc-Control", "/elsewhere/x/abc-Control", "abc"},
        {"sub/abc-Control", "sub/abc-Control", "abc"},
        {"/elsewhere/plain", "/elsewhere/plain", "plain"}};
    for (const auto& row : rows) {
        SControl control(S(row[0]));
        EXPECT_EQ(Str(control.GetControlFilename()) + " " + Str(control.GetFilename()) + " " +
                      Str(control.GetHeaderFilename()) + " " + Str(control.GetBodyFilename()),
                  row[1] + " " + row[2] + " " + spool.Header(row[2]) + " " + spool.Body(row[2]));
    }
}

// The control file text is fixed byte for byte: one "name value" line per value, LF
// line ends, fields in insertion order with "Trace:" moved to the end by each write.
TEST(ControlFile, WriteTwiceGivesGoldenTextAndTrace) {
    ScratchSpool spool;
    SControl control("m1");
    control["Function:"] = "Mailbox-Deliver";
    control["Trace:"] = "SMTP-Router";
    control["Control-Type:"] = "Mail";
    control["Deliver-To:"] = ListOf({"Mailbox u1", "Mailbox u2"});
    ASSERT_TRUE(control.Write());
    ASSERT_TRUE(control.Write());
    EXPECT_EQ(ReadFile(spool.Control("m1")),
              "Function: Mailbox-Deliver\nControl-Type: Mail\nDeliver-To: Mailbox u1\n"
              "Deliver-To: Mailbox u2\nTrace: SMTP-Router\nTrace: Test-Module\n"
              "Trace: Test-Module\n");
    EXPECT_EQ(control.GetTraceCount(), 2);
    EXPECT_FALSE(Exists(spool.Control("m1") + ".temp"));

    SControl again("m1");
    ASSERT_TRUE(again.Read());
    EXPECT_EQ(again.Keys(), control.Keys());
    EXPECT_EQ(again.Get("Trace:"), control.Get("Trace:"));
    EXPECT_EQ(again.GetTraceCount(), 2);

    // Assignment takes the name, the on-disk flag and all fields.
    SControl target("dst");
    target["Old:"] = "gone";
    target = again;
    EXPECT_EQ(Str(target.GetControlFilename()), spool.Control("m1"));
    EXPECT_TRUE(target.IsOnDisk());
    EXPECT_EQ(target.Keys(), control.Keys());
}

// Reading replaces all fields; a control without a name can neither be read nor
// written (error -11) until it reads from a path.
TEST(ControlFile, ReadReplacesAndNeedsAName) {
    ScratchSpool spool;
    WriteFile(spool.Control("empty"), "");
    SControl empty("empty"), unnamed;
    empty["Stale:"] = "x";
    EXPECT_TRUE(empty.Read());
    EXPECT_EQ(empty.Keys().Count(), 0);
    EXPECT_TRUE(empty.IsOnDisk());
    EXPECT_FALSE(unnamed.Read());
    EXPECT_FALSE(unnamed.Write());
    EXPECT_EQ(unnamed.GetErrorCode(), -11);
    EXPECT_FALSE(unnamed.IsOnDisk());
    EXPECT_TRUE(unnamed.Read(S(spool.Control("empty"))));
    EXPECT_EQ(unnamed.GetErrorCode(), 0);
}

// A write that fails leaves the old complete file and no ".temp" file.  The faults
// are real ones that also hold when the tests run as root (permissions would not).
TEST(ControlFileCrashSafety, FailedWritesKeepTheOldFile) {
    ScratchSpool spool;
    const std::string path = spool.Control("keep");
    const std::string old = "Function: Old\nTrace: Test-Module\n";
    WriteFile(path, old);

    // 1. The file system refuses to grow the file: a file size limit in a child.
    pid_t child = Spawn([] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{8, 8};
        setrlimit(RLIMIT_FSIZE, &limit);
        SControl control("keep");
        control["Function:"] = S(std::string(4096, 'x'));
        return control.Write() ? 1 : (control.IsOnDisk() ? 2 : 0);
    });
    EXPECT_EQ(WaitStatus(child), 0);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_FALSE(Exists(path + ".temp"));

    // 2. The rename cannot replace the target: a non-empty directory stands there.
    // 3. The directory does not exist.
    mkdir(spool.Control("blocked").c_str(), 0700);
    WriteFile(spool.Control("blocked") + "/inside", "keep me");
    for (const std::string& target : {spool.Control("blocked"), spool.Path("no/dir/x-Control")}) {
        SControl control(S(target));
        control["Function:"] = "New";
        EXPECT_FALSE(control.Write()) << target;
        EXPECT_FALSE(control.IsOnDisk());
        EXPECT_FALSE(Exists(target + ".temp"));
    }
    EXPECT_EQ(ReadFile(spool.Control("blocked") + "/inside"), "keep me");
    EXPECT_FALSE(Exists(spool.Path("no")));

    // 4. A stale ".temp" from an earlier crash is simply overwritten.
    WriteFile(path + ".temp", "Function: Half");
    SControl fresh("keep");
    fresh["Function:"] = "New";
    ASSERT_TRUE(fresh.Write());
    EXPECT_EQ(ReadFile(path), "Function: New\nTrace: Test-Module\n");
    EXPECT_FALSE(Exists(path + ".temp"));
}

// A reader running while another process rewrites the file again and again sees one
// of the two complete versions every time, never a mixture or a truncated file.
TEST(ControlFileCrashSafety, ConcurrentReaderNeverSeesPartialFile) {
    ScratchSpool spool;
    const int kValues[2] = {3, 300};
    auto fill = [&](SControl& c, int version) {
        c.Reset();
        c["Version:"] = SString(version);
        c["Recipient:"] = ListOf(std::vector<std::string>(kValues[version], "SMTP <u@a.org>"));
        c["End:"] = "end";
    };
    SControl first("race");
    fill(first, 0);
    ASSERT_TRUE(first.Write());
    pid_t writer = Spawn([&] {
        SControl c("race");
        for (int round = 0; round < 100; ++round) {
            fill(c, round % 2);
            if (!c.Write()) return 1;
        }
        return 0;
    });
    int reads = 0, bad = 0, status = 0;
    SControl reader("race");
    while (waitpid(writer, &status, WNOHANG) == 0 || reads < 50) {
        ASSERT_TRUE(reader.Read());
        ++reads;
        int version = static_cast<int>(static_cast<double>(reader.Get("Version:").Get(0)));
        bool whole = (version == 0 || version == 1) &&
                     reader.Get("Recipient:").Count() == kValues[version] &&
                     reader.Get("End:").Get(0) == "end" && reader.Get("Trace:").Count() == 1;
        bad += !whole;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
    EXPECT_FALSE(Exists(spool.Control("race") + ".temp"));
}

// A usable "Host-To:" is one directory level below the module's deferred directory;
// anything that could climb out of it files the control file directly there.
TEST(ControlDefer, MovesIntoHostOrModuleDirectory) {
    ScratchSpool spool;
    const char* rows[][2] = {  // "Host-To:" (nullptr: none), where the file goes
        {"mx.example.org", "mx.example.org/"}, {nullptr, ""}, {"", ""},
        {"../../escape", ""}, {"..", ""}, {".", ""}, {"a/b", ""}};
    int n = 0;
    for (const auto& row : rows) {
        const std::string name = "d" + std::to_string(n++);
        SControl control(S(name));
        control["Function:"] = "Test-Module";
        if (row[0]) control["Host-To:"] = row[0];
        ASSERT_TRUE(control.Write());
        EXPECT_TRUE(control.Defer()) << name;
        EXPECT_TRUE(Exists(spool.Path("deferred/Test-Module/") + row[1] + name + "-Control"))
            << name;
        EXPECT_FALSE(Exists(spool.Control(name)));
        // The control keeps its own file name; the caller wrote it before deferring.
        EXPECT_EQ(Str(control.GetControlFilename()), spool.Control(name));
    }
    EXPECT_FALSE(Exists(spool.Path("escape")));
    EXPECT_EQ(ListDir(spool.Path("deferred/Test-Module")).size(), 7u);

    SControl sub("d9");
    ASSERT_TRUE(sub.Write());
    EXPECT_TRUE(sub.Defer("later/"));
    EXPECT_TRUE(Exists(spool.Path("deferred/Test-Module/later/d9-Control")));

    // The deferred directory cannot be made: the file stays where it is.
    WriteFile(spool.Path("deferred/Test-Module/later/x"), "");
    SControl stay("stay");
    ASSERT_TRUE(stay.Write());
    EXPECT_FALSE(stay.Defer("later/x/"));
    EXPECT_TRUE(Exists(spool.Control("stay")));
    SControl never("never-written");
    EXPECT_FALSE(never.Defer());  // nothing to move
}

TEST(ControlRemove, HeaderAndBodyGoTogether) {
    ScratchSpool spool;
    SControl request("req");  // a request: control file only
    ASSERT_TRUE(request.Write());
    EXPECT_TRUE(request.RemoveMessage());
    for (const char* name : {"whole", "half"}) WriteFile(spool.Header(name), "Subject: x\r\n");
    WriteFile(spool.Body("whole"), "body");
    SControl whole("whole");
    ASSERT_TRUE(whole.Write());
    EXPECT_TRUE(whole.RemoveMessage());
    // The body is already gone: the header is removed, and the damage reported.
    SControl half("half");
    ASSERT_TRUE(half.Write());
    EXPECT_FALSE(half.RemoveMessage());
    EXPECT_TRUE(ListDir(spool.Path("messages")).empty());
    EXPECT_TRUE(ListDir(spool.Path("control")).empty());

    // Never read or written: the control file on disk is not this object's to remove.
    WriteFile(spool.Control("other"), "Function: X\n");
    EXPECT_TRUE(SControl("other").RemoveMessage());
    EXPECT_TRUE(Exists(spool.Control("other")));
    // The control file vanished underneath: failure.
    SControl gone("gone");
    ASSERT_TRUE(gone.Write());
    unlink(spool.Control("gone").c_str());
    EXPECT_FALSE(gone.RemoveMessage());
}

TEST(ControlLink, ForksShareHeaderAndBody) {
    ScratchSpool spool;
    WriteFile(spool.Header("orig"), "Subject: x\r\n");
    WriteFile(spool.Body("orig"), "body bytes");
    SControl control("orig");
    ASSERT_TRUE(control.LinkMessage("copy"));
    struct stat a, b;
    ASSERT_EQ(stat(spool.Body("orig").c_str(), &a), 0);
    ASSERT_EQ(stat(spool.Body("copy").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
    EXPECT_EQ(ReadFile(spool.Header("copy")), "Subject: x\r\n");
    // The new name is taken: nothing changes.
    EXPECT_FALSE(control.LinkMessage("copy"));
    EXPECT_EQ(ReadFile(spool.Body("copy")), "body bytes");
    // No body: the header link just made is taken back.
    WriteFile(spool.Header("nobody"), "Subject: y\r\n");
    EXPECT_FALSE(SControl("nobody").LinkMessage("nobody2"));
    EXPECT_FALSE(Exists(spool.Header("nobody2")));
    EXPECT_FALSE(Exists(spool.Body("nobody2")));
}

// Header field names compare case-blind and only CR LF ends a line; whatever a
// header file holds reads and rewrites as the same fields, and reading changes nothing.
TEST(HeaderFile, AnyContentReadsAndRewritesStably) {
    ScratchSpool spool;
    const std::string texts[] = {
        "", "\r\n", "no colon or space\r\n", " starts with a continuation\r\nSubject: x\r\n",
        "Subject: a\r\n\tfolded\r\n  twice\r\nTo: b\r\n", "Subject: lone\rcarriage\nand lf\r\n",
        "Bin: \0\xff\r\nX: y"s, "Subject: no end of line", "A: 1\r\n\r\n\r\nB: 2\r\n",
        "Dup: 1\r\ndup: 2\r\nDUP: 3\r\n",
        "Subject: hello\r\n\tworld\r\nTO: a@b\r\nX-Bare: lf\nonly\r\n"};
    int n = 0;
    for (const std::string& text : texts) {
        const std::string name = "h" + std::to_string(n++);
        WriteFile(spool.Header(name), text);
        SHeader header(S(name)), again(S(name + "w"));
        ASSERT_TRUE(header.Read()) << text;
        ASSERT_TRUE(header.Write(S(name + "w")));
        ASSERT_TRUE(again.Read());
        EXPECT_EQ(again.Keys(), header.Keys()) << text;
        header.Keys().ForEach(
            [&](const SString& key) { EXPECT_EQ(again.Get(key), header.Get(key)) << text; });
        EXPECT_EQ(ReadFile(spool.Header(name)), text);
    }
    EXPECT_EQ(ListDir(spool.Path("messages")).size(), 2 * std::size(texts));  // no ".temp"
    SHeader dup("h9"), mixed("h10");
    ASSERT_TRUE(dup.Read() && mixed.Read());
    EXPECT_EQ(Bracketed(dup.Get("dup:")), "[1][2][3]");
    EXPECT_EQ(Str(mixed.Get("subject:").Get(0)), "hello\r\n\tworld");
    EXPECT_EQ(Str(mixed.Get("To:").Get(0)), "a@b");
    EXPECT_EQ(Str(mixed.Get("x-bare:").Get(0)), "lf\nonly");  // a lone LF ends nothing

    SHeader copy("c");
    copy["Subject:"] = "s";
    copy["subject:"].Push("t");  // the same field
    ASSERT_TRUE(copy.Write());
    EXPECT_EQ(ReadFile(spool.Header("c")), "Subject: s\r\nSubject: t\r\n");
}

TEST(BodyFile, RawBytesRoundTrip) {
    ScratchSpool spool;
    SBody body("b");
    EXPECT_FALSE(body.Read().Defined());
    const std::string bytes("line\r\n\0binary\xff", 14);
    ASSERT_TRUE(body.Write(S(bytes)));
    EXPECT_EQ(ReadFile(spool.Body("b")), bytes);
    EXPECT_EQ(Str(body.Read()), bytes);
    EXPECT_FALSE(Exists(spool.Body("b") + ".temp"));
    SBody unnamed;
    EXPECT_FALSE(unnamed.Write("x"));
    EXPECT_EQ(unnamed.GetErrorCode(), -11);
}
