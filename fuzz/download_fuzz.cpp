// Fuzz target: arbitrary server bytes, split at arbitrary points, reach
// download_file through a real loopback connection. The download must not
// crash or touch memory it does not own, and its result must be the number
// of bytes in the file (no file and 0 on failure).
//
// Input: byte 0 = number of split points (low 2 bits), then two bytes per
// split point (an offset into the response), then the response itself.
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

namespace {

const std::string& target_path() {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("kestrin-fuzz-" + std::to_string(getpid())))
            .string();
    return path;
}

void set_up_once() {
    static bool done = false;
    if (done) return;
    done = true;
    main_heap = HeapCreate(0, 4096, 0);
    string_engine_start();
    network_start();
}

[[noreturn]] void fail(const char* what, long long a, long long b) {
    std::fprintf(stderr, "download_fuzz: %s (%lld, %lld)\n", what, a, b);
    std::abort();
}

} // namespace

// Inputs that produced a file, for the drivers' summaries.
long fuzz_files_written;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    set_up_once();
    if (size == 0) return 0;
    size_t splits = data[0] & 3, at = 1;
    std::vector<size_t> cuts;
    for (size_t i = 0; i < splits && at + 1 < size; i++, at += 2)
        cuts.push_back(size_t(data[at]) << 8 | data[at + 1]);
    if (at > size) at = size;
    const std::string response(reinterpret_cast<const char*>(data + at), size - at);

    // One server for every input: a listener per input would use up the
    // loopback ports (their connections linger in TIME_WAIT).
    static kt::HttpTestServer server({}, [] {
        kt::ServerOptions o;
        o.persistent = true;
        return o;
    }());
    static const std::string url = server.base_url() + "/f";
    static size_t played = 0;
    if (!server.listening()) fail("no loopback server", 0, 0);

    std::remove(target_path().c_str());
    server.add_reply(kt::split_reply(response, cuts, 1));
    const int32_t count = download_file(url.c_str(), target_path().c_str());
    if (!server.wait_played(++played)) fail("reply not played", long(played), 0);
    std::error_code ec;
    const bool exists = std::filesystem::exists(target_path(), ec);
    const long long length = exists ? (long long)std::filesystem::file_size(target_path(), ec) : 0;
    if (count < 0) fail("negative result", count, 0);
    if (!exists && count != 0) fail("result without a file", count, 0);
    if (exists && length != count) fail("result differs from the file's length", count, length);
    if (size_t(count) > response.size()) fail("more bytes than the server sent", count, 0);
    if (exists) fuzz_files_written++;
    std::remove(target_path().c_str());
    return 0;
}
