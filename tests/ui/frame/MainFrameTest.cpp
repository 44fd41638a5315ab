// The main frame on real windows under Wine: the timer's and the tray's wiring, the selector
// and view after news and choices, errors, the two-step close, the end of the session, the
// cycle on its worker against the scripted web server, Ctrl+C, sizing and prompts.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/Errors.h"
#include "app/Identity.h"
#include "res/resource.h"
#include "tests/retrieval/ScriptedWeb.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WinTestSupport.h"
#include "tests/ui/frame/FrameTestSupport.h"
#include "win/Dialog.h"
#include "win/FontDialog.h"
#include "win/TextCodec.h"

using namespace frame_test;
using namespace testing_support;

namespace {

const auto* const g_winsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);
const auto* const g_keeper = ::testing::AddGlobalTestEnvironment(new TrayKeeper);

constexpr char kCloseQuestion[] = "\xBF" "Est\xE1 seguro que desea cerrar la aplicaci\xF3n?";
// One text per category, so that the view tells which it shows.
constexpr const char* kTexts[] = {"Factura administrativa pendiente.", "Oferta comercial de \xE9sta semana.",
                                  "Aviso general: corte de luz el martes.", "Parada operativa a las 14 h."};

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_key.Set(L"RemoteHost", L"127.0.0.1");
        m_key.Set(L"TimeOut", L"1000");
        Recreate(0, 1500);
    }
    void TearDown() override
    {
        if (IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
        CloseHandle(m_gate);
    }
    // A new frame whose real cycles ask the server on `port`.
    void Recreate(unsigned short port, unsigned long timeOut)
    {
        if (IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
        m_frame = new CTestFrame(port, timeOut);
        ASSERT_TRUE(m_frame->LoadFrame(IDR_MAINFRAME, CMainFrame::kFrameStyle));
        m_hWnd = m_frame->Handle();
    }
    static void WriteCategoryFiles()
    {
        WriteBytes(WorkstationFileName(kKitId, ".adm"), kTexts[CATEGORY_ADMINISTRATIVO]);
        WriteBytes("comercia.txt", kTexts[CATEGORY_COMERCIAL]);
        WriteBytes("mensaje.txt", kTexts[CATEGORY_GENERAL]);
        WriteBytes(WorkstationFileName(kKitId, ".txt"), kTexts[CATEGORY_OPERATIVO]);
    }

    bool Settle(DWORD timeoutMs = 5000)
    {
        return PumpUntil([&] { return !m_frame->IsFetching(); }, timeoutMs, m_hWnd);
    }
    void Command(UINT id) { SendMessageW(m_hWnd, WM_COMMAND, id, 0); }
    // A tray event as the shell sends it for the version it took; the menu's is `WM_RBUTTONUP`.
    void TrayEvent(UINT event)
    {
        const bool v4 = m_frame->TrayIcon().IsVersion4();
        if (v4 && event == WM_RBUTTONUP) event = WM_CONTEXTMENU;
        SendMessageW(m_hWnd, WM_USER, v4 ? 0 : IDR_TRAYMENU, v4 ? MAKELPARAM(event, IDR_TRAYMENU) : event);
    }
    void Fetch(int outcome, unsigned char mask)
    {
        m_frame->fetch = [outcome, mask] { return CMainFrame::CycleOutcome{mask, outcome}; };
        Command(ID_FILE_FETCH);
        ASSERT_TRUE(Settle());
    }
    // The user picks category `index` in the drop-down list.
    void Choose(int index)
    {
        const HWND selector = m_frame->Selector().Handle();
        SendMessageW(selector, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_CATEGORY, CBN_SELENDOK), reinterpret_cast<LPARAM>(selector));
    }

    int Tray() const { return m_frame->TrayIcon().TrayState(); }
    std::string ViewText() const { return NarrowCp1252(WindowText(m_frame->View().Handle())); }
    // The selector's image of each item, "1" for an open envelope.
    std::string Images() const
    {
        std::string images;
        const CCategorySelector& selector = m_frame->Selector();
        for (int i = 0; i < selector.Count(); ++i) images += std::to_string(selector.ItemImage(i));
        return images;
    }
    std::wstring StatusText() const { return WindowText(m_frame->StatusBar().Handle()); }

    // The work directory outlives the frame, whose fetcher deletes its files there.
    ScopedWorkDir m_dir;
    SettingsKeyScope m_key;
    ScriptedBoxes m_boxes;
    CTestFrame* m_frame = nullptr;
    HWND m_hWnd = nullptr;
    // Holds a scripted cycle until set.
    const HANDLE m_gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

} // namespace

