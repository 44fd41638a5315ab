// The SMTP client against scripted servers: faults on demand, silent and dripping peers.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mail/Base64Coder.h"
#include "mail/MailCoders.h"
#include "mail/MailConnection.h"
#include "mail/MailPlatform.h"
#include "tests/mail/MailTestText.h"
#include "tests/support/ScriptedServer.h"

using testing_support::CScriptedServer;
using testing_support::CScriptPeer;

namespace {

class TestConnection : public CMailConnection {
public:
    std::vector<std::string> Replies;  // LastReplyText after each awaited reply
    std::vector<std::size_t> Capacities;
    std::vector<std::string> Notices;  // the error hook's texts

    MailSocketHandle Handle() const { return Socket().Handle(); }

protected:
    bool AwaitReply(int expectedCode, bool final250) override
    {
        const bool ok = CMailConnection::AwaitReply(expectedCode, final250);
        const int error = MailLastError();
        Replies.push_back(LastReplyText);
        Capacities.push_back(ReplyBufferCapacity());
        SetMailLastError(error);
        return ok;
    }
    void NotifyError(const std::string& text) override { Notices.push_back(text); }
};

std::string B64(const std::string& text)
{
    CBase64Coder coder;
    coder.EncodeText(text.c_str());
    return coder.EncodedText();
}

// Sends `replies` in turn, the first at once, each later one after a line from the client;
// then answers QUIT and waits for the close.
CScriptedServer::Script Replying(std::vector<std::string> replies, bool quit = true)
{
    return [replies, quit](CScriptPeer& peer) {
        for (std::size_t i = 0; i < replies.size(); ++i) {
            if (i) peer.ReadLine();
            peer.Send(replies[i]);
        }
        if (!quit) return;
        if (peer.ReadLine() == "QUIT") peer.Send("221 Bye\r\n");
        peer.WaitClose();
    };
}

std::string BlankLines(std::size_t count)
{
    std::string lines;
    for (std::size_t i = 0; i < count; ++i) lines += "\r\n";
    return lines;
}

const std::string kLogin[] = {"220 hola\r\n", "250 ok\r\n", "334 " + B64("Username:") + "\r\n",
                              "334 " + B64("Password:") + "\r\n"};

} // namespace

