#include "net/TlsStream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include "net/SystemSockets.h"
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>

#include "net/CertificateCheck.h"
#include "net/TlsCredentials.h"
#include "net/TlsRules.h"
#endif

namespace net {

namespace {

constexpr char kCertificateText[] = "No se pudo verificar el certificado del servidor: ";
constexpr char kHandshakeText[] = "No se pudo establecer una conexión segura con el servidor";
constexpr char kNotTlsText[] = "El servidor no respondió con un canal seguro";
constexpr char kOldProtocolText[] =
    "No se pudo establecer una conexión segura con el servidor: no admite TLS 1.2 o posterior";

// Security statuses and chain errors in hexadecimal, as the system documents them; socket
// errors in decimal.
std::string Numbered(const std::string& text, unsigned long code)
{
    char number[32];
    std::snprintf(number, sizeof number, code > 0xFFFF ? " (error 0x%08lX)." : " (error %lu).", code);
    return text + number;
}

} // namespace

#ifdef _WIN32

namespace {

constexpr char kAlertRecord = 0x15;  // a TLS record's content type

struct OutputToken {
    SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
    ~OutputToken()
    {
        if (buffer.pvBuffer) FreeContextBuffer(buffer.pvBuffer);
    }
};

} // namespace

struct CTlsStream::State {
    State(CSocket& s, std::uint32_t limit) : socket(s), wait(limit) {}

    CSocket& socket;
    std::uint32_t wait;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    CredHandle credentials{};
    bool started = false;
    CtxtHandle context{};
    bool haveContext = false;
    bool established = false;
    bool peerClosed = false;
    SecPkgContext_StreamSizes sizes{};
    std::string hostName;
    std::wstring host;  // empty for an address: no server name indication then
    std::vector<unsigned char> certificate;  // the server's, as the first handshake found it
    // Bytes from the server not yet handed to the provider, and decrypted ones not yet read.
    std::vector<char> incoming = std::vector<char>(kFirstIncoming);
    std::size_t incomingLength = 0;
    std::vector<char> plain;
    std::size_t plainAt = 0;

    TlsFailure failure = TlsFailure::None;
    std::string failureText;
    unsigned long failureCode = 0;

    // A record with its header and trailer; more only for a longer handshake flight.
    static constexpr std::size_t kFirstIncoming = (1u << 14) + 2048 + 5;

    bool Fail(TlsFailure kind, const std::string& text, unsigned long code)
    {
        failure = kind;
        failureText = Numbered(text, code);
        failureCode = code;
        SetLastSocketError(static_cast<int>(code));
        return false;
    }
    bool FailHandshake(unsigned long code) { return Fail(TlsFailure::Handshake, kHandshakeText, code); }
    bool FailNotTls()
    {
        return Fail(TlsFailure::NotTls, kNotTlsText, static_cast<unsigned long>(SEC_E_ILLEGAL_MESSAGE));
    }
    bool HeldCouldBeTls() const
    {
        return CouldBeTlsRecords(reinterpret_cast<const unsigned char*>(incoming.data()), incomingLength);
    }

    std::uint32_t WaitLeft() const
    {
        using std::chrono::milliseconds;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        return static_cast<std::uint32_t>(std::max<long long>(0, std::min<long long>(left, wait)));
    }

    // One more arrival from the server behind what is held. 0 when it closed, -1 on error,
    // time-out or more than kMaxIncoming held.
    int Fill()
    {
        if (incomingLength == incoming.size()) {
            if (incoming.size() >= kMaxIncoming) {
                SetLastSocketError(static_cast<int>(SEC_E_INVALID_TOKEN));
                return -1;
            }
            incoming.resize(std::min(incoming.size() * 2, kMaxIncoming));
        }
        const std::uint32_t limit = WaitLeft();
        bool readable = false;
        if (limit > 0 && !socket.WaitReadable(limit, readable)) return -1;
        if (!readable) {
            SetLastSocketError(WSAETIMEDOUT);
            return -1;
        }
        const int got = socket.Receive(incoming.data() + incomingLength, incoming.size() - incomingLength);
        if (got > 0) incomingLength += static_cast<std::size_t>(got);
        return got;
    }

