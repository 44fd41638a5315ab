// Helpers shared by the Windows test suites: a bounded message pump, window texts, Windows
// Sockets started for the whole test program, scripted message boxes, a recording window and
// the settings key.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/Errors.h"
#include "win/MessageBox.h"
#include "win/Window.h"

namespace testing_support {

// The error code that `action` raises (0: none).
inline long CodeOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CCodeException& e) {
        return e.Code();
    }
    return 0;
}

// Dispatches this thread's messages until `done` holds or `timeoutMs` has passed. With a
// `frame`, each message is first offered to it, as the program's message loop does.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000, HWND frame = nullptr)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            CWindow* window = frame && IsWindow(frame) ? CWindow::FromHandle(frame) : nullptr;
            if (window && window->PreTranslateMessage(msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
    }
}

inline std::wstring WindowText(HWND hWnd)
{
    wchar_t text[1024] = {};
    GetWindowTextW(hWnd, text, 1024);
    return text;
}

inline std::wstring ClassName(HWND hWnd)
{
    wchar_t name[128] = {};
    GetClassNameW(hWnd, name, 128);
    return name;
}

// This test program's path.
inline std::wstring SelfPath()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

// Runs `program` with `arguments`, answering this thread's messages meanwhile; true once it has
// ended, false when it did not start or overran `timeoutMs` (it is then ended).
inline bool RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs)
{
    std::wstring command = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < end &&
           MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, static_cast<DWORD>(end - GetTickCount64()),
                                     QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
        PumpUntil([] { return true; }, 0);
    const bool ended = WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
    TerminateProcess(process.hProcess, 1);  // only one that overran its time is still there
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended;
}

// The program starts Windows Sockets itself; a test program does it here.
class WinsockEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

struct RecordedBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT flags;
    bool operator==(const RecordedBox&) const = default;
};
inline void PrintTo(const RecordedBox& box, std::ostream* out)
{
    *out << "box \"" << box.caption << "\": \"" << box.text << "\" flags " << box.flags << " owner " << box.owner;
}

// Answers message boxes from a queue of answers (`otherwise` once it is empty) and records
// them, for the object's lifetime.
class ScriptedBoxes {
public:
    explicit ScriptedBoxes(std::deque<int> answers = {}, int otherwise = IDOK) : answers(std::move(answers))
    {
        m_previous = SetMessageBoxHandler([this, otherwise](HWND owner, const std::string& text,
                                                            const std::string& caption, UINT flags) {
            boxes.push_back({owner, text, caption, flags});
            if (onBox) onBox();
            if (this->answers.empty()) return otherwise;
            const int answer = this->answers.front();
            this->answers.pop_front();
            return answer;
        });
    }
    ~ScriptedBoxes() { SetMessageBoxHandler(m_previous); }
    ScriptedBoxes(const ScriptedBoxes&) = delete;
    ScriptedBoxes& operator=(const ScriptedBoxes&) = delete;

    std::deque<int> answers;
    std::vector<RecordedBox> boxes;
    // Runs while a box is "on screen", as the user's actions during a real box would.
    std::function<void()> onBox;

private:
    MessageBoxHandler m_previous;
};

// A top-level window that records the commands and WM_NULL messages it gets.
class CRecorderWindow : public CWindow {
public:
    bool Create(DWORD style = WS_OVERLAPPEDWINDOW)
    {
        WNDCLASSEXW wc{};
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        if (!RegisterWindowClass(L"NoteliaTestRecorder", wc)) return false;
        return CreateEx(0, L"NoteliaTestRecorder", L"recorder", style, 100, 100, 520, 340, nullptr, nullptr);
    }

    std::vector<UINT> commands;  // their ids
    int nullMessages = 0;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (msg == WM_COMMAND) {
            commands.push_back(LOWORD(wParam));
            return 0;
        }
        if (msg == WM_NULL) ++nullMessages;
        return Default(msg, wParam, lParam);
    }
};

inline const wchar_t kSettingsKey[] = L"Software\\Quorvex\\Zandu\\Usuario";

// The data of `name` under `root`'s settings key exactly as long as stored, and its type; "-"
// when there is no such value.
inline std::wstring StoredSetting(HKEY root, const wchar_t* name, DWORD* type = nullptr)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return L"-";
    wchar_t data[256] = {};
    DWORD bytes = sizeof data;
    const LSTATUS rc = RegQueryValueExW(key, name, nullptr, type, reinterpret_cast<BYTE*>(data), &bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::wstring(data, bytes / sizeof(wchar_t)) : L"-";
}

// The program's settings key, created empty for the object's lifetime and gone afterwards.
class ScopedSettingsKey {
public:
    ScopedSettingsKey()
    {
        Remove();
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr);
    }
    ~ScopedSettingsKey()
    {
        if (m_key) RegCloseKey(m_key);
        Remove();
    }
    ScopedSettingsKey(const ScopedSettingsKey&) = delete;
    ScopedSettingsKey& operator=(const ScopedSettingsKey&) = delete;

    HKEY Key() const { return m_key; }
    // Stores `text` as an administrator's .reg file would, with its terminator; without it
    // (`terminator` false) a non-zero unit follows, or the system would count one in anyway.
    bool Set(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ, bool terminator = true)
    {
        const std::wstring data = text + std::wstring(1, terminator ? L'\0' : L'\xFFFF');
        const DWORD bytes = static_cast<DWORD>((text.size() + (terminator ? 1 : 0)) * sizeof(wchar_t));
        return RegSetValueExW(m_key, name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()), bytes) ==
               ERROR_SUCCESS;
    }
    bool Delete(const wchar_t* name) { return RegDeleteValueW(m_key, name) == ERROR_SUCCESS; }
    std::wstring Raw(const wchar_t* name, DWORD* type = nullptr) const
    {
        return StoredSetting(HKEY_LOCAL_MACHINE, name, type);
    }
    static void Remove()
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettingsKey);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKey);
    }

