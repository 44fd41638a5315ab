// The fetch cycle: brings the local copies of the configuration file and the four category
// files up to date from the message server, and tells which categories changed.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "app/Settings.h"
#include "retrieval/MessageFiles.h"
#include "retrieval/ServerSession.h"

// Results of FetchFile.
enum FetchResult : int {
    FETCH_OBTAINED = 0,
    FETCH_NOT_PUBLISHED = 1,
    FETCH_FAILED = 2,
};

class CMessageFetcher : public CMessageFiles {
public:
    // Removes stale copies of "comercia.txt", "mensaje.txt" and the configuration file.
    CMessageFetcher();
    // As above, with the server on another port and another time-out (tests), and another
    // kit identifier source.
    CMessageFetcher(unsigned short port, unsigned long timeOut, KitIdSource kitIdSource);
    // Removes every local file of the program.
    ~CMessageFetcher() override;

    // Runs one cycle; answers the change mask and leaves the outcome in m_nOutcome. Raises
    // CCodeException and CSystemException as the callers expect. A call while a cycle runs
    // answers 0 at once and changes nothing. The bits of a cycle that ends without a
    // connection (or by an exception) are kept and answered by the next cycle that succeeds.
    unsigned char FetchAll();

    // From any thread: ends the running cycle's waits at once (its download fails, nothing is
    // reported) and every later one until ClearStop.
    void Stop() noexcept;
    void ClearStop() noexcept;
    bool IsStopped() const noexcept;

    // Total time a download may take from its request to its last byte (tests shorten it).
    void SetDeadline(std::chrono::milliseconds deadline) noexcept { m_deadline = deadline; }

    // The largest message or configuration file installed; a larger one fails its download.
    static constexpr std::uint64_t kMaxDownload = 1 << 20;

    // Downloads "/zandu/" + `serverName` over m_pConnection and installs it as `localName`;
    // `changed` becomes 1 when the local file was created or replaced. Failures of the
    // library and error codes are shown in the "ATENCION" box and answer FETCH_FAILED; file
    // exceptions of the installation leave it.
    int FetchFile(const std::string& serverName, const std::string& localName, int& changed);

    // One echo to RemoteHost, waiting TimeOut milliseconds (at most kMaxProbeWait, so that a
    // stop is never held longer). Code -1003 when a setting cannot be read.
    bool IsServerReachable();

    // TimeOut read as the probe's wait in milliseconds; code -1003 when it cannot be read.
    static long ReadProbeWait();
    static constexpr long kMaxProbeWait = 5000;

    // The "MailList" section as recipient list text (at most 100 entries); false, leaving
    // `text` alone, until this run has obtained the configuration file.
    bool ReadRecipientList(std::string& text);

    int m_nOutcome = OUTCOME_NO_CONNECTION;
    std::string m_strConfigFile = kConfigFileName;
    int m_bConfigObtained = 0;
    // The connection of the running cycle; null between cycles.
    std::unique_ptr<CHttpConnection> m_pConnection;

private:
    unsigned short m_nPort = kServerPort;
    unsigned long m_dwTimeOut = kServerTimeOut;
    std::chrono::milliseconds m_deadline = kDownloadDeadline;
    bool m_bCycleRunning = false;
    // Changes not yet announced: those of cycles that ended without a connection.
    unsigned char m_nKeptMask = 0;
    UniqueKernelHandle m_hStop;
};
