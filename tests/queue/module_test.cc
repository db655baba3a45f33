// The module frame: the test module program run as a real process (start-up, exit
// statuses, deferral, the deferred queue, signals, the log line), and in-process
// chaining, per-host queue directories and message names on a local module.
#include <gtest/gtest.h>

#include "QueueTestSupport.h"
#include "SModule.h"

using namespace qbtest;
using Names = std::vector<std::string>;

namespace {

class LocalModule : public SModule {
public:
    explicit LocalModule(const char* name = "Local-Module") : SModule(name) {}
    bool ProcessMail() override {
        seen = Str(GetFilename()) + " " + Bracketed(Get("Trace:"));
        return succeed;
    }

    bool succeed = true;
    std::string seen;  // name and trace of the last mail
};

std::string MailFor(const std::string& module, const std::string& action = "done") {
    return "Function: " + module + "\nControl-Type: Mail\nTest-Action: " + action + "\n";
}

}  // namespace

TEST(ModuleProcess, StartedByArgumentOrEnvironment) {
    ScratchSpool spool;
    for (const char* name : {"byarg", "byenv", "decoy", "last"})
        WriteFile(spool.Control(name), MailFor("Test-Module"));
    WriteFile(spool.Path("elsewhere-Control"), MailFor("Test-Module"));
    EXPECT_EQ(RunModule({"-x", "MessageFile", "byarg"}), 0);
    EXPECT_EQ(RunModule({}, {{"MessageFile", "byenv"}}), 0);
    // The argument word wins over the variable; the name is the last argument.
    EXPECT_EQ(RunModule({"MessageFile", "ignored", "last"}, {{"MessageFile", "decoy"}}), 0);
    // A full path is used as it stands.
    EXPECT_EQ(RunModule({"MessageFile", spool.Path("elsewhere-Control")}), 0);
    EXPECT_EQ(ListDir(spool.Path("processed")), (Names{"byarg", "byenv", "elsewhere", "last"}));
    EXPECT_EQ(ListDir(spool.Path("control")), Names{"decoy-Control"});
    EXPECT_EQ(RunModule({}), 105);  // no name at all
}

TEST(ModuleProcess, VerifyEnvironmentAndLoadEnvFailure) {
    ScratchSpool spool;
    WriteFile(spool.Control("m"), MailFor("Test-Module"));
    EXPECT_EQ(RunModule({"VerifyEnvironment", "MessageFile", "m"}), 0);
    EXPECT_TRUE(Exists(spool.Control("m")));  // a check only, the spool is untouched
    for (const Names& args : {Names{"VerifyEnvironment"}, Names{"MessageFile", "m"},
                              Names{"ProcessQueue"}})
        EXPECT_EQ(RunModule(args, {{"TestModuleLoadEnv", "fail"}}), 101) << args[0];
    EXPECT_TRUE(Exists(spool.Control("m")));
    EXPECT_TRUE(ListDir(spool.Path("processed")).empty());
}

TEST(ModuleProcess, FailedMailIsTracedAndDeferred) {
    ScratchSpool spool;
    WriteFile(spool.Control("f1"), "Function: Test-Module\nTrace: SMTP-Router\nControl-Type: Mail\n"
                                   "Test-Action: fail\n");
    WriteFile(spool.Control("f2"), MailFor("Test-Module", "fail") + "Host-To: mx.example.net\n");
    EXPECT_EQ(RunModule({"MessageFile", "f1"}), 0);
    EXPECT_EQ(RunModule({"MessageFile", "f2"}), 0);
    EXPECT_EQ(ReadFile(spool.Path("deferred/Test-Module/f1-Control")),
              "Function: Test-Module\nControl-Type: Mail\nTest-Action: fail\n"
              "Trace: SMTP-Router\nTrace: Test-Module\n");
    EXPECT_EQ(ReadFile(spool.Path("deferred/Test-Module/mx.example.net/f2-Control")),
              MailFor("Test-Module", "fail") + "Host-To: mx.example.net\nTrace: Test-Module\n");
    EXPECT_TRUE(ListDir(spool.Path("control")).empty());
}

TEST(ModuleProcess, ProcessQueueWorksThroughTheDeferredDirectory) {
    ScratchSpool spool;
    const std::string dir = spool.Path("deferred/Test-Module");
    std::filesystem::create_directories(dir + "/host.example");
    WriteFile(dir + "/host.example/h1-Control", MailFor("Test-Module"));
    WriteFile(dir + "/stray.txt", "not a control file");
    WriteFile(dir + "/o1-Control", MailFor("Other"));
    WriteFile(dir + "/q1-Control", MailFor("Test-Module"));
    WriteFile(dir + "/q2-Control", MailFor("Test-Module"));
    WriteFile(dir + "/q3-Control", MailFor("Test-Module", "fail"));
    EXPECT_EQ(RunModule({"ProcessQueue"}), 0);
    EXPECT_EQ(ListDir(spool.Path("processed")), (Names{"q1", "q2"}));
    // The failing one went round once more and waits again, traced once more; host
    // directories wait for their own run and what is no control file stays put.
    EXPECT_EQ(ListDir(dir), (Names{"host.example", "q3-Control", "stray.txt"}));
    EXPECT_EQ(ReadFile(dir + "/q3-Control"),
              MailFor("Test-Module", "fail") + "Trace: Test-Module\n");
    // Addressed elsewhere: moved back to the control directory and left alone there.
    EXPECT_EQ(ListDir(spool.Path("control")), Names{"o1-Control"});
    EXPECT_EQ(ReadFile(spool.Control("o1")), MailFor("Other"));

    LocalModule module("Test-Module");
    module.ProcessDeferredDir(S(dir + "/host.example"));
    EXPECT_EQ(module.seen.substr(0, 3), "h1 ");
    EXPECT_FALSE(Exists(dir + "/host.example"));
    module.ProcessDeferredDir(S(dir + "/none"));  // harmless

    // Once everything succeeds the empty directory goes too.
    std::filesystem::remove(dir + "/stray.txt");
    WriteFile(dir + "/q3-Control", MailFor("Test-Module"));
    EXPECT_EQ(RunModule({"ProcessQueue"}), 0);
    EXPECT_FALSE(Exists(dir));
}

