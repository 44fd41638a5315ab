// The proxy texts the download reads: the ProxyServer setting, Windows' proxy lists and
// bypass lists. Pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct ProxyEndpoint {
    std::string host;  // IPv6 without brackets
    unsigned short port = 80;
    bool operator==(const ProxyEndpoint&) const = default;
};

// What ProxyServer asks for.
struct ProxySetting {
    enum Kind { User, Direct, Server } kind = User;
    ProxyEndpoint server;
};

// Empty or blank: the user's own Windows configuration; "direct" (any case): none;
// "host:port", "[v6]:port" or "host" (port 80): that proxy. Absent for anything else.
std::optional<ProxySetting> ParseProxySetting(std::string_view text);

// The proxy a Windows proxy list ("host:port", or "http=host:port;https=host:port", entries
// split by ';' or blanks, an "http://" before a host allowed) gives for a plain or a secure
// (`secure`) request: the entry of that scheme, else the first without one. Absent: none.
std::optional<ProxyEndpoint> ChooseProxy(std::string_view list, bool secure);

// Whether `host` goes direct by a Windows bypass list: entries split by ';', ',' or blanks,
// compared without case, '*' standing for any run of characters; "<local>" for any name
// without a dot.
bool IsBypassed(std::string_view bypassList, std::string_view host);
