// The few things the mail transport asks of the system besides sockets (net/Socket.h): the
// thread's last-error value, UUIDs, the time zone, the local host name, shared file opening.
// No system header comes with it.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

#include "net/Blocks.h"

// Error numbers shared by both platforms.
inline constexpr int kErrorBadCommand = 22;          // ERROR_BAD_COMMAND
inline constexpr int kErrorInvalidParameter = 87;    // ERROR_INVALID_PARAMETER
inline constexpr int kErrorOperationAborted = 995;   // ERROR_OPERATION_ABORTED
inline constexpr int kErrorInvalidArgument = 10022;  // WSAEINVAL
inline constexpr int kErrorProtocol = 10043;         // WSAEPROTONOSUPPORT
inline constexpr int kErrorConnectionReset = 10054;  // WSAECONNRESET
inline constexpr int kErrorTimedOut = 10060;         // WSAETIMEDOUT
inline constexpr int kErrorHostNotFound = 11001;     // WSAHOST_NOT_FOUND

// The calling thread's last-error value (GetLastError on Windows, errno elsewhere).
inline int MailLastError()
{
    return net::LastSystemError();
}
inline void SetMailLastError(int error)
{
    net::SetLastSystemError(error);
}

// Right after a failed name lookup: the resolver's own error (Windows reports it as the
// thread's last error), else host not found.
int NameLookupError();

using net::AdviseLargeBlock;
using net::AllocateZeroedBlock;
using net::FreeBlock;

// A new UUID in its 36-character text form.
std::string NewUuidText();

// Minutes to add to local time to get UTC, daylight saving included while it is in force.
long LocalZoneBias();
// The current local time, broken down.
std::tm LocalTimeNow();

// The local host name; empty when it cannot be obtained.
std::string LocalHostName();

// Opens a file (name in Windows-1252) for binary reading while denying other writers.
std::FILE* OpenFileDenyWrite(const std::string& path);
