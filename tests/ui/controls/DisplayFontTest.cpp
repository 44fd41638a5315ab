// The view font and the font dialog against the real settings keys, the machine's and the
// user's, with the font dialog, the message boxes and a refused write through their seams.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>

#include <string>
#include <tuple>

#include "res/resource.h"
#include "tests/support/WinTestSupport.h"
#include "ui/ColorEdit.h"
#include "app/Settings.h"
#include "ui/DisplayFont.h"
#include "win/FontDialog.h"

using testing_support::RecordedBox;
using testing_support::ScriptedBoxes;

namespace {

const std::string kReadErrorText = "No se pudo encontrar la entrada en la registry.";
const std::string kWriteErrorText = "Se produjo un error al escribir la nueva configuraci\xF3n en la registry.";

// The user's own settings key, absent at the start and the end of each test.
struct ScopedUserKey {
    ScopedUserKey() { Remove(); }
    ~ScopedUserKey() { Remove(); }
    static void Remove() { RegDeleteTreeW(HKEY_CURRENT_USER, testing_support::kSettingsKey); }
    static std::wstring Raw(const wchar_t* name) { return testing_support::StoredSetting(HKEY_CURRENT_USER, name); }
};

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
    void TearDown() override
    {
        SetFontDialogHandler(m_previous);
        SetRegistryWriteRefusal(nullptr);
    }

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
    ScopedUserKey m_user;
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

TEST_F(DisplayFontTest, ViewFontTakesTheStoredTenthsAsAHeightOrKeepsItsFontWhenAValueIsUnreadable)
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

    // An unreadable value is reported and the view keeps its font. Five bytes do not fit the
    // four-byte buffer of "IsItalic".
    const HFONT before = ViewFont();
    const std::function<void()> breakages[] = {[&] { m_key.Delete(L"FontSize"); },
                                               [&] { m_key.Set(L"IsItalic", L"Nope"); },
                                               [] { testing_support::ScopedSettingsKey::Remove(); }};
    for (const auto& breakage : breakages) {
        Provision(L"Arial", L"No", L"No", L"120");
        breakage();
        boxes.boxes.clear();
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

TEST_F(DisplayFontTest, OkStoresTheChoiceAsTheUsersOwnAndAppliesItNowAndAtTheNextStart)
{
    // A standard user: the system refuses writes under the machine's key.
    SetRegistryWriteRefusal([](RegistryRoot root) { return root == RegistryRoot::Machine; });
    ScriptedBoxes boxes;
    Choose(L"Times New Roman", FW_BOLD, FALSE, 120);
    // The face with its terminator, the others without.
    EXPECT_EQ(m_user.Raw(L"Font"), std::wstring(L"Times New Roman\0", 16));
    EXPECT_EQ(m_user.Raw(L"IsBold"), L"Yes");
    EXPECT_EQ(m_user.Raw(L"IsItalic"), L"No");
    EXPECT_EQ(m_user.Raw(L"FontSize"), L"120");
    EXPECT_STREQ(ViewLogFont().lfFaceName, L"Times New Roman");
    EXPECT_EQ(Shape(ViewLogFont()), std::tuple(-12, FW_BOLD, 0));

    // Only exactly 700 is bold.
    for (const LONG weight : {600L, 800L}) {
        Choose(L"Arial", weight, TRUE, 95);
        EXPECT_EQ(m_user.Raw(L"IsBold"), L"No") << weight;
    }
    EXPECT_EQ(m_user.Raw(L"IsItalic"), L"Yes");
    EXPECT_EQ(m_user.Raw(L"FontSize"), L"95");
    EXPECT_TRUE(boxes.boxes.empty());
    // The administrator's default stays as provisioned.
    EXPECT_EQ(m_key.Raw(L"Font"), std::wstring(L"Arial\0", 6));
    EXPECT_EQ(m_key.Raw(L"IsItalic"), std::wstring(L"No\0", 3));
    EXPECT_EQ(m_key.Raw(L"FontSize"), std::wstring(L"120\0", 4));

    // As at the next start, the view takes the user's font value by value; one the user's key
    // lacks, or that cannot be read there, is the machine's.
    Provision(L"Courier New", L"Yes", L"No", L"140");
    const auto* const key = testing_support::kSettingsKey;
    // As stored, then without the user's "IsItalic", then with one too long for its buffer.
    for (const auto* italic : {L"", L"-", L"Nope"}) {
        if (*italic == L'-') RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"IsItalic");
        else if (*italic)
            RegSetKeyValueW(HKEY_CURRENT_USER, key, L"IsItalic", REG_SZ, italic, sizeof L"Nope");
        m_view.ApplyViewFont();
        const LOGFONTW lf = ViewLogFont();
        EXPECT_STREQ(lf.lfFaceName, L"Arial");
        EXPECT_EQ(Shape(lf), std::tuple(-9, FW_NORMAL, *italic ? 0 : TRUE));
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DisplayFontTest, WithoutTheMachinesKeyTheDialogUsesDefaultsAndTheChoiceIsStillTheUsers)
{
    testing_support::ScopedSettingsKey::Remove();
    ScriptedBoxes boxes;
    Choose(L"Courier New", FW_BOLD, TRUE, 140);
    EXPECT_STREQ(given.lfFaceName, L"Times New Roman");
    EXPECT_EQ(Shape(given), std::tuple(-16, 0, 0));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(m_user.Raw(L"Font"), std::wstring(L"Courier New\0", 12));
    EXPECT_EQ(Shape(ViewLogFont()), std::tuple(-14, FW_BOLD, TRUE));
    // Nothing brought the machine's key back.
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, testing_support::kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);

    // When even the user's own key refuses the write: one box, and the view keeps its font.
    const HFONT before = ViewFont();
    SetRegistryWriteRefusal([](RegistryRoot root) { return root == RegistryRoot::User; });
    Choose(L"Arial", FW_NORMAL, FALSE, 100);
    EXPECT_EQ(boxes.boxes, (std::vector{RecordedBox{m_frame.Handle(), kWriteErrorText, "ATENCION", MB_ICONHAND}}));
    EXPECT_EQ(ViewFont(), before);
    EXPECT_EQ(m_user.Raw(L"Font"), std::wstring(L"Courier New\0", 12));
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
    // OK without changes stores what was shown, as the user's own.
    EXPECT_EQ(m_user.Raw(L"Font"), face + std::wstring(1, L'\0'));
    EXPECT_EQ(m_user.Raw(L"FontSize"), L"120");
    EXPECT_EQ(m_user.Raw(L"IsBold"), L"Yes");
    EXPECT_EQ(m_user.Raw(L"IsItalic"), L"No");
    EXPECT_EQ(ViewLogFont().lfHeight, -12);
}
