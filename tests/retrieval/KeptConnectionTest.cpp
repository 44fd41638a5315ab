// What a cycle costs the server: one connection while the server keeps it, and 304 for a
// copy that has not changed.
#include <algorithm>
#include <filesystem>

#include "tests/retrieval/FetcherTest.h"

using namespace testing_support;

namespace {

const std::string kModified = "Mon, 07 Dec 2026 10:00:00 GMT";

std::string ValidatorHeaders(const std::string& etag, bool lastModified = true)
{
    return (etag.empty() ? "" : "ETag: " + etag + "\r\n") + (lastModified ? "Last-Modified: " + kModified + "\r\n" : "");
}

// The logged request for `name`, with its fields.
std::string RequestFor(const std::string& name)
{
    const auto lines = CScriptedWeb::RequestLines(true);
    const auto found = std::find_if(lines.begin(), lines.end(),
                                    [&](const std::string& line) { return line.starts_with("GET " + Path(name) + " "); });
    return found == lines.end() ? "" : *found;
}

} // namespace

TEST_F(FetcherTest, ServersThatKeepOrCloseTheConnectionGiveACompleteCycle)
{
    struct Row {
        const char* name;
        int keep;   // answers per kept connection (0: all), -1: every answer closes it
        bool drop;  // closed once the next request has come, unanswered
        bool secure;
        int connections;
    };
    const Row rows[] = {
        {"closes after each answer", -1, false, false, 5},
        {"keeps it", 0, false, false, 1},
        {"says it keeps it, closes after each answer", 1, false, false, 5},
        {"closes between two files", 2, false, false, 3},
        {"closes on the request after two, unanswered", 2, true, false, 3},
        {"keeps it, over TLS", 0, false, true, 1},
        {"closes on the request after each answer, over TLS", 1, true, true, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CScriptedWeb::Reset();
        if (row.keep >= 0) CScriptedWeb::KeepConnections(row.keep, row.drop);
        PublishAll("1");
        m_key.Set(L"RemoteHost", row.secure ? Secure(CScriptedWeb::Port("HTTPS")) : L"127.0.0.1");
        auto fetcher = MakeFetcher();
        EXPECT_EQ(fetcher->FetchAll(), 15);
        EXPECT_EQ(fetcher->m_nOutcome, 1);
        EXPECT_EQ(ReadBytes(kAdm), "Administrativo 1");
        EXPECT_EQ(CScriptedWeb::RequestLines(), Lines({kConfig, "mensaje.txt", "comercia.txt", kTxt, kAdm}));
        const CScriptedWeb::Counts counts = CScriptedWeb::Count();
        EXPECT_EQ(counts.connections, row.connections);
        // Full or resumed: Wine's Schannel resumes none; Windows may.
        EXPECT_EQ(counts.full + counts.resumed, row.secure ? row.connections : 0);
        EXPECT_TRUE(m_boxes.boxes.empty()) << m_boxes.boxes[0].text;
    }
}

TEST_F(FetcherTest, ACopyThisRunInstalledIsAskedAboutWithItsValidators)
{
    // The Operativo file through its life; the others stay as they are.
    struct Step {
        const char* name;
        int status;
        std::string body;
        std::string etag;
        std::string asked;  // the validators the request carried
        unsigned char mask;
    };
    const Step steps[] = {
        {"first", 200, "uno", "\"t1\"", "", 15},
        {"unchanged", 200, "uno", "\"t1\"", "\t\"t1\"\t" + kModified, 0},
        {"changed", 200, "dos", "\"t2\"", "\t\"t1\"\t" + kModified, 4},
        {"withdrawn", 404, "", "", "\t\"t2\"\t" + kModified, 0},
        {"published again", 200, "dos", "\"t2\"", "", 4},
    };
    auto fetcher = MakeFetcher();
    const std::string steady[] = {"mensaje.txt", "comercia.txt", kAdm};
    std::filesystem::file_time_type times[3];
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        CScriptedWeb::Reset();
        CScriptedWeb::KeepConnections(0);
        CScriptedWeb::Publish(Path(kConfig), 200, kConfigText, {}, 0, ValidatorHeaders("\"c\""));
        CScriptedWeb::Publish(Path("mensaje.txt"), 200, "General", {}, 0, ValidatorHeaders("\"g\""));
        CScriptedWeb::Publish(Path("comercia.txt"), 200, "Comercial", {}, 0, ValidatorHeaders(""));
        CScriptedWeb::Publish(Path(kAdm), 200, "Administrativo", {}, 0, ValidatorHeaders("\"a\"", false));
        CScriptedWeb::Publish(Path(kTxt), step.status, step.body, {}, 0, step.etag.empty() ? "" : ValidatorHeaders(step.etag));
        const auto before = Exists(kTxt) ? std::filesystem::last_write_time(kTxt) : std::filesystem::file_time_type{};

        EXPECT_EQ(fetcher->FetchAll(), step.mask);
        EXPECT_EQ(fetcher->m_nOutcome, step.mask ? 1 : 0);
        EXPECT_EQ(ReadBytes(kTxt), step.status == 404 ? kNoMessages : step.body);
        EXPECT_TRUE(step.mask || step.status != 200 || std::filesystem::last_write_time(kTxt) == before);
        EXPECT_EQ(RequestFor(kTxt), "GET " + Path(kTxt) + " HTTP/1.0\tNotelia 2.5\tidentity" + step.asked);
        EXPECT_EQ(CScriptedWeb::Count().connections, 1);
        if (step.mask == 15) {
            for (int i = 0; i < 3; ++i) times[i] = std::filesystem::last_write_time(steady[i]);
            continue;
        }
        // Asked with what the server said of each, answered 304, never rewritten.
        EXPECT_TRUE(RequestFor("mensaje.txt").ends_with("\t\"g\"\t" + kModified));
        EXPECT_TRUE(RequestFor("comercia.txt").ends_with("identity\t\t" + kModified));
        EXPECT_TRUE(RequestFor(kAdm).ends_with("identity\t\"a\"\t"));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(std::filesystem::last_write_time(steady[i]), times[i]) << steady[i];
    }
    EXPECT_TRUE(m_boxes.boxes.empty());
}
