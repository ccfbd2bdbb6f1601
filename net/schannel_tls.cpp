// TLS through SChannel, the system's own TLS: TLS 1.2, and TLS 1.3 where the
// system offers it; nothing older, whatever the system lets through. The
// certificate is checked here, not left to SChannel, so that every system
// checks it the same way: the chain must reach a root the system trusts and
// pass the SSL policy for the host name. No check can be switched off, and
// no second handshake is ever run, so no certificate goes unchecked.
//
// Every SChannel and chain call goes through the table of tls_provider.h.
// The socket is non-blocking from the start: every wait is a select of at
// most WAIT_SLICE_MS, within the caller's deadline, and nothing blocks.
#include "net/tls.h"

#include <cstring>

#include "core/runtime.h"
#include "net/connection.h"
#include "net/sockets_api.h"
#include "net/tls_provider.h"

namespace {

constexpr int32_t SOCKET_READ = 2048;        // no socket read asks for more
constexpr int32_t INPUT_ROOM = 32768;        // records and handshake flights gather here
constexpr int32_t OUTPUT_ROOM = 16384 + 512; // one sealed record: header, data, trailer
constexpr int32_t HOST_ROOM = 256;

constexpr ULONG CONTEXT_FLAGS = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
// No client certificate is ever offered; the server's is checked below.
constexpr DWORD CREDENTIAL_FLAGS =
    SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;

} // namespace

// Where a session stands. Only open and post_handshake take records; the
// last three take none and bring no more plaintext.
enum class TlsState : int32_t {
    handshaking,
    open,
    post_handshake,  // DecryptMessage took a message after the handshake (a TLS 1.3
                     // session ticket or key update): the handshake function is due
    closed_by_alert, // the server's closing alert ended the stream where it meant to
    closed,          // the socket closed without the alert: the end is unproven
    failed,          // the session cannot be used any more, not even to close
};

struct TlsSession {
    const TlsProvider* api;
    CredHandle credentials;
    CtxtHandle context;
    bool have_credentials;
    bool have_context;
    TlsState state;
    bool incomplete;      // the buffered bytes hold no whole record: the socket is read next
    bool empty_last;      // the last record held no data (Wine's closing alert)
    int32_t message_from; // post_handshake: the input's length when DecryptMessage met the message
    int32_t version;
    const StopFlag* stop; // looked at while the handshake waits; may be null
    TlsFailure why;       // what made the handshake fail
    SecPkgContext_StreamSizes sizes;
    char host[HOST_ROOM];
    int32_t input_length;
    int32_t plain_at;
    int32_t plain_length;
    int32_t output_at; // sealed bytes from output_at to output_length are not sent yet
    int32_t output_length;
    char input[INPUT_ROOM];
    char plain[INPUT_ROOM];
    char output[OUTPUT_ROOM];
};

namespace {

SOCKET socket_of(uintptr_t s) {
    return SOCKET(s);
}

// select on one socket for reading or writing: > 0 when ready within
// milliseconds, < 0 when the socket failed.
int ready_within(uintptr_t socket, int32_t milliseconds, bool for_sending) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket_of(socket), &set);
    if (milliseconds < 0) milliseconds = 0;
    timeval wait{long(milliseconds / 1000), long(milliseconds % 1000) * 1000};
    return for_sending ? select(int(socket_of(socket)) + 1, nullptr, &set, nullptr, &wait)
                       : select(int(socket_of(socket)) + 1, &set, nullptr, nullptr, &wait);
}

// Waits, in slices that each end with a look at the stop flag, until the
// socket is ready; false when it failed, the deadline passed or stop came.
bool wait_ready(TlsSession* t, uintptr_t socket, uint64_t deadline_ms, bool for_sending) {
    for (;;) {
        const uint64_t now = GetTickCount64();
        if (now > deadline_ms) return false;
        const uint64_t left = deadline_ms - now;
        const int ready = ready_within(
            socket, int32_t(left < uint64_t(WAIT_SLICE_MS) ? left : WAIT_SLICE_MS), for_sending);
        if (ready < 0) return false;
        if (ready > 0) return true;
        if (stop_asked(t->stop)) {
            t->why = TlsFailure::cancelled;
            return false;
        }
    }
}

// Sends all length bytes by deadline_ms; false when they could not be.
bool send_by(TlsSession* t, uintptr_t socket, const char* data, int32_t length,
             uint64_t deadline_ms) {
    while (length > 0) {
        if (!wait_ready(t, socket, deadline_ms, true)) return false;
        const int n = send(socket_of(socket), data, length, 0);
        if (n <= 0) return false; // writable, yet refused: the socket failed
        data += n;
        length -= n;
    }
    return true;
}

