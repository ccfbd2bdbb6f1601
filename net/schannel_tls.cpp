// TLS through SChannel, the system's own TLS: TLS 1.2, and TLS 1.3 where the
// system offers it. The certificate is checked here, not left to SChannel,
// so that every system checks it the same way: the chain must reach a root
// the system trusts and pass the SSL policy for the host name. No check can
// be switched off.
#include "net/tls.h"

#include <cstring>

#include "core/runtime.h"
#include "net/connection.h"
#include "net/sockets_api.h"

#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <wincrypt.h>

#include <schannel.h>
#include <security.h>

namespace {

constexpr int32_t SOCKET_READ = 2048;        // no socket read asks for more
constexpr int32_t INPUT_ROOM = 32768;        // records and handshake flights gather here
constexpr int32_t OUTPUT_ROOM = 16384 + 512; // one sealed record: header, data, trailer
constexpr int32_t HOST_ROOM = 256;

constexpr DWORD CONTEXT_FLAGS = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
// No client certificate is ever offered; the server's is checked below.
constexpr DWORD CREDENTIAL_FLAGS =
    SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;

} // namespace

struct TlsSession {
    CredHandle credentials;
    CtxtHandle context;
    bool have_credentials;
    bool have_context;
    bool ended;      // no more plaintext will come: alert, close or failure
    bool alert_came; // the server's closing alert ended the stream
    bool empty_last; // the last record held no data: Wine's closing alert
    bool failed;     // the session cannot be used any more, not even to close
    bool incomplete; // the buffered bytes hold no whole record
    int32_t version;
    const WaitHook* hook; // called while the handshake waits; may be null
    TlsFailure why;       // what made the handshake fail
    SecPkgContext_StreamSizes sizes;
    char host[HOST_ROOM];
    int32_t input_length;
    int32_t plain_at;
    int32_t plain_length;
    char input[INPUT_ROOM];
    char plain[INPUT_ROOM];
    char output[OUTPUT_ROOM];
};

namespace {

SOCKET socket_of(uintptr_t s) {
    return SOCKET(s);
}

bool send_whole(uintptr_t socket, const char* data, int32_t length) {
    while (length > 0) {
        const int n = send(socket_of(socket), data, length, 0);
        if (n <= 0) return false;
        data += n;
        length -= n;
    }
    return true;
}

// select on one socket: > 0 when readable within milliseconds.
int readable_within(uintptr_t socket, int32_t milliseconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket_of(socket), &set);
    if (milliseconds < 0) milliseconds = 0;
    timeval wait{long(milliseconds / 1000), long(milliseconds % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &wait);
}

// Newest first: SCH_CREDENTIALS (Windows 10 1809 and later) with everything
// older than TLS 1.2 disabled, which lets TLS 1.3 in where the system has it;
// then SCHANNEL_CRED asking for TLS 1.2 and 1.3, then for TLS 1.2 alone.
bool acquire_credentials(TlsSession* t) {
    TimeStamp expiry;
    TLS_PARAMETERS parameters;
    std::memset(&parameters, 0, sizeof parameters);
    parameters.grbitDisabledProtocols = ~DWORD(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT);
    SCH_CREDENTIALS modern;
    std::memset(&modern, 0, sizeof modern);
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = CREDENTIAL_FLAGS;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &parameters;
    char package[] = UNISP_NAME_A;
    if (AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr,
                                  nullptr, &t->credentials, &expiry) == SEC_E_OK)
        return t->have_credentials = true;
    static constexpr DWORD classic_choices[] = {SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT,
                                                SP_PROT_TLS1_2_CLIENT};
    for (const DWORD protocols : classic_choices) {
        SCHANNEL_CRED classic;
        std::memset(&classic, 0, sizeof classic);
        classic.dwVersion = SCHANNEL_CRED_VERSION;
        classic.grbitEnabledProtocols = protocols;
        classic.dwFlags = CREDENTIAL_FLAGS;
        if (AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &classic,
                                      nullptr, nullptr, &t->credentials, &expiry) == SEC_E_OK)
            return t->have_credentials = true;
    }
    return false;
}

