// Spool files: naming, the byte-exact control file format, trace, crash safety of
// writes (failed writes and a concurrent reader), deferral, removal and forking.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "QueueTestSupport.h"
#include "SMessage.h"

using qbtest::Exists;
using qbtest::ListDir;
using qbtest::ReadWhole;
using qbtest::ScratchSpool;
using qbtest::WriteWhole;

namespace {

std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

}  // namespace

TEST(ControlNames, NameOrPathDecideTheFile) {
    ScratchSpool spool;
    struct Row {
        std::string given, path, name;
    } rows[] = {
        {"abc", spool.Control("abc"), "abc"},
        {"/elsewhere/x/abc-Control", "/elsewhere/x/abc-Control", "abc"},
        {"sub/abc-Control", "sub/abc-Control", "abc"},
        {"/elsewhere/plain", "/elsewhere/plain", "plain"},
    };
    for (const Row& row : rows) {
        SControl control(row.given.c_str());
        EXPECT_EQ(Str(control.GetControlFilename()), row.path) << row.given;
        EXPECT_EQ(Str(control.GetFilename()), row.name) << row.given;
        EXPECT_EQ(Str(control.GetHeaderFilename()), spool.Header(row.name));
        EXPECT_EQ(Str(control.GetBodyFilename()), spool.Body(row.name));
    }
    SControl unnamed;
    EXPECT_EQ(unnamed.GetControlFilename().Length(), 0);
    EXPECT_EQ(Str(unnamed.GetDeferredDirectory()), spool.Path("deferred/Test-Module/"));

    SHeader header("abc");
    EXPECT_EQ(Str(header.SMessage::GetFilename()), spool.Header("abc"));
    EXPECT_EQ(Str(header.GetFilename()), "abc");
    SBody body("abc");
    EXPECT_EQ(Str(body.SMessage::GetFilename()), spool.Body("abc"));
    EXPECT_EQ(Str(body.GetFilename()), "abc");
}

// The control file text is fixed byte for byte: one "name value" line per value, LF
// line ends, fields in insertion order with "Trace:" moved to the end by each write.
TEST(ControlFile, WriteTwiceGivesGoldenTextAndTrace) {
    ScratchSpool spool;
    SControl control("m1");
    control["Function:"] = "Mailbox-Deliver";
    control["Trace:"] = "SMTP-Router";
    control["Control-Type:"] = "Mail";
    control["Deliver-To:"].Push("Mailbox u1");
    control["Deliver-To:"].Push("Mailbox u2");
    ASSERT_TRUE(control.Write());
    ASSERT_TRUE(control.Write());
    EXPECT_EQ(ReadWhole(spool.Control("m1")),
              "Function: Mailbox-Deliver\n"
              "Control-Type: Mail\n"
              "Deliver-To: Mailbox u1\n"
              "Deliver-To: Mailbox u2\n"
              "Trace: SMTP-Router\n"
              "Trace: Test-Module\n"
              "Trace: Test-Module\n");
    EXPECT_EQ(control.GetTraceCount(), 2);
    EXPECT_TRUE(control.IsOnDisk());
    EXPECT_FALSE(Exists(spool.Control("m1") + ".temp"));

    SControl again("m1");
    ASSERT_TRUE(again.Read());
    EXPECT_EQ(again.Keys(), control.Keys());
    EXPECT_EQ(again.Get("Trace:"), control.Get("Trace:"));
    EXPECT_EQ(again.GetTraceCount(), 2);
}