// Sends what the socket takes now of the sealed bytes not yet sent; false
// when the socket failed.
bool flush_output(TlsSession* t, uintptr_t socket) {
    while (t->output_at < t->output_length) {
        const int ready = ready_within(socket, 0, true);
        if (ready < 0) return false;
        if (ready == 0) return true;
        const int n =
            send(socket_of(socket), t->output + t->output_at, t->output_length - t->output_at, 0);
        if (n <= 0) return false;
        t->output_at += n;
    }
    t->output_at = t->output_length = 0;
    return true;
}

// Queues a token SChannel made after the handshake, behind what is queued.
bool queue_output(TlsSession* t, const void* data, ULONG length) {
    if (length > ULONG(OUTPUT_ROOM - t->output_length)) return false;
    std::memcpy(t->output + t->output_length, data, length);
    t->output_length += int32_t(length);
    return true;
}

bool acquired(TlsSession* t, void* auth_data) {
    TimeStamp expiry;
    char package[] = UNISP_NAME_A;
    return t->have_credentials = t->api->acquire_credentials(nullptr, package, SECPKG_CRED_OUTBOUND,
                                                             nullptr, auth_data, nullptr, nullptr,
                                                             &t->credentials, &expiry) == SEC_E_OK;
}

// Newest first: SCH_CREDENTIALS (Windows 10 1809 and later) with everything
// older than TLS 1.2 disabled, which lets TLS 1.3 in where the system has it;
// then SCHANNEL_CRED asking for TLS 1.2 and 1.3, then for TLS 1.2 alone.
bool acquire_credentials(TlsSession* t) {
    TLS_PARAMETERS parameters;
    std::memset(&parameters, 0, sizeof parameters);
    parameters.grbitDisabledProtocols = ~DWORD(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT);
    SCH_CREDENTIALS modern;
    std::memset(&modern, 0, sizeof modern);
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = CREDENTIAL_FLAGS;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &parameters;
    if (acquired(t, &modern)) return true;
    static constexpr DWORD classic_choices[] = {SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT,
                                                SP_PROT_TLS1_2_CLIENT};
    for (const DWORD protocols : classic_choices) {
        SCHANNEL_CRED classic;
        std::memset(&classic, 0, sizeof classic);
        classic.dwVersion = SCHANNEL_CRED_VERSION;
        classic.grbitEnabledProtocols = protocols;
        classic.dwFlags = CREDENTIAL_FLAGS;
        if (acquired(t, &classic)) return true;
    }
    return false;
}

// Reads what the socket has (at most one read of 2048 bytes), waiting for
// it until deadline_ms; false when nothing came.
bool read_more(TlsSession* t, uintptr_t socket, uint64_t deadline_ms) {
    const int32_t room = INPUT_ROOM - t->input_length;
    if (room <= 0 || !wait_ready(t, socket, deadline_ms, false)) return false;
    const int n = recv(socket_of(socket), t->input + t->input_length,
                       room < SOCKET_READ ? room : SOCKET_READ, 0);
    if (n <= 0) return false;
    t->input_length += n;
    return true;
}

// Keeps the bytes a call left unused (the last cbBuffer of the input), or
// none when it used them all.
void keep_extra(TlsSession* t, const SecBuffer& b) {
    if (b.BufferType != SECBUFFER_EXTRA || b.cbBuffer == 0 || b.cbBuffer > ULONG(t->input_length)) {
        t->input_length = 0;
        return;
    }
    std::memmove(t->input, t->input + t->input_length - int32_t(b.cbBuffer), b.cbBuffer);
    t->input_length = int32_t(b.cbBuffer);
}

// One call of the handshake function over the gathered input (none on the
// first call). The token it makes is handed to deliver, then freed.
template <typename Deliver>
SECURITY_STATUS context_step(TlsSession* t, bool first, Deliver deliver) {
    SecBuffer in[2] = {{ULONG(t->input_length), SECBUFFER_TOKEN, t->input},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    SECURITY_STATUS status =
        t->api->initialize_context(&t->credentials, first ? nullptr : &t->context, t->host,
                                   CONTEXT_FLAGS, 0, 0, first ? nullptr : &in_desc, 0,
                                   first ? &t->context : nullptr, &out_desc, &attributes, nullptr);
    if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) t->have_context = true;
    if (out.pvBuffer) {
        if (out.cbBuffer > 0 && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) &&
            !deliver(static_cast<const char*>(out.pvBuffer), out.cbBuffer))
            status = SEC_E_INTERNAL_ERROR;
        t->api->free_context_buffer(out.pvBuffer);
    }
    if (!first && status != SEC_E_INCOMPLETE_MESSAGE) keep_extra(t, in[1]);
    return status;
}

