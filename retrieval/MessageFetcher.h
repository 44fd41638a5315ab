// The fetch cycle: brings the local copies of the configuration file and the four category
// files up to date from the message server, and tells which categories changed.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/Settings.h"
#include "net/StopSignal.h"
#include "retrieval/MessageStore.h"
#include "retrieval/ProxyConfig.h"
#include "retrieval/ServerSession.h"

// Results of FetchFile.
enum FetchResult : int {
    FETCH_OBTAINED = 0,
    FETCH_NOT_PUBLISHED = 1,
    FETCH_FAILED = 2,
};

// One cycle, owned by the thread that runs it: it shares only the store, the stop signal and
// the user's proxy route, so a worker may outlive the fetcher that made it.
class CFetchCycle {
public:
    CFetchCycle(std::shared_ptr<CMessageStore> store, std::shared_ptr<net::CStopSignal> stop,
                std::shared_ptr<CUserProxyMemory> userProxy, unsigned short port, unsigned long timeOut,
                std::chrono::milliseconds deadline, std::string configFile);

    // Runs the cycle; answers the change mask and leaves the outcome in Outcome(). Raises
    // CCodeException and CSystemException as the callers expect. The bits of a cycle that ends
    // without a connection (or by an exception) are kept in the store and answered by the
    // next cycle that succeeds.
    unsigned char FetchAll();
    int Outcome() const noexcept { return m_nOutcome; }

    // Opens the cycle's connection; false (already reported) when it cannot be had.
    bool Connect();
    // Downloads "/zandu/" + `serverName` over the cycle's connection and installs it as
    // `localName`; `changed` becomes 1 when the local file was created or replaced. Redirections
    // are followed (kMaxRedirects, never from https to http); only a final 4xx answers
    // FETCH_NOT_PUBLISHED. Failures of the download and error codes are shown in the "ATENCION"
    // box and answer FETCH_FAILED, an HTML page (a portal's) silently; file exceptions of the
    // installation leave it.
    int FetchFile(const std::string& serverName, const std::string& localName, int& changed);
    void Disconnect() noexcept;

    // One echo to the address of `target` (where a redirection leads; else RemoteHost) that
    // the download will try first (the first one, or the one that answered last in this
    // cycle), waiting CMessageFetcher::ReadProbeWait milliseconds; without a reply, a
    // connection to the download's port within as long decides. Through a proxy, a connection
    // to the proxy alone. Code -1003 when a setting cannot be read.
    bool IsServerReachable(const ServerAddress* target = nullptr);

private:
    bool IsStopped() const noexcept { return m_pStop->IsStopped(); }
    // The cycle's connection to `server`, where redirections lead: one per server, kept
    // (with whatever it keeps open) until the cycle ends.
    CHttpConnection& ConnectionTo(const ServerAddress& server);
    // The proxy for `server`, asked once per cycle; none: straight to the server.
    const std::optional<ProxyEndpoint>& Proxy(const ServerAddress& server);

    std::shared_ptr<CMessageStore> m_pStore;
    std::shared_ptr<net::CStopSignal> m_pStop;
    std::shared_ptr<CUserProxyMemory> m_pUserProxy;
    unsigned short m_nPort;
    unsigned long m_dwTimeOut;
    std::chrono::milliseconds m_deadline;
    std::string m_strConfigFile;
    int m_nOutcome = OUTCOME_NO_CONNECTION;
    std::unique_ptr<CServerSession> m_pSession;
    std::unique_ptr<CHttpConnection> m_pConnection;
    std::vector<std::pair<ServerAddress, std::unique_ptr<CHttpConnection>>> m_redirected;
    bool m_bProxyKnown = false;
    std::optional<ProxyEndpoint> m_proxy;
    // The server's (or the proxy's) address that answered last in this cycle.
    std::shared_ptr<net::CAddressMemory> m_pAnswered = std::make_shared<net::CAddressMemory>();
};

// The fetcher of the user-interface thread: it owns the local files for the program's run
// and makes the cycles, which run here (FetchAll) or on a worker (NewCycle).
class CMessageFetcher {
public:
    // Removes stale copies of "comercia.txt", "mensaje.txt" and the configuration file.
    CMessageFetcher();
    // As above, with the server on another port and another time-out (tests), and another
    // kit identifier source.
    CMessageFetcher(unsigned short port, unsigned long timeOut, CMessageFiles::KitIdSource kitIdSource);
    // Closes the files and removes every local file of the program.
    virtual ~CMessageFetcher();
    CMessageFetcher(const CMessageFetcher&) = delete;
    CMessageFetcher& operator=(const CMessageFetcher&) = delete;

    // Runs one cycle on this thread; answers the change mask and leaves the outcome in
    // m_nOutcome. A call while a cycle runs answers 0 at once and changes nothing.
    unsigned char FetchAll();
    // A cycle for a worker thread.
    std::unique_ptr<CFetchCycle> NewCycle() const;

    // From any thread: ends the running cycle's network waits at once (its download fails,
    // nothing is reported) and every later one until ClearStop.
    void Stop() noexcept { m_pStop->Stop(); }
    void ClearStop() noexcept { m_pStop->Clear(); }
    bool IsStopped() const noexcept { return m_pStop->IsStopped(); }

    // Total time a download may take from its request to its last byte (tests shorten it).
    void SetDeadline(std::chrono::milliseconds deadline) noexcept { m_deadline = deadline; }

    bool IsServerReachable() { return NewCycle()->IsServerReachable(); }

    // TimeOut read as the probe's wait in milliseconds, at most kMaxProbeWait (the system's
    // echo service, used without the right to raw sockets, is a wait a stop does not end);
    // code -1003 when it cannot be read.
    static long ReadProbeWait();
    static constexpr long kMaxProbeWait = 5000;

    // The files and their readers, shared with the cycles.
    const CMessageStore& Files() const noexcept { return *m_pStore; }
    // Nothing is written any more, whatever cycle still runs.
    void CloseFiles() { m_pStore->Close(); }

    int m_nOutcome = OUTCOME_NO_CONNECTION;
    std::string m_strConfigFile = kConfigFileName;

private:
    std::shared_ptr<CMessageStore> m_pStore;
    std::shared_ptr<net::CStopSignal> m_pStop = std::make_shared<net::CStopSignal>();
    std::shared_ptr<CUserProxyMemory> m_pUserProxy = std::make_shared<CUserProxyMemory>();
    unsigned short m_nPort = kServerPort;
    unsigned long m_dwTimeOut = kServerTimeOut;
    std::chrono::milliseconds m_deadline = kDownloadDeadline;
    bool m_bCycleRunning = false;
};
