// The table of SChannel calls in use: the system's own on Windows; on the
// host, which has no SChannel, one that never has credentials, so that every
// handshake fails before anything else is called.
#include "net/tls_provider.h"

namespace {

#ifdef _WIN32
bool under_wine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

const TlsProvider& system_provider() {
    static const TlsProvider system{AcquireCredentialsHandleA,
                                    FreeCredentialsHandle,
                                    InitializeSecurityContextA,
                                    DeleteSecurityContext,
                                    ApplyControlToken,
                                    QueryContextAttributesA,
                                    FreeContextBuffer,
                                    EncryptMessage,
                                    DecryptMessage,
                                    CertGetCertificateChain,
                                    CertVerifyCertificateChainPolicy,
                                    CertFreeCertificateChain,
                                    CertFreeCertificateContext,
                                    under_wine()};
    return system;
}
#else
SECURITY_STATUS no_credentials(SEC_CHAR*, SEC_CHAR*, ULONG, void*, void*, SEC_GET_KEY_FN, void*,
                               PCredHandle, PTimeStamp) {
    return SEC_E_NO_CREDENTIALS;
}

const TlsProvider& system_provider() {
    static const TlsProvider none = [] {
        TlsProvider p{};
        p.acquire_credentials = no_credentials;
        return p;
    }();
    return none;
}
#endif

const TlsProvider* installed = nullptr;

} // namespace

const TlsProvider& tls_provider() {
    return installed ? *installed : system_provider();
}

const TlsProvider* install_tls_provider(const TlsProvider* provider) {
    const TlsProvider* previous = installed;
    installed = provider;
    return previous;
}