// Runs handshake steps until the context is complete; false on failure.
// Each token is sent by deadline_ms.
bool handshake(TlsSession* t, uintptr_t socket, uint64_t deadline_ms) {
    const auto send_token = [&](const char* token, ULONG length) {
        return length <= ULONG(INT32_MAX) &&
               send_by(t, socket, token, int32_t(length), deadline_ms);
    };
    SECURITY_STATUS status = context_step(t, true, send_token);
    while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE) {
        if (GetTickCount64() > deadline_ms) return false;
        if ((t->input_length == 0 || status == SEC_E_INCOMPLETE_MESSAGE) &&
            !read_more(t, socket, deadline_ms))
            return false;
        status = context_step(t, false, send_token);
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

// The host name as the policy wants it: a DNS name is ASCII, so it widens
// byte by byte; anything else is refused.
bool wide_host(const char* host, WCHAR* wide) {
    for (int32_t i = 0;; i++) {
        const auto c = static_cast<unsigned char>(host[i]);
        if (c >= 0x80) return false;
        wide[i] = WCHAR(c);
        if (c == 0) return true;
    }
}

// The chain build may fetch missing certificates: it gets what remains of
// the deadline for that, and nothing when none remains.
bool certificate_trusted(TlsSession* t, uint64_t deadline_ms) {
    const uint64_t now = GetTickCount64();
    if (now >= deadline_ms) return false;
    const uint64_t left = deadline_ms - now;
    PCCERT_CONTEXT certificate = nullptr;
    if (t->api->query_attributes(&t->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
            SEC_E_OK ||
        !certificate)
        return false;
    WCHAR name[HOST_ROOM];
    bool trusted = wide_host(t->host, name);
    char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {server_auth};
    CERT_CHAIN_PARA chain_para;
    std::memset(&chain_para, 0, sizeof chain_para);
    chain_para.cbSize = sizeof chain_para;
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    chain_para.dwUrlRetrievalTimeout = DWORD(left < 0xFFFFFFFFu ? left : 0xFFFFFFFFu);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    trusted = trusted &&
              t->api->get_chain(nullptr, certificate, nullptr, certificate->hCertStore, &chain_para,
                                0, nullptr, &chain) &&
              chain;
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
        trusted = t->api->verify_chain_policy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict) &&
                  verdict.dwError == 0;
        if (!trusted) t->why = certificate_failure(verdict.dwError);
    }
    if (chain) t->api->free_chain(chain);
    t->api->free_certificate(certificate);
    return trusted;
}

int32_t version_of(DWORD protocol) {
    if (protocol & SP_PROT_TLS1_3) return 13;
    if (protocol & SP_PROT_TLS1_2) return 12;
    return 0;
}