TEST(ScriptedSmtp, RefusalsAndOddReplies)
{
    const struct {
        const char* name;
        std::vector<std::string> replies;
        int method;
        bool send;      // SendMessage after a successful Connect
        bool ok;        // the last call's answer
        std::string reply;  // start of GetLastReplyText
        int error;      // last error, 0 unchecked
        std::string sent;   // in the transcript
        std::string notSent;
        const char* notice = "";  // the first text of the error hook
        bool quit = true;
        unsigned timeout = 60000;
        int security = CMailConnection::StartTlsWhenOffered;
    } rows[] = {
        {"greeting 554", {"554 no hay servicio\r\n"}, 2, false, false, "554 no hay servicio", 0, "QUIT", "EHLO"},
        {"EHLO 550 without 250", {"220 hola\r\n", "550 no te conozco\r\n"}, 2, false, false, "550 no te conozco",
         10060, "EHLO puesto-7.cliente\r\nQUIT", "HELO", "", true, 300},
        {"RCPT 251", {"220 hola\r\n", "250 ok\r\n", "250 ok\r\n", "251 User not local\r\n"}, 0, true, false,
         "251 User not local", 22, "QUIT", "DATA"},
        {"password 535", {kLogin[0], kLogin[1], kLogin[2], kLogin[3], "535 5.7.8 credenciales\r\n"}, 2, false, false,
         "535 5.7.8 credenciales", 0, B64("clave") + "\r\nQUIT", "",
         "CMailConnection::AuthLogin, AUTH LOGIN authentication was unsuccessful"},
        {"prompt not username", {kLogin[0], kLogin[1], "334 " + B64("User Name") + "\r\n"}, 2, false, false, "", 0,
         "AUTH LOGIN\r\nQUIT", B64("usuario"),
         "CMailConnection::AuthLogin, An unexpected request received when expecting username request"},
        // A peer that closes gives a real error, never 0.
        {"closed within a reply", {"220 hola\r\n", "250-a medias\r\n250 "}, 2, false, false, "250-a medias\r\n250 ",
         10054, "EHLO", "", "", false},
        {"accepts and closes", {}, 2, false, false, "", 10054, "", "EHLO", "", false},
        {"closes after EHLO", {"220 hola\r\n", ""}, 2, false, false, "", 10054, "EHLO", "AUTH", "", false},
        {"two-line 220 awaited as 250", {"220-uno\r\n220 dos\r\n", "220-tres\r\n220 cuatro\r\n"}, 0, false, false,
         "220 cuatro", 10043, "QUIT", ""},
        {"method 1", {"220 hola\r\n", "250-x\r\n250 AUTH LOGIN\r\n"}, 1, false, false, "250-x", 0,
         "EHLO puesto-7.cliente\r\nQUIT", "AUTH"},
        {"MAIL refused without a code", {"220 hola\r\n", "250 ok\r\n", "Sender rejected\r\n"}, 0, true, false,
         "Sender rejected", 22, "QUIT", "RCPT"},
        {"RCPT refused without a code", {"220 hola\r\n", "250 ok\r\n", "250 ok\r\n", "no such user\r\n"}, 0, true,
         false, "no such user", 22, "QUIT", "DATA"},
        {"plain login", {kLogin[0], kLogin[1], "334 Username:\r\n", "334 password:\r\n", "235 ok\r\n"}, 3, false,
         true, "235 ok", 0, "AUTH LOGIN PLAIN\r\nusuario\r\nclave\r\n", ""},
        // Under "required" nothing but QUIT follows an EHLO without STARTTLS or a refused one.
        {"required, EHLO without STARTTLS", {"220 hola\r\n", "250-x\r\n250 AUTH LOGIN\r\n"}, 2, false, false, "250-x",
         0, "EHLO puesto-7.cliente\r\nQUIT\r\n", "AUTH", "", true, 60000, CMailConnection::StartTlsRequired},
        {"required, STARTTLS refused", {"220 hola\r\n", "250-x\r\n250 STARTTLS\r\n", "454 TLS not available\r\n"}, 2,
         false, false, "454 TLS not available", 0, "\r\nSTARTTLS\r\nQUIT\r\n", "AUTH",
         "CMailConnection::StartTls, The SMTP server refused STARTTLS", true, 60000, CMailConnection::StartTlsRequired},
        {"STARTTLS refused when offered", {kLogin[0], "250-x\r\n250 starttls\r\n", "454 no\r\n", kLogin[2], kLogin[3],
         "235 ok\r\n"}, 2, false, true, "235 ok", 0, "\r\nSTARTTLS\r\nAUTH LOGIN\r\n", ""},
        // Many lines without a code before the final one: read in linear time.
        {"long EHLO reply", {kLogin[0], BlankLines(300000) + "250 ok\r\n", kLogin[2], kLogin[3], "235 ok\r\n"},
         2, false, true, "235 ok", 0, "", ""},
    };
    for (const auto& row : rows) {
        CScriptedServer server(Replying(row.replies, row.quit));
        TestConnection connection;
        connection.HelloHostName = "puesto-7.cliente";
        connection.ReplyTimeout = row.timeout;
        connection.Security = row.security;
        const auto start = std::chrono::steady_clock::now();
        bool ok = connection.Connect("127.0.0.1", row.method, "usuario", "clave", server.Port());
        if (ok && row.send) {
            CMailMessage message;
            FillSimple(message);
            ok = connection.SendMessage(message);
        }
        const int error = MailLastError();
        EXPECT_EQ(ok, row.ok) << row.name;
        EXPECT_EQ(connection.GetLastReplyText().rfind(row.reply, 0), 0u) << row.name << ": " << connection.GetLastReplyText();
        if (row.error) { EXPECT_EQ(error, row.error) << row.name; }
        if (!row.ok) { EXPECT_FALSE(connection.Notices.empty()) << row.name; }
        if (*row.notice) { EXPECT_EQ(connection.Notices.at(0), row.notice) << row.name; }
        EXPECT_EQ(connection.GetSecurityFailureText().empty(), row.security == CMailConnection::StartTlsWhenOffered)
            << row.name;
        // A server that closes is noticed at once, not after the reply time-out.
        if (!row.quit) { EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << row.name; }
        connection.Disconnect(true);
        const std::string transcript = server.Transcript();
        EXPECT_NE(transcript.find(row.sent), std::string::npos) << row.name << ": " << transcript;
        if (!row.notSent.empty()) { EXPECT_EQ(transcript.find(row.notSent), std::string::npos) << row.name; }
    }
}

