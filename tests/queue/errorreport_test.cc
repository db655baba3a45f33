// Error reports for the "Error-Handler": converting and new reports, members and free
// functions, the error number fields, the guard against reporting on a message the
// error handler has seen, and the fall-back to standard error.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "QueueTestSupport.h"
#include "SModule.h"

using namespace qbtest;

namespace {

class ReportingModule : public SModule {
public:
    ReportingModule() : SModule("Mailbox-Deliver") {}
    bool ProcessMail() override { return true; }
};

const std::string kNewReport = "Function: Error-Handler\nControl-Type: Error\nPriority: 1\n";
const std::string kSystext = std::strerror(ENOENT);
const std::string kEnoentFields =
    "Error-Number: " + std::to_string(ENOENT) + "\nError-Systext: " + kSystext + "\n";

}  // namespace

TEST(ErrorReportConvert, MemberTurnsTheControlIntoAReport) {
    ScratchSpool spool("Mailbox-Deliver");
    UdpPeer dispatcher;
    spool.Dispatch(std::to_string(dispatcher.port), "k");
    WriteFile(spool.Control("msg"), "Function: Mailbox-Deliver\nControl-Type: Mail\nPriority: 2\n"
                                    "Error-Number: 99\nTrace: Account-Handler\n");
    ReportingModule module;
    SControl control("msg");
    ASSERT_TRUE(control.Read());
    errno = 0;
    EXPECT_TRUE(module.ProcessError(control, "DeliverMessage", "BadControlFile",
                                    ListOf({"line one", "line two"})));
    // With error number 0 there is neither "Error-Number:" nor "Error-Systext:".
    EXPECT_EQ(ReadFile(spool.Control("msg")),
              "Function: Error-Handler\nControl-Type: Mail\nPriority: 2\n"
              "Error: Mailbox-Deliver:BadControlFile (DeliverMessage)\n"
              "Error-Text: line one\nError-Text: line two\n"
              "Trace: Account-Handler\nTrace: Mailbox-Deliver\n");
    std::string datagram;
    ASSERT_TRUE(dispatcher.Receive(datagram, 2000));
    EXPECT_EQ(datagram, "msg\nk\nError-Handler\nMail\n2");

    // A code naming another module is kept as it is; a system error adds its text.
    ASSERT_TRUE(control.Read());
    errno = ENOENT;
    EXPECT_TRUE(module.ProcessSysError(control, "ProcessMail", "List-Exploder:NoModerators",
                                       ListOf({"x"})));
    EXPECT_EQ(ReadFile(spool.Control("msg")),
              "Function: Error-Handler\nControl-Type: Mail\nPriority: 2\n"
              "Error: List-Exploder:NoModerators (ProcessMail)\nError-Text: x\nError-Text: " +
                  kSystext + "\n" + kEnoentFields +
                  "Trace: Account-Handler\nTrace: Mailbox-Deliver\nTrace: Mailbox-Deliver\n");
}

TEST(ErrorReportConvert, FreeFunctionPrefixesTheEnvironmentsModule) {
    ScratchSpool spool("Env-Module");
    SControl control("m2");
    control["Function:"] = "Env-Module";
    errno = 0;
    EXPECT_TRUE(ProcessError(control, "P", "Y:X", ListOf({"t"})));
    EXPECT_EQ(Str(control.Get("Error:").Get(0)), "Env-Module:Y:X (P)");
    EXPECT_TRUE(Exists(spool.Control("m2")));

    // Unwritable: false, nothing on disk, "Function:" changed in memory only.
    SControl lost(S(spool.Path("no/such/dir/m3-Control")));
    lost["Function:"] = "Env-Module";
    EXPECT_FALSE(ProcessError(lost, "P", "X", ListOf({"t"})));
    EXPECT_EQ(Str(lost.Get("Function:").Get(0)), "Error-Handler");
    EXPECT_FALSE(Exists(spool.Path("no")));
}

