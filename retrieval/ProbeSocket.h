// What the echo probe needs from the system: Winsock and the process heap on Windows, BSD
// sockets and the C heap elsewhere. Errors are the system's socket error numbers.
#pragma once

#include <cstddef>
#include <cstdint>

// The 16-byte IPv4 socket address of the probed host, port 0.
struct ProbeAddress {
    alignas(8) unsigned char bytes[16];
};

namespace probe_platform {

// The socket error that means a send or receive time-out (WSAETIMEDOUT, ETIMEDOUT).
extern const int kTimedOut;
// The error of a raw socket refused for lack of rights (WSAEACCES; EACCES or EPERM).
bool IsAccessDenied(int error);

// Name first, then dotted address. False when neither works.
bool Resolve(const char* host, ProbeAddress& address);

unsigned long CurrentProcessId();
unsigned long TickCount();

// Zero-filled block from the process heap; null on failure with LastSystemError set.
void* AllocateBlock(std::size_t size);
void FreeBlock(void* block);
unsigned long LastSystemError();

// A raw ICMP socket; every operation answers 0 or the socket error.
class CRawIcmpSocket {
public:
    CRawIcmpSocket() = default;
    CRawIcmpSocket(const CRawIcmpSocket&) = delete;
    CRawIcmpSocket& operator=(const CRawIcmpSocket&) = delete;
    ~CRawIcmpSocket();

    int Open();
    // Receive then send time-out, in milliseconds.
    int SetTimeOuts(long milliseconds);
    int SetNonBlocking();
    int SendTo(const void* data, std::size_t size, const ProbeAddress& address);
    // `readable` false when the wait ended without data.
    int WaitReadable(long milliseconds, bool& readable);
    int ReceiveFrom(void* buffer, std::size_t size, std::size_t& received);
    // True for the error that a non-blocking receive gives when nothing is queued.
    static bool IsWouldBlock(int error);

private:
    std::intptr_t m_socket = -1;
};

// Sends the echo payload through the system's ICMP service, for processes that may not
// open raw sockets. Answers 0 and sets `replied` (true only for an echo reply within the
// wait), or the system's error.
int SendEchoThroughService(const ProbeAddress& address, const void* payload, std::size_t size,
                           long milliseconds, bool& replied);

// Whether the system offers such a service.
bool HasEchoService();

} // namespace probe_platform
