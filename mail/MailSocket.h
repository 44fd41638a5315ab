// A blocking IPv4 TCP client socket.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/Socket.h"

using MailSocketHandle = net::SocketHandle;

class CMailSocket {
public:
    CMailSocket() = default;
    CMailSocket(const CMailSocket&) = delete;
    CMailSocket& operator=(const CMailSocket&) = delete;
    virtual ~CMailSocket() = default;

    // A socket still held from an earlier attempt is closed first.
    bool Create() { return m_socket.OpenStream(); }
    // Binds to `localAddress` first when it is given and not empty. A local address that does
    // not resolve answers false with last error 10022, a server name with the resolver's error
    // (11001 when the host is not known).
    bool Connect(const char* server, std::uint16_t port, const char* localAddress);
    bool Send(const void* data, std::size_t length) { return m_socket.Send(data, length); }
    // The byte count, 0 when the peer closed, -1 on error.
    int Receive(void* buffer, std::size_t capacity) { return m_socket.Receive(buffer, capacity); }
    bool WaitReadable(bool& readable, unsigned timeoutMilliseconds)
    {
        return m_socket.WaitReadable(timeoutMilliseconds, readable);
    }
    void Shutdown() { m_socket.Shutdown(); }
    // -1 when no socket is held.
    int Close() { return m_socket.Close(); }

    MailSocketHandle Handle() const { return m_socket.Handle(); }

private:
    net::CSocket m_socket;
};
