// The fetch cycle: brings the local copies of the configuration file and the four category
// files up to date from the message server, and tells which categories changed.
#pragma once

#include <memory>
#include <string>

#include "retrieval/MessageFiles.h"
#include "retrieval/ServerSession.h"

// Bits of the change mask that FetchAll answers.
enum ChangeMaskBit : unsigned char {
    CHANGED_GENERAL = 1,
    CHANGED_ADMINISTRATIVO = 2,
    CHANGED_OPERATIVO = 4,
    CHANGED_COMERCIAL = 8,
};

// m_nOutcome values.
enum FetchOutcome : int {
    OUTCOME_NO_NEWS = 0,
    OUTCOME_NEWS = 1,
    OUTCOME_NO_CONNECTION = 2,
};

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
    // (a timer tick during one of its message boxes) answers 0 at once and changes nothing.
    unsigned char FetchAll();

    // Downloads "/zandu/" + `serverName` over m_pConnection and installs it as `localName`;
    // `changed` becomes 1 when the local file was created or replaced. Failures of the
    // library and error codes are shown in the "ATENCION" box and answer FETCH_FAILED; file
    // exceptions of the installation leave it.
    int FetchFile(const std::string& serverName, const std::string& localName, int& changed);

    // One echo to RemoteHost, waiting TimeOut milliseconds. Code -1003 when a setting cannot
    // be read.
    bool IsServerReachable();

    // TimeOut read as the probe's wait in milliseconds; code -1003 when it cannot be read.
    static long ReadProbeWait();

    // The "MailList" section as recipient list text (at most 100 entries); false, leaving
    // `text` alone, until this run has obtained the configuration file.
    bool ReadRecipientList(std::string& text);

    int m_nOutcome = OUTCOME_NO_CONNECTION;
    std::string m_strConfigFile = "notelia_param.ini";
    int m_bConfigObtained = 0;
    // The connection of the running cycle; null between cycles.
    std::unique_ptr<CHttpConnection> m_pConnection;

private:
    unsigned short m_nPort = kServerPort;
    unsigned long m_dwTimeOut = kServerTimeOut;
    bool m_bCycleRunning = false;
};
