#include "retrieval/Internet.h"

#include <algorithm>

#include "app/ErrorText.h"
#include "app/NetworkErrorText.h"
#include "net/Connector.h"
#include "retrieval/ServerAddress.h"

namespace {

constexpr std::size_t kMaxErrorText = 99;
constexpr std::size_t kReceiveChunk = 4096;

// Spanish, as the rest of the program; a number without a text of its own gets the text of
// an undocumented error, never the system's (which may be in another language).
std::string InternetErrorText(unsigned long error)
{
    std::string text =
        error == kInternetRedirectFailed ? "No se pudo seguir la redirección del servidor" : NetworkErrorText(error);
    if (text.empty()) text = CErrorText().Text(0);
    if (text.size() > kMaxErrorText) text.resize(kMaxErrorText);
    return text;
}

} // namespace

CInternetException::CInternetException(unsigned long error) : m_dwError(error), m_strText(InternetErrorText(error)) {}

CInternetException::CInternetException(unsigned long error, std::string text)
    : m_dwError(error), m_strText(std::move(text)), m_bNumbered(true)
{
}

std::string CInternetException::ErrorNumberText() const
{
    return m_bNumbered ? m_strText : NumberedErrorText(m_dwError, m_strText);
}

CHttpFile::CHttpFile(const HttpTarget& target, std::string requestText, CHttpConnection* owner)
    : m_target(target), m_strRequest(std::move(requestText)), m_pOwner(owner)
{
}

CHttpFile::~CHttpFile()
{
    if (m_pOwner && m_pChannel && LeavesChannelReady()) m_pOwner->KeepChannel(std::move(m_pChannel));
}

bool CHttpFile::LeavesChannelReady()
{
    if (m_head.state != HeadState::Complete || !m_head.persistent || m_bEnd) return false;
    if (m_target.stop && m_target.stop->IsStopped()) return false;
    // What is left of a framed body may be here already (a short page, an unread answer):
    // past it, the connection is at the next answer's start. Nothing more may follow it.
    if (m_chunks) {
        std::string rest;
        m_received.erase(0, m_chunks->Decode(m_received, rest));
        return m_chunks->GetState() == CChunkedBody::State::Ended && m_received.empty();
    }
    if (!m_head.length) return false;
    return m_received.size() == *m_head.length - m_nBodyRead;
}

void CHttpFile::Fail(unsigned long error, const std::string& secureText) const
{
    // A stopped socket reports a reset or an end; the cause is the stop.
    if (m_target.stop && m_target.stop->IsStopped()) throw CInternetException(kInternetCancelled);
    if (!secureText.empty()) throw CInternetException(error, secureText);
    throw CInternetException(error);
}

std::uint32_t CHttpFile::WaitLimit() const
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) Fail(kInternetTimeout);
    return static_cast<std::uint32_t>(std::min<long long>(left.count(), m_target.timeOut));
}

void CHttpFile::Connect()
{
    // Through a proxy the connection goes to the proxy; every address is tried in turn. The
    // name lookup is the one wait that nothing can end early.
    const std::string& host = m_target.proxy ? m_target.proxy->host : m_target.host;
    const unsigned short port = m_target.proxy ? m_target.proxy->port : m_target.port;
    std::vector<net::Address> addresses = net::ResolveAll(host.c_str(), port);
    if (addresses.empty()) Fail(kInternetNameNotResolved);
    if (m_target.answered) addresses = m_target.answered->Ordered(std::move(addresses));
    // Each attempt within the time-out, all of them within the deadline (already passed: raises).
    WaitLimit();
    const auto limit = static_cast<std::uint32_t>(m_target.timeOut);
    m_pChannel = std::make_unique<HttpChannel>();
    net::CSocket& socket = m_pChannel->socket;
    const int answered = net::ConnectEach(socket, addresses, limit, m_deadline, m_target.stop);
    if (answered < 0) Fail(net::IsTimedOut(net::LastSocketError()) ? kInternetTimeout : kInternetCannotConnect);
    if (m_target.answered) m_target.answered->Remember(addresses[static_cast<std::size_t>(answered)]);
    m_pChannel->stopScope = std::make_unique<net::CStopScope>(m_target.stop, socket);
    if (!m_pChannel->stopScope->IsRegistered()) Fail(kInternetCancelled);
    // The blocking send is bounded by the time-out; the receives wait first.
    if (!socket.SetTimeOuts(static_cast<std::uint32_t>(m_target.timeOut))) Fail(kInternetCannotConnect);
    if (!m_target.secure) return;
    if (m_target.proxy) OpenTunnel();
    StartTls();
}

