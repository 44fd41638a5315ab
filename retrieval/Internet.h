// The download's HTTP client: a session, an HTTP connection, a request, and the exception
// that carries a failure with the internet library's error number and text. Requests run
// over our own sockets, so that every wait is bounded by the time-out, by the request's total
// deadline and by a stop event that another thread may set at any moment.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/Errors.h"
#include "win/Handles.h"

// A failure of the internet client: its error number and text.
class CInternetException : public CSystemException {
public:
    explicit CInternetException(unsigned long error);
    unsigned long ErrorNumber() const noexcept override { return m_dwError; }
    // The library's text for the error number, else the system's; at most 99 characters.
    std::string GetErrorMessage() const override { return m_strText; }
    // "(N) - text", as the download reports a failure.
    std::string ErrorNumberText() const;

private:
    unsigned long m_dwError;
    std::string m_strText;
};

// What every request of one connection shares.
struct HttpTarget {
    std::string host;
    unsigned short port = 80;
    std::string agent;
    unsigned long timeOut = 0;                     // each connect, send and receive
    std::chrono::milliseconds deadline{60000};      // request to last byte
    HANDLE stop = nullptr;                          // set: every wait ends at once
};

class CHttpFile {
public:
    CHttpFile(const HttpTarget& target, std::string requestText);
    ~CHttpFile();
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    // Connects, sends the request and reads the answer's head. A failure raises
    // CInternetException.
    bool SendRequest();
    // False when the answer carried no numeric status.
    bool QueryInfoStatusCode(unsigned long& status);
    // The length the server announced, if any.
    std::optional<std::uint64_t> ContentLength();
    // Up to `size` body bytes; 0 at the end. A failure raises CInternetException.
    std::size_t Read(void* buffer, std::size_t size);

private:
    void Connect();
    void SendAll();
    void ReadHead();
    // Receives into `m_received`; false at the end of the stream.
    bool Receive();
    // Waits for the socket's next event; raises on time-out, deadline, stop or a failed connect.
    void Wait();

    HttpTarget m_target;
    std::string m_strRequest;
    UniqueSocket m_socket;
    WSAEVENT m_hEvent = WSA_INVALID_EVENT;
    std::chrono::steady_clock::time_point m_deadline;
    std::string m_received;  // bytes read and not yet handed out
    bool m_bEnd = false;
    std::optional<unsigned long> m_status;
    std::optional<std::uint64_t> m_length;
    std::uint64_t m_nBodyRead = 0;
};

class CHttpConnection {
public:
    explicit CHttpConnection(HttpTarget target) : m_target(std::move(target)) {}

    // A request for `path` (nothing is sent yet).
    std::unique_ptr<CHttpFile> OpenRequest(const char* verb, const std::string& path, unsigned long context,
                                           const char* version, unsigned long flags);

private:
    HttpTarget m_target;
};

class CInternetSession {
public:
    // `stop` (may be null) ends every wait of this session's requests when it is set.
    CInternetSession(const char* agent, unsigned long context, unsigned long accessType, HANDLE stop = nullptr);

    // A connection whose connect, send and receive time-outs are `timeOut` milliseconds and
    // whose requests end `deadline` after they are sent; raises CInternetException for a
    // server without a name.
    std::unique_ptr<CHttpConnection> GetHttpConnection(const std::string& server, unsigned short port,
                                                       unsigned long timeOut, std::chrono::milliseconds deadline);
    void Close() noexcept { m_bOpen = false; }

private:
    std::string m_strAgent;
    HANDLE m_hStop;
    bool m_bOpen = true;
};
