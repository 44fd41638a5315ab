#include "tests/support/TestFiles.h"

#include <atomic>
#include <chrono>

namespace fs = std::filesystem;

namespace testing_support {

ScopedWorkDir::ScopedWorkDir() : m_previous(fs::current_path())
{
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    m_path = fs::temp_directory_path() /
             ("notelia-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(m_path);
    fs::current_path(m_path);
}

ScopedWorkDir::~ScopedWorkDir()
{
    std::error_code ignored;
    fs::current_path(m_previous, ignored);
    fs::remove_all(m_path, ignored);
}

} // namespace testing_support
