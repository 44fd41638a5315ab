// The view font and the font dialog against the real settings key, with the font dialog and
// the message boxes answered through their seams.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>

#include <string>

#include "res/resource.h"
#include "tests/ui/controls/UiTestSupport.h"
#include "ui/ColorEdit.h"
#include "ui/DisplayFont.h"
#include "ui/PaneWnd.h"
#include "win/FontDialog.h"

using ui_test::CMessageBoxRecorder;
using ui_test::CRecorderWindow;

namespace {

const wchar_t kKey[] = L"Software\\Quorvex\\Zandu\\Usuario";
const std::string kReadErrorText = "No se pudo encontrar la entrada en la registry.";
const std::string kWriteErrorText = "Se produjo un error al escribir la nueva configuraci\xF3n en la registry.";

// What the font dialog was given, and what it answers.
struct FontDialogScript {
    bool called = false;
    DWORD flags = 0;
    HWND owner = nullptr;
    HDC dc = reinterpret_cast<HDC>(1);
    LOGFONTW given{};
    bool ok = true;
    LOGFONTW chosen{};
    INT pointSize = 0;
};

class DisplayFontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteKey();
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_TRUE(m_frame.Create());
        ASSERT_TRUE(m_pane.Create(m_frame.Handle(), 0xE900));
        ASSERT_TRUE(m_view.Create(m_pane.Handle(), RECT{0, 0, 499, 231}, IDC_VIEW,
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE));
        m_previous = SetFontDialogHandler([this](CHOOSEFONTW& cf) {
            m_script.called = true;
            m_script.flags = cf.Flags;
            m_script.owner = cf.hwndOwner;
            m_script.dc = cf.hDC;
            m_script.given = *cf.lpLogFont;
            if (!m_script.ok) return false;
            *cf.lpLogFont = m_script.chosen;
            cf.iPointSize = m_script.pointSize;
            return true;
        });
    }
    void TearDown() override
    {
        SetFontDialogHandler(m_previous);
        if (m_key) RegCloseKey(m_key);
        DeleteKey();
    }
    void DeleteKey()
    {
        if (m_key) RegCloseKey(m_key);
        m_key = nullptr;
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    }

    // As an administrator's .reg file stores them: with the terminator.
    void Set(const wchar_t* name, const std::wstring& text)
    {
        ASSERT_EQ(RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    void Provision(const std::wstring& face, const std::wstring& bold, const std::wstring& italic,
                   const std::wstring& size)
    {
        Set(L"Font", face);
        Set(L"IsBold", bold);
        Set(L"IsItalic", italic);
        Set(L"FontSize", size);
    }
    // The stored data, exactly as long as stored.
    std::wstring Raw(const wchar_t* name)
    {
        wchar_t data[128] = {};
        DWORD bytes = sizeof data;
        DWORD type = 0;
        if (RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) != ERROR_SUCCESS)
            return L"<missing>";
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        return std::wstring(data, bytes / sizeof(wchar_t));
    }

    HFONT ViewFont() { return reinterpret_cast<HFONT>(SendMessageW(m_view.Handle(), WM_GETFONT, 0, 0)); }
    LOGFONTW ViewLogFont()
    {
        LOGFONTW lf{};
        EXPECT_EQ(GetObjectW(ViewFont(), sizeof lf, &lf), static_cast<int>(sizeof lf));
        return lf;
    }
    static LOGFONTW Chosen(const wchar_t* face, LONG weight, BYTE italic)
    {
        LOGFONTW lf{};
        lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
        lf.lfWeight = weight;
        lf.lfItalic = italic;
        lf.lfHeight = -16;
        return lf;
    }

    HKEY m_key = nullptr;
    CRecorderWindow m_frame;
    CPaneWnd m_pane;
    CColorEdit m_view;
    FontDialogScript m_script;
    FontDialogHandler m_previous;
};

} // namespace

