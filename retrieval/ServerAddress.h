// Where the message server is, as RemoteHost names it: a host name or an IPv6 address, bare
// or in brackets (HTTP on the fetcher's port), or "https://host" and "https://host:port", the
// host possibly an IPv6 address in brackets (HTTP inside TLS, port 443 by default).
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr unsigned short kSecureServerPort = 443;

struct ServerAddress {
    bool secure = false;
    std::string host;  // what the probe pings and the certificate must name; IPv6 without brackets
    unsigned short port = 0;
    bool operator==(const ServerAddress&) const = default;
};

// Absent for anything else: an empty host, a host with characters no host name has, a port
// that is not 1 to 65535 in digits, another scheme, a path, a user or a query.
std::optional<ServerAddress> ParseServerAddress(std::string_view remoteHost, unsigned short plainPort);

// The authority of an http or https URL: "host", "host:port", "[IPv6]" or "[IPv6]:port";
// absent when the host or the port is not one.
std::optional<ServerAddress> ParseAuthority(std::string_view authority, bool secure, unsigned short defaultPort);

// Whether `text` starts with `lowerPrefix`, letters compared without regard to case.
bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix);

// The host as a URL or a Host header writes it: an IPv6 address in brackets.
std::string UrlHost(const std::string& host);
