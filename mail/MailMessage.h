// One outgoing e-mail: sender, recipients, subject, body tree and header composition.
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "mail/MailAddress.h"
#include "mail/MailBodyPart.h"

class CMailMessage {
public:
    enum RecipientKind { To = 0, Cc = 1, Bcc = 2 };

    CMailMessage() = default;
    CMailMessage(const CMailMessage&) = delete;
    CMailMessage& operator=(const CMailMessage&) = delete;
    virtual ~CMailMessage() = default;

    // Stores a copy; answers its index in that list, or -1 for an unknown kind.
    int AppendRecipient(const CMailAddress& address, int kind);
    int RecipientCount(int kind) const;
    const CMailAddress* RecipientAt(int index, int kind) const;

    void SetBodyText(const std::string& text);
    // The header lines, each ended by CR LF; CR and LF inside the caller's texts become blanks,
    // long lines are folded, and a single-part body too long for the wire is announced as
    // quoted-printable.
    virtual std::string ComposeHeader();

    CMailAddress From;
    std::string Subject;
    std::string XMailer = "Notelia 2.5";
    CMailAddress ReplyTo;
    CMailBodyPart RootPart;
    std::vector<CMailAddress> ToList;
    std::vector<CMailAddress> CcList;
    std::vector<CMailAddress> BccList;
    std::vector<std::string> ExtraHeaders;
    bool Mime = false;

private:
    const std::vector<CMailAddress>* List(int kind) const;
};

// "+0530", "-0300" ... for a bias in minutes (UTC = local time + bias).
std::string FormatZoneText(long bias);
// "Sun, 06 Dec 2026 00:02:25 " followed by the zone text; English names whatever the locale.
std::string FormatDateText(const std::tm& local, long bias);
