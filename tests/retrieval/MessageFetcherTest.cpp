// The fetch cycle and the download against the scripted web server on loopback, with the
// settings in the real registry and the files in a private current directory.
#include <future>
#include <thread>

#include "retrieval/IcmpProbe.h"
#include "tests/retrieval/FetcherTest.h"

using namespace testing_support;
using Delivery = CScriptedWeb::Delivery;
using namespace std::chrono_literals;

namespace {

const auto* const g_winsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

} // namespace

TEST_F(FetcherTest, CycleShapes)
{
    // What the server and the settings say, and what the cycle leaves.
    const struct {
        const char* name;
        std::function<void(ScopedSettingsKey&)> setUp;
        unsigned char mask;
        int outcome;
        std::vector<std::string> requested;
        std::vector<std::pair<std::string, const char*>> files;  // content, or null for none
        const char* box = nullptr;                                // the one box shown, if any
    } shapes[] = {
        {"first cycle", [](auto&) {}, 15, 1, kFiles,
         {{kConfig, kConfigText.c_str()}, {"mensaje.txt", "General 1"}, {kAdm, "Administrativo 1"}, {"buffer.txt", nullptr}}},
        {"over https", [](auto& key) { key.Set(L"RemoteHost", Secure(CScriptedWeb::Port("HTTPS"))); }, 15, 1, kFiles,
         {{kConfig, kConfigText.c_str()}, {"comercia.txt", "Comercial 1"}, {kTxt, "Operativo 1"}}},
        {"configuration not published", [](auto&) { CScriptedWeb::Publish(Path(kConfig), 404, ""); }, 0, 2, {kConfig},
         {{kConfig, nullptr}, {"mensaje.txt", nullptr}}},
        {"workstation files not published",
         [](auto&) {
             CScriptedWeb::Publish(Path(kTxt), 404, "");
             CScriptedWeb::Publish(Path(kAdm), 302, "", Delivery::Plain, 0, "Location: " + Path("nada.txt") + "\r\n");
         },
         1 | 8, 1, {kConfig, "mensaje.txt", "comercia.txt", kTxt, kAdm, "nada.txt"},
         {{kTxt, kNoMessages}, {kAdm, kNoMessages}}},
        // A portal that redirects says nothing about the file: no connection, no text written.
        {"302 to a portal for a workstation file",
         [](auto&) {
             CScriptedWeb::Publish(Path(kTxt), 302, "", Delivery::Plain, 0, "Location: " + Path("portal.htm") + "\r\n");
             CScriptedWeb::Publish(Path("portal.htm"), 200, "<html>", Delivery::Plain, 0, kPageHead);
         },
         1 | 8, 2, {kConfig, "mensaje.txt", "comercia.txt", kTxt, "portal.htm"}, {{kTxt, nullptr}}},
        {"common file not published", [](auto&) { CScriptedWeb::Publish(Path("mensaje.txt"), 404, ""); }, 2 | 4 | 8, 1,
         kFiles, {{"mensaje.txt", nullptr}}},
        {"server error", [](auto&) { CScriptedWeb::Publish(Path("comercia.txt"), 500, "Internal"); }, 1, 2,
         {kConfig, "mensaje.txt", "comercia.txt"}, {{"comercia.txt", nullptr}, {kTxt, nullptr}}},
        {"no kit identifier", [](auto& key) { key.Delete(L"KitId"); }, 1 | 8, 1, {kConfig, "mensaje.txt", "comercia.txt"},
         {{kTxt, nullptr}, {kAdm, nullptr}}},
        {"kit identifier naming no files", [](auto& key) { key.Set(L"KitId", L"QX20..AB\\2345678"); }, 1 | 8, 1,
         {kConfig, "mensaje.txt", "comercia.txt"}, {}},
        {"no echo reply", [](auto& key) { key.Set(L"RemoteHost", std::wstring(70, L'x') + L".invalid"); }, 0, 2, {}, {}},
        {"no time-out setting", [](auto& key) { key.Delete(L"TimeOut"); }, 0, 2, {}, {},
         "No se pudo encontrar la entrada en la registry."},
        // Without raw-socket rights the system's echo service answers (the probe's suite shows
        // it); when it refuses too, a connection to the server's port decides.
        {"no echo allowed", [](auto&) { SetProbeFaults(WSAEACCES, ERROR_ACCESS_DENIED); }, 15, 1, kFiles, {}},
    };
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.name);
        ScopedWorkDir dir;
        SetUp();
        m_boxes.boxes.clear();
        PublishAll("1");
        shape.setUp(m_key);
        auto fetcher = MakeFetcher();
        const unsigned char mask = fetcher->FetchAll();
        SetProbeFaults(0, 0);
        EXPECT_EQ(mask, shape.mask);
        EXPECT_EQ(fetcher->m_nOutcome, shape.outcome);
        EXPECT_EQ(CScriptedWeb::RequestLines(), Lines(shape.requested));
        for (const auto& [name, content] : shape.files)
            EXPECT_EQ(Exists(name) ? ReadBytes(name) : "(none)", content ? content : "(none)") << name;
        EXPECT_EQ(shape.box ? OneErrorBox() : "", shape.box ? shape.box : "");
        EXPECT_EQ(m_boxes.boxes.size(), shape.box ? 1u : 0u);
    }
}

