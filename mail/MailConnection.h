// The SMTP client: one TCP connection, the greeting, HELO or EHLO with AUTH LOGIN, messages
// with MAIL, RCPT and DATA, and QUIT. Nothing throws for a protocol failure: each step
// answers false, sets the thread's last error, keeps the server's last reply and hands an
// English text to NotifyError.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "mail/MailMessage.h"
#include "mail/MailSocket.h"

class CMailConnection {
public:
    enum SmtpAuthMethod { None = 0, Login = 2, LoginPlain = 3 };
    // STARTTLS when the EHLO reply offers it (plain otherwise); STARTTLS or nothing but QUIT;
    // TLS from the first byte; STARTTLS or nothing but QUIT because this server completed
    // it before (its own texts: the server no longer offers it).
    enum SmtpSecurity { StartTlsWhenOffered = 0, StartTlsRequired = 1, ImplicitTls = 2, StartTlsSeenBefore = 3 };
    // What ended the last failed step.
    enum class Failure {
        None,
        Reply,     // a reply other than the awaited one: LastReplyText holds the server's words
        TimedOut,  // no reply within ReplyTimeout, or the session's deadline came
        Closed,    // the server closed or reset the connection
        Network,   // creating, connecting, sending or receiving failed: the thread's last error
        Stopped,   // Abort
        Security,  // no secure channel, or it broke: GetSecurityFailureText
        Unsafe,    // an address that could smuggle text into a command; nothing was sent
    };

    // The longest reply accepted; a server that sends more is cut off.
    static constexpr std::size_t kMaxReplyLength = 1u << 20;

    CMailConnection() { m_Socket.WatchStop(&m_stop); }
    CMailConnection(const CMailConnection&) = delete;
    CMailConnection& operator=(const CMailConnection&) = delete;
    // Says QUIT when still connected.
    virtual ~CMailConnection();

    // After a failure GetLastReplyText holds the reply that caused it, not the answer to the
    // QUIT that follows. A socket held from an earlier attempt is closed first.
    bool Connect(const std::string& server, int method, const std::string& userName, const std::string& password,
                 int port = 25, const std::string& localAddress = std::string());
    bool SendMailMessage(CMailMessage& message);
    bool SendMessage(CMailMessage& message) { return SendMailMessage(message); }
    bool Disconnect(bool graceful);
    std::string GetLastReplyText() const { return LastReplyText; }
    // Why no secure session came about, or why it broke, in Spanish for the user; empty when
    // that was not the failure.
    std::string GetSecurityFailureText() const { return m_strSecurityFailure; }
    bool IsSecure() const { return m_Socket.Secure(); }
    // The last Connect secured its session with STARTTLS (it may have failed later).
    bool CompletedStartTls() const { return m_bStartTlsCompleted; }
    Failure LastFailure() const { return m_failure; }

    // May be called from any thread: the session running on another thread fails at once,
    // whatever wait it is in (connect, handshake, reply, room to send), and sends nothing
    // more. For good: a later Connect on this object fails too.
    void Abort() { m_stop.Stop(); }

    bool Connected = false;
    std::string LastReplyText;
    // "auto": the local host name, or "localhost" when that is not a plain host name.
    std::string HelloHostName = "auto";
    unsigned ReplyTimeout = 60000;
    // The whole session, from Connect to the end of Disconnect, ends within this.
    unsigned SessionTimeout = 60000;
    int LastReplyCode = 0;
    int Security = StartTlsWhenOffered;

protected:
    // One complete reply judged against the expected code; with `final250` reading goes on
    // until "250 " has arrived.
    virtual bool AwaitReply(int expectedCode, bool final250);
    virtual bool ReadResponse(char* buffer, std::size_t capacity, const char* terminator, int expectedCode,
                              std::unique_ptr<char[]>& larger, std::size_t growth, bool final250);
    // Receives the text of every failing step; does nothing here.
    virtual void NotifyError(const std::string& text);

    bool ConnectSMTP(const std::string& name);
    bool ConnectESMTP(const std::string& name, const std::string& userName, const std::string& password, int method);
    // STARTTLS and the handshake, then EHLO again; its reply is the one that counts.
    bool StartTls(const std::string& name);
    bool AuthLogin(const std::string& userName, const std::string& password);
    bool AuthLoginPlain(const std::string& userName, const std::string& password);
    bool SendRCPTForRecipient(const CMailAddress& address);
    bool SendBodyPart(CMailBodyPart& part, bool isRoot);

    const CMailSocket& Socket() const { return m_Socket; }
    // Capacity of the buffer that held the last reply.
    std::size_t ReplyBufferCapacity() const { return m_nReplyCapacity; }

private:
    enum class Step { Done, NotSent, Refused };
    // One step of the dialogue: sends `command` (nothing when empty), awaits `code`, and on
    // failure hands its text to NotifyError: `notSent` when the command could not go out,
    // `refused` (when given) when the reply was not the awaited one.
    Step RunStep(std::string_view command, int code, const char* notSent, const char* refused,
                 bool final250 = false);
    // One step of the transaction, awaiting 250: a failure goes to Report, with `notSent`'s
    // format and the send's error, or `refused` and a bad-command error.
    bool TransactionStep(std::string_view command, const char* notSent, const char* refused);
    bool SendText(std::string_view text);
    void DisconnectKeepingReply();
    // NotifyError with `format` (which may hold one %d for `error`); the thread's last error
    // is `error` afterwards, whatever the hook did.
    void Report(const char* format, int error);
    // Records why a wait, send or receive failed; false.
    bool Fail(Failure kind, int error);
    bool FailIo(int error);

    // The handshake for the server given to Connect.
    bool SecureSocket();
    bool FailSecurity(const std::string& text);
    bool MustStartTls() const { return Security == StartTlsRequired || Security == StartTlsSeenBefore; }

    // Made before the socket that watches it and gone after it.
    net::CStopSignal m_stop;
    CMailSocket m_Socket;
    std::string m_strServer;
    std::string m_strSecurityFailure;
    std::size_t m_nReplyCapacity = 0;
    Failure m_failure = Failure::None;
    bool m_bStartTlsCompleted = false;
};
