#include "net/Connector.h"

#include <algorithm>
#include <cstring>

namespace net {

namespace {

#ifdef _WIN32
constexpr int kTimedOutError = 10060;     // WSAETIMEDOUT
constexpr int kInterruptedError = 10004;  // WSAEINTR
constexpr int kFamilyError = 10047;       // WSAEAFNOSUPPORT
#else
constexpr int kTimedOutError = 110;     // ETIMEDOUT
constexpr int kInterruptedError = 4;    // EINTR
constexpr int kFamilyError = 97;        // EAFNOSUPPORT
#endif

} // namespace

int ConnectEach(CSocket& socket, const std::vector<Address>& addresses, std::uint32_t attemptLimit,
                std::chrono::steady_clock::time_point until, CStopSignal* stop, const Address* local)
{
    int error = kFamilyError;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const Address& address = addresses[i];
        if (local && local->IsV6() != address.IsV6()) continue;
        using std::chrono::duration_cast, std::chrono::milliseconds;
        const auto left = duration_cast<milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            error = kTimedOutError;
            break;
        }
        std::uint32_t limit = static_cast<std::uint32_t>(std::min<long long>(left.count(), attemptLimit));
        if (i + 1 < addresses.size()) limit = std::min(limit, kAttemptLimit);
        if (!socket.OpenStream(address.IsV6()) || (local && !socket.Bind(*local))) {
            error = LastSocketError();
            continue;
        }
        const CStopScope scope(stop, socket);
        if (!scope.IsRegistered() || (stop && stop->IsStopped())) {
            error = kInterruptedError;
            break;
        }
        if (socket.Connect(address, limit)) return static_cast<int>(i);
        error = LastSocketError();
        if (stop && stop->IsStopped()) break;
    }
    SetLastSocketError(error);
    return -1;
}

std::vector<Address> CAddressMemory::Ordered(std::vector<Address> addresses) const
{
    if (!m_address) return addresses;
    const auto same = [this](const Address& a) {
        const auto length = static_cast<std::size_t>(a.Length());
        return a.Length() == m_address->Length() && std::memcmp(a.bytes, m_address->bytes, length) == 0;
    };
    std::stable_partition(addresses.begin(), addresses.end(), same);
    return addresses;
}

} // namespace net
