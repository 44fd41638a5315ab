// Base64, quoted-printable, header words and UTF-8 on the cases that catch real faults.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "mail/Base64Coder.h"
#include "mail/MailCoders.h"
#include "tests/mail/MailTestText.h"

namespace {

std::string Encode(const std::string& data)
{
    CBase64Coder coder;
    coder.EncodeData(reinterpret_cast<const unsigned char*>(data.data()), static_cast<std::uint32_t>(data.size()));
    return std::string(coder.EncodedText(), coder.EncodedLength());
}

std::string Decode(const std::string& text)
{
    CBase64Coder coder;
    coder.DecodeData(reinterpret_cast<const unsigned char*>(text.data()), static_cast<std::uint32_t>(text.size()));
    return std::string(reinterpret_cast<const char*>(coder.DecodedData()), coder.DecodedLength());
}

} // namespace

TEST(Base64Coder, EmptyInputGivesAnEmptyTextNeverNull)
{
    CBase64Coder fresh;
    fresh.EncodeData(nullptr, 0);
    ASSERT_NE(fresh.EncodedText(), nullptr);
    EXPECT_STREQ(fresh.EncodedText(), "");
    EXPECT_EQ(fresh.EncodedLength(), 0u);

    CBase64Coder used;
    used.EncodeText("abcdef");
    used.EncodeText("");
    EXPECT_STREQ(used.EncodedText(), "");
    EXPECT_EQ(used.EncodedLength(), 0u);
}

