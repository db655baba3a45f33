// Helpers shared by every test suite: converting between our text types and the
// standard library's, scratch directories, environment changes that undo themselves,
// and running code in a child process with its output collected.  Tests run in
// parallel, so everything that touches the file system works in its own directory.
#ifndef QUILLBOX_TESTS_QBTEST_H
#define QUILLBOX_TESTS_QBTEST_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "SString.h"
#include "SStringList.h"

namespace qbtest {

// ---- text conversions ---------------------------------------------------------------

inline std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

inline SString S(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }

inline std::vector<std::string> Items(const SStringList& l) {
    std::vector<std::string> out;
    l.ForEach([&out](const SString& s) { out.push_back(Str(s)); });
    return out;
}

// "[a][b]" for a list holding a and b; "undef:" leads an undefined list and "[?]"
// stands for an undefined item, so one string compares everything about a list.
inline std::string Bracketed(const SStringList& l) {
    std::string out = l.Defined() ? "" : "undef:";
    l.ForEach([&out](const SString& s) { out += s.Defined() ? "[" + Str(s) + "]" : "[?]"; });
    return out;
}

// A defined list of the given items.
inline SStringList ListOf(const std::vector<std::string>& items) {
    SStringList l;
    l.Reset();
    for (const std::string& s : items) l.Push(S(s));
    return l;
}

// ---- files ---------------------------------------------------------------------------

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// A private scratch directory under the build tree, removed with everything in it
// (permissions a test took away are restored first).
class TempDir {
public:
    explicit TempDir(const std::string& tag = "test") {
        std::filesystem::create_directories(QB_TEST_TMP);
        std::string pattern = std::string(QB_TEST_TMP) + "/" + tag + "-XXXXXX";
        char* made = ::mkdtemp(pattern.data());
        path = made ? made : "";
    }
    ~TempDir() {
        std::error_code ignored;
        for (auto& entry : std::filesystem::recursive_directory_iterator(path, ignored))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name = "") const {
        return name.empty() ? path : path + "/" + name;
    }
    SString SPath(const std::string& name = "") const { return S(Path(name)); }
    void Write(const std::string& name, const std::string& bytes) const {
        WriteFile(Path(name), bytes);
    }
    std::string Read(const std::string& name) const { return ReadFile(Path(name)); }

private:
    std::string path;
};

// ---- environment -----------------------------------------------------------------------

// Sets or unsets variables and restores their old state on destruction.
class EnvGuard {
public:
    EnvGuard() = default;
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    ~EnvGuard() {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
            if (it->wasSet)
                ::setenv(it->name.c_str(), it->value.c_str(), 1);
            else
                ::unsetenv(it->name.c_str());
        }
    }
    void Set(const std::string& name, const std::string& value) {
        _Save(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void Unset(const std::string& name) {
        _Save(name);
        ::unsetenv(name.c_str());
    }

private:
    struct Saved {
        std::string name;
        bool wasSet;
        std::string value;
    };
    void _Save(const std::string& name) {
        const char* old = ::getenv(name.c_str());
        saved.push_back({name, old != nullptr, old ? old : ""});
    }
    std::vector<Saved> saved;
};

// ---- child processes -------------------------------------------------------------------

// Runs `body` in a child process; the child's exit status is body's result.
inline pid_t Spawn(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

// Exit status of a child, or 128 + signal number when a signal ended it.
inline int WaitStatus(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs `child` in a forked process with `input` on its standard input and collects its
// standard output and error.  `child` returns the exit status (or execs a program).
inline RunResult RunChild(const std::function<int()>& child, const std::string& input = "") {
    int in[2], out[2], err[2];
    RunResult result;
    ::signal(SIGPIPE, SIG_IGN);  // a child that exits before reading its input
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) return result;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
        ::_exit(child());
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (!input.empty()) {
        ssize_t written = ::write(in[1], input.data(), input.size());
        (void)written;  // a child that exits early just misses its input
    }
    ::close(in[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0 && ::poll(fds, 2, 20000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0) ::close(p.fd);
    result.status = WaitStatus(pid);
    return result;
}

// Runs a program (argv[0] is its path) and collects what it prints.
inline RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input = "") {
    return RunChild(
        [&argv] {
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            return 127;
        },
        input);
}

}  // namespace qbtest

#endif
