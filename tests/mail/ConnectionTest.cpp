// The SMTP client against scripted servers (faults on demand) and against a real server
// (aiosmtpd, started by smtp_peer.py) whose deliveries Python's email package parses.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "mail/Base64Coder.h"
#include "mail/MailCoders.h"
#include "mail/MailConnection.h"
#include "mail/MailPlatform.h"
#include "mail/MailSocket.h"
#include "tests/mail/MailTestText.h"
#include "tests/mail/ScriptedServer.h"

namespace {

using Clock = std::chrono::steady_clock;

class TestConnection : public CMailConnection {
public:
    std::vector<std::string> Errors;
    std::vector<std::string> Replies;  // LastReplyText after each awaited reply
    std::vector<std::size_t> Capacities;

    MailSocketHandle Handle() const { return Socket().Handle(); }
    bool HasError(const std::string& text) const
    {
        for (const auto& e : Errors)
            if (e == text) return true;
        return false;
    }

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
    void NotifyError(const std::string& text) override { Errors.push_back(text); }
};

std::string B64(const std::string& text)
{
    CBase64Coder coder;
    coder.EncodeText(text.c_str());
    return coder.EncodedText();
}

// The greeting, then 250 to the HELO or EHLO that follows.
void GreetAndAcceptHello(CScriptPeer& peer)
{
    peer.Send("220 hola\r\n");
    peer.ReadLine();
    peer.Send("250 ok\r\n");
}

void AcceptQuit(CScriptPeer& peer)
{
    if (peer.ReadLine() == "QUIT") peer.Send("221 Bye\r\n");
    peer.WaitClose();
}

void FillSimple(CMailMessage& message)
{
    message.From = CMailAddress("Ana", "ana@cliente.example");
    message.AppendRecipient(CMailAddress("", "ayuda@quorvex.example"), CMailMessage::To);
    message.Subject = "Prueba";
    message.SetBodyText("Hola");
}

} // namespace

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
        AcceptQuit(peer);
    });
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::Login, "usuario", "clave", server.Port()));
    EXPECT_EQ(connection.Replies[0], "220 saludo");
    EXPECT_EQ(connection.Replies[1], "250-uno\r\n250-AUTH LOGIN\r\n250 fin");
    EXPECT_TRUE(connection.Disconnect(true));
    const std::string transcript = server.Transcript();
    EXPECT_NE(transcript.find("AUTH LOGIN\r\n" + B64("usuario") + "\r\n" + B64("clave") + "\r\nQUIT\r\n"),
              std::string::npos)
        << transcript;
}

TEST(ScriptedSmtp, ALongReplyGrowsTheBufferOnce)
{
    const std::string greeting = "220 " + std::string(294, 'x') + "\r\n";
    CScriptedServer server([&](CScriptPeer& peer) {
        peer.Send(greeting);
        peer.ReadLine();
        peer.Send("250 ok\r\n");
        AcceptQuit(peer);
    });
    TestConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", server.Port()));
    EXPECT_EQ(connection.Replies[0], greeting.substr(0, 298));
    EXPECT_EQ(connection.Capacities[0], 4352u);
    EXPECT_EQ(connection.Capacities[1], 256u);
}

TEST(ScriptedSmtp, AnEndlessReplyStopsAtOneMebibyte)
{
    const std::size_t sent = CMailConnection::kMaxReplyLength + 5000;
    CScriptedServer server([&](CScriptPeer& peer) {
        peer.Send(std::string(sent, 'x'));
        AcceptQuit(peer);
    });
    TestConnection connection;
    connection.ReplyTimeout = 5000;
    EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", server.Port()));
    EXPECT_EQ(MailLastError(), 10043);
    const std::string text = connection.GetLastReplyText();
    EXPECT_GT(text.size(), CMailConnection::kMaxReplyLength);
    EXPECT_LE(text.size(), sent);
    EXPECT_EQ(text.find_first_not_of('x'), std::string::npos);
    EXPECT_NE(server.Transcript().find("QUIT\r\n"), std::string::npos);
}

TEST(ScriptedSmtp, Greeting554KeepsTheRefusalNotTheQuitAnswer)
{
    CScriptedServer server([](CScriptPeer& peer) {
        peer.Send("554 no hay servicio\r\n");
        AcceptQuit(peer);
    });
    TestConnection connection;
    EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::Login, "u", "p", server.Port()));
    EXPECT_EQ(connection.GetLastReplyText(), "554 no hay servicio");
    EXPECT_EQ(connection.LastReplyCode, 554);
    EXPECT_TRUE(connection.HasError("CMailConnection::Connect, An unexpected SMTP login response was received"));
    EXPECT_FALSE(connection.Connected);
    EXPECT_EQ(server.Transcript(), "QUIT\r\n");
}

