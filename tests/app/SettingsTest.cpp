// Registry, configuration file and identity source on the real registry and files under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/Errors.h"
#include "app/Identity.h"
#include "app/Settings.h"
#include "tests/support/TestFiles.h"
#include "win/TextCodec.h"

namespace {

const wchar_t kKey[] = L"Software\\Quorvex\\Zandu\\Usuario";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteKey();
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        if (m_key) RegCloseKey(m_key);
        DeleteKey();
    }
    static void DeleteKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey), RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey); }

    // Stores raw UTF-16 data as an administrator's .reg file would (terminator included).
    void SetRaw(const wchar_t* name, DWORD type, const std::wstring& text, bool terminator = true)
    {
        const DWORD bytes = static_cast<DWORD>((text.size() + (terminator ? 1 : 0)) * sizeof(wchar_t));
        // A non-zero unit behind the data, or the system counts the terminator in anyway.
        const std::wstring data = text + (terminator ? std::wstring(1, L'\0') : std::wstring()) + L"\xFFFF";
        ASSERT_EQ(RegSetValueExW(m_key, name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()), bytes),
                  ERROR_SUCCESS);
    }
    // The value's stored type and UTF-16 data, as the registry holds them.
    std::wstring GetRaw(const wchar_t* name, DWORD* bytesOut = nullptr)
    {
        wchar_t data[256] = {};
        DWORD bytes = sizeof data;
        DWORD type = 0;
        EXPECT_EQ(RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        if (bytesOut) *bytesOut = bytes;
        return std::wstring(data, bytes / sizeof(wchar_t));
    }
    static int Read(const char* name, std::uint32_t capacity, std::string& text)
    {
        char buffer[256] = {};
        std::uint32_t size = capacity;
        const int rc = ReadRegistryString(kSettingsKey, name, buffer, size);
        if (rc == 0) text.assign(buffer, size);
        return rc;
    }

    HKEY m_key = nullptr;
};

} // namespace

TEST_F(RegistryTest, ReadReturnsTheStoredBytesAndTheirCount)
{
    SetRaw(L"RemoteHost", REG_SZ, L"localhost");
    std::string text;
    ASSERT_EQ(Read("RemoteHost", 100, text), 0);
    // The terminator stored with the value is counted, as the readers expect.
    EXPECT_EQ(text, std::string("localhost", 10));

    SetRaw(L"Font", REG_SZ, L"Ba\u00f1o Sans");
    ASSERT_EQ(Read("Font", 100, text), 0);
    EXPECT_EQ(text, std::string("Ba\xF1o Sans", 10));
}

TEST_F(RegistryTest, ReadAnswersEachFailureWithItsCode)
{
    std::string text;
    EXPECT_EQ(Read("Missing", 100, text), -2);

    const DWORD number = 5;
    ASSERT_EQ(RegSetValueExW(m_key, L"TimeOut", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(Read("TimeOut", 40, text), -3);

    // REG_EXPAND_SZ is read as it stands, without expansion.
    SetRaw(L"RemoteHost", REG_EXPAND_SZ, L"%SystemRoot%");
    ASSERT_EQ(Read("RemoteHost", 100, text), 0);
    EXPECT_EQ(text, std::string("%SystemRoot%", 13));

    RegCloseKey(m_key);
    m_key = nullptr;
    DeleteKey();
    EXPECT_EQ(Read("RemoteHost", 100, text), -1);
}

TEST_F(RegistryTest, AValueLongerThanItsBufferIsUnreadable)
{
    // "Yes" with its terminator fills a 4-byte buffer exactly; one more character does not fit.
    SetRaw(L"IsBold", REG_SZ, L"Yes");
    std::string text;
    EXPECT_EQ(Read("IsBold", 4, text), 0);
    SetRaw(L"IsBold", REG_SZ, L"Yes ");
    EXPECT_EQ(Read("IsBold", 4, text), -4);
    // Without terminator four characters fit.
    SetRaw(L"IsBold", REG_SZ, L"Yess", false);
    EXPECT_EQ(Read("IsBold", 4, text), 0);
    EXPECT_EQ(text, "Yess");

    std::string value;
    EXPECT_FALSE(TryReadSetting("IsItalic", 4, value));
    SetRaw(L"IsItalic", REG_SZ, L"No");
    ASSERT_TRUE(TryReadSetting("IsItalic", 4, value));
    EXPECT_EQ(value, "No");
}

TEST_F(RegistryTest, WriteStoresExactlyTheGivenLength)
{
    ASSERT_EQ(WriteRegistryString(kSettingsKey, "Font", "Arial", 6), 0);
    DWORD bytes = 0;
    EXPECT_EQ(GetRaw(L"Font", &bytes), std::wstring(L"Arial", 6));
    EXPECT_EQ(bytes, 12u);

    WriteSetting("IsBold", "Yes", false);
    EXPECT_EQ(GetRaw(L"IsBold", &bytes), L"Yes");
    EXPECT_EQ(bytes, 6u);
    WriteSetting("Font", "Ba\xF1o", true);
    EXPECT_EQ(GetRaw(L"Font"), std::wstring(L"Ba\u00f1o", 5));

    std::string text;
    ASSERT_EQ(Read("Font", 100, text), 0);
    EXPECT_EQ(text, std::string("Ba\xF1o", 5));
}

TEST_F(RegistryTest, TheKeyIsNeverCreated)
{
    RegCloseKey(m_key);
    m_key = nullptr;
    DeleteKey();
    EXPECT_EQ(WriteRegistryString(kSettingsKey, "Font", "Arial", 6), -1);
    HKEY probe = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &probe), ERROR_SUCCESS);

    try {
        WriteSetting("IsBold", "No", false);
        FAIL() << "no exception";
    } catch (const CCodeException& e) {
        EXPECT_EQ(e.Code(), -1004);
    }
    try {
        ReadSetting("RemoteHost", 100);
        FAIL() << "no exception";
    } catch (const CCodeException& e) {
        EXPECT_EQ(e.Code(), -1003);
    }
}

