// Connecting to a server with several addresses: each in the resolver's order until one
// answers, so that a dead first address never hides a live second one.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "net/Socket.h"
#include "net/StopSignal.h"

namespace net {

// What one attempt may take when another address is left to try.
inline constexpr std::uint32_t kAttemptLimit = 4000;

// Opens `socket` anew for each address (of its family) and connects it. Each attempt takes
// at most `attemptLimit` milliseconds, and at most kAttemptLimit while addresses are left
// after it; every attempt ends by `until`, and at once on a stop (`stop` may be null; the
// socket is registered only while it connects).
// With `local`, the socket is bound to it and only addresses of its family are tried.
// Answers the index of the address connected, or -1 with the last attempt's error in
// LastSocketError (the time-out error once `until` has passed).
int ConnectEach(CSocket& socket, const std::vector<Address>& addresses, std::uint32_t attemptLimit,
                std::chrono::steady_clock::time_point until, CStopSignal* stop = nullptr,
                const Address* local = nullptr);

// The address of a server that answered last, tried first by the connections of one thread
// that share it: a dead first address costs its wait once, not at every connection.
class CAddressMemory {
public:
    void Remember(const Address& address) { m_address = address; }
    // `addresses` with the remembered one, when it is among them, moved to the front.
    std::vector<Address> Ordered(std::vector<Address> addresses) const;

private:
    std::optional<Address> m_address;
};

} // namespace net