TEST(ScriptedSmtp, EhloRefusedWithoutA250LineTimesOutWithoutFallingBackToHelo)
{
    CScriptedServer server([](CScriptPeer& peer) {
        peer.Send("220 hola\r\n");
        peer.ReadLine();
        peer.Send("550 no te conozco\r\n");
        AcceptQuit(peer);
    });
    TestConnection connection;
    connection.ReplyTimeout = 300;
    EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::Login, "u", "p", server.Port()));
    EXPECT_EQ(MailLastError(), 10060);
    EXPECT_EQ(connection.GetLastReplyText().rfind("550 no te conozco", 0), 0u);
    EXPECT_TRUE(connection.HasError("CMailConnection::ReadResponse, Timed Out waiting for response from SMTP server"));
    EXPECT_TRUE(connection.HasError("CMailConnection::Connect, An unexpected HELO/EHLO response was received"));
    const std::string transcript = server.Transcript();
    EXPECT_EQ(transcript.find("HELO"), std::string::npos);
    EXPECT_EQ(transcript.rfind("EHLO ", 0), 0u);
    EXPECT_NE(transcript.find("QUIT\r\n"), std::string::npos);
}

TEST(ScriptedSmtp, Rcpt251IsNotAccepted)
{
    CScriptedServer server([](CScriptPeer& peer) {
        GreetAndAcceptHello(peer);
        peer.ReadLine();
        peer.Send("250 ok\r\n");
        peer.ReadLine();
        peer.Send("251 User not local; will forward\r\n");
        AcceptQuit(peer);
    });
    TestConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", server.Port()));
    CMailMessage message;
    FillSimple(message);
    EXPECT_FALSE(connection.SendMessage(message));
    EXPECT_EQ(MailLastError(), 22);
    EXPECT_EQ(connection.GetLastReplyText(), "251 User not local; will forward");
    EXPECT_TRUE(connection.HasError("CMailConnection::SendRCPTForRecipient, An unexpected RCPT response was received"));
    connection.Disconnect(true);
    EXPECT_EQ(server.Transcript().find("DATA"), std::string::npos);
}

TEST(ScriptedSmtp, Password535KeepsTheRefusal)
{
    CScriptedServer server([](CScriptPeer& peer) {
        GreetAndAcceptHello(peer);
        peer.ReadLine();
        peer.Send("334 " + B64("Username:") + "\r\n");
        peer.ReadLine();
        peer.Send("334 " + B64("Password:") + "\r\n");
        peer.ReadLine();
        peer.Send("535 5.7.8 Authentication credentials invalid\r\n");
        AcceptQuit(peer);
    });
    TestConnection connection;
    EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::Login, "usuario", "mala", server.Port()));
    EXPECT_EQ(connection.GetLastReplyText(), "535 5.7.8 Authentication credentials invalid");
    EXPECT_TRUE(connection.HasError("CMailConnection::AuthLogin, AUTH LOGIN authentication was unsuccessful"));
    EXPECT_NE(server.Transcript().find("QUIT\r\n"), std::string::npos);
}

TEST(ScriptedSmtp, APromptThatDecodesToSomethingElseStopsBeforeTheUserName)
{
    CScriptedServer server([](CScriptPeer& peer) {
        GreetAndAcceptHello(peer);
        peer.ReadLine();
        peer.Send("334 " + B64("User Name") + "\r\n");
        AcceptQuit(peer);
    });
    TestConnection connection;
    EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::Login, "usuario", "clave", server.Port()));
    EXPECT_TRUE(connection.HasError(
        "CMailConnection::AuthLogin, An unexpected request received when expecting username request"));
    const std::string transcript = server.Transcript();
    EXPECT_NE(transcript.find("AUTH LOGIN\r\nQUIT\r\n"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.find(B64("usuario")), std::string::npos);
}

TEST(ScriptedSmtp, AServerThatClosesDuringAWaitFailsAtOnce)
{
    CScriptedServer server([](CScriptPeer& peer) {
        peer.Send("220 hola\r\n");
        peer.ReadLine();
        peer.Send("250-a medias\r\n250 ");
    });
    TestConnection connection;  // the full 60 s reply timeout
    const auto start = Clock::now();
    EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::Login, "u", "p", server.Port()));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(connection.GetLastReplyText(), "250-a medias\r\n250 ");
}

