// Drives the real notelia.exe from a test process as a user would: finds its windows and
// answers its message boxes. Every wait is bounded and ends early when the program ends.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <chrono>
#include <functional>
#include <string>

#include "tests/support/WinTestSupport.h"

namespace program_driver {

using testing_support::ClassName;
using testing_support::WindowText;

// The first window that `match` accepts: a top-level one, or with `parent` one inside it.
inline HWND FindWindowWhere(const std::function<bool(HWND)>& match, HWND parent = nullptr)
{
    std::pair<const std::function<bool(HWND)>*, HWND> search{&match, nullptr};
    const WNDENUMPROC visit = [](HWND hWnd, LPARAM lParam) -> BOOL {
        auto& [test, found] = *reinterpret_cast<std::pair<const std::function<bool(HWND)>*, HWND>*>(lParam);
        if ((*test)(hWnd)) found = hWnd;
        return found == nullptr;
    };
    if (parent) EnumChildWindows(parent, visit, reinterpret_cast<LPARAM>(&search));
    else EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

// A top-level window of process `processId` with this class (null: any) and title.
inline HWND FindProcessWindow(DWORD processId, const wchar_t* className, const std::wstring& title)
{
    return FindWindowWhere([&](HWND hWnd) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hWnd, &pid);
        return pid == processId && WindowText(hWnd) == title && (!className || ClassName(hWnd) == className);
    });
}

// The folder where the program keeps its files for this Windows user.
inline std::wstring ProgramFolder()
{
    wchar_t base[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base);
    return std::wstring(base) + L"\\Quorvex\\Notelia";
}

// Waits until `done` holds, at most `timeoutMs`; false also when the process has ended first.
inline bool WaitFor(HANDLE process, const std::function<bool()>& done, DWORD timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        // Paces the checks; returns at once when the program ends.
        if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0) return done();
    }
    return true;
}

// The real program started from `path`, with its frame window once it has one.
struct RunningProgram {
    PROCESS_INFORMATION process{};
    HWND frame = nullptr;

    RunningProgram() = default;
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    ~RunningProgram()
    {
        // A test that failed half-way leaves no instance behind to mislead the next one.
        if (process.hProcess && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, 1);
        if (process.hThread) CloseHandle(process.hThread);
        if (process.hProcess) CloseHandle(process.hProcess);
    }
};

// Starts the program and waits (bounded) for its hidden frame window; false when either fails.
inline bool StartProgram(const std::wstring& path, RunningProgram& program)
{
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &program.process))
        return false;
    WaitFor(program.process.hProcess,
            [&] {
                return (program.frame = FindProcessWindow(program.process.dwProcessId, nullptr, L"Notelia 2.5")) !=
                       nullptr;
            },
            30000);
    return program.frame != nullptr;
}

inline constexpr wchar_t kCloseQuestion[] = L"\u00BFEst\u00E1 seguro que desea cerrar la aplicaci\u00F3n?";
inline constexpr wchar_t kCloseWarning[] = L"Ud. dejar\u00E1 de recibir mensajes. Desea continuar?";

// How the program ended after EndProgram.
struct ProgramEnd {
    std::wstring failure;  // empty when the close went as a user's would
    bool ended = false;
    DWORD exitCode = 1;
};

// Closes the program the user's way (the close command, then Yes to both questions), or ends
// it by force when that fails, and waits for it.
inline ProgramEnd EndProgram(RunningProgram& program)
{
    ProgramEnd end;
    const HANDLE process = program.process.hProcess;
    PostMessageW(program.frame, WM_COMMAND, 57665, 0);
    for (const auto& [caption, text] : {std::pair{L"Notelia", kCloseQuestion}, {L"ATENCION", kCloseWarning}}) {
        HWND box = nullptr;
        const auto found = [&] { return (box = FindProcessWindow(program.process.dwProcessId, L"#32770", caption)); };
        WaitFor(process, [&] { return found() != nullptr; }, 30000);
        // The box's text is its static control 0xFFFF; a click answers it.
        const std::wstring shown = box ? WindowText(GetDlgItem(box, 0xFFFF)) : L"(none)";
        if (shown != text) {
            end.failure = std::wstring(caption) + L" box: " + shown;
            break;
        }
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDYES)));
    }
    if (end.failure.empty() && WaitForSingleObject(process, 30000) != WAIT_OBJECT_0) end.failure = L"it did not end";
    if (!end.failure.empty()) TerminateProcess(process, 1);
    end.ended = WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
    GetExitCodeProcess(process, &end.exitCode);
    return end;
}

} // namespace program_driver