TEST(ScriptedSmtp, RepliesSplitAtChosenBytesAreJoined)
{
    TestConnection connection;
    CScriptedServer server([&](CScriptPeer& peer) {
        const MailSocketHandle client = connection.Handle();
        peer.SendSplit("22", "0 saludo\r\n", client);
        peer.ReadLine();
        // The first piece ends a line but holds no "250 ": reading must go on.
        peer.SendSplit("250-uno\r\n", "250-AUTH LOGIN\r\n25", client);
        peer.SendSplit("", "0 fin\r\n", client);
        peer.ReadLine();
        peer.SendSplit("334 " + B64("username:").substr(0, 3), B64("username:").substr(3) + "\r\n", client);
        peer.ReadLine();
        peer.SendSplit("334 " + B64("PASSWORD:") + "\r", "\n", client);
        peer.ReadLine();
        peer.SendSplit("23", "5 ok\r\n", client);
        if (peer.ReadLine() == "QUIT") peer.Send("221 Bye\r\n");
    });
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::Login, "usuario", "clave", server.Port()));
    EXPECT_EQ(connection.Replies[0], "220 saludo");
    EXPECT_EQ(connection.Replies[1], "250-uno\r\n250-AUTH LOGIN\r\n250 fin");
    EXPECT_TRUE(connection.Disconnect(true));
    EXPECT_NE(server.Transcript().find("AUTH LOGIN\r\n" + B64("usuario") + "\r\n" + B64("clave") + "\r\nQUIT\r\n"),
              std::string::npos);
}

TEST(ScriptedSmtp, LongRepliesGrowTheBufferAndStopAtOneMebibyte)
{
    const std::string greeting = "220 " + std::string(294, 'x') + "\r\n";
    CScriptedServer server(Replying({greeting, "250 ok\r\n"}));
    TestConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", server.Port()));
    EXPECT_EQ(connection.Replies[0], greeting.substr(0, 298));
    EXPECT_EQ(connection.Capacities[0], 4352u);
    EXPECT_EQ(connection.Capacities[1], 256u);
    // "auto" became a plain host name.
    EXPECT_EQ(connection.HelloHostName.find_first_not_of("-.0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"),
              std::string::npos);
    connection.Disconnect(true);
    EXPECT_EQ(server.Transcript().rfind("HELO " + connection.HelloHostName + "\r\n", 0), 0u);

    const std::size_t sent = CMailConnection::kMaxReplyLength + 5000;
    CScriptedServer endless(Replying({std::string(sent, 'x')}));
    connection.ReplyTimeout = 5000;
    EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", endless.Port()));
    EXPECT_EQ(MailLastError(), 10043);
    const std::string text = connection.GetLastReplyText();
    EXPECT_GT(text.size(), CMailConnection::kMaxReplyLength);
    EXPECT_LE(text.size(), sent);
    EXPECT_NE(endless.Transcript().find("QUIT\r\n"), std::string::npos);
}

