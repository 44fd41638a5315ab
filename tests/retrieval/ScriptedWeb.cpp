#include "tests/retrieval/ScriptedWeb.h"

#include <winsock2.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace {

const char* const kModes[] = {"plain", "pieces", "cut", "nolength", "silent", "stall", "drip",
                              "nolength_cut", "nolength_reset", "nolength_notify", "nolength_halfrecord"};

unsigned short PortFrom(const char* variable)
{
    const char* value = std::getenv(variable);
    return value ? static_cast<unsigned short>(std::atoi(value)) : 0;
}

// One control exchange; answers the reply's body.
std::string Exchange(const std::string& method, const std::string& target, const std::string& body = "")
{
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{AF_INET, htons(CScriptedWeb::Port()), {}, {}};
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
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

} // namespace

unsigned short CScriptedWeb::Port() { return PortFrom("NOTELIA_HTTP_PORT"); }
unsigned short CScriptedWeb::DownPort() { return PortFrom("NOTELIA_DOWN_PORT"); }
unsigned short CScriptedWeb::Port(const char* name)
{
    return PortFrom(("NOTELIA_" + std::string(name) + "_PORT").c_str());
}

void CScriptedWeb::Publish(const std::string& path, int status, const std::string& body, Delivery delivery,
                           int piece, const std::string& headers)
{
    Exchange("POST", "/_ctl/set?path=" + path + "&status=" + std::to_string(status) + "&mode=" +
                         kModes[static_cast<int>(delivery)] + "&piece=" + std::to_string(piece) +
                         "&headers=" + std::to_string(headers.size()),
             headers + body);
}

void CScriptedWeb::KeepConnections(int answers, bool drop)
{
    Exchange("POST", "/_ctl/keep?answers=" + std::to_string(answers) + (drop ? "&drop=1" : ""));
}

CScriptedWeb::Counts CScriptedWeb::Count()
{
    Counts counts{};
    std::sscanf(Exchange("GET", "/_ctl/count").c_str(), "%d %d %d", &counts.connections, &counts.full, &counts.resumed);
    return counts;
}

void CScriptedWeb::Reset()
{
    Exchange("POST", "/_ctl/reset");
}

std::vector<std::string> CScriptedWeb::RequestLines(bool agents)
{
    std::istringstream text(Exchange("GET", "/_ctl/log"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(agents ? line : line.substr(0, line.find('\t')));
    return lines;
}

} // namespace testing_support
