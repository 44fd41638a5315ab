// The tray icon against the shell's real notification area (Wine's explorer tray).
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "res/resource.h"
#include "tests/support/WinTestSupport.h"
#include "ui/NoteliaIcon.h"

using testing_support::CRecorderWindow;
using testing_support::PumpUntil;

namespace {

constexpr UINT kCallback = WM_USER;

class TrayIconTest : public ::testing::Test {
protected:
    // Another program's icon stays in the tray for the whole suite, as on a desktop: the tray
    // then never empties, and hiding an empty tray costs Wine a two-second wait without a
    // window manager.
    static void SetUpTestSuite()
    {
        s_keeper = new CRecorderWindow;
        ASSERT_TRUE(s_keeper->Create());
        ASSERT_TRUE(PumpUntil([] { return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }));
        NOTIFYICONDATAW nid = KeeperIcon();
        nid.uFlags = NIF_ICON;
        nid.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
        ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &nid));
    }
    static void TearDownTestSuite()
    {
        NOTIFYICONDATAW nid = KeeperIcon();
        Shell_NotifyIconW(NIM_DELETE, &nid);
        delete s_keeper;
        s_keeper = nullptr;
    }
    static NOTIFYICONDATAW KeeperIcon()
    {
        NOTIFYICONDATAW nid{};
        nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
        nid.hWnd = s_keeper->Handle();
        nid.uID = 1;
        return nid;
    }
    static inline CRecorderWindow* s_keeper = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(m_window.Create());
        // The tray belongs to the desktop's explorer, which starts with the first window.
        ASSERT_TRUE(PumpUntil([] { return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }));
    }

    // Asks the shell itself whether it holds an icon of this window with this id: only an
    // existing icon can be changed.
    bool ShellHasIcon(UINT id = IDR_TRAYMENU)
    {
        NOTIFYICONDATAW probe{};
        probe.cbSize = NOTIFYICONDATAW_V1_SIZE;
        probe.hWnd = m_window.Handle();
        probe.uID = id;
        return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
    }

    // What happens to an icon when the taskbar goes away: the shell forgets it.
    void ShellLosesIcon(UINT id = IDR_TRAYMENU)
    {
        NOTIFYICONDATAW nid{};
        nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
        nid.hWnd = m_window.Handle();
        nid.uID = id;
        ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &nid));
    }

    static std::wstring Tip(const CNoteliaIcon& icon) { return icon.NotifyData().szTip; }

    CRecorderWindow m_window;
};

} // namespace

TEST_F(TrayIconTest, StartsEmptyAndHidden)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    const NOTIFYICONDATAW& nid = icon.NotifyData();
    EXPECT_EQ(nid.cbSize, static_cast<DWORD>(NOTIFYICONDATAW_V1_SIZE));
    EXPECT_EQ(nid.uID, static_cast<UINT>(IDR_TRAYMENU));
    // Menu 133 has no string of its own.
    EXPECT_EQ(Tip(icon), L"");
    EXPECT_FALSE(icon.IsIconShown());
    EXPECT_FALSE(ShellHasIcon());

    // A tray icon whose id has a string starts with it as its tip.
    CNoteliaIcon named(IDI_NO_MENSAJES);
    EXPECT_EQ(Tip(named), L"No hay mensajes.");
}