// 12 or 13, or 0 for an older protocol (or none known).
int32_t negotiated_version(TlsSession* t) {
    SecPkgContext_ConnectionInfo info;
    std::memset(&info, 0, sizeof info);
    if (t->api->query_attributes(&t->context, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK)
        return 0;
    return version_of(info.dwProtocol);
}

void release(TlsSession* t) {
    if (t->have_context) t->api->delete_context(&t->context);
    if (t->have_credentials) t->api->free_credentials(&t->credentials);
    heap_free(t);
}

void fail(TlsSession* t) {
    t->state = TlsState::failed;
}

bool taking_records(const TlsSession* t) {
    return t->state == TlsState::open || t->state == TlsState::post_handshake;
}

// Whether a buffer SChannel gave back lies within the input, where it
// decrypts in place.
bool within_input(const TlsSession* t, const SecBuffer& b) {
    const auto* at = static_cast<const char*>(b.pvBuffer);
    return at >= t->input && at <= t->input + t->input_length &&
           b.cbBuffer <= ULONG(t->input + t->input_length - at);
}

// Decrypts the next record of the input into the plaintext buffer (which is
// empty), or marks the input incomplete.
void decrypt_record(TlsSession* t) {
    SecBuffer b[4] = {{ULONG(t->input_length), SECBUFFER_DATA, t->input},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
    const int32_t before = t->input_length;
    const SECURITY_STATUS status = t->api->decrypt(&t->context, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
        t->incomplete = true;
        return;
    }
    if (status == SEC_I_CONTEXT_EXPIRED) {
        t->state = TlsState::closed_by_alert;
        return;
    }
    // A TLS 1.2 server asking for a new handshake ends the stream: this
    // program never renegotiates.
    const bool post_handshake = status == SEC_I_RENEGOTIATE && t->version == 13;
    if (status != SEC_E_OK && !post_handshake) {
        fail(t);
        return;
    }
    const SecBuffer* extra = nullptr;
    bool data = false;
    for (const SecBuffer& part : b) {
        if (part.BufferType == SECBUFFER_DATA && part.cbBuffer > 0) {
            if (!part.pvBuffer || !within_input(t, part)) {
                fail(t);
                return;
            }
            std::memcpy(t->plain, part.pvBuffer, part.cbBuffer);
            t->plain_at = 0;
            t->plain_length = int32_t(part.cbBuffer);
            data = true;
        }
        if (part.BufferType == SECBUFFER_EXTRA) extra = &part;
    }
    if (extra)
        keep_extra(t, *extra);
    else
        t->input_length = 0;
    // Only a record SChannel passed as sound counts as Wine's closing alert.
    t->empty_last = status == SEC_E_OK && !data;
    if (post_handshake) {
        // The handshake function is called next, as SChannel asks; a
        // message it left in the input is still there for it.
        t->state = TlsState::post_handshake;
        t->message_from = before;
    } else if (!data && t->input_length == before) {
        fail(t); // no progress
    }
}

// Calls the handshake function after a TLS 1.3 message after the handshake.
// Windows 10 and 11 have taken the message in DecryptMessage already and
// hand back what follows untouched: records for DecryptMessage again,
// further tickets among them. What it answers (a key update's own) is
// queued for sending. A new handshake is never run.
void take_post_handshake(TlsSession* t) {
    const auto queue = [t](const char* token, ULONG length) {
        return queue_output(t, token, length);
    };
    const SECURITY_STATUS status = context_step(t, false, queue);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
        t->incomplete = true;
    } else if (status != SEC_E_OK) {
        fail(t);
    } else if (t->input_length > 0 && t->input_length == t->message_from) {
        fail(t); // neither call took the message: it would come round for ever
    } else {
        t->state = TlsState::open;
    }
}

// Brings plaintext to hand from what was received and what the socket holds,
// without waiting; sends what is queued as far as the socket takes it.
int32_t take_records(TlsSession* t, uintptr_t socket) {
    for (;;) {
        if (t->state != TlsState::failed && !flush_output(t, socket)) fail(t);
        if (t->plain_length > 0) return EVENT_DATA;
        if (!taking_records(t)) return EVENT_DISCONNECT;
        if (!t->incomplete && (t->input_length > 0 || t->state == TlsState::post_handshake)) {
            if (t->state == TlsState::post_handshake)
                take_post_handshake(t);
            else
                decrypt_record(t);
            continue;
        }
        const int ready = ready_within(socket, 0, false);
        if (ready == 0) return EVENT_NONE;
        u_long waiting = 0;
        if (ready < 0 || ioctlsocket(socket_of(socket), FIONREAD, &waiting) != 0) {
            fail(t);
            continue;
        }
        // Closed by the server without the alert: the stream may be cut.
        if (waiting == 0) {
            t->state = TlsState::closed;
            continue;
        }
        const int32_t room = INPUT_ROOM - t->input_length;
        int32_t want = room < SOCKET_READ ? room : SOCKET_READ;
        if (u_long(want) > waiting) want = int32_t(waiting);
        // A record longer than the input room can never be whole.
        const int n = want > 0 ? recv(socket_of(socket), t->input + t->input_length, want, 0) : -1;
        if (n <= 0) {
            fail(t);
            continue;
        }
        t->input_length += n;
        t->incomplete = false;
    }
}

} // namespace

TlsSession* tls_open(uintptr_t socket, const char* host, uint64_t deadline_ms, const StopFlag* stop,
                     TlsFailure* why) {
    if (why) *why = TlsFailure::other;
    if (!host || std::strlen(host) >= HOST_ROOM) return nullptr;
    auto* t = static_cast<TlsSession*>(heap_alloc_zeroed(sizeof(TlsSession)));
    if (!t) return nullptr;
    t->api = &tls_provider();
    std::strcpy(t->host, host);
    t->stop = stop;
    t->why = TlsFailure::other;
    u_long non_blocking = 1;
    const bool secured =
        ioctlsocket(socket_of(socket), FIONBIO, &non_blocking) == 0 && acquire_credentials(t) &&
        handshake(t, socket, deadline_ms) && (t->version = negotiated_version(t)) != 0 &&
        certificate_trusted(t, deadline_ms) &&
        t->api->query_attributes(&t->context, SECPKG_ATTR_STREAM_SIZES, &t->sizes) == SEC_E_OK &&
        t->sizes.cbHeader + t->sizes.cbTrailer < ULONG(OUTPUT_ROOM) / 2 &&
        t->sizes.cbMaximumMessage > 0;
    if (!secured) {
        if (why) *why = t->why;
        release(t);
        return nullptr;
    }
    t->stop = nullptr; // the caller's flag lives only as long as the handshake
    t->state = TlsState::open;
    if (why) *why = TlsFailure::none;
    return t;
}