    // Keeps what the provider left over (SECBUFFER_EXTRA) at the front.
    void KeepExtra(const SecBuffer& extra)
    {
        if (extra.BufferType != SECBUFFER_EXTRA || extra.cbBuffer == 0 || extra.cbBuffer > incomingLength) {
            incomingLength = 0;
            return;
        }
        std::memmove(incoming.data(), incoming.data() + incomingLength - extra.cbBuffer, extra.cbBuffer);
        incomingLength = extra.cbBuffer;
    }

    bool SendToken(const SecBuffer& token)
    {
        return token.cbBuffer == 0 || !token.pvBuffer || socket.Send(token.pvBuffer, token.cbBuffer);
    }

    wchar_t* TargetName() { return host.empty() ? nullptr : host.data(); }

    static constexpr ULONG kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                      ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                      ISC_REQ_MANUAL_CRED_VALIDATION;

    // The client's loop as the provider documents it, until the provider is satisfied: the
    // first handshake, or one the server starts later. Bytes already held go to the provider
    // before anything more is read; with `callFirst` (a renegotiation) the provider is asked
    // even with nothing held, since the server waits for the client's hello.
    bool Negotiate(bool callFirst)
    {
        bool needMore = !callFirst && incomingLength == 0;
        bool credentialsAnswered = false;
        for (;;) {
            if (needMore) {
                const int got = Fill();
                if (got <= 0) return FailHandshake(got == 0 ? WSAECONNRESET : LastSocketError());
            }
            if (!HeldCouldBeTls()) return FailNotTls();
            SecBuffer in[2] = {{static_cast<ULONG>(incomingLength), SECBUFFER_TOKEN, incoming.data()},
                               {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
            OutputToken out;
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out.buffer};
            ULONG attributes = 0;
            const SECURITY_STATUS status = InitializeSecurityContextW(&credentials, &context, TargetName(), kRequest, 0,
                                                                      0, &inDesc, 0, nullptr, &outDesc, &attributes,
                                                                      nullptr);
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                needMore = true;
                continue;
            }
            // An alert the provider made for a failure goes out too.
            if (!SendToken(out.buffer) && status >= 0) return FailHandshake(LastSocketError());
            if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
                // The server asks for a client certificate: the program has none, and says so
                // once, with the same input; a second request ends the handshake.
                if (credentialsAnswered) return FailHandshake(static_cast<unsigned long>(status));
                credentialsAnswered = true;
                needMore = false;
                continue;
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
                return FailHandshake(static_cast<unsigned long>(status));
            KeepExtra(in[1]);
            if (status == SEC_E_OK) return true;
            needMore = incomingLength == 0;
        }
    }

    bool Start(const std::string& name)
    {
        hostName = name;
        // RFC 6066 names only host names in the server name indication, never an address.
        if (IpAddressBytes(name).empty()) host.assign(name.begin(), name.end());  // names are ASCII
        SECURITY_STATUS status = AcquireSharedCredentials(credentials);
        if (status != SEC_E_OK) return FailHandshake(static_cast<unsigned long>(status));

        OutputToken out;
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out.buffer};
        ULONG attributes = 0;
        status = InitializeSecurityContextW(&credentials, nullptr, TargetName(), kRequest, 0, 0, nullptr, 0, &context,
                                            &outDesc, &attributes, nullptr);
        if (status != SEC_I_CONTINUE_NEEDED) return FailHandshake(static_cast<unsigned long>(status));
        haveContext = true;
        if (!SendToken(out.buffer)) return FailHandshake(LastSocketError());
        if (!Negotiate(false)) return false;

        // Whatever the credentials allowed, nothing older than TLS 1.2 carries a byte of ours.
        SecPkgContext_ConnectionInfo info{};
        if (QueryContextAttributesW(&context, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK ||
            (info.dwProtocol & ~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)) != 0)
            return Fail(TlsFailure::Handshake, kOldProtocolText,
                        static_cast<unsigned long>(SEC_E_UNSUPPORTED_FUNCTION));
        status = QueryContextAttributesW(&context, SECPKG_ATTR_STREAM_SIZES, &sizes);
        if (status != SEC_E_OK) return FailHandshake(static_cast<unsigned long>(status));
        if (!CheckCertificate()) return false;
        established = true;
        return true;
    }

