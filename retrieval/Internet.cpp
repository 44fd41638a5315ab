#include "retrieval/Internet.h"

#include <algorithm>
#include <limits>

#include "app/ErrorText.h"
#include "win/TextCodec.h"

namespace {

constexpr std::size_t kMaxErrorText = 99;

// The library keeps its texts in its own message table; the system's serves the rest.
std::string InternetErrorText(unsigned long error)
{
    wchar_t* buffer = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    DWORD n = FormatMessageW(flags | FORMAT_MESSAGE_FROM_HMODULE, GetModuleHandleW(L"wininet.dll"), error, 0,
                             reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n != 0 && buffer ? std::wstring(buffer, n) : std::wstring();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
    // Some implementations have no text for some numbers: then the program's own text for
    // an undocumented error.
    std::string narrow = text.empty() ? CErrorText().Text(0) : NarrowCp1252(text);
    if (narrow.size() > kMaxErrorText) narrow.resize(kMaxErrorText);
    return narrow;
}

} // namespace

CInternetException::CInternetException(unsigned long error) : m_dwError(error), m_strText(InternetErrorText(error)) {}

std::string CInternetException::ErrorNumberText() const
{
    return "(" + std::to_string(m_dwError) + ") - " + m_strText;
}

void ThrowLastInternetError()
{
    throw CInternetException(GetLastError());
}

void SetInternetTimeOuts(HINTERNET handle, unsigned long timeOut)
{
    DWORD value = timeOut;
    for (const DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        if (!InternetSetOptionW(handle, option, &value, sizeof value)) ThrowLastInternetError();
    }
}

bool CHttpFile::SendRequest()
{
    if (!HttpSendRequestW(m_hRequest.get(), nullptr, 0, nullptr, 0)) ThrowLastInternetError();
    return true;
}

bool CHttpFile::QueryInfoStatusCode(unsigned long& status)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!HttpQueryInfoW(m_hRequest.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr))
        return false;
    status = value;
    return true;
}

std::optional<std::uint64_t> CHttpFile::ContentLength()
{
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!HttpQueryInfoW(m_hRequest.get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return std::nullopt;
    std::uint64_t length = 0;
    bool digits = false;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p == L' ') continue;
        if (*p < L'0' || *p > L'9' || length > std::numeric_limits<std::uint64_t>::max() / 10) return std::nullopt;
        length = length * 10 + static_cast<std::uint64_t>(*p - L'0');
        digits = true;
    }
    if (!digits) return std::nullopt;
    return length;
}

std::size_t CHttpFile::Read(void* buffer, std::size_t size)
{
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
    if (!InternetReadFile(m_hRequest.get(), buffer, want, &got)) ThrowLastInternetError();
    return got;
}

std::unique_ptr<CHttpFile> CHttpConnection::OpenRequest(const char* verb, const std::string& path,
                                                        unsigned long context, const char* version,
                                                        unsigned long flags)
{
    UniqueHInternet request(HttpOpenRequestW(m_hConnection.get(), WidenCp1252(verb).c_str(),
                                             WidenCp1252(path).c_str(), WidenCp1252(version).c_str(), nullptr,
                                             nullptr, flags, context));
    if (!request) ThrowLastInternetError();
    // Some implementations take the time-outs only from the request itself.
    SetInternetTimeOuts(request.get(), m_dwTimeOut);
    return std::make_unique<CHttpFile>(std::move(request));
}

CInternetSession::CInternetSession(const char* agent, unsigned long context, unsigned long accessType)
    : m_hSession(InternetOpenW(WidenCp1252(agent).c_str(), accessType, nullptr, nullptr, 0)), m_dwContext(context)
{
    if (!m_hSession) ThrowLastInternetError();
}

std::unique_ptr<CHttpConnection> CInternetSession::GetHttpConnection(const std::string& server, unsigned short port,
                                                                     unsigned long timeOut)
{
    UniqueHInternet connection(InternetConnectW(m_hSession.get(), WidenCp1252(server).c_str(), port, nullptr,
                                                nullptr, INTERNET_SERVICE_HTTP, 0, m_dwContext));
    if (!connection) ThrowLastInternetError();
    SetInternetTimeOuts(connection.get(), timeOut);
    return std::make_unique<CHttpConnection>(std::move(connection), timeOut);
}
