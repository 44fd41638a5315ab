#include "net/CertificateCheck.h"

#include <algorithm>
#include <cstring>
#include <vector>

#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <windows.h>
#include <wincrypt.h>

#include "net/TlsRules.h"

namespace net {

namespace {

constexpr char kNotVerified[] = "No se pudo verificar el certificado del servidor: ";
// SECURITY_FLAG_IGNORE_REVOCATION of the SSL policy (a wininet header's name): revocation
// is judged from the chain, with unknown or offline information accepted.
constexpr DWORD kIgnoreRevocation = 0x80;

CertificateVerdict Refuse(TlsFailure failure, const std::string& text, HRESULT code)
{
    return {failure, text, static_cast<unsigned long>(code)};
}

CertificateVerdict Refuse(TlsFailure failure, const char* reason, HRESULT code)
{
    return Refuse(failure, std::string(kNotVerified) + reason, code);
}

// What the chain engine found, every error counted: only the absence of revocation
// information (none published, or none to be had now) is accepted, as browsers do.
CertificateVerdict ChainVerdict(DWORD status)
{
    status &= ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (status == CERT_TRUST_NO_ERROR) return {};
    if (status & CERT_TRUST_IS_REVOKED)
        return Refuse(TlsFailure::Revoked, std::string("El certificado del servidor fue revocado por quien lo emitió"),
                      CRYPT_E_REVOKED);
    if (status & CERT_TRUST_IS_NOT_TIME_VALID)
        return Refuse(TlsFailure::Expired, "está vencido o aún no es válido", CERT_E_EXPIRED);
    constexpr char kUntrusted[] = "no lo emitió una autoridad de confianza";
    if (status & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC))
        return Refuse(TlsFailure::Untrusted, kUntrusted, CERT_E_CHAINING);
    if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return Refuse(TlsFailure::Untrusted, kUntrusted, TRUST_E_CERT_SIGNATURE);
    if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_EXPLICIT_DISTRUST))
        return Refuse(TlsFailure::Untrusted, kUntrusted, CERT_E_UNTRUSTEDROOT);
    if (status & CERT_TRUST_HAS_WEAK_SIGNATURE)
        return Refuse(TlsFailure::Weak, std::string(), NTE_BAD_ALGID);
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        return Refuse(TlsFailure::Certificate, "no sirve para identificar a un servidor", CERT_E_WRONG_USAGE);
    if (status & CERT_TRUST_INVALID_BASIC_CONSTRAINTS)
        return Refuse(TlsFailure::Certificate, "lo emitió un certificado que no es de una autoridad",
                      TRUST_E_BASIC_CONSTRAINTS);
    if (status & (CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT |
                  CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT | CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT |
                  CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT))
        return Refuse(TlsFailure::Certificate, "su autoridad no puede emitirlo para ese nombre", CERT_E_INVALID_NAME);
    return Refuse(TlsFailure::Certificate, "el sistema lo rechazó", TRUST_E_FAIL);
}

// Signatures and keys of the server's certificate and the intermediates: the root's own
// signature proves nothing, its trust comes from the store.
bool HasWeakElement(const CERT_SIMPLE_CHAIN& chain)
{
    for (DWORD i = 0; i < chain.cElement; ++i) {
        const CERT_CHAIN_ELEMENT& element = *chain.rgpElement[i];
        if (element.TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED) continue;
        const CERT_INFO& info = *element.pCertContext->pCertInfo;
        if (IsWeakSignatureAlgorithm(info.SignatureAlgorithm.pszObjId ? info.SignatureAlgorithm.pszObjId : ""))
            return true;
        const char* key = info.SubjectPublicKeyInfo.Algorithm.pszObjId;
        if (key && std::strcmp(key, szOID_RSA_RSA) == 0 &&
            CertGetPublicKeyLength(X509_ASN_ENCODING, const_cast<CERT_PUBLIC_KEY_INFO*>(&info.SubjectPublicKeyInfo)) <
                kMinimumRsaBits)
            return true;
    }
    return false;
}

// An address as the server's name must stand in the certificate as an address entry.
bool CarriesAddress(PCCERT_CONTEXT certificate, const std::vector<unsigned char>& address)
{
    const CERT_INFO& info = *certificate->pCertInfo;
    const CERT_EXTENSION* names = CertFindExtension(szOID_SUBJECT_ALT_NAME2, info.cExtension, info.rgExtension);
    if (!names) return false;
    CERT_ALT_NAME_INFO* decoded = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, names->Value.pbData, names->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < decoded->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = decoded->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == address.size() &&
                std::equal(address.begin(), address.end(), entry.IPAddress.pbData);
    }
    LocalFree(decoded);
    return found;
}

} // namespace

CertificateVerdict CheckServerCertificate(const _CERT_CONTEXT* certificate, const std::string& host,
                                          std::uint32_t milliseconds)
{
    // The revocation checker stays loaded for the program's life: the chain engine would
    // otherwise load it (and what it needs) for every chain and unload it after, which costs
    // more than the rest of a handshake.
    static const HMODULE revocationChecker =
        LoadLibraryExW(L"cryptnet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    static_cast<void>(revocationChecker);
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    chainPara.dwUrlRetrievalTimeout = std::max<std::uint32_t>(milliseconds, 1);
    // Online and cached revocation information for all but the root, all fetches within
    // the one time limit together.
    const DWORD flags = CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, flags, nullptr,
                                 &chain))
        return Refuse(TlsFailure::Certificate, "el sistema no pudo examinarlo", HRESULT_FROM_WIN32(GetLastError()));

    CertificateVerdict verdict = ChainVerdict(chain->TrustStatus.dwErrorStatus);
    if (verdict.failure == TlsFailure::None && chain->cChain > 0 && HasWeakElement(*chain->rgpChain[0]))
        verdict = Refuse(TlsFailure::Weak, std::string(), NTE_BAD_ALGID);

    const std::vector<unsigned char> address = IpAddressBytes(host);
    if (verdict.failure == TlsFailure::None) {
        // The name: the system's check for a host name, the program's own for an address
        // (engines differ there). Revocation was judged above.
        std::wstring name(host.begin(), host.end());  // names are ASCII
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbStruct = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.fdwChecks = kIgnoreRevocation;
        ssl.pwszServerName = address.empty() ? name.data() : nullptr;
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        const DWORD error = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)
                                ? status.dwError
                                : static_cast<DWORD>(HRESULT_FROM_WIN32(GetLastError()));
        if (error == static_cast<DWORD>(CERT_E_CN_NO_MATCH) ||
            (!address.empty() && !CarriesAddress(certificate, address)))
            verdict = Refuse(TlsFailure::WrongName, "no corresponde al nombre del servidor", CERT_E_CN_NO_MATCH);
        else if (error != 0)
            verdict = Refuse(TlsFailure::Certificate, "el sistema lo rechazó", static_cast<HRESULT>(error));
    }
    CertFreeCertificateChain(chain);
    if (verdict.failure == TlsFailure::Weak)
        verdict.text = "El certificado del servidor usa un algoritmo inseguro (firma MD5 o SHA-1, o clave RSA de menos "
                       "de 2048 bits)";
    return verdict;
}

} // namespace net
