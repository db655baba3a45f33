// The dispatcher datagram and the request/answer exchange over real loopback UDP.  A
// UdpPeer stands in for the dispatcher; the answering side is the test module
// program, started for the request the way the dispatcher would start it.
#include <gtest/gtest.h>

#include "QueueTestSupport.h"
#include "SMessage.h"
#include "SModule.h"

using namespace qbtest;

namespace {

// The "Return-Path:" port of a request control file.
int ReturnPort(const std::string& controlPath) {
    SControl control(S(controlPath));
    return control.Read() ? std::atoi(control.Get("Return-Path:").Get(0).Chars()) : 0;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

// The datagram is five lines (name, key, function, type, priority) without a final
// newline; without a usable port or a key nothing is sent.
TEST(Notify, DatagramOrNothing) {
    ScratchSpool spool;
    UdpPeer dispatcher;
    const std::string port = std::to_string(dispatcher.port);
    spool.Dispatch(port + ".9", "k3y");
    SControl control("n1");
    control["Function:"] = "Mailbox-Deliver";
    control["Control-Type:"] = "Mail";
    std::string got;
    ASSERT_TRUE(control.Notify());
    ASSERT_TRUE(dispatcher.Receive(got, 2000));
    EXPECT_EQ(got, "n1\nk3y\nMailbox-Deliver\nMail\n");
    control["Priority:"] = ListOf({"1", "7"});  // only the first value travels
    ASSERT_TRUE(control.Notify());
    ASSERT_TRUE(dispatcher.Receive(got, 2000));
    EXPECT_EQ(got, "n1\nk3y\nMailbox-Deliver\nMail\n1");

    const std::string rows[][2] = {  // DispatchSocket, DispatchKey
        {"unset", "k"}, {"0", "k"}, {"70000", "k"}, {"-5", "k"},
        {"abc", "k"},   {"", "k"},  {port, ""},     {port, "unset"}};
    for (const auto& row : rows) {
        for (int i : {0, 1}) {
            const char* name = i ? "DispatchKey" : "DispatchSocket";
            row[i] == "unset" ? spool.env.Unset(name) : spool.env.Set(name, row[i]);
        }
        EXPECT_FALSE(control.Notify()) << row[0] << " " << row[1];
    }
    EXPECT_FALSE(dispatcher.Receive(got, 100)) << got;
    EXPECT_TRUE(ListDir(spool.Path("control")).empty());
}

// One process asks, the test module program answers.  Termination requests reaching
// the waiting asker neither end it nor cut the wait short.
TEST(RequestAnswer, TwoProcessesOverLoopback) {
    ScratchSpool spool;
    UdpPeer dispatcher;
    spool.Dispatch(std::to_string(dispatcher.port), "secret");
    pid_t asker = Spawn([] {
        setenv("ModuleName", "Asker", 1);
        SModule::SetupSignalHandlers();
        SControl blank;
        SRequest request(blank);
        request["Question:"] = "ping";
        if (!request.Ask("Test-Module", 10.0)) return 1;
        if (Bracketed(request.Get("Answer:")) != "[re: ping]") return 2;
        if (Bracketed(request.Get("Trace:")) != "[Asker][Test-Module]") return 3;
        return ListDir(std::string(getenv("Quillbox")) + "/control").empty() ? 0 : 4;
    });
    std::string datagram;
    ASSERT_TRUE(dispatcher.Receive(datagram, 5000));
    const std::string name = FirstLine(datagram);
    EXPECT_EQ(datagram.substr(name.size()), "\nsecret\nTest-Module\nRequest\n3");
    // The request is named after the UTC stamp and the asker's pid.
    ASSERT_GT(name.size(), 14u);
    EXPECT_EQ(name.substr(14), "." + std::to_string(asker));
    EXPECT_GT(ReturnPort(spool.Control(name)), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(kill(asker, SIGTERM), 0);
        usleep(20000);
    }
    EXPECT_EQ(RunModule({"MessageFile", name}), 0);
    EXPECT_EQ(WaitStatus(asker), 0);
    EXPECT_TRUE(ListDir(spool.Path("control")).empty());
}

TEST(RequestAnswer, TimeOutAndBadSignalLeaveNoFile) {
    ScratchSpool spool;
    UdpPeer dispatcher;
    spool.Dispatch(std::to_string(dispatcher.port), "secret");
    // Nobody answers within the time-out.
    SControl blank;
    SRequest lonely(blank);
    EXPECT_FALSE(lonely.Ask("Nobody", 0.3));
    std::string datagram;
    EXPECT_TRUE(dispatcher.Receive(datagram, 1000));
    EXPECT_TRUE(ListDir(spool.Path("control")).empty());

    // A two-byte reply is not the answer signal.
    pid_t asker = Spawn([] {
        SControl none;
        SRequest request(none);
        return request.Ask("Test-Module", 10.0) ? 1 : 0;
    });
    ASSERT_TRUE(dispatcher.Receive(datagram, 5000));
    int port = ReturnPort(spool.Control(FirstLine(datagram)));
    ASSERT_GT(port, 0);
    EXPECT_TRUE(dispatcher.SendTo(port, "00"));
    EXPECT_EQ(WaitStatus(asker), 0);
    EXPECT_TRUE(ListDir(spool.Path("control")).empty());

    // Without a dispatcher to tell, the request is withdrawn at once.
    spool.env.Unset("DispatchSocket");
    SRequest unannounced(blank);
    EXPECT_FALSE(unannounced.Ask("Test-Module", 10.0));
    EXPECT_TRUE(ListDir(spool.Path("control")).empty());
}

// A request nobody can wake is removed; one never written is not answered.  (A
// working answer is the two-process exchange above.)
TEST(RequestAnswer, AnswerNeedsARequestOnDiskAndAPort) {
    ScratchSpool spool;
    WriteFile(spool.Control("r0"), "Function: Test-Module\nReturn-Path: 0\n");
    SControl control("r0"), fresh("r1");
    ASSERT_TRUE(control.Read());
    EXPECT_FALSE(SRequest(control).Answer());
    EXPECT_FALSE(SRequest(fresh).Answer());
    EXPECT_TRUE(ListDir(spool.Path("control")).empty());
}
