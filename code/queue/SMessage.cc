// The spool files of a queued message: reading and writing field files, the control
// file's naming, trace, deferral, removal and forking, the dispatcher notice, and the
// request/answer exchange between modules.
//
// Every write goes to name + ".temp" and is renamed into place, so a crash or a
// failed write leaves the previous complete file.  Files are never locked; module
// processes coordinate only through rename, hard links and loopback datagrams.
#include "SMessage.h"

#include <cmath>

#include "SLoopbackDatagram.h"
#include "SModule.h"
#include "Sdatetime.h"
#include "Sfiledir.h"
#include "Sprocess.h"

const char* const kControlSuffix = "-Control";
const char* const kHeaderSuffix = "-Header";
const char* const kBodySuffix = "-Body";
const char* const kTempSuffix = ".temp";

namespace {

constexpr int kMissingFilename = -11;
constexpr unsigned long kDeferredDirMode = 0770;

SString SpoolRoot() { return GetEnv("Quillbox"); }

SString MessagesDirectoryFromEnv() { return SpoolRoot() + "/messages/"; }

// A loopback port taken from text: the integer part of its numeric value, or 0 when
// that is not a usable port (1..65535).
int PortFromText(const SString& text) {
    double value = static_cast<double>(text);
    if (!(value >= 1.0 && value < 65536.0)) return 0;  // NaN fails too
    return static_cast<int>(value);
}

// The first value of a field, or the empty text.
SString FirstValue(const SNamedStringList& fields, const char* name) {
    SString value = fields.Get(name).Get(0);
    return value.Defined() ? value : SString("");
}

// Writes `text` to path + ".temp" and renames it into place; on any failure the
// temporary file is removed and the old file under `path` is untouched.
bool WriteThroughTemp(const SString& path, const SString& text) {
    SString temp = path + kTempSuffix;
    if (!MapFileWrite(temp, text) || !Rename(temp, path)) {
        RemoveFile(temp);
        return false;
    }
    return true;
}

// A "Host-To:" value usable as one directory level below the deferred directory.
// Anything that could climb out of it ("..", "a/b") files the control file directly
// in the deferred directory instead.
bool IsSafeSubdirectory(const SString& host) {
    return host.Length() > 0 && host.Index('/') < 0 && host != "." && host != "..";
}

}  // namespace

// ---- SMessage -------------------------------------------------------------------------

SMessage::SMessage() : errorCode(0) {}

SMessage::~SMessage() = default;

SString SMessage::GetFilename() const { return filename; }

void SMessage::PutFilename(const SString& name) { filename = name; }

// ---- SField ---------------------------------------------------------------------------

SField::SField(unsigned exact, unsigned crlf)
    : SNamedStringList(exact, crlf),
      fieldMessageDir(MessagesDirectoryFromEnv()),
      onDisk(false),
      lineEndCopy(crlf) {}

SField::SField(const SField& other)
    : SMessage(other),
      SNamedStringList(other),
      fieldMessageDir(other.fieldMessageDir),
      onDisk(other.onDisk),
      lineEndCopy(other.lineEndCopy) {}

SField& SField::operator=(const SField& other) {
    if (this == &other) return *this;
    filename = other.filename;
    onDisk = other.onDisk;
    SNamedStringList::operator=(other);
    return *this;
}

SField::~SField() = default;

bool SField::Read() {
    errorCode = 0;
    if (filename.Length() == 0) return false;
    // MapFileRead refuses anything but a regular file without blocking, so a stray
    // FIFO under a control file's name fails the read instead of hanging the module.
    SString text = MapFileRead(filename);
    if (!text.Defined()) return false;
    text >> *this;
    onDisk = true;
    return true;
}

bool SField::Read(const SString& path) {
    filename = path;
    return Read();
}

bool SField::Write() {
    if (filename.Length() == 0) {
        errorCode = kMissingFilename;
        return false;
    }
    SString text("");
    text << *this;
    if (!WriteThroughTemp(filename, text)) return false;
    onDisk = true;
    return true;
}

bool SField::Write(const SString& path) {
    filename = path;
    return Write();
}

void SField::UnlockFile() {}

// ---- SControl -------------------------------------------------------------------------

SControl::SControl()
    : SField(1, 0),
      ctlModule(GetEnv("ModuleName")),
      ctlControlDir(SpoolRoot() + "/control/"),
      ctlDeferredDir(SpoolRoot() + "/deferred/" + ctlModule + "/") {}

SControl::SControl(const SString& name) : SControl() { PutFilename(name); }

SControl::~SControl() = default;

void SControl::SetModule(SModule* module) {
    if (!module) return;
    ctlModule = module->GetModuleName();
    ctlControlDir = module->GetControlDir();
    ctlDeferredDir = module->GetDeferredDir() + ctlModule + "/";
}

SString SControl::GetFilename() const { return BaseName(filename, kControlSuffix); }

void SControl::PutFilename(const SString& name) {
    filename = name.Index('/') >= 0 ? name : ctlControlDir + name + kControlSuffix;
}

SString SControl::GetControlFilename() const { return filename; }

SString SControl::GetHeaderFilename() const {
    return fieldMessageDir + GetFilename() + kHeaderSuffix;
}

SString SControl::GetBodyFilename() const {
    return fieldMessageDir + GetFilename() + kBodySuffix;
}

