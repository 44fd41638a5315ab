#include "retrieval/MessageText.h"

#include <cstdint>
#include <string_view>

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// 0x80 to 0x9F of Windows-1252; the five unassigned bytes map to the C1 controls, as the
// system's own conversion maps them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::u16string FromCp1252(std::string_view bytes)
{
    std::u16string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char16_t>(b));
    }
    return text;
}

void AppendCodePoint(std::u16string& text, std::uint32_t cp)
{
    if (cp < 0x10000) {
        text.push_back(static_cast<char16_t>(cp));
        return;
    }
    cp -= 0x10000;
    text.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    text.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

// Decodes strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF); a byte
// that does not start a well-formed sequence becomes U+FFFD. Answers whether all were valid.
bool FromUtf8(std::string_view bytes, std::u16string& text)
{
    text.reserve(bytes.size());
    bool valid = true;
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    while (i < bytes.size()) {
        const unsigned char lead = at(i);
        if (lead < 0x80) {
            text.push_back(lead);
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t cp = 0;
        // The allowed range of the second byte excludes overlong forms, surrogates and
        // values beyond U+10FFFF.
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        bool ok = length != 0 && i + length <= bytes.size();
        for (std::size_t k = 1; ok && k < length; ++k) {
            const unsigned char next = at(i + k);
            ok = k == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (!ok) {
            valid = false;
            text.push_back(kReplacement);
            ++i;
            continue;
        }
        AppendCodePoint(text, cp);
        i += length;
    }
    return valid;
}

bool IsLowSurrogate(char16_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

std::u16string BreakLongLines(const std::u16string& text, std::size_t maxLine)
{
    if (maxLine < 2) maxLine = 2;
    std::u16string out;
    out.reserve(text.size() + text.size() / maxLine * 2);
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool ending = c == u'\n' || (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n');
        if (!ending && out.size() - lineStart >= maxLine) {
            std::size_t cut = out.size();
            // Between words where the line's second half has a space.
            const std::size_t half = lineStart + maxLine / 2;
            const std::size_t space = std::u16string_view(out).substr(half).find_last_of(u' ');
            if (space != std::u16string_view::npos) cut = half + space + 1;
            else if (IsLowSurrogate(c) || out.back() == u'\r') --cut;
            out.insert(cut, u"\r\n");
            lineStart = cut + 2;
        }
        out.push_back(c);
        if (c == u'\n') lineStart = out.size();
    }
    return out;
}

bool HasNonAscii(std::string_view bytes)
{
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

} // namespace

std::u16string MessageViewText(std::string_view bytes, std::size_t maxLine)
{
    bytes = bytes.substr(0, bytes.find('\0'));
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::u16string text;
    if (bytes.substr(0, 3) == kByteOrderMark) {
        FromUtf8(bytes.substr(3), text);
    } else if (!HasNonAscii(bytes) || !FromUtf8(bytes, text)) {
        text = FromCp1252(bytes);
    }
    return BreakLongLines(text, maxLine);
}