TEST_F(DisplayFontTest, ViewFontTakesTheStoredSizeAsAHeight)
{
    Provision(L"Arial", L"No", L"No", L"120");
    CMessageBoxRecorder boxes;
    m_view.ApplyViewFont();
    EXPECT_EQ(ViewFont(), CColorEdit::ViewFont());
    const LOGFONTW lf = ViewLogFont();
    EXPECT_EQ(lf.lfHeight, -12);
    EXPECT_EQ(lf.lfWidth, 0);
    EXPECT_EQ(lf.lfWeight, FW_NORMAL);
    EXPECT_EQ(lf.lfItalic, 0);
    EXPECT_EQ(lf.lfUnderline, 0);
    EXPECT_EQ(lf.lfStrikeOut, 0);
    EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
    EXPECT_EQ(lf.lfOutPrecision, OUT_STRING_PRECIS);
    EXPECT_EQ(lf.lfClipPrecision, CLIP_CHARACTER_PRECIS);
    EXPECT_EQ(lf.lfQuality, DEFAULT_QUALITY);
    EXPECT_EQ(lf.lfPitchAndFamily, 0);
    EXPECT_STREQ(lf.lfFaceName, L"Arial");

    Set(L"FontSize", L"125");
    Set(L"IsBold", L"YES");
    Set(L"IsItalic", L"yes");
    const HFONT first = ViewFont();
    m_view.ApplyViewFont();
    const LOGFONTW second = ViewLogFont();
    EXPECT_EQ(second.lfHeight, -12);
    EXPECT_EQ(second.lfWeight, FW_BOLD);
    EXPECT_EQ(second.lfItalic, TRUE);
    // One view font for the process: the one it replaced is gone.
    EXPECT_EQ(GetObjectType(first), 0u);

    Set(L"FontSize", L"grande");
    Set(L"IsBold", L"1");
    m_view.ApplyViewFont();
    EXPECT_EQ(ViewLogFont().lfHeight, 0);
    EXPECT_EQ(ViewLogFont().lfWeight, FW_NORMAL);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DisplayFontTest, ViewFontReportsAMissingKeyAndKeepsItsFont)
{
    Provision(L"Arial", L"No", L"No", L"120");
    m_view.ApplyViewFont();
    const HFONT before = ViewFont();
    DeleteKey();

    CMessageBoxRecorder boxes;
    m_view.ApplyViewFont();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, kReadErrorText);
    EXPECT_EQ(boxes.boxes[0].caption, "ATENCION");
    EXPECT_EQ(boxes.boxes[0].flags, 16u);
    EXPECT_EQ(boxes.boxes[0].owner, m_view.Handle());
    EXPECT_EQ(ViewFont(), before);
    EXPECT_EQ(ViewLogFont().lfHeight, -12);
}

TEST_F(DisplayFontTest, ViewFontReportsOneMissingOrOverlongValue)
{
    Provision(L"Arial", L"No", L"No", L"120");
    RegDeleteValueW(m_key, L"FontSize");
    CMessageBoxRecorder boxes;
    m_view.ApplyViewFont();
    Set(L"FontSize", L"120");
    // Five bytes do not fit the four-byte buffer.
    Set(L"IsItalic", L"Nope");
    m_view.ApplyViewFont();
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text, kReadErrorText);
    EXPECT_EQ(boxes.boxes[1].text, kReadErrorText);
}

TEST_F(DisplayFontTest, DialogStartsFromTheStoredFontAtScreenResolution)
{
    Provision(L"Arial", L"YES", L"No", L"120");
    m_script.ok = false;
    ChooseViewFont(m_frame.Handle(), m_view);
    ASSERT_TRUE(m_script.called);
    EXPECT_EQ(m_script.flags, 0x00800041u);
    EXPECT_EQ(m_script.dc, nullptr);
    EXPECT_EQ(m_script.owner, m_frame.Handle());
    EXPECT_STREQ(m_script.given.lfFaceName, L"Arial");
    // 12 points at 96 dots per inch.
    const HDC dc = GetDC(m_frame.Handle());
    ASSERT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 96);
    ReleaseDC(m_frame.Handle(), dc);
    EXPECT_EQ(m_script.given.lfHeight, -16);
    EXPECT_EQ(m_script.given.lfWeight, FW_BOLD);
    EXPECT_EQ(m_script.given.lfItalic, 0);

    // 125 tenths are 12 points; the weight of "No" is normal.
    Set(L"FontSize", L"125");
    Set(L"IsBold", L"No");
    Set(L"IsItalic", L"yEs");
    ChooseViewFont(m_frame.Handle(), m_view);
    EXPECT_EQ(m_script.given.lfHeight, -16);
    EXPECT_EQ(m_script.given.lfWeight, FW_NORMAL);
    EXPECT_EQ(m_script.given.lfItalic, TRUE);

    Set(L"FontSize", L"grande");
    ChooseViewFont(m_frame.Handle(), m_view);
    EXPECT_EQ(m_script.given.lfHeight, 0);

    // A face longer than a font description holds is cut to 31 characters.
    Set(L"Font", std::wstring(40, L'F'));
    ChooseViewFont(m_frame.Handle(), m_view);
    EXPECT_EQ(std::wstring(m_script.given.lfFaceName), std::wstring(31, L'F'));

    // Cancel changes nothing.
    EXPECT_EQ(Raw(L"FontSize"), std::wstring(L"grande\0", 7));
}

