// The fetch cycle and the download against the scripted web server on loopback, with the
// settings in the real registry and the files in a private current directory.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/Errors.h"
#include "app/Identity.h"
#include "retrieval/IcmpProbe.h"
#include "retrieval/MessageFetcher.h"
#include "tests/retrieval/ScriptedServer.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WinTestSupport.h"
#include "win/MessageBox.h"
#include "win/TextCodec.h"

using namespace testing_support;
using Delivery = CScriptedServer::Delivery;

namespace {

const wchar_t kKey[] = L"Software\\Quorvex\\Zandu\\Usuario";
const char kNoMessages[] = "No hay mensajes para este puesto de trabajo.";
// Workstation "202AB123".
const wchar_t kKitId[] = L"QX2026AB12345678";
const std::string kTxt = "202AB123.txt";
const std::string kAdm = "202AB123.adm";
const std::string kConfig = "notelia_param.ini";
const std::string kConfigText = "[Timer]\r\nTimerRefresh=300\r\n";
const std::string kRegistryText = "No se pudo encontrar la entrada en la registry.";
const std::string kFileText = "No se pudo abrir el archivo.";
constexpr unsigned long kTestTimeOut = 5000;

const auto* const g_winsock =
    ::testing::AddGlobalTestEnvironment(new testing_support::WinsockEnvironment);

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT flags;
};

// A file held open with no sharing, as another program might hold it.
class CHeldFile {
public:
    explicit CHeldFile(const std::string& name)
        : m_handle(CreateFileW(WidenCp1252(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~CHeldFile()
    {
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
    }
    bool IsHeld() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

std::string Path(const std::string& name)
{
    return "/zandu/" + name;
}

std::string Line(const std::string& name)
{
    return "GET /zandu/" + name + " HTTP/1.0";
}

class FetcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(CScriptedServer::Port(), 0) << "run under tests/retrieval/http_server.py";
        CScriptedServer::Reset();
        DeleteKey();
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr),
                  ERROR_SUCCESS);
        Set(L"RemoteHost", L"127.0.0.1");
        Set(L"TimeOut", L"3000");
        Set(L"KitId", kKitId);
        m_previous = SetMessageBoxHandler([this](HWND owner, const std::string& text, const std::string& caption,
                                                 UINT flags) {
            m_boxes.push_back({owner, text, caption, flags});
            if (m_onBox) m_onBox();
            return IDOK;
        });
    }
    void TearDown() override
    {
        SetMessageBoxHandler(m_previous);
        if (m_key) RegCloseKey(m_key);
        DeleteKey();
    }
    static void DeleteKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey), RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey); }
    void Set(const wchar_t* name, const std::wstring& value)
    {
        ASSERT_EQ(RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    void Remove(const wchar_t* name) { RegDeleteValueW(m_key, name); }

    static std::unique_ptr<CMessageFetcher> MakeFetcher(unsigned short port = CScriptedServer::Port(),
                                                        unsigned long timeOut = kTestTimeOut)
    {
        return std::make_unique<CMessageFetcher>(port, timeOut, &GetKitId);
    }

    // Every file of a cycle, with contents that carry `version`.
    static void PublishAll(const std::string& version)
    {
        CScriptedServer::Publish(Path(kConfig), 200, kConfigText);
        CScriptedServer::Publish(Path("mensaje.txt"), 200, "General " + version);
        CScriptedServer::Publish(Path("comercia.txt"), 200, "Comercial " + version);
        CScriptedServer::Publish(Path(kTxt), 200, "Operativo " + version);
        CScriptedServer::Publish(Path(kAdm), 200, "Administrativo " + version);
    }

    // FetchFile on a connection of its own.
    int Fetch(CMessageFetcher& fetcher, const std::string& name, int& changed)
    {
        CServerSession session(CScriptedServer::Port(), kTestTimeOut);
        fetcher.m_pConnection = session.OpenConnection();
        const int result = fetcher.FetchFile(name, name, changed);
        fetcher.m_pConnection.reset();
        return result;
    }

    void ExpectOneErrorBox(const std::string& text)
    {
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_EQ(m_boxes[0].text, text);
        EXPECT_EQ(m_boxes[0].caption, "ATENCION");
        EXPECT_EQ(m_boxes[0].flags, 16u);
        EXPECT_EQ(m_boxes[0].owner, nullptr);
    }

    // The "(N) - text" box of a failure of the internet library; answers N.
    unsigned long ExpectOneInternetErrorBox()
    {
        EXPECT_EQ(m_boxes.size(), 1u);
        if (m_boxes.empty()) return 0;
        EXPECT_EQ(m_boxes[0].caption, "ATENCION");
        EXPECT_EQ(m_boxes[0].flags, 16u);
        EXPECT_EQ(m_boxes[0].owner, nullptr);
        std::smatch match;
        EXPECT_TRUE(std::regex_match(m_boxes[0].text, match, std::regex(R"(\((\d+)\) - (.*))")))
            << m_boxes[0].text;
        if (match.empty()) return 0;
        EXPECT_LE(match[2].length(), 99);
        return std::stoul(match[1]);
    }

    ScopedWorkDir m_dir;
    HKEY m_key = nullptr;
    std::vector<Box> m_boxes;
    std::function<void()> m_onBox;
    MessageBoxHandler m_previous;
};

} // namespace

