// The program's own per-user folder. It becomes the current directory before any file is
// touched, so the message files and the configuration file never depend on the folder the
// program was started from (at log-on that is a system folder a user cannot write to).
//
// Every running instance has a folder of its own: the first takes the folder itself, a later
// one the first free numbered folder inside it ("2", "3" ...). A folder is claimed by a lock
// file held open without sharing for as long as the object lives, so an instance that was
// killed frees it too.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "win/Handles.h"

class CWorkingFolder {
public:
    // Below the user's local application data folder.
    static constexpr wchar_t kSubfolder[] = L"Quorvex\\Notelia";
    static constexpr wchar_t kLockFile[] = L"notelia.lock";
    // The first folder and the numbered ones 2 to this.
    static constexpr int kMaxInstances = 64;

    // Claims the first free folder, making it when missing, and enters it. When it can be
    // neither made, claimed nor entered, tells the user in the "ATENCION" box and answers false.
    bool Enter();

    // The folder claimed; empty before Enter has succeeded.
    const std::wstring& Path() const noexcept { return m_path; }

    // SHGetKnownFolderPath, replaceable so that tests can point the folder elsewhere.
    using KnownFolderLookup = HRESULT(WINAPI*)(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path);
    static KnownFolderLookup s_pfnKnownFolderPath;

private:
    UniqueFileHandle m_lock;
    std::wstring m_path;
};
