// The frame's message view: a file in UTF-8 as news shows it, then a quarter megabyte on one
// line chosen while another thread watches whether the window answers.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "res/resource.h"
#include "retrieval/MessageText.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WinTestSupport.h"
#include "tests/ui/frame/FrameTestSupport.h"

using namespace frame_test;
using namespace testing_support;

namespace {

const auto* const g_winsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);
const auto* const g_keeper = ::testing::AddGlobalTestEnvironment(new TrayKeeper);

// Seconds that `thread` has run.
double CpuSeconds(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(thread, &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) { return (ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

// The view's text without the marks of its own soft line breaks.
std::u16string Shown(HWND view)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(view)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(view, text.data(), static_cast<int>(text.size()))));
    std::u16string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, L"\r\r\n") == 0) i += 2;
        else shown.push_back(static_cast<char16_t>(text[i]));
    }
    return shown;
}

} // namespace

TEST(ViewTextTest, UnicodeAsWrittenAndAQuarterMegabyteOnOneLineNeverHoldsTheWindow)
{
    // The work directory outlives the frame, whose fetcher deletes its files there.
    ScopedWorkDir dir;
    SettingsKeyScope key;
    ScriptedBoxes boxes;
    auto* frame = new CTestFrame(0, 1500);
    ASSERT_TRUE(frame->LoadFrame(IDR_MAINFRAME, CMainFrame::kFrameStyle));
    const HWND hWnd = frame->Handle(), view = frame->View().Handle();

    const std::u8string words = u8"Aviso de información general, 5 € ";
    const std::string utf8(words.begin(), words.end());
    WriteBytes("mensaje.txt", utf8);
    frame->fetch = [] { return CMainFrame::CycleOutcome{1, OUTCOME_NEWS}; };
    SendMessageW(hWnd, WM_COMMAND, ID_FILE_FETCH, 0);
    ASSERT_TRUE(PumpUntil([&] { return !frame->IsFetching(); }, 5000, hWnd));
    EXPECT_EQ(Shown(view), u"Aviso de información general, 5 € ");

    std::string line;
    while (line.size() < 256 * 1024) line += utf8;
    WriteBytes("mensaje.txt", line);
    // Another thread asks the window for an answer to WM_NULL, over and over, and notes how
    // long the window's thread ran before it answered: its own work, whatever the machine's load.
    HANDLE ui = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &ui, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    std::atomic<bool> filling = true, stop = false, stopped = false;
    double longest = 0;
    int answeredWhileFilling = 0;
    std::thread watcher([&] {
        for (DWORD_PTR result = 0; !stop;) {
            const double before = CpuSeconds(ui);
            SendMessageTimeoutW(hWnd, WM_NULL, 0, 0, SMTO_NORMAL, 120000, &result);
            longest = std::max(longest, CpuSeconds(ui) - before);
            if (filling) ++answeredWhileFilling;
        }
        stopped = true;
        PostMessageW(hWnd, WM_NULL, 0, 0); // wakes the pump below
    });
    const HWND selector = frame->Selector().Handle();
    SendMessageW(selector, CB_SETCURSEL, CATEGORY_GENERAL, 0);
    SendMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDC_CATEGORY, CBN_SELENDOK), reinterpret_cast<LPARAM>(selector));
    const bool shown = PumpUntil([&] { return !frame->View().Filling(); }, 240000, hWnd);
    filling = false;
    stop = true;
    PumpUntil([&] { return stopped.load(); }, 120000, hWnd);
    watcher.join();
    CloseHandle(ui);

    EXPECT_TRUE(shown);
    EXPECT_LT(longest, 0.1);
    EXPECT_GT(answeredWhileFilling, 0);
    // All of it, in lines that the control lays out quickly; the file is as it came.
    EXPECT_EQ(Shown(view), MessageViewText(line));
    EXPECT_EQ(ReadBytes("mensaje.txt"), line);
    EXPECT_TRUE(boxes.boxes.empty());
    DestroyWindow(hWnd);
}
