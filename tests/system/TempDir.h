// A private scratch directory for one system-layer test, removed with everything in it
// when the test ends.  Tests run in parallel, so each one makes its own.
#ifndef QUILLBOX_TESTS_SYSTEM_TEMPDIR_H
#define QUILLBOX_TESTS_SYSTEM_TEMPDIR_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "SString.h"

class TempDir {
public:
    TempDir() {
        std::string pattern = std::string(QB_TEST_TMP) + "/system-XXXXXX";
        std::filesystem::create_directories(QB_TEST_TMP);
        char* made = ::mkdtemp(pattern.data());
        path = made ? made : "";
    }
    ~TempDir() {
        std::error_code ignored;
        // Undo any permission changes a test made so everything can be removed.
        for (auto& entry : std::filesystem::recursive_directory_iterator(path, ignored))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path, ignored);
    }

    std::string Path(const std::string& name = "") const {
        return name.empty() ? path : path + "/" + name;
    }
    SString S(const std::string& name = "") const {
        std::string p = Path(name);
        return SString(p.data(), static_cast<int>(p.size()));
    }
    void Write(const std::string& name, const std::string& content) const {
        std::ofstream out(Path(name), std::ios::binary);
        out << content;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string path;
};

inline std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

#endif
