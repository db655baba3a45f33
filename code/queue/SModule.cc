// The module frame: start-up from the command line and environment, control-file
// dispatch, the deferred queue, in-process chaining, message names, and the
// process-wide signal and allocation-failure handling.
//
// A control file that cannot be read, names another module or has an unknown type is
// left exactly as it was and the run ends with its status.  A message the module fails
// to process is written back and moved to the deferred directory, never dropped.
#include "SModule.h"

#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <iostream>
#include <new>

#include "Sdatetime.h"
#include "Sfiledir.h"
#include "Sprocess.h"

namespace {

// Feeds NewMessageID; starts at 1 in every process.
int32_t messageCounter = 1;

SString FirstValue(const SNamedStringList& fields, const char* name) {
    SString value = fields.Get(name).Get(0);
    return value.Defined() ? value : SString("");
}

// The letter part of a message name: base-26 digits of n, "A" standing for 0, at
// least three letters and a fourth only when it is not "A".
SString CounterLetters(uint32_t n) {
    SString letters("");
    char d3 = static_cast<char>('A' + (n / 17576) % 26);
    if (d3 != 'A') letters += d3;
    letters += static_cast<char>('A' + (n / 676) % 26);
    letters += static_cast<char>('A' + (n / 26) % 26);
    letters += static_cast<char>('A' + n % 26);
    return letters;
}

bool HasSuffix(const SString& text, const char* suffix) {
    return BaseName(text, suffix) != text;
}

extern "C" void IgnoreTermination(int) {}

}  // namespace

// ---- allocation failure -----------------------------------------------------------------

void NewHandler() { _exit(kExitOutOfMemory); }

void SetNewHandler() { std::set_new_handler(NewHandler); }

// ---- construction and accessors -----------------------------------------------------------

SModule::SModule(const SString& name)
    : SControl(),
      rootDir(GetEnv("Quillbox") + "/"),
      moduleName(name),
      domainName(GetEnv("DomainName")),
      messageDir(rootDir + "messages/"),
      controlDir(rootDir + "control/"),
      deferredDir(rootDir + "deferred/"),
      hostName(GetEnv("HostName")),
      mailboxDir(GetEnv("MailboxDir") + "/"),
      logging(false) {
    SetModule(this);
}

SModule::~SModule() = default;

void SModule::ProcessQueue() { ProcessDeferredDir(deferredDir + moduleName); }

void SModule::ProcessRequest(SRequest&) {}

bool SModule::LoadEnv() { return true; }

void SModule::SetThreadId(long id) { threadTag = "." + SString(id); }

// ---- start-up ---------------------------------------------------------------------------

int SModule::Main(const char** argv) {
    SetNewHandler();
    SetupSignalHandlers();
    SStringList args;
    if (argv) args = argv;
    logging = GetEnv("Log") == "yes";
    if (!LoadEnv()) return kExitLoadEnvFailed;
    if (args.Contains("VerifyEnvironment")) return kExitDone;
    if (args.Contains("ProcessQueue")) {
        ProcessQueue();
        return kExitDone;
    }
    SString name = GetEnv("MessageFile");
    if (args.Contains("MessageFile")) name = args.Get(args.Count() - 1);
    return ProcessMessageName(name);
}

void SModule::SetupSignalHandlers() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGCHLD}) sigaction(signal, &ignore, nullptr);

    // Caught by a handler that does nothing: the process goes on, SA_RESTART resumes
    // interrupted system calls, and the one wait that is not resumed by the system
    // (the select of SRequest::Ask) resumes itself with the time left.
    struct sigaction term {};
    term.sa_handler = IgnoreTermination;
    sigfillset(&term.sa_mask);
    term.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &term, nullptr);
}

// ---- one control file -------------------------------------------------------------------

int SModule::ProcessMessageName(const SString& name) {
    PutFilename(name);
    if (!SField::Read()) return kExitUnreadableControl;
    if (FirstValue(*this, "Function:") != moduleName) return kExitWrongFunction;
    return _DispatchControl();
}

int SModule::_DispatchControl() {
    SString type = FirstValue(*this, "Control-Type:");
    if (type == "Mail") {
        _LogMessage(GetFilename());
        // A failure puts the message aside for the next queue run; it is never
        // dropped.  If the write-back fails, the file on disk is still the complete
        // old one and is deferred as it stands.
        if (!ProcessMail()) {
            Write();
            Defer();
        }
        return kExitDone;
    }
    if (type == "Request") {
        SRequest request(*this);
        ProcessRequest(request);
        return kExitDone;
    }
    return kExitBadControlType;
}

void SModule::_LogMessage(const SString& name) const {
    if (!logging) return;
    SString line = LogFileDate() + ":" + moduleName + ":" + name + "\n";
    std::clog << line;
    std::clog.flush();
}

// ---- the deferred queue -------------------------------------------------------------------

void SModule::ProcessDeferredDir(const SString& directory) {
    SStringList entries = ReadDir(directory);
    for (int i = 0; i < entries.Count(); ++i) {
        SString entry = entries.Get(i);
        SString file = FileFromFilename(entry);
        // Only complete control files go back: per-host subdirectories are worked
        // through by their own call, and anything else would never be picked up
        // again from the control directory.
        if (!HasSuffix(file, kControlSuffix) || !IsRegular(entry)) continue;
        if (!Rename(entry, controlDir + file)) continue;
        ProcessMessageName(BaseName(file, kControlSuffix));
    }
    RemoveDir(directory);
}

// ---- in-process chaining ------------------------------------------------------------------

bool SModule::ProcessMailControl(SControl& control) {
    SControl::operator=(control);
    AddTrace();
    SetModule(this);
    return ProcessMail();
}

// ---- message names ------------------------------------------------------------------------

SString SModule::NewMessageID() {
    uint32_t n = static_cast<uint32_t>(messageCounter) - 1;
    ++messageCounter;
    return MessageIdDate() + threadTag + "." + CounterLetters(n) + ProcessIdString() + "@" +
           hostName;
}
