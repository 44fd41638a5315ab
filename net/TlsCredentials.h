// The one set of client credentials of the program's TLS sessions: shared by every thread and
// kept until the program ends, so that the provider can resume sessions. Windows only.
#pragma once

struct _SecHandle;

namespace net {

// A copy of the shared handle, made on first use (a failure is tried again next time).
// Answers the system's security status.
long AcquireSharedCredentials(_SecHandle& handle);

} // namespace net
