#include "retrieval/MessageFetcher.h"

#include <algorithm>
#include <vector>

#include "app/ErrorReport.h"
#include "app/Identity.h"
#include "app/SettingValues.h"
#include "app/Settings.h"
#include "retrieval/IcmpProbe.h"
#include "retrieval/LocalFile.h"

namespace {

constexpr char kRequestPathPrefix[] = "/zandu/";
constexpr char kHttpVersion[] = "HTTP/1.0";
constexpr unsigned long kRequestContext = 1;
// The response is never kept in the system's cache nor taken from it (another program may
// have cached the same address), and a redirection is not followed: a 3xx answer means the
// file is not published, as any other status from 300 to 499.
constexpr unsigned long kRequestFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;
constexpr std::size_t kReadChunk = 1024;
constexpr std::uint32_t kTimeOutBuffer = 40;

// Marks the cycle as running and, however it ends, deletes its connection before its session.
class CCycleScope {
public:
    CCycleScope(bool& running, std::unique_ptr<CHttpConnection>& connection,
                std::unique_ptr<CServerSession>& session)
        : m_running(running), m_connection(connection), m_session(session)
    {
        m_running = true;
    }
    ~CCycleScope()
    {
        m_connection.reset();
        m_session.reset();
        m_running = false;
    }
    CCycleScope(const CCycleScope&) = delete;
    CCycleScope& operator=(const CCycleScope&) = delete;

private:
    bool& m_running;
    std::unique_ptr<CHttpConnection>& m_connection;
    std::unique_ptr<CServerSession>& m_session;
};

} // namespace

CMessageFetcher::CMessageFetcher() : CMessageFetcher(kServerPort, kServerTimeOut, &GetKitId) {}

CMessageFetcher::CMessageFetcher(unsigned short port, unsigned long timeOut, KitIdSource kitIdSource)
    : CMessageFiles(std::move(kitIdSource)), m_nPort(port), m_dwTimeOut(timeOut),
      m_hStop(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    // Copies left by an earlier run; one that cannot be deleted now is left alone.
    RemoveIfReadable(m_strComercialLocal);
    RemoveIfReadable(m_strGeneralLocal);
    RemoveIfReadable(m_strConfigFile);
}

CMessageFetcher::~CMessageFetcher()
{
    std::string name;
    if (WorkstationFile(kOperativoExtension, name)) RemoveIfReadable(name);
    if (WorkstationFile(kAdministrativoExtension, name)) RemoveIfReadable(name);
    RemoveIfReadable(m_strComercialLocal);
    RemoveIfReadable(m_strGeneralLocal);
    RemoveIfReadable(m_strConfigFile);
}

unsigned char CMessageFetcher::FetchAll()
{
    if (m_bCycleRunning) return 0;
    std::unique_ptr<CServerSession> session;
    const CCycleScope cycle(m_bCycleRunning, m_pConnection, session);

    session = MakeServerSession(m_nPort, m_dwTimeOut, m_hStop.get(), m_deadline);
    m_pConnection = session->OpenConnection();
    if (!m_pConnection) {
        // Already reported; without a connection no file can be had.
        m_nOutcome = OUTCOME_NO_CONNECTION;
        return 0;
    }

    if (!m_bConfigObtained) {
        if (FetchFile(m_strConfigFile, m_strConfigFile, m_bConfigObtained) != FETCH_OBTAINED) {
            m_nOutcome = OUTCOME_NO_CONNECTION;
            return 0;
        }
    }

    struct CategoryFile {
        std::string remote;
        std::string local;
        const char* noMessagesExtension;  // written when the server does not publish it
        unsigned char bit;
    };
    std::vector<CategoryFile> files = {
        {m_strGeneralRemote, m_strGeneralLocal, nullptr, CHANGED_GENERAL},
        {m_strComercialRemote, m_strComercialLocal, nullptr, CHANGED_COMERCIAL},
    };
    // Without a kit identifier the workstation's files are not requested and count as
    // obtained and unchanged.
    std::string name;
    if (WorkstationFile(kOperativoExtension, name))
        files.push_back({name, name, kOperativoExtension, CHANGED_OPERATIVO});
    if (WorkstationFile(kAdministrativoExtension, name))
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
            if (file.noMessagesExtension) WriteNoMessagesFile(file.noMessagesExtension);
        } else if (changed) {
            mask |= file.bit;
            // Installed: announced by this cycle or, if it fails, by the next good one.
            m_nKeptMask |= file.bit;
        }
    }
    m_pConnection.reset();
    session->CloseSession();
    if (failed) {
        m_nOutcome = OUTCOME_NO_CONNECTION;
        return mask;
    }
    mask = m_nKeptMask;
    m_nKeptMask = 0;
    m_nOutcome = mask != 0 ? OUTCOME_NEWS : OUTCOME_NO_NEWS;
    return mask;
}

int CMessageFetcher::FetchFile(const std::string& serverName, const std::string& localName, int& changed)
{
    changed = 0;
    if (!m_pConnection) return FETCH_FAILED;
    const std::string path = kRequestPathPrefix + serverName;
    try {
        const std::unique_ptr<CHttpFile> request =
            m_pConnection->OpenRequest("GET", path, kRequestContext, kHttpVersion, kRequestFlags);
        if (!IsServerReachable()) return FETCH_FAILED;
        if (!request->SendRequest()) return FETCH_FAILED;
        unsigned long status = 0;
        if (!request->QueryInfoStatusCode(status)) return FETCH_FAILED;
        if (status >= 300 && status <= 499) return FETCH_NOT_PUBLISHED;
        if (status >= 500 && status <= 599) return FETCH_FAILED;

        // A file larger than any message file fails like a broken download, silently: the
        // local copy stays and memory stays bounded.
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
        download.Close();
        // A connection that ends before the announced length is a broken download, not the
        // file: the local copy must not be replaced by its first part.
        if (const auto announced = request->ContentLength(); announced && *announced != received)
            throw CInternetException(ERROR_INTERNET_CONNECTION_ABORTED);

        const std::lock_guard lock(m_filesLock);
        if (InstallDownload(kDownloadFile, localName) == 0) changed = 1;
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

void CMessageFetcher::Stop() noexcept
{
    if (m_hStop) SetEvent(m_hStop.get());
}

void CMessageFetcher::ClearStop() noexcept
{
    if (m_hStop) ResetEvent(m_hStop.get());
}

bool CMessageFetcher::IsStopped() const noexcept
{
    return m_hStop && WaitForSingleObject(m_hStop.get(), 0) == WAIT_OBJECT_0;
}

bool CMessageFetcher::IsServerReachable()
{
    const std::unique_ptr<CServerSession> session = MakeServerSession(m_nPort, m_dwTimeOut);
    const long wait = std::min(ReadProbeWait(), kMaxProbeWait);
    if (IsStopped()) return false;
    int detail = 0;
    return PingHost(session->m_strHost.c_str(), wait, detail) == PINGO_OK;
}

long CMessageFetcher::ReadProbeWait()
{
    return ParseLenientLong(ReadSetting("TimeOut", kTimeOutBuffer));
}