// Reads what the socket has (at most one read of 2048 bytes), waiting for
// it until deadline_ms; false when nothing came.
bool read_more(TlsSession* t, uintptr_t socket, uint64_t deadline_ms) {
    const int32_t room = INPUT_ROOM - t->input_length;
    if (room <= 0) return false;
    for (;;) {
        const uint64_t now = GetTickCount64();
        if (now > deadline_ms) return false;
        const uint64_t left = deadline_ms - now;
        const int ready =
            readable_within(socket, int32_t(left < WAIT_SLICE_MS ? left : WAIT_SLICE_MS));
        if (ready < 0) return false;
        if (ready > 0) break;
        if (!wait_go_on(t->hook)) {
            t->why = TlsFailure::cancelled;
            return false;
        }
    }
    const int n = recv(socket_of(socket), t->input + t->input_length,
                       room < SOCKET_READ ? room : SOCKET_READ, 0);
    if (n <= 0) return false;
    t->input_length += n;
    return true;
}

// Keeps the bytes a call left unused (the last `extra` of the input).
void keep_extra(TlsSession* t, const SecBuffer& b) {
    if (b.BufferType != SECBUFFER_EXTRA || b.cbBuffer == 0 || b.cbBuffer > ULONG(t->input_length)) {
        t->input_length = 0;
        return;
    }
    std::memmove(t->input, t->input + t->input_length - int32_t(b.cbBuffer), b.cbBuffer);
    t->input_length = int32_t(b.cbBuffer);
}

// One handshake step over the gathered input (none on the first call);
// whatever token SChannel makes is sent.
SECURITY_STATUS handshake_step(TlsSession* t, uintptr_t socket, bool first) {
    SecBuffer in[2] = {{ULONG(t->input_length), SECBUFFER_TOKEN, t->input},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    SECURITY_STATUS status =
        InitializeSecurityContextA(&t->credentials, first ? nullptr : &t->context, t->host,
                                   CONTEXT_FLAGS, 0, 0, first ? nullptr : &in_desc, 0,
                                   first ? &t->context : nullptr, &out_desc, &attributes, nullptr);
    if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) t->have_context = true;
    if (out.pvBuffer) {
        if (out.cbBuffer > 0 && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) &&
            !send_whole(socket, static_cast<const char*>(out.pvBuffer), int32_t(out.cbBuffer)))
            status = SEC_E_INTERNAL_ERROR;
        FreeContextBuffer(out.pvBuffer);
    }
    if (!first && status != SEC_E_INCOMPLETE_MESSAGE) keep_extra(t, in[1]);
    return status;
}

// Runs handshake steps until the context is complete; false on failure.
bool complete_handshake(TlsSession* t, uintptr_t socket, SECURITY_STATUS status,
                        uint64_t deadline_ms) {
    while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE) {
        if ((t->input_length == 0 || status == SEC_E_INCOMPLETE_MESSAGE) &&
            !read_more(t, socket, deadline_ms))
            return false;
        status = handshake_step(t, socket, false);
    }
    return status == SEC_E_OK;
}

// What the operator can do about a certificate the policy refused.
TlsFailure certificate_failure(DWORD error) {
    switch (error) {
    case DWORD(CERT_E_EXPIRED):
    case DWORD(CERT_E_VALIDITYPERIODNESTING):
        return TlsFailure::certificate_date;
    case DWORD(CERT_E_UNTRUSTEDROOT):
    case DWORD(CERT_E_CHAINING):
    case DWORD(CERT_E_UNTRUSTEDCA):
        return TlsFailure::certificate_untrusted;
    case DWORD(CERT_E_CN_NO_MATCH):
        return TlsFailure::certificate_name;
    default:
        return TlsFailure::other;
    }
}

bool certificate_trusted(TlsSession* t) {
    PCCERT_CONTEXT certificate = nullptr;
    if (QueryContextAttributesA(&t->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
            SEC_E_OK ||
        !certificate)
        return false;
    wchar_t name[HOST_ROOM];
    bool trusted = MultiByteToWideChar(CP_ACP, 0, t->host, -1, name, HOST_ROOM) > 0;
    char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {server_auth};
    CERT_CHAIN_PARA chain_para;
    std::memset(&chain_para, 0, sizeof chain_para);
    chain_para.cbSize = sizeof chain_para;
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    trusted =
        trusted && CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore,
                                           &chain_para, 0, nullptr, &chain);
    if (trusted) {
        HTTPSPolicyCallbackData https;
        std::memset(&https, 0, sizeof https);
        https.cbStruct = sizeof https;
        https.dwAuthType = AUTHTYPE_SERVER;
        https.pwszServerName = name;
        CERT_CHAIN_POLICY_PARA policy;
        std::memset(&policy, 0, sizeof policy);
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &https;
        CERT_CHAIN_POLICY_STATUS verdict;
        std::memset(&verdict, 0, sizeof verdict);
        verdict.cbSize = sizeof verdict;
        trusted =
            CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict) &&
            verdict.dwError == 0;
        if (!trusted) t->why = certificate_failure(verdict.dwError);
    }
    if (chain) CertFreeCertificateChain(chain);
    CertFreeCertificateContext(certificate);
    return trusted;
}

