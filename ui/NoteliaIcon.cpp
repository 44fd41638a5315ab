#include "ui/NoteliaIcon.h"

#include <cwchar>
#include <string>

#include "win/FlagScope.h"
#include "res/resource.h"
#include "win/Dpi.h"
#include "win/Handles.h"
#include "win/Resources.h"
#include "win/TextCodec.h"

namespace {
// The tip of the record's first version: 64 characters, terminator included.
constexpr std::size_t kTipChars = 64;

// Always terminated: the shell reads each text up to its terminator.
void CopyCut(wchar_t* field, std::size_t chars, std::wstring_view text)
{
    const std::size_t n = text.size() < chars - 1 ? text.size() : chars - 1;
    std::wmemcpy(field, text.data(), n);
    std::wmemset(field + n, L'\0', chars - n);
}

void SetTip(NOTIFYICONDATAW& nid, std::wstring_view tip)
{
    CopyCut(nid.szTip, kTipChars, tip);
}

HICON LoadStateIcon(UINT resourceId, HWND window)
{
    // The small frame at the window's scale; shared icons are never destroyed by their user.
    const int side = SystemMetricForDpi(SM_CXSMICON, WindowDpi(window));
    return static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resourceId), IMAGE_ICON, side, side, LR_SHARED));
}
} // namespace

CNoteliaIcon::CNoteliaIcon(UINT iconId) : m_nid{}
{
    // The whole record: balloons and the callback layout of version 4 need it.
    m_nid.cbSize = sizeof m_nid;
    m_nid.uID = iconId;
    SetTip(m_nid, LoadResourceStringW(iconId));
}

CNoteliaIcon::~CNoteliaIcon()
{
    SetIconFromResource(0);
}

void CNoteliaIcon::SetNotifyWindow(HWND window, UINT callbackMessage)
{
    m_nid.hWnd = window;
    m_nid.uCallbackMessage = callbackMessage;
}

BOOL CNoteliaIcon::SetIconFromResource(UINT resourceId)
{
    m_nTrayState = static_cast<int>(resourceId);
    HICON icon = nullptr;
    if (resourceId != 0) {
        SetTip(m_nid, LoadResourceStringW(resourceId));
        icon = LoadStateIcon(resourceId, m_nid.hWnd);
    }
    return SetIconHandle(icon, nullptr);
}

BOOL CNoteliaIcon::SetIconHandle(HICON icon, const char* tipOrNull)
{
    m_nid.uFlags = 0;
    DWORD operation = NIM_DELETE;
    if (icon) {
        const bool shown = m_nid.hIcon != nullptr;
        m_nid.hIcon = icon;
        m_nid.uFlags = NIF_ICON;
        operation = shown ? NIM_MODIFY : NIM_ADD;
    } else if (!m_nid.hIcon) {
        return TRUE;
    }
    if (tipOrNull) SetTip(m_nid, WidenCp1252(tipOrNull));
    if (m_nid.szTip[0] != L'\0') m_nid.uFlags |= NIF_TIP;
    if (m_nid.uCallbackMessage != 0 && m_nid.hWnd) m_nid.uFlags |= NIF_MESSAGE;

    const BOOL result = operation == NIM_ADD ? AddToShell() : Shell_NotifyIconW(operation, &m_nid);
    // Without an icon on record the next request with one adds it anew.
    if (operation == NIM_DELETE || !result) m_nid.hIcon = nullptr;
    return result;
}

void CNoteliaIcon::OnTaskbarCreated()
{
    HICON icon = m_nid.hIcon;
    if (!icon && m_nTrayState != 0) icon = LoadStateIcon(static_cast<UINT>(m_nTrayState), m_nid.hWnd);
    if (!icon) return;

    m_nid.hIcon = icon;
    m_nid.uFlags = NIF_ICON;
    if (m_nid.szTip[0] != L'\0') m_nid.uFlags |= NIF_TIP;
    if (m_nid.uCallbackMessage != 0 && m_nid.hWnd) m_nid.uFlags |= NIF_MESSAGE;
    // A new taskbar holds no icons; one that survived refuses the add and is changed instead.
    if (AddToShell() || Shell_NotifyIconW(NIM_MODIFY, &m_nid)) return;
    m_nid.hIcon = nullptr;
}

