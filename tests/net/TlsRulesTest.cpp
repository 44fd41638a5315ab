// The program's own TLS rules: addresses, record headers, weak signatures. Portable.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/TlsRules.h"

TEST(TlsRules, AddressesAreTheirBytesAndNamesAreNot)
{
    using Bytes = std::vector<unsigned char>;
    const Bytes none;
    const Bytes loopback6 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const struct {
        std::string host;
        Bytes bytes;
    } rows[] = {
        {"127.0.0.1", {127, 0, 0, 1}},
        {"255.255.255.255", {255, 255, 255, 255}},
        {"010.0.0.1", {10, 0, 0, 1}},
        {"256.0.0.1", none},
        {"127.1", none},
        {"127.0.0.1.", none},
        {"1.2.3.4.5", none},
        {"localhost", none},
        {"0x7f.0.0.1", none},
        {"", none},
        {"::1", loopback6},
        {"[::1]", loopback6},
        {"0:0:0:0:0:0:0:1", loopback6},
        {"::", Bytes(16, 0)},
        {"fd00:7a6e::5", {0xfd, 0, 0x7a, 0x6e, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}},
        {"1:2:3:4:5:6:7::", {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 0}},
        {"::ffff:127.0.0.1", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 127, 0, 0, 1}},
        {"[::1", none},
        {":::", none},
        {"1::2::3", none},
        {"1:2:3:4:5:6:7:8:9", none},
        {"1:2:3:4:5:6:7", none},
        {"12345::", none},
        {"::g", none},
        {"1:", none},
        {":1", none},
        {"::1.2.3", none},
    };
    for (const auto& row : rows) EXPECT_EQ(net::IpAddressBytes(row.host), row.bytes) << row.host;
}

TEST(TlsRules, OnlyRecordHeadersPassAsTls)
{
    const struct {
        std::string bytes;
        bool tls;
    } rows[] = {
        {"", true},
        {std::string("\x16\x03\x03\x00\x05", 5) + "hello", true},
        {std::string("\x16\x03\x03\x40\x00", 5), true},               // a whole record still to come
        {std::string("\x16\x03\x03\x48\x00", 5), true},               // the largest record
        {std::string("\x16\x03\x03\x48\x01", 5), false},              // one byte more
        {std::string("\x15\x03\x01\x00\x02\x02\x46", 7), true},       // an alert
        {std::string("\x16\x03", 2), true},                           // too little to judge
        {"HTTP/1.0 400 Bad Request\r\n", false},
        {"220 smtp listo\r\n", false},
        {std::string("\x16\x02\x00\x00\x01", 5), false},
        {std::string("\x13\x03\x03\x00\x01", 5), false},
        {std::string("\x16\x03\x03\x00\x01x", 6) + "garbage", false},  // the second header
    };
    for (const auto& row : rows)
        EXPECT_EQ(net::CouldBeTlsRecords(reinterpret_cast<const unsigned char*>(row.bytes.data()), row.bytes.size()),
                  row.tls)
            << row.bytes;
}

TEST(TlsRules, Md5AndSha1SignaturesAreWeak)
{
    for (const char* oid : {"1.2.840.113549.1.1.4", "1.2.840.113549.1.1.5", "1.2.840.10045.4.1", "1.3.14.3.2.29"})
        EXPECT_TRUE(net::IsWeakSignatureAlgorithm(oid)) << oid;
    for (const char* oid : {"1.2.840.113549.1.1.11", "1.2.840.10045.4.3.2", "1.2.840.113549.1.1.10", ""})
        EXPECT_FALSE(net::IsWeakSignatureAlgorithm(oid)) << oid;
}
