#include "retrieval/MessageStore.h"

#include "retrieval/LocalFile.h"

int CMessageStore::Install(const std::string& tempName, const std::string& localName)
{
    const std::lock_guard lock(m_filesLock);
    if (m_bClosed) return 1;
    return InstallDownload(tempName, localName);
}

bool CMessageStore::ConfigObtained() const
{
    const std::lock_guard lock(m_filesLock);
    return m_bConfigObtained != 0;
}

void CMessageStore::SetConfigObtained()
{
    const std::lock_guard lock(m_filesLock);
    m_bConfigObtained = 1;
}

void CMessageStore::KeepChanges(unsigned char mask)
{
    const std::lock_guard lock(m_filesLock);
    m_nKeptMask |= mask;
}

unsigned char CMessageStore::TakeKeptChanges()
{
    const std::lock_guard lock(m_filesLock);
    const unsigned char mask = m_nKeptMask;
    m_nKeptMask = 0;
    return mask;
}

void CMessageStore::KeepValidators(const std::string& localName, const Validators& validators)
{
    const std::lock_guard lock(m_filesLock);
    if (validators.etag.empty() && validators.lastModified.empty()) m_validators.erase(localName);
    else m_validators[localName] = validators;
}

std::optional<Validators> CMessageStore::ValidatorsOf(const std::string& localName) const
{
    const std::lock_guard lock(m_filesLock);
    const auto found = m_validators.find(localName);
    if (found == m_validators.end() || !CLocalFile::Exists(localName)) return std::nullopt;
    return found->second;
}

void CMessageStore::DropValidators(const std::string& localName)
{
    const std::lock_guard lock(m_filesLock);
    m_validators.erase(localName);
}

void CMessageStore::Close()
{
    const std::lock_guard lock(m_filesLock);
    m_bClosed = true;
}
