// A main frame whose cycle is a script (or the real one against the scripted web server) and
// whose timer periods are recorded instead of run.
#pragma once

#include <windows.h>

#include <vector>

#include "tests/support/WinTestSupport.h"
#include "ui/MainFrame.h"

namespace frame_test {

using testing_support::RemoveShellIcon;
using testing_support::ShellHasIcon;
inline const char kKitId[] = "QX2026AB12345678";

// The settings key with the display font and a kit identifier, for a whole program's start.
class SettingsKeyScope : public testing_support::ScopedSettingsKey {
public:
    SettingsKeyScope()
    {
        const wchar_t* const values[][2] = {{L"Font", L"Arial"}, {L"FontSize", L"100"}, {L"IsBold", L"No"},
                                            {L"IsItalic", L"No"}, {L"KitId", L"QX2026AB12345678"}};
        for (const auto& value : values) Set(value[0], value[1]);
    }
};

class CTestFrame : public CMainFrame {
public:
    CTestFrame(unsigned short port, unsigned long timeOut) : CMainFrame(port, timeOut) {}

    // The cycle, on the worker (empty: the real one).
    FetchJob fetch;
    int fetches = 0;
    std::vector<UINT> timerPeriods;
    // The worker's result never reaches the frame.
    bool failPosts = false;

    CMessageFetcher& RealFetcher() { return MutableFetcher(); }
    FetchJob RealJob() { return CMainFrame::MakeFetchJob(); }

protected:
    FetchJob MakeFetchJob() override
    {
        ++fetches;
        return fetch ? fetch : CMainFrame::MakeFetchJob();
    }
    PostFunction ResultPoster() const override { return failPosts ? &FailedPost : CMainFrame::ResultPoster(); }
    void StartTimer(UINT milliseconds) override { timerPeriods.push_back(milliseconds); }

private:
    static BOOL WINAPI FailedPost(HWND, UINT, WPARAM, LPARAM)
    {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
};

} // namespace frame_test
