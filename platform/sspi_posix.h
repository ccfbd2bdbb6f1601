// Host build only: the SSPI, SChannel and certificate-chain declarations the
// TLS session uses, with Windows' names and values. The host has no SChannel:
// these calls are never linked, only named, so that the table of functions
// the session calls through (net/tls_provider.h) has the system's types.
// Whoever fills that table on the host (the tests' scripted provider)
// answers as the system does.
#pragma once

#include <cstdint>

#include "platform/win32_posix.h"

using ULONG = uint32_t;
using ULONG_PTR = uintptr_t;
using SECURITY_STATUS = LONG;
using SEC_CHAR = char;
using WCHAR = wchar_t;

struct SecHandle {
    ULONG_PTR dwLower;
    ULONG_PTR dwUpper;
};
using CredHandle = SecHandle;
using CtxtHandle = SecHandle;
using PCredHandle = CredHandle*;
using PCtxtHandle = CtxtHandle*;
struct TimeStamp {
    DWORD LowPart;
    LONG HighPart;
};
using PTimeStamp = TimeStamp*;
using SEC_GET_KEY_FN = void (*)(void*, void*, ULONG, void**, SECURITY_STATUS*);

struct SecBuffer {
    ULONG cbBuffer;
    ULONG BufferType;
    void* pvBuffer;
};
struct SecBufferDesc {
    ULONG ulVersion;
    ULONG cBuffers;
    SecBuffer* pBuffers;
};
using PSecBufferDesc = SecBufferDesc*;

constexpr SECURITY_STATUS SEC_E_OK = 0;
constexpr SECURITY_STATUS SEC_I_CONTINUE_NEEDED = 0x00090312;
constexpr SECURITY_STATUS SEC_I_CONTEXT_EXPIRED = 0x00090317;
constexpr SECURITY_STATUS SEC_I_RENEGOTIATE = 0x00090321;
constexpr SECURITY_STATUS SEC_E_INTERNAL_ERROR = SECURITY_STATUS(0x80090304);
constexpr SECURITY_STATUS SEC_E_UNKNOWN_CREDENTIALS = SECURITY_STATUS(0x8009030D);
constexpr SECURITY_STATUS SEC_E_NO_CREDENTIALS = SECURITY_STATUS(0x8009030E);
constexpr SECURITY_STATUS SEC_E_INCOMPLETE_MESSAGE = SECURITY_STATUS(0x80090318);
constexpr SECURITY_STATUS SEC_E_DECRYPT_FAILURE = SECURITY_STATUS(0x80090330);

constexpr ULONG SECBUFFER_VERSION = 0;
constexpr ULONG SECBUFFER_EMPTY = 0;
constexpr ULONG SECBUFFER_DATA = 1;
constexpr ULONG SECBUFFER_TOKEN = 2;
constexpr ULONG SECBUFFER_MISSING = 4;
constexpr ULONG SECBUFFER_EXTRA = 5;
constexpr ULONG SECBUFFER_STREAM_TRAILER = 6;
constexpr ULONG SECBUFFER_STREAM_HEADER = 7;

constexpr ULONG ISC_REQ_REPLAY_DETECT = 0x4;
constexpr ULONG ISC_REQ_SEQUENCE_DETECT = 0x8;
constexpr ULONG ISC_REQ_CONFIDENTIALITY = 0x10;
constexpr ULONG ISC_REQ_ALLOCATE_MEMORY = 0x100;
constexpr ULONG ISC_REQ_STREAM = 0x8000;
constexpr ULONG SECPKG_CRED_OUTBOUND = 2;
constexpr ULONG SECPKG_ATTR_STREAM_SIZES = 4;
constexpr ULONG SECPKG_ATTR_REMOTE_CERT_CONTEXT = 0x53;
constexpr ULONG SECPKG_ATTR_CONNECTION_INFO = 0x5a;

#define UNISP_NAME_A "Microsoft Unified Security Protocol Provider"
constexpr DWORD SCHANNEL_CRED_VERSION = 4;
constexpr DWORD SCH_CREDENTIALS_VERSION = 5;
constexpr DWORD SCHANNEL_SHUTDOWN = 1;
constexpr DWORD SCH_CRED_MANUAL_CRED_VALIDATION = 0x8;
constexpr DWORD SCH_CRED_NO_DEFAULT_CREDS = 0x10;
constexpr DWORD SCH_USE_STRONG_CRYPTO = 0x00400000;
constexpr DWORD SP_PROT_TLS1_0_CLIENT = 0x80;
constexpr DWORD SP_PROT_TLS1_1_CLIENT = 0x200;
constexpr DWORD SP_PROT_TLS1_2_CLIENT = 0x800;
constexpr DWORD SP_PROT_TLS1_3_CLIENT = 0x2000;
constexpr DWORD SP_PROT_TLS1_2 = 0xC00;
constexpr DWORD SP_PROT_TLS1_3 = 0x3000;