// ---- the cycle ----

TEST_F(FetcherTest, FirstCycleBringsEveryFileInOrder)
{
    PublishAll("1");
    auto fetcher = MakeFetcher();
    EXPECT_EQ(fetcher->FetchAll(), 15);
    EXPECT_EQ(fetcher->m_nOutcome, 1);
    EXPECT_EQ(fetcher->m_bConfigObtained, 1);
    EXPECT_EQ(fetcher->m_pConnection, nullptr);
    EXPECT_TRUE(m_boxes.empty());

    const auto log = CScriptedServer::Log();
    const std::vector<std::string> expected = {Line(kConfig), Line("mensaje.txt"), Line("comercia.txt"), Line(kTxt),
                                               Line(kAdm)};
    ASSERT_EQ(CScriptedServer::RequestLines(), expected);
    for (const auto& request : log) EXPECT_EQ(request.userAgent, "Notelia 2.5");

    EXPECT_EQ(ReadBytes(kConfig), kConfigText);
    EXPECT_EQ(ReadBytes("mensaje.txt"), "General 1");
    EXPECT_EQ(ReadBytes("comercia.txt"), "Comercial 1");
    EXPECT_EQ(ReadBytes(kTxt), "Operativo 1");
    EXPECT_EQ(ReadBytes(kAdm), "Administrativo 1");
    EXPECT_FALSE(Exists("buffer.txt"));

    std::string text;
    fetcher->GetAdministrativoText(text);
    EXPECT_EQ(text, "Administrativo 1");
}

TEST_F(FetcherTest, NextCycleSkipsTheConfigurationAndReportsOnlyChanges)
{
    PublishAll("1");
    auto fetcher = MakeFetcher();
    ASSERT_EQ(fetcher->FetchAll(), 15);
    CScriptedServer::Reset();
    PublishAll("1");

    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 0);
    const std::vector<std::string> expected = {Line("mensaje.txt"), Line("comercia.txt"), Line(kTxt), Line(kAdm)};
    EXPECT_EQ(CScriptedServer::RequestLines(), expected);

    CScriptedServer::Publish(Path("comercia.txt"), 200, "Comercial 2");
    EXPECT_EQ(fetcher->FetchAll(), 8);
    EXPECT_EQ(fetcher->m_nOutcome, 1);
    EXPECT_EQ(ReadBytes("comercia.txt"), "Comercial 2");
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(FetcherTest, IdenticalConfigurationIsRequestedAgainNextCycle)
{
    PublishAll("1");
    auto fetcher = MakeFetcher();
    WriteBytes(kConfig, kConfigText);  // appeared after the start, same as the server's
    fetcher->FetchAll();
    EXPECT_EQ(fetcher->m_bConfigObtained, 0);
    EXPECT_EQ(fetcher->m_nOutcome, 1);
    CScriptedServer::Reset();
    PublishAll("1");
    fetcher->FetchAll();
    ASSERT_FALSE(CScriptedServer::RequestLines().empty());
    EXPECT_EQ(CScriptedServer::RequestLines()[0], Line(kConfig));
}