TEST_F(TrayIconTest, StatesShowTheirTipAndIconInTheShell)
{
    {
        CNoteliaIcon icon(IDR_TRAYMENU);
        icon.SetNotifyWindow(m_window.Handle(), kCallback);

        ASSERT_TRUE(icon.SetIconFromResource(IDI_NO_CONEXION));
        EXPECT_EQ(icon.TrayState(), IDI_NO_CONEXION);
        EXPECT_TRUE(icon.IsIconShown());
        EXPECT_TRUE(ShellHasIcon());
        EXPECT_EQ(Tip(icon), L"No hay conexi\u00f3n.");
        EXPECT_EQ(icon.NotifyData().uFlags, static_cast<UINT>(NIF_ICON | NIF_TIP | NIF_MESSAGE));
        EXPECT_EQ(icon.NotifyData().uCallbackMessage, kCallback);
        const HICON noConnection = icon.NotifyData().hIcon;

        ASSERT_TRUE(icon.SetIconFromResource(IDI_HAY_MENSAJES));
        EXPECT_EQ(icon.TrayState(), IDI_HAY_MENSAJES);
        EXPECT_EQ(Tip(icon), L"Hay mensajes!");
        EXPECT_NE(icon.NotifyData().hIcon, noConnection);
        // Repeating the current state still goes to the shell, as a change in place.
        ASSERT_TRUE(icon.SetIconFromResource(IDI_HAY_MENSAJES));
        ASSERT_TRUE(icon.SetIconFromResource(IDI_NO_MENSAJES));
        EXPECT_EQ(Tip(icon), L"No hay mensajes.");
        EXPECT_TRUE(ShellHasIcon());
    }
    // The destructor takes the icon away.
    EXPECT_FALSE(ShellHasIcon());
}

TEST_F(TrayIconTest, RemovingByResourceZeroAndTwice)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    icon.SetNotifyWindow(m_window.Handle(), kCallback);
    ASSERT_TRUE(icon.SetIconFromResource(IDI_NO_CONEXION));
    ASSERT_TRUE(icon.SetIconFromResource(0));
    EXPECT_EQ(icon.TrayState(), 0);
    EXPECT_FALSE(icon.IsIconShown());
    EXPECT_FALSE(ShellHasIcon());
    // Nothing shown, nothing to do.
    EXPECT_TRUE(icon.SetIconFromResource(0));
    // Shown again with an add.
    ASSERT_TRUE(icon.SetIconFromResource(IDI_NO_MENSAJES));
    EXPECT_TRUE(ShellHasIcon());
}

TEST_F(TrayIconTest, AStateWithoutResourcesRemovesTheIconAndTheTip)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    icon.SetNotifyWindow(m_window.Handle(), kCallback);
    ASSERT_TRUE(icon.SetIconFromResource(IDI_NO_CONEXION));
    // 133 names a menu: no string, no icon.
    EXPECT_TRUE(icon.SetIconFromResource(IDR_TRAYMENU));
    EXPECT_EQ(icon.TrayState(), IDR_TRAYMENU);
    EXPECT_EQ(Tip(icon), L"");
    EXPECT_FALSE(icon.IsIconShown());
    EXPECT_FALSE(ShellHasIcon());
}

TEST_F(TrayIconTest, ALostIconFailsOnceThenIsAddedAgain)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    icon.SetNotifyWindow(m_window.Handle(), kCallback);
    ASSERT_TRUE(icon.SetIconFromResource(IDI_NO_CONEXION));
    ShellLosesIcon();

    // The change in place finds nothing to change; nothing is reported, the state is kept.
    EXPECT_FALSE(icon.SetIconFromResource(IDI_NO_MENSAJES));
    EXPECT_EQ(icon.TrayState(), IDI_NO_MENSAJES);
    EXPECT_FALSE(icon.IsIconShown());
    EXPECT_FALSE(ShellHasIcon());

    // The following change adds it anew, with its tip.
    EXPECT_TRUE(icon.SetIconFromResource(IDI_HAY_MENSAJES));
    EXPECT_TRUE(icon.IsIconShown());
    EXPECT_TRUE(ShellHasIcon());
    EXPECT_EQ(Tip(icon), L"Hay mensajes!");
}

TEST_F(TrayIconTest, TaskbarCreatedAddsTheIconBackAtOnce)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    icon.SetNotifyWindow(m_window.Handle(), kCallback);
    ASSERT_TRUE(icon.SetIconFromResource(IDI_HAY_MENSAJES));

    ShellLosesIcon();
    icon.OnTaskbarCreated();
    EXPECT_TRUE(ShellHasIcon());
    EXPECT_TRUE(icon.IsIconShown());
    EXPECT_EQ(icon.TrayState(), IDI_HAY_MENSAJES);
    EXPECT_EQ(Tip(icon), L"Hay mensajes!");

    // An icon that survived refuses the add and is changed in place instead.
    icon.OnTaskbarCreated();
    EXPECT_TRUE(ShellHasIcon());
    EXPECT_TRUE(icon.IsIconShown());
    // The next state change is an ordinary change in place.
    EXPECT_TRUE(icon.SetIconFromResource(IDI_NO_MENSAJES));
}

