// The fetch cycle and the download against the scripted web server on loopback, with the
// settings in the real registry and the files in a private current directory.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/Errors.h"
#include "app/Identity.h"
#include "retrieval/IcmpProbe.h"
#include "retrieval/MessageFetcher.h"
#include "tests/retrieval/ScriptedWeb.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WinTestSupport.h"
#include "win/TextCodec.h"

using namespace testing_support;
using Delivery = CScriptedWeb::Delivery;
using namespace std::chrono_literals;

namespace {

const char kNoMessages[] = "No hay mensajes para este puesto de trabajo.";
const std::string kTxt = "202AB123.txt";  // workstation of kit QX2026AB12345678
const std::string kAdm = "202AB123.adm";
const std::string kConfig = "notelia_param.ini";
const std::string kConfigText = "[Timer]\r\nTimerRefresh=300\r\n";
constexpr unsigned long kTestTimeOut = 5000;

const auto* const g_winsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

// A file held open with no sharing, as another program might hold it.
struct HeldFile {
    explicit HeldFile(const std::string& name)
        : handle(CreateFileW(WidenCp1252(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0,
                             nullptr)) {}
    ~HeldFile() { CloseHandle(handle); }
    HANDLE handle;
};

std::string Path(const std::string& name) { return "/zandu/" + name; }

// RemoteHost for the wrapper's server over TLS on `port`.
std::wstring Secure(unsigned short port) { return L"https://127.0.0.1:" + std::to_wstring(port); }

// The error code that `action` raises (0: none).
long CodeOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CCodeException& e) {
        return e.Code();
    }
    return 0;
}

std::vector<std::string> Lines(const std::vector<std::string>& names)
{
    std::vector<std::string> lines;
    for (const auto& name : names) lines.push_back("GET /zandu/" + name + " HTTP/1.0");
    return lines;
}

class FetcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(CScriptedWeb::Port(), 0) << "run under tests/retrieval/http_server.py";
        CScriptedWeb::Reset();
        m_key.Set(L"RemoteHost", L"127.0.0.1");
        m_key.Set(L"TimeOut", L"3000");
        m_key.Set(L"KitId", L"QX2026AB12345678");
    }

    static std::unique_ptr<CMessageFetcher> MakeFetcher(unsigned short port = CScriptedWeb::Port(),
                                                        unsigned long timeOut = kTestTimeOut)
    {
        return std::make_unique<CMessageFetcher>(port, timeOut, &GetKitId);
    }

    // Every file of a cycle, with contents that carry `version`.
    static void PublishAll(const std::string& version)
    {
        CScriptedWeb::Publish(Path(kConfig), 200, kConfigText);
        CScriptedWeb::Publish(Path("mensaje.txt"), 200, "General " + version);
        CScriptedWeb::Publish(Path("comercia.txt"), 200, "Comercial " + version);
        CScriptedWeb::Publish(Path(kTxt), 200, "Operativo " + version);
        CScriptedWeb::Publish(Path(kAdm), 200, "Administrativo " + version);
    }

    // FetchFile on a connection of its own.
    static int Fetch(CMessageFetcher& fetcher, const std::string& name, int& changed)
    {
        const auto cycle = fetcher.NewCycle();
        EXPECT_TRUE(cycle->Connect());
        return cycle->FetchFile(name, name, changed);
    }

    // The one "ATENCION" box without owner that the download shows; answers its text.
    std::string OneErrorBox()
    {
        EXPECT_EQ(m_boxes.boxes.size(), 1u);
        if (m_boxes.boxes.empty()) return "";
        const auto& box = m_boxes.boxes[0];
        EXPECT_TRUE(box.caption == "ATENCION" && box.flags == 16u && !box.owner) << box.caption << box.flags;
        return box.text;
    }

    // The "(N) - text" box of an internet failure; answers N. Windows describes every one.
    unsigned long OneInternetErrorBox()
    {
        const std::string text = OneErrorBox();
        std::smatch match;
        EXPECT_TRUE(std::regex_match(text, match, std::regex(R"(\((\d+)\) - (.+))"))) << text;
        EXPECT_EQ(text.find("no documentado"), std::string::npos) << text;
        return match.empty() ? 0 : std::stoul(match[1]);
    }

    ScopedWorkDir m_dir;
    ScopedSettingsKey m_key;
    ScriptedBoxes m_boxes;
};

