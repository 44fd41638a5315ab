// The one socket layer of the mail transport, the download and the echo probe: Winsock on
// Windows, BSD sockets elsewhere. No system header comes with it. A failing operation leaves
// its error in LastSocketError (WSAGetLastError, errno).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace net {

#ifdef _WIN32
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kNoSocket = ~static_cast<SocketHandle>(0);
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

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
    // Gives up after `milliseconds` (time-out error) or as soon as another thread calls
    // Shutdown (interrupted-call error), also a Shutdown that came before: an object once
    // shut down connects no more. The socket stays blocking for what follows.
    bool Connect(const Address& address, std::uint32_t milliseconds = kConnectLimit);
    // Hands the whole buffer to the system; a peer that has gone never raises a signal.
    bool Send(const void* data, std::size_t length);
    // The byte count, 0 when the peer closed, -1 on error.
    int Receive(void* buffer, std::size_t capacity);
    bool SendTo(const void* data, std::size_t length, const Address& to);
    // The byte count of one datagram, -1 on error.
    int ReceiveFrom(void* buffer, std::size_t capacity);
    // `readable` is false when `milliseconds` passed without data.
    bool WaitReadable(std::uint32_t milliseconds, bool& readable) { return Wait(false, milliseconds, readable); }
    // The receive and then the send time-out.
    bool SetTimeOuts(std::uint32_t milliseconds);
    bool SetNonBlocking();
    // Ends both directions: a blocked connect, receive or send of another thread returns at
    // once, while the handle stays held, so it can never name another socket meanwhile.
    void Shutdown();
    // -1 when no socket is held.
    int Close();

    SocketHandle Handle() const { return m_handle; }

    static constexpr std::uint32_t kConnectLimit = 60000;

private:
    // Switches between blocking and non-blocking mode.
    bool SetBlocking(bool blocking);
    // Until the socket can be read, or (`forWriting`) until a pending connect has ended.
    bool Wait(bool forWriting, std::uint32_t milliseconds, bool& ready);
    // The pending error of the socket (SO_ERROR).
    int PendingError();

    SocketHandle m_handle = kNoSocket;
    std::atomic<bool> m_bShutDown{false};
};

} // namespace net
