// SModule: the base class of every module program, and the error reports modules send
// to the "Error-Handler" module.
//
// A module program constructs its module object and returns Main(argv).  The module
// object is itself the SControl of the message in hand.  Main decides from the command
// line and the environment what the run is for and returns the process exit status
// (the kExit... values).  Signals that would interrupt a module are ignored and an
// allocation failure ends the process at once with status 106.
#ifndef QUILLBOX_SMODULE_H
#define QUILLBOX_SMODULE_H

#include <cstdint>

#include "SMessage.h"
#include "SString.h"
#include "SStringList.h"

// Exit statuses of a module process.
enum SModuleExit {
    kExitDone = 0,
    kExitLoadEnvFailed = 101,
    kExitWrongFunction = 102,
    kExitBadControlType = 103,
    kExitUnreadableControl = 105,
    kExitOutOfMemory = 106,
    kExitWindowInUse = 110,
};

class SModule : public SControl {
public:
    explicit SModule(const SString& name);
    ~SModule() override;
    SModule(const SModule&) = delete;
    SModule& operator=(const SModule&) = delete;

    // The body of every module program; `argv` is the null-terminated argument
    // vector, program name included.  Returns the exit status.
    int Main(const char** argv);

    // Reads one control file (a message name, or a path with "/") and dispatches it.
    int ProcessMessageName(const SString& name);
    // Moves each entry of `directory` back to the control directory and processes it.
    void ProcessDeferredDir(const SString& directory);
    // Processes a control built by another module of this process.
    bool ProcessMailControl(SControl& control);

    virtual void ProcessQueue();
    virtual bool ProcessMail() = 0;
    virtual void ProcessRequest(SRequest& request);
    virtual bool LoadEnv();

    // A name for a new message: UTC stamp, thread tag, ".", letters, pid, "@host".
    SString NewMessageID();
    void SetThreadId(long id);
    static void SetupSignalHandlers();

    bool IsLogging() const { return logging; }
    SString GetDomainName() const { return domainName; }
    SString GetHostName() const { return hostName; }
    SString GetMailboxDir() const { return mailboxDir; }
    SString GetDeferredDir() const { return deferredDir; }
    SString GetControlDir() const { return controlDir; }
    SString GetMessageDir() const { return messageDir; }
    SString GetModuleName() const { return moduleName; }
    SString GetQuillbox() const { return rootDir; }

    // Error reports (see the free functions below).  Each returns true when the
    // report was written.  A code without ":" is prefixed with this module's name.
    bool ProcessError(SControl& control, const SString& where, const SString& code,
                      const SStringList& text);
    bool ProcessError(const SString& where, const SString& code, const SStringList& text);
    void ProcessNotifyError(const SControl& control, const SString& where,
                            const SString& code, const SStringList& text);
    bool ProcessSysError(const SString& where, const SString& code, const SStringList& text);
    bool ProcessSysError(SControl& control, const SString& where, const SString& code,
                         const SStringList& text);

private:
    void _LogMessage(const SString& name) const;
    int _DispatchControl();

    SString rootDir;
    SString moduleName;
    SString domainName;
    SString messageDir;
    SString controlDir;
    SString deferredDir;
    SString hostName;
    SString mailboxDir;
    SString threadTag;
    bool logging;
};

// Allocation failure handling: NewHandler ends the process with _exit(106), without
// destructors or stream flushing; SetNewHandler installs it.
void SetNewHandler();
void NewHandler();

// Error reports for code without a module at hand; the "Error:" value is always
// prefixed with the environment's "ModuleName".
//   with a control: turns that control file into a report for the error handler;
//   without: writes a new report control file (no header or body);
//   ProcessNotifyError: a new report about the control's message, unless that
//   message has already been through the error handler.
bool ProcessError(SControl& control, const SString& where, const SString& code,
                  const SStringList& text);
bool ProcessError(const SString& where, const SString& code, const SStringList& text);
void ProcessNotifyError(const SControl& control, const SString& where, const SString& code,
                        const SStringList& text);

// The current system error number, and the system's text for an error number
// (-1: the current one).
int GetErrorNo();
int GetSocketErrorNo();
SString GetErrorString(int errorNumber);
SString GetSocketErrorString(int errorNumber);

#endif
