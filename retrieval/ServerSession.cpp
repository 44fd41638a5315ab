#include "retrieval/ServerSession.h"

#include <new>

#include "app/ErrorReport.h"
#include "app/Settings.h"

namespace {
constexpr std::uint32_t kRemoteHostBuffer = 100;
} // namespace

CServerSession::CServerSession(unsigned short port, unsigned long timeOut, net::CStopSignal* stop,
                               std::chrono::milliseconds deadline)
    : m_strHost(ReadSetting("RemoteHost", kRemoteHostBuffer)), m_address(ParseServerAddress(m_strHost, port)),
      m_dwTimeOut(timeOut), m_deadline(deadline)
{
    // The cycle gives the connection its proxy, if any. The agent is the program's name.
    m_pSession.reset(new (std::nothrow) CInternetSession(kApplicationName, stop));
    if (!m_pSession) throw CCodeException(ERR_NO_MEMORY);
}

CServerSession::~CServerSession() = default;

std::unique_ptr<CHttpConnection> CServerSession::OpenConnection()
{
    try {
        if (!m_pSession) return nullptr;
        if (!m_address) throw CInternetException(kInternetInvalidUrl);
        return ConnectionTo(*m_address);
    } catch (const CInternetException& e) {
        // In the "ATENCION" box, as every other failure of the download.
        ReportErrorText(nullptr, e.ErrorNumberText());
        return nullptr;
    }
}

std::unique_ptr<CHttpConnection> CServerSession::ConnectionTo(const ServerAddress& address)
{
    return m_pSession->GetHttpConnection(address.host, address.port, address.secure, m_dwTimeOut, m_deadline,
                                         kMaxDownload);
}

void CServerSession::CloseSession() noexcept
{
    if (m_pSession) m_pSession->Close();
}

std::unique_ptr<CServerSession> MakeServerSession(unsigned short port, unsigned long timeOut, net::CStopSignal* stop,
                                                  std::chrono::milliseconds deadline)
{
    std::unique_ptr<CServerSession> session(new (std::nothrow) CServerSession(port, timeOut, stop, deadline));
    if (!session) throw CCodeException(ERR_NO_MEMORY);
    return session;
}
