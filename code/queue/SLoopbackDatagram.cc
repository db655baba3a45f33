// Loopback UDP datagrams: the dispatcher notice (SControl::Notify) and the one-byte
// answer signal of the request/answer exchange (SRequest).  Private to the queue.
#include "SLoopbackDatagram.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <ctime>
#include <vector>

namespace {

sockaddr_in LoopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

double MonotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// Whole seconds and microseconds of a wait; the fraction never reaches a full second.
timeval SplitTimeout(double seconds) {
    timeval tv{};
    if (!(seconds > 0)) return tv;  // also catches NaN
    double whole = std::floor(seconds);
    long micro = static_cast<long>((seconds - whole) * 1000000.0);
    tv.tv_sec = static_cast<time_t>(whole);
    tv.tv_usec = micro > 999999 ? 999999 : micro;
    return tv;
}

}  // namespace

bool SendLoopbackDatagram(int port, const SString& bytes) {
    if (port < 1 || port > 65535) return false;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    sockaddr_in to = LoopbackAddress(port);
    ssize_t sent = sendto(fd, bytes.Chars(), static_cast<size_t>(bytes.Length()), 0,
                          reinterpret_cast<const sockaddr*>(&to), sizeof to);
    int saved = errno;
    close(fd);
    errno = saved;
    return sent == bytes.Length();
}

SLoopbackReceiver::SLoopbackReceiver() : fd(-1), port(0) {}

SLoopbackReceiver::~SLoopbackReceiver() { Close(); }

bool SLoopbackReceiver::Open() {
    Close();
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        Close();
        return false;
    }
    port = ntohs(address.sin_port);
    return true;
}

SString SLoopbackReceiver::Receive(double seconds, int maxBytes) {
    if (fd < 0 || maxBytes <= 0) return SString();
    double deadline = MonotonicSeconds() + (seconds > 0 ? seconds : 0);
    timeval wait = SplitTimeout(seconds);
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        int ready = select(fd + 1, &readable, nullptr, nullptr, &wait);
        if (ready > 0) break;
        if (ready == 0 || errno != EINTR) return SString();
        wait = SplitTimeout(deadline - MonotonicSeconds());
    }
    std::vector<char> buffer(static_cast<size_t>(maxBytes));
    ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
    if (got < 0) return SString();
    return SString(buffer.data(), static_cast<int>(got));
}

void SLoopbackReceiver::Close() {
    if (fd >= 0) close(fd);
    fd = -1;
    port = 0;
}
