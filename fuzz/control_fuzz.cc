// Fuzzes the reading of control files: the input becomes the content of a file in a
// scratch spool, which an SControl reads and a module then processes as a module
// program would.  Checked on every input: what is written back reads as the same
// named fields, and a rejected control file is left byte for byte as it was.  The
// spool lives on /dev/shm when there is one, since every spool write is synced.
#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "SModule.h"
#include "Sfiledir.h"

namespace {

std::string spoolRoot;

// A module whose work always fails, so that every accepted mail is written back and
// deferred: the frame's most file-heavy path.
class FuzzModule : public SModule {
public:
    FuzzModule() : SModule("Fuzz-Module") {}
    bool ProcessMail() override { return false; }
};

void CheckRewriteReadsTheSame(const SControl& control) {
    SControl copy(control);
    if (!copy.SField::Write((spoolRoot + "/copy").c_str())) abort();
    SControl again((spoolRoot + "/copy").c_str());
    if (!again.Read()) abort();
    // Values before the first named line have no name, and a name can begin with a
    // tab only on the first line; written back, such lines start with blank space and
    // so read as continuations of that same field.  Every other field must survive a
    // rewrite unchanged.
    auto comparable = [](const SString& key) { return key.Length() > 0 && key[0] != '\t'; };
    copy.Keys().ForEach([&](const SString& key) {
        if (comparable(key) && !(again.Get(key) == copy.Get(key))) abort();
    });
    again.Keys().ForEach([&](const SString& key) {
        if (comparable(key) && !copy.Get(key).Defined()) abort();
    });
}

void CheckModuleRun(const SString& text) {
    FuzzModule module;
    int status = module.ProcessMessageName("fuzz");
    if (status == 102 || status == 103) {
        // Rejected: the file must be exactly as it was.
        if (!(MapFileRead((spoolRoot + "/control/fuzz-Control").c_str()) == text)) abort();
    } else if (status != 0) {
        abort();
    }
    // Clear the spool for the next input, wherever the file went.
    for (const SString& dir : {SString((spoolRoot + "/control").c_str()),
                               SString((spoolRoot + "/deferred/Fuzz-Module").c_str())}) {
        ReadDir(dir).ForEach([](const SString& path) {
            if (IsDirectory(path)) {
                ReadDir(path).ForEach([](const SString& inner) { RemoveFile(inner); });
                RemoveDir(path);
            } else {
                RemoveFile(path);
            }
        });
    }
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void RemoveSpool() { nftw(spoolRoot.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char shm[] = "/dev/shm/qb-control-fuzz.XXXXXX";
    char tmp[] = "/tmp/qb-control-fuzz.XXXXXX";
    char* pattern = IsDirectory("/dev/shm") && mkdtemp(shm) ? shm : mkdtemp(tmp);
    if (!pattern) abort();
    spoolRoot = pattern;
    atexit(RemoveSpool);
    MakeDir((spoolRoot + "/control").c_str(), 0770);
    setenv("Quillbox", spoolRoot.c_str(), 1);
    setenv("ModuleName", "Fuzz-Module", 1);
    unsetenv("DispatchSocket");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1 << 16)) return 0;
    SString text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const std::string path = spoolRoot + "/control/fuzz-Control";
    if (!MapFileWrite(path.c_str(), text)) abort();

    SControl control("fuzz");
    if (!control.Read()) abort();
    control.GetTraceCount();
    control.GetFilename();
    CheckRewriteReadsTheSame(control);
    CheckModuleRun(text);
    return 0;
}
