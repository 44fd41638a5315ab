// The pane and the colour edit on real windows, and the window layer's subclassing.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>

#include "res/resource.h"
#include "tests/support/WinTestSupport.h"
#include "ui/ColorEdit.h"
#include "ui/PaneWnd.h"

using testing_support::CRecorderWindow;
using testing_support::PumpUntil;
using testing_support::WindowText;

namespace {

constexpr DWORD kViewStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE;

// A view that counts its paints, and fails its handler of WM_GETTEXTLENGTH when told to.
class CCountingEdit : public CColorEdit {
public:
    int paints = 0;
    bool fail = false;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (msg == WM_PAINT) ++paints;
        if (msg == WM_GETTEXTLENGTH && fail) throw std::runtime_error("handler failed");
        return CColorEdit::WindowProc(msg, wParam, lParam);
    }
};

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_frame.Create(WS_OVERLAPPEDWINDOW | WS_VISIBLE));
        ASSERT_TRUE(m_pane.Create(m_frame.Handle(), 0xE900));
        MoveWindow(m_pane.Handle(), 0, 0, 505, 240, TRUE);
        ASSERT_TRUE(m_view.Create(m_pane.Handle(), RECT{0, 0, 499, 231}, IDC_VIEW, kViewStyle));
        UpdateWindow(m_frame.Handle());
        PumpUntil([] { return HIWORD(GetQueueStatus(QS_ALLINPUT)) == 0; }, 1000);
    }

    // The view's colours as its parent hands them out for `msg`.
    struct Colours {
        HBRUSH brush;
        COLORREF text, background;
    };
    Colours AskColours(UINT msg)
    {
        const HDC dc = GetDC(m_view.Handle());
        SetTextColor(dc, RGB(1, 2, 3));
        SetBkColor(dc, RGB(4, 5, 6));
        const auto brush = reinterpret_cast<HBRUSH>(
            SendMessageW(m_pane.Handle(), msg, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(m_view.Handle())));
        const Colours c{brush, GetTextColor(dc), GetBkColor(dc)};
        ReleaseDC(m_view.Handle(), dc);
        return c;
    }

    // Counts the pixels of the view in `colour`.
    int PixelsOf(COLORREF colour)
    {
        const HDC dc = GetDC(m_view.Handle());
        int n = 0;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 300; x += 2) n += GetPixel(dc, x, y) == colour;
        ReleaseDC(m_view.Handle(), dc);
        return n;
    }

    CRecorderWindow m_frame;
    CPaneWnd m_pane;
    CCountingEdit m_view;
};

} // namespace

TEST_F(ControlsTest, ViewIsARealEditTakenOverAndThePaneRoutesCommandsOn)
{
    const HWND view = m_view.Handle();
    EXPECT_EQ(CWindow::FromHandle(view), &m_view);
    // The edit's own procedure still does its work.
    SetWindowTextW(view, L"Informaci\u00f3n\r\nGeneral");
    EXPECT_EQ(WindowText(view), L"Informaci\u00f3n\r\nGeneral");
    EXPECT_EQ(SendMessageW(view, EM_GETLINECOUNT, 0, 0), 2);
    // An exception in a handler ends at the window procedure: the control's own answer
    // stands in for it.
    m_view.fail = true;
    EXPECT_EQ(SendMessageW(view, WM_GETTEXTLENGTH, 0, 0), 20);
    // The pane handles no command, so the frame routes every one on.
    EXPECT_FALSE(m_pane.OnCommand(ID_SHOW));
    EXPECT_FALSE(m_pane.OnCommand(ID_APP_ABOUT));
}

TEST_F(ControlsTest, ParentHandsTheColourMessagesToTheViewWithTheBackgroundReadAtConstruction)
{
    // Black text on the window colour at first, with a brush of that colour.
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    Colours c = AskColours(WM_CTLCOLORSTATIC);
    EXPECT_EQ(c.text, RGB(0, 0, 0));
    EXPECT_EQ(c.background, window);
    LOGBRUSH lb{};
    ASSERT_EQ(GetObjectW(c.brush, sizeof lb, &lb), static_cast<int>(sizeof lb));
    EXPECT_EQ(lb.lbColor, window);

    // A later change of the system's colours does not reach the view.
    const int element = COLOR_WINDOW;
    const COLORREF other = RGB(10, 200, 30);
    ASSERT_TRUE(SetSysColors(1, &element, &other));
    SendMessageW(m_frame.Handle(), WM_SYSCOLORCHANGE, 0, 0);
    m_view.SetTextColour(RGB(128, 0, 0));
    for (const UINT msg : {WM_CTLCOLORSTATIC, WM_CTLCOLOREDIT}) {
        const Colours now = AskColours(msg);
        EXPECT_EQ(now.text, RGB(128, 0, 0)) << msg;
        EXPECT_EQ(now.background, window) << msg;
        EXPECT_EQ(now.brush, c.brush) << msg;
    }
    SetSysColors(1, &element, &window);
}

TEST_F(ControlsTest, AColourChangeRepaintsAtOnceEvenWhenEqual)
{
    const HFONT big = CreateFontW(-48, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, 0, L"Tahoma");
    SendMessageW(m_view.Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(big), TRUE);
    SetWindowTextW(m_view.Handle(), L"MMMMMM");
    UpdateWindow(m_view.Handle());

    // No message is pumped: the paint happens inside the call, in the new colour.
    m_view.SetTextColour(RGB(255, 0, 0));
    m_view.SetTextColour(RGB(0, 0, 255));
    EXPECT_GT(PixelsOf(RGB(0, 0, 255)), 50);
    EXPECT_EQ(PixelsOf(RGB(255, 0, 0)), 0);

    const int before = m_view.paints;
    m_view.SetTextColour(RGB(0, 0, 255));
    EXPECT_EQ(m_view.paints, before + 1);
    // Background included: nothing of the region is left to paint.
    RECT update{};
    EXPECT_FALSE(GetUpdateRect(m_view.Handle(), &update, FALSE));
    DestroyWindow(m_view.Handle());
    DeleteObject(big);
}

TEST_F(ControlsTest, ObjectAndWindowBelongToEachOtherAlone)
{
    // The object goes first: the control is destroyed.
    HWND hWnd = nullptr;
    {
        CColorEdit view;
        ASSERT_TRUE(view.Create(m_pane.Handle(), RECT{0, 0, 50, 20}, 501, kViewStyle));
        hWnd = view.Handle();
    }
    EXPECT_FALSE(IsWindow(hWnd));

    // A window has one object, an object one window.
    CColorEdit orphan, other;
    ASSERT_TRUE(orphan.Create(m_pane.Handle(), RECT{0, 0, 50, 20}, 502, kViewStyle));
    EXPECT_FALSE(other.SubclassWindow(orphan.Handle()));
    EXPECT_FALSE(orphan.SubclassWindow(m_pane.Handle()));
    // The window goes first: the object lets go of it, and colouring it only stores the colour.
    DestroyWindow(orphan.Handle());
    EXPECT_EQ(orphan.Handle(), nullptr);
    orphan.SetTextColour(RGB(1, 1, 1));
    EXPECT_EQ(orphan.TextColour(), RGB(1, 1, 1));
}
