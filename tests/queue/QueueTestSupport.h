// Helpers for the queue tests: a scratch spool tree with the environment pointing at
// it, plain file access that does not go through the code under test, a loopback UDP
// peer standing in for the dispatcher, and a runner for the test module program.
//
// Each ScratchSpool is a fresh mkdtemp directory (tests run in parallel) removed
// again by its destructor.  Environment changes made through it are undone too.
#ifndef QUILLBOX_TESTS_QUEUE_SUPPORT_H
#define QUILLBOX_TESTS_QUEUE_SUPPORT_H

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace qbtest {

inline std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteWhole(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Entry names of a directory, sorted; empty when it cannot be read.
inline std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

// Sets or unsets a variable and restores the old state on destruction.
class EnvGuard {
public:
    ~EnvGuard() {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
            if (it->second.first)
                setenv(it->first.c_str(), it->second.second.c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }
    void Set(const std::string& name, const std::string& value) {
        Save(name);
        setenv(name.c_str(), value.c_str(), 1);
    }
    void Unset(const std::string& name) {
        Save(name);
        unsetenv(name.c_str());
    }

private:
    void Save(const std::string& name) {
        const char* old = getenv(name.c_str());
        saved.push_back({name, {old != nullptr, old ? old : ""}});
    }
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved;
};

// A spool tree: control/, messages/, deferred/ and processed/ (for the test module),
// with "Quillbox" and "ModuleName" set for the test's process.
class ScratchSpool {
public:
    explicit ScratchSpool(const std::string& moduleName = "Test-Module") {
        std::string pattern = std::string(QB_TEST_TMP) + "/spool.XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back(0);
        root = mkdtemp(buf.data()) ? buf.data() : "";
        for (const char* sub : {"/control", "/messages", "/deferred", "/processed"})
            mkdir((root + sub).c_str(), 0770);
        env.Set("Quillbox", root);
        env.Set("ModuleName", moduleName);
        env.Unset("DispatchSocket");
        env.Unset("DispatchKey");
        env.Unset("Log");
        env.Unset("MessageFile");
    }
    ~ScratchSpool() {
        if (!root.empty()) nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
    ScratchSpool(const ScratchSpool&) = delete;
    ScratchSpool& operator=(const ScratchSpool&) = delete;

    std::string Path(const std::string& rel) const { return root + "/" + rel; }
    std::string Control(const std::string& name) const {
        return Path("control/" + name + "-Control");
    }
    std::string Header(const std::string& name) const {
        return Path("messages/" + name + "-Header");
    }
    std::string Body(const std::string& name) const { return Path("messages/" + name + "-Body"); }

    std::string root;
    EnvGuard env;
};

// A UDP socket on 127.0.0.1, standing in for the dispatcher or an asker.
class UdpPeer {
public:
    UdpPeer() {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~UdpPeer() { close(fd); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    // One datagram, or nothing after `ms` milliseconds (returns false).
    bool Receive(std::string& out, int ms) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return false;
        char buf[2048];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0) return false;
        out.assign(buf, static_cast<size_t>(n));
        return true;
    }
    static bool SendTo(int port, const std::string& bytes) {
        int s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ssize_t n = sendto(s, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a),
                           sizeof a);
        close(s);
        return n == static_cast<ssize_t>(bytes.size());
    }

    int fd;
    int port;
};

// The five lines of a dispatcher datagram.
inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    for (;;) {
        auto nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl == std::string::npos ? nl : nl - start));
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return lines;
}

// Starts the test module program with the given arguments (after the program name)
// and extra environment; returns its pid.
inline pid_t StartModule(const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {}) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    for (const auto& kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    std::vector<const char*> argv{QB_QUEUE_TEST_MODULE};
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    execv(argv[0], const_cast<char* const*>(argv.data()));
    _exit(127);
}

// Exit status of a finished child, or -1 when it did not exit normally.
inline int WaitExit(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

inline int RunModule(const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env = {}) {
    return WaitExit(StartModule(args, env));
}

}  // namespace qbtest

#endif
