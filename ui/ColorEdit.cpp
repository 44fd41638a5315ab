#include "ui/ColorEdit.h"

#include <utility>

#include "app/ErrorReport.h"
#include "app/Errors.h"
#include "app/SettingValues.h"
#include "app/Settings.h"
#include "win/Dpi.h"
#include "win/TextCodec.h"

namespace {
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
    return CreateControl(0, L"EDIT", L"", style, rect, parent, id);
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
        const std::string face = ReadSetting("Font", 100);
        const bool bold = IsYes(ReadSetting("IsBold", 4));
        const bool italic = IsYes(ReadSetting("IsItalic", 4));
        const long size = ParseLenientLong(ReadSetting("FontSize", 10));

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