TEST(Base64Coder, PaddingOfOneTwoAndThreeBytes)
{
    EXPECT_EQ(Encode("a"), "YQ==");
    EXPECT_EQ(Encode("ab"), "YWI=");
    EXPECT_EQ(Encode("abc"), "YWJj");
    EXPECT_EQ(Encode(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(Base64Coder, LongInputHasNoLineBreaksAndComesBack)
{
    std::mt19937 random(7);
    std::string data(100003, '\0');
    for (char& c : data) c = static_cast<char>(random());
    const std::string encoded = Encode(data);
    EXPECT_EQ(encoded.size(), (data.size() + 2) / 3 * 4);
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
    // The final "==" group still counts three bytes: the text plus two zeros.
    const std::string decoded = Decode(encoded);
    ASSERT_EQ(decoded.size(), data.size() + 2);
    EXPECT_TRUE(decoded.compare(0, data.size(), data) == 0);
    EXPECT_EQ(decoded.substr(data.size()), std::string(2, '\0'));
}

TEST(Base64Coder, SkippedCharactersDecodeLikeTheTextWithoutThem)
{
    EXPECT_EQ(Decode("SG9s\r\nYSBt\tdW5k\n b w=="), Decode("SG9sYSBtdW5kbw=="));
    EXPECT_EQ(Decode("SG9sYSBtdW5kbw=="), std::string("Hola mundo\0\0", 12));
}

TEST(Base64Coder, PaddingStillCountsThreeBytesAndPartialGroupsCountTheirCharacters)
{
    CBase64Coder coder;
    coder.DecodeText("YQ==");
    EXPECT_EQ(coder.DecodedLength(), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(coder.DecodedData()), 3), std::string("a\0\0", 3));
    EXPECT_STREQ(reinterpret_cast<const char*>(coder.DecodedData()), "a");

    coder.DecodeText("YWJjZ");
    EXPECT_EQ(coder.DecodedLength(), 4u);
    EXPECT_EQ(coder.DecodedData()[4], 0);  // the result is always terminated
}

TEST(Base64Coder, OutsideTheAlphabetIsArithmeticNotRejected)
{
    // 254 and 255 take part with their low six bits, as "+" (62) and "/" (63) do.
    EXPECT_EQ(Decode("Y!Jj"), Decode("Y+Jj"));
    EXPECT_EQ(Decode("=WJj"), Decode("/WJj"));
    // Bit 7 set on an alphabet character gives the character's value.
    EXPECT_EQ(Decode("\xD9WJj"), "abc");
}

TEST(Base64Coder, BuffersAreReusedAndStayTerminated)
{
    CBase64Coder coder;
    coder.EncodeText("una frase bastante larga para el primer uso");
    coder.EncodeText("ab");
    EXPECT_EQ(std::string(coder.EncodedText()), "YWI=");
    coder.DecodeText("YWJjZGVmZ2hp");
    coder.DecodeText("YQ");
    EXPECT_EQ(coder.DecodedLength(), 2u);
    EXPECT_STREQ(reinterpret_cast<const char*>(coder.DecodedData()), "a");
}

TEST(HexDigit, DigitsAndCapitals)
{
    EXPECT_EQ(HexDigit(0), '0');
    EXPECT_EQ(HexDigit(9), '9');
    EXPECT_EQ(HexDigit(10), 'A');
    EXPECT_EQ(HexDigit(15), 'F');
}

TEST(QuotedPrintable, EscapesAndWhatStays)
{
    EXPECT_EQ(QuotedPrintableEncode("a=b"), "a=3Db");
    EXPECT_EQ(QuotedPrintableEncode("caf\xE9"), "caf=E9");
    EXPECT_EQ(QuotedPrintableEncode("fin \t\r\nsigue \r\n"), "fin \t\r\nsigue \r\n");
    EXPECT_EQ(QuotedPrintableEncode(std::string("\x01\x7F", 2)), "=01=7F");
    EXPECT_EQ(QuotedPrintableEncode(static_cast<const char*>(nullptr)), "");
}

TEST(QuotedPrintable, LinesOf76To78StayWhole)
{
    for (std::size_t n : {76u, 77u}) {
        const std::string line(n, 'x');
        EXPECT_EQ(QuotedPrintableEncode(line + "\r\n" + line), line + "\r\n" + line) << n;
    }
    // The last line may hold 78: its last position is handled before the length test.
    EXPECT_EQ(QuotedPrintableEncode(std::string(78, 'x')), std::string(78, 'x'));
    EXPECT_EQ(QuotedPrintableEncode(std::string(78, 'x') + "\r\n"), std::string(77, 'x') + "=\r\nx\r\n");
}

TEST(QuotedPrintable, LongLinesBreakSoftly)
{
    const std::string letters(100, 'x');
    EXPECT_EQ(QuotedPrintableEncode(letters), std::string(77, 'x') + "=\r\n" + std::string(23, 'x'));

    // Words: the break comes after the last blank within the first 78 characters.
    std::string words;
    while (words.size() < 120) words += "palabra ";
    const std::string encoded = QuotedPrintableEncode(words);
    const std::size_t soft = encoded.find("=\r\n");
    ASSERT_NE(soft, std::string::npos);
    EXPECT_EQ(encoded[soft - 1], ' ');
    EXPECT_LE(soft, 78u);
    EXPECT_EQ(DecodeQuotedPrintable(encoded), words);
}

TEST(QuotedPrintable, ABreakNeverSplitsAnEscape)
{
    // The escape begins where a forced break would fall: the break moves before it.
    const std::string text = std::string(76, 'a') + "\xE9" + std::string(10, 'b');
    EXPECT_EQ(QuotedPrintableEncode(text), std::string(76, 'a') + "=\r\n=E9" + std::string(10, 'b'));

    // Escapes near every possible break position, in any mix.
    std::mt19937 random(3);
    for (int round = 0; round < 300; ++round) {
        std::string mixed;
        const int length = 70 + static_cast<int>(random() % 200);
        for (int i = 0; i < length; ++i) {
            const unsigned pick = random() % 10;
            mixed += pick < 6 ? 'q' : pick < 8 ? '\xF1' : pick < 9 ? '=' : ' ';
        }
        const std::string encoded = QuotedPrintableEncode(mixed);
        EXPECT_EQ(DecodeQuotedPrintable(encoded), mixed) << mixed;
        for (std::size_t at = encoded.find("=\r\n"); at != std::string::npos; at = encoded.find("=\r\n", at + 1)) {
            const std::size_t lineStart = encoded.rfind('\n', at - 1) == std::string::npos ? 0 : encoded.rfind('\n', at - 1) + 1;
            const std::string line = encoded.substr(lineStart, at - lineStart);
            // Every "=" in the line is followed by two hex digits before the soft break.
            for (std::size_t k = line.find('='); k != std::string::npos; k = line.find('=', k + 1))
                ASSERT_LE(k + 3, line.size()) << encoded;
        }
    }
}

TEST(QuotedPrintable, SpanishTextComesBack)
{
    const std::string text = SpanishSample(20000);
    EXPECT_EQ(DecodeQuotedPrintable(QuotedPrintableEncode(text)), text);
}

TEST(HeaderWords, AsciiStaysByteForByte)
{
    std::string text;
    for (int i = 0; i < 300; ++i) text += static_cast<char>(32 + i % 95);
    EXPECT_EQ(EncodeHeaderText(text, "iso-8859-1"), text);
    EXPECT_EQ(EncodeHeaderText("", "iso-8859-1"), "");
    EXPECT_EQ(QEncodeHeaderWord("Consulta t\xE9" "cnica", "iso-8859-1"), "=?iso-8859-1?q?Consulta_t=E9cnica?=");
}

TEST(HeaderWords, ShortTextsKeepTheirForm)
{
    EXPECT_EQ(EncodeHeaderText("A\xF1o", "iso-8859-1"), "=?iso-8859-1?q?A=F1o?=");
    EXPECT_EQ(EncodeHeaderText("A\xF1o nuevo", "iso-8859-1"), "=?iso-8859-1?q?A=F1o_nuevo?=");
    EXPECT_EQ(EncodeHeaderText("A\xF1o", "UTF-8"), "=?UTF-8?q?A=C3=B1o?=");
}

TEST(HeaderWords, SeventyAndSeventyOneBytePiecesBecomeWholeWords)
{
    for (std::size_t length : {70u, 71u, 141u}) {
        std::string text(length - 1, 'x');
        text += '\xE9';
        const std::string encoded = EncodeHeaderText(text, "iso-8859-1");
        const auto words = SplitBlanks(encoded);
        for (const auto& word : words) {
            EXPECT_LE(word.size(), 75u) << encoded;
            EXPECT_EQ(word.rfind("=?iso-8859-1?q?", 0), 0u) << encoded;
            EXPECT_EQ(word.substr(word.size() - 2), "?=") << encoded;
        }
        EXPECT_EQ(encoded.find("  "), std::string::npos);
        EXPECT_EQ(DecodeHeaderWords(encoded), text);
    }
}

TEST(HeaderWords, Utf8WordsAreCutBetweenWholeCharacters)
{
    std::string text;
    for (int i = 0; i < 60; ++i) text += "\xF1\x80\xE9";  // ñ € é
    const std::string encoded = EncodeHeaderText(text, "utf-8");
    for (const auto& word : SplitBlanks(encoded)) {
        EXPECT_LE(word.size(), 75u);
        EXPECT_TRUE(IsWholeUtf8(DecodeHeaderWords(word))) << word;
    }
    EXPECT_EQ(DecodeHeaderWords(encoded), ConvertToUtf8(text));
}

TEST(HeaderWords, SpecialsInsideAWordAreEscaped)
{
    // Characters that would end a word or a display name early never stand bare in a word.
    const std::string encoded = EncodeHeaderText("P\xE9rez, (Juan) \"x\"?=_\t", "iso-8859-1");
    EXPECT_EQ(encoded.find_first_of(",()\"\t", 15), std::string::npos) << encoded;
    EXPECT_EQ(DecodeHeaderWords(encoded), "P\xE9rez, (Juan) \"x\"?=_\t");
}

TEST(ConvertToUtf8, FromWindows1252WhateverTheCodePage)
{
    EXPECT_EQ(ConvertToUtf8("\xF1"), "\xC3\xB1");
    EXPECT_EQ(ConvertToUtf8("\x80 \x9F"), "\xE2\x82\xAC \xC5\xB8");
    EXPECT_EQ(ConvertToUtf8("plain"), "plain");
    EXPECT_EQ(ConvertToUtf8(""), "");
}

TEST(ConvertToUtf8, SurrogatesInTheUtf16Step)
{
    auto convert = [](std::u16string units) {
        std::string out(Utf16ToUtf8(units.data(), units.size(), nullptr, 0), '\0');
        EXPECT_EQ(Utf16ToUtf8(units.data(), units.size(), out.data(), out.size()), out.size());
        return out;
    };
    EXPECT_EQ(convert(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(convert(std::u16string{0xD83D, u'A'}), "\xED\xA0\xBD" "A");
    EXPECT_EQ(convert(std::u16string{0xD83D}), "\xED\xA0\xBD");
    EXPECT_EQ(convert(std::u16string{0xDE00, u'b'}), "\xED\xB8\x80" "b");
    EXPECT_EQ(convert(u"\x07FF\x0800"), "\xDF\xBF\xE0\xA0\x80");

    const std::u16string pair = u"\xD83D\xDE00";
    char small[3];
    EXPECT_EQ(Utf16ToUtf8(pair.data(), pair.size(), small, sizeof small), 0u);
}
