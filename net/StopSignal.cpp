#include "net/StopSignal.h"

namespace net {

void CStopSignal::Stop() noexcept
{
    const std::lock_guard lock(m_lock);
    m_bStopped = true;
    if (m_pSocket) m_pSocket->Shutdown();
}

void CStopSignal::Clear() noexcept
{
    const std::lock_guard lock(m_lock);
    m_bStopped = false;
}

bool CStopSignal::Register(CSocket& socket) noexcept
{
    const std::lock_guard lock(m_lock);
    if (m_bStopped) return false;
    m_pSocket = &socket;
    return true;
}

void CStopSignal::Unregister(const CSocket& socket) noexcept
{
    const std::lock_guard lock(m_lock);
    if (m_pSocket == &socket) m_pSocket = nullptr;
}

} // namespace net
