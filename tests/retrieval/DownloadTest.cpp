// The download of one file: what is installed, and what fails and keeps the copy.
#include "app/Settings.h"
#include "tests/retrieval/FetcherTest.h"

using namespace testing_support;
using Delivery = CScriptedWeb::Delivery;

TEST_F(FetcherTest, DownloadShapes)
{
    std::string body;
    for (int i = 0; i < 6000; ++i) body += static_cast<char>((i * 7 + i / 256) & 0xFF);
    const std::string bound(1 << 20, 'b');
    const std::string chunks = "5\r\nHola \r\n6;x=y\r\nmundo!\r\n0\r\nX-Suma: 1\r\n\r\n";
    const std::string chunked = "Transfer-Encoding: chunked\r\n";
    struct Row {
        const char* name;
        int status;
        std::string body;
        Delivery delivery;
        std::string headers;
        bool secure;
        int result;
        std::string installed;  // the local file afterwards: kOld when it stays, time and all
        std::string box;        // how the one box shown begins, if any
    };
    const Row rows[] = {
        {"in pieces", 200, body, Delivery::Pieces, "", false, FETCH_OBTAINED, body, ""},
        {"to the end", 200, body + "+", Delivery::NoLength, "", false, FETCH_OBTAINED, body + "+", ""},
        {"empty", 200, "", Delivery::Plain, "", false, FETCH_OBTAINED, "", ""},
        {"204", 204, "", Delivery::Plain, "", false, FETCH_OBTAINED, "", ""},
        {"600", 600, "seiscientos", Delivery::Plain, "", false, FETCH_OBTAINED, "seiscientos", ""},
        {"a 404 page", 404, "<html>", Delivery::Plain, kPageHead, false, FETCH_NOT_PUBLISHED, kOld, ""},
        {"503", 503, "no", Delivery::Plain, "", false, FETCH_FAILED, kOld, ""},
        // A copy this run did not install was not asked about: "not modified" says nothing of it.
        {"304 unasked", 304, "", Delivery::Plain, "ETag: \"e\"\r\n", false, FETCH_FAILED, kOld, "(12152)"},
        {"cut", 200, body, Delivery::Cut, "", false, FETCH_FAILED, kOld, "(12030)"},
        // Exactly the bound is a message file; larger, announced, in chunks or not: never
        // installed, and no box.
        {"at the bound", 200, bound, Delivery::Plain, "", false, FETCH_OBTAINED, bound, ""},
        {"over the bound", 200, bound + "+", Delivery::Plain, "", false, FETCH_FAILED, kOld, ""},
        {"over the bound to the end", 200, bound + "+", Delivery::NoLength, "", false, FETCH_FAILED, kOld, ""},
        {"a chunk over the bound", 200, "100001\r\nb", Delivery::NoLength, chunked, false, FETCH_FAILED, kOld, ""},
        // Chunks decoded, whatever length stands beside them; other codings refused.
        {"chunks with a length", 200, chunks, Delivery::Plain, chunked, false, FETCH_OBTAINED, "Hola mundo!", ""},
        {"chunks", 200, chunks, Delivery::NoLength, chunked, false, FETCH_OBTAINED, "Hola mundo!", ""},
        {"chunks at the bound", 200, "100000\r\n" + bound + "\r\n0\r\n\r\n", Delivery::NoLength, chunked, false,
         FETCH_OBTAINED, bound, ""},
        {"a chunk size over 64 bits", 200, "10000000000000000\r\n", Delivery::NoLength, chunked, false, FETCH_FAILED,
         kOld, "(12152)"},
        {"a chunk cut short", 200, "10\r\nabc", Delivery::NoLength, chunked, false, FETCH_FAILED, kOld, "(12030)"},
        {"gzip", 200, "\x1f\x8b\x08", Delivery::Plain, "Content-Encoding: gzip\r\n", false, FETCH_FAILED, kOld, "(12152)"},
        {"gzip in chunks", 200, chunks, Delivery::Plain, "Transfer-Encoding: gzip, chunked\r\n", false, FETCH_FAILED,
         kOld, "(12152)"},
        // A portal's page: silently no connection.
        {"a page", 200, "<html>", Delivery::Plain, kPageHead, false, FETCH_FAILED, kOld, ""},
        // Over TLS only close_notify ends a body: then at once, though the TCP connection stays.
        {"close_notify", 200, body, Delivery::Notify, "", true, FETCH_OBTAINED, body, ""},
        {"tls cut", 200, body, Delivery::Cut, "", true, FETCH_FAILED, kOld, "(12030)"},
        {"tls cut without length", 200, body, Delivery::CutNoLength, "", true, FETCH_FAILED, kOld, "(12030)"},
        {"tls cut after the head", 200, "x", Delivery::CutNoLength, "", true, FETCH_FAILED, kOld, "(12030)"},
        {"tls reset", 200, body, Delivery::ResetNoLength, "", true, FETCH_FAILED, kOld, "(12030)"},
        {"tls record cut half-way", 200, body, Delivery::HalfRecord, "", true, FETCH_FAILED, kOld, "(12030)"},
    };
    auto fetcher = MakeFetcher();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_key.Set(L"RemoteHost", row.secure ? Secure(CScriptedWeb::Port("HTTPS")) : L"127.0.0.1");
        CScriptedWeb::Publish(Path("mensaje.txt"), row.status, row.body, row.delivery, 100, row.headers);
        ExpectFetch(*fetcher, "mensaje.txt", row.result, row.installed, row.box);
    }
    // "buffer.txt" that cannot be created is told.
    m_boxes.boxes.clear();
    HeldFile held("buffer.txt");
    int changed = -1;
    EXPECT_EQ(Fetch(*fetcher, "mensaje.txt", changed), FETCH_FAILED);
    EXPECT_EQ(OneErrorBox(), "No se pudo abrir el archivo.");
}

