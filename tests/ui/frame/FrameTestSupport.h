// Helpers for the main frame's tests: a frame whose fetch step and timer the test drives, a
// bounded message pump that passes through the frame as the program's loop does, scripted
// message boxes and the settings key.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/WinTestSupport.h"
#include "ui/MainFrame.h"
#include "win/MessageBox.h"

namespace frame_test {

inline const wchar_t kSettingsKeyW[] = L"Software\\Quorvex\\Zandu\\Usuario";
inline const char kKitId[] = "QX2026AB12345678";

// The settings key with the display font and a kit identifier; gone afterwards.
class SettingsKeyScope {
public:
    SettingsKeyScope()
    {
        RemoveKey();
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyW, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr);
        Set(L"Font", L"Arial");
        Set(L"FontSize", L"100");
        Set(L"IsBold", L"No");
        Set(L"IsItalic", L"No");
        Set(L"KitId", L"QX2026AB12345678");
    }
    ~SettingsKeyScope()
    {
        if (m_key) RegCloseKey(m_key);
        RemoveKey();
    }
    SettingsKeyScope(const SettingsKeyScope&) = delete;
    SettingsKeyScope& operator=(const SettingsKeyScope&) = delete;

    bool IsOpen() const { return m_key != nullptr; }
    void Set(const wchar_t* name, const std::wstring& value)
    {
        RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }

private:
    static void RemoveKey()
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettingsKeyW);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKeyW);
    }
    HKEY m_key = nullptr;
};

using testing_support::RecordedBox;
using testing_support::ScriptedBoxes;

// A frame whose fetch cycle is a script and whose timer periods are recorded instead of run.
class CTestFrame : public CMainFrame {
public:
    // The fetch step: gets the fetcher, sets its outcome, answers the change mask.
    std::function<unsigned char(CMessageFetcher&)> fetch;
    int fetches = 0;
    std::vector<UINT> timerPeriods;

    // Runs the next cycles with this outcome and mask.
    void Script(int outcome, unsigned char mask)
    {
        fetch = [outcome, mask](CMessageFetcher& fetcher) {
            fetcher.m_nOutcome = outcome;
            return mask;
        };
    }

protected:
    unsigned char RunFetch() override
    {
        ++fetches;
        if (fetch) return fetch(MutableFetcher());
        MutableFetcher().m_nOutcome = OUTCOME_NO_CONNECTION;
        return 0;
    }
    void StartTimer(UINT milliseconds) override { timerPeriods.push_back(milliseconds); }
};

// Dispatches this thread's messages, offering each to the frame first as the program's loop
// does, until `done` holds or `timeoutMs` has passed.
inline bool PumpUntil(HWND frame, const std::function<bool()>& done, DWORD timeoutMs = 5000)
{
    return testing_support::PumpUntil(done, timeoutMs, frame);
}

// Whether the shell holds an icon of `window` with `id`: only an existing icon can be changed.
inline bool ShellHasIcon(HWND window, UINT id)
{
    NOTIFYICONDATAW probe{};
    probe.cbSize = NOTIFYICONDATAW_V1_SIZE;
    probe.hWnd = window;
    probe.uID = id;
    return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

inline std::wstring WindowText(HWND hWnd)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hWnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hWnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace frame_test
