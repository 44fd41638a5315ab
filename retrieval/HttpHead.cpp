#include "retrieval/HttpHead.h"

#include <algorithm>
#include <limits>

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

// HTTP/1.1 and later keep the connection unless told otherwise; absent: no version.
std::optional<bool> KeepsByDefault(std::string_view line)
{
    const std::string_view version = line.substr(5, line.find(' ') - 5);
    const std::size_t dot = version.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const auto number = [](std::string_view digits) -> std::optional<unsigned> {
        if (digits.empty() || digits.size() > 3) return std::nullopt;
        unsigned n = 0;
        for (const char c : digits) {
            if (!IsDigit(c)) return std::nullopt;
            n = n * 10 + static_cast<unsigned>(c - '0');
        }
        return n;
    };
    const auto major = number(version.substr(0, dot));
    const auto minor = number(version.substr(dot + 1));
    if (!major || !minor) return std::nullopt;
    return *major > 1 || (*major == 1 && *minor >= 1);
}

// A value that can go back to the server in a request header.
std::string Validator(std::string_view value)
{
    if (value.size() > kMaxValidator) return {};
    for (const char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return {};
    return std::string(value);
}

// The digits of a length without leading zeros; absent when `value` is no length.
std::optional<std::string_view> LengthDigits(std::string_view value)
{
    value = Trimmed(value);
    if (value.empty()) return std::nullopt;
    for (const char c : value)
        if (!IsDigit(c)) return std::nullopt;
    while (value.size() > 1 && value.front() == '0') value.remove_prefix(1);
    return value;
}

// The number, or maxLength + 1 when over it, computed so that nothing can wrap.
std::uint64_t BoundedLength(std::string_view digits, std::uint64_t maxLength)
{
    std::uint64_t length = 0;
    for (const char c : digits) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (length > maxLength / 10 || digit > maxLength - length * 10)
            return maxLength == std::numeric_limits<std::uint64_t>::max() ? maxLength : maxLength + 1;
        length = length * 10 + digit;
    }
    return length;
}

// Calls `item` with each non-empty element of a comma-separated list, trimmed.
template <typename Item>
void ForEachItem(std::string_view list, Item item)
{
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        if (const std::string_view one = Trimmed(list.substr(at, comma - at)); !one.empty()) item(one);
        at = comma + 1;
    }
}

// Takes one header field into `head`; false when it contradicts an earlier one.
bool TakeField(std::string_view name, std::string_view value, std::uint64_t maxLength, HttpHead& head,
               std::string& lengthDigits, int& connection)
{
    value = Trimmed(value);
    if (EqualsNoCase(name, "content-length")) {
        const auto digits = LengthDigits(value);
        if (!digits || (head.length && lengthDigits != *digits)) return false;
        lengthDigits = *digits;
        head.length = BoundedLength(*digits, maxLength);
    } else if (EqualsNoCase(name, "transfer-encoding")) {
        // Readable only when "chunked" is the one coding of all the fields.
        ForEachItem(value, [&](std::string_view coding) {
            const bool first = head.transfer == TransferCoding::None;
            head.transfer = first && EqualsNoCase(coding, "chunked") ? TransferCoding::Chunked : TransferCoding::Other;
        });
    } else if (EqualsNoCase(name, "content-encoding")) {
        ForEachItem(value, [&](std::string_view coding) { head.encoded |= !EqualsNoCase(coding, "identity"); });
    } else if (EqualsNoCase(name, "content-type")) {
        head.html |= EqualsNoCase(Trimmed(value.substr(0, value.find(';'))), "text/html");
    } else if (EqualsNoCase(name, "connection")) {
        // "close" wins over "keep-alive", whatever their order.
        ForEachItem(value, [&](std::string_view option) {
            if (EqualsNoCase(option, "close")) connection = -1;
            else if (EqualsNoCase(option, "keep-alive") && connection == 0) connection = 1;
        });
    } else if (EqualsNoCase(name, "etag")) {
        if (head.etag.empty()) head.etag = Validator(value);
    } else if (EqualsNoCase(name, "last-modified")) {
        if (head.lastModified.empty()) head.lastModified = Validator(value);
    } else if (EqualsNoCase(name, "location")) {
        if (head.location && *head.location != value) return false;
        head.location = std::string(value);
    }
    return true;
}

} // namespace

HttpHead ParseHttpHead(std::string_view received, std::uint64_t maxLength)
{
    HttpHead head;
    std::string lengthDigits;
    std::optional<bool> keeps;
    int connection = 0;  // -1 close, 1 keep-alive
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
            if (head.status) keeps = KeepsByDefault(line);
            if (!line.empty()) continue;
        }
        if (line.empty()) {
            head.size = at;
            head.state = HeadState::Complete;
            head.persistent = keeps && connection != -1 && (*keeps || connection == 1);
            return head;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        if (!TakeField(line.substr(0, colon), line.substr(colon + 1), maxLength, head, lengthDigits, connection)) {
            head.state = HeadState::Invalid;
            return head;
        }
    }
}
