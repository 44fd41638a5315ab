// Base64, quoted-printable, header words and UTF-8 on the cases that catch real faults.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "mail/Base64Coder.h"
#include "mail/MailCoders.h"
#include "tests/mail/MailTestText.h"

namespace {

std::string Encode(const std::string& data, CBase64Coder&& coder = CBase64Coder())
{
    coder.EncodeData(reinterpret_cast<const unsigned char*>(data.data()), static_cast<std::uint32_t>(data.size()));
    EXPECT_EQ(coder.EncodedText()[coder.EncodedLength()], 0);
    return std::string(coder.EncodedText(), coder.EncodedLength());
}

std::string Decode(const std::string& text, CBase64Coder&& coder = CBase64Coder())
{
    coder.DecodeData(reinterpret_cast<const unsigned char*>(text.data()), static_cast<std::uint32_t>(text.size()));
    EXPECT_EQ(coder.DecodedData()[coder.DecodedLength()], 0);  // always terminated
    return std::string(reinterpret_cast<const char*>(coder.DecodedData()), coder.DecodedLength());
}

} // namespace

TEST(Base64Coder, PaddingSkippedAndOutsideCharacters)
{
    // One coder for all rows: its buffers are reused and must not keep old bytes.
    CBase64Coder coder;
    Encode(std::string(200, 'q'), std::move(coder));
    Decode(std::string(200, 'Q'), std::move(coder));
    const struct {
        std::string data;  // "-": decoding only
        std::string text;
        std::string decoded;  // padding still counts three bytes; a partial group its characters
    } rows[] = {
        {"a", "YQ==", std::string("a\0\0", 3)},
        {"ab", "YWI=", std::string("ab\0", 3)},
        {"abc", "YWJj", "abc"},
        {std::string("\xff\xfe\x00", 3), "//4A", std::string("\xff\xfe\x00", 3)},
        {"", "", ""},
        {"-", "YWJjZ", "abcd"},
        {"-", "YQ", std::string("a\0", 2)},
        {"-", "SG9s\r\nYSBt\tdW5k\n b w==", std::string("Hola mundo\0\0", 12)},
        // 254 and 255 take part with their low six bits, as "+" (62) and "/" (63) do.
        {"-", "Y!Jj", "c\xE2" "c"},
        {"-", "=WJj", "\xFD" "bc"},
        // Bit 7 set on an alphabet character gives the character's value.
        {"-", "\xD9WJj", "abc"},
    };
    for (const auto& row : rows) {
        if (row.data != "-") { EXPECT_EQ(Encode(row.data, std::move(coder)), row.text) << row.data; }
        EXPECT_EQ(Decode(row.text, std::move(coder)), row.decoded) << row.text;
    }
    CBase64Coder fresh;
    fresh.EncodeData(nullptr, 0);
    EXPECT_STREQ(fresh.EncodedText(), "");
}

TEST(Base64Coder, LongInputHasNoLineBreaksAndComesBack)
{
    std::mt19937 random(7);
    std::string data(100003, '\0');
    for (char& c : data) c = static_cast<char>(random());
    const std::string encoded = Encode(data);
    EXPECT_EQ(encoded.size(), (data.size() + 2) / 3 * 4);
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(Decode(encoded), data + std::string(2, '\0'));
}

