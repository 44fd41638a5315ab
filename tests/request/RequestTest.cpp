// The recipient list read from the configuration file, and the send-message dialog driven
// through its real controls: opening, validation, a session on the worker thread against
// scripted servers and the real peer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "app/ErrorText.h"
#include "res/resource.h"
#include "request/RecipientList.h"
#include "request/RecipientSource.h"
#include "request/SendMessageDlg.h"
#include "retrieval/MessageFetcher.h"
#include "ui/MainFrame.h"
#include "tests/mail/MailTestText.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WinTestSupport.h"
#include "win/TextCodec.h"

using namespace testing_support;

TEST(RecipientList, ReadFromTheConfigurationFile)
{
    ScopedWorkDir dir;
    CMessageStore files([](std::string&) { return false; });
    std::string text = "untouched";
    EXPECT_FALSE(ReadRecipientList(files, text));
    EXPECT_EQ(text, "untouched");

    const std::string helpDesk = BuiltInRecipientList();
    std::string hundred = helpDesk;
    for (int i = 1; i < kMaxRecipients; ++i) hundred += "\n" + helpDesk;
    const struct {
        const char* file;
        std::string list;
    } rows[] = {
        {"[Timer]\nTimerRefresh=60\n", helpDesk},
        {"[MailList]\nMailListCount=2\nName1=Soporte\nAddress1=soporte@arnet.com.ar\nName2=Ventas\nAddress2=v@z.ar.com\n",
         "Soporte = soporte@arnet.com.ar\nVentas = v@z.ar.com"},
        {"[MailList]\nMailListCount=2\nName1=Soporte\nAddress1=s@a.ar\n", "Soporte = s@a.ar\n" + helpDesk},
        {"[MailList]\nMailListCount=0\n", ""},
        {"[MailList]\nMailListCount=1\nName1=Soporte\nAddress1=\n", "Soporte = "},
        {"[MailList]\nMailListCount=2147483647\n", hundred},
    };
    files.SetConfigObtained();
    for (const auto& row : rows) {
        WriteBytes(kConfigFileName, row.file);
        ASSERT_TRUE(ReadRecipientList(files, text));
        EXPECT_EQ(text, row.list) << row.file;
    }
}

namespace {

const std::string kKitId = "AR01-2345-6789-X";
const char kList[] = "Zandu = mesadeayuda@zandu.com.ar\nSoporte = soporte@arnet.com.ar";

class SendDialog : public testing::Test {
protected:
    void SetUp() override
    {
        key.Set(L"KitId", WidenCp1252(kKitId));
        key.Set(L"HolderName", L"Ferretería Núñez");
        key.Set(L"HolderAddress", L"Av. Güemes 1234");
        key.Set(L"MailServer", L"127.0.0.1");
        // The servers this user saw with STARTTLS, from earlier runs in this prefix.
        RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(testing_support::kSettingsKey) + L"\\STARTTLS").c_str());
    }

    static void SetText(HWND dialog, int id, const std::wstring& text) { SetDlgItemTextW(dialog, id, text.c_str()); }
    static void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
    static void Fill(HWND dialog)
    {
        SetText(dialog, IDC_SEND_CONTACT, L"Juan Pérez");
        SetText(dialog, IDC_SEND_PHONES, L"4555-1234");
        SetText(dialog, IDC_SEND_SUBJECT, L"Consulta técnica: conexión");
        SetText(dialog, IDC_SEND_TEXT, L"No llegan los mensajes.\r\n.punto inicial\r\nfin");
    }
    // Clicks "&Enviar" and waits for the session's end.
    static bool Send(HWND hWnd, const CSendMessageDlg& on)
    {
        Click(hWnd, IDC_SEND_BUTTON);
        return PumpUntil([&] { return !on.IsSending(); }, 30000);
    }
    // A dialog of its own with `list` and the session's `deadline`, through `script`; the boxes of
    // earlier ones are forgotten.
    INT_PTR Run(const std::function<void(HWND, CSendMessageDlg&)>& script, const char* list = kList,
                unsigned deadline = 60000)
    {
        boxes.boxes.clear();
        CSendMessageDlg dialog;
        dialog.RecipientList = list;
        dialog.SessionTimeout = deadline;
        return dialog.RunModalWithScript(nullptr, [&](HWND hWnd) { script(hWnd, dialog); });
    }

    ScopedSettingsKey key;
    ScriptedBoxes boxes;
};

