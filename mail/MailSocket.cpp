#include "mail/MailSocket.h"

#include "mail/MailPlatform.h"

bool CMailSocket::Create()
{
    Close();
    if (!m_socket.OpenStream()) return false;
    if (!m_pStop) return true;
    m_bRegistered = m_pStop->Register(m_socket);
    if (!m_bRegistered) SetMailLastError(kErrorOperationAborted);
    return m_bRegistered;
}

bool CMailSocket::Connect(const char* server, std::uint16_t port, const char* localAddress, std::uint32_t milliseconds)
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
    return m_socket.Connect(address, milliseconds);
}

bool CMailSocket::StartTls(const std::string& host, unsigned waitMilliseconds)
{
    m_tls = std::make_unique<net::CTlsStream>(m_socket, waitMilliseconds);
    m_tls->SetDeadline(m_deadline);
    return m_tls->Handshake(host);
}

int CMailSocket::Close()
{
    if (m_tls) {
        m_tls->Close();
        m_tls.reset();
    }
    // Before the handle goes: a stop never reaches one that names another socket.
    if (m_bRegistered) m_pStop->Unregister(m_socket);
    m_bRegistered = false;
    return m_socket.Close();
}
