#include "retrieval/Redirect.h"

#include <algorithm>

namespace {

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
        const auto server = ParseAuthority(location.substr(0, pathAt), secure, secure ? kSecureServerPort : 80);
        if (!server) return std::nullopt;
        target.server = *server;
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
