// The mail transaction of CMailConnection: MAIL, RCPT, DATA and the message's bytes.
#include "mail/MailConnection.h"

#include "mail/MailCoders.h"
#include "mail/MailPlatform.h"

bool CMailConnection::SendMailMessage(CMailMessage& message)
{
    // Refused before anything is sent: such an address would smuggle text into the command.
    bool safe = IsSafeMailAddress(message.From.EmailAddress);
    for (const auto* list : {&message.ToList, &message.CcList, &message.BccList})
        for (const auto& address : *list) safe = safe && IsSafeMailAddress(address.EmailAddress);
    if (!safe) {
        // No reply text: callers show the user their own words for it.
        LastReplyText.clear();
        m_failure = Failure::Unsafe;
        Report("CMailConnection::SendMessage, An address holds a line break, a NUL or an angle bracket; nothing "
               "was sent",
               kErrorInvalidParameter);
        return false;
    }

    if (!TransactionStep("MAIL FROM:<" + message.From.EmailAddress + ">\r\n",
                         "CMailConnection::SendMessage, Failed in call to send MAIL command, GetLastError returns: %d",
                         "CMailConnection::SendMessage, An unexpected MAIL response was received"))
        return false;
    for (const auto* list : {&message.ToList, &message.CcList, &message.BccList})
        for (const auto& address : *list)
            if (!SendRCPTForRecipient(address)) return false;

    if (!SendText("DATA\r\n")) return false;
    if (!AwaitReply(354, false)) {
        Report("CMailConnection::SendMessage, An unexpected DATA response was received", kErrorBadCommand);
        return false;
    }

    // No header line may begin with a lone full stop either.
    if (!SendText(DoubleLeadingDots(message.ComposeHeader()))) {
        Report("CMailConnection::SendMessage, Failed in call to send the header, GetLastError returns: %d",
               MailLastError());
        return false;
    }
    if (!SendText("\r\n")) {
        Report("CMailConnection::SendMessage, Failed in call to send the header / body separator, GetLastError "
               "returns: %d",
               MailLastError());
        return false;
    }

    CMailBodyPart& root = message.RootPart;
    if (root.ChildPartCount() != 0 || message.Mime) {
        if (!SendBodyPart(root, true)) return false;
    } else if (NeedsQuotedPrintable(root.PartText)) {
        // Lines too long for the wire: the header announced quoted-printable.
        if (!SendText(DoubleLeadingDots(QuotedPrintableEncode(UndoubleLeadingDots(root.PartText))))) return false;
    } else {
        // SetPartText leaves the dot of the first line single: it is doubled here.
        if (!root.PartText.empty() && root.PartText[0] == '.' && !SendText(".")) return false;
        if (!SendText(root.PartText)) return false;
    }

    return TransactionStep("\r\n.\r\n",
                           "CMailConnection::SendMessage, Failed in call to send end of message indicator, "
                           "GetLastError returns: %d",
                           "CMailConnection::SendMessage, An unexpected end of message response was received");
}

bool CMailConnection::SendRCPTForRecipient(const CMailAddress& address)
{
    return TransactionStep(
        "RCPT TO:<" + address.EmailAddress + ">\r\n",
        "CMailConnection::SendRCPTForRecipient, Failed in call to send RCPT command, GetLastError returns: %d",
        "CMailConnection::SendRCPTForRecipient, An unexpected RCPT response was received");
}

bool CMailConnection::TransactionStep(std::string_view command, const char* notSent, const char* refused)
{
    if (!SendText(command)) {
        Report(notSent, MailLastError());
        return false;
    }
    if (AwaitReply(250, false)) return true;
    Report(refused, kErrorBadCommand);
    return false;
}

bool CMailConnection::SendBodyPart(CMailBodyPart& part, bool isRoot)
{
    bool result = true;
    char* buffer = nullptr;
    std::size_t length = 0;
    auto fail = [&](const char* what) {
        const std::string format =
            std::string("CMailConnection::SendBodyPart, Failed in call to send body parts ") + what +
            ", GetLastError returns: %d";
        Report(format.c_str(), MailLastError());
    };

    // One piece as its builder made it: false when it could not be built (nothing more of the
    // part is sent); a failed send is reported and the rest still goes.
    const auto sendPiece = [&](bool built, const char* what, bool sendEmpty) {
        if (!built) {
            fail(what);
            return false;
        }
        if ((sendEmpty || length) && !SendText(std::string_view(buffer, length))) {
            fail(what);
            result = false;
        }
        CMailBodyPart::FreePartBuffer(buffer);
        return true;
    };

    if (!isRoot && !sendPiece(part.BuildPartHeader(buffer, length), "header", true)) return false;
    if (!sendPiece(part.BuildPartBody(buffer, length), "body", false)) return false;
    for (int i = 0; i < part.ChildPartCount() && result; ++i) result = SendBodyPart(*part.ChildPartAt(i), false);
    if (part.ChildPartCount() != 0 && !sendPiece(part.BuildPartFooter(buffer, length), "footer", true)) return false;
    return result;
}
