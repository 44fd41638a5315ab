// The download and the mail on the networks customers have, in the namespace networks.py
// makes: a server that drops echoes, a proxy as the only way out (set in ProxyServer or in
// the user's Windows settings), IPv6 and names with several addresses, and the Spanish
// words of each failure.
#include <cstdlib>
#include <sstream>
#include <tuple>

#include "app/NetworkErrorText.h"
#include "mail/MailAddress.h"
#include "mail/MailConnection.h"
#include "mail/MailMessage.h"
#include "mail/MailPlatform.h"
#include "tests/retrieval/FetcherTest.h"

// The mail's own operation, not the window message of <windows.h>.
#undef SendMessage

using namespace testing_support;

namespace {

const auto* const g_winsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

constexpr wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// "127.0.0.1:port" of the runner's port `name` (NOTELIA_<name>_PORT).
std::string Local(const char* name) { return "127.0.0.1:" + std::to_string(CScriptedWeb::Port(name)); }

// The user's Windows proxy settings as WinHTTP reads them: flags (1 direct, 2 a proxy, 4 a
// script), the proxy list, the bypass list and the script's URL; none without either.
void SetUserProxy(const char* proxy, const char* bypass, const char* script)
{
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    std::vector<unsigned char> data;
    const auto dword = [&data](std::size_t value) {
        for (int i = 0; i < 4; ++i) data.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    dword(0x46), dword(1), dword(1 | (proxy ? 2 : 0) | (script ? 4 : 0));
    for (const char* text : {proxy, bypass, script}) {
        const std::string value = text ? text : "";
        dword(value.size());
        data.insert(data.end(), value.begin(), value.end());
    }
    data.resize(data.size() + 32);
    constexpr wchar_t kValue[] = L"DefaultConnectionSettings";
    if (proxy || script) RegSetValueExW(key, kValue, 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
    else RegDeleteValueW(key, kValue);
    RegCloseKey(key);
}

// The request heads' first lines that reached either proxy since the last call.
std::vector<std::string> TakeProxyLog()
{
    const std::string path = std::getenv("NOTELIA_PROXY_LOG");
    std::istringstream text(ReadBytes(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    WriteBytes(path, "");
    return lines;
}

struct Network {
    const char* name;
    std::wstring remoteHost;
    std::vector<std::string> proxied = {};  // what reached the proxies
    std::wstring proxyServer = L"";         // empty: as none, the user's settings
    const char* userProxy = nullptr;        // null: no Windows proxy settings
    const char* userBypass = nullptr;
    const char* userScript = nullptr;       // the user's proxy configuration script
    const char* box = nullptr;              // the one box shown, if any: no connection
};

} // namespace

TEST_F(FetcherTest, EachNetworkFetchesOrTellsWhyInSpanish)
{
    const std::wstring https = L"https://" + WidenCp1252(Local("HTTPS"));
    const std::string proxy = Local("PROXY"), authProxy = Local("AUTH_PROXY");
    // What reaches a proxy for the first `count` files of a cycle, plain and secure.
    const auto gets = [](std::size_t count) {
        std::vector<std::string> lines;
        for (const char* name : {"notelia_param.ini", "mensaje.txt", "comercia.txt"})
            if (lines.size() < count)
                lines.push_back("GET http://127.0.0.7:" + std::to_string(CScriptedWeb::Port()) + "/zandu/" + name +
                                " HTTP/1.0");
        return lines;
    };
    const auto connects = [](std::size_t count) {
        return std::vector<std::string>(count, "CONNECT " + Local("HTTPS") + " HTTP/1.0");
    };
    const std::string script = "http://" + Local("HTTP") + "/proxy.pac";
    const char* const kAuthBox = "(407) - El servidor proxy solicita autenticación";
    const Network networks[] = {
        {"IPv6 literal", L"[fd00:7a6e::5]"},
        {"IPv6-only name", L"v6only.notelia.test"},
        {"first address refuses", L"multi.notelia.test"},
        {"first address drops everything", L"hole.notelia.test"},
        {"ProxyServer, plain", L"127.0.0.7", gets(3), WidenCp1252(proxy)},
        {"ProxyServer, https", https, connects(3), WidenCp1252(proxy)},
        {"user's proxy", L"127.0.0.7", gets(3), L"", proxy.c_str(), "<local>"},
        {"user's script", L"127.0.0.7", gets(3), L"", nullptr, nullptr, script.c_str()},
        // 127.0.0.9 drops echoes: reached directly all the same.
        {"user's bypass list", L"127.0.0.9", {}, L"", authProxy.c_str(), "<local>;127.0.0.9"},
        {"ProxyServer direct", L"127.0.0.9", {}, L"direct", authProxy.c_str(), ""},
        {.name = "proxy asks for credentials", .remoteHost = L"127.0.0.7", .proxied = gets(1),
         .proxyServer = WidenCp1252(authProxy), .box = kAuthBox},
        {.name = "user's proxy asks for credentials, https", .remoteHost = https, .proxied = connects(1),
         .userProxy = authProxy.c_str(), .userBypass = "", .box = kAuthBox},
        {.name = "no server named", .remoteHost = L"http://127.0.0.1", .box = "(12005) - La dirección URL no es válida"},
    };
    for (const Network& network : networks) {
        SCOPED_TRACE(network.name);
        m_boxes.boxes.clear();
        m_key.Set(L"RemoteHost", network.remoteHost);
        m_key.Set(L"TimeOut", L"1500");
        m_key.Set(L"ProxyServer", network.proxyServer);
        SetUserProxy(network.userProxy, network.userBypass, network.userScript);
        CScriptedWeb::Reset();
        PublishAll("nuevo");
        CScriptedWeb::Publish("/proxy.pac", 200, "function FindProxyForURL(u, h) { return \"PROXY " + proxy + "\"; }");
        TakeProxyLog();
        // Without a kit identifier: the three common files.
        CMessageFetcher fetcher(CScriptedWeb::Port(), 5000, [](std::string&) { return false; });
        WriteBytes("mensaje.txt", kOld);
        fetcher.FetchAll();
        EXPECT_EQ(fetcher.m_nOutcome, network.box ? 2 : 1);
        // What was fetched is installed; what was not keeps its local copy.
        EXPECT_EQ(ReadBytes("mensaje.txt"), network.box ? kOld : "General nuevo");
        EXPECT_EQ(TakeProxyLog(), network.proxied);
        EXPECT_EQ(network.box ? OneErrorBox() : "", network.box ? network.box : "");
        EXPECT_EQ(m_boxes.boxes.size(), network.box ? 1u : 0u);
    }
}

TEST(Networks, MailReachesTheServerAtEachOfItsAddressesOrSaysWhyNotInSpanish)
{
    const auto port = CScriptedWeb::Port("SMTP");
    ASSERT_NE(port, 0);
    // Null: delivered; else the start of the send dialog's box for a failure before any reply.
    const std::tuple<const char*, unsigned short, const char*> servers[] = {
        {"fd00:7a6e::5", port, nullptr},  // bracketed too: the resolver's own table
        {"v6only.notelia.test", port, nullptr},
        {"hole.notelia.test", port, nullptr},
        {"nohost.notelia.test", port, ") - No se encontró el nombre del servidor"},
        {"127.0.0.1", CScriptedWeb::DownPort(), "(10061) - No se puede establecer una conexión ya que el equipo"},
    };
    for (const auto& [server, serverPort, failure] : servers) {
        SCOPED_TRACE(server);
        CMailConnection connection;
        const bool connected = connection.Connect(server, CMailConnection::Login, "usuario", "clave", serverPort);
        ASSERT_EQ(connected, !failure);
        if (failure) {
            const std::string text = NumberedNetworkErrorText(static_cast<unsigned long>(MailLastError()));
            EXPECT_NE(text.find(failure), std::string::npos) << text;
            continue;
        }
        CMailMessage message;
        message.From = CMailAddress("Usuario", "usuario@example.com");
        message.AppendRecipient(CMailAddress("", "mesa@example.com"), CMailMessage::To);
        message.SetBodyText("Hola");
        EXPECT_TRUE(connection.SendMessage(message)) << connection.LastReplyText;
        connection.Disconnect(true);
    }
}

TEST_F(FetcherTest, TheUsersProxyIsAskedAgainOnceTheSettingsChange)
{
    m_key.Set(L"RemoteHost", L"127.0.0.7");
    PublishAll("nuevo");
    SetUserProxy(Local("PROXY").c_str(), "", nullptr);
    TakeProxyLog();
    CMessageFetcher fetcher(CScriptedWeb::Port(), 5000, [](std::string&) { return false; });
    fetcher.FetchAll();
    EXPECT_EQ(fetcher.m_nOutcome, 1);
    EXPECT_EQ(TakeProxyLog().size(), 3u);
    // The same fetcher's next cycle, after the user chose a proxy that asks for credentials.
    SetUserProxy(Local("AUTH_PROXY").c_str(), "", nullptr);
    fetcher.FetchAll();
    EXPECT_EQ(fetcher.m_nOutcome, 2);
    EXPECT_EQ(TakeProxyLog().size(), 1u);
    EXPECT_EQ(OneErrorBox(), "(407) - El servidor proxy solicita autenticación");
    SetUserProxy(nullptr, nullptr, nullptr);
}
