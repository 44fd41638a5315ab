#include "app/Identity.h"

#include "app/Settings.h"

namespace {
constexpr std::uint32_t kKitIdBuffer = 100;
// Room for holder values longer than the 59 characters kept, so that they are cut, not lost.
constexpr std::uint32_t kHolderBuffer = 256;
}

bool GetInstallationIdentity(InstallationIdentity& identity)
{
    std::string kitId;
    if (!TryReadSetting("KitId", kKitIdBuffer, kitId) || !IsValidKitId(kitId)) return false;
    std::string name;
    std::string address;
    TryReadSetting("HolderName", kHolderBuffer, name);
    TryReadSetting("HolderAddress", kHolderBuffer, address);
    identity.kitId = kitId;
    identity.holderName = name.substr(0, kMaxHolderLength);
    identity.holderAddress = address.substr(0, kMaxHolderLength);
    return true;
}

bool GetKitId(std::string& kitId)
{
    std::string value;
    if (!TryReadSetting("KitId", kKitIdBuffer, value) || !IsValidKitId(value)) return false;
    kitId = value;
    return true;
}
