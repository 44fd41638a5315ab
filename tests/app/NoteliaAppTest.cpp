// Start-up and shut-down of the application object, and of the real program under Wine.
#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/NoteliaApp.h"
#include "win/MessageBox.h"
#include "win/TextCodec.h"

namespace {

struct RecordedBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT flags;
};

// Records every message box instead of showing it.
class BoxRecorder {
public:
    BoxRecorder()
    {
        m_previous = SetMessageBoxHandler([this](HWND owner, const std::string& text, const std::string& caption,
                                                 UINT flags) {
            boxes.push_back({owner, text, caption, flags});
            return IDOK;
        });
    }
    ~BoxRecorder() { SetMessageBoxHandler(m_previous); }
    std::vector<RecordedBox> boxes;

private:
    MessageBoxHandler m_previous;
};

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

} // namespace

TEST(NoteliaApp, StartsHiddenAndEndsWhenTheFrameIsDestroyed)
{
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

struct FindContext {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND hWnd, LPARAM lParam)
{
    auto* context = reinterpret_cast<FindContext*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if (pid == context->processId && WindowTitle(hWnd) == L"Notelia 2.5") {
        context->found = hWnd;
        return FALSE;
    }
    return TRUE;
}

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

TEST(NoteliaProgram, RunsInvisiblyAndEndsWhenItsWindowGoes)
{
    std::wstring commandLine = L"\"" + ProgramPath() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process))
        << GetLastError();

    FindContext context{process.dwProcessId, nullptr};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!context.found && std::chrono::steady_clock::now() < deadline) {
        EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&context));
        if (!context.found) WaitForSingleObject(process.hProcess, 50);
    }
    ASSERT_NE(context.found, nullptr);
    EXPECT_FALSE(IsWindowVisible(context.found));

    PostMessageW(context.found, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}
