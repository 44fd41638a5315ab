#include "mail/MailCoders.h"

#include "mail/MailPlatform.h"

#include <cstring>

char HexDigit(int value)
{
    return static_cast<char>(value < 10 ? value + 48 : value + 55);
}

namespace {

// 1 where quoted-printable copies the byte as it stands.
struct QpTable {
    unsigned char Plain[256];
    QpTable()
    {
        for (unsigned c = 0; c < 256; ++c)
            Plain[c] = (c >= 33 && c <= 126 && c != 61) || c == 9 || c == 10 || c == 13 || c == 32;
    }
};

bool IsQpSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

} // namespace

std::string QuotedPrintableEncode(const char* text)
{
    return QuotedPrintableEncode(std::string_view(text ? text : ""));
}

std::string QuotedPrintableEncode(std::string_view text)
{
    static const QpTable table;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    if (n == 0) return {};

    // The output is sized once from the escaped length.
    std::size_t escapes = 0;
    for (std::size_t i = 0; i < n; ++i) escapes += !table.Plain[in[i]];
    const std::size_t escapedLength = n + 2 * escapes;
    std::string out;
    std::size_t room = escapedLength + 3 * (escapedLength / 38 + 2);
    out.reserve(room);
    AdviseLargeBlock(out.data(), room);
    out.resize(room);
    std::size_t written = 0;
    auto put = [&](const char* bytes, std::size_t count) {
        if (written + count > out.size()) out.resize(out.size() + out.size() / 2 + count);
        std::memcpy(out.data() + written, bytes, count);
        written += count;
    };

    // Line by line (a segment always ends at a CR or LF): escape pass into `e`, then the line
    // pass with its soft breaks.
    std::string line;
    for (std::size_t i = 0; i < n;) {
        std::size_t end = i;
        while (end < n && in[end] != '\r' && in[end] != '\n') ++end;
        if (end < n) ++end;  // the CR or LF closes the line
        if (line.size() < 3 * (end - i)) line.resize(3 * (end - i));
        char* e = line.data();
        std::size_t length = 0;
        for (std::size_t k = i; k < end; ++k) {
            const unsigned char c = in[k];
            if (table.Plain[c]) {
                e[length++] = static_cast<char>(c);
            } else {
                e[length] = '=';
                e[length + 1] = HexDigit(c >> 4);
                e[length + 2] = HexDigit(c & 15);
                length += 3;
            }
        }
        i = end;

        std::size_t s = 0;
        while (length - 1 > s + 77) {
            // The segment has reached 78 characters: break after the last blank or escape
            // within it, else after 77 characters, but never inside an escape.
            std::size_t k = s + 77;
            while (k > s && !IsQpSpace(e[k]) && !(k > 1 && e[k - 2] == '=')) --k;
            if (k == s) {
                k = s + 76;
                if (e[k] == '=') k -= 1;
                else if (e[k - 1] == '=') k -= 2;
            }
            put(e + s, k + 1 - s);
            put("=\r\n", 3);
            s = k + 1;
        }
        put(e + s, length - s);
    }
    out.resize(written);
    return out;
}

namespace {

// Inside an encoded word only letters, digits and "!*+-/" stand for themselves (the set that
// is safe in a display name as well as in a subject); a blank becomes "_".
struct QWordTable {
    unsigned char Plain[256];
    QWordTable()
    {
        for (unsigned c = 0; c < 256; ++c)
            Plain[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' ||
                       c == '*' || c == '+' || c == '-' || c == '/';
    }
};

const QWordTable& WordTable()
{
    static const QWordTable table;
    return table;
}

void AppendQ(std::string& out, unsigned char c)
{
    if (WordTable().Plain[c]) {
        out += static_cast<char>(c);
    } else if (c == ' ') {
        out += '_';
    } else {
        out += '=';
        out += HexDigit(c >> 4);
        out += HexDigit(c & 15);
    }
}

std::size_t QLength(unsigned char c)
{
    return WordTable().Plain[c] || c == ' ' ? 1 : 3;
}

bool HasHighByte(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) > 127) return true;
    return false;
}

