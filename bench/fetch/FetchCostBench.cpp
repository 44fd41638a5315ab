// What an unchanged fetch cycle costs the message server and the workstation: the program's
// own fetch cycle beside a minimal client on the system's HTTP library, the same requests
// against the same counting server, over HTTP and HTTPS; the system's client twice, keeping
// its connection from one cycle to the next and closing it at the end of each cycle as the
// program does. Prints, per cycle, the connections, full and resumed handshakes, bytes on
// the wire and the client's CPU, and the CPU ratios.
// Run through scripts/bench-fetch, which starts the server and trusts its CA in the prefix.
#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "retrieval/MessageFetcher.h"
#include "win/MessageBox.h"

namespace {

// The demo's installation: its workstation files are 202AB123.txt and 202AB123.adm.
constexpr char kKitId[] = "QX2026AB12345678";
const std::vector<std::wstring> kCategoryPaths = {L"/zandu/mensaje.txt", L"/zandu/comercia.txt",
                                                  L"/zandu/202AB123.txt", L"/zandu/202AB123.adm"};
constexpr wchar_t kConfigPath[] = L"/zandu/notelia_param.ini";

struct Cost {
    double connections = 0, bytes = 0, full = 0, resumed = 0, requests = 0, cpuMs = 0;
    int failedCycles = 0;
};

unsigned short EnvPort(const char* name)
{
    const char* value = std::getenv(name);
    return value ? static_cast<unsigned short>(std::atoi(value)) : 0;
}

// Every thread of the process, user and kernel, in milliseconds.
double ProcessCpuMs()
{
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto ticks = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

void SetSetting(const char* name, const std::string& value)
{
    WriteRegistryString(kSettingsKey, name, value.c_str(), static_cast<std::uint32_t>(value.size() + 1));
}

// The anchor: WinHTTP as a small program would use it, one session for the run. It keeps its
// connection from one cycle to the next, unless told to close it with the cycle's last request
// as the program does.
class CPlatformClient {
public:
    explicit CPlatformClient(bool closeEachCycle = false)
        : m_session(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0)),
          m_bCloseEachCycle(closeEachCycle)
    {
    }
    ~CPlatformClient() { WinHttpCloseHandle(m_session); }

    // One cycle against 127.0.0.1:port: the configuration file until it came once, then the
    // four category files, each kept in memory and compared with the copy before.
    bool Cycle(unsigned short port, bool secure)
    {
        const HINTERNET connection = WinHttpConnect(m_session, L"127.0.0.1", port, 0);
        bool ok = connection != nullptr;
        std::vector<std::wstring> paths = kCategoryPaths;
        if (!m_bConfigObtained) paths.insert(paths.begin(), kConfigPath);
        for (const std::wstring& path : paths) {
            std::string body;
            const bool last = &path == &paths.back();
            if (!ok || !Get(connection, path.c_str(), secure, last && m_bCloseEachCycle, body)) {
                ok = false;
                break;
            }
            std::string& copy = m_copies[path];
            if (copy != body) copy = body;
        }
        if (ok) m_bConfigObtained = true;
        if (connection) WinHttpCloseHandle(connection);
        return ok;
    }

    // A plain GET of `path` on the stats port.
    std::string Stats(unsigned short port, const wchar_t* path)
    {
        const HINTERNET connection = WinHttpConnect(m_session, L"127.0.0.1", port, 0);
        std::string body;
        if (connection) Get(connection, path, false, false, body);
        if (connection) WinHttpCloseHandle(connection);
        return body;
    }

private:
    bool Get(HINTERNET connection, const wchar_t* path, bool secure, bool close, std::string& body)
    {
        const HINTERNET request = WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                     WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0);
        if (!request) return false;
        if (secure) {
            // The chain is checked; the name is not, since this WinHTTP ignores IP address
            // entries of a certificate.
            DWORD flags = SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
            WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
        }
        const wchar_t* headers = close ? L"Connection: close\r\n" : WINHTTP_NO_ADDITIONAL_HEADERS;
        DWORD status = 0;
        DWORD size = sizeof status;
        bool ok = WinHttpSendRequest(request, headers, close ? DWORD(-1) : 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
                  WinHttpReceiveResponse(request, nullptr) &&
                  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) &&
                  status == 200;
        body.clear();
        for (DWORD got = 0; ok;) {
            char chunk[4096];
            if (!WinHttpReadData(request, chunk, sizeof chunk, &got)) ok = false;
            else if (got == 0) break;
            else body.append(chunk, got);
        }
        WinHttpCloseHandle(request);
        return ok;
    }

    HINTERNET m_session;
    bool m_bCloseEachCycle;
    std::map<std::wstring, std::string> m_copies;
    bool m_bConfigObtained = false;
};

// A client under measure: its cycle and what it cost so far.
struct Measured {
    const char* name;
    std::function<bool()> cycle;
    Cost cost;
};