TEST_F(FrameTest, TheTimerFetchesOnTheSecondTickThenAsTheFirstCycleFileSays)
{
    m_frame->fetch = [this] {
        // Read once per run: the copy of a later cycle changes nothing.
        WriteBytes("notelia_param.ini", std::string("[Timer]\r\nTimerRefresh=") + (m_frame->fetches == 1 ? "90" : "30"));
        return CMainFrame::CycleOutcome{0, OUTCOME_NO_NEWS};
    };
    // Five ticks, and a fetch command (which does not reset the counter) after the third.
    const std::pair<UINT, int> steps[] = {{WM_TIMER, 0}, {WM_TIMER, 1}, {WM_TIMER, 1}, {WM_COMMAND, 2},
                                          {WM_TIMER, 2}, {WM_TIMER, 3}};
    for (const auto& [message, fetches] : steps) {
        SendMessageW(m_hWnd, message, message == WM_TIMER ? 1 : ID_TOOLBAR_FETCH, 0);
        Settle();
        EXPECT_EQ(m_frame->fetches, fetches);
    }
    EXPECT_EQ(m_frame->timerPeriods, (std::vector<UINT>{100, 1500, 30000}));
}

TEST_F(FrameTest, TicksAndCommandsDuringARunningCycleDoNothing)
{
    m_frame->fetch = [gate = m_gate]() -> CMainFrame::CycleOutcome {
        WaitForSingleObject(gate, 10000);
        throw CCodeException(ERR_FILE_OPEN);
    };
    Command(ID_FILE_FETCH);
    ASSERT_TRUE(m_frame->IsFetching());
    for (int i = 0; i < 3; ++i) SendMessageW(m_hWnd, WM_TIMER, 1, 0);
    Command(ID_TOOLBAR_FETCH);
    // Also while the cycle's own error is on screen.
    m_boxes.onBox = [&] { Command(ID_FILE_FETCH); };
    SetEvent(m_gate);
    ASSERT_TRUE(Settle());
    m_boxes.onBox = nullptr;
    EXPECT_EQ(m_frame->fetches, 1);
    EXPECT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_frame->timerPeriods, std::vector<UINT>{100});
}
TEST_F(FrameTest, CyclesChoicesAndBalloonsAsViewSelectorTrayAndBalloonShowThem)
{
    // 'N' a cycle without news, 'X' one without connection, 'F' news of `arg` (the mask), 'C' the
    // user picks category `arg` (-1: none; 'L' through the drop-down list inside the selector),
    // 'T' the taskbar comes back without the icon, 'K' a click on the balloon with the frame
    // hidden. Then the view's category (-1: empty), the images, the tray, the window's
    // visibility and the balloons the shell took, with the last one's text. The frame starts
    // hidden, its icon in the shell in the no-connection state, all images closed.
    struct Step {
        char op;
        int arg, shown;
        const char* images;
        int tray;
        bool visible;
        int balloons;
        const wchar_t* text;
    };
    constexpr int A = CATEGORY_ADMINISTRATIVO, C = CATEGORY_COMERCIAL, G = CATEGORY_GENERAL, O = CATEGORY_OPERATIVO;
    const wchar_t* const both = L"Comercial, Informaci\u00f3n General";
    const Step steps[] = {
        {'N', 0, -1, "0000", IDI_NO_MENSAJES, false, 0, L""},
        {'X', 0, -1, "0000", IDI_NO_CONEXION, false, 0, L""},
        // Choosing all three while the last cycle found no connection leaves the tray alone.
        {'C', A, A, "1000", IDI_NO_CONEXION, false, 0, L""},
        {'C', C, C, "1100", IDI_NO_CONEXION, false, 0, L""},
        {'C', O, O, "1101", IDI_NO_CONEXION, false, 0, L""},
        {'C', -1, -1, "1101", IDI_NO_CONEXION, false, 0, L""},
        {'L', G, G, "1111", IDI_NO_CONEXION, false, 0, L""},
        {'F', 1 | 8, G, "1011", IDI_HAY_MENSAJES, true, 1, both},
        // Announced and still unseen: no second balloon.
        {'F', 8, C, "1111", IDI_NO_MENSAJES, true, 1, both},
        {'F', 1 | 4, G, "1110", IDI_HAY_MENSAJES, true, 2, L"Informaci\u00f3n General, Operativo"},
        {'T', 0, G, "1110", IDI_HAY_MENSAJES, true, 3, L"Operativo"},
        {'K', 0, O, "1111", IDI_NO_MENSAJES, true, 3, L"Operativo"},
        // Once seen: nothing to announce again, and a click shows the news' first category.
        {'T', 0, O, "1111", IDI_NO_MENSAJES, true, 3, L"Operativo"},
        {'K', 0, G, "1111", IDI_NO_MENSAJES, true, 3, L"Operativo"},
        {'F', 2 | 8, A, "1011", IDI_HAY_MENSAJES, true, 4, L"Administrativo, Comercial"},
        // Later news recomputes every image: Comercial's closed envelope opens.
        {'F', 4, O, "1111", IDI_NO_MENSAJES, true, 5, L"Operativo"},
    };
    const COLORREF colours[] = {RGB(0, 0, 0), RGB(0, 0, 180), RGB(194, 0, 0), RGB(0, 150, 0)};
    WriteCategoryFiles();
    EXPECT_TRUE(ShellHasIcon(m_hWnd, IDR_TRAYMENU));
    EXPECT_TRUE(GetWindowLongW(m_frame->View().Handle(), GWL_STYLE) & ES_READONLY);
    const CNoteliaIcon& icon = m_frame->TrayIcon();
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(1, step.op) + std::to_string(step.arg));
        if (step.op == 'N' || step.op == 'X' || step.op == 'F')
            Fetch(step.op == 'F' ? OUTCOME_NEWS : step.op == 'N' ? OUTCOME_NO_NEWS : OUTCOME_NO_CONNECTION,
                  static_cast<unsigned char>(step.op == 'F' ? step.arg : CHANGED_GENERAL));
        if (step.op == 'C') Choose(step.arg);
        if (step.op == 'L') {
            const HWND selector = m_frame->Selector().Handle();
            const HWND list = FindWindowExW(selector, nullptr, L"ComboBox", nullptr);
            SendMessageW(selector, CB_SETCURSEL, static_cast<WPARAM>(step.arg), 0);
            SendMessageW(selector, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), CBN_SELENDOK), reinterpret_cast<LPARAM>(list));
        }
        if (step.op == 'T') {
            ASSERT_TRUE(RemoveShellIcon(m_hWnd, IDR_TRAYMENU));
            SendMessageW(m_hWnd, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
            EXPECT_TRUE(ShellHasIcon(m_hWnd, IDR_TRAYMENU));
        }
        if (step.op == 'K') {
            ShowWindow(m_hWnd, SW_HIDE);
            TrayEvent(NIN_BALLOONUSERCLICK);
        }
        EXPECT_EQ(ViewText(), step.shown < 0 ? "" : kTexts[step.shown]);
        if (step.shown >= 0) {
            EXPECT_EQ(m_frame->View().TextColour(), colours[step.shown]);
            EXPECT_EQ(m_frame->Selector().GetCurSel(), step.shown);
        }
        EXPECT_EQ(Images(), step.images);
        EXPECT_EQ(Tray(), step.tray);
        EXPECT_EQ(IsWindowVisible(m_hWnd) != FALSE, step.visible);
        EXPECT_EQ(icon.BalloonCount(), step.balloons);
        EXPECT_EQ(std::wstring(icon.NotifyData().szInfo), step.text);
        // Later changes of the icon never carry the balloon again.
        EXPECT_FALSE(icon.NotifyData().uFlags & NIF_INFO);
    }
    EXPECT_EQ(std::wstring(icon.NotifyData().szInfoTitle), L"Hay mensajes!");
    EXPECT_EQ(icon.NotifyData().dwInfoFlags, static_cast<DWORD>(NIIF_USER | NIIF_LARGE_ICON));
    EXPECT_NE(icon.NotifyData().hBalloonIcon, nullptr);
    EXPECT_TRUE(m_boxes.boxes.empty());  // the display font was applied too
}

