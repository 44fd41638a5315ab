// A display name with an e-mail address.
#pragma once

#include <string>

class CMailAddress {
public:
    CMailAddress() = default;
    CMailAddress(std::string friendlyName, std::string emailAddress);

    // "Name <address>" or a bare address; brackets that enclose nothing, or that come in the
    // wrong order, leave the whole trimmed text as the address.
    void ParseMailAddress(const std::string& text);
    // The bare address without a display name, else "name <address>" with the name encoded
    // for a header when `encode` is set.
    std::string FormatMailAddress(bool encode, const std::string& charset) const;

    std::string FriendlyName;
    std::string EmailAddress;
};

std::string TrimBlanks(const std::string& text);

// Whether an address can stand in a MAIL FROM or RCPT TO command: CR or LF would end the
// command early, NUL would cut it, angle brackets would end the path.
bool IsSafeMailAddress(const std::string& address);