// Every member, in Windows' order; the certificate, store, mapper and
// algorithm lists as plain pointers.
struct SCHANNEL_CRED {
    DWORD dwVersion;
    DWORD cCreds;
    const void** paCred;
    void* hRootStore;
    DWORD cMappers;
    void** aphMappers;
    DWORD cSupportedAlgs;
    unsigned* palgSupportedAlgs;
    DWORD grbitEnabledProtocols;
    DWORD dwMinimumCipherStrength;
    DWORD dwMaximumCipherStrength;
    DWORD dwSessionLifespan;
    DWORD dwFlags;
    DWORD dwCredFormat;
};
struct TLS_PARAMETERS {
    DWORD cAlpnIds;
    void* rgstrAlpnIds;
    DWORD grbitDisabledProtocols;
    DWORD cDisabledCrypto;
    void* pDisabledCrypto;
    DWORD dwFlags;
};
struct SCH_CREDENTIALS {
    DWORD dwVersion;
    DWORD dwCredFormat;
    DWORD cCreds;
    const void** paCred;
    void* hRootStore;
    DWORD cMappers;
    void** aphMappers;
    DWORD dwSessionLifespan;
    DWORD dwFlags;
    DWORD cTlsParameters;
    TLS_PARAMETERS* pTlsParameters;
};
struct SecPkgContext_StreamSizes {
    ULONG cbHeader;
    ULONG cbTrailer;
    ULONG cbMaximumMessage;
    ULONG cBuffers;
    ULONG cbBlockSize;
};
struct SecPkgContext_ConnectionInfo {
    DWORD dwProtocol;
    DWORD aiCipher;
    DWORD dwCipherStrength;
    DWORD aiHash;
    DWORD dwHashStrength;
    DWORD aiExch;
    DWORD dwExchStrength;
};

using HCERTSTORE = void*;
using HCERTCHAINENGINE = void*;
struct CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    void* pCertInfo;
    HCERTSTORE hCertStore;
};
using PCCERT_CONTEXT = const CERT_CONTEXT*;
struct CERT_CHAIN_CONTEXT {
    DWORD cbSize;
};
using PCCERT_CHAIN_CONTEXT = const CERT_CHAIN_CONTEXT*;
struct CERT_ENHKEY_USAGE {
    DWORD cUsageIdentifier;
    LPSTR* rgpszUsageIdentifier;
};
struct CERT_USAGE_MATCH {
    DWORD dwType;
    CERT_ENHKEY_USAGE Usage;
};
struct CERT_CHAIN_PARA {
    DWORD cbSize;
    CERT_USAGE_MATCH RequestedUsage;
    CERT_USAGE_MATCH RequestedIssuancePolicy;
    DWORD dwUrlRetrievalTimeout;
};
using PCERT_CHAIN_PARA = CERT_CHAIN_PARA*;
struct HTTPSPolicyCallbackData {
    DWORD cbStruct;
    DWORD dwAuthType;
    DWORD fdwChecks;
    WCHAR* pwszServerName;
};
struct CERT_CHAIN_POLICY_PARA {
    DWORD cbSize;
    DWORD dwFlags;
    void* pvExtraPolicyPara;
};
using PCERT_CHAIN_POLICY_PARA = CERT_CHAIN_POLICY_PARA*;
struct CERT_CHAIN_POLICY_STATUS {
    DWORD cbSize;
    DWORD dwError;
    LONG lChainIndex;
    LONG lElementIndex;
    void* pvExtraPolicyStatus;
};
using PCERT_CHAIN_POLICY_STATUS = CERT_CHAIN_POLICY_STATUS*;

#define szOID_PKIX_KP_SERVER_AUTH "1.3.6.1.5.5.7.3.1"
#define CERT_CHAIN_POLICY_SSL (reinterpret_cast<LPCSTR>(4))
constexpr DWORD USAGE_MATCH_TYPE_AND = 0;
constexpr DWORD AUTHTYPE_SERVER = 2;
constexpr LONG CERT_E_EXPIRED = LONG(0x800B0101);
constexpr LONG CERT_E_VALIDITYPERIODNESTING = LONG(0x800B0102);
constexpr LONG CERT_E_UNTRUSTEDROOT = LONG(0x800B0109);
constexpr LONG CERT_E_CHAINING = LONG(0x800B010A);
constexpr LONG CERT_E_CN_NO_MATCH = LONG(0x800B010F);
constexpr LONG CERT_E_UNTRUSTEDCA = LONG(0x800B0112);

// Named for the table's types only; never defined on the host.
SECURITY_STATUS AcquireCredentialsHandleA(SEC_CHAR* principal, SEC_CHAR* package, ULONG use,
                                          void* logon_id, void* auth_data, SEC_GET_KEY_FN get_key,
                                          void* get_key_argument, PCredHandle credential,
                                          PTimeStamp expiry);
SECURITY_STATUS FreeCredentialsHandle(PCredHandle credential);
SECURITY_STATUS InitializeSecurityContextA(PCredHandle credential, PCtxtHandle context,
                                           SEC_CHAR* target, ULONG requirements, ULONG reserved1,
                                           ULONG representation, PSecBufferDesc input,
                                           ULONG reserved2, PCtxtHandle new_context,
                                           PSecBufferDesc output, ULONG* attributes,
                                           PTimeStamp expiry);
SECURITY_STATUS DeleteSecurityContext(PCtxtHandle context);
SECURITY_STATUS ApplyControlToken(PCtxtHandle context, PSecBufferDesc input);
SECURITY_STATUS QueryContextAttributesA(PCtxtHandle context, ULONG attribute, void* buffer);
SECURITY_STATUS FreeContextBuffer(void* buffer);
SECURITY_STATUS EncryptMessage(PCtxtHandle context, ULONG quality, PSecBufferDesc message,
                               ULONG sequence);
SECURITY_STATUS DecryptMessage(PCtxtHandle context, PSecBufferDesc message, ULONG sequence,
                               ULONG* quality);
BOOL CertGetCertificateChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT certificate, FILETIME* time,
                             HCERTSTORE additional_store, PCERT_CHAIN_PARA parameters, DWORD flags,
                             void* reserved, PCCERT_CHAIN_CONTEXT* chain);
BOOL CertVerifyCertificateChainPolicy(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain,
                                      PCERT_CHAIN_POLICY_PARA parameters,
                                      PCERT_CHAIN_POLICY_STATUS status);
void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT certificate);
