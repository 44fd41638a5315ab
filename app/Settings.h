// The program's persisted settings: string values under one registry key (provisioned by the
// installation, never created here) and the configuration file that the server publishes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

inline constexpr char kSettingsKey[] = "Software\\Quorvex\\Zandu\\Usuario";
inline constexpr char kConfigFileName[] = "notelia_param.ini";

// The administrator's keys under HKEY_LOCAL_MACHINE, or the user's own under
// HKEY_CURRENT_USER.
enum class RegistryRoot { Machine, User };

// Reads a REG_SZ or REG_EXPAND_SZ value (not expanded) of a key under `root`. `size` holds
// the buffer's capacity in bytes on entry and the number of bytes stored on success. Answers
// 0, or -1 key not opened, -2 no such value, -3 not a string, -4 not read (a value longer
// than the buffer included).
int ReadRegistryString(const char* keyPath, const char* valueName, char* buffer, std::uint32_t& size,
                       RegistryRoot root = RegistryRoot::Machine);

// Stores exactly `length` bytes as REG_SZ under `root`: in an existing key of the machine,
// in a user's key that is created when missing. Answers 0, or -1 key not opened for
// writing, -4 not stored.
int WriteRegistryString(const char* keyPath, const char* valueName, const char* data, std::uint32_t length,
                        RegistryRoot root = RegistryRoot::Machine);

// Whether a write under `root` is refused before the system is asked, as Windows refuses a
// standard user's under HKEY_LOCAL_MACHINE and Wine does not: a seam for tests. Empty (the
// default) refuses nothing. Answers the previous one.
using RegistryWriteRefusal = std::function<bool(RegistryRoot root)>;
RegistryWriteRefusal SetRegistryWriteRefusal(RegistryWriteRefusal refusal);

// A value of the settings key read through a buffer of `bufferSize` bytes, cut at its first
// NUL. False when it cannot be read.
bool TryReadSetting(const char* valueName, std::uint32_t bufferSize, std::string& text,
                    RegistryRoot root = RegistryRoot::Machine);

// As TryReadSetting; a value that cannot be read raises code -1003.
std::string ReadSetting(const char* valueName, std::uint32_t bufferSize);

// Stores a value of the settings key, with or without its terminating NUL counted; a failure
// raises code -1004.
void WriteSetting(const char* valueName, const std::string& text, bool withTerminator,
                  RegistryRoot root = RegistryRoot::Machine);

// The configuration file in the current directory (not the program's directory).
std::string ConfigFilePath();

// Profile reads from the configuration file; missing file or key gives the default.
int ReadConfigInt(const char* section, const char* key, int defaultValue);
std::string ReadConfigString(const char* section, const char* key, const char* defaultValue,
                             std::uint32_t bufferSize);
