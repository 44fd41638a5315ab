#include "mail/MailConnection.h"

#include <chrono>
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

constexpr char kNoStartTls[] = "El servidor de correo no ofrece una conexión segura (STARTTLS); no se envió el mensaje.";
constexpr char kStartTlsRefused[] = "El servidor de correo rechazó la conexión segura (STARTTLS); no se envió el "
                                    "mensaje. Respuesta del servidor: ";
// A server that completed STARTTLS before: someone on the way may be removing it.
constexpr char kNoLongerStartTls[] = "El servidor de correo ya no ofrece la conexión segura (STARTTLS) que ofrecía "
                                     "antes; no se envió el mensaje.";
constexpr char kReplyWas[] = " Respuesta del servidor: ";
constexpr char kChannelBroken[] = "Se interrumpió la conexión segura con el servidor de correo";

// Security statuses in hexadecimal, as the system documents them; socket errors in decimal.
std::string ChannelBrokenText(int error)
{
    const auto code = static_cast<unsigned long>(static_cast<unsigned>(error));
    return Printf(code > 0xFFFF ? "%s (error 0x%08lX)." : "%s (error %lu).", kChannelBroken, code);
}

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
    m_Socket.Close();
}

bool CMailConnection::Fail(Failure kind, int error)
{
    m_failure = kind;
    SetMailLastError(error);
    return false;
}

bool CMailConnection::FailIo(int error)
{
    if (m_stop.IsStopped()) return Fail(Failure::Stopped, kErrorOperationAborted);
    if (net::IsTimedOut(error)) return Fail(Failure::TimedOut, kErrorTimedOut);
    if (net::IsConnectionLost(error)) return Fail(Failure::Closed, error);
    if (m_Socket.Secure()) {
        // Its own words: the system has none for most security statuses.
        m_strSecurityFailure = ChannelBrokenText(error);
        return Fail(Failure::Security, error);
    }
    return Fail(Failure::Network, error);
}

void CMailConnection::Report(const char* format, int error)
{
    SetMailLastError(error);
    NotifyError(Printf(format, error));
    SetMailLastError(error);
}

bool CMailConnection::SendText(std::string_view text)
{
    if (m_stop.IsStopped()) return Fail(Failure::Stopped, kErrorOperationAborted);
    return m_Socket.Send(text.data(), text.size()) || FailIo(MailLastError());
}

CMailConnection::Step CMailConnection::RunStep(std::string_view command, int code, const char* notSent,
                                               const char* refused, bool final250)
{
    if (!command.empty() && !SendText(command)) {
        NotifyError(notSent);
        return Step::NotSent;
    }
    if (AwaitReply(code, final250)) return Step::Done;
    if (refused) NotifyError(refused);
    return Step::Refused;
}

void CMailConnection::DisconnectKeepingReply()
{
    const std::string text = LastReplyText;
    const int code = LastReplyCode;
    const int error = MailLastError();
    const Failure failure = m_failure;
    Disconnect(true);
    LastReplyText = text;
    LastReplyCode = code;
    m_failure = failure;
    SetMailLastError(error);
}

bool CMailConnection::Connect(const std::string& server, int method, const std::string& userName,
                              const std::string& password, int port, const std::string& localAddress)
{
    if (Connected) Disconnect(true);
    m_strServer = server;
    m_strSecurityFailure.clear();
    m_failure = Failure::None;
    m_bStartTlsCompleted = false;
    m_Socket.SetDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(SessionTimeout));
    if (!m_Socket.Create()) {
        FailIo(MailLastError());
        Report("CMailConnection::Connect, Failed to create client socket, GetLastError returns: %d\n", MailLastError());
        return false;
    }
    if (!m_Socket.Connect(server.c_str(), static_cast<std::uint16_t>(port), localAddress.c_str())) {
        FailIo(MailLastError());
        const int error = MailLastError();
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
    const bool extended = method != None || MustStartTls();
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
    return RunStep("HELO " + name + "\r\n", 250,
                   "CMailConnection::ConnectSMTP, An unexpected error occurred while sending the HELO command",
                   nullptr) == Step::Done;
}

