#include "retrieval/MessageFetcher.h"

#include <algorithm>
#include <vector>

#include "app/ErrorReport.h"
#include "app/Identity.h"
#include "app/SettingValues.h"
#include "app/Settings.h"
#include "net/Connector.h"
#include "retrieval/IcmpProbe.h"
#include "retrieval/LocalFile.h"
#include "retrieval/ProxyConfig.h"
#include "retrieval/Redirect.h"

namespace {

constexpr char kRequestPathPrefix[] = "/zandu/";
constexpr char kHttpVersion[] = "HTTP/1.0";
constexpr std::size_t kReadChunk = 1024;
constexpr std::uint32_t kTimeOutBuffer = 40;
// Each wait of a proxy script's download or of its detection.
constexpr unsigned long kProxyLookupLimit = 5000;

// Marks the cycle as running for as long as it runs, however it ends.
class CCycleScope {
public:
    explicit CCycleScope(bool& running) : m_running(running) { m_running = true; }
    ~CCycleScope() { m_running = false; }
    CCycleScope(const CCycleScope&) = delete;
    CCycleScope& operator=(const CCycleScope&) = delete;

private:
    bool& m_running;
};

} // namespace

CFetchCycle::CFetchCycle(std::shared_ptr<CMessageStore> store, std::shared_ptr<net::CStopSignal> stop,
                         std::shared_ptr<CUserProxyMemory> userProxy, unsigned short port, unsigned long timeOut,
                         std::chrono::milliseconds deadline, std::string configFile)
    : m_pStore(std::move(store)), m_pStop(std::move(stop)), m_pUserProxy(std::move(userProxy)), m_nPort(port),
      m_dwTimeOut(timeOut), m_deadline(deadline), m_strConfigFile(std::move(configFile))
{
}

bool CFetchCycle::Connect()
{
    Disconnect();
    m_pSession = MakeServerSession(m_nPort, m_dwTimeOut, m_pStop.get(), m_deadline);
    m_pConnection = m_pSession->OpenConnection();
    if (m_pConnection) m_pConnection->UseRoute(Proxy(*m_pSession->Address()), m_pAnswered);
    return m_pConnection != nullptr;
}

void CFetchCycle::Disconnect() noexcept
{
    // The connections go before their session.
    m_redirected.clear();
    m_pConnection.reset();
    if (m_pSession) m_pSession->CloseSession();
    m_pSession.reset();
}

unsigned char CFetchCycle::FetchAll()
{
    // However the cycle ends; one that failed (or raised) may have met another network, whose
    // proxy route is asked again next time.
    struct EndScope {
        CFetchCycle& cycle;
        ~EndScope()
        {
            cycle.Disconnect();
            if (cycle.m_nOutcome == OUTCOME_NO_CONNECTION) cycle.m_pUserProxy->Forget();
        }
    } end{*this};

    if (!Connect()) {
        // Already reported; without a connection no file can be had.
        m_nOutcome = OUTCOME_NO_CONNECTION;
        return 0;
    }

    if (!m_pStore->ConfigObtained()) {
        int changed = 0;
        if (FetchFile(m_strConfigFile, m_strConfigFile, changed) != FETCH_OBTAINED) {
            m_nOutcome = OUTCOME_NO_CONNECTION;
            return 0;
        }
        if (changed) m_pStore->SetConfigObtained();
    }

    struct CategoryFile {
        std::string remote;
        std::string local;
        const char* noMessagesExtension;  // written when the server does not publish it
        unsigned char bit;
    };
    std::vector<CategoryFile> files = {
        {m_pStore->m_strGeneralRemote, m_pStore->m_strGeneralLocal, nullptr, CHANGED_GENERAL},
        {m_pStore->m_strComercialRemote, m_pStore->m_strComercialLocal, nullptr, CHANGED_COMERCIAL},
    };
    // Without a kit identifier the workstation's files are not requested and count as
    // obtained and unchanged.
    std::string name;
    if (m_pStore->WorkstationFile(kOperativoExtension, name))
        files.push_back({name, name, kOperativoExtension, CHANGED_OPERATIVO});
    if (m_pStore->WorkstationFile(kAdministrativoExtension, name))
        files.push_back({name, name, kAdministrativoExtension, CHANGED_ADMINISTRATIVO});

    unsigned char mask = 0;
    bool failed = false;
    for (const CategoryFile& file : files) {
        int changed = 0;
        const int result = FetchFile(file.remote, file.local, changed);
        if (result == FETCH_FAILED) {
            failed = true;
            break;
        }
        if (result == FETCH_NOT_PUBLISHED) {
            if (file.noMessagesExtension) {
                m_pStore->DropValidators(file.local);
                m_pStore->WriteNoMessagesFile(file.noMessagesExtension);
            }
        } else if (changed) {
            mask |= file.bit;
            // Installed: announced by this cycle or, if it fails, by the next good one.
            m_pStore->KeepChanges(file.bit);
        }
    }
    Disconnect();
    if (failed) {
        m_nOutcome = OUTCOME_NO_CONNECTION;
        return mask;
    }
    mask = m_pStore->TakeKeptChanges();
    m_nOutcome = mask != 0 ? OUTCOME_NEWS : OUTCOME_NO_NEWS;
    return mask;
}

