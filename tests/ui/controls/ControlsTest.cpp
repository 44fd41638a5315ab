// The pane and the colour edit on real windows, and the window layer's subclassing.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>

#include "res/resource.h"
#include "tests/ui/controls/UiTestSupport.h"
#include "ui/ColorEdit.h"
#include "ui/PaneWnd.h"

using ui_test::ClassName;
using ui_test::CRecorderWindow;
using ui_test::PumpUntil;
using ui_test::WindowText;

namespace {

constexpr UINT kPaneId = 0xE900;
constexpr DWORD kViewStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE;

// A view that counts its paints.
class CCountingEdit : public CColorEdit {
public:
    int paints = 0;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (msg == WM_PAINT) ++paints;
        return CColorEdit::WindowProc(msg, wParam, lParam);
    }
};

class ControlsTest : public ::testing::Test {
protected:
    // One shown frame for the suite: Wine waits two seconds for a window manager whenever a
    // shown top-level window goes away.
    static void SetUpTestSuite()
    {
        s_frame = new CRecorderWindow;
        ASSERT_TRUE(s_frame->Create(WS_OVERLAPPEDWINDOW));
        ShowWindow(s_frame->Handle(), SW_SHOW);
    }
    static void TearDownTestSuite()
    {
        delete s_frame;
        s_frame = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_pane.Create(s_frame->Handle(), kPaneId));
        MoveWindow(m_pane.Handle(), 0, 0, 505, 240, TRUE);
        ASSERT_TRUE(m_view.Create(m_pane.Handle(), RECT{0, 0, 499, 231}, IDC_VIEW, kViewStyle));
        UpdateWindow(s_frame->Handle());
        PumpUntil([] { return false; }, 50);
    }

    // The view's colours as its parent hands them out for `msg`.
    struct Colours {
        HBRUSH brush;
        COLORREF text;
        COLORREF background;
    };
    Colours AskColours(UINT msg)
    {
        const HDC dc = GetDC(m_view.Handle());
        SetTextColor(dc, RGB(1, 2, 3));
        SetBkColor(dc, RGB(4, 5, 6));
        Colours c{};
        c.brush = reinterpret_cast<HBRUSH>(
            SendMessageW(m_pane.Handle(), msg, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(m_view.Handle())));
        c.text = GetTextColor(dc);
        c.background = GetBkColor(dc);
        ReleaseDC(m_view.Handle(), dc);
        return c;
    }

    // Counts the pixels of the view that are near `colour`.
    int PixelsOf(COLORREF colour)
    {
        const HDC dc = GetDC(m_view.Handle());
        int n = 0;
        for (int y = 0; y < 80; y += 1)
            for (int x = 0; x < 300; x += 2) {
                const COLORREF p = GetPixel(dc, x, y);
                if (abs(GetRValue(p) - GetRValue(colour)) < 40 && abs(GetGValue(p) - GetGValue(colour)) < 40 &&
                    abs(GetBValue(p) - GetBValue(colour)) < 40)
                    ++n;
            }
        ReleaseDC(m_view.Handle(), dc);
        return n;
    }

    static inline CRecorderWindow* s_frame = nullptr;
    CPaneWnd m_pane;
    CCountingEdit m_view;
};

} // namespace

