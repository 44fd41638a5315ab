#include "ui/MainFrame.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
#include <tuple>
#include <vector>

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
#include "win/Handles.h"
#include "win/MessageBox.h"
#include "win/Resources.h"
#include "win/TextCodec.h"

namespace {

constexpr wchar_t kFrameClass[] = L"NoteliaMainFrame";

constexpr UINT_PTR kTimerId = 1;
constexpr int kDefaultTimerRefresh = 300;

// The tray icon's callback message.
constexpr UINT kTrayCallback = WM_USER;
// Destroys the window once a confirmed close is due.
constexpr UINT kDestroyMessage = WM_APP + 1;
// The worker's cycle has ended; the lParam is its result, owned by the message.
constexpr UINT kFetchDoneMessage = WM_APP + 2;
// While a cycle runs: a worker that could not post its result is found ended.
constexpr UINT_PTR kWorkerWatchTimerId = 2;
constexpr UINT kWorkerWatchPeriod = 500;
// How long the frame's end waits for a stopped worker: every wait of a cycle but a name
// lookup ends at once on the stop.
constexpr DWORD kWorkerStopWait = 2000;

constexpr char kCloseQuestion[] = "¿Está seguro que desea cerrar la aplicación?";
constexpr char kCloseCaption[] = "Notelia";
constexpr UINT kCloseQuestionFlags = MB_YESNO | MB_ICONEXCLAMATION;  // 0x34
constexpr char kCloseWarning[] = "Ud. dejará de recibir mensajes. Desea continuar?";
constexpr UINT kCloseWarningFlags = MB_YESNO | MB_ICONINFORMATION;  // 0x44

// Sizes in pixels at 96 dots per inch; the frame scales them to its own.
constexpr RECT kViewRect{0, 0, 499, 231};
// In toolbar coordinates; the drop-down reaches 237 pixels below the top.
constexpr RECT kSelectorRect{105, 3, 260, 240};
constexpr SIZE kToolbarImage{16, 15};
constexpr SIZE kToolbarButton{24, 22};
constexpr int kSelectorImage = 16;
// The selector's slot shows no picture: there is no such image.
constexpr int kNoImage = 260;
constexpr int kSelectorSlot = 3;
constexpr unsigned char kAllCategories = CHANGED_GENERAL | CHANGED_ADMINISTRATIVO | CHANGED_OPERATIVO | CHANGED_COMERCIAL;

constexpr int kFrameX = 140;
constexpr int kFrameY = 100;
constexpr int kFrameWidth = 510;
constexpr int kFrameHeight = 330;
// The view follows a border drag: the frame's size less what surrounds the view.
constexpr int kViewWidthMargin = 11;
constexpr int kViewHeightMargin = 100;

RECT ScaleRect(const RECT& rect, UINT dpi)
{
    return {ScaleForDpi(rect.left, dpi), ScaleForDpi(rect.top, dpi), ScaleForDpi(rect.right, dpi),
            ScaleForDpi(rect.bottom, dpi)};
}

// The pictures drawn for the scale nearest to `dpi`, with the sizes they were drawn at.
struct ScaledImages {
    UINT toolbar;
    SIZE toolbarImage;
    SIZE toolbarButton;
    UINT selector;
    int selectorImage;
};
ScaledImages ImagesForDpi(UINT dpi)
{
    const int percent = ImageScalePercent(dpi);
    const auto scale = [percent](LONG pixels) { return static_cast<LONG>(MulDiv(pixels, percent, 100)); };
    const bool large = percent == 200;
    return {static_cast<UINT>(percent == 100 ? IDB_TOOLBAR : large ? IDB_TOOLBAR_200 : IDB_TOOLBAR_150),
            {scale(kToolbarImage.cx), scale(kToolbarImage.cy)},
            {scale(kToolbarButton.cx), scale(kToolbarButton.cy)},
            static_cast<UINT>(percent == 100 ? IDB_CATEGORIES : large ? IDB_CATEGORIES_200 : IDB_CATEGORIES_150),
            static_cast<int>(scale(kSelectorImage))};
}

void CenterOnWorkArea(HWND hWnd)
{
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
    RECT rect{};
    GetWindowRect(hWnd, &rect);
    const RECT& area = monitor.rcWork;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int x = area.left + (area.right - area.left - width) / 2;
    const int y = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

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

bool CMainFrame::LoadFrame(UINT resourceId, DWORD style)
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_BAR_CLASSES | ICC_COOL_CLASSES | ICC_USEREX_CLASSES | ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    const HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.style = CS_DBLCLKS;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = LoadIconW(module, MAKEINTRESOURCEW(resourceId));
    wc.hIconSm = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(resourceId), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    if (!RegisterWindowClass(kFrameClass, wc)) return false;

    m_hAccel = LoadAcceleratorsW(module, MAKEINTRESOURCEW(resourceId));
    const HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(resourceId));
    const std::wstring title = LoadResourceStringW(resourceId);
    if (!CreateEx(0, kFrameClass, title.c_str(), style, kFrameX, kFrameY, kFrameWidth, kFrameHeight, nullptr, menu)) {
        // A window that was never made may not have taken the menu with it.
        if (menu && IsMenu(menu)) DestroyMenu(menu);
        return false;
    }
    m_bOwnedByWindow = true;
    return true;
}