TEST_F(DisplayFontTest, OkStoresTheChoiceInOrderAndAppliesIt)
{
    Provision(L"Times New Roman", L"No", L"Yes", L"100");
    m_view.ApplyViewFont();
    m_script.chosen = Chosen(L"Arial", FW_BOLD, FALSE);
    m_script.pointSize = 120;
    CMessageBoxRecorder boxes;
    ChooseViewFont(m_frame.Handle(), m_view);
    EXPECT_TRUE(boxes.boxes.empty());

    // The face with its terminator, the others without.
    EXPECT_EQ(Raw(L"Font"), std::wstring(L"Arial\0", 6));
    EXPECT_EQ(Raw(L"IsBold"), L"Yes");
    EXPECT_EQ(Raw(L"IsItalic"), L"No");
    EXPECT_EQ(Raw(L"FontSize"), L"120");
    const LOGFONTW lf = ViewLogFont();
    EXPECT_STREQ(lf.lfFaceName, L"Arial");
    EXPECT_EQ(lf.lfHeight, -12);
    EXPECT_EQ(lf.lfWeight, FW_BOLD);

    // The next dialog opens with the stored 12 points at the screen's resolution.
    m_script.ok = false;
    ChooseViewFont(m_frame.Handle(), m_view);
    EXPECT_EQ(m_script.given.lfHeight, -16);
    EXPECT_EQ(m_script.given.lfWeight, FW_BOLD);

    // Only exactly 700 is bold.
    m_script.ok = true;
    m_script.chosen = Chosen(L"Arial", 600, TRUE);
    m_script.pointSize = 95;
    ChooseViewFont(m_frame.Handle(), m_view);
    EXPECT_EQ(Raw(L"IsBold"), L"No");
    EXPECT_EQ(Raw(L"IsItalic"), L"Yes");
    EXPECT_EQ(Raw(L"FontSize"), L"95");
    EXPECT_EQ(ViewLogFont().lfHeight, -9);
    EXPECT_EQ(ViewLogFont().lfItalic, TRUE);
    m_script.chosen = Chosen(L"Arial", 800, FALSE);
    ChooseViewFont(m_frame.Handle(), m_view);
    EXPECT_EQ(Raw(L"IsBold"), L"No");
}

TEST_F(DisplayFontTest, CancelChangesNothing)
{
    Provision(L"Arial", L"No", L"No", L"120");
    m_view.ApplyViewFont();
    const HFONT before = ViewFont();
    m_script.ok = false;
    m_script.chosen = Chosen(L"Courier New", FW_BOLD, TRUE);
    ChooseViewFont(m_frame.Handle(), m_view);
    EXPECT_TRUE(m_script.called);
    EXPECT_EQ(Raw(L"Font"), std::wstring(L"Arial\0", 6));
    EXPECT_EQ(Raw(L"FontSize"), std::wstring(L"120\0", 4));
    EXPECT_EQ(ViewFont(), before);
}

