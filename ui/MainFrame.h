// The program's only top-level window: menu, toolbar with the category selector inside a
// rebar, status bar, message view and notification-area icon. Its timer runs the fetch cycle
// on a worker of its own (CCycleWorker), and its news state (CNewsState) says what the news
// leaves seen and announced. It stays hidden until a fetch brings news or the user asks for
// it, and the program ends only through the close command after two confirmations.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "app/ErrorReport.h"
#include "request/SendMessageDlg.h"
#include "retrieval/MessageFetcher.h"
#include "ui/CategoryView.h"
#include "ui/ColorEdit.h"
#include "ui/CycleWorker.h"
#include "ui/FrameRules.h"
#include "ui/NewsState.h"
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

    // Starts one fetch cycle on a worker thread; its outcome is shown when it ends. Does
    // nothing while a cycle runs.
    void OnFetchNow();

    // Held by every frame handler for as long as it runs a nested message loop (a modal
    // dialog, a menu, a message box). A close confirmed meanwhile calls `end` of each loop
    // still running (to end a dialog: EndDialog) and destroys the frame only once the
    // outermost one has returned, so no handler ever finds its frame deleted under it.
    class CNestedLoop {
    public:
        explicit CNestedLoop(CMainFrame& frame, std::function<void()> end = {});
        ~CNestedLoop();
        CNestedLoop(const CNestedLoop&) = delete;
        CNestedLoop& operator=(const CNestedLoop&) = delete;

    private:
        friend class CMainFrame;
        CMainFrame& m_frame;
        std::function<void()> m_end;
        CNestedLoop* m_pOuter;
    };

    // Run when the Windows session ends (the application's shut-down); the frame, its icon
    // and its files stay, since the session's end takes the process with it.
    void SetSessionEndHandler(std::function<void()> handler) { m_sessionEnd = std::move(handler); }
    bool IsSessionEnded() const noexcept { return m_bSessionEnded; }

    // The frame's state, as its handlers leave it.
    const CNoteliaIcon& TrayIcon() const noexcept { return m_trayIcon; }
    const CMessageFetcher& Fetcher() const noexcept { return m_fetcher; }
    const CCategorySelector& Selector() const noexcept { return m_selector; }
    const CColorEdit& View() const noexcept { return m_view; }
    const CStatusBar& StatusBar() const noexcept { return m_statusBar; }
    const CToolBar& ToolBar() const noexcept { return m_toolBar; }
    HWND ReBar() const noexcept { return m_reBar.Handle(); }
    UINT Dpi() const noexcept { return m_nDpi; }
    bool IsCloseConfirmed() const noexcept { return m_bCloseConfirmed; }
    bool IsFetching() const noexcept { return m_bFetching; }

    // What one cycle answers, and the cycle as its worker runs it.
    using CycleOutcome = CCycleWorker::Outcome;
    using FetchJob = CCycleWorker::Job;
    using PostFunction = CCycleWorker::PostFunction;

protected:
    // A frame whose cycles ask the server on `port` with `timeOut` (tests).
    CMainFrame(unsigned short port, unsigned long timeOut);

    // The next cycle, made on the user-interface thread: the fetcher's own.
    virtual FetchJob MakeFetchJob();
    // How the worker hands its result to the frame (tests make it fail).
    virtual PostFunction ResultPoster() const { return &PostMessageW; }
    // (Re)starts timer 1 with `milliseconds`.
    virtual void StartTimer(UINT milliseconds);

    CMessageFetcher& MutableFetcher() noexcept { return m_fetcher; }

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage() override;

private:
    // The tray icon's callback message.
    static constexpr UINT kTrayCallback = WM_USER;

    // MainFrameContents.cpp: the window's contents, their scale and sizes, the fly-by prompts.
    int OnCreate();
    SIZE BandSize() const;
    void SetWindowIcons();
    // The window moved to a screen of another scale: every size follows, then the window takes
    // the system's suggested rectangle.
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void OnSizing(RECT& proposed);
    void OnSize();
    void OnMenuSelect(UINT item, UINT flags, HMENU menu);
    void TrackFlyBy(const MSG& msg);

    // MainFrame.cpp: the commands and the order of their steps.
    void OnCommand(UINT id, UINT notifyCode, HWND control);
    void OnTimer();
    void OnFetchDone(std::unique_ptr<CCycleWorker::Result> result);
    // A worker whose result never came (its post failed) has ended: the cycle is over.
    void OnWorkerWatch();
    void EndCycle();
    void StopWorker() noexcept;
    void ShowFetchResult(unsigned char changeMask);
    void OnCategorySelected();
    void ShowNewsBalloon(unsigned char changeMask);
    void OnBalloonClick();
    void OnShowCommand();
    void OnAbout();
    // Send command: the send-message dialog with the recipient list.
    void OnSendMessage();
    void OnChooseFont();
    void OnClose();
    void OnCloseCommand();
    void OnEndSession();
    void RequestDestroy();
    bool IsDestroyDue() const noexcept;
    void DestroyIfDue();
    void ReportCaught();

    CNoteliaIcon m_trayIcon;
    CMessageFetcher m_fetcher;
    FrameTimer m_timer;
    CNewsState m_news;
    bool m_bCloseConfirmed = false;
    CStatusBar m_statusBar;
    CToolBar m_toolBar;
    CReBar m_reBar;
    CPaneWnd m_pane;
    CCategorySelector m_selector;
    CColorEdit m_view;

    HACCEL m_hAccel = nullptr;
    // The frame's dots per inch, and what it drew at that scale.
    UINT m_nDpi = 96;
    UniqueHIcon m_smallIcon;
    UniqueHIcon m_bigIcon;
    UniqueHFont m_uiFont;
    UINT m_nTaskbarCreated = 0;
    // A cycle runs, or its boxes and outcome are being shown: ticks and commands start none.
    bool m_bFetching = false;
    CCycleWorker m_worker;
    // The last completed cycle's outcome, as its result brought it.
    int m_nLastOutcome = OUTCOME_NO_CONNECTION;
    // The first cycle's configuration file sets the ticks per fetch once it has come.
    bool m_bReadRefresh = false;
    // The close questions are on screen.
    bool m_bAskingClose = false;
    // The close was confirmed: the window goes once no cycle and no nested loop runs.
    bool m_bDestroyPending = false;
    CNestedLoop* m_pInnermostLoop = nullptr;
    bool m_bSessionEnded = false;
    std::function<void()> m_sessionEnd;
    // The window that shows the current fly-by prompt (null: the idle text shows).
    HWND m_hPromptWnd = nullptr;
    bool m_bOwnedByWindow = false;
    // The send-message dialog while it runs: a second send command brings it forward.
    CSendMessageDlg* m_pSendDlg = nullptr;
};