TEST_F(FrameTest, ErrorsOfACycleAreReportedWithTheFrameAsOwnerAndChangeNothing)
{
    WriteCategoryFiles();
    Fetch(OUTCOME_NEWS, CHANGED_GENERAL | CHANGED_COMERCIAL);
    const CFileException fileError(ERROR_ACCESS_DENIED, "mensaje.txt");
    m_frame->fetch = []() -> CMainFrame::CycleOutcome { throw CCodeException(ERR_REGISTRY_READ); };
    Command(ID_FILE_FETCH);
    ASSERT_TRUE(Settle());
    m_frame->fetch = [&]() -> CMainFrame::CycleOutcome { throw fileError; };
    Command(ID_TOOLBAR_FETCH);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(m_boxes.boxes,
              (std::vector<RecordedBox>{{m_hWnd, "No se pudo encontrar la entrada en la registry.", "ATENCION", 16},
                                        {m_hWnd, fileError.GetErrorMessage(), "Notelia 2.5", 48}}));
    EXPECT_EQ(Tray(), IDI_HAY_MENSAJES);
    EXPECT_EQ(Images(), "1011");
}
TEST_F(FrameTest, ADrippingServerNeverHoldsTheWindowAndACloseOrTheSessionsEndStopsAStalledCycle)
{
    ASSERT_NE(CScriptedWeb::Port(), 0) << "run under tests/retrieval/http_server.py";
    CScriptedWeb::Reset();
    CScriptedWeb::Publish("/zandu/notelia_param.ini", 200, std::string(100, 'x'), CScriptedWeb::Delivery::Drip, 300);
    Recreate(CScriptedWeb::Port(), 5000);
    m_frame->RealFetcher().SetDeadline(std::chrono::seconds(3));
    std::atomic<bool> done{false};
    std::atomic<int> unanswered{0};
    std::thread prober([&] {
        for (DWORD_PTR result = 0; !done; std::this_thread::yield())
            if (!SendMessageTimeoutW(m_hWnd, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) && !done) ++unanswered;
    });
    Command(ID_FILE_FETCH);
    const bool ended = Settle(15000);
    done = true;
    prober.join();
    EXPECT_TRUE(ended);
    EXPECT_EQ(unanswered, 0);
    // The download's box as the download shows it, without owner; then the tray.
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_TRUE(m_boxes.boxes[0].text.starts_with("(12002) - ") && !m_boxes.boxes[0].owner);
    EXPECT_EQ(Tray(), IDI_NO_CONEXION);

    // A server that never answers: the close stops the cycle long before its 5 s time-out.
    CScriptedWeb::Publish("/zandu/notelia_param.ini", 200, "", CScriptedWeb::Delivery::Silent);
    WriteCategoryFiles();
    m_boxes.answers = {IDYES, IDYES};
    Command(ID_FILE_FETCH);
    Command(ID_TRAY_CLOSE);
    EXPECT_TRUE(IsWindow(m_hWnd));  // the window goes once the cycle has ended
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(m_hWnd); }, 3000, m_hWnd));
    EXPECT_EQ(m_boxes.boxes.size(), 3u);  // the two questions, no download error
    EXPECT_FALSE(ShellHasIcon(m_hWnd, IDR_TRAYMENU) || Exists("mensaje.txt"));

    // The session's end stops such a cycle too, and its handler returns once the worker has ended.
    Recreate(CScriptedWeb::Port(), 5000);
    const auto stopped = std::make_shared<std::atomic<bool>>(false);
    m_frame->fetch = [real = m_frame->RealJob(), stopped] { return real(), *stopped = true, CMainFrame::CycleOutcome{}; };
    Command(ID_FILE_FETCH);
    SendMessageW(m_hWnd, WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(*stopped);
}

