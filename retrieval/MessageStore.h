// What a fetch worker and the user-interface thread share: the message files with their
// lock, whether this run has obtained the configuration file, and the changes that no cycle
// has announced yet. Everything here holds the files lock.
#pragma once

#include <string>

#include "retrieval/MessageFiles.h"

class CMessageStore : public CMessageFiles {
public:
    using CMessageFiles::CMessageFiles;

    // InstallDownload under the lock; answers 1 (nothing changed) once the files are closed.
    int Install(const std::string& tempName, const std::string& localName);

    bool ConfigObtained() const;
    void SetConfigObtained();

    // Changes installed by a cycle that could not announce them; the next good one does.
    void KeepChanges(unsigned char mask);
    unsigned char TakeKeptChanges();

    // From now on nothing is installed or written: the program goes on without its worker.
    void Close();

    std::mutex& Lock() const noexcept { return m_filesLock; }

    // Under the files lock.
    int m_bConfigObtained = 0;

private:
    unsigned char m_nKeptMask = 0;
};
