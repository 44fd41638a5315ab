// Sends a message with a 10 MiB body to a local SMTP sink that reads in 64 KiB pieces, with
// our client and with curl's smtp:// client, and prints both times and their ratio, twice:
// a body whose lines all fit the wire (both send it as it stands), and one with longer lines,
// which ours sends quoted-printable and curl gets already encoded that way, so that both put
// the same bytes on the wire. Ours includes putting the text into the message (SetBodyText),
// the encoding, the connection and the QUIT; curl's includes its process start.
#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "mail/MailCoders.h"
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

// `text` with a line break put wherever a line would pass `limit` bytes.
std::string WrapLines(const std::string& text, std::size_t limit)
{
    std::string out;
    out.reserve(text.size() + text.size() / limit * 2);
    std::size_t line = 0;
    for (const char c : text) {
        if (line == limit && c != '\r' && c != '\n') {
            out += "\r\n";
            line = 0;
        }
        out += c;
        line = c == '\n' ? 0 : line + 1;
    }
    return out;
}

// Times one body sent by both clients to `sink`; `encoded` is what curl sends of it.
void Compare(const char* what, CSink& sink, const fs::path& dir, const std::string& body, bool encoded)
{
    constexpr int kRounds = 5;
    CMailMessage probe;
    probe.From = CMailAddress("Ana", "ana@cliente.example");
    probe.AppendRecipient(CMailAddress("", "ayuda@quorvex.example"), CMailMessage::To);
    probe.Subject = "Prueba de env\xEDo";
    probe.SetBodyText(body);
    if (NeedsQuotedPrintable(probe.RootPart.PartText) != encoded) {
        std::fprintf(stderr, "the sample's lines do not fit the comparison\n");
        std::exit(1);
    }
    // The same header ours sends; curl doubles the leading dots itself.
    const std::string text = UndoubleLeadingDots(probe.RootPart.PartText);
    const std::string eml = (dir / "message.eml").string();
    WriteFile(eml, probe.ComposeHeader() + "\r\n" + (encoded ? QuotedPrintableEncode(text) : text));

    const std::string curl = "curl -s --url smtp://127.0.0.1:" + std::to_string(sink.Port()) +
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
    PrintRatio(what, ours, "curl:", theirs, "<= 1.0, 0.7 reachable");
    if (encoded) {
        // What the encoding alone takes of ours, which curl was spared.
        std::size_t size = 0;
        const double encoding = BestOf(kRounds, [&] { size += QuotedPrintableEncode(text).size(); });
        std::printf("  of which encoding: %8.4f s (%zu bytes); without it the ratio is %.2f\n", encoding,
                    size / kRounds, (ours - encoding) / theirs);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path dir = fs::path(argc > 1 ? argv[1] : fs::temp_directory_path().string()) / "notelia-send-bench";
    fs::create_directories(dir);
    // 10 MiB of text in CR LF lines, some of them longer than a mail line may be.
    CMailBodyPart normal;
    normal.SetPartText(SpanishSample(10u << 20));
    const std::string sample = UndoubleLeadingDots(normal.PartText);

    CSink sink;
    Compare("send a 10 MiB body over SMTP to a local sink, every line within 998 bytes", sink, dir,
            WrapLines(sample, 900), false);
    std::printf("\n");
    Compare("send a 10 MiB body with longer lines, quoted-printable from both", sink, dir, sample, true);
    fs::remove_all(dir);
    return 0;
}
