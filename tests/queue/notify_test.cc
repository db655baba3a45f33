// The dispatcher datagram and the request/answer exchange over real loopback UDP.
// A UdpPeer stands in for the dispatcher; the answering side is the test module
// program, started for the request the way the dispatcher would start it.
#include <gtest/gtest.h>

#include "QueueTestSupport.h"
#include "SMessage.h"
#include "SModule.h"

using qbtest::ListDir;
using qbtest::ReadWhole;
using qbtest::ScratchSpool;
using qbtest::SplitLines;
using qbtest::UdpPeer;
using qbtest::WriteWhole;

namespace {

std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

// The "Return-Path:" port of a request control file.
int ReturnPort(const std::string& controlPath) {
    SControl control(controlPath.c_str());
    if (!control.Read()) return 0;
    return std::atoi(control.Get("Return-Path:").Get(0).Chars());
}

}  // namespace

TEST(Notify, DatagramIsFiveLinesWithoutFinalNewline) {
    ScratchSpool spool;
    UdpPeer dispatcher;
    spool.env.Set("DispatchSocket", std::to_string(dispatcher.port) + ".9");
    spool.env.Set("DispatchKey", "k3y");
    SControl control("n1");
    control["Function:"] = "Mailbox-Deliver";
    control["Control-Type:"] = "Mail";
    ASSERT_TRUE(control.Notify());
    std::string got;
    ASSERT_TRUE(dispatcher.Receive(got, 2000));
    EXPECT_EQ(got, "n1\nk3y\nMailbox-Deliver\nMail\n");

    control["Priority:"] = "1";
    control["Priority:"].Push("7");  // only the first value travels
    ASSERT_TRUE(control.Notify());
    ASSERT_TRUE(dispatcher.Receive(got, 2000));
    EXPECT_EQ(SplitLines(got), (std::vector<std::string>{"n1", "k3y", "Mailbox-Deliver", "Mail", "1"}));
}

TEST(Notify, NoPortOrNoKeySendsNothing) {
    ScratchSpool spool;
    UdpPeer dispatcher;
    const std::string port = std::to_string(dispatcher.port);
    struct Row {
        const char* socket;  // nullptr: unset
        const char* key;
    } rows[] = {
        {nullptr, "k"}, {"0", "k"}, {"70000", "k"}, {"-5", "k"},
        {"abc", "k"},   {"", "k"},  {port.c_str(), ""}, {port.c_str(), nullptr},
    };
    SControl control("n2");
    control["Function:"] = "X";
    for (const Row& row : rows) {
        if (row.socket) spool.env.Set("DispatchSocket", row.socket);
        else spool.env.Unset("DispatchSocket");
        if (row.key) spool.env.Set("DispatchKey", row.key);
        else spool.env.Unset("DispatchKey");
        EXPECT_FALSE(control.Notify()) << (row.socket ? row.socket : "unset");
    }
    std::string got;
    EXPECT_FALSE(dispatcher.Receive(got, 100)) << got;
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 0u);
}

// One process asks, the test module program answers; the dispatcher stand-in starts
// the module for the announced request exactly as the real one would.
TEST(RequestAnswer, TwoProcessesOverLoopback) {
    ScratchSpool spool;
    UdpPeer dispatcher;
    spool.env.Set("DispatchSocket", std::to_string(dispatcher.port));
    spool.env.Set("DispatchKey", "secret");

    pid_t asker = fork();
    if (asker == 0) {
        setenv("ModuleName", "Asker", 1);
        SControl blank;
        SRequest request(blank);
        request["Question:"] = "ping";
        if (!request.Ask("Test-Module", 10.0)) _exit(1);
        if (request.Get("Answer:").Get(0) != "re: ping") _exit(2);
        SStringList trace = request.Get("Trace:");
        if (trace.Count() != 2 || trace.Get(0) != "Asker" || trace.Get(1) != "Test-Module")
            _exit(3);
        if (!ListDir(std::string(getenv("Quillbox")) + "/control").empty()) _exit(4);
        _exit(0);
    }

    std::string datagram;
    ASSERT_TRUE(dispatcher.Receive(datagram, 5000));
    std::vector<std::string> lines = SplitLines(datagram);
    ASSERT_EQ(lines.size(), 5u) << datagram;
    EXPECT_EQ(lines[1], "secret");
    EXPECT_EQ(lines[2], "Test-Module");
    EXPECT_EQ(lines[3], "Request");
    EXPECT_EQ(lines[4], "3");
    const std::string name = lines[0];
    // The request is named after the UTC stamp and the asker's pid.
    EXPECT_EQ(name.substr(14), "." + std::to_string(asker));
    EXPECT_GT(ReturnPort(spool.Control(name)), 0);

    EXPECT_EQ(qbtest::RunModule({"MessageFile", name}), 0);
    EXPECT_EQ(qbtest::WaitExit(asker), 0);
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 0u);
}