// One cycle shape: what the server and the settings say, and what the cycle leaves.
struct CycleShape {
    const char* name;
    std::function<void(ScopedSettingsKey&)> setUp;
    unsigned char mask;
    int outcome;
    std::vector<std::string> requested;
    std::vector<std::pair<std::string, const char*>> files;  // content, or null for none
    const char* box;                                          // the one box shown, if any
};

} // namespace

TEST_F(FetcherTest, CycleShapes)
{
    const std::vector<std::string> all = {kConfig, "mensaje.txt", "comercia.txt", kTxt, kAdm};
    const CycleShape shapes[] = {
        {"first cycle", [](auto&) {}, 15, 1, all,
         {{kConfig, kConfigText.c_str()}, {"mensaje.txt", "General 1"}, {kAdm, "Administrativo 1"}, {"buffer.txt", nullptr}},
         nullptr},
        {"over https", [](auto& key) { key.Set(L"RemoteHost", Secure(CScriptedWeb::Port("HTTPS"))); }, 15, 1, all,
         {{kConfig, kConfigText.c_str()}, {"comercia.txt", "Comercial 1"}, {kTxt, "Operativo 1"}}, nullptr},
        {"configuration not published", [](auto&) { CScriptedWeb::Publish(Path(kConfig), 404, ""); }, 0, 2, {kConfig},
         {{kConfig, nullptr}, {"mensaje.txt", nullptr}}, nullptr},
        {"workstation files not published",
         [](auto&) {
             CScriptedWeb::Publish(Path(kTxt), 404, "");
             CScriptedWeb::Publish(Path(kAdm), 302, "", Delivery::Plain, 0, Path("mensaje.txt"));
         },
         1 | 8, 1, all, {{kTxt, kNoMessages}, {kAdm, kNoMessages}}, nullptr},
        {"common file not published", [](auto&) { CScriptedWeb::Publish(Path("mensaje.txt"), 404, ""); }, 2 | 4 | 8, 1,
         all, {{"mensaje.txt", nullptr}}, nullptr},
        {"server error", [](auto&) { CScriptedWeb::Publish(Path("comercia.txt"), 500, "Internal"); }, 1, 2,
         {kConfig, "mensaje.txt", "comercia.txt"}, {{"comercia.txt", nullptr}, {kTxt, nullptr}}, nullptr},
        {"no kit identifier", [](auto& key) { key.Delete(L"KitId"); }, 1 | 8, 1, {kConfig, "mensaje.txt", "comercia.txt"},
         {{kTxt, nullptr}, {kAdm, nullptr}}, nullptr},
        {"kit identifier naming no files", [](auto& key) { key.Set(L"KitId", L"QX20..AB\\2345678"); }, 1 | 8, 1,
         {kConfig, "mensaje.txt", "comercia.txt"}, {}, nullptr},
        {"no echo reply", [](auto& key) { key.Set(L"RemoteHost", std::wstring(70, L'x') + L".invalid"); }, 0, 2, {}, {},
         nullptr},
        {"no time-out setting", [](auto& key) { key.Delete(L"TimeOut"); }, 0, 2, {}, {},
         "No se pudo encontrar la entrada en la registry."},
        // Without raw-socket rights the system's echo service answers; when it refuses too,
        // a connection to the server's port decides.
        {"echo by the service", [](auto&) { SetProbeFaults(WSAEACCES, 0); }, 15, 1, all, {}, nullptr},
        {"no echo allowed", [](auto&) { SetProbeFaults(WSAEACCES, ERROR_ACCESS_DENIED); }, 15, 1, all, {}, nullptr},
    };
    for (const CycleShape& shape : shapes) {
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

TEST_F(FetcherTest, LaterCyclesSkipAnObtainedConfigurationAndReportOnlyChanges)
{
    PublishAll("1");
    auto fetcher = MakeFetcher();
    ASSERT_EQ(fetcher->FetchAll(), 15);
    for (const auto& line : CScriptedWeb::RequestLines(true)) EXPECT_TRUE(line.ends_with("\tNotelia 2.5")) << line;
    CScriptedWeb::Reset();
    PublishAll("1");
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 0);
    EXPECT_EQ(CScriptedWeb::RequestLines(), Lines({"mensaje.txt", "comercia.txt", kTxt, kAdm}));

    CScriptedWeb::Publish(Path("comercia.txt"), 200, "Comercial 2");
    EXPECT_EQ(fetcher->FetchAll(), 8);
    EXPECT_EQ(ReadBytes("comercia.txt"), "Comercial 2");

    // An identical configuration copy that appeared meanwhile is requested again next time.
    auto second = MakeFetcher();
    WriteBytes(kConfig, kConfigText);
    second->FetchAll();
    EXPECT_FALSE(second->Files().ConfigObtained());
    CScriptedWeb::Reset();
    second->FetchAll();
    EXPECT_EQ(CScriptedWeb::RequestLines().front(), Lines({kConfig}).front());
}

TEST_F(FetcherTest, NewsOfACycleWithoutConnectionIsAnnouncedByTheNextGoodOne)
{
    PublishAll("1");
    auto fetcher = MakeFetcher();
    ASSERT_EQ(fetcher->FetchAll(), 15);
    // "mensaje.txt" changes and is installed, then "comercia.txt" fails.
    CScriptedWeb::Publish(Path("mensaje.txt"), 200, "General 2");
    CScriptedWeb::Publish(Path("comercia.txt"), 503, "");
    EXPECT_EQ(fetcher->FetchAll(), 1);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    EXPECT_EQ(ReadBytes("mensaje.txt"), "General 2");

    CScriptedWeb::Publish(Path("comercia.txt"), 200, "Comercial 1");
    EXPECT_EQ(fetcher->FetchAll(), 1);
    EXPECT_EQ(fetcher->m_nOutcome, 1);
    // Announced once only.
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 0);
}

