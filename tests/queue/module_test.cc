// The module frame: start-up, exit statuses, dispatch by "Function:" and
// "Control-Type:", deferral of failed messages, the deferred queue, in-process
// chaining, message names and signals.  Start-up is tested on the test module program
// as a real process; the dispatch details also in-process on a local module.
#include <gtest/gtest.h>
#include <signal.h>

#include <iostream>
#include <sstream>

#include "QueueTestSupport.h"
#include "SModule.h"

using qbtest::Exists;
using qbtest::ListDir;
using qbtest::ReadWhole;
using qbtest::RunModule;
using qbtest::ScratchSpool;
using qbtest::WriteWhole;

namespace {

std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

class LocalModule : public SModule {
public:
    explicit LocalModule(const char* name = "Local-Module") : SModule(name) {}

    bool ProcessMail() override {
        ++mails;
        seenName = Str(GetFilename());
        seenTrace = Get("Trace:");
        return succeed;
    }
    void ProcessRequest(SRequest& request) override {
        ++requests;
        seenQuestion = Str(request.Get("Question:").Get(0));
        seenRequestPath = Str(request.GetControlFilename());
    }

    bool succeed = true;
    int mails = 0;
    int requests = 0;
    std::string seenName, seenQuestion, seenRequestPath;
    SStringList seenTrace;
};

void WriteControl(const ScratchSpool& spool, const std::string& name, const std::string& text) {
    WriteWhole(spool.Control(name), text);
}

std::string MailFor(const std::string& module, const std::string& action = "done") {
    return "Function: " + module + "\nControl-Type: Mail\nTest-Action: " + action + "\n";
}

}  // namespace

// ---- the module program as a process ------------------------------------------------------

TEST(ModuleProcess, StartedByArgumentOrEnvironment) {
    ScratchSpool spool;
    WriteControl(spool, "byarg", MailFor("Test-Module"));
    WriteControl(spool, "byenv", MailFor("Test-Module"));
    WriteControl(spool, "decoy", MailFor("Test-Module"));

    EXPECT_EQ(RunModule({"-x", "MessageFile", "byarg"}), 0);
    EXPECT_TRUE(Exists(spool.Path("processed/byarg")));
    EXPECT_FALSE(Exists(spool.Control("byarg")));

    EXPECT_EQ(RunModule({}, {{"MessageFile", "byenv"}}), 0);
    EXPECT_TRUE(Exists(spool.Path("processed/byenv")));

    // The argument word wins over the variable; the name is the last argument.
    WriteControl(spool, "last", MailFor("Test-Module"));
    EXPECT_EQ(RunModule({"MessageFile", "ignored", "last"}, {{"MessageFile", "decoy"}}), 0);
    EXPECT_TRUE(Exists(spool.Path("processed/last")));
    EXPECT_TRUE(Exists(spool.Control("decoy")));

    // A full path is used as it stands.
    WriteWhole(spool.Path("elsewhere-Control"), MailFor("Test-Module"));
    EXPECT_EQ(RunModule({"MessageFile", spool.Path("elsewhere-Control")}), 0);
    EXPECT_TRUE(Exists(spool.Path("processed/elsewhere")));
}

TEST(ModuleProcess, ExitStatusesLeaveRejectedFilesUntouched) {
    ScratchSpool spool;
    const std::string other = MailFor("Other-Module");
    const std::string bounce = "Function: Test-Module\nControl-Type: Bounce\n";
    const std::string lower = "Function: test-module\nControl-Type: Mail\n";
    WriteControl(spool, "other", other);
    WriteControl(spool, "bounce", bounce);
    WriteControl(spool, "lower", lower);
    struct Row {
        std::string name;
        int status;
    } rows[] = {{"other", 102}, {"bounce", 103}, {"lower", 102}, {"missing", 105}};
    for (const Row& row : rows)
        EXPECT_EQ(RunModule({"MessageFile", row.name}), row.status) << row.name;
    EXPECT_EQ(ReadWhole(spool.Control("other")), other);
    EXPECT_EQ(ReadWhole(spool.Control("bounce")), bounce);
    EXPECT_EQ(ReadWhole(spool.Control("lower")), lower);
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 3u);
    EXPECT_EQ(ListDir(spool.Path("deferred")).size(), 0u);

    // No name at all.
    EXPECT_EQ(RunModule({}), 105);
}

