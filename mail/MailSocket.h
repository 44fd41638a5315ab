// A blocking TCP client socket (IPv4 or IPv6), with TLS on it once StartTls has run. With a
// stop signal every wait (connect, handshake, reply, room to send) watches it; with a
// deadline every wait ends by then.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "net/Socket.h"
#include "net/StopSignal.h"
#include "net/TlsStream.h"

using MailSocketHandle = net::SocketHandle;

class CMailSocket {
public:
    CMailSocket() = default;
    CMailSocket(const CMailSocket&) = delete;
    CMailSocket& operator=(const CMailSocket&) = delete;
    virtual ~CMailSocket() { Close(); }

    // Set before Create; the signal outlives the socket.
    void WatchStop(net::CStopSignal* stop) { m_pStop = stop; }
    void SetDeadline(std::chrono::steady_clock::time_point deadline)
    {
        m_deadline = deadline;
        m_socket.SetDeadline(deadline);
    }
    // A socket still held from an earlier attempt is closed first. False also once the stop
    // has come.
    bool Create();
    // Tries every address of `server` (a name, or an IPv4 or IPv6 address, with or without
    // brackets) in the resolver's order until one answers, bound to `localAddress` when it is
    // given and not empty (then only addresses of its family). A local address that does not
    // resolve answers false with last error 10022, a server name with the resolver's error
    // (11001 when the host is not known).
    bool Connect(const char* server, std::uint16_t port, const char* localAddress,
                 std::uint32_t milliseconds = net::CSocket::kConnectLimit);
    // The TLS handshake and the check of the server's certificate for `host`; from then on
    // everything goes through TLS. After a failed one nothing more is sent or received.
    bool StartTls(const std::string& host, unsigned waitMilliseconds);
    bool Secure() const { return m_tls && m_tls->Established(); }
    // Why the handshake failed, for the user; empty when none failed.
    std::string TlsFailureText() const { return m_tls ? m_tls->FailureText() : std::string(); }

    bool Send(const void* data, std::size_t length)
    {
        return m_tls ? m_tls->Send(data, length) : m_socket.Send(data, length);
    }
    // The byte count, 0 when the peer closed, -1 on error.
    int Receive(void* buffer, std::size_t capacity)
    {
        return m_tls ? m_tls->Receive(buffer, capacity) : m_socket.Receive(buffer, capacity);
    }
    bool WaitReadable(bool& readable, unsigned timeoutMilliseconds)
    {
        return m_tls ? m_tls->WaitReadable(timeoutMilliseconds, readable)
                     : m_socket.WaitReadable(timeoutMilliseconds, readable);
    }
    // Says close notify on a secure session first. -1 when no socket is held.
    int Close();

    MailSocketHandle Handle() const { return m_socket.Handle(); }

private:
    net::CSocket m_socket;
    std::unique_ptr<net::CTlsStream> m_tls;
    net::CStopSignal* m_pStop = nullptr;
    bool m_bRegistered = false;
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();
};