int32_t version_of(DWORD protocol) {
    if (protocol & SP_PROT_TLS1_3) return 13;
    if (protocol & SP_PROT_TLS1_2) return 12;
    return 0;
}

void release(TlsSession* t) {
    if (t->have_context) DeleteSecurityContext(&t->context);
    if (t->have_credentials) FreeCredentialsHandle(&t->credentials);
    heap_free(t);
}

void end_stream(TlsSession* t, bool failed) {
    t->ended = true;
    if (failed) t->failed = true;
}

// Decrypts the next record of the input into the plaintext buffer (which is
// empty). False when the input holds no whole record yet.
bool decrypt_record(TlsSession* t, uintptr_t socket) {
    SecBuffer b[4] = {{ULONG(t->input_length), SECBUFFER_DATA, t->input},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
    const SECURITY_STATUS status = DecryptMessage(&t->context, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
        t->incomplete = true;
        return false;
    }
    if (status == SEC_I_CONTEXT_EXPIRED) { // the closing alert
        t->alert_came = true;
        end_stream(t, false);
        return true;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
        end_stream(t, true);
        return true;
    }
    const SecBuffer* extra = nullptr;
    t->empty_last = true;
    for (const SecBuffer& part : b) {
        if (part.BufferType == SECBUFFER_DATA && part.cbBuffer > 0 && part.pvBuffer) {
            if (part.cbBuffer > sizeof t->plain) {
                end_stream(t, true);
                return true;
            }
            std::memcpy(t->plain, part.pvBuffer, part.cbBuffer);
            t->plain_at = 0;
            t->plain_length = int32_t(part.cbBuffer);
            t->empty_last = false;
        }
        if (part.BufferType == SECBUFFER_EXTRA) extra = &part;
    }
    if (extra)
        keep_extra(t, *extra);
    else
        t->input_length = 0;
    // TLS 1.3 messages after the handshake (a session ticket, a key update)
    // go back through the handshake call, as the system asks.
    if (status == SEC_I_RENEGOTIATE &&
        !complete_handshake(t, socket, handshake_step(t, socket, false), GetTickCount64() + 10000))
        end_stream(t, true);
    return true;
}

// Brings plaintext to hand from what was received and what the socket holds,
// without waiting.
int32_t pump(TlsSession* t, uintptr_t socket) {
    for (;;) {
        if (t->plain_length > 0) return EVENT_DATA;
        if (t->ended) return EVENT_DISCONNECT;
        if (t->input_length > 0 && !t->incomplete && decrypt_record(t, socket)) continue;
        const int ready = readable_within(socket, 0);
        if (ready == 0) return EVENT_NONE;
        u_long waiting = 0;
        if (ready < 0 || ioctlsocket(socket_of(socket), FIONREAD, &waiting) != 0) {
            end_stream(t, true);
            continue;
        }
        // Closed by the server without the alert: the stream may be cut.
        if (waiting == 0) {
            end_stream(t, false);
            continue;
        }
        const int32_t room = INPUT_ROOM - t->input_length;
        int32_t want = room < SOCKET_READ ? room : SOCKET_READ;
        if (u_long(want) > waiting) want = int32_t(waiting);
        const int n = want > 0 ? recv(socket_of(socket), t->input + t->input_length, want, 0) : -1;
        if (n <= 0) {
            end_stream(t, n < 0);
            continue;
        }
        t->input_length += n;
        t->incomplete = false;
    }
}

} // namespace