int CMainFrame::OnCreate()
{
    SetMainWindow(Handle());
    m_nDpi = WindowDpi(Handle());
    const ScaledImages images = ImagesForDpi(m_nDpi);

    if (!m_pane.Create(Handle(), IDW_PANE_FIRST)) return -1;
    if (!m_view.Create(m_pane.Handle(), ScaleRect(kViewRect, m_nDpi), IDC_VIEW,
                       WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE))
        return -1;
    // Word-wrapped lines read back with soft line-break marks.
    SendMessageW(m_view.Handle(), EM_FMTLINES, TRUE, 0);

    if (!m_toolBar.Create(Handle(), TBSTYLE_FLAT, WS_CHILD | WS_VISIBLE, IDW_TOOLBAR)) return -1;
    if (!m_toolBar.LoadButtons(images.toolbar, images.toolbarImage, images.toolbarButton,
                               {{ID_TOOLBAR_SEND, 0}, {ID_TOOLBAR_FETCH, 1}, {0, 0}, {ID_TOOLBAR_SELECTOR, 2}}))
        return -1;
    if (!m_toolBar.SetButtonInfo(kSelectorSlot, IDC_CATEGORY, 0, kNoImage)) return -1;

    if (!m_reBar.Create(Handle(), RBS_BANDBORDERS, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | CCS_TOP,
                        IDW_REBAR))
        return -1;

    if (!m_statusBar.Create(Handle(), WS_CHILD | WS_VISIBLE | CCS_BOTTOM | SBARS_SIZEGRIP, IDW_STATUS_BAR,
                            IDS_IDLE_MESSAGE))
        return -1;
    m_statusBar.SetIndicators(
        {{ID_INDICATOR_CAPS, VK_CAPITAL}, {ID_INDICATOR_NUM, VK_NUMLOCK}, {ID_INDICATOR_SCRL, VK_SCROLL}});

    if (!m_selector.Create(m_toolBar.Handle(), ScaleRect(kSelectorRect, m_nDpi), IDC_CATEGORY, images.selector,
                           images.selectorImage))
        return -1;
    for (int index = 0; index < kCategoryCount; ++index)
        if (!m_selector.InsertCategory(index, kImageUnseen)) return -1;

    if (!m_reBar.AddBar(m_toolBar.Handle(), BandSize(), RBBS_GRIPPERALWAYS | RBBS_FIXEDBMP)) return -1;
    // Commands and notifications of the toolbar and its selector come here, not to the rebar.
    SendMessageW(m_toolBar.Handle(), TB_SETPARENT, reinterpret_cast<WPARAM>(Handle()), 0);

    m_trayIcon.SetNotifyWindow(Handle(), kTrayCallback);
    m_trayIcon.SetIconFromResource(IDI_NO_CONEXION);
    m_nTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");

    SetWindowTextW(Handle(), LoadResourceStringW(IDR_MAINFRAME).c_str());
    SetWindowIcons();
    SetWindowPos(Handle(), HWND_TOP, ScaleForDpi(kFrameX, m_nDpi), ScaleForDpi(kFrameY, m_nDpi),
                 ScaleForDpi(kFrameWidth, m_nDpi), ScaleForDpi(kFrameHeight, m_nDpi), SWP_FRAMECHANGED);
    CenterOnWorkArea(Handle());

    StartTimer(kFirstTickMs);
    m_view.ApplyViewFont();
    return 0;
}

