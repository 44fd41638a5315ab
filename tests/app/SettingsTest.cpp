// Registry, configuration file and identity source on the real registry and files under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/Errors.h"
#include "app/Identity.h"
#include "app/Settings.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WinTestSupport.h"
#include "win/TextCodec.h"

namespace {

class RegistryTest : public ::testing::Test {
protected:
    // ReadRegistryString through a buffer of `capacity` bytes; the text as long as it says.
    static int Read(const char* name, std::uint32_t capacity, std::string& text)
    {
        char buffer[256] = {};
        std::uint32_t size = capacity;
        const int rc = ReadRegistryString(kSettingsKey, name, buffer, size);
        if (rc == 0) text.assign(buffer, size);
        return rc;
    }

    testing_support::ScopedSettingsKey m_key;
};

} // namespace

TEST_F(RegistryTest, ReadReturnsTheStoredBytesAndTheirCountOrEachFailureWithItsCodeAndNothingCreatesTheKey)
{
    std::string text;
    // The terminator stored with the value is counted, as the readers expect.
    ASSERT_TRUE(m_key.Set(L"Font", L"Ba\u00f1o Sans"));
    ASSERT_EQ(Read("Font", 100, text), 0);
    EXPECT_EQ(text, std::string("Ba\xF1o Sans", 10));
    // REG_EXPAND_SZ is read as it stands, without expansion.
    ASSERT_TRUE(m_key.Set(L"RemoteHost", L"%SystemRoot%", REG_EXPAND_SZ));
    ASSERT_EQ(Read("RemoteHost", 100, text), 0);
    EXPECT_EQ(text, std::string("%SystemRoot%", 13));

    EXPECT_EQ(Read("Missing", 100, text), -2);
    const DWORD number = 5;
    ASSERT_EQ(RegSetValueExW(m_key.Key(), L"TimeOut", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), 0);
    EXPECT_EQ(Read("TimeOut", 40, text), -3);

    // "Yes" with its terminator fills a 4-byte buffer exactly; one more character does not fit;
    // without terminator four characters fit.
    struct Row { const wchar_t* stored; bool terminator; int rc; } rows[] = {
        {L"Yes", true, 0}, {L"Yes ", true, -4}, {L"Yess", false, 0}};
    for (const Row& row : rows) {
        ASSERT_TRUE(m_key.Set(L"IsBold", row.stored, REG_SZ, row.terminator));
        EXPECT_EQ(Read("IsBold", 4, text), row.rc) << NarrowCp1252(row.stored);
    }
    EXPECT_EQ(text, "Yess");
    EXPECT_FALSE(TryReadSetting("IsItalic", 4, text));
    ASSERT_TRUE(m_key.Set(L"IsItalic", L"No"));
    ASSERT_TRUE(TryReadSetting("IsItalic", 4, text));
    EXPECT_EQ(text, "No");

    // Without the key: it is never created.
    testing_support::ScopedSettingsKey::Remove();
    EXPECT_EQ(Read("RemoteHost", 100, text), -1);
    EXPECT_EQ(WriteRegistryString(kSettingsKey, "Font", "Arial", 6), -1);
    EXPECT_EQ(testing_support::CodeOf([] { WriteSetting("IsBold", "No", false); }), -1004);
    EXPECT_EQ(testing_support::CodeOf([] { ReadSetting("RemoteHost", 100); }), -1003);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, testing_support::kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, WriteStoresExactlyTheGivenLength)
{
    DWORD type = 0;
    ASSERT_EQ(WriteRegistryString(kSettingsKey, "Font", "Arial", 6), 0);
    EXPECT_EQ(m_key.Raw(L"Font", &type), std::wstring(L"Arial", 6));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    WriteSetting("IsBold", "Yes", false);
    EXPECT_EQ(m_key.Raw(L"IsBold"), L"Yes");
    WriteSetting("Font", "Ba\xF1o", true);
    EXPECT_EQ(m_key.Raw(L"Font"), std::wstring(L"Ba\u00f1o", 5));
}

TEST_F(RegistryTest, IdentityNeedsAValidKitIdAndCutsTheHoldersName)
{
    InstallationIdentity identity;
    std::string kitId;
    EXPECT_FALSE(GetInstallationIdentity(identity));
    ASSERT_TRUE(m_key.Set(L"KitId", L"ABCDEFGHIJKLMNO"));
    EXPECT_FALSE(GetKitId(kitId));
    ASSERT_TRUE(m_key.Set(L"KitId", L"QX2026AB12345678"));
    ASSERT_TRUE(GetKitId(kitId));
    EXPECT_EQ(kitId, "QX2026AB12345678");
    ASSERT_TRUE(GetInstallationIdentity(identity));
    EXPECT_EQ(identity.kitId, kitId);
    EXPECT_EQ(identity.holderName, "");

    // The holder's name is cut to its buffer.
    ASSERT_TRUE(m_key.Set(L"HolderName", std::wstring(70, L'\u00d1')));
    ASSERT_TRUE(m_key.Set(L"HolderAddress", L"Calle Mayor 1, Sevilla"));
    ASSERT_TRUE(GetInstallationIdentity(identity));
    EXPECT_EQ(identity.holderName, std::string(59, '\xD1'));
    EXPECT_EQ(identity.holderAddress, "Calle Mayor 1, Sevilla");
}

TEST(ConfigFile, IsReadFromTheCurrentDirectoryWithDefaults)
{
    testing_support::ScopedWorkDir dir;
    EXPECT_EQ(ConfigFilePath(), NarrowCp1252(dir.Path().wstring()) + "\\notelia_param.ini");
    EXPECT_EQ(ReadConfigInt("Timer", "TimerRefresh", 300), 300);
    EXPECT_EQ(ReadConfigString("MailList", "Name1", "Zandu", 100), "Zandu");

    // In a folder whose name Windows-1252 cannot hold, as a user's profile may have.
    const auto cyrillic = dir.Path() / L"\u0414\u043C\u0438\u0442\u0440\u0438\u0439";
    std::filesystem::create_directory(cyrillic);
    std::filesystem::current_path(cyrillic);
    testing_support::WriteBytes("notelia_param.ini", "[Timer]\r\nTimerRefresh=90\r\n[MailList]\r\nName1=Soporte T\xE9"
                                                     "cnico\r\n");
    EXPECT_EQ(ReadConfigInt("Timer", "TimerRefresh", 300), 90);
    EXPECT_EQ(ReadConfigString("MailList", "Name1", "Zandu", 100), "Soporte T\xE9" "cnico");
    EXPECT_EQ(ReadConfigString("MailList", "Name2", "Zandu", 100), "Zandu");
    std::filesystem::current_path(dir.Path());
}