TEST_F(FetcherTest, RedirectionsAreFollowedFiveInARowNeverBackToHttp)
{
    const std::string http = "127.0.0.1:" + std::to_string(CScriptedWeb::Port());
    const std::string https = ":" + std::to_string(CScriptedWeb::Port("HTTPS"));
    // h0 to h5 through every followed status, to another host name, to a path and into TLS
    // (the certificate checked for that host); hx before them makes six. A certificate that
    // nothing trusts fails with its own box, a host without echo silently.
    const std::pair<int, std::string> hops[] = {{301, "http://localhost:" + std::to_string(CScriptedWeb::Port())},
                                                {302, ""}, {303, "https://localhost" + https}, {307, ""},
                                                {308, "HTTPS://127.0.0.1" + https}};
    for (int i = 0; i < 5; ++i)
        CScriptedWeb::Publish(Path("h" + std::to_string(i)), hops[i].first, "", Delivery::Plain, 0,
                              "Location: " + hops[i].second + Path("h" + std::to_string(i + 1)) + "#f\r\n");
    CScriptedWeb::Publish(Path("h5"), 200, "Redirigido");
    const auto redirect = [](const std::string& name, const std::string& location) {
        CScriptedWeb::Publish(Path(name), 302, "", Delivery::Plain, 0, "Location: " + location + "\r\n");
    };
    redirect("hx", Path("h0"));
    redirect("down", "http://" + http + Path("h5"));
    redirect("untrusted", "https://127.0.0.1:" + std::to_string(CScriptedWeb::Port("HTTPS_UNTRUSTED")) + Path("h5"));
    // A label too long for any name server: the look-up never leaves the machine.
    redirect("noecho", "http://" + std::string(70, 'x') + ".invalid" + Path("h5"));
    redirect("none", "");
    const std::string redirectFailed = "(12156) - No se pudo seguir la redirección del servidor";
    const struct {
        const char* name;
        bool secure;
        int result;
        std::vector<std::string> requested;
        std::string box;
    } rows[] = {
        {"h0", false, FETCH_OBTAINED, {"h0", "h1", "h2", "h3", "h4", "h5"}, ""},
        {"hx", false, FETCH_FAILED, {"hx", "h0", "h1", "h2", "h3", "h4"}, redirectFailed},
        {"down", true, FETCH_FAILED, {"down"}, redirectFailed},
        {"untrusted", false, FETCH_FAILED, {"untrusted"}, kUntrusted},
        {"noecho", false, FETCH_FAILED, {"noecho"}, ""},
        {"none", false, FETCH_FAILED, {"none"}, redirectFailed},
    };
    auto fetcher = MakeFetcher();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        m_key.Set(L"RemoteHost", row.secure ? Secure(CScriptedWeb::Port("HTTPS")) : L"127.0.0.1");
        const std::size_t before = CScriptedWeb::RequestLines().size();
        ExpectFetch(*fetcher, row.name, row.result, row.result == FETCH_OBTAINED ? "Redirigido" : kOld, row.box);
        const auto lines = CScriptedWeb::RequestLines();
        EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<long>(before), lines.end()), Lines(row.requested));
    }
}

TEST_F(FetcherTest, APortalIsNoConnectionAndNeverBecomesTheConfiguration)
{
    const auto portal = [] {
        for (const auto& name : kFiles)
            CScriptedWeb::Publish(Path(name), 200, "<html>Bienvenido</html>", Delivery::Plain, 0, kPageHead);
    };
    portal();
    auto fetcher = MakeFetcher();
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    EXPECT_FALSE(Exists(kConfig));
    // The real server after it: the refresh period and the recipients come from its file.
    PublishAll("1");
    CScriptedWeb::Publish(Path(kConfig), 200, "[Timer]\r\nTimerRefresh=600\r\n[MailList]\r\nName1=Mesa\r\n");
    EXPECT_EQ(fetcher->FetchAll(), 15);
    EXPECT_EQ(ReadConfigInt("Timer", "TimerRefresh", 300), 600);
    EXPECT_EQ(ReadConfigString("MailList", "Name1", "", 100), "Mesa");
    // The portal again: no connection, every copy as it was.
    const auto time = std::filesystem::last_write_time(kTxt);
    portal();
    EXPECT_EQ(fetcher->FetchAll(), 0);
    EXPECT_EQ(fetcher->m_nOutcome, 2);
    EXPECT_EQ(ReadBytes("mensaje.txt"), "General 1");
    EXPECT_EQ(std::filesystem::last_write_time(kTxt), time);
    EXPECT_TRUE(m_boxes.boxes.empty());
}
