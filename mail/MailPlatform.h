// The few things the mail transport asks of the system: sockets (Winsock or BSD), the
// thread's last-error value, UUIDs, the time zone, the local host name, shared file opening.
#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>

#include "mail/MailSocketHandle.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
static_assert(sizeof(MailSocketHandle) == sizeof(SOCKET) && kNoMailSocket == INVALID_SOCKET);
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

// Error numbers shared by both platforms.
inline constexpr int kErrorBadCommand = 22;          // ERROR_BAD_COMMAND
inline constexpr int kErrorInvalidParameter = 87;    // ERROR_INVALID_PARAMETER
inline constexpr int kErrorInvalidArgument = 10022;  // WSAEINVAL
inline constexpr int kErrorProtocol = 10043;         // WSAEPROTONOSUPPORT
inline constexpr int kErrorTimedOut = 10060;         // WSAETIMEDOUT

// The calling thread's last-error value (GetLastError on Windows, errno elsewhere).
int MailLastError();
void SetMailLastError(int error);

int CloseMailSocket(MailSocketHandle socket);

// A new UUID in its 36-character text form.
std::string NewUuidText();

// Minutes to add to local time to get UTC, daylight saving included while it is in force.
long LocalZoneBias();
// The current local time, broken down.
std::tm LocalTimeNow();

// The local host name; empty when it cannot be obtained.
std::string LocalHostName();

// Zeroed memory for large buffers, in huge pages where the system offers them: on a fresh
// block of many megabytes the page faults cost more than the work done in it. Null when
// the memory cannot be had. FreeBlock takes the size that was asked for.
void* AllocateZeroedBlock(std::size_t size);
void FreeBlock(void* block, std::size_t size);
// Asks for huge pages behind memory already allocated (a string's reserved capacity).
void AdviseLargeBlock(void* data, std::size_t size);

// Opens a file (name in Windows-1252) for binary reading while denying other writers.
std::FILE* OpenFileDenyWrite(const std::string& path);