// The greeting, EHLO and AUTH LOGIN accepted.
void AcceptLogin(CScriptPeer& peer)
{
    for (const char* reply : {"220 hola\r\n", "250 ok\r\n", "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n"}) {
        peer.Send(reply);
        peer.ReadLine();
    }
    peer.Send("235 ok\r\n");
}

} // namespace

// The selector's entries and the one preselected, the kit shown, and what is refused at once.
TEST_F(SendDialog, OpeningAndRefusalsBeforeAnyConnection)
{
    const struct {
        const char* list;
        int count, selected;
        const wchar_t* contact;
        const wchar_t* email;
        std::string text;
        UINT flags;
        INT_PTR result = IDABORT;  // still open when the script ended
        bool server = true, kit = true;
    } rows[] = {
        {"", 0, CB_ERR, L"Juan", L"", "Debe seleccionar el destinatario del mensaje.", 64},
        {"A = a@x.ar\nB = b@y.ar\nC = c@z.ar", 3, 1, L"", L"",
         "El campo 'Contacto' está vacío.\nDebe especificar el nombre de la persona a la que se deberá contactar.", 64,
         IDABORT, true, false},
        {"A = a@x.ar", 1, 0, L" ", L"Juan <juan@dominio.com.ar>", "La dirección de correo electrónico no es válida.",
         64},
        {"A = Soporte <s@x.ar>", 1, 0, L"Juan", L"", "La dirección del destinatario no es válida.", 16},
        {"A = ", 1, 0, L"Juan", L"", "La dirección del destinatario no es válida.", 16},
        {"A = a@x.ar", 1, 0, L"Juan", L"", CErrorText().Text(-1003), 16, 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        if (!row.server) key.Delete(L"MailServer");
        if (!row.kit) key.Delete(L"KitId");
        else key.Set(L"KitId", WidenCp1252(kKitId));
        const INT_PTR result = Run([&](HWND hWnd, CSendMessageDlg& fresh) {
            const HWND selector = GetDlgItem(hWnd, IDC_SEND_RECIPIENT);
            EXPECT_EQ(SendMessageW(selector, CB_GETCOUNT, 0, 0), row.count);
            EXPECT_EQ(SendMessageW(selector, CB_GETCURSEL, 0, 0), row.selected);
            EXPECT_EQ(WindowText(GetDlgItem(hWnd, IDC_SEND_KITID)), row.kit ? WidenCp1252(kKitId) : L"");
            EXPECT_EQ(WindowText(hWnd), L"Enviar Mensaje");
            SetText(hWnd, IDC_SEND_CONTACT, row.contact);
            SetText(hWnd, IDC_SEND_EMAIL, row.email);
            Click(hWnd, IDC_SEND_BUTTON);
            EXPECT_FALSE(fresh.IsSending());
        }, row.list);
        EXPECT_EQ(result, row.result);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, row.text);
        EXPECT_EQ(boxes.boxes[0].caption, "ATENCION");
        EXPECT_EQ(boxes.boxes[0].flags, row.flags);
    }
}

