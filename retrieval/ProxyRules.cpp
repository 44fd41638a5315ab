#include "retrieval/ProxyRules.h"

#include <vector>

namespace {

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separators)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(separators, start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool IsNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

// "host", "host:port", "[v6]", "[v6]:port", after an optional "http://" and before an
// optional '/'.
std::optional<ProxyEndpoint> ParseEndpoint(std::string_view text)
{
    if (text.size() > 7 && EqualsNoCase(text.substr(0, 7), "http://")) text.remove_prefix(7);
    if (!text.empty() && text.back() == '/') text.remove_suffix(1);
    ProxyEndpoint endpoint;
    std::string_view portText;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close < 3) return std::nullopt;
        endpoint.host = std::string(text.substr(1, close - 1));
        for (const char c : endpoint.host)
            if (c != ':' && c != '.' && !IsNameCharacter(c)) return std::nullopt;
        text.remove_prefix(close + 1);
        if (!text.empty() && text.front() != ':') return std::nullopt;
        if (!text.empty()) portText = text.substr(1);
        if (!text.empty() && portText.empty()) return std::nullopt;
    } else {
        const std::size_t colon = text.find(':');
        endpoint.host = std::string(text.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = text.substr(colon + 1);
            if (portText.empty()) return std::nullopt;
        }
        if (endpoint.host.empty()) return std::nullopt;
        for (const char c : endpoint.host)
            if (!IsNameCharacter(c)) return std::nullopt;
    }
    if (!portText.empty()) {
        unsigned long port = 0;
        for (const char c : portText) {
            if (c < '0' || c > '9' || port > 65535) return std::nullopt;
            port = port * 10 + static_cast<unsigned long>(c - '0');
        }
        if (port == 0 || port > 65535) return std::nullopt;
        endpoint.port = static_cast<unsigned short>(port);
    }
    return endpoint;
}

// Whether `text` matches `pattern`, '*' standing for any run of characters.
bool Matches(std::string_view pattern, std::string_view text)
{
    std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && Lower(pattern[p]) == Lower(text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

} // namespace

std::optional<ProxySetting> ParseProxySetting(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.empty()) return ProxySetting{};
    if (EqualsNoCase(text, "direct")) return ProxySetting{ProxySetting::Direct, {}};
    const auto endpoint = ParseEndpoint(text);
    if (!endpoint) return std::nullopt;
    return ProxySetting{ProxySetting::Server, *endpoint};
}

std::optional<ProxyEndpoint> ChooseProxy(std::string_view list, bool secure)
{
    const std::string_view scheme = secure ? "https" : "http";
    std::optional<ProxyEndpoint> general;
    for (const std::string_view entry : Split(list, "; \t\r\n")) {
        const std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            if (!general) general = ParseEndpoint(entry);
        } else if (EqualsNoCase(entry.substr(0, equals), scheme)) {
            if (auto endpoint = ParseEndpoint(entry.substr(equals + 1))) return endpoint;
        }
    }
    return general;
}

bool IsBypassed(std::string_view bypassList, std::string_view host)
{
    for (std::string_view entry : Split(bypassList, ";, \t\r\n")) {
        if (EqualsNoCase(entry, "<local>")) {
            if (host.find('.') == std::string_view::npos && host.find(':') == std::string_view::npos) return true;
            continue;
        }
        if (entry.size() > 7 && EqualsNoCase(entry.substr(0, 7), "http://")) entry.remove_prefix(7);
        else if (entry.size() > 8 && EqualsNoCase(entry.substr(0, 8), "https://")) entry.remove_prefix(8);
        if (Matches(entry, host)) return true;
    }
    return false;
}
