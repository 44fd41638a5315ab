#include "mail/MailBodyPart.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "mail/MailCoders.h"
#include "mail/MailPlatform.h"

namespace {

char* NewBuffer(std::string_view text, std::size_t& length)
{
    char* buffer = new char[text.size() + 1];
    if (!text.empty()) std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = 0;
    length = text.size();
    return buffer;
}

// The encoded text in lines of 76 characters, each ended by CR LF.
char* Base64Lines(const char* encoded, std::size_t n, std::size_t& length)
{
    char* buffer = new char[n + 2 * (n / 76) + 3];
    std::size_t written = 0;
    for (std::size_t i = 0; i < n; i += 76) {
        const std::size_t line = n - i < 76 ? n - i : 76;
        std::memcpy(buffer + written, encoded + i, line);
        written += line;
        buffer[written++] = '\r';
        buffer[written++] = '\n';
    }
    buffer[written] = 0;
    length = written;
    return buffer;
}

std::string Format(const char* pattern, std::initializer_list<const std::string*> values)
{
    // The patterns hold only %s conversions, filled in order.
    std::string out;
    auto value = values.begin();
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && value != values.end()) {
            out += **value++;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

} // namespace

bool NeedsQuotedPrintable(std::string_view partText)
{
    constexpr std::size_t kMaxLine = 998;
    // The first line's leading dot is doubled only when sent.
    std::size_t start = partText.empty() || partText[0] != '.' ? 0 : std::size_t(-1);
    for (std::size_t i = 0; i < partText.size(); ++i) {
        if (partText[i] != '\r' && partText[i] != '\n') continue;
        if (i - start > kMaxLine) return true;
        start = i + 1;
    }
    return partText.size() - start > kMaxLine;
}

std::string DoubleLeadingDots(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '.' && (i == 0 || text[i - 1] == '\n')) {
            out.append(text.data() + run, i - run);
            out += '.';
            run = i;
        }
    }
    out.append(text.data() + run, text.size() - run);
    return out;
}

std::string UndoubleLeadingDots(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t run = 0;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i - 1] == '\n' && text[i] == '.' && text[i + 1] == '.') {
            out.append(text.data() + run, i - run);
            run = i + 1;
        }
    }
    out.append(text.data() + run, text.size() - run);
    return out;
}

CMailBodyPart::CMailBodyPart() : Boundary(NewUuidText())
{
}

CMailBodyPart::CMailBodyPart(const CMailBodyPart& source)
{
    CopyPart(source);
}

CMailBodyPart& CMailBodyPart::operator=(const CMailBodyPart& source)
{
    if (this != &source) CopyPart(source);
    return *this;
}

CMailBodyPart::~CMailBodyPart() = default;

void CMailBodyPart::CopyPart(const CMailBodyPart& source)
{
    FilePath = source.FilePath;
    PartText = source.PartText;
    FileTitle = source.FileTitle;
    ContentType = source.ContentType;
    Charset = source.Charset;
    ContentBase = source.ContentBase;
    ContentId = source.ContentId;
    ContentLocation = source.ContentLocation;
    ParentPart = source.ParentPart;
    Boundary = source.Boundary;
    QuotedPrintable = source.QuotedPrintable;
    Base64Body = source.Base64Body;
    // Copies first: the source may be one of our own descendants.
    std::vector<std::unique_ptr<CMailBodyPart>> copies;
    copies.reserve(source.Children.size());
    for (const auto& child : source.Children) {
        copies.push_back(std::make_unique<CMailBodyPart>(*child));
        copies.back()->ParentPart = this;
    }
    Children = std::move(copies);
}

void CMailBodyPart::SetPartText(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 16);
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t run = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = p[i];
        if (c != '\r' && c != '\n') continue;
        out.append(p + run, i - run);
        if (c == '\r' && i + 1 < n && p[i + 1] == '\n') ++i;
        out += "\r\n";
        if (i + 1 < n && p[i + 1] == '.') out += '.';
        run = i + 1;
    }
    out.append(p + run, n - run);
    PartText = std::move(out);
    ContentType = "text/plain";
}

int CMailBodyPart::AddChildPart(const CMailBodyPart& part)
{
    auto copy = std::make_unique<CMailBodyPart>(part);
    copy->ParentPart = this;
    Children.push_back(std::move(copy));
    return static_cast<int>(Children.size()) - 1;
}

