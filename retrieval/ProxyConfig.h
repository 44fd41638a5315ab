// Which proxy, if any, the download goes through: the ProxyServer setting, else the user's
// own Windows configuration (a fixed proxy with its bypass list, a configuration script,
// automatic detection).
#pragma once

#include <optional>

#include "retrieval/ProxyRules.h"
#include "retrieval/ServerAddress.h"

// None: straight to the server. A ProxyServer value not understood raises code -1003. A
// script or detection is asked through WinHTTP with every wait bounded by `timeOut`
// milliseconds; when it gives nothing, the user's fixed proxy holds.
std::optional<ProxyEndpoint> ProxyFor(const ServerAddress& server, unsigned long timeOut);
