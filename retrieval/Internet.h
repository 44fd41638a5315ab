// The system's internet library (WinInet) as the download uses it: a session, an HTTP
// connection, a request, and the exception that carries the library's failures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/Errors.h"
#include "win/Handles.h"

// A failure of the internet library: its error number and text.
class CInternetException : public CSystemException {
public:
    explicit CInternetException(unsigned long error);
    unsigned long ErrorNumber() const noexcept override { return m_dwError; }
    // The library's text for the error number, at most 99 characters.
    std::string GetErrorMessage() const override { return m_strText; }
    // "(N) - text", as the download reports a failure.
    std::string ErrorNumberText() const;

private:
    unsigned long m_dwError;
    std::string m_strText;
};

// Raises CInternetException with the thread's last error.
[[noreturn]] void ThrowLastInternetError();

class CHttpFile {
public:
    explicit CHttpFile(UniqueHInternet request) : m_hRequest(std::move(request)) {}

    // Sends the request with no additional headers and no body. A failure of the library
    // raises CInternetException.
    bool SendRequest();
    // False when the numeric status cannot be had.
    bool QueryInfoStatusCode(unsigned long& status);
    // The length the server announced, if any.
    std::optional<std::uint64_t> ContentLength();
    // Up to `size` body bytes; 0 at the end. A failure raises CInternetException.
    std::size_t Read(void* buffer, std::size_t size);

private:
    UniqueHInternet m_hRequest;
};

class CHttpConnection {
public:
    CHttpConnection(UniqueHInternet connection, unsigned long timeOut)
        : m_hConnection(std::move(connection)), m_dwTimeOut(timeOut) {}

    // A request for `path`; raises CInternetException.
    std::unique_ptr<CHttpFile> OpenRequest(const char* verb, const std::string& path, unsigned long context,
                                           const char* version, unsigned long flags);

private:
    UniqueHInternet m_hConnection;
    unsigned long m_dwTimeOut;
};

class CInternetSession {
public:
    // Opens a synchronous session; raises CInternetException.
    CInternetSession(const char* agent, unsigned long context, unsigned long accessType);

    // An HTTP connection whose connect, send and receive time-outs are `timeOut`
    // milliseconds; raises CInternetException.
    std::unique_ptr<CHttpConnection> GetHttpConnection(const std::string& server, unsigned short port,
                                                       unsigned long timeOut);
    void Close() noexcept { m_hSession.reset(); }

private:
    UniqueHInternet m_hSession;
    unsigned long m_dwContext;
};

// Sets the connect, send and receive time-outs of a session, connection or request handle.
void SetInternetTimeOuts(HINTERNET handle, unsigned long timeOut);