SIZE CMainFrame::BandSize() const
{
    // The band holds the buttons and the selector in the toolbar's last slot.
    RECT selector{};
    GetWindowRect(m_selector.Handle(), &selector);
    const RECT place = ScaleRect(kSelectorRect, m_nDpi);
    const SIZE buttons = m_toolBar.ButtonsExtent();
    return {std::max<LONG>(buttons.cx, place.right),
            std::max<LONG>(buttons.cy, place.top + (selector.bottom - selector.top)) + ScaleForDpi(2, m_nDpi)};
}

void CMainFrame::SetWindowIcons()
{
    // The caption's and the task switcher's icons, drawn at this scale rather than stretched.
    const HINSTANCE module = GetModuleHandleW(nullptr);
    for (const auto& [which, metric, icon] : {std::tuple{ICON_SMALL, SM_CXSMICON, &m_smallIcon},
                                              std::tuple{ICON_BIG, SM_CXICON, &m_bigIcon}}) {
        const int side = SystemMetricForDpi(metric, m_nDpi);
        UniqueHIcon loaded(
            static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, side, side, 0)));
        if (!loaded) continue;
        SendMessageW(Handle(), WM_SETICON, which, reinterpret_cast<LPARAM>(loaded.get()));
        *icon = std::move(loaded);
    }
}

void CMainFrame::OnDpiChanged(UINT dpi, const RECT& suggested)
{
    const UINT old = m_nDpi;
    if (dpi == 0 || dpi == old) return;
    m_nDpi = dpi;
    const ScaledImages images = ImagesForDpi(dpi);
    m_toolBar.SetImages(images.toolbar, images.toolbarImage, images.toolbarButton);
    m_selector.SetImages(images.selector, images.selectorImage);
    // The controls' text follows the scale too: the system's message font at this one.
    m_uiFont.reset(CreateMessageFontForDpi(dpi));
    for (const HWND control : {m_selector.Handle(), m_statusBar.Handle()})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_uiFont.get()), TRUE);
    const RECT place = ScaleRect(kSelectorRect, dpi);
    SetWindowPos(m_selector.Handle(), nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
    m_reBar.SetBarSize(0, BandSize());
    // The view keeps its share of the frame: a size the user dragged scales with the rest.
    RECT view{};
    GetWindowRect(m_view.Handle(), &view);
    SetWindowPos(m_view.Handle(), nullptr, 0, 0, MulDiv(view.right - view.left, dpi, old),
                 MulDiv(view.bottom - view.top, dpi, old), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    m_view.ApplyViewFont();
    SetWindowIcons();
    m_statusBar.SetIndicators(m_statusBar.Indicators());
    SetWindowPos(Handle(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    OnSize();
}

bool CMainFrame::PreTranslateMessage(MSG& msg)
{
    const HWND frame = Handle();
    if (!frame || (msg.hwnd != frame && !IsChild(frame, msg.hwnd))) return false;
    if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) m_statusBar.UpdateIndicators();
    if (msg.message == WM_MOUSEMOVE || msg.message == WM_MOUSELEAVE) TrackFlyBy(msg);
    // Ctrl+C closes, also inside the view: the accelerator takes the key before the edit does.
    return m_hAccel && TranslateAcceleratorW(frame, m_hAccel, &msg);
}

void CMainFrame::TrackFlyBy(const MSG& msg)
{
    if (msg.message == WM_MOUSELEAVE) {
        if (msg.hwnd == m_hPromptWnd) {
            m_hPromptWnd = nullptr;
            m_statusBar.ShowIdle();
        }
        return;
    }
    UINT id = 0;
    if (msg.hwnd == m_toolBar.Handle())
        id = m_toolBar.CommandAt({GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)});
    else if (msg.hwnd == m_selector.Handle() || IsChild(m_selector.Handle(), msg.hwnd))
        id = IDC_CATEGORY;
    if (!id) {
        if (m_hPromptWnd) {
            m_hPromptWnd = nullptr;
            m_statusBar.ShowIdle();
        }
        return;
    }
    if (m_hPromptWnd != msg.hwnd) {
        // The idle text comes back when the mouse leaves.
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, msg.hwnd, 0};
        TrackMouseEvent(&track);
        m_hPromptWnd = msg.hwnd;
    }
    m_statusBar.ShowPrompt(id);
}

