// One node of a MIME body: a text or an attached file, with its child parts.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/Base64Coder.h"

class CMailBodyPart {
public:
    CMailBodyPart();
    CMailBodyPart(const CMailBodyPart& source);
    CMailBodyPart& operator=(const CMailBodyPart& source);
    virtual ~CMailBodyPart();

    // Deep copy; the copy keeps the source's boundary and parent.
    void CopyPart(const CMailBodyPart& source);
    // CR LF line ends only, and every full stop that begins a line after the first doubled.
    void SetPartText(std::string_view text);
    // Appends a deep copy whose parent is this part; answers its index.
    int AddChildPart(const CMailBodyPart& part);
    int ChildPartCount() const;
    CMailBodyPart* ChildPartAt(int index) const;

    // Each hands over a new NUL-terminated buffer (release it with FreePartBuffer) and its
    // length. The body may be no buffer with length 0 (an empty file). Text bodies carry every
    // line-leading full stop doubled once, ready for the DATA phase.
    bool BuildPartHeader(char*& buffer, std::size_t& length) const;
    bool BuildPartBody(char*& buffer, std::size_t& length);
    bool BuildPartFooter(char*& buffer, std::size_t& length) const;
    static void FreePartBuffer(char*& buffer);

    std::string FilePath;
    std::string FileTitle;
    std::string ContentType = "text/plain";
    std::string Charset = "iso-8859-1";
    std::string ContentBase;
    std::string ContentId;
    std::string ContentLocation;
    std::string PartText;
    CBase64Coder PartCoder;
    std::vector<std::unique_ptr<CMailBodyPart>> Children;
    CMailBodyPart* ParentPart = nullptr;
    std::string Boundary;
    bool QuotedPrintable = true;
    bool Base64Body = false;
};

// True when a line of a single-part text (as SetPartText leaves it) would pass the 998
// bytes a mail line may hold on the wire: the text must then go quoted-printable.
bool NeedsQuotedPrintable(std::string_view partText);
// Every full stop at the start of a line doubled, the first line included.
std::string DoubleLeadingDots(std::string_view text);
// Undoes the doubling that SetPartText does (not that of the first line).
std::string UndoubleLeadingDots(std::string_view text);
