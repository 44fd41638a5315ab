// The fetch cycle: brings the local copies of the configuration file and the four category
// files up to date from the message server, and tells which categories changed.
#pragma once

#include <string>

#include "retrieval/MessageFiles.h"

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
    // Removes every local file of the program.
    ~CMessageFetcher() override;

    // Runs one cycle; answers the change mask and leaves the outcome in m_nOutcome. Raises
    // CCodeException and CSystemException as the callers expect.
    unsigned char FetchAll();

    int m_nOutcome = OUTCOME_NO_CONNECTION;
    std::string m_strConfigFile = "notelia_param.ini";
    int m_bConfigObtained = 0;
};
