// The download and the mail on the networks customers have, in the namespace networks.py
// makes: a server that drops echoes, a proxy as the only way out (set in ProxyServer or in
// the user's Windows settings), IPv6 and names with several addresses, and the Spanish
// words of each failure.
#include <cstdlib>
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
    std::vector<std::string> lines;
    std::string text = ReadBytes(path);
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    WriteBytes(path, "");
    return lines;
}

struct Network {
    const char* name;
    std::wstring remoteHost;
    std::wstring proxyServer;  // empty: no value
    const char* userProxy;     // null: no Windows proxy settings
    const char* userBypass;
    int outcome;
    const char* box;           // the one box shown, if any
    std::vector<std::string> proxied;  // what reached the proxies
    const char* userScript = nullptr;  // the user's proxy configuration script
};

} // namespace

TEST(Networks, EachNetworkFetchesOrTellsWhyInSpanish)
{
    ASSERT_NE(CScriptedWeb::Port(), 0) << "run under tests/retrieval/networks.py";
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
        {"server that drops echoes", L"127.0.0.9", L"", nullptr, nullptr, 1, nullptr, {}},
        {"IPv6 literal", L"[fd00:7a6e::5]", L"", nullptr, nullptr, 1, nullptr, {}},
        {"IPv6-only name", L"v6only.notelia.test", L"", nullptr, nullptr, 1, nullptr, {}},
        {"first address refuses", L"multi.notelia.test", L"", nullptr, nullptr, 1, nullptr, {}},
        {"first address drops everything", L"hole.notelia.test", L"", nullptr, nullptr, 1, nullptr, {}},
        {"ProxyServer, plain", L"127.0.0.7", WidenCp1252(proxy), nullptr, nullptr, 1, nullptr, gets(3)},
        {"ProxyServer, https", https, WidenCp1252(proxy), nullptr, nullptr, 1, nullptr, connects(3)},
        {"user's proxy", L"127.0.0.7", L"", proxy.c_str(), "<local>", 1, nullptr, gets(3)},
        {"user's script", L"127.0.0.7", L"", nullptr, nullptr, 1, nullptr, gets(3), script.c_str()},
        {"user's bypass list", L"127.0.0.9", L"", authProxy.c_str(), "<local>;127.0.0.9", 1, nullptr, {}},
        {"ProxyServer direct", L"127.0.0.9", L"direct", authProxy.c_str(), "", 1, nullptr, {}},
        {"proxy asks for credentials", L"127.0.0.7", WidenCp1252(authProxy), nullptr, nullptr, 2, kAuthBox,
         gets(1)},
        {"user's proxy asks for credentials, https", https, L"", authProxy.c_str(), "", 2, kAuthBox, connects(1)},
        {"refused after the echo", L"127.0.0.1", L"", nullptr, nullptr, 2,
         "(12029) - No se puede establecer una conexión con el servidor", {}},
        {"no server named", L"http://127.0.0.1", L"", nullptr, nullptr, 2, "(12005) - La dirección URL no es válida",
         {}},
    };
    for (const Network& network : networks) {
        SCOPED_TRACE(network.name);
        ScopedWorkDir dir;
        ScopedSettingsKey key;
        ScriptedBoxes boxes;
        key.Set(L"RemoteHost", network.remoteHost);
        key.Set(L"TimeOut", L"1500");
        if (!network.proxyServer.empty()) key.Set(L"ProxyServer", network.proxyServer);
        SetUserProxy(network.userProxy, network.userBypass, network.userScript);
        CScriptedWeb::Reset();
        PublishAll("nuevo");
        CScriptedWeb::Publish("/proxy.pac", 200, "function FindProxyForURL(u, h) { return \"PROXY " + proxy + "\"; }");
        TakeProxyLog();
        // Without a kit identifier: the three common files.
        const unsigned short port = network.name == std::string("refused after the echo") ? CScriptedWeb::DownPort()
                                                                                           : CScriptedWeb::Port();
        CMessageFetcher fetcher(port, 5000, [](std::string&) { return false; });
        WriteBytes("mensaje.txt", kOld);
        fetcher.FetchAll();
        EXPECT_EQ(fetcher.m_nOutcome, network.outcome);
        // What was fetched is installed; what was not keeps its local copy.
        EXPECT_EQ(ReadBytes("mensaje.txt"), network.outcome == 1 ? "General nuevo" : kOld);
        EXPECT_EQ(TakeProxyLog(), network.proxied);
        ASSERT_EQ(boxes.boxes.size(), network.box ? 1u : 0u);
        if (network.box) {
            EXPECT_EQ(boxes.boxes[0], (RecordedBox{nullptr, network.box, "ATENCION", MB_OK | MB_ICONHAND}));
        }
    }
}

TEST(Networks, MailReachesTheServerAtEachOfItsAddressesOrSaysWhyNotInSpanish)
{
    const auto port = CScriptedWeb::Port("SMTP");
    ASSERT_NE(port, 0);
    // Null: delivered; else the start of the send dialog's box for a failure before any reply.
    const std::tuple<const char*, unsigned short, const char*> servers[] = {
        {"fd00:7a6e::5", port, nullptr},
        {"[fd00:7a6e::5]", port, nullptr},
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

TEST(Networks, TheUsersProxyIsAskedAgainOnceTheSettingsChange)
{
    ASSERT_NE(CScriptedWeb::Port(), 0) << "run under tests/retrieval/networks.py";
    ScopedWorkDir dir;
    ScopedSettingsKey key;
    ScriptedBoxes boxes;
    key.Set(L"RemoteHost", L"127.0.0.7");
    key.Set(L"TimeOut", L"1500");
    CScriptedWeb::Reset();
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
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "(407) - El servidor proxy solicita autenticación");
    SetUserProxy(nullptr, nullptr, nullptr);
}
