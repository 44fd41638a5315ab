#include "retrieval/ProxyConfig.h"

#include <windows.h>
#include <winhttp.h>

#include "app/Errors.h"
#include "app/ErrorReport.h"
#include "app/Settings.h"
#include "win/TextCodec.h"

namespace {

constexpr std::uint32_t kProxyServerBuffer = 300;

// WinHTTP's strings, freed with GlobalFree.
class CGlobalText {
public:
    explicit CGlobalText(LPWSTR adopted) : m_text(adopted) {}
    CGlobalText(const CGlobalText&) = delete;
    CGlobalText& operator=(const CGlobalText&) = delete;
    ~CGlobalText()
    {
        if (m_text) GlobalFree(m_text);
    }
    std::string Narrow() const { return m_text ? NarrowCp1252(m_text) : std::string(); }
    LPCWSTR Get() const { return m_text; }

private:
    LPWSTR m_text;
};

struct Route {
    bool decided = false;  // a script or detection gave its answer
    std::optional<ProxyEndpoint> proxy;
};

// The script's (or detection's) proxy for the server's URL.
Route AskScript(const ServerAddress& server, bool detect, LPCWSTR scriptUrl, unsigned long timeOut)
{
    const HINTERNET session = WinHttpOpen(WidenCp1252(kApplicationName).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY,
                                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) return {};
    const int wait = static_cast<int>(timeOut);
    WinHttpSetTimeouts(session, wait, wait, wait, wait);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (detect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (scriptUrl) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = scriptUrl;
    }
    options.fAutoLogonIfChallenged = TRUE;
    const std::string url = std::string(server.secure ? "https://" : "http://") + UrlHost(server.host) + ":" +
                            std::to_string(server.port) + "/zandu/";
    WINHTTP_PROXY_INFO info{};
    Route route;
    if (WinHttpGetProxyForUrl(session, WidenCp1252(url).c_str(), &options, &info)) {
        route.decided = true;
        const CGlobalText list(info.lpszProxy), bypass(info.lpszProxyBypass);
        if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !IsBypassed(bypass.Narrow(), server.host))
            route.proxy = ChooseProxy(list.Narrow(), server.secure);
    }
    WinHttpCloseHandle(session);
    return route;
}

std::optional<ProxyEndpoint> UserProxyFor(const ServerAddress& server, unsigned long timeOut)
{
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return std::nullopt;
    const CGlobalText scriptUrl(config.lpszAutoConfigUrl), list(config.lpszProxy), bypass(config.lpszProxyBypass);
    if (config.fAutoDetect || scriptUrl.Get()) {
        const Route route = AskScript(server, config.fAutoDetect != FALSE, scriptUrl.Get(), timeOut);
        if (route.decided) return route.proxy;
    }
    if (!list.Get() || IsBypassed(bypass.Narrow(), server.host)) return std::nullopt;
    return ChooseProxy(list.Narrow(), server.secure);
}

} // namespace

std::optional<ProxyEndpoint> ProxyFor(const ServerAddress& server, unsigned long timeOut)
{
    std::string text;
    if (!TryReadSetting("ProxyServer", kProxyServerBuffer, text)) text.clear();
    const auto setting = ParseProxySetting(text);
    if (!setting) throw CCodeException(ERR_REGISTRY_READ);
    if (setting->kind == ProxySetting::Direct) return std::nullopt;
    if (setting->kind == ProxySetting::Server) return setting->server;
    return UserProxyFor(server, timeOut);
}
