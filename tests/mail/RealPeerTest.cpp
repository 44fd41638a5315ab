// The SMTP client against the real aiosmtpd peer of smtp_peer.py, plain and inside TLS.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "mail/MailCoders.h"
#include "mail/MailConnection.h"
#include "tests/mail/MailTestText.h"

namespace {

class RealSmtp : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(m_nPort, 0) << "run through smtp_peer.py"; }

    // Sends `message` through the peer and answers what it delivered.
    std::map<std::string, std::string> Deliver(CMailMessage& message)
    {
        CMailConnection connection;
        EXPECT_TRUE(connection.Connect("127.0.0.1", CMailConnection::Login, "usuario", "clave", m_nPort))
            << connection.GetLastReplyText();
        EXPECT_TRUE(connection.SendMessage(message)) << connection.GetLastReplyText();
        EXPECT_TRUE(connection.Disconnect(true));
        COracle oracle;
        EXPECT_TRUE(oracle.Ok());
        return oracle.Last();
    }

    int m_nPort = EnvPort("NOTELIA_SMTP_PORT");
};

} // namespace

// What was typed comes back: long subjects and lines folded within the limits, dots at line
// starts, bodies also in quoted-printable (whose soft breaks put dots at line starts) and base64.
TEST_F(RealSmtp, TypedMessagesComeBackAsTyped)
{
    std::string paragraph;
    for (const char c : SpanishSample(1800))
        if (c != '\r' && c != '\n') paragraph += c;
    paragraph.resize(1600);
    const std::string dotted = ".uno\n.\n" + std::string(77, 'x') + ".final con \xE9nfasis\n..dos";
    const std::string dottedLines = ".uno\r\n.\r\n" + std::string(77, 'x') + ".final con \xE9nfasis\r\n..dos";
    enum Mime { Plain, QuotedPrintable, Base64 };
    const struct {
        std::string subject;
        std::string body;
        std::string delivered;  // empty: the body and a line end
        Mime mime = Plain;
    } rows[] = {
        {"Consulta t\xE9" "cnica sobre la conexi\xF3n de la sucursal de Espa\xF1" "a, a\xF1o 2026: "
         "\xBFpor qu\xE9 no llegan los mensajes de Informaci\xF3n General?",
         ".primera l\xEDnea\n.\nsegunda\r\n..tercera\rcuarta con \xE1" "cento\n",
         ".primera l\xEDnea\r\n.\r\nsegunda\r\n..tercera\r\ncuarta con \xE1" "cento\r\n\r\n"},
        {std::string(400, '\xF1'), "corto\r\n." + std::string(1600, 'x') + "\r\n.fin", ""},
        {std::string(1200, 'a'), paragraph, ""},
        {"Consulta " + std::string(998, 'b'), std::string(997, 'c') + "\r\n", ""},
        {"", dotted, dottedLines, QuotedPrintable},
        {"", dotted, dottedLines, Base64},
    };
    for (const auto& row : rows) {
        CMailMessage message;
        message.Mime = row.mime != Plain;
        FillSimple(message, row.subject, row.body);
        if (message.Mime) message.RootPart.ChildPartAt(0)->Base64Body = row.mime == Base64;
        auto last = Deliver(message);
        const std::string& raw = last["raw"];
        SCOPED_TRACE(raw.substr(0, 1000));
        EXPECT_EQ(last["mail_from"], "jose@cliente.example");
        EXPECT_EQ(last["rcpt_tos"], "ayuda@quorvex.example");
        EXPECT_EQ(last["from_name"], "Jos\xE9 P\xE9rez Mu\xF1oz");
        EXPECT_EQ(last["to"], "Mesa de Ayuda <ayuda@quorvex.example>");
        EXPECT_EQ(last["subject"], row.subject);
        EXPECT_EQ(last["content_type"], message.Mime ? "multipart/mixed" : "text/plain");
        EXPECT_EQ(last["part_type"], "text/plain");
        EXPECT_EQ(last["charset"], message.Mime ? "" : "iso-8859-1");
        EXPECT_EQ(last["date_ok"], "1") << last["date"];
        if (!message.Mime) { EXPECT_EQ(last["defects"], "0"); }
        EXPECT_EQ(last["body"], row.delivered.empty() ? row.body + "\r\n" : row.delivered);
        const std::size_t headerEnd = raw.find("\r\n\r\n");
        for (std::size_t start = 0, end; (end = raw.find("\r\n", start)) != std::string::npos; start = end + 2)
            EXPECT_LE(end - start, start < headerEnd ? 78u : 998u) << raw.substr(start, 100);
    }
}