TEST(ControlFile, ReadEmptyMissingAndDirectory) {
    ScratchSpool spool;
    WriteWhole(spool.Control("empty"), "");
    SControl empty("empty");
    empty["Stale:"] = "x";
    EXPECT_TRUE(empty.Read());
    EXPECT_EQ(empty.Keys().Count(), 0);  // previous fields are replaced
    EXPECT_TRUE(empty.IsOnDisk());

    SControl missing("missing");
    EXPECT_FALSE(missing.Read());
    EXPECT_FALSE(missing.IsOnDisk());

    mkdir(spool.Control("dir").c_str(), 0700);
    SControl dir("dir");
    EXPECT_FALSE(dir.Read());

    SControl unnamed;
    EXPECT_FALSE(unnamed.Read());
    EXPECT_FALSE(unnamed.Write());
    EXPECT_EQ(unnamed.GetErrorCode(), -11);
    EXPECT_FALSE(unnamed.IsOnDisk());
    EXPECT_TRUE(unnamed.Read(spool.Control("empty").c_str()));
    EXPECT_EQ(unnamed.GetErrorCode(), 0);
}

TEST(ControlFile, CrlfFileKeepsCarriageReturnsInValues) {
    ScratchSpool spool;
    WriteWhole(spool.Control("crlf"), "Function: Test-Module\r\nTrace: a\r\n");
    SControl control("crlf");
    ASSERT_TRUE(control.Read());
    EXPECT_EQ(Str(control.Get("Function:").Get(0)), "Test-Module\r");
    EXPECT_EQ(control.Get("function:").Count(), 0);  // names compare exactly
}

// A write that fails leaves the old complete file and no ".temp" file.  The faults
// are real ones that also hold when the tests run as root (permissions would not).
TEST(ControlFileCrashSafety, FailedWritesKeepTheOldFile) {
    ScratchSpool spool;
    const std::string path = spool.Control("keep");
    const std::string old = "Function: Old\nTrace: Test-Module\n";
    WriteWhole(path, old);

    // 1. The file system refuses to grow the file: a file size limit in a child.
    pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{8, 8};
        setrlimit(RLIMIT_FSIZE, &limit);
        SControl control("keep");
        control["Function:"] = std::string(4096, 'x').c_str();
        bool wrote = control.Write();
        _exit(wrote ? 1 : (control.IsOnDisk() ? 2 : 0));
    }
    EXPECT_EQ(qbtest::WaitExit(child), 0);
    EXPECT_EQ(ReadWhole(path), old);
    EXPECT_FALSE(Exists(path + ".temp"));

    // 2. The rename cannot replace the target: a non-empty directory stands there.
    const std::string blocked = spool.Control("blocked");
    mkdir(blocked.c_str(), 0700);
    WriteWhole(blocked + "/inside", "keep me");
    SControl control("blocked");
    control["Function:"] = "New";
    EXPECT_FALSE(control.Write());
    EXPECT_FALSE(Exists(blocked + ".temp"));
    EXPECT_EQ(ReadWhole(blocked + "/inside"), "keep me");

    // 3. The directory does not exist.
    SControl nowhere(spool.Path("no/such/dir/x-Control").c_str());
    nowhere["Function:"] = "New";
    EXPECT_FALSE(nowhere.Write());
    EXPECT_FALSE(Exists(spool.Path("no")));
    EXPECT_FALSE(nowhere.IsOnDisk());

    // 4. A stale ".temp" from an earlier crash is simply overwritten.
    WriteWhole(path + ".temp", "Function: Half");
    SControl fresh("keep");
    fresh["Function:"] = "New";
    ASSERT_TRUE(fresh.Write());
    EXPECT_EQ(ReadWhole(path), "Function: New\nTrace: Test-Module\n");
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
        for (int i = 0; i < kValues[version]; ++i)
            c["Recipient:"].Push(SString("SMTP <user") + SString(i) + "@example.org>");
        c["End:"] = "end";
    };
    SControl first("race");
    fill(first, 0);
    ASSERT_TRUE(first.Write());

    pid_t writer = fork();
    if (writer == 0) {
        SControl c("race");
        for (int round = 0; round < 100; ++round) {
            fill(c, round % 2);
            if (!c.Write()) _exit(1);
        }
        _exit(0);
    }
    int reads = 0, bad = 0;
    int status = 0;
    SControl reader("race");
    while (waitpid(writer, &status, WNOHANG) == 0 || reads < 50) {
        ASSERT_TRUE(reader.Read());
        ++reads;
        int version = static_cast<int>(static_cast<double>(reader.Get("Version:").Get(0)));
        bool whole = (version == 0 || version == 1) &&
                     reader.Get("Recipient:").Count() == kValues[version] &&
                     reader.Get("End:").Get(0) == "end" && reader.Get("Trace:").Count() == 1;
        if (!whole) ++bad;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
    EXPECT_FALSE(Exists(spool.Control("race") + ".temp"));
}

