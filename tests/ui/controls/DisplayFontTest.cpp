// The view font and the font dialog against the real settings key, with the font dialog and
// the message boxes answered through their seams.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>

#include <string>
#include <tuple>

#include "res/resource.h"
#include "tests/support/WinTestSupport.h"
#include "ui/ColorEdit.h"
#include "ui/DisplayFont.h"
#include "win/FontDialog.h"

using testing_support::RecordedBox;
using testing_support::ScriptedBoxes;

namespace {

const std::string kReadErrorText = "No se pudo encontrar la entrada en la registry.";
const std::string kWriteErrorText = "Se produjo un error al escribir la nueva configuraci\xF3n en la registry.";

// Height, weight and italic flag of a font description.
std::tuple<LONG, LONG, int> Shape(const LOGFONTW& lf)
{
    return {lf.lfHeight, lf.lfWeight, lf.lfItalic};
}

class DisplayFontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_frame.Create());
        ASSERT_TRUE(m_view.Create(m_frame.Handle(), RECT{0, 0, 499, 231}, IDC_VIEW, WS_CHILD | ES_MULTILINE));
        // Records what the dialog is given and answers with `ok`, `chosen` and `pointSize`.
        m_previous = SetFontDialogHandler([this](CHOOSEFONTW& cf) {
            flags = cf.Flags;
            owner = cf.hwndOwner;
            given = *cf.lpLogFont;
            if (!ok) return false;
            *cf.lpLogFont = chosen;
            cf.iPointSize = pointSize;
            return true;
        });
        Provision(L"Arial", L"No", L"No", L"120");
    }
    void TearDown() override { SetFontDialogHandler(m_previous); }

    void Provision(const std::wstring& face, const std::wstring& bold, const std::wstring& italic,
                   const std::wstring& size)
    {
        ASSERT_TRUE(m_key.Set(L"Font", face) && m_key.Set(L"IsBold", bold) && m_key.Set(L"IsItalic", italic) &&
                    m_key.Set(L"FontSize", size));
    }
    HFONT ViewFont() { return reinterpret_cast<HFONT>(SendMessageW(m_view.Handle(), WM_GETFONT, 0, 0)); }
    LOGFONTW ViewLogFont()
    {
        LOGFONTW lf{};
        GetObjectW(ViewFont(), sizeof lf, &lf);
        return lf;
    }
    // The font command with the dialog answering OK with this choice, or Cancel without a face.
    void Choose(const wchar_t* face = nullptr, LONG weight = 0, BYTE italic = 0, INT points = 0)
    {
        ok = face != nullptr;
        chosen = LOGFONTW{};
        lstrcpynW(chosen.lfFaceName, face ? face : L"", LF_FACESIZE);
        chosen.lfWeight = weight;
        chosen.lfItalic = italic;
        pointSize = points;
        ChooseViewFont(m_frame.Handle(), m_view);
    }

    testing_support::ScopedSettingsKey m_key;
    testing_support::CRecorderWindow m_frame;
    CColorEdit m_view;
    FontDialogHandler m_previous;
    DWORD flags = 0;
    HWND owner = nullptr;
    LOGFONTW given{}, chosen{};
    bool ok = false;
    INT pointSize = 0;
};

} // namespace

TEST_F(DisplayFontTest, ViewFontTakesTheStoredTenthsAsAHeight)
{
    Provision(L"Arial", L"Yes", L"Yes", L"125");
    ScriptedBoxes boxes;
    m_view.ApplyViewFont();
    const HFONT first = ViewFont();
    EXPECT_EQ(first, CColorEdit::ViewFont());
    EXPECT_EQ(Shape(ViewLogFont()), std::tuple(-12, FW_BOLD, TRUE));
    EXPECT_STREQ(ViewLogFont().lfFaceName, L"Arial");

    Provision(L"Arial", L"No", L"No", L"95");
    m_view.ApplyViewFont();
    EXPECT_EQ(Shape(ViewLogFont()), std::tuple(-9, FW_NORMAL, 0));
    // One view font for the process: the one it replaced is gone.
    EXPECT_EQ(GetObjectType(first), 0u);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DisplayFontTest, ViewFontReportsAnUnreadableValueAndKeepsItsFont)
{
    m_view.ApplyViewFont();
    const HFONT before = ViewFont();
    // Five bytes do not fit the four-byte buffer of "IsItalic".
    const std::function<void()> breakages[] = {[&] { m_key.Delete(L"FontSize"); },
                                               [&] { m_key.Set(L"IsItalic", L"Nope"); },
                                               [] { testing_support::ScopedSettingsKey::Remove(); }};
    for (const auto& breakage : breakages) {
        Provision(L"Arial", L"No", L"No", L"120");
        breakage();
        ScriptedBoxes boxes;
        m_view.ApplyViewFont();
        EXPECT_EQ(boxes.boxes, (std::vector{RecordedBox{m_view.Handle(), kReadErrorText, "ATENCION", MB_ICONHAND}}));
        EXPECT_EQ(ViewFont(), before);
    }
}