// Termination requests and interrupts while the module works end nothing: the module
// finishes the message and exits with 0.
TEST(ModuleProcess, SignalsDoNotEndAWorkingModule) {
    ScratchSpool spool;
    WriteFile(spool.Control("w"), MailFor("Test-Module", "wait"));
    pid_t module = Spawn([] { return ExecModule({"MessageFile", "w"}); });
    for (int i = 0; i < 1000 && !Exists(spool.Path("started-w")); ++i) usleep(10000);
    ASSERT_TRUE(Exists(spool.Path("started-w")));
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) EXPECT_EQ(kill(module, signal), 0);
    usleep(50000);
    EXPECT_EQ(kill(module, 0), 0) << "the module ended on a signal";
    WriteFile(spool.Path("release"), "");
    EXPECT_EQ(WaitStatus(module), 0);
    EXPECT_TRUE(Exists(spool.Path("processed/w")));
}

// One line per mail: 14 digits of time, the zone offset, ":module:name"; and only
// when "Log" is exactly "yes".
TEST(ModuleProcess, LogLineOnlyWhenLogIsExactlyYes) {
    ScratchSpool spool;
    for (std::string value : {"yes", "YES", "no"}) {
        WriteFile(spool.Control("log1"), MailFor("Test-Module"));
        RunResult run =
            RunChild([&] { return ExecModule({"MessageFile", "log1"}, {{"Log", value}}); });
        EXPECT_EQ(run.status, 0);
        if (value != "yes") {
            EXPECT_EQ(run.err, "") << value;
            continue;
        }
        ASSERT_GT(run.err.size(), 19u);
        EXPECT_EQ(run.err.substr(19), ":Test-Module:log1\n");
        EXPECT_EQ(run.err.find_first_not_of("0123456789"), 14u) << run.err;
    }
}

TEST(ModuleDispatch, ChainedModuleGetsTheOtherModulesControl) {
    ScratchSpool spool("SMTP-Router");
    SControl router("chain");  // built by "SMTP-Router" (the environment's module)
    router["Function:"] = "Local-Module";
    router["Trace:"] = "Receiver";
    ASSERT_TRUE(router.Write());

    LocalModule module;
    EXPECT_TRUE(module.ProcessMailControl(router));
    EXPECT_EQ(module.seen, "chain [Receiver][SMTP-Router][SMTP-Router]");
    EXPECT_TRUE(module.IsOnDisk());
    EXPECT_EQ(Str(module.GetControlModuleName()), "Local-Module");
    EXPECT_EQ(Str(module.GetDeferredDirectory()), spool.Path("deferred/Local-Module/"));
    module.succeed = false;
    EXPECT_FALSE(module.ProcessMailControl(router));
}

// Names are the UTC stamp, "." and letters counting from "AAA" in every process (so
// in a fresh child), then the pid and "@" and the host name.
TEST(ModuleNames, LettersCountFromAAAInEveryProcess) {
    ScratchSpool spool("Local-Module");
    EnvGuard env;
    env.Set("HostName", "mx.example.org");
    pid_t child = Spawn([] {
        LocalModule module;
        const std::string tail = std::to_string(getpid()) + "@mx.example.org";
        const std::pair<int, std::string> rows[] = {
            {1, "AAA"}, {2, "AAB"}, {3, "AAC"}, {27, "ABA"}, {17577, "BAAA"}};
        int n = 0, row = 0;
        for (const auto& [nth, letters] : rows) {
            std::string id;
            for (++row; n < nth; ++n) id = Str(module.NewMessageID());
            if (id.find_first_not_of("0123456789") != 14 ||
                id != id.substr(0, 14) + "." + letters + tail)
                return row;
        }
        module.SetThreadId(42);
        return Str(module.NewMessageID()).substr(14, 5) == ".42.B" ? 0 : 9;
    });
    EXPECT_EQ(WaitStatus(child), 0);
}

TEST(ModuleSignals, AllocationFailureEndsWith106) {
    pid_t child = Spawn([] {
        SetNewHandler();
        std::new_handler handler = std::get_new_handler();
        if (handler != NewHandler) return 1;
        handler();  // what operator new calls when memory is exhausted
        return 2;
    });
    EXPECT_EQ(WaitStatus(child), 106);
}