TEST_F(FetcherTest, FailuresOfTheServerEndInTheirBoxWithinTheirBounds)
{
    struct Row {
        const char* name;
        unsigned short port;
        bool secure;
        Delivery delivery;
        unsigned long error;
    };
    const Row rows[] = {
        {"nothing listens", CScriptedWeb::DownPort(), false, Delivery::Plain, 12029},
        {"no answer", CScriptedWeb::Port(), false, Delivery::Silent, 12002},
        {"stall after the head", CScriptedWeb::Port(), false, Delivery::Stall, 12002},
        // One byte every 400 ms never lets a read time out; the deadline ends it.
        {"drip", CScriptedWeb::Port(), false, Delivery::Drip, 12002},
        {"handshake that drips", CScriptedWeb::Port("SLOW_HANDSHAKE"), true, Delivery::Plain, 12002},
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
        EXPECT_EQ(OneInternetErrorBox(), row.error);
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

    // A RemoteHost that names no server (empty, a path...): the "ATENCION" box, no connection.
    m_key.Set(L"RemoteHost", L"https://127.0.0.1/zandu");
    EXPECT_EQ(MakeFetcher()->FetchAll(), 0);
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].caption, "ATENCION");
    EXPECT_EQ(m_boxes.boxes[0].text, "(12005) - La dirección URL no es válida");
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
    for (const auto& name : {kConfig, std::string("mensaje.txt"), std::string("comercia.txt"), kTxt, kAdm})
        WriteBytes(name, "stale");
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

// The program's own fetcher (port 80, real time-outs); only the entry with the server on 80.
TEST_F(FetcherTest, Port80_TheProgramsFetcherUsesPort80)
{
    if (CScriptedWeb::Port() != 80) GTEST_SKIP() << "server not on port 80";
    PublishAll("1");
    CMessageFetcher fetcher;
    EXPECT_EQ(fetcher.FetchAll(), 15);
    EXPECT_EQ(CScriptedWeb::RequestLines().size(), 5u);
}

TEST_F(FetcherTest, TheProbeReadsItsSettings)
{
    // Read leniently, and never longer than 5 s.
    const std::pair<const wchar_t*, long> rows[] = {{L"  250ms", 250}, {L"5000", 5000}, {L"5001", 5000}, {L"600000", 5000}};
    for (const auto& [text, wait] : rows) {
        m_key.Set(L"TimeOut", text);
        EXPECT_EQ(CMessageFetcher::ReadProbeWait(), wait);
    }
    auto fetcher = MakeFetcher();
    EXPECT_TRUE(fetcher->IsServerReachable());
    m_key.Set(L"TimeOut", std::wstring(45, L'1'));  // longer than its 40-byte buffer
    EXPECT_THROW(CMessageFetcher::ReadProbeWait(), CCodeException);
    m_key.Delete(L"TimeOut");
    EXPECT_THROW(fetcher->IsServerReachable(), CCodeException);
}

