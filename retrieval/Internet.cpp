#include "retrieval/Internet.h"


#include <algorithm>
#include <cctype>
#include <limits>

#include "app/ErrorText.h"
#include "net/Socket.h"

namespace {

constexpr std::size_t kMaxErrorText = 99;
// An answer's head larger than this is no answer of a message server.
constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kReceiveChunk = 4096;

// The internet library keeps its texts in its own message table; the system's describes the
// socket and system errors. Only when neither knows the number, the program's own text.
std::string InternetErrorText(unsigned long error)
{
    static const HMODULE library = LoadLibraryExW(L"wininet.dll", nullptr, 0);
    std::string text = library ? ModuleErrorText(library, error) : std::string();
    if (text.empty()) text = SystemErrorText(error);
    if (text.empty()) text = CErrorText().Text(0);
    if (text.size() > kMaxErrorText) text.resize(kMaxErrorText);
    return text;
}

[[noreturn]] void Fail(unsigned long error)
{
    throw CInternetException(error);
}

bool StartsWithNoCase(const std::string& text, std::size_t at, const char* prefix)
{
    for (std::size_t i = 0; prefix[i]; ++i) {
        if (at + i >= text.size() ||
            std::tolower(static_cast<unsigned char>(text[at + i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

} // namespace

CInternetException::CInternetException(unsigned long error) : m_dwError(error), m_strText(InternetErrorText(error)) {}

std::string CInternetException::ErrorNumberText() const
{
    return NumberedErrorText(m_dwError, m_strText);
}

CHttpFile::CHttpFile(const HttpTarget& target, std::string requestText)
    : m_target(target), m_strRequest(std::move(requestText))
{
}

CHttpFile::~CHttpFile()
{
    m_socket.reset();
    if (m_hEvent != WSA_INVALID_EVENT) WSACloseEvent(m_hEvent);
}

void CHttpFile::Wait()
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) Fail(ERROR_INTERNET_TIMEOUT);
    const DWORD wait = static_cast<DWORD>(std::min<long long>(left.count(), m_target.timeOut));
    const HANDLE handles[2] = {m_hEvent, m_target.stop};
    const DWORD count = m_target.stop ? 2 : 1;
    const DWORD result = WaitForMultipleObjects(count, handles, FALSE, wait);
    if (result == WAIT_OBJECT_0 + 1) Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    if (result == WAIT_TIMEOUT) Fail(ERROR_INTERNET_TIMEOUT);
    if (result != WAIT_OBJECT_0) Fail(GetLastError());
    WSANETWORKEVENTS events{};
    if (WSAEnumNetworkEvents(m_socket.get(), m_hEvent, &events) != 0) Fail(ERROR_INTERNET_CONNECTION_ABORTED);
    if ((events.lNetworkEvents & FD_CONNECT) && events.iErrorCode[FD_CONNECT_BIT] != 0)
        Fail(ERROR_INTERNET_CANNOT_CONNECT);
}

void CHttpFile::Connect()
{
    net::Address address;
    if (!net::Resolve(m_target.host.c_str(), m_target.port, address)) Fail(ERROR_INTERNET_NAME_NOT_RESOLVED);

    m_socket.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!m_socket) Fail(ERROR_INTERNET_CANNOT_CONNECT);
    m_hEvent = WSACreateEvent();
    if (m_hEvent == WSA_INVALID_EVENT) Fail(ERROR_NOT_ENOUGH_MEMORY);
    // Non-blocking from here on: every wait goes through Wait.
    if (WSAEventSelect(m_socket.get(), m_hEvent, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0)
        Fail(ERROR_INTERNET_CANNOT_CONNECT);
    if (connect(m_socket.get(), reinterpret_cast<const sockaddr*>(address.bytes), sizeof address.bytes) == 0) return;
    if (WSAGetLastError() != WSAEWOULDBLOCK) Fail(ERROR_INTERNET_CANNOT_CONNECT);
    for (;;) {
        Wait();
        // Connected once the peer's address can be read.
        sockaddr_in peer{};
        int size = sizeof peer;
        if (getpeername(m_socket.get(), reinterpret_cast<sockaddr*>(&peer), &size) == 0) return;
    }
}

void CHttpFile::SendAll()
{
    for (std::size_t sent = 0; sent < m_strRequest.size();) {
        const int n = send(m_socket.get(), m_strRequest.data() + sent, static_cast<int>(m_strRequest.size() - sent), 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
            Wait();
        } else {
            Fail(ERROR_INTERNET_CONNECTION_ABORTED);
        }
    }
}

bool CHttpFile::Receive()
{
    char chunk[kReceiveChunk];
    for (;;) {
        const int n = recv(m_socket.get(), chunk, sizeof chunk, 0);
        if (n > 0) {
            m_received.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
        if (n == 0) return false;
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK)
            Wait();
        else
            Fail(ERROR_INTERNET_CONNECTION_ABORTED);
    }
}

void CHttpFile::ReadHead()
{
    std::size_t end = std::string::npos;
    while ((end = m_received.find("\r\n\r\n")) == std::string::npos) {
        if (m_received.size() > kMaxHead) Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
        if (!Receive()) Fail(m_received.empty() ? ERROR_INTERNET_CONNECTION_ABORTED : ERROR_HTTP_INVALID_SERVER_RESPONSE);
    }
    const std::string head = m_received.substr(0, end + 2);
    m_received.erase(0, end + 4);

    // "HTTP/1.x NNN reason"
    if (StartsWithNoCase(head, 0, "HTTP/")) {
        const auto space = head.find(' ');
        if (space != std::string::npos && space + 3 < head.size() && std::isdigit(static_cast<unsigned char>(head[space + 1])) &&
            std::isdigit(static_cast<unsigned char>(head[space + 2])) && std::isdigit(static_cast<unsigned char>(head[space + 3])))
            m_status = static_cast<unsigned long>(std::stoul(head.substr(space + 1, 3)));
    }
    for (std::size_t line = head.find("\r\n"); line != std::string::npos; line = head.find("\r\n", line + 2)) {
        if (!StartsWithNoCase(head, line + 2, "Content-Length:")) continue;
        std::uint64_t length = 0;
        bool digits = false;
        for (std::size_t i = line + 2 + 15; i < head.size() && head[i] != '\r'; ++i) {
            const char c = head[i];
            if (c == ' ' || c == '\t') continue;
            if (c < '0' || c > '9' || length > std::numeric_limits<std::uint64_t>::max() / 10) {
                digits = false;
                break;
            }
            length = length * 10 + static_cast<std::uint64_t>(c - '0');
            digits = true;
        }
        if (digits) m_length = length;
        break;
    }
}

bool CHttpFile::SendRequest()
{
    m_deadline = std::chrono::steady_clock::now() + m_target.deadline;
    Connect();
    SendAll();
    ReadHead();
    return true;
}

bool CHttpFile::QueryInfoStatusCode(unsigned long& status)
{
    if (!m_status) return false;
    status = *m_status;
    return true;
}

std::optional<std::uint64_t> CHttpFile::ContentLength()
{
    return m_length;
}

std::size_t CHttpFile::Read(void* buffer, std::size_t size)
{
    if (size == 0) return 0;
    // The announced length is the whole body, whatever else the server sends.
    if (m_length && m_nBodyRead >= *m_length) return 0;
    if (m_received.empty() && !m_bEnd && !Receive()) m_bEnd = true;
    std::size_t n = std::min(size, m_received.size());
    if (m_length) n = static_cast<std::size_t>(std::min<std::uint64_t>(n, *m_length - m_nBodyRead));
    std::copy_n(m_received.data(), n, static_cast<char*>(buffer));
    m_received.erase(0, n);
    m_nBodyRead += n;
    return n;
}

std::unique_ptr<CHttpFile> CHttpConnection::OpenRequest(const char* verb, const std::string& path, unsigned long,
                                                        const char* version, unsigned long)
{
    // Never taken from a cache on the way: the server's own copy is what counts.
    std::string host = m_target.host;
    if (m_target.port != 80) host += ":" + std::to_string(m_target.port);
    std::string text = std::string(verb) + " " + path + " " + version + "\r\nHost: " + host +
                       "\r\nUser-Agent: " + m_target.agent + "\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n\r\n";
    return std::make_unique<CHttpFile>(m_target, std::move(text));
}

CInternetSession::CInternetSession(const char* agent, unsigned long, unsigned long, HANDLE stop)
    : m_strAgent(agent), m_hStop(stop)
{
}

std::unique_ptr<CHttpConnection> CInternetSession::GetHttpConnection(const std::string& server, unsigned short port,
                                                                     unsigned long timeOut,
                                                                     std::chrono::milliseconds deadline)
{
    if (!m_bOpen) Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (server.empty()) Fail(ERROR_INTERNET_INVALID_URL);
    return std::make_unique<CHttpConnection>(HttpTarget{server, port, m_strAgent, timeOut, deadline, m_hStop});
}
