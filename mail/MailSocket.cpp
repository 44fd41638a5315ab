#include "mail/MailSocket.h"

#include "mail/MailPlatform.h"

#include <chrono>
#include <vector>

#include "net/Connector.h"

bool CMailSocket::Connect(const char* server, std::uint16_t port, const char* localAddress)
{
    net::Address local;
    const bool bound = localAddress && *localAddress;
    if (bound && !net::Resolve(localAddress, 0, local)) {
        SetMailLastError(kErrorInvalidArgument);
        return false;
    }
    // Cleared first, so that only the lookup's own error can be left in it.
    SetMailLastError(0);
    const std::vector<net::Address> addresses = net::ResolveAll(server ? server : "", port);
    if (addresses.empty()) {
        SetMailLastError(NameLookupError());
        return false;
    }
    // Every address in turn, each but the last for a few seconds only.
    constexpr std::uint32_t kLimit = net::CSocket::kConnectLimit;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLimit);
    if (net::ConnectEach(m_socket, addresses, kLimit, until, nullptr, bound ? &local : nullptr) >= 0) return true;
    SetMailLastError(net::LastSocketError());
    return false;
}

bool CMailSocket::StartTls(const std::string& host, unsigned waitMilliseconds)
{
    m_tls = std::make_unique<net::CTlsStream>(m_socket, waitMilliseconds);
    return m_tls->Handshake(host);
}

int CMailSocket::Close()
{
    if (m_tls) {
        m_tls->Close();
        m_tls.reset();
    }
    return m_socket.Close();
}