// New reports are control files of their own, named after the UTC stamp, the process
// id and a counter shared by members and free functions (from 1 in a fresh process).
TEST(ErrorReportNew, FieldsNamesAndSharedCounter) {
    ScratchSpool spool("Mailbox-Deliver");
    pid_t child = Spawn([] {
        ReportingModule module;
        errno = 0;
        if (!module.ProcessError("CreateMessageFile", "OpenFailed", ListOf({"a"}))) return 1;
        errno = ENOENT;
        if (!ProcessError("Where", "Code", ListOf({"b"}))) return 2;
        errno = ENOENT;
        return module.ProcessSysError("Open", "OpenFailed", ListOf({"c", "d"})) ? 0 : 3;
    });
    ASSERT_EQ(WaitStatus(child), 0);
    const std::string expected[] = {
        "Error: Mailbox-Deliver:OpenFailed (CreateMessageFile)\nError-Text: a\n",
        "Error: Mailbox-Deliver:Code (Where)\nError-Text: b\n" + kEnoentFields,
        "Error: Mailbox-Deliver:OpenFailed (Open)\nError-Text: c\nError-Text: d\nError-Text: " +
            kSystext + "\n" + kEnoentFields};
    std::vector<std::string> files = ListDir(spool.Path("control"));
    ASSERT_EQ(files.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(files[i].find_first_not_of("0123456789"), 14u) << files[i];
        EXPECT_EQ(files[i].substr(14),
                  "." + std::to_string(child) + "." + std::to_string(i + 1) + "-Control");
        EXPECT_EQ(ReadFile(spool.Path("control/" + files[i])),
                  kNewReport + expected[i] + "Trace: Mailbox-Deliver\n");
    }
    EXPECT_TRUE(ListDir(spool.Path("messages")).empty());
}

// Standard error is read from a child process that makes the report.
TEST(ErrorReportNotify, GuardAndStandardErrorFallback) {
    ScratchSpool spool("Mailbox-Deliver");
    ReportingModule module;
    // Already through the error handler: a line on standard error, no file.
    SControl seen("seen");
    seen["Trace:"] = ListOf({"SMTP-Router", "Error-Handler"});
    RunResult run = RunChild([&] {
        module.ProcessNotifyError(seen, "DeliverMessage", "DeliveryErrors",
                                  ListOf({"one ", "two"}));
        return 0;
    });
    ASSERT_GE(run.err.size(), 19u) << run.err;
    EXPECT_EQ(run.err.substr(19), ":Mailbox-Deliver:ProcessNotifyError:one two\n");
    EXPECT_TRUE(ListDir(spool.Path("control")).empty());

    // Otherwise a new report; nothing of the control is copied into it.
    SControl fresh("fresh");
    fresh["Function:"] = "Mailbox-Deliver";
    fresh["Deliver-To:"] = "Mailbox u1";
    errno = 0;
    ProcessNotifyError(fresh, "Where", "Code", ListOf({"x"}));
    std::vector<std::string> files = ListDir(spool.Path("control"));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadFile(spool.Path("control/" + files[0])),
              kNewReport + "Error: Mailbox-Deliver:Code (Where)\nError-Text: x\n"
                           "Trace: Mailbox-Deliver\n");

    // The report cannot be written: its fields go to standard error instead.
    ASSERT_EQ(rename(spool.Path("control").c_str(), spool.Path("control.away").c_str()), 0);
    WriteFile(spool.Path("control"), "a file where the directory was");
    run = RunChild([&] {
        errno = 0;
        module.ProcessNotifyError(fresh, "Where", "Lost", ListOf({"y"}));
        return 0;
    });
    EXPECT_EQ(run.err, kNewReport + "Error: Mailbox-Deliver:Lost (Where)\nError-Text: y\n"
                                    "Trace: Mailbox-Deliver\n\n");
}
