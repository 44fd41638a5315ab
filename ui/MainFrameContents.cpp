// The frame's contents: creating the window with its bars, selector and view, their scale and
// sizes, and the status bar's fly-by prompts.
#include "ui/MainFrame.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <tuple>

#include "res/resource.h"
#include "win/Dpi.h"
#include "win/Handles.h"
#include "win/Resources.h"

namespace {

constexpr wchar_t kFrameClass[] = L"NoteliaMainFrame";

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