TEST(ScriptedSmtp, ATwoLine220ReplyAwaitedAs220AndAs250)
{
    CScriptedServer server([](CScriptPeer& peer) {
        peer.Send("220-uno\r\n220 dos\r\n");
        peer.ReadLine();
        peer.Send("220-tres\r\n220 cuatro\r\n");
        AcceptQuit(peer);
    });
    TestConnection connection;
    EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", server.Port()));
    EXPECT_EQ(connection.Replies[0], "220-uno\r\n220 dos");
    EXPECT_EQ(connection.Replies[1], "220 cuatro");
    EXPECT_EQ(connection.GetLastReplyText(), "220 cuatro");
    EXPECT_EQ(MailLastError(), 10043);
}

TEST(ScriptedSmtp, MethodOneSaysEhloThenQuit)
{
    CScriptedServer server([](CScriptPeer& peer) {
        peer.Send("220 hola\r\n");
        peer.ReadLine();
        peer.Send("250-x\r\n250 AUTH LOGIN\r\n");
        AcceptQuit(peer);
    });
    TestConnection connection;
    connection.HelloHostName = "puesto-7.cliente";
    EXPECT_FALSE(connection.Connect("127.0.0.1", 1, "u", "p", server.Port()));
    EXPECT_EQ(server.Transcript(), "EHLO puesto-7.cliente\r\nQUIT\r\n");
}

TEST(ScriptedSmtp, AuthLoginPlainSendsPlainAnswers)
{
    CScriptedServer server([](CScriptPeer& peer) {
        GreetAndAcceptHello(peer);
        peer.ReadLine();
        peer.Send("334 Username:\r\n");
        peer.ReadLine();
        peer.Send("334 password:\r\n");
        peer.ReadLine();
        peer.Send("235 ok\r\n");
        AcceptQuit(peer);
    });
    TestConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::LoginPlain, "usuario", "clave", server.Port()));
    connection.Disconnect(true);
    EXPECT_NE(server.Transcript().find("AUTH LOGIN PLAIN\r\nusuario\r\nclave\r\nQUIT\r\n"), std::string::npos);
}

TEST(ScriptedSmtp, TheGreetingNameIsAPlainHostName)
{
    CScriptedServer server([](CScriptPeer& peer) {
        GreetAndAcceptHello(peer);
        AcceptQuit(peer);
    });
    TestConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", server.Port()));
    connection.Disconnect(true);
    const std::string transcript = server.Transcript();
    const std::string name = transcript.substr(5, transcript.find("\r\n") - 5);
    EXPECT_EQ(transcript.rfind("HELO ", 0), 0u);
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-."),
              std::string::npos)
        << name;
    EXPECT_EQ(connection.HelloHostName, name);
}

TEST(ScriptedSmtp, AddressesThatWouldInjectCommandsAreRefusedBeforeAnythingIsSent)
{
    for (const std::string& bad : {std::string("ayuda@x\r\nRCPT TO:<otro@x>"), std::string("a@x>\r\nDATA"),
                                  std::string("a<b@x"), std::string("a@x\0y", 5), std::string("a@x\nb")}) {
        CScriptedServer server([](CScriptPeer& peer) {
            peer.Send("220 hola\r\n");
            peer.ReadLine();
            peer.Send("250 ok\r\n");
            AcceptQuit(peer);
        });
        TestConnection connection;
        ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", server.Port()));
        CMailMessage message;
        FillSimple(message);
        message.AppendRecipient(CMailAddress("", bad), CMailMessage::Bcc);
        EXPECT_FALSE(connection.SendMessage(message));
        EXPECT_EQ(connection.Errors.back(), "CMailConnection::SendMessage, An address holds a line break, a NUL or an "
                                            "angle bracket; nothing was sent");
        EXPECT_EQ(connection.GetLastReplyText(), connection.Errors.back());
        connection.Disconnect(true);
        const std::string transcript = server.Transcript();
        EXPECT_EQ(transcript.substr(transcript.find("\r\n") + 2), "QUIT\r\n");
    }
}

