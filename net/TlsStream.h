// A TLS client session over a connected CSocket, through the system's own provider and chain
// engine (Windows only; elsewhere every handshake fails). All sessions share one set of
// credentials for the life of the program, so the provider may resume a session. The socket
// does every wait: each is bounded, and the stop the socket watches ends any of them at once,
// the handshake's included; only the certificate's revocation look-up (at most 15 s) cannot
// be ended early. No system header comes with it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "net/Socket.h"

namespace net {

enum class TlsFailure {
    None,
    Untrusted,    // no chain to a trusted root
    Expired,      // outside its validity period
    WrongName,    // not made out to the host that was asked for
    Certificate,  // refused by the chain engine for another reason, or changed in the session
    Revoked,      // revoked by its issuer
    Weak,         // an MD5 or SHA-1 signature, or an RSA key under 2048 bits, in the chain
    NotTls,       // the server answered with bytes that cannot be TLS
    Handshake,    // no secure session came about (refused, silent, closed, too old a protocol)
    Broken,       // a record that could not be read once the session stood
};

class CTlsStream {
public:
    // `socket` is connected, stays the caller's and outlives the stream. `waitMilliseconds`
    // bounds each wait for data.
    CTlsStream(CSocket& socket, std::uint32_t waitMilliseconds);
    CTlsStream(const CTlsStream&) = delete;
    CTlsStream& operator=(const CTlsStream&) = delete;
    ~CTlsStream();

    // Every later wait ends by `deadline` too, as a time-out.
    void SetDeadline(std::chrono::steady_clock::time_point deadline);
    // The handshake (TLS 1.2 or newer; no server name indication for an address), then the
    // check of the server's certificate for `host`. On failure Failure and FailureText say
    // why and LastSocketError holds the system's number. Nothing of the caller's goes out
    // before it succeeds.
    bool Handshake(const std::string& host);
    bool Send(const void* data, std::size_t length);
    // As CSocket::Receive: the byte count, 0 when the peer closed the session, -1 on error.
    int Receive(void* buffer, std::size_t capacity);
    // Readable also when decrypted bytes are waiting.
    bool WaitReadable(std::uint32_t milliseconds, bool& readable);
    // Says close notify when the session stands; the socket stays open.
    void Close();

    bool Established() const;
    TlsFailure Failure() const;
    // For the user, in Spanish, with the system's error number.
    const std::string& FailureText() const;
    // The system's number of the failure (a security status or a socket error).
    unsigned long FailureCode() const;

    // The most bytes held from the server at once: a handshake flight (certificate chains
    // run long) or a record.
    static constexpr std::size_t kMaxIncoming = 1u << 19;

private:
    struct State;
    std::unique_ptr<State> m;
};

} // namespace net
