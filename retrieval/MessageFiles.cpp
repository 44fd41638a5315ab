#include "retrieval/MessageFiles.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "app/Errors.h"
#include "app/Identity.h"
#include "retrieval/LocalFile.h"

namespace {

// Comparison reads both files in pieces of this size, so memory stays bounded whatever
// their length.
constexpr std::size_t kCompareChunk = 1 << 20;

std::unique_ptr<char[]> AllocateOrRaise(std::size_t size)
{
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
    if (!buffer) throw CCodeException(ERR_NO_MEMORY);
    return buffer;
}

bool SameContent(CLocalFile& a, CLocalFile& b, std::uint64_t length)
{
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length, kCompareChunk));
    if (chunk == 0) return true;
    const auto bufferA = AllocateOrRaise(chunk);
    const auto bufferB = AllocateOrRaise(chunk);
    for (std::uint64_t left = length; left > 0;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk));
        const std::size_t gotA = a.Read(bufferA.get(), want);
        const std::size_t gotB = b.Read(bufferB.get(), want);
        // A file that shrank under us is not the same file.
        if (gotA != want || gotB != want) return false;
        if (std::memcmp(bufferA.get(), bufferB.get(), want) != 0) return false;
        left -= want;
    }
    return true;
}

} // namespace

int InstallDownload(const std::string& tempName, const std::string& localName)
{
    CLocalFile local;
    if (!local.OpenRead(localName)) {
        CLocalFile::Replace(tempName, localName);
        return 0;
    }
    CLocalFile temp;
    if (!temp.OpenRead(tempName)) throw CCodeException(ERR_FILE_OPEN);

    const std::uint64_t length = temp.Length();
    const bool identical = length == local.Length() && SameContent(temp, local, length);
    temp.Close();
    local.Close();
    if (identical) {
        CLocalFile::Remove(tempName);
        return 1;
    }
    CLocalFile::Replace(tempName, localName);
    return 0;
}

void ReadTextFile(const std::string& path, std::string& text)
{
    CLocalFile file;
    if (!file.OpenRead(path)) {
        text.clear();
        return;
    }
    const std::uint64_t length = file.Length();
    if (length == 0) return;
    if (length >= SIZE_MAX) throw CCodeException(ERR_NO_MEMORY);
    const std::size_t size = static_cast<std::size_t>(length);
    const auto buffer = AllocateOrRaise(size + 1);
    const std::size_t got = file.Read(buffer.get(), size);
    if (got == 0) throw CCodeException(ERR_FILE_OPEN);
    buffer[got] = '\0';
    text.assign(buffer.get());
}

void WriteNoMessagesText(const std::string& path)
{
    CLocalFile file;
    if (!file.OpenWrite(path)) throw CCodeException(ERR_FILE_OPEN);
    file.Write(kNoMessagesText, sizeof kNoMessagesText - 1);
}

void RemoveIfReadable(const std::string& path) noexcept
{
    try {
        CLocalFile file;
        if (!file.OpenRead(path)) return;
        file.Close();
        CLocalFile::Remove(path);
    } catch (...) {
        // A file that cannot be deleted now is left for a later run.
    }
}

CMessageFiles::CMessageFiles(KitIdSource kitIdSource) : m_kitIdSource(std::move(kitIdSource)) {}

bool CMessageFiles::WorkstationFile(const char* extension, std::string& name) const
{
    std::string kitId;
    if (!m_kitIdSource || !m_kitIdSource(kitId) || !NamesWorkstationFiles(kitId)) return false;
    name = WorkstationFileName(kitId, extension);
    return true;
}

void CMessageFiles::WriteNoMessagesFile(const char* extension)
{
    std::string name;
    if (!WorkstationFile(extension, name)) return;
    const std::lock_guard lock(m_filesLock);
    if (!m_bClosed) WriteNoMessagesText(name);
}

void CMessageFiles::GetGeneralText(std::string& text) const
{
    const std::lock_guard lock(m_filesLock);
    ReadTextFile(m_strGeneralLocal, text);
}

void CMessageFiles::GetComercialText(std::string& text) const
{
    const std::lock_guard lock(m_filesLock);
    ReadTextFile(m_strComercialLocal, text);
}

void CMessageFiles::GetOperativoText(std::string& text) const
{
    GetWorkstationText(kOperativoExtension, text);
}

void CMessageFiles::GetAdministrativoText(std::string& text) const
{
    GetWorkstationText(kAdministrativoExtension, text);
}

void CMessageFiles::GetWorkstationText(const char* extension, std::string& text) const
{
    std::string name;
    if (WorkstationFile(extension, name)) {
        const std::lock_guard lock(m_filesLock);
        ReadTextFile(name, text);
    } else
        text = kNoMessagesText;
}