TEST_F(DisplayFontTest, WithoutTheKeyTheDialogUsesDefaultsAndSavingFails)
{
    Provision(L"Arial", L"No", L"No", L"120");
    m_view.ApplyViewFont();
    const HFONT before = ViewFont();
    DeleteKey();

    m_script.chosen = Chosen(L"Courier New", FW_BOLD, TRUE);
    m_script.pointSize = 140;
    CMessageBoxRecorder boxes;
    ChooseViewFont(m_frame.Handle(), m_view);

    ASSERT_TRUE(m_script.called);
    EXPECT_STREQ(m_script.given.lfFaceName, L"Times New Roman");
    EXPECT_EQ(m_script.given.lfHeight, -16);
    EXPECT_EQ(m_script.given.lfWeight, 0);
    EXPECT_EQ(m_script.given.lfItalic, 0);
    // One box, for the write; the view is not touched.
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, kWriteErrorText);
    EXPECT_EQ(boxes.boxes[0].caption, "ATENCION");
    EXPECT_EQ(boxes.boxes[0].flags, 16u);
    EXPECT_EQ(boxes.boxes[0].owner, m_frame.Handle());
    EXPECT_EQ(ViewFont(), before);
    EXPECT_STREQ(ViewLogFont().lfFaceName, L"Arial");
    // Nothing brought the key back.
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
}

namespace {
// What the real font dialog shows, read from inside its modal loop.
struct RealDialogSeen {
    bool found = false;
    std::wstring face;
    std::wstring size;
    HWND owner = nullptr;
    int ticks = 0;
};
RealDialogSeen* g_real = nullptr;

BOOL CALLBACK FindFontDialog(HWND hWnd, LPARAM lParam)
{
    // The font dialog is the thread's dialog with the face and size boxes.
    if (ui_test::ClassName(hWnd) == L"#32770" && GetDlgItem(hWnd, cmb1) && GetDlgItem(hWnd, cmb3)) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK AnswerRealFontDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindFontDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog || !IsWindowVisible(dialog)) {
        if (++g_real->ticks > 250) KillTimer(nullptr, timer);
        return;
    }
    KillTimer(nullptr, timer);
    g_real->found = true;
    g_real->face = ui_test::WindowText(GetDlgItem(dialog, cmb1));
    g_real->size = ui_test::WindowText(GetDlgItem(dialog, cmb3));
    g_real->owner = GetWindow(dialog, GW_OWNER);
    SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
}
int CALLBACK KeepTrueTypeFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM lParam)
{
    if ((type & TRUETYPE_FONTTYPE) && font->lfFaceName[0] != L'@')
        *reinterpret_cast<std::wstring*>(lParam) = font->lfFaceName;
    return 1;
}

// A scalable face of this machine, one that the dialog does not select on its own (its
// first face).
std::wstring SomeTrueTypeFace()
{
    std::wstring face;
    LOGFONTW all{};
    all.lfCharSet = DEFAULT_CHARSET;
    const HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &all, KeepTrueTypeFace, reinterpret_cast<LPARAM>(&face), 0);
    ReleaseDC(nullptr, dc);
    return face;
}
} // namespace

TEST_F(DisplayFontTest, TheRealDialogShowsTheStoredSizeInPoints)
{
    const std::wstring face = SomeTrueTypeFace();
    ASSERT_FALSE(face.empty());
    Provision(face, L"YES", L"No", L"120");
    // No handler: the system's own dialog, answered from inside its loop.
    const FontDialogHandler scripted = SetFontDialogHandler(nullptr);
    RealDialogSeen seen;
    g_real = &seen;
    ASSERT_NE(SetTimer(nullptr, 0, 20, AnswerRealFontDialog), 0u);
    CMessageBoxRecorder boxes;
    ChooseViewFont(m_frame.Handle(), m_view);
    SetFontDialogHandler(scripted);
    g_real = nullptr;

    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.face, face);
    EXPECT_EQ(seen.size, L"12");
    EXPECT_EQ(seen.owner, m_frame.Handle());
    EXPECT_TRUE(boxes.boxes.empty());
    // OK without changes stores what was shown.
    EXPECT_EQ(Raw(L"Font"), face + std::wstring(1, L'\0'));
    EXPECT_EQ(Raw(L"FontSize"), L"120");
    EXPECT_EQ(Raw(L"IsBold"), L"Yes");
    EXPECT_EQ(Raw(L"IsItalic"), L"No");
    EXPECT_EQ(ViewLogFont().lfHeight, -12);
}
