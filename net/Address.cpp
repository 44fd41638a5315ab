// Socket addresses and the resolver: literals as they stand, names through the system's
// lookup, for IPv4 and IPv6 alike.
#include "net/Socket.h"

#include <cstring>

#include "net/SystemSockets.h"

namespace net {

bool Address::IsV6() const
{
    sockaddr generic;
    std::memcpy(&generic, bytes, sizeof generic);
    return generic.sa_family == AF_INET6;
}

int Address::Length() const
{
    return IsV6() ? static_cast<int>(sizeof(sockaddr_in6)) : static_cast<int>(sizeof(sockaddr_in));
}

std::vector<Address> ResolveAll(const char* host, std::uint16_t port)
{
    static_assert(sizeof(sockaddr_in6) <= sizeof(Address::bytes));
    std::vector<Address> found;
    SetLastSocketError(0);
    std::string text = host ? host : "";
    const bool bracketed = text.size() > 2 && text.front() == '[' && text.back() == ']';
    if (bracketed) text = text.substr(1, text.size() - 2);
    Address address{};
    sockaddr_in inet{};
    inet.sin_family = AF_INET;
    inet.sin_port = htons(port);
    inet.sin_addr.s_addr = inet_addr(text.c_str());
    sockaddr_in6 inet6{};
    inet6.sin6_family = AF_INET6;
    inet6.sin6_port = htons(port);
    // Literals need no lookup, and an IPv6 one given to an IPv4-only lookup fails.
    if (!bracketed && !text.empty() && inet.sin_addr.s_addr != INADDR_NONE) {
        std::memcpy(address.bytes, &inet, sizeof inet);
        found.push_back(address);
    } else if (inet_pton(AF_INET6, text.c_str(), &inet6.sin6_addr) == 1) {
        std::memcpy(address.bytes, &inet6, sizeof inet6);
        found.push_back(address);
    } else if (!bracketed && !text.empty()) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const int error = getaddrinfo(text.c_str(), nullptr, &hints, &list);
        if (error != 0) {
#ifdef _WIN32
            // Windows answers its resolver's codes; anything else counts as an unknown host.
            SetLastSocketError(error > 0 ? error : WSAHOST_NOT_FOUND);
#endif
            return found;
        }
        for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
            if (entry->ai_family == AF_INET) {
                inet.sin_addr = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
                address = Address{};
                std::memcpy(address.bytes, &inet, sizeof inet);
            } else if (entry->ai_family == AF_INET6) {
                inet6.sin6_addr = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr)->sin6_addr;
                inet6.sin6_scope_id = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr)->sin6_scope_id;
                address = Address{};
                std::memcpy(address.bytes, &inet6, sizeof inet6);
            } else {
                continue;
            }
            found.push_back(address);
        }
        freeaddrinfo(list);
    }
    return found;
}

bool Resolve(const char* host, std::uint16_t port, Address& address)
{
    const std::vector<Address> found = ResolveAll(host, port);
    if (found.empty()) return false;
    address = found.front();
    return true;
}

std::string AddressText(const Address& address)
{
    char text[64] = {};
    if (address.IsV6()) {
        sockaddr_in6 inet6;
        std::memcpy(&inet6, address.bytes, sizeof inet6);
        inet_ntop(AF_INET6, &inet6.sin6_addr, text, sizeof text);
    } else {
        sockaddr_in inet;
        std::memcpy(&inet, address.bytes, sizeof inet);
        inet_ntop(AF_INET, &inet.sin_addr, text, sizeof text);
    }
    return text;
}

} // namespace net