void CMainFrame::OnMenuSelect(UINT item, UINT flags, HMENU menu)
{
    if (flags == 0xFFFF && !menu)
        m_statusBar.ShowIdle();
    else if (flags & (MF_POPUP | MF_SEPARATOR))
        m_statusBar.SetMessageText(L"");
    else
        m_statusBar.ShowPrompt(item);
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
        if (wParam == kWorkerWatchTimerId) {
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
    case kFetchDoneMessage:
        if (lParam) OnFetchDone(reinterpret_cast<CycleResult*>(lParam));
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
            if (const unsigned char unseen = AnnouncedUnseen()) ShowNewsBalloon(unseen);
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

// What the worker hands to the frame, as the pointer of the message that tells its end.
struct CMainFrame::CycleResult {
    CycleOutcome cycle;
    std::exception_ptr error;
    std::vector<DeferredBox> boxes;
};

// The worker's end, as the worker tells it: `posted` says whether its result is on its way.
struct CMainFrame::WorkerEnd {
    UniqueKernelHandle ended{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> posted{false};

    bool HasEnded(DWORD milliseconds) const { return WaitForSingleObject(ended.get(), milliseconds) == WAIT_OBJECT_0; }
};

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
        auto end = std::make_shared<WorkerEnd>();
        if (!end->ended) throw std::bad_alloc();
        m_worker = std::thread(&CMainFrame::RunCycle, MakeFetchJob(), Handle(), ResultPoster(), end);
        m_pWorkerEnd = std::move(end);
        SetTimer(Handle(), kWorkerWatchTimerId, kWorkerWatchPeriod, nullptr);
    } catch (const std::exception&) {
        m_bFetching = false;
        ReportErrorCode(Handle(), ERR_NO_MEMORY);
    }
}

void CMainFrame::RunCycle(FetchJob job, HWND frame, PostFunction post, std::shared_ptr<WorkerEnd> end) noexcept
{
    std::unique_ptr<CycleResult> result(new (std::nothrow) CycleResult);
    if (result) {
        // The download's boxes wait for the frame: the worker never blocks on the user.
        CReportCollector collector;
        try {
            result->cycle = job();
        } catch (...) {
            result->error = std::current_exception();
        }
        try {
            result->boxes = std::move(collector.boxes);
        } catch (...) {
            // Boxes that cannot be kept are not shown.
        }
    }
    // What the cycle held goes before its end is told.
    job = nullptr;
    if (result && post(frame, kFetchDoneMessage, 0, reinterpret_cast<LPARAM>(result.get()))) {
        result.release();
        end->posted = true;
    }
    SetEvent(end->ended.get());
}

void CMainFrame::OnFetchDone(CycleResult* posted)
{
    const std::unique_ptr<CycleResult> result(posted);
    KillTimer(Handle(), kWorkerWatchTimerId);
    if (m_worker.joinable()) m_worker.join();
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
    if (!m_bFetching || !m_pWorkerEnd || !m_pWorkerEnd->HasEnded(0) || m_pWorkerEnd->posted) return;
    KillTimer(Handle(), kWorkerWatchTimerId);
    if (m_worker.joinable()) m_worker.join();
    EndCycle();
}

void CMainFrame::EndCycle()
{
    m_bFetching = false;
    m_pWorkerEnd.reset();
    if (m_bReadRefresh) {
        // Read once per run, from the file that the first cycle has brought.
        m_bReadRefresh = false;
        m_timer.ticksPerFetch = TicksPerFetch(ReadConfigInt("Timer", "TimerRefresh", kDefaultTimerRefresh));
    }
    DestroyIfDue();
}

void CMainFrame::StopWorker() noexcept
{
    if (!m_worker.joinable()) return;
    // Every network wait of the cycle ends at once and the probe's is bounded; a name lookup
    // cannot be ended, so a worker held there is left behind once the files are closed. It
    // holds nothing of the frame.
    m_fetcher.Stop();
    if (m_pWorkerEnd && m_pWorkerEnd->HasEnded(kWorkerStopWait)) {
        m_worker.join();
    } else {
        m_fetcher.CloseFiles();
        m_worker.detach();
    }
    KillTimer(Handle(), kWorkerWatchTimerId);
    // A result already posted is freed with its message; none will be shown any more.
    MSG msg;
    while (Handle() && PeekMessageW(&msg, Handle(), kFetchDoneMessage, kFetchDoneMessage, PM_REMOVE))
        delete reinterpret_cast<CycleResult*>(msg.lParam);
    m_pWorkerEnd.reset();
    m_bFetching = false;
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

bool* CMainFrame::SeenFlag(int index) noexcept
{
    switch (index) {
    case CATEGORY_OPERATIVO: return &m_bSeenOperativo;
    case CATEGORY_COMERCIAL: return &m_bSeenComercial;
    case CATEGORY_ADMINISTRATIVO: return &m_bSeenAdministrativo;
    default: return nullptr;
    }
}

bool CMainFrame::AllSeen() const noexcept
{
    return m_bSeenOperativo && m_bSeenComercial && m_bSeenAdministrativo;
}

unsigned char CMainFrame::AnnouncedUnseen() noexcept
{
    unsigned char unseen = 0;
    for (int index = 0; index < kCategoryCount; ++index)
        if (const bool* flag = SeenFlag(index); flag && !*flag) unseen |= CategoryBit(index);
    return unseen & m_nAnnounced;
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
    // The first category of the news still unseen, else the one the news showed first.
    const unsigned char unseen = AnnouncedUnseen();
    if (m_nAnnounced) {
        m_selector.SetCurSel(ShownCategory(unseen ? unseen : m_nAnnounced));
        OnCategorySelected();
    }
    OnShowCommand();
}

void CMainFrame::ShowFetchResult(unsigned char changeMask)
{
    // News of categories announced and still unseen is not announced again.
    const unsigned char fresh = changeMask & ~AnnouncedUnseen() & kAllCategories;
    const int shown = ShownCategory(changeMask);
    // Read before anything changes: a failed read leaves the selector and view as they were.
    std::string text;
    ReadCategoryText(m_fetcher.Files(), shown, text);

    m_selector.ResetContent();
    m_view.ShowMessageText(text);
    m_view.SetTextColour(Category(shown).colour);
    for (int index = 0; index < kCategoryCount; ++index) {
        const bool seen = SeenAfterNews(index, shown, changeMask);
        m_selector.InsertCategory(index, seen ? kImageSeen : kImageUnseen);
        if (bool* flag = SeenFlag(index)) *flag = seen;
    }
    m_selector.SetCurSel(shown);
    m_trayIcon.SetIconFromResource(static_cast<UINT>(TrayAfterNews(AllSeen())));
    ShowWindow(Handle(), SW_SHOW);
    // The system may refuse the foreground to a program in the background: the balloon is
    // what the user notices then.
    SetForegroundWindow(Handle());
    if (fresh) {
        m_nAnnounced = changeMask & kAllCategories;
        ShowNewsBalloon(changeMask);
    }
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
            if (bool* flag = SeenFlag(index)) *flag = true;
        }
        m_view.ShowMessageText(text);
        if (const int tray = TrayAfterChoice(m_nLastOutcome, AllSeen()))
            m_trayIcon.SetIconFromResource(static_cast<UINT>(tray));
    } catch (...) {
        ReportCaught();
    }
}

