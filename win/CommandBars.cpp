#include "win/CommandBars.h"

#include "win/Dpi.h"
#include "win/Resources.h"

namespace {

HWND CreateChild(const wchar_t* className, DWORD exStyle, DWORD style, HWND parent, UINT id)
{
    return CreateWindowExW(exStyle, className, nullptr, style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

// Room around an indicator's text inside its pane, at 96 dots per inch.
constexpr int kIndicatorMargin = 10;
// The colour of the toolbar bitmaps' background.
constexpr COLORREF kButtonFaceGrey = RGB(192, 192, 192);

} // namespace

bool CToolBar::Create(HWND parent, DWORD controlStyle, DWORD style, UINT id)
{
    // Sized and placed by the rebar that holds it, not by its parent.
    m_hWnd = CreateChild(TOOLBARCLASSNAMEW, 0,
                         style | controlStyle | CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN, parent, id);
    if (!m_hWnd) return false;
    SendMessageW(m_hWnd, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    return true;
}

CToolBar::~CToolBar()
{
    if (m_hImages) ImageList_Destroy(m_hImages);
}

bool CToolBar::LoadButtons(UINT bitmapId, SIZE imageSize, SIZE buttonSize, const std::vector<ToolbarButton>& buttons)
{
    if (!SetImages(bitmapId, imageSize, buttonSize)) return false;
    std::vector<TBBUTTON> items;
    for (const auto& button : buttons) {
        TBBUTTON item{};
        item.idCommand = static_cast<int>(button.command);
        item.iBitmap = button.command ? button.image : 0;
        item.fsState = TBSTATE_ENABLED;
        item.fsStyle = button.command ? BTNS_BUTTON : BTNS_SEP;
        item.iString = -1;
        items.push_back(item);
    }
    return SendMessageW(m_hWnd, TB_ADDBUTTONSW, items.size(), reinterpret_cast<LPARAM>(items.data())) != 0;
}

bool CToolBar::SetImages(UINT bitmapId, SIZE imageSize, SIZE buttonSize)
{
    // Light grey is the mask: the button face shows through, whatever its colour.
    const HIMAGELIST images = ImageList_LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(bitmapId),
                                                   imageSize.cx, 0, kButtonFaceGrey, IMAGE_BITMAP, LR_CREATEDIBSECTION);
    if (!images) return false;
    SendMessageW(m_hWnd, TB_SETBITMAPSIZE, 0, MAKELPARAM(imageSize.cx, imageSize.cy));
    SendMessageW(m_hWnd, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    if (m_hImages) ImageList_Destroy(m_hImages);
    m_hImages = images;
    SendMessageW(m_hWnd, TB_SETBUTTONSIZE, 0, MAKELPARAM(buttonSize.cx, buttonSize.cy));
    SendMessageW(m_hWnd, TB_AUTOSIZE, 0, 0);
    return true;
}

bool CToolBar::SetButtonInfo(int index, UINT command, BYTE style, int image)
{
    TBBUTTONINFOW info{};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_BYINDEX | TBIF_COMMAND | TBIF_STYLE | TBIF_IMAGE;
    info.idCommand = static_cast<int>(command);
    info.fsStyle = style;
    info.iImage = image;
    return SendMessageW(m_hWnd, TB_SETBUTTONINFOW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&info)) != 0;
}

UINT CToolBar::CommandAt(POINT point) const
{
    const auto index = static_cast<int>(SendMessageW(m_hWnd, TB_HITTEST, 0, reinterpret_cast<LPARAM>(&point)));
    if (index < 0) return 0;
    TBBUTTON item{};
    if (!SendMessageW(m_hWnd, TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item))) return 0;
    if (item.fsStyle & BTNS_SEP) return 0;
    return static_cast<UINT>(item.idCommand);
}

SIZE CToolBar::ButtonsExtent() const
{
    SIZE extent{};
    const auto count = static_cast<int>(SendMessageW(m_hWnd, TB_BUTTONCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        RECT rect{};
        if (!SendMessageW(m_hWnd, TB_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&rect))) continue;
        if (rect.right > extent.cx) extent.cx = rect.right;
        if (rect.bottom > extent.cy) extent.cy = rect.bottom;
    }
    return extent;
}

bool CReBar::Create(HWND parent, DWORD controlStyle, DWORD style, UINT id)
{
    m_hWnd = CreateChild(REBARCLASSNAMEW, 0, style | controlStyle | CCS_NODIVIDER, parent, id);
    if (!m_hWnd) return false;
    REBARINFO info{};
    info.cbSize = sizeof info;
    return SendMessageW(m_hWnd, RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&info)) != 0;
}