TEST_F(TrayIconTest, TaskbarCreatedAfterAFailedChangeShowsTheLastState)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    icon.SetNotifyWindow(m_window.Handle(), kCallback);
    ASSERT_TRUE(icon.SetIconFromResource(IDI_NO_CONEXION));
    ShellLosesIcon();
    ASSERT_FALSE(icon.SetIconFromResource(IDI_NO_MENSAJES));

    icon.OnTaskbarCreated();
    EXPECT_TRUE(icon.IsIconShown());
    EXPECT_TRUE(ShellHasIcon());
    EXPECT_EQ(Tip(icon), L"No hay mensajes.");
}

TEST_F(TrayIconTest, TaskbarCreatedWithoutAStateAddsNothing)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    icon.SetNotifyWindow(m_window.Handle(), kCallback);
    icon.OnTaskbarCreated();
    EXPECT_FALSE(ShellHasIcon());
    ASSERT_TRUE(icon.SetIconFromResource(IDI_NO_CONEXION));
    ASSERT_TRUE(icon.SetIconFromResource(0));
    icon.OnTaskbarCreated();
    EXPECT_FALSE(ShellHasIcon());
}

TEST_F(TrayIconTest, GivenTipsAreCutAndAlwaysTerminated)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    icon.SetNotifyWindow(m_window.Handle(), kCallback);
    const HICON shared = LoadIconW(nullptr, IDI_APPLICATION);
    ASSERT_TRUE(icon.SetIconHandle(shared, "Peque\xF1o"));
    EXPECT_EQ(Tip(icon), L"Peque\u00f1o");

    const std::string longTip(100, 'x');
    ASSERT_TRUE(icon.SetIconHandle(shared, longTip.c_str()));
    EXPECT_EQ(Tip(icon), std::wstring(63, L'x'));

    // Without a notification window there is no callback to ask for.
    CNoteliaIcon silent(IDI_NO_MENSAJES);
    ASSERT_TRUE(silent.SetIconHandle(shared, nullptr));
    EXPECT_EQ(silent.NotifyData().uFlags, static_cast<UINT>(NIF_ICON | NIF_TIP));
    EXPECT_TRUE(silent.SetIconHandle(nullptr, nullptr));
}

TEST_F(TrayIconTest, CallbacksOfOtherIconsAndOtherMouseEventsAreIgnored)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    icon.SetNotifyWindow(m_window.Handle(), kCallback);
    EXPECT_EQ(icon.OnTrayNotification(0, WM_RBUTTONUP), 0);
    EXPECT_EQ(icon.OnTrayNotification(0, WM_LBUTTONDBLCLK), 0);
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYMENU, WM_LBUTTONUP), 0);
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYMENU, WM_RBUTTONDOWN), 0);
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYMENU, WM_MOUSEMOVE), 0);
    // An icon whose id names no menu cannot act.
    CNoteliaIcon noMenu(IDI_NO_CONEXION);
    noMenu.SetNotifyWindow(m_window.Handle(), kCallback);
    EXPECT_EQ(noMenu.OnTrayNotification(IDI_NO_CONEXION, WM_LBUTTONDBLCLK), 0);
    PumpUntil([] { return false; }, 50);
    EXPECT_TRUE(m_window.commands.empty());
}

TEST_F(TrayIconTest, DoubleClickSendsMaximizar)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    icon.SetNotifyWindow(m_window.Handle(), kCallback);
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYMENU, WM_LBUTTONDBLCLK), 1);
    // Sent, not posted: it has arrived when the call returns.
    ASSERT_EQ(m_window.commands.size(), 1u);
    EXPECT_EQ(m_window.commands[0].id, static_cast<UINT>(ID_SHOW));
    EXPECT_EQ(m_window.commands[0].lParam, 0);
}

