// Texts and small decoders shared by the mail suites and benchmarks, and the client of the
// real SMTP peer's question port.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "mail/MailSocket.h"

class CMailMessage;

// Spanish-like text with accents, tabs, trailing blanks, "=" and long lines, `size` bytes.
std::string SpanishSample(std::size_t size);
// Soft breaks removed and "=XY" escapes turned back into bytes.
std::string DecodeQuotedPrintable(const std::string& text);
// José's message to the help desk with this subject and body.
void FillSimple(CMailMessage& message, const std::string& subject = "Prueba", const std::string& body = "Hola");

// A one-way signal between a test and its peer's thread.
struct CGate {
    void Open()
    {
        const std::lock_guard lock(m_lock);
        m_bOpen = true;
        m_changed.notify_all();
    }
    // True once opened; false after `limit`.
    bool Wait(std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, limit, [this] { return m_bOpen; });
    }
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bOpen = false;
};

// A port given by smtp_peer.py in the environment; 0 without it.
int EnvPort(const char* name);

// Asks smtp_peer.py what was delivered, as Python's email package parsed it.
class COracle {
public:
    COracle();
    bool Ok() const { return m_bOk; }
    // The last delivery's fields ("mail_from", "subject", "body" ...), Windows-1252.
    std::map<std::string, std::string> Last();
    std::string DecodeSubject(const std::string& value);
    // How the STRIPPED server treats STARTTLS from its next session on: "tls", "strip", "454".
    bool Mode(const std::string& mode);

private:
    std::string Line();
    CMailSocket m_Socket;
    bool m_bOk = false;
    std::string m_Pending;
};
