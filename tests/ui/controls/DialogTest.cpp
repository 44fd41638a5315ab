// Modal dialogs through their seam, and the About box as its resource makes it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

#include "res/resource.h"
#include "tests/support/WinTestSupport.h"
#include "ui/AboutDlg.h"
#include "win/Dialog.h"

using testing_support::CRecorderWindow;
using testing_support::WindowText;

namespace {

// Sets a modal dialog handler for the object's lifetime.
class CModalScope {
public:
    explicit CModalScope(ModalDialogHandler handler) : m_previous(SetModalDialogHandler(std::move(handler))) {}
    ~CModalScope() { SetModalDialogHandler(m_previous); }

private:
    ModalDialogHandler m_previous;
};

// Runs the About box over `main` (set as the program's main window) with `script`.
INT_PTR RunAbout(HWND main, const std::function<void(HWND box)>& script)
{
    CWindow::SetMainWindow(main);
    const CModalScope modal([&](CDialog& dialog, HWND parent) {
        EXPECT_EQ(parent, main);
        return dialog.RunModalWithScript(parent, script);
    });
    CAboutDlg about;
    const INT_PTR result = about.DoModal();
    CWindow::SetMainWindow(nullptr);
    return result;
}

void Click(HWND box, int id)
{
    SendMessageW(GetDlgItem(box, id), BM_CLICK, 0, 0);
}

} // namespace

TEST(AboutBoxTest, RunsModallyOverTheMainWindowWithItsContents)
{
    CRecorderWindow main;
    ASSERT_TRUE(main.Create());
    std::wstring caption, text, button;
    HWND owner = nullptr;
    bool mainDisabled = false;
    HICON icon = nullptr;
    LONG_PTR textStyle = 0, buttonStyle = 0;
    EXPECT_EQ(RunAbout(main.Handle(),
                       [&](HWND box) {
                           owner = GetWindow(box, GW_OWNER);
                           mainDisabled = !IsWindowEnabled(main.Handle());
                           caption = WindowText(box);
                           icon = reinterpret_cast<HICON>(
                               SendMessageW(GetDlgItem(box, IDC_ABOUT_ICON), STM_GETICON, 0, 0));
                           text = WindowText(GetDlgItem(box, IDC_ABOUT_TEXT));
                           textStyle = GetWindowLongPtrW(GetDlgItem(box, IDC_ABOUT_TEXT), GWL_STYLE);
                           button = WindowText(GetDlgItem(box, IDOK));
                           buttonStyle = GetWindowLongPtrW(GetDlgItem(box, IDOK), GWL_STYLE);
                           Click(box, IDOK);
                       }),
              IDOK);
    EXPECT_EQ(owner, main.Handle());
    EXPECT_TRUE(mainDisabled);
    EXPECT_TRUE(IsWindowEnabled(main.Handle()));
    EXPECT_EQ(caption, L"Acerca de");
    EXPECT_NE(icon, nullptr);
    // Name, maker and the maker's notice, one line each; a "&" would show as it stands.
    EXPECT_EQ(text.substr(0, text.find(L'\n', text.find(L'\n') + 1) + 1), L"Notelia\nQuorvex\n");
    EXPECT_NE(text.find(L"\u00a9"), std::wstring::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 2);
    EXPECT_TRUE(textStyle & SS_NOPREFIX);
    // Enter answers the default button.
    EXPECT_EQ(button, L"Aceptar");
    EXPECT_EQ(buttonStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON);
}

TEST(AboutBoxTest, OpensInTheMiddleOfTheScreenWhileTheMainWindowIsHiddenAndCloseIsCancel)
{
    CRecorderWindow main;
    ASSERT_TRUE(main.Create());
    RECT box{};
    EXPECT_EQ(RunAbout(main.Handle(),
                       [&](HWND dialog) {
                           GetWindowRect(dialog, &box);
                           SendMessageW(dialog, WM_CLOSE, 0, 0);
                       }),
              IDCANCEL);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(main.Handle(), MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    EXPECT_NEAR((box.left + box.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((box.top + box.bottom) / 2, (work.top + work.bottom) / 2, 1);
}

namespace {
// Data in, data out over the About template's text control.
class CTextDialog : public CDialog {
public:
    CTextDialog() : CDialog(IDD_ABOUTBOX) {}
    std::wstring in, out;
    bool refuse = false;

protected:
    bool OnInitDialog() override
    {
        SetDlgItemTextW(Handle(), IDC_ABOUT_TEXT, in.c_str());
        return true;
    }
    void OnOK() override
    {
        out = WindowText(Item(IDC_ABOUT_TEXT));
        if (!refuse) CDialog::OnOK();
    }
};
} // namespace

TEST(DialogTest, DataGoesInAndComesOutThroughTheControls)
{
    CTextDialog dialog;
    dialog.in = L"entrada";
    std::wstring shown;
    EXPECT_EQ(dialog.RunModalWithScript(nullptr,
                                        [&](HWND box) {
                                            shown = WindowText(GetDlgItem(box, IDC_ABOUT_TEXT));
                                            SetDlgItemTextW(box, IDC_ABOUT_TEXT, L"salida");
                                            Click(box, IDOK);
                                        }),
              IDOK);
    EXPECT_EQ(shown, L"entrada");
    EXPECT_EQ(dialog.out, L"salida");
    EXPECT_EQ(dialog.Handle(), nullptr);

    // OK refused and a script that ends without closing: the dialog ends with IDABORT.
    dialog.refuse = true;
    EXPECT_EQ(dialog.RunModalWithScript(nullptr, [](HWND box) { Click(box, IDOK); }), IDABORT);
    // A missing template fails.
    CDialog missing(4242);
    EXPECT_EQ(missing.RunModalWithScript(nullptr, [](HWND) {}), -1);
}

TEST(DialogTest, TheHandlerAnswersForDoModal)
{
    CRecorderWindow owner;
    ASSERT_TRUE(owner.Create());
    CDialog* seen = nullptr;
    HWND parent = nullptr;
    const CModalScope modal([&](CDialog& dialog, HWND p) {
        seen = &dialog;
        parent = p;
        return static_cast<INT_PTR>(IDNO);
    });
    CDialog dialog(IDD_ABOUTBOX, owner.Handle());
    EXPECT_EQ(dialog.DoModal(), IDNO);
    EXPECT_EQ(seen, &dialog);
    EXPECT_EQ(parent, owner.Handle());
}
