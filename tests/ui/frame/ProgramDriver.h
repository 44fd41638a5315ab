// Drives the real notelia.exe from a test process as a user would: finds its windows and
// answers its message boxes. Every wait is bounded and ends early when the program ends.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

namespace program_driver {

inline std::wstring TextOf(HWND hWnd)
{
    wchar_t text[1024] = {};
    GetWindowTextW(hWnd, text, 1024);
    return text;
}

inline std::wstring ClassOf(HWND hWnd)
{
    wchar_t name[128] = {};
    GetClassNameW(hWnd, name, 128);
    return name;
}

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
            if (pid != s->processId || TextOf(hWnd) != *s->title) return TRUE;
            if (s->className && ClassOf(hWnd) != s->className) return TRUE;
            s->found = hWnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
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
    if (box.window) box.text = TextOf(GetDlgItem(box.window, 0xFFFF));
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

} // namespace program_driver
