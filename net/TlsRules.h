// The program's own rules for a secure channel, apart from the system's provider: which host
// is an IP address, which bytes can start TLS records, which signatures are too weak.
// Portable and pure, so that they are tested natively.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace net {

// The 4 or 16 bytes of an IPv4 (dotted decimal) or IPv6 literal, brackets allowed around the
// latter; empty for anything else, which is then a host name.
std::vector<unsigned char> IpAddressBytes(const std::string& host);

// False as soon as a whole record header in `data` cannot be TLS (unknown content type, a
// version other than 3.x, a length over the protocol's limit); the headers are followed by
// their lengths, and a header cut short at the end is no verdict yet.
bool CouldBeTlsRecords(const unsigned char* data, std::size_t length);

// A certificate signature made with MD2, MD4, MD5 or SHA-1 (object identifier in dotted form).
bool IsWeakSignatureAlgorithm(const std::string& oid);

// The smallest RSA key accepted in a server's chain.
inline constexpr unsigned kMinimumRsaBits = 2048;

} // namespace net
