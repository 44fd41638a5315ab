// The frame's window procedure, its commands and the order of their steps: the cycle's start
// and the showing of its result, the news in view, selector and tray, and the close.
#include "ui/MainFrame.h"

#include <exception>

#include "app/ErrorReport.h"
#include "app/Identity.h"
#include "app/Settings.h"
#include "app/SettingValues.h"
#include "request/RecipientSource.h"
#include "res/resource.h"
#include "ui/AboutDlg.h"
#include "ui/DisplayFont.h"
#include "win/Dpi.h"
#include "win/FlagScope.h"
#include "win/MessageBox.h"
#include "win/Resources.h"
#include "win/TextCodec.h"

namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr int kDefaultTimerRefresh = 300;

// Destroys the window once a confirmed close is due.
constexpr UINT kDestroyMessage = WM_APP + 1;

constexpr char kCloseQuestion[] = "¿Está seguro que desea cerrar la aplicación?";
constexpr char kCloseCaption[] = "Notelia";
constexpr UINT kCloseQuestionFlags = MB_YESNO | MB_ICONEXCLAMATION;  // 0x34
constexpr char kCloseWarning[] = "Ud. dejará de recibir mensajes. Desea continuar?";
constexpr UINT kCloseWarningFlags = MB_YESNO | MB_ICONINFORMATION;  // 0x44

} // namespace

CMainFrame::CMainFrame() : m_trayIcon(IDR_TRAYMENU) {}

CMainFrame::CMainFrame(unsigned short port, unsigned long timeOut)
    : m_trayIcon(IDR_TRAYMENU), m_fetcher(port, timeOut, &GetKitId)
{
}

CMainFrame::~CMainFrame()
{
    StopWorker();
    if (MainWindow() == Handle() && Handle()) SetMainWindow(nullptr);
}

CMainFrame::CNestedLoop::CNestedLoop(CMainFrame& frame, std::function<void()> end)
    : m_frame(frame), m_end(std::move(end)), m_pOuter(frame.m_pInnermostLoop)
{
    m_frame.m_pInnermostLoop = this;
}

CMainFrame::CNestedLoop::~CNestedLoop()
{
    m_frame.m_pInnermostLoop = m_pOuter;
    m_frame.DestroyIfDue();
}

LRESULT CMainFrame::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE:
        if (Default(msg, wParam, lParam) == -1) return -1;
        return OnCreate();
    case WM_SETFOCUS:
        if (m_pane.Handle()) SetFocus(m_pane.Handle());
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_TIMER:
        if (wParam == CCycleWorker::kWatchTimerId) {
            OnWorkerWatch();
            return 0;
        }
        OnTimer();
        return Default(msg, wParam, lParam);
    case kTrayCallback: {
        // The menu's loop: a close confirmed from elsewhere meanwhile closes the menu first.
        const CNestedLoop menu(*this, [] { EndMenu(); });
        return m_trayIcon.OnTrayNotification(wParam, lParam);
    }
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_SIZING: {
        const LRESULT result = Default(msg, wParam, lParam);
        OnSizing(*reinterpret_cast<RECT*>(lParam));
        return result;
    }
    case WM_SIZE:
        OnSize();
        return Default(msg, wParam, lParam);
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_MENUSELECT:
        OnMenuSelect(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HMENU>(lParam));
        return 0;
    case WM_EXITMENULOOP:
        m_statusBar.ShowIdle();
        return 0;
    case WM_ACTIVATE:
        m_statusBar.UpdateIndicators();
        return Default(msg, wParam, lParam);
    case WM_ENDSESSION:
        if (wParam) OnEndSession();
        return 0;
    case kDestroyMessage:
        // Checked again: a cycle or a loop may have started since it was posted.
        if (IsDestroyDue()) DestroyWindow(Handle());
        return 0;
    case CCycleWorker::kDoneMessage:
        if (lParam) OnFetchDone(m_worker.TakeResult(lParam));
        return 0;
    case WM_DESTROY:
        StopWorker();
        KillTimer(Handle(), kTimerId);
        m_trayIcon.SetIconFromResource(0);
        if (MainWindow() == Handle()) SetMainWindow(nullptr);
        PostQuitMessage(0);
        return 0;
    default:
        if (m_nTaskbarCreated && msg == m_nTaskbarCreated) {
            m_trayIcon.OnTaskbarCreated();
            // The new taskbar never showed the balloon of news still waiting.
            if (const unsigned char unseen = m_news.AnnouncedUnseen()) ShowNewsBalloon(unseen);
            return 0;
        }
        return Default(msg, wParam, lParam);
    }
}

void CMainFrame::OnFinalMessage()
{
    if (m_bOwnedByWindow) delete this;
}