TEST_F(FetcherTest, UnpublishedConfigurationEndsTheCycleWithoutConnection)
{
    PublishAll("1");
    CScriptedServer::Publish(Path(kConfig), 404, "");
    auto fetcher = MakeFetcher();
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    EXPECT_EQ(fetcher->m_bConfigObtained, 0);
    EXPECT_EQ(CScriptedServer::RequestLines(), std::vector<std::string>{Line(kConfig)});
    EXPECT_FALSE(Exists(kConfig));
    EXPECT_FALSE(Exists("mensaje.txt"));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(FetcherTest, UnpublishedWorkstationFilesGetTheNoMessagesText)
{
    PublishAll("1");
    CScriptedServer::Publish(Path(kTxt), 404, "");
    CScriptedServer::Publish(Path(kAdm), 302, "", Delivery::Plain, 0, Path("mensaje.txt"));
    auto fetcher = MakeFetcher();
    EXPECT_EQ(fetcher->FetchAll(), 1 | 8);
    EXPECT_EQ(fetcher->m_nOutcome, 1);
    EXPECT_EQ(ReadBytes(kTxt), std::string(kNoMessages));
    EXPECT_EQ(ReadBytes(kTxt).size(), 44u);
    EXPECT_EQ(ReadBytes(kAdm), std::string(kNoMessages));
    // The redirection is not followed.
    EXPECT_EQ(CScriptedServer::RequestLines().size(), 5u);

    // Published later, the real content replaces the text.
    CScriptedServer::Publish(Path(kTxt), 200, "Operativo 2");
    EXPECT_EQ(fetcher->FetchAll(), 4);
    EXPECT_EQ(ReadBytes(kTxt), "Operativo 2");
}

TEST_F(FetcherTest, UnpublishedCommonFileIsNotCreated)
{
    PublishAll("1");
    CScriptedServer::Publish(Path("mensaje.txt"), 404, "");
    auto fetcher = MakeFetcher();
    EXPECT_EQ(fetcher->FetchAll(), 2 | 4 | 8);
    EXPECT_EQ(fetcher->m_nOutcome, 1);
    EXPECT_FALSE(Exists("mensaje.txt"));
    std::string text = "x";
    fetcher->GetGeneralText(text);
    EXPECT_EQ(text, "");
}

TEST_F(FetcherTest, ServerErrorStopsTheCycleKeepingEarlierBits)
{
    PublishAll("1");
    CScriptedServer::Publish(Path("comercia.txt"), 500, "Internal");
    auto fetcher = MakeFetcher();
    EXPECT_EQ(fetcher->FetchAll(), 1);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    const std::vector<std::string> expected = {Line(kConfig), Line("mensaje.txt"), Line("comercia.txt")};
    EXPECT_EQ(CScriptedServer::RequestLines(), expected);
    EXPECT_FALSE(Exists("comercia.txt"));
    EXPECT_FALSE(Exists(kTxt));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(FetcherTest, WithoutKitIdentifierTheWorkstationFilesAreLeftOut)
{
    PublishAll("1");
    CScriptedServer::Publish(Path(kTxt), 404, "");
    Remove(L"KitId");
    auto fetcher = MakeFetcher();
    EXPECT_EQ(fetcher->FetchAll(), 1 | 8);
    EXPECT_EQ(fetcher->m_nOutcome, 1);
    const std::vector<std::string> expected = {Line(kConfig), Line("mensaje.txt"), Line("comercia.txt")};
    EXPECT_EQ(CScriptedServer::RequestLines(), expected);
    EXPECT_FALSE(Exists(kTxt));
    EXPECT_FALSE(Exists(kAdm));
    std::string text;
    fetcher->GetOperativoText(text);
    EXPECT_EQ(text, kNoMessages);
}

TEST_F(FetcherTest, NoEchoReplyFailsTheFirstFileSilently)
{
    PublishAll("1");
    // A name that fails before any query: the probe finds no host.
    Set(L"RemoteHost", std::wstring(70, L'x') + L".invalid");
    auto fetcher = MakeFetcher();
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_TRUE(CScriptedServer::RequestLines().empty());
}

TEST_F(FetcherTest, ServerDownIsReportedWithTheLibraryErrorAndNoConnection)
{
    auto fetcher = MakeFetcher(CScriptedServer::DownPort());
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    EXPECT_EQ(ExpectOneInternetErrorBox(), 12029u);  // cannot connect
    EXPECT_FALSE(Exists(kConfig));
}

TEST_F(FetcherTest, StalledServerEndsInATimeOut)
{
    auto fetcher = MakeFetcher(CScriptedServer::StallPort(), 1500);
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    const unsigned long error = ExpectOneInternetErrorBox();
    // 12002 on Windows, 12030 under Wine.
    EXPECT_TRUE(error == 12002u || error == 12030u) << error;
}

TEST_F(FetcherTest, MissingTimeOutIsShownAndFailsTheFile)
{
    PublishAll("1");
    Remove(L"TimeOut");
    auto fetcher = MakeFetcher();
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    ExpectOneErrorBox(kRegistryText);
    // The probe comes before the request is sent.
    EXPECT_TRUE(CScriptedServer::RequestLines().empty());
}

TEST_F(FetcherTest, MissingRemoteHostLeavesTheCycleAndTheOutcome)
{
    PublishAll("1");
    auto fetcher = MakeFetcher();
    ASSERT_EQ(fetcher->FetchAll(), 15);
    Remove(L"RemoteHost");
    CScriptedServer::Publish(Path("mensaje.txt"), 200, "General 2");
    try {
        fetcher->FetchAll();
        ADD_FAILURE() << "no error code";
    } catch (const CCodeException& e) {
        EXPECT_EQ(e.Code(), -1003);
    }
    EXPECT_EQ(fetcher->m_nOutcome, 1);
    EXPECT_EQ(fetcher->m_pConnection, nullptr);
    EXPECT_EQ(ReadBytes("mensaje.txt"), "General 1");
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(FetcherTest, ConnectionThatCannotBeCreatedIsReportedAndEndsTheCycle)
{
    Set(L"RemoteHost", L"");
    auto fetcher = MakeFetcher();
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    ASSERT_EQ(m_boxes.size(), 1u);
    // The standard error report of the library's failure.
    EXPECT_EQ(m_boxes[0].caption, "Notelia 2.5");
    EXPECT_TRUE(CScriptedServer::RequestLines().empty());
}

TEST_F(FetcherTest, ACallDuringARunningCycleChangesNothing)
{
    PublishAll("1");
    Remove(L"TimeOut");
    auto fetcher = MakeFetcher();
    int nested = -1;
    int outcomeInside = -1;
    m_onBox = [&] {
        // A timer tick while the cycle's message box is open.
        Set(L"TimeOut", L"3000");
        nested = fetcher->FetchAll();
        outcomeInside = fetcher->m_nOutcome;
    };
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(nested, 0);
    EXPECT_EQ(outcomeInside, 2);  // still the initial value
    EXPECT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(CScriptedServer::RequestLines().empty());
    EXPECT_FALSE(Exists(kConfig));

    // Once it has ended, a cycle runs again.
    m_onBox = nullptr;
    EXPECT_EQ(fetcher->FetchAll(), 15);
}

TEST_F(FetcherTest, WorkstationFileThatCannotBeWrittenLeavesTheCycle)
{
    PublishAll("1");
    CScriptedServer::Publish(Path(kTxt), 404, "");
    auto fetcher = MakeFetcher();
    CHeldFile held(kTxt);
    ASSERT_TRUE(held.IsHeld());
    try {
        fetcher->FetchAll();
        ADD_FAILURE() << "no error code";
    } catch (const CCodeException& e) {
        EXPECT_EQ(e.Code(), -1000);
    }
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    EXPECT_EQ(fetcher->m_pConnection, nullptr);
}

TEST_F(FetcherTest, LocalFileThatCannotBeReplacedLeavesTheCycleAsFileException)
{
    PublishAll("1");
    auto fetcher = MakeFetcher();
    ASSERT_EQ(fetcher->FetchAll(), 15);
    CScriptedServer::Publish(Path("mensaje.txt"), 200, "General 2");
    CHeldFile held("mensaje.txt");
    EXPECT_THROW(fetcher->FetchAll(), CFileException);
    EXPECT_EQ(fetcher->m_nOutcome, 1);
    EXPECT_EQ(fetcher->m_pConnection, nullptr);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(FetcherTest, DestroyedFetcherLeavesOnlyABrokenDownload)
{
    PublishAll("1");
    {
        auto fetcher = MakeFetcher();
        ASSERT_EQ(fetcher->FetchAll(), 15);
        CScriptedServer::Publish(Path("mensaje.txt"), 200, std::string(4000, 'g'), Delivery::Cut);
        fetcher->FetchAll();
        ASSERT_TRUE(Exists("buffer.txt"));
    }
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"buffer.txt"});
}

TEST_F(FetcherTest, ConstructionRemovesStaleCommonFilesOnly)
{
    for (const auto& name : {kConfig, std::string("mensaje.txt"), std::string("comercia.txt"), kTxt, kAdm})
        WriteBytes(name, "stale");
    {
        CHeldFile held("comercia.txt");
        auto fetcher = MakeFetcher();  // a file held by another program stays, silently
        EXPECT_TRUE(Exists("comercia.txt"));
    }
    WriteBytes("comercia.txt", "stale");
    WriteBytes(kTxt, "stale");
    WriteBytes(kAdm, "stale");
    auto fetcher = MakeFetcher();
    EXPECT_FALSE(Exists(kConfig));
    EXPECT_FALSE(Exists("mensaje.txt"));
    EXPECT_FALSE(Exists("comercia.txt"));
    EXPECT_EQ(ReadBytes(kTxt), "stale");
    EXPECT_EQ(ReadBytes(kAdm), "stale");

    // A left-over workstation copy counts as changed only when the download differs.
    PublishAll("1");
    CScriptedServer::Publish(Path(kAdm), 200, "stale");
    EXPECT_EQ(fetcher->FetchAll(), 1 | 4 | 8);
}

TEST_F(FetcherTest, WithoutRawSocketRightsTheCycleRunsOverTheIcmpService)
{
    PublishAll("1");
    auto fetcher = MakeFetcher();
    SetProbeFaults(WSAEACCES, 0);
    const unsigned char mask = fetcher->FetchAll();
    SetProbeFaults(0, 0);
    EXPECT_EQ(mask, 15);
    EXPECT_EQ(fetcher->m_nOutcome, 1);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(FetcherTest, WhenNoEchoIsAllowedTheCycleReportsNoConnectionSilently)
{
    PublishAll("1");
    auto fetcher = MakeFetcher();
    SetProbeFaults(WSAEACCES, ERROR_ACCESS_DENIED);
    const unsigned char mask = fetcher->FetchAll();
    SetProbeFaults(0, 0);
    EXPECT_EQ(mask, 0);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_TRUE(CScriptedServer::RequestLines().empty());
}

// The program's own fetcher: port 80 and its real time-outs. Run only by the entry that
// starts the server on port 80.
TEST_F(FetcherTest, Port80_TheProgramsFetcherUsesPort80)
{
    if (CScriptedServer::Port() != 80) GTEST_SKIP() << "server not on port 80";
    PublishAll("1");
    CMessageFetcher fetcher;
    EXPECT_EQ(fetcher.FetchAll(), 15);
    EXPECT_EQ(fetcher.m_nOutcome, 1);
    EXPECT_EQ(CScriptedServer::RequestLines().size(), 5u);
}

// ---- one download ----

TEST_F(FetcherTest, BodyInSmallPiecesArrivesByteForByte)
{
    std::string body;
    for (int i = 0; i < 2500; ++i) body += static_cast<char>((i * 7 + i / 256) & 0xFF);
    CScriptedServer::Publish(Path("mensaje.txt"), 200, body, Delivery::Pieces, 100);
    auto fetcher = MakeFetcher();
    int changed = -1;
    EXPECT_EQ(Fetch(*fetcher, "mensaje.txt", changed), FETCH_OBTAINED);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(ReadBytes("mensaje.txt"), body);
    EXPECT_FALSE(Exists("buffer.txt"));

    // The same again: nothing changes.
    EXPECT_EQ(Fetch(*fetcher, "mensaje.txt", changed), FETCH_OBTAINED);
    EXPECT_EQ(changed, 0);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(FetcherTest, BodyWithoutAnnouncedLengthIsTheWholeAnswer)
{
    CScriptedServer::Publish(Path("mensaje.txt"), 200, std::string(3000, 'n'), Delivery::NoLength);
    auto fetcher = MakeFetcher();
    int changed = -1;
    EXPECT_EQ(Fetch(*fetcher, "mensaje.txt", changed), FETCH_OBTAINED);
    EXPECT_EQ(ReadBytes("mensaje.txt"), std::string(3000, 'n'));
}

TEST_F(FetcherTest, StatusClasses)
{
    auto fetcher = MakeFetcher();
    int changed = -1;

    CScriptedServer::Publish(Path("a.txt"), 204, "");
    EXPECT_EQ(Fetch(*fetcher, "a.txt", changed), FETCH_OBTAINED);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(ReadBytes("a.txt"), "");

    CScriptedServer::Publish(Path("b.txt"), 200, "");
    EXPECT_EQ(Fetch(*fetcher, "b.txt", changed), FETCH_OBTAINED);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(ReadBytes("b.txt"), "");

    CScriptedServer::Publish(Path("c.txt"), 600, "seiscientos");
    EXPECT_EQ(Fetch(*fetcher, "c.txt", changed), FETCH_OBTAINED);
    EXPECT_EQ(ReadBytes("c.txt"), "seiscientos");

    WriteBytes("d.txt", "local");
    CScriptedServer::Publish(Path("d.txt"), 302, "moved", Delivery::Plain, 0, Path("c.txt"));
    EXPECT_EQ(Fetch(*fetcher, "d.txt", changed), FETCH_NOT_PUBLISHED);
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(ReadBytes("d.txt"), "local");

    CScriptedServer::Publish(Path("d.txt"), 404, "missing");
    EXPECT_EQ(Fetch(*fetcher, "d.txt", changed), FETCH_NOT_PUBLISHED);
    EXPECT_EQ(ReadBytes("d.txt"), "local");

    CScriptedServer::Publish(Path("d.txt"), 503, "busy");
    EXPECT_EQ(Fetch(*fetcher, "d.txt", changed), FETCH_FAILED);
    EXPECT_EQ(ReadBytes("d.txt"), "local");

    EXPECT_TRUE(m_boxes.empty());
    // Each file once: no redirection followed.
    EXPECT_EQ(CScriptedServer::RequestLines().size(), 6u);
}

TEST_F(FetcherTest, CutBodyKeepsTheLocalCopyAndLeavesTheBuffer)
{
    const std::string body(4000, 'c');
    CScriptedServer::Publish(Path("mensaje.txt"), 200, body, Delivery::Cut);
    auto fetcher = MakeFetcher();
    WriteBytes("mensaje.txt", "anterior");
    int changed = -1;
    EXPECT_EQ(Fetch(*fetcher, "mensaje.txt", changed), FETCH_FAILED);
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(ReadBytes("mensaje.txt"), "anterior");
    ASSERT_TRUE(Exists("buffer.txt"));
    EXPECT_EQ(ReadBytes("buffer.txt"), body.substr(0, body.size() / 2));
    // The connection ended before the announced length.
    const unsigned long error = ExpectOneInternetErrorBox();
    EXPECT_TRUE(error == 12030u || error == 12031u) << error;
    EXPECT_FALSE(m_boxes.empty() || m_boxes[0].text.ends_with(" - ")) << "a text for every error number";
}

TEST_F(FetcherTest, BufferThatCannotBeCreatedIsShownAndFailsTheFile)
{
    CScriptedServer::Publish(Path("mensaje.txt"), 200, "General");
    auto fetcher = MakeFetcher();
    CHeldFile held("buffer.txt");
    int changed = -1;
    EXPECT_EQ(Fetch(*fetcher, "mensaje.txt", changed), FETCH_FAILED);
    ExpectOneErrorBox(kFileText);
    EXPECT_FALSE(Exists("mensaje.txt"));
}

// ---- the probe's settings ----

TEST_F(FetcherTest, ProbeWaitIsTimeOutReadLeniently)
{
    Set(L"TimeOut", L"1500");
    EXPECT_EQ(CMessageFetcher::ReadProbeWait(), 1500);
    Set(L"TimeOut", L"0");
    EXPECT_EQ(CMessageFetcher::ReadProbeWait(), 0);
    Set(L"TimeOut", L"ninguno");
    EXPECT_EQ(CMessageFetcher::ReadProbeWait(), 0);
    Set(L"TimeOut", L"  250ms");
    EXPECT_EQ(CMessageFetcher::ReadProbeWait(), 250);
    // Longer than its 40-byte buffer.
    Set(L"TimeOut", std::wstring(45, L'1'));
    EXPECT_THROW(CMessageFetcher::ReadProbeWait(), CCodeException);
}

TEST_F(FetcherTest, ServerReachableOnLoopbackOnly)
{
    auto fetcher = MakeFetcher();
    EXPECT_TRUE(fetcher->IsServerReachable());
    Set(L"RemoteHost", L"localhost");
    EXPECT_TRUE(fetcher->IsServerReachable());
    Set(L"RemoteHost", std::wstring(70, L'x') + L".invalid");
    EXPECT_FALSE(fetcher->IsServerReachable());
    Remove(L"TimeOut");
    EXPECT_THROW(fetcher->IsServerReachable(), CCodeException);
    EXPECT_TRUE(m_boxes.empty());
}
