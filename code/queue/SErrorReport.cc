// Error reports for the "Error-Handler" module, as SModule members and as free
// functions, and the system error number and its text.
//
// A converting report turns the message's own control file into a report; a new
// report is a control file of its own (no header or body) named after the UTC stamp,
// the process id and a per-process counter shared by every report function, so two
// reports of one process never overwrite each other.  The error number is taken when
// the report is built, before anything else can change it.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>

#include "SMessage.h"
#include "SModule.h"
#include "Sdatetime.h"
#include "Sprocess.h"

namespace {

const char* const kErrorHandler = "Error-Handler";

int32_t reportCounter = 0;

SString NewReportName() {
    ++reportCounter;
    return MessageIdDate() + "." + ProcessIdString() + "." + SString(static_cast<int>(reportCounter));
}

// module ":" code " (" where ")"; a module of the undefined string adds no prefix.
SString ErrorValue(const SString& module, const SString& code, const SString& where) {
    SString value = module.Defined() ? module + ":" + code : code;
    return value + " (" + where + ")";
}

// Members name another module's code as given ("Y:X"); their own get their name.
SString MemberErrorValue(const SString& module, const SString& code, const SString& where) {
    return ErrorValue(code.Index(':') >= 0 ? SString() : module, code, where);
}

SString FreeErrorValue(const SString& code, const SString& where) {
    return ErrorValue(GetEnv("ModuleName"), code, where);
}

void SetErrorFields(SControl& report, const SString& error, const SStringList& text,
                    int errorNumber) {
    report["Error:"] = error;
    report["Error-Text:"] = text;
    if (errorNumber != 0) {
        report["Error-Number:"] = SString(errorNumber);
        report["Error-Systext:"] = GetErrorString(errorNumber);
    } else {
        // "Error-Number:" is present exactly when there is an error number.
        report.Delete("Error-Number:");
        report.Delete("Error-Systext:");
    }
}

bool ConvertControl(SControl& control, const SString& error, const SStringList& text,
                    int errorNumber) {
    control["Function:"] = kErrorHandler;
    SetErrorFields(control, error, text, errorNumber);
    if (!control.Write()) return false;
    control.Notify();
    return true;
}

void FillNewReport(SControl& report, const SString& error, const SStringList& text,
                   int errorNumber) {
    report.PutFilename(NewReportName());
    report["Function:"] = kErrorHandler;
    report["Control-Type:"] = "Error";
    report["Priority:"] = "1";
    SetErrorFields(report, error, text, errorNumber);
}

bool WriteNewReport(const SString& error, const SStringList& text, int errorNumber) {
    SControl report;
    FillNewReport(report, error, text, errorNumber);
    if (!report.Write()) return false;
    report.Notify();
    return true;
}

// A notifying report; `module` heads the standard-error line when it is withheld.
void NotifyReport(const SControl& about, const SString& module, const SString& error,
                  const SStringList& text, int errorNumber) {
    if (about.Get("Trace:").Contains(kErrorHandler)) {
        // Reporting a message the error handler has already seen could loop.
        SString line = LogFileDate() + ":" + module + ":ProcessNotifyError:" + text.Join("") + "\n";
        std::cerr << line;
        std::cerr.flush();
        return;
    }
    SControl report;
    FillNewReport(report, error, text, errorNumber);
    if (report.Write()) {
        report.Notify();
        return;
    }
    // Never lose a report silently: the fields go to standard error instead.
    SString rendered("");
    rendered << report;
    std::cerr << rendered << report.Separator();
    std::cerr.flush();
}

SStringList WithSystemText(const SStringList& text, int errorNumber) {
    SStringList lines = text;
    lines.Push(GetErrorString(errorNumber));
    return lines;
}

}  // namespace

// ---- members ----------------------------------------------------------------------------

bool SModule::ProcessError(SControl& control, const SString& where, const SString& code,
                           const SStringList& text) {
    int errorNumber = GetErrorNo();
    return ConvertControl(control, MemberErrorValue(moduleName, code, where), text, errorNumber);
}

bool SModule::ProcessError(const SString& where, const SString& code, const SStringList& text) {
    int errorNumber = GetErrorNo();
    return WriteNewReport(MemberErrorValue(moduleName, code, where), text, errorNumber);
}

void SModule::ProcessNotifyError(const SControl& control, const SString& where,
                                 const SString& code, const SStringList& text) {
    int errorNumber = GetErrorNo();
    NotifyReport(control, moduleName, MemberErrorValue(moduleName, code, where), text,
                 errorNumber);
}

bool SModule::ProcessSysError(const SString& where, const SString& code,
                              const SStringList& text) {
    int errorNumber = GetErrorNo();
    return WriteNewReport(MemberErrorValue(moduleName, code, where),
                          WithSystemText(text, errorNumber), errorNumber);
}

bool SModule::ProcessSysError(SControl& control, const SString& where, const SString& code,
                              const SStringList& text) {
    int errorNumber = GetErrorNo();
    return ConvertControl(control, MemberErrorValue(moduleName, code, where),
                          WithSystemText(text, errorNumber), errorNumber);
}

// ---- free functions -------------------------------------------------------------------------

bool ProcessError(SControl& control, const SString& where, const SString& code,
                  const SStringList& text) {
    int errorNumber = GetErrorNo();
    return ConvertControl(control, FreeErrorValue(code, where), text, errorNumber);
}

bool ProcessError(const SString& where, const SString& code, const SStringList& text) {
    int errorNumber = GetErrorNo();
    return WriteNewReport(FreeErrorValue(code, where), text, errorNumber);
}

void ProcessNotifyError(const SControl& control, const SString& where, const SString& code,
                        const SStringList& text) {
    int errorNumber = GetErrorNo();
    NotifyReport(control, GetEnv("ModuleName"), FreeErrorValue(code, where), text, errorNumber);
}

// ---- error numbers ----------------------------------------------------------------------------

int GetErrorNo() { return errno; }

int GetSocketErrorNo() { return errno; }

SString GetErrorString(int errorNumber) {
    if (errorNumber == -1) errorNumber = errno;
    return SString(std::strerror(errorNumber));
}

SString GetSocketErrorString(int errorNumber) { return GetErrorString(errorNumber); }