TEST(ScriptedSmtp, NoHeaderLineOrCommandCanBeInjectedAndDotsAreDoubled)
{
    std::string data;
    CScriptedServer server([&](CScriptPeer& peer) {
        peer.Send("220 hola\r\n");
        for (int i = 0; i < 4; ++i) {  // HELO MAIL RCPT RCPT
            peer.ReadLine();
            peer.Send("250 ok\r\n");
        }
        peer.ReadLine();
        peer.Send("354 go\r\n");
        data = peer.ReadData();
        peer.Send("250 queued\r\n");
        AcceptQuit(peer);
    });
    TestConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", server.Port()));
    CMailMessage message;
    message.From = CMailAddress("Ana\r\nBcc: espia@x", "ana@x");
    message.AppendRecipient(CMailAddress("Mesa\r\n.\r\nRSET", "m@x"), CMailMessage::To);
    message.AppendRecipient(CMailAddress("", "c@x"), CMailMessage::Cc);
    message.Subject = "Hola\r\nBcc: espia@x\r\n.\r\nMAIL FROM:<x@y>";
    message.ExtraHeaders.push_back(".");
    message.SetBodyText(".\nsegunda\n.\n..tres\r\n");
    ASSERT_TRUE(connection.SendMessage(message));
    connection.Disconnect(true);
    server.Transcript();

    const std::size_t bodyAt = data.find("\r\n\r\n");
    ASSERT_NE(bodyAt, std::string::npos);
    const std::string header = data.substr(0, bodyAt + 2);
    for (std::size_t start = 0, end; (end = header.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = header.substr(start, end - start);
        EXPECT_NE(line.rfind("Bcc:", 0), 0u) << line;
        EXPECT_NE(line, ".") << line;
        EXPECT_NE(line.rfind("MAIL", 0), 0u) << line;
    }
    EXPECT_NE(header.find("\r\n..\r\n"), std::string::npos);  // the lone extra line, doubled
    EXPECT_EQ(data.substr(bodyAt + 4), "..\r\nsegunda\r\n..\r\n...tres\r\n\r\n.\r\n");
}

TEST(ScriptedSmtp, ReconnectingClosesTheEarlierConnection)
{
    CScriptedServer first([](CScriptPeer& peer) {
        peer.Send("220 uno\r\n");
        peer.ReadLine();
        peer.Send("250 ok\r\n");
        AcceptQuit(peer);
    });
    CScriptedServer second([](CScriptPeer& peer) {
        peer.Send("220 dos\r\n");
        peer.ReadLine();
        peer.Send("250 ok\r\n");
        AcceptQuit(peer);
    });
    TestConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", first.Port()));
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", second.Port()));
    EXPECT_NE(first.Transcript().find("QUIT\r\n"), std::string::npos);
    EXPECT_TRUE(connection.Disconnect(true));
}

TEST(ScriptedSmtp, DisconnectAndDestruction)
{
    TestConnection idle;
    EXPECT_FALSE(idle.Disconnect(true));
    EXPECT_TRUE(idle.HasError("CMailConnection::Disconnect, Already disconnected from SMTP server, doing nothing"));

    CScriptedServer rude([](CScriptPeer& peer) {
        GreetAndAcceptHello(peer);
        peer.WaitClose();
    });
    {
        TestConnection connection;
        ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", rude.Port()));
        EXPECT_FALSE(connection.Disconnect(false));
        EXPECT_FALSE(connection.Connected);
    }
    EXPECT_EQ(rude.Transcript().find("QUIT"), std::string::npos);

    CScriptedServer polite([](CScriptPeer& peer) {
        GreetAndAcceptHello(peer);
        AcceptQuit(peer);
    });
    {
        TestConnection connection;
        ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", polite.Port()));
    }
    EXPECT_NE(polite.Transcript().find("QUIT\r\n"), std::string::npos);
}

TEST(MailSocket, ConnectFailuresAndTheirTexts)
{
    // A port that was just free: nothing listens there.
    int port;
    {
        CScriptedServer probe([](CScriptPeer&) {});
        port = probe.Port();
        CMailSocket wake;
        wake.Create();
        wake.Connect("127.0.0.1", static_cast<std::uint16_t>(port), nullptr);
    }
    TestConnection connection;
    EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", port));
    ASSERT_FALSE(connection.Errors.empty());
    EXPECT_EQ(connection.Errors.back().rfind("CMailConnection::Connect, Could not connect to the SMTP server 127.0.0.1 "
                                             "on port " + std::to_string(port) + ", GetLastError returns: ",
                                             0),
              0u)
        << connection.Errors.back();
    EXPECT_FALSE(connection.Connected);

    EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::None, "", "", port, "127.0.0.1"));
    EXPECT_EQ(connection.Errors.back().rfind("CMailConnection::Connect, Could not connect to the SMTP server 127.0.0.1 "
                                             "on port " + std::to_string(port) + " from LocalAddress:127.0.0.1, "
                                             "GetLastError returns: ",
                                             0),
              0u)
        << connection.Errors.back();

    // A label longer than 63 characters fails before any query is sent.
    const std::string unresolvable = std::string(70, 'n') + ".invalid";
    CMailSocket socket;
    ASSERT_TRUE(socket.Create());
    EXPECT_FALSE(socket.Connect(unresolvable.c_str(), 25, nullptr));
    EXPECT_EQ(MailLastError(), 10022);
    EXPECT_EQ(socket.Close(), 0);
    EXPECT_EQ(socket.Close(), -1);
}

