// The echo probe and the socket layer's wait: packet layout, reply matching, real echoes on
// loopback. Natively a child process with its own network namespace gives a host that gets
// the probe but never answers, and lets the test put foreign datagrams on the probe's way.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "net/Socket.h"
#include "net/StopSignal.h"
#include "net/SystemSockets.h"
#include "retrieval/IcmpProbe.h"

#ifdef _WIN32
#include "tests/support/WinTestSupport.h"
#else
#include <sched.h>
#include <sys/wait.h>

#include <cstdlib>
#include <future>
#endif

using Clock = std::chrono::steady_clock;

namespace {

#ifdef _WIN32
const auto* const g_winsock = ::testing::AddGlobalTestEnvironment(new testing_support::WinsockEnvironment);
const unsigned long kProcessId = GetCurrentProcessId();
#else
const unsigned long kProcessId = static_cast<unsigned long>(getpid());
#endif

// A label longer than 63 characters fails before any name query is sent.
const std::string kUnresolvable = std::string(70, 'x') + ".invalid";

long MillisecondsSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::vector<unsigned char> Request()
{
    std::vector<unsigned char> request(kEchoRequestSize);
    FillEchoRequest(request.data(), request.size());
    return request;
}

// An IPv4 header of `headerSize` bytes (none for 0) followed by an ICMP message.
std::vector<unsigned char> Datagram(unsigned char type, const unsigned char* ids, std::size_t headerSize = 20)
{
    std::vector<unsigned char> datagram(headerSize + kEchoRequestSize, 0);
    if (headerSize) {
        datagram[0] = static_cast<unsigned char>(0x40 | (headerSize / 4));
        datagram[9] = 1;  // ICMP
    }
    datagram[headerSize] = type;
    std::memcpy(datagram.data() + headerSize + 4, ids, 4);
    return datagram;
}

} // namespace

TEST(EchoRequest, LayoutAndChecksum)
{
    // The process identifier little-endian, the fill, and nothing beyond the size given.
    std::vector<unsigned char> buffer(kEchoRequestSize + 4, 0xCC);
    FillEchoRequest(buffer.data(), kEchoRequestSize);
    const unsigned char head[] = {8, 0, 0, 0, static_cast<unsigned char>(kProcessId),
                                  static_cast<unsigned char>(kProcessId >> 8), 0, 0};
    EXPECT_EQ(std::memcmp(buffer.data(), head, sizeof head), 0);
    for (std::size_t i = 12; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], i < kEchoRequestSize ? 0x45 : 0xCC) << i;

    std::vector<unsigned char> small(16, 0xCC);
    FillEchoRequest(small.data(), 6);
    EXPECT_EQ(small[0], 8);
    EXPECT_EQ(small[6], 0xCC);

    // The Internet checksum in memory order: the example of RFC 1071, then an odd last byte,
    // the high byte of a word padded with zero.
    const unsigned char even[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    const unsigned char odd[] = {0x01, 0x02, 0x03};
    for (const auto& [data, size, expected] :
         {std::tuple{even, sizeof even, 0x0d22}, std::tuple{odd, sizeof odd, 0xFDFB}}) {
        const std::uint16_t sum = IcmpChecksum(data, size);
        unsigned char stored[2];
        std::memcpy(stored, &sum, 2);
        EXPECT_EQ(stored[0] | stored[1] << 8, expected);
    }
}

