#include "retrieval/Redirect.h"

#include <algorithm>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix)
{
    if (text.size() < lowerPrefix.size()) return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != lowerPrefix[i]) return false;
    }
    return true;
}

bool IsHost(std::string_view text)
{
    if (text.empty()) return false;
    for (const char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
              c == '_'))
            return false;
    return true;
}

std::optional<unsigned short> PortOf(std::string_view text)
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

// Printable ASCII without blanks: nothing that could end or split the request line.
bool IsRequestPath(std::string_view path)
{
    if (path.empty() || path.front() != '/') return false;
    for (const char c : path)
        if (c <= ' ' || c > '~') return false;
    return true;
}

} // namespace

std::optional<RedirectTarget> ResolveRedirect(std::string_view location, const ServerAddress& from)
{
    location = location.substr(0, location.find('#'));
    RedirectTarget target{from, ""};
    const bool secure = StartsWithNoCase(location, "https://");
    if (secure || StartsWithNoCase(location, "http://")) {
        if (from.secure && !secure) return std::nullopt;
        location.remove_prefix(secure ? 8 : 7);
        const std::size_t pathAt = std::min(location.find_first_of("/?"), location.size());
        std::string_view authority = location.substr(0, pathAt);
        target.server.secure = secure;
        target.server.port = secure ? kSecureServerPort : 80;
        if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
            const auto port = PortOf(authority.substr(colon + 1));
            if (!port) return std::nullopt;
            target.server.port = *port;
            authority = authority.substr(0, colon);
        }
        if (!IsHost(authority)) return std::nullopt;
        target.server.host = std::string(authority);
        location.remove_prefix(pathAt);
        target.path = location.empty() || location.front() == '?' ? "/" + std::string(location) : std::string(location);
    } else if (location.substr(0, 2) == "//") {
        return std::nullopt;  // a host without its scheme
    } else {
        target.path = std::string(location);
    }
    if (!IsRequestPath(target.path)) return std::nullopt;
    return target;
}
