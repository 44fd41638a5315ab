// The program's only top-level window: menu, toolbar with the category selector inside a
// rebar, status bar, message view and notification-area icon. Its timer runs the fetch cycle;
// it stays hidden until a fetch brings news or the user asks for it, and the program ends
// only through the close command after two confirmations.
#pragma once

#include <windows.h>

#include "request/SendMessageDlg.h"
#include "retrieval/MessageFetcher.h"
#include "ui/CategoryView.h"
#include "ui/ColorEdit.h"
#include "ui/NoteliaIcon.h"
#include "ui/PaneWnd.h"
#include "win/CommandBars.h"
#include "win/Window.h"

class CMainFrame : public CWindow {
public:
    // A sizing border and a system menu, no minimise and no maximise box.
    static constexpr DWORD kFrameStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;

    CMainFrame();
    ~CMainFrame() override;

    // Creates the window from the frame's resources (menu, accelerators, icon and title
    // `resourceId`). After a successful creation the object belongs to its window and is
    // deleted with it; after a failed one the caller still owns it.
    bool LoadFrame(UINT resourceId, DWORD style);

    // Accelerators of the frame and everything in it.
    bool PreTranslateMessage(MSG& msg) override;

    // Runs one fetch cycle now and shows its outcome.
    void OnFetchNow();

    // The frame's state, as its handlers leave it.
    const CNoteliaIcon& TrayIcon() const noexcept { return m_trayIcon; }
    const CMessageFetcher& Fetcher() const noexcept { return m_fetcher; }
    const CCategorySelector& Selector() const noexcept { return m_selector; }
    const CColorEdit& View() const noexcept { return m_view; }
    const CStatusBar& StatusBar() const noexcept { return m_statusBar; }
    const CToolBar& ToolBar() const noexcept { return m_toolBar; }
    HWND ReBar() const noexcept { return m_reBar.Handle(); }
    // Seen flag of category `index`; Información General has none and answers true.
    bool IsSeen(int index) const noexcept;
    bool IsCloseConfirmed() const noexcept { return m_bCloseConfirmed; }
    bool IsFetching() const noexcept { return m_bFetching; }

protected:
    // One fetch cycle: answers the change mask and leaves the outcome in the fetcher.
    virtual unsigned char RunFetch();
    // (Re)starts timer 1 with `milliseconds`.
    virtual void StartTimer(UINT milliseconds);

    CMessageFetcher& MutableFetcher() noexcept { return m_fetcher; }

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage() override;

private:
    int OnCreate();
    void OnCommand(UINT id, UINT notifyCode, HWND control);
    void OnTimer();
    void OnClose();
    void OnCloseCommand();
    void OnSizing(RECT& proposed);
    void OnSize();
    void OnShowCommand();
    void OnAbout();
    // Send command: the send-message dialog with the recipient list.
    void OnSendMessage();
    void OnChooseFont();
    void OnCategorySelected();
    void ShowFetchResult(unsigned char changeMask);
    void OnMenuSelect(UINT item, UINT flags, HMENU menu);
    void TrackFlyBy(const MSG& msg);
    bool* SeenFlag(int index) noexcept;
    bool AllSeen() const noexcept;

    CNoteliaIcon m_trayIcon;
    CMessageFetcher m_fetcher;
    int m_nTickCounter = 1;
    bool m_bPeriodic = false;
    int m_nTicksPerFetch = 1;
    bool m_bStarted = false;
    bool m_bSeenOperativo = false;
    bool m_bSeenComercial = false;
    bool m_bSeenAdministrativo = false;
    bool m_bCloseConfirmed = false;
    CStatusBar m_statusBar;
    CToolBar m_toolBar;
    CReBar m_reBar;
    CPaneWnd m_pane;
    CCategorySelector m_selector;
    CColorEdit m_view;

    HACCEL m_hAccel = nullptr;
    UINT m_nTaskbarCreated = 0;
    // A cycle is running; its message boxes let ticks and commands in, which must not start
    // another one on the same fetcher.
    bool m_bFetching = false;
    // The close questions are on screen.
    bool m_bAskingClose = false;
    // The close was confirmed while a cycle was running: the window goes when it ends.
    bool m_bDestroyAfterFetch = false;
    // The window that shows the current fly-by prompt (null: the idle text shows).
    HWND m_hPromptWnd = nullptr;
    bool m_bOwnedByWindow = false;
    // The send-message dialog while it runs; a close confirmed meanwhile waits for its end.
    CSendMessageDlg* m_pSendDlg = nullptr;
    bool m_bDestroyAfterSend = false;
};