bool CMailConnection::ConnectESMTP(const std::string& name, const std::string& userName, const std::string& password,
                                   int method)
{
    if (RunStep("EHLO " + name + "\r\n", 250,
                "CMailConnection::ConnectESMTP, An unexpected error occurred while sending the EHLO command",
                "CMailConnection::ConnectESMTP, An unexpected response was received occurred while sending the EHLO "
                "command",
                true) != Step::Done)
        return false;
    if (!m_Socket.Secure() && Security != ImplicitTls) {
        if (OffersStartTls(LastReplyText)) {
            if (!StartTls(name)) return false;
        } else if (MustStartTls()) {
            NotifyError("CMailConnection::ConnectESMTP, The SMTP server does not offer STARTTLS");
            return FailSecurity(Security == StartTlsSeenBefore ? kNoLongerStartTls : kNoStartTls);
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
    const Step step =
        RunStep("STARTTLS\r\n", 220,
                "CMailConnection::StartTls, An unexpected error occurred while sending the STARTTLS command",
                "CMailConnection::StartTls, The SMTP server refused STARTTLS");
    if (step == Step::NotSent) return false;
    if (step == Step::Refused) {
        // A time-out or a lost connection tells its own cause.
        if (m_failure != Failure::Reply) return false;
        // A refusal of what was only offered: as if it had not been.
        if (!MustStartTls()) {
            m_failure = Failure::None;
            return true;
        }
        return FailSecurity((Security == StartTlsSeenBefore ? std::string(kNoLongerStartTls) + kReplyWas
                                                            : std::string(kStartTlsRefused)) +
                            LastReplyText);
    }
    // Whatever came with or after the 220 ends with that reply's buffer: nothing read in clear
    // is taken as a reply inside TLS.
    if (!SecureSocket()) {
        NotifyError("CMailConnection::StartTls, The TLS handshake with the SMTP server failed");
        return false;
    }
    m_bStartTlsCompleted = true;
    return RunStep("EHLO " + name + "\r\n", 250,
                   "CMailConnection::StartTls, An unexpected error occurred while sending the EHLO command",
                   "CMailConnection::StartTls, An unexpected response was received to the EHLO command",
                   true) == Step::Done;
}

bool CMailConnection::SecureSocket()
{
    if (m_Socket.StartTls(m_strServer, ReplyTimeout)) return true;
    if (m_stop.IsStopped()) return Fail(Failure::Stopped, kErrorOperationAborted);
    return FailSecurity(m_Socket.TlsFailureText());
}

bool CMailConnection::FailSecurity(const std::string& text)
{
    m_strSecurityFailure = text;
    return Fail(Failure::Security, MailLastError());
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
    if (RunStep("AUTH LOGIN\r\n", 334,
                "CMailConnection::AuthLogin, An unexpected error occurred while sending the AUTH command",
                "CMailConnection::AuthLogin, Server does not support AUTH LOGIN") != Step::Done)
        return false;
    coder.DecodeText(Prompt(LastReplyText).c_str());
    if (!EqualsNoCase(reinterpret_cast<const char*>(coder.DecodedData()), "username:")) {
        NotifyError("CMailConnection::AuthLogin, An unexpected request received when expecting username request");
        return false;
    }
    coder.EncodeText(userName.c_str());
    if (RunStep(std::string(coder.EncodedText()) + "\r\n", 334,
                "CMailConnection::AuthLogin, An unexpected error occurred while sending the username",
                "CMailConnection::AuthLogin, Server did not respond correctly to AUTH LOGIN username field") !=
        Step::Done)
        return false;
    coder.DecodeText(Prompt(LastReplyText).c_str());
    if (!EqualsNoCase(reinterpret_cast<const char*>(coder.DecodedData()), "password:")) {
        NotifyError("CMailConnection::AuthLogin, An unexpected request received when expecting password request");
        return false;
    }
    coder.EncodeText(password.c_str());
    return RunStep(std::string(coder.EncodedText()) + "\r\n", 235,
                   "CMailConnection::AuthLogin, An unexpected error occurred while sending the password",
                   "CMailConnection::AuthLogin, AUTH LOGIN authentication was unsuccessful") == Step::Done;
}

bool CMailConnection::AuthLoginPlain(const std::string& userName, const std::string& password)
{
    if (RunStep("AUTH LOGIN PLAIN\r\n", 334,
                "CMailConnection::AuthLoginPlain, An unexpected error occurred while sending the AUTH command",
                "CMailConnection::AuthLoginPlain, Server does not support AUTH LOGIN PLAIN") != Step::Done)
        return false;
    // The user name only when asked for; the second prompt is awaited either way.
    const bool asked = EqualsNoCase(Prompt(LastReplyText), "username:");
    if (RunStep(asked ? userName + "\r\n" : std::string(), 334,
                "CMailConnection::AuthLoginPlain, An unexpected error occurred while sending the username",
                "CMailConnection::AuthLoginPlain, Server did not response correctly to AUTH LOGIN PLAIN username "
                "field") != Step::Done)
        return false;
    if (!EqualsNoCase(Prompt(LastReplyText), "password:")) return true;
    return RunStep(password + "\r\n", 235,
                   "CMailConnection::AuthLoginPlain, An unexpected error occurred while sending the password",
                   "CMailConnection::AuthLoginPlain, AUTH LOGIN PLAIN authentication was unsuccessful") == Step::Done;
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
    m_Socket.Close();
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
        if (!m_Socket.WaitReadable(readable, ReplyTimeout)) {
            LastReplyText.assign(current, received);
            return FailIo(MailLastError());
        }
        if (!readable) {
            // This wait's time, or the whole session's.
            LastReplyText.assign(current, received);
            m_failure = Failure::TimedOut;
            Report("CMailConnection::ReadResponse, Timed Out waiting for response from SMTP server", kErrorTimedOut);
            return false;
        }
        const int got = m_Socket.Receive(current + received, capacity - received - 1);
        if (got <= 0) {
            LastReplyText.assign(current, received);
            // A peer that closed leaves no error of its own: it must not read as success. What
            // it said before is its last word.
            if (got == 0 && !m_stop.IsStopped())
                return Fail(received ? Failure::Reply : Failure::Closed, kErrorConnectionReset);
            return FailIo(MailLastError());
        }
        received += static_cast<std::size_t>(got);
        current[received] = 0;

        if (received > kMaxReplyLength) {
            LastReplyText.assign(current, received);
            m_failure = Failure::Reply;
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
            return Fail(Failure::Reply, kErrorProtocol);
        }
        line = next + endLength;
    }
    LastReplyText.assign(text.substr(line));
    return true;
}

void CMailConnection::NotifyError(const std::string&)
{
}
