#include "request/SendMessageDlg.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string_view>

#include "app/ErrorReport.h"
#include "app/NetworkErrorText.h"
#include "app/Settings.h"
#include "mail/MailAddress.h"
#include "mail/MailCoders.h"
#include "mail/MailConnection.h"
#include "mail/MailPlatform.h"
#include "res/resource.h"
#include "win/MessageBox.h"
#include "win/TextCodec.h"

namespace {

// Posted by the worker when its session has ended; wParam is the session's number.
constexpr UINT kSessionEnded = WM_APP + 0x138;

constexpr char kSmtpUser[] = "Quorvex\\Pelmar";
constexpr char kSmtpPassword[] = "pXe7302tW";
constexpr char kSenderName[] = "Usuario.QuorvexNet";
constexpr char kDefaultSender[] = "usuario@quorvexnet.com.ar";
constexpr UINT kInfoBoxFlags = MB_OK | MB_ICONINFORMATION;  // 64

constexpr char kNoRecipient[] = "Debe seleccionar el destinatario del mensaje.";
constexpr char kNoContact[] = "El campo 'Contacto' está vacío.\nDebe especificar el nombre de la persona a la que "
                              "se deberá contactar.";
constexpr char kBadSender[] = "La dirección de correo electrónico no es válida.";
constexpr char kBadRecipient[] = "La dirección del destinatario no es válida.";
constexpr char kTimedOut[] = "El servidor de correo no respondió a tiempo; no se envió el mensaje.";
constexpr char kClosed[] = "El servidor de correo cerró la conexión antes de aceptar el mensaje; no se envió el mensaje.";

// The servers (name and port) that completed STARTTLS for this user: from then on a session
// without it sends nothing but QUIT, so that no one on the way can strip it unnoticed.
const std::string kStartTlsSeenKey = std::string(kSettingsKey) + "\\STARTTLS";

std::string ServerValueName(const std::string& server, unsigned short port)
{
    std::string name;
    for (const char c : server) name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return name + ":" + std::to_string(port);
}

bool StartTlsSeen(const std::string& server, unsigned short port)
{
    char seen[8];
    std::uint32_t size = sizeof seen;
    return ReadRegistryString(kStartTlsSeenKey.c_str(), ServerValueName(server, port).c_str(), seen, size,
                              RegistryRoot::User) == 0;
}

void RememberStartTls(const std::string& server, unsigned short port)
{
    // Not stored (a registry that refuses it): the next session is judged as this one was.
    WriteRegistryString(kStartTlsSeenKey.c_str(), ServerValueName(server, port).c_str(), "1", 1, RegistryRoot::User);
}

// "MailSecurity" as provisioned; none means STARTTLS when offered. A value not understood
// sends nothing in clear.
int ReadMailSecurity()
{
    std::string text;
    if (!TryReadSetting("MailSecurity", 20, text) || EqualsNoCase(text, "starttls"))
        return CMailConnection::StartTlsWhenOffered;
    if (EqualsNoCase(text, "tls")) return CMailConnection::ImplicitTls;
    return CMailConnection::StartTlsRequired;
}

// "MailPort", else (missing or empty) the usual port of the security's kind; a value that is
// no port raises -1003.
unsigned short ReadMailPort(int security)
{
    std::string text;
    if (!TryReadSetting("MailPort", 10, text) || text.empty()) return security == CMailConnection::ImplicitTls ? 465 : 25;
    unsigned long port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || port > 65535) throw CCodeException(-1003);
        port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (port == 0 || port > 65535) throw CCodeException(-1003);
    return static_cast<unsigned short>(port);
}

// A stopped session normally ends at once; only a name lookup cannot be interrupted, and the
// user-interface thread never waits longer than this for it.
constexpr auto kStopLimit = std::chrono::seconds(3);

// What a box can show of a server's reply: its first lines, cut with "..." to this length.
constexpr std::size_t kBoxReplyLength = 512;
constexpr int kBoxReplyLines = 8;
constexpr char kCut[] = "...";

std::string BoxReplyText(std::string_view reply)
{
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.remove_suffix(1);
    std::size_t end = 0;
    for (int lines = 0; lines < kBoxReplyLines && end != std::string_view::npos; ++lines)
        end = reply.find("\r\n", lines ? end + 2 : 0);
    std::string text(reply.substr(0, end));
    if (text.size() == reply.size() && text.size() <= kBoxReplyLength) return text;
    // The mark counts in the length too.
    text.resize(std::min(text.size(), kBoxReplyLength - (sizeof kCut - 1)));
    return text + kCut;
}