TlsSession* tls_open(uintptr_t socket, const char* host, uint64_t deadline_ms, const WaitHook* hook,
                     TlsFailure* why) {
    if (why) *why = TlsFailure::other;
    if (!host || std::strlen(host) >= HOST_ROOM) return nullptr;
    auto* t = static_cast<TlsSession*>(heap_alloc_zeroed(sizeof(TlsSession)));
    if (!t) return nullptr;
    std::strcpy(t->host, host);
    t->hook = hook;
    t->why = TlsFailure::other;
    SecPkgContext_ConnectionInfo info;
    std::memset(&info, 0, sizeof info);
    const bool secured =
        acquire_credentials(t) &&
        complete_handshake(t, socket, handshake_step(t, socket, true), deadline_ms) &&
        certificate_trusted(t) &&
        QueryContextAttributesA(&t->context, SECPKG_ATTR_STREAM_SIZES, &t->sizes) == SEC_E_OK &&
        t->sizes.cbHeader + t->sizes.cbTrailer < ULONG(OUTPUT_ROOM) / 2 &&
        QueryContextAttributesA(&t->context, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK;
    if (!secured) {
        if (why) *why = t->why;
        release(t);
        return nullptr;
    }
    t->hook = nullptr; // the caller's hook lives only as long as the handshake
    t->version = version_of(info.dwProtocol);
    return t;
}

void tls_close(TlsSession* t, uintptr_t socket) {
    if (!t) return;
    if (!t->failed && t->have_context) {
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc token_desc{SECBUFFER_VERSION, 1, &token};
        if (ApplyControlToken(&t->context, &token_desc) == SEC_E_OK) {
            SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
            ULONG attributes = 0;
            const SECURITY_STATUS status =
                InitializeSecurityContextA(&t->credentials, &t->context, t->host, CONTEXT_FLAGS, 0,
                                           0, nullptr, 0, nullptr, &out_desc, &attributes, nullptr);
            if (out.pvBuffer) {
                if ((status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED) && out.cbBuffer > 0)
                    send_whole(socket, static_cast<const char*>(out.pvBuffer),
                               int32_t(out.cbBuffer));
                FreeContextBuffer(out.pvBuffer);
            }
        }
    }
    release(t);
}

int32_t tls_send(TlsSession* t, uintptr_t socket, const char* data, int32_t length) {
    if (!t || t->failed || length < 0 || (!data && length > 0)) return -1;
    const int32_t header = int32_t(t->sizes.cbHeader);
    const int32_t trailer = int32_t(t->sizes.cbTrailer);
    int32_t n = OUTPUT_ROOM - header - trailer;
    if (ULONG(n) > t->sizes.cbMaximumMessage) n = int32_t(t->sizes.cbMaximumMessage);
    if (n > length) n = length;
    char* record = t->output;
    std::memcpy(record + header, data, size_t(n));
    SecBuffer b[4] = {{ULONG(header), SECBUFFER_STREAM_HEADER, record},
                      {ULONG(n), SECBUFFER_DATA, record + header},
                      {ULONG(trailer), SECBUFFER_STREAM_TRAILER, record + header + n},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
    if (EncryptMessage(&t->context, 0, &desc, 0) != SEC_E_OK ||
        !send_whole(socket, record, int32_t(b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer))) {
        end_stream(t, true);
        return -1;
    }
    return n;
}

int32_t tls_event(TlsSession* t, uintptr_t socket) {
    return t ? pump(t, socket) : EVENT_DISCONNECT;
}

int32_t tls_waiting(TlsSession* t, uintptr_t socket) {
    if (!t) return -1;
    switch (pump(t, socket)) {
    case EVENT_DATA:
        return t->plain_length;
    case EVENT_DISCONNECT:
        return t->failed ? -1 : 0;
    default:
        return 0;
    }
}

int32_t tls_receive(TlsSession* t, uintptr_t socket, char* buffer, int32_t length) {
    if (!t || !buffer || length < 0) return -1;
    // Waits as a blocking recv does.
    for (;;) {
        const int32_t event = pump(t, socket);
        if (event == EVENT_DATA) break;
        if (event == EVENT_DISCONNECT) return t->failed ? -1 : 0;
        if (readable_within(socket, 1000) < 0) return -1;
    }
    const int32_t n = length < t->plain_length ? length : t->plain_length;
    std::memcpy(buffer, t->plain + t->plain_at, size_t(n));
    t->plain_at += n;
    t->plain_length -= n;
    return n;
}

bool tls_wait_readable(TlsSession* t, uintptr_t socket, int32_t milliseconds) {
    if (!t) return false;
    if (pump(t, socket) != EVENT_NONE) return true;
    return readable_within(socket, milliseconds) > 0;
}

// Windows reports the closing alert as SEC_I_CONTEXT_EXPIRED; Wine's
// SChannel as a record without data. Such a record counts as the end only
// when nothing came after it: no one but the server can make one.
bool tls_closed_by_alert(const TlsSession* t) {
    return t && (t->alert_came || (!t->failed && t->empty_last));
}

int32_t tls_version(const TlsSession* t) {
    return t ? t->version : 0;
}
