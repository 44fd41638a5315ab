#include "net/Socket.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "net/StopSignal.h"
#include "net/SystemSockets.h"

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <sys/time.h>
#endif

namespace net {

namespace {

#ifdef _WIN32
using Native = SOCKET;
using Length = int;
constexpr int kSendFlags = 0;
constexpr int kInProgress = WSAEWOULDBLOCK;
constexpr int kTimedOut = WSAETIMEDOUT;
constexpr int kInterrupted = WSAEINTR;
#else
using Native = int;
using Length = socklen_t;
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kInProgress = EINPROGRESS;
constexpr int kTimedOut = ETIMEDOUT;
constexpr int kInterrupted = EINTR;
#endif

Native N(SocketHandle h)
{
    return static_cast<Native>(h);
}

const sockaddr* AsSockaddr(const Address& address)
{
    return reinterpret_cast<const sockaddr*>(address.bytes);
}

// The one millisecond conversion for select and the socket time-outs.
timeval TimeLimit(std::uint32_t milliseconds)
{
    timeval limit{};
    limit.tv_sec = static_cast<decltype(limit.tv_sec)>(milliseconds / 1000);
    limit.tv_usec = static_cast<decltype(limit.tv_usec)>(milliseconds % 1000 * 1000);
    return limit;
}

// Small commands and the end of data go out at once instead of waiting for an acknowledgement
// of the previous segment.
void SendAtOnce(Native s)
{
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

int Clamped(std::size_t size)
{
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

std::uint32_t MillisecondsUntil(std::chrono::steady_clock::time_point end)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    return left <= 0 ? 0 : left >= UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(left);
}

// A wait ended by the stop.
bool Interrupted()
{
    SetLastSocketError(kInterrupted);
    return false;
}

bool IsSendBlocked(int error)
{
#ifdef _WIN32
    return error == WSAEWOULDBLOCK;
#else
    return error == EAGAIN || error == EWOULDBLOCK;
#endif
}

} // namespace

#ifdef _WIN32

int LastSocketError()
{
    return WSAGetLastError();
}

void SetLastSocketError(int error)
{
    WSASetLastError(error);
}

bool IsTimedOut(int error)
{
    return error == WSAETIMEDOUT;
}

bool IsWouldBlock(int error)
{
    return error == WSAEWOULDBLOCK;
}

bool IsAccessDenied(int error)
{
    return error == WSAEACCES;
}

bool IsConnectionLost(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN;
}

int CloseSocket(SocketHandle socket)
{
    return closesocket(N(socket)) == 0 ? 0 : -1;
}

bool CSocket::OpenStream(bool v6)
{
    Close();
    m_handle = static_cast<SocketHandle>(socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0));
    if (m_handle == kNoSocket) return false;
    SendAtOnce(N(m_handle));
    return true;
}

bool CSocket::OpenRawIcmp(bool v6)
{
    Close();
    m_handle = static_cast<SocketHandle>(
        WSASocketA(v6 ? AF_INET6 : AF_INET, SOCK_RAW, v6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP}, nullptr, 0, 0));
    return m_handle != kNoSocket;
}

bool CSocket::Poll(Want want, std::uint32_t milliseconds, bool& ready)
{
    // A failed connect shows in the exception set, not the write set.
    fd_set wanted;
    fd_set failed;
    FD_ZERO(&wanted);
    FD_ZERO(&failed);
    FD_SET(N(m_handle), &wanted);
    FD_SET(N(m_handle), &failed);
    timeval limit = TimeLimit(milliseconds);
    const int count = want == Want::Read    ? select(0, &wanted, nullptr, nullptr, &limit)
                      : want == Want::Write ? select(0, nullptr, &wanted, nullptr, &limit)
                                            : select(0, nullptr, &wanted, &failed, &limit);
    if (count == SOCKET_ERROR) return false;
    ready = count > 0;
    return true;
}

