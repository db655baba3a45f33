// The spool files of a queued message: SMessage (a named file), SField (a file of
// fields), SControl (the control file that says which module handles the message
// next), SHeader, SBody, and SRequest (a control file used as a synchronous question).
//
// Queue files are never locked.  A file reaches its final name only by renaming a
// complete ".temp" file, so readers see the old or the new file, never a half.  Nothing
// here throws: failures come back as false and leave the spool as it was.
#ifndef QUILLBOX_SMESSAGE_H
#define QUILLBOX_SMESSAGE_H

#include <cstdint>

#include "SNamedLists.h"
#include "SString.h"
#include "SStringList.h"

class SModule;

// The suffixes of a message's three spool files.
extern const char* const kControlSuffix;  // "-Control"
extern const char* const kHeaderSuffix;   // "-Header"
extern const char* const kBodySuffix;     // "-Body"
extern const char* const kTempSuffix;     // ".temp"

// A spool file known by its full path.
class SMessage {
public:
    SMessage();
    virtual ~SMessage();

    virtual SString GetFilename() const;
    virtual void PutFilename(const SString& name);

    // Set to -11 by a write without a file name; cleared by the next read.
    int GetErrorCode() const { return errorCode; }

protected:
    SString filename;
    int32_t errorCode;
};

// A spool file whose content is a list of fields in the field text format.
class SField : public SMessage, public SNamedStringList {
public:
    // exact: field names compared exactly (non-zero) or without regard to case;
    // crlf: lines end with CR LF (non-zero) or LF alone.
    SField(unsigned exact, unsigned crlf);
    SField(const SField& other);
    SField& operator=(const SField& other);
    ~SField() override;

    // Replaces every field with the file's content; false when it cannot be read.
    virtual bool Read();
    virtual bool Read(const SString& path);
    // Writes the fields to name + ".temp" and renames it into place.
    virtual bool Write();
    virtual bool Write(const SString& path);
    // Queue files are never locked; kept so callers can release symmetrically.
    virtual void UnlockFile();

    // Set by the first successful read or write, never cleared.
    bool IsOnDisk() const { return onDisk; }
    SString GetMessageDirectory() const { return fieldMessageDir; }

protected:
    SString fieldMessageDir;  // root + "/messages/"
    bool onDisk;

private:
    unsigned lineEndCopy;  // mirrors the line-end flag; nothing reads it
};

// The control file: exact field names, LF line ends, written with this module's
// name appended to "Trace:".
class SControl : public SField {
public:
    SControl();
    explicit SControl(const SString& name);
    SControl(const SControl& other) = default;
    SControl& operator=(const SControl& other) = default;
    ~SControl() override;

    // Takes the module's name, its control directory and its deferred directory.
    void SetModule(SModule* module);

    // The message name: the file's base name without "-Control".
    SString GetFilename() const override;
    // A name without "/" becomes control directory + name + "-Control"; a name with
    // "/" is a full path.
    void PutFilename(const SString& name) override;

    SString GetControlFilename() const;
    SString GetHeaderFilename() const;
    SString GetBodyFilename() const;
    SString GetControlModuleName() const { return ctlModule; }
    SString GetControlDirectory() const { return ctlControlDir; }
    SString GetDeferredDirectory() const { return ctlDeferredDir; }

    using SField::Read;
    bool Read(const SString& name) override;
    bool Write() override;
    bool Write(const SString& name) override;

    // Appends the module name to "Trace:" and makes "Trace:" the last field.
    void AddTrace();
    // How often this control's module name stands in "Trace:".
    int GetTraceCount() const;

    // Moves the (already written) control file into the deferred directory, under
    // the "Host-To:" host or the given subdirectory.
    bool Defer();
    bool Defer(const SString& subdirectory);
    // Removes control (when on disk), header and body.
    bool RemoveMessage();
    // Hard-links header and body under a second message name.
    bool LinkMessage(const SString& newName) const;
    // Sends the dispatcher the datagram announcing this control file.
    bool Notify();

private:
    SString ctlModule;       // the name added to "Trace:"
    SString ctlControlDir;   // ends with "/"
    SString ctlDeferredDir;  // ends with the module name and "/"
};

// The header file: case-blind field names, CR LF line ends.
class SHeader : public SField {
public:
    SHeader();
    explicit SHeader(const SString& name);
    SHeader(const SHeader& other) = default;
    SHeader& operator=(const SHeader& other) = default;
    ~SHeader() override;

    // The message name: the file's base name without "-Header".
    SString GetFilename() const override;
    // Always messages directory + name + "-Header".
    void PutFilename(const SString& name) override;

    using SField::Read;
    using SField::Write;
    bool Read(const SString& name) override;
    bool Write(const SString& name) override;
};

// The body file: raw bytes, never parsed.
class SBody : public SMessage {
public:
    SBody();
    explicit SBody(const SString& name);
    ~SBody() override;

    // The message name: the file's base name without "-Body".
    SString GetFilename() const override;
    // Always messages directory + name + "-Body".
    void PutFilename(const SString& name) override;

    // The whole body; undefined when it cannot be read.
    SString Read() const;
    // Replaces the body through a ".temp" file and a rename.
    bool Write(const SString& bytes);

private:
    SString bodyMessageDir;
};

// A question to another module, answered in place through the same control file.
class SRequest : public SControl {
public:
    explicit SRequest(const SControl& control);
    ~SRequest() override;

    // Addresses the request to `module`, announces it and waits at most `timeout`
    // seconds; true when an answer arrived and was read back into this object.
    bool Ask(const SString& module, double timeout);
    // Writes the answer fields back and wakes the asker.
    bool Answer();
};

#endif
