// The program's icon in the notification area: its state (icon and tip) follows the last
// fetch, mouse actions on it become commands of the notification window, and a balloon
// from it announces news.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string_view>

class CNoteliaIcon {
public:
    // `iconId` is the icon's id for the shell and the id of its popup menu resource.
    explicit CNoteliaIcon(UINT iconId);
    CNoteliaIcon(const CNoteliaIcon&) = delete;
    CNoteliaIcon& operator=(const CNoteliaIcon&) = delete;
    // Removes the icon.
    virtual ~CNoteliaIcon();

    // The window that gets the callback message and the menu's commands (none: no window).
    void SetNotifyWindow(HWND window, UINT callbackMessage);

    // Shows state `resourceId` (its string as tip, its icon); 0 removes the icon. Answers the
    // shell's result, or TRUE when there was nothing to do.
    BOOL SetIconFromResource(UINT resourceId);

    // Adds, changes (icon given) or removes (no icon) the icon; a Windows-1252 tip replaces the
    // current one when given.
    BOOL SetIconHandle(HICON icon, const char* tipOrNull);

    // Shows a notification balloon (title, text, the program's large icon) beside the shown
    // icon. Answers the shell's result; FALSE when no icon is shown.
    BOOL ShowBalloon(std::wstring_view title, std::wstring_view text, HICON icon);

    // The callback message's handler, in the layout of the version the shell accepted: the
    // context menu (right button up before version 4) opens the menu at the cursor, a double
    // click sends the menu's first command, a click on the balloon sends ID_TRAY_BALLOON.
    // Answers 1 when it acted, else 0.
    virtual LRESULT OnTrayNotification(WPARAM wParam, LPARAM lParam);

    // The taskbar was created again (registered message "TaskbarCreated"): adds the icon
    // back with the current state.
    void OnTaskbarCreated();

    // The state last requested through SetIconFromResource (0 after a removal that way).
    int TrayState() const noexcept { return m_nTrayState; }

    // What the shell was last given.
    bool IsIconShown() const noexcept { return m_nid.hIcon != nullptr; }
    const NOTIFYICONDATAW& NotifyData() const noexcept { return m_nid; }
    // The shell took version 4 of the callback's layout; balloons the shell took so far.
    bool IsVersion4() const noexcept { return m_bVersion4; }
    int BalloonCount() const noexcept { return m_nBalloons; }

private:
    BOOL AddToShell();

    NOTIFYICONDATAW m_nid;
    bool m_bVersion4 = false;
    int m_nBalloons = 0;
    int m_nTrayState = 0;
    bool m_bMenuOpen = false;
};
