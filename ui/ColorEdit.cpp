#include "ui/ColorEdit.h"

#include <utility>

#include "app/ErrorReport.h"
#include "app/Errors.h"
#include "app/SettingValues.h"
#include "app/Settings.h"
#include "retrieval/MessageText.h"
#include "ui/DisplayFont.h"
#include "win/Dpi.h"
#include "win/TextCodec.h"

namespace {
// Text given to the control in one message: about 30 ms of its layout work under Wine.
constexpr std::size_t kSliceUnits = 4096;
// The view's own message: add the next slice.
constexpr UINT kAppendSlice = WM_APP + 1;

// One view font for the whole process; it lives until the process ends.
UniqueHFont& ViewFontObject()
{
    static UniqueHFont font;
    return font;
}
} // namespace

CColorEdit::CColorEdit()
    : m_crBackground(GetSysColor(COLOR_WINDOW)), m_brBackground(CreateSolidBrush(m_crBackground))
{
}

bool CColorEdit::Create(HWND parent, const RECT& rect, UINT id, DWORD style)
{
    if (!CreateControl(0, L"EDIT", L"", style, rect, parent, id)) return false;
    // Added text counts against the limit, 32767 characters by default; a message may be longer.
    SendMessageW(Handle(), EM_SETLIMITTEXT, 0, 0);
    return true;
}

void CColorEdit::ShowText(std::u16string_view text)
{
    m_strPending.assign(text.begin(), text.end());
    m_nPendingAt = SliceEnd(0);
    SetWindowTextW(Handle(), m_strPending.substr(0, m_nPendingAt).c_str());
    // A slice already asked for takes the new text's next one.
    if (!m_bSlicePosted) ContinueFilling();
}

void CColorEdit::ShowMessageText(std::string_view fileBytes)
{
    ShowText(MessageViewText(fileBytes));
}

std::size_t CColorEdit::SliceEnd(std::size_t from) const
{
    if (m_strPending.size() - from <= kSliceUnits) return m_strPending.size();
    std::size_t end = from + kSliceUnits;
    const std::size_t line = m_strPending.rfind(L'\n', end - 1);
    if (line != std::wstring::npos && line > from) return line + 1;
    // No line end: never between the two halves of a surrogate pair.
    if (m_strPending[end - 1] >= 0xD800 && m_strPending[end - 1] <= 0xDBFF) --end;
    return end;
}

void CColorEdit::AppendSlice()
{
    if (!Filling()) return;
    const std::size_t end = SliceEnd(m_nPendingAt);
    const std::wstring slice = m_strPending.substr(m_nPendingAt, end - m_nPendingAt);
    const HWND view = Handle();
    // The user's selection and first visible line stay where they are.
    DWORD selStart = 0, selEnd = 0;
    SendMessageW(view, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
    const auto top = SendMessageW(view, EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageW(view, WM_SETREDRAW, FALSE, 0);
    SendMessageW(view, EM_SETSEL, m_nPendingAt, m_nPendingAt);
    SendMessageW(view, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(slice.c_str()));
    SendMessageW(view, EM_SETSEL, selStart, selEnd);
    SendMessageW(view, EM_LINESCROLL, 0, top - SendMessageW(view, EM_GETFIRSTVISIBLELINE, 0, 0));
    SendMessageW(view, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(view, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
    m_nPendingAt = end;
    ContinueFilling();
}

void CColorEdit::ContinueFilling()
{
    if (Filling()) m_bSlicePosted = PostMessageW(Handle(), kAppendSlice, 0, 0) != FALSE;
    // A queue that takes no more messages gets the rest at once: slow, but nothing is lost.
    if (Filling() && !m_bSlicePosted) SetWindowTextW(Handle(), m_strPending.c_str());
    if (!m_bSlicePosted) {
        m_strPending.clear();
        m_nPendingAt = 0;
    }
}

LRESULT CColorEdit::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg != kAppendSlice) return CWindow::WindowProc(msg, wParam, lParam);
    m_bSlicePosted = false;
    AppendSlice();
    return 0;
}

void CColorEdit::SetTextColour(COLORREF colour)
{
    m_crText = colour;
    if (!Handle()) return;
    // The whole control, background included, also when the colour did not change.
    InvalidateRect(Handle(), nullptr, TRUE);
    UpdateWindow(Handle());
}

HBRUSH CColorEdit::OnReflectedCtlColor(HDC dc)
{
    SetTextColor(dc, m_crText);
    SetBkColor(dc, m_crBackground);
    return m_brBackground.get();
}

bool CColorEdit::OnReflectedMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT& result)
{
    // A read-only edit asks with the static control's message.
    if (msg != WM_CTLCOLOREDIT && msg != WM_CTLCOLORSTATIC) return false;
    result = reinterpret_cast<LRESULT>(OnReflectedCtlColor(reinterpret_cast<HDC>(wParam)));
    return true;
}

void CColorEdit::ApplyViewFont()
{
    try {
        const std::string face = ReadFontSetting("Font", 100);
        const bool bold = IsYes(ReadFontSetting("IsBold", 4));
        const bool italic = IsYes(ReadFontSetting("IsItalic", 4));
        const long size = ParseLenientLong(ReadFontSetting("FontSize", 10));

        // The stored tenths of a point are taken as a character height in pixels at 96 dots
        // per inch, and follow the view's scale.
        const HFONT font = CreateFontW(ScaleForDpi(static_cast<int>(size / -10), WindowDpi(Handle())), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL,
                                       italic ? TRUE : FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_STRING_PRECIS,
                                       CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, 0,
                                       WidenCp1252(CutFaceName(face)).c_str());
        // The old font is released only once the view no longer uses it.
        UniqueHFont previous(ViewFontObject().release());
        ViewFontObject().reset(font);
        if (Handle()) SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    } catch (const CCodeException& error) {
        ReportErrorCode(Handle(), error.Code());
    }
}

HFONT CColorEdit::ViewFont() noexcept
{
    return ViewFontObject().get();
}
