// The test's side of the scripted web server (http_server.py) that runs beside the test
// program. Needs Windows Sockets started (testing_support::WinsockEnvironment).
#pragma once

#include <string>
#include <vector>

namespace testing_support {

class CScriptedWeb {
public:
    // Ports from the wrapper's environment; 0 when not run under the wrapper.
    static unsigned short Port();
    static unsigned short DownPort();
    // NOTELIA_<name>_PORT, as HTTPS, HTTPS_UNTRUSTED and SLOW_HANDSHAKE under --tls.
    static unsigned short Port(const char* name);

    // How a body is delivered (http_server.py tells each; the ...NoLength ones and Notify and
    // HalfRecord without Content-Length); `piece` is the piece's size, or the milliseconds
    // between dripped bytes.
    enum class Delivery {
        Plain, Pieces, Cut, NoLength, Silent, Stall, Drip, CutNoLength, ResetNoLength, Notify, HalfRecord
    };

    // `headers`: lines ending in CR LF added to the answer's head.
    static void Publish(const std::string& path, int status, const std::string& body,
                        Delivery delivery = Delivery::Plain, int piece = 0, const std::string& headers = "");
    // Until Reset: HTTP/1.1 answers that keep the connection, closed without a word after
    // `answers` answers on it (0: never), or when `drop`, once the next request has come.
    static void KeepConnections(int answers, bool drop = false);
    // Connections, full and resumed TLS handshakes that carried requests since Reset.
    struct Counts {
        int connections, full, resumed;
    };
    static Counts Count();
    static void Reset();
    // Request lines ("GET /zandu/mensaje.txt HTTP/1.0"), with `agents` a tab and the agent,
    // another and the Accept-Encoding, and for a conditional request two more: If-None-Match
    // and If-Modified-Since.
    static std::vector<std::string> RequestLines(bool agents = false);
};

} // namespace testing_support
