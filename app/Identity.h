// The installation's identity: provisioned by the installation under the settings key as
// "KitId" (exactly 16 characters), "HolderName" and "HolderAddress".
#pragma once

#include <string>
#include <string_view>

struct InstallationIdentity {
    std::string kitId;          // 16 characters
    std::string holderName;     // up to 59 characters
    std::string holderAddress;  // up to 59 characters
};

inline constexpr std::size_t kKitIdLength = 16;
inline constexpr std::size_t kMaxHolderLength = 59;

// A kit identifier is usable only when it has exactly 16 characters.
bool IsValidKitId(std::string_view kitId);

// A usable kit identifier whose workstation characters (below) are ASCII letters or digits;
// any other names no workstation files.
bool NamesWorkstationFiles(std::string_view kitId);

// The 8 characters of the kit identifier that name this workstation's files: the 3rd to
// 5th and the 7th to 11th.
std::string WorkstationId(std::string_view kitId);

// The workstation's file with `extension` (".txt" or ".adm").
std::string WorkstationFileName(std::string_view kitId, std::string_view extension);

#ifdef _WIN32
// Reads the whole record; false when there is none (no valid "KitId").
bool GetInstallationIdentity(InstallationIdentity& identity);

// The kit identifier alone; false when there is none.
bool GetKitId(std::string& kitId);
#endif
