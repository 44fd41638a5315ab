#include "ui/NoteliaIcon.h"

#include <cwchar>
#include <string>

#include "win/FlagScope.h"
#include "win/Handles.h"
#include "win/Resources.h"
#include "win/TextCodec.h"

namespace {
// The tip of the record's first version: 64 characters, terminator included.
constexpr std::size_t kTipChars = 64;

void SetTip(NOTIFYICONDATAW& nid, std::wstring_view tip)
{
    // Always terminated: the shell reads the tip up to its terminator.
    const std::size_t n = tip.size() < kTipChars - 1 ? tip.size() : kTipChars - 1;
    std::wmemcpy(nid.szTip, tip.data(), n);
    std::wmemset(nid.szTip + n, L'\0', kTipChars - n);
}

HICON LoadStateIcon(UINT resourceId)
{
    // The small frame of the icon group; shared icons are never destroyed by their user.
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resourceId), IMAGE_ICON,
                                         GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
}
} // namespace

CNoteliaIcon::CNoteliaIcon(UINT iconId) : m_nid{}
{
    m_nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
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
        icon = LoadStateIcon(resourceId);
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

    const BOOL result = Shell_NotifyIconW(operation, &m_nid);
    // Without an icon on record the next request with one adds it anew.
    if (operation == NIM_DELETE || !result) m_nid.hIcon = nullptr;
    return result;
}

void CNoteliaIcon::OnTaskbarCreated()
{
    HICON icon = m_nid.hIcon;
    if (!icon && m_nTrayState != 0) icon = LoadStateIcon(static_cast<UINT>(m_nTrayState));
    if (!icon) return;

    m_nid.hIcon = icon;
    m_nid.uFlags = NIF_ICON;
    if (m_nid.szTip[0] != L'\0') m_nid.uFlags |= NIF_TIP;
    if (m_nid.uCallbackMessage != 0 && m_nid.hWnd) m_nid.uFlags |= NIF_MESSAGE;
    // A new taskbar holds no icons; one that survived refuses the add and is changed instead.
    if (Shell_NotifyIconW(NIM_ADD, &m_nid) || Shell_NotifyIconW(NIM_MODIFY, &m_nid)) return;
    m_nid.hIcon = nullptr;
}

LRESULT CNoteliaIcon::OnTrayNotification(WPARAM wParam, LPARAM lParam)
{
    if (wParam != m_nid.uID) return 0;
    if (lParam != WM_RBUTTONUP && lParam != WM_LBUTTONDBLCLK) return 0;
    // A second click while the menu is open must not open another one.
    if (m_bMenuOpen) return 0;

    const UniqueHMenu menu(LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nid.uID)));
    if (!menu) return 0;
    const HMENU popup = GetSubMenu(menu.get(), 0);
    if (!popup) return 0;

    const HWND window = m_nid.hWnd;
    if (lParam == WM_RBUTTONUP) {
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
