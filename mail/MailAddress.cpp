#include "mail/MailAddress.h"

#include <utility>

#include "mail/MailCoders.h"

namespace {
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
} // namespace

std::string TrimBlanks(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

CMailAddress::CMailAddress(std::string friendlyName, std::string emailAddress)
    : FriendlyName(std::move(friendlyName)), EmailAddress(std::move(emailAddress))
{
}

void CMailAddress::ParseMailAddress(const std::string& text)
{
    const std::string trimmed = TrimBlanks(text);
    const std::size_t open = trimmed.find('<');
    const std::size_t close = trimmed.find('>');
    if (open != std::string::npos && close != std::string::npos && close >= open + 2) {
        EmailAddress = trimmed.substr(open + 1, close - open - 1);
        FriendlyName = TrimBlanks(trimmed.substr(0, open));
    } else {
        EmailAddress = trimmed;
        FriendlyName.clear();
    }
}

std::string CMailAddress::FormatMailAddress(bool encode, const std::string& charset) const
{
    if (FriendlyName.empty()) return EmailAddress;
    const std::string name = encode ? EncodeHeaderText(FriendlyName, charset) : FriendlyName;
    return name + " <" + EmailAddress + ">";
}

bool IsSafeMailAddress(const std::string& address)
{
    return address.find_first_of(std::string("\r\n<>\0", 5)) == std::string::npos;
}
