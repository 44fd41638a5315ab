#include "net/TlsCredentials.h"

#include <mutex>

#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>

namespace net {

namespace {

constexpr DWORD kOldProtocols =
    SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
// The system picks ciphers; the certificate is checked by the program, always.
constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;

SECURITY_STATUS Acquire(void* settings, CredHandle& handle)
{
    TimeStamp expiry{};
    return AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                     settings, nullptr, nullptr, &handle, &expiry);
}

// The newer structure (TLS 1.3 where the system has it) when the system keeps its limits: the
// handle itself must say that nothing older than TLS 1.2 is allowed. Else the older one,
// limited to TLS 1.2, which every system honours.
SECURITY_STATUS AcquireLimited(CredHandle& handle)
{
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = kOldProtocols;
    SCH_CREDENTIALS modern{};
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = kCredentialFlags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &parameters;
    if (Acquire(&modern, handle) == SEC_E_OK) {
        SecPkgCred_SupportedProtocols allowed{};
        if (QueryCredentialsAttributesW(&handle, SECPKG_ATTR_SUPPORTED_PROTOCOLS, &allowed) == SEC_E_OK &&
            allowed.grbitProtocol != 0 && (allowed.grbitProtocol & kOldProtocols) == 0)
            return SEC_E_OK;
        FreeCredentialsHandle(&handle);
    }
    SCHANNEL_CRED older{};
    older.dwVersion = SCHANNEL_CRED_VERSION;
    older.dwFlags = kCredentialFlags;
    older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    return Acquire(&older, handle);
}

// One credentials handle for every session of the program and every thread, made on first
// use and released when the program ends.
class CSharedCredentials {
public:
    ~CSharedCredentials()
    {
        if (m_bHave) FreeCredentialsHandle(&m_handle);
    }
    SECURITY_STATUS Get(CredHandle& handle)
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        if (!m_bHave) {
            const SECURITY_STATUS status = AcquireLimited(m_handle);
            if (status != SEC_E_OK) return status;  // tried again by the next session
            m_bHave = true;
        }
        handle = m_handle;
        return SEC_E_OK;
    }

private:
    std::mutex m_lock;
    CredHandle m_handle{};
    bool m_bHave = false;
};

CSharedCredentials g_credentials;

} // namespace

long AcquireSharedCredentials(_SecHandle& handle)
{
    return g_credentials.Get(handle);
}

} // namespace net
