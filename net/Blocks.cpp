#include "net/Blocks.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#endif

namespace net {

#ifdef _WIN32

int LastSystemError()
{
    return static_cast<int>(GetLastError());
}

void SetLastSystemError(int error)
{
    SetLastError(static_cast<DWORD>(error));
}

void* AllocateZeroedBlock(std::size_t size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size ? size : 1);
}

void FreeBlock(void* block, std::size_t)
{
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

void AdviseLargeBlock(void*, std::size_t)
{
}

#else

int LastSystemError()
{
    return errno;
}

void SetLastSystemError(int error)
{
    errno = error;
}

namespace {
constexpr std::size_t kLargeBlock = 1u << 20;
constexpr std::size_t kHugePage = 2u << 20;
constexpr std::size_t kPage = 4096;

std::size_t PageRounded(std::size_t size)
{
    return (size + kPage - 1) & ~(kPage - 1);
}
} // namespace

void* AllocateZeroedBlock(std::size_t size)
{
    if (size < kLargeBlock) return std::calloc(size ? size : 1, 1);
    // An anonymous mapping is zero already; align it to a huge page and trim the rest.
    const std::size_t mapped = PageRounded(size);
    const std::size_t total = mapped + kHugePage;
    void* raw = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto base = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t start = (base + kHugePage - 1) & ~(static_cast<std::uintptr_t>(kHugePage) - 1);
    const std::size_t head = start - base;
    if (head) munmap(raw, head);
    if (total - head - mapped) munmap(reinterpret_cast<void*>(start + mapped), total - head - mapped);
    madvise(reinterpret_cast<void*>(start), mapped, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(start);
}

void FreeBlock(void* block, std::size_t size)
{
    if (!block) return;
    if (size < kLargeBlock) std::free(block);
    else munmap(block, PageRounded(size));
}

void AdviseLargeBlock(void* data, std::size_t size)
{
    if (size < kLargeBlock) return;
    const auto from = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(static_cast<std::uintptr_t>(kPage) - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(static_cast<std::uintptr_t>(kPage) - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

#endif

} // namespace net
