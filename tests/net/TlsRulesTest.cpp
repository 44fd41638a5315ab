// The program's own TLS rules on bytes and names: addresses, record headers. Portable.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/TlsRules.h"

TEST(TlsRules, AddressesAreTheirBytesAndNamesAreNot)
{
    using Bytes = std::vector<unsigned char>;
    const Bytes none, loopback6 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const std::pair<std::string, Bytes> rows[] = {
        {"127.0.0.1", {127, 0, 0, 1}}, {"010.0.0.255", {10, 0, 0, 255}}, {"256.0.0.1", none}, {"127.1", none},
        {"127.0.0.1.", none}, {"localhost", none}, {"0x7f.0.0.1", none}, {"", none}, {"::1", loopback6},
        {"[::1]", loopback6}, {"0:0:0:0:0:0:0:1", loopback6}, {"::", Bytes(16, 0)},
        {"fd00:7a6e::5", {0xfd, 0, 0x7a, 0x6e, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}},
        {"1:2:3:4:5:6:7::", {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 0}},
        {"::ffff:127.0.0.1", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 127, 0, 0, 1}}, {"[::1", none}, {":::", none},
        {"1::2::3", none}, {"1:2:3:4:5:6:7:8:9", none}, {"1:2:3:4:5:6:7", none}, {"12345::", none}, {"::g", none},
        {"1:", none}, {":1", none}, {"::1.2.3", none},
    };
    for (const auto& [host, bytes] : rows) EXPECT_EQ(net::IpAddressBytes(host), bytes) << host;
}

TEST(TlsRules, OnlyRecordHeadersPassAsTls)
{
    using namespace std::string_literals;
    const std::pair<std::string, bool> rows[] = {
        {"", true}, {"\x16\x03\x03\x00\x05hello"s, true}, {"\x16\x03"s, true},  // too little to judge
        {"\x16\x03\x03\x48\x00"s, true},                                        // the largest record, still to come
        {"\x16\x03\x03\x48\x01"s, false}, {"\x15\x03\x01\x00\x02\x02\x46"s, true}, {"HTTP/1.0 400 Bad\r\n", false},
        {"\x16\x02\x00\x00\x01"s, false}, {"\x13\x03\x03\x00\x01"s, false},
        {"\x16\x03\x03\x00\x01xgarbage"s, false},  // the second header
    };
    for (const auto& [bytes, tls] : rows)
        EXPECT_EQ(net::CouldBeTlsRecords(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()), tls)
            << bytes;
}
