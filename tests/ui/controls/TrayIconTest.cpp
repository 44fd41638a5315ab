// The tray icon against the shell's real notification area (Wine's explorer tray).
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/support/WinTestSupport.h"
#include "ui/NoteliaIcon.h"

using testing_support::CRecorderWindow;
using testing_support::PumpUntil;

namespace {

constexpr UINT kCallback = WM_USER;
const auto* const g_keeper = ::testing::AddGlobalTestEnvironment(new testing_support::TrayKeeper);

class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_window.Create()); }
    bool ShellHasIcon() { return testing_support::ShellHasIcon(m_window.Handle(), IDR_TRAYMENU); }
    static std::wstring Tip(const CNoteliaIcon& icon) { return icon.NotifyData().szTip; }

    CRecorderWindow m_window;
};

// One step of an icon's life: 'S' requests state `id` (answering `result`), 'L' the shell
// loses the icon (the taskbar went away), 'T' the taskbar announces its re-creation.
struct Step {
    char op;
    UINT id = 0;
    BOOL result = TRUE;
};
struct LifeRow {
    const char* name;
    std::vector<Step> steps;
    int state;
    bool shown;
    const wchar_t* tip;
};

} // namespace

TEST_F(TrayIconTest, RemovalAndRecreation)
{
    const LifeRow rows[] = {
        {"removed by state 0, twice, then added", {{'S', 131}, {'S', 0}, {'S', 0}}, 0, false, L"No hay conexi\u00f3n."},
        {"added again after a removal", {{'S', 131}, {'S', 0}, {'S', 132}}, 132, true, L"No hay mensajes."},
        // 133 names a menu: no string, no icon.
        {"a state without resources removes", {{'S', 131}, {'S', IDR_TRAYMENU}}, IDR_TRAYMENU, false, L""},
        {"a lost icon fails once, then is added", {{'S', 131}, {'L'}, {'S', 132, FALSE}, {'S', 130}}, 130, true,
         L"Hay mensajes!"},
        {"the taskbar's return adds it at once", {{'S', 130}, {'L'}, {'T'}}, 130, true, L"Hay mensajes!"},
        {"an icon that survived is changed in place", {{'S', 130}, {'T'}, {'S', 132}}, 132, true, L"No hay mensajes."},
        {"the return after a failed change shows the last state", {{'S', 131}, {'L'}, {'S', 132, FALSE}, {'T'}}, 132,
         true, L"No hay mensajes."},
        {"without a state the return adds nothing", {{'T'}}, 0, false, L""},
        {"after a removal the return adds nothing", {{'S', 131}, {'S', 0}, {'T'}}, 0, false, L"No hay conexi\u00f3n."},
    };
    for (const LifeRow& row : rows) {
        SCOPED_TRACE(row.name);
        CNoteliaIcon icon(IDR_TRAYMENU);
        icon.SetNotifyWindow(m_window.Handle(), kCallback);
        for (const Step& step : row.steps) {
            if (step.op == 'S') {
                EXPECT_EQ(icon.SetIconFromResource(step.id), step.result) << step.id;
            }
            if (step.op == 'T') icon.OnTaskbarCreated();
            if (step.op == 'L') {
                ASSERT_TRUE(testing_support::RemoveShellIcon(m_window.Handle(), IDR_TRAYMENU));
            }
        }
        EXPECT_EQ(icon.TrayState(), row.state);
        EXPECT_EQ(icon.IsIconShown(), row.shown);
        EXPECT_EQ(ShellHasIcon(), row.shown);
        EXPECT_EQ(Tip(icon), row.tip);
    }
}