TEST(ModuleProcess, VerifyEnvironmentAndLoadEnvFailure) {
    ScratchSpool spool;
    WriteControl(spool, "m", MailFor("Test-Module"));
    EXPECT_EQ(RunModule({"VerifyEnvironment", "MessageFile", "m"}), 0);
    EXPECT_TRUE(Exists(spool.Control("m")));  // a check only, the spool is untouched
    EXPECT_EQ(RunModule({"VerifyEnvironment"}, {{"TestModuleLoadEnv", "fail"}}), 101);
    EXPECT_EQ(RunModule({"MessageFile", "m"}, {{"TestModuleLoadEnv", "fail"}}), 101);
    EXPECT_EQ(RunModule({"ProcessQueue"}, {{"TestModuleLoadEnv", "fail"}}), 101);
    EXPECT_TRUE(Exists(spool.Control("m")));
    EXPECT_EQ(ListDir(spool.Path("processed")).size(), 0u);
}

TEST(ModuleProcess, FailedMailIsTracedAndDeferred) {
    ScratchSpool spool;
    WriteControl(spool, "f1", "Function: Test-Module\nTrace: SMTP-Router\nControl-Type: Mail\n"
                              "Test-Action: fail\n");
    WriteControl(spool, "f2", MailFor("Test-Module", "fail") + "Host-To: mx.example.net\n");
    EXPECT_EQ(RunModule({"MessageFile", "f1"}), 0);
    EXPECT_EQ(RunModule({"MessageFile", "f2"}), 0);
    EXPECT_EQ(ReadWhole(spool.Path("deferred/Test-Module/f1-Control")),
              "Function: Test-Module\nControl-Type: Mail\nTest-Action: fail\n"
              "Trace: SMTP-Router\nTrace: Test-Module\n");
    EXPECT_EQ(ReadWhole(spool.Path("deferred/Test-Module/mx.example.net/f2-Control")),
              MailFor("Test-Module", "fail") + "Host-To: mx.example.net\nTrace: Test-Module\n");
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 0u);
}

TEST(ModuleProcess, ProcessQueueWorksThroughTheDeferredDirectory) {
    ScratchSpool spool;
    const std::string dir = spool.Path("deferred/Test-Module");
    mkdir(dir.c_str(), 0770);
    WriteWhole(dir + "/q1-Control", MailFor("Test-Module"));
    WriteWhole(dir + "/q2-Control", MailFor("Test-Module"));
    WriteWhole(dir + "/q3-Control", MailFor("Test-Module", "fail"));
    EXPECT_EQ(RunModule({"ProcessQueue"}), 0);
    EXPECT_TRUE(Exists(spool.Path("processed/q1")));
    EXPECT_TRUE(Exists(spool.Path("processed/q2")));
    // The failing one went round once more and waits again, traced once more.
    EXPECT_EQ(ListDir(dir), std::vector<std::string>{"q3-Control"});
    EXPECT_EQ(ReadWhole(dir + "/q3-Control"), MailFor("Test-Module", "fail") + "Trace: Test-Module\n");
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 0u);

    // Once everything succeeds the empty directory goes too.
    WriteWhole(dir + "/q3-Control", MailFor("Test-Module"));
    EXPECT_EQ(RunModule({"ProcessQueue"}), 0);
    EXPECT_FALSE(Exists(dir));
}

// A termination request or an interrupt while the module works ends nothing: the
// module finishes the message and exits with 0.
TEST(ModuleProcess, SigtermAndSigintDoNotEndAWorkingModule) {
    ScratchSpool spool;
    WriteControl(spool, "w", MailFor("Test-Module", "wait"));
    pid_t module = qbtest::StartModule({"MessageFile", "w"});
    for (int i = 0; i < 1000 && !Exists(spool.Path("started-w")); ++i) usleep(10000);
    ASSERT_TRUE(Exists(spool.Path("started-w")));
    EXPECT_EQ(kill(module, SIGTERM), 0);
    EXPECT_EQ(kill(module, SIGINT), 0);
    EXPECT_EQ(kill(module, SIGHUP), 0);
    usleep(50000);
    EXPECT_EQ(kill(module, 0), 0) << "the module ended on a signal";
    WriteWhole(spool.Path("release"), "");
    EXPECT_EQ(qbtest::WaitExit(module), 0);
    EXPECT_TRUE(Exists(spool.Path("processed/w")));
}

