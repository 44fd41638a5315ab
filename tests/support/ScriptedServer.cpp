#include "tests/support/ScriptedServer.h"

#include <chrono>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include "net/SystemSockets.h"

#ifdef _WIN32
#include "tests/support/WinTestSupport.h"
#else
#include <sys/ioctl.h>
#endif

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kScriptWait = std::chrono::seconds(10);

#ifdef _WIN32
SOCKET Native(MailSocketHandle h)
{
    return static_cast<SOCKET>(h);
}
bool Readable(MailSocketHandle h, int milliseconds)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Native(h), &set);
    timeval limit{milliseconds / 1000, milliseconds % 1000 * 1000};
    return select(0, &set, nullptr, nullptr, &limit) > 0;
}

// Every program with a scripted server needs Windows Sockets.
[[maybe_unused]] testing::Environment* const g_winsock = testing::AddGlobalTestEnvironment(new WinsockEnvironment);
#else
int Native(MailSocketHandle h)
{
    return h;
}
bool Readable(MailSocketHandle h, int milliseconds)
{
    pollfd entry{h, POLLIN, 0};
    return poll(&entry, 1, milliseconds) > 0;
}
#endif

} // namespace

unsigned long PendingBytes(MailSocketHandle socket)
{
#ifdef _WIN32
    u_long count = 0;
    ioctlsocket(Native(socket), FIONREAD, &count);
    return count;
#else
    int count = 0;
    ioctl(Native(socket), FIONREAD, &count);
    return static_cast<unsigned long>(count);
#endif
}

bool CScriptPeer::Fill()
{
    if (!Readable(m_hSocket, static_cast<int>(std::chrono::milliseconds(kScriptWait).count()))) return false;
    char chunk[65536];
    const int got = static_cast<int>(recv(Native(m_hSocket), chunk, sizeof chunk, 0));
    if (got <= 0) return false;
    m_Pending.append(chunk, static_cast<std::size_t>(got));
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Transcript.append(chunk, static_cast<std::size_t>(got));
    return true;
}

std::string CScriptPeer::ReadLine()
{
    std::size_t end;
    while ((end = m_Pending.find("\r\n")) == std::string::npos)
        if (!Fill()) return {};
    std::string line = m_Pending.substr(0, end);
    m_Pending.erase(0, end + 2);
    return line;
}

std::string CScriptPeer::ReadData()
{
    std::size_t end;
    while ((end = m_Pending.find("\r\n.\r\n")) == std::string::npos)
        if (!Fill()) return {};
    std::string data = m_Pending.substr(0, end + 5);
    m_Pending.erase(0, end + 5);
    return data;
}

void CScriptPeer::Send(std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
#ifdef _WIN32
        const int flags = 0;
#else
        const int flags = MSG_NOSIGNAL;  // a client that has gone must not end the test program
#endif
        const int sent =
            static_cast<int>(send(Native(m_hSocket), bytes.data() + done, static_cast<int>(bytes.size() - done), flags));
        if (sent <= 0) return;
        done += static_cast<std::size_t>(sent);
    }
}

void CScriptPeer::SendSplit(std::string_view first, std::string_view second, MailSocketHandle client)
{
    Send(first);
    // The client must take the first piece by itself before the second arrives.
    const auto limit = Clock::now() + kScriptWait;
    while (PendingBytes(client) != 0 && Clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Send(second);
}

void CScriptPeer::WaitClose()
{
    while (Fill()) {
    }
}

CScriptedServer::CScriptedServer(Script script)
{
    m_hListen = static_cast<MailSocketHandle>(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
#ifdef _WIN32
    int size = sizeof address;
#else
    socklen_t size = sizeof address;
#endif
    if (bind(Native(m_hListen), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(Native(m_hListen), 1) != 0 ||
        getsockname(Native(m_hListen), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("scripted server: cannot listen");
    m_nPort = ntohs(address.sin_port);
    m_Thread = std::thread([this, script = std::move(script)] {
        if (!Readable(m_hListen, static_cast<int>(std::chrono::milliseconds(kScriptWait).count()))) return;
        const auto peer = static_cast<MailSocketHandle>(accept(Native(m_hListen), nullptr, nullptr));
        if (peer == net::kNoSocket) return;
        CScriptPeer talk(peer, m_Transcript, m_Lock);
        script(talk);
        net::CloseSocket(peer);
    });
}

CScriptedServer::~CScriptedServer()
{
    if (m_Thread.joinable()) m_Thread.join();
    net::CloseSocket(m_hListen);
}

std::string CScriptedServer::Transcript()
{
    if (m_Thread.joinable()) m_Thread.join();
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Transcript;
}

int ClosedPort()
{
    CScriptedServer probe([](CScriptPeer&) {});
    // Its thread waits for one connection: this one lets it end at once.
    CMailSocket wake;
    wake.Create();
    wake.Connect("127.0.0.1", static_cast<std::uint16_t>(probe.Port()), nullptr);
    return probe.Port();
}

CFullListener::CFullListener()
{
    sockaddr_in bound{};
#ifdef _WIN32
    int size = sizeof bound;
#else
    socklen_t size = sizeof bound;
#endif
    if (!m_listen.OpenStream() || !net::Resolve("127.0.0.1", 0, address) || !m_listen.Bind(address) ||
        listen(Native(m_listen.Handle()), 0) != 0 ||
        getsockname(Native(m_listen.Handle()), reinterpret_cast<sockaddr*>(&bound), &size) != 0)
        throw std::runtime_error("full listener: cannot listen");
    std::memcpy(address.bytes, &bound, sizeof bound);
    if (!m_queued.OpenStream() || !m_queued.Connect(address, 5000))
        throw std::runtime_error("full listener: cannot fill the queue");
}

} // namespace testing_support