void CMainFrame::OnCommand(UINT id, UINT notifyCode, HWND control)
{
    if (control && control == m_selector.Handle()) {
        if (id == IDC_CATEGORY && notifyCode == CBN_SELENDOK) OnCategorySelected();
        return;
    }
    // Other controls' notifications are no commands; toolbar buttons are.
    if (control && control != m_toolBar.Handle()) return;
    if (m_pane.OnCommand(id)) return;
    switch (id) {
    case ID_TOOLBAR_FETCH:
    case ID_FILE_FETCH: OnFetchNow(); break;
    case ID_TOOLBAR_SEND:
    case ID_FILE_SEND:
    case ID_TRAY_SEND: OnSendMessage(); break;
    case ID_SHOW: OnShowCommand(); break;
    case ID_TRAY_BALLOON: OnBalloonClick(); break;
    case ID_TRAY_CLOSE:
    case ID_APP_EXIT: OnCloseCommand(); break;
    case ID_FORMAT_FONT: OnChooseFont(); break;
    case ID_APP_ABOUT: OnAbout(); break;
    default: break;
    }
}

CMainFrame::FetchJob CMainFrame::MakeFetchJob()
{
    const std::shared_ptr<CFetchCycle> cycle = m_fetcher.NewCycle();
    return [cycle] {
        CycleOutcome result;
        result.mask = cycle->FetchAll();
        result.outcome = cycle->Outcome();
        return result;
    };
}

void CMainFrame::StartTimer(UINT milliseconds)
{
    SetTimer(Handle(), kTimerId, milliseconds, nullptr);
}

void CMainFrame::OnTimer()
{
    // Ticks that come while a cycle runs are dropped.
    if (m_bFetching || m_bSessionEnded) return;
    const TickAction action = AdvanceTimer(m_timer);
    if (action.period) StartTimer(action.period);
    if (action.readRefresh) m_bReadRefresh = true;
    if (action.fetch) OnFetchNow();
}

void CMainFrame::OnFetchNow()
{
    if (m_bFetching || m_bSessionEnded || m_bDestroyPending) return;
    m_fetcher.ClearStop();
    m_bFetching = true;
    try {
        m_worker.Start(Handle(), MakeFetchJob(), ResultPoster());
    } catch (const std::exception&) {
        m_bFetching = false;
        ReportErrorCode(Handle(), ERR_NO_MEMORY);
    }
}

void CMainFrame::OnFetchDone(std::unique_ptr<CCycleWorker::Result> result)
{
    {
        const CNestedLoop boxes(*this);
        // A close confirmed meanwhile drops the rest: the program is ending.
        for (const DeferredBox& box : result->boxes) {
            if (m_bDestroyPending || m_bSessionEnded) break;
            ShowMessageBox(box.owner, box.text, box.caption, box.flags);
        }
        if (!m_bDestroyPending && !m_bSessionEnded) {
            try {
                if (result->error) std::rethrow_exception(result->error);
                m_nLastOutcome = result->cycle.outcome;
                if (result->cycle.outcome == OUTCOME_NEWS)
                    ShowFetchResult(result->cycle.mask);
                else if (const int tray = TrayAfterOutcome(result->cycle.outcome, m_trayIcon.TrayState()))
                    m_trayIcon.SetIconFromResource(static_cast<UINT>(tray));
            } catch (...) {
                ReportCaughtError(Handle());
            }
        }
    }
    EndCycle();
}

void CMainFrame::OnWorkerWatch()
{
    if (m_bFetching && m_worker.EndedUnposted()) EndCycle();
}

void CMainFrame::EndCycle()
{
    m_bFetching = false;
    if (m_bReadRefresh) {
        // Read once per run, from the file that the first cycle has brought.
        m_bReadRefresh = false;
        m_timer.ticksPerFetch = TicksPerFetch(ReadConfigInt("Timer", "TimerRefresh", kDefaultTimerRefresh));
    }
    DestroyIfDue();
}

void CMainFrame::StopWorker() noexcept
{
    // Every network wait of the cycle ends at once, the echo's included (only the system's echo
    // service, used without raw sockets, waits out its bounded time); a worker held in a name
    // lookup or a certificate's revocation look-up is left behind once the files are closed.
    if (m_worker.Stop([this] { m_fetcher.Stop(); }, [this] { m_fetcher.CloseFiles(); })) m_bFetching = false;
}

void CMainFrame::OnEndSession()
{
    // The process ends with the session: no questions, and the frame, its icon and the files
    // stay (deleting the files would show every category as news at the next log-on).
    m_bSessionEnded = true;
    KillTimer(Handle(), kTimerId);
    // Every worker has ended before the handler releases Windows Sockets.
    StopWorker();
    if (m_pSendDlg) m_pSendDlg->Abandon();
    if (m_sessionEnd) m_sessionEnd();
}

void CMainFrame::RequestDestroy()
{
    if (m_bSessionEnded) return;
    m_bDestroyPending = true;
    if (m_bFetching) m_fetcher.Stop();
    for (CNestedLoop* loop = m_pInnermostLoop; loop; loop = loop->m_pOuter)
        if (loop->m_end) loop->m_end();
    DestroyIfDue();
}

bool CMainFrame::IsDestroyDue() const noexcept
{
    return m_bDestroyPending && !m_bFetching && !m_pInnermostLoop && !m_bSessionEnded;
}

void CMainFrame::DestroyIfDue()
{
    // Posted: the window goes from the message loop, never under a handler still running.
    if (IsDestroyDue()) PostMessageW(Handle(), kDestroyMessage, 0, 0);
}