BOOL CNoteliaIcon::AddToShell()
{
    if (!Shell_NotifyIconW(NIM_ADD, &m_nid)) return FALSE;
    // A shell that refuses version 4 keeps sending the first layout.
    NOTIFYICONDATAW version = m_nid;
    version.uVersion = NOTIFYICON_VERSION_4;
    m_bVersion4 = Shell_NotifyIconW(NIM_SETVERSION, &version) != FALSE;
    return TRUE;
}

BOOL CNoteliaIcon::ShowBalloon(std::wstring_view title, std::wstring_view text, HICON icon)
{
    if (!m_nid.hIcon) return FALSE;
    NOTIFYICONDATAW balloon = m_nid;
    balloon.uFlags = NIF_INFO;
    CopyCut(balloon.szInfoTitle, std::size(balloon.szInfoTitle), title);
    CopyCut(balloon.szInfo, std::size(balloon.szInfo), text);
    balloon.dwInfoFlags = icon ? NIIF_USER | NIIF_LARGE_ICON : NIIF_INFO;
    balloon.hBalloonIcon = icon;
    // Kept for the record only: later changes of the icon carry no NIF_INFO, so never repeat it.
    std::wmemcpy(m_nid.szInfoTitle, balloon.szInfoTitle, std::size(balloon.szInfoTitle));
    std::wmemcpy(m_nid.szInfo, balloon.szInfo, std::size(balloon.szInfo));
    m_nid.dwInfoFlags = balloon.dwInfoFlags;
    m_nid.hBalloonIcon = icon;
    if (!Shell_NotifyIconW(NIM_MODIFY, &balloon)) return FALSE;
    ++m_nBalloons;
    return TRUE;
}

LRESULT CNoteliaIcon::OnTrayNotification(WPARAM wParam, LPARAM lParam)
{
    // Version 4: the event and the icon id in lParam, the anchor point in wParam.
    const UINT id = m_bVersion4 ? HIWORD(lParam) : static_cast<UINT>(wParam);
    const UINT event = m_bVersion4 ? LOWORD(lParam) : static_cast<UINT>(lParam);
    if (id != m_nid.uID) return 0;
    if (event == NIN_BALLOONUSERCLICK) {
        SendMessageW(m_nid.hWnd, WM_COMMAND, ID_TRAY_BALLOON, 0);
        return 1;
    }
    // Version 4 sends the context menu besides the button messages: one menu per click.
    const UINT menuEvent = m_bVersion4 ? WM_CONTEXTMENU : WM_RBUTTONUP;
    if (event != menuEvent && event != WM_LBUTTONDBLCLK) return 0;
    // A second click while the menu is open must not open another one.
    if (m_bMenuOpen) return 0;

    const UniqueHMenu menu(LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nid.uID)));
    if (!menu) return 0;
    const HMENU popup = GetSubMenu(menu.get(), 0);
    if (!popup) return 0;

    const HWND window = m_nid.hWnd;
    if (event == menuEvent) {
        SetMenuDefaultItem(popup, 0, TRUE);
        POINT cursor{};
        GetCursorPos(&cursor);
        // Without the foreground the menu would not close when the user clicks elsewhere.
        SetForegroundWindow(window);
        {
            const CFlagScope open(m_bMenuOpen);
            TrackPopupMenu(popup, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
        }
        // Makes the menu's task switch complete, so that the next click opens it again.
        PostMessageW(window, WM_NULL, 0, 0);
    } else {
        SendMessageW(window, WM_COMMAND, GetMenuItemID(popup, 0), 0);
    }
    return 1;
}
