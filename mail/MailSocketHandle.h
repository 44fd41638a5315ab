// The socket handle type without the system headers (SOCKET on Windows, a descriptor
// elsewhere), so that headers of the mail transport stay free of <windows.h>.
#pragma once

#include <cstdint>

#ifdef _WIN32
using MailSocketHandle = std::uintptr_t;
inline constexpr MailSocketHandle kNoMailSocket = ~static_cast<std::uintptr_t>(0);
#else
using MailSocketHandle = int;
inline constexpr MailSocketHandle kNoMailSocket = -1;
#endif
