#include "mail/MailSocket.h"

#include "mail/MailPlatform.h"

bool CMailSocket::Connect(const char* server, std::uint16_t port, const char* localAddress)
{
    net::Address address;
    if (localAddress && *localAddress) {
        if (!net::Resolve(localAddress, 0, address)) {
            SetMailLastError(kErrorInvalidArgument);
            return false;
        }
        if (!m_socket.Bind(address)) return false;
    }
    // Cleared first, so that only the lookup's own error can be left in it.
    SetMailLastError(0);
    if (!net::Resolve(server ? server : "", port, address)) {
        SetMailLastError(NameLookupError());
        return false;
    }
    return m_socket.Connect(address);
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
