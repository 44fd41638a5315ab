// Modal dialogs through their seam, and the About box as its resource makes it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "res/resource.h"
#include "request/SendMessageDlg.h"
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

} // namespace

TEST(AboutBoxTest, RunsModallyOverTheHiddenMainWindowInTheMiddleOfTheScreen)
{
    CRecorderWindow main;
    ASSERT_TRUE(main.Create());
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(main.Handle(), MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    int checked = 0;
    // The caption's close button ends it as a cancel.
    EXPECT_EQ(RunAbout(main.Handle(),
                       [&](HWND box) {
                           EXPECT_EQ(GetWindow(box, GW_OWNER), main.Handle());
                           EXPECT_FALSE(IsWindowEnabled(main.Handle()));
                           EXPECT_NE(SendMessageW(GetDlgItem(box, IDC_ABOUT_ICON), STM_GETICON, 0, 0), 0);
                           // The resource script's UTF-8 arrives as the notice's sign; a "&"
                           // would show as it stands.
                           EXPECT_NE(WindowText(GetDlgItem(box, IDC_ABOUT_TEXT)).find(L"\u00a9"), std::wstring::npos);
                           EXPECT_TRUE(GetWindowLongPtrW(GetDlgItem(box, IDC_ABOUT_TEXT), GWL_STYLE) & SS_NOPREFIX);
                           // Enter answers the default button.
                           EXPECT_EQ(GetWindowLongPtrW(GetDlgItem(box, IDOK), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
                           RECT place{};
                           GetWindowRect(box, &place);
                           EXPECT_NEAR((place.left + place.right) / 2, (work.left + work.right) / 2, 1);
                           EXPECT_NEAR((place.top + place.bottom) / 2, (work.top + work.bottom) / 2, 1);
                           ++checked;
                           SendMessageW(box, WM_CLOSE, 0, 0);
                       }),
              IDCANCEL);
    EXPECT_EQ(checked, 1);
    EXPECT_TRUE(IsWindowEnabled(main.Handle()));
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

TEST(DialogTest, ScreenReadersNameEveryFieldOfTheSendDialog)
{
    CSendMessageDlg send;
    EXPECT_EQ(send.RunModalWithScript(nullptr,
                                      [](HWND box) {
                                          testing_support::ExpectFieldsNamedByTheirLabels(box);
                                          SendMessageW(box, WM_CLOSE, 0, 0);
                                      }),
              IDCANCEL);
}

TEST(DialogTest, DataGoesInAndComesOutThroughTheControlsOfTheHandlersRun)
{
    CRecorderWindow owner;
    ASSERT_TRUE(owner.Create());
    CTextDialog dialog;
    dialog.SetParent(owner.Handle());
    dialog.in = L"entrada";
    std::wstring shown;
    // DoModal goes through the handler with the dialog and its parent.
    const CModalScope modal([&](CDialog& running, HWND parent) {
        EXPECT_EQ(&running, &dialog);
        EXPECT_EQ(parent, owner.Handle());
        return running.RunModalWithScript(parent, [&](HWND box) {
            shown = WindowText(GetDlgItem(box, IDC_ABOUT_TEXT));
            SetDlgItemTextW(box, IDC_ABOUT_TEXT, L"salida");
            SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        });
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(shown, L"entrada");
    EXPECT_EQ(dialog.out, L"salida");
    EXPECT_EQ(dialog.Handle(), nullptr);

    // OK refused and a script that ends without closing: the dialog ends with IDABORT.
    dialog.refuse = true;
    const auto clickOk = [](HWND box) { SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0); };
    EXPECT_EQ(dialog.RunModalWithScript(nullptr, clickOk), IDABORT);
    // A missing template fails.
    CDialog missing(4242);
    EXPECT_EQ(missing.RunModalWithScript(nullptr, [](HWND) {}), -1);
}