// The fields a session runs with; the user may not change them meanwhile.
constexpr int kInputs[] = {IDC_SEND_RECIPIENT, IDC_SEND_CONTACT, IDC_SEND_PHONES, IDC_SEND_EMAIL,
                           IDC_SEND_SUBJECT,   IDC_SEND_TEXT,    IDC_SEND_BUTTON};

} // namespace

// Set up on the user-interface thread, then used by the worker alone until it posts its end;
// only the connection's Abort and the end's signal cross over.
struct CSendMessageDlg::Session {
    std::string server;
    unsigned short port = 25;
    int security = CMailConnection::StartTlsWhenOffered;
    std::string sender;
    std::string recipient;
    std::string subject;
    std::string body;
    CMailConnection connection;

    bool connected = false;
    bool sent = false;
    CMailConnection::Failure failure = CMailConnection::Failure::None;
    std::string replyText;
    std::string securityText;
    int lastError = 0;

    void Run()
    {
        connection.Security = security;
        const bool ok = connection.Connect(server, CMailConnection::Login, kSmtpUser, kSmtpPassword, port);
        if (security == CMailConnection::StartTlsWhenOffered && connection.CompletedStartTls())
            RememberStartTls(server, port);
        if (!ok) {
            Fail();
            return;
        }
        connected = true;
        CMailMessage message;
        message.From = CMailAddress(kSenderName, sender);
        CMailAddress to;
        to.ParseMailAddress(recipient);
        message.AppendRecipient(to, CMailMessage::To);
        message.Subject = subject;
        message.SetBodyText(body);
        sent = connection.SendMessage(message);
        if (!sent) Fail();
        connection.Disconnect(true);
    }

    void Fail()
    {
        lastError = MailLastError();
        failure = connection.LastFailure();
        // A reply may be up to 1 MiB: only what the box shows is kept.
        replyText = BoxReplyText(connection.LastReplyText);
        std::string().swap(connection.LastReplyText);
        securityText = connection.GetSecurityFailureText();
    }

    void Finish()
    {
        const std::lock_guard lock(endLock);
        ended = true;
        endSignal.notify_all();
    }

    bool WaitEnd()
    {
        std::unique_lock lock(endLock);
        return endSignal.wait_for(lock, kStopLimit, [this] { return ended; });
    }

    std::mutex endLock;
    std::condition_variable endSignal;
    bool ended = false;

    // What ended the session: the secure channel's failure, the server's words, a time-out
    // or a close; else the system's words for the error.
    std::string FailureText() const
    {
        using Failure = CMailConnection::Failure;
        if (failure == Failure::Security && !securityText.empty()) return securityText;
        if (failure == Failure::Reply && !replyText.empty()) return replyText;
        if (failure == Failure::TimedOut) return kTimedOut;
        if (failure == Failure::Closed) return kClosed;
        // In Spanish, whatever language the system speaks.
        return NumberedNetworkErrorText(static_cast<unsigned long>(lastError));
    }
};

CSendMessageDlg::CSendMessageDlg() : CDialog(IDD_SENDMESSAGE)
{
}

CSendMessageDlg::~CSendMessageDlg()
{
    StopSession();
}

void CSendMessageDlg::Abandon()
{
    StopSession();
    if (Handle()) EndDialog(IDCANCEL);
}

bool CSendMessageDlg::OnInitDialog()
{
    std::string kitId;
    SetDlgItemTextW(Handle(), IDC_SEND_KITID, GetKitId(kitId) ? WidenCp1252(kitId).c_str() : L"");
    // Enter in a single-line field must not send.
    SendMessageW(Handle(), DM_SETDEFID, IDC_SEND_TEXT, 0);

    m_entries = SplitRecipientList(RecipientList);
    const HWND selector = Item(IDC_SEND_RECIPIENT);
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        SendMessageW(selector, CB_INSERTSTRING, i, reinterpret_cast<LPARAM>(WidenCp1252(m_entries[i].name).c_str()));
    SendMessageW(selector, CB_SETCURSEL, m_entries.size() == 1 ? 0 : 1, 0);
    return true;
}

std::string CSendMessageDlg::ControlText(int id) const
{
    const HWND control = Item(id);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return NarrowCp1252(text);
}

bool CSendMessageDlg::OnCommand(UINT id, UINT, HWND)
{
    if (id != IDC_SEND_BUTTON) return false;
    try {
        OnSend();
    } catch (const CCodeException& error) {
        ReportErrorCode(Handle(), error.Code());
        EndDialog(0);
    } catch (...) {
        ReportCaughtError(Handle());
    }
    return true;
}