TEST_F(FetcherTest, LaterCyclesSkipAnObtainedConfigurationAndReportOnlyChangesOnce)
{
    PublishAll("1");
    auto fetcher = MakeFetcher();
    ASSERT_EQ(fetcher->FetchAll(), 15);
    for (const auto& line : CScriptedWeb::RequestLines(true))
        EXPECT_TRUE(line.ends_with("\tNotelia 2.5\tidentity")) << line;
    CScriptedWeb::Reset();
    PublishAll("1");
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 0);
    EXPECT_EQ(CScriptedWeb::RequestLines(), Lines({"mensaje.txt", "comercia.txt", kTxt, kAdm}));

    CScriptedWeb::Publish(Path("comercia.txt"), 200, "Comercial 2");
    EXPECT_EQ(fetcher->FetchAll(), 8);
    EXPECT_EQ(ReadBytes("comercia.txt"), "Comercial 2");

    // News of a cycle that ends without connection is announced by the next good one, once:
    // "mensaje.txt" changes and is installed, then "comercia.txt" fails.
    CScriptedWeb::Publish(Path("mensaje.txt"), 200, "General 2");
    CScriptedWeb::Publish(Path("comercia.txt"), 503, "");
    EXPECT_EQ(fetcher->FetchAll(), 1);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    EXPECT_EQ(ReadBytes("mensaje.txt"), "General 2");
    CScriptedWeb::Publish(Path("comercia.txt"), 200, "Comercial 2");
    EXPECT_EQ(fetcher->FetchAll(), 1);
    EXPECT_EQ(fetcher->m_nOutcome, 1);
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 0);

    // An identical configuration copy that appeared meanwhile is requested again next time.
    auto second = MakeFetcher();
    WriteBytes(kConfig, kConfigText);
    second->FetchAll();
    EXPECT_FALSE(second->Files().ConfigObtained());
    CScriptedWeb::Reset();
    second->FetchAll();
    EXPECT_EQ(CScriptedWeb::RequestLines().front(), Lines({kConfig}).front());
}

