// Loopback UDP datagrams for the queue: the dispatcher notice and the request/answer
// wake-up both travel to 127.0.0.1 only.
//
// These are the queue's only socket calls, kept behind this small seam (private to
// code/queue) because the system layer has no socket functions and the socket layer
// sits above the queue.  A receiver owns its descriptor and closes it on destruction.
#ifndef QUILLBOX_SLOOPBACKDATAGRAM_H
#define QUILLBOX_SLOOPBACKDATAGRAM_H

#include "SString.h"

// Sends `bytes` as one datagram to 127.0.0.1:port from a fresh socket; true when the
// whole datagram was sent.
bool SendLoopbackDatagram(int port, const SString& bytes);

// A UDP socket bound to 127.0.0.1 on a port the system picks.
class SLoopbackReceiver {
public:
    SLoopbackReceiver();
    ~SLoopbackReceiver();
    SLoopbackReceiver(const SLoopbackReceiver&) = delete;
    SLoopbackReceiver& operator=(const SLoopbackReceiver&) = delete;

    // Creates and binds the socket and reads back its port; false on any failure.
    bool Open();
    int Port() const { return port; }
    // Waits at most `seconds` for one datagram and returns up to `maxBytes` of it;
    // undefined when nothing arrived in time or receiving failed.  A signal does not
    // cut the wait short: the remaining time is waited.
    SString Receive(double seconds, int maxBytes);
    void Close();

private:
    int fd;
    int port;
};

#endif
