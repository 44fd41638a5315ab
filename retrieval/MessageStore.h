// What a fetch worker and the user-interface thread share: the message files with their
// lock, whether this run has obtained the configuration file, and the changes that no cycle
// has announced yet. Everything here holds the files lock.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "retrieval/MessageFiles.h"

// What the server said identifies the content of a copy it sent: either may be empty.
struct Validators {
    std::string etag;
    std::string lastModified;
};

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

    // The validators of the answer that brought `localName`'s copy (none kept when both are
    // empty). They live in memory only and go with the copy.
    void KeepValidators(const std::string& localName, const Validators& validators);
    // Only while the copy they describe is there: a server's "not modified" never stands in
    // for a file that is missing.
    std::optional<Validators> ValidatorsOf(const std::string& localName) const;
    void DropValidators(const std::string& localName);

    // From now on nothing is installed or written: the program goes on without its worker.
    void Close();

    std::mutex& Lock() const noexcept { return m_filesLock; }

    // Under the files lock.
    int m_bConfigObtained = 0;

private:
    unsigned char m_nKeptMask = 0;
    std::map<std::string, Validators> m_validators;
};
