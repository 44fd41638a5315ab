#include "retrieval/HttpHead.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view text, std::string_view lower)
{
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (Lower(text[i]) != lower[i]) return false;
    return true;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<unsigned> StatusOf(std::string_view line)
{
    if (line.size() < 5 || !EqualsNoCase(line.substr(0, 5), "http/")) return std::nullopt;
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return std::nullopt;
    const std::string_view code = line.substr(blank + 1);
    if (code.size() < 3 || !IsDigit(code[0]) || !IsDigit(code[1]) || !IsDigit(code[2])) return std::nullopt;
    if (code.size() > 3 && !IsBlank(code[3])) return std::nullopt;
    return static_cast<unsigned>((code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0'));
}

// False when `value` is no length; a length over `maxLength` becomes maxLength + 1, so that
// no number, however long, can wrap.
bool LengthOf(std::string_view value, std::uint64_t maxLength, std::uint64_t& length)
{
    value = Trimmed(value);
    if (value.empty()) return false;
    length = 0;
    for (const char c : value) {
        if (!IsDigit(c)) return false;
        if (length <= maxLength) length = length * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (length > maxLength) length = maxLength + 1;
    return true;
}

} // namespace

HttpHead ParseHttpHead(std::string_view received, std::uint64_t maxLength)
{
    HttpHead head;
    const std::string_view window = received.substr(0, kMaxHttpHead);
    bool first = true;
    for (std::size_t at = 0;;) {
        const std::size_t end = window.find('\n', at);
        if (end == std::string_view::npos) {
            head.state = received.size() >= kMaxHttpHead ? HeadState::Invalid : HeadState::Incomplete;
            return head;
        }
        std::string_view line = window.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        at = end + 1;
        if (first) {
            first = false;
            head.status = StatusOf(line);
            if (!line.empty()) continue;
        }
        if (line.empty()) {
            head.size = at;
            head.state = HeadState::Complete;
            return head;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !EqualsNoCase(line.substr(0, colon), "content-length")) continue;
        std::uint64_t length = 0;
        if (!LengthOf(line.substr(colon + 1), maxLength, length) || (head.length && *head.length != length)) {
            head.state = HeadState::Invalid;
            return head;
        }
        head.length = length;
    }
}
