#include "retrieval/IcmpProbe.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "net/Blocks.h"
#include "net/Socket.h"
#include "net/StopSignal.h"
#include "retrieval/EchoService.h"

using namespace probe_platform;

namespace {

constexpr unsigned char kEchoRequestType = 8;
constexpr unsigned char kEchoReplyType = 0;
constexpr unsigned char kEcho6RequestType = 128;
constexpr unsigned char kEcho6ReplyType = 129;
constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kMinIpHeaderSize = 20;
// Datagrams still looked at once the wait is over, so that a flood cannot hold the probe.
constexpr int kMaxLateDatagrams = 64;
// poll() and the socket options take an int of milliseconds.
constexpr long kMaxWait = INT_MAX;

struct ProbeFaults {
    int rawSocketError = 0;
    int serviceError = 0;
};

ProbeFaults& Faults()
{
    static ProbeFaults faults;
    return faults;
}

void StoreLittleEndian(unsigned char* at, unsigned long value, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The two heap blocks of one probe, freed whatever way it ends.
class CEchoBlocks {
public:
    CEchoBlocks() = default;
    CEchoBlocks(const CEchoBlocks&) = delete;
    CEchoBlocks& operator=(const CEchoBlocks&) = delete;
    ~CEchoBlocks()
    {
        net::FreeBlock(m_pReply, kEchoBlockSize);
        net::FreeBlock(m_pRequest, kEchoBlockSize);
    }
    bool Allocate(bool withReply)
    {
        m_pRequest = static_cast<unsigned char*>(net::AllocateZeroedBlock(kEchoBlockSize));
        if (!m_pRequest) return false;
        if (!withReply) return true;
        m_pReply = static_cast<unsigned char*>(net::AllocateZeroedBlock(kEchoBlockSize));
        return m_pReply != nullptr;
    }
    unsigned char* Request() const { return m_pRequest; }
    unsigned char* Reply() const { return m_pReply; }

private:
    unsigned char* m_pRequest = nullptr;
    unsigned char* m_pReply = nullptr;
};

void BuildEchoRequest(unsigned char* request, bool v6)
{
    FillEchoRequest(request, kEchoRequestSize);
    request[2] = request[3] = 0;
    StoreLittleEndian(request + 8, TickCount(), 4);
    request[6] = request[7] = 0;
    // The system computes the ICMPv6 checksum itself, over a header it alone knows.
    if (v6) {
        request[0] = kEcho6RequestType;
        return;
    }
    const std::uint16_t checksum = IcmpChecksum(request, kEchoRequestSize);
    std::memcpy(request + 2, &checksum, sizeof checksum);
}

t_pingo_status Fail(int& detail, int error)
{
    detail = error;
    return PINGO_SOCKET_ERROR;
}

t_pingo_status TimedOut(int& detail)
{
    detail = 0;
    return PINGO_TIMEOUT;
}

// The same echo through the system's ICMP service, for a process without the right to
// open raw sockets.
t_pingo_status PingThroughService(const net::Address& address, long wait, int& detail)
{
    if (Faults().serviceError != 0) return Fail(detail, Faults().serviceError);
    CEchoBlocks blocks;
    if (!blocks.Allocate(false)) {
        detail = net::LastSystemError();
        return PINGO_NO_MEMORY;
    }
    BuildEchoRequest(blocks.Request(), address.IsV6());
    bool replied = false;
    const int error = SendEchoThroughService(address, blocks.Request() + kIcmpHeaderSize,
                                             kEchoRequestSize - kIcmpHeaderSize, wait, replied);
    if (error != 0) return Fail(detail, error);
    return replied ? PINGO_OK : TimedOut(detail);
}

long MillisecondsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return std::max<long>(0, static_cast<long>(left.count()));
}

} // namespace

void SetProbeFaults(int rawSocketError, int serviceError)
{
    Faults() = ProbeFaults{rawSocketError, serviceError};
}

void FillEchoRequest(unsigned char* buffer, std::size_t size)
{
    unsigned char header[12] = {};
    header[0] = kEchoRequestType;
    StoreLittleEndian(header + 4, CurrentProcessId() & 0xFFFF, 2);
    std::memcpy(buffer, header, std::min(size, sizeof header));
    if (size > sizeof header) std::memset(buffer + sizeof header, kEchoFill, size - sizeof header);
}

