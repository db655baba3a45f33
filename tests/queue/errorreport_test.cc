// Error reports for the "Error-Handler": converting and new reports, members and free
// functions, the error number fields, the guard against reporting on a message the
// error handler has seen, and the fall-back to standard error.
#include <gtest/gtest.h>
#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <sstream>

#include "QueueTestSupport.h"
#include "SModule.h"

using qbtest::Exists;
using qbtest::ListDir;
using qbtest::ReadWhole;
using qbtest::ScratchSpool;
using qbtest::SplitLines;
using qbtest::UdpPeer;
using qbtest::WriteWhole;

namespace {

std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

class ReportingModule : public SModule {
public:
    ReportingModule() : SModule("Mailbox-Deliver") {}
    bool ProcessMail() override { return true; }
};

SStringList Lines(std::initializer_list<const char*> lines) {
    SStringList list;
    for (const char* line : lines) list.Push(line);
    return list;
}

// Captures std::cerr for the lifetime of the object.
class CaptureStderr {
public:
    CaptureStderr() : old(std::cerr.rdbuf(text.rdbuf())) {}
    ~CaptureStderr() { std::cerr.rdbuf(old); }
    std::string Text() const { return text.str(); }

private:
    std::ostringstream text;
    std::streambuf* old;
};

// Fails an open of a missing file so that errno holds ENOENT.
void SetErrnoToMissingFile() {
    int fd = open("/nonexistent-dir-for-queue-tests/file", O_RDONLY);
    ASSERT_EQ(fd, -1);
    ASSERT_EQ(errno, ENOENT);
}

}  // namespace

TEST(ErrorReportConvert, MemberTurnsTheControlIntoAReport) {
    ScratchSpool spool("Mailbox-Deliver");
    UdpPeer dispatcher;
    spool.env.Set("DispatchSocket", std::to_string(dispatcher.port));
    spool.env.Set("DispatchKey", "k");
    WriteWhole(spool.Control("msg"), "Function: Mailbox-Deliver\nControl-Type: Mail\nPriority: 2\n"
                                     "Error-Number: 99\nTrace: Account-Handler\n");
    ReportingModule module;
    SControl control("msg");
    ASSERT_TRUE(control.Read());
    errno = 0;
    EXPECT_TRUE(module.ProcessError(control, "DeliverMessage", "BadControlFile",
                                    Lines({"line one", "line two"})));
    // With error number 0 there is neither "Error-Number:" nor "Error-Systext:".
    EXPECT_EQ(ReadWhole(spool.Control("msg")),
              "Function: Error-Handler\nControl-Type: Mail\nPriority: 2\n"
              "Error: Mailbox-Deliver:BadControlFile (DeliverMessage)\n"
              "Error-Text: line one\nError-Text: line two\n"
              "Trace: Account-Handler\nTrace: Mailbox-Deliver\n");
    std::string datagram;
    ASSERT_TRUE(dispatcher.Receive(datagram, 2000));
    EXPECT_EQ(datagram, "msg\nk\nError-Handler\nMail\n2");

    // A code naming another module is kept as it is.
    SControl second("msg");
    ASSERT_TRUE(second.Read());
    SetErrnoToMissingFile();
    EXPECT_TRUE(module.ProcessError(second, "ProcessMail", "List-Exploder:NoModerators", Lines({"x"})));
    ASSERT_TRUE(second.Read());
    EXPECT_EQ(Str(second.Get("Error:").Get(0)), "List-Exploder:NoModerators (ProcessMail)");
    EXPECT_EQ(Str(second.Get("Error-Number:").Get(0)), std::to_string(ENOENT));
    EXPECT_EQ(Str(second.Get("Error-Systext:").Get(0)), std::strerror(ENOENT));
}

TEST(ErrorReportConvert, FreeFunctionPrefixesTheEnvironmentsModule) {
    ScratchSpool spool("Env-Module");
    SControl control("m2");
    control["Function:"] = "Env-Module";
    errno = 0;
    EXPECT_TRUE(ProcessError(control, "P", "Y:X", Lines({"t"})));
    EXPECT_EQ(Str(control.Get("Error:").Get(0)), "Env-Module:Y:X (P)");
    EXPECT_TRUE(Exists(spool.Control("m2")));

    // Unwritable: false, nothing on disk, "Function:" changed in memory only.
    SControl lost(spool.Path("no/such/dir/m3-Control").c_str());
    lost["Function:"] = "Env-Module";
    EXPECT_FALSE(ProcessError(lost, "P", "X", Lines({"t"})));
    EXPECT_EQ(Str(lost.Get("Function:").Get(0)), "Error-Handler");
}