namespace {
// What the test sees of the open tray menu, from inside its modal loop.
struct MenuSeen {
    bool found = false;
    RECT rect{};
    UINT defaultItem = 0;
    UINT defaultState = 0;
    std::vector<std::wstring> texts;
    std::vector<UINT> ids;
    HWND foreground = nullptr;
    LRESULT nestedRightClick = -1;
};
MenuSeen* g_seen = nullptr;
CNoteliaIcon* g_icon = nullptr;
HWND g_keyTarget = nullptr;
int g_ticks = 0;

void CALLBACK InspectMenu(HWND, UINT, UINT_PTR timer, DWORD)
{
    const HWND menuWindow = FindWindowW(L"#32768", nullptr);
    if (!menuWindow || !IsWindowVisible(menuWindow)) {
        // Never wait for ever on a menu that does not come.
        if (++g_ticks > 100) {
            KillTimer(nullptr, timer);
            EndMenu();
        }
        return;
    }
    KillTimer(nullptr, timer);
    MenuSeen& seen = *g_seen;
    seen.found = true;
    GetWindowRect(menuWindow, &seen.rect);
    const auto menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    seen.defaultItem = GetMenuDefaultItem(menu, FALSE, 0);
    seen.defaultState = GetMenuState(menu, 0, MF_BYPOSITION);
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        seen.texts.push_back(text);
        seen.ids.push_back(GetMenuItemID(menu, i));
    }
    seen.foreground = GetForegroundWindow();
    // A second right click while the menu is open does not open another.
    seen.nestedRightClick = g_icon->OnTrayNotification(IDR_TRAYMENU, WM_RBUTTONUP);
    // Down twice to "Enviar mensaje...", then Enter.
    PostMessageW(g_keyTarget, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(g_keyTarget, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(g_keyTarget, WM_KEYDOWN, VK_RETURN, 0);
}
} // namespace

TEST_F(TrayIconTest, RightClickOpensTheMenuAtTheCursorWithMaximizarInBold)
{
    CNoteliaIcon icon(IDR_TRAYMENU);
    icon.SetNotifyWindow(m_window.Handle(), kCallback);
    ASSERT_TRUE(SetCursorPos(300, 250));
    POINT cursor{};
    GetCursorPos(&cursor);

    MenuSeen seen;
    g_seen = &seen;
    g_icon = &icon;
    g_keyTarget = m_window.Handle();
    g_ticks = 0;
    ASSERT_NE(SetTimer(nullptr, 0, 20, InspectMenu), 0u);
    // Returns once the menu has closed.
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYMENU, WM_RBUTTONUP), 1);

    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.rect.left, cursor.x);
    EXPECT_EQ(seen.rect.top, cursor.y);
    EXPECT_EQ(seen.defaultItem, static_cast<UINT>(ID_SHOW));
    EXPECT_TRUE(seen.defaultState & MF_DEFAULT);
    EXPECT_EQ(seen.texts, (std::vector<std::wstring>{L"Maximizar", L"Enviar mensaje...", L"", L"Cerrar"}));
    EXPECT_EQ(seen.ids, (std::vector<UINT>{ID_SHOW, ID_TRAY_SEND, 0, ID_TRAY_CLOSE}));
    EXPECT_EQ(seen.foreground, m_window.Handle());
    EXPECT_EQ(seen.nestedRightClick, 0);

    // The chosen command reaches the notification window, followed by the WM_NULL that ends
    // the menu's task switch.
    ASSERT_TRUE(PumpUntil([&] { return !m_window.commands.empty() && m_window.nullMessages > 0; }));
    ASSERT_EQ(m_window.commands.size(), 1u);
    EXPECT_EQ(m_window.commands[0].id, static_cast<UINT>(ID_TRAY_SEND));

    // The menu can be opened again.
    seen = MenuSeen{};
    g_ticks = 0;
    ASSERT_NE(SetTimer(nullptr, 0, 20, InspectMenu), 0u);
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYMENU, WM_RBUTTONUP), 1);
    EXPECT_TRUE(seen.found);
    g_seen = nullptr;
    g_icon = nullptr;
}