bool CReBar::AddBar(HWND child, SIZE minSize, UINT bandStyle)
{
    // The rebar becomes the child's parent but the child keeps telling its first parent.
    REBARBANDINFOW band{};
    band.cbSize = sizeof band;
    band.fMask = RBBIM_STYLE | RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE;
    band.fStyle = bandStyle;
    band.hwndChild = child;
    band.cxMinChild = static_cast<UINT>(minSize.cx);
    band.cyMinChild = static_cast<UINT>(minSize.cy);
    band.cx = static_cast<UINT>(minSize.cx);
    return SendMessageW(m_hWnd, RB_INSERTBANDW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band)) != 0;
}

bool CReBar::SetBarSize(int index, SIZE minSize)
{
    REBARBANDINFOW band{};
    band.cbSize = sizeof band;
    band.fMask = RBBIM_CHILDSIZE | RBBIM_SIZE;
    band.cxMinChild = static_cast<UINT>(minSize.cx);
    band.cyMinChild = static_cast<UINT>(minSize.cy);
    band.cx = static_cast<UINT>(minSize.cx);
    return SendMessageW(m_hWnd, RB_SETBANDINFOW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&band)) != 0;
}

int CReBar::Layout()
{
    // A top-aligned rebar places itself along its parent's top edge.
    SendMessageW(m_hWnd, WM_SIZE, 0, 0);
    RECT rect{};
    GetWindowRect(m_hWnd, &rect);
    return rect.bottom - rect.top;
}

bool CStatusBar::Create(HWND parent, DWORD style, UINT id, UINT idleTextId)
{
    m_nIdleTextId = idleTextId;
    m_hWnd = CreateChild(STATUSCLASSNAMEW, 0, style, parent, id);
    return m_hWnd != nullptr;
}

bool CStatusBar::SetIndicators(const std::vector<StatusIndicator>& indicators)
{
    m_indicators = indicators;
    m_widths.assign(1, 0);
    m_shown.assign(indicators.size() + 1, std::wstring());
    const HDC dc = GetDC(m_hWnd);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0)));
    for (const auto& indicator : m_indicators) {
        const std::wstring text = LoadResourceStringW(indicator.textId);
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        m_widths.push_back(size.cx + ScaleForDpi(kIndicatorMargin, WindowDpi(m_hWnd)));
    }
    SelectObject(dc, old);
    ReleaseDC(m_hWnd, dc);
    SetPaneWidths();
    ShowIdle();
    UpdateIndicators();
    return true;
}

void CStatusBar::SetPaneWidths()
{
    if (m_widths.empty()) return;
    RECT client{};
    GetClientRect(m_hWnd, &client);
    int right = client.right;
    if (GetWindowLongW(m_hWnd, GWL_STYLE) & SBARS_SIZEGRIP) right -= GetSystemMetrics(SM_CXVSCROLL);
    std::vector<int> edges(m_widths.size());
    edges.back() = -1;
    for (std::size_t i = m_widths.size() - 1; i > 0; --i) {
        edges[i - 1] = right - m_widths[i];
        right = edges[i - 1];
    }
    SendMessageW(m_hWnd, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
    // New parts start empty.
    for (std::size_t i = 0; i < m_shown.size(); ++i)
        SendMessageW(m_hWnd, SB_SETTEXTW, i, reinterpret_cast<LPARAM>(m_shown[i].c_str()));
}

void CStatusBar::SetMessageText(const std::wstring& text)
{
    if (m_shown.empty()) m_shown.resize(1);
    m_shown[0] = text;
    SendMessageW(m_hWnd, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring CStatusBar::MessageText() const
{
    return m_shown.empty() ? std::wstring() : m_shown[0];
}

UINT CStatusBar::PromptId(UINT command) noexcept
{
    // System commands 0xF000 ... 0xF1F0 have their prompts at 0xEF00 on, one per command.
    if (command >= 0xF000 && command < 0xF1F0) return 0xEF00 + ((command - 0xF000) >> 4);
    return command;
}

void CStatusBar::ShowPrompt(UINT id)
{
    std::wstring text = LoadResourceStringW(id ? PromptId(id) : m_nIdleTextId);
    // A second part after a line end would be the tooltip.
    const auto end = text.find(L'\n');
    if (end != std::wstring::npos) text.resize(end);
    if (text != MessageText()) SetMessageText(text);
}

void CStatusBar::UpdateIndicators()
{
    for (std::size_t i = 0; i < m_indicators.size(); ++i) {
        const bool on = (GetKeyState(m_indicators[i].virtualKey) & 1) != 0;
        std::wstring text = on ? LoadResourceStringW(m_indicators[i].textId) : std::wstring();
        if (text == m_shown[i + 1]) continue;
        m_shown[i + 1] = std::move(text);
        SendMessageW(m_hWnd, SB_SETTEXTW, i + 1, reinterpret_cast<LPARAM>(m_shown[i + 1].c_str()));
    }
}

int CStatusBar::Layout()
{
    SendMessageW(m_hWnd, WM_SIZE, 0, 0);
    SetPaneWidths();
    RECT rect{};
    GetWindowRect(m_hWnd, &rect);
    return rect.bottom - rect.top;
}