int CMailBodyPart::ChildPartCount() const
{
    return static_cast<int>(Children.size());
}

CMailBodyPart* CMailBodyPart::ChildPartAt(int index) const
{
    return Children[static_cast<std::size_t>(index)].get();
}

bool CMailBodyPart::BuildPartHeader(char*& buffer, std::size_t& length) const
{
    static const std::string none;
    const std::string& parent = ParentPart ? ParentPart->Boundary : none;
    const bool children = !Children.empty();
    std::string header;
    if (!FilePath.empty()) {
        header = children ? Format("\r\n\r\n--%s\r\nContent-Type: %s; charset=%s; name=%s; Boundary=\"%s\"\r\n"
                                   "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
                                   "filename=\"%s\"\r\n",
                                   {&parent, &ContentType, &Charset, &FileTitle, &Boundary, &FileTitle})
                          : Format("\r\n\r\n--%s\r\nContent-Type: %s; charset=%s; name=%s\r\n"
                                   "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
                                   "filename=\"%s\"\r\n",
                                   {&parent, &ContentType, &Charset, &FileTitle, &FileTitle});
    } else {
        const char* encoding = Base64Body        ? "Content-Transfer-Encoding: base64\r\n"
                               : QuotedPrintable ? "Content-Transfer-Encoding: quoted-printable\r\n"
                                                 : "";
        header = children ? Format("\r\n--%s\r\nContent-Type: %s; charset=%s; Boundary=\"%s\"\r\n",
                                   {&parent, &ContentType, &Charset, &Boundary})
                          : Format("\r\n--%s\r\nContent-Type: %s; charset=%s\r\n", {&parent, &ContentType, &Charset});
        header += encoding;
    }
    if (!ContentBase.empty()) header += "Content-Base: " + ContentBase + "\r\n";
    if (!ContentId.empty()) header += "Content-ID: " + ContentId + "\r\n";
    if (!ContentLocation.empty()) header += "Content-Location: " + ContentLocation + "\r\n";
    header += "\r\n";
    buffer = NewBuffer(header, length);
    return true;
}

bool CMailBodyPart::BuildPartBody(char*& buffer, std::size_t& length)
{
    buffer = nullptr;
    length = 0;
    if (!FilePath.empty()) {
        std::FILE* file = OpenFileDenyWrite(FilePath);
        if (!file) return false;
        bool ok = std::fseek(file, 0, SEEK_END) == 0;
        const long size = ok ? std::ftell(file) : -1;
        ok = ok && size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
        if (ok && size > 0) {
            std::unique_ptr<unsigned char[]> data(new unsigned char[static_cast<std::size_t>(size)]);
            ok = std::fread(data.get(), 1, static_cast<std::size_t>(size), file) == static_cast<std::size_t>(size);
            if (ok) {
                PartCoder.EncodeData(data.get(), static_cast<std::uint32_t>(size));
                data.reset();
                buffer = Base64Lines(PartCoder.EncodedText(), PartCoder.EncodedLength(), length);
            }
        }
        std::fclose(file);
        return ok;
    }

    // The text without the doubling that SetPartText did; the dots are doubled again below on
    // whatever lines the encoding leaves, so each is doubled exactly once on the wire.
    std::string working = UndoubleLeadingDots(PartText);
    if (EqualsNoCase(Charset, "UTF-8")) working = ConvertToUtf8(working);
    if (Base64Body) {
        PartCoder.EncodeData(reinterpret_cast<const unsigned char*>(working.data()),
                             static_cast<std::uint32_t>(working.size()));
        buffer = Base64Lines(PartCoder.EncodedText(), PartCoder.EncodedLength(), length);
    } else if (QuotedPrintable) {
        buffer = NewBuffer(DoubleLeadingDots(QuotedPrintableEncode(working)), length);
    } else {
        buffer = NewBuffer(DoubleLeadingDots(working), length);
    }
    return true;
}

bool CMailBodyPart::BuildPartFooter(char*& buffer, std::size_t& length) const
{
    buffer = NewBuffer("\r\n--" + Boundary + "--", length);
    return true;
}

void CMailBodyPart::FreePartBuffer(char*& buffer)
{
    delete[] buffer;
    buffer = nullptr;
}
