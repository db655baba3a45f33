// Helpers for the queue tests: a scratch spool tree with the environment pointing at
// it, a loopback UDP socket standing in for the dispatcher or an asker, and a runner
// for the test module program (TestModule.cc, built by extra.cmake).
#ifndef QUILLBOX_TESTS_QUEUE_SUPPORT_H
#define QUILLBOX_TESTS_QUEUE_SUPPORT_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "QbTest.h"

namespace qbtest {

inline bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Entry names of a directory, sorted; empty when it cannot be read.
inline std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A spool tree (control/, messages/, deferred/, and processed/ for the test module)
// with "Quillbox" and "ModuleName" set and the optional variables cleared.
class ScratchSpool : public TempDir {
public:
    explicit ScratchSpool(const std::string& module = "Test-Module") : TempDir("spool") {
        for (const char* sub : {"control", "messages", "deferred", "processed"})
            mkdir(Path(sub).c_str(), 0770);
        env.Set("Quillbox", Path());
        env.Set("ModuleName", module);
        for (const char* name : {"DispatchSocket", "DispatchKey", "Log", "MessageFile"})
            env.Unset(name);
    }
    void Dispatch(const std::string& socket, const std::string& key) {
        env.Set("DispatchSocket", socket);
        env.Set("DispatchKey", key);
    }
    std::string Control(const std::string& name) const {
        return Path("control/" + name + "-Control");
    }
    std::string Header(const std::string& name) const {
        return Path("messages/" + name + "-Header");
    }
    std::string Body(const std::string& name) const { return Path("messages/" + name + "-Body"); }

    EnvGuard env;
};

// A UDP socket bound to a free port on 127.0.0.1.
class UdpPeer {
public:
    UdpPeer() : fd(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in a = Loopback(0);
        socklen_t len = sizeof a;
        bind(fd, reinterpret_cast<sockaddr*>(&a), len);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~UdpPeer() { close(fd); }
    UdpPeer(const UdpPeer&) = delete;

    // One datagram, or false when none arrives within `ms` milliseconds.
    bool Receive(std::string& out, int ms) {
        pollfd p{fd, POLLIN, 0};
        char buf[2048];
        ssize_t n = poll(&p, 1, ms) == 1 ? recv(fd, buf, sizeof buf, 0) : -1;
        if (n >= 0) out.assign(buf, static_cast<size_t>(n));
        return n >= 0;
    }
    bool SendTo(int to, const std::string& bytes) {
        sockaddr_in a = Loopback(to);
        return sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a),
                      sizeof a) == static_cast<ssize_t>(bytes.size());
    }
    static sockaddr_in Loopback(int port) {
        sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
        return a;
    }

    int fd;
    int port = 0;
};

// Body of a child process: execs the test module program with these arguments
// (after the program name) and extra environment.
inline int ExecModule(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env = {}) {
    for (const auto& kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    std::vector<const char*> argv{QB_QUEUE_TEST_MODULE};
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    execv(argv[0], const_cast<char* const*>(argv.data()));
    return 127;
}

// The exit status of one run of the test module program.
inline int RunModule(const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env = {}) {
    return WaitStatus(Spawn([&] { return ExecModule(args, env); }));
}

}  // namespace qbtest

#endif
