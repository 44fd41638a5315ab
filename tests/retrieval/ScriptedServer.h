// The test's side of the scripted web server that http_server.py runs beside the test
// program: what each path answers, and the requests it received.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct LoggedRequest {
    std::string line;       // "GET /zandu/mensaje.txt HTTP/1.0"
    std::string userAgent;
};

class CScriptedServer {
public:
    // Ports from the wrapper's environment; 0 when not run under the wrapper.
    static unsigned short Port();
    static unsigned short StallPort();
    static unsigned short DownPort();

    // How a scripted body is delivered.
    enum class Delivery { Plain, Pieces, Cut, NoLength };

    static void Publish(const std::string& path, int status, const std::string& body,
                        Delivery delivery = Delivery::Plain, int piece = 0, const std::string& location = "");
    static void Reset();
    static std::vector<LoggedRequest> Log();
    // The request lines alone.
    static std::vector<std::string> RequestLines();
};

} // namespace testing_support
