// The program's verdict on a server's certificate, over the system's chain engine: every error
// the chain reports refuses it, revocation is asked for every certificate but the root, and
// the program looks at each certificate itself for weak signatures and keys and, for an IP
// address, at its address entries. Windows only.
#pragma once

#include <cstdint>
#include <string>

#include "net/TlsStream.h"

struct _CERT_CONTEXT;

namespace net {

struct CertificateVerdict {
    TlsFailure failure = TlsFailure::None;
    std::string text;  // for the user, in Spanish, without the number
    unsigned long code = 0;
};

// `certificate` is the server's, with the certificates it sent in its store. Revocation
// information is fetched for at most `milliseconds` in all.
CertificateVerdict CheckServerCertificate(const _CERT_CONTEXT* certificate, const std::string& host,
                                          std::uint32_t milliseconds);

} // namespace net