void CMainFrame::OnSizing(RECT& proposed)
{
    SetWindowPos(m_view.Handle(), HWND_TOP, 0, 0,
                 proposed.right - proposed.left - ScaleForDpi(kViewWidthMargin, m_nDpi),
                 proposed.bottom - proposed.top - ScaleForDpi(kViewHeightMargin, m_nDpi), SWP_NOMOVE | SWP_FRAMECHANGED);
}

void CMainFrame::OnSize()
{
    if (!m_pane.Handle()) return;
    RECT client{};
    GetClientRect(Handle(), &client);
    const int top = m_reBar.Handle() ? m_reBar.Layout() : 0;
    const int bottom = client.bottom - (m_statusBar.Handle() ? m_statusBar.Layout() : 0);
    SetWindowPos(m_pane.Handle(), nullptr, 0, top, client.right, std::max(0, bottom - top),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    // The view's sizes were made for thinner borders: it never sticks out of the pane, where
    // its scroll bar would be cut off.
    RECT pane{}, view{};
    GetClientRect(m_pane.Handle(), &pane);
    GetWindowRect(m_view.Handle(), &view);
    const int width = std::min<int>(view.right - view.left, pane.right);
    const int height = std::min<int>(view.bottom - view.top, pane.bottom);
    if (width < view.right - view.left || height < view.bottom - view.top)
        SetWindowPos(m_view.Handle(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
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