private:
    HKEY m_key = nullptr;
};

} // namespace testing_support

#include <shellapi.h>

namespace testing_support {

// The MSAA name of each control of `window` by control id, as an outside process reads it:
// accessible_names.exe beside the test program, whose questions (WM_GETOBJECT, WM_GETTEXT)
// this thread answers while it runs.
inline std::vector<std::pair<int, std::wstring>> AccessibleNames(HWND window)
{
    std::wstring folder = SelfPath();
    folder.resize(folder.find_last_of(L"\\/") + 1);
    const std::wstring out = folder + L"names-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    RunProgram(folder + L"accessible_names.exe",
               std::to_wstring(reinterpret_cast<INT_PTR>(window)) + L" \"" + out + L"\"", 30000);
    std::vector<std::pair<int, std::wstring>> names;
    if (FILE* file = _wfopen(out.c_str(), L"rb")) {
        std::wstring text;
        wchar_t unit;
        while (std::fread(&unit, sizeof unit, 1, file) == 1) text += unit;
        std::fclose(file);
        for (std::size_t at = 0, tab; (tab = text.find(L'\t', at)) != std::wstring::npos;) {
            const std::size_t line = text.find(L'\n', tab);
            names.emplace_back(std::stoi(text.substr(at, tab - at)), text.substr(tab + 1, line - tab - 1));
            at = line + 1;
        }
    }
    DeleteFileW(out.c_str());
    return names;
}

// Every visible, enabled field of `dialog` (each control but the static texts) has the MSAA name of
// its label, the static text just before it (a button: its own text), without the ampersand;
// each field is in the tab order (a read-only one may stay out), its label with a mnemonic.
inline void ExpectFieldsNamedByTheirLabels(HWND dialog)
{
    const auto names = AccessibleNames(dialog);
    std::size_t index = 0, fields = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT), ++index) {
        const bool button = _wcsicmp(ClassName(child).c_str(), L"Button") == 0;
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if (_wcsicmp(ClassName(child).c_str(), L"Static") == 0 || !(style & WS_VISIBLE) || (style & WS_DISABLED))
            continue;
        ++fields;
        std::wstring label = WindowText(button ? child : GetWindow(child, GW_HWNDPREV));
        SCOPED_TRACE(::testing::Message() << "control " << GetDlgCtrlID(child) << " label " << label);
        const std::size_t mnemonic = label.find(L'&');
        if (mnemonic != std::wstring::npos) label.erase(mnemonic, 1);
        ASSERT_LT(index, names.size());
        EXPECT_EQ(names[index].first, GetDlgCtrlID(child));
        // Wine's reader names a combo box by its current text, where Windows takes the label.
        if (_wcsicmp(ClassName(child).c_str(), L"ComboBox") != 0) {
            EXPECT_EQ(names[index].second, label);
        }
        if (button) continue;
        // Reached by Tab, or a read-only field that only shows a value.
        const bool readOnly = _wcsicmp(ClassName(child).c_str(), L"Edit") == 0 && (style & ES_READONLY);
        EXPECT_TRUE((style & WS_TABSTOP) || readOnly);
        if (style & WS_TABSTOP) {
            EXPECT_NE(mnemonic, std::wstring::npos);
        }
    }
    EXPECT_GT(fields, 0u);
}

// Whether the shell holds an icon of `window` with `id`: only an existing icon can be changed.
// Removing one is what a taskbar that went away does to it.
inline bool ShellIconCall(DWORD operation, HWND window, UINT id)
{
    NOTIFYICONDATAW probe{};
    probe.cbSize = NOTIFYICONDATAW_V1_SIZE;
    probe.hWnd = window;
    probe.uID = id;
    return Shell_NotifyIconW(operation, &probe) != FALSE;
}
inline bool ShellHasIcon(HWND window, UINT id) { return ShellIconCall(NIM_MODIFY, window, id); }
inline bool RemoveShellIcon(HWND window, UINT id) { return ShellIconCall(NIM_DELETE, window, id); }

// Another program's icon, held for a whole suite as on a desktop: the notification area then
// never empties, and an empty one costs Wine a two-second wait each time.
class TrayKeeper : public ::testing::Environment {
public:
    void SetUp() override
    {
        m_window = CreateWindowExW(0, L"STATIC", L"keeper", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(PumpUntil([] { return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }));
        NOTIFYICONDATAW nid{};
        nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
        nid.hWnd = m_window;
        nid.uID = 1;
        nid.uFlags = NIF_ICON;
        nid.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
        ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &nid));
    }
    void TearDown() override
    {
        RemoveShellIcon(m_window, 1);
        DestroyWindow(m_window);
    }

private:
    HWND m_window = nullptr;
};

} // namespace testing_support