// How each session ends: delivered, or with a box that says why in a length a box can show,
// the dialog keeping what was typed. A server once seen completing STARTTLS is held to it: with
// STARTTLS stripped from the EHLO reply or refused, the session says nothing but QUIT. A secure
// channel that breaks after the handshake is told in words too.
TEST_F(SendDialog, SessionsEndDeliveredOrWithTheBoxThatSaysWhy)
{
    // A mebibyte of EHLO reply lines, then the close; and the box's first eight lines.
    const auto lines = [](const std::string& line) {
        return [line](CScriptPeer& peer) {
            peer.Send("220 hola\r\n");
            peer.ReadLine();
            std::string all;
            while (all.size() < 1000000) all += line + "\r\n";
            peer.Send(all);
        };
    };
    const auto eight = [](const std::string& line) {
        std::string text = line;
        for (int i = 1; i < 8; ++i) text += "\r\n" + line;
        return text;
    };
    // Eight of these are 510 characters: with the mark, two too many for a box.
    const std::string wide = "550-no te conozco" + std::string(45, '.');
    const std::string closed = "El servidor de correo cerró la conexión antes de aceptar el mensaje; no se envió el mensaje.";
    const std::string noLonger =
        "El servidor de correo ya no ofrece la conexión segura (STARTTLS) que ofrecía antes; no se envió el mensaje.";
    const struct {
        const char* name;
        CScriptedServer::Script script;  // the server, else the real peer's NOTELIA_SMTP_<peer>; neither: none
        const char* peer;
        INT_PTR result;
        std::string box;  // empty: delivered
        bool exact;       // else the box's start, more following
        std::string sent;  // in the scripted server's transcript; the start of STRIPPED's commands
        const wchar_t* security = nullptr;
        const char* mode = nullptr;     // STRIPPED's treatment of STARTTLS
        const wchar_t* port = nullptr;  // instead of the server's
        unsigned deadline = 60000;
    } rows[] = {
        {"sender rejected",
         [&](CScriptPeer& peer) {
             AcceptLogin(peer);
             peer.ReadLine();
             peer.Send("550 Sender rejected\r\n");
             if (peer.ReadLine() == "QUIT") peer.Send("221 chau\r\n");
             peer.WaitClose();
         },
         nullptr, IDABORT, "550 Sender rejected", true, "MAIL FROM:<usuario@quorvexnet.com.ar>\r\nQUIT\r\n"},
        {"accepts and closes", [](CScriptPeer&) {}, nullptr, IDABORT, closed, true, ""},
        // Not the "354" that came before the close.
        {"closes during DATA",
         [](CScriptPeer& peer) {
             AcceptLogin(peer);
             for (const char* reply : {"250 ok\r\n", "250 ok\r\n", "354 adelante\r\n"}) {
                 peer.ReadLine();
                 peer.Send(reply);
             }
         },
         nullptr, IDABORT, closed, true, "DATA\r\n"},
        {"silent past the session's deadline", [](CScriptPeer& peer) { peer.WaitClose(); }, nullptr, IDABORT,
         "El servidor de correo no respondió a tiempo; no se envió el mensaje.", true, "", nullptr, nullptr, nullptr,
         1500},
        {"host not found", nullptr, nullptr, IDABORT, "(11001) - ", false, ""},
        {"a mebibyte of lines, then closed", lines("550-no te conozco"), nullptr, IDABORT,
         eight("550-no te conozco") + "...", true, "EHLO "},
        {"eight lines too long for a box", lines(wide), nullptr, IDABORT, eight(wide).substr(0, 509) + "...", true,
         "EHLO "},
        // Not yet seen with STARTTLS (the rows below see it).
        {"required, not offered", nullptr, "NOTELIA_SMTP_STRIPPED", IDABORT,
         "El servidor de correo no ofrece una conexión segura (STARTTLS); no se envió el mensaje.", true, "EHLO QUIT",
         L"required", "strip"},
        {"untrusted", nullptr, "NOTELIA_SMTP_UNTRUSTED", IDABORT,
         "No se pudo verificar el certificado del servidor: no lo emitió una autoridad de confianza (error "
         "0x800B010A).",
         true, ""},
        {"STARTTLS required", nullptr, "NOTELIA_SMTP_STARTTLS", IDOK, "", true, "", L"Required"},
        {"TLS from the start", nullptr, "NOTELIA_SMTP_IMPLICIT", IDOK, "", true, "", L"tls"},
        {"a port that is no number", nullptr, "NOTELIA_SMTP_IMPLICIT", 0, CErrorText().Text(-1003), true, "", L"tls",
         nullptr, L"25x"},
        {"seen completing STARTTLS", nullptr, "NOTELIA_SMTP_STRIPPED", IDOK, "", true,
         "EHLO STARTTLS EHLO AUTH MAIL RCPT DATA QUIT", nullptr, "tls"},
        {"STARTTLS stripped", nullptr, "NOTELIA_SMTP_STRIPPED", IDABORT, noLonger, true, "EHLO QUIT", nullptr, "strip"},
        {"STARTTLS refused", nullptr, "NOTELIA_SMTP_STRIPPED", IDABORT,
         noLonger + " Respuesta del servidor: 454 4.7.0 TLS not available due to temporary reason", true,
         "EHLO STARTTLS QUIT", nullptr, "454"},
        {"broken after the handshake", nullptr, "NOTELIA_SMTP_STRIPPED", IDABORT,
         "Se interrumpió la conexión segura con el servidor de correo (error 0x", false, "EHLO STARTTLS EHLO", nullptr,
         "break"},
    };
    COracle oracle;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::unique_ptr<CScriptedServer> server;
        if (row.script) server = std::make_unique<CScriptedServer>(row.script);
        const int port = server ? server->Port() : row.peer ? EnvPort(row.peer) : 25;
        ASSERT_NE(port, 0) << row.peer;
        // A label longer than 63 characters fails before any query is sent.
        key.Set(L"MailServer", server || row.peer ? L"127.0.0.1" : std::wstring(70, L'n') + L".invalid");
        key.Set(L"MailPort", row.port ? row.port : std::to_wstring(port));
        if (row.security) key.Set(L"MailSecurity", row.security);
        else key.Delete(L"MailSecurity");
        if (row.mode) { ASSERT_TRUE(oracle.Mode(row.mode)); }
        const auto typed = [&](HWND hWnd, CSendMessageDlg& dialog) {
            Fill(hWnd);
            ASSERT_TRUE(Send(hWnd, dialog));
            if (row.result != IDABORT) return;
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hWnd, IDC_SEND_BUTTON)));
            EXPECT_EQ(WindowText(GetDlgItem(hWnd, IDC_SEND_TEXT)), L"No llegan los mensajes.\r\n.punto inicial\r\nfin");
        };
        EXPECT_EQ(Run(typed, kList, row.deadline), row.result);
        ASSERT_EQ(boxes.boxes.size(), row.box.empty() ? 0u : 1u);
        if (!row.box.empty()) {
            const std::string& text = boxes.boxes[0].text;
            EXPECT_LE(text.size(), 512u);
            if (row.exact) EXPECT_EQ(text, row.box);
            else EXPECT_TRUE(text.rfind(row.box, 0) == 0 && text.size() > row.box.size() + 2) << text;
            EXPECT_EQ(boxes.boxes[0].caption, "ATENCION");
            EXPECT_EQ(boxes.boxes[0].flags, 16u);
        }
        if (server) { EXPECT_NE(server->Transcript().find(row.sent), std::string::npos); }
        if (!row.peer) continue;
        auto last = oracle.Last();
        EXPECT_EQ(last["verbs"].substr(0, row.sent.size()), row.sent);
        if (row.mode && row.result != IDOK) { EXPECT_EQ(last["verbs"].find("AUTH"), std::string::npos); }
        if (row.result != IDOK) continue;
        EXPECT_EQ(last["auth_tls"], "1");
        EXPECT_EQ(last["tls"], "1");
        EXPECT_EQ(last["rcpt_tos"], "soporte@arnet.com.ar");
    }
}