void CSendMessageDlg::OnSend()
{
    // A click or key that slipped in while a session runs starts no second one.
    if (IsSending()) return;
    const LRESULT selected = SendMessageW(Item(IDC_SEND_RECIPIENT), CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR || static_cast<std::size_t>(selected) >= m_entries.size()) {
        ShowMessageBox(Handle(), kNoRecipient, kErrorCaption, kInfoBoxFlags);
        return;
    }
    const std::string contact = ControlText(IDC_SEND_CONTACT);
    if (contact.empty()) {
        ShowMessageBox(Handle(), kNoContact, kErrorCaption, kInfoBoxFlags);
        return;
    }
    std::string email = ControlText(IDC_SEND_EMAIL);
    if (!IsSafeMailAddress(email)) {
        ShowMessageBox(Handle(), kBadSender, kErrorCaption, kInfoBoxFlags);
        return;
    }
    if (email.empty()) email = kDefaultSender;

    if (!m_bIdentityObtained && GetInstallationIdentity(m_identity)) m_bIdentityObtained = true;
    const std::string server = ReadSetting("MailServer", 100);
    const std::string& recipient = m_entries[static_cast<std::size_t>(selected)].address;
    // An empty one would go out as "RCPT TO:<>".
    if (recipient.empty() || !IsSafeMailAddress(recipient)) {
        ReportErrorText(Handle(), kBadRecipient);
        return;
    }

    int security = ReadMailSecurity();
    const unsigned short port = ReadMailPort(security);
    if (security == CMailConnection::StartTlsWhenOffered && StartTlsSeen(server, port))
        security = CMailConnection::StartTlsSeenBefore;

    auto session = std::make_shared<Session>();
    session->server = server;
    session->port = port;
    session->security = security;
    session->connection.SessionTimeout = SessionTimeout;
    session->sender = email;
    session->recipient = recipient;
    session->subject = ControlText(IDC_SEND_SUBJECT);
    session->body = "Usuario: " + m_identity.holderName + "\nDireccion: " + m_identity.holderAddress +
                    "\nKitId: " + m_identity.kitId + "\nTelefono: " + ControlText(IDC_SEND_PHONES) +
                    "\nContacto: " + contact + "\ne-mail: " + email + "\n\n" + ControlText(IDC_SEND_TEXT);

    m_session = session;
    const WPARAM number = ++m_nSessionNumber;
    const HWND dialog = Handle();
    SetBusy(true);
    m_worker = std::thread([session, dialog, number] {
        try {
            session->Run();
        } catch (const std::exception&) {
            session->lastError = ERROR_NOT_ENOUGH_MEMORY;
        }
        session->Finish();
        PostMessageW(dialog, kSessionEnded, number, 0);
    });
}

void CSendMessageDlg::OnSessionEnded(WPARAM sessionNumber)
{
    // The end of a session stopped by the user arrives after its place was taken.
    if (sessionNumber != m_nSessionNumber || !IsSending()) return;
    m_worker.join();
    const std::shared_ptr<Session> session = std::move(m_session);
    SetBusy(false);
    if (session->sent) {
        EndDialog(IDOK);
        return;
    }
    // Connection refused or mail rejected: the user keeps what was typed and may try again.
    ReportErrorText(Handle(), session->FailureText());
}

void CSendMessageDlg::StopSession()
{
    if (!IsSending()) return;
    m_session->connection.Abort();
    // A worker still inside a name lookup is let go: it holds its own share of the session,
    // and its aborted connection can send nothing once the lookup returns.
    if (m_session->WaitEnd()) m_worker.join();
    else m_worker.detach();
    m_session.reset();
    if (Handle()) SetBusy(false);
}

void CSendMessageDlg::OnCancel()
{
    if (IsSending()) {
        StopSession();
        return;
    }
    EndDialog(IDCANCEL);
}

void CSendMessageDlg::SetBusy(bool busy)
{
    for (const int id : kInputs) EnableWindow(Item(id), !busy);
    SendMessageW(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(busy ? IDCANCEL : IDC_SEND_BUTTON)), TRUE);
}

INT_PTR CSendMessageDlg::DialogProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case kSessionEnded:
        OnSessionEnded(wParam);
        return TRUE;
    case WM_SETCURSOR:
        if (!IsSending()) break;
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        SetWindowLongPtrW(Handle(), DWLP_MSGRESULT, TRUE);
        return TRUE;
    default: break;
    }
    return CDialog::DialogProc(msg, wParam, lParam);
}