TEST_F(FetcherTest, FailuresOfTheServerEndInTheirBoxWithinTheirBounds)
{
    struct Row {
        const char* name;
        unsigned short port;
        bool secure;
        Delivery delivery;
        std::string box = "(12002) - ";  // how it begins
    };
    const Row rows[] = {
        {"nothing listens", CScriptedWeb::DownPort(), false, Delivery::Plain,
         "(12029) - No se puede establecer una conexión con el servidor"},
        {"no answer", CScriptedWeb::Port(), false, Delivery::Silent},
        {"stall after the head", CScriptedWeb::Port(), false, Delivery::Stall},
        // One byte every 400 ms never lets a read time out; the deadline ends it.
        {"drip", CScriptedWeb::Port(), false, Delivery::Drip},
        {"handshake that drips", CScriptedWeb::Port("SLOW_HANDSHAKE"), true, Delivery::Plain},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_boxes.boxes.clear();
        CScriptedWeb::Publish(Path(kConfig), 200, std::string(100, 'd'), row.delivery, 400);
        m_key.Set(L"RemoteHost", row.secure ? Secure(row.port) : L"127.0.0.1");
        auto fetcher = MakeFetcher(row.port, 1500);
        fetcher->SetDeadline(3s);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(fetcher->FetchAll(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
        EXPECT_EQ(fetcher->m_nOutcome, 2);
        EXPECT_EQ(OneErrorBox().substr(0, row.box.size()), row.box);
        EXPECT_FALSE(Exists(kConfig));
    }
}

TEST_F(FetcherTest, AStopEndsADownloadTheServerIsAnsweringAtOnceWithoutABox)
{
    PublishAll("1");
    auto fetcher = MakeFetcher(CScriptedWeb::Port(), 30000);
    ASSERT_EQ(fetcher->FetchAll(), 15);
    CScriptedWeb::Reset();
    PublishAll("2");
    CScriptedWeb::Publish(Path(kTxt), 200, "", Delivery::Silent);
    auto cycle = std::async(std::launch::async, [&] { return fetcher->FetchAll(); });
    const auto seen = [] {
        const auto lines = CScriptedWeb::RequestLines();
        return !lines.empty() && lines.back() == Lines({kTxt}).front();
    };
    for (const auto until = std::chrono::steady_clock::now() + 10s; !seen() && std::chrono::steady_clock::now() < until;)
        std::this_thread::yield();
    ASSERT_TRUE(seen());
    fetcher->Stop();
    // Long before the 30 s time-out.
    ASSERT_EQ(cycle.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(cycle.get(), 1 | 8);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    EXPECT_TRUE(m_boxes.boxes.empty());
    EXPECT_EQ(ReadBytes(kTxt), "Operativo 1");
    EXPECT_FALSE(Exists("buffer.txt"));
}

TEST_F(FetcherTest, ErrorsThatLeaveTheCycle)
{
    PublishAll("1");
    auto fetcher = MakeFetcher();
    ASSERT_EQ(fetcher->FetchAll(), 15);
    CScriptedWeb::Publish(Path("mensaje.txt"), 200, "General 2");
    {
        // A local file that cannot be replaced: file exception, the outcome stays.
        HeldFile held("mensaje.txt");
        EXPECT_THROW(fetcher->FetchAll(), CFileException);
        EXPECT_EQ(fetcher->m_nOutcome, 1);
        EXPECT_EQ(ReadBytes("buffer.txt"), "General 2");
    }
    m_key.Delete(L"RemoteHost");
    EXPECT_EQ(CodeOf([&] { fetcher->FetchAll(); }), -1003);
    EXPECT_EQ(fetcher->m_nOutcome, 1);
    EXPECT_EQ(ReadBytes("mensaje.txt"), "General 1");

    // The workstation file cannot take the no-messages text.
    m_key.Set(L"RemoteHost", L"127.0.0.1");
    CScriptedWeb::Publish(Path(kTxt), 404, "");
    HeldFile held(kTxt);
    EXPECT_EQ(CodeOf([&] { fetcher->FetchAll(); }), -1000);
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_F(FetcherTest, ACallDuringARunningCycleChangesNothing)
{
    PublishAll("1");
    m_key.Delete(L"TimeOut");
    auto fetcher = MakeFetcher();
    m_boxes.onBox = [&] {
        m_key.Set(L"TimeOut", L"3000");
        EXPECT_EQ(fetcher->FetchAll(), 0);  // as a tick under the cycle's box would
    };
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_TRUE(CScriptedWeb::RequestLines().empty());
    m_boxes.onBox = nullptr;
    EXPECT_EQ(fetcher->FetchAll(), 15);
}
TEST_F(FetcherTest, LocalFilesAtConstructionAndDestruction)
{
    for (const auto& name : kFiles) WriteBytes(name, "stale");
    {
        HeldFile held("comercia.txt");
        auto fetcher = MakeFetcher();  // a file held by another program stays, silently
        EXPECT_TRUE(Exists("comercia.txt"));
    }
    for (const auto& name : {std::string("comercia.txt"), kTxt, kAdm}) WriteBytes(name, "stale");
    {
        auto fetcher = MakeFetcher();
        EXPECT_FALSE(Exists(kConfig) || Exists("mensaje.txt") || Exists("comercia.txt"));
        EXPECT_EQ(ReadBytes(kTxt), "stale");
        // A left-over workstation copy counts as changed only when the download differs.
        PublishAll("1");
        CScriptedWeb::Publish(Path(kAdm), 200, "stale");
        EXPECT_EQ(fetcher->FetchAll(), 1 | 4 | 8);
        CScriptedWeb::Publish(Path("mensaje.txt"), 200, std::string(4000, 'g'), Delivery::Cut);
        fetcher->FetchAll();
    }
    const auto left = std::filesystem::directory_iterator(m_dir.Path());
    EXPECT_EQ(std::vector<std::filesystem::directory_entry>(begin(left), end(left)).size(), 1u);
    EXPECT_TRUE(Exists("buffer.txt"));
}

TEST_F(FetcherTest, TheProbeReadsItsSettings)
{
    // Read leniently, and never longer than 5 s.
    const std::pair<const wchar_t*, long> rows[] = {{L"  250ms", 250}, {L"5000", 5000}, {L"5001", 5000}, {L"600000", 5000}};
    for (const auto& [text, wait] : rows) {
        m_key.Set(L"TimeOut", text);
        EXPECT_EQ(CMessageFetcher::ReadProbeWait(), wait);
    }
    m_key.Set(L"TimeOut", std::wstring(45, L'1'));  // longer than its 40-byte buffer
    EXPECT_THROW(CMessageFetcher::ReadProbeWait(), CCodeException);
}
