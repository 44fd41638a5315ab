// A one-connection server on 127.0.0.1 that plays a script in its own thread, for replies a
// real SMTP server will not give on demand. Everything the client sends is kept.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "mail/MailSocket.h"

namespace testing_support {

class CScriptPeer {
public:
    explicit CScriptPeer(net::CSocket& socket, std::string& transcript, std::mutex& lock)
        : m_Socket(socket), m_Transcript(transcript), m_Lock(lock) {}

    // One line without its CR LF; empty when the client closed or nothing came in 10 s.
    std::string ReadLine() { return ReadUntil("\r\n", false); }
    // True once any bytes have come from the client (10 s at most).
    bool WaitData() { return !m_Pending.empty() || Fill(); }
    // The DATA phase up to and including the "\r\n.\r\n" end marker.
    std::string ReadData() { return ReadUntil("\r\n.\r\n", true); }
    void Send(std::string_view bytes);
    // Sends `first`, waits until the client has read it from `client`, then sends `second`.
    void SendSplit(std::string_view first, std::string_view second, MailSocketHandle client);
    // Waits (10 s at most) until the client closes.
    void WaitClose();

private:
    bool Fill();
    // What came before `mark` (with it when `keepMark`), taken with the mark.
    std::string ReadUntil(std::string_view mark, bool keepMark);

    net::CSocket& m_Socket;
    std::string& m_Transcript;
    std::mutex& m_Lock;
    std::string m_Pending;
};

class CScriptedServer {
public:
    using Script = std::function<void(CScriptPeer&)>;
    explicit CScriptedServer(Script script);
    ~CScriptedServer();

    int Port() const { return m_nPort; }
    // Waits for the script to end; then everything the client sent.
    std::string Transcript();

private:
    net::CSocket m_listen;
    int m_nPort = 0;
    std::mutex m_Lock;
    std::string m_Transcript;
    std::thread m_Thread;
};

// A port on 127.0.0.1 that was just free: nothing listens there.
int ClosedPort();

// A listener on 127.0.0.1 whose one-place queue is full: a further connection request stays
// unanswered for the object's lifetime, as a silent host's would.
class CFullListener {
public:
    CFullListener();
    net::Address address;

private:
    net::CSocket m_listen;
    net::CSocket m_queued;
};

} // namespace testing_support