// ---- dispatch in-process ------------------------------------------------------------------

TEST(ModuleDispatch, MailRequestAndRejections) {
    ScratchSpool spool("Local-Module");
    LocalModule module;
    EXPECT_EQ(Str(module.GetModuleName()), "Local-Module");
    EXPECT_EQ(Str(module.GetQuillbox()), spool.root + "/");
    EXPECT_EQ(Str(module.GetControlDir()), spool.root + "/control/");
    EXPECT_EQ(Str(module.GetDeferredDir()), spool.root + "/deferred/");
    EXPECT_EQ(Str(module.GetMessageDir()), spool.root + "/messages/");

    WriteControl(spool, "m", MailFor("Local-Module"));
    EXPECT_EQ(module.ProcessMessageName("m"), 0);
    EXPECT_EQ(module.mails, 1);
    EXPECT_EQ(module.seenName, "m");

    WriteControl(spool, "q", "Function: Local-Module\nControl-Type: Request\nQuestion: why\n");
    EXPECT_EQ(module.ProcessMessageName("q"), 0);
    EXPECT_EQ(module.requests, 1);
    EXPECT_EQ(module.seenQuestion, "why");
    EXPECT_EQ(module.seenRequestPath, spool.Control("q"));

    WriteControl(spool, "e", "Function: Local-Module\nControl-Type: Error\n");
    EXPECT_EQ(module.ProcessMessageName("e"), 103);
    WriteControl(spool, "t", "Control-Type: Mail\n");
    EXPECT_EQ(module.ProcessMessageName("t"), 102);
    EXPECT_EQ(module.mails, 1);
    EXPECT_EQ(module.requests, 1);
}

// Main installs process-wide signal dispositions, so it runs in a child process; the
// log stream is captured there and checked line by line.
TEST(ModuleDispatch, LogLineOnlyWhenLogIsExactlyYes) {
    ScratchSpool spool("Local-Module");
    pid_t child = fork();
    if (child == 0) {
        std::ostringstream captured;
        std::clog.rdbuf(captured.rdbuf());
        for (const char* value : {"yes", "YES", "no"}) {
            setenv("Log", value, 1);
            WriteControl(spool, "log1", MailFor("Local-Module"));
            LocalModule module;
            const char* argv[] = {"prog", "MessageFile", "log1", nullptr};
            if (module.Main(argv) != 0) _exit(1);
            if (module.IsLogging() != (std::string(value) == "yes")) _exit(2);
        }
        // One line: 14 digits, the zone offset, then ":Local-Module:log1".
        std::string text = captured.str();
        if (std::count(text.begin(), text.end(), '\n') != 1) _exit(3);
        if (text.size() != 19 + std::string(":Local-Module:log1\n").size()) _exit(4);
        if (text.substr(19) != ":Local-Module:log1\n") _exit(5);
        for (int i = 0; i < 14; ++i)
            if (!isdigit(static_cast<unsigned char>(text[i]))) _exit(6);
        _exit(0);
    }
    EXPECT_EQ(qbtest::WaitExit(child), 0);
}

TEST(ModuleDispatch, ChainedModuleGetsTheOtherModulesControl) {
    ScratchSpool spool("SMTP-Router");
    SControl router("chain");  // built by "SMTP-Router" (the environment's module)
    router["Function:"] = "Local-Module";
    router["Trace:"] = "Receiver";
    ASSERT_TRUE(router.Write());

    LocalModule module;
    EXPECT_TRUE(module.ProcessMailControl(router));
    EXPECT_EQ(module.seenName, "chain");
    const char* trace[] = {"Receiver", "SMTP-Router", "SMTP-Router", nullptr};
    EXPECT_EQ(module.seenTrace, SStringList(trace));
    EXPECT_TRUE(module.IsOnDisk());
    EXPECT_EQ(Str(module.GetControlModuleName()), "Local-Module");
    EXPECT_EQ(Str(module.GetDeferredDirectory()), spool.root + "/deferred/Local-Module/");

    module.succeed = false;
    EXPECT_FALSE(module.ProcessMailControl(router));
}

