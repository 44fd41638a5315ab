// The main frame on real windows under Wine: creation, the timer's phases and arithmetic, the
// tray states after each outcome, the category selector and view after news and choices,
// error reports, the two-step close, Ctrl+C, the tray callback, sizing and prompts.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/Errors.h"
#include "app/Identity.h"
#include "res/resource.h"
#include "tests/support/TestFiles.h"
#include "tests/ui/frame/FrameTestSupport.h"
#include "win/Dialog.h"
#include "win/FontDialog.h"
#include "win/TextCodec.h"

using namespace frame_test;
using testing_support::Exists;
using testing_support::ScopedWorkDir;
using testing_support::WriteBytes;

namespace {

constexpr char kCloseQuestion[] = "\xBF" "Est\xE1 seguro que desea cerrar la aplicaci\xF3n?";
constexpr char kCloseWarning[] = "Ud. dejar\xE1 de recibir mensajes. Desea continuar?";

// Texts of the four category files, one per category so that the view tells which it shows.
constexpr char kGeneralText[] = "Aviso general: corte de luz el martes.";
constexpr char kComercialText[] = "Oferta comercial de \xE9sta semana.";
constexpr char kOperativoText[] = "Parada operativa a las 14 h.";
constexpr char kAdministrativoText[] = "Factura administrativa pendiente.";

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_settings.IsOpen());
        m_frame = NewFrame();
        ASSERT_NE(m_frame, nullptr);
        m_hWnd = m_frame->Handle();
    }
    void TearDown() override
    {
        if (IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
    }

    static CTestFrame* NewFrame()
    {
        auto* frame = new CTestFrame;
        if (frame->LoadFrame(IDR_MAINFRAME, CMainFrame::kFrameStyle)) return frame;
        delete frame;
        return nullptr;
    }

    static void WriteCategoryFiles()
    {
        WriteBytes("mensaje.txt", kGeneralText);
        WriteBytes("comercia.txt", kComercialText);
        WriteBytes(WorkstationFileName(kKitId, ".txt"), kOperativoText);
        WriteBytes(WorkstationFileName(kKitId, ".adm"), kAdministrativoText);
    }

    void Tick() { SendMessageW(m_hWnd, WM_TIMER, 1, 0); }
    void Command(UINT id) { SendMessageW(m_hWnd, WM_COMMAND, id, 0); }
    void Fetch(int outcome, unsigned char mask)
    {
        m_frame->Script(outcome, mask);
        Command(ID_FILE_FETCH);
    }
    // The user picks category `index` in the drop-down list.
    void Choose(int index)
    {
        const HWND selector = m_frame->Selector().Handle();
        SendMessageW(selector, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_CATEGORY, CBN_SELENDOK), reinterpret_cast<LPARAM>(selector));
    }

    int Tray() const { return m_frame->TrayIcon().TrayState(); }
    std::wstring Tip() const { return m_frame->TrayIcon().NotifyData().szTip; }
    std::string ViewText() const { return NarrowCp1252(WindowText(m_frame->View().Handle())); }
    COLORREF ViewColour() const { return m_frame->View().TextColour(); }
    std::vector<int> Images() const
    {
        std::vector<int> images;
        for (int i = 0; i < m_frame->Selector().Count(); ++i) images.push_back(m_frame->Selector().ItemImage(i));
        return images;
    }
    int Selected() const { return m_frame->Selector().GetCurSel(); }
    std::wstring StatusText() const
    {
        wchar_t text[256] = {};
        SendMessageW(m_frame->StatusBar().Handle(), SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
        return text;
    }

    // The work directory outlives the frame, whose fetcher deletes its files there.
    ScopedWorkDir m_dir;
    SettingsKeyScope m_settings;
    ScriptedBoxes m_boxes;
    CTestFrame* m_frame = nullptr;
    HWND m_hWnd = nullptr;
};

std::wstring Wide(const char* cp1252)
{
    return WidenCp1252(cp1252);
}

} // namespace

