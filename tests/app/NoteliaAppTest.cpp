// Start-up and shut-down of the application object. The real program runs in the end-to-end
// test.
#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>
#include <shlwapi.h>

#include <filesystem>
#include <functional>
#include <string>

#include "program/NoteliaApp.h"
#include "app/WorkingFolder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WinTestSupport.h"
#include "tests/ui/frame/FrameTestSupport.h"
#include "tests/ui/frame/ProgramDriver.h"
#include "win/TextCodec.h"

namespace {

using BoxRecorder = testing_support::ScriptedBoxes;

// Counts its shut-downs.
class CountingApp : public CNoteliaApp {
public:
    int exits = 0;
    int ExitInstance() override
    {
        ++exits;
        return CNoteliaApp::ExitInstance();
    }
};

std::function<void()> g_inLoop;

void CALLBACK RunInLoop(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    g_inLoop();
}

} // namespace

// Ends by the frame's destruction, and by the end of the Windows session (whose handler shuts
// down at once; the destruction that may follow must not do it again). The end-to-end test
// shows the hidden start, the working folder and the folders of further instances.
TEST(NoteliaApp, ItsFrameIsSizableAndItShutsDownOnceOnEveryEnd)
{
    // The settings a start needs without a complaint; the server's name fails before any query
    // is sent, so no cycle reaches the network.
    frame_test::SettingsKeyScope settings;
    for (const auto& [name, value] : {std::pair<const wchar_t*, std::wstring>{L"RemoteHost", std::wstring(70, L'x')},
                                      {L"TimeOut", L"200"}, {L"MailServer", L"127.0.0.1"}})
        settings.Set(name, value);
    BoxRecorder boxes;
    // A clean tree, as a first start finds it (left-over instance folders go too).
    std::filesystem::remove_all(std::filesystem::path(program_driver::ProgramFolder()).parent_path());
    for (const bool sessionEnds : {false, true}) {
        CountingApp app;
        HWND frame = nullptr;
        g_inLoop = [&] {
            frame = app.MainWindow();
            ASSERT_TRUE(IsWindow(frame));
            const LONG style = GetWindowLongW(frame, GWL_STYLE);
            EXPECT_TRUE(style & WS_THICKFRAME);
            EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
            if (sessionEnds) {
                SendMessageW(frame, WM_ENDSESSION, TRUE, 0);
                EXPECT_EQ(app.exits, 1);
            }
            DestroyWindow(frame);
        };
        SetTimer(nullptr, 0, 10, RunInLoop);
        EXPECT_EQ(app.Run(), 0);
        EXPECT_FALSE(IsWindow(frame));
        EXPECT_EQ(app.exits, 1) << sessionEnds;
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

namespace {

std::wstring g_lookedUpFolder;

HRESULT WINAPI FakeFolderLookup(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path)
{
    *path = nullptr;
    return g_lookedUpFolder.empty() ? E_FAIL : SHStrDupW(g_lookedUpFolder.c_str(), path);
}

} // namespace

// Starts that end before the message loop: no window, exit code 1, and the box the user sees
// (none when COM was already started). A working folder that cannot be made (below a file) or
// found ends the start first and leaves the current directory alone.
TEST(NoteliaApp, FailedStartsEndWithoutAWindow)
{
    testing_support::ScopedWorkDir dir;
    testing_support::WriteBytes("plain-file", "");
    const std::string file = NarrowCp1252((dir.Path() / "plain-file").wstring());
    const auto realLookup = CWorkingFolder::s_pfnKnownFolderPath;
    const auto realStartup = CNoteliaApp::s_pfnSocketStartup;
    const struct {
        const char* folder;  // the looked-up folder (empty: not found); null: the real one
        bool socketsFail, comStarted;
        std::string box;  // the text, or its start when the system's text follows
    } rows[] = {
        {file.c_str(), false, false, "No se pudo crear o abrir la carpeta de trabajo " + file + "\\Quorvex\\Notelia: "},
        {"", false, false, "No se pudo crear o abrir la carpeta de trabajo: "},
        {nullptr, true, false, "Error al inicializar z\xF3" "calos de Windows."},
        {nullptr, false, true, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.box);
        g_lookedUpFolder = row.folder ? WidenCp1252(row.folder) : L"";
        CWorkingFolder::s_pfnKnownFolderPath = row.folder ? FakeFolderLookup : realLookup;
        CNoteliaApp::s_pfnSocketStartup = row.socketsFail ? [](WORD, LPWSADATA) -> int { return WSASYSNOTREADY; }
                                                          : realStartup;
        if (row.comStarted) { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
        BoxRecorder boxes;
        CountingApp app;
        EXPECT_EQ(app.Run(), 1);
        EXPECT_EQ(app.exits, 1);
        EXPECT_EQ(app.MainWindow(), nullptr);
        if (row.folder) { EXPECT_EQ(std::filesystem::current_path(), dir.Path()); }
        ASSERT_EQ(boxes.boxes.size(), row.box.empty() ? 0u : 1u);
        if (!row.box.empty()) {
            EXPECT_EQ(boxes.boxes[0].text.substr(0, row.box.size()), row.box);
            EXPECT_EQ(boxes.boxes[0].text.size() > row.box.size() + 1, row.folder != nullptr);
            EXPECT_EQ(boxes.boxes[0].caption, "ATENCION");
            EXPECT_EQ(boxes.boxes[0].flags, 16u);
            EXPECT_EQ(boxes.boxes[0].owner, nullptr);
        }
        if (row.comStarted) CoUninitialize();
    }
    CWorkingFolder::s_pfnKnownFolderPath = realLookup;
    CNoteliaApp::s_pfnSocketStartup = realStartup;
}
