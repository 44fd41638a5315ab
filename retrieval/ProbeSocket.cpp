#include "retrieval/ProbeSocket.h"

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <vector>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>
#endif

namespace probe_platform {

namespace {

sockaddr_in& AsInet(ProbeAddress& address)
{
    static_assert(sizeof(sockaddr_in) == sizeof(ProbeAddress::bytes));
    return *reinterpret_cast<sockaddr_in*>(address.bytes);
}

const sockaddr* AsSockaddr(const ProbeAddress& address)
{
    return reinterpret_cast<const sockaddr*>(address.bytes);
}

} // namespace

bool Resolve(const char* host, ProbeAddress& address)
{
    std::memset(address.bytes, 0, sizeof address.bytes);
    sockaddr_in& inet = AsInet(address);
    if (const hostent* entry = gethostbyname(host);
        entry && entry->h_addr_list && entry->h_addr_list[0] && entry->h_length > 0) {
        const std::size_t length =
            std::min(static_cast<std::size_t>(entry->h_length), sizeof inet.sin_addr);
        std::memcpy(&inet.sin_addr, entry->h_addr_list[0], length);
        inet.sin_family = static_cast<decltype(inet.sin_family)>(entry->h_addrtype);
        return true;
    }
    const auto dotted = inet_addr(host);
    if (dotted == INADDR_NONE) return false;
    std::memcpy(&inet.sin_addr, &dotted, sizeof dotted);
    inet.sin_family = AF_INET;
    return true;
}

#ifdef _WIN32

const int kTimedOut = WSAETIMEDOUT;

bool IsAccessDenied(int error)
{
    return error == WSAEACCES;
}

unsigned long CurrentProcessId()
{
    return GetCurrentProcessId();
}

unsigned long TickCount()
{
    return GetTickCount();
}

void* AllocateBlock(std::size_t size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void FreeBlock(void* block)
{
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

unsigned long LastSystemError()
{
    return GetLastError();
}

CRawIcmpSocket::~CRawIcmpSocket()
{
    if (m_socket != -1) closesocket(static_cast<SOCKET>(m_socket));
}

int CRawIcmpSocket::Open()
{
    const SOCKET s = WSASocketA(AF_INET, SOCK_RAW, IPPROTO_ICMP, nullptr, 0, 0);
    if (s == INVALID_SOCKET) return WSAGetLastError();
    m_socket = static_cast<std::intptr_t>(s);
    return 0;
}

int CRawIcmpSocket::SetTimeOuts(long milliseconds)
{
    const int value = static_cast<int>(milliseconds);
    const SOCKET s = static_cast<SOCKET>(m_socket);
    if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value) != 0)
        return WSAGetLastError();
    if (setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&value), sizeof value) != 0)
        return WSAGetLastError();
    return 0;
}

int CRawIcmpSocket::SetNonBlocking()
{
    u_long on = 1;
    return ioctlsocket(static_cast<SOCKET>(m_socket), FIONBIO, &on) == 0 ? 0 : WSAGetLastError();
}

int CRawIcmpSocket::SendTo(const void* data, std::size_t size, const ProbeAddress& address)
{
    const int sent = sendto(static_cast<SOCKET>(m_socket), static_cast<const char*>(data), static_cast<int>(size), 0,
                            AsSockaddr(address), static_cast<int>(sizeof address.bytes));
    return sent == SOCKET_ERROR ? WSAGetLastError() : 0;
}

int CRawIcmpSocket::WaitReadable(long milliseconds, bool& readable)
{
    fd_set read;
    FD_ZERO(&read);
    FD_SET(static_cast<SOCKET>(m_socket), &read);
    timeval limit{};
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    const int n = select(0, &read, nullptr, nullptr, &limit);
    if (n == SOCKET_ERROR) return WSAGetLastError();
    readable = n > 0;
    return 0;
}

