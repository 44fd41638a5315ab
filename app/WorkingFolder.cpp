#include "app/WorkingFolder.h"

#include <knownfolders.h>

#include <string>

#include "app/ErrorReport.h"
#include "win/TextCodec.h"

CWorkingFolder::KnownFolderLookup CWorkingFolder::s_pfnKnownFolderPath = ::SHGetKnownFolderPath;

bool CWorkingFolder::Enter()
{
    PWSTR base = nullptr;
    const HRESULT found = s_pfnKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &base);
    std::wstring folder;
    DWORD error = ERROR_SUCCESS;
    bool entered = false;
    if (SUCCEEDED(found) && base) {
        folder = std::wstring(base) + L"\\" + kSubfolder;
        // Makes the missing folders above it too.
        const int made = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
        entered = SetCurrentDirectoryW(folder.c_str()) != FALSE;
        // The making's own failure says more than the entering's.
        if (!entered)
            error = made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS ? static_cast<DWORD>(made) : GetLastError();
    } else {
        error = HRESULT_FACILITY(found) == FACILITY_WIN32 ? HRESULT_CODE(found) : static_cast<DWORD>(found);
    }
    CoTaskMemFree(base);
    if (entered) return true;
    if (error == ERROR_SUCCESS) error = ERROR_PATH_NOT_FOUND;

    std::string text = "No se pudo crear o abrir la carpeta de trabajo";
    if (!folder.empty()) text += " " + NarrowCp1252(folder);
    text += ": " + SystemErrorText(error);
    if (text.back() != '.') text += '.';
    ReportErrorText(nullptr, text);
    return false;
}
