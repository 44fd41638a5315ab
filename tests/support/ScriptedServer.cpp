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
constexpr std::uint32_t kScriptWaitMs = 10000;

#ifdef _WIN32
using Length = int;
// Every program with a scripted server needs Windows Sockets.
[[maybe_unused]] testing::Environment* const g_winsock = testing::AddGlobalTestEnvironment(new WinsockEnvironment);
#else
using Length = socklen_t;
#endif

// Bytes waiting unread on a socket.
unsigned long PendingBytes(MailSocketHandle socket)
{
#ifdef _WIN32
    u_long count = 0;
    ioctlsocket(socket, FIONREAD, &count);
    return count;
#else
    int count = 0;
    ioctl(socket, FIONREAD, &count);
    return static_cast<unsigned long>(count);
#endif
}

// Listens on 127.0.0.1, at a port the system chooses, with room for `backlog` connections.
net::Address Listen(net::CSocket& socket, int backlog)
{
    net::Address address;
    sockaddr_in bound{};
    Length size = sizeof bound;
    if (!socket.OpenStream() || !net::Resolve("127.0.0.1", 0, address) || !socket.Bind(address) ||
        listen(socket.Handle(), backlog) != 0 ||
        getsockname(socket.Handle(), reinterpret_cast<sockaddr*>(&bound), &size) != 0)
        throw std::runtime_error("scripted server: cannot listen");
    std::memcpy(address.bytes, &bound, sizeof bound);
    return address;
}

bool Readable(net::CSocket& socket)
{
    bool readable = false;
    return socket.WaitReadable(kScriptWaitMs, readable) && readable;
}

} // namespace

bool CScriptPeer::Fill()
{
    if (!Readable(m_Socket)) return false;
    char chunk[65536];
    const int got = m_Socket.Receive(chunk, sizeof chunk);
    if (got <= 0) return false;
    m_Pending.append(chunk, static_cast<std::size_t>(got));
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Transcript.append(chunk, static_cast<std::size_t>(got));
    return true;
}

std::string CScriptPeer::ReadUntil(std::string_view mark, bool keepMark)
{
    std::size_t end;
    while ((end = m_Pending.find(mark)) == std::string::npos)
        if (!Fill()) return {};
    std::string text = m_Pending.substr(0, end + (keepMark ? mark.size() : 0));
    m_Pending.erase(0, end + mark.size());
    return text;
}

void CScriptPeer::Send(std::string_view bytes)
{
    m_Socket.Send(bytes.data(), bytes.size());
}

void CScriptPeer::SendSplit(std::string_view first, std::string_view second, MailSocketHandle client)
{
    Send(first);
    // The client must take the first piece by itself before the second arrives.
    const auto limit = Clock::now() + std::chrono::milliseconds(kScriptWaitMs);
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
    m_nPort = ntohs(reinterpret_cast<const sockaddr_in*>(Listen(m_listen, 1).bytes)->sin_port);
    m_Thread = std::thread([this, script = std::move(script)] {
        if (!Readable(m_listen)) return;
        net::CSocket peer(static_cast<net::SocketHandle>(accept(m_listen.Handle(), nullptr, nullptr)));
        if (peer.Handle() == net::kNoSocket) return;
        CScriptPeer talk(peer, m_Transcript, m_Lock);
        script(talk);
    });
}

CScriptedServer::~CScriptedServer()
{
    if (m_Thread.joinable()) m_Thread.join();
}

std::string CScriptedServer::Transcript()
{
    if (m_Thread.joinable()) m_Thread.join();
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Transcript;
}

int ClosedPort()
{
    net::CSocket probe;  // closed on return
    return ntohs(reinterpret_cast<const sockaddr_in*>(Listen(probe, 1).bytes)->sin_port);
}

CFullListener::CFullListener()
{
    address = Listen(m_listen, 0);
    if (!m_queued.OpenStream() || !m_queued.Connect(address, 5000))
        throw std::runtime_error("full listener: cannot fill the queue");
}

} // namespace testing_support