bool CSocket::WaitOrWake(Want want, std::uint32_t milliseconds, WakeHandle wake, bool& ready)
{
    if (wake == kNoWake) return Poll(want, milliseconds, ready);
    // Ready already, or not to be waited for: no event is needed.
    if (!Poll(want, 0, ready)) return false;
    if (ready || milliseconds == 0) return true;

    // The socket's own event only wakes the wait; select says what is ready, as without a
    // stop. (Under Wine a shutdown does not wake another thread's select: the stop's event
    // does.)
    const WSAEVENT woken = WSACreateEvent();
    if (woken == WSA_INVALID_EVENT) return false;
    const long events = want == Want::Read ? FD_READ | FD_CLOSE | FD_ACCEPT
                        : want == Want::Write ? FD_WRITE | FD_CLOSE
                                              : FD_CONNECT;
    bool ok = WSAEventSelect(N(m_handle), woken, events) == 0;
    bool stopped = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (ok) {
        WSANETWORKEVENTS seen;
        WSAEnumNetworkEvents(N(m_handle), woken, &seen);  // resets the event
        ok = Poll(want, 0, ready);
        const std::uint32_t left = MillisecondsUntil(end);
        if (!ok || ready || left == 0) break;
        HANDLE both[2] = {wake, woken};
        const DWORD which = WSAWaitForMultipleEvents(2, both, FALSE, left, FALSE);
        if (which == WSA_WAIT_EVENT_0) stopped = true;
        if (which == WSA_WAIT_FAILED) ok = false;
        if (stopped || !ok) break;
    }
    const int error = LastSocketError();
    // Back to the mode the socket had: the event selection made it non-blocking.
    WSAEventSelect(N(m_handle), nullptr, 0);
    WSACloseEvent(woken);
    if (m_bBlocking) SetBlocking(true);
    if (stopped) return Interrupted();
    SetLastSocketError(error);
    return ok;
}

bool CSocket::SetTimeOuts(std::uint32_t milliseconds)
{
    // Winsock takes a DWORD of milliseconds here, not a timeval.
    const DWORD value = milliseconds;
    const auto* option = reinterpret_cast<const char*>(&value);
    return setsockopt(N(m_handle), SOL_SOCKET, SO_RCVTIMEO, option, sizeof value) == 0 &&
           setsockopt(N(m_handle), SOL_SOCKET, SO_SNDTIMEO, option, sizeof value) == 0;
}

bool CSocket::SetNonBlocking()
{
    return SetBlocking(false);
}

bool CSocket::SetBlocking(bool blocking)
{
    u_long on = blocking ? 0 : 1;
    if (ioctlsocket(N(m_handle), FIONBIO, &on) != 0) return false;
    m_bBlocking = blocking;
    return true;
}

#else

int LastSocketError()
{
    return errno;
}

void SetLastSocketError(int error)
{
    errno = error;
}

bool IsTimedOut(int error)
{
    return error == ETIMEDOUT;
}

bool IsWouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

bool IsAccessDenied(int error)
{
    return error == EACCES || error == EPERM;
}

bool IsConnectionLost(int error)
{
    return error == ECONNRESET || error == ECONNABORTED || error == EPIPE;
}

int CloseSocket(SocketHandle socket)
{
    return close(socket);
}

bool CSocket::OpenStream(bool v6)
{
    Close();
    m_handle = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_handle == kNoSocket) return false;
    SendAtOnce(m_handle);
    return true;
}

bool CSocket::OpenRawIcmp(bool v6)
{
    Close();
    m_handle = socket(v6 ? AF_INET6 : AF_INET, SOCK_RAW | SOCK_CLOEXEC, v6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP});
    return m_handle != kNoSocket;
}

bool CSocket::Poll(Want want, std::uint32_t milliseconds, bool& ready)
{
    pollfd entry{m_handle, static_cast<short>(want == Want::Read ? POLLIN : POLLOUT), 0};
    const int count = poll(&entry, 1, static_cast<int>(std::min<std::uint32_t>(milliseconds, INT_MAX)));
    if (count < 0) return false;
    ready = count > 0;
    return true;
}

bool CSocket::WaitOrWake(Want want, std::uint32_t milliseconds, WakeHandle wake, bool& ready)
{
    // poll rather than select: no limit on the descriptor's number.
    pollfd entries[2] = {{m_handle, static_cast<short>(want == Want::Read ? POLLIN : POLLOUT), 0}, {wake, POLLIN, 0}};
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    int count;
    do {
        const std::uint32_t left = MillisecondsUntil(end);
        count = poll(entries, wake == kNoWake ? 1 : 2, static_cast<int>(std::min<std::uint32_t>(left, INT_MAX)));
    } while (count < 0 && errno == EINTR);
    if (count < 0) return false;
    if (entries[1].revents != 0) return Interrupted();
    ready = entries[0].revents != 0;
    return true;
}

