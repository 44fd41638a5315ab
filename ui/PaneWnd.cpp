#include "ui/PaneWnd.h"

namespace {
constexpr wchar_t kPaneClass[] = L"NoteliaPane";
}

bool CPaneWnd::Create(HWND parent, UINT id)
{
    WNDCLASSEXW wc{};
    wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // The class brush paints the pane; WM_PAINT draws nothing.
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    if (!RegisterWindowClass(kPaneClass, wc)) return false;
    return CreateEx(WS_EX_CLIENTEDGE, kPaneClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

bool CPaneWnd::OnCommand(UINT)
{
    return false;
}

LRESULT CPaneWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(Handle(), &ps);
        EndPaint(Handle(), &ps);
        return 0;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
        // The child colours itself.
        LRESULT result = 0;
        CWindow* child = FromHandle(reinterpret_cast<HWND>(lParam));
        if (child && child->OnReflectedMessage(msg, wParam, lParam, result)) return result;
        break;
    }
    default:
        break;
    }
    return Default(msg, wParam, lParam);
}