TEST_F(FetcherTest, DownloadShapes)
{
    std::string body;
    for (int i = 0; i < 2500; ++i) body += static_cast<char>((i * 7 + i / 256) & 0xFF);
    struct Row {
        int status;
        std::string body;  // empty with a size: the server makes `size` bytes
        Delivery delivery;
        int result;
        std::size_t size;      // of the local file afterwards ("anterior" when not replaced)
        unsigned long box;     // the error number of the one box shown, 0 for none
    };
    const Row rows[] = {
        {200, body, Delivery::Pieces, FETCH_OBTAINED, 2500, 0},
        {200, body + "+", Delivery::NoLength, FETCH_OBTAINED, 2501, 0},
        {200, "", Delivery::Plain, FETCH_OBTAINED, 0, 0},
        {204, "", Delivery::Plain, FETCH_OBTAINED, 0, 0},
        {600, "seiscientos", Delivery::Plain, FETCH_OBTAINED, 11, 0},
        {302, "", Delivery::Plain, FETCH_NOT_PUBLISHED, 8, 0},
        {404, "no", Delivery::Plain, FETCH_NOT_PUBLISHED, 8, 0},
        {503, "no", Delivery::Plain, FETCH_FAILED, 8, 0},
        {200, std::string(4000, 'c'), Delivery::Cut, FETCH_FAILED, 8, 12030},
        // Larger than any message file, announced or not: never installed, and no box.
        {200, "", Delivery::Plain, FETCH_FAILED, 8, 0},
        {200, "", Delivery::NoLength, FETCH_FAILED, 8, 0},
    };
    auto fetcher = MakeFetcher();
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(i);
        m_boxes.boxes.clear();
        WriteBytes("mensaje.txt", "anterior");
        if (i >= 9)
            CScriptedWeb::PublishSize(Path("mensaje.txt"), (1 << 20) + 1, row.delivery);
        else
            CScriptedWeb::Publish(Path("mensaje.txt"), row.status, row.body, row.delivery, 100, Path("c.txt"));
        int changed = -1;
        EXPECT_EQ(Fetch(*fetcher, "mensaje.txt", changed), row.result);
        EXPECT_EQ(changed, row.result == FETCH_OBTAINED ? 1 : 0);
        EXPECT_EQ(ReadBytes("mensaje.txt"), row.result == FETCH_OBTAINED ? row.body : "anterior");
        EXPECT_EQ(ReadBytes("mensaje.txt").size(), row.size);
        EXPECT_EQ(row.box ? OneInternetErrorBox() : 0ul, row.box);
        EXPECT_EQ(m_boxes.boxes.size(), row.box ? 1u : 0u);
    }
    // Exactly the limit is a message file; the same again changes nothing.
    for (const int expected : {1, 0}) {
        CScriptedWeb::PublishSize(Path("mensaje.txt"), 1 << 20);
        int changed = -1;
        EXPECT_EQ(Fetch(*fetcher, "mensaje.txt", changed), FETCH_OBTAINED);
        EXPECT_EQ(changed, expected);
    }
    // No redirection was followed; "buffer.txt" that cannot be created is told.
    EXPECT_EQ(CScriptedWeb::RequestLines().size(), std::size(rows) + 2);
    HeldFile held("buffer.txt");
    int changed = -1;
    EXPECT_EQ(Fetch(*fetcher, "mensaje.txt", changed), FETCH_FAILED);
    EXPECT_EQ(OneErrorBox(), "No se pudo abrir el archivo.");
    // A certificate that nothing trusts fails the download with its own box; the copy stays.
    m_boxes.boxes.clear();
    m_key.Set(L"RemoteHost", Secure(CScriptedWeb::Port("HTTPS_UNTRUSTED")));
    EXPECT_EQ(Fetch(*fetcher, "mensaje.txt", changed), FETCH_FAILED);
    EXPECT_EQ(OneErrorBox(), "No se pudo verificar el certificado del servidor: no lo emitió una autoridad de confianza "
                             "(error 0x800B010A).");
    EXPECT_EQ(ReadBytes("mensaje.txt"), std::string(1 << 20, 'x'));
}
