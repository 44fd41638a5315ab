// Addresses, body parts and the message header.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <utility>

#include "mail/MailAddress.h"
#include "mail/MailBodyPart.h"
#include "mail/MailMessage.h"
#include "tests/support/TestFiles.h"

namespace {

std::string TakeBuffer(char*& buffer, std::size_t length)
{
    std::string text = buffer ? std::string(buffer, length) : std::string();
    CMailBodyPart::FreePartBuffer(buffer);
    return text;
}

std::string Body(CMailBodyPart& part)
{
    char* buffer = nullptr;
    std::size_t length = 0;
    EXPECT_TRUE(part.BuildPartBody(buffer, length));
    return TakeBuffer(buffer, length);
}

std::vector<std::string> Lines(const std::string& header)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = header.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(header.substr(start, end - start));
    EXPECT_EQ(start, header.size()) << "the header must end with CR LF";
    return lines;
}

// "Sun, 06 Dec 2026 00:02:25 -0300" with English names.
bool IsDateText(const std::string& t)
{
    auto listed = [](const std::string& list, const std::string& name) {
        const std::size_t at = list.find(name);
        return at < list.size() && at % 3 == 0;
    };
    if (t.size() != 31 || !listed("MonTueWedThuFriSatSun", t.substr(0, 3)) ||
        !listed("JanFebMarAprMayJunJulAugSepOctNovDec", t.substr(8, 3)) || (t[26] != '+' && t[26] != '-'))
        return false;
    for (const int i : {5, 6, 12, 13, 14, 15, 17, 18, 20, 21, 23, 24, 27, 28, 29, 30})
        if (t[i] < '0' || t[i] > '9') return false;
    return t.compare(3, 2, ", ") == 0 && t[7] == ' ' && t[11] == ' ' && t[16] == ' ' && t[19] == ':' && t[22] == ':';
}

} // namespace

TEST(MailAddress, ParseAndFormat)
{
    const struct {
        const char* text;
        const char* name;
        const char* address;
    } parsed[] = {
        {"  ayuda@quorvex.example \t", "", "ayuda@quorvex.example"},
        {"  Mesa de Ayuda   < ayuda@quorvex.example >  ", "Mesa de Ayuda", " ayuda@quorvex.example "},
        // Brackets in the wrong order, or around nothing, leave the whole trimmed text.
        {" a>b@c<d ", "", "a>b@c<d"},
        {"Nadie <>", "", "Nadie <>"},
    };
    for (const auto& row : parsed) {
        CMailAddress address("old", "old@x");
        address.ParseMailAddress(row.text);
        EXPECT_EQ(address.FriendlyName, row.name) << row.text;
        EXPECT_EQ(address.EmailAddress, row.address) << row.text;
    }
    EXPECT_EQ(CMailAddress("", "a@b").FormatMailAddress(true, "iso-8859-1"), "a@b");
    EXPECT_EQ(CMailAddress("Usuario.QuorvexNet", "a@b").FormatMailAddress(true, "UTF-8"), "Usuario.QuorvexNet <a@b>");
    EXPECT_EQ(CMailAddress("Jos\xE9", "a@b").FormatMailAddress(true, "iso-8859-1"), "=?iso-8859-1?q?Jos=E9?= <a@b>");
    EXPECT_EQ(CMailAddress("Jos\xE9", "a@b").FormatMailAddress(false, "iso-8859-1"), "Jos\xE9 <a@b>");
}

TEST(MailBodyPart, SetPartTextLineEndsAndDots)
{
    CMailBodyPart part;
    part.ContentType = "text/html";
    part.SetPartText("uno\r\ndos\rtres\ncuatro\r\r\ncinco\n\r");
    EXPECT_EQ(part.PartText, "uno\r\ndos\r\ntres\r\ncuatro\r\n\r\ncinco\r\n\r\n");
    EXPECT_EQ(part.ContentType, "text/plain");

    part.SetPartText(".primera\n.\n..dos\r\nfin.");
    EXPECT_EQ(part.PartText, ".primera\r\n..\r\n...dos\r\nfin.");
}

