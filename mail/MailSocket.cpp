#include "mail/MailSocket.h"

#include "mail/MailPlatform.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "net/Connector.h"

bool CMailSocket::Create()
{
    Close();
    if (m_pStop && m_pStop->IsStopped()) {
        SetMailLastError(kErrorOperationAborted);
        return false;
    }
    return m_socket.OpenStream();
}

bool CMailSocket::Connect(const char* server, std::uint16_t port, const char* localAddress, std::uint32_t milliseconds)
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
    // Every address in turn, each but the last for a few seconds only, all by the session's
    // deadline; the stop ends any attempt.
    const auto until = std::min(m_deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds));
    if (net::ConnectEach(m_socket, addresses, milliseconds, until, m_pStop, bound ? &local : nullptr) < 0) {
        SetMailLastError(net::LastSocketError());
        return false;
    }
    // Registered once connected, for the rest of the socket's life: each attempt above had a
    // handle of its own.
    if (!m_pStop) return true;
    m_bRegistered = m_pStop->Register(m_socket);
    if (!m_bRegistered) SetMailLastError(kErrorOperationAborted);
    return m_bRegistered;
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
