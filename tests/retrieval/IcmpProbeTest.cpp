// The echo probe: packet layout and checksum, reply matching, and real echoes on loopback.
// Natively a child process with its own network namespace gives a host that receives the
// probe but never answers, and lets the test put foreign datagrams on the probe's way.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "retrieval/IcmpProbe.h"
#include "retrieval/ProbeSocket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>

#include "tests/support/WinTestSupport.h"
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <thread>
#endif

namespace {

#ifdef _WIN32
constexpr int kAccessDenied = WSAEACCES;
constexpr int kOtherSocketError = WSAEAFNOSUPPORT;

const auto* const g_winsock =
    ::testing::AddGlobalTestEnvironment(new testing_support::WinsockEnvironment);

unsigned long ProcessId()
{
    return GetCurrentProcessId();
}
#else
constexpr int kAccessDenied = EACCES;
constexpr int kOtherSocketError = EAFNOSUPPORT;

unsigned long ProcessId()
{
    return static_cast<unsigned long>(getpid());
}
#endif

// A label longer than 63 characters fails before any name query is sent.
const std::string kUnresolvable = std::string(70, 'x') + ".invalid";

class ProbeFaultsGuard {
public:
    ProbeFaultsGuard(int raw, int service) { SetProbeFaults(raw, service); }
    ~ProbeFaultsGuard() { SetProbeFaults(0, 0); }
};

std::vector<unsigned char> Request()
{
    std::vector<unsigned char> request(kEchoRequestSize);
    FillEchoRequest(request.data(), request.size());
    return request;
}

// An IPv4 header of `headerSize` bytes followed by an ICMP message.
std::vector<unsigned char> Datagram(unsigned char type, unsigned char code, const unsigned char* idAndSequence,
                                    std::size_t headerSize = 20)
{
    std::vector<unsigned char> datagram(headerSize + kEchoRequestSize, 0);
    datagram[0] = static_cast<unsigned char>(0x40 | (headerSize / 4));
    datagram[9] = 1;  // ICMP
    datagram[headerSize] = type;
    datagram[headerSize + 1] = code;
    std::memcpy(datagram.data() + headerSize + 4, idAndSequence, 4);
    return datagram;
}

} // namespace

TEST(EchoRequest, CarriesTheProcessIdentifierLittleEndianAndTheFill)
{
    std::vector<unsigned char> buffer(kEchoRequestSize + 4, 0xCC);
    FillEchoRequest(buffer.data(), kEchoRequestSize);
    EXPECT_EQ(buffer[0], 8);
    EXPECT_EQ(buffer[1], 0);
    EXPECT_EQ(buffer[2], 0);
    EXPECT_EQ(buffer[3], 0);
    EXPECT_EQ(buffer[4], ProcessId() & 0xFF);
    EXPECT_EQ(buffer[5], (ProcessId() >> 8) & 0xFF);
    EXPECT_EQ(buffer[6], 0);
    EXPECT_EQ(buffer[7], 0);
    for (std::size_t i = 12; i < kEchoRequestSize; ++i) EXPECT_EQ(buffer[i], 0x45) << i;
    // Nothing beyond the size given.
    for (std::size_t i = kEchoRequestSize; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xCC) << i;

    std::vector<unsigned char> small(16, 0xCC);
    FillEchoRequest(small.data(), 6);
    EXPECT_EQ(small[0], 8);
    EXPECT_EQ(small[6], 0xCC);
}