TEST_F(FrameTest, CreationBuildsTheContentsHiddenWithTheIconInTheNoConnectionState)
{
    EXPECT_FALSE(IsWindowVisible(m_hWnd));
    EXPECT_EQ(WindowText(m_hWnd), L"Notelia 2.5");
    EXPECT_EQ(Tray(), IDI_NO_CONEXION);
    EXPECT_EQ(Tip(), Wide("No hay conexi\xF3n."));
    EXPECT_TRUE(ShellHasIcon(m_hWnd, IDR_TRAYMENU));
    EXPECT_EQ(m_frame->timerPeriods, std::vector<UINT>{100});
    // The display font was applied without a complaint.
    EXPECT_TRUE(m_boxes.boxes.empty());

    const HMENU menu = GetMenu(m_hWnd);
    wchar_t item[64] = {};
    GetMenuStringW(menu, ID_FILE_FETCH, item, 64, MF_BYCOMMAND);
    EXPECT_EQ(std::wstring(item), Wide("&Obtener informaci\xF3n\tCtrl+O"));
    GetMenuStringW(menu, ID_APP_EXIT, item, 64, MF_BYCOMMAND);
    EXPECT_EQ(std::wstring(item), L"&Cerrar\tCtrl+C");

    // Toolbar: two buttons, a separator and the selector's slot, inside the rebar.
    const HWND toolbar = m_frame->ToolBar().Handle();
    EXPECT_EQ(GetParent(toolbar), m_frame->ReBar());
    ASSERT_EQ(SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0), 4);
    const int commands[] = {ID_TOOLBAR_SEND, ID_TOOLBAR_FETCH, 0, IDC_CATEGORY};
    for (int i = 0; i < 4; ++i) {
        TBBUTTON button{};
        SendMessageW(toolbar, TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&button));
        EXPECT_EQ(button.idCommand, commands[i]) << i;
        if (i == 3) {
            EXPECT_EQ(button.iBitmap, 260);
        }
    }

    const HWND selector = m_frame->Selector().Handle();
    EXPECT_EQ(GetParent(selector), toolbar);
    EXPECT_EQ(GetDlgCtrlID(selector), IDC_CATEGORY);
    RECT rect{};
    GetWindowRect(selector, &rect);
    MapWindowPoints(nullptr, toolbar, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 105);
    EXPECT_EQ(rect.right - rect.left, 155);
    const char* names[] = {"Administrativo", "Comercial", "Informaci\xF3n General", "Operativo"};
    ASSERT_EQ(m_frame->Selector().Count(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(m_frame->Selector().ItemText(i), Wide(names[i]));
    EXPECT_EQ(Images(), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(Selected(), -1);

    const HWND view = m_frame->View().Handle();
    EXPECT_EQ(GetDlgCtrlID(view), IDC_VIEW);
    EXPECT_EQ(GetDlgCtrlID(GetParent(view)), 0xE900);
    EXPECT_EQ(GetParent(GetParent(view)), m_hWnd);
    EXPECT_TRUE(GetWindowLongW(view, GWL_STYLE) & ES_READONLY);
    EXPECT_EQ(ViewText(), "");
    EXPECT_EQ(StatusText(), L"Listo");
}

namespace {

struct TimerCase {
    const char* ini;  // the configuration file the first cycle brings; null for none
    int ticks;        // periodic ticks sent
    std::vector<int> fetchingTicks;
};

// Starts a frame, lets its first cycle bring `ini`, then sends periodic ticks and answers the
// ticks on which a cycle ran.
std::vector<int> FetchingTicks(const TimerCase& run, std::vector<UINT>& periods)
{
    ScopedWorkDir dir;
    CTestFrame* frame = new CTestFrame;
    if (!frame->LoadFrame(IDR_MAINFRAME, CMainFrame::kFrameStyle)) {
        delete frame;
        ADD_FAILURE() << "no frame";
        return {};
    }
    const HWND hWnd = frame->Handle();
    frame->fetch = [&run](CMessageFetcher& fetcher) -> unsigned char {
        if (run.ini) WriteBytes("notelia_param.ini", run.ini);
        fetcher.m_nOutcome = OUTCOME_NO_NEWS;
        return 0;
    };
    SendMessageW(hWnd, WM_TIMER, 1, 0);
    EXPECT_EQ(frame->fetches, 0);
    SendMessageW(hWnd, WM_TIMER, 1, 0);
    EXPECT_EQ(frame->fetches, 1);
    // The file is read once per run: a later copy changes nothing.
    WriteBytes("notelia_param.ini", "[Timer]\r\nTimerRefresh=30\r\n");
    std::vector<int> ticks;
    for (int tick = 1; tick <= run.ticks; ++tick) {
        const int before = frame->fetches;
        SendMessageW(hWnd, WM_TIMER, 1, 0);
        if (frame->fetches != before) ticks.push_back(tick);
    }
    periods = frame->timerPeriods;
    DestroyWindow(hWnd);
    return ticks;
}

} // namespace

TEST_F(FrameTest, TimerRefreshGivesTheNumberOfThirtySecondTicksPerFetch)
{
    const TimerCase cases[] = {
        {"[Timer]\r\nTimerRefresh=300\r\n", 25, {10, 20}},
        {"[Timer]\r\nTimerRefresh=299\r\n", 27, {9, 18, 27}},
        {"[Timer]\r\nTimerRefresh=60\r\n", 6, {2, 4, 6}},
        {"[Timer]\r\nTimerRefresh=59\r\n", 3, {1, 2, 3}},
        // Below 30 (zero and negative included) a cycle runs on every tick.
        {"[Timer]\r\nTimerRefresh=29\r\n", 3, {1, 2, 3}},
        {"[Timer]\r\nTimerRefresh=0\r\n", 2, {1, 2}},
        {"[Timer]\r\nTimerRefresh=-60\r\n", 2, {1, 2}},
        // The first cycle brought no file: the default 300 holds for the whole run.
        {nullptr, 20, {10, 20}},
    };
    for (const auto& run : cases) {
        std::vector<UINT> periods;
        EXPECT_EQ(FetchingTicks(run, periods), run.fetchingTicks) << (run.ini ? run.ini : "no file");
        EXPECT_EQ(periods, (std::vector<UINT>{100, 1500, 30000}));
    }
}

TEST_F(FrameTest, AFetchByCommandDoesNotResetTheTickCounter)
{
    WriteBytes("notelia_param.ini", "[Timer]\r\nTimerRefresh=90\r\n");
    m_frame->Script(OUTCOME_NO_NEWS, 0);
    Tick();
    Tick();
    ASSERT_EQ(m_frame->fetches, 1);
    Tick();  // counter 1 -> 2
    Command(ID_TOOLBAR_FETCH);
    ASSERT_EQ(m_frame->fetches, 2);
    Tick();  // 2 -> 3
    EXPECT_EQ(m_frame->fetches, 2);
    Tick();  // 3: a cycle
    EXPECT_EQ(m_frame->fetches, 3);
}

TEST_F(FrameTest, TicksAndCommandsDuringARunningFetchDoNothing)
{
    WriteBytes("notelia_param.ini", "[Timer]\r\nTimerRefresh=30\r\n");
    int nested = 0;
    m_frame->fetch = [&](CMessageFetcher& fetcher) -> unsigned char {
        // As while one of the cycle's message boxes is open.
        SendMessageW(m_hWnd, WM_TIMER, 1, 0);
        SendMessageW(m_hWnd, WM_COMMAND, ID_FILE_FETCH, 0);
        nested = m_frame->fetches;
        fetcher.m_nOutcome = OUTCOME_NO_NEWS;
        return 0;
    };
    Tick();
    Tick();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(m_frame->fetches, 1);
    EXPECT_EQ(m_frame->timerPeriods, (std::vector<UINT>{100, 1500, 30000}));
    Tick();
    EXPECT_EQ(m_frame->fetches, 2);

    // Also while the cycle's own error is on screen.
    m_frame->fetch = [](CMessageFetcher&) -> unsigned char { throw CCodeException(ERR_FILE_OPEN); };
    m_boxes.onBox = [&] { SendMessageW(m_hWnd, WM_TIMER, 1, 0); };
    Tick();
    EXPECT_EQ(m_frame->fetches, 3);
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    m_boxes.onBox = nullptr;
    Tick();
    EXPECT_EQ(m_frame->fetches, 4);
}

TEST_F(FrameTest, TrayStateFollowsEachOutcome)
{
    WriteCategoryFiles();
    // Outcome 0 after "No hay conexión.".
    Fetch(OUTCOME_NO_NEWS, 0);
    EXPECT_EQ(Tray(), IDI_NO_MENSAJES);
    EXPECT_EQ(Tip(), L"No hay mensajes.");
    EXPECT_FALSE(IsWindowVisible(m_hWnd));

    Fetch(OUTCOME_NO_CONNECTION, 0);
    EXPECT_EQ(Tray(), IDI_NO_CONEXION);
    EXPECT_EQ(Tip(), Wide("No hay conexi\xF3n."));

    Fetch(OUTCOME_NEWS, CHANGED_GENERAL | CHANGED_COMERCIAL);
    EXPECT_EQ(Tray(), IDI_HAY_MENSAJES);
    EXPECT_EQ(Tip(), L"Hay mensajes!");
    EXPECT_TRUE(IsWindowVisible(m_hWnd));

    // Outcome 0 after "Hay mensajes!": the tray and the window stay as they are.
    SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
    ASSERT_FALSE(IsWindowVisible(m_hWnd));
    Fetch(OUTCOME_NO_NEWS, 0);
    EXPECT_EQ(Tray(), IDI_HAY_MENSAJES);
    EXPECT_FALSE(IsWindowVisible(m_hWnd));

    // Outcome 2 after "Hay mensajes!".
    Fetch(OUTCOME_NO_CONNECTION, CHANGED_GENERAL);
    EXPECT_EQ(Tray(), IDI_NO_CONEXION);
    EXPECT_FALSE(IsWindowVisible(m_hWnd));
    EXPECT_TRUE(ShellHasIcon(m_hWnd, IDR_TRAYMENU));
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_F(FrameTest, NewsForGeneralAndComercialShowsGeneralAndMarksComercialUnseen)
{
    WriteCategoryFiles();
    Fetch(OUTCOME_NEWS, CHANGED_GENERAL | CHANGED_COMERCIAL);
    EXPECT_EQ(ViewText(), kGeneralText);
    EXPECT_EQ(ViewColour(), RGB(194, 0, 0));
    EXPECT_EQ(Selected(), CATEGORY_GENERAL);
    EXPECT_EQ(Images(), (std::vector<int>{1, 0, 1, 1}));
    EXPECT_EQ(Tray(), IDI_HAY_MENSAJES);
    EXPECT_TRUE(IsWindowVisible(m_hWnd));
    EXPECT_FALSE(m_frame->IsSeen(CATEGORY_COMERCIAL));
    EXPECT_TRUE(m_frame->IsSeen(CATEGORY_ADMINISTRATIVO));
    EXPECT_TRUE(m_frame->IsSeen(CATEGORY_OPERATIVO));
}

TEST_F(FrameTest, NewsForAdministrativoOnlyLeavesNothingUnseenButStillPopsUp)
{
    WriteCategoryFiles();
    Fetch(OUTCOME_NEWS, CHANGED_ADMINISTRATIVO);
    EXPECT_EQ(ViewText(), kAdministrativoText);
    EXPECT_EQ(ViewColour(), RGB(0, 0, 0));
    EXPECT_EQ(Selected(), CATEGORY_ADMINISTRATIVO);
    EXPECT_EQ(Images(), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(Tray(), IDI_NO_MENSAJES);
    EXPECT_TRUE(IsWindowVisible(m_hWnd));
}

TEST_F(FrameTest, NewsForGeneralOnlyLeavesTheTrayWithoutMessages)
{
    WriteCategoryFiles();
    Fetch(OUTCOME_NEWS, CHANGED_GENERAL);
    EXPECT_EQ(ViewText(), kGeneralText);
    EXPECT_EQ(Images(), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(Tray(), IDI_NO_MENSAJES);
}

TEST_F(FrameTest, ChoosingTheLastUnseenCategoryClearsTheTrayUnlessThereIsNoConnection)
{
    WriteCategoryFiles();
    Fetch(OUTCOME_NEWS, CHANGED_ADMINISTRATIVO | CHANGED_COMERCIAL);
    EXPECT_EQ(Selected(), CATEGORY_ADMINISTRATIVO);
    EXPECT_EQ(Images(), (std::vector<int>{1, 0, 1, 1}));
    EXPECT_EQ(Tray(), IDI_HAY_MENSAJES);

    Choose(CATEGORY_COMERCIAL);
    EXPECT_EQ(ViewText(), kComercialText);
    EXPECT_EQ(ViewColour(), RGB(0, 0, 180));
    EXPECT_EQ(Selected(), CATEGORY_COMERCIAL);
    EXPECT_EQ(Images(), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_TRUE(m_frame->IsSeen(CATEGORY_COMERCIAL));
    EXPECT_EQ(Tray(), IDI_NO_MENSAJES);

    // The same news, then a cycle without connection: choosing keeps "No hay conexión.".
    Fetch(OUTCOME_NEWS, CHANGED_ADMINISTRATIVO | CHANGED_COMERCIAL);
    Fetch(OUTCOME_NO_CONNECTION, 0);
    ASSERT_EQ(Tray(), IDI_NO_CONEXION);
    Choose(CATEGORY_COMERCIAL);
    EXPECT_EQ(ViewText(), kComercialText);
    EXPECT_TRUE(m_frame->IsSeen(CATEGORY_COMERCIAL));
    EXPECT_EQ(Tray(), IDI_NO_CONEXION);
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_F(FrameTest, LaterNewsRecomputesEveryMarkerFromItsOwnMask)
{
    WriteCategoryFiles();
    Fetch(OUTCOME_NEWS, CHANGED_ADMINISTRATIVO | CHANGED_COMERCIAL);
    ASSERT_EQ(Images(), (std::vector<int>{1, 0, 1, 1}));
    Fetch(OUTCOME_NEWS, CHANGED_OPERATIVO);
    EXPECT_EQ(ViewText(), kOperativoText);
    EXPECT_EQ(ViewColour(), RGB(0, 150, 0));
    EXPECT_EQ(Selected(), CATEGORY_OPERATIVO);
    // Comercial's closed envelope has become an open one.
    EXPECT_EQ(Images(), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(Tray(), IDI_NO_MENSAJES);
}

TEST_F(FrameTest, ChoosingBeforeAnyConnectionLeavesTheTrayAlone)
{
    WriteCategoryFiles();
    Choose(CATEGORY_ADMINISTRATIVO);
    EXPECT_EQ(ViewText(), kAdministrativoText);
    EXPECT_EQ(Images(), (std::vector<int>{1, 0, 0, 0}));
    EXPECT_EQ(Tray(), IDI_NO_CONEXION);

    // All three seen, but no cycle has completed with a connection yet.
    Choose(CATEGORY_COMERCIAL);
    Choose(CATEGORY_OPERATIVO);
    EXPECT_EQ(ViewText(), kOperativoText);
    EXPECT_EQ(Images(), (std::vector<int>{1, 1, 0, 1}));
    EXPECT_EQ(Tray(), IDI_NO_CONEXION);

    // No current item: the view is cleared, nothing else changes.
    Choose(-1);
    EXPECT_EQ(ViewText(), "");
    EXPECT_EQ(Images(), (std::vector<int>{1, 1, 0, 1}));
    EXPECT_EQ(Tray(), IDI_NO_CONEXION);
}

TEST_F(FrameTest, TheSelectorsChoiceReachesTheFrameThroughTheToolbar)
{
    WriteCategoryFiles();
    // The drop-down list inside the selector reports the user's choice as a real one does.
    const HWND selector = m_frame->Selector().Handle();
    const HWND list = FindWindowExW(selector, nullptr, L"ComboBox", nullptr);
    ASSERT_NE(list, nullptr);
    SendMessageW(selector, CB_SETCURSEL, CATEGORY_OPERATIVO, 0);
    SendMessageW(selector, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), CBN_SELENDOK), reinterpret_cast<LPARAM>(list));
    EXPECT_EQ(ViewText(), kOperativoText);
    EXPECT_EQ(Images(), (std::vector<int>{0, 0, 0, 1}));
}

TEST_F(FrameTest, EndingTheSessionAsksNothingAndLeavesNoIconNorFiles)
{
    WriteCategoryFiles();
    SendMessageW(m_hWnd, WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(IsWindow(m_hWnd));
    EXPECT_TRUE(m_boxes.boxes.empty());
    EXPECT_FALSE(ShellHasIcon(m_hWnd, IDR_TRAYMENU));
    EXPECT_FALSE(Exists("comercia.txt"));
}

TEST_F(FrameTest, ErrorsOfACycleAreReportedWithTheFrameAsOwnerAndChangeNothing)
{
    WriteCategoryFiles();
    Fetch(OUTCOME_NEWS, CHANGED_GENERAL | CHANGED_COMERCIAL);
    SendMessageW(m_hWnd, WM_CLOSE, 0, 0);

    m_frame->fetch = [](CMessageFetcher&) -> unsigned char { throw CCodeException(ERR_REGISTRY_READ); };
    Command(ID_FILE_FETCH);
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].text, "No se pudo encontrar la entrada en la registry.");
    EXPECT_EQ(m_boxes.boxes[0].caption, "ATENCION");
    EXPECT_EQ(m_boxes.boxes[0].flags, 16u);
    EXPECT_EQ(m_boxes.boxes[0].owner, m_hWnd);

    m_frame->fetch = [](CMessageFetcher&) -> unsigned char { throw CFileException(ERROR_ACCESS_DENIED, "mensaje.txt"); };
    Command(ID_TOOLBAR_FETCH);
    ASSERT_EQ(m_boxes.boxes.size(), 2u);
    EXPECT_EQ(m_boxes.boxes[1].text, CFileException(ERROR_ACCESS_DENIED, "mensaje.txt").GetErrorMessage());
    EXPECT_EQ(m_boxes.boxes[1].owner, m_hWnd);
    EXPECT_EQ(m_boxes.boxes[1].flags & MB_TYPEMASK, static_cast<UINT>(MB_OK));

    EXPECT_EQ(Tray(), IDI_HAY_MENSAJES);
    EXPECT_EQ(ViewText(), kGeneralText);
    EXPECT_EQ(Images(), (std::vector<int>{1, 0, 1, 1}));
    EXPECT_FALSE(IsWindowVisible(m_hWnd));
    EXPECT_TRUE(Exists("mensaje.txt"));
}

TEST_F(FrameTest, BothCloseQuestionsAnsweredNoKeepTheProgramAndCaptionCloseThenHides)
{
    Command(ID_SHOW);
    ASSERT_TRUE(IsWindowVisible(m_hWnd));

    m_boxes.answers = {IDNO};
    Command(ID_APP_EXIT);
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].text, kCloseQuestion);
    EXPECT_EQ(m_boxes.boxes[0].caption, "Notelia");
    EXPECT_EQ(m_boxes.boxes[0].flags, 0x34u);
    EXPECT_EQ(m_boxes.boxes[0].owner, m_hWnd);
    EXPECT_TRUE(IsWindow(m_hWnd));
    EXPECT_FALSE(m_frame->IsCloseConfirmed());

    m_boxes.answers = {IDYES, IDNO};
    Command(ID_APP_EXIT);
    ASSERT_EQ(m_boxes.boxes.size(), 3u);
    EXPECT_EQ(m_boxes.boxes[1].text, kCloseQuestion);
    EXPECT_EQ(m_boxes.boxes[2].text, kCloseWarning);
    EXPECT_EQ(m_boxes.boxes[2].caption, "ATENCION");
    EXPECT_EQ(m_boxes.boxes[2].flags, 0x44u);
    EXPECT_EQ(m_boxes.boxes[2].owner, m_hWnd);
    EXPECT_TRUE(IsWindow(m_hWnd));
    EXPECT_TRUE(IsWindowVisible(m_hWnd));
    EXPECT_FALSE(m_frame->IsCloseConfirmed());

    // The caption's close button only hides, without a question.
    SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindowVisible(m_hWnd));
    EXPECT_TRUE(IsWindow(m_hWnd));
    EXPECT_EQ(m_boxes.boxes.size(), 3u);
    EXPECT_TRUE(ShellHasIcon(m_hWnd, IDR_TRAYMENU));
}

TEST_F(FrameTest, TrayCloseWhileHiddenEndsAfterTwoYesAndLeavesNoIconNorFiles)
{
    WriteCategoryFiles();
    m_boxes.answers = {IDYES, IDYES};
    Command(ID_TRAY_CLOSE);
    ASSERT_EQ(m_boxes.boxes.size(), 2u);
    EXPECT_EQ(m_boxes.boxes[0].owner, m_hWnd);
    EXPECT_EQ(m_boxes.boxes[1].owner, m_hWnd);
    EXPECT_FALSE(IsWindow(m_hWnd));
    EXPECT_FALSE(ShellHasIcon(m_hWnd, IDR_TRAYMENU));
    EXPECT_FALSE(Exists("mensaje.txt"));
    EXPECT_FALSE(Exists(WorkstationFileName(kKitId, ".adm")));
    MSG quit{};
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(FrameTest, ACloseConfirmedDuringACycleWaitsForItsEnd)
{
    bool aliveAfterClose = false;
    m_frame->fetch = [&](CMessageFetcher& fetcher) -> unsigned char {
        m_boxes.answers = {IDYES, IDYES};
        SendMessageW(m_hWnd, WM_COMMAND, ID_TRAY_CLOSE, 0);
        aliveAfterClose = IsWindow(m_hWnd) != FALSE;
        fetcher.m_nOutcome = OUTCOME_NO_CONNECTION;
        return 0;
    };
    Command(ID_FILE_FETCH);
    EXPECT_TRUE(aliveAfterClose);
    EXPECT_EQ(m_boxes.boxes.size(), 2u);
    EXPECT_TRUE(PumpUntil(m_hWnd, [&] { return !IsWindow(m_hWnd); }));
    EXPECT_FALSE(ShellHasIcon(m_hWnd, IDR_TRAYMENU));
}

TEST_F(FrameTest, CtrlCInTheViewAsksToCloseAndCopiesNothing)
{
    Command(ID_SHOW);
    const HWND view = m_frame->View().Handle();
    SetWindowTextW(view, L"texto que no se copia");
    SendMessageW(view, EM_SETSEL, 0, -1);
    ASSERT_TRUE(OpenClipboard(m_hWnd));
    EmptyClipboard();
    CloseClipboard();

    BYTE keys[256] = {};
    ASSERT_TRUE(GetKeyboardState(keys));
    BYTE held[256];
    std::copy(std::begin(keys), std::end(keys), std::begin(held));
    held[VK_CONTROL] = 0x80;
    held[VK_LCONTROL] = 0x80;
    SetKeyboardState(held);
    m_boxes.answers = {IDNO};
    PostMessageW(view, WM_KEYDOWN, 'C', 1);
    const bool asked = PumpUntil(m_hWnd, [&] { return !m_boxes.boxes.empty(); }, 2000);
    SetKeyboardState(keys);

    ASSERT_TRUE(asked);
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].text, kCloseQuestion);
    EXPECT_TRUE(IsWindow(m_hWnd));
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT));
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));
}

