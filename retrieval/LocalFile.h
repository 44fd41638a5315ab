// A local file opened exclusively (no sharing with other openers), read-only or
// create-and-write, with its names in Windows-1252.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include "win/Handles.h"
#endif

class CLocalFile {
public:
    CLocalFile() = default;
    CLocalFile(const CLocalFile&) = delete;
    CLocalFile& operator=(const CLocalFile&) = delete;
    ~CLocalFile();

    // False when the file cannot be opened (missing, or held by another opener).
    bool OpenRead(const std::string& name);
    // Creates or truncates the file; false when it cannot be opened.
    bool OpenWrite(const std::string& name);
    void Close() noexcept;
    bool IsOpen() const noexcept;

    std::uint64_t Length() const;
    // Reads up to `size` bytes; answers the count, 0 at the end. A failure raises
    // CFileException.
    std::size_t Read(void* buffer, std::size_t size);
    // Writes all `size` bytes; a failure raises CFileException.
    void Write(const void* buffer, std::size_t size);

    // The system's error number of the last failed open.
    unsigned long LastError() const noexcept { return m_lLastError; }

    // Whether a file (not a folder) of that name is there; it is not opened.
    static bool Exists(const std::string& name);
    // Deletes a file; a failure raises CFileException.
    static void Remove(const std::string& name);
    // Puts `from` in the place of `to` in one step: at every moment either the old or the
    // new content is under `to`. A failure raises CFileException and leaves both as they were.
    static void Replace(const std::string& from, const std::string& to);

private:
    [[noreturn]] void Fail() const;

    std::string m_strName;
    unsigned long m_lLastError = 0;
#ifdef _WIN32
    UniqueFileHandle m_hFile;
#else
    int m_fd = -1;
#endif
};
