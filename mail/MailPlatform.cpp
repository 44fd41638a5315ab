#include "mail/MailPlatform.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <random>

#ifdef _WIN32
#include <rpc.h>
#include <share.h>
#else
#include <fstream>
#endif

#ifdef _WIN32

int MailLastError()
{
    return static_cast<int>(GetLastError());
}

void SetMailLastError(int error)
{
    SetLastError(static_cast<DWORD>(error));
}

int CloseMailSocket(MailSocketHandle socket)
{
    return closesocket(socket);
}

std::string NewUuidText()
{
    UUID uuid;
    RPC_CSTR text = nullptr;
    if (UuidCreate(&uuid) != RPC_S_OK || UuidToStringA(&uuid, &text) != RPC_S_OK) {
        // No UUID service: a random one of the same form.
        std::random_device random;
        char fallback[37];
        std::snprintf(fallback, sizeof fallback, "%08x-%04x-4%03x-%04x-%04x%08x", random(), random() & 0xFFFF,
                      random() & 0xFFF, (random() & 0x3FFF) | 0x8000, random() & 0xFFFF, random());
        return fallback;
    }
    std::string result(reinterpret_cast<const char*>(text));
    RpcStringFreeA(&text);
    return result;
}

long LocalZoneBias()
{
    TIME_ZONE_INFORMATION info{};
    const DWORD zone = GetTimeZoneInformation(&info);
    if (zone == TIME_ZONE_ID_INVALID) return 0;
    long bias = info.Bias;
    if (zone == TIME_ZONE_ID_DAYLIGHT) bias += info.DaylightBias;
    return bias;
}

std::tm LocalTimeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    return local;
}

void* AllocateZeroedBlock(std::size_t size)
{
    return std::calloc(size ? size : 1, 1);
}

void FreeBlock(void* block, std::size_t)
{
    std::free(block);
}

void AdviseLargeBlock(void*, std::size_t)
{
}

std::FILE* OpenFileDenyWrite(const std::string& path)
{
    const int count = MultiByteToWideChar(1252, 0, path.c_str(), -1, nullptr, 0);
    if (count <= 0) return nullptr;
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(1252, 0, path.c_str(), -1, wide.data(), count);
    return _wfsopen(wide.c_str(), L"rb", _SH_DENYWR);
}

#else

int MailLastError()
{
    return errno;
}

void SetMailLastError(int error)
{
    errno = error;
}

int CloseMailSocket(MailSocketHandle socket)
{
    return close(socket);
}

std::string NewUuidText()
{
    std::ifstream source("/proc/sys/kernel/random/uuid");
    std::string text;
    if (source && std::getline(source, text) && text.size() == 36) return text;
    std::random_device random;
    char fallback[37];
    std::snprintf(fallback, sizeof fallback, "%08x-%04x-4%03x-%04x-%04x%08x", random(), random() & 0xFFFF,
                  random() & 0xFFF, (random() & 0x3FFF) | 0x8000, random() & 0xFFFF, random());
    return fallback;
}

long LocalZoneBias()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local)) return 0;
    return -local.tm_gmtoff / 60;
}

std::tm LocalTimeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
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

std::FILE* OpenFileDenyWrite(const std::string& path)
{
    return std::fopen(path.c_str(), "rb");
}

#endif

std::string LocalHostName()
{
    char name[260] = {};
    if (gethostname(name, sizeof name) != 0) return {};
    name[sizeof name - 1] = 0;
    return name;
}
