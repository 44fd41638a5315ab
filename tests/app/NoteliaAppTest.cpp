// Start-up and shut-down of the application object, and of the real program under Wine.
#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/NoteliaApp.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WinTestSupport.h"
#include "tests/ui/frame/FrameTestSupport.h"
#include "tests/ui/frame/ProgramDriver.h"
#include "win/MessageBox.h"
#include "win/TextCodec.h"

namespace {

using BoxRecorder = testing_support::ScriptedBoxes;

HWND g_windowToDestroy = nullptr;

void CALLBACK DestroyMainWindow(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    DestroyWindow(g_windowToDestroy);
}

std::wstring WindowTitle(HWND hWnd)
{
    wchar_t title[100] = {};
    GetWindowTextW(hWnd, title, 100);
    return title;
}

// The settings a start needs without a complaint; the server's name fails before any query is
// sent, so no cycle reaches the network.
class ProvisionedKey : public frame_test::SettingsKeyScope {
public:
    ProvisionedKey()
    {
        Set(L"RemoteHost", std::wstring(70, L'x'));
        Set(L"TimeOut", L"200");
        Set(L"MailServer", L"127.0.0.1");
    }
};

} // namespace

TEST(NoteliaApp, StartsHiddenAndEndsWhenTheFrameIsDestroyed)
{
    ProvisionedKey settings;
    BoxRecorder boxes;
    CNoteliaApp app;
    ASSERT_TRUE(app.InitInstance());
    const HWND frame = app.MainWindow();
    ASSERT_TRUE(IsWindow(frame));
    EXPECT_FALSE(IsWindowVisible(frame));
    EXPECT_EQ(WindowTitle(frame), L"Notelia 2.5");
    const LONG style = GetWindowLongW(frame, GWL_STYLE);
    EXPECT_TRUE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));

    g_windowToDestroy = frame;
    SetTimer(nullptr, 0, 10, DestroyMainWindow);
    EXPECT_EQ(app.RunMessageLoop(), 0);
    EXPECT_FALSE(IsWindow(frame));
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST(NoteliaApp, SocketStartFailureIsShownAndEndsTheStart)
{
    BoxRecorder boxes;
    const auto real = CNoteliaApp::s_pfnSocketStartup;
    CNoteliaApp::s_pfnSocketStartup = [](WORD, LPWSADATA) -> int { return WSASYSNOTREADY; };
    CNoteliaApp app;
    const BOOL started = app.InitInstance();
    CNoteliaApp::s_pfnSocketStartup = real;

    EXPECT_FALSE(started);
    EXPECT_EQ(app.MainWindow(), nullptr);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Error al inicializar z\xF3" "calos de Windows.");
    EXPECT_EQ(boxes.boxes[0].caption, "ATENCION");
    EXPECT_EQ(boxes.boxes[0].flags, 16u);
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_NE(app.ExitInstance(), 0);
}

TEST(NoteliaApp, ComAlreadyStartedOnTheThreadCountsAsFailure)
{
    BoxRecorder boxes;
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    CNoteliaApp app;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.MainWindow(), nullptr);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_NE(app.ExitInstance(), 0);
    CoUninitialize();
}

namespace {

std::wstring ProgramPath()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    path.resize(path.find_last_of(L"\\/") + 1);
    // The program is built at the top of the build tree, two levels above this test.
    return path + L"..\\..\\" + WidenCp1252(NOTELIA_EXE);
}

} // namespace

TEST(NoteliaProgram, RunsInvisiblyAndEndsAfterTheCloseCommandAndTwoYes)
{
    using namespace program_driver;
    ProvisionedKey settings;
    testing_support::ScopedWorkDir dir;
    RunningProgram program;
    ASSERT_TRUE(StartProgram(ProgramPath(), program)) << GetLastError();
    const HWND frame = program.frame;
    EXPECT_FALSE(IsWindowVisible(frame));

    // The caption's close only hides: the close command that follows still finds the program.
    PostMessageW(frame, WM_CLOSE, 0, 0);

    const ProgramEnd end = EndProgram(program);
    EXPECT_EQ(end.failure, L"");
    ASSERT_TRUE(end.ended);
    EXPECT_EQ(end.exitCode, 0u);
    // No icon stays behind.
    EXPECT_FALSE(frame_test::ShellHasIcon(frame, 133));
}
