#include "mail/MailSocket.h"

#include <cstring>

#include "mail/MailPlatform.h"

namespace {

#ifdef _WIN32
using SocketLength = int;
SOCKET Native(MailSocketHandle h)
{
    return static_cast<SOCKET>(h);
}
#else
using SocketLength = socklen_t;
int Native(MailSocketHandle h)
{
    return h;
}
#endif

// A dotted address as it stands, else the first IPv4 address of the name.
bool Resolve(const char* host, std::uint16_t port, sockaddr_in& address)
{
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = inet_addr(host);
    if (address.sin_addr.s_addr != INADDR_NONE) return true;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) {
        SetMailLastError(kErrorInvalidArgument);
        return false;
    }
    address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

} // namespace

CMailSocket::~CMailSocket()
{
    Close();
}

bool CMailSocket::Create()
{
    Close();
    m_hSocket = static_cast<MailSocketHandle>(socket(AF_INET, SOCK_STREAM, 0));
    if (m_hSocket == kNoMailSocket) return false;
    // Small commands and the end of data go out at once instead of waiting for an
    // acknowledgement of the previous segment.
    int on = 1;
    setsockopt(Native(m_hSocket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return true;
}

bool CMailSocket::Connect(const char* server, std::uint16_t port, const char* localAddress)
{
    sockaddr_in address;
    if (localAddress && *localAddress) {
        if (!Resolve(localAddress, 0, address)) return false;
        if (bind(Native(m_hSocket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return false;
    }
    if (!Resolve(server ? server : "", port, address)) return false;
    return connect(Native(m_hSocket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool CMailSocket::Send(const void* data, std::size_t length)
{
    const char* p = static_cast<const char*>(data);
    // A blocking send normally takes everything at once; a partial one must not lose the rest.
    while (length > 0) {
        const int piece = length > 0x40000000 ? 0x40000000 : static_cast<int>(length);
#ifdef _WIN32
        const int sent = send(Native(m_hSocket), p, piece, 0);
#else
        // A peer that has gone must not end the process with SIGPIPE.
        const int sent = static_cast<int>(send(Native(m_hSocket), p, static_cast<std::size_t>(piece), MSG_NOSIGNAL));
#endif
        if (sent < 0) return false;
        p += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

int CMailSocket::Receive(void* buffer, std::size_t capacity)
{
    const int size = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    const int received = static_cast<int>(recv(Native(m_hSocket), static_cast<char*>(buffer), size, 0));
    return received < 0 ? -1 : received;
}

bool CMailSocket::WaitReadable(bool& readable, unsigned timeoutMilliseconds)
{
#ifdef _WIN32
    fd_set read;
    FD_ZERO(&read);
    FD_SET(Native(m_hSocket), &read);
    timeval limit{static_cast<long>(timeoutMilliseconds / 1000), static_cast<long>(timeoutMilliseconds % 1000 * 1000)};
    const int ready = select(0, &read, nullptr, nullptr, &limit);
#else
    // poll rather than select: no limit on the descriptor's number.
    pollfd entry{Native(m_hSocket), POLLIN, 0};
    const int limit = timeoutMilliseconds > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(timeoutMilliseconds);
    const int ready = poll(&entry, 1, limit);
#endif
    if (ready < 0) return false;
    readable = ready != 0;
    return true;
}

int CMailSocket::Close()
{
    if (m_hSocket == kNoMailSocket) return -1;
    const int result = CloseMailSocket(m_hSocket);
    m_hSocket = kNoMailSocket;
    return result;
}