// Bytes of the character that starts at `text[i]`: one, or a whole UTF-8 sequence.
std::size_t CharacterLength(std::string_view text, std::size_t i, bool utf8)
{
    if (!utf8) return 1;
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::size_t k = 1;
    while (k < length && i + k < text.size() && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80) ++k;
    return k;
}

// Below the 75 allowed: the first word must fit after "Subject: " on a 78-character line.
constexpr std::size_t kMaxEncodedWord = 69;

} // namespace

std::string QEncodeHeaderWord(std::string_view piece, const std::string& charset)
{
    if (!HasHighByte(piece)) return std::string(piece);
    std::string out = "=?" + charset + "?q?";
    for (const char c : piece) AppendQ(out, static_cast<unsigned char>(c));
    out += "?=";
    return out;
}

std::string EncodeHeaderText(std::string_view text, const std::string& charset)
{
    const bool utf8 = EqualsNoCase(charset, "UTF-8");
    const std::string working = utf8 ? ConvertToUtf8(text) : std::string(text);
    if (!HasHighByte(working)) return working;
    return EncodeHeaderWords(text, charset);
}

std::string EncodeHeaderWords(std::string_view text, const std::string& charset)
{
    const bool utf8 = EqualsNoCase(charset, "UTF-8");
    const std::string working = utf8 ? ConvertToUtf8(text) : std::string(text);

    const std::string prefix = "=?" + charset + "?q?";
    std::string out;
    std::string word = prefix;
    for (std::size_t i = 0; i < working.size();) {
        const std::size_t bytes = CharacterLength(working, i, utf8);
        std::size_t cost = 0;
        for (std::size_t k = 0; k < bytes; ++k) cost += QLength(static_cast<unsigned char>(working[i + k]));
        // A word holds at least one character, however long the charset name.
        if (word.size() > prefix.size() && word.size() + cost + 2 > kMaxEncodedWord) {
            out += word;
            out += "?= ";
            word = prefix;
        }
        for (std::size_t k = 0; k < bytes; ++k) AppendQ(word, static_cast<unsigned char>(working[i + k]));
        i += bytes;
    }
    out += word;
    out += "?=";
    return out;
}

namespace {

// Windows-1252 0x80..0x9F; the five unassigned bytes keep their own value, as the system's
// conversion does.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

std::size_t Utf16ToUtf8(const char16_t* units, std::size_t count, char* buffer, std::size_t capacity)
{
    std::size_t written = 0;
    auto put = [&](const unsigned char* bytes, std::size_t n) {
        if (buffer) {
            if (written + n > capacity) return false;
            std::memcpy(buffer + written, bytes, n);
        }
        written += n;
        return true;
    };
    auto three = [&](unsigned u) {
        const unsigned char b[3] = {static_cast<unsigned char>(0xE0 | (u >> 12)),
                                    static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F)),
                                    static_cast<unsigned char>(0x80 | (u & 0x3F))};
        return put(b, 3);
    };
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned u = units[i];
        bool ok;
        if (u < 0x80) {
            const unsigned char b = static_cast<unsigned char>(u);
            ok = put(&b, 1);
        } else if (u < 0x800) {
            const unsigned char b[2] = {static_cast<unsigned char>(0xC0 | (u >> 6)),
                                        static_cast<unsigned char>(0x80 | (u & 0x3F))};
            ok = put(b, 2);
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            const unsigned cp = (u - 0xD800) * 1024 + (units[i + 1] - 0xDC00) + 0x10000;
            const unsigned char b[4] = {static_cast<unsigned char>(0xF0 | (cp >> 18)),
                                        static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F)),
                                        static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)),
                                        static_cast<unsigned char>(0x80 | (cp & 0x3F))};
            ok = put(b, 4);
            ++i;
        } else {
            ok = three(u);
        }
        if (!ok) return 0;
    }
    return written;
}

std::string ConvertToUtf8(std::string_view text)
{
    std::u16string wide(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        wide[i] = c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<char16_t>(c);
    }
    const std::size_t needed = Utf16ToUtf8(wide.data(), wide.size(), nullptr, 0);
    std::string out(needed, '\0');
    if (needed) Utf16ToUtf8(wide.data(), wide.size(), out.data(), out.size());
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}
