#include "mail/MailConnection.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "mail/Base64Coder.h"
#include "mail/MailCoders.h"
#include "mail/MailPlatform.h"

namespace {

std::string Printf(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// Letters, digits, hyphens and dots only: anything else could end the command line.
bool IsPlainHostName(const std::string& name)
{
    if (name.empty()) return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// The code at the start of a reply line: its first three characters, all digits. A line
// without one never counts as any expected reply.
bool ParseCode(const char* line, std::size_t length, int& code)
{
    if (length < 3) return false;
    for (std::size_t i = 0; i < 3; ++i)
        if (line[i] < '0' || line[i] > '9') return false;
    code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    return true;
}

constexpr int kErrorOperationAborted = 995;  // ERROR_OPERATION_ABORTED

constexpr char kNoStartTls[] = "El servidor de correo no ofrece una conexión segura (STARTTLS); no se envió el mensaje.";
constexpr char kStartTlsRefused[] = "El servidor de correo rechazó la conexión segura (STARTTLS); no se envió el "
                                    "mensaje. Respuesta del servidor: ";

// An EHLO reply line that names the extension, after its code and separator.
bool OffersStartTls(std::string_view reply)
{
    for (std::size_t at = 0; at < reply.size();) {
        std::size_t end = reply.find("\r\n", at);
        if (end == std::string_view::npos) end = reply.size();
        const std::string_view line = reply.substr(at, end - at);
        if (line.size() >= 12 && line.substr(0, 3) == "250" && (line[3] == '-' || line[3] == ' ') &&
            EqualsNoCase(line.substr(4), "STARTTLS"))
            return true;
        at = end + 2;
    }
    return false;
}

} // namespace

CMailConnection::~CMailConnection()
{
    if (Connected) Disconnect(true);
    CloseSocket();
}

bool CMailConnection::CreateSocket()
{
    std::lock_guard<std::mutex> guard(m_SocketLock);
    return m_Socket.Create();
}

void CMailConnection::CloseSocket()
{
    std::lock_guard<std::mutex> guard(m_SocketLock);
    m_Socket.Close();
}

void CMailConnection::Abort()
{
    std::lock_guard<std::mutex> guard(m_SocketLock);
    m_bAborted = true;
    // Shut down rather than closed: the session's own thread closes it.
    m_Socket.Shutdown();
}

void CMailConnection::Report(const char* format, int error)
{
    SetMailLastError(error);
    NotifyError(Printf(format, error));
    SetMailLastError(error);
}

bool CMailConnection::SendText(std::string_view text)
{
    if (m_bAborted) {
        SetMailLastError(kErrorOperationAborted);
        return false;
    }
    return m_Socket.Send(text.data(), text.size());
}

void CMailConnection::DisconnectKeepingReply()
{
    const std::string text = LastReplyText;
    const int code = LastReplyCode;
    const int error = MailLastError();
    Disconnect(true);
    LastReplyText = text;
    LastReplyCode = code;
    SetMailLastError(error);
}

bool CMailConnection::Connect(const std::string& server, int method, const std::string& userName,
                              const std::string& password, int port, const std::string& localAddress)
{
    if (Connected) Disconnect(true);
    m_strServer = server;
    m_strSecurityFailure.clear();
    if (!CreateSocket()) {
        Report("CMailConnection::Connect, Failed to create client socket, GetLastError returns: %d\n", MailLastError());
        return false;
    }
    if (!m_Socket.Connect(server.c_str(), static_cast<std::uint16_t>(port), localAddress.c_str()) || m_bAborted) {
        const int error = m_bAborted ? kErrorOperationAborted : MailLastError();
        if (!localAddress.empty())
            NotifyError(Printf("CMailConnection::Connect, Could not connect to the SMTP server %s on port %d from "
                               "LocalAddress:%s, GetLastError returns: %d",
                               server.c_str(), port, localAddress.c_str(), error));
        else
            NotifyError(Printf("CMailConnection::Connect, Could not connect to the SMTP server %s on port %d, "
                               "GetLastError returns: %d",
                               server.c_str(), port, error));
        SetMailLastError(error);
        return false;
    }
    Connected = true;

    if (Security == ImplicitTls && !SecureSocket()) {
        NotifyError("CMailConnection::Connect, The TLS handshake with the SMTP server failed");
        DisconnectKeepingReply();
        return false;
    }
    if (!AwaitReply(220, false)) {
        NotifyError("CMailConnection::Connect, An unexpected SMTP login response was received");
        DisconnectKeepingReply();
        return false;
    }

    if (HelloHostName == "auto") {
        HelloHostName = LocalHostName();
        if (!IsPlainHostName(HelloHostName)) HelloHostName = "localhost";
    }

    // Only EHLO learns whether STARTTLS is offered.
    const bool extended = method != None || Security == StartTlsRequired;
    const bool ok = extended ? ConnectESMTP(HelloHostName, userName, password, method) : ConnectSMTP(HelloHostName);
    if (!ok) {
        DisconnectKeepingReply();
        NotifyError("CMailConnection::Connect, An unexpected HELO/EHLO response was received");
        return false;
    }
    return true;
}

bool CMailConnection::ConnectSMTP(const std::string& name)
{
    if (!SendText("HELO " + name + "\r\n")) {
        NotifyError("CMailConnection::ConnectSMTP, An unexpected error occurred while sending the HELO command");
        return false;
    }
    return AwaitReply(250, false);
}

bool CMailConnection::ConnectESMTP(const std::string& name, const std::string& userName, const std::string& password,
                                   int method)
{
    if (!SendText("EHLO " + name + "\r\n")) {
        NotifyError("CMailConnection::ConnectESMTP, An unexpected error occurred while sending the EHLO command");
        return false;
    }
    if (!AwaitReply(250, true)) {
        NotifyError("CMailConnection::ConnectESMTP, An unexpected response was received occurred while sending the "
                    "EHLO command");
        return false;
    }
    if (!m_Socket.Secure() && Security != ImplicitTls) {
        if (OffersStartTls(LastReplyText)) {
            if (!StartTls(name)) return false;
        } else if (Security == StartTlsRequired) {
            NotifyError("CMailConnection::ConnectESMTP, The SMTP server does not offer STARTTLS");
            return FailSecurity(kNoStartTls);
        }
    }
    switch (method) {
    case None: return true;
    case Login: return AuthLogin(userName, password);
    case LoginPlain: return AuthLoginPlain(userName, password);
    default: return false;
    }
}

bool CMailConnection::StartTls(const std::string& name)
{
    if (!SendText("STARTTLS\r\n")) {
        NotifyError("CMailConnection::StartTls, An unexpected error occurred while sending the STARTTLS command");
        return false;
    }
    if (!AwaitReply(220, false)) {
        NotifyError("CMailConnection::StartTls, The SMTP server refused STARTTLS");
        // A refusal, not a lost connection: as if it had not been offered.
        if (Security != StartTlsRequired && !m_bAborted && MailLastError() == kErrorProtocol) return true;
        return FailSecurity(kStartTlsRefused + LastReplyText);
    }
    // Whatever came with or after the 220 ends with that reply's buffer: nothing read in clear
    // is taken as a reply inside TLS.
    if (!SecureSocket()) {
        NotifyError("CMailConnection::StartTls, The TLS handshake with the SMTP server failed");
        return false;
    }
    if (!SendText("EHLO " + name + "\r\n")) {
        NotifyError("CMailConnection::StartTls, An unexpected error occurred while sending the EHLO command");
        return false;
    }
    if (!AwaitReply(250, true)) {
        NotifyError("CMailConnection::StartTls, An unexpected response was received to the EHLO command");
        return false;
    }
    return true;
}

bool CMailConnection::SecureSocket()
{
    if (m_Socket.StartTls(m_strServer, ReplyTimeout) && !m_bAborted) return true;
    if (m_bAborted) SetMailLastError(kErrorOperationAborted);
    else FailSecurity(m_Socket.TlsFailureText());
    return false;
}

bool CMailConnection::FailSecurity(const std::string& text)
{
    const int error = MailLastError();
    m_strSecurityFailure = text;
    SetMailLastError(error);
    return false;
}

namespace {
std::string Prompt(const std::string& reply)
{
    return reply.size() < 4 ? std::string() : reply.substr(4);
}
} // namespace

bool CMailConnection::AuthLogin(const std::string& userName, const std::string& password)
{
    CBase64Coder coder;
    if (!SendText("AUTH LOGIN\r\n")) {
        NotifyError("CMailConnection::AuthLogin, An unexpected error occurred while sending the AUTH command");
        return false;
    }
    if (!AwaitReply(334, false)) {
        NotifyError("CMailConnection::AuthLogin, Server does not support AUTH LOGIN");
        return false;
    }
    coder.DecodeText(Prompt(LastReplyText).c_str());
    if (!EqualsNoCase(reinterpret_cast<const char*>(coder.DecodedData()), "username:")) {
        NotifyError("CMailConnection::AuthLogin, An unexpected request received when expecting username request");
        return false;
    }
    coder.EncodeText(userName.c_str());
    if (!SendText(std::string(coder.EncodedText()) + "\r\n")) {
        NotifyError("CMailConnection::AuthLogin, An unexpected error occurred while sending the username");
        return false;
    }
    if (!AwaitReply(334, false)) {
        NotifyError("CMailConnection::AuthLogin, Server did not respond correctly to AUTH LOGIN username field");
        return false;
    }
    coder.DecodeText(Prompt(LastReplyText).c_str());
    if (!EqualsNoCase(reinterpret_cast<const char*>(coder.DecodedData()), "password:")) {
        NotifyError("CMailConnection::AuthLogin, An unexpected request received when expecting password request");
        return false;
    }
    coder.EncodeText(password.c_str());
    if (!SendText(std::string(coder.EncodedText()) + "\r\n")) {
        NotifyError("CMailConnection::AuthLogin, An unexpected error occurred while sending the password");
        return false;
    }
    if (!AwaitReply(235, false)) {
        NotifyError("CMailConnection::AuthLogin, AUTH LOGIN authentication was unsuccessful");
        return false;
    }
    return true;
}

bool CMailConnection::AuthLoginPlain(const std::string& userName, const std::string& password)
{
    if (!SendText("AUTH LOGIN PLAIN\r\n")) {
        NotifyError("CMailConnection::AuthLoginPlain, An unexpected error occurred while sending the AUTH command");
        return false;
    }
    if (!AwaitReply(334, false)) {
        NotifyError("CMailConnection::AuthLoginPlain, Server does not support AUTH LOGIN PLAIN");
        return false;
    }
    if (EqualsNoCase(Prompt(LastReplyText), "username:") && !SendText(userName + "\r\n")) {
        NotifyError("CMailConnection::AuthLoginPlain, An unexpected error occurred while sending the username");
        return false;
    }
    if (!AwaitReply(334, false)) {
        NotifyError("CMailConnection::AuthLoginPlain, Server did not response correctly to AUTH LOGIN PLAIN username "
                    "field");
        return false;
    }
    if (!EqualsNoCase(Prompt(LastReplyText), "password:")) return true;
    if (!SendText(password + "\r\n")) {
        NotifyError("CMailConnection::AuthLoginPlain, An unexpected error occurred while sending the password");
        return false;
    }
    if (!AwaitReply(235, false)) {
        NotifyError("CMailConnection::AuthLoginPlain, AUTH LOGIN PLAIN authentication was unsuccessful");
        return false;
    }
    return true;
}

bool CMailConnection::SendMailMessage(CMailMessage& message)
{
    // Refused before anything is sent: such an address would smuggle text into the command.
    bool safe = IsSafeMailAddress(message.From.EmailAddress);
    for (const auto* list : {&message.ToList, &message.CcList, &message.BccList})
        for (const auto& address : *list) safe = safe && IsSafeMailAddress(address.EmailAddress);
    if (!safe) {
        // No reply text: callers show the user their own words for it.
        LastReplyText.clear();
        Report("CMailConnection::SendMessage, An address holds a line break, a NUL or an angle bracket; nothing "
               "was sent",
               kErrorInvalidParameter);
        return false;
    }

    if (!SendText("MAIL FROM:<" + message.From.EmailAddress + ">\r\n")) {
        Report("CMailConnection::SendMessage, Failed in call to send MAIL command, GetLastError returns: %d",
               MailLastError());
        return false;
    }
    if (!AwaitReply(250, false)) {
        Report("CMailConnection::SendMessage, An unexpected MAIL response was received", kErrorBadCommand);
        return false;
    }
    for (const auto* list : {&message.ToList, &message.CcList, &message.BccList})
        for (const auto& address : *list)
            if (!SendRCPTForRecipient(address)) return false;

    if (!SendText("DATA\r\n")) return false;
    if (!AwaitReply(354, false)) {
        Report("CMailConnection::SendMessage, An unexpected DATA response was received", kErrorBadCommand);
        return false;
    }

    // No header line may begin with a lone full stop either.
    if (!SendText(DoubleLeadingDots(message.ComposeHeader()))) {
        Report("CMailConnection::SendMessage, Failed in call to send the header, GetLastError returns: %d",
               MailLastError());
        return false;
    }
    if (!SendText("\r\n")) {
        Report("CMailConnection::SendMessage, Failed in call to send the header / body separator, GetLastError "
               "returns: %d",
               MailLastError());
        return false;
    }

    CMailBodyPart& root = message.RootPart;
    if (root.ChildPartCount() != 0 || message.Mime) {
        if (!SendBodyPart(root, true)) return false;
    } else if (NeedsQuotedPrintable(root.PartText)) {
        // Lines too long for the wire: the header announced quoted-printable.
        if (!SendText(DoubleLeadingDots(QuotedPrintableEncode(UndoubleLeadingDots(root.PartText))))) return false;
    } else {
        // SetPartText leaves the dot of the first line single: it is doubled here.
        if (!root.PartText.empty() && root.PartText[0] == '.' && !SendText(".")) return false;
        if (!SendText(root.PartText)) return false;
    }

    if (!SendText("\r\n.\r\n")) {
        Report("CMailConnection::SendMessage, Failed in call to send end of message indicator, GetLastError "
               "returns: %d",
               MailLastError());
        return false;
    }
    if (!AwaitReply(250, false)) {
        Report("CMailConnection::SendMessage, An unexpected end of message response was received", kErrorBadCommand);
        return false;
    }
    return true;
}

bool CMailConnection::SendRCPTForRecipient(const CMailAddress& address)
{
    if (!SendText("RCPT TO:<" + address.EmailAddress + ">\r\n")) {
        Report("CMailConnection::SendRCPTForRecipient, Failed in call to send RCPT command, GetLastError returns: %d",
               MailLastError());
        return false;
    }
    if (!AwaitReply(250, false)) {
        Report("CMailConnection::SendRCPTForRecipient, An unexpected RCPT response was received", kErrorBadCommand);
        return false;
    }
    return true;
}

bool CMailConnection::SendBodyPart(CMailBodyPart& part, bool isRoot)
{
    bool result = true;
    char* buffer = nullptr;
    std::size_t length = 0;
    auto fail = [&](const char* what) {
        const std::string format =
            std::string("CMailConnection::SendBodyPart, Failed in call to send body parts ") + what +
            ", GetLastError returns: %d";
        Report(format.c_str(), MailLastError());
    };

    if (!isRoot) {
        if (!part.BuildPartHeader(buffer, length)) {
            fail("header");
            return false;
        }
        if (!SendText(std::string_view(buffer, length))) {
            fail("header");
            result = false;
        }
        CMailBodyPart::FreePartBuffer(buffer);
    }

    if (!part.BuildPartBody(buffer, length)) {
        fail("body");
        return false;
    }
    if (length && !SendText(std::string_view(buffer, length))) {
        fail("body");
        result = false;
    }
    CMailBodyPart::FreePartBuffer(buffer);

    for (int i = 0; i < part.ChildPartCount() && result; ++i) result = SendBodyPart(*part.ChildPartAt(i), false);

    if (part.ChildPartCount() != 0) {
        if (!part.BuildPartFooter(buffer, length)) {
            fail("footer");
            return false;
        }
        if (!SendText(std::string_view(buffer, length))) {
            fail("footer");
            result = false;
        }
        CMailBodyPart::FreePartBuffer(buffer);
    }
    return result;
}

bool CMailConnection::Disconnect(bool graceful)
{
    bool result = false;
    if (Connected) {
        if (graceful) {
            if (!SendText("QUIT\r\n"))
                Report("CMailConnection::Disconnect, Failed in call to send QUIT command, GetLastError returns: %d",
                       MailLastError());
            result = AwaitReply(221, false);
            if (!result)
                Report("CMailConnection::Disconnect, An unexpected QUIT response was received", kErrorBadCommand);
        }
        Connected = false;
    } else {
        NotifyError("CMailConnection::Disconnect, Already disconnected from SMTP server, doing nothing");
    }
    CloseSocket();
    return result;
}

bool CMailConnection::AwaitReply(int expectedCode, bool final250)
{
    char first[256];
    std::unique_ptr<char[]> larger;
    return ReadResponse(first, sizeof first, "\r\n", expectedCode, larger, 4096, final250);
}

bool CMailConnection::ReadResponse(char* buffer, std::size_t capacity, const char* terminator, int expectedCode,
                                   std::unique_ptr<char[]>& larger, std::size_t growth, bool final250)
{
    const std::size_t endLength = std::strlen(terminator);
    char* current = buffer;
    std::size_t received = 0;
    std::size_t searched = 0;  // "250 " cannot start before this position
    bool seen250 = false;
    m_nReplyCapacity = capacity;
    current[0] = 0;

    for (;;) {
        bool readable = false;
        if (m_bAborted || !m_Socket.WaitReadable(readable, ReplyTimeout)) {
            const int error = m_bAborted ? kErrorOperationAborted : MailLastError();
            LastReplyText.assign(current, received);
            SetMailLastError(error);
            return false;
        }
        if (!readable) {
            LastReplyText.assign(current, received);
            Report("CMailConnection::ReadResponse, Timed Out waiting for response from SMTP server", kErrorTimedOut);
            return false;
        }
        const int got = m_Socket.Receive(current + received, capacity - received - 1);
        if (got <= 0 || m_bAborted) {
            // A peer that closed leaves no error of its own: it must not read as success.
            const int error = m_bAborted ? kErrorOperationAborted : got == 0 ? kErrorConnectionReset : MailLastError();
            LastReplyText.assign(current, received);
            SetMailLastError(error);
            return false;
        }
        received += static_cast<std::size_t>(got);
        current[received] = 0;

        if (received > kMaxReplyLength) {
            LastReplyText.assign(current, received);
            Report("CMailConnection::ReadResponse, The response from the SMTP server is longer than 1 MiB",
                   kErrorProtocol);
            return false;
        }

        if (received == capacity - 1) {
            // At least the growth step, else doubling: a long reply costs linear copying.
            const std::size_t grown = capacity + (capacity > growth ? capacity : growth);
            std::unique_ptr<char[]> next(new char[grown]);
            std::memcpy(next.get(), current, received + 1);
            larger = std::move(next);
            current = larger.get();
            capacity = grown;
            m_nReplyCapacity = capacity;
        }

        if (final250 && !seen250) {
            for (; searched + 4 <= received; ++searched) {
                if (std::memcmp(current + searched, "250 ", 4) == 0) {
                    seen250 = true;
                    break;
                }
            }
        }
        const bool ended = received >= endLength && std::memcmp(current + received - endLength, terminator, endLength) == 0;
        if (ended && (!final250 || seen250)) break;
    }

    // Judge the lines from the first: the reply succeeds at the first line with the code.
    // The text is copied once, not once per line.
    const std::string_view text(current, received - endLength);
    const std::string_view end(terminator, endLength);
    std::size_t line = 0;
    for (;;) {
        int code = 0;
        if (ParseCode(text.data() + line, text.size() - line, code)) {
            LastReplyCode = code;
            if (code == expectedCode) break;
        }
        const std::size_t next = endLength ? text.find(end, line) : std::string_view::npos;
        if (next == std::string_view::npos) {
            LastReplyText.assign(text.substr(line));
            SetMailLastError(kErrorProtocol);
            return false;
        }
        line = next + endLength;
    }
    LastReplyText.assign(text.substr(line));
    return true;
}

void CMailConnection::NotifyError(const std::string&)
{
}