bool SControl::Read(const SString& name) {
    PutFilename(name);
    return Read();
}

bool SControl::Write() {
    AddTrace();
    return SField::Write();
}

bool SControl::Write(const SString& name) {
    PutFilename(name);
    return Write();
}

void SControl::AddTrace() {
    SStringList trace = Get("Trace:");
    trace.Push(ctlModule);
    Delete("Trace:");
    (*this)["Trace:"] = trace;
}

int SControl::GetTraceCount() const {
    int count = 0;
    Get("Trace:").ForEach([&](const SString& name) {
        if (name == ctlModule) ++count;
    });
    return count;
}

bool SControl::Defer() {
    SString host = FirstValue(*this, "Host-To:");
    return Defer(IsSafeSubdirectory(host) ? host + "/" : SString(""));
}

bool SControl::Defer(const SString& subdirectory) {
    SString target = ctlDeferredDir + subdirectory;
    if (subdirectory.Length() > 0 && subdirectory[-1] != '/') target += '/';
    if (!MakeDir(target, kDeferredDirMode)) return false;
    return Rename(GetControlFilename(), target + GetFilename() + kControlSuffix);
}

bool SControl::RemoveMessage() {
    bool controlRemoved = true;
    if (onDisk) controlRemoved = RemoveFile(ctlControlDir + GetFilename() + kControlSuffix);
    bool headerRemoved = RemoveFile(GetHeaderFilename());
    bool bodyRemoved = RemoveFile(GetBodyFilename());
    // Header and body come and go together; only one of them gone means damage.
    return controlRemoved && headerRemoved == bodyRemoved;
}

bool SControl::LinkMessage(const SString& newName) const {
    SString newHeader = fieldMessageDir + newName + kHeaderSuffix;
    if (!LinkFile(GetHeaderFilename(), newHeader)) return false;
    if (!LinkFile(GetBodyFilename(), fieldMessageDir + newName + kBodySuffix)) {
        RemoveFile(newHeader);
        return false;
    }
    return true;
}

bool SControl::Notify() {
    int port = PortFromText(GetEnv("DispatchSocket"));
    if (port == 0) return false;
    SString key = GetEnv("DispatchKey");
    if (key.Length() == 0) return false;
    SString datagram = GetFilename() + "\n" + key + "\n" + FirstValue(*this, "Function:") +
                       "\n" + FirstValue(*this, "Control-Type:") + "\n" +
                       FirstValue(*this, "Priority:");
    return SendLoopbackDatagram(port, datagram);
}

// ---- SHeader --------------------------------------------------------------------------

SHeader::SHeader() : SField(0, 1) {}

SHeader::SHeader(const SString& name) : SHeader() { PutFilename(name); }

SHeader::~SHeader() = default;

SString SHeader::GetFilename() const { return BaseName(filename, kHeaderSuffix); }

void SHeader::PutFilename(const SString& name) {
    filename = fieldMessageDir + name + kHeaderSuffix;
}

bool SHeader::Read(const SString& name) {
    PutFilename(name);
    return Read();
}

bool SHeader::Write(const SString& name) {
    PutFilename(name);
    return Write();
}

// ---- SBody ----------------------------------------------------------------------------

SBody::SBody() : bodyMessageDir(MessagesDirectoryFromEnv()) {}

SBody::SBody(const SString& name) : SBody() { PutFilename(name); }

SBody::~SBody() = default;

SString SBody::GetFilename() const { return BaseName(filename, kBodySuffix); }

void SBody::PutFilename(const SString& name) { filename = bodyMessageDir + name + kBodySuffix; }

SString SBody::Read() const {
    if (filename.Length() == 0) return SString();
    return MapFileRead(filename);
}

bool SBody::Write(const SString& bytes) {
    if (filename.Length() == 0) {
        errorCode = kMissingFilename;
        return false;
    }
    return WriteThroughTemp(filename, bytes);
}

// ---- SRequest -------------------------------------------------------------------------

SRequest::SRequest(const SControl& control) : SControl() {
    SString path = control.GetControlFilename();
    if (path.Length() > 0) PutFilename(path);
    control.Keys().ForEach([&](const SString& name) { (*this)[name] = control.Get(name); });
    onDisk = control.IsOnDisk();
}

SRequest::~SRequest() = default;

bool SRequest::Ask(const SString& module, double timeout) {
    (*this)["Function:"] = module;
    (*this)["Control-Type:"] = "Request";
    if (Get("Priority:").Count() == 0) (*this)["Priority:"] = "3";
    PutFilename(MessageIdDate() + "." + ProcessIdString());

    SLoopbackReceiver answer;
    if (!answer.Open()) return false;
    (*this)["Return-Path:"] = SString(answer.Port());
    if (!Write()) return false;

    // Only a datagram of exactly one byte is the answering module's signal.
    bool signalled = Notify() && answer.Receive(timeout, 5).Length() == 1;
    answer.Close();
    bool answered = signalled && Read();
    RemoveMessage();
    return answered;
}

bool SRequest::Answer() {
    if (!onDisk) return false;
    if (!Write()) return false;
    int port = PortFromText(FirstValue(*this, "Return-Path:"));
    if (port == 0) {
        RemoveMessage();
        return false;
    }
    return SendLoopbackDatagram(port, "0");
}