TEST(MailSocket, CreateClosesASocketStillHeld)
{
    CScriptedServer server([](CScriptPeer& peer) { peer.WaitClose(); });
    CMailSocket socket;
    ASSERT_TRUE(socket.Create());
    ASSERT_TRUE(socket.Connect("127.0.0.1", static_cast<std::uint16_t>(server.Port()), ""));
    const auto start = Clock::now();
    ASSERT_TRUE(socket.Create());
    server.Transcript();  // the server sees the end of the first connection
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));
}

TEST(MailSocket, WaitReadableTimesOut)
{
    CScriptedServer server([](CScriptPeer& peer) { peer.WaitClose(); });
    CMailSocket socket;
    ASSERT_TRUE(socket.Create());
    ASSERT_TRUE(socket.Connect("localhost", static_cast<std::uint16_t>(server.Port()), nullptr));
    bool readable = true;
    const auto start = Clock::now();
    EXPECT_TRUE(socket.WaitReadable(readable, 150));
    EXPECT_FALSE(readable);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));
}

// ---- the real peer -------------------------------------------------------------------

namespace {

int EnvPort(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : 0;
}

class COracle {
public:
    COracle()
    {
        m_bOk = m_Socket.Create() &&
                m_Socket.Connect("127.0.0.1", static_cast<std::uint16_t>(EnvPort("NOTELIA_SMTP_ORACLE")), nullptr);
    }
    bool Ok() const { return m_bOk; }
    std::string Line()
    {
        std::size_t end;
        while ((end = m_Pending.find('\n')) == std::string::npos) {
            bool readable = false;
            char chunk[65536];
            if (!m_Socket.WaitReadable(readable, 10000) || !readable) return "TIMEOUT";
            const int got = m_Socket.Receive(chunk, sizeof chunk);
            if (got <= 0) return "CLOSED";
            m_Pending.append(chunk, static_cast<std::size_t>(got));
        }
        std::string line = m_Pending.substr(0, end);
        m_Pending.erase(0, end + 1);
        return line;
    }
    std::map<std::string, std::string> Last()
    {
        m_Socket.Send("LAST\n", 5);
        std::map<std::string, std::string> fields;
        for (std::string line; (line = Line()) != "END" && line != "TIMEOUT" && line != "CLOSED";) {
            const std::size_t blank = line.find(' ');
            fields[line.substr(0, blank)] = blank == std::string::npos ? "" : Unhex(line.substr(blank + 1));
        }
        return fields;
    }
    std::string DecodeSubject(const std::string& value)
    {
        const std::string command = "SUBJECT " + Hex(value) + "\n";
        m_Socket.Send(command.data(), command.size());
        const std::string line = Line();
        return line == "ERR" ? "<error>" : Unhex(line);
    }

private:
    CMailSocket m_Socket;
    bool m_bOk = false;
    std::string m_Pending;
};

class RealSmtp : public testing::Test {
protected:
    void SetUp() override
    {
        m_nPort = EnvPort("NOTELIA_SMTP_PORT");
        ASSERT_NE(m_nPort, 0) << "run through smtp_peer.py";
    }
    int m_nPort = 0;
};

} // namespace