TEST_F(DisplayFontTest, DialogStartsFromTheStoredFontInPointsAtScreenResolution)
{
    Provision(std::wstring(40, L'F'), L"Yes", L"No", L"125");
    Choose();
    EXPECT_EQ(flags, 0x00800041u);
    EXPECT_EQ(owner, m_frame.Handle());
    // A face longer than a font description holds is cut to 31 characters.
    EXPECT_EQ(std::wstring(given.lfFaceName), std::wstring(31, L'F'));
    // 125 tenths are 12 points: 16 pixels at 96 dots per inch.
    const HDC screen = GetDC(m_frame.Handle());
    ASSERT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
    ReleaseDC(m_frame.Handle(), screen);
    EXPECT_EQ(Shape(given), std::tuple(-16, FW_BOLD, 0));

    Provision(L"Arial", L"No", L"Yes", L"120");
    Choose();
    EXPECT_EQ(Shape(given), std::tuple(-16, FW_NORMAL, TRUE));
    // Cancel changes nothing.
    EXPECT_EQ(m_key.Raw(L"Font"), std::wstring(L"Arial\0", 6));
    EXPECT_EQ(m_key.Raw(L"FontSize"), std::wstring(L"120\0", 4));
}

TEST_F(DisplayFontTest, OkStoresTheChoiceAndAppliesIt)
{
    ScriptedBoxes boxes;
    Choose(L"Times New Roman", FW_BOLD, FALSE, 120);
    // The face with its terminator, the others without.
    EXPECT_EQ(m_key.Raw(L"Font"), std::wstring(L"Times New Roman\0", 16));
    EXPECT_EQ(m_key.Raw(L"IsBold"), L"Yes");
    EXPECT_EQ(m_key.Raw(L"IsItalic"), L"No");
    EXPECT_EQ(m_key.Raw(L"FontSize"), L"120");
    EXPECT_STREQ(ViewLogFont().lfFaceName, L"Times New Roman");
    EXPECT_EQ(Shape(ViewLogFont()), std::tuple(-12, FW_BOLD, 0));

    // Only exactly 700 is bold.
    for (const LONG weight : {600L, 800L}) {
        Choose(L"Arial", weight, TRUE, 95);
        EXPECT_EQ(m_key.Raw(L"IsBold"), L"No") << weight;
    }
    EXPECT_EQ(m_key.Raw(L"IsItalic"), L"Yes");
    EXPECT_EQ(m_key.Raw(L"FontSize"), L"95");
    EXPECT_EQ(ViewLogFont().lfItalic, TRUE);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DisplayFontTest, WithoutTheKeyTheDialogUsesDefaultsAndSavingFails)
{
    m_view.ApplyViewFont();
    const HFONT before = ViewFont();
    testing_support::ScopedSettingsKey::Remove();

    ScriptedBoxes boxes;
    Choose(L"Courier New", FW_BOLD, TRUE, 140);
    EXPECT_STREQ(given.lfFaceName, L"Times New Roman");
    EXPECT_EQ(Shape(given), std::tuple(-16, 0, 0));
    // One box, for the write; the view is not touched and nothing brought the key back.
    EXPECT_EQ(boxes.boxes, (std::vector{RecordedBox{m_frame.Handle(), kWriteErrorText, "ATENCION", MB_ICONHAND}}));
    EXPECT_EQ(ViewFont(), before);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, testing_support::kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
}

namespace {
// What the real font dialog shows, read from inside its modal loop.
struct RealDialogSeen {
    std::wstring face, size;
    HWND owner = nullptr;
    int ticks = 0;
} g_real;

// Reads the real dialog, once it is up as the thread's active window, and answers OK.
void CALLBACK AnswerRealFontDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    const HWND dialog = GetActiveWindow();
    const bool up = dialog && GetDlgItem(dialog, cmb1) && GetDlgItem(dialog, cmb3) && IsWindowVisible(dialog);
    if (!up && ++g_real.ticks < 250) return;
    KillTimer(nullptr, timer);
    if (!up) return;
    testing_support::ExpectFieldsNamedByTheirLabels(dialog);
    g_real.face = testing_support::WindowText(GetDlgItem(dialog, cmb1));
    g_real.size = testing_support::WindowText(GetDlgItem(dialog, cmb3));
    g_real.owner = GetWindow(dialog, GW_OWNER);
    SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
}

int CALLBACK KeepTrueTypeFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM lParam)
{
    if ((type & TRUETYPE_FONTTYPE) && font->lfFaceName[0] != L'@')
        *reinterpret_cast<std::wstring*>(lParam) = font->lfFaceName;
    return 1;
}
} // namespace

TEST_F(DisplayFontTest, TheRealDialogShowsTheStoredSizeInPoints)
{
    // A scalable face of this machine that the dialog does not select on its own (its first).
    std::wstring face;
    LOGFONTW all{};
    all.lfCharSet = DEFAULT_CHARSET;
    const HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &all, KeepTrueTypeFace, reinterpret_cast<LPARAM>(&face), 0);
    ReleaseDC(nullptr, screen);
    Provision(face, L"Yes", L"No", L"120");
    // No handler: the system's own dialog, answered from inside its loop.
    SetFontDialogHandler(nullptr);
    ASSERT_NE(SetTimer(nullptr, 0, 20, AnswerRealFontDialog), 0u);
    ScriptedBoxes boxes;
    ChooseViewFont(m_frame.Handle(), m_view);

    EXPECT_EQ(g_real.face, face);
    EXPECT_EQ(g_real.size, L"12");
    EXPECT_EQ(g_real.owner, m_frame.Handle());
    EXPECT_TRUE(boxes.boxes.empty());
    // OK without changes stores what was shown.
    EXPECT_EQ(m_key.Raw(L"Font"), face + std::wstring(1, L'\0'));
    EXPECT_EQ(m_key.Raw(L"FontSize"), L"120");
    EXPECT_EQ(m_key.Raw(L"IsBold"), L"Yes");
    EXPECT_EQ(m_key.Raw(L"IsItalic"), L"No");
    EXPECT_EQ(ViewLogFont().lfHeight, -12);
}