TEST(ControlDefer, MovesIntoHostOrModuleDirectory) {
    ScratchSpool spool;
    struct Row {
        const char* host;  // nullptr: no "Host-To:" field
        std::string expected;
    } rows[] = {
        {"mx.example.org", spool.Path("deferred/Test-Module/mx.example.org/d0-Control")},
        {nullptr, spool.Path("deferred/Test-Module/d1-Control")},
        {"", spool.Path("deferred/Test-Module/d2-Control")},
        {"../../escape", spool.Path("deferred/Test-Module/d3-Control")},
        {"..", spool.Path("deferred/Test-Module/d4-Control")},
    };
    int n = 0;
    for (const Row& row : rows) {
        std::string name = "d" + std::to_string(n++);
        SControl control(name.c_str());
        control["Function:"] = "Test-Module";
        if (row.host) control["Host-To:"] = row.host;
        ASSERT_TRUE(control.Write());
        EXPECT_TRUE(control.Defer()) << name;
        EXPECT_TRUE(Exists(row.expected)) << row.expected;
        EXPECT_FALSE(Exists(spool.Control(name)));
        // The control keeps its own file name; the caller wrote it before deferring.
        EXPECT_EQ(Str(control.GetControlFilename()), spool.Control(name));
    }
    EXPECT_FALSE(Exists(spool.Path("escape")));

    SControl sub("d5");
    ASSERT_TRUE(sub.Write());
    EXPECT_TRUE(sub.Defer("later/"));
    EXPECT_TRUE(Exists(spool.Path("deferred/Test-Module/later/d5-Control")));
}

TEST(ControlDefer, FailureLeavesTheFileInPlace) {
    ScratchSpool spool;
    // The deferred directory cannot be made: a regular file blocks its path.
    WriteWhole(spool.Path("deferred/Test-Module"), "not a directory");
    SControl control("stay");
    control["Function:"] = "Test-Module";
    ASSERT_TRUE(control.Write());
    EXPECT_FALSE(control.Defer());
    EXPECT_TRUE(Exists(spool.Control("stay")));

    SControl never("never-written");
    unlink(spool.Path("deferred/Test-Module").c_str());
    EXPECT_FALSE(never.Defer());  // nothing to move
}

TEST(ControlRemove, HeaderAndBodyGoTogether) {
    ScratchSpool spool;
    // A request: control file only.
    SControl request("req");
    ASSERT_TRUE(request.Write());
    EXPECT_TRUE(request.RemoveMessage());
    EXPECT_FALSE(Exists(spool.Control("req")));

    // A whole message.
    WriteWhole(spool.Header("whole"), "Subject: x\r\n");
    WriteWhole(spool.Body("whole"), "body");
    SControl whole("whole");
    ASSERT_TRUE(whole.Write());
    EXPECT_TRUE(whole.RemoveMessage());
    EXPECT_EQ(ListDir(spool.Path("messages")).size(), 0u);
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 0u);

    // The body is already gone: the header is removed, and the damage reported.
    WriteWhole(spool.Header("half"), "Subject: x\r\n");
    SControl half("half");
    ASSERT_TRUE(half.Write());
    EXPECT_FALSE(half.RemoveMessage());
    EXPECT_FALSE(Exists(spool.Header("half")));
    EXPECT_FALSE(Exists(spool.Control("half")));

    // Never read or written: the control file on disk is not this object's to remove.
    WriteWhole(spool.Control("other"), "Function: X\n");
    SControl other("other");
    EXPECT_TRUE(other.RemoveMessage());
    EXPECT_TRUE(Exists(spool.Control("other")));

    // The control file vanished underneath: failure.
    SControl gone("gone");
    ASSERT_TRUE(gone.Write());
    unlink(spool.Control("gone").c_str());
    EXPECT_FALSE(gone.RemoveMessage());
}