void CHttpFile::OpenTunnel()
{
    const std::string authority = UrlHost(m_target.host) + ":" + std::to_string(m_target.port);
    const std::string request = "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority +
                                "\r\nUser-Agent: " + m_target.agent + "\r\n\r\n";
    if (!m_pChannel->socket.Send(request.data(), request.size())) Fail(kInternetCannotConnect);
    ReadHead();
    // The proxy's answer ends the tunnel's head: what follows is the server's TLS.
    if (m_head.status == kProxyAuthenticationRequired) throw CInternetException(kProxyAuthenticationRequired);
    if (!m_head.status || *m_head.status < 200 || *m_head.status > 299 || !m_received.empty())
        Fail(kInternetCannotConnect);
    m_head = HttpHead{};
    m_chunks.reset();
}

void CHttpFile::StartTls()
{
    auto& tls = m_pChannel->tls;
    tls = std::make_unique<net::CTlsStream>(m_pChannel->socket, static_cast<std::uint32_t>(m_target.timeOut));
    tls->SetDeadline(m_deadline);
    if (tls->Handshake(m_target.host)) return;
    // A silent server times out as it would without TLS; any other failure tells its cause.
    const unsigned long code = tls->FailureCode();
    if (net::IsTimedOut(static_cast<int>(code))) Fail(kInternetTimeout);
    Fail(code, tls->FailureText());
}

void CHttpFile::SendAll()
{
    const auto& tls = m_pChannel->tls;
    const bool sent = tls ? tls->Send(m_strRequest.data(), m_strRequest.size())
                          : m_pChannel->socket.Send(m_strRequest.data(), m_strRequest.size());
    if (!sent) {
        const bool timedOut = net::IsTimedOut(net::LastSocketError()) || net::IsWouldBlock(net::LastSocketError());
        Fail(timedOut ? kInternetTimeout : kInternetConnectionAborted);
    }
}

bool CHttpFile::Receive()
{
    bool readable = false;
    const std::uint32_t limit = WaitLimit();
    const auto& tls = m_pChannel->tls;
    net::CSocket& socket = m_pChannel->socket;
    if (!(tls ? tls->WaitReadable(limit, readable) : socket.WaitReadable(limit, readable)))
        Fail(kInternetConnectionAborted);
    if (!readable) Fail(kInternetTimeout);
    char chunk[kReceiveChunk];
    const int n = tls ? tls->Receive(chunk, sizeof chunk) : socket.Receive(chunk, sizeof chunk);
    // Inside TLS a record that stops half-way times out in the receive itself.
    if (n < 0) Fail(net::IsTimedOut(net::LastSocketError()) ? kInternetTimeout : kInternetConnectionAborted);
    // A stop ends the stream too: what came so far is no whole answer.
    if (m_target.stop && m_target.stop->IsStopped()) Fail(kInternetCancelled);
    if (n == 0) return false;
    m_received.append(chunk, static_cast<std::size_t>(n));
    return true;
}

void CHttpFile::ReadHead()
{
    for (;;) {
        const HttpHead head = ParseHttpHead(m_received, m_target.maxLength);
        if (head.state == HeadState::Invalid) Fail(kInternetInvalidResponse);
        if (head.state == HeadState::Complete) {
            m_head = head;
            m_received.erase(0, head.size);
            // These answers have no body, whatever their head says.
            if (head.status == 204u || head.status == 304u) {
                m_head.length = 0;
                m_head.transfer = TransferCoding::None;
            } else if (head.transfer == TransferCoding::Chunked) {
                // The chunks frame the body, whatever length was announced beside them.
                m_head.length.reset();
                m_chunks.emplace(m_target.maxLength);
            }
            return;
        }
        if (!Receive()) Fail(m_received.empty() ? kInternetConnectionAborted : kInternetInvalidResponse);
    }
}

bool CHttpFile::SendRequest(const std::function<bool()>& reachable)
{
    m_deadline = std::chrono::steady_clock::now() + m_target.deadline;
    if (m_pOwner) m_pChannel = m_pOwner->TakeKeptChannel();
    if (m_pChannel) {
        // An idle connection with something to read was closed by the server (or broken by it).
        bool readable = false;
        const auto& tls = m_pChannel->tls;
        if (!(tls ? tls->WaitReadable(0, readable) : m_pChannel->socket.WaitReadable(0, readable)) || readable)
            m_pChannel.reset();
    }
    if (m_pChannel) {
        if (m_pChannel->tls) m_pChannel->tls->SetDeadline(m_deadline);
        try {
            Exchange();
            return true;
        } catch (const CInternetException& e) {
            // Closed by the server before any byte of its answer: once more, on a new connection.
            const bool stopped = m_target.stop && m_target.stop->IsStopped();
            if (stopped || e.ErrorNumber() != kInternetConnectionAborted || !m_received.empty()) throw;
        }
        m_pChannel.reset();
    }
    if (reachable && !reachable()) return false;
    Connect();
    Exchange();
    return true;
}

