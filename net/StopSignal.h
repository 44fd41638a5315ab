// Stops the network work of another thread at once: the socket it has registered is shut
// down, so its connect, wait, receive or send ends now, and no later socket may register
// (none connects) until the signal is cleared.
#pragma once

#include <atomic>
#include <mutex>

#include "net/Socket.h"

namespace net {

class CStopSignal {
public:
    void Stop() noexcept;
    void Clear() noexcept;
    bool IsStopped() const noexcept { return m_bStopped; }

    // `socket` becomes the one a Stop shuts down; false, and nothing registered, once stopped.
    bool Register(CSocket& socket) noexcept;
    // Before the socket is closed, so that a Stop never reaches a handle that names another.
    void Unregister(const CSocket& socket) noexcept;

private:
    std::mutex m_lock;
    std::atomic<bool> m_bStopped{false};
    CSocket* m_pSocket = nullptr;
};

// A registration for the life of the scope (none without a signal); IsRegistered is false
// when the signal had already stopped.
class CStopScope {
public:
    CStopScope(CStopSignal* signal, CSocket& socket) noexcept
        : m_pSignal(signal), m_socket(socket), m_bRegistered(!signal || signal->Register(socket))
    {
    }
    ~CStopScope()
    {
        if (m_pSignal && m_bRegistered) m_pSignal->Unregister(m_socket);
    }
    CStopScope(const CStopScope&) = delete;
    CStopScope& operator=(const CStopScope&) = delete;

    bool IsRegistered() const noexcept { return m_bRegistered; }

private:
    CStopSignal* m_pSignal;
    CSocket& m_socket;
    bool m_bRegistered;
};

} // namespace net