TEST(MailBodyPart, BoundariesAndDeepCopies)
{
    CMailBodyPart a;
    CMailBodyPart b;
    EXPECT_NE(a.Boundary, b.Boundary);
    EXPECT_TRUE(a.Boundary.size() == 36 && a.Boundary.find_first_not_of("0123456789abcdefABCDEF-") == std::string::npos)
        << a.Boundary;

    CMailBodyPart child;
    child.SetPartText("hijo");
    EXPECT_EQ(a.AddChildPart(child), 0);
    EXPECT_EQ(a.ChildPartAt(0)->ParentPart, &a);

    CMailBodyPart copy(a);
    ASSERT_EQ(copy.ChildPartCount(), 1);
    EXPECT_NE(copy.ChildPartAt(0), a.ChildPartAt(0));
    EXPECT_EQ(copy.ChildPartAt(0)->ParentPart, &copy);
    copy.ChildPartAt(0)->PartText = "cambiado";
    EXPECT_EQ(a.ChildPartAt(0)->PartText, "hijo");

    // Assigning a part its own child keeps the copy intact.
    a = *a.ChildPartAt(0);
    EXPECT_EQ(a.PartText, "hijo");
    EXPECT_EQ(a.ChildPartCount(), 0);
}

TEST(MailBodyPart, HeaderAndFooterTexts)
{
    CMailBodyPart root;
    root.Boundary = "B0";
    CMailBodyPart text;
    text.ContentId = "<id1>";
    root.AddChildPart(text);
    char* buffer = nullptr;
    std::size_t length = 0;
    ASSERT_TRUE(root.ChildPartAt(0)->BuildPartHeader(buffer, length));
    EXPECT_EQ(TakeBuffer(buffer, length), "\r\n--B0\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
                                          "Content-Transfer-Encoding: quoted-printable\r\nContent-ID: <id1>\r\n\r\n");
    ASSERT_TRUE(root.BuildPartFooter(buffer, length));
    EXPECT_EQ(TakeBuffer(buffer, length), "\r\n--B0--");
}

TEST(MailBodyPart, Base64BodyLinesAndFileBodies)
{
    CMailBodyPart part;
    part.Base64Body = true;
    part.PartText = std::string(57, 'a');
    EXPECT_EQ(Body(part).substr(76), "\r\n");
    part.PartText = std::string(58, 'a');
    const std::string body = Body(part);
    EXPECT_EQ(body.size(), 84u);
    EXPECT_EQ(body.substr(76, 2) + body.substr(82), "\r\n\r\n");

    testing_support::ScopedWorkDir dir;
    testing_support::WriteBytes("vacio.bin", "");
    testing_support::WriteBytes("datos.bin", std::string(58, '\x01'));
    char* buffer = reinterpret_cast<char*>(1);
    std::size_t length = 99;
    part.FilePath = "vacio.bin";
    EXPECT_TRUE(part.BuildPartBody(buffer, length));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(length, 0u);
    part.FilePath = "datos.bin";
    ASSERT_TRUE(part.BuildPartBody(buffer, length));
    EXPECT_EQ(length, 84u);
    CMailBodyPart::FreePartBuffer(buffer);
    part.FilePath = "falta.bin";
    EXPECT_FALSE(part.BuildPartBody(buffer, length));
}

TEST(MailMessage, RecipientsZonesAndDates)
{
    CMailMessage message;
    EXPECT_EQ(message.AppendRecipient(CMailAddress("", "a@b"), CMailMessage::To), 0);
    EXPECT_EQ(message.AppendRecipient(CMailAddress("", "c@d"), CMailMessage::To), 1);
    EXPECT_EQ(message.AppendRecipient(CMailAddress("", "e@f"), 3), -1);
    EXPECT_EQ(message.RecipientCount(CMailMessage::To), 2);
    EXPECT_EQ(message.RecipientAt(1, CMailMessage::To)->EmailAddress, "c@d");
    EXPECT_EQ(message.RecipientAt(0, 5), nullptr);

    for (const auto& [bias, zone] : {std::pair<long, const char*>{180, "-0300"}, {210, "-0330"}, {-60, "+0100"},
                                     {-330, "+0530"}, {0, "+0000"}})
        EXPECT_EQ(FormatZoneText(bias), zone);
    std::tm when{};
    when.tm_year = 126;
    when.tm_mon = 11;
    when.tm_mday = 6;
    when.tm_min = 2;
    when.tm_sec = 25;
    EXPECT_EQ(FormatDateText(when, 180), "Sun, 06 Dec 2026 00:02:25 -0300");
}

