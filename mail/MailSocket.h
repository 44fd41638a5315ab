// A blocking IPv4 TCP client socket.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mail/MailSocketHandle.h"

class CMailSocket {
public:
    CMailSocket() = default;
    CMailSocket(const CMailSocket&) = delete;
    CMailSocket& operator=(const CMailSocket&) = delete;
    virtual ~CMailSocket();

    // A socket still held from an earlier attempt is closed first.
    bool Create();
    // Binds to `localAddress` first when it is given and not empty. Names that do not resolve
    // answer false with last error 10022.
    bool Connect(const char* server, std::uint16_t port, const char* localAddress);
    // Hands the whole buffer to the system.
    bool Send(const void* data, std::size_t length);
    // The byte count, 0 when the peer closed, -1 on error.
    int Receive(void* buffer, std::size_t capacity);
    bool WaitReadable(bool& readable, unsigned timeoutMilliseconds);
    // -1 when no socket is held.
    int Close();

    MailSocketHandle Handle() const { return m_hSocket; }

private:
    MailSocketHandle m_hSocket = kNoMailSocket;
};