TEST(EchoRequest, ChecksumIsTheInternetChecksumInMemoryOrder)
{
    // The example of RFC 1071: the checksum of 00 01 f2 03 f4 f5 f6 f7 is 0x220d.
    const unsigned char even[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    std::uint16_t sum = IcmpChecksum(even, sizeof even);
    unsigned char stored[2];
    std::memcpy(stored, &sum, 2);
    EXPECT_EQ(stored[0], 0x22);
    EXPECT_EQ(stored[1], 0x0d);

    // An odd last byte counts as the high byte of a word padded with zero on the wire.
    const unsigned char odd[] = {0x01, 0x02, 0x03};
    sum = IcmpChecksum(odd, sizeof odd);
    std::memcpy(stored, &sum, 2);
    EXPECT_EQ(stored[0], 0xFB);
    EXPECT_EQ(stored[1], 0xFD);

    // A packet that carries its checksum sums to zero.
    auto request = Request();
    sum = IcmpChecksum(request.data(), request.size());
    std::memcpy(request.data() + 2, &sum, 2);
    EXPECT_EQ(IcmpChecksum(request.data(), request.size()), 0);
}

TEST(EchoRequest, WaitIsSplitIntoSecondsAndMicroseconds)
{
    EXPECT_EQ(WaitLimit(1500).seconds, 1);
    EXPECT_EQ(WaitLimit(1500).microseconds, 500000);
    EXPECT_EQ(WaitLimit(0).seconds, 0);
    EXPECT_EQ(WaitLimit(0).microseconds, 0);
    EXPECT_EQ(WaitLimit(30000).seconds, 30);
    EXPECT_EQ(WaitLimit(30000).microseconds, 0);
}

TEST(EchoReplyMatching, OnlyAnEchoReplyWithThisIdentifierAndSequenceAnswers)
{
    const auto request = Request();
    const unsigned char* ids = request.data() + 4;
    auto reply = Datagram(0, 0, ids);
    EXPECT_TRUE(IsMatchingEchoReply(reply.data(), reply.size(), request.data()));

    // The header's own length is honoured: options push the ICMP message further.
    auto withOptions = Datagram(0, 0, ids, 28);
    EXPECT_TRUE(IsMatchingEchoReply(withOptions.data(), withOptions.size(), request.data()));

    // The raw socket's own copy of the request on loopback.
    auto ownRequest = Datagram(8, 0, ids);
    EXPECT_FALSE(IsMatchingEchoReply(ownRequest.data(), ownRequest.size(), request.data()));
    // Destination unreachable.
    auto unreachable = Datagram(3, 1, ids);
    EXPECT_FALSE(IsMatchingEchoReply(unreachable.data(), unreachable.size(), request.data()));

    unsigned char otherId[4];
    std::memcpy(otherId, ids, 4);
    otherId[0] ^= 0x5A;
    auto foreign = Datagram(0, 0, otherId);
    EXPECT_FALSE(IsMatchingEchoReply(foreign.data(), foreign.size(), request.data()));

    unsigned char otherSequence[4];
    std::memcpy(otherSequence, ids, 4);
    otherSequence[3] = 1;
    auto later = Datagram(0, 0, otherSequence);
    EXPECT_FALSE(IsMatchingEchoReply(later.data(), later.size(), request.data()));

    // Truncated or malformed datagrams are never read past their end.
    EXPECT_FALSE(IsMatchingEchoReply(reply.data(), 27, request.data()));
    EXPECT_FALSE(IsMatchingEchoReply(reply.data(), 10, request.data()));
    auto badLength = reply;
    badLength[0] = 0x4F;  // 60-byte header in a 64-byte datagram
    EXPECT_FALSE(IsMatchingEchoReply(badLength.data(), 64, request.data()));
    auto badVersion = reply;
    badVersion[0] = 0x65;
    EXPECT_FALSE(IsMatchingEchoReply(badVersion.data(), badVersion.size(), request.data()));
}

TEST(ProbeAddress, DottedAddressIsUsedAsItIsWithPortZero)
{
    // A dotted address that no name stands for; only resolved here.
    ProbeAddress address;
    ASSERT_TRUE(probe_platform::Resolve("127.1.2.3", address));
    const auto& inet = *reinterpret_cast<const sockaddr_in*>(address.bytes);
    EXPECT_EQ(inet.sin_family, AF_INET);
    EXPECT_EQ(inet.sin_port, 0);
    const unsigned char expected[] = {127, 1, 2, 3};
    EXPECT_EQ(std::memcmp(&inet.sin_addr, expected, 4), 0);

    ASSERT_TRUE(probe_platform::Resolve("localhost", address));
    const unsigned char loopback[] = {127, 0, 0, 1};
    EXPECT_EQ(std::memcmp(&inet.sin_addr, loopback, 4), 0);

    EXPECT_FALSE(probe_platform::Resolve(kUnresolvable.c_str(), address));
}

TEST(PingHost, LoopbackAnswersByAddressAndByName)
{
    int detail = 1234;
    EXPECT_EQ(PingHost("127.0.0.1", 5000, detail), PINGO_OK);
    EXPECT_EQ(detail, 1234);
    EXPECT_EQ(PingHost("127.0.0.2", 5000, detail), PINGO_OK);
    EXPECT_EQ(PingHost("localhost", 5000, detail), PINGO_OK);
    EXPECT_EQ(detail, 1234);
}

TEST(PingHost, UnresolvableHostIsBadHostWithDetailZero)
{
    int detail = 1234;
    EXPECT_EQ(PingHost(kUnresolvable.c_str(), 5000, detail), PINGO_BAD_HOST);
    EXPECT_EQ(detail, 0);
}

TEST(PingHost, OtherSocketFailureIsReportedWithItsError)
{
    ProbeFaultsGuard faults(kOtherSocketError, 0);
    int detail = 0;
    EXPECT_EQ(PingHost("127.0.0.1", 5000, detail), PINGO_SOCKET_ERROR);
    EXPECT_EQ(detail, kOtherSocketError);
}

#ifdef _WIN32
TEST(PingHost, WithoutRightsForRawSocketsTheIcmpServiceAnswers)
{
    ProbeFaultsGuard faults(kAccessDenied, 0);
    int detail = 1234;
    EXPECT_EQ(PingHost("127.0.0.1", 5000, detail), PINGO_OK);
    EXPECT_EQ(detail, 1234);
    EXPECT_EQ(PingHost(kUnresolvable.c_str(), 5000, detail), PINGO_BAD_HOST);
}

TEST(PingHost, WhenNeitherWayIsAllowedTheProbeFailsAtOnce)
{
    ProbeFaultsGuard faults(kAccessDenied, ERROR_ACCESS_DENIED);
    int detail = 0;
    EXPECT_EQ(PingHost("127.0.0.1", 600000, detail), PINGO_SOCKET_ERROR);
    EXPECT_EQ(detail, ERROR_ACCESS_DENIED);
}
#else
TEST(PingHost, WithoutRightsForRawSocketsAndNoServiceTheProbeFailsAtOnce)
{
    ProbeFaultsGuard faults(kAccessDenied, 0);
    int detail = 0;
    EXPECT_EQ(PingHost("127.0.0.1", 600000, detail), PINGO_SOCKET_ERROR);
    EXPECT_EQ(detail, kAccessDenied);
}

namespace {

enum ChildResult { kChildSetupFailed = 100 };

// Runs `body` in a child process with its own network namespace whose loopback interface
// is up and whose kernel answers no echo request. Answers the child's exit status.
int RunWithSilentLoopback(const std::function<int()>& body)
{
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (unshare(CLONE_NEWNET) != 0) _exit(kChildSetupFailed);
        const int s = socket(AF_INET, SOCK_DGRAM, 0);
        ifreq request{};
        std::strcpy(request.ifr_name, "lo");
        if (s < 0 || ioctl(s, SIOCGIFFLAGS, &request) != 0) _exit(kChildSetupFailed);
        request.ifr_flags |= IFF_UP;
        if (ioctl(s, SIOCSIFFLAGS, &request) != 0) _exit(kChildSetupFailed);
        close(s);
        const int ignore = open("/proc/sys/net/ipv4/icmp_echo_ignore_all", O_WRONLY);
        if (ignore < 0 || write(ignore, "1", 1) != 1) _exit(kChildSetupFailed);
        close(ignore);
        _exit(body());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::vector<unsigned char> IcmpMessage(unsigned char type, unsigned char code, const unsigned char* idAndSequence)
{
    std::vector<unsigned char> message(kEchoRequestSize, 0x45);
    message[0] = type;
    message[1] = code;
    message[2] = message[3] = 0;
    std::memcpy(message.data() + 4, idAndSequence, 4);
    const std::uint16_t sum = IcmpChecksum(message.data(), message.size());
    std::memcpy(message.data() + 2, &sum, 2);
    return message;
}

// Waits for this process's echo request on loopback, then answers it with `answers`.
class CInjector {
public:
    explicit CInjector(std::vector<std::vector<unsigned char>> (*answers)(const unsigned char* ids))
    {
        m_socket = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
        m_thread = std::thread([this, answers] { Run(answers); });
    }
    ~CInjector()
    {
        if (m_thread.joinable()) m_thread.join();
        close(m_socket);
    }
    // Whether the probe's request was seen and answered.
    bool Answered()
    {
        if (m_thread.joinable()) m_thread.join();
        return m_bAnswered;
    }

private:
    bool m_bAnswered = false;

    void Run(std::vector<std::vector<unsigned char>> (*answers)(const unsigned char* ids))
    {
        unsigned char datagram[1024];
        const unsigned long pid = ProcessId();
        pollfd entry{m_socket, POLLIN, 0};
        while (poll(&entry, 1, 10000) == 1) {
            const ssize_t n = recv(m_socket, datagram, sizeof datagram, 0);
            if (n < 28) continue;
            const unsigned char* icmp = datagram + (datagram[0] & 0x0F) * 4;
            if (icmp[0] != 8 || icmp[4] != (pid & 0xFF) || icmp[5] != ((pid >> 8) & 0xFF)) continue;
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            for (const auto& message : answers(icmp + 4))
                sendto(m_socket, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            m_bAnswered = true;
            return;
        }
    }
    int m_socket = -1;
    std::thread m_thread;
};

std::vector<std::vector<unsigned char>> ForeignDatagrams(const unsigned char* ids)
{
    unsigned char otherId[4] = {static_cast<unsigned char>(ids[0] ^ 0x5A), ids[1], ids[2], ids[3]};
    unsigned char otherSequence[4] = {ids[0], ids[1], 0, 7};
    return {IcmpMessage(3, 1, ids), IcmpMessage(0, 0, otherId), IcmpMessage(0, 0, otherSequence)};
}

std::vector<std::vector<unsigned char>> ForeignThenMatching(const unsigned char* ids)
{
    auto messages = ForeignDatagrams(ids);
    messages.push_back(IcmpMessage(0, 0, ids));
    return messages;
}

} // namespace

TEST(PingHostSilentHost, NoReplyTimesOutWithDetailZero)
{
    const int status = RunWithSilentLoopback([] {
        int detail = 1234;
        const int result = PingHost("127.0.0.1", 300, detail);
        return detail == 0 ? result : 50;
    });
    EXPECT_EQ(status, PINGO_TIMEOUT);
}

TEST(PingHostSilentHost, ZeroWaitWithNothingQueuedTimesOut)
{
    EXPECT_EQ(RunWithSilentLoopback([] {
                  int detail = 0;
                  return static_cast<int>(PingHost("127.0.0.1", 0, detail));
              }),
              PINGO_TIMEOUT);
}

TEST(PingHostSilentHost, ForeignDatagramsAndTheOwnRequestDoNotAnswer)
{
    const int status = RunWithSilentLoopback([] {
        CInjector injector(&ForeignDatagrams);
        int detail = 1234;
        const int result = PingHost("127.0.0.1", 1500, detail);
        return injector.Answered() ? result : 60;
    });
    EXPECT_EQ(status, PINGO_TIMEOUT);
}

TEST(PingHostSilentHost, AMatchingReplyAnswersAfterForeignDatagrams)
{
    const int status = RunWithSilentLoopback([] {
        CInjector injector(&ForeignThenMatching);
        int detail = 1234;
        const int result = PingHost("127.0.0.1", 20000, detail);
        return injector.Answered() && detail == 1234 ? result : 60;
    });
    EXPECT_EQ(status, PINGO_OK);
}
#endif
