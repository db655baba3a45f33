// SMappedFile: a read-only mapping of a whole file, readable as an SString.
//
// The object is itself the SFixedString laid over the mapped bytes, so GetString()
// hands out strings that share the mapping without copying; copy on write keeps
// anyone from writing into it.  Every string obtained from GetString() must be
// released before the SMappedFile is destroyed (a still-shared SFixedString ends the
// process).  The descriptor stays open until Close() or destruction.
#ifndef QUILLBOX_SMAPPEDFILE_H
#define QUILLBOX_SMAPPEDFILE_H

#include <cstdint>

#include "SString.h"

class SMappedFile : public SFixedString {
public:
    // Opens the file read-only; a regular file is valid, and one of at least one
    // byte is mapped.  A failing map leaves the object invalid.
    explicit SMappedFile(const SString& path);
    ~SMappedFile();
    SMappedFile(const SMappedFile&) = delete;
    SMappedFile& operator=(const SMappedFile&) = delete;

    // The mapped bytes (an empty file gives a defined empty string); undefined when
    // the object is not valid.
    SString GetString() const;
    // Unmaps and closes the descriptor; safe to call more than once.
    void Close();

    bool Valid() const { return valid; }

private:
    int32_t fd;
    int32_t mappedLength;
    void* address;
    bool valid;
};

#endif