TEST_F(RegistryTest, IdentityNeedsAKitIdOfExactly16Characters)
{
    InstallationIdentity identity;
    std::string kitId;
    EXPECT_FALSE(GetInstallationIdentity(identity));
    EXPECT_FALSE(GetKitId(kitId));

    SetRaw(L"KitId", REG_SZ, L"ABCDEFGHIJKLMNO");
    EXPECT_FALSE(GetKitId(kitId));
    SetRaw(L"KitId", REG_SZ, L"ABCDEFGHIJKLMNOPQ");
    EXPECT_FALSE(GetKitId(kitId));

    SetRaw(L"KitId", REG_SZ, L"QX2026AB12345678");
    ASSERT_TRUE(GetKitId(kitId));
    EXPECT_EQ(kitId, "QX2026AB12345678");
    ASSERT_TRUE(GetInstallationIdentity(identity));
    EXPECT_EQ(identity.kitId, kitId);
    EXPECT_EQ(identity.holderName, "");
    EXPECT_EQ(identity.holderAddress, "");

    SetRaw(L"HolderName", REG_SZ, std::wstring(70, L'\u00d1'));
    SetRaw(L"HolderAddress", REG_SZ, L"Calle Mayor 1, Sevilla");
    ASSERT_TRUE(GetInstallationIdentity(identity));
    EXPECT_EQ(identity.holderName, std::string(59, '\xD1'));
    EXPECT_EQ(identity.holderAddress, "Calle Mayor 1, Sevilla");
}

TEST(ConfigFile, IsReadFromTheCurrentDirectoryWithDefaults)
{
    testing_support::ScopedWorkDir dir;
    const std::string path = ConfigFilePath();
    EXPECT_EQ(path, NarrowCp1252(dir.Path().wstring()) + "\\notelia_param.ini");

    EXPECT_EQ(ReadConfigInt("Timer", "TimerRefresh", 300), 300);
    EXPECT_EQ(ReadConfigString("MailList", "Name1", "Zandu", 100), "Zandu");

    testing_support::WriteBytes("notelia_param.ini",
                                "[Timer]\r\nTimerRefresh=60\r\n[MailList]\r\nMailListCount=2\r\nName1=Soporte T\xE9"
                                "cnico\r\n");
    EXPECT_EQ(ReadConfigInt("Timer", "TimerRefresh", 300), 60);
    EXPECT_EQ(ReadConfigInt("MailList", "MailListCount", 1), 2);
    EXPECT_EQ(ReadConfigString("MailList", "Name1", "Zandu", 100), "Soporte T\xE9" "cnico");
    EXPECT_EQ(ReadConfigString("MailList", "Name2", "Zandu", 100), "Zandu");
}