int CRawIcmpSocket::ReceiveFrom(void* buffer, std::size_t size, std::size_t& received)
{
    unsigned char from[16] = {};
    int fromLength = sizeof from;
    const int n = recvfrom(static_cast<SOCKET>(m_socket), static_cast<char*>(buffer), static_cast<int>(size), 0,
                           reinterpret_cast<sockaddr*>(from), &fromLength);
    if (n == SOCKET_ERROR) return WSAGetLastError();
    received = static_cast<std::size_t>(n);
    return 0;
}

bool CRawIcmpSocket::IsWouldBlock(int error)
{
    return error == WSAEWOULDBLOCK;
}

bool HasEchoService()
{
    return true;
}

int SendEchoThroughService(const ProbeAddress& address, const void* payload, std::size_t size,
                           long milliseconds, bool& replied)
{
    replied = false;
    const HANDLE icmp = IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    // Room for one reply with its echoed data and an ICMP error's worth besides.
    std::vector<unsigned char> reply(sizeof(ICMP_ECHO_REPLY) + size + 8 + 64);
    const sockaddr_in& inet = *reinterpret_cast<const sockaddr_in*>(address.bytes);
    const DWORD count = IcmpSendEcho(icmp, inet.sin_addr.s_addr, const_cast<void*>(payload),
                                     static_cast<WORD>(size), nullptr, reply.data(),
                                     static_cast<DWORD>(reply.size()), static_cast<DWORD>(milliseconds));
    const DWORD error = count == 0 ? GetLastError() : 0;
    IcmpCloseHandle(icmp);
    if (count == 0) return error == IP_REQ_TIMED_OUT ? 0 : static_cast<int>(error);
    // An ICMP error from the way there (unreachable and the like) is not the host's answer.
    replied = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply.data())->Status == IP_SUCCESS;
    return 0;
}

#else

const int kTimedOut = ETIMEDOUT;

bool IsAccessDenied(int error)
{
    return error == EACCES || error == EPERM;
}

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

void* AllocateBlock(std::size_t size)
{
    return std::calloc(1, size);
}

void FreeBlock(void* block)
{
    std::free(block);
}

unsigned long LastSystemError()
{
    return static_cast<unsigned long>(errno);
}

CRawIcmpSocket::~CRawIcmpSocket()
{
    if (m_socket != -1) ::close(static_cast<int>(m_socket));
}

int CRawIcmpSocket::Open()
{
    const int s = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (s < 0) return errno;
    m_socket = s;
    return 0;
}

int CRawIcmpSocket::SetTimeOuts(long milliseconds)
{
    timeval limit{};
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    const int s = static_cast<int>(m_socket);
    if (::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) return errno;
    if (::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0) return errno;
    return 0;
}

int CRawIcmpSocket::SetNonBlocking()
{
    const int s = static_cast<int>(m_socket);
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
    return 0;
}

int CRawIcmpSocket::SendTo(const void* data, std::size_t size, const ProbeAddress& address)
{
    const ssize_t sent = ::sendto(static_cast<int>(m_socket), data, size, 0, AsSockaddr(address),
                                  static_cast<socklen_t>(sizeof address.bytes));
    return sent < 0 ? errno : 0;
}

int CRawIcmpSocket::WaitReadable(long milliseconds, bool& readable)
{
    pollfd entry{static_cast<int>(m_socket), POLLIN, 0};
    int n;
    do {
        n = ::poll(&entry, 1, static_cast<int>(milliseconds));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno;
    readable = n > 0;
    return 0;
}

int CRawIcmpSocket::ReceiveFrom(void* buffer, std::size_t size, std::size_t& received)
{
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(static_cast<int>(m_socket), buffer, size, 0, reinterpret_cast<sockaddr*>(&from),
                                 &fromLength);
    if (n < 0) return errno;
    received = static_cast<std::size_t>(n);
    return 0;
}

bool CRawIcmpSocket::IsWouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

bool HasEchoService()
{
    return false;
}

int SendEchoThroughService(const ProbeAddress&, const void*, std::size_t, long, bool& replied)
{
    replied = false;
    return EPERM;
}

#endif

} // namespace probe_platform
