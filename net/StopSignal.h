// Stops the network work of another thread at once. Every wait of a registered socket waits
// on the socket and on this signal's event together, so a Stop ends it whatever the peer does
// (a peer that neither sends nor closes included); the socket is also shut down, which ends a
// blocked send. No later socket may register (none connects) until the signal is cleared.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "net/Socket.h"

namespace net {

class CStopSignal {
public:
    CStopSignal() noexcept;
    ~CStopSignal();
    CStopSignal(const CStopSignal&) = delete;
    CStopSignal& operator=(const CStopSignal&) = delete;

    void Stop() noexcept;
    void Clear() noexcept;
    bool IsStopped() const noexcept { return m_bStopped; }

    // `socket` becomes the one a Stop shuts down, and its waits watch this signal; false,
    // and nothing registered, once stopped.
    bool Register(CSocket& socket) noexcept;
    // Before the socket is closed, so that a Stop never reaches a handle that names another.
    void Unregister(CSocket& socket) noexcept;

    // What a wait watches beside its socket: a manual-reset event on Windows, the readable
    // end of an event counter elsewhere; kNoWake when it could not be made (then only the
    // shutdown stops).
    WakeHandle Wake() const noexcept { return m_wake; }

private:
    std::mutex m_lock;
    std::atomic<bool> m_bStopped{false};
    CSocket* m_pSocket = nullptr;
    WakeHandle m_wake = kNoWake;
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