// Cycles at a time for each client in turn, so that a change in the machine's load falls on
// every client alike.
constexpr int kTurn = 10;

// Runs each client's cycle once to bring the copies, then `count` unchanged cycles of each,
// in turns, adding up the client's CPU and what the server counted for it (`line` 0 is
// HTTP, 1 HTTPS). The totals become per cycle.
void Measure(std::vector<Measured>& clients, int count, CPlatformClient& stats, unsigned short statsPort, int line)
{
    for (Measured& client : clients)
        if (!client.cycle()) ++client.cost.failedCycles;
    for (int done = 0; done < count; done += kTurn) {
        for (Measured& client : clients) {
            Cost& cost = client.cost;
            stats.Stats(statsPort, L"/reset");
            const double startCpu = ProcessCpuMs();
            for (int i = done; i < std::min(count, done + kTurn); ++i)
                if (!client.cycle()) ++cost.failedCycles;
            cost.cpuMs += ProcessCpuMs() - startCpu;
            std::istringstream counted(stats.Stats(statsPort, L"/stats"));
            std::string text;
            for (int i = 0; i <= line; ++i) std::getline(counted, text);
            Cost turn;
            std::istringstream(text) >> turn.connections >> turn.bytes >> turn.full >> turn.resumed >> turn.requests;
            cost.connections += turn.connections, cost.bytes += turn.bytes, cost.full += turn.full;
            cost.resumed += turn.resumed, cost.requests += turn.requests;
        }
    }
    for (Measured& client : clients)
        for (double* value : {&client.cost.connections, &client.cost.bytes, &client.cost.full, &client.cost.resumed,
                              &client.cost.requests, &client.cost.cpuMs})
            *value /= count;
}

void Print(const char* who, const char* scheme, const Cost& cost)
{
    std::printf("%-17s %-5s %5.2f conn  %5.2f full  %5.2f resumed  %5.2f requests  %6.0f bytes  %6.3f ms CPU%s\n", who,
                scheme, cost.connections, cost.full, cost.resumed, cost.requests, cost.bytes, cost.cpuMs,
                cost.failedCycles ? "  (some cycles failed)" : "");
}

} // namespace

int main(int argc, char** argv)
{
    const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const unsigned short httpPort = EnvPort("NOTELIA_BENCH_HTTP_PORT");
    const unsigned short httpsPort = EnvPort("NOTELIA_BENCH_HTTPS_PORT");
    const unsigned short statsPort = EnvPort("NOTELIA_BENCH_STATS_PORT");
    if (!httpPort || !httpsPort || !statsPort) {
        std::fprintf(stderr, "run through scripts/bench-fetch\n");
        return 2;
    }
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Quorvex\\Zandu\\Usuario", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    SetSetting("TimeOut", "1000");
    const auto folder = std::filesystem::temp_directory_path() / "notelia-bench-fetch";
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    int boxes = 0;
    SetMessageBoxHandler([&boxes](HWND, const std::string& text, const std::string&, UINT) {
        if (boxes++ == 0) std::fprintf(stderr, "box: %s\n", text.c_str());
        return IDOK;
    });

    std::printf("%d unchanged cycles each, in turns of %d, per cycle:\n", cycles, kTurn);
    CPlatformClient platform;
    for (const bool secure : {false, true}) {
        const char* scheme = secure ? "https" : "http";
        const unsigned short port = secure ? httpsPort : httpPort;
        SetSetting("RemoteHost", secure ? "https://127.0.0.1:" + std::to_string(port) : "127.0.0.1");
        CMessageFetcher fetcher(port, 30000, [](std::string& kit) {
            kit = kKitId;
            return true;
        });
        CPlatformClient kept, closing(true);
        std::vector<Measured> clients = {
            {"notelia", [&fetcher] { return fetcher.FetchAll(), fetcher.m_nOutcome != OUTCOME_NO_CONNECTION; }, {}},
            {"winhttp", [&kept, port, secure] { return kept.Cycle(port, secure); }, {}},
            {"winhttp, closing", [&closing, port, secure] { return closing.Cycle(port, secure); }, {}},
        };
        Measure(clients, cycles, platform, statsPort, secure ? 1 : 0);
        for (const Measured& client : clients) Print(client.name, scheme, client.cost);
        const double ours = clients[0].cost.cpuMs;
        std::printf("%-17s %-5s CPU ratio %.2f to winhttp, %.2f to winhttp closing\n", "", scheme,
                    clients[1].cost.cpuMs > 0 ? ours / clients[1].cost.cpuMs : 0.0,
                    clients[2].cost.cpuMs > 0 ? ours / clients[2].cost.cpuMs : 0.0);
    }
    if (boxes) std::printf("%d error boxes were answered\n", boxes);
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Quorvex\\Zandu\\Usuario");
    WSACleanup();
    return 0;
}
