// The SChannel and certificate-chain calls the TLS session makes, gathered in
// one table: the Windows build fills it with the system's own functions; on
// the host a table that has no credentials stands in (so https fails there
// cleanly) until a test installs a provider of its own that answers as the
// system does.
#pragma once

#include "core/win32.h"

#ifdef _WIN32
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <subauth.h>
#include <wincrypt.h>

#include <schannel.h>
#include <security.h>
#else
#include "platform/sspi_posix.h"
#endif

struct TlsProvider {
    decltype(&AcquireCredentialsHandleA) acquire_credentials;
    decltype(&FreeCredentialsHandle) free_credentials;
    decltype(&InitializeSecurityContextA) initialize_context;
    decltype(&DeleteSecurityContext) delete_context;
    decltype(&ApplyControlToken) apply_control_token;
    decltype(&QueryContextAttributesA) query_attributes;
    decltype(&FreeContextBuffer) free_context_buffer;
    decltype(&EncryptMessage) encrypt;
    decltype(&DecryptMessage) decrypt;
    decltype(&CertGetCertificateChain) get_chain;
    decltype(&CertVerifyCertificateChainPolicy) verify_chain_policy;
    decltype(&CertFreeCertificateChain) free_chain;
    decltype(&CertFreeCertificateContext) free_certificate;
    // Wine's SChannel reports the server's closing alert as a record that
    // holds no data rather than as SEC_I_CONTEXT_EXPIRED.
    bool closing_alert_as_empty_record;
};

// The table in use: the system's, unless one was installed.
const TlsProvider& tls_provider();
// Installs a table (null: back to the system's) and returns the one it
// replaces; sessions take the table in use when they open.
const TlsProvider* install_tls_provider(const TlsProvider* provider);