TEST_F(FrameTest, AResultThatCannotBePostedEndsItsCycleAllTheSame)
{
    m_frame->failPosts = true;
    Fetch(OUTCOME_NEWS, CHANGED_GENERAL);  // settles: the cycle is over, its result lost
    EXPECT_EQ(Tray(), IDI_NO_CONEXION);
    m_frame->failPosts = false;
    Fetch(OUTCOME_NO_NEWS, 0);
    EXPECT_EQ(m_frame->fetches, 2);
    EXPECT_EQ(Tray(), IDI_NO_MENSAJES);

    // A close that waits for such a cycle completes.
    m_frame->fetch = [gate = m_gate] { return WaitForSingleObject(gate, 10000), CMainFrame::CycleOutcome{}; };
    m_frame->failPosts = true;
    m_boxes.answers = {IDYES, IDYES};
    Command(ID_FILE_FETCH);
    Command(ID_TRAY_CLOSE);
    EXPECT_TRUE(IsWindow(m_hWnd));
    SetEvent(m_gate);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(m_hWnd); }, 5000, m_hWnd));
}

TEST_F(FrameTest, TheTwoCloseQuestions)
{
    TrayEvent(WM_LBUTTONDBLCLK);  // "Maximizar"
    ASSERT_TRUE(IsWindowVisible(m_hWnd));
    m_boxes.answers = {IDNO, IDYES, IDNO};
    Command(ID_APP_EXIT);
    Command(ID_APP_EXIT);
    const RecordedBox question{m_hWnd, kCloseQuestion, "Notelia", 52};
    EXPECT_EQ(m_boxes.boxes, (std::vector<RecordedBox>{
                                 question, question,
                                 {m_hWnd, "Ud. dejar\xE1 de recibir mensajes. Desea continuar?", "ATENCION", 68}}));
    EXPECT_FALSE(m_frame->IsCloseConfirmed());
    // The caption's close button only hides, without a question.
    SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindowVisible(m_hWnd));
    EXPECT_EQ(m_boxes.boxes.size(), 3u);

    // From the tray while hidden: two Yes end the program, without its icon and files.
    WriteCategoryFiles();
    m_boxes.answers = {IDYES, IDYES};
    Command(ID_TRAY_CLOSE);
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(m_hWnd); }, 5000, m_hWnd));
    EXPECT_EQ(m_boxes.boxes.size(), 5u);
    EXPECT_FALSE(ShellHasIcon(m_hWnd, IDR_TRAYMENU));
    EXPECT_FALSE(Exists("mensaje.txt") || Exists(WorkstationFileName(kKitId, ".adm")));
}
namespace {
int g_menusSeen = 0;
void CALLBACK EndSessionInMenu(HWND, UINT, UINT_PTR timer, DWORD)
{
    const HWND menu = FindWindowW(L"#32768", nullptr);
    if (menu && IsWindowVisible(menu)) ++g_menusSeen;
    KillTimer(nullptr, timer);
    SendMessageW(CWindow::MainWindow(), WM_ENDSESSION, TRUE, 0);
    EndMenu();
}
} // namespace

