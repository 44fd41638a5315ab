// Where a redirection of the server sends the download next.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "retrieval/ServerAddress.h"

// The redirections the download follows, and how many in a row.
inline bool IsFollowedRedirect(unsigned long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}
inline constexpr int kMaxRedirects = 5;

struct RedirectTarget {
    ServerAddress server;
    std::string path;  // with its query, without a fragment
};

// The target of `location` seen from `from`: an absolute http or https URL (ports 80 and 443
// by default) or a path from the root. Absent when it is neither, when its host or port is no
// such thing or it carries a user, when it holds a character a request line cannot carry, and
// from https to http.
std::optional<RedirectTarget> ResolveRedirect(std::string_view location, const ServerAddress& from);