TEST(ScriptedSmtp, NoCommandOrHeaderLineCanBeInjectedAndDotsAreDoubled)
{
    for (const std::string& bad : {std::string("ayuda@x\r\nRCPT TO:<otro@x>"), std::string("a@x\0y", 5)}) {
        CScriptedServer server(Replying({"220 hola\r\n", "250 ok\r\n"}));
        TestConnection connection;
        ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", server.Port()));
        CMailMessage message;
        FillSimple(message);
        message.AppendRecipient(CMailAddress("", bad), CMailMessage::Bcc);
        EXPECT_FALSE(connection.SendMessage(message));
        EXPECT_EQ(connection.GetLastReplyText(), "");
        connection.Disconnect(true);
        const std::string transcript = server.Transcript();
        EXPECT_EQ(transcript.substr(transcript.find("\r\n") + 2), "QUIT\r\n");
    }

    std::string data;
    CScriptedServer server([&](CScriptPeer& peer) {
        Replying({"220 hola\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"}, false)(peer);
        data = peer.ReadData();
        Replying({"250 queued\r\n"})(peer);
    });
    TestConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", server.Port()));
    CMailMessage message;
    message.From = CMailAddress("Ana\r\nBcc: espia@x", "ana@x");
    message.AppendRecipient(CMailAddress("Mesa\r\n.\r\nRSET", "m@x"), CMailMessage::To);
    message.AppendRecipient(CMailAddress("", "c@x"), CMailMessage::Cc);
    message.Subject = "Hola\r\nBcc: espia@x\r\n.\r\nMAIL FROM:<x@y>";
    message.ExtraHeaders.push_back(".");
    message.ExtraHeaders.push_back("X-A: 1\r\nBcc: espia@x");
    message.SetBodyText(".\nsegunda\n.\n..tres\r\n");
    ASSERT_TRUE(connection.SendMessage(message));
    connection.Disconnect(true);
    server.Transcript();

    const std::size_t bodyAt = data.find("\r\n\r\n");
    ASSERT_NE(bodyAt, std::string::npos);
    const std::string header = data.substr(0, bodyAt + 2);
    for (std::size_t start = 0, end; (end = header.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = header.substr(start, end - start);
        EXPECT_TRUE(line.rfind("Bcc:", 0) && line != "." && line.rfind("MAIL", 0)) << line;
    }
    EXPECT_NE(header.find("\r\n..\r\n"), std::string::npos);  // the lone extra line, doubled
    EXPECT_EQ(data.substr(bodyAt + 4), "..\r\nsegunda\r\n..\r\n...tres\r\n\r\n.\r\n");
}

TEST(ScriptedSmtp, ReconnectDisconnectAndDestruction)
{
    CScriptedServer first(Replying({"220 uno\r\n", "250 ok\r\n"}));
    CScriptedServer second(Replying({"220 dos\r\n", "250 ok\r\n"}, false));
    TestConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", first.Port()));
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", second.Port()));
    EXPECT_NE(first.Transcript().find("QUIT\r\n"), std::string::npos);
    EXPECT_FALSE(connection.Disconnect(false));
    EXPECT_FALSE(connection.Connected);
    EXPECT_EQ(second.Transcript().find("QUIT"), std::string::npos);
    EXPECT_FALSE(connection.Disconnect(true));

    CScriptedServer polite(Replying({"220 hola\r\n", "250 ok\r\n"}));
    {
        TestConnection destroyed;
        ASSERT_TRUE(destroyed.Connect("127.0.0.1", CMailConnection::None, "", "", polite.Port()));
    }
    EXPECT_NE(polite.Transcript().find("QUIT\r\n"), std::string::npos);
}

// A host that never answers the connect, a server that neither sends nor closes (in clear,
// in the handshake, after STARTTLS) or drips its greeting holds the session no longer than
// its time-out, the session's deadline or Abort: every wait watches the stop beside the
// socket. An aborted session says no QUIT.
TEST(ScriptedSmtp, SilentOrDrippingServersEndOnTheTimeOutTheDeadlineOrAbort)
{
    using Failure = CMailConnection::Failure;
    enum Peer { Unanswered, Silent, Drip, SilentHandshake, SilentAfterStartTls };
    const struct {
        const char* name;
        Peer peer;
        bool abort;
        Failure failure;
    } rows[] = {
        {"unanswered connect", Unanswered, false, Failure::TimedOut},
        {"unanswered connect, aborted", Unanswered, true, Failure::Stopped},
        {"silent greeting", Silent, false, Failure::TimedOut},
        {"silent greeting, aborted", Silent, true, Failure::Stopped},
        {"greeting dripped past the deadline", Drip, false, Failure::TimedOut},
#ifdef _WIN32
        {"silent handshake", SilentHandshake, false, Failure::Security},
        {"silent handshake, aborted", SilentHandshake, true, Failure::Stopped},
        {"silent after STARTTLS, aborted", SilentAfterStartTls, true, Failure::Stopped},
#endif
    };
    const testing_support::CFullListener full;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CGate reached, release;
        std::unique_ptr<CScriptedServer> server;
        if (row.peer != Unanswered) server = std::make_unique<CScriptedServer>([&](CScriptPeer& peer) {
            if (row.peer == SilentAfterStartTls)
                Replying({"220 hola\r\n", "250-x\r\n250 STARTTLS\r\n", "220 adelante\r\n"}, false)(peer);
            if (row.peer == Drip) {
                peer.Send("220 ");
                for (int i = 0; i < 750 && !release.Wait(std::chrono::milliseconds(20)); ++i) peer.Send("x");
            }
            if (row.peer == SilentHandshake || row.peer == SilentAfterStartTls) peer.WaitData();  // the ClientHello
            reached.Open();
            release.Wait();
        });
        TestConnection connection;
        connection.Security = row.peer == SilentHandshake ? CMailConnection::ImplicitTls : CMailConnection::StartTlsWhenOffered;
        connection.ReplyTimeout = row.abort || row.peer == Drip ? 60000 : 300;
        connection.SessionTimeout = row.peer == Drip || (row.peer == Unanswered && !row.abort) ? 500 : 60000;
        std::thread stopper([&] {
            if (row.abort && (!server || reached.Wait())) connection.Abort();
        });
        const auto start = std::chrono::steady_clock::now();
        const int port = server ? server->Port() : full.address.bytes[2] << 8 | full.address.bytes[3];
        EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::Login, "usuario", "clave", port));
        const int error = MailLastError();
        stopper.join();
        // Half the time the peer holds out before it closes.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(error, row.abort ? 995 : 10060);
        EXPECT_EQ(connection.LastFailure(), row.failure);
        connection.Disconnect(true);
        release.Open();
        const std::string transcript = server ? server->Transcript() : "";
        EXPECT_EQ(transcript.find("AUTH"), std::string::npos);
        if (row.abort) { EXPECT_EQ(transcript.find("QUIT"), std::string::npos); }
    }
}

TEST(MailSocket, ConnectFailures)
{
    TestConnection connection;
    EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", testing_support::ClosedPort(),
                                    "127.0.0.1"));
    EXPECT_EQ(connection.Notices.size(), 1u);
    EXPECT_NE(MailLastError(), 0);
    EXPECT_FALSE(connection.Connected);

    // A wait times out; a new socket closes the one still held.
    CScriptedServer server([](CScriptPeer& peer) { peer.WaitClose(); });
    CMailSocket socket;
    ASSERT_TRUE(socket.Create());
    ASSERT_TRUE(socket.Connect("localhost", static_cast<std::uint16_t>(server.Port()), ""));
    bool readable = true;
    EXPECT_TRUE(socket.WaitReadable(readable, 150));
    EXPECT_FALSE(readable);
    ASSERT_TRUE(socket.Create());
    server.Transcript();  // returns once the server has seen the first connection end
    EXPECT_EQ(socket.Close(), 0);
    EXPECT_EQ(socket.Close(), -1);
}