std::uint16_t IcmpChecksum(const void* buffer, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < size; i += 2) {
        std::uint16_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        sum += word;
    }
    if (i < size) sum += bytes[i];
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<std::uint16_t>(~sum);
}

bool IsMatchingEchoReply(const unsigned char* datagram, std::size_t size, const unsigned char* request)
{
    if (size < kMinIpHeaderSize || (datagram[0] >> 4) != 4) return false;
    const std::size_t headerSize = static_cast<std::size_t>(datagram[0] & 0x0F) * 4;
    if (headerSize < kMinIpHeaderSize || size < headerSize + kIcmpHeaderSize) return false;
    const unsigned char* icmp = datagram + headerSize;
    // Identifier and sequence number, bytes 4 to 7, come back as they were sent.
    return icmp[0] == kEchoReplyType && icmp[1] == 0 && std::memcmp(icmp + 4, request + 4, 4) == 0;
}

bool IsMatchingEcho6Reply(const unsigned char* datagram, std::size_t size, const unsigned char* request)
{
    // A raw ICMPv6 socket delivers the message without the IPv6 header.
    return size >= kIcmpHeaderSize && datagram[0] == kEcho6ReplyType && datagram[1] == 0 &&
           std::memcmp(datagram + 4, request + 4, 4) == 0;
}

t_pingo_status PingHost(const char* host, long wait, int& detail, net::CStopSignal* stop)
{
    net::Address address;
    if (!host || !net::Resolve(host, 0, address)) {
        detail = 0;
        return PINGO_BAD_HOST;
    }
    return PingAddress(address, wait, detail, stop);
}

t_pingo_status PingAddress(const net::Address& address, long wait, int& detail, net::CStopSignal* stop)
{
    // A negative wait would make every wait fail; it means no wait at all.
    wait = std::clamp(wait, 0L, kMaxWait);
    const bool v6 = address.IsV6();

    net::CSocket socket;
    int error = Faults().rawSocketError;
    if (error == 0 && !socket.OpenRawIcmp(v6)) error = net::LastSocketError();
    if (error != 0) {
        if (net::IsAccessDenied(error) && HasEchoService()) return PingThroughService(address, wait, detail);
        return Fail(detail, error);
    }
    if (!socket.SetTimeOuts(static_cast<std::uint32_t>(wait)) || !socket.SetNonBlocking())
        return Fail(detail, net::LastSocketError());
    // The wait watches the stop beside the socket: the program's end never waits for it.
    const net::CStopScope stopScope(stop, socket);
    if (!stopScope.IsRegistered()) return TimedOut(detail);

    CEchoBlocks blocks;
    if (!blocks.Allocate(true)) {
        detail = net::LastSystemError();
        return PINGO_NO_MEMORY;
    }
    unsigned char* const request = blocks.Request();
    BuildEchoRequest(request, v6);

    if (!socket.SendTo(request, kEchoRequestSize, address)) {
        error = net::LastSocketError();
        return net::IsTimedOut(error) ? TimedOut(detail) : Fail(detail, error);
    }

    // Only the host's echo reply to this request answers: the socket also sees its own
    // request on loopback, other processes' traffic and ICMP errors from the way there.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait);
    int lateDatagrams = 0;
    for (;;) {
        const long left = MillisecondsLeft(deadline);
        bool readable = false;
        if (!socket.WaitReadable(static_cast<std::uint32_t>(left), readable))
            return stop && stop->IsStopped() ? TimedOut(detail) : Fail(detail, net::LastSocketError());
        if (!readable) return TimedOut(detail);
        const int received = socket.ReceiveFrom(blocks.Reply(), kEchoBlockSize);
        error = received < 0 ? net::LastSocketError() : 0;
        if (net::IsTimedOut(error)) return TimedOut(detail);
        if (error != 0 && !net::IsWouldBlock(error)) return Fail(detail, error);
        const auto size = static_cast<std::size_t>(received);
        if (error == 0 && (v6 ? IsMatchingEcho6Reply(blocks.Reply(), size, request)
                              : IsMatchingEchoReply(blocks.Reply(), size, request)))
            return PINGO_OK;
        if (left == 0 && ++lateDatagrams > kMaxLateDatagrams) return TimedOut(detail);
    }
}
