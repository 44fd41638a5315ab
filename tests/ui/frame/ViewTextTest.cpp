// The frame's message view: what a message file's bytes look like in it, and a quarter
// megabyte on one line shown while another thread watches whether the window answers.
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

// Seconds that `thread` has run, in the system and in the program.
double CpuSeconds(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(thread, &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) { return (ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

class ViewTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_frame = new CTestFrame(0, 1500);
        ASSERT_TRUE(m_frame->LoadFrame(IDR_MAINFRAME, CMainFrame::kFrameStyle));
        m_hWnd = m_frame->Handle();
    }
    void TearDown() override
    {
        if (IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
    }
    // The user picks Información General, whose file is "mensaje.txt".
    void ChooseGeneral()
    {
        const HWND selector = m_frame->Selector().Handle();
        SendMessageW(selector, CB_SETCURSEL, CATEGORY_GENERAL, 0);
        SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_CATEGORY, CBN_SELENDOK), reinterpret_cast<LPARAM>(selector));
    }
    // The view's text without the marks of its own soft line breaks.
    std::u16string Shown() const
    {
        const HWND view = m_frame->View().Handle();
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(view)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(GetWindowTextW(view, text.data(), static_cast<int>(text.size()))));
        std::u16string shown;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 3, L"\r\r\n") == 0) i += 2;
            else shown.push_back(static_cast<char16_t>(text[i]));
        }
        return shown;
    }

    ScopedWorkDir m_dir;
    SettingsKeyScope m_key;
    ScriptedBoxes m_boxes;
    CTestFrame* m_frame = nullptr;
    HWND m_hWnd = nullptr;
};

} // namespace

TEST_F(ViewTextTest, FilesInWindows1252AndInUtf8ReadAsWrittenAndKeepTheirBytes)
{
    const std::u8string utf8 = u8"Información: 5 €";
    const std::string files[] = {"Informaci\xF3n: 5 \x80", std::string(utf8.begin(), utf8.end()),
                                 "\xEF\xBB\xBF" + std::string(utf8.begin(), utf8.end())};
    for (const auto& bytes : files) {
        WriteBytes("mensaje.txt", bytes);
        ChooseGeneral();
        EXPECT_EQ(Shown(), u"Información: 5 €") << bytes;
        // News shows it the same way.
        m_frame->Script(1, 1);
        SendMessageW(m_hWnd, WM_COMMAND, ID_FILE_FETCH, 0);
        ASSERT_TRUE(PumpUntil([&] { return !m_frame->IsFetching(); }, 5000, m_hWnd));
        EXPECT_EQ(Shown(), u"Información: 5 €") << bytes;
        EXPECT_EQ(ReadBytes("mensaje.txt"), bytes);
    }
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_F(ViewTextTest, AQuarterMegabyteOnOneLineNeverHoldsTheWindow)
{
    std::string line;
    while (line.size() < 256 * 1024) line += "Aviso de informaci\xF3n general ";
    WriteBytes("mensaje.txt", line);

    // Another thread asks the window, over and over, for an answer to WM_NULL and notes how
    // long the window's thread ran before it answered: its own work, whatever the load of
    // the machine.
    HANDLE ui = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &ui, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    std::atomic<bool> filling = true, stop = false, stopped = false;
    double longest = 0;
    int answeredWhileFilling = 0;
    std::thread watcher([&] {
        while (!stop) {
            const double before = CpuSeconds(ui);
            DWORD_PTR result = 0;
            SendMessageTimeoutW(m_hWnd, WM_NULL, 0, 0, SMTO_NORMAL, 120000, &result);
            longest = std::max(longest, CpuSeconds(ui) - before);
            if (filling) ++answeredWhileFilling;
        }
        stopped = true;
    });
    ChooseGeneral();
    const bool shown = PumpUntil([&] { return !m_frame->View().Filling(); }, 240000, m_hWnd);
    filling = false;
    stop = true;
    PumpUntil([&] { return stopped.load(); }, 120000, m_hWnd);
    watcher.join();
    CloseHandle(ui);

    ASSERT_TRUE(shown);
    EXPECT_LT(longest, 0.1);
    EXPECT_GT(answeredWhileFilling, 0);
    // All of it is there, in lines the control lays out quickly; the file is as it came.
    EXPECT_EQ(Shown(), MessageViewText(line));
    EXPECT_EQ(ReadBytes("mensaje.txt"), line);
    EXPECT_TRUE(m_boxes.boxes.empty());
}
