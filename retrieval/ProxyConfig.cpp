#include "retrieval/ProxyConfig.h"

#include <windows.h>
#include <winhttp.h>

#include "app/Errors.h"
#include "app/ErrorReport.h"
#include "app/Settings.h"
#include "win/Handles.h"
#include "win/TextCodec.h"

namespace {
// Where Windows keeps the proxy settings, the user's and (by policy) the machine's.
constexpr wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
} // namespace

// Tells whether a registry key or anything under it changed since the last call. The
// notification outlives the thread that asked for it: each cycle runs on a thread of its own.
class CRegistryWatch {
public:
    CRegistryWatch(HKEY root, const wchar_t* path) : m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        if (RegOpenKeyExW(root, path, 0, KEY_NOTIFY, m_key.put()) != ERROR_SUCCESS) m_key.reset();
    }

    // True as well when the key cannot be watched: nothing read from it may then be kept.
    bool Changed()
    {
        if (m_bArmed && WaitForSingleObject(m_event.get(), 0) == WAIT_TIMEOUT) return false;
        // Armed again before the caller reads, so that a change while it reads is seen next time.
        ResetEvent(m_event.get());
        m_bArmed = m_key && m_event &&
                   RegNotifyChangeKeyValue(m_key.get(), TRUE,
                                           REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET |
                                               REG_NOTIFY_THREAD_AGNOSTIC,
                                           m_event.get(), TRUE) == ERROR_SUCCESS;
        return true;
    }

private:
    UniqueHandle<handle_traits::Key> m_key;
    UniqueHandle<handle_traits::Kernel> m_event;
    bool m_bArmed = false;
};

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

CUserProxyMemory::CUserProxyMemory()
    : m_pUserSettings(std::make_unique<CRegistryWatch>(HKEY_CURRENT_USER, kInternetSettings)),
      m_pMachineSettings(std::make_unique<CRegistryWatch>(HKEY_LOCAL_MACHINE, kInternetSettings))
{
}

CUserProxyMemory::~CUserProxyMemory() = default;

bool CUserProxyMemory::SettingsChanged()
{
    // Both are asked, so that both are armed again.
    const bool user = m_pUserSettings->Changed();
    return m_pMachineSettings->Changed() || user;
}

std::optional<ProxyEndpoint> CUserProxyMemory::RouteFor(const ServerAddress& server, unsigned long timeOut)
{
    std::uint64_t asking = 0;
    {
        const std::lock_guard lock(m_lock);
        if (!SettingsChanged() && m_server == server) return m_route;
        m_server.reset();
        asking = ++m_nAsked;
    }
    // Asked without the lock: a cycle left behind by a stop must not hold the next one up
    // while a script or a detection waits. Only the latest question's answer is kept.
    std::optional<ProxyEndpoint> route = UserProxyFor(server, timeOut);
    const std::lock_guard lock(m_lock);
    if (asking == m_nAsked) {
        m_server = server;
        m_route = route;
    }
    return route;
}

void CUserProxyMemory::Forget()
{
    const std::lock_guard lock(m_lock);
    m_server.reset();
    ++m_nAsked;
}

std::optional<ProxyEndpoint> ProxyFor(const ServerAddress& server, unsigned long timeOut, CUserProxyMemory& memory)
{
    std::string text;
    if (!TryReadSetting("ProxyServer", kProxyServerBuffer, text)) text.clear();
    const auto setting = ParseProxySetting(text);
    if (!setting) throw CCodeException(ERR_REGISTRY_READ);
    if (setting->kind == ProxySetting::Direct) return std::nullopt;
    if (setting->kind == ProxySetting::Server) return setting->server;
    return memory.RouteFor(server, timeOut);
}