TEST(EchoReplyMatching, OnlyAnEchoReplyWithThisIdentifierAndSequenceAnswers)
{
    const auto request = Request();
    const unsigned char* ids = request.data() + 4;
    const auto reply = Datagram(0, ids);
    const unsigned char otherId[] = {static_cast<unsigned char>(ids[0] ^ 0x5A), ids[1], 0, 0};
    const unsigned char otherSequence[] = {ids[0], ids[1], 0, 7};
    auto withCode = reply, badLength = reply, badVersion = reply;
    withCode[21] = 1;
    badLength[0] = 0x4F;  // 60-byte header in a 64-byte datagram
    badVersion[0] = 0x65;
    struct Row { const char* what; std::vector<unsigned char> datagram; std::size_t size; bool matches; } rows[] = {
        {"reply", reply, reply.size(), true},
        {"header with options", Datagram(0, ids, 28), reply.size() + 8, true},
        {"own request on loopback", Datagram(8, ids), reply.size(), false},
        {"code not 0", withCode, reply.size(), false},
        {"unreachable", Datagram(3, ids), reply.size(), false},
        {"other identifier", Datagram(0, otherId), reply.size(), false},
        {"other sequence", Datagram(0, otherSequence), reply.size(), false},
        // Truncated or malformed datagrams are never read past their end.
        {"cut in the ICMP header", reply, 27, false},
        {"cut in the IP header", reply, 10, false},
        {"header longer than the datagram", badLength, 64, false},
        {"not IPv4", badVersion, reply.size(), false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(IsMatchingEchoReply(row.datagram.data(), row.size, request.data()), row.matches) << row.what;
    // ICMPv6 comes without the IP header: its reply is type 129, its own request 128.
    for (const auto& [type, size, matches] : {std::tuple{129, kEchoRequestSize, true}, std::tuple{128, kEchoRequestSize, false},
                                             std::tuple{0, kEchoRequestSize, false}, std::tuple{129, std::size_t{7}, false}})
        EXPECT_EQ(IsMatchingEcho6Reply(Datagram(static_cast<unsigned char>(type), ids, 0).data(), size, request.data()),
                  matches) << type << " " << size;
}

// The wait that both the probe and the mail transport run.
TEST(SocketLayer, AnIdleSocketIsWaitedForTheWholeTime)
{
    net::CSocket idle(static_cast<net::SocketHandle>(socket(AF_INET, SOCK_DGRAM, 0)));
    net::Address loopback;
    ASSERT_TRUE(net::Resolve("127.0.0.1", 0, loopback));
    ASSERT_TRUE(idle.Bind(loopback));
    for (const std::uint32_t wait : {300u, 1200u}) {
        bool readable = true;
        const auto start = Clock::now();
        ASSERT_TRUE(idle.WaitReadable(wait, readable));
        const long waited = MillisecondsSince(start);
        EXPECT_FALSE(readable);
        EXPECT_GE(waited, static_cast<long>(wait) * 9 / 10) << wait;
        EXPECT_LT(waited, static_cast<long>(wait) * 2 + 1000) << wait;
    }
}

TEST(PingHost, EachOutcomeWithItsDetail)
{
    constexpr int kUnchanged = 1234;
#ifdef _WIN32
    constexpr int kAccessDenied = WSAEACCES, kOther = WSAEAFNOSUPPORT;
#else
    constexpr int kAccessDenied = EACCES, kOther = EAFNOSUPPORT;
#endif
    struct Row { const char* host; int rawSocketError, serviceError; t_pingo_status status; int detail; } rows[] = {
        // A dotted address that no name stands for is used as it is.
        {"127.1.2.3", 0, 0, PINGO_OK, kUnchanged},
        {"localhost", 0, 0, PINGO_OK, kUnchanged},
#ifndef _WIN32
        // ICMPv6 to an IPv6 address, bracketed or not (Wine refuses raw ICMPv6 sockets and
        // has no ICMPv6 service: there the connection decides).
        {"::1", 0, 0, PINGO_OK, kUnchanged},
        {"[::1]", 0, 0, PINGO_OK, kUnchanged},
#endif
        {kUnresolvable.c_str(), 0, 0, PINGO_BAD_HOST, 0},
        {"127.0.0.1", kOther, 0, PINGO_SOCKET_ERROR, kOther},
#ifdef _WIN32
        // Without rights for raw sockets the system's ICMP service answers.
        {"127.0.0.1", kAccessDenied, 0, PINGO_OK, kUnchanged},
        {kUnresolvable.c_str(), kAccessDenied, 0, PINGO_BAD_HOST, 0},
        {"127.0.0.1", kAccessDenied, ERROR_ACCESS_DENIED, PINGO_SOCKET_ERROR, ERROR_ACCESS_DENIED},
#else
        {"127.0.0.1", kAccessDenied, 0, PINGO_SOCKET_ERROR, kAccessDenied},
#endif
    };
    for (const Row& row : rows) {
        SetProbeFaults(row.rawSocketError, row.serviceError);
        int detail = kUnchanged;
        // A failure ends at once, not after the wait.
        EXPECT_EQ(PingHost(row.host, row.status == PINGO_OK ? 5000 : 600000, detail), row.status) << row.host;
        EXPECT_EQ(detail, row.detail) << row.host << " " << row.rawSocketError;
    }
    SetProbeFaults(0, 0);
    // Once the program stops, no echo goes out: nothing answers.
    net::CStopSignal stopped;
    stopped.Stop();
    int detail = kUnchanged;
    EXPECT_EQ(PingHost("127.0.0.1", 600000, detail, &stopped), PINGO_TIMEOUT);
    EXPECT_EQ(detail, 0);
}

#ifndef _WIN32
namespace {

// Runs `body` in a child process with its own network namespace whose loopback interface
// is up and whose kernel answers no echo request. Answers the child's exit status.
int RunWithSilentLoopback(int (*body)())
{
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (unshare(CLONE_NEWNET) != 0 ||
            std::system("ip link set lo up && echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_all") != 0)
            _exit(100);
        _exit(body());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Stops `stop` once this process's next echo request shows on loopback (the raw socket is
// open before the probe sends); the result tells whether one was seen.
std::future<bool> StopAtNextRequest(net::CStopSignal& stop)
{
    const int raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    return std::async(std::launch::async, [raw, &stop] {
        const auto ids = Request();
        unsigned char datagram[1024];
        pollfd entry{raw, POLLIN, 0};
        bool seen = false;
        while (!seen && poll(&entry, 1, 10000) == 1) {
            if (recv(raw, datagram, sizeof datagram, 0) < 28) continue;
            const unsigned char* icmp = datagram + (datagram[0] & 0x0F) * 4;
            seen = icmp[0] == 8 && std::memcmp(icmp + 4, ids.data() + 4, 4) == 0;
        }
        if (seen) stop.Stop();
        close(raw);
        return seen;
    });
}

// The probe against the silent host; the exit status names the step that failed.
int SilentHostScenario()
{
    int detail = 1234;
    const auto start = Clock::now();
    if (PingHost("127.0.0.1", 300, detail) != PINGO_TIMEOUT || detail != 0) return 1;
    const long waited = MillisecondsSince(start);
    if (waited < 270 || waited > 3000) return 2;
    // A zero wait with nothing queued.
    if (PingHost("127.0.0.1", 0, detail) != PINGO_TIMEOUT) return 3;
    // The stop ends the wait for an echo that never comes.
    net::CStopSignal stop;
    auto seen = StopAtNextRequest(stop);
    const auto stopped = Clock::now();
    if (PingHost("127.0.0.1", 600000, detail, &stop) != PINGO_TIMEOUT || !seen.get()) return 4;
    return MillisecondsSince(stopped) < 60000 ? 0 : 5;
}

} // namespace

TEST(PingHostSilentHost, WaitsTheWholeWaitUnlessStopped)
{
    EXPECT_EQ(RunWithSilentLoopback(SilentHostScenario), 0);
}
#endif