int CFetchCycle::FetchFile(const std::string& serverName, const std::string& localName, int& changed)
{
    changed = 0;
    if (!m_pConnection || !m_pSession->Address()) return FETCH_FAILED;
    try {
        // A copy this run installed is asked about with what identified it: unchanged, the
        // server answers 304 without the file.
        std::string conditions;
        const std::optional<Validators> known = m_pStore->ValidatorsOf(localName);
        if (known && !known->etag.empty()) conditions += "If-None-Match: " + known->etag + "\r\n";
        if (known && !known->lastModified.empty()) conditions += "If-Modified-Since: " + known->lastModified + "\r\n";
        // The cycle's server, then wherever its redirections lead.
        RedirectTarget at{*m_pSession->Address(), kRequestPathPrefix + serverName};
        CHttpConnection* connection = m_pConnection.get();
        std::unique_ptr<CHttpFile> request;
        unsigned long status = 0;
        for (int redirects = 0;; ++redirects) {
            request = connection->OpenRequest("GET", at.path, kHttpVersion, conditions);
            // The probe comes before each new connection; a kept one has just answered.
            std::optional<ServerAddress> redirected;
            if (connection != m_pConnection.get()) redirected = at.server;
            const auto reachable = [this, redirected] { return IsServerReachable(redirected ? &*redirected : nullptr); };
            if (!request->SendRequest(reachable)) return FETCH_FAILED;
            if (!request->QueryInfoStatusCode(status)) return FETCH_FAILED;
            if (status < 300 || status > 399 || status == 304) break;
            // A redirection that cannot be followed says nothing about the file: it fails.
            std::optional<RedirectTarget> next;
            if (IsFollowedRedirect(status) && redirects < kMaxRedirects && request->Location())
                next = ResolveRedirect(*request->Location(), at.server);
            if (!next) throw CInternetException(kInternetRedirectFailed);
            at = std::move(*next);
            // The connection gets its channel back before the next request may take it.
            request.reset();
            connection = &ConnectionTo(at.server);
        }
        if (status == 304) {
            // "Not modified" stands only for a copy that was asked about and is still here.
            if (!known || !m_pStore->ValidatorsOf(localName)) throw CInternetException(kInternetInvalidResponse);
            return FETCH_OBTAINED;
        }
        if (status >= 400 && status <= 499) return FETCH_NOT_PUBLISHED;
        if (status >= 500 && status <= 599) return FETCH_FAILED;
        // A portal's page stands for every file while the network is not really there: no
        // connection, silently, and the copy stays.
        if (status >= 200 && status <= 299 && request->IsPage()) return FETCH_FAILED;

        // A file larger than any message file (however large the number announced) fails like
        // a broken download, silently: the local copy stays and memory stays bounded.
        if (const auto announced = request->ContentLength(); announced && *announced > kMaxDownload)
            return FETCH_FAILED;
        CLocalFile download;
        if (!download.OpenWrite(kDownloadFile)) throw CCodeException(ERR_FILE_OPEN);
        char chunk[kReadChunk];
        std::uint64_t received = 0;
        while (const std::size_t got = request->Read(chunk, sizeof chunk)) {
            received += got;
            if (received > kMaxDownload) return FETCH_FAILED;
            download.Write(chunk, got);
        }
        if (request->BodyTooLarge()) return FETCH_FAILED;
        download.Close();
        // A connection that ends before the announced length is a broken download, not the
        // file: the local copy must not be replaced by its first part.
        if (const auto announced = request->ContentLength(); announced && *announced != received)
            throw CInternetException(kInternetConnectionAborted);

        // Whatever the installation does, the old copy's validators no longer describe it.
        m_pStore->DropValidators(localName);
        if (m_pStore->Install(kDownloadFile, localName) == 0) changed = 1;
        m_pStore->KeepValidators(localName, {request->ETag(), request->LastModified()});
        return FETCH_OBTAINED;
    } catch (const CInternetException& e) {
        // A stopped cycle ends quietly: the program is closing.
        if (!IsStopped()) ReportErrorText(nullptr, e.ErrorNumberText());
        return FETCH_FAILED;
    } catch (const CCodeException& e) {
        ReportErrorCode(nullptr, e.Code());
        return FETCH_FAILED;
    }
}