TEST(ModuleDispatch, DeferredDirectorySkipsWhatIsNoControlFile) {
    ScratchSpool spool("Local-Module");
    const std::string dir = spool.Path("deferred/Local-Module");
    mkdir(dir.c_str(), 0770);
    mkdir((dir + "/host.example").c_str(), 0770);
    WriteWhole(dir + "/host.example/h1-Control", MailFor("Local-Module"));
    WriteWhole(dir + "/stray.txt", "not a control file");
    WriteWhole(dir + "/p1-Control", MailFor("Local-Module"));
    WriteWhole(dir + "/o1-Control", MailFor("Other"));

    LocalModule module;
    module.ProcessQueue();
    EXPECT_EQ(module.mails, 1);
    EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"host.example", "stray.txt"}));
    // Addressed elsewhere: moved back to the control directory and left alone there.
    EXPECT_EQ(ReadWhole(spool.Control("o1")), MailFor("Other"));

    module.ProcessDeferredDir((dir + "/host.example").c_str());
    EXPECT_EQ(module.mails, 2);
    EXPECT_FALSE(Exists(dir + "/host.example"));
    module.ProcessDeferredDir(spool.Path("deferred/none").c_str());  // harmless
}

// ---- message names ---------------------------------------------------------------------------

namespace {

// Runs in a fresh child process, where the counter starts at 1: 0 when every name
// is right, otherwise the number of the first failed check.
int CheckMessageNames() {
    setenv("HostName", "mx.example.org", 1);
    LocalModule module;
    const std::string tail = std::to_string(getpid()) + "@mx.example.org";
    auto letters = [&](const SString& id) {
        std::string s = Str(id);
        if (s.size() < 15 || s[14] != '.' || s.compare(s.size() - tail.size(), tail.size(), tail))
            return std::string("?");
        for (int i = 0; i < 14; ++i)
            if (!isdigit(static_cast<unsigned char>(s[i]))) return std::string("?");
        return s.substr(15, s.size() - 15 - tail.size());
    };
    const char* expected[] = {"AAA", "AAB", "AAC"};
    for (int i = 0; i < 3; ++i)
        if (letters(module.NewMessageID()) != expected[i]) return 1 + i;
    for (int n = 4; n < 27; ++n) module.NewMessageID();
    if (letters(module.NewMessageID()) != "ABA") return 4;  // the 27th
    for (int n = 28; n < 17577; ++n) module.NewMessageID();
    if (letters(module.NewMessageID()) != "BAAA") return 5;  // the 17577th
    module.SetThreadId(42);
    std::string threaded = Str(module.NewMessageID());
    if (threaded.substr(14, 5) != ".42.B") return 6;
    return 0;
}

}  // namespace

TEST(ModuleNames, LettersCountFromAAAInEveryProcess) {
    ScratchSpool spool("Local-Module");
    pid_t child = fork();
    if (child == 0) _exit(CheckMessageNames());
    EXPECT_EQ(qbtest::WaitExit(child), 0);
}

TEST(ModuleSignals, HandlersIgnoreInterruptsAndCatchTermination) {
    pid_t child = fork();
    if (child == 0) {
        SModule::SetupSignalHandlers();
        raise(SIGTERM);
        raise(SIGINT);
        raise(SIGQUIT);
        raise(SIGHUP);
        struct sigaction term {};
        sigaction(SIGTERM, nullptr, &term);
        bool ok = term.sa_handler != SIG_DFL && term.sa_handler != SIG_IGN &&
                  (term.sa_flags & SA_RESTART) && sigismember(&term.sa_mask, SIGINT);
        _exit(ok ? 0 : 1);
    }
    EXPECT_EQ(qbtest::WaitExit(child), 0);
}

TEST(ModuleSignals, AllocationFailureEndsWith106) {
    pid_t child = fork();
    if (child == 0) {
        SetNewHandler();
        std::new_handler handler = std::get_new_handler();
        if (handler != NewHandler) _exit(1);
        handler();  // what operator new calls when memory is exhausted
        _exit(2);
    }
    EXPECT_EQ(qbtest::WaitExit(child), 106);
}