TEST_F(ControlsTest, PaneHasItsClassAndStyles)
{
    const HWND pane = m_pane.Handle();
    EXPECT_EQ(GetParent(pane), s_frame->Handle());
    EXPECT_EQ(GetDlgCtrlID(pane), static_cast<int>(kPaneId));
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(pane, GWL_STYLE));
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | WS_BORDER), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
    EXPECT_TRUE(GetWindowLongPtrW(pane, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    EXPECT_EQ(GetClassLongPtrW(pane, GCL_STYLE), static_cast<ULONG_PTR>(CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(GetClassLongPtrW(pane, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_WINDOW + 1));
    EXPECT_EQ(GetClassLongPtrW(pane, GCLP_HICON), 0u);
    EXPECT_EQ(GetClassLongPtrW(pane, GCLP_HCURSOR), reinterpret_cast<ULONG_PTR>(LoadCursorW(nullptr, IDC_ARROW)));
    // It handles no command, so the frame routes every one on.
    EXPECT_FALSE(m_pane.OnCommand(ID_SHOW));
    EXPECT_FALSE(m_pane.OnCommand(ID_APP_ABOUT));
}

TEST_F(ControlsTest, ViewIsARealEditTakenOver)
{
    const HWND view = m_view.Handle();
    EXPECT_EQ(ClassName(view), L"Edit");
    EXPECT_EQ(GetParent(view), m_pane.Handle());
    EXPECT_EQ(GetDlgCtrlID(view), IDC_VIEW);
    EXPECT_EQ(CWindow::FromHandle(view), &m_view);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(view, GWL_STYLE)) & kViewStyle, kViewStyle);
    // The edit's own procedure still does its work.
    SetWindowTextW(view, L"Informaci\u00f3n\r\nGeneral");
    EXPECT_EQ(WindowText(view), L"Informaci\u00f3n\r\nGeneral");
    EXPECT_EQ(SendMessageW(view, EM_GETLINECOUNT, 0, 0), 2);
    RECT rc{};
    GetWindowRect(view, &rc);
    EXPECT_EQ(rc.right - rc.left, 499);
    EXPECT_EQ(rc.bottom - rc.top, 231);
}

TEST_F(ControlsTest, ParentHandsTheColourMessagesToTheView)
{
    // Black text on the window colour at first.
    Colours c = AskColours(WM_CTLCOLORSTATIC);
    EXPECT_EQ(c.text, RGB(0, 0, 0));
    EXPECT_EQ(c.background, GetSysColor(COLOR_WINDOW));
    ASSERT_NE(c.brush, nullptr);
    LOGBRUSH lb{};
    ASSERT_EQ(GetObjectW(c.brush, sizeof lb, &lb), static_cast<int>(sizeof lb));
    EXPECT_EQ(lb.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(lb.lbColor, GetSysColor(COLOR_WINDOW));

    m_view.SetTextColour(RGB(128, 0, 0));
    c = AskColours(WM_CTLCOLORSTATIC);
    EXPECT_EQ(c.text, RGB(128, 0, 0));
    const Colours edit = AskColours(WM_CTLCOLOREDIT);
    EXPECT_EQ(edit.text, RGB(128, 0, 0));
    EXPECT_EQ(edit.brush, c.brush);
}

TEST_F(ControlsTest, AColourChangeRepaintsAtOnceEvenWhenEqual)
{
    const HFONT big = CreateFontW(-48, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, 0, L"Tahoma");
    SendMessageW(m_view.Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(big), TRUE);
    SetWindowTextW(m_view.Handle(), L"MMMMMM");
    UpdateWindow(m_view.Handle());

    m_view.SetTextColour(RGB(255, 0, 0));
    // No message is pumped: the paint happened inside the call.
    EXPECT_GT(PixelsOf(RGB(255, 0, 0)), 50);

    m_view.SetTextColour(RGB(0, 0, 255));
    EXPECT_GT(PixelsOf(RGB(0, 0, 255)), 50);
    EXPECT_EQ(PixelsOf(RGB(255, 0, 0)), 0);

    const int before = m_view.paints;
    m_view.SetTextColour(RGB(0, 0, 255));
    EXPECT_EQ(m_view.paints, before + 1);
    // Background included: nothing of the region is left to paint.
    RECT update{};
    EXPECT_FALSE(GetUpdateRect(m_view.Handle(), &update, FALSE));

    SendMessageW(m_view.Handle(), WM_SETFONT, 0, FALSE);
    DeleteObject(big);
}

TEST_F(ControlsTest, BackgroundStaysAsReadAtConstruction)
{
    const int element = COLOR_WINDOW;
    const COLORREF original = GetSysColor(COLOR_WINDOW);
    const COLORREF other = RGB(10, 200, 30);
    ASSERT_TRUE(SetSysColors(1, &element, &other));
    SendMessageW(s_frame->Handle(), WM_SYSCOLORCHANGE, 0, 0);
    const Colours c = AskColours(WM_CTLCOLORSTATIC);
    SetSysColors(1, &element, &original);
    EXPECT_EQ(c.background, original);
    EXPECT_EQ(m_view.BackgroundColour(), original);
}

TEST_F(ControlsTest, ObjectAndWindowLetGoOfEachOther)
{
    // The object goes first: the control is destroyed, with its own procedure back.
    HWND hWnd = nullptr;
    {
        CColorEdit view;
        ASSERT_TRUE(view.Create(m_pane.Handle(), RECT{0, 0, 50, 20}, 501, kViewStyle));
        hWnd = view.Handle();
        EXPECT_EQ(CWindow::FromHandle(hWnd), &view);
    }
    EXPECT_FALSE(IsWindow(hWnd));

    // The window goes first: the object lets go of it.
    CColorEdit orphan;
    ASSERT_TRUE(orphan.Create(m_pane.Handle(), RECT{0, 0, 50, 20}, 502, kViewStyle));
    DestroyWindow(orphan.Handle());
    EXPECT_EQ(orphan.Handle(), nullptr);
    // Colouring a view without a window only stores the colour.
    orphan.SetTextColour(RGB(1, 1, 1));
    EXPECT_EQ(orphan.TextColour(), RGB(1, 1, 1));
}

TEST_F(ControlsTest, SubclassingCanBeUndoneAndIsExclusive)
{
    const HWND edit = CreateWindowExW(0, L"EDIT", L"x", WS_CHILD, 0, 0, 10, 10, m_pane.Handle(), nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(edit, nullptr);
    const LONG_PTR original = GetWindowLongPtrW(edit, GWLP_WNDPROC);
    CColorEdit first;
    ASSERT_TRUE(first.SubclassWindow(edit));
    EXPECT_NE(GetWindowLongPtrW(edit, GWLP_WNDPROC), original);
    CColorEdit second;
    EXPECT_FALSE(second.SubclassWindow(edit));
    EXPECT_FALSE(first.SubclassWindow(m_pane.Handle()));

    EXPECT_EQ(first.UnsubclassWindow(), edit);
    EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_WNDPROC), original);
    EXPECT_EQ(CWindow::FromHandle(edit), nullptr);
    EXPECT_TRUE(IsWindow(edit));
    DestroyWindow(edit);
}

namespace {
class CThrowingEdit : public CColorEdit {
protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (msg == WM_GETTEXTLENGTH) throw std::runtime_error("handler failed");
        return CColorEdit::WindowProc(msg, wParam, lParam);
    }
};
} // namespace

TEST_F(ControlsTest, AnExceptionInAHandlerEndsAtTheWindowProcedure)
{
    CThrowingEdit edit;
    ASSERT_TRUE(edit.Create(m_pane.Handle(), RECT{0, 0, 50, 20}, 503, kViewStyle));
    SetWindowTextW(edit.Handle(), L"abc");
    // The control's own answer stands in for the failed handler.
    EXPECT_EQ(SendMessageW(edit.Handle(), WM_GETTEXTLENGTH, 0, 0), 3);
}