TEST(MailMessage, TheProgramsOwnHeaderLineByLine)
{
    CMailMessage message;
    message.From = CMailAddress("Usuario.QuorvexNet", "usuario@quorvex.example");
    message.AppendRecipient(CMailAddress("Mesa de Ayuda", "ayuda@quorvex.example"), CMailMessage::To);
    message.Subject = "Consulta sobre la conexi\xF3n";
    message.SetBodyText("Hola");
    const auto lines = Lines(message.ComposeHeader());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "From: Usuario.QuorvexNet <usuario@quorvex.example>");
    EXPECT_EQ(lines[1], "To: Mesa de Ayuda <ayuda@quorvex.example>");
    EXPECT_EQ(lines[2], "Subject: =?iso-8859-1?q?Consulta_sobre_la_conexi=F3n?=");
    EXPECT_EQ(lines[3], "X-Mailer: Notelia 2.5");
    EXPECT_EQ(lines[4], "Content-Type: text/plain;");
    EXPECT_EQ(lines[5], "\tcharset=iso-8859-1");
    EXPECT_TRUE(lines[6].rfind("Date: ", 0) == 0 && IsDateText(lines[6].substr(6))) << lines[6];
}

TEST(MailMessage, OptionalLines)
{
    CMailMessage message;
    message.From = CMailAddress("", "a@b");
    message.XMailer.clear();
    message.ReplyTo = CMailAddress("Nombre", "");
    message.AppendRecipient(CMailAddress("", "oculto@x"), CMailMessage::Bcc);
    std::string header = message.ComposeHeader();
    EXPECT_EQ(header.rfind("From: a@b\r\nTo: \r\nSubject: \r\nContent-Type", 0), 0u) << header;
    for (const char* absent : {"oculto", "Reply-To", "Cc:"}) EXPECT_EQ(header.find(absent), std::string::npos) << absent;

    message.AppendRecipient(CMailAddress("", "u@x"), CMailMessage::To);
    message.AppendRecipient(CMailAddress("Dos", "d@x"), CMailMessage::To);
    message.AppendRecipient(CMailAddress("", "c@x"), CMailMessage::Cc);
    message.ReplyTo.EmailAddress = "r@x";
    message.ExtraHeaders.push_back("X-Kit: 1234");
    header = message.ComposeHeader();
    EXPECT_NE(header.find("\r\nTo: u@x,Dos <d@x>\r\nCc: c@x\r\n"), std::string::npos) << header;
    EXPECT_NE(header.find("\r\nReply-To: Nombre <r@x>\r\nDate: "), std::string::npos) << header;
    EXPECT_EQ(header.substr(header.size() - 13), "X-Kit: 1234\r\n");
}

TEST(MailMessage, EnglishDateWhateverTheLocaleAndTheLocaleUntouched)
{
    if (!std::setlocale(LC_TIME, "es_ES.UTF-8") && !std::setlocale(LC_TIME, "Spanish_Spain.1252"))
        GTEST_SKIP() << "no Spanish locale on this system";
    const std::string before = std::setlocale(LC_TIME, nullptr);
    CMailMessage message;
    const std::string header = message.ComposeHeader();
    EXPECT_EQ(std::setlocale(LC_TIME, nullptr), before);
    std::setlocale(LC_TIME, "C");
    const std::size_t date = header.find("\r\nDate: ");
    ASSERT_NE(date, std::string::npos);
    EXPECT_TRUE(IsDateText(header.substr(date + 8, 31))) << header;
}

TEST(MailMessage, MimeLayouts)
{
    CMailMessage message;
    message.Mime = true;
    std::string header = message.ComposeHeader();
    EXPECT_NE(header.find("\r\nContent-Transfer-Encoding: quoted-printable\r\nMIME-Version: 1.0\r\nContent-Type: "
                          "text/plain\r\nDate: "),
              std::string::npos)
        << header;

    message.SetBodyText("primero");
    message.SetBodyText("segundo");
    ASSERT_EQ(message.RootPart.ChildPartCount(), 1);
    EXPECT_EQ(message.RootPart.ContentType, "multipart/mixed");
    EXPECT_EQ(message.RootPart.ChildPartAt(0)->PartText, "segundo");
    header = message.ComposeHeader();
    EXPECT_NE(header.find("Content-Transfer-Encoding: quoted-printable\r\nMIME-Version: 1.0\r\nContent-Type: "
                          "multipart/mixed; boundary=\"" + message.RootPart.Boundary + "\"\r\n"),
              std::string::npos)
        << header;
}