// Each state's own icon (the table above shows their tips), given tips, and the destructor.
TEST_F(TrayIconTest, StatesIconsAndGivenTipsWhichAreCutAndAlwaysTerminated)
{
    const HICON shared = LoadIconW(nullptr, IDI_APPLICATION);
    {
        CNoteliaIcon icon(IDR_TRAYMENU);
        icon.SetNotifyWindow(m_window.Handle(), kCallback);
        ASSERT_TRUE(icon.SetIconFromResource(IDI_NO_CONEXION));
        EXPECT_EQ(icon.NotifyData().uFlags, static_cast<UINT>(NIF_ICON | NIF_TIP | NIF_MESSAGE));
        const HICON noConnection = icon.NotifyData().hIcon;
        ASSERT_TRUE(icon.SetIconFromResource(IDI_HAY_MENSAJES));
        EXPECT_NE(icon.NotifyData().hIcon, noConnection);
        for (const auto& [tip, shown] : {std::pair<std::string, std::wstring>{"Peque\xF1o", L"Peque\u00f1o"},
                                         {std::string(100, 'x'), std::wstring(63, L'x')}}) {
            ASSERT_TRUE(icon.SetIconHandle(shared, tip.c_str()));
            EXPECT_EQ(Tip(icon), shown);
        }
        EXPECT_TRUE(ShellHasIcon());
    }
    // The destructor takes the icon away.
    EXPECT_FALSE(ShellHasIcon());
    // A state's string at once; without a notification window there is no callback to ask for.
    CNoteliaIcon silent(IDI_NO_MENSAJES);
    EXPECT_EQ(Tip(silent), L"No hay mensajes.");
    ASSERT_TRUE(silent.SetIconHandle(shared, nullptr));
    EXPECT_EQ(silent.NotifyData().uFlags, static_cast<UINT>(NIF_ICON | NIF_TIP));
    EXPECT_TRUE(silent.SetIconHandle(nullptr, nullptr));
}

TEST_F(TrayIconTest, MouseCallbacks)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    icon.SetNotifyWindow(m_window.Handle(), kCallback);
    // Other icons, other mouse events, and an icon whose id names no menu: nothing.
    CNoteliaIcon noMenu(IDI_NO_CONEXION);
    noMenu.SetNotifyWindow(m_window.Handle(), kCallback);
    EXPECT_EQ(noMenu.OnTrayNotification(IDI_NO_CONEXION, WM_LBUTTONDBLCLK), 0);
    for (const auto& [id, event] : {std::pair<UINT, UINT>{0, WM_RBUTTONUP}, {0, WM_LBUTTONDBLCLK},
                                    {IDR_TRAYMENU, WM_LBUTTONUP}, {IDR_TRAYMENU, WM_RBUTTONDOWN}})
        EXPECT_EQ(icon.OnTrayNotification(id, event), 0) << id << " " << event;
    PumpUntil([] { return false; }, 50);
    EXPECT_TRUE(m_window.commands.empty());
    // A double click sends "Maximizar": it has arrived when the call returns.
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYMENU, WM_LBUTTONDBLCLK), 1);
    EXPECT_EQ(m_window.commands, std::vector<UINT>{ID_SHOW});
    // No balloon without an icon to show it from.
    EXPECT_FALSE(icon.ShowBalloon(L"t", L"x", nullptr));

    // Once shown the icon takes version 4 (Wine's tray and Windows do): event and id in lParam.
    ASSERT_TRUE(icon.SetIconFromResource(IDI_HAY_MENSAJES));
    ASSERT_TRUE(icon.IsVersion4());
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYMENU, WM_LBUTTONDBLCLK), 0);
    EXPECT_EQ(icon.OnTrayNotification(MAKEWPARAM(300, 250), MAKELPARAM(WM_RBUTTONUP, IDR_TRAYMENU)), 0);
    EXPECT_EQ(icon.OnTrayNotification(0, MAKELPARAM(WM_LBUTTONDBLCLK, IDI_NO_CONEXION)), 0);
    EXPECT_EQ(icon.OnTrayNotification(MAKEWPARAM(300, 250), MAKELPARAM(WM_LBUTTONDBLCLK, IDR_TRAYMENU)), 1);
    EXPECT_EQ(icon.OnTrayNotification(0, MAKELPARAM(NIN_BALLOONUSERCLICK, IDR_TRAYMENU)), 1);
    EXPECT_TRUE(icon.ShowBalloon(L"Hay mensajes!", std::wstring(300, L'x'), nullptr));
    EXPECT_EQ(std::wstring(icon.NotifyData().szInfo), std::wstring(255, L'x'));
    EXPECT_EQ(m_window.commands, (std::vector<UINT>{ID_SHOW, ID_SHOW, ID_TRAY_BALLOON}));
}