TEST_F(RealSmtp, EncodedSubjectsOfEveryLengthDecodeToTheText)
{
    COracle oracle;
    ASSERT_TRUE(oracle.Ok());
    const std::string letters = "Consulta de la sucursal numero ";
    auto check = [&](const std::string& text, const char* charset) {
        const std::string encoded = EncodeHeaderText(text, charset);
        for (std::size_t at = 0, end = 0; end != std::string::npos; at = end + 1)
            ASSERT_LE((end = encoded.find(' ', at)) == std::string::npos ? encoded.size() - at : end - at, 75u);
        ASSERT_EQ(oracle.DecodeSubject(encoded), text) << encoded;
    };
    for (std::size_t length = 1; length <= 300; ++length) {
        for (const std::size_t at : {std::size_t(0), length / 2, length - 1}) {
            std::string text;
            for (std::size_t i = 0; i < length; ++i) text += letters[i % letters.size()];
            text[at] = '\xF1';
            if (length > 3) text[(at + 3) % length] = '\xE9';
            check(text, "iso-8859-1");
        }
    }
    // UTF-8 words are cut between whole characters; specials never stand bare in a word.
    std::string wide;
    for (int i = 0; i < 60; ++i) wide += "\xF1\x80\xE9";  // ñ € é
    check(wide, "utf-8");
    check("P\xE9rez, (Juan) \"x\"?=_\t", "iso-8859-1");
}

#ifdef _WIN32
// ---- TLS through the system's provider ------------------------------------------------

TEST_F(RealSmtp, SecureSessionsAuthenticateInsideTlsAndRefuseUncheckedCertificates)
{
    const std::string bad = "No se pudo verificar el certificado del servidor: ";
    const struct {
        const char* peer;
        int security;
        const char* host;
        std::string failure;  // the text for the user; empty: delivered
    } rows[] = {
        {"NOTELIA_SMTP_STARTTLS", CMailConnection::StartTlsWhenOffered, "127.0.0.1", ""},
        {"NOTELIA_SMTP_STARTTLS", CMailConnection::StartTlsRequired, "localhost", ""},
        {"NOTELIA_SMTP_IMPLICIT", CMailConnection::ImplicitTls, "127.0.0.1", ""},
        {"NOTELIA_SMTP_AHEAD", CMailConnection::StartTlsRequired, "127.0.0.1", ""},
        {"NOTELIA_SMTP_UNTRUSTED", CMailConnection::StartTlsWhenOffered, "127.0.0.1",
         bad + "no lo emitió una autoridad de confianza (error 0x800B010A)."},
        {"NOTELIA_SMTP_EXPIRED", CMailConnection::StartTlsRequired, "localhost",
         bad + "está vencido o aún no es válido (error 0x800B0101)."},
        {"NOTELIA_SMTP_WRONGNAME", CMailConnection::StartTlsWhenOffered, "127.0.0.1",
         bad + "no corresponde al nombre del servidor (error 0x800B010F)."},
    };
    // More than one record each way.
    const std::string body = SpanishSample(40000);
    COracle oracle;
    for (const auto& row : rows) {
        const int port = EnvPort(row.peer);
        ASSERT_NE(port, 0) << row.peer;
        auto counts = oracle.Last();
        CMailConnection connection;
        connection.Security = row.security;
        const bool ok = connection.Connect(row.host, CMailConnection::Login, "usuario", "clave", port);
        EXPECT_EQ(connection.GetSecurityFailureText(), row.failure) << row.peer;
        if (!row.failure.empty()) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(oracle.Last()["auths"], counts["auths"]) << row.peer;
            continue;
        }
        ASSERT_TRUE(ok) << row.peer << ": " << connection.GetLastReplyText();
        EXPECT_TRUE(connection.IsSecure());
        CMailMessage message;
        FillSimple(message, "", body);
        EXPECT_TRUE(connection.SendMessage(message)) << connection.GetLastReplyText();
        EXPECT_TRUE(connection.Disconnect(true));
        auto last = oracle.Last();
        EXPECT_EQ(last["body"], body + "\r\n") << row.peer;
        EXPECT_EQ(last["tls"], "1");
        EXPECT_EQ(last["auth_tls"], "1");
        EXPECT_EQ(std::stoi(last["auths"]), std::stoi(counts["auths"]) + 1) << row.peer;
    }
}
#endif
