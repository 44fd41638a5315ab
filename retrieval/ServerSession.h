// The message server: its host name and the internet session of one fetch cycle.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "retrieval/Internet.h"
#include "retrieval/ServerAddress.h"

// The server's HTTP port for a plain host name, and the time-out of every connect, send and receive.
inline constexpr unsigned short kServerPort = 80;
inline constexpr unsigned long kServerTimeOut = 30000;
// From a request to its last byte, so that a server that drips ends as one that stalls.
inline constexpr std::chrono::milliseconds kDownloadDeadline{60000};
// The largest message or configuration file installed; a larger one fails its download.
inline constexpr std::uint64_t kMaxDownload = 1 << 20;

class CServerSession {
public:
    // Reads RemoteHost (code -1003 when it cannot be read) and opens an internet
    // session. Tests pass another port for a plain host name, another time-out and deadline;
    // `stop` (may be null) ends the session's requests when it is stopped.
    explicit CServerSession(unsigned short port = kServerPort, unsigned long timeOut = kServerTimeOut,
                            net::CStopSignal* stop = nullptr, std::chrono::milliseconds deadline = kDownloadDeadline);
    virtual ~CServerSession();

    // An HTTP connection to the server, owned by the caller. When it is refused (RemoteHost
    // names no server: the invalid URL error), its number and text are shown in the
    // "ATENCION" box and the answer is null.
    std::unique_ptr<CHttpConnection> OpenConnection();
    // A connection to `address` (where a redirection leads) with the session's time-outs;
    // raises CInternetException.
    std::unique_ptr<CHttpConnection> ConnectionTo(const ServerAddress& address);
    void CloseSession() noexcept;

    // The server RemoteHost names; absent when it names none.
    const std::optional<ServerAddress>& Address() const noexcept { return m_address; }

    std::string m_strHost;
    std::unique_ptr<CInternetSession> m_pSession;

private:
    std::optional<ServerAddress> m_address;
    unsigned long m_dwTimeOut;
    std::chrono::milliseconds m_deadline;
};

// A new session; code -1002 when it cannot be allocated.
std::unique_ptr<CServerSession> MakeServerSession(unsigned short port, unsigned long timeOut,
                                                  net::CStopSignal* stop = nullptr,
                                                  std::chrono::milliseconds deadline = kDownloadDeadline);
