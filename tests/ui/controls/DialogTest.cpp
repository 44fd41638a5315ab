// Modal dialogs through their seam, and the About box as its resource makes it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "res/resource.h"
#include "tests/ui/controls/UiTestSupport.h"
#include "ui/AboutDlg.h"
#include "win/Dialog.h"

using ui_test::ClassName;
using ui_test::CRecorderWindow;
using ui_test::WindowText;

namespace {

// Sets a modal dialog handler for the object's lifetime.
class CModalScope {
public:
    explicit CModalScope(ModalDialogHandler handler) : m_previous(SetModalDialogHandler(std::move(handler))) {}
    ~CModalScope() { SetModalDialogHandler(m_previous); }
    CModalScope(const CModalScope&) = delete;
    CModalScope& operator=(const CModalScope&) = delete;

private:
    ModalDialogHandler m_previous;
};

// A control's rectangle in the dialog's client coordinates.
RECT ControlRect(HWND dialog, int id)
{
    RECT rc{};
    GetWindowRect(GetDlgItem(dialog, id), &rc);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

// The dialog manager converts a control's place and its size separately.
RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy)
{
    RECT place{x, y, cx, cy};
    MapDialogRect(dialog, &place);
    return RECT{place.left, place.top, place.left + place.right, place.top + place.bottom};
}

void ExpectRect(const RECT& actual, const RECT& expected)
{
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    EXPECT_EQ(actual.right, expected.right);
    EXPECT_EQ(actual.bottom, expected.bottom);
}

// Reads the template of dialog `id` as the resource holds it (DLGTEMPLATEEX).
struct DialogTemplate {
    DWORD style = 0;
    int cx = 0, cy = 0;
    std::wstring caption;
    int pointSize = 0;
    std::wstring face;
};
DialogTemplate ReadTemplate(UINT id)
{
    DialogTemplate t;
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    if (!info) return t;
    const auto* p = static_cast<const WORD*>(LockResource(LoadResource(module, info)));
    if (p[1] != 0xFFFF) return t;  // not the extended form
    DWORD style;
    std::memcpy(&style, p + 6, sizeof style);
    t.style = style;
    t.cx = static_cast<short>(p[11]);
    t.cy = static_cast<short>(p[12]);
    p += 13;
    auto skipNameOrOrdinal = [&p] {
        if (*p == 0xFFFF) p += 2;
        else {
            while (*p) ++p;
            ++p;
        }
    };
    skipNameOrOrdinal();  // menu
    skipNameOrOrdinal();  // class
    t.caption = reinterpret_cast<const wchar_t*>(p);
    p += t.caption.size() + 1;
    if (style & DS_SETFONT) {
        t.pointSize = p[0];
        p += 3;  // size, weight, italic and charset
        t.face = reinterpret_cast<const wchar_t*>(p);
    }
    return t;
}

} // namespace

TEST(AboutBoxTest, TemplateIsAsDrawn)
{
    const DialogTemplate t = ReadTemplate(IDD_ABOUTBOX);
    EXPECT_EQ(t.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(t.cx, 223);
    EXPECT_EQ(t.cy, 55);
    EXPECT_EQ(t.caption, L"Acerca de");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.face, L"MS Sans Serif");
}

