// What a cycle costs the server: one connection while the server keeps it, and 304 for a
// copy that has not changed.
#include <algorithm>
#include <filesystem>

#include "tests/retrieval/FetcherTest.h"

using namespace testing_support;

TEST_F(FetcherTest, ServersThatKeepOrCloseTheConnectionGiveACompleteCycle)
{
    struct Row {
        const char* name;
        int keep;   // answers per kept connection (0: all), -1: every answer closes it
        bool drop;    // closed once the next request has come, unanswered
        bool secure;  // RemoteHost https, or for "moved" every file sent there by a 301
        int connections;
    } const rows[] = {
        {"closes after each answer", -1, false, false, 5},
        {"keeps it", 0, false, false, 1},
        {"says it keeps it, closes after each answer", 1, false, false, 5},
        {"closes between two files", 2, false, false, 3},
        {"closes on the request after two, unanswered", 2, true, false, 3},
        {"keeps it, over TLS", 0, false, true, 1},
        {"closes on the request after each answer, over TLS", 1, true, true, 5},
        {"moved", 0, false, true, 2},
    };
    const std::string https = "https://127.0.0.1:" + std::to_string(CScriptedWeb::Port("HTTPS"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CScriptedWeb::Reset();
        if (row.keep >= 0) CScriptedWeb::KeepConnections(row.keep, row.drop);
        const bool moved = row.name == std::string("moved");
        m_key.Set(L"RemoteHost", row.secure && !moved ? Secure(CScriptedWeb::Port("HTTPS")) : L"127.0.0.1");
        // Both servers serve the same scripts: the moved files live under another path.
        PublishAll("1", moved ? "/moved/" : "/zandu/");
        std::vector<std::string> requested;
        for (const auto& name : kFiles) {
            requested.push_back("GET " + Path(name) + " HTTP/1.0");
            if (!moved) continue;
            CScriptedWeb::Publish(Path(name), 301, "", {}, 0, "Location: " + https + "/moved/" + name + "\r\n");
            requested.push_back("GET /moved/" + name + " HTTP/1.0");
        }
        EXPECT_EQ(MakeFetcher()->FetchAll(), 15);
        EXPECT_EQ(CScriptedWeb::RequestLines(), requested);
        const CScriptedWeb::Counts counts = CScriptedWeb::Count();
        EXPECT_EQ(counts.connections, row.connections);
        // Full or resumed: Wine's Schannel resumes none; Windows may.
        EXPECT_EQ(counts.full + counts.resumed, row.secure ? row.connections - moved : 0);
        EXPECT_TRUE(m_boxes.boxes.empty()) << m_boxes.boxes[0].text;
    }
}

TEST_F(FetcherTest, ACopyThisRunInstalledIsAskedAboutWithItsValidators)
{
    const std::string date = "Mon, 07 Dec 2026 10:00:00 GMT";
    const auto validators = [&](const std::string& etag, bool modified = true) {
        return (etag.empty() ? "" : "ETag: " + etag + "\r\n") + (modified ? "Last-Modified: " + date + "\r\n" : "");
    };
    // The logged request for `name`: the line, the agent, the coding, then what it asked with.
    const auto requestFor = [](const std::string& name) {
        const auto lines = CScriptedWeb::RequestLines(true);
        const auto found = std::find_if(lines.begin(), lines.end(),
                                        [&](const std::string& l) { return l.starts_with("GET " + Path(name) + " "); });
        return found == lines.end() ? "" : found->substr(found->find("identity") + 8);
    };
    // The Operativo file through its life; the others stay as they are, each answered 304.
    const struct {
        const char* name;
        int status;
        std::string body, etag, asked;
        unsigned char mask;
        bool copyRemoved = false;  // by the user, before the cycle
    } steps[] = {
        {"first", 200, "uno", "\"t1\"", "", 15},
        {"unchanged", 200, "uno", "\"t1\"", "\t\"t1\"\t" + date, 0},
        {"changed", 200, "dos", "\"t2\"", "\t\"t1\"\t" + date, 4},
        {"withdrawn", 404, "", "", "\t\"t2\"\t" + date, 0},
        {"published again", 200, "dos", "\"t2\"", "", 4},
        {"copy removed", 200, "dos", "\"t2\"", "", 4, true},
    };
    auto fetcher = MakeFetcher();
    std::filesystem::file_time_type general;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        CScriptedWeb::Reset();
        CScriptedWeb::KeepConnections(0);
        CScriptedWeb::Publish(Path(kConfig), 200, kConfigText);
        CScriptedWeb::Publish(Path("mensaje.txt"), 200, "General", {}, 0, validators("\"g\""));
        CScriptedWeb::Publish(Path("comercia.txt"), 200, "Comercial", {}, 0, validators(""));
        CScriptedWeb::Publish(Path(kAdm), 200, "Administrativo", {}, 0, validators("\"a\"", false));
        CScriptedWeb::Publish(Path(kTxt), step.status, step.body, {}, 0, step.etag.empty() ? "" : validators(step.etag));

        if (step.copyRemoved) std::filesystem::remove(kTxt);
        EXPECT_EQ(fetcher->FetchAll(), step.mask);
        EXPECT_EQ(fetcher->m_nOutcome, step.mask ? 1 : 0);
        EXPECT_EQ(ReadBytes(kTxt), step.status == 404 ? kNoMessages : step.body);
        EXPECT_EQ(requestFor(kTxt), step.asked);
        EXPECT_EQ(CScriptedWeb::Count().connections, 1);
        if (step.mask == 15) {
            general = std::filesystem::last_write_time("mensaje.txt");
            continue;
        }
        EXPECT_EQ(requestFor("mensaje.txt"), "\t\"g\"\t" + date);
        EXPECT_EQ(requestFor("comercia.txt"), "\t\t" + date);
        EXPECT_EQ(requestFor(kAdm), "\t\"a\"\t");
        // Answered 304: never rewritten.
        EXPECT_EQ(std::filesystem::last_write_time("mensaje.txt"), general);
    }
    EXPECT_TRUE(m_boxes.boxes.empty());
}
