// Sends a message with a 10 MiB body to a local SMTP sink that reads in 64 KiB pieces, with
// our client and with curl's smtp:// client (the same message, the same sink), and prints
// both times and their ratio. Ours includes putting the text into the message
// (SetBodyText), the connection and the QUIT; curl's includes its process start.
#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "mail/MailConnection.h"
#include "net/SystemSockets.h"
#include "tests/mail/MailTestText.h"
#include "bench/mail/BenchSupport.h"

namespace fs = std::filesystem;

namespace {

// Answers every command, swallows the data in 64 KiB reads, counts the bytes of each message.
class CSink {
public:
    CSink()
    {
        m_hListen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(m_hListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(m_hListen, 4) != 0 ||
            getsockname(m_hListen, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            std::exit(1);
        m_nPort = ntohs(address.sin_port);
        m_Thread = std::thread([this] { Run(); });
    }
    ~CSink()
    {
        shutdown(m_hListen, SHUT_RDWR);
        close(m_hListen);
        m_Thread.join();
    }
    int Port() const { return m_nPort; }
    std::size_t LastSize() const { return m_nLastSize; }

private:
    void Run()
    {
        for (;;) {
            const int peer = accept(m_hListen, nullptr, nullptr);
            if (peer < 0) return;
            Serve(peer);
            close(peer);
        }
    }

    static void Reply(int peer, const char* text) { send(peer, text, std::strlen(text), MSG_NOSIGNAL); }

    void Serve(int peer)
    {
        static char piece[65536];
        std::string line;
        Reply(peer, "220 sink\r\n");
        for (;;) {
            const ssize_t got = recv(peer, piece, sizeof piece, 0);
            if (got <= 0) return;
            line.append(piece, static_cast<std::size_t>(got));
            std::size_t end;
            while ((end = line.find("\r\n")) != std::string::npos) {
                const std::string command = line.substr(0, end);
                line.erase(0, end + 2);
                if (command.rfind("EHLO", 0) == 0) Reply(peer, "250-sink\r\n250 8BITMIME\r\n");
                else if (command == "QUIT") {
                    Reply(peer, "221 bye\r\n");
                    return;
                } else if (command == "DATA") {
                    Reply(peer, "354 go\r\n");
                    ReadData(peer, line);
                    Reply(peer, "250 stored\r\n");
                } else Reply(peer, "250 ok\r\n");
            }
        }
    }

    // Reads up to the end marker in 64 KiB pieces; `pending` holds what came before.
    void ReadData(int peer, std::string& pending)
    {
        static char piece[65536];
        std::size_t size = pending.size();
        std::string tail = pending.substr(pending.size() > 8 ? pending.size() - 8 : 0);
        pending.clear();
        while (tail.find("\r\n.\r\n") == std::string::npos) {
            const ssize_t got = recv(peer, piece, sizeof piece, 0);
            if (got <= 0) return;
            size += static_cast<std::size_t>(got);
            tail.append(piece + (got > 8 ? got - 8 : 0), static_cast<std::size_t>(got > 8 ? 8 : got));
            if (tail.size() > 16) tail.erase(0, tail.size() - 16);
        }
        m_nLastSize = size;
    }

    int m_hListen;
    int m_nPort = 0;
    std::atomic<std::size_t> m_nLastSize{0};
    std::thread m_Thread;
};

} // namespace

int main(int argc, char** argv)
{
    const fs::path dir = fs::path(argc > 1 ? argv[1] : fs::temp_directory_path().string()) / "notelia-send-bench";
    fs::create_directories(dir);
    constexpr int kRounds = 5;

    // 10 MiB of text in CR LF lines.
    std::string body = SpanishSample(10u << 20);
    CMailBodyPart normal;
    normal.SetPartText(body);
    body = UndoubleLeadingDots(normal.PartText);

    CSink sink;
    const std::string port = std::to_string(sink.Port());

    CMailMessage probe;
    probe.From = CMailAddress("Ana", "ana@cliente.example");
    probe.AppendRecipient(CMailAddress("", "ayuda@quorvex.example"), CMailMessage::To);
    probe.Subject = "Prueba de env\xEDo";
    const std::string eml = (dir / "message.eml").string();
    WriteFile(eml, probe.ComposeHeader() + "\r\n" + body);

    const std::string curl = "curl -s --url smtp://127.0.0.1:" + port +
                             " --mail-from ana@cliente.example --mail-rcpt ayuda@quorvex.example -T '" + eml + "'";
    CommandSeconds(1, curl);
    const double theirs = CommandSeconds(kRounds, curl);
    const std::size_t curlSize = sink.LastSize();

    const double ours = BestOf(kRounds, [&] {
        CMailMessage message;
        message.From = probe.From;
        message.AppendRecipient(*probe.RecipientAt(0, CMailMessage::To), CMailMessage::To);
        message.Subject = probe.Subject;
        message.SetBodyText(body);
        CMailConnection connection;
        if (!connection.Connect("127.0.0.1", CMailConnection::None, "", "", sink.Port()) ||
            !connection.SendMessage(message) || !connection.Disconnect(true)) {
            std::fprintf(stderr, "send failed: %s\n", connection.GetLastReplyText().c_str());
            std::exit(1);
        }
    });
    std::printf("sink received %zu bytes from curl, %zu from ours\n", curlSize, sink.LastSize());
    PrintRatio("send a 10 MiB body over SMTP to a local sink", ours, "curl:", theirs, "<= 1.0, 0.7 reachable");
    fs::remove_all(dir);
    return 0;
}