// The server neither answers EHLO nor closes, whatever the client does.
TEST_F(SendDialog, CancelEndsAStalledSessionAtOnceAndNoClickSendsAgain)
{
    std::atomic<bool> asked{false};
    CGate release;
    CScriptedServer server([&](CScriptPeer& peer) {
        peer.Send("220 hola\r\n");
        asked = !peer.ReadLine().empty();
        release.Wait();
    });
    key.Set(L"MailPort", std::to_wstring(server.Port()));
    EXPECT_EQ(Run([&](HWND hWnd, CSendMessageDlg& dialog) {
                  Fill(hWnd);
                  Click(hWnd, IDC_SEND_BUTTON);
                  ASSERT_TRUE(dialog.IsSending());
                  ASSERT_TRUE(PumpUntil([&] { return asked.load(); }));
                  // The dialog answers while the session waits; clicks and keys are refused.
                  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hWnd, IDC_SEND_TEXT)));
                  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hWnd, IDC_SEND_BUTTON)));
                  EXPECT_TRUE(SendMessageW(hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hWnd), HTCLIENT));
                  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
                  PostMessageW(hWnd, WM_COMMAND, IDC_SEND_BUTTON, 0);
                  Click(hWnd, IDC_SEND_BUTTON);
                  EXPECT_TRUE(PumpUntil([] { return true; }));
                  const auto start = std::chrono::steady_clock::now();
                  Click(hWnd, IDCANCEL);
                  // The worker ended: the dialog lets one go only after three seconds.
                  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
                  EXPECT_FALSE(dialog.IsSending());
                  PumpUntil([] { return true; });
                  EXPECT_FALSE(dialog.IsSending());
                  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hWnd, IDC_SEND_TEXT)));
                  EXPECT_EQ(WindowText(GetDlgItem(hWnd, IDC_SEND_CONTACT)), L"Juan Pérez");
              }),
              IDABORT);
    release.Open();
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(server.Transcript().rfind("EHLO ", 0), 0u);
}

