#include "mail/MailPlatform.h"

#include <random>

#include "net/SystemSockets.h"

#ifdef _WIN32
#include <windows.h>
#include <rpc.h>
#include <share.h>
#else
#include <fstream>
#endif

#ifdef _WIN32

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

int NameLookupError()
{
    const int error = WSAGetLastError();
    return error != 0 ? error : kErrorHostNotFound;
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

int NameLookupError()
{
    // The resolver's codes are not errno values.
    return kErrorHostNotFound;
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