void tls_close(TlsSession* t, uintptr_t socket) {
    if (!t) return;
    if (t->state != TlsState::failed && t->have_context) {
        // The closing alert goes out if the socket takes it now: it is a
        // courtesy, and nothing waits for it.
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc token_desc{SECBUFFER_VERSION, 1, &token};
        if (t->api->apply_control_token(&t->context, &token_desc) == SEC_E_OK) {
            SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
            ULONG attributes = 0;
            const SECURITY_STATUS status =
                t->api->initialize_context(&t->credentials, &t->context, t->host, CONTEXT_FLAGS, 0,
                                           0, nullptr, 0, nullptr, &out_desc, &attributes, nullptr);
            if (out.pvBuffer) {
                if ((status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED) && out.cbBuffer > 0 &&
                    queue_output(t, out.pvBuffer, out.cbBuffer))
                    flush_output(t, socket);
                t->api->free_context_buffer(out.pvBuffer);
            }
        }
    }
    release(t);
}

int32_t tls_send(TlsSession* t, uintptr_t socket, const char* data, int32_t length) {
    if (!t || t->state == TlsState::failed || length < 0 || (!data && length > 0)) return -1;
    // A record still on its way first: until it is sent, nothing more is
    // taken, as a full socket takes nothing.
    if (!flush_output(t, socket)) {
        fail(t);
        return -1;
    }
    if (t->output_length > 0) return 0;
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
    // The sizes are what sealing made of the buffers.
    const bool made = t->api->encrypt(&t->context, 0, &desc, 0) == SEC_E_OK;
    const uint64_t sealed = uint64_t(b[0].cbBuffer) + b[1].cbBuffer + b[2].cbBuffer;
    if (!made || sealed > uint64_t(header + n + trailer)) {
        fail(t);
        return -1;
    }
    t->output_at = 0;
    t->output_length = int32_t(sealed);
    if (!flush_output(t, socket)) {
        fail(t);
        return -1;
    }
    return n;
}

int32_t tls_event(TlsSession* t, uintptr_t socket) {
    return t ? take_records(t, socket) : EVENT_DISCONNECT;
}

int32_t tls_waiting(TlsSession* t, uintptr_t socket) {
    if (!t) return -1;
    switch (take_records(t, socket)) {
    case EVENT_DATA:
        return t->plain_length;
    case EVENT_DISCONNECT:
        return t->state == TlsState::failed ? -1 : 0;
    default:
        return 0;
    }
}

// Never waits: with nothing at hand it answers as a non-blocking socket.
int32_t tls_receive(TlsSession* t, uintptr_t socket, char* buffer, int32_t length) {
    if (!t || !buffer || length < 0) return -1;
    const int32_t event = take_records(t, socket);
    if (event == EVENT_DISCONNECT) return t->state == TlsState::failed ? -1 : 0;
    if (event != EVENT_DATA) return -1;
    const int32_t n = length < t->plain_length ? length : t->plain_length;
    std::memcpy(buffer, t->plain + t->plain_at, size_t(n));
    t->plain_at += n;
    t->plain_length -= n;
    return n;
}

bool tls_wait_readable(TlsSession* t, uintptr_t socket, int32_t milliseconds) {
    if (!t) return false;
    if (take_records(t, socket) != EVENT_NONE) return true;
    return ready_within(socket, milliseconds, false) > 0;
}

// Windows reports the closing alert as SEC_I_CONTEXT_EXPIRED. Wine's
// SChannel passes it as a sound record without data; there such a record
// counts as the end when nothing came after it, whether or not the server
// closed the socket yet. No one but the server can make one.
bool tls_closed_by_alert(const TlsSession* t) {
    if (!t) return false;
    return t->state == TlsState::closed_by_alert ||
           (t->api->closing_alert_as_empty_record && t->state != TlsState::failed &&
            t->empty_last && t->input_length == 0);
}

int32_t tls_version(const TlsSession* t) {
    return t ? t->version : 0;
}
