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

// A top-level window of process `processId` with this class (null: any) and title.
inline HWND FindProcessWindow(DWORD processId, const wchar_t* className, const std::wstring& title)
{
    struct Search {
        DWORD processId;
        const wchar_t* className;
        const std::wstring* title;
        HWND found;
    } search{processId, className, &title, nullptr};
    EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lParam);
            DWORD pid = 0;
            GetWindowThreadProcessId(hWnd, &pid);
            if (pid != s->processId || WindowText(hWnd) != *s->title) return TRUE;
            if (s->className && ClassName(hWnd) != s->className) return TRUE;
            s->found = hWnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
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

// A message box of the program: its window and text.
struct ProgramBox {
    HWND window = nullptr;
    std::wstring text;
};

// Waits for the program's message box captioned `caption`.
inline ProgramBox WaitForBox(HANDLE process, DWORD processId, const std::wstring& caption, DWORD timeoutMs)
{
    ProgramBox box;
    WaitFor(process, [&] { return (box.window = FindProcessWindow(processId, L"#32770", caption)) != nullptr; },
            timeoutMs);
    // The box's text is its static control 0xFFFF.
    if (box.window) box.text = WindowText(GetDlgItem(box.window, 0xFFFF));
    return box;
}

// Presses `button` (IDYES, IDNO, IDOK ...) of a box as a click would.
inline void Press(const ProgramBox& box, int button)
{
    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box.window, button)));
}

inline constexpr wchar_t kCloseQuestion[] = L"\u00BFEst\u00E1 seguro que desea cerrar la aplicaci\u00F3n?";
inline constexpr wchar_t kCloseWarning[] = L"Ud. dejar\u00E1 de recibir mensajes. Desea continuar?";

// Ends the program the user's way: the close command, then Yes to both questions. Answers an
// empty text on success, else what went wrong.
inline std::wstring CloseProgram(HANDLE process, DWORD processId, HWND frame)
{
    PostMessageW(frame, WM_COMMAND, 57665, 0);
    const ProgramBox question = WaitForBox(process, processId, L"Notelia", 30000);
    if (!question.window) return L"no close question";
    if (question.text != kCloseQuestion) return L"close question reads: " + question.text;
    Press(question, IDYES);
    const ProgramBox warning = WaitForBox(process, processId, L"ATENCION", 30000);
    if (!warning.window) return L"no warning";
    if (warning.text != kCloseWarning) return L"warning reads: " + warning.text;
    Press(warning, IDYES);
    if (WaitForSingleObject(process, 30000) != WAIT_OBJECT_0) return L"the program did not end";
    return L"";
}

// How the program ended after EndProgram.
struct ProgramEnd {
    std::wstring failure;  // empty when the close went as a user's would
    bool ended = false;
    DWORD exitCode = 1;
};

// Closes the program the user's way, or ends it by force when that fails, and waits for it.
inline ProgramEnd EndProgram(RunningProgram& program)
{
    ProgramEnd end;
    const HANDLE process = program.process.hProcess;
    end.failure = CloseProgram(process, program.process.dwProcessId, program.frame);
    if (!end.failure.empty()) TerminateProcess(process, 1);
    end.ended = WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
    GetExitCodeProcess(process, &end.exitCode);
    return end;
}

} // namespace program_driver
