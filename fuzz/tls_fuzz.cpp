// Fuzz target: the TLS session's SChannel code against the scripted provider
// (tests/support/scripted_tls.h), whose answers follow the server's bytes,
// split at arbitrary points, through an https download over a real loopback
// connection. Nothing may crash or touch memory it does not own; every
// handle the provider gives out is released; no new handshake is started;
// a session the provider reports as older than TLS 1.2, or whose
// certificate the policy refuses, carries no request; and the result is the
// number of bytes in the file (no file and 0 on failure).
//
// Input: byte 0 chooses the script (bits 0-1: TLS 1.3, 1.2, 1.1, 1.0; bit 2:
// Wine's closing alert; bit 3: an expired certificate; bits 4-5: number of
// split points), then two bytes per split point, then the server's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/runtime.h"
#include "core/strings.h"
#include "http/download.h"
#include "net/network.h"
#include "tests/support/http_test_server.h"
#include "tests/support/scripted_tls.h"

namespace {

const std::string& target_path() {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("kestrin-tls-fuzz-" + std::to_string(getpid())))
            .string();
    return path;
}

[[noreturn]] void fail(const char* what, long long a, long long b) {
    std::fprintf(stderr, "tls_fuzz: %s (%lld, %lld)\n", what, a, b);
    std::abort();
}

constexpr DWORD PROTOCOLS[] = {SP_PROT_TLS1_3_CLIENT, SP_PROT_TLS1_2_CLIENT, SP_PROT_TLS1_1_CLIENT,
                               SP_PROT_TLS1_0_CLIENT};

} // namespace

// Inputs that produced a file, for the drivers' summaries.
long fuzz_files_written;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = [] {
        main_heap = HeapCreate(0, 4096, 0);
        string_engine_start();
        return network_start() == 1;
    }();
    if (!started) fail("network not started", 0, 0);
    if (size == 0) return 0;
    kt::TlsScript script;
    script.protocol = PROTOCOLS[data[0] & 3];
    script.wine = (data[0] & 4) != 0;
    if (data[0] & 8) script.policy_error = DWORD(CERT_E_EXPIRED);
    const bool refused = (data[0] & 2) != 0 || (data[0] & 8) != 0;
    size_t splits = (data[0] >> 4) & 3, at = 1;
    std::vector<size_t> cuts;
    for (size_t i = 0; i < splits && at + 1 < size; i++, at += 2)
        cuts.push_back(size_t(data[at]) << 8 | data[at + 1]);
    if (at > size) at = size;
    const std::string bytes(reinterpret_cast<const char*>(data + at), size - at);

    // One server for every input: a listener per input would use up the
    // loopback ports (their connections linger in TIME_WAIT).
    static kt::HttpTestServer server({}, [] {
        kt::ServerOptions o;
        o.persistent = true;
        return o;
    }());
    static const std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/f";
    static size_t played = 0;
    static kt::ScriptedTls tls{script};
    if (!server.listening()) fail("no loopback server", 0, 0);

    tls.reset(script);
    std::remove(target_path().c_str());
    server.add_reply(kt::split_reply(bytes, cuts, 1));
    const int32_t count = download_file(url.c_str(), target_path().c_str(), nullptr, 5);
    if (!server.wait_played(++played)) fail("reply not played", long(played), 0);
    std::error_code ec;
    const bool exists = std::filesystem::exists(target_path(), ec);
    const long long length = exists ? (long long)std::filesystem::file_size(target_path(), ec) : 0;
    const kt::TlsLog& log = tls.log();
    if (log.open != 0) fail("provider handles left open", log.open, 0);
    if (log.new_handshakes != 0) fail("a new handshake was started", log.new_handshakes, 0);
    if (refused && (!log.sealed.empty() || count != 0))
        fail("a refused session carried the request", long(log.sealed.size()), count);
    if (count < 0) fail("negative result", count, 0);
    if (!exists && count != 0) fail("result without a file", count, 0);
    if (exists && length != count) fail("result differs from the file's length", count, length);
    if (size_t(count) > bytes.size()) fail("more bytes than the server sent", count, 0);
    if (exists) fuzz_files_written++;
    std::remove(target_path().c_str());
    return 0;
}
