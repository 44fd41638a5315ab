// Start-up and shut-down of the application object. The real program runs in the end-to-end
// test.
#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "app/NoteliaApp.h"
#include "app/WorkingFolder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WinTestSupport.h"
#include "tests/ui/frame/FrameTestSupport.h"
#include "tests/ui/frame/ProgramDriver.h"
#include "win/TextCodec.h"

namespace {

using BoxRecorder = testing_support::ScriptedBoxes;

HWND g_windowToDestroy = nullptr;

void CALLBACK DestroyMainWindow(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    DestroyWindow(g_windowToDestroy);
}

std::wstring CurrentDirectory()
{
    wchar_t directory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, directory);
    return directory;
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

TEST(NoteliaApp, StartsHiddenInItsMadeWorkingFolderAndEndsWhenTheFrameIsDestroyed)
{
    ProvisionedKey settings;
    BoxRecorder boxes;
    const std::filesystem::path folder = program_driver::ProgramFolder();
    std::filesystem::remove_all(folder.parent_path());
    CNoteliaApp app;
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(CurrentDirectory(), folder.wstring());
    const HWND frame = app.MainWindow();
    ASSERT_TRUE(IsWindow(frame));
    EXPECT_FALSE(IsWindowVisible(frame));
    EXPECT_EQ(testing_support::WindowText(frame), L"Notelia 2.5");
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

std::wstring g_lookedUpFolder;

HRESULT WINAPI FakeFolderLookup(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path)
{
    *path = nullptr;
    if (g_lookedUpFolder.empty()) return E_FAIL;
    const size_t bytes = (g_lookedUpFolder.size() + 1) * sizeof(wchar_t);
    *path = static_cast<PWSTR>(CoTaskMemAlloc(bytes));
    memcpy(*path, g_lookedUpFolder.c_str(), bytes);
    return S_OK;
}

} // namespace

// A folder that cannot be made (below a file) or found ends the start with a box saying so,
// before anything else happens, and leaves the current directory alone.
TEST(NoteliaApp, WorkingFolderThatCannotBeMadeOrFoundIsShownAndEndsTheStart)
{
    testing_support::ScopedWorkDir dir;
    testing_support::WriteBytes("plain-file", "");
    const std::wstring file = (dir.Path() / "plain-file").wstring();
    const auto real = CWorkingFolder::s_pfnKnownFolderPath;
    CWorkingFolder::s_pfnKnownFolderPath = FakeFolderLookup;
    for (const std::wstring& lookedUp : {file, std::wstring()}) {
        SCOPED_TRACE(NarrowCp1252(lookedUp));
        g_lookedUpFolder = lookedUp;
        BoxRecorder boxes;
        CNoteliaApp app;
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(app.MainWindow(), nullptr);
        EXPECT_EQ(CurrentDirectory(), dir.Path().wstring());
        ASSERT_EQ(boxes.boxes.size(), 1u);
        const std::string expected = "No se pudo crear o abrir la carpeta de trabajo" +
                                     (lookedUp.empty() ? std::string(": ") : " " + NarrowCp1252(file) + "\\Quorvex\\Notelia: ");
        EXPECT_EQ(boxes.boxes[0].text.substr(0, expected.size()), expected);
        EXPECT_GT(boxes.boxes[0].text.size(), expected.size() + 1);
        EXPECT_EQ(boxes.boxes[0].caption, "ATENCION");
        EXPECT_EQ(boxes.boxes[0].flags, 16u);
        EXPECT_EQ(app.ExitInstance(), 1);
    }
    CWorkingFolder::s_pfnKnownFolderPath = real;
}