TEST_F(FrameTest, TheSessionsEndAsksNothingAndKeepsFrameIconAndFiles)
{
    WriteCategoryFiles();
    int shutDowns = 0;
    m_frame->SetSessionEndHandler([&] { ++shutDowns; });
    // A cycle held where no stop reaches it, as in a name lookup: the end is not held by it.
    const auto finished = std::make_shared<std::atomic<bool>>(false);
    m_frame->fetch = [gate = m_gate, finished] {
        WaitForSingleObject(gate, 30000);
        *finished = true;
        return CMainFrame::CycleOutcome{};
    };
    Command(ID_FILE_FETCH);
    ASSERT_TRUE(m_frame->IsFetching());
    // With the close questions open: the first is answered, the second never asked.
    m_boxes.answers = {IDYES, IDYES};
    m_boxes.onBox = [&] { SendMessageW(m_hWnd, WM_ENDSESSION, TRUE, 0); };
    Command(ID_APP_EXIT);
    m_boxes.onBox = nullptr;
    EXPECT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(shutDowns, 1);
    EXPECT_FALSE(*finished || m_frame->IsFetching());
    SetEvent(m_gate);
    EXPECT_TRUE(PumpUntil([&] { return finished->load(); }, 10000, m_hWnd));

    // With the tray menu open.
    g_menusSeen = 0;
    ASSERT_NE(SetTimer(nullptr, 0, 50, EndSessionInMenu), 0u);
    TrayEvent(WM_RBUTTONUP);
    EXPECT_EQ(g_menusSeen, 1);
    EXPECT_EQ(shutDowns, 2);

    PumpUntil([] { return false; }, 100, m_hWnd);
    EXPECT_TRUE(IsWindow(m_hWnd));
    EXPECT_TRUE(m_frame->IsSessionEnded());
    EXPECT_TRUE(ShellHasIcon(m_hWnd, IDR_TRAYMENU));
    EXPECT_TRUE(Exists("mensaje.txt") && Exists(WorkstationFileName(kKitId, ".adm")));
    // Nothing starts any more.
    Command(ID_FILE_FETCH);
    EXPECT_FALSE(m_frame->IsFetching());
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

    BYTE keys[256] = {}, held[256] = {};
    ASSERT_TRUE(GetKeyboardState(keys));
    std::copy(std::begin(keys), std::end(keys), std::begin(held));
    held[VK_CONTROL] = held[VK_LCONTROL] = 0x80;
    SetKeyboardState(held);
    m_boxes.answers = {IDNO};
    PostMessageW(view, WM_KEYDOWN, 'C', 1);
    const bool asked = PumpUntil([&] { return !m_boxes.boxes.empty(); }, 2000, m_hWnd);
    SetKeyboardState(keys);

    ASSERT_TRUE(asked);
    EXPECT_EQ(m_boxes.boxes[0].text, kCloseQuestion);
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT) || IsClipboardFormatAvailable(CF_TEXT));
}