namespace {
// What the test sees of the open tray menu, from inside its modal loop.
struct MenuSeen {
    bool found = false;
    RECT rect{};
    UINT defaultItem = 0;
    bool bold = false;
    HWND foreground = nullptr;
    LRESULT nestedRightClick = -1;
};
MenuSeen g_seen;
CNoteliaIcon* g_icon = nullptr;
HWND g_keyTarget = nullptr;
int g_ticks = 0;

void CALLBACK InspectMenu(HWND, UINT, UINT_PTR timer, DWORD)
{
    const HWND menuWindow = FindWindowW(L"#32768", nullptr);
    // Never wait for ever on a menu that does not come.
    if ((!menuWindow || !IsWindowVisible(menuWindow)) && ++g_ticks <= 100) return;
    KillTimer(nullptr, timer);
    if (!menuWindow) {
        EndMenu();
        return;
    }
    g_seen.found = true;
    GetWindowRect(menuWindow, &g_seen.rect);
    const auto menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    g_seen.defaultItem = GetMenuDefaultItem(menu, FALSE, 0);
    g_seen.bold = GetMenuState(menu, 0, MF_BYPOSITION) & MF_DEFAULT;
    g_seen.foreground = GetForegroundWindow();
    // A second right click while the menu is open does not open another.
    g_seen.nestedRightClick = g_icon->OnTrayNotification(IDR_TRAYMENU, WM_RBUTTONUP);
    // Down twice to "Enviar mensaje...", then Enter.
    for (const WPARAM key : {VK_DOWN, VK_DOWN, VK_RETURN}) PostMessageW(g_keyTarget, WM_KEYDOWN, key, 0);
}
} // namespace

TEST_F(TrayIconTest, RightClickOpensTheMenuAtTheCursorWithMaximizarInBold)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    icon.SetNotifyWindow(m_window.Handle(), kCallback);
    ASSERT_TRUE(SetCursorPos(300, 250));
    POINT cursor{};
    GetCursorPos(&cursor);
    g_icon = &icon;
    g_keyTarget = m_window.Handle();
    for (int round = 0; round < 2; ++round) {  // the menu opens again once closed
        g_seen = MenuSeen{};
        g_ticks = 0;
        ASSERT_NE(SetTimer(nullptr, 0, 20, InspectMenu), 0u);
        // Returns once the menu has closed.
        EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYMENU, WM_RBUTTONUP), 1);
        ASSERT_TRUE(g_seen.found);
        EXPECT_EQ(g_seen.rect.left, cursor.x);
        EXPECT_EQ(g_seen.rect.top, cursor.y);
        EXPECT_EQ(g_seen.defaultItem, static_cast<UINT>(ID_SHOW));
        EXPECT_TRUE(g_seen.bold);
        EXPECT_EQ(g_seen.foreground, m_window.Handle());
        EXPECT_EQ(g_seen.nestedRightClick, 0);
        // The chosen command reaches the notification window, then the WM_NULL that ends the
        // menu's task switch.
        ASSERT_TRUE(PumpUntil([&] { return m_window.commands.size() > static_cast<std::size_t>(round) &&
                                           m_window.nullMessages > round; }));
        EXPECT_EQ(m_window.commands.back(), static_cast<UINT>(ID_TRAY_SEND));
    }
    g_icon = nullptr;
}