TEST_F(FrameTest, TrayCallbackOfAnotherIconIsIgnored)
{
    EXPECT_EQ(SendMessageW(m_hWnd, WM_USER, IDR_TRAYMENU + 1, WM_LBUTTONDBLCLK), 0);
    EXPECT_FALSE(IsWindowVisible(m_hWnd));
    // The icon's own double click shows the window as "Maximizar" does.
    EXPECT_EQ(SendMessageW(m_hWnd, WM_USER, IDR_TRAYMENU, WM_LBUTTONDBLCLK), 1);
    EXPECT_TRUE(IsWindowVisible(m_hWnd));
    EXPECT_FALSE(IsZoomed(m_hWnd));
    RECT rect{};
    GetWindowRect(m_hWnd, &rect);
    EXPECT_EQ(rect.right - rect.left, 510);
    EXPECT_EQ(rect.bottom - rect.top, 330);
}

TEST_F(FrameTest, DraggingABorderResizesOnlyTheView)
{
    const HWND view = m_frame->View().Handle();
    RECT before{};
    GetWindowRect(view, &before);
    RECT proposed{40, 30, 640, 430};
    SendMessageW(m_hWnd, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&proposed));
    EXPECT_EQ(proposed.left, 40);
    EXPECT_EQ(proposed.right, 640);
    EXPECT_EQ(proposed.bottom, 430);
    RECT after{};
    GetWindowRect(view, &after);
    EXPECT_EQ(after.right - after.left, 589);
    EXPECT_EQ(after.bottom - after.top, 300);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
}