TEST_F(FrameTest, DraggingABorderResizesOnlyTheView)
{
    RECT before{}, after{}, proposed{40, 30, 640, 430};
    GetWindowRect(m_frame->View().Handle(), &before);
    SendMessageW(m_hWnd, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&proposed));
    GetWindowRect(m_frame->View().Handle(), &after);
    EXPECT_EQ(proposed.right, 640);
    EXPECT_EQ(std::vector<LONG>({after.left, after.top, after.right - after.left, after.bottom - after.top}),
              std::vector<LONG>({before.left, before.top, 589, 300}));
}

TEST_F(FrameTest, StatusBarShowsTheFlyByPromptsOfMenusAndToolbar)
{
    SendMessageW(m_hWnd, WM_MENUSELECT, MAKEWPARAM(ID_TRAY_CLOSE, MF_STRING), 1);
    EXPECT_EQ(StatusText(), WidenCp1252("Cierra la aplicaci\xF3n"));
    // The mouse over the fetch button, over the selector, then away, as the loop offers it.
    const HWND toolbar = m_frame->ToolBar().Handle();
    const HWND selector = m_frame->Selector().Handle();
    RECT button{};
    SendMessageW(toolbar, TB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&button));
    const std::pair<MSG, std::wstring> moves[] = {
        {{toolbar, WM_MOUSEMOVE, 0, MAKELPARAM(button.left + 2, button.top + 2), 0, {}},
         L"Obtiene todos los mensajes para este puesto de trabajo."},
        {{selector, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5), 0, {}}, L"Tipo de mensaje."},
        {{selector, WM_MOUSELEAVE, 0, 0, 0, {}}, L"Listo"}};
    for (auto [move, text] : moves) {
        m_frame->PreTranslateMessage(move);
        EXPECT_EQ(StatusText(), text);
    }
}

TEST_F(FrameTest, DialogsAndACloseConfirmedInsideOne)
{
    std::vector<UINT> dialogs;
    bool aliveAfterClose = false;
    const auto previousDialogs = SetModalDialogHandler([&](CDialog& dialog, HWND) -> INT_PTR {
        dialogs.push_back(dialog.TemplateId());
        // Closed from the tray meanwhile: the window waits for the dialog's loop to return.
        m_boxes.answers = {IDYES, IDYES};
        Command(ID_TRAY_CLOSE);
        PumpUntil([] { return false; }, 50, m_hWnd);
        aliveAfterClose = IsWindow(m_hWnd) != FALSE;
        return IDCANCEL;
    });
    int fontDialogs = 0;
    const auto previousFonts = SetFontDialogHandler([&](CHOOSEFONTW&) { return ++fontDialogs, false; });
    for (const UINT id : {ID_FORMAT_FONT, ID_FILE_SEND, ID_TOOLBAR_SEND, ID_TRAY_SEND, ID_APP_ABOUT}) Command(id);
    SetModalDialogHandler(previousDialogs);
    SetFontDialogHandler(previousFonts);
    EXPECT_EQ(fontDialogs, 1);
    EXPECT_EQ(dialogs, (std::vector<UINT>{IDD_SENDMESSAGE, IDD_SENDMESSAGE, IDD_SENDMESSAGE, IDD_ABOUTBOX}));
    EXPECT_TRUE(aliveAfterClose);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(m_hWnd); }, 5000, m_hWnd));
}
