// The connectivity probe: one ICMP echo (ICMPv6 to an IPv6 address) to the message server.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/Socket.h"

namespace net {
class CStopSignal;
}

enum t_pingo_status : int {
    PINGO_OK = 0,
    PINGO_SOCKET_ERROR = 1,
    PINGO_BAD_HOST = 2,
    PINGO_NO_MEMORY = 3,
    PINGO_TIMEOUT = 4,
};

inline constexpr std::size_t kEchoRequestSize = 44;
inline constexpr std::size_t kEchoBlockSize = 1024;
inline constexpr unsigned char kEchoFill = 0x45;

// Sends one echo request to `host` (a name, or a dotted address) and waits up to `wait`
// milliseconds for the matching echo reply. `detail` gets the status's detail value: the
// socket error for PINGO_SOCKET_ERROR, the system error for PINGO_NO_MEMORY, 0 for
// PINGO_BAD_HOST and PINGO_TIMEOUT; it is left alone on PINGO_OK. `stop` ends the wait at
// once, as a time-out. Never raises.
t_pingo_status PingHost(const char* host, long wait, int& detail, net::CStopSignal* stop = nullptr);
// The same to an address (its port unused): ICMPv6 when it is an IPv6 one.
t_pingo_status PingAddress(const net::Address& address, long wait, int& detail, net::CStopSignal* stop = nullptr);

// Type 8, code 0, checksum 0, this process's identifier, sequence 0, and 0x45 from byte 12
// to the end of the first `size` bytes. Multi-byte fields are little-endian.
void FillEchoRequest(unsigned char* buffer, std::size_t size);

// The Internet checksum (RFC 1071) of `size` bytes, to be stored in memory order.
std::uint16_t IcmpChecksum(const void* buffer, std::size_t size);

// True when `datagram` (as a raw socket delivers it: IPv4 header first) is an echo reply
// whose identifier and sequence number are those of `request`.
bool IsMatchingEchoReply(const unsigned char* datagram, std::size_t size, const unsigned char* request);
// The same for ICMPv6, whose raw socket delivers no IP header.
bool IsMatchingEcho6Reply(const unsigned char* datagram, std::size_t size, const unsigned char* request);

// Test seam: a non-zero `rawSocketError` makes creating the raw socket fail with that
// socket error; a non-zero `serviceError` makes the ICMP service fallback fail with that
// system error. (0, 0) restores the real behaviour.
void SetProbeFaults(int rawSocketError, int serviceError);
