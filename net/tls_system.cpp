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

// A plain table, not a local static: this program is single-threaded and
// needs no guarded initialisation (nor the runtime code it brings).
TlsProvider system{AcquireCredentialsHandleA,
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
                   false};
bool system_known = false;

const TlsProvider& system_provider() {
    if (!system_known) {
        system.closing_alert_as_empty_record = under_wine();
        system_known = true;
    }
    return system;
}
#else
SECURITY_STATUS no_credentials(SEC_CHAR*, SEC_CHAR*, ULONG, void*, void*, SEC_GET_KEY_FN, void*,
                               PCredHandle, PTimeStamp) {
    return SEC_E_NO_CREDENTIALS;
}

TlsProvider no_provider() {
    TlsProvider none{};
    none.acquire_credentials = no_credentials;
    return none;
}
TlsProvider none = no_provider();

const TlsProvider& system_provider() {
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