TEST_F(FrameTest, StatusBarShowsTheFlyByPromptsOfMenusAndToolbar)
{
    SendMessageW(m_hWnd, WM_MENUSELECT, MAKEWPARAM(ID_FILE_FETCH, MF_STRING), reinterpret_cast<LPARAM>(GetMenu(m_hWnd)));
    EXPECT_EQ(StatusText(), L"Obtiene todos los mensajes para este puesto de trabajo.");
    SendMessageW(m_hWnd, WM_MENUSELECT, MAKEWPARAM(ID_TRAY_CLOSE, MF_STRING), 1);
    EXPECT_EQ(StatusText(), Wide("Cierra la aplicaci\xF3n"));
    SendMessageW(m_hWnd, WM_MENUSELECT, MAKEWPARAM(SC_CLOSE, MF_STRING | MF_SYSMENU), 1);
    EXPECT_EQ(StatusText(), L"Cierra la ventana activa y le pide que guarde los documentos");
    SendMessageW(m_hWnd, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    EXPECT_EQ(StatusText(), L"Listo");

    // The mouse over the fetch button, over the selector, then away, as the loop offers it.
    const HWND toolbar = m_frame->ToolBar().Handle();
    const HWND selector = m_frame->Selector().Handle();
    RECT button{};
    SendMessageW(toolbar, TB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&button));
    MSG move{toolbar, WM_MOUSEMOVE, 0, MAKELPARAM((button.left + button.right) / 2, (button.top + button.bottom) / 2), 0, {}};
    m_frame->PreTranslateMessage(move);
    EXPECT_EQ(StatusText(), L"Obtiene todos los mensajes para este puesto de trabajo.");
    MSG overSelector{selector, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5), 0, {}};
    m_frame->PreTranslateMessage(overSelector);
    EXPECT_EQ(StatusText(), L"Tipo de mensaje.");
    MSG leave{selector, WM_MOUSELEAVE, 0, 0, 0, {}};
    m_frame->PreTranslateMessage(leave);
    EXPECT_EQ(StatusText(), L"Listo");
}

