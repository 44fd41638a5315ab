// Base class of the program's windows: registers its class, creates the window with the
// object in the creation parameters and routes messages to the virtual WindowProc. It can
// also take over a standard control (an EDIT, a COMBOBOX) by subclassing it.
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

    // Creates a window of a standard class (L"EDIT" ...) and subclasses it.
    bool CreateControl(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style,
                       const RECT& rect, HWND parent, UINT id);

    // Attaches this object to an existing window of a standard class: its messages reach
    // WindowProc first, and Default passes them to the class's own procedure. False when
    // the window is already attached to an object or this object has a window.
    bool SubclassWindow(HWND hWnd);

    // Gives the window its original procedure back and lets the object go; answers the window.
    HWND UnsubclassWindow();

    // Called by the message loop before dispatching; true when the message was handled.
    virtual bool PreTranslateMessage(MSG& msg);

    // A notification of this window (WM_CTLCOLOR..., WM_COMMAND, WM_NOTIFY ...) that its parent
    // hands back to it. True when handled, with the answer in `result`.
    virtual bool OnReflectedMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    static CWindow* FromHandle(HWND hWnd) noexcept;

    // The program's main window (the frame registers itself when it is created), parent of
    // its modal boxes; null until then.
    static void SetMainWindow(HWND hWnd) noexcept;
    static HWND MainWindow() noexcept;

protected:
    // The object's message handler; the default passes everything to Default.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // DefWindowProc, or the control's original procedure for a subclassed control.
    LRESULT Default(UINT msg, WPARAM wParam, LPARAM lParam);

    // Called after the last message (WM_NCDESTROY), when the window is gone. Windows whose
    // object lives as long as the window delete themselves here.
    virtual void OnFinalMessage() {}

private:
    static LRESULT CALLBACK StaticWindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void Detach() noexcept;

    HWND m_hWnd = nullptr;
    WNDPROC m_pfnSuper = nullptr;
};
