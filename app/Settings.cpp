#include "app/Settings.h"

#include <windows.h>

#include <cstring>
#include <utility>
#include <vector>

#include "app/Errors.h"
#include "win/Handles.h"
#include "win/TextCodec.h"

namespace {

HKEY RootKey(RegistryRoot root)
{
    return root == RegistryRoot::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

RegistryWriteRefusal& Refusal()
{
    static RegistryWriteRefusal refusal;
    return refusal;
}

} // namespace

int ReadRegistryString(const char* keyPath, const char* valueName, char* buffer, std::uint32_t& size,
                       RegistryRoot root)
{
    UniqueHKey key;
    if (RegOpenKeyExW(RootKey(root), WidenCp1252(keyPath).c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return -1;

    const std::wstring name = WidenCp1252(valueName);
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return -2;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return -3;

    // The value is held as UTF-16; its Windows-1252 form has one byte per character.
    std::vector<wchar_t> wide(bytes / sizeof(wchar_t) + 1);
    DWORD got = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(wide.data()), &got) !=
        ERROR_SUCCESS)
        return -4;
    const std::string data = NarrowCp1252(std::wstring_view(wide.data(), got / sizeof(wchar_t)));
    if (data.size() > size) return -4;

    std::memcpy(buffer, data.data(), data.size());
    if (data.size() < size) buffer[data.size()] = '\0';
    size = static_cast<std::uint32_t>(data.size());
    return 0;
}

int WriteRegistryString(const char* keyPath, const char* valueName, const char* data, std::uint32_t length,
                        RegistryRoot root)
{
    if (Refusal() && Refusal()(root)) return -1;
    UniqueHKey key;
    const std::wstring path = WidenCp1252(keyPath);
    // The machine's key is the installation's to create; a user's own is made on first use.
    const LONG opened = root == RegistryRoot::User
                            ? RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                              key.put(), nullptr)
                            : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, key.put());
    if (opened != ERROR_SUCCESS) return -1;
    std::wstring wide = WidenCp1252(std::string_view(data, length));
    const auto bytes = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
    // The system counts a terminator that follows the data as part of it; a non-zero unit
    // behind the data keeps the stored length exactly as given.
    wide.push_back(L'\xFFFF');
    const LONG rc = RegSetValueExW(key.get(), WidenCp1252(valueName).c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(wide.data()), bytes);
    return rc == ERROR_SUCCESS ? 0 : -4;
}

RegistryWriteRefusal SetRegistryWriteRefusal(RegistryWriteRefusal refusal)
{
    return std::exchange(Refusal(), std::move(refusal));
}

bool TryReadSetting(const char* valueName, std::uint32_t bufferSize, std::string& text, RegistryRoot root)
{
    std::vector<char> buffer(bufferSize + 1, '\0');
    std::uint32_t size = bufferSize;
    if (ReadRegistryString(kSettingsKey, valueName, buffer.data(), size, root) != 0) return false;
    text.assign(buffer.data(), size);
    text.resize(std::strlen(text.c_str()));
    return true;
}

std::string ReadSetting(const char* valueName, std::uint32_t bufferSize)
{
    std::string text;
    if (!TryReadSetting(valueName, bufferSize, text)) throw CCodeException(ERR_REGISTRY_READ);
    return text;
}

void WriteSetting(const char* valueName, const std::string& text, bool withTerminator, RegistryRoot root)
{
    const auto length = static_cast<std::uint32_t>(text.size() + (withTerminator ? 1 : 0));
    if (WriteRegistryString(kSettingsKey, valueName, text.c_str(), length, root) != 0)
        throw CCodeException(ERR_REGISTRY_WRITE);
}

namespace {

// Wide all the way: the working folder lies in the user's profile, whose name need not fit
// in Windows-1252.
std::wstring ConfigFilePathW()
{
    wchar_t directory[500] = {};
    GetCurrentDirectoryW(500, directory);
    return std::wstring(directory) + L"\\" + WidenCp1252(kConfigFileName);
}

} // namespace

std::string ConfigFilePath()
{
    return NarrowCp1252(ConfigFilePathW());
}

int ReadConfigInt(const char* section, const char* key, int defaultValue)
{
    return static_cast<int>(GetPrivateProfileIntW(WidenCp1252(section).c_str(), WidenCp1252(key).c_str(),
                                                  defaultValue, ConfigFilePathW().c_str()));
}

std::string ReadConfigString(const char* section, const char* key, const char* defaultValue,
                             std::uint32_t bufferSize)
{
    std::vector<wchar_t> buffer(bufferSize, L'\0');
    const DWORD n = GetPrivateProfileStringW(WidenCp1252(section).c_str(), WidenCp1252(key).c_str(),
                                             WidenCp1252(defaultValue).c_str(), buffer.data(), bufferSize,
                                             ConfigFilePathW().c_str());
    return NarrowCp1252(std::wstring_view(buffer.data(), n));
}