bool CSocket::SetTimeOuts(std::uint32_t milliseconds)
{
    const timeval limit = TimeLimit(milliseconds);
    return setsockopt(m_handle, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 &&
           setsockopt(m_handle, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}

bool CSocket::SetNonBlocking()
{
    return SetBlocking(false);
}

bool CSocket::SetBlocking(bool blocking)
{
    const int flags = fcntl(m_handle, F_GETFL);
    if (flags < 0 || fcntl(m_handle, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) != 0) return false;
    m_bBlocking = blocking;
    return true;
}

#endif

bool CSocket::Wait(Want want, std::uint32_t milliseconds, bool& ready)
{
    ready = false;
    const CStopSignal* stop = m_pStop;
    if (stop && stop->IsStopped()) return Interrupted();
    return WaitOrWake(want, UntilDeadline(milliseconds), stop ? stop->Wake() : kNoWake, ready);
}

bool CSocket::Bind(const Address& address)
{
    return bind(N(m_handle), AsSockaddr(address), address.Length()) == 0;
}

int CSocket::PendingError()
{
    int error = 0;
    Length length = sizeof error;
    if (getsockopt(N(m_handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return LastSocketError();
    return error;
}

std::uint32_t CSocket::UntilDeadline(std::uint32_t milliseconds) const
{
    if (m_deadline == std::chrono::steady_clock::time_point::max()) return milliseconds;
    return std::min(milliseconds, MillisecondsUntil(m_deadline));
}

bool CSocket::Connect(const Address& address, std::uint32_t milliseconds)
{
    if (m_bShutDown) return Interrupted();
    // Non-blocking, so that a silent host or the stop ends the wait.
    if (!SetBlocking(false)) return false;
    int error = 0;
    if (connect(N(m_handle), AsSockaddr(address), address.Length()) != 0) {
        error = LastSocketError();
        if (error == kInProgress) {
            bool ended = false;
            if (!Wait(Want::Connected, milliseconds, ended)) error = LastSocketError();
            else error = ended ? PendingError() : kTimedOut;
        }
    }
    if (!SetBlocking(true) && error == 0) error = LastSocketError();
    if (error == 0) return true;
    SetLastSocketError(error);
    return false;
}

bool CSocket::Send(const void* data, std::size_t length)
{
    const char* p = static_cast<const char*>(data);
    // Without a stop or a deadline the system's own blocking send; with one, each wait for
    // room is one the stop and the deadline end.
    const bool bounded = m_pStop || m_deadline != std::chrono::steady_clock::time_point::max();
    const bool wasBlocking = m_bBlocking;
    if (bounded && wasBlocking && !SetBlocking(false)) return false;
    bool ok = true;
    // A blocking send normally takes everything at once; a partial one must not lose the rest.
    while (ok && length > 0) {
        const int piece = length > 0x40000000 ? 0x40000000 : static_cast<int>(length);
        const auto sent = send(N(m_handle), p, piece, kSendFlags);
        if (sent >= 0) {
            p += sent;
            length -= static_cast<std::size_t>(sent);
            continue;
        }
        bool room = false;
        ok = bounded && IsSendBlocked(LastSocketError()) && Wait(Want::Write, kConnectLimit, room);
        if (ok && !room) {
            SetLastSocketError(kTimedOut);
            ok = false;
        }
    }
    if (bounded && wasBlocking) {
        const int error = LastSocketError();
        SetBlocking(true);
        SetLastSocketError(error);
    }
    return ok;
}

int CSocket::Receive(void* buffer, std::size_t capacity)
{
    const auto received = recv(N(m_handle), static_cast<char*>(buffer), Clamped(capacity), 0);
    return received < 0 ? -1 : static_cast<int>(received);
}

bool CSocket::SendTo(const void* data, std::size_t length, const Address& to)
{
    return sendto(N(m_handle), static_cast<const char*>(data), Clamped(length), 0, AsSockaddr(to),
                  to.Length()) >= 0;
}

int CSocket::ReceiveFrom(void* buffer, std::size_t capacity)
{
    sockaddr_in6 from{};
    Length fromLength = sizeof from;
    const auto received = recvfrom(N(m_handle), static_cast<char*>(buffer), Clamped(capacity), 0,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
    return received < 0 ? -1 : static_cast<int>(received);
}

void CSocket::Shutdown()
{
    m_bShutDown = true;
    if (m_handle == kNoSocket) return;
#ifdef _WIN32
    shutdown(N(m_handle), SD_BOTH);
#else
    shutdown(m_handle, SHUT_RDWR);
#endif
}

int CSocket::Close()
{
    if (m_handle == kNoSocket) return -1;
    const int result = CloseSocket(m_handle);
    m_handle = kNoSocket;
    return result;
}

} // namespace net
