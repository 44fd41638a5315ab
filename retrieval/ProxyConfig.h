// Which proxy, if any, the download goes through: the ProxyServer setting, else the user's
// own Windows configuration (a fixed proxy with its bypass list, a configuration script,
// automatic detection).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "retrieval/ProxyRules.h"
#include "retrieval/ServerAddress.h"

class CRegistryWatch;

// The route the user's Windows settings give, kept from one cycle to the next: asking again
// costs every cycle a script's run or a detection, which may wait on the network. It is asked
// again for another server, after the user's (or the machine's) Internet settings changed, and
// after Forget (a cycle that failed: the network may have changed). Without a way to watch
// the settings, it is asked every time.
class CUserProxyMemory {
public:
    CUserProxyMemory();
    ~CUserProxyMemory();
    CUserProxyMemory(const CUserProxyMemory&) = delete;
    CUserProxyMemory& operator=(const CUserProxyMemory&) = delete;

    std::optional<ProxyEndpoint> RouteFor(const ServerAddress& server, unsigned long timeOut);
    void Forget();

private:
    bool SettingsChanged();

    std::mutex m_lock;
    std::unique_ptr<CRegistryWatch> m_pUserSettings;
    std::unique_ptr<CRegistryWatch> m_pMachineSettings;
    std::optional<ServerAddress> m_server;  // whose route is kept
    std::optional<ProxyEndpoint> m_route;
    std::uint64_t m_nAsked = 0;  // questions and Forgets so far
};

// None: straight to the server. A ProxyServer value not understood raises code -1003. A
// script or detection is asked through WinHTTP with every wait bounded by `timeOut`
// milliseconds; when it gives nothing, the user's fixed proxy holds. The user's route comes
// from `memory` when it holds it.
std::optional<ProxyEndpoint> ProxyFor(const ServerAddress& server, unsigned long timeOut, CUserProxyMemory& memory);
