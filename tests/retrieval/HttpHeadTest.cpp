// The answer's head as the download reads it: portable, run natively under the sanitizers.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "retrieval/HttpHead.h"
#include "retrieval/ServerAddress.h"

namespace {

constexpr std::uint64_t kBound = 1 << 20;
constexpr auto kIncomplete = HeadState::Incomplete;
constexpr auto kComplete = HeadState::Complete;
constexpr auto kInvalid = HeadState::Invalid;
const std::optional<unsigned> kNoStatus;
const std::optional<std::uint64_t> kNoLength;

// A head of exactly `size` bytes, its filler in one header line.
std::string HeadOfSize(std::size_t size)
{
    const std::string start = "HTTP/1.0 200 OK\r\nX: ";
    return start + std::string(size - start.size() - 4, 'x') + "\r\n\r\n";
}

} // namespace

TEST(HttpHead, StatusLengthLineEndsAndBounds)
{
    struct Row {
        std::string received;
        HeadState state;
        std::optional<unsigned> status;
        std::optional<std::uint64_t> length;
        std::string body;  // what follows the head
    };
    const Row rows[] = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody", kComplete, 200, 4, "body"},
        {"HTTP/1.0 200 OK\nContent-Length: 4\n\nbody\r\n", kComplete, 200, 4, "body\r\n"},
        {"HTTP/1.1 404 Not Found\r\nServer: x\n\r\n\r\n", kComplete, 404, kNoLength, "\r\n"},
        {"http/1.0 302\r\n\r\n", kComplete, 302, kNoLength, ""},
        {"HTTP/1.0 2000 OK\r\n\r\n", kComplete, kNoStatus, kNoLength, ""},
        {"HTTP/1.0 20 OK\r\n\r\n", kComplete, kNoStatus, kNoLength, ""},
        {"HTTP/1.0 200OK\r\n\r\n", kComplete, kNoStatus, kNoLength, ""},
        {"HTTP/1.0  200 OK\r\n\r\n", kComplete, kNoStatus, kNoLength, ""},
        {"ICY 200 OK\r\n\r\n", kComplete, kNoStatus, kNoLength, ""},
        {"Server: x\r\nHTTP/1.0 200 OK\r\n\r\n", kComplete, kNoStatus, kNoLength, ""},
        {"\r\nHTTP/1.0 200 OK\r\n\r\n", kComplete, kNoStatus, kNoLength, "HTTP/1.0 200 OK\r\n\r\n"},
        // Content-Length: digits only, blanks around them, any case, never wrapped.
        {"HTTP/1.0 200 OK\r\ncontent-LENGTH:\t7 \r\n\r\n", kComplete, 200, 7, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length: 1 1\r\n\r\n", kInvalid, 200, kNoLength, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", kInvalid, 200, kNoLength, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length: +1\r\n\r\n", kInvalid, 200, kNoLength, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length:\r\n\r\n", kInvalid, 200, kNoLength, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\nContent-Length: 5\r\n\r\n", kInvalid, 200, 4, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\nContent-Length: 4\r\n\r\n", kComplete, 200, 4, ""},
        {"HTTP/1.0 200 OK\r\nX-Content-Length: 4\r\n\r\n", kComplete, 200, kNoLength, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length: 18446744073709551616\r\n\r\n", kComplete, 200, kBound + 1, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length: 1048577\r\n\r\n", kComplete, 200, kBound + 1, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length: 0001048576\r\n\r\n", kComplete, 200, kBound, ""},
        // Not yet ended, and the 64 KiB bound.
        {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n", kIncomplete, 200, 4, ""},
        {"", kIncomplete, kNoStatus, kNoLength, ""},
        {HeadOfSize(kMaxHttpHead) + "b", kComplete, 200, kNoLength, "b"},
        {HeadOfSize(kMaxHttpHead + 1), kInvalid, 200, kNoLength, ""},
        {std::string(kMaxHttpHead - 1, 'x'), kIncomplete, kNoStatus, kNoLength, ""},
        {std::string(kMaxHttpHead, 'x'), kInvalid, kNoStatus, kNoLength, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.received.substr(0, 60));
        const HttpHead head = ParseHttpHead(row.received, kBound);
        EXPECT_EQ(head.state, row.state);
        if (row.state == kInvalid) continue;
        EXPECT_EQ(head.status, row.status);
        EXPECT_EQ(head.length, row.length);
        if (row.state == kComplete) {
            EXPECT_EQ(row.received.substr(head.size), row.body);
        }
    }
}

TEST(ServerAddress, SchemeHostAndPort)
{
    // What is parsed, told as "scheme host port"; empty: refused.
    const std::pair<const char*, const char*> rows[] = {
        {"mensajes.example", "http mensajes.example 8080"}, {"127.0.0.1", "http 127.0.0.1 8080"},
        {"https://mensajes.example", "https mensajes.example 443"}, {"HTTPS://srv_1:65535", "https srv_1 65535"},
        {"https://127.0.0.1:1", "https 127.0.0.1 1"}, {"", ""}, {"https://", ""}, {"https://:8443", ""},
        {"https://host:", ""}, {"https://host:0", ""}, {"https://host:65536", ""}, {"https://host:+443", ""},
        {"https://host:443:1", ""}, {"https://host/", ""}, {"https://user@host", ""}, {"http://host", ""},
        {"host:8080", ""}, {"host name", ""}, {"[::1]", "http ::1 8080"}, {"fd00:7a6e::5", "http fd00:7a6e::5 8080"},
        {"https://[fd00::5]:8443", "https fd00::5 8443"}, {"https://[::1]", "https ::1 443"}, {"[host]", ""},
        {"https://fd00::5", ""}, {"https://[::1]x", ""}, {"[::1]:80", ""}, {"beef:80", ""},
    };
    for (const auto& [remoteHost, expected] : rows) {
        const auto address = ParseServerAddress(remoteHost, 8080);
        std::string told;
        if (address) told = (address->secure ? "https " : "http ") + address->host + " " + std::to_string(address->port);
        EXPECT_EQ(told, expected) << remoteHost;
    }
}