void CHttpFile::Exchange()
{
    SendAll();
    ReadHead();
    // A proxy that wants credentials is no answer of the server's.
    if (m_target.proxy && m_head.status == kProxyAuthenticationRequired)
        throw CInternetException(kProxyAuthenticationRequired);
}

bool CHttpFile::QueryInfoStatusCode(unsigned long& status)
{
    if (!m_head.status) return false;
    status = *m_head.status;
    return true;
}

std::optional<std::uint64_t> CHttpFile::ContentLength()
{
    return m_head.length;
}

std::size_t CHttpFile::ReadChunks(char* buffer, std::size_t size)
{
    while (m_decoded.empty()) {
        m_received.erase(0, m_chunks->Decode(m_received, m_decoded));
        if (!m_decoded.empty()) break;
        switch (m_chunks->GetState()) {
        case CChunkedBody::State::Reading:
            // An end before the last chunk cuts the body.
            if (!Receive()) Fail(kInternetConnectionAborted);
            break;
        case CChunkedBody::State::Invalid:
            Fail(kInternetInvalidResponse);
        default:
            return 0;  // the end, or too large (BodyTooLarge tells)
        }
    }
    const std::size_t n = std::min(size, m_decoded.size());
    std::copy_n(m_decoded.data(), n, buffer);
    m_decoded.erase(0, n);
    return n;
}

std::size_t CHttpFile::Read(void* buffer, std::size_t size)
{
    if (size == 0) return 0;
    // Only the file's own bytes are installed: a body coded in a way not read here fails.
    if (m_head.transfer == TransferCoding::Other || m_head.encoded) Fail(kInternetInvalidResponse);
    if (m_chunks) return ReadChunks(static_cast<char*>(buffer), size);
    // The announced length is the whole body, whatever else the server sends.
    const std::optional<std::uint64_t>& length = m_head.length;
    if (length && m_nBodyRead >= *length) return 0;
    if (m_received.empty() && !m_bEnd && !Receive()) m_bEnd = true;
    std::size_t n = std::min(size, m_received.size());
    if (length) n = static_cast<std::size_t>(std::min<std::uint64_t>(n, *length - m_nBodyRead));
    std::copy_n(m_received.data(), n, static_cast<char*>(buffer));
    m_received.erase(0, n);
    m_nBodyRead += n;
    return n;
}

std::unique_ptr<CHttpFile> CHttpConnection::OpenRequest(const char* verb, const std::string& path,
                                                        const char* version, const std::string& headers)
{
    // Never taken from a cache on the way, never coded: the server's own bytes are what counts.
    // A proxy gets the absolute form of a plain request; a secure one goes through its tunnel.
    std::string host = UrlHost(m_target.host);
    if (m_target.port != (m_target.secure ? 443 : 80)) host += ":" + std::to_string(m_target.port);
    const std::string target = m_target.proxy && !m_target.secure ? "http://" + host + path : path;
    std::string text = std::string(verb) + " " + target + " " + version + "\r\nHost: " + host +
                       "\r\nUser-Agent: " + m_target.agent +
                       "\r\nAccept-Encoding: identity\r\nConnection: keep-alive\r\nPragma: no-cache"
                       "\r\nCache-Control: no-cache\r\n" +
                       headers + "\r\n";
    return std::make_unique<CHttpFile>(m_target, std::move(text), this);
}

CInternetSession::CInternetSession(const char* agent, net::CStopSignal* stop) : m_strAgent(agent), m_pStop(stop) {}

std::unique_ptr<CHttpConnection> CInternetSession::GetHttpConnection(const std::string& server, unsigned short port,
                                                                     bool secure, unsigned long timeOut,
                                                                     std::chrono::milliseconds deadline,
                                                                     std::uint64_t maxLength)
{
    if (!m_bOpen) throw CInternetException(kInternetIncorrectHandleState);
    if (server.empty()) throw CInternetException(kInternetInvalidUrl);
    return std::make_unique<CHttpConnection>(
        HttpTarget{server, port, secure, m_strAgent, timeOut, deadline, maxLength, m_pStop, std::nullopt, nullptr});
}
