#include "retrieval/LocalFile.h"

#include <algorithm>

#include "app/Errors.h"

#ifdef _WIN32
#include "win/TextCodec.h"
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

CLocalFile::~CLocalFile()
{
    Close();
}

#ifdef _WIN32

namespace {
unsigned long LastOsError()
{
    return GetLastError();
}
} // namespace

bool CLocalFile::OpenRead(const std::string& name)
{
    Close();
    m_strName = name;
    m_hFile.reset(CreateFileW(WidenCp1252(name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    m_lLastError = m_hFile ? 0 : GetLastError();
    return static_cast<bool>(m_hFile);
}

bool CLocalFile::OpenWrite(const std::string& name)
{
    Close();
    m_strName = name;
    m_hFile.reset(CreateFileW(WidenCp1252(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    m_lLastError = m_hFile ? 0 : GetLastError();
    return static_cast<bool>(m_hFile);
}

void CLocalFile::Close() noexcept
{
    m_hFile.reset();
}

bool CLocalFile::IsOpen() const noexcept
{
    return static_cast<bool>(m_hFile);
}

std::uint64_t CLocalFile::Length() const
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_hFile.get(), &size)) Fail();
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t CLocalFile::Read(void* buffer, std::size_t size)
{
    std::size_t total = 0;
    // ReadFile takes 32-bit counts.
    while (total < size) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - total, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(m_hFile.get(), static_cast<char*>(buffer) + total, want, &got, nullptr)) Fail();
        if (got == 0) break;
        total += got;
    }
    return total;
}

void CLocalFile::Write(const void* buffer, std::size_t size)
{
    std::size_t total = 0;
    while (total < size) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - total, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(m_hFile.get(), static_cast<const char*>(buffer) + total, want, &put, nullptr)) Fail();
        total += put;
    }
}

bool CLocalFile::Exists(const std::string& name)
{
    const DWORD attributes = GetFileAttributesW(WidenCp1252(name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CLocalFile::Remove(const std::string& name)
{
    if (!DeleteFileW(WidenCp1252(name).c_str())) throw CFileException(GetLastError(), name);
}

void CLocalFile::Replace(const std::string& from, const std::string& to)
{
    if (!MoveFileExW(WidenCp1252(from).c_str(), WidenCp1252(to).c_str(), MOVEFILE_REPLACE_EXISTING))
        throw CFileException(GetLastError(), to);
}

#else

namespace {
unsigned long LastOsError()
{
    return static_cast<unsigned long>(errno);
}

// Another opener of the same file is shut out, as with an unshared Windows open.
int OpenExclusive(const std::string& name, int flags, unsigned long& error)
{
    const int fd = ::open(name.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = LastOsError();
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = LastOsError();
        ::close(fd);
        return -1;
    }
    error = 0;
    return fd;
}
} // namespace

bool CLocalFile::OpenRead(const std::string& name)
{
    Close();
    m_strName = name;
    m_fd = OpenExclusive(name, O_RDONLY, m_lLastError);
    return m_fd >= 0;
}

bool CLocalFile::OpenWrite(const std::string& name)
{
    Close();
    m_strName = name;
    m_fd = OpenExclusive(name, O_WRONLY | O_CREAT, m_lLastError);
    // Truncate only once the file is ours.
    if (m_fd >= 0 && ::ftruncate(m_fd, 0) != 0) {
        m_lLastError = LastOsError();
        Close();
    }
    return m_fd >= 0;
}

void CLocalFile::Close() noexcept
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool CLocalFile::IsOpen() const noexcept
{
    return m_fd >= 0;
}

std::uint64_t CLocalFile::Length() const
{
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) Fail();
    return static_cast<std::uint64_t>(st.st_size);
}

std::size_t CLocalFile::Read(void* buffer, std::size_t size)
{
    std::size_t total = 0;
    while (total < size) {
        const ssize_t got = ::read(m_fd, static_cast<char*>(buffer) + total, size - total);
        if (got < 0) {
            if (errno == EINTR) continue;
            Fail();
        }
        if (got == 0) break;
        total += static_cast<std::size_t>(got);
    }
    return total;
}

void CLocalFile::Write(const void* buffer, std::size_t size)
{
    std::size_t total = 0;
    while (total < size) {
        const ssize_t put = ::write(m_fd, static_cast<const char*>(buffer) + total, size - total);
        if (put < 0) {
            if (errno == EINTR) continue;
            Fail();
        }
        total += static_cast<std::size_t>(put);
    }
}

bool CLocalFile::Exists(const std::string& name)
{
    struct stat status {};
    return ::stat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

void CLocalFile::Remove(const std::string& name)
{
    if (::unlink(name.c_str()) != 0) throw CFileException(LastOsError(), name);
}

void CLocalFile::Replace(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0) throw CFileException(LastOsError(), to);
}

#endif

void CLocalFile::Fail() const
{
    throw CFileException(LastOsError(), m_strName);
}
