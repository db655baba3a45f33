// queue_test_module: a tiny module program ("Test-Module") through which the queue
// tests run the module frame as a real process.
//
// What ProcessMail does is chosen by the control field "Test-Action:":
//   done  - records the message under $Quillbox/processed/ and removes its files
//           (the default for any other value);
//   fail  - returns false, so the frame writes the file back and defers it;
//   wait  - creates $Quillbox/started-<name>, then waits (at most 20 s) for
//           $Quillbox/release before recording the message as processed.
// LoadEnv fails when the environment variable "TestModuleLoadEnv" is "fail".  A
// request is answered with "Answer:" set to "re: " and its first "Question:".
#include <unistd.h>

#include "SModule.h"
#include "Sfiledir.h"
#include "Sprocess.h"

namespace {

class TestModule : public SModule {
public:
    TestModule() : SModule("Test-Module") {}

    bool LoadEnv() override { return GetEnv("TestModuleLoadEnv") != "fail"; }

    bool ProcessMail() override {
        SString action = Get("Test-Action:").Get(0);
        if (action == "fail") return false;
        if (action == "wait" && !_WaitForRelease()) return false;
        // The record holds the trace, so tests can see how the file looked here.
        SString record("");
        record << *this;
        if (!MapFileWrite(GetQuillbox() + "processed/" + GetFilename(), record)) return false;
        RemoveMessage();
        return true;
    }

    void ProcessRequest(SRequest& request) override {
        request["Answer:"] = SString("re: ") + request.Get("Question:").Get(0);
        request.Answer();
    }

private:
    bool _WaitForRelease() {
        MapFileWrite(GetQuillbox() + "started-" + GetFilename(), "");
        for (int i = 0; i < 2000; ++i) {
            if (FileExists(GetQuillbox() + "release")) return true;
            usleep(10000);  // a signal just ends it early
        }
        return false;
    }
};

}  // namespace

int main(int, const char** argv) {
    TestModule module;
    return module.Main(argv);
}
