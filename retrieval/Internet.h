// The download's HTTP client: a session, an HTTP connection, a request, and the exception
// that carries a failure with its error number and text. Requests run on the socket layer,
// so every wait is bounded by the time-out and by the request's total deadline, and a stop
// signal set from another thread ends any of them at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/Errors.h"
#include "net/Connector.h"
#include "net/Socket.h"
#include "net/StopSignal.h"
#include "net/TlsStream.h"
#include "retrieval/ChunkedBody.h"
#include "retrieval/HttpHead.h"
#include "retrieval/ProxyRules.h"

// The download's error numbers, as the boxes show them.
enum InternetError : unsigned long {
    kInternetTimeout = 12002,
    kInternetInvalidUrl = 12005,
    kInternetNameNotResolved = 12007,
    kInternetCancelled = 12017,
    kInternetIncorrectHandleState = 12019,
    kInternetCannotConnect = 12029,
    kInternetConnectionAborted = 12030,
    kInternetInvalidResponse = 12152,
    kInternetRedirectFailed = 12156,
};

// A failure of the HTTP client: its error number and text.
class CInternetException : public CSystemException {
public:
    explicit CInternetException(unsigned long error);
    // A failure of the secure channel: its text, which tells the system's number, is the box's.
    CInternetException(unsigned long error, std::string text);
    unsigned long ErrorNumber() const noexcept override { return m_dwError; }
    // The download's own text for its numbers, the system's for any other; at most 99
    // characters.
    std::string GetErrorMessage() const override { return m_strText; }
    // "(N) - text", as the download reports a failure.
    std::string ErrorNumberText() const;

private:
    unsigned long m_dwError;
    std::string m_strText;
    bool m_bNumbered = false;  // the text carries its number already
};

// What every request of one connection shares.
struct HttpTarget {
    std::string host;
    unsigned short port = 80;
    bool secure = false;  // HTTP inside TLS, the certificate checked for `host`
    std::string agent;
    unsigned long timeOut = 0;                 // each connect, send and receive
    std::chrono::milliseconds deadline{60000};  // request to last byte
    std::uint64_t maxLength = 1 << 20;          // a longer announced length is told as maxLength + 1
    net::CStopSignal* stop = nullptr;           // stopped: the request ends at once
    std::optional<ProxyEndpoint> proxy;         // none: straight to the server
    std::shared_ptr<net::CAddressMemory> answered;  // the address to try first, kept up to date
};

// One connection to the server (or to the proxy, or a tunnel through it), with its TLS.
struct HttpChannel {
    net::CSocket socket;
    std::unique_ptr<net::CTlsStream> tls;
    // After the socket: unregistered before the socket closes.
    std::unique_ptr<net::CStopScope> stopScope;
};

class CHttpConnection;

