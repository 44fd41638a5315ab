#include "mail/MailMessage.h"

#include <cstdio>

#include "mail/MailCoders.h"
#include "mail/MailPlatform.h"

namespace {

// CR and LF in a caller's text would start a header line of the caller's choosing.
std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

CMailAddress OneLine(const CMailAddress& address)
{
    return CMailAddress(OneLine(address.FriendlyName), OneLine(address.EmailAddress));
}

std::string AddressList(const std::vector<CMailAddress>& list, const std::string& charset)
{
    std::string text;
    for (const auto& address : list) {
        if (!text.empty()) text += ',';
        text += OneLine(address).FormatMailAddress(true, charset);
    }
    return text;
}

constexpr std::size_t kMaxFoldedLine = 78;

// Continuation lines before blanks, each line at most 78 characters where a blank allows it
// (never right after the field name, which would add a blank to the value).
std::string Fold(const std::string& line)
{
    if (line.size() <= kMaxFoldedLine) return line;
    std::string out;
    std::size_t start = 0;
    std::size_t earliest = line.find(':') + 2;
    while (line.size() - start > kMaxFoldedLine) {
        std::size_t at = std::string::npos;
        for (std::size_t k = start + kMaxFoldedLine; k >= earliest && k > start; --k)
            if (line[k] == ' ' || line[k] == '\t') {
                at = k;
                break;
            }
        if (at == std::string::npos) at = line.find_first_of(" \t", start + kMaxFoldedLine + 1);
        if (at == std::string::npos) break;
        out.append(line, start, at - start);
        out += "\r\n";
        start = at;
        earliest = start + 1;
    }
    out.append(line, start, std::string::npos);
    return out;
}

// A subject with a run of text that no fold could bring under 78 characters goes into
// encoded words, which may be cut anywhere.
std::string SubjectText(const std::string& subject, const std::string& charset)
{
    std::size_t run = sizeof "Subject:";
    for (const char c : subject) {
        run = c == ' ' || c == '\t' ? 0 : run + 1;
        if (run >= kMaxFoldedLine) return EncodeHeaderWords(subject, charset);
    }
    return EncodeHeaderText(subject, charset);
}

} // namespace

std::string FormatZoneText(long bias)
{
    const long magnitude = bias < 0 ? -bias : bias;
    char text[16];
    std::snprintf(text, sizeof text, "%c%02ld%02ld", bias > 0 ? '-' : '+', magnitude / 60 % 100, magnitude % 60);
    return text;
}

std::string FormatDateText(const std::tm& local, long bias)
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d ", days[(local.tm_wday % 7 + 7) % 7],
                  local.tm_mday, months[(local.tm_mon % 12 + 12) % 12], local.tm_year + 1900, local.tm_hour,
                  local.tm_min, local.tm_sec);
    return text + FormatZoneText(bias);
}

const std::vector<CMailAddress>* CMailMessage::List(int kind) const
{
    switch (kind) {
    case To: return &ToList;
    case Cc: return &CcList;
    case Bcc: return &BccList;
    default: return nullptr;
    }
}

int CMailMessage::AppendRecipient(const CMailAddress& address, int kind)
{
    auto* list = const_cast<std::vector<CMailAddress>*>(List(kind));
    if (!list) return -1;
    list->push_back(address);
    return static_cast<int>(list->size()) - 1;
}

int CMailMessage::RecipientCount(int kind) const
{
    const auto* list = List(kind);
    return list ? static_cast<int>(list->size()) : 0;
}

const CMailAddress* CMailMessage::RecipientAt(int index, int kind) const
{
    const auto* list = List(kind);
    return list ? &(*list)[static_cast<std::size_t>(index)] : nullptr;
}

void CMailMessage::SetBodyText(const std::string& text)
{
    if (!Mime) {
        RootPart.SetPartText(text);
        return;
    }
    for (int i = 0; i < RootPart.ChildPartCount(); ++i) {
        CMailBodyPart* child = RootPart.ChildPartAt(i);
        if (child->ContentType == "text/plain") {
            child->SetPartText(text);
            return;
        }
    }
    RootPart.SetPartText("This is a multi-part message in MIME format");
    RootPart.ContentType = "multipart/mixed";
    CMailBodyPart part;
    part.Charset = RootPart.Charset;
    part.SetPartText(text);
    RootPart.AddChildPart(part);
}

std::string CMailMessage::ComposeHeader()
{
    const std::string date = FormatDateText(LocalTimeNow(), LocalZoneBias());
    const std::string& charset = RootPart.Charset;
    const std::string to = AddressList(ToList, charset);
    const std::string cc = AddressList(CcList, charset);

    std::string header = Fold("From: " + OneLine(From).FormatMailAddress(true, charset));
    header += "\r\n" + Fold("To: " + to) + "\r\n";
    if (!cc.empty()) header += Fold("Cc: " + cc) + "\r\n";
    header += Fold("Subject: " + SubjectText(OneLine(Subject), charset));
    if (!XMailer.empty()) header += "\r\n" + Fold("X-Mailer: " + OneLine(XMailer));
    header += "\r\n";
    if (Mime) {
        if (RootPart.Base64Body) header += "Content-Transfer-Encoding: base64\r\n";
        else if (RootPart.QuotedPrintable) header += "Content-Transfer-Encoding: quoted-printable\r\n";
        header += "MIME-Version: 1.0\r\nContent-Type: " + RootPart.ContentType;
        if (RootPart.ChildPartCount() != 0) header += "; boundary=\"" + RootPart.Boundary + "\"";
        header += "\r\n";
    } else {
        header += "Content-Type: " + RootPart.ContentType + ";\r\n\tcharset=" + charset + "\r\n";
        if (RootPart.ChildPartCount() == 0 && NeedsQuotedPrintable(RootPart.PartText))
            header += "Content-Transfer-Encoding: quoted-printable\r\n";
    }
    if (!ReplyTo.EmailAddress.empty())
        header += Fold("Reply-To: " + OneLine(ReplyTo).FormatMailAddress(true, charset)) + "\r\n";
    header += "Date: " + date + "\r\n";
    for (const auto& line : ExtraHeaders) header += Fold(OneLine(line)) + "\r\n";
    return header;
}
