#include "retrieval/EchoService.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <cstddef>
#include <cstring>
#include <vector>
#else
#include <cerrno>
#include <time.h>
#include <unistd.h>
#endif

namespace probe_platform {

#ifdef _WIN32

namespace {

// ICMPV6_ECHO_REPLY, which MinGW's headers lack: a packed 26-byte address, then the status.
struct Icmp6EchoReply {
    unsigned char address[26];
    ULONG Status;
    unsigned int RoundTripTime;
};
static_assert(offsetof(Icmp6EchoReply, Status) == 28);

} // namespace

unsigned long CurrentProcessId()
{
    return GetCurrentProcessId();
}

unsigned long TickCount()
{
    return GetTickCount();
}

bool HasEchoService()
{
    return true;
}

int SendEchoThroughService(const net::Address& address, const void* payload, std::size_t size,
                           unsigned long milliseconds, bool& replied)
{
    replied = false;
    const bool v6 = address.IsV6();
    const HANDLE icmp = v6 ? Icmp6CreateFile() : IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    // Room for one reply with its echoed data and an ICMP error's worth besides.
    std::vector<unsigned char> reply(sizeof(ICMP_ECHO_REPLY) + sizeof(Icmp6EchoReply) + size + 8 + 64);
    DWORD count;
    if (v6) {
        sockaddr_in6 source{};
        source.sin6_family = AF_INET6;
        sockaddr_in6 destination;
        std::memcpy(&destination, address.bytes, sizeof destination);
        count = Icmp6SendEcho2(icmp, nullptr, nullptr, nullptr, &source, &destination, const_cast<void*>(payload),
                               static_cast<WORD>(size), nullptr, reply.data(), static_cast<DWORD>(reply.size()),
                               milliseconds);
    } else {
        sockaddr_in inet;
        std::memcpy(&inet, address.bytes, sizeof inet);
        count = IcmpSendEcho(icmp, inet.sin_addr.s_addr, const_cast<void*>(payload), static_cast<WORD>(size),
                             nullptr, reply.data(), static_cast<DWORD>(reply.size()), milliseconds);
    }
    const DWORD error = count == 0 ? GetLastError() : 0;
    IcmpCloseHandle(icmp);
    if (count == 0) return error == IP_REQ_TIMED_OUT ? 0 : static_cast<int>(error);
    // An ICMP error from the way there (unreachable and the like) is not the host's answer.
    const ULONG status = v6 ? reinterpret_cast<const Icmp6EchoReply*>(reply.data())->Status
                            : reinterpret_cast<const ICMP_ECHO_REPLY*>(reply.data())->Status;
    replied = status == IP_SUCCESS;
    return 0;
}

#else

unsigned long CurrentProcessId()
{
    return static_cast<unsigned long>(::getpid());
}

unsigned long TickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

bool HasEchoService()
{
    return false;
}

int SendEchoThroughService(const net::Address&, const void*, std::size_t, unsigned long, bool& replied)
{
    replied = false;
    return EPERM;
}

#endif

} // namespace probe_platform
