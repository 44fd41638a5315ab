// A message file's bytes as the view shows them: the encoding told from the bytes, and long
// lines broken for display.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "retrieval/MessageText.h"

namespace {

// UTF-8 bytes whatever the compiler's narrow character set.
std::string Utf8(std::u8string_view text)
{
    return {text.begin(), text.end()};
}

const std::string kMark = "\xEF\xBB\xBF";

// A file's bytes and the text the view shows for them.
struct Shown {
    std::string bytes;
    std::u16string shown;
};

TEST(MessageTextTest, TheEncodingIsToldFromTheBytes)
{
    const Shown cases[] = {
        {"Hola\r\nadios", u"Hola\r\nadios"},
        {"Informaci\xF3n: 5 \x80, \x93\xBFS\xED?\x94 \x81", u"Información: 5 €, “¿Sí?” \u0081"},
        {Utf8(u8"Información: 5 €"), u"Información: 5 €"},
        {kMark + Utf8(u8"Año \U0001F600"), u"Año \U0001F600"},
        {kMark + "ASCII", u"ASCII"},
        {kMark, u""},
        // One byte that is not UTF-8 makes the whole file Windows-1252.
        {Utf8(u8"ñ") + "\xE9", u"Ã±é"},
        {"\xC0\xAF", u"À¯"},
        {"\xE0\x9F\xBF", u"àŸ¿"},
        {"\xF0\x8F\xBF\xBF", u"ð\u008F¿¿"},
        {"\xED\xA0\x80", u"í\u00A0€"},
        {"\xF4\x90\x80\x80", u"ô\u0090€€"},
        {"abc\xE2\x82", u"abcâ‚"},
        // With the mark, what is not UTF-8 is shown as replacement characters.
        {kMark + "a\xFF" "b\xE2\x82", u"a\uFFFDb\uFFFD\uFFFD"},
        {std::string("ab\0\xC3\xB1", 5), u"ab"},
    };
    for (const auto& c : cases) EXPECT_EQ(MessageViewText(c.bytes), c.shown) << c.bytes;
}

TEST(MessageTextTest, LongLinesAreBrokenBetweenWordsAndNeverInsideAPairOrALineEnd)
{
    const Shown cases[] = {
        {"abcdefghij", u"abcdefgh\r\nij"},
        {"abcde fghij", u"abcde \r\nfghij"},
        // A space in the line's first half would leave a short line: cut at the bound.
        {"ab cdefghij", u"ab cdefg\r\nhij"},
        {"abcdefgh\r\nabcdefgh\nabc", u"abcdefgh\r\nabcdefgh\nabc"},
        {"abcdefg" + Utf8(u8"\U0001F600") + "x", u"abcdefg\r\n\U0001F600x"},
        {"abcdefg\rhi", u"abcdefg\r\n\rhi"},
        {"abcdefghijklmnopqrs", u"abcdefgh\r\nijklmnop\r\nqrs"},
    };
    for (const auto& c : cases) EXPECT_EQ(MessageViewText(c.bytes, 8), c.shown) << c.bytes;
}

TEST(MessageTextTest, AQuarterMegabyteOnOneLineComesInBoundedLinesWithEveryCharacter)
{
    for (const std::string unit : {"palabra ", "x"}) {
        std::string line;
        while (line.size() < 256 * 1024) line += unit;
        const std::u16string shown = MessageViewText(line);
        std::u16string joined;
        std::size_t start = 0, longest = 0;
        while (start <= shown.size()) {
            const std::size_t end = std::min(shown.find(u"\r\n", start), shown.size());
            longest = std::max(longest, end - start);
            joined += shown.substr(start, end - start);
            start = end + 2;
        }
        EXPECT_LE(longest, kMaxViewLine);
        EXPECT_GT(longest, kMaxViewLine / 2);
        EXPECT_EQ(joined, std::u16string(line.begin(), line.end()));
    }
}

} // namespace
