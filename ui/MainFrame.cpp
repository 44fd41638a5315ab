#include "ui/MainFrame.h"

#include "win/Resources.h"

namespace {
constexpr wchar_t kFrameClass[] = L"NoteliaMainFrame";
}

bool CMainFrame::LoadFrame(UINT resourceId, DWORD style)
{
    WNDCLASSEXW wc{};
    wc.style = CS_DBLCLKS;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resourceId));
    if (!RegisterWindowClass(kFrameClass, wc)) return false;
    const std::wstring title = LoadResourceStringW(resourceId);
    if (!CreateEx(0, kFrameClass, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, 510, 330, nullptr, nullptr))
        return false;
    m_bOwnedByWindow = true;
    return true;
}

LRESULT CMainFrame::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return Default(msg, wParam, lParam);
}

void CMainFrame::OnFinalMessage()
{
    if (m_bOwnedByWindow) delete this;
}
