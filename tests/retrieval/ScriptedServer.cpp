#include "tests/retrieval/ScriptedServer.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace testing_support {

namespace {

unsigned short PortFrom(const char* variable)
{
    const char* value = std::getenv(variable);
    return value ? static_cast<unsigned short>(std::atoi(value)) : 0;
}

std::string Escape(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// One control exchange; answers the reply's body.
std::string Exchange(const std::string& method, const std::string& target, const std::string& body)
{
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) throw std::runtime_error("control socket");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(CScriptedServer::Port());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        closesocket(s);
        throw std::runtime_error("control server not reached");
    }
    const std::string request = method + " " + target + " HTTP/1.0\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    for (std::size_t sent = 0; sent < request.size();) {
        const int n = send(s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    char buffer[4096];
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, static_cast<std::size_t>(n));
    closesocket(s);
    const auto end = reply.find("\r\n\r\n");
    if (reply.compare(0, 12, "HTTP/1.0 200") != 0 || end == std::string::npos)
        throw std::runtime_error("control request refused");
    return reply.substr(end + 4);
}

class CWinsock {
public:
    CWinsock()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 0), &data);
    }
    ~CWinsock() { WSACleanup(); }
};

void EnsureWinsock()
{
    static CWinsock winsock;
}

} // namespace

unsigned short CScriptedServer::Port()
{
    return PortFrom("NOTELIA_HTTP_PORT");
}

unsigned short CScriptedServer::StallPort()
{
    return PortFrom("NOTELIA_STALL_PORT");
}

unsigned short CScriptedServer::DownPort()
{
    return PortFrom("NOTELIA_DOWN_PORT");
}

void CScriptedServer::Publish(const std::string& path, int status, const std::string& body, Delivery delivery,
                              int piece, const std::string& location)
{
    EnsureWinsock();
    static const char* const modes[] = {"plain", "pieces", "cut", "nolength"};
    std::string target = "/_ctl/set?path=" + Escape(path) + "&status=" + std::to_string(status) +
                         "&mode=" + modes[static_cast<int>(delivery)] + "&piece=" + std::to_string(piece);
    if (!location.empty()) target += "&location=" + Escape(location);
    Exchange("POST", target, body);
}

void CScriptedServer::Reset()
{
    EnsureWinsock();
    Exchange("POST", "/_ctl/reset", "");
}

std::vector<LoggedRequest> CScriptedServer::Log()
{
    EnsureWinsock();
    const std::string text = Exchange("GET", "/_ctl/log", "");
    std::vector<LoggedRequest> log;
    for (std::size_t start = 0; start < text.size();) {
        const auto end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        const auto tab = line.find('\t');
        log.push_back({line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1)});
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return log;
}

std::vector<std::string> CScriptedServer::RequestLines()
{
    std::vector<std::string> lines;
    for (const auto& request : Log()) lines.push_back(request.line);
    return lines;
}

} // namespace testing_support