    // The server's certificate for the host, on every full handshake; after a renegotiation it
    // must be the very one that was checked.
    bool CheckCertificate()
    {
        PCCERT_CONTEXT remote = nullptr;
        const SECURITY_STATUS status = QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote);
        if (status != SEC_E_OK || !remote)
            return Fail(TlsFailure::Certificate, std::string(kCertificateText) + "el servidor no presentó ninguno",
                        static_cast<unsigned long>(status != SEC_E_OK ? status : SEC_E_NO_CREDENTIALS));
        const std::vector<unsigned char> encoded(remote->pbCertEncoded, remote->pbCertEncoded + remote->cbCertEncoded);
        CertificateVerdict verdict;
        // Revocation fetches cannot be stopped: they get the usual 15 s at most.
        constexpr std::uint32_t kRevocationLimit = 15000;
        if (certificate.empty())
            verdict = CheckServerCertificate(remote, hostName, std::min(WaitLeft(), kRevocationLimit));
        else if (encoded != certificate)
            verdict = {TlsFailure::Certificate, "El servidor cambió de certificado durante la sesión",
                       static_cast<unsigned long>(SEC_E_CERT_UNKNOWN)};
        CertFreeCertificateContext(remote);
        if (verdict.failure != TlsFailure::None) return Fail(verdict.failure, verdict.text, verdict.code);
        certificate = encoded;
        return true;
    }

    // Decrypts what is held into `plain`; false when more must arrive first.
    bool Decrypt(bool& failed)
    {
        failed = false;
        if (incomingLength == 0) return false;
        if (!HeldCouldBeTls()) {
            failed = true;
            return Fail(TlsFailure::Broken, kHandshakeText, static_cast<unsigned long>(SEC_E_ILLEGAL_MESSAGE));
        }
        SecBuffer buffers[4] = {{static_cast<ULONG>(incomingLength), SECBUFFER_DATA, incoming.data()},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        // Some providers answer the peer's close_notify with an empty record, not
        // SEC_I_CONTEXT_EXPIRED: an alert record that yields nothing is the close too.
        const bool alert = incoming[0] == kAlertRecord;
        const std::size_t plainBefore = plain.size();
        const SECURITY_STATUS status = DecryptMessage(&context, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) return false;
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
            failed = true;
            return Fail(TlsFailure::Broken, kHandshakeText, static_cast<unsigned long>(status));
        }
        // The plain text lies inside `incoming`: copy it out before the extra bytes move.
        const SecBuffer* extra = nullptr;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.cbBuffer) {
                const char* p = static_cast<const char*>(b.pvBuffer);
                plain.insert(plain.end(), p, p + b.cbBuffer);
            }
            if (b.BufferType == SECBUFFER_EXTRA) extra = &b;
        }
        if (extra) KeepExtra(*extra);
        else incomingLength = 0;
        if (status == SEC_I_CONTEXT_EXPIRED || (alert && plain.size() == plainBefore)) peerClosed = true;
        if (status == SEC_I_RENEGOTIATE && !Renegotiate()) {
            failed = true;
            return false;
        }
        return true;
    }

    // The server asked for a new handshake (or, in TLS 1.3, sent a message after it): the
    // provider gets what is held first, and the session goes on only with the same certificate.
    bool Renegotiate()
    {
        if (!Negotiate(true)) return false;
        const SECURITY_STATUS status = QueryContextAttributesW(&context, SECPKG_ATTR_STREAM_SIZES, &sizes);
        if (status != SEC_E_OK) return FailHandshake(static_cast<unsigned long>(status));
        return CheckCertificate();
    }
};

CTlsStream::CTlsStream(CSocket& socket, std::uint32_t waitMilliseconds)
    : m(std::make_unique<State>(socket, waitMilliseconds))
{
}

CTlsStream::~CTlsStream()
{
    if (m->haveContext) DeleteSecurityContext(&m->context);
}

void CTlsStream::SetDeadline(std::chrono::steady_clock::time_point deadline)
{
    m->deadline = deadline;
}

bool CTlsStream::Handshake(const std::string& host)
{
    if (m->started) return m->FailHandshake(static_cast<unsigned long>(SEC_E_INVALID_HANDLE));
    m->started = true;
    return m->Start(host);
}

