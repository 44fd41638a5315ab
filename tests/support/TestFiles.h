// Test helpers for work in a private current directory.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

// Makes a fresh directory the current one for the object's lifetime, then removes it.
class ScopedWorkDir {
public:
    ScopedWorkDir();
    ~ScopedWorkDir();
    ScopedWorkDir(const ScopedWorkDir&) = delete;
    ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_previous;
    std::filesystem::path m_path;
};

void WriteBytes(const std::string& name, const std::string& bytes);
std::string ReadBytes(const std::string& name);
bool Exists(const std::string& name);

} // namespace testing_support
