#include "app/WorkingFolder.h"

#include <knownfolders.h>

#include "app/ErrorReport.h"
#include "win/TextCodec.h"

CWorkingFolder::KnownFolderLookup CWorkingFolder::s_pfnKnownFolderPath = ::SHGetKnownFolderPath;

bool CWorkingFolder::Enter()
{
    // Already claimed: entered again, never a second claim.
    if (m_lock) return SetCurrentDirectoryW(m_path.c_str()) != FALSE;
    PWSTR base = nullptr;
    const HRESULT found = s_pfnKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &base);
    std::wstring folder;
    DWORD error = ERROR_SUCCESS;
    if (SUCCEEDED(found) && base) {
        const std::wstring first = std::wstring(base) + L"\\" + kSubfolder;
        for (int number = 1; number <= kMaxInstances; ++number) {
            folder = number == 1 ? first : first + L"\\" + std::to_wstring(number);
            // Makes the missing folders above it too.
            const int made = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
            if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS) {
                error = static_cast<DWORD>(made);
                break;
            }
            UniqueFileHandle lock(CreateFileW((folder + L"\\" + kLockFile).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!lock) {
                error = GetLastError();
                // Another running instance holds this one.
                if (error == ERROR_SHARING_VIOLATION) continue;
                break;
            }
            if (!SetCurrentDirectoryW(folder.c_str())) {
                error = GetLastError();
                break;
            }
            m_lock = std::move(lock);
            m_path = folder;
            error = ERROR_SUCCESS;
            break;
        }
    } else {
        error = HRESULT_FACILITY(found) == FACILITY_WIN32 ? HRESULT_CODE(found) : static_cast<DWORD>(found);
    }
    CoTaskMemFree(base);
    if (m_lock) return true;
    if (error == ERROR_SUCCESS) error = ERROR_PATH_NOT_FOUND;

    std::string text = "No se pudo crear o abrir la carpeta de trabajo";
    if (!folder.empty()) text += " " + NarrowCp1252(folder);
    text += ": " + SystemErrorText(error);
    if (text.back() != '.') text += '.';
    ReportErrorText(nullptr, text);
    return false;
}
