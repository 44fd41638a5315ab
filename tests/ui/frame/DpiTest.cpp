// The frame, the send dialog and the About box at 144 dots per inch against 96: this program
// measures them at its own scale, then starts itself once more with the prefix's LogPixels
// at 144 (read by Wine when a process starts) and compares. The frame then takes a
// WM_DPICHANGED to 144 and must match the program started at that scale.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "request/SendMessageDlg.h"
#include "res/resource.h"
#include "tests/support/TestFiles.h"
#include "tests/ui/frame/FrameTestSupport.h"
#include "ui/AboutDlg.h"
#include "win/Dpi.h"

using namespace frame_test;
using namespace testing_support;

namespace {

using Layout = std::map<std::string, RECT>;

// Every child of `window` (and theirs) in its parent's client coordinates, named by the path of
// z-order positions, with "+" when it sticks out of its parent's client area.
void MeasureChildren(HWND window, const std::string& name, Layout& layout)
{
    RECT client{};
    GetClientRect(window, &client);
    int index = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT), ++index) {
        // The dialogs are measured before they are first shown.
        if (!(GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE)) continue;
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
        const bool clipped = rect.left < 0 || rect.top < 0 || rect.right > client.right || rect.bottom > client.bottom;
        const std::string path = name + "/" + std::to_string(index);
        layout[path + (clipped ? "+" : "")] = rect;
        MeasureChildren(child, path, layout);
    }
}

void MeasureWindow(HWND window, const std::string& name, Layout& layout)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    layout[name + "@"] = {0, 0, rect.right - rect.left, rect.bottom - rect.top};
    GetClientRect(window, &layout[name]);
    MeasureChildren(window, name, layout);
}

// The three windows as this process's scale makes them; with `dpiChange`, the frame also after
// a WM_DPICHANGED to that scale.
Layout MeasureAll(UINT dpiChange = 0)
{
    Layout layout;
    ScopedWorkDir dir;
    SettingsKeyScope key;
    ScriptedBoxes boxes;
    auto* frame = new CTestFrame(0, 1000);
    EXPECT_TRUE(frame->LoadFrame(IDR_MAINFRAME, CMainFrame::kFrameStyle));
    const HWND hWnd = frame->Handle();
    ShowWindow(hWnd, SW_SHOW);
    PumpUntil([] { return false; }, 100, hWnd);
    MeasureWindow(hWnd, "frame", layout);

    const auto measureDialog = [&](CDialog& dialog, const char* name) {
        dialog.RunModalWithScript(hWnd, [&](HWND box) {
            PumpUntil([] { return false; }, 100);
            MeasureWindow(box, name, layout);
            dialog.EndDialog(IDCANCEL);
        });
    };
    CSendMessageDlg send;
    send.RecipientList = "Zandu = ayuda@example.com";
    measureDialog(send, "send");
    CAboutDlg about;
    measureDialog(about, "about");

    if (dpiChange) {
        RECT rect{};
        GetWindowRect(hWnd, &rect);
        const RECT suggested{rect.left, rect.top, rect.left + MulDiv(rect.right - rect.left, dpiChange, 96),
                             rect.top + MulDiv(rect.bottom - rect.top, dpiChange, 96)};
        SendMessageW(hWnd, WM_DPICHANGED, MAKEWPARAM(dpiChange, dpiChange), reinterpret_cast<LPARAM>(&suggested));
        PumpUntil([] { return false; }, 100, hWnd);
        Layout changed;
        MeasureWindow(hWnd, "frame", changed);
        for (const auto& [name, rect] : changed) layout["changed:" + name] = rect;
    }
    DestroyWindow(hWnd);
    return layout;
}

void Write(const Layout& layout, const char* path)
{
    std::ofstream out(path);
    for (const auto& [name, r] : layout) out << name << ' ' << r.left << ' ' << r.top << ' ' << r.right << ' ' << r.bottom << '\n';
}

Layout Read(const char* path)
{
    Layout layout;
    std::ifstream in(path);
    std::string name;
    for (RECT r{}; in >> name >> r.left >> r.top >> r.right >> r.bottom;) layout[name] = r;
    return layout;
}

// This program again, measuring into `path` with the prefix's user at 144 dots per inch (its
// LogPixels, absent again afterwards).
bool MeasureInAProcessAt144(const std::string& path)
{
    HKEY key = nullptr;
    const DWORD dpi = 144;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    const bool ended = RunProgram(SelfPath(), L"--measure " + std::wstring(path.begin(), path.end()), 60000);
    RegDeleteValueW(key, L"LogPixels");
    RegCloseKey(key);
    return ended;
}

} // namespace

TEST(DpiTest, FrameSendDialogAndAboutBoxScaleByOneAndAHalfAt144DpiAndNothingIsClipped)
{
    ASSERT_EQ(WindowDpi(nullptr), 96u);
    const Layout normal = MeasureAll(144);
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "notelia-dpi-" + std::to_string(GetCurrentProcessId()) + ".txt";
    ASSERT_TRUE(MeasureInAProcessAt144(path));
    const Layout large = Read(path.c_str());
    DeleteFileA(path.c_str());
    ASSERT_EQ(large.count("frame@"), 1u) << "the program at 144 dpi measured nothing";

    int compared = 0;
    for (const auto& [name, r] : normal) {
        SCOPED_TRACE(name);
        EXPECT_EQ(name.find('+'), std::string::npos) << "sticks out of its parent at 96 dpi";
        const bool changed = name.rfind("changed:", 0) == 0;
        // A message alone leaves the system's borders, caption and menu as they were: after it
        // only the window, its bars and the view are at the new scale.
        if (changed && name != "changed:frame@" && name.rfind("changed:frame/1", 0) != 0 &&
            name != "changed:frame/0/0")
            continue;
        const auto other = large.find(changed ? name.substr(8) : name);
        if (other == large.end()) {
            ADD_FAILURE() << "missing (or sticking out of its parent) at 144 dpi";
            continue;
        }
        // Against the program started at 144 dpi for the changed frame, else 1.5 times this.
        // The dialogs scale as their font's hinted letters do (Wine's substitute for every
        // dialog face widens 7 to 10 pixels, 1.43 times): 5 % besides the few pixels.
        const RECT& b = other->second;
        const RECT want = changed ? b : RECT{r.left * 3 / 2, r.top * 3 / 2, r.right * 3 / 2, r.bottom * 3 / 2};
        const RECT& got = changed ? r : b;
        const bool dialog = name.rfind("frame", 0) != 0 && !changed;
        const auto slack = [dialog](long value) { return 5 + (dialog ? std::labs(value) / 20 : 0); };
        EXPECT_NEAR(got.left, want.left, slack(want.left));
        EXPECT_NEAR(got.top, want.top, slack(want.top));
        EXPECT_NEAR(got.right, want.right, slack(want.right));
        EXPECT_NEAR(got.bottom, want.bottom, slack(want.bottom));
        ++compared;
    }
    EXPECT_GT(compared, 30);
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--measure") == 0) {
        Write(MeasureAll(), argv[2]);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