TEST_F(SendDialog, DeliversToTheRealPeerAfterARefusedConnection)
{
    const int port = EnvPort("NOTELIA_SMTP_PORT");
    ASSERT_NE(port, 0) << "run through smtp_peer.py";
    key.Set(L"MailPort", std::to_wstring(ClosedPort()));
    EXPECT_EQ(Run([&](HWND hWnd, CSendMessageDlg& dialog) {
                  Fill(hWnd);
                  ASSERT_TRUE(Send(hWnd, dialog));
                  ASSERT_EQ(boxes.boxes.size(), 1u);
                  key.Set(L"MailPort", std::to_wstring(port));
                  ASSERT_TRUE(Send(hWnd, dialog));
              }),
              IDOK);
    // The refused connection's box names the system's error.
    EXPECT_EQ(boxes.boxes[0].text.rfind("(10061) - ", 0), 0u) << boxes.boxes[0].text;
    EXPECT_GT(boxes.boxes[0].text.size(), 10u);

    COracle oracle;
    ASSERT_TRUE(oracle.Ok());
    auto last = oracle.Last();
    EXPECT_EQ(last["mail_from"], "usuario@quorvexnet.com.ar");
    EXPECT_EQ(last["rcpt_tos"], "soporte@arnet.com.ar");
    EXPECT_EQ(last["from_name"], "Usuario.QuorvexNet");
    EXPECT_EQ(last["subject"], "Consulta técnica: conexión");
    EXPECT_EQ(last["content_type"], "text/plain");
    EXPECT_EQ(last["charset"], "iso-8859-1");
    EXPECT_EQ(last["body"], "Usuario: Ferretería Núñez\r\nDireccion: Av. Güemes 1234\r\nKitId: " + kKitId +
                                "\r\nTelefono: 4555-1234\r\nContacto: Juan Pérez\r\ne-mail: usuario@quorvexnet.com.ar"
                                "\r\n\r\nNo llegan los mensajes.\r\n.punto inicial\r\nfin\r\n");
}

// The close command, and the end of the Windows session (whose handler then releases Windows
// Sockets), stop the dialog's session first.
TEST_F(SendDialog, ClosingTheProgramOrTheSessionStopsARunningSessionFirst)
{
    for (const auto& [name, value] : {std::pair{L"Font", L"Arial"}, {L"FontSize", L"100"}, {L"IsBold", L"No"},
                                      {L"IsItalic", L"No"}})
        key.Set(name, value);
    ScopedWorkDir dir;
    ScriptedBoxes yes({}, IDYES);  // both close questions, and the fetch's box without "RemoteHost"
    for (const bool sessionEnds : {false, true}) {
        std::atomic<bool> asked{false};
        CGate release;  // the server neither answers nor closes until then
        CScriptedServer server([&](CScriptPeer& peer) {
            peer.Send("220 hola\r\n");
            asked = !peer.ReadLine().empty();
            release.Wait();
        });
        auto* frame = new CMainFrame;
        ASSERT_TRUE(frame->LoadFrame(IDR_MAINFRAME, CMainFrame::kFrameStyle));
        const HWND hFrame = frame->Handle();
        CSendMessageDlg* running = nullptr;
        bool sendingAtRelease = true;
        frame->SetSessionEndHandler([&] { sendingAtRelease = running->IsSending(); });
        const auto previous = SetModalDialogHandler([&](CDialog& opened, HWND parent) {
            running = &static_cast<CSendMessageDlg&>(opened);
            key.Set(L"MailPort", std::to_wstring(server.Port()));
            return opened.RunModalWithScript(parent, [&](HWND hWnd) {
                Fill(hWnd);
                Click(hWnd, IDC_SEND_BUTTON);
                ASSERT_TRUE(PumpUntil([&] { return asked.load(); }));
                const auto start = std::chrono::steady_clock::now();
                if (sessionEnds) {
                    SendMessageW(hFrame, WM_ENDSESSION, TRUE, 0);
                    EXPECT_FALSE(sendingAtRelease);
                } else {
                    SendMessageW(hFrame, WM_COMMAND, ID_APP_EXIT, 0);
                    EXPECT_TRUE(IsWindow(hFrame));  // not while the dialog's loop runs on the frame's stack
                }
                // The worker ended rather than being let go after three seconds.
                EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
            });
        });
        SendMessageW(hFrame, WM_COMMAND, ID_FILE_SEND, 0);
        SetModalDialogHandler(previous);
        // After the session's end the frame stays until the system ends the process.
        if (sessionEnds) DestroyWindow(hFrame);
        EXPECT_TRUE(PumpUntil([&] { return !IsWindow(hFrame); }));
        release.Open();
        EXPECT_EQ(server.Transcript().rfind("EHLO ", 0), 0u);
    }
}