TEST(QuotedPrintable, Table)
{
    std::string words;
    while (words.size() < 120) words += "palabra ";
    const std::string x77(77, 'x');
    const struct {
        std::string text;
        std::string encoded;
    } rows[] = {
        {"a=b", "a=3Db"},
        {"caf\xE9", "caf=E9"},
        {"fin \t\r\nsigue \r\n", "fin \t\r\nsigue \r\n"},
        {std::string("\x01\x7F", 2), "=01=7F"},
        {std::string(76, 'x') + "\r\n" + x77, std::string(76, 'x') + "\r\n" + x77},
        // The last line may hold 78: its last position is handled before the length test.
        {std::string(78, 'x'), std::string(78, 'x')},
        {std::string(78, 'x') + "\r\n", x77 + "=\r\nx\r\n"},
        {std::string(100, 'x'), x77 + "=\r\n" + std::string(23, 'x')},
        // The escape begins where a forced break would fall: the break moves before it.
        {std::string(76, 'a') + "\xE9" + "bb", std::string(76, 'a') + "=\r\n=E9bb"},
        // Words: the break comes after the last blank within the first 78 characters.
        {words, words.substr(0, 72) + "=\r\n" + words.substr(72)},
    };
    for (const auto& row : rows) EXPECT_EQ(QuotedPrintableEncode(row.text), row.encoded) << row.text;
    EXPECT_EQ(QuotedPrintableEncode(static_cast<const char*>(nullptr)), "");
}

TEST(QuotedPrintable, EscapesNearEveryBreakAndSpanishTextComeBack)
{
    std::mt19937 random(3);
    for (int round = 0; round < 300; ++round) {
        std::string mixed;
        const int length = 70 + static_cast<int>(random() % 200);
        for (int i = 0; i < length; ++i) {
            const unsigned pick = random() % 10;
            mixed += pick < 6 ? 'q' : pick < 8 ? '\xF1' : pick < 9 ? '=' : ' ';
        }
        const std::string encoded = QuotedPrintableEncode(mixed);
        ASSERT_EQ(DecodeQuotedPrintable(encoded), mixed) << encoded;
    }
    const std::string text = SpanishSample(20000);
    EXPECT_EQ(DecodeQuotedPrintable(QuotedPrintableEncode(text)), text);
}

TEST(HeaderWords, Table)
{
    std::string ascii;
    for (int i = 0; i < 300; ++i) ascii += static_cast<char>(32 + i % 95);
    const struct {
        std::string text;
        const char* charset;
        std::string encoded;
    } rows[] = {
        {ascii, "iso-8859-1", ascii},
        {"", "iso-8859-1", ""},
        {"A\xF1o", "iso-8859-1", "=?iso-8859-1?q?A=F1o?="},
        {"A\xF1o nuevo", "iso-8859-1", "=?iso-8859-1?q?A=F1o_nuevo?="},
        {"A\xF1o", "UTF-8", "=?UTF-8?q?A=C3=B1o?="},
    };
    for (const auto& row : rows) EXPECT_EQ(EncodeHeaderText(row.text, row.charset), row.encoded) << row.text;
    EXPECT_EQ(EncodeHeaderWords("ab c", "iso-8859-1"), "=?iso-8859-1?q?ab_c?=");
}

TEST(ConvertToUtf8, FromWindows1252AndSurrogates)
{
    EXPECT_EQ(ConvertToUtf8("\xF1 \x80 \x9F plain"), "\xC3\xB1 \xE2\x82\xAC \xC5\xB8 plain");
    const struct {
        std::u16string units;
        std::string utf8;
    } rows[] = {
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        {std::u16string{0xD83D, u'A'}, "\xED\xA0\xBD" "A"},
        {std::u16string{0xD83D}, "\xED\xA0\xBD"},
        {std::u16string{0xDE00, u'b'}, "\xED\xB8\x80" "b"},
        {u"\x07FF\x0800", "\xDF\xBF\xE0\xA0\x80"},
    };
    for (const auto& row : rows) {
        std::string out(Utf16ToUtf8(row.units.data(), row.units.size(), nullptr, 0), '\0');
        EXPECT_EQ(Utf16ToUtf8(row.units.data(), row.units.size(), out.data(), out.size()), out.size());
        EXPECT_EQ(out, row.utf8);
    }
    const std::u16string pair = u"\xD83D\xDE00";
    char small[3];
    EXPECT_EQ(Utf16ToUtf8(pair.data(), pair.size(), small, sizeof small), 0u);
}
