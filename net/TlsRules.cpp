#include "net/TlsRules.h"

#include <algorithm>
#include <cstdint>

namespace net {

namespace {

// Dotted decimal, four parts of 1 to 3 digits up to 255; nothing else (no octal, no short forms).
bool ParseIpv4(const std::string& text, unsigned char* out)
{
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        out[part] = static_cast<unsigned char>(value);
    }
    return at == text.size();
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Groups of up to four hexadecimal digits, one "::" at most, a dotted IPv4 tail allowed.
bool ParseIpv6(const std::string& text, unsigned char* out)
{
    std::uint16_t groups[8] = {};
    int count = 0;
    int gap = -1;  // where "::" stands, in groups
    std::size_t at = 0;
    if (text.compare(0, 2, "::") == 0) {
        gap = 0;
        at = 2;
    } else if (!text.empty() && text[0] == ':') {
        return false;
    }
    while (at < text.size()) {
        if (count == 8) return false;
        const std::size_t dot = text.find('.', at);
        if (dot != std::string::npos && text.find(':', at) == std::string::npos) {
            unsigned char v4[4];
            if (count > 6 || !ParseIpv4(text.substr(at), v4)) return false;
            groups[count++] = static_cast<std::uint16_t>(v4[0] << 8 | v4[1]);
            groups[count++] = static_cast<std::uint16_t>(v4[2] << 8 | v4[3]);
            at = text.size();
            break;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (at < text.size() && HexDigit(text[at]) >= 0) {
            if (++digits > 4) return false;
            value = value << 4 | static_cast<unsigned>(HexDigit(text[at++]));
        }
        if (digits == 0) return false;
        groups[count++] = static_cast<std::uint16_t>(value);
        if (at == text.size()) break;
        if (text[at] != ':') return false;
        ++at;
        if (at < text.size() && text[at] == ':') {
            if (gap >= 0) return false;
            gap = count;
            ++at;
        } else if (at == text.size()) {
            return false;  // a single colon at the end
        }
    }
    if (gap < 0 ? count != 8 : count > 7) return false;
    std::uint16_t full[8] = {};
    const int tail = gap < 0 ? 0 : count - gap;
    std::copy(groups, groups + (gap < 0 ? count : gap), full);
    std::copy(groups + count - tail, groups + count, full + 8 - tail);
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = static_cast<unsigned char>(full[i] >> 8);
        out[2 * i + 1] = static_cast<unsigned char>(full[i] & 0xFF);
    }
    return true;
}

} // namespace

std::vector<unsigned char> IpAddressBytes(const std::string& host)
{
    unsigned char bytes[16];
    if (ParseIpv4(host, bytes)) return {bytes, bytes + 4};
    std::string inner = host;
    if (inner.size() > 2 && inner.front() == '[' && inner.back() == ']') inner = inner.substr(1, inner.size() - 2);
    if (inner.find(':') != std::string::npos && ParseIpv6(inner, bytes)) return {bytes, bytes + 16};
    return {};
}

bool CouldBeTlsRecords(const unsigned char* data, std::size_t length)
{
    // change_cipher_spec, alert, handshake, application_data, heartbeat; at most 2^14 + 2048.
    constexpr unsigned kFirstType = 20, kLastType = 24, kMaxRecord = (1u << 14) + 2048;
    constexpr std::size_t kHeader = 5;
    std::size_t at = 0;
    while (length - at >= kHeader) {
        const unsigned char* h = data + at;
        const unsigned size = static_cast<unsigned>(h[3]) << 8 | h[4];
        if (h[0] < kFirstType || h[0] > kLastType || h[1] != 3 || h[2] > 4 || size > kMaxRecord) return false;
        if (length - at - kHeader <= size) return true;
        at += kHeader + size;
    }
    return true;
}

bool IsWeakSignatureAlgorithm(const std::string& oid)
{
    static const char* const kWeak[] = {
        "1.2.840.113549.1.1.2",  // md2WithRSAEncryption
        "1.2.840.113549.1.1.3",  // md4WithRSAEncryption
        "1.2.840.113549.1.1.4",  // md5WithRSAEncryption
        "1.2.840.113549.1.1.5",  // sha1WithRSAEncryption
        "1.3.14.3.2.29",         // sha1WithRSA (OIW)
        "1.3.14.3.2.3",          // md5WithRSA (OIW)
        "1.2.840.10040.4.3",     // dsa-with-sha1
        "1.2.840.10045.4.1",     // ecdsa-with-SHA1
    };
    return std::any_of(std::begin(kWeak), std::end(kWeak), [&](const char* weak) { return oid == weak; });
}

} // namespace net