TEST_F(FrameTest, AboutFontAndSendCommands)
{
    std::vector<UINT> dialogs;
    const auto previousDialogs = SetModalDialogHandler([&](CDialog& dialog, HWND parent) -> INT_PTR {
        dialogs.push_back(dialog.TemplateId());
        EXPECT_EQ(parent, m_hWnd);
        return IDOK;
    });
    int fontDialogs = 0;
    const auto previousFonts = SetFontDialogHandler([&](CHOOSEFONTW&) {
        ++fontDialogs;
        return false;
    });
    Command(ID_APP_ABOUT);
    Command(ID_FORMAT_FONT);
    // Not wired yet: nothing happens.
    Command(ID_FILE_SEND);
    Command(ID_TOOLBAR_SEND);
    Command(ID_TRAY_SEND);
    SetModalDialogHandler(previousDialogs);
    SetFontDialogHandler(previousFonts);

    EXPECT_EQ(dialogs, std::vector<UINT>{IDD_ABOUTBOX});
    EXPECT_EQ(fontDialogs, 1);
    EXPECT_TRUE(m_boxes.boxes.empty());
    EXPECT_TRUE(IsWindow(m_hWnd));
}

TEST_F(FrameTest, TheIconComesBackWhenTheTaskbarIsCreatedAgain)
{
    NOTIFYICONDATAW nid{};
    nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
    nid.hWnd = m_hWnd;
    nid.uID = IDR_TRAYMENU;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &nid));
    ASSERT_FALSE(ShellHasIcon(m_hWnd, IDR_TRAYMENU));
    SendMessageW(m_hWnd, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(ShellHasIcon(m_hWnd, IDR_TRAYMENU));
    EXPECT_EQ(Tray(), IDI_NO_CONEXION);
}
