#include "retrieval/ServerAddress.h"

namespace {

constexpr std::string_view kSecureScheme = "https://";

bool IsHostCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

bool IsHost(std::string_view text)
{
    if (text.empty()) return false;
    for (const char c : text)
        if (!IsHostCharacter(c)) return false;
    return true;
}

std::optional<unsigned short> ParsePort(std::string_view text)
{
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    return static_cast<unsigned short>(value);
}

bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix)
{
    if (text.size() < lowerPrefix.size()) return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != lowerPrefix[i]) return false;
    }
    return true;
}

} // namespace

std::optional<ServerAddress> ParseServerAddress(std::string_view remoteHost, unsigned short plainPort)
{
    if (!StartsWithNoCase(remoteHost, kSecureScheme)) {
        if (!IsHost(remoteHost)) return std::nullopt;
        return ServerAddress{false, std::string(remoteHost), plainPort};
    }
    std::string_view authority = remoteHost.substr(kSecureScheme.size());
    unsigned short port = kSecureServerPort;
    if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
        const auto given = ParsePort(authority.substr(colon + 1));
        if (!given) return std::nullopt;
        port = *given;
        authority = authority.substr(0, colon);
    }
    if (!IsHost(authority)) return std::nullopt;
    return ServerAddress{true, std::string(authority), port};
}
