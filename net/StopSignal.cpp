#include "net/StopSignal.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/eventfd.h>
#include <unistd.h>
#endif

namespace net {

#ifdef _WIN32

CStopSignal::CStopSignal() noexcept
{
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event) m_wake = event;
}

CStopSignal::~CStopSignal()
{
    if (m_wake != kNoWake) CloseHandle(m_wake);
}

namespace {
void SetWake(WakeHandle wake, bool set)
{
    if (wake != kNoWake) set ? SetEvent(wake) : ResetEvent(wake);
}
} // namespace

#else

CStopSignal::CStopSignal() noexcept
{
    const int counter = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (counter >= 0) m_wake = counter;
}

CStopSignal::~CStopSignal()
{
    if (m_wake != kNoWake) close(m_wake);
}

namespace {
void SetWake(WakeHandle wake, bool set)
{
    if (wake == kNoWake) return;
    eventfd_t value = 1;
    // Readable while the counter is not zero: set once, emptied by one read.
    if (set) eventfd_write(wake, value);
    else eventfd_read(wake, &value);
}
} // namespace

#endif

void CStopSignal::Stop() noexcept
{
    const std::lock_guard lock(m_lock);
    // Stopped before woken: a woken wait finds it so.
    const bool was = m_bStopped.exchange(true);
    if (!was) SetWake(m_wake, true);
    if (m_pSocket) m_pSocket->Shutdown();
}

void CStopSignal::Clear() noexcept
{
    const std::lock_guard lock(m_lock);
    if (m_bStopped) SetWake(m_wake, false);
    m_bStopped = false;
}

bool CStopSignal::Register(CSocket& socket) noexcept
{
    const std::lock_guard lock(m_lock);
    if (m_bStopped) return false;
    m_pSocket = &socket;
    socket.WatchStop(this);
    return true;
}

void CStopSignal::Unregister(CSocket& socket) noexcept
{
    const std::lock_guard lock(m_lock);
    socket.WatchStop(nullptr);
    if (m_pSocket == &socket) m_pSocket = nullptr;
}

} // namespace net