TEST(AboutBoxTest, RunsModallyOverTheMainWindowWithItsContents)
{
    CRecorderWindow main;
    ASSERT_TRUE(main.Create());
    CWindow::SetMainWindow(main.Handle());

    HWND parentSeen = nullptr;
    HWND ownerSeen = nullptr;
    bool mainDisabled = false;
    std::wstring caption, text, button;
    LONG_PTR iconStyle = 0, textStyle = 0, buttonStyle = 0;
    HICON icon = nullptr;
    RECT client{}, iconRect{}, textRect{}, buttonRect{};
    RECT expectedClient{}, expectedIcon{}, expectedText{}, expectedButton{};
    std::wstring iconClass;

    const CModalScope modal([&](CDialog& dialog, HWND parent) {
        parentSeen = parent;
        return dialog.RunModalWithScript(parent, [&](HWND box) {
            ownerSeen = GetWindow(box, GW_OWNER);
            mainDisabled = !IsWindowEnabled(main.Handle());
            caption = WindowText(box);
            const HWND iconCtl = GetDlgItem(box, IDC_ABOUT_ICON);
            iconClass = ClassName(iconCtl);
            iconStyle = GetWindowLongPtrW(iconCtl, GWL_STYLE);
            icon = reinterpret_cast<HICON>(SendMessageW(iconCtl, STM_GETICON, 0, 0));
            text = WindowText(GetDlgItem(box, IDC_ABOUT_TEXT));
            textStyle = GetWindowLongPtrW(GetDlgItem(box, IDC_ABOUT_TEXT), GWL_STYLE);
            button = WindowText(GetDlgItem(box, IDOK));
            buttonStyle = GetWindowLongPtrW(GetDlgItem(box, IDOK), GWL_STYLE);
            GetClientRect(box, &client);
            expectedClient = DialogUnits(box, 0, 0, 223, 55);
            iconRect = ControlRect(box, IDC_ABOUT_ICON);
            expectedIcon = DialogUnits(box, 9, 15, 20, 20);
            textRect = ControlRect(box, IDC_ABOUT_TEXT);
            expectedText = DialogUnits(box, 36, 13, 125, 26);
            buttonRect = ControlRect(box, IDOK);
            expectedButton = DialogUnits(box, 166, 12, 50, 14);
            SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        });
    });

    CAboutDlg about;
    EXPECT_EQ(about.DoModal(), IDOK);
    CWindow::SetMainWindow(nullptr);

    EXPECT_EQ(parentSeen, main.Handle());
    EXPECT_EQ(ownerSeen, main.Handle());
    EXPECT_TRUE(mainDisabled);
    EXPECT_TRUE(IsWindowEnabled(main.Handle()));
    EXPECT_EQ(caption, L"Acerca de");
    EXPECT_EQ(iconClass, L"Static");
    EXPECT_EQ(iconStyle & SS_TYPEMASK, SS_ICON);
    EXPECT_NE(icon, nullptr);
    EXPECT_EQ(text.substr(0, text.find(L'\n', text.find(L'\n') + 1) + 1), L"Notelia\nQuorvex\n");
    // The third line is the maker's notice.
    EXPECT_NE(text.find(L"\u00a9"), std::wstring::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 2);
    EXPECT_TRUE(textStyle & SS_NOPREFIX);
    EXPECT_TRUE(textStyle & WS_GROUP);
    EXPECT_EQ(button, L"Aceptar");
    EXPECT_EQ(buttonStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_TRUE(buttonStyle & WS_TABSTOP);
    EXPECT_TRUE(buttonStyle & WS_GROUP);
    ExpectRect(client, expectedClient);
    ExpectRect(textRect, expectedText);
    ExpectRect(buttonRect, expectedButton);
    // A static icon control sizes itself to its icon; its place is kept.
    EXPECT_EQ(iconRect.left, expectedIcon.left);
    EXPECT_EQ(iconRect.top, expectedIcon.top);
}

TEST(AboutBoxTest, OpensInTheMiddleOfTheScreenWhileTheMainWindowIsHidden)
{
    CRecorderWindow main;
    ASSERT_TRUE(main.Create());
    ShowWindow(main.Handle(), SW_HIDE);
    CWindow::SetMainWindow(main.Handle());
    RECT box{};
    const CModalScope modal([&](CDialog& dialog, HWND parent) {
        return dialog.RunModalWithScript(parent, [&](HWND dialogWindow) {
            GetWindowRect(dialogWindow, &box);
            SendMessageW(GetDlgItem(dialogWindow, IDOK), BM_CLICK, 0, 0);
        });
    });
    CAboutDlg about;
    EXPECT_EQ(about.DoModal(), IDOK);
    CWindow::SetMainWindow(nullptr);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(main.Handle(), MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    EXPECT_NEAR((box.left + box.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((box.top + box.bottom) / 2, (work.top + work.bottom) / 2, 1);
}

TEST(AboutBoxTest, CaptionCloseEndsItAsCancel)
{
    const CModalScope modal([&](CDialog& dialog, HWND parent) {
        return dialog.RunModalWithScript(parent, [](HWND box) { SendMessageW(box, WM_CLOSE, 0, 0); });
    });
    CAboutDlg about;
    EXPECT_EQ(about.DoModal(), IDCANCEL);
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
        out = ui_test::WindowText(Item(IDC_ABOUT_TEXT));
        if (!refuse) CDialog::OnOK();
    }
};
} // namespace

TEST(DialogTest, DataGoesInAndComesOutThroughTheControls)
{
    CTextDialog dialog;
    dialog.in = L"entrada";
    const INT_PTR result = dialog.RunModalWithScript(nullptr, [](HWND box) {
        SetDlgItemTextW(box, IDC_ABOUT_TEXT, L"salida");
        SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.out, L"salida");
    EXPECT_EQ(dialog.Handle(), nullptr);
}

TEST(DialogTest, AScriptThatLeavesTheDialogOpenCannotBlock)
{
    CTextDialog dialog;
    dialog.refuse = true;
    // OK is refused and the script ends without closing: the dialog ends with IDABORT.
    const INT_PTR result = dialog.RunModalWithScript(
        nullptr, [](HWND box) { SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0); });
    EXPECT_EQ(result, IDABORT);
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

TEST(DialogTest, AMissingTemplateFails)
{
    CDialog dialog(4242);
    EXPECT_EQ(dialog.RunModalWithScript(nullptr, [](HWND) {}), -1);
}
