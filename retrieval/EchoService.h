// What the echo probe needs from the system besides sockets (net/Socket.h): the tick count,
// the process identifier and, on Windows, the system's ICMP service.
#pragma once

#include <cstddef>

#include "net/Socket.h"

namespace probe_platform {

unsigned long CurrentProcessId();
unsigned long TickCount();

// Sends the echo payload through the system's ICMP service, for processes that may not
// open raw sockets. Answers 0 and sets `replied` (true only for an echo reply within the
// wait), or the system's error.
int SendEchoThroughService(const net::Address& address, const void* payload, std::size_t size,
                           unsigned long milliseconds, bool& replied);

// Whether the system offers such a service.
bool HasEchoService();

} // namespace probe_platform
