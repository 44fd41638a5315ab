#include "ui/DisplayFont.h"

#include <commdlg.h>

#include <cwchar>
#include <string>

#include "app/ErrorReport.h"
#include "app/Errors.h"
#include "app/SettingValues.h"
#include "app/Settings.h"
#include "ui/ColorEdit.h"
#include "win/FontDialog.h"
#include "win/Dpi.h"
#include "win/TextCodec.h"

bool TryReadFontSetting(const char* valueName, std::uint32_t bufferSize, std::string& text)
{
    return TryReadSetting(valueName, bufferSize, text, RegistryRoot::User) ||
           TryReadSetting(valueName, bufferSize, text, RegistryRoot::Machine);
}

std::string ReadFontSetting(const char* valueName, std::uint32_t bufferSize)
{
    std::string text;
    if (!TryReadFontSetting(valueName, bufferSize, text)) throw CCodeException(ERR_REGISTRY_READ);
    return text;
}

void WriteFontSetting(const char* valueName, const std::string& text, bool withTerminator)
{
    WriteSetting(valueName, text, withTerminator, RegistryRoot::User);
}

namespace {
constexpr char kDefaultFace[] = "Times New Roman";
constexpr long kDefaultPoints = 12;

// The stored font as the dialog starts from it; missing values take the dialog's defaults.
LOGFONTW StoredFontDescription(HWND frame)
{
    LOGFONTW font{};
    std::string text;

    std::string face = kDefaultFace;
    if (TryReadFontSetting("Font", 50, text)) face = text;
    const std::wstring wideFace = WidenCp1252(CutFaceName(face));
    std::wmemcpy(font.lfFaceName, wideFace.c_str(), wideFace.size());

    long points = kDefaultPoints;
    if (TryReadFontSetting("FontSize", 10, text)) points = ParseLenientLong(text) / 10;
    // Points to pixels at the frame's resolution.
    font.lfHeight = -MulDiv(static_cast<int>(points), static_cast<int>(WindowDpi(frame)), 72);

    if (TryReadFontSetting("IsItalic", 4, text)) font.lfItalic = IsYes(text) ? TRUE : FALSE;
    // Without a stored value the weight stays the font's default (0).
    if (TryReadFontSetting("IsBold", 4, text)) font.lfWeight = IsYes(text) ? FW_BOLD : FW_NORMAL;
    return font;
}
} // namespace

void ChooseViewFont(HWND frame, CColorEdit& view)
{
    LOGFONTW font = StoredFontDescription(frame);

    CHOOSEFONTW choice{};
    choice.lStructSize = sizeof choice;
    // The dialog is modal to the program's top-level window.
    choice.hwndOwner = frame ? GetAncestor(frame, GA_ROOT) : nullptr;
    choice.lpLogFont = &font;
    choice.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_NOSCRIPTSEL;
    if (!ShowFontDialog(choice)) return;

    try {
        const std::wstring face(font.lfFaceName, wcsnlen(font.lfFaceName, LF_FACESIZE));
        WriteFontSetting("Font", NarrowCp1252(face), true);
        WriteFontSetting("IsBold", YesNo(font.lfWeight == FW_BOLD), false);
        WriteFontSetting("IsItalic", YesNo(font.lfItalic != 0), false);
        WriteFontSetting("FontSize", std::to_string(choice.iPointSize), false);
    } catch (const CCodeException& error) {
        ReportErrorCode(frame, error.Code());
        return;
    }
    view.ApplyViewFont();
}
