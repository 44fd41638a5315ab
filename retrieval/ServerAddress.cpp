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

// Hexadecimal groups with at least two colons (a dotted IPv4 tail allowed); the resolver
// checks the rest.
bool IsIpv6Literal(std::string_view text)
{
    std::size_t colons = 0;
    for (const char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (c == ':') ++colons;
        else if (!hex && c != '.') return false;
    }
    return colons >= 2 && text.size() <= 45;
}

// A host name, or an IPv6 literal in brackets (answered without them); empty when neither.
std::string HostOf(std::string_view text)
{
    if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
        text = text.substr(1, text.size() - 2);
        return IsIpv6Literal(text) ? std::string(text) : std::string();
    }
    return IsHost(text) ? std::string(text) : std::string();
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

} // namespace

bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix)
{
    if (text.size() < lowerPrefix.size()) return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != lowerPrefix[i]) return false;
    }
    return true;
}

std::optional<ServerAddress> ParseAuthority(std::string_view authority, bool secure, unsigned short defaultPort)
{
    unsigned short port = defaultPort;
    // The port's colon comes after the closing bracket of an IPv6 literal.
    const std::size_t bracket = authority.rfind(']');
    if (const std::size_t colon = authority.rfind(':');
        colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        const auto given = ParsePort(authority.substr(colon + 1));
        if (!given) return std::nullopt;
        port = *given;
        authority = authority.substr(0, colon);
    }
    std::string host = HostOf(authority);
    if (host.empty()) return std::nullopt;
    return ServerAddress{secure, std::move(host), port};
}

std::optional<ServerAddress> ParseServerAddress(std::string_view remoteHost, unsigned short plainPort)
{
    if (!StartsWithNoCase(remoteHost, kSecureScheme)) {
        std::string host = IsIpv6Literal(remoteHost) ? std::string(remoteHost) : HostOf(remoteHost);
        if (host.empty()) return std::nullopt;
        return ServerAddress{false, std::move(host), plainPort};
    }
    return ParseAuthority(remoteHost.substr(kSecureScheme.size()), true, kSecureServerPort);
}

std::string UrlHost(const std::string& host)
{
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}