CHttpConnection& CFetchCycle::ConnectionTo(const ServerAddress& server)
{
    if (*m_pSession->Address() == server) return *m_pConnection;
    for (const auto& [address, connection] : m_redirected)
        if (address == server) return *connection;
    auto connection = m_pSession->ConnectionTo(server);
    // The cycle's route holds for wherever the server sends it.
    connection->UseRoute(Proxy(server), m_pAnswered);
    return *m_redirected.emplace_back(server, std::move(connection)).second;
}

const std::optional<ProxyEndpoint>& CFetchCycle::Proxy(const ServerAddress& server)
{
    if (!m_bProxyKnown) {
        m_proxy = ProxyFor(server, std::min(m_dwTimeOut, kProxyLookupLimit), *m_pUserProxy);
        m_bProxyKnown = true;
    }
    return m_proxy;
}

bool CFetchCycle::IsServerReachable(const ServerAddress* target)
{
    // The cycle's server; outside a cycle, RemoteHost as it reads now.
    std::unique_ptr<CServerSession> own;
    if (!target && !m_pSession) own = MakeServerSession(m_nPort, m_dwTimeOut);
    const CServerSession* session = m_pSession ? m_pSession.get() : own.get();
    const long wait = CMessageFetcher::ReadProbeWait();
    if (IsStopped()) return false;
    // The host alone: a RemoteHost that names no server has nothing to probe.
    if (!target && !session->Address()) return false;
    const ServerAddress& server = target ? *target : *session->Address();
    // A connection within the wait, however many addresses it tries; the one that answers is
    // the download's first.
    const auto connects = [this, wait](const std::vector<net::Address>& addresses) {
        const long limit = std::max(wait, 0L);
        net::CSocket socket;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
        const auto attempt = static_cast<std::uint32_t>(limit);
        const int answered = net::ConnectEach(socket, addresses, attempt, until, m_pStop.get());
        if (answered >= 0) m_pAnswered->Remember(addresses[static_cast<std::size_t>(answered)]);
        return answered >= 0;
    };
    // Through a proxy the proxy is what must answer; the server may be out of reach of echoes.
    if (const auto& proxy = Proxy(server))
        return connects(m_pAnswered->Ordered(net::ResolveAll(proxy->host.c_str(), proxy->port)));
    const auto addresses = m_pAnswered->Ordered(net::ResolveAll(server.host.c_str(), server.port));
    if (addresses.empty()) return false;
    // The echo goes to the address the connection tries first.
    int detail = 0;
    if (PingAddress(addresses.front(), wait, detail, m_pStop.get()) == PINGO_OK) return true;
    // A server that drops echoes still answers on the download's port, within the same time.
    return !IsStopped() && connects(addresses);
}

CMessageFetcher::CMessageFetcher() : CMessageFetcher(kServerPort, kServerTimeOut, &GetKitId) {}

CMessageFetcher::CMessageFetcher(unsigned short port, unsigned long timeOut, CMessageFiles::KitIdSource kitIdSource)
    : m_pStore(std::make_shared<CMessageStore>(std::move(kitIdSource))), m_nPort(port), m_dwTimeOut(timeOut)
{
    // Copies left by an earlier run; one that cannot be deleted now is left alone.
    RemoveIfReadable(m_pStore->m_strComercialLocal);
    RemoveIfReadable(m_pStore->m_strGeneralLocal);
    RemoveIfReadable(m_strConfigFile);
}

CMessageFetcher::~CMessageFetcher()
{
    // A worker that is still running can change nothing any more.
    m_pStore->Close();
    const std::lock_guard lock(m_pStore->Lock());
    std::string name;
    if (m_pStore->WorkstationFile(kOperativoExtension, name)) RemoveIfReadable(name);
    if (m_pStore->WorkstationFile(kAdministrativoExtension, name)) RemoveIfReadable(name);
    RemoveIfReadable(m_pStore->m_strComercialLocal);
    RemoveIfReadable(m_pStore->m_strGeneralLocal);
    RemoveIfReadable(m_strConfigFile);
}

std::unique_ptr<CFetchCycle> CMessageFetcher::NewCycle() const
{
    return std::make_unique<CFetchCycle>(m_pStore, m_pStop, m_pUserProxy, m_nPort, m_dwTimeOut, m_deadline,
                                         m_strConfigFile);
}

unsigned char CMessageFetcher::FetchAll()
{
    if (m_bCycleRunning) return 0;
    const CCycleScope running(m_bCycleRunning);
    const std::unique_ptr<CFetchCycle> cycle = NewCycle();
    // The outcome stays as it was when the cycle leaves by an exception.
    const unsigned char mask = cycle->FetchAll();
    m_nOutcome = cycle->Outcome();
    return mask;
}

long CMessageFetcher::ReadProbeWait()
{
    return std::min(ParseLenientLong(ReadSetting("TimeOut", kTimeOutBuffer)), kMaxProbeWait);
}
