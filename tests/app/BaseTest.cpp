// Error texts, setting value rules and identity rules: portable, run natively and on Windows.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "app/ErrorText.h"
#include "app/Errors.h"
#include "app/Identity.h"
#include "app/SettingValues.h"

TEST(ErrorText, KnownCodesGiveTheirTextsAsWindows1252BytesOthersTheDefault)
{
    CErrorText lookup;
    char buffer[CErrorText::kBufferSize];
    EXPECT_EQ(lookup.GetText(ERR_REGISTRY_READ, buffer), 48);
    EXPECT_STREQ(buffer, "No se pudo encontrar la entrada en la registry.");
    EXPECT_EQ(lookup.Text(-1000), "No se pudo abrir el archivo.");
    EXPECT_EQ(lookup.Text(-1002), "No hay suficiente memoria. Cierre alguna de las aplicaciones.");
    // The longest text: 70 bytes, "ó" a single byte 0xF3.
    EXPECT_EQ(lookup.GetText(ERR_REGISTRY_WRITE, buffer), 71);
    EXPECT_EQ(std::strlen(buffer), 70u);
    EXPECT_NE(std::strstr(buffer, "configuraci\xF3n"), nullptr);

    for (long code : {-999L, 0L, -1001L, 1000L}) EXPECT_EQ(lookup.Text(code), "Error no documentado.") << code;
}

TEST(SettingValues, OnlyYesInAnyCaseIsTrue)
{
    for (const char* yes : {"yes", "Yes", "YES", "yEs"}) EXPECT_TRUE(IsYes(yes)) << yes;
    for (const char* no : {"No", "1", "true", "Yes ", " yes", "ye", "", "yess"}) EXPECT_FALSE(IsYes(no)) << no;
    EXPECT_STREQ(YesNo(true), "Yes");
    EXPECT_STREQ(YesNo(false), "No");
}

TEST(SettingValues, IntegersAreParsedLeniently)
{
    const std::pair<const char*, long> rows[] = {
        {"120", 120},  {"  1500ms", 1500}, {"-25", -25}, {"+7", 7},
        {"abc", 0},    {"grande", 0},      {"", 0},      {"- 5", 0},
        {"99999999999999999999999", LONG_MAX}, {"-99999999999999999999999", LONG_MIN}};
    for (const auto& [text, value] : rows) EXPECT_EQ(ParseLenientLong(text), value) << text;
}

TEST(SettingValues, FaceNamesAreCutTo31CharactersAndTicksNeverFallBelowOne)
{
    EXPECT_EQ(CutFaceName("Arial"), "Arial");
    EXPECT_EQ(CutFaceName(std::string(40, 'x')), std::string(31, 'x'));
    const std::pair<long, long> rows[] = {{300, 10}, {299, 9}, {600, 20}, {60, 2}, {59, 1}, {0, 1}, {-300, 1}};
    for (const auto& [seconds, ticks] : rows) EXPECT_EQ(TicksPerFetch(seconds), ticks) << seconds;
}

TEST(IdentityRules, WorkstationIdTakesCharacters3To5And7To11)
{
    const std::string kitId = "ABCDEFGHIJKLMNOP";
    ASSERT_TRUE(IsValidKitId(kitId));
    EXPECT_EQ(WorkstationId(kitId), "CDEGHIJK");
    EXPECT_EQ(WorkstationFileName(kitId, ".txt"), "CDEGHIJK.txt");
    // Only the workstation's characters (3 to 5, 7 to 11) must be ASCII letters or digits.
    const std::pair<std::string, bool> rows[] = {
        {"ABCDEFGHIJKLMNO", false},   {"ABCDEFGHIJKLMNOPQ", false},   {"", false},
        {"..2026AB12345678", true},   {"QX..26AB12345678", false},    {"QX2026..\\2345678", false},
        {"QX2026AB/2345678", false},  {"QX2026AB1234\r\n78", true},   {"QX2026AB12\r\n5678", false},
        {"QX20 6AB12345678", false},  {"QX2026AB1234\xF1" "678", true}, {"QX2026AB12\xF1" "45678", false},
        {std::string("QX2026AB12\0" "45678", 16), false}};
    for (const auto& [id, names] : rows) EXPECT_EQ(NamesWorkstationFiles(id), names) << id;
    EXPECT_TRUE(IsValidKitId("AR01-2345-6789-X") && !NamesWorkstationFiles("AR01-2345-6789-X"));
}
