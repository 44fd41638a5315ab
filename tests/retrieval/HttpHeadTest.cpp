// The answer's head, its chunks and its redirections as the download reads them: portable,
// run natively under the sanitizers.
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <tuple>

#include "retrieval/ChunkedBody.h"
#include "retrieval/HttpHead.h"
#include "retrieval/Redirect.h"
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
        std::optional<unsigned> status = {};
        std::optional<std::uint64_t> length = {};
        std::string body = {};  // what follows the head
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
        // Content-Length: digits only, blanks around them, any case; several only for one number.
        {"HTTP/1.0 200 OK\r\ncontent-LENGTH:\t7 \r\n\r\n", kComplete, 200, 7, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length: 1 1\r\n\r\n", kInvalid},
        {"HTTP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", kInvalid},
        {"HTTP/1.0 200 OK\r\nContent-Length: +1\r\n\r\n", kInvalid},
        {"HTTP/1.0 200 OK\r\nContent-Length:\r\n\r\n", kInvalid},
        {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\nContent-Length: 5\r\n\r\n", kInvalid},
        {"HTTP/1.0 200 OK\r\nContent-Length: 2000000\r\nContent-Length: 3000000\r\n\r\n", kInvalid},
        {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\nContent-Length: 4\r\n\r\n", kComplete, 200, 4, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length: 04\r\nContent-Length: 4\r\n\r\n", kComplete, 200, 4, ""},
        {"HTTP/1.0 200 OK\r\nX-Content-Length: 4\r\n\r\n", kComplete, 200, kNoLength, ""},
        // Not yet ended, and the 64 KiB bound.
        {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n", kIncomplete, 200, 4, ""},
        {"", kIncomplete, kNoStatus, kNoLength, ""},
        {HeadOfSize(kMaxHttpHead) + "b", kComplete, 200, kNoLength, "b"},
        {HeadOfSize(kMaxHttpHead + 1), kInvalid},
        {std::string(kMaxHttpHead - 1, 'x'), kIncomplete, kNoStatus, kNoLength, ""},
        {std::string(kMaxHttpHead, 'x'), kInvalid},
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

TEST(HttpHead, LengthBoundsCannotWrap)
{
    constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
    const std::tuple<std::uint64_t, const char*, std::uint64_t> rows[] = {
        {0, "0", 0}, {0, "5", 1}, {9, "9", 9}, {9, "10", 10}, {kMax - 1, "18446744073709551615", kMax},
        {kMax, "18446744073709551615", kMax}, {kMax, "99999999999999999999999", kMax}};
    for (const auto& [bound, value, length] : rows)
        EXPECT_EQ(ParseHttpHead("HTTP/1.0 200 OK\r\nContent-Length: " + std::string(value) + "\r\n\r\n", bound).length,
                  length) << bound << " " << value;
}

TEST(HttpHead, CodingsTypeLocationPersistenceAndValidators)
{
    // What the head of a version's 200 says beyond its status and length, told in a few words.
    const std::string date = "Mon, 07 Dec 2026 10:00:00 GMT", tooLong(kMaxValidator + 1, 'e');
    const std::tuple<const char*, std::string, std::string> rows[] = {
        {"1.1", "", "none"}, {"1.1", "Transfer-Encoding: chunked\r\nContent-Length: 9\r\n", "chunked"},
        {"1.1", "transfer-encoding:  Chunked \r\n", "chunked"}, {"1.1", "Transfer-Encoding: gzip, chunked\r\n", "other"},
        {"1.1", "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n", "other"},
        {"1.1", "Transfer-Encoding: identity\r\n", "other"}, {"1.1", "Transfer-Encoding: ,\r\n", "none"},
        {"1.1", "Content-Encoding: gzip\r\n", "none encoded"}, {"1.1", "Content-Encoding: identity, IDENTITY\r\n", "none"},
        {"1.1", "Content-Encoding: identity\r\nContent-Encoding: br\r\n", "none encoded"},
        {"1.1", "Content-Type: Text/HTML; charset=utf-8\r\n", "none html"},
        {"1.1", "Content-Type: text/plain\r\nX-Type: text/html\r\n", "none"}, {"1.1", "Content-Type: text/html5\r\n", "none"},
        {"1.1", "Location:  /zandu/b.txt \r\nLocation: /zandu/b.txt\r\n", "none at /zandu/b.txt"},
        {"1.1", "Location: /a\r\nLocation: /b\r\n", "invalid"},
        // Kept connections: HTTP/1.1's unless it says close, HTTP/1.0's when it says keep-alive.
        {"1.0", "", "none close"}, {"1.x", "", "none close"}, {"1.0", "Connection: Keep-Alive\r\n", "none"},
        {"1.1", "Connection: close\r\n", "none close"}, {"1.1", "Connection: keep-alive, close\r\n", "none close"},
        {"1.0", "Connection: close\r\nConnection: keep-alive\r\n", "none close"},
        // Validators: the first of each, none that could not be sent back as it came.
        {"1.1", "ETag: \"a1\"\r\nLast-Modified: " + date + "\r\n", "none etag \"a1\" since " + date},
        {"1.0", "etag: W/\"b\"\r\nETag: \"c\"\r\n", "none close etag W/\"b\""},
        {"1.1", "ETag: \"a\rb\"\r\nLast-Modified: " + tooLong + "\r\n", "none"},
    };
    for (const auto& [version, fields, told] : rows) {
        const HttpHead head = ParseHttpHead("HTTP/" + std::string(version) + " 200 OK\r\n" + fields + "\r\n", kBound);
        std::string text = head.transfer == TransferCoding::Chunked ? "chunked"
                           : head.transfer == TransferCoding::Other ? "other" : "none";
        text += std::string(head.encoded ? " encoded" : "") + (head.html ? " html" : "") + (head.persistent ? "" : " close");
        if (head.location) text += " at " + *head.location;
        if (!head.etag.empty()) text += " etag " + head.etag;
        if (!head.lastModified.empty()) text += " since " + head.lastModified;
        EXPECT_EQ(head.state == kInvalid ? "invalid" : text, told) << version << " " << fields;
    }
}

TEST(ChunkedBody, FramingBoundsAndFaults)
{
    using State = CChunkedBody::State;
    const std::string sixteen(16, 's');
    std::string longTrailer = "0\r\n";
    while (longTrailer.size() <= CChunkedBody::kMaxTrailer + 3) longTrailer += "X-Trailer: filler\r\n";
    const struct {
        std::string wire;
        std::uint64_t bound;
        State state;
        std::string body;
    } rows[] = {
        {"5\r\nHola \r\n6\r\nmundo!\r\n0\r\n\r\n", 100, State::Ended, "Hola mundo!"},
        // Line ends alone, extensions and trailers dropped, leading zeros.
        {"A;n=v\nabcdefghij\n0005 ; x\n12345\n0\nX-Sum: 1\nY: 2\n\n", 100, State::Ended, "abcdefghij12345"},
        // Cut short, or too long a line or trailer.
        {"5\r\nabc", 100, State::Reading, "abc"}, {"5\r\nabcde\r\n0\r\n", 100, State::Reading, "abcde"},
        {"1;" + std::string(CChunkedBody::kMaxLine, 'e'), 100, State::Invalid, ""},
        {longTrailer, 100, State::Invalid, ""},
        // Broken framing.
        {"5\r\nabcdefg\r\n", 100, State::Invalid, "abcde"}, {"x\r\n", 100, State::Invalid, ""},
        {"\r\n", 100, State::Invalid, ""}, {"-5\r\n", 100, State::Invalid, ""}, {"5 x\r\n", 100, State::Invalid, ""},
        // Sizes at the bound, over it, and over 64 bits.
        {"10\r\n" + sixteen + "\r\n0\r\n\r\n", 16, State::Ended, sixteen}, {"11\r\n", 16, State::TooLarge, ""},
        {"8\r\n" + sixteen.substr(8) + "\r\n9\r\n", 16, State::TooLarge, sixteen.substr(8)},
        {"FFFFFFFFFFFFFFFF\r\n", std::numeric_limits<std::uint64_t>::max(), State::Reading, ""},
        {"FFFFFFFFFFFFFFFF\r\n", 1 << 20, State::TooLarge, ""},
        {"10000000000000000\r\n", std::numeric_limits<std::uint64_t>::max(), State::Invalid, ""},
        {"00000000000000000001\r\nz\r\n0\r\n\r\n", 1, State::Ended, "z"},
    };
    for (const auto& row : rows) {
        // All at once, and a byte at a time as the network may hand it: the unused bytes come again.
        for (const std::size_t step : {row.wire.size(), std::size_t{1}}) {
            SCOPED_TRACE(row.wire.substr(0, 40) + " in steps of " + std::to_string(step));
            CChunkedBody chunks(row.bound);
            std::string held;
            std::string body;
            for (std::size_t at = 0; at < row.wire.size() && chunks.GetState() == State::Reading; at += step) {
                held += row.wire.substr(at, step);
                held.erase(0, chunks.Decode(held, body));
            }
            EXPECT_EQ(chunks.GetState(), row.state);
            EXPECT_EQ(body, row.body);
        }
    }
    // What follows the body is left for the caller.
    std::string body;
    EXPECT_EQ(CChunkedBody(100).Decode("1\r\na\r\n0\r\n\r\nHTTP", body), 11u);
}

TEST(Redirect, TargetsThatAreFollowed)
{
    const ServerAddress plain{false, "a", 8080};
    const ServerAddress secure{true, "a", 443};
    // What is followed, told as "scheme host port path"; empty: not followed.
    const std::tuple<const ServerAddress&, const char*, const char*> rows[] = {
        {plain, "/zandu/b.txt", "http a 8080 /zandu/b.txt"}, {secure, "/ok?x=1#frag", "https a 443 /ok?x=1"},
        {plain, "https://b.example/x?y=1#f", "https b.example 443 /x?y=1"}, {plain, "HTTP://b:81", "http b 81 /"},
        {secure, "https://b?q", "https b 443 /?q"},
        {secure, "HTTPS://127.0.0.1:8443/zandu/c.txt", "https 127.0.0.1 8443 /zandu/c.txt"},
        {secure, "http://a/zandu/b.txt", ""}, {plain, "ftp://b/x", ""}, {plain, "//b/x", ""}, {plain, "b.txt", ""},
        {plain, "", ""}, {plain, "https://b:0/", ""}, {plain, "https://b:65536/", ""}, {plain, "https://b:/", ""},
        {plain, "https://u@b/", ""}, {plain, "https:///x", ""}, {plain, "https://[::1]/", "https ::1 443 /"}, {plain, "/a b", ""},
        {plain, "/a\r\nX: y", ""}, {plain, "/\xE1", ""},
    };
    for (const auto& [from, location, expected] : rows) {
        const auto target = ResolveRedirect(location, from);
        std::string told;
        if (target)
            told = std::string(target->server.secure ? "https " : "http ") + target->server.host + " " +
                   std::to_string(target->server.port) + " " + target->path;
        EXPECT_EQ(told, expected) << location;
    }
}
