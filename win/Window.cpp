#include "win/Window.h"

namespace {
constexpr wchar_t kObjectProperty[] = L"Notelia.CWindow";
HWND g_hMainWnd = nullptr;
} // namespace

CWindow::~CWindow()
{
    // The object goes first: later messages of the window must not reach it.
    if (m_hWnd) {
        const HWND hWnd = m_hWnd;
        Detach();
        DestroyWindow(hWnd);
    }
}

void CWindow::Detach() noexcept
{
    // A control gets its own procedure back, so that it still frees its state when destroyed.
    if (m_pfnSuper) SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    RemovePropW(m_hWnd, kObjectProperty);
    m_hWnd = nullptr;
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

bool CWindow::CreateControl(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style,
                            const RECT& rect, HWND parent, UINT id)
{
    if (m_hWnd) return false;
    const HWND hWnd = CreateWindowExW(exStyle, className, title, style, rect.left, rect.top, rect.right - rect.left,
                                      rect.bottom - rect.top, parent,
                                      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr),
                                      nullptr);
    if (!hWnd) return false;
    if (SubclassWindow(hWnd)) return true;
    DestroyWindow(hWnd);
    return false;
}

bool CWindow::SubclassWindow(HWND hWnd)
{
    if (m_hWnd || !hWnd || FromHandle(hWnd)) return false;
    // The object is found before the first message reaches the new procedure.
    m_hWnd = hWnd;
    if (!SetPropW(hWnd, kObjectProperty, this)) {
        m_hWnd = nullptr;
        return false;
    }
    const auto previous = SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StaticWindowProc));
    if (!previous) {
        RemovePropW(hWnd, kObjectProperty);
        m_hWnd = nullptr;
        return false;
    }
    m_pfnSuper = reinterpret_cast<WNDPROC>(previous);
    return true;
}

HWND CWindow::UnsubclassWindow()
{
    const HWND hWnd = m_hWnd;
    if (hWnd) Detach();
    m_pfnSuper = nullptr;
    return hWnd;
}

bool CWindow::PreTranslateMessage(MSG&)
{
    return false;
}

bool CWindow::OnReflectedMessage(UINT, WPARAM, LPARAM, LRESULT&)
{
    return false;
}

CWindow* CWindow::FromHandle(HWND hWnd) noexcept
{
    return static_cast<CWindow*>(GetPropW(hWnd, kObjectProperty));
}

void CWindow::SetMainWindow(HWND hWnd) noexcept
{
    g_hMainWnd = hWnd;
}

HWND CWindow::MainWindow() noexcept
{
    return g_hMainWnd && IsWindow(g_hMainWnd) ? g_hMainWnd : nullptr;
}

LRESULT CWindow::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return Default(msg, wParam, lParam);
}

LRESULT CWindow::Default(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper) return CallWindowProcW(m_pfnSuper, m_hWnd, msg, wParam, lParam);
    return DefWindowProcW(m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CWindow::StaticWindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CWindow* self = nullptr;
    if (msg == WM_NCCREATE && !FromHandle(hWnd)) {
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
        result = self->Default(msg, wParam, lParam);
    }
    if (msg == WM_NCDESTROY && self->m_hWnd == hWnd) {
        // The control's own procedure has seen WM_NCDESTROY through Default by now.
        RemovePropW(hWnd, kObjectProperty);
        if (self->m_pfnSuper) SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->m_pfnSuper));
        self->m_hWnd = nullptr;
        self->m_pfnSuper = nullptr;
        self->OnFinalMessage();
    }
    return result;
}
