#include "tests/mail/MailTestText.h"

#include <cstdint>
#include <cstdlib>

#include "mail/MailMessage.h"

namespace {
int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        out += digits[static_cast<unsigned char>(c) >> 4];
        out += digits[static_cast<unsigned char>(c) & 15];
    }
    return out;
}

std::string Unhex(const std::string& hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(HexValue(hex[i]) * 16 + HexValue(hex[i + 1]));
    return out;
}
} // namespace

std::string SpanishSample(std::size_t size)
{
    static const char* const pieces[] = {
        "La conexi\xF3n con el servidor ", "fall\xF3 otra vez ", "en la sucursal de Espa\xF1" "a. ",
        "\tImporte = 1.250,00 \x80 ", "\xBF" "Cu\xE1ndo llegar\xE1 el t\xE9" "cnico?  \r\n",
        "Informaci\xF3n General: a\xF1o 2026, ", "peque\xF1" "o ajuste ", "\xA1" "Urgente! \r\n",
        "l\xEDnea muy larga sin cortes que sigue y sigue hasta pasar de largo el l\xEDmite de setenta y seis "
        "caracteres por l\xEDnea ",
        "fin de p\xE1rrafo \t\r\n",
    };
    std::string text;
    text.reserve(size + 200);
    std::uint32_t state = 12345;
    while (text.size() < size) {
        state = state * 1103515245u + 12345u;
        text += pieces[(state >> 16) % (sizeof pieces / sizeof pieces[0])];
    }
    text.resize(size);
    return text;
}

std::string DecodeQuotedPrintable(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (text.compare(i, 3, "=\r\n") == 0) {
            i += 2;
        } else if (i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += "<broken escape>";
        }
    }
    return out;
}

void FillSimple(CMailMessage& message, const std::string& subject, const std::string& body)
{
    message.From = CMailAddress("Jos\xE9 P\xE9rez Mu\xF1oz", "jose@cliente.example");
    message.AppendRecipient(CMailAddress("Mesa de Ayuda", "ayuda@quorvex.example"), CMailMessage::To);
    message.Subject = subject;
    message.SetBodyText(body);
}

int EnvPort(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : 0;
}

COracle::COracle()
{
    m_bOk = m_Socket.Create() &&
            m_Socket.Connect("127.0.0.1", static_cast<std::uint16_t>(EnvPort("NOTELIA_SMTP_ORACLE")), nullptr);
}

std::string COracle::Line()
{
    std::size_t end;
    while ((end = m_Pending.find('\n')) == std::string::npos) {
        bool readable = false;
        char chunk[65536];
        if (!m_Socket.WaitReadable(readable, 10000) || !readable) return "TIMEOUT";
        const int got = m_Socket.Receive(chunk, sizeof chunk);
        if (got <= 0) return "CLOSED";
        m_Pending.append(chunk, static_cast<std::size_t>(got));
    }
    std::string line = m_Pending.substr(0, end);
    m_Pending.erase(0, end + 1);
    return line;
}

std::map<std::string, std::string> COracle::Last()
{
    m_Socket.Send("LAST\n", 5);
    std::map<std::string, std::string> fields;
    for (std::string line; (line = Line()) != "END" && line != "TIMEOUT" && line != "CLOSED";) {
        const std::size_t blank = line.find(' ');
        fields[line.substr(0, blank)] = blank == std::string::npos ? "" : Unhex(line.substr(blank + 1));
    }
    return fields;
}

std::string COracle::DecodeSubject(const std::string& value)
{
    const std::string command = "SUBJECT " + Hex(value) + "\n";
    m_Socket.Send(command.data(), command.size());
    const std::string line = Line();
    return line == "ERR" ? "<error>" : Unhex(line);
}

bool COracle::Mode(const std::string& mode)
{
    const std::string command = "MODE " + mode + "\n";
    m_Socket.Send(command.data(), command.size());
    return Line() == "OK";
}
