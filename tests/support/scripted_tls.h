// A scripted stand-in for SChannel and the certificate chain, for the host
// build: it answers the TLS session's calls as Microsoft documents that
// Windows does, for TLS 1.2 and TLS 1.3, over server bytes the test writes
// in a small record format of its own (no cryptography):
//
//   a type byte, a 2-byte big-endian payload length, the payload.
//
//   'h' a handshake flight that asks for another client flight
//   'f' the server's last handshake flight
//   'd' application data; the payload is the plaintext
//   't' a handshake message after the handshake: under TLS 1.3 a session
//       ticket, under TLS 1.2 a request for a new handshake
//   'k' under TLS 1.3, a key update that asks for the client's own, which
//       goes back as "update"
//   'a' the closing alert
//
// DecryptMessage takes a 't' or 'k' record and answers SEC_I_RENEGOTIATE;
// the handshake function called next hands what follows back untouched, as
// Windows 10 and 11 do (the sources are beside the code). Anything else
// fails to decrypt. The client's first token ends in an empty
// line, so that the loopback HTTP test server, which reads a request head
// before it plays its reply, hears it. Free of GoogleTest: the fuzz target
// uses it too.
#pragma once

#include <cstdint>
#include <string>

#include "net/tls_provider.h"

namespace kt {

std::string tls_record(char type, const std::string& payload = "");
// The client's bytes on the wire: its first token, a token for each 'h'
// flight, its last handshake token, then the plaintext sealed in records.
std::string tls_client_bytes(int flights, const std::string& plaintext);

struct TlsScript {
    DWORD protocol = SP_PROT_TLS1_3_CLIENT; // what the handshake agrees
    bool modern_credentials = true;         // SCH_CREDENTIALS known (Windows 10 1809 on)
    bool classic_tls13 = true;              // SCHANNEL_CRED may ask for TLS 1.3
    DWORD policy_error = 0;                 // the SSL policy's verdict on the chain
    bool server_usage = true;               // the certificate may serve TLS servers
    bool wine = false;                      // the closing alert comes as an empty record
    uint32_t hello_size = 0;                // a first token padded to this length
    bool seal_fails = false;                // EncryptMessage fails
    uint64_t told_at = 0;                   // the tick at whose start the protocol is told
};

// What the session did with the provider.
struct TlsLog {
    DWORD credential_version = 0; // of the credentials that were granted
    DWORD credential_flags = 0;   // and their flags
    std::string sealed;           // every plaintext byte EncryptMessage sealed
    int new_handshakes = 0;       // handshakes started after the first
    int post_handshake = 0;       // TLS 1.3 messages taken after the handshake
    int closing_alerts = 0;       // alerts the client made
    int chains = 0;               // chains built
    DWORD retrieval_timeout = 0;  // the last chain build's, in ms
    std::string target;           // the name the handshake was begun for
    std::string checked_name;     // the name the SSL policy was asked to check
    int open = 0;                 // credentials, contexts, buffers, certificates, chains not freed
};

// Installs the scripted provider for its lifetime (one at a time).
class ScriptedTls {
  public:
    explicit ScriptedTls(TlsScript script);
    ~ScriptedTls();
    ScriptedTls(const ScriptedTls&) = delete;
    ScriptedTls& operator=(const ScriptedTls&) = delete;
    TlsLog& log();
    void reset(TlsScript script); // a new script and a fresh log

  private:
    const TlsProvider* previous_;
};

} // namespace kt