void CMainFrame::ReportCaught()
{
    const CNestedLoop box(*this);
    ReportCaughtError(Handle());
}

void CMainFrame::ShowNewsBalloon(unsigned char changeMask)
{
    std::wstring names;
    for (int index = 0; index < kCategoryCount; ++index) {
        if (!(changeMask & CategoryBit(index))) continue;
        if (!names.empty()) names += L", ";
        names += WidenCp1252(Category(index).text);
    }
    const int side = SystemMetricForDpi(SM_CXICON, WindowDpi(Handle()));
    const auto icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                    IMAGE_ICON, side, side, LR_SHARED));
    m_trayIcon.ShowBalloon(LoadResourceStringW(IDI_HAY_MENSAJES), names, icon);
}

void CMainFrame::OnBalloonClick()
{
    if (const int index = m_news.BalloonCategory(); index >= 0) {
        m_selector.SetCurSel(index);
        OnCategorySelected();
    }
    OnShowCommand();
}

void CMainFrame::ShowFetchResult(unsigned char changeMask)
{
    const int shown = ShownCategory(changeMask);
    // Read before anything changes: a failed read leaves the selector and view as they were.
    std::string text;
    ReadCategoryText(m_fetcher.Files(), shown, text);
    const CNewsState::News news = m_news.OnNews(changeMask);

    m_selector.ResetContent();
    m_view.ShowMessageText(text);
    m_view.SetTextColour(Category(shown).colour);
    for (int index = 0; index < kCategoryCount; ++index)
        m_selector.InsertCategory(index, news.seen[index] ? kImageSeen : kImageUnseen);
    m_selector.SetCurSel(shown);
    m_trayIcon.SetIconFromResource(static_cast<UINT>(news.tray));
    ShowWindow(Handle(), SW_SHOW);
    // The system may refuse the foreground to a program in the background: the balloon is
    // what the user notices then.
    SetForegroundWindow(Handle());
    if (news.balloon) ShowNewsBalloon(news.balloon);
}

void CMainFrame::OnCategorySelected()
{
    const int index = m_selector.GetCurSel();
    try {
        std::string text;
        if (index >= 0 && index < kCategoryCount) {
            ReadCategoryText(m_fetcher.Files(), index, text);
            m_view.SetTextColour(Category(index).colour);
            m_selector.DeleteItem(index);
            m_selector.InsertCategory(index, kImageSeen);
            m_selector.SetCurSel(index);
        }
        m_view.ShowMessageText(text);
        if (const int tray = m_news.OnChoice(index, m_nLastOutcome))
            m_trayIcon.SetIconFromResource(static_cast<UINT>(tray));
    } catch (...) {
        ReportCaught();
    }
}

void CMainFrame::OnShowCommand()
{
    ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
}

void CMainFrame::OnCloseCommand()
{
    if (m_bSessionEnded) return;
    m_bCloseConfirmed = true;
    // The window may be gone when this returns.
    SendMessageW(Handle(), WM_CLOSE, 0, 0);
}

void CMainFrame::OnClose()
{
    if (!m_bCloseConfirmed) {
        ShowWindow(Handle(), SW_HIDE);
        return;
    }
    // A second close command while the questions are on screen adds no second pair.
    if (m_bAskingClose) return;
    bool confirmed = false;
    {
        const CNestedLoop questions(*this);
        const CFlagScope asking(m_bAskingClose);
        confirmed = ShowMessageBox(Handle(), kCloseQuestion, kCloseCaption, kCloseQuestionFlags) == IDYES &&
                    !m_bSessionEnded &&
                    ShowMessageBox(Handle(), kCloseWarning, kErrorCaption, kCloseWarningFlags) == IDYES;
    }
    m_bCloseConfirmed = false;
    // A running cycle is stopped and the window goes once it has ended.
    if (confirmed) RequestDestroy();
}

void CMainFrame::OnSendMessage()
{
    // The tray menu stays usable beside the dialog, which has no owner: one dialog at a time.
    if (m_pSendDlg) {
        SetForegroundWindow(m_pSendDlg->Handle());
        return;
    }
    try {
        CSendMessageDlg dialog;
        if (!ReadRecipientList(m_fetcher.Files(), dialog.RecipientList)) dialog.RecipientList = BuiltInRecipientList();
        // A confirmed close stops the session and ends the dialog; the window goes after it.
        const CNestedLoop loop(*this, [&dialog] { dialog.Abandon(); });
        m_pSendDlg = &dialog;
        dialog.DoModal();
        m_pSendDlg = nullptr;
    } catch (...) {
        m_pSendDlg = nullptr;
        ReportCaught();
    }
}

void CMainFrame::OnAbout()
{
    CAboutDlg about;
    const CNestedLoop dialog(*this, [&about] {
        if (about.Handle()) about.EndDialog(IDCANCEL);
    });
    about.DoModal();
}

void CMainFrame::OnChooseFont()
{
    const CNestedLoop dialog(*this);
    ChooseViewFont(Handle(), m_view);
}
