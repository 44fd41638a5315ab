// The program's own per-user folder. It becomes the current directory before any file is
// touched, so the message files and the configuration file never depend on the folder the
// program was started from (at log-on that is a system folder a user cannot write to).
#pragma once

#include <windows.h>
#include <shlobj.h>

class CWorkingFolder {
public:
    // Below the user's local application data folder.
    static constexpr wchar_t kSubfolder[] = L"Quorvex\\Notelia";

    // Makes the folder when it is missing and enters it. When it can be neither made nor
    // entered, tells the user in the "ATENCION" box and answers false.
    static bool Enter();

    // SHGetKnownFolderPath, replaceable so that tests can point the folder elsewhere.
    using KnownFolderLookup = HRESULT(WINAPI*)(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path);
    static KnownFolderLookup s_pfnKnownFolderPath;
};