TEST(ErrorReportNew, FieldsNamesAndSharedCounter) {
    ScratchSpool spool("Mailbox-Deliver");
    // A fresh process, so the report counter starts at 1.
    pid_t child = fork();
    if (child == 0) {
        ReportingModule module;
        errno = 0;
        if (!module.ProcessError("CreateMessageFile", "OpenFailed", Lines({"a"}))) _exit(1);
        SetErrnoToMissingFile();
        if (!ProcessError("Where", "Code", Lines({"b"}))) _exit(2);
        _exit(0);
    }
    ASSERT_EQ(qbtest::WaitExit(child), 0);
    std::vector<std::string> files = ListDir(spool.Path("control"));
    ASSERT_EQ(files.size(), 2u);
    const std::string tail1 = "." + std::to_string(child) + ".1-Control";
    const std::string tail2 = "." + std::to_string(child) + ".2-Control";
    std::string first, second;
    for (const std::string& f : files) {
        ASSERT_GT(f.size(), 14u);
        for (int i = 0; i < 14; ++i) EXPECT_TRUE(isdigit(static_cast<unsigned char>(f[i]))) << f;
        if (f.substr(14) == tail1) first = f;
        if (f.substr(14) == tail2) second = f;
    }
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(ReadWhole(spool.Path("control/" + first)),
              "Function: Error-Handler\nControl-Type: Error\nPriority: 1\n"
              "Error: Mailbox-Deliver:OpenFailed (CreateMessageFile)\nError-Text: a\n"
              "Trace: Mailbox-Deliver\n");
    EXPECT_EQ(ReadWhole(spool.Path("control/" + second)),
              "Function: Error-Handler\nControl-Type: Error\nPriority: 1\n"
              "Error: Mailbox-Deliver:Code (Where)\nError-Text: b\n"
              "Error-Number: " + std::to_string(ENOENT) + "\nError-Systext: " +
                  std::strerror(ENOENT) + "\nTrace: Mailbox-Deliver\n");
    EXPECT_FALSE(Exists(spool.Header(first.substr(0, first.size() - 8))));
}

TEST(ErrorReportNew, SysErrorAppendsTheSystemText) {
    ScratchSpool spool("Mailbox-Deliver");
    ReportingModule module;
    SetErrnoToMissingFile();
    EXPECT_TRUE(module.ProcessSysError("Open", "OpenFailed", Lines({"a", "b"})));
    std::vector<std::string> files = ListDir(spool.Path("control"));
    ASSERT_EQ(files.size(), 1u);
    SControl report(files[0].substr(0, files[0].size() - 8).c_str());
    ASSERT_TRUE(report.Read());
    SStringList text = report.Get("Error-Text:");
    ASSERT_EQ(text.Count(), 3);
    EXPECT_EQ(Str(text.Get(2)), std::strerror(ENOENT));
    EXPECT_EQ(Str(report.Get("Error-Number:").Get(0)), std::to_string(ENOENT));

    // The converting form on a control.
    SControl control("sys");
    control["Function:"] = "Mailbox-Deliver";
    SetErrnoToMissingFile();
    EXPECT_TRUE(module.ProcessSysError(control, "Open", "OpenFailed", Lines({"only"})));
    EXPECT_EQ(control.Get("Error-Text:").Count(), 2);
    EXPECT_EQ(Str(control.Get("Function:").Get(0)), "Error-Handler");
}

TEST(ErrorReportNotify, GuardAndStandardErrorFallback) {
    ScratchSpool spool("Mailbox-Deliver");
    ReportingModule module;

    // Already through the error handler: a line on standard error, no file.
    SControl seen("seen");
    seen["Trace:"] = "SMTP-Router";
    seen["Trace:"].Push("Error-Handler");
    {
        CaptureStderr err;
        module.ProcessNotifyError(seen, "DeliverMessage", "DeliveryErrors", Lines({"one ", "two"}));
        std::string text = err.Text();
        ASSERT_GE(text.size(), 19u) << text;
        EXPECT_EQ(text.substr(19), ":Mailbox-Deliver:ProcessNotifyError:one two\n");
    }
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 0u);

    // Otherwise a new report; nothing of the control is copied into it.
    SControl fresh("fresh");
    fresh["Function:"] = "Mailbox-Deliver";
    fresh["Deliver-To:"] = "Mailbox u1";
    errno = 0;
    ProcessNotifyError(fresh, "Where", "Code", Lines({"x"}));
    std::vector<std::string> files = ListDir(spool.Path("control"));
    ASSERT_EQ(files.size(), 1u);
    std::string report = ReadWhole(spool.Path("control/" + files[0]));
    EXPECT_EQ(report.find("Deliver-To:"), std::string::npos);
    EXPECT_NE(report.find("Error: Mailbox-Deliver:Code (Where)\n"), std::string::npos);

    // The report cannot be written: its fields go to standard error instead.
    ASSERT_EQ(rename(spool.Path("control").c_str(), spool.Path("control.away").c_str()), 0);
    WriteWhole(spool.Path("control"), "a file where the directory was");
    {
        CaptureStderr err;
        errno = 0;
        module.ProcessNotifyError(fresh, "Where", "Lost", Lines({"y"}));
        EXPECT_EQ(err.Text(),
                  "Function: Error-Handler\nControl-Type: Error\nPriority: 1\n"
                  "Error: Mailbox-Deliver:Lost (Where)\nError-Text: y\n"
                  "Trace: Mailbox-Deliver\n\n");
    }
}

TEST(ErrorNumbers, CurrentErrorText) {
    SetErrnoToMissingFile();
    EXPECT_EQ(GetErrorNo(), ENOENT);
    EXPECT_EQ(Str(GetErrorString(-1)), std::strerror(ENOENT));
    EXPECT_EQ(Str(GetErrorString(EACCES)), std::strerror(EACCES));
    errno = ECONNREFUSED;
    EXPECT_EQ(GetSocketErrorNo(), ECONNREFUSED);
    EXPECT_EQ(Str(GetSocketErrorString(-1)), std::strerror(ECONNREFUSED));
}