bool CTlsStream::Send(const void* data, std::size_t length)
{
    if (!m->established) {
        SetLastSocketError(WSAENOTCONN);
        return false;
    }
    const auto& sizes = m->sizes;
    std::vector<char> record(sizes.cbHeader + sizes.cbMaximumMessage + sizes.cbTrailer);
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        const std::size_t piece = length < sizes.cbMaximumMessage ? length : sizes.cbMaximumMessage;
        std::memcpy(record.data() + sizes.cbHeader, p, piece);
        SecBuffer buffers[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                                {static_cast<ULONG>(piece), SECBUFFER_DATA, record.data() + sizes.cbHeader},
                                {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes.cbHeader + piece},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = EncryptMessage(&m->context, 0, &desc, 0);
        if (status != SEC_E_OK) {
            SetLastSocketError(static_cast<int>(status));
            return false;
        }
        if (!m->socket.Send(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer))
            return false;
        p += piece;
        length -= piece;
    }
    return true;
}

int CTlsStream::Receive(void* buffer, std::size_t capacity)
{
    if (!m->established) {
        SetLastSocketError(WSAENOTCONN);
        return -1;
    }
    while (m->plainAt == m->plain.size()) {
        m->plain.clear();
        m->plainAt = 0;
        if (m->peerClosed) return 0;
        bool failed = false;
        if (m->Decrypt(failed)) continue;
        if (failed) return -1;
        const int got = m->Fill();
        // Only close_notify ends the stream: a TCP end before it, or inside a record, cuts it.
        if (got == 0) SetLastSocketError(WSAECONNRESET);
        if (got <= 0) return -1;
    }
    const std::size_t count = std::min(capacity, m->plain.size() - m->plainAt);
    std::memcpy(buffer, m->plain.data() + m->plainAt, count);
    m->plainAt += count;
    return static_cast<int>(count);
}

bool CTlsStream::WaitReadable(std::uint32_t milliseconds, bool& readable)
{
    // Without a session Receive fails at once: nothing to wait for.
    if (!m->established || m->plainAt < m->plain.size() || m->incomingLength > 0 || m->peerClosed) {
        readable = true;
        return true;
    }
    return m->socket.WaitReadable(milliseconds, readable);
}

void CTlsStream::Close()
{
    if (!m->established) return;
    m->established = false;
    DWORD shutdown = SCHANNEL_SHUTDOWN;
    SecBuffer token{sizeof shutdown, SECBUFFER_TOKEN, &shutdown};
    SecBufferDesc tokenDesc{SECBUFFER_VERSION, 1, &token};
    if (ApplyControlToken(&m->context, &tokenDesc) != SEC_E_OK) return;
    OutputToken out;
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out.buffer};
    ULONG attributes = 0;
    const SECURITY_STATUS status =
        InitializeSecurityContextW(&m->credentials, &m->context, m->TargetName(), State::kRequest, 0, 0, nullptr, 0,
                                   nullptr, &outDesc, &attributes, nullptr);
    if (status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED) m->SendToken(out.buffer);
}

bool CTlsStream::Established() const
{
    return m->established;
}

#else

struct CTlsStream::State {
    TlsFailure failure = TlsFailure::None;
    std::string failureText;
    unsigned long failureCode = 0;
};

CTlsStream::CTlsStream(CSocket&, std::uint32_t) : m(std::make_unique<State>())
{
}

CTlsStream::~CTlsStream() = default;

void CTlsStream::SetDeadline(std::chrono::steady_clock::time_point)
{
}

bool CTlsStream::Handshake(const std::string&)
{
    // No secure channel here: nothing may go out as if it were one.
    constexpr unsigned long kNotSupported = 95;  // EOPNOTSUPP
    m->failure = TlsFailure::Handshake;
    m->failureCode = kNotSupported;
    m->failureText = Numbered(kHandshakeText, kNotSupported);
    SetLastSocketError(static_cast<int>(kNotSupported));
    return false;
}

bool CTlsStream::Send(const void*, std::size_t)
{
    return false;
}

int CTlsStream::Receive(void*, std::size_t)
{
    return -1;
}

bool CTlsStream::WaitReadable(std::uint32_t, bool& readable)
{
    readable = false;
    return false;
}

void CTlsStream::Close()
{
}

bool CTlsStream::Established() const
{
    return false;
}

#endif

TlsFailure CTlsStream::Failure() const
{
    return m->failure;
}

const std::string& CTlsStream::FailureText() const
{
    return m->failureText;
}

unsigned long CTlsStream::FailureCode() const
{
    return m->failureCode;
}

} // namespace net