TEST_F(RealSmtp, TheProgramsDialogueDeliversWhatWasTyped)
{
    TestConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::Login, "usuario", "clave", m_nPort))
        << connection.GetLastReplyText();
    CMailMessage message;
    message.From = CMailAddress("Jos\xE9 P\xE9rez Mu\xF1oz", "jose@cliente.example");
    message.AppendRecipient(CMailAddress("Mesa de Ayuda", "ayuda@quorvex.example"), CMailMessage::To);
    message.Subject = "Consulta t\xE9" "cnica sobre la conexi\xF3n de la sucursal de Espa\xF1" "a, a\xF1o 2026: "
                      "\xBFpor qu\xE9 no llegan los mensajes de Informaci\xF3n General?";
    const std::string typed = ".primera l\xEDnea\n.\nsegunda\r\n..tercera\rcuarta con \xE1" "cento\n";
    message.SetBodyText(typed);
    ASSERT_TRUE(connection.SendMessage(message)) << connection.GetLastReplyText();
    EXPECT_TRUE(connection.Disconnect(true));

    COracle oracle;
    ASSERT_TRUE(oracle.Ok());
    auto last = oracle.Last();
    EXPECT_EQ(last["mail_from"], "jose@cliente.example");
    EXPECT_EQ(last["rcpt_tos"], "ayuda@quorvex.example");
    EXPECT_EQ(last["from_name"], "Jos\xE9 P\xE9rez Mu\xF1oz");
    EXPECT_EQ(last["from_addr"], "jose@cliente.example");
    EXPECT_EQ(last["to"], "Mesa de Ayuda <ayuda@quorvex.example>");
    EXPECT_EQ(last["subject"], message.Subject);
    EXPECT_EQ(last["content_type"], "text/plain");
    EXPECT_EQ(last["charset"], "iso-8859-1");
    EXPECT_EQ(last["date_ok"], "1") << last["date"];
    EXPECT_EQ(last["defects"], "0");
    EXPECT_EQ(last["body"], ".primera l\xEDnea\r\n.\r\nsegunda\r\n..tercera\r\ncuarta con \xE1" "cento\r\n\r\n");
}

TEST_F(RealSmtp, MimeBodiesDecodeToTheTextWithSingleDots)
{
    // Quoted-printable (a soft break puts a dot at a line start) and base64.
    const std::string typed = ".uno\n.\n" + std::string(77, 'x') + ".final con \xE9nfasis\n..dos";
    const std::string expected = ".uno\r\n.\r\n" + std::string(77, 'x') + ".final con \xE9nfasis\r\n..dos";
    for (const bool base64 : {false, true}) {
        TestConnection connection;
        ASSERT_TRUE(connection.Connect("127.0.0.1", CMailConnection::Login, "usuario", "clave", m_nPort));
        CMailMessage message;
        message.Mime = true;
        message.From = CMailAddress("", "ana@cliente.example");
        message.AppendRecipient(CMailAddress("", "ayuda@quorvex.example"), CMailMessage::To);
        message.Subject = "MIME";
        message.SetBodyText(typed);
        message.RootPart.ChildPartAt(0)->Base64Body = base64;
        ASSERT_TRUE(connection.SendMessage(message)) << connection.GetLastReplyText();
        connection.Disconnect(true);

        COracle oracle;
        ASSERT_TRUE(oracle.Ok());
        auto last = oracle.Last();
        EXPECT_EQ(last["content_type"], "multipart/mixed");
        EXPECT_EQ(last["part_type"], "text/plain");
        EXPECT_EQ(last["part_charset"], "iso-8859-1");
        EXPECT_EQ(last["body"], expected) << (base64 ? "base64" : "quoted-printable") << "\n" << last["raw"];
    }
}

TEST_F(RealSmtp, AWrongPasswordShowsTheServersRefusal)
{
    TestConnection connection;
    EXPECT_FALSE(connection.Connect("127.0.0.1", CMailConnection::Login, "usuario", "mala", m_nPort));
    EXPECT_EQ(connection.GetLastReplyText().rfind("535", 0), 0u) << connection.GetLastReplyText();
    EXPECT_TRUE(connection.HasError("CMailConnection::AuthLogin, AUTH LOGIN authentication was unsuccessful"));
}

TEST_F(RealSmtp, EncodedSubjectsOfEveryLengthDecodeToTheText)
{
    COracle oracle;
    ASSERT_TRUE(oracle.Ok());
    const std::string letters = "Consulta de la sucursal numero ";
    int checked = 0;
    for (std::size_t length = 1; length <= 300; ++length) {
        for (const std::size_t at : {std::size_t(0), length / 2, length - 1}) {
            std::string text;
            for (std::size_t i = 0; i < length; ++i) text += letters[i % letters.size()];
            text[at] = '\xF1';
            if (length > 3) text[(at + 3) % length] = '\xE9';
            const std::string encoded = EncodeHeaderText(text, "iso-8859-1");
            for (const auto& word : SplitBlanks(encoded)) ASSERT_LE(word.size(), 75u) << encoded;
            ASSERT_EQ(oracle.DecodeSubject(encoded), text) << encoded;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 900);
}
