#include "win/Window.h"

namespace {
constexpr wchar_t kObjectProperty[] = L"Notelia.CWindow";
}

CWindow::~CWindow()
{
    // The object goes first: later messages of the window must not reach it.
    if (m_hWnd) {
        const HWND hWnd = m_hWnd;
        RemovePropW(hWnd, kObjectProperty);
        m_hWnd = nullptr;
        DestroyWindow(hWnd);
    }
}

bool CWindow::RegisterWindowClass(const wchar_t* className, WNDCLASSEXW wc)
{
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (GetClassInfoExW(instance, className, &existing)) return true;
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = StaticWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = className;
    return RegisterClassExW(&wc) != 0;
}

bool CWindow::CreateEx(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style, int x, int y,
                       int width, int height, HWND parent, HMENU menuOrId)
{
    const HWND hWnd = CreateWindowExW(exStyle, className, title, style, x, y, width, height, parent, menuOrId,
                                      GetModuleHandleW(nullptr), this);
    return hWnd != nullptr && m_hWnd == hWnd;
}

bool CWindow::PreTranslateMessage(MSG&)
{
    return false;
}

CWindow* CWindow::FromHandle(HWND hWnd) noexcept
{
    return static_cast<CWindow*>(GetPropW(hWnd, kObjectProperty));
}

LRESULT CWindow::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return Default(msg, wParam, lParam);
}

LRESULT CWindow::Default(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CWindow::StaticWindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CWindow* self = nullptr;
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        self = static_cast<CWindow*>(create->lpCreateParams);
        if (self) {
            self->m_hWnd = hWnd;
            SetPropW(hWnd, kObjectProperty, self);
        }
    } else {
        self = FromHandle(hWnd);
    }
    // Messages that arrive before WM_NCCREATE (WM_GETMINMAXINFO) or after the object let go.
    if (!self) return DefWindowProcW(hWnd, msg, wParam, lParam);

    LRESULT result = 0;
    // No exception may unwind through the system's code.
    try {
        result = self->WindowProc(msg, wParam, lParam);
    } catch (...) {
        result = DefWindowProcW(hWnd, msg, wParam, lParam);
    }
    if (msg == WM_NCDESTROY) {
        RemovePropW(hWnd, kObjectProperty);
        self->m_hWnd = nullptr;
        self->OnFinalMessage();
    }
    return result;
}
