// SMappedFile: a whole file mapped read-only and shown as an SFixedString.
//
// Used where a file is read once and parsed in place (control files, cut tables,
// mailbox files).  The mapping and the descriptor live until Close or destruction;
// strings handed out by GetString share the mapping and must be gone by then, or the
// process ends (status 110) rather than read unmapped memory.
#include "SMappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "SystemPath.h"

SMappedFile::SMappedFile(const SString& path)
    : SFixedString(), fd(-1), mappedLength(0), address(nullptr), valid(false) {
    SystemPath p(path);
    // Non-blocking, so that a FIFO under the name cannot hang the open; it is then
    // refused as not regular.  Mapping a regular file is unaffected.
    if (!p.empty()) fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size >= INT32_MAX)
        return;
    valid = true;
    mappedLength = static_cast<int32_t>(st.st_size);
    if (mappedLength == 0) return;
    address = ::mmap(nullptr, mappedLength, PROT_READ, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
        address = nullptr;
        valid = false;
        return;
    }
    SetBuffer(static_cast<const char*>(address), mappedLength);
}

SMappedFile::~SMappedFile() { Close(); }

SString SMappedFile::GetString() const {
    if (!valid) return SString();
    if (mappedLength == 0) return SString("");
    return SString(static_cast<const SFixedString&>(*this));
}

void SMappedFile::Close() {
    if (address) {
        if (links != 2) {
            // Unmapping now would leave those strings reading freed memory.
            std::cerr << "SMappedFile closed while its text is still shared" << std::endl;
            std::_Exit(110);
        }
        ::munmap(address, mappedLength);
        address = nullptr;
        SetBuffer("", 0);
    }
    if (fd >= 0) ::close(fd);
    fd = -1;
    valid = false;
}