TEST(ControlLink, ForksShareHeaderAndBody) {
    ScratchSpool spool;
    WriteWhole(spool.Header("orig"), "Subject: x\r\n");
    WriteWhole(spool.Body("orig"), "body bytes");
    SControl control("orig");
    ASSERT_TRUE(control.LinkMessage("copy"));
    struct stat a, b;
    ASSERT_EQ(stat(spool.Body("orig").c_str(), &a), 0);
    ASSERT_EQ(stat(spool.Body("copy").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
    EXPECT_EQ(ReadWhole(spool.Header("copy")), "Subject: x\r\n");

    // The new name is taken: nothing changes.
    EXPECT_FALSE(control.LinkMessage("copy"));
    EXPECT_EQ(ReadWhole(spool.Body("copy")), "body bytes");

    // No body: the header link just made is taken back.
    WriteWhole(spool.Header("nobody"), "Subject: y\r\n");
    SControl nobody("nobody");
    EXPECT_FALSE(nobody.LinkMessage("nobody2"));
    EXPECT_FALSE(Exists(spool.Header("nobody2")));
    EXPECT_FALSE(Exists(spool.Body("nobody2")));
}

TEST(HeaderFile, CaseBlindNamesAndCrlfLines) {
    ScratchSpool spool;
    WriteWhole(spool.Header("h"), "Subject: hello\r\n\tworld\r\nTO: a@b\r\nX-Bare: lf\nonly\r\n");
    SHeader header("h");
    ASSERT_TRUE(header.Read());
    EXPECT_EQ(Str(header.Get("subject:").Get(0)), "hello\r\n\tworld");
    EXPECT_EQ(Str(header.Get("To:").Get(0)), "a@b");
    EXPECT_EQ(Str(header.Get("x-bare:").Get(0)), "lf\nonly");  // a lone LF ends nothing

    SHeader copy("h2");
    copy["Subject:"] = "s";
    copy["subject:"].Push("t");  // the same field
    ASSERT_TRUE(copy.Write());
    EXPECT_EQ(ReadWhole(spool.Header("h2")), "Subject: s\r\nSubject: t\r\n");
    EXPECT_TRUE(copy.Write("h3"));
    EXPECT_TRUE(Exists(spool.Header("h3")));
    EXPECT_FALSE(Exists(spool.Header("h3") + ".temp"));
}

TEST(BodyFile, RawBytesRoundTrip) {
    ScratchSpool spool;
    SBody body("b");
    EXPECT_FALSE(body.Read().Defined());
    const std::string bytes("line\r\n\0binary\xff", 14);
    ASSERT_TRUE(body.Write(SString(bytes.data(), static_cast<int>(bytes.size()))));
    EXPECT_EQ(ReadWhole(spool.Body("b")), bytes);
    EXPECT_EQ(Str(body.Read()), bytes);
    EXPECT_FALSE(Exists(spool.Body("b") + ".temp"));

    SBody unnamed;
    EXPECT_FALSE(unnamed.Write("x"));
    EXPECT_EQ(unnamed.GetErrorCode(), -11);
}

TEST(FieldAssignment, CopiesNameDiskFlagAndFields) {
    ScratchSpool spool;
    SControl source("src");
    source["Function:"] = "A";
    ASSERT_TRUE(source.Write());
    SControl target("dst");
    target["Old:"] = "gone";
    target = source;
    EXPECT_EQ(Str(target.GetControlFilename()), spool.Control("src"));
    EXPECT_TRUE(target.IsOnDisk());
    EXPECT_EQ(target.Keys(), source.Keys());
    EXPECT_EQ(target.Get("Old:").Count(), 0);
}
