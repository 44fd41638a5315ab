// The one socket layer of the mail transport, the download and the echo probe: Winsock on
// Windows, BSD sockets elsewhere. No system header comes with it. A failing operation leaves
// its error in LastSocketError (WSAGetLastError, errno).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace net {

#ifdef _WIN32
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kNoSocket = ~static_cast<SocketHandle>(0);
// An event handle (HANDLE).
using WakeHandle = void*;
inline constexpr WakeHandle kNoWake = nullptr;
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
// A descriptor that polls readable once woken.
using WakeHandle = int;
inline constexpr WakeHandle kNoWake = -1;
#endif

class CStopSignal;

// An IPv4 (sockaddr_in) or IPv6 (sockaddr_in6) socket address.
struct Address {
    alignas(8) unsigned char bytes[28];
    bool IsV6() const;
    // The size of the system's structure for the family.
    int Length() const;
};

// Every address of `host`, in the resolver's order, with `port` stored in network order: a
// dotted IPv4 or an IPv6 address (bracketed or not) as it stands, without a lookup; else
// the name's IPv4 and IPv6 addresses. Empty when none; the resolver's error is then in
// LastSocketError (0 when it gave none).
std::vector<Address> ResolveAll(const char* host, std::uint16_t port);
// The first of them.
bool Resolve(const char* host, std::uint16_t port, Address& address);
// "127.0.0.1", "fd00::5" (no brackets, no port).
std::string AddressText(const Address& address);

int LastSocketError();
void SetLastSocketError(int error);
bool IsTimedOut(int error);
// What a non-blocking receive reports when nothing is queued.
bool IsWouldBlock(int error);
// A raw socket refused for lack of rights.
bool IsAccessDenied(int error);
// The peer reset or ended the connection under a send or receive.
bool IsConnectionLost(int error);

// Answers the system's result: 0, or -1 with the error in LastSocketError.
int CloseSocket(SocketHandle socket);

// An owned socket, closed by Close or destruction.
class CSocket {
public:
    CSocket() = default;
    explicit CSocket(SocketHandle adopted) : m_handle(adopted) {}
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    ~CSocket() { Close(); }

    // A socket still held is closed first. IPv6 when `v6`.
    bool OpenStream(bool v6 = false);
    // ICMPv6 when `v6`.
    bool OpenRawIcmp(bool v6 = false);
    bool Bind(const Address& address);
    // Gives up after `milliseconds` (time-out error) or at the watched stop (interrupted-call
    // error), also after a Shutdown that came before: an object once shut down connects no
    // more. The socket stays blocking for what follows.
    bool Connect(const Address& address, std::uint32_t milliseconds = kConnectLimit);
    // Hands the whole buffer to the system; a peer that has gone never raises a signal. With
    // a watched stop or a deadline, a peer that reads nothing holds it no longer than they do.
    bool Send(const void* data, std::size_t length);
    // The byte count, 0 when the peer closed, -1 on error.
    int Receive(void* buffer, std::size_t capacity);
    bool SendTo(const void* data, std::size_t length, const Address& to);
    // The byte count of one datagram, -1 on error.
    int ReceiveFrom(void* buffer, std::size_t capacity);
    // `readable` is false when `milliseconds` passed without data (or the deadline came);
    // false with the interrupted-call error at the watched stop.
    bool WaitReadable(std::uint32_t milliseconds, bool& readable) { return Wait(Want::Read, milliseconds, readable); }
    // Every later wait ends by `deadline` too, as a time-out.
    void SetDeadline(std::chrono::steady_clock::time_point deadline) { m_deadline = deadline; }
    // The stop whose event every wait watches beside the socket (CStopSignal::Register sets
    // it); none: only the time-outs end them.
    void WatchStop(const CStopSignal* stop) noexcept { m_pStop = stop; }
    // The receive and then the send time-out.
    bool SetTimeOuts(std::uint32_t milliseconds);
    bool SetNonBlocking();
    // Ends both directions while the handle stays held, so it can never name another socket
    // meanwhile. A wait of another thread is ended by the stop it watches, not by this.
    void Shutdown();
    // -1 when no socket is held.
    int Close();

    SocketHandle Handle() const { return m_handle; }

    static constexpr std::uint32_t kConnectLimit = 60000;

private:
    enum class Want { Read, Write, Connected };

    // Switches between blocking and non-blocking mode.
    bool SetBlocking(bool blocking);
    // Until the socket can be read or written, or a pending connect has ended; bounded by
    // the deadline, ended by the watched stop.
    bool Wait(Want want, std::uint32_t milliseconds, bool& ready);
    // The same within `milliseconds`, ended when `wake` (kNoWake: none) is signalled.
    bool WaitOrWake(Want want, std::uint32_t milliseconds, WakeHandle wake, bool& ready);
    // The readiness test alone, on the socket only.
    bool Poll(Want want, std::uint32_t milliseconds, bool& ready);
    std::uint32_t UntilDeadline(std::uint32_t milliseconds) const;
    // The pending error of the socket (SO_ERROR).
    int PendingError();

    SocketHandle m_handle = kNoSocket;
    std::atomic<bool> m_bShutDown{false};
    bool m_bBlocking = true;
    std::atomic<const CStopSignal*> m_pStop{nullptr};
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();
};

} // namespace net