class CHttpFile {
public:
    // `owner` (may be null) lends the connection it kept and gets it back when this answer
    // leaves it ready for another request.
    CHttpFile(const HttpTarget& target, std::string requestText, CHttpConnection* owner = nullptr);
    ~CHttpFile();
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    // Sends the request on the connection the owner kept, else (and once more when the server
    // closed the kept one before any byte of its answer) on a new connection, asking
    // `reachable` (when given) before it: false when it says no. Reads the answer's head. A
    // failure raises CInternetException.
    bool SendRequest(const std::function<bool()>& reachable = {});
    // False when the answer carried no valid status line.
    bool QueryInfoStatusCode(unsigned long& status);
    // The length the server announced, if any (over the target's maxLength: maxLength + 1),
    // and absent for a body in chunks, whose framing overrides it.
    std::optional<std::uint64_t> ContentLength();
    // What identifies the content sent, when the server said it (HttpHead tells which).
    const std::string& ETag() const noexcept { return m_head.etag; }
    const std::string& LastModified() const noexcept { return m_head.lastModified; }
    // Where a redirection points, as the server wrote it.
    const std::optional<std::string>& Location() const noexcept { return m_head.location; }
    // The answer is an HTML page (Content-Type text/html).
    bool IsPage() const noexcept { return m_head.html; }
    // Up to `size` body bytes, its chunks decoded; 0 at the end. A failure (a coding other than
    // chunks, a content coding other than identity, broken chunks, a secure stream cut before
    // its close) raises CInternetException.
    std::size_t Read(void* buffer, std::size_t size);
    // After Read answered 0: the chunks announced a body over the target's maxLength.
    bool BodyTooLarge() const noexcept { return m_chunks && m_chunks->GetState() == CChunkedBody::State::TooLarge; }

private:
    void Connect();
    // Sends and reads the head on m_pChannel.
    void Exchange();
    // The whole answer is read (or already here) and the server keeps the connection.
    bool LeavesChannelReady();
    // CONNECT through the proxy to the server; the proxy's 407 raises its own failure.
    void OpenTunnel();
    void StartTls();
    void SendAll();
    void ReadHead();
    std::size_t ReadChunks(char* buffer, std::size_t size);
    // Receives into `m_received`; false at the end of the stream.
    bool Receive();
    // What is left of the time-out and the deadline; raises once the deadline has passed.
    std::uint32_t WaitLimit() const;
    // A failure, or the stop when it came meanwhile.
    [[noreturn]] void Fail(unsigned long error, const std::string& secureText = "") const;

    HttpTarget m_target;
    std::string m_strRequest;
    CHttpConnection* m_pOwner;
    std::unique_ptr<HttpChannel> m_pChannel;
    std::chrono::steady_clock::time_point m_deadline;
    std::string m_received;  // bytes read and not yet handed out
    bool m_bEnd = false;
    HttpHead m_head;
    std::optional<CChunkedBody> m_chunks;  // when the body comes in chunks
    std::string m_decoded;                  // decoded chunk bytes not yet handed out
    std::uint64_t m_nBodyRead = 0;
};

class CHttpConnection {
public:
    explicit CHttpConnection(HttpTarget target) : m_target(std::move(target)) {}

    // A request for `path` (nothing is sent yet), with `headers` (lines ending in CR LF) added.
    // It asks the server to keep the connection: the requests that follow go on it while the
    // answers allow, for as long as this object lives.
    std::unique_ptr<CHttpFile> OpenRequest(const char* verb, const std::string& path, const char* version,
                                           const std::string& headers = "");
    // Whether the next request goes on a connection already open.
    bool HasKeptChannel() const noexcept { return m_pKept != nullptr; }
    void KeepChannel(std::unique_ptr<HttpChannel> channel) noexcept { m_pKept = std::move(channel); }
    std::unique_ptr<HttpChannel> TakeKeptChannel() noexcept { return std::move(m_pKept); }
    // The requests that follow go through `proxy` (none: straight to the server), trying the
    // address in `answered` first and keeping there the one that answers.
    void UseRoute(std::optional<ProxyEndpoint> proxy, std::shared_ptr<net::CAddressMemory> answered)
    {
        m_target.proxy = std::move(proxy);
        m_target.answered = std::move(answered);
    }

private:
    HttpTarget m_target;
    std::unique_ptr<HttpChannel> m_pKept;
};

class CInternetSession {
public:
    // `stop` (may be null) ends every request of this session when it is stopped.
    explicit CInternetSession(const char* agent, net::CStopSignal* stop = nullptr);

    // A connection whose connect, send and receive time-outs are `timeOut` milliseconds and
    // whose requests end `deadline` after they are sent, inside TLS when `secure`; raises
    // CInternetException for a server without a name.
    std::unique_ptr<CHttpConnection> GetHttpConnection(const std::string& server, unsigned short port, bool secure,
                                                       unsigned long timeOut, std::chrono::milliseconds deadline,
                                                       std::uint64_t maxLength);
    void Close() noexcept { m_bOpen = false; }

private:
    std::string m_strAgent;
    net::CStopSignal* m_pStop;
    bool m_bOpen = true;
};
