#include "tests/support/scripted_tls.h"

#include <cstdlib>
#include <cstring>
#include <chrono>
#include <thread>

namespace kt {
namespace {

constexpr ULONG HEADER = 3;        // type and length
constexpr ULONG TRAILER = 2;       // what sealing appends
constexpr ULONG TRAILER_ROOM = 16; // what the stream sizes promise at most
constexpr char CLIENT_HELLO[] = "hello\r\n\r\n";

constexpr LONG CERT_E_WRONG_USAGE = LONG(0x800B0110);

TlsScript script;
TlsLog log_book;
bool wrong_usage;     // the last chain was asked for a usage the certificate lacks
bool system_defaults; // the credentials name no protocols: TLS 1.0 alone, as Windows 7's

struct Context {
    bool established = false;
    bool shutting_down = false;
    bool message_taken = false; // DecryptMessage took a message after the handshake
    bool update_asked = false;  // and it was a key update that asks for the client's
};

Context* context_of(PCtxtHandle h) {
    return h ? reinterpret_cast<Context*>(h->dwLower) : nullptr;
}

// The record at the start of bytes: its whole length, or 0 when it is not
// all there yet (missing then tells how much more is needed, 0 when even the
// header is cut).
ULONG whole_record(const char* bytes, ULONG length, ULONG* missing) {
    *missing = 0;
    if (length < HEADER) return 0;
    const ULONG size = HEADER + (ULONG(uint8_t(bytes[1])) << 8 | uint8_t(bytes[2]));
    if (length < size) {
        *missing = size - length;
        return 0;
    }
    return size;
}

// An incomplete input, reported as SChannel does: with a SECBUFFER_MISSING
// when the record's length is known.
SECURITY_STATUS incomplete(SecBuffer* spare, ULONG missing) {
    if (spare && missing > 0) *spare = {missing, SECBUFFER_MISSING, nullptr};
    return SEC_E_INCOMPLETE_MESSAGE;
}

void set_extra(SecBuffer* spare, ULONG rest) {
    if (spare && rest > 0) *spare = {rest, SECBUFFER_EXTRA, nullptr};
}

bool give_token(PSecBufferDesc out, const char* bytes, ULONG length) {
    if (!out || out->cBuffers < 1) return false;
    void* copy = std::malloc(length);
    if (!copy) return false;
    std::memcpy(copy, bytes, length);
    out->pBuffers[0] = {length, SECBUFFER_TOKEN, copy};
    log_book.open++;
    return true;
}

// SChannel reads every list a credential names; this provider, which has
// no certificates, stores, mappers or algorithms of the client's to read,
// refuses credentials that name any.
template <typename Credentials> bool names_lists(const Credentials* c) {
    return c->cCreds || c->paCred || c->hRootStore || c->cMappers || c->aphMappers;
}

SECURITY_STATUS acquire(SEC_CHAR*, SEC_CHAR* package, ULONG use, void*, void* auth_data,
                        SEC_GET_KEY_FN, void*, PCredHandle credentials, PTimeStamp) {
    if (!package || std::strcmp(package, UNISP_NAME_A) != 0 || use != SECPKG_CRED_OUTBOUND ||
        !auth_data || !credentials)
        return SEC_E_INTERNAL_ERROR;
    const DWORD version = *static_cast<const DWORD*>(auth_data);
    system_defaults = false;
    DWORD flags = 0;
    if (version == SCH_CREDENTIALS_VERSION) {
        const auto* modern = static_cast<const SCH_CREDENTIALS*>(auth_data);
        if (names_lists(modern)) return SEC_E_UNKNOWN_CREDENTIALS;
        flags = modern->dwFlags;
        for (DWORD i = 0; i < modern->cTlsParameters; i++)
            if (modern->pTlsParameters[i].cAlpnIds || modern->pTlsParameters[i].cDisabledCrypto)
                return SEC_E_UNKNOWN_CREDENTIALS;
    }
    if (version == SCHANNEL_CRED_VERSION) {
        const auto* classic = static_cast<const SCHANNEL_CRED*>(auth_data);
        if (names_lists(classic) || classic->cSupportedAlgs || classic->palgSupportedAlgs)
            return SEC_E_UNKNOWN_CREDENTIALS;
        system_defaults = classic->grbitEnabledProtocols == 0;
        flags = classic->dwFlags;
    }
    if (version == SCH_CREDENTIALS_VERSION && !script.modern_credentials)
        return SEC_E_UNKNOWN_CREDENTIALS;
    if (version == SCHANNEL_CRED_VERSION && !script.classic_tls13 &&
        (static_cast<const SCHANNEL_CRED*>(auth_data)->grbitEnabledProtocols &
         SP_PROT_TLS1_3_CLIENT))
        return SEC_E_UNKNOWN_CREDENTIALS;
    log_book.credential_version = version;
    log_book.credential_flags = flags;
    log_book.open++;
    *credentials = {1, 0};
    return SEC_E_OK;
}

SECURITY_STATUS free_credentials(PCredHandle) {
    log_book.open--;
    return SEC_E_OK;
}

// The client's side of the handshake and of what follows it.
SECURITY_STATUS initialize(PCredHandle, PCtxtHandle handle, SEC_CHAR* target, ULONG, ULONG, ULONG,
                           PSecBufferDesc in, ULONG, PCtxtHandle new_handle, PSecBufferDesc out,
                           ULONG*, PTimeStamp) {
    if (!target) return SEC_E_INTERNAL_ERROR;
    if (!handle) {
        log_book.target = target;
        std::string hello = CLIENT_HELLO;
        if (script.hello_size > hello.size())
            hello.insert(0, script.hello_size - hello.size(), 'p');
        if (!new_handle || !give_token(out, hello.data(), ULONG(hello.size())))
            return SEC_E_INTERNAL_ERROR;
        *new_handle = {reinterpret_cast<ULONG_PTR>(new Context), 0};
        log_book.open++;
        return SEC_I_CONTINUE_NEEDED;
    }
    Context* c = context_of(handle);
    if (c->shutting_down) {
        const std::string alert = tls_record('a');
        log_book.closing_alerts++;
        return give_token(out, alert.data(), ULONG(alert.size())) ? SEC_E_OK : SEC_E_INTERNAL_ERROR;
    }
    if (!in || in->cBuffers < 2 || in->pBuffers[0].BufferType != SECBUFFER_TOKEN)
        return SEC_E_INTERNAL_ERROR;
    const char* bytes = static_cast<const char*>(in->pBuffers[0].pvBuffer);
    const ULONG length = in->pBuffers[0].cbBuffer;
    SecBuffer* spare = &in->pBuffers[1];
    if (c->established && c->message_taken) {
        c->message_taken = false;
        if (!(script.protocol & SP_PROT_TLS1_3_CLIENT)) {
            // TLS 1.2: the server asked for a new handshake, and this starts
            // it (Microsoft, "Renegotiating an Schannel Connection").
            log_book.new_handshakes++;
            c->established = false;
            return give_token(out, CLIENT_HELLO, sizeof CLIENT_HELLO - 1) ? SEC_I_CONTINUE_NEEDED
                                                                          : SEC_E_INTERNAL_ERROR;
        }
        // TLS 1.3: the message is already taken. What follows it comes back
        // untouched as SECBUFFER_EXTRA, records for DecryptMessage, not a
        // fault (dotnet/runtime pull request 103419; steffengy/schannel-rs
        // issue 111 and pull request 112: further tickets among them go to
        // DecryptMessage again). Assumed, no source says: half a record and
        // empty input are answered the same way, and a key update's answer
        // is the token of this call.
        set_extra(spare, length);
        if (!c->update_asked) return SEC_E_OK;
        c->update_asked = false;
        return give_token(out, "update", 6) ? SEC_E_OK : SEC_E_INTERNAL_ERROR;
    }
    ULONG missing = 0;
    const ULONG size = whole_record(bytes, length, &missing);
    if (size == 0) return incomplete(spare, missing);
    set_extra(spare, length - size);
    const char type = bytes[0];
    if (!c->established && type == 'h')
        return give_token(out, "flight", 6) ? SEC_I_CONTINUE_NEEDED : SEC_E_INTERNAL_ERROR;
    if (!c->established && type == 'f') {
        c->established = true;
        return give_token(out, "finished", 8) ? SEC_E_OK : SEC_E_INTERNAL_ERROR;
    }
    return SEC_E_DECRYPT_FAILURE;
}

SECURITY_STATUS delete_context(PCtxtHandle handle) {
    delete context_of(handle);
    log_book.open--;
    return SEC_E_OK;
}

SECURITY_STATUS apply_control_token(PCtxtHandle handle, PSecBufferDesc in) {
    if (!in || in->cBuffers != 1 || in->pBuffers[0].cbBuffer != sizeof(DWORD) ||
        *static_cast<const DWORD*>(in->pBuffers[0].pvBuffer) != SCHANNEL_SHUTDOWN)
        return SEC_E_INTERNAL_ERROR;
    context_of(handle)->shutting_down = true;
    return SEC_E_OK;
}

SECURITY_STATUS query(PCtxtHandle handle, ULONG attribute, void* buffer) {
    if (!context_of(handle)->established) return SEC_E_INTERNAL_ERROR;
    switch (attribute) {
    case SECPKG_ATTR_STREAM_SIZES:
        *static_cast<SecPkgContext_StreamSizes*>(buffer) = {HEADER, TRAILER_ROOM, 16384, 4, 1};
        return SEC_E_OK;
    case SECPKG_ATTR_CONNECTION_INFO: {
        // Resting until just before, so as to be running when the tick starts.
        while (GetTickCount64() + 2 < script.told_at)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        while (GetTickCount64() < script.told_at) {
        }
        SecPkgContext_ConnectionInfo info{};
        info.dwProtocol = system_defaults ? SP_PROT_TLS1_0_CLIENT : script.protocol;
        *static_cast<SecPkgContext_ConnectionInfo*>(buffer) = info;
        return SEC_E_OK;
    }
    case SECPKG_ATTR_REMOTE_CERT_CONTEXT: {
        auto* certificate = new CERT_CONTEXT{};
        certificate->hCertStore = certificate;
        log_book.open++;
        *static_cast<PCCERT_CONTEXT*>(buffer) = certificate;
        return SEC_E_OK;
    }
    default:
        return SEC_E_INTERNAL_ERROR;
    }
}

SECURITY_STATUS free_buffer(void* buffer) {
    std::free(buffer);
    log_book.open--;
    return SEC_E_OK;
}

// Seals in place: the header names the record; the trailer takes two bytes
// of its room, and its buffer says so, as a block cipher's padding does.
SECURITY_STATUS encrypt(PCtxtHandle handle, ULONG, PSecBufferDesc message, ULONG) {
    if (!context_of(handle)->established || !message || message->cBuffers < 3 || script.seal_fails)
        return SEC_E_INTERNAL_ERROR;
    SecBuffer* b = message->pBuffers;
    if (b[0].BufferType != SECBUFFER_STREAM_HEADER || b[0].cbBuffer < HEADER ||
        b[1].BufferType != SECBUFFER_DATA || b[1].cbBuffer > 16384 ||
        b[2].BufferType != SECBUFFER_STREAM_TRAILER || b[2].cbBuffer < TRAILER)
        return SEC_E_INTERNAL_ERROR;
    auto* header = static_cast<char*>(b[0].pvBuffer);
    header[0] = 'd';
    header[1] = char(b[1].cbBuffer >> 8);
    header[2] = char(b[1].cbBuffer);
    log_book.sealed.append(static_cast<const char*>(b[1].pvBuffer), b[1].cbBuffer);
    std::memcpy(b[2].pvBuffer, "~~", TRAILER);
    b[0].cbBuffer = HEADER;
    b[2].cbBuffer = TRAILER;
    return SEC_E_OK;
}

// Decrypts the first record in place, as SChannel does: header, data and
// trailer buffers over the record, the rest as an extra buffer.
SECURITY_STATUS decrypt(PCtxtHandle handle, PSecBufferDesc message, ULONG, ULONG*) {
    if (!context_of(handle)->established || !message || message->cBuffers != 4 ||
        message->pBuffers[0].BufferType != SECBUFFER_DATA)
        return SEC_E_INTERNAL_ERROR;
    SecBuffer* b = message->pBuffers;
    char* bytes = static_cast<char*>(b[0].pvBuffer);
    const ULONG length = b[0].cbBuffer;
    ULONG missing = 0;
    const ULONG size = whole_record(bytes, length, &missing);
    if (size == 0) return incomplete(&b[1], missing);
    const char type = bytes[0];
    if (type == 'a' && !script.wine) return SEC_I_CONTEXT_EXPIRED;
    // A handshake message after the handshake: DecryptMessage takes its
    // record and answers SEC_I_RENEGOTIATE, with the records after it as
    // SECBUFFER_EXTRA, for the handshake function to be called next (curl
    // issue 18983: so for each TLS 1.3 session ticket, and OpenSSL sends
    // two; Microsoft, "Recognizing a Request to Renegotiate a Connection").
    if (type == 't' || type == 'k') {
        Context* c = context_of(handle);
        c->message_taken = true;
        if (script.protocol & SP_PROT_TLS1_3_CLIENT) {
            log_book.post_handshake++;
            c->update_asked = c->update_asked || type == 'k';
        }
        b[0] = {HEADER, SECBUFFER_STREAM_HEADER, bytes};
        b[1] = {0, SECBUFFER_DATA, bytes + HEADER};
        b[2] = {size - HEADER, SECBUFFER_STREAM_TRAILER, bytes + HEADER};
        b[3] = {0, SECBUFFER_EMPTY, nullptr};
        set_extra(&b[3], length - size);
        return SEC_I_RENEGOTIATE;
    }
    if (type != 'd' && type != 'a') return SEC_E_DECRYPT_FAILURE;
    const ULONG payload = type == 'a' ? 0 : size - HEADER; // Wine: the alert holds no data
    b[0] = {HEADER, SECBUFFER_STREAM_HEADER, bytes};
    b[1] = {payload, SECBUFFER_DATA, bytes + HEADER};
    b[2] = {0, SECBUFFER_STREAM_TRAILER, bytes + size};
    b[3] = {0, SECBUFFER_EMPTY, nullptr};
    set_extra(&b[3], length - size);
    return SEC_E_OK;
}

BOOL get_chain(HCERTCHAINENGINE, PCCERT_CONTEXT certificate, FILETIME*, HCERTSTORE store,
               PCERT_CHAIN_PARA parameters, DWORD, void*, PCCERT_CHAIN_CONTEXT* chain) {
    if (!certificate || store != certificate->hCertStore || !parameters || !chain) return false;
    log_book.chains++;
    log_book.retrieval_timeout = parameters->dwUrlRetrievalTimeout;
    const CERT_USAGE_MATCH& usage = parameters->RequestedUsage;
    wrong_usage = !script.server_usage && usage.dwType == USAGE_MATCH_TYPE_AND &&
                  usage.Usage.cUsageIdentifier == 1 &&
                  std::strcmp(usage.Usage.rgpszUsageIdentifier[0], szOID_PKIX_KP_SERVER_AUTH) == 0;
    *chain = new CERT_CHAIN_CONTEXT{sizeof(CERT_CHAIN_CONTEXT)};
    log_book.open++;
    return true;
}

BOOL verify_policy(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain, PCERT_CHAIN_POLICY_PARA parameters,
                   PCERT_CHAIN_POLICY_STATUS status) {
    if (policy != CERT_CHAIN_POLICY_SSL || !chain || !parameters || !status) return false;
    const auto* https = static_cast<const HTTPSPolicyCallbackData*>(parameters->pvExtraPolicyPara);
    if (!https) return false;
    // A structure without its size is not read: then no name is checked.
    const bool read = https->cbStruct >= sizeof *https;
    if (read && (https->dwAuthType != AUTHTYPE_SERVER || !https->pwszServerName)) return false;
    if (read)
        for (const WCHAR* c = https->pwszServerName; *c; c++)
            log_book.checked_name += char(*c < 0x80 ? *c : '?');
    // Errors of the checks the caller asks to skip are not reported.
    const DWORD skipped = read ? https->fdwChecks : 0;
    const auto reported = [skipped](DWORD error) {
        const bool skip = (error == DWORD(CERT_E_UNTRUSTEDROOT) && skipped & 0x100) ||
                          (error == DWORD(CERT_E_WRONG_USAGE) && skipped & 0x200) ||
                          (error == DWORD(CERT_E_CN_NO_MATCH) && skipped & 0x1000) ||
                          (error == DWORD(CERT_E_EXPIRED) && skipped & 0x2000);
        return skip ? 0 : error;
    };
    status->dwError =
        reported(wrong_usage ? DWORD(CERT_E_WRONG_USAGE)
                 : !read && script.policy_error == DWORD(CERT_E_CN_NO_MATCH) ? 0
                                                                             : script.policy_error);
    return true;
}

void free_chain(PCCERT_CHAIN_CONTEXT chain) {
    delete chain;
    log_book.open--;
}

BOOL free_certificate(PCCERT_CONTEXT certificate) {
    delete certificate;
    log_book.open--;
    return true;
}

TlsProvider provider{
    acquire,       free_credentials, initialize,       delete_context, apply_control_token,
    query,         free_buffer,      encrypt,          decrypt,        get_chain,
    verify_policy, free_chain,       free_certificate, false};

} // namespace

std::string tls_record(char type, const std::string& payload) {
    std::string r(1, type);
    r += char(payload.size() >> 8);
    r += char(payload.size() & 0xFF);
    return r + payload;
}

std::string tls_client_bytes(int flights, const std::string& plaintext) {
    std::string bytes = CLIENT_HELLO;
    for (int i = 0; i < flights; i++)
        bytes += "flight";
    return bytes + "finished" + tls_record('d', plaintext) + "~~";
}

ScriptedTls::ScriptedTls(TlsScript s) : previous_(install_tls_provider(&provider)) {
    reset(s);
}

ScriptedTls::~ScriptedTls() {
    install_tls_provider(previous_);
}

TlsLog& ScriptedTls::log() {
    return log_book;
}

void ScriptedTls::reset(TlsScript s) {
    script = s;
    provider.closing_alert_as_empty_record = s.wine;
    log_book = TlsLog{};
}

} // namespace kt
