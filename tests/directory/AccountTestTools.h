// Helpers for the account, alias, set-up and quillbox-admin tests: a private
// installation root (a scratch directory with config/, named by "Quillbox" for the
// test's lifetime), list builders, and a runner for child processes (the admin program,
// or a forked function) that feeds standard input and collects output and status.
#ifndef QUILLBOX_TESTS_DIRECTORY_ACCOUNTTESTTOOLS_H
#define QUILLBOX_TESTS_DIRECTORY_ACCOUNTTESTTOOLS_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "SAccount.h"
#include "SString.h"
#include "SStringList.h"
#include "Ssecurity.h"


namespace accttest {

inline SString S(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }
inline std::string Str(const SString& s) { return std::string(s.Chars(), s.Length()); }

inline std::vector<std::string> Items(const SStringList& l) {
    std::vector<std::string> out;
    l.ForEach([&out](const SString& s) { out.push_back(Str(s)); });
    return out;
}

inline SStringList List(const std::vector<std::string>& items) {
    SStringList l;
    l.Reset();
    for (const std::string& s : items) l.Push(S(s));
    return l;
}

// A scratch installation root with a config directory, made the process's "Quillbox"
// (and the account database reopened there) for the lifetime of the object.
class TestRoot {
public:
    TestRoot() {
        std::string pattern = std::string(QB_TEST_TMP) + "/accounts-XXXXXX";
        std::filesystem::create_directories(QB_TEST_TMP);
        char* made = ::mkdtemp(pattern.data());
        path = made ? made : "";
        std::filesystem::create_directories(path + "/config");
        ::setenv("Quillbox", path.c_str(), 1);
        SAccountBase::CloseDatabases();
    }
    ~TestRoot() {
        SAccountBase::CloseDatabases();
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TestRoot(const TestRoot&) = delete;
    TestRoot& operator=(const TestRoot&) = delete;

    const std::string& Path() const { return path; }
    std::string Config(const std::string& name) const { return path + "/config/" + name; }
    void Write(const std::string& file, const std::string& bytes) const {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

private:
    std::string path;
};

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs `child` in a forked process with `input` on its standard input; its standard
// output and error are collected.  `child` returns the exit status (or execs).
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
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return result;
}

}  // namespace accttest

#endif
