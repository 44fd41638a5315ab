// Base class of the program's windows: registers its class, creates the window with the
// object in the creation parameters and routes messages to the virtual WindowProc.
#pragma once

#include <windows.h>

class CWindow {
public:
    CWindow() = default;
    CWindow(const CWindow&) = delete;
    CWindow& operator=(const CWindow&) = delete;
    virtual ~CWindow();

    HWND Handle() const noexcept { return m_hWnd; }

    // Registers `className` once per process with the given class settings (lpfnWndProc,
    // hInstance, lpszClassName and cbSize are filled in here).
    static bool RegisterWindowClass(const wchar_t* className, WNDCLASSEXW wc);

    // CreateWindowExW with this object attached; answers false when the window was not made.
    bool CreateEx(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style, int x, int y,
                  int width, int height, HWND parent, HMENU menuOrId);

    // Called by the message loop before dispatching; true when the message was handled.
    virtual bool PreTranslateMessage(MSG& msg);

    static CWindow* FromHandle(HWND hWnd) noexcept;

protected:
    // The object's message handler; the default passes everything to DefWindowProc.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Default(UINT msg, WPARAM wParam, LPARAM lParam);

    // Called after the last message (WM_NCDESTROY), when the window is gone. Windows whose
    // object lives as long as the window delete themselves here.
    virtual void OnFinalMessage() {}

private:
    static LRESULT CALLBACK StaticWindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
};
