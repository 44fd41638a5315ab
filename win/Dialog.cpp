#include "win/Dialog.h"

#include <utility>

namespace {
// Posted to itself by a scripted dialog once it is up; the script runs inside the modal loop.
constexpr UINT kRunScriptMessage = WM_APP + 0x3A0;
// Posted after the script, behind whatever the script posted: a dialog still open then is ended.
constexpr UINT kScriptDoneMessage = WM_APP + 0x3A1;

ModalDialogHandler& Handler()
{
    static ModalDialogHandler handler;
    return handler;
}
} // namespace

CDialog::~CDialog()
{
    if (m_hWnd) {
        SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        m_hWnd = nullptr;
    }
}

INT_PTR CDialog::DoModal()
{
    if (Handler()) return Handler()(*this, m_hParent);
    return RunModal(m_hParent);
}

INT_PTR CDialog::RunModal(HWND parent)
{
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId), parent, StaticDialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CDialog::RunModalWithScript(HWND parent, std::function<void(HWND dialog)> script)
{
    m_script = std::move(script);
    m_bEnded = false;
    const INT_PTR result = RunModal(parent);
    m_script = nullptr;
    return result;
}

void CDialog::EndDialog(INT_PTR result)
{
    if (!m_hWnd) return;
    m_bEnded = true;
    ::EndDialog(m_hWnd, result);
}

void CDialog::CenterOverOwner()
{
    // Over the owner while the user sees it, else in the middle of the owner's screen: a
    // hidden owner (the frame waiting in the tray) would put the dialog in a corner.
    const HWND owner = GetWindow(m_hWnd, GW_OWNER);
    RECT area{};
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) {
        GetWindowRect(owner, &area);
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(owner ? owner : m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
        area = monitor.rcWork;
    }
    RECT self{};
    GetWindowRect(m_hWnd, &self);
    const int x = area.left + ((area.right - area.left) - (self.right - self.left)) / 2;
    const int y = area.top + ((area.bottom - area.top) - (self.bottom - self.top)) / 2;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CDialog::OnInitDialog()
{
    return true;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

bool CDialog::OnCommand(UINT, UINT, HWND)
{
    return false;
}

INT_PTR CDialog::DialogProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        if (m_script) PostMessageW(m_hWnd, kRunScriptMessage, 0, 0);
        CenterOverOwner();
        return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND: {
        const UINT id = LOWORD(wParam);
        if (id == IDOK) {
            OnOK();
            return TRUE;
        }
        if (id == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
        return OnCommand(id, HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    }
    case kRunScriptMessage:
        if (m_script) {
            const auto script = std::exchange(m_script, nullptr);
            script(m_hWnd);
            if (m_hWnd) PostMessageW(m_hWnd, kScriptDoneMessage, 0, 0);
        }
        return TRUE;
    case kScriptDoneMessage:
        // A script that forgot to end the dialog must not leave a test blocked.
        if (!m_bEnded) ::EndDialog(m_hWnd, IDABORT);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK CDialog::StaticDialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CDialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        if (self) {
            self->m_hWnd = hWnd;
            self->m_bEnded = false;
        }
    } else {
        self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    }
    // Messages before WM_INITDIALOG (WM_SETFONT) go to the dialog manager.
    if (!self) return FALSE;

    INT_PTR result = FALSE;
    // No exception may unwind through the system's code.
    try {
        result = self->DialogProc(msg, wParam, lParam);
    } catch (...) {
        result = FALSE;
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}

ModalDialogHandler SetModalDialogHandler(ModalDialogHandler handler)
{
    return std::exchange(Handler(), std::move(handler));
}
