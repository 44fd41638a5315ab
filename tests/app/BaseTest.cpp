// Error texts, setting value rules and identity rules: portable, run natively and on Windows.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "app/ErrorText.h"
#include "app/Errors.h"
#include "app/Identity.h"
#include "app/SettingValues.h"

TEST(ErrorText, KnownCodesGiveTheirTextsAsWindows1252Bytes)
{
    CErrorText lookup;
    char buffer[CErrorText::kBufferSize];
    EXPECT_EQ(lookup.GetText(ERR_REGISTRY_READ, buffer), 48);
    EXPECT_STREQ(buffer, "No se pudo encontrar la entrada en la registry.");
    EXPECT_EQ(lookup.Text(-1000), "No se pudo abrir el archivo.");
    EXPECT_EQ(lookup.Text(-1002), "No hay suficiente memoria. Cierre alguna de las aplicaciones.");

    // The longest text: 70 bytes, "ó" a single byte 0xF3.
    const int size = lookup.GetText(ERR_REGISTRY_WRITE, buffer);
    EXPECT_EQ(size, 71);
    EXPECT_EQ(std::strlen(buffer), 70u);
    EXPECT_NE(std::strstr(buffer, "configuraci\xF3n"), nullptr);
}

TEST(ErrorText, UnknownCodesGiveTheDefaultText)
{
    CErrorText lookup;
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
    EXPECT_EQ(ParseLenientLong("120"), 120);
    EXPECT_EQ(ParseLenientLong("  1500ms"), 1500);
    EXPECT_EQ(ParseLenientLong("-25"), -25);
    EXPECT_EQ(ParseLenientLong("+7"), 7);
    EXPECT_EQ(ParseLenientLong("abc"), 0);
    EXPECT_EQ(ParseLenientLong(""), 0);
    EXPECT_EQ(ParseLenientLong("- 5"), 0);
    EXPECT_EQ(ParseLenientLong("99999999999999999999999"), LONG_MAX);
    EXPECT_EQ(ParseLenientLong("-99999999999999999999999"), LONG_MIN);
}

TEST(SettingValues, FaceNamesAreCutTo31Characters)
{
    EXPECT_EQ(CutFaceName("Arial"), "Arial");
    const std::string longName(40, 'x');
    EXPECT_EQ(CutFaceName(longName), std::string(31, 'x'));
}

TEST(SettingValues, TicksPerFetchNeverFallsBelowOne)
{
    EXPECT_EQ(TicksPerFetch(300), 10);
    EXPECT_EQ(TicksPerFetch(299), 9);
    EXPECT_EQ(TicksPerFetch(600), 20);
    EXPECT_EQ(TicksPerFetch(60), 2);
    EXPECT_EQ(TicksPerFetch(59), 1);
    EXPECT_EQ(TicksPerFetch(29), 1);
    EXPECT_EQ(TicksPerFetch(0), 1);
    EXPECT_EQ(TicksPerFetch(-300), 1);
}

TEST(IdentityRules, WorkstationIdTakesCharacters3To5And7To11)
{
    const std::string kitId = "ABCDEFGHIJKLMNOP";
    ASSERT_TRUE(IsValidKitId(kitId));
    EXPECT_EQ(WorkstationId(kitId), "CDEGHIJK");
    EXPECT_EQ(WorkstationFileName(kitId, ".txt"), "CDEGHIJK.txt");
    EXPECT_EQ(WorkstationFileName(kitId, ".adm").size(), 12u);
    EXPECT_FALSE(IsValidKitId("ABCDEFGHIJKLMNO"));
    EXPECT_FALSE(IsValidKitId("ABCDEFGHIJKLMNOPQ"));
    EXPECT_FALSE(IsValidKitId(""));
}