// A termination request reaching a module that waits for an answer neither ends it
// nor cuts the wait short.
TEST(RequestAnswer, SigtermDuringTheWaitIsSurvived) {
    ScratchSpool spool;
    UdpPeer dispatcher;
    spool.env.Set("DispatchSocket", std::to_string(dispatcher.port));
    spool.env.Set("DispatchKey", "secret");
    pid_t asker = fork();
    if (asker == 0) {
        SModule::SetupSignalHandlers();
        SControl blank;
        SRequest request(blank);
        request["Question:"] = "still there?";
        _exit(request.Ask("Test-Module", 10.0) && request.Get("Answer:").Count() == 1 ? 0 : 1);
    }
    std::string datagram;
    ASSERT_TRUE(dispatcher.Receive(datagram, 5000));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(kill(asker, SIGTERM), 0);
        usleep(20000);
    }
    EXPECT_EQ(qbtest::RunModule({"MessageFile", SplitLines(datagram)[0]}), 0);
    EXPECT_EQ(qbtest::WaitExit(asker), 0);
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 0u);
}

TEST(RequestAnswer, TimeOutAndBadSignalLeaveNoFile) {
    ScratchSpool spool;
    UdpPeer dispatcher;
    spool.env.Set("DispatchSocket", std::to_string(dispatcher.port));
    spool.env.Set("DispatchKey", "secret");

    // Nobody answers within the time-out.
    SControl blank;
    SRequest lonely(blank);
    EXPECT_FALSE(lonely.Ask("Nobody", 0.3));
    std::string datagram;
    EXPECT_TRUE(dispatcher.Receive(datagram, 1000));
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 0u);

    // A two-byte reply is not the answer signal.
    pid_t asker = fork();
    if (asker == 0) {
        SControl none;
        SRequest request(none);
        _exit(request.Ask("Test-Module", 10.0) ? 1 : 0);
    }
    ASSERT_TRUE(dispatcher.Receive(datagram, 5000));
    const std::string name = SplitLines(datagram)[0];
    int port = ReturnPort(spool.Control(name));
    ASSERT_GT(port, 0);
    EXPECT_TRUE(UdpPeer::SendTo(port, "00"));
    EXPECT_EQ(qbtest::WaitExit(asker), 0);
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 0u);

    // Without a dispatcher to tell, the request is withdrawn at once.
    spool.env.Unset("DispatchSocket");
    SRequest unannounced(blank);
    EXPECT_FALSE(unannounced.Ask("Test-Module", 10.0));
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 0u);
}

TEST(RequestAnswer, AnswerNeedsARequestOnDiskAndAPort) {
    ScratchSpool spool;
    WriteWhole(spool.Control("r0"), "Function: Test-Module\nControl-Type: Request\nReturn-Path: 0\n");
    SControl control("r0");
    ASSERT_TRUE(control.Read());
    SRequest request(control);
    EXPECT_TRUE(request.IsOnDisk());
    EXPECT_EQ(Str(request.GetControlFilename()), spool.Control("r0"));
    EXPECT_FALSE(request.Answer());
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 0u);  // a request nobody can wake

    SControl fresh("r1");
    SRequest never(fresh);
    EXPECT_FALSE(never.Answer());
    EXPECT_EQ(ListDir(spool.Path("control")).size(), 0u);

    // An answer to a live port is the single byte "0".
    UdpPeer asker;
    WriteWhole(spool.Control("r2"), "Function: Test-Module\nReturn-Path: " +
                                        std::to_string(asker.port) + "\n");
    SControl live("r2");
    ASSERT_TRUE(live.Read());
    SRequest answer(live);
    answer["Answer:"] = "yes";
    EXPECT_TRUE(answer.Answer());
    std::string got;
    ASSERT_TRUE(asker.Receive(got, 2000));
    EXPECT_EQ(got, "0");
    EXPECT_EQ(ReadWhole(spool.Control("r2")), "Function: Test-Module\nReturn-Path: " +
                                                  std::to_string(asker.port) +
                                                  "\nAnswer: yes\nTrace: Test-Module\n");
}
